#include "tests/gui/gui_driver.h"

#include <commctrl.h>

#include <algorithm>
#include <cwchar>
#include <cwctype>
#include <span>
#include <thread>

#include "tests/gui/bmp_image.h"

namespace talvo::gui {
namespace {

constexpr UINT kSendTimeoutMs = 3000;
constexpr Millis kPoll{20};
constexpr DWORD kKilledExitCode = 0xDEAD;

bool SameName(const std::wstring& a, const std::wstring& b) {
    if (a.size() != b.size()) {
        return false;
    }
    for (std::size_t i = 0; i < a.size(); ++i) {
        if (std::towupper(a[i]) != std::towupper(b[i])) {
            return false;
        }
    }
    return true;
}

std::wstring NameOf(const std::wstring& entry) {
    // Entries like "=C:=C:\dir" keep their leading '=' as part of the name.
    const std::size_t eq = entry.find(L'=', 1);
    return eq == std::wstring::npos ? entry : entry.substr(0, eq);
}

// The driver's environment with the options' changes, as a sorted,
// double-terminated UTF-16 block.
std::vector<wchar_t> BuildEnvironment(
    const std::vector<std::pair<std::wstring, std::wstring>>& changes) {
    std::vector<std::wstring> entries;
    if (wchar_t* block = GetEnvironmentStringsW()) {
        for (const wchar_t* p = block; *p != L'\0'; p += wcslen(p) + 1) {
            entries.emplace_back(p);
        }
        FreeEnvironmentStringsW(block);
    }
    for (const auto& [name, value] : changes) {
        std::erase_if(entries, [&](const std::wstring& e) { return SameName(NameOf(e), name); });
        if (!value.empty()) {
            entries.push_back(name + L"=" + value);
        }
    }
    std::sort(entries.begin(), entries.end(), [](const std::wstring& a, const std::wstring& b) {
        const std::wstring na = NameOf(a), nb = NameOf(b);
        return CompareStringOrdinal(na.c_str(), static_cast<int>(na.size()), nb.c_str(),
                                    static_cast<int>(nb.size()), TRUE) == CSTR_LESS_THAN;
    });
    std::vector<wchar_t> out;
    for (const std::wstring& e : entries) {
        out.insert(out.end(), e.begin(), e.end());
        out.push_back(L'\0');
    }
    out.push_back(L'\0');
    if (out.size() == 1) {
        out.push_back(L'\0');
    }
    return out;
}

std::wstring LastErrorText(const wchar_t* what) {
    const DWORD code = GetLastError();
    wchar_t buf[512] = {};
    FormatMessageW(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr, code, 0,
                   buf, 511, nullptr);
    return std::wstring(what) + L" failed (error " + std::to_wstring(code) + L"): " + buf;
}

struct EnumState {
    DWORD pid;
    bool visibleOnly;
    std::vector<Window>* out;
};

BOOL CALLBACK CollectWindow(HWND h, LPARAM lp) {
    auto* s = reinterpret_cast<EnumState*>(lp);
    DWORD pid = 0;
    GetWindowThreadProcessId(h, &pid);
    if (pid == s->pid && (!s->visibleOnly || IsWindowVisible(h))) {
        s->out->emplace_back(h);
    }
    return TRUE;
}

std::wstring TitleOf(HWND h) {
    // GetWindowTextW reads a top-level window's caption without sending it
    // a message, so a busy program does not hold the search up.
    wchar_t buf[1024] = {};
    const int n = GetWindowTextW(h, buf, 1024);
    return std::wstring(buf, n > 0 ? static_cast<std::size_t>(n) : 0);
}

// A wait for a window to appear, scaled for a slow machine (see gui_driver.h).
Millis AppearLimit(Millis limit) {
    wchar_t buf[16] = {};
    const DWORD n = GetEnvironmentVariableW(L"TALVO_GUI_WINDOW_SCALE", buf, 16);
    const long scale = n > 0 && n < 16 ? std::wcstol(buf, nullptr, 10) : 1;
    return scale > 1 && scale <= 100 ? limit * scale : limit;
}

bool InList(const std::vector<Window>& list, HWND h) {
    return std::any_of(list.begin(), list.end(), [h](const Window& w) { return w.handle() == h; });
}

}  // namespace

bool WaitUntil(const std::function<bool()>& cond, Millis limit) {
    const ULONGLONG end = GetTickCount64() + static_cast<ULONGLONG>(limit.count());
    for (;;) {
        if (cond()) {
            return true;
        }
        if (GetTickCount64() >= end) {
            return false;
        }
        std::this_thread::sleep_for(kPoll);
    }
}

// ---- Window -------------------------------------------------------------

std::optional<LRESULT> Window::send(UINT msg, WPARAM w, LPARAM l) const {
    if (!exists()) {
        return std::nullopt;
    }
    DWORD_PTR result = 0;
    if (SendMessageTimeoutW(handle_, msg, w, l, SMTO_ABORTIFHUNG | SMTO_BLOCK, kSendTimeoutMs,
                            &result) == 0) {
        return std::nullopt;
    }
    return static_cast<LRESULT>(result);
}

std::wstring Window::text() const {
    const std::optional<LRESULT> length = send(WM_GETTEXTLENGTH, 0, 0);
    if (!length || *length < 0) {
        return {};
    }
    std::vector<wchar_t> buf(static_cast<std::size_t>(*length) + 1, L'\0');
    const std::optional<LRESULT> got =
        send(WM_GETTEXT, static_cast<WPARAM>(buf.size()), reinterpret_cast<LPARAM>(buf.data()));
    if (!got || *got < 0) {
        return {};
    }
    return std::wstring(buf.data(),
                        std::min<std::size_t>(static_cast<std::size_t>(*got), buf.size() - 1));
}

std::wstring Window::className() const {
    wchar_t buf[256] = {};
    const int n = exists() ? GetClassNameW(handle_, buf, 256) : 0;
    return std::wstring(buf, n > 0 ? static_cast<std::size_t>(n) : 0);
}

int Window::id() const {
    return exists() ? GetDlgCtrlID(handle_) : 0;
}
bool Window::enabled() const {
    return exists() && IsWindowEnabled(handle_) != FALSE;
}
bool Window::visible() const {
    return exists() && IsWindowVisible(handle_) != FALSE;
}

DWORD Window::processId() const {
    DWORD pid = 0;
    if (exists()) {
        GetWindowThreadProcessId(handle_, &pid);
    }
    return pid;
}

DWORD Window::threadId() const {
    return exists() ? GetWindowThreadProcessId(handle_, nullptr) : 0;
}

RECT Window::screenRect() const {
    RECT r{};
    if (exists()) {
        GetWindowRect(handle_, &r);
    }
    return r;
}

Window Window::control(int controlId) const {
    return exists() ? Window(GetDlgItem(handle_, controlId)) : Window{};
}

Window Window::owner() const {
    return exists() ? Window(GetWindow(handle_, GW_OWNER)) : Window{};
}

Window Window::focus() const {
    GUITHREADINFO info{};
    info.cbSize = sizeof(info);
    if (!exists() || !GetGUIThreadInfo(threadId(), &info)) {
        return {};
    }
    return Window(info.hwndFocus);
}

Window Window::activeWindow() const {
    GUITHREADINFO info{};
    info.cbSize = sizeof(info);
    if (!exists() || !GetGUIThreadInfo(threadId(), &info)) {
        return {};
    }
    return Window(info.hwndActive);
}

std::optional<int> Window::defaultId() const {
    const std::optional<LRESULT> r = send(DM_GETDEFID, 0, 0);
    if (!r || HIWORD(static_cast<DWORD>(*r)) != DC_HASDEFID) {
        return std::nullopt;
    }
    return static_cast<int>(LOWORD(static_cast<DWORD>(*r)));
}

std::optional<int> Window::progressPos() const {
    const std::optional<LRESULT> r = send(PBM_GETPOS, 0, 0);
    if (!r) {
        return std::nullopt;
    }
    return static_cast<int>(*r);
}

std::optional<int> Window::checkState() const {
    const std::optional<LRESULT> r = send(BM_GETCHECK, 0, 0);
    if (!r) {
        return std::nullopt;
    }
    return static_cast<int>(*r);
}

bool Window::click() const {
    if (!visible() || !enabled()) {
        return false;
    }
    return PostMessageW(handle_, BM_CLICK, 0, 0) != FALSE;
}

bool Window::pressKey(WORD virtualKey, KeyRoute route) const {
    if (!exists()) {
        return false;
    }
    if (route == KeyRoute::kPostToFocus) {
        // The thread's focus, else its active window, else this window. A
        // thread that has just started can still report the focus of a
        // window that is gone, or of another process, so only a live window
        // of this window's own process is taken.
        const DWORD pid = processId();
        HWND target = handle_;
        for (const Window& candidate : {focus(), activeWindow()}) {
            if (candidate.exists() && candidate.processId() == pid) {
                target = candidate.handle();
                break;
            }
        }
        const LPARAM scan = static_cast<LPARAM>(MapVirtualKeyW(virtualKey, MAPVK_VK_TO_VSC)) << 16;
        const LPARAM down = 1 | scan;
        const LPARAM up = down | (LPARAM{1} << 30) | static_cast<LPARAM>(0x80000000UL);
        if (PostMessageW(target, WM_KEYDOWN, virtualKey, down) == FALSE) {
            return false;
        }
        // The key-down can close the window before the key-up is posted
        // (Enter on a message box): then the key has done its work.
        return PostMessageW(target, WM_KEYUP, virtualKey, up) != FALSE || !IsWindow(target);
    }
    HWND top = GetAncestor(handle_, GA_ROOT);
    SetForegroundWindow(top);
    if (!WaitUntil([top] { return GetForegroundWindow() == top; }, Millis{2000})) {
        return false;
    }
    INPUT in[2] = {};
    in[0].type = INPUT_KEYBOARD;
    in[0].ki.wVk = virtualKey;
    in[1] = in[0];
    in[1].ki.dwFlags = KEYEVENTF_KEYUP;
    return SendInput(2, in, sizeof(INPUT)) == 2;
}

bool Window::sysCommand(UINT command) const {
    return exists() && PostMessageW(handle_, WM_SYSCOMMAND, command, 0) != FALSE;
}

bool Window::waitForText(const std::wstring& expected, Millis limit) const {
    return WaitUntil([&] { return text() == expected; }, limit);
}

bool Window::waitForEnabled(bool expected, Millis limit) const {
    return WaitUntil([&] { return exists() && enabled() == expected; }, limit);
}

bool Window::settle(Millis paint) const {
    const bool answered = send(WM_NULL, 0, 0).has_value();
    std::this_thread::sleep_for(paint);
    return answered;
}

Window ForegroundWindow() {
    return Window(GetForegroundWindow());
}

// ---- Message boxes ------------------------------------------------------

bool MessageBoxView::hasButton(int buttonId) const {
    return std::any_of(buttons.begin(), buttons.end(),
                       [buttonId](const auto& b) { return b.first == buttonId; });
}

std::wstring MessageBoxView::buttonText(int buttonId) const {
    for (const auto& [bid, label] : buttons) {
        if (bid == buttonId) {
            return label;
        }
    }
    return {};
}

std::optional<MessageBoxView> ReadMessageBox(Window window) {
    if (!window.visible() || window.className() != L"#32770") {
        return std::nullopt;
    }
    const Window textControl = window.control(0xFFFF);
    if (!textControl) {
        return std::nullopt;
    }
    MessageBoxView box;
    box.window = window;
    box.caption = window.text();
    box.text = textControl.text();
    for (int bid = IDOK; bid <= IDCONTINUE; ++bid) {
        const Window button = window.control(bid);
        if (button.visible()) {
            box.buttons.emplace_back(bid, button.text());
        }
    }
    return box;
}

// ---- Process ------------------------------------------------------------

Process::Process(Process&& other) noexcept
    : process_(std::exchange(other.process_, nullptr)), id_(std::exchange(other.id_, 0)) {}

Process& Process::operator=(Process&& other) noexcept {
    if (this != &other) {
        kill();
        if (process_ != nullptr) {
            CloseHandle(process_);
        }
        process_ = std::exchange(other.process_, nullptr);
        id_ = std::exchange(other.id_, 0);
    }
    return *this;
}

Process::~Process() {
    kill();
    if (process_ != nullptr) {
        CloseHandle(process_);
    }
}

Process Process::Start(const LaunchOptions& options, std::wstring* error) {
    Process p;
    std::wstring commandLine = L"\"" + options.program + L"\"";
    if (!options.arguments.empty()) {
        commandLine += L" " + options.arguments;
    }
    std::vector<wchar_t> cmd(commandLine.begin(), commandLine.end());
    cmd.push_back(L'\0');
    std::vector<wchar_t> env = BuildEnvironment(options.environment);
    STARTUPINFOW si{};
    si.cb = sizeof(si);
    PROCESS_INFORMATION pi{};
    const wchar_t* dir =
        options.workingDirectory.empty() ? nullptr : options.workingDirectory.c_str();
    if (!CreateProcessW(options.program.c_str(), cmd.data(), nullptr, nullptr, FALSE,
                        CREATE_UNICODE_ENVIRONMENT, env.data(), dir, &si, &pi)) {
        if (error != nullptr) {
            *error = LastErrorText(L"CreateProcessW") + L" for " + options.program;
        }
        return p;
    }
    CloseHandle(pi.hThread);
    p.process_ = pi.hProcess;
    p.id_ = pi.dwProcessId;
    return p;
}

bool Process::running() const {
    return process_ != nullptr && WaitForSingleObject(process_, 0) == WAIT_TIMEOUT;
}

std::optional<DWORD> Process::waitForExit(Millis limit) {
    if (process_ == nullptr ||
        WaitForSingleObject(process_, static_cast<DWORD>(limit.count())) != WAIT_OBJECT_0) {
        return std::nullopt;
    }
    DWORD code = 0;
    if (!GetExitCodeProcess(process_, &code)) {
        return std::nullopt;
    }
    return code;
}

std::optional<DWORD> Process::waitForExitOrKill(Millis limit) {
    std::optional<DWORD> code = waitForExit(limit);
    if (!code) {
        kill();
    }
    return code;
}

void Process::kill() {
    if (running()) {
        TerminateProcess(process_, kKilledExitCode);
        WaitForSingleObject(process_, 5000);
    }
}

std::vector<Window> Process::windows(bool visibleOnly) const {
    std::vector<Window> out;
    if (process_ == nullptr) {
        return out;
    }
    EnumState state{id_, visibleOnly, &out};
    EnumWindows(CollectWindow, reinterpret_cast<LPARAM>(&state));
    return out;
}

Window Process::waitForWindow(const std::wstring& title, Millis limit) const {
    Window found;
    WaitUntil(
        [&] {
            for (const Window& w : windows()) {
                if (TitleOf(w.handle()) == title) {
                    found = w;
                    return true;
                }
            }
            return !running();
        },
        AppearLimit(limit));
    return found;
}

std::optional<MessageBoxView> Process::messageBox(const std::vector<Window>& notThese) const {
    for (const Window& w : windows()) {
        if (InList(notThese, w.handle())) {
            continue;
        }
        if (std::optional<MessageBoxView> box = ReadMessageBox(w)) {
            return box;
        }
    }
    return std::nullopt;
}

std::optional<MessageBoxView> Process::waitForMessageBox(const std::vector<Window>& notThese,
                                                         Millis limit) const {
    std::optional<MessageBoxView> box;
    WaitUntil(
        [&] {
            box = messageBox(notThese);
            return box.has_value() || !running();
        },
        AppearLimit(limit));
    return box;
}

std::string Process::describeWindows() const {
    std::string out;
    const std::vector<Window> all = windows();
    if (!running()) {
        out += "(the process has ended)\n";
    }
    if (all.empty()) {
        out += "(no visible top-level windows)\n";
    }
    for (const Window& w : all) {
        const RECT r = w.screenRect();
        out += Utf8(w.className()) + " \"" + Utf8(TitleOf(w.handle())) + "\" at " +
               std::to_string(r.left) + "," + std::to_string(r.top) + " " +
               std::to_string(r.right - r.left) + "x" + std::to_string(r.bottom - r.top);
        if (!w.enabled()) {
            out += " (disabled)";
        }
        if (const std::optional<MessageBoxView> box = ReadMessageBox(w)) {
            out += " message box: \"" + Utf8(box->text) + "\"";
        }
        out += "\n";
    }
    return out;
}

// ---- Screenshots --------------------------------------------------------

bool SaveScreenshot(const std::wstring& path, Window window) {
    const int screenW = GetSystemMetrics(SM_CXSCREEN);
    const int screenH = GetSystemMetrics(SM_CYSCREEN);
    RECT area{0, 0, screenW, screenH};
    if (window.handle() != nullptr) {
        if (!window.exists()) {
            return false;
        }
        const RECT r = window.screenRect();
        area.left = std::max<LONG>(r.left, 0);
        area.top = std::max<LONG>(r.top, 0);
        area.right = std::min<LONG>(r.right, screenW);
        area.bottom = std::min<LONG>(r.bottom, screenH);
    }
    const int w = area.right - area.left;
    const int h = area.bottom - area.top;
    if (w <= 0 || h <= 0) {
        return false;
    }
    HDC screen = GetDC(nullptr);
    if (screen == nullptr) {
        return false;
    }
    HDC mem = CreateCompatibleDC(screen);
    BITMAPINFO bi{};
    bi.bmiHeader.biSize = sizeof(BITMAPINFOHEADER);
    bi.bmiHeader.biWidth = w;
    bi.bmiHeader.biHeight = h;  // bottom-up, as the file stores it
    bi.bmiHeader.biPlanes = 1;
    bi.bmiHeader.biBitCount = 24;
    bi.bmiHeader.biCompression = BI_RGB;
    void* bits = nullptr;
    HBITMAP dib = mem ? CreateDIBSection(screen, &bi, DIB_RGB_COLORS, &bits, nullptr, 0) : nullptr;
    bool ok = false;
    std::vector<std::uint8_t> file;
    if (dib != nullptr && bits != nullptr) {
        HGDIOBJ old = SelectObject(mem, dib);
        ok = BitBlt(mem, 0, 0, w, h, screen, area.left, area.top, SRCCOPY | CAPTUREBLT) != FALSE;
        GdiFlush();
        if (ok) {
            const std::size_t size = BmpRowStride(w) * static_cast<std::size_t>(h);
            file = EncodeBmp24FromDib(
                w, h, std::span<const std::uint8_t>(static_cast<const std::uint8_t*>(bits), size));
        }
        SelectObject(mem, old);
    }
    if (dib != nullptr) {
        DeleteObject(dib);
    }
    if (mem != nullptr) {
        DeleteDC(mem);
    }
    ReleaseDC(nullptr, screen);
    if (!ok || file.empty()) {
        return false;
    }
    HANDLE f = CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                           FILE_ATTRIBUTE_NORMAL, nullptr);
    if (f == INVALID_HANDLE_VALUE) {
        return false;
    }
    DWORD written = 0;
    const bool wrote =
        WriteFile(f, file.data(), static_cast<DWORD>(file.size()), &written, nullptr) != FALSE &&
        written == file.size();
    return CloseHandle(f) != FALSE && wrote;
}

std::wstring ScreenshotDirectory() {
    wchar_t buf[MAX_PATH] = {};
    DWORD n = GetEnvironmentVariableW(L"TALVO_GUI_SHOT_DIR", buf, MAX_PATH);
    if (n == 0 || n >= MAX_PATH) {
        n = GetCurrentDirectoryW(MAX_PATH, buf);
    }
    std::wstring dir(buf, n < MAX_PATH ? n : 0);
    if (!dir.empty() && dir.back() != L'\\' && dir.back() != L'/') {
        dir += L'\\';
    }
    return dir;
}

std::wstring ExecutableDirectory() {
    wchar_t buf[MAX_PATH] = {};
    const DWORD n = GetModuleFileNameW(nullptr, buf, MAX_PATH);
    std::wstring path(buf, n < MAX_PATH ? n : 0);
    const std::size_t slash = path.find_last_of(L"\\/");
    return slash == std::wstring::npos ? std::wstring() : path.substr(0, slash + 1);
}

std::string Utf8(const std::wstring& text) {
    if (text.empty()) {
        return {};
    }
    const int n = WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()),
                                      nullptr, 0, nullptr, nullptr);
    std::string out(static_cast<std::size_t>(std::max(n, 0)), '\0');
    WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), out.data(), n,
                        nullptr, nullptr);
    return out;
}

}  // namespace talvo::gui
