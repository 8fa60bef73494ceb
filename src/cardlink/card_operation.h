#pragma once
// Card operations that the card works through in the background (command 83) and that the sender
// waits for by polling the card's status.
#include <cstdint>

// Sends command 83 (op, arg) and polls the status until the card reports its operation done (its
// run state, the first status word & 7, is clear) or the card is no longer connected. The poll gives up after
// kFlashCmdWaitMs: false then (the card did not finish), true otherwise.
bool FlashCmdWait(uint32_t op, uint32_t arg);

constexpr uint32_t kFlashCmdWaitMs = 5000;
