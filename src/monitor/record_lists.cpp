#include "monitor/record_lists.h"

#include <deque>

#include "frame/conv.h"
#include "frame/system_para.h"
#include "monitor/monitor_record.h"
#include "monitor/monitor_thread.h"
#include "platform/clock.h"

plat::Lock g_csRecord;

namespace {

constexpr size_t kLaserMsgLimit = 1000;
constexpr size_t kAdDaLimit = 50000;

struct LaserMsgLists {
  std::deque<uint32_t> state;
  std::deque<double> timeMs;
};

struct AdDaRecordLists {
  std::deque<int32_t> ad;
  std::deque<int32_t> da;
  std::deque<double> timeUs;
  std::deque<uint32_t> tick;
};

LaserMsgLists g_laserMsg GUARDED_BY(g_csRecord);
AdDaRecordLists g_adDa GUARDED_BY(g_csRecord);
uint32_t g_lastLaserBit GUARDED_BY(g_csRecord) = 0;
// Set while the measured record has an open segment: a laser-off without it changes nothing.
uint8_t g_laserLatch = 0;

uint32_t TruncU32(double v) { return static_cast<uint32_t>(RealToInt64(v)); }

double Percent(int32_t v) { return static_cast<double>(v & 0xFFF) * 100.0 / 4095.0; }

}  // namespace

void PushAdDaSample(uint32_t word) {
  int32_t ad = 0, da = 0;
  if (word == kSampleLaserOn) {
    ad = da = -1;
  } else if (word == kSampleLaserOff) {
    ad = da = -2;
  } else {
    ad = static_cast<int32_t>(word & 0xFFFFu);
    da = static_cast<int32_t>(word >> 20);
  }
  const double us = g_dbDeviceUs;
  const uint32_t tick = plat::TickMs();
  plat::LockGuard g(g_csRecord);
  g_adDa.ad.push_back(ad);
  g_adDa.da.push_back(da);
  g_adDa.timeUs.push_back(us);
  g_adDa.tick.push_back(tick);
  if (g_adDa.ad.size() > kAdDaLimit) {
    g_adDa.ad.pop_front();
    g_adDa.da.pop_front();
    g_adDa.timeUs.pop_front();
    g_adDa.tick.pop_front();
  }
}

void OnLaserStateChange(uint32_t ioWord) {
  const uint32_t bit = (ioWord >> ShiftCount(g_SystemPara.nSampleLaserIO)) & 1u;
  {
    plat::LockGuard g(g_csRecord);
    if (bit == g_lastLaserBit) return;
  }
  if (bit == 1) {
    g_laserLatch = 1;
    PushAdDaSample(kSampleLaserOn);
    g_recMeasured.OnLaser(1, 0, 0.0);
  } else if (g_laserLatch) {
    g_laserLatch = 0;
    PushAdDaSample(kSampleLaserOff);
    g_recMeasured.OnLaser(0, 0, 0.0);
    g_recMeasured.AddPowerAverage();
  }
  // The clock in ms leans by 0.02 ms per second of the local minute at each change.
  g_dbDeviceMs += 0.02 * static_cast<double>(plat::LocalNow().second);
  plat::LockGuard g(g_csRecord);
  g_lastLaserBit = bit;
  g_laserMsg.state.push_back(bit);
  g_laserMsg.timeMs.push_back(g_dbDeviceMs);
  if (g_laserMsg.state.size() > kLaserMsgLimit) {
    for (int i = 0; i < 2; ++i) {
      g_laserMsg.state.pop_front();
      g_laserMsg.timeMs.pop_front();
    }
  }
}

void ResetLaserLatch() { g_laserLatch = 0; }

void ResetRecordLists() {
  EmptyLaserMsg();
  EmptyAdDaRecord();
  g_laserLatch = 0;
  plat::LockGuard g(g_csRecord);
  g_lastLaserBit = 0;
}

void PopLaserMsg(uint32_t* found, uint32_t* state, uint32_t* timeMs) {
  *found = 0;
  plat::LockGuard g(g_csRecord);
  if (g_laserMsg.state.empty()) return;
  *found = 1;
  *state = g_laserMsg.state.front();
  *timeMs = TruncU32(g_laserMsg.timeMs.front());
  g_laserMsg.state.pop_front();
  g_laserMsg.timeMs.pop_front();
}

void EmptyLaserMsg() {
  plat::LockGuard g(g_csRecord);
  g_laserMsg = LaserMsgLists();
}

void PopAdDaRecord(int32_t* found, double* ad, double* da, uint32_t* time, uint32_t* sampleTick, uint32_t* nowTick) {
  *found = 0;
  plat::LockGuard g(g_csRecord);
  if (g_adDa.ad.empty()) return;
  *found = 1;
  const int32_t a = g_adDa.ad.front();
  const int32_t d = g_adDa.da.front();
  if (a < 0) {
    if (ad) *ad = static_cast<double>(a);
    if (da) *da = static_cast<double>(a);
  } else {
    if (ad) *ad = Percent(a);
    if (da) *da = Percent(d);
  }
  if (time) *time = TruncU32(g_adDa.timeUs.front());
  if (sampleTick) *sampleTick = g_adDa.tick.front();
  if (nowTick) *nowTick = plat::TickMs();
  g_adDa.ad.pop_front();
  g_adDa.da.pop_front();
  g_adDa.timeUs.pop_front();
  g_adDa.tick.pop_front();
}

void EmptyAdDaRecord() {
  plat::LockGuard g(g_csRecord);
  g_adDa = AdDaRecordLists();
}

uint32_t LaserMsgCount() {
  plat::LockGuard g(g_csRecord);
  return static_cast<uint32_t>(g_laserMsg.state.size());
}

uint32_t AdDaRecordCount() {
  plat::LockGuard g(g_csRecord);
  return static_cast<uint32_t>(g_adDa.ad.size());
}
