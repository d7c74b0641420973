#include "ui/dialog_manager.h"

#include <algorithm>

namespace talvo {

namespace {
// DM_GETDEFID's answer carries this in its high word when there is a
// default button.
constexpr std::intptr_t kHasDefId = 0x534B;
}  // namespace

bool DialogManager::IsPushButton(ControlKind kind) {
    return kind == ControlKind::PushButton || kind == ControlKind::DefaultPushButton;
}

bool DialogManager::IsRadio(ControlKind kind) {
    return kind == ControlKind::RadioButton || kind == ControlKind::AutoRadioButton;
}

bool DialogManager::IsButton(ControlKind kind) {
    return IsPushButton(kind) || IsRadio(kind);
}

int DialogManager::InitialDefId(const DialogTemplate& t) {
    for (const ControlTemplate& c : t.controls) {
        if (c.kind == ControlKind::DefaultPushButton) {
            return c.id;
        }
    }
    return 0;
}

WindowRef DialogManager::FirstTabStop(WindowRef dialog) {
    for (WindowRef c : controls_.ControlsOf(dialog)) {
        const auto facts = controls_.FactsOf(c);
        if (facts && (facts->style & kCtlTabStop) != 0 && facts->shown && ui_.IsEnabled(c)) {
            return c;
        }
    }
    return {};
}

std::intptr_t DialogManager::DefDlgProc(WindowRef dialog, std::uint32_t message,
                                        std::uintptr_t wParam, std::intptr_t lParam) {
    switch (message) {
        case msg::kSysCommand:
            if ((wParam & 0xFFF0) == kScClose) {
                return ui_.Send(dialog, msg::kClose, 0, 0);
            }
            return 0;
        case msg::kClose: {
            const WindowRef cancel = ui_.GetItem(dialog, kIdCancel);
            if (!cancel || ui_.IsEnabled(cancel)) {
                return Command(dialog, kIdCancel, cancel);
            }
            return 0;
        }
        case msg::kDmGetDefId: {
            const int id = ui_.GetDefId(dialog);
            return id != 0 ? (kHasDefId << 16) | id : 0;
        }
        case msg::kDmSetDefId:
            ui_.SetDefId(dialog, static_cast<int>(wParam));
            return 1;
        case msg::kNextDlgCtl:
            if (lParam != 0) {
                ui_.NextDlgCtl(dialog, WindowRef{wParam});
            }
            return 0;
        default:
            return 0;
    }
}

void DialogManager::Enter(WindowRef dialog, const Dialog* object) {
    if (object != nullptr && DialogAccess::IgnoresEnter(*object)) {
        return;
    }
    const WindowRef focus = ui_.GetFocus();
    const auto facts = controls_.FactsOf(focus);
    if (facts && IsPushButton(facts->kind)) {
        const auto& mine = controls_.ControlsOf(dialog);
        if (std::find(mine.begin(), mine.end(), focus) != mine.end()) {
            Command(dialog, ui_.GetId(focus), focus);
            return;
        }
    }
    const std::intptr_t def = ui_.Send(dialog, msg::kDmGetDefId, 0, 0);
    if (((def >> 16) & 0xFFFF) == kHasDefId) {
        const int id = static_cast<int>(def & 0xFFFF);
        const WindowRef button = ui_.GetItem(dialog, id);
        if (!button || ui_.IsEnabled(button)) {
            Command(dialog, id, button);
        }
        return;
    }
    Command(dialog, kIdOk, ui_.GetItem(dialog, kIdOk));
}

void DialogManager::Escape(WindowRef dialog) {
    Command(dialog, kIdCancel, ui_.GetItem(dialog, kIdCancel));
}

void DialogManager::CloseCommand(WindowRef dialog) {
    ui_.Send(dialog, msg::kSysCommand, kScClose, 0);
}

void DialogManager::CheckAutoRadio(WindowRef dialog, WindowRef button) {
    const auto self = controls_.FactsOf(button);
    if (!self || self->kind != ControlKind::AutoRadioButton) {
        return;
    }
    const std::vector<WindowRef> kids = controls_.ControlsOf(dialog);
    const auto at = std::find(kids.begin(), kids.end(), button);
    if (at == kids.end()) {
        return;
    }
    // Back to the first radio button of the group, then forward to its end.
    auto first = at;
    while (first != kids.begin()) {
        const auto cur = controls_.FactsOf(*first);
        const auto prev = controls_.FactsOf(*(first - 1));
        if ((cur->style & kCtlGroup) != 0 || !prev || !IsRadio(prev->kind)) {
            break;
        }
        --first;
    }
    for (auto it = first; it != kids.end(); ++it) {
        const auto r = controls_.FactsOf(*it);
        if (!r || !IsRadio(r->kind) || (it != first && (r->style & kCtlGroup) != 0)) {
            break;
        }
        ui_.SetCheck(*it, *it == button);
    }
}

void DialogManager::Clicked(WindowRef dialog, WindowRef button) {
    Command(dialog, ui_.GetId(button), button);
}

std::intptr_t DialogManager::Command(WindowRef dialog, int id, WindowRef from) {
    // BN_CLICKED is 0: the high word stays clear.
    return ui_.Send(dialog, msg::kCommand, static_cast<std::uintptr_t>(id & 0xFFFF),
                    static_cast<std::intptr_t>(from.value));
}

}  // namespace talvo
