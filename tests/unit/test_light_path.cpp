// The light-path handshakes as exact words and times, for every light-path type, kind and option;
// the switch flags cleared by the parameter reader; the waits as they stood at their look-up.
#include <vector>

#include "frame/wait_desc.h"
#include "laser/light_path.h"
#include "test_laser_fixture.h"

namespace qztest {
namespace {

// Outputs: 30 requests the path, 3 triggers the slaves (master), 5 reports ready (slave).
constexpr uint32_t kApply1 = 0x22100100, kApply0 = 0x22100000, kHost1 = 0x20008008, kHost0 = 0x20008000,
                   kDev1 = 0x20020020, kDev0 = 0x20020000;
// The named waits for these settings as {source, mask, value}: switch card idle and grant, laser idle
// and answer (input 23), two slaves ready (inputs 12, 13), trigger (11), both released.
constexpr uint32_t kWaits[8][3] = {{5, 0x10F, 0},      {5, 0x3F0F, 0x300},   {1, 0x800000, 0x800000},
                                   {1, 0x800000, 0},   {1, 0x3000, 0},       {1, 0x800, 0},
                                   {1, 0x3000, 0x3000}, {1, 0x800, 0x800}};
enum : uint32_t { kIdle, kGrant, kLaserIdle, kAck, kReady, kTrig, kReadyFree, kTrigFree };

// A step: 'o' output word (1, 1 µs), 'r' released output (1000, 1000 µs), 'w' named wait, 'O' the
// switch card's wait word (100, 1 µs) and a named wait.
struct Step { char kind; uint32_t arg; };

Words Expand(const std::vector<Step>& steps, uint32_t ossWord) {
  Words out;
  uint64_t t = 0;
  for (const Step& s : steps) {
    if (s.kind == 'o' || s.kind == 'r') {
      const uint64_t d = s.kind == 'o' ? 1 : 1000;
      out.insert(out.end(), {{t + d, s.arg}, {t + 2 * d, SW_NOP}});
      t += 2 * d;
      continue;
    }
    if (s.kind == 'O') {
      out.insert(out.end(), {{t + 100, ossWord}, {t + 101, SW_NOP}});
      t += 101;
    }
    const uint32_t* w = kWaits[s.arg];
    AddWait(out, t, w[1], w[2], std::nullopt, 0x58000100 | w[0], 0x51600020 | (w[0] * 2) << 15);
    t += 3;
  }
  return out;
}

class LightPathTest : public LaserTest {
 protected:
  static void Configure(int32_t type, int32_t ioInFromOss) {
    SystemPara& p = g_SystemPara;
    p.nOssNeedApplyIO = 30;
    p.nIO_OSS_Energy_Host_Trig_O = 3;
    p.nIO_OSS_Energy_Dev_Ready_O = 5;
    p.nIO_OSS_Energy_Host_Ready_I = 12;
    p.nIO_OSS_Energy_Trig_I = 11;
    p.bOssCusApplyAckIO = 1;
    p.nOssNeedAckIO = 23;
    p.SetLaserIoFlags(type);
    p.IoInFromOss = ioInFromOss;
    p.InitParaAckPattern();
    p.InitParaWaits();
    LoadLightPathConfig();
  }
};

TEST_F(LightPathTest, HandshakesByTypeAndKind) {
  struct Case {
    const char* name;
    int32_t type, ioInFromOss, ignoreIdle, redMode, laserType;
    uint32_t mode;  // 0 fires the laser, 1 does not
    int32_t kind;   // positive: request kind (apply, wait); negative: release of -kind
    int apply, wait;
    std::vector<Step> steps;
  } cases[] = {
      {"none: request", 0, 1, 0, 0, 0, 0, 2, 1, 1, {}},
      {"switch 1: request", 1, 1, 0, 0, 0, 0, 1, 1, 1, {{'O', kIdle}, {'o', kApply1}, {'O', kGrant}}},
      {"switch 1: wait only, laser type 7", 1, 1, 0, 0, 7, 0, 1, 0, 1, {{'O', kGrant}}},
      {"switch 1: apply only, laser type 5", 1, 1, 0, 0, 5, 0, 1, 1, 0, {{'O', kIdle}, {'o', kApply1}}},
      {"switch 1: release 1", 1, 1, 0, 0, 0, 0, -1, 0, 0, {{'r', kApply0}}},
      {"switch 1: release 2 still waits for the grant", 1, 1, 0, 0, 0, 0, -2, 0, 0, {{'O', kGrant}}},
      {"switch 1 on inputs", 1, 0, 0, 0, 0, 0, 1, 1, 1, {{'w', kLaserIdle}, {'o', kApply1}, {'w', kAck}}},
      {"switch 1 on inputs, idle ignored", 1, 0, 1, 0, 0, 0, 1, 1, 1, {{'o', kApply1}, {'w', kAck}}},
      {"switch 2: request 1", 2, 1, 0, 0, 0, 0, 1, 1, 1, {}},
      {"switch 2: request 2", 2, 1, 0, 0, 0, 0, 2, 1, 1, {{'O', kIdle}, {'o', kApply1}, {'O', kGrant}}},
      {"switch 2: release 2", 2, 1, 0, 0, 0, 0, -2, 0, 0, {{'O', kGrant}, {'o', kApply0}, {'O', kIdle}}},
      {"switch 2 on inputs: release 2", 2, 0, 0, 0, 0, 0, -2, 0, 0, {{'w', kAck}, {'o', kApply0}, {'w', kLaserIdle}}},
      {"slave: request 2", 3, 0, 0, 0, 0, 0, 2, 0, 1, {{'o', kDev1}, {'w', kTrig}, {'o', kDev0}}},
      {"slave: release 2", 3, 0, 0, 0, 0, 0, -2, 0, 0, {{'w', kTrigFree}}},
      {"master of 2: request 2", 5, 0, 0, 0, 0, 0, 2, 0, 1, {{'w', kReady}, {'o', kHost1}, {'w', kTrig}}},
      {"master of 2: release 2", 5, 0, 0, 0, 0, 0, -2, 0, 0, {{'o', kHost0}, {'w', kReadyFree}, {'w', kTrigFree}}},
      {"kind 3", 1, 1, 0, 0, 0, 0, 3, 1, 1, {}}, {"red mode, no laser: request", 1, 1, 0, 1, 0, 1, 1, 1, 1, {}},
      {"red mode, laser", 1, 1, 0, 1, 0, 0, -1, 0, 0, {{'r', kApply0}}},
      {"no laser, red mode off", 2, 1, 0, 0, 0, 1, -1, 0, 0, {{'r', kApply0}}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Job(c.mode);
    g_SystemPara.bIgnoreOssIdle = c.ignoreIdle;
    g_SystemPara.nRedModeNoOss = c.redMode;
    g_SystemPara.LASER_TYPE = c.laserType;
    Configure(c.type, c.ioInFromOss);
    EXPECT_EQ(c.kind < 0 ? AppendLightPathRelease(-c.kind) : AppendLightPathRequest(c.kind, c.apply, c.wait), 0u);
    EXPECT_EQ(Floor().ch3, Expand(c.steps, c.laserType == 5 || c.laserType == 7 ? 0x7500000F : 0x75000007));
    EXPECT_EQ(Floor().clock, Floor().ch3.empty() ? 0u : Floor().ch3.back().time);
  }
}

TEST_F(LightPathTest, SwitchFlagsClearedByTheReaderMeanNoHandshakeAtAll) {
  // OSS_TYPE 1 while laser parameters may switch with the laser on: the reader clears the switch
  // flags but not the type-1 flag. Request and release agree: neither touches the switch card.
  Configure(1, 1);
  g_SystemPara.bOssType2 = g_SystemPara.bOssType1Or2 = 0;
  g_SystemPara.IoInFromOss = 0;
  EXPECT_EQ(EffectiveOssType(), 0);
  for (int32_t kind : {1, 2}) {
    AppendLightPathRequest(kind, 1, 1);
    AppendLightPathRelease(kind);
  }
  EXPECT_TRUE(Floor().ch3.empty());
}

TEST_F(LightPathTest, WaitsAreThoseOfTheLastLookUp) {
  Configure(1, 1);
  WaitDescMap table = BaseWaitDescs();
  AddWaitDesc(table, 7, 0xAB, 0xCD, "等待分光卡光路申请反馈");
  g_mapWaitDesc.Publish(table);
  AppendOssWaitStep(LightPathWait::kOssGrant);  // as looked up
  EXPECT_EQ(Floor().ch3, Expand({{'O', kGrant}}, 0x75000007));
  LoadLightPathConfig();
  Job(0);
  AppendOssWaitStep("等待分光卡光路申请反馈");
  ASSERT_EQ(Floor().ch3.size(), 12u);
  EXPECT_EQ(Floor().ch3[3], (TimedWord{102, 0x5500ABCD}));
  EXPECT_EQ(Floor().ch3[11], (TimedWord{104, 0x51670020}));
}

}  // namespace
}  // namespace qztest
