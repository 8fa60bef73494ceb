#pragma once
/* Our calibration module "Corrix" (libCorrix.so / Corrix.dll): the eleven entry points the library
 * resolves (calibration/cali_module_api.h) over a plain correction model, and a control API for
 * tests.
 *
 * The model. Up to 8 calibration contexts (0..7); a call with another context, or on a context not
 * created, returns 1 and writes nothing.
 *   Create(context, type, block, second) copies what it needs out of the packed records:
 *     type 0 (2D box): field F = the 2D block's first real on both axes; the 2D block's reals 1..6
 *       are the coefficients c1..c6 of an affine correction:
 *         dX = c1 + c2 x + c3 y,   dY = c4 + c5 x + c6 y;
 *     type 1 (3D box): the fields X and Y of the grid section that follows the 3D block (a field of
 *       0.1 mm or less, or no number, is 100 mm); the grid's rows x columns pairs {dX, dY} are
 *       offsets at nodes spread evenly over the field (column c at -FX/2 + c FX/(columns-1), row r
 *       at -FY/2 + r FY/(rows-1)), interpolated bilinearly inside, the border value outside; with
 *       fewer than 2 rows or columns there are no grid offsets;
 *     the second block's reals 0 and 1 are an extra offset (X, Y) of correction table 1.
 *   EnableDiffCorr(context, size, n, rows): each row {x0, y0, radius, dX, dY} moves the points whose
 *     distance from (x0, y0) is at most radius by (dX, dY). DisableDiffCorr: no such rows.
 *   Do2DCali(context, x, y, first, second, table): every offset above is taken at (x, y) and added:
 *     X' = x + dX..., Y' = y + dY...; then first = trunc((X' + FX/2) x 65535 / FX) and second the
 *     same for Y' with FY: the same linear scale as the library's millimetre-to-code conversion,
 *     so an uncorrected point gets the code the library would give it. Codes are limited to the
 *     32-bit range (no number gives 0); the library clamps them to 16 bits.
 *   Do3DCali: as Do2DCali, z unused. Initial, Del and DelAll delete contexts; SetCaliPara,
 *   SetRedPara and Set3DPara are only counted.
 * Every entry point returns 0, or 1 for a refused call (a failing one included).
 *
 * The control API (plain C, standard calling convention on Win32, reached by name through the same
 * loaded module the library uses):
 */
#include <stdint.h>

#if defined(_WIN32)
#define CORRIX_CALL __stdcall
#if defined(CORRIX_BUILDING)
#define CORRIX_API __declspec(dllexport)
#else
#define CORRIX_API
#endif
#else
#define CORRIX_CALL
#define CORRIX_API __attribute__((visibility("default")))
#endif

#ifdef __cplusplus
extern "C" {
#endif

/* Entry points, in the order the library resolves them. */
#define CORRIX_ENTRY_INITIAL 0
#define CORRIX_ENTRY_CREATE 1
#define CORRIX_ENTRY_DEL 2
#define CORRIX_ENTRY_DELALL 3
#define CORRIX_ENTRY_SETCALIPARA 4
#define CORRIX_ENTRY_SETREDPARA 5
#define CORRIX_ENTRY_SET3DPARA 6
#define CORRIX_ENTRY_ENABLEDIFFCORR 7
#define CORRIX_ENTRY_DISABLEDIFFCORR 8
#define CORRIX_ENTRY_DO2DCALI 9
#define CORRIX_ENTRY_DO3DCALI 10
#define CORRIX_ENTRY_COUNT 11

/* What a context holds, as the module read it from the library's records. */
typedef struct corrix_model {
  int32_t type;          /* 0 2D, 1 3D */
  int32_t rows, cols;    /* grid section (3D) */
  int32_t diff_rows;     /* difference-correction rows; 0 when disabled */
  double field_x, field_y;
  double coef[6];        /* c1..c6 (2D) */
  double table1_dx, table1_dy;
  double diff_size;      /* the size passed with EnableDiffCorr */
  double first_pair[2], last_pair[2];  /* grid pairs 0 and rows x cols - 1 */
  double first_diff_row[5];
} corrix_model;

/* The last Do2DCali or Do3DCali call. */
typedef struct corrix_point {
  int32_t context, table;
  double x, y;
} corrix_point;

/* Back to the state of a freshly loaded module: no context, counts 0, no failing entry. */
CORRIX_API int32_t CORRIX_CALL corrix_reset(void);
/* Calls of an entry point since the load or the last reset (0 for an unknown entry). */
CORRIX_API uint32_t CORRIX_CALL corrix_count(int32_t entry);
/* on 1: every call of `entry` fails (returns 1, writes nothing, changes nothing); 0 ends it. */
CORRIX_API int32_t CORRIX_CALL corrix_fail(int32_t entry, int32_t on);
/* The last point computed; 1 when there was none. */
CORRIX_API int32_t CORRIX_CALL corrix_last_point(corrix_point* out);
/* The model of a context; 1 when it does not exist. */
CORRIX_API int32_t CORRIX_CALL corrix_get_model(int32_t context, corrix_model* out);

#define CORRIX_CONTROL_FUNCTIONS(X) \
  X(corrix_reset) X(corrix_count) X(corrix_fail) X(corrix_last_point) X(corrix_get_model)

#ifdef __cplusplus
}
#endif
