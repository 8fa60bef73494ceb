// Example host: loads the library from a folder, as a marking program does, and prints what it
// learns from it. Usage: qz_example_host <folder of the library>
#include <cstdio>
#include <string>

#include "qzmark.h"

#if defined(_WIN32)
#include <windows.h>
using Module = HMODULE;
static Module Load(const std::string& path) { return LoadLibraryA(path.c_str()); }
static void* Find(Module m, const char* name) { return reinterpret_cast<void*>(GetProcAddress(m, name)); }
static const char* kLibraryFile = "QZMark.dll";
static const char kSep = '\\';
#else
#include <dlfcn.h>
using Module = void*;
static Module Load(const std::string& path) { return dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL); }
static void* Find(Module m, const char* name) { return dlsym(m, name); }
static const char* kLibraryFile = "libqzmark.so";
static const char kSep = '/';
#endif

int main(int argc, char** argv) {
  std::string folder = argc > 1 ? argv[1] : ".";
  if (!folder.empty() && folder.back() != kSep) folder += kSep;
  Module lib = Load(folder + kLibraryFile);
  if (!lib) {
    std::fprintf(stderr, "cannot load %s%s\n", folder.c_str(), kLibraryFile);
    return 1;
  }
  auto getSwVer = reinterpret_cast<decltype(&QZ_GetSwVer)>(Find(lib, "QZ_GetSwVer"));
  if (!getSwVer) {
    std::fprintf(stderr, "QZ_GetSwVer not found\n");
    return 1;
  }
  uint32_t version = 0;
  uint32_t rc = getSwVer(&version);
  std::printf("QZ_GetSwVer: result %u, library version 0x%04X\n", rc, version);
  return rc == 0 ? 0 : 1;
}
