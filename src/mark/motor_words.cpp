#include "mark/motor_words.h"

#include <algorithm>
#include <cmath>

#include "axis/axis_codes.h"
#include "axis/axis_motion.h"
#include "axis/axis_records.h"
#include "frame/errors.h"
#include "frame/log_file.h"
#include "markbase/mark_floor.h"

const char* const kPlatformWaitName = "等待平台到位";

namespace {

using Codes = AxisValueCodes;
namespace W = MotorStreamWords;

// The eight parameter words of axis k with their latches.
template <class Put>
void PutAxisWords(uint32_t k, double p, double v, double a, double x, Put&& put) {
  const uint32_t velocity = NxaVelocityCode(v, p);
  put(W::Velocity(k, velocity));
  put(SW_MOTOR_PARA_FOLLOW);
  put(W::StartSpeed(k, Codes::Start(velocity)));
  put(SW_MOTOR_PARA_FOLLOW);
  put(W::Accel(k, NxaAccelCode(a, p)));
  put(SW_MOTOR_PARA_FOLLOW);
  put(W::Target(k, Codes::Position(x, p)));
  put(SW_MOTOR_PARA_FOLLOW);
}

void PlatformWait(WordList& list, uint64_t& cursor) {
  cursor += 10;
  list.push_back({cursor, SW_MOTOR_ARRIVE_WAIT});
  cursor += 10;
  MakeSeqNamedReg(list, kWaitNoTimeout, cursor, kMotorWaitTimeoutMs, kPlatformWaitName);
  cursor = list.back().time;
}

}  // namespace

void MarkMotorStart(const int32_t enable[3], const double position[4], const double velocity[4],
                    const double accel[4]) {
  g_InfoLog.Write("MarkMotorStart", LOG_INFO, "%s", "");
  const uint32_t count = std::min<uint32_t>(NxaAxisCount(), 3);
  for (uint32_t k = 0; k < count; ++k) {
    if (enable[k] != 0 && std::isnan(position[k])) ThrowMarkError(RV_DATA_IS_NAN);
  }
  AppendStreamWord(10, 10, SW_MOTOR_ARRIVE_WAIT);
  EmitNamedReg(kWaitNoTimeout, kMotorWaitTimeoutMs, kPlatformWaitName);
  uint32_t start = SW_MOTOR_START;
  for (uint32_t k = 0; k < 3; ++k) {
    if (enable[k] == 0) continue;
    start |= 1u << k;
    if (k >= count) continue;
    const NxaAxisRecord rec = NxaGetAxis(k);
    // +inf becomes the maximum like any other velocity above it; NaN stays NaN and is refused.
    PutAxisWords(k, rec.dbPulsePerUnit, std::min(velocity[k], rec.dbMaxVel), accel[k], position[k],
                 [](uint32_t w) { AppendStreamWord(1, 0, w); });
  }
  AppendStreamWord(1, 0, start);
  AppendStreamWord(1, 0, SW_MOTOR_START_FOLLOW);
}

void MotorMoveInStream(WordList& list, uint64_t& cursor, bool move, bool waitAfter, double velocity, double accel,
                       double position, double pulses) {
  if (move) {
    if (std::isnan(position)) throw MyException(RV_DATA_IS_NAN, 1);
    PlatformWait(list, cursor);
    auto put = [&](uint32_t w) { list.push_back({++cursor, w}); };
    PutAxisWords(0, pulses, velocity, accel, position, put);
    put(SW_MOTOR_START | 1u);
    put(SW_MOTOR_START_FOLLOW);
  }
  if (waitAfter) PlatformWait(list, cursor);
}
