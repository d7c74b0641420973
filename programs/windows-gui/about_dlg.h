// The about box: the application icon, the line "<name>  Version <a>.<b><c>"
// from the executable's version block, and OK. Only the caption and the OK
// button follow the language.
#pragma once

#include "shell/app_data.h"
#include "ui/dialog.h"

namespace talvo {

class CAboutDlg : public Dialog {
  public:
    explicit CAboutDlg(Dialog* parent = nullptr, const AppData& app = g_appData);

  protected:
    bool OnInitDialog() override;

  private:
    const AppData& app_;
    Control versionText_;
};

}  // namespace talvo
