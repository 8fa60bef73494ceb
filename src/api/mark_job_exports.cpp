// The job exports: QZ_MarkStart and QZ_MarkEnd.
#include "cardlink/portlane.h"
#include "frame/conv.h"
#include "frame/export_call.h"
#include "frame/log_file.h"
#include "mark/mark_job.h"
#include "qzmark.h"

extern "C" QZ_API uint32_t QZ_STDCALL QZ_MarkStart(uint32_t mode, uint32_t /*second*/, uint32_t startFlag) {
  return ExportCall("QZ_MarkStart", [&]() -> uint32_t {
    if (mode > kLastRunMode) {
      // An unknown run mode changes nothing: no timer, no job state, no claim.
      if (!g_Link.g_bConnected) return RV_CARD_NOT_CONNECTED;
      LogFailure("QZ_MarkStart", StrFormat("run mode %u is not one of 0..%u", mode, kLastRunMode));
      return RV_ERROR;
    }
    return MarkStartJob(mode, startFlag);
  });
}

extern "C" QZ_API uint32_t QZ_STDCALL QZ_MarkEnd(uint32_t endArg) {
  return ExportCall("QZ_MarkEnd", [&]() -> uint32_t { return MarkEndJob(endArg); });
}
