#include <gtest/gtest.h>

#include "calibration/box_para.h"
#include "frame/errors.h"
#include "frame/ini_cfg.h"
#include "frame/log_file.h"
#include "frame/system_para.h"
#include "platform/files.h"
#include "support/faults.h"
#include "support/lib_folder.h"

namespace {

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
  void WriteBlock(const BoxParaBlock& b) { WriteFile("ini/CaliPara.cl", std::string(b.begin(), b.end())); }
};

TEST_F(BoxParaTest, DefaultsByByteOffset) {
  BoxParaBlock b;
  b.fill(0xEE);
  SetBoxParaDefaults(b);
  EXPECT_EQ(BoxGetU32(b, 0), 3u);
  EXPECT_EQ(BoxGetU32(b, 4), 1u);
  for (size_t off : {40u, 48u, 80u, 88u, 104u, 112u}) EXPECT_EQ(BoxGetF64(b, off), 1.0) << off;
  EXPECT_EQ(BoxGetF64(b, 96), 160.0);
  EXPECT_EQ(BoxGetU32(b, 168), 25000u);
  for (size_t i = 0; i < 12; ++i) EXPECT_EQ(BoxGetF64(b, 172 + 8 * i), 60.0);
  // Everything else is zero: the bytes 8..39, 56..79, 120..167 and 268..2047.
  auto zero = [&](size_t from, size_t to) {
    for (size_t i = from; i < to; ++i)
      if (b[i] != 0) return false;
    return true;
  };
  EXPECT_TRUE(zero(8, 40));
  EXPECT_TRUE(zero(56, 80));
  EXPECT_TRUE(zero(120, 168));
  EXPECT_TRUE(zero(268, kBoxParaSize));
  // Little-endian on the wire: 25000 = 0x61A8.
  EXPECT_EQ(b[168], 0xA8);
  EXPECT_EQ(b[169], 0x61);
}

TEST_F(BoxParaTest, WrittenBlockReadsBackByteForByte) {
  BoxParaBlock b = Defaults();
  for (size_t i = 600; i < kBoxParaSize; ++i) b[i] = static_cast<uint8_t>(i * 7);
  BoxSetF64(b, kBoxOffsetX, -1.0 / 3.0);
  BoxSetU32(b, kBoxExtension, 0xA5000003);
  StoreBoxPara(b);
  ASSERT_TRUE(CCaliLink::WritePara());
  std::string file;
  ASSERT_TRUE(plat::ReadWholeFile(dir.File("ini/CaliPara.cl"), file));
  EXPECT_EQ(file, std::string(b.begin(), b.end()));
  StoreBoxPara(Defaults());
  CCaliLink::ReadPara(true);
  EXPECT_EQ(CopyBoxPara(), b);
  EXPECT_TRUE(Boxes().empty());
}

TEST_F(BoxParaTest, MissingOrShortFileKeepsTheBlock) {
  BoxParaBlock changed = Defaults();
  BoxSetF64(changed, kBoxOffsetY, 2.5);
  const std::string full(changed.begin(), changed.end());
  struct Case { const char* name; bool present; std::string bytes; bool replaced; } cases[] = {
      {"missing", false, "", false}, {"empty", true, "", false},
      {"one byte short", true, full.substr(0, kBoxParaSize - 1), false}, {"whole", true, full, true},
      {"longer", true, full + "tail", true},
  };
  for (const Case& c : cases) {
    plat::DeleteFilePath(dir.File("ini/CaliPara.cl"));
    plat::DeleteFilePath(dir.File("boxes.txt"));
    if (c.present) WriteFile("ini/CaliPara.cl", c.bytes);
    StoreBoxPara(Defaults());
    CCaliLink::ReadPara(false, false);  // at load: silent
    EXPECT_EQ(CopyBoxPara(), c.replaced ? changed : Defaults()) << c.name;
    EXPECT_TRUE(Boxes().empty()) << c.name;
    CCaliLink::ReadPara(false, true);  // later reads report a missing file with code 10's text
    EXPECT_EQ(Boxes(), c.replaced ? std::vector<std::string>{}
                                  : std::vector<std::string>{"topmost ok: The calibration box file could not be opened."})
        << c.name;
  }
}

TEST_F(BoxParaTest, UnwritableFileIsReportedOnceAndLeftAlone) {
  WriteBlock(Defaults());
  BoxParaBlock b = Defaults();
  BoxSetF64(b, kBoxScaleX, 0.5);
  StoreBoxPara(b);
  qztest::FailFileWrites(dir.File("ini"));
  EXPECT_FALSE(CCaliLink::WritePara());
  EXPECT_EQ(Boxes(), std::vector<std::string>{"topmost ok: The calibration box file could not be opened."});
  std::string file;
  ASSERT_TRUE(plat::ReadWholeFile(dir.File("ini/CaliPara.cl"), file));
  const BoxParaBlock d = Defaults();
  EXPECT_EQ(file, std::string(d.begin(), d.end()));
  EXPECT_EQ(CopyBoxPara(), b);  // the library's block is the host's all the same
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
      try {
        CheckBoxParaVer(b, c.source, true);
        ADD_FAILURE() << "no exception";
      } catch (const MyException& e) {
        EXPECT_EQ(e.code, 2u);
        EXPECT_EQ(e.bShow, 0);
      }
      ASSERT_EQ(Boxes().size(), 1u);
      EXPECT_EQ(Boxes()[0], std::string("topmost ok: ") + c.text);
    }
  }
}

}  // namespace
