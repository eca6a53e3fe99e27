#include "cgi/response.h"

#include <stdio.h>
#include <string.h>

#include "cgi/utf8.h"

void write_text(const char* text) { fwrite(text, 1, strlen(text), stdout); }

void json_header() { write_text(JSON_HEADER_BLOCK); }

void exposition_header() { write_text(EXPOSITION_HEADER_BLOCK); }

static void put_escaped_ascii(unsigned char c) {
    switch (c) {
        case '"': fwrite("\\\"", 1, 2, stdout); return;
        case '\\': fwrite("\\\\", 1, 2, stdout); return;
        case '\n': fwrite("\\n", 1, 2, stdout); return;
        case '\r': fwrite("\\r", 1, 2, stdout); return;
        case '\t': fwrite("\\t", 1, 2, stdout); return;
        default: break;
    }
    if (c < 0x20) {
        printf("\\u%04x", c);
    } else {
        putchar(c);
    }
}

void json_str(const char* text) {
    const unsigned char* s = reinterpret_cast<const unsigned char*>(text);
    putchar('"');
    while (*s) {
        if (*s < 0x80) {
            put_escaped_ascii(*s++);
            continue;
        }
        s = put_utf8_sequence(s);
    }
    putchar('"');
}
