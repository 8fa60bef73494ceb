// The test figures' geometry without a card: glyph strokes, placements, the square, the guide, the polylines.
#include <cmath>
#include <utility>
#include <vector>

#include "mark/test_figures.h"
#include "support/trace.h"

namespace {

using Line = CodePolyline;

TEST(TestFigures, GlyphStrokesAtSize375TheirPlacementsTheSquareGridAndTheGuideCorner) {
  struct Case { uint32_t code; std::vector<Line> strokes; } cases[] = {
      {1, {{{0, 750}, {0, -750}}}}, {2, {{{-112, 750}, {-112, -750}}, {{112, 750}, {112, -750}}}},
      {3, {{{0, 750}, {262, -750}, {-262, -750}, {0, 750}}}},
      {4, {{{262, 750}, {262, -750}, {-262, -750}, {-262, 750}, {262, 750}}}},
      {5, {{{0, 750}, {300, 375}, {187, -750}, {-187, -750}, {-300, 375}, {0, 750}}}},
      {6, {{{300, 562}, {300, -562}, {0, -750}, {-300, -562}, {-300, 562}, {0, 750}, {300, 562}}}},
      {100, {{{750, 750}, {-750, -750}}, {{-750, 750}, {750, -750}}}},
      {101, {{{750, 750}, {0, 0}, {-750, 750}}, {{0, 0}, {0, -750}}}}, {7, {}},  // 7: no shape, an empty set
  };
  for (const Case& c : cases) {
    QZ_TRACE("glyph " + std::to_string(c.code));
    GlyphSet set{{{1, 1}}};  // emptied first
    BuildTestPattern(c.code, 0.015 * 25000, set);
    EXPECT_EQ(set, c.strokes);
  }
  // Placement one turns the bar.
  const GlyphPlacement& p = kGlyphPlacementTable[0];
  GlyphSet set;
  BuildTestPattern(p.set, 375.0, set);
  ASSERT_EQ(set.size(), 1u);
  EXPECT_EQ(PlaceStroke(set[0], p.swap, 32768.0 + p.xk * 25000, 32768.0 + p.yk * 25000),
            (Line{{18518, 9018}, {17018, 9018}}));
  // Glyph 2 upright at row 4: its bars keep their direction.
  BuildTestPattern(2, 375.0, set);
  EXPECT_EQ(PlaceStroke(set[1], 0, 100.5, 200.9), (Line{{212, 950}, {212, -549}}));
  // The placements mark each glyph twice, once upright and once turned.
  int upright[7] = {}, turned[7] = {};
  for (const GlyphPlacement& p : kGlyphPlacementTable) ++(p.swap ? turned : upright)[p.set];
  // Besides the bars that carry them, glyphs 3..6 stand once upright and once turned.
  for (int k = 3; k <= 6; ++k) EXPECT_EQ(std::pair(upright[k], turned[k]), std::pair(1, 1)) << k;
  EXPECT_EQ(turned[1], 7);   // six turned bars and glyph 1 turned
  EXPECT_EQ(upright[2], 7);  // six upright double bars and glyph 2 upright
  // The square's grid lines and the guide corner.
  const std::vector<Line> full = TestRectLines(25, 25000);
  ASSERT_EQ(full.size(), 7u);
  EXPECT_EQ(full[0], (Line{{7768, 7768}, {7768, 57768}, {57768, 57768}, {57768, 7768}, {7768, 7768}}));
  EXPECT_EQ(std::tuple(full[1], full[3], full[4]),
            std::tuple(Line{{7768, 20268}, {57768, 20268}}, Line{{7768, 45268}, {57768, 45268}},
                       Line{{20268, 57768}, {20268, 7768}}));
  const std::vector<Line> nine = TestRectLines(9, 25001);
  ASSERT_EQ(nine.size(), 3u);
  EXPECT_EQ(nine[0][1], (CodePoint{7767, 57769}));
  EXPECT_EQ(nine[1], (Line{{7767, 32768}, {57769, 32768}}));
  EXPECT_EQ(nine[2], (Line{{32768, 57769}, {32768, 7767}}));
  EXPECT_EQ(GuideCorner(25000), (Line{{39018, 35893}, {35893, 35893}, {35893, 42143}}));
  EXPECT_EQ(GuideCorner(25003), (Line{{39018, 35893}, {35893, 35893}, {35893, 42144}}));
}

// The vector member the figures mark with, recorded.
std::vector<std::vector<double>> g_marked;
uint32_t g_result = 0;
uint32_t Record(const double* p, int32_t n, uint32_t layer) {
  g_marked.emplace_back(p, p + 3 * n);
  g_marked.back().push_back(layer);
  return g_result;
}

TEST(TestFigures, PolylinesConvertMirrorAndStopAtTheFirstFailure) {
  TestFigureSink sink;
  sink.markVector = &Record;
  sink.halfRange = 16.384;  // 2H / 65536 = 0.0005 mm per code
  g_marked.clear();
  g_result = 0;
  EXPECT_EQ(MarkPolylines(sink, {{0, 65536}, {32768, 100}}), 0u);
  sink.mirrorOn = sink.swap = sink.mirrorX = true;
  EXPECT_EQ(MarkPolylines(sink, {{100, 200}}, 0.0), 0u);
  ASSERT_EQ(g_marked.size(), 2u);
  auto near = [](const std::vector<double>& a, const std::vector<double>& b) {
    if (a.size() != b.size()) return false;
    for (size_t i = 0; i < a.size(); ++i)
      if (std::fabs(a[i] - b[i]) > 1e-12) return false;
    return true;
  };
  const double o = 0.2 * 0.0005;
  EXPECT_TRUE(near(g_marked[0], {-16.384 + o, 16.384 + o, 0, o, -16.334 + o, 0, 0}));
  // Swapped to (200, 100), then X mirrored to 65336.
  EXPECT_TRUE(near(g_marked[1], {65336 * 0.0005 - 16.384, 100 * 0.0005 - 16.384, 0, 0}));
  // Ten points are refused before anything is marked.
  EXPECT_EQ(MarkPolylines(sink, Line(10)), 2u);
  EXPECT_EQ(g_marked.size(), 2u);
  // A failing member stops the glyphs at their first stroke.
  g_result = 20;
  GlyphSet set;
  BuildTestPattern(2, 375.0, set);
  EXPECT_EQ(MarkTestGrid(sink, set, 0, 0.0, 0.0), 20u);
  EXPECT_EQ(g_marked.size(), 3u);
}

}  // namespace
