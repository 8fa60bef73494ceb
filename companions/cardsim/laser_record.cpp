#include "laser_record.h"

#include <algorithm>

namespace cardsim {

namespace {

// The laser whose power a channel sets: channel 0 laser 0, channel 2 laser 1; none for others.
constexpr uint32_t kNoLaser = ~0u;
uint32_t LaserOfChannel(uint32_t channel) { return channel == 0 ? 0 : channel == 2 ? 1 : kNoLaser; }

constexpr uint32_t Bit(uint32_t n) { return 1u << n; }

}  // namespace

void LaserRecord::SetLaserType(uint32_t type) {
  gates_[0] = gates_[1] = 0;
  switch (type) {
    case 1: case 7: gates_[0] = Bit(23); break;
    case 2: case 3: gates_[0] = Bit(21) | Bit(20); break;
    case 4: gates_[0] = Bit(20); break;
    case 5: gates_[0] = Bit(25); break;
    case 6:
      gates_[0] = Bit(21) | Bit(20);
      gates_[1] = Bit(28);
      break;
    default: break;
  }
}

void LaserRecord::OutputsNow(uint64_t t, uint32_t outputs) {
  outputs_ = outputs;
  for (uint32_t n = 0; n < kLasers; ++n) Follow(n, t, CARDSIM_SEGMENT_GATED);
}

void LaserRecord::Follow(uint32_t n, uint64_t t, uint32_t end) {
  Laser& l = lasers_[n];
  const bool emit = l.running && (outputs_ & gates_[n]) == gates_[n];
  if (emit && !l.emitting) Open(l, t);
  if (!emit && l.emitting) Close(l, t, end);
}

namespace {

}  // namespace

void LaserRecord::Reset() {
  for (Laser& l : lasers_) l = Laser{};  // gates_ and outputs_ stay
  power_.clear();
  power_.shrink_to_fit();
  outputChanges_.clear();
  outputChanges_.shrink_to_fit();
  powerTotal_ = outputTotal_ = 0;
}

void LaserRecord::SetTiming(uint32_t laser, Timing which, uint32_t ticks, uint64_t t) {
  Laser& l = lasers_[laser];
  uint32_t& reg = l.ticks[static_cast<uint32_t>(which)];
  if (reg == ticks) return;
  reg = ticks;
  if (!l.emitting || (which != Timing::PulseHigh && which != Timing::PulseLow)) return;
  if (l.emitSince == t) {
    // Set at the start itself: the open segment starts with it.
    if (cardsim_laser_segment* s = OpenSegment(l)) {
      s->high_ticks = l.ticks[0];
      s->low_ticks = l.ticks[1];
      s->period_us = Period(s->high_ticks, s->low_ticks);
    }
    return;
  }
  Close(l, t, CARDSIM_SEGMENT_TIMING);
  Open(l, t);
}

void LaserRecord::Pulses(uint32_t laser, bool start, uint64_t t) {
  Laser& l = lasers_[laser];
  if (start == l.running) return;
  l.running = start;
  l.onSince = start ? t : 0;
  Follow(laser, t, CARDSIM_SEGMENT_STOPPED);
}

void LaserRecord::Power(uint32_t channel, uint32_t da, uint64_t t) {
  if (powerTotal_ < kCapacity) power_.push_back(cardsim_power_change{t, channel, da});
  powerTotal_ += 1;
  const uint32_t laser = LaserOfChannel(channel);
  if (laser == kNoLaser) return;
  Laser& l = lasers_[laser];
  l.da = da;
  l.daTime = t;
  l.powerWords += 1;
  if (cardsim_laser_segment* s = OpenSegment(l)) {
    if (t == s->on_us) {
      s->da_on = da;
    } else {
      s->power_words += 1;
    }
    s->da_off = da;
  }
}

void LaserRecord::Outputs(uint64_t t, uint32_t word, uint32_t mask, uint32_t values, uint32_t outputs) {
  if (outputTotal_ < kCapacity) outputChanges_.push_back(cardsim_output_change{t, word, mask, values & mask, outputs});
  outputTotal_ += 1;
  OutputsNow(t, outputs);
}

void LaserRecord::RunEnded(uint64_t t) {
  for (uint32_t n = 0; n < kLasers; ++n) {
    lasers_[n].running = false;
    lasers_[n].onSince = 0;
    Follow(n, t, CARDSIM_SEGMENT_RUN_END);
  }
}

void LaserRecord::Open(Laser& l, uint64_t t) {
  l.emitting = true;
  l.emitSince = t;
  l.openKept = l.segmentTotal < kCapacity;
  if (l.openKept) {
    cardsim_laser_segment s{};
    s.on_us = t;
    s.off_us = t;
    s.high_ticks = l.ticks[0];
    s.low_ticks = l.ticks[1];
    s.period_us = Period(s.high_ticks, s.low_ticks);
    s.da_on = s.da_off = l.da;
    s.end = CARDSIM_SEGMENT_OPEN;
    l.segments.push_back(s);
  }
  l.segmentTotal += 1;
}

void LaserRecord::Close(Laser& l, uint64_t t, uint32_t end) {
  if (cardsim_laser_segment* s = OpenSegment(l)) {
    s->off_us = t;
    s->end = end;
  }
  l.emitting = false;
  l.openKept = false;
  l.emitSince = 0;
}

bool LaserRecord::State(uint32_t laser, cardsim_laser& out) const {
  if (laser >= kLasers) return false;
  const Laser& l = lasers_[laser];
  out = cardsim_laser{};
  out.on_since_us = l.running ? l.onSince : 0;
  out.power_time_us = l.daTime;
  out.period_us = Period(l.ticks[0], l.ticks[1]);
  out.pulse_running = l.running ? 1 : 0;
  out.pulse_high_ticks = l.ticks[0];
  out.pulse_low_ticks = l.ticks[1];
  out.idle_high_ticks = l.ticks[2];
  out.idle_low_ticks = l.ticks[3];
  out.power_channel = laser == 0 ? 0 : 2;
  out.power_da = l.da;
  out.power_words = l.powerWords;
  out.segment_count = l.segmentTotal;
  out.emitting = l.emitting ? 1 : 0;
  return true;
}

bool LaserRecord::Segment(uint32_t laser, uint32_t index, uint64_t now, cardsim_laser_segment& out) const {
  if (laser >= kLasers || index >= lasers_[laser].segments.size()) return false;
  out = lasers_[laser].segments[index];
  if (out.end == CARDSIM_SEGMENT_OPEN) out.off_us = now;
  return true;
}

bool LaserRecord::OnAt(uint32_t laser, uint64_t t, bool& on) const {
  on = false;
  if (laser >= kLasers) return false;
  const auto& segs = lasers_[laser].segments;
  // Segments not kept begin at or after the off time of the last one kept.
  if (lasers_[laser].segmentTotal > segs.size() && (segs.empty() || t >= segs.back().off_us)) return false;
  // Segments begin in order: the last one that began at or before t.
  const auto it = std::upper_bound(segs.begin(), segs.end(), t,
                                   [](uint64_t v, const cardsim_laser_segment& g) { return v < g.on_us; });
  if (it == segs.begin()) return true;
  const cardsim_laser_segment& g = *(it - 1);
  on = g.end == CARDSIM_SEGMENT_OPEN || t < g.off_us;
  return true;
}

bool LaserRecord::PowerChange(uint32_t index, cardsim_power_change& out) const {
  if (index >= power_.size()) return false;
  out = power_[index];
  return true;
}

bool LaserRecord::OutputChange(uint32_t index, cardsim_output_change& out) const {
  if (index >= outputChanges_.size()) return false;
  out = outputChanges_[index];
  return true;
}

}  // namespace cardsim
