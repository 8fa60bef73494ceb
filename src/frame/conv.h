#pragma once
// Conversions with defined results.
//
// Configuration numbers are parsed the way the Windows C runtime parses them: integers with
// optional sign and decimal digits, stopping at the first other character and saturating at the
// 32-bit limits; reals independent of the locale. Every conversion from a real to an integer goes
// through the helpers below (NaN becomes 0, everything else saturates at the target's limits), and
// shift counts taken from configuration are masked to 0..31.
#include <cstdarg>
#include <cstddef>
#include <cstdint>
#include <string>

#if defined(__MINGW32__)
#define QZ_PRINTF(f, a) __attribute__((format(gnu_printf, f, a)))
#else
#define QZ_PRINTF(f, a) __attribute__((format(printf, f, a)))
#endif

// atoi of the Windows C runtime: leading blanks, sign, decimal digits; saturating; 0 without digits.
int32_t CrtAtoi(const char* s);
inline int32_t CrtAtoi(const std::string& s) { return CrtAtoi(s.c_str()); }
// atof of the Windows C runtime, in the "C" locale whatever the process's locale is: leading blanks,
// the longest prefix that forms a number (decimal with exponent, "inf", "nan"); 0.0 without one.
double CrtAtof(const char* s);
inline double CrtAtof(const std::string& s) { return CrtAtof(s.c_str()); }

// Real to integer, truncating toward zero; NaN -> 0; out of range -> the nearest limit.
int32_t RealToInt32(double v);
uint32_t RealToUInt32(double v);
int64_t RealToInt64(double v);
uint16_t RealToUInt16(double v);

// A shift count taken from configuration.
inline uint32_t ShiftCount(int32_t n) { return static_cast<uint32_t>(n) & 31u; }

// vsnprintf with the dot as decimal point, whatever locale the host has set: writes at most size-1
// characters and a terminating NUL into buf (nothing when size is 0) and returns the length of the
// whole text, or -1 when it cannot be formatted. Every conversion of C99's printf is understood
// (flags, width, precision, `*`, the length modifiers hh h l ll j z t L). Doubles are formatted by
// std::to_chars and come out the same on every platform ("inf", "nan", "-nan", hex as "0x1.8p+1");
// long doubles by the C runtime with its decimal point replaced by the dot. The grouping flag (')
// is ignored: integers never carry separators.
int VFormat(char* buf, size_t size, const char* fmt, va_list ap);

// VFormat into a string (no allocation beyond the string's own for texts under 512 characters).
std::string StrFormat(const char* fmt, ...) QZ_PRINTF(1, 2);
std::string StrFormatV(const char* fmt, va_list ap);
