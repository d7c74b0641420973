#include "programs/windows-gui/updater_app.h"

#include <new>

#include "shell/language.h"
#include "shell/strings.h"
#include "shell/version_block.h"
#include "resources/resource_ids.h"

namespace talvo {

CUpdaterApp::CUpdaterApp(AppData& appData, IHidPlatform& hidPlatform, IKeepAwake& keepAwakeImpl,
                         CMainDlg::PackageLoader loader)
    : data(appData), platform(hidPlatform), keepAwake(keepAwakeImpl), loadPackage(loader) {}

CUpdaterApp::~CUpdaterApp() {
    // Normally ExitInstance has removed the dialog already.
    mainWindow.reset();
    singleInstanceMutex.Close();
}

void CUpdaterApp::AlreadyRunningHook(IMessageBoxWindow& box, LanguageIndex language) {
    box.SetCaption(LoadProductTitle(language));
    box.SetButtonText(kIdOk, LoadLocalizedString(kIdsOk, language));
}

bool CUpdaterApp::InitInstance() {
    // Common controls (the progress bar) and the rich edit of the agreement.
    InitWindowSystem();

    data.languageIndex = SelectLanguage(UserDefaultLocale());
    ReadVersionBlock(data);

    switch (singleInstanceMutex.Create(kSingleInstanceMutexName)) {
        case NamedMutex::Result::Failed:
            return false;
        case NamedMutex::Result::AlreadyExists: {
            const LanguageIndex language = data.languageIndex;
            ShowMessageBox(
                nullptr, LoadLocalizedString(kIdsAlreadyRunning, language),
                LoadProductTitle(language), mb::kOk | mb::kIconInformation,
                [language](IMessageBoxWindow& box) { AlreadyRunningHook(box, language); });
            singleInstanceMutex.Close();
            return false;
        }
        case NamedMutex::Result::Created:
            break;
    }

    mainWindow.reset(new (std::nothrow) CMainDlg(data, platform, keepAwake, loadPackage));
    if (!mainWindow) {
        return false;
    }
    // Runs the dialog's whole start-up, the agreement included.
    if (!mainWindow->Create()) {
        mainWindow.reset();
        return false;
    }
    mainWindow->ShowWindow(true);
    return true;
}

int CUpdaterApp::Run() {
    loopRan = true;
    quitCode = RunMessageLoop();
    return quitCode;
}

int CUpdaterApp::ExitInstance() {
    if (std::unique_ptr<CMainDlg> dialog = std::move(mainWindow)) {
        dialog->DestroyWindow();
        dialog.reset();
    }
    return loopRan ? quitCode : 0;
}

int CUpdaterApp::RunApplication() {
    if (InitInstance()) {
        Run();
    }
    return ExitInstance();
}

}  // namespace talvo
