#include "calibration/box_file.h"

#include <charconv>
#include <cstring>
#include <utility>

#include "calibration/cali_modules.h"
#include "calibration/scan.h"
#include "frame/bytes.h"
#include "frame/conv.h"
#include "frame/errors.h"
#include "platform/debug_out.h"
#include "platform/files.h"

BoxFileRecords g_BoxFile;
BoxRecordImage g_BoxFileImage;

namespace {

// The lines of a box file as the C runtime's fgets with a 256-byte buffer gives them: at most 255
// bytes, up to and including a line end; past the end of the text an empty line (which reads as 0).
class LineReader {
 public:
  explicit LineReader(const std::string& text) : text_(text) {}

  std::string Next() {
    if (pos_ >= text_.size()) return std::string();
    size_t end = pos_;
    while (end < text_.size() && end - pos_ < 255) {
      if (text_[end++] == '\n') break;
    }
    std::string line = text_.substr(pos_, end - pos_);
    pos_ = end;
    return line;
  }
  int32_t Int() { return CrtAtoi(Next().c_str()); }
  double Real() { return CrtAtof(Next().c_str()); }
  void Reals(double* out, size_t n) {
    for (size_t i = 0; i < n; ++i) out[i] = Real();
  }
  // A count of records: negative or above `limit` is refused.
  int32_t Count(int64_t limit = kBoxFileMaxCount) {
    const int32_t n = Int();
    if (n < 0 || n > limit) throw MyException(RV_UNSUPPORTED_CALI_TYPE, 1);
    return n;
  }
  // The text still holds `lines` lines for the rows a count declared; a file that ends before them
  // is refused (nothing is allocated for rows that are not there).
  void RequireLines(uint64_t lines) const {
    size_t pos = pos_;
    for (uint64_t k = 0; k < lines; ++k) {
      if (pos >= text_.size()) throw MyException(RV_UNSUPPORTED_CALI_TYPE, 1);
      const size_t start = pos;
      while (pos < text_.size() && pos - start < 255) {
        if (text_[pos++] == '\n') break;
      }
    }
  }

 private:
  const std::string& text_;
  size_t pos_ = 0;
};

void AppendInt(std::string& out, int64_t v) {
  char buf[24];
  auto r = std::to_chars(buf, buf + sizeof buf, v);
  out.append(buf, r.ptr);
  out += "\r\n";
}

// The shortest text that reads back to the same double (std::to_chars never uses the locale).
void AppendReal(std::string& out, double v) {
  char buf[64];
  auto r = std::to_chars(buf, buf + sizeof buf, v);
  out.append(buf, r.ptr);
  out += "\r\n";
}

void AppendReals(std::string& out, const double* v, size_t n) {
  for (size_t i = 0; i < n; ++i) AppendReal(out, v[i]);
}

void PutPtr(uint8_t* p, const void* ptr) { std::memcpy(p, &ptr, sizeof ptr); }

void PutReals(uint8_t* p, const double* v, size_t n) {
  for (size_t i = 0; i < n; ++i) PutF64(p + 8 * i, v[i]);
}

}  // namespace

BoxFileRecords ParseBoxFile(const std::string& text) {
  LineReader in(text);
  BoxFileRecords r;
  r.version = static_cast<uint32_t>(in.Int());
  r.type = in.Int();
  if (r.version >= 1) {
    r.nHeadUnused = in.Int();
    r.nZSelect = in.Int();
    in.Reals(r.dbHeadUnused, 2);
  }
  r.n2D = in.Int();
  in.Reals(r.r2D, 11);
  r.n3DCount = in.Count(INT32_MAX);
  if (r.n3DCount > 1) in.Reals(r.r3D, 5);
  r.nRows = in.Count(INT32_MAX);
  r.nCols = in.Count(INT32_MAX);
  if (int64_t{r.nRows} * r.nCols > kBoxFileMaxCount) throw MyException(RV_UNSUPPORTED_CALI_TYPE, 1);
  r.dbGridFieldX = in.Real();
  r.dbGridFieldY = in.Real();
  in.RequireLines(2 * static_cast<uint64_t>(r.nRows) * static_cast<uint64_t>(r.nCols));
  r.gridPairs.assign(2 * static_cast<size_t>(r.nRows) * static_cast<size_t>(r.nCols), 0.0);
  in.Reals(r.gridPairs.data(), r.gridPairs.size());
  r.nSecond = in.Int();
  in.Reals(r.rSecond, 4);
  r.nDiff = in.Int();
  r.nDiffEnable = in.Int();
  r.nDiffRows = in.Count();
  in.RequireLines(5 * static_cast<uint64_t>(r.nDiffRows));
  r.diffRows.assign(5 * static_cast<size_t>(r.nDiffRows), 0.0);
  in.Reals(r.diffRows.data(), r.diffRows.size());
  r.nZ = in.Int();
  in.Reals(r.rZ, 5);
  r.nList = in.Int();
  r.dbListAltZ = in.Real();
  r.nListCount = in.Count();
  in.RequireLines(2 * static_cast<uint64_t>(r.nListCount));
  r.listFirst.assign(static_cast<size_t>(r.nListCount), 0.0);
  r.listSecond.assign(static_cast<size_t>(r.nListCount), 0.0);
  for (int32_t i = 0; i < r.nListCount; ++i) {
    r.listFirst[i] = in.Real();
    r.listSecond[i] = in.Real();
  }
  in.Reals(r.rList, 9);
  // The type is judged once the whole file was read.
  if (r.type != 0 && r.type != 1) throw MyException(RV_UNSUPPORTED_CALI_TYPE, 1);
  return r;
}

std::string BoxFileText(const BoxFileRecords& r) {
  std::string out;
  AppendInt(out, static_cast<int32_t>(r.version));  // atoi reads it back, also above 2^31
  AppendInt(out, r.type);
  if (r.version >= 1) {
    AppendInt(out, r.nHeadUnused);
    AppendInt(out, r.nZSelect);
    AppendReals(out, r.dbHeadUnused, 2);
  }
  AppendInt(out, r.n2D);
  AppendReals(out, r.r2D, 11);
  AppendInt(out, r.n3DCount);
  if (static_cast<uint32_t>(r.n3DCount) > 1) AppendReals(out, r.r3D, 5);
  AppendInt(out, r.nRows);
  AppendInt(out, r.nCols);
  AppendReal(out, r.dbGridFieldX);
  AppendReal(out, r.dbGridFieldY);
  AppendReals(out, r.gridPairs.data(), r.gridPairs.size());
  AppendInt(out, r.nSecond);
  AppendReals(out, r.rSecond, 4);
  AppendInt(out, r.nDiff);
  AppendInt(out, r.nDiffEnable);
  AppendInt(out, r.nDiffRows);
  AppendReals(out, r.diffRows.data(), r.diffRows.size());
  AppendInt(out, r.nZ);
  AppendReals(out, r.rZ, 5);
  AppendInt(out, r.nList);
  AppendReal(out, r.dbListAltZ);
  AppendInt(out, r.nListCount);
  for (size_t i = 0; i < r.listFirst.size(); ++i) {
    AppendReal(out, r.listFirst[i]);
    AppendReal(out, i < r.listSecond.size() ? r.listSecond[i] : 0.0);
  }
  AppendReals(out, r.rList, 9);
  return out;
}

BoxRecordImage PackBoxRecords(const BoxFileRecords& r) {
  BoxRecordImage img;
  img.off2D = 0;
  img.offSecond = img.off2D + CALI_2D_SIZE;
  img.off3D = img.offSecond + CALI_SECOND_SIZE;
  img.offGrid = img.off3D + CALI_3D_SIZE;
  img.offDiff = img.offGrid + CALI_GRID_SIZE;
  img.offZ = img.offDiff + CALI_DIFF_SIZE;
  img.offList = img.offZ + CALI_Z_SIZE;
  img.bytes.assign(img.offList + CALI_LIST_SIZE, 0);
  uint8_t* b = img.bytes.data();

  uint8_t* p = b + img.off2D;
  PutU32(p, static_cast<uint32_t>(r.n2D));
  PutReals(p + CALI_2D_REALS, r.r2D, 11);

  p = b + img.offSecond;
  PutU32(p, static_cast<uint32_t>(r.nSecond));
  PutReals(p + CALI_SECOND_REALS, r.rSecond, 4);

  p = b + img.off3D;
  PutU32(p + CALI_3D_COUNT, static_cast<uint32_t>(r.n3DCount));
  PutReals(p + CALI_3D_REALS, r.r3D, 5);

  p = b + img.offGrid;
  PutU32(p + CALI_GRID_ROWS, static_cast<uint32_t>(r.nRows));
  PutU32(p + CALI_GRID_COLS, static_cast<uint32_t>(r.nCols));
  PutF64(p + CALI_GRID_FIELD_X, r.dbGridFieldX);
  PutF64(p + CALI_GRID_FIELD_Y, r.dbGridFieldY);
  PutPtr(p + CALI_GRID_PAIRS, r.gridPairs.data());

  p = b + img.offDiff;
  PutU32(p, static_cast<uint32_t>(r.nDiff));
  PutU32(p + CALI_DIFF_ENABLE, static_cast<uint32_t>(r.nDiffEnable));
  PutU32(p + CALI_DIFF_COUNT, static_cast<uint32_t>(r.nDiffRows));
  PutPtr(p + CALI_DIFF_ROWS, r.diffRows.data());

  p = b + img.offZ;
  PutU32(p, static_cast<uint32_t>(r.nZ));
  PutReals(p + CALI_Z_REALS, r.rZ, 5);

  p = b + img.offList;
  PutU32(p, static_cast<uint32_t>(r.nList));
  PutF64(p + CALI_LIST_ALT_Z, r.dbListAltZ);
  PutU32(p + CALI_LIST_COUNT, static_cast<uint32_t>(r.nListCount));
  PutPtr(p + CALI_LIST_FIRST, r.listFirst.data());
  PutPtr(p + CALI_LIST_SECOND, r.listSecond.data());
  PutReals(p + CALI_LIST_REALS, r.rList, 9);
  return img;
}

uint32_t CCalibrate::ReadBoxFile(const std::string& path) {
  std::string text;
  if (!plat::ReadWholeFile(path, text)) throw MyException(RV_NOT_OPEN_BOX_FILE, 1);
  BoxFileRecords rec = ParseBoxFile(text);

  g_BoxFile = std::move(rec);
  g_BoxFileImage = PackBoxRecords(g_BoxFile);
  const BoxFileRecords& r = g_BoxFile;
  const uint8_t* img = g_BoxFileImage.bytes.data();
  const bool corrix = CorrixApi.bLoaded;
  double fx, fy;
  if (r.type == 0) {
    if (corrix)
      CorrixFn<CorrixCreateFn>(CORRIX_Create)(nCaliContext, CALI_BOX_2D, img + g_BoxFileImage.off2D,
                                              img + g_BoxFileImage.offSecond);
    fx = fy = r.r2D[0];
  } else {
    if (corrix)
      CorrixFn<CorrixCreateFn>(CORRIX_Create)(nCaliContext, CALI_BOX_3D, img + g_BoxFileImage.off3D,
                                              img + g_BoxFileImage.offSecond);
    fx = r.dbGridFieldX;
    fy = r.dbGridFieldY;
    // A field of 0.1 mm or less (or no number) cannot be a scanner's: the default field instead.
    if (!(fx > 0.1)) {
      fx = 100.0;
      plat::DebugOutput("SUPER DATA ERR!");
    }
    if (!(fy > 0.1)) {
      fy = 100.0;
      plat::DebugOutput("SUPER DATA ERR!");
    }
  }
  const double fz = r.nZSelect == 1 ? r.dbListAltZ : r.rZ[2];
  SetFieldSizes(fx, fy, fz);
  if (corrix) {
    if (r.nDiffEnable != 0)
      CorrixFn<CorrixEnableDiffCorrFn>(CORRIX_EnableDiffCorr)(nCaliContext, r.type == 0 ? r.r2D[0] : r.r3D[0],
                                                              r.nDiffRows, r.diffRows.data());
    else
      CorrixFn<CorrixDisableDiffCorrFn>(CORRIX_DisableDiffCorr)(nCaliContext);
  }
  return 0;
}
