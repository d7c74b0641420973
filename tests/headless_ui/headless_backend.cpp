#include "tests/headless_ui/headless_backend.h"

#include <algorithm>

#include "tests/headless_ui/headless_node.h"
#include "ui/dialog.h"

namespace talvo {

HeadlessBackend::TemplateLookup HeadlessBackend::ShippedTemplates() {
    return [](int id) { return FindDialogTemplate(id); };
}

HeadlessBackend::HeadlessBackend(TemplateLookup templates)
    : templates_(std::move(templates)), loop_([this](const HeadlessMessageLoop::Message& m) {
          Send(m.window, m.message, m.wParam, m.lParam);
      }) {}

HeadlessBackend::~HeadlessBackend() {
    // Dialog objects may outlive the backend in a test; cut them loose.
    for (auto& [ref, node] : nodes_) {
        if (node->dialog != nullptr) {
            DialogAccess::Detach(*node->dialog);
        }
    }
}

std::size_t HeadlessBackend::LiveFontCount() {
    std::size_t n = 0;
    Invoke([&] { n = fonts_.size(); });
    return n;
}

bool HeadlessBackend::CommonControlsInitialised() {
    bool v = false;
    Invoke([&] { v = commonControls_; });
    return v;
}

int HeadlessBackend::WaitCursorDepth() {
    int v = 0;
    Invoke([&] { v = waitCursor_; });
    return v;
}

WindowRef HeadlessBackend::ForegroundRequest() {
    WindowRef v;
    Invoke([&] { v = foreground_; });
    return v;
}

// ---- nodes -----------------------------------------------------------------

HeadlessBackend::Node* HeadlessBackend::Find(WindowRef ref) {
    auto it = nodes_.find(ref.value);
    return it == nodes_.end() ? nullptr : it->second.get();
}

WindowRef HeadlessBackend::NewRef() {
    return WindowRef{nextRef_++};
}

void HeadlessBackend::Register(std::unique_ptr<Node> node) {
    const std::uintptr_t v = node->ref.value;
    nodes_[v] = std::move(node);
    loop_.AddWindow(WindowRef{v});
}

void HeadlessBackend::Unregister(WindowRef ref) {
    nodes_.erase(ref.value);
    loop_.RemoveWindow(ref);
}

void HeadlessBackend::InitCommonControls() {
    commonControls_ = true;
}

WindowRef HeadlessBackend::BuildDialog(Dialog& dialog, WindowRef owner, bool modal) {
    const DialogTemplate* t = templates_ ? templates_(DialogAccess::TemplateId(dialog)) : nullptr;
    if (t == nullptr) {
        return {};
    }
    auto node = std::make_unique<Node>();
    Node& d = *node;
    d.type = Node::Type::Dialog;
    d.ref = NewRef();
    d.parent = owner;
    d.dialog = &dialog;
    d.style = t->style;
    d.text = std::u16string(t->caption);
    d.modal = modal;
    d.defId = DialogManager::InitialDefId(*t);
    // One dialog unit is two pixels here; new windows open at the top left.
    d.rect = Rect{0, 0, t->width * 2, t->height * 2};
    FontSpec spec;
    spec.height = -((t->fontPoints * 96 + 36) / 72);  // points at 96 pixels per inch
    spec.weight = 0;   // the template gives none: "don't care", drawn as normal
    spec.charSet = 1;  // default character set
    spec.faceName = std::u16string(t->fontName);
    d.dialogFont = CreateFont(spec);
    d.font = d.dialogFont;
    std::vector<std::unique_ptr<Node>> controls;
    for (const ControlTemplate& ct : t->controls) {
        auto c = std::make_unique<Node>();
        c->type = Node::Type::Control;
        c->ref = NewRef();
        c->parent = d.ref;
        c->id = ct.id;
        c->rect = Rect{ct.x * 2, ct.y * 2, (ct.x + ct.width) * 2, (ct.y + ct.height) * 2};
        c->kind = ct.kind;
        c->flags = ct.style;
        c->text = ct.kind == ControlKind::RichEdit ? std::u16string() : std::u16string(ct.text);
        c->enabled = (ct.style & kCtlDisabled) == 0;
        c->visible = (ct.style & kCtlNotVisible) == 0;
        c->font = d.dialogFont;
        c->iconId = ct.kind == ControlKind::StaticIcon ? ct.iconId : 0;
        d.children.push_back(c->ref);
        controls.push_back(std::move(c));
    }
    const WindowRef ref = d.ref;
    Register(std::move(node));
    for (auto& c : controls) {
        Register(std::move(c));
    }
    topLevel_.push_back(ref.value);
    return ref;
}

WindowRef HeadlessBackend::CreateDialogWindow(Dialog& dialog, WindowRef parent) {
    const WindowRef ref = BuildDialog(dialog, parent, false);
    if (!ref) {
        return {};
    }
    DialogAccess::Attach(dialog, ref);
    const bool defaultFocus = DialogAccess::InitDialog(dialog);
    if (Node* d = Find(ref)) {
        if (defaultFocus) {
            SetFocusTo(manager_.FirstTabStop(ref));
        }
        if ((d->style & kDlgVisible) != 0) {
            d->visible = true;
        }
    }
    return Find(ref) != nullptr ? ref : WindowRef{};
}

std::intptr_t HeadlessBackend::RunModalDialog(Dialog& dialog, WindowRef parent) {
    loop_.BindToThisThread();
    const WindowRef ref = BuildDialog(dialog, parent, true);
    if (!ref) {
        return -1;
    }
    Node* owner = Find(parent);
    const WindowRef previousFocus = focus_;
    const bool disabledOwner = owner != nullptr && owner->enabled;
    if (disabledOwner) {
        Enable(parent, false);
    }
    DialogAccess::Attach(dialog, ref);
    const bool defaultFocus = DialogAccess::InitDialog(dialog);
    if (Node* d = Find(ref); d != nullptr && !d->ended) {
        if (defaultFocus) {
            SetFocusTo(manager_.FirstTabStop(ref));
        }
        d->visible = true;
    }
    RunNestedLoop([&] {
        Node* d = Find(ref);
        return d == nullptr || d->ended;
    });
    Node* ended = Find(ref);
    const std::intptr_t result = ended != nullptr && ended->ended ? ended->result : 0;
    if (disabledOwner && Find(parent) != nullptr) {
        Enable(parent, true);
    }
    DestroyNode(ref);
    // The window below gets back the focus it had, as on reactivation.
    if (!focus_ && Find(previousFocus) != nullptr) {
        focus_ = previousFocus;
    }
    return result;
}

void HeadlessBackend::EndDialog(WindowRef ref, std::intptr_t result) {
    Node* d = Find(ref);
    if (d == nullptr || d->type != Node::Type::Dialog) {
        return;
    }
    d->result = result;
    d->ended = true;
    if (!d->modal) {
        d->visible = false;
    }
}

void HeadlessBackend::DestroyNode(WindowRef ref) {
    Node* d = Find(ref);
    if (d == nullptr) {
        return;
    }
    if (d->type == Node::Type::Dialog && d->dialog != nullptr) {
        std::intptr_t ignored = 0;
        DialogAccess::Dispatch(*d->dialog, msg::kDestroy, 0, 0, ignored);
        d = Find(ref);
        if (d == nullptr) {
            return;
        }
    }
    if (focus_ == ref) {
        focus_ = {};
    }
    for (WindowRef c : d->children) {
        if (focus_ == c) {
            focus_ = {};
        }
        Unregister(c);
    }
    if (d->dialogFont) {
        DeleteFont(d->dialogFont);
    }
    if (d->dialog != nullptr) {
        DialogAccess::Detach(*d->dialog);
    }
    topLevel_.erase(std::remove(topLevel_.begin(), topLevel_.end(), ref.value), topLevel_.end());
    Unregister(ref);
}

void HeadlessBackend::DestroyWindow(WindowRef ref) {
    Node* n = Find(ref);
    if (n == nullptr) {
        return;
    }
    if (n->type == Node::Type::Control) {
        if (Node* d = Find(n->parent)) {
            d->children.erase(std::remove(d->children.begin(), d->children.end(), ref),
                              d->children.end());
        }
        if (focus_ == ref) {
            focus_ = {};
        }
        Unregister(ref);
        return;
    }
    if (n->type == Node::Type::Box) {
        n->answer = 0;
        return;  // boxes end through their own loop
    }
    if (n->modal) {
        // The modal loop destroys the window once it sees the dialog ended.
        n->ended = true;
        return;
    }
    DestroyNode(ref);
}

bool HeadlessBackend::IsWindow(WindowRef ref) {
    return Find(ref) != nullptr;
}

// ---- window operations -------------------------------------------------

WindowRef HeadlessBackend::GetItem(WindowRef dialog, int id) {
    Node* d = Find(dialog);
    if (d == nullptr || d->type != Node::Type::Dialog) {
        return {};
    }
    for (WindowRef c : d->children) {
        if (Node* n = Find(c); n != nullptr && n->id == id) {
            return c;
        }
    }
    return {};
}

int HeadlessBackend::GetId(WindowRef ref) {
    Node* n = Find(ref);
    return n != nullptr ? n->id : 0;
}

void HeadlessBackend::SetText(WindowRef ref, const std::u16string& text) {
    if (Node* n = Find(ref)) {
        if (n->type == Node::Type::Control && n->kind == ControlKind::RichEdit) {
            n->text = text;
            n->selStart = n->selEnd = 0;
        } else {
            n->text = text;
        }
    }
}

std::u16string HeadlessBackend::GetText(WindowRef ref) {
    Node* n = Find(ref);
    return n != nullptr ? n->text : std::u16string();
}

void HeadlessBackend::Enable(WindowRef ref, bool enable) {
    Node* n = Find(ref);
    if (n == nullptr) {
        return;
    }
    n->enabled = enable;
    if (!enable && focus_) {
        // A disabled window cannot keep the focus, nor can its children.
        Node* f = Find(focus_);
        if (focus_ == ref || (f != nullptr && f->parent == ref)) {
            focus_ = {};
        }
    }
}

bool HeadlessBackend::IsEnabled(WindowRef ref) {
    Node* n = Find(ref);
    return n != nullptr && n->enabled;
}

void HeadlessBackend::Show(WindowRef ref, bool show) {
    if (Node* n = Find(ref)) {
        n->visible = show;
    }
}

bool HeadlessBackend::IsVisible(WindowRef ref) {
    Node* n = Find(ref);
    if (n == nullptr || !n->visible) {
        return false;
    }
    if (n->type == Node::Type::Control) {
        Node* d = Find(n->parent);
        return d != nullptr && d->visible;
    }
    return true;
}

void HeadlessBackend::CenterWindow(WindowRef window, WindowRef over) {
    Node* n = Find(window);
    if (n == nullptr || n->type == Node::Type::Control) {
        return;
    }
    // Over the given window, else the owner, else the screen; kept on it.
    Node* ref = Find(over ? over : n->parent);
    const Rect area = ref != nullptr && ref->visible ? ref->rect : kScreen;
    const int w = n->rect.Width();
    const int h = n->rect.Height();
    const int x = std::clamp((area.left + area.right - w) / 2, kScreen.left, kScreen.right - w);
    const int y = std::clamp((area.top + area.bottom - h) / 2, kScreen.top, kScreen.bottom - h);
    n->rect = Rect{x, y, x + w, y + h};
}

Rect HeadlessBackend::GetWindowRect(WindowRef window) {
    Node* n = Find(window);
    if (n == nullptr) {
        return {};
    }
    if (n->type != Node::Type::Control) {
        return n->rect;
    }
    Node* d = Find(n->parent);
    const int dx = d != nullptr ? d->rect.left : 0;
    const int dy = d != nullptr ? d->rect.top : 0;
    return Rect{n->rect.left + dx, n->rect.top + dy, n->rect.right + dx, n->rect.bottom + dy};
}

Rect HeadlessBackend::GetRectInParent(WindowRef window) {
    Node* n = Find(window);
    return n != nullptr ? n->rect : Rect{};
}

void HeadlessBackend::MoveWindow(WindowRef window, const Rect& rect) {
    if (Node* n = Find(window)) {
        n->rect = rect;
    }
}

void HeadlessBackend::SetPosition(WindowRef window, int x, int y) {
    if (Node* n = Find(window)) {
        n->rect = Rect{x, y, x + n->rect.Width(), y + n->rect.Height()};
    }
}

WindowRef HeadlessBackend::CreateControlLike(WindowRef dialog, WindowRef model, int id,
                                             const Rect& rect, const std::u16string& text) {
    Node* d = Find(dialog);
    Node* m = Find(model);
    if (d == nullptr || m == nullptr || d->type != Node::Type::Dialog ||
        m->type != Node::Type::Control) {
        return {};
    }
    auto c = std::make_unique<Node>();
    c->type = Node::Type::Control;
    c->ref = NewRef();
    c->parent = dialog;
    c->id = id;
    c->kind = m->kind;
    c->flags = m->flags;
    c->rect = rect;
    c->text = text;
    // The model's style as it is now, visibility and enabling included; a
    // new window has the system font until it is given one.
    c->visible = m->visible;
    c->enabled = m->enabled;
    const WindowRef ref = c->ref;
    d->children.push_back(ref);
    Register(std::move(c));
    return ref;
}

void HeadlessBackend::SetWindowIcons(WindowRef window, int iconId) {
    if (Node* n = Find(window)) {
        n->windowIcon = iconId;
    }
}

std::intptr_t HeadlessBackend::IconValue(int iconId) {
    return iconId;
}

bool HeadlessBackend::PaintMinimizedIcon(WindowRef, int) {
    return false;
}

WindowRef HeadlessBackend::GetFocus() {
    return focus_;
}

void HeadlessBackend::SetFocusTo(WindowRef ref) {
    focus_ = ref;
}

void HeadlessBackend::NextDlgCtl(WindowRef dialog, WindowRef control) {
    Node* c = Find(control);
    if (c != nullptr && c->parent == dialog) {
        SetFocusTo(control);
    }
}

void HeadlessBackend::SetDefId(WindowRef dialog, int id) {
    if (Node* d = Find(dialog); d != nullptr && d->type == Node::Type::Dialog) {
        d->defId = id;
    }
}

int HeadlessBackend::GetDefId(WindowRef dialog) {
    Node* d = Find(dialog);
    return d != nullptr && d->type == Node::Type::Dialog ? d->defId : 0;
}

void HeadlessBackend::SetCheck(WindowRef ref, bool checked) {
    if (Node* n = Find(ref);
        n != nullptr && n->type == Node::Type::Control && DialogManager::IsButton(n->kind)) {
        n->checked = checked && !DialogManager::IsPushButton(n->kind);
    }
}

bool HeadlessBackend::GetCheck(WindowRef ref) {
    Node* n = Find(ref);
    return n != nullptr && n->checked;
}

void HeadlessBackend::SetProgressRange(WindowRef ref, int low, int high) {
    Node* n = Find(ref);
    if (n == nullptr || n->kind != ControlKind::Progress) {
        return;
    }
    n->low = low;
    n->high = high;
    n->pos = std::clamp(n->pos, std::min(low, high), std::max(low, high));
}

void HeadlessBackend::SetProgressPos(WindowRef ref, int pos) {
    Node* n = Find(ref);
    if (n == nullptr || n->kind != ControlKind::Progress) {
        return;
    }
    // The bar clamps a position outside its range, as the native one does.
    n->pos = std::clamp(pos, std::min(n->low, n->high), std::max(n->low, n->high));
}

int HeadlessBackend::GetProgressPos(WindowRef ref) {
    Node* n = Find(ref);
    return n != nullptr ? n->pos : 0;
}

void HeadlessBackend::SetSelection(WindowRef ref, int start, int end) {
    Node* n = Find(ref);
    if (n == nullptr) {
        return;
    }
    const int len = static_cast<int>(n->text.size());
    n->selStart = std::clamp(start, 0, len);
    n->selEnd = end < 0 ? len : std::clamp(end, 0, len);
}

void HeadlessBackend::SetRichText(WindowRef ref, const std::u16string& text) {
    Node* n = Find(ref);
    if (n == nullptr || n->kind != ControlKind::RichEdit) {
        return;
    }
    // A whole-text replacement, also of a read-only control; the text ends
    // at its first terminator as the native control takes it.
    n->text = text.substr(0, text.find(u'\0'));
    n->selStart = n->selEnd = 0;
}

std::optional<CharFormat> HeadlessBackend::GetDefaultCharFormat(WindowRef ref) {
    Node* n = Find(ref);
    if (n == nullptr || n->kind != ControlKind::RichEdit) {
        return std::nullopt;
    }
    return n->charFormat;
}

void HeadlessBackend::SetDefaultCharFormat(WindowRef ref, const CharFormat& format) {
    if (Node* n = Find(ref); n != nullptr && n->kind == ControlKind::RichEdit) {
        n->charFormat = format;
    }
}

void HeadlessBackend::SetIcon(WindowRef ref, int iconId) {
    if (Node* n = Find(ref); n != nullptr && n->kind == ControlKind::StaticIcon) {
        n->iconId = iconId;
    }
}

FontHandle HeadlessBackend::CreateFont(const FontSpec& spec) {
    const FontHandle h{nextFont_++};
    fonts_[h.value] = spec;
    return h;
}

void HeadlessBackend::DeleteFont(FontHandle font) {
    fonts_.erase(font.value);
}

std::optional<FontSpec> HeadlessBackend::GetFontSpec(FontHandle font) {
    auto it = fonts_.find(font.value);
    if (it == fonts_.end()) {
        return std::nullopt;
    }
    return it->second;
}

FontHandle HeadlessBackend::GetWindowFont(WindowRef ref) {
    Node* n = Find(ref);
    return n != nullptr ? n->font : FontHandle{};
}

void HeadlessBackend::SetWindowFont(WindowRef ref, FontHandle font, bool) {
    if (Node* n = Find(ref)) {
        n->font = font;
    }
}

bool HeadlessBackend::AppendSystemMenuSeparator(WindowRef dialog) {
    return AppendSystemMenuItem(dialog, 0, u"");
}

bool HeadlessBackend::AppendSystemMenuItem(WindowRef dialog, std::uint32_t command,
                                           const std::u16string& text) {
    Node* d = Find(dialog);
    if (d == nullptr || d->type != Node::Type::Dialog || (d->style & kDlgSystemMenu) == 0) {
        return false;
    }
    d->sysMenu.emplace_back(command, text);
    return true;
}

// ---- messages and loops --------------------------------------------------

bool HeadlessBackend::Post(WindowRef window, std::uint32_t message, std::uintptr_t wParam,
                           std::intptr_t lParam) {
    return loop_.Post(window, message, wParam, lParam);
}

std::intptr_t HeadlessBackend::Send(WindowRef window, std::uint32_t message, std::uintptr_t wParam,
                                    std::intptr_t lParam) {
    Node* n = Find(window);
    if (n == nullptr) {
        return 0;
    }
    if (n->type == Node::Type::Dialog) {
        return DialogProc(*n, message, wParam, lParam);
    }
    if (n->type == Node::Type::Box) {
        return BoxProc(*n, message, wParam);
    }
    return 0;
}

bool HeadlessBackend::SetTimer(WindowRef window, std::uintptr_t id, std::uint32_t milliseconds) {
    if (Find(window) == nullptr) {
        return false;
    }
    loop_.SetTimer(window, id, milliseconds);
    return true;
}

void HeadlessBackend::KillTimer(WindowRef window, std::uintptr_t id) {
    loop_.KillTimer(window, id);
}

void HeadlessBackend::PostQuit(int code) {
    loop_.PostQuit(code);
}

int HeadlessBackend::RunMessageLoop() {
    return loop_.Run();
}

void HeadlessBackend::RunNestedLoop(const std::function<bool()>& done) {
    int quitCode = 0;
    while (!done()) {
        if (!loop_.PumpOne(quitCode)) {
            PostQuit(quitCode);  // the outer loop must see it too
            return;
        }
    }
}

std::intptr_t HeadlessBackend::DialogProc(Node& d, std::uint32_t message, std::uintptr_t wParam,
                                          std::intptr_t lParam) {
    const WindowRef ref = d.ref;
    std::intptr_t result = 0;
    if (d.dialog != nullptr && DialogAccess::Dispatch(*d.dialog, message, wParam, lParam, result)) {
        return result;
    }
    return manager_.DefDlgProc(ref, message, wParam, lParam);
}

void HeadlessBackend::BeginWaitCursor() {
    ++waitCursor_;
}
void HeadlessBackend::EndWaitCursor() {
    if (waitCursor_ > 0) {
        --waitCursor_;
    }
}

void HeadlessBackend::ForceForeground(WindowRef window) {
    foreground_ = window;
}

// ---- what the dialog manager and the user see ----------------------------

std::vector<WindowRef> HeadlessBackend::ControlsOf(WindowRef dialog) {
    Node* d = Find(dialog);
    return d != nullptr && d->type == Node::Type::Dialog ? d->children : std::vector<WindowRef>{};
}

std::optional<DialogManager::IControls::Facts> HeadlessBackend::FactsOf(WindowRef window) {
    Node* n = Find(window);
    if (n == nullptr || n->type != Node::Type::Control) {
        return std::nullopt;
    }
    return Facts{n->kind, n->flags, n->visible};
}

HeadlessBackend::Node* HeadlessBackend::ActiveWindow() {
    for (auto it = topLevel_.rbegin(); it != topLevel_.rend(); ++it) {
        Node* n = Find(WindowRef{*it});
        if (n != nullptr && n->visible && n->enabled) {
            return n;
        }
    }
    return nullptr;
}

HeadlessBackend::Node* HeadlessBackend::OpenBox() {
    for (auto it = topLevel_.rbegin(); it != topLevel_.rend(); ++it) {
        Node* n = Find(WindowRef{*it});
        if (n != nullptr && n->type == Node::Type::Box) {
            return n;
        }
    }
    return nullptr;
}

}  // namespace talvo
