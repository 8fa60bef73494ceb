// The laser reader: the LASER_TYPE_pre write-back, the light-path flags, the sections that depend
// on the laser kind and the wave-number selection.
#include "test_system_para_fixture.h"

namespace qztest {
namespace {

TEST_F(SystemParaTest, LaserTypeChangeIsWrittenBackAndLoggedOnce) {
  WriteCfg("[LASER]\nLASER_TYPE=1\nLASER_TYPE_pre=2\n");
  g_SystemPara.InitParaLaser();
  EXPECT_EQ(g_SystemPara.LASER_TYPE_pre, 2);  // the field keeps what was read
  EXPECT_EQ(ReadMainInt("LASER", "LASER_TYPE_pre", -9), 1);
  const std::string afterFirst = ReadCfg();

  g_SystemPara.InitParaLaser();  // nothing changed: nothing written, nothing logged
  EXPECT_EQ(g_SystemPara.LASER_TYPE_pre, 1);
  EXPECT_EQ(ReadCfg(), afterFirst);
  const auto log = ErrorLines();
  ASSERT_EQ(log.size(), 1u);
  EXPECT_EQ(log[0].rfind("[INFO]", 0), 0u) << log[0];  // at level 1
  EXPECT_NE(log[0].find("SystemPara::InitParaLaser:LASER_TYPE Change to 1"), std::string::npos) << log[0];
}

TEST_F(SystemParaTest, LightPathFlagsFromOssType) {
  WriteCfg("[LASER]\nIoInFromOss=6\n");
  struct Case { int32_t t; uint8_t type2, type1, type1Or2, type3, energy; int32_t slaves, ioIn; } cases[] = {
      {0, 0, 0, 0, 0, 0, 9, 0}, {1, 0, 1, 1, 0, 0, 9, 6}, {2, 1, 0, 1, 0, 0, 9, 6},
      {3, 0, 0, 0, 1, 0, 9, 0}, {4, 0, 0, 0, 0, 1, 1, 0}, {5, 0, 0, 0, 0, 1, 2, 0},
      {6, 0, 0, 0, 0, 1, 3, 0}, {7, 0, 0, 0, 0, 0, 9, 0}, {-1, 0, 0, 0, 0, 0, 9, 0},
  };
  for (const Case& c : cases) {
    g_SystemPara = SystemPara{};
    g_SystemPara.nEnergySplitSlaves = 9;  // kept unless an energy-split type is set
    g_SystemPara.IoInFromOss = 9;
    g_SystemPara.bOssEnergySplit = 1;
    g_SystemPara.SetLaserIoFlags(c.t);
    const SystemPara& p = g_SystemPara;
    EXPECT_EQ(p.bOssType2, c.type2) << c.t;
    EXPECT_EQ(p.bOssType1, c.type1) << c.t;
    EXPECT_EQ(p.bOssType1Or2, c.type1Or2) << c.t;
    EXPECT_EQ(p.bOssType3, c.type3) << c.t;
    EXPECT_EQ(p.bOssEnergySplit, c.energy) << c.t;
    EXPECT_EQ(p.nEnergySplitSlaves, c.slaves) << c.t;
    EXPECT_EQ(p.IoInFromOss, c.ioIn) << c.t;
  }
}

TEST_F(SystemParaTest, SectionsThatDependOnTheLaserKind) {
  const std::string sections =
      "[Main]\nMarkEndResetDaToZero=11\n[FIBER]\nMarkEndResetDaToZero=12\nLASER_OFF_ON_INTEVAL=102\n"
      "[YAG]\nLASER_OFF_ON_INTEVAL=100\n[YLR]\nLASER_OFF_ON_INTEVAL=101\n[SPI]\nLASER_OFF_ON_INTEVAL=103\n"
      "[EP]\nLASER_OFF_ON_INTEVAL=104\n[LASER]\nLASER_OFF_ON_INTEVAL=105\nMarkEndResetDaToZero=13\n";
  struct Case { int32_t type, reset, offOn; } cases[] = {
      {0, 11, 100}, {1, 11, 101}, {2, 12, 102}, {3, 11, 103}, {4, 11, 104}, {5, 11, 105}, {6, 11, 102}, {7, 11, 101},
      // Kinds this library does not know: "Main" and the default interval, read from nowhere.
      {8, 11, 3000}, {9, 11, 3000}, {-1, 11, 3000},
  };
  for (const Case& c : cases) {
    WriteCfg(sections + "LASER_TYPE=" + std::to_string(c.type) + "\nLASER_TYPE_pre=" +
             std::to_string(c.type) + "\n");
    g_SystemPara.InitParaLaser();
    EXPECT_EQ(g_SystemPara.MarkEndResetDaToZero, c.reset) << c.type;
    EXPECT_EQ(g_SystemPara.LASER_OFF_ON_INTEVAL, c.offOn) << c.type;
  }
}

TEST_F(SystemParaTest, WaveNumberSelectionByLaserKind) {
  constexpr int32_t kKeptMask = 77, kKeptBit0 = 88;
  struct Case {
    const char* laser;  // keys of [LASER] besides LASER_TYPE_pre
    int32_t mode, mask, bit0, lock, yls, lasers;
  } cases[] = {
      {"LASER_TYPE=0\nnWaveNoLock=2\n", 1, 0x1F, 23, 2, 0, 1},
      {"LASER_TYPE=0\nnWaveNoLock=2\nbYLS=4\n", 1, 0xF, 24, 2, 4, 1},
      {"LASER_TYPE=1\nnWaveNoLock=2\nbYLS=3\n", 1, 7, 25, -1, 3, 1}, {"LASER_TYPE=7\nbYLS=5\n", 1, 1, 25, -1, 5, 2},
      {"LASER_TYPE=1\nbYLS=2\n", -1, kKeptMask, kKeptBit0, -1, 2, 1},
      {"LASER_TYPE=2\nbYLS=4\n", 2, 0xFFFF, kKeptBit0, -1, 0, 1}, {"LASER_TYPE=3\n", 1, 0x3F, 23, -1, 0, 1},
      {"LASER_TYPE=3\n[SPI]\nbO29WaveNoSPI=1\n", 1, 0x7F, 23, -1, 0, 1},
      {"LASER_TYPE=4\nbYLS=4\n", -1, kKeptMask, kKeptBit0, -1, 0, 1},
      {"LASER_TYPE=5\n", 3, kKeptMask, kKeptBit0, -1, 0, 2}, {"LASER_TYPE=6\n", -1, kKeptMask, kKeptBit0, -1, 0, 2},
      {"LASER_TYPE=4\nnWaveNo0Cus=12\n", -1, kKeptMask, 12, -1, 0, 1},
      {"LASER_TYPE=0\nbYLS=3\nnWaveNo0Cus=12\n", 1, 7, 12, -1, 3, 1},
  };
  for (const Case& c : cases) {
    WriteCfg(std::string("[LASER]\nLASER_TYPE_pre=-5\n") + c.laser);
    g_SystemPara = SystemPara{};
    g_SystemPara.nWaveNoMask = kKeptMask;
    g_SystemPara.nWaveNoBit0IO = kKeptBit0;
    g_SystemPara.nWaveNoLock = 55;
    g_SystemPara.bYLS = 55;
    g_SystemPara.InitParaLaser();
    const SystemPara& p = g_SystemPara;
    EXPECT_EQ(p.nWaveNoMode, c.mode) << c.laser;
    EXPECT_EQ(p.nWaveNoMask, c.mask) << c.laser;
    EXPECT_EQ(p.nWaveNoBit0IO, c.bit0) << c.laser;
    EXPECT_EQ(p.nWaveNoLock, c.lock) << c.laser;
    EXPECT_EQ(p.bYLS, c.yls) << c.laser;
    EXPECT_EQ(p.nLaserCount, c.lasers) << c.laser;
    EXPECT_EQ(p.nPowerChannelCount, c.lasers) << c.laser;
  }
}

}  // namespace
}  // namespace qztest
