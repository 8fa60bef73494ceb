# cmake -DBUILD= -DWORK= -DCONSUMER= -DHOST_SOURCE= -DEXPORTS_DIR= -DGENERATOR= -DCC= -P check_install.cmake
# Win32 instead of CC: -DTOOLCHAIN= -DEMULATOR=, and -DCLANG= -DLLD_LINK= -DDLLTOOL= -DMSVC_HOST= -DKERNEL32_DEF=
# Installs the build into WORK/prefix (and the simulated card, asked for) and checks the installed
# files; builds the consumer project against it with find_package(QZMark), installs its host into
# the same prefix and runs the installed host. Win32: then compiles the MSVC-ABI host, links it with
# the installed QZMark.lib and runs it in the installed folder.
function(run)
  execute_process(COMMAND ${ARGV} RESULT_VARIABLE rc OUTPUT_VARIABLE out ERROR_VARIABLE err)
  if(NOT rc EQUAL 0)
    message(FATAL_ERROR "${ARGV}: ${rc}\n${out}\n${err}")
  endif()
  set(out "${out}" PARENT_SCOPE)
endfunction()

file(REMOVE_RECURSE ${WORK})
set(prefix ${WORK}/prefix)
if(TOOLCHAIN)
  set(dir bin)
  set(card bin/Portlane.dll)
  set(exe .exe)
  set(files bin/QZMark.dll bin/Corrix.dll bin/Gridel.dll bin/Portlane.dll bin/PortlanePCIE.dll
            lib/QZMark.lib lib/libQZMark.dll.a lib/QZMark.def)
  # The toolchain file finds packages under its root path only: the package is named by its folder.
  set(consumer -DCMAKE_TOOLCHAIN_FILE=${TOOLCHAIN} -DQZMark_DIR=${prefix}/lib/cmake/QZMark)
else()
  set(dir lib)
  set(card lib/libPortlane.so)
  set(files lib/libqzmark.so.0 lib/libCorrix.so lib/libGridel.so lib/libPortlane.so lib/libPortlanePCIE.so)
  set(consumer -DCMAKE_C_COMPILER=${CC} -DCMAKE_PREFIX_PATH=${prefix})
endif()
run(${CMAKE_COMMAND} --install ${BUILD} --prefix ${prefix})
if(EXISTS ${prefix}/${card})
  message(FATAL_ERROR "the simulated card was installed without being asked for")
endif()
run(${CMAKE_COMMAND} --install ${BUILD} --prefix ${prefix} --component cardsim)

foreach(f ${files} ${dir}/ini/QZMarkPara.cfg ${dir}/ini/QZ_en.txt include/qzmark.h lib/cmake/QZMark/QZMarkConfig.cmake)
  if(NOT EXISTS ${prefix}/${f})
    message(FATAL_ERROR "not installed: ${f}")
  endif()
endforeach()
if(NOT TOOLCHAIN)
  if(NOT IS_SYMLINK ${prefix}/lib/libqzmark.so)
    message(FATAL_ERROR "libqzmark.so is not the link to the versioned library")
  endif()
  run(objdump -p ${prefix}/lib/libqzmark.so)
  if(NOT out MATCHES "SONAME +libqzmark\\.so\\.0\n")
    message(FATAL_ERROR "no versioned SONAME:\n${out}")
  endif()
endif()

run(${CMAKE_COMMAND} -S ${CONSUMER} -B ${WORK}/consumer -G ${GENERATOR} ${consumer}
    -DHOST_SOURCE=${HOST_SOURCE} -DEXPORTS_DIR=${EXPORTS_DIR})
run(${CMAKE_COMMAND} --build ${WORK}/consumer)
file(READ ${WORK}/consumer/deploy_dir.txt deploy)
if(NOT deploy STREQUAL "${prefix}/${dir}")
  message(FATAL_ERROR "QZMark_DEPLOY_DIR is ${deploy}")
endif()
# Installed, the host has no build RPATH: it finds the library through its INSTALL_RPATH (Windows:
# beside itself).
run(${CMAKE_COMMAND} --install ${WORK}/consumer --prefix ${prefix})
set(ENV{QZMARK_MSGBOX_LOG} ${WORK}/boxes.txt)
run(${EMULATOR} ${prefix}/bin/c_host${exe} 1)
message(STATUS "${out}")
if(NOT out MATCHES "host ok")
  message(FATAL_ERROR "the host failed")
endif()

if(TOOLCHAIN)
  # No C runtime: QZMark.lib and a kernel32 import library made the same way, its own entry point.
  run(${DLLTOOL} -m i386 -k -d ${KERNEL32_DEF} -l ${WORK}/kernel32.lib)
  run(${CLANG} --target=i686-pc-windows-msvc -ffreestanding -Wall -Wextra -Werror -O1 -I${prefix}/include
      -I${EXPORTS_DIR} -c ${MSVC_HOST} -o ${WORK}/msvc_host.obj)
  run(${LLD_LINK} -nologo -entry:host_main -subsystem:console -nodefaultlib -out:${prefix}/bin/msvc_host.exe
      ${WORK}/msvc_host.obj ${prefix}/lib/QZMark.lib ${WORK}/kernel32.lib)
  run(${EMULATOR} ${prefix}/bin/msvc_host.exe)
  message(STATUS "${out}")
endif()
