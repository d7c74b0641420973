// Outside Windows the program has no window system of its own yet: the
// default backend creates nothing. Creating a dialog fails at once, so the
// application ends its start-up cleanly instead of waiting in a loop no one
// can see; a front end that has windows installs its own backend.
#include "ui/ui_backend.h"

namespace talvo {
namespace {

class NoWindowsBackend final : public IUiBackend {
  public:
    void InitCommonControls() override {}
    WindowRef CreateDialogWindow(Dialog&, WindowRef) override { return {}; }
    std::intptr_t RunModalDialog(Dialog&, WindowRef) override { return -1; }
    void EndDialog(WindowRef, std::intptr_t) override {}
    void DestroyWindow(WindowRef) override {}
    bool IsWindow(WindowRef) override { return false; }
    WindowRef GetItem(WindowRef, int) override { return {}; }
    int GetId(WindowRef) override { return 0; }
    void SetText(WindowRef, const std::u16string&) override {}
    std::u16string GetText(WindowRef) override { return {}; }
    void Enable(WindowRef, bool) override {}
    bool IsEnabled(WindowRef) override { return false; }
    void Show(WindowRef, bool) override {}
    bool IsVisible(WindowRef) override { return false; }
    void CenterWindow(WindowRef, WindowRef) override {}
    Rect GetWindowRect(WindowRef) override { return {}; }
    Rect GetRectInParent(WindowRef) override { return {}; }
    void MoveWindow(WindowRef, const Rect&) override {}
    void SetPosition(WindowRef, int, int) override {}
    WindowRef CreateControlLike(WindowRef, WindowRef, int, const Rect&,
                                const std::u16string&) override {
        return {};
    }
    void SetWindowIcons(WindowRef, int) override {}
    std::intptr_t IconValue(int) override { return 0; }
    bool PaintMinimizedIcon(WindowRef, int) override { return false; }
    WindowRef GetFocus() override { return {}; }
    void NextDlgCtl(WindowRef, WindowRef) override {}
    void SetDefId(WindowRef, int) override {}
    int GetDefId(WindowRef) override { return 0; }
    void SetCheck(WindowRef, bool) override {}
    bool GetCheck(WindowRef) override { return false; }
    void SetProgressRange(WindowRef, int, int) override {}
    void SetProgressPos(WindowRef, int) override {}
    int GetProgressPos(WindowRef) override { return 0; }
    void SetSelection(WindowRef, int, int) override {}
    void SetRichText(WindowRef, const std::u16string&) override {}
    std::optional<CharFormat> GetDefaultCharFormat(WindowRef) override { return std::nullopt; }
    void SetDefaultCharFormat(WindowRef, const CharFormat&) override {}
    void SetIcon(WindowRef, int) override {}
    FontHandle CreateFont(const FontSpec&) override { return {}; }
    void DeleteFont(FontHandle) override {}
    std::optional<FontSpec> GetFontSpec(FontHandle) override { return std::nullopt; }
    FontHandle GetWindowFont(WindowRef) override { return {}; }
    void SetWindowFont(WindowRef, FontHandle, bool) override {}
    bool AppendSystemMenuSeparator(WindowRef) override { return false; }
    bool AppendSystemMenuItem(WindowRef, std::uint32_t, const std::u16string&) override {
        return false;
    }
    bool Post(WindowRef, std::uint32_t, std::uintptr_t, std::intptr_t) override { return false; }
    std::intptr_t Send(WindowRef, std::uint32_t, std::uintptr_t, std::intptr_t) override {
        return 0;
    }
    bool SetTimer(WindowRef, std::uintptr_t, std::uint32_t) override { return false; }
    void KillTimer(WindowRef, std::uintptr_t) override {}
    void PostQuit(int code) override { quitCode_ = code; }
    // Nothing can post to a loop without windows: it ends at once.
    int RunMessageLoop() override { return quitCode_; }
    // No box can be shown: the answer is Cancel, never a silent OK.
    int MessageBox(WindowRef, const std::u16string&, const std::u16string&, std::uint32_t,
                   MessageBoxHook) override {
        return kIdCancel;
    }
    void BeginWaitCursor() override {}
    void EndWaitCursor() override {}
    void ForceForeground(WindowRef) override {}

  private:
    int quitCode_ = 0;
};

}  // namespace

IUiBackend& DefaultUiBackend() {
    static NoWindowsBackend backend;
    return backend;
}

}  // namespace talvo
