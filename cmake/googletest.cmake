# GoogleTest: the system's libraries natively; for the cross build, built from the Debian source
# package (/usr/src/googletest) with the cross compiler.
include(GoogleTest)
if(QZ_WIN32 OR QZ_SANITIZE)
  set(INSTALL_GTEST OFF CACHE BOOL "" FORCE)
  set(BUILD_GMOCK OFF CACHE BOOL "" FORCE)
  set(gtest_disable_pthreads OFF CACHE BOOL "" FORCE)
  set(gtest_force_shared_crt ON CACHE BOOL "" FORCE)
  add_subdirectory(/usr/src/googletest/googletest ${CMAKE_BINARY_DIR}/googletest EXCLUDE_FROM_ALL)
  foreach(t gtest gtest_main)
    target_compile_options(${t} PRIVATE -w)
  endforeach()
  if(QZ_WIN32)
    # The C runtime writes "\r\n" to text-mode streams; ctest reads the test list from standard
    # output and wants "\n" alone, so gtest_main sets its standard streams to binary before main.
    set(_qz_binary_streams ${CMAKE_BINARY_DIR}/googletest/binary_std_streams.h)
    file(WRITE ${_qz_binary_streams} [=[
#include <fcntl.h>
#include <io.h>
#include <stdio.h>
static const int qz_binary_std_streams =
    (_setmode(_fileno(stdout), _O_BINARY), _setmode(_fileno(stderr), _O_BINARY), 0);
]=])
    target_compile_options(gtest_main PRIVATE "SHELL:-include ${_qz_binary_streams}")
  endif()
  # Recent googletest sources define the namespaced names themselves.
  if(NOT TARGET GTest::gtest)
    add_library(GTest::gtest ALIAS gtest)
    add_library(GTest::gtest_main ALIAS gtest_main)
  endif()
else()
  find_package(GTest REQUIRED)
endif()

# qz_discover(<target>): one ctest entry per test case, each in its own process.
function(qz_discover target)
  if(QZ_WIN32)
    gtest_discover_tests(${target} DISCOVERY_MODE PRE_TEST DISCOVERY_TIMEOUT 120
      PROPERTIES TIMEOUT 120 ${ARGN})
  else()
    gtest_discover_tests(${target} DISCOVERY_MODE PRE_TEST PROPERTIES TIMEOUT 120 ${ARGN})
  endif()
endfunction()
