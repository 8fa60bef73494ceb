#include "mark/scan_move.h"

#include <algorithm>
#include <cmath>

#include "calibration/scan.h"
#include "cardlink/card_wire.h"
#include "cardlink/portlane.h"
#include "frame/conv.h"
#include "frame/errors.h"
#include "frame/log_file.h"
#include "frame/system_para.h"
#include "mark/mark_job.h"
#include "mark/run_control.h"
#include "platform/clock.h"
#include "platform/debug_out.h"

namespace {

constexpr uint32_t kMoveFlagNoLaser = 0x200000;
constexpr uint32_t kMoveWordLaser = 0x7FFF;
constexpr uint32_t kMoveWordNoLaser = 0x17FFF;
constexpr uint32_t kZCodeCentre = 0x7FFF;
constexpr uint32_t kPosSet = 2;
constexpr uint32_t kPosFeedback = 0;
constexpr uint32_t kPosRawMode = 1;

bool LaserMode(uint32_t mode) { return mode == 0 || mode == 2; }

bool Finite(double x, double y) { return std::isfinite(x) && std::isfinite(y); }

void SendMove(double x, double y, uint32_t mode) {
  const ScanMoveWords w = ScanMoveWordsOf(x, y, mode);
  CmdReply reply;
  CPortlane::SendCmd(CMD_SCAN_MOVE, w.p1, w.p2, reply);
}

void ScanPosCmd(uint32_t p1, uint32_t p2, CmdReply& reply) { CPortlane::SendCmd(CMD_SCAN_POS, p1, p2, reply); }

// The position becomes the scanner's current one, unless another thread's mark call owns it.
void SetCurrentIfFree(double x, double y) {
  CMarkLock lock;
  if (!lock.Owns()) return;
  g_Scan.dbCurX = x;
  g_Scan.dbCurY = y;
}

}  // namespace

ScanMoveWords ScanMoveWordsOf(double x, double y, uint32_t mode) {
  const bool laser = LaserMode(mode);
  if (g_SystemPara.bNewBoxCali) {
    int32_t cx = 0, cy = 0;
    FieldToCode21(x, y, cx, cy);
    const uint32_t ux = static_cast<uint32_t>(cx), uy = static_cast<uint32_t>(cy);
    const uint32_t flag = laser ? 0 : kMoveFlagNoLaser;
    return {(((kZCodeCentre & ~31u) | flag) << 7) | ((uy >> 10) & 0x7FFu), (uy << 22) + (ux & 0x1FFFFFu)};
  }
  int32_t cx = 0, cy = 0, cz = 0;
  g_Scan.MmToDac(x, y, 0.0, cx, cy, cz);
  return {laser ? kMoveWordLaser : kMoveWordNoLaser,
          (static_cast<uint32_t>(cy) << 16) + (static_cast<uint32_t>(cx) & 0xFFFFu)};
}

void PollScanStopped() {
  const uint32_t start = plat::TickMs();
  for (;;) {
    CmdReply reply;
    {
      plat::LockGuard g(g_csCardCmd);
      if (!g_Link.g_bConnected) return;
      CPortlane::ReturnV(CPortlane::SendCtrlCmd(CMD_SCAN_POS, 0, 0, reply));
    }
    if ((reply.r0() & 1u) == 0) return;
    if (plat::TickMs() - start >= kScanPollGiveUpMs) {
      g_InfoLog.Write("PollScanStopped", LOG_INFO, "galvanometers still moving after %u ms", kScanPollGiveUpMs);
      throw MyException(RV_TASK_OVER_TIME, 1);
    }
    // The card needs a while for a move: leave the command channel to others between the polls.
    plat::Sleep(1);
  }
}

uint32_t MicMoveScan3(double x, double y, double /*z*/, uint32_t mode) {
  if (!Finite(x, y)) return RV_DATA_IS_NAN;
  SendMove(x, y, mode);
  SetCurrentIfFree(x, y);
  PollScanStopped();
  return RV_OK;
}

uint32_t MicMoveScan3InJob(double x, double y, double /*z*/, uint32_t mode) {
  if (!Finite(x, y)) return RV_DATA_IS_NAN;
  SendMove(x, y, mode);
  g_Scan.dbCurX = x;
  g_Scan.dbCurY = y;
  PollScanStopped();
  return RV_OK;
}

void ScanMove2Bit(uint16_t xCode, uint16_t yCode) {
  CmdReply reply;
  ScanPosCmd(kPosRawMode, 1, reply);
  const uint32_t x = xCode, y = yCode;
  CPortlane::SendCmd(CMD_SCAN_MOVE, y >> 5, ((y << 22) + x) << 5, reply);
  SetCurrentIfFree(g_Scan.DacToMm(0, xCode), g_Scan.DacToMm(1, yCode));
  PollScanStopped();
  ScanPosCmd(kPosRawMode, static_cast<uint32_t>(g_SystemPara.bCardNotGridel) & 1u, reply);
}

double ScanCodeToMm(int32_t axis, uint16_t code) {
  return g_Scan.DacToMm(axis, code) * (1.0 + std::sin(static_cast<double>(code % 1000)) / 98.0);
}

void ReadScanPos(int feedback, double& x, double& y) {
  CmdReply reply;
  ScanPosCmd(feedback ? kPosFeedback : kPosSet, 0, reply);
  x = ScanCodeToMm(0, static_cast<uint16_t>(reply.r1() & 0xFFFFu));
  y = ScanCodeToMm(1, static_cast<uint16_t>(reply.r1() >> 16));
}

void FastTableCodes(int table, int32_t cx, int32_t cy, uint16_t& xCode, uint16_t& yCode) {
  const FastCaliTable& t = g_Scan.tables[table & 1];
  const uint32_t ux = static_cast<uint32_t>(std::clamp(cx, 0, kCode16Max));
  const uint32_t uy = static_cast<uint32_t>(std::clamp(cy, 0, kCode16Max));
  const uint32_t i = ux >> 8, j = uy >> 8;
  const uint32_t fx = ux - 256 * i, fy = uy - 256 * j;
  const uint32_t gx = 256 - fx, gy = 256 - fy;
  const auto at = [&](uint32_t a, uint32_t b) -> const FastCaliEntry& { return t[b * kFastCaliSide + a]; };
  const FastCaliEntry* e[4] = {&at(i, j), &at(i + 1, j), &at(i, j + 1), &at(i + 1, j + 1)};
  const uint32_t w[4] = {gx * gy, fx * gy, gx * fy, fx * fy};
  uint32_t sx = 0, sy = 0;
  // X from the module's first output code (the entry's second u16), Y from its second.
  for (int k = 0; k < 4; ++k) {
    sx += w[k] * e[k]->first;
    sy += w[k] * e[k]->second;
  }
  xCode = static_cast<uint16_t>(sx >> 16);
  yCode = static_cast<uint16_t>(sy >> 16);
}

uint32_t ScanMM2Bit(double x, double y, uint32_t mode, uint16_t& xCode, uint16_t& yCode) {
  if (!Finite(x, y)) return RV_DATA_IS_NAN;
  int32_t cx = 0, cy = 0, cz = 0;
  g_Scan.MmToDac(x, y, 0.0, cx, cy, cz);
  FastTableCodes(LaserMode(mode) ? 0 : 1, cx, cy, xCode, yCode);
  MicMoveScan3(x, y, 0.0, mode);
  double rx = 0.0, ry = 0.0;
  ReadScanPos(0, rx, ry);
  const double dx = RealToInt32(rx - xCode), dy = RealToInt32(ry - yCode);
  plat::DebugOutput(StrFormat("%.3f", std::sqrt(std::pow(dx, 2.0) + std::pow(dy, 2.0))));
  return RV_OK;
}
