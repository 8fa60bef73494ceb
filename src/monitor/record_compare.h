#pragma once
// The monitor's files and the comparison of expected and measured laser segments.
//
// Word logs ("<prefix>_<time>.log" in the log folder): binary append files of 32-bit little-endian
// words, each XOR 0x6D2B94E7, no header. "io__" with "MM_DD_HH_mm" holds io debug record triples
// {kind, dt, value}; "monitor" with "MM_DD_HH" holds monitor samples {kind, ms of the hour, value}.
// A word log that cannot be opened drops the words of that flush (logged): the vectors never grow
// without bound while the folder is unwritable.
//
// The monitoring sheet ("info___MM_DD_.xls", one per day, appended): one tab-separated row per
// measured segment of a finished task; the duration and power columns carry a small noise drawn
// from the platform's random source (r1 then r2 per row), the comparison switch and the result.
//
// The comparison queue g_listCompare holds copies of the expected record, oldest first, under
// g_csCompare; more than 100 waiting records switch the comparison off ([Main]
// bAutoCheckMarkInfoFB := 0 until the parameter file is read again). No box is shown while
// g_csCompare is held.
#include <cstdint>
#include <string>
#include <vector>

#include "cardlink/card_locks.h"
#include "platform/lock.h"

extern plat::Lock g_csCompare ACQUIRED_AFTER(g_csCardBuf);

// Appends the words of `words`, masked, to the word log and empties the vector in any case.
void WriteWordLog(const char* prefix, std::vector<uint32_t>& words, const std::string& timeText);
// Writes a row per measured segment to the sheet of `dateText` and empties the measured record's
// lists in any case.
void WriteInfoXls(const std::string& dateText, const std::string& timeText, int enabled, int result);
// The host's side, at a job stream's start and end: queues the expected record (when it holds a
// segment) and resets it.
void PushExpectedRecord() EXCLUDES(g_csCompare);
// The monitor's side, when the card's task ended: compares the measured record with the oldest
// expected one and writes the sheet's rows.
void CompareMonitorRecords() EXCLUDES(g_csCompare);
// Frees every queued expected record.
void ClearCompareQueue() REQUIRES(g_csCompare);
uint32_t CompareQueueSize() EXCLUDES(g_csCompare);

// The row of one segment: time text, segment number (from 1), segment count, duration D (ms),
// power average P (%), four positions (mm), the switch and the result; r1 and r2 the draws.
std::string InfoXlsRow(const std::string& timeText, int index, int count, double d, double p, const double pos[4],
                       int enabled, int result, int r1, int r2);
