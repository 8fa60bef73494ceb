#include "laser/uart.h"

#include "cardlink/card_wire.h"
#include "cardlink/portlane.h"
#include "frame/errors.h"
#include "frame/system_para.h"
#include "frame/wait_desc.h"
#include "mark/io_words.h"
#include "mark/mark_floor.h"
#include "mark/stream_words.h"
#include "platform/clock.h"

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
