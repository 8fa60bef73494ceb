// Box files (written, read, refused, packed, through the scanner) and the box parameter block.
#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <string>

#include "calibration/box_file.h"
#include "calibration/box_para.h"
#include "calibration/scan.h"
#include "frame/bytes.h"
#include "frame/errors.h"
#include "platform/files.h"
#include "support/expect_code.h"
#include "support/faults.h"
#include "support/lib_folder.h"
#include "support/temp_dir.h"

namespace {

// A 3D box of version 1 with every section filled and values that need all 17 digits.
BoxFileRecords FullBox() {
  BoxFileRecords r;
  r.version = 1;
  r.type = 1;
  r.nHeadUnused = -7;
  r.nZSelect = 1;
  r.dbHeadUnused[0] = 0.1;
  r.dbHeadUnused[1] = -2e-300;
  r.n2D = 4;
  for (int i = 0; i < 11; ++i) r.r2D[i] = 100.0 / (i + 3);
  r.n3DCount = 2;
  for (int i = 0; i < 5; ++i) r.r3D[i] = -1.0 / (i + 7);
  r.nRows = 2;
  r.nCols = 3;
  r.dbGridFieldX = 110.5;
  r.dbGridFieldY = 90.25;
  for (int i = 0; i < 12; ++i) r.gridPairs.push_back(i * 0.001 - 1.0 / 3.0);
  r.nSecond = 5;
  r.rSecond[0] = 0.125;
  r.rSecond[3] = 1e300;
  r.nDiff = 6;
  r.nDiffEnable = 1;
  r.nDiffRows = 2;
  for (int i = 0; i < 10; ++i) r.diffRows.push_back(i / 9.0);
  r.nZ = 8;
  r.rZ[2] = 17.5;
  r.nList = 9;
  r.dbListAltZ = 23.75;
  r.nListCount = 3;
  r.listFirst = {1.5, 2.5, 3.5};
  r.listSecond = {-4.0, 5e-5, 6e6};
  for (int i = 0; i < 9; ++i) r.rList[i] = i * 1.1;
  return r;
}

// The lines of a box file, joined with "\n".
std::string Lines(std::initializer_list<std::string> lines) {
  std::string out;
  for (const std::string& l : lines) out += l + "\n";
  return out;
}

TEST(BoxFile, WrittenRecordsReadBackExactly) {
  BoxFileRecords full = FullBox();
  BoxFileRecords v0 = FullBox();
  v0.version = 0;  // no line group 3: its values are not written and read back as 0
  v0.nHeadUnused = v0.nZSelect = 0;
  v0.dbHeadUnused[0] = v0.dbHeadUnused[1] = 0.0;
  BoxFileRecords noReals = FullBox();
  noReals.n3DCount = 1;  // a count of 1 has no reals behind it
  for (double& v : noReals.r3D) v = 0.0;
  BoxFileRecords highVersion = FullBox();
  highVersion.version = 0xFFFFFFFFu;
  for (const BoxFileRecords& r : {full, v0, noReals, highVersion}) {
    const std::string text = BoxFileText(r);
    EXPECT_EQ(ParseBoxFile(text), r) << text.substr(0, 40);
  }
  // The written text of the full box: one value per line, as many lines as the layout asks.
  const std::string text = BoxFileText(full);
  size_t lines = 0;
  for (char c : text) lines += c == '\n';
  EXPECT_EQ(lines, 2u + 4 + 12 + 1 + 5 + 4 + 12 + 5 + 3 + 10 + 6 + 3 + 6 + 9);
  EXPECT_EQ(text.substr(0, 13), "1\r\n1\r\n-7\r\n1\r\n");
}

TEST(BoxFile, ShortFilesAndLongLines) {
  // Lines past the end read as 0: two lines make a 3D box of version 1 with nothing else.
  BoxFileRecords expected;
  expected.version = 1;
  expected.type = 1;
  EXPECT_EQ(std::tuple(ParseBoxFile("1\r\n1"), ParseBoxFile("")), std::tuple(expected, BoxFileRecords{}));
  // A line is read 255 bytes at a time: 255 blanks read as one value (0), the rest of the line as
  // the next (1: the type).
  EXPECT_EQ(ParseBoxFile(std::string(255, ' ') + "1\n").type, 1);
  EXPECT_EQ(ParseBoxFile(std::string(254, ' ') + "1\n").type, 0);
}

TEST(BoxFile, RefusedCountsAndTypes) {
  // One line of a version-0 2D box with empty sections replaced: 0 version, 1 type, 14 3D count,
  // 15 rows, 16 columns, 26 difference rows, 35 list count (45 lines in all).
  auto box = [](size_t line, const std::string& value) {
    std::vector<std::string> lines(45, "0");
    lines[2 + 1] = "100";  // the 2D field
    lines[line] = value;
    std::string text;
    for (const std::string& l : lines) text += l + "\n";
    return text;
  };
  struct Case { size_t line; const char* value; bool refused; } cases[] = {
      {14, "-1", true}, {15, "-1", true}, {16, "-2", true}, {26, "1000001", true}, {1, "2", true}, {1, "-1", true},
      {26, "1000000", true}, {35, "5", true}, {35, "2", false}, {1, "1", false}, {14, "5", false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << c.line << "=" << c.value);
    const std::string text = box(c.line, c.value);
    if (c.refused) {
      qztest::ExpectCode(11, 1, [&] { ParseBoxFile(text); });
    } else {
      EXPECT_NO_THROW(ParseBoxFile(text));
    }
  }
  // Rows x columns above one million; a grid whose pairs the file holds.
  const std::string grid = Lines({"0", "0", "0", "0", "0", "0", "0", "0", "0", "0", "0", "0", "0", "0", "0"});
  EXPECT_THROW(ParseBoxFile(grid + Lines({"1001", "1000"})), MyException);
  EXPECT_NO_THROW(ParseBoxFile(grid + Lines({"1", "2", "0", "0", "1", "1", "1", "1"})));
}

TEST(BoxFile, RecordsArePackedOneAfterAnother) {
  const BoxFileRecords r = FullBox();
  const BoxRecordImage img = PackBoxRecords(r);
  const size_t P = sizeof(void*);
  // 2D 92 bytes, second 36, 3D 44, grid 24 + P, difference 12 + P, Z 44, list 88 + 2P: each value is
  // read at its offset.
  EXPECT_EQ(img.bytes.size(), 340u + 4 * P);
  const uint8_t* b = img.bytes.data();
  auto ptrAt = [&](size_t off) {
    const void* p;
    std::memcpy(&p, b + off, sizeof p);
    return p;
  };
  EXPECT_EQ(std::tuple(GetU32(b + 0), GetF64(b + 4), GetU32(b + 92), GetF64(b + 96), GetU32(b + 128), GetF64(b + 164),
                       GetU32(b + 172), GetF64(b + 180), ptrAt(196)),
            std::tuple(4u, r.r2D[0], 5u, 0.125, 2u, r.r3D[4], 2u, 110.5, r.gridPairs.data()));
  // The grid's enable and rows, the difference rows, the Z block's third real, the list.
  EXPECT_EQ(std::tuple(GetU32(b + 196 + P + 4), GetU32(b + 196 + P + 8), ptrAt(208 + P), GetF64(b + 208 + 2 * P + 20),
                       GetF64(b + 252 + 2 * P + 4), GetU32(b + 252 + 2 * P + 12), ptrAt(252 + 2 * P + 16),
                       ptrAt(252 + 3 * P + 16), GetF64(b + 252 + 4 * P + 80)),
            std::tuple(1u, 2u, r.diffRows.data(), 17.5, 23.75, 3u, r.listFirst.data(), r.listSecond.data(),
                       r.rList[8]));
}

// Reading through the scanner object (no calibration module loaded in this program).
class BoxFileRead : public ::testing::Test {
 protected:
  void TearDown() override {
    g_Scan.SetFieldSizes(100.0, 100.0, 17.0);
    g_BoxFile = BoxFileRecords{};
  }
  qztest::TempDir dir;
};

TEST_F(BoxFileRead, FieldSizesByBoxTypeAndRefusedFilesChangeNothing) {
  struct Case { const char* name; std::function<void(BoxFileRecords&)> edit; double fx, fy, fz; } cases[] = {
      {"2D box", [](BoxFileRecords& r) { r.type = 0; r.r2D[0] = 60.0; r.nZSelect = 0; }, 60.0, 60.0, 17.5},
      {"3D box", [](BoxFileRecords&) {}, 110.5, 90.25, 23.75},
      {"3D box, tiny fields", [](BoxFileRecords& r) { r.dbGridFieldX = 0.1; r.dbGridFieldY = -3.0; }, 100.0, 100.0, 23.75},
      {"Z from the Z block", [](BoxFileRecords& r) { r.nZSelect = 2; }, 110.5, 90.25, 17.5},
  };
  for (const Case& c : cases) {
    BoxFileRecords r = FullBox();
    c.edit(r);
    ASSERT_TRUE(plat::WriteWholeFile(dir.File("a.box"), BoxFileText(r)));
    EXPECT_EQ(g_Scan.ReadBoxFile(dir.File("a.box")), 0u);
    EXPECT_EQ(std::tuple(g_Scan.FieldX(), g_Scan.FieldY(), g_Scan.FieldZ()), std::tuple(c.fx, c.fy, c.fz)) << c.name;
    EXPECT_EQ(g_BoxFile, r) << c.name;
  }
  // Refused files change nothing: the last box stays.
  const BoxFileRecords good = g_BoxFile;
  BoxFileRecords badType = FullBox();
  badType.type = 3;
  ASSERT_TRUE(plat::WriteWholeFile(dir.File("type.box"), BoxFileText(badType)));
  struct Refused { const char* file; uint32_t code; } refused[] = {{"missing.box", 10}, {"type.box", 11}};
  for (const Refused& c : refused) {
    SCOPED_TRACE(c.file);
    qztest::ExpectCode(c.code, 1, [&] { g_Scan.ReadBoxFile(dir.File(c.file)); });
    EXPECT_EQ(std::tuple(g_BoxFile, g_Scan.FieldX()), std::tuple(good, 110.5)) << c.file;
  }
}

// ---- the box parameter block

BoxParaBlock Defaults() {
  BoxParaBlock d;
  SetBoxParaDefaults(d);
  return d;
}

class BoxParaTest : public qztest::LibFolderTest {
 protected:
  void SetUp() override {
    LibFolderTest::SetUp();
    g_mapErrText[RV_NOT_OPEN_BOX_FILE] = "The calibration box file could not be opened.";
    StoreBoxPara(Defaults());
  }
  void TearDown() override {
    qztest::FailFileWrites("");
    g_mapErrText.clear();
    LibFolderTest::TearDown();
  }
};

TEST_F(BoxParaTest, DefaultsByByteOffset) {
  BoxParaBlock b;
  b.fill(0xEE);
  SetBoxParaDefaults(b);
  BoxParaBlock want{};  // every byte not set below is zero
  PutU32(&want[0], 3);
  PutU32(&want[4], 1);
  for (size_t off : {40u, 48u, 80u, 88u, 104u, 112u}) PutF64(&want[off], 1.0);
  PutF64(&want[96], 160.0);
  want[168] = 0xA8;  // 25000, little-endian on the wire
  want[169] = 0x61;
  for (size_t i = 0; i < 12; ++i) PutF64(&want[172 + 8 * i], 60.0);
  EXPECT_EQ(b, want);
}

TEST_F(BoxParaTest, WrittenBlockReadsBackByteForByteAndARefusedWriteLeavesTheFile) {
  BoxParaBlock b = Defaults();
  for (size_t i = 600; i < kBoxParaSize; ++i) b[i] = static_cast<uint8_t>(i * 7);
  BoxSetF64(b, kBoxOffsetX, -1.0 / 3.0);
  BoxSetU32(b, kBoxExtension, 0xA5000003);
  StoreBoxPara(b);
  ASSERT_TRUE(CCaliLink::WritePara());
  const std::string written(b.begin(), b.end());
  std::string file;
  ASSERT_TRUE(plat::ReadWholeFile(dir.File("ini/CaliPara.cl"), file));
  EXPECT_EQ(file, written);
  StoreBoxPara(Defaults());
  CCaliLink::ReadPara(true);
  EXPECT_EQ(CopyBoxPara(), b);
  // A refused write is reported once and leaves the file alone; the library's block is the host's all the same.
  BoxSetF64(b, kBoxScaleX, 0.5);
  StoreBoxPara(b);
  qztest::FailFileWrites(dir.File("ini"));
  EXPECT_FALSE(CCaliLink::WritePara());
  EXPECT_EQ(Boxes(), std::vector<std::string>{"topmost ok: The calibration box file could not be opened."});
  ASSERT_TRUE(plat::ReadWholeFile(dir.File("ini/CaliPara.cl"), file));
  EXPECT_EQ(std::tuple(file, CopyBoxPara()), std::tuple(written, b));
}

TEST_F(BoxParaTest, MissingOrShortFileKeepsTheBlock) {
  BoxParaBlock changed = Defaults();
  BoxSetF64(changed, kBoxOffsetY, 2.5);
  const std::string full(changed.begin(), changed.end());
  struct Case { const char* name; bool present; std::string bytes; bool replaced; } cases[] = {
      {"missing", false, "", false}, {"one byte short", true, full.substr(0, kBoxParaSize - 1), false},
      {"whole", true, full, true}, {"longer", true, full + "tail", true},
  };
  for (const Case& c : cases) {
    plat::DeleteFilePath(dir.File("ini/CaliPara.cl"));
    plat::DeleteFilePath(dir.File("boxes.txt"));
    if (c.present) WriteFile("ini/CaliPara.cl", c.bytes);
    StoreBoxPara(Defaults());
    CCaliLink::ReadPara(false, false);  // at load: silent
    EXPECT_EQ(CopyBoxPara(), c.replaced ? changed : Defaults()) << c.name;
    CCaliLink::ReadPara(false, true);  // later reads report a missing file with code 10's text
    EXPECT_EQ(Boxes(), c.replaced ? std::vector<std::string>{}
                                  : std::vector<std::string>{"topmost ok: The calibration box file could not be opened."})
        << c.name;
  }
}

TEST_F(BoxParaTest, VersionCheckRefusesWithoutCopying) {
  struct Case { uint32_t a, b; int source; bool ok; const char* text; } cases[] = {
      {1, 3, 0, true, nullptr}, {0, 1, 0, false, "上位机软件box参数版本较低，Box参数无效"},
      {0, 1, 1, false, "box文件版本较低，Box参数无效，请重新输入box参数保存"},
      {3, 4, 0, false, "上位机软件box参数版本较高，Box参数无效"}, {3, 4, 1, false, "box文件版本较高，Box参数无效"},
      {0x80000000u, 1, 0, false, "上位机软件box参数版本较低，Box参数无效"},  // negative word A
  };
  for (const Case& c : cases) {
    StoreBoxPara(Defaults());
    BoxParaBlock b = Defaults();
    BoxSetU32(b, 0, c.a);
    BoxSetU32(b, 4, c.b);
    BoxSetF64(b, 72, 9.0);
    EXPECT_EQ(CheckBoxParaVer(b, c.source, false), c.ok);
    EXPECT_EQ(BoxGetF64(CopyBoxPara(), 72), c.ok ? 9.0 : 0.0);
    if (!c.ok) {
      plat::DeleteFilePath(dir.File("boxes.txt"));
      qztest::ExpectCode(2, 0, [&] { CheckBoxParaVer(b, c.source, true); });
      ASSERT_EQ(Boxes().size(), 1u);
      EXPECT_EQ(Boxes()[0], std::string("topmost ok: ") + c.text);
    }
  }
}

}  // namespace
