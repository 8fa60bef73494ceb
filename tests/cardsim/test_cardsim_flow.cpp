// The card's executor over control flow: a jump ahead of its label, the camera's steps, resident programs.
#include <tuple>
#include <vector>

#include "cardsim_stream.h"

namespace cardsim_test {
namespace {

constexpr uint32_t kLabel = 0x51800000, kJump = 0x51A00000;

using CardsimFlow = CardsimStream;

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

}  // namespace
}  // namespace cardsim_test
