// Notices a device that is present but that this user may not open, so a
// program can say so instead of waiting for a device that never appears.
//
// A node counts once it has refused this process on every check for
// `graceMs`: udev grants a seat user access a moment after it makes the
// node, so a device that was just plugged in is not yet a permission
// problem.
#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "hid/hid_platform.h"

namespace talvo {

class HidAccessWatch {
  public:
    HidAccessWatch(IHidPlatform& platform, std::uint16_t vendorId,
                   std::vector<std::uint16_t> productIds, std::uint32_t graceMs = 1500,
                   std::uint32_t intervalMs = 250);

    // Looks again when intervalMs of Clock::Current() have passed since the
    // last look; the paths of matching nodes refused for graceMs or longer.
    std::vector<std::string> Poll();

  private:
    IHidPlatform& platform_;
    const std::uint16_t vendorId_;
    const std::vector<std::uint16_t> productIds_;
    const std::uint32_t graceMs_;
    const std::uint32_t intervalMs_;
    bool looked_ = false;
    std::uint32_t lastLook_ = 0;
    std::map<std::string, std::uint32_t> refusedSince_;  // by path
};

}  // namespace talvo
