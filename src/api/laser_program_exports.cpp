// Wobble units, the whole-job program exports and the laser-program and scanner members of the mark
// list.
#include <cmath>
#include <string>

#include "calibration/galvo_stream.h"
#include "calibration/scan.h"
#include "cardlink/portlane.h"
#include "frame/bytes.h"
#include "frame/conv.h"
#include "frame/errors.h"
#include "frame/export_call.h"
#include "frame/log_file.h"
#include "frame/system_para.h"
#include "markbase/io_words.h"
#include "mark/laser_module.h"
#include "mark/mark_member.h"
#include "mark/motor_words.h"
#include "markbase/pen_para.h"
#include "mark/run_control.h"
#include "mark/scan_sequences.h"
#include "mark/wob_units.h"
#include "qzmark.h"

namespace {

constexpr MarkMember kMarkBufScanPos{"QZ_MarkBufScanPos", KIND_SCAN_POS, LOG_TRACE, EntryText::kEmpty};
constexpr MarkMember kMarkInitScanLaser{"QZ_MarkInitScanLaser", KIND_TASK, LOG_TRACE, EntryText::kEmpty};
constexpr MarkMember kMarkLaserByIO{"QZ_MarkLaserByIO", KIND_LASER, LOG_TRACE, EntryText::kEmpty};
constexpr MarkMember kMarkLaserByIO2{"QZ_MarkLaserByIO2", KIND_LASER, LOG_TRACE, EntryText::kEmpty};
constexpr MarkMember kMarkLaserByEnc{"QZ_MarkLaserByEnc", KIND_LASER, LOG_TRACE, EntryText::kEmpty};
constexpr MarkMember kMarkWobLaserByEnc{"QZ_MarkWobLaserByEnc", KIND_LASER, LOG_TRACE, EntryText::kEmpty};
constexpr MarkMember kMarkDotLaserByIO{"QZ_MarkDotLaserByIO", KIND_LASER, LOG_TRACE, EntryText::kEmpty};
constexpr MarkMember kMarkDotLaserByEnc{"QZ_MarkDotLaserByEnc", KIND_LASER, LOG_TRACE, EntryText::kEmpty};
constexpr MarkMember kMarkMotorStart{"QZ_MarkMotorStart", KIND_MOTOR, LOG_TRACE, EntryText::kNoLine};
constexpr MarkMember kMarkMotorEnd{"QZ_MarkMotorEnd", KIND_MOTOR, LOG_TRACE, EntryText::kNoLine};
constexpr MarkMember kMarkMotorRun{"QZ_MarkMotorRun", KIND_MOTOR, LOG_TRACE, EntryText::kNoLine};

// The four axis groups of a motor member.
struct MotorGroups {
  int32_t enable[4];
  double position[4], velocity[4], accel[4];
  bool Any() const { return enable[0] != 0 || enable[1] != 0 || enable[2] != 0 || enable[3] != 0; }
};

// The move of the enabled axes 1 to 3 (group 4's enable is not passed on); nothing when no group is
// enabled.
uint32_t MotorMove(const MotorGroups& g) REQUIRES(g_MarkCall) {
  if (g.Any()) MarkMotorStart(g.enable, g.position, g.velocity, g.accel);
  return RV_OK;
}

// The end of the axes' moves: the end word, then the wait until the platform is in place.
void MotorEnd() REQUIRES(g_MarkCall) {
  AppendStreamWord(10, 10, SW_MOTOR_ARRIVE_WAIT);
  EmitNamedReg(kWaitNoTimeout, kMotorWaitTimeoutMs, kPlatformWaitName);
}

// A refused argument of a member or a unit export: its code with the code's text and the arguments
// logged under the export's name (no box).
uint32_t Refuse(const char* tag, uint32_t code, const std::string& args) {
  LogFailure(tag, GetErrText(static_cast<int32_t>(code)) + " " + args);
  return code;
}

uint32_t CheckLayer(const char* tag, int32_t layer) {
  if (static_cast<uint32_t>(layer) < static_cast<uint32_t>(kPenCount)) return RV_OK;
  return Refuse(tag, RV_LAYER_NUMBER_OVER, StrFormat("(layer %d)", layer));
}

// Data of the job that cannot be marked fails the job, as a refused vector or dot list does: its
// code's text and `args` logged under the member's name, the text shown once, the card's run stopped.
[[noreturn]] void FailJob(const char* tag, uint32_t code, const std::string& args) REQUIRES(g_MarkCall) {
  ThrowMarkError(Refuse(tag, code, args));
}

// A position of a member: a coordinate that is not a finite number fails the job with 7, one beyond
// the field's reach with 2.
void RequirePosition(const char* tag, double x, double y) REQUIRES(g_MarkCall) {
  if (!std::isfinite(x) || !std::isfinite(y)) FailJob(tag, RV_DATA_IS_NAN, StrFormat("(position %g, %g)", x, y));
  RequireFieldReach(tag, x, y);
}

// The dot programs' data: a spot time that is not a finite number fails the job with 7, then the
// position is checked.
void RequireDot(const char* tag, double x, double y, double spotTime) REQUIRES(g_MarkCall) {
  if (!std::isfinite(spotTime)) FailJob(tag, RV_DATA_IS_NAN, StrFormat("(spot time %g)", spotTime));
  RequirePosition(tag, x, y);
}

uint32_t AddUnit(const char* tag, const double* points, int32_t count, uint32_t layer, WobPowEntry entry) {
  if (!g_Link.g_bConnected) return RV_CARD_NOT_CONNECTED;
  const auto* bytes = reinterpret_cast<const uint8_t*>(points);
  const uint32_t rc = CheckWobUnit(bytes, count, layer);
  if (rc == RV_LINE_END_POINT_LESS_THAN_2) {
    ReportFailure(tag, GetErrText(static_cast<int32_t>(rc)));
    return rc;
  }
  if (rc != RV_OK) return Refuse(tag, rc, StrFormat("(points %s, count %d, layer %u)", points ? "given" : "null", count, layer));
  if (g_WobUnits.Add(WobBuildUnit(bytes, count, layer), std::move(entry)) != RV_OK) {
    return Refuse(tag, RV_ERROR, "(16 units are stored already)");
  }
  return RV_OK;
}

}  // namespace

extern "C" QZ_API uint32_t QZ_STDCALL QZ_WobUnitClear(void) {
  return ExportCall("QZ_WobUnitClear", []() -> uint32_t {
    if (!g_Link.g_bConnected) return RV_CARD_NOT_CONNECTED;
    g_WobUnits.Clear();
    return RV_OK;
  });
}

extern "C" QZ_API uint32_t QZ_STDCALL QZ_WobUnit(const double* points, int32_t count, uint32_t layer) {
  return ExportCall("QZ_WobUnit", [&] { return AddUnit("QZ_WobUnit", points, count, layer, WobPowEntry{}); });
}

extern "C" QZ_API uint32_t QZ_STDCALL QZ_WobUnitPow(const double* points, int32_t count, uint32_t layer,
                                                   int32_t bPowEnable, int32_t offsetUs, const double* positions,
                                                   const double* powers, int32_t n) {
  const char* tag = "QZ_WobUnitPow";
  return ExportCall(tag, [&]() -> uint32_t {
    if (!g_Link.g_bConnected) return RV_CARD_NOT_CONNECTED;
    if (const uint32_t rc = CheckWobProfile(bPowEnable, positions, powers, n)) {
      return Refuse(tag, rc, StrFormat("(profile of %d points %s)", n, positions && powers ? "given" : "null"));
    }
    WobPowEntry entry;
    entry.bEnable = bPowEnable != 0 ? 1 : 0;
    entry.nTimeOffset = offsetUs;
    if (entry.bEnable) {
      for (int32_t i = 0; i < n; ++i) {
        entry.positions.push_back(positions[i] / 100.0);
        entry.powers.push_back(powers[i]);
      }
    }
    return AddUnit(tag, points, count, layer, std::move(entry));
  });
}

extern "C" QZ_API uint32_t QZ_STDCALL QZ_WobEnd(void) {
  return ExportCall("QZ_WobEnd", [] { return MarkStop(); });
}

extern "C" QZ_API uint32_t QZ_STDCALL QZ_WobStart(uint32_t bWait, uint32_t mode) {
  return ExportCall("QZ_WobStart", [&] {
    return RunWholeJob("QZ_WobStart", mode, g_SystemPara.wob != 0, "bWob未设置为1", [&]() REQUIRES(g_MarkCall) {
      const WobProgram prog = g_WobUnits.Copy();
      WobDownload(prog, bWait != 0);
    });
  });
}

extern "C" QZ_API uint32_t QZ_STDCALL QZ_LaserModuleStart(uint32_t mode) {
  return ExportCall("QZ_LaserModuleStart", [&] {
    return RunWholeJob("QZ_LaserModuleStart", mode, g_SystemPara.wob != 0, "bWob未设置为1",
                         []() REQUIRES(g_MarkCall) { LaserModuleProgram(); });
  });
}

extern "C" QZ_API uint32_t QZ_STDCALL QZ_OssLaserModuleStart(const uint16_t* positions, uint32_t mode, uint32_t flag) {
  const char* tag = "QZ_OssLaserModuleStart";
  return ExportCall(tag, [&]() -> uint32_t {
    if (positions == nullptr) {
      if (!g_Link.g_bConnected) return RV_CARD_NOT_CONNECTED;
      return Refuse(tag, RV_ERROR, "(no positions)");
    }
    const auto* bytes = reinterpret_cast<const uint8_t*>(positions);
    return RunWholeJob(tag, mode, g_SystemPara.bKvxOSS != 0, "bKvxOSS未设置为1", [&]() REQUIRES(g_MarkCall) {
      OssLaserModuleProgram(bytes, flag != 0 ? 1 : 0);
    });
  });
}

extern "C" QZ_API uint32_t QZ_STDCALL QZ_MarkBufScanPos(double x, double y, double /*reserved*/, int32_t pen) {
  return RunMarkMember(
      kMarkBufScanPos, {},
      [&] { return CheckLayer(kMarkBufScanPos.name, pen); },
      [&]() REQUIRES(g_MarkCall) {
        RequirePosition(kMarkBufScanPos.name, x, y);
        g_Scan.LoadPenJumpPara(static_cast<uint32_t>(pen));
        g_Scan.JumpIfMoved(x, y);
        return uint32_t{RV_OK};
      });
}

extern "C" QZ_API uint32_t QZ_STDCALL QZ_MarkInitScanLaser(void) {
  return RunMarkMember(kMarkInitScanLaser, {}, []() REQUIRES(g_MarkCall) {
    MarkInitScanLaserReset();
    return uint32_t{RV_OK};
  });
}

extern "C" QZ_API uint32_t QZ_STDCALL QZ_MarkLaserByIO(int32_t layer) {
  return RunMarkMember(
      kMarkLaserByIO, {}, [&] { return CheckLayer(kMarkLaserByIO.name, layer); },
      [&]() REQUIRES(g_MarkCall) {
        LaserModByIOProgram(static_cast<uint32_t>(layer), 1, 0);
        return uint32_t{RV_OK};
      });
}

extern "C" QZ_API uint32_t QZ_STDCALL QZ_MarkLaserByIO2(int32_t layer, uint32_t mode, int32_t dotTime) {
  return RunMarkMember(
      kMarkLaserByIO2, {}, [&] { return CheckLayer(kMarkLaserByIO2.name, layer); },
      [&]() REQUIRES(g_MarkCall) {
        LaserModByIOProgram(static_cast<uint32_t>(layer), static_cast<int32_t>(mode), dotTime);
        return uint32_t{RV_OK};
      });
}

extern "C" QZ_API uint32_t QZ_STDCALL QZ_MarkLaserByEnc(int32_t layer, uint32_t mode, int32_t dotTime, uint32_t value,
                                                       uint32_t endValue) {
  return RunMarkMember(
      kMarkLaserByEnc, {}, [&] { return CheckLayer(kMarkLaserByEnc.name, layer); },
      [&]() REQUIRES(g_MarkCall) {
        LaserModByEncProgram(static_cast<uint32_t>(layer), static_cast<int32_t>(mode), dotTime, value, endValue);
        return uint32_t{RV_OK};
      });
}

extern "C" QZ_API uint32_t QZ_STDCALL QZ_MarkWobLaserByEnc(const double* points, int32_t count, int32_t layer,
                                                          uint32_t value, uint32_t preValue) {
  const auto* bytes = reinterpret_cast<const uint8_t*>(points);
  const char* tag = kMarkWobLaserByEnc.name;
  return RunMarkMember(
      kMarkWobLaserByEnc, {},
      [&]() -> uint32_t {
        if ((count > 0 && bytes == nullptr) || count < 2) {
          return Refuse(tag, RV_ERROR, StrFormat("(points %s, count %d)", bytes ? "given" : "null", count));
        }
        return CheckLayer(tag, layer);
      },
      [&]() REQUIRES(g_MarkCall) {
        for (int32_t i = 0; i < count; ++i) {
          const uint8_t* p = bytes + static_cast<size_t>(i) * kWobEncPointBytes;
          RequirePosition(tag, GetF64(p), GetF64(p + 8));
        }
        // Without 21-bit codes the figure's moves would write no galvanometer word.
        if (!g_SystemPara.bNewBoxCali) ThrowMarkError(RV_ERROR);
        const LaserWaitCond cond{1, kEncoderMask, value, preValue, kWaitSourceEncoder, 0};
        LaserModWobByEncProgram(bytes, count, static_cast<uint32_t>(layer), cond);
        return uint32_t{RV_OK};
      });
}

extern "C" QZ_API uint32_t QZ_STDCALL QZ_MarkDotLaserByIO(double x, double y, double /*reserved*/, double frequency,
                                                         double spotTime, int32_t layer, int32_t level, uint32_t bit) {
  const char* tag = kMarkDotLaserByIO.name;
  return RunMarkMember(
      kMarkDotLaserByIO, {},
      [&]() -> uint32_t {
        if (bit > 31) return Refuse(tag, RV_ERROR, StrFormat("(input bit %u)", bit));
        return CheckLayer(tag, layer);
      },
      [&]() REQUIRES(g_MarkCall) {
        RequireDot(tag, x, y, spotTime);
        const LaserWaitCond cond{static_cast<uint8_t>(level != 0 ? 1 : 0), 1u << bit, 0, 1u << bit, kWaitSourceInputs, 1};
        LaserModDotProgram(static_cast<uint32_t>(layer), cond, x, y, frequency, spotTime);
        return uint32_t{RV_OK};
      });
}

extern "C" QZ_API uint32_t QZ_STDCALL QZ_MarkDotLaserByEnc(double x, double y, double /*reserved*/, double frequency,
                                                          double spotTime, int32_t layer, int32_t flag, uint32_t value,
                                                          uint32_t preValue) {
  return RunMarkMember(
      kMarkDotLaserByEnc, {}, [&] { return CheckLayer(kMarkDotLaserByEnc.name, layer); },
      [&]() REQUIRES(g_MarkCall) {
        RequireDot(kMarkDotLaserByEnc.name, x, y, spotTime);
        const LaserWaitCond cond{static_cast<uint8_t>(flag != 0 ? 1 : 0), kEncoderMask, value, preValue,
                                 kWaitSourceEncoder, 0};
        LaserModDotProgram(static_cast<uint32_t>(layer), cond, x, y, frequency, spotTime);
        return uint32_t{RV_OK};
      });
}

extern "C" QZ_API uint32_t QZ_STDCALL QZ_MarkMotorStart(int32_t en1, double pos1, double vel1, double acc1, int32_t en2,
                                                       double pos2, double vel2, double acc2, int32_t en3, double pos3,
                                                       double vel3, double acc3, int32_t en4, double pos4, double vel4,
                                                       double acc4) {
  const MotorGroups g{{en1, en2, en3, en4}, {pos1, pos2, pos3, pos4}, {vel1, vel2, vel3, vel4}, {acc1, acc2, acc3, acc4}};
  return RunMarkMember(kMarkMotorStart, {}, [&]() REQUIRES(g_MarkCall) { return MotorMove(g); });
}

extern "C" QZ_API uint32_t QZ_STDCALL QZ_MarkMotorEnd(void) {
  return RunMarkMember(kMarkMotorEnd, {}, []() REQUIRES(g_MarkCall) {
    MotorEnd();
    return uint32_t{RV_OK};
  });
}

extern "C" QZ_API uint32_t QZ_STDCALL QZ_MarkMotorRun(int32_t en1, double pos1, double vel1, double acc1, int32_t en2,
                                                     double pos2, double vel2, double acc2, int32_t en3, double pos3,
                                                     double vel3, double acc3, int32_t en4, double pos4, double vel4,
                                                     double acc4) {
  const MotorGroups g{{en1, en2, en3, en4}, {pos1, pos2, pos3, pos4}, {vel1, vel2, vel3, vel4}, {acc1, acc2, acc3, acc4}};
  return RunMarkMember(kMarkMotorRun, {}, [&]() REQUIRES(g_MarkCall) {
    if (!g.Any()) return uint32_t{RV_OK};
    MotorMove(g);
    MotorEnd();
    return uint32_t{RV_OK};
  });
}
