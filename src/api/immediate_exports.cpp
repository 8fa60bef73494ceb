// The immediate exports: they act on the card at once, outside any job, and claim no task. One
// frame serves them all (Immediate below): no card open -> 1 without touching the outputs (except
// where a member presets them), the member's exchanges, then 0 while the card is still open, else
// 1; failures go through the export wrapper. A null pointer is refused with 2 before anything is
// sent.
#include <cstdio>
#include <cstring>
#include <string>

#include "cardlink/card_io.h"
#include "cardlink/card_status.h"
#include "cardlink/hw_info.h"
#include "cardlink/portlane.h"
#include "cardlink/task_state.h"
#include "frame/card_version.h"
#include "frame/conv.h"
#include "frame/errors.h"
#include "frame/export_call.h"
#include "frame/ini_cfg.h"
#include "frame/log_file.h"
#include "frame/system_para.h"
#include "laser/laser.h"
#include "laser/laser_outputs.h"
#include "laser/uart.h"
#include "mark/scan_move.h"
#include "platform/clock.h"
#include "platform/files.h"
#include "qzmark.h"

namespace {

constexpr uint32_t kLaserTypeIpgOss = 5;
constexpr uint32_t kLinkInfoHeaderWord = LINKW_LATCH_COUNTER;
constexpr uint16_t kCmdReadBack = CMD_FLASH_READBACK;
constexpr uint16_t kCmdRouteStates = 117;
constexpr uint32_t FLAG_END_RESET_ROUTE = 0x80000;
constexpr const char* kReadBackFile = "OffDocReadBack.tmp";

bool Connected() { return g_Link.g_bConnected != 0; }
uint32_t Result() { return Connected() ? RV_OK : RV_CARD_NOT_CONNECTED; }

// The frame: the card test, the body, the result by the connected flag. A body may return a code
// of its own (a refusal); 0 means "done", which becomes the frame's result.
template <class Body>
uint32_t Immediate(const char* name, Body&& body) {
  return ExportCall(name, [&]() -> uint32_t {
    if (!Connected()) return RV_CARD_NOT_CONNECTED;
    const uint32_t rc = body();
    return rc != RV_OK ? rc : Result();
  });
}

CmdReply Send(uint16_t cmd, uint32_t p1, uint32_t p2) {
  CmdReply reply;
  CPortlane::SendCmd(cmd, p1, p2, reply);
  return reply;
}

void SetFlag(uint32_t value, uint32_t mask) { Send(CMD_SET_FLAG, value, mask); }

bool LaserBusOnOss() {
  const SystemPara& p = g_SystemPara;
  return p.LASER_TYPE == static_cast<int32_t>(kLaserTypeIpgOss) && (p.OSS_TYPE == 1 || p.OSS_TYPE == 2);
}

double Percent12(uint32_t v) { return static_cast<double>(v & 0xFFFu) * 100.0 / 4095.0; }

// The galvanometer status word as the host reads it.
uint32_t ScanStateOf(uint32_t w) {
  uint32_t t = 0, u = 0, v = 0, e = 0;
  const uint32_t bit16 = (w >> 16) & 1u;
  if (!bit16) {
    t = (w >> 22) & 3u;
    if (t == 0) {
      u = (~(w >> 20)) & 3u;
      v = (w >> 18) & 3u;
      e = (w ^ 126u) & 255u;
    }
  }
  return ((((e * 4 | t) * 4 | u) * 4 | v) * 4) | bit16 | 2u;
}

// Link information with the header link: the link level and flags of the status word, then the
// latched link counter.
void ScsiInfoFromLink(uint32_t& a, uint32_t& b) {
  plat::LockGuard g(g_csCardCmd);
  if (!Connected()) throw MyException(RV_CARD_NOT_CONNECTED, 0);
  CPortlane::ReturnV(CPortlane::getState());
  const uint32_t s = g_Link.g_LinkState;
  const uint32_t bit6 = (s >> 6) & 1u, bit5 = (s >> 5) & 1u;
  a = ((((g_Link.nLinkLevel & ~1u) << 14) | bit6) << 1) | bit5;
  if (!bit6) {
    CPortlane::ReturnV(CPortlane::SendLinkWord(kLinkInfoHeaderWord));
    CPortlane::ReturnV(CPortlane::getState());
    b = (g_Link.g_LinkState >> 16) & 0x3FFu;
  }
}

// Card memory from p1 (a serial-flash byte address or a NAND page) into "OffDocReadBack.tmp" in
// the library's folder, `pages` pages of 2048 bytes, streamed as they arrive.
uint32_t ReadBack(uint32_t p1, uint32_t pages) {
  if (pages > 0xFFFFFFFFu / (kFlashPageBytes / kBulkUnitBytes)) return RV_ERROR;
  plat::File f;
  if (!f.Open(GetModuleDir() + kReadBackFile, "wb")) return RV_NOT_OPEN_OFFLINE_FILE;
  bool written = true;
  try {
    CPortlane::ReadBulk(kCmdReadBack, p1 & 0xFFFFFFu, pages, pages * (kFlashPageBytes / kBulkUnitBytes),
                        [&](const uint8_t* unit) {
                          written = written && f.Write(unit, kBulkUnitBytes);
                          return true;
                        });
  } catch (...) {
    f.Close();
    throw;
  }
  if (!f.Close()) written = false;
  return written ? RV_OK : RV_NOT_OPEN_OFFLINE_FILE;
}

uint32_t SendCtrlCmd(uint16_t command, uint32_t p1, uint32_t p2, uint32_t& r0, uint32_t& r1) {
  if (command == kCmdReadBack) return ReadBack(p1, p2);
  if (command > kCmdReadBack && command <= 0x4FF) return RV_OK;
  uint32_t n = command;
  if (g_SystemPara.bCmdWithNum == 1) {
    if ((n & 0xFFu) == 0x55u && (n >> 8) != 0) n = 0x100u + (n >> 8);
    // The card reads 9 bits of a numbered command: a larger number would be another command.
    if (n > 0x1FFu) return RV_ERROR;
  }
  const CmdReply reply = Send(static_cast<uint16_t>(n), p1, p2);
  r0 = reply.r0();
  r1 = reply.r1();
  return RV_OK;
}

uint32_t Logged(const char* name) {
  g_InfoLog.Write(name, LOG_INFO, "%s", "");
  return RV_OK;
}

}  // namespace

// ---- inputs, outputs, analogue values, laser bus

extern "C" QZ_API uint32_t QZ_STDCALL QZ_Input(uint32_t* bits) {
  if (!bits) return RV_ERROR;
  return Immediate("QZ_Input", [&] {
    *bits = Send(CMD_INPUT, 0, 0).r0();
    return RV_OK;
  });
}

extern "C" QZ_API uint32_t QZ_STDCALL QZ_Output(uint32_t mask, uint32_t value) {
  return Immediate("QZ_Output", [&] {
    OutputWithSerialMirror(mask, value);
    return RV_OK;
  });
}

extern "C" QZ_API uint32_t QZ_STDCALL QZ_GetOutput(uint32_t* bits) {
  if (!bits) return RV_ERROR;
  return Immediate("QZ_GetOutput", [&] {
    *bits = ReadOutputs();
    return RV_OK;
  });
}

extern "C" QZ_API uint32_t QZ_STDCALL QZ_OutputError(uint32_t value) {
  return Immediate("QZ_OutputError", [&] {
    SetFlag(value, FLAG_ERROR_OUTPUT);
    return RV_OK;
  });
}

extern "C" QZ_API uint32_t QZ_STDCALL QZ_GetAD(double* percent) {
  if (!percent) return RV_ERROR;
  *percent = 0.0;
  return Immediate("QZ_GetAD", [&] {
    *percent = Percent12(Send(CMD_GET_ADDA, 0, 0).r0());
    return RV_OK;
  });
}

extern "C" QZ_API uint32_t QZ_STDCALL QZ_GetDA(double* da1, double* da2) {
  if (!da1 || !da2) return RV_ERROR;
  *da1 = *da2 = 0.0;
  return Immediate("QZ_GetDA", [&] {
    const uint32_t r1 = Send(CMD_GET_ADDA, 0, 0).r1();
    *da1 = Percent12(r1 >> 8);
    *da2 = Percent12(r1 >> 20);
    return RV_OK;
  });
}

extern "C" QZ_API uint32_t QZ_STDCALL QZ_SetDA(double percent) {
  return Immediate("QZ_SetDA", [&] {
    const CLaser& l = g_Laser[0];
    const double k = l.dbCurrentRangeLaserIn / l.dbCurrentRangeDaOut;
    // Not clamped: the card takes what the laser's range asks for. NaN gives 0, the rest saturates.
    const int32_t n = RealToInt32(k * (percent * 4095.0 / 100.0));
    Send(CMD_SET_DA, 0, static_cast<uint32_t>(n));
    return RV_OK;
  });
}

extern "C" QZ_API uint32_t QZ_STDCALL QZ_IpgBusCmdWrite(uint32_t reg, uint32_t value) {
  return Immediate("QZ_IpgBusCmdWrite", [&] {
    Send(LaserBusOnOss() ? CMD_LASER_BUS_WRITE : CMD_LASER_BUS, reg << 24, value);
    return RV_OK;
  });
}

extern "C" QZ_API uint32_t QZ_STDCALL QZ_IpgBusCmdRead(uint32_t reg, uint32_t* w0, uint32_t* w1) {
  if (!w0 || !w1) return RV_ERROR;
  return Immediate("QZ_IpgBusCmdRead", [&] {
    const CmdReply r = Send(LaserBusOnOss() ? CMD_LASER_BUS_READ : CMD_LASER_BUS, (reg | 0x80u) << 24, 0);
    *w0 = r.r0();
    *w1 = r.r1();
    return RV_OK;
  });
}

// ---- versions, identity, status

extern "C" QZ_API uint32_t QZ_STDCALL QZ_GetHdVer(uint32_t* version) {
  if (!version) return RV_ERROR;
  return Immediate("QZ_GetHdVer", [&] {
    *version = ReadHdVer();
    return RV_OK;
  });
}

extern "C" QZ_API uint32_t QZ_STDCALL QZ_GetSwVer(uint32_t* version) {
  if (!version) return RV_ERROR;
  *version = kLibraryVersion;
  return RV_OK;
}

extern "C" QZ_API uint32_t QZ_STDCALL QZ_GetHdInfo(uint32_t* a, uint32_t* b, uint32_t* c, uint32_t* d) {
  if (!a || !b || !c || !d) return RV_ERROR;
  return Immediate("QZ_GetHdInfo", [&] {
    const CmdReply first = Send(CMD_HW_VERSION, 0, 0);
    *a = first.r0();
    *b = first.r1();
    const CmdReply second = Send(CMD_HW_INFO2, 1, 0);
    *c = second.r0();
    *d = second.r1();
    return RV_OK;
  });
}

extern "C" QZ_API uint32_t QZ_STDCALL QZ_GetUniqueID(uint8_t* id) {
  if (!id) return RV_ERROR;
  std::memset(id, 0x02, 7);
  return Immediate("QZ_GetUniqueID", [&] {
    id[0] = 0;
    const CmdReply r = Send(CMD_UNIQUE_ID, 0, 0);
    PutU32(id, r.r1());
    id[4] = static_cast<uint8_t>(r.r0());
    id[5] = static_cast<uint8_t>(r.r0() >> 8);
    id[6] = static_cast<uint8_t>(r.r0() >> 16);
    return RV_OK;
  });
}

extern "C" QZ_API uint32_t QZ_STDCALL QZ_GetMarkStatus(uint32_t* busy) {
  if (!busy) return RV_ERROR;
  return Immediate("QZ_GetMarkStatus", [&] {
    plat::LockGuard g(g_csSysState);
    *busy = g_bSysBusy;
    return RV_OK;
  });
}

extern "C" QZ_API uint32_t QZ_STDCALL QZ_GetErrInfo(uint32_t code, char** text, uint32_t size) {
  if (!text || !*text) return RV_ERROR;
  return ExportCall("QZ_GetErrInfo", [&]() -> uint32_t {
    const std::string s =
        code < kReturnCodeCount ? GetErrText(static_cast<int32_t>(code)) : std::string("No this err number");
    if (size == 0) return RV_OK;
    const size_t n = std::min<size_t>(s.size(), size - 1);
    std::memcpy(*text, s.data(), n);
    (*text)[n] = '\0';
    return RV_OK;
  });
}

extern "C" QZ_API uint32_t QZ_STDCALL get_debug(uint16_t* kind, uint32_t* dt, uint32_t* value) {
  if (!kind || !dt || !value) return RV_ERROR;
  return Immediate("get_debug", [&] {
    DebugRecordWord rec;
    rec.dt = *dt;
    rec.value = *value;
    ReadDebugRecord(rec);
    *kind = rec.kind;
    *dt = rec.dt;
    *value = rec.value;
    return RV_OK;
  });
}

extern "C" QZ_API uint32_t QZ_STDCALL QZ_GetScsiInfo(uint32_t* a, uint32_t* b) {
  if (!a || !b) return RV_ERROR;
  return Immediate("QZ_GetScsiInfo", [&] {
    if (g_SystemPara.CardLinkCfg.bFrameHeader) {
      ScsiInfoFromLink(*a, *b);
      return RV_OK;
    }
    const CmdReply r = Send(CMD_LINK_INFO, 0, 0);
    *a = r.r0();
    *b = r.r1();
    return RV_OK;
  });
}

// ---- galvanometer position and moves

extern "C" QZ_API uint32_t QZ_STDCALL QZ_GetScanState(uint32_t* state) {
  if (!state) return RV_ERROR;
  return Immediate("QZ_GetScanState", [&] {
    *state = g_SystemPara.bCloseFeedback ? ScanStateOf(Send(CMD_GALVO_STATUS, 1, 0).r0()) : 0;
    return RV_OK;
  });
}

extern "C" QZ_API uint32_t QZ_STDCALL QZ_GetScanPosX(uint16_t* code) {
  if (!code) return RV_ERROR;
  return Immediate("QZ_GetScanPosX", [&] {
    *code = static_cast<uint16_t>(Send(CMD_SCAN_POS, 2, 0).r1() & 0xFFFFu);
    return RV_OK;
  });
}

extern "C" QZ_API uint32_t QZ_STDCALL QZ_GetScanPos(double* x, double* y) {
  if (!x || !y) return RV_ERROR;
  return Immediate("QZ_GetScanPos", [&] {
    ReadScanPos(0, *x, *y);
    return RV_OK;
  });
}

extern "C" QZ_API uint32_t QZ_STDCALL QZ_GetScanPosFB(double* x, double* y) {
  if (!x || !y) return RV_ERROR;
  return Immediate("QZ_GetScanPosFB", [&] {
    ReadScanPos(1, *x, *y);
    return RV_OK;
  });
}

extern "C" QZ_API uint32_t QZ_STDCALL QZ_MicMoveScan3(double x, double y, double z, uint32_t mode) {
  return Immediate("QZ_MicMoveScan3", [&] { return MicMoveScan3(x, y, z, mode); });
}

extern "C" QZ_API uint32_t QZ_STDCALL QZ_MicMoveScan(double x, double y, uint32_t mode) {
  return Immediate("QZ_MicMoveScan", [&] { return MicMoveScan3(x, y, 0.0, mode); });
}

extern "C" QZ_API uint32_t QZ_STDCALL QZ_ScanMove2Bit(uint16_t xCode, uint16_t yCode) {
  return Immediate("QZ_ScanMove2Bit", [&] {
    ScanMove2Bit(xCode, yCode);
    return RV_OK;
  });
}

extern "C" QZ_API uint32_t QZ_STDCALL QZ_ScanMM2Bit(double x, double y, uint32_t mode, uint16_t* xCode,
                                                    uint16_t* yCode) {
  if (!xCode || !yCode) return RV_ERROR;
  return Immediate("QZ_ScanMM2Bit", [&] { return ScanMM2Bit(x, y, mode, *xCode, *yCode); });
}

// ---- run control and raw commands

extern "C" QZ_API uint32_t QZ_STDCALL QZ_ClearAlarm() {
  Logged("QZ_ClearAlarm");
  return Immediate("QZ_ClearAlarm", [&] {
    SetFlag(0, FLAG_CLEAR_ALARM);
    plat::Sleep(10);
    SetFlag(1, FLAG_CLEAR_ALARM);
    return RV_OK;
  });
}

extern "C" QZ_API uint32_t QZ_STDCALL QZ_Mark_Pause() {
  Logged("QZ_Mark_Pause");
  return Immediate("QZ_Mark_Pause", [&] {
    SetFlag(0, FLAG_PAUSE);
    return RV_OK;
  });
}

extern "C" QZ_API uint32_t QZ_STDCALL QZ_Mark_ReMark() {
  Logged("QZ_Mark_ReMark");
  return Immediate("QZ_Mark_ReMark", [&] {
    SetFlag(0, FLAG_RESUME);
    return RV_OK;
  });
}

extern "C" QZ_API uint32_t QZ_STDCALL debug_switch(uint32_t on) {
  return Immediate("debug_switch", [&] {
    SwitchDebugRecords(on);
    return RV_OK;
  });
}

extern "C" QZ_API uint32_t QZ_STDCALL QZ_SetOnOffLine(uint32_t online) {
  return Immediate("QZ_SetOnOffLine", [&] {
    SetFlag(online == 0 ? 1u : 0u, FLAG_OFFLINE);
    return RV_OK;
  });
}

extern "C" QZ_API uint32_t QZ_STDCALL QZ_SendCtrlCmd(uint16_t command, uint32_t p1, uint32_t p2, uint32_t* r0,
                                                     uint32_t* r1) {
  if (!r0 || !r1) return RV_ERROR;
  return Immediate("QZ_SendCtrlCmd", [&] { return SendCtrlCmd(command, p1, p2, *r0, *r1); });
}

// ---- the laser's UART and route states

extern "C" QZ_API uint32_t QZ_STDCALL QZ_UartCmdSendBytes(const uint8_t* bytes, int32_t count) {
  if (!bytes && count > 0) return RV_ERROR;
  return Immediate("QZ_UartCmdSendBytes", [&] {
    UartSendBytes(bytes, count);
    return RV_OK;
  });
}

extern "C" QZ_API uint32_t QZ_STDCALL QZ_UartCmdRecvByte(uint8_t* byte, uint32_t* valid) {
  if (!byte || !valid) return RV_ERROR;
  *valid = 0;
  return Immediate("QZ_UartCmdRecvByte", [&] {
    UartRecvByte(*byte, *valid);
    return RV_OK;
  });
}

extern "C" QZ_API uint32_t QZ_STDCALL QZ_GetSpiBackCurrent(int32_t* current) {
  if (!current) return RV_ERROR;
  *current = -1;
  return Immediate("QZ_GetSpiBackCurrent", [&] { return GetSpiBackCurrent(*current); });
}

extern "C" QZ_API uint32_t QZ_STDCALL QZ_SystemIsAlarm(int32_t* alarm) {
  if (!alarm) return RV_ERROR;
  *alarm = 0;
  return Immediate("QZ_SystemIsAlarm", [&] {
    SystemIsAlarm(*alarm);
    return RV_OK;
  });
}

extern "C" QZ_API uint32_t QZ_STDCALL QZ_GetRouteStates(uint32_t* states) {
  if (!states) return RV_ERROR;
  return Immediate("QZ_GetRouteStates", [&] {
    const CmdReply r = Send(kCmdRouteStates, 0, 0);
    states[0] = r.r0();
    states[1] = r.r1();
    return RV_OK;
  });
}

extern "C" QZ_API uint32_t QZ_STDCALL QZ_EndResetRoute() {
  Logged("QZ_EndResetRoute");
  return Immediate("QZ_EndResetRoute", [&] {
    SetFlag(0, FLAG_END_RESET_ROUTE);
    return RV_OK;
  });
}

// ---- exports without effect

extern "C" QZ_API uint32_t QZ_STDCALL QZ_ResetCard() { return RV_OK; }
extern "C" QZ_API uint32_t QZ_STDCALL QZ_Enter_MarkEnv() { return RV_OK; }
extern "C" QZ_API uint32_t QZ_STDCALL QZ_Lever_MarkEnv() { return RV_OK; }
extern "C" QZ_API uint32_t QZ_STDCALL QZ_SetParaAxisZ() { return RV_OK; }
extern "C" QZ_API uint32_t QZ_STDCALL QZ_GetOnOffLineSts(uint32_t) { return RV_OK; }
extern "C" QZ_API uint32_t QZ_STDCALL QZ_EnableCoord(uint32_t) { return RV_OK; }
extern "C" QZ_API uint32_t QZ_STDCALL QZ_GetTimerValue(uint32_t, uint32_t, uint32_t) { return RV_OK; }
extern "C" QZ_API uint32_t QZ_STDCALL QZ_GetMarkRange(uint32_t, uint32_t, uint32_t) { return RV_OK; }
extern "C" QZ_API uint32_t QZ_STDCALL QZ_ConfigIO(uint32_t, uint32_t) { return RV_OK; }
extern "C" QZ_API uint32_t QZ_STDCALL QZ_GetCurPos(uint32_t, uint32_t) { return RV_OK; }
