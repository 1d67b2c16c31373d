# The Windows zip package: `cpack` in build/windows (scripts/package builds,
# packs and checks it) makes package/Tessaly-<version>-win64.zip holding
#   Tessaly.exe, Quenlo.dll, host-sim.exe   the programs, statically linked
#   Quenlo/Quenlo.h                           the library's public header
#   Quenlo.lib                                its import library (Microsoft's linker)
#   host-integration.md, sample-host/         the host developer's guide and sample
#   README.txt                                for the streamer (Chinese, English)
# inside one folder Tessaly-<version>-win64/. Included by the top-level
# CMakeLists.txt after every target is defined; does nothing outside the
# Windows build.
if(NOT WIN32)
  return()
endif()

# MinGW's own import library of the DLL stays out; hosts get Quenlo.lib.
install(TARGETS Tessaly Quenlo
  RUNTIME DESTINATION . COMPONENT Runtime
  LIBRARY DESTINATION . COMPONENT Runtime
  ARCHIVE DESTINATION lib COMPONENT Development EXCLUDE_FROM_ALL)
if(TARGET host-sim)
  install(TARGETS host-sim RUNTIME DESTINATION . COMPONENT Runtime)
endif()
install(FILES ${CMAKE_SOURCE_DIR}/Quenlo/Quenlo.h DESTINATION Quenlo COMPONENT Runtime)
install(FILES ${CMAKE_SOURCE_DIR}/docs/package/README.txt DESTINATION . COMPONENT Runtime)
install(FILES ${BRISQ_QUENLO_LIB} ${CMAKE_SOURCE_DIR}/docs/host-integration.md
  DESTINATION . COMPONENT Runtime)
install(FILES ${CMAKE_SOURCE_DIR}/tools/sample-host/sample_host.cpp
  DESTINATION sample-host COMPONENT Runtime)

set(CPACK_GENERATOR ZIP)
set(CPACK_PACKAGE_NAME Tessaly)
set(CPACK_PACKAGE_VENDOR Tessaly)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_FILE_NAME "Tessaly-${PROJECT_VERSION}-win64")
set(CPACK_PACKAGE_DIRECTORY ${CMAKE_BINARY_DIR}/package)
set(CPACK_INCLUDE_TOPLEVEL_DIRECTORY ON)
set(CPACK_COMPONENTS_ALL Runtime)
set(CPACK_ARCHIVE_COMPONENT_INSTALL OFF)
set(CPACK_STRIP_FILES ON)
include(CPack)
