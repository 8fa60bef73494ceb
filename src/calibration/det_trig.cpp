#include "calibration/det_trig.h"

#include <cmath>
#include <cstdint>
#include <cstring>

#include "frame/conv.h"

namespace {

int32_t HighWord(double x) {
  uint64_t b;
  std::memcpy(&b, &x, sizeof b);
  return static_cast<int32_t>(b >> 32);
}

// sin on [-pi/4, pi/4] of x + y (y the tail of the reduced argument).
double KernelSin(double x, double y) {
  constexpr double S1 = -1.66666666666666324348e-01, S2 = 8.33333333332248946124e-03,
                   S3 = -1.98412698298579493134e-04, S4 = 2.75573137070700676789e-06,
                   S5 = -2.50507602534068634195e-08, S6 = 1.58969099521155010221e-10;
  const double z = x * x;
  const double w = z * z;
  const double r = S2 + z * (S3 + z * S4) + z * w * (S5 + z * S6);
  const double v = z * x;
  return x - ((z * (0.5 * y - v * r) - y) - v * S1);
}

double KernelCos(double x, double y) {
  constexpr double C1 = 4.16666666666666019037e-02, C2 = -1.38888888888741095749e-03,
                   C3 = 2.48015872894767294178e-05, C4 = -2.75573143513906633035e-07,
                   C5 = 2.08757232129817482790e-09, C6 = -1.13596475577881948265e-11;
  const double z = x * x;
  double w = z * z;
  const double r = z * (C1 + z * (C2 + z * C3)) + w * w * (C4 + z * (C5 + z * C6));
  const double hz = 0.5 * z;
  w = 1.0 - hz;
  return w + (((1.0 - w) - hz) + (z * r - x * y));
}

// x = n * pi/2 + (y0 + y1) with |y0 + y1| <= pi/4 (about); returns n.
int32_t ReducePio2(double x, double& y0, double& y1) {
  constexpr double invpio2 = 6.36619772367581382433e-01;
  constexpr double pio2_1 = 1.57079632673412561417e+00, pio2_1t = 6.07710050650619224932e-11;
  constexpr double pio2_2 = 6.07710050630396597660e-11, pio2_2t = 2.02226624879595063154e-21;
  constexpr double pio2_3 = 2.02226624871116645580e-21, pio2_3t = 8.47842766036889956997e-32;
  if (std::fabs(x) <= 7.85398163397448278999e-01) {
    y0 = x;
    y1 = 0.0;
    return 0;
  }
  const double t = std::fabs(x);
  const int32_t n = RealToInt32(t * invpio2 + 0.5);
  const double fn = n;
  double r = t - fn * pio2_1;
  double w = fn * pio2_1t;
  y0 = r - w;
  const int32_t j = (HighWord(t) >> 20) & 0x7ff;
  int32_t i = j - ((HighWord(y0) >> 20) & 0x7ff);
  if (i > 16) {  // cancellation: a second round with the next 33 bits of pi/2
    double u = r;
    w = fn * pio2_2;
    r = u - w;
    w = fn * pio2_2t - ((u - r) - w);
    y0 = r - w;
    i = j - ((HighWord(y0) >> 20) & 0x7ff);
    if (i > 49) {  // and a third
      u = r;
      w = fn * pio2_3;
      r = u - w;
      w = fn * pio2_3t - ((u - r) - w);
      y0 = r - w;
    }
  }
  y1 = (r - y0) - w;
  if (x < 0) {
    y0 = -y0;
    y1 = -y1;
    return -n;
  }
  return n;
}

double Reduced(double x, bool cosine) {
  if (!std::isfinite(x)) return std::nan("");
  if (std::fabs(x) > 1e6) x = std::fmod(x, 6.283185307179586);
  double y0, y1;
  const int32_t n = ReducePio2(x, y0, y1) + (cosine ? 1 : 0);
  switch (n & 3) {
    case 0: return KernelSin(y0, y1);
    case 1: return KernelCos(y0, y1);
    case 2: return -KernelSin(y0, y1);
    default: return -KernelCos(y0, y1);
  }
}

}  // namespace

double DetSin(double x) { return Reduced(x, false); }
double DetCos(double x) { return Reduced(x, true); }
