// The headless backend: dialogs and controls held in memory, built from the
// portable templates, on a real UI-thread message loop (headless_loop.h)
// with nested modal loops for DoModal and message boxes. The dialog
// manager's default behaviour (Enter and Esc, the close command, the
// default button, radio groups) is the portable one of ui/dialog_manager.h.
// HeadlessUser (headless_user.h) acts as the person in front of the screen.
//
// Threading: the thread that runs a loop of the backend (RunMessageLoop,
// DoModal, a message box) is its UI thread; every window operation happens
// there. Post is safe from any thread.
//
// Files: headless_backend.cpp the windows and dialogs, headless_boxes.cpp
// the message boxes, headless_loop.cpp the loop and timers.
#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "tests/headless_ui/headless_loop.h"
#include "ui/dialog_manager.h"
#include "ui/ui_backend.h"

namespace talvo {

class HeadlessBackend final : public IUiBackend, private DialogManager::IControls {
  public:
    using TemplateLookup = std::function<const DialogTemplate*(int templateId)>;

    // The templates the program is built with.
    static TemplateLookup ShippedTemplates();

    explicit HeadlessBackend(TemplateLookup templates = ShippedTemplates());
    ~HeadlessBackend() override;

    // Timers run this many times faster than their nominal interval.
    void SetTimerSpeedup(double speedup) { loop_.SetTimerSpeedup(speedup); }

    // Runs `task` on the UI thread and waits for it (directly when called on
    // the UI thread). Throws std::runtime_error when the UI thread does not
    // take it within `limit`.
    void Invoke(std::function<void()> task,
                std::chrono::milliseconds limit = std::chrono::seconds(10)) {
        loop_.Invoke(std::move(task), limit);
    }

    // Queues `task` for the UI thread without waiting for it.
    void PostTask(std::function<void()> task) { loop_.PostTask(std::move(task)); }

    // Waits until the UI thread sits in a loop with nothing queued.
    bool WaitIdle(std::chrono::milliseconds limit = std::chrono::seconds(5)) {
        return loop_.WaitIdle(limit);
    }

    // Font objects that exist (dialog fonts included).
    std::size_t LiveFontCount();
    bool CommonControlsInitialised();
    int WaitCursorDepth();
    WindowRef ForegroundRequest();
    // The screen the dialogs are placed on, in pixels.
    static constexpr Rect kScreen{0, 0, 1024, 768};

    // IUiBackend
    void InitCommonControls() override;
    WindowRef CreateDialogWindow(Dialog& dialog, WindowRef parent) override;
    std::intptr_t RunModalDialog(Dialog& dialog, WindowRef parent) override;
    void EndDialog(WindowRef dialog, std::intptr_t result) override;
    void DestroyWindow(WindowRef window) override;
    bool IsWindow(WindowRef window) override;
    WindowRef GetItem(WindowRef dialog, int id) override;
    int GetId(WindowRef window) override;
    void SetText(WindowRef window, const std::u16string& text) override;
    std::u16string GetText(WindowRef window) override;
    void Enable(WindowRef window, bool enable) override;
    bool IsEnabled(WindowRef window) override;
    void Show(WindowRef window, bool show) override;
    bool IsVisible(WindowRef window) override;
    void CenterWindow(WindowRef window, WindowRef over) override;
    Rect GetWindowRect(WindowRef window) override;
    Rect GetRectInParent(WindowRef window) override;
    void MoveWindow(WindowRef window, const Rect& rect) override;
    void SetPosition(WindowRef window, int x, int y) override;
    WindowRef CreateControlLike(WindowRef dialog, WindowRef model, int id, const Rect& rect,
                                const std::u16string& text) override;
    void SetWindowIcons(WindowRef window, int iconId) override;
    std::intptr_t IconValue(int iconId) override;
    bool PaintMinimizedIcon(WindowRef window, int iconId) override;
    WindowRef GetFocus() override;
    void NextDlgCtl(WindowRef dialog, WindowRef control) override;
    void SetDefId(WindowRef dialog, int id) override;
    int GetDefId(WindowRef dialog) override;
    void SetCheck(WindowRef button, bool checked) override;
    bool GetCheck(WindowRef button) override;
    void SetProgressRange(WindowRef bar, int low, int high) override;
    void SetProgressPos(WindowRef bar, int pos) override;
    int GetProgressPos(WindowRef bar) override;
    void SetSelection(WindowRef edit, int start, int end) override;
    void SetRichText(WindowRef edit, const std::u16string& text) override;
    std::optional<CharFormat> GetDefaultCharFormat(WindowRef edit) override;
    void SetDefaultCharFormat(WindowRef edit, const CharFormat& format) override;
    void SetIcon(WindowRef staticIcon, int iconId) override;
    FontHandle CreateFont(const FontSpec& spec) override;
    void DeleteFont(FontHandle font) override;
    std::optional<FontSpec> GetFontSpec(FontHandle font) override;
    FontHandle GetWindowFont(WindowRef window) override;
    void SetWindowFont(WindowRef window, FontHandle font, bool redraw) override;
    bool AppendSystemMenuSeparator(WindowRef dialog) override;
    bool AppendSystemMenuItem(WindowRef dialog, std::uint32_t command,
                              const std::u16string& text) override;
    bool Post(WindowRef window, std::uint32_t message, std::uintptr_t wParam,
              std::intptr_t lParam) override;
    std::intptr_t Send(WindowRef window, std::uint32_t message, std::uintptr_t wParam,
                       std::intptr_t lParam) override;
    bool SetTimer(WindowRef window, std::uintptr_t id, std::uint32_t milliseconds) override;
    void KillTimer(WindowRef window, std::uintptr_t id) override;
    void PostQuit(int code) override;
    int RunMessageLoop() override;
    int MessageBox(WindowRef owner, const std::u16string& text, const std::u16string& caption,
                   std::uint32_t type, MessageBoxHook hook) override;
    void BeginWaitCursor() override;
    void EndWaitCursor() override;
    void ForceForeground(WindowRef window) override;

  private:
    friend class HeadlessUser;
    struct Node;  // headless_node.h
    class BoxAdapter;

    // DialogManager::IControls
    std::vector<WindowRef> ControlsOf(WindowRef dialog) override;
    std::optional<Facts> FactsOf(WindowRef window) override;

    Node* Find(WindowRef ref);
    WindowRef NewRef();
    void Register(std::unique_ptr<Node> node);
    void Unregister(WindowRef ref);
    WindowRef BuildDialog(Dialog& dialog, WindowRef owner, bool modal);
    void DestroyNode(WindowRef ref);
    // Runs nested loop steps until `done` holds (checked before each step)
    // or the quit message comes, which it posts again for the outer loop.
    void RunNestedLoop(const std::function<bool()>& done);
    std::intptr_t DialogProc(Node& dialog, std::uint32_t message, std::uintptr_t wParam,
                             std::intptr_t lParam);
    std::intptr_t BoxProc(Node& box, std::uint32_t message, std::uintptr_t wParam);
    void SetFocusTo(WindowRef ref);
    // Topmost visible window that takes keyboard input (dialog or box).
    Node* ActiveWindow();
    // The newest message box, or none.
    Node* OpenBox();

    TemplateLookup templates_;
    HeadlessMessageLoop loop_;
    DialogManager manager_{*this, *this};

    // UI-thread state.
    std::map<std::uintptr_t, std::unique_ptr<Node>> nodes_;
    std::vector<std::uintptr_t> topLevel_;  // creation order; last is on top
    std::map<std::uintptr_t, FontSpec> fonts_;
    std::uintptr_t nextRef_ = 0x100;
    std::uintptr_t nextFont_ = 0x10;
    WindowRef focus_;
    WindowRef foreground_;
    int waitCursor_ = 0;
    bool commonControls_ = false;
};

}  // namespace talvo
