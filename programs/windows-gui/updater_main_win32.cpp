// The process entry point of both executables: the HID platform of the
// build, then the application object's whole life.
#include <windows.h>

#include <string>

#include "programs/windows-gui/hid_choice.h"
#include "programs/windows-gui/updater_app.h"

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int) {
    std::string error;
    const std::unique_ptr<talvo::HidChoice> hid = talvo::ChooseHidPlatform(&error);
    if (!hid) {
        MessageBoxA(nullptr, error.c_str(), "TALVO FW-Updater", MB_OK | MB_ICONERROR);
        return 1;
    }
    // Destroyed before the HID platform it uses.
    talvo::CUpdaterApp app(talvo::g_appData, hid->Platform());
    return app.RunApplication();
}
