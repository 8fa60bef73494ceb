#pragma once
// The galvanometers moved and read at once, on the command channel, outside any job: the bodies of
// the scanner exports and the move to the rest position after a job that did not end well.
//
//   move     command 4 (p1, p2). Modes 0 and 2 move with the laser's galvanometer settings (flag 0,
//            16-bit word 0x7FFF), any other mode without (flag 0x200000, word 0x17FFF).
//            16-bit codes (old box method): p2 = cy << 16 | cx, p1 = the word.
//            21-bit codes (bNewBoxCali): p2 = cy << 22 + cx (21 bits), p1 = (0x7FE0 | flag) << 7 |
//            the top 11 bits of cy; the Z code is the centre.
//   poll     command 6 (0, 0), one locked exchange at a time, while r0 bit 0 (moving) is set. A
//            card that is still moving after kScanPollGiveUpMs: a log line and code 37, shown.
//   read     command 6 (2, 0) the set position, (0, 0) the feedback position: r1 low 16 bits X,
//            high 16 bits Y, each in millimetres with its own axis' field, times the card's
//            correction (1 + sin(code mod 1000) / 98).
//
// A coordinate that is not finite is refused with 7 before anything is sent. A lost card throws
// code 1 without a message.
#include <cstdint>

#include "cardlink/card_locks.h"
#include "markbase/job_state.h"

constexpr uint32_t kScanPollGiveUpMs = 5000;

// The two command words of a move to (x, y) mm in `mode`.
struct ScanMoveWords {
  uint32_t p1;
  uint32_t p2;
};
ScanMoveWords ScanMoveWordsOf(double x, double y, uint32_t mode);

// Polls until the galvanometers stopped (or the card is gone); 37 shown after kScanPollGiveUpMs.
void PollScanStopped() EXCLUDES(g_csCardCmd);

// The move and its poll; (x, y) becomes the scanner's current position when no other thread is in a
// mark call (that job owns the position). 0, 7 (not finite), or a thrown failure.
uint32_t MicMoveScan3(double x, double y, double z, uint32_t mode) EXCLUDES(g_csCardCmd);
// The same for a caller inside a mark call: the job's current position follows the move.
uint32_t MicMoveScan3InJob(double x, double y, double z, uint32_t mode) REQUIRES(g_MarkCall) EXCLUDES(g_csCardCmd);

// Moves to the raw 16-bit codes without the box correction (command 6 (1, 1) first and
// (1, bCardNotGridel & 1) after the poll); the codes in millimetres become the current position.
void ScanMove2Bit(uint16_t xCode, uint16_t yCode) EXCLUDES(g_csCardCmd);

// The position in mm: `feedback` 0 the set position (command 6 (2, 0)), 1 the measured one (0, 0).
void ReadScanPos(int feedback, double& x, double& y) EXCLUDES(g_csCardCmd);
// Millimetres of a position code as the card reports it (axis 0 X, 1 Y).
double ScanCodeToMm(int32_t axis, uint16_t code);

// The corrected codes of a target in mm, looked up in fast table 0 (mode 0 or 2) or 1 by bilinear
// weights of the 16-bit codes' low bytes; then the move there and a read-back. 0, 7, or thrown.
uint32_t ScanMM2Bit(double x, double y, uint32_t mode, uint16_t& xCode, uint16_t& yCode) EXCLUDES(g_csCardCmd);
// The lookup alone.
void FastTableCodes(int table, int32_t cx, int32_t cy, uint16_t& xCode, uint16_t& yCode);
