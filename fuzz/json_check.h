#pragma once
// Independent checkers for the fuzz targets: strict UTF-8, JSON strings and JSON values.
#include <stddef.h>
#include <stdint.h>

#include <string>
#include <vector>

// Strict UTF-8 to code points (shortest forms only, no surrogates, at most U+10FFFF).
inline bool utf8_strict_decode(const std::string& s, std::vector<uint32_t>* out) {
    size_t i = 0;
    while (i < s.size()) {
        const uint8_t b = static_cast<uint8_t>(s[i]);
        size_t n;
        uint32_t cp;
        if (b < 0x80) { n = 1; cp = b; }
        else if ((b & 0xE0) == 0xC0) { n = 2; cp = b & 0x1F; }
        else if ((b & 0xF0) == 0xE0) { n = 3; cp = b & 0x0F; }
        else if ((b & 0xF8) == 0xF0) { n = 4; cp = b & 0x07; }
        else return false;
        if (i + n > s.size()) return false;
        for (size_t k = 1; k < n; k++) {
            const uint8_t c = static_cast<uint8_t>(s[i + k]);
            if ((c & 0xC0) != 0x80) return false;
            cp = (cp << 6) | (c & 0x3F);
        }
        static const uint32_t least[5] = {0, 0, 0x80, 0x800, 0x10000};
        if (cp < least[n] || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) return false;
        out->push_back(cp);
        i += n;
    }
    return true;
}

// Decodes one JSON string (quotes included) starting at code point `i`; advances `i` past it.
// Rejects raw control characters, unknown escapes and unpaired surrogate escapes.
inline bool json_string_decode(const std::vector<uint32_t>& cps, size_t* i, std::vector<uint32_t>* out) {
    size_t p = *i;
    if (p >= cps.size() || cps[p] != '"') return false;
    p++;
    auto hex4 = [&](uint32_t* v) {
        if (p + 4 > cps.size()) return false;
        *v = 0;
        for (int k = 0; k < 4; k++) {
            const uint32_t c = cps[p++];
            int d;
            if (c >= '0' && c <= '9') d = static_cast<int>(c - '0');
            else if (c >= 'a' && c <= 'f') d = static_cast<int>(c - 'a' + 10);
            else if (c >= 'A' && c <= 'F') d = static_cast<int>(c - 'A' + 10);
            else return false;
            *v = *v * 16 + static_cast<uint32_t>(d);
        }
        return true;
    };
    while (p < cps.size()) {
        const uint32_t c = cps[p++];
        if (c == '"') { *i = p; return true; }
        if (c < 0x20) return false;
        if (c != '\\') { out->push_back(c); continue; }
        if (p >= cps.size()) return false;
        const uint32_t e = cps[p++];
        switch (e) {
            case '"': out->push_back('"'); break;
            case '\\': out->push_back('\\'); break;
            case '/': out->push_back('/'); break;
            case 'b': out->push_back('\b'); break;
            case 'f': out->push_back('\f'); break;
            case 'n': out->push_back('\n'); break;
            case 'r': out->push_back('\r'); break;
            case 't': out->push_back('\t'); break;
            case 'u': {
                uint32_t v;
                if (!hex4(&v)) return false;
                if (v >= 0xDC00 && v <= 0xDFFF) return false;
                if (v >= 0xD800 && v <= 0xDBFF) {
                    uint32_t lo;
                    if (p + 2 > cps.size() || cps[p] != '\\' || cps[p + 1] != 'u') return false;
                    p += 2;
                    if (!hex4(&lo) || lo < 0xDC00 || lo > 0xDFFF) return false;
                    v = 0x10000 + ((v - 0xD800) << 10) + (lo - 0xDC00);
                }
                out->push_back(v);
                break;
            }
            default: return false;
        }
    }
    return false;
}

// Validates one JSON value (RFC 8259 grammar, no surrounding white space) from code point `i`.
inline bool json_value(const std::vector<uint32_t>& c, size_t* i, int depth = 0) {
    if (depth > 64 || *i >= c.size()) return false;
    size_t p = *i;
    auto literal = [&](const char* word) {
        for (const char* w = word; *w; w++, p++) {
            if (p >= c.size() || c[p] != static_cast<uint32_t>(*w)) return false;
        }
        *i = p;
        return true;
    };
    auto ws = [&]() { while (p < c.size() && (c[p] == ' ' || c[p] == '\t' || c[p] == '\n' || c[p] == '\r')) p++; };
    const uint32_t first = c[p];
    if (first == '"') {
        std::vector<uint32_t> ignored;
        return json_string_decode(c, i, &ignored);
    }
    if (first == 't') return literal("true");
    if (first == 'f') return literal("false");
    if (first == 'n') return literal("null");
    if (first == '{' || first == '[') {
        const uint32_t close = first == '{' ? '}' : ']';
        p++;
        ws();
        if (p < c.size() && c[p] == close) { *i = p + 1; return true; }
        for (;;) {
            ws();
            if (first == '{') {
                std::vector<uint32_t> key;
                if (!json_string_decode(c, &p, &key)) return false;
                ws();
                if (p >= c.size() || c[p] != ':') return false;
                p++;
                ws();
            }
            if (!json_value(c, &p, depth + 1)) return false;
            ws();
            if (p >= c.size()) return false;
            if (c[p] == ',') { p++; continue; }
            if (c[p] != close) return false;
            *i = p + 1;
            return true;
        }
    }
    // number: -?(0|[1-9][0-9]*)(\.[0-9]+)?([eE][+-]?[0-9]+)?
    auto digit = [&](size_t k) { return k < c.size() && c[k] >= '0' && c[k] <= '9'; };
    if (p < c.size() && c[p] == '-') p++;
    if (!digit(p)) return false;
    if (c[p] == '0') p++;
    else while (digit(p)) p++;
    if (p < c.size() && c[p] == '.') {
        p++;
        if (!digit(p)) return false;
        while (digit(p)) p++;
    }
    if (p < c.size() && (c[p] == 'e' || c[p] == 'E')) {
        p++;
        if (p < c.size() && (c[p] == '+' || c[p] == '-')) p++;
        if (!digit(p)) return false;
        while (digit(p)) p++;
    }
    *i = p;
    return true;
}

// The whole text is exactly one JSON value in valid UTF-8.
inline bool is_one_json_document(const std::string& text) {
    std::vector<uint32_t> cps;
    if (!utf8_strict_decode(text, &cps)) return false;
    size_t i = 0;
    return json_value(cps, &i) && i == cps.size();
}
