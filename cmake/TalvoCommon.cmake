# Shared compile settings for our own targets.

if(WIN32)
  set(TALVO_PLATFORM_WINDOWS ON)
else()
  set(TALVO_PLATFORM_WINDOWS OFF)
endif()

# Compile options for every target of ours (never applied to third-party code).
add_library(talvo_options INTERFACE)
target_compile_options(talvo_options INTERFACE -Wall -Wextra -Wpedantic -Wshadow
                                               -Wnon-virtual-dtor -Wno-missing-field-initializers)
if(TALVO_WERROR)
  target_compile_options(talvo_options INTERFACE -Werror)
endif()
target_include_directories(talvo_options INTERFACE ${PROJECT_SOURCE_DIR})
if(TALVO_PLATFORM_WINDOWS)
  target_compile_definitions(talvo_options INTERFACE UNICODE _UNICODE WIN32_LEAN_AND_MEAN NOMINMAX
                                                     _WIN32_WINNT=0x0601)
  # Static runtime: the product is one self-contained executable. No link
  # time in the PE header, so the same sources link to the same bytes.
  target_link_options(talvo_options INTERFACE -static -static-libgcc -static-libstdc++
                                              -Wl,--no-insert-timestamp)
else()
  find_package(Threads REQUIRED)
  target_link_libraries(talvo_options INTERFACE Threads::Threads)
endif()

if(TALVO_SANITIZE STREQUAL "address")
  add_compile_options(-fsanitize=address,undefined -fno-omit-frame-pointer -fno-sanitize-recover=undefined)
  add_link_options(-fsanitize=address,undefined)
elseif(TALVO_SANITIZE STREQUAL "thread")
  add_compile_options(-fsanitize=thread -fno-omit-frame-pointer)
  add_link_options(-fsanitize=thread)
elseif(NOT TALVO_SANITIZE STREQUAL "")
  message(FATAL_ERROR "Unknown TALVO_SANITIZE value '${TALVO_SANITIZE}'")
endif()

# talvo_library(name SOURCES ... [DEPS ...]) — a static library of ours.
function(talvo_library name)
  cmake_parse_arguments(ARG "" "" "SOURCES;DEPS" ${ARGN})
  add_library(${name} STATIC ${ARG_SOURCES})
  target_link_libraries(${name} PUBLIC talvo_options ${ARG_DEPS})
endfunction()

# talvo_benchmark(name SOURCES ... [DEPS ...]) — Google Benchmark programs,
# native only. They print figures; they are never run as tests.
function(talvo_benchmark name)
  cmake_parse_arguments(ARG "" "" "SOURCES;DEPS" ${ARGN})
  if(CMAKE_CROSSCOMPILING OR NOT TALVO_BUILD_BENCHMARKS)
    return()
  endif()
  find_package(benchmark REQUIRED)
  add_executable(${name} ${ARG_SOURCES})
  target_link_libraries(${name} PRIVATE talvo_options ${ARG_DEPS} benchmark::benchmark)
  if(NOT TARGET benchmarks)
    add_custom_target(benchmarks)
  endif()
  add_dependencies(benchmarks ${name})
endfunction()
