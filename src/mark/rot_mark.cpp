#include "mark/rot_mark.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>

#include "axis/axis_codes.h"
#include "axis/axis_records.h"
#include "calibration/box_para.h"
#include "calibration/scan.h"
#include "frame/conv.h"
#include "frame/errors.h"
#include "frame/ini_cfg.h"
#include "frame/log_file.h"
#include "frame/system_para.h"
#include "markbase/io_words.h"
#include "mark/motor_words.h"
#include "markbase/stream_words.h"

RotateMarkPara g_RotatePara;
RotMark g_RotMark;

namespace {

constexpr uint32_t kSegmentStart = SW_ROT_SEGMENT_1;
constexpr uint32_t kRampStart = SW_ROT_SEGMENT_2;
constexpr uint32_t kRampEnd = SW_ROT_SEGMENT_3;
constexpr uint64_t kPositioningPause = 100000;  // µs between the positioning and the marking move
constexpr uint32_t kArriveWaitSource = 2;       // axis 1's position
constexpr uint32_t kArriveWaitTimeoutMs = 1000;
constexpr int32_t kCentre16 = 32767;
constexpr int32_t kCentre21 = 1048576;
constexpr double kCodes21 = 2097152.0;  // 2^21

[[noreturn]] void Refuse(const char* why) {
  SetMarkErrorAndThrow(RV_ERROR, StrFormat("%s: %s", Lang("旋转打标参数错误", "Rotation marking"), why));
}

}  // namespace

uint32_t SetRotateMarkPara(uint32_t enable, uint32_t axis, double speedLimit, double rampFactor) {
  if (enable != 0) g_InfoLog.Write("QZ_SetRotateMarkPara", LOG_INFO, "%s", "");
  g_RotatePara.nAxis.store(axis);
  g_RotatePara.dbSpeedLimit.store(speedLimit);
  g_RotatePara.dbRampFactor.store(rampFactor);
  g_RotatePara.dbMotorAccLenMM.store(ReadMainDouble("SCAN", "dbMotorAccLenMM", 5.0));
  g_SystemPara.nRotateAxis = static_cast<int32_t>(axis);
  g_RotatePara.nEnable.store(enable);
  return RV_OK;
}

void RotMark::Segments::clear() {
  start.clear();
  startPos.clear();
  m2.clear();
  m3.clear();
  end.clear();
  endPos.clear();
}

RotMarkSettings RotMark::CurrentSettings() {
  RotMarkSettings s;
  s.axis = (g_RotatePara.nAxis.load() & 1u) ^ (g_Scan.nCoordType > 3 ? 1u : 0u);
  s.fieldX = g_Scan.FieldX();
  s.field = s.axis == 1 ? g_Scan.FieldY() : s.fieldX;
  s.halfRange = CCaliLink::HalfRange();
  s.code21 = g_SystemPara.bNewBoxCali != 0;
  const double p = s.axis == 1 ? g_SystemPara.MarkEnd_Y : g_SystemPara.MarkEnd_X;
  if (s.code21) {
    s.startCode = RoundCode21(MmToCode21Real(p, s.halfRange));
  } else {
    // A rest outside the field is limited to its edge, not wrapped into the other half.
    s.startCode = std::clamp(RealToInt32(p / (s.fieldX / 65535.0) + 32767.0), 0, kCode16Max);
  }
  const NxaAxisRecord a = NxaGetAxis(0);
  s.sr = a.bRotary ? a.dbRotaryScale : 1.0;
  s.pulses = a.dbPulsePerUnit;
  s.maxVel = a.dbMaxVel;
  s.maxAcc = a.dbMaxAcc;
  s.speedLimit = g_RotatePara.dbSpeedLimit.load();
  s.rampFactor = g_RotatePara.dbRampFactor.load();
  s.accLenMM = g_RotatePara.dbMotorAccLenMM.load();
  return s;
}

void RotMark::Begin(const RotMarkSettings& s) {
  s_ = s;
  s_.axis &= 1u;
  offset_ = 0;
  gap_ = 0;
}

double RotMark::K() const { return s_.code21 ? 2.0 * s_.halfRange / kCodes21 : s_.fieldX / 65535.0; }

double RotMark::DacToMm(int32_t code) const {
  if (!s_.code21) return Code16ToMm(code, s_.field);
  const double r = s_.halfRange;
  return std::clamp(code / kCodes21 * 2.0 * r - r, -r, r);
}

bool RotMark::IsPositionWord(uint32_t w, int32_t& code) const {
  if (s_.code21) {
    if ((w & 0xFFE00000u) != (s_.axis == 1 ? SW_GALVO21_Y : SW_GALVO21_X)) return false;
    code = static_cast<int32_t>(w & 0x1FFFFFu);
    return true;
  }
  if ((w & 0xFFF80000u) != 0x01000000u || ((w >> 16) & 3u) != s_.axis) return false;
  code = static_cast<int32_t>(w & 0xFFFFu);
  return true;
}

int32_t RotMark::Diff(size_t a, size_t b) const {
  return static_cast<int32_t>(static_cast<uint32_t>((*q_)[a].time) - static_cast<uint32_t>((*q_)[b].time));
}

void RotMark::ClearWalk() {
  for (auto* v : {&segStart_, &segStartPos_, &m2_, &m3_, &segEnd_, &segEndPos_}) v->clear();
}

void RotMark::Process(bool bFinal, Queue& queue, Queue& out) {
  if (!bFinal) return;
  q_ = &queue;
  int32_t cur = s_.code21 ? kCentre21 : kCentre16;
  size_t resume = 0;
  bool open = false;
  ClearWalk();
  out.reserve(out.size() + queue.size());
  const size_t n = queue.size();
  for (size_t j = 0; j < n; ++j) {
    const uint32_t w = queue[j].word;
    const int32_t idx = static_cast<int32_t>(j);
    if (IsPositionWord(w, cur)) {
      queue[j].word = SW_NOP;
    } else if (w == kSegmentStart) {
      if (open) {
        segEnd_.push_back(idx);
        segEndPos_.push_back(cur);
      }
      segStart_.push_back(idx);
      segStartPos_.push_back(cur);
      open = true;
    } else if (w == kRampStart) {
      m2_.push_back(idx);
    } else if (w == kRampEnd) {
      m3_.push_back(idx);
    } else if ((w & 0xFFF00000u) == SW_KIND_MARKER && (w & 0xFFFFu) != KIND_VECTOR) {
      if (open) {
        segEnd_.push_back(idx);
        segEndPos_.push_back(cur);
        open = false;
      }
      if (!segStart_.empty()) {
        Group(segEnd_, segEndPos_, resume, out);
        ClearWalk();
      }
    }
  }
  ShiftStreamTimes(resume, n, out);
  queue.clear();
  q_ = nullptr;
}

void RotMark::Group(const std::vector<int32_t>& end, const std::vector<int32_t>& endPos, size_t& resume, Queue& out) {
  const size_t n = segStart_.size();
  if (end.size() != n || m2_.size() != n || m3_.size() != n) {
    Refuse(StrFormat("segments %zu, ends %zu, ramp starts %zu, ramp ends %zu", n, end.size(), m2_.size(),
                     m3_.size()).c_str());
  }
  run_.clear();
  AddSegment(segStart_[0], segStartPos_[0], m2_[0], m3_[0], end[0], endPos[0]);
  int64_t d = 0;
  for (size_t i = 1; i < n; ++i) {
    const int64_t delta = static_cast<int64_t>(endPos[i]) - run_.endPos.back();
    if (std::llabs(delta) < 2) {
      run_.m3.back() = m3_[i];
      run_.end.back() = end[i];
      run_.endPos.back() = endPos[i];
    } else if (delta * d < 0) {
      ProcessSegments(resume, out);
      run_.clear();
      AddSegment(segStart_[i], segStartPos_[i], m2_[i], m3_[i], end[i], endPos[i]);
      d = 0;
    } else {
      AddSegment(segStart_[i], segStartPos_[i], m2_[i], m3_[i], end[i], endPos[i]);
      d = delta;
    }
  }
  ProcessSegments(resume, out);
  run_.clear();
}

void RotMark::ShiftStreamTimes(size_t from, size_t to, Queue& out) {
  Queue& q = *q_;
  const uint64_t off = static_cast<uint64_t>(offset_);
  for (size_t j = from; j < to; ++j) {
    q[j].time += off;
    out.push_back(q[j]);
  }
}

void RotMark::AddSegment(int32_t start, int32_t startPos, int32_t m2, int32_t m3, int32_t end, int32_t endPos) {
  run_.start.push_back(start);
  run_.startPos.push_back(startPos);
  run_.m2.push_back(m2);
  run_.m3.push_back(m3);
  run_.end.push_back(end);
  run_.endPos.push_back(endPos);
}

void RotMark::ProcessSegments(size_t& resume, Queue& out) {
  const size_t n = run_.size();
  const auto& S = run_.start;
  const auto& M2 = run_.m2;
  const auto& M3 = run_.m3;
  const auto& E = run_.end;
  const auto& P = run_.endPos;
  const double k = K();
  const double vmax = s_.speedLimit / s_.sr / (k * 1000000.0);
  double vmin = vmax;
  int64_t D = 1000;
  for (size_t i = 1; i < n; ++i) {
    const int32_t dt = Diff(static_cast<size_t>(M2[i]), static_cast<size_t>(M2[i - 1]));
    // dt 0: an infinite speed (the positions of a run differ by 2 codes or more).
    const double v = std::fabs(static_cast<double>(P[i]) - P[i - 1]) / std::fabs(static_cast<double>(dt));
    if (i == 1 || v < vmin) {
      vmin = v;
      D = dt;
    }
  }
  gap_ = RealToInt32(static_cast<double>(D) * 0.1);
  const double r = vmin < vmax ? 0.8 * vmin : 0.8 * vmax;
  const bool direction = P[0] > P[n - 1];
  // In codes, as the galvanometer encoder converts: truncated (16-bit), rounded (21-bit).
  const double lengthCodes = s_.accLenMM / k;
  const int32_t accLen = RealToInt32(s_.code21 ? std::round(lengthCodes) : lengthCodes);

  ShiftStreamTimes(resume, static_cast<size_t>(S[0]), out);
  resume = static_cast<size_t>(S[0]);
  InsertMotorMove(accLen, direction, r);
  offset_ = static_cast<int64_t>(motor_.back().time) - T(static_cast<size_t>(E[n - 1])) + 10;

  ramp_.clear();
  const double startCode = s_.startCode;
  for (size_t i = 0; i < n; ++i) {
    const int64_t span = T(static_cast<size_t>(M3[i])) - T(static_cast<size_t>(M2[i]));
    const int32_t target = RealToInt32(r * s_.rampFactor * static_cast<double>(span) + startCode);
    AppendRamp(ramp_, target, (*q_)[static_cast<size_t>(M2[i])].time, span, startCode);
    const uint64_t back = (*q_)[static_cast<size_t>(E[i] - 1)].time + static_cast<uint64_t>(gap_ / 4);
    AppendRamp(ramp_, s_.startCode, back, gap_ / 2, target);
  }
  // Motor and ramp words by time, the ramp word first on equal times.
  merged_.clear();
  size_t a = 0, b = 0;
  while (a < motor_.size() || b < ramp_.size()) {
    if (b < ramp_.size() && (a == motor_.size() || TwTime(ramp_[b]) <= TwTime(motor_[a]))) {
      merged_.push_back(ramp_[b++]);
    } else {
      merged_.push_back(motor_[a++]);
    }
  }
  MergeByTime(out, merged_, *q_, static_cast<size_t>(S[0]), static_cast<size_t>(E[n - 1]));
  resume = static_cast<size_t>(E[n - 1]);
}

void RotMark::InsertMotorMove(int32_t accLen, bool direction, double r) {
  const size_t n = run_.size();
  const auto& S = run_.start;
  const auto& M2 = run_.m2;
  const auto& E = run_.end;
  const auto& P = run_.endPos;
  Queue& q = *q_;
  const double k = K();
  const double s = direction ? 1.0 : -1.0;
  motor_.clear();
  uint64_t t = q[static_cast<size_t>(M2[0])].time + static_cast<uint64_t>(offset_);
  // In reals and saturated: a speed of no use (NaN, infinite) still gives codes, refused at the
  // marking move.
  const double lead = std::trunc(Diff(static_cast<size_t>(M2[0]), static_cast<size_t>(S[0])) * r);
  const double tail = std::trunc(Diff(static_cast<size_t>(E[n - 1]), static_cast<size_t>(M2[n - 1])) * r);
  const int32_t p1 = RealToInt32(P[0] + s * (lead + 2.0 * accLen));
  const int32_t p3 = RealToInt32(P[n - 1] - s * (tail + 2.0 * accLen));
  const double v = k * 1000000.0 * r;
  double a = v * v / (accLen * k) * 0.5;
  const double code = s_.sr * a * s_.pulses / 2.5e15 * 281474976710656.0;
  if (code < 1.2) a = a * 1.2 / code;
  MotorMoveInStream(motor_, t, true, true, s_.maxVel, s_.maxAcc, DacToMm(p1) * s_.sr, s_.pulses);
  t += kPositioningPause;
  MotorMoveInStream(motor_, t, true, false, s_.sr * v, s_.sr * a, DacToMm(p3) * s_.sr, s_.pulses);
  const uint32_t arrive = AxisValueCodes::Position(DacToMm(P[0]) * s_.sr, s_.pulses);
  MakeSeqWriteRegIo(motor_, 0xFFFFFF, t + 1, arrive, kWaitNoTimeout, kArriveWaitTimeoutMs, kArriveWaitSource);
  uint64_t u = motor_.back().time;
  for (size_t i = 0; i < n; ++i) {
    u += i == 0 ? 10 : static_cast<uint64_t>(RealToInt64(std::fabs(static_cast<double>(P[i]) - P[i - 1]) / r));
    const int32_t d = static_cast<int32_t>(static_cast<uint32_t>(u) - static_cast<uint32_t>(q[static_cast<size_t>(M2[i])].time));
    for (int32_t j = S[i]; j < E[i]; ++j) q[static_cast<size_t>(j)].time += static_cast<uint64_t>(static_cast<int64_t>(d));
  }
  t = q[static_cast<size_t>(E[n - 1] - 1)].time + static_cast<uint64_t>(2 * static_cast<int64_t>(gap_));
  MotorMoveInStream(motor_, t, false, true, s_.sr * v, s_.sr * a, DacToMm(p3) * s_.sr, s_.pulses);
}

void RotMark::AppendRamp(Queue& list, int32_t target, uint64_t t, int64_t duration, double start) const {
  int64_t n = duration / 10;
  double step = n >= 1 ? (target - start) / static_cast<double>(n) : target - start;
  if (n < 1) n = 1;
  const uint32_t axis = s_.axis;
  for (int64_t m = 1; m <= n; ++m) {
    t += 10;
    const int32_t value = RealToInt32(start + static_cast<double>(m) * step);
    const uint32_t word = s_.code21 ? ((axis | SW_ROT_POS21_AXIS_FLAG) << 22 | (static_cast<uint32_t>(value) & 0x1FFFFFu))
                                    : ((axis | SW_ROT_POS_AXIS_FLAG) << 16 | (static_cast<uint32_t>(value) & 0xFFFFu));
    list.push_back({t, word});
  }
}

void RotMark::MergeByTime(Queue& out, const Queue& list, Queue& queue, size_t from, size_t to) {
  size_t a = 0, b = from;
  while (a < list.size() || b < to) {
    if (b < to && (a == list.size() || TwTime(queue[b]) <= TwTime(list[a]))) {
      out.push_back(queue[b++]);
    } else {
      out.push_back(list[a++]);
    }
  }
}
