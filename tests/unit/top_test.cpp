#include <gtest/gtest.h>

#include "api/actions.h"
#include "case_name.h"
#include "cgi/gate.h"

namespace {

struct TopCase {
    const char* text;
    int top;
};

class ParseTop : public testing::TestWithParam<TopCase> {};

TEST_P(ParseTop, ReadsLikeAtoiWithinRange) { EXPECT_EQ(parse_top(GetParam().text), GetParam().top); }

INSTANTIATE_TEST_SUITE_P(
    Table, ParseTop,
    testing::Values(TopCase{"4096", 4096}, TopCase{"1", 1}, TopCase{"4097", 25}, TopCase{"5000", 25},
                    TopCase{"0", 25}, TopCase{"-1", 25}, TopCase{"abc", 25}, TopCase{"", 25},
                    TopCase{"7x", 7}, TopCase{"+12", 12}, TopCase{" \t12", 12}, TopCase{"0010", 10},
                    TopCase{"2147483648", 25}, TopCase{"99999999999999999999", 25},
                    TopCase{"-99999999999999999999", 25}, TopCase{"+-5", 25}),
    [](const testing::TestParamInfo<TopCase>& p) { return case_name(p.index, p.param.text); });

TEST(SecretEquals, AgreesWithPlainEquality) {
    const char* words[] = {"", "a", "b", "ab", "abc", "abd", "abcd", "s3cret", "s3cre", "S3cret"};
    for (const char* a : words) {
        for (const char* b : words) EXPECT_EQ(secret_equals(a, b), std::string(a) == b) << a << " vs " << b;
    }
}

}  // namespace
