#pragma once
// The box text file of the old box method: the scanner's field and the coefficients that the
// calibration module "Corrix" turns into 16-bit codes.
//
// The file holds one value per line (integers as the C runtime's atoi reads them, reals as its atof
// reads them, in the "C" locale). A line is read into a 256-byte buffer, so a line longer than 255
// bytes is taken as two; lines past the end of the file read as 0. Lines, in order:
//   1. version (unsigned); 2. type (0 2D box, 1 3D box);
//   3. only for version 1 or more: an integer (not used), the Z-select integer, two reals (not used);
//   4. the 2D block: its integer, its 11 reals;
//   5. the 3D block's count; only when the count is above 1, its 5 reals;
//   6. the grid section: rows, columns, field size X, field size Y, then rows x columns pairs row
//      by row, each pair as two lines;
//   7. the second block: its integer, its 4 reals;
//   8. the difference-correction section: its integer, the enable word, the row count n, n rows of
//      5 reals;
//   9. the Z block: its integer, its 5 reals;
//  10. the list section: its integer, the alternative field size Z, the count n, n pairs (first
//      value, second value), its 9 reals.
//
// Refusals: a count that is negative (3D count, rows, columns, difference rows, list count), a grid
// of more than one million pairs or more than one million difference rows or list pairs, a file
// that ends before the rows its counts declare (grid pairs, difference rows, list pairs: the lines
// past the end would read as 0, and a short file declaring a million rows would hold the task for
// minutes), and a type other than 0 or 1 (after the whole file was read) are refused with code 11.
// A refused or unreadable file changes nothing.
#include <cstdint>
#include <string>
#include <vector>

struct BoxFileRecords {
  // Lines 1 to 3 (only version 1 or more has line group 3).
  uint32_t version = 0;
  int32_t type = 0;
  int32_t nHeadUnused = 0;
  int32_t nZSelect = 0;  // 1: the field size Z comes from the list section
  double dbHeadUnused[2] = {};

  int32_t n2D = 0;
  double r2D[11] = {};  // r2D[0]: the field size of a 2D box, mm

  int32_t n3DCount = 0;
  double r3D[5] = {};  // read only when the count is above 1; r3D[0] goes with the difference correction

  int32_t nRows = 0;
  int32_t nCols = 0;
  double dbGridFieldX = 0.0;
  double dbGridFieldY = 0.0;
  std::vector<double> gridPairs;  // 2 x rows x columns: (x, y) of each pair, row by row

  int32_t nSecond = 0;
  double rSecond[4] = {};

  int32_t nDiff = 0;
  int32_t nDiffEnable = 0;
  int32_t nDiffRows = 0;
  std::vector<double> diffRows;  // 5 x nDiffRows

  int32_t nZ = 0;
  double rZ[5] = {};  // rZ[2]: the field size Z

  int32_t nList = 0;
  double dbListAltZ = 0.0;
  int32_t nListCount = 0;
  std::vector<double> listFirst;
  std::vector<double> listSecond;
  double rList[9] = {};

  bool operator==(const BoxFileRecords&) const = default;
};

// Largest grid (rows x columns), difference-correction row count and list count of a box file.
constexpr int64_t kBoxFileMaxCount = 1000000;

// Reads the text of a box file. Throws MyException 11 (shown) for a refused file.
BoxFileRecords ParseBoxFile(const std::string& text);
// The text of a box file that ParseBoxFile reads back into the same records: integers in decimal,
// reals in the shortest form that reads back to the same double, one value per line ("\r\n").
std::string BoxFileText(const BoxFileRecords& rec);

// The seven records packed for the calibration module (calibration/cali_module_api.h), with the
// offset of each record in the image.
struct BoxRecordImage {
  std::vector<uint8_t> bytes;
  size_t off2D = 0, offSecond = 0, off3D = 0, offGrid = 0, offDiff = 0, offZ = 0, offList = 0;
};
// Packs `rec`; the pointer fields point into rec's arrays, which must outlive the image's use.
BoxRecordImage PackBoxRecords(const BoxFileRecords& rec);

// The records of the last box file read (replaced only by a file that was read whole and accepted)
// and their packed image, as the calibration module got them.
extern BoxFileRecords g_BoxFile;
extern BoxRecordImage g_BoxFileImage;
