// The emulated TALVO a program runs against instead of the system's HID
// devices: the device on a bus of its own, and, for a speed-up above 1, the
// clock that the device and the host's waits run on, that much faster than
// real time. The one set-up of the Windows test build, of
// `talvo-updater --emulate` and of `talvo-update --emulate`; each hands
// Platform() to what opens devices.
#pragma once

#include <memory>
#include <optional>
#include <string_view>

#include "base/clock.h"
#include "emulator/emulated_talvo.h"
#include "emulator/scenario.h"
#include "hid/emulated_bus.h"

namespace talvo {

inline constexpr double kMaxEmulatorSpeed = 1000.0;

// The one check of a speed-up given as text: a number from 1 to
// kMaxEmulatorSpeed, nothing after it. Nothing for anything else.
std::optional<double> ParseEmulatorSpeed(std::string_view text);

class EmulatedSetup {
  public:
    // `speed` is a value ParseEmulatorSpeed accepts.
    explicit EmulatedSetup(const Scenario& scenario, double speed = 1.0);
    // The device goes before the bus and the clock it runs on.
    ~EmulatedSetup();
    EmulatedSetup(const EmulatedSetup&) = delete;
    EmulatedSetup& operator=(const EmulatedSetup&) = delete;

    IHidPlatform& Platform() { return bus_; }
    EmulatedTalvo& Talvo() { return *talvo_; }

  private:
    std::optional<ScaledClock> clock_;
    std::optional<ScopedClock> scopedClock_;
    EmulatedBus bus_;
    std::unique_ptr<EmulatedTalvo> talvo_;
};

}  // namespace talvo
