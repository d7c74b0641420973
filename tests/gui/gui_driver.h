// A driver that runs a Windows GUI program as its user would: it starts the
// program with a chosen environment, finds its windows by title, reads what
// the controls show, clicks, types Enter and Esc, answers message boxes and
// collects the exit code. Every wait has a time limit, so a program that
// hangs fails the test instead of stopping the run; a program still running
// when its Process object goes is killed.
//
// Everything here talks to the other process only through window messages
// and the window manager's queries, never through shared memory or hooks.
#pragma once

#include <windows.h>

#include <chrono>
#include <functional>
#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace talvo::gui {

using Millis = std::chrono::milliseconds;

// Time limits of the driver's own waits. Wine on a busy two-core machine is
// slow to map the first window of a process, so the defaults are generous.
// Under software emulation a program's start is slower still: the waits for
// a window or a message box to appear take TALVO_GUI_WINDOW_SCALE (a whole
// factor from the environment, 1 when unset) times their limit.
inline constexpr Millis kWindowTimeout{20000};
inline constexpr Millis kStateTimeout{10000};
inline constexpr Millis kExitTimeout{20000};
inline constexpr Millis kMessageTimeout{5000};

// Polls cond every 20 ms until it holds or the limit passes; true when it held.
bool WaitUntil(const std::function<bool()>& cond, Millis limit);

// How keys reach the program.
enum class KeyRoute {
    // WM_KEYDOWN + WM_KEYUP posted to the window that has the keyboard focus
    // in the program's UI thread (or to its active window when nothing has
    // the focus). Independent of which window is in the foreground.
    kPostToFocus,
    // The system's input queue (SendInput) after bringing the program's
    // window to the foreground: the way a real keyboard arrives.
    kSendInput,
};

// One window of another process, by handle. Reads use SendMessageTimeout,
// so a program that stopped pumping messages makes them fail instead of
// blocking the driver. Actions are posted and return at once: what they
// cause is checked with the waits below.
class Window {
  public:
    Window() = default;
    explicit Window(HWND handle) : handle_(handle) {}

    HWND handle() const { return handle_; }
    bool exists() const { return handle_ != nullptr && IsWindow(handle_) != FALSE; }
    explicit operator bool() const { return exists(); }

    std::wstring text() const;       // WM_GETTEXT (UTF-16), empty on failure
    std::wstring className() const;  // GetClassNameW
    int id() const;                  // GetDlgCtrlID
    bool enabled() const;            // IsWindowEnabled
    bool visible() const;            // IsWindowVisible (the window and its parents)
    DWORD processId() const;
    DWORD threadId() const;
    RECT screenRect() const;  // GetWindowRect

    Window control(int id) const;  // GetDlgItem; empty when there is none
    Window owner() const;          // GetWindow(GW_OWNER)

    // The control with the keyboard focus in this window's UI thread, and
    // the thread's active window (GetGUIThreadInfo); empty when none.
    Window focus() const;
    Window activeWindow() const;

    // Dialog and control queries.
    std::optional<int> defaultId() const;    // DM_GETDEFID; none without a default
    std::optional<int> progressPos() const;  // PBM_GETPOS
    std::optional<int> checkState() const;   // BM_GETCHECK: 0, 1 or 2
    std::optional<LRESULT> send(UINT msg, WPARAM w, LPARAM l) const;  // SendMessageTimeoutW

    // Actions. click() posts BM_CLICK and refuses (false) a button that is
    // missing, hidden or disabled, as a user could not press it either.
    bool click() const;
    bool clickControl(int id) const { return control(id).click(); }
    bool pressKey(WORD virtualKey, KeyRoute route = KeyRoute::kPostToFocus) const;
    bool pressEnter(KeyRoute route = KeyRoute::kPostToFocus) const {
        return pressKey(VK_RETURN, route);
    }
    bool pressEscape(KeyRoute route = KeyRoute::kPostToFocus) const {
        return pressKey(VK_ESCAPE, route);
    }
    bool closeCommand() const { return sysCommand(SC_CLOSE); }  // the close box / Alt+F4
    bool sysCommand(UINT command) const;  // WM_SYSCOMMAND, e.g. a system-menu item's ID

    // Waits for the text, or for the enabled state; true when it came in time.
    bool waitForText(const std::wstring& expected, Millis limit = kStateTimeout) const;
    bool waitForEnabled(bool expected, Millis limit = kStateTimeout) const;

    // Waits until the window has handled everything sent to it so far (a
    // round trip through its message queue), then lets the display catch up.
    bool settle(Millis paint = Millis{150}) const;

  private:
    HWND handle_ = nullptr;
};

// A message box of the program: a visible "#32770" window with the static
// text control 0xFFFF.
struct MessageBoxView {
    Window window;
    std::wstring caption;
    std::wstring text;                                  // control 0xFFFF
    std::vector<std::pair<int, std::wstring>> buttons;  // present button IDs 1..11 with texts

    bool hasButton(int id) const;
    std::wstring buttonText(int id) const;  // empty when absent
    bool answer(int id) const { return window.clickControl(id); }
};

struct LaunchOptions {
    std::wstring program;  // path of the executable
    std::wstring arguments;
    // Variables to set in the child's environment over the driver's own;
    // an empty value removes the variable.
    std::vector<std::pair<std::wstring, std::wstring>> environment;
    std::wstring workingDirectory;  // empty: the driver's
};

// A started program. Killed (and waited for) on destruction if it still runs.
class Process {
  public:
    Process() = default;
    Process(const Process&) = delete;
    Process& operator=(const Process&) = delete;
    Process(Process&& other) noexcept;
    Process& operator=(Process&& other) noexcept;
    ~Process();

    // CreateProcessW with the environment block built from the options.
    // On failure returns an empty Process and puts the reason into *error.
    static Process Start(const LaunchOptions& options, std::wstring* error);

    bool started() const { return process_ != nullptr; }
    DWORD id() const { return id_; }
    bool running() const;

    // Waits for the end; the exit code, or none when the limit passed (the
    // process is left running).
    std::optional<DWORD> waitForExit(Millis limit = kExitTimeout);
    // Waits for the end and kills the process when the limit passes; the
    // exit code, or none when it had to be killed.
    std::optional<DWORD> waitForExitOrKill(Millis limit = kExitTimeout);
    void kill();

    // Top-level windows of this process.
    std::vector<Window> windows(bool visibleOnly = true) const;
    // Waits for a visible top-level window with exactly this title.
    Window waitForWindow(const std::wstring& title, Millis limit = kWindowTimeout) const;
    // Waits for a message box of this process that is not one of the given
    // windows (pass the program's own dialogs: they are "#32770" as well).
    std::optional<MessageBoxView> waitForMessageBox(const std::vector<Window>& notThese = {},
                                                    Millis limit = kWindowTimeout) const;
    // The message box that is open now, if any.
    std::optional<MessageBoxView> messageBox(const std::vector<Window>& notThese = {}) const;

    // One line per visible top-level window (class, title, position, the
    // message box text if it is one), for the message of a failed wait.
    std::string describeWindows() const;

  private:
    HANDLE process_ = nullptr;
    DWORD id_ = 0;
};

// The window in the foreground of the desktop (the one keys go to).
Window ForegroundWindow();

// Reads a message box's parts; none when the window is not one.
std::optional<MessageBoxView> ReadMessageBox(Window window);

// Saves what the screen shows, whole (window empty) or the part covered by
// the window (with whatever lies on top of it, as the user sees it), as a
// 24-bit BMP. False when the capture or the file fails.
bool SaveScreenshot(const std::wstring& path, Window window = Window{});

// The directory for screenshots: TALVO_GUI_SHOT_DIR, or the working
// directory when it is not set. Ends with a backslash.
std::wstring ScreenshotDirectory();

// Folder of the running executable, ending with a backslash.
std::wstring ExecutableDirectory();

// Narrow text for test messages (UTF-8).
std::string Utf8(const std::wstring& text);

}  // namespace talvo::gui
