// Correction tables of both box methods through our calibration modules: images, dumps, offsets, no module.
#include <gtest/gtest.h>

#include <algorithm>
#include <bit>
#include <cmath>
#include <limits>
#include <string>
#include <tuple>
#include <vector>

#include "calibration/box_file.h"
#include "calibration/box_para.h"
#include "calibration/box_upload.h"
#include "calibration/cali_link.h"
#include "calibration/cali_modules.h"
#include "calibration/det_trig.h"
#include "calibration/scan.h"
#include "corrix_api.h"
#include "frame/bytes.h"
#include "frame/system_para.h"
#include "gridel_api.h"
#include "platform/files.h"
#include "platform/module.h"
#include "support/expect_code.h"
#include "support/faults.h"
#include "support/lib_folder.h"

namespace {

BoxParaBlock Defaults() {
  BoxParaBlock b;
  SetBoxParaDefaults(b);
  return b;
}

// Our two calibration modules copied into a fresh library folder and loaded as the library does.
class CaliModuleTest : public qztest::LibFolderTest {
 protected:
  void SetUp() override {
    qztest::LibFolderTest::SetUp();
    g_SystemPara = SystemPara{};
    g_SystemPara.CardLinkCfg.PID = 0x8000;
    g_SystemPara.CardLinkCfg.CARDNO = 0x8000;
    for (const char* base : {"Corrix", "Gridel"}) {
      const std::string file = plat::CompanionFileName(base);
      ASSERT_TRUE(plat::CopyFilePath(qztest::NativePath(QZ_DEPLOY_DIR) + plat::kPathSep + file, dir.Path() + file));
      handles.push_back(plat::LoadModule(dir.Path() + file));
      ASSERT_NE(handles.back(), nullptr) << file;
    }
    LoadCorrixModule();
    LoadGridelModule();
    ASSERT_TRUE(CorrixApi.bLoaded && g_GridelModule.bLoaded);
#define QZ_CORRIX_RESOLVE(fn) fn##_ = reinterpret_cast<decltype(&fn)>(plat::FindSymbol(handles[0], #fn)); ASSERT_NE(fn##_, nullptr);
    CORRIX_CONTROL_FUNCTIONS(QZ_CORRIX_RESOLVE)
#undef QZ_CORRIX_RESOLVE
#define QZ_GRIDEL_RESOLVE(fn) fn##_ = reinterpret_cast<decltype(&fn)>(plat::FindSymbol(handles[1], #fn)); ASSERT_NE(fn##_, nullptr);
    GRIDEL_CONTROL_FUNCTIONS(QZ_GRIDEL_RESOLVE)
#undef QZ_GRIDEL_RESOLVE
    corrix_reset_();
    gridel_reset_();
    ResetScan();
    StoreBoxPara(Defaults());
    CCaliLink::SetHalfRange(10.0);
  }

  void TearDown() override {
    FreeCaliModules();
    for (plat::ModuleHandle h : handles)
      if (h) plat::FreeModule(h);
    ResetScan();
    g_BoxFile = BoxFileRecords{};
    CCaliLink::SetHalfRange(10.0);
    g_SystemPara = SystemPara{};
    qztest::FailFileWrites("");
    qztest::LibFolderTest::TearDown();
  }

  static void ResetScan() {
    g_Scan.SetFieldSizes(100.0, 100.0, 17.0);
    g_Scan.nCoordType = 0;
    g_Scan.nTableSelect = 0;
    g_Scan.dbOrgX = g_Scan.dbOrgY = 0.0;
    g_Scan.dbRotSin = 0.0;
    g_Scan.dbRotCos = 1.0;
  }

  void WriteConfig(const std::string& name, const std::string& content) {
    ASSERT_TRUE(plat::WriteWholeFile(dir.File("ini/" + name), content));
  }
  std::vector<plat::ModuleHandle> handles;
#define QZ_CORRIX_MEMBER(fn) decltype(&fn) fn##_ = nullptr;
  CORRIX_CONTROL_FUNCTIONS(QZ_CORRIX_MEMBER)
  GRIDEL_CONTROL_FUNCTIONS(QZ_CORRIX_MEMBER)
#undef QZ_CORRIX_MEMBER
};

constexpr double kPi = 3.141592653589793;

// A 2D box of 100 mm with affine coefficients c1..c6 and a table 1 offset (0.75, -0.5).
BoxFileRecords AffineBox() {
  BoxFileRecords r;
  r.type = 0;
  const double c[7] = {100.0, 0.5, 0.01, -0.02, -0.25, 0.03, 0.005};
  for (int i = 0; i < 7; ++i) r.r2D[i] = c[i];
  r.rSecond[0] = 0.75;
  r.rSecond[1] = -0.5;
  r.rZ[2] = 17.0;
  return r;
}

// The codes the calibration module's model gives for fast-table point (i, j) of table t, through
// the library's own millimetre-to-code conversion: X' = x + c1 + c2 x + c3 y (+ 0.75 for table 1);
// t = -1: the plain codes, without the module.
FastCaliEntry AffineEntry(int t, int i, int j, double hpX = 0.0, double hpY = 0.0) {
  const double X = i * 100.0 / 256.0 - 50.0 + hpX, Y = j * 100.0 / 256.0 - 50.0 + hpY;
  const FieldPoint p = g_Scan.Transform(X, Y);
  double dx = 0.5 + 0.01 * p.x + -0.02 * p.y, dy = -0.25 + 0.03 * p.x + 0.005 * p.y;
  if (t < 0) dx = dy = 0.0;
  if (t == 1) {
    dx += 0.75;
    dy += -0.5;
  }
  int32_t cx, cy, cz;
  g_Scan.MmToDac(p.x + dx, p.y + dy, 0.0, cx, cy, cz);
  return FastCaliEntry{static_cast<uint16_t>(cy), static_cast<uint16_t>(cx)};
}

const int kPoints[][2] = {{0, 0}, {256, 256}, {128, 128}, {37, 201}, {256, 0}, {5, 250}};

void ExpectEntry(int t, int i, int j, FastCaliEntry want) {
  const FastCaliEntry got = g_Scan.tables[t][j * 257 + i];
  EXPECT_EQ(std::pair(got.first, got.second), std::pair(want.first, want.second))
      << "table " << t << " (" << i << ", " << j << ")";
}

class OldMethod : public CaliModuleTest {
 protected:
  void WriteBox(const BoxFileRecords& r, const std::string& hardware = "") {
    WriteConfig("lens.box", BoxFileText(r));
    WriteConfig("QZMarkPara.cfg", "[Calibration]\nKVX1000_NO0_File=lens.box\n[HARDWARE]\n" + hardware);
  }
};

TEST_F(OldMethod, FastTablesFollowTheBoxTheTransformAndTheModule) {
  WriteBox(AffineBox(), "ORG_X=1.5\nORG_Y=-2\nRotate=30\nCOORD_TYPE=5\n");
  EXPECT_EQ(g_Scan.SetCalibratePara(), 0u);
  const CScan& s = g_Scan;
  EXPECT_EQ(std::tuple(s.dbOrgX, s.dbOrgY, s.nCoordType, s.dbRotSin, s.dbRotCos, s.nTableSelect, s.FieldX()),
            std::tuple(1.5, -2.0, 5, DetSin(30.0 * kPi / 180.0), DetCos(30.0 * kPi / 180.0), 0, 100.0));
  for (int t = 0; t < 2; ++t)
    for (const auto& pt : kPoints) ExpectEntry(t, pt[0], pt[1], AffineEntry(t, pt[0], pt[1]));
  // The module got the 2D block and the second block, once, and both tables point by point.
  corrix_model m{};
  ASSERT_EQ(corrix_get_model_(0, &m), 0);
  EXPECT_EQ(std::tuple(m.type, m.field_x, m.coef[5], m.table1_dx), std::tuple(0, 100.0, 0.005, 0.75));
  EXPECT_EQ(std::tuple(corrix_count_(CORRIX_ENTRY_CREATE), corrix_count_(CORRIX_ENTRY_DISABLEDIFFCORR),
                       corrix_count_(CORRIX_ENTRY_DO2DCALI)),
            std::tuple(1u, 1u, 2u * 257 * 257));
  corrix_point last{};
  ASSERT_EQ(corrix_last_point_(&last), 0);
  EXPECT_EQ(last.table, 0);  // table 1 is built first, table 0 last
  EXPECT_TRUE(Boxes().empty());
}

TEST_F(OldMethod, BoxFileKeyTakesModelAndCardNumber) {
  WriteConfig("lens.box", BoxFileText(AffineBox()));
  // CARDNO 0x8003 and PID 0x8002: the key of model 3, card 2; other keys are not read.
  g_SystemPara.CardLinkCfg.CARDNO = 0x8003;
  g_SystemPara.CardLinkCfg.PID = 0x8002;
  WriteConfig("QZMarkPara.cfg", "[Calibration]\nKVX1000_NO0_File=none.box\nKVX1003_NO2_File=lens.box\n");
  EXPECT_EQ(g_Scan.SetCalibratePara(), 0u);
  // Without the key the default name is used: "Default.box" in the configuration folder.
  WriteConfig("QZMarkPara.cfg", "");
  qztest::ExpectCode(10, 1, [] { g_Scan.SetCalibratePara(); });
  WriteConfig("Default.box", BoxFileText(AffineBox()));
  EXPECT_EQ(g_Scan.SetCalibratePara(), 0u);
}

TEST_F(OldMethod, GridBoxAndDifferenceRowsReachTheModule) {
  BoxFileRecords r;
  r.type = 1;
  r.n3DCount = 2;
  r.r3D[0] = 42.0;  // the size passed with the difference rows
  r.nRows = r.nCols = 3;
  r.dbGridFieldX = 80.0;
  r.dbGridFieldY = 60.0;
  for (int row = 0; row < 3; ++row)
    for (int col = 0; col < 3; ++col) {
      r.gridPairs.push_back(0.1 * (col + 1));
      r.gridPairs.push_back(-0.05 * (row + 1));
    }
  r.nDiffEnable = 1;
  r.nDiffRows = 1;
  r.diffRows = {0.0, 0.0, 1.0, 0.5, 0.25};  // within 1 mm of the centre: +0.5, +0.25
  WriteBox(r);
  ASSERT_EQ(g_Scan.SetCalibratePara(), 0u);
  corrix_model m{};
  ASSERT_EQ(corrix_get_model_(0, &m), 0);
  EXPECT_EQ(std::tuple(m.type, m.rows, m.field_y, m.first_pair[0], m.last_pair[1], m.diff_rows, m.diff_size,
                       m.first_diff_row[3]),
            std::tuple(1, 3, 60.0, 0.1, -0.05 * 3, 1, 42.0, 0.5));
  EXPECT_EQ(corrix_count_(CORRIX_ENTRY_ENABLEDIFFCORR), 1u);
  // Grid points on the grid's nodes get the node's offset exactly; the centre also the row's.
  struct Case { int i, j; double dx, dy; } cases[] = {
      {0, 0, 0.1, -0.05}, {256, 256, 0.1 * 3, -0.05 * 3}, {256, 0, 0.1 * 3, -0.05}, {128, 128, 0.2 + 0.5, -0.1 + 0.25},
  };
  for (const Case& c : cases) {
    const double x = c.i * 80.0 / 256.0 - 40.0, y = c.j * 60.0 / 256.0 - 30.0;
    auto clamp = [](double v) { return static_cast<uint16_t>(v < 0.0 ? 0 : v > 65535.0 ? 65535 : static_cast<int32_t>(v)); };
    ExpectEntry(0, c.i, c.j, FastCaliEntry{clamp((y + c.dy + 30.0) * 65535.0 / 60.0), clamp((x + c.dx + 40.0) * 65535.0 / 80.0)});
  }
}

// High-precision offsets: dX = i / 1000 and dY = -j / 500 mm at point (i, j).
std::string HighPrecisionFile() {
  std::string data(kHighPrecisionFileBytes, '\0');
  for (int j = 0; j < 257; ++j)
    for (int i = 0; i < 257; ++i) {
      PutF64(reinterpret_cast<uint8_t*>(data.data()) + 16 * (j * 257 + i), i / 1000.0);
      PutF64(reinterpret_cast<uint8_t*>(data.data()) + 16 * (j * 257 + i) + 8, -j / 500.0);
    }
  return data;
}

TEST_F(OldMethod, HighPrecisionOffsetsByFlagAndFile) {
  const std::string file = HighPrecisionFile();
  struct Case { const char *name, *flags; bool writeR; std::string rContent; bool offsets0, offsets1; size_t boxes; };
  const Case cases[] = {
      {"flags off", "bHighPrecisionCali=0\nbHighPrecisionCaliR=0\n", true, file, false, false, 0},
      {"table 0 only", "bHighPrecisionCali=1\n", true, file, true, false, 0},
      {"both", "bHighPrecisionCali=1\nbHighPrecisionCaliR=1\n", true, file, true, true, 0},
      {"R missing", "bHighPrecisionCali=1\nbHighPrecisionCaliR=1\n", false, "", true, false, 1},
      {"R short", "bHighPrecisionCali=1\nbHighPrecisionCaliR=1\n", true, file.substr(0, file.size() - 1), true, false, 1},
  };
  for (const Case& c : cases) {
    plat::DeleteFilePath(dir.File("boxes.txt"));
    plat::DeleteFilePath(dir.File("ini/HighPrecisionCaliR.cl"));
    WriteConfig("HighPrecisionCali.cl", file);
    if (c.writeR) WriteConfig("HighPrecisionCaliR.cl", c.rContent);
    WriteBox(AffineBox(), c.flags);
    ASSERT_EQ(g_Scan.SetCalibratePara(), 0u) << c.name;
    EXPECT_EQ(g_SystemPara.bHighPrecisionCali, c.offsets0 ? 1 : 0) << c.name;
    for (const auto& pt : kPoints) {
      const int i = pt[0], j = pt[1];
      ExpectEntry(0, i, j, c.offsets0 ? AffineEntry(0, i, j, i / 1000.0, -j / 500.0) : AffineEntry(0, i, j));
      ExpectEntry(1, i, j, c.offsets1 ? AffineEntry(1, i, j, i / 1000.0, -j / 500.0) : AffineEntry(1, i, j));
    }
    const std::vector<std::string> boxes(c.boxes, "topmost ok: High precision correction file reading failed!");
    EXPECT_EQ(Boxes(), boxes) << c.name;
  }
}

TEST_F(OldMethod, PointsTheModuleDoesNotComputeKeepTheirPlainCodes) {
  struct Case { const char* name; bool unload; } cases[] = {{"failing Do2DCali", false}, {"no module", true}};
  for (const Case& c : cases) {
    if (c.unload) {
      FreeCaliModules();
    } else {
      corrix_fail_(CORRIX_ENTRY_DO2DCALI, 1);
    }
    WriteBox(AffineBox(), "ORG_X=3\nCOORD_TYPE=2\n");
    ASSERT_EQ(g_Scan.SetCalibratePara(), 0u) << c.name;
    for (int t = 0; t < 2; ++t)
      for (const auto& pt : kPoints) ExpectEntry(t, pt[0], pt[1], AffineEntry(-1, pt[0], pt[1]));
  }
  // Tables built without their module are never sent.
  EXPECT_FALSE(BoxTablesModuleLoaded());
  qztest::ExpectCode(11, 1, [] { g_Scan.SendBoxTables(); });
  EXPECT_TRUE(qztest::HasLine(ErrorLines(), "CScan::SendBoxTables:Corrix.dll is not loaded"));
}

TEST_F(OldMethod, DumpAndFlashImageOfATable) {
  WriteBox(AffineBox(), "Rotate=-12.5\n");
  ASSERT_EQ(g_Scan.SetCalibratePara(), 0u);
  for (bool writable : {true, false}) {
    if (!writable) {
      plat::DeleteFilePath(dir.File("BoxR.xls"));
      qztest::FailFileWrites(dir.Path());
    }
    std::vector<uint8_t> image(kBoxTableBufferBytes, 0xEE);
    g_Scan.WriteBoxXls(1, image.data());
    for (int e : {0, 1, 257 * 128 + 128, 257 * 257 - 1}) {
      const FastCaliEntry want = g_Scan.tables[1][e];
      EXPECT_EQ(std::tuple(GetU16(&image[4 * e]), GetU16(&image[4 * e + 2])), std::tuple(want.second, want.first)) << e;
    }
    EXPECT_EQ(std::count(image.begin() + 264196, image.begin() + 266239, 0), 266239 - 264196);
    EXPECT_EQ(image[266240], 0xEE);  // beyond the 130 pages the buffer is not touched (the dump and the A5: CaliHost)
    std::string dump;
    EXPECT_EQ(plat::ReadWholeFile(dir.File("BoxR.xls"), dump), writable);
  }
  EXPECT_FALSE(plat::FileExists(dir.File("Box.xls")));
}

// ------------------------------------------------------------------------- the new box method

class NewMethod : public CaliModuleTest {
 protected:
  void SetUp() override {
    CaliModuleTest::SetUp();
    g_SystemPara.bNewBoxCali = 1;
  }
  static CCaliLink::TableEntry Entry(int t, int i, int j) { return CCaliLink::GetTable(t)[j * 65 + i]; }
};

TEST_F(NewMethod, DefaultBlockGivesTheIdentityWithOrWithoutTheModule) {
  // how: 0 module, 1 failing Cali, 2 no module.
  struct Case { const char* name; int how; } cases[] = {{"module", 0}, {"failing Cali", 1}, {"no module", 2}};
  for (const Case& c : cases) {
    if (c.how == 1) gridel_fail_(GRIDEL_ENTRY_CALI, 1);
    if (c.how == 2) FreeCaliModules();
    CCaliLink::CreateTableAll();
    EXPECT_EQ(CCaliLink::HalfRange(), 10.0) << c.name;  // 160 / 16 from the module, or the default
    // R = 10: points -10 .. +10 mm in steps of 0.3125 mm; code = (R + p) / 2R x 2^22 = i x 65536.
    for (int t = 0; t < 2; ++t)
      for (const auto& pt : {std::pair{0, 0}, std::pair{64, 64}, std::pair{32, 7}, std::pair{64, 0}}) {
        EXPECT_EQ(Entry(t, pt.first, pt.second).x, pt.first * 65536u) << c.name;
        EXPECT_EQ(Entry(t, pt.first, pt.second).y, pt.second * 65536u) << c.name;
      }
  }
  EXPECT_FALSE(BoxTablesModuleLoaded());
}

TEST_F(NewMethod, BlockTransformsThePointsOfEachTable) {
  // Point (40, 16) of a table is (2.5, -5) mm at R = 10; edits at flag offsets are words.
  struct Edit { size_t off; double v; };
  // Entry (i, j) of both tables; (40, 16) unless a case names another.
  struct Case { const char* name; std::vector<Edit> edits; uint32_t x0, y0, x1, y1; int i = 40, j = 16; } cases[] = {
      // Table 0: X1 = (2.5 + 1.25) x 2 = 7.5, Y1 = -5 x 0.5 = -2.5, mirrored 2.5.
      // Table 1: X1 = (2.5 + 1.25) x 2 x 0.5 = 3.75, Y1 = (-5 + 0.5) x 0.5 = -2.25, mirrored 2.25.
      {"offsets, scales, mirror Y",
       {{kBoxOffsetX, 1.25}, {kBoxScaleX, 2.0}, {kBoxScaleY, 0.5}, {kBoxMirrorY, 1}, {kBoxT1OffsetY, 0.5},
        {kBoxT1ScaleX, 0.5}},
       3670016, 2621440, 2883584, 2569011},  // 2569011.2 rounds down
      // Swap after scaling: table 0 (-2.5, 7.5), then mirror X: (2.5, 7.5).
      {"swap, mirror X",
       {{kBoxOffsetX, 1.25}, {kBoxScaleX, 2.0}, {kBoxScaleY, 0.5}, {kBoxSwapXY, 1}, {kBoxMirrorX, 1}},
       2621440, 3670016, 2621440, 3670016},
      // The module adds 0.5 mm on X and 0.1 x X on Y: out (3, -4.75); 2726297.6 and 1101004.8 round up.
      {"module coefficients", {{kBoxSetB, 0.5}, {kBoxSetB + 160 + 8, 0.1}}, 2726298, 1101005, 2726298, 1101005},
      // Rotated corners land beyond -R: their codes are negative and wrap, not clamped to 0. At 7.5
      // degrees corner (64, 0) = (10, -10) mm turns to (8.609187, -11.219711), X mirrored: codes
      // 291674.69 and -255791.84, rounded 291675 and -255792.
      {"7.5 degrees, mirror X: Y below 0", {{kBoxAngle, 7.5}, {kBoxMirrorX, 1}}, 291675, 4294711504, 291675,
       4294711504, 64, 0},
      // At -4 degrees corner (0, 0) turns to (-9.278076, -10.673205), swapped: -141181.37 and 151398.49.
      {"-4 degrees, swap: X below 0", {{kBoxAngle, -4.0}, {kBoxSwapXY, 1}}, 4294826115, 151398, 4294826115, 151398,
       0, 0},
      // Rotation 90 degrees for table 0; table 1 turns back by its own -90 degrees.
      {"angles", {{kBoxAngle, 90.0}, {kBoxExtension, 0xA5000002}, {kBoxT1Angle, -90.0}},
       1048576, 1572864, 2621440, 1048576},
  };
  for (const Case& c : cases) {
    BoxParaBlock b = Defaults();
    for (const Edit& e : c.edits) {
      if (e.off == kBoxMirrorX || e.off == kBoxMirrorY || e.off == kBoxSwapXY || e.off == kBoxExtension) {
        BoxSetU32(b, e.off, static_cast<uint32_t>(e.v));
      } else {
        BoxSetF64(b, e.off, e.v);
      }
    }
    StoreBoxPara(b);
    CCaliLink::CreateTableAll();
    EXPECT_EQ(std::tuple(Entry(0, c.i, c.j).x, Entry(0, c.i, c.j).y, Entry(1, c.i, c.j).x, Entry(1, c.i, c.j).y),
              std::tuple(c.x0, c.y0, c.x1, c.y1)) << c.name;
  }
  // The angles of the last case: -90 degrees for table 0 (sine exactly -1), 0 for table 1.
  const CCaliLink::TableAngles a = CCaliLink::Angles();
  EXPECT_LT(std::fabs(a.cos0), 1e-16);
  EXPECT_EQ(std::tuple(a.sin0, a.sin1, a.cos1), std::tuple(-1.0, 0.0, 1.0));
  EXPECT_EQ(gridel_count_(GRIDEL_ENTRY_CALI), 6u * 2 * 65 * 65);
}

TEST_F(NewMethod, ModuleGetsTheBlockWithItsSetsMirroredAndSwapped) {
  // Each real of the sets holds its own label: set A 1000 + 10 row + element, set B 2000 + ...
  BoxParaBlock base = Defaults();
  for (int r = 0; r < 4; ++r)
    for (int e = 0; e < 3; ++e) BoxSetF64(base, kBoxSetA + 8 * (3 * r + e), 1000 + 10 * r + e);
  for (int r = 0; r < 8; ++r)
    for (int e = 0; e < 5; ++e) BoxSetF64(base, kBoxSetB + 8 * (5 * r + e), 2000 + 10 * r + e);
  auto rowA = [](const BoxParaBlock& b, int r) {
    return std::vector<double>{BoxGetF64(b, kBoxSetA + 24 * r), BoxGetF64(b, kBoxSetA + 24 * r + 8),
                               BoxGetF64(b, kBoxSetA + 24 * r + 16)};
  };
  auto rowB = [](const BoxParaBlock& b, int r) {
    std::vector<double> v;
    for (int e = 0; e < 5; ++e) v.push_back(BoxGetF64(b, kBoxSetB + 40 * r + 8 * e));
    return v;
  };
  using V = std::vector<double>;
  // a: row aRow of set A after preparing; b: row bRow of set B after preparing.
  struct Case { const char* name; uint32_t ext, swap, mx, my; int aRow; V a; int bRow; V b; } cases[] = {
      {"extension not valid", 0xA4000001, 1, 1, 1, 0, {1000, 1001, 1002}, 0, {2000, 2001, 2002, 2003, 2004}},
      {"bit 0 clear", 0xA5000002, 1, 1, 1, 0, {1000, 1001, 1002}, 4, {2040, 2041, 2042, 2043, 2044}},
      {"mirror X: its rows", 0xA5000001, 0, 1, 0, 0, {1010, 1011, 1012}, 0, {2030, 2031, 2032, 2033, 2034}},
      {"mirror X: Y backwards", 0xA5000001, 0, 1, 0, 2, {1022, 1021, 1020}, 4, {2044, 2043, 2042, 2041, 2040}},
      {"mirror Y: its rows", 0xA5000001, 0, 0, 1, 2, {1030, 1031, 1032}, 4, {2070, 2071, 2072, 2073, 2074}},
      {"mirror Y: X backwards", 0xA5000001, 0, 0, 1, 1, {1012, 1011, 1010}, 3, {2034, 2033, 2032, 2031, 2030}},
      {"swap", 0xA5000001, 1, 0, 0, 0, {1020, 1021, 1022}, 7, {2030, 2031, 2032, 2033, 2034}},
      {"mirror X, then swap", 0xA5000001, 1, 1, 0, 0, {1022, 1021, 1020}, 4, {2030, 2031, 2032, 2033, 2034}},
  };
  for (const Case& c : cases) {
    BoxParaBlock b = base;
    BoxSetU32(b, kBoxExtension, c.ext);
    BoxSetU32(b, kBoxSwapXY, c.swap);
    BoxSetU32(b, kBoxMirrorX, c.mx);
    BoxSetU32(b, kBoxMirrorY, c.my);
    const BoxParaBlock p = CCaliLink::PrepareModuleBlock(b);
    EXPECT_EQ(std::tuple(rowA(p, c.aRow), rowB(p, c.bRow)), std::tuple(c.a, c.b)) << c.name;
    // The module gets exactly the prepared block; the library keeps the host's.
    StoreBoxPara(b);
    CCaliLink::MirrorHeads();
    BoxParaBlock got{};
    ASSERT_EQ(gridel_last_block_(got.data()), 0);
    EXPECT_EQ(std::tuple(got, CopyBoxPara()), std::tuple(p, b)) << c.name;
  }
}

TEST_F(NewMethod, HalfRangeFromTheModuleOnlyWhenItIsARange) {
  constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();
  constexpr double kInf = std::numeric_limits<double>::infinity();
  struct Case { double reported; bool fail; double r; } cases[] = {
      {20.0, false, 20.0}, {-1.0, false, 20.0}, {0.0, false, 20.0}, {kNaN, false, 20.0}, {kInf, false, 20.0},
      {2.5, false, 2.5},   {7.0, true, 2.5}};
  size_t refused = 0;
  for (const Case& c : cases) {
    gridel_set_range_(c.reported, 1);
    gridel_fail_(GRIDEL_ENTRY_GETBOXSIZE, c.fail ? 1 : 0);
    CCaliLink::MirrorHeads();
    EXPECT_EQ(CCaliLink::HalfRange(), c.r) << c.reported;
    if (c.r != c.reported) ++refused;
    size_t lines = 0;
    for (const std::string& l : ErrorLines()) lines += l.find("CCaliLink::MirrorHeads:box range R=") != std::string::npos;
    EXPECT_EQ(lines, refused) << c.reported;
  }
  EXPECT_TRUE(qztest::HasLine(ErrorLines(), "box range R=-1.00000000 refused, R stays 20.00000000"));
}

TEST_F(NewMethod, ReadingTheBlockOnTheOldMethodAsksNoModule) {
  BoxParaBlock b = Defaults();
  BoxSetF64(b, 96, 320.0);  // the module's R would be one sixteenth of it (on the new method: CaliHost)
  WriteConfig("CaliPara.cl", std::string(b.begin(), b.end()));
  g_SystemPara.bNewBoxCali = 0;
  CCaliLink::ReadPara(false);
  EXPECT_EQ(std::tuple(CCaliLink::HalfRange(), gridel_count_(GRIDEL_ENTRY_SETCALIPARA)), std::tuple(10.0, 0u));
}

TEST_F(NewMethod, HighPrecisionGridTakesEveryFourthPointAndTheImageIsTheCodesInOrder) {
  WriteConfig("HighPrecisionCali.cl", HighPrecisionFile());
  WriteConfig("QZMarkPara.cfg", "[HARDWARE]\nbHighPrecisionCali=1\n");
  CCaliLink::CreateTableAll();
  // Point (10, 3) of table 0 takes the offsets of point (40, 12): 0.04 and -0.024 mm.
  const double x = 10 * 0.3125 - 10.0 + 40 / 1000.0, y = 3 * 0.3125 - 10.0 + -12 / 500.0;
  EXPECT_EQ(Entry(0, 10, 3).x, static_cast<uint32_t>(std::round((10.0 + x) / 20.0 * 4194304.0)));
  EXPECT_EQ(Entry(0, 10, 3).y, static_cast<uint32_t>(std::round((10.0 + y) / 20.0 * 4194304.0)));
  EXPECT_EQ(Entry(1, 10, 3).x, 10 * 65536u);  // table 1's flag is off
  // Table 1's image is its codes in order.
  BoxParaBlock b = Defaults();
  BoxSetF64(b, kBoxSetB, -0.3);
  StoreBoxPara(b);
  CCaliLink::CreateTableAll();
  std::vector<uint8_t> image(CCaliLink::kTableBytes);
  CCaliLink::TableImage(1, image.data());
  for (int e : {0, 1, 65, 2112, 4224}) {
    EXPECT_EQ(GetU32(&image[8 * e]), CCaliLink::GetTable(1)[e].x) << e;
    EXPECT_EQ(GetU32(&image[8 * e + 4]), CCaliLink::GetTable(1)[e].y) << e;
  }
  // Entry 4224 is (+10, +10) mm with -0.3 on X: (20 - 0.3) / 20 x 2^22 = 4131389.44.
  EXPECT_EQ(std::tuple(GetU32(&image[8 * 4224]), GetU32(&image[8 * 4224 + 4])), std::tuple(4131389u, 4194304u));
}

TEST(DetTrig, SameBitsOnEveryPlatform) {
  // Bit patterns of a correctly rounding C library's sine and cosine: the same on every build.
  struct Case { double deg; uint64_t sin, cos; } cases[] = {
      {0, 0x0000000000000000ull, 0x3ff0000000000000ull},       {30, 0x3fdfffffffffffffull, 0x3febb67ae8584cabull},
      {45, 0x3fe6a09e667f3bccull, 0x3fe6a09e667f3bcdull},      {90, 0x3ff0000000000000ull, 0x3c91a62633145c07ull},
      {-90, 0xbff0000000000000ull, 0x3c91a62633145c07ull},     {180, 0x3ca1a62633145c07ull, 0xbff0000000000000ull},
      {-123.456, 0xbfeab2a9b25a9ab8ull, 0xbfe1a43870d371faull}, {359.99, 0xbf26e05a676c4f62ull, 0x3feffffff7d2af5full},
      {1e7, 0xbfef838b8c80dd8cull, 0x3fc63a1a7e10fe5aull},
  };
  for (const Case& c : cases) {
    const double a = c.deg * kPi / 180.0;
    EXPECT_EQ(std::bit_cast<uint64_t>(DetSin(a)), c.sin) << c.deg;
    EXPECT_EQ(std::bit_cast<uint64_t>(DetCos(a)), c.cos) << c.deg;
  }
  EXPECT_TRUE(std::isnan(DetSin(std::numeric_limits<double>::infinity())));
  EXPECT_TRUE(std::isnan(DetCos(std::numeric_limits<double>::quiet_NaN())));
}

}  // namespace
