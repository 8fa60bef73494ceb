// The pen exports: QZ_SetMarkPara, QZ_SetMarkParaPlus and the power-wave setters. Each takes the
// mark-call guard (they may come between jobs or inside one) and returns its setter's result, or 1
// when no card is open or the card was lost meanwhile.
#include "cardlink/portlane.h"
#include "frame/export_call.h"
#include "frame/log_file.h"
#include "mark/mark_job.h"
#include "markbase/pen_para.h"
#include "qzmark.h"

namespace {

const uint8_t* Bytes(const void* p) { return static_cast<const uint8_t*>(p); }

// The frame of a pen export around `setter` (called inside the guard).
template <class Setter>
uint32_t PenCall(const char* name, Setter&& setter) {
  if (!g_Link.g_bConnected) return RV_CARD_NOT_CONNECTED;
  CMarkLock lock;
  if (!lock.Owns()) return CMarkLock::Refuse(name);
  const uint32_t rc = setter();
  return g_Link.g_bConnected ? rc : RV_CARD_NOT_CONNECTED;
}

}  // namespace

extern "C" QZ_API uint32_t QZ_STDCALL QZ_SetMarkPara(const void* records, int32_t count) {
  return ExportCall("QZ_SetMarkPara", [&]() -> uint32_t {
    g_InfoLog.Write("QZ_SetMarkPara", LOG_INFO, "%d", static_cast<int>(count));
    return PenCall("QZ_SetMarkPara", [&]() REQUIRES(g_MarkCall) { return SetMarkPara(Bytes(records), count); });
  });
}

extern "C" QZ_API uint32_t QZ_STDCALL QZ_SetMarkParaPlus(const void* records, int32_t count) {
  return ExportCall("QZ_SetMarkParaPlus", [&]() -> uint32_t {
    g_InfoLog.Write("QZ_SetMarkParaPlus", LOG_INFO, "%d", static_cast<int>(count));
    return PenCall("QZ_SetMarkParaPlus",
                   [&]() REQUIRES(g_MarkCall) { return SetMarkParaPlus(Bytes(records), count); });
  });
}

extern "C" QZ_API uint32_t QZ_STDCALL QZ_SetMarkParaLinePowWaveL(int32_t laser, int32_t layer, const void* start,
                                                                int32_t nStart, const void* end, int32_t nEnd) {
  return ExportCall("QZ_SetMarkParaLinePowWaveL", [&]() -> uint32_t {
    g_InfoLog.Write("QZ_SetMarkParaLinePowWaveL", LOG_INFO, "laser=%d layer=%d start=%d end=%d",
                    static_cast<int>(laser), static_cast<int>(layer), static_cast<int>(nStart),
                    static_cast<int>(nEnd));
    return PenCall("QZ_SetMarkParaLinePowWaveL", [&]() REQUIRES(g_MarkCall) {
      return SetMarkParaLinePowWave(laser, layer, Bytes(start), nStart, Bytes(end), nEnd);
    });
  });
}

extern "C" QZ_API uint32_t QZ_STDCALL QZ_SetMarkParaLinePowWave(int32_t layer, const void* start, int32_t nStart,
                                                               const void* end, int32_t nEnd) {
  return ExportCall("QZ_SetMarkParaLinePowWave", [&]() -> uint32_t {
    g_InfoLog.Write("QZ_SetMarkParaLinePowWave", LOG_INFO, "layer=%d start=%d end=%d", static_cast<int>(layer),
                    static_cast<int>(nStart), static_cast<int>(nEnd));
    return PenCall("QZ_SetMarkParaLinePowWave", [&]() REQUIRES(g_MarkCall) {
      return SetMarkParaLinePowWave(0, layer, Bytes(start), nStart, Bytes(end), nEnd);
    });
  });
}

extern "C" QZ_API uint32_t QZ_STDCALL QZ_SetMarkParaDotPowWaveL(int32_t laser, int32_t layer, const void* wave,
                                                               int32_t count) {
  return ExportCall("QZ_SetMarkParaDotPowWaveL", [&]() -> uint32_t {
    g_InfoLog.Write("QZ_SetMarkParaDotPowWaveL", LOG_INFO, "laser=%d layer=%d count=%d", static_cast<int>(laser),
                    static_cast<int>(layer), static_cast<int>(count));
    return PenCall("QZ_SetMarkParaDotPowWaveL", [&]() REQUIRES(g_MarkCall) {
      return SetMarkParaDotPowWave(laser, layer, Bytes(wave), count);
    });
  });
}

extern "C" QZ_API uint32_t QZ_STDCALL QZ_SetMarkParaDotPowWave(int32_t layer, const void* wave, int32_t count) {
  return ExportCall("QZ_SetMarkParaDotPowWave", [&]() -> uint32_t {
    g_InfoLog.Write("QZ_SetMarkParaDotPowWave", LOG_INFO, "layer=%d count=%d", static_cast<int>(layer),
                    static_cast<int>(count));
    return PenCall("QZ_SetMarkParaDotPowWave", [&]() REQUIRES(g_MarkCall) {
      return SetMarkParaDotPowWave(0, layer, Bytes(wave), count);
    });
  });
}
