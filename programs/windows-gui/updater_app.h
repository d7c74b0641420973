// CUpdaterApp: the application object. InitInstance prepares the window
// system, chooses the language from the user's locale, reads the version
// block, makes sure only one copy runs (the named mutex) and creates the main
// dialog, whose start-up does the rest; Run is the message loop; ExitInstance
// tears the main dialog down and gives the process exit code: 0 when start-up
// ended before the loop, otherwise the quit message's code (2 the user ended
// the program, 3 after a fatal box).
#pragma once

#include <memory>
#include <string>

#include "shell/app_data.h"
#include "shell/platform.h"
#include "ui/dialog.h"
#include "programs/windows-gui/main_dlg.h"

namespace talvo {

class CUpdaterApp {
  public:
    // The main dialog opens the device on `platform` and keeps the system
    // awake through `keepAwake`; both must outlive the application object.
    CUpdaterApp(AppData& data, IHidPlatform& platform, IKeepAwake& keepAwake = SystemKeepAwake(),
                CMainDlg::PackageLoader loader = &LoadFirmwarePackage);
    // Releases the single-instance mutex.
    ~CUpdaterApp();
    CUpdaterApp(const CUpdaterApp&) = delete;
    CUpdaterApp& operator=(const CUpdaterApp&) = delete;

    // True when the main dialog exists and the loop is to run.
    bool InitInstance();
    // The message loop, until the quit message; its code.
    int Run();
    // Destroys the main dialog; the exit code.
    int ExitInstance();
    // The whole life: InitInstance, Run when it succeeded, ExitInstance.
    int RunApplication();

    // The activation hook of the already-running box: product title as
    // caption, string 599 on OK.
    static void AlreadyRunningHook(IMessageBoxWindow& box, LanguageIndex language);

    CMainDlg* MainWindow() const { return mainWindow.get(); }
    bool HoldsInstanceMutex() const { return singleInstanceMutex.IsHeld(); }

  private:
    NamedMutex singleInstanceMutex;
    AppData& data;
    IHidPlatform& platform;
    IKeepAwake& keepAwake;
    CMainDlg::PackageLoader loadPackage;
    std::unique_ptr<CMainDlg> mainWindow;
    bool loopRan = false;
    int quitCode = 0;
};

}  // namespace talvo
