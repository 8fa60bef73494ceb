#include "calibration/box_para.h"

#include <atomic>
#include <cmath>
#include <cstring>
#include <string>

#include "frame/bytes.h"
#include "frame/errors.h"
#include "frame/ini_cfg.h"
#include "frame/log_file.h"
#include "platform/files.h"

BoxParaBlock g_BoxPara{};

namespace {
std::atomic<double> g_dbHalfRange{10.0};
}

uint32_t BoxGetU32(const BoxParaBlock& b, size_t off) { return GetU32(b.data() + off); }
void BoxSetU32(BoxParaBlock& b, size_t off, uint32_t v) { PutU32(b.data() + off, v); }
double BoxGetF64(const BoxParaBlock& b, size_t off) { return GetF64(b.data() + off); }
void BoxSetF64(BoxParaBlock& b, size_t off, double v) { PutF64(b.data() + off, v); }

void SetBoxParaDefaults(BoxParaBlock& b) {
  b.fill(0);
  BoxSetU32(b, 0, 3);
  BoxSetU32(b, 4, 1);
  for (size_t off : {40u, 48u, 80u, 88u, 104u, 112u}) BoxSetF64(b, off, 1.0);
  BoxSetF64(b, 96, 160.0);
  BoxSetU32(b, 168, 25000);
  for (size_t i = 0; i < 12; ++i) BoxSetF64(b, 172 + 8 * i, 60.0);
}

bool CheckBoxParaVer(const BoxParaBlock& block, int source, bool bThrow) {
  const int32_t a = static_cast<int32_t>(BoxGetU32(block, 0));
  const int32_t b = static_cast<int32_t>(BoxGetU32(block, 4));
  const char* failure = nullptr;
  // These four texts exist only in Chinese.
  if (a < 1)
    failure = source == 0 ? "上位机软件box参数版本较低，Box参数无效"
                          : "box文件版本较低，Box参数无效，请重新输入box参数保存";
  else if (b >= 4)
    failure = source == 0 ? "上位机软件box参数版本较高，Box参数无效" : "box文件版本较高，Box参数无效";
  if (!failure) {
    g_BoxPara = block;
    return true;
  }
  if (bThrow) {
    ReportFailure("CheckBoxParaVer", failure);
    throw MyException(RV_ERROR, 0);
  }
  return false;
}

void CCaliLink::ReadPara(bool bThrow, bool bReportMissing) {
  std::string data;
  if (!plat::ReadWholeFile(ResolveConfigPath(GetModuleDir(), "CaliPara.cl"), data)) {
    if (bReportMissing) ReportFailure("CCaliLink::ReadPara", GetErrText(RV_NOT_OPEN_BOX_FILE));
    return;
  }
  // A short file fills the rest of the block with zeros.
  BoxParaBlock block{};
  std::memcpy(block.data(), data.data(), data.size() < kBoxParaSize ? data.size() : kBoxParaSize);
  CheckBoxParaVer(block, 1, bThrow);
}

double CCaliLink::HalfRange() { return g_dbHalfRange.load(std::memory_order_relaxed); }

bool CCaliLink::SetHalfRange(double r) {
  if (!std::isfinite(r) || r <= 0.0) return false;
  g_dbHalfRange.store(r, std::memory_order_relaxed);
  return true;
}
