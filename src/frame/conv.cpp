#include "frame/conv.h"

#include <charconv>
#include <clocale>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <cwchar>
#include <limits>
#include <type_traits>
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

// ---- Formatting -------------------------------------------------------------------------------
//
// VFormat walks the format itself. Literal text is copied; integers, characters of the wide kind,
// wide strings and pointers are formatted one conversion at a time by the C runtime (their output
// does not follow the locale once the grouping flag is dropped); texts and reals are formatted
// here, reals by std::to_chars, which never consults the locale.

namespace {

// The destination: the first size-1 characters land in buf, everything is counted.
class Sink {
 public:
  Sink(char* buf, size_t size) : buf_(buf), room_(size ? size - 1 : 0) {}
  void Put(const char* s, size_t n) {
    if (len_ < room_) std::memcpy(buf_ + len_, s, n < room_ - len_ ? n : room_ - len_);
    len_ += n;
  }
  void Fill(char c, size_t n) {
    if (len_ < room_) std::memset(buf_ + len_, c, n < room_ - len_ ? n : room_ - len_);
    len_ += n;
  }
  void Fail() { failed_ = true; }
  size_t Length() const { return len_; }
  int Finish(size_t size) {
    if (size) buf_[len_ < room_ ? len_ : room_] = '\0';
    if (failed_ || len_ > static_cast<size_t>(std::numeric_limits<int>::max())) return -1;
    return static_cast<int>(len_);
  }

 private:
  char* buf_;
  size_t room_;
  size_t len_ = 0;
  bool failed_ = false;
};

enum class Len { kNone, kHH, kH, kL, kLL, kJ, kZ, kT, kBigL };

struct Spec {
  bool left = false, plus = false, space = false, alt = false, zero = false;
  size_t width = 0;
  int precision = -1;  // -1: none given
  Len len = Len::kNone;
  char conv = 0;
};

constexpr size_t kMaxCount = static_cast<size_t>(std::numeric_limits<int>::max());

// Decimal digits of a width or precision, saturating.
size_t Digits(const char*& p) {
  size_t v = 0;
  for (; *p >= '0' && *p <= '9'; ++p)
    v = v < kMaxCount / 10 ? v * 10 + static_cast<size_t>(*p - '0') : kMaxCount;
  return v;
}

const char* LenText(Len len) {
  switch (len) {
    case Len::kHH: return "hh";
    case Len::kH: return "h";
    case Len::kL: return "l";
    case Len::kLL: return "ll";
    case Len::kJ: return "j";
    case Len::kZ: return "z";
    case Len::kT: return "t";
    case Len::kBigL: return "L";
    default: return "";
  }
}

// The conversion as a format of its own for the C runtime, with width and precision resolved.
// Without `withWidth` the width and the flags that place the padding are left out.
void RuntimeSpec(const Spec& s, bool withWidth, char (&out)[48]) {
  char* p = out;
  *p++ = '%';
  if (withWidth && s.left) *p++ = '-';
  if (s.plus) *p++ = '+';
  if (s.space) *p++ = ' ';
  if (s.alt) *p++ = '#';
  if (withWidth && s.zero) *p++ = '0';
  char* end = out + sizeof out - 8;
  if (withWidth && s.width) p = std::to_chars(p, end, s.width).ptr;
  if (s.precision >= 0) {
    *p++ = '.';
    p = std::to_chars(p, end, s.precision).ptr;
  }
  for (const char* l = LenText(s.len); *l;) *p++ = *l++;
  *p++ = s.conv;
  *p = '\0';
}

#if defined(__GNUC__)
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wformat-nonliteral"
#endif
// One conversion by the C runtime into `out` (grown when the text is long); returns its length or
// -1.
template <class T>
int RuntimeFormat(const char* spec, T v, std::vector<char>& heap, char (&small)[128], char*& out) {
  int n = std::snprintf(small, sizeof small, spec, v);
  out = small;
  if (n < 0 || static_cast<size_t>(n) < sizeof small) return n;
  heap.resize(static_cast<size_t>(n) + 1);
  n = std::snprintf(heap.data(), heap.size(), spec, v);
  out = heap.data();
  return n;
}
#if defined(__GNUC__)
#pragma GCC diagnostic pop
#endif

template <class T>
void Runtime(Sink& sink, const Spec& s, T v) {
  char spec[48];
  RuntimeSpec(s, true, spec);
  char small[128];
  std::vector<char> heap;
  char* text = nullptr;
  int n = RuntimeFormat(spec, v, heap, small, text);
  if (n < 0) return sink.Fail();
  sink.Put(text, static_cast<size_t>(n));
}

// Writes `text` (n characters, the first `prefix` of them sign and "0x") padded to the width:
// blanks before, blanks after with '-', zeros after the prefix with '0' when `zeroPads`.
void Padded(Sink& sink, const Spec& s, const char* text, size_t n, size_t prefix, bool zeroPads) {
  const size_t pad = s.width > n ? s.width - n : 0;
  if (s.left) {
    sink.Put(text, n);
    sink.Fill(' ', pad);
  } else if (s.zero && zeroPads) {
    sink.Put(text, prefix);
    sink.Fill('0', pad);
    sink.Put(text + prefix, n - prefix);
  } else {
    sink.Fill(' ', pad);
    sink.Put(text, n);
  }
}

void Text(Sink& sink, const Spec& s, const char* str) {
  if (!str) str = "(null)";
  // With a precision the text need not end within it (a fixed-size field).
  size_t n = 0;
  if (s.precision < 0) {
    n = std::strlen(str);
  } else {
    const void* nul = std::memchr(str, '\0', static_cast<size_t>(s.precision));
    n = nul ? static_cast<size_t>(static_cast<const char*>(nul) - str) : static_cast<size_t>(s.precision);
  }
  Padded(sink, s, str, n, 0, false);
}

bool IsUpper(char conv) { return conv == 'F' || conv == 'E' || conv == 'G' || conv == 'A'; }

// Puts a decimal point before the exponent marker (or at the end) when the digits have none.
void EnsurePoint(char* first, char*& last, char marker) {
  char* at = last;
  for (char* p = first; p < last; ++p) {
    if (*p == '.') return;
    if (*p == marker && at == last) at = p;
  }
  std::memmove(at + 1, at, static_cast<size_t>(last - at));
  *at = '.';
  ++last;
}

// The digits of a finite or non-finite double, without the sign's flags: what printf writes in
// the "C" locale. `first` has room for 3 characters before it (sign and "0x"); two after the
// digits are kept free for a decimal point.
char* RealDigits(const Spec& s, double v, char* first, char* last) {
  const char c = static_cast<char>(s.conv | 0x20);  // lower case
  const int prec = s.precision;
  std::to_chars_result r{};
  if (c == 'f') {
    r = std::to_chars(first, last, v, std::chars_format::fixed, prec < 0 ? 6 : prec);
  } else if (c == 'e') {
    r = std::to_chars(first, last, v, std::chars_format::scientific, prec < 0 ? 6 : prec);
  } else if (c == 'a') {
    r = prec < 0 ? std::to_chars(first, last, v, std::chars_format::hex)
                 : std::to_chars(first, last, v, std::chars_format::hex, prec);
  } else if (!s.alt || !std::isfinite(v)) {
    r = std::to_chars(first, last, v, std::chars_format::general, prec < 0 ? 6 : prec);
  } else {
    // '#' with g keeps the trailing zeros: the style that g picks, with every significant digit.
    const int p = prec < 0 ? 6 : (prec == 0 ? 1 : prec);
    r = std::to_chars(first, last, v, std::chars_format::scientific, p - 1);
    int x = 0;
    if (r.ec == std::errc()) {
      const char* e = static_cast<const char*>(std::memchr(first, 'e', static_cast<size_t>(r.ptr - first)));
      if (e) std::from_chars(e + (e[1] == '+' ? 2 : 1), r.ptr, x);
    }
    if (r.ec == std::errc() && p > x && x >= -4)
      r = std::to_chars(first, last, v, std::chars_format::fixed, p - 1 - x);
  }
  return r.ec == std::errc() ? r.ptr : nullptr;
}

// Sign, "0x" and decimal point around the digits in [mag, end); returns the start of the text
// and the prefix length.
char* RealPrefix(const Spec& s, bool negative, bool finite, char* mag, char*& end, size_t& prefix) {
  const bool hex = (s.conv | 0x20) == 'a';
  if (s.alt && finite) EnsurePoint(mag, end, hex ? 'p' : ((s.conv | 0x20) == 'f' ? '\0' : 'e'));
  char* start = mag;
  if (hex && finite) {
    *--start = 'x';
    *--start = '0';
  }
  if (negative)
    *--start = '-';
  else if (s.plus)
    *--start = '+';
  else if (s.space)
    *--start = ' ';
  prefix = static_cast<size_t>(mag - start);
  if (IsUpper(s.conv))
    for (char* p = start; p < end; ++p)
      if (*p >= 'a' && *p <= 'z') *p = static_cast<char>(*p - 0x20);
  return start;
}

void Real(Sink& sink, const Spec& s, double v) {
  char small[400];
  std::vector<char> heap;
  const size_t need = 360 + static_cast<size_t>(s.precision < 0 ? 0 : s.precision);
  char* buf = small;
  if (need > sizeof small) {
    heap.resize(need);
    buf = heap.data();
  }
  char* first = buf + 3;
  char* end = RealDigits(s, v, first, buf + need - 2);
  if (!end) return sink.Fail();
  const bool negative = *first == '-';
  char* mag = negative ? first + 1 : first;
  size_t prefix = 0;
  char* start = RealPrefix(s, negative, std::isfinite(v), mag, end, prefix);
  Padded(sink, s, start, static_cast<size_t>(end - start), prefix, std::isfinite(v));
}

// long double: the C runtime's text without width, its decimal point replaced by the dot, then
// padded here.
void RealLong(Sink& sink, const Spec& s, long double v) {
  char spec[48];
  RuntimeSpec(s, false, spec);
  char small[128];
  std::vector<char> heap;
  char* text = nullptr;
  int n = RuntimeFormat(spec, v, heap, small, text);
  if (n < 0) return sink.Fail();
  size_t len = static_cast<size_t>(n);
  const char* point = std::localeconv()->decimal_point;
  if (point && *point && std::strcmp(point, ".") != 0) {
    if (char* at = std::strstr(text, point)) {
      const size_t pointLen = std::strlen(point);
      *at = '.';
      std::memmove(at + 1, at + pointLen, len - static_cast<size_t>(at - text) - pointLen + 1);
      len -= pointLen - 1;
    }
  }
  size_t prefix = 0;
  if (len && (text[0] == '-' || text[0] == '+' || text[0] == ' ')) prefix = 1;
  if ((s.conv | 0x20) == 'a' && len > prefix + 1 && text[prefix] == '0' && (text[prefix + 1] | 0x20) == 'x')
    prefix += 2;
  Padded(sink, s, text, len, prefix, std::isfinite(v));
}

template <class T>
void StoreCount(void* p, size_t n) {
  *static_cast<T*>(p) = static_cast<T>(n);
}

}  // namespace

int VFormat(char* buf, size_t size, const char* fmt, va_list ap) {
  Sink sink(buf, size);
  va_list args;
  va_copy(args, ap);
  const char* p = fmt ? fmt : "";
  while (*p) {
    const char* literal = p;
    while (*p && *p != '%') ++p;
    sink.Put(literal, static_cast<size_t>(p - literal));
    if (!*p) break;
    const char* directive = p++;
    if (*p == '%') {
      sink.Put("%", 1);
      ++p;
      continue;
    }
    Spec s;
    for (;; ++p) {
      if (*p == '-') s.left = true;
      else if (*p == '+') s.plus = true;
      else if (*p == ' ') s.space = true;
      else if (*p == '#') s.alt = true;
      else if (*p == '0') s.zero = true;
      else if (*p != '\'' && *p != 'I') break;  // grouping and locale digits: ignored
    }
    if (*p == '*') {
      ++p;
      const int w = va_arg(args, int);
      if (w < 0) s.left = true;
      s.width = w < 0 ? static_cast<size_t>(-static_cast<int64_t>(w)) : static_cast<size_t>(w);
    } else {
      s.width = Digits(p);
    }
    if (*p == '.') {
      ++p;
      if (*p == '*') {
        ++p;
        const int pr = va_arg(args, int);
        s.precision = pr < 0 ? -1 : pr;
      } else {
        s.precision = static_cast<int>(Digits(p));
      }
    }
    switch (*p) {
      case 'h': s.len = p[1] == 'h' ? Len::kHH : Len::kH; p += p[1] == 'h' ? 2 : 1; break;
      case 'l': s.len = p[1] == 'l' ? Len::kLL : Len::kL; p += p[1] == 'l' ? 2 : 1; break;
      case 'q': s.len = Len::kLL; ++p; break;
      case 'j': s.len = Len::kJ; ++p; break;
      case 'z': s.len = Len::kZ; ++p; break;
      case 't': s.len = Len::kT; ++p; break;
      case 'L': s.len = Len::kBigL; ++p; break;
      default: break;
    }
    s.conv = *p;
    if (!s.conv) {  // a directive cut short by the end of the format stays as it is
      sink.Put(directive, static_cast<size_t>(p - directive));
      break;
    }
    ++p;
    if (s.conv == 'C' || s.conv == 'S') {  // the wide character and wide string of old
      s.len = Len::kL;
      s.conv = s.conv == 'C' ? 'c' : 's';
    }
    switch (s.conv) {
      case 'd':
      case 'i':
        switch (s.len) {
          case Len::kL: Runtime(sink, s, va_arg(args, long)); break;
          case Len::kLL:
          case Len::kBigL: s.len = Len::kLL; Runtime(sink, s, va_arg(args, long long)); break;
          case Len::kJ: Runtime(sink, s, va_arg(args, intmax_t)); break;
          case Len::kZ: Runtime(sink, s, va_arg(args, std::make_signed_t<size_t>)); break;
          case Len::kT: Runtime(sink, s, va_arg(args, ptrdiff_t)); break;
          default: Runtime(sink, s, va_arg(args, int)); break;
        }
        break;
      case 'o':
      case 'u':
      case 'x':
      case 'X':
        switch (s.len) {
          case Len::kL: Runtime(sink, s, va_arg(args, unsigned long)); break;
          case Len::kLL:
          case Len::kBigL: s.len = Len::kLL; Runtime(sink, s, va_arg(args, unsigned long long)); break;
          case Len::kJ: Runtime(sink, s, va_arg(args, uintmax_t)); break;
          case Len::kZ: Runtime(sink, s, va_arg(args, size_t)); break;
          case Len::kT: Runtime(sink, s, va_arg(args, std::make_unsigned_t<ptrdiff_t>)); break;
          default: Runtime(sink, s, va_arg(args, unsigned)); break;
        }
        break;
      case 'f':
      case 'F':
      case 'e':
      case 'E':
      case 'g':
      case 'G':
      case 'a':
      case 'A':
        if (s.len == Len::kBigL)
          RealLong(sink, s, va_arg(args, long double));
        else
          Real(sink, s, va_arg(args, double));
        break;
      case 'c':
        if (s.len == Len::kL) {
          // wint_t is promoted to int where it is narrower.
          using WideCharArg = std::conditional_t<(sizeof(wint_t) < sizeof(int)), int, wint_t>;
          Runtime(sink, s, static_cast<wint_t>(va_arg(args, WideCharArg)));
        } else {
          const char ch = static_cast<char>(va_arg(args, int));
          Padded(sink, s, &ch, 1, 0, false);
        }
        break;
      case 's':
        if (s.len == Len::kL)
          Runtime(sink, s, va_arg(args, const wchar_t*));
        else
          Text(sink, s, va_arg(args, const char*));
        break;
      case 'p': Runtime(sink, s, va_arg(args, void*)); break;
      case 'n': {
        void* target = va_arg(args, void*);
        const size_t n = sink.Length();
        switch (s.len) {
          case Len::kHH: StoreCount<signed char>(target, n); break;
          case Len::kH: StoreCount<short>(target, n); break;
          case Len::kL: StoreCount<long>(target, n); break;
          case Len::kLL: case Len::kBigL: StoreCount<long long>(target, n); break;
          case Len::kJ: StoreCount<intmax_t>(target, n); break;
          case Len::kZ: StoreCount<size_t>(target, n); break;
          case Len::kT: StoreCount<ptrdiff_t>(target, n); break;
          default: StoreCount<int>(target, n); break;
        }
        break;
      }
      default:  // not a conversion: the directive is written as it stands
        sink.Put(directive, static_cast<size_t>(p - directive));
        break;
    }
  }
  va_end(args);
  return sink.Finish(size);
}

std::string StrFormatV(const char* fmt, va_list ap) {
  char small[512];
  va_list ap2;
  va_copy(ap2, ap);
  int n = VFormat(small, sizeof small, fmt, ap2);
  va_end(ap2);
  if (n < 0) return std::string();
  if (static_cast<size_t>(n) < sizeof small) return std::string(small, static_cast<size_t>(n));
  std::string s(static_cast<size_t>(n), '\0');
  VFormat(s.data(), s.size() + 1, fmt, ap);
  return s;
}

std::string StrFormat(const char* fmt, ...) {
  va_list ap;
  va_start(ap, fmt);
  std::string s = StrFormatV(fmt, ap);
  va_end(ap);
  return s;
}
