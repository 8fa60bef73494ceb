// Exports that answer without a card.
#include "frame/export_call.h"
#include "qzmark.h"

namespace {
constexpr uint32_t kLibraryVersion = 0x3454;
}

extern "C" QZ_API uint32_t QZ_STDCALL QZ_GetSwVer(uint32_t* version) {
  return ExportCall("QZ_GetSwVer", [&]() -> uint32_t {
    if (!version) return RV_ERROR;
    *version = kLibraryVersion;
    return RV_OK;
  });
}
