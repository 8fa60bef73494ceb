// Status exports: the host's status text.
#include <cstring>
#include <string>

#include "cardlink/card_status.h"
#include "cardlink/portlane.h"
#include "frame/export_call.h"
#include "mark/phase_timer.h"
#include "qzmark.h"

extern "C" QZ_API uint32_t QZ_STDCALL QZ_GetWaitInfo(char* out) {
  return ExportCall("QZ_GetWaitInfo", [&]() -> uint32_t {
    // The card check comes first, as in every export.
    if (!g_Link.g_bConnected) return RV_CARD_NOT_CONNECTED;
    if (!out) return RV_ERROR;
    out[0] = '\0';
    std::string text;
    // Whatever happens below, the host gets what was collected so far.
    struct CopyOut {
      std::string& text;
      char* out;
      ~CopyOut() {
        const size_t n = text.size() < kWaitInfoBufferSize - 1 ? text.size() : kWaitInfoBufferSize - 1;
        std::memcpy(out, text.data(), n);
        out[n] = '\0';
      }
    } copy{text, out};
    BuildWaitInfo(text, AppendTimingReport);
    return g_Link.g_bConnected ? RV_OK : RV_CARD_NOT_CONNECTED;
  });
}
