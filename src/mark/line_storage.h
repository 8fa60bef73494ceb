#pragma once
// Polylines: the point buffer of the mark generator (g_LineStorage).
//
// Every vector a host appends (QZ_MarkVector) passes through here. Consecutive polylines are joined,
// split at sharp corners, given unlit lead-in and lead-out runs, and turned into galvanometer steps,
// laser segments and power-wave words in the channels of the current floor.
//
// Look-ahead. A point is generated only once the point after it is known: its corner wait depends on
// the turn there, and whether the laser stays on depends on the next point. Up to nLookAhead (10)
// points wait in the buffer; the eleventh generates the oldest five. The last point of a polyline is
// generated when the polyline ends: at the next polyline that does not continue it, and before any
// other mark-list command (MarkBufferBefore), so that the open polyline's words come first.
//
// Points. A point is marked (bMark, the segment that ends at it is lit) when the buffer already held
// a point and its layer is not [SCAN] nDashedlineLayNo; the first point of a polyline and every point
// of the dashed layer are reached with the laser off. A point within 0.001 mm (|dx| + |dy|) of the
// last one is dropped. The turning angle at a point is set when the next point arrives (0 straight
// on, pi a reversal, 0 when either segment has no length). With [SCAN] bPolygonBreak a turn sharper
// than dbPolygonBreakAng ends the polyline at the corner, and a new one starts there.
//
// Joining. A polyline whose first point lies within [SCAN] dbDisMaxTwoLineConnectMM (|dx| + |dy|) of
// the last buffered point continues it in the same layer (also when either is the dashed layer);
// otherwise the buffered polyline ends first. With lead chaining on (QZ_MarkBufSmallTask -6, off with
// -7) the buffered polyline runs on through its lead-out and the new one's lead-in instead.
//
// Leads. The lead length of a layer is PenParaPlus real 1 (mm; 0, the default, means none). A
// polyline starts with an unlit lead-in of that length behind its first point, along its first
// segment, and ends with an unlit lead-out beyond its last point, along its last segment.
//
// Generation of a polyline, in the stream: the pause marker 0x51200001 ([OTHER] bMarkAllowPause 1),
// the layer switch, the light-path request with energy splitting, then on its own floor the jump to
// the first point with its jump delay, the moves (vectors between the points at the mark speed,
// corner waits inside a run of equal laser state), each lit run's laser segment on every laser in
// use with its power waves, and after the last point the end delay (nMarkEndDelay); the floor is
// closed and the light path released. Between points the finished words are merged and flushed.
//
// Refusals (CheckPolyline, in this order): a null point array with a positive count 2, a coordinate
// that is NaN or infinite 7, fewer than 2 points 12, a layer outside 0..255 6, a coordinate beyond
// the field's reach (WithinFieldReach, calibration/galvo_stream.h) 2. A refused polyline fails the
// job (ThrowMarkError): its detail is logged under "QZ_MarkVector", the code's text is shown once,
// the card's run is stopped, and nothing of the polyline is buffered or appended.
//
// Fly marking: while it is switched on in the stream (QZ_MarkFlySwitch, QZ_MarkFlyOnEnc) and [FLY]
// bFlyMarkRangeEn is set (QZ_MarkAreaSafeFly overwrites it), the first jump of a polyline is
// followed, on the floor below, by the fly-mark range words 0x06000001 and 0x51640001 (a NOP 1 µs
// after each, the second at the time of the first's NOP), at least 20 µs of stream time after the
// jump's start (a NOP fills up a shorter jump delay).
#include <cstdint>
#include <vector>

#include "markbase/job_state.h"

struct LinePoint {
  double x;           // mm
  double y;
  double len;         // length of the segment that ends here; set when the next point arrives
  double angle;       // turning angle here (rad); set when the next point arrives
  double speedScale;  // the caller's speed factor (1.0 from polylines), read by the wobble programs
  uint32_t layer;
  uint8_t bMark;      // the segment that ends here is marked
};

class CLineStorage {
 public:
  CLineStorage() = default;
  CLineStorage(const CLineStorage&) = delete;
  CLineStorage& operator=(const CLineStorage&) = delete;

  // The body of QZ_MarkVector: `pts` holds n records of three reals {x, y, third} (24 bytes each, the
  // third not read), read from the host's memory by offset. 0; arguments CheckPolyline refuses fail
  // the job with its code before anything is done.
  uint32_t PushLines(const uint8_t* pts, int32_t n, uint32_t layer) REQUIRES(g_MarkCall);
  // Appends one point; false when it is refused at a sharp corner (bPolygonBreak): the buffer is
  // then unchanged.
  bool AddPoint(double x, double y, uint32_t layer, double speedScale) REQUIRES(g_MarkCall);
  // Generates the first n buffered points or, with bFinal, all of them and ends the polyline (code 35
  // when points are left).
  void DealPartLine(int32_t n, bool bFinal) REQUIRES(g_MarkCall);
  // Appends the lead-out point (dbLeadLen beyond the last point, along the last segment).
  void AddLeadOut() REQUIRES(g_MarkCall);
  // The generator: the first n buffered points into the stream (below).
  void GenerateLines(int32_t n) REQUIRES(g_MarkCall);
  // The job start's reset: idle, buffer emptied, look-ahead 10, lead chaining off.
  void ResetForJob() REQUIRES(g_MarkCall);

  uint32_t nState GUARDED_BY(g_MarkCall) = 0;  // 0 idle, 1 a polyline is open in the stream
  std::vector<LinePoint> vecLastLine GUARDED_BY(g_MarkCall);  // oldest first
  int32_t nLookAhead GUARDED_BY(g_MarkCall) = 10;
  double dbLeadLen GUARDED_BY(g_MarkCall) = 0.0;   // lead length (mm) of the layer being started
  int32_t bLeadEnable GUARDED_BY(g_MarkCall) = 0;  // polylines chain through lead-out and lead-in
  int32_t bLeadSkipOnce GUARDED_BY(g_MarkCall) = 0;  // the next polyline is not chained

 private:
  // AddPoint, and when it is refused at a corner: the polyline ends there and a new one starts from a
  // copy of the corner point (in cornerLayer, the pushed polyline's layer, also for its unlit lead
  // points), followed by the point.
  void AddOrRestart(double x, double y, uint32_t layer, uint32_t cornerLayer) REQUIRES(g_MarkCall);
  void StartPolyline() REQUIRES(g_MarkCall);
  void Generate(int32_t n) REQUIRES(g_MarkCall);
};

extern CLineStorage g_LineStorage;

// The argument check of a polyline (refusals above, logged under "QZ_MarkVector"); 0 when accepted.
uint32_t CheckPolyline(const uint8_t* pts, int32_t n, uint32_t layer);
// Bytes of one host point record.
constexpr uint32_t kPolylinePointBytes = 24;
