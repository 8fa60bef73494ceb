#include "mark/mark_member.h"

#include "cardlink/portlane.h"
#include "frame/errors.h"
#include "frame/export_call.h"
#include "mark/mark_job.h"

namespace {

void WriteEntryLine(const MarkMember& m, EntryValue v) {
  switch (m.text) {
    case EntryText::kNoLine:
      return;
    case EntryText::kEmpty:
      g_InfoLog.Write(m.name, m.level, "%s", "");
      return;
    case EntryText::kInt:
      g_InfoLog.Write(m.name, m.level, "%d", static_cast<int>(v.n));
      return;
    case EntryText::kReal2:
      g_InfoLog.Write(m.name, m.level, "%.2f", v.x);
      return;
    case EntryText::kReal3:
      g_InfoLog.Write(m.name, m.level, "%.3f", v.x);
      return;
  }
}

}  // namespace

uint32_t MarkMemberFrame(const MarkMember& m, EntryValue entry, MemberStep check, MemberStep body) noexcept {
  return ExportCall(m.name, [&]() -> uint32_t {
    WriteEntryLine(m, entry);
    if (!g_Link.g_bConnected) return RV_CARD_NOT_CONNECTED;
    CMarkLock lock;
    if (!lock.Owns()) return CMarkLock::Refuse(m.name);
    const int32_t state = g_MarkJob.nMarkState;
    if (state == kMarkStateIdle) {
      ReportFailure(m.name, GetErrText(RV_MARK_NOT_START));
      return RV_MARK_NOT_START;
    }
    if (state == kMarkStateStarting) return RV_OK;
    if (check) {
      const uint32_t refused = check();
      if (refused != RV_OK) return refused;
    }
    // A start that failed inside has been reported by MarkBufferBefore; the member goes on.
    MarkBufferBefore(m.kind);
    if (JobStoppedOrFailed()) return RV_MARK_ERROR;
    const uint32_t rc = body();
    return g_Link.g_bConnected ? rc : RV_CARD_NOT_CONNECTED;
  });
}
