// The figures of the two service speed tests for a report, run by hand: QZ_TestSpeed and
// QZ_TestOssSwitchSpeed through the exports of the loaded library against the simulated card, USB
// and PCIe, at 0 and 100 µs per exchange, with the monitor thread's passes off ([Main]
// bRecordInThread 0, bRecordCheck 0) and on (both 1, every 2 ms). One line per run: the buffer
// test's MB/s, the command test's commands/s and average ms, the switch's times beside the model's
// delays (2, 4 and 6 ms for its three bits). It is disabled because nothing is judged (the times
// are the machine's); it runs where the benchmarks are not built, under Wine too:
//   e2e_tests --gtest_also_run_disabled_tests --gtest_filter=*SpeedReport.*
#include <gtest/gtest.h>

#include <charconv>
#include <cstdio>
#include <string>
#include <tuple>

#include "e2e/card_host.h"

namespace {

class SpeedReport : public qztest::CardHost, public ::testing::WithParamInterface<std::tuple<int, uint32_t, bool>> {
 protected:
  // The number after `key` (searched from `from`) in `text`; -1 when absent.
  static double After(const std::string& text, const std::string& key, size_t from = 0) {
    const size_t at = text.find(key, from);
    if (at == std::string::npos) return -1.0;
    double v = -1.0;
    const char* p = text.c_str() + at + key.size();
    while (*p == ' ') ++p;
    std::from_chars(p, text.c_str() + text.size(), v);
    return v;
  }
  std::string LastBox() {
    const std::vector<std::string> boxes = lib->Boxes();
    return boxes.empty() ? std::string() : boxes.back();
  }
  void Run(int cardType, uint32_t latencyUs, bool monitor) {
    const std::string keys = monitor ? "bRecordInThread=1\nbRecordCheck=1\n" : "bRecordInThread=0\nbRecordCheck=0\n";
    Stage(cardType, "CardVertion=6\n" + keys);
    if (HasFatalFailure()) return;
    cardsim_set_card_version_(85);
    ASSERT_EQ(InitCard(), 0u);
    // Card tasks run once the card has taken the parameter file.
    ASSERT_EQ(SetFlag(qztest::kParaKey, 0), 0u);
    ASSERT_EQ(QZ(SetCardParaFile)(0), 0u);
    ASSERT_EQ(SetFlag(qztest::kParaKey, 0), 0u);
    cardsim_set_latency_us_(latencyUs);
    cardsim_oss oss{{3, 1, 4, 2}, 1, {2000, 4000, 6000}};
    ASSERT_EQ(cardsim_set_oss_(&oss), 0u);
    const auto testSpeed = lib->Get<decltype(&QZ_TestSpeed)>("QZ_TestSpeed");
    const auto testOss = lib->Get<decltype(&QZ_TestOssSwitchSpeed)>("QZ_TestOssSwitchSpeed");
    ASSERT_TRUE(testSpeed && testOss);
    ASSERT_EQ(testSpeed(), 0u) << LastBox() << "\n" << (ErrorLog().empty() ? "" : ErrorLog().back());
    const std::string speed = LastBox();
    const size_t commands = speed.find("Immediate command count");
    ASSERT_EQ(testOss(), 0u);
    const std::string oss2 = LastBox();
    std::printf("%-4s %4u us  monitor %-3s | buffer %7.1f MB/s | commands %8.1f /s, %.3f ms avg | switch "
                "planned %.1f, feedback %.1f, path 1 %.1f, path 4 %.1f ms\n",
                cardType == 0 ? "USB" : "PCIe", latencyUs, monitor ? "on" : "off", After(speed, "Speed:"),
                After(speed, "Speed:", commands), After(speed, "Average time spent"),
                After(oss2, "planning arrival time:"), After(oss2, "feedback arrival time:"),
                After(oss2, "from path 1 to path 1:"), After(oss2, "from path 4 to path 1:"));
    std::fflush(stdout);
    cardsim_set_latency_us_(0);
    CloseCard();
  }
};

TEST_P(SpeedReport, DISABLED_BoxFigures) { Run(std::get<0>(GetParam()), std::get<1>(GetParam()), std::get<2>(GetParam())); }

// USB and PCIe, 0 and 100 µs per exchange, the monitor off and on.
INSTANTIATE_TEST_SUITE_P(LinkLatencyMonitor, SpeedReport,
                         ::testing::Combine(::testing::Values(0, 1), ::testing::Values(0u, 100u), ::testing::Bool()));

}  // namespace
