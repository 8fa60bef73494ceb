#include "calibration/cali_link.h"

#include <algorithm>
#include <cmath>
#include <limits>
#include <memory>

#include "calibration/cali_modules.h"
#include "calibration/det_trig.h"
#include "calibration/scan.h"
#include "frame/bytes.h"
#include "frame/conv.h"
#include "frame/ini_cfg.h"
#include "frame/log_file.h"
#include "frame/system_para.h"

namespace {

constexpr double kPi = 3.141592653589793;

// Both tables, zero until built (left to the zero filling of static storage).
std::array<CCaliLink::Table, 2> g_CaliTables;
CCaliLink::TableAngles g_Angles;

bool ExtensionValid(uint32_t ext) { return (ext >> 24) == 0xA5u; }

// The 22-bit code of a corrected coordinate p (mm): round((R + p) / (2R) x 2^22), halves away from
// zero. Not clamped: a point turned or shifted beyond -R gives a negative code, which the table holds
// as its 32-bit two's complement (the integer taken modulo 2^32); only a value past the 64-bit range
// (or NaN, which gives 0) is held at a limit first.
uint32_t TableCode(double p, double R) {
  return static_cast<uint32_t>(RealToInt64(std::round((R + p) / (2.0 * R) * 4194304.0)));
}

void CreateTableWith(int t, bool useGrid, const CCaliLink::OffsetGrid& grid, const BoxParaBlock& b) {
  const double R = CCaliLink::HalfRange();
  const double s = R * 0.03125;
  const double sn = t == 0 ? g_Angles.sin0 : g_Angles.sin1;
  const double cs = t == 0 ? g_Angles.cos0 : g_Angles.cos1;
  const double offX = BoxGetF64(b, kBoxOffsetX), offY = BoxGetF64(b, kBoxOffsetY);
  const double scaleX = BoxGetF64(b, kBoxScaleX), scaleY = BoxGetF64(b, kBoxScaleY);
  const double t1OffX = BoxGetF64(b, kBoxT1OffsetX), t1OffY = BoxGetF64(b, kBoxT1OffsetY);
  const double t1ScaleX = BoxGetF64(b, kBoxT1ScaleX), t1ScaleY = BoxGetF64(b, kBoxT1ScaleY);
  const bool swap = BoxGetU32(b, kBoxSwapXY) != 0;
  const bool mirrorX = BoxGetU32(b, kBoxMirrorX) != 0;
  const bool mirrorY = BoxGetU32(b, kBoxMirrorY) != 0;
  const bool module = g_GridelModule.bLoaded;
  CCaliLink::Table& table = g_CaliTables[t];
  for (int j = 0; j < CCaliLink::kSide; ++j) {
    for (int i = 0; i < CCaliLink::kSide; ++i) {
      const int e = j * CCaliLink::kSide + i;
      double X = i * s - R;
      double Y = j * s - R;
      if (useGrid) {
        X += grid[2 * e];
        Y += grid[2 * e + 1];
      }
      double X1, Y1;
      if (t == 0) {
        X1 = (cs * X - sn * Y + offX) * scaleX;
        Y1 = (sn * X + cs * Y + offY) * scaleY;
      } else {
        X1 = (cs * X - sn * Y + offX + t1OffX) * scaleX * t1ScaleX;
        Y1 = (sn * X + cs * Y + offY + t1OffY) * scaleY * t1ScaleY;
      }
      if (swap) std::swap(X1, Y1);
      if (mirrorX) X1 = -X1;
      if (mirrorY) Y1 = -Y1;
      const double in[2] = {X1, Y1};
      double out[2] = {X1, Y1};  // a module call that writes nothing leaves the point uncorrected
      if (module) GridelFn<GridelCaliFn>(GRIDEL_Cali)(in, out);
      table[e].x = TableCode(out[0], R);
      table[e].y = TableCode(out[1], R);
    }
  }
}

}  // namespace

BoxParaBlock CCaliLink::PrepareModuleBlock(const BoxParaBlock& in) {
  BoxParaBlock b = in;
  const uint32_t ext = BoxGetU32(b, kBoxExtension);
  if (!ExtensionValid(ext) || !(ext & kBoxExtMirrorSets)) return b;
  double A[4][3], B[8][5];
  for (int r = 0; r < 4; ++r)
    for (int e = 0; e < 3; ++e) A[r][e] = BoxGetF64(b, kBoxSetA + 8 * (3 * r + e));
  for (int r = 0; r < 8; ++r)
    for (int e = 0; e < 5; ++e) B[r][e] = BoxGetF64(b, kBoxSetB + 8 * (5 * r + e));
  const bool mirror[2] = {BoxGetU32(b, kBoxMirrorX) != 0, BoxGetU32(b, kBoxMirrorY) != 0};
  for (int k = 0; k < 2; ++k) {
    if (!mirror[k]) continue;
    const int other = 1 - k;
    // Set A: the two rows of axis k change places; the other axis's rows run backwards.
    std::swap(A[2 * k], A[2 * k + 1]);
    for (int r = 2 * other; r < 2 * other + 2; ++r) std::reverse(A[r], A[r] + 3);
    // Set B: the four rows of axis k in reverse order; the other axis's rows run backwards.
    std::reverse(B + 4 * k, B + 4 * k + 4);
    for (int r = 4 * other; r < 4 * other + 4; ++r) std::reverse(B[r], B[r] + 5);
  }
  if (BoxGetU32(b, kBoxSwapXY) != 0) {
    for (int r = 0; r < 2; ++r) std::swap(A[r], A[r + 2]);
    for (int r = 0; r < 4; ++r) std::swap(B[r], B[r + 4]);
  }
  for (int r = 0; r < 4; ++r)
    for (int e = 0; e < 3; ++e) BoxSetF64(b, kBoxSetA + 8 * (3 * r + e), A[r][e]);
  for (int r = 0; r < 8; ++r)
    for (int e = 0; e < 5; ++e) BoxSetF64(b, kBoxSetB + 8 * (5 * r + e), B[r][e]);
  return b;
}

void CCaliLink::MirrorHeads() {
  if (!g_GridelModule.bLoaded) return;
  const BoxParaBlock b = PrepareModuleBlock(CopyBoxPara());
  GridelFn<GridelSetCaliParaFn>(GRIDEL_SetCaliPara)(1, b.data());
  double r = std::numeric_limits<double>::quiet_NaN();  // a module that writes nothing reports no range
  GridelFn<GridelGetBoxSizeFn>(GRIDEL_GetBoxSize)(&r);
  if (!SetHalfRange(r))
    LogFailure("CCaliLink::MirrorHeads",
               StrFormat("box range R=%.8f refused, R stays %.8f", r, HalfRange()));
}

void CCaliLink::CreateTableAll() {
  MirrorHeads();
  const BoxParaBlock b = CopyBoxPara();
  const double angle0 = -(BoxGetF64(b, kBoxAngle) * kPi / 180.0);
  const uint32_t ext = BoxGetU32(b, kBoxExtension);
  const double angle1 = ExtensionValid(ext) && (ext & kBoxExtTable1Angle)
                            ? -((BoxGetF64(b, kBoxAngle) + BoxGetF64(b, kBoxT1Angle)) * kPi / 180.0)
                            : angle0;
  g_Angles = TableAngles{DetSin(angle0), DetCos(angle0), DetSin(angle1), DetCos(angle1)};

  SystemPara& sp = g_SystemPara;
  sp.bHighPrecisionCali = ReadMainInt("HARDWARE", "bHighPrecisionCali", 0);
  sp.bHighPrecisionCaliR = ReadMainInt("HARDWARE", "bHighPrecisionCaliR", 0);
  g_InfoLog.Write("CCaliLink::CreateTableAll", LOG_INFO, "bHighCali=%d", static_cast<int>(sp.bHighPrecisionCali));
  g_InfoLog.Write("CCaliLink::CreateTableAll", LOG_INFO, "bHighCaliR=%d", static_cast<int>(sp.bHighPrecisionCaliR));

  auto grid = std::make_unique<OffsetGrid>();
  grid->fill(0.0);
  for (int t = 0; t < 2; ++t) {
    const int32_t flag = t == 0 ? sp.bHighPrecisionCali : sp.bHighPrecisionCaliR;
    const bool used = flag == 1 && CFastCali::ReadHighPrecisionFile(t);
    if (used) CFastCali::Downsample65(grid->data());
    CreateTableWith(t, used, *grid, b);
  }
}

void CCaliLink::CreateTable(int table, bool useGrid, const OffsetGrid& grid) {
  CreateTableWith(table ? 1 : 0, useGrid, grid, CopyBoxPara());
}

const CCaliLink::Table& CCaliLink::GetTable(int table) { return g_CaliTables[table ? 1 : 0]; }

void CCaliLink::TableImage(int table, uint8_t* out) {
  const Table& t = GetTable(table);
  for (int e = 0; e < kPoints; ++e) {
    PutU32(out + 8 * e, t[e].x);
    PutU32(out + 8 * e + 4, t[e].y);
  }
}

CCaliLink::TableAngles CCaliLink::Angles() { return g_Angles; }
