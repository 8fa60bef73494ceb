#include "mark/laser_module.h"

#include <algorithm>
#include <cmath>
#include <new>

#include "calibration/galvo_stream.h"
#include "calibration/scan.h"
#include "cardlink/portlane.h"
#include "frame/bytes.h"
#include "frame/conv.h"
#include "frame/errors.h"
#include "frame/export_call.h"
#include "frame/log_file.h"
#include "frame/system_para.h"
#include "laser/laser.h"
#include "laser/laser_outputs.h"
#include "laser/laser_stream.h"
#include "laser/wave_holder.h"
#include "mark/fifo_data.h"
#include "markbase/io_words.h"
#include "mark/layer_switch.h"
#include "mark/mark_data2fifo.h"
#include "mark/mark_job.h"
#include "markbase/pen_para.h"
#include "mark/scan_sequences.h"

namespace {

constexpr int32_t kFiringInterval = 2;
constexpr uint32_t kOssSource = 4;
constexpr uint32_t kOssCondBit = 0x100000;
constexpr uint32_t kInput6 = 0x40;
constexpr double kHalfPi = 1.5707963267948966;
constexpr int32_t kMinCardVersion = 80;
constexpr uint32_t kSlotFollowLabel = 5;
constexpr uint32_t kSpotLabel = 1;
constexpr uint32_t kOssTriggerLabel = 0x25;

// LASER_OFF_ON_INTEVAL forced to 2 for a step that fires the laser; restored on every way out.
class FiringInterval {
 public:
  FiringInterval() : saved_(g_SystemPara.LASER_OFF_ON_INTEVAL) { g_SystemPara.LASER_OFF_ON_INTEVAL = kFiringInterval; }
  ~FiringInterval() { g_SystemPara.LASER_OFF_ON_INTEVAL = saved_; }
  FiringInterval(const FiringInterval&) = delete;
  FiringInterval& operator=(const FiringInterval&) = delete;

 private:
  int32_t saved_;
};

void ResetAllPowers() {
  for (int i = 0; i < LasersInUse(); ++i) g_WaveHolder[i].dbPower = -1.0;
}

void AppendRegReset() {
  WordList list;
  MakeSeqRegReset(list);
  AppendShiftedWords(list);
}

void EndIfNotStopped() REQUIRES(g_MarkCall) {
  if (JobStoppedOrFailed()) return;
  MergeUpperFloor(0, 0);
  g_MarkData2Fifo.Flush(1);
}

// The layer of a slot or trigger program: a dot layer for mode 0.
void ApplyModeLayer(uint32_t layer, int32_t mode) REQUIRES(g_MarkCall) { CMarkGen::ApplyLayer(layer, mode == 0 ? 1 : 0); }

// After the input handshake: the stable time, output 0 on and 5 off, the register reset, then the
// frame that holds the program's slots.
void OpenProgramFrame() REQUIRES(g_MarkCall) {
  AppendStreamNop(g_SystemPara.nWobDocNoStableTmUs);
  AppendStreamWord(1, 0, MakeIoWord(0, 1));
  AppendStreamWord(1, 1, MakeIoWord(5, 0));
  AppendRegReset();
  AppendStreamWord(1, 0, SW_PROG_FRAME_OPEN);
  AppendStreamWord(0, 0, SW_PROG_FRAME_1E);
  AppendStreamWord(1, 1, SW_PROG_FRAME);
}

}  // namespace

void LaserModWait(uint32_t a, uint32_t b, uint32_t source) { EmitWriteRegSeq(a, b, kWaitNoTimeout, 1000, source); }

void LaserModTest(uint32_t a, uint32_t b, uint32_t source, uint32_t ok, uint32_t ng) {
  EmitWriteRegSeq(a, b, kWaitWithTimeout, 0, source);
  EmitWriteReg16(1, ok, ng != 0 ? 1 : 0, ng);
}

void AppendAllLasersPowerZero() {
  AppendStreamNop(100);
  for (int i = 0; i < LasersInUse(); ++i) AppendLaserPowerWord(g_WaveHolder[i], nullptr, 0, 0.0);
  AppendStreamNop(100);
}

void LaserModPowerStep(bool bTrig, uint32_t flag, uint32_t a, uint32_t b, int32_t mode, int32_t dotTime, bool bNoWait) {
  FiringInterval firing;
  if (mode == 1) {
    RunOnUpperFloor([]() REQUIRES(g_MarkCall) { CLaserAll::BeginLineAll(); });
    EmitWriteRegSeq(a, b, kWaitNoTimeout, 1000, bNoWait ? kWaitSourceEncoder : kWaitSourceInputs);
    RunOnUpperFloor([]() REQUIRES(g_MarkCall) { CLaserAll::EndLineAll(0); });
    AppendStreamNop(1000);
    AppendAllLasersPowerZero();
    return;
  }
  const bool trigger = bTrig && !bNoWait;
  if (trigger) EmitWriteRegIo(a, b, kWaitSourceInputs, flag);
  RunOnUpperFloor([&]() REQUIRES(g_MarkCall) {
    const int32_t t = CLaserAll::PointMarkAll(dotTime);
    if (t > 0) StreamStartRecords(0, t);
  });
  if (trigger) AppendStreamWord(1, 1, SW_TRIGGER_WAIT);
  AppendStreamNop(1000);
  AppendAllLasersPowerZero();
  if (!bNoWait) LaserModWait(a, b, kWaitSourceInputs);
}

void LaserModSegment() {
  FiringInterval firing;
  AppendStreamWord(1, 1, SW_LABEL | kSlotFollowLabel);
  RunOnUpperFloor([]() REQUIRES(g_MarkCall) { CLaserAll::EndLineAll(1); });
  AppendStreamNop(1000);
  AppendAllLasersPowerZero();
}

void LaserModWobSlot(uint32_t s, uint32_t a, uint32_t b) {
  AppendStreamWord(1, 1, SW_LABEL | 2 * (s & 15));
  AppendStreamWord(1, 1, 0x20F00000 | s << 8);
  LaserJobReset();
  const PenPara& pen = g_PenPara[s & 0xFF];
  ApplyModeLayer(s, pen.nJumpDelay2);
  LaserModPowerStep(true, kSlotFollowLabel, a, b, pen.nJumpDelay2, pen.nJumpDelay3, false);
  AppendStreamWord(1, 1, SW_JUMP_TO_LABEL | 0x23);
}

void LaserModuleProgram() {
  g_SystemPara.LASER_OFF_ON_INTEVAL = 0;
  AppendStreamWord(1, 0, MakeIoWord(0, 0));
  AppendStreamWord(1, 1, MakeIoWord(5, 0));
  AppendStreamWord(1, 1, MakeIoWord(6, 0));
  AppendStreamWord(1, 0, SW_LASER_JOB_START);
  CLaserAll::EmitIoPulses();
  AppendStreamWord(1, 1, SW_LABEL | 7);
  LaserModWait(1, 1, kWaitSourceInputs);
  AppendStreamWord(1, 1, MakeIoWord(5, 1));
  LaserModWait(1, 0, kWaitSourceInputs);
  OpenProgramFrame();
  for (uint32_t s = 0; s < 16 && !JobStoppedOrFailed(); ++s) LaserModWobSlot(s, 1, 1);
  LaserModSegment();
  AppendStreamWord(1, 1, SW_LABEL | 0x23);
  AppendStreamWord(1, 0, MakeIoWord(0, 0));
  AppendStreamWord(1, 1, SW_JUMP_TO_LABEL | 7);
  AppendStreamWord(1, 1, SW_END);
  EndIfNotStopped();
}

void LaserModByIOProgram(uint32_t layer, int32_t mode, int32_t dotTime) {
  LaserModWait(1, 1, kWaitSourceInputs);
  ApplyModeLayer(layer, mode);
  LaserModWait(1, 0, kWaitSourceInputs);
  LaserModPowerStep(false, 0, 1, 1, mode, dotTime, false);
  ResetAllPowers();
}

void LaserModByEncProgram(uint32_t layer, int32_t mode, int32_t dotTime, uint32_t startValue, uint32_t endValue) {
  ApplyModeLayer(layer, mode);
  LaserModWait(kEncoderMask, startValue, kWaitSourceEncoder);
  LaserModPowerStep(false, 0, kEncoderMask, endValue, mode, dotTime, true);
  ResetAllPowers();
}

void LaserModSpotWeldBody(const LaserWaitCond& cond, double frequency, double spotTime) {
  FiringInterval firing;
  if (cond.bEnable) EmitWriteRegIo(cond.nMask, cond.nPreValue, cond.nSource, kSpotLabel);
  AppendStreamWord(1, 0, SW_LABEL | 2);
  const int64_t t0 = static_cast<int64_t>(CurFloor().clock);
  RunOnUpperFloor([&]() REQUIRES(g_MarkCall) {
    const int32_t t = CLaserAll::PointMarkAll(RealToInt32(spotTime));
    if (t > 0) StreamStartRecords(0, t);
  });
  CurFloor().UpdateClock();
  const int64_t t1 = static_cast<int64_t>(CurFloor().clock);
  if (frequency >= 0.001) {
    const double period = 1000000.0 / frequency;
    const double spot = static_cast<double>(t1 - t0);
    if (spot + 2.0 > period) {
      SetMarkErrorAndThrow(RV_ERROR, Lang("点焊时间大于频率周期！", "Spot welding time is greater than the frequency cycle!"));
    }
    AppendStreamNop(RealToInt32(period - spot));
    AppendStreamWord(0, 1, SW_JUMP_TO_LABEL | 2);
  }
  AppendStreamWord(1, 1, SW_LABEL | kSpotLabel);
  if (cond.bEnable) AppendStreamWord(1, 1, SW_TRIGGER_WAIT);
  RunOnUpperFloor([]() REQUIRES(g_MarkCall) { CLaserAll::EndLineAll(1); });
  AppendStreamNop(1000);
  AppendAllLasersPowerZero();
}

void LaserModDotProgram(uint32_t layer, const LaserWaitCond& cond, double x, double y, double frequency,
                        double spotTime) {
  if (cond.bEnable && cond.bPreWait) LaserModWait(cond.nMask, cond.nPreValue, cond.nSource);
  CMarkGen::ApplyLayer(layer, 1);
  if (std::fabs(x - g_Scan.dbCurX) + std::fabs(y - g_Scan.dbCurY) != 0.0) {
    RunOnUpperFloor([&]() REQUIRES(g_MarkCall) { StreamJumpTo(FieldPoint{x, y}, g_Scan.dbJumpSpeed); });
  }
  if (cond.bEnable) LaserModWait(cond.nMask, cond.nValue, cond.nSource);
  LaserModSpotWeldBody(cond, frequency, spotTime);
  ResetAllPowers();
}

void StoreFigure(const std::vector<LinePoint>& pts, uint32_t layer) {
  CLineStorage& st = g_LineStorage;
  ClearFigure();
  st.nLookAhead = std::max<int32_t>(10, static_cast<int32_t>(std::min<size_t>(pts.size(), 0x7FFFFFF0)) + 3);
  auto add = [&](double x, double y, double scale) REQUIRES(g_MarkCall) {
    std::vector<LinePoint>& v = st.vecLastLine;
    const size_t n = v.size();
    if (n > 0 && std::fabs(x - v.back().x) + std::fabs(y - v.back().y) < 0.001) return;
    if (n >= 2) {
      const LinePoint& a = v[n - 2];
      LinePoint& b = v[n - 1];
      const double ux = b.x - a.x, uy = b.y - a.y, vx = x - b.x, vy = y - b.y;
      double angle = 0.0;
      if (std::fabs(ux) + std::fabs(uy) != 0.0 && std::fabs(vx) + std::fabs(vy) != 0.0) {
        const double c = (ux * vx + uy * vy) / std::sqrt((ux * ux + uy * uy) * (vx * vx + vy * vy));
        angle = std::acos(std::clamp(c, -1.0, 1.0));
      }
      b.len = std::sqrt(ux * ux + uy * uy);
      b.angle = angle;
    }
    v.push_back(LinePoint{x, y, 0.0, 0.0, scale, layer, static_cast<uint8_t>(n > 0 ? 1 : 0)});
  };
  for (const LinePoint& p : pts) add(p.x, p.y, p.speedScale);
  if (st.vecLastLine.size() >= 2) {
    // The second point once more (after a point equal to the first it is never dropped).
    const LinePoint second = st.vecLastLine[1];
    const size_t n = st.vecLastLine.size();
    add(second.x, second.y, second.speedScale);
    if (st.vecLastLine.size() == n) st.vecLastLine.push_back(second);
  }
}

void ClearFigure() {
  CLineStorage& st = g_LineStorage;
  st.nState = 0;
  st.vecLastLine.clear();
  st.bLeadEnable = 0;
  st.bLeadSkipOnce = 0;
  st.nLookAhead = 10;
}

void LaserModWobByEncProgram(const uint8_t* points, int32_t count, uint32_t layer, const LaserWaitCond& cond) {
  if (cond.bPreWait) LaserModWait(cond.nMask, cond.nPreValue, cond.nSource);
  CMarkGen::ApplyLayer(layer, 0);
  std::vector<LinePoint> pts;
  pts.reserve(static_cast<size_t>(std::max(count, 0)) + 1);
  for (int32_t i = 0; i < count; ++i) {
    const uint8_t* p = points + static_cast<size_t>(i) * kWobEncPointBytes;
    pts.push_back(LinePoint{GetF64(p), GetF64(p + 8), 0.0, 0.0, 1.0, layer, 1});
  }
  if (!pts.empty() && (std::fabs(pts.front().x - pts.back().x) > 0.001 || std::fabs(pts.front().y - pts.back().y) > 0.001)) {
    pts.push_back(pts.front());
  }
  StoreFigure(pts, layer);
  g_LineStorage.nLookAhead = std::max(g_LineStorage.nLookAhead, 10000);
  LaserModWait(cond.nMask, cond.nValue, cond.nSource);
  try {
    LaserModWobByEncBody(layer, cond);
  } catch (...) {
    ClearFigure();
    throw;
  }
  ClearFigure();
}

void LaserModWobByEncBody(uint32_t layer, const LaserWaitCond& cond) {
  FiringInterval firing;
  EmitWriteRegIo(cond.nMask, cond.nPreValue, cond.nSource, kSpotLabel);
  g_Scan.dbCurX = 0.0;
  g_Scan.dbCurY = 0.0;
  g_Scan.LoadPenJumpPara(layer);
  const std::vector<LinePoint>& pts = g_LineStorage.vecLastLine;
  if (pts.size() < 2) ThrowMarkError(RV_ERROR);
  RunOnUpperFloor([&]() REQUIRES(g_MarkCall) { StreamJumpTo(FieldPoint{pts[0].x, pts[0].y}, g_Scan.dbMarkSpeed); });
  RunOnUpperFloor([]() REQUIRES(g_MarkCall) { CLaserAll::BeginLineAll(); });
  AppendStreamWord(1, 0, SW_LABEL | 2);
  GalvoClock() = static_cast<int64_t>(CurFloor().clock);
  FieldPoint cur{pts[0].x, pts[0].y};
  const double speed = g_Scan.dbMarkSpeed;
  for (size_t i = 1; i + 1 < pts.size(); ++i) {
    if (JobStoppedOrFailed()) break;
    const LinePoint& p = pts[i];
    const int64_t corner =
        RealToInt64(std::min(p.angle, kHalfPi) * static_cast<double>(g_Scan.nPolygonDelay) / kHalfPi + 0.5);
    uint8_t wrote = 0;
    StreamVector21(cur, FieldPoint{p.x, p.y}, wrote, pts[i - 1].speedScale * speed, p.speedScale * speed);
    LineEndTime() = GalvoClock();
    if (wrote) AppendAuxWait((corner + 5) / 10 * 10);
  }
  g_Scan.dbCurX = cur.x;
  g_Scan.dbCurY = cur.y;
  CurFloor().UpdateClock();
  AppendStreamWord(1, 1, SW_JUMP_TO_LABEL | 2);
  AppendStreamWord(1, 1, SW_LABEL | kSpotLabel);
  AppendStreamWord(1, 1, SW_TRIGGER_WAIT);
  RunOnUpperFloor([]() REQUIRES(g_MarkCall) { CLaserAll::EndLineAll(1); });
  g_Scan.JumpToHome();
  AppendStreamNop(1000);
  AppendAllLasersPowerZero();
}

void OssResetOutputs() {
  AppendStreamWord(1, 0, MakeIoWord(0, 0));
  AppendStreamWord(1, 1, MakeIoWord(5, 0));
  AppendStreamWord(1, 1, MakeIoWord(6, 0));
  AppendStreamWord(1, 1, MakeIoWord(16, 0));
  for (int32_t out = 12; out <= 15; ++out) AppendStreamWord(1, 1, MakeIoWord(out, 0));
}

void OssLaserModTriggerBlock(uint32_t n, uint16_t position, uint32_t flag) {
  const SystemPara& sp = g_SystemPara;
  const int32_t base = std::max<int32_t>(sp.BASETIME, 0);
  AppendStreamWord(1, 1, SW_LABEL | (2 * n + 9));
  AppendStreamWord(1, 1, MakeIoWord(16, 0));
  EmitWriteRegIo(kInput6, 0, kWaitSourceInputs, kOssTriggerLabel);
  AppendStreamWord(base, 0, SW_OSS_POS | static_cast<uint32_t>(position) << 5);
  AppendStreamWord(0, base, SW_OSS_POS_END);
  AppendStreamWord(1, 1, SW_OSS_POS_END_FOLLOW);
  if (sp.bCloseFeedback && sp.nScanType != 1) {
    AppendStreamWord(30, 1, SW_SCAN_FB_WAIT_SETUP);
    AppendStreamWord(1, 1, SW_FLY_RANGE_FOLLOW);
  } else {
    AppendStreamNop(std::max<int32_t>(sp.nArriveTime, 0));
  }
  AppendStreamWord(1, 1, SW_TRIGGER_WAIT);
  AppendStreamWord(1, 1, SW_OSS_PROG_LABEL | (2 * n + 0x1B));
  if (flag == 0) AppendStreamWord(1, 1, MakeIoWord(static_cast<int32_t>(12 + n), 1));
  CLaserAll::EmitIoPulses();
  LaserModTest(kInput6, 0, kWaitSourceInputs, 0x19, 7);
}

void OssLaserModOffBlock(uint32_t n, uint32_t flag) {
  AppendStreamWord(1, 1, SW_LABEL | 0x19);
  AppendStreamWord(1, 0, SW_OSS_PROG_59500000);
  AppendStreamWord(1, 1, SW_PROG_FRAME);
  AppendStreamWord(1, 1, SW_LABEL | (2 * n + 0x1B));
  AppendStreamWord(1, 1, MakeIoWord(5, 0));
  AppendAllLasersPowerZero();
  for (int i = 0; i < LasersInUse(); ++i) {
    const CLaser& l = g_Laser[i];
    if (l.bEnableAtStart) AppendStreamWord(100, 100, MakeIoWord(static_cast<int32_t>(l.nEnableBit), 0));
  }
  const int32_t out = static_cast<int32_t>(12 + n);
  if (flag == 1) {
    LaserModTest(kInput6, 0, kWaitSourceInputs, 3, 0);
    AppendStreamWord(1, 1, MakeIoWord(out, 1));
    EmitWriteRegSeq(kInput6, 0, kWaitNoTimeout, 1000, kWaitSourceInputs);
  }
  AppendStreamWord(1, 1, MakeIoWord(out, 0));
  AppendStreamWord(1, 1, SW_JUMP_TO_LABEL | 3);
}

void OssLaserModFrame(uint32_t flag) {
  AppendStreamWord(1, 1, SW_LABEL | 7);
  AppendStreamWord(1, 1, MakeIoWord(5, 1));
  if (flag == 0) {
    AppendStreamWord(1, 1, SW_LABEL | 0x13);
    LaserModTest(1, 1, kWaitSourceInputs, 0x15, 0);
    LaserModTest(kInput6, 0, kWaitSourceInputs, 0x19, 0x13);
    AppendStreamWord(1, 1, SW_LABEL | 0x15);
    AppendStreamWord(1, 1, MakeIoWord(5, 1));
    LaserModTest(1, 0, kWaitSourceInputs, 0x17, 0);
    LaserModTest(kInput6, 0, kWaitSourceInputs, 0x19, 0x15);
  }
  AppendStreamWord(1, 1, SW_LABEL | 0x17);
  OpenProgramFrame();
  const uint32_t a = flag == 1 ? kInput6 : 0x20;
  const uint32_t b = flag == 1 ? 0 : 0x20;
  for (uint32_t s = 0; s < 16 && !JobStoppedOrFailed(); ++s) LaserModWobSlot(s, a, b);
  LaserModSegment();
  AppendStreamWord(1, 1, SW_LABEL | 0x23);
  AppendStreamWord(1, 0, MakeIoWord(0, 0));
  AppendStreamWord(1, 1, SW_JUMP_TO_LABEL | (flag == 1 ? 0x19u : 7u));
}

void OssLaserModuleProgram(const uint8_t* positions, uint32_t flag) {
  g_SystemPara.LASER_OFF_ON_INTEVAL = 0;
  OssResetOutputs();
  AppendStreamWord(1, 0, SW_LASER_JOB_START);
  AppendStreamWord(1, 1, SW_LABEL | 3);
  AppendStreamWord(1, 1, MakeIoWord(16, 1));
  for (uint32_t i = 7; i <= 10; ++i) {
    const uint32_t bits = kInput6 | 1u << i;
    LaserModTest(bits, bits, kWaitSourceInputs, 2 * (i - 7) + 9, 0);
  }
  AppendStreamWord(1, 1, SW_JUMP_TO_LABEL | 3);
  AppendStreamWord(1, 1, SW_LABEL | kOssTriggerLabel);
  LaserModTest(kOssCondBit, 0, kOssSource, 3, 0);
  AppendStreamWord(1, 1, SW_TRIGGER_ARM_1);
  LaserModWait(kOssCondBit, 0, kOssSource);
  AppendStreamWord(1, 1, SW_TRIGGER_ARM_2);
  AppendStreamWord(1, 1, SW_JUMP_TO_LABEL | 3);
  for (uint32_t n = 0; n < 4 && !JobStoppedOrFailed(); ++n) {
    OssLaserModTriggerBlock(n, GetU16(positions + 2 * n), flag);
    OssLaserModOffBlock(n, flag);
  }
  OssLaserModFrame(flag);
  AppendStreamWord(1, 1, SW_END);
  EndIfNotStopped();
}

uint32_t RunWholeJob(const char* name, uint32_t mode, bool switchSet, const char* switchText,
                       const std::function<void()>& generator) {
  g_InfoLog.Write(name, LOG_INFO, "%d", static_cast<int>(mode));
  if (!g_Link.g_bConnected) return RV_CARD_NOT_CONNECTED;
  CMarkLock lock;
  if (!lock.Owns()) return CMarkLock::Refuse(name);
  // A refusal leaves an open job as it was: its task stays claimed and QZ_MarkEnd ends it.
  if (g_MarkJob.nMarkState < kMarkStateOpen) g_MarkJob.nMarkState = kMarkStateStarting;
  if (!switchSet) {
    ReportFailure(name, switchText);
    return RV_ERROR;
  }
  if (g_SystemPara.nCardVersion < static_cast<uint32_t>(kMinCardVersion)) {
    ReportFailure(name, "新补丁不兼容旧wob卡，请使用旧补丁");
    return RV_ERROR;
  }
  if (mode > kLastRunMode) {
    LogFailure(name, StrFormat("run mode %u is not one of 0..%u", mode, kLastRunMode));
    return RV_ERROR;
  }
  StartMarkTask(mode);
  uint32_t failure = 0;
  try {
    g_FifoData.BufferStart(1);
    generator();
  } catch (const MyException& e) {
    failure = e.Show();
  } catch (const std::bad_alloc&) {
    failure = ReportMemoryFailure(name);
  }
  // A failure that did not fail the job (a card command) still stops the card's run, so that the end
  // does not wait for a program that lost its tail.
  if (failure != 0 && !MarkFailed()) RecordMarkFailure(GetErrText(static_cast<int32_t>(failure)));
  MustEndThread(0, 0, 0, 0);
  if (failure != 0) return failure;
  return g_Link.g_bConnected ? RV_OK : RV_CARD_NOT_CONNECTED;
}
