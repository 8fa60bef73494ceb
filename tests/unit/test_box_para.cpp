#include <gtest/gtest.h>

#include "calibration/box_para.h"
#include "frame/errors.h"
#include "frame/ini_cfg.h"
#include "frame/log_file.h"
#include "platform/files.h"
#include "platform/module.h"
#include "support/faults.h"
#include "support/staged_library.h"
#include "support/temp_dir.h"

namespace {

class BoxParaTest : public ::testing::Test {
 protected:
  void SetUp() override {
    qztest::SetModuleDir(dir.Path());
    plat::CreateFolders(dir.File("ini"));
    plat::SetEnvVar("QZMARK_MSGBOX_LOG", dir.File("boxes.txt"));
    SetBoxParaDefaults(g_BoxPara);
  }
  void TearDown() override {
    plat::SetEnvVar("QZMARK_MSGBOX_LOG", "");
    qztest::SetModuleDir("");
  }
  void WriteBlock(const BoxParaBlock& b) {
    ASSERT_TRUE(plat::WriteWholeFile(dir.File("ini/CaliPara.cl"), std::string(b.begin(), b.end())));
  }
  std::vector<std::string> Boxes() { return qztest::ReadLines(dir.File("boxes.txt")); }

  qztest::TempDir dir;
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

TEST_F(BoxParaTest, FileReplacesTheDefaultsWhenItsVersionIsValid) {
  BoxParaBlock b{};
  SetBoxParaDefaults(b);
  BoxSetF64(b, 64, 1.5);
  WriteBlock(b);
  CCaliLink::ReadPara(false, false);
  EXPECT_EQ(BoxGetF64(g_BoxPara, 64), 1.5);
  EXPECT_TRUE(Boxes().empty());
}

TEST_F(BoxParaTest, MissingFileAtLoadKeepsTheDefaultsSilently) {
  CCaliLink::ReadPara(false, false);
  BoxParaBlock d{};
  SetBoxParaDefaults(d);
  EXPECT_EQ(g_BoxPara, d);
  EXPECT_TRUE(Boxes().empty());
  CCaliLink::ReadPara(false, true);  // later reads report it
  EXPECT_EQ(Boxes().size(), 1u);
}

TEST_F(BoxParaTest, VersionCheckRefusesWithoutCopying) {
  struct Case {
    uint32_t a, b;
    int source;
    bool ok;
    const char* text;
  } cases[] = {
      {1, 3, 0, true, nullptr},
      {0, 1, 0, false, "上位机软件box参数版本较低，Box参数无效"},
      {0, 1, 1, false, "box文件版本较低，Box参数无效，请重新输入box参数保存"},
      {3, 4, 0, false, "上位机软件box参数版本较高，Box参数无效"},
      {3, 4, 1, false, "box文件版本较高，Box参数无效"},
      {0x80000000u, 1, 0, false, "上位机软件box参数版本较低，Box参数无效"},  // negative word A
  };
  for (const Case& c : cases) {
    SetBoxParaDefaults(g_BoxPara);
    BoxParaBlock b{};
    SetBoxParaDefaults(b);
    BoxSetU32(b, 0, c.a);
    BoxSetU32(b, 4, c.b);
    BoxSetF64(b, 72, 9.0);
    EXPECT_EQ(CheckBoxParaVer(b, c.source, false), c.ok);
    EXPECT_EQ(BoxGetF64(g_BoxPara, 72), c.ok ? 9.0 : 0.0);
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
