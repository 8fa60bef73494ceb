#include "laser/laser_outputs.h"

#include <algorithm>
#include <vector>

#include "calibration/galvo_stream.h"
#include "calibration/scan.h"
#include "cardlink/card_io.h"
#include "frame/conv.h"
#include "frame/errors.h"
#include "frame/system_para.h"
#include "laser/laser.h"
#include "laser/laser_stream.h"
#include "laser/uart.h"
#include "laser/wave_holder.h"
#include "markbase/io_words.h"
#include "markbase/mark_floor.h"
#include "markbase/pen_para.h"
#include "markbase/stream_words.h"

namespace {

// The largest remainder of a layer delay in 48 MHz ticks that the fine delay takes.
constexpr int64_t kMaxDelayFraction = 45;

// The wave-number frames are opened by 0x51500001 and closed by 0x51500000.
constexpr uint32_t kWaveFrameOpen = 0x51500001;
constexpr uint32_t kWaveFrameClose = 0x51500000;
// The fixed frame: each byte goes out on laser 0's analogue power output (the DA word carries the
// byte in bits 4-11), latched by output 31; output 24 gates the whole frame.
constexpr int32_t kFixedFrameStrobeBit = 31;
constexpr int32_t kFixedFrameGateBit = 24;
constexpr int kFixedFrameBytes = 6;
constexpr int32_t kWaveFramePause = 1000;  // µs before and after a frame's words

// The serial protocols of [Uart] nSerialFor3YLPN2Red1CW0none that take the PA and MO outputs.
constexpr int32_t kSerialRedMo = 1;  // the MO output as a text command
constexpr int32_t kSerialYlpnPa = 2;  // the PA output as a binary frame
// The PA frame: header AB CD, address FF (the one laser on the port), command 02 (write), register
// C9 (PA emission), the state 0 or 1, five zero bytes that fill the frame to its fixed 11 bytes.
constexpr uint8_t kPaFrameHead[5] = {0xAB, 0xCD, 0xFF, 0x02, 0xC9};
constexpr int kPaFrameBytes = 11;
// The MO commands: enable or disable the master oscillator, ended by CR.
constexpr char kMoOn[] = "EPM\r";
constexpr char kMoOff[] = "DPM\r";
constexpr int kMoBytes = 4;

// The one-output mask of an output bit; 0 for a bit outside 0..31 (no such output in a mask).
uint32_t BitMask(int64_t bit) {
  if (bit < 0 || bit > 31) return 0;
  return 1u << ShiftCount(static_cast<int32_t>(bit));
}

// A remainder of a layer delay (µs, below the zoom) in 48 MHz ticks: rem x 48 / zoom, 0..45.
uint32_t DelayFraction(int32_t rem, int32_t zoom) {
  const int64_t f = static_cast<int64_t>(rem) * 48 / zoom;
  return static_cast<uint32_t>(std::clamp<int64_t>(f, 0, kMaxDelayFraction));
}

// The PA outputs saved at the buffer's start of the current job, for its end.
bool g_bPaSaved GUARDED_BY(g_MarkCall) = false;

// The listed form of the serial switch is the body of QZ_MarkBufIO: inside a mark call, else 27.
void AssertMarkCall() ASSERT_CAPABILITY(g_MarkCall) { RequireMarkCall(); }

// Sorts a frame's words by time (LessU64); words of equal time keep the order they were built in.
void SortFrame(WordList& list) {
  std::stable_sort(list.begin(), list.end(), [](const TimedWord& a, const TimedWord& b) { return a.time < b.time; });
}

void Put(WordList& list, uint64_t t, uint32_t word) { list.push_back({t, word}); }

}  // namespace

void CLaserAll::LoadLayerDelays(int32_t layer) {
  if (layer < 0 || layer >= kPenCount) throw MyException(RV_LAYER_NUMBER_OVER, 1);
  const int32_t zoom = std::max<int32_t>(g_SystemPara.nLaserDelayZoom, 1);
  for (int i = 0; i < LasersInUse(); ++i) {
    CLaser& l = g_Laser[i];
    const LaserTimingPara& t = g_LaserTimingPara[i][layer];
    // The second delay field is the one applied at laser on, the first at laser off.
    l.nOnDelayUS = t.nSecondDelay / zoom;
    l.nOffDelayUS = t.nFirstDelay / zoom;
    if (zoom > 1) {
      l.nOnDelayFrac = DelayFraction(t.nSecondDelay % zoom, zoom);
      l.nOffDelayFrac = DelayFraction(t.nFirstDelay % zoom, zoom);
    }
  }
}

void CLaserAll::EmitIoPulses() {
  for (int i = 0; i < LasersInUse(); ++i) {
    const CLaser& l = g_Laser[i];
    if (!l.bEnableAtStart) continue;
    AppendStreamWord(1, 1, MakeIoWord(static_cast<int32_t>(l.nEnableBit), 1));
    // The laser's ready delay; a negative one waits nothing.
    AppendStreamNop(std::max(RealToInt32(l.dbReadyAfterEnableMS * 1000.0), 0));
  }
}

void CLaserAll::SetEnableOutputs(int bStart) {
  // What an earlier job saved is never restored by this one, also when that job's end failed.
  if (bStart) g_bPaSaved = false;
  if (!g_MarkJob.bRunModeNot4) return;
  if (!bStart && !g_bPaSaved) return;
  const bool fired = g_MarkJob.bLaserJob != 0;
  for (int i = 0; i < LasersInUse(); ++i) {
    CLaser& l = g_Laser[i];
    const uint32_t bit = BitMask(l.nPaBit);
    if (bit == 0) continue;  // no PA output (-1)
    if (bStart) l.bSavedPaOutput = (ReadOutputs() & bit) ? 1 : 0;
    if (l.bSavedPaOutput == 1 && fired) {
      // On before a job that fires the laser: off for the job, on again at its end.
      OutputWithSerialMirror(bit, bStart ? 0 : bit);
    } else if (l.bSavedPaOutput == 0 && !fired) {
      // Off before a job without laser: on for the job, off again at its end.
      OutputWithSerialMirror(bit, bStart ? bit : 0);
    }
  }
  g_bPaSaved = bStart != 0;
}

void OutputWithSerialMirror(uint32_t mask, uint32_t value) {
  WriteOutputs(mask, value);
  CLaserAll::SendSerialSwitchCmd(mask, value, 1);
}

void CLaserAll::SendSerialSwitchCmd(uint32_t mask, uint32_t value, int bImmediate) {
  uint8_t bytes[2 * (kPaFrameBytes + kMoBytes)];
  int n = 0;
  const int32_t protocol = g_SystemPara.nSerialFor3YLPN2Red1CW0none;
  for (int i = 0; i < LasersInUse(); ++i) {
    const CLaser& l = g_Laser[i];
    const uint32_t pa = BitMask(l.nPaBit);
    if (l.bPaBySerial && protocol == kSerialYlpnPa && pa != 0 && mask == pa) {
      for (uint8_t b : kPaFrameHead) bytes[n++] = b;
      bytes[n++] = (value & pa) ? 1 : 0;
      for (int k = static_cast<int>(sizeof kPaFrameHead) + 1; k < kPaFrameBytes; ++k) bytes[n++] = 0;
    }
    const uint32_t mo = BitMask(l.nMoBit);
    if (l.bMoBySerial && protocol == kSerialRedMo && mo != 0 && mask == mo) {
      const char* text = (value & mo) ? kMoOn : kMoOff;
      for (int k = 0; k < kMoBytes; ++k) bytes[n++] = static_cast<uint8_t>(text[k]);
    }
  }
  if (n == 0) return;
  if (bImmediate) {
    // The whole frame at once: a text query of another thread cannot come between its bytes.
    plat::LockGuard uart(UartLaserLock);
    for (int k = 0; k < n; ++k) UartSendByte(bytes[k]);
    return;
  }
  AssertMarkCall();
  for (int k = 0; k < n; ++k) ListUartSendByte(bytes[k]);
}

int32_t CLaserAll::PointMarkAll(int32_t time) {
  if (g_SystemPara.nLaserCount < 1) return -1;
  if (time < kMinPointMarkUs) ThrowMarkError(RV_POINT_MARK_TIME_LESS_THAN_1);
  for (int i = 0; i < LasersInUse(); ++i) {
    CLaser& l = g_Laser[i];
    l.On(0, time);
    l.Off(time);
    if (g_WaveHolder[i].bDotWave) StreamPowerRamp(g_WaveHolder[i], g_Scan.dbMarkSpeed);
  }
  return time;
}

void CLaserAll::BeginLineAll() {
  StreamStartRecords(0, 0);
  for (int i = 0; i < LasersInUse(); ++i) {
    CLaser& l = g_Laser[i];
    CWaveHolder& h = g_WaveHolder[i];
    const int64_t t = std::max<int64_t>(l.bApplyDelays ? l.nOnDelayUS : 0, 1);
    FloorLaserState& s = l.State();
    s.nOnTime = static_cast<uint64_t>(t);
    s.nState = kLaserStateOn;
    StreamLaserOn(l, l.OnChannel(), l.OffChannel(), t);
    if (h.nWaveMode == 2) {
      h.SplitAt((static_cast<int64_t>(h.nStartSteps) + h.nEndSteps) * h.StepPeriod(), true);
      StreamPowerRampB(h, static_cast<int64_t>(s.nOnTime), g_Scan.dbMarkSpeed);
    }
    // The line's segment stays open on the card but not in the generator: the program's next step
    // opens its own.
    l.nSegOffTime = 1000000;
    l.bSegmentOpen = 0;
  }
}

void CLaserAll::EndLineAll(int bNoEndWave) {
  StreamStartRecords(0, 0);
  for (int i = 0; i < LasersInUse(); ++i) {
    CLaser& l = g_Laser[i];
    CWaveHolder& h = g_WaveHolder[i];
    int64_t t = std::max<int64_t>(l.bApplyDelays ? l.nOffDelayUS : 0, 1);
    if (h.bLineWaves && !bNoEndWave) {
      h.LastPower().nTime = t;
      h.StepWave(g_Scan.dbMarkSpeed);
      t += static_cast<int64_t>(h.nEndSteps) * h.StepPeriod();
    }
    // The segment was opened by another step (BeginLineAll): it counts as open since long before.
    l.nSegOnTime = -1000000;
    l.bSegmentOpen = 1;
    FloorLaserState& s = l.State();
    s.nOffTime = t;
    s.nState = kLaserStateOffDone;
    StreamLaserOff(l, l.OnChannel(), t);
  }
}

void SendWaveNoFrameFixed(const uint8_t (&bytes)[6]) {
  AppendStreamWord(1, 1, kWaveFrameOpen);
  AppendStreamWord(1, 1, MakeIoWord(kFixedFrameStrobeBit, 0));
  AppendStreamWord(1, 1, MakeIoWord(kFixedFrameGateBit, 0));
  AppendStreamNop(kWaveFramePause);
  WordList list;
  list.reserve(3 + 3 * kFixedFrameBytes);
  Put(list, 0, MakeIoWord(kFixedFrameGateBit, 1));
  for (int i = 0; i < kFixedFrameBytes; ++i) {
    const uint64_t t = 50 + 100 * static_cast<uint64_t>(i);
    Put(list, t, SW_POWER_DA | static_cast<uint32_t>(bytes[i]) << 4);
    Put(list, t, MakeIoWord(kFixedFrameStrobeBit, 0));
    Put(list, t + 50, MakeIoWord(kFixedFrameStrobeBit, 1));
  }
  Put(list, 650, MakeIoWord(kFixedFrameStrobeBit, 0));
  Put(list, 650, MakeIoWord(kFixedFrameGateBit, 0));
  SortFrame(list);
  AppendShiftedWords(list);
  AppendStreamNop(kWaveFramePause);
  AppendStreamWord(1, 1, kWaveFrameClose);
}

void SendWaveNoFrame(int32_t nBytes, int32_t nClock, uint32_t clockBit, uint32_t gateBit, uint32_t dataBit,
                     const uint8_t* bytes, int bExtra) {
  const int32_t clk = static_cast<int32_t>(clockBit);
  const int32_t gate = static_cast<int32_t>(gateBit);
  const int32_t data = static_cast<int32_t>(dataBit);
  const uint64_t clocks = static_cast<uint64_t>(std::max(nClock, 0));
  WordList list;
  // Clock pulses first: where a clock falls at the time the data changes (150, 250, ...), the clock
  // falls before the data moves, so the laser samples each bit while it is held.
  for (uint64_t i = 0; i < clocks; ++i) {
    Put(list, 100 * (i + 1), MakeIoWord(clk, 1));
    Put(list, 100 * i + 150, MakeIoWord(clk, 0));
  }
  if (bytes && nBytes > 0) AddSerialBitPattern(list, static_cast<uint32_t>(nBytes), data, bytes);
  Put(list, 0, MakeIoWord(gate, 1));
  Put(list, (clocks + 1) * 100, MakeIoWord(gate, 0));
  SortFrame(list);

  AppendStreamWord(1, 1, kWaveFrameOpen);
  AppendStreamWord(1, 1, SW_WAVE_FRAME_OUT_2);
  AppendStreamWord(1, 1, MakeIoWord(clk, 0));
  AppendStreamWord(1, 1, MakeIoWord(gate, 0));
  AppendStreamWord(1, 1, MakeIoWord(data, 0));
  if (bExtra) AppendStreamWord(1, 1, SW_WAVE_FRAME_OUT_C);
  AppendStreamNop(kWaveFramePause);
  AppendShiftedWords(list);
  AppendStreamNop(kWaveFramePause);
  if (bExtra) AppendStreamWord(1, 1, SW_WAVE_FRAME_OUT_4);
  AppendStreamWord(1, 1, SW_WAVE_FRAME_OUT_1);
  AppendStreamWord(1, 1, kWaveFrameClose);
}

void ZeroAllLaserPower(int bOnlyIfConfigured) {
  if (bOnlyIfConfigured && g_SystemPara.MarkEndResetDaToZero == 0) return;
  for (int i = 0; i < LasersInUse(); ++i) AppendLaserPowerWord(g_WaveHolder[i], nullptr, 0, 0.0);
}
