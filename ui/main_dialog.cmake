# talvo_main_dialog: the main dialog and the update run, on the dialog layer,
# the device layer and the firmware package.
if(NOT TARGET talvo_device OR NOT TARGET talvo_firmware)
  message(STATUS "ui: the main dialog needs device and firmware; skipped")
  return()
endif()

set(main_dialog_sources main_dlg.cpp main_keep_awake.cpp)
if(WIN32)
  list(APPEND main_dialog_sources main_keep_awake_win32.cpp)
else()
  list(APPEND main_dialog_sources main_keep_awake_posix.cpp)
endif()
talvo_library(talvo_main_dialog SOURCES ${main_dialog_sources}
              DEPS talvo_ui talvo_device talvo_firmware)
