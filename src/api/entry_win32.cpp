// The library's entry routine on Win32. The runtime has constructed every global of the library
// before this runs; the companion loaders come first, as they do during static construction.
// Declared with the system's calling convention and argument sizes (module handle, reason, reserved)
// so that no system header is needed above the platform layer.
#include "api/library_startup.h"

namespace {
constexpr unsigned long kProcessDetach = 0;
constexpr unsigned long kProcessAttach = 1;
}  // namespace

extern "C" int __stdcall DllMain(void*, unsigned long reason, void*) {
  switch (reason) {
    case kProcessAttach:
      LibraryLoadCompanions();
      LibraryProcessAttach();
      break;
    case kProcessDetach:
      LibraryProcessDetach();
      break;
    default:
      break;
  }
  return 1;
}
