#include "sampling/linux/proc_files.h"

#include <errno.h>
#include <fcntl.h>
#include <unistd.h>

long read_small(int root_fd, const char* path, char* buf, size_t cap) {
    const int fd = openat(root_fd, path, O_RDONLY | O_CLOEXEC | O_NOCTTY);
    if (fd < 0) return -1;
    ssize_t n;
    do {
        n = read(fd, buf, cap - 1);
    } while (n < 0 && errno == EINTR);
    close(fd);
    if (n < 0) return -1;
    buf[n] = '\0';
    return static_cast<long>(n);
}

// Like read_small, but keeps reading until the buffer is full or the file ends.
long read_whole(int root_fd, const char* path, char* buf, size_t cap) {
    const int fd = openat(root_fd, path, O_RDONLY | O_CLOEXEC | O_NOCTTY);
    if (fd < 0) return -1;
    size_t len = 0;
    while (len < cap - 1) {
        const ssize_t n = read(fd, buf + len, cap - 1 - len);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) break;
        len += static_cast<size_t>(n);
    }
    close(fd);
    buf[len] = '\0';
    return static_cast<long>(len);
}
