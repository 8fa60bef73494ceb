#pragma once
// Laser-module programs: small resident programs the card keeps and runs on external triggers, written
// as ordinary job streams with labels (0x51800000 | n), jumps (0x51A00000 | n), input tests and waits,
// conditional jump registers and output words.
//
//   LaserModuleProgram      QZ_LaserModuleStart: one slot per pen 0..15 chosen by the inputs, after
//                           a handshake on input 0;
//   OssLaserModuleProgram   QZ_OssLaserModuleStart: the optical-switch form with four trigger
//                           positions (inputs 7 to 10 with input 6), off blocks and the slot frame;
//   LaserModByIOProgram, LaserModByEncProgram, LaserModDotProgram (spot weld),
//   LaserModWobByEncProgram the single trigger programs of the mark-list members.
//
// The forms of waits used throughout (io_words.h): Wait(A, B, source) waits, without a time-out,
// until the source's bits under A equal B (source 1 the inputs, 3 the encoder, 4 a further condition
// source of the card); Test(A, B, source) -> OK p, NG q is a zero time-out test followed by the two
// jump registers 0x100 | p (taken when it holds) and 0x100 | q (when it fails), 0/0 for a side that
// is absent.
//
// A pen's jump delay 2 is its slot's laser-module mode (1 a line, else a dot; 0 also applies the pen
// as a dot layer), its jump delay 3 the dot time in µs. Every step that fires the laser forces
// [LASER] LASER_OFF_ON_INTEVAL to 2 while it runs and restores it; the two whole programs leave it at
// 0 until the configuration is read again. After each single trigger program every power is sent
// again at the next power word.
#include <cstdint>
#include <functional>
#include <vector>

#include "markbase/job_state.h"
#include "mark/line_storage.h"

// The wait condition of the single trigger programs.
struct LaserWaitCond {
  uint8_t bEnable = 0;    // the program waits on the condition
  uint32_t nMask = 0;     // bits of the source compared
  uint32_t nValue = 0;    // compare value of the wait after the program's jump
  uint32_t nPreValue = 0; // compare value of the wait before the program's layer and jump
  uint32_t nSource = 0;   // 1 inputs, 3 encoder
  uint8_t bPreWait = 0;   // the wait before the layer and jump is made too
};

constexpr uint32_t kWaitSourceEncoder = 3;
constexpr uint32_t kEncoderMask = 0xFFFFFF;

void LaserModWait(uint32_t a, uint32_t b, uint32_t source) REQUIRES(g_MarkCall);
void LaserModTest(uint32_t a, uint32_t b, uint32_t source, uint32_t ok, uint32_t ng) REQUIRES(g_MarkCall);

void AppendAllLasersPowerZero() REQUIRES(g_MarkCall);
void LaserModPowerStep(bool bTrig, uint32_t flag, uint32_t a, uint32_t b, int32_t mode, int32_t dotTime, bool bNoWait)
    REQUIRES(g_MarkCall);
void LaserModSegment() REQUIRES(g_MarkCall);
void LaserModWobSlot(uint32_t s, uint32_t a, uint32_t b) REQUIRES(g_MarkCall);
void LaserModuleProgram() REQUIRES(g_MarkCall);
void LaserModByIOProgram(uint32_t layer, int32_t mode, int32_t dotTime) REQUIRES(g_MarkCall);
void LaserModByEncProgram(uint32_t layer, int32_t mode, int32_t dotTime, uint32_t startValue, uint32_t endValue)
    REQUIRES(g_MarkCall);
// The spot weld: `spotTime` µs of laser at label 2, repeated every 1 / frequency s (a frequency
// below 0.001 Hz marks once); a spot that does not fit its period (2 µs margin) fails the job with
// code 2 and "Spot welding time is greater than the frequency cycle!".
void LaserModDotProgram(uint32_t layer, const LaserWaitCond& cond, double x, double y, double frequency,
                        double spotTime) REQUIRES(g_MarkCall);
void LaserModSpotWeldBody(const LaserWaitCond& cond, double frequency, double spotTime) REQUIRES(g_MarkCall);
// The wobble figure on an encoder condition: `points` holds `count` records of six reals (x and y
// read). Needs 21-bit codes (its moves are the accelerated 21-bit vectors).
void LaserModWobByEncProgram(const uint8_t* points, int32_t count, uint32_t layer, const LaserWaitCond& cond)
    REQUIRES(g_MarkCall);
void LaserModWobByEncBody(uint32_t layer, const LaserWaitCond& cond) REQUIRES(g_MarkCall);
constexpr uint32_t kWobEncPointBytes = 48;

void OssResetOutputs() REQUIRES(g_MarkCall);
// `positions`: four u16 X galvanometer codes (host memory, little-endian); flag 0 or 1.
void OssLaserModuleProgram(const uint8_t* positions, uint32_t flag) REQUIRES(g_MarkCall);
void OssLaserModTriggerBlock(uint32_t n, uint16_t position, uint32_t flag) REQUIRES(g_MarkCall);
void OssLaserModOffBlock(uint32_t n, uint32_t flag) REQUIRES(g_MarkCall);
void OssLaserModFrame(uint32_t flag) REQUIRES(g_MarkCall);

// A figure in the line storage for a program that plays it whole: the storage reset, the points
// (a point within 0.001 mm of the one before dropped, turning angles set, never split at a corner),
// then the second point once more; the look-ahead at least the point count + 3, so the polyline
// generator never consumes part of it. ClearFigure empties the storage and sets the look-ahead back
// to 10.
void StoreFigure(const std::vector<LinePoint>& pts, uint32_t layer) REQUIRES(g_MarkCall);
void ClearFigure() REQUIRES(g_MarkCall);

// The whole-job exports QZ_WobStart, QZ_LaserModuleStart and QZ_OssLaserModuleStart: one job around
// `generator`, refused (2, log and box) without its configuration switch (`switchSet`, text
// `switchText`) or on a card below version 80. A refusal while a job is open leaves that job as it
// was; from idle the job state stays "starting". 0, 1, 2, 16, or the generator's failure.
uint32_t RunWholeJob(const char* name, uint32_t mode, bool switchSet, const char* switchText,
                       const std::function<void()>& generator);
