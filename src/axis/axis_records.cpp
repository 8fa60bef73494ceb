#include "axis/axis_records.h"

#include <cmath>
#include <numbers>

#include "axis/axis_codes.h"
#include "axis/axis_commands.h"
#include "cardlink/card_wire.h"
#include "frame/conv.h"
#include "frame/errors.h"
#include "frame/ini_cfg.h"
#include "frame/log_file.h"
#include "frame/system_para.h"
#include "platform/ini_profile.h"
#include "platform/module.h"

plat::Lock g_csAxis;

namespace {

NxaAxisRecord g_NxaAxis[kNxaAxisMax] GUARDED_BY(g_csAxis);

constexpr const char* kTag = "UpdateMotorPara";

enum class Rule { Finite, Positive };

// A refused value: reported with the file, the key and the text read; the caller's export returns
// code 29.
[[noreturn]] void Refuse(const AxisParaIni& file, const std::string& section, const std::string& key,
                         const std::string& text, Rule rule) {
  const char* need = rule == Rule::Positive ? Lang("大于0的有限数", "a finite number above 0")
                                            : Lang("有限数", "a finite number");
  ReportFailure(kTag, StrFormat(Lang("轴参数文件 %s：[%s] %s = \"%s\" 无效，必须是%s",
                                     "Axis file %s: [%s] %s = \"%s\" is refused: it must be %s"),
                                file.path.c_str(), section.c_str(), key.c_str(), text.c_str(), need));
  throw MyException(RV_EXT_PARA_OVERFLOW, 0);
}

// Keys of the axis file, read like CIniCfg reads them (default formatted with "%d" or "%.8f",
// converted like the C runtime) from the file's own path.
class AxisIni {
 public:
  explicit AxisIni(const AxisParaIni& f) : file_(f) {}

  int32_t Int(const std::string& section, const char* key, int32_t def) const {
    return CrtAtoi(plat::IniReadString(file_.path, section, key, StrFormat("%d", def)));
  }
  // An integer key that must be above 0.
  int32_t PositiveInt(const std::string& section, const char* key, int32_t def) const {
    const std::string text = plat::IniReadString(file_.path, section, key, StrFormat("%d", def));
    const int32_t v = CrtAtoi(text);
    if (v <= 0) Refuse(file_, section, key, text, Rule::Positive);
    return v;
  }
  double Real(const std::string& section, const char* key, double def, Rule rule) const {
    const std::string text = plat::IniReadString(file_.path, section, key, StrFormat("%.8f", def));
    const double v = CrtAtof(text);
    if (!std::isfinite(v) || (rule == Rule::Positive && !(v > 0))) Refuse(file_, section, key, text, rule);
    return v;
  }
  // A value derived from several keys (their product can still overflow or underflow).
  void CheckDerived(const std::string& section, const char* what, double v) const {
    if (!std::isfinite(v) || !(v > 0)) Refuse(file_, section, what, StrFormat("%g", v), Rule::Positive);
  }

 private:
  const AxisParaIni& file_;
};

// trunc(min(max(v, 1), 16777214)), NaN giving 1.
uint32_t ClampedCode(double v) {
  if (!(v >= 1.0)) v = 1.0;
  if (v > kAxisPositionMax) v = kAxisPositionMax;
  return RealToUInt32(v);
}

struct LimitEnables {
  bool p = false, n = false, h = false;
};

// Parameter 1 of the limit and sense command.
uint32_t LimitWord(const NxaAxisRecord (&r)[kNxaAxisMax], const LimitEnables (&lim)[kNxaAxisMax]) {
  uint32_t w = 0;
  for (uint32_t k = 0; k < kNxaAxisMax; ++k) {
    if (r[k].nFlag1 == 0) w |= 1u << k;
    if (r[k].nEncSense != 0) w |= 1u << (4 + k);
    if (r[k].nFlag2 != 0) w |= 1u << (8 + k);
  }
  for (uint32_t i = 0; i < 3; ++i) {
    if (r[i].nSense2 != 0) w |= 1u << (12 + 3 * i);
    if (r[i].nSense1 != 0) w |= 1u << (13 + 3 * i);
    if (r[i].nSense3 != 0) w |= 1u << (14 + 3 * i);
  }
  // P0 N0 H0 at bits 24-26, P1 N1 H1 at 27-29, P2 N2 at 30-31 and H2 at 23.
  const uint32_t bitP[3] = {24, 27, 30}, bitN[3] = {25, 28, 31}, bitH[3] = {26, 29, 23};
  for (uint32_t i = 0; i < 3; ++i) {
    if (lim[i].p) w |= 1u << bitP[i];
    if (lim[i].n) w |= 1u << bitN[i];
    if (lim[i].h) w |= 1u << bitH[i];
  }
  return w;
}

}  // namespace

uint32_t NxaAxisCount() {
  const uint32_t n = g_SystemPara.CardLinkCfg.nAxisCount;
  return n < kNxaAxisMax ? n : kNxaAxisMax;
}

NxaAxisRecord NxaGetAxis(uint32_t index) {
  if (index >= kNxaAxisMax) return NxaAxisRecord{};
  plat::LockGuard g(g_csAxis);
  return g_NxaAxis[index];
}

void NxaStoreAxis(uint32_t index, const NxaAxisRecord& rec) {
  if (index >= kNxaAxisMax) return;
  plat::LockGuard g(g_csAxis);
  g_NxaAxis[index] = rec;
}

double NxaShiftSoftHome(uint32_t index, double position) {
  if (index >= kNxaAxisMax) return 0;
  plat::LockGuard g(g_csAxis);
  const double d = position - g_NxaAxis[index].dbSoftHome;
  g_NxaAxis[index].dbSoftHome = d;
  return d;
}

uint32_t MapHomeMode(int32_t key, bool bNewStyle) {
  uint32_t mode = 15;
  switch (key) {
    case 0: mode = 0; break;
    case 1: mode = 1; break;
    case 2: mode = 6; break;
    case 3: mode = 7; break;
    default: break;
  }
  return bNewStyle ? mode ^ 1u : mode;
}

AxisParaIni ChooseAxisParaIni(const std::string& moduleDir, int32_t bNewAxisFileName) {
  const char sep = plat::kPathSep;
  const std::string marker = std::string(1, sep) + "QuenloDLL";
  if (const size_t pos = moduleDir.find(marker); pos != std::string::npos) {
    const size_t after = pos + marker.size();
    const char c = after < moduleDir.size() ? moduleDir[after] : '0';
    const char card = static_cast<char>(static_cast<unsigned char>(c) + 1);
    return {moduleDir.substr(0, pos + 1) + "ini" + sep + "MoveCardPara" + sep + "Card" + card + "AxisPara.ini", true};
  }
  if (bNewAxisFileName == 1) return {moduleDir + "ini" + sep + "Card1AxisPara.ini", true};
  return {moduleDir + "ini" + sep + "DeviceNXA.ini", false};
}

NxaAxisRecord ReadAxisRecord(const AxisParaIni& file, uint32_t index, int32_t& lmtEnable) {
  const AxisIni ini(file);
  const bool nw = file.bNewStyle;
  const std::string axis = StrFormat("AXIS%u", index + 1);
  const std::string common = nw ? "SYSTEM" : "COMMON";
  NxaAxisRecord r;
  r.bRotary = ini.Int(axis, nw ? "AxisMode" : "MODE", 0) != 0 ? 1 : 0;
  const double pulses = ini.Real(axis, "PULSEPRESCREW", 1000, Rule::Positive);
  const double reduce = ini.Real(axis, "REDUCE", 1, Rule::Positive);
  if (r.bRotary) {
    const double radio = ini.Real(axis, "RADIO", 10, Rule::Positive);
    r.dbPulsePerUnit = pulses * reduce / 360;
    r.dbRotaryScale = 360 / (radio * 2 * std::numbers::pi);
    ini.CheckDerived(axis, "360 / (RADIO x 2 pi)", r.dbRotaryScale);
    ini.CheckDerived(axis, "PULSEPRESCREW x REDUCE / 360", r.dbPulsePerUnit);
  } else {
    const double screw = ini.Real(axis, "SCREW", 10, Rule::Positive);
    r.dbPulsePerUnit = pulses * reduce / screw;
    ini.CheckDerived(axis, "PULSEPRESCREW x REDUCE / SCREW", r.dbPulsePerUnit);
  }
  r.nHomeMode = MapHomeMode(ini.Int(axis, "HOMEMODE", 0), nw);
  r.nHomeOrder = 15;
  r.dbDistConst = 0.5;
  r.dbHomeLowVel = ini.Real(axis, "HOMELVEL", 5, Rule::Positive);
  r.dbHomeLowAcc = ini.Real(axis, "HOMELACC", 200, Rule::Positive);
  r.dbHomeDist = ini.Real(axis, "HOMEDIS", 10, Rule::Finite);
  r.dbHomeHighVel = ini.Real(axis, "HOMEHVEL", 50, Rule::Positive);
  r.dbHomeHighAcc = ini.Real(axis, "HOMEHACC", 200, Rule::Positive);
  const uint16_t gears[4] = {1, 2, 4, 8};
  for (int k = 0; k < 4; ++k) r.nGear[k] = gears[k];
  r.dbStopAcc = nw ? ini.PositiveInt(axis, "PtoPMoveHAcc", 1000) : ini.PositiveInt("COMMON", "STPACC", 1000);
  const uint32_t sense = static_cast<uint32_t>(ini.Int(axis, "LMTSNSUP", 0));
  r.nSense1 = r.nSense2 = r.nSense3 = sense;
  r.dbExtraAcc = 50.0;
  r.dbExtraVel = 10.0;
  lmtEnable = ini.Int(axis, "LmtEnable", 1);
  r.nEncSense = static_cast<uint32_t>(ini.Int(axis, nw ? "ENSSns" : "ENCSNS", 0));
  r.dbMaxVel = ini.Real(common, "MAXVEL", 300, Rule::Positive);
  r.dbMaxAcc = ini.Real(common, "MAXACC", 500, Rule::Positive);
  return r;
}

void UpdateMotorPara() {
  const AxisParaIni file = ChooseAxisParaIni(GetModuleDir(), g_SystemPara.bNewAxisFileName);
  const uint32_t count = NxaAxisCount();
  g_InfoLog.Write(kTag, LOG_TRACE, "%s, %u axes", file.path.c_str(), count);

  // Every axis is read and checked before a record changes or a command goes out.
  NxaAxisRecord read[kNxaAxisMax];
  int32_t lmtEnable[kNxaAxisMax] = {};
  for (uint32_t i = 0; i < count; ++i) read[i] = ReadAxisRecord(file, i, lmtEnable[i]);

  for (uint32_t i = count; i < kNxaAxisMax; ++i) NxaStoreAxis(i, NxaAxisRecord{});
  for (uint32_t i = 0; i < count; ++i) {
    const NxaAxisRecord& r = read[i];
    NxaStoreAxis(i, r);
    NxaSetAxisSoftHome(i, r.dbSoftHome);
    NxaSetAxisGearRatio(i, r.nGear[0], r.nGear[1], r.nGear[2], r.nGear[3]);
    NxaSetAxisStopAcc(i, r.dbStopAcc);
    NxaSetHomeHighVel(i, r.dbHomeHighVel);
    NxaSetHomeLowVelAccDist(i, r.dbHomeLowVel, r.dbHomeLowAcc, r.dbHomeDist);
    NxaSetAxisExtraPair(i, r.dbExtraVel, r.dbExtraAcc);
  }

  NxaAxisRecord rec[kNxaAxisMax];
  for (uint32_t k = 0; k < kNxaAxisMax; ++k) rec[k] = NxaGetAxis(k);
  int32_t modes[kNxaAxisMax];
  int16_t orders[kNxaAxisMax];
  for (uint32_t k = 0; k < kNxaAxisMax; ++k) {
    modes[k] = static_cast<int32_t>(rec[k].nHomeMode);
    orders[k] = rec[k].nHomeOrderEnable ? static_cast<int16_t>(rec[k].nHomeOrder) : int16_t{15};
  }
  NxaSetHomeMode(modes, orders);

  LimitEnables lim[kNxaAxisMax];
  for (uint32_t i = 0; i < count; ++i) {
    if (!lmtEnable[i]) continue;
    lim[i].p = ReadMainInt("MOTOR", StrFormat("bEnLimitP%u", i).c_str(), 0) != 0;
    lim[i].n = ReadMainInt("MOTOR", StrFormat("bEnLimitN%u", i).c_str(), 0) != 0;
    lim[i].h = ReadMainInt("MOTOR", StrFormat("bEnLimitH%u", i).c_str(), 0) != 0;
    if (lim[i].p && lim[i].h) ReportFailure(kTag, "轴正限位与零点限位不能同时使能！");
  }
  const uint32_t dist = ClampedCode(rec[0].dbPulsePerUnit * rec[0].dbDistConst + 0.5) & kAxisCodeMask;
  SendAxisCmd(CMD_AXIS_LIMITS, LimitWord(rec, lim), dist);

  uint32_t flags = 0;
  for (uint32_t k = 0; k < kNxaAxisMax; ++k) {
    if (rec[k].nFlag3 != 0) flags |= 1u << k;
    if (rec[k].nFlag4 != 0) flags |= 1u << (4 + k);
  }
  SendAxisCmd(CMD_AXIS_FLAGS, flags, 0);
  SendAxisCmd(CMD_AXIS_COMMIT, 1, 0);
}
