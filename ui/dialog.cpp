#include "ui/dialog.h"

namespace talvo {

namespace {

IUiBackend& B() {
    return UiPlatform::Backend();
}

class WindowMessageTarget final : public IMessageTarget {
  public:
    WindowMessageTarget(IUiBackend& backend, WindowRef window)
        : backend_(backend), window_(window) {}
    bool Post(std::uint32_t message, std::uintptr_t wParam, std::intptr_t lParam) override {
        return window_ && backend_.Post(window_, message, wParam, lParam);
    }

  private:
    IUiBackend& backend_;
    WindowRef window_;
};

const MessageMapEntry* FindEntry(const MessageMap* map, std::uint32_t message, int commandId) {
    for (; map != nullptr; map = map->base) {
        for (const MessageMapEntry& e : map->entries) {
            if (e.message == message && (message != msg::kCommand || e.commandId == commandId)) {
                return &e;
            }
        }
    }
    return nullptr;
}

}  // namespace

// ---- Control -------------------------------------------------------------

int Control::Id() const {
    return ref_ ? B().GetId(ref_) : 0;
}
void Control::SetText(const std::u16string& text) const {
    if (ref_) {
        B().SetText(ref_, text);
    }
}
std::u16string Control::GetText() const {
    return ref_ ? B().GetText(ref_) : std::u16string();
}
void Control::Enable(bool enable) const {
    if (ref_) {
        B().Enable(ref_, enable);
    }
}
bool Control::IsEnabled() const {
    return ref_ && B().IsEnabled(ref_);
}
void Control::Show(bool show) const {
    if (ref_) {
        B().Show(ref_, show);
    }
}
bool Control::IsVisible() const {
    return ref_ && B().IsVisible(ref_);
}
void Control::SetCheck(bool checked) const {
    if (ref_) {
        B().SetCheck(ref_, checked);
    }
}
bool Control::GetCheck() const {
    return ref_ && B().GetCheck(ref_);
}
FontHandle Control::GetFont() const {
    return ref_ ? B().GetWindowFont(ref_) : FontHandle{};
}
void Control::SetFont(FontHandle font, bool redraw) const {
    if (ref_) {
        B().SetWindowFont(ref_, font, redraw);
    }
}
bool Control::Post(std::uint32_t message, std::uintptr_t wParam, std::intptr_t lParam) const {
    return ref_ && B().Post(ref_, message, wParam, lParam);
}
void Control::SetRange(int low, int high) const {
    if (ref_) {
        B().SetProgressRange(ref_, low, high);
    }
}
void Control::SetPos(int pos) const {
    if (ref_) {
        B().SetProgressPos(ref_, pos);
    }
}
int Control::GetPos() const {
    return ref_ ? B().GetProgressPos(ref_) : 0;
}
void Control::SetSelection(int start, int end) const {
    if (ref_) {
        B().SetSelection(ref_, start, end);
    }
}
void Control::SetRichText(const std::u16string& text) const {
    if (ref_) {
        B().SetRichText(ref_, text);
    }
}
std::optional<CharFormat> Control::GetDefaultCharFormat() const {
    if (!ref_) {
        return std::nullopt;
    }
    return B().GetDefaultCharFormat(ref_);
}
void Control::SetDefaultCharFormat(const CharFormat& format) const {
    if (ref_) {
        B().SetDefaultCharFormat(ref_, format);
    }
}
void Control::SetIcon(int iconId) const {
    if (ref_) {
        B().SetIcon(ref_, iconId);
    }
}

Rect Control::RectInParent() const {
    return ref_ ? B().GetRectInParent(ref_) : Rect{};
}
void Control::Move(const Rect& rect) const {
    if (ref_) {
        B().MoveWindow(ref_, rect);
    }
}
void Control::Destroy() const {
    if (ref_) {
        B().DestroyWindow(ref_);
    }
}

// ---- Font ----------------------------------------------------------------

bool Font::Create(const FontSpec& spec) {
    Delete();
    handle_ = B().CreateFont(spec);
    return static_cast<bool>(handle_);
}

void Font::Delete() {
    if (handle_) {
        B().DeleteFont(handle_);
        handle_ = {};
    }
}

std::optional<FontSpec> Font::SpecOf(FontHandle font) {
    if (!font) {
        return std::nullopt;
    }
    return B().GetFontSpec(font);
}

// ---- Dialog --------------------------------------------------------------

Dialog::Dialog(int templateId, Dialog* parent) : templateId_(templateId), parent_(parent) {}

Dialog::~Dialog() {
    // A window must never outlive the object its messages are dispatched to.
    if (window_) {
        B().DestroyWindow(window_);
        window_ = {};
    }
}

bool Dialog::Create(Dialog* parent) {
    if (window_) {
        return false;
    }
    if (parent != nullptr) {
        parent_ = parent;
    }
    WindowRef owner = parent_ != nullptr ? parent_->window_ : WindowRef{};
    B().CreateDialogWindow(*this, owner);
    return static_cast<bool>(window_);
}

std::intptr_t Dialog::DoModal() {
    if (window_) {
        return -1;
    }
    WindowRef owner = parent_ != nullptr ? parent_->window_ : WindowRef{};
    return B().RunModalDialog(*this, owner);
}

void Dialog::EndDialog(std::intptr_t result) {
    if (window_) {
        B().EndDialog(window_, result);
    }
}

void Dialog::DestroyWindow() {
    if (window_) {
        B().DestroyWindow(window_);
    }
}

Control Dialog::Item(int id) const {
    return Control(window_ ? B().GetItem(window_, id) : WindowRef{});
}

void Dialog::SetCaption(const std::u16string& caption) const {
    if (window_) {
        B().SetText(window_, caption);
    }
}

std::u16string Dialog::Caption() const {
    return window_ ? B().GetText(window_) : u"";
}

void Dialog::EnableWindow(bool enable) const {
    if (window_) {
        B().Enable(window_, enable);
    }
}

void Dialog::ShowWindow(bool show) const {
    if (window_) {
        B().Show(window_, show);
    }
}

void Dialog::CenterWindow(const Dialog* over) const {
    if (window_) {
        B().CenterWindow(window_, over != nullptr ? over->window_ : WindowRef{});
    }
}

bool Dialog::PaintMinimizedIcon(int iconId) const {
    return window_ && B().PaintMinimizedIcon(window_, iconId);
}

void Dialog::ForceForeground() const {
    if (window_) {
        B().ForceForeground(window_);
    }
}

std::intptr_t Dialog::IconValue(int iconId) {
    return B().IconValue(iconId);
}

bool Dialog::PostTo(WindowRef window, std::uint32_t message, std::uintptr_t wParam,
                    std::intptr_t lParam) {
    return window && B().Post(window, message, wParam, lParam);
}

void Dialog::UpdateWindow() const {
    if (window_) {
        B().PaintNow(window_);
    }
}

Rect Dialog::WindowRect() const {
    return window_ ? B().GetWindowRect(window_) : Rect{};
}

void Dialog::SetPosition(int x, int y) const {
    if (window_) {
        B().SetPosition(window_, x, y);
    }
}

void Dialog::SetIcons(int iconId) const {
    if (window_) {
        B().SetWindowIcons(window_, iconId);
    }
}

Control Dialog::CreateControlLike(Control model, int id, const Rect& rect,
                                  const std::u16string& text) const {
    if (!window_ || !model) {
        return Control();
    }
    return Control(B().CreateControlLike(window_, model.Ref(), id, rect, text));
}

Control Dialog::Focused() const {
    return Control(B().GetFocus());
}

void Dialog::NextDlgCtl(Control control) const {
    if (window_ && control) {
        B().NextDlgCtl(window_, control.Ref());
    }
}

void Dialog::SetDefId(int id) const {
    if (window_) {
        B().SetDefId(window_, id);
    }
}

int Dialog::GetDefId() const {
    return window_ ? B().GetDefId(window_) : 0;
}

bool Dialog::AppendSystemMenuSeparator() const {
    return window_ && B().AppendSystemMenuSeparator(window_);
}

bool Dialog::AppendSystemMenuItem(std::uint32_t command, const std::u16string& text) const {
    return window_ && B().AppendSystemMenuItem(window_, command, text);
}

bool Dialog::PostMessage(std::uint32_t message, std::uintptr_t wParam, std::intptr_t lParam) const {
    return window_ && B().Post(window_, message, wParam, lParam);
}

std::intptr_t Dialog::SendMessage(std::uint32_t message, std::uintptr_t wParam,
                                  std::intptr_t lParam) const {
    return window_ ? B().Send(window_, message, wParam, lParam) : 0;
}

bool Dialog::SetTimer(std::uintptr_t id, std::uint32_t milliseconds) const {
    return window_ && B().SetTimer(window_, id, milliseconds);
}

void Dialog::KillTimer(std::uintptr_t id) const {
    if (window_) {
        B().KillTimer(window_, id);
    }
}

std::unique_ptr<IMessageTarget> Dialog::CreateMessageTarget() const {
    return std::make_unique<WindowMessageTarget>(B(), window_);
}

const MessageMap* Dialog::GetMessageMap() const {
    static const MessageMap base{nullptr, {}};
    return &base;
}

std::optional<Rgb> Dialog::OnCtlColor(Control, CtlColorKind) {
    return std::nullopt;
}

bool Dialog::Dispatch(std::uint32_t message, std::uintptr_t wParam, std::intptr_t lParam,
                      std::intptr_t& result) {
    const int commandId = static_cast<int>(wParam & 0xFFFF);
    if (const MessageMapEntry* e = FindEntry(GetMessageMap(), message, commandId)) {
        useDefault_ = false;
        result = e->thunk(*this, wParam, lParam);
        const bool toDefault = useDefault_;
        useDefault_ = false;
        return !toDefault;
    }
    if (message == msg::kCommand && ((wParam >> 16) & 0xFFFF) == kBnClicked) {
        if (commandId == kIdOk) {
            OnOK();
            result = 0;
            return true;
        }
        if (commandId == kIdCancel) {
            OnCancel();
            result = 0;
            return true;
        }
    }
    return false;
}

// ---- free functions ------------------------------------------------------

int ShowMessageBox(const Dialog* owner, const std::u16string& text, const std::u16string& caption,
                   std::uint32_t type, MessageBoxHook hook) {
    WindowRef ref = owner != nullptr ? owner->Window() : WindowRef{};
    return B().MessageBox(ref, text, caption, type, std::move(hook));
}

void InitWindowSystem() {
    B().InitCommonControls();
}

int RunMessageLoop() {
    return B().RunMessageLoop();
}

void PostQuitMessage(int code) {
    B().PostQuit(code);
}

// ---- DialogAccess --------------------------------------------------------

void DialogAccess::Attach(Dialog& dialog, WindowRef window) {
    dialog.window_ = window;
}
void DialogAccess::Detach(Dialog& dialog) {
    dialog.window_ = {};
}
int DialogAccess::TemplateId(const Dialog& dialog) {
    return dialog.templateId_;
}
bool DialogAccess::InitDialog(Dialog& dialog) {
    return dialog.OnInitDialog();
}
bool DialogAccess::Dispatch(Dialog& dialog, std::uint32_t message, std::uintptr_t wParam,
                            std::intptr_t lParam, std::intptr_t& result) {
    return dialog.Dispatch(message, wParam, lParam, result);
}
std::optional<Rgb> DialogAccess::CtlColor(Dialog& dialog, WindowRef control, CtlColorKind kind) {
    return dialog.OnCtlColor(Control(control), kind);
}
bool DialogAccess::IgnoresEnter(const Dialog& dialog) {
    return dialog.ignoresEnter_;
}

}  // namespace talvo
