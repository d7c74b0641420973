// The test side of whole-system runs: an emulated TALVO on its own bus, the
// headless session in the main dialog's place, and what a run leaves behind
// (outcome, result, the device's command log, the diagnostic lines).
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "base/clock.h"
#include "tests/e2e/update_session.h"
#include "emulator/emulated_talvo.h"
#include "emulator/scenario.h"
#include "firmware/firmware_package.h"
#include "hid/emulated_bus.h"
#include "hid/hid_platform.h"
#include "protocol/diagnostics.h"

namespace talvo::e2e {

// The device clock runs this much faster than real time in these runs.
inline constexpr double kSpeedup = 50.0;

struct Outcome {
    bool ended = false;                 // the end message arrived
    int endMessages = 0;                // how many end messages arrived
    bool success = false;               // what it said
    ResultCode result = 1;              // the updater's reason
    std::vector<std::string> commands;  // the device's log up to the end message
    std::vector<std::string> lines;     // diagnostic lines, in order
    std::vector<unsigned> progress;     // bar positions posted
    bool flashIsPackage = false;        // every package image is in the flash as is
    bool threadsGone = false;           // updater and watcher threads ended
};

class Rig {
  public:
    explicit Rig(double speedup = kSpeedup);
    ~Rig();

    // Runs one update of `package` on a device set up by `scenario`.
    // `beforeStart` runs once the device is open and ready (and its version
    // reads were cleared from the log), right before Start.
    // The run waits up to `limitMs` of device time for the end.
    Outcome Run(const Scenario& scenario, const FirmwarePackage& package,
                const std::function<void(EmulatedTalvo&, CUpdateSession&)>& beforeStart = {},
                std::uint32_t limitMs = 3000000);
    // Puts a device set up by `scenario` on the bus and a new session in
    // front of it; true once the session has it open, ready and read.
    bool Connect(const Scenario& scenario);

    std::unique_ptr<EmulatedTalvo> talvo;
    std::unique_ptr<CUpdateSession> session;

  private:
    static void Sink(const wchar_t* line, void* self);

    EmulatedBus bus_;
    ScopedHidPlatform platform_{bus_};
    ScaledClock clock_;
    ScopedClock scopedClock_{clock_};
    std::mutex linesMutex_;
    std::vector<std::string> lines_;
    ScopedDiagnosticSink sink_{&Rig::Sink, this};
};

// Whether the last command the device takes, within `limitMs` of device
// time, is the closing one.
bool TakesClosingCommand(const EmulatedTalvo& talvo, std::uint32_t limitMs);

// The shipped package (Normal and DspMain).
const FirmwarePackage& ShippedPackage();
// A package with an updater image in front of the shipped Normal image.
const FirmwarePackage& UpdaterPackage();

int TypeCode(int slot);
// What the device sees for one image: FU_SETINFO, then FU_FWLOAD and
// FU_WRITEFW per 10,240-byte piece, the first `pieces` pairs only when
// `pieces` is not negative.
std::vector<std::string> ImageCommands(const FirmwarePackage& package, int slot, int pieces = -1);
std::uint32_t PieceCount(const FirmwarePackage& package, int slot);
std::uint32_t PieceSize(const FirmwarePackage& package, int slot, std::uint32_t piece);

inline const std::string kRestart = "set 0/1 value=0";
inline const std::string kClosing = "set 0/1 value=1";
inline const std::string kConfirm = "set 11/5 value=1";

std::vector<std::string> Join(std::initializer_list<std::vector<std::string>> parts);

Scenario Named(const std::string& name);

}  // namespace talvo::e2e
