// The library's entry routine on Win32. The runtime has constructed every global of the library
// before this runs; the companion loaders come first, as they do during static construction.
// Declared with the system's calling convention and argument sizes (module handle, reason, reserved)
// so that no system header is needed above the platform layer.
#include "api/library_startup.h"

namespace {
constexpr unsigned long kProcessDetach = 0;
constexpr unsigned long kProcessAttach = 1;
}  // namespace

// The library pins itself at attach, so a detach comes only at the end of the process, with the
// reserved argument set: the system has ended the other threads by then.
extern "C" int __stdcall DllMain(void*, unsigned long reason, void* reserved) {
  switch (reason) {
    case kProcessAttach:
      LibraryLoadCompanions();
      LibraryProcessAttach();
      break;
    case kProcessDetach:
      LibraryProcessDetach(reserved != nullptr);
      break;
    default:
      break;
  }
  return 1;
}
