// talvo-emulator: the emulated TALVO as a kernel HID device. The same
// device model as everywhere else runs on an emulated bus that a UhidMirror
// copies into the kernel through /dev/uhid, so any program on the machine
// (ours through hidraw, or anything else that speaks HID) meets it as a
// plugged-in device. Runs until SIGINT or SIGTERM (or --for), then prints
// what the device holds.
#include <signal.h>
#include <time.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "base/clock.h"
#include "emulator/emulated_talvo.h"
#include "emulator/scenario.h"
#include "programs/talvo-emulator/uhid_mirror.h"
#include "hid/emulated_bus.h"

namespace talvo {
namespace {

constexpr int kExitOk = 0;
constexpr int kExitUhidFailed = 1;
constexpr int kExitUsage = 2;

const char kUsage[] =
    "Usage: talvo-emulator --uhid [--scenario=NAME] [--timing=none|full|high]\n"
    "                      [--speed=N] [--trace=FILE] [--for=SECONDS] [--quiet]\n"
    "       talvo-emulator --list-scenarios\n"
    "Presents an emulated TALVO as a kernel HID device through /dev/uhid until\n"
    "SIGINT or SIGTERM (or --for SECONDS), then prints its mode and versions.\n"
    "  --scenario  device state and faults (default outdated; --list-scenarios)\n"
    "  --timing    USB pacing when the scenario has none (default full)\n"
    "  --speed     run the device clock N times faster (restart delays)\n"
    "  --trace     write the wire trace to FILE\n"
    "  --quiet     no lines about devices made and removed\n";

struct Options {
    bool uhid = false;
    bool list = false;
    bool quiet = false;
    std::string scenario = "outdated";
    UsbPacing pacing = UsbPacing::kFullSpeed;
    double speed = 1.0;
    double seconds = 0;  // 0: until a signal
    std::string trace;
};

bool Value(const std::string& arg, const char* name, std::string& value) {
    const std::string prefix = std::string(name) + "=";
    if (arg.rfind(prefix, 0) != 0) {
        return false;
    }
    value = arg.substr(prefix.size());
    return true;
}

bool PositiveNumber(const std::string& text, double& value) {
    char* end = nullptr;
    errno = 0;
    value = std::strtod(text.c_str(), &end);
    return !text.empty() && end != nullptr && *end == '\0' && errno == 0 && value > 0 &&
           value < 1e6;
}

bool Parse(int argc, char** argv, Options& options, std::string& error) {
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        std::string value;
        if (arg == "--uhid") {
            options.uhid = true;
        } else if (arg == "--list-scenarios") {
            options.list = true;
        } else if (arg == "--quiet") {
            options.quiet = true;
        } else if (Value(arg, "--scenario", value)) {
            options.scenario = value;
        } else if (Value(arg, "--timing", value)) {
            if (value == "none") {
                options.pacing = UsbPacing::kNone;
            } else if (value == "full") {
                options.pacing = UsbPacing::kFullSpeed;
            } else if (value == "high") {
                options.pacing = UsbPacing::kHighSpeed;
            } else {
                error = "--timing is none, full or high";
                return false;
            }
        } else if (Value(arg, "--speed", value)) {
            if (!PositiveNumber(value, options.speed) || options.speed < 1) {
                error = "--speed needs a number of at least 1";
                return false;
            }
        } else if (Value(arg, "--for", value)) {
            if (!PositiveNumber(value, options.seconds)) {
                error = "--for needs a positive number of seconds";
                return false;
            }
        } else if (Value(arg, "--trace", value) && !value.empty()) {
            options.trace = value;
        } else {
            error = "unknown option " + arg;
            return false;
        }
    }
    if (!options.uhid && !options.list) {
        error = "say --uhid (the only bus this program presents the device on)";
        return false;
    }
    return true;
}

// Waits for SIGINT or SIGTERM (blocked in every thread), or the time limit.
void WaitForEnd(const sigset_t& signals, double seconds) {
    if (seconds <= 0) {
        int signal = 0;
        while (sigwait(&signals, &signal) != 0) {
        }
        return;
    }
    timespec limit{};
    limit.tv_sec = static_cast<time_t>(seconds);
    limit.tv_nsec = static_cast<long>((seconds - static_cast<double>(limit.tv_sec)) * 1e9);
    while (sigtimedwait(&signals, nullptr, &limit) < 0 && errno == EINTR) {
    }
}

int Run(const Options& options) {
    std::optional<Scenario> scenario = Scenario::Find(options.scenario);
    if (!scenario) {
        std::fprintf(stderr, "talvo-emulator: unknown scenario %s (see --list-scenarios)\n",
                     options.scenario.c_str());
        return kExitUsage;
    }
    if (scenario->heldExclusively) {
        // hidraw lets every process with access open a node; no kernel HID
        // device can be held the way this scenario needs.
        std::fprintf(stderr, "talvo-emulator: scenario %s cannot be presented through uhid\n",
                     scenario->name.c_str());
        return kExitUsage;
    }
    if (scenario->inputPacing == UsbPacing::kNone && scenario->outputPacing == UsbPacing::kNone) {
        scenario->inputPacing = scenario->outputPacing = options.pacing;
    }

    // Every thread started from here on inherits the blocked signals, so
    // only WaitForEnd takes them.
    sigset_t signals;
    sigemptyset(&signals);
    sigaddset(&signals, SIGINT);
    sigaddset(&signals, SIGTERM);
    pthread_sigmask(SIG_BLOCK, &signals, nullptr);

    std::FILE* traceFile = nullptr;
    if (!options.trace.empty()) {
        traceFile = std::fopen(options.trace.c_str(), "w");
        if (traceFile == nullptr) {
            std::fprintf(stderr, "talvo-emulator: cannot write %s: %s\n", options.trace.c_str(),
                         std::strerror(errno));
            return kExitUsage;
        }
    }

    std::unique_ptr<ScaledClock> clock;
    std::unique_ptr<ScopedClock> scopedClock;
    if (options.speed > 1.0) {
        clock = std::make_unique<ScaledClock>(options.speed);
        scopedClock = std::make_unique<ScopedClock>(*clock);
    }

    std::mutex outputMutex;
    auto say = [&](std::FILE* to, const std::string& line) {
        std::lock_guard<std::mutex> lock(outputMutex);
        std::fprintf(to, "%s\n", line.c_str());
        std::fflush(to);
    };
    UhidMirror::Options mirrorOptions;
    mirrorOptions.note = [&](const std::string& line) {
        const bool routine =
            line.rfind("uhid: created", 0) == 0 || line.rfind("uhid: destroyed", 0) == 0;
        if (!options.quiet || !routine) {
            say(stderr, "talvo-emulator: " + line);
        }
    };

    EmulatedBus bus;
    UhidMirror mirror(bus, mirrorOptions);
    int code = kExitOk;
    {
        EmulatedTalvo talvo(bus, *scenario);
        if (traceFile != nullptr) {
            // Lines kept before (the first arrival) go out first; the sink
            // writes the file from then on, under the trace's own lock.
            for (const std::string& line : talvo.Trace().Lines()) {
                std::fprintf(traceFile, "%s\n", line.c_str());
            }
            talvo.Trace().SetSink([traceFile](const std::string& line) {
                std::fprintf(traceFile, "%s\n", line.c_str());
            });
        }
        const UhidMirror::Counts start = mirror.GetCounts();
        if (scenario->startMode != TalvoMode::kAbsent && start.created == 0) {
            code = kExitUhidFailed;
        } else {
            say(stdout,
                "talvo-emulator: " + scenario->name + " (" + scenario->description + ") on uhid");
            WaitForEnd(signals, options.seconds);
        }
        const UhidMirror::Counts counts = mirror.GetCounts();
        if (counts.failures > 0) {
            code = kExitUhidFailed;
        }
        say(stdout, std::string("mode: ") + TalvoModeName(talvo.Mode()));
        for (int typeCode : {0, 1, 3}) {
            say(stdout, "version " + std::to_string(typeCode) + ": " + talvo.Version(typeCode));
        }
        say(stdout, "images accepted: " + std::to_string(talvo.ImagesAccepted()));
        say(stdout, "arrivals: " + std::to_string(talvo.Arrivals()));
        say(stdout, "uhid: " + std::to_string(counts.created) + " created, " +
                        std::to_string(counts.outputs) + " output reports, " +
                        std::to_string(counts.inputs) + " input reports, " +
                        std::to_string(counts.ignored) + " ignored, " +
                        std::to_string(counts.failures) + " failures, reader at " +
                        (counts.realtimeReader ? "real-time" : "normal") + " priority");
        talvo.Trace().SetSink({});
    }
    if (traceFile != nullptr) {
        std::fclose(traceFile);
    }
    return code;
}

}  // namespace
}  // namespace talvo

int main(int argc, char** argv) {
    using namespace talvo;
    Options options;
    std::string error;
    if (!Parse(argc, argv, options, error)) {
        std::fprintf(stderr, "talvo-emulator: %s\n%s", error.c_str(), kUsage);
        return kExitUsage;
    }
    if (options.list) {
        for (const std::string& name : Scenario::Names()) {
            std::printf("%-16s %s\n", name.c_str(), Scenario::Named(name).description.c_str());
        }
        return kExitOk;
    }
    return Run(options);
}
