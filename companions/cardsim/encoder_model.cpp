#include "encoder_model.h"

#include "cardlink/card_wire.h"

namespace cardsim {

namespace {

// v reduced into 0 .. range - 1.
uint32_t Reduce(int64_t v, uint32_t range) {
  int64_t r = v % static_cast<int64_t>(range);
  if (r < 0) r += range;
  return static_cast<uint32_t>(r);
}

}  // namespace

bool EncoderModel::Command(uint32_t command, uint32_t p1, uint32_t p2, uint32_t& r0, uint32_t& r1) {
  switch (command) {
    case CMD_FLY_SCAN_LIMITS:
      settings_.limits[0] = p1;
      settings_.limits[1] = p2;
      break;
    case CMD_FLY_SETTING:
      if (p1 == FLY_SETTING_LIMIT_ERROR) settings_.limit_error = p2;
      if (p1 == FLY_SETTING_MARK_RANGE) settings_.mark_range = p2;
      break;
    case CMD_FLY_SCALE:
      settings_.scale[0] = p1;
      settings_.scale[1] = p2;
      break;
    case CMD_ENC_SOURCE:
      settings_.source[0] = p1;
      settings_.source[1] = p2;
      break;
    case CMD_ENC_RANGE:
      countDown_ = p1 & 1;
      range_ = p2 >= 1 && p2 <= kFullRange ? p2 : kFullRange;
      counter_ %= range_;
      break;
    case CMD_ENCODER:
      if (p1 == 0 && p2 == 0) r1 = counter_;
      if (p1 == 0 && p2 == 1) r1 = period_;
      break;
    case CMD_ENC_SET_POS:
      counter_ = Reduce(static_cast<int32_t>(p2), range_);
      break;
    case CMD_ENC_POS_BUF:
      if (!bufferOn_) {
        r0 = ENCBUF_NOTHING;
        r1 = counter_;
        break;
      }
      if (entries_.empty()) {
        r0 = ENCBUF_POSITION | (lastDown_ ? ENCBUF_DOWN : 0);
        r1 = counter_;
      } else {
        r0 = entries_.front().status;
        r1 = entries_.front().position;
        entries_.pop_front();
      }
      if (overflow_) r0 |= ENCBUF_OVERFLOW;
      overflow_ = false;
      break;
    case CMD_ENC_POS_BUF_SWITCH:
      if (p1 == 1) {
        bufferOn_ = p2 == 0;
        entries_.clear();
        overflow_ = false;
      }
      break;
    case CMD_OFFSET_COMP:
      settings_.compensation[0] = p1;
      settings_.compensation[1] = p2;
      break;
    case CMD_FLY_ROTATE_CENT:
      settings_.rotate_centre[0] = p1;
      settings_.rotate_centre[1] = p2;
      break;
    default:
      return false;
  }
  settings_.commands += 1;
  return true;
}

void EncoderModel::Set(uint32_t position, uint32_t periodTicks) {
  counter_ = position % range_;
  period_ = periodTicks;
}

void EncoderModel::Record(uint32_t position, bool down) {
  if (entries_.size() >= kCapacity) {
    overflow_ = true;
    return;
  }
  entries_.push_back({down ? ENCBUF_DOWN : 0u, position});
}

void EncoderModel::Move(int64_t pulses) {
  const int64_t n = countDown_ ? -pulses : pulses;
  if (n == 0) return;
  const bool down = n < 0;
  lastDown_ = down;
  const int64_t R = range_;
  const int64_t u0 = counter_, u1 = u0 + n;
  const uint32_t q = range_ / 4, h = range_ / 2;
  if (bufferOn_) {
    // The marks in the order the counter meets them; a range below 4 has both at 0.
    const uint32_t first = down ? h : q, second = down ? q : h;
    const int64_t step = down ? -R : R;
    // Once a crossing was lost the buffer stays full until it is read: the rest of a long move is
    // lost as well and need not be listed.
    for (int64_t base = 0; !overflow_; base += step) {
      bool past = false;
      for (uint32_t m : {first, second}) {
        if (m == second && first == second) break;
        const int64_t u = base + m;
        if (down ? u >= u0 : u <= u0) continue;
        if (down ? u < u1 : u > u1) {
          past = true;
          break;
        }
        Record(m, down);
      }
      if (past) break;
    }
  }
  counter_ = Reduce(u1, range_);
}

void EncoderModel::Fill(cardsim_encoder& out) const {
  out = settings_;
  out.position = counter_;
  out.range = range_;
  out.count_down = countDown_;
  out.period_ticks = period_;
  out.buffer_on = bufferOn_ ? 1 : 0;
  out.entries = static_cast<uint32_t>(entries_.size());
  out.overflow = overflow_ ? 1 : 0;
}

void EncoderModel::Run(uint64_t us) {
  if (speed_ == 0 || us == 0) return;
  // At most 2^31 pulses per second: a long stretch is run in pieces that keep the product in range.
  constexpr uint64_t kPiece = 1000000000;
  while (us > 0) {
    const uint64_t d = us < kPiece ? us : kPiece;
    us -= d;
    carry_ += static_cast<int64_t>(d) * speed_;
    const int64_t pulses = carry_ / 1000000;
    carry_ -= pulses * 1000000;
    Move(pulses);
  }
}

uint64_t EncoderModel::UsUntil(uint32_t value, uint32_t mask) const {
  if ((counter_ & mask) == (value & mask)) return 0;
  // The direction the counter moves: the conveyor's, against it when counting down.
  const int64_t rate = countDown_ ? -static_cast<int64_t>(speed_) : speed_;
  if (rate == 0 || mask != 0xFFFFFF || value >= range_) return kNever;
  const uint64_t pulses = rate > 0 ? (value + range_ - counter_) % range_ : (counter_ + range_ - value) % range_;
  const uint64_t perSecond = static_cast<uint64_t>(rate > 0 ? rate : -rate);
  const uint64_t carried = static_cast<uint64_t>(carry_ < 0 ? -carry_ : carry_);  // pulse-µs on the way
  const uint64_t need = pulses * 1000000 - carried;
  return (need + perSecond - 1) / perSecond;
}

}  // namespace cardsim
