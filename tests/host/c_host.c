/* A C host built against qzmark.h alone: it compiles the header as C, links every export through
 * the import library (Win32) or the installed package (find_package(QZMark)), and calls the library
 * from the folder it was deployed to. Prints what it found; exit code 0 when all holds.
 * Usage: c_host [cards expected] */
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include "qzmark.h"

/* Every export of the header (qz_exports.inc lists them: X(name)), linked by name. */
#define X(name) (uintptr_t)name,
static const uintptr_t kExports[] = {
#include "qz_exports.inc"
};
#undef X

int main(int argc, char** argv) {
  uint32_t version = 0, cards = 0, first = 0;
  char buffer[256] = "";
  char* text = buffer;
  size_t linked = 0, i;
  int ok = 1;
  for (i = 0; i < sizeof kExports / sizeof kExports[0]; ++i) linked += kExports[i] != 0;
  printf("exports linked: %u\n", (unsigned)linked);
  ok &= QZ_GetSwVer(&version) == QZ_OK && version == 0x3454;
  printf("QZ_GetSwVer: version 0x%04X\n", (unsigned)version);
  /* The text of a result code comes from the language file of the deployed ini/. */
  ok &= QZ_GetErrInfo(QZ_E_DATA_IS_NAN, &text, sizeof buffer) == QZ_OK && buffer[0] != 0;
  printf("QZ_GetErrInfo(QZ_E_DATA_IS_NAN): \"%s\"\n", buffer);
  if (argc > 1) {
    /* The driver link beside the library (the simulated card) counts the cards. */
    ok &= QZ_GetCardsNo(&cards, &first) == QZ_OK && cards == (uint32_t)atoi(argv[1]);
    printf("QZ_GetCardsNo: %u cards\n", (unsigned)cards);
  }
  printf("%s\n", ok ? "host ok" : "host FAILED");
  return ok ? 0 : 1;
}
