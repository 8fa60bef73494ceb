#pragma once
// The words that open and close a laser segment, set a laser's pulse timing and play the power ramps
// of its wave holder at segment and dot starts.
//
// A word "at t on a list" is a TimedWord {t, word} pushed at the end of that list (a channel of the
// current floor); the floor merge sorts the channels later. Words that go to the main stream use the
// appenders of mark_floor.h and advance the floor clock.
//
// Words that would fire the laser become the NOP 0x50000000 at the same time when the job does not
// fire it (LaserFired), so that the stream's timing stays the same.
//
// Pulse timing words (operand: 48 MHz ticks; below 4 written as 0, above 24 bits as 0xFFFFFF):
//   laser 0: high 0x11, low 0x12, start 0x16000001, stop 0x16000000, idle high 0x13, idle low 0x14
//   laser 1: high 0x18, low 0x19, start 0x1C000001, stop 0x1C000000, idle high 0x1A, idle low 0x1B
#include <cstdint>
#include <vector>

#include "laser/laser.h"
#include "markbase/job_state.h"
#include "markbase/mark_floor.h"

class CWaveHolder;

// The job fires the laser: it was started in a mode that fires it and the laser lock input was not
// set at its start. Otherwise every word that would fire the laser is sent as a NOP.
bool LaserFired() REQUIRES(g_MarkCall);

// The operand of a pulse timing word.
uint32_t PulseTicksOperand(uint32_t ticks);
// The pulse timing words of a laser (its index selects laser 0's or laser 1's opcodes).
uint32_t PulseHighWord(const CLaser& laser, uint32_t ticks);
uint32_t PulseLowWord(const CLaser& laser, uint32_t ticks);
uint32_t IdleHighWord(const CLaser& laser, uint32_t ticks);
uint32_t IdleLowWord(const CLaser& laser, uint32_t ticks);
uint32_t PulseStartWord(const CLaser& laser);
uint32_t PulseStopWord(const CLaser& laser);

// At t on the list: pulse high, pulse low, then pulse start (a NOP when bNoStart).
void StreamLaserDelays(const CLaser& laser, std::vector<TimedWord>& list, int64_t t, uint32_t high,
                       uint32_t low, bool bNoStart) REQUIRES(g_MarkCall);
// The pulse timing in force, on the main stream: clock + 1 NOP; pulse high, pulse low and pulse start
// at the clock (the start a NOP when the laser is not fired); clock + 1 NOP.
void StreamLaserDelaysCur(const CLaser& laser) REQUIRES(g_MarkCall);
// The idle timing at the job end, on the main stream: clock + 1 idle high (t1); clock + 1 idle low
// (t2); clock + 1 pulse stop, then a NOP `pad` µs later.
void StreamLaserTimes(const CLaser& laser, uint32_t t1, uint32_t t2, int32_t pad) REQUIRES(g_MarkCall);
// Opens a segment at t: enable output ahead by the ready delay, first Q-kill pulse (pulse list), fine
// delay, PA-no-cus, output 1, the pulse timing and start. Code 33 when a segment is open. 0.
// The enable output of a laser switched with every segment (bEnableEachSegment) is set
// dbReadyAfterEnableMS before t, so that the laser is ready when the segment starts. That word can
// land before stream time that the flush has already merged (a ready delay longer than the hold-back
// window, or a segment right after a flush); the merge then refuses the time going back and fails
// the job with code 2. The word is kept where the laser needs it rather than moved silently: a job
// whose laser would not be ready fails instead of marking without power.
int StreamLaserOn(CLaser& laser, std::vector<TimedWord>& onList, std::vector<TimedWord>& pulseList, int64_t t)
    REQUIRES(g_MarkCall);
// Closes the open segment at t: fine delay, pulse stop, output 1, PA-no-cus, enable output 5 ms
// later. Code 33 when none is open, 34 when t is not after its on time. 0.
int StreamLaserOff(CLaser& laser, std::vector<TimedWord>& offList, int64_t t) REQUIRES(g_MarkCall);

// Power ramps of a holder's waves, one power word per step period (CWaveHolder::StepPeriod) on the
// holder's list. A wave point spans its own step count n (CWaveHolder::StepCount: milliseconds, or
// millimetres at `speed`); step j of n sets prev + (target - prev) x j / n, prev being the whole part
// of the power before the point (of the holder's power before the first). A budget of steps cuts the
// wave short: a point gets min(n, steps left) and the ramp ends when none are left, so a cut point
// stops short of its target. A wave point given in millimetres needs a speed above 0: code 2 (7 for a
// NaN speed) before any word is written.
//
// The start wave of a polyline from t0, within the start steps that CWaveHolder::SplitAt left
// (nStartSteps); the holder's wave time in the floor becomes the time of the last step (t0 when none).
int StreamPowerRampB(CWaveHolder& holder, int64_t t0, double speed) REQUIRES(g_MarkCall);
// The dot wave over the laser's segment in the floor (its on and off times), within
// (off - on) / step period steps. A point of s steps writes the words of its first and last steps and
// of every k-th step, k = s / 2048 bounded to 1..10, so that long dots stay short in the stream.
int StreamPowerRamp(CWaveHolder& holder, double speed) REQUIRES(g_MarkCall);

// The expected record of the comparison of expected and measured laser segments (g_recExpected,
// [Main] bAutoCheckMarkInfoFB 1). The monitoring subsystem that keeps it ranks above the laser
// channels and the mark engine: it installs its handlers here at load; until then (and in a program
// without it) the calls below do nothing.
struct ExpectedRecordHooks {
  void (*laserSwitch)(int on, int64_t t);
  void (*power)(double t, double daTimes16);
  void (*closePower)();
  void (*push)();
};
// Installs `hooks` (static storage, not owned); nullptr removes them.
void InstallExpectedRecordHooks(const ExpectedRecordHooks* hooks);
// A fired laser switched on (on 1) or off (on 0) at t.
void ExpectedRecordLaserSwitch(int on, int64_t t);
// A power word at t (µs as a real, 0 for words on the main stream), whether fired or not: the
// power in DA units x 16 as a real (the record keeps its whole part as a 16-bit number).
void ExpectedRecordPower(double t, double daTimes16);
// The end of a polyline or of a dot: the power average of the segment that closed last.
void ExpectedRecordClosePower();
// The start and the end of a job's stream: the expected record queued for comparison and reset.
void ExpectedRecordPush();
