#pragma once
/* Our box-correction module "Gridel" (libGridel.so / Gridel.dll): the three entry points the library
 * resolves (calibration/cali_module_api.h) over a plain correction model, and a control API for
 * tests.
 *
 * The model.
 *   SetCaliPara(1, block) takes a copy of the 2048-byte box parameter block (any other first
 *     argument, or no block, is refused with 1).
 *   GetBoxSize(r) writes the half range R of the field: one sixteenth of the real at byte 96 of the
 *     block (the lens's focal length in mm: the default 160 gives R = 10 mm, the library's value
 *     before any module reported one), or the value set by gridel_set_range.
 *   Cali(in, out): identity plus the first row of each axis of the block's coefficient set B
 *     (reals at byte 268 + 8 k for X, 428 + 8 k for Y, k = 0, 1, 2):
 *       out X = x + bx0 + bx1 x + bx2 y,   out Y = y + by0 + by1 x + by2 y.
 *     Before any block was taken, the identity.
 * Every entry point returns 0, or 1 for a refused call (a failing one included, which writes
 * nothing).
 *
 * The control API (plain C, standard calling convention on Win32, reached by name through the same
 * loaded module the library uses):
 */
#include <stdint.h>

#if defined(_WIN32)
#define GRIDEL_CALL __stdcall
#if defined(GRIDEL_BUILDING)
#define GRIDEL_API __declspec(dllexport)
#else
#define GRIDEL_API
#endif
#else
#define GRIDEL_CALL
#define GRIDEL_API __attribute__((visibility("default")))
#endif

#ifdef __cplusplus
extern "C" {
#endif

/* Entry points, in the order the library resolves them. */
#define GRIDEL_ENTRY_SETCALIPARA 0
#define GRIDEL_ENTRY_GETBOXSIZE 1
#define GRIDEL_ENTRY_CALI 2
#define GRIDEL_ENTRY_COUNT 3

/* Back to the state of a freshly loaded module: no block, counts 0, no failing entry, no range set. */
GRIDEL_API int32_t GRIDEL_CALL gridel_reset(void);
/* Calls of an entry point since the load or the last reset (0 for an unknown entry). */
GRIDEL_API uint32_t GRIDEL_CALL gridel_count(int32_t entry);
/* on 1: every call of `entry` fails (returns 1, writes nothing, changes nothing); 0 ends it. */
GRIDEL_API int32_t GRIDEL_CALL gridel_fail(int32_t entry, int32_t on);
/* on 1: GetBoxSize reports `range` (any value, also one the library must refuse); 0: the block's. */
GRIDEL_API int32_t GRIDEL_CALL gridel_set_range(double range, int32_t on);
/* The 2048 bytes of the last block SetCaliPara took; 1 when there was none. */
GRIDEL_API int32_t GRIDEL_CALL gridel_last_block(uint8_t* out);
/* The last point handed to Cali (2 doubles); 1 when there was none. */
GRIDEL_API int32_t GRIDEL_CALL gridel_last_point(double* in);

#define GRIDEL_CONTROL_FUNCTIONS(X) \
  X(gridel_reset) X(gridel_count) X(gridel_fail) X(gridel_set_range) X(gridel_last_block) X(gridel_last_point)

#ifdef __cplusplus
}
#endif
