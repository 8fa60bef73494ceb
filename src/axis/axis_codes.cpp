#include "axis/axis_codes.h"

#include "frame/conv.h"

uint32_t AxisValueCodes::Position(double x, double p) {
  double v = x * p + 0.5 + kAxisPositionZero;
  if (!(v >= 1.0)) v = 1.0;
  if (v > kAxisPositionMax) v = kAxisPositionMax;
  return RealToUInt32(v);
}

uint32_t AxisValueCodes::Velocity(double v, double p) { return RealToUInt32(50.0 / (v * p / 1000000.0)); }

uint32_t AxisValueCodes::Start(uint32_t velocityCode) {
  const uint32_t s = RealToUInt32(velocityCode / 0.05);
  return s > kAxisCodeMask ? kAxisCodeMask : s;
}

uint32_t AxisValueCodes::Accel(double a, double p) {
  return RealToUInt32(a * p / 2.5e15 * 281474976710656.0);  // 2^48
}
