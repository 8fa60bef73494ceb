#include "cardlink/card_status.h"

#include <cstring>

#include "cardlink/card_cmd.h"
#include "cardlink/card_locks.h"
#include "cardlink/portlane.h"
#include "cardlink/task_table.h"
#include "frame/wait_desc.h"
#include "frame/conv.h"
#include "frame/errors.h"
#include "frame/system_para.h"

namespace {

uint32_t Bit(uint32_t w, int b) { return (w >> b) & 1u; }

struct AlarmText {
  int bit;
  const char* en;
  const char* zh;
};

// Plain alarm lines, before the galvanometer line of bit 21.
const AlarmText kAlarmsBefore21[] = {
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
    {19, "System buffer initialization not effective (Tools ->Initial Reset)\r\n", "系统缓冲区初始化未生效（工具->初始复位）\r\n"},
    {20, "Custom buffer initialization not taking effect (Tools ->Initial Reset)\r\n",
     "自定义缓冲区初始化未生效（工具->初始复位）\r\n"},
};

// Alarm lines after bit 21, up to the galvanometer range of bit 6.
const AlarmText kAlarmsAfter21[] = {
    {22,
     "The marking data is interrupted, causing the operation to stop (which can be cleared),\r\n 1. The industrial "
     "computer is slow, the CPU is occupied, and there is a virus,\r\n 2. If it is due to the low resolution of the "
     "alienation, the resolution can be increased a bit\r\n 3. Modify parameter system settings ->Control card "
     "advanced parameters ->Board triggered running cache size to minimize the possibility of interruption",
     "打标数据断流，导致运行中止（可清除）,\r\n 1、工控机慢，CPU被占用 ，有病毒 ,\r\n 2、如果是因为异化分辨率过小，导致的可以改大点分辨率\r\n "
     "3、修改参数 系统设置->控制卡高级参数->板卡触发运行缓存大小 可最大程度减少断流可能"},
    {28, "Long laser output time (can be cleared)\r\n", "激光出光时间过长（可清除）\r\n"},
    {29, "Secondary card error (can be cleared)\r\n", "副卡报错（可清除）\r\n"},
    {30, "Secondary card connection lost\r\n", "副卡连接丢失\r\n"},
    {31, "The secondary card connection is lost, causing the operation to stop (can be cleared)\r\n",
     "副卡连接丢失，导致运行中止（可清除）\r\n"},
    {4, "Buffer data stream validation error, causing the run to abort (can be cleared)\r\n",
     "缓冲区数据流校验错误，导致运行中止（可清除）\r\n"},
    {24, "Platform collision limit causing stop (can be cleared)\r\n", "平台碰限位导致停止（可清除）\r\n"},
};

const char* const kOutOfRangeEn =
    "The galvanometer is out of range (%s) (removable) \r\n Possible reasons: the strip is too fast, the filling is "
    "too dense, and the welding speed is too slow \r\n";
const char* const kOutOfRangeZh = "振镜超出范围（%s）（可清除）\r\n可能原因，料带过快，填充过密，焊接速度太小\r\n";
const char* const kSpeedLimitEn =
    "The galvanometer speed exceeds the limit, please increase the galvanometer speed limit (can be cleared) \r\n";
const char* const kSpeedLimitZh = "振镜速度超限，请增大振镜速度限制（可清除）\r\n";

void AppendGalvoRange(std::string& text) {
  if (OpenCardVersion() < 128) {
    text += Lang(kSpeedLimitZh, kSpeedLimitEn);
    return;
  }
  CmdReply reply;
  CPortlane::SendCmd(CMD_GALVO_STATUS, 0, 0, reply);
  const uint32_t r0 = reply.r0();
  struct Dir {
    int bit;
    const char* en;
    const char* zh;
  } dirs[] = {{24, "x negative direction", "x负方向"},
              {25, "y negative direction", "y负方向"},
              {26, "y positive direction", "y正方向"},
              {27, "x positive direction", "x正方向"}};
  for (const Dir& d : dirs)
    if (Bit(r0, d.bit)) text += StrFormat(Lang(kOutOfRangeZh, kOutOfRangeEn), Lang(d.zh, d.en));
  if (Bit(r0, 28)) text += Lang("振镜输出节拍错误（可清除）\r\n", "Galvanometer output beat error (can be cleared) \r\n");
  if (Bit(r0, 29)) text += Lang(kSpeedLimitZh, kSpeedLimitEn);
}

void AppendWaitReasons(std::string& text) {
  if (!g_Link.g_bConnected) return;
  CmdReply reply;
  CPortlane::SendCmd(CMD_WAIT_REASON, 0, 0, reply);
  const uint32_t r0 = reply.r0();
  struct Reason {
    uint32_t mask;
    const char* en;
    const char* zh;
  } reasons[] = {
      {0x1, "->Check the galvanometer and galvanometer wire\r\n", "  ->检查振镜、振镜线\r\n"},
      {0x2, "->The frequency setting is too low, or the duty cycle is not equal to 50%\r\n",
       "  ->频率设置过低，或占空比不等于50%\r\n"},
      {0x40, "->Abnormal flight switch\r\n", "  ->飞行开关异常\r\n"},
      {0x8, "->CCD feedback timeout\r\n", "  ->CCD反馈超时\r\n"},
      {0x10, "->Platform anomaly\r\n", "  ->平台异常\r\n"},
      {0x100, "->Platform anomaly\r\n", "  ->平台异常\r\n"},
      {0x80, "->Serial port\r\n", "  ->串口\r\n"},
  };
  for (const Reason& r : reasons)
    if (r0 & r.mask) text += Lang(r.zh, r.en);
  if (r0 & 0x20) {
    CmdReply detail;
    CPortlane::SendCmd(CMD_WAIT_DETAIL, 0, 0, detail);
    FormatWaitInfo(text, true, true, detail.r0() & 15u, detail.r1());
  }
}

}  // namespace

bool CardStatus::AnyFlagSet() const {
  for (int b : {4, 5, 6, 10, 11, 12, 13, 14, 15, 16, 17, 18, 19, 20, 21, 22, 24, 28, 29, 30, 31})
    if (bAlarm[b]) return true;
  return laserAlarm != 0;
}

CardStatus DecodeCardStatus(uint32_t r0, uint32_t r1, bool cmdWithNum) {
  CardStatus s;
  s.connected = 1;
  s.runState = r0 & 7u;
  s.running = static_cast<uint8_t>(Bit(r0, 0));
  s.bAlarm[10] = static_cast<uint8_t>(Bit(r0, 10));
  s.bAlarm[11] = static_cast<uint8_t>(Bit(r0, 11));
  if (!cmdWithNum) return s;
  s.cardTaskId = (r1 >> 21) & 0x1Fu;
  s.subState = (r1 >> 16) & 0x1Fu;
  s.offline = static_cast<uint8_t>(Bit(r1, 26));
  for (int b : {4, 5, 6, 12, 13, 14, 15, 16, 17, 18, 19, 20, 21, 22, 24, 25, 26, 27, 28, 29, 30, 31})
    s.bAlarm[b] = static_cast<uint8_t>(Bit(r0, b));
  s.laserAlarm = Bit(r0, 7) | ((r1 >> 27) & 0x1Fu) << 1;
  return s;
}

bool ReadCardStatusWords(uint32_t& r0, uint32_t& r1, bool& cmdWithNum) {
  plat::LockGuard g(g_csCardCmd);
  if (!g_Link.g_bConnected) return false;
  CmdReply reply;
  CPortlane::SendCmdLocked(CMD_STATUS, 0, 0, reply);
  r0 = reply.r0();
  r1 = reply.r1();
  cmdWithNum = g_SystemPara.bCmdWithNum == 1;
  return true;
}

CardStatus ReadCardStatus() {
  uint32_t r0 = 0, r1 = 0;
  bool cmdWithNum = false;
  if (!ReadCardStatusWords(r0, r1, cmdWithNum)) return CardStatus();
  return DecodeCardStatus(r0, r1, cmdWithNum);
}

void FormatGalvoAlarm(uint32_t w0, uint32_t w1, std::string& text) {
  if (w1 & 0x22) {
    text += Lang("》》》振镜超时未反馈\r\n", ">>>>>>Scan not feedBack OverTime\r\n");
    return;
  }
  if (w1 & 0x0C) text += Lang("》》》振镜位置跟随超出范围\r\n", ">>>>>>Scan Position Follow Out Of Range\r\n");
  if ((w1 & 0x11) == 0x11) return;
  text += Lang("》》》振镜主动报警\r\n", ">>>>>>Scan Alarm initiative\r\n");
  const int32_t type = g_SystemPara.nScanType;
  if (type == 0) {
    struct Line {
      uint32_t mask;
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
    for (const Line& l : lines)
      if (!(w1 & l.mask)) text += Lang(l.zh, l.en);
  } else if (type == 1 || type == 2 || type == 15) {
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
    const uint32_t packed = (w0 << 26) | (w1 >> 6);
    for (int i = 0; i < 2; ++i) {
      const uint32_t v = (packed >> (16 * i)) & 0xFFFFu;
      text += StrFormat("》》》%s=%x\r\n", i == 0 ? "X" : "Y", v);
      for (const Pair& p : pairs)
        if (!(v & p.mask)) text += Lang(p.zh, p.en);
    }
  }
}

void FormatWaitInfo(std::string& text, bool answered, bool enable, uint32_t kind, uint32_t value) {
  CmdReply reply;
  const bool sent = CPortlane::SendCmd(CMD_WAIT_STATE, 0, 0, reply);
  const uint32_t r0 = reply.r0();
  const uint32_t r1 = reply.r1();
  const uint32_t a = r0 & r1;
  const uint32_t b = r0 & value;
  if (!answered || !sent || !enable) return;
  auto table = WaitDescSnapshot();
  for (const auto& [name, desc] : *table) {
    if (desc.kind == kind && desc.mask == r0 && desc.value == r1) {
      text += "  " + name + "\r\n";
      return;
    }
  }
  switch (kind) {
    case 1:
      text += StrFormat(Lang("  等待IO输入   :等待值=%x，IO输入值=%x\r\n", "  Wait IO Input:Wait Value=%x，IO In=%x\r\n"), a, b);
      break;
    case 2:
      text += StrFormat(Lang("  当前电机位置=%x\r\n", "  current Motor Pos=%x\r\n"), b);
      break;
    case 3:
      text += StrFormat(Lang("  等待编码位置 :当前编码值=%x\r\n", "  Wait Encode Pos :current Encode=%x\r\n"), b);
      break;
    default:
      break;
  }
}

void FormatCardAlarm(const CardStatus& s, std::string& text) {
  for (const AlarmText& a : kAlarmsBefore21)
    if (s.bAlarm[a.bit]) text += Lang(a.zh, a.en);
  if (s.bAlarm[21]) {
    text += Lang("闭环振镜异常，导致运行中止（可清除）\r\n",
                 "Abnormal closed-loop galvanometer causing operation to stop (can be cleared)\r\n");
    if (OpenCardVersion() >= 77) {
      CmdReply reply;
      CPortlane::SendCmd(CMD_GALVO_STATUS, 1, 0, reply);
      FormatGalvoAlarm(reply.r0(), reply.r1(), text);
    }
  }
  for (const AlarmText& a : kAlarmsAfter21)
    if (s.bAlarm[a.bit]) text += Lang(a.zh, a.en);
  if (s.bAlarm[6]) AppendGalvoRange(text);
  if (s.laserAlarm == kLaserAlarm) text += Lang("激光器报警（可清除）\r\n", "Laser alarm (can be cleared)\r\n");
  if (s.bAlarm[5]) {
    text += Lang("等待超时，导致运行中止（可清除）\r\n",
                 "Waiting for timeout, causing the operation to terminate (can be cleared)\r\n");
    AppendWaitReasons(text);
  }
}

uint32_t OpenCardVersion() {
  plat::LockGuard g(g_csCardCmd);
  return g_SystemPara.nCardVersion;
}

void BuildWaitInfo(std::string& text, void (*appendTimingReport)(std::string&)) {
  const CardStatus s = ReadCardStatus();
  if (!s.connected) return;
  if (s.offline) text += Lang("脱机模式\r\n", "OFFLINE MODE\r\n");
  if (appendTimingReport) appendTimingReport(text);
  if (const char* task = TaskName(s.cardTaskId)) text += std::string(task) + "\r\n";
  FormatCardAlarm(s, text);
  if (s.bAlarm[25]) {
    text += Lang("闭环振镜异常,无法运行\r\n", "Closed loop galvanometer abnormal, unable to operate\r\n");
    if (OpenCardVersion() >= 77) {
      CmdReply reply;
      CPortlane::SendCmd(CMD_GALVO_STATUS, 1, 1, reply);
      FormatGalvoAlarm(reply.r0(), reply.r1(), text);
    }
  }
  if (s.bAlarm[26]) text += Lang("In19触发停止,无法运行\r\n", "In19 triggered stop, unable to run\r\n");
  if (s.bAlarm[27])
    text += Lang("分光系统通信异常,无法运行\r\n",
                 "The communication of the spectroscopic system is abnormal and cannot operate\r\n");
  CmdReply detail;
  const bool answered = CPortlane::SendCmd(CMD_WAIT_DETAIL, 0, 0, detail);
  FormatWaitInfo(text, answered, Bit(detail.r0(), 4) != 0, detail.r0() & 15u, detail.r1());
}
