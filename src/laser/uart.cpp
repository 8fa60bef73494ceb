#include "laser/uart.h"

#include <cstring>

#include "cardlink/card_wire.h"
#include "cardlink/portlane.h"
#include "frame/errors.h"
#include "frame/system_para.h"
#include "frame/wait_desc.h"
#include "markbase/io_words.h"
#include "markbase/mark_floor.h"
#include "markbase/stream_words.h"
#include "platform/clock.h"
#include "platform/debug_out.h"

plat::Lock UartLaserLock;

namespace {

constexpr uint32_t kUartStrobe = 0x100;
// The named waits of the handshake form and their time-out (ms): 1000 s, so that the wait word's
// µs (cut to 24 bits) reads 0x9ACA00.
constexpr const char* kWaitSendEnd = "等待串口发送结束";
constexpr const char* kWaitSendStart = "等待串口发送开始";
constexpr uint32_t kListWaitTimeoutMs = 1000000;

bool HandshakeForm() { return g_SystemPara.bNewBoxCali != 0; }

// r1 of command 115: the transmitter is busy.
uint32_t TxBusy() {
  CmdReply reply;
  CPortlane::SendCmd(CMD_UART_TX_BUSY, 0, 0, reply);
  return reply.r1();
}

void Send(uint32_t p2) {
  CmdReply reply;
  CPortlane::SendCmd(CMD_UART_SEND, 0, p2, reply);
}

// Polls the transmitter until it is busy (wantBusy) or idle; false after the last attempt.
bool PollTx(bool wantBusy) {
  for (int attempt = 1;; ++attempt) {
    if ((TxBusy() != 0) == wantBusy) return true;
    if (attempt >= kUartPollAttempts) return false;
    plat::Sleep(kUartPollSleepMs);
  }
}

[[noreturn]] void TimeOut() { throw MyException(RV_TASK_OVER_TIME, 1); }

// The two transmitter waits are base entries of the named-wait table: their values never change,
// so they are looked up once.
struct UartWaits {
  WaitDesc sendEnd{};
  WaitDesc sendStart{};
  bool found = false;
};

const UartWaits& Waits() {
  static const UartWaits w = [] {
    UartWaits r;
    const WaitDescMap base = BaseWaitDescs();
    const auto end = base.find(kWaitSendEnd);
    const auto start = base.find(kWaitSendStart);
    if (end != base.end() && start != base.end()) {
      r.sendEnd = end->second;
      r.sendStart = start->second;
      r.found = true;
    }
    return r;
  }();
  return w;
}

void PushWord(uint32_t word) { AppendStreamWord(1, 0, word); }

void ListWait(const WaitDesc& d) REQUIRES(g_MarkCall) {
  EmitWriteRegSeq(d.mask, d.value, kWaitWithTimeout, kListWaitTimeoutMs, d.kind);
}

}  // namespace

void UartSendByte(uint8_t b) {
  plat::LockGuard uart(UartLaserLock);
  if (!HandshakeForm()) {
    if (!PollTx(false)) TimeOut();
    Send(b);
    return;
  }
  Send(b);
  if (!PollTx(false)) TimeOut();
  Send(b | kUartStrobe);
  if (!PollTx(true)) {
    // The card never took the strobed byte: leave the strobe low before giving up.
    Send(b);
    TimeOut();
  }
  Send(b);
  if (!PollTx(false)) TimeOut();
}

void ListUartSendByte(uint8_t b) {
  if (!HandshakeForm()) {
    PushWord(SW_UART_BYTE | b);
    AppendStreamWord(1, 1, SW_WAIT_TIMEOUT_1S);
    PushWord(SW_UART_WAIT);
    return;
  }
  const UartWaits& w = Waits();
  PushWord(SW_UART_BYTE | b);
  if (w.found) ListWait(w.sendEnd);
  PushWord(SW_UART_BYTE_STROBED | b);
  if (w.found) ListWait(w.sendStart);
  PushWord(SW_UART_BYTE | b);
  if (w.found) ListWait(w.sendEnd);
}

namespace {

CmdReply Recv(uint32_t p2) {
  CmdReply reply;
  CPortlane::SendCmd(CMD_UART_RECV, 0, p2, reply);
  return reply;
}

// Polls command 116 (0, p2) until r1 is nonzero (wantSet) or zero; the last reply, or nothing.
bool PollRx(uint32_t p2, bool wantSet, CmdReply& last) {
  for (int attempt = 1;; ++attempt) {
    last = Recv(p2);
    if ((last.r1() != 0) == wantSet) return true;
    if (attempt >= kUartPollAttempts) return false;
    plat::Sleep(kUartPollSleepMs);
  }
}

bool EndsWith(const std::string& s, const std::string& t) {
  return s.size() >= t.size() && s.compare(s.size() - t.size(), t.size(), t) == 0;
}

// Leading decimal digits of `s` from `pos`, saturating at the i32 limit; 0 without digits.
int32_t LeadingDecimal(const std::string& s, size_t pos) {
  int64_t v = 0;
  for (; pos < s.size() && s[pos] >= '0' && s[pos] <= '9'; ++pos) {
    v = v * 10 + (s[pos] - '0');
    if (v > INT32_MAX) return INT32_MAX;
  }
  return static_cast<int32_t>(v);
}

// Drain, request, reply: the whole text query.
bool Query(const char* request, std::string& line) {
  UartDrain();
  UartSendBytes(reinterpret_cast<const uint8_t*>(request), static_cast<int32_t>(std::strlen(request)));
  return UartRecvLine(line, "\r\n");
}

constexpr int32_t kLaserTypeFiber = 2;
constexpr int32_t kLaserTypeSpi = 3;

}  // namespace

const FiberLaserState FiberLaserStateTable[14] = {
    {0, true, "Temperature alarm 温度报警"},
    {1, true, "Back reflection alarm 高反报警"},
    {3, true, "System alarm 系统报警"},
    {4, true, "Fiber alarm 光纤报警"},
    {7, true, "Optical link alarm 通讯光纤报警"},
    {8, true, "Critical alarm 严重错误报警"},
    {13, true, "Interface controller 24V alarm 24V电压报警"},
    {2, false, "Laser is waiting for emission 激光器在等待出光"},
    {5, false, "Safety interlock open 安全互锁打开"},
    {6, false, "Laser is not ready for emission 激光器尚不可出光"},
    {9, false, "Hot stop 急停"},
    {10, false, "Main power supply is OFF 主电源关闭"},
    {11, false, "Emission ON 激光器使能开"},
    {12, false, "Safety circuit blocked 安全电路受阻"},
};

bool FiberLaserCodeIsAlarm(uint32_t code) {
  for (const FiberLaserState& s : FiberLaserStateTable)
    if (s.code == code) return s.alarm;
  return false;
}

void FiberLaserIsAlarm(int32_t* alarm) {
  CmdReply reply;
  CPortlane::SendCmd(CMD_INPUT, 0, 0, reply);
  if (FiberLaserCodeIsAlarm((reply.r0() >> 22) & 15u)) *alarm = 1;
}

void UartRecvByte(uint8_t& byte, uint32_t& valid) {
  if (!HandshakeForm()) {
    const CmdReply r = Recv(0);
    byte = static_cast<uint8_t>(r.r0() & 0xFFu);
    valid = r.r1() & 1u;
    return;
  }
  CmdReply r;
  if (!PollRx(0, false, r)) TimeOut();
  if (!PollRx(1, true, r)) {
    Recv(0);
    TimeOut();
  }
  byte = static_cast<uint8_t>(r.r0() & 0xFFu);
  valid = r.r1() & 1u;
  CmdReply idle;
  if (!PollRx(0, false, idle)) TimeOut();
}

void UartSendBytes(const uint8_t* bytes, int32_t count) {
  for (int32_t i = 0; i < count; ++i) UartSendByte(bytes[i]);
}

bool UartRecvLine(std::string& line, const std::string& terminator) {
  const double start = plat::PerfMs();
  for (;;) {
    if (plat::PerfMs() - start >= kUartLineMs) {
      plat::DebugOutput("zbr:Over Time!");
      return false;
    }
    plat::Sleep(kUartPollSleepMs);
    uint8_t b = 0;
    uint32_t valid = 0;
    UartRecvByte(b, valid);
    if (valid) line.push_back(static_cast<char>(b));
    if (line.size() > terminator.size() && EndsWith(line, terminator)) {
      plat::DebugOutput("zbr:Recv one :" + line);
      line.resize(line.size() - terminator.size());
      return true;
    }
  }
}

void UartDrain() {
  const double start = plat::PerfMs();
  for (uint32_t n = 0; n < kUartDrainBytes && plat::PerfMs() - start < kUartLineMs; ++n) {
    uint8_t b = 0;
    uint32_t valid = 0;
    UartRecvByte(b, valid);
    if (!valid) return;
  }
}

uint32_t GetSpiBackCurrent(int32_t& current) {
  plat::LockGuard uart(UartLaserLock);
  std::string line;
  if (!Query("QI\r\n", line)) return RV_OK;
  const size_t comma = line.find(',');
  if (comma == std::string::npos) {
    plat::DebugOutput("zbr:no ,");
    return RV_ERR_UART;
  }
  current = LeadingDecimal(line, comma + 1);
  plat::DebugOutput("zbr:get current msg");
  return RV_OK;
}

void SystemIsAlarm(int32_t& alarm) {
  const int32_t type = g_SystemPara.LASER_TYPE;
  if (type == kLaserTypeFiber) {
    FiberLaserIsAlarm(&alarm);
    return;
  }
  if (type != kLaserTypeSpi) return;
  plat::LockGuard uart(UartLaserLock);
  alarm = 2;
  std::string line;
  if (!Query("QS\r\n", line) || line.empty()) return;
  for (char c : line)
    if (c < '0' || c > '9') return;
  alarm = (LeadingDecimal(line, 0) & 0x8000) ? 1 : 0;
  plat::DebugOutput("zbr:get alarm msg");
}
