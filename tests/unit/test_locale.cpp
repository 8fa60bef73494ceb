// Numbers under a host locale with a comma as decimal separator: texts, log lines, configuration
// reads and the link words derived from them keep the dot.
#include <clocale>
#include <cstdio>
#include <string>

#include "cardlink/link_config.h"
#include "support/fake_clock.h"
#include "support/staged_library.h"
#include "test_system_para_fixture.h"

namespace qztest {
namespace {

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

TEST_F(CommaLocaleTest, TextsAndLogLinesKeepTheDot) {
  struct Case { std::string got; const char* want; } cases[] = {
      {StrFormat("size=%.3fMB dt=%.1f n=%d", 1.5, 12.5, 7), "size=1.500MB dt=12.5 n=7"},
      {StrFormat("%g|%.2e|%G|%a", 0.6, 1234.5, 1e-5, 1.5), "0.6|1.23e+03|1E-05|0x1.8p+0"},
      {StrFormat("[%08.3f|%-7.2f|%+.0f|%#.0f]", -2.5, 0.25, 3.0, 3.0), "[-002.500|0.25   |+3|3.]"},
      {StrFormat("%.8f|%Lf", 0.6, 2.5L), "0.60000000|2.500000"}, {StrFormat("%'d", 1234567), "1234567"},
  };
  for (const Case& c : cases) EXPECT_EQ(c.got, c.want);

  FakeClock clock;
  clock.local = plat::LocalTime{2026, 3, 7, 13, 5, 9, 42, 6};
  CLogFile log;
  log.Init(dir.File("LOG/x.log"));
  log.Write("CMarkData2Fifo::SendFifoData", LOG_INFO, "gened nDdr=%.3f (Send=%.3f tm=%d)", 0.5, 1.25, 40);
  log.Close();
  auto lines = ReadLines(dir.File("LOG/x.log"));
  ASSERT_EQ(lines.size(), 1u);
  EXPECT_EQ(lines[0],
            "[INFO]   [2026-03-07 13:05:09.042] CMarkData2Fifo::SendFifoData:gened nDdr=0.500 (Send=1.250 tm=40)");
}

TEST_F(CommaLocaleTest, ConfigurationRealsKeepTheDot) {
  WriteCfg("[HARDWARE]\ndbLostRatio2Link=0.25\n");
  EXPECT_EQ(g_MainCfg.GetDouble("HARDWARE", "dbLostRatio2Fail", 1, 0.6), 0.6);  // missing: the default
  EXPECT_EQ(g_MainCfg.GetDouble("HARDWARE", "dbLostRatio2Link", 1, 0.1), 0.25);
  EXPECT_EQ(ReadMainDouble("HARDWARE", "dbMissing", -1234.5), -1234.5);
}

// A PCIe card with a secondary card and nothing configured: 512 * 0.6 and 512 * 0.1.
TEST_F(CommaLocaleTest, SecondaryCardLinkWordsFromTheDefaultRatios) {
  WriteCfg("[Main]\nCardType=1\n");
  InitParaLink(1);
  const CardLinkCfg& c = g_SystemPara.CardLinkCfg;
  EXPECT_EQ(c.bSlaveCard, 1);
  EXPECT_EQ(c.QualityPeriod, 512);
  EXPECT_EQ(c.nLostFail, 0x133);
  EXPECT_EQ(c.nLostLink, 0x33);
}

}  // namespace
}  // namespace qztest
