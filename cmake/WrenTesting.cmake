# Test, fuzz and benchmark helpers shared by every folder.

if(WREN_WINDOWS)
  # GoogleTest for the cross build, compiled from the sources Debian ships.
  if(NOT TARGET gtest)
    set(gtest_force_shared_crt OFF CACHE BOOL "" FORCE)
    set(INSTALL_GTEST OFF CACHE BOOL "" FORCE)
    set(BUILD_GMOCK ON CACHE BOOL "" FORCE)
    add_subdirectory(/usr/src/googletest ${CMAKE_BINARY_DIR}/googletest EXCLUDE_FROM_ALL)
  endif()
  set(WREN_GTEST_LIBS gtest gtest_main gmock)
else()
  find_package(GTest REQUIRED)
  set(WREN_GTEST_LIBS GTest::gtest GTest::gtest_main GTest::gmock)
endif()

set(WREN_TEST_RESULTS ${CMAKE_BINARY_DIR}/test-results)
file(MAKE_DIRECTORY ${WREN_TEST_RESULTS})
# What a test program is told: Windows programs see the folder through Wine's Z: drive.
if(WREN_WINDOWS)
  string(REPLACE "/" "\\" results "${WREN_TEST_RESULTS}")
  set(WREN_TEST_RESULTS_PREFIX "Z:${results}\\")
else()
  set(WREN_TEST_RESULTS_PREFIX "${WREN_TEST_RESULTS}/")
endif()

# wren_unit_test(<name> SOURCES ... [LIBS ...] [LABELS ...] [WRAPPER command...])
# A GoogleTest program registered with ctest; in the cross build ctest runs it
# under Wine. Each run leaves <name>.xml in test-results/ for the summary.
# WRAPPER runs the program through a command, e.g. one that starts servers.
function(wren_unit_test name)
  cmake_parse_arguments(T "" "" "SOURCES;LIBS;LABELS;WRAPPER" ${ARGN})
  add_executable(${name} ${T_SOURCES})
  target_link_libraries(${name} PRIVATE ${T_LIBS} ${WREN_GTEST_LIBS} Threads::Threads)
  set(output --gtest_output=xml:${WREN_TEST_RESULTS_PREFIX}${name}.xml)
  if(T_WRAPPER)
    add_test(NAME ${name} COMMAND ${T_WRAPPER} ${CMAKE_CROSSCOMPILING_EMULATOR} $<TARGET_FILE:${name}> ${output})
  else()
    add_test(NAME ${name} COMMAND ${name} ${output})
  endif()
  set_tests_properties(${name} PROPERTIES LABELS "unit;${T_LABELS}"
    ENVIRONMENT "WREN_SOURCE_DIR=${PROJECT_SOURCE_DIR};WREN_BUILD_DIR=${CMAKE_BINARY_DIR}")
endfunction()

# wren_fuzz_target(<name> SOURCES ... [LIBS ...] [RUNS n])
# A libFuzzer target; ctest runs it a fixed number of times from a fixed seed.
function(wren_fuzz_target name)
  if(NOT WREN_FUZZ)
    return()
  endif()
  cmake_parse_arguments(F "" "RUNS" "SOURCES;LIBS" ${ARGN})
  if(NOT F_RUNS)
    set(F_RUNS 20000)
  endif()
  add_executable(${name} ${F_SOURCES})
  target_compile_options(${name} PRIVATE -fsanitize=fuzzer)
  target_link_options(${name} PRIVATE -fsanitize=fuzzer)
  target_link_libraries(${name} PRIVATE ${F_LIBS})
  add_test(NAME ${name} COMMAND ${name} -runs=${F_RUNS} -seed=1 -max_len=65536)
  set_tests_properties(${name} PROPERTIES LABELS "fuzz")
endfunction()

# wren_benchmark(<name> SOURCES ... [LIBS ...]): Google Benchmark, native only, not a test.
function(wren_benchmark name)
  if(NOT WREN_BENCH OR WREN_WINDOWS)
    return()
  endif()
  cmake_parse_arguments(B "" "" "SOURCES;LIBS" ${ARGN})
  find_package(benchmark REQUIRED)
  add_executable(${name} ${B_SOURCES})
  target_link_libraries(${name} PRIVATE ${B_LIBS} benchmark::benchmark Threads::Threads)
endfunction()
