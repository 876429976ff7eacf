#include "cli/files.hpp"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdlib>
#include <utility>

namespace cliptint {

namespace {

class FileDescriptor {
  public:
    explicit FileDescriptor(int fd) : fd_(fd) {}
    FileDescriptor(const FileDescriptor&) = delete;
    FileDescriptor& operator=(const FileDescriptor&) = delete;
    ~FileDescriptor() {
        if (fd_ >= 0) ::close(fd_);
    }
    int get() const { return fd_; }
    // Closes now and tells whether the close succeeded; a failed close can mean lost data.
    bool close() { return ::close(std::exchange(fd_, -1)) == 0; }

  private:
    int fd_;
};

// Reads at most limit + 1 bytes, so that a source longer than the limit is noticed without
// reading it to its end. nullopt on a read error.
std::optional<Bytes> readBounded(int fd, std::int64_t limit, std::int64_t sizeHint) {
    Bytes data(static_cast<std::size_t>(std::min(sizeHint, limit) + 1));
    std::size_t filled = 0;
    while (true) {
        if (filled == data.size()) {
            if (static_cast<std::int64_t>(filled) > limit) return data;
            const auto grown = std::min<std::int64_t>(std::int64_t(data.size()) * 2, limit + 1);
            data.resize(static_cast<std::size_t>(grown));
        }
        const ssize_t got = ::read(fd, data.data() + filled, data.size() - filled);
        if (got < 0 && errno == EINTR) continue;
        if (got < 0) return std::nullopt;
        if (got == 0) break;
        filled += static_cast<std::size_t>(got);
    }
    data.resize(filled);
    return data;
}

bool writeAll(int fd, std::span<const std::uint8_t> bytes) {
    while (!bytes.empty()) {
        const ssize_t written = ::write(fd, bytes.data(), bytes.size());
        if (written < 0 && errno == EINTR) continue;
        if (written <= 0) return false;
        bytes = bytes.subspan(static_cast<std::size_t>(written));
    }
    return true;
}

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
    FileDescriptor fd(::open(path.c_str(), O_WRONLY | O_TRUNC | O_CLOEXEC));
    if (fd.get() < 0 || !writeAll(fd.get(), bytes) || !fd.close()) {
        return std::unexpected("write");
    }
    return {};
}

// Writes the bytes to a new file beside path and renames it over path, so that path names either
// its old file or the whole new one, even if this process dies half way.
//
// Power loss is the other way to lose a file. When the rename replaces a file (say a picture
// painted in place), the new bytes are synced before it: some file systems may otherwise commit
// the rename before the data and leave neither the old picture nor the new one. A new path has
// nothing to lose, so it is not synced, and neither is the folder: if the rename itself is lost,
// path still names a whole file, the old one. A sync costs milliseconds on a busy disk, which
// matters to a loop over thousands of icons.
Result<void> replaceByRename(const std::string& path, std::optional<mode_t> replacedMode,
                             std::span<const std::uint8_t> bytes) {
    std::string temporary = directoryOf(path) + "/.cliptint-XXXXXX";
    FileDescriptor fd(::mkstemp(temporary.data()));
    if (fd.get() < 0) return std::unexpected("write");
    const mode_t mode = replacedMode ? *replacedMode : newFileMode();
    const bool stored = ::fchmod(fd.get(), mode) == 0 && writeAll(fd.get(), bytes) &&
                        (!replacedMode || ::fsync(fd.get()) == 0) && fd.close() &&
                        ::rename(temporary.c_str(), path.c_str()) == 0;
    if (!stored) {
        ::unlink(temporary.c_str());
        return std::unexpected("write");
    }
    return {};
}

}  // namespace

Result<std::optional<Bytes>> readPictureFile(const std::string& path) {
    FileDescriptor fd(::open(path.c_str(), O_RDONLY | O_CLOEXEC));
    if (fd.get() < 0) return std::nullopt;
    struct stat info {};
    if (::fstat(fd.get(), &info) != 0 || S_ISDIR(info.st_mode)) return std::nullopt;

    constexpr std::int64_t kUnknownSizeHint = 1 << 16;
    const bool regular = S_ISREG(info.st_mode);
    if (regular && info.st_size > kMaxInputBytes) return std::unexpected("picture size");
    const std::int64_t hint = regular ? info.st_size : kUnknownSizeHint;

    auto data = readBounded(fd.get(), kMaxInputBytes, hint);
    if (data && static_cast<std::int64_t>(data->size()) > kMaxInputBytes) {
        return std::unexpected("picture size");
    }
    return data;
}

Result<void> writeFileAtomically(const std::string& path, std::span<const std::uint8_t> bytes) {
    struct stat info {};
    if (::stat(path.c_str(), &info) == 0) {
        if (S_ISDIR(info.st_mode)) return std::unexpected("write");
        if (!S_ISREG(info.st_mode)) return writeInPlace(path, bytes);
    } else if (errno != ENOENT) {
        return std::unexpected("write");
    }
    const auto target = resolveLinks(path);
    if (!target) return std::unexpected("write");
    std::optional<mode_t> replacedMode;
    if (::stat(target->c_str(), &info) == 0) replacedMode = info.st_mode & 07777;
    return replaceByRename(*target, replacedMode, bytes);
}

}  // namespace cliptint
