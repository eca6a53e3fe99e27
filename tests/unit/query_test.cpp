#include <gtest/gtest.h>

#include <string.h>
#include <string>

#include "case_name.h"
#include "cgi/query.h"

namespace {

struct QueryCase {
    const char* query;
    const char* key;
    size_t capacity;
    int found;
    std::string value;
};

class GetQueryVal : public testing::TestWithParam<QueryCase> {};

TEST_P(GetQueryVal, FindsCutsAndDecodes) {
    const QueryCase& c = GetParam();
    char out[512];
    memset(out, 'X', sizeof out);
    EXPECT_EQ(get_query_val(c.query, c.key, out, c.capacity), c.found);
    EXPECT_EQ(std::string(out), c.value);
    // Nothing beyond the capacity is touched.
    for (size_t i = c.capacity; i < sizeof out; i++) ASSERT_EQ(out[i], 'X') << "byte " << i;
}

const std::string kThirteenA(13, 'a');

INSTANTIATE_TEST_SUITE_P(
    Table, GetQueryVal,
    testing::Values(
        QueryCase{"embed=1", "embed", 16, 1, "1"},
        QueryCase{"a=1&embed=true&b=2", "embed", 16, 1, "true"},
        QueryCase{"x&embed=1", "embed", 16, 1, "1"},
        QueryCase{"xembed=1", "embed", 16, 0, ""},
        QueryCase{"embedded=1", "embed", 16, 0, ""},
        QueryCase{"embed", "embed", 16, 0, ""},
        QueryCase{"embed%3D1", "embed", 16, 0, ""},
        QueryCase{"%65mbed=1", "embed", 16, 0, ""},
        QueryCase{"embed=", "embed", 16, 1, ""},
        QueryCase{"embed=&x=1", "embed", 16, 1, ""},
        QueryCase{"embed=1&embed=0", "embed", 16, 1, "1"},
        QueryCase{"&&embed=1", "embed", 16, 1, "1"},
        QueryCase{"?embed=1", "embed", 16, 0, ""},
        QueryCase{"", "embed", 16, 0, ""},
        QueryCase{nullptr, "embed", 16, 0, ""},
        QueryCase{"x=1&", "embed", 16, 0, ""},
        QueryCase{"embed=a+b", "embed", 16, 1, "a b"},
        QueryCase{"embed=a%2Bb", "embed", 16, 1, "a+b"},
        QueryCase{"embed=%41%62", "embed", 16, 1, "Ab"},
        QueryCase{"embed=%4a%4A", "embed", 16, 1, "JJ"},
        QueryCase{"embed=%2541", "embed", 16, 1, "%41"},
        QueryCase{"embed=%%41", "embed", 16, 1, "%A"},
        QueryCase{"embed=%zz", "embed", 16, 1, "%zz"},
        QueryCase{"embed=%4", "embed", 16, 1, "%4"},
        QueryCase{"embed=%", "embed", 16, 1, "%"},
        QueryCase{"embed=%g1", "embed", 16, 1, "%g1"},
        QueryCase{"embed=a%00b", "embed", 16, 1, "a"},
        QueryCase{"embed=aaaaaaaaaaaaa%41", "embed", 16, 1, "aaaaaaaaaaaaa%4"},
        QueryCase{"embed=%41%41%41%41%41%41", "embed", 16, 1, "AAAAA"},
        QueryCase{"embed=abc", "embed", 2, 1, "a"},
        QueryCase{"pwd=s%26p&pwd=other", "pwd", 256, 1, "s&p"}),
    [](const testing::TestParamInfo<QueryCase>& p) {
        const QueryCase& c = p.param;
        return case_name(p.index, std::string(c.key) + " " + (c.query ? c.query : "null") + " cap" +
                                      std::to_string(c.capacity));
    });

TEST(GetQueryValLong, KeepsFirst255RawBytesOfPwd) {
    const std::string raw(300, 'p');
    const std::string query = "pwd=" + raw;
    char out[256];
    ASSERT_EQ(get_query_val(query.c_str(), "pwd", out, sizeof out), 1);
    EXPECT_EQ(std::string(out), raw.substr(0, 255));
}

}  // namespace
