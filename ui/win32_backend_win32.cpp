// The Win32 backend: real windows from the dialog templates compiled into
// the executable, driven by one dialog procedure that hands every message to
// the C++ dialog object.
#include "ui/win32_headers.h"

#include <set>

#include "ui/dialog.h"
#include "ui/ui_backend.h"

namespace talvo {

namespace {

HWND H(WindowRef r) {
    return reinterpret_cast<HWND>(r.value);
}
WindowRef R(HWND h) {
    return WindowRef{reinterpret_cast<std::uintptr_t>(h)};
}
const wchar_t* W(const std::u16string& s) {
    return reinterpret_cast<const wchar_t*>(s.c_str());
}
HINSTANCE Instance() {
    return GetModuleHandleW(nullptr);
}

std::u16string WindowText(HWND h) {
    const int len = GetWindowTextLengthW(h);
    std::u16string s(static_cast<std::size_t>(len > 0 ? len : 0) + 1, u'\0');
    const int got = GetWindowTextW(h, reinterpret_cast<wchar_t*>(s.data()), len + 1);
    s.resize(got > 0 ? static_cast<std::size_t>(got) : 0);
    return s;
}

// Modeless dialogs of the UI thread, for keyboard navigation in the loop.
std::set<HWND>& ModelessDialogs() {
    static std::set<HWND> dialogs;
    return dialogs;
}

// The messages whose answer a dialog procedure gives as its return value
// rather than through DWLP_MSGRESULT (the colour messages and
// WM_INITDIALOG are answered on their own paths below).
bool AnswersByReturnValue(UINT message) {
    switch (message) {
        case WM_QUERYDRAGICON:
        case WM_COMPAREITEM:
        case WM_VKEYTOITEM:
        case WM_CHARTOITEM:
            return true;
        default:
            return false;
    }
}

// An Enter key message for a dialog that wants Enter to do nothing: the
// dialog navigation would click the focused or default push button.
bool IsEnterForDialogThatIgnoresIt(HWND root, const MSG& m) {
    if ((m.message != WM_KEYDOWN && m.message != WM_KEYUP && m.message != WM_CHAR) ||
        (m.message == WM_CHAR ? m.wParam != L'\r' : m.wParam != VK_RETURN)) {
        return false;
    }
    const auto* dialog = reinterpret_cast<const Dialog*>(GetWindowLongPtrW(root, DWLP_USER));
    return dialog != nullptr && DialogAccess::IgnoresEnter(*dialog);
}

INT_PTR CALLBACK DialogProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == WM_INITDIALOG) {
        auto* dialog = reinterpret_cast<Dialog*>(lParam);
        SetWindowLongPtrW(hwnd, DWLP_USER, lParam);
        DialogAccess::Attach(*dialog, R(hwnd));
        return DialogAccess::InitDialog(*dialog) ? TRUE : FALSE;
    }
    auto* dialog = reinterpret_cast<Dialog*>(GetWindowLongPtrW(hwnd, DWLP_USER));
    if (dialog == nullptr) {
        return FALSE;
    }
    if (message >= WM_CTLCOLORMSGBOX && message <= WM_CTLCOLORSTATIC) {
        // The default colours and brush first, then the dialog's text colour.
        auto dc = reinterpret_cast<HDC>(wParam);
        auto control = reinterpret_cast<HWND>(lParam);
        const LRESULT brush = DefWindowProcW(hwnd, message, wParam, lParam);
        if (dc != nullptr && control != nullptr) {
            const auto kind = static_cast<CtlColorKind>(message - WM_CTLCOLORMSGBOX);
            if (auto colour = DialogAccess::CtlColor(*dialog, R(control), kind)) {
                SetTextColor(dc, RGB(colour->r, colour->g, colour->b));
            }
        }
        return static_cast<INT_PTR>(brush);
    }
    std::intptr_t result = 0;
    const bool handled = DialogAccess::Dispatch(*dialog, message, wParam, lParam, result);
    if (message == WM_NCDESTROY) {
        ModelessDialogs().erase(hwnd);
        SetWindowLongPtrW(hwnd, DWLP_USER, 0);
        DialogAccess::Detach(*dialog);
        return FALSE;
    }
    if (!handled) {
        return FALSE;
    }
    if (AnswersByReturnValue(message)) {
        return static_cast<INT_PTR>(result);
    }
    SetWindowLongPtrW(hwnd, DWLP_MSGRESULT, result);
    return TRUE;
}

// The message-box hook of the UI thread: installed just before a box, run
// on the first window activation, removed right there.
struct BoxHookState {
    HHOOK hook = nullptr;
    MessageBoxHook* callback = nullptr;
};
thread_local BoxHookState t_boxHook;

class Win32BoxWindow final : public IMessageBoxWindow {
  public:
    explicit Win32BoxWindow(HWND box) : box_(box) {}
    WindowRef Ref() const override { return R(box_); }
    void SetCaption(const std::u16string& caption) override { SetWindowTextW(box_, W(caption)); }
    bool SetButtonText(int id, const std::u16string& text) override {
        HWND button = GetDlgItem(box_, id);
        return button != nullptr && SetWindowTextW(button, W(text)) != 0;
    }

  private:
    HWND box_;
};

LRESULT CALLBACK BoxHookProc(int code, WPARAM wParam, LPARAM lParam) {
    HHOOK hook = t_boxHook.hook;
    if (code >= 0 && code == HCBT_ACTIVATE && hook != nullptr) {
        t_boxHook.hook = nullptr;
        if (t_boxHook.callback != nullptr && *t_boxHook.callback) {
            Win32BoxWindow box(reinterpret_cast<HWND>(wParam));
            (*t_boxHook.callback)(box);
        }
        UnhookWindowsHookEx(hook);
    }
    return CallNextHookEx(hook, code, wParam, lParam);
}

class Win32Backend final : public IUiBackend {
  public:
    void InitCommonControls() override {
        INITCOMMONCONTROLSEX icc{};
        icc.dwSize = sizeof(icc);  // 8
        icc.dwICC = ICC_WIN95_CLASSES;
        InitCommonControlsEx(&icc);
        static bool richEditLoaded = false;
        if (!richEditLoaded) {
            richEditLoaded = true;
            wchar_t dir[MAX_PATH] = {};
            const UINT n = GetSystemDirectoryW(dir, MAX_PATH);
            if (n > 0 && n < MAX_PATH - 16) {
                std::wstring path(dir, n);
                LoadLibraryW((path + L"\\RICHED32.DLL").c_str());
                // Where that library does not bring the "RichEdit20W" class
                // along, the agreement dialog would open without its text.
                WNDCLASSEXW wc{};
                wc.cbSize = sizeof(wc);
                if (GetClassInfoExW(nullptr, L"RichEdit20W", &wc) == 0) {
                    LoadLibraryW((path + L"\\RICHED20.DLL").c_str());
                }
            }
        }
    }

    WindowRef CreateDialogWindow(Dialog& dialog, WindowRef parent) override {
        HWND h = CreateDialogParamW(Instance(), MAKEINTRESOURCEW(DialogAccess::TemplateId(dialog)),
                                    H(parent), DialogProc, reinterpret_cast<LPARAM>(&dialog));
        if (h != nullptr) {
            ModelessDialogs().insert(h);
        }
        return R(h);
    }

    std::intptr_t RunModalDialog(Dialog& dialog, WindowRef parent) override {
        return DialogBoxParamW(Instance(), MAKEINTRESOURCEW(DialogAccess::TemplateId(dialog)),
                               H(parent), DialogProc, reinterpret_cast<LPARAM>(&dialog));
    }

    void EndDialog(WindowRef dialog, std::intptr_t result) override {
        ::EndDialog(H(dialog), result);
    }
    void DestroyWindow(WindowRef window) override { ::DestroyWindow(H(window)); }
    bool IsWindow(WindowRef window) override { return ::IsWindow(H(window)) != 0; }

    WindowRef GetItem(WindowRef dialog, int id) override { return R(GetDlgItem(H(dialog), id)); }
    int GetId(WindowRef window) override { return GetDlgCtrlID(H(window)); }
    void SetText(WindowRef window, const std::u16string& text) override {
        SetWindowTextW(H(window), W(text));
    }
    std::u16string GetText(WindowRef window) override { return WindowText(H(window)); }
    void Enable(WindowRef window, bool enable) override { EnableWindow(H(window), enable); }
    bool IsEnabled(WindowRef window) override { return IsWindowEnabled(H(window)) != 0; }
    void Show(WindowRef window, bool show) override {
        ShowWindow(H(window), show ? SW_SHOW : SW_HIDE);
    }
    bool IsVisible(WindowRef window) override { return IsWindowVisible(H(window)) != 0; }

    void PaintNow(WindowRef window) override { ::UpdateWindow(H(window)); }
    void CenterWindow(WindowRef window, WindowRef over) override {
        HWND h = H(window);
        HWND ref = over ? H(over) : GetWindow(h, GW_OWNER);
        RECT work{};
        SystemParametersInfoW(SPI_GETWORKAREA, 0, &work, 0);
        RECT area = work;
        if (ref != nullptr && IsWindowVisible(ref) && !IsIconic(ref)) {
            ::GetWindowRect(ref, &area);
        }
        RECT rc{};
        ::GetWindowRect(h, &rc);
        const int w = rc.right - rc.left;
        const int hgt = rc.bottom - rc.top;
        int x = (area.left + area.right - w) / 2;
        int y = (area.top + area.bottom - hgt) / 2;
        x = std::max<int>(work.left, std::min<int>(x, work.right - w));
        y = std::max<int>(work.top, std::min<int>(y, work.bottom - hgt));
        SetWindowPos(h, nullptr, x, y, 0, 0, SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
    }

    Rect GetWindowRect(WindowRef window) override {
        RECT rc{};
        ::GetWindowRect(H(window), &rc);
        return Rect{rc.left, rc.top, rc.right, rc.bottom};
    }
    Rect GetRectInParent(WindowRef window) override {
        RECT rc{};
        ::GetWindowRect(H(window), &rc);
        MapWindowPoints(HWND_DESKTOP, GetParent(H(window)), reinterpret_cast<POINT*>(&rc), 2);
        return Rect{rc.left, rc.top, rc.right, rc.bottom};
    }
    void MoveWindow(WindowRef window, const Rect& r) override {
        ::MoveWindow(H(window), r.left, r.top, r.Width(), r.Height(), TRUE);
    }
    void SetPosition(WindowRef window, int x, int y) override {
        SetWindowPos(H(window), nullptr, x, y, 0, 0, SWP_NOSIZE | SWP_NOZORDER);
    }
    WindowRef CreateControlLike(WindowRef dialog, WindowRef model, int id, const Rect& r,
                                const std::u16string& text) override {
        wchar_t cls[64] = {};
        if (GetClassNameW(H(model), cls, 64) == 0) {
            return {};
        }
        const auto style = static_cast<DWORD>(GetWindowLongW(H(model), GWL_STYLE));
        return R(CreateWindowExW(0, cls, W(text), style, r.left, r.top, r.Width(), r.Height(),
                                 H(dialog), reinterpret_cast<HMENU>(static_cast<INT_PTR>(id)),
                                 Instance(), nullptr));
    }
    void SetWindowIcons(WindowRef window, int iconId) override {
        HANDLE big = LoadImageW(Instance(), MAKEINTRESOURCEW(iconId), IMAGE_ICON, 48, 48,
                                LR_DEFAULTCOLOR | LR_SHARED);
        HANDLE small = LoadImageW(Instance(), MAKEINTRESOURCEW(iconId), IMAGE_ICON, 16, 16,
                                  LR_DEFAULTCOLOR | LR_SHARED);
        SendMessageW(H(window), WM_SETICON, ICON_BIG, reinterpret_cast<LPARAM>(big));
        SendMessageW(H(window), WM_SETICON, ICON_SMALL, reinterpret_cast<LPARAM>(small));
    }
    std::intptr_t IconValue(int iconId) override {
        return reinterpret_cast<std::intptr_t>(LoadIconW(Instance(), MAKEINTRESOURCEW(iconId)));
    }
    bool PaintMinimizedIcon(WindowRef window, int iconId) override {
        HWND h = H(window);
        if (!IsIconic(h)) {
            return false;
        }
        PAINTSTRUCT ps{};
        HDC dc = BeginPaint(h, &ps);
        SendMessageW(h, WM_ICONERASEBKGND, reinterpret_cast<WPARAM>(dc), 0);
        RECT rc{};
        GetClientRect(h, &rc);
        const int x = (rc.right - rc.left - GetSystemMetrics(SM_CXICON) + 1) / 2;
        const int y = (rc.bottom - rc.top - GetSystemMetrics(SM_CYICON) + 1) / 2;
        DrawIcon(dc, x, y, LoadIconW(Instance(), MAKEINTRESOURCEW(iconId)));
        EndPaint(h, &ps);
        return true;
    }

    WindowRef GetFocus() override { return R(::GetFocus()); }
    void NextDlgCtl(WindowRef dialog, WindowRef control) override {
        SendMessageW(H(dialog), WM_NEXTDLGCTL, reinterpret_cast<WPARAM>(H(control)), TRUE);
    }
    void SetDefId(WindowRef dialog, int id) override {
        SendMessageW(H(dialog), DM_SETDEFID, static_cast<WPARAM>(id), 0);
    }
    int GetDefId(WindowRef dialog) override {
        const LRESULT r = SendMessageW(H(dialog), DM_GETDEFID, 0, 0);
        return HIWORD(r) == DC_HASDEFID ? LOWORD(r) : 0;
    }

    void SetCheck(WindowRef button, bool checked) override {
        SendMessageW(H(button), BM_SETCHECK, checked ? BST_CHECKED : BST_UNCHECKED, 0);
    }
    bool GetCheck(WindowRef button) override {
        return SendMessageW(H(button), BM_GETCHECK, 0, 0) == BST_CHECKED;
    }
    void SetProgressRange(WindowRef bar, int low, int high) override {
        SendMessageW(H(bar), PBM_SETRANGE, 0, MAKELPARAM(low, high));
    }
    void SetProgressPos(WindowRef bar, int pos) override {
        SendMessageW(H(bar), PBM_SETPOS, static_cast<WPARAM>(pos), 0);
    }
    int GetProgressPos(WindowRef bar) override {
        return static_cast<int>(SendMessageW(H(bar), PBM_GETPOS, 0, 0));
    }
    void SetSelection(WindowRef edit, int start, int end) override {
        SendMessageW(H(edit), EM_SETSEL, static_cast<WPARAM>(start), static_cast<LPARAM>(end));
    }
    void SetRichText(WindowRef edit, const std::u16string& text) override {
        SETTEXTEX st{};
        st.flags = ST_DEFAULT;
        st.codepage = 1200;  // UTF-16
        SendMessageW(H(edit), EM_SETTEXTEX, reinterpret_cast<WPARAM>(&st),
                     reinterpret_cast<LPARAM>(text.c_str()));
    }
    std::optional<CharFormat> GetDefaultCharFormat(WindowRef edit) override {
        CHARFORMATW cf{};
        cf.cbSize = sizeof(cf);
        SendMessageW(H(edit), EM_GETCHARFORMAT, SCF_DEFAULT, reinterpret_cast<LPARAM>(&cf));
        CharFormat f;
        f.heightTwips = cf.yHeight;
        f.faceName = reinterpret_cast<const char16_t*>(cf.szFaceName);
        return f;
    }
    void SetDefaultCharFormat(WindowRef edit, const CharFormat& format) override {
        CHARFORMATW cf{};
        cf.cbSize = sizeof(cf);
        SendMessageW(H(edit), EM_GETCHARFORMAT, SCF_DEFAULT, reinterpret_cast<LPARAM>(&cf));
        cf.dwMask |= CFM_SIZE | CFM_FACE;
        cf.yHeight = format.heightTwips;
        const std::size_t n = std::min<std::size_t>(format.faceName.size(), LF_FACESIZE - 1);
        for (std::size_t i = 0; i < n; ++i) {
            cf.szFaceName[i] = static_cast<wchar_t>(format.faceName[i]);
        }
        cf.szFaceName[n] = L'\0';
        SendMessageW(H(edit), EM_SETCHARFORMAT, SCF_DEFAULT, reinterpret_cast<LPARAM>(&cf));
    }
    void SetIcon(WindowRef staticIcon, int iconId) override {
        // A shared image: the system keeps one copy however often it is shown.
        HANDLE icon = LoadImageW(Instance(), MAKEINTRESOURCEW(iconId), IMAGE_ICON, 48, 48,
                                 LR_DEFAULTCOLOR | LR_SHARED);
        if (icon != nullptr) {
            SendMessageW(H(staticIcon), STM_SETICON, reinterpret_cast<WPARAM>(icon), 0);
        }
    }

    FontHandle CreateFont(const FontSpec& s) override {
        LOGFONTW lf{};
        lf.lfHeight = s.height;
        lf.lfWidth = s.width;
        lf.lfEscapement = s.escapement;
        lf.lfOrientation = s.orientation;
        lf.lfWeight = s.weight;
        lf.lfItalic = s.italic;
        lf.lfUnderline = s.underline;
        lf.lfStrikeOut = s.strikeOut;
        lf.lfCharSet = s.charSet;
        lf.lfOutPrecision = s.outPrecision;
        lf.lfClipPrecision = s.clipPrecision;
        lf.lfQuality = s.quality;
        lf.lfPitchAndFamily = s.pitchAndFamily;
        const std::size_t n = std::min<std::size_t>(s.faceName.size(), LF_FACESIZE - 1);
        for (std::size_t i = 0; i < n; ++i) {
            lf.lfFaceName[i] = static_cast<wchar_t>(s.faceName[i]);
        }
        return FontHandle{reinterpret_cast<std::uintptr_t>(CreateFontIndirectW(&lf))};
    }
    void DeleteFont(FontHandle font) override {
        DeleteObject(reinterpret_cast<HGDIOBJ>(font.value));
    }
    std::optional<FontSpec> GetFontSpec(FontHandle font) override {
        LOGFONTW lf{};
        if (GetObjectW(reinterpret_cast<HGDIOBJ>(font.value), sizeof(lf), &lf) == 0) {
            return std::nullopt;
        }
        FontSpec s;
        s.height = lf.lfHeight;
        s.width = lf.lfWidth;
        s.escapement = lf.lfEscapement;
        s.orientation = lf.lfOrientation;
        s.weight = lf.lfWeight;
        s.italic = lf.lfItalic;
        s.underline = lf.lfUnderline;
        s.strikeOut = lf.lfStrikeOut;
        s.charSet = lf.lfCharSet;
        s.outPrecision = lf.lfOutPrecision;
        s.clipPrecision = lf.lfClipPrecision;
        s.quality = lf.lfQuality;
        s.pitchAndFamily = lf.lfPitchAndFamily;
        s.faceName = reinterpret_cast<const char16_t*>(lf.lfFaceName);
        return s;
    }
    FontHandle GetWindowFont(WindowRef window) override {
        return FontHandle{static_cast<std::uintptr_t>(SendMessageW(H(window), WM_GETFONT, 0, 0))};
    }
    void SetWindowFont(WindowRef window, FontHandle font, bool redraw) override {
        SendMessageW(H(window), WM_SETFONT, static_cast<WPARAM>(font.value), redraw ? TRUE : FALSE);
    }

    bool AppendSystemMenuSeparator(WindowRef dialog) override {
        HMENU menu = GetSystemMenu(H(dialog), FALSE);
        return menu != nullptr && AppendMenuW(menu, MF_SEPARATOR, 0, nullptr) != 0;
    }
    bool AppendSystemMenuItem(WindowRef dialog, std::uint32_t command,
                              const std::u16string& text) override {
        HMENU menu = GetSystemMenu(H(dialog), FALSE);
        return menu != nullptr && AppendMenuW(menu, MF_STRING, command, W(text)) != 0;
    }

    bool Post(WindowRef window, std::uint32_t message, std::uintptr_t wParam,
              std::intptr_t lParam) override {
        return PostMessageW(H(window), message, wParam, lParam) != 0;
    }
    std::intptr_t Send(WindowRef window, std::uint32_t message, std::uintptr_t wParam,
                       std::intptr_t lParam) override {
        return SendMessageW(H(window), message, wParam, lParam);
    }
    bool SetTimer(WindowRef window, std::uintptr_t id, std::uint32_t milliseconds) override {
        return ::SetTimer(H(window), id, milliseconds, nullptr) != 0;
    }
    void KillTimer(WindowRef window, std::uintptr_t id) override { ::KillTimer(H(window), id); }
    void PostQuit(int code) override { ::PostQuitMessage(code); }

    int RunMessageLoop() override {
        MSG m{};
        for (;;) {
            const BOOL got = GetMessageW(&m, nullptr, 0, 0);
            if (got == 0 || got == -1) {
                break;
            }
            HWND root = m.hwnd != nullptr ? GetAncestor(m.hwnd, GA_ROOT) : nullptr;
            if (root != nullptr && ModelessDialogs().count(root) != 0) {
                if (IsEnterForDialogThatIgnoresIt(root, m)) {
                    continue;
                }
                if (IsDialogMessageW(root, &m)) {
                    continue;
                }
            }
            TranslateMessage(&m);
            DispatchMessageW(&m);
        }
        return static_cast<int>(m.wParam);
    }

    int MessageBox(WindowRef owner, const std::u16string& text, const std::u16string& caption,
                   std::uint32_t type, MessageBoxHook hook) override {
        if (hook) {
            t_boxHook.callback = &hook;
            t_boxHook.hook = SetWindowsHookExW(WH_CBT, BoxHookProc, nullptr, GetCurrentThreadId());
        }
        const int answer = MessageBoxW(H(owner), W(text), W(caption), type);
        // A hook that never saw its box activate must not linger for the next
        // window of the thread.
        if (t_boxHook.hook != nullptr) {
            UnhookWindowsHookEx(t_boxHook.hook);
            t_boxHook.hook = nullptr;
        }
        t_boxHook.callback = nullptr;
        return answer;
    }

    void BeginWaitCursor() override {
        if (waitDepth_++ == 0) {
            savedCursor_ = SetCursor(LoadCursorW(nullptr, IDC_WAIT));
        }
    }
    void EndWaitCursor() override {
        if (waitDepth_ > 0 && --waitDepth_ == 0) {
            SetCursor(savedCursor_ != nullptr ? savedCursor_ : LoadCursorW(nullptr, IDC_ARROW));
        }
    }

    void ForceForeground(WindowRef window) override {
        HWND h = H(window);
        const DWORD foregroundThread = GetWindowThreadProcessId(GetForegroundWindow(), nullptr);
        const DWORD ownThread = GetWindowThreadProcessId(h, nullptr);
        AttachThreadInput(ownThread, foregroundThread, TRUE);
        DWORD timeout = 0;
        SystemParametersInfoW(SPI_GETFOREGROUNDLOCKTIMEOUT, 0, &timeout, 0);
        SystemParametersInfoW(SPI_SETFOREGROUNDLOCKTIMEOUT, 0, nullptr, 0);
        SetForegroundWindow(h);
        SystemParametersInfoW(SPI_SETFOREGROUNDLOCKTIMEOUT, 0,
                              reinterpret_cast<PVOID>(static_cast<std::uintptr_t>(timeout)), 0);
        AttachThreadInput(ownThread, foregroundThread, FALSE);
    }

  private:
    int waitDepth_ = 0;
    HCURSOR savedCursor_ = nullptr;
};

}  // namespace

IUiBackend& DefaultUiBackend() {
    static Win32Backend backend;
    return backend;
}

}  // namespace talvo
