// A downloaded offline file as the simulated card runs it: the bytes become the card's received
// stream (the first byte chooses the block layout and whether the card runs at once or is stepped),
// the run starts at once, as an offline run does, and the card runs it in pieces of card time.
// Oracle: every driver entry returns (also for a program that loops in no time or opens loops
// without end); the card never consumes more than it received; a loop-stack alarm ends the run with
// its sub code; a run that ended stays ended, and after a stop no more words run (a downloaded
// program stays resident and runs on after its run ended, until a stop).
#include <algorithm>
#include <vector>

#include "fuzz_support.h"
#include "stream_engine.h"

namespace {

class Host : public cardsim::StreamHost {
 public:
  uint32_t StreamOutputs(uint32_t mask, uint32_t values) override { return outputs = (outputs & ~mask) | (values & mask); }
  void StreamRunning(bool) override {}
  void StreamAlarm(uint32_t bits) override { alarms |= bits; }
  uint32_t StreamInputs() override { return 0; }
  void StreamMotorWord(uint32_t) override {}
  uint32_t outputs = 0, alarms = 0;
};

void CheckFifo(const cardsim::StreamEngine& e) {
  cardsim_fifo f;
  e.Fill(f);
  FUZZ_CHECK(f.bytes_consumed <= f.bytes_received, "consumed %llu of %llu bytes",
             static_cast<unsigned long long>(f.bytes_consumed), static_cast<unsigned long long>(f.bytes_received));
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size == 0) return 0;
  Host host;
  cardsim::StreamEngine engine(host);
  engine.SetWordsPerEntry(1u << 12);
  cardsim::StreamSettings s;
  s.mode = data[0] & 4 ? CARDSIM_CONSUME_AT_ONCE : CARDSIM_CONSUME_STALLED;
  uint64_t now = 0;
  engine.Open(data[0] % 3, now);
  engine.StartRun(now);
  const auto enter = [&] {  // one driver entry: 1 ms passes
    now += 1000;
    if (s.mode == CARDSIM_CONSUME_AT_ONCE) engine.Sync(s, now);
    else engine.Step(1000, false);
    CheckFifo(engine);
  };
  for (size_t at = 1; at < size; at += 2048) {
    const uint32_t n = static_cast<uint32_t>(std::min<size_t>(2048, size - at));
    engine.Intake(data + at, n, s, now);
    enter();
  }
  engine.Flush(now);
  for (int i = 0; i < 16 && engine.PhaseCode() != CARDSIM_PHASE_ENDED; ++i) enter();
  if (host.alarms & cardsim::kLoopStackAlarm)
    FUZZ_CHECK(engine.PhaseCode() == CARDSIM_PHASE_ENDED && engine.SubCode() == cardsim::kLoopStackSub,
               "a loop-stack alarm without its end");
  if (engine.PhaseCode() == CARDSIM_PHASE_ENDED) {
    for (int i = 0; i < 4 && engine.Resident(); ++i) enter();
    engine.Stop();
    const uint32_t ran = engine.TraceCount(CARDSIM_TRACE_EXECUTED);
    enter();
    FUZZ_CHECK(!engine.Resident() && engine.PhaseCode() == CARDSIM_PHASE_ENDED &&
                   engine.TraceCount(CARDSIM_TRACE_EXECUTED) == ran,
               "an ended run ran on after a stop");
  }
  return 0;
}
