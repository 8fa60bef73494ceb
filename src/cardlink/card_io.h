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
