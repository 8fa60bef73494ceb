#pragma once
// The scanner object: the one CScan of the library (g_Scan), built at load and kept until unload.
//
// It is made of three parts:
//   CCalibrate  the calibration state of the scanner: coordinate transform (swap/mirror mode,
//               rotation, offsets), the table select, the calibration context and the field sizes,
//               with the conversions between millimetres and 16-bit galvanometer codes;
//   CFastCali   the two fast correction tables of 257 x 257 code pairs (filled by the calibration
//               code when a box file is loaded);
//   the galvanometer state of the data stream: current and previous position, speeds and the jump,
//               corner and end delays of the current layer, and the count of marked segments.
// The parts are plain classes: nothing is deleted through a base pointer, so no virtual destructor.
//
// Threads. The field sizes are read by the monitor thread (DacToMm) while a host thread may replace
// them (reading a box file): each is a lock-free std::atomic<double> (also on the 32-bit Windows
// build), read once per conversion, so a reader never waits and never sees a torn value. The other
// calibration fields are used only by the host thread inside a library task (parameter file,
// calibration exports). The stream state belongs to the mark call (g_MarkCall) that writes the job.
//
// Codes. Every millimetre-to-code conversion clamps in double before it becomes an integer, so every
// finite or infinite input gives a code inside the scale, and a NaN position gives the code of 0 mm
// (the centre). 16-bit codes: (p + F/2) x 65535 / F, truncated when written. 21-bit codes of the new
// box method: (p + R) / (2R) x 2^21 with R the half range of the box correction
// (CCaliLink::HalfRange), rounded to the nearest code when written.
#include <array>
#include <atomic>
#include <cstddef>
#include <cstdint>
#include <string>

#include "markbase/job_state.h"

// 16-bit galvanometer codes.
constexpr int32_t kCode16Max = 65535;
// The real-valued code of a position p (mm) in a field of width `field` (mm), in [0, 65535].
double MmToCode16Real(double p, double field);
// The code written: the real code truncated toward zero.
int32_t Code16(double real);
// Millimetres of a 16-bit code (any i32) in a field of width `field`, limited to +-field/2.
double Code16ToMm(int32_t code, double field);

// 21-bit galvanometer codes of the new box method.
constexpr int32_t kCode21Max = 2097151;
// The real-valued code of p (mm) with the half range `halfRange` (mm), in [0, 2097151].
double MmToCode21Real(double p, double halfRange);
// The code written: the real code rounded to the nearest whole code, halves up.
int32_t RoundCode21(double real);
// The written 21-bit code of p with the half range of the box correction in force.
int32_t MmToCode21(double p);

struct FieldPoint {
  double x;
  double y;
};

class CCalibrate {
 public:
  CCalibrate() = default;
  CCalibrate(const CCalibrate&) = delete;
  CCalibrate& operator=(const CCalibrate&) = delete;

  // The 16-bit codes of a point (mm): X, Y and Z, each with the field size of its own axis.
  void MmToDac(double x, double y, double z, int32_t& cx, int32_t& cy, int32_t& cz) const;
  // Millimetres of a 16-bit code: axis 0 X, 1 Y, 2 Z, each with its own field size; any other axis
  // gives 0.0 (no caller passes one).
  double DacToMm(int32_t axis, int32_t code) const;

  // Field sizes in mm (100.0, 100.0 and 17.0 until a box file is read).
  double FieldX() const { return dbFieldX_.load(std::memory_order_relaxed); }
  double FieldY() const { return dbFieldY_.load(std::memory_order_relaxed); }
  double FieldZ() const { return dbFieldZ_.load(std::memory_order_relaxed); }
  // Set by the box file reader; any thread may be converting meanwhile.
  void SetFieldSizes(double fx, double fy, double fz);

  // The coordinate transform of a field point (mm) into the point handed to the calibration module:
  // swap and mirror by nCoordType (modes 1..7; any other value keeps the point), then rotate and
  // shift: X'' = X' cos + Y' sin + offset X, Y'' = Y' cos - X' sin + offset Y.
  FieldPoint Transform(double x, double y) const;

  // Reads a box text file (calibration/box_file.h), sets the field sizes and creates calibration
  // context nCaliContext in the calibration module (when it is loaded). Returns 0; throws
  // MyException 10 (the file cannot be opened) or 11 (a refused file), both shown. A refused file
  // changes nothing.
  uint32_t ReadBoxFile(const std::string& path);

  int32_t nCoordType = 0;    // swap/mirror mode 0..7 ([HARDWARE] COORD_TYPE)
  int32_t nTableSelect = 0;  // the correction table being built (0 or 1)
  double dbOrgX = 0.0;       // offset X, mm ([HARDWARE] ORG_X)
  double dbOrgY = 0.0;       // offset Y, mm ([HARDWARE] ORG_Y)
  double dbRotSin = 0.0;     // sine of the rotation ([HARDWARE] Rotate, degrees)
  double dbRotCos = 1.0;     // cosine of the rotation
  int32_t nCaliContext = 0;  // context of the calibration module used by this object; always 0

 private:
  static_assert(std::atomic<double>::is_always_lock_free, "the field sizes are read without a lock");
  std::atomic<double> dbFieldX_{100.0};
  std::atomic<double> dbFieldY_{100.0};
  std::atomic<double> dbFieldZ_{17.0};
};

// One entry of a fast correction table, in the order of the table's image on the card: the module's
// second output code, then its first.
struct FastCaliEntry {
  uint16_t second;
  uint16_t first;
};
constexpr int kFastCaliSide = 257;
// Row-major, the row index on Y: entry (column i, row j) is at j * 257 + i.
using FastCaliTable = std::array<FastCaliEntry, kFastCaliSide * kFastCaliSide>;

constexpr size_t kFastCaliTableBytes = 264196;  // 66049 entries of two little-endian u16
static_assert(kFastCaliSide * kFastCaliSide * 4 == kFastCaliTableBytes, "a fast table image is 264196 bytes");

// The high-precision grid: the offsets {dX, dY} in mm of each of the 257 x 257 points, row-major
// like the fast tables; the image of a high-precision file ("HighPrecisionCali.cl" for table 0,
// "HighPrecisionCaliR.cl" for table 1: exactly these 1056784 bytes as little-endian doubles).
constexpr size_t kHighPrecisionFileBytes = 1056784;
using HighPrecisionGrid = std::array<double, 2 * kFastCaliSide * kFastCaliSide>;
static_assert(sizeof(HighPrecisionGrid) == kHighPrecisionFileBytes, "one double per file value");
extern HighPrecisionGrid g_HighPrecisionGrid;

// The tables are left to the zero filling of static storage (no initializer): a constant
// initializer would put the whole object, 528 kB of zeros, into the library file.
class CFastCali {
 public:
  std::array<FastCaliTable, 2> tables;  // correction table 0 and 1

  // Builds fast table t: the 257 x 257 points spread over the field of `cal` (plus the offsets of
  // table t's high-precision file when its [HARDWARE] flag in SystemPara is 1 and the file reads
  // whole), through the coordinate transform of `cal`, into the calibration module's Do2DCali with
  // the table select of `cal`; both codes clamped to 0..65535. A point the module does not compute
  // (module not loaded, or a call that writes nothing) keeps its plain code: the transformed point
  // on the field's linear scale.
  void BuildTable(int t, const CCalibrate& cal);
  // Table 1 with table select 1, then table 0 with table select 0 (which stays).
  void CreateTables(CCalibrate& cal);
  // The 264196 bytes of table t as the card takes them: per entry the second code, then the first.
  void TableImage(int t, uint8_t* out) const;

  // Reads the high-precision file of table t into g_HighPrecisionGrid. A file that cannot be opened
  // or is short shows its box and gives false (the grid is then left as it was).
  static bool ReadHighPrecisionFile(int t);
  // Every fourth point of the high-precision grid (rows and columns 0, 4, ..., 256) into a grid of
  // 65 x 65 pairs {dX, dY}.
  static void Downsample65(double* grid65);
};

class CScan : public CCalibrate, public CFastCali {
 public:
  // The scanner's steps in a job's stream (scan_jumps.cpp).
  // The layer's jump parameters from the pen tables: mark and jump speed (both [SCAN] FRAME_SPEED in
  // run mode 3), jump delay 2 as the full jump delay, 1 as the wait after a polyline, 3 as the corner
  // delay, PenParaPlus word 0 as the minimum jump delay and its real 0 (truncated) as the long-jump
  // length. 6 for a layer at or above 256, nothing changed.
  // JumpTo: a direct jump to (x, y) mm on the main stream, without interpolation: BASETIME µs after
  // the clock the X word (16-bit 0x0108xxxx, 0x010Cxxxx in a job without laser; 21-bit 0x012xxxxx),
  // the Y word at the same time (0x0109xxxx / 0x010Dxxxx; 0x016xxxxx), a NOP BASETIME later; 1 µs
  // later the 1 s time-out and the wait for the scanner's arrival (0x560F4240, 0x51608001, a NOP
  // 1 µs after each); the jump delay nJumpDelayMax as a NOP; the position becomes current. A
  // position that is not finite is refused with 7 before anything is written; a negative BASETIME
  // or jump delay counts as 0.
  // JumpToHome: JumpTo the rest position [HARDWARE] MarkEnd_X/Y.
  // JumpIfMoved: an interpolated jump at the jump speed with its jump delay (StreamJumpTo) on an
  // upper floor, only when (x, y) differs from the current position.
  void LoadPenJumpPara(uint32_t layer) REQUIRES(g_MarkCall);
  void JumpTo(double x, double y) REQUIRES(g_MarkCall);
  void JumpToHome() REQUIRES(g_MarkCall);
  void JumpIfMoved(double x, double y) REQUIRES(g_MarkCall);

  // Loads the old box method's settings from the configuration: the box file named by [Calibration]
  // "KVX100<model>_NO<card>_File", [HARDWARE] ORG_X, ORG_Y, Rotate (degrees), COORD_TYPE,
  // bHighPrecisionCali and bHighPrecisionCaliR; reads the box file and builds both fast tables.
  // Returns 0; the box file's exceptions pass to the caller.
  uint32_t SetCalibratePara();
  void CreateTables() { CFastCali::CreateTables(*this); }
  // Dumps fast table t to "Box.xls" (t 0) or "BoxR.xls" (t 1) in the library's folder, then lays the
  // table into `image` as the old method's flash image: 130 pages, the table at the start, zeros,
  // 0xA5 in the last byte (266239). A dump that cannot be written is logged; the image is built.
  void WriteBoxXls(int t, uint8_t* image) const;
  // Builds both tables of the method in force (bNewBoxCali) into their flash images and writes them
  // to the card's areas of correction table 0 and 1 (calibration/box_upload.h). Returns 0. Throws 11
  // (shown) when the module of the method is not loaded, before anything is built or sent; the card
  // and flash failures pass as their codes.
  uint32_t SendBoxTables();

  // The galvanometer state of the data stream, kept by the scanner sequences and segment encoders.
  double dbCurX GUARDED_BY(g_MarkCall) = 0.0;   // current position, mm
  double dbCurY GUARDED_BY(g_MarkCall) = 0.0;
  double dbPrevX GUARDED_BY(g_MarkCall) = 0.0;  // position before the last jump, mm
  double dbPrevY GUARDED_BY(g_MarkCall) = 0.0;
  double dbMarkSpeed GUARDED_BY(g_MarkCall) = 0.0;  // mark speed of the current layer, mm/µs
  double dbJumpSpeed GUARDED_BY(g_MarkCall) = 0.0;  // jump speed of the current layer, mm/µs
  int32_t nJumpDelayMax GUARDED_BY(g_MarkCall) = 0;  // µs, jumps of at least nLongJumpLen
  int32_t nJumpDelayMin GUARDED_BY(g_MarkCall) = 0;  // µs, a jump of length 0
  int32_t nLongJumpLen GUARDED_BY(g_MarkCall) = 20;  // whole mm from which the full jump delay applies
  int32_t nMarkEndDelay GUARDED_BY(g_MarkCall) = 0;  // µs after the last vector of a polyline
  int32_t nPolygonDelay GUARDED_BY(g_MarkCall) = 0;  // µs for a turn of 90° or more
  // The job's line count: marked segments, counted by the polyline generator and reset at the job
  // start; QZ_GetMarkLineCnt reads it on any thread, so it is atomic (written by the job's thread
  // only: a relaxed load and store is enough to count).
  std::atomic<int32_t> nLitCount{0};
};

extern CScan g_Scan;
