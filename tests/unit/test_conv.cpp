#include <gtest/gtest.h>

#include <cmath>
#include <limits>

#include "frame/conv.h"

namespace {

TEST(Conversions, IntegerParseFollowsTheCRuntime) {
  struct Case {
    const char* text;
    int32_t value;
  } cases[] = {
      {"12", 12},          {"  -7", -7},        {"+5", 5},           {"12.7", 12},
      {"0x10", 0},         {"abc", 0},          {"", 0},             {"\t 42xyz", 42},
      {"2147483647", 2147483647},               {"2147483648", std::numeric_limits<int32_t>::max()},
      {"-2147483648", std::numeric_limits<int32_t>::min()},
      {"-99999999999999999999", std::numeric_limits<int32_t>::min()},
      {"99999999999999999999", std::numeric_limits<int32_t>::max()},
      {"- 5", 0},          {"--5", 0},
  };
  for (const Case& c : cases) EXPECT_EQ(CrtAtoi(c.text), c.value) << '"' << c.text << '"';
}

TEST(Conversions, RealParseIsLocaleIndependentAndStopsAtTheFirstOtherCharacter) {
  struct Case {
    const char* text;
    double value;
  } cases[] = {
      {"0.5abc", 0.5}, {"  -1.25", -1.25}, {"+3", 3.0},   {"1e3", 1000.0}, {"2.5E-1x", 0.25},
      {"abc", 0.0},    {"", 0.0},          {".5", 0.5},   {"7.", 7.0},     {"60.00000000", 60.0},
      {"1,5", 1.0},    {"--1", 0.0},       {"1e999", std::numeric_limits<double>::infinity()},
      {"1e-999", 0.0},
  };
  for (const Case& c : cases) EXPECT_EQ(CrtAtof(c.text), c.value) << '"' << c.text << '"';
  EXPECT_TRUE(std::isnan(CrtAtof("nan")));
}

TEST(Conversions, RealToIntegerSaturatesAndMapsNanToZero) {
  const double inf = std::numeric_limits<double>::infinity();
  const double nan = std::numeric_limits<double>::quiet_NaN();
  EXPECT_EQ(RealToInt32(12.9), 12);
  EXPECT_EQ(RealToInt32(-12.9), -12);
  EXPECT_EQ(RealToInt32(nan), 0);
  EXPECT_EQ(RealToInt32(inf), std::numeric_limits<int32_t>::max());
  EXPECT_EQ(RealToInt32(-inf), std::numeric_limits<int32_t>::min());
  EXPECT_EQ(RealToInt32(3e9), std::numeric_limits<int32_t>::max());
  EXPECT_EQ(RealToInt32(2147483647.0), 2147483647);
  EXPECT_EQ(RealToUInt32(-1.0), 0u);
  EXPECT_EQ(RealToUInt32(4294967295.0), 4294967295u);
  EXPECT_EQ(RealToUInt32(4294967296.0), 4294967295u);
  EXPECT_EQ(RealToUInt32(nan), 0u);
  EXPECT_EQ(RealToInt64(1e30), std::numeric_limits<int64_t>::max());
  EXPECT_EQ(RealToInt64(-1e30), std::numeric_limits<int64_t>::min());
  EXPECT_EQ(RealToUInt16(70000.0), 65535);
}

TEST(Conversions, ShiftCountsAreMasked) {
  EXPECT_EQ(ShiftCount(5), 5u);
  EXPECT_EQ(ShiftCount(32), 0u);
  EXPECT_EQ(ShiftCount(33), 1u);
  EXPECT_EQ(ShiftCount(-1), 31u);
}

TEST(Conversions, FormatGrowsPastItsFirstBuffer) {
  std::string big(3000, 'x');
  EXPECT_EQ(StrFormat("%s|%d", big.c_str(), 7), big + "|7");
  EXPECT_EQ(StrFormat("%.8f", 60.0), "60.00000000");
}

}  // namespace
