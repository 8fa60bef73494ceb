#pragma once
// Rotation marking: a motor axis (extra axis 1) replaces one galvanometer axis, and the workpiece
// turns under the scanner.
//
// The job's words are generated as usual. At a final flush the merged queue is rewritten into the
// rotation queue (RotMark::Process): the replaced axis's position words become NOPs; marker words
// cut the stream into segments (0x05000001 a segment start, 0x05000002 and 0x05000003 the start and
// the end of its ramp; no mark-list command places them); runs of segments in one direction get a
// positioning move and a marking move of axis 1, a wait until axis 1 reaches the first segment and a
// retiming that places the segments one after the other at the motor's speed, while the replaced
// axis follows each segment with a ramp of position words (one every 10 µs) and returns to its
// resting code after it. Everything the rewrite read is taken out of the merged queue, so a second
// final flush of the same job (QZ_MarkFlush) never sends a word twice; the time offset that inserted
// motion adds carries over to it.
//
// The replaced axis. Its index in the stream is the configured axis, or the other one (1 - axis)
// when the calibration's coordinate transform swaps X and Y (COORD_TYPE 4-7).
//
// Codes. Positions, the resting code, k (the millimetres per code) and the acceleration length are
// in the codes of the stream's galvanometer words:
//   16-bit codes: position words (w & 0xFFF80000) == 0x01000000 with (w >> 16) & 3 the index, the
//     code w & 0xFFFF, 32767 before the first one; k = FX / 65535 with FX the X field size for
//     either index; resting code trunc(p / k + 32767.0), p = MarkEnd_X for index 0, MarkEnd_Y for
//     index 1 (limited to 0..65535); acceleration length trunc(dbMotorAccLenMM / k); a code c back
//     in mm: c / 65535 * F - F / 2 with F the field size of the index.
//   21-bit codes (bNewBoxCali, cards from version 80): position words (w & 0xFFE00000) ==
//     0x01000000 (index 0) or 0x01400000 (index 1), the code w & 0x1FFFFF, 1048576 (0 mm) before the
//     first one; with R the half range of the box correction, k = 2R / 2^21; resting code
//     round((p + R) / 2R * 2^21) limited to 0..2097151, the code the galvanometer encoder writes for
//     p, so the replaced axis rests where the scanner's own rest jump put it; acceleration length
//     round(dbMotorAccLenMM / k); a code c back in mm: c / 2^21 * 2R - R.
// The other 0x01 words (direct jumps, Z, the other axis) stay.
//
// Speeds: vmin is the slowest of the run's segment pairs, |dP| / |dt| with dt between their ramp
// starts; two ramp starts at the same time make that pair's speed infinite, so another pair
// decides. A speed limit of 0 or an acceleration length of 0 reaches the marking move, whose
// velocity or acceleration code the card cannot take: the job fails there with code 29.
//
// Refusal, before any motor code is formed: marker lists of unequal length (the segments cannot be
// paired) fail the job with code 2 and a text naming the counts.
#include <atomic>
#include <cstdint>
#include <vector>

#include "markbase/mark_floor.h"

// QZ_SetRotateMarkPara's settings: written by the host without a lock, read at the job start and
// by the flush.
struct RotateMarkPara {
  std::atomic<uint32_t> nEnable{0};  // rotation marking is on when 1
  std::atomic<uint32_t> nAxis{0};    // the galvanometer axis replaced: 0 X, 1 Y
  std::atomic<double> dbSpeedLimit{0.0};  // fastest rotation, units of axis 1 per second
  std::atomic<double> dbRampFactor{0.0};  // slope factor of the replaced axis's ramp
  std::atomic<double> dbMotorAccLenMM{5.0};  // [SCAN] dbMotorAccLenMM: the motor's acceleration length
};
extern RotateMarkPara g_RotatePara;

// Stores the four settings (the axis also for the card parameter upload) and reads [SCAN]
// dbMotorAccLenMM (default 5.0); logs its name at INFO when enable is nonzero. 0.
uint32_t SetRotateMarkPara(uint32_t enable, uint32_t axis, double speedLimit, double rampFactor);

// What one job's rewrite needs, fixed at the job start.
struct RotMarkSettings {
  uint32_t axis = 0;          // stream index of the replaced axis: 0 X, 1 Y (low bit only)
  int32_t startCode = 32767;  // resting code of the replaced axis
  double fieldX = 100.0;      // X field size, mm: k = fieldX / 65535 with 16-bit codes
  double field = 100.0;       // field size of the replaced axis, mm: its 16-bit codes back to mm
  double halfRange = 10.0;    // R of the 21-bit codes, mm
  double sr = 1.0;            // axis 1's rotary scale when it is rotary, else 1
  double pulses = 100.0;      // axis 1's pulses per unit
  double maxVel = 300.0, maxAcc = 500.0;  // axis 1
  double speedLimit = 0.0, rampFactor = 0.0, accLenMM = 5.0;
  bool code21 = false;        // 21-bit codes (positions, ramps, k)
};

class RotMark {
 public:
  using Queue = std::vector<TimedWord>;

  // The rotation state of a new job: its settings, time offset 0.
  void Begin(const RotMarkSettings& s);
  // The settings from g_RotatePara, the axis records, the scanner and the configuration.
  static RotMarkSettings CurrentSettings();

  // Does nothing unless bFinal; else moves every entry of `queue` into `out`, rewritten, and empties
  // `queue`.
  void Process(bool bFinal, Queue& queue, Queue& out);

  // Pieces, public for their tests.
  void ShiftStreamTimes(size_t from, size_t to, Queue& out);
  void AddSegment(int32_t start, int32_t startPos, int32_t m2, int32_t m3, int32_t end, int32_t endPos);
  void ProcessSegments(size_t& resume, Queue& out);
  void InsertMotorMove(int32_t accLen, bool direction, double r);
  void AppendRamp(Queue& list, int32_t target, uint64_t t, int64_t duration, double start) const;
  static void MergeByTime(Queue& out, const Queue& list, Queue& queue, size_t from, size_t to);

  int64_t TimeOffset() const { return offset_; }
  int32_t RampGap() const { return gap_; }
  const RotMarkSettings& Settings() const { return s_; }

 private:
  struct Segments {
    std::vector<int32_t> start, startPos, m2, m3, end, endPos;
    void clear();
    size_t size() const { return start.size(); }
  };
  double K() const;  // mm per code
  double DacToMm(int32_t code) const;
  // The position word of the replaced axis, its code in `code`.
  bool IsPositionWord(uint32_t w, int32_t& code) const;
  int64_t T(size_t j) const { return static_cast<int64_t>((*q_)[j].time); }
  // t(a) - t(b) on the low 32 bits, signed.
  int32_t Diff(size_t a, size_t b) const;
  void Group(const std::vector<int32_t>& end, const std::vector<int32_t>& endPos, size_t& resume, Queue& out);
  void ClearWalk();  // empties the working lists below

  RotMarkSettings s_;
  int64_t offset_ = 0;
  int32_t gap_ = 0;
  Queue* q_ = nullptr;
  // Working lists of one walk and the run being processed.
  std::vector<int32_t> segStart_, segStartPos_, m2_, m3_, segEnd_, segEndPos_;
  Segments run_;
  Queue motor_, ramp_, merged_;
};

extern RotMark g_RotMark;
