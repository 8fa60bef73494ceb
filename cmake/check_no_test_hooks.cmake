# cmake -DLIB=<shared library> -DNM=<nm> -DFORBIDDEN=<regex> -P check_no_test_hooks.cmake
# Fails when a symbol of the library's full symbol table (not only its exports: the shipped library
# is not stripped), names demangled, matches FORBIDDEN: the library must carry no test hook.
if(NOT NM)
  set(NM nm)
endif()
execute_process(COMMAND ${NM} -C ${LIB} OUTPUT_VARIABLE out RESULT_VARIABLE rc)
string(REGEX MATCHALL "\n" lines "${out}")
list(LENGTH lines count)
if(NOT rc EQUAL 0 OR count LESS 100)
  message(FATAL_ERROR "${NM} read no symbol table from ${LIB}")
endif()
string(REGEX MATCH "${FORBIDDEN}" found "${out}")
if(found)
  # The whole lines of the matches (slow on a large table, so only on failure).
  string(REGEX MATCHALL "[^\n]*(${FORBIDDEN})[^\n]*" found "${out}")
  list(JOIN found "\n  " found)
  message(FATAL_ERROR "${LIB} carries test hooks:\n  ${found}")
endif()
message(STATUS "${count} symbols, none of a test hook")
