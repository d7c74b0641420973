// Which HID platform the executable talks to. The product uses the system's
// HID devices; the test build puts an emulated TALVO on an emulated bus in
// their place. The choice holds what it set up for as long as it lives and
// hands its platform to the application.
#pragma once

#include <memory>
#include <string>

namespace talvo {

class IHidPlatform;

class HidChoice {
  public:
    virtual ~HidChoice() = default;
    virtual IHidPlatform& Platform() = 0;
};

// Null, with the reason in *error, when the environment asks for something
// that cannot be set up.
std::unique_ptr<HidChoice> ChooseHidPlatform(std::string* error);

}  // namespace talvo
