// The person at the screen of the headless backend: clicks, presses keys,
// answers message boxes and reads what would be shown. Every call is carried
// out on the backend's UI thread, which must be pumping (or be the caller);
// input goes the way the dialog manager routes it (ui/dialog_manager.h).
#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "tests/headless_ui/headless_backend.h"

namespace talvo {

// What a message box shows.
struct BoxInfo {
    WindowRef window;
    WindowRef owner;
    std::u16string caption;
    std::u16string text;
    std::uint32_t icon = 0;  // mb::kIcon* value
    std::vector<std::pair<int, std::u16string>> buttons;
    int defaultButton = 0;
};

class HeadlessUser {
  public:
    explicit HeadlessUser(HeadlessBackend& backend) : b_(backend) {}

    // The newest window of the template, or none.
    WindowRef FindDialog(int templateId);
    // Waits until such a window exists (polling the UI thread).
    WindowRef WaitForDialog(int templateId,
                            std::chrono::milliseconds limit = std::chrono::seconds(5));
    std::optional<BoxInfo> OpenBox();
    std::optional<BoxInfo> WaitForBox(std::chrono::milliseconds limit = std::chrono::seconds(5));
    bool WaitIdle() { return b_.WaitIdle(); }

    // Input. Each returns false when the input could not reach its target
    // (disabled or hidden control, blocked window, no such item).
    bool Click(WindowRef dialog, int controlId);
    bool PressEnter();
    bool PressEscape();
    bool CloseCommand();  // the window's close command (close box / Alt+F4)
    bool ChooseSystemMenu(WindowRef dialog, std::uint32_t command);
    bool AnswerBox(int buttonId);

    // What is shown.
    std::u16string Caption(WindowRef window);
    std::u16string Text(WindowRef dialog, int controlId);
    bool Exists(WindowRef dialog, int controlId);
    bool Enabled(WindowRef dialogOrControl, int controlId = 0);
    bool Visible(WindowRef dialogOrControl, int controlId = 0);
    bool Checked(WindowRef dialog, int controlId);
    int FontWeight(WindowRef dialog, int controlId);
    Rgb TextColor(WindowRef dialog, int controlId);
    int FocusId(WindowRef dialog);  // ID of the focused control of the dialog, 0 none
    int DefId(WindowRef dialog);
    int ProgressPos(WindowRef dialog, int controlId);
    std::pair<int, int> ProgressRange(WindowRef dialog, int controlId);
    std::u16string RichText(WindowRef dialog, int controlId);
    std::pair<int, int> Selection(WindowRef dialog, int controlId);
    CharFormat DefaultCharFormat(WindowRef dialog, int controlId);
    int IconId(WindowRef dialog, int controlId);
    std::vector<std::pair<std::uint32_t, std::u16string>> SystemMenu(WindowRef dialog);
    // Rectangle of a dialog on the screen, or of a control in its dialog.
    Rect WindowRect(WindowRef dialog, int controlId = 0);
    int WindowIcon(WindowRef dialog);
    WindowRef Active();

  private:
    bool Input(const std::function<std::function<void()>()>& decide);
    std::function<void()> BoxAction(WindowRef box, std::uint32_t message, int id);
    // A key or the close command for the active window: a box takes
    // `boxMessage` (WM_COMMAND with its default button, or WM_CLOSE); a
    // dialog gets `route`, unless `needsSystemMenu` and it has none.
    bool KeyToActive(std::uint32_t boxMessage, bool needsSystemMenu,
                     std::function<void(WindowRef dialog)> route);

    HeadlessBackend& b_;
};

}  // namespace talvo
