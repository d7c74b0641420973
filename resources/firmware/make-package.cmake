# cmake -DFWIMAGE=<talvo-fwimage> -DFWPACK=<talvo-fwpack> [-DRUNNER=<wrapper>]
#       -DWORK_DIR=<dir> -DOUTPUT=<package file> -P make-package.cmake
# Builds each image of package-params.cmake with talvo-fwimage and joins them
# with talvo-fwpack into OUTPUT.
include(${CMAKE_CURRENT_LIST_DIR}/package-params.cmake)
foreach(var FWIMAGE FWPACK WORK_DIR OUTPUT)
  if(NOT DEFINED ${var})
    message(FATAL_ERROR "make-package.cmake: ${var} is not set")
  endif()
endforeach()
file(MAKE_DIRECTORY ${WORK_DIR})
set(images "")
foreach(name ${TALVO_PACKAGE_IMAGES})
  set(image ${WORK_DIR}/${name}.bin)
  execute_process(COMMAND ${RUNNER} ${FWIMAGE} ${TALVO_PACKAGE_${name}_ARGS} --out ${image}
                  RESULT_VARIABLE result)
  if(NOT result EQUAL 0)
    message(FATAL_ERROR "talvo-fwimage failed for ${name} (${result})")
  endif()
  list(APPEND images ${image})
endforeach()
execute_process(COMMAND ${RUNNER} ${FWPACK} --out ${OUTPUT} ${images} RESULT_VARIABLE result)
if(NOT result EQUAL 0)
  message(FATAL_ERROR "talvo-fwpack failed (${result})")
endif()
