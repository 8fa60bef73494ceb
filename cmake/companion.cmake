# qz_add_companion(<target> <base name> sources...): a companion library deployed beside the library
# under its platform file name (libNAME.so on Linux, NAME.dll on Windows).
function(qz_add_companion target base)
  add_library(${target} SHARED ${ARGN})
  set_target_properties(${target} PROPERTIES
    OUTPUT_NAME ${base} PREFIX "${QZ_LIB_PREFIX}"
    LIBRARY_OUTPUT_DIRECTORY ${QZ_DEPLOY_DIR} RUNTIME_OUTPUT_DIRECTORY ${QZ_DEPLOY_DIR}
    CXX_VISIBILITY_PRESET hidden)
  if(QZ_WIN32)
    target_link_options(${target} PRIVATE -Wl,--enable-stdcall-fixup -Wl,--kill-at)
  endif()
endfunction()
