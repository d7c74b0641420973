# Builds the Windows archive: the executable, the read-me and SHA256SUMS.
# The same inputs give the same bytes: the entries carry the time of the
# commit (SOURCE_DATE_EPOCH, else the last commit's time), in a fixed order.
#   cmake -DEXE=... -DREADME=... -DOUT=... -DWORK=... -DSOURCE_DIR=... -P make-zip.cmake
if(NOT DEFINED ENV{SOURCE_DATE_EPOCH})
  execute_process(COMMAND git -C "${SOURCE_DIR}" log -1 --format=%ct
                  OUTPUT_VARIABLE epoch OUTPUT_STRIP_TRAILING_WHITESPACE RESULT_VARIABLE failed)
  if(failed OR epoch STREQUAL "")
    set(epoch 0)
  endif()
  set(ENV{SOURCE_DATE_EPOCH} "${epoch}")
endif()
string(TIMESTAMP mtime "%Y-%m-%d %H:%M:%S" UTC)

file(REMOVE_RECURSE "${WORK}")
file(MAKE_DIRECTORY "${WORK}")
file(COPY_FILE "${EXE}" "${WORK}/TALVO-FW-Updater.exe")
file(COPY_FILE "${README}" "${WORK}/README.txt")
set(sums "")
foreach(name TALVO-FW-Updater.exe README.txt)
  file(SHA256 "${WORK}/${name}" hash)
  string(APPEND sums "${hash}  ${name}\n")
endforeach()
file(WRITE "${WORK}/SHA256SUMS" "${sums}")
file(REMOVE "${OUT}")
execute_process(COMMAND "${CMAKE_COMMAND}" -E tar cf "${OUT}" --format=zip "--mtime=${mtime}"
                        TALVO-FW-Updater.exe README.txt SHA256SUMS
                WORKING_DIRECTORY "${WORK}" RESULT_VARIABLE failed)
if(failed)
  message(FATAL_ERROR "make-zip: could not write ${OUT}")
endif()
