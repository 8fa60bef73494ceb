#include "support/process.h"

#include <windows.h>

namespace qztest {

int RunProgram(const std::vector<std::string>& argv) {
  if (argv.empty()) return -1;
  // Each argument in quotes, which the C runtime splits back unchanged as long as it holds no '"'
  // and does not end with '\' (the harness passes no such argument: refused rather than mangled).
  std::string cmd;
  for (const std::string& a : argv) {
    if (a.find('"') != std::string::npos || (!a.empty() && a.back() == '\\')) return -1;
    cmd += (cmd.empty() ? "\"" : " \"") + a + "\"";
  }
  STARTUPINFOA si{};
  si.cb = sizeof si;
  PROCESS_INFORMATION pi{};
  if (!CreateProcessA(argv[0].c_str(), cmd.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &si, &pi)) return -1;
  WaitForSingleObject(pi.hProcess, INFINITE);
  DWORD code = 0;
  const BOOL ok = GetExitCodeProcess(pi.hProcess, &code);
  CloseHandle(pi.hThread);
  CloseHandle(pi.hProcess);
  return ok ? static_cast<int>(code) : -1;
}

}  // namespace qztest
