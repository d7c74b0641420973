// The Linux platform: HID interfaces through hidraw.
//
// Interfaces are the entries of <sysfs>/class/hidraw, in the order of
// their numbers; IDs come from the device's uevent (HID_ID) and report
// lengths from its report descriptor, with the device node's ioctls as
// the fallback for either. Reports are normalised so callers always get
// whole reports with the report ID byte first, 0 for a device without
// numbered reports, just as on the other platforms.
#pragma once

#include <functional>
#include <memory>
#include <string>

#include "hid/hid_platform.h"

namespace talvo {

class HidrawPlatform final : public IHidPlatform {
  public:
    // Opens a device node: returns a file descriptor, or -1 with errno set.
    // The default opens the path with open(2).
    using NodeOpener = std::function<int(const std::string& path, int flags)>;

    explicit HidrawPlatform(std::string sysfsRoot = "/sys", std::string deviceDirectory = "/dev",
                            NodeOpener opener = {});
    ~HidrawPlatform() override;

    std::unique_ptr<IHidInterfaceList> ListInterfaces() override;
    // Nodes of the vendor (by the IDs of their uevent, readable whatever
    // the node's permissions) whose open fails with EACCES or EPERM.
    std::vector<HidDeniedInterface> DeniedInterfaces(std::uint16_t vendorId) override;

  private:
    std::string sysfsRoot_;
    std::string deviceDirectory_;
    NodeOpener opener_;
};

}  // namespace talvo
