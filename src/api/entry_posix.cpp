// The shared library's load trigger on POSIX. This object is linked after every other object of
// the library, so it is constructed after all of the library's globals and destroyed before them:
// the same place the system's entry routine has on Win32.
#include "api/library_startup.h"

namespace {

struct LibraryEntry {
  LibraryEntry() {
    LibraryLoadCompanions();
    LibraryProcessAttach();
  }
  // The process's threads still run here: they are stopped and joined.
  ~LibraryEntry() { LibraryProcessDetach(false); }
};

LibraryEntry g_libraryEntry;

}  // namespace
