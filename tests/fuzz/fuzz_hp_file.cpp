// "HighPrecisionCali.cl" and "HighPrecisionCaliR.cl": the high-precision offsets as the library reads
// them, and every fourth point of them as the box-correction tables take them. The input's first byte
// picks the file (bit 7), no file at all (bit 6) and its length, N - 32 + (byte & 63) bytes with N the
// size of the grid; the rest of the input, repeated, is the file's content.
// Oracle: a file is read exactly when it has N bytes or more, and the grid then holds its first N
// bytes as they are; a missing or short file leaves the grid as it was; the 65 x 65 points are the
// grid's points of rows and columns 0, 4, ..., 256.
#include <algorithm>
#include <cstring>
#include <vector>

#include "calibration/scan.h"
#include "fuzz_support.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size == 0) return 0;
  const int t = data[0] >> 7;
  const std::string path = qzfuzz::IniFile(t ? "HighPrecisionCaliR.cl" : "HighPrecisionCali.cl");
  const size_t length = kHighPrecisionFileBytes - 32 + (data[0] & 63);
  static std::string file;  // kept for its memory only
  file.assign(length, '\0');
  for (size_t at = 0; size > 1 && at < length; at += size - 1)
    std::memcpy(&file[at], data + 1, std::min(size - 1, length - at));
  const bool present = !(data[0] & 64);
  plat::DeleteFilePath(path);  // a new file each time: rewriting one in place waits for the disk
  if (present) plat::WriteWholeFile(path, file);

  std::memset(g_HighPrecisionGrid.data(), 0x5A, kHighPrecisionFileBytes);
  const bool read = CFastCali::ReadHighPrecisionFile(t);
  FUZZ_CHECK(read == (present && length >= kHighPrecisionFileBytes), "a file of %zu bytes (present %d) read %d",
             length, present, read);
  if (!read) {
    const auto* grid = reinterpret_cast<const uint8_t*>(g_HighPrecisionGrid.data());
    FUZZ_CHECK(std::all_of(grid, grid + kHighPrecisionFileBytes, [](uint8_t b) { return b == 0x5A; }),
               "a refused file changed the grid");
    return 0;
  }
  // The file's doubles are little-endian, as the grid's are on every host the library runs on.
  FUZZ_CHECK(std::memcmp(g_HighPrecisionGrid.data(), file.data(), kHighPrecisionFileBytes) == 0,
             "the grid is not the file's bytes");
  std::vector<double> grid65(2 * 65 * 65);
  CFastCali::Downsample65(grid65.data());
  for (int j = 0; j < 65; ++j)
    for (int i = 0; i < 65; ++i)
      FUZZ_CHECK(std::memcmp(&grid65[2 * (65 * j + i)], &file[16 * (4 * j * kFastCaliSide + 4 * i)], 16) == 0,
                 "point (%d, %d) of the 65 x 65 grid is not the file's", i, j);
  return 0;
}
