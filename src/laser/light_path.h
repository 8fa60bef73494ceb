#pragma once
// The light-path handshakes of a marking head that shares its laser: an optical switch card
// (OSS_TYPE 1, 2) or energy splitting (3 slave, 4-6 master). Written into the job stream as output
// words and named waits, so that the card performs them in step with the marking.
//
// The light path in effect is read from the type flags the parameter reader derived from
// [LASER] OSS_TYPE (SystemPara::SetLaserIoFlags), never from OSS_TYPE itself: a configuration that
// switches laser parameters while the laser is on ([OTHER] bEnableSwitchLaserParaWhenLaserOn) clears
// the optical-switch flags, and then no part of the job (prologue, figures, epilogue) requests or
// releases the switch card's path: request and release always agree. EffectiveOssType gives that
// light path as a type number for every caller.
//
// The named waits of the handshakes are looked up once, when the parameter file has been read
// (LoadLightPathConfig); a figure only appends their words. A name the table does not hold is
// logged at the look-up and again at each use, and writes nothing.
//
// Output words set (value 1) or clear (value 0) one output with AppendStreamWord(1, 1, word); each
// named wait is a wait without time-out word (kind 1, 1000 ms) on the table's source and values.
#include <cstdint>

#include "markbase/job_state.h"

// The named waits of the light path.
enum class LightPathWait : int {
  kOssIdle,          // "等待分光卡通讯成功且空闲": switch card reached and idle
  kOssGrant,         // "等待分光卡光路申请反馈": switch card grants the requested path
  kLaserIdle,        // "等待激光器空闲"
  kLaserAck,         // "等待激光器响应"
  kSlaveReady,       // "等待能分从卡就绪": energy-splitting slaves ready
  kSynTrig,          // "等待能分SynTrig": energy-splitting synchronous trigger
  kSlaveReadyFree,   // "等待能分从卡就绪释放"
  kSynTrigFree,      // "等待能分SynTrig释放"
};
constexpr int kLightPathWaitCount = 8;
// The wait's name in the named-wait table.
const char* LightPathWaitName(LightPathWait w);

// Looks the light-path waits up in the named-wait table. Called once the parameter file is read
// (after SystemPara::InitPara); the first handshake of a library that has not read one looks them up
// itself.
void LoadLightPathConfig();
// The light path in effect: 0 none, 1 or 2 optical switch card, 3 energy-splitting slave, 4 to 6
// energy-splitting master (3 + slave count).
int32_t EffectiveOssType();
// The word that makes the card wait for the switch card's answer: 0x7500000F for laser types 5 and
// 7, else 0x75000007.
uint32_t OssWaitWord();

// Appends a light-path wait.
void AppendLightPathWait(LightPathWait w) REQUIRES(g_MarkCall);
// The wait for the switch card's answer (OssWaitWord with AppendStreamWord(100, 1, ...)), then the
// named wait.
void AppendOssWaitStep(LightPathWait w) REQUIRES(g_MarkCall);
// The same by name; a name that is not one of the light-path waits is looked up in the table.
void AppendOssWaitStep(const char* name) REQUIRES(g_MarkCall);
// Requests the light path: kind 1 optical switch, 2 light path with energy splitting. 0.
uint32_t AppendLightPathRequest(int32_t kind, int bApply, int bWait) REQUIRES(g_MarkCall);
// Releases it. 0.
uint32_t AppendLightPathRelease(int32_t kind) REQUIRES(g_MarkCall);
