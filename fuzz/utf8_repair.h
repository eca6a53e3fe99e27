#pragma once
// The reference repair of any bytes to code points, each ill-formed UTF-8 part replaced by
// U+FFFD: the byte-at-a-time decoder of the WHATWG Encoding Standard, which replaces maximal
// subparts. Written apart from the program's own check, so that the two can be compared.
#include <stddef.h>
#include <stdint.h>

#include <string>
#include <vector>

inline std::vector<uint32_t> reference_repair(const std::string& bytes) {
    std::vector<uint32_t> out;
    uint32_t cp = 0;
    int needed = 0, seen = 0;
    uint8_t lower = 0x80, upper = 0xBF;
    for (size_t i = 0; i < bytes.size(); i++) {
        const uint8_t b = static_cast<uint8_t>(bytes[i]);
        if (needed == 0) {
            if (b <= 0x7F) {
                out.push_back(b);
            } else if (b >= 0xC2 && b <= 0xDF) {
                needed = 1;
                cp = b & 0x1F;
            } else if (b >= 0xE0 && b <= 0xEF) {
                if (b == 0xE0) lower = 0xA0;
                if (b == 0xED) upper = 0x9F;
                needed = 2;
                cp = b & 0x0F;
            } else if (b >= 0xF0 && b <= 0xF4) {
                if (b == 0xF0) lower = 0x90;
                if (b == 0xF4) upper = 0x8F;
                needed = 3;
                cp = b & 0x07;
            } else {
                out.push_back(0xFFFD);
            }
            continue;
        }
        if (b < lower || b > upper) {
            cp = 0;
            needed = seen = 0;
            lower = 0x80;
            upper = 0xBF;
            out.push_back(0xFFFD);
            i--;  // the byte starts afresh
            continue;
        }
        lower = 0x80;
        upper = 0xBF;
        cp = (cp << 6) | (b & 0x3F);
        if (++seen == needed) {
            out.push_back(cp);
            cp = 0;
            needed = seen = 0;
        }
    }
    if (needed != 0) out.push_back(0xFFFD);
    return out;
}
