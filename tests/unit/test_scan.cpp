// Scanner codes of field positions: clamps, per-axis fields, 21-bit rounding, transform, fast tables.
#include <atomic>
#include <limits>
#include <memory>
#include <thread>
#include <tuple>

#include "calibration/box_para.h"
#include "calibration/scan.h"
#include "mark/run_control.h"
#include "mark/scan_move.h"
#include "support/trace.h"

namespace {

constexpr double kInf = std::numeric_limits<double>::infinity();
constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();

// The load defaults: 100 x 100 mm, Z 17 mm.
TEST(Scan, CodesClampInDoubleTwentyOneBitCodesRoundHalvesUpTheTransformAndEachAxisField) {
  struct Case { double x, y, z; int32_t cx, cy, cz; } cases[] = {
      {0.0, 0.0, 0.0, 32767, 32767, 32767}, {50.0, 50.0, 8.5, 65535, 65535, 65535}, {-50.0, -50.0, -8.5, 0, 0, 0},
      {60.0, -60.0, 100.0, 65535, 0, 65535}, {25.0, -25.0, 4.25, 49151, 16383, 49151},
      // Beyond the range of a 32-bit code: clamped, not wrapped.
      {1e300, -1e300, -3e9, 65535, 0, 0}, {kInf, -kInf, kInf, 65535, 0, 65535}, {kNaN, kNaN, kNaN, 32767, 32767, 32767},
  };
  for (const Case& c : cases) {
    int32_t cx = -1, cy = -1, cz = -1;
    g_Scan.MmToDac(c.x, c.y, c.z, cx, cy, cz);
    EXPECT_EQ(std::tuple(cx, cy, cz), std::tuple(c.cx, c.cy, c.cz)) << c.x << " " << c.y << " " << c.z;
  }
  // 21-bit codes of mm and of the field position clamp before rounding halves up.
  struct Code21Case { double mm; int32_t code; } codes21[] = {
      {0.0, 1048576}, {-10.0, 0}, {10.0, 2097151}, {-11.0, 0}, {-kInf, 0}, {kInf, 2097151}, {kNaN, 1048576},
      // Exactly half a code above the centre goes up; half below goes up to the centre.
      {5.0 / 1048576.0, 1048577}, {-5.0 / 1048576.0, 1048576}, {1e-7, 1048576},
      // A quarter code below the top would round to 2^21, outside the 21 bits: clamped first.
      {10.0 - 5.0 / 2097152.0, 2097151},
  };
  for (const Code21Case& c : codes21) EXPECT_EQ(MmToCode21(c.mm), c.code) << c.mm;
  // FieldToCode21 rounds alike; a half range not above 0 gives the centre; both coordinates at the range in force.
  struct FieldCase { double p, halfRange; int32_t code; } fields[] = {
      {1.0, 1.0, 2097151}, {5.0, 10.0, 1572864}, {3.0, 0.0, 1048576}, {3.0, -10.0, 1048576}, {3.0, kNaN, 1048576},
  };
  for (const FieldCase& c : fields) EXPECT_EQ(FieldToCode21(c.p, c.halfRange), c.code) << c.p << " " << c.halfRange;
  int32_t cx = -1, cy = -1;
  FieldToCode21(-10.0, kNaN, cx, cy);
  EXPECT_EQ(std::tuple(cx, cy), std::tuple(0, 1048576));
  // The range the box-correction module reports (its refusals: test_cali_tables.cpp).
  EXPECT_TRUE(CCaliLink::SetHalfRange(25.0));
  EXPECT_EQ(MmToCode21(12.5), 1572864);
  // The transform swaps, mirrors, rotates and shifts.
  auto cal = std::make_unique<CCalibrate>();
  // Without settings the transform is the identity.
  FieldPoint p = cal->Transform(3.0, 5.0);
  EXPECT_EQ(std::tuple(p.x, p.y), std::tuple(3.0, 5.0));
  // Rotation by 90 degrees and an offset of (1, 2): (X', Y') -> (Y' + 1, 2 - X').
  cal->dbRotSin = 1.0;
  cal->dbRotCos = 0.0;
  cal->dbOrgX = 1.0;
  cal->dbOrgY = 2.0;
  const struct { int32_t mode; double x, y; } modes[] = {
      {0, 6.0, -1.0},  {1, 6.0, 5.0},   {2, -4.0, -1.0}, {3, -4.0, 5.0}, {4, 4.0, -3.0}, {5, 4.0, 7.0},
      {6, -2.0, -3.0}, {7, -2.0, 7.0},  {9, 6.0, -1.0},  {-1, 6.0, -1.0},
  };
  for (const auto& c : modes) {
    cal->nCoordType = c.mode;
    p = cal->Transform(3.0, 5.0);
    EXPECT_EQ(std::tuple(p.x, p.y), std::tuple(c.x, c.y)) << c.mode;
  }
  cal = std::make_unique<CCalibrate>();  // each axis uses its own field
  cal->SetFieldSizes(100.0, 50.0, 17.0);
  int32_t cz = -1;
  cal->MmToDac(12.5, 12.5, 12.5, cx, cy, cz);
  EXPECT_EQ(std::tuple(cx, cy, cz), std::tuple(40959, 49151, 65535));
  struct AxisCase { int32_t axis, code; double mm; } axes[] = {
      {0, 0, -50.0}, {0, 65535, 50.0}, {0, INT32_MAX, 50.0}, {0, INT32_MIN, -50.0}, {1, 0, -25.0}, {1, 70000, 25.0},
      {2, 0, -8.5},  {2, 100000, 8.5}, {3, 65535, 0.0},      {-1, 65535, 0.0},
  };
  for (const AxisCase& c : axes) EXPECT_EQ(cal->DacToMm(c.axis, c.code), c.mm) << c.axis << " " << c.code;
}

// Fast tables: table 0 X code 200 per column, Y code falling 200 per row; table 1 constant.
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

// Bilinear weights of the codes' low bytes; the module's first output code to X, the second to Y.
TEST(ScanMove, FastTableLookupWeighsTheFourCorners) {
  FillTables();
  const struct { int table; int32_t cx, cy; uint16_t x, y; } cases[] = {
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
    EXPECT_EQ(std::tuple(x, y), std::tuple(c.x, c.y));
  }
  g_Scan.tables[0].fill(FastCaliEntry{});
  g_Scan.tables[1].fill(FastCaliEntry{});
}

// Conversions while another thread changes the field sizes read each size whole (run it under tsan).
TEST(Scan, FieldSizesChangeWhileAnotherThreadConverts) {
  std::atomic<bool> done{false};
  std::thread writer([&] {
    for (int i = 0; !done.load(); ++i) {
      g_Scan.SetFieldSizes(i % 2 ? 200.0 : 100.0, i % 2 ? 50.0 : 100.0, i % 2 ? 10.0 : 17.0);
    }
  });
  int bad = 0;
  for (int i = 0; i < 20000; ++i) {
    const double x = g_Scan.DacToMm(0, 65535), y = g_Scan.DacToMm(1, 0), z = g_Scan.DacToMm(2, 65535);
    if ((x != 50.0 && x != 100.0) || (y != -50.0 && y != -25.0) || (z != 8.5 && z != 5.0)) ++bad;
  }
  done = true;
  writer.join();
  EXPECT_EQ(bad, 0);
  g_Scan.SetFieldSizes(100.0, 100.0, 17.0);
}

}  // namespace
