#pragma once
// Timed words, word channels and floors.
//
// Every mark-list command becomes time-stamped words. The generators do not write one stream: each
// writes into one of the eight word channels of the current generator context, the floor, stamping
// each word with its own absolute time on the floor's clock. The flush pipeline (mark_data2fifo.h)
// later merges floor 0's channels in time order into the card's stream.
//
// Words that must run on their own time base (the job end, dot lists, camera sequences, polylines,
// wobble and laser-module programs) are written on floor 1, opened with CMarkFloor::Push (better:
// FloorScope) and closed with Pop. An upper floor is tied ("anchored") to the floor below once its
// clock reaches a threshold: from then on its words move down shifted by a merge offset, so that each
// of its channels starts after the lower floor's last word of that channel plus the channel's gap,
// and after the lower main stream's last word plus 1 µs.
//
// The appenders and every generator write through g_FloorCursors, which CMarkFloor::BindCurrent
// points at the current floor; a generator never needs to know which floor it writes.
//
// All of this belongs to the host thread that holds the mark-call guard; nothing here locks.
#include <cstdint>
#include <exception>
#include <vector>

#include "markbase/job_state.h"

// A stream word with its time in µs since the job start, on the clock of the floor that holds it.
// The time is stored unsigned and always compared as signed (TwTime). The natural 16-byte layout is
// kept: the record only lives in host memory and is never written to a buffer as such.
struct TimedWord {
  uint64_t time;
  uint32_t word;
  friend bool operator==(const TimedWord&, const TimedWord&) = default;
};
inline int64_t TwTime(const TimedWord& w) { return static_cast<int64_t>(w.time); }

// Roles of the eight channels.
enum FloorChannel : int {
  CH_GALVO = 0,      // galvanometer position words
  CH_LASER0_A = 1,   // first word list of laser 0
  CH_WAVE0 = 2,      // power-wave list of laser 0
  CH_MAIN = 3,       // the main stream: every word of the appenders
  CH_LASER1_A = 4,   // first word list of laser 1
  CH_WAVE1 = 5,      // power-wave list of laser 1
  CH_LASER0_B = 6,   // second word list of laser 0
  CH_LASER1_B = 7,   // second word list of laser 1
};
constexpr int kFloorChannels = 8;
constexpr int kFloorCount = 3;
constexpr int64_t kFloorResetOffTime = -10000000;

// Gap in µs that the floor merge keeps between the lower floor's last word of a channel and the
// upper floor's first word of the same channel.
int64_t FloorChannelGap(int channel);

// A laser's segment state, kept per floor.
struct FloorLaserState {
  uint32_t nState = 0;
  uint64_t nOnTime = 0;
  int64_t nOffTime = kFloorResetOffTime;
};

// The last power-wave word of a laser, kept per floor.
struct FloorWavePower {
  uint32_t nValue = 0;
  int64_t nTime = kFloorResetOffTime;
};

class CMarkFloor {
 public:
  explicit CMarkFloor(int32_t idx);
  CMarkFloor(const CMarkFloor&) = delete;
  CMarkFloor& operator=(const CMarkFloor&) = delete;

  // Empties the eight channels (capacity kept), zeroes the line times, resets both laser states and
  // both wave powers, clock 0, not anchored.
  void Reset();
  // clock := the largest of the clock and the time of the last word of each non-empty channel.
  void UpdateClock();
  // Time of the last word of a channel (the channel must not be empty).
  int64_t LastTime(int channel) const { return TwTime(ch[channel]->back()); }
  bool AnyWords() const;

  // g_pCurFloor := floor[nFloor], and every cursor to that floor.
  static void BindCurrent();
  // Opens the next floor: code 27 outside a mark call; a third floor fails the job with code 2.
  static void Push();
  // Closes the current floor: merges it down and flushes (unless the job is stopped or failed),
  // then binds the floor below. Code 27 outside a mark call.
  static void Pop() REQUIRES(g_MarkCall);

  int32_t index;
  std::vector<TimedWord>* ch[kFloorChannels];
  int64_t nLineTime[3] = {};
  std::vector<TimedWord> ch0;
  FloorLaserState laserState[2];
  std::vector<TimedWord> ch1, ch4;
  std::vector<TimedWord> ch6, ch7;
  FloorWavePower wavePower[2];
  std::vector<TimedWord> ch2, ch5;
  std::vector<TimedWord> ch3;
  uint64_t clock = 0;
  uint8_t bAnchored = 0;
  int64_t nMergeOffset = 0;
};

extern CMarkFloor g_MarkFloor[kFloorCount];
extern int32_t nFloor;             // index of the current floor
extern CMarkFloor* g_pCurFloor;    // the current floor while a mark call holds the guard, else null

// Where the generators write: set by CMarkFloor::BindCurrent, always pointing at a valid floor
// (floor 0 from the load on).
struct FloorCursors {
  CMarkFloor* pFloor;
  // The main stream and the clock (the appenders).
  std::vector<TimedWord>* pMain;
  uint64_t* pClock;
  // The scanner: galvanometer channel and the vector encoders' line times.
  std::vector<TimedWord>* pGalvo;
  int64_t* pLineTime;
  // The lasers (CLaser 0 and 1): first and second word lists and the segment state.
  struct Laser {
    std::vector<TimedWord>* pFirst;
    std::vector<TimedWord>* pSecond;
    FloorLaserState* pState;
  } laser[2];
  // The power-wave holders (CWaveHolder 0 and 1): the list and the last power word.
  struct Wave {
    std::vector<TimedWord>* pList;
    FloorWavePower* pPower;
  } wave[2];
};
extern FloorCursors g_FloorCursors;

// The floor the cursors are bound to.
inline CMarkFloor& CurFloor() { return *g_FloorCursors.pFloor; }

// The flush pipeline above this floor (mark_data2fifo.h) installs itself here: the stream time of
// the last word it merged, and a non-final flush of floor 0 (run with the mark-call guard held). Until
// it is installed nothing has been merged and a pop flushes nothing.
struct FloorPipeline {
  int64_t (*mergedTime)() = nullptr;
  void (*flush)() = nullptr;
};
void InstallFloorPipeline(FloorPipeline pipeline);

// Moves an anchored upper floor (and those between it and floor 0) down; true.
bool MergeUpperFloor(int32_t thresholdCurrent, int32_t thresholdLower);
// The offset that places upper floor U behind lower floor L; 0 when no channel pair has words.
int64_t ComputeFloorMergeOffset(const CMarkFloor& lower, const CMarkFloor& upper);

// The appenders of the main stream of the current floor. dt is added to the clock as a signed value.
// AppendStreamWord: clock += dt; {clock, word}; with pad > 0 also clock += pad; {clock, NOP}.
void AppendStreamWord(int32_t dt, int32_t pad, uint32_t word);
// clock += dt; {clock, NOP}.
void AppendStreamNop(int32_t dt);
// A batch with relative times: each time gets the clock added (in the caller's batch), the batch is
// appended and the clock moves to the main stream's last time. An empty batch changes nothing.
void AppendShiftedWords(std::vector<TimedWord>& batch);

// The steps of RunOnUpperFloor: the push (a refused third floor is undone) and the pop, each
// abandoning the upper floors when it fails.
void PushUpperFloor();
void PopUpperFloor() REQUIRES(g_MarkCall);
// The rebinding of RunOnUpperFloor's exception path: records the job's failure from `why` when it
// has not failed yet (no box), then nFloor := 0 and BindCurrent.
void AbandonUpperFloors(std::exception_ptr why) noexcept;

// Runs `body` on its own floor: pushes, runs, pops. When an exception leaves the body (or the push
// or the pop), the job fails with that exception's code and text (unless it has failed already),
// floor 0 is bound again so that no later call writes into a floor nothing will merge, and the
// exception goes on to the export, which reports it.
template <class Body>
void RunOnUpperFloor(Body&& body) REQUIRES(g_MarkCall) {
  PushUpperFloor();
  try {
    body();
  } catch (...) {
    AbandonUpperFloors(std::current_exception());
    throw;
  }
  PopUpperFloor();
}
