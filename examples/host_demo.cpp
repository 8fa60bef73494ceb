// Example host: loads the library from a folder, as a marking program does, opens the card, applies
// the parameter file, marks a small drawing (a square, a circle of vectors, a row of dots, an output
// switched) and closes the card, printing what the library answers.
// Usage: qz_example_host <folder of the library>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

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
  QZ_RESOLVE(QZ_SetCardParaFile)
  QZ_RESOLVE(QZ_SetMarkPara)
  QZ_RESOLVE(QZ_MarkVector)
  QZ_RESOLVE(QZ_MarkDot)
  QZ_RESOLVE(QZ_MarkBufIO)
  QZ_RESOLVE(QZ_GetMarkTime)
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
  // The configuration in ini/ is applied and uploaded to the card.
  std::printf("QZ_SetCardParaFile: %u\n", QZ_SetCardParaFile_(0));
  // Pen 0: 20 kHz at 50 %, marking at 500 mm/s, jumping at 2000 mm/s. The host record is 1696
  // bytes; the reals stand at their byte offsets, little-endian.
  std::vector<unsigned char> pen(1696, 0);
  auto putReal = [&pen](size_t offset, double v) { std::memcpy(&pen[offset], &v, sizeof v); };
  putReal(28, 20.0);
  putReal(36, 50.0);
  putReal(432, 500.0);
  putReal(440, 2000.0);
  std::printf("QZ_SetMarkPara: %u\n", QZ_SetMarkPara_(pen.data(), 1));

  std::printf("QZ_MarkStart: %u\n", QZ_MarkStart_(0, 0, 0));
  // A square of 8 mm.
  const double square[] = {-6, -6, 0, 2, -6, 0, 2, 2, 0, -6, 2, 0, -6, -6, 0};
  std::printf("QZ_MarkVector (square): %u\n", QZ_MarkVector_(square, 5, 0));
  // A circle of 3 mm radius around (4, 4), as 36 vectors.
  std::vector<double> circle;
  for (int i = 0; i <= 36; ++i) {
    const double a = i * (2.0 * 3.14159265358979323846 / 36.0);
    circle.insert(circle.end(), {4.0 + 3.0 * std::cos(a), 4.0 + 3.0 * std::sin(a), 0.0});
  }
  std::printf("QZ_MarkVector (circle): %u\n", QZ_MarkVector_(circle.data(), 37, 0));
  // A row of five dots of 200 µs.
  std::vector<double> dots;
  for (int i = 0; i < 5; ++i) dots.insert(dots.end(), {-6.0 + 2.0 * i, 6.0, 0.0});
  std::printf("QZ_MarkDot: %u\n", QZ_MarkDot_(dots.data(), 5, 200.0, 0));
  // Output 5 switched on in the job.
  std::printf("QZ_MarkBufIO: %u\n", QZ_MarkBufIO_(1u << 5, 1u << 5, 0, 0));
  std::printf("QZ_MarkEnd: %u\n", QZ_MarkEnd_(0));
  uint32_t us = 0;
  QZ_GetMarkTime_(&us);
  std::printf("QZ_GetMarkTime: %u us of stream\n", us);
  std::printf("QZ_CloseCard: %u\n", QZ_CloseCard_());
  return 0;
}
