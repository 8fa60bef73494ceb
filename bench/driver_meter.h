#pragma once
// Every transfer between the library and the driver link, counted and timed: the six transfer entry
// points of the loaded driver-link table are wrapped while a DriverMeter lives. What the wrapped
// calls take is the simulated card's share of a run (and, with its latency set, the link's); the
// rest of the run is the library's.
#include <chrono>
#include <cstdint>

#include "cardlink/portlane_api.h"

namespace qzbench {

struct DriverCounts {
  uint64_t cmdSends = 0, cmdRecvs = 0, bulkSends = 0, bulkRecvs = 0, controls = 0;
  uint64_t bulkBytesOut = 0, bulkBytesIn = 0;
  double seconds = 0;  // inside the driver link
  uint64_t Transfers() const { return cmdSends + cmdRecvs + bulkSends + bulkRecvs + controls; }
};

class DriverMeter {
 public:
  DriverMeter() {
    Entries& o = Original();
    o = {PortlaneApi.QZ_CmdSend, PortlaneApi.QZ_CmdRecv, PortlaneApi.QZ_BufSend,
         PortlaneApi.QZ_BufRecv, PortlaneApi.QZ_DeviceIoControl, PortlaneApi.QZ_SendComCmd};
    Counts() = {};
    PortlaneApi.QZ_CmdSend = &CmdSend;
    PortlaneApi.QZ_CmdRecv = &CmdRecv;
    PortlaneApi.QZ_BufSend = &BufSend;
    PortlaneApi.QZ_BufRecv = &BufRecv;
    PortlaneApi.QZ_DeviceIoControl = &DeviceIoControl;
    PortlaneApi.QZ_SendComCmd = &SendComCmd;
  }
  ~DriverMeter() {
    const Entries& o = Original();
    PortlaneApi.QZ_CmdSend = o.QZ_CmdSend;
    PortlaneApi.QZ_CmdRecv = o.QZ_CmdRecv;
    PortlaneApi.QZ_BufSend = o.QZ_BufSend;
    PortlaneApi.QZ_BufRecv = o.QZ_BufRecv;
    PortlaneApi.QZ_DeviceIoControl = o.QZ_DeviceIoControl;
    PortlaneApi.QZ_SendComCmd = o.QZ_SendComCmd;
  }
  DriverMeter(const DriverMeter&) = delete;
  DriverMeter& operator=(const DriverMeter&) = delete;
  static DriverCounts& Counts() {
    static DriverCounts c;
    return c;
  }

 private:
  struct Entries {
    PortlaneApiTable::CmdSendFn QZ_CmdSend;
    PortlaneApiTable::CmdRecvFn QZ_CmdRecv;
    PortlaneApiTable::BufSendFn QZ_BufSend;
    PortlaneApiTable::BufRecvFn QZ_BufRecv;
    PortlaneApiTable::DeviceIoControlFn QZ_DeviceIoControl;
    PortlaneApiTable::SendComCmdFn QZ_SendComCmd;
  };
  static Entries& Original() {
    static Entries e{};
    return e;
  }
  template <class F>
  static uint32_t Timed(uint64_t& count, F&& call) {
    ++count;
    const auto t0 = std::chrono::steady_clock::now();
    const uint32_t rc = call();
    Counts().seconds += std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
    return rc;
  }
  static uint32_t QZ_CALL_COMPANION CmdSend(const void* d, uint32_t n) {
    return Timed(Counts().cmdSends, [&] { return Original().QZ_CmdSend(d, n); });
  }
  static uint32_t QZ_CALL_COMPANION CmdRecv(void* b, uint32_t n) {
    return Timed(Counts().cmdRecvs, [&] { return Original().QZ_CmdRecv(b, n); });
  }
  static uint32_t QZ_CALL_COMPANION BufSend(const void* d, uint32_t n) {
    Counts().bulkBytesOut += n;
    return Timed(Counts().bulkSends, [&] { return Original().QZ_BufSend(d, n); });
  }
  static uint32_t QZ_CALL_COMPANION BufRecv(void* b, uint32_t n) {
    Counts().bulkBytesIn += n;
    return Timed(Counts().bulkRecvs, [&] { return Original().QZ_BufRecv(b, n); });
  }
  static uint32_t QZ_CALL_COMPANION DeviceIoControl(uint32_t code, void* in, uint32_t inLength, void* out,
                                                    uint32_t outLength, uint32_t* returned) {
    return Timed(Counts().controls,
                 [&] { return Original().QZ_DeviceIoControl(code, in, inLength, out, outLength, returned); });
  }
  static uint32_t QZ_CALL_COMPANION SendComCmd(uint32_t direction, uint32_t request, uint32_t value, uint32_t index,
                                               void* buffer, uint32_t length) {
    return Timed(Counts().controls,
                 [&] { return Original().QZ_SendComCmd(direction, request, value, index, buffer, length); });
  }
};

}  // namespace qzbench
