#pragma once
// The simulated card's control functions resolved from the loaded driver-link module, and the readers
// of its frame log, trace, state, flash and FIFO: one set for the host harness (the library loaded
// from a staged folder) and for the unit harness (the core linked in).
#include <gtest/gtest.h>

#include <tuple>
#include <vector>

#include "cardsim_api.h"

namespace qztest {

using Cmd = std::tuple<uint32_t, uint32_t, uint32_t>;  // a command frame: command, p1, p2

class SimControl {
 public:
#define QZ_SIM_MEMBER(fn) decltype(&fn) fn##_ = nullptr;
  CARDSIM_CONTROL_FUNCTIONS(QZ_SIM_MEMBER)
#undef QZ_SIM_MEMBER

  // Resolves every control function through `find` (a symbol of the loaded module); a missing one
  // is a test failure (and false).
  template <class Find>
  bool ResolveSim(Find&& find) {
    bool all = true;
#define QZ_SIM_RESOLVE(fn)                                 \
  fn##_ = reinterpret_cast<decltype(&fn)>(find(#fn));      \
  if (!fn##_) all = false, ADD_FAILURE() << "simulated card lacks " #fn;
    CARDSIM_CONTROL_FUNCTIONS(QZ_SIM_RESOLVE)
#undef QZ_SIM_RESOLVE
    return all;
  }

  // The frames logged since the last clear, without the watchdog's hardware-version reads unless
  // keepWatchdogReads is set.
  std::vector<cardsim_frame> Frames();
  // The command frames logged since the last clear (of one number only, unless 0).
  std::vector<Cmd> Sent(uint32_t only = 0);
  // The words the card decoded (trace 1) or executed (CARDSIM_TRACE_EXECUTED), with their times;
  // the decoded words alone.
  std::vector<cardsim_trace_entry> TraceEntries(uint32_t trace = 1);
  std::vector<uint32_t> TraceWords();
  // The waits the card ran, in order.
  std::vector<cardsim_wait> WaitRecords();
  cardsim_state State();
  cardsim_flash Flash();
  cardsim_fifo Fifo();
  // Erases and programs of both chips.
  uint32_t FlashWrites();

  bool keepWatchdogReads = true;
};

// A hardware-version read (command 81 (0, 0)) sent by a thread other than the test's: the watchdog's,
// every 50 ms once the parameter file was applied.
bool IsWatchdogRead(const cardsim_frame& f);

}  // namespace qztest
