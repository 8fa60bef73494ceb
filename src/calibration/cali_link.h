#pragma once
// CCaliLink: the new box method's link to the box-correction module "Gridel" and its two correction
// tables of 65 x 65 points.
//
// The box parameter block (calibration/box_para.h) is prepared (its coefficient sets mirrored and
// swapped as its flags ask) and handed to the module, which reports the half range R of its field.
// Each table spans [-R, +R] on both axes in steps of R/32; every grid point passes through the
// block's rotation, offsets and scales (table 1 with its own extra offsets, scales and, when the
// block's extension says so, its own angle), the swap and mirror flags, and the module's Cali; the
// corrected point becomes two 22-bit codes: round((R + p) / (2R) x 4194304), half away from zero,
// not clamped: a code below 0 (a point turned or shifted beyond -R) is kept as its 32-bit two's
// complement, one above 2^22 as it is. Without the module no point is corrected: such tables are
// never sent to the card.
#include <array>
#include <cstddef>
#include <cstdint>

#include "calibration/box_para.h"

namespace CCaliLink {

constexpr int kSide = 65;
constexpr int kPoints = kSide * kSide;
struct TableEntry {
  uint32_t x;  // X code
  uint32_t y;  // Y code
};
// Row-major, the row index on Y: entry (column i, row j) is at j * 65 + i.
using Table = std::array<TableEntry, kPoints>;
constexpr size_t kTableBytes = 33800;  // 4225 entries of two little-endian u32
static_assert(kPoints * 8 == kTableBytes, "a 65 x 65 table image is 33800 bytes");
// Offsets added to the grid points, {dX, dY} in mm per entry, row-major like the tables.
using OffsetGrid = std::array<double, 2 * kPoints>;

// The block as the module gets it (see above); the library's block is not changed.
BoxParaBlock PrepareModuleBlock(const BoxParaBlock& block);
// Hands the prepared block to the module (SetCaliPara with 1) and takes its half range R (GetBoxSize).
// An R that is not finite and above 0 is refused and logged: the previous R stays. Nothing happens
// when the module is not loaded.
void MirrorHeads();
// MirrorHeads, the table angles, [HARDWARE] bHighPrecisionCali and bHighPrecisionCaliR (logged),
// then table 0 and table 1, each with every fourth point of its high-precision file when its flag
// is 1 and the file reads whole.
void CreateTableAll();
// One table with the current block and R; `grid` is added to the points when `useGrid` is set.
void CreateTable(int table, bool useGrid, const OffsetGrid& grid);

const Table& GetTable(int table);
// The 33800 bytes of a table as the card takes them: per entry the X code, then the Y code.
void TableImage(int table, uint8_t* out);

// Sine and cosine of each table's angle, as the last CreateTableAll set them (0 and 1 before).
struct TableAngles {
  double sin0 = 0.0, cos0 = 1.0, sin1 = 0.0, cos1 = 1.0;
};
TableAngles Angles();

}  // namespace CCaliLink
