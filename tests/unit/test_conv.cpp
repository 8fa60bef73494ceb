#include <gtest/gtest.h>

#include <cmath>
#include <cstdarg>
#include <limits>
#include <utility>

#include "frame/conv.h"

namespace {

TEST(Conversions, IntegerParseFollowsTheCRuntime) {
  struct Case { const char* text; int32_t value; } cases[] = {
      {"12", 12},          {"  -7", -7},        {"+5", 5},           {"12.7", 12},
      {"0x10", 0},         {"abc", 0},          {"", 0},             {"\t 42xyz", 42},
      {"2147483647", 2147483647},               {"2147483648", std::numeric_limits<int32_t>::max()},
      {"-2147483648", std::numeric_limits<int32_t>::min()},
      {"-99999999999999999999", std::numeric_limits<int32_t>::min()},
      {"99999999999999999999", std::numeric_limits<int32_t>::max()}, {"- 5", 0},          {"--5", 0},
  };
  for (const Case& c : cases) EXPECT_EQ(CrtAtoi(c.text), c.value) << '"' << c.text << '"';
}

TEST(Conversions, RealParseIsLocaleIndependentAndStopsAtTheFirstOtherCharacter) {
  struct Case { const char* text; double value; } cases[] = {
      {"0.5abc", 0.5}, {"  -1.25", -1.25}, {"+3", 3.0},   {"1e3", 1000.0}, {"2.5E-1x", 0.25},
      {"abc", 0.0},    {"", 0.0},          {".5", 0.5},   {"7.", 7.0},     {"60.00000000", 60.0},
      {"1,5", 1.0},    {"--1", 0.0},       {"1e999", std::numeric_limits<double>::infinity()}, {"1e-999", 0.0},
  };
  for (const Case& c : cases) EXPECT_EQ(CrtAtof(c.text), c.value) << '"' << c.text << '"';
  EXPECT_TRUE(std::isnan(CrtAtof("nan")));
}

TEST(Conversions, RealToIntegerSaturatesAndMapsNanToZeroAndShiftCountsAreMasked) {
  const double inf = std::numeric_limits<double>::infinity();
  const double nan = std::numeric_limits<double>::quiet_NaN();
  constexpr int32_t kMin32 = std::numeric_limits<int32_t>::min(), kMax32 = std::numeric_limits<int32_t>::max();
  const std::pair<double, int32_t> to32[] = {{12.9, 12}, {-12.9, -12}, {nan, 0}, {inf, kMax32}, {-inf, kMin32},
                                             {3e9, kMax32}, {2147483647.0, 2147483647}};
  for (const auto& [v, want] : to32) EXPECT_EQ(RealToInt32(v), want) << v;
  const std::pair<double, uint32_t> toU32[] = {{-1.0, 0}, {4294967295.0, 4294967295u}, {4294967296.0, 4294967295u},
                                               {nan, 0}};
  for (const auto& [v, want] : toU32) EXPECT_EQ(RealToUInt32(v), want) << v;
  EXPECT_EQ(RealToInt64(1e30), std::numeric_limits<int64_t>::max());
  EXPECT_EQ(RealToInt64(-1e30), std::numeric_limits<int64_t>::min());
  EXPECT_EQ(RealToUInt16(70000.0), 65535);
  // Shift counts are masked.
  for (const auto& [n, want] : {std::pair{5, 5u}, {32, 0u}, {33, 1u}, {-1, 31u}}) EXPECT_EQ(ShiftCount(n), want) << n;
}

TEST(Conversions, FormatGrowsPastItsFirstBuffer) {
  std::string big(3000, 'x');
  EXPECT_EQ(StrFormat("%s|%d", big.c_str(), 7), big + "|7");
  EXPECT_EQ(StrFormat("%.8f", 60.0), "60.00000000");
  EXPECT_EQ(StrFormat("%.400f", 1.0), "1." + std::string(400, '0'));
}

// The formatter walks the format itself: each directive must come out as printf writes it.
TEST(Conversions, FormatFollowsPrintf) {
  const double inf = std::numeric_limits<double>::infinity();
  const double nan = std::numeric_limits<double>::quiet_NaN();
  const char fixed[8] = {'a', 'b', 'c', 'd', 'e', 'f', 'g', 'h'};  // no terminating NUL
  struct Case { std::string got; const char* want; } cases[] = {
      {StrFormat("%d|%5d|%-5d|%05d|%+d|% d|%.3d", 42, 42, 42, -42, 42, 42, 7), "42|   42|42   |-0042|+42| 42|007"},
      {StrFormat("%x|%#X|%o|%u|%lld|%zu|%hhd|%ld", 255u, 255u, 8u, 4294967295u, -1234567890123LL, size_t{5},
                 static_cast<signed char>(-56), -7L),
       "ff|0XFF|10|4294967295|-1234567890123|5|-56|-7"},
      {StrFormat("%s|%6s|%-6s|%.2s|%.8s|%c|%3c|%%", "abc", "ab", "ab", "abc", fixed, 'q', 'r'),
       "abc|    ab|ab    |ab|abcdefgh|q|  r|%"},
      {StrFormat("%*d|%-*d|%*.*f|%.*f", 4, 1, -4, 2, 7, 2, 3.14159, -1, 2.5), "   1|2   |   3.14|2.500000"},
      {StrFormat("%f|%.0f|%.0f|%.2f|%.3f|%f", 0.6, 0.5, 1.5, 2.675, -0.0005, 1e20),
       "0.600000|0|2|2.67|-0.001|100000000000000000000.000000"},
      {StrFormat("%e|%.0E|%g|%g|%g|%.3g|%G", 12345.678, 5e-7, 100000.0, 1000000.0, 0.0001, 3.14159, 1e-5),
       "1.234568e+04|5E-07|100000|1e+06|0.0001|3.14|1E-05"},
      {StrFormat("%#g|%#.3g|%#.0e|%#.0f|%#x", 1.0, 0.0001, 3.0, 2.0, 0u), "1.00000|0.000100|3.e+00|2.|0"},
      {StrFormat("%a|%A|%.1a|%a|%010.1f|%-+8.1f|", 1.0, -0.5, 1.0, 0.1, -1.5, 2.0),
       "0x1p+0|-0X1P-1|0x1.0p+0|0x1.999999999999ap-4|-0000001.5|+2.0    |"},
      {StrFormat("%f|%F|%5.1f|%05f|%+e|%g", inf, -inf, nan, inf, inf, -nan), "inf|-INF|  nan|  inf|+inf|-nan"},
      {StrFormat("%Lf|%8.2Lf|%-8.1Le|", 2.5L, -1.25L, 1e10L), "2.500000|   -1.25|1.0e+10 |"},
  };
  for (const Case& c : cases) EXPECT_EQ(c.got, c.want);
}

int FormatInto(char* buf, size_t size, const char* fmt, ...) QZ_PRINTF(3, 4);
int FormatInto(char* buf, size_t size, const char* fmt, ...) {
  va_list ap;
  va_start(ap, fmt);
  int n = VFormat(buf, size, fmt, ap);
  va_end(ap);
  return n;
}

TEST(Conversions, FormatIntoABufferCutsTheTextAndCountsItWhole) {
  char buf[6] = "xxxxx";
  EXPECT_EQ(FormatInto(buf, sizeof buf, "%s=%.2f", "abc", 1.5), 8);
  EXPECT_STREQ(buf, "abc=1");
  EXPECT_EQ(FormatInto(nullptr, 0, "%d", 12345), 5);
  int at = 0;
  EXPECT_EQ(FormatInto(buf, sizeof buf, "ab%nc", &at), 3);
  EXPECT_EQ(at, 2);
}

}  // namespace
