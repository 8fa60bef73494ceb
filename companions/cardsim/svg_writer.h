#pragma once
// The card's picture: the path the executor ran, drawn as an SVG 1.1 file in the field's
// millimetres, what the card would have marked.
//
// The path. The position trace (galvo_record.h) says where the mirrors went and when; the laser
// segments (laser_record.h) say when a laser emitted. The mirrors move from one entry's X/Y to the
// next entry's at that entry's time; a move at time t is marked when a laser emitted at t (t within
// [on, off) of a segment of laser 0 or 1: what cardsim_position_at reports), else it is a jump.
// Entries that leave X and Y where they were (Z alone, a code written again) move nothing. Runs of
// moves of one kind make one polyline; a point that lies exactly on the straight line between its
// neighbours, going on in the same direction (whole codes, no tolerance), is left out, so a vector
// run in many steps draws as its corners. The path begins where the first position word put the
// mirrors: the codes of the buffer open are no place the job chose.
//
// Dots. A lit interval (the union of both lasers' segments of emission, touching ones joined)
// along which the mirrors travelled less than 0.05 mm is a dot: a small filled circle where the
// mirrors were when it began (the codes 0 of the buffer open when no position word ran before it),
// and its moves are not drawn as lines. A lit interval of no length (emission starting and ending
// at one time) marks nothing.
//
// Millimetres. 16-bit codes: p = code x F / 65535 - F / 2 with F the field size of the axis;
// 21-bit codes: p = code x 2R / 2^21 - R with R the half range of the box correction (the
// library's conversions turned round). The picture shows the field (F x F, or 2R x 2R) with a
// margin of 2 % on each side; Y points up, so the SVG's y is -p. Numbers are written with at most
// four decimals, trailing zeros dropped, by std::to_chars (never the host's locale).
//
// Elements, for a reader that looks for them: a <rect class="field"> (the field's border), then
// <polyline class="jump" points="x,y x,y ..."/> in a group of thin dashed grey lines, <polyline
// class="mark" .../> in a group of solid black lines, <circle class="dot" cx= cy= r=/> in a group of
// filled black circles; each group in the order of the run. The <desc> names the form, the field
// and the counts.
//
// A record that stopped keeping entries (galvo_record.h, laser_record.h) ends the picture at the
// first time it no longer covers; the <desc> says so.
#include <cstdint>
#include <string>

#include "galvo_record.h"
#include "laser_record.h"

namespace cardsim {

struct SvgField {
  static constexpr double kDefaultField = 100.0;
  static constexpr double kDefaultHalfRange = 10.0;
  double fieldX = kDefaultField;  // mm, 16-bit codes
  double fieldY = kDefaultField;
  double halfRange = kDefaultHalfRange;  // mm, 21-bit codes
  // Every size finite and above 0.
  bool Valid() const;
};

// What a picture holds.
struct SvgCounts {
  uint32_t marks = 0;  // polylines of each kind
  uint32_t jumps = 0;
  uint32_t dots = 0;
  bool complete = true;  // the records covered the whole run
};

// The picture of the run as SVG text; `clock` the executor's clock (the end of a segment still
// open).
std::string SvgPicture(const GalvoRecord& galvo, const LaserRecord& lasers, uint64_t clock, const SvgField& field,
                       SvgCounts* counts = nullptr);
// Writes `text` to `path` through a temporary file beside it and a rename; false when it cannot.
bool WriteSvgFile(const std::string& path, const std::string& text);

}  // namespace cardsim
