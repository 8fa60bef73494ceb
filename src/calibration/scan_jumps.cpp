// The scanner's own steps in a job's stream: the layer's jump parameters and the direct jumps.
#include <algorithm>
#include <cmath>

#include "calibration/galvo_stream.h"
#include "calibration/scan.h"
#include "frame/conv.h"
#include "frame/errors.h"
#include "frame/system_para.h"
#include "markbase/mark_floor.h"
#include "markbase/pen_para.h"
#include "markbase/stream_words.h"

namespace {

constexpr uint32_t kRunModeFrameSpeed = 3;  // run mode with the fixed speed [SCAN] FRAME_SPEED

int32_t JumpCode16(double p, double field) { return Code16(MmToCode16Real(p, field)); }

}  // namespace

void CScan::LoadPenJumpPara(uint32_t layer) {
  if (layer >= static_cast<uint32_t>(kPenCount)) throw MyException(RV_LAYER_NUMBER_OVER, 1);
  const PenPara& pen = g_PenPara[layer];
  const PenParaPlus& plus = g_PenParaPlus[layer];
  if (g_MarkJob.nRunMode == kRunModeFrameSpeed) {
    dbJumpSpeed = dbMarkSpeed = g_SystemPara.FRAME_SPEED / 1e6;  // mm/s to mm/µs
  } else {
    dbJumpSpeed = pen.dbJumpSpeed;
    dbMarkSpeed = pen.dbMarkSpeed;
  }
  // The pen's three delays: jump delay 2 is the full jump delay, 1 the wait after the last vector of
  // a polyline, 3 the corner delay. QZ_SetMarkPara makes the minimum jump delay equal to the full
  // one (and the long-jump length 1 mm), so a pen set by it alone jumps with one fixed delay;
  // QZ_SetMarkParaPlus gives both their own values.
  nJumpDelayMax = pen.nJumpDelay2;
  nMarkEndDelay = pen.nJumpDelay1;
  nPolygonDelay = pen.nJumpDelay3;
  nJumpDelayMin = plus.nWord0;
  nLongJumpLen = RealToInt32(plus.dbReal0);
}

void CScan::JumpTo(double x, double y) {
  // A position that is not a number (a broken rest position in the configuration) is refused
  // before anything is written; a negative base time counts as 0, so the clock never goes back.
  if (!std::isfinite(x) || !std::isfinite(y)) ThrowMarkError(RV_DATA_IS_NAN);
  const int32_t base = std::max<int32_t>(g_SystemPara.BASETIME, 0);
  uint64_t& clock = *g_FloorCursors.pClock;
  clock += static_cast<uint64_t>(base);
  uint32_t wx, wy;
  if (g_SystemPara.bNewBoxCali) {
    wx = SW_JUMP21_X | (static_cast<uint32_t>(MmToCode21(x)) & 0x1FFFFFu);
    wy = SW_JUMP21_Y | (static_cast<uint32_t>(MmToCode21(y)) & 0x1FFFFFu);
  } else {
    const bool lit = g_MarkJob.bLaserJob != 0;
    wx = (lit ? SW_JUMP_X : SW_JUMP_X_UNLIT) | (static_cast<uint32_t>(JumpCode16(x, FieldX())) & 0xFFFFu);
    wy = (lit ? SW_JUMP_Y : SW_JUMP_Y_UNLIT) | (static_cast<uint32_t>(JumpCode16(y, FieldY())) & 0xFFFFu);
  }
  g_FloorCursors.pMain->push_back({clock, wx});
  AppendStreamWord(0, base, wy);
  // The card waits (at most 1 s) until the scanner has arrived, then the layer's jump delay.
  AppendStreamWord(1, 1, SW_WAIT_TIMEOUT_1S);
  AppendStreamWord(1, 1, SW_JUMP_WAIT);
  AppendStreamNop(nJumpDelayMax > 0 ? nJumpDelayMax : 0);
  dbCurX = x;
  dbCurY = y;
}

void CScan::JumpToHome() { JumpTo(g_SystemPara.MarkEnd_X, g_SystemPara.MarkEnd_Y); }

void CScan::JumpIfMoved(double x, double y) {
  if (std::fabs(x - dbCurX) + std::fabs(y - dbCurY) == 0.0) return;
  RunOnUpperFloor([&]() REQUIRES(g_MarkCall) { StreamJumpTo({x, y}, dbJumpSpeed); });
}
