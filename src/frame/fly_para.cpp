#include "frame/fly_para.h"

#include <cmath>

#include "frame/ini_cfg.h"

FlyScanPara g_FlyScanPara{};

namespace {
constexpr double kPi = 3.14159265358979323846;
}  // namespace

FlyScanPara ReadFlyKeys(const FlyScanPara& previous) {
  FlyScanPara p = previous;
  const char* s = "FLY";
  p.nFlyType = ReadMainInt(s, "nFlyType", 0);
  p.nFlyDir = ReadMainInt(s, "nFlyDir", 0);
  p.nFlyDirAngle = ReadMainDouble(s, "nFlyDirAngle", 0.0);
  p.bEncEx = ReadMainInt(s, "bEncEx", 1);
  p.bEnEncInner = ReadMainInt(s, "bEnEncInner", 0);
  p.nEncInnerPeriodUS = ReadMainInt(s, "nEncInnerPeriodUS", 10);
  p.nEncInnerDirectNeg = ReadMainInt(s, "nEncInnerDirectNeg", 0);
  p.nEncRange = ReadMainInt(s, "nEncRange", 1000000);
  p.bEncRange = ReadMainInt(s, "bEncRange", 0);
  p.nFlyOffHome = ReadMainInt(s, "nFlyOffHome", 1);
  p.nEncOutnerDirectNeg = ReadMainInt(s, "nEncOutnerDirectNeg", 0);
  p.nEncPPM = ReadMainDouble(s, "nEncPPM", 5000.0);
  p.dbFlyRotateCentX = ReadMainDouble(s, "dbFlyRotateCentX", 10.0);
  p.dbFlyRotateCentY = ReadMainDouble(s, "dbFlyRotateCentY", 10.0);
  p.FlyAngelTrans = ReadMainDouble(s, "FlyAngelTrans", 1.0);
  p.bFlyMarkRangeEn = ReadMainInt(s, "bFlyMarkRangeEn", 0);
  p.bScanLimitErrEn = ReadMainInt("SCAN", "bScanLimitErrEn", 0) != 0 ? 1 : 0;
  p.dbScanLimitP0 = ReadMainDouble("SCAN", "dbScanLimitP0", 1000.0);
  p.dbScanLimitP1 = ReadMainDouble("SCAN", "dbScanLimitP1", 1000.0);
  p.dbScanLimitN0 = ReadMainDouble("SCAN", "dbScanLimitN0", -1000.0);
  p.dbScanLimitN1 = ReadMainDouble("SCAN", "dbScanLimitN1", -1000.0);
  p.bEncIsAdd = ReadMainInt(s, "bEncIsAdd", 1);
  p.dbMeasMarkDisMM = ReadMainDouble(s, "dbMeasMarkDisMM", 200.0);
  p.dbEncMaxSpeedMMPS = ReadMainDouble(s, "dbEncMaxSpeedMMPS", 200.0);
  p.dbMarkBeforeSafeRat = ReadMainDouble(s, "dbMarkBeforeSafeRat", 0.1);
  p.dbMarkAfterSafeRat = ReadMainDouble(s, "dbMarkAfterSafeRat", 0.9);

  const double theta = static_cast<double>(p.nFlyDir) * 90.0 / 180.0 * kPi + p.nFlyDirAngle;
  p.dbFlyDirX = std::cos(theta);
  p.dbFlyDirY = std::sin(theta);
  if (p.bFlyMarkRangeEn != 0) {
    p.nFlyMarkRangeAxis = std::fabs(p.dbFlyDirX) <= std::fabs(p.dbFlyDirY) ? 1 : 0;
    const double c = p.nFlyMarkRangeAxis == 1 ? p.dbFlyDirY : p.dbFlyDirX;
    // 1 - bEncIsAdd in unsigned arithmetic: a configured extreme wraps instead of overflowing.
    p.nFlyMarkRangeDir = c > 0.0 ? static_cast<int32_t>(1u - static_cast<uint32_t>(p.bEncIsAdd)) : p.bEncIsAdd.load();
    p.dbFlyMarkRangeScanPos = ReadMainDouble(s, "dbFlyMarkRangeScanPos", 0.0);
  }
  p.bEnInnerEncValidByIO = ReadMainInt(s, "bEnInnerEncValidByIO", 0);
  p.InnerEncValidByIO_idx = ReadMainInt(s, "InnerEncValidByIO_idx", 15);
  return p;
}
