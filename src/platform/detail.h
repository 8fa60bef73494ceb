#pragma once
// What the shared sources of the platform layer take from the operating-system-specific ones.
// Private to src/platform.
#include <cstdint>
#include <cstdio>
#include <string>

#include "platform/msgbox.h"

namespace plat::detail {

// Shows a box the system's way (no box log in use): a real box on Win32, standard error on POSIX.
BoxAnswer ShowSystemBox(const std::string& text, BoxButtons buttons, bool topmost);

// Appends `data` to the file (created when missing) in one append, so that several processes may
// append to one file without mixing their lines.
bool AppendToFile(const std::string& path, const std::string& data);

// Replaces the contents of the file at `path` (created when missing): the data goes into a new
// temporary file in the same folder, which is then renamed over `path`. Readers see the old or the
// new contents, never a part. False, with nothing left behind, when any step fails.
bool ReplaceFileContents(const std::string& path, const std::string& data);

// True when the open stream is a regular file (not a folder, a device or a pipe), with its size.
bool RegularFileSize(std::FILE* f, uint64_t& size);

// The line end of a file that the INI engine creates.
const char* NewFileLineEnd();

}  // namespace plat::detail
