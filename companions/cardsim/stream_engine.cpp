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
constexpr uint32_t kRegisterReason = 0x20;
constexpr uint32_t kWaitTimeoutSub = 5;

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
  pending_.clear();
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
  pending_.push_back(Item{decTime_, word, static_cast<uint32_t>(end)});
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
}

void StreamEngine::Start(uint32_t reason, uint64_t nowUs) {
  if (phase_ != Phase::Open) return;
  phase_ = Phase::Running;
  startReason_ = reason;
  lastSyncUs_ = nowUs;
  speedCarry_ = 0;
}

void StreamEngine::Flush(uint64_t nowUs) {
  if (phase_ == Phase::Open) Start(CARDSIM_START_FLUSH, nowUs);
  if (phase_ == Phase::Running) phase_ = Phase::Flushing;
  // A flushed card that has run out everything ends its run now.
  RanOut();
}

void StreamEngine::Stop() {
  if (Live()) End(2, 0, clock_);
}

void StreamEngine::Sync(const StreamSettings& s, uint64_t nowUs) {
  const uint64_t elapsed = nowUs > lastSyncUs_ ? nowUs - lastSyncUs_ : 0;
  lastSyncUs_ = nowUs;
  if (!Running() || s.paused) return;
  switch (s.mode) {
    case CARDSIM_CONSUME_AT_ONCE:
      Advance(elapsed, true);
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
  if (!Running() || paused) return false;
  Advance(us, false);
  return true;
}

void StreamEngine::Advance(uint64_t budget, bool unlimited) {
  while (Running()) {
    if (waits_.Waiting()) {
      if (!HoldWait(budget)) return;
      continue;
    }
    const uint64_t from = clock_;
    const uint64_t target = unlimited ? decTime_ : std::min(clock_ + budget, decTime_);
    while (Running() && !waits_.Waiting() && !pending_.empty() && pending_.front().time <= target) {
      const Item it = pending_.front();
      pending_.pop_front();
      // The low 32 bits of the byte count give it back: fewer than 2^24 bytes are held.
      consumed_ = received_ - static_cast<uint32_t>(static_cast<uint32_t>(received_) - it.end);
      wordsRun_ += 1;
      clock_ = std::max(clock_, it.time);
      Apply(it.word, it.time);
    }
    if (!Running()) return;
    // A wait holds the clock at its marker; otherwise the clock goes on to the target.
    if (!waits_.Waiting()) clock_ = target;
    if (!unlimited) budget -= clock_ - from;
    if (!waits_.Waiting()) break;
  }
  RanOut();
}

bool StreamEngine::HoldWait(uint64_t& budget) {
  const uint32_t inputs = host_.StreamInputs();
  const cardsim_wait& w = waits_.Current();
  if ((inputs & w.mask) == (w.values & w.mask)) {
    waits_.Finish(CARDSIM_WAIT_MET, inputs);
    return true;
  }
  if (w.timeout_us == CARDSIM_NO_TIMEOUT) {
    waits_.Hold(budget, inputs);
    budget = 0;
    return false;
  }
  const uint64_t left = w.timeout_us > w.held_us ? w.timeout_us - w.held_us : 0;
  if (budget < left) {
    waits_.Hold(budget, inputs);
    budget = 0;
    return false;
  }
  waits_.Hold(left, inputs);
  budget -= left;
  waits_.Finish(CARDSIM_WAIT_TIMED_OUT, inputs);
  host_.StreamAlarm(kWaitTimeoutAlarm);
  End(0, kWaitTimeoutSub, clock_);
  return false;
}

void StreamEngine::RanOut() {
  if (!Running() || !pending_.empty() || waits_.Waiting()) return;
  consumed_ = processed_;
  if (phase_ == Phase::Flushing && clock_ >= decTime_) End(4, 0, clock_);  // ran dry without the end word
}

void StreamEngine::Apply(uint32_t word, uint64_t time) {
  using Timing = LaserRecord::Timing;
  const uint32_t op = word >> 24;
  const uint32_t operand = word & 0xFFFFFF;
  const uint32_t laser = op >= 0x18 ? 1 : 0;  // of the pulse words 0x11-0x16 and 0x18-0x1C
  switch (op) {
    case 0x11: case 0x18: lasers_.SetTiming(laser, Timing::PulseHigh, operand, time); break;
    case 0x12: case 0x19: lasers_.SetTiming(laser, Timing::PulseLow, operand, time); break;
    case 0x13: case 0x1A: lasers_.SetTiming(laser, Timing::IdleHigh, operand, time); break;
    case 0x14: case 0x1B: lasers_.SetTiming(laser, Timing::IdleLow, operand, time); break;
    case 0x16: case 0x1C: lasers_.Pulses(laser, (operand & 1) != 0, time); break;
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
    case 0x01: Galvo(word, time); break;
    case 0x04: Correction(word); break;
    case 0x71: host_.StreamUart(word); break;
    case 0x52: waits_.SelectLane(operand); break;
    case 0x53: case 0x55: waits_.WriteLane((word >> 8) & 0xFF, word & 0xFF); break;
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
      } else if (word == 0x51700000) {
        waits_.Write(CARDSIM_REG_16, word, waits_.Lane(), 0, time);
      } else if ((word & 0xFFFF0001) == 0x51B00001) {
        waits_.Write(CARDSIM_REG_IO_COND, word, waits_.LastPort(), (word >> 1) & 0x7FFF, time);
      } else if (word == kEndWord) {
        End(1, 0, time);
      }
      break;
    default:
      break;
  }
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
    return;
  }
  const uint32_t sub = operand >> 16;
  const bool y = sub & 1, z = sub & 2, unlit = sub & 4, jump = sub & 8;
  if (sub > 0xF || (z && (y || jump))) return;
  const uint32_t flags = (unlit ? 0 : CARDSIM_POS_LIT) | (jump ? CARDSIM_POS_JUMP : 0);
  galvo_.Move(z ? Axis::Z : y ? Axis::Y : Axis::X, operand & 0xFFFF, flags, word, time);
}

void StreamEngine::BeginWait(uint32_t word, uint64_t time) {
  const uint32_t source = (word >> 16) & 0xF;
  const bool timed = (word >> 15) & 1;
  const uint32_t reason = word & 0x7FFF;
  waits_.Begin(word, source, reason, timed, time);
  // Only the inputs are modelled: any other wait passes at once. A wait on the inputs holds the
  // executor (Advance) until HoldWait ends it.
  if (reason != kRegisterReason || source != kInputSource)
    waits_.Finish(CARDSIM_WAIT_PASSED, host_.StreamInputs());
}

void StreamEngine::End(uint32_t code, uint32_t sub, uint64_t at) {
  if (waits_.Waiting()) waits_.Finish(CARDSIM_WAIT_RUN_END, host_.StreamInputs());
  phase_ = Phase::Ended;
  endCode_ = code;
  subCode_ = sub;
  pending_.clear();
  consumed_ = received_;
  lasers_.RunEnded(at);
  host_.StreamRunning(false);
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
  out.pending_words = static_cast<uint32_t>(pending_.size());
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

uint32_t StreamEngine::TraceCount(bool wordsOnly) const { return wordsOnly ? wordsTotal_ : fullTotal_; }

bool StreamEngine::TraceGet(bool wordsOnly, uint32_t index, cardsim_trace_entry& out) const {
  const auto& v = wordsOnly ? words_ : full_;
  if (index >= v.size()) return false;
  out = v[index];
  return true;
}

void StreamEngine::TraceClear() {
  full_.clear();
  words_.clear();
  full_.shrink_to_fit();
  words_.shrink_to_fit();
  fullTotal_ = wordsTotal_ = 0;
}

}  // namespace cardsim
