#pragma once
// The host-side phase timer of a job: five phases, each a pair of reals (start, sum). Measuring and
// reporting come with the stream engine; the library's load creates the entries.
#include <vector>

extern std::vector<std::vector<double>> g_PhaseTimer;
void ResetPhaseTimer();

#include <string>
// Appends the phase timing report of the last task (when [Main] bPrintTime is set). The report is
// written by the stream engine's phase timer; until then nothing is appended.
void AppendPhaseTimingReport(std::string& text);
