#include "frame/conv.h"

#include <charconv>
#include <cmath>
#include <cstdio>
#include <limits>
#include <vector>

namespace {

bool IsBlank(char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\v' || c == '\f'; }

template <class Int>
Int RealTo(double v) {
  if (std::isnan(v)) return 0;
  // Compare against limits that are exactly representable as doubles.
  const double lo = static_cast<double>(std::numeric_limits<Int>::min());
  const double hiExclusive = std::ldexp(1.0, std::numeric_limits<Int>::digits);
  if (v <= lo) return std::numeric_limits<Int>::min();
  if (v >= hiExclusive) return std::numeric_limits<Int>::max();
  return static_cast<Int>(v);  // truncation toward zero, in range
}

}  // namespace

int32_t CrtAtoi(const char* s) {
  if (!s) return 0;
  while (IsBlank(*s)) ++s;
  bool neg = false;
  if (*s == '+' || *s == '-') neg = (*s++ == '-');
  int64_t v = 0;
  bool saturated = false;
  for (; *s >= '0' && *s <= '9'; ++s) {
    if (!saturated) {
      v = v * 10 + (*s - '0');
      if (v > int64_t{1} << 32) saturated = true;
    }
  }
  if (neg) v = -v;
  if (saturated || v > std::numeric_limits<int32_t>::max())
    return neg ? std::numeric_limits<int32_t>::min() : std::numeric_limits<int32_t>::max();
  if (v < std::numeric_limits<int32_t>::min()) return std::numeric_limits<int32_t>::min();
  return static_cast<int32_t>(v);
}

double CrtAtof(const char* s) {
  if (!s) return 0.0;
  while (IsBlank(*s)) ++s;
  bool neg = false;
  if (*s == '+' || *s == '-') neg = (*s++ == '-');
  if (*s == '+' || *s == '-') return 0.0;  // a second sign is not a number
  const char* end = s;
  while (*end) ++end;
  double v = 0.0;
  auto r = std::from_chars(s, end, v, std::chars_format::general);
  if (r.ec == std::errc::result_out_of_range) {
    // Overflow gives infinity, underflow zero, as the C runtime does.
    bool tiny = false;
    for (const char* p = s; p < r.ptr; ++p)
      if (*p == 'e' || *p == 'E') tiny = p + 1 < r.ptr && p[1] == '-';
    v = tiny ? 0.0 : std::numeric_limits<double>::infinity();
  } else if (r.ec != std::errc()) {
    v = 0.0;
  }
  return neg ? -v : v;
}

int32_t RealToInt32(double v) { return RealTo<int32_t>(v); }
uint32_t RealToUInt32(double v) { return RealTo<uint32_t>(v); }
int64_t RealToInt64(double v) { return RealTo<int64_t>(v); }
uint16_t RealToUInt16(double v) { return RealTo<uint16_t>(v); }

std::string StrFormatV(const char* fmt, va_list ap) {
  char small[512];
  va_list ap2;
  va_copy(ap2, ap);
  int n = std::vsnprintf(small, sizeof small, fmt, ap2);
  va_end(ap2);
  if (n < 0) return std::string();
  if (static_cast<size_t>(n) < sizeof small) return std::string(small, static_cast<size_t>(n));
  std::vector<char> big(static_cast<size_t>(n) + 1);
  std::vsnprintf(big.data(), big.size(), fmt, ap);
  return std::string(big.data(), static_cast<size_t>(n));
}

std::string StrFormat(const char* fmt, ...) {
  va_list ap;
  va_start(ap, fmt);
  std::string s = StrFormatV(fmt, ap);
  va_end(ap);
  return s;
}
