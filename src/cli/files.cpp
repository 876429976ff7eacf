#include "cli/files.hpp"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <utility>

#include "sys/calls.hpp"
#include "sys/fd.hpp"
#include "sys/io.hpp"

namespace cliptint {

namespace {

std::string directoryOf(const std::string& path) {
    const auto slash = path.rfind('/');
    if (slash == std::string::npos) return ".";
    if (slash == 0) return "/";
    return path.substr(0, slash);
}

// Follows symbolic links (dangling ones too) to the path of the file they name, so that the
// picture replaces that file rather than the link.
std::optional<std::string> resolveLinks(std::string path) {
    constexpr int kMaxHops = 40;  // as the kernel's own ELOOP limit
    for (int hop = 0; hop < kMaxHops; ++hop) {
        struct stat info {};
        if (::lstat(path.c_str(), &info) != 0 || !S_ISLNK(info.st_mode)) return path;
        std::string target(PATH_MAX, '\0');
        const ssize_t length = ::readlink(path.c_str(), target.data(), target.size());
        if (length <= 0 || length >= static_cast<ssize_t>(target.size())) return std::nullopt;
        target.resize(static_cast<std::size_t>(length));
        path = target.front() == '/' ? target : directoryOf(path) + "/" + target;
    }
    return std::nullopt;
}

mode_t newFileMode() {
    const mode_t mask = ::umask(0);
    ::umask(mask);
    return 0666 & ~mask;
}

// Writes straight into an existing special file such as /dev/stdout or a FIFO, which cannot be
// replaced by renaming.
Result<void> writeInPlace(const std::string& path, std::span<const std::uint8_t> bytes) {
    OwnedFd fd(sys::open(path.c_str(), O_WRONLY | O_TRUNC | O_CLOEXEC));
    if (!fd || !writeAll(fd.get(), bytes) || !fd.close()) {
        return std::unexpected("write");
    }
    return {};
}

// The file that the new one replaces: its mode, its owner and its group.
using Replaced = std::optional<struct stat>;

// A replaced file's owner, group and mode go over to the new file, as far as this process may
// set them (as editors do): any process may give its file a group it belongs to, only a
// privileged one another owner. A new file gets the mode that open(2) would give it.
bool takeOver(int fd, const Replaced& replaced) {
    if (!replaced) return sys::fchmod(fd, newFileMode()) == 0;
    // The owner first: changing it clears the set-user-ID and set-group-ID bits.
    if (sys::fchown(fd, replaced->st_uid, replaced->st_gid) != 0) {
        sys::fchown(fd, static_cast<uid_t>(-1), replaced->st_gid);
    }
    return sys::fchmod(fd, replaced->st_mode & 07777) == 0;
}

// Power loss is the other way to lose a file. When the rename replaces a file (say a picture
// painted in place), the new bytes are synced before it: some file systems may otherwise commit
// the rename before the data and leave neither the old picture nor the new one. A new path has
// nothing to lose, so it is not synced, and neither is the folder: if the rename itself is lost,
// path still names a whole file, the old one. A sync costs milliseconds on a busy disk, which
// matters to a loop over thousands of icons.
bool store(int fd, const Replaced& replaced, std::span<const std::uint8_t> bytes) {
    return takeOver(fd, replaced) && writeAll(fd, bytes) && (!replaced || sys::fsync(fd) == 0);
}

Result<void> renameOver(const std::string& temporary, const std::string& path) {
    if (sys::rename(temporary.c_str(), path.c_str()) == 0) return {};
    ::unlink(temporary.c_str());
    return std::unexpected("write");
}

// The picture goes into a file without a name in path's folder, which is named only once it is
// whole, so that a run killed before leaves nothing behind: a new path is the file's first name,
// and a file to be replaced is renamed over from a name of its own, the two calls apart.
// nullopt where the folder's file system makes no such file: the named way then writes again.
std::optional<Result<void>> replaceUnnamed(const std::string& path, const Replaced& replaced,
                                           std::span<const std::uint8_t> bytes) {
    constexpr int kNames = 100;  // names of stale temporaries tried past
    OwnedFd fd(sys::openUnnamed(directoryOf(path).c_str(), 0600));
    if (!fd) return std::nullopt;
    if (!store(fd.get(), replaced, bytes)) return std::unexpected("write");
    if (!replaced && sys::linkUnnamed(fd.get(), path.c_str()) == 0) {
        if (fd.close()) return Result<void>{};
        ::unlink(path.c_str());
        return std::unexpected("write");
    }
    const std::string stem = directoryOf(path) + "/.cliptint-" + std::to_string(::getpid()) + "-";
    for (int n = 0; n < kNames; ++n) {
        const std::string temporary = stem + std::to_string(n);
        if (sys::linkUnnamed(fd.get(), temporary.c_str()) == 0) {
            if (fd.close()) return renameOver(temporary, path);
            ::unlink(temporary.c_str());
            return std::unexpected("write");
        }
        if (errno != EEXIST) return std::nullopt;
    }
    return std::unexpected("write");
}

// Writes the bytes to a new file beside path and renames it over path, so that path names either
// its old file or the whole new one, even if this process dies half way. Where no file can be
// made without a name, the new file has one from the start, and a run killed while it writes
// leaves that file behind.
Result<void> replaceByRename(const std::string& path, const Replaced& replaced,
                             std::span<const std::uint8_t> bytes) {
    if (auto unnamed = replaceUnnamed(path, replaced, bytes)) return *unnamed;
    std::string temporary = directoryOf(path) + "/.cliptint-XXXXXX";
    OwnedFd fd(sys::mkstemp(temporary.data()));
    if (!fd) return std::unexpected("write");
    if (!store(fd.get(), replaced, bytes) || !fd.close()) {
        ::unlink(temporary.c_str());
        return std::unexpected("write");
    }
    return renameOver(temporary, path);
}

}  // namespace

Result<std::optional<Bytes>> readPictureFile(const std::string& path, std::int64_t maxBytes) {
    OwnedFd fd(sys::open(path.c_str(), O_RDONLY | O_CLOEXEC));
    if (!fd) return std::nullopt;
    struct stat info {};
    if (::fstat(fd.get(), &info) != 0 || S_ISDIR(info.st_mode)) return std::nullopt;

    const bool regular = S_ISREG(info.st_mode);
    if (regular && info.st_size > maxBytes) return std::unexpected("picture size");

    // No deadline: a FIFO named on the command line is fed by the caller, who decides.
    auto data = readBounded(fd.get(), {.maxBytes = maxBytes,
                                       .sizeHint = regular ? info.st_size : 0,
                                       .stall = std::nullopt,
                                       .deadline = Deadline::max()});
    if (data) return std::move(*data);
    if (data.error() == ReadError::tooLarge) return std::unexpected("picture size");
    if (data.error() == ReadError::memory) return std::unexpected("memory");
    return std::nullopt;
}

Result<void> writeFileAtomically(const std::string& path, std::span<const std::uint8_t> bytes) {
    struct stat info {};
    const bool exists = ::stat(path.c_str(), &info) == 0;
    if (exists) {
        if (S_ISDIR(info.st_mode)) return std::unexpected("write");
        if (!S_ISREG(info.st_mode)) return writeInPlace(path, bytes);
    } else if (errno != ENOENT) {
        return std::unexpected("write");
    }
    const auto target = resolveLinks(path);
    if (!target) return std::unexpected("write");
    struct stat resolved {};
    const bool found = ::stat(target->c_str(), &resolved) == 0;
    // A link of /proc/self/fd to a deleted file or a memory file reads as a name that is not the
    // file's ("/memfd:x (deleted)"): such a file has no name to rename over, so it is written
    // where it is, as a special file is, rather than a stray file made under that name.
    if (exists && (!found || resolved.st_dev != info.st_dev || resolved.st_ino != info.st_ino)) {
        return writeInPlace(path, bytes);
    }
    return replaceByRename(*target, found ? Replaced(resolved) : std::nullopt, bytes);
}

}  // namespace cliptint
