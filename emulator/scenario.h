// Scenarios: a TALVO with a given state and a given set of misbehaviours,
// picked by name by the tests, the benchmarks, the terminal demo and the
// Windows test build. See README.md for the list.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "emulator/device_core.h"
#include "emulator/faults.h"

namespace talvo {

// Per-report pacing of one direction of the USB link.
enum class UsbPacing {
    kNone,       // as fast as the host goes
    kFullSpeed,  // one report per 1 ms frame
    kHighSpeed,  // one report per 125 us microframe
};

struct Scenario {
    std::string name = "current";
    std::string description = "normal mode, all versions 1.05 (older than the package)";
    TalvoMode startMode = TalvoMode::kNormal;
    DeviceConfig device;
    UsbPacing inputPacing = UsbPacing::kNone;   // device to host
    UsbPacing outputPacing = UsbPacing::kNone;  // host to device
    std::vector<Fault> faults;
    bool bothIdentities = false;   // both modes present at once
    bool heldExclusively = false;  // the interface cannot be opened
    int reportLength = 0;          // nonzero: this data length in both modes (wrong lengths)

    // The named scenario; throws std::invalid_argument for an unknown name.
    static Scenario Named(std::string_view name);
    static std::optional<Scenario> Find(std::string_view name);
    static std::vector<std::string> Names();
};

}  // namespace talvo
