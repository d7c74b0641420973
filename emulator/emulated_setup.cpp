#include "emulator/emulated_setup.h"

#include <cstdlib>
#include <string>

namespace talvo {

std::optional<double> ParseEmulatorSpeed(std::string_view text) {
    const std::string copy(text);
    char* end = nullptr;
    const double speed = std::strtod(copy.c_str(), &end);
    if (copy.empty() || end != copy.c_str() + copy.size() || !(speed >= 1.0) ||
        speed > kMaxEmulatorSpeed) {
        return std::nullopt;
    }
    return speed;
}

EmulatedSetup::EmulatedSetup(const Scenario& scenario, double speed) {
    if (speed > 1.0) {
        clock_.emplace(speed);
        scopedClock_.emplace(*clock_);
    }
    talvo_ = std::make_unique<EmulatedTalvo>(bus_, scenario);
}

EmulatedSetup::~EmulatedSetup() {
    talvo_.reset();
}

}  // namespace talvo
