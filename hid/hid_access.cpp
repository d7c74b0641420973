#include "hid/hid_access.h"

#include <algorithm>

#include "base/clock.h"

namespace talvo {

HidAccessWatch::HidAccessWatch(IHidPlatform& platform, std::uint16_t vendorId,
                               std::vector<std::uint16_t> productIds, std::uint32_t graceMs,
                               std::uint32_t intervalMs)
    : platform_(platform),
      vendorId_(vendorId),
      productIds_(std::move(productIds)),
      graceMs_(graceMs),
      intervalMs_(intervalMs) {}

std::vector<std::string> HidAccessWatch::Poll() {
    const std::uint32_t now = Clock::Current().TickCount();
    if (!looked_ || now - lastLook_ >= intervalMs_) {
        looked_ = true;
        lastLook_ = now;
        std::map<std::string, std::uint32_t> still;
        for (const HidDeniedInterface& node : platform_.DeniedInterfaces(vendorId_)) {
            if (std::find(productIds_.begin(), productIds_.end(), node.productId) ==
                productIds_.end()) {
                continue;
            }
            // A node that was open to us in between starts over.
            auto known = refusedSince_.find(node.path);
            still[node.path] = known == refusedSince_.end() ? now : known->second;
        }
        refusedSince_.swap(still);
    }
    std::vector<std::string> paths;
    for (const auto& [path, since] : refusedSince_) {
        if (now - since >= graceMs_) {
            paths.push_back(path);
        }
    }
    return paths;
}

}  // namespace talvo
