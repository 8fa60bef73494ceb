// The extra axes in the card's time during a run: the platform wait (source 4) and axis 1's position wait (2).
#include <tuple>
#include <vector>

#include "cardsim_stream.h"

namespace cardsim_test {
namespace {

constexpr uint32_t kZero = 8388607;
constexpr uint32_t kVelocity100 = 0x42000000 | 500;  // axis 1: 100000 pulses per second
constexpr uint32_t kStart1 = 0x84000001, kAskPlatform = 0x85000001;

constexpr uint32_t Target1(uint32_t code) { return 0x40000000 | code; }

// A wait on `source` at t + 2, its mask a and values b set up from t.
void Wait(std::vector<Timed>& w, uint64_t t, uint32_t source, uint32_t a, uint32_t b) {
  Lanes(w, t, a, b);
  w.push_back({t + 1, 0x58000100 | source});
  w.push_back({t + 2, 0x51600020 | (source * 2) << 15});
}

class CardsimAxes : public CardsimStream {
 protected:
  static cardsim_axis Axis1() {
    cardsim_axis a{};
    EXPECT_EQ(0u, cardsim_axis_get(0, &a));
    return a;
  }
  // Card times of the count markers run.
  static std::vector<uint64_t> Markers() {
    std::vector<uint64_t> out;
    for (const cardsim_trace_entry& e : Executed(0x62)) out.push_back(e.time_us);
    return out;
  }
};

// Axis 1 starts at 0 for 1000 pulses (10 ms); the platform wait begins at 12.
TEST_F(CardsimAxes, PlatformWaitHoldsUntilEveryAxisRestsAndRunsAheadWhenConsumedAtOnce) {
  for (bool asked : {true, false}) {
    cardsim_reset();
    std::vector<Timed> w = {{0, kVelocity100}, {0, Target1(kZero + 1000)}, {0, kStart1}};
    if (asked) w.push_back({5, kAskPlatform});
    Wait(w, 10, 4, 0x11, 0x10);
    w.insert(w.end(), {{13, 0x62000001}, {14, kEnd}});
    RunStalled(w);
    ASSERT_EQ(0u, cardsim_step_us(6000));
    EXPECT_EQ(kZero + 600, Axis1().position) << asked;  // the axis moves in the run's time
    EXPECT_TRUE(Markers().empty()) << asked;
    ASSERT_EQ(0u, cardsim_step_us(20000));
    if (!asked) {
      // Without the request the platform never reports in place.
      EXPECT_TRUE(Markers().empty());
      EXPECT_EQ(uint32_t{CARDSIM_PHASE_RUNNING}, Fifo().phase);
      Flag(kFlagStop);
      EXPECT_EQ(uint32_t{CARDSIM_WAIT_RUN_END}, WaitAt(0).end);
      continue;
    }
    EXPECT_EQ(Markers(), (std::vector<uint64_t>{10001}));
    const cardsim_wait wait = WaitAt(0);
    EXPECT_EQ(std::tuple(uint32_t{CARDSIM_WAIT_MET}, uint64_t{9988}, 4u, 0x10u),
              std::tuple(wait.end, wait.held_us, wait.source, wait.inputs));
    EXPECT_EQ(std::tuple(kZero + 1000, 0u), std::tuple(Axis1().position, Axis1().moving));
    EXPECT_EQ((std::pair<uint32_t, uint32_t>{1, 0}), EndCodes());
  }

  // Consumed at once, a platform wait behind an 84 s move (8388607 pulses) is met at once, not after 84 host s.
  cardsim_reset();
  std::vector<Timed> w = {{0, kVelocity100}, {0, Target1(0xFFFFFE)}, {0, kStart1}, {5, kAskPlatform}};
  Wait(w, 10, 4, 0x11, 0x10);
  w.insert(w.end(), {{13, 0x62000001}, {14, kEnd}});
  RunStalled(w);
  cardsim_set_consume(CARDSIM_CONSUME_AT_ONCE);
  EXPECT_EQ((std::pair<uint32_t, uint32_t>{1, 0}), EndCodes());
  ASSERT_EQ(Markers().size(), 1u);
  EXPECT_GT(Markers()[0], 83886000u);
  EXPECT_EQ(std::tuple(0xFFFFFEu, 0u), std::tuple(Axis1().position, Axis1().moving));
}

// Axis 1 runs 2000 pulses in 20 ms. A wait for a code ahead holds until the axis gets there; a
// wait for a code it crossed on this move is met at once; one beyond the move's end never is.
TEST_F(CardsimAxes, PositionWaitOfAxisOneCountsPassing) {
  std::vector<Timed> w = {{0, kVelocity100}, {0, Target1(kZero + 2000)}, {0, kStart1}};
  Wait(w, 8, 2, 0xFFFFFF, kZero + 500);
  w.push_back({11, 0x62000001});
  Wait(w, 100, 2, 0xFFFFFF, kZero + 300);  // crossed at 3 ms
  w.push_back({103, 0x62000002});
  Wait(w, 200, 2, 0xFFFFFF, kZero + 2500);
  w.insert(w.end(), {{203, 0x62000003}, {204, kEnd}});
  RunStalled(w);
  ASSERT_EQ(0u, cardsim_step_us(4000));
  EXPECT_TRUE(Markers().empty());
  ASSERT_EQ(0u, cardsim_step_us(60000));
  // Held from 10 until 5000 (500 pulses); the second wait after 100 - 11 µs more of stream time.
  EXPECT_EQ(Markers(), (std::vector<uint64_t>{5001, 5093}));
  EXPECT_EQ(std::tuple(uint32_t{CARDSIM_WAIT_MET}, uint64_t{4990}, kZero + 500),
            std::tuple(WaitAt(0).end, WaitAt(0).held_us, WaitAt(0).inputs));
  EXPECT_EQ(std::tuple(uint32_t{CARDSIM_WAIT_MET}, uint64_t{0}), std::tuple(WaitAt(1).end, WaitAt(1).held_us));
  EXPECT_EQ(kZero + 2000, Axis1().position);
  EXPECT_EQ(uint32_t{CARDSIM_PHASE_RUNNING}, Fifo().phase);  // the third never comes
  Flag(kFlagStop);
  EXPECT_EQ(uint32_t{CARDSIM_WAIT_RUN_END}, WaitAt(2).end);
}

}  // namespace
}  // namespace cardsim_test
