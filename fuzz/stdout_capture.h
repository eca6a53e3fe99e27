#pragma once
// Standard output of the code under test goes to an in-memory file; each input starts it
// empty and reads back what was written. libFuzzer itself reports on standard error.
#include <stdio.h>
#include <stdlib.h>
#include <sys/mman.h>
#include <unistd.h>

#include <string>

class stdout_capture {
public:
    stdout_capture() {
        fflush(stdout);
        const int fd = memfd_create("fuzz_stdout", 0);
        if (fd < 0 || dup2(fd, STDOUT_FILENO) < 0) abort();
        close(fd);
    }

    void begin() {
        fflush(stdout);
        if (ftruncate(STDOUT_FILENO, 0) != 0) abort();
        rewind(stdout);
    }

    std::string end() {
        fflush(stdout);
        std::string out;
        char buf[65536];
        off_t at = 0;
        for (;;) {
            const ssize_t n = pread(STDOUT_FILENO, buf, sizeof buf, at);
            if (n < 0) abort();
            if (n == 0) break;
            out.append(buf, static_cast<size_t>(n));
            at += n;
        }
        return out;
    }
};
