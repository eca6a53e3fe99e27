#pragma once
// Standard output of the code under test goes to an in-memory file; each input starts it
// empty and reads back what was written. libFuzzer itself reports on standard error.
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
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

// Runs write(text) on the fuzz input up to its first NUL, held in a heap block of exactly its
// size so that AddressSanitizer sees any read past its end; returns that text in `input` and
// what was written.
template <typename Write>
std::string capture_text_writer(stdout_capture* capture, const uint8_t* data, size_t size, std::string* input,
                                Write write) {
    input->assign(reinterpret_cast<const char*>(data), strnlen(reinterpret_cast<const char*>(data), size));
    char* text = static_cast<char*>(malloc(input->size() + 1));
    memcpy(text, input->c_str(), input->size() + 1);
    capture->begin();
    write(text);
    std::string out = capture->end();
    free(text);
    return out;
}
