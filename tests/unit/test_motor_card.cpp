// Motor words and rotation marking run on the simulated card: a job opened through the floor API
// whose words move the card's axes, held where the stream waits for the platform or for axis 1.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <tuple>
#include <vector>

#include "axis/axis_records.h"
#include "cardlink/portlane.h"
#include "frame/wait_desc.h"
#include "mark/mark_floor.h"
#include "mark/motor_words.h"
#include "mark/rot_mark.h"
#include "test_mark_card_fixture.h"

namespace {

constexpr uint32_t kZero = 8388607;
constexpr uint32_t kPlatformSource = 4, kPositionSource = 2;

class MotorCardTest : public qztest::MarkCardTest {
 protected:
  void SetUp() override {
    Open(85, "", 1);
    InitWaitDescs();
    // Three axes of 100 pulses per mm, maximum velocity 300 and acceleration 500.
    g_SystemPara.CardLinkCfg.nAxisCount = 3;
    NxaAxisRecord r;
    r.dbPulsePerUnit = 100;
    r.dbMaxVel = 300;
    r.dbMaxAcc = 500;
    for (uint32_t k = 0; k < 3; ++k) NxaStoreAxis(k, r);
    Begin(1);
  }
  void TearDown() override {
    SetRotateMarkPara(0, 0, 0, 0);
    for (uint32_t k = 0; k < kNxaAxisMax; ++k) NxaStoreAxis(k, NxaAxisRecord{});
    MarkCardTest::TearDown();
  }
  // One mark-list call of kind `kind` whose body is f.
  template <class F>
  void Call(uint32_t kind, F&& f) {
    CMarkLock lock;
    ASSERT_EQ(MarkBufferBefore(kind), 0u);
    f();
  }
  cardsim_axis Axis(uint32_t k) {
    cardsim_axis a{};
    EXPECT_EQ(cardsim_axis_get_(k, &a), 0u);
    return a;
  }
  std::vector<cardsim_wait> Waits(uint32_t source) {
    std::vector<cardsim_wait> out;
    for (uint32_t i = 0; i < cardsim_wait_count_(); ++i) {
      cardsim_wait w{};
      EXPECT_EQ(cardsim_wait_get_(i, &w), 0u);
      if (w.source == source && w.reason == 0x20) out.push_back(w);  // not the start latch 0x51620100
    }
    return out;
  }
  // The executed words that `keep` selects, with their card times.
  template <class Keep>
  std::vector<cardsim_trace_entry> Executed(Keep keep) {
    std::vector<cardsim_trace_entry> out;
    for (uint32_t i = 0; i < cardsim_trace_count_(CARDSIM_TRACE_EXECUTED); ++i) {
      cardsim_trace_entry e{};
      EXPECT_EQ(cardsim_trace_get_(CARDSIM_TRACE_EXECUTED, i, &e), 0u);
      if (keep(e.word)) out.push_back(e);
    }
    return out;
  }
};

// Axes 1 and 3 start (500 and 200 pulses at 10000 pulses per second); the next MarkMotorStart's
// platform wait holds the job until both rest, then axis 1 goes back to 0.
TEST_F(MotorCardTest, MarkMotorStartMovesTheAxesAndTheNextWaitsUntilThePlatformRests) {
  const int32_t both[3] = {1, 0, 1}, first[3] = {1, 0, 0};
  const double out[4] = {5, 0, -2, 0}, back[4] = {0, 0, 0, 0}, vel[4] = {100, 100, 100, 0},
               acc[4] = {500, 500, 500, 0};
  Call(KIND_MOTOR, [&] {
    ASSERT_EQ(MarkMotorStart(both, out, vel, acc), 0u);
    AppendStreamWord(10, 0, 0x62000001);
  });
  Call(KIND_MOTOR, [&] {
    ASSERT_EQ(MarkMotorStart(first, back, vel, acc), 0u);
    AppendStreamWord(10, 0, 0x62000002);
  });
  ASSERT_EQ(End(), 0u);
  EXPECT_EQ(g_FifoData.nFinalStatus & 0xF00, 0x100u);
  const auto starts = Executed([](uint32_t w) { return w >> 24 == 0x84; });
  ASSERT_EQ(starts.size(), 2u);
  EXPECT_EQ(starts[0].word, 0x84000005u);
  EXPECT_EQ(starts[1].word, 0x84000001u);
  // Axis 1 took 50 ms; the second start follows its arrival by the words of the wait and the loads.
  const uint64_t gap = starts[1].time_us - starts[0].time_us;
  EXPECT_GE(gap, 50000u);
  EXPECT_LT(gap, 50100u);
  const std::vector<cardsim_wait> waits = Waits(kPlatformSource);
  ASSERT_EQ(waits.size(), 2u);
  for (const cardsim_wait& w : waits) {
    EXPECT_EQ(w.end, uint32_t{CARDSIM_WAIT_MET});
    EXPECT_EQ(w.inputs, 0x10u);
  }
  EXPECT_EQ(waits[0].held_us, 0u);  // nothing moved yet
  EXPECT_GT(waits[1].held_us, 49900u);
  EXPECT_EQ(Axis(1).position, kZero);  // axis 2 was not enabled
  EXPECT_EQ(Axis(2).position, kZero - 200);
  // The run ended with axis 1 on its way back.
  EXPECT_EQ(std::tuple(Axis(0).moving, Axis(0).target), std::tuple(1u, kZero));
  ASSERT_EQ(cardsim_axis_step_us_(50000), 0u);
  EXPECT_EQ(std::tuple(Axis(0).moving, Axis(0).position), std::tuple(0u, kZero));
}

// Rotation marking with two segments appended by the test (Y rising 100 codes a segment): the
// positioning move, the marking move, the wait until axis 1 reaches the first segment, the ramps of
// the replaced axis Y, all run on the card.
TEST_F(MotorCardTest, RotationJobMovesAxisOneAcrossTheSegmentsAndWaitsForItsArrival) {
  SetRotateMarkPara(1, 1, 100, 1);
  g_SystemPara.bNewBoxCali = 0;  // 16-bit codes
  Begin(1);  // the rotation state is taken at the job start
  Call(KIND_BUFFER, [] {
    for (uint32_t i = 0; i < 2; ++i) {
      AppendStreamWord(1000, 0, SW_ROT_SEGMENT_1);
      AppendStreamWord(10, 0, SW_ROT_SEGMENT_2);
      AppendStreamWord(500, 0, 0x01010000u | (33767 + 100 * i));
      AppendStreamWord(500, 0, SW_ROT_SEGMENT_3);
    }
  });
  Call(KIND_BUFFER, [] { AppendStreamWord(10, 0, 0x62000001); });  // its kind marker closes the segments
  ASSERT_EQ(End(), 0u);
  EXPECT_EQ(g_FifoData.nFinalStatus & 0xF00, 0x100u);

  // The moves' targets: the positioning move before the segments, the marking move beyond them.
  const auto targets = Executed([](uint32_t w) { return w >> 24 == 0x40; });
  ASSERT_EQ(targets.size(), 2u);  // positioning, marking (the final wait loads nothing)
  const uint32_t p1 = targets[0].word & 0xFFFFFF, p3 = targets[1].word & 0xFFFFFF;
  EXPECT_LT(p1, p3);
  EXPECT_EQ(Axis(0).position, p3);
  EXPECT_EQ(Axis(0).moving, 0u);

  // Axis 1's position wait held until the axis reached the first segment's code.
  const std::vector<cardsim_wait> at = Waits(kPositionSource);
  ASSERT_EQ(at.size(), 1u);
  EXPECT_EQ(at[0].end, uint32_t{CARDSIM_WAIT_MET});
  EXPECT_GT(at[0].values, p1);
  EXPECT_LT(at[0].values, p3);
  EXPECT_LE(std::abs(static_cast<int64_t>(at[0].inputs) - at[0].values), 1);
  EXPECT_GT(at[0].held_us, 1000u);
  const uint64_t arrived = at[0].time_us + at[0].held_us;
  // Every platform wait was met.
  for (const cardsim_wait& w : Waits(kPlatformSource)) EXPECT_EQ(w.end, uint32_t{CARDSIM_WAIT_MET});

  // The replaced axis: none of the job's own words; a ramp per segment after the arrival, one word
  // every 10 µs, rising from the resting code, and back to it.
  const auto ramp = Executed([](uint32_t w) { return (w & 0xFFFF0000) == 0x01010000; });
  const uint32_t rest = static_cast<uint32_t>(g_RotMark.Settings().startCode);
  ASSERT_GT(ramp.size(), 200u);
  for (const auto& e : ramp) {
    const uint32_t code = e.word & 0xFFFF;
    EXPECT_TRUE(code >= rest && code < rest + 100) << std::hex << e.word;
    EXPECT_GT(e.time_us, arrived);
  }
  EXPECT_EQ(ramp[1].time_us - ramp[0].time_us, 10u);
  EXPECT_GT(ramp[99].word & 0xFFFF, rest + 30);
  EXPECT_EQ(ramp.back().word & 0xFFFF, rest);
}

}  // namespace
