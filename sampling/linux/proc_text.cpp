#include "sampling/linux/proc_text.h"

#include <string.h>

static bool is_blank(char ch) { return ch == ' ' || ch == '\t'; }
static bool is_digit(char ch) { return ch >= '0' && ch <= '9'; }
static size_t left(const text_cursor& c) { return c.p < c.end ? static_cast<size_t>(c.end - c.p) : 0; }

void skip_blanks(text_cursor* c) {
    while (c->p < c->end && is_blank(*c->p)) c->p++;
}

bool read_int(text_cursor* c, int64_t* value) {
    skip_blanks(c);
    const char* p = c->p;
    bool negative = false;
    if (p < c->end && (*p == '-' || *p == '+')) negative = *p++ == '-';
    if (p >= c->end || !is_digit(*p)) return false;
    uint64_t v = 0;
    const uint64_t limit = static_cast<uint64_t>(INT64_MAX);
    for (; p < c->end && is_digit(*p); p++) {
        const unsigned d = static_cast<unsigned>(*p - '0');
        v = v > (limit - d) / 10 ? limit : v * 10 + d;
    }
    c->p = p;
    *value = negative ? -static_cast<int64_t>(v) : static_cast<int64_t>(v);
    return true;
}

bool read_decimal(text_cursor* c, double* value) {
    skip_blanks(c);
    const char* p = c->p;
    if (p >= c->end || !is_digit(*p)) return false;
    double v = 0;
    for (; p < c->end && is_digit(*p); p++) v = v * 10 + (*p - '0');
    if (p < c->end && *p == '.') {
        double scale = 0.1;
        for (p++; p < c->end && is_digit(*p); p++) {
            v += (*p - '0') * scale;
            scale /= 10;
        }
    }
    c->p = p;
    *value = v;
    return true;
}

void skip_field(text_cursor* c) {
    skip_blanks(c);
    while (c->p < c->end && !is_blank(*c->p) && *c->p != '\n') c->p++;
}

bool next_line(text_cursor* c) {
    const void* lf = memchr(c->p, '\n', left(*c));
    if (!lf) {
        c->p = c->end;
        return false;
    }
    c->p = static_cast<const char*>(lf) + 1;
    return c->p < c->end;
}

bool take_key(text_cursor* c, const char* key) {
    const size_t n = strlen(key);
    if (left(*c) < n || memcmp(c->p, key, n) != 0) return false;
    const char* p = c->p + n;
    while (p < c->end && is_blank(*p)) p++;
    if (p >= c->end || *p != ':') return false;
    c->p = p + 1;
    return true;
}

size_t copy_cut(const char* text, size_t len, char* out, size_t capacity) {
    if (capacity == 0) return 0;
    size_t n = len < capacity - 1 ? len : capacity - 1;
    if (n < len) {
        // Back up over continuation bytes so that the sequence cut in two is dropped whole.
        size_t back = n;
        while (back > 0 && n - back < 3 && (static_cast<unsigned char>(text[back]) & 0xC0) == 0x80) back--;
        if ((static_cast<unsigned char>(text[n]) & 0xC0) == 0x80 && static_cast<unsigned char>(text[back]) >= 0xC0)
            n = back;
    }
    memcpy(out, text, n);
    out[n] = '\0';
    return n;
}

void copy_trimmed_line(text_cursor c, char* out, size_t capacity) {
    skip_blanks(&c);
    const void* lf = memchr(c.p, '\n', left(c));
    const char* stop = lf ? static_cast<const char*>(lf) : c.end;
    while (stop > c.p && (is_blank(stop[-1]) || stop[-1] == '\r')) stop--;
    copy_cut(c.p, static_cast<size_t>(stop - c.p), out, capacity);
}
