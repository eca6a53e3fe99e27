// json_str on any bytes: the output is one JSON string in valid UTF-8, and it decodes to the
// input with each ill-formed UTF-8 part replaced by U+FFFD. The reference repair below is the
// byte-at-a-time decoder of the WHATWG Encoding Standard, which replaces maximal subparts.
#include <stdint.h>
#include <stdlib.h>
#include <string.h>

#include <string>
#include <vector>

#include "cgi/response.h"
#include "fuzz/json_check.h"
#include "fuzz/stdout_capture.h"

static std::vector<uint32_t> reference_repair(const std::string& bytes) {
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

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static stdout_capture capture;
    const std::string input(reinterpret_cast<const char*>(data), strnlen(reinterpret_cast<const char*>(data), size));
    char* text = static_cast<char*>(malloc(input.size() + 1));  // exact size for AddressSanitizer
    memcpy(text, input.c_str(), input.size() + 1);

    capture.begin();
    json_str(text);
    const std::string out = capture.end();
    free(text);

    std::vector<uint32_t> cps;
    if (!utf8_strict_decode(out, &cps)) abort();  // not valid UTF-8
    size_t at = 0;
    std::vector<uint32_t> decoded;
    if (!json_string_decode(cps, &at, &decoded) || at != cps.size()) abort();  // not one JSON string
    if (decoded != reference_repair(input)) abort();  // decodes to something else
    return 0;
}
