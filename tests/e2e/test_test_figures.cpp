// The test figures marked inside a job on a card with the new box method (21-bit codes, R 25000 of
// the default box block, half range 10 mm): the correction-off word after the home jump, the
// square's corners, a glyph bar and the guide corner at their codes, the number of polylines and of
// the straight pieces the mirrors drew in them, and the box block's mirroring.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "e2e/card_host.h"
#include "frame/bytes.h"
#include "support/trace.h"

namespace {

using qztest::kParaKey;

// A 16-bit figure code as the card's 21-bit code: (code + 0.2) scaled by 32, truncated.
constexpr uint32_t Wide(uint32_t code) { return code * 32 + 6; }

class FigureHost : public qztest::CardHost {
 protected:
  void Open(uint32_t ext = 0, uint32_t mirrorX = 0, uint32_t pointFlag = 0) {
    StageFiles(0, "HowLongTimeFirstBuf=100000\nCardVertion=6\n");
    auto block = qztest::DefaultBoxBlock();
    PutU32(block.data() + 588, ext);
    PutU32(block.data() + 16, mirrorX);
    PutU32(block.data() + 8, pointFlag);
    lib->WriteConfig("CaliPara.cl", std::string(block.begin(), block.end()));
    lib->WriteConfig("Default.box", qztest::PlainBoxFile());
    Load(true);
    cardsim_set_card_version_(85);
    ASSERT_EQ(InitCard(), 0u);
    ASSERT_EQ(SetFlag(kParaKey, 0), 0u);
    ASSERT_EQ(QZ(SetCardParaFile)(0), 0u);
    ASSERT_EQ(SetFlag(kParaKey, 0), 0u);
    const std::vector<uint8_t> pens = qztest::PenRecords(1, 20.0, 50.0, 10000.0, 100000.0);
    ASSERT_EQ(QZ(SetMarkPara)(pens.data(), 1), 0u);
  }
  std::vector<cardsim_position> Positions() {
    std::vector<cardsim_position> out(cardsim_position_count_());
    for (uint32_t i = 0; i < out.size(); ++i) EXPECT_EQ(cardsim_position_get_(i, &out[i]), 0u);
    return out;
  }
  bool Visited(uint32_t x, uint32_t y) {
    for (const cardsim_position& p : Positions())
      if (p.x == x && p.y == y) return true;
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
  // The straight pieces the mirrors drew for each polyline the gate opened for: from the gate's
  // opening on, the steps at marking speed up to the first step of jump length (the gate itself
  // closes a few steps off the end point, by the pen's laser-off time); a piece ends where the
  // step direction turns. Steps below 1024 codes join the next one, so that a segment's short
  // last step does not turn by its rounding alone.
  size_t MarkedSegments() {
    using Step = std::pair<double, double>;
    const std::vector<cardsim_position> pos = Positions();
    std::vector<size_t> opens;  // the position entry in force at each gate opening
    bool off = false;
    for (const cardsim_trace_entry& e : Trace()) {
      if ((e.word & ~1u) == 0x04000002u) off = true;
      if (!off || e.word != kGateOpen) continue;
      size_t j = 0;
      while (j + 1 < pos.size() && pos[j + 1].time_us <= e.time_us) ++j;
      opens.push_back(j);
    }
    auto step = [&](size_t j) { return Step{double(pos[j].x) - pos[j - 1].x, double(pos[j].y) - pos[j - 1].y}; };
    auto length = [](Step d) { return std::hypot(d.first, d.second); };
    double markStep = 0;  // a polyline's first step is a whole one
    for (size_t j : opens)
      if (j + 1 < pos.size()) markStep = std::max(markStep, length(step(j + 1)));
    size_t segments = 0;
    for (size_t k = 0; k < opens.size(); ++k) {
      const size_t end = k + 1 < opens.size() ? opens[k + 1] : pos.size() - 1;
      Step acc{0, 0}, dir{0, 0};
      for (size_t j = opens[k] + 1; j <= end; ++j) {
        const Step d = step(j);
        if (length(d) > 2 * markStep) break;  // the jump to the next polyline
        acc = {acc.first + d.first, acc.second + d.second};
        if (length(acc) < 1024) continue;
        const double cross = dir.first * acc.second - dir.second * acc.first;
        const double dot = dir.first * acc.first + dir.second * acc.second;
        if (dot <= 0 || std::fabs(cross) > 0.1 * length(dir) * length(acc)) ++segments;
        dir = acc;
        acc = {0, 0};
      }
    }
    return segments;
  }
  // The square in a job of run mode `mode`; the correction-off word and the figure's places.
  void CheckSquare(uint32_t mode, size_t polylines, size_t segments = 0) {
    ASSERT_EQ(MarkStart(mode, 0, 0), 0u);
    ASSERT_EQ(QZ(MarkTestRect)(), 0u);
    ASSERT_EQ(MarkEnd(0), 0u);
    const std::vector<uint32_t> words = TraceWords();
    const uint32_t off = mode == 3 ? 0x04000003u : 0x04000002u;
    const auto it = std::find(words.begin(), words.end(), off);
    ASSERT_NE(it, words.end());
    EXPECT_EQ(std::count(words.begin(), it, 0x04000000u | (mode == 3 ? 1u : 0u)), 1);  // the job's own
    EXPECT_TRUE(Visited(Wide(7768), Wide(7768)));
    EXPECT_TRUE(Visited(Wide(57768), Wide(57768)));
    EXPECT_TRUE(Visited(592582, 288582));  // placement 1: the turned bar
    EXPECT_TRUE(Visited(544582, 288582));
    EXPECT_TRUE(Visited(Wide(39018), Wide(35893)));  // the guide corner
    EXPECT_TRUE(Visited(Wide(35893), Wide(35893)));
    EXPECT_TRUE(Visited(Wide(35893), Wide(42143)));
    if (mode == 3) return;
    const std::vector<cardsim_mirror> starts = PolylineStarts();
    ASSERT_EQ(starts.size(), polylines);
    EXPECT_EQ(starts[0].x, Wide(7768));
    EXPECT_EQ(starts[0].y, Wide(7768));
    EXPECT_EQ(MarkedSegments(), segments);
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

TEST_F(FigureHost, TheTestSquareRunsWithItsGridGlyphsAndGuide) {
  Open();
  if (!HasFatalFailure()) CheckSquare(0, 40, 72);
}

TEST_F(FigureHost, TheNinePointSquareHasTheCentreLinesOnly) {
  Open(0, 0, 1);
  if (!HasFatalFailure()) CheckSquare(0, 36, 68);
}

TEST_F(FigureHost, AnUnlitJobSwitchesTheCorrectionOffUnlit) {
  Open();
  if (!HasFatalFailure()) CheckSquare(3, 0);
}

TEST_F(FigureHost, AMarkedExtensionWithBitZeroMirrors) {
  CheckMirror(0xA5000001u, Wide(57768), Wide(65536 - 39018), Wide(39018));
}

TEST_F(FigureHost, AnExtensionWithoutBitZeroChangesNothing) {
  CheckMirror(0xA5000000u, Wide(7768), Wide(39018), Wide(39018));
}

TEST_F(FigureHost, AnExtensionWithoutTheMarkChangesNothing) {
  CheckMirror(0x00000001u, Wide(7768), Wide(39018), Wide(39018));
}

TEST_F(FigureHost, OutsideAJobEachFigureFailsWithOneBox) {
  Open();
  if (HasFatalFailure()) return;
  const size_t before = lib->Boxes().size();
  EXPECT_EQ(QZ(MarkGuideXY)(1), 17u);
  EXPECT_EQ(lib->Boxes().size(), before + 1);
  EXPECT_EQ(QZ(MarkTestRect)(), 17u);
  EXPECT_EQ(lib->Boxes().size(), before + 2);
  EXPECT_EQ(cardsim_position_count_(), 0u);
}

}  // namespace
