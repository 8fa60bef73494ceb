// The monitor's records, lists, logs, sheet and comparison; the speed and path switch tests on the simulated card.
#include <gtest/gtest.h>

#include <algorithm>
#include <deque>
#include <string>
#include <vector>

#include "cardlink/task_state.h"
#include "cardlink/task_table.h"
#include "frame/conv.h"
#include "frame/errors.h"
#include "frame/ini_cfg.h"
#include "frame/system_para.h"
#include "frame/worker_threads.h"
#include "mark/mark_job.h"
#include "monitor/monitor_record.h"
#include "monitor/monitor_thread.h"
#include "monitor/record_compare.h"
#include "monitor/record_lists.h"
#include "monitor/speed_test.h"
#include "platform/files.h"
#include "platform/random.h"
#include "qzmark.h"
#include "support/fake_clock.h"
#include "support/faults.h"
#include "support/lib_folder.h"
#include "support/sim_card.h"
#include "support/trace.h"
#include "test_mark_card_fixture.h"

namespace qztest {
namespace {

class FakeRandom : public plat::Random {
 public:
  FakeRandom() { plat::SetRandom(this); }
  ~FakeRandom() override { plat::SetRandom(nullptr); }
  int Next() override {
    if (draws.empty()) return 0;
    const int v = draws.front();
    draws.pop_front();
    return v;
  }
  std::deque<int> draws;
};

class MonitorTest : public LibFolderTest {
 protected:
  void SetUp() override {
    LibFolderTest::SetUp();
    g_SystemPara = SystemPara();
    g_SystemPara.nSampleLaserIO = 1;
    g_SystemPara.nRecordSleep = 2;
    clock.local = plat::LocalTime{2024, 3, 7, 10, 20, 0, 0, 4};
    ResetMonitorState();
  }
  std::string LogFile(const std::string& name) const { return BuildLogFilePath(name); }
  std::string Read(const std::string& name) const {
    std::string s;
    plat::ReadWholeFile(LogFile(name), s);
    return s;
  }
  // A measured record of segments with these durations (ms) and power averages (%).
  static void Measured(std::vector<double> d, std::vector<double> p) {
    g_recMeasured.durations = std::move(d);
    g_recMeasured.powerAverages = std::move(p);
  }
  static void QueueExpected(std::vector<double> d, std::vector<double> p) {
    g_recExpected.durations = std::move(d);
    g_recExpected.powerAverages = std::move(p);
    PushExpectedRecord();
  }

  FakeClock clock;
  FakeRandom random;
};

// One task as the card reports it: start, a position, laser on, a sample, off after 1000 µs, end.
TEST_F(MonitorTest, OneTaskGivesSegmentMarkersSamplesAndOneSheetRow) {
  random.draws = {20, 30};  // no noise
  const IoDebugRecord records[] = {{3, 480, 1}, {1, 48, 0x80008000}, {3, 48, 3},
                                   {2, 480, 0xFFFF0800}, {3, 48000, 1}, {3, 48, 0}};
  for (const IoDebugRecord& r : records) {
    HandleIoDebugRecord(r);
    if (r.value == 1 && r.dt == 48000) {
      ASSERT_EQ(g_recMeasured.durations.size(), 1u);
      EXPECT_DOUBLE_EQ(g_recMeasured.durations[0], 1.010);
      ASSERT_EQ(g_recMeasured.powerAverages.size(), 1u);
      EXPECT_NEAR(g_recMeasured.powerAverages[0], 99.0099, 1e-4);
    }
  }
  struct Row { double ad, da; } rows[] = {{-1, -1}, {50.012, 100.0}, {-2, -2}};
  for (const Row& row : rows) {
    int32_t found = 0;
    double ad = 0, da = 0;
    uint32_t t = 0, tick = 0, now = 0;
    ASSERT_EQ(QZ_GetADDARecordWithSysTime(&found, &ad, &da, &t, &tick, &now), 0u);
    ASSERT_EQ(found, 1);
    EXPECT_NEAR(ad, row.ad, 1e-3);
    EXPECT_NEAR(da, row.da, 1e-3);
  }
  int32_t found = 7;
  double ad = 0;
  uint32_t t = 0;
  EXPECT_EQ(QZ_GetADRecord(&found, &ad, &t), 0u);
  EXPECT_EQ(found, 0);
  // The sheet: one row, the comparison off, the measured record emptied.
  const std::string mm = StrFormat("%.1f", MonitorPositionMm(0, 0x8000));
  EXPECT_EQ(Read("info___03_07_.xls"), "10:20:00\tcount=1/1 \t1.0\t99.0\t" + mm + "\t" +
                                           StrFormat("%.1f", MonitorPositionMm(1, 0x8000)) + "\t" + mm + "\t" +
                                           StrFormat("%.1f", MonitorPositionMm(1, 0x8000)) + "\t0\t0\r\n");
  EXPECT_TRUE(g_recMeasured.durations.empty());
  // Laser states: on, off.
  uint32_t f = 0, state = 9, ms = 0;
  QZ_GetLaserMsg(&f, &state, &ms);
  EXPECT_EQ(f * 10 + state, 11u);
  QZ_GetLaserMsg(&f, &state, &ms);
  EXPECT_EQ(f * 10 + state, 10u);
}

TEST_F(MonitorTest, SheetNoiseComesFromTheRandomSourceR1First) {
  const double pos[4] = {1.0, 2.0, 3.0, 4.0};
  EXPECT_EQ(InfoXlsRow("01:02:03", 1, 2, 10.0, 40.0, pos, 1, 1, 0, 99),
            "01:02:03\tcount=1/2 \t9.3\t40.8\t1.0\t2.0\t3.0\t4.0\t1\t1\r\n");
  random.draws = {0, 99};
  Measured({10.0}, {40.0});
  WriteInfoXls("03_07_", "01:02:03", 0, 0);
  EXPECT_EQ(Read("info___03_07_.xls"), "01:02:03\tcount=1/1 \t9.3\t40.8\t0.0\t0.0\t0.0\t0.0\t0\t0\r\n");
}

TEST_F(MonitorTest, ComparisonTolerancesBoxesQueueEmptyTasksAndOverload) {
  struct Case { std::vector<double> md, mp; int pass; bool zh; } cases[] = {
      {{10.004, 20.000}, {50.0, 50.0}, 1, false}, {{10.006, 20.000}, {50.0, 50.0}, 0, false},
      {{10.006, 20.000}, {50.0, 50.0}, 0, true}, {{10.000, 20.000}, {51.0, 50.0}, 1, false},
      {{10.000, 20.000}, {51.01, 50.0}, 0, false},
      {{10.000}, {50.0}, 0, false},  // a segment fewer
  };
  for (const Case& c : cases) {
    QZ_TRACE(testing::Message() << c.md[0] << " " << c.mp[0]);
    ClearLogs();
    g_bLangZh = c.zh ? 1 : 0;
    g_SystemPara.bAutoCheckMarkInfoFB = 1;
    QueueExpected({10.000, 20.000}, {50.0, 50.0});
    QueueExpected({1.0}, {1.0});  // the next task's
    Measured(c.md, c.mp);
    CompareMonitorRecords();
    EXPECT_EQ(CompareQueueSize(), c.pass ? 1u : 0u);
    const std::string sheet = Read("info___03_07_.xls");
    EXPECT_EQ(sheet.substr(sheet.size() - 6), c.pass ? "\t1\t1\r\n" : "\t1\t0\r\n");
    const std::vector<std::string> boxes = Boxes();
    if (c.pass) {
      EXPECT_TRUE(boxes.empty());
    } else {
      EXPECT_TRUE(HasLine(boxes, c.zh ? "比对失败，检查是否被手动停止或其他异常"
                                        : "Comparison failed, check if it has been manually stopped or other "
                                          "abnormalities"));
    }
    plat::DeleteFilePath(LogFile("info___03_07_.xls"));
    plat::LockGuard g(g_csCompare);
    ClearCompareQueue();
  }
  // A task without segments writes nothing; an empty queue fails the comparison.
  ClearLogs();
  CompareMonitorRecords();
  EXPECT_FALSE(plat::FileExists(LogFile("info___03_07_.xls")));
  Measured({1.0}, {1.0});
  CompareMonitorRecords();
  EXPECT_EQ(Boxes().size(), 1u);
  // The hundred and first queued record switches the comparison off.
  ClearLogs();
  for (int i = 0; i < 100; ++i) QueueExpected({1.0}, {2.0});
  EXPECT_EQ(CompareQueueSize(), 100u);
  QueueExpected({1.0}, {2.0});
  EXPECT_EQ(CompareQueueSize(), 0u);
  EXPECT_EQ(g_SystemPara.bAutoCheckMarkInfoFB, 0);
  EXPECT_EQ(Boxes().size(), 1u);
  EXPECT_TRUE(HasLine(Boxes(), "Monitoring data not compared, overloaded, comparison function disabled"));
  // The expected record starts over after each push.
  EXPECT_TRUE(g_recExpected.durations.empty());
}

TEST_F(MonitorTest, SegmentsAndPowerAverages) {
  MonitorRecord r;
  r.OnLaser(1, 1, 100.0);
  r.PowerChange(100.0, 65535.0);
  r.OnLaser(0, 1, 100.0);  // no length
  r.AddPowerAverage();
  ASSERT_EQ(r.powerAverages.size(), 1u);
  EXPECT_DOUBLE_EQ(r.powerAverages[0], 100.0);
  r.AddPowerAverage();  // no new segment: nothing
  EXPECT_EQ(r.powerAverages.size(), 1u);
  // Half of the segment at 50 %, closed at now (a polyline's end).
  r.power = 0.0;
  r.OnLaser(1, 1, 1000.0);
  r.PowerChange(1000.0, 65535.0 / 2);
  r.PowerChange(1500.0, 0.0);
  r.OnLaser(0, 1, 2000.0);
  r.AddPowerAverageAtNow();
  EXPECT_DOUBLE_EQ(r.durations[1], 1.0);
  EXPECT_DOUBLE_EQ(r.powerAverages[1], 25.0);
  EXPECT_EQ(r.positions.size(), 8u);
}

TEST_F(MonitorTest, ListLimitsSampleWordsAndNullOutPointers) {
  for (uint32_t i = 0; i < 1001; ++i) OnLaserStateChange((i & 1) ? 0u : 2u);
  EXPECT_EQ(LaserMsgCount(), 999u);
  EmptyAdDaRecord();
  for (uint32_t i = 0; i < 50001; ++i) PushAdDaSample(0x0FFF0FFF);
  EXPECT_EQ(AdDaRecordCount(), 50000u);
  int32_t found = 0;
  double ad = 0, da = 0;
  uint32_t t = 0, tick = 0, now = 0;
  QZ_GetADDARecordWithSysTime(&found, &ad, &da, &t, &tick, &now);
  EXPECT_DOUBLE_EQ(ad, 100.0);
  EXPECT_NEAR(da, 6.227, 1e-3);
  // Null out-pointers pop nothing.
  EXPECT_EQ(QZ_GetLaserMsg(&t, nullptr, &t), 2u);
  EXPECT_EQ(QZ_GetADDARecordWithSysTime(&found, &ad, nullptr, &t, &t, &t), 2u);
  EXPECT_EQ(QZ_GetADRecordWithSysTime(&found, &ad, &t, &t, nullptr), 2u);
  EXPECT_EQ(QZ_GetADRecord(nullptr, &ad, &t), 2u);
  EXPECT_EQ(std::pair(LaserMsgCount(), AdDaRecordCount()), std::pair(999u, 49999u));
  EXPECT_EQ(QZ_EmptyADRecord(), 0u);
  EXPECT_EQ(AdDaRecordCount(), 0u);
  EXPECT_EQ(QZ_EmptyLaserMsg(), 0u);
  EXPECT_EQ(LaserMsgCount(), 0u);
}

TEST_F(MonitorTest, TimesWrapModuloTwoToThe32AndTheSkewFollowsTheSecond) {
  clock.local.second = 30;
  g_dbDeviceMs = 4294967296.0 + 5.0;
  OnLaserStateChange(2);
  uint32_t f = 0, s = 0, ms = 0;
  QZ_GetLaserMsg(&f, &s, &ms);
  EXPECT_EQ(ms, 5u);  // 5.6 truncated, modulo 2^32
  EXPECT_DOUBLE_EQ(g_dbDeviceMs, 4294967296.0 + 5.6);
}

TEST_F(MonitorTest, MonitorWordsFollowTheHourAndTheFourSecondWindow) {
  g_SystemPara.bRecordCheck = 1;
  clock.local = plat::LocalTime{2024, 3, 7, 10, 59, 58, 0, 4};
  MonitorThreadBegin();
  MonitorCycle();  // no card: nothing sampled
  PushMonitorWord(3, 1, 2);
  clock.local.second = 59;
  MonitorCycle();  // 1 s later: held
  EXPECT_EQ(g_vecMonitorWords.size(), 3u);
  clock.local = plat::LocalTime{2024, 3, 7, 11, 0, 1, 0, 4};
  MonitorCycle();
  EXPECT_TRUE(g_vecMonitorWords.empty());
  EXPECT_EQ(Read("monitor_03_07_10.log").size(), 12u);
  // Within one minute, the window counts from the last flush.
  PushMonitorWord(3, 1, 2);
  clock.local.second = 4;
  MonitorCycle();
  EXPECT_EQ(g_vecMonitorWords.size(), 3u);
  clock.local.second = 5;
  MonitorCycle();
  EXPECT_TRUE(g_vecMonitorWords.empty());
  EXPECT_EQ(Read("monitor_03_07_11.log").size(), 12u);
}

TEST_F(MonitorTest, IoLogIsWrittenAfterThreeSecondsMasked) {
  clock.local = plat::LocalTime{2024, 3, 7, 9, 5, 0, 0, 4};
  clock.tick = 1000;
  AfterIoDebugPass();  // empty: the flush tick follows
  HandleIoDebugRecord({4, 1, 0});
  clock.tick = 4000;
  AfterIoDebugPass();
  EXPECT_FALSE(plat::FileExists(LogFile("io___03_07_09_05.log")));
  clock.tick = 4001;
  AfterIoDebugPass();
  const std::string bytes = Read("io___03_07_09_05.log");
  ASSERT_EQ(bytes.size(), 12u);
  EXPECT_EQ(bytes.substr(4, 4), std::string("\xE6\x94\x2B\x6D"));  // dt 1
  // A refused file drops the words and says so.
  HandleIoDebugRecord({4, 1, 0});
  FailFileWrites(LogFile(""));
  MonitorThreadEnd();
  FailFileWrites("");
  EXPECT_TRUE(g_vecIoWords.empty());
  EXPECT_EQ(Read("io___03_07_09_05.log").size(), 12u);
  EXPECT_TRUE(HasLine(InfoLines(), "3 words dropped"));
}

TEST_F(MonitorTest, NegativeSleepIsTwoMillisecondsAndLongSleepsWatchTheStopFlag) {
  g_SystemPara.bRecordCheck = 0;
  g_SystemPara.nRecordSleep = -1;
  MonitorThreadBegin();
  MonitorCycle();
  MonitorCycle();
  EXPECT_EQ(std::tuple(clock.slept, InfoLines().size()), std::tuple(4u, 1u));
  g_SystemPara.nRecordSleep = 100000;
  g_bStopThreads = 1;
  MonitorCycle();
  EXPECT_EQ(clock.slept, 4u);
  g_bStopThreads = 0;
}

// ---- against the simulated card: command 87's records in both forms; a quiet monitor.

class MonitorCardTest : public SimCardTest {};

TEST_F(MonitorCardTest, RecordsOfBothFormsReachTheIoWordsAndAPassStopsAtNone) {
  for (uint32_t form : {0u, 1u}) {
    Stage(0);
    ASSERT_EQ(OpenLink(), 0u);
    ResetMonitorState();
    cardsim_debug_form_(form);
    cardsim_debug_queue_(3, 480, 1);
    cardsim_debug_queue_(1, 48, 0x80008000);
    cardsim_debug_queue_(2, 1200, 0xFFFF0800);
    ReadIoDebugRecords();
    const std::vector<uint32_t> expect = {3, 480, 1, 1, 48, 0x80008000, 2, 1200, 0xFFFF0800};
    EXPECT_EQ(g_vecIoWords, expect) << "form " << form;
    EXPECT_EQ(Sent(87).size(), 4u);  // three records and the empty answer
    TearDown();
  }
}

TEST_F(MonitorCardTest, BothSwitchesOffSendNoCommand) {
  Stage(0, "bRecordInThread=0\nbRecordCheck=0\n");
  ASSERT_EQ(OpenLink(), 0u);
  g_SystemPara.InitPara();
  cardsim_debug_queue_(3, 48, 1);
  cardsim_log_clear_();
  MonitorThreadBegin();
  for (int i = 0; i < 3; ++i) MonitorCycle();
  EXPECT_TRUE(Sent().empty());
  // Either switch on brings its commands.
  g_SystemPara.bRecordCheck = 1;
  MonitorCycle();
  EXPECT_EQ(std::tuple(Sent(34).size(), Sent(6).size()), std::tuple(1u, 1u));
  EXPECT_TRUE(Sent(87).empty());
}

// ---- the speed tests, under a clock whose performance counter moves on by a set step at every reading

class SpeedTest : public qztest::MarkCardTest {
 protected:
  void OpenStepping(uint32_t version = 85, int type = 0) {
    Open(version, "", type);
    clock.perfStep = 0.01;
  }
  void TearDown() override {
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
  EXPECT_TRUE(Sent(CMD_HW_VERSION).empty());
}

TEST_F(SpeedTest, BlocksAndCommandsReachTheCardAndTheBoxShowsThem) {
  struct Case { uint32_t version; int type; uint8_t zh; const char *first, *count, *note; } cases[] = {
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
    const auto sent = Sent();
    const auto open = std::find(sent.begin(), sent.end(), qztest::Cmd{CMD_OPERATE, OP_START_RUN, 0});
    EXPECT_NE(open, sent.end());
    EXPECT_EQ(std::count(sent.begin(), sent.end(), qztest::Cmd{CMD_HW_VERSION, 0, 0}), 50000);
    const cardsim_fifo f = Fifo();
    EXPECT_EQ(std::tuple(f.blocks_received, f.overflow_bytes), std::tuple(50000u, 0u));
    const std::string box = LastBox();
    EXPECT_NE(box.find(c.first), std::string::npos) << box;
    EXPECT_NE(box.find(c.count), std::string::npos) << box;
    EXPECT_NE(box.find(c.note), std::string::npos) << box;
    // 0.01 ms per reading of the counter: every command takes one step.
    EXPECT_NE(box.find(c.zh ? "最小耗时：0.010 ms" : "Minimum time spent:0.010 ms"), std::string::npos) << box;
    EXPECT_FALSE(SysBusy());
    EXPECT_EQ(std::tuple(g_MarkJob.nMarkState.load(), g_bRunFlag.load()), std::tuple(kMarkStateIdle, 0u));
    TearDown();
  }
}

TEST_F(SpeedTest, SlowCommandsReportTheirTimeAsTheMinimumAndALostCardReleasesTheTask) {
  OpenStepping();
  clock.perfStep = 2000.0;
  EXPECT_EQ(RunSpeedTest(), 0u);
  const std::string box = LastBox();
  EXPECT_NE(box.find("Immediate instruction: Average time spent2000.000 ms \tMaximum time spent:2000.000 ms \t"
                     "Minimum time spent:1110.000 ms \\n"),
            std::string::npos)
      << box;
  // A card lost during the test releases the task.
  cardsim_fault_lose_at_(20);
  EXPECT_THROW(RunSpeedTest(), MyException);
  EXPECT_FALSE(SysBusy());
  EXPECT_EQ(g_MarkJob.nMarkState.load(), kMarkStateIdle);
}

TEST_F(SpeedTest, TheSwitchStepsToThePathsSettingAndTimesOutWithoutItsBits) {
  OpenStepping();
  clock.perfStep = 1.0;
  cardsim_oss oss{{8, 5, 2, 5}, 5, {CARDSIM_OSS_NEVER, CARDSIM_OSS_NEVER, CARDSIM_OSS_NEVER}};
  ASSERT_EQ(cardsim_set_oss_(&oss), 0u);
  cardsim_log_clear_();
  EXPECT_EQ(RunOssSwitchSpeedTest(), 0u);
  std::vector<uint32_t> settings;
  for (const auto& [cmd, p1, p2] : Sent(0x14A)) {
    EXPECT_EQ(p1, 0u);
    settings.push_back(p2);
  }
  // Path 1 from 5 to 8, path 2 at 5 from 8, path 3 to 2, path 4 back to 5.
  EXPECT_EQ(settings, (std::vector<uint32_t>{5, 6, 7, 8, 8, 7, 6, 5, 5, 4, 3, 2, 2, 3, 4, 5}));
  const auto outputs = Sent(CMD_OUTPUT);
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
}  // namespace qztest
