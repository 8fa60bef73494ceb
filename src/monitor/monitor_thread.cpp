#include "monitor/monitor_thread.h"

#include "cardlink/card_io.h"
#include "cardlink/card_wire.h"
#include "cardlink/portlane.h"
#include "frame/conv.h"
#include "frame/errors.h"
#include "frame/export_call.h"
#include "frame/log_file.h"
#include "frame/system_para.h"
#include "frame/worker_threads.h"
#include "monitor/monitor_record.h"
#include "monitor/record_compare.h"
#include "monitor/record_lists.h"

double g_dbDeviceUs = 0.0;
double g_dbDeviceMs = 0.0;
std::vector<uint32_t> g_vecIoWords;
std::vector<uint32_t> g_vecMonitorWords;

namespace {

constexpr int kRecordsPerPass = 100;
constexpr uint32_t kIoFlushAfterMs = 3000;
constexpr uint32_t kSleepSliceMs = 10;
constexpr uint32_t kFallbackSleepMs = 2;

plat::LocalTime g_savedTime;
uint32_t g_ioFlushTick = 0;
uint32_t g_lastOutputs = 0;
uint32_t g_lastX = 0, g_lastY = 0;
uint32_t g_lastTaskBit = 0;
bool g_negativeSleepLogged = false;

std::string MonitorName(const plat::LocalTime& t) { return StrFormat("%02d_%02d_%02d", t.month, t.day, t.hour); }
std::string IoName(const plat::LocalTime& t) {
  return StrFormat("%02d_%02d_%02d_%02d", t.month, t.day, t.hour, t.minute);
}

// Sleeps nRecordSleep ms in slices that watch the stop flag.
void CycleSleep() {
  int32_t ms = g_SystemPara.nRecordSleep;
  if (ms < 0) {
    if (!g_negativeSleepLogged) {
      g_negativeSleepLogged = true;
      g_InfoLog.Write("MonitorThreadProc", LOG_WARNING, "nRecordSleep %d is negative: the monitor sleeps %u ms", ms,
                      kFallbackSleepMs);
    }
    ms = static_cast<int32_t>(kFallbackSleepMs);
  }
  uint32_t left = static_cast<uint32_t>(ms);
  while (left > 0 && g_bStopThreads.load() == 0) {
    const uint32_t s = left < kSleepSliceMs ? left : kSleepSliceMs;
    plat::Sleep(s);
    left -= s;
  }
}

// One record of the card's debug channel; false when none came (no card, a lost card, kind 0).
bool ReadOneRecord(IoDebugRecord& r) {
  if (!g_Link.g_bConnected) return false;
  DebugRecordWord w;
  try {
    ReadDebugRecord(w);
  } catch (const MyException&) {
    return false;
  }
  r.kind = w.kind;
  r.dt = w.dt;
  r.value = w.value;
  return r.kind != 0;
}

bool ReadOutputWord(uint32_t& word) {
  if (!g_Link.g_bConnected) return false;
  try {
    word = ReadOutputs();
  } catch (const MyException&) {
    return false;
  }
  return true;
}

}  // namespace

uint32_t ReadScanPosCodes(uint32_t* x, uint32_t* y) {
  return ExportCall("GetScanPos", [&]() -> uint32_t {
    if (!g_Link.g_bConnected) return RV_CARD_NOT_CONNECTED;
    CmdReply reply;
    CPortlane::SendCmd(CMD_SCAN_POS, 2, 0, reply);
    *x = reply.r1() & 0xFFFFu;
    *y = reply.r1() >> 16;
    return RV_OK;
  });
}

void PushMonitorWord(uint32_t kind, uint32_t msOfHour, uint32_t value) {
  g_vecMonitorWords.push_back(kind);
  g_vecMonitorWords.push_back(msOfHour);
  g_vecMonitorWords.push_back(value);
}

void HandleIoDebugRecord(const IoDebugRecord& r) {
  g_vecIoWords.push_back(r.kind);
  g_vecIoWords.push_back(r.dt);
  g_vecIoWords.push_back(r.value);
  const double d = static_cast<double>(r.dt) / 48.0;
  g_dbDeviceUs += d;
  g_dbDeviceMs += d / 1000.0;
  g_recMeasured.now = g_dbDeviceUs;
  switch (r.kind) {
    case 3: {
      const uint32_t task = r.value & 1u;
      if (task != g_lastTaskBit) {
        g_lastTaskBit = task;
        if (task) {
          g_dbDeviceUs = 0.0;
          g_dbDeviceMs = 0.0;
          g_recMeasured.now = 0.0;
        } else {
          CompareMonitorRecords();
        }
      }
      OnLaserStateChange(r.value);
      break;
    }
    case 1:
      g_recMeasured.position = r.value;
      break;
    case 2:
      PushAdDaSample(r.value);
      g_recMeasured.PowerChange(g_recMeasured.now, static_cast<double>(r.value >> 16));
      break;
    default:
      break;
  }
}

void AfterIoDebugPass() {
  const uint32_t tick = plat::TickMs();
  if (g_vecIoWords.empty()) {
    g_ioFlushTick = tick;
  } else if (tick - g_ioFlushTick > kIoFlushAfterMs) {
    g_ioFlushTick = tick;
    WriteWordLog("io__", g_vecIoWords, IoName(plat::LocalNow()));
  }
}

void ReadIoDebugRecords() {
  IoDebugRecord r;
  for (int i = 0; i < kRecordsPerPass && ReadOneRecord(r); ++i) HandleIoDebugRecord(r);
  AfterIoDebugPass();
}

void MonitorThreadBegin() {
  g_ioFlushTick = 0;
  g_savedTime = plat::LocalNow();
  g_negativeSleepLogged = false;
  ResetLaserLatch();
}

void MonitorCycle() {
  const SystemPara& p = g_SystemPara;
  if (p.bRecordInThread == 1) ReadIoDebugRecords();
  if (p.bRecordCheck != 1) {
    CycleSleep();
    return;
  }
  const plat::LocalTime now = plat::LocalNow();
  bool keepSaved = false;
  if (!g_vecMonitorWords.empty()) {
    if (now.hour != g_savedTime.hour) {
      WriteWordLog("monitor", g_vecMonitorWords, MonitorName(g_savedTime));
    } else if (now.minute == g_savedTime.minute && now.second - g_savedTime.second < 4) {
      keepSaved = true;
    } else {
      WriteWordLog("monitor", g_vecMonitorWords, MonitorName(now));
    }
  }
  if (!keepSaved) g_savedTime = now;
  const uint32_t msOfHour = static_cast<uint32_t>((now.second + now.minute * 60) * 1000 + now.millisecond);
  uint32_t outputs = 0;
  if (ReadOutputWord(outputs) && outputs != g_lastOutputs) {
    PushMonitorWord(3, msOfHour, outputs);
    g_lastOutputs = outputs;
  }
  uint32_t x = 0, y = 0;
  if (ReadScanPosCodes(&x, &y) == RV_OK && (x != g_lastX || y != g_lastY)) {
    PushMonitorWord(1, msOfHour, (y << 16) + x);
    g_lastX = x;
    g_lastY = y;
  }
  CycleSleep();
}

void MonitorThreadEnd() {
  const plat::LocalTime now = plat::LocalNow();
  if (!g_vecMonitorWords.empty()) WriteWordLog("monitor", g_vecMonitorWords, MonitorName(now));
  if (!g_vecIoWords.empty()) WriteWordLog("io__", g_vecIoWords, IoName(now));
}

void ResetMonitorState() {
  g_dbDeviceUs = g_dbDeviceMs = 0.0;
  g_vecIoWords.clear();
  g_vecMonitorWords.clear();
  g_savedTime = plat::LocalTime();
  g_ioFlushTick = 0;
  g_lastOutputs = g_lastX = g_lastY = g_lastTaskBit = 0;
  g_recMeasured.Reset();
  g_recExpected.Reset();
  ResetRecordLists();
  plat::LockGuard g(g_csCompare);
  ClearCompareQueue();
}

void MonitorThreadProc() {
  MonitorThreadBegin();
  do {
    MonitorCycle();
  } while (g_bStopThreads.load() == 0);
  MonitorThreadEnd();
  g_bMonitorRunning.store(0);
}
