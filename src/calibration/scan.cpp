#include "calibration/scan.h"

#include <cmath>

#include "calibration/box_para.h"
#include "frame/conv.h"

CScan g_Scan;

namespace {

// Limits a real code to [0, max]; NaN (a field or range of zero) becomes the middle of the scale,
// where 0 mm lies in every proper field.
double ClampCode(double real, double max) {
  if (std::isnan(real)) return max * 0.5;
  if (real < 0.0) return 0.0;
  if (real > max) return max;
  return real;
}

}  // namespace

double MmToCode16Real(double p, double field) {
  if (std::isnan(p)) p = 0.0;
  return ClampCode((p + field * 0.5) * 65535.0 / field, kCode16Max);
}

int32_t Code16(double real) { return RealToInt32(real); }

double Code16ToMm(int32_t code, double field) {
  const double half = field * 0.5;
  const double mm = code / 65535.0 * field - half;
  if (mm > half) return half;
  if (mm < -half) return -half;
  return mm;
}

double MmToCode21Real(double p, double halfRange) {
  if (std::isnan(p)) p = 0.0;
  return ClampCode((p + halfRange) / (2.0 * halfRange) * 2097152.0, kCode21Max);
}

int32_t RoundCode21(double real) { return RealToInt32(std::round(real)); }

int32_t MmToCode21(double p) { return RoundCode21(MmToCode21Real(p, CCaliLink::HalfRange())); }

void CCalibrate::MmToDac(double x, double y, double z, int32_t& cx, int32_t& cy, int32_t& cz) const {
  cx = Code16(MmToCode16Real(x, FieldX()));
  cy = Code16(MmToCode16Real(y, FieldY()));
  cz = Code16(MmToCode16Real(z, FieldZ()));
}

double CCalibrate::DacToMm(int32_t axis, int32_t code) const {
  switch (axis) {
    case 0: return Code16ToMm(code, FieldX());
    case 1: return Code16ToMm(code, FieldY());
    case 2: return Code16ToMm(code, FieldZ());
    default: return 0.0;
  }
}

void CCalibrate::SetFieldSizes(double fx, double fy, double fz) {
  dbFieldX_.store(fx, std::memory_order_relaxed);
  dbFieldY_.store(fy, std::memory_order_relaxed);
  dbFieldZ_.store(fz, std::memory_order_relaxed);
}

FieldPoint CCalibrate::Transform(double x, double y) const {
  double tx = x, ty = y;
  switch (nCoordType) {
    case 1: tx = -x; ty = y; break;
    case 2: tx = x; ty = -y; break;
    case 3: tx = -x; ty = -y; break;
    case 4: tx = y; ty = x; break;
    case 5: tx = -y; ty = x; break;
    case 6: tx = y; ty = -x; break;
    case 7: tx = -y; ty = -x; break;
    default: break;
  }
  return {tx * dbRotCos + ty * dbRotSin + dbOrgX, ty * dbRotCos - tx * dbRotSin + dbOrgY};
}
