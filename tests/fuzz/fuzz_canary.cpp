// Not a parser: the canary of the fuzz builds' sanitizer settings. The input "overflow" overflows a
// signed addition, and a fuzz build must stop at that first report with the input saved, so that a
// long run leaves nothing behind that it only printed (test Fuzz.StopsAtFirstReport*).
#include <cstdint>
#include <cstring>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  volatile int32_t big = INT32_MAX;
  if (size == 8 && std::memcmp(data, "overflow", 8) == 0) return big + static_cast<int32_t>(size) < 0;
  return 0;
}
