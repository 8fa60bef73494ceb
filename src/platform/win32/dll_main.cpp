// The library's entry routine on Win32. The runtime has constructed every global of the library
// before this runs; the companion loaders come first, as they do during static construction.
#include <windows.h>

#include "frame/library_startup.h"

extern "C" BOOL WINAPI DllMain(HINSTANCE, DWORD reason, LPVOID) {
  switch (reason) {
    case DLL_PROCESS_ATTACH:
      LibraryLoadCompanions();
      LibraryProcessAttach();
      break;
    case DLL_PROCESS_DETACH:
      LibraryProcessDetach();
      break;
    default:
      break;
  }
  return TRUE;
}
