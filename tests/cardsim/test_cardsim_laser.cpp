// The card's lasers during a run: segments, power and output records, and the state now.
#include <tuple>
#include <vector>

#include "cardsim_stream.h"

namespace cardsim_test {
namespace {

class CardsimLaser : public CardsimStream {
 protected:
  static cardsim_laser_segment Segment(uint32_t laser, uint32_t index) {
    cardsim_laser_segment g{};
    EXPECT_EQ(0u, cardsim_laser_segment_get(laser, index, &g)) << laser << " " << index;
    return g;
  }
  static cardsim_laser Laser(uint32_t laser) {
    cardsim_laser l{};
    EXPECT_EQ(0u, cardsim_laser_state(laser, &l));
    return l;
  }
};

void ExpectSegment(const cardsim_laser_segment& e, const cardsim_laser_segment& g, const char* what) {
  EXPECT_DOUBLE_EQ(e.period_us, g.period_us) << what;
  EXPECT_EQ(std::tuple(e.on_us, e.off_us, e.high_ticks, e.low_ticks, e.da_on, e.da_off, e.power_words, e.end),
            std::tuple(g.on_us, g.off_us, g.high_ticks, g.low_ticks, g.da_on, g.da_off, g.power_words, g.end))
      << what;
}

TEST_F(CardsimLaser, SegmentsPowerAndOutputsOfBothLasers) {
  const std::vector<Timed> words = {
      {5, 0x20020020},                                                      // output 5 (enable) set
      {10, 0x29000800}, {10, 0x11000030}, {10, 0x12000060}, {10, 0x16000001},  // laser 0: 3 us
      {11, 0x22200200}, {12, 0x22200000},                                   // strobe on output 31
      // Laser 1 starts before its times and power at the same microsecond: they are its start.
      {15, 0x1C000001}, {15, 0x18000018}, {15, 0x19000018}, {15, 0x29020FFF},
      {20, 0x29000400}, {20, 0x29010123},                                   // channel 1: no laser's
      {25, 0x16000000}, {30, 0x1C000000}, {30, 0x20020000},
      {35, 0x13000005}, {35, 0x14000003}, {35, 0x1A000000}, {35, 0x1B000007},  // idle times
      {40, 0x16000001}, {40, 0x29000100}, {45, 0x11000060},                  // a new period: split
      {50, kEnd},
  };
  Run(words);
  EXPECT_EQ((std::pair<uint32_t, uint32_t>{1, 0}), EndCodes());

  const cardsim_laser_segment laser0[] = {
      {10, 25, 3.0, 48, 96, 0x800, 0x400, 1, CARDSIM_SEGMENT_STOPPED},
      {40, 45, 3.0, 48, 96, 0x100, 0x100, 0, CARDSIM_SEGMENT_TIMING},
      {45, 50, 4.0, 96, 96, 0x100, 0x100, 0, CARDSIM_SEGMENT_RUN_END},
  };
  ASSERT_EQ(3u, cardsim_laser_segment_count(0));
  for (uint32_t i = 0; i < 3; ++i) ExpectSegment(laser0[i], Segment(0, i), "laser 0");
  ASSERT_EQ(1u, cardsim_laser_segment_count(1));
  ExpectSegment({15, 30, 1.0, 24, 24, 0xFFF, 0xFFF, 0, CARDSIM_SEGMENT_STOPPED}, Segment(1, 0), "laser 1");

  ExpectRecords({{10, 0, 0x800}, {15, 2, 0xFFF}, {20, 0, 0x400}, {20, 1, 0x123}, {40, 0, 0x100}},
                ReadAll<cardsim_power_change>(cardsim_power_change_count(), cardsim_power_change_get),
                [](const cardsim_power_change& p) { return std::tuple(p.time_us, p.channel, p.da); });
  ExpectRecords({{5, 0x20020020, 0x20, 0x20, 0x20},
                 {11, 0x22200200, 0x80000000, 0x80000000, 0x80000020},
                 {12, 0x22200000, 0x80000000, 0, 0x20},
                 {30, 0x20020000, 0x20, 0, 0}},
                ReadAll<cardsim_output_change>(cardsim_output_change_count(), cardsim_output_change_get),
                [](const cardsim_output_change& o) {
                  return std::tuple(o.time_us, o.word, o.mask, o.values, o.outputs);
                });

  // The state now: pulse high, low, idle high, idle low, power channel, DA, power words, segments,
  // power time; not running, no on time.
  using State = std::tuple<uint32_t, uint32_t, uint32_t, uint32_t, uint32_t, uint32_t, uint32_t, uint32_t, uint64_t,
                           uint32_t, uint64_t>;
  const State state[] = {{96, 96, 5, 3, 0, 0x100, 3, 3, 40, 0, 0}, {24, 24, 0, 7, 2, 0xFFF, 1, 1, 15, 0, 0}};
  const double period[] = {4.0, 1.0};
  for (uint32_t laser = 0; laser < 2; ++laser) {
    const cardsim_laser l = Laser(laser);
    EXPECT_EQ(state[laser], State(l.pulse_high_ticks, l.pulse_low_ticks, l.idle_high_ticks, l.idle_low_ticks,
                                  l.power_channel, l.power_da, l.power_words, l.segment_count, l.power_time_us,
                                  l.pulse_running, l.on_since_us))
        << laser;
    EXPECT_DOUBLE_EQ(period[laser], l.period_us) << laser;
  }

  // The next buffer open starts the lasers and their records over.
  ASSERT_EQ(0u, Exchange(83, 1, 0).rc);
  EXPECT_EQ(std::tuple(0u, 0u, 0u, 0u, 0u), std::tuple(cardsim_laser_segment_count(0), cardsim_power_change_count(),
                                                       cardsim_output_change_count(), Laser(0).power_da,
                                                       Laser(1).pulse_high_ticks));
}

TEST_F(CardsimLaser, StopClosesTheOpenSegmentsAtTheStopTime) {
  RunStalled({{100, 0x11000030}, {100, 0x12000030}, {100, 0x16000001}, {200, 0x1C000001}, {1000, 0x16000000},
              {2000, kEnd}});
  ASSERT_EQ(0u, cardsim_step_us(300));
  // Open: the off time is the executor's clock.
  ExpectSegment({100, 300, 2.0, 48, 48, 0, 0, 0, CARDSIM_SEGMENT_OPEN}, Segment(0, 0), "laser 0 running");
  ExpectSegment({200, 300, 0.0, 0, 0, 0, 0, 0, CARDSIM_SEGMENT_OPEN}, Segment(1, 0), "laser 1 running");
  EXPECT_EQ(1u, Laser(0).pulse_running);
  EXPECT_EQ(100u, Laser(0).on_since_us);
  ASSERT_EQ(0u, cardsim_step_us(50));
  Flag(kFlagStop);
  EXPECT_EQ((std::pair<uint32_t, uint32_t>{2, 0}), EndCodes());
  ExpectSegment({100, 350, 2.0, 48, 48, 0, 0, 0, CARDSIM_SEGMENT_RUN_END}, Segment(0, 0), "laser 0 stopped");
  ExpectSegment({200, 350, 0.0, 0, 0, 0, 0, 0, CARDSIM_SEGMENT_RUN_END}, Segment(1, 0), "laser 1 stopped");
  EXPECT_EQ(std::tuple(0u, 0u, 1u),
            std::tuple(Laser(0).pulse_running, Laser(1).pulse_running, cardsim_laser_segment_count(0)));
}

}  // namespace
}  // namespace cardsim_test
