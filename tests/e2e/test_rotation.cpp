// Rotation marking on the simulated card: the replaced axis's words gone, the start at the end
// position, nothing sent twice across a mid-job flush.

#include <algorithm>

#include "e2e/card_host.h"

namespace {

using qztest::CardHost;

constexpr uint32_t kBufferMarker = 0x51200006;

class RotationHost : public CardHost {
 protected:
  void SetUp() override {
    // 16-bit codes; pen 0 marks at 10000 mm/s.
    OpenWithPens(0, "HowLongTimeFirstBuf=100000\nCardVertion=6\n[LASER]\nLASER_TYPE=0\n[HARDWARE]\nMarkEnd_X=3\n"
                 "MarkEnd_Y=-4\n", 79, 1);
  }
  // The words the card ran of a job: polyline, count marker, a flush when asked, polyline, marker.
  std::vector<uint32_t> Job(uint32_t startFlag, bool flush) {
    EXPECT_EQ(MarkStart(1, 0, startFlag), 0u);
    const double a[] = {1, 1, 0, 2, 3, 0, 4, -2, 0}, b[] = {-1, -1, 0, -3, 2, 0};
    EXPECT_EQ(QZ(MarkVector)(a, 3, 0), 0u);
    EXPECT_EQ(QZ(MarkBufferCnt)(1), 0u);
    if (flush) {
      EXPECT_EQ(QZ(MarkFlush)(), 0u);
    }
    EXPECT_EQ(QZ(MarkVector)(b, 2, 0), 0u);
    EXPECT_EQ(QZ(MarkBufferCnt)(2), 0u);
    EXPECT_EQ(MarkEnd(0), 0u);
    cardsim_fifo f{};
    EXPECT_EQ(cardsim_get_fifo_(&f), 0u);
    EXPECT_EQ(f.end_code, 1u);
    return TraceWords();
  }
  static std::vector<uint32_t> Of(const std::vector<uint32_t>& words, bool (*keep)(uint32_t)) {
    std::vector<uint32_t> out;
    std::copy_if(words.begin(), words.end(), std::back_inserter(out), keep);
    return out;
  }
};

// Steps (not jumps) of the 16-bit form: the words rotation marking takes out for its axis.
bool YStep(uint32_t w) { return (w & 0xFFF80000) == 0x01000000 && ((w >> 16) & 3) == 1; }
bool XWord(uint32_t w) { return w >> 24 == 0x01 && ((w >> 16) & 3) == 0; }

TEST_F(RotationHost, JobLosesTheReplacedAxisStartsAtTheEndPositionAndSendsEachWordOnce) {
  // Without rotation: the job from the end position, and its words.
  const std::vector<uint32_t> plain = Job(0, false);
  ASSERT_GT(Of(plain, YStep).size(), 10u);
  ASSERT_EQ(QZ(SetRotateMarkPara)(1, 1, 100, 1), 0u);
  const std::vector<uint32_t> words = Job(1, true);  // start flag 1: no jump home, but for rotation
  EXPECT_TRUE(Of(words, YStep).empty());
  // The same X words as without rotation (from the end position), each once: the mid-job flush sent nothing twice.
  EXPECT_EQ(Of(words, XWord), Of(plain, XWord));
  for (uint32_t marker : {0x62000001u, 0x62000002u}) EXPECT_EQ(std::count(words.begin(), words.end(), marker), 1);
  EXPECT_EQ(std::count(words.begin(), words.end(), kBufferMarker), 3);  // two counts and the flush
}

}  // namespace
