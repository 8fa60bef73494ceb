# Cross build for 32-bit Windows with the posix-thread variant of mingw-w64.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR i686)
set(CMAKE_C_COMPILER i686-w64-mingw32-gcc-posix)
set(CMAKE_CXX_COMPILER i686-w64-mingw32-g++-posix)
set(CMAKE_RC_COMPILER i686-w64-mingw32-windres)
set(CMAKE_FIND_ROOT_PATH /usr/i686-w64-mingw32)
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# Test programs run under Wine, through env so that every run (the test list too) gets a quiet
# Wine (a WINEDEBUG set when the build is configured is kept) without the .NET and HTML engines,
# whose installers a new Wine prefix would otherwise offer to download.
find_program(QZ_WINE wine REQUIRED)
find_program(QZ_ENV env REQUIRED)
if(DEFINED ENV{WINEDEBUG})
  set(_qz_winedebug "$ENV{WINEDEBUG}")
else()
  set(_qz_winedebug "-all")
endif()
set(CMAKE_CROSSCOMPILING_EMULATOR
  ${QZ_ENV} "WINEDEBUG=${_qz_winedebug}" "WINEDLLOVERRIDES=mscoree,mshtml=" ${QZ_WINE})
