#pragma once
// Opening and closing cards: one process per card (a system-wide named mutex), the version check,
// and the synchronisation with a card left in the middle of a task by a host that did not close it.
// A flash write cut off in its data phase is finished before anything else on every card version;
// a card restored from a task gets the commit of every area that a clean close would have sent, so
// that no area noticed as being rewritten stays out of effect.
#include <cstdint>
#include <string>

#include "cardlink/card_status.h"

// "KVX1000 card USB1" for the default PID on a USB card.
std::string CardMutexName(uint16_t cardType, uint16_t pid);
// The driver's card index of a PID: (PID + 0x8000) & 0xFFFF.
inline uint32_t CardIndexOf(uint16_t pid) { return (pid + 0x8000u) & 0xFFFFu; }
// The name of an interrupted card operation, "" for sub-states without one.
const char* SubStateName(uint32_t runState, uint32_t subState);

// The key of QZ_SetFlag that accepts the card parameters.
constexpr uint32_t kCardParaKey = 0x7E21C4B9u;

// What the card exports do, under their task claims. Each returns the export's result.
// QZ_InitCard: claims the opening task, then opens the link (settings, mutex, link), reads and
// checks the version, switches the card on-line and synchronises with it; 0 or 1. A refused claim
// changes nothing; any later failure lets the link and the mutex go.
uint32_t InitCard();
// The first step of QZ_CloseCard (unless open-only): SignalCardClose, a lost card ignored.
void CommitCardAtClose();
// QZ_GetCardsNo: the driver link counts the cards into the host's two arguments.
uint32_t CountCards(void* a, void* b);
// QZ_SetFlag: the card parameters are accepted with kCardParaKey.
uint32_t AcceptCardPara(uint32_t key);
// debug_OpenCard2GetMsg's flag (SystemPara::bOpenOnly), written and read by any thread.
uint32_t OpenOnlyFlag();
void SetOpenOnlyFlag(uint32_t flag);

// The steps. OpenCardBigEvent takes the card locks itself: link settings, previous link closed,
// the card's mutex, the open; true when the card is open and connected.
bool OpenCardBigEvent();
// Reads the card's version and checks it against the configuration under the command lock.
bool ReadAndCheckCardVersion();
uint32_t SignalCardClose();
uint32_t CloseCardRelease();
bool stopMarkIfRunning(const CardStatus& status);
namespace CAdmin {
bool SynSystemWithCard_();
}
