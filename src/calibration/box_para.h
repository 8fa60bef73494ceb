#pragma once
// The box parameter block of the new box method: 2048 bytes, exactly the content of "CaliPara.cl"
// in the configuration folder. Values are read and written at fixed little-endian offsets.
//
// The library keeps one block (defaults at load, replaced by a valid "CaliPara.cl" and by the host's
// QZ_SaveCaliPara and QZ_SetCaliPara). It is copied in and out whole under a small lock of its own,
// so that a host thread saving a block never tears the copy another thread reads.
#include <array>
#include <cstddef>
#include <cstdint>
#include <string>

constexpr size_t kBoxParaSize = 2048;
using BoxParaBlock = std::array<uint8_t, kBoxParaSize>;

// Byte offsets of the fields the library reads.
constexpr size_t kBoxVersionA = 0;       // i32, must be at least 1
constexpr size_t kBoxVersionB = 4;       // i32, must be below 4
constexpr size_t kBoxPointFlag = 8;      // i32, 1: the 9-point test grid, else 25 points
constexpr size_t kBoxSwapXY = 12;        // i32 flags: swap X and Y, mirror X, mirror Y
constexpr size_t kBoxMirrorX = 16;
constexpr size_t kBoxMirrorY = 20;
constexpr size_t kBoxT1OffsetX = 24;     // f64 table 1 extra offset X, Y (mm) and scale X, Y
constexpr size_t kBoxT1OffsetY = 32;
constexpr size_t kBoxT1ScaleX = 40;
constexpr size_t kBoxT1ScaleY = 48;
constexpr size_t kBoxAngle = 56;         // f64 rotation, degrees
constexpr size_t kBoxOffsetX = 64;       // f64 offset X, Y (mm) and scale X, Y
constexpr size_t kBoxOffsetY = 72;
constexpr size_t kBoxScaleX = 80;
constexpr size_t kBoxScaleY = 88;
constexpr size_t kBoxDacRange = 168;     // u32 DAC range of the test figures
constexpr size_t kBoxSetA = 172;         // 12 f64: 4 rows of 3 (rows 0, 1 X; 2, 3 Y)
constexpr size_t kBoxSetB = 268;         // 40 f64: 8 rows of 5 (rows 0..3 X; 4..7 Y)
constexpr size_t kBoxExtension = 588;    // u32, valid when its top byte is 0xA5
constexpr size_t kBoxT1Angle = 592;      // f64 table 1 extra angle, degrees
constexpr uint32_t kBoxExtMirrorSets = 1u;    // extension bit 0: mirror the coefficient sets too
constexpr uint32_t kBoxExtTable1Angle = 2u;   // extension bit 1: table 1 has its own extra angle

// Fixed-offset access to a block.
uint32_t BoxGetU32(const BoxParaBlock& b, size_t off);
void BoxSetU32(BoxParaBlock& b, size_t off, uint32_t v);
double BoxGetF64(const BoxParaBlock& b, size_t off);
void BoxSetF64(BoxParaBlock& b, size_t off, double v);

// The load-time defaults: zero, then version words 3 and 1, the unit scales, 160.0, the DAC range
// 25000 and the twelve coefficients of set A at 60.0.
void SetBoxParaDefaults(BoxParaBlock& b);

// The library's block, copied out or replaced whole.
BoxParaBlock CopyBoxPara();
void StoreBoxPara(const BoxParaBlock& b);

// Version check: word A (offset 0) must be at least 1 and word B (offset 4) below 4. A valid block is
// copied into the library's block. source 0: from the host software, 1: from the box file. With
// bThrow a failure is logged, shown and thrown as code 2 (without a further report); without it
// nothing is reported.
bool CheckBoxParaVer(const BoxParaBlock& block, int source, bool bThrow);

// The block held by the bytes of a "CaliPara.cl": false for a file shorter than a block (which
// counts as missing); bytes beyond the block are ignored.
bool BoxParaFromFile(const std::string& data, BoxParaBlock& out);

namespace CCaliLink {
// Reads "CaliPara.cl" and checks it (source 1). A file that cannot be opened or is shorter than a
// block leaves the block as it is; it is reported (code 10's text, logged and shown) only when
// bReportMissing is set: at load the texts are not ready yet, so a missing file there keeps the
// defaults silently. On the new box method (bNewBoxCali 1) the block in force then goes to the
// box-correction module and its half range R is read again (CCaliLink::MirrorHeads).
void ReadPara(bool bThrow, bool bReportMissing = true);
// Writes the block to "CaliPara.cl". A file that cannot be written is reported (code 10's text,
// logged and shown) and gives false; nothing is thrown.
bool WritePara();
// The half range R of the galvanometer field in mm: 10.0 until the box-correction module reports
// it. The 21-bit codes of the stream are taken over [-R, +R]. Read on any thread.
double HalfRange();
// Stores the module's R. A value that is not finite and above 0 is refused (false): R stays.
bool SetHalfRange(double r);
}  // namespace CCaliLink
