// json_str on any bytes: the output is one JSON string in valid UTF-8, and it decodes to the
// input with each ill-formed UTF-8 part replaced by U+FFFD (the reference repair of utf8_repair.h).
#include <stdint.h>
#include <stdlib.h>
#include <string.h>

#include <string>
#include <vector>

#include "cgi/response.h"
#include "fuzz/json_check.h"
#include "fuzz/stdout_capture.h"
#include "fuzz/utf8_repair.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static stdout_capture capture;
    std::string input;
    const std::string out = capture_text_writer(&capture, data, size, &input, [](const char* text) { json_str(text); });

    std::vector<uint32_t> cps;
    if (!utf8_strict_decode(out, &cps)) abort();  // not valid UTF-8
    size_t at = 0;
    std::vector<uint32_t> decoded;
    if (!json_string_decode(cps, &at, &decoded) || at != cps.size()) abort();  // not one JSON string
    if (decoded != reference_repair(input)) abort();  // decodes to something else
    return 0;
}
