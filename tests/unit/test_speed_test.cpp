// The speed tests and the optical path switch test against the simulated card, under a clock whose
// performance counter moves on by a set step at every reading.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>

#include "cardlink/card_open.h"
#include "cardlink/card_wire.h"
#include "cardlink/portlane.h"
#include "cardlink/task_state.h"
#include "cardlink/task_table.h"
#include "frame/card_version.h"
#include "frame/errors.h"
#include "mark/fifo_data.h"
#include "mark/mark_job.h"
#include "monitor/speed_test.h"
#include "support/sim_card.h"
#include "test_mark_card_fixture.h"
#include "support/trace.h"

namespace {

class StepClock : public plat::Clock {
 public:
  uint32_t TickMs() override { return tick += 1; }
  double PerfMs() override { return perf += perfStep; }
  plat::LocalTime Local() override { return {}; }
  int64_t Now() override { return 1700000000; }
  void Sleep(uint32_t ms) override {
    tick += ms;
    perf += ms;
  }
  uint32_t tick = 0;
  double perf = 0.0;
  double perfStep = 0.01;
};

class SpeedTest : public qztest::MarkCardTest {
 protected:
  void OpenStepping(uint32_t version = 85, int type = 0) {
    Open(version, "", type);
    plat::SetClock(&step);
  }
  void TearDown() override {
    plat::SetClock(&clock);
    g_bLangZh = 0;
    MarkCardTest::TearDown();
  }
  std::string LastBox() {
    const auto boxes = Boxes();
    return boxes.empty() ? std::string() : boxes.back();
  }
  static size_t Count(const std::string& text, const std::string& part) {
    size_t n = 0;
    for (size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + 1)) ++n;
    return n;
  }
  StepClock step;
};

TEST_F(SpeedTest, WithoutACardBothTestsReturnOneAndAnotherTaskMakesTheSpeedTestBusy) {
  Stage(0);
  EXPECT_EQ(RunSpeedTest(), 1u);
  EXPECT_EQ(RunOssSwitchSpeedTest(), 1u);
  EXPECT_TRUE(Boxes().empty());
  OpenStepping();
  ASSERT_EQ(ConformSysIdleAndSetItBusy(TASK_BOXFILE_SAVING), 0u);
  cardsim_log_clear_();
  EXPECT_EQ(RunSpeedTest(), 2u);
  ReleaseSystem2Idle();
  EXPECT_TRUE(Commands(CMD_HW_VERSION).empty());
}

TEST_F(SpeedTest, BlocksAndCommandsReachTheCardAndTheBoxShowsThem) {
  struct Case {
    uint32_t version;
    int type;
    uint8_t zh;
    const char* first;
    const char* count;
    const char* note;
  } cases[] = {
      {85, 0, 0, "Buffer data size:97.7 MB \tTime:", "Immediate command count:50000 times \tTime:",
       "\\n Note: The buffer speed should be >10MB/s \\n The immediate command speed should be >5000 times/s"},
      {96, 1, 1, "缓冲数据大小：97.7 MB   \t用时：", "立即指令次数:  50000 次   \t用时：",
       "\\n注：缓冲速度应 >10MB/s  \\n立即指令速度应 >5000次/s "},
      {79, 0, 0, "Buffer data size:97.7 MB \tTime:", "Immediate command count:50000 times \tTime:", "Note:"},
  };
  for (const Case& c : cases) {
    QZ_TRACE("version " + std::to_string(c.version));
    OpenStepping(c.version, c.type);
    if (HasFatalFailure()) return;
    g_bLangZh = c.zh;
    cardsim_log_clear_();
    EXPECT_EQ(RunSpeedTest(), 0u);
    const auto sent = Commands();
    const auto open = std::find(sent.begin(), sent.end(), qztest::Cmd{CMD_OPERATE, OP_START_RUN, 0});
    EXPECT_NE(open, sent.end());
    EXPECT_EQ(std::count(sent.begin(), sent.end(), qztest::Cmd{CMD_HW_VERSION, 0, 0}), 50000);
    const cardsim_fifo f = Fifo();
    EXPECT_EQ(f.blocks_received, 50000u);
    EXPECT_EQ(f.overflow_bytes, 0u);
    const std::string box = LastBox();
    EXPECT_NE(box.find(c.first), std::string::npos) << box;
    EXPECT_NE(box.find(c.count), std::string::npos) << box;
    EXPECT_NE(box.find(c.note), std::string::npos) << box;
    // 0.01 ms per reading of the counter: every command takes one step.
    EXPECT_NE(box.find(c.zh ? "最小耗时：0.010 ms" : "Minimum time spent:0.010 ms"), std::string::npos) << box;
    EXPECT_FALSE(SysBusy());
    EXPECT_EQ(g_MarkJob.nMarkState.load(), kMarkStateIdle);
    EXPECT_EQ(g_bRunFlag.load(), 0u);
    TearDown();
  }
}

TEST_F(SpeedTest, CommandsSlowerThanTheStartValueReportItAsTheMinimum) {
  OpenStepping();
  step.perfStep = 2000.0;
  EXPECT_EQ(RunSpeedTest(), 0u);
  EXPECT_EQ(Fifo().blocks_received, 50000u);
  const std::string box = LastBox();
  EXPECT_NE(box.find("Immediate instruction: Average time spent2000.000 ms \tMaximum time spent:2000.000 ms \t"
                     "Minimum time spent:1110.000 ms \\n"),
            std::string::npos)
      << box;
}

TEST_F(SpeedTest, ACardLostDuringTheTestReleasesTheTask) {
  OpenStepping();
  cardsim_fault_lose_at_(20);
  EXPECT_THROW(RunSpeedTest(), MyException);
  EXPECT_FALSE(SysBusy());
  EXPECT_EQ(g_MarkJob.nMarkState.load(), kMarkStateIdle);
}

TEST_F(SpeedTest, TheSwitchStepsToThePathsSettingAndTimesOutWithoutItsBits) {
  OpenStepping();
  step.perfStep = 1.0;
  cardsim_oss oss{{8, 5, 2, 5}, 5, {CARDSIM_OSS_NEVER, CARDSIM_OSS_NEVER, CARDSIM_OSS_NEVER}};
  ASSERT_EQ(cardsim_set_oss_(&oss), 0u);
  cardsim_log_clear_();
  EXPECT_EQ(RunOssSwitchSpeedTest(), 0u);
  std::vector<uint32_t> settings;
  for (const auto& [cmd, p1, p2] : Commands(0x14A)) {
    EXPECT_EQ(p1, 0u);
    settings.push_back(p2);
  }
  // Path 1 from 5 to 8, path 2 at 5 from 8, path 3 to 2, path 4 back to 5.
  EXPECT_EQ(settings, (std::vector<uint32_t>{5, 6, 7, 8, 8, 7, 6, 5, 5, 4, 3, 2, 2, 3, 4, 5}));
  const auto outputs = Commands(CMD_OUTPUT);
  ASSERT_EQ(outputs.size(), 8u);
  for (size_t i = 0; i < outputs.size(); ++i)
    EXPECT_EQ(outputs[i], (qztest::Cmd{CMD_OUTPUT, kOssOutput, i % 2 ? 0u : kOssOutput})) << i;
  EXPECT_EQ(LastBox(), "topmost ok: Time out not completed!Time out not completed!Time out not completed!"
                       "Time out not completed!");
  EXPECT_EQ(State().outputs & kOssOutput, 0u);
}

TEST_F(SpeedTest, TheSwitchReportsThreeTimesPerPath) {
  OpenStepping(60);  // the legacy command numbers
  cardsim_oss oss{{1, 1, 1, 1}, 1, {0, 0, 0}};
  ASSERT_EQ(cardsim_set_oss_(&oss), 0u);
  cardsim_log_clear_();
  EXPECT_EQ(RunOssSwitchSpeedTest(), 0u);
  size_t legacy = 0;
  for (const cardsim_frame& f : Frames())
    if (f.kind == CARDSIM_KIND_COMMAND && f.command == 0x149) legacy += (f.flags & CARDSIM_FRAME_LEGACY) ? 1 : 0;
  EXPECT_GT(legacy, 4u);
  const std::string box = LastBox();
  for (int p = 1; p <= 4; ++p)
    EXPECT_EQ(Count(box, "Total time for switching from path " + std::to_string(p) + " to path 1:"), 1u) << box;
  EXPECT_EQ(Count(box, "Galvanometer planning arrival time:"), 4u);
  EXPECT_EQ(Count(box, "Galvanometer feedback arrival time:"), 4u);
  EXPECT_EQ(State().outputs & kOssOutput, 0u);
}

}  // namespace
