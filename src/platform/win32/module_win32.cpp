// Modules and the environment on Win32.
#include <windows.h>
#undef FreeModule  // winbase.h's macro for FreeLibrary

#include <cstdlib>

#include "platform/module.h"

namespace plat {

namespace {

std::string ModuleFileName(HMODULE m) {
  std::string buf(MAX_PATH, '\0');
  for (;;) {
    const DWORD n = GetModuleFileNameA(m, buf.data(), static_cast<DWORD>(buf.size()));
    if (n == 0) return {};
    if (n < buf.size()) return buf.substr(0, n);
    buf.resize(buf.size() * 2);
  }
}

bool IsAbsolute(const std::string& p) {
  return (p.size() >= 3 && p[1] == ':' && (p[2] == '\\' || p[2] == '/')) ||
         (p.size() >= 2 && (p[0] == '\\' || p[0] == '/') && (p[1] == '\\' || p[1] == '/'));
}

}  // namespace

ModuleHandle LoadModule(const std::string& path) {
  // No system error box for a missing or broken file: the caller reports the failure itself.
  DWORD oldMode = 0;
  SetThreadErrorMode(SEM_FAILCRITICALERRORS | SEM_NOOPENFILEERRORBOX, &oldMode);
  // With a full path, the module's own dependencies are searched in its folder first.
  HMODULE m =
      LoadLibraryExA(path.c_str(), nullptr, IsAbsolute(path) ? LOAD_WITH_ALTERED_SEARCH_PATH : 0);
  SetThreadErrorMode(oldMode, nullptr);
  return reinterpret_cast<ModuleHandle>(m);
}

void* FindSymbol(ModuleHandle m, const char* name) {
  if (!m) return nullptr;
  return reinterpret_cast<void*>(GetProcAddress(static_cast<HMODULE>(m), name));
}

void FreeModule(ModuleHandle m) {
  if (m) FreeLibrary(static_cast<HMODULE>(m));
}

std::string OwnModulePath() {
  HMODULE self = nullptr;
  if (!GetModuleHandleExA(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                          reinterpret_cast<LPCSTR>(&OwnModulePath), &self))
    return {};
  return ModuleFileName(self);
}

void PinOwnModule() {
  HMODULE self = nullptr;
  GetModuleHandleExA(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_PIN,
                     reinterpret_cast<LPCSTR>(&PinOwnModule), &self);
}

std::string HostProgramPath() { return ModuleFileName(nullptr); }

std::string CompanionFileName(const std::string& base) { return base + ".dll"; }

std::string GetEnvVar(const std::string& name) {
  std::string buf(256, '\0');
  for (;;) {
    const DWORD n =
        GetEnvironmentVariableA(name.c_str(), buf.data(), static_cast<DWORD>(buf.size()));
    if (n == 0) return {};
    if (n < buf.size()) return buf.substr(0, n);
    buf.resize(n);  // n is the size needed, with the terminator
  }
}

void SetEnvVar(const std::string& name, const std::string& value) {
  // An empty value removes the variable: GetEnvVar cannot tell the two apart anyway. The C
  // runtime's copy is kept in step for code that reads getenv.
  SetEnvironmentVariableA(name.c_str(), value.empty() ? nullptr : value.c_str());
  _putenv_s(name.c_str(), value.c_str());
}

}  // namespace plat
