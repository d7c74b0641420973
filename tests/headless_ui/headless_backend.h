// The headless backend: dialogs and controls held in memory, built from the
// portable templates, with a real UI-thread message queue (posting from any
// thread, timers, the quit message with its code) and nested modal loops for
// DoModal and message boxes. HeadlessUser acts as the person in front of the
// screen: it clicks, presses keys, answers message boxes and reads what
// would be shown.
//
// Threading: the thread that runs a loop of the backend (RunMessageLoop,
// DoModal, a message box) is its UI thread; every window operation happens
// there. Post is safe from any thread. HeadlessUser may be used from any
// thread: its calls are carried out on the UI thread, which must be pumping
// (or be the caller).
#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "ui/ui_backend.h"

namespace talvo {

class HeadlessBackend final : public IUiBackend {
  public:
    using TemplateLookup = std::function<const DialogTemplate*(int templateId)>;
    using ResourceLookup = std::function<std::vector<std::uint8_t>(int type, int id)>;

    // The templates and raw resources the program is built with.
    static TemplateLookup ShippedTemplates();
    static ResourceLookup ShippedResources();

    explicit HeadlessBackend(TemplateLookup templates = ShippedTemplates(),
                             ResourceLookup resources = ShippedResources());
    ~HeadlessBackend() override;

    // Timers run this many times faster than their nominal interval.
    void SetTimerSpeedup(double speedup);

    // Runs `task` on the UI thread and waits for it (directly when called on
    // the UI thread). Throws std::runtime_error when the UI thread does not
    // take it within `limit`.
    void Invoke(std::function<void()> task,
                std::chrono::milliseconds limit = std::chrono::seconds(10));

    // Queues `task` for the UI thread without waiting for it.
    void PostTask(std::function<void()> task);

    // Waits until the UI thread sits in a loop with nothing queued.
    bool WaitIdle(std::chrono::milliseconds limit = std::chrono::seconds(5));

    // Font objects that exist (dialog fonts included).
    std::size_t LiveFontCount();
    bool CommonControlsInitialised();
    int WaitCursorDepth();
    WindowRef ForegroundRequest();
    // The locale UserDefaultLocale reports (English, United States at first).
    void SetUserLocale(std::uint32_t lcid);
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
    std::uint32_t UserDefaultLocale() override;
    std::uintptr_t CreateNamedMutex(const std::u16string& name, bool& alreadyExists) override;
    void CloseNamedMutex(std::uintptr_t handle) override;
    std::vector<std::uint8_t> LoadRawResource(int type, int id) override;

  private:
    friend class HeadlessUser;
    struct Node;
    struct Queued {
        WindowRef window;
        std::uint32_t message = 0;
        std::uintptr_t wParam = 0;
        std::intptr_t lParam = 0;
        std::function<void()> task;  // set for Invoke
    };
    struct Timer {
        WindowRef window;
        std::uintptr_t id = 0;
        std::chrono::steady_clock::duration interval{};
        std::chrono::steady_clock::time_point due{};
    };
    class BoxAdapter;

    Node* Find(WindowRef ref);
    Node* DialogOf(Node* node);
    WindowRef NewRef();
    void Register(std::unique_ptr<Node> node);
    void Unregister(WindowRef ref);
    WindowRef BuildDialog(Dialog& dialog, WindowRef owner, bool modal);
    void DestroyNode(WindowRef ref);
    // One step of a loop: delivers one message or timer, or returns false
    // with the quit code when the quit message is taken.
    bool PumpOne(int& quitCode);
    void Deliver(const Queued& q);
    std::intptr_t DialogProc(Node& dialog, std::uint32_t message, std::uintptr_t wParam,
                             std::intptr_t lParam);
    std::intptr_t BoxProc(Node& box, std::uint32_t message, std::uintptr_t wParam);
    void RemoveTimersOf(WindowRef ref);
    WindowRef FirstTabStop(Node& dialog);
    void SetFocusTo(WindowRef ref);
    // Topmost visible window that takes keyboard input (dialog or box).
    Node* ActiveWindow();

    TemplateLookup templates_;
    ResourceLookup resources_;

    // UI-thread state.
    std::map<std::uintptr_t, std::unique_ptr<Node>> nodes_;
    std::vector<std::uintptr_t> topLevel_;  // creation order; last is on top
    std::map<std::uintptr_t, FontSpec> fonts_;
    std::uintptr_t nextRef_ = 0x100;
    std::uintptr_t nextFont_ = 0x10;
    WindowRef focus_;
    WindowRef foreground_;
    int waitCursor_ = 0;
    std::atomic<std::uint32_t> userLocale_{0x0409};
    bool commonControls_ = false;

    // Shared with posting threads.
    std::mutex mutex_;
    std::condition_variable wake_;
    std::condition_variable idle_;
    std::deque<Queued> queue_;
    std::vector<Timer> timers_;
    std::set<std::uintptr_t> alive_;
    bool quitPending_ = false;
    int quitCode_ = 0;
    bool waiting_ = false;
    double speedup_ = 1.0;
    std::thread::id uiThread_;
};

// What a message box shows.
struct BoxInfo {
    WindowRef window;
    WindowRef owner;
    std::u16string caption;
    std::u16string text;
    std::uint32_t icon = 0;  // mb::kIcon* value
    std::vector<std::pair<int, std::u16string>> buttons;
    int defaultButton = 0;
};

// The person at the screen. Every call runs on the UI thread.
class HeadlessUser {
  public:
    explicit HeadlessUser(HeadlessBackend& backend) : b_(backend) {}

    // The newest window of the template, or none.
    WindowRef FindDialog(int templateId);
    // Waits until such a window exists (polling the UI thread).
    WindowRef WaitForDialog(int templateId,
                            std::chrono::milliseconds limit = std::chrono::seconds(5));
    std::optional<BoxInfo> OpenBox();
    std::optional<BoxInfo> WaitForBox(std::chrono::milliseconds limit = std::chrono::seconds(5));
    bool WaitIdle() { return b_.WaitIdle(); }

    // Input. Each returns false when the input could not reach its target
    // (disabled or hidden control, blocked window, no such item).
    bool Click(WindowRef dialog, int controlId);
    bool PressEnter();
    bool PressEscape();
    bool CloseCommand();  // the window's close command (close box / Alt+F4)
    bool ChooseSystemMenu(WindowRef dialog, std::uint32_t command);
    bool AnswerBox(int buttonId);

    // What is shown.
    std::u16string Caption(WindowRef window);
    std::u16string Text(WindowRef dialog, int controlId);
    bool Exists(WindowRef dialog, int controlId);
    bool Enabled(WindowRef dialogOrControl, int controlId = 0);
    bool Visible(WindowRef dialogOrControl, int controlId = 0);
    bool Checked(WindowRef dialog, int controlId);
    int FontWeight(WindowRef dialog, int controlId);
    Rgb TextColor(WindowRef dialog, int controlId);
    int FocusId(WindowRef dialog);  // ID of the focused control of the dialog, 0 none
    int DefId(WindowRef dialog);
    int ProgressPos(WindowRef dialog, int controlId);
    std::pair<int, int> ProgressRange(WindowRef dialog, int controlId);
    std::u16string RichText(WindowRef dialog, int controlId);
    std::pair<int, int> Selection(WindowRef dialog, int controlId);
    CharFormat DefaultCharFormat(WindowRef dialog, int controlId);
    int IconId(WindowRef dialog, int controlId);
    std::vector<std::pair<std::uint32_t, std::u16string>> SystemMenu(WindowRef dialog);
    // Rectangle of a dialog on the screen, or of a control in its dialog.
    Rect WindowRect(WindowRef dialog, int controlId = 0);
    int WindowIcon(WindowRef dialog);
    WindowRef Active();

  private:
    bool Input(const std::function<std::function<void()>()>& decide);
    std::function<void()> BoxAction(WindowRef box, std::uint32_t message, int id);

    HeadlessBackend& b_;
};

}  // namespace talvo
