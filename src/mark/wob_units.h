#pragma once
// Wobble units: small closed figures that the card keeps in its 16 program slots and plays in a loop,
// one slot at a time, chosen by its inputs 1 to 4.
//
// A host builds units with QZ_WobUnit / QZ_WobUnitPow; they stay in the unit list (g_WobUnits, under
// its own lock: a host may add units on one thread while another downloads) until QZ_WobUnitClear.
// QZ_WobStart copies the list and downloads it as one whole job (WobDownload).
//
// A unit is the host's points (x and y; the third real is not read) in the pen's layer, closed: when
// the first and last points differ by more than 0.001 mm in x or y, the first is appended again.
//
// The download (on the main stream unless said otherwise):
//   outputs 0, 5, 6 off; with 21-bit codes the correction mode word; label 3 (the idle loop); power 0
//   on laser 0 and a jump home; output 0 off, [bWait: wait for input 0 on]; output 5 on, [bWait: wait
//   for input 0 off]; [HARDWARE] nWobDocNoStableTmUs; output 0 on, output 5 off; a test of inputs 1
//   to 4 being off; the program frame 0x59100000, 0x5920001E, 0x51A20000; one block per unit in
//   slots 0, 1, ...; an empty block for every slot left up to 15; the end word; a final flush.
// A unit's block: the slot label 0x51800000 | 2s and the slot number on outputs 8 to 11
//   (0x20F00000 | s << 8), [bWait: the register write that returns to label 3]; then on an upper
//   floor the jump to the first point, the loop label 0x51800040 + 2s at t0, the path, t1, the power
//   profile on laser 0's power channel between t0 and t1, and the jump back to the loop label.
// The path: the stored points are the closed unit plus its second point once more, so that the
// closing corner gets its turning angle; the moves run from the first stored point to the last but
// one at the pen's mark speed, each with its corner wait, the galvanometer clock starting at t0.
// The power profile: each point (fraction f, power p) at trunc(f x D + t0) + offset (D = t1 - t0, the
// offset signed). Times inside [t0, t1] are kept within [t0 + 3, t1 - 3]; earlier ones (at most
// t0 - 3) wrap to the loop's end (+ D), later ones (at least t1 + 3) to its start (- D); each of the
// three lists is sorted by time, keeping the order of equal times. Neighbours closer than 20 µs, also
// across the loop's end, show the plain box "Pow Time too Close" once per unit; the download goes on.
// The loop's power words (on a fibre laser each with its two strobe words, which follow it by up to
// 0.6 step periods and so may pass a close neighbour's word) reach the channel in time order, equal
// times in the order written.
// An empty slot's block: its label, output 6 on, a 2 s pause [bWait: a wait for input 0 on], output 6
// off and the jump back to label 3.
#include <cstdint>
#include <vector>

#include "cardlink/card_locks.h"
#include "markbase/job_state.h"
#include "mark/line_storage.h"
#include "platform/lock.h"

constexpr uint32_t kWobSlots = 16;

using WobUnit = std::vector<LinePoint>;

struct WobPowEntry {
  uint8_t bEnable = 0;
  std::vector<double> positions;  // fractions of the loop (host percent / 100)
  std::vector<double> powers;     // percent
  double dbReserved = 0.0;
  int32_t nTimeOffset = 0;        // µs, signed
};

struct WobProgram {
  std::vector<WobUnit> units;
  std::vector<WobPowEntry> powers;  // one per unit, same index
};

class WobUnitList {
 public:
  void Clear() EXCLUDES(cs_);
  // Appends a unit with its power entry; 2 when 16 units are stored already (nothing stored).
  uint32_t Add(WobUnit unit, WobPowEntry entry) EXCLUDES(cs_);
  WobProgram Copy() const EXCLUDES(cs_);

 private:
  mutable plat::Lock cs_ ACQUIRED_AFTER(g_csCardBuf);
  WobProgram prog_ GUARDED_BY(cs_);
};
extern WobUnitList g_WobUnits;

// The argument checks of the unit exports, before anything is stored: null points with a positive
// count 2; fewer than 2 points 8; a layer outside 0..255 6; a coordinate that is not finite 7; with a
// profile, null positions or powers with a positive count 2, a position or power that is not finite 7.
uint32_t CheckWobUnit(const uint8_t* points, int32_t count, uint32_t layer);
uint32_t CheckWobProfile(int32_t bEnable, const double* positions, const double* powers, int32_t n);
// The unit of `count` host points (24 bytes each) in `layer`, closed.
WobUnit WobBuildUnit(const uint8_t* points, int32_t count, uint32_t layer);

// The times of a power profile for a loop from t0 to t1, in the order they are written; `close` is
// set when two neighbours are less than 20 µs apart (also the last and the first across the loop).
struct WobPowPoint {
  int64_t time;
  double power;
};
std::vector<WobPowPoint> WobProfileTimes(const WobPowEntry& entry, int64_t t0, int64_t t1, bool& close);

void WobUnitToStream(const WobUnit& unit, uint32_t slot, const WobPowEntry& entry, bool bFirst) REQUIRES(g_MarkCall);
void WobEmptySlotToStream(uint32_t slot, bool bWait) REQUIRES(g_MarkCall);
// The body of QZ_WobStart inside its job: the program of `prog` (at most 16 units).
void WobDownload(const WobProgram& prog, bool bWait) REQUIRES(g_MarkCall);
