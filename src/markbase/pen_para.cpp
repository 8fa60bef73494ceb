#include "markbase/pen_para.h"

#include <algorithm>
#include <cmath>
#include <utility>

#include "frame/bytes.h"
#include "frame/conv.h"
#include "frame/errors.h"

PenPara g_PenPara[kPenCount];
LaserTimingPara g_LaserTimingPara[kLaserChannels][kPenCount];
PenParaPlus g_PenParaPlus[kPenCount];

namespace {

constexpr double kPi = 3.141592653589793;
constexpr double kMinSpeed = 1e-12;      // mm/µs: a pen below it in either speed is disabled
constexpr double kMinFrequency = 1e-8;   // kHz: below it the pulse timing takes its fixed values
constexpr uint32_t kMaxPulsePeriod = 0xFFFFFF;
constexpr uint32_t kNoFrequencyTicks = 1000;

// Offsets of a MarkParaRecord.
constexpr uint32_t kRecZPos = 8;
constexpr uint32_t kRecLaserPower = 16;
constexpr uint32_t kRecFrequency = 28;
constexpr uint32_t kRecDuty = 36;
constexpr uint32_t kRecWaveNumber = 44;
constexpr uint32_t kRecPower = 48;
constexpr uint32_t kRecReal1 = 52;
constexpr uint32_t kRecReal2 = 60;
constexpr uint32_t kRecMarkSpeed = 432;
constexpr uint32_t kRecJumpSpeed = 440;
constexpr uint32_t kRecJumpDelay2 = 448;
constexpr uint32_t kRecJumpDelay1 = 452;
constexpr uint32_t kRecJumpDelay3 = 456;
constexpr uint32_t kRecSecondDelay = 460;
constexpr uint32_t kRecFirstDelay = 464;
constexpr uint32_t kRecAngle = 480;  // a 32-bit real: the line wave mode follows at 484
constexpr uint32_t kRecLineWaveMode = 484;
constexpr uint32_t kRecLineWave = 488;
constexpr uint32_t kRecDotWaveMode = 888;
constexpr uint32_t kRecDotWave = 892;
static_assert(kRecDotWave + kWaveTableSlots * kWavePointBytes <= kMarkParaRecordBytes);
static_assert(kRecLineWave + kWaveTableSlots * kWavePointBytes <= kRecDotWaveMode);

// Offsets of a PenParaPlus host record.
constexpr uint32_t kPlusWord0 = 0;
constexpr uint32_t kPlusReal0 = 4;
constexpr uint32_t kPlusFlags = 12;
constexpr uint32_t kPlusReal1 = 16;
constexpr uint32_t kPlusFrequency = 24;
constexpr uint32_t kPlusDuty = 32;
constexpr uint32_t kPlusSecondDelay = 40;
constexpr uint32_t kPlusFirstDelay = 44;
constexpr uint32_t kPlusPower = 48;
constexpr uint32_t kPlusLineWaveMode = 56;
constexpr uint32_t kPlusDotWaveMode = 60;
static_assert(kPlusDotWaveMode + 4 <= kPenParaPlusRecordBytes);
constexpr uint32_t kPlusFlagsValid = 0xA5;  // top byte of the flag word
constexpr uint32_t kPlusHasReal1 = 1u << 0;
constexpr uint32_t kPlusHasLaser2Timing = 1u << 1;

int32_t GetI32(const uint8_t* p) { return static_cast<int32_t>(GetU32(p)); }

// Code 6: `text` (by default the code's own) under the setter's name at INFO and ERROR, and a box.
uint32_t Refuse(const char* tag, const std::string& text) {
  ReportFailure(tag, text);
  return RV_LAYER_NUMBER_OVER;
}
uint32_t Refuse(const char* tag) { return Refuse(tag, GetErrText(RV_LAYER_NUMBER_OVER)); }

// A table of `count` entries at `p`: 0..limit entries, and memory to read them from.
bool CountFits(const uint8_t* p, int32_t count, int32_t limit) {
  return count >= 0 && count <= limit && (count == 0 || p != nullptr);
}

bool ValidSpeed(double v) { return std::isfinite(v) && v >= kMinSpeed; }

// `slot` .. the first slot whose x is -1.0 (excluded) or the table's end; returns where it stopped.
int CopySection(const uint8_t* table, int slot, std::vector<WavePoint>& out) {
  for (; slot < kWaveTableSlots; ++slot) {
    WavePoint w = ReadWavePoint(table + slot * kWavePointBytes);
    if (w.x == kWaveSectionEnd) break;
    out.push_back(w);
  }
  return slot;
}

int FindSlot(const uint8_t* table, int slot, double x) {
  for (; slot < kWaveTableSlots; ++slot)
    if (GetF64(table + slot * kWavePointBytes + 4) == x) return slot;
  return kWaveTableSlots;
}

std::vector<WavePoint> ReadWave(const uint8_t* p, int32_t count) {
  std::vector<WavePoint> out;
  out.reserve(static_cast<size_t>(count));
  for (int32_t i = 0; i < count; ++i) out.push_back(ReadWavePoint(p + static_cast<size_t>(i) * kWavePointBytes));
  return out;
}

}  // namespace

WavePoint ReadWavePoint(const uint8_t* p) {
  WavePoint w;
  w.unit = GetI32(p);
  w.x = GetF64(p + 4);
  w.power = GetF64(p + 12);
  return w;
}

void ConvertLaserTiming(LaserTimingPara& rec, int32_t firstDelay, int32_t secondDelay, int32_t lineWaveMode,
                        int32_t dotWaveMode, double frequency, double duty, double power) {
  rec.nFirstDelay = firstDelay;
  rec.nSecondDelay = secondDelay;
  if (std::isfinite(frequency) && frequency >= kMinFrequency) {
    const uint32_t period = std::min(RealToUInt32(std::ceil(1000.0 / frequency * 48.0)), kMaxPulsePeriod);
    // A negative or NaN duty gives 0 ticks high, a duty above 100 % the whole period.
    const uint32_t high = std::min(RealToUInt32(std::ceil(period * duty / 100.0)), period);
    rec.nPulsePeriod = period;
    rec.nPulseHigh = high;
  } else {
    rec.nPulsePeriod = kNoFrequencyTicks;
    rec.nPulseHigh = kNoFrequencyTicks;
  }
  rec.nPulseLow = rec.nPulsePeriod - rec.nPulseHigh;
  rec.dbPower = power;
  rec.nLineWaveMode = lineWaveMode;
  rec.nDotWaveMode = dotWaveMode;
}

void ParsePowerWaves(LaserTimingPara& rec, const uint8_t* lineTable, const uint8_t* dotTable) {
  rec.lineStartWave.clear();
  rec.lineEndWave.clear();
  const int start = FindSlot(lineTable, 0, kWaveStartMark);
  if (start < kWaveTableSlots) {
    const int stop = CopySection(lineTable, start + 1, rec.lineStartWave);
    const int end = FindSlot(lineTable, stop, kWaveEndMark);
    if (end < kWaveTableSlots) CopySection(lineTable, end + 1, rec.lineEndWave);
  }
  rec.dotWave.clear();
  CopySection(dotTable, 0, rec.dotWave);
}

uint32_t SetMarkPara(const uint8_t* records, int32_t count) {
  if (count < 1) return RV_OK;
  if (!CountFits(records, count, kPenCount)) return Refuse("SetMarkPara");
  // Every pen is read before any is stored, so that a memory failure leaves the tables as they were.
  struct Pen {
    PenPara pen;
    LaserTimingPara timing;
  };
  std::vector<Pen> pens(static_cast<size_t>(count));
  for (int32_t i = 0; i < count; ++i) {
    const uint8_t* r = records + static_cast<size_t>(i) * kMarkParaRecordBytes;
    PenPara& p = pens[static_cast<size_t>(i)].pen;
    p = g_PenPara[i];
    p.dbMarkSpeed = GetF64(r + kRecMarkSpeed) / 1e6;
    p.dbJumpSpeed = GetF64(r + kRecJumpSpeed) / 1e6;
    p.bEnable = ValidSpeed(p.dbMarkSpeed) && ValidSpeed(p.dbJumpSpeed) ? 1 : 0;
    p.nJumpDelay1 = GetI32(r + kRecJumpDelay1);
    p.nJumpDelay2 = GetI32(r + kRecJumpDelay2);
    p.nJumpDelay3 = GetI32(r + kRecJumpDelay3);
    p.dbReal1 = GetF64(r + kRecReal1);
    p.dbReal2 = GetF64(r + kRecReal2);
    p.nWaveNumber = GetI32(r + kRecWaveNumber);
    p.dbAngle = static_cast<double>(GetF32(r + kRecAngle)) / 180.0 * kPi;
    p.dbZPos = GetF64(r + kRecZPos);
    p.nPower = GetI32(r + kRecPower);
    LaserTimingPara& t = pens[static_cast<size_t>(i)].timing;
    ConvertLaserTiming(t, GetI32(r + kRecFirstDelay), GetI32(r + kRecSecondDelay), GetI32(r + kRecLineWaveMode),
                       GetI32(r + kRecDotWaveMode), GetF64(r + kRecFrequency), GetF64(r + kRecDuty),
                       GetF64(r + kRecLaserPower));
    ParsePowerWaves(t, r + kRecLineWave, r + kRecDotWave);
  }
  for (int32_t i = 0; i < count; ++i) {
    Pen& p = pens[static_cast<size_t>(i)];
    g_PenPara[i] = p.pen;
    g_LaserTimingPara[0][i] = std::move(p.timing);
    g_PenParaPlus[i].nWord0 = p.pen.nJumpDelay2;
    g_PenParaPlus[i].dbReal0 = 1.0;
  }
  return RV_OK;
}

uint32_t SetMarkParaPlus(const uint8_t* records, int32_t count) {
  if (count < 1) return RV_OK;
  if (!CountFits(records, count, kPenCount)) return Refuse("SetMarkParaPlus");
  for (int32_t i = 0; i < count; ++i) {
    const uint8_t* r = records + static_cast<size_t>(i) * kPenParaPlusRecordBytes;
    PenParaPlus& plus = g_PenParaPlus[i];
    plus.nWord0 = GetI32(r + kPlusWord0);
    plus.dbReal0 = GetF64(r + kPlusReal0);
    const uint32_t flags = GetU32(r + kPlusFlags);
    if ((flags >> 24) != kPlusFlagsValid) continue;
    if (flags & kPlusHasReal1) plus.dbReal1 = GetF64(r + kPlusReal1);
    if (flags & kPlusHasLaser2Timing)
      ConvertLaserTiming(g_LaserTimingPara[1][i], GetI32(r + kPlusFirstDelay), GetI32(r + kPlusSecondDelay),
                         GetI32(r + kPlusLineWaveMode), GetI32(r + kPlusDotWaveMode), GetF64(r + kPlusFrequency),
                         GetF64(r + kPlusDuty), GetF64(r + kPlusPower));
  }
  return RV_OK;
}

namespace {
bool PenFits(int32_t laser, int32_t layer) {
  return laser >= 0 && laser < kLaserChannels && layer >= 0 && layer < kPenCount;
}

// A wave the setters cannot take: a count outside 0..20 (a pen holds a host's table of 20 points)
// with a text that says so, no points for a positive count with the code's own. 0 when it fits.
uint32_t CheckWave(const char* tag, const uint8_t* p, int32_t count) {
  if (count < 0 || count > kWaveTableSlots)
    return Refuse(tag, LangText("STRING_PowerWave_Points_Over", "功率波形的点数超出0～20的范围。",
                                "The power wave's point count is outside 0 to 20."));
  return CountFits(p, count, kWaveTableSlots) ? RV_OK : Refuse(tag);
}
}  // namespace

uint32_t SetMarkParaLinePowWave(int32_t laser, int32_t layer, const uint8_t* start, int32_t nStart,
                                const uint8_t* end, int32_t nEnd) {
  const char* tag = "SetMarkParaLinePowWave";
  if (!PenFits(laser, layer)) return Refuse(tag);
  if (const uint32_t rc = CheckWave(tag, start, nStart)) return rc;
  if (const uint32_t rc = CheckWave(tag, end, nEnd)) return rc;
  std::vector<WavePoint> startWave = ReadWave(start, nStart);
  std::vector<WavePoint> endWave = ReadWave(end, nEnd);
  LaserTimingPara& rec = g_LaserTimingPara[laser][layer];
  rec.lineStartWave = std::move(startWave);
  rec.lineEndWave = std::move(endWave);
  return RV_OK;
}

uint32_t SetMarkParaDotPowWave(int32_t laser, int32_t layer, const uint8_t* wave, int32_t count) {
  const char* tag = "SetMarkParaDotPowWave";
  if (!PenFits(laser, layer)) return Refuse(tag);
  if (const uint32_t rc = CheckWave(tag, wave, count)) return rc;
  g_LaserTimingPara[laser][layer].dotWave = ReadWave(wave, count);
  return RV_OK;
}
