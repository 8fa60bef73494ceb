#pragma once
// MonitorRecord: the laser-on segments of one card task, kept twice.
//
// g_recMeasured is filled by the monitor thread from the card's io debug records (laser switches,
// analogue samples, positions); g_recExpected is filled on the host's thread while a job's stream is
// generated ([Main] bAutoCheckMarkInfoFB 1): the laser segment encoders switch it, the power words
// change its power. Copies of the expected record wait for comparison (monitor/record_compare.h).
//
// Times are µs as reals; power is raw 0..65535 (= 0..100 %), DA x 16; durations are ms, power
// averages %, positions mm (four per segment: X on, Y on, X off, Y off).
#include <cstdint>
#include <vector>

struct MonitorRecord {
  uint8_t laserOn = 0;
  double now = 0.0;
  double onTime = 0.0;
  double offTime = 0.0;
  std::vector<double> durations;
  uint8_t mode = 0;  // 0 in both records: the integration rules below are those of mode 0
  double power = 0.0;
  double lastChange = 0.0;
  double integral = 0.0;
  std::vector<double> powerAverages;
  uint32_t position = 0;  // X code low 16 bits, Y code high 16 bits
  uint32_t startPosition = 0;
  std::vector<double> positions;

  // The laser switched on or off at t (useGivenTime; now := t) or at now. On opens a segment
  // (integral 0, start position := position); off closes it: its duration and four positions.
  void OnLaser(uint8_t on, uint8_t useGivenTime, double t);
  // After a laser-off: the power average of the segment that closed, integrated up to its off
  // time. Only when there is exactly one duration more than power averages.
  void AddPowerAverage();
  // The same, integrated up to now (the end of a polyline or a dot on the expected record).
  void AddPowerAverageAtNow();
  // The power changes to `raw` at t: the integral grows by the time since the last change at the
  // old power while a segment is open or t lies within the last one.
  void PowerChange(double t, double raw);
  // Empties the three lists.
  void FreeVectors();
  // Back to the state after load.
  void Reset();
};

extern MonitorRecord g_recMeasured;  // the monitor thread's
extern MonitorRecord g_recExpected;  // the host's mark calls'

// Millimetres of a position code of axis 0 (X) or 1 (Y), with the galvanometer's sine factor.
double MonitorPositionMm(int32_t axis, uint32_t code);
