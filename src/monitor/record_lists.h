#pragma once
// The laser-state and analogue record lists that the monitor thread fills from the card's io debug
// records and hosts drain through the record exports.
//
// Laser-state lists: the laser-on bit after each change and the device clock in ms at the change;
// more than 1000 entries after a push drop the two oldest. Analogue lists: AD (bits 0..15 of the
// sample), DA (bits 20..31), the device clock in µs and the tick count when the sample was taken;
// a laser switching on is marked by -1/-1, switching off by -2/-2; more than 50000 entries after a
// push drop the oldest. g_csRecord guards all of them and is held only for the list operations. The
// lists live from load to unload: neither a card's close nor a task's start clears them.
#include <cstdint>

#include "cardlink/card_locks.h"
#include "platform/lock.h"

extern plat::Lock g_csRecord ACQUIRED_AFTER(g_csCardBuf);

constexpr uint32_t kSampleLaserOn = 0xFFFFFFFFu;
constexpr uint32_t kSampleLaserOff = 0xFFFFFFFEu;

// One analogue sample word (or one of the two markers) with the device clock and the tick now.
void PushAdDaSample(uint32_t word) EXCLUDES(g_csRecord);
// The laser-on bit ([LASER] nSampleLaserIO) of one io word: on a change the markers, the measured
// record's segment, the skew of the device clock in ms and the laser-state lists.
void OnLaserStateChange(uint32_t ioWord) EXCLUDES(g_csRecord);
// The laser-on latch (the monitor thread clears it when it starts).
void ResetLaserLatch();
// The lists empty, the last laser bit and the latch 0: the state at load.
void ResetRecordLists() EXCLUDES(g_csRecord);

// The exports' bodies. found := 0, or 1 with the oldest entry popped into the other outputs. Times
// are truncated to 32 bits modulo 2^32. ad and da are percent of full scale, or the marker.
void PopLaserMsg(uint32_t* found, uint32_t* state, uint32_t* timeMs) EXCLUDES(g_csRecord);
void EmptyLaserMsg() EXCLUDES(g_csRecord);
void PopAdDaRecord(int32_t* found, double* ad, double* da, uint32_t* time, uint32_t* sampleTick,
                   uint32_t* nowTick) EXCLUDES(g_csRecord);
void EmptyAdDaRecord() EXCLUDES(g_csRecord);
// Entries queued: laser-state changes, analogue entries.
uint32_t LaserMsgCount() EXCLUDES(g_csRecord);
uint32_t AdDaRecordCount() EXCLUDES(g_csRecord);
