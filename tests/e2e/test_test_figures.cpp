// The test figures marked in a job with the new box method (21-bit codes, half range 10 mm): the
// correction-off word, places and polylines, and mirroring (the strokes: the unit tests).

#include <algorithm>
#include <cstdint>

#include "e2e/card_host.h"
#include "frame/bytes.h"
#include "support/trace.h"

namespace {

// A 16-bit figure code as the card's 21-bit code: (code + 0.2) scaled by 32, truncated.
constexpr uint32_t Wide(uint32_t code) { return code * 32 + 6; }

class FigureHost : public qztest::CardHost {
 protected:
  // Pen 0 marks; "CaliPara.cl" with extension word `ext`, mirror X and the point flag, read with the parameters.
  void Open(uint32_t ext = 0, uint32_t mirrorX = 0, uint32_t pointFlag = 0) {
    OpenWithPens(0, "HowLongTimeFirstBuf=100000\nCardVertion=6\n", 85, 1);
    if (HasFatalFailure()) return;
    auto block = qztest::DefaultBoxBlock();
    PutU32(block.data() + 588, ext);
    PutU32(block.data() + 16, mirrorX);
    PutU32(block.data() + 8, pointFlag);
    lib->WriteConfig("CaliPara.cl", std::string(block.begin(), block.end()));
    ASSERT_EQ(QZ(SetCardParaFile)(0), 0u);
    ASSERT_EQ(SetFlag(qztest::kParaKey, 0), 0u);
  }
  bool Visited(uint32_t x, uint32_t y) {
    for (uint32_t i = 0, n = cardsim_position_count_(); i < n; ++i) {
      cardsim_position p{};
      EXPECT_EQ(cardsim_position_get_(i, &p), 0u);
      if (p.x == x && p.y == y) return true;
    }
    return false;
  }
  // Where the mirrors stand as the laser gate (output 1) opens for each polyline after the
  // correction-off word.
  std::vector<cardsim_mirror> PolylineStarts() {
    std::vector<cardsim_mirror> out;
    bool off = false;
    for (const cardsim_trace_entry& e : Trace()) {
      if ((e.word & ~1u) == 0x04000002u) off = true;
      if (!off || e.word != kGateOpen) continue;
      cardsim_mirror m{};
      EXPECT_EQ(cardsim_position_at_(e.time_us, &m), 0u);
      out.push_back(m);
    }
    return out;
  }
  // The square and both guide modes with the extension word `ext` and mirror X set: where the
  // square and the two guide corners start.
  void CheckMirror(uint32_t ext, uint32_t squareX, uint32_t guide1X, uint32_t guide0X) {
    Open(ext, 1);
    if (HasFatalFailure()) return;
    ASSERT_EQ(MarkStart(0, 0, 0), 0u);
    ASSERT_EQ(QZ(MarkTestRect)(), 0u);
    ASSERT_EQ(QZ(MarkGuideXY)(1), 0u);
    ASSERT_EQ(QZ(MarkGuideXY)(0), 0u);
    ASSERT_EQ(MarkEnd(0), 0u);
    const std::vector<cardsim_mirror> starts = PolylineStarts();
    ASSERT_EQ(starts.size(), 42u);
    EXPECT_EQ(starts[0].x, squareX);
    EXPECT_EQ(starts[40].x, guide1X);
    EXPECT_EQ(starts[41].x, guide0X);
  }
  static constexpr uint32_t kGateOpen = 0x20002002u;
};

// The square with its grid, glyphs and guide; the nine-point square with the centre lines only; an
// unlit job switches the correction off unlit. Outside a job each figure fails with one box.
TEST_F(FigureHost, TheTestSquareByPointFlagAndRunModeAndOutsideAJob) {
  for (const auto& [pointFlag, mode, polylines] : {std::tuple{0u, 0u, 40u}, {1u, 0u, 36u}, {0u, 3u, 0u}}) {
    QZ_TRACE(mode * 10 + pointFlag);
    Open(0, 0, pointFlag);
    if (HasFatalFailure()) return;
    ASSERT_EQ(MarkStart(mode, 0, 0), 0u);
    ASSERT_EQ(QZ(MarkTestRect)(), 0u);
    ASSERT_EQ(MarkEnd(0), 0u);
    const std::vector<uint32_t> words = TraceWords();
    const uint32_t off = mode == 3 ? 0x04000003u : 0x04000002u;
    const auto it = std::find(words.begin(), words.end(), off);
    ASSERT_NE(it, words.end());
    EXPECT_EQ(std::count(words.begin(), it, 0x04000000u | (mode == 3 ? 1u : 0u)), 1);  // the job's own
    EXPECT_TRUE(Visited(Wide(7768), Wide(7768)));
    EXPECT_TRUE(Visited(592582, 288582));            // placement 1: the turned bar
    EXPECT_TRUE(Visited(Wide(39018), Wide(35893)));  // the guide corner
    if (mode == 3) continue;
    const std::vector<cardsim_mirror> starts = PolylineStarts();
    ASSERT_EQ(starts.size(), size_t{polylines});
    EXPECT_EQ(starts[0].x, Wide(7768));
    EXPECT_EQ(starts[0].y, Wide(7768));
  }
  const size_t before = lib->Boxes().size();
  const uint32_t positions = cardsim_position_count_();
  EXPECT_EQ(QZ(MarkGuideXY)(1), 17u);
  EXPECT_EQ(lib->Boxes().size(), before + 1);
  EXPECT_EQ(QZ(MarkTestRect)(), 17u);
  EXPECT_EQ(lib->Boxes().size(), before + 2);
  EXPECT_EQ(cardsim_position_count_(), positions);
}

// Mirror X with the extension word: only a marked word with bit 0 mirrors the figures.
TEST_F(FigureHost, AMarkedExtensionWithBitZeroMirrors) {
  CheckMirror(0xA5000001u, Wide(57768), Wide(65536 - 39018), Wide(39018));
  CheckMirror(0xA5000000u, Wide(7768), Wide(39018), Wide(39018));
  CheckMirror(0x00000001u, Wide(7768), Wide(39018), Wide(39018));
}

}  // namespace
