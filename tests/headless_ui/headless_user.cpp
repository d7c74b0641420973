#include "tests/headless_ui/headless_user.h"

#include <algorithm>
#include <thread>

#include "tests/headless_ui/headless_node.h"
#include "ui/dialog.h"

namespace talvo {

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
        if (const HeadlessBackend::Node* n = b_.OpenBox()) {
            info = BoxInfo{
                n->ref,     n->parent,       n->text, n->boxText, n->boxType & mb::kIconMask,
                n->buttons, n->defaultButton};
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
        if (!DialogManager::IsButton(n->kind)) {
            return {};
        }
        b_.SetFocusTo(c);
        b_.manager_.CheckAutoRadio(dialog, c);
        return [this, dialog, c] { b_.manager_.Clicked(dialog, c); };
    });
}

bool HeadlessUser::KeyToActive(std::uint32_t boxMessage, bool needsSystemMenu,
                               std::function<void(WindowRef dialog)> route) {
    return Input([&]() -> std::function<void()> {
        HeadlessBackend::Node* a = b_.ActiveWindow();
        if (a == nullptr) {
            return {};
        }
        if (a->type == HeadlessBackend::Node::Type::Box) {
            return BoxAction(a->ref, boxMessage,
                             boxMessage == msg::kCommand ? a->defaultButton : 0);
        }
        if (needsSystemMenu && (a->style & kDlgSystemMenu) == 0) {
            return {};  // no close box, no system menu
        }
        const WindowRef dialog = a->ref;
        return [dialog, route] { route(dialog); };
    });
}

bool HeadlessUser::PressEnter() {
    return KeyToActive(msg::kCommand, false, [this](WindowRef dialog) {
        if (HeadlessBackend::Node* d = b_.Find(dialog)) {
            b_.manager_.Enter(dialog, d->dialog);
        }
    });
}

bool HeadlessUser::PressEscape() {
    return KeyToActive(msg::kClose, false,
                       [this](WindowRef dialog) { b_.manager_.Escape(dialog); });
}

bool HeadlessUser::CloseCommand() {
    return KeyToActive(msg::kClose, true,
                       [this](WindowRef dialog) { b_.manager_.CloseCommand(dialog); });
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
        HeadlessBackend::Node* n = b_.OpenBox();
        if (n == nullptr) {
            return {};
        }
        const bool has = std::any_of(n->buttons.begin(), n->buttons.end(),
                                     [&](const auto& b) { return b.first == buttonId; });
        return has ? BoxAction(n->ref, msg::kCommand, buttonId) : nullptr;
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
        if (DialogManager::IsPushButton(n->kind)) {
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
