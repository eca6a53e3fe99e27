// label_value_str on any bytes: the output is one quoted label value in valid UTF-8 whose only
// escapes are \\, \" and \n, with no bare double quote or line feed inside, and it unescapes to
// the input with each ill-formed UTF-8 part replaced by U+FFFD.
#include <stdint.h>
#include <stdlib.h>
#include <string.h>

#include <string>
#include <vector>

#include "cgi/exposition_text.h"
#include "fuzz/json_check.h"
#include "fuzz/stdout_capture.h"
#include "fuzz/utf8_repair.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static stdout_capture capture;
    std::string input;
    const std::string out = capture_text_writer(&capture, data, size, &input, [](const char* text) { label_value_str(text); });

    std::vector<uint32_t> cps;
    if (!utf8_strict_decode(out, &cps)) abort();  // not valid UTF-8
    if (cps.size() < 2 || cps.front() != '"' || cps.back() != '"') abort();
    std::vector<uint32_t> value;
    for (size_t i = 1; i + 1 < cps.size(); i++) {
        const uint32_t c = cps[i];
        if (c == '"' || c == '\n') abort();  // would end the value or the line
        if (c != '\\') {
            value.push_back(c);
            continue;
        }
        if (i + 2 >= cps.size()) abort();  // an escape cut by the closing quote
        const uint32_t e = cps[++i];
        if (e == '\\' || e == '"') {
            value.push_back(e);
        } else if (e == 'n') {
            value.push_back('\n');
        } else {
            abort();  // no other escape exists
        }
    }
    if (value != reference_repair(input)) abort();
    return 0;
}
