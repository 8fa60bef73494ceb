#include "calibration/galvo_stream.h"

#include <algorithm>
#include <cmath>
#include <numbers>
#include <vector>

#include "calibration/box_para.h"
#include "frame/conv.h"
#include "frame/errors.h"
#include "frame/log_file.h"
#include "frame/system_para.h"
#include "markbase/mark_floor.h"
#include "markbase/stream_words.h"

namespace {

constexpr double kSmallStep16 = 0.2;  // codes per step below which a 16-bit move omits unchanged pairs
constexpr double kMinMove21 = 6.4;    // codes a 21-bit pair must move before it is written again
constexpr double kStepRounding = 0.99;
constexpr double kMaxSteps = 2147483647.0;
constexpr double kHalfPi = std::numbers::pi / 2.0;

// A move at a speed not above 0 has no step count (the count divides by the speed): a pen whose mark
// speed is 0 fails the job with 2 and a text that names the cause.
[[noreturn]] void RefuseMarkSpeed() {
  SetMarkErrorAndThrow(RV_ERROR, LangText("STRING_Mark_Speed_Not_Positive", "打标速度为0或负数，请将笔的打标速度设为大于0。",
                                          "The mark speed is 0 or negative; set the pen's mark speed above 0."));
}

// Adds µs to a time with the wrap of the unsigned clock (never signed overflow).
int64_t Later(int64_t t, int64_t dt) {
  return static_cast<int64_t>(static_cast<uint64_t>(t) + static_cast<uint64_t>(dt));
}

void PushGalvo(int64_t t, uint32_t word) {
  g_FloorCursors.pGalvo->push_back(TimedWord{static_cast<uint64_t>(t), word});
}

// BASETIME, refused (2) when it is not above 0.
int64_t BaseTime() {
  const int32_t base = g_SystemPara.BASETIME;
  if (base <= 0) ThrowMarkError(RV_ERROR);
  return base;
}

void RequireFinite(FieldPoint p) {
  if (!std::isfinite(p.x) || !std::isfinite(p.y)) ThrowMarkError(RV_DATA_IS_NAN);
}

// A step count computed as a real (never negative: distances and accepted speeds are not): a finite
// number that fits the step counter, at least 1.
int32_t StepsOf(double q) {
  if (!(q <= kMaxSteps)) ThrowMarkError(RV_DATA_IS_NAN);
  return std::max<int32_t>(1, RealToInt32(q));
}

// The whole field size of an axis in mm: that of the codes in use (21-bit: 2R for both axes).
double FieldReach(int axis) {
  if (g_SystemPara.bNewBoxCali) return 2.0 * CCaliLink::HalfRange();
  return axis == 0 ? g_Scan.FieldX() : g_Scan.FieldY();
}

int32_t Clamp16(int32_t c) { return std::clamp<int32_t>(c, 0, kCode16Max); }
int32_t Clamp21(int32_t c) { return std::clamp<int32_t>(c, 0, kCode21Max); }

// The pair rule of the 21-bit encoders.
struct Pairs21 {
  int32_t lastX;
  int32_t lastY;
  uint8_t& bWrote;

  void Step(int64_t t, int32_t cx, int32_t cy, bool finalStep) {
    const bool moved = std::abs(static_cast<double>(cx - lastX)) >= kMinMove21 ||
                       std::abs(static_cast<double>(cy - lastY)) >= kMinMove21;
    if (moved) {
      Write(t, cx, cy);
      lastX = cx;
      lastY = cy;
      bWrote = 1;
    } else if (finalStep) {
      Write(t, cx, cy);
    }
  }
  static void Write(int64_t t, int32_t cx, int32_t cy) {
    PushGalvo(t, GalvoWordX21(cx));
    PushGalvo(t, GalvoWordY21(cy));
  }
};

// The steps of a straight move in codes from (ax, ay) to (bx, by) on the galvanometer clock: a NOP at
// the clock, then `steps` steps of `base` µs; onStep(clock, x, y, k, final) gets each step's real
// codes, the last step exactly the end codes. The loop ends early when the job is stopped or failed.
template <class OnStep>
void StepLine(double ax, double ay, double bx, double by, int32_t steps, int64_t base, OnStep&& onStep)
    REQUIRES(g_MarkCall) {
  const double dx = (bx - ax) / steps, dy = (by - ay) / steps;
  int64_t& clock = GalvoClock();
  PushGalvo(clock, SW_NOP);
  double px = ax, py = ay;
  for (int32_t k = 0; k < steps; ++k) {
    if (JobStoppedOrFailed()) break;
    clock = Later(clock, base);
    const bool finalStep = k == steps - 1;
    if (finalStep) {
      px = bx;
      py = by;
    } else {
      px += dx;
      py += dy;
    }
    onStep(clock, px, py, k, finalStep);
  }
}

void Vector16(FieldPoint from, FieldPoint to, int32_t steps, int64_t base, uint8_t& bWrote) REQUIRES(g_MarkCall) {
  const double fx = g_Scan.FieldX();
  const double fy = g_Scan.FieldY();
  const double ax = MmToCode16Real(from.x, fx), ay = MmToCode16Real(from.y, fy);
  const double bx = MmToCode16Real(to.x, fx), by = MmToCode16Real(to.y, fy);
  const double dx = (bx - ax) / steps, dy = (by - ay) / steps;
  const bool slow = std::fabs(dx) < kSmallStep16 && std::fabs(dy) < kSmallStep16;
  const bool lit = g_MarkJob.bLaserJob != 0;
  bWrote = 1;
  int32_t lastX = -1, lastY = -1;
  StepLine(ax, ay, bx, by, steps, base, [&](int64_t clock, double px, double py, int32_t k, bool finalStep) {
    const int32_t cx = Clamp16(Code16(px)), cy = Clamp16(Code16(py));
    const bool write = !slow || k == 0 || finalStep || cx != lastX || cy != lastY;
    if (!write) return;
    PushGalvo(clock, GalvoWordX16(cx, lit));
    PushGalvo(clock, GalvoWordY16(cy, lit));
    lastX = cx;
    lastY = cy;
  });
}

void Vector21(FieldPoint from, FieldPoint to, int32_t steps, int64_t base, uint8_t& bWrote) REQUIRES(g_MarkCall) {
  const double h = CCaliLink::HalfRange();
  const double ax = MmToCode21Real(from.x, h), ay = MmToCode21Real(from.y, h);
  const double bx = MmToCode21Real(to.x, h), by = MmToCode21Real(to.y, h);
  Pairs21 pairs{RoundCode21(ax), RoundCode21(ay), bWrote};
  StepLine(ax, ay, bx, by, steps, base, [&](int64_t clock, double px, double py, int32_t, bool finalStep) {
    pairs.Step(clock, Clamp21(RoundCode21(px)), Clamp21(RoundCode21(py)), finalStep);
  });
}

}  // namespace

int64_t& GalvoClock() { return g_FloorCursors.pLineTime[kLineTimeGalvoClock]; }
int64_t& LineStartTime() { return g_FloorCursors.pLineTime[kLineTimeStart]; }
int64_t& LineEndTime() { return g_FloorCursors.pLineTime[kLineTimeEnd]; }

uint32_t GalvoWordX16(int32_t code, bool lit) {
  return (lit ? SW_GALVO_X : SW_GALVO_X_UNLIT) | (static_cast<uint32_t>(code) & 0xFFFFu);
}
uint32_t GalvoWordY16(int32_t code, bool lit) {
  return (lit ? SW_GALVO_Y : SW_GALVO_Y_UNLIT) | (static_cast<uint32_t>(code) & 0xFFFFu);
}
uint32_t GalvoWordX21(int32_t code) { return SW_GALVO21_X | (static_cast<uint32_t>(code) & 0x1FFFFFu); }
uint32_t GalvoWordY21(int32_t code) { return SW_GALVO21_Y | (static_cast<uint32_t>(code) & 0x1FFFFFu); }

double FieldDistance(FieldPoint a, FieldPoint b) {
  // sqrt is exact in IEEE arithmetic; hypot differs between C runtimes in its last bit.
  const double dx = b.x - a.x, dy = b.y - a.y;
  return std::sqrt(dx * dx + dy * dy);
}

int32_t MoveStepCount(double distance, double speed) {
  const int64_t base = BaseTime();
  if (std::isnan(speed)) ThrowMarkError(RV_DATA_IS_NAN);
  if (speed <= 0.0) RefuseMarkSpeed();
  if (!std::isfinite(distance)) ThrowMarkError(RV_DATA_IS_NAN);
  return StepsOf(distance / (static_cast<double>(base) * speed) + kStepRounding);
}

int32_t JumpStepCount(double distance, double speed) {
  if (speed > 0.0) return MoveStepCount(distance, speed);
  BaseTime();
  if (!std::isfinite(distance)) ThrowMarkError(RV_DATA_IS_NAN);
  return 1;
}

bool WithinFieldReach(double x, double y) { return std::fabs(x) <= FieldReach(0) && std::fabs(y) <= FieldReach(1); }

void RequireFieldReach(const char* tag, double x, double y) {
  if (WithinFieldReach(x, y)) return;
  LogFailure(tag, StrFormat("position (%g, %g) lies beyond the field", x, y));
  ThrowMarkError(RV_ERROR);
}

void StreamVector(FieldPoint& from, FieldPoint to, int32_t steps, uint8_t& bWrote) {
  bWrote = 0;
  const int64_t base = BaseTime();
  RequireFinite(from);
  RequireFinite(to);
  if (steps < 1) steps = 1;
  if (g_SystemPara.bNewBoxCali) {
    Vector21(from, to, steps, base, bWrote);
  } else {
    Vector16(from, to, steps, base, bWrote);
  }
  from = to;
}

void StreamVector21(FieldPoint& from, FieldPoint to, uint8_t& bWrote, double vs, double ve) {
  bWrote = 0;
  RequireFinite(to);
  if (!g_SystemPara.bNewBoxCali) {
    from = to;
    return;
  }
  const int64_t base = BaseTime();
  RequireFinite(from);
  if (std::isnan(vs) || std::isnan(ve)) ThrowMarkError(RV_DATA_IS_NAN);
  if (vs < 0.0 || ve < 0.0 || !(vs + ve > 0.0)) RefuseMarkSpeed();
  const double h = CCaliLink::HalfRange();
  const double ax = MmToCode21Real(from.x, h), ay = MmToCode21Real(from.y, h);
  const double bx = MmToCode21Real(to.x, h), by = MmToCode21Real(to.y, h);
  const double dist = FieldDistance({ax, ay}, {bx, by});
  int64_t& clock = GalvoClock();
  PushGalvo(clock, SW_NOP);
  if (dist == 0.0) {
    // No way to go and no time to take: the move is its NOP alone.
    from = to;
    return;
  }
  const double perMm = 2097152.0 / (2.0 * h);
  const double u0 = perMm * vs, u1 = perMm * ve;  // codes per µs
  const int32_t n = StepsOf(dist / ((u1 + u0) * 0.5 * static_cast<double>(base)) + kStepRounding);
  const double total = static_cast<double>(static_cast<int64_t>(n) * base);
  const double alpha = (dist - total * u0) / (total * total);
  Pairs21 pairs{RoundCode21(ax), RoundCode21(ay), bWrote};
  for (int32_t i = 1; i <= n; ++i) {
    if (JobStoppedOrFailed()) break;
    clock = Later(clock, base);
    const bool finalStep = i == n;
    double px = bx, py = by;
    if (!finalStep) {
      const double t = static_cast<double>(static_cast<int64_t>(i) * base);
      const double s = alpha * t * t + u0 * t;
      px = ax + s * (bx - ax) / dist;
      py = ay + s * (by - ay) / dist;
    }
    pairs.Step(clock, Clamp21(RoundCode21(px)), Clamp21(RoundCode21(py)), finalStep);
  }
  from = to;
}

int32_t StreamMoveTo(FieldPoint p, double speed) {
  FieldPoint cur{g_Scan.dbCurX, g_Scan.dbCurY};
  RequireFinite(p);
  const int32_t steps = MoveStepCount(FieldDistance(cur, p), speed);
  uint8_t wrote = 0;
  StreamVector(cur, p, steps, wrote);
  g_Scan.dbCurX = cur.x;
  g_Scan.dbCurY = cur.y;
  return wrote ? steps : 0;
}

int64_t StreamJumpTo(FieldPoint p, double speed) {
  FieldPoint cur{g_Scan.dbCurX, g_Scan.dbCurY};
  RequireFinite(p);
  const double d = FieldDistance(cur, p);
  const int32_t steps = JumpStepCount(d, speed);
  g_Scan.dbPrevX = cur.x;
  g_Scan.dbPrevY = cur.y;
  uint8_t wrote = 0;
  StreamVector(cur, p, steps, wrote);
  g_Scan.dbCurX = cur.x;
  g_Scan.dbCurY = cur.y;

  const int32_t longLen = g_Scan.nLongJumpLen;
  const double dMax = g_Scan.nJumpDelayMax, dMin = g_Scan.nJumpDelayMin;
  int64_t delay = g_Scan.nJumpDelayMax;
  if (d < longLen) delay = RealToInt64(std::round(dMin + (dMax - dMin) * d / longLen));
  delay = (delay + 5) / 10 * 10;
  AppendAuxWait(delay);
  return delay;
}

void StreamMoveWithAngleDelay(FieldPoint p, double angle) {
  const int64_t corner = RealToInt64(std::min(angle, kHalfPi) * g_Scan.nPolygonDelay / kHalfPi + 0.5);
  const int32_t n = StreamMoveTo(p, g_Scan.dbMarkSpeed);
  LineEndTime() = GalvoClock();
  if (n != 0) AppendAuxWait((corner + 5) / 10 * 10);
}

void AppendAuxWait(int64_t dt) {
  if (dt <= 0) return;
  int64_t& clock = GalvoClock();
  clock = Later(clock, dt);
  PushGalvo(clock, SW_NOP);
}

void StreamStartRecords(int32_t offset, int64_t t) {
  LineStartTime() = 0;
  PushGalvo(0, SW_NOP);
  PushGalvo(Later(t, offset), SW_NOP);
  LineEndTime() = t;
}
