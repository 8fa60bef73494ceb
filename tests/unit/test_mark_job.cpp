// The job flow against the simulated card: buffer start, end wait and report, flow control, offline, failures;
// run control (a stop while QZ_MarkEnd waits, the job's figures, a full flush mid-job) and the host's status text
// (off-line mode, task, alarms, waits, languages, buffer size).
#include <atomic>
#include <chrono>
#include <cstring>
#include <thread>

#include "calibration/scan.h"
#include "cardlink/card_cmd.h"
#include "cardlink/card_status.h"
#include "cardlink/portlane.h"
#include "frame/conv.h"
#include "frame/errors.h"
#include "frame/ini_cfg.h"
#include "frame/wait_desc.h"
#include "markbase/mark_floor.h"
#include "mark/phase_timer.h"
#include "mark/run_control.h"
#include "platform/files.h"
#include "qzmark.h"
#include "support/expect_code.h"
#include "test_mark_card_fixture.h"

namespace {

using qztest::ExpectCode;
using qztest::ExpectLost;
using qztest::HasLine;

class MarkJobTest : public qztest::MarkCardTest {
 protected:
  // An open card of the version whose block layout is `layout`.
  void OpenLayout(int32_t layout, const std::string& config = "") {
    Open(layout == 2 ? 96 : layout == 1 ? 80 : 60, config);
    ASSERT_EQ(g_SystemPara.nBufDataCheckType, layout);
  }
};

// A job runs to a successful end; on this card (layout 0) without the correction-mode word.
TEST_F(MarkJobTest, JobRunsToASuccessfulEnd) {
  OpenLayout(0);
  Begin(1);
  ASSERT_EQ(Call(3000), 0u);
  EXPECT_EQ(End(), 0u);
  EXPECT_EQ(std::tuple(g_MarkJob.nMarkState.load(), g_bRunFlag.load()), std::tuple(kMarkStateIdle, 0u));
  EXPECT_TRUE(HasLine(InfoLines(), "MustEndThread:运行成功  same="));
  // The prologue's 8 jump words, the kind marker and 3000 count markers, the idle pulse timing (3), the end.
  const std::vector<uint32_t> words = TraceWords();
  ASSERT_EQ(words.size(), 3002u + 8 + 3);
  EXPECT_EQ(std::tuple(words.back(), Fifo().check_error), std::tuple(SW_END, uint32_t{CARDSIM_CHECK_NONE}));
}

// Flow control holds the FIFO below its full mark; a stop ends the wait for room.
TEST_F(MarkJobTest, FlowControlHoldsTheFifoBelowItsFullMarkAndAStopEndsTheWaitForRoom) {
  // A FIFO of 1 % of the card's: 327 units usable, full mark 320 (80 blocks).
  OpenLayout(1, "[HARDWARE]\ndbValideBufferSpacePercent=0.01\n");
  ASSERT_EQ(g_FifoData.model.nFullMark, 320u);
  cardsim_set_start_threshold_(64 * 1024);  // the card starts running once it holds 64 KiB
  cardsim_set_consume_(2);                  // but stalls
  std::atomic<bool> drained{false};
  std::thread unstall([&] {
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    const cardsim_fifo f = Fifo();
    // While stalled the library never filled the card past the full mark.
    EXPECT_LE(f.fill, 320u * 512u + 2048u);
    EXPECT_GT(f.fill, 0u);
    drained = true;
    cardsim_set_consume_(0);
  });
  Begin(1);
  for (uint32_t call = 0; call < 20; ++call) ASSERT_EQ(Call(10000, call * 10000), 0u);
  const uint32_t rc = End();
  unstall.join();
  EXPECT_TRUE(drained);
  EXPECT_EQ(rc, 0u);
  EXPECT_EQ(Fifo().overflow_bytes, 0u);
  // correction mode, 8 prologue jump words, 20 kind markers, the words, 3 of the idle pulse timing, the end
  EXPECT_EQ(cardsim_trace_count_(1), 200033u);
  EXPECT_GT(g_FifoData.model.nQueries, 2u);
  cardsim_set_consume_(2);  // the card never makes room
  std::thread stopper([] {
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
    g_MarkJob.bStopMark = 1;  // as QZ_Mark_Stop does from another host thread
  });
  Begin(1);
  for (uint32_t call = 0; call < 5; ++call) EXPECT_EQ(Call(50000, call), 0u);
  stopper.join();
  EXPECT_LE(Fifo().fill, 320u * 512u + 2048u);
  CMarkLock lock;
  SendCmdNoReply(CMD_SET_FLAG, 0, FLAG_STOP);
  EXPECT_EQ(MustEndThread(0, 0, 0, 0), RV_MARK_FAIL);
  EXPECT_EQ(g_MarkJob.nMarkState, kMarkStateIdle);
}

TEST_F(MarkJobTest, SameDataFlagComparesWithThePreviousJob) {
  OpenLayout(2);
  struct Job { uint32_t first; uint8_t same; } jobs[] = {{0, 0}, {0, 1}, {1, 0}, {1, 1}};
  for (const Job& j : jobs) {
    Begin(1);
    Call(2000, j.first);
    ASSERT_EQ(End(), 0u);
    EXPECT_EQ(g_FifoData.bSameData, j.same);  // (its report: EndReportTest)
  }
}

// A finished download's status; a stopped download ends stopped (the file as the card runs it: OffDocHost).
TEST_F(MarkJobTest, OfflineDownloadEndsAsADownloadAndAStoppedOneEndsStopped) {
  OpenLayout(2);
  Begin(2);
  Call(3000);
  ASSERT_EQ(End(), 0u);
  EXPECT_EQ(g_FifoData.nFinalStatus, kFinalStatusOffline);
  Begin(2);
  Call(100);
  g_MarkJob.bStopMark = 1;
  EXPECT_EQ(End(), RV_MARK_FAIL);
  EXPECT_EQ(g_FifoData.nFinalStatus, kFinalStatusStopped);
  EXPECT_TRUE(HasLine(InfoLines(), "MustEndThread:运行被停止 same=") && !HasLine(InfoLines(), "未知结果"));
  EXPECT_EQ(g_FifoData.pOfflineFile, nullptr);
}

// A stopped run never counts as finished nor unknown; the offline-done flag of a clean run finishes it.
TEST(EndStatus, StoppedRunsEndStoppedAndOnlyCleanRunsFinish) {
  struct Case { uint32_t card; bool download; uint8_t offlineDone; bool stopped; uint32_t status; } cases[] = {
      {0x10100, false, 0, false, 0x10100},  // online: the card's own status
      {0x10200, false, 1, true, 0x10200},   // online, flag, stopped: the card's stopped status
      {0x10100, false, 1, false, 0x100},    // online, flag, clean: finished (the buffer speed test)
      {0x100, true, 1, true, 0x200},        // a stopped download
  };
  for (const Case& c : cases)
    EXPECT_EQ(EndStatusOf(c.card, c.download, c.offlineDone, c.stopped), c.status)
        << c.card << " " << c.download << " " << int(c.offlineDone) << " " << c.stopped;
}

// The end wait: a card that holds its ready bit low is waited for; one that takes no data fails the job.
TEST_F(MarkJobTest, EndWaitsForASlowCardAndFailsOnOneThatTakesNoData) {
  OpenLayout(1);
  clock.autoAdvanceMs = 1;
  Begin(1);
  ASSERT_EQ(Call(3000), 0u);
  // Every block is in; the card holds its ready bit low for about 20 s of polls, then finishes.
  cardsim_set_usb_startup_(0, 20000);
  EXPECT_EQ(End(), 0u);
  EXPECT_GT(clock.tick, 10000u);
  EXPECT_TRUE(HasLine(InfoLines(), "MustEndThread:运行成功  same="));
  Begin(1);
  ASSERT_EQ(Call(3000), 0u);
  g_FifoData.nSentUnits += kUnitsPerBlock;  // a block the card never receives
  EXPECT_EQ(End(), RV_MARK_FAIL);
  EXPECT_EQ(g_Link.g_bConnected, 1);  // the card answers: it is not lost
  EXPECT_TRUE(g_FifoData.bCardTookNoData &&
              HasLine(ErrorLines(), "the card takes no data") && HasLine(InfoLines(), "未知结果"));
  EXPECT_EQ(std::tuple(g_MarkJob.nMarkState.load(), g_bRunFlag.load()), std::tuple(kMarkStateIdle, 0u));
}

TEST_F(MarkJobTest, OfflineFileThatCannotBeCreatedFailsWith9) {
  OpenLayout(2);
  ASSERT_TRUE(plat::CreateFolders(GetModuleDir() + "OffLineFile.tmp"));  // a folder in its way
  Begin(2);
  ExpectCode(RV_NOT_OPEN_OFFLINE_FILE, 0, [&] { Call(10); });
  EXPECT_TRUE(MarkFailed());
  EXPECT_EQ(g_MarkJob.nMarkState, kMarkStateBufferStarted);  // a failed job, not one that never started
  EXPECT_TRUE(HasLine(ErrorLines(), "CFifoData::BufferStart:Can't create download file!"));
  EXPECT_EQ(Stops(), 1u);  // the card's run is stopped
  EXPECT_EQ(Call(10), 0u);  // later calls add nothing and try no second file
  EXPECT_EQ(Boxes().size(), 1u);
  CMarkLock lock;
  EXPECT_EQ(MustEndThread(0, 0, 0, 0), RV_MARK_FAIL);
}

// The first block asks for the pointers; a job stopped at its start or failed takes no more words, ends failed.
TEST_F(MarkJobTest, FirstBlockAsksForThePointersStoppedOrFailedJobTakesNothingMore) {
  OpenLayout(1);
  for (int job = 0; job < 2; ++job) {
    cardsim_log_clear_();
    Begin(1);
    Call(100);
    ASSERT_EQ(End(), 0u);
    std::vector<uint32_t> cmds;
    // (The laser's PA output is read and switched before the buffer opens.)
    for (const auto& f : Frames())
      if (f.kind == CARDSIM_KIND_COMMAND && f.command != CMD_OUTPUT) cmds.push_back(f.command);
    ASSERT_GE(cmds.size(), 2u);
    EXPECT_EQ(cmds[0], CMD_OPERATE);        // the buffer opens
    EXPECT_EQ(cmds[1], CMD_FIFO_POINTERS);  // and the first block asks the card
  }
  Begin(1);
  g_MarkJob.bStopMark = 1;
  EXPECT_EQ(Call(100), 0u);
  EXPECT_EQ(g_MarkJob.nMarkState, kMarkStateBufferStarted);
  EXPECT_EQ(g_MarkData2Fifo.vStreamWords.size(), 0u);  // nothing flushed
  EXPECT_EQ(End(), RV_MARK_FAIL);
  EXPECT_EQ(g_MarkJob.nMarkState, kMarkStateIdle);
  g_MarkJob.bStopMark = 0;
  Begin(1);
  Call(100);
  ExpectCode(2, 0, [] {
    CMarkLock lock;
    SetMarkErrorAndThrow(RV_ERROR, "generator failed");
  });
  EXPECT_EQ(Boxes().back(), "topmost ok: generator failed");
  EXPECT_TRUE(HasLine(InfoLines(), "SetMarkErrorAndThrow:generator failed"));
  const size_t before = g_MarkData2Fifo.vStreamWords.size();
  EXPECT_EQ(Call(100), 0u);
  EXPECT_EQ(g_MarkData2Fifo.vStreamWords.size(), before);
  CMarkLock lock;
  EXPECT_EQ(MustEndThread(0, 0, 0, 0), RV_MARK_FAIL);
  EXPECT_TRUE(HasLine(InfoLines(), "运行被停止"));
}

TEST_F(MarkJobTest, CardLostInTheMiddleOfAJobEndsItCleanly) {
  OpenLayout(1);
  {
    CMarkLock lock;
    ASSERT_EQ(StartMarkTask(1), 0u);
  }
  EXPECT_EQ(g_bSysBusy, 1);
  cardsim_fault_lose_at_chunk_(3);
  ExpectLost([&] {
    for (uint32_t i = 0; i < 20; ++i) Call(5000, i * 5000);
  });
  ExpectLost([&] { End(); });
  EXPECT_EQ(std::tuple(g_MarkJob.nMarkState.load(), g_bRunFlag.load(), g_bSysBusy),
            std::tuple(kMarkStateIdle, 0u, 0));
  EXPECT_EQ(OpenLink(), 0u);
}

using EndReportTest = qztest::LibFolderTest;

TEST_F(EndReportTest, EveryEndCodeHasItsTextAndReport) {
  struct Case { uint32_t code, sub; const char* text; bool error, box; } cases[] = {  // text nullptr: no report
      {4, 5, "数据断流 ", true, false},        {1, 7, "运行成功  ", false, false},
      {2, 0, "运行被停止 ", false, false},     {2, 2, "快跳失败 ", true, true},
      {8, 0, "被模块停止 ", false, false},     {8, 1, "后跳失败 ", true, true},
      {0, 3, "Buffer Head Err ", true, true},  {0, 1, "未知结果 ", false, false},
      {2, 1, nullptr, false, false},           {5, 0, nullptr, false, false},
  };
  for (const Case& c : cases) {
    ClearLogs();
    const uint32_t status = c.code << 8 | c.sub << 13 | 0x10000;
    ReportMarkEnd(status, 1);
    const std::string expected = c.text ? std::string(c.text) + "same=1 res=" + StrFormat("%x", status) : "";
    const auto info = InfoLines();
    ASSERT_EQ(info.size(), c.text ? 1u : 0u) << c.code << '/' << c.sub;
    if (!c.text) continue;
    EXPECT_NE(info[0].find("MustEndThread:" + expected), std::string::npos) << info[0];
    EXPECT_EQ(ErrorLines().size(), c.error ? 1u : 0u) << c.code << '/' << c.sub;
    EXPECT_EQ(Boxes(),
              c.box ? std::vector<std::string>{"topmost ok: " + expected} : std::vector<std::string>{});
  }
}

// Ending a phase adds the time since its start, and nothing when it was not started.
TEST(PhaseTimerTest, OnlyStartedPhasesAddTime) {
  qztest::FakeClock clock;
  clock.perf = 100000.0;
  g_SystemPara.bPrintTime = 1;
  CPhaseTimer t;
  t.End(PHASE_END);  // never started
  t.Start(PHASE_DOWN);
  clock.Sleep(30);
  t.End(PHASE_DOWN);
  t.End(PHASE_DOWN);  // ended already
  EXPECT_EQ(std::tuple(t.Total(PHASE_END), t.Total(PHASE_DOWN)), std::tuple(0.0, 30.0));
  g_SystemPara.bPrintTime = 0;
}

// A floor written right after a full flush (floor 0 empty) still lands after what was sent.
TEST_F(MarkJobTest, FullFlushInTheMiddleOfAJobLetsLaterFloorsAndTheEndFollowAndTheMarkTime) {
  Open();
  Begin();
  ASSERT_EQ(Call(3), 0u);
  for (uint32_t round = 1; round <= 2; ++round) {
    CMarkLock lock;
    try {
      FlushAllAndStartRun();
      EXPECT_TRUE(g_MarkFloor[0].ch3.empty());
      RunOnUpperFloor([&] { for (uint32_t i = 0; i < 2; ++i) AppendStreamWord(10, 0, 0x62000000u | round << 8 | i); });
    } catch (const MyException& e) {
      FAIL() << "code " << e.code << ": " << MarkErrorText();
    }
  }
  EXPECT_EQ(End(), 0u);
  // Two flushes ask for the start of the run once; the card started on it.
  uint32_t value = 0, starts = 0;
  cardsim_get_flag_(FLAG_START_BUFFERED_RUN, &value, &starts);
  EXPECT_EQ(std::tuple(starts, Fifo().start_reason), std::tuple(1u, uint32_t{CARDSIM_START_FLAG}));
  // The card runs the words in the order of their times.
  const std::vector<uint32_t> words = TraceWords();
  // The prologue jumps to (0, 0) twice (rest and current position); the epilogue sets idle pulse timing.
  EXPECT_EQ(words, (std::vector<uint32_t>{0x04000001, 0x01300000, 0x01700000, SW_WAIT_TIMEOUT_1S, SW_JUMP_WAIT,
                                          0x01300000, 0x01700000, SW_WAIT_TIMEOUT_1S, SW_JUMP_WAIT,
                                          SW_KIND_MARKER | KIND_BUFFER, 0x62000000, 0x62000001, 0x62000002,
                                          0x62000100, 0x62000101, 0x62000200, 0x62000201, 0x13000000, 0x14000000,
                                          0x16000000, SW_END}));
  // The mark time is the low 32 bits of the last job's final stream time.
  Open();
  auto job = [&](int64_t delay) {
    Begin();
    Call(10, 0, delay);
    EXPECT_EQ(End(), 0u);
    uint32_t t = 0;
    EXPECT_EQ(QZ_GetMarkTime(&t), 0u);
    return t;
  };
  const uint32_t base = job(0);
  EXPECT_GT(base, 100u);
  EXPECT_EQ(job((int64_t{1} << 32) + 5), base + 5u);  // more than 71 minutes: the low 32 bits
}

// A stop from a second thread ends QZ_MarkEnd's wait; figures read meanwhile are the ending job's.
TEST_F(MarkJobTest, StopFromASecondThreadEndsTheWaitOfMarkEnd) {
  Open();
  ASSERT_EQ(QZ_MarkStart(1, 0, 0), 0u);
  ASSERT_EQ(Call(100), 0u);
  {
    CMarkLock lock;
    g_Scan.nLitCount = 7;  // as the polyline generator counts
  }
  cardsim_set_consume_(CARDSIM_CONSUME_STALLED);
  std::atomic<uint32_t> seenCount{0}, seenTime{0}, stopRc{99};
  std::atomic<bool> ended{false};
  std::thread stopper([&] {
    // Until QZ_MarkEnd has sent everything and waits for the card to run it out.
    for (int i = 0; i < 10000 && Fifo().phase != CARDSIM_PHASE_FLUSHING; ++i)
      std::this_thread::sleep_for(std::chrono::milliseconds(1));
    uint32_t v = 0;
    if (QZ_GetMarkLineCnt(&v) == 0) seenCount = v;
    if (QZ_GetMarkTime(&v) == 0) seenTime = v;
    stopRc = QZ_Mark_Stop();
    // A stop that does not end the wait fails the test instead of hanging it: the card runs out.
    for (int i = 0; i < 5000 && !ended; ++i) std::this_thread::sleep_for(std::chrono::milliseconds(1));
    if (!ended) cardsim_set_consume_(CARDSIM_CONSUME_AT_ONCE);
  });
  const uint32_t rc = QZ_MarkEnd(0);
  ended = true;
  stopper.join();
  EXPECT_EQ(std::tuple(stopRc.load(), rc, seenCount.load()), std::tuple(0u, uint32_t{RV_MARK_FAIL}, 7u));
  EXPECT_GT(seenTime.load(), 1000u);  // the end sequence is written before the wait
  EXPECT_EQ(Fifo().end_code, 2u);  // stopped on the card
  EXPECT_TRUE(HasLine(InfoLines(), "MustEndThread:运行被停止 same=") && HasLine(InfoLines(), "QZ_Mark_Stop:QZ_Mark_Stop"));
  EXPECT_EQ(std::tuple(g_MarkJob.nMarkState.load(), g_bSysBusy), std::tuple(kMarkStateIdle, 0));
  uint32_t count = 99, time = 0;
  EXPECT_EQ(QZ_GetMarkLineCnt(&count), 0u);
  EXPECT_EQ(count, 7u);  // the last job's
  EXPECT_EQ(QZ_GetMarkTime(&time), 0u);
  EXPECT_EQ(time, seenTime.load());
}

class WaitInfoTest : public qztest::MarkCardTest {
 protected:
  void SetUp() override {
    Open(85);
    InitWaitDescs();
  }
  std::string Text(uint32_t expectedRc = 0) {
    char buf[kWaitInfoBufferSize];
    std::memset(buf, 'Z', sizeof buf);
    EXPECT_EQ(QZ_GetWaitInfo(buf), expectedRc);
    return buf;
  }
};

TEST_F(WaitInfoTest, OfflineModeAndTheCardsTask) {
  cardsim_set_run_state_(0, 9, 0);
  EXPECT_EQ(Text(), "OFFLINE MODE\r\nPage Down...\r\n");
  g_bLangZh = 1;
  EXPECT_EQ(Text(), "脱机模式\r\nPage Down...\r\n");
  g_SystemPara.bCmdWithNum = 0;  // legacy cards show neither
  EXPECT_EQ(Text(), "");
  g_SystemPara.bCmdWithNum = 1;
  cardsim_set_run_state_(0, 31, 0);  // an id outside the table names nothing
  EXPECT_EQ(Text(), "脱机模式\r\n");
}

TEST_F(WaitInfoTest, WaitTimeoutWithReasonsNamedAndUnnamedWaitsAndGalvanometerDetails) {
  SendCmdNoReply(CMD_SET_FLAG, 0, FLAG_OFFLINE);
  cardsim_set_alarms_(1u << 5, 0);
  cardsim_set_answer_(CMD_WAIT_REASON, 0, 0, 0x1 | 0x80 | 0x20, 0);
  cardsim_set_answer_(CMD_WAIT_DETAIL, 0, 0, 0x14, 0x11);      // kind 4, enabled
  cardsim_set_answer_(CMD_WAIT_STATE, 0, 0, 0x11, 0x10);       // "等待平台到位": kind 4, 0x11, 0x10
  EXPECT_EQ(Text(),
            "Waiting for timeout, causing the operation to terminate (can be cleared)\r\n"
            "->Check the galvanometer and galvanometer wire\r\n->Serial port\r\n"
            "  等待平台到位\r\n"    // the reason's wait detail
            "  等待平台到位\r\n");  // and the card's current wait
  // An input wait without a name, in both languages.
  cardsim_set_alarms_(0, 0);
  cardsim_set_answer_(CMD_WAIT_REASON, 0, 0, 0, 0);
  cardsim_set_answer_(CMD_WAIT_DETAIL, 0, 0, 0x11, 0xF0);  // kind 1, enabled, value 0xF0
  cardsim_set_answer_(CMD_WAIT_STATE, 0, 0, 0x3C, 0x0F);   // a = 0x3C & 0x0F, b = 0x3C & 0xF0
  EXPECT_EQ(Text(), "  Wait IO Input:Wait Value=c，IO In=30\r\n");
  g_bLangZh = 1;
  EXPECT_EQ(Text(), "  等待IO输入   :等待值=c，IO输入值=30\r\n");
  cardsim_set_answer_(CMD_WAIT_DETAIL, 0, 0, 0x01, 0xF0);  // not enabled: nothing
  EXPECT_EQ(Text(), "");
  // The galvanometer details by card version.
  g_bLangZh = 0;
  g_SystemPara.nCardVersion = 128;
  g_SystemPara.nScanType = 0;
  cardsim_set_alarms_((1u << 6) | (1u << 21), 0);
  cardsim_set_answer_(CMD_GALVO_STATUS, 0, 0, (1u << 24) | (1u << 28), 0);
  cardsim_set_answer_(CMD_GALVO_STATUS, 1, 0, 0, 0x02);
  EXPECT_EQ(Text(),
            "Abnormal closed-loop galvanometer causing operation to stop (can be cleared)\r\n"
            ">>>>>>Scan not feedBack OverTime\r\n"
            "The galvanometer is out of range (x negative direction) (removable) \r\n Possible reasons: the strip is "
            "too fast, the filling is too dense, and the welding speed is too slow \r\n"
            "Galvanometer output beat error (can be cleared) \r\n");
  g_SystemPara.nCardVersion = 76;  // too old for either query
  EXPECT_EQ(Text(),
            "Abnormal closed-loop galvanometer causing operation to stop (can be cleared)\r\n"
            "The galvanometer speed exceeds the limit, please increase the galvanometer speed limit (can be "
            "cleared) \r\n");
}

TEST_F(WaitInfoTest, TextIsCutToTheHostsBufferAndACardLostGivesOne) {
  cardsim_set_alarms_(0xFFFFFF70u, 17);
  EXPECT_EQ(Text().size(), kWaitInfoBufferSize - 1);
  cardsim_set_alarms_(1u << 5, 0);
  cardsim_fault_lose_at_(2);  // the status read passes, the wait-reason query loses the card
  EXPECT_EQ(Text(1), "OFFLINE MODE\r\nWaiting for timeout, causing the operation to terminate (can be cleared)\r\n");
  EXPECT_EQ(g_Link.g_bConnected, 0);
  // Without a card: 1, the buffer untouched.
  CPortlane::Close();
  char buf[kWaitInfoBufferSize] = "unchanged";
  EXPECT_EQ(QZ_GetWaitInfo(buf), 1u);
  EXPECT_STREQ(buf, "unchanged");
  EXPECT_EQ(QZ_GetWaitInfo(nullptr), 1u);  // the card check comes first
}

}  // namespace
