#ifndef QZMARK_H
#define QZMARK_H
/*
 * QZMark: host interface of the galvanometer laser-marking controller cards.
 *
 * Every function returns an unsigned result: 0 for success, 1 when no card is open or the card was
 * lost during the call, otherwise a code whose text QZ_GetErrInfo gives (2 for a busy library and
 * for refused arguments, 16 for a mark call that overlaps another, 38 for exhausted memory); the
 * constants QZ_OK and QZ_E_... below name every code. Each function's comment says what it does, its
 * units and the codes it returns besides the common ones of its group.
 *
 * Units: lengths and positions in mm of the scanner field (extra axes: the units of their axis
 * file), speeds in mm/s, times in µs unless a name says ms, powers in percent.
 * Arrays of points are doubles: three per point {x, y, unused} (24 bytes) for QZ_MarkVector,
 * QZ_MarkDot, QZ_WobUnit and QZ_WobUnitPow; SIX per point {x, y, four unused} (48 bytes) for
 * QZ_MarkWobLaserByEnc. Records (the pen records and wave points of QZ_SetMarkPara*, the 2048-byte
 * box parameter block, the 535-byte offline head) are packed little-endian bytes at fixed offsets.
 *
 * On 32-bit Windows every function uses the standard calling convention and is exported under its
 * plain name (QZMark.dll); the import libraries QZMark.lib (MSVC) and libQZMark.dll.a (mingw)
 * resolve a compiler's decorated names (_QZ_GetSwVer@4) to them.
 * The header compiles as C and as C++.
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

/* Result codes. Every export returns one of them; QZ_GetErrInfo gives the text of a code from the
 * language file ([language] key STRING_<name> for the constant QZ_E_<NAME>; 0 reads "OK" and 2
 * "Error"; 4 is not used). Which export returns which code is said beside each export. */
#define QZ_OK 0
#define QZ_E_CARD_IS_NOT_CONNECTED 1
#define QZ_E_ERROR 2
#define QZ_E_FUN_MARK_FAIL 3
#define QZ_E_CARD_IS_BUSY_START_RASK_FAIL 5
#define QZ_E_LAYER_NUMBER_OVER 6
#define QZ_E_DATA_IS_NAN 7
#define QZ_E_LINES_ENDPOINT_LESS_THAN_2 8
#define QZ_E_NOT_OPEN_OFFLINE_FILE 9
#define QZ_E_NOT_OPEN_BOX_FILE 10
#define QZ_E_UNSUPORTED_CALI_TYPE 11
#define QZ_E_LINE_LESS_THAN_1 12
#define QZ_E_OFFLINEFILE_IS_TOO_BIG 13
#define QZ_E_FIFO_DATA_ERROR 14
#define QZ_E_EXT_AXIS_NUMBER_OVER 15
#define QZ_E_ILLIGE_CALL_MARKFUNC_SAME_TIME 16
#define QZ_E_MARK_NOT_START 17
#define QZ_E_DOTMARK_IS_ILLIGE_FOR_ROTATIONMARK 18
#define QZ_E_LINE_DIRECTION_ERR_FOR_ROTATIONMARK 19
#define QZ_E_MARK_ERROR 20
#define QZ_E_MARKTIME_NOT_ADD 21
#define QZ_E_LINEENEGYWAVETOOLONG 22
#define QZ_E_CARD_IS_MARKING_STOPFAIL 23
#define QZ_E_WRITEREADFLASH_NOT_SAME 24
#define QZ_E_SCANDRIVEMOTOR_TIMEERR 25
#define QZ_E_FLUSH_FAIL 26
#define QZ_E_MARKDATA_IS_NOT_LOCKED_TO_USE 27
#define QZ_E_DOWNLOAD_NO_NAND 28
#define QZ_E_EXT_PARA_OVERFLOW 29
#define QZ_E_ERR_UART 30
#define QZ_E_POINTMARK_TIME_LESS_THAN_1 31
#define QZ_E_FIBER_PWM_NOT_HALF 32
#define QZ_E_LASER_IS_ALREADY_ON_WHEN_OPEN 33
#define QZ_E_LASER_TIME_IS_MINUS 34
#define QZ_E_LINE_BUF_MARK_END_NOT_EMPTY 35
#define QZ_E_DLLCFG_DIFFERENT_WITH_CARD 36
#define QZ_E_TASK_OVER_TIME 37
#define QZ_E_MEMORYEXCEPTION 38
#define QZ_E_MARKLASERBYIO_ILLIGEL_ENABLE_DOT_LINE_BOTH 39
#define QZ_E_PRELASEROFF_BIGTHAN_CURLASERON 40

#ifdef __cplusplus
extern "C" {
#endif

/* The library's version: 0x3454. Needs no card. */
QZ_API uint32_t QZ_STDCALL QZ_GetSwVer(uint32_t* version);

/* Counts cards through the driver link. a and b each point to a uint32_t (either may be null): the
 * driver link shipped with the library writes the number of cards present into *a and the index of
 * the first card (0) into *b. 0; 2 busy; 1 when the driver link is not loaded. */
QZ_API uint32_t QZ_STDCALL QZ_GetCardsNo(void* a, void* b);
/* Opens the card named by [HARDWARE] PID of the configuration, checks its version and
 * synchronises with the state a host that did not close it left it in. 0 opened; 1 on any
 * failure (a box says why). One process at a time can have a card open. */
QZ_API uint32_t QZ_STDCALL QZ_InitCard(void);
/* Commits the card's pending flash work, stops the library's threads, switches the card off-line
 * and closes it. 0 closed; 1 no card open; 2 busy. */
QZ_API uint32_t QZ_STDCALL QZ_CloseCard(void);
/* Marks the card parameters as accepted without an upload when key is the library's key. */
QZ_API uint32_t QZ_STDCALL QZ_SetFlag(uint32_t key, uint32_t value);
/* Applies the parameter file "QZMarkPara.cfg" to the open card. The file lies in the configuration
 * folder "ini" in the library's folder; when the library's folder path holds "\QuenloDLL<c>" (one
 * copy of the library per card), in "ini\Quenlo<c>" in the folder that holds "QuenloDLL<c>" (with
 * the platform's path separator). It reads the whole configuration, loads the fly, axis and
 * calibration parameters, checks that the configuration ([Main] CardVertion=6), the library, the
 * card, its USB firmware and an optical-switch card fit together, and (with [Main]
 * bUpdateParaInCardWhenOpen 1) uploads the card parameters and correction tables into the card's
 * flash; then the parameters are accepted and jobs can start. Starts the library's monitor and
 * watchdog threads when they are not running. A refused check (an encoder range [FLY] nEncRange
 * below 10 among them) is shown in a box and leaves the parameters not accepted; the result is
 * still 0. 0 done; 1 no card open or the card was lost; 2 busy; 26 the card did not take the
 * uploaded parameters; the code of another failure. The argument is not used. */
QZ_API uint32_t QZ_STDCALL QZ_SetCardParaFile(uint32_t reserved);
/* The card's hardware version word. 1 when no card is open. */
QZ_API uint32_t QZ_STDCALL QZ_GetHdVer(uint32_t* version);
/* Debugging: with flag 1 the next QZ_InitCard stops after the version check and QZ_CloseCard
 * neither commits nor switches the card off-line. */
QZ_API uint32_t QZ_STDCALL debug_OpenCard2GetMsg(uint32_t flag);

/* The card's state in words: off-line mode, the task the card runs, its alarms and what it waits
 * for, in the configured language. `text` must hold 1024 bytes; at most 1023 bytes and a
 * terminating zero are written. 1 when no card is open. */
QZ_API uint32_t QZ_STDCALL QZ_GetWaitInfo(char* text);

/* Starts a mark job: claims the library for the mark task and arms the job. mode: 0 or 1 online
 * (1 without firing the laser), 2 offline download, 3 fixed jump speed, 4 as 1 without the laser
 * output reset at the end. startFlag 0 jumps to the end position first. 0 started; 1 no card or
 * the card was lost; 2 the library is busy with another task, the card parameters have not been
 * accepted (QZ_SetCardParaFile has not applied the parameter file, or refused it), the card is busy,
 * not synchronised or holds an alarm that was not cleared, or mode is above 4 (a box or the error log
 * says which); 16 another mark call is in progress. */
QZ_API uint32_t QZ_STDCALL QZ_MarkStart(uint32_t mode, uint32_t reserved, uint32_t startFlag);
/* Ends the job: flushes the rest, waits until the card has received everything and finished, and
 * reports the end. endArg 0 returns the scanner to the end position ([HARDWARE] MarkEnd_X,
 * MarkEnd_Y) at the end of the job's stream, unless it is there already; nonzero leaves it where the
 * job ended (with rotation marking on it returns in any case, with [Main] wob it jumps there in any
 * case). A job the card did not run to its end leaves the scanner moved to the end position
 * afterwards whatever endArg says. 0 ended; 1 card lost; 3 the end failed (the job was stopped or
 * failed) or the job was starting; 16 another mark call is in progress; 17 no job was started. */
QZ_API uint32_t QZ_STDCALL QZ_MarkEnd(uint32_t endArg);

/* Pens (layers 0..255). Each call may come between jobs or inside one; 1 when no card is open or
 * the card was lost, 16 while another mark call is in progress, 6 (QZ_E_LAYER_NUMBER_OVER, with a
 * box) for a refused argument (more than 256 records, a null table with a positive count, a layer
 * or laser out of range, a wave of more than 20 points: the pen tables hold 20 points per wave),
 * which changes nothing. QZ_SetMarkPara and QZ_SetMarkParaPlus with a count of 0 or below change
 * nothing and return 0.
 *
 * Records are read byte by byte, little-endian, packed (no padding); bytes not listed are not read.
 *
 * Wave point (20 bytes): offset 0 int32 unit (0: x is a duration in ms, else a length in mm);
 *   4 double x; 12 double power in percent.
 * Wave table (20 wave points, 400 bytes) of a pen record: the line table's points after the first
 *   x = -2.0 up to a point with x = -1.0 (or the table's end) are the line start wave, the points
 *   after the next x = -3.0 up to x = -1.0 (or the end) the line end wave (without -2.0 both are
 *   empty); the dot table's points from the first up to x = -1.0 (or the end) are the dot wave.
 *
 * Pen record of QZ_SetMarkPara (1696 bytes):
 *   offset type    field
 *      8   double  Z position in mm
 *     16   double  laser power in percent (laser 0)
 *     28   double  laser frequency in kHz (period ceil(1000 / f x 48) ticks of 48 MHz, at most 0xFFFFFF;
 *                  below 1e-8 kHz: 1000 ticks high and period)
 *     36   double  laser duty in percent (high time ceil(period x duty / 100), at most the period;
 *                  the timings a laser cannot take: QZ_MarkLayer)
 *     44   int32   wave number (sent by the layer switch when it changes)
 *     48   int32   power in percent of analogue channel 2 (the layer switch sends min(p x 4095 / 100,
 *                  4095) when it changes)
 *     52   double  kept, not used;  60 double  kept, not used
 *    432   double  mark speed in mm/s    (below 1e-6 mm/s or not finite: the pen is disabled; a
 *                  move at 0 mm/s or below fails the job with 2 and a box that says so)
 *    440   double  jump speed in mm/s    (likewise)
 *    448   int32   jump delay 2 in µs (also the jump parameters' first word; a laser-module slot's
 *                  mode)
 *    452   int32   jump delay 1 in µs
 *    456   int32   jump delay 3 in µs (a laser-module slot's dot time in µs)
 *    460   int32   laser-on delay in µs (laser 0)
 *    464   int32   laser-off delay in µs (laser 0)
 *    480   float   angle in degrees (a 32-bit real)
 *    484   int32   line wave mode (laser 0)
 *    488   20 wave points: the line table (400 bytes)
 *    888   int32   dot wave mode (laser 0)
 *    892   20 wave points: the dot table (400 bytes, up to byte 1291)
 *   It also sets the extra record's jump word to jump delay 2 and its jump real to 1.0.
 *
 * Extra record of QZ_SetMarkParaPlus (412 bytes):
 *      0   int32   jump word (jump parameters)
 *      4   double  jump real (jump parameters; rounded where it is used)
 *     12   uint32  flags: top byte 0xA5 makes bits 0 and 1 count (else only bytes 0-11 are read)
 *     16   double  a real kept when flag bit 0 is set
 *   With flag bit 1 the second laser's (laser 1) timing of the pen:
 *     24   double  frequency in kHz;  32 double duty in percent (as the pen record's)
 *     40   int32   laser-on delay in µs;  44 int32 laser-off delay in µs
 *     48   double  laser power in percent
 *     56   int32   line wave mode;  60 int32 dot wave mode */
/* Pens 0..count-1 from `count` pen records of 1696 bytes each (layout above): speeds, delays, laser
 * 0's frequency, duty, power and waves. A pen with a mark or jump speed below 1e-6 mm/s is disabled.
 * 0 set (also for a count of 0 or below); 6 more than 256 records or null records. */
QZ_API uint32_t QZ_STDCALL QZ_SetMarkPara(const void* records, int32_t count);
/* Pens 0..count-1 from `count` extra records of 412 bytes each (layout above): jump parameters and,
 * with flag word 0xA5xxxxxx, the second laser's timing. 0 set (also for a count of 0 or below); 6
 * more than 256 records or null records. */
QZ_API uint32_t QZ_STDCALL QZ_SetMarkParaPlus(const void* records, int32_t count);
/* Replaces the line start and line end power waves of pen `layer` of laser 0 by nStart and nEnd wave
 * points (20 bytes each, layout above; 0..20 points, more are refused with 6: a pen holds 20). */
QZ_API uint32_t QZ_STDCALL QZ_SetMarkParaLinePowWave(int32_t layer, const void* start, int32_t nStart,
                                                     const void* end, int32_t nEnd);
/* Replaces the dot power wave of pen `layer` of laser 0 by `count` wave points (0..20, else 6). */
QZ_API uint32_t QZ_STDCALL QZ_SetMarkParaDotPowWave(int32_t layer, const void* wave, int32_t count);
/* QZ_SetMarkParaLinePowWave for laser 0 or 1 (another laser: 6). */
QZ_API uint32_t QZ_STDCALL QZ_SetMarkParaLinePowWaveL(int32_t laser, int32_t layer, const void* start,
                                                      int32_t nStart, const void* end, int32_t nEnd);
/* QZ_SetMarkParaDotPowWave for laser 0 or 1 (another laser: 6). */
QZ_API uint32_t QZ_STDCALL QZ_SetMarkParaDotPowWaveL(int32_t laser, int32_t layer, const void* wave,
                                                     int32_t count);

/* Mark-list commands: called between QZ_MarkStart and QZ_MarkEnd, each appends its step to the job.
 * Common results: 0 done; 1 no card open or the card was lost; 2 a refused argument (nothing is
 * appended); 16 another mark call is in progress (the card's run is stopped); 17 no job was started;
 * 20 the job was stopped or has failed; 38 memory exhausted. A call after a start that failed
 * returns 0 and does nothing. Arguments marked reserved are not read. */
/* Sets the outputs 0..31 selected by mask to the bits of values. */
QZ_API uint32_t QZ_STDCALL QZ_MarkBufIO(uint32_t values, uint32_t mask, uint32_t reserved1, uint32_t reserved2);
/* Waits for one byte of the inputs: bits 0-7 values, 8-15 mask, 16-23 edge inputs, bit 24 set for
 * edges from 0 to 1 (clear: from 1 to 0), bits 25-27 the byte (1..4 for inputs 0-7 .. 24-31; 0 is
 * the fourth byte). A byte number of 5..7 is refused with 2. */
QZ_API uint32_t QZ_STDCALL QZ_MarkBufWait(uint32_t packed, uint32_t reserved);
/* Waits until the inputs under mask equal values; with edge inputs, until those change (edgeMode 1:
 * from 0 to 1, else from 1 to 0). timeoutMs 0 waits without a time-out; at most 16777 ms (a longer
 * one is cut to it). */
QZ_API uint32_t QZ_STDCALL QZ_MarkInputWait(uint32_t mask, uint32_t values, uint32_t edge, uint32_t edgeMode,
                                            uint32_t timeoutMs);
/* Marks a laser switch point in the job (its kind marker alone). */
QZ_API uint32_t QZ_STDCALL QZ_LaserSwitch(uint32_t reserved1, uint32_t reserved2);
/* Synchronised moves are not available in this library: each fails the job (the card's run is
 * stopped, a box says why) and returns 2; later mark-list commands of the job return 20. */
QZ_API uint32_t QZ_STDCALL QZ_MarkSynMoveStart(void);
/* Fails the job with 2 (not available), as QZ_MarkSynMoveStart. */
QZ_API uint32_t QZ_STDCALL QZ_MarkSynMoveEnd(void);

/* Polylines. Marks the polyline through `count` points of `points`, each a record of three reals
 * {x, y, unused} in mm, with the pen `layer` (0..255): a jump to the first point, then lit vectors
 * through the others. A polyline that starts where the previous one ended (within the configured
 * join distance) in the same pen continues it. Vectors are generated a few points behind the host:
 * a polyline's last point is marked when the next command arrives. A refused polyline fails the job
 * (a box, the card's run stopped, nothing of it appended; later mark-list commands return 20 and
 * QZ_MarkEnd 3): 2 null points with a positive count, 7 a coordinate that is NaN or infinite, 12
 * fewer than two points, 6 a layer above 255, 2 a coordinate farther from the centre than its
 * axis's whole field. */
QZ_API uint32_t QZ_STDCALL QZ_MarkVector(const double* points, int32_t count, uint32_t layer);

/* Run control and job queries. None of them waits for a mark call: QZ_Mark_Stop from another
 * thread ends a job that a mark call or QZ_MarkEnd is waiting on. Each returns 1 when no card is
 * open or the card was lost, 2 for a null out-pointer (nothing is sent), otherwise 0. */
/* Stops the job: the running job ends at its next step and the card stops its run. Without a job
 * the card is still told to stop. */
QZ_API uint32_t QZ_STDCALL QZ_Mark_Stop(void);
/* Run control of the card: a nonzero `first` and a nonzero `second` each send their control flag;
 * with `state` (may be null) the card's control state bit (0 or 1) is read back. */
QZ_API uint32_t QZ_STDCALL QZ_Control(uint32_t first, uint32_t second, uint32_t* state);
/* The card's job information, from its status words: bit 0 the card runs a job; bits 1-7 are 0;
 * bits 8-11 how the card's last run ended (1 run to its end, 2 stopped, 4 the data broke off, 8
 * stopped by a module; 0 none reported) and bits 13-15 its detail (with 2: 2 a failed jump; with 8:
 * 1 a failed return jump; with 0: 3 a buffer head error); on cards with numbered commands bits
 * 16-20 the step of the card's own operation, bits 21-25 the task registered with the card, bit 26
 * off-line mode and bits 27-31 the laser's alarm bits. Other bits as the card reports them. */
QZ_API uint32_t QZ_STDCALL QZ_GetMarkInfo(uint32_t* info);
/* The stream time of the last job in microseconds (low 32 bits). The card is not asked. */
QZ_API uint32_t QZ_STDCALL QZ_GetMarkTime(uint32_t* time);
/* The marked segments of the current or the last job. The card is not asked. */
QZ_API uint32_t QZ_STDCALL QZ_GetMarkLineCnt(uint32_t* count);

/* Calibration. The box method in force is [Main] bNewBoxCali (derived from the card version when a
 * card is opened): 0 the box text file named by the configuration with the calibration module
 * "Corrix", 1 the 2048-byte box parameter block ("CaliPara.cl") with the box-correction module
 * "Gridel". None of the first four needs a card or waits for a task; a null pointer is refused
 * with 2. */
/* The full range of the box correction in mm: twice the half range the box-correction module
 * reported (20.0 until it has). */
QZ_API uint32_t QZ_STDCALL QZ_GetBoxRange(double* range);
/* The box method in force: 1 for the box parameter block, 0 for the box text file. */
QZ_API uint32_t QZ_STDCALL QZ_GetBoxType(uint32_t* type);
/* Copies the library's 2048-byte box parameter block into `block` (its extension word, bytes 588
 * to 591, as 0). */
QZ_API uint32_t QZ_STDCALL QZ_GetCaliPara(void* block);
/* Takes a 2048-byte box parameter block (version word A at least 1, version word B below 4, else 2
 * after a box) and saves it as "CaliPara.cl"; 10 when the file cannot be written. The card's
 * correction tables are not rebuilt. */
QZ_API uint32_t QZ_STDCALL QZ_SaveCaliPara(const void* block);
/* Old box method: reads the box file the configuration names ([Calibration]
 * KVX100<model>_NO<card>_File, the argument is not used), the offsets, rotation and axis mode of
 * [HARDWARE], builds both correction tables and writes them to the card. 0; 1 no card or the card
 * was lost; 2 the new box method is in force (after a box) or the library is busy; 10 the box file
 * cannot be opened; 11 a refused box file, or "Corrix" is missing (nothing is sent then); flash
 * failures with their codes. */
QZ_API uint32_t QZ_STDCALL QZ_SetCaliParaFile(uint32_t fileName);
/* New box method: takes the 2048-byte block as QZ_SaveCaliPara does, saves it, builds both
 * correction tables through "Gridel" and writes them to the card. 0; 1 no card or the card was
 * lost; 2 the old box method is in force (after a box), the library is busy or the block's version
 * is refused; 10 "CaliPara.cl" could not be written (the tables were sent); 11 "Gridel" is missing
 * (nothing is sent); flash failures with their codes. */
QZ_API uint32_t QZ_STDCALL QZ_SetCaliPara(const void* block);

/* Dots and layers in the mark list (common results of the mark-list commands above).
 * QZ_MarkDot marks `count` dots with pen `layer`: `points` holds count records of three doubles
 * (x, y in mm, a third that is not read); each dot switches every laser on for the whole
 * microseconds of dotTime, after a jump when the scanner is elsewhere. A refused dot list fails the
 * job as a refused polyline does (QZ_MarkVector): a null points with a positive count 2, a
 * coordinate that is NaN or infinite 7, a dotTime below 0.99 (or NaN, or -infinity) 31, a dotTime of
 * +infinity 7, dots while rotation marking is on 18, a layer outside 0..255 6, a coordinate farther
 * from the centre than its axis's whole field 2, dots with a dotTime below 1 31 (a dot lasts its
 * whole microseconds). An empty list (count 0) of a dotTime from 0.99 applies the pen alone. */
QZ_API uint32_t QZ_STDCALL QZ_MarkDot(const void* points, int32_t count, double dotTime, int32_t layer);
/* Switches the job to pen `layer` (0..255, else 6): its power, pulse timing, wave number, Z and
 * jump parameters, each sent ahead by its lead time; flag nonzero applies the pen's dot waves,
 * 0 its line waves. Values unchanged since they were last sent in this job are not sent again.
 * A pen's pulse timing the laser cannot take fails the job with 32 (a box, the card's run stopped,
 * later mark-list commands 20, QZ_MarkEnd 3), here and in every command that applies a pen
 * (QZ_MarkVector, QZ_MarkDot, the laser programs): a high or low time of 1 or 2 ticks on any laser;
 * on a fibre laser ([LASER] LASER_TYPE 2, the example configuration's type, or 6) in a job that
 * fires the laser, high and low times that differ by more than 3 ticks (a duty away from 50 %),
 * unless [FIBER] bAllowFiberPwmDutyChange is 1. */
QZ_API uint32_t QZ_STDCALL QZ_MarkLayer(int32_t layer, uint32_t flag);

/* Encoder fly marking. The conveyor's encoder is counted by the card; its counter wraps at the
 * configured range ([FLY] nEncRange when bEncRange is set). Each export except QZ_GetRotateCent
 * returns 1 at once when no card is open and 1 when the card was lost during the call, 2 for a null
 * out-pointer (nothing is sent), otherwise 0. */
/* Sets the card's encoder counter to pos. */
QZ_API uint32_t QZ_STDCALL QZ_SetFlyEncInitPos(int32_t pos);
/* The card's encoder counter. */
QZ_API uint32_t QZ_STDCALL QZ_GetEncPos(uint32_t* pos);
/* The conveyor's speed in mm/s from the encoder's pulse period and [FLY] nEncPPM (a period of 0
 * gives an infinite speed). */
QZ_API uint32_t QZ_STDCALL QZ_GetEncVel(double* vel);
/* The count of the last count marker the card ran (16 bits) and the flag the card reports with it. */
QZ_API uint32_t QZ_STDCALL QZ_GetBufferCnt(uint32_t* flag, uint16_t* count);
/* Reads the fly parameters of the configuration again and sends them to the card. An encoder range
 * below 10 is refused with 2 after a box; nothing is sent or changed then. */
QZ_API uint32_t QZ_STDCALL QZ_SetFlyPara(void);
/* Sends the offset compensation a, b (in 1/8192 units). A value that is not finite or does not fit
 * 32 bits in those units is refused with 2. */
QZ_API uint32_t QZ_STDCALL QZ_SetOffsetCompensation(double a, double b);
/* The centre about which a counter-clockwise rotation by `angle` degrees carries (x1, y1) to
 * (x2, y2). Needs no card; 0, or 2 for a null out-pointer. An angle of 0 has no centre: the
 * results are not finite. */
QZ_API uint32_t QZ_STDCALL QZ_GetRotateCent(double x1, double y1, double x2, double y2, double angle, double* cx,
                                            double* cy);
/* The next entry of the card's encoder position buffer: status (bit 9 nothing to report, bit 8 the
 * buffer overflowed (a box says so), bit 0 clear a crossing of a quarter or half of the range, bit
 * 1 counting down) and value; the library follows the encoder's travel across the counter's wraps
 * with it. QZ_GetEncPosBuf is the same operation. */
QZ_API uint32_t QZ_STDCALL QZ_GetEncPosBuf2(uint32_t* status, uint32_t* value);
/* Same as QZ_GetEncPosBuf2. 0; 1 no card or the card was lost; 2 a null pointer. */
QZ_API uint32_t QZ_STDCALL QZ_GetEncPosBuf(uint32_t* status, uint32_t* value);
/* QZ_GetEncPosBuf2, then the encoder's travel since the last reset in mm. */
QZ_API uint32_t QZ_STDCALL QZ_GetEncBufPosAbs(uint32_t* status, double* mm);
/* Switches the card's encoder position buffer on (nonzero) or off; the travel starts over at 0. */
QZ_API uint32_t QZ_STDCALL QZ_SetEncPosBufSwitch(int32_t on);

/* Records of the monitor thread (need no card; 0, or 2 for a null out-pointer with nothing popped).
 * The oldest laser-state change: found 1 with the laser-on bit and the device time in ms, else
 * found 0. */
QZ_API uint32_t QZ_STDCALL QZ_GetLaserMsg(uint32_t* found, uint32_t* state, uint32_t* timeMs);
/* Empties the laser-state lists. Always 0. */
QZ_API uint32_t QZ_STDCALL QZ_EmptyLaserMsg(void);
/* The oldest analogue sample: AD and DA in percent of full scale (-1/-1 marks the laser switching
 * on, -2/-2 off), the device time in µs, the tick count when it was taken and the tick count now. */
QZ_API uint32_t QZ_STDCALL QZ_GetADDARecordWithSysTime(int32_t* found, double* ad, double* da, uint32_t* time,
                                                       uint32_t* sampleTick, uint32_t* nowTick);
/* QZ_GetADDARecordWithSysTime without the DA value (it is popped and dropped). 0; 2 a null pointer. */
QZ_API uint32_t QZ_STDCALL QZ_GetADRecordWithSysTime(int32_t* found, double* ad, uint32_t* time,
                                                     uint32_t* sampleTick, uint32_t* nowTick);
/* The oldest sample's AD value in percent and device time in µs (the DA value and ticks are popped and
 * dropped). 0; 2 a null pointer. */
QZ_API uint32_t QZ_STDCALL QZ_GetADRecord(int32_t* found, double* ad, uint32_t* time);
/* Empties the analogue record lists. Always 0. */
QZ_API uint32_t QZ_STDCALL QZ_EmptyADRecord(void);
/* Encoder and fly steps of a job (between QZ_MarkStart and QZ_MarkEnd, results as the mark-list
 * commands). Positions in mm count from the encoder travel QZ_MarkEncMeasDis set; a position that is
 * NaN or infinite is refused with 7, one behind the last fly position with 2 (nothing appended). */
/* Switches fly marking on (1) or off (0) in the stream; off returns the scanner as [FLY] nFlyOffHome says. */
QZ_API uint32_t QZ_STDCALL QZ_MarkFlySwitch(uint32_t on);
/* The card resets its encoder counter here; the library's encoder travel starts over at 0. */
QZ_API uint32_t QZ_STDCALL QZ_MarkEncReset(void);
/* Switches the card's encoder position buffer on (flag nonzero) or off at this point of the job. */
QZ_API uint32_t QZ_STDCALL QZ_MarkEncBufSwitch(int32_t flag);
/* The card waits until its encoder counter reaches pos (first 5 pulses before it). */
QZ_API uint32_t QZ_STDCALL QZ_MarkEncWait(int32_t pos);
/* The fly-mark range: on/off, direction (0 or not 0), the limit's field position in mm. */
QZ_API uint32_t QZ_STDCALL QZ_MarkAreaSafeFly(uint32_t rangeFlag, uint32_t dir, double pos);
/* Starts fly marking at encoder position `pos` (pulses): resetFlag 1 resets the counter first (once per
 * job), switchFlag nonzero switches fly marking off before the wait and on after it. */
QZ_API uint32_t QZ_STDCALL QZ_MarkFlyOnEnc(uint32_t pos, int32_t resetFlag, uint32_t switchFlag, uint32_t reserved);
/* The card waits until the encoder has travelled `mm` millimetres (from the QZ_MarkEncMeasDis base)
 * without marking. */
QZ_API uint32_t QZ_STDCALL QZ_MarkFlyEmptyPosAbs(double mm);
/* The card waits until the encoder reaches the fly-mark position `mm` millimetres (from the
 * QZ_MarkEncMeasDis base). */
QZ_API uint32_t QZ_STDCALL QZ_MarkFlyMarkPosAbs(double mm);
/* Sets the base of the fly positions to `mm` millimetres of encoder travel and waits until the encoder
 * reaches it. */
QZ_API uint32_t QZ_STDCALL QZ_MarkEncMeasDis(double mm);
/* Time and flow: a pause of delayUs in the job; everything sent and the card's run started; a count
 * marker the card reports once it ran it (QZ_GetBufferCnt); a numbered marker that keeps the host at
 * most `most` markers ahead of the card (0 is refused with 2 and a box; a job whose run has ended
 * meanwhile fails with 20; QZ_Mark_Stop from another thread ends the wait). */
/* Holds the job for delayUs microseconds of stream time. */
QZ_API uint32_t QZ_STDCALL QZ_MarkBufDelay(uint32_t delayUs);
/* Sends everything appended so far and lets the card start its run. */
QZ_API uint32_t QZ_STDCALL QZ_MarkFlush(void);
/* Appends a count marker (low 16 bits of count) that QZ_GetBufferCnt reports once the card ran it. */
QZ_API uint32_t QZ_STDCALL QZ_MarkBufferCnt(uint32_t count);
/* Appends a numbered count marker and returns once the card is at most `most` markers behind (0: 2 with a
 * box; 20 when the run ended meanwhile). */
QZ_API uint32_t QZ_STDCALL QZ_MarkSetCountAndWait(uint32_t most);
/* Tasks: n >= 0 a task label; -6 and -7 switch the chaining of polylines through their leads on and
 * off; -10 updates the fly compensation; other negative values do nothing. Task numbers above 0xFFFF
 * (above 0xFF for the input jumps) are refused with 2. */
QZ_API uint32_t QZ_STDCALL QZ_MarkBufSmallTask(int32_t n);
/* Appends the card's finish flag. */
QZ_API uint32_t QZ_STDCALL QZ_MarkFlagFinish(void);
/* Starts a loop of `count` passes (low 16 bits) at task label `task`. */
QZ_API uint32_t QZ_STDCALL QZ_MarkLoopStart(uint32_t task, uint32_t count);
/* The card continues at task label `task`. */
QZ_API uint32_t QZ_STDCALL QZ_MarkJumpTaskNo(uint32_t task);
/* The card continues at task label `task` (0..0xFF) when the inputs under mask equal value. */
QZ_API uint32_t QZ_STDCALL QZ_MarkJumpByIOInOK(uint32_t mask, uint32_t value, uint32_t task);
/* The card continues at task label `task` (0..0xFF) when the inputs under mask do not equal value. */
QZ_API uint32_t QZ_STDCALL QZ_MarkJumpByIOInNG(uint32_t mask, uint32_t value, uint32_t task);
/* Ends the loop of task label `task`: the card jumps back until its passes are done. */
QZ_API uint32_t QZ_STDCALL QZ_MarkLoopEnd(uint32_t task);
/* A camera step: the card waits for the camera, the scanner moves to (x, y) mm (enable 0: only the
 * wait), the position goes out as two 16-bit codes with a parameter word (number as two BCD digits,
 * field in 4 bits, flag 1 clears bit 14), a register write by selector (0: 0x200, 2: 0x100 | value,
 * else 0), and a second wait. Refused: selector 2 with a value above 0xFFFF (2), an enabled step
 * with x or y NaN or infinite (7). */
QZ_API uint32_t QZ_STDCALL QZ_MarkCCD(int32_t enable, int32_t number, double x, double y, uint32_t reserved1,
                                      uint32_t reserved2, uint32_t reserved3, int32_t field, int32_t selector,
                                      int32_t flag, uint32_t value, uint32_t reserved4);
/* Wobble units and laser-module programs. The card keeps them as resident programs in 16 slots that
 * its inputs choose. Units stay in the library until QZ_WobUnitClear; each export returns 1 at once
 * when no card is open. QZ_WobUnit stores a closed figure through `count` points {x, y, unused} in
 * mm with pen `layer` (a first point is appended again when the figure is open): 2 null points with
 * a positive count or 16 units stored already, 8 fewer than two points (with a box), 6 a layer above
 * 255, 7 a coordinate that is NaN or infinite; nothing is stored then. QZ_WobUnitPow adds a power
 * profile: n points at positions (percent of the loop) with powers (percent), shifted by offsetUs
 * (negative: earlier); 2 null arrays with a positive n, 7 a value that is not finite. */
/* Forgets every stored wobble unit. 0; 1 no card. */
QZ_API uint32_t QZ_STDCALL QZ_WobUnitClear(void);
/* Stores a wobble unit: `count` points of three reals {x, y, unused} (24 bytes each) in mm, pen `layer`;
 * results as described above. */
QZ_API uint32_t QZ_STDCALL QZ_WobUnit(const double* points, int32_t count, uint32_t layer);
/* QZ_WobUnit with a power profile: bPowEnable nonzero plays `n` powers (percent) at `positions` (percent
 * of the loop), shifted by offsetUs µs. */
QZ_API uint32_t QZ_STDCALL QZ_WobUnitPow(const double* points, int32_t count, uint32_t layer, int32_t bPowEnable,
                                         int32_t offsetUs, const double* positions, const double* powers, int32_t n);
/* Stops the card's program (as QZ_Mark_Stop). */
QZ_API uint32_t QZ_STDCALL QZ_WobEnd(void);
/* Whole jobs in one call: download the wobble units (bWait nonzero: the card waits on input 0
 * around each step), the laser-module program of pens 0..15, or the optical-switch program with
 * four X positions (u16 galvanometer codes; flag nonzero skips the input-0 handshake). 0 done; 1 no
 * card; 2 [Main] wob (bKvxOSS for the optical switch) not set, a card below version 80, null
 * positions, a run mode above 4, or the library busy (a job that is open stays as it was); 16 another
 * mark call is in progress; a generator's failure with its code. */
/* Downloads the stored wobble units as the card's resident program (mode: the run mode, 0..4); results as
 * described above. */
QZ_API uint32_t QZ_STDCALL QZ_WobStart(uint32_t bWait, uint32_t mode);
/* Downloads the laser-module program of pens 0..15 (mode: the run mode, 0..4); results as QZ_WobStart. */
QZ_API uint32_t QZ_STDCALL QZ_LaserModuleStart(uint32_t mode);
/* Downloads the optical-switch program: `positions` four u16 X galvanometer codes, flag nonzero skips the
 * input-0 handshake; results as QZ_WobStart. */
QZ_API uint32_t QZ_STDCALL QZ_OssLaserModuleStart(const uint16_t* positions, uint32_t mode, uint32_t flag);

/* Laser programs and scanner steps in the mark list (common results of the mark-list commands).
 * Refused before anything is appended, the job going on: 2 null points with a positive count, fewer
 * than 2 points of a wobble-by-encoder figure, an input bit above 31; 6 a layer outside 0..255.
 * QZ_MarkBufScanPos, QZ_MarkWobLaserByEnc, QZ_MarkDotLaserByIO and QZ_MarkDotLaserByEnc fail the job
 * as a refused polyline does (a box, the card's run stopped, nothing of the step appended; later
 * mark-list commands return 20 and QZ_MarkEnd 3): 7 a coordinate or spot time that is NaN or
 * infinite, 2 a position farther from the centre than its axis's whole field. QZ_MarkWobLaserByEnc
 * needs the new box method (21-bit codes): otherwise the job fails with 2. A spot weld longer than
 * its period fails the job with 2. */
/* Jumps to (x, y) in mm with the jump parameters of pen `pen` (no move when already there). */
QZ_API uint32_t QZ_STDCALL QZ_MarkBufScanPos(double x, double y, double reserved, int32_t pen);
/* Resets the lasers' layer state in the job and jumps to the field centre (0, 0). */
QZ_API uint32_t QZ_STDCALL QZ_MarkInitScanLaser(void);
/* Laser program: waits for input 0, applies pen `layer`, marks a line while the input holds. */
QZ_API uint32_t QZ_STDCALL QZ_MarkLaserByIO(int32_t layer);
/* QZ_MarkLaserByIO with a mode (1 a line, else a dot of dotTime µs). */
QZ_API uint32_t QZ_STDCALL QZ_MarkLaserByIO2(int32_t layer, uint32_t mode, int32_t dotTime);
/* Laser program on the encoder: pen `layer`, mode (1 a line, else a dot of dotTime µs) from encoder
 * position `value` to `endValue` (pulses). */
QZ_API uint32_t QZ_STDCALL QZ_MarkLaserByEnc(int32_t layer, uint32_t mode, int32_t dotTime, uint32_t value,
                                             uint32_t endValue);
/* Wobble-by-encoder program: `points` holds `count` records of SIX reals each (48 bytes: x, y in mm, then
 * four reals that are not read), unlike the three of QZ_MarkVector; marked with pen `layer` between
 * encoder positions preValue and value. */
QZ_API uint32_t QZ_STDCALL QZ_MarkWobLaserByEnc(const double* points, int32_t count, int32_t layer, uint32_t value,
                                                uint32_t preValue);
/* Dot program on input `bit` (0..31): a spot of spotTime µs at (x, y) mm with pen `layer`, repeated at
 * `frequency` Hz while the input holds (level 0: no input waits). */
QZ_API uint32_t QZ_STDCALL QZ_MarkDotLaserByIO(double x, double y, double reserved, double frequency, double spotTime,
                                               int32_t layer, int32_t level, uint32_t bit);
/* Dot program on the encoder: a spot of spotTime µs at (x, y) mm with pen `layer`, repeated at `frequency`
 * Hz, between encoder positions preValue and value (flag 0: no waits). */
QZ_API uint32_t QZ_STDCALL QZ_MarkDotLaserByEnc(double x, double y, double reserved, double frequency,
                                                double spotTime, int32_t layer, int32_t flag, uint32_t value,
                                                uint32_t preValue);
/* Motor moves in the mark list: four axis groups (enable, target position, velocity, acceleration in
 * the axis's units). QZ_MarkMotorStart waits for the platform and starts the enabled axes 1 to 3
 * (group 4 is not moved); all enables 0 append nothing. QZ_MarkMotorEnd waits until the axes are in
 * place; QZ_MarkMotorRun is both (nothing when all enables are 0). A target that is not a number
 * fails the job with 7 (a box, the card's run stopped, nothing appended; later mark-list commands
 * return 20 and QZ_MarkEnd 3). */
/* Starts the enabled axes 1..3 towards their targets (units of each axis) as described above. */
QZ_API uint32_t QZ_STDCALL QZ_MarkMotorStart(int32_t en1, double pos1, double vel1, double acc1, int32_t en2,
                                             double pos2, double vel2, double acc2, int32_t en3, double pos3,
                                             double vel3, double acc3, int32_t en4, double pos4, double vel4,
                                             double acc4);
/* The card waits until the platform reports the axes in place. */
QZ_API uint32_t QZ_STDCALL QZ_MarkMotorEnd(void);
/* QZ_MarkMotorStart followed by QZ_MarkMotorEnd. */
QZ_API uint32_t QZ_STDCALL QZ_MarkMotorRun(int32_t en1, double pos1, double vel1, double acc1, int32_t en2,
                                           double pos2, double vel2, double acc2, int32_t en3, double pos3,
                                           double vel3, double acc3, int32_t en4, double pos4, double vel4,
                                           double acc4);
/* Extra motion axes (QZ_NXA_...). Axis numbers start at 1; an axis the card does not have (2 on USB
 * cards, 3 on PCIe cards) is refused with 15 (log and box) where noted. Each returns 1 at once when
 * no card is open and 1 when the card was lost during the call; getters refuse a null pointer with 2;
 * a position that is not a number gives 7; velocities and accelerations the card cannot take (not
 * finite, below 0, or codes of 0 or wider than 24 bits) give 29 and stop the card's run. Nothing is
 * sent on a refusal. */
/* Sets the soft home position of `axis` (axis units). 15 for an axis the card does not have. */
QZ_API uint32_t QZ_STDCALL QZ_NXA_SetAxisSoftHome(int16_t axis, double position);
/* The soft home position of `axis` (axis units) from its record; no command. 15 for an axis the card does
 * not have. */
QZ_API uint32_t QZ_STDCALL QZ_NXA_GetAxisSoftHome(int16_t axis, double* home);
/* Sends the four gear-ratio integers of `axis`. 15 for an axis the card does not have. */
QZ_API uint32_t QZ_STDCALL QZ_NXA_SetAxisGearRatio(int16_t axis, int32_t g1, int32_t g2, int32_t g3, int32_t g4);
/* Sends the stop deceleration of `axis` (axis units/s²). 15 for an axis the card does not have; 29 a value
 * the card cannot take. */
QZ_API uint32_t QZ_STDCALL QZ_NXA_SetAxisStopAcc(int16_t axis, double acceleration);
/* Sends the home modes (low 4 bits each) and the homing order of the four axes. */
QZ_API uint32_t QZ_STDCALL QZ_NXA_SetHomeMode(int32_t mode1, int32_t mode2, int32_t mode3, int32_t mode4,
                                              int16_t order1, int16_t order2, int16_t order3, int16_t order4);
/* Declares the current position of `axis` (axis units). 15 for an axis the card does not have; 7 not a
 * number. */
QZ_API uint32_t QZ_STDCALL QZ_NXA_SetCurPos(int32_t axis, double position);
/* The third argument is not used. The velocity is clamped to the axis's maximum. */
QZ_API uint32_t QZ_STDCALL QZ_NXA_AxisMove(int16_t axis, double acceleration, double unused, double velocity,
                                           double position);
/* Direction 1 runs towards the far positive end, any other towards the negative end, until stopped. */
QZ_API uint32_t QZ_STDCALL QZ_NXA_AxisMoveJOG(int16_t axis, double acceleration, double unused, double velocity,
                                              int32_t direction);
/* Stops every axis whose argument is nonzero. */
QZ_API uint32_t QZ_STDCALL QZ_NXA_StopAxis(int32_t stop1, int32_t stop2, int32_t stop3, int32_t stop4);
/* Status: 0x400 set and 0x10 clear when the axis is done. 15 for an axis the card does not have
 * (before the pointer is looked at). */
QZ_API uint32_t QZ_STDCALL QZ_NXA_GetAxisSts(int32_t axis, uint32_t* status);
/* An axis the card does not have reads 0.0 and returns 0. */
QZ_API uint32_t QZ_STDCALL QZ_NXA_GetAxisPos(int16_t axis, double* position);
/* The homing status of the four axes (one nibble each). */
QZ_API uint32_t QZ_STDCALL QZ_NXA_GetHomeSts(uint32_t* status);
/* Homes one axis in the mode of its record (0, 6 positive; 1, 7 negative; else a box and 2, nothing
 * sent), waits until it is done, then moves it to the home distance. */
QZ_API uint32_t QZ_STDCALL QZ_NXA_SearchHome(int32_t axis);
/* The card homes every axis in its configured order. */
QZ_API uint32_t QZ_STDCALL QZ_NXA_SearchHomeAll(void);
/* The inputs of the motion unit. */
QZ_API uint32_t QZ_STDCALL QZ_NXA_GetMotorDi(uint32_t* inputs);
/* Do nothing and return 0, also without a card. */
QZ_API uint32_t QZ_STDCALL QZ_NXA_SetMotorDo(int32_t a, int32_t b);
/* Does nothing and returns 0, also without a card (*outputs is left as it was). */
QZ_API uint32_t QZ_STDCALL QZ_NXA_GetMotorDo(uint32_t* outputs);
/* On USB cards the mode is 1 and the enable 0, whatever is asked. */
QZ_API uint32_t QZ_STDCALL QZ_NXA_SetSTKManualMode(uint8_t mode, int32_t enable, int32_t axis, int32_t value);
/* Reads the axis file again and sends the whole axis configuration. */
QZ_API uint32_t QZ_STDCALL QZ_NXA_SetMotorPara(void);

/* Rotation marking: enable 1 switches it on; axis 0 (X) or 1 (Y) is the galvanometer axis that extra
 * axis 1 replaces; the fastest rotation in units of axis 1 per second; the slope factor of the
 * replaced axis's ramp. Needs no card; 0. Meant to be called outside a running job. */
QZ_API uint32_t QZ_STDCALL QZ_SetRotateMarkPara(uint32_t enable, uint32_t axis, double speedLimit,
                                                double rampFactor);
/* A fixed test move of extra axis 1 (twice to 100 at 10 per second, the first stopped after 3 s);
 * always 0. */
QZ_API uint32_t QZ_STDCALL QZ_Test(void);
/* ---- Immediate commands: at once on the command channel, outside any job. No card open: 1 (the
 * outputs untouched unless a member says it presets them); a card lost during the exchange: 1; a
 * null pointer: 2, nothing sent. */
/* The 32 inputs. */
QZ_API uint32_t QZ_STDCALL QZ_Input(uint32_t* bits);
/* The outputs of `mask` take the bits of `value`; a PA or MO switch of a laser with a serial
 * control is mirrored to the laser's UART. */
QZ_API uint32_t QZ_STDCALL QZ_Output(uint32_t mask, uint32_t value);
/* The 32 outputs as the card holds them. */
QZ_API uint32_t QZ_STDCALL QZ_GetOutput(uint32_t* bits);
/* The card's error output. */
QZ_API uint32_t QZ_STDCALL QZ_OutputError(uint32_t value);
/* The analogue input and the two analogue outputs in percent (preset 0). */
QZ_API uint32_t QZ_STDCALL QZ_GetAD(double* percent);
/* The two analogue outputs in percent of full scale. */
QZ_API uint32_t QZ_STDCALL QZ_GetDA(double* da1, double* da2);
/* Sets the analogue power output to `percent` of full scale, scaled by laser 0's current ranges: the
 * card takes trunc(percent x 4095 / 100 x [POWER] CURRENT_RANGE_LASER_IN / CURRENT_RANGE_DA_OUT). A
 * percent that is negative or not finite, or whose value lies outside 0..4095, is refused with 2 and
 * nothing is sent. */
QZ_API uint32_t QZ_STDCALL QZ_SetDA(double percent);
/* The laser bus: write a register, read one into two words. */
QZ_API uint32_t QZ_STDCALL QZ_IpgBusCmdWrite(uint32_t reg, uint32_t value);
/* Reads register `reg` of the laser bus into two words. */
QZ_API uint32_t QZ_STDCALL QZ_IpgBusCmdRead(uint32_t reg, uint32_t* w0, uint32_t* w1);
/* Hardware words, the card's unique id (seven bytes, preset 0x02), the library's busy flag, the
 * text of a result code (at most `size` bytes with the terminator into *text; needs no card; codes
 * above 40 give "No this err number"), one io debug record, link information. */
/* The card's hardware and feature words (a, b) and second information words (c, d). */
QZ_API uint32_t QZ_STDCALL QZ_GetHdInfo(uint32_t* a, uint32_t* b, uint32_t* c, uint32_t* d);
/* The card's seven-byte unique id (preset to 0x02 each). */
QZ_API uint32_t QZ_STDCALL QZ_GetUniqueID(uint8_t* id);
/* *busy 1 while a library-wide task (a job, a flash task) runs, else 0. */
QZ_API uint32_t QZ_STDCALL QZ_GetMarkStatus(uint32_t* busy);
/* Copies the text of result code `code` (the constants above) to the buffer *text points to, at most
 * `size` bytes with the terminator; needs no card; codes above 40 give "No this err number". 2 for a null
 * text. */
QZ_API uint32_t QZ_STDCALL QZ_GetErrInfo(uint32_t code, char** text, uint32_t size);
/* Debugging: one io debug record of the card: kind (1-4, 0 none), dt in µs and its value. */
QZ_API uint32_t QZ_STDCALL get_debug(uint16_t* kind, uint32_t* dt, uint32_t* value);
/* The link information words of the card (PCIe: the link level and the link status). */
QZ_API uint32_t QZ_STDCALL QZ_GetScsiInfo(uint32_t* a, uint32_t* b);
/* The galvanometers: status, position codes and millimetres (set and measured), moves in mm (7 for
 * a coordinate that is not finite; 37 when they do not stop within 5 s), moves to raw codes, and
 * the corrected codes of a target in mm. */
/* The galvanometer status word. */
QZ_API uint32_t QZ_STDCALL QZ_GetScanState(uint32_t* state);
/* The X galvanometer position as a 16-bit code. */
QZ_API uint32_t QZ_STDCALL QZ_GetScanPosX(uint16_t* code);
/* The set galvanometer position in mm. */
QZ_API uint32_t QZ_STDCALL QZ_GetScanPos(double* x, double* y);
/* The measured (feedback) galvanometer position in mm. */
QZ_API uint32_t QZ_STDCALL QZ_GetScanPosFB(double* x, double* y);
/* Moves the galvanometers to (x, y, z) mm and waits until they stop (7 a coordinate that is not finite; 37
 * not stopped within 5 s). */
QZ_API uint32_t QZ_STDCALL QZ_MicMoveScan3(double x, double y, double z, uint32_t mode);
/* QZ_MicMoveScan3 with z 0. */
QZ_API uint32_t QZ_STDCALL QZ_MicMoveScan(double x, double y, uint32_t mode);
/* Moves the galvanometers to raw 16-bit codes, without the box correction (37 not stopped within 5 s). */
QZ_API uint32_t QZ_STDCALL QZ_ScanMove2Bit(uint16_t xCode, uint16_t yCode);
/* Moves to (x, y) mm as QZ_MicMoveScan and reports the corrected 16-bit codes it reached. */
QZ_API uint32_t QZ_STDCALL QZ_ScanMM2Bit(double x, double y, uint32_t mode, uint16_t* xCode, uint16_t* yCode);
/* Run control: clear the alarms, pause, continue, debug records on/off, on-line (1) or off-line. */
/* Clears the card's alarms. */
QZ_API uint32_t QZ_STDCALL QZ_ClearAlarm(void);
/* Pauses the card's run. */
QZ_API uint32_t QZ_STDCALL QZ_Mark_Pause(void);
/* Continues a paused run. */
QZ_API uint32_t QZ_STDCALL QZ_Mark_ReMark(void);
/* Debugging: the card's io debug records on (nonzero) or off. */
QZ_API uint32_t QZ_STDCALL debug_switch(uint32_t on);
/* Switches the card on-line (1) or off-line (0). */
QZ_API uint32_t QZ_STDCALL QZ_SetOnOffLine(uint32_t online);
/* A raw card command. 0x100 reads p2 pages of card memory from p1 into "OffDocReadBack.tmp" beside
 * the library (9 when the file cannot be created); 0x101-0x4FF send nothing and return 0. Any other
 * command above 0x1FF is refused with 2 and nothing is sent, except the form 0xNN55: with numbered
 * commands it is sent as 0x100 + NN, on a card without them as it is. */
QZ_API uint32_t QZ_STDCALL QZ_SendCtrlCmd(uint16_t command, uint32_t p1, uint32_t p2, uint32_t* r0, uint32_t* r1);
/* The laser's serial port: bytes out, one byte in (*valid 0 first), an SPI laser's back-reflection
 * current (-1 first; 30 for a reply without ','), the laser's alarm (0 none, 1 alarm, 2 no usable
 * reply). A transmitter that does not follow: 37. */
/* Sends `count` bytes to the laser's serial port. */
QZ_API uint32_t QZ_STDCALL QZ_UartCmdSendBytes(const uint8_t* bytes, int32_t count);
/* One byte from the laser's serial port: *valid 1 with the byte, 0 when none waits. */
QZ_API uint32_t QZ_STDCALL QZ_UartCmdRecvByte(uint8_t* byte, uint32_t* valid);
/* An SPI laser's back-reflection current (-1 until read; 30 a reply without ','). */
QZ_API uint32_t QZ_STDCALL QZ_GetSpiBackCurrent(int32_t* current);
/* The laser's alarm: 0 none, 1 alarm, 2 no usable reply. */
QZ_API uint32_t QZ_STDCALL QZ_SystemIsAlarm(int32_t* alarm);
/* The card's two route state words; the end of a route reset. */
/* The card's two route state words into states[0], states[1]. */
QZ_API uint32_t QZ_STDCALL QZ_GetRouteStates(uint32_t* states);
/* Tells the card that a route reset has ended. */
QZ_API uint32_t QZ_STDCALL QZ_EndResetRoute(void);
/* Kept for hosts that call them: each returns 0 and does nothing. */
QZ_API uint32_t QZ_STDCALL QZ_ResetCard(void);
/* Returns 0 and does nothing. */
QZ_API uint32_t QZ_STDCALL QZ_Enter_MarkEnv(void);
/* Returns 0 and does nothing. */
QZ_API uint32_t QZ_STDCALL QZ_Lever_MarkEnv(void);
/* Returns 0 and does nothing. */
QZ_API uint32_t QZ_STDCALL QZ_SetParaAxisZ(void);
/* Returns 0 and does nothing. */
QZ_API uint32_t QZ_STDCALL QZ_GetOnOffLineSts(uint32_t a);
/* Returns 0 and does nothing. */
QZ_API uint32_t QZ_STDCALL QZ_EnableCoord(uint32_t a);
/* Returns 0 and does nothing. */
QZ_API uint32_t QZ_STDCALL QZ_GetTimerValue(uint32_t a, uint32_t b, uint32_t c);
/* Returns 0 and does nothing. */
QZ_API uint32_t QZ_STDCALL QZ_GetMarkRange(uint32_t a, uint32_t b, uint32_t c);
/* Returns 0 and does nothing. */
QZ_API uint32_t QZ_STDCALL QZ_ConfigIO(uint32_t a, uint32_t b);
/* Returns 0 and does nothing. */
QZ_API uint32_t QZ_STDCALL QZ_GetCurPos(uint32_t a, uint32_t b);
/* The card's flash and offline files. Each is a library-wide task: 1 without a card, 2 while
 * another task runs; 0 when the card is still connected at the end, else 1. A length outside
 * 0..2048 is 2 (with a box); null data with a length above 0, a null head or *head or file name is
 * 2 before anything is sent, as is a page out of the map's range (negative, a NAND page past the
 * last block, a serial-flash address beyond 24 bits). A page that cannot be read gives zeros and 24.
 * QZ_FlashWrite stores `length` bytes and zeros after them in the user page; the Addr forms take a
 * NAND page number or a serial-flash byte address by the card's flash map. */
/* Writes `length` bytes (0..2048) and zeros after them to the user page. */
QZ_API uint32_t QZ_STDCALL QZ_FlashWrite(const void* data, int32_t length);
/* Writes `length` bytes (0..2048) to NAND page `page` or serial-flash address `page`, by the card's flash
 * map. */
QZ_API uint32_t QZ_STDCALL QZ_FlashWriteAddr(int32_t page, const void* data, int32_t length);
/* Reads `length` bytes (0..2048) of the user page. */
QZ_API uint32_t QZ_STDCALL QZ_FlashRead(void* data, int32_t length);
/* Reads `length` bytes (0..2048) of NAND page `page` or serial-flash address `page`, by the card's flash
 * map. */
QZ_API uint32_t QZ_STDCALL QZ_FlashReadAddr(int32_t page, void* data, int32_t length);
/* Writes the 535-byte offline-file head; every entry's mark becomes 0x80008000 and its state 0xFF
 * (kept on a USB card with nCheckFlashType nonzero), in the caller's table too. */
QZ_API uint32_t QZ_STDCALL QZ_SetOffFileHead(unsigned char* head);
/* Copies the stored head (535 bytes) to the buffer *head points to. */
QZ_API uint32_t QZ_STDCALL QZ_GetOffFileHead(unsigned char** head);
/* Copies a job written in download mode into offline slot 0..16 or the default head file (99);
 * other slots write nothing. 9 when the file cannot be opened, 13 when it does not fit, 28 when the
 * card's NAND is not accepted. */
QZ_API uint32_t QZ_STDCALL QZ_DownLoadOffFile(const char* file, int32_t slot);
/* Writes the default head, the card parameters, blank slots 0..15 and the default head file. */
QZ_API uint32_t QZ_STDCALL QZ_ResetCardFlash(void);
/* Lets the card run offline document 0..15 and returns once it is idle again (or lost); no time
 * bound, QZ_Mark_Stop from another thread ends the run. Documents from 16 on: nothing. */
QZ_API uint32_t QZ_STDCALL QZ_MarkOffDoc(uint32_t document);
/* Test figures, inside a mark job, in galvanometer codes with the correction switched off: the
 * calibration square with its grid lines and orientation glyphs, and the XY guide corner (mode 1
 * mirrored like the box block asks, any other mode as it is). Each stops at the first failing
 * mark-list step and returns its code (17 outside a job). */
/* Marks the calibration square with its grid lines and orientation glyphs. */
QZ_API uint32_t QZ_STDCALL QZ_MarkTestRect(void);
/* Marks the XY guide corner (mode 1 mirrored as the box block asks, other modes as it is). */
QZ_API uint32_t QZ_STDCALL QZ_MarkGuideXY(uint32_t mode);
/* Service tests, each showing its figures in a topmost box: the bulk-data and command rates of the
 * card (task 15; 0, 1 without a card or with the card lost, 2 busy) and the optical path switch's
 * return to path 1 from each of four paths (0, or 1). */
/* Measures the card's bulk-data and command rates and shows them in a box (task 15; 2 busy). */
QZ_API uint32_t QZ_STDCALL QZ_TestSpeed(void);
/* Measures the optical path switch's return to path 1 from each of four paths and shows it in a box. */
QZ_API uint32_t QZ_STDCALL QZ_TestOssSwitchSpeed(void);

#ifdef __cplusplus
}
#endif

#endif
