#pragma once
// Companion libraries, loaded from the library's own folder by their platform file name.
#include <string>
#include <vector>

#include "platform/module.h"

// Calling convention of every companion entry point: the standard one on Win32.
#if defined(_WIN32)
#define QZ_CALL_COMPANION __stdcall
#else
#define QZ_CALL_COMPANION
#endif

struct CompanionModule {
  plat::ModuleHandle hModule = nullptr;
  bool bModuleLoaded = false;      // the file loaded
  bool bLoaded = false;            // the file loaded and every entry point was found
  std::vector<void*> entries;      // by the order of the names asked for; nullptr when missing
};

// Loads `base` ("Gridel" -> "Gridel.dll" / "libGridel.so") from GetModuleDir() and resolves `names`.
CompanionModule LoadCompanion(const std::string& base, const std::vector<const char*>& names);
// Frees the module (when loaded) and clears the record.
void FreeCompanion(CompanionModule& m);
