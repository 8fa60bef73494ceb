// Encoder fly exports: the card's encoder counter, its speed and position buffer, the fly
// parameters and the offset compensation, and the rotation centre of two points.
#include <cmath>

#include "cardlink/card_cmd.h"
#include "cardlink/portlane.h"
#include "frame/conv.h"
#include "frame/export_call.h"
#include "frame/fly_para.h"
#include "mark/fly_encode.h"
#include "qzmark.h"

namespace {

constexpr double kPi = 3.14159265358979323846;
constexpr double kTicksPerUs = 48.0;
// The offset compensation goes to the card in 1/8192 units.
constexpr double kCompensationScale = 8192.0;

bool Connected() { return g_Link.g_bConnected.load() != 0; }
uint32_t ResultAtEnd() { return Connected() ? RV_OK : RV_CARD_NOT_CONNECTED; }

CmdReply Exchange(uint16_t cmd, uint32_t p1, uint32_t p2) {
  CmdReply reply;
  CPortlane::SendCmd(cmd, p1, p2, reply);
  return reply;
}

// Command 102 and the unwrapping of its answer.
void ReadEncPosBuf(uint32_t& status, uint32_t& value) {
  const CmdReply r = Exchange(CMD_ENC_POS_BUF, 0, 0);
  status = r.r0();
  value = r.r1();
  g_FlyEncode.CompareInOut(status, value);
}

// x x 8192 truncated, when it is finite and fits 32 bits.
bool CompensationWord(double x, uint32_t& out) {
  const double v = std::trunc(x * kCompensationScale);
  if (!std::isfinite(v) || v < -2147483648.0 || v > 2147483647.0) return false;
  out = static_cast<uint32_t>(RealToInt32(v));
  return true;
}

}  // namespace

extern "C" QZ_API uint32_t QZ_STDCALL QZ_SetFlyEncInitPos(int32_t pos) {
  return ExportCall("QZ_SetFlyEncInitPos", [&]() -> uint32_t {
    if (!Connected()) return RV_CARD_NOT_CONNECTED;
    SendCmdNoReply(CMD_ENC_SET_POS, 0, static_cast<uint32_t>(pos));
    return ResultAtEnd();
  });
}

extern "C" QZ_API uint32_t QZ_STDCALL QZ_GetEncPos(uint32_t* pos) {
  return ExportCall("QZ_GetEncPos", [&]() -> uint32_t {
    if (!Connected()) return RV_CARD_NOT_CONNECTED;
    if (!pos) return RV_ERROR;
    *pos = Exchange(CMD_ENCODER, 0, 0).r1();
    return ResultAtEnd();
  });
}

extern "C" QZ_API uint32_t QZ_STDCALL QZ_GetEncVel(double* vel) {
  return ExportCall("QZ_GetEncVel", [&]() -> uint32_t {
    if (!Connected()) return RV_CARD_NOT_CONNECTED;
    if (!vel) return RV_ERROR;
    // r1 is the pulse period in 48 MHz ticks: a period of 0 is an infinite speed.
    const uint32_t period = Exchange(CMD_ENCODER, 0, 1).r1();
    *vel = 1.0 / static_cast<double>(period) / g_FlyScanPara.nEncPPM * 1000000.0 * kTicksPerUs;
    return ResultAtEnd();
  });
}

extern "C" QZ_API uint32_t QZ_STDCALL QZ_GetBufferCnt(uint32_t* flag, uint16_t* count) {
  return ExportCall("QZ_GetBufferCnt", [&]() -> uint32_t {
    if (!Connected()) return RV_CARD_NOT_CONNECTED;
    if (!flag || !count) return RV_ERROR;
    const uint32_t r0 = Exchange(CMD_ENCODER, 0, 0).r0();
    *count = static_cast<uint16_t>(r0 & 0xFFFF);
    *flag = (r0 >> 16) & 1u;
    return ResultAtEnd();
  });
}

extern "C" QZ_API uint32_t QZ_STDCALL QZ_SetFlyPara(void) {
  return ExportCall("QZ_SetFlyPara", [&]() -> uint32_t {
    if (!Connected()) return RV_CARD_NOT_CONNECTED;
    if (!ReadFlyScanPara()) return RV_ERROR;
    AppendFlyParaCmds(g_FlyScanPara, nullptr);
    return ResultAtEnd();
  });
}

extern "C" QZ_API uint32_t QZ_STDCALL QZ_SetOffsetCompensation(double a, double b) {
  return ExportCall("QZ_SetOffsetCompensation", [&]() -> uint32_t {
    if (!Connected()) return RV_CARD_NOT_CONNECTED;
    uint32_t wa = 0, wb = 0;
    if (!CompensationWord(a, wa) || !CompensationWord(b, wb)) return RV_ERROR;
    SendCmdNoReply(CMD_OFFSET_COMP, wb, wa);
    return ResultAtEnd();
  });
}

extern "C" QZ_API uint32_t QZ_STDCALL QZ_GetRotateCent(double x1, double y1, double x2, double y2, double angle,
                                                      double* cx, double* cy) {
  return ExportCall("QZ_GetRotateCent", [&]() -> uint32_t {
    if (!cx || !cy) return RV_ERROR;
    // (x2, y2) = C + rot(angle) (P1 - C), solved for C.
    const double a = angle / 180.0 * kPi;
    const double c = std::cos(a), s = std::sin(a), k = 1.0 - c;
    const double A = x2 - c * x1 + s * y1;
    const double B = y2 - s * x1 - c * y1;
    const double m = k / -s;
    *cy = (A - B * m) / (s - k * m);
    *cx = (A - *cy * s) / k;
    return RV_OK;
  });
}

extern "C" QZ_API uint32_t QZ_STDCALL QZ_GetEncPosBuf2(uint32_t* status, uint32_t* value) {
  return ExportCall("QZ_GetEncPosBuf2", [&]() -> uint32_t {
    if (!Connected()) return RV_CARD_NOT_CONNECTED;
    if (!status || !value) return RV_ERROR;
    ReadEncPosBuf(*status, *value);
    return ResultAtEnd();
  });
}

extern "C" QZ_API uint32_t QZ_STDCALL QZ_GetEncPosBuf(uint32_t* status, uint32_t* value) {
  return ExportCall("QZ_GetEncPosBuf", [&]() -> uint32_t {
    if (!Connected()) return RV_CARD_NOT_CONNECTED;
    if (!status || !value) return RV_ERROR;
    ReadEncPosBuf(*status, *value);
    return ResultAtEnd();
  });
}

extern "C" QZ_API uint32_t QZ_STDCALL QZ_GetEncBufPosAbs(uint32_t* status, double* mm) {
  return ExportCall("QZ_GetEncBufPosAbs", [&]() -> uint32_t {
    if (!Connected()) return RV_CARD_NOT_CONNECTED;
    if (!status || !mm) return RV_ERROR;
    uint32_t value = 0;
    ReadEncPosBuf(*status, value);
    *mm = g_FlyEncode.State().nEncPosAbs / g_FlyScanPara.nEncPPM;
    return ResultAtEnd();
  });
}

extern "C" QZ_API uint32_t QZ_STDCALL QZ_SetEncPosBufSwitch(int32_t on) {
  return ExportCall("QZ_SetEncPosBufSwitch", [&]() -> uint32_t {
    if (!Connected()) return RV_CARD_NOT_CONNECTED;
    g_FlyEncode.ResetUnwrap();
    SendCmdNoReply(CMD_ENC_POS_BUF_SWITCH, 1, on != 0 ? 0 : 1);
    return ResultAtEnd();
  });
}
