// The extra axes (QZ_NXA_...), rotation marking's settings and the axis test.
//
// Each axis export returns 1 at once when no card is open, and 1 when the card was lost during the
// call. Getters refuse a null pointer with 2 and send nothing; a position that is not a number is
// refused with 7 and nothing is sent.
#include <cmath>
#include <string>

#include "axis/axis_codes.h"
#include "axis/axis_commands.h"
#include "axis/axis_motion.h"
#include "axis/axis_records.h"
#include "cardlink/card_wire.h"
#include "cardlink/portlane.h"
#include "frame/errors.h"
#include "frame/export_call.h"
#include "frame/log_file.h"
#include "frame/system_para.h"
#include "mark/rot_mark.h"
#include "platform/clock.h"
#include "platform/debug_out.h"
#include "qzmark.h"

namespace {

using Codes = AxisValueCodes;

bool Connected() { return g_Link.g_bConnected.load() != 0; }
uint32_t ResultAtEnd() { return Connected() ? RV_OK : RV_CARD_NOT_CONNECTED; }

uint32_t Index(int32_t axis) { return static_cast<uint32_t>(axis - 1); }

// The common frame of the axis exports: no card, 1 at once; the body's result, or 1 when the card
// was lost meanwhile.
template <class Body>
uint32_t AxisExport(const char* name, Body&& body) {
  if (!Connected()) return RV_CARD_NOT_CONNECTED;
  return ExportCall(name, [&]() -> uint32_t {
    const uint32_t r = body();
    return r == RV_OK ? ResultAtEnd() : r;
  });
}

void Entry(const char* name, int level = LOG_TRACE) { g_InfoLog.Write(name, level, "%s", ""); }

}  // namespace

extern "C" QZ_API uint32_t QZ_STDCALL QZ_NXA_SetAxisSoftHome(int16_t axis, double position) {
  constexpr const char* kName = "QZ_NXA_SetAxisSoftHome";
  return AxisExport(kName, [&]() -> uint32_t {
    Entry(kName);
    if (!NxaAxisExists(axis)) return RefuseAxisNumber(kName);
    if (std::isnan(position)) return RV_DATA_IS_NAN;
    NxaSetAxisSoftHome(Index(axis), position);
    return RV_OK;
  });
}

extern "C" QZ_API uint32_t QZ_STDCALL QZ_NXA_GetAxisSoftHome(int16_t axis, double* home) {
  constexpr const char* kName = "QZ_NXA_GetAxisSoftHome";
  return AxisExport(kName, [&]() -> uint32_t {
    if (!NxaAxisExists(axis)) return RefuseAxisNumber(kName);
    if (!home) return RV_ERROR;
    *home = NxaGetAxis(Index(axis)).dbSoftHome;
    return RV_OK;
  });
}

extern "C" QZ_API uint32_t QZ_STDCALL QZ_NXA_SetAxisGearRatio(int16_t axis, int32_t g1, int32_t g2, int32_t g3,
                                                               int32_t g4) {
  constexpr const char* kName = "QZ_NXA_SetAxisGearRatio";
  return AxisExport(kName, [&]() -> uint32_t {
    if (!NxaAxisExists(axis)) return RefuseAxisNumber(kName);
    NxaSetAxisGearRatio(Index(axis), g1, g2, g3, g4);
    return RV_OK;
  });
}

extern "C" QZ_API uint32_t QZ_STDCALL QZ_NXA_SetAxisStopAcc(int16_t axis, double acceleration) {
  constexpr const char* kName = "QZ_NXA_SetAxisStopAcc";
  return AxisExport(kName, [&]() -> uint32_t {
    if (!NxaAxisExists(axis)) return RefuseAxisNumber(kName);
    // A stop acceleration whose code the card cannot take (0, or wider than 24 bits: also NaN,
    // negative, tiny, huge or infinite values) is refused, not masked into an arbitrary one.
    const uint32_t code = Codes::Accel(acceleration, NxaGetAxis(Index(axis)).dbPulsePerUnit);
    if (!Codes::Fits(code)) throw MyException(RV_EXT_PARA_OVERFLOW, 1);
    NxaSetAxisStopAcc(Index(axis), acceleration);
    return RV_OK;
  });
}

extern "C" QZ_API uint32_t QZ_STDCALL QZ_NXA_SetHomeMode(int32_t mode1, int32_t mode2, int32_t mode3, int32_t mode4,
                                                          int16_t order1, int16_t order2, int16_t order3,
                                                          int16_t order4) {
  return AxisExport("QZ_NXA_SetHomeMode", [&]() -> uint32_t {
    const int32_t modes[kNxaAxisMax] = {mode1, mode2, mode3, mode4};
    const int16_t orders[kNxaAxisMax] = {order1, order2, order3, order4};
    NxaSetHomeMode(modes, orders);
    return RV_OK;
  });
}

extern "C" QZ_API uint32_t QZ_STDCALL QZ_NXA_SetCurPos(int32_t axis, double position) {
  constexpr const char* kName = "QZ_NXA_SetCurPos";
  return AxisExport(kName, [&]() -> uint32_t {
    Entry(kName);
    if (!NxaAxisExists(axis)) return RefuseAxisNumber(kName);
    if (std::isnan(position)) return RV_DATA_IS_NAN;
    const uint32_t i = Index(axis);
    SendAxisCmd(CMD_AXIS_SET_POS, Codes::Field(i), Codes::Position(position, NxaGetAxis(i).dbPulsePerUnit) & kAxisCodeMask);
    return RV_OK;
  });
}

extern "C" QZ_API uint32_t QZ_STDCALL QZ_NXA_AxisMove(int16_t axis, double acceleration, double unused,
                                                       double velocity, double position) {
  (void)unused;
  constexpr const char* kName = "QZ_NXA_AxisMove";
  return AxisExport(kName, [&]() -> uint32_t {
    g_InfoLog.Write(kName, LOG_TRACE, "%f", position);
    return AxisMove(axis, kAxisMoveTo, position, 0, acceleration, velocity);
  });
}

extern "C" QZ_API uint32_t QZ_STDCALL QZ_NXA_AxisMoveJOG(int16_t axis, double acceleration, double unused,
                                                          double velocity, int32_t direction) {
  (void)unused;
  constexpr const char* kName = "QZ_NXA_AxisMoveJOG";
  return AxisExport(kName, [&]() -> uint32_t {
    g_InfoLog.Write(kName, LOG_TRACE, "%d", direction);
    return AxisMove(axis, kAxisMoveJog, 0.0, direction, acceleration, velocity);
  });
}

extern "C" QZ_API uint32_t QZ_STDCALL QZ_NXA_StopAxis(int32_t stop1, int32_t stop2, int32_t stop3, int32_t stop4) {
  constexpr const char* kName = "QZ_NXA_StopAxis";
  return AxisExport(kName, [&]() -> uint32_t {
    Entry(kName, LOG_INFO);
    plat::DebugOutput("zbr:stop Axis");
    const uint32_t bits = (stop1 != 0 ? 1u : 0u) | (stop2 != 0 ? 2u : 0u) | (stop3 != 0 ? 4u : 0u) |
                          (stop4 != 0 ? 8u : 0u);
    SendAxisCmd(CMD_AXIS_STOP, bits, 0);
    return RV_OK;
  });
}

extern "C" QZ_API uint32_t QZ_STDCALL QZ_NXA_GetAxisSts(int32_t axis, uint32_t* status) {
  constexpr const char* kName = "QZ_NXA_GetAxisSts";
  return AxisExport(kName, [&]() -> uint32_t {
    // An axis the card does not have is refused like in the other axis exports (its field would
    // read another axis's status, and INT_MIN - 1 would overflow).
    if (!NxaAxisExists(axis)) return RefuseAxisNumber(kName);
    if (!status) return RV_ERROR;
    *status = NxaReadAxisStatus(Index(axis));
    return RV_OK;
  });
}

extern "C" QZ_API uint32_t QZ_STDCALL QZ_NXA_GetAxisPos(int16_t axis, double* position) {
  return AxisExport("QZ_NXA_GetAxisPos", [&]() -> uint32_t {
    if (!position) return RV_ERROR;
    if (!NxaAxisExists(axis)) {
      *position = 0.0;
      return RV_OK;
    }
    const uint32_t i = Index(axis);
    const uint32_t code = SendAxisCmd(CMD_AXIS_MOVE, Codes::Field(i), 0).r0() & kAxisCodeMask;
    *position = (static_cast<double>(code) - kAxisPositionZero) / NxaGetAxis(i).dbPulsePerUnit;
    return RV_OK;
  });
}

extern "C" QZ_API uint32_t QZ_STDCALL QZ_NXA_GetHomeSts(uint32_t* status) {
  return AxisExport("QZ_NXA_GetHomeSts", [&]() -> uint32_t {
    if (!status) return RV_ERROR;
    *status = 0;
    *status = (SendAxisCmd(CMD_AXIS_MOVE, 0, 0).r1() ^ 0x2222u) & 0xFFFFu;
    return RV_OK;
  });
}

extern "C" QZ_API uint32_t QZ_STDCALL QZ_NXA_SearchHome(int32_t axis) {
  constexpr const char* kName = "QZ_NXA_SearchHome";
  return AxisExport(kName, [&]() -> uint32_t {
    g_InfoLog.Write(kName, LOG_INFO, "%d", axis);
    if (!NxaAxisExists(axis)) return RefuseAxisNumber(kName);
    const uint32_t i = Index(axis);
    const NxaAxisRecord rec = NxaGetAxis(i);
    double sign;
    if (rec.nHomeMode == 0 || rec.nHomeMode == 6) {
      sign = 1.0;
    } else if (rec.nHomeMode == 1 || rec.nHomeMode == 7) {
      sign = -1.0;
    } else {
      ShowTopmostBox(Lang("回零方式不支持", "Home return method not supported"));
      return RV_ERROR;
    }
    int32_t modes[kNxaAxisMax];
    int16_t orders[kNxaAxisMax] = {15, 15, 15, 15};
    for (uint32_t k = 0; k < kNxaAxisMax; ++k) modes[k] = static_cast<int32_t>(NxaGetAxis(k).nHomeMode);
    orders[i] = 0;
    NxaSetHomeMode(modes, orders);
    SendAxisCmd(CMD_AXIS_MOVE, 0x1000000, 1);
    NxaWaitAxisDone(i);
    double pos = 0.0;
    const uint32_t r = QZ_NXA_GetAxisPos(static_cast<int16_t>(axis), &pos);
    if (r != RV_OK) return r;
    if (std::fabs(pos) < 0.0001) {
      const uint32_t m = QZ_NXA_AxisMove(static_cast<int16_t>(axis), rec.dbHomeHighAcc, 0.0, rec.dbHomeHighVel,
                                         sign * rec.dbHomeDist);
      if (m != RV_OK) return m;
      NxaWaitAxisDone(i);
    }
    Entry(kName, LOG_INFO);
    return RV_OK;
  });
}

extern "C" QZ_API uint32_t QZ_STDCALL QZ_NXA_SearchHomeAll() {
  constexpr const char* kName = "QZ_NXA_SearchHomeAll";
  return AxisExport(kName, [&]() -> uint32_t {
    Entry(kName);
    SendAxisCmd(CMD_AXIS_MOVE, 0x1000000, 1);
    return RV_OK;
  });
}

extern "C" QZ_API uint32_t QZ_STDCALL QZ_NXA_GetMotorDi(uint32_t* inputs) {
  return AxisExport("QZ_NXA_GetMotorDi", [&]() -> uint32_t {
    if (!inputs) return RV_ERROR;
    *inputs = SendAxisCmd(CMD_INPUT, 0, 0).r1();
    return RV_OK;
  });
}

extern "C" QZ_API uint32_t QZ_STDCALL QZ_NXA_SetMotorDo(int32_t, int32_t) { return RV_OK; }

extern "C" QZ_API uint32_t QZ_STDCALL QZ_NXA_GetMotorDo(uint32_t*) { return RV_OK; }

extern "C" QZ_API uint32_t QZ_STDCALL QZ_NXA_SetSTKManualMode(uint8_t mode, int32_t enable, int32_t axis,
                                                               int32_t value) {
  constexpr const char* kName = "QZ_NXA_SetSTKManualMode";
  return AxisExport(kName, [&]() -> uint32_t {
    g_InfoLog.Write(kName, LOG_TRACE, "%d  %d  %d  %d", mode, enable != 0 ? 1 : 0, axis, value);
    if (!NxaAxisExists(axis)) return RefuseAxisNumber(kName);
    uint32_t m = mode;
    uint32_t on = enable != 0 ? 1u : 0u;
    if (!g_SystemPara.CardLinkCfg.bPcieCard) {
      m = 1;
      on = 0;
    }
    SendAxisCmd(CMD_AXIS_MANUAL_MODE, on | m << 4, Index(axis) & 15u);
    SendAxisCmd(CMD_AXIS_GEAR, static_cast<uint32_t>(value) & 0xFFFu, 0);
    return RV_OK;
  });
}

extern "C" QZ_API uint32_t QZ_STDCALL QZ_NXA_SetMotorPara() {
  constexpr const char* kName = "QZ_NXA_SetMotorPara";
  return AxisExport(kName, [&]() -> uint32_t {
    Entry(kName);
    UpdateMotorPara();
    return RV_OK;
  });
}

extern "C" QZ_API uint32_t QZ_STDCALL QZ_SetRotateMarkPara(uint32_t enable, uint32_t axis, double speedLimit,
                                                            double rampFactor) {
  return ExportCall("QZ_SetRotateMarkPara",
                    [&]() -> uint32_t { return SetRotateMarkPara(enable, axis, speedLimit, rampFactor); });
}

namespace {

constexpr double kTestTarget = 100.0;
constexpr double kTestVelocity = 10.0;
constexpr uint32_t kTestMinWaitMs = 60000;

// Reads axis 1's status every 10 ms while it is moving. Leaves on a failed read, and gives up
// (logged) after `limitMs`.
void WaitWhileMoving(uint32_t limitMs) {
  const uint32_t start = plat::TickMs();
  for (;;) {
    uint32_t status = 0;
    if (QZ_NXA_GetAxisSts(1, &status) != RV_OK || (status & kAxisStsMoving) == 0) return;
    if (plat::TickMs() - start >= limitMs) {
      const std::string text = StrFormat("axis 1 still moving after %u ms (status 0x%X)", limitMs, status);
      g_InfoLog.WriteText("QZ_Test", LOG_INFO, text);
      g_ErrorLog.WriteText("QZ_Test", LOG_ERROR, text);
      return;
    }
    plat::Sleep(10);
  }
}

// 60 s, or three times the move's nominal time when that is longer.
uint32_t TestWaitLimitMs() {
  const double vmax = NxaGetAxis(0).dbMaxVel;
  const double v = std::isfinite(vmax) && vmax > 0 && vmax < kTestVelocity ? vmax : kTestVelocity;
  const double ms = 3.0 * kTestTarget / v * 1000.0;
  return ms > kTestMinWaitMs && ms < 4.0e9 ? static_cast<uint32_t>(ms) : kTestMinWaitMs;
}

}  // namespace

extern "C" QZ_API uint32_t QZ_STDCALL QZ_Test() {
  return ExportCall("QZ_Test", []() -> uint32_t {
    const uint32_t limit = TestWaitLimitMs();
    QZ_NXA_SetCurPos(1, 0.0);
    QZ_NXA_AxisMove(1, 100.0, 2.0, kTestVelocity, kTestTarget);
    plat::Sleep(3000);
    QZ_NXA_StopAxis(1, 0, 0, 0);
    WaitWhileMoving(limit);
    QZ_NXA_SetCurPos(1, 0.0);
    QZ_NXA_AxisMove(1, 100.0, 2.0, kTestVelocity, kTestTarget);
    WaitWhileMoving(limit);
    QZ_NXA_SetCurPos(1, 0.0);
    return RV_OK;
  });
}
