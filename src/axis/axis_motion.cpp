#include "axis/axis_motion.h"

#include <algorithm>
#include <cmath>

#include "axis/axis_codes.h"
#include "axis/axis_commands.h"
#include "cardlink/card_wire.h"
#include "cardlink/portlane.h"
#include "frame/errors.h"
#include "markbase/job_state.h"
#include "platform/clock.h"

namespace {

using Codes = AxisValueCodes;

uint32_t Checked(uint32_t code, double value) {
  if (!std::isfinite(value) || value < 0 || !Codes::Fits(code)) ThrowMarkError(RV_EXT_PARA_OVERFLOW);
  return code;
}

}  // namespace

bool NxaAxisExists(int32_t axis) { return axis >= 1 && static_cast<uint32_t>(axis) <= NxaAxisCount(); }

uint32_t RefuseAxisNumber(const char* tag) {
  ReportFailure(tag, GetErrText(RV_EXT_AXIS_NUMBER_OVER));
  return RV_EXT_AXIS_NUMBER_OVER;
}

uint32_t NxaVelocityCode(double v, double p) { return Checked(Codes::Velocity(v, p), v); }

uint32_t NxaAccelCode(double a, double p) { return Checked(Codes::Accel(a, p), a); }

uint32_t AxisMove(int16_t axis, int32_t mode, double position, int32_t direction, double acc, double vel) {
  if (!NxaAxisExists(axis)) return RefuseAxisNumber("AxisMove");
  if (mode == kAxisMoveTo && std::isnan(position)) return RV_DATA_IS_NAN;
  const uint32_t index = static_cast<uint32_t>(axis - 1);
  const NxaAxisRecord rec = NxaGetAxis(index);
  const double p = rec.dbPulsePerUnit;
  // +inf becomes the maximum like any other velocity above it; NaN stays NaN and is refused.
  const double v = std::min(vel, rec.dbMaxVel);
  const uint32_t velocity = NxaVelocityCode(v, p);
  const uint32_t field = Codes::Field(index);
  SendAxisCmd(CMD_AXIS_VELOCITY, field | Codes::Start(velocity), velocity);
  const uint32_t a = NxaAccelCode(acc, p);
  SendAxisCmd(CMD_AXIS_ACCEL, field | a, a);
  if (mode == kAxisMoveJog) {
    SendAxisCmd(CMD_AXIS_MOVE, field | (direction == 1 ? 0x1FFFFFEu : 0x1000001u), 2);
  } else {
    SendAxisCmd(CMD_AXIS_MOVE, field | 0x1000000u | (Codes::Position(position, p) & kAxisCodeMask), 0);
  }
  return RV_OK;
}

uint32_t NxaReadAxisStatus(uint32_t index) { return SendAxisCmd(CMD_AXIS_STATUS, Codes::Field(index), 0).r0(); }

void NxaWaitAxisDone(uint32_t index) {
  for (;;) {
    plat::Sleep(1);
    if (!g_Link.g_bConnected.load()) return;
    const uint32_t status = NxaReadAxisStatus(index);
    if ((status & (kAxisStsDone | kAxisStsMoving)) == kAxisStsDone) return;
  }
}
