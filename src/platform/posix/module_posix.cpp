// Modules and the environment on POSIX: dlopen/dlsym/dlclose, dladdr, /proc/self/exe.
#include <dlfcn.h>
#include <link.h>
#include <unistd.h>

#include <climits>
#include <cstdlib>

#include "platform/module.h"

namespace plat {

namespace {

std::string ReadLink(const char* path) {
  std::string buf(256, '\0');
  for (;;) {
    const ssize_t n = ::readlink(path, buf.data(), buf.size());
    if (n < 0) return {};
    if (static_cast<size_t>(n) < buf.size()) return buf.substr(0, static_cast<size_t>(n));
    buf.resize(buf.size() * 2);
  }
}

std::string Absolute(const std::string& path) {
  if (!path.empty() && path.front() == '/') return path;
  char resolved[PATH_MAX];
  if (::realpath(path.c_str(), resolved)) return resolved;
  return path;
}

}  // namespace

ModuleHandle LoadModule(const std::string& path) {
  return ::dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
}

void* FindSymbol(ModuleHandle m, const char* name) { return m ? ::dlsym(m, name) : nullptr; }

void FreeModule(ModuleHandle m) {
  if (m) ::dlclose(m);
}

std::string OwnModulePath() {
  Dl_info info{};
  link_map* map = nullptr;
  if (::dladdr1(reinterpret_cast<void*>(&OwnModulePath), &info, reinterpret_cast<void**>(&map),
                RTLD_DL_LINKMAP) == 0 ||
      !map)
    return HostProgramPath();
  // The main program's link map has an empty name (dladdr would give argv[0] for it).
  if (!map->l_name || !map->l_name[0]) return HostProgramPath();
  return Absolute(map->l_name);
}

// The library is linked with -z nodelete: a dlclose never unloads it.
void PinOwnModule() {}

std::string HostProgramPath() { return ReadLink("/proc/self/exe"); }

std::string CompanionFileName(const std::string& base) { return "lib" + base + ".so"; }

std::string GetEnvVar(const std::string& name) {
  const char* v = std::getenv(name.c_str());
  return v ? v : "";
}

void SetEnvVar(const std::string& name, const std::string& value) {
  // An empty value removes the variable: GetEnvVar cannot tell the two apart anyway.
  if (value.empty())
    ::unsetenv(name.c_str());
  else
    ::setenv(name.c_str(), value.c_str(), 1);
}

}  // namespace plat
