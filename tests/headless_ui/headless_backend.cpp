#include "tests/headless_ui/headless_backend.h"

#include <algorithm>
#include <future>
#include <stdexcept>

#include "ui/dialog.h"

namespace talvo {

struct HeadlessBackend::Node {
    enum class Type { Dialog, Control, Box };
    Type type = Type::Control;
    WindowRef ref;
    WindowRef parent;  // controls: their dialog; dialogs and boxes: the owner
    Rect rect;         // controls: in the dialog's client area; others: on the screen
    int windowIcon = 0;
    bool enabled = true;
    bool visible = false;
    std::u16string text;
    FontHandle font;

    // Controls.
    int id = 0;
    ControlKind kind = ControlKind::Static;
    std::uint32_t flags = 0;
    bool checked = false;
    int low = 0, high = 100, pos = 0;
    int selStart = 0, selEnd = 0;
    CharFormat charFormat{200, u"System"};
    int iconId = 0;

    // Dialogs.
    Dialog* dialog = nullptr;
    std::uint32_t style = 0;
    std::vector<WindowRef> children;
    int defId = 0;
    FontHandle dialogFont;
    bool modal = false;
    bool ended = false;
    std::intptr_t result = 0;
    std::vector<std::pair<std::uint32_t, std::u16string>> sysMenu;  // 0 = separator

    // Message boxes.
    std::uint32_t boxType = 0;
    std::u16string boxText;
    std::vector<std::pair<int, std::u16string>> buttons;
    int defaultButton = 0;
    int answer = 0;
};

namespace {

bool IsButton(ControlKind k) {
    return k == ControlKind::PushButton || k == ControlKind::DefaultPushButton ||
           k == ControlKind::RadioButton || k == ControlKind::AutoRadioButton;
}
bool IsPushButton(ControlKind k) {
    return k == ControlKind::PushButton || k == ControlKind::DefaultPushButton;
}
bool IsRadio(ControlKind k) {
    return k == ControlKind::RadioButton || k == ControlKind::AutoRadioButton;
}

}  // namespace

class HeadlessBackend::BoxAdapter final : public IMessageBoxWindow {
  public:
    BoxAdapter(HeadlessBackend& b, WindowRef ref) : b_(b), ref_(ref) {}
    WindowRef Ref() const override { return ref_; }
    void SetCaption(const std::u16string& caption) override {
        if (Node* n = b_.Find(ref_)) {
            n->text = caption;
        }
    }
    bool SetButtonText(int id, const std::u16string& text) override {
        Node* n = b_.Find(ref_);
        if (n == nullptr) {
            return false;
        }
        for (auto& [bid, btext] : n->buttons) {
            if (bid == id) {
                btext = text;
                return true;
            }
        }
        return false;
    }

  private:
    HeadlessBackend& b_;
    WindowRef ref_;
};

HeadlessBackend::TemplateLookup HeadlessBackend::ShippedTemplates() {
    return [](int id) { return FindDialogTemplate(id); };
}

HeadlessBackend::ResourceLookup HeadlessBackend::ShippedResources() {
    return [](int type, int id) {
        std::vector<std::uint8_t> bytes;
        if (type == kResourceTypeHtml) {
            auto span = FindAgreementText(id);
            bytes.assign(span.begin(), span.end());
        }
        return bytes;
    };
}

HeadlessBackend::HeadlessBackend(TemplateLookup templates, ResourceLookup resources)
    : templates_(std::move(templates)), resources_(std::move(resources)) {}

HeadlessBackend::~HeadlessBackend() {
    // Dialog objects may outlive the backend in a test; cut them loose.
    for (auto& [ref, node] : nodes_) {
        if (node->dialog != nullptr) {
            DialogAccess::Detach(*node->dialog);
        }
    }
}

void HeadlessBackend::SetTimerSpeedup(double speedup) {
    std::lock_guard lock(mutex_);
    speedup_ = speedup < 1.0 ? 1.0 : speedup;
}

void HeadlessBackend::Invoke(std::function<void()> task, std::chrono::milliseconds limit) {
    std::future<void> done;
    {
        std::lock_guard lock(mutex_);
        if (uiThread_ != std::this_thread::get_id()) {
            auto promise = std::make_shared<std::promise<void>>();
            done = promise->get_future();
            // The queued task owns what it touches, so a caller that gave up
            // waiting leaves nothing dangling behind.
            auto shared = std::make_shared<std::function<void()>>(std::move(task));
            queue_.push_back(Queued{{}, 0, 0, 0, [promise, shared] {
                                        try {
                                            (*shared)();
                                            promise->set_value();
                                        } catch (...) {
                                            promise->set_exception(std::current_exception());
                                        }
                                    }});
            wake_.notify_all();
        }
    }
    if (!done.valid()) {
        task();
        return;
    }
    if (done.wait_for(limit) != std::future_status::ready) {
        throw std::runtime_error("UI thread did not run the task");
    }
    done.get();
}

void HeadlessBackend::PostTask(std::function<void()> task) {
    std::lock_guard lock(mutex_);
    queue_.push_back(Queued{{}, 0, 0, 0, std::move(task)});
    wake_.notify_all();
}

bool HeadlessBackend::WaitIdle(std::chrono::milliseconds limit) {
    std::unique_lock lock(mutex_);
    return idle_.wait_for(lock, limit, [&] { return waiting_ && queue_.empty(); });
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

HeadlessBackend::Node* HeadlessBackend::DialogOf(Node* node) {
    if (node == nullptr) {
        return nullptr;
    }
    return node->type == Node::Type::Control ? Find(node->parent) : node;
}

WindowRef HeadlessBackend::NewRef() {
    return WindowRef{nextRef_++};
}

void HeadlessBackend::Register(std::unique_ptr<Node> node) {
    const std::uintptr_t v = node->ref.value;
    nodes_[v] = std::move(node);
    std::lock_guard lock(mutex_);
    alive_.insert(v);
}

void HeadlessBackend::Unregister(WindowRef ref) {
    nodes_.erase(ref.value);
    std::lock_guard lock(mutex_);
    alive_.erase(ref.value);
    timers_.erase(std::remove_if(timers_.begin(), timers_.end(),
                                 [&](const Timer& t) { return t.window == ref; }),
                  timers_.end());
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
        if (ct.kind == ControlKind::DefaultPushButton && d.defId == 0) {
            d.defId = ct.id;
        }
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
            SetFocusTo(FirstTabStop(*d));
        }
        if ((d->style & kDlgVisible) != 0) {
            d->visible = true;
        }
    }
    return Find(ref) != nullptr ? ref : WindowRef{};
}

std::intptr_t HeadlessBackend::RunModalDialog(Dialog& dialog, WindowRef parent) {
    {
        std::lock_guard lock(mutex_);
        uiThread_ = std::this_thread::get_id();
    }
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
            SetFocusTo(FirstTabStop(*d));
        }
        d->visible = true;
    }
    std::intptr_t result = 0;
    int quitCode = 0;
    for (;;) {
        Node* d = Find(ref);
        if (d == nullptr) {
            break;
        }
        if (d->ended) {
            result = d->result;
            break;
        }
        if (!PumpOne(quitCode)) {
            PostQuit(quitCode);  // the outer loop must see it too
            break;
        }
    }
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
    if (Node* n = Find(ref); n != nullptr && n->type == Node::Type::Control && IsButton(n->kind)) {
        n->checked = checked && !IsPushButton(n->kind);
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
    std::lock_guard lock(mutex_);
    if (alive_.count(window.value) == 0) {
        return false;
    }
    queue_.push_back(Queued{window, message, wParam, lParam, {}});
    wake_.notify_all();
    return true;
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
    std::lock_guard lock(mutex_);
    const auto interval = std::chrono::duration_cast<std::chrono::steady_clock::duration>(
        std::chrono::duration<double, std::milli>(std::max<std::uint32_t>(milliseconds, 10) /
                                                  speedup_));
    const auto due = std::chrono::steady_clock::now() + interval;
    for (Timer& t : timers_) {
        if (t.window == window && t.id == id) {
            t.interval = interval;
            t.due = due;
            return true;
        }
    }
    timers_.push_back(Timer{window, id, interval, due});
    wake_.notify_all();
    return true;
}

void HeadlessBackend::KillTimer(WindowRef window, std::uintptr_t id) {
    std::lock_guard lock(mutex_);
    timers_.erase(std::remove_if(timers_.begin(), timers_.end(),
                                 [&](const Timer& t) { return t.window == window && t.id == id; }),
                  timers_.end());
}

void HeadlessBackend::PostQuit(int code) {
    std::lock_guard lock(mutex_);
    quitPending_ = true;
    quitCode_ = code;
    wake_.notify_all();
}

bool HeadlessBackend::PumpOne(int& quitCode) {
    std::unique_lock lock(mutex_);
    uiThread_ = std::this_thread::get_id();
    for (;;) {
        if (!queue_.empty()) {
            Queued q = std::move(queue_.front());
            queue_.pop_front();
            lock.unlock();
            Deliver(q);
            return true;
        }
        if (quitPending_) {
            // The quit message comes after everything posted before it.
            quitPending_ = false;
            quitCode = quitCode_;
            return false;
        }
        const auto now = std::chrono::steady_clock::now();
        Timer* next = nullptr;
        for (Timer& t : timers_) {
            if (next == nullptr || t.due < next->due) {
                next = &t;
            }
        }
        if (next != nullptr && next->due <= now) {
            next->due = now + next->interval;
            const Queued q{next->window, msg::kTimer, next->id, 0, {}};
            lock.unlock();
            Deliver(q);
            return true;
        }
        waiting_ = true;
        idle_.notify_all();
        if (next != nullptr) {
            wake_.wait_until(lock, next->due);
        } else {
            wake_.wait(lock);
        }
        waiting_ = false;
    }
}

int HeadlessBackend::RunMessageLoop() {
    int code = 0;
    while (PumpOne(code)) {
    }
    return code;
}

void HeadlessBackend::Deliver(const Queued& q) {
    if (q.task) {
        q.task();
        return;
    }
    Send(q.window, q.message, q.wParam, q.lParam);
}

std::intptr_t HeadlessBackend::DialogProc(Node& d, std::uint32_t message, std::uintptr_t wParam,
                                          std::intptr_t lParam) {
    const WindowRef ref = d.ref;
    std::intptr_t result = 0;
    if (d.dialog != nullptr && DialogAccess::Dispatch(*d.dialog, message, wParam, lParam, result)) {
        return result;
    }
    // The dialog manager's default handling.
    switch (message) {
        case msg::kSysCommand:
            if ((wParam & 0xFFF0) == kScClose) {
                return Send(ref, msg::kClose, 0, 0);
            }
            return 0;
        case msg::kClose: {
            // Closing is cancelling, unless the Cancel button is disabled.
            const WindowRef cancel = GetItem(ref, kIdCancel);
            if (!cancel || IsEnabled(cancel)) {
                return Send(ref, msg::kCommand, kIdCancel,
                            static_cast<std::intptr_t>(cancel.value));
            }
            return 0;
        }
        case msg::kDmGetDefId:
            return d.defId != 0 ? static_cast<std::intptr_t>(0x534B0000u | d.defId) : 0;
        case msg::kDmSetDefId:
            d.defId = static_cast<int>(wParam);
            return 1;
        case msg::kNextDlgCtl:
            if (lParam != 0) {
                NextDlgCtl(ref, WindowRef{wParam});
            }
            return 0;
        default:
            return 0;
    }
}

std::intptr_t HeadlessBackend::BoxProc(Node& box, std::uint32_t message, std::uintptr_t wParam) {
    if (message == msg::kClose) {
        // A box closes like its Cancel button, or like OK when it has only OK.
        const bool hasCancel = std::any_of(box.buttons.begin(), box.buttons.end(),
                                           [](const auto& b) { return b.first == kIdCancel; });
        box.answer = hasCancel ? kIdCancel : kIdOk;
    } else if (message == msg::kCommand) {
        const int id = static_cast<int>(wParam & 0xFFFF);
        for (const auto& b : box.buttons) {
            if (b.first == id) {
                box.answer = id;
            }
        }
    }
    return 0;
}

int HeadlessBackend::MessageBox(WindowRef owner, const std::u16string& text,
                                const std::u16string& caption, std::uint32_t type,
                                MessageBoxHook hook) {
    {
        std::lock_guard lock(mutex_);
        uiThread_ = std::this_thread::get_id();
    }
    auto node = std::make_unique<Node>();
    Node& box = *node;
    box.type = Node::Type::Box;
    box.ref = NewRef();
    box.parent = owner;
    box.text = caption;
    box.boxText = text;
    box.boxType = type;
    box.visible = true;
    box.buttons.emplace_back(kIdOk, u"OK");
    if ((type & mb::kButtonMask) == mb::kOkCancel) {
        box.buttons.emplace_back(kIdCancel, u"Cancel");
    }
    box.defaultButton = box.buttons.front().first;
    if ((type & mb::kDefMask) == mb::kDefButton2 && box.buttons.size() > 1) {
        box.defaultButton = box.buttons[1].first;
    }
    const WindowRef ref = box.ref;
    Register(std::move(node));
    topLevel_.push_back(ref.value);
    const bool disabledOwner = Find(owner) != nullptr && IsEnabled(owner);
    if (disabledOwner) {
        Enable(owner, false);
    }
    const WindowRef previousFocus = focus_;
    focus_ = ref;
    if (hook) {
        BoxAdapter adapter(*this, ref);
        hook(adapter);
    }
    int answer = 0;
    int quitCode = 0;
    for (;;) {
        Node* b = Find(ref);
        if (b == nullptr) {
            break;
        }
        if (b->answer != 0) {
            answer = b->answer;
            break;
        }
        if (!PumpOne(quitCode)) {
            PostQuit(quitCode);
            break;
        }
    }
    if (disabledOwner && Find(owner) != nullptr) {
        Enable(owner, true);
    }
    topLevel_.erase(std::remove(topLevel_.begin(), topLevel_.end(), ref.value), topLevel_.end());
    Unregister(ref);
    if (focus_ == ref) {
        focus_ = Find(previousFocus) != nullptr ? previousFocus : WindowRef{};
    }
    return answer;
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

void HeadlessBackend::SetUserLocale(std::uint32_t lcid) {
    userLocale_ = lcid;
}

std::uint32_t HeadlessBackend::UserDefaultLocale() {
    return userLocale_;
}

namespace {
// Named mutexes are shared by every backend of the process, as the real ones
// are by every process of the session: handles per name.
std::mutex g_mutexLock;
std::map<std::u16string, int> g_mutexHandles;
std::map<std::uintptr_t, std::u16string> g_mutexNames;
std::uintptr_t g_nextMutex = 1;
}  // namespace

std::uintptr_t HeadlessBackend::CreateNamedMutex(const std::u16string& name, bool& alreadyExists) {
    std::lock_guard lock(g_mutexLock);
    int& count = g_mutexHandles[name];
    alreadyExists = count > 0;
    ++count;
    const std::uintptr_t handle = g_nextMutex++;
    g_mutexNames[handle] = name;
    return handle;
}

void HeadlessBackend::CloseNamedMutex(std::uintptr_t handle) {
    std::lock_guard lock(g_mutexLock);
    auto it = g_mutexNames.find(handle);
    if (it == g_mutexNames.end()) {
        return;
    }
    if (--g_mutexHandles[it->second] <= 0) {
        g_mutexHandles.erase(it->second);
    }
    g_mutexNames.erase(it);
}

std::vector<std::uint8_t> HeadlessBackend::LoadRawResource(int type, int id) {
    return resources_ ? resources_(type, id) : std::vector<std::uint8_t>{};
}

WindowRef HeadlessBackend::FirstTabStop(Node& d) {
    for (WindowRef c : d.children) {
        Node* n = Find(c);
        if (n != nullptr && (n->flags & kCtlTabStop) != 0 && n->enabled && n->visible) {
            return c;
        }
    }
    return {};
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

// ---- HeadlessUser ----------------------------------------------------------

WindowRef HeadlessUser::FindDialog(int templateId) {
    WindowRef found;
    b_.Invoke([&] {
        for (auto it = b_.topLevel_.rbegin(); it != b_.topLevel_.rend(); ++it) {
            HeadlessBackend::Node* n = b_.Find(WindowRef{*it});
            if (n != nullptr && n->dialog != nullptr &&
                DialogAccess::TemplateId(*n->dialog) == templateId) {
                found = n->ref;
                return;
            }
        }
    });
    return found;
}

WindowRef HeadlessUser::WaitForDialog(int templateId, std::chrono::milliseconds limit) {
    const auto end = std::chrono::steady_clock::now() + limit;
    for (;;) {
        if (WindowRef r = FindDialog(templateId)) {
            return r;
        }
        if (std::chrono::steady_clock::now() > end) {
            return {};
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
}

std::optional<BoxInfo> HeadlessUser::OpenBox() {
    std::optional<BoxInfo> info;
    b_.Invoke([&] {
        for (auto it = b_.topLevel_.rbegin(); it != b_.topLevel_.rend(); ++it) {
            HeadlessBackend::Node* n = b_.Find(WindowRef{*it});
            if (n != nullptr && n->type == HeadlessBackend::Node::Type::Box) {
                info = BoxInfo{
                    n->ref,     n->parent,       n->text, n->boxText, n->boxType & mb::kIconMask,
                    n->buttons, n->defaultButton};
                return;
            }
        }
    });
    return info;
}

std::optional<BoxInfo> HeadlessUser::WaitForBox(std::chrono::milliseconds limit) {
    const auto end = std::chrono::steady_clock::now() + limit;
    for (;;) {
        if (auto box = OpenBox()) {
            return box;
        }
        if (std::chrono::steady_clock::now() > end) {
            return std::nullopt;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
}

bool HeadlessUser::Input(const std::function<std::function<void()>()>& decide) {
    // Input is checked where the user sees it, then queued like real input:
    // its handler may open a modal loop, so nobody waits for it to return.
    std::function<void()> action;
    b_.Invoke([&] { action = decide(); });
    if (!action) {
        return false;
    }
    b_.PostTask(std::move(action));
    b_.WaitIdle();
    return true;
}

std::function<void()> HeadlessUser::BoxAction(WindowRef box, std::uint32_t message, int id) {
    return [this, box, message, id] {
        if (HeadlessBackend::Node* n = b_.Find(box)) {
            b_.BoxProc(*n, message, static_cast<std::uintptr_t>(id));
        }
    };
}

bool HeadlessUser::Click(WindowRef dialog, int controlId) {
    return Input([&]() -> std::function<void()> {
        HeadlessBackend::Node* d = b_.Find(dialog);
        const WindowRef c = b_.GetItem(dialog, controlId);
        HeadlessBackend::Node* n = b_.Find(c);
        if (d == nullptr || n == nullptr || !d->enabled || !d->visible || !n->enabled ||
            !n->visible) {
            return {};
        }
        if (n->kind == ControlKind::RichEdit) {
            b_.SetFocusTo(c);
            return [] {};
        }
        if (!IsButton(n->kind)) {
            return {};
        }
        b_.SetFocusTo(c);
        if (n->kind == ControlKind::AutoRadioButton) {
            // Check it and clear the other radio buttons of its group.
            auto& kids = d->children;
            auto self = std::find(kids.begin(), kids.end(), c);
            auto first = self;
            while (first != kids.begin()) {
                HeadlessBackend::Node* cur = b_.Find(*first);
                HeadlessBackend::Node* prev = b_.Find(*(first - 1));
                if ((cur->flags & kCtlGroup) != 0 || prev == nullptr || !IsRadio(prev->kind)) {
                    break;
                }
                --first;
            }
            for (auto it = first; it != kids.end(); ++it) {
                HeadlessBackend::Node* r = b_.Find(*it);
                if (r == nullptr || !IsRadio(r->kind) ||
                    (it != first && (r->flags & kCtlGroup) != 0)) {
                    break;
                }
                r->checked = (*it == c);
            }
        }
        return [this, dialog, controlId, c] {
            b_.Send(dialog, msg::kCommand, static_cast<std::uintptr_t>(controlId & 0xFFFF),
                    static_cast<std::intptr_t>(c.value));
        };
    });
}

bool HeadlessUser::PressEnter() {
    return Input([&]() -> std::function<void()> {
        HeadlessBackend::Node* a = b_.ActiveWindow();
        if (a == nullptr) {
            return {};
        }
        if (a->type == HeadlessBackend::Node::Type::Box) {
            return BoxAction(a->ref, msg::kCommand, a->defaultButton);
        }
        const WindowRef dialog = a->ref;
        HeadlessBackend::Node* f = b_.Find(b_.focus_);
        if (f != nullptr && f->parent == dialog && IsPushButton(f->kind)) {
            // A focused push button is the one Enter presses.
            const int id = f->id;
            const WindowRef btn = f->ref;
            return [this, dialog, id, btn] {
                b_.Send(dialog, msg::kCommand, static_cast<std::uintptr_t>(id),
                        static_cast<std::intptr_t>(btn.value));
            };
        }
        return [this, dialog] {
            const auto def = b_.Send(dialog, msg::kDmGetDefId, 0, 0);
            if (((def >> 16) & 0xFFFF) == 0x534B) {
                // The default button, unless it is disabled.
                const int id = static_cast<int>(def & 0xFFFF);
                const WindowRef btn = b_.GetItem(dialog, id);
                if (!btn || b_.IsEnabled(btn)) {
                    b_.Send(dialog, msg::kCommand, static_cast<std::uintptr_t>(id),
                            static_cast<std::intptr_t>(btn.value));
                }
                return;
            }
            b_.Send(dialog, msg::kCommand, kIdOk,
                    static_cast<std::intptr_t>(b_.GetItem(dialog, kIdOk).value));
        };
    });
}

bool HeadlessUser::PressEscape() {
    return Input([&]() -> std::function<void()> {
        HeadlessBackend::Node* a = b_.ActiveWindow();
        if (a == nullptr) {
            return {};
        }
        if (a->type == HeadlessBackend::Node::Type::Box) {
            return BoxAction(a->ref, msg::kClose, 0);
        }
        const WindowRef dialog = a->ref;
        return [this, dialog] {
            b_.Send(dialog, msg::kCommand, kIdCancel,
                    static_cast<std::intptr_t>(b_.GetItem(dialog, kIdCancel).value));
        };
    });
}

bool HeadlessUser::CloseCommand() {
    return Input([&]() -> std::function<void()> {
        HeadlessBackend::Node* a = b_.ActiveWindow();
        if (a == nullptr) {
            return {};
        }
        if (a->type == HeadlessBackend::Node::Type::Box) {
            return BoxAction(a->ref, msg::kClose, 0);
        }
        if ((a->style & kDlgSystemMenu) == 0) {
            return {};  // no close box, no system menu
        }
        const WindowRef dialog = a->ref;
        return [this, dialog] { b_.Send(dialog, msg::kSysCommand, kScClose, 0); };
    });
}

bool HeadlessUser::ChooseSystemMenu(WindowRef dialog, std::uint32_t command) {
    return Input([&]() -> std::function<void()> {
        HeadlessBackend::Node* d = b_.Find(dialog);
        if (d == nullptr || !d->enabled || !d->visible || (d->style & kDlgSystemMenu) == 0 ||
            command == 0) {
            return {};
        }
        const bool listed =
            command == kScClose || std::any_of(d->sysMenu.begin(), d->sysMenu.end(),
                                               [&](const auto& i) { return i.first == command; });
        if (!listed) {
            return {};
        }
        return [this, dialog, command] { b_.Send(dialog, msg::kSysCommand, command, 0); };
    });
}

bool HeadlessUser::AnswerBox(int buttonId) {
    return Input([&]() -> std::function<void()> {
        for (auto it = b_.topLevel_.rbegin(); it != b_.topLevel_.rend(); ++it) {
            HeadlessBackend::Node* n = b_.Find(WindowRef{*it});
            if (n != nullptr && n->type == HeadlessBackend::Node::Type::Box) {
                const bool has = std::any_of(n->buttons.begin(), n->buttons.end(),
                                             [&](const auto& b) { return b.first == buttonId; });
                return has ? BoxAction(n->ref, msg::kCommand, buttonId) : nullptr;
            }
        }
        return {};
    });
}

std::u16string HeadlessUser::Caption(WindowRef window) {
    std::u16string s;
    b_.Invoke([&] { s = b_.GetText(window); });
    return s;
}

std::u16string HeadlessUser::Text(WindowRef dialog, int controlId) {
    std::u16string s;
    b_.Invoke([&] { s = b_.GetText(b_.GetItem(dialog, controlId)); });
    return s;
}

bool HeadlessUser::Exists(WindowRef dialog, int controlId) {
    bool v = false;
    b_.Invoke([&] { v = static_cast<bool>(b_.GetItem(dialog, controlId)); });
    return v;
}

bool HeadlessUser::Enabled(WindowRef window, int controlId) {
    bool v = false;
    b_.Invoke([&] { v = b_.IsEnabled(controlId != 0 ? b_.GetItem(window, controlId) : window); });
    return v;
}

bool HeadlessUser::Visible(WindowRef window, int controlId) {
    bool v = false;
    b_.Invoke([&] { v = b_.IsVisible(controlId != 0 ? b_.GetItem(window, controlId) : window); });
    return v;
}

bool HeadlessUser::Checked(WindowRef dialog, int controlId) {
    bool v = false;
    b_.Invoke([&] { v = b_.GetCheck(b_.GetItem(dialog, controlId)); });
    return v;
}

int HeadlessUser::FontWeight(WindowRef dialog, int controlId) {
    int v = 0;
    b_.Invoke([&] {
        auto spec = b_.GetFontSpec(b_.GetWindowFont(b_.GetItem(dialog, controlId)));
        v = spec ? spec->weight : 0;
    });
    return v;
}

Rgb HeadlessUser::TextColor(WindowRef dialog, int controlId) {
    Rgb v{};
    b_.Invoke([&] {
        HeadlessBackend::Node* d = b_.Find(dialog);
        const WindowRef c = b_.GetItem(dialog, controlId);
        HeadlessBackend::Node* n = b_.Find(c);
        if (d == nullptr || d->dialog == nullptr || n == nullptr) {
            return;
        }
        // Statics, radio buttons and check boxes ask as statics, push
        // buttons as buttons; the others draw in their own colours.
        CtlColorKind kind = CtlColorKind::Static;
        if (IsPushButton(n->kind)) {
            kind = CtlColorKind::Button;
        } else if (n->kind == ControlKind::RichEdit || n->kind == ControlKind::Progress) {
            return;
        }
        if (auto c2 = DialogAccess::CtlColor(*d->dialog, c, kind)) {
            v = *c2;
        }
    });
    return v;
}

int HeadlessUser::FocusId(WindowRef dialog) {
    int v = 0;
    b_.Invoke([&] {
        HeadlessBackend::Node* f = b_.Find(b_.focus_);
        v = f != nullptr && f->type == HeadlessBackend::Node::Type::Control && f->parent == dialog
                ? f->id
                : 0;
    });
    return v;
}

int HeadlessUser::DefId(WindowRef dialog) {
    int v = 0;
    b_.Invoke([&] { v = b_.GetDefId(dialog); });
    return v;
}

int HeadlessUser::ProgressPos(WindowRef dialog, int controlId) {
    int v = 0;
    b_.Invoke([&] { v = b_.GetProgressPos(b_.GetItem(dialog, controlId)); });
    return v;
}

std::pair<int, int> HeadlessUser::ProgressRange(WindowRef dialog, int controlId) {
    std::pair<int, int> v{};
    b_.Invoke([&] {
        if (HeadlessBackend::Node* n = b_.Find(b_.GetItem(dialog, controlId))) {
            v = {n->low, n->high};
        }
    });
    return v;
}

std::u16string HeadlessUser::RichText(WindowRef dialog, int controlId) {
    return Text(dialog, controlId);
}

std::pair<int, int> HeadlessUser::Selection(WindowRef dialog, int controlId) {
    std::pair<int, int> v{};
    b_.Invoke([&] {
        if (HeadlessBackend::Node* n = b_.Find(b_.GetItem(dialog, controlId))) {
            v = {n->selStart, n->selEnd};
        }
    });
    return v;
}

CharFormat HeadlessUser::DefaultCharFormat(WindowRef dialog, int controlId) {
    CharFormat v{};
    b_.Invoke([&] {
        if (auto f = b_.GetDefaultCharFormat(b_.GetItem(dialog, controlId))) {
            v = *f;
        }
    });
    return v;
}

int HeadlessUser::IconId(WindowRef dialog, int controlId) {
    int v = 0;
    b_.Invoke([&] {
        if (HeadlessBackend::Node* n = b_.Find(b_.GetItem(dialog, controlId))) {
            v = n->iconId;
        }
    });
    return v;
}

std::vector<std::pair<std::uint32_t, std::u16string>> HeadlessUser::SystemMenu(WindowRef dialog) {
    std::vector<std::pair<std::uint32_t, std::u16string>> v;
    b_.Invoke([&] {
        if (HeadlessBackend::Node* d = b_.Find(dialog)) {
            v = d->sysMenu;
        }
    });
    return v;
}

Rect HeadlessUser::WindowRect(WindowRef dialog, int controlId) {
    Rect v;
    b_.Invoke([&] {
        v = controlId != 0 ? b_.GetRectInParent(b_.GetItem(dialog, controlId))
                           : b_.GetWindowRect(dialog);
    });
    return v;
}

int HeadlessUser::WindowIcon(WindowRef dialog) {
    int v = 0;
    b_.Invoke([&] {
        if (HeadlessBackend::Node* n = b_.Find(dialog)) {
            v = n->windowIcon;
        }
    });
    return v;
}

WindowRef HeadlessUser::Active() {
    WindowRef v;
    b_.Invoke([&] {
        if (HeadlessBackend::Node* a = b_.ActiveWindow()) {
            v = a->ref;
        }
    });
    return v;
}

}  // namespace talvo
