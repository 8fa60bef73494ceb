#include "mark/line_storage.h"

#include <algorithm>
#include <cmath>
#include <exception>

#include "calibration/galvo_stream.h"
#include "calibration/scan.h"
#include "frame/bytes.h"
#include "frame/conv.h"
#include "frame/errors.h"
#include "frame/fly_para.h"
#include "frame/log_file.h"
#include "frame/system_para.h"
#include "laser/laser.h"
#include "laser/laser_stream.h"
#include "laser/light_path.h"
#include "laser/wave_holder.h"
#include "mark/layer_switch.h"
#include "mark/mark_data2fifo.h"
#include "markbase/mark_floor.h"
#include "mark/mark_flow.h"
#include "markbase/pen_para.h"
#include "markbase/stream_words.h"

CLineStorage g_LineStorage;

namespace {

constexpr double kDuplicateMm = 0.001;   // a point this close (|dx| + |dy|) to the last one is dropped
constexpr double kMinLeadMm = 1e-7;      // shorter leads are none
constexpr int64_t kFlyRangeMinJumpUs = 20;  // stream time from the jump to the fly-mark range words
constexpr size_t kBufferReserve = 32;    // the buffer never holds more than the look-ahead and 3 leads
constexpr uint32_t kLightPathSplitting = 2;  // light-path kind: with energy splitting

// A layer that stands for "none" in a point (a lead point of the dashed layer -1).
constexpr uint32_t kNoLayer = 0xFFFFFFFFu;

uint32_t DashedLayer() { return static_cast<uint32_t>(g_SystemPara.nDashedlineLayNo); }

// The lead length of a layer: PenParaPlus real 1 in mm; none outside the pen table or when it is not
// a finite number.
double LeadLength(uint32_t layer) REQUIRES(g_MarkCall) {
  if (layer >= static_cast<uint32_t>(kPenCount)) return 0.0;
  const double len = g_PenParaPlus[layer].dbReal1;
  return std::isfinite(len) ? len : 0.0;
}

// `from` moved `len` mm further along the direction from `back` to `from`. A direction of no length
// gives `from` itself.
FieldPoint Extend(FieldPoint from, FieldPoint back, double len) {
  const double dx = from.x - back.x, dy = from.y - back.y;
  const double d = std::sqrt(dx * dx + dy * dy);
  if (!(d > 0.0)) return from;
  return {from.x + dx * len / d, from.y + dy * len / d};
}

FieldPoint HostPoint(const uint8_t* pts, int32_t i) {
  const uint8_t* r = pts + static_cast<size_t>(i) * kPolylinePointBytes;
  return {GetF64(r), GetF64(r + 8)};
}

FieldPoint At(const LinePoint& p) { return {p.x, p.y}; }

void CountLitSegment() REQUIRES(g_MarkCall) {
  g_Scan.nLitCount.store(g_Scan.nLitCount.load(std::memory_order_relaxed) + 1, std::memory_order_relaxed);
}

// The laser steps of a marked point on every laser in use: the segment opened at the line start
// (planned to end at the line end), closed at the line end when the run ends here, and the power
// waves of the holder played once per polyline (start wave when the segment is long enough or
// closed, end wave when it is closed).
void LaserStepsAt(bool runEnds) REQUIRES(g_MarkCall) {
  const int64_t start = LineStartTime();
  const int64_t end = LineEndTime();
  for (int j = 0; j < LasersInUse(); ++j) {
    CLaser& laser = g_Laser[j];
    CWaveHolder& holder = g_WaveHolder[j];
    laser.On(start, end);
    if (runEnds) laser.Off(end);
    if (holder.nWaveMode != 2) continue;
    const uint32_t s = laser.State().nState;
    // The laser's segment runs from start + on delay to end + off delay: its waves share that time.
    const int64_t o = laser.bApplyDelays ? static_cast<int64_t>(laser.nOnDelayUS) - laser.nOffDelayUS : 0;
    const bool closed = s == kLaserStateOffDone;
    const bool more = holder.SplitAt((end - o) - start, closed);
    FloorWavePower& wave = holder.LastPower();
    if (wave.nValue == 0 && s >= kLaserStateOn && (closed || more)) {
      StreamPowerRampB(holder, static_cast<int64_t>(laser.State().nOnTime), g_Scan.dbMarkSpeed);
      wave.nValue = 1;
    }
    if (wave.nValue == 1 && closed) {
      holder.StepWave(g_Scan.dbMarkSpeed);
      wave.nValue = 2;
    }
  }
}

}  // namespace

uint32_t CheckPolyline(const uint8_t* pts, int32_t n, uint32_t layer) {
  const char* tag = "QZ_MarkVector";
  if (!pts && n > 0) {
    LogFailure(tag, StrFormat("no points for a count of %d", static_cast<int>(n)));
    return RV_ERROR;
  }
  for (int32_t i = 0; i < n; ++i) {
    const FieldPoint p = HostPoint(pts, i);
    if (!std::isfinite(p.x) || !std::isfinite(p.y)) {
      LogFailure(tag, StrFormat("%s (point %d)", GetErrText(RV_DATA_IS_NAN).c_str(), static_cast<int>(i)));
      return RV_DATA_IS_NAN;
    }
  }
  if (n < 2) {
    LogFailure(tag, GetErrText(RV_LINE_LESS_THAN_1));
    return RV_LINE_LESS_THAN_1;
  }
  if (layer >= static_cast<uint32_t>(kPenCount)) {
    LogFailure(tag, StrFormat("%s (layer %u)", GetErrText(RV_LAYER_NUMBER_OVER).c_str(), layer));
    return RV_LAYER_NUMBER_OVER;
  }
  for (int32_t i = 0; i < n; ++i) {
    const FieldPoint p = HostPoint(pts, i);
    if (!WithinFieldReach(p.x, p.y)) {
      LogFailure(tag, StrFormat("point %d (%g, %g) lies beyond the field", static_cast<int>(i), p.x, p.y));
      return RV_ERROR;
    }
  }
  return RV_OK;
}

void CLineStorage::ResetForJob() {
  nState = 0;
  vecLastLine.clear();
  // The one allocation of the buffer, at the first job: a mark call never grows it.
  if (vecLastLine.capacity() < kBufferReserve) vecLastLine.reserve(kBufferReserve);
  nLookAhead = 10;
  bLeadEnable = 0;
  bLeadSkipOnce = 0;
}

uint32_t CLineStorage::PushLines(const uint8_t* pts, int32_t n, uint32_t layer) {
  if (const uint32_t refused = CheckPolyline(pts, n, layer)) ThrowMarkError(refused);
  int32_t first = 0;
  if (!vecLastLine.empty()) {
    const LinePoint& b = vecLastLine.back();
    const FieldPoint p0 = HostPoint(pts, 0);
    const double dist = std::fabs(p0.x - b.x) + std::fabs(p0.y - b.y);
    if (dist < g_SystemPara.dbDisMaxTwoLineConnectMM) {
      if (!(b.layer == kNoLayer || layer == DashedLayer() || b.layer == layer)) DealPartLine(0, true);
    } else if (bLeadEnable && !bLeadSkipOnce) {
      // The buffered polyline runs on through its lead-out and this one's lead-in, both unlit.
      dbLeadLen = LeadLength(layer);
      if (dbLeadLen > kMinLeadMm) {
        AddLeadOut();
        const FieldPoint in = Extend(p0, HostPoint(pts, 1), dbLeadLen);
        AddOrRestart(in.x, in.y, DashedLayer(), layer);
      }
      AddOrRestart(p0.x, p0.y, DashedLayer(), layer);
      first = 1;
    } else {
      DealPartLine(0, true);
    }
  }
  bLeadSkipOnce = 0;
  for (int32_t i = first; i < n; ++i) {
    if (JobStoppedOrFailed()) break;
    const FieldPoint p = HostPoint(pts, i);
    AddOrRestart(p.x, p.y, layer, layer);
  }
  if (vecLastLine.size() < 2) {
    g_InfoLog.Write("CLineStorage::PushLines", LOG_INFO, "vecLastLine size()=%d  nState_0Idle_1Busy=%d",
                    static_cast<int>(vecLastLine.size()), static_cast<int>(nState));
    vecLastLine.clear();
  }
  return RV_OK;
}

void CLineStorage::AddOrRestart(double x, double y, uint32_t layer, uint32_t cornerLayer) {
  if (AddPoint(x, y, layer, 1.0)) return;
  // Refused at the corner (the last buffered point): the polyline ends there and the next starts
  // from the corner. The corner is copied before the buffer is emptied, so a refusal of the first
  // point of a pushed polyline restarts from the buffered corner as well.
  const LinePoint corner = vecLastLine.back();
  DealPartLine(0, true);
  if (JobStoppedOrFailed()) return;
  AddPoint(corner.x, corner.y, cornerLayer, 1.0);
  AddPoint(x, y, layer, 1.0);
}

bool CLineStorage::AddPoint(double x, double y, uint32_t layer, double speedScale) {
  const size_t count = vecLastLine.size();
  if (count > 0) {
    const LinePoint& last = vecLastLine.back();
    if (std::fabs(x - last.x) + std::fabs(y - last.y) < kDuplicateMm) return true;
  }
  if (count >= 2) {
    const LinePoint& a = vecLastLine[count - 2];
    LinePoint& b = vecLastLine[count - 1];
    const double ux = b.x - a.x, uy = b.y - a.y;
    const double vx = x - b.x, vy = y - b.y;
    double angle = 0.0;
    if (std::fabs(ux) + std::fabs(uy) != 0.0 && std::fabs(vx) + std::fabs(vy) != 0.0) {
      const double c = (ux * vx + uy * vy) / std::sqrt((ux * ux + uy * uy) * (vx * vx + vy * vy));
      angle = std::acos(std::clamp(c, -1.0, 1.0));
    }
    if (g_SystemPara.bPolygonBreak && angle > g_SystemPara.dbPolygonBreakAng) return false;
    b.len = std::sqrt(ux * ux + uy * uy);
    b.angle = angle;
  }
  const uint8_t mark = count > 0 && layer != DashedLayer() ? 1 : 0;
  vecLastLine.push_back(LinePoint{x, y, 0.0, 0.0, speedScale, layer, mark});
  if (vecLastLine.size() > static_cast<size_t>(std::max(nLookAhead, 2))) DealPartLine(nLookAhead / 2, false);
  return true;
}

void CLineStorage::AddLeadOut() {
  const size_t count = vecLastLine.size();
  if (count < 2) return;  // no last segment to run out along
  const FieldPoint out = Extend(At(vecLastLine[count - 1]), At(vecLastLine[count - 2]), dbLeadLen);
  vecLastLine.push_back(LinePoint{out.x, out.y, 0.0, 0.0, 1.0, vecLastLine.front().layer, 0});
}

void CLineStorage::DealPartLine(int32_t n, bool bFinal) {
  if (bFinal && vecLastLine.size() < 2) {
    g_InfoLog.Write("CLineStorage::DealPartLine", LOG_INFO, "size()=%d  nState_0Idle_1Busy=%d",
                    static_cast<int>(vecLastLine.size()), static_cast<int>(nState));
    vecLastLine.clear();
    return;
  }
  if (nState == 0 && vecLastLine.size() >= 2) {
    const LinePoint& p0 = vecLastLine[0];
    dbLeadLen = LeadLength(p0.layer);
    if (dbLeadLen > kMinLeadMm) {
      const FieldPoint in = Extend(At(p0), At(vecLastLine[1]), dbLeadLen);
      vecLastLine.insert(vecLastLine.begin(), LinePoint{in.x, in.y, 0.0, 0.0, 1.0, p0.layer, 0});
    }
  }
  if (bFinal && dbLeadLen > kMinLeadMm) AddLeadOut();
  GenerateLines(bFinal ? static_cast<int32_t>(vecLastLine.size()) : n);
  if (bFinal) {
    if (!vecLastLine.empty()) ThrowMarkError(RV_LINE_BUF_MARK_END_NOT_EMPTY);
    nState = 0;
  }
}

void CLineStorage::GenerateLines(int32_t n) {
  try {
    Generate(n);
  } catch (...) {
    // A polyline's floor stays open across mark calls: a failure inside it leaves the job on floor
    // 0, so that nothing later writes into a floor that will never be merged.
    if (nFloor > 0) AbandonUpperFloors(std::current_exception());
    throw;
  }
}

void CLineStorage::StartPolyline() {
  nState = 1;
  const LinePoint& p0 = vecLastLine.front();
  if (g_SystemPara.bMarkAllowPause == 1) AppendStreamWord(1, 1, SW_KIND_MARKER | KIND_VECTOR);
  CMarkGen::ApplyLayer(p0.layer, 0);
  AppendLightPathRequest(kLightPathSplitting, 1, 1);
  PushUpperFloor();
  const FieldPoint target = At(vecLastLine.front());
  const int64_t d = StreamJumpTo(target, g_Scan.dbJumpSpeed);
  if (g_FlyScanPara.bFlyMarkRangeEn != 0 && g_MarkFlow.nFlySwitchOn != 0) {
    PopUpperFloor();
    if (d < kFlyRangeMinJumpUs) AppendStreamNop(static_cast<int32_t>(kFlyRangeMinJumpUs - d));
    AppendStreamWord(1, 1, SW_FLY_RANGE_START);
    AppendStreamWord(0, 1, SW_FLY_RANGE_FOLLOW);
    PushUpperFloor();
  }
  LineStartTime() = GalvoClock();
}

void CLineStorage::Generate(int32_t n) {
  if (vecLastLine.empty()) return;
  n = std::clamp<int32_t>(n, 0, static_cast<int32_t>(vecLastLine.size()));
  if (nState == 0) {
    StartPolyline();
    vecLastLine.erase(vecLastLine.begin());
    n = std::max(0, n - 1);
  }
  const int32_t count = static_cast<int32_t>(vecLastLine.size());
  const int32_t window = static_cast<int32_t>(g_SystemPara.nSteadyWindowUs);
  for (int32_t i = 0; i < n; ++i) {
    if (JobStoppedOrFailed()) break;
    const LinePoint& p = vecLastLine[static_cast<size_t>(i)];
    const bool last = i == count - 1;
    const bool nextMarked = !last && vecLastLine[static_cast<size_t>(i) + 1].bMark;
    if (last) {
      StreamMoveTo(At(p), g_Scan.dbMarkSpeed);
      if (p.bMark) LineEndTime() = GalvoClock();
      AppendAuxWait(g_Scan.nMarkEndDelay);
    } else if (p.bMark == static_cast<uint8_t>(nextMarked)) {
      // Inside a run of equal laser state: the corner wait of the turn here.
      StreamMoveWithAngleDelay(At(p), p.angle);
    } else {
      StreamMoveTo(At(p), g_Scan.dbMarkSpeed);
      (p.bMark ? LineEndTime() : LineStartTime()) = GalvoClock();
    }
    if (JobStoppedOrFailed()) break;
    if (p.bMark) {
      CountLitSegment();
      LaserStepsAt(last || !nextMarked);
    }
    if (last) {
      PopUpperFloor();
      AppendLightPathRelease(kLightPathSplitting);
      if (g_SystemPara.bAutoCheckMarkInfoFB == 1) ExpectedRecordClosePower();
    } else if (!JobStoppedOrFailed()) {
      // What the look-ahead has made final goes out.
      MergeUpperFloor(window, window);
      g_MarkData2Fifo.Flush(0);
    }
  }
  vecLastLine.erase(vecLastLine.begin(), vecLastLine.begin() + n);
}
