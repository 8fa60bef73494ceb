// The pen records of QZ_SetMarkPara (with their line and dot wave tables) and of QZ_SetMarkParaPlus as
// the pen setters read them from a host's buffer. The input's first byte picks the setter (bit 0) and
// the count: the records that the rest of the input holds (the last one filled up with zeros), or 257
// (bit 1), or 0 and below (bit 2: minus the byte's top five bits).
// Oracle: more than 256 records are refused with 6 and none at all give 0, both changing nothing;
// otherwise exactly the given pens change. A pen is enabled exactly when both its speeds are finite and
// at least 1e-12 mm/µs. A laser's pulse period lies in 1..0xFFFFFF (1000 with a high time of 1000
// without a finite frequency of at least 1e-8 kHz), the high time within it (all of it from a duty of
// 100 % on, none without a duty above 0, NaN included), the low time the rest. The line start wave is
// the slots after the first x -2.0 up to an x -1.0, the end wave those after the next -3.0 up to -1.0,
// the dot wave the first slots up to -1.0. A plus record takes real 1 and the second laser's timing
// only under its flag word's 0xA5.
#include <cmath>
#include <cstring>
#include <vector>

#include "frame/bytes.h"
#include "frame/errors.h"
#include "fuzz_support.h"
#include "markbase/pen_para.h"

namespace {

bool PenUntouched(int i) {
  const PenPara d, &p = g_PenPara[i];
  return p.dbMarkSpeed == d.dbMarkSpeed && p.nJumpDelay1 == d.nJumpDelay1 && p.nWaveNumber == d.nWaveNumber;
}
bool TimingUntouched(int laser, int i) {
  const LaserTimingPara d, &t = g_LaserTimingPara[laser][i];
  return t.nPulsePeriod == d.nPulsePeriod && t.nFirstDelay == d.nFirstDelay && t.dbPower == d.dbPower &&
         t.lineStartWave.empty() && t.lineEndWave.empty() && t.dotWave.empty();
}
bool Same(const void* value, const uint8_t* host, size_t n) { return std::memcmp(value, host, n) == 0; }

void CheckTiming(const LaserTimingPara& t, double f, double duty) {
  const uint32_t period = t.nPulsePeriod, high = t.nPulseHigh;
  if (std::isfinite(f) && f >= 1e-8)
    FUZZ_CHECK(period >= 1 && period <= 0xFFFFFF && high <= period && (!(duty >= 100) || high == period) &&
                   (duty > 0 || high == 0),
               "period %u, high %u from %g kHz at %g %%", period, high, f, duty);
  else
    FUZZ_CHECK(period == 1000 && high == 1000, "period %u, high %u without a frequency (%g)", period, high, f);
  FUZZ_CHECK(t.nPulseLow == period - high, "low %u of period %u, high %u", t.nPulseLow, period, high);
}

// The waves against the slots of the host's tables that they must hold.
void CheckWaves(const LaserTimingPara& t, const uint8_t* line, const uint8_t* dot) {
  // Slot by slot: before -2.0, in the start wave, before -3.0, in the end wave, after it.
  std::vector<int> slots[3];
  for (int s = 0, state = 0; s < kWaveTableSlots && state < 4; ++s) {
    const double x = GetF64(line + kWavePointBytes * s + 4);
    if (state == 0 || state == 2) state += x == (state ? -3.0 : -2.0) ? 1 : 0;
    else if (x == -1.0) ++state;
    else slots[state / 2].push_back(s);
  }
  for (int s = 0; s < kWaveTableSlots && GetF64(dot + kWavePointBytes * s + 4) != -1.0; ++s) slots[2].push_back(s);
  const std::vector<WavePoint>* waves[3] = {&t.lineStartWave, &t.lineEndWave, &t.dotWave};
  for (int k = 0; k < 3; ++k) {
    FUZZ_CHECK(waves[k]->size() == slots[k].size(), "wave %d of %zu points from %zu slots", k, waves[k]->size(),
               slots[k].size());
    for (size_t n = 0; n < slots[k].size(); ++n) {
      const WavePoint& w = (*waves[k])[n];
      const uint8_t* s = (k < 2 ? line : dot) + kWavePointBytes * slots[k][n];
      FUZZ_CHECK(Same(&w.unit, s, 4) && Same(&w.x, s + 4, 8) && Same(&w.power, s + 12, 8), "point %zu of wave %d", n,
                 k);
    }
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  qzfuzz::LibraryFolder();  // boxes out of the output
  if (size == 0) return 0;
  const bool plus = data[0] & 1;
  const size_t bytes = plus ? kPenParaPlusRecordBytes : kMarkParaRecordBytes;
  std::vector<uint8_t> records(data + 1, data + size);
  records.resize((records.size() + bytes - 1) / bytes * bytes);
  int32_t count = static_cast<int32_t>(records.size() / bytes);
  if (data[0] & 2) count = kPenCount + 1;
  if (data[0] & 4) count = -(data[0] >> 3);
  for (int i = 0; i < kPenCount; ++i) {
    g_PenPara[i] = PenPara{};
    g_LaserTimingPara[0][i] = g_LaserTimingPara[1][i] = LaserTimingPara{};
    g_PenParaPlus[i] = PenParaPlus{};
  }

  const uint32_t rc = plus ? SetMarkParaPlus(records.data(), count) : SetMarkPara(records.data(), count);
  FUZZ_CHECK(rc == (count > kPenCount ? RV_LAYER_NUMBER_OVER : RV_OK), "%d records gave %u", count, rc);
  for (int i = 0; i < kPenCount; ++i) {
    const PenParaPlus& p = g_PenParaPlus[i];
    if (rc != RV_OK || i >= count) {
      FUZZ_CHECK(PenUntouched(i) && TimingUntouched(0, i) && TimingUntouched(1, i) && p.nWord0 == PenParaPlus{}.nWord0,
                 "pen %d changed by %d records", i, count);
      continue;
    }
    // Host record offsets: speeds 432 and 440, jump delay 2 448, frequency 28, duty 36, wave tables 488
    // and 892; a plus record's word 0 and real 0 at 0 and 4, flags 12, real 1 16, frequency 24, duty 32.
    const uint8_t* r = records.data() + bytes * static_cast<size_t>(i);
    const uint32_t flags = plus ? GetU32(r + 12) : 0;
    const bool flagged = flags >> 24 == 0xA5;
    FUZZ_CHECK(flagged && flags & 1 ? Same(&p.dbReal1, r + 16, 8) : p.dbReal1 == 0.0, "real 1 under flags %08X", flags);
    if (plus) {
      FUZZ_CHECK(PenUntouched(i) && TimingUntouched(0, i) && Same(&p.nWord0, r, 4) && Same(&p.dbReal0, r + 4, 8),
                 "plus record %d read wrong", i);
      if (flagged && flags & 2) CheckTiming(g_LaserTimingPara[1][i], GetF64(r + 24), GetF64(r + 32));
      else FUZZ_CHECK(TimingUntouched(1, i), "the second laser of pen %d taken under flags %08X", i, flags);
      continue;
    }
    const double mark = GetF64(r + 432), jump = GetF64(r + 440);
    const bool enabled = std::isfinite(mark) && std::isfinite(jump) && mark / 1e6 >= 1e-12 && jump / 1e6 >= 1e-12;
    FUZZ_CHECK(g_PenPara[i].bEnable == enabled, "pen %d of speeds %g, %g enabled %d", i, mark, jump,
               g_PenPara[i].bEnable);
    FUZZ_CHECK(TimingUntouched(1, i) && Same(&p.nWord0, r + 448, 4) && p.dbReal0 == 1.0, "pen %d's plus entry", i);
    CheckTiming(g_LaserTimingPara[0][i], GetF64(r + 28), GetF64(r + 36));
    CheckWaves(g_LaserTimingPara[0][i], r + 488, r + 892);
  }
  return 0;
}
