// One window of the headless backend (dialog, control or message box), as
// the backend's files and HeadlessUser see it. Internal to tests/headless_ui.
#pragma once

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "tests/headless_ui/headless_backend.h"

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

}  // namespace talvo
