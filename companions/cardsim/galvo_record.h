#pragma once
// The card's galvanometer outputs as the executor drives them: the X, Y and Z codes now and the
// trace of where they went since the buffer open. The executor decodes the position words
// (stream_engine.cpp) and tells this record what they mean; the record never looks at a word's
// fields.
//
// One trace entry per stream time at which a position word ran: the words of one microsecond (the
// X and the Y word of a step, a Z word beside them) make one entry holding the codes after the
// last of them, the axes they set and the OR of their flags. The trace keeps its first kCapacity
// entries and counts the rest; a question about a time in the part not kept has no answer.
#include <cstdint>
#include <vector>

#include "cardsim_api.h"

namespace cardsim {

class GalvoRecord {
 public:
  static constexpr uint32_t kCapacity = 1u << 21;
  enum class Axis : uint32_t { X, Y, Z };

  // Back to the state of a buffer open: codes 0, form open, trace empty.
  void Reset();
  // 0 until the run fixed its form, then 16 or 21.
  uint32_t Form() const { return form_; }
  // Fixes the form for the rest of the run; `word` the word that fixed it, lit21 whether the
  // 21-bit words count as lit.
  void SetForm(uint32_t form, bool lit21, uint32_t word);
  bool Lit21() const { return lit21_; }
  // A position word: the axis it sets, the code, CARDSIM_POS_LIT / _JUMP / _21BIT, the word, at t.
  void Move(Axis axis, uint32_t code, uint32_t flags, uint32_t word, uint64_t t);

  void State(cardsim_galvo& out) const;
  uint32_t Count() const { return total_; }
  bool Get(uint32_t index, cardsim_position& out) const;
  // The entry in force at t (the last one at or before t; index 0xFFFFFFFF and codes 0 before the
  // first). false when t lies at or after the first entry not kept. Leaves out.time_us and
  // out.laser_on alone.
  bool At(uint64_t t, cardsim_mirror& out) const;

 private:
  uint32_t form_ = 0;
  bool lit21_ = false;
  uint32_t formWord_ = 0;
  uint32_t code_[3] = {};
  uint32_t words_ = 0;
  cardsim_position cur_{};  // the entry of the latest time, kept or not
  bool hasCur_ = false;
  bool curKept_ = false;
  uint64_t firstDropped_ = 0;
  std::vector<cardsim_position> entries_;
  uint32_t total_ = 0;
};

}  // namespace cardsim
