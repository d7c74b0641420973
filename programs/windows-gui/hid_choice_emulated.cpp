// The test build: an emulated TALVO on an emulated bus instead of the
// system's HID devices. TALVO_EMULATOR_SCENARIO names its scenario
// ("current" when unset); TALVO_EMULATOR_SPEEDUP, when set, runs the device
// side's clock that much faster than real time (a number from 1 to 1000).
// TALVO_EMULATOR_VERSION, when set, is the version text the device reports
// for every firmware type (at most 15 characters).
#include <cstdlib>
#include <optional>

#include "emulator/emulated_setup.h"
#include "programs/windows-gui/hid_choice.h"

namespace talvo {

namespace {

class EmulatedChoice final : public HidChoice {
  public:
    EmulatedChoice(const Scenario& scenario, double speedup) : setup_(scenario, speedup) {}
    IHidPlatform& Platform() override { return setup_.Platform(); }

  private:
    EmulatedSetup setup_;
};

}  // namespace

std::unique_ptr<HidChoice> ChooseHidPlatform(std::string* error) {
    const char* name = std::getenv("TALVO_EMULATOR_SCENARIO");
    const std::string wanted = name != nullptr && *name != '\0' ? name : "current";
    std::optional<Scenario> scenario = Scenario::Find(wanted);
    if (!scenario) {
        if (error != nullptr) {
            *error = "Unknown emulator scenario \"" + wanted + "\".";
        }
        return nullptr;
    }
    if (const char* v = std::getenv("TALVO_EMULATOR_VERSION"); v != nullptr && *v != '\0') {
        const std::string version = v;
        if (version.size() > 15) {
            if (error != nullptr) {
                *error = "TALVO_EMULATOR_VERSION is longer than 15 characters.";
            }
            return nullptr;
        }
        for (const std::size_t typeCode : {0u, 1u, 3u}) {
            scenario->device.versions[typeCode] = version;
        }
    }
    double speedup = 1.0;
    if (const char* s = std::getenv("TALVO_EMULATOR_SPEEDUP"); s != nullptr && *s != '\0') {
        const std::optional<double> parsed = ParseEmulatorSpeed(s);
        if (!parsed) {
            if (error != nullptr) {
                *error =
                    std::string("TALVO_EMULATOR_SPEEDUP must be a number from 1 to 1000, not \"") +
                    s + "\".";
            }
            return nullptr;
        }
        speedup = *parsed;
    }
    return std::make_unique<EmulatedChoice>(*scenario, speedup);
}

}  // namespace talvo
