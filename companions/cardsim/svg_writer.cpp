#include "svg_writer.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <limits>
#include <system_error>
#include <utility>
#include <vector>

namespace cardsim {

namespace {

constexpr uint64_t kNoLimit = std::numeric_limits<uint64_t>::max();
constexpr double kDotTravelMm = 0.05;  // a lit interval whose mirrors travelled less is a dot

struct Code {
  uint32_t x, y;
  bool operator==(const Code& o) const { return x == o.x && y == o.y; }
};

struct Polyline {
  bool mark;
  std::vector<Code> points;
};

// Appends p to a polyline, leaving out the last point when it lies on the straight line from the
// one before it to p and the path goes on in the same direction.
void Extend(std::vector<Code>& pts, Code p) {
  if (pts.size() >= 2) {
    const Code a = pts[pts.size() - 2], b = pts.back();
    const int64_t abx = int64_t{b.x} - a.x, aby = int64_t{b.y} - a.y;
    const int64_t bpx = int64_t{p.x} - b.x, bpy = int64_t{p.y} - b.y;
    if (abx * bpy - aby * bpx == 0 && abx * bpx + aby * bpy > 0) {
      pts.back() = p;
      return;
    }
  }
  pts.push_back(p);
}

// A real with at most four decimals, trailing zeros dropped, never "-0".
void Num(std::string& out, double v) {
  char buf[64];
  const auto r = std::to_chars(buf, buf + sizeof buf, v, std::chars_format::fixed, 4);
  char* end = r.ptr;
  if (std::find(buf, end, '.') != end) {
    while (end[-1] == '0') --end;
    if (end[-1] == '.') --end;
  }
  if (end - buf == 2 && buf[0] == '-' && buf[1] == '0') {
    out += '0';
    return;
  }
  out.append(buf, end);
}

void Attr(std::string& out, const char* name, double v) {
  out += ' ';
  out += name;
  out += "=\"";
  Num(out, v);
  out += '"';
}

void Uint(std::string& out, uint64_t v) {
  char buf[24];
  out.append(buf, std::to_chars(buf, buf + sizeof buf, v).ptr);
}

// Codes to field millimetres for the form of the run.
class Scale {
 public:
  Scale(uint32_t form, const SvgField& f) : form21_(form == 21), f_(f) {}
  double X(uint32_t code) const { return Mm(code, f_.fieldX); }
  double Y(uint32_t code) const { return Mm(code, f_.fieldY); }
  double Width() const { return form21_ ? 2 * f_.halfRange : f_.fieldX; }
  double Height() const { return form21_ ? 2 * f_.halfRange : f_.fieldY; }
  bool Form21() const { return form21_; }

 private:
  double Mm(uint32_t code, double field) const {
    if (form21_) return code * (2 * f_.halfRange) / 2097152.0 - f_.halfRange;
    return code * field / 65535.0 - field / 2;
  }
  bool form21_;
  SvgField f_;
};

// A point of the picture: x, -y.
void Point(std::string& out, const Scale& s, Code c) {
  Num(out, s.X(c.x));
  out += ',';
  Num(out, -s.Y(c.y));
}

}  // namespace

bool SvgField::Valid() const {
  for (double v : {fieldX, fieldY, halfRange}) {
    if (!std::isfinite(v) || v <= 0) return false;
  }
  return true;
}

std::string SvgPicture(const GalvoRecord& galvo, const LaserRecord& lasers, uint64_t clock, const SvgField& field,
                       SvgCounts* counts) {
  // The time from which a record no longer says what happened.
  uint64_t limit = kNoLimit;
  cardsim_position pos{};
  uint32_t kept = 0;
  uint64_t lastTime = 0;
  for (; galvo.Get(kept, pos); ++kept) lastTime = pos.time_us;
  if (galvo.Count() > kept) limit = kept == 0 ? 0 : lastTime + 1;  // entries not kept have later times
  std::vector<std::pair<uint64_t, uint64_t>> lit;
  for (uint32_t laser = 0; laser < LaserRecord::kLasers; ++laser) {
    cardsim_laser_segment seg{};
    uint32_t n = 0;
    uint64_t lastOff = 0;
    for (; lasers.Segment(laser, n, clock, seg); ++n) {
      lit.emplace_back(seg.on_us, seg.off_us);
      lastOff = seg.off_us;
    }
    // Segments not kept begin at or after the off time of the last one kept.
    if (lasers.SegmentCount(laser) > n) limit = std::min(limit, lastOff);
  }

  // Lit intervals: both lasers' segments, touching ones joined.
  std::sort(lit.begin(), lit.end());
  std::vector<std::pair<uint64_t, uint64_t>> joined;
  for (const auto& seg : lit) {
    if (!joined.empty() && seg.first <= joined.back().second) {
      joined.back().second = std::max(joined.back().second, seg.second);
    } else {
      joined.push_back(seg);
    }
  }
  const Scale s(galvo.Form(), field);

  // The moves, and how far the mirrors travelled in each lit interval.
  struct Move {
    Code from, to;
    bool mark;
    size_t interval;  // of a marked move
  };
  std::vector<Move> moves;
  std::vector<double> travel(joined.size(), 0.0);
  Code at{};
  for (uint32_t i = 0; i < kept; ++i) {
    galvo.Get(i, pos);
    if (pos.time_us >= limit) break;
    const Code to{pos.x, pos.y};
    if (i == 0 || to == at) {
      at = to;
      continue;
    }
    bool mark = false;
    for (uint32_t laser = 0; laser < LaserRecord::kLasers; ++laser) {
      bool on = false;
      lasers.OnAt(laser, pos.time_us, on);
      mark = mark || on;
    }
    // The last interval that began at or before the move: the one the laser was on in.
    const auto it = std::upper_bound(joined.begin(), joined.end(), pos.time_us,
                                     [](uint64_t v, const std::pair<uint64_t, uint64_t>& g) { return v < g.first; });
    const size_t interval = it == joined.begin() ? 0 : static_cast<size_t>(it - joined.begin()) - 1;
    mark = mark && it != joined.begin();
    if (mark) travel[interval] += std::hypot(s.X(to.x) - s.X(at.x), s.Y(to.y) - s.Y(at.y));
    moves.push_back(Move{at, to, mark, interval});
    at = to;
  }

  // A lit interval whose mirrors travelled less than kDotTravelMm is a dot where it began; its
  // moves are not drawn.
  std::vector<Code> dots;
  std::vector<bool> dotted(joined.size(), false);
  for (size_t k = 0; k < joined.size(); ++k) {
    const auto [on, off] = joined[k];
    if (off <= on || off > limit || travel[k] >= kDotTravelMm) continue;
    cardsim_mirror m{};
    if (galvo.At(on, m)) dots.push_back(Code{m.x, m.y});
    dotted[k] = true;
  }
  std::vector<Polyline> lines;
  bool broken = true;
  for (const Move& m : moves) {
    if (m.mark && dotted[m.interval]) {
      broken = true;
      continue;
    }
    if (broken || lines.back().mark != m.mark) lines.push_back(Polyline{m.mark, {m.from}});
    Extend(lines.back().points, m.to);
    broken = false;
  }

  const double w = s.Width(), h = s.Height();
  const double span = std::max(w, h) / 1000;  // line widths and sizes follow the field
  const double margin = 20 * span;
  uint32_t nMarks = 0, nJumps = 0;
  for (const Polyline& l : lines) (l.mark ? nMarks : nJumps) += 1;
  const bool complete = limit == kNoLimit;
  if (counts) *counts = SvgCounts{nMarks, nJumps, static_cast<uint32_t>(dots.size()), complete};

  std::string out;
  out.reserve(512 + lines.size() * 64 + moves.size() * 20 + dots.size() * 64);
  out += "<?xml version=\"1.0\" encoding=\"UTF-8\" standalone=\"no\"?>\n";
  out += "<svg xmlns=\"http://www.w3.org/2000/svg\" version=\"1.1\" width=\"";
  Num(out, w + 2 * margin);
  out += "mm\" height=\"";
  Num(out, h + 2 * margin);
  out += "mm\" viewBox=\"";
  Num(out, -w / 2 - margin);
  out += ' ';
  Num(out, -h / 2 - margin);
  out += ' ';
  Num(out, w + 2 * margin);
  out += ' ';
  Num(out, h + 2 * margin);
  out += "\">\n<title>What the simulated card marked</title>\n<desc>";
  if (s.Form21()) {
    out += "21-bit codes, half range ";
    Num(out, field.halfRange);
    out += " mm";
  } else {
    out += "16-bit codes, field ";
    Num(out, w);
    out += " x ";
    Num(out, h);
    out += " mm";
  }
  out += "; marked paths ";
  Uint(out, nMarks);
  out += ", jumps ";
  Uint(out, nJumps);
  out += ", dots ";
  Uint(out, dots.size());
  if (!complete) {
    out += "; the records end at ";
    Uint(out, limit);
    out += " us: the picture stops there";
  }
  out += "</desc>\n<rect class=\"field\"";
  Attr(out, "x", -w / 2);
  Attr(out, "y", -h / 2);
  Attr(out, "width", w);
  Attr(out, "height", h);
  out += " fill=\"none\" stroke=\"#c8c8c8\"";
  Attr(out, "stroke-width", span);
  out += "/>\n";

  for (const bool mark : {false, true}) {
    if (mark) {
      out += "<g fill=\"none\" stroke=\"#000000\" stroke-linecap=\"round\" stroke-linejoin=\"round\"";
      Attr(out, "stroke-width", 2 * span);
    } else {
      out += "<g fill=\"none\" stroke=\"#999999\"";
      Attr(out, "stroke-width", span);
      out += " stroke-dasharray=\"";
      Num(out, 5 * span);
      out += ' ';
      Num(out, 5 * span);
      out += '"';
    }
    out += ">\n";
    for (const Polyline& l : lines) {
      if (l.mark != mark) continue;
      out += mark ? "<polyline class=\"mark\" points=\"" : "<polyline class=\"jump\" points=\"";
      for (size_t i = 0; i < l.points.size(); ++i) {
        if (i) out += ' ';
        Point(out, s, l.points[i]);
      }
      out += "\"/>\n";
    }
    out += "</g>\n";
  }
  out += "<g fill=\"#000000\" stroke=\"none\">\n";
  for (const Code& d : dots) {
    out += "<circle class=\"dot\"";
    Attr(out, "cx", s.X(d.x));
    Attr(out, "cy", -s.Y(d.y));
    Attr(out, "r", 3 * span);
    out += "/>\n";
  }
  out += "</g>\n</svg>\n";
  return out;
}

bool WriteSvgFile(const std::string& path, const std::string& text) {
  const std::string temp = path + ".tmp";
  {
    std::ofstream f(temp, std::ios::binary | std::ios::trunc);
    if (!f) return false;
    f.write(text.data(), static_cast<std::streamsize>(text.size()));
    f.close();
    if (!f) {
      std::remove(temp.c_str());
      return false;
    }
  }
  std::error_code ec;
  std::filesystem::rename(std::filesystem::path(temp), std::filesystem::path(path), ec);
  if (ec) std::remove(temp.c_str());
  return !ec;
}

}  // namespace cardsim
