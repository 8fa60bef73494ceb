#pragma once
// Loadable modules (shared libraries), the library's own file and the host program's file.
#include <string>

namespace plat {

#if defined(_WIN32)
constexpr char kPathSep = '\\';
#else
constexpr char kPathSep = '/';
#endif

using ModuleHandle = void*;

// Loads the module at `path`; nullptr when it cannot be loaded.
ModuleHandle LoadModule(const std::string& path);
// The address of `name` in `m`; nullptr when absent.
void* FindSymbol(ModuleHandle m, const char* name);
void FreeModule(ModuleHandle m);

// Full file name of the module that contains this code (the library itself, or a test program that
// links the core).
std::string OwnModulePath();
// Keeps the module that contains this code loaded until the process ends, whatever the host frees
// (Win32: the module pinned; POSIX: the library is linked not to be unloaded, nothing to do).
void PinOwnModule();
// Full file name of the host program (the process's main executable).
std::string HostProgramPath();

// The file name of a companion library on this platform: "Portlane" -> "libPortlane.so" or
// "Portlane.dll".
std::string CompanionFileName(const std::string& base);

// Environment variables of the process.
std::string GetEnvVar(const std::string& name);
void SetEnvVar(const std::string& name, const std::string& value);

}  // namespace plat
