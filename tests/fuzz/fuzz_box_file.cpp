// Box files: the text reader of the box-correction records.
// Oracle: a file is read, or refused with code 11 (a type the library does not know, a file that
// ends before its declared rows); a file read holds every row it declares; what was read packs into the module's record image of the right
// size and writes back to a text that reads to the same text again.
#include "calibration/box_file.h"
#include "calibration/box_para.h"
#include "frame/errors.h"
#include "fuzz_support.h"

namespace {

// Lines of the text as the reader takes them (at most 255 bytes each).
uint64_t Lines(const std::string& t) {
  uint64_t n = 0;
  for (size_t pos = 0; pos < t.size(); ++n) {
    const size_t start = pos;
    while (pos < t.size() && pos - start < 255)
      if (t[pos++] == '\n') break;
  }
  return n;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string text = qzfuzz::Bytes(data, size);
  BoxFileRecords r;
  try {
    r = ParseBoxFile(text);
  } catch (const MyException& e) {
    FUZZ_CHECK(e.code == RV_UNSUPPORTED_CALI_TYPE, "refused with code %u", e.code);
    return 0;
  }
  const uint64_t rows = 2 * static_cast<uint64_t>(r.nRows) * static_cast<uint64_t>(r.nCols) +
                        5 * static_cast<uint64_t>(r.nDiffRows) + 2 * static_cast<uint64_t>(r.nListCount);
  FUZZ_CHECK(Lines(text) >= rows, "a file of %llu lines read with %llu lines of rows",
             static_cast<unsigned long long>(Lines(text)), static_cast<unsigned long long>(rows));
  const BoxRecordImage img = PackBoxRecords(r);
  FUZZ_CHECK(img.bytes.size() == img.offList + 88 + 2 * sizeof(void*), "packed records of %zu bytes", img.bytes.size());
  const std::string again = BoxFileText(r);  // compared as text: NaN != NaN
  FUZZ_CHECK(BoxFileText(ParseBoxFile(again)) == again, "the written file does not read back");
  return 0;
}
