// Message boxes, debug output and the timer resolution on Win32.
#include <windows.h>

#include <string>

#include "platform/debug_out.h"
#include "platform/detail.h"

namespace plat {

namespace {

// UTF-8 to UTF-16. Text that is not valid UTF-8 (bytes from a language file in the system's code
// page) is read in the system's code page instead.
std::wstring Widen(const std::string& text) {
  if (text.empty()) return {};
  const int len = static_cast<int>(text.size());
  UINT cp = CP_UTF8;
  int n = MultiByteToWideChar(cp, MB_ERR_INVALID_CHARS, text.data(), len, nullptr, 0);
  if (n <= 0) {
    cp = CP_ACP;
    n = MultiByteToWideChar(cp, 0, text.data(), len, nullptr, 0);
    if (n <= 0) return {};
  }
  std::wstring out(static_cast<size_t>(n), L'\0');
  MultiByteToWideChar(cp, 0, text.data(), len, out.data(), n);
  return out;
}

// timeBeginPeriod / timeEndPeriod of winmm.dll, loaded at the first use only: a program that never
// changes the timer resolution does not load the multimedia system (which brings its audio drivers
// and their threads into the process).
using TimePeriodFn = UINT(WINAPI*)(UINT);
TimePeriodFn WinmmFunction(const char* name) {
  static const HMODULE winmm = LoadLibraryA("winmm.dll");
  if (!winmm) return nullptr;
  return reinterpret_cast<TimePeriodFn>(reinterpret_cast<void (*)()>(GetProcAddress(winmm, name)));
}

}  // namespace

namespace detail {

BoxAnswer ShowSystemBox(const std::string& text, BoxButtons buttons, bool topmost) {
  UINT flags = buttons == BoxButtons::Ok ? MB_OK : MB_YESNO;
  if (topmost) flags |= MB_TOPMOST | MB_SETFOREGROUND;
  const int r = MessageBoxW(nullptr, Widen(text).c_str(), L"QZMark", flags);
  if (buttons == BoxButtons::Ok) return BoxAnswer::Ok;
  return r == IDYES ? BoxAnswer::Yes : BoxAnswer::No;
}

}  // namespace detail

void DebugOutput(const std::string& text) { OutputDebugStringW(Widen(text).c_str()); }

void TimerResolutionBegin(unsigned ms) {
  static const TimePeriodFn begin = WinmmFunction("timeBeginPeriod");
  if (begin) begin(ms);
}

void TimerResolutionEnd(unsigned ms) {
  static const TimePeriodFn end = WinmmFunction("timeEndPeriod");
  if (end) end(ms);
}

}  // namespace plat
