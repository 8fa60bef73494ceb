#pragma once
// Senders of the card's axis commands (the numbers in cardlink/card_wire.h). Each command is one
// exchange through CPortlane::SendCmd under the card-command lock, with the number the open card
// takes (g_CmdNumTable: plain, or its legacy form); a card that is not connected or is lost throws
// code 1 without a message. The axis is given by its 0-based index; these senders check nothing:
// the exports check the axis number first. Codes come from the axis's record (its pulses per unit)
// and are masked to their 24-bit fields.
#include <cstdint>

#include "axis/axis_records.h"
#include "cardlink/card_locks.h"
#include "cardlink/portlane.h"

// One axis command with plain number `cmd`; the reply for the commands that answer.
CmdReply SendAxisCmd(uint16_t cmd, uint32_t p1, uint32_t p2) EXCLUDES(g_csCardCmd, g_csAxis);

// Soft home: the record's soft home becomes position - soft home (NxaShiftSoftHome), stored before
// the command goes out; then 0x12F (field, position code of it).
void NxaSetAxisSoftHome(uint32_t index, double position) EXCLUDES(g_csCardCmd, g_csAxis);
// 0x127: (field | (g2 & 0xFFF) << 12 | (g1 & 0xFFF), (g4 & 0xFFF) << 12 | (g3 & 0xFFF)).
void NxaSetAxisGearRatio(uint32_t index, int32_t g1, int32_t g2, int32_t g3, int32_t g4)
    EXCLUDES(g_csCardCmd, g_csAxis);
// 0x12C: (field | acceleration code, 0).
void NxaSetAxisStopAcc(uint32_t index, double acc) EXCLUDES(g_csCardCmd, g_csAxis);
// 0x122: (field | velocity code of v / 10, velocity code of v).
void NxaSetHomeHighVel(uint32_t index, double vel) EXCLUDES(g_csCardCmd, g_csAxis);
// 0x123: (field | acceleration code, acceleration code), then
// 0x124: (field | velocity code, position code of the distance).
void NxaSetHomeLowVelAccDist(uint32_t index, double vel, double acc, double dist) EXCLUDES(g_csCardCmd, g_csAxis);
// 0x130: (field | velocity code of v / 10, velocity code of v), then
// 0x131: (field | acceleration code, acceleration code).
void NxaSetAxisExtraPair(uint32_t index, double vel, double acc) EXCLUDES(g_csCardCmd, g_csAxis);

// The home order list: from 0xFFFF, for k = 0..3 and within k for the axes 1..4, each axis whose
// order is k goes as its index into the next 4-bit group from bits 0-3; groups left over keep 0xF
// and an order outside 0..3 leaves its axis out.
uint32_t HomeOrderList(const int16_t orders[kNxaAxisMax]);
// 0x12B: ((m1 & 15) | (m2 & 15) << 4 | (m3 & 15) << 8 | (m4 & 15) << 12, HomeOrderList(orders)).
void NxaSetHomeMode(const int32_t modes[kNxaAxisMax], const int16_t orders[kNxaAxisMax]) EXCLUDES(g_csCardCmd);
