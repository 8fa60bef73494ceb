#pragma once
// The extra motion axes: their records, their INI file and the push of the whole axis configuration
// to the card (UpdateMotorPara).
//
// There are always four records; the card type sets how many axes exist (nAxisCount of the link
// block: 2 on USB cards, 3 on PCIe cards). UpdateMotorPara rewrites the records of the existing axes
// from the axis file and zeroes the others, so that a record beyond the axis count is all zero even
// after the card type changed. Units are millimetres on a linear axis and degrees on a rotary one.
//
// The axis file, chosen from the library's own folder:
//   - a folder "<sep>QuenloDLL<c>": "<prefix>ini<sep>MoveCardPara<sep>Card<c+1>AxisPara.ini", where
//     the prefix is the folder cut just after the separator that opens the match (suffix '0' gives
//     Card1AxisPara.ini); new-style keys;
//   - else [MOTOR] bNewAxisFileName 1: "<folder>ini<sep>Card1AxisPara.ini"; new-style keys;
//   - else "<folder>ini<sep>DeviceNXA.ini"; old-style keys.
// A missing file or key gives the key's default; nothing is ever written back.
//
// Values an axis cannot have are refused: a real key that is not a finite number (NaN, infinity),
// a velocity, acceleration, screw lead, radius, reduction or pulse count that is not above 0, and
// pulses per unit or a rotary scale that come out infinite or 0. The refusal names the file, the
// key and the text read, in the daily and the error log and in a topmost box (tag
// "UpdateMotorPara"), and UpdateMotorPara throws code 29 (the extended parameters overflow) without
// a further report, before any record is changed or anything is sent. Integer keys take any value.
//
// Locking: g_csAxis guards the four records. The axis exports and the mark stream's motor moves read
// them on host threads while UpdateMotorPara may rewrite them; every access goes through the
// functions below, which hold the lock only to copy a record in or out. No card exchange runs under
// it: it may be taken inside the card locks and the mark locks, and only a log's lock is taken
// inside it.
#include <cstdint>
#include <string>

#include "cardlink/card_locks.h"
#include "platform/lock.h"

constexpr uint32_t kNxaAxisMax = 4;

struct NxaAxisRecord {
  uint8_t bRotary = 0;            // the axis mode key is nonzero
  double dbPulsePerUnit = 0;      // linear: PULSEPRESCREW x REDUCE / SCREW; rotary: ... / 360
  double dbRotaryScale = 0;       // rotary only: 360 / (RADIO x 2 pi), degrees per millimetre of arc
  uint32_t nFlag1 = 0;            // 0 (feeds bits 0-3 of the limit command)
  uint32_t nHomeOrderEnable = 0;  // 0: the home order goes out as 15
  uint32_t nHomeMode = 0;         // HOMEMODE mapped (MapHomeMode)
  uint32_t nHomeOrder = 0;        // 15
  double dbDistConst = 0;         // 0.5 units (parameter 2 of the limit command)
  double dbHomeLowVel = 0;        // HOMELVEL, units/s
  double dbHomeLowAcc = 0;        // HOMELACC, units/s^2
  double dbHomeDist = 0;          // HOMEDIS, units
  double dbSoftHome = 0;          // 0 after UpdateMotorPara; then what the soft-home setter stores
  double dbHomeHighVel = 0;       // HOMEHVEL, units/s
  double dbHomeHighAcc = 0;       // HOMEHACC, units/s^2
  uint16_t nGear[4] = {};         // 1, 2, 4, 8
  double dbStopAcc = 0;           // STPACC / PtoPMoveHAcc, an integer key, units/s^2
  uint32_t nFlag2 = 0;            // 0 (feeds bits 8-11 of the limit command)
  uint32_t nSense1 = 0;           // LMTSNSUP
  uint32_t nSense2 = 0;           // LMTSNSUP
  double dbExtraAcc = 0;          // 50
  double dbExtraVel = 0;          // 10
  uint32_t nSense3 = 0;           // LMTSNSUP
  uint32_t nFlag3 = 0;            // never set (bits 0-3 of the flag command)
  uint32_t nFlag4 = 0;            // never set (bits 4-7 of the flag command)
  uint32_t nEncSense = 0;         // ENCSNS / ENSSns
  double dbMaxVel = 0;            // MAXVEL, units/s, the same for every axis
  double dbMaxAcc = 0;            // MAXACC, units/s^2
};

// Guards the four axis records (axis_records.cpp). Taken for copies only; see above.
extern plat::Lock g_csAxis ACQUIRED_AFTER(g_csCardCmd, g_csCardBuf);

// The axes that exist: nAxisCount of the link block, at most four.
uint32_t NxaAxisCount();
// A copy of record `index` (0-based); an all-zero record for an index of 4 or more.
NxaAxisRecord NxaGetAxis(uint32_t index) EXCLUDES(g_csAxis);
// Replaces record `index` (ignored for an index of 4 or more).
void NxaStoreAxis(uint32_t index, const NxaAxisRecord& rec) EXCLUDES(g_csAxis);
// The soft-home step: d = position - the record's soft home becomes the soft home; returns d (0
// for an index of 4 or more).
double NxaShiftSoftHome(uint32_t index, double position) EXCLUDES(g_csAxis);

// HOMEMODE to the card's home mode: 0 and 1 stay, 2 gives 6, 3 gives 7, anything else 15; a
// new-style file then inverts bit 0 (0<->1, 6<->7, 15 -> 14).
uint32_t MapHomeMode(int32_t key, bool bNewStyle);

struct AxisParaIni {
  std::string path;
  bool bNewStyle = false;
};
// The axis file for the library folder `moduleDir` (ending with the separator). A marker without a
// character after it counts as suffix '0'.
AxisParaIni ChooseAxisParaIni(const std::string& moduleDir, int32_t bNewAxisFileName);

// Reads the record of axis `index` (0-based) from `file` as UpdateMotorPara fills it (soft home 0,
// home order 15, the fixed values) and its LmtEnable key. A refused value is reported and thrown as
// described above.
NxaAxisRecord ReadAxisRecord(const AxisParaIni& file, uint32_t index, int32_t& lmtEnable);

// Reads the axis file and [MOTOR] of the main configuration, rewrites the records and sends the
// axis configuration to the card: per axis the soft home, gear words, stop acceleration, home high
// velocity, home low acceleration, home low velocity with distance and the extra velocity and
// acceleration; the home modes; the limit and sense command, the flag command and the commit.
// Refusals: code 29 as above; a card that is not connected or lost: code 1 without a message
// (records already stored keep their new values). An axis whose positive and home limits are both
// enabled is reported (log and box) and both stay enabled.
void UpdateMotorPara() EXCLUDES(g_csAxis, g_csCardCmd);
