// Stand-in companion modules for the start-up tests: they export the entry points the library
// resolves at load (all of them, or all but one when QZ_STAND_IN_PARTIAL is defined) and do nothing.
#include <cstdint>

#if defined(_WIN32)
#define STAND_IN extern "C" __declspec(dllexport) uint32_t __stdcall
#else
#define STAND_IN extern "C" __attribute__((visibility("default"))) uint32_t
#endif

#if defined(QZ_STAND_IN_GRIDEL)
STAND_IN SetCaliPara(int32_t, void*) { return 0; }
STAND_IN GetBoxSize(double* r) { if (r) *r = 10.0; return 0; }
#if !defined(QZ_STAND_IN_PARTIAL)
STAND_IN Cali(double* in, double* out) { out[0] = in[0]; out[1] = in[1]; return 0; }
#endif
#endif

#if defined(QZ_STAND_IN_CORRIX)
STAND_IN Initial(int32_t) { return 0; }
STAND_IN Create(int32_t, int32_t, void*, void*) { return 0; }
STAND_IN Del(int32_t) { return 0; }
STAND_IN DelAll() { return 0; }
STAND_IN SetCaliPara(int32_t, void*) { return 0; }
STAND_IN SetRedPara(int32_t, void*) { return 0; }
STAND_IN Set3DPara(int32_t, void*) { return 0; }
STAND_IN EnableDiffCorr(int32_t, double, int32_t, void*) { return 0; }
STAND_IN DisableDiffCorr(int32_t) { return 0; }
STAND_IN Do2DCali(int32_t, double, double, int32_t*, int32_t*, int32_t) { return 0; }
#if !defined(QZ_STAND_IN_PARTIAL)
STAND_IN Do3DCali(int32_t, double, double, double, int32_t*, int32_t*, int32_t) { return 0; }
#endif
#endif

#if defined(QZ_STAND_IN_PORTLANE)
STAND_IN QZ_OpenDriver(uint32_t) { return 1; }
STAND_IN QZ_GetCardsNo(void*, void*, uint32_t) { return 0; }
STAND_IN QZ_CloseDriver() { return 0; }
STAND_IN QZ_CmdSend(const void*, uint32_t) { return 1; }
STAND_IN QZ_CmdRecv(void*, uint32_t) { return 1; }
STAND_IN QZ_BufSend(const void*, uint32_t) { return 1; }
STAND_IN QZ_BufRecv(void*, uint32_t) { return 1; }
STAND_IN QZ_DeviceIoControl(uint32_t, void*, uint32_t, void*, uint32_t, uint32_t*) { return 1; }
#if !defined(QZ_STAND_IN_PARTIAL)
STAND_IN QZ_SendComCmd(uint32_t, uint32_t, uint32_t, uint32_t, void*, uint32_t) { return 1; }
#endif
#endif
