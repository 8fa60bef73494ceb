# cmake -DDEPLOY= -DEXAMPLES= -DWORK= -DPYTHON= -P run_python_host.cmake
# Runs examples/host_demo.py against the simulated card from a folder staged as scripts/demo stages
# it (the library, its companions, the example ini/, the card told the example's laser type), and
# checks what the card drew: the example's drawing with its jumps unmarked and its five dots.
file(REMOVE_RECURSE ${WORK})
file(GLOB libs ${DEPLOY}/*)
file(COPY ${libs} DESTINATION ${WORK}/bin)
file(COPY ${EXAMPLES}/ini DESTINATION ${WORK}/bin)
file(STRINGS ${EXAMPLES}/ini/QZMarkPara.cfg type REGEX "^LASER_TYPE=")
string(REGEX REPLACE "^LASER_TYPE=([0-9]+).*" "\\1" type "${type}")
file(WRITE ${WORK}/cardsim.cfg "card_version=79\nlaser_type=${type}\nsvg=marked.svg\nfield_mm=100\n")
set(ENV{CARDSIM_CONFIG} ${WORK}/cardsim.cfg)
set(ENV{QZMARK_MSGBOX_LOG} ${WORK}/boxes.txt)
execute_process(COMMAND ${PYTHON} ${EXAMPLES}/host_demo.py ${WORK}/bin RESULT_VARIABLE rc OUTPUT_VARIABLE out
                ERROR_VARIABLE err)
message(STATUS "${out}${err}")
if(NOT rc EQUAL 0)
  message(FATAL_ERROR "host_demo.py: ${rc}")
endif()
file(READ ${WORK}/marked.svg svg)
string(REGEX MATCH "<desc>[^<]*</desc>" desc "${svg}")
message(STATUS "laser type ${type}: ${desc}")
if(NOT desc STREQUAL "<desc>16-bit codes, field 100 x 100 mm; marked paths 2, jumps 8, dots 5</desc>")
  message(FATAL_ERROR "the card drew another picture")
endif()
