// Exports that answer without a card.
#include "cardlink/hw_info.h"
#include "frame/export_call.h"
#include "qzmark.h"

extern "C" QZ_API uint32_t QZ_STDCALL QZ_GetSwVer(uint32_t* version) {
  return ExportCall("QZ_GetSwVer", [&]() -> uint32_t {
    if (!version) return RV_ERROR;
    *version = kLibraryVersion;
    return RV_OK;
  });
}

#include "cardlink/card_cmd.h"
#include "cardlink/hw_info.h"
#include "cardlink/portlane.h"

uint32_t ReadHdVer() {
  CmdReply reply;
  CPortlane::SendCmd(CMD_HW_VERSION, 0, 0, reply);
  return reply.r0();
}

extern "C" QZ_API uint32_t QZ_STDCALL QZ_GetHdVer(uint32_t* version) {
  return ExportCall("QZ_GetHdVer", [&]() -> uint32_t {
    if (!version) return RV_ERROR;
    if (!g_bConnected) return RV_CARD_NOT_CONNECTED;
    *version = ReadHdVer();
    return RV_OK;
  });
}
