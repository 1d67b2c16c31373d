# GoogleTest for both builds.
#   brisq_add_gtest(<name> SOURCES ... [LIBS ...] [WHOLE])
# Every test program links the shared test support (tests/support).
# Natively every test case becomes its own ctest entry. Under Wine a WHOLE
# executable is run once (one Wine process) and counted as one entry; the
# others are discovered case by case.
if(WIN32)
  set(gtest_force_shared_crt OFF CACHE BOOL "" FORCE)
  set(INSTALL_GTEST OFF CACHE BOOL "" FORCE)
  set(BUILD_GMOCK OFF CACHE BOOL "" FORCE)
  add_subdirectory(/usr/src/googletest ${CMAKE_BINARY_DIR}/googletest EXCLUDE_FROM_ALL)
  set(BRISQ_GTEST_LIBS gtest gtest_main)
else()
  find_package(GTest REQUIRED)
  set(BRISQ_GTEST_LIBS GTest::gtest GTest::gtest_main)
endif()
include(GoogleTest)

function(brisq_add_gtest name)
  cmake_parse_arguments(T "WHOLE" "" "SOURCES;LIBS" ${ARGN})
  add_executable(${name} ${T_SOURCES})
  target_link_libraries(${name} PRIVATE ${T_LIBS} test_support ${BRISQ_GTEST_LIBS})
  target_compile_definitions(${name} PRIVATE
    BRISQ_SOURCE_DIR="${CMAKE_SOURCE_DIR}")
  if(WIN32 AND T_WHOLE)
    add_test(NAME ${name} COMMAND ${name})
    set_tests_properties(${name} PROPERTIES TIMEOUT 300)
  else()
    gtest_discover_tests(${name} DISCOVERY_MODE PRE_TEST DISCOVERY_TIMEOUT 120
                         PROPERTIES TIMEOUT 120)
  endif()
endfunction()
