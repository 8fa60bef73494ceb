#include "galvo_record.h"

#include <algorithm>

namespace cardsim {

namespace {
constexpr uint32_t kAxisFlag[3] = {CARDSIM_POS_X, CARDSIM_POS_Y, CARDSIM_POS_Z};
constexpr uint32_t kNoEntry = 0xFFFFFFFFu;
}  // namespace

void GalvoRecord::Reset() {
  *this = GalvoRecord();
}

void GalvoRecord::SetForm(uint32_t form, bool lit21, uint32_t word) {
  form_ = form;
  lit21_ = lit21;
  formWord_ = word;
}

void GalvoRecord::Move(Axis axis, uint32_t code, uint32_t flags, uint32_t word, uint64_t t) {
  const auto a = static_cast<uint32_t>(axis);
  code_[a] = code;
  words_ += 1;
  if (hasCur_ && cur_.time_us == t) {
    cur_.flags |= flags | kAxisFlag[a];
    cur_.words += 1;
  } else {
    cur_ = cardsim_position{};
    cur_.time_us = t;
    cur_.flags = flags | kAxisFlag[a];
    cur_.words = 1;
    hasCur_ = true;
    curKept_ = total_ < kCapacity;
    if (!curKept_ && total_ == kCapacity) firstDropped_ = t;
    total_ += 1;
    if (curKept_) entries_.push_back(cur_);
  }
  cur_.x = code_[0];
  cur_.y = code_[1];
  cur_.z = code_[2];
  cur_.word = word;
  if (curKept_) entries_.back() = cur_;
}

void GalvoRecord::State(cardsim_galvo& out) const {
  out = cardsim_galvo{};
  out.last_time_us = hasCur_ ? cur_.time_us : 0;
  out.x = code_[0];
  out.y = code_[1];
  out.z = code_[2];
  out.form = form_;
  out.form_word = formWord_;
  out.flags = hasCur_ ? cur_.flags : 0;
  out.words = words_;
  out.position_count = total_;
  out.dropped = total_ - static_cast<uint32_t>(entries_.size());
}

bool GalvoRecord::Get(uint32_t index, cardsim_position& out) const {
  if (index >= entries_.size()) return false;
  out = entries_[index];
  return true;
}

bool GalvoRecord::At(uint64_t t, cardsim_mirror& out) const {
  if (total_ > entries_.size() && t >= firstDropped_) return false;
  // Times never decrease along the trace: the first entry after t, then the one before it.
  const auto it = std::upper_bound(entries_.begin(), entries_.end(), t,
                                   [](uint64_t v, const cardsim_position& p) { return v < p.time_us; });
  if (it == entries_.begin()) {
    out.moved_us = 0;
    out.x = out.y = out.z = 0;
    out.flags = 0;
    out.index = kNoEntry;
    return true;
  }
  const cardsim_position& p = *(it - 1);
  out.moved_us = p.time_us;
  out.x = p.x;
  out.y = p.y;
  out.z = p.z;
  out.flags = p.flags;
  out.index = static_cast<uint32_t>(it - 1 - entries_.begin());
  return true;
}

}  // namespace cardsim
