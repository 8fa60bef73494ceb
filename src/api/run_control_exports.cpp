// Run control and job queries: stop, pause and continue, the run's state, the last job's figures.
// None takes the mark-call guard: a stop comes from any thread while a job runs or ends.
#include "frame/export_call.h"
#include "mark/run_control.h"
#include "qzmark.h"

extern "C" QZ_API uint32_t QZ_STDCALL QZ_Mark_Stop() {
  return ExportCall("QZ_Mark_Stop", [&]() -> uint32_t { return MarkStop(); });
}

extern "C" QZ_API uint32_t QZ_STDCALL QZ_Control(uint32_t first, uint32_t second, uint32_t* state) {
  return ExportCall("QZ_Control", [&]() -> uint32_t { return RunControl(first, second, state); });
}

extern "C" QZ_API uint32_t QZ_STDCALL QZ_GetMarkInfo(uint32_t* info) {
  return ExportCall("QZ_GetMarkInfo", [&]() -> uint32_t { return GetMarkInfo(info); });
}

extern "C" QZ_API uint32_t QZ_STDCALL QZ_GetMarkTime(uint32_t* time) {
  return ExportCall("QZ_GetMarkTime", [&]() -> uint32_t { return GetMarkTime(time); });
}

extern "C" QZ_API uint32_t QZ_STDCALL QZ_GetMarkLineCnt(uint32_t* count) {
  return ExportCall("QZ_GetMarkLineCnt", [&]() -> uint32_t { return GetMarkLineCnt(count); });
}
