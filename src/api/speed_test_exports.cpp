// The speed test exports (monitor/speed_test.h).
#include "frame/export_call.h"
#include "monitor/speed_test.h"
#include "qzmark.h"

extern "C" QZ_API uint32_t QZ_STDCALL QZ_TestSpeed(void) {
  return ExportCall("QZ_TestSpeed", [] { return RunSpeedTest(); });
}

extern "C" QZ_API uint32_t QZ_STDCALL QZ_TestOssSwitchSpeed(void) {
  return ExportCall("QZ_TestOssSwitchSpeed", [] { return RunOssSwitchSpeedTest(); });
}
