// The window shown while a firmware update runs: a bold red warning not to
// disconnect the device and a bar from 0 to 100 that follows WM_APP+2. It has
// no buttons and cannot be closed by the user: Enter and Esc do nothing.
#pragma once

#include "shell/app_data.h"
#include "ui/dialog.h"

namespace talvo {

class CFirmUpProgressDlg : public Dialog {
  public:
    explicit CFirmUpProgressDlg(Dialog* parent = nullptr, const AppData& app = g_appData);
    ~CFirmUpProgressDlg() override;

    // The bold copy of the warning line's font, owned here; none until the
    // first window was initialised.
    FontHandle WarningFont() const { return warningFont_.Handle(); }

  protected:
    const MessageMap* GetMessageMap() const override;
    bool OnInitDialog() override;
    void OnOK() override {}
    void OnCancel() override {}
    std::optional<Rgb> OnCtlColor(Control control, CtlColorKind kind) override;

  private:
    std::intptr_t OnSetProgress(std::uintptr_t wParam, std::intptr_t lParam);

    const AppData& app_;
    Font warningFont_;
};

}  // namespace talvo
