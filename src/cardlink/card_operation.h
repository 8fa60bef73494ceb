#pragma once
// Card operations that the card works through in the background (command 83) and that the sender
// waits for by polling the card's status, and the notices and commits that tell the card which of
// its flash areas are being rewritten and when to take them into effect.
//
// The polls run back to back without sleeping and give up after kFlashCmdWaitMs: the card then did
// not finish, which the flash code reports the way it reports a lost card (code 1, silently).
#include <cstdint>

struct CmdReply;

// Polls the status until the card reports its operation done (its run state, the first status
// word & 7, is clear) or the card is no longer connected: true; false when the bound passed (logged
// with the operation op, arg that was sent).
bool FlashWaitIdle(uint32_t op, uint32_t arg);

// Sends command 83 (op, arg) and polls the status as FlashWaitIdle does.
bool FlashCmdWait(uint32_t op, uint32_t arg);

// Command 83 (2, arg), the poll, then one more status command into `reply`: its r1 & 0xFF is the
// page status of the operation (PAGE_STATUS_...). False when the poll gave up.
bool FlashCmdRead(uint32_t arg, CmdReply& reply);

// Tells the card that flash area `bit` (AREA_...) is being rewritten: "数据更新：%d" at INFO, then
// command 82 (1 << bit, 0x10000).
void NoticeCardInvalidPara(uint32_t bit);

// Commits `arg` (command 83 operation 4) and checks that areas A and B (B -1: none) are in effect:
// with numbered commands (bCmdWithNum 1) a status r0 bit 14 + area that stays set throws code 26
// with its message. Then "数据更新成功" at INFO. A commit the card never finishes is a lost card.
void FlushAndSuccess(uint32_t arg, int32_t areaA, int32_t areaB);

constexpr uint32_t kFlashCmdWaitMs = 5000;
