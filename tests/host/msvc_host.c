/* A host built for the MSVC ABI (clang --target=i686-pc-windows-msvc) against qzmark.h, linked by
 * lld-link with QZMark.lib and a kernel32 import library only: no C runtime, its own entry point.
 * Every export is referenced, so the link resolves each decorated name (_QZ_GetSwVer@4) through
 * QZMark.lib; then it counts the cards, opens the card, reads its version and closes it, through
 * the plain names the import library imports. Exit code: the number of failed checks. */
#include "qzmark.h"

__declspec(dllimport) void __stdcall ExitProcess(uint32_t code);
__declspec(dllimport) void* __stdcall GetStdHandle(uint32_t which);
__declspec(dllimport) int __stdcall WriteFile(void* file, const void* data, uint32_t size, uint32_t* written,
                                              void* overlapped);

#define X(name) (uintptr_t)name,
static const uintptr_t kExports[] = {
#include "qz_exports.inc"
};
#undef X

static uint32_t failed;

/* Prints "<what> <value in hex>", and FAILED when the value is not the one expected. */
static void check(const char* what, uint32_t value, uint32_t expected) {
  char line[96];
  const char* verdict = value == expected ? "\n" : " FAILED\n";
  uint32_t n = 0, written, i;
  while (*what && n < 64) line[n++] = *what++;
  line[n++] = ' ';
  for (i = 0; i < 8; ++i) line[n++] = "0123456789ABCDEF"[(value >> (28 - 4 * i)) & 15];
  while (*verdict) line[n++] = *verdict++;
  WriteFile(GetStdHandle((uint32_t)-11), line, n, &written, 0);
  failed += value != expected;
}

void host_main(void) {
  uint32_t version = 0, cards = 0, first = 0, linked = 0, i;
  /* Printed, so that every reference stays in the link. */
  for (i = 0; i < sizeof kExports / sizeof kExports[0]; ++i) linked += kExports[i] != 0;
  check("exports linked", linked, sizeof kExports / sizeof kExports[0]);
  check("QZ_GetSwVer", QZ_GetSwVer(&version), QZ_OK);
  check("version", version, 0x3454);
  check("QZ_GetCardsNo", QZ_GetCardsNo(&cards, &first), QZ_OK);
  check("cards", cards, 1);
  check("QZ_InitCard", QZ_InitCard(), QZ_OK);
  version = 0;
  check("QZ_GetHdVer", QZ_GetHdVer(&version), QZ_OK);
  /* The simulated card's default version 85: bits 0-4 and 8-10 of the hardware word. */
  check("card version", version & 0x71F, 0x215);
  check("QZ_CloseCard", QZ_CloseCard(), QZ_OK);
  ExitProcess(failed);
}
