# Programs built in Microsoft's C++ ABI, beside the mingw-w64 build: clang-cl
# compiles them (target x86_64-pc-windows-msvc), lld-link links them, and
# they run under Wine like every other Windows program here. No Microsoft
# runtime or SDK exists on this machine, so they are freestanding: the entry
# point and memory functions of tools/msvc-shim, its <windows.h> with the few
# Win32 declarations they use, and import libraries made by llvm-dlltool
# (kernel32.lib from tools/msvc-shim/kernel32.def; Quenlo.lib beside the DLL).
#
#   brisq_add_msvc_program(<name> SOURCES <file>... [DEFINES <d>...]
#                          [FLAGS <clang-cl option>...] [QUENLO_LIB])
# makes bin/<name>.exe (target <name>). QUENLO_LIB links Quenlo.lib.
if(NOT WIN32)
  return()
endif()

find_program(BRISQ_CLANG_CL NAMES clang-cl-14 clang-cl REQUIRED)
find_program(BRISQ_LLD_LINK NAMES lld-link-14 lld-link REQUIRED)
find_program(BRISQ_LLVM_DLLTOOL NAMES llvm-dlltool-14 llvm-dlltool REQUIRED)

set(BRISQ_MSVC_SHIM ${CMAKE_SOURCE_DIR}/tools/msvc-shim)
set(BRISQ_MSVC_DIR ${CMAKE_BINARY_DIR}/msvc)
set(BRISQ_QUENLO_LIB ${CMAKE_BINARY_DIR}/bin/Quenlo.lib)
# Every program: no security cookie, no RTTI, no thread-safe statics (all
# need the runtime), warnings at level 4 as errors, and the shim's
# <windows.h> instead of the system's.
set(BRISQ_MSVC_FLAGS -nologo --target=x86_64-pc-windows-msvc /GS- /GR- /Zc:threadSafeInit-
    /W4 /WX /DUNICODE /D_UNICODE -I${BRISQ_MSVC_SHIM} -I${CMAKE_SOURCE_DIR})

file(MAKE_DIRECTORY ${BRISQ_MSVC_DIR})
add_custom_command(
  OUTPUT ${BRISQ_MSVC_DIR}/kernel32.lib
  COMMAND ${BRISQ_LLVM_DLLTOOL} -m i386:x86-64 -d ${BRISQ_MSVC_SHIM}/kernel32.def
          -l ${BRISQ_MSVC_DIR}/kernel32.lib
  DEPENDS ${BRISQ_MSVC_SHIM}/kernel32.def
  COMMENT "kernel32.lib for programs built in Microsoft's ABI")
add_custom_target(msvc_kernel32_lib DEPENDS ${BRISQ_MSVC_DIR}/kernel32.lib)

# Compiles one source to <out>; depends on the public header and the shim.
function(brisq_msvc_compile out source)
  cmake_parse_arguments(C "" "" "FLAGS" ${ARGN})
  add_custom_command(
    OUTPUT ${out}
    COMMAND ${BRISQ_CLANG_CL} ${BRISQ_MSVC_FLAGS} ${C_FLAGS} -Fo${out} -c -- ${source}
    DEPENDS ${source} ${CMAKE_SOURCE_DIR}/Quenlo/Quenlo.h ${BRISQ_MSVC_SHIM}/windows.h
    COMMENT "clang-cl ${source}"
    VERBATIM)
endfunction()

function(brisq_add_msvc_program name)
  cmake_parse_arguments(P "QUENLO_LIB" "" "SOURCES;DEFINES;FLAGS" ${ARGN})
  set(dir ${BRISQ_MSVC_DIR}/${name})
  file(MAKE_DIRECTORY ${dir})
  set(flags /O2 ${P_FLAGS})
  foreach(d ${P_DEFINES})
    list(APPEND flags /D${d})
  endforeach()
  set(objects)
  foreach(source ${P_SOURCES} ${BRISQ_MSVC_SHIM}/freestanding_runtime.cpp)
    get_filename_component(base ${source} NAME_WE)
    brisq_msvc_compile(${dir}/${base}.obj ${source} FLAGS ${flags})
    list(APPEND objects ${dir}/${base}.obj)
  endforeach()
  set(libs ${BRISQ_MSVC_DIR}/kernel32.lib)
  if(P_QUENLO_LIB)
    list(APPEND libs ${BRISQ_QUENLO_LIB})
  endif()
  set(exe ${CMAKE_BINARY_DIR}/bin/${name}.exe)
  add_custom_command(
    OUTPUT ${exe}
    COMMAND ${BRISQ_LLD_LINK} /nologo /entry:mainCRTStartup /subsystem:console /nodefaultlib
            ${objects} ${libs} /out:${exe}
    DEPENDS ${objects} ${libs}
    COMMENT "lld-link ${name}.exe"
    VERBATIM)
  add_custom_target(${name} ALL DEPENDS ${exe})
  add_dependencies(${name} msvc_kernel32_lib Quenlo)
endfunction()
