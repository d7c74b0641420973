# talvo_device: the device watcher, the device connection, the firmware
# update sequence, the version rules and the portable UI-thread queue, plus
# the headless session that plays the main dialog's part.
talvo_library(talvo_device
  SOURCES
    device_comm_app.cpp
    device_watcher.cpp
    firm_updater.cpp
    ui_message_queue.cpp
    update_controller.cpp
    update_session.cpp
    version_rules.cpp
  DEPS talvo_base talvo_hid talvo_protocol talvo_firmware)
