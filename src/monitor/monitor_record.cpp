#include "monitor/monitor_record.h"

#include <cmath>

#include "calibration/scan.h"
#include "frame/conv.h"
#include "laser/laser_stream.h"
#include "monitor/record_compare.h"

MonitorRecord g_recMeasured;
MonitorRecord g_recExpected;

double MonitorPositionMm(int32_t axis, uint32_t code) {
  const int32_t c = static_cast<int32_t>(code & 0xFFFFu);
  return g_Scan.DacToMm(axis, c) * (1.0 + std::sin(static_cast<double>(c % 1000)) / 98.0);
}

void MonitorRecord::OnLaser(uint8_t on, uint8_t useGivenTime, double t) {
  if (useGivenTime) {
    now = t;
  } else {
    t = now;
  }
  laserOn = on;
  if (on) {
    onTime = t;
    lastChange = t;
    integral = 0.0;
    startPosition = position;
    return;
  }
  offTime = t;
  durations.push_back((t - onTime) / 1000.0);
  positions.push_back(MonitorPositionMm(0, startPosition & 0xFFFFu));
  positions.push_back(MonitorPositionMm(1, startPosition >> 16));
  positions.push_back(MonitorPositionMm(0, position & 0xFFFFu));
  positions.push_back(MonitorPositionMm(1, position >> 16));
}

namespace {

// Integral over a segment of `lengthUs` as a percentage; a segment without length has the power it
// ends with.
double Average(double integral, double lengthUs, double power) {
  if (lengthUs == 0.0) return power / 655.35;
  return integral / 1000.0 / (lengthUs / 1000.0) / 655.35;
}

}  // namespace

void MonitorRecord::AddPowerAverage() {
  if (durations.size() != powerAverages.size() + 1) return;
  integral += (offTime - lastChange) * power;
  powerAverages.push_back(Average(integral, offTime - onTime, power));
}

void MonitorRecord::AddPowerAverageAtNow() {
  if (durations.size() != powerAverages.size() + 1) return;
  integral += (now - lastChange) * power;
  powerAverages.push_back(Average(integral, now - onTime, power));
}

void MonitorRecord::PowerChange(double t, double raw) {
  if (laserOn || (onTime <= t && t <= offTime)) integral += (t - lastChange) * power;
  lastChange = t;
  power = raw;
}

void MonitorRecord::FreeVectors() {
  durations = {};
  powerAverages = {};
  positions = {};
}

void MonitorRecord::Reset() { *this = MonitorRecord(); }

namespace {

// The laser and mark engines' calls on the expected record.
void ExpectedLaserSwitch(int on, int64_t t) {
  g_recExpected.OnLaser(on ? 1 : 0, 1, static_cast<double>(t));
}

void ExpectedPower(double t, double daTimes16) {
  g_recExpected.PowerChange(t, static_cast<double>(RealToUInt16(daTimes16)));
  g_recExpected.now = t;
}

void ExpectedClosePower() { g_recExpected.AddPowerAverageAtNow(); }

constexpr ExpectedRecordHooks kHooks{ExpectedLaserSwitch, ExpectedPower, ExpectedClosePower, PushExpectedRecord};

struct InstallAtLoad {
  InstallAtLoad() { InstallExpectedRecordHooks(&kHooks); }
  ~InstallAtLoad() { InstallExpectedRecordHooks(nullptr); }
} g_installAtLoad;

}  // namespace
