#pragma once
/* The entry points of the two calibration modules as the library calls them: the calibration
 * module "Corrix" (box text file method, 16-bit codes) and the box-correction module "Gridel"
 * (box parameter block method, 22-bit table codes). The library and our own modules
 * (companions/corrix, companions/gridel) both compile this header; it uses plain C types only.
 *
 * Every entry point uses the standard calling convention on Win32 and is exported under its plain
 * name. The library uses no result of any entry point.
 *
 * Records of the box text file (Corrix "Create"). The library keeps the seven records of a box
 * text file packed (1-byte packing, little-endian) one after the other in one block of memory, in
 * this order: 2D block, second block, 3D block, grid section, difference-correction section,
 * Z block, list section. A record's pointer fields hold addresses of arrays of doubles in the same
 * process, with the width of the process's pointers (4 bytes on Win32, 8 on x86-64). They stay
 * valid until the next box file is read; a module that wants them longer copies them.
 */
#include <stddef.h>
#include <stdint.h>

#if defined(_WIN32)
#define CALI_MODULE_CALL __stdcall
#else
#define CALI_MODULE_CALL
#endif

/* Byte layouts of the packed records (offsets from each record's start). */
#define CALI_PTR_SIZE ((size_t)sizeof(void*))
/* 2D block: i32; 11 x f64 (the first is the field size of a 2D box, mm). */
#define CALI_2D_REALS 4
#define CALI_2D_SIZE 92
/* Second block: i32; 4 x f64. */
#define CALI_SECOND_REALS 4
#define CALI_SECOND_SIZE 36
/* 3D block: i32 count; 5 x f64. The grid section follows it in memory. */
#define CALI_3D_COUNT 0
#define CALI_3D_REALS 4
#define CALI_3D_SIZE 44
/* Grid section: i32 rows; i32 columns; f64 field X; f64 field Y; pointer to rows x columns pairs
 * {f64; f64}, row by row. */
#define CALI_GRID_ROWS 0
#define CALI_GRID_COLS 4
#define CALI_GRID_FIELD_X 8
#define CALI_GRID_FIELD_Y 16
#define CALI_GRID_PAIRS 24
#define CALI_GRID_SIZE (24 + CALI_PTR_SIZE)
/* Difference-correction section: i32; i32 enable; i32 row count n; pointer to n rows of 5 x f64. */
#define CALI_DIFF_ENABLE 4
#define CALI_DIFF_COUNT 8
#define CALI_DIFF_ROWS 12
#define CALI_DIFF_SIZE (12 + CALI_PTR_SIZE)
/* Z block: i32; 5 x f64 (the third is the field size Z). */
#define CALI_Z_REALS 4
#define CALI_Z_SIZE 44
/* List section: i32; f64 alternative field size Z; i32 count n; pointer to n f64; pointer to n f64;
 * 9 x f64. */
#define CALI_LIST_ALT_Z 4
#define CALI_LIST_COUNT 12
#define CALI_LIST_FIRST 16
#define CALI_LIST_SECOND (16 + CALI_PTR_SIZE)
#define CALI_LIST_REALS (16 + 2 * CALI_PTR_SIZE)
#define CALI_LIST_SIZE (88 + 2 * CALI_PTR_SIZE)

/* Box types of Create. */
#define CALI_BOX_2D 0
#define CALI_BOX_3D 1

/* The box parameter block handed to Gridel's SetCaliPara: 2048 bytes, little-endian. */
#define CALI_BOX_PARA_SIZE 2048

/* ---- "Corrix" */
/* Initial(flag): called once when the library is loaded, with 1. */
typedef int32_t(CALI_MODULE_CALL* CorrixInitialFn)(int32_t flag);
/* Create(context, type, block, second): type 0 hands the 2D block, type 1 the 3D block (with the
 * grid section behind it); `second` is the second block. */
typedef int32_t(CALI_MODULE_CALL* CorrixCreateFn)(int32_t context, int32_t type, const void* block,
                                                  const void* second);
typedef int32_t(CALI_MODULE_CALL* CorrixDelFn)(int32_t context);
typedef int32_t(CALI_MODULE_CALL* CorrixDelAllFn)(void);
/* SetCaliPara, SetRedPara, Set3DPara: not called by the library. */
typedef int32_t(CALI_MODULE_CALL* CorrixSetParaFn)(int32_t context, const void* para);
/* EnableDiffCorr(context, size, n, rows): n rows of 5 f64. */
typedef int32_t(CALI_MODULE_CALL* CorrixEnableDiffCorrFn)(int32_t context, double size, int32_t n,
                                                          const double* rows);
typedef int32_t(CALI_MODULE_CALL* CorrixDisableDiffCorrFn)(int32_t context);
/* Do2DCali(context, x, y, first, second, table): the two 16-bit codes of the field point (x, y) in
 * mm for correction table 0 or 1; first is the X code, second the Y code. */
typedef int32_t(CALI_MODULE_CALL* CorrixDo2DCaliFn)(int32_t context, double x, double y, int32_t* first,
                                                    int32_t* second, int32_t table);
/* Do3DCali: not called by the library. */
typedef int32_t(CALI_MODULE_CALL* CorrixDo3DCaliFn)(int32_t context, double x, double y, double z,
                                                    int32_t* first, int32_t* second, int32_t table);

/* ---- "Gridel" */
/* SetCaliPara(1, block): the module takes the parameters of the prepared 2048-byte block. */
typedef int32_t(CALI_MODULE_CALL* GridelSetCaliParaFn)(int32_t mode, const void* block);
/* GetBoxSize(r): the module writes the half range R of its field in mm. */
typedef int32_t(CALI_MODULE_CALL* GridelGetBoxSizeFn)(double* halfRange);
/* Cali(in, out): the corrected point (out X, out Y) of (in X, in Y), all in mm, in the frame of R. */
typedef int32_t(CALI_MODULE_CALL* GridelCaliFn)(const double* in, double* out);
