// Numeric conversions and the formatter, numbers under a comma locale, folder rules and typed configuration reads.
#include <gtest/gtest.h>

#include <clocale>
#include <cmath>
#include <cstdarg>
#include <cstdio>
#include <limits>
#include <string>
#include <utility>
#include <vector>

#include "frame/conv.h"
#include "frame/ini_cfg.h"
#include "support/temp_dir.h"
#include "test_system_para_fixture.h"

namespace qztest {
namespace {

TEST(Conversions, ParsesFollowTheCRuntimeRealToIntegerSaturatesAndShiftCountsAreMasked) {
  struct IntCase { const char* text; int32_t value; } ints[] = {
      {"12", 12},          {"  -7", -7},        {"+5", 5},           {"12.7", 12},
      {"0x10", 0},         {"abc", 0},          {"", 0},             {"\t 42xyz", 42},
      {"2147483647", 2147483647},               {"2147483648", std::numeric_limits<int32_t>::max()},
      {"-2147483648", std::numeric_limits<int32_t>::min()},
      {"-99999999999999999999", std::numeric_limits<int32_t>::min()},
      {"99999999999999999999", std::numeric_limits<int32_t>::max()}, {"- 5", 0},          {"--5", 0},
  };
  for (const IntCase& c : ints) EXPECT_EQ(CrtAtoi(c.text), c.value) << '"' << c.text << '"';
  struct RealCase { const char* text; double value; } reals[] = {
      {"0.5abc", 0.5}, {"  -1.25", -1.25}, {"+3", 3.0},   {"1e3", 1000.0}, {"2.5E-1x", 0.25},
      {"abc", 0.0},    {"", 0.0},          {".5", 0.5},   {"7.", 7.0},     {"60.00000000", 60.0},
      {"1,5", 1.0},    {"--1", 0.0},       {"1e999", std::numeric_limits<double>::infinity()}, {"1e-999", 0.0},
  };
  for (const RealCase& c : reals) EXPECT_EQ(CrtAtof(c.text), c.value) << '"' << c.text << '"';
  EXPECT_TRUE(std::isnan(CrtAtof("nan")));
  // Reals to integers saturate and map NaN to zero.
  const double inf = std::numeric_limits<double>::infinity();
  const double nan = std::numeric_limits<double>::quiet_NaN();
  constexpr int32_t kMin32 = std::numeric_limits<int32_t>::min(), kMax32 = std::numeric_limits<int32_t>::max();
  const std::pair<double, int32_t> to32[] = {{12.9, 12}, {-12.9, -12}, {nan, 0}, {inf, kMax32}, {-inf, kMin32},
                                             {3e9, kMax32}, {2147483647.0, 2147483647}};
  for (const auto& [v, want] : to32) EXPECT_EQ(RealToInt32(v), want) << v;
  const std::pair<double, uint32_t> toU32[] = {{-1.0, 0}, {4294967295.0, 4294967295u}, {4294967296.0, 4294967295u},
                                               {nan, 0}};
  for (const auto& [v, want] : toU32) EXPECT_EQ(RealToUInt32(v), want) << v;
  EXPECT_EQ(std::tuple(RealToInt64(1e30), RealToInt64(-1e30), RealToUInt16(70000.0)),
            std::tuple(std::numeric_limits<int64_t>::max(), std::numeric_limits<int64_t>::min(), 65535));
  // Shift counts are masked.
  for (const auto& [n, want] : {std::pair{5, 5u}, {32, 0u}, {33, 1u}, {-1, 31u}}) EXPECT_EQ(ShiftCount(n), want) << n;
}

int FormatInto(char* buf, size_t size, const char* fmt, ...) QZ_PRINTF(3, 4);
int FormatInto(char* buf, size_t size, const char* fmt, ...) {
  va_list ap;
  va_start(ap, fmt);
  int n = VFormat(buf, size, fmt, ap);
  va_end(ap);
  return n;
}

// The formatter walks the format itself: each directive must come out as printf writes it.
TEST(Conversions, FormatFollowsPrintfGrowsPastItsFirstBufferAndCutsIntoABuffer) {
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
  // Longer texts than the first buffer holds.
  const std::string big(3000, 'x');
  EXPECT_EQ(StrFormat("%s|%d", big.c_str(), 7), big + "|7");
  EXPECT_EQ(StrFormat("%.400f", 1.0), "1." + std::string(400, '0'));
  // Formatted into a buffer: the text cut, its length counted whole.
  char buf[6] = "xxxxx";
  EXPECT_EQ(FormatInto(buf, sizeof buf, "%s=%.2f", "abc", 1.5), 8);
  EXPECT_STREQ(buf, "abc=1");
  EXPECT_EQ(FormatInto(nullptr, 0, "%d", 12345), 5);
  int at = 0;
  EXPECT_EQ(FormatInto(buf, sizeof buf, "ab%nc", &at), 3);
  EXPECT_EQ(at, 2);
}

// ---- numbers under a comma locale

class CommaLocaleTest : public SystemParaTest {
 protected:
  void SetUp() override {
    SystemParaTest::SetUp();
    if (HasFatalFailure()) return;
    const char* current = std::setlocale(LC_ALL, nullptr);
    saved = current ? current : "C";
    for (const char* name : {"de_DE.UTF-8", "de_DE.utf8", "German_Germany.1252", "de-DE"}) {
      if (!std::setlocale(LC_ALL, name)) continue;
      char probe[16];
      std::snprintf(probe, sizeof probe, "%.1f", 0.5);
      if (std::string(probe) == "0,5") return;
    }
    std::setlocale(LC_ALL, saved.c_str());
    GTEST_SKIP() << "no locale with a comma as decimal separator (scripts/install-deps makes one)";
  }
  void TearDown() override {
    std::setlocale(LC_ALL, saved.c_str());
    SystemParaTest::TearDown();
  }

  std::string saved;
};

// The formatter's paths (log lines take the same) and the configuration's reads.
TEST_F(CommaLocaleTest, TextsAndConfigurationRealsKeepTheDot) {
  struct Case { std::string got; const char* want; } cases[] = {
      {StrFormat("size=%.3fMB dt=%.1f n=%d", 1.5, 12.5, 7), "size=1.500MB dt=12.5 n=7"},
      {StrFormat("%.8f|%Lf", 0.6, 2.5L), "0.60000000|2.500000"}, {StrFormat("%'d", 1234567), "1234567"},
  };
  for (const Case& c : cases) EXPECT_EQ(c.got, c.want);
  WriteCfg("[HARDWARE]\ndbLostRatio2Link=0.25\n");
  EXPECT_EQ(g_MainCfg.GetDouble("HARDWARE", "dbLostRatio2Link", 1, 0.1), 0.25);
  EXPECT_EQ(ReadMainDouble("HARDWARE", "dbMissing", -1234.5), -1234.5);  // the default, written and read
}

// ---- the configuration's folders and typed reads

TEST(FolderRules, PerCardAndPlainFolders) {
  struct Case { const char* moduleDir; const char* config; const char* logDir; } cases[] = {
      {"E:/A/QuenloDLL3/", "E:/A/ini/Quenlo3/QZMarkPara.cfg", "E:/A/LOG/Card3/"},
      {"E:/B/bin/", "E:/B/bin/ini/QZMarkPara.cfg", "E:/B/bin/LOG/Card/"},
      // A folder named exactly QuenloDLL: the character after the marker is the separator itself.
      {"E:/A/QuenloDLL/", "E:/A/ini/Quenlo//QZMarkPara.cfg", "E:/A/LOG/Card//"},
      // The first occurrence decides.
      {"E:/QuenloDLL1/QuenloDLL2/", "E:/ini/Quenlo1/QZMarkPara.cfg", "E:/LOG/Card1/"},
      // The search is case-sensitive and needs the separator before the marker.
      {"E:/A/quenlodll3/", "E:/A/quenlodll3/ini/QZMarkPara.cfg", "E:/A/quenlodll3/LOG/Card/"},
      {"E:/AQuenloDLL3/", "E:/AQuenloDLL3/ini/QZMarkPara.cfg", "E:/AQuenloDLL3/LOG/Card/"},
      {"/opt/mark/QuenloDLLx7/", "/opt/mark/ini/Quenlox/QZMarkPara.cfg", "/opt/mark/LOG/Cardx/"},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(ResolveConfigPath(NativePath(c.moduleDir), "QZMarkPara.cfg"), NativePath(c.config)) << c.moduleDir;
    EXPECT_EQ(ResolveLogDir(NativePath(c.moduleDir)), NativePath(c.logDir)) << c.moduleDir;
  }
  // Long paths are not cut.
  const std::string d300(300, 'd'), f40(40, 'f');
  EXPECT_EQ(ResolveConfigPath(NativePath("/" + d300 + "/QuenloDLL5/"), f40 + ".cfg"),
            NativePath("/" + d300 + "/ini/Quenlo5/" + f40 + ".cfg"));
}

using IniCfgTest = LibFolderTest;

TEST_F(IniCfgTest, TypedReadsConvertLikeTheCRuntime) {
  WriteFile("ini/t.cfg", "[Main]\nint=12.7\nreal=0.5abc\nempty=\n");
  CIniCfg cfg("t.cfg");
  EXPECT_EQ(cfg.GetInt("Main", "empty", 99), 0);      // present but empty: 0, not the default
  EXPECT_EQ(cfg.GetInt("Main", "missing", 99), 99);
  EXPECT_EQ(cfg.GetInt("Main", "int", 99, 0), 99);    // bRead 0 never touches the file
  EXPECT_DOUBLE_EQ(cfg.GetDouble("Main", "missing", 1, 0.3), 0.3);
  EXPECT_DOUBLE_EQ(cfg.GetDouble("Main", "real", 0, 7.0), 7.0);
  WriteMainCfgInt("Main", "nBufDataCheckType", -2);  // a negative number written as it reads back
  EXPECT_EQ(ReadMainInt("Main", "nBufDataCheckType", 0), -2);
}

}  // namespace
}  // namespace qztest
