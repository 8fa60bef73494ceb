// The old box method: its settings, the 257 x 257 fast tables through the calibration module, the
// high-precision offsets and the tables' dumps and flash images.
#include <cmath>
#include <cstring>
#include <string>

#include "calibration/cali_modules.h"
#include "calibration/det_trig.h"
#include "calibration/scan.h"
#include "frame/bytes.h"
#include "frame/conv.h"
#include "frame/errors.h"
#include "frame/ini_cfg.h"
#include "frame/log_file.h"
#include "frame/system_para.h"
#include "platform/files.h"

HighPrecisionGrid g_HighPrecisionGrid;

namespace {

constexpr double kPi = 3.141592653589793;
constexpr size_t kOldImageBytes = 130 * 2048;  // 266240

int32_t ClampCode16(int32_t c) { return c < 0 ? 0 : c > kCode16Max ? kCode16Max : c; }

}  // namespace

void CFastCali::BuildTable(int t, const CCalibrate& cal) {
  t = t ? 1 : 0;
  const SystemPara& sp = g_SystemPara;
  const bool offsets = (t == 0 ? sp.bHighPrecisionCali : sp.bHighPrecisionCaliR) == 1 && ReadHighPrecisionFile(t);
  const double FX = cal.FieldX(), FY = cal.FieldY();
  const bool module = CorrixApi.bLoaded;
  FastCaliTable& table = tables[t];
  for (int j = 0; j < kFastCaliSide; ++j) {
    for (int i = 0; i < kFastCaliSide; ++i) {
      const int e = j * kFastCaliSide + i;
      double X = i * FX / 256.0 - FX / 2.0;
      double Y = j * FY / 256.0 - FY / 2.0;
      if (offsets) {
        X += g_HighPrecisionGrid[2 * e];
        Y += g_HighPrecisionGrid[2 * e + 1];
      }
      const FieldPoint p = cal.Transform(X, Y);
      int32_t first = Code16(MmToCode16Real(p.x, FX));
      int32_t second = Code16(MmToCode16Real(p.y, FY));
      if (module) CorrixFn<CorrixDo2DCaliFn>(CORRIX_Do2DCali)(cal.nCaliContext, p.x, p.y, &first, &second, cal.nTableSelect);
      table[e].second = static_cast<uint16_t>(ClampCode16(second));
      table[e].first = static_cast<uint16_t>(ClampCode16(first));
    }
  }
}

void CFastCali::CreateTables(CCalibrate& cal) {
  cal.nTableSelect = 1;
  BuildTable(1, cal);
  cal.nTableSelect = 0;
  BuildTable(0, cal);
}

void CFastCali::TableImage(int t, uint8_t* out) const {
  const FastCaliTable& table = tables[t ? 1 : 0];
  for (size_t e = 0; e < table.size(); ++e) {
    PutU16(out + 4 * e, table[e].second);
    PutU16(out + 4 * e + 2, table[e].first);
  }
}

bool CFastCali::ReadHighPrecisionFile(int t) {
  const std::string path = ResolveConfigPath(GetModuleDir(), t ? "HighPrecisionCaliR.cl" : "HighPrecisionCali.cl");
  std::string data;
  if (!plat::ReadWholeFile(path, data)) {
    ShowTopmostBox(Lang("高精度校正文件打开失败！", "High precision correction file reading failed!"));
    return false;
  }
  if (data.size() < kHighPrecisionFileBytes) {
    ShowTopmostBox(Lang("高精度校正文件读取失败！", "High precision correction file reading failed!"));
    return false;
  }
  const uint8_t* p = reinterpret_cast<const uint8_t*>(data.data());
  for (size_t k = 0; k < g_HighPrecisionGrid.size(); ++k) g_HighPrecisionGrid[k] = GetF64(p + 8 * k);
  return true;
}

void CFastCali::Downsample65(double* grid65) {
  for (int j = 0; j < 65; ++j) {
    for (int i = 0; i < 65; ++i) {
      const int from = (4 * j) * kFastCaliSide + 4 * i;
      grid65[2 * (j * 65 + i)] = g_HighPrecisionGrid[2 * from];
      grid65[2 * (j * 65 + i) + 1] = g_HighPrecisionGrid[2 * from + 1];
    }
  }
}

void CScan::WriteBoxXls(int t, uint8_t* image) const {
  t = t ? 1 : 0;
  std::string dump(kFastCaliTableBytes, '\0');
  TableImage(t, reinterpret_cast<uint8_t*>(dump.data()));
  const char* name = t ? "BoxR.xls" : "Box.xls";
  if (!plat::WriteWholeFile(GetModuleDir() + name, dump))
    g_InfoLog.Write("CScan::WriteBoxXls", LOG_WARNING, "%s cannot be written", name);
  std::memset(image, 0, kOldImageBytes);
  std::memcpy(image, dump.data(), kFastCaliTableBytes);
  image[kOldImageBytes - 1] = 0xA5;
}

uint32_t CScan::SetCalibratePara() {
  const char* tag = "CScan::SetCalibratePara";
  SystemPara& sp = g_SystemPara;
  // The key takes the card model number ([HARDWARE] CARDNO) less 0x8000, then the card number
  // ([HARDWARE] PID) less 0x8000: "KVX1000_NO0_File" with the defaults 32768 and 32768.
  const std::string key = StrFormat("KVX100%d_NO%d_File", int{sp.CardLinkCfg.CARDNO} - 0x8000,
                                    int{sp.CardLinkCfg.PID} - 0x8000);
  const std::string fileName = ReadMainString("Calibration", key.c_str(), "Default.box");
  const double orgX = ReadMainDouble("HARDWARE", "ORG_X", 0.0);
  const double orgY = ReadMainDouble("HARDWARE", "ORG_Y", 0.0);
  const double rotate = ReadMainDouble("HARDWARE", "Rotate", 0.0);
  const int32_t coordType = ReadMainInt("HARDWARE", "COORD_TYPE", 0);
  sp.bHighPrecisionCali = ReadMainInt("HARDWARE", "bHighPrecisionCali", 0);
  g_InfoLog.Write(tag, LOG_INFO, "bHighCali=%d", static_cast<int>(sp.bHighPrecisionCali));
  sp.bHighPrecisionCaliR = ReadMainInt("HARDWARE", "bHighPrecisionCaliR", 0);
  g_InfoLog.Write(tag, LOG_INFO, "bHighCaliR=%d", static_cast<int>(sp.bHighPrecisionCaliR));

  ReadBoxFile(ResolveConfigPath(GetModuleDir(), fileName));

  dbOrgX = orgX;
  dbOrgY = orgY;
  const double angle = rotate * kPi / 180.0;
  dbRotSin = DetSin(angle);
  dbRotCos = DetCos(angle);
  nCoordType = coordType;
  CreateTables();
  return 0;
}
