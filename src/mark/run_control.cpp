#include "mark/run_control.h"

#include <cmath>

#include "calibration/box_para.h"
#include "calibration/scan.h"
#include "cardlink/card_cmd.h"
#include "cardlink/card_locks.h"
#include "cardlink/portlane.h"
#include "frame/errors.h"
#include "frame/log_file.h"
#include "mark/fifo_data.h"
#include "mark/fly_encode.h"
#include "mark/mark_data2fifo.h"
#include "markbase/mark_floor.h"

namespace {

constexpr uint32_t kStatusRunning = 0x1;        // status word 0: the card runs a job
constexpr uint32_t kStatusControlBit = 1u << 9;  // status word 0: the state QZ_Control reports
constexpr uint32_t kInfoLowBits = 0xFFu;          // status word 1: bits QZ_GetMarkInfo clears
constexpr int32_t kCode21Centre = 1048576;

bool Connected() { return g_Link.g_bConnected.load() != 0; }

uint32_t ResultAtEnd() { return Connected() ? RV_OK : RV_CARD_NOT_CONNECTED; }

}  // namespace

uint32_t MarkStop() {
  g_InfoLog.Write("QZ_Mark_Stop", LOG_INFO, "QZ_Mark_Stop");
  if (!Connected()) return RV_CARD_NOT_CONNECTED;
  g_MarkJob.bStopMark = 1;
  {
    UrgentCardCmd urgent;  // QZ_MarkEnd's wait polls the card without pause: it lets the stop in
    SendCmdNoReply(CMD_SET_FLAG, 0, FLAG_STOP);
  }
  return ResultAtEnd();
}

uint32_t RunControl(uint32_t first, uint32_t second, uint32_t* state) {
  g_InfoLog.Write("QZ_Control", LOG_INFO, "%u %u", first, second);
  if (!Connected()) return RV_CARD_NOT_CONNECTED;
  if (first) SendCmdNoReply(CMD_SET_FLAG, 0, FLAG_RUN_CONTROL_100);
  if (second) SendCmdNoReply(CMD_SET_FLAG, 0, FLAG_RUN_CONTROL_80);
  if (state) {
    CmdReply reply;
    CPortlane::SendCmd(CMD_STATUS, 0, 0, reply);
    *state = (reply.r0() & kStatusControlBit) ? 1u : 0u;
  }
  return ResultAtEnd();
}

uint32_t GetMarkInfo(uint32_t* info) {
  if (!Connected()) return RV_CARD_NOT_CONNECTED;
  if (!info) return RV_ERROR;
  CmdReply reply;
  CPortlane::SendCmd(CMD_STATUS, 0, 0, reply);
  *info = (reply.r1() & ~kInfoLowBits) | (reply.r0() & kStatusRunning);
  return ResultAtEnd();
}

uint32_t GetMarkTime(uint32_t* time) {
  if (!Connected()) return RV_CARD_NOT_CONNECTED;
  if (!time) return RV_ERROR;
  *time = static_cast<uint32_t>(static_cast<uint64_t>(g_MarkJob.g_nMarkTime.load(std::memory_order_relaxed)));
  return RV_OK;
}

uint32_t GetMarkLineCnt(uint32_t* count) {
  if (!Connected()) return RV_CARD_NOT_CONNECTED;
  if (!count) return RV_ERROR;
  *count = static_cast<uint32_t>(g_Scan.nLitCount.load(std::memory_order_relaxed));
  return RV_OK;
}

void FlushAllAndStartRun() {
  g_FifoData.bFlushRequested = 1;
  if (!JobStoppedOrFailed()) {
    MergeUpperFloor(0, 0);
    g_MarkData2Fifo.Flush(1);
  }
  // With encoder fly marking the last fly position put into the stream becomes the one flushed to
  // the card.
  g_FlyEncode.MarkFlushed();
}

int32_t FieldToCode21(double p, double halfRange) {
  if (!(halfRange > 0.0) || !std::isfinite(halfRange)) return kCode21Centre;
  return RoundCode21(MmToCode21Real(p, halfRange));
}

void FieldToCode21(double x, double y, int32_t& cx, int32_t& cy) {
  const double h = CCaliLink::HalfRange();
  cx = FieldToCode21(x, h);
  cy = FieldToCode21(y, h);
}
