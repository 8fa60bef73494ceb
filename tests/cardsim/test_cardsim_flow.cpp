// The card's executor over control flow: loops, jumps, input tests with the jump registers, encoder
// waits on the conveyor, the camera's condition and steps, and the execution trace in card time.
#include <ostream>
#include <tuple>
#include <vector>

#include "cardsim_stream.h"

namespace cardsim_test {

inline bool operator==(const Timed& a, const Timed& b) { return a.t == b.t && a.word == b.word; }
inline void PrintTo(const Timed& w, std::ostream* os) {
  *os << "{" << w.t << ", 0x" << std::hex << w.word << std::dec << "}";
}

namespace {

constexpr uint32_t kLabel = 0x51800000, kJump = 0x51A00000;

void Registers(std::vector<Timed>& w, uint64_t t, uint32_t a, uint32_t b) {
  for (uint32_t lane = 0; lane < 4; ++lane) {
    w.push_back({t, 0x52000000 | lane});
    w.push_back({t, 0x55000000 | ((a >> 8 * lane) & 0xFF) << 8 | ((b >> 8 * lane) & 0xFF)});
  }
}

class CardsimFlow : public CardsimStream {
 protected:
  static void Run(const std::vector<Timed>& words) {
    cardsim_set_consume(CARDSIM_CONSUME_STALLED);
    CardsimStream::Run(words, CardType::Pcie, 2);
  }
  // The executed words of one opcode (or all with 0), with their card times.
  static std::vector<Timed> Executed(uint32_t opcode) {
    std::vector<Timed> out;
    for (uint32_t i = 0; i < cardsim_trace_count(CARDSIM_TRACE_EXECUTED); ++i) {
      cardsim_trace_entry e{};
      EXPECT_EQ(0u, cardsim_trace_get(CARDSIM_TRACE_EXECUTED, i, &e));
      if (opcode == 0 || e.word >> 24 == opcode) out.push_back({e.time_us, e.word});
    }
    return out;
  }
};

TEST_F(CardsimFlow, ALoopRunsItsBodyCountTimesWithTheOutputPulseAndTheMarker) {
  Run({{1, 0x54100003}, {2, kLabel | 1}, {3, 0x62000007}, {4, 0x20001001}, {5, 0x20001000},
       {6, 0x54200000}, {6, 0x51A10001}, {7, 0x54300000}, {8, kEnd}});
  ASSERT_EQ(0u, cardsim_step_us(100));
  EXPECT_EQ((std::pair<uint32_t, uint32_t>{1, 0}), EndCodes());
  EXPECT_EQ(3u, Fifo().count_markers);
  EXPECT_EQ(Executed(0x62), (std::vector<Timed>{{3, 0x62000007}, {7, 0x62000007}, {11, 0x62000007}}));
  EXPECT_EQ(6u, cardsim_output_change_count());
  EXPECT_EQ(Executed(0x51).back(), (Timed{16, kEnd}));
  // The decoded trace holds the program once.
  EXPECT_EQ(9u, cardsim_trace_count(CARDSIM_TRACE_WORDS));
}

TEST_F(CardsimFlow, InputTestsPickTheJumpRegisterByTheInputs) {
  struct Case {
    uint32_t inputs, lastCount;
  } cases[] = {{0x1, 5}, {0x3, 5}, {0x0, 6}, {0x2, 6}};
  for (const Case& c : cases) {
    cardsim_reset();
    cardsim_set_inputs(c.inputs);
    std::vector<Timed> w;
    Registers(w, 1, 0x1, 0x1);
    w.insert(w.end(), {{2, 0x56000000}, {2, 0x58001111}, {3, 0x51618020}, {4, 0x52000000}, {4, 0x53000105},
                       {4, 0x52000001}, {4, 0x53000106}, {4, 0x52000005}, {5, 0x51700000}, {6, 0x62000001},
                       {7, kLabel | 5}, {8, 0x62000005}, {9, kJump | 7}, {10, kLabel | 6}, {11, 0x62000006},
                       {12, kLabel | 7}, {13, kEnd}});
    Run(w);
    ASSERT_EQ(0u, cardsim_step_us(100));
    EXPECT_EQ((std::pair<uint32_t, uint32_t>{1, 0}), EndCodes()) << c.inputs;
    EXPECT_EQ(c.lastCount, Fifo().last_count) << c.inputs;
    EXPECT_EQ(1u, Fifo().count_markers) << c.inputs;
    cardsim_wait wait{};
    ASSERT_EQ(0u, cardsim_wait_get(0, &wait));
    EXPECT_EQ(c.lastCount == 5 ? uint32_t{CARDSIM_WAIT_MET} : uint32_t{CARDSIM_WAIT_TESTED}, wait.end);
  }
}

TEST_F(CardsimFlow, AJumpToALabelNotYetReceivedWaitsForIt) {
  OpenBuffer(CardType::Pcie, 2);
  cardsim_set_consume(CARDSIM_CONSUME_STALLED);
  Stream s(2);
  s.At(1, kJump | 9);
  s.At(2, 0x62000001);
  SendBytes(s.Blocks());  // padded: the label is not in this block
  Flag(kFlagStart);
  ASSERT_EQ(0u, cardsim_step_us(50));
  EXPECT_EQ(0u, Fifo().count_markers);
  EXPECT_EQ(uint32_t{CARDSIM_PHASE_RUNNING}, Fifo().phase);
}

TEST_F(CardsimFlow, EncoderWaitsHoldUntilTheConveyorBringsTheCounterThere) {
  cardsim_set_encoder_speed(1000);  // 1 pulse per ms
  std::vector<Timed> w = {{1, 0x61000000}};
  Registers(w, 2, 0xFFFFFF, 500);
  w.insert(w.end(), {{3, 0x58000103}, {4, 0x51630020}, {5, 0x62000001}, {6, kEnd}});
  Run(w);
  ASSERT_EQ(0u, cardsim_step_us(400000));
  EXPECT_EQ(0u, Fifo().count_markers);
  ASSERT_EQ(0u, cardsim_step_us(200000));
  EXPECT_EQ((std::pair<uint32_t, uint32_t>{1, 0}), EndCodes());
  cardsim_wait wait{};
  ASSERT_EQ(0u, cardsim_wait_get(0, &wait));
  EXPECT_EQ(std::tuple(uint32_t{CARDSIM_WAIT_MET}, uint64_t{499996}, 500u),
            std::tuple(wait.end, wait.held_us, wait.inputs));
  // The marker ran 1 µs after the wait ended, in card time.
  EXPECT_EQ(Executed(0x62), (std::vector<Timed>{{500001, 0x62000001}}));
}

TEST_F(CardsimFlow, CameraStepsAndACameraThatNeverGetsReady) {
  const std::vector<Timed> step = {{1, 0x33000000}, {2, 0x560F4240}, {3, 0x51608008}, {4, 0x31001234},
                                   {4, 0x32005678}, {4, 0x34004C42}, {5, 0x52000000}, {5, 0x53000000},
                                   {5, 0x52000001}, {5, 0x53000105}, {6, 0x52000003}, {7, 0x51700000},
                                   {8, kEnd}};
  Run(step);
  ASSERT_EQ(0u, cardsim_step_us(100));
  EXPECT_EQ((std::pair<uint32_t, uint32_t>{1, 0}), EndCodes());
  ASSERT_EQ(1u, cardsim_camera_count());
  cardsim_camera cam{};
  ASSERT_EQ(0u, cardsim_camera_get(0, &cam));
  EXPECT_EQ(std::tuple(uint64_t{4}, 0x1234u, 0x5678u, 0x34004C42u, 0u, 0x105u),
            std::tuple(cam.time_us, cam.x, cam.y, cam.para, cam.reg0, cam.reg1));

  cardsim_reset();
  cardsim_set_camera_ready(0);
  Run(step);
  ASSERT_EQ(0u, cardsim_step_us(1000010));
  EXPECT_EQ((std::pair<uint32_t, uint32_t>{0, 5}), EndCodes());
  EXPECT_EQ(0x8u, Exchange(19, 0, 0).r0);
  EXPECT_EQ(0u, cardsim_camera_count());
}

}  // namespace
}  // namespace cardsim_test

namespace cardsim_test {
namespace {

// A program download: its run ends with the end word decoded while the program stays resident; a
// frame jump enters the slot the inputs select, or the label stored before 0x59500000; the slot
// tags the executed trace; a stop ends the program.
TEST_F(CardsimFlow, ResidentProgramEntersSlotsByTheInputsOrTheStoredLabel) {
  cardsim_set_inputs(0x7);  // slot 3 under the mask 0x1E
  Run({{1, 0x59100000}, {1, 0x5920001E}, {2, 0x51A20000}, {3, kLabel | 6}, {4, 0x62000006}, {5, 0x59400009},
       {6, 0x59500000}, {7, 0x51A20000}, {8, kLabel | 9}, {9, 0x62000009}, {10, kJump | 6}, {11, kEnd}});
  EXPECT_EQ((std::pair<uint32_t, uint32_t>{1, 0}), EndCodes());
  EXPECT_EQ(Fifo().bytes_consumed, Fifo().bytes_received);
  ASSERT_EQ(0u, cardsim_step_us(20));
  std::vector<uint32_t> markers, tags;
  for (uint32_t i = 0; i < cardsim_trace_count(CARDSIM_TRACE_EXECUTED); ++i) {
    cardsim_trace_entry e{};
    ASSERT_EQ(0u, cardsim_trace_get(CARDSIM_TRACE_EXECUTED, i, &e));
    if (e.word >> 24 == 0x62) {
      markers.push_back(e.word & 0xFF);
      tags.push_back(e.reserved);
    }
  }
  EXPECT_EQ(markers, (std::vector<uint32_t>{6, 9, 6, 9, 6, 9}));  // a round every 6 µs
  EXPECT_EQ(tags, (std::vector<uint32_t>{4, 0, 0, 0, 0, 0}));
  Flag(kFlagStop);
  EXPECT_EQ(1u, cardsim_step_us(20));
  EXPECT_EQ((std::pair<uint32_t, uint32_t>{1, 0}), EndCodes());
}

}  // namespace
}  // namespace cardsim_test
