#pragma once
// The light-path handshakes of a marking head that shares its laser: an optical switch card
// (OSS_TYPE 1, 2) or energy splitting (3 slave, 4-6 master). Written into the job stream as output
// words and named waits, so that the card performs them in step with the marking.
#include <cstdint>

#include "mark/job_state.h"

// The wait for the switch card's answer (0x75000007, 0x7500000F for laser types 5 and 7), then the
// named wait `name`.
void AppendOssWaitStep(const char* name) REQUIRES(g_MarkCall);
// Requests the light path: kind 1 optical switch, 2 light path with energy splitting. 0.
uint32_t AppendLightPathRequest(int32_t kind, int bApply, int bWait) REQUIRES(g_MarkCall);
// Releases it. 0.
uint32_t AppendLightPathRelease(int32_t kind) REQUIRES(g_MarkCall);
