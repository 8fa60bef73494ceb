// Our calibration module: the entry points of "Corrix" over the plain model of corrix_api.h.
#include <cmath>
#include <cstring>
#include <mutex>
#include <type_traits>
#include <vector>

#include "calibration/cali_module_api.h"
#include "corrix_api.h"

#if defined(_WIN32)
#define CORRIX_ENTRY extern "C" __declspec(dllexport) int32_t CALI_MODULE_CALL
#else
#define CORRIX_ENTRY extern "C" __attribute__((visibility("default"))) int32_t CALI_MODULE_CALL
#endif

namespace {

constexpr int kContexts = 8;

struct Context {
  bool exists = false;
  corrix_model m{};
  std::vector<double> pairs;    // 2 x rows x cols
  std::vector<double> diffRows; // 5 x diff_rows
};

struct Module {
  std::mutex mu;
  Context ctx[kContexts];
  uint32_t counts[CORRIX_ENTRY_COUNT] = {};
  bool fail[CORRIX_ENTRY_COUNT] = {};
  bool havePoint = false;
  corrix_point last{};
};

Module& M() {
  static Module m;
  return m;
}

// Counts the call; false when the entry is set to fail.
bool Enter(Module& m, int entry) {
  ++m.counts[entry];
  return !m.fail[entry];
}

Context* Find(Module& m, int32_t c) {
  if (c < 0 || c >= kContexts || !m.ctx[c].exists) return nullptr;
  return &m.ctx[c];
}

// The records as the library packs them: little-endian fields at fixed offsets.
int32_t Rd32(const uint8_t* p) {
  return static_cast<int32_t>(static_cast<uint32_t>(p[0]) | static_cast<uint32_t>(p[1]) << 8 |
                              static_cast<uint32_t>(p[2]) << 16 | static_cast<uint32_t>(p[3]) << 24);
}
double RdF64(const uint8_t* p) {
  uint64_t bits = 0;
  for (int i = 7; i >= 0; --i) bits = bits << 8 | p[i];
  double v;
  std::memcpy(&v, &bits, sizeof v);
  return v;
}
const double* RdPtr(const uint8_t* p) {
  const double* v;
  std::memcpy(&v, p, sizeof v);
  return v;
}

double Field(double f) { return f > 0.1 ? f : 100.0; }

// Bilinear offset of the grid at (x, y); the border value outside.
void GridOffset(const Context& c, double x, double y, double& dx, double& dy) {
  const int rows = c.m.rows, cols = c.m.cols;
  if (rows < 2 || cols < 2) return;
  double u = (x + c.m.field_x / 2.0) / c.m.field_x * (cols - 1);
  double v = (y + c.m.field_y / 2.0) / c.m.field_y * (rows - 1);
  if (!(u > 0.0)) u = 0.0;
  if (!(v > 0.0)) v = 0.0;
  if (u > cols - 1) u = cols - 1;
  if (v > rows - 1) v = rows - 1;
  int c0 = static_cast<int>(u), r0 = static_cast<int>(v);
  if (c0 > cols - 2) c0 = cols - 2;
  if (r0 > rows - 2) r0 = rows - 2;
  const double fu = u - c0, fv = v - r0;
  auto at = [&](int r, int col, int k) { return c.pairs[2 * (static_cast<size_t>(r) * cols + col) + k]; };
  for (int k = 0; k < 2; ++k) {
    const double top = at(r0, c0, k) * (1.0 - fu) + at(r0, c0 + 1, k) * fu;
    const double bottom = at(r0 + 1, c0, k) * (1.0 - fu) + at(r0 + 1, c0 + 1, k) * fu;
    (k == 0 ? dx : dy) += top * (1.0 - fv) + bottom * fv;
  }
}

int32_t Code(double p, double field) {
  const double v = (p + field / 2.0) * 65535.0 / field;
  if (std::isnan(v)) return 0;
  if (v >= 2147483647.0) return INT32_MAX;
  if (v <= -2147483648.0) return INT32_MIN;
  return static_cast<int32_t>(v);
}

int32_t Compute(int entry, int32_t context, double x, double y, int32_t* first, int32_t* second, int32_t table) {
  Module& m = M();
  std::lock_guard<std::mutex> g(m.mu);
  if (!Enter(m, entry)) return 1;
  m.havePoint = true;
  m.last = corrix_point{context, table, x, y};
  const Context* c = Find(m, context);
  if (!c || !first || !second) return 1;
  double dx = 0.0, dy = 0.0;
  if (c->m.type == 0) {
    const double* k = c->m.coef;
    dx += k[0] + k[1] * x + k[2] * y;
    dy += k[3] + k[4] * x + k[5] * y;
  } else {
    GridOffset(*c, x, y, dx, dy);
  }
  for (int32_t r = 0; r < c->m.diff_rows; ++r) {
    const double* row = &c->diffRows[5 * static_cast<size_t>(r)];
    const double ex = x - row[0], ey = y - row[1];
    if (std::sqrt(ex * ex + ey * ey) <= row[2]) {
      dx += row[3];
      dy += row[4];
    }
  }
  if (table == 1) {
    dx += c->m.table1_dx;
    dy += c->m.table1_dy;
  }
  *first = Code(x + dx, c->m.field_x);
  *second = Code(y + dy, c->m.field_y);
  return 0;
}

}  // namespace

CORRIX_ENTRY Initial(int32_t /*flag*/) {
  Module& m = M();
  std::lock_guard<std::mutex> g(m.mu);
  if (!Enter(m, CORRIX_ENTRY_INITIAL)) return 1;
  for (Context& c : m.ctx) c = Context{};
  return 0;
}

CORRIX_ENTRY Create(int32_t context, int32_t type, const void* block, const void* second) {
  Module& m = M();
  std::lock_guard<std::mutex> g(m.mu);
  if (!Enter(m, CORRIX_ENTRY_CREATE)) return 1;
  if (context < 0 || context >= kContexts || !block || !second || (type != CALI_BOX_2D && type != CALI_BOX_3D))
    return 1;
  Context c;
  c.exists = true;
  c.m.type = type;
  const uint8_t* b = static_cast<const uint8_t*>(block);
  if (type == CALI_BOX_2D) {
    c.m.field_x = c.m.field_y = RdF64(b + CALI_2D_REALS);
    for (int k = 0; k < 6; ++k) c.m.coef[k] = RdF64(b + CALI_2D_REALS + 8 * (k + 1));
  } else {
    const uint8_t* grid = b + CALI_3D_SIZE;
    c.m.rows = Rd32(grid + CALI_GRID_ROWS);
    c.m.cols = Rd32(grid + CALI_GRID_COLS);
    c.m.field_x = Field(RdF64(grid + CALI_GRID_FIELD_X));
    c.m.field_y = Field(RdF64(grid + CALI_GRID_FIELD_Y));
    const double* pairs = RdPtr(grid + CALI_GRID_PAIRS);
    if (c.m.rows > 0 && c.m.cols > 0 && pairs) {
      c.pairs.assign(pairs, pairs + 2 * static_cast<size_t>(c.m.rows) * static_cast<size_t>(c.m.cols));
      c.m.first_pair[0] = c.pairs[0];
      c.m.first_pair[1] = c.pairs[1];
      c.m.last_pair[0] = c.pairs[c.pairs.size() - 2];
      c.m.last_pair[1] = c.pairs[c.pairs.size() - 1];
    } else {
      c.m.rows = c.m.cols = 0;
    }
  }
  const uint8_t* s = static_cast<const uint8_t*>(second);
  c.m.table1_dx = RdF64(s + CALI_SECOND_REALS);
  c.m.table1_dy = RdF64(s + CALI_SECOND_REALS + 8);
  m.ctx[context] = std::move(c);
  return 0;
}

CORRIX_ENTRY Del(int32_t context) {
  Module& m = M();
  std::lock_guard<std::mutex> g(m.mu);
  if (!Enter(m, CORRIX_ENTRY_DEL)) return 1;
  Context* c = Find(m, context);
  if (!c) return 1;
  *c = Context{};
  return 0;
}

CORRIX_ENTRY DelAll() {
  Module& m = M();
  std::lock_guard<std::mutex> g(m.mu);
  if (!Enter(m, CORRIX_ENTRY_DELALL)) return 1;
  for (Context& c : m.ctx) c = Context{};
  return 0;
}

namespace {
int32_t CountOnly(int entry, int32_t context) {
  Module& m = M();
  std::lock_guard<std::mutex> g(m.mu);
  if (!Enter(m, entry)) return 1;
  return Find(m, context) ? 0 : 1;
}
}  // namespace

CORRIX_ENTRY SetCaliPara(int32_t context, const void*) { return CountOnly(CORRIX_ENTRY_SETCALIPARA, context); }
CORRIX_ENTRY SetRedPara(int32_t context, const void*) { return CountOnly(CORRIX_ENTRY_SETREDPARA, context); }
CORRIX_ENTRY Set3DPara(int32_t context, const void*) { return CountOnly(CORRIX_ENTRY_SET3DPARA, context); }

CORRIX_ENTRY EnableDiffCorr(int32_t context, double size, int32_t n, const double* rows) {
  Module& m = M();
  std::lock_guard<std::mutex> g(m.mu);
  if (!Enter(m, CORRIX_ENTRY_ENABLEDIFFCORR)) return 1;
  Context* c = Find(m, context);
  if (!c || n < 0 || (n > 0 && !rows)) return 1;
  c->diffRows.assign(rows, rows + 5 * static_cast<size_t>(n));
  c->m.diff_rows = n;
  c->m.diff_size = size;
  for (int k = 0; k < 5; ++k) c->m.first_diff_row[k] = n > 0 ? rows[k] : 0.0;
  return 0;
}

CORRIX_ENTRY DisableDiffCorr(int32_t context) {
  Module& m = M();
  std::lock_guard<std::mutex> g(m.mu);
  if (!Enter(m, CORRIX_ENTRY_DISABLEDIFFCORR)) return 1;
  Context* c = Find(m, context);
  if (!c) return 1;
  c->diffRows.clear();
  c->m.diff_rows = 0;
  c->m.diff_size = 0.0;
  for (double& v : c->m.first_diff_row) v = 0.0;
  return 0;
}

CORRIX_ENTRY Do2DCali(int32_t context, double x, double y, int32_t* first, int32_t* second, int32_t table) {
  return Compute(CORRIX_ENTRY_DO2DCALI, context, x, y, first, second, table);
}

CORRIX_ENTRY Do3DCali(int32_t context, double x, double y, double /*z*/, int32_t* first, int32_t* second,
                      int32_t table) {
  return Compute(CORRIX_ENTRY_DO3DCALI, context, x, y, first, second, table);
}

// The library calls these through the typed pointers of cali_module_api.h.
static_assert(std::is_same_v<decltype(&Initial), CorrixInitialFn>);
static_assert(std::is_same_v<decltype(&Create), CorrixCreateFn>);
static_assert(std::is_same_v<decltype(&Del), CorrixDelFn>);
static_assert(std::is_same_v<decltype(&DelAll), CorrixDelAllFn>);
static_assert(std::is_same_v<decltype(&SetCaliPara), CorrixSetParaFn>);
static_assert(std::is_same_v<decltype(&EnableDiffCorr), CorrixEnableDiffCorrFn>);
static_assert(std::is_same_v<decltype(&DisableDiffCorr), CorrixDisableDiffCorrFn>);
static_assert(std::is_same_v<decltype(&Do2DCali), CorrixDo2DCaliFn>);
static_assert(std::is_same_v<decltype(&Do3DCali), CorrixDo3DCaliFn>);

extern "C" {

CORRIX_API int32_t CORRIX_CALL corrix_reset(void) {
  Module& m = M();
  std::lock_guard<std::mutex> g(m.mu);
  for (Context& c : m.ctx) c = Context{};
  for (int e = 0; e < CORRIX_ENTRY_COUNT; ++e) {
    m.counts[e] = 0;
    m.fail[e] = false;
  }
  m.havePoint = false;
  m.last = corrix_point{};
  return 0;
}

CORRIX_API uint32_t CORRIX_CALL corrix_count(int32_t entry) {
  Module& m = M();
  std::lock_guard<std::mutex> g(m.mu);
  return entry >= 0 && entry < CORRIX_ENTRY_COUNT ? m.counts[entry] : 0;
}

CORRIX_API int32_t CORRIX_CALL corrix_fail(int32_t entry, int32_t on) {
  Module& m = M();
  std::lock_guard<std::mutex> g(m.mu);
  if (entry < 0 || entry >= CORRIX_ENTRY_COUNT) return 1;
  m.fail[entry] = on != 0;
  return 0;
}

CORRIX_API int32_t CORRIX_CALL corrix_last_point(corrix_point* out) {
  Module& m = M();
  std::lock_guard<std::mutex> g(m.mu);
  if (!out || !m.havePoint) return 1;
  *out = m.last;
  return 0;
}

CORRIX_API int32_t CORRIX_CALL corrix_get_model(int32_t context, corrix_model* out) {
  Module& m = M();
  std::lock_guard<std::mutex> g(m.mu);
  const Context* c = Find(m, context);
  if (!c || !out) return 1;
  *out = c->m;
  return 0;
}

}  // extern "C"
