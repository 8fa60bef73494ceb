// The corrected codes of a target looked up in the fast tables: bilinear weights of the codes' low
// bytes, the first output code of the calibration module to X, the second to Y.
#include <gtest/gtest.h>

#include "calibration/scan.h"
#include "mark/scan_move.h"
#include "support/trace.h"

namespace {

// Table 0: X code 200 per column, Y code falling 200 per row; table 1 constant.
void FillTables() {
  for (int j = 0; j < kFastCaliSide; ++j) {
    for (int i = 0; i < kFastCaliSide; ++i) {
      FastCaliEntry& e = g_Scan.tables[0][j * kFastCaliSide + i];
      e.first = static_cast<uint16_t>(200 * i);
      e.second = static_cast<uint16_t>(60000 - 200 * j);
      g_Scan.tables[1][j * kFastCaliSide + i] = FastCaliEntry{9, 5};
    }
  }
}

TEST(ScanMove, FastTableLookupWeighsTheFourCorners) {
  FillTables();
  const struct {
    int table;
    int32_t cx, cy;
    uint16_t x, y;
  } cases[] = {
      {0, 0x1234, 0x5678, 3640, 42706},  // 18 x 200 + 52 / 256 x 200; 42800 - 120 / 256 x 200
      {0, 0x1200, 0x5600, 3600, 42800},  // on a grid point
      {0, 65535, 65535, 51199, 8800},    // column and row 256 take weight 255 of 256
      {0, -5, 70000, 0, 8800},           // codes outside the scale are clamped first
      {1, 0x1234, 0x5678, 5, 9},
  };
  for (const auto& c : cases) {
    QZ_TRACE(c.cx);
    uint16_t x = 0, y = 0;
    FastTableCodes(c.table, c.cx, c.cy, x, y);
    EXPECT_EQ(x, c.x);
    EXPECT_EQ(y, c.y);
  }
  g_Scan.tables[0].fill(FastCaliEntry{});
  g_Scan.tables[1].fill(FastCaliEntry{});
}

}  // namespace
