#pragma once
// The calibration test figures, marked inside a running job in galvanometer codes: the test square
// with its grid lines and orientation glyphs (QZ_MarkTestRect) and the XY guide corner
// (QZ_MarkGuideXY).
//
// The figures are built in 16-bit codes around the centre 32768 from the box parameter block's DAC
// range R (read as an integer; 25000 by default), then each polyline is converted to millimetres
// over the field's half range H, mm = (code + 0.2) / 65536 x 2H - H, and marked on layer 0 through
// the framed vector member. Before the conversion the codes are mirrored, but only when the block's
// extension word carries 0xA5 in its top byte and has bit 0 set: X and Y swapped when the swap flag
// is set, then x := 0x10000 - x with mirror X, y := 0x10000 - y with mirror Y.
//
// The geometry (glyph strokes, the square, the grid lines, the guide corner, the placements) is a
// set of pure functions of R over the tables of test_figures.cpp: tests check it without a card.
// Every truncation goes through the conversion helper.
//
// Marking stops at the first nonzero result of a framed member (a stopped job, a lost card, a
// refused polyline) and returns it; nothing is marked after it.
#include <cstdint>
#include <vector>

#include "markbase/job_state.h"

// A point in galvanometer codes, and a polyline of them.
struct CodePoint {
  int32_t x = 0;
  int32_t y = 0;
  bool operator==(const CodePoint&) const = default;
};
using CodePolyline = std::vector<CodePoint>;
// The strokes of one glyph, as integer offsets around (0, 0).
using GlyphSet = std::vector<CodePolyline>;

// A test polyline has at most this many points; MarkPolylines refuses more with 2.
constexpr size_t kTestPolylineMax = 9;

// Empties `set` and fills it with the strokes of glyph `code` at size `s` (each coordinate the
// product of the table, truncated toward zero). Codes 1..6, 100 and 101 have shapes; every other
// code leaves the set empty.
void BuildTestPattern(uint32_t code, double s, GlyphSet& set);

// One place of the glyph table: which set, turned (swap 1) or not, centred at (c + xk R, c + yk R).
struct GlyphPlacement {
  uint8_t set;
  uint8_t swap;
  double xk;
  double yk;
};
constexpr int kGlyphPlacements = 24;
extern const GlyphPlacement kGlyphPlacementTable[kGlyphPlacements];

// A glyph stroke moved to a place: (trunc(g[swap] + xo), trunc(g[1 - swap] + yo)).
CodePolyline PlaceStroke(const CodePolyline& stroke, int swap, double xo, double yo);

// The square and its grid lines for `points` (9: the two centre lines; else six lines) and R, in
// marking order.
std::vector<CodePolyline> TestRectLines(int points, int32_t r);
// The guide corner (a, b) -> (b, b) -> (b, d) of R.
CodePolyline GuideCorner(int32_t r);

// How the figures reach the job: the box block's mirroring and the field's half range H, and the
// framed members they mark with.
struct TestFigureSink {
  bool mirrorOn = false;  // extension word 0xA5xxxxxx with bit 0 set
  bool swap = false;
  bool mirrorX = false;
  bool mirrorY = false;
  double halfRange = 10.0;
  // The framed vector member: records of three reals {x, y, 0} in mm, a count, the layer.
  uint32_t (*markVector)(const double* points, int32_t count, uint32_t layer) = nullptr;
};
// The box parameter block's flags and R, H of the field; the vector member is left to the caller.
TestFigureSink TestFigureSinkOfBox(int32_t& r, int& points);

// Mirroring (when on), conversion with `offset`, then the vector member on layer 0. More than nine
// points: 2, nothing marked.
uint32_t MarkPolylines(const TestFigureSink& sink, const CodePolyline& points, double offset = 0.2);
// `count` consecutive pairs of `pairs` from `first` as one polyline, through MarkPolylines.
uint32_t BuildDacPolyline(const TestFigureSink& sink, const int32_t (*pairs)[2], int first, int count,
                          double offset = 0.2);
// Every polyline of `set` moved to (xo, yo), through MarkPolylines.
uint32_t MarkTestGrid(const TestFigureSink& sink, const GlyphSet& set, int swap, double xo, double yo);
// Mode 1: the guide corner through BuildDacPolyline (mirrored); any other mode: converted without
// mirroring and marked as it is.
uint32_t MarkGuideCross(const TestFigureSink& sink, uint32_t mode, int32_t r);
// Correction off, then the square, its grid lines, the guide corner and the glyphs.
uint32_t MarkTestRectImpl(const TestFigureSink& sink, int points, int32_t r);

// The mark-list member that switches the job's correction off: the home jump, then the correction
// word 0x04000002 (0x04000003 in a job that does not fire the laser). Not exported; in the frame of
// the mark-list commands (mark_member.h) under the name QZ_MarkModifyNoCali, kind 6.
uint32_t QZ_MarkModifyNoCali();
