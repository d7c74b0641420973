// The dialog manager's default behaviour, for a backend whose window system
// has none of its own: Enter and Esc routing, the close command as Cancel,
// the default push button, the first tab stop, and automatic radio-button
// groups. Written once over IUiBackend, so every such backend behaves as
// Windows does; the Win32 backend leaves all of it to the system.
//
// Every call runs on the UI thread, inside the backend's own handling of
// the input or message.
#pragma once

#include <cstdint>
#include <optional>
#include <vector>

#include "ui/ui_backend.h"

namespace talvo {

class DialogManager {
  public:
    // What the rules must see of a backend's windows beyond IUiBackend.
    class IControls {
      public:
        struct Facts {
            ControlKind kind = ControlKind::Static;
            std::uint32_t style = 0;  // kCtl* bits
            bool shown = false;       // its own visibility, whatever its dialog's
        };
        virtual ~IControls() = default;
        // The controls of a dialog in creation order (their tab order).
        virtual std::vector<WindowRef> ControlsOf(WindowRef dialog) = 0;
        // Kind and style of a control; none for a window that is not one.
        virtual std::optional<Facts> FactsOf(WindowRef window) = 0;
    };

    DialogManager(IUiBackend& ui, IControls& controls) : ui_(ui), controls_(controls) {}

    static bool IsPushButton(ControlKind kind);
    static bool IsRadio(ControlKind kind);
    static bool IsButton(ControlKind kind);

    // The default button of a dialog made from `t`: its first default push
    // button, 0 when it has none.
    static int InitialDefId(const DialogTemplate& t);
    // The control that gets the focus when OnInitDialog asks for the
    // default: the first enabled, visible tab stop.
    WindowRef FirstTabStop(WindowRef dialog);

    // The default handling of a message the dialog left unhandled: the close
    // command sends WM_CLOSE, WM_CLOSE is Cancel unless the Cancel button is
    // disabled, DM_GETDEFID/DM_SETDEFID read and set the default button,
    // WM_NEXTDLGCTL with a window moves the focus there. Returns the answer.
    std::intptr_t DefDlgProc(WindowRef dialog, std::uint32_t message, std::uintptr_t wParam,
                             std::intptr_t lParam);

    // Enter on the active dialog `dialog` (whose object is `object`): nothing
    // when the dialog ignores Enter; else the focused push button is
    // clicked; else the default button unless it is disabled; without a
    // default button, IDOK.
    void Enter(WindowRef dialog, const Dialog* object);
    // Esc: IDCANCEL, whether or not there is such a button.
    void Escape(WindowRef dialog);
    // The close box or Alt+F4: the system command SC_CLOSE.
    void CloseCommand(WindowRef dialog);

    // A click on button `button`: an automatic radio button checks itself
    // and clears the other radio buttons of its group (up to the next
    // control with the group style or the next non-radio control).
    void CheckAutoRadio(WindowRef dialog, WindowRef button);
    // The click's notification: WM_COMMAND with BN_CLICKED from `button`.
    void Clicked(WindowRef dialog, WindowRef button);

  private:
    std::intptr_t Command(WindowRef dialog, int id, WindowRef from);

    IUiBackend& ui_;
    IControls& controls_;
};

}  // namespace talvo
