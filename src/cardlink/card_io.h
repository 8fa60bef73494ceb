#pragma once
// The card's outputs at once, on the command channel (command 34): the outputs selected by a mask
// take the bits of a value, and the answer carries every output after the change; an empty mask
// only reads them. The immediate output exports wrap these; the laser code switches a laser's PA
// output with them at the start and end of a job.
//
// Both are one locked exchange: the card-command lock must not be held by the caller (the laser's
// UART lock may be). A lost card throws code 1 without a message.
#include <cstdint>

#include "cardlink/card_locks.h"

// The 32 outputs now.
uint32_t ReadOutputs() EXCLUDES(g_csCardCmd);
// Sets the outputs of `mask` to the bits of `values`; returns the outputs after the change.
uint32_t WriteOutputs(uint32_t mask, uint32_t values) EXCLUDES(g_csCardCmd);

// The card's io debug channel (command 87): one record, decoded. kind 0 means nothing pending (or
// a word that is no record: dt is then left as it was); kinds 1-4 and their units belong to the
// monitor. A lost card throws code 1 without a message.
struct DebugRecordWord {
  uint16_t kind = 0;
  uint32_t dt = 0;
  uint32_t value = 0;
};
void ReadDebugRecord(DebugRecordWord& record) EXCLUDES(g_csCardCmd);
// Decodes one answer (r0, r1) of the debug channel into `record`.
void DecodeDebugRecord(uint32_t r0, uint32_t r1, DebugRecordWord& record);
// Switches the card's debug records on (1) or off (0).
void SwitchDebugRecords(uint32_t on) EXCLUDES(g_csCardCmd);
