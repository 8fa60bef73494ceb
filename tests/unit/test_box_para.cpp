// The box calibration block: its defaults byte by byte, the file that replaces them, and the
// version check that refuses a block without copying it.
#include <gtest/gtest.h>

#include <utility>

#include "calibration/box_para.h"
#include "platform/files.h"
#include "support/expect_code.h"
#include "support/lib_folder.h"

namespace {

class BoxParaTest : public qztest::LibFolderTest {
 protected:
  void SetUp() override {
    LibFolderTest::SetUp();
    SetBoxParaDefaults(g_BoxPara);
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
  // Everything else is zero.
  for (auto [from, to] : {std::pair<size_t, size_t>{8, 40}, {56, 80}, {120, 168}, {268, kBoxParaSize}})
    for (size_t i = from; i < to; ++i) ASSERT_EQ(b[i], 0) << i;
  // Little-endian on the wire: 25000 = 0x61A8.
  EXPECT_EQ(b[168], 0xA8);
  EXPECT_EQ(b[169], 0x61);
}

// A missing file keeps the defaults, silently at load and with a box later; a valid file replaces them.
TEST_F(BoxParaTest, FileReplacesTheDefaultsAndAMissingOneKeepsThem) {
  BoxParaBlock b{};
  SetBoxParaDefaults(b);
  CCaliLink::ReadPara(false, false);
  EXPECT_EQ(g_BoxPara, b);
  EXPECT_TRUE(Boxes().empty());
  CCaliLink::ReadPara(false, true);
  EXPECT_EQ(Boxes().size(), 1u);
  BoxSetF64(b, 64, 1.5);
  WriteBlock(b);
  CCaliLink::ReadPara(false, true);
  EXPECT_EQ(BoxGetF64(g_BoxPara, 64), 1.5);
  EXPECT_EQ(Boxes().size(), 1u);
}

TEST_F(BoxParaTest, VersionCheckRefusesWithoutCopying) {
  struct Case { uint32_t a, b; int source; bool ok; const char* text; } cases[] = {
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
      ClearLogs();
      qztest::ExpectCode(2, 0, [&] { CheckBoxParaVer(b, c.source, true); });
      EXPECT_EQ(Boxes(), std::vector<std::string>{std::string("topmost ok: ") + c.text});
    }
  }
}

}  // namespace
