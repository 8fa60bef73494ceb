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

/* Counts cards through the driver link, which fills the two arguments. 0; 2 busy; 1 on failure. */
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
/* Applies the parameter file to the open card: reads the whole configuration, loads the fly, axis
 * and calibration parameters, checks that the configuration ([Main] CardVertion=6), the library,
 * the card, its USB firmware and an optical-switch card fit together, and (with [Main]
 * bUpdateParaInCardWhenOpen 1) uploads the card parameters and correction tables into the card's
 * flash; then the parameters are accepted and jobs can start. Starts the library's monitor and
 * watchdog threads when they are not running. A refused check is shown in a box and leaves the
 * parameters not accepted; the result is still 0. 0 done; 1 no card open or the card was lost;
 * 2 busy; 26 the card did not take the uploaded parameters; the code of another failure. The
 * argument is not used. */
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
 * the card was lost; 2 the library is busy; 16 another mark call is in progress. */
QZ_API uint32_t QZ_STDCALL QZ_MarkStart(uint32_t mode, uint32_t reserved, uint32_t startFlag);
/* Ends the job: flushes the rest, waits until the card has received everything and finished, and
 * reports the end. 0 ended; 1 card lost; 3 the end failed or the job was starting; 16 another mark
 * call is in progress; 17 no job was started. */
QZ_API uint32_t QZ_STDCALL QZ_MarkEnd(uint32_t endArg);

/* Pens (layers 0..255). Each call may come between jobs or inside one; 1 when no card is open or
 * the card was lost, 16 while another mark call is in progress, 6 for a refused argument (more than
 * 256 records, a negative count, a null table with a positive count, a layer or laser out of
 * range, a wave of more than 20 points), which changes nothing. A wave point is 20 bytes, packed:
 * int32 unit (0: x is a duration in ms, else a length in mm), double x, double power in percent. */
/* Pens 0..count-1 from `count` pen records of 1696 bytes each (speeds, delays, laser frequency,
 * duty and power, 20-slot line and dot wave tables). A pen with a mark or jump speed of 0 is
 * disabled. 0 set; 0 for count 0. */
QZ_API uint32_t QZ_STDCALL QZ_SetMarkPara(const void* records, int32_t count);
/* Pens 0..count-1 from `count` extra records of 412 bytes each (jump parameters and, with flag
 * word 0xA5xxxxxx, the second laser's timing). */
QZ_API uint32_t QZ_STDCALL QZ_SetMarkParaPlus(const void* records, int32_t count);
/* The line start and end power waves of a layer of laser 0 (nStart and nEnd points, 0..20). */
QZ_API uint32_t QZ_STDCALL QZ_SetMarkParaLinePowWave(int32_t layer, const void* start, int32_t nStart,
                                                     const void* end, int32_t nEnd);
/* The dot power wave of a layer of laser 0 (count points, 0..20). */
QZ_API uint32_t QZ_STDCALL QZ_SetMarkParaDotPowWave(int32_t layer, const void* wave, int32_t count);
/* QZ_SetMarkParaLinePowWave for laser 0 or 1. */
QZ_API uint32_t QZ_STDCALL QZ_SetMarkParaLinePowWaveL(int32_t laser, int32_t layer, const void* start,
                                                      int32_t nStart, const void* end, int32_t nEnd);
/* QZ_SetMarkParaDotPowWave for laser 0 or 1. */
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
QZ_API uint32_t QZ_STDCALL QZ_MarkSynMoveEnd(void);

/* Polylines. Marks the polyline through `count` points of `points`, each a record of three reals
 * {x, y, unused} in mm, with the pen `layer` (0..255): a jump to the first point, then lit vectors
 * through the others. A polyline that starts where the previous one ended (within the configured
 * join distance) in the same pen continues it. Vectors are generated a few points behind the host:
 * a polyline's last point is marked when the next command arrives. Refused with nothing appended:
 * 2 null points with a positive count, 7 a coordinate that is NaN or infinite, 12 fewer than two
 * points, 6 a layer above 255. */
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
/* The card's job information: its status word with the low 8 bits replaced by the running bit. */
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
 * microseconds of dotTime, after a jump when the scanner is elsewhere. Refused before anything is
 * appended: a null points with a positive count 2, a coordinate that is NaN or infinite 7, a dotTime
 * below 1 (or NaN) 31, dots while rotation marking is on 18, a layer outside 0..255 6. */
QZ_API uint32_t QZ_STDCALL QZ_MarkDot(const void* points, int32_t count, double dotTime, int32_t layer);
/* Switches the job to pen `layer` (0..255, else 6): its power, pulse timing, wave number, Z and
 * jump parameters, each sent ahead by its lead time; flag nonzero applies the pen's dot waves,
 * 0 its line waves. Values unchanged since they were last sent in this job are not sent again. */
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
 * below 10 is refused with 1 after a box; nothing is sent or changed then. */
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
QZ_API uint32_t QZ_STDCALL QZ_GetEncPosBuf(uint32_t* status, uint32_t* value);
/* QZ_GetEncPosBuf2, then the encoder's travel since the last reset in mm. */
QZ_API uint32_t QZ_STDCALL QZ_GetEncBufPosAbs(uint32_t* status, double* mm);
/* Switches the card's encoder position buffer on (nonzero) or off; the travel starts over at 0. */
QZ_API uint32_t QZ_STDCALL QZ_SetEncPosBufSwitch(int32_t on);

/* Test figures, inside a mark job, in galvanometer codes with the correction switched off: the
 * calibration square with its grid lines and orientation glyphs, and the XY guide corner (mode 1
 * mirrored like the box block asks, any other mode as it is). Each stops at the first failing
 * mark-list step and returns its code (17 outside a job). */
QZ_API uint32_t QZ_STDCALL QZ_MarkTestRect(void);
QZ_API uint32_t QZ_STDCALL QZ_MarkGuideXY(uint32_t mode);
/* Service tests, each showing its figures in a topmost box: the bulk-data and command rates of the
 * card (task 15; 0, 1 without a card or with the card lost, 2 busy) and the optical path switch's
 * return to path 1 from each of four paths (0, or 1). */
QZ_API uint32_t QZ_STDCALL QZ_TestSpeed(void);
QZ_API uint32_t QZ_STDCALL QZ_TestOssSwitchSpeed(void);

#ifdef __cplusplus
}
#endif

#endif
