// The mark-list exports: each is its entry in the member table (name, kind, entry line) and its body,
// run through the common frame (mark/mark_member.h).
#include <string>

#include "frame/conv.h"
#include "frame/errors.h"
#include "frame/log_file.h"
#include "laser/laser_outputs.h"
#include "markbase/io_words.h"
#include "mark/layer_switch.h"
#include "mark/line_storage.h"
#include "mark/mark_member.h"
#include "markbase/pen_para.h"
#include "mark/scan_sequences.h"
#include "qzmark.h"

namespace {

constexpr MarkMember kMarkVector{"QZ_MarkVector", KIND_VECTOR, LOG_TRACE, EntryText::kInt};
constexpr MarkMember kMarkBufIO{"QZ_MarkBufIO", KIND_IO, LOG_TRACE, EntryText::kEmpty};
constexpr MarkMember kMarkBufWait{"QZ_MarkBufWait", KIND_WAIT, LOG_TRACE, EntryText::kEmpty};
constexpr MarkMember kMarkInputWait{"QZ_MarkInputWait", KIND_WAIT, LOG_TRACE, EntryText::kEmpty};
constexpr MarkMember kLaserSwitch{"QZ_LaserSwitch", KIND_LASER, LOG_TRACE, EntryText::kEmpty};
constexpr MarkMember kMarkSynMoveStart{"QZ_MarkSynMoveStart", KIND_FLY, LOG_TRACE, EntryText::kEmpty};
constexpr MarkMember kMarkSynMoveEnd{"QZ_MarkSynMoveEnd", KIND_FLY, LOG_TRACE, EntryText::kEmpty};
constexpr MarkMember kMarkDot{"QZ_MarkDot", KIND_DOT, LOG_TRACE, EntryText::kReal2};
constexpr MarkMember kMarkLayer{"QZ_MarkLayer", KIND_LAYER, LOG_TRACE, EntryText::kEmpty};

// A refused argument of a member: its code, with the code's text and the arguments logged under the
// member's name (no box: the job goes on).
uint32_t Refuse(const char* tag, uint32_t code, const std::string& args) {
  LogFailure(tag, GetErrText(static_cast<int32_t>(code)) + " " + args);
  return code;
}

// Synchronised moves need the card program for linked axes; this library has none. The job fails.
[[noreturn]] void NoSynMove() { SetMarkErrorAndThrow(RV_ERROR, "标准补丁无联动功能，请更新联动专用补丁"); }

}  // namespace

extern "C" QZ_API uint32_t QZ_STDCALL QZ_MarkVector(const double* points, int32_t count, uint32_t layer) {
  const auto* bytes = reinterpret_cast<const uint8_t*>(points);
  return RunMarkMember(kMarkVector, count, [&]() REQUIRES(g_MarkCall) {
    const uint32_t rc = g_LineStorage.PushLines(bytes, count, layer);
    g_InfoLog.Write(kMarkVector.name, LOG_TRACE, "end");
    return rc;
  });
}

extern "C" QZ_API uint32_t QZ_STDCALL QZ_MarkBufIO(uint32_t values, uint32_t mask, uint32_t /*reserved1*/,
                                                  uint32_t /*reserved2*/) {
  // A laser whose PA or MO output also goes over its serial link hears the switch before the
  // stream sets the outputs.
  return RunMarkMember(kMarkBufIO, {}, [&]() REQUIRES(g_MarkCall) {
    CLaserAll::SendSerialSwitchCmd(mask, values, 0);
    return AddOutputWords(values, mask);
  });
}

extern "C" QZ_API uint32_t QZ_STDCALL QZ_MarkBufWait(uint32_t packed, uint32_t /*reserved*/) {
  return RunMarkMember(
      kMarkBufWait, {}, [&] { return CheckBufWaitWord(packed); },
      [&]() REQUIRES(g_MarkCall) { return AddBufWaitRecords(packed); });
}

extern "C" QZ_API uint32_t QZ_STDCALL QZ_MarkInputWait(uint32_t mask, uint32_t values, uint32_t edge,
                                                      uint32_t edgeMode, uint32_t timeoutMs) {
  return RunMarkMember(kMarkInputWait, {}, [&]() REQUIRES(g_MarkCall) {
    return AddInputWaitRecords(mask, values, edge, edgeMode, timeoutMs);
  });
}

extern "C" QZ_API uint32_t QZ_STDCALL QZ_LaserSwitch(uint32_t /*reserved1*/, uint32_t /*reserved2*/) {
  return RunMarkMember(kLaserSwitch, {}, [] { return uint32_t{RV_OK}; });
}

extern "C" QZ_API uint32_t QZ_STDCALL QZ_MarkSynMoveStart(void) {
  return RunMarkMember(kMarkSynMoveStart, {}, []() -> uint32_t { NoSynMove(); });
}

extern "C" QZ_API uint32_t QZ_STDCALL QZ_MarkSynMoveEnd(void) {
  return RunMarkMember(kMarkSynMoveEnd, {}, []() -> uint32_t { NoSynMove(); });
}

extern "C" QZ_API uint32_t QZ_STDCALL QZ_MarkDot(const void* points, int32_t count, double dotTime, int32_t layer) {
  const auto* p = static_cast<const uint8_t*>(points);
  const auto pen = static_cast<uint32_t>(layer);
  return RunMarkMember(kMarkDot, dotTime, [&]() REQUIRES(g_MarkCall) { return MarkDotList(p, count, pen, dotTime); });
}

extern "C" QZ_API uint32_t QZ_STDCALL QZ_MarkLayer(int32_t layer, uint32_t flag) {
  const auto pen = static_cast<uint32_t>(layer);
  return RunMarkMember(
      kMarkLayer, {},
      [&] {
        if (pen < static_cast<uint32_t>(kPenCount)) return uint32_t{RV_OK};
        return Refuse(kMarkLayer.name, RV_LAYER_NUMBER_OVER, StrFormat("(layer %d)", layer));
      },
      [&]() REQUIRES(g_MarkCall) {
        CMarkGen::ApplyLayer(pen, flag != 0 ? 1 : 0);
        return uint32_t{RV_OK};
      });
}
