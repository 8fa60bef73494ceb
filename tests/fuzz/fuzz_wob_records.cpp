// The figure records of QZ_MarkWobLaserByEnc (six reals per point, of which x and y are used) as the
// wobble-by-encoder program takes them, inside one mark call of a job with 21-bit codes (R 10 mm, base
// time 10 µs, mark speed 0.1 mm/µs; nothing leaves the job for a card). Each point comes from four
// bytes of the input, x and y as 16-bit fractions of R (so that the member's checks pass); its other
// four reals are NaN, which the program must not read.
// Oracle: a figure with no two places 0.001 mm apart fails the job with 2, any other is written without
// a failure; the program's loop, from its label to its jump back, passes every point of the figure in
// order and ends within 0.002 mm of where it starts; the line storage is left empty either way.
#include <cmath>
#include <limits>
#include <vector>

#include "calibration/box_para.h"
#include "calibration/scan.h"
#include "frame/bytes.h"
#include "frame/errors.h"
#include "frame/system_para.h"
#include "fuzz_support.h"
#include "laser/laser.h"
#include "laser/wave_holder.h"
#include "mark/laser_module.h"
#include "mark/line_storage.h"
#include "mark/mark_job.h"
#include "markbase/mark_floor.h"
#include "markbase/pen_para.h"
#include "markbase/stream_words.h"

namespace {

constexpr double kR = 10.0;
constexpr double kCodeMm = 2 * kR / 2097152;  // one 21-bit code

struct Place {
  double x, y;
};
bool Near(Place a, Place b, double mm) { return std::fabs(a.x - b.x) + std::fabs(a.y - b.y) <= mm + 4 * kCodeMm; }

// The galvanometer's place at `from` (µs) and after each position pair of floor 0 up to `to`.
std::vector<Place> Places(int64_t from, int64_t to) {
  Place cur{};
  std::vector<Place> out;
  for (const TimedWord& w : g_MarkFloor[0].ch0) {
    const uint32_t axis = w.word & 0xFFE00000u;
    if (TwTime(w) > to || (axis != 0x01000000u && axis != 0x01400000u)) continue;
    if (TwTime(w) > from && out.empty()) out.push_back(cur);
    (axis == 0x01000000u ? cur.x : cur.y) = (w.word & 0x1FFFFFu) * kCodeMm - kR;
    if (TwTime(w) > from && axis == 0x01400000u) out.push_back(cur);
  }
  if (out.empty()) out.push_back(cur);
  return out;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static const bool once = [] {
    qzfuzz::LibraryFolder();
    SystemPara& sp = g_SystemPara;
    sp.BASETIME = 10;
    sp.nLaserCount = 1;
    sp.nLaserDelayZoom = 1;
    sp.bNewBoxCali = 1;
    sp.HowLongTimeFirstBuf = sp.nSteadyWindowUs = 1000000000u;
    CCaliLink::SetHalfRange(kR);
    g_PenPara[0].dbMarkSpeed = 0.1;
    return true;
  }();
  const int32_t count = static_cast<int32_t>(size / 4);
  if (!once || count < 2) return 0;  // the member refuses fewer than two points
  std::vector<double> records(6 * static_cast<size_t>(count), std::numeric_limits<double>::quiet_NaN());
  std::vector<Place> figure;
  for (int32_t i = 0; i < count; ++i) {
    const uint8_t* p = data + 4 * i;
    figure.push_back({static_cast<int16_t>(GetU16(p)) * kR / 32768, static_cast<int16_t>(GetU16(p + 2)) * kR / 32768});
    records[6 * i] = figure.back().x;
    records[6 * i + 1] = figure.back().y;
  }
  g_MarkJob.g_bMarkCallBusy = 1;
  CMarkJob::InitJob(1);
  g_Laser[0] = CLaser{};
  g_WaveHolder[0] = CWaveHolder(0);
  uint32_t rc = 0;
  try {
    LaserModWobByEncProgram(reinterpret_cast<const uint8_t*>(records.data()), count, 0, {1, 0xFFFFFF, 5, 6, 3, 0});
  } catch (const MyException& e) {
    rc = e.code;
  }
  FUZZ_CHECK(g_LineStorage.vecLastLine.empty() && g_LineStorage.nLookAhead == 10 && g_LineStorage.nState == 0,
             "the line storage is left in use");
  bool apart = false;
  for (const Place& p : figure) apart = apart || std::fabs(p.x - figure[0].x) + std::fabs(p.y - figure[0].y) >= 0.001;
  FUZZ_CHECK(rc == (apart ? RV_OK : RV_ERROR), "a figure of %d points (apart %d) gave %u", count, apart, rc);
  if (rc) return 0;

  int64_t label = -1, back = -1;
  for (const TimedWord& w : g_MarkFloor[0].ch3) {
    if (w.word == (SW_LABEL | 2) && label < 0) label = TwTime(w);
    if (w.word == (SW_JUMP_TO_LABEL | 2) && back < 0) back = TwTime(w);
  }
  FUZZ_CHECK(label >= 0 && back > label, "the loop's label at %lld, its jump back at %lld",
             static_cast<long long>(label), static_cast<long long>(back));
  const std::vector<Place> loop = Places(label, back);
  FUZZ_CHECK(Near(loop.front(), figure[0], 0.0), "the loop starts at (%g, %g), not at the figure's first point",
             loop.front().x, loop.front().y);
  FUZZ_CHECK(Near(loop.back(), loop.front(), 0.002), "the loop ends at (%g, %g)", loop.back().x, loop.back().y);
  size_t at = 0;
  for (size_t k = 1; k < figure.size(); ++k) {
    while (at < loop.size() && !Near(loop[at], figure[k], 0.001)) ++at;
    FUZZ_CHECK(at < loop.size(), "the loop misses point %zu (%g, %g)", k, figure[k].x, figure[k].y);
  }
  return 0;
}
