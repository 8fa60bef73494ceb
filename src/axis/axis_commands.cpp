#include "axis/axis_commands.h"

#include "axis/axis_codes.h"
#include "cardlink/card_wire.h"
#include "frame/card_version.h"

namespace {

using Codes = AxisValueCodes;

uint32_t Masked(uint32_t code) { return code & kAxisCodeMask; }

double PulsesOf(uint32_t index) { return NxaGetAxis(index).dbPulsePerUnit; }

// The velocity pair of 0x122 and 0x130: the code of v / 10 beside the axis field, the code of v.
void SendVelocityPair(uint16_t cmd, uint32_t index, double vel) {
  const double p = PulsesOf(index);
  SendAxisCmd(cmd, Codes::Field(index) | Masked(Codes::Velocity(vel / 10, p)), Masked(Codes::Velocity(vel, p)));
}

void SendAccelPair(uint16_t cmd, uint32_t index, double acc) {
  const uint32_t a = Masked(Codes::Accel(acc, PulsesOf(index)));
  SendAxisCmd(cmd, Codes::Field(index) | a, a);
}

}  // namespace

CmdReply SendAxisCmd(uint16_t cmd, uint32_t p1, uint32_t p2) {
  CmdReply reply;
  CPortlane::SendCmd(static_cast<uint16_t>(g_CmdNumTable.Of(cmd)), p1, p2, reply);
  return reply;
}

void NxaSetAxisSoftHome(uint32_t index, double position) {
  const double d = NxaShiftSoftHome(index, position);
  SendAxisCmd(CMD_AXIS_SOFT_HOME, Codes::Field(index), Masked(Codes::Position(d, PulsesOf(index))));
}

void NxaSetAxisGearRatio(uint32_t index, int32_t g1, int32_t g2, int32_t g3, int32_t g4) {
  auto gear = [](int32_t g) { return static_cast<uint32_t>(g) & 0xFFFu; };
  SendAxisCmd(CMD_AXIS_GEAR, Codes::Field(index) | gear(g2) << 12 | gear(g1), gear(g4) << 12 | gear(g3));
}

void NxaSetAxisStopAcc(uint32_t index, double acc) {
  SendAxisCmd(CMD_AXIS_STOP_ACC, Codes::Field(index) | Masked(Codes::Accel(acc, PulsesOf(index))), 0);
}

void NxaSetHomeHighVel(uint32_t index, double vel) { SendVelocityPair(CMD_AXIS_HOME_HIGH_VEL, index, vel); }

void NxaSetHomeLowVelAccDist(uint32_t index, double vel, double acc, double dist) {
  SendAccelPair(CMD_AXIS_HOME_LOW_ACC, index, acc);
  const double p = PulsesOf(index);
  SendAxisCmd(CMD_AXIS_HOME_LOW_VEL_DIST, Codes::Field(index) | Masked(Codes::Velocity(vel, p)),
              Masked(Codes::Position(dist, p)));
}

void NxaSetAxisExtraPair(uint32_t index, double vel, double acc) {
  SendVelocityPair(CMD_AXIS_EXTRA_VEL, index, vel);
  SendAccelPair(CMD_AXIS_EXTRA_ACC, index, acc);
}

uint32_t HomeOrderList(const int16_t orders[kNxaAxisMax]) {
  uint32_t list = 0xFFFF;
  uint32_t group = 0;
  for (int16_t k = 0; k < 4; ++k) {
    for (uint32_t axis = 0; axis < kNxaAxisMax; ++axis) {
      if (orders[axis] != k) continue;
      const uint32_t shift = 4 * group++;
      list = (list & ~(0xFu << shift)) | axis << shift;
    }
  }
  return list;
}

void NxaSetHomeMode(const int32_t modes[kNxaAxisMax], const int16_t orders[kNxaAxisMax]) {
  uint32_t packed = 0;
  for (uint32_t k = 0; k < kNxaAxisMax; ++k) packed |= (static_cast<uint32_t>(modes[k]) & 15u) << (4 * k);
  SendAxisCmd(CMD_AXIS_HOME_MODE, packed, HomeOrderList(orders));
}
