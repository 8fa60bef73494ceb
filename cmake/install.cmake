# cmake --install <build> [--prefix <folder>]: the deployable folder a host ships beside itself and a
# CMake package configuration for find_package(QZMark).
#
#   <prefix>/<QZ_INSTALL_DIR>/       the library, its companion modules (Corrix, Gridel) and the
#                                    example configuration ini/; the library writes ini/ and LOG/
#                                    here, so the folder must be writable by the host
#                                    (QZ_INSTALL_DIR: lib on Linux, bin on Windows)
#   <prefix>/include/qzmark.h        the interface
#   <prefix>/lib/cmake/QZMark/       the package: imported target QZMark::QZMark, QZMark_DEPLOY_DIR
#   <prefix>/lib/QZMark.lib          (Windows) the import library of an MSVC host;
#   <prefix>/lib/libQZMark.dll.a     of a mingw host; both import the plain names of the exports
#   <prefix>/lib/QZMark.def          the exports with their standard-call sizes (QZ_GetSwVer@4)
# The simulated card (Portlane, PortlanePCIE) is installed only when asked for:
#   cmake --install <build> --component cardsim
include(GNUInstallDirs)
include(CMakePackageConfigHelpers)

if(QZ_WIN32)
  set(_qz_default_dir ${CMAKE_INSTALL_BINDIR})
else()
  set(_qz_default_dir ${CMAKE_INSTALL_LIBDIR})
endif()
set(QZ_INSTALL_DIR ${_qz_default_dir} CACHE STRING
  "Folder under the prefix that holds the library, its companions and ini/")
set(_qz_cmake_dir ${CMAKE_INSTALL_LIBDIR}/cmake/QZMark)

install(TARGETS qzmark EXPORT QZMarkTargets
  LIBRARY DESTINATION ${QZ_INSTALL_DIR}
  RUNTIME DESTINATION ${QZ_INSTALL_DIR}
  ARCHIVE DESTINATION ${CMAKE_INSTALL_LIBDIR})
install(PROGRAMS $<TARGET_FILE:corrix_module> $<TARGET_FILE:gridel_module> DESTINATION ${QZ_INSTALL_DIR})
install(PROGRAMS $<TARGET_FILE:cardsim_Portlane> $<TARGET_FILE:cardsim_PortlanePCIE>
  DESTINATION ${QZ_INSTALL_DIR} COMPONENT cardsim EXCLUDE_FROM_ALL)
install(DIRECTORY ${CMAKE_SOURCE_DIR}/examples/ini/ DESTINATION ${QZ_INSTALL_DIR}/ini)
install(FILES ${CMAKE_SOURCE_DIR}/include/qzmark.h DESTINATION ${CMAKE_INSTALL_INCLUDEDIR})
if(QZ_WIN32)
  install(FILES ${CMAKE_SOURCE_DIR}/src/qzmark.def DESTINATION ${CMAKE_INSTALL_LIBDIR} RENAME QZMark.def)
  install(FILES ${QZ_MSVC_IMPORT_LIB} DESTINATION ${CMAKE_INSTALL_LIBDIR})
endif()

install(EXPORT QZMarkTargets NAMESPACE QZMark:: DESTINATION ${_qz_cmake_dir})
configure_package_config_file(${CMAKE_SOURCE_DIR}/cmake/QZMarkConfig.cmake.in
  ${CMAKE_BINARY_DIR}/QZMarkConfig.cmake INSTALL_DESTINATION ${_qz_cmake_dir} PATH_VARS QZ_INSTALL_DIR)
write_basic_package_version_file(${CMAKE_BINARY_DIR}/QZMarkConfigVersion.cmake
  VERSION ${PROJECT_VERSION} COMPATIBILITY SameMajorVersion)
install(FILES ${CMAKE_BINARY_DIR}/QZMarkConfig.cmake ${CMAKE_BINARY_DIR}/QZMarkConfigVersion.cmake
  DESTINATION ${_qz_cmake_dir})
