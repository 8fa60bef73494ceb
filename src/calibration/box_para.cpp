#include "calibration/box_para.h"

#include <atomic>
#include <cmath>
#include <cstring>
#include <string>

#include "calibration/cali_link.h"
#include "cardlink/card_locks.h"
#include "frame/bytes.h"
#include "frame/errors.h"
#include "frame/ini_cfg.h"
#include "frame/log_file.h"
#include "frame/system_para.h"
#include "platform/files.h"
#include "platform/lock.h"

namespace {

// Guards the library's block only; taken alone, for the copy in or out (nothing is called under it).
plat::Lock g_csBoxPara ACQUIRED_AFTER(g_csCardBuf);
BoxParaBlock g_BoxPara GUARDED_BY(g_csBoxPara){};

std::atomic<double> g_dbHalfRange{10.0};

std::string CaliParaPath() { return ResolveConfigPath(GetModuleDir(), "CaliPara.cl"); }

}  // namespace

uint32_t BoxGetU32(const BoxParaBlock& b, size_t off) { return GetU32(b.data() + off); }
void BoxSetU32(BoxParaBlock& b, size_t off, uint32_t v) { PutU32(b.data() + off, v); }
double BoxGetF64(const BoxParaBlock& b, size_t off) { return GetF64(b.data() + off); }
void BoxSetF64(BoxParaBlock& b, size_t off, double v) { PutF64(b.data() + off, v); }

void SetBoxParaDefaults(BoxParaBlock& b) {
  b.fill(0);
  BoxSetU32(b, kBoxVersionA, 3);
  BoxSetU32(b, kBoxVersionB, 1);
  for (size_t off : {kBoxT1ScaleX, kBoxT1ScaleY, kBoxScaleX, kBoxScaleY, size_t{104}, size_t{112}}) BoxSetF64(b, off, 1.0);
  BoxSetF64(b, 96, 160.0);
  BoxSetU32(b, kBoxDacRange, 25000);
  for (size_t i = 0; i < 12; ++i) BoxSetF64(b, kBoxSetA + 8 * i, 60.0);
}

BoxParaBlock CopyBoxPara() {
  plat::LockGuard g(g_csBoxPara);
  return g_BoxPara;
}

void StoreBoxPara(const BoxParaBlock& b) {
  plat::LockGuard g(g_csBoxPara);
  g_BoxPara = b;
}

bool CheckBoxParaVer(const BoxParaBlock& block, int source, bool bThrow) {
  const int32_t a = static_cast<int32_t>(BoxGetU32(block, kBoxVersionA));
  const int32_t b = static_cast<int32_t>(BoxGetU32(block, kBoxVersionB));
  const char* failure = nullptr;
  // These four texts exist only in Chinese.
  if (a < 1)
    failure = source == 0 ? "上位机软件box参数版本较低，Box参数无效"
                          : "box文件版本较低，Box参数无效，请重新输入box参数保存";
  else if (b >= 4)
    failure = source == 0 ? "上位机软件box参数版本较高，Box参数无效" : "box文件版本较高，Box参数无效";
  if (!failure) {
    StoreBoxPara(block);
    return true;
  }
  if (bThrow) {
    ReportFailure("CheckBoxParaVer", failure);
    throw MyException(RV_ERROR, 0);
  }
  return false;
}

bool BoxParaFromFile(const std::string& data, BoxParaBlock& out) {
  if (data.size() < kBoxParaSize) return false;
  std::memcpy(out.data(), data.data(), kBoxParaSize);
  return true;
}

void CCaliLink::ReadPara(bool bThrow, bool bReportMissing) {
  std::string data;
  BoxParaBlock block{};
  if (!plat::ReadWholeFile(CaliParaPath(), data) || !BoxParaFromFile(data, block)) {
    if (bReportMissing) ReportFailure("CCaliLink::ReadPara", GetErrText(RV_NOT_OPEN_BOX_FILE));
  } else {
    CheckBoxParaVer(block, 1, bThrow);
  }
  // The module's half range follows the block in force on the new box method.
  if (g_SystemPara.bNewBoxCali == 1) MirrorHeads();
}

bool CCaliLink::WritePara() {
  const BoxParaBlock block = CopyBoxPara();
  if (plat::WriteWholeFile(CaliParaPath(), std::string(block.begin(), block.end()))) return true;
  ReportFailure("CCaliLink::WritePara", GetErrText(RV_NOT_OPEN_BOX_FILE));
  return false;
}

double CCaliLink::HalfRange() { return g_dbHalfRange.load(std::memory_order_relaxed); }

bool CCaliLink::SetHalfRange(double r) {
  if (!std::isfinite(r) || r <= 0.0) return false;
  g_dbHalfRange.store(r, std::memory_order_relaxed);
  return true;
}
