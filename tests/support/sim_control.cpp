#include "support/sim_control.h"

namespace qztest {

std::vector<cardsim_frame> SimControl::Frames() {
  std::vector<cardsim_frame> out;
  cardsim_frame f{};
  for (uint32_t i = 0, n = cardsim_log_count_(); i < n; ++i) {
    if (cardsim_log_get_(i, &f) != 0) continue;
    if (!keepWatchdogReads && IsWatchdogRead(f)) continue;
    out.push_back(f);
  }
  return out;
}

bool IsWatchdogRead(const cardsim_frame& f) {
  return f.kind == CARDSIM_KIND_COMMAND && (f.flags & CARDSIM_FRAME_OTHER_THREAD) != 0 && f.command == 81 &&
         f.p1 == 0 && f.p2 == 0;
}

std::vector<Cmd> SimControl::Sent(uint32_t only) {
  std::vector<Cmd> out;
  for (const cardsim_frame& f : Frames())
    if (f.kind == CARDSIM_KIND_COMMAND && (only == 0 || f.command == only)) out.emplace_back(f.command, f.p1, f.p2);
  return out;
}

std::vector<cardsim_trace_entry> SimControl::TraceEntries(uint32_t trace) {
  std::vector<cardsim_trace_entry> out(cardsim_trace_count_(trace));
  for (uint32_t i = 0; i < out.size(); ++i) cardsim_trace_get_(trace, i, &out[i]);
  return out;
}

std::vector<cardsim_wait> SimControl::WaitRecords() {
  std::vector<cardsim_wait> out(cardsim_wait_count_());
  for (uint32_t i = 0; i < out.size(); ++i) cardsim_wait_get_(i, &out[i]);
  return out;
}

std::vector<uint32_t> SimControl::TraceWords() {
  std::vector<uint32_t> out;
  for (const cardsim_trace_entry& e : TraceEntries()) out.push_back(e.word);
  return out;
}

cardsim_state SimControl::State() {
  cardsim_state s{};
  cardsim_get_state_(&s);
  return s;
}

cardsim_flash SimControl::Flash() {
  cardsim_flash f{};
  cardsim_get_flash_(&f);
  return f;
}

cardsim_fifo SimControl::Fifo() {
  cardsim_fifo f{};
  EXPECT_EQ(cardsim_get_fifo_(&f), 0u);
  return f;
}

uint32_t SimControl::FlashWrites() {
  const cardsim_flash f = Flash();
  return f.erases[0] + f.erases[1] + f.programs[0] + f.programs[1];
}

}  // namespace qztest
