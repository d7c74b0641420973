// The TALVO units attached at one moment, each by where it is plugged in:
// what `talvo-update list` shows, what a run with several units refuses
// over, and what a window lets the user choose from.
#pragma once

#include <string>
#include <vector>

#include "device/device_mode.h"
#include "device/version_rules.h"

namespace talvo {

class IHidPlatform;

struct UnitEntry {
    std::string location;  // empty when the platform gives none
    DeviceMode mode = kDeviceModeNone;
    // This user may open it (false: present, refused for want of permission).
    bool openable = true;
    std::string deniedPath;  // the node that refused, when not openable
};

// One entry per unit in enumeration order, by location: a unit that shows
// both identities counts once, in normal mode (as the watcher sees it).
// Interfaces without a location count as one unit each.
std::vector<UnitEntry> ListUnits(IHidPlatform& platform);

// What reading a unit's versions gave.
struct UnitVersions {
    bool opened = false;
    bool inUse = false;     // another updater converses with it
    VersionSlots versions;  // "---" for a refused one; empty when not opened
};

// Opens the unit at `entry` for a moment and reads its three versions with
// command 6 (a busy answer counts as a refusal).
UnitVersions ReadUnitVersions(IHidPlatform& platform, const UnitEntry& entry);

}  // namespace talvo
