#pragma once
// Opening and closing cards: one process per card (a system-wide named mutex), the version check,
// and the synchronisation with a card left in the middle of a task by a host that did not close it.
#include <cstdint>
#include <string>

#include "cardlink/card_status.h"

// "KVX1000 card USB1" for the default PID on a USB card.
std::string CardMutexName(uint16_t cardType, uint16_t pid);
// The driver's card index of a PID: (PID + 0x8000) & 0xFFFF.
inline uint32_t CardIndexOf(uint16_t pid) { return (pid + 0x8000u) & 0xFFFFu; }
// The name of an interrupted card operation, "" for sub-states without one.
const char* SubStateName(uint32_t runState, uint32_t subState);

uint32_t OpenCardBigEvent();
uint32_t SignalCardClose();
uint32_t CloseCardRelease();
bool stopMarkIfRunning(const CardStatus& status);
namespace CAdmin {
bool SynSystemWithCard_();
}
