#include <gtest/gtest.h>

#include <string>

#include "capture.h"
#include "case_name.h"
#include "cgi/response.h"

namespace {

struct JsonStrCase {
    std::string input;
    std::string written;
};

class JsonStr : public testing::TestWithParam<JsonStrCase> {};

TEST_P(JsonStr, EscapesAndKeepsOutputValidUtf8) {
    const JsonStrCase& c = GetParam();
    EXPECT_EQ(captured_stdout([&] { json_str(c.input.c_str()); }), c.written);
}

std::string json_case_name(const testing::TestParamInfo<JsonStrCase>& p) {
    return case_name(p.index, p.param.input);
}

const std::string R = "\xEF\xBF\xBD";  // U+FFFD

INSTANTIATE_TEST_SUITE_P(
    Escapes, JsonStr,
    testing::Values(JsonStrCase{"", "\"\""},
                    JsonStrCase{"a\"b", "\"a\\\"b\""},
                    JsonStrCase{"\\", "\"\\\\\""},
                    JsonStrCase{"\t\n\r", "\"\\t\\n\\r\""},
                    JsonStrCase{"\x01\x1b\x1f\x08\x0c", "\"\\u0001\\u001b\\u001f\\u0008\\u000c\""},
                    JsonStrCase{"/\x7f~", "\"/\x7f~\""}),
    json_case_name);

INSTANTIATE_TEST_SUITE_P(
    Utf8, JsonStr,
    testing::Values(
        JsonStrCase{"\xC3\xA9", "\"\xC3\xA9\""},                            // é
        JsonStrCase{"\xE4\xB8\xAD", "\"\xE4\xB8\xAD\""},                    // 中
        JsonStrCase{"\xF0\x9F\x98\x80", "\"\xF0\x9F\x98\x80\""},            // emoji
        JsonStrCase{"\xEF\xBF\xBF", "\"\xEF\xBF\xBF\""},                    // U+FFFF is well formed
        JsonStrCase{"\xF4\x8F\xBF\xBF", "\"\xF4\x8F\xBF\xBF\""},            // U+10FFFF
        JsonStrCase{"\xFF", "\"" + R + "\""},                               // lone byte
        JsonStrCase{"a\x80z", "\"a" + R + "z\""},                           // stray continuation
        JsonStrCase{"\xC3", "\"" + R + "\""},                               // truncated at the end
        JsonStrCase{"\xE4\xB8z", "\"" + R + "z\""},                         // truncated 3-byte: one U+FFFD
        JsonStrCase{"\xF0\x9F\x98z", "\"" + R + "z\""},                     // truncated 4-byte: one U+FFFD
        JsonStrCase{"\xC0\xAF", "\"" + R + R + "\""},                       // overlong '/'
        JsonStrCase{"\xE0\x80\xAF", "\"" + R + R + R + "\""},               // overlong 3-byte
        JsonStrCase{"\xED\xA0\x80", "\"" + R + R + R + "\""},               // encoded surrogate
        JsonStrCase{"\xF4\x90\x80\x80", "\"" + R + R + R + R + "\""},       // above U+10FFFF
        JsonStrCase{"\xF5\xC1", "\"" + R + R + "\""},
        JsonStrCase{"\xC3\xA9\xE9", "\"\xC3\xA9" + R + "\""}),
    json_case_name);

TEST(JsonHeader, IsTheExact107Bytes) {
    const std::string out = captured_stdout([] { json_header(); });
    EXPECT_EQ(out.size(), 107u);
    EXPECT_EQ(out,
              "Content-Type: application/json; charset=utf-8\r\nCache-Control: no-store\r\n"
              "X-Content-Type-Options: nosniff\r\n\r\n");
}

}  // namespace
