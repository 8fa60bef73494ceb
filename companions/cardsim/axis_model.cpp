#include "axis_model.h"

#include <algorithm>
#include <cmath>

namespace cardsim {

namespace {

constexpr uint32_t kFirstCmd = 0x120;
constexpr uint32_t kLastCmd = 0x135;

constexpr uint32_t kPlatformAsk = 0x85000001;
constexpr uint32_t kPositionSource = 2;
constexpr uint32_t kPlatformSource = 4;
constexpr uint32_t kInPlace = 0x10;
constexpr uint32_t kFullMask = 0xFFFFFF;
// Steps of the look-ahead: every stop of an axis is one (four axes, homing one after the other).
constexpr int kMaxLookAheadSteps = 64;
// Pulses a move may fall short of its end by rounding and still arrive; the µs of a distance are
// rounded up past the same rounding.
constexpr double kSnapPulses = 1e-6;
uint64_t CeilUs(double us) { return std::max<uint64_t>(static_cast<uint64_t>(std::ceil(us - 1e-6)), 1); }

double SpeedOf(uint32_t velocityCode) { return velocityCode == 0 ? 0.0 : 5e7 / velocityCode; }

// The 0x12E enable bits of the positive and negative limits of axis k (axes 0-2).
constexpr uint32_t kLimitP[3] = {1u << 24, 1u << 27, 1u << 30};
constexpr uint32_t kLimitN[3] = {1u << 25, 1u << 28, 1u << 31};

}  // namespace

void AxisModel::Reset() { *this = AxisModel(); }

bool AxisModel::Resting() const {
  for (const Axis& a : ax_) {
    if (a.moving != 0) return false;
  }
  return homing_ < 0;
}

void AxisModel::Start(uint32_t k, double target, double speed) {
  Axis& a = ax_[k];
  a.target = target;
  a.from = a.pos;
  a.moving = speed > 0 && target != a.pos ? speed : 0;
}

bool AxisModel::LimitStops(uint32_t k, double from, double to, double& at) const {
  if (k >= 3) return false;
  const Axis& a = ax_[k];
  if ((limits_ & kLimitP[k]) && a.switches[1] != 0 && to > from && to >= a.switches[1]) {
    at = from >= a.switches[1] ? from : a.switches[1];
    return true;
  }
  if ((limits_ & kLimitN[k]) && a.switches[2] != 0 && to < from && to <= a.switches[2]) {
    at = from <= a.switches[2] ? from : a.switches[2];
    return true;
  }
  return false;
}

void AxisModel::Step(uint64_t us) {
  for (uint32_t k = 0; k < 4; ++k) {
    Axis& a = ax_[k];
    if (a.moving == 0) continue;
    const double d = a.moving * static_cast<double>(us) / 1e6;
    const double to = std::fabs(a.target - a.pos) <= d + kSnapPulses ? a.target : a.pos + (a.target > a.pos ? d : -d);
    double at = to;
    if (LimitStops(k, a.pos, to, at)) {
      a.pos = at;
      a.moving = 0;
      continue;
    }
    a.pos = to;
    if (a.pos == a.target) {
      a.moving = 0;
      if (homing_ == static_cast<int32_t>(k)) {
        a.homed = 1;
        NextHome();
      }
    }
  }
}

void AxisModel::NextHome() {
  homing_ = -1;
  while (homeQueue_ != 0) {
    const uint32_t k = homeQueue_ & 0xF;
    homeQueue_ = k == 0xF ? 0 : homeQueue_ >> 4;
    if (k == 0xF) break;
    if (k >= 4) continue;
    Axis& a = ax_[k];
    homing_ = static_cast<int32_t>(k);
    const double speed = a.homeSpeedCode ? SpeedOf(a.homeSpeedCode) : a.speed;
    if (a.pos == kZero) {
      a.homed = 1;
      homing_ = -1;
      continue;
    }
    Start(k, kZero, speed);
    return;
  }
}

bool AxisModel::Command(uint32_t command, uint32_t p1, uint32_t p2, uint32_t& r0, uint32_t& r1) {
  if (command < kFirstCmd || command > kLastCmd) return false;
  const uint32_t k = (p1 >> 28) & 3;
  Axis& a = ax_[k];
  if (command <= 0x134) {
    a.settings[command - kFirstCmd][0] = p1;
    a.settings[command - kFirstCmd][1] = p2;
  }
  switch (command) {
    case 0x120:
      a.speed = SpeedOf(p2 & 0xFFFFFF);
      break;
    case 0x122:
      a.homeSpeedCode = p2 & 0xFFFFFF;
      break;
    case 0x125:
      if (p1 & 0x1000000) {
        if (p2 == 1) {
          homeQueue_ = homeOrder_ | 0xFFFF0000u;
          for (Axis& h : ax_) h.homed = 0;
          NextHome();
        } else {
          Start(k, static_cast<double>(p1 & 0xFFFFFF), a.speed);  // a move's target or a jog's far end
        }
      } else {
        r0 = static_cast<uint32_t>(a.pos);
        r1 = 0x2222;
        for (uint32_t j = 0; j < 4; ++j) {
          if (ax_[j].homed) r1 &= ~(2u << (4 * j));
        }
      }
      break;
    case 0x126:
      r0 = a.moving != 0 || homing_ == static_cast<int32_t>(k) ? 0x10 : 0x400;
      break;
    case 0x12B:
      homeOrder_ = p2 & 0xFFFF;
      break;
    case 0x12D:
      for (uint32_t j = 0; j < 4; ++j) {
        if (p1 & (1u << j)) {
          ax_[j].moving = 0;
          if (homing_ == static_cast<int32_t>(j)) {
            homing_ = -1;
            homeQueue_ = 0;
          }
        }
      }
      break;
    case 0x12E:
      limits_ = p1;
      break;
    case 0x135:
      a.pos = a.target = a.from = p2 & 0xFFFFFF;
      a.moving = 0;
      break;
    default:
      break;
  }
  return true;
}

double AxisModel::StopPoint(uint32_t k) const {
  const Axis& a = ax_[k];
  double at = a.target;
  LimitStops(k, a.pos, a.target, at);
  return at;
}

uint64_t AxisModel::UsUntilNextStop() const {
  uint64_t best = kNeverUs;
  for (uint32_t k = 0; k < 4; ++k) {
    const Axis& a = ax_[k];
    if (a.moving == 0) continue;
    best = std::min(best, CeilUs(std::fabs(StopPoint(k) - a.pos) / a.moving * 1e6));
  }
  return best;
}

uint32_t AxisModel::SourceValue(uint32_t source) const {
  if (source == kPositionSource) return static_cast<uint32_t>(ax_[0].pos);
  if (source == kPlatformSource) return platformAsked_ && Resting() ? kInPlace : 0;
  return 0;
}

uint64_t AxisModel::UsUntil(uint32_t source, uint32_t value, uint32_t mask) const {
  if ((SourceValue(source) & mask) == (value & mask)) return 0;
  if (source == kPlatformSource) {
    if (!platformAsked_ || (kInPlace & mask) != (value & mask)) return kNeverUs;
    // The axes run on (stops, the next axis of a homing) until all rest.
    AxisModel m = *this;
    uint64_t total = 0;
    for (int i = 0; i < kMaxLookAheadSteps && !m.Resting(); ++i) {
      const uint64_t dt = m.UsUntilNextStop();
      if (dt == kNeverUs) return kNeverUs;
      m.Step(dt);
      total += dt;
    }
    return m.Resting() ? total : kNeverUs;
  }
  if (source != kPositionSource || mask != kFullMask) return kNeverUs;
  const Axis& a = ax_[0];
  const double b = value & kFullMask;
  if (b >= std::min(a.from, a.pos) && b <= std::max(a.from, a.pos)) return 0;  // passed on this move
  if (a.moving == 0) return kNeverUs;
  const double stop = StopPoint(0);
  if (b < std::min(a.pos, stop) || b > std::max(a.pos, stop)) return kNeverUs;
  return CeilUs(std::fabs(b - a.pos) / a.moving * 1e6);
}

uint32_t AxisModel::Inputs() const {
  uint32_t bits = 0;
  for (uint32_t k = 0; k < 4; ++k) {
    const Axis& a = ax_[k];
    if (a.switches[0] != 0 && std::fabs(a.pos - a.switches[0]) < 0.5) bits |= 1u << (4 * k);
    if (a.switches[1] != 0 && a.pos >= a.switches[1]) bits |= 2u << (4 * k);
    if (a.switches[2] != 0 && a.pos <= a.switches[2]) bits |= 4u << (4 * k);
  }
  return bits;
}

void AxisModel::StreamWord(uint32_t word) {
  const uint32_t op = word >> 24;
  if (op >= 0x40 && op <= 0x4F) {
    ax_[(op - 0x40) / 4].loaded[(op - 0x40) % 4] = word & 0xFFFFFF;
  } else if (word == kPlatformAsk) {
    platformAsked_ = true;
  } else if (op == 0x84) {
    platformAsked_ = false;
    for (uint32_t k = 0; k < 4; ++k) {
      if (word & (1u << k)) Start(k, ax_[k].loaded[0], SpeedOf(ax_[k].loaded[2]));
    }
  }
}

void AxisModel::SetSwitches(uint32_t k, uint32_t home, uint32_t limitP, uint32_t limitN) {
  Axis& a = ax_[k & 3];
  a.switches[0] = home;
  a.switches[1] = limitP;
  a.switches[2] = limitN;
}

bool AxisModel::Get(uint32_t k, cardsim_axis& out) const {
  if (k >= 4) return false;
  const Axis& a = ax_[k];
  out = cardsim_axis{};
  out.position = static_cast<uint32_t>(a.pos);
  out.target = static_cast<uint32_t>(a.target);
  out.moving = a.moving != 0 || homing_ == static_cast<int32_t>(k) ? 1 : 0;
  out.homed = a.homed;
  out.speed = static_cast<uint32_t>(a.moving);
  for (uint32_t c = 0; c < 0x15; ++c) {
    out.setting_p1[c] = a.settings[c][0];
    out.setting_p2[c] = a.settings[c][1];
  }
  return true;
}

}  // namespace cardsim
