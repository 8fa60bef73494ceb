// Record exports: the laser-state and analogue lists the monitor thread fills.
#include "frame/errors.h"
#include "frame/export_call.h"
#include "monitor/record_lists.h"
#include "qzmark.h"

extern "C" QZ_API uint32_t QZ_STDCALL QZ_GetLaserMsg(uint32_t* found, uint32_t* state, uint32_t* timeMs) {
  return ExportCall("QZ_GetLaserMsg", [&]() -> uint32_t {
    if (!found || !state || !timeMs) return RV_ERROR;
    PopLaserMsg(found, state, timeMs);
    return RV_OK;
  });
}

extern "C" QZ_API uint32_t QZ_STDCALL QZ_EmptyLaserMsg() {
  return ExportCall("QZ_EmptyLaserMsg", [&]() -> uint32_t {
    EmptyLaserMsg();
    return RV_OK;
  });
}

extern "C" QZ_API uint32_t QZ_STDCALL QZ_GetADDARecordWithSysTime(int32_t* found, double* ad, double* da,
                                                                  uint32_t* time, uint32_t* sampleTick,
                                                                  uint32_t* nowTick) {
  return ExportCall("QZ_GetADDARecordWithSysTime", [&]() -> uint32_t {
    if (!found || !ad || !da || !time || !sampleTick || !nowTick) return RV_ERROR;
    PopAdDaRecord(found, ad, da, time, sampleTick, nowTick);
    return RV_OK;
  });
}

extern "C" QZ_API uint32_t QZ_STDCALL QZ_GetADRecordWithSysTime(int32_t* found, double* ad, uint32_t* time,
                                                                uint32_t* sampleTick, uint32_t* nowTick) {
  return ExportCall("QZ_GetADRecordWithSysTime", [&]() -> uint32_t {
    if (!found || !ad || !time || !sampleTick || !nowTick) return RV_ERROR;
    PopAdDaRecord(found, ad, nullptr, time, sampleTick, nowTick);
    return RV_OK;
  });
}

extern "C" QZ_API uint32_t QZ_STDCALL QZ_GetADRecord(int32_t* found, double* ad, uint32_t* time) {
  return ExportCall("QZ_GetADRecord", [&]() -> uint32_t {
    if (!found || !ad || !time) return RV_ERROR;
    PopAdDaRecord(found, ad, nullptr, time, nullptr, nullptr);
    return RV_OK;
  });
}

extern "C" QZ_API uint32_t QZ_STDCALL QZ_EmptyADRecord() {
  return ExportCall("QZ_EmptyADRecord", [&]() -> uint32_t {
    EmptyAdDaRecord();
    return RV_OK;
  });
}
