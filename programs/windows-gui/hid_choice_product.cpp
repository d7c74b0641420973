// The product: the system's own HID devices.
#include "hid/hid_platform.h"
#include "programs/windows-gui/hid_choice.h"

namespace talvo {

namespace {

class SystemChoice final : public HidChoice {
  public:
    IHidPlatform& Platform() override { return HidPlatform::Native(); }
};

}  // namespace

std::unique_ptr<HidChoice> ChooseHidPlatform(std::string*) {
    return std::make_unique<SystemChoice>();
}

}  // namespace talvo
