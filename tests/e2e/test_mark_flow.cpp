// The encoder, count-marker, task and camera exports as a host calls them, run on the simulated card.
#include <gtest/gtest.h>

#include <limits>
#include <string>
#include <tuple>
#include <vector>

#include "e2e/card_host.h"
#include "support/trace.h"

namespace {

using qztest::CardHost;
using qztest::kParaKey;

class MarkFlowHost : public CardHost {
 protected:
  void OpenJob() {
    OpenCard();
    ASSERT_EQ(MarkStart(1, 0, 0), 0u);
  }
  void OpenCard() {
    Stage(0);
#define QZ_GET(name) name = lib->Get<decltype(name)>("QZ_" #name); ASSERT_TRUE(name);
    QZ_GET(MarkLoopStart) QZ_GET(MarkLoopEnd) QZ_GET(MarkBufferCnt) QZ_GET(MarkBufIO) QZ_GET(MarkJumpByIOInOK)
    QZ_GET(MarkJumpByIOInNG) QZ_GET(MarkBufSmallTask) QZ_GET(MarkJumpTaskNo) QZ_GET(MarkCCD)
    QZ_GET(MarkSetCountAndWait) QZ_GET(MarkFlush)
#undef QZ_GET
    ASSERT_EQ(InitCard(), 0u);
    ASSERT_EQ(SetFlag(kParaKey, 0), 0u);
  }
  uint32_t StartRuns() {
    uint32_t starts = 0;
    for (const auto& [cmd, p1, p2] : Sent(82)) starts += p2 == 0x40000;
    return starts;
  }
  cardsim_fifo Fifo() {
    cardsim_fifo f{};
    EXPECT_EQ(cardsim_get_fifo_(&f), 0u);
    return f;
  }
  uint32_t Ccd(int32_t enable, int32_t selector, uint32_t value) {
    return MarkCCD(enable, 42, 0.0, 0.0, 0, 0, 0, 3, selector, 0, value, 0);  // where the scanner is
  }

  decltype(&QZ_MarkLoopStart) MarkLoopStart = nullptr;
  decltype(&QZ_MarkLoopEnd) MarkLoopEnd = nullptr;
  decltype(&QZ_MarkBufferCnt) MarkBufferCnt = nullptr;
  decltype(&QZ_MarkBufIO) MarkBufIO = nullptr;
  decltype(&QZ_MarkJumpByIOInOK) MarkJumpByIOInOK = nullptr;
  decltype(&QZ_MarkJumpByIOInNG) MarkJumpByIOInNG = nullptr;
  decltype(&QZ_MarkBufSmallTask) MarkBufSmallTask = nullptr;
  decltype(&QZ_MarkJumpTaskNo) MarkJumpTaskNo = nullptr;
  decltype(&QZ_MarkCCD) MarkCCD = nullptr;
  decltype(&QZ_MarkSetCountAndWait) MarkSetCountAndWait = nullptr;
  decltype(&QZ_MarkFlush) MarkFlush = nullptr;
};

TEST_F(MarkFlowHost, ALoopOfThreeRunsItsMarkerAndOutputPulseThreeTimes) {
  OpenJob();
  ASSERT_EQ(MarkLoopStart(1, 3), 0u);
  ASSERT_EQ(MarkBufferCnt(7), 0u);
  ASSERT_EQ(MarkBufIO(0x4, 0x4, 0, 0), 0u);
  ASSERT_EQ(MarkBufIO(0x0, 0x4, 0, 0), 0u);
  ASSERT_EQ(MarkLoopEnd(1), 0u);
  ASSERT_EQ(MarkEnd(0), 0u);
  EXPECT_EQ(Fifo().count_markers, 3u);
  EXPECT_EQ(Fifo().last_count, 7u);
  uint32_t pulses = 0;
  for (uint32_t i = 0; i < cardsim_output_change_count_(); ++i) {
    cardsim_output_change o{};
    ASSERT_EQ(cardsim_output_change_get_(i, &o), 0u);
    pulses += o.word == 0x20004004;
  }
  EXPECT_EQ(pulses, 3u);
}

TEST_F(MarkFlowHost, AnInputJumpTakesTheBranchTheInputsChoose) {
  struct Case {
    bool ok;
    uint32_t inputs, lastCount;
  } cases[] = {{true, 0x5, 2}, {true, 0x4, 1}, {false, 0x5, 1}, {false, 0x4, 2}};
  OpenCard();
  for (const Case& c : cases) {
    QZ_TRACE(c.inputs);
    ASSERT_EQ(MarkStart(1, 0, 0), 0u);
    cardsim_set_inputs_(c.inputs);
    // The branch taken skips marker 1 and runs marker 2 at task 9.
    ASSERT_EQ((c.ok ? MarkJumpByIOInOK : MarkJumpByIOInNG)(0x0F, 0x05, 9), 0u);
    ASSERT_EQ(MarkBufferCnt(1), 0u);
    ASSERT_EQ(MarkJumpTaskNo(10), 0u);
    ASSERT_EQ(MarkBufSmallTask(9), 0u);
    ASSERT_EQ(MarkBufferCnt(2), 0u);
    ASSERT_EQ(MarkBufSmallTask(10), 0u);
    ASSERT_EQ(MarkEnd(0), 0u);
    EXPECT_EQ(Fifo().count_markers, 1u);
    EXPECT_EQ(Fifo().last_count, c.lastCount);
  }
}

TEST_F(MarkFlowHost, CameraStepsAreRecordedAndACameraNeverReadyEndsTheRunWithTheWaitAlarm) {
  OpenJob();
  ASSERT_EQ(Ccd(1, 2, 5), 0u);
  ASSERT_EQ(Ccd(1, 0, 0), 0u);
  ASSERT_EQ(MarkEnd(0), 0u);
  ASSERT_EQ(cardsim_camera_count_(), 2u);
  cardsim_camera cam{};
  ASSERT_EQ(cardsim_camera_get_(0, &cam), 0u);
  EXPECT_EQ(std::tuple(cam.x, cam.y, cam.para), std::tuple(32767u, 32767u, 0x34004C42u));
  EXPECT_EQ(cam.reg1, 0x105u);
  ASSERT_EQ(cardsim_camera_get_(1, &cam), 0u);
  EXPECT_EQ(cam.reg1, 0x200u);

  cardsim_set_camera_ready_(0);
  ASSERT_EQ(MarkStart(1, 0, 0), 0u);
  ASSERT_EQ(Ccd(0, 0, 0), 0u);
  EXPECT_EQ(MarkEnd(0), 3u);
  ASSERT_FALSE(lib->Boxes().empty());
  EXPECT_NE(lib->Boxes().back().find("Waiting for timeout"), std::string::npos) << lib->Boxes().back();
}

TEST_F(MarkFlowHost, RefusedArgumentsAppendNothing) {
  OpenJob();
  EXPECT_EQ(MarkSetCountAndWait(0), 2u);
  ASSERT_EQ(lib->Boxes().size(), 1u);
  EXPECT_EQ(lib->Boxes()[0], "topmost ok: Cache count cannot be less than 1");
  EXPECT_EQ(MarkLoopStart(0x10000, 3), 2u);
  EXPECT_EQ(MarkLoopEnd(0x10000), 2u);
  EXPECT_EQ(MarkJumpTaskNo(0x10000), 2u);
  EXPECT_EQ(MarkBufSmallTask(0x10000), 2u);
  EXPECT_EQ(MarkJumpByIOInOK(1, 1, 0x100), 2u);
  EXPECT_EQ(MarkJumpByIOInNG(1, 1, 0x100), 2u);
  EXPECT_EQ(Ccd(0, 2, 0x10000), 2u);
  EXPECT_EQ(MarkCCD(1, 0, std::numeric_limits<double>::quiet_NaN(), 0.0, 0, 0, 0, 0, 0, 0, 0, 0), 7u);
  EXPECT_EQ(MarkBufSmallTask(-3), 0u);
  ASSERT_EQ(MarkFlush(), 0u);
  const std::vector<uint32_t> words = TraceWords();
  for (uint32_t w : words) EXPECT_NE(w >> 20, 0x518u) << std::hex << w;  // no label, loop or camera word
  for (uint32_t w : words) EXPECT_NE(w >> 24, 0x54u) << std::hex << w;
  for (uint32_t w : words) EXPECT_NE(w >> 24, 0x33u) << std::hex << w;
  EXPECT_EQ(MarkEnd(0), 0u);
}

TEST_F(MarkFlowHost, CountAndWaitFlushesOnTheFourthAndReturnsOnceTheCardRanAMarker) {
  OpenJob();
  for (int i = 0; i < 3; ++i) ASSERT_EQ(MarkSetCountAndWait(3), 0u);
  EXPECT_EQ(StartRuns(), 0u);
  ASSERT_EQ(MarkSetCountAndWait(3), 0u);
  EXPECT_GE(Fifo().last_count, 1u);
  EXPECT_EQ(StartRuns(), 1u);
  ASSERT_EQ(MarkEnd(0), 0u);
  EXPECT_EQ(Fifo().count_markers, 4u);
}

}  // namespace
