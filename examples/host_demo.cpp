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
  // Resolves an export by name with the type the public header gives it.
#define QZ_RESOLVE(name)                                                   \
  auto name##_ = reinterpret_cast<decltype(&name)>(Find(lib, #name));      \
  if (!name##_) {                                                          \
    std::fprintf(stderr, #name " not found\n");                           \
    return 1;                                                              \
  }
  QZ_RESOLVE(QZ_GetSwVer)
  QZ_RESOLVE(QZ_GetCardsNo)
  QZ_RESOLVE(QZ_InitCard)
  QZ_RESOLVE(QZ_GetHdVer)
  QZ_RESOLVE(QZ_SetFlag)
  QZ_RESOLVE(QZ_MarkStart)
  QZ_RESOLVE(QZ_MarkEnd)
  QZ_RESOLVE(QZ_GetWaitInfo)
  QZ_RESOLVE(QZ_CloseCard)
#undef QZ_RESOLVE

  uint32_t version = 0;
  uint32_t rc = QZ_GetSwVer_(&version);
  std::printf("QZ_GetSwVer: %u, library version 0x%04X\n", rc, version);
  uint32_t cards = 0, first = 0;
  rc = QZ_GetCardsNo_(&cards, &first);
  std::printf("QZ_GetCardsNo: %u, cards %u\n", rc, cards);
  const uint32_t opened = QZ_InitCard_();
  std::printf("QZ_InitCard: %u\n", opened);
  if (opened != 0) return 1;
  uint32_t hw = 0;
  rc = QZ_GetHdVer_(&hw);
  std::printf("QZ_GetHdVer: %u, hardware word 0x%X\n", rc, hw);
  char text[1024] = {};
  rc = QZ_GetWaitInfo_(text);
  std::printf("QZ_GetWaitInfo: %u, \"%s\"\n", rc, text);
  // The parameters are accepted without an upload, then an empty job runs.
  std::printf("QZ_SetFlag: %u\n", QZ_SetFlag_(0x7E21C4B9u, 0));
  std::printf("QZ_MarkStart: %u\n", QZ_MarkStart_(0, 0, 0));
  std::printf("QZ_MarkEnd: %u\n", QZ_MarkEnd_(0));
  std::printf("QZ_CloseCard: %u\n", QZ_CloseCard_());
  return 0;
}
