#include "wait_record.h"

namespace cardsim {

namespace {
constexpr uint32_t kRegisterReason = 0x20;
}  // namespace

void WaitRecord::Reset() {
  *this = WaitRecord();
}

void WaitRecord::WriteLane(uint32_t a, uint32_t b) {
  if (lane_ >= kLanes) return;
  laneA_[lane_] = static_cast<uint8_t>(a);
  laneB_[lane_] = static_cast<uint8_t>(b);
}

uint32_t WaitRecord::A() const {
  return laneA_[0] | laneA_[1] << 8 | laneA_[2] << 16 | static_cast<uint32_t>(laneA_[3]) << 24;
}

uint32_t WaitRecord::B() const {
  return laneB_[0] | laneB_[1] << 8 | laneB_[2] << 16 | static_cast<uint32_t>(laneB_[3]) << 24;
}

void WaitRecord::Write(uint32_t kind, uint32_t word, uint32_t port, uint32_t flag, uint64_t t) {
  if (kind == CARDSIM_REG_PORT) lastPort_ = port;
  if (writeTotal_ < kCapacity) writes_.push_back(cardsim_reg_write{t, word, kind, port, A(), B(), flag});
  writeTotal_ += 1;
}

void WaitRecord::Begin(uint32_t marker, uint32_t source, uint32_t reason, bool timed, uint64_t t) {
  cur_ = cardsim_wait{};
  cur_.time_us = t;
  cur_.timeout_us = !timed ? CARDSIM_NO_TIMEOUT : zeroTimeout_ ? 0 : timeoutUs_;
  cur_.source = source;
  cur_.reason = reason;
  cur_.mask = A();
  cur_.values = B();
  cur_.setup = setupWord_;
  cur_.marker = marker;
  cur_.end = CARDSIM_WAIT_OPEN;
  setupWord_ = 0;
  zeroTimeout_ = false;
  waiting_ = true;
  curKept_ = waitTotal_ < kCapacity;
  if (curKept_) waits_.push_back(cur_);
  waitTotal_ += 1;
  Store();
}

void WaitRecord::Hold(uint64_t us, uint32_t inputs) {
  cur_.held_us += us;
  cur_.inputs = inputs;
  Store();
}

void WaitRecord::Finish(uint32_t end, uint32_t inputs) {
  cur_.end = end;
  cur_.inputs = inputs;
  waiting_ = false;
  if (end == CARDSIM_WAIT_TIMED_OUT) timeoutReasons_ |= cur_.reason;
  Store();
}

void WaitRecord::Store() {
  if (curKept_) waits_.back() = cur_;
  if (cur_.reason == kRegisterReason) {
    lastRegister_ = cur_;
    hasRegisterWait_ = true;
  }
}

bool WaitRecord::LastRegisterWait(cardsim_wait& out) const {
  if (!hasRegisterWait_) return false;
  out = lastRegister_;
  return true;
}

bool WaitRecord::WaitGet(uint32_t index, cardsim_wait& out) const {
  if (index >= waits_.size()) return false;
  out = waits_[index];
  return true;
}

bool WaitRecord::WriteGet(uint32_t index, cardsim_reg_write& out) const {
  if (index >= writes_.size()) return false;
  out = writes_[index];
  return true;
}

}  // namespace cardsim
