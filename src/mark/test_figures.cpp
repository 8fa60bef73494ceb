#include "mark/test_figures.h"

#include <array>

#include "calibration/box_para.h"
#include "calibration/scan.h"
#include "frame/conv.h"
#include "frame/errors.h"
#include "markbase/mark_floor.h"
#include "mark/mark_member.h"
#include "markbase/stream_words.h"

namespace {

constexpr double kCentre = 32768.0;

// A glyph stroke as factors of the size s: point i is (fx[i] s, fy[i] s).
struct StrokeDef {
  uint32_t code;
  int count;
  double f[7][2];
};

// The glyph table: one row per stroke, the strokes of a glyph in drawing order.
constexpr StrokeDef kGlyphStrokes[] = {
    {1, 2, {{0, 2}, {0, -2}}},
    {2, 2, {{-0.3, 2}, {-0.3, -2}}},
    {2, 2, {{0.3, 2}, {0.3, -2}}},
    {3, 4, {{0, 2}, {0.7, -2}, {-0.7, -2}, {0, 2}}},
    {4, 5, {{0.7, 2}, {0.7, -2}, {-0.7, -2}, {-0.7, 2}, {0.7, 2}}},
    {5, 6, {{0, 2}, {0.8, 1}, {0.5, -2}, {-0.5, -2}, {-0.8, 1}, {0, 2}}},
    {6, 7, {{0.8, 1.5}, {0.8, -1.5}, {0, -2}, {-0.8, -1.5}, {-0.8, 1.5}, {0, 2}, {0.8, 1.5}}},
    {100, 2, {{2, 2}, {-2, -2}}},
    {100, 2, {{-2, 2}, {2, -2}}},
    {101, 3, {{2, 2}, {0, 0}, {-2, 2}}},
    {101, 2, {{0, 0}, {0, -2}}},
};

constexpr uint32_t kMirrorTag = 0xA5000000u;

constexpr MarkMember kMarkModifyNoCali{"QZ_MarkModifyNoCali", KIND_BUFFER, LOG_TRACE, EntryText::kEmpty};

}  // namespace

// Rows 1-12: a turned bar and glyph k upright on the lines x = c -/+ 0.6R; rows 13-24: two upright
// bars and glyph k turned on the lines y = c -/+ 0.6R.
const GlyphPlacement kGlyphPlacementTable[kGlyphPlacements] = {
    {1, 1, -0.6, -0.95}, {1, 0, -0.6, -0.9},  {1, 1, 0.6, -0.95}, {2, 0, 0.6, -0.9},
    {1, 1, -0.6, 0.05},  {3, 0, -0.6, 0.1},   {1, 1, 0.6, 0.05},  {4, 0, 0.6, 0.1},
    {1, 1, -0.6, 0.9},   {5, 0, -0.6, 0.95},  {1, 1, 0.6, 0.9},   {6, 0, 0.6, 0.95},
    {2, 0, -0.95, -0.6}, {1, 1, -0.9, -0.6},  {2, 0, -0.95, 0.6}, {2, 1, -0.9, 0.6},
    {2, 0, 0.05, -0.6},  {3, 1, 0.1, -0.6},   {2, 0, 0.05, 0.6},  {4, 1, 0.1, 0.6},
    {2, 0, 0.9, -0.6},   {5, 1, 0.95, -0.6},  {2, 0, 0.9, 0.6},   {6, 1, 0.95, 0.6},
};

void BuildTestPattern(uint32_t code, double s, GlyphSet& set) {
  set.clear();
  for (const StrokeDef& d : kGlyphStrokes) {
    if (d.code != code) continue;
    CodePolyline stroke;
    stroke.reserve(static_cast<size_t>(d.count));
    for (int i = 0; i < d.count; ++i) stroke.push_back({RealToInt32(d.f[i][0] * s), RealToInt32(d.f[i][1] * s)});
    set.push_back(std::move(stroke));
  }
}

CodePolyline PlaceStroke(const CodePolyline& stroke, int swap, double xo, double yo) {
  CodePolyline out;
  out.reserve(stroke.size());
  for (const CodePoint& g : stroke) {
    const int32_t g0 = swap ? g.y : g.x;
    const int32_t g1 = swap ? g.x : g.y;
    out.push_back({RealToInt32(g0 + xo), RealToInt32(g1 + yo)});
  }
  return out;
}

std::vector<CodePolyline> TestRectLines(int points, int32_t r) {
  const int32_t lo = RealToInt32(kCentre - r);
  const int32_t hi = RealToInt32(kCentre + r);
  const int32_t ml = RealToInt32(kCentre - r / 2.0);
  const int32_t mh = RealToInt32(kCentre + r / 2.0);
  const int32_t c = static_cast<int32_t>(kCentre);
  std::vector<CodePolyline> out;
  out.push_back({{lo, lo}, {lo, hi}, {hi, hi}, {hi, lo}, {lo, lo}});
  const std::vector<int32_t> levels = points == 9 ? std::vector<int32_t>{c} : std::vector<int32_t>{ml, c, mh};
  for (int32_t y : levels) out.push_back({{lo, y}, {hi, y}});
  for (int32_t x : levels) out.push_back({{x, hi}, {x, lo}});
  return out;
}

CodePolyline GuideCorner(int32_t r) {
  const int32_t a = RealToInt32(r * 0.25 + kCentre);
  const int32_t b = RealToInt32(r * 0.125 + kCentre);
  const int32_t d = RealToInt32(r * 0.375 + kCentre);
  return {{a, b}, {b, b}, {b, d}};
}

TestFigureSink TestFigureSinkOfBox(int32_t& r, int& points) {
  const BoxParaBlock box = CopyBoxPara();
  TestFigureSink sink;
  const uint32_t ext = BoxGetU32(box, kBoxExtension);
  sink.mirrorOn = (ext & 0xFF000000u) == kMirrorTag && (ext & 1u) != 0;
  sink.swap = BoxGetU32(box, kBoxSwapXY) != 0;
  sink.mirrorX = BoxGetU32(box, kBoxMirrorX) != 0;
  sink.mirrorY = BoxGetU32(box, kBoxMirrorY) != 0;
  sink.halfRange = CCaliLink::HalfRange();
  r = static_cast<int32_t>(BoxGetU32(box, kBoxDacRange));
  points = BoxGetU32(box, kBoxPointFlag) == 1 ? 9 : 25;
  return sink;
}

namespace {

uint32_t MarkConverted(const TestFigureSink& sink, const CodePolyline& points, double offset, bool mirror) {
  if (points.size() > kTestPolylineMax) return RV_ERROR;
  std::array<double, 3 * kTestPolylineMax> mm{};
  const double h = sink.halfRange;
  size_t i = 0;
  for (CodePoint p : points) {
    if (mirror) {
      if (sink.swap) std::swap(p.x, p.y);
      if (sink.mirrorX) p.x = 0x10000 - p.x;
      if (sink.mirrorY) p.y = 0x10000 - p.y;
    }
    mm[i++] = (p.x + offset) * (1.0 / 65536.0) * 2.0 * h - h;
    mm[i++] = (p.y + offset) * (1.0 / 65536.0) * 2.0 * h - h;
    mm[i++] = 0.0;
  }
  return sink.markVector(mm.data(), static_cast<int32_t>(points.size()), 0);
}

}  // namespace

uint32_t MarkPolylines(const TestFigureSink& sink, const CodePolyline& points, double offset) {
  return MarkConverted(sink, points, offset, sink.mirrorOn);
}

uint32_t BuildDacPolyline(const TestFigureSink& sink, const int32_t (*pairs)[2], int first, int count,
                          double offset) {
  CodePolyline line;
  for (int i = first; i < first + count; ++i) line.push_back({pairs[i][0], pairs[i][1]});
  return MarkPolylines(sink, line, offset);
}

uint32_t MarkTestGrid(const TestFigureSink& sink, const GlyphSet& set, int swap, double xo, double yo) {
  for (const CodePolyline& stroke : set) {
    if (const uint32_t rc = MarkPolylines(sink, PlaceStroke(stroke, swap, xo, yo))) return rc;
  }
  return RV_OK;
}

uint32_t MarkGuideCross(const TestFigureSink& sink, uint32_t mode, int32_t r) {
  const CodePolyline corner = GuideCorner(r);
  if (mode != 1) return MarkConverted(sink, corner, 0.2, false);
  int32_t pairs[3][2];
  for (int i = 0; i < 3; ++i) {
    pairs[i][0] = corner[static_cast<size_t>(i)].x;
    pairs[i][1] = corner[static_cast<size_t>(i)].y;
  }
  return BuildDacPolyline(sink, pairs, 0, 3);
}

uint32_t MarkTestRectImpl(const TestFigureSink& sink, int points, int32_t r) {
  if (const uint32_t rc = QZ_MarkModifyNoCali()) return rc;
  for (const CodePolyline& line : TestRectLines(points, r)) {
    if (const uint32_t rc = MarkPolylines(sink, line)) return rc;
  }
  if (const uint32_t rc = MarkGuideCross(sink, 1, r)) return rc;
  const double s = 0.015 * r;
  std::array<GlyphSet, 7> sets;
  for (uint32_t k = 0; k < sets.size(); ++k) BuildTestPattern(k, s, sets[k]);
  for (const GlyphPlacement& p : kGlyphPlacementTable) {
    if (const uint32_t rc = MarkTestGrid(sink, sets[p.set], p.swap, kCentre + p.xk * r, kCentre + p.yk * r))
      return rc;
  }
  return RV_OK;
}

uint32_t QZ_MarkModifyNoCali() {
  return RunMarkMember(kMarkModifyNoCali, {}, []() REQUIRES(g_MarkCall) {
    g_Scan.JumpToHome();
    AppendStreamWord(1, 1, SW_CORRECTION_OFF | (g_MarkJob.bLaserJob ? 0u : 1u));
    return uint32_t{RV_OK};
  });
}
