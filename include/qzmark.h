#ifndef QZMARK_H
#define QZMARK_H
/*
 * QZMark: host interface of the galvanometer laser-marking controller cards.
 *
 * Every function returns an unsigned result: 0 for success, 1 when no card is open or the card was
 * lost during the call, otherwise a code whose text QZ_GetErrInfo gives (2 for a busy library and
 * for refused arguments, 16 for a mark call that overlaps another, 38 for exhausted memory).
 * On 32-bit Windows every function uses the standard calling convention and is exported under its
 * plain name.
 */
#include <stdint.h>

#if defined(_WIN32)
#define QZ_STDCALL __stdcall
#else
#define QZ_STDCALL
#endif

#if defined(QZMARK_BUILDING)
#if defined(_WIN32)
#define QZ_API
#else
#define QZ_API __attribute__((visibility("default")))
#endif
#else
#define QZ_API
#endif

#ifdef __cplusplus
extern "C" {
#endif

/* The library's version: 0x3454. Needs no card. */
QZ_API uint32_t QZ_STDCALL QZ_GetSwVer(uint32_t* version);

/* The card's state in words: off-line mode, the task the card runs, its alarms and what it waits
 * for, in the configured language. `text` must hold 1024 bytes; at most 1023 bytes and a
 * terminating zero are written. 1 when no card is open. */
QZ_API uint32_t QZ_STDCALL QZ_GetWaitInfo(char* text);

#ifdef __cplusplus
}
#endif

#endif
