#pragma once
// Faults and the library's folder for the core linked into this program, through the platform's
// fault point (platform/fault_point.h), installed at the first call and kept for the process.
#include <string>

namespace qztest {

// The library's own folder (GetModuleDir); "" gives back the folder of the program's file.
void SetModuleDir(const std::string& dir);
// true: every thread creation fails as if the system refused it; false: threads start again.
void FailThreadCreation(bool fail);
// Every file write and folder creation at a path that starts with `prefix` fails; "" ends it.
void FailFileWrites(const std::string& prefix);
// Every open for reading of a file whose path starts with `prefix` fails; "" ends it.
void FailFileReads(const std::string& prefix);

}  // namespace qztest
