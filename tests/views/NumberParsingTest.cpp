#include "platform/NumberParsing.h"

#include <gtest/gtest.h>

#include <limits>
#include <optional>
#include <string>

namespace {

struct WholeCase {
  const char* name;
  friend void PrintTo(const WholeCase& c, std::ostream* os) { *os << c.name; }
  std::string text;
  std::optional<int32_t> expected;
};

class ParseInt32Table : public testing::TestWithParam<WholeCase> {};

TEST_P(ParseInt32Table, ReadsOnlyWholeNumbersThatFit) {
  EXPECT_EQ(platform::ParseInt32(GetParam().text), GetParam().expected);
}

INSTANTIATE_TEST_SUITE_P(
    Texts, ParseInt32Table,
    testing::Values(
        WholeCase{"Plain", "123", 123}, WholeCase{"SpacesAround", "  42 ", 42},
        WholeCase{"Negative", "-3", -3}, WholeCase{"Plus", "+7", 7}, WholeCase{"Zero", "0", 0},
        WholeCase{"Empty", "", std::nullopt}, WholeCase{"OnlySpaces", "   ", std::nullopt},
        WholeCase{"LoneMinus", "-", std::nullopt}, WholeCase{"Letters", "abc", std::nullopt},
        WholeCase{"TrailingLetter", "12a", std::nullopt},
        WholeCase{"InnerSpace", "1 2", std::nullopt}, WholeCase{"DoubleSign", "--1", std::nullopt},
        WholeCase{"Max", "2147483647", std::numeric_limits<int32_t>::max()},
        WholeCase{"Min", "-2147483648", std::numeric_limits<int32_t>::min()},
        WholeCase{"JustAboveMax", "2147483648", std::nullopt},
        WholeCase{"JustBelowMin", "-2147483649", std::nullopt},
        WholeCase{"FarTooLong", "99999999999999999999999", std::nullopt},
        WholeCase{"LeadingZeros", "000000000000000000012", 12}),
    [](const auto& info) { return std::string(info.param.name); });

struct LeadingCase {
  const char* name;
  friend void PrintTo(const LeadingCase& c, std::ostream* os) { *os << c.name; }
  std::string text;
  bool found;
  bool overflow;
  int32_t value;
};

class ParseLeadingIntTable : public testing::TestWithParam<LeadingCase> {};

TEST_P(ParseLeadingIntTable, ReadsTheLeadingNumberAndFlagsOverflow) {
  const platform::LeadingInt result = platform::ParseLeadingInt(GetParam().text);
  EXPECT_EQ(result.found, GetParam().found);
  EXPECT_EQ(result.overflow, GetParam().overflow);
  EXPECT_EQ(result.value, GetParam().value);
}

INSTANTIATE_TEST_SUITE_P(
    Texts, ParseLeadingIntTable,
    testing::Values(LeadingCase{"Percent", "150%", true, false, 150},
                    LeadingCase{"SpacesAndSign", "  +7x", true, false, 7},
                    LeadingCase{"Negative", "-25 percent", true, false, -25},
                    LeadingCase{"NoDigits", "abc", false, false, 0},
                    LeadingCase{"LoneSign", "-%", false, false, 0},
                    LeadingCase{"Empty", "", false, false, 0},
                    LeadingCase{"OverflowUp", "99999999999%", true, true, 2147483647},
                    LeadingCase{"OverflowDown", "-99999999999", true, true, -2147483647 - 1},
                    LeadingCase{"Min", "-2147483648", true, false, -2147483647 - 1}),
    [](const auto& info) { return std::string(info.param.name); });

}  // namespace
