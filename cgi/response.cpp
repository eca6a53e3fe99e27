#include "cgi/response.h"

#include <stdio.h>
#include <string.h>

void write_text(const char* text) { fwrite(text, 1, strlen(text), stdout); }

void json_header() { write_text(JSON_HEADER_BLOCK); }

static void put_replacement() { fwrite("\xEF\xBF\xBD", 1, 3, stdout); }

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

// Length of the well-formed UTF-8 sequence at `s` (2 to 4), or the negative length of its
// maximal ill-formed subpart (-1 to -3), following the Unicode replacement practice.
static int utf8_sequence(const unsigned char* s) {
    const unsigned char lead = s[0];
    int len;
    unsigned char lo = 0x80, hi = 0xBF;  // allowed range of the second byte
    if (lead >= 0xC2 && lead <= 0xDF) {
        len = 2;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
        len = 3;
        if (lead == 0xE0) lo = 0xA0;       // no overlong forms
        if (lead == 0xED) hi = 0x9F;       // no encoded surrogates
    } else if (lead >= 0xF0 && lead <= 0xF4) {
        len = 4;
        if (lead == 0xF0) lo = 0x90;       // no overlong forms
        if (lead == 0xF4) hi = 0x8F;       // nothing above U+10FFFF
    } else {
        return -1;  // stray continuation byte, C0, C1, F5..FF
    }
    if (s[1] < lo || s[1] > hi) return -1;
    for (int i = 2; i < len; i++) {
        if (s[i] < 0x80 || s[i] > 0xBF) return -i;
    }
    return len;
}

void json_str(const char* text) {
    const unsigned char* s = reinterpret_cast<const unsigned char*>(text);
    putchar('"');
    while (*s) {
        if (*s < 0x80) {
            put_escaped_ascii(*s++);
            continue;
        }
        const int n = utf8_sequence(s);
        if (n > 0) {
            fwrite(s, 1, static_cast<size_t>(n), stdout);
            s += n;
        } else {
            put_replacement();
            s += -n;
        }
    }
    putchar('"');
}
