#pragma once
// The fly-marking keys of the main configuration: section "FLY" and the scan-limit keys of section
// "SCAN", with the values derived from them while they are read.
//
// One record, g_FlyScanPara, beside SystemPara: read by ReadFlyKeys when the host applies the
// parameter file or calls QZ_SetFlyPara (mark/fly_encode.h checks the values and publishes them),
// and read by the fly parameter commands, the encoder commands of the mark list and the polyline
// generator's fly-mark range words. A record like SystemPara: written on a host thread (QZ_SetFlyPara
// may come while another thread runs a job or reads the encoder), read without a lock, so every
// field is a Shared<T>. Field names are the key names; integer and flag keys hold an int32_t (a flag holds
// the converted number), real keys a double.
#include <cstdint>

#include "frame/shared_value.h"

struct FlyScanPara {
  // ---- [FLY], in the order they are read
  Shared<int32_t> nFlyType = 0;             // 1: rotary fly (the work turns); other values: linear fly
  Shared<int32_t> nFlyDir = 0;              // fly direction in quarter turns
  Shared<double> nFlyDirAngle = 0.0;        // added to the direction, radians
  Shared<int32_t> bEncEx = 1;               // external encoder
  Shared<int32_t> bEnEncInner = 0;          // internal (simulated) encoder on
  Shared<int32_t> nEncInnerPeriodUS = 10;   // internal encoder period, µs
  Shared<int32_t> nEncInnerDirectNeg = 0;   // internal encoder counts down
  Shared<int32_t> nEncRange = 1000000;      // encoder counter range in pulses
  Shared<int32_t> bEncRange = 0;            // the card wraps its counter at nEncRange
  Shared<int32_t> nFlyOffHome = 1;          // fly switched off: 1 jump home, 0 to the current position, else none
  Shared<int32_t> nEncOutnerDirectNeg = 0;  // external encoder counts down
  Shared<double> nEncPPM = 5000.0;          // encoder pulses per mm
  Shared<double> dbFlyRotateCentX = 10.0;   // rotary fly: centre, mm
  Shared<double> dbFlyRotateCentY = 10.0;
  Shared<double> FlyAngelTrans = 1.0;       // rotary fly: angle factor
  Shared<int32_t> bFlyMarkRangeEn = 0;      // limit the fly mark range (QZ_MarkAreaSafeFly overwrites it)
  // ---- [SCAN]
  Shared<uint8_t> bScanLimitErrEn = 0;     // 1 when the key is nonzero: scan limit error on
  Shared<double> dbScanLimitP0 = 1000.0;   // upper scan limits of axes 0 and 1, mm
  Shared<double> dbScanLimitP1 = 1000.0;
  Shared<double> dbScanLimitN0 = -1000.0;  // lower scan limits, mm
  Shared<double> dbScanLimitN1 = -1000.0;
  // ---- [FLY], continued
  Shared<int32_t> bEncIsAdd = 1;               // the encoder counts up in the fly direction
  Shared<double> dbMeasMarkDisMM = 200.0;      // measuring point to mark point, mm
  Shared<double> dbEncMaxSpeedMMPS = 200.0;    // highest conveyor speed, mm/s
  Shared<double> dbMarkBeforeSafeRat = 0.1;    // safe margin before a target, fraction of the range
  Shared<double> dbMarkAfterSafeRat = 0.9;     // safe margin after the last position, fraction of the range
  Shared<double> dbFlyMarkRangeScanPos = 0.0;  // read only with bFlyMarkRangeEn: scan position of the range limit, mm
  Shared<int32_t> bEnInnerEncValidByIO = 0;    // an input enables the internal encoder
  Shared<int32_t> InnerEncValidByIO_idx = 15;  // that input's number

  // ---- derived
  // θ = nFlyDir x 90° + nFlyDirAngle; the fly direction (cos θ, sin θ).
  Shared<double> dbFlyDirX = 1.0;
  Shared<double> dbFlyDirY = 0.0;
  // Set only while bFlyMarkRangeEn is nonzero (otherwise the previous values stay): the axis the
  // range limit applies to (1 when |cos θ| <= |sin θ|, else 0) and its direction value (1 -
  // bEncIsAdd when that axis's component is positive, else bEncIsAdd).
  Shared<int32_t> nFlyMarkRangeAxis = 0;
  Shared<int32_t> nFlyMarkRangeDir = 0;
};

extern FlyScanPara g_FlyScanPara;

// Reads the keys from the main configuration and derives the values above; keys and derived values
// read only under a condition keep those of `previous` when it is false. Changes nothing else.
FlyScanPara ReadFlyKeys(const FlyScanPara& previous);
