// "CaliPara.cl": the calibration block as read from its file, its version check and its
// preparation for the box-correction module.
// Oracle: a file shorter than the block is no block; the version check accepts exactly the version
// words it should; the preparation changes the coefficient sets and nothing else.
#include <algorithm>

#include "calibration/box_para.h"
#include "calibration/cali_link.h"
#include "fuzz_support.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string bytes = qzfuzz::Bytes(data, size);
  BoxParaBlock block{};
  if (!BoxParaFromFile(bytes, block)) {
    FUZZ_CHECK(bytes.size() < kBoxParaSize, "a block of %zu bytes refused", bytes.size());
    return 0;
  }
  const bool accepted = CheckBoxParaVer(block, 1, false);
  const int32_t a = static_cast<int32_t>(BoxGetU32(block, kBoxVersionA));
  const int32_t b = static_cast<int32_t>(BoxGetU32(block, kBoxVersionB));
  FUZZ_CHECK(accepted == (a >= 1 && b < 4), "version words %d %d judged %d", a, b, accepted);
  const BoxParaBlock p = CCaliLink::PrepareModuleBlock(block);
  FUZZ_CHECK(std::equal(p.begin(), p.begin() + kBoxSetA, block.begin()) &&
                 std::equal(p.begin() + kBoxExtension, p.end(), block.begin() + kBoxExtension),
             "preparing the block changed more than its coefficient sets");
  return 0;
}
