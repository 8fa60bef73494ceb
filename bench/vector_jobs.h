#pragma once
// Vector jobs through the exports, for the benchmarks that measure whole jobs: the simulated card
// in the benchmarks' library folder (sim_card.h), opened once as a host does (card version 96, block
// layout 2) and given the parameter file before each benchmark, and four kinds of dense job, each a
// list of polylines handed to QZ_MarkVector one call per polyline:
//   kJoined    0.1 mm vectors end to end along rows: the library joins them into long polylines
//   kSeparate  0.1 mm vectors with a 0.1 mm gap between them: each its own polyline, a jump between
//   kHatch     10 mm lines 0.05 mm apart, in alternating directions
//   kText      glyph-like strokes of 5 points in 1 x 1.5 mm cells, 3 strokes a glyph
// Pen 0 marks and jumps at 1000 mm/s, 20 kHz at 50 %.
#include <cstdint>
#include <string>
#include <vector>

#include "api/library_startup.h"
#include "cardlink/portlane.h"
#include "cardsim_api.h"
#include "frame/bytes.h"
#include "frame/system_para.h"
#include "platform/files.h"
#include "qzmark.h"
#include "sim_card.h"

namespace qzbench {

enum JobKind { kJoined = 0, kSeparate = 1, kHatch = 2, kText = 3 };
inline const char* JobKindName(int kind) {
  static const char* const names[] = {"joined", "separate", "hatch", "text"};
  return names[kind & 3];
}

// Points of one polyline call: {x, y, 0} per point.
struct Polyline {
  std::vector<double> points;
  int32_t count() const { return static_cast<int32_t>(points.size() / 3); }
};

inline void AddPoint(Polyline& p, double x, double y) { p.points.insert(p.points.end(), {x, y, 0.0}); }

// `n` polylines of a kind, repeating over a 10 mm field.
inline std::vector<Polyline> MakeJob(int kind, int n) {
  std::vector<Polyline> job(static_cast<size_t>(n));
  for (int i = 0; i < n; ++i) {
    Polyline& p = job[static_cast<size_t>(i)];
    switch (kind) {
      case kJoined: {
        const double x = (i % 100) * 0.1 - 5.0, y = ((i / 100) % 100) * 0.1 - 5.0;
        AddPoint(p, x, y);
        AddPoint(p, x + 0.1, y);
        break;
      }
      case kSeparate: {
        const double x = (i % 50) * 0.2 - 5.0, y = ((i / 50) % 100) * 0.1 - 5.0;
        AddPoint(p, x, y);
        AddPoint(p, x + 0.1, y);
        break;
      }
      case kHatch: {
        const double y = (i % 200) * 0.05 - 5.0;
        AddPoint(p, i % 2 ? 5.0 : -5.0, y);
        AddPoint(p, i % 2 ? -5.0 : 5.0, y);
        break;
      }
      default: {
        const int glyph = i / 3, stroke = i % 3;
        const double x0 = (glyph % 8) * 1.2 - 5.0, y0 = ((glyph / 8) % 6) * 1.7 - 5.0;
        for (int k = 0; k < 5; ++k) {
          const double t = k / 4.0;
          if (stroke == 0) AddPoint(p, x0 + 0.2 * (k % 2), y0 + 1.5 * t);             // a zigzag stem
          if (stroke == 1) AddPoint(p, x0 + t, y0 + 1.5 - 0.3 * t * t);               // a curved top
          if (stroke == 2) AddPoint(p, x0 + 0.2 + 0.8 * t, y0 + 0.75 + 0.2 * (k % 2));  // a bar
        }
      }
    }
  }
  return job;
}

inline std::string OfflineFile() { return LibraryDir() + "/OffLineFile.tmp"; }

// The card opened through the exports with its parameter file and pen 0 set; false when the
// simulated card is not beside the library. A benchmark that drove the card raw since may have
// changed the parameters and stopped the monitor and watchdog threads: every call applies the
// parameter file again (which starts them), so that a job benchmark measures the same whether it
// runs alone or after others.
inline bool OpenCardForJobs() {
  static const bool opened = [] {
    static const plat::FaultPoint libraryFolder{.moduleDir = LibraryDir};
    plat::SetFaultPoint(&libraryFolder);
    CPortlane::LoadDll();
    if (!PortlaneApi.bLoaded) return false;
    SimFunction<decltype(&cardsim_set_card_version)>("cardsim_set_card_version")(96);
    SimFunction<decltype(&cardsim_set_consume)>("cardsim_set_consume")(CARDSIM_CONSUME_AT_ONCE);
    if (QZ_InitCard() != 0) return false;
    ApplyParameterFile();
    if (QZ_SetFlag(0x7E21C4B9u, 0) != 0) return false;
    std::vector<uint8_t> pen(1696, 0);
    PutF64(&pen[28], 20.0);
    PutF64(&pen[36], 50.0);
    PutF64(&pen[432], 1000.0);
    PutF64(&pen[440], 1000.0);
    return QZ_SetMarkPara(pen.data(), 1) == 0;
  }();
  if (opened) ApplyParameterFile();
  return opened;
}

// Runs one job (mode 1 online, 2 offline download); the stream time in µs, or -1 on a failure.
// `between` runs every 4096 polylines (a benchmark's bookkeeping).
template <class F>
int64_t RunJob(uint32_t mode, const std::vector<Polyline>& job, int repeat, F&& between) {
  if (QZ_MarkStart(mode, 0, 0) != 0) return -1;
  size_t k = 0;
  for (int r = 0; r < repeat; ++r)
    for (const Polyline& p : job) {
      QZ_MarkVector(p.points.data(), p.count(), 0);
      if ((++k & 4095) == 0) between();
    }
  if (QZ_MarkEnd(0) != 0) return -1;
  uint32_t us = 0;
  QZ_GetMarkTime(&us);
  return us;
}
inline int64_t RunJob(uint32_t mode, const std::vector<Polyline>& job, int repeat = 1) {
  return RunJob(mode, job, repeat, [] {});
}

// Sets the block layout of a card version for the jobs that follow (96: 2, 85: 1); the card keeps
// its own version, which an offline download never shows it.
inline void UseCardVersion(int32_t version) {
  g_SystemPara.nCardVersion = version;
  g_SystemPara.nBufDataCheckType = version >= 96 ? 2 : (version >= 80 ? 1 : 0);
}

}  // namespace qzbench
