#include "mark/wob_units.h"

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <utility>

#include "calibration/galvo_stream.h"
#include "calibration/scan.h"
#include "frame/bytes.h"
#include "frame/conv.h"
#include "frame/errors.h"
#include "frame/system_para.h"
#include "laser/wave_holder.h"
#include "markbase/io_words.h"
#include "mark/laser_module.h"
#include "mark/mark_data2fifo.h"
#include "markbase/pen_para.h"
#include "mark/scan_sequences.h"
#include "platform/msgbox.h"

WobUnitList g_WobUnits;

namespace {

constexpr double kClosedMm = 0.001;
constexpr int64_t kProfileMargin = 3;
constexpr int64_t kPowTooClose = 20;
constexpr int32_t kEmptySlotPause = 2000000;

}  // namespace

void WobUnitList::Clear() {
  plat::LockGuard g(cs_);
  prog_.units.clear();
  prog_.powers.clear();
}

uint32_t WobUnitList::Add(WobUnit unit, WobPowEntry entry) {
  plat::LockGuard g(cs_);
  if (prog_.units.size() >= kWobSlots) return RV_ERROR;
  prog_.units.push_back(std::move(unit));
  prog_.powers.push_back(std::move(entry));
  return RV_OK;
}

WobProgram WobUnitList::Copy() const {
  plat::LockGuard g(cs_);
  return prog_;
}

uint32_t CheckWobUnit(const uint8_t* points, int32_t count, uint32_t layer) {
  if (count > 0 && points == nullptr) return RV_ERROR;
  if (count < 2) return RV_LINE_END_POINT_LESS_THAN_2;
  if (layer >= static_cast<uint32_t>(kPenCount)) return RV_LAYER_NUMBER_OVER;
  for (int32_t i = 0; i < count; ++i) {
    const uint8_t* p = points + static_cast<size_t>(i) * kPolylinePointBytes;
    if (!std::isfinite(GetF64(p)) || !std::isfinite(GetF64(p + 8))) return RV_DATA_IS_NAN;
  }
  return RV_OK;
}

uint32_t CheckWobProfile(int32_t bEnable, const double* positions, const double* powers, int32_t n) {
  if (!bEnable || n <= 0) return RV_OK;
  if (positions == nullptr || powers == nullptr) return RV_ERROR;
  for (int32_t i = 0; i < n; ++i) {
    if (!std::isfinite(positions[i]) || !std::isfinite(powers[i])) return RV_DATA_IS_NAN;
  }
  return RV_OK;
}

WobUnit WobBuildUnit(const uint8_t* points, int32_t count, uint32_t layer) {
  WobUnit unit;
  unit.reserve(static_cast<size_t>(count) + 1);
  for (int32_t i = 0; i < count; ++i) {
    const uint8_t* p = points + static_cast<size_t>(i) * kPolylinePointBytes;
    unit.push_back(LinePoint{GetF64(p), GetF64(p + 8), 0.0, 0.0, 1.0, layer, 1});
  }
  const LinePoint& first = unit.front();
  const LinePoint& last = unit.back();
  if (std::fabs(first.x - last.x) > kClosedMm || std::fabs(first.y - last.y) > kClosedMm) unit.push_back(first);
  return unit;
}

std::vector<WobPowPoint> WobProfileTimes(const WobPowEntry& entry, int64_t t0, int64_t t1, bool& close) {
  std::vector<WobPowPoint> inside, before, after;
  const int64_t d = t1 - t0;
  const size_t n = std::min(entry.positions.size(), entry.powers.size());
  for (size_t i = 0; i < n; ++i) {
    const int64_t t = RealToInt64(entry.positions[i] * static_cast<double>(d) + static_cast<double>(t0)) +
                      entry.nTimeOffset;
    const double p = entry.powers[i];
    if (t < t0) {
      before.push_back({std::min(t, t0 - kProfileMargin), p});
    } else if (t > t1) {
      after.push_back({std::max(t, t1 + kProfileMargin), p});
    } else {
      inside.push_back({std::clamp(t, t0 + kProfileMargin, std::max(t0 + kProfileMargin, t1 - kProfileMargin)), p});
    }
  }
  auto byTime = [](const WobPowPoint& a, const WobPowPoint& b) { return a.time < b.time; };
  std::stable_sort(inside.begin(), inside.end(), byTime);
  std::stable_sort(before.begin(), before.end(), byTime);
  std::stable_sort(after.begin(), after.end(), byTime);
  std::vector<WobPowPoint> out;
  out.reserve(n);
  for (WobPowPoint p : after) out.push_back({p.time - d, p.power});
  out.insert(out.end(), inside.begin(), inside.end());
  for (WobPowPoint p : before) out.push_back({p.time + d, p.power});
  close = false;
  for (size_t i = 1; i < out.size(); ++i) close |= out[i].time - out[i - 1].time < kPowTooClose;
  if (!out.empty()) close |= out.front().time + d < out.back().time + kPowTooClose;
  return out;
}

void WobUnitToStream(const WobUnit& unit, uint32_t slot, const WobPowEntry& entry, bool bFirst) {
  if (unit.size() < 3) ThrowMarkError(RV_LINE_END_POINT_LESS_THAN_2);
  const uint32_t s = slot & (kWobSlots - 1);
  AppendStreamWord(1, 1, SW_LABEL | 2 * s);
  AppendStreamWord(1, 1, 0x20F00000 | s << 8);
  if (bFirst) EmitWriteRegIo(1, 1, kWaitSourceInputs, 3);
  // The unit with its second point once more: the closing corner gets its angle.
  StoreFigure(unit, unit.front().layer);
  const std::vector<LinePoint> pts = g_LineStorage.vecLastLine;
  g_Scan.LoadPenJumpPara(unit.front().layer);
  RunOnUpperFloor([&]() REQUIRES(g_MarkCall) {
    StreamJumpTo(FieldPoint{pts[0].x, pts[0].y}, g_Scan.dbJumpSpeed);
    // The loop begins after the jump: its label comes once the scanner is at the first point.
    CurFloor().UpdateClock();
    if (!JobStoppedOrFailed()) g_MarkData2Fifo.Flush(0);
    AppendStreamWord(1, 0, SW_WOB_LOOP_LABEL + 2 * s);
    const int64_t t0 = static_cast<int64_t>(CurFloor().clock);
    GalvoClock() = t0;
    for (size_t i = 1; i + 1 < pts.size(); ++i) {
      if (JobStoppedOrFailed()) break;
      StreamMoveWithAngleDelay(FieldPoint{pts[i].x, pts[i].y}, pts[i].angle);
    }
    CurFloor().UpdateClock();
    const int64_t t1 = static_cast<int64_t>(CurFloor().clock);
    if (entry.bEnable) {
      bool close = false;
      CWaveHolder& h = g_WaveHolder[0];
      std::vector<TimedWord>& list = h.Channel();
      const auto first = static_cast<std::ptrdiff_t>(list.size());
      for (const WobPowPoint& p : WobProfileTimes(entry, t0, t1, close)) {
        AppendLaserPowerWord(h, &list, p.time, p.power * 1000.0);
      }
      // A fibre laser's power word brings its strobe words up to 0.6 step periods later: points
      // closer than that would leave the channel out of time order, and the merge would refuse the
      // whole download. The loop's words go in time order, equal times as written, so that a
      // profile spaced wider than its strobes keeps its words as they are.
      std::stable_sort(list.begin() + first, list.end(),
                       [](const TimedWord& a, const TimedWord& b) { return TwTime(a) < TwTime(b); });
      if (close) plat::ShowMessageBox("Pow Time too Close", plat::BoxButtons::Ok, false);
    }
    AppendStreamWord(1, 0, SW_JUMP_TO_LABEL | (SW_WOB_LOOP_LABEL + 2 * s));
  });
  ClearFigure();
}

void WobEmptySlotToStream(uint32_t slot, bool bWait) {
  AppendStreamWord(1, 1, SW_LABEL | 2 * (slot & (kWobSlots - 1)));
  AppendStreamWord(1, 0, MakeIoWord(6, 1));
  if (bWait) {
    EmitWriteRegSeq(1, 1, kWaitNoTimeout, 1000, kWaitSourceInputs);
  } else {
    AppendStreamNop(kEmptySlotPause);
  }
  AppendStreamWord(1, 0, MakeIoWord(6, 0));
  AppendStreamWord(1, 1, SW_JUMP_TO_LABEL | 3);
}

void WobDownload(const WobProgram& prog, bool bWait) {
  const SystemPara& sp = g_SystemPara;
  AppendStreamWord(1, 0, MakeIoWord(0, 0));
  AppendStreamWord(1, 1, MakeIoWord(5, 0));
  AppendStreamWord(1, 1, MakeIoWord(6, 0));
  if (sp.bNewBoxCali) AppendStreamWord(1, 0, SW_CORRECTION_MODE | (g_MarkJob.bLaserJob ? 0u : 1u));
  AppendStreamWord(1, 1, SW_LABEL | 3);
  CWaveHolder& h0 = g_WaveHolder[0];
  AppendLaserPowerWord(h0, &h0.Channel(), static_cast<int64_t>(CurFloor().clock) + 20, 0.0);
  CurFloor().UpdateClock();
  g_Scan.JumpToHome();
  AppendStreamWord(1, 0, MakeIoWord(0, 0));
  if (bWait) EmitWriteRegSeq(1, 1, kWaitNoTimeout, 1000, kWaitSourceInputs);
  AppendStreamWord(1, 1, MakeIoWord(5, 1));
  if (bWait) EmitWriteRegSeq(1, 0, kWaitNoTimeout, 1000, kWaitSourceInputs);
  AppendStreamNop(sp.nWobDocNoStableTmUs);
  AppendStreamWord(1, 0, MakeIoWord(0, 1));
  AppendStreamWord(1, 1, MakeIoWord(5, 0));
  EmitWriteRegSeq(0x1E, 0, kWaitWithTimeout, 0, kWaitSourceInputs);
  AppendStreamWord(1, 0, SW_PROG_FRAME_OPEN);
  AppendStreamWord(0, 0, SW_PROG_FRAME_1E);
  AppendStreamWord(1, 1, SW_PROG_FRAME);
  const size_t units = std::min<size_t>(prog.units.size(), kWobSlots);
  for (size_t i = 0; i < units && !JobStoppedOrFailed(); ++i) {
    WobUnitToStream(prog.units[i], static_cast<uint32_t>(i), prog.powers[i], bWait);
  }
  for (size_t s = units; s < kWobSlots && !JobStoppedOrFailed(); ++s) WobEmptySlotToStream(static_cast<uint32_t>(s), bWait);
  AppendStreamWord(1, 0, SW_END);
  AppendStreamWord(1, 0, SW_NOP);
  if (!JobStoppedOrFailed()) {
    MergeUpperFloor(0, 0);
    g_MarkData2Fifo.Flush(1);
  }
}
