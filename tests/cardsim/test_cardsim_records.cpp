// The card's io debug records as a run makes them: io words at output and laser changes, positions
// at galvanometer moves, samples every period set by command 36, gap records, and a full queue.
#include <tuple>
#include <vector>

#include "cardsim_stream.h"

namespace cardsim_test {
namespace {

using Rec = std::tuple<uint32_t, uint32_t, uint32_t>;  // kind, dt (48 MHz ticks), value

class CardsimRecords : public CardsimStream {
 protected:
  // Every queued record, read through command 87 in the long form.
  static std::vector<Rec> Drain() {
    std::vector<Rec> out;
    for (;;) {
      const Reply r = Exchange(87);
      if (r.r0 == 0) return out;
      const uint32_t field = (r.r0 >> 24) & 0xF;
      const uint32_t kind = field == 0xA ? 3 : field == 0xB ? 1 : field == 0xC ? 2 : field == 0x9 ? 4 : 0;
      out.emplace_back(kind, r.r0 & 0xFFFFFF, r.r1);
    }
  }
};

TEST_F(CardsimRecords, ARunGivesIoPositionAndSampleRecordsAtItsTimes) {
  ASSERT_EQ(0u, cardsim_set_card_version(kVersionOfLayout[1]));
  Open(CardType::Usb);
  ASSERT_EQ(0u, Exchange(36, 0, 5 << 8).rc);      // samples every 50 µs
  ASSERT_EQ(0u, Exchange(82, 1, 0x10).rc);        // records on
  Run({{1, 0x04000002},                    // 21-bit codes
       {10, 0x01100000}, {10, 0x015FFFE0},  // a move: the top 16 bits of each code
       {20, 0x16000001},                    // laser 0's pulses start
       {60, 0x16000000},                    // and stop
       {70, 0x20004004},                    // output 2
       {120, kEnd}},
      CardType::Usb, 1);
  const std::vector<Rec> got = Drain();
  const std::vector<Rec> want = {
      {3, 0, 1},                               // the job
      {2, 0, 0},                               // the sample at 0
      {1, 10 * 48, 0x8000}, {1, 0, 0xFFFF8000},  // one record per galvanometer word at 10
      {3, 10 * 48, 3}, {2, 30 * 48, 0},        // laser on at 20, the sample at 50
      {3, 10 * 48, 1}, {3, 10 * 48, 5},        // laser off at 60, output 1 at 70
      {2, 30 * 48, 0}, {3, 20 * 48, 4},        // the sample at 100; the end at 120
  };
  EXPECT_EQ(want, got);
}

TEST_F(CardsimRecords, GapsAreBridgedAndAFullQueueCountsWhatItDrops) {
  cardsim::DebugRecordModel m;
  m.SetOn(true);
  m.IoWord(1);
  m.RunOpened();
  m.SetKinds(0);                       // no samples
  m.StreamAt(400000, 0, 0);            // 0.4 s: more than the 24-bit dt holds
  m.IoWord(0);
  uint32_t r0 = 0, r1 = 0;
  m.Next(r0, r1);
  EXPECT_EQ(std::pair(r0, r1), std::pair(0xAA000000u, 1u));
  m.Next(r0, r1);
  EXPECT_EQ(std::pair(r0, r1), std::pair(0xA9FFFFFFu, 0u));
  m.Next(r0, r1);
  EXPECT_EQ(std::pair(r0, r1), std::pair(0xAA000000u | (400000u * 48 - 0xFFFFFF), 0u));
  m.Next(r0, r1);
  EXPECT_EQ(r0, 0u);
  // Samples of a long run fill the queue; the rest are counted, the run never waits.
  m.IoWord(1);
  m.RunOpened();
  m.SetKinds(2);
  m.StreamAt(80ull * (cardsim::DebugRecordModel::kCapacity + 99), 1, 2);
  EXPECT_EQ(m.Queued(), cardsim::DebugRecordModel::kCapacity);
  EXPECT_EQ(m.Overflow(), 101u);  // kCapacity + 100 samples due, one place taken by the io record
}

}  // namespace
}  // namespace cardsim_test
