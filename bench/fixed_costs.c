// One part of a paint of an icon at a time, for bench/fixed_costs to time as whole runs:
//   fixed_costs none              nothing (the start and end of a program)
//   fixed_costs detect            one libdeflate call: its CPU feature detection
//   fixed_costs compress ROWS     that, and ROWS (a PNG's filtered rows) compressed as cliptint
//                                 does, libdeflate's level 6, a new compressor
//   fixed_costs file OUT BYTES    a new file of BYTES bytes made as cliptint makes OUT: an
//                                 unnamed file in OUT's folder, named OUT once written
#define _GNU_SOURCE
#include <fcntl.h>
#include <libdeflate.h>
#include <libgen.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>
#include <unistd.h>

enum { kMaxRows = 1 << 20 };

static int compress(const char* path) {
    static unsigned char rows[kMaxRows];
    static unsigned char out[kMaxRows + 4096];
    const int fd = open(path, O_RDONLY | O_CLOEXEC);
    const ssize_t size = fd < 0 ? -1 : read(fd, rows, sizeof rows);
    if (size <= 0 || close(fd) != 0) return 1;
    struct libdeflate_compressor* compressor = libdeflate_alloc_compressor(6);
    if (compressor == NULL) return 1;
    const size_t written =
        libdeflate_zlib_compress(compressor, rows, (size_t)size, out, sizeof out);
    libdeflate_free_compressor(compressor);
    return written == 0;
}

static int makeFile(const char* path, long bytes) {
    static unsigned char data[1 << 16];
    if (bytes < 0 || bytes > (long)sizeof data) return 1;
    char folder[4096];
    snprintf(folder, sizeof folder, "%s", path);
    const int fd = open(dirname(folder), O_WRONLY | O_CLOEXEC | O_TMPFILE, 0600);
    if (fd < 0) return 1;
    char self[64];
    snprintf(self, sizeof self, "/proc/self/fd/%d", fd);
    const mode_t mask = umask(0);
    umask(mask);
    if (fchmod(fd, 0666 & ~mask) != 0 || write(fd, data, (size_t)bytes) != bytes ||
        linkat(AT_FDCWD, self, AT_FDCWD, path, AT_SYMLINK_FOLLOW) != 0) {
        return 1;
    }
    return close(fd) != 0;
}

int main(int argc, char** argv) {
    const char* part = argc > 1 ? argv[1] : "";
    if (strcmp(part, "none") == 0) return 0;
    if (strcmp(part, "detect") == 0) return libdeflate_crc32(0, "", 0) != 0;
    if (strcmp(part, "compress") == 0 && argc == 3) {
        return libdeflate_crc32(0, "", 0) != 0 || compress(argv[2]);
    }
    if (strcmp(part, "file") == 0 && argc == 4) return makeFile(argv[2], atol(argv[3]));
    fprintf(stderr, "usage: fixed_costs none|detect|compress ROWS|file OUT BYTES\n");
    return 2;
}
