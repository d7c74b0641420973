#include "programs/windows-gui/about_dlg.h"

#include "shell/strings.h"
#include "resources/resource_ids.h"

namespace talvo {

CAboutDlg::CAboutDlg(Dialog* parent, const AppData& app) : Dialog(kIddAbout, parent), app_(app) {}

bool CAboutDlg::OnInitDialog() {
    versionText_ = Item(kIdcAboutVersion);
    if (const Control icon = Item(kIdcAboutIcon)) {
        icon.SetIcon(kIdiApp);
    }
    SetCaption(LoadLocalizedString(kIdsAboutCaption, app_.languageIndex));
    Item(kIdOk).SetText(LoadLocalizedString(kIdsOk, app_.languageIndex));
    versionText_.SetText(FormatAboutLine(app_));
    return true;
}

}  // namespace talvo
