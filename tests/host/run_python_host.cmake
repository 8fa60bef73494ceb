# cmake -DDEPLOY= -DEXAMPLES= -DCALI_PARA= -DWORK= -DPYTHON= -P run_python_host.cmake
# Runs examples/host_demo.py against the simulated card from a folder staged as the build stages its
# deploy folder (the library, its companions, the example ini/ with its calibration block file), on a
# card of each calibration method (version 79: the box file and 16-bit codes; 85: the block file and
# 21-bit codes), the card told the example's laser type. Neither shows a message box, and on each the
# card drew the example's drawing with its jumps unmarked and its five dots.
file(STRINGS ${EXAMPLES}/ini/QZMarkPara.cfg type REGEX "^LASER_TYPE=")
string(REGEX REPLACE "^LASER_TYPE=([0-9]+).*" "\\1" type "${type}")
set(drawn_79 "16-bit codes, field 100 x 100 mm")
set(drawn_85 "21-bit codes, half range 10 mm")
foreach(version 79 85)
  set(work ${WORK}/${version})
  file(REMOVE_RECURSE ${work})
  file(GLOB libs LIST_DIRECTORIES false ${DEPLOY}/*)
  file(COPY ${libs} ${EXAMPLES}/ini DESTINATION ${work}/bin)
  file(COPY ${CALI_PARA} DESTINATION ${work}/bin/ini)
  file(WRITE ${work}/cardsim.cfg "card_version=${version}\nlaser_type=${type}\nsvg=marked.svg\nfield_mm=100\n")
  set(ENV{CARDSIM_CONFIG} ${work}/cardsim.cfg)
  set(ENV{QZMARK_MSGBOX_LOG} ${work}/boxes.txt)
  execute_process(COMMAND ${PYTHON} ${EXAMPLES}/host_demo.py ${work}/bin RESULT_VARIABLE rc OUTPUT_VARIABLE out
                  ERROR_VARIABLE err)
  message(STATUS "card ${version}: ${out}${err}")
  if(NOT rc EQUAL 0)
    message(FATAL_ERROR "host_demo.py on card ${version}: ${rc}")
  endif()
  if(EXISTS ${work}/boxes.txt)
    file(READ ${work}/boxes.txt boxes)
    message(FATAL_ERROR "card ${version} showed message boxes:\n${boxes}")
  endif()
  file(READ ${work}/marked.svg svg)
  string(REGEX MATCH "<desc>[^<]*</desc>" desc "${svg}")
  message(STATUS "card ${version}, laser type ${type}: ${desc}")
  if(NOT desc STREQUAL "<desc>${drawn_${version}}; marked paths 2, jumps 8, dots 5</desc>")
    message(FATAL_ERROR "the card drew another picture")
  endif()
endforeach()
