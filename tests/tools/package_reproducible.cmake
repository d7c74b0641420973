# Rebuilds the firmware package from its recorded parameters with the tools
# under test and fails unless the result equals the committed file byte for byte.
set(rebuilt ${WORK_DIR}/package.bin)
file(REMOVE ${rebuilt})
execute_process(
  COMMAND ${CMAKE_COMMAND} -DFWIMAGE=${FWIMAGE} -DFWPACK=${FWPACK} "-DRUNNER=${RUNNER}"
          -DWORK_DIR=${WORK_DIR} -DOUTPUT=${rebuilt}
          -P ${CMAKE_CURRENT_LIST_DIR}/../../resources/firmware/make-package.cmake
  RESULT_VARIABLE result)
if(NOT result EQUAL 0)
  message(FATAL_ERROR "building the package failed (${result})")
endif()
execute_process(COMMAND ${CMAKE_COMMAND} -E compare_files ${rebuilt} ${SHIPPED}
                RESULT_VARIABLE differ)
if(NOT differ EQUAL 0)
  file(SIZE ${rebuilt} rebuilt_size)
  file(SIZE ${SHIPPED} shipped_size)
  message(FATAL_ERROR "rebuilt package (${rebuilt_size} bytes) differs from ${SHIPPED} (${shipped_size} bytes)")
endif()
message(STATUS "package rebuilt byte for byte")
