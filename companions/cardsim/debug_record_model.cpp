#include "debug_record_model.h"

namespace cardsim {

namespace {
constexpr uint32_t kLongDtMax = 0xFFFFFFu;
constexpr uint32_t kShortDtMax = 0xFFFFFu * 6u;
constexpr uint32_t kLongField[5] = {0, 0xB, 0xC, 0xA, 0x9};
constexpr uint32_t kShortField[4] = {0, 0xB, 0xC, 0xA};
}  // namespace

void DebugRecordModel::RunOpened() {
  base_ = Now();
  stream_ = 0;
  nextSample_ = 0;
  running_ = true;
}

void DebugRecordModel::StreamAt(uint64_t t, uint32_t ad, uint32_t da) {
  if (!running_) return;
  if (nextSample_ <= t) {
    // Samples nobody keeps (records off, or a full queue) are stepped over at once: an idle loop
    // may move the clock by hours.
    const uint64_t due = (t - nextSample_) / periodUs_ + 1;
    const bool keep = on_ && (kinds_ & 2);
    const uint64_t room = keep && queue_.size() < kCapacity ? kCapacity - queue_.size() : 0;
    const uint32_t word = (ad & 0xFFFFu) | ((da & 0xFFFu) << 20);
    uint64_t n = 0;
    for (; n < due && n < room; ++n) {
      stream_ = nextSample_;
      Push(2, word);
      nextSample_ += periodUs_;
    }
    if (n < due) {
      nextSample_ += (due - n) * periodUs_;
      stream_ = nextSample_ - periodUs_;
      if (keep) {
        overflow_ += static_cast<uint32_t>(due - n);
        lastUs_ = Now();
      }
    }
  }
  if (t > stream_) stream_ = t;
}

void DebugRecordModel::IoWord(uint32_t word) {
  if (word == ioWord_) return;
  ioWord_ = word;
  if ((word & 1u) == 0) running_ = false;
  if (on_) Push(3, word);
}

void DebugRecordModel::Moved(uint32_t x, uint32_t y, bool wide) {
  if (!on_ || !(kinds_ & 1)) return;
  if (wide) {
    x >>= 5;
    y >>= 5;
  }
  Push(1, (x & 0xFFFFu) | ((y & 0xFFFFu) << 16));
}

void DebugRecordModel::Queue(uint32_t kind, uint32_t dt, uint32_t value) {
  lastUs_ = Now();
  Put(kind, dt, value);
}

void DebugRecordModel::Push(uint32_t kind, uint32_t value) {
  const uint64_t now = Now();
  uint64_t ticks = (now > lastUs_ ? now - lastUs_ : 0) * 48u + carry_;
  carry_ = 0;
  lastUs_ = now;
  const uint64_t field = short_ ? kShortDtMax : kLongDtMax;
  while (ticks > field) {
    Put(4, kLongDtMax, 0);
    ticks -= kLongDtMax;
  }
  if (short_) {
    carry_ = static_cast<uint32_t>(ticks % 6u);
    ticks -= carry_;
  }
  Put(kind, static_cast<uint32_t>(ticks), value);
}

void DebugRecordModel::Put(uint32_t kind, uint32_t dt, uint32_t value) {
  if (queue_.size() >= kCapacity) {
    overflow_ += 1;
    return;
  }
  queue_.push_back(Rec{kind, dt, value});
}

void DebugRecordModel::Next(uint32_t& r0, uint32_t& r1) {
  r0 = r1 = 0;
  if (queue_.empty()) return;
  const Rec r = queue_.front();
  queue_.pop_front();
  if (short_ && r.kind >= 1 && r.kind <= 3) {
    r0 = 0xA5000000u | (kShortField[r.kind] << 20) | ((r.dt / 6u) & 0xFFFFFu);
  } else {
    r0 = 0xA0000000u | ((r.kind <= 4 ? kLongField[r.kind] : 0u) << 24) | (r.dt & 0xFFFFFFu);
  }
  r1 = r.value;
}

}  // namespace cardsim
