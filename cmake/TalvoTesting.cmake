# GoogleTest wiring. Native builds use Debian's googletest package; the
# Windows cross build compiles the same sources from /usr/src/googletest and
# runs every test executable under Wine (scripts/wine-run sets the prefix).

if(CMAKE_CROSSCOMPILING)
  set(gtest_disable_pthreads OFF CACHE BOOL "" FORCE)
  set(BUILD_GMOCK ON CACHE BOOL "" FORCE)
  set(INSTALL_GTEST OFF CACHE BOOL "" FORCE)
  add_subdirectory(/usr/src/googletest ${CMAKE_BINARY_DIR}/third_party/googletest EXCLUDE_FROM_ALL)
  set(TALVO_GTEST_LIBS gtest gmock)
  set(TALVO_GTEST_MAIN gtest_main)
else()
  find_package(GTest REQUIRED)
  set(TALVO_GTEST_LIBS GTest::gtest GTest::gmock)
  set(TALVO_GTEST_MAIN GTest::gtest_main)
endif()

# Test sources are compiled with light optimisation whatever the build type:
# the product libraries they link keep the preset's optimisation (that is
# the code under test), while the test code's assertion macros cost more than
# half of the suite's compile time at -O2/-O3 and gain nothing from it.
function(talvo_test_code_options target)
  target_compile_options(${target} PRIVATE -O1)
endfunction()

# talvo_gtest(name SOURCES ... [DEPS ...] [LABELS ...] [NO_MAIN] [TIMEOUT s] [SHARDS n])
# One executable, registered with CTest as one test. Labels select suites:
# 'unit', 'e2e', 'wine', 'gui'.
function(talvo_gtest name)
  cmake_parse_arguments(ARG "NO_MAIN" "TIMEOUT;SHARDS" "SOURCES;DEPS;LABELS" ${ARGN})
  add_executable(${name} ${ARG_SOURCES})
  set(main ${TALVO_GTEST_MAIN})
  if(ARG_NO_MAIN)
    set(main "")
  endif()
  target_link_libraries(${name} PRIVATE talvo_options ${ARG_DEPS} ${TALVO_GTEST_LIBS} ${main})
  talvo_test_code_options(${name})
  if(NOT ARG_TIMEOUT)
    set(ARG_TIMEOUT 300)
  endif()
  set(labels ${ARG_LABELS})
  if(NOT labels)
    set(labels unit)
  endif()
  if(CMAKE_CROSSCOMPILING)
    list(APPEND labels wine)
  endif()
  if(NOT ARG_SHARDS OR ARG_SHARDS LESS 2)
    add_test(NAME ${name} COMMAND ${name} --gtest_brief=1)
    set_tests_properties(${name} PROPERTIES TIMEOUT ${ARG_TIMEOUT} LABELS "${labels}")
    return()
  endif()
  # A long suite runs as SHARDS tests (GoogleTest's own sharding), so that
  # CTest can run its parts side by side instead of waiting for one process.
  math(EXPR last "${ARG_SHARDS} - 1")
  foreach(index RANGE ${last})
    add_test(NAME ${name}_${index} COMMAND ${name} --gtest_brief=1)
    set_tests_properties(${name}_${index} PROPERTIES
      TIMEOUT ${ARG_TIMEOUT} LABELS "${labels}"
      ENVIRONMENT "GTEST_TOTAL_SHARDS=${ARG_SHARDS};GTEST_SHARD_INDEX=${index}"
      COST 100)  # long: started first, not left for the end of the run
  endforeach()
endfunction()

# talvo_fuzzer(name SOURCES ... [DEPS ...] [SECONDS n])
# A libFuzzer target (Clang builds with TALVO_BUILD_FUZZERS only). Its kept
# corpus is corpus/<name>/ beside the CMakeLists: seed inputs (seed-*) and
# every input that once crashed it (crash-*, named for the fault). CTest runs
# every kept input once (<name>_corpus) and fuzzes briefly from them as a
# smoke run, both labelled 'fuzz'.
function(talvo_fuzzer name)
  cmake_parse_arguments(ARG "" "SECONDS" "SOURCES;DEPS" ${ARGN})
  if(NOT TALVO_BUILD_FUZZERS OR NOT CMAKE_CXX_COMPILER_ID MATCHES "Clang")
    return()
  endif()
  if(NOT ARG_SECONDS)
    set(ARG_SECONDS 20)
  endif()
  add_executable(${name} ${ARG_SOURCES})
  target_compile_options(${name} PRIVATE -fsanitize=fuzzer)
  target_link_options(${name} PRIVATE -fsanitize=fuzzer)
  target_link_libraries(${name} PRIVATE talvo_options ${ARG_DEPS})
  set(corpus ${CMAKE_CURRENT_BINARY_DIR}/${name}-corpus)
  file(MAKE_DIRECTORY ${corpus})
  set(kept ${CMAKE_CURRENT_SOURCE_DIR}/corpus/${name})
  if(EXISTS ${kept})
    add_test(NAME ${name}_corpus COMMAND ${name} -runs=0 ${kept})
    set_tests_properties(${name}_corpus PROPERTIES LABELS fuzz TIMEOUT 120)
  else()
    set(kept "")
  endif()
  add_test(NAME ${name} COMMAND ${name} -max_total_time=${ARG_SECONDS} -print_final_stats=1 ${corpus} ${kept})
  set_tests_properties(${name} PROPERTIES LABELS fuzz TIMEOUT 300 COST ${ARG_SECONDS})
endfunction()
