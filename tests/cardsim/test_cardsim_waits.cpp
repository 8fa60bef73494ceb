// The executor during a run: register writes, waits, jumps, the camera's steps, resident programs, debug
// records (commands 19 and 87). (Input waits: e2e CardWaits.)
#include <tuple>
#include <vector>

#include "cardsim_stream.h"

namespace cardsim_test {
namespace {

constexpr uint32_t kCmdWaitReason = 19;
constexpr uint32_t kFlagClearAlarm = 0x400;
constexpr uint32_t kTimeoutAlarm = 1u << 5;
constexpr uint32_t kLabel = 0x51800000, kJump = 0x51A00000;

using CardsimWaits = CardsimStream;
using CardsimFlow = CardsimStream;

TEST_F(CardsimWaits, RegisterWritesAreRecordedWithTheLanesTheyCarry) {
  std::vector<Timed> words;
  Lanes(words, 1, 0x1E, 0);  // the reset sequence
  words.push_back({2, 0x58000001});
  Lanes(words, 3, 0x11223344, 0x55667788);
  words.push_back({4, 0x58000003});
  words.push_back({5, 0x51B0000B});  // the input condition of the last port write, label 5
  words.insert(words.end(), {{6, 0x52000000}, {6, 0x5300AABB}, {6, 0x52000001}, {6, 0x5300CCDD}, {6, 0x52000005},
                             {7, 0x51700000}, {8, kEnd}});
  Run(words);
  EXPECT_EQ((std::pair<uint32_t, uint32_t>{1, 0}), EndCodes());
  ExpectRecords({{2, 0x58000001, CARDSIM_REG_PORT, 1, 0x1E, 0, 0},
                 {4, 0x58000003, CARDSIM_REG_PORT, 3, 0x11223344, 0x55667788, 0},
                 {5, 0x51B0000B, CARDSIM_REG_IO_COND, 3, 0x11223344, 0x55667788, 5},
                 {7, 0x51700000, CARDSIM_REG_16, 5, 0x1122CCAA, 0x5566DDBB, 0}},  // lanes 0 and 1 rewritten
                ReadAll<cardsim_reg_write>(cardsim_reg_write_count(), cardsim_reg_write_get),
                [](const cardsim_reg_write& r) {
                  return std::tuple(r.time_us, r.word, r.kind, r.port, r.a, r.b, r.flag);
                });
  cardsim_reg_write r{};
  EXPECT_EQ(1u, cardsim_reg_write_get(4, &r));
  EXPECT_EQ(0u, cardsim_wait_count());
  EXPECT_EQ(words.size(), cardsim_trace_count(1));
}

TEST_F(CardsimWaits, TimeOutsEndTheRunAndWaitsTheCardDoesNotModelPass) {
  struct Case {
    const char* what;
    std::vector<Timed> words;  // a wait at 12 on inputs 0, then output 1 at 20 and the end at 30
    uint32_t step, stepped;    // first step, then the time to the end
    uint32_t waitEnd;
    uint64_t held;
    uint32_t timeout;
    uint32_t endCode, subCode;
  } cases[] = {
      {"timed out", {{11, 0x56000064}, {11, 0x58000111}, {12, 0x51618020}}, 112, 0,
       CARDSIM_WAIT_TIMED_OUT, 100, 100, 0, 5},
      {"zero time-out: a test, latched, no alarm", {{11, 0x56000064}, {11, 0x58001111}, {12, 0x51618020}}, 12, 20,
       CARDSIM_WAIT_TESTED, 0, 0, 1, 0},
      {"untimed, stopped", {{11, 0x58000101}, {12, 0x51610020}}, 5000, 0, CARDSIM_WAIT_RUN_END, 4988,
       CARDSIM_NO_TIMEOUT, 2, 0},
      {"scanner arrival after a jump", {{11, 0x560F4240}, {12, 0x51608001}}, 20, 10, CARDSIM_WAIT_PASSED, 0,
       1000000, 1, 0},
  };
  for (const auto& c : cases) {
    cardsim_reset();
    std::vector<Timed> words;
    Lanes(words, 10, 0x1, 0x1);
    words.insert(words.end(), c.words.begin(), c.words.end());
    words.insert(words.end(), {{20, 0x20002002}, {30, kEnd}});
    RunStalled(words);
    ASSERT_EQ(0u, cardsim_step_us(c.step - 1)) << c.what;
    EXPECT_EQ(uint32_t{CARDSIM_PHASE_RUNNING}, Fifo().phase) << c.what;
    ASSERT_EQ(0u, cardsim_step_us(1)) << c.what;
    if (c.stepped) {
      ASSERT_EQ(0u, cardsim_step_us(c.stepped)) << c.what;
    }
    if (c.endCode == 2) Flag(kFlagStop);
    EXPECT_EQ((std::pair<uint32_t, uint32_t>{c.endCode, c.subCode}), EndCodes()) << c.what;
    ASSERT_EQ(1u, cardsim_wait_count()) << c.what;
    const cardsim_wait w = WaitAt(0);
    EXPECT_EQ(std::tuple(c.waitEnd, c.held, c.timeout), std::tuple(w.end, w.held_us, w.timeout_us)) << c.what;
    EXPECT_EQ(c.endCode == 1 ? 2u : 0u, Outputs()) << c.what;
    const bool timedOut = c.waitEnd == CARDSIM_WAIT_TIMED_OUT;
    EXPECT_EQ(timedOut ? kTimeoutAlarm : 0u, Status().first & kTimeoutAlarm) << c.what;
    EXPECT_EQ(timedOut ? 0x20u : 0u, Exchange(kCmdWaitReason).r0) << c.what;
    // The alarm clear (0, then 1) takes the alarm and the reason away.
    Exchange(82, 0, kFlagClearAlarm);
    Exchange(82, 1, kFlagClearAlarm);
    EXPECT_EQ(0u, Status().first & kTimeoutAlarm) << c.what;
    EXPECT_EQ(0u, Exchange(kCmdWaitReason).r0) << c.what;
  }
}

TEST_F(CardsimFlow, AJumpToALabelNotYetReceivedWaitsForIt) {
  RunStalled({{1, kJump | 9}, {2, 0x62000001}});  // padded: the label is not in this block
  ASSERT_EQ(0u, cardsim_step_us(50));
  EXPECT_EQ(0u, Fifo().count_markers);
  EXPECT_EQ(uint32_t{CARDSIM_PHASE_RUNNING}, Fifo().phase);
}

TEST_F(CardsimFlow, CameraStepsAreRecordedWithTheirRegisters) {
  const std::vector<Timed> step = {{1, 0x33000000}, {2, 0x560F4240}, {3, 0x51608008}, {4, 0x31001234},
                                   {4, 0x32005678}, {4, 0x34004C42}, {5, 0x52000000}, {5, 0x53000000},
                                   {5, 0x52000001}, {5, 0x53000105}, {6, 0x52000003}, {7, 0x51700000},
                                   {8, kEnd}};
  RunStalled(step);
  ASSERT_EQ(0u, cardsim_step_us(100));
  EXPECT_EQ((std::pair<uint32_t, uint32_t>{1, 0}), EndCodes());
  ASSERT_EQ(1u, cardsim_camera_count());
  cardsim_camera cam{};
  ASSERT_EQ(0u, cardsim_camera_get(0, &cam));
  EXPECT_EQ(std::tuple(uint64_t{4}, 0x1234u, 0x5678u, 0x34004C42u, 0u, 0x105u),
            std::tuple(cam.time_us, cam.x, cam.y, cam.para, cam.reg0, cam.reg1));
}

// A downloaded program stays resident past its end word; its slot tags the executed trace; a stop ends it.
TEST_F(CardsimFlow, ResidentProgramEntersSlotsByTheInputsOrTheStoredLabel) {
  cardsim_set_inputs(0x7);  // slot 3 under the mask 0x1E
  RunStalled({{1, 0x59100000}, {1, 0x5920001E}, {2, 0x51A20000}, {3, kLabel | 6}, {4, 0x62000006},
              {5, 0x59400009}, {6, 0x59500000}, {7, 0x51A20000}, {8, kLabel | 9}, {9, 0x62000009},
              {10, kJump | 6}, {11, kEnd}});
  EXPECT_EQ((std::pair<uint32_t, uint32_t>{1, 0}), EndCodes());
  EXPECT_EQ(Fifo().bytes_consumed, Fifo().bytes_received);
  ASSERT_EQ(0u, cardsim_step_us(20));
  std::vector<uint32_t> markers, tags;
  for (const cardsim_trace_entry& e : Executed(0x62)) {
    markers.push_back(e.word & 0xFF);
    tags.push_back(e.reserved);
  }
  EXPECT_EQ(markers, (std::vector<uint32_t>{6, 9, 6, 9, 6, 9}));  // a round every 6 µs
  EXPECT_EQ(tags, (std::vector<uint32_t>{4, 0, 0, 0, 0, 0}));
  Flag(kFlagStop);
  EXPECT_EQ(1u, cardsim_step_us(20));
  EXPECT_EQ((std::pair<uint32_t, uint32_t>{1, 0}), EndCodes());
}

using Rec = std::tuple<uint32_t, uint32_t, uint32_t>;  // kind, dt (48 MHz ticks), value

// The debug records a run makes (io words, positions, samples, gaps) and a full queue.
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
  for (const auto& want : {std::pair(0xAA000000u, 1u), std::pair(0xA9FFFFFFu, 0u),
                           std::pair(0xAA000000u | (400000u * 48 - 0xFFFFFF), 0u)}) {
    m.Next(r0, r1);
    EXPECT_EQ(std::pair(r0, r1), want);
  }
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
