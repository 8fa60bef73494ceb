// The mark-list exports of the encoder and fly steps, delays, flushes and count markers, task
// labels, loops and jumps, and the camera step; each runs through the common frame
// (mark/mark_member.h) with its body in mark/mark_flow.h.
#include <cmath>
#include <string>

#include "frame/conv.h"
#include "frame/errors.h"
#include "frame/log_file.h"
#include "mark/line_storage.h"
#include "mark/mark_flow.h"
#include "mark/mark_job.h"
#include "mark/mark_member.h"
#include "qzmark.h"

namespace {

constexpr MarkMember kFlySwitch{"QZ_MarkFlySwitch", KIND_FLY, LOG_TRACE, EntryText::kEmpty};
constexpr MarkMember kUpdateCompensate{"MarkUpdateCompensate", KIND_FLY, LOG_TRACE, EntryText::kEmpty};
constexpr MarkMember kEncReset{"QZ_MarkEncReset", KIND_ENCODER, LOG_INFO, EntryText::kEmpty};
constexpr MarkMember kEncBufSwitch{"QZ_MarkEncBufSwitch", KIND_ENCODER, LOG_INFO, EntryText::kInt};
constexpr MarkMember kEncWait{"QZ_MarkEncWait", KIND_ENCODER_FLY, LOG_TRACE, EntryText::kInt};
constexpr MarkMember kAreaSafeFly{"QZ_MarkAreaSafeFly", KIND_ENCODER_FLY, LOG_TRACE, EntryText::kReal3};
constexpr MarkMember kFlyOnEnc{"QZ_MarkFlyOnEnc", KIND_ENCODER_FLY, LOG_TRACE, EntryText::kInt};
constexpr MarkMember kFlyEmptyPosAbs{"QZ_MarkFlyEmptyPosAbs", KIND_ENCODER_FLY, LOG_TRACE, EntryText::kReal3};
constexpr MarkMember kFlyMarkPosAbs{"QZ_MarkFlyMarkPosAbs", KIND_ENCODER_FLY, LOG_TRACE, EntryText::kReal3};
constexpr MarkMember kEncMeasDis{"QZ_MarkEncMeasDis", KIND_ENCODER_FLY, LOG_INFO, EntryText::kReal3};
constexpr MarkMember kBufDelay{"QZ_MarkBufDelay", KIND_BUFFER, LOG_TRACE, EntryText::kEmpty};
constexpr MarkMember kFlush{"QZ_MarkFlush", KIND_BUFFER, LOG_INFO, EntryText::kEmpty};
constexpr MarkMember kBufferCnt{"QZ_MarkBufferCnt", KIND_BUFFER, LOG_TRACE, EntryText::kEmpty};
// Its entry line comes before its own argument check, ahead of the frame.
constexpr MarkMember kSetCountAndWait{"QZ_MarkSetCountAndWait", KIND_BUFFER, LOG_TRACE, EntryText::kNoLine};
constexpr MarkMember kSmallTask{"MarkBufSmallTask", KIND_TASK, LOG_TRACE, EntryText::kEmpty};
constexpr MarkMember kFlagFinish{"QZ_MarkFlagFinish", KIND_TASK, LOG_TRACE, EntryText::kEmpty};
constexpr MarkMember kLoopStart{"QZ_MarkLoopStart", KIND_TASK, LOG_TRACE, EntryText::kNoLine};
constexpr MarkMember kJumpTaskNo{"QZ_MarkJumpTaskNo", KIND_TASK, LOG_TRACE, EntryText::kNoLine};
constexpr MarkMember kJumpByIOInOK{"QZ_MarkJumpByIOInOK", KIND_TASK, LOG_TRACE, EntryText::kNoLine};
constexpr MarkMember kJumpByIOInNG{"QZ_MarkJumpByIOInNG", KIND_TASK, LOG_TRACE, EntryText::kNoLine};
constexpr MarkMember kLoopEnd{"QZ_MarkLoopEnd", KIND_TASK, LOG_TRACE, EntryText::kNoLine};
constexpr MarkMember kCcd{"QZ_MarkCCD", KIND_CCD, LOG_TRACE, EntryText::kNoLine};

constexpr int32_t kSmallTaskLeadOn = -6;
constexpr int32_t kSmallTaskLeadOff = -7;
constexpr int32_t kSmallTaskCompensate = -10;

// A refused argument: its code, with the code's text and the arguments logged under the member's
// name (no box: the job goes on).
uint32_t Refused(const char* tag, uint32_t code, const std::string& args) {
  LogFailure(tag, GetErrText(static_cast<int32_t>(code)) + " " + args);
  return code;
}

uint32_t CheckTask(const char* tag, uint32_t task, uint32_t most) {
  if (task <= most) return RV_OK;
  return Refused(tag, RV_ERROR, StrFormat("(task %u)", task));
}

uint32_t CheckFinite(const char* tag, double v) {
  if (std::isfinite(v)) return RV_OK;
  return Refused(tag, RV_DATA_IS_NAN, "(position not a number)");
}

template <class Body>
uint32_t Run(const MarkMember& m, EntryValue entry, const Body& body) noexcept {
  return RunMarkMember(m, entry, [&]() REQUIRES(g_MarkCall) {
    body();
    return uint32_t{RV_OK};
  });
}

uint32_t MarkBufSmallTask(uint32_t task) {
  return RunMarkMember(
      kSmallTask, {}, [&] { return CheckTask(kSmallTask.name, task, kMaxTaskNumber); },
      [&]() REQUIRES(g_MarkCall) {
        MarkTaskLabel(task);
        return uint32_t{RV_OK};
      });
}

uint32_t MarkUpdateCompensate() {
  return Run(kUpdateCompensate, {}, []() REQUIRES(g_MarkCall) { MarkUpdateCompensateWords(); });
}

// The lead flags of the polylines, set without a job; a mark call running meanwhile owns them.
uint32_t SetLeadFlags(bool on) noexcept {
  CMarkLock lock;
  if (!lock.Owns()) return CMarkLock::Refuse("QZ_MarkBufSmallTask");
  g_LineStorage.bLeadEnable = on ? 1 : 0;
  if (on) g_LineStorage.bLeadSkipOnce = 1;
  return RV_OK;
}

}  // namespace

// ---- encoder and fly

extern "C" QZ_API uint32_t QZ_STDCALL QZ_MarkFlySwitch(uint32_t on) {
  return Run(kFlySwitch, {}, [&]() REQUIRES(g_MarkCall) { MarkFlySwitch(on); });
}

extern "C" QZ_API uint32_t QZ_STDCALL QZ_MarkEncReset(void) {
  return Run(kEncReset, {}, []() REQUIRES(g_MarkCall) { MarkEncReset(); });
}

extern "C" QZ_API uint32_t QZ_STDCALL QZ_MarkEncBufSwitch(int32_t flag) {
  return Run(kEncBufSwitch, flag, [&]() REQUIRES(g_MarkCall) { MarkEncBufSwitch(flag); });
}

extern "C" QZ_API uint32_t QZ_STDCALL QZ_MarkEncWait(int32_t pos) {
  return Run(kEncWait, pos, [&]() REQUIRES(g_MarkCall) { MarkEncWait(pos); });
}

extern "C" QZ_API uint32_t QZ_STDCALL QZ_MarkAreaSafeFly(uint32_t rangeFlag, uint32_t dir, double pos) {
  return RunMarkMember(
      kAreaSafeFly, pos, [&] { return CheckFinite(kAreaSafeFly.name, pos); },
      [&]() REQUIRES(g_MarkCall) {
        MarkAreaSafeFly(rangeFlag, dir, pos);
        return uint32_t{RV_OK};
      });
}

extern "C" QZ_API uint32_t QZ_STDCALL QZ_MarkFlyOnEnc(uint32_t pos, int32_t resetFlag, uint32_t switchFlag,
                                                     uint32_t /*reserved*/) {
  return Run(kFlyOnEnc, pos, [&]() REQUIRES(g_MarkCall) { MarkFlyOnEnc(pos, resetFlag, switchFlag); });
}

extern "C" QZ_API uint32_t QZ_STDCALL QZ_MarkFlyEmptyPosAbs(double mm) {
  return RunMarkMember(
      kFlyEmptyPosAbs, mm, [&] { return CheckFinite(kFlyEmptyPosAbs.name, mm); },
      [&]() REQUIRES(g_MarkCall) { return MarkFlyEmptyPosAbs(mm); });
}

extern "C" QZ_API uint32_t QZ_STDCALL QZ_MarkFlyMarkPosAbs(double mm) {
  return RunMarkMember(
      kFlyMarkPosAbs, mm, [&] { return CheckFinite(kFlyMarkPosAbs.name, mm); },
      [&]() REQUIRES(g_MarkCall) { return MarkFlyMarkPosAbs(mm); });
}

extern "C" QZ_API uint32_t QZ_STDCALL QZ_MarkEncMeasDis(double mm) {
  return RunMarkMember(
      kEncMeasDis, mm, [&] { return CheckFinite(kEncMeasDis.name, mm); },
      [&]() REQUIRES(g_MarkCall) { return MarkEncMeasDis(mm); });
}

// ---- delays, flushes, count markers

extern "C" QZ_API uint32_t QZ_STDCALL QZ_MarkBufDelay(uint32_t delayUs) {
  return Run(kBufDelay, {}, [&]() REQUIRES(g_MarkCall) { MarkBufDelay(static_cast<int32_t>(delayUs)); });
}

extern "C" QZ_API uint32_t QZ_STDCALL QZ_MarkFlush(void) {
  return Run(kFlush, {}, []() REQUIRES(g_MarkCall) { MarkFlushAll(); });
}

extern "C" QZ_API uint32_t QZ_STDCALL QZ_MarkBufferCnt(uint32_t count) {
  return Run(kBufferCnt, {}, [&]() REQUIRES(g_MarkCall) { MarkBufferCnt(count); });
}

extern "C" QZ_API uint32_t QZ_STDCALL QZ_MarkSetCountAndWait(uint32_t most) {
  g_InfoLog.Write(kSetCountAndWait.name, LOG_TRACE, "%s", "");
  if (most == 0) {
    ShowTopmostBox(Lang("缓存次数不允许小于1", "Cache count cannot be less than 1"));
    return RV_ERROR;
  }
  return RunMarkMember(kSetCountAndWait, {}, [&]() REQUIRES(g_MarkCall) { return MarkSetCountAndWait(most); });
}

// ---- tasks

extern "C" QZ_API uint32_t QZ_STDCALL QZ_MarkBufSmallTask(int32_t n) {
  if (n >= 0) return MarkBufSmallTask(static_cast<uint32_t>(n));
  switch (n) {
    case kSmallTaskLeadOn:
      return SetLeadFlags(true);
    case kSmallTaskLeadOff:
      return SetLeadFlags(false);
    case kSmallTaskCompensate:
      return MarkUpdateCompensate();
    default:
      return RV_OK;
  }
}

extern "C" QZ_API uint32_t QZ_STDCALL QZ_MarkFlagFinish(void) {
  return Run(kFlagFinish, {}, []() REQUIRES(g_MarkCall) { MarkFlagFinish(); });
}

extern "C" QZ_API uint32_t QZ_STDCALL QZ_MarkLoopStart(uint32_t task, uint32_t count) {
  return RunMarkMember(
      kLoopStart, {}, [&] { return CheckTask(kLoopStart.name, task, kMaxTaskNumber); },
      [&]() REQUIRES(g_MarkCall) {
        MarkLoopStart(task, count);
        return uint32_t{RV_OK};
      });
}

extern "C" QZ_API uint32_t QZ_STDCALL QZ_MarkJumpTaskNo(uint32_t task) {
  return RunMarkMember(
      kJumpTaskNo, {}, [&] { return CheckTask(kJumpTaskNo.name, task, kMaxTaskNumber); },
      [&]() REQUIRES(g_MarkCall) {
        MarkJumpTaskNo(task);
        return uint32_t{RV_OK};
      });
}

extern "C" QZ_API uint32_t QZ_STDCALL QZ_MarkJumpByIOInOK(uint32_t mask, uint32_t value, uint32_t task) {
  return RunMarkMember(
      kJumpByIOInOK, {}, [&] { return CheckTask(kJumpByIOInOK.name, task, kMaxIoJumpTask); },
      [&]() REQUIRES(g_MarkCall) {
        MarkJumpByIO(mask, value, task, true);
        return uint32_t{RV_OK};
      });
}

extern "C" QZ_API uint32_t QZ_STDCALL QZ_MarkJumpByIOInNG(uint32_t mask, uint32_t value, uint32_t task) {
  return RunMarkMember(
      kJumpByIOInNG, {}, [&] { return CheckTask(kJumpByIOInNG.name, task, kMaxIoJumpTask); },
      [&]() REQUIRES(g_MarkCall) {
        MarkJumpByIO(mask, value, task, false);
        return uint32_t{RV_OK};
      });
}

extern "C" QZ_API uint32_t QZ_STDCALL QZ_MarkLoopEnd(uint32_t task) {
  return RunMarkMember(
      kLoopEnd, {}, [&] { return CheckTask(kLoopEnd.name, task, kMaxTaskNumber); },
      [&]() REQUIRES(g_MarkCall) {
        MarkLoopEnd(task);
        return uint32_t{RV_OK};
      });
}

// ---- camera

extern "C" QZ_API uint32_t QZ_STDCALL QZ_MarkCCD(int32_t enable, int32_t number, double x, double y,
                                                uint32_t /*reserved1*/, uint32_t /*reserved2*/,
                                                uint32_t /*reserved3*/, int32_t field, int32_t selector,
                                                int32_t flag, uint32_t value, uint32_t /*reserved4*/) {
  const CcdStep s{enable, number, x, y, field, selector, flag, value};
  return RunMarkMember(
      kCcd, {},
      [&] {
        const uint32_t code = CheckCcdStep(s);
        if (code == RV_OK) return code;
        return Refused(kCcd.name, code, StrFormat("(selector %d, value %u)", selector, value));
      },
      [&]() REQUIRES(g_MarkCall) {
        EmitCcdMarkSeq(s);
        return uint32_t{RV_OK};
      });
}
