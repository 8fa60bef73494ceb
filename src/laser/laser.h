#pragma once
// Laser channels.
//
// A CLaser is one laser channel of the card: which output bits play which role for the configured
// laser type, how long the laser needs after being enabled, the current layer's delays and pulse
// timing, and the on/off state of the laser inside the job being generated. There are two
// (g_Laser[2]); SystemPara::nLaserCount says how many are in use (2 for LASER_TYPE 5, 6 and 7). Each
// is paired with the power-wave holder of the same index (wave_holder.h).
//
// The segment state and the two word lists a laser writes belong to the current floor: a laser
// reaches them through the floor cursors (g_FloorCursors.laser[nIndex]) at every use, so they always
// follow the floor that CMarkFloor::BindCurrent bound, and nothing is copied.
//
// Times are signed 64-bit microseconds of the current floor's clock (a floor reset leaves the off
// time at -10000000); every comparison of times is signed.
#include <cstdint>
#include <vector>

#include "markbase/job_state.h"
#include "markbase/mark_floor.h"
#include "markbase/pen_para.h"

// The laser segment states of a floor's state record.
constexpr uint32_t kLaserStateOff = 0;
constexpr uint32_t kLaserStateOn = 1;
constexpr uint32_t kLaserStateOffDone = 2;

// bPaNotOff with this value leaves the PA-no-cus output on at the end of a segment.
constexpr int32_t kPaNotOffKeep = 999999;

class CLaser {
 public:
  // Reads this channel's keys of the main configuration ([LASER], [POWER]) and sets its output roles
  // for SystemPara::LASER_TYPE; pairs the wave holder of the same index with it. index is 0 or 1.
  void LoadConfig(int index, int bYLS, int topSoftWareControlYlrEnable);
  // nEnableBit := bit; the enable output is switched with every segment (bEachSegment) or set once
  // at the start of a job.
  void SetCloseBit(int bEachSegment, uint32_t bit);
  // Makes a layer's pulse timing current (timing: this laser's row of g_LaserTimingPara). A layer
  // outside 0..255 is refused with 6 before anything is read or changed. Lasers that track pulse
  // timing per layer (bFiberPwm) compare the layer's ticks with the ticks in force on the card and,
  // when they differ, take them, set *changed and, in a job that fires the laser, send them (code 32
  // when the high and low ticks differ by more than 3, unless [FIBER] bAllowFiberPwmDutyChange).
  // A high or low tick count of 1 or 2 fails with 32 for every laser.
  void SelectLayer(const LaserTimingPara (&timing)[kPenCount], int32_t layer, uint8_t* changed)
      REQUIRES(g_MarkCall);
  // Moves an off time (plus the off delay while bApplyDelays) to a whole number of pulse periods
  // after tOn: rounded down, or up when the cut-off part of the last period is longer than the high
  // part. *out gets the aligned time; returns 1 when the segment is empty (not after tOn), else 0.
  int AlignToPulse(int64_t tOff, int64_t tOn, int64_t* out) const;
  // Switches the laser on at tOn (plus the on delay) for a segment planned to end at tOffPlanned:
  // nothing when it is on already or the segment would be empty; code 40 when the previous off time
  // is not before the new on time.
  void On(int64_t tOn, int64_t tOffPlanned) REQUIRES(g_MarkCall);
  // Switches the laser off at tOff, aligned to the pulse; code 34 when the segment would be empty.
  // Nothing when the laser is not on.
  void Off(int64_t tOff) REQUIRES(g_MarkCall);

  // The current floor's cursors of this laser.
  FloorLaserState& State() const { return *g_FloorCursors.laser[nIndex & 1].pState; }
  std::vector<TimedWord>& OnChannel() const { return *g_FloorCursors.laser[nIndex & 1].pFirst; }
  std::vector<TimedWord>& OffChannel() const { return *g_FloorCursors.laser[nIndex & 1].pSecond; }

  int32_t nIndex = 0;
  uint32_t bFiberPwm = 0;           // pulse timing is tracked per layer (laser types 2 and 6)
  uint32_t bEnableAtStart = 0;      // the enable output is set once at the start of a job
  uint32_t bEnableEachSegment = 0;  // the enable output is switched with every segment
  uint32_t bCloseMoEachLaser = 0;   // key value: chooses between the two flags above
  uint32_t nEnableBit = 0;          // output bit of the enable output
  double dbReadyAfterEnableMS = 0.0;  // wait after setting the enable output
  int32_t bManualPa = 0;
  int32_t bPaNotOff = 0;            // kPaNotOffKeep leaves PA-no-cus on at the end of a segment
  uint32_t bPaNoCus = 0;            // the PA-no-cus output is used
  uint32_t nPaNoCusBit = 0;
  int32_t nPaBit = 28;              // output bit of the PA output; -1 none
  uint32_t bPaBySerial = 0;         // the PA output also goes to the laser as a serial frame
  uint32_t nMoBit = 29;             // output bit of the MO output
  uint32_t bMoBySerial = 0;         // the MO output also goes to the laser as a serial command
  uint32_t bFirstQKill = 0;         // laser type 4
  uint32_t nFirstQKillTimeUS = 0;
  uint32_t nFirstQKillTimeBeforePwm = 0;
  double dbCurrentRangeDaOut = 0.0;    // full scale of the card's analogue power output
  double dbCurrentRangeLaserIn = 0.0;  // full scale of the laser's power input
  int32_t nCurLayer = -1;           // layer whose timing is in force; -1 none
  uint32_t nPulseLowTicks = 0;      // pulse timing in force (48 MHz ticks)
  uint32_t nPulseHighTicks = 0;
  uint8_t bSavedPaOutput = 0;       // the PA output before the job
  uint8_t bSegmentOpen = 0;         // a laser segment is open in the stream
  int64_t nSegOnTime = 0;           // on and off times of the open (or last) segment, µs
  int64_t nSegOffTime = 0;
  int32_t nOnDelayUS = 0;           // the layer's laser-on and laser-off delays in whole µs
  int32_t nOffDelayUS = 0;
  uint32_t nOnDelayFrac = 0;        // their remainders in 48 MHz ticks
  uint32_t nOffDelayFrac = 0;
  uint8_t bApplyDelays = 1;         // add the layer delays to on and off times
};

// Channel 0, and channel 1 for the two-laser types.
extern CLaser g_Laser[2];

// The number of lasers in use: SystemPara::nLaserCount bounded to 1..2.
int LasersInUse();
// The job set-up of the lasers in use and their wave holders: no layer in force, delays applied, no
// segment open, the next power always sent.
void LaserJobReset();
