#include "cgi/query.h"

#include <string.h>

static int hex_digit(unsigned char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

// One left-to-right pass; a byte produced by decoding is never decoded again.
static void url_decode_in_place(char* s) {
    char* w = s;
    const char* r = s;
    while (*r) {
        if (*r == '+') {
            *w++ = ' ';
            r++;
        } else if (*r == '%') {
            const int hi = hex_digit(static_cast<unsigned char>(r[1]));
            const int lo = hi < 0 ? -1 : hex_digit(static_cast<unsigned char>(r[2]));
            if (lo < 0) {
                *w++ = *r++;
            } else {
                *w++ = static_cast<char>(hi * 16 + lo);
                r += 3;
            }
        } else {
            *w++ = *r++;
        }
    }
    *w = '\0';
}

int get_query_val(const char* query, const char* key, char* out, size_t capacity) {
    out[0] = '\0';
    if (!query || !*query) return 0;
    const size_t klen = strlen(key);
    const char* pos = query;
    for (;;) {
        if (strncmp(pos, key, klen) == 0 && pos[klen] == '=') break;
        const char* amp = strchr(pos, '&');
        if (!amp || amp[1] == '\0') return 0;
        pos = amp + 1;
    }
    const char* v = pos + klen + 1;
    size_t n = 0;
    while (n + 1 < capacity && v[n] && v[n] != '&') {
        out[n] = v[n];
        n++;
    }
    out[n] = '\0';
    url_decode_in_place(out);
    return 1;
}
