#include "device/unit_list.h"

#include <algorithm>
#include <memory>

#include "device/device_comm_app.h"
#include "device/update_controller.h"
#include "hid/hid_platform.h"
#include "hid/talvo_ids.h"

namespace talvo {

namespace {

// The mode an interface's identity and report lengths stand for, or none.
DeviceMode ModeOf(const HidInterfaceInfo& info) {
    if (info.vendorId != kTalvoVendorId) {
        return kDeviceModeNone;
    }
    if (info.productId == kTalvoNormalProductId &&
        info.inputReportByteLength == kNormalReportLength + 1 &&
        info.outputReportByteLength == kNormalReportLength + 1) {
        return kDeviceModeNormal;
    }
    if (info.productId == kTalvoUpdateProductId &&
        info.inputReportByteLength == kUpdateReportLength + 1 &&
        info.outputReportByteLength == kUpdateReportLength + 1) {
        return kDeviceModeUpdate;
    }
    return kDeviceModeNone;
}

bool IsTalvoProduct(std::uint16_t product) {
    return product == kTalvoNormalProductId || product == kTalvoUpdateProductId;
}

}  // namespace

std::vector<UnitEntry> ListUnits(IHidPlatform& platform) {
    std::vector<UnitEntry> units;
    auto place = [&](UnitEntry entry) {
        if (!entry.location.empty()) {
            auto same = std::find_if(units.begin(), units.end(), [&](const UnitEntry& unit) {
                return unit.location == entry.location;
            });
            if (same != units.end()) {
                if (entry.openable && (!same->openable || entry.mode == kDeviceModeNormal)) {
                    *same = entry;
                }
                return;
            }
        }
        units.push_back(std::move(entry));
    };
    if (std::unique_ptr<IHidInterfaceList> list = platform.ListInterfaces()) {
        for (std::size_t index = 0;; ++index) {
            std::uint16_t vendor = 0, product = 0;
            if (list->PeekIds(index, vendor, product) &&
                (vendor != kTalvoVendorId || !IsTalvoProduct(product))) {
                continue;
            }
            std::unique_ptr<IHidInterfaceHandle> handle;
            const HidSlot slot = list->Open(index, HidOpenPurpose::kProbe, handle);
            if (slot == HidSlot::kEnd || slot == HidSlot::kFailed) {
                break;
            }
            if (slot != HidSlot::kOpened || !handle) {
                continue;
            }
            const DeviceMode mode = ModeOf(handle->Info());
            if (mode != kDeviceModeNone) {
                place(UnitEntry{handle->Info().location, mode, true, {}});
            }
        }
    }
    for (const HidDeniedInterface& denied : platform.DeniedInterfaces(kTalvoVendorId)) {
        if (IsTalvoProduct(denied.productId)) {
            place(UnitEntry{
                denied.location,
                denied.productId == kTalvoNormalProductId ? kDeviceModeNormal : kDeviceModeUpdate,
                false, denied.path});
        }
    }
    return units;
}

UnitVersions ReadUnitVersions(IHidPlatform& platform, const UnitEntry& entry) {
    UnitVersions read;
    if (!entry.openable) {
        return read;
    }
    CDeviceCommApp connection(platform);
    if (!connection.Open(entry.mode, entry.location)) {
        read.inUse = connection.LastOpenInUse();
        return read;
    }
    read.opened = true;
    for (std::size_t slot = 0; slot < read.versions.size(); ++slot) {
        bool busy = false;
        if (!ReadVersionSlot(connection, slot, read.versions[slot], busy)) {
            read.versions[slot] = kVersionUnknown;
        }
    }
    connection.Close();
    return read;
}

}  // namespace talvo
