// The seam between the dialog layer and a window system. A backend owns the
// windows of one UI thread: it creates dialogs from their templates, runs
// the message loops (the outer one and the nested modal ones), and carries
// out the window operations the dialogs ask for. Dialog code never sees a
// backend type; it goes through Dialog, Control, Font and ShowMessageBox.
//
// Every operation except Post runs on the UI thread. Post may be called from
// any thread and never blocks.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "ui/ui_types.h"

namespace talvo {

class Dialog;

// What a message-box hook may do to the box while it activates.
class IMessageBoxWindow {
  public:
    virtual ~IMessageBoxWindow() = default;
    virtual WindowRef Ref() const = 0;
    virtual void SetCaption(const std::u16string& caption) = 0;
    // Sets the text of button `id` (1 OK, 2 Cancel); false when the box has none.
    virtual bool SetButtonText(int id, const std::u16string& text) = 0;
};

// Called once, when the box becomes active and before the user can answer.
using MessageBoxHook = std::function<void(IMessageBoxWindow& box)>;

class IUiBackend {
  public:
    virtual ~IUiBackend() = default;

    // Window-system start-up: common controls and the rich-edit library.
    virtual void InitCommonControls() = 0;

    // Dialog windows. CreateDialogWindow makes a modeless window and returns
    // after the dialog's OnInitDialog; RunModalDialog returns the EndDialog
    // result once the window is gone (-1 when it could not be created).
    virtual WindowRef CreateDialogWindow(Dialog& dialog, WindowRef parent) = 0;
    virtual std::intptr_t RunModalDialog(Dialog& dialog, WindowRef parent) = 0;
    virtual void EndDialog(WindowRef dialog, std::intptr_t result) = 0;
    virtual void DestroyWindow(WindowRef window) = 0;
    virtual bool IsWindow(WindowRef window) = 0;

    // Window operations.
    virtual WindowRef GetItem(WindowRef dialog, int id) = 0;
    virtual int GetId(WindowRef window) = 0;
    virtual void SetText(WindowRef window, const std::u16string& text) = 0;
    virtual std::u16string GetText(WindowRef window) = 0;
    virtual void Enable(WindowRef window, bool enable) = 0;
    virtual bool IsEnabled(WindowRef window) = 0;
    virtual void Show(WindowRef window, bool show) = 0;
    virtual bool IsVisible(WindowRef window) = 0;
    virtual void CenterWindow(WindowRef window, WindowRef over) = 0;
    // Paints the window's invalid parts now rather than when the loop gets
    // to them. A backend that draws nothing does nothing.
    virtual void PaintNow(WindowRef) {}

    // Geometry: a window's rectangle on the screen, or in the client area
    // of its parent (its dialog); moving it (in the same coordinates as the
    // latter for child windows, screen ones for dialogs).
    virtual Rect GetWindowRect(WindowRef window) = 0;
    virtual Rect GetRectInParent(WindowRef window) = 0;
    virtual void MoveWindow(WindowRef window, const Rect& rect) = 0;
    // Moves without changing size or Z order.
    virtual void SetPosition(WindowRef window, int x, int y) = 0;

    // A new child control of `dialog` of the same class and style as
    // `model`, with ID, place (in the dialog's client area) and text.
    virtual WindowRef CreateControlLike(WindowRef dialog, WindowRef model, int id, const Rect& rect,
                                        const std::u16string& text) = 0;

    // The big (48 x 48) and small (16 x 16) window icons from icon resource
    // `iconId`; the icon as a value for WM_QUERYDRAGICON; painting it in
    // the middle of a minimised window (false when the window is not
    // minimised and wants its normal painting).
    virtual void SetWindowIcons(WindowRef window, int iconId) = 0;
    virtual std::intptr_t IconValue(int iconId) = 0;
    virtual bool PaintMinimizedIcon(WindowRef window, int iconId) = 0;

    // Focus and default button (WM_NEXTDLGCTL with a window, DM_SETDEFID).
    virtual WindowRef GetFocus() = 0;
    virtual void NextDlgCtl(WindowRef dialog, WindowRef control) = 0;
    virtual void SetDefId(WindowRef dialog, int id) = 0;
    virtual int GetDefId(WindowRef dialog) = 0;

    // Buttons, progress bars, rich edits, static icons.
    virtual void SetCheck(WindowRef button, bool checked) = 0;
    virtual bool GetCheck(WindowRef button) = 0;
    virtual void SetProgressRange(WindowRef bar, int low, int high) = 0;
    virtual void SetProgressPos(WindowRef bar, int pos) = 0;
    virtual int GetProgressPos(WindowRef bar) = 0;
    virtual void SetSelection(WindowRef edit, int start, int end) = 0;
    virtual void SetRichText(WindowRef edit, const std::u16string& text) = 0;
    virtual std::optional<CharFormat> GetDefaultCharFormat(WindowRef edit) = 0;
    virtual void SetDefaultCharFormat(WindowRef edit, const CharFormat& format) = 0;
    virtual void SetIcon(WindowRef staticIcon, int iconId) = 0;

    // Fonts.
    virtual FontHandle CreateFont(const FontSpec& spec) = 0;
    virtual void DeleteFont(FontHandle font) = 0;
    virtual std::optional<FontSpec> GetFontSpec(FontHandle font) = 0;
    virtual FontHandle GetWindowFont(WindowRef window) = 0;
    virtual void SetWindowFont(WindowRef window, FontHandle font, bool redraw) = 0;

    // System menu of a dialog; false when the window has none.
    virtual bool AppendSystemMenuSeparator(WindowRef dialog) = 0;
    virtual bool AppendSystemMenuItem(WindowRef dialog, std::uint32_t command,
                                      const std::u16string& text) = 0;

    // Messages, timers and the loop.
    virtual bool Post(WindowRef window, std::uint32_t message, std::uintptr_t wParam,
                      std::intptr_t lParam) = 0;
    virtual std::intptr_t Send(WindowRef window, std::uint32_t message, std::uintptr_t wParam,
                               std::intptr_t lParam) = 0;
    virtual bool SetTimer(WindowRef window, std::uintptr_t id, std::uint32_t milliseconds) = 0;
    virtual void KillTimer(WindowRef window, std::uintptr_t id) = 0;
    virtual void PostQuit(int code) = 0;
    // Runs the outer loop until the quit message; returns its code.
    virtual int RunMessageLoop() = 0;

    // A message box owned by `owner` (may be none); returns the button ID.
    virtual int MessageBox(WindowRef owner, const std::u16string& text,
                           const std::u16string& caption, std::uint32_t type,
                           MessageBoxHook hook) = 0;

    // Wait cursor on and off.
    virtual void BeginWaitCursor() = 0;
    virtual void EndWaitCursor() = 0;

    // Brings the window to the front even while another program is active.
    virtual void ForceForeground(WindowRef window) = 0;
};

// The backend the dialogs use. UiPlatform selects it: the Win32 backend in
// the Windows build, one that creates no window elsewhere, or whatever a
// front end or a test installs.
namespace UiPlatform {
IUiBackend& Backend();
void SetBackend(IUiBackend* backend);  // null restores the default
}  // namespace UiPlatform

class ScopedUiBackend {
  public:
    explicit ScopedUiBackend(IUiBackend& backend) { UiPlatform::SetBackend(&backend); }
    ~ScopedUiBackend() { UiPlatform::SetBackend(nullptr); }
    ScopedUiBackend(const ScopedUiBackend&) = delete;
    ScopedUiBackend& operator=(const ScopedUiBackend&) = delete;
};

// The backends call into a dialog only through this door.
struct DialogAccess {
    static void Attach(Dialog& dialog, WindowRef window);
    static void Detach(Dialog& dialog);
    static int TemplateId(const Dialog& dialog);
    static bool InitDialog(Dialog& dialog);
    // Dispatches one message to the dialog's map and default handlers;
    // false when nothing handled it.
    static bool Dispatch(Dialog& dialog, std::uint32_t message, std::uintptr_t wParam,
                         std::intptr_t lParam, std::intptr_t& result);
    static std::optional<Rgb> CtlColor(Dialog& dialog, WindowRef control, CtlColorKind kind);
    // The dialog wants the Enter key dropped before the window system's
    // dialog navigation sees it.
    static bool IgnoresEnter(const Dialog& dialog);
};

}  // namespace talvo
