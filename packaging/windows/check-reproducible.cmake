# Fails when linking the Windows executable again, or packing its zip again,
# from the same objects gives other bytes (a link time stamp in the PE
# header, a packing time in the zip).
#   cmake -DBUILD=<build dir> -DEXE=<executable> -DZIP=<zip> -P check-reproducible.cmake
foreach(file EXE ZIP)
  if(NOT EXISTS "${${file}}")
    message(FATAL_ERROR "check-reproducible: ${${file}} is missing; build first")
  endif()
  file(SHA256 "${${file}}" before_${file})
endforeach()
file(REMOVE "${EXE}" "${ZIP}")
# Time passes between the two builds, as it would between two machines.
execute_process(COMMAND "${CMAKE_COMMAND}" -E sleep 1.1)
execute_process(COMMAND "${CMAKE_COMMAND}" --build "${BUILD}" --target talvo_windows_zip
                RESULT_VARIABLE failed OUTPUT_QUIET)
if(failed)
  message(FATAL_ERROR "check-reproducible: the second build failed")
endif()
set(differ "")
foreach(file EXE ZIP)
  file(SHA256 "${${file}}" after)
  if(NOT after STREQUAL before_${file})
    list(APPEND differ "${${file}}")
  endif()
endforeach()
if(differ)
  message(FATAL_ERROR "check-reproducible: differs between two builds: ${differ}")
endif()
message(STATUS "check-reproducible: executable and zip are the same bytes twice")
