# cmake -DRUN=<canary> -DKIND=driver|libfuzzer -DWORK=<folder> -P first_report.cmake
# Runs a fuzz build of the canary (fuzz_canary.cpp) on a corpus that holds the input it overflows on,
# and fails unless the run stopped at the sanitizer's report and saved that input.
file(REMOVE_RECURSE ${WORK})
file(MAKE_DIRECTORY ${WORK}/corpus)
file(WRITE ${WORK}/corpus/overflow "overflow")
if(KIND STREQUAL "libfuzzer")
  set(args -runs=1000 -artifact_prefix=${WORK}/ ${WORK}/corpus)
  set(saved crash-*)
else()
  set(args --iterations 1000 --seed 1 ${WORK}/corpus)
  set(saved fuzz-failure-*)
endif()
execute_process(COMMAND ${RUN} ${args} WORKING_DIRECTORY ${WORK} RESULT_VARIABLE rc OUTPUT_VARIABLE out
                ERROR_VARIABLE out)
file(GLOB found ${WORK}/${saved})
if(found)
  file(READ ${found} input)
endif()
if(rc EQUAL 0 OR NOT out MATCHES "runtime error" OR NOT input STREQUAL "overflow")
  message(FATAL_ERROR "the run went on past the report or lost its input (exit ${rc}, saved '${found}'):\n${out}")
endif()
