#pragma once
// The start-up that wires the subsystems: what happens when the library is loaded into a host
// process and when the process ends, and the parameter file's reads across the subsystems.
//
// The library has no initialisation export. When the system loads it, the companion libraries are
// loaded (box-correction module, calibration module with its Initial(1), driver-link library by the
// configured card type), each showing a box when it is missing; then the entry routine reads the
// language file, the calibration defaults and "CaliPara.cl", fills the error texts, sets the job
// idle, opens the error log and the daily log, deletes old logs, seeds the random generator,
// creates the phase timer entries and raises the timer resolution. It never refuses the load and
// starts no thread. Once loaded the library stays loaded until the process ends (the module is
// pinned: a host's FreeLibrary or dlclose never unloads it, so no detach waits for a thread under
// the system's loader lock). At the end of the process the timer resolution is restored; the worker
// threads are joined and the companions freed, unless the system has ended the threads already.

// Load steps that come before the entry routine: the companion loaders.
void LibraryLoadCompanions();
// The entry routine on process attach.
void LibraryProcessAttach();
// The entry routine on process detach: the timer resolution restored, the worker threads joined,
// the companions freed. `threadsEnded`: the system ends the process and has ended its other
// threads (Win32); the joins and the frees are skipped then.
void LibraryProcessDetach(bool threadsEnded);

// The parameter file's reads across the subsystems, in order: the record's part
// (SystemPara::InitPara), the FIFO keys, each configured laser channel's own keys; then the monitor
// and watchdog threads start when the monitor is not running.
void ApplyParameterFile();
