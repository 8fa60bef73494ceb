// Pens, test figures and a drawing as a host marks them on the simulated card (rows and strokes: the unit tests):
// the pen exports' card check, box and log lines; the figures with the new box method (21-bit codes, half range 10
// mm); a drawing per block layout and laser type, run within one code, lit over each figure only, outputs in place.

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <numbers>

#include "e2e/card_host.h"
#include "frame/bytes.h"
#include "support/trace.h"

namespace {

struct Pt { double x, y; };
using Figure = std::vector<Pt>;
// A 16-bit figure code as the card's 21-bit code: (code + 0.2) scaled by 32, truncated.
constexpr uint32_t Wide(uint32_t code) { return code * 32 + 6; }

class DrawingHost : public qztest::CardHost {
 protected:
  static std::vector<double> Records(const Figure& f) {
    std::vector<double> d;
    for (const Pt& p : f) d.insert(d.end(), {p.x, p.y, 0.0});
    return d;
  }
  // Millimetres of a galvanometer code: the box file's 100 mm field in 16-bit codes, the module's ±10 mm in 21-bit.
  Pt Mm(uint32_t x, uint32_t y) const {
    if (!wide) return {x * 100.0 / 65535.0 - 50.0, y * 100.0 / 65535.0 - 50.0};
    return {x * 20.0 / 2097152.0 - 10.0, y * 20.0 / 2097152.0 - 10.0};
  }
  double OneCode() const { return wide ? 20.0 / 2097152.0 : 100.0 / 65535.0; }

  // Laser 0's segment `index` starts as the mirrors reach the polyline `f`, which they follow within one
  // code through its points in order; it ends on the whole pulse nearest their arrival at its end
  // (a dot's while they stay on it), before the next jump.
  void CheckFigure(uint32_t index, const Figure& f, [[maybe_unused]] const char* name) {
    QZ_TRACE(name);
    cardsim_laser_segment seg{};
    ASSERT_EQ(cardsim_laser_segment_get_(0, index, &seg), 0u);
    const double tol = OneCode() * 1.0001;
    auto near = [&](Pt a, Pt b) { return std::fabs(a.x - b.x) <= tol && std::fabs(a.y - b.y) <= tol; };
    auto onPolyline = [&](Pt p) {
      if (f.size() == 1) return near(p, f[0]);
      for (size_t s = 0; s + 1 < f.size(); ++s) {
        const Pt a = f[s], b = f[s + 1];
        const double dx = b.x - a.x, dy = b.y - a.y, len2 = dx * dx + dy * dy;
        const double t = std::clamp(((p.x - a.x) * dx + (p.y - a.y) * dy) / len2, 0.0, 1.0);
        if (std::hypot(p.x - a.x - t * dx, p.y - a.y - t * dy) <= tol * std::numbers::sqrt2) return true;
      }
      return false;
    };
    cardsim_mirror m{};
    ASSERT_EQ(cardsim_position_at_(seg.on_us, &m), 0u);
    EXPECT_EQ(m.moved_us, seg.on_us);  // on as the mirrors arrive
    Pt p = Mm(m.x, m.y);
    EXPECT_TRUE(near(p, f.front())) << p.x << ", " << p.y;
    size_t next = 0;
    uint64_t arrived = seg.on_us;
    for (uint32_t i = m.index; next < f.size(); ++i) {
      cardsim_position e{};
      ASSERT_EQ(cardsim_position_get_(i, &e), 0u) << "points reached: " << next;
      p = Mm(e.x, e.y);
      EXPECT_TRUE(onPolyline(p)) << p.x << ", " << p.y;
      while (next < f.size() && near(p, f[next])) ++next;
      arrived = e.time_us;
    }
    const double period = seg.period_us;
    EXPECT_EQ(period, 50.0);
    const double lit = static_cast<double>(seg.off_us - seg.on_us);
    EXPECT_EQ(std::fmod(lit, period), 0.0) << lit;
    if (f.size() > 1) {
      EXPECT_LE(std::fabs(static_cast<double>(arrived - seg.on_us) - lit), period / 2) << lit;
    }
    cardsim_mirror after{};
    ASSERT_EQ(cardsim_position_at_(seg.off_us, &after), 0u);
    EXPECT_LE(after.moved_us, arrived);  // the mirrors have not left the last point (the dot) yet
  }

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
  // Where the mirrors stand as the laser gate (output 1) opens for each polyline after the correction-off word.
  std::vector<cardsim_mirror> PolylineStarts() {
    std::vector<cardsim_mirror> out;
    bool off = false;
    for (const cardsim_trace_entry& e : Trace()) {
      if ((e.word & ~1u) == 0x04000002u) off = true;
      if (!off || e.word != 0x20002002u) continue;
      cardsim_mirror m{};
      EXPECT_EQ(cardsim_position_at_(e.time_us, &m), 0u);
      out.push_back(m);
    }
    return out;
  }

  bool wide = false;  // 21-bit codes
};

// Without a card every export returns 1 and logs its name; with one, a refusal's box and the setters' results.
TEST_F(DrawingHost, PenExportsCheckTheCardAndShowARefusal) {
  Stage(0);
  // Room for 257 pen records and 21 wave points (all zero).
  const std::vector<uint8_t> pens(257 * 1696), wave(21 * 20);
  const uint8_t* w = wave.data();
  // Nothing is looked at without a card (not even the null records).
  for (uint32_t rc : {QZ(SetMarkPara)(nullptr, 257), QZ(SetMarkParaPlus)(pens.data(), 1),
                      QZ(SetMarkParaLinePowWave)(0, w, 1, w, 1), QZ(SetMarkParaDotPowWave)(0, w, 1),
                      QZ(SetMarkParaLinePowWaveL)(1, 0, w, 1, w, 1), QZ(SetMarkParaDotPowWaveL)(1, 0, w, 1)})
    EXPECT_EQ(rc, 1u);
  const std::vector<std::string> info = InfoLog();
  for (const char* line : {"] QZ_SetMarkPara:257", "] QZ_SetMarkParaPlus:1",
                           "] QZ_SetMarkParaLinePowWave:layer=0 start=1 end=1",
                           "] QZ_SetMarkParaDotPowWave:layer=0 count=1",
                           "] QZ_SetMarkParaLinePowWaveL:laser=1 layer=0 start=1 end=1",
                           "] QZ_SetMarkParaDotPowWaveL:laser=1 layer=0 count=1"}) {
    size_t found = 0;
    for (const std::string& l : info) found += l.rfind("[INFO]", 0) == 0 && l.find(line) != std::string::npos;
    EXPECT_EQ(found, 1u) << line;
  }
  // With a card a refusal shows the language file's text.
  ASSERT_EQ(InitCard(), 0u);
  EXPECT_EQ(QZ(SetMarkPara)(pens.data(), 256), 0u);
  EXPECT_EQ(QZ(SetMarkParaDotPowWaveL)(1, 3, w, 2), 0u);
  EXPECT_EQ(QZ(SetMarkPara)(pens.data(), 257), 6u);
  EXPECT_EQ(lib->Boxes(), std::vector<std::string>{"topmost ok: The layer number is out of range."});
  EXPECT_TRUE(qztest::HasLine(ErrorLog(), "] SetMarkPara:The layer number is out of range."));
}

// The square (grid, glyphs, guide), then both guide modes with mirror X: only a marked extension word with bit 0
// mirrors (guide mode 0 never); nine points: centre lines; unlit jobs: correction off unlit; outside a job: a box.
TEST_F(DrawingHost, TheTestFiguresByBoxBlockAndRunModeAndOutsideAJob) {
  struct Case { uint32_t ext, mirrorX, pointFlag, mode, polylines, squareX, guide1X; } cases[] = {
      {0xA5000001u, 1, 0, 0, 42, Wide(57768), Wide(65536 - 39018)}, {0xA5000000u, 1, 0, 0, 42, Wide(7768), Wide(39018)},
      {0x00000001u, 1, 0, 0, 42, Wide(7768), Wide(39018)},          {0, 0, 1, 0, 36, Wide(7768), 0},
      {0, 0, 0, 3, 0, 0, 0}};
  for (const Case& c : cases) {
    QZ_TRACE(::testing::Message() << std::hex << c.ext << " " << c.pointFlag << " " << c.mode);
    Open(c.ext, c.mirrorX, c.pointFlag);
    if (HasFatalFailure()) return;
    ASSERT_EQ(MarkStart(c.mode, 0, 0), 0u);
    ASSERT_EQ(QZ(MarkTestRect)(), 0u);
    if (c.mirrorX) {
      ASSERT_EQ(QZ(MarkGuideXY)(1), 0u);
      ASSERT_EQ(QZ(MarkGuideXY)(0), 0u);
    }
    ASSERT_EQ(MarkEnd(0), 0u);
    const std::vector<uint32_t> words = TraceWords();
    const uint32_t off = c.mode == 3 ? 0x04000003u : 0x04000002u;
    const auto it = std::find(words.begin(), words.end(), off);
    ASSERT_NE(it, words.end());
    EXPECT_EQ(std::count(words.begin(), it, 0x04000000u | (c.mode == 3 ? 1u : 0u)), 1);  // the job's own
    if (c.squareX != Wide(57768)) {  // unmirrored
      EXPECT_TRUE(Visited(Wide(7768), Wide(7768)));
      EXPECT_TRUE(Visited(592582, 288582));            // placement 1: the turned bar
      EXPECT_TRUE(Visited(Wide(39018), Wide(35893)));  // the guide corner
    }
    if (c.mode == 3) continue;
    const std::vector<cardsim_mirror> starts = PolylineStarts();
    ASSERT_EQ(starts.size(), size_t{c.polylines});
    EXPECT_EQ(std::tuple(starts[0].x, starts[0].y), std::tuple(c.squareX, Wide(7768)));
    if (c.mirrorX) {
      EXPECT_EQ(std::tuple(starts[40].x, starts[41].x), std::tuple(c.guide1X, Wide(39018)));
    }
  }
  const size_t before = lib->Boxes().size();
  const uint32_t positions = cardsim_position_count_();
  EXPECT_EQ(QZ(MarkGuideXY)(1), 17u);
  EXPECT_EQ(lib->Boxes().size(), before + 1);
  EXPECT_EQ(QZ(MarkTestRect)(), 17u);
  EXPECT_EQ(lib->Boxes().size(), before + 2);
  EXPECT_EQ(cardsim_position_count_(), positions);
}

TEST_F(DrawingHost, TheCardRunsTheDrawingForEachLayoutAndLaser) {
  const Figure square = {{-6, -6}, {-1, -6}, {-1, -1}, {-6, -1}, {-6, -6}};
  Figure circle;
  for (int k = 0; k <= 24; ++k) {
    const double a = 2 * std::numbers::pi * (k % 24) / 24;
    circle.push_back({3.5 + 3 * std::cos(a), 3.5 + 3 * std::sin(a)});
  }
  const Figure dots = {{-5, 5}, {0, 6}, {5, -5}};
  const uint32_t versions[] = {79, 85, 96};  // block layouts 0 (16-bit codes), 1 and 2 (21-bit codes)
  for (uint32_t version : versions) {
    for (int laser : {0, 1}) {
      QZ_TRACE("card version " + std::to_string(version) + ", laser type " + std::to_string(laser));
      wide = version >= 80;
      OpenWithPens(0, "HowLongTimeFirstBuf=100000\nCardVertion=6\n[LASER]\nLASER_TYPE=" + std::to_string(laser) + "\n",
                   version);  // pen 1 marks at 10000 mm/s with pulses of 50 µs
      if (HasFatalFailure()) return;
      ASSERT_EQ(MarkStart(0, 0, 0), 0u);
      const auto sq = Records(square), ci = Records(circle), dt = Records(dots);
      ASSERT_EQ(QZ(MarkVector)(sq.data(), static_cast<int32_t>(square.size()), 1), 0u);
      ASSERT_EQ(QZ(MarkBufIO)(0x2, 0x2, 0, 0), 0u);
      ASSERT_EQ(QZ(MarkVector)(ci.data(), static_cast<int32_t>(circle.size()), 1), 0u);
      ASSERT_EQ(QZ(MarkDot)(dt.data(), static_cast<int32_t>(dots.size()), 200.0, 1), 0u);
      ASSERT_EQ(QZ(MarkBufIO)(0x5, 0x7, 0, 0), 0u);
      ASSERT_EQ(MarkEnd(0), 0u);
      EXPECT_TRUE(lib->Boxes().empty());
      cardsim_galvo g{};
      ASSERT_EQ(cardsim_galvo_state_(&g), 0u);
      EXPECT_EQ(g.form, wide ? 21u : 16u);
      // One laser segment per figure, each dot its own: nothing lit between them.
      ASSERT_EQ(cardsim_laser_segment_count_(0), 5u);
      EXPECT_EQ(cardsim_laser_segment_count_(1), 0u);
      CheckFigure(0, square, "square");
      CheckFigure(1, circle, "circle");
      for (uint32_t d = 0; d < 3; ++d) CheckFigure(2 + d, {dots[d]}, "dot");
      std::vector<cardsim_laser_segment> segs(5);
      for (uint32_t k = 0; k < 5; ++k) cardsim_laser_segment_get_(0, k, &segs[k]);
      EXPECT_EQ(segs[0].off_us - segs[0].on_us, 2000u);  // 20 mm at 10000 mm/s
      for (uint32_t k = 2; k < 5; ++k) EXPECT_EQ(segs[k].off_us - segs[k].on_us, 200u) << "dot " << k - 2;
      // Each output word runs in its place among the figures: between the square and the circle, after the last dot.
      struct Io { uint32_t values, mask; uint64_t after, before; } ios[] = {
          {0x2, 0x2, segs[0].off_us, segs[1].on_us}, {0x5, 0x7, segs[4].off_us, UINT64_MAX}};
      for (const Io& io : ios) {
        bool found = false;
        for (uint32_t i = 0, n = cardsim_output_change_count_(); i < n; ++i) {
          cardsim_output_change c{};
          cardsim_output_change_get_(i, &c);
          found |= c.mask == io.mask && c.values == io.values && c.time_us >= io.after && c.time_us < io.before;
        }
        EXPECT_TRUE(found) << "output word " << io.values << "/" << io.mask;
      }
    }
  }
}

}  // namespace
