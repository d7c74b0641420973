// The dialog layer: dialogs made from templates, their controls, fonts,
// message maps and message boxes, over the backend of ui_backend.h.
//
// A dialog class derives from Dialog, overrides OnInitDialog / OnOK /
// OnCancel / OnCtlColor as it needs, and lists its message and command
// handlers in a message map:
//
//     const MessageMap* CMyDlg::GetMessageMap() const {
//         static const MessageMapEntry entries[] = {
//             OnCommand<CMyDlg, &CMyDlg::OnAcceptClicked>(1002),
//             OnMessage<CMyDlg, &CMyDlg::OnSetProgress>(msg::kApp + 2),
//         };
//         static const MessageMap map{Dialog::GetMessageMap(), entries};
//         return &map;
//     }
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <span>
#include <string>

#include "base/message_target.h"
#include "ui/ui_backend.h"
#include "ui/ui_types.h"

namespace talvo {

// One window of a dialog (usually a control), by reference. Operations on a
// reference to no window do nothing and read as empty/false/0.
class Control {
  public:
    Control() = default;
    explicit Control(WindowRef ref) : ref_(ref) {}

    WindowRef Ref() const { return ref_; }
    explicit operator bool() const { return static_cast<bool>(ref_); }
    friend bool operator==(const Control& a, const Control& b) { return a.ref_ == b.ref_; }

    int Id() const;
    void SetText(const std::u16string& text) const;
    std::u16string GetText() const;
    void Enable(bool enable = true) const;
    bool IsEnabled() const;
    void Show(bool show = true) const;
    bool IsVisible() const;
    void SetCheck(bool checked) const;
    bool GetCheck() const;
    FontHandle GetFont() const;
    void SetFont(FontHandle font, bool redraw = true) const;
    bool Post(std::uint32_t message, std::uintptr_t wParam, std::intptr_t lParam) const;

    // Progress bar.
    void SetRange(int low, int high) const;
    void SetPos(int pos) const;
    int GetPos() const;

    // Rich edit: selection, whole text (UTF-16), default character format.
    void SetSelection(int start, int end) const;
    void SetRichText(const std::u16string& text) const;
    std::optional<CharFormat> GetDefaultCharFormat() const;
    void SetDefaultCharFormat(const CharFormat& format) const;

    // Static icon.
    void SetIcon(int iconId) const;

    // Geometry (in the client area of its dialog).
    Rect RectInParent() const;
    void Move(const Rect& rect) const;
    void Destroy() const;

  private:
    WindowRef ref_;
};

// An owned font object: created from a FontSpec, deleted by Delete or the
// destructor.
class Font {
  public:
    Font() = default;
    ~Font() { Delete(); }
    Font(const Font&) = delete;
    Font& operator=(const Font&) = delete;

    bool Create(const FontSpec& spec);
    void Delete();
    FontHandle Handle() const { return handle_; }
    explicit operator bool() const { return static_cast<bool>(handle_); }

    // The description of any font object (e.g. a control's current font).
    static std::optional<FontSpec> SpecOf(FontHandle font);

  private:
    FontHandle handle_;
};

// Message maps.
using MessageThunk = std::intptr_t (*)(Dialog& dialog, std::uintptr_t wParam, std::intptr_t lParam);

struct MessageMapEntry {
    std::uint32_t message = 0;  // msg::kCommand for command entries
    int commandId = 0;          // command entries only
    MessageThunk thunk = nullptr;
};

struct MessageMap {
    const MessageMap* base = nullptr;
    std::span<const MessageMapEntry> entries;
};

template <class D, std::intptr_t (D::*F)(std::uintptr_t, std::intptr_t)>
constexpr MessageMapEntry OnMessage(std::uint32_t message) {
    return {message, 0, [](Dialog& d, std::uintptr_t w, std::intptr_t l) -> std::intptr_t {
                return (static_cast<D&>(d).*F)(w, l);
            }};
}

template <class D, void (D::*F)()>
constexpr MessageMapEntry OnCommand(int commandId) {
    return {msg::kCommand, commandId,
            [](Dialog& d, std::uintptr_t, std::intptr_t) -> std::intptr_t {
                (static_cast<D&>(d).*F)();
                return 0;
            }};
}

// The base of every dialog: one object per template, whose window can be
// created (modeless or modal) and destroyed again.
class Dialog {
  public:
    explicit Dialog(int templateId, Dialog* parent = nullptr);
    virtual ~Dialog();
    Dialog(const Dialog&) = delete;
    Dialog& operator=(const Dialog&) = delete;

    // Modeless window; true when it exists afterwards.
    bool Create(Dialog* parent = nullptr);
    // Modal run; the EndDialog result, -1 when the window was not created.
    std::intptr_t DoModal();
    void EndDialog(std::intptr_t result);
    void DestroyWindow();

    bool HasWindow() const { return static_cast<bool>(window_); }
    WindowRef Window() const { return window_; }
    int TemplateId() const { return templateId_; }

    Control Item(int id) const;
    void SetCaption(const std::u16string& caption) const;
    std::u16string Caption() const;
    void EnableWindow(bool enable) const;
    void ShowWindow(bool show) const;
    void CenterWindow(const Dialog* over = nullptr) const;
    // Paints the window now (UpdateWindow).
    void UpdateWindow() const;
    // Draws icon `iconId` in the window when it is minimised; false when it
    // is not (then the default painting applies).
    bool PaintMinimizedIcon(int iconId) const;
    // Brings the window to the foreground, also from behind other programs.
    void ForceForeground() const;
    // The icon resource `iconId` as a message answer (WM_QUERYDRAGICON).
    static std::intptr_t IconValue(int iconId);
    // Posts to any window of the UI thread (from any thread); false when
    // it is gone.
    static bool PostTo(WindowRef window, std::uint32_t message, std::uintptr_t wParam,
                       std::intptr_t lParam);
    Rect WindowRect() const;  // on the screen
    void SetPosition(int x, int y) const;
    void SetIcons(int iconId) const;
    // A new control like `model` (class and style), empty until given text.
    Control CreateControlLike(Control model, int id, const Rect& rect,
                              const std::u16string& text = {}) const;

    // Focus and default button, the dialog manager's way: NextDlgCtl is
    // WM_NEXTDLGCTL with a control, SetDefId DM_SETDEFID.
    Control Focused() const;
    void NextDlgCtl(Control control) const;
    void SetDefId(int id) const;
    int GetDefId() const;

    bool AppendSystemMenuSeparator() const;
    bool AppendSystemMenuItem(std::uint32_t command, const std::u16string& text) const;

    bool PostMessage(std::uint32_t message, std::uintptr_t wParam, std::intptr_t lParam) const;
    std::intptr_t SendMessage(std::uint32_t message, std::uintptr_t wParam,
                              std::intptr_t lParam) const;
    bool SetTimer(std::uintptr_t id, std::uint32_t milliseconds) const;
    void KillTimer(std::uintptr_t id) const;

    // A target for worker threads, bound to the window as it is now; posting
    // to it fails once that window is gone.
    std::unique_ptr<IMessageTarget> CreateMessageTarget() const;

  protected:
    virtual const MessageMap* GetMessageMap() const;
    virtual bool OnInitDialog() { return true; }
    virtual void OnOK() { EndDialog(kIdOk); }
    virtual void OnCancel() { EndDialog(kIdCancel); }
    // Text colour for a control asking for its colours; none keeps the
    // system colours.
    virtual std::optional<Rgb> OnCtlColor(Control control, CtlColorKind kind);
    // Called from a handler: after it returns, the message also gets the
    // window system's default handling (as if the map had no entry).
    void UseDefault() { useDefault_ = true; }
    // Enter does nothing on this dialog, whatever control has the focus: a
    // focused or default push button is not clicked by it.
    void IgnoreEnterKey() { ignoresEnter_ = true; }

  private:
    friend struct DialogAccess;
    bool Dispatch(std::uint32_t message, std::uintptr_t wParam, std::intptr_t lParam,
                  std::intptr_t& result);

    int templateId_;
    Dialog* parent_;
    WindowRef window_;
    bool useDefault_ = false;
    bool ignoresEnter_ = false;
};

// A message box owned by `owner` (or none). `hook` runs once as the box
// activates (it may retitle the box and relabel its buttons). Returns the
// ID of the button that ended the box.
int ShowMessageBox(const Dialog* owner, const std::u16string& text, const std::u16string& caption,
                   std::uint32_t type, MessageBoxHook hook = {});

// Window-system start-up: common controls and the rich-edit library.
void InitWindowSystem();
// Runs the UI thread's outer loop until the quit message; returns its code.
int RunMessageLoop();
// The quit message for the UI thread's loop.
void PostQuitMessage(int code);

// The wait cursor, shown while the object lives.
class WaitCursor {
  public:
    WaitCursor() { UiPlatform::Backend().BeginWaitCursor(); }
    ~WaitCursor() { Restore(); }
    WaitCursor(const WaitCursor&) = delete;
    WaitCursor& operator=(const WaitCursor&) = delete;
    void Restore() {
        if (on_) {
            on_ = false;
            UiPlatform::Backend().EndWaitCursor();
        }
    }

  private:
    bool on_ = true;
};

}  // namespace talvo
