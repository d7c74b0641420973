// The product: the system's own HID devices (the platform's default).
#include "programs/windows-gui/hid_choice.h"

namespace talvo {

std::unique_ptr<HidChoice> ChooseHidPlatform(std::string*) {
    return std::make_unique<HidChoice>();
}

}  // namespace talvo
