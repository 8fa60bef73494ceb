// Card exports: counting, opening, closing, versions, the parameter flag.
#include "cardlink/card_open.h"
#include "cardlink/hw_info.h"
#include "cardlink/portlane.h"
#include "frame/export_call.h"
#include "frame/worker_threads.h"
#include "mark/mark_job.h"
#include "qzmark.h"

extern "C" QZ_API uint32_t QZ_STDCALL QZ_GetCardsNo(void* a, void* b) {
  return ExportCall("QZ_GetCardsNo", [&]() -> uint32_t { return CountCards(a, b); });
}

extern "C" QZ_API uint32_t QZ_STDCALL QZ_InitCard() {
  return ExportCall("QZ_InitCard", [&]() -> uint32_t {
    // A job left open by a host whose card was lost no longer holds the library.
    EndJobOfLostCard();
    return InitCard();
  });
}

extern "C" QZ_API uint32_t QZ_STDCALL QZ_CloseCard() {
  return ExportCall("QZ_CloseCard", [&]() -> uint32_t {
    if (!OpenOnlyFlag()) {
      CommitCardAtClose();
      StopWorkerThreads();
    }
    return CloseCardRelease();
  });
}

extern "C" QZ_API uint32_t QZ_STDCALL debug_OpenCard2GetMsg(uint32_t flag) {
  SetOpenOnlyFlag(flag);
  return RV_OK;
}

extern "C" QZ_API uint32_t QZ_STDCALL QZ_SetFlag(uint32_t key, uint32_t /*value*/) {
  return ExportCall("QZ_SetFlag", [&]() -> uint32_t { return AcceptCardPara(key); });
}
