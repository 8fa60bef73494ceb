#include "markbase/mark_floor.h"

#include <exception>
#include <new>

#include "frame/conv.h"
#include "frame/errors.h"
#include "frame/system_para.h"
#include "markbase/job_state.h"
#include "markbase/stream_words.h"

CMarkFloor g_MarkFloor[kFloorCount] = {CMarkFloor(0), CMarkFloor(1), CMarkFloor(2)};
int32_t nFloor = 0;
CMarkFloor* g_pCurFloor = nullptr;

namespace {

FloorPipeline g_FloorPipeline;

FloorCursors CursorsOf(CMarkFloor& f) {
  FloorCursors c{};
  c.pFloor = &f;
  c.pMain = &f.ch3;
  c.pClock = &f.clock;
  c.pGalvo = &f.ch0;
  c.pLineTime = f.nLineTime;
  c.laser[0] = {&f.ch1, &f.ch6, &f.laserState[0]};
  c.laser[1] = {&f.ch4, &f.ch7, &f.laserState[1]};
  c.wave[0] = {&f.ch2, &f.wavePower[0]};
  c.wave[1] = {&f.ch5, &f.wavePower[1]};
  return c;
}

// Adds two times with the wrap of the unsigned clock (no signed overflow).
uint64_t AddTime(uint64_t t, int64_t d) { return t + static_cast<uint64_t>(d); }

// Floor 0's words go to the merge, which refuses a word earlier than the last one it merged. The
// channel rules only see the words floor 0 still holds: after a full flush it holds none, and an
// upper floor would keep its own small times. An offset that would put the upper floor's earliest
// word before the last merged time is replaced by the one that puts that word just after it.
int64_t KeepAfterMerged(const CMarkFloor& upper, int64_t offset) {
  const int64_t merged = g_FloorPipeline.mergedTime ? g_FloorPipeline.mergedTime() : 0;
  bool any = false;
  int64_t first = 0;
  for (const auto* c : upper.ch)
    if (!c->empty() && (!any || TwTime(c->front()) < first)) {
      first = TwTime(c->front());
      any = true;
    }
  if (!any || static_cast<int64_t>(AddTime(static_cast<uint64_t>(first), offset)) >= merged) return offset;
  return static_cast<int64_t>(AddTime(AddTime(static_cast<uint64_t>(merged), 1), -first));
}

}  // namespace

FloorCursors g_FloorCursors = CursorsOf(g_MarkFloor[0]);

void InstallFloorPipeline(FloorPipeline pipeline) { g_FloorPipeline = pipeline; }

int64_t FloorChannelGap(int channel) {
  switch (channel) {
    case CH_LASER0_A:
    case CH_WAVE1:
      return g_SystemPara.LASER_OFF_ON_INTEVAL;
    case CH_WAVE0:
    case CH_LASER0_B:
      return 20;
    case CH_MAIN:
      return 1;
    case CH_LASER1_A:
      return 5;
    default:
      return 0;  // galvanometer and laser 1's second list
  }
}

CMarkFloor::CMarkFloor(int32_t idx)
    : index(idx), ch{&ch0, &ch1, &ch2, &ch3, &ch4, &ch5, &ch6, &ch7} {
  Reset();
}

void CMarkFloor::Reset() {
  for (auto* c : ch) c->clear();  // clear() keeps the capacity
  for (auto& t : nLineTime) t = 0;
  for (auto& s : laserState) s = FloorLaserState{};
  for (auto& w : wavePower) w = FloorWavePower{};
  clock = 0;
  bAnchored = 0;
}

void CMarkFloor::UpdateClock() {
  int64_t c = static_cast<int64_t>(clock);
  for (const auto* v : ch)
    if (!v->empty() && TwTime(v->back()) > c) c = TwTime(v->back());
  clock = static_cast<uint64_t>(c);
}

bool CMarkFloor::AnyWords() const {
  for (const auto* v : ch)
    if (!v->empty()) return true;
  return false;
}

void CMarkFloor::BindCurrent() {
  CMarkFloor& f = g_MarkFloor[nFloor];
  g_pCurFloor = &f;
  g_FloorCursors = CursorsOf(f);
  // CLaser 0/1 and CWaveHolder 0/1 keep pointers into g_FloorCursors.laser[] and .wave[]; when they
  // hold copies of their own instead, this is where they take the new floor's cursors.
}

void CMarkFloor::Push() {
  RequireMarkCall();
  if (nFloor >= kFloorCount - 1) {
    // Never index beyond the third floor, whatever state an earlier failure left.
    SetMarkErrorAndThrow(RV_ERROR, "ERROR:  nfloor == 2!!! ");
  }
  nFloor += 1;
  BindCurrent();
  CurFloor().Reset();
  if (nFloor == 2) SetMarkErrorAndThrow(RV_ERROR, "ERROR:  nfloor == 2!!! ");
}

void CMarkFloor::Pop() {
  RequireMarkCall();
  if (!JobStoppedOrFailed()) {
    MergeUpperFloor(0, static_cast<int32_t>(g_SystemPara.nSteadyWindowUs));
    if (g_FloorPipeline.flush) g_FloorPipeline.flush();
  }
  if (nFloor > 0) nFloor -= 1;
  BindCurrent();
}

int64_t ComputeFloorMergeOffset(const CMarkFloor& lower, const CMarkFloor& upper) {
  bool any = false;
  int64_t best = 0;
  auto consider = [&](int64_t v) {
    if (!any || v > best) best = v;
    any = true;
  };
  for (int i = 0; i < kFloorChannels; ++i) {
    if (upper.ch[i]->empty()) continue;
    const int64_t first = TwTime(upper.ch[i]->front());
    if (!lower.ch[i]->empty())
      consider(static_cast<int64_t>(AddTime(AddTime(lower.ch[i]->back().time, FloorChannelGap(i)), -first)));
    if (!lower.ch3.empty()) consider(static_cast<int64_t>(AddTime(AddTime(lower.ch3.back().time, 1), -first)));
  }
  return any ? best : 0;
}

bool MergeUpperFloor(int32_t thresholdCurrent, int32_t thresholdLower) {
  const int32_t k = CurFloor().index;
  if (k < 1) return true;
  for (int32_t u = k; u >= 1; --u) {
    CMarkFloor& up = g_MarkFloor[u];
    CMarkFloor& low = g_MarkFloor[u - 1];
    const int64_t threshold = u == k ? thresholdCurrent : thresholdLower;
    if (!up.bAnchored) {
      up.UpdateClock();
      if (static_cast<int64_t>(up.clock) >= threshold) {
        up.bAnchored = 1;
        up.nMergeOffset = ComputeFloorMergeOffset(low, up);
        if (low.index == 0) up.nMergeOffset = KeepAfterMerged(up, up.nMergeOffset);
      }
      if (!up.bAnchored) continue;
    }
    const bool shift = !JobStoppedOrFailed();
    for (int i = 0; i < kFloorChannels; ++i) {
      std::vector<TimedWord>& src = *up.ch[i];
      if (src.empty()) continue;
      if (shift)
        for (auto& w : src) w.time = AddTime(w.time, up.nMergeOffset);
      std::vector<TimedWord>& dst = *low.ch[i];
      dst.insert(dst.end(), src.begin(), src.end());
      src.clear();
    }
    low.UpdateClock();
  }
  return true;
}

void AppendStreamWord(int32_t dt, int32_t pad, uint32_t word) {
  uint64_t& clock = *g_FloorCursors.pClock;
  clock = AddTime(clock, dt);
  g_FloorCursors.pMain->push_back({clock, word});
  if (pad > 0) {
    clock = AddTime(clock, pad);
    g_FloorCursors.pMain->push_back({clock, SW_NOP});
  }
}

void AppendStreamNop(int32_t dt) {
  uint64_t& clock = *g_FloorCursors.pClock;
  clock = AddTime(clock, dt);
  g_FloorCursors.pMain->push_back({clock, SW_NOP});
}

void AppendShiftedWords(std::vector<TimedWord>& batch) {
  if (batch.empty()) return;
  uint64_t& clock = *g_FloorCursors.pClock;
  std::vector<TimedWord>& main = *g_FloorCursors.pMain;
  for (auto& w : batch) w.time += clock;
  main.insert(main.end(), batch.begin(), batch.end());
  clock = main.back().time;
}

namespace {

// The text a job failure gets from the exception that left a floor: a library failure's own text,
// the text of code 38 for a memory failure, what any other exception says.
std::string FailureTextOf(std::exception_ptr e) {
  try {
    if (e) std::rethrow_exception(e);
  } catch (const MyException& x) {
    return GetErrText(static_cast<int32_t>(x.code));
  } catch (const std::bad_alloc&) {
    return GetErrText(RV_MEMORY_EXCEPTION);
  } catch (const std::exception& x) {
    return x.what();
  } catch (...) {
  }
  return GetErrText(RV_ERROR);
}

}  // namespace

void AbandonUpperFloors(std::exception_ptr why) noexcept {
  try {
    // The failure keeps the exception's own code and text; it is reported (and boxed, when it is
    // one to show) where the exception ends, so nothing is shown here.
    if (!MarkFailed()) RecordMarkFailure(FailureTextOf(why));
  } catch (...) {
  }
  nFloor = 0;
  CMarkFloor::BindCurrent();
}

void PushUpperFloor() {
  try {
    CMarkFloor::Push();
  } catch (const MyException& e) {
    // Code 27 changed nothing; a refused third floor has moved up and must be undone.
    if (e.code != RV_MARK_DATA_NOT_LOCKED) AbandonUpperFloors(std::current_exception());
    throw;
  }
}

void PopUpperFloor() {
  try {
    CMarkFloor::Pop();
  } catch (...) {
    AbandonUpperFloors(std::current_exception());
    throw;
  }
}
