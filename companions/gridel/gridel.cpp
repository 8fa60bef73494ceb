// Our box-correction module: the entry points of "Gridel" over the plain model of gridel_api.h.
#include <cstring>
#include <mutex>
#include <type_traits>

#include "calibration/cali_module_api.h"
#include "gridel_api.h"

#if defined(_WIN32)
#define GRIDEL_ENTRY extern "C" __declspec(dllexport) int32_t CALI_MODULE_CALL
#else
#define GRIDEL_ENTRY extern "C" __attribute__((visibility("default"))) int32_t CALI_MODULE_CALL
#endif

namespace {

constexpr size_t kFocalLength = 96;   // f64
constexpr size_t kSetBX = 268;        // first row of set B for X: 3 of its 5 reals
constexpr size_t kSetBY = 268 + 160;  // first row of set B for Y (row 4)

struct Module {
  std::mutex mu;
  bool haveBlock = false;
  uint8_t block[CALI_BOX_PARA_SIZE] = {};
  uint32_t counts[GRIDEL_ENTRY_COUNT] = {};
  bool fail[GRIDEL_ENTRY_COUNT] = {};
  bool rangeSet = false;
  double range = 0.0;
  bool havePoint = false;
  double lastPoint[2] = {};
};

Module& M() {
  static Module m;
  return m;
}

bool Enter(Module& m, int entry) {
  ++m.counts[entry];
  return !m.fail[entry];
}

double RdF64(const uint8_t* p) {
  uint64_t bits = 0;
  for (int i = 7; i >= 0; --i) bits = bits << 8 | p[i];
  double v;
  std::memcpy(&v, &bits, sizeof v);
  return v;
}

}  // namespace

GRIDEL_ENTRY SetCaliPara(int32_t mode, const void* block) {
  Module& m = M();
  std::lock_guard<std::mutex> g(m.mu);
  if (!Enter(m, GRIDEL_ENTRY_SETCALIPARA)) return 1;
  if (mode != 1 || !block) return 1;
  std::memcpy(m.block, block, CALI_BOX_PARA_SIZE);
  m.haveBlock = true;
  return 0;
}

GRIDEL_ENTRY GetBoxSize(double* halfRange) {
  Module& m = M();
  std::lock_guard<std::mutex> g(m.mu);
  if (!Enter(m, GRIDEL_ENTRY_GETBOXSIZE)) return 1;
  if (!halfRange) return 1;
  if (m.rangeSet)
    *halfRange = m.range;
  else
    *halfRange = (m.haveBlock ? RdF64(m.block + kFocalLength) : 160.0) / 16.0;
  return 0;
}

GRIDEL_ENTRY Cali(const double* in, double* out) {
  Module& m = M();
  std::lock_guard<std::mutex> g(m.mu);
  if (!Enter(m, GRIDEL_ENTRY_CALI)) return 1;
  if (!in || !out) return 1;
  const double x = in[0], y = in[1];
  m.havePoint = true;
  m.lastPoint[0] = x;
  m.lastPoint[1] = y;
  double bx[3] = {}, by[3] = {};
  if (m.haveBlock) {
    for (int k = 0; k < 3; ++k) {
      bx[k] = RdF64(m.block + kSetBX + 8 * k);
      by[k] = RdF64(m.block + kSetBY + 8 * k);
    }
  }
  out[0] = x + bx[0] + bx[1] * x + bx[2] * y;
  out[1] = y + by[0] + by[1] * x + by[2] * y;
  return 0;
}

// The library calls these through the typed pointers of cali_module_api.h.
static_assert(std::is_same_v<decltype(&SetCaliPara), GridelSetCaliParaFn>);
static_assert(std::is_same_v<decltype(&GetBoxSize), GridelGetBoxSizeFn>);
static_assert(std::is_same_v<decltype(&Cali), GridelCaliFn>);

extern "C" {

GRIDEL_API int32_t GRIDEL_CALL gridel_reset(void) {
  Module& m = M();
  std::lock_guard<std::mutex> g(m.mu);
  m.haveBlock = false;
  std::memset(m.block, 0, sizeof m.block);
  for (int e = 0; e < GRIDEL_ENTRY_COUNT; ++e) {
    m.counts[e] = 0;
    m.fail[e] = false;
  }
  m.rangeSet = false;
  m.havePoint = false;
  return 0;
}

GRIDEL_API uint32_t GRIDEL_CALL gridel_count(int32_t entry) {
  Module& m = M();
  std::lock_guard<std::mutex> g(m.mu);
  return entry >= 0 && entry < GRIDEL_ENTRY_COUNT ? m.counts[entry] : 0;
}

GRIDEL_API int32_t GRIDEL_CALL gridel_fail(int32_t entry, int32_t on) {
  Module& m = M();
  std::lock_guard<std::mutex> g(m.mu);
  if (entry < 0 || entry >= GRIDEL_ENTRY_COUNT) return 1;
  m.fail[entry] = on != 0;
  return 0;
}

GRIDEL_API int32_t GRIDEL_CALL gridel_set_range(double range, int32_t on) {
  Module& m = M();
  std::lock_guard<std::mutex> g(m.mu);
  m.rangeSet = on != 0;
  m.range = range;
  return 0;
}

GRIDEL_API int32_t GRIDEL_CALL gridel_last_block(uint8_t* out) {
  Module& m = M();
  std::lock_guard<std::mutex> g(m.mu);
  if (!out || !m.haveBlock) return 1;
  std::memcpy(out, m.block, CALI_BOX_PARA_SIZE);
  return 0;
}

GRIDEL_API int32_t GRIDEL_CALL gridel_last_point(double* in) {
  Module& m = M();
  std::lock_guard<std::mutex> g(m.mu);
  if (!in || !m.havePoint) return 1;
  in[0] = m.lastPoint[0];
  in[1] = m.lastPoint[1];
  return 0;
}

}  // extern "C"
