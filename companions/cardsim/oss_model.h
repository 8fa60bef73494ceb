#pragma once
// The card's optical path switch, as far as the host's switch test sees it.
//
// Four paths each have a setting; the switch has a current setting. Command 0x149 (p, 0) answers
// path p's setting in r0 bits 0-15 (0 for a path beyond the four) and the current setting in r1
// bits 0-15; with p = 0 r0 also carries the progress of the switch back to path 1: bits 21
// (galvanometers planned), 22 (their feedback arrived) and 23 (done) rise, each its own delay after
// output 30 rose (or never), and all three fall when output 30 falls. Command 0x14A (0, s) makes s
// the current setting. Other parameters of 0x149 answer nothing of the switch.
#include <cstdint>

#include "cardsim_api.h"

namespace cardsim {

class OssModel {
 public:
  void Reset() { *this = OssModel(); }
  void Set(const cardsim_oss& o) { cfg_ = o; }
  void Fill(cardsim_oss& out) const { out = cfg_; }
  // The outputs after a change, at `nowUs`: a rising output 30 starts the delays, a falling one ends them.
  void Outputs(uint32_t outputs, uint64_t nowUs);
  // 0x149 and 0x14A; false for any other command.
  bool Command(uint32_t command, uint32_t p1, uint32_t p2, uint64_t nowUs, uint32_t& r0, uint32_t& r1);

 private:
  cardsim_oss cfg_{{0, 0, 0, 0}, 0, {0, 0, 0}};
  bool raised_ = false;
  uint64_t raisedAt_ = 0;
};

}  // namespace cardsim
