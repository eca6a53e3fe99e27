#include "cgi/utf8.h"

#include <stdio.h>

int utf8_sequence(const unsigned char* s) {
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

const unsigned char* put_utf8_sequence(const unsigned char* s) {
    const int n = utf8_sequence(s);
    if (n > 0) {
        fwrite(s, 1, static_cast<size_t>(n), stdout);
        return s + n;
    }
    fwrite(UTF8_REPLACEMENT, 1, 3, stdout);
    return s - n;
}
