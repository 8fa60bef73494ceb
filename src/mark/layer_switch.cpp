#include "mark/layer_switch.h"

#include <algorithm>
#include <iterator>

#include "calibration/scan.h"
#include "frame/conv.h"
#include "frame/errors.h"
#include "frame/system_para.h"
#include "laser/laser.h"
#include "laser/laser_outputs.h"
#include "laser/wave_holder.h"
#include "markbase/io_words.h"
#include "markbase/mark_floor.h"
#include "markbase/pen_para.h"
#include "mark/scan_sequences.h"
#include "markbase/stream_words.h"

namespace CMarkGen {
uint8_t bSmallTaskPending = 0;
}

namespace {

// The values last sent in this job.
constexpr int32_t kNoWaveSent = -2;
constexpr int32_t kNoAnalogSent = -1;
constexpr double kNoZSent = -1000000.0;
int32_t nLastWaveNumber GUARDED_BY(g_MarkCall) = kNoWaveSent;
int32_t nLastAnalogPower GUARDED_BY(g_MarkCall) = kNoAnalogSent;
double dbLastZ GUARDED_BY(g_MarkCall) = kNoZSent;

// The steps of the schedule.
enum LayerStep : int {
  STEP_POWER_0 = 0,
  STEP_ANALOG = 1,
  STEP_Z = 2,
  STEP_PULSE = 3,
  STEP_WAVE_NUMBER = 4,
  STEP_MOMENT = 5,
  STEP_POWER_1 = 6,
};

constexpr int64_t kAnalogZLeadUs = 50000;
constexpr int32_t kAnalogZSpacingUs = 20;
constexpr uint32_t kAnalogPowerWord = SW_POWER_DA | 2u << 16;
constexpr int32_t kAnalogFullScale = 4095;
constexpr int32_t kAnalogLaserType = 3;
constexpr int32_t kStrobeSetDelayUs = 40000;
constexpr int32_t kStrobeWidthUs = 20000;
constexpr int32_t kStrobeAfterUs = 1000;
constexpr int32_t kWaveNumberAfterUs = 10;

enum WaveNoLock : int32_t { LOCK_PARALLEL = 1, LOCK_SERIAL = 2, LOCK_STREAM_WORD = 3 };

// A duration from the configuration in µs, within what the clock can advance by in one step.
int32_t ClampUs(int64_t us) { return static_cast<int32_t>(std::clamp<int64_t>(us, 0, INT32_MAX)); }

void ValidateLayer(uint32_t layer) {
  if (layer >= static_cast<uint32_t>(kPenCount)) throw MyException(RV_LAYER_NUMBER_OVER, 1);
}

// The output that strobes a wave number given on parallel outputs; -1: none. No key of the
// configuration names one for the laser types that take their wave number on parallel outputs: the
// laser reads the number from the outputs themselves, and no strobe pulse is sent.
constexpr int32_t kWaveNumberStrobeBit = -1;

void SendSerialWaveNumber(int32_t n) REQUIRES(g_MarkCall) {
  const uint8_t hi = static_cast<uint8_t>(n >> 8), lo = static_cast<uint8_t>(n);
  switch (g_SystemPara.LASER_IPG100W_TYPE) {
    case 2: {
      const uint8_t bytes[] = {0xA5, 0x06, lo};
      SendWaveNoFrame(3, 3 * 8, 23, 24, 25, bytes, 0);
      break;
    }
    case 1: {
      const uint8_t bytes[] = {0xA5, 0x01, hi, lo};
      SendWaveNoFrame(4, 4 * 8, 25, 19, 24, bytes, 0);
      break;
    }
    case 3: {
      const uint8_t bytes[6] = {0xA5, 0x06, hi, lo, 0x00, 0x5A};
      SendWaveNoFrameFixed(bytes);
      break;
    }
    default:
      break;
  }
}

void SendAnalogPower(uint32_t layer) REQUIRES(g_MarkCall) {
  if (g_SystemPara.LASER_TYPE != kAnalogLaserType) return;
  // The pen's own percent decides whether it changed (150 then 120 is a change, though both write
  // full scale); the word takes it clamped to 0..100, so that no negative value reaches the opcode.
  const int32_t raw = g_PenPara[layer].nPower;
  if (raw == nLastAnalogPower) return;
  nLastAnalogPower = raw;
  const int32_t p = std::clamp<int32_t>(raw, 0, 100);
  const uint32_t value = static_cast<uint32_t>(std::min(p * kAnalogFullScale / 100, kAnalogFullScale));
  AppendStreamWord(kAnalogZSpacingUs, kAnalogZSpacingUs, kAnalogPowerWord | value);
}

void SendZPosition(uint32_t layer) REQUIRES(g_MarkCall) {
  const SystemPara& sp = g_SystemPara;
  if (sp.bHaveScanZ != 1) return;
  const double z = g_PenPara[layer].dbZPos;
  if (z == dbLastZ) return;
  dbLastZ = z;
  const double real = (sp.dbZBox / 2.0 + z) * 65535.0 / sp.dbZBox;
  const uint32_t code = static_cast<uint32_t>(std::clamp<int32_t>(RealToInt32(real), 0, kCode16Max));
  uint32_t word;
  if (sp.bNewBoxCali) {
    word = SW_Z21_POS | (code & 0x1FFFFFu);
  } else {
    word = (g_MarkJob.bLaserJob ? SW_Z_POS : SW_Z_POS_UNLIT) | code;
  }
  AppendStreamWord(kAnalogZSpacingUs, kAnalogZSpacingUs, word);
}

void SelectPulseTiming(uint32_t layer) REQUIRES(g_MarkCall) {
  for (int i = 0; i < LasersInUse(); ++i) {
    uint8_t changed = 0;
    g_Laser[i].SelectLayer(g_LaserTimingPara[i], static_cast<int32_t>(layer), &changed);
  }
}

void SendLayerPower(int holder, uint32_t layer, uint32_t mode) REQUIRES(g_MarkCall) {
  uint8_t changed = 0;
  ApplyLayerLaserSegment(g_WaveHolder[holder], g_LaserTimingPara[holder][layer], static_cast<int>(mode),
                         g_Scan.dbMarkSpeed, &changed);
}

void RunStep(int step, uint32_t layer, uint32_t mode) REQUIRES(g_MarkCall) {
  switch (step) {
    case STEP_POWER_0:
      SendLayerPower(0, layer, mode);
      break;
    case STEP_POWER_1:
      if (LasersInUse() == 2) SendLayerPower(1, layer, mode);
      break;
    case STEP_ANALOG:
      SendAnalogPower(layer);
      break;
    case STEP_Z:
      SendZPosition(layer);
      break;
    case STEP_PULSE:
      SelectPulseTiming(layer);
      break;
    case STEP_WAVE_NUMBER: {
      const int32_t n = g_PenPara[layer].nWaveNumber;
      if (n >= 0 && n != nLastWaveNumber && g_SystemPara.nWaveNoLock != -1) {
        nLastWaveNumber = n;
        CMarkGen::SendWaveNumber();
      }
      break;
    }
    default:  // the moment itself
      break;
  }
}

}  // namespace

namespace CMarkGen {

void ResetForJob() {
  nLastWaveNumber = kNoWaveSent;
  nLastAnalogPower = kNoAnalogSent;
  dbLastZ = kNoZSent;
  bSmallTaskPending = 0;
}

void ApplyLayer(uint32_t layer, uint32_t mode) {
  ValidateLayer(layer);
  if (bSmallTaskPending) {
    bSmallTaskPending = 0;
    MarkInitScanLaserReset();
  }
  CLaserAll::LoadLayerDelays(static_cast<int32_t>(layer));
  g_Scan.LoadPenJumpPara(layer);

  const SystemPara& sp = g_SystemPara;
  struct Step {
    int step;
    int32_t lead;
  };
  const int32_t powerLead = ClampUs(int64_t{sp.nDaOutBeforeLaserMS} * 1000);
  Step steps[] = {{STEP_POWER_0, powerLead},
                  {STEP_POWER_1, powerLead},
                  {STEP_ANALOG, kAnalogZLeadUs},
                  {STEP_Z, kAnalogZLeadUs},
                  {STEP_PULSE, ClampUs(sp.nPrrBeforeMoPaUS)},
                  {STEP_WAVE_NUMBER, ClampUs(int64_t{sp.ChangeWaveNoDelay_ms} * 1000)},
                  {STEP_MOMENT, 0}};
  // Longest lead first, equal leads in the order above: a stable insertion sort over seven steps
  // (std::stable_sort may allocate a buffer, once per polyline start).
  for (size_t i = 1; i < std::size(steps); ++i) {
    const Step s = steps[i];
    size_t j = i;
    for (; j > 0 && steps[j - 1].lead < s.lead; --j) steps[j] = steps[j - 1];
    steps[j] = s;
  }

  // The moment (lead 0, last of its equals) ends the list: every step before it runs, and the
  // stream advances between two leads once anything was written.
  const std::vector<TimedWord>& main = *g_FloorCursors.pMain;
  bool wrote = false;
  for (size_t i = 0; i + 1 < std::size(steps); ++i) {
    const size_t before = main.size();
    RunStep(steps[i].step, layer, mode);
    wrote = wrote || main.size() != before;
    if (wrote && steps[i].lead > steps[i + 1].lead) AppendStreamNop(steps[i].lead - steps[i + 1].lead);
  }
}

void SendWaveNumber() {
  const SystemPara& sp = g_SystemPara;
  const int32_t n = nLastWaveNumber;
  AppendStreamNop(ClampUs(int64_t{sp.ChangeWaveNoDelay_ms} * 100));
  switch (sp.nWaveNoLock) {
    case LOCK_PARALLEL: {
      const uint32_t mask = static_cast<uint32_t>(sp.nWaveNoMask);
      const uint32_t shift = ShiftCount(sp.nWaveNoBit0IO);
      AppendStreamWord(1, 1, MakeIoWordByMask(mask << shift, (static_cast<uint32_t>(n) & mask) << shift));
      if (kWaveNumberStrobeBit != -1) {
        AppendStreamWord(kStrobeSetDelayUs, 1, MakeIoWord(kWaveNumberStrobeBit, 1));
        AppendStreamWord(kStrobeWidthUs, kStrobeAfterUs, MakeIoWord(kWaveNumberStrobeBit, 0));
      }
      break;
    }
    case LOCK_SERIAL:
      if (g_MarkJob.bLaserJob) SendSerialWaveNumber(n);
      break;
    case LOCK_STREAM_WORD:
      AppendStreamWord(1, 1, SW_WAVE_NUMBER | (static_cast<uint32_t>(n) & 0xFFu));
      break;
    default:
      break;
  }
  AppendStreamNop(kWaveNumberAfterUs);
}

}  // namespace CMarkGen

namespace CLaserAll {

void SelectLayerAll(uint32_t layer) {
  ValidateLayer(layer);
  LoadLayerDelays(static_cast<int32_t>(layer));
  g_Scan.LoadPenJumpPara(layer);
  for (int j = 0; j < LasersInUse(); ++j)
    ApplyLayerLaserSegment(g_WaveHolder[j], g_LaserTimingPara[j][layer], 0, g_Scan.dbMarkSpeed, nullptr);
  SelectPulseTiming(layer);
}

}  // namespace CLaserAll
