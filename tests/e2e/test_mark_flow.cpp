// The encoder, count-marker, task and camera exports as a host calls them, run on the simulated card; run
// control and job queries: commands sent, answers read, refusals, loss of the card.

#include <algorithm>
#include <limits>

#include "e2e/card_host.h"
#include "support/trace.h"

namespace {

using qztest::CardHost;

constexpr uint32_t kKind = 0x51200000;  // a call's kind marker

class MarkFlowHost : public CardHost {
 protected:
  void OpenJob() {
    OpenCard();
    ASSERT_EQ(MarkStart(1, 0, 0), 0u);
  }
  uint32_t StartRuns() {
    uint32_t starts = 0;
    for (const auto& [cmd, p1, p2] : Sent(82)) starts += p2 == 0x40000;
    return starts;
  }
  uint32_t Ccd(int32_t enable, int32_t selector, uint32_t value) {
    return QZ(MarkCCD)(enable, 42, 0.0, 0.0, 0, 0, 0, 3, selector, 0, value, 0);  // where the scanner is
  }
};

TEST_F(MarkFlowHost, ALoopOfThreeRunsThreeTimesAndACountWaitFlushesOnTheFourth) {
  OpenJob();
  ASSERT_EQ(QZ(MarkLoopStart)(1, 3), 0u);
  ASSERT_EQ(QZ(MarkBufferCnt)(7), 0u);
  ASSERT_EQ(QZ(MarkBufIO)(0x4, 0x4, 0, 0), 0u);
  ASSERT_EQ(QZ(MarkBufIO)(0x0, 0x4, 0, 0), 0u);
  ASSERT_EQ(QZ(MarkLoopEnd)(1), 0u);
  ASSERT_EQ(MarkEnd(0), 0u);
  EXPECT_EQ(std::tuple(Fifo().count_markers, Fifo().last_count), std::tuple(3u, 7u));
  uint32_t pulses = 0;
  for (uint32_t i = 0; i < cardsim_output_change_count_(); ++i) {
    cardsim_output_change o{};
    ASSERT_EQ(cardsim_output_change_get_(i, &o), 0u);
    pulses += o.word == 0x20004004;
  }
  EXPECT_EQ(pulses, 3u);
  // A count wait flushes on the fourth and returns once the card ran a marker.
  cardsim_log_clear_();
  ASSERT_EQ(MarkStart(1, 0, 0), 0u);
  for (int i = 0; i < 3; ++i) ASSERT_EQ(QZ(MarkSetCountAndWait)(3), 0u);
  EXPECT_EQ(StartRuns(), 0u);
  ASSERT_EQ(QZ(MarkSetCountAndWait)(3), 0u);
  EXPECT_GE(Fifo().last_count, 1u);
  EXPECT_EQ(StartRuns(), 1u);
  ASSERT_EQ(MarkEnd(0), 0u);
  EXPECT_EQ(Fifo().count_markers, 4u);
}

TEST_F(MarkFlowHost, AnInputJumpTakesTheBranchTheInputsChooseAndACameraNeverReadyEndsTheRun) {
  struct Case { bool ok; uint32_t inputs, lastCount; } cases[] = {
      {true, 0x5, 2}, {true, 0x4, 1}, {false, 0x5, 1}, {false, 0x4, 2}};
  OpenCard();
  for (const Case& c : cases) {
    QZ_TRACE(c.inputs);
    ASSERT_EQ(MarkStart(1, 0, 0), 0u);
    cardsim_set_inputs_(c.inputs);
    // The branch taken skips marker 1 and runs marker 2 at task 9.
    ASSERT_EQ((c.ok ? QZ(MarkJumpByIOInOK) : QZ(MarkJumpByIOInNG))(0x0F, 0x05, 9), 0u);
    ASSERT_EQ(QZ(MarkBufferCnt)(1), 0u);
    ASSERT_EQ(QZ(MarkJumpTaskNo)(10), 0u);
    ASSERT_EQ(QZ(MarkBufSmallTask)(9), 0u);
    ASSERT_EQ(QZ(MarkBufferCnt)(2), 0u);
    ASSERT_EQ(QZ(MarkBufSmallTask)(10), 0u);
    ASSERT_EQ(MarkEnd(0), 0u);
    EXPECT_EQ(std::tuple(Fifo().count_markers, Fifo().last_count), std::tuple(1u, c.lastCount));
  }
  // A camera that never gets ready: the card's wait times out, the run ends and the host shows why.
  cardsim_set_camera_ready_(0);
  ASSERT_EQ(MarkStart(1, 0, 0), 0u);
  ASSERT_EQ(Ccd(0, 0, 0), 0u);
  EXPECT_EQ(MarkEnd(0), 3u);
  EXPECT_TRUE(qztest::HasLine(lib->Boxes(), "Waiting for timeout"));
}

// Refused arguments append nothing; a count wait on a run that ended by itself fails the job.
TEST_F(MarkFlowHost, RefusedArgumentsAndACountWaitOnAnEndedRun) {
  OpenJob();
  cardsim_log_clear_();
  EXPECT_EQ(QZ(MarkSetCountAndWait)(0), 2u);
  EXPECT_EQ(lib->Boxes(), std::vector<std::string>{"topmost ok: Cache count cannot be less than 1"});
  EXPECT_EQ(QZ(MarkLoopStart)(0x10000, 3), 2u);
  EXPECT_EQ(QZ(MarkLoopEnd)(0x10000), 2u);
  EXPECT_EQ(QZ(MarkJumpTaskNo)(0x10000), 2u);
  EXPECT_EQ(QZ(MarkBufSmallTask)(0x10000), 2u);
  EXPECT_EQ(QZ(MarkJumpByIOInOK)(1, 1, 0x100), 2u);
  EXPECT_EQ(QZ(MarkJumpByIOInNG)(1, 1, 0x100), 2u);
  EXPECT_EQ(Ccd(0, 2, 0x10000), 2u);
  EXPECT_EQ(QZ(MarkCCD)(1, 0, std::numeric_limits<double>::quiet_NaN(), 0.0, 0, 0, 0, 0, 0, 0, 0, 0), 7u);
  EXPECT_EQ(QZ(MarkBufSmallTask)(-3), 0u);
  EXPECT_TRUE(Frames().empty());  // not even the buffer's start
  EXPECT_EQ(MarkEnd(0), 0u);
  // A run that ended by itself (an input wait timed out) never counts on: the count wait fails the job.
  ASSERT_EQ(MarkStart(1, 0, 0), 0u);
  ASSERT_EQ(QZ(MarkInputWait)(1, 1, 0, 0, 1), 0u);  // input 0 never set: 1 ms, then the wait alarm
  ASSERT_EQ(QZ(MarkSetCountAndWait)(1), 0u);
  EXPECT_EQ(QZ(MarkSetCountAndWait)(1), 20u);
  EXPECT_TRUE(qztest::HasLine(InfoLog(), "Count wait: the card's run has ended after 0 of 2 markers"));
  EXPECT_NE(MarkEnd(0), 0u);
}

// Each export's arguments and kind marker reach the card, in order (every word at its time: the unit tests).
TEST_F(MarkFlowHost, EachExportsArgumentsReachTheCardAfterItsKindMarker) {
  OpenCard();
  cardsim_set_consume_(CARDSIM_CONSUME_STALLED);  // the encoder waits never hold: nothing runs
  ASSERT_EQ(MarkStart(1, 0, 0), 0u);
  ASSERT_EQ(QZ(MarkEncWait)(100), 0u);
  ASSERT_EQ(QZ(MarkFlyOnEnc)(0x12345678, 1, 0, 0xFFFFFFFF), 0u);
  ASSERT_EQ(QZ(MarkAreaSafeFly)(1, 7, 5.0), 0u);
  ASSERT_EQ(QZ(MarkEncBufSwitch)(0), 0u);
  ASSERT_EQ(QZ(MarkFlySwitch)(3), 0u);
  ASSERT_EQ(QZ(MarkBufferCnt)(0x12345), 0u);
  ASSERT_EQ(QZ(MarkLoopStart)(3, 0x1000A), 0u);
  ASSERT_EQ(QZ(MarkLoopEnd)(3), 0u);
  ASSERT_EQ(QZ(MarkJumpByIOInNG)(0x0F, 0x05, 7), 0u);
  ASSERT_EQ(QZ(MarkBufSmallTask)(-10), 0u);
  ASSERT_EQ(QZ(MarkFlagFinish)(), 0u);
  ASSERT_EQ(QZ(MarkFlush)(), 0u);
  const std::vector<uint32_t> words = TraceWords();
  auto at = words.begin();
  for (uint32_t w : {
           kKind | 13, 0x5500FF5Fu, 0x5500FF64u,                            // EncWait: lane 0 of 95, then 100
           kKind | 13, 0x5500FF78u, 0x5500FF56u, 0x5500FF34u, 0x55000012u,  // FlyOnEnc
           kKind | 13, 0x6700C000u,                                         // AreaSafeFly: (5+10)/20, dir 7 is 1
           kKind | 12, 0x65000001u,                                         // EncBufSwitch
           kKind | 11, 0x64000001u,                                         // FlySwitch
           kKind | 6,  0x62002345u,                                         // BufferCnt
           kKind | 9,  0x5410000Au, 0x51800003u,                            // LoopStart
           kKind | 9,  0x51A10003u,                                         // LoopEnd
           kKind | 9,  0x55000F05u, 0x53000107u,                            // JumpByIOInNG
           kKind | 11, 0x66000001u,                                         // BufSmallTask(-10)
           kKind | 9,  0x51500002u,                                         // FlagFinish
       }) {
    at = std::find(at, words.end(), w);
    EXPECT_NE(at, words.end()) << std::hex << w;
  }
  EXPECT_EQ(QZ(Mark_Stop)(), 0u);
  MarkEnd(0);
}

// A fly job at 20000 pulses/s (100 a mm): each mark at its encoder position with the range word; then fly off.
TEST_F(MarkFlowHost, AFlyJobMarksEachFigureAtItsEncoderPosition) {
  OpenWithPens(0, "HowLongTimeFirstBuf=100000\nCardVertion=6\n[LASER]\nLASER_TYPE=0\n[FLY]\nnEncPPM=100\ndbMeasMarkDisMM=0\n",
               79);
  if (HasFatalFailure()) return;
  cardsim_set_encoder_speed_(20000);
  ASSERT_EQ(MarkStart(0, 0, 0), 0u);
  ASSERT_EQ(QZ(MarkEncReset)(), 0u);
  ASSERT_EQ(QZ(MarkAreaSafeFly)(1, 0, 0.0), 0u);
  ASSERT_EQ(QZ(MarkFlySwitch)(1), 0u);
  const double positions[] = {10.0, 20.0, 30.0};
  for (double mm : positions) {
    ASSERT_EQ(QZ(MarkFlyMarkPosAbs)(mm), 0u);
    const double line[] = {-5.0, mm / 10, 0.0, 5.0, mm / 10, 0.0};
    ASSERT_EQ(QZ(MarkVector)(line, 2, 1), 0u);
  }
  ASSERT_EQ(MarkEnd(0), 0u);
  EXPECT_TRUE(lib->Boxes().empty()) << lib->Boxes().front();
  uint64_t reset = 0;
  std::vector<uint64_t> on;
  std::vector<uint32_t> ran;
  for (const cardsim_trace_entry& e : TraceEntries(CARDSIM_TRACE_EXECUTED)) {
    if (e.word == 0x61000000) reset = e.time_us;
    if (e.word == 0x16000001) on.push_back(e.time_us);
    ran.push_back(e.word);
  }
  ASSERT_EQ(on.size(), 3u);
  for (size_t k = 0; k < 3; ++k) {
    QZ_TRACE(k);
    // The count at the laser's start: the target, plus at most the switch and jump (5 ms; the next is 50 ms on).
    const uint64_t pulses = (on[k] - reset) * 20000 / 1000000;
    EXPECT_GE(pulses, static_cast<uint64_t>(positions[k] * 100));
    EXPECT_LE(pulses, static_cast<uint64_t>(positions[k] * 100) + 100);
  }
  EXPECT_EQ(std::count(ran.begin(), ran.end(), 0x06000001u), 3);
  const auto off = std::find(ran.rbegin(), ran.rend(), 0x64000000u);
  EXPECT_NE(off, ran.rend());
  EXPECT_EQ(std::find(ran.rbegin(), off, 0x16000001u), off);  // no mark after it
}

// QZ_Control sends its flags and reads status bit 9; QZ_GetMarkInfo is status word 1 with the running bit.
TEST_F(MarkFlowHost, ControlAndMarkInfo) {
  OpenCard();
  // alarms: status word 0 bits.
  struct Case { uint32_t first, second; bool withState; uint32_t alarms; std::vector<Frame> sent; uint32_t state; };
  const Case cases[] = {{7, 9, true, 1u << 9, {{82, 0, 0x100}, {82, 0, 0x80}, {85, 0, 0}}, 1},
                        {0, 3, false, 0, {{82, 0, 0x80}}, 0}, {0, 0, true, 1u << 8 | 1u << 10, {{85, 0, 0}}, 0}};
  for (const Case& c : cases) {
    cardsim_set_alarms_(c.alarms, 0);
    cardsim_log_clear_();
    uint32_t state = 0xDEAD;
    EXPECT_EQ(QZ(Control)(c.first, c.second, c.withState ? &state : nullptr), 0u);
    EXPECT_EQ(Sent(), c.sent) << c.first << " " << c.second;
    EXPECT_EQ(state, c.withState ? c.state : 0xDEADu) << c.alarms;
  }
  struct InfoCase { uint32_t run, alarms, info; } infoCases[] = {
      {1, 1u << 4, 3u << 21 | 2u << 16 | 0x1200 | 1}, {2, 0xFFFFFF78, 3u << 21 | 2u << 16 | 0x1200}};
  for (const InfoCase& c : infoCases) {
    cardsim_set_run_state_(c.run, 3, 2);
    cardsim_set_status_flags_(0x12FF);
    cardsim_set_alarms_(c.alarms, 0);
    cardsim_log_clear_();
    uint32_t info = 0xDEAD;
    EXPECT_EQ(QZ(GetMarkInfo)(&info), 0u);
    EXPECT_EQ(info, c.info) << c.run;
    EXPECT_EQ(Sent(), (std::vector<Frame>{{85, 0, 0}}));
  }
}

// Without a card 1, a null out-pointer 2, neither sending anything; the job figures never ask; a lost card 1.
TEST_F(MarkFlowHost, NoCardNullPointersAndACardLostInAJob) {
  Stage(0);
  uint32_t v = 0xDEAD;
  for (uint32_t rc : {QZ(Mark_Stop)(), QZ(Control)(1, 1, &v), QZ(GetMarkInfo)(&v), QZ(GetMarkTime)(&v),
                      QZ(GetMarkLineCnt)(&v)})
    EXPECT_EQ(rc, 1u);
  EXPECT_EQ(v, 0xDEADu);
  EXPECT_TRUE(Frames().empty());
  ASSERT_EQ(InitCard(), 0u);
  cardsim_log_clear_();
  for (uint32_t rc : {QZ(GetMarkInfo)(nullptr), QZ(GetMarkTime)(nullptr), QZ(GetMarkLineCnt)(nullptr)})
    EXPECT_EQ(rc, 2u);
  EXPECT_EQ(QZ(GetMarkTime)(&v), 0u);
  EXPECT_EQ(QZ(GetMarkLineCnt)(&v), 0u);
  EXPECT_TRUE(Frames().empty() && lib->Boxes().empty());
  // A card lost in a stop or status read during a job: 1, no box, the library not left busy; it opens again.
  for (bool stop : {true, false}) {
    InitAndAccept();
    ASSERT_EQ(MarkStart(0, 0, 0), 0u);
    cardsim_fault_lose_at_(1);
    EXPECT_EQ(stop ? QZ(Mark_Stop)() : QZ(Control)(0, 0, &v), 1u) << stop;
    cardsim_fault_lose_at_(0);
    EXPECT_EQ(MarkEnd(0), 1u);
  }
  InitAndAccept();
  EXPECT_EQ(MarkStart(0, 0, 0), 0u);
  EXPECT_EQ(MarkEnd(0), 0u);
  EXPECT_TRUE(lib->Boxes().empty());
}

}  // namespace
