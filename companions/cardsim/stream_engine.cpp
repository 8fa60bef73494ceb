#include "stream_engine.h"

#include <algorithm>

#include "cardlink/card_wire.h"

namespace cardsim {

namespace {

uint32_t Get32(const uint8_t* p) {
  return static_cast<uint32_t>(p[0]) | (static_cast<uint32_t>(p[1]) << 8) | (static_cast<uint32_t>(p[2]) << 16) |
         (static_cast<uint32_t>(p[3]) << 24);
}

// Bytes per checked unit of a layout.
uint32_t UnitBytes(uint32_t layout) { return layout == 1 ? 512 : layout == 2 ? 128 : 4; }

// Output banks of the IO words: the first output and the number of outputs of bank k.
constexpr uint32_t kBankFirst[3] = {0, 12, 22};
constexpr uint32_t kBankSize[3] = {12, 10, 10};

// Waits.
constexpr uint32_t kInputSource = 1;
constexpr uint32_t kEncoderSource = 3;
constexpr uint32_t kAxisPositionSource = 2;
constexpr uint32_t kPlatformSource = 4;
constexpr uint32_t kRegisterReason = 0x20;
constexpr uint32_t kCameraReason = 0x8;
constexpr uint32_t kWaitTimeoutSub = 5;

// Control flow.
constexpr uint32_t kLabel = 0x51800000;
constexpr uint32_t kJump = 0x51A00000;
constexpr uint32_t kLoopOpen = 0x54100000;
constexpr uint32_t kReg16Close = 0x51700000;
constexpr uint32_t kEncoderReset = 0x61000000;
constexpr uint32_t kJumpFlag = 0x100;
// Resident programs.
constexpr uint32_t kFrameOpen = 0x59100000;
constexpr uint32_t kSlotMask = 0x59200000;
constexpr uint32_t kStoreLabel = 0x59400000;
constexpr uint32_t kUseStored = 0x59500000;
constexpr uint32_t kFrameJump = 0x51A20000;
constexpr uint32_t kDisarm = 0x51B00000;
// Words of the program dropped at once when no label holds them.
constexpr size_t kDropAfter = 4096;

bool IsLabel(uint32_t w) { return (w & 0xFFF00000) == kLabel; }
bool IsJump(uint32_t w) { return (w & 0xFFFF0000) == kJump; }
bool Armed(uint32_t w) { return (w & 0xFFFF0001) == 0x51B00001; }
bool IsMotorSource(uint32_t source) { return source == kAxisPositionSource || source == kPlatformSource; }

}  // namespace

uint16_t StreamCrc16(const uint8_t* data, uint32_t length, uint16_t init) {
  uint32_t crc = init;
  for (uint32_t i = 0; i < length; ++i) {
    crc ^= static_cast<uint32_t>(data[i]) << 8;
    for (int b = 0; b < 8; ++b) crc = (crc & 0x8000) ? ((crc << 1) ^ 0x1021) : (crc << 1);
    crc &= 0xFFFF;
  }
  return static_cast<uint16_t>(crc);
}

void StreamEngine::Reset() {
  const uint64_t keepNothing = 0;
  Open(0, keepNothing);
  phase_ = Phase::Idle;
  ignored_ = 0;
}

void StreamEngine::Open(uint32_t layout, uint64_t nowUs) {
  phase_ = Phase::Open;
  layout_ = layout;
  startReason_ = CARDSIM_START_NONE;
  received_ = consumed_ = processed_ = overflow_ = 0;
  unitFill_ = 0;
  seq_ = 0;
  headSeen_ = false;
  rejected_ = checkError_ = 0;
  decTime_ = 0;
  decEnded_ = false;
  prog_.clear();
  pc_ = 0;
  base_ = furthest_ = 0;
  labels_.clear();
  loops_.clear();
  shift_ = 0;
  cond_ = true;
  std::fill(std::begin(reg16_), std::end(reg16_), 0u);
  program_ = resident_ = useStored_ = false;
  slotMask_ = storedLabel_ = slotTag_ = 0;
  trig_ = Trig{};
  cardUs_ = 0;
  cameras_.clear();
  cameraOpen_ = false;
  camX_ = camY_ = 0;
  clock_ = 0;
  lastSyncUs_ = nowUs;
  speedCarry_ = 0;
  endCode_ = subCode_ = 0;
  lastCount_ = markers_ = wordsRun_ = 0;
  lasers_.Reset();
  galvo_.Reset();
  waits_.Reset();
  TraceClear();
}

bool StreamEngine::Restore(uint32_t phase, uint32_t layout, uint32_t endCode, uint32_t subCode, uint32_t lastCount,
                           uint64_t nowUs) {
  if (phase > CARDSIM_PHASE_ENDED || layout > 2) return false;
  Reset();
  if (phase == CARDSIM_PHASE_IDLE) return true;
  Open(layout, nowUs);
  phase_ = static_cast<Phase>(phase);
  if (phase_ == Phase::Ended) {
    endCode_ = endCode & 15;
    subCode_ = subCode & 7;
  }
  lastCount_ = lastCount & 0xFFFF;
  return true;
}

void StreamEngine::Intake(const uint8_t* data, uint32_t length, const StreamSettings& s, uint64_t nowUs) {
  if (phase_ == Phase::Idle) {
    ignored_ += length;
    return;
  }
  if (!RoomFor(length)) {
    overflow_ += length;
    return;
  }
  received_ += length;
  const uint32_t unit = UnitBytes(layout_);
  for (uint32_t i = 0; i < length;) {
    const uint32_t n = std::min(unit - unitFill_, length - i);
    std::copy(data + i, data + i + n, unit_ + unitFill_);
    unitFill_ += n;
    i += n;
    if (unitFill_ == unit) {
      Unit();
      unitFill_ = 0;
    }
  }
  if (phase_ == Phase::Ended) consumed_ = received_;
  if (phase_ == Phase::Open && s.startBytes != 0 && Fill() >= s.startBytes) Start(CARDSIM_START_THRESHOLD, nowUs);
}

void StreamEngine::Unit() {
  const uint32_t unit = UnitBytes(layout_);
  const uint64_t base = processed_;
  processed_ += unit;
  uint32_t first = 0, last = 0;  // payload words [first, last)
  switch (layout_) {
    case 0: {
      if (!headSeen_) {
        headSeen_ = true;
        if (Get32(unit_) != kStreamHeader) Reject(CARDSIM_CHECK_HEAD);
        return;  // the header is no stream word
      }
      last = 1;
      break;
    }
    case 1: {
      const uint32_t expect = kStreamHeader | ((seq_ & 15) << 16);
      seq_ += 1;
      if (Get32(unit_) != expect) return Reject(CARDSIM_CHECK_SEQUENCE);
      first = 1;
      last = 128;
      break;
    }
    default: {
      const uint32_t expect = 0x5A000000u | StreamCrc16(unit_, 124, static_cast<uint16_t>(seq_ & 0xFFFF));
      seq_ += 1;
      if (Get32(unit_ + 124) != expect) return Reject(CARDSIM_CHECK_CRC);
      last = 31;
      break;
    }
  }
  if (!Live() || decEnded_) return;
  for (uint32_t w = first; w < last; ++w) {
    // The last payload word carries the unit's check word with it.
    const uint64_t end = (w + 1 == last) ? base + unit : base + 4 * (w + 1);
    Decode(Get32(unit_ + 4 * w), end);
    if (decEnded_) break;
  }
}

void StreamEngine::Reject(uint32_t kind) {
  rejected_ += 1;
  if (checkError_ == CARDSIM_CHECK_NONE) checkError_ = kind;
  if (Live()) {
    host_.StreamAlarm(kStreamCheckAlarm);
    End(0, 3, clock_);
  }
}

void StreamEngine::Decode(uint32_t word, uint64_t end) {
  if (labels_.empty() && pc_ >= kDropAfter) {
    prog_.erase(prog_.begin(), prog_.begin() + static_cast<std::ptrdiff_t>(pc_));
    base_ += pc_;
    pc_ = 0;
  }
  if (IsLabel(word)) labels_[word & 0xFFFF] = base_ + prog_.size();
  prog_.push_back(Item{decTime_, word, static_cast<uint32_t>(end)});
  if (fullTotal_ < kTraceCapacity) full_.push_back(cardsim_trace_entry{decTime_, word, 0});
  fullTotal_ += 1;
  if ((word >> 24) == 0x57) {
    decTime_ += word & 0xFFFFFF;
    return;
  }
  if (word == kNopWord) return;
  if (wordsTotal_ < kTraceCapacity) words_.push_back(cardsim_trace_entry{decTime_, word, 0});
  wordsTotal_ += 1;
  if (word == kEndWord) decEnded_ = true;
  if (word == kFrameOpen) program_ = true;
  if (decEnded_ && program_ && Running()) DownloadEnded();
}

void StreamEngine::DownloadEnded() {
  phase_ = Phase::Ended;
  endCode_ = 1;
  subCode_ = 0;
  consumed_ = received_;
  resident_ = true;
  host_.StreamRunning(false);
}

void StreamEngine::StopProgram() {
  if (!resident_) return;
  if (waits_.Waiting()) waits_.Finish(CARDSIM_WAIT_RUN_END, host_.StreamInputs());
  resident_ = false;
  trig_ = Trig{};
  prog_.clear();
  pc_ = 0;
  labels_.clear();
  lasers_.RunEnded(clock_);
}

void StreamEngine::Start(uint32_t reason, uint64_t nowUs) {
  if (phase_ != Phase::Open) return;
  phase_ = Phase::Running;
  startReason_ = reason;
  lastSyncUs_ = nowUs;
  speedCarry_ = 0;
  if (decEnded_ && program_) DownloadEnded();
}

void StreamEngine::Flush(uint64_t nowUs) {
  if (phase_ == Phase::Open) Start(CARDSIM_START_FLUSH, nowUs);
  if (phase_ == Phase::Running) phase_ = Phase::Flushing;
  // A flushed card that has run out everything ends its run now.
  RanOut();
}

void StreamEngine::Stop() {
  if (Live()) End(2, 0, clock_);
  StopProgram();
}

void StreamEngine::Sync(const StreamSettings& s, uint64_t nowUs) {
  const uint64_t elapsed = nowUs > lastSyncUs_ ? nowUs - lastSyncUs_ : 0;
  lastSyncUs_ = nowUs;
  if (!Executing() || s.paused) return;
  switch (s.mode) {
    case CARDSIM_CONSUME_AT_ONCE:
      // A program runs at the card's own pace.
      Advance(elapsed, !program_);
      break;
    case CARDSIM_CONSUME_PACED: {
      speedCarry_ += elapsed * s.speedPercent;
      const uint64_t advance = speedCarry_ / 100;
      speedCarry_ %= 100;
      Advance(advance, false);
      break;
    }
    default:
      break;
  }
}

bool StreamEngine::Step(uint64_t us, bool paused) {
  if (!Executing() || paused) return false;
  Advance(us, false);
  return true;
}

bool StreamEngine::OutOfTime(uint64_t& since) const {
  const uint64_t now = host_.StreamWallUs();
  if (now == StreamHost::kNeverUs) return false;
  if (since == StreamHost::kNeverUs) since = now;
  return now - since >= kRunWallUs;
}

void StreamEngine::Advance(uint64_t budget, bool unlimited) {
  uint64_t words = 0;
  uint64_t last = 0;  // the absolute index of the last word run
  bool looped = false;
  uint64_t since = StreamHost::kNeverUs;  // the card's clock when the bound in time began
  while (Executing()) {
    if (trig_.armed && Trigger()) continue;
    if (waits_.Waiting()) {
      if (!HoldWait(budget, unlimited)) return;
      continue;
    }
    const uint64_t from = clock_;
    const uint64_t end = PathTime(decTime_);
    const uint64_t target = unlimited ? end : std::min(clock_ + budget, end);
    bool stalled = false, jumped = false;
    while (Executing() && !waits_.Waiting() && pc_ < prog_.size()) {
      if (trig_.armed && Trigger()) {
        jumped = true;
        break;
      }
      const Item it = prog_[pc_];
      const uint64_t t = PathTime(it.time);
      if (t > target) break;
      if (JumpBlocked(it.word)) {
        stalled = true;
        break;
      }
      const uint64_t at = base_ + pc_;
      if (words > 0 && at <= last) looped = true;
      last = at;
      pc_ += 1;
      if (at >= furthest_ && Running()) {
        furthest_ = at + 1;
        // The low 32 bits of the byte count give it back: fewer than 2^24 bytes are held.
        consumed_ = received_ - static_cast<uint32_t>(static_cast<uint32_t>(received_) - it.end);
      }
      wordsRun_ += 1;
      if (t > clock_) {
        Elapse(t - clock_);
        clock_ = t;
      }
      host_.StreamClockAt(clock_);
      const int64_t shiftBefore = shift_;
      Apply(it.word, t);
      if (shift_ != shiftBefore || PathTime(decTime_) != end) jumped = true;
      // A bound in every mode: a program that jumps around forever, also one whose loop takes no
      // stream time, still returns to the host (a card runs it by itself).
      if (++words >= wordsPerEntry_) return;
      if (looped && words >= kTimedAfterWords && words % kClockEvery == 0 && OutOfTime(since)) return;
      if (jumped) break;
    }
    if (!Executing()) return;
    // A wait holds the clock at its marker; otherwise the clock goes on to the target.
    if (!waits_.Waiting() && !stalled && !jumped && target > clock_) {
      Elapse(target - clock_);
      clock_ = target;
    }
    host_.StreamClockAt(clock_);
    if (!unlimited) budget -= std::min(budget, clock_ - from);
    if (waits_.Waiting() || (jumped && (unlimited || budget > 0))) continue;
    break;
  }
  RanOut();
}

void StreamEngine::Elapse(uint64_t us) {
  cardUs_ += us;
  host_.StreamElapsed(us);
}

bool StreamEngine::JumpBlocked(uint32_t word) const {
  if (decEnded_) return false;
  if (IsJump(word)) return labels_.find(word & 0xFFFF) == labels_.end();
  return word == kFrameJump && labels_.find(FrameLabel()) == labels_.end();
}

uint32_t StreamEngine::FrameLabel() const {
  if (useStored_) return storedLabel_;
  return 2 * ((host_.StreamInputs() & slotMask_) >> 1);
}

void StreamEngine::FrameJump(uint64_t time) {
  const uint32_t label = FrameLabel();
  slotTag_ = useStored_ ? 0 : label / 2 + 1;
  useStored_ = false;
  JumpToLabel(label, time);
}

void StreamEngine::ProgramWord(uint32_t word) {
  switch (word & 0xFFF00000) {
    case kFrameOpen:
      useStored_ = false;
      slotTag_ = 0;
      break;
    case kSlotMask: slotMask_ = word & 0xFFFF; break;
    case kStoreLabel: storedLabel_ = word & 0xFFFF; break;
    case kUseStored: useStored_ = true; break;
    default: break;
  }
}

bool StreamEngine::Trigger() {
  uint32_t value = 0;
  if (trig_.port == kInputSource) {
    value = host_.StreamInputs();
  } else if (trig_.port == kEncoderSource) {
    value = host_.StreamEncoder();
  } else {
    return false;
  }
  if ((value & trig_.a) != (trig_.b & trig_.a)) return false;
  const auto found = labels_.find(trig_.label);
  if (found == labels_.end() && !decEnded_) return false;  // fires once its label arrives
  trig_.armed = false;
  slotTag_ = 0;
  if (waits_.Waiting()) waits_.Finish(CARDSIM_WAIT_LEFT, host_.StreamInputs());
  if (execTotal_ < kTraceCapacity) exec_.push_back(cardsim_trace_entry{cardUs_, 0x51A00000u | trig_.label, 0});
  execTotal_ += 1;
  JumpToLabel(trig_.label, clock_);
  return true;
}

bool StreamEngine::JumpToLabel(uint32_t n, uint64_t t) {
  const auto found = labels_.find(n);
  if (found == labels_.end() || found->second < base_) return false;
  pc_ = static_cast<size_t>(found->second - base_);
  shift_ = static_cast<int64_t>(t) - static_cast<int64_t>(prog_[pc_].time);
  return true;
}

uint64_t StreamEngine::WaitNeed(const cardsim_wait& w) {
  if (w.reason == kCameraReason) return host_.StreamCameraReady() ? 0 : StreamHost::kNeverUs;
  if (w.source == kEncoderSource) return host_.StreamEncoderUntil(w.values, w.mask);
  if (IsMotorSource(w.source)) return host_.StreamMotorUntil(w.source, w.values, w.mask);
  const uint32_t inputs = host_.StreamInputs();
  return (inputs & w.mask) == (w.values & w.mask) ? 0 : StreamHost::kNeverUs;
}

bool StreamEngine::HoldWait(uint64_t& budget, bool atOnce) {
  const cardsim_wait& w = waits_.Current();
  const bool encoder = w.source == kEncoderSource && w.reason == kRegisterReason;
  const bool motor = IsMotorSource(w.source) && w.reason == kRegisterReason;
  auto value = [&] {
    return encoder ? host_.StreamEncoder() : motor ? host_.StreamMotorValue(w.source) : host_.StreamInputs();
  };
  const uint64_t need = WaitNeed(w);
  const uint64_t left = w.timeout_us == CARDSIM_NO_TIMEOUT ? StreamHost::kNeverUs
                        : w.timeout_us > w.held_us        ? w.timeout_us - w.held_us
                                                          : 0;
  // Consumed at once, the card's clock runs ahead through its own axes' moves as through the
  // stream's times: only the world outside (inputs, encoder, camera) holds in the host's time.
  if (need != StreamHost::kNeverUs && (need <= budget || (atOnce && motor)) && need <= left) {
    if (need > 0) {
      Elapse(need);
      waits_.Hold(need, value());
      budget -= std::min(budget, need);
    }
    waits_.Finish(CARDSIM_WAIT_MET, value());
    cond_ = true;
    return true;
  }
  if (w.timeout_us == 0 && w.source == kInputSource && w.reason == kRegisterReason) {
    // A test of the inputs: its result is latched for the jump registers.
    waits_.Finish(CARDSIM_WAIT_TESTED, value());
    cond_ = false;
    return true;
  }
  if (budget < left) {
    Elapse(budget);
    waits_.Hold(budget, value());
    budget = 0;
    return false;
  }
  Elapse(left);
  waits_.Hold(left, value());
  budget -= left;
  waits_.Finish(CARDSIM_WAIT_TIMED_OUT, value());
  host_.StreamAlarm(kWaitTimeoutAlarm);
  End(0, kWaitTimeoutSub, clock_);
  return false;
}

void StreamEngine::RanOut() {
  if (!Running() || Pending() != 0 || waits_.Waiting()) return;
  consumed_ = processed_;
  if (phase_ == Phase::Flushing && clock_ >= decTime_) End(4, 0, clock_);  // ran dry without the end word
}

void StreamEngine::Apply(uint32_t word, uint64_t time) {
  using Timing = LaserRecord::Timing;
  if (word != kNopWord && (word >> 24) != 0x57) {
    if (execTotal_ < kTraceCapacity) exec_.push_back(cardsim_trace_entry{cardUs_, word, slotTag_});
    execTotal_ += 1;
  }
  const uint32_t op = word >> 24;
  const uint32_t operand = word & 0xFFFFFF;
  const uint32_t laser = op >= 0x18 ? 1 : 0;  // of the pulse words 0x11-0x16 and 0x18-0x1C
  switch (op) {
    case 0x11: case 0x18: lasers_.SetTiming(laser, Timing::PulseHigh, operand, time); break;
    case 0x12: case 0x19: lasers_.SetTiming(laser, Timing::PulseLow, operand, time); break;
    case 0x13: case 0x1A: lasers_.SetTiming(laser, Timing::IdleHigh, operand, time); break;
    case 0x14: case 0x1B: lasers_.SetTiming(laser, Timing::IdleLow, operand, time); break;
    case 0x16: case 0x1C:
      lasers_.Pulses(laser, (operand & 1) != 0, time);
      host_.StreamPulses();
      break;
    case 0x20: case 0x21: case 0x22: {
      const uint32_t bank = op - 0x20;
      const uint32_t bits = (1u << kBankSize[bank]) - 1;
      const uint32_t mask = ((word >> 12) & bits) << kBankFirst[bank];
      const uint32_t values = (word & bits) << kBankFirst[bank];
      const uint32_t outputs = host_.StreamOutputs(mask, values);
      lasers_.Outputs(time, word, mask, values, outputs);
      break;
    }
    case 0x29: lasers_.Power((word >> 16) & 0xFF, word & 0xFFFF, time); break;
    case 0x62:
      lastCount_ = word & 0xFFFF;
      markers_ += 1;
      break;
    case 0x61:
      if (word == kEncoderReset) host_.StreamEncoderReset();
      break;
    case 0x31: camX_ = operand & 0xFFFF; break;
    case 0x32: camY_ = operand & 0xFFFF; break;
    case 0x34:
      cameras_.push_back(cardsim_camera{cardUs_, camX_, camY_, word, 0, 0, 0});
      cameraOpen_ = true;
      break;
    case 0x54:
      if ((word & 0xFFFF0000) != kLoopOpen) break;
      if (loops_.size() >= kLoopDepth) {
        host_.StreamAlarm(kLoopStackAlarm);
        End(0, kLoopStackSub, time);
        break;
      }
      loops_.push_back(std::max<uint32_t>(operand & 0xFFFF, 1));
      break;
    case 0x01: Galvo(word, time); break;
    case 0x04: Correction(word); break;
    case 0x40: case 0x41: case 0x42: case 0x43: case 0x44: case 0x45: case 0x46: case 0x47:
    case 0x48: case 0x49: case 0x4A: case 0x4B: case 0x84: case 0x85: host_.StreamMotorWord(word); break;
    case 0x71: host_.StreamUart(word); break;
    case 0x59: ProgramWord(word); break;
    case 0x52: waits_.SelectLane(operand); break;
    case 0x53: case 0x55:
      waits_.WriteLane((word >> 8) & 0xFF, word & 0xFF);
      if (op == 0x53 && waits_.Lane() < 6) reg16_[waits_.Lane()] = word & 0xFFFF;
      break;
    case 0x56: waits_.LatchTimeout(operand); break;
    case 0x58:
      if (word & 0x100) {
        waits_.LatchSetup(word, (word & 0x1000) != 0);
      } else {
        waits_.Write(CARDSIM_REG_PORT, word, word & 0xF, 0, time);
      }
      break;
    case 0x51:
      if ((word & 0x00F00000) == 0x00600000) {
        BeginWait(word, time);
      } else if (word == kReg16Close) {
        waits_.Write(CARDSIM_REG_16, word, waits_.Lane(), 0, time);
        Flow(word, time);
      } else if ((word & 0xFFFE0000) == kJump) {
        Flow(word, time);
      } else if (word == kFrameJump) {
        FrameJump(time);
      } else if (Armed(word)) {
        waits_.Write(CARDSIM_REG_IO_COND, word, waits_.LastPort(), (word >> 1) & 0x7FFF, time);
        trig_ = Trig{true, waits_.LastPort(), waits_.A(), waits_.B(), (word >> 1) & 0x7FFF};
      } else if (word == kDisarm) {
        trig_.armed = false;
      } else if (word == kEndWord) {
        End(1, 0, time);
      }
      break;
    default:
      break;
  }
}

void StreamEngine::Flow(uint32_t word, uint64_t time) {
  if (word == kReg16Close) {
    if (cameraOpen_) {
      cameras_.back().reg0 = reg16_[0];
      cameras_.back().reg1 = reg16_[1];
      cameraOpen_ = false;
    }
    const uint32_t r = cond_ ? reg16_[0] : reg16_[1];
    if (r & kJumpFlag) JumpToLabel(r & 0xFF, time);
    return;
  }
  if (IsJump(word)) {
    JumpToLabel(word & 0xFFFF, time);
    return;
  }
  // The end of a loop's body.
  if (loops_.empty()) return;
  if (loops_.back() <= 1) {
    loops_.pop_back();
    return;
  }
  loops_.back() -= 1;
  JumpToLabel(word & 0xFFFF, time);
}

void StreamEngine::Correction(uint32_t word) {
  // The first of these words before any galvanometer word: 21-bit codes, bit 0 set for unlit.
  if (galvo_.Form() == 0) galvo_.SetForm(21, (word & 1) == 0, word);
}

void StreamEngine::Galvo(uint32_t word, uint64_t time) {
  using Axis = GalvoRecord::Axis;
  if (galvo_.Form() == 0) galvo_.SetForm(16, false, word);
  const uint32_t operand = word & 0xFFFFFF;
  if (galvo_.Form() == 21) {
    static constexpr Axis kAxis[5] = {Axis::X, Axis::X, Axis::Y, Axis::Y, Axis::Z};
    const uint32_t sel = operand >> 21;
    if (sel > 4) return;
    uint32_t flags = CARDSIM_POS_21BIT | (galvo_.Lit21() ? CARDSIM_POS_LIT : 0);
    if (sel == 1 || sel == 3) flags |= CARDSIM_POS_JUMP;
    galvo_.Move(kAxis[sel], operand & 0x1FFFFF, flags, word, time);
    host_.StreamMoved();
    return;
  }
  const uint32_t sub = operand >> 16;
  const bool y = sub & 1, z = sub & 2, unlit = sub & 4, jump = sub & 8;
  if (sub > 0xF || (z && (y || jump))) return;
  const uint32_t flags = (unlit ? 0 : CARDSIM_POS_LIT) | (jump ? CARDSIM_POS_JUMP : 0);
  galvo_.Move(z ? Axis::Z : y ? Axis::Y : Axis::X, operand & 0xFFFF, flags, word, time);
  host_.StreamMoved();
}

void StreamEngine::BeginWait(uint32_t word, uint64_t time) {
  const uint32_t source = (word >> 16) & 0xF;
  const bool timed = (word >> 15) & 1;
  const uint32_t reason = word & 0x7FFF;
  waits_.Begin(word, source, reason, timed, time);
  // The inputs, the encoder, the axes and the camera are modelled: any other wait passes at once. A modelled
  // wait holds the executor (Advance) until HoldWait ends it.
  const bool modelled =
      (reason == kRegisterReason && (source == kInputSource || source == kEncoderSource || IsMotorSource(source))) ||
      reason == kCameraReason;
  if (!modelled) waits_.Finish(CARDSIM_WAIT_PASSED, host_.StreamInputs());
}

void StreamEngine::End(uint32_t code, uint32_t sub, uint64_t at) {
  if (waits_.Waiting()) waits_.Finish(CARDSIM_WAIT_RUN_END, host_.StreamInputs());
  // The end of a resident program (an end word on its path, a wait's time-out): the host is told
  // nothing more, its run ended with the download.
  const bool wasLive = Live();
  resident_ = false;
  trig_ = Trig{};
  phase_ = Phase::Ended;
  endCode_ = code;
  subCode_ = sub;
  prog_.clear();
  pc_ = 0;
  labels_.clear();
  consumed_ = received_;
  lasers_.RunEnded(at);
  if (wasLive) host_.StreamRunning(false);
}

void StreamEngine::Fill(cardsim_fifo& out) const {
  out = cardsim_fifo{};
  out.bytes_received = received_;
  out.bytes_consumed = consumed_;
  out.overflow_bytes = overflow_;
  out.ignored_bytes = ignored_;
  out.clock_us = clock_;
  out.stream_us = decTime_;
  out.read_ptr = ReadPointer();
  out.write_ptr = WritePointer();
  out.fill = static_cast<uint32_t>(Fill());
  out.units_received = ReceivedUnits();
  out.blocks_received = static_cast<uint32_t>(received_ / kStreamBlockBytes);
  out.blocks_rejected = rejected_;
  out.check_error = checkError_;
  out.layout = layout_;
  out.phase = static_cast<uint32_t>(phase_);
  out.start_reason = startReason_;
  out.end_code = endCode_;
  out.sub_code = subCode_;
  out.last_count = lastCount_;
  out.count_markers = markers_;
  out.words_run = wordsRun_;
  out.pending_words = static_cast<uint32_t>(Pending());
}

bool StreamEngine::MirrorAt(uint64_t t, cardsim_mirror& out) const {
  out = cardsim_mirror{};
  out.time_us = t;
  if (phase_ == Phase::Idle || t > clock_ || !galvo_.At(t, out)) return false;
  for (uint32_t laser = 0; laser < LaserRecord::kLasers; ++laser) {
    bool on = false;
    if (!lasers_.OnAt(laser, t, on)) return false;
    if (on) out.laser_on |= 1u << laser;
  }
  return true;
}

uint32_t StreamEngine::TraceCount(uint32_t which) const {
  return which == CARDSIM_TRACE_EXECUTED ? execTotal_ : which == CARDSIM_TRACE_WORDS ? wordsTotal_ : fullTotal_;
}

bool StreamEngine::TraceGet(uint32_t which, uint32_t index, cardsim_trace_entry& out) const {
  const auto& v = which == CARDSIM_TRACE_EXECUTED ? exec_ : which == CARDSIM_TRACE_WORDS ? words_ : full_;
  if (index >= v.size()) return false;
  out = v[index];
  return true;
}

bool StreamEngine::CameraGet(uint32_t index, cardsim_camera& out) const {
  if (index >= cameras_.size()) return false;
  out = cameras_[index];
  return true;
}

void StreamEngine::TraceClear() {
  full_.clear();
  words_.clear();
  exec_.clear();
  full_.shrink_to_fit();
  words_.shrink_to_fit();
  exec_.shrink_to_fit();
  fullTotal_ = wordsTotal_ = execTotal_ = 0;
}

}  // namespace cardsim
