// Every alarm text of the status word, one bit at a time, in both languages.
#include <gtest/gtest.h>

#include "cardlink/card_status.h"
#include "frame/errors.h"
#include "frame/conv.h"
#include "frame/system_para.h"

namespace {

struct AlarmCase {
  int bit;
  const char* en;
  const char* zh;
};

const AlarmCase kAlarms[] = {
    {10, "Spectral system alarm, output distance too small (can be cleared)\r\n", "分光系统报警，出光间距过小（可清除）\r\n"},
    {11, "Abnormal communication in the optical system, resulting in operation interruption (can be cleared)\r\n",
     "分光系统通信异常，导致运行中止（可清除）\r\n"},
    {12, "Error reading offline file, please download offline file again (can be cleared)\r\n",
     "读脱机文件出错，请重新下载脱机文件（可清除）\r\n"},
    {13, "Board receiving and issuing instructions error (can be cleared)\r\n", "板卡接收下发指令出错（可清除）\r\n"},
    {14, "Offline flash not initialized (Tools ->Initial Reset)\r\n", "脱机flash未初始化（工具->初始复位）\r\n"},
    {15, "Offline header file not effective (Tools ->Initial Reset)\r\n", "脱机头文件未生效（工具->初始复位）\r\n"},
    {16, "Laser Box correction not effective (Tools ->Initial reset)\r\n", "激光Box校正未生效（工具->初始复位）\r\n"},
    {17, "Red light box correction not effective (Tools ->Initial reset)\r\n", "红光Box校正未生效（工具->初始复位）\r\n"},
    {18, "System parameters not taking effect (Tools ->Initial Reset)\r\n", "系统参数未生效（工具->初始复位）\r\n"},
    {19, "System buffer initialization not effective (Tools ->Initial Reset)\r\n",
     "系统缓冲区初始化未生效（工具->初始复位）\r\n"},
    {20, "Custom buffer initialization not taking effect (Tools ->Initial Reset)\r\n",
     "自定义缓冲区初始化未生效（工具->初始复位）\r\n"},
    {22,
     "The marking data is interrupted, causing the operation to stop (which can be cleared),\r\n 1. The industrial "
     "computer is slow, the CPU is occupied, and there is a virus,\r\n 2. If it is due to the low resolution of the "
     "alienation, the resolution can be increased a bit\r\n 3. Modify parameter system settings ->Control card "
     "advanced parameters ->Board triggered running cache size to minimize the possibility of interruption",
     "打标数据断流，导致运行中止（可清除）,\r\n 1、工控机慢，CPU被占用 ，有病毒 ,\r\n 2、如果是因为异化分辨率过小，导致的可以改大点分辨率\r\n 3、"
     "修改参数 系统设置->控制卡高级参数->板卡触发运行缓存大小 可最大程度减少断流可能"},
    {28, "Long laser output time (can be cleared)\r\n", "激光出光时间过长（可清除）\r\n"},
    {29, "Secondary card error (can be cleared)\r\n", "副卡报错（可清除）\r\n"},
    {30, "Secondary card connection lost\r\n", "副卡连接丢失\r\n"},
    {31, "The secondary card connection is lost, causing the operation to stop (can be cleared)\r\n",
     "副卡连接丢失，导致运行中止（可清除）\r\n"},
    {4, "Buffer data stream validation error, causing the run to abort (can be cleared)\r\n",
     "缓冲区数据流校验错误，导致运行中止（可清除）\r\n"},
    {24, "Platform collision limit causing stop (can be cleared)\r\n", "平台碰限位导致停止（可清除）\r\n"},
    // Without a card the galvanometer and wait details below these lines are not asked for.
    {21, "Abnormal closed-loop galvanometer causing operation to stop (can be cleared)\r\n",
     "闭环振镜异常，导致运行中止（可清除）\r\n"},
    {6, "The galvanometer speed exceeds the limit, please increase the galvanometer speed limit (can be cleared) \r\n",
     "振镜速度超限，请增大振镜速度限制（可清除）\r\n"},
    // Bits that only the host's status text reads: no alarm line here.
    {25, "", ""},
    {26, "", ""},
    {27, "", ""},
};

TEST(AlarmTexts, EachBitInBothLanguages) {
  g_SystemPara.nCardVersion = 0;  // no galvanometer query
  for (uint8_t zh : {0, 1}) {
    g_bLangZh = zh;
    for (const AlarmCase& c : kAlarms) {
      std::string text;
      FormatCardAlarm(DecodeCardStatus(1u << c.bit, 0, true), text);
      EXPECT_EQ(text, zh ? c.zh : c.en) << "bit " << c.bit << (zh ? " zh" : " en");
    }
    std::string laser;
    FormatCardAlarm(DecodeCardStatus(1u << 7, 8u << 27, true), laser);
    EXPECT_EQ(laser, zh ? "激光器报警（可清除）\r\n" : "Laser alarm (can be cleared)\r\n");
  }
  g_bLangZh = 0;
}

TEST(AlarmTexts, GalvanometerFeedbackLinesInBothLanguages) {
  struct Line {
    uint32_t clearBit;
    const char* en;
    const char* zh;
  } lines[] = {
      {0x40, ">>>>>>Galvanometer power alarm\r\n", "》》》振镜电源报警\r\n"},
      {0x80, ">>>>>>Galvanometer motor alarm\r\n", "》》》振镜电机报警\r\n"},
      {0x100, ">>>>>>Galvanometer status alarm\r\n", "》》》振镜状态报警\r\n"},
      {0x200, ">>>>>>Galvanometer data alarm\r\n", "》》》振镜数据报警\r\n"},
      {0x400, ">>>>>>Galvanometer X axis alarm\r\n", "》》》振镜x轴报警\r\n"},
      {0x800, ">>>>>>Galvanometer Y axis alarm\r\n", "》》》振镜y轴报警\r\n"},
  };
  g_SystemPara.nScanType = 0;
  for (uint8_t zh : {0, 1}) {
    g_bLangZh = zh;
    for (const Line& l : lines) {
      std::string text;
      FormatGalvoAlarm(0, 0xFC0 & ~l.clearBit, text);  // only this alarm bit clear
      EXPECT_EQ(text, std::string(zh ? "》》》振镜主动报警\r\n" : ">>>>>>Scan Alarm initiative\r\n") + (zh ? l.zh : l.en));
    }
    std::string follow;
    FormatGalvoAlarm(0, 0x04 | 0x11, follow);
    EXPECT_EQ(follow, zh ? "》》》振镜位置跟随超出范围\r\n" : ">>>>>>Scan Position Follow Out Of Range\r\n");
    std::string timeout;
    FormatGalvoAlarm(0, 0x20, timeout);
    EXPECT_EQ(timeout, zh ? "》》》振镜超时未反馈\r\n" : ">>>>>>Scan not feedBack OverTime\r\n");
  }
  struct Pair {
    uint32_t mask;
    const char* en;
    const char* zh;
  } pairs[] = {
      {0x404, ">>>>>>Automatic calibration sensor not activated\r\n", "》》》自动校准传感器未激活\r\n"},
      {0x808, ">>>>>>Y axis position error exceeds the limit\r\n", "》》》Y轴位置误差超限\r\n"},
      {0x1010, ">>>>>>X axis position error exceeds the limit\r\n", "》》》X轴位置误差超限\r\n"},
      {0x2020, ">>>>>>Z axis position error exceeds the limit\r\n", "》》》Z轴位置误差超限\r\n"},
      {0x4040, ">>>>>>Temperature abnormality\r\n", "》》》温度异常\r\n"},
      {0x8080, ">>>>>>Axis not working\r\n", "》》》轴未工作\r\n"},
  };
  g_SystemPara.nScanType = 15;
  for (uint8_t zh : {0, 1}) {
    g_bLangZh = zh;
    for (const Pair& p : pairs) {
      // X carries every pair but this one; Y every pair.
      const uint32_t packed = 0xFFFF0000u | (0xFFFFu & ~p.mask);
      std::string text;
      FormatGalvoAlarm(packed >> 26, (packed << 6) | 0x01, text);
      const std::string head = zh ? "》》》振镜主动报警\r\n" : ">>>>>>Scan Alarm initiative\r\n";
      EXPECT_EQ(text, head + StrFormat("》》》X=%x\r\n", 0xFFFFu & ~p.mask) + (zh ? p.zh : p.en) + "》》》Y=ffff\r\n");
    }
  }
  g_SystemPara.nScanType = 0;
  g_bLangZh = 0;
}

}  // namespace
