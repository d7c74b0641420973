// talvo-emulator: the emulated TALVO as a kernel HID device. The same
// device model as everywhere else runs on an emulated bus that a UhidMirror
// copies into the kernel through /dev/uhid, or a GadgetMirror presents as a
// USB HID gadget (the host meets it through its USB stack and usbhid), so
// any program on the machine (ours through hidraw, or anything else that
// speaks HID) meets it as a plugged-in device; several units at once each
// have a bus of their own. Runs until SIGINT or SIGTERM (or --for), then prints
// what the device holds.
#include <signal.h>
#include <time.h>

#include <algorithm>
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
#include "programs/talvo-emulator/gadget_mirror.h"
#include "programs/talvo-emulator/uhid_mirror.h"
#include "programs/talvo-emulator/usb_gadget.h"
#include "hid/emulated_bus.h"

namespace talvo {
namespace {

constexpr int kExitOk = 0;
constexpr int kExitBusFailed = 1;
constexpr int kExitUsage = 2;

const char kUsage[] =
    "Usage: talvo-emulator --uhid | --gadget[=UDC[,UDC...]]  [--units=N]\n"
    "                      [--scenario=NAME[,NAME...]] [--timing=none|full|high]\n"
    "                      [--speed=N] [--trace=FILE] [--for=SECONDS] [--quiet]\n"
    "       talvo-emulator --list-scenarios\n"
    "Presents emulated TALVOs as kernel HID devices through /dev/uhid, or as USB\n"
    "HID gadgets through configfs, until SIGINT or SIGTERM (or --for SECONDS),\n"
    "then prints their modes and versions.\n"
    "  --gadget    one gadget per unit; unit K on UDC K of the list, or on\n"
    "              dummy_udc.(K-1) when none is named\n"
    "  --units     how many TALVOs (default 1, or as many UDCs as named)\n"
    "  --scenario  device state and faults per unit, the last one for the rest\n"
    "              (default outdated; --list-scenarios)\n"
    "  --timing    USB pacing when the scenario has none (default full)\n"
    "  --speed     run the device clock N times faster (restart delays)\n"
    "  --trace     write the wire trace to FILE (FILE.K for unit K of several)\n"
    "  --quiet     no lines about devices made and removed\n";

enum class Bus { kNone, kUhid, kGadget };

struct Options {
    Bus bus = Bus::kNone;
    bool list = false;
    bool quiet = false;
    int units = 0;  // 0: as many as UDCs named, at least 1
    std::vector<std::string> udcs;
    std::vector<std::string> scenarios{"outdated"};
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

std::vector<std::string> CommaList(const std::string& text) {
    std::vector<std::string> items;
    std::size_t start = 0;
    for (;;) {
        const std::size_t comma = text.find(',', start);
        items.push_back(text.substr(start, comma - start));
        if (comma == std::string::npos) {
            return items;
        }
        start = comma + 1;
    }
}

bool PositiveNumber(const std::string& text, double& value) {
    char* end = nullptr;
    errno = 0;
    value = std::strtod(text.c_str(), &end);
    return !text.empty() && end != nullptr && *end == '\0' && errno == 0 && value > 0 &&
           value < 1e6;
}

bool Parse(int argc, char** argv, Options& options, std::string& error) {
    auto setBus = [&](Bus bus) {
        if (options.bus != Bus::kNone && options.bus != bus) {
            error = "say --uhid or --gadget, not both";
            return false;
        }
        options.bus = bus;
        return true;
    };
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        std::string value;
        if (arg == "--uhid") {
            if (!setBus(Bus::kUhid)) {
                return false;
            }
        } else if (arg == "--gadget" || Value(arg, "--gadget", value)) {
            if (!setBus(Bus::kGadget)) {
                return false;
            }
            if (arg != "--gadget") {
                options.udcs = CommaList(value);
                for (const std::string& udc : options.udcs) {
                    if (udc.empty() || udc.find('/') != std::string::npos) {
                        error = "--gadget takes UDC names as in /sys/class/udc";
                        return false;
                    }
                }
            }
        } else if (arg == "--list-scenarios") {
            options.list = true;
        } else if (arg == "--quiet") {
            options.quiet = true;
        } else if (Value(arg, "--units", value)) {
            double units = 0;
            if (!PositiveNumber(value, units) || units != static_cast<int>(units) || units > 16) {
                error = "--units needs a whole number from 1 to 16";
                return false;
            }
            options.units = static_cast<int>(units);
        } else if (Value(arg, "--scenario", value)) {
            options.scenarios = CommaList(value);
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
    if (options.bus == Bus::kNone && !options.list) {
        error = "say --uhid or --gadget (the buses this program presents the device on)";
        return false;
    }
    if (options.units == 0) {
        options.units = std::max<int>(1, static_cast<int>(options.udcs.size()));
    }
    if (!options.udcs.empty() && static_cast<int>(options.udcs.size()) != options.units) {
        error = "--gadget names " + std::to_string(options.udcs.size()) + " UDCs for " +
                std::to_string(options.units) + " units";
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

// One emulated TALVO and its bus side. Members go in the order they are
// taken down in reverse: the device leaves, then its mirror stops, then
// the gadget is removed.
struct Unit {
    int number = 1;
    Scenario scenario;
    std::FILE* trace = nullptr;
    EmulatedBus bus;
    std::unique_ptr<ConfigfsGadget> gadget;
    std::unique_ptr<UhidMirror> uhid;
    std::unique_ptr<GadgetMirror> gadgetMirror;
    std::unique_ptr<EmulatedTalvo> talvo;

    ~Unit() {
        talvo.reset();
        gadgetMirror.reset();
        uhid.reset();
        gadget.reset();
        if (trace != nullptr) {
            std::fclose(trace);
        }
    }

    // Devices the bus side made, and its failures.
    int Made() const {
        return uhid ? uhid->GetCounts().created : gadgetMirror->GetCounts().connected;
    }
    int Failures() const {
        return uhid ? uhid->GetCounts().failures : gadgetMirror->GetCounts().failures;
    }
    std::string CountsLine() const {
        if (uhid) {
            const UhidMirror::Counts c = uhid->GetCounts();
            return "uhid: " + std::to_string(c.created) + " created, " + std::to_string(c.outputs) +
                   " output reports, " + std::to_string(c.inputs) + " input reports, " +
                   std::to_string(c.ignored) + " ignored, " + std::to_string(c.failures) +
                   " failures, reader at " + (c.realtimeReader ? "real-time" : "normal") +
                   " priority";
        }
        const GadgetMirror::Counts c = gadgetMirror->GetCounts();
        return "gadget " + gadget->Udc() + ": " + std::to_string(c.connected) + " connected, " +
               std::to_string(c.outputs) + " output reports, " + std::to_string(c.inputs) +
               " input reports, " + std::to_string(c.ignored) + " ignored, " +
               std::to_string(c.lost) + " input lost, " + std::to_string(c.failures) + " failures";
    }
};

int Run(const Options& options) {
    const int units = options.units;
    std::vector<Scenario> scenarios;
    for (int k = 0; k < units; ++k) {
        const std::string& name =
            options.scenarios[std::min<std::size_t>(k, options.scenarios.size() - 1)];
        std::optional<Scenario> scenario = Scenario::Find(name);
        if (!scenario) {
            std::fprintf(stderr, "talvo-emulator: unknown scenario %s (see --list-scenarios)\n",
                         name.c_str());
            return kExitUsage;
        }
        if (scenario->heldExclusively) {
            // hidraw lets every process with access open a node; no kernel
            // HID device can be held the way this scenario needs.
            std::fprintf(stderr, "talvo-emulator: scenario %s cannot be presented by the kernel\n",
                         scenario->name.c_str());
            return kExitUsage;
        }
        if (scenario->bothIdentities && options.bus == Bus::kGadget) {
            std::fprintf(stderr,
                         "talvo-emulator: scenario %s needs two devices at once; one gadget is "
                         "one device\n",
                         scenario->name.c_str());
            return kExitUsage;
        }
        if (scenario->inputPacing == UsbPacing::kNone &&
            scenario->outputPacing == UsbPacing::kNone) {
            scenario->inputPacing = scenario->outputPacing = options.pacing;
        }
        scenarios.push_back(*scenario);
    }

    // Every thread started from here on inherits the blocked signals, so
    // only WaitForEnd takes them.
    sigset_t signals;
    sigemptyset(&signals);
    sigaddset(&signals, SIGINT);
    sigaddset(&signals, SIGTERM);
    pthread_sigmask(SIG_BLOCK, &signals, nullptr);

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
    auto prefix = [&](int unit) {
        return units > 1 ? "unit " + std::to_string(unit) + " " : std::string();
    };

    std::vector<std::unique_ptr<Unit>> all;
    for (int k = 1; k <= units; ++k) {
        auto unit = std::make_unique<Unit>();
        unit->number = k;
        unit->scenario = scenarios[k - 1];
        if (!options.trace.empty()) {
            const std::string path =
                units > 1 ? options.trace + "." + std::to_string(k) : options.trace;
            unit->trace = std::fopen(path.c_str(), "w");
            if (unit->trace == nullptr) {
                std::fprintf(stderr, "talvo-emulator: cannot write %s: %s\n", path.c_str(),
                             std::strerror(errno));
                return kExitUsage;
            }
        }
        auto note = [&, k](const std::string& line) {
            const bool routine = line.rfind("uhid: created", 0) == 0 ||
                                 line.rfind("uhid: destroyed", 0) == 0 ||
                                 line.rfind("gadget: connected", 0) == 0 ||
                                 line.rfind("gadget: disconnected", 0) == 0;
            if (!options.quiet || !routine) {
                say(stderr, "talvo-emulator: " + prefix(k) + line);
            }
        };
        if (options.bus == Bus::kUhid) {
            UhidMirror::Options mirrorOptions;
            mirrorOptions.note = note;
            mirrorOptions.phys = "talvo-emulator/uhid-" + std::to_string(k);
            unit->uhid = std::make_unique<UhidMirror>(unit->bus, mirrorOptions);
        } else {
            const std::string udc =
                options.udcs.empty() ? ConfigfsGadget::DefaultUdc(k) : options.udcs[k - 1];
            unit->gadget = std::make_unique<ConfigfsGadget>(udc, ConfigfsGadget::Paths{});
            std::string error;
            if (!unit->gadget->Prepare(error)) {
                say(stderr, "talvo-emulator: " + prefix(k) + "no USB gadget: " + error);
                return kExitBusFailed;
            }
            GadgetMirror::Options mirrorOptions;
            mirrorOptions.note = note;
            unit->gadgetMirror =
                std::make_unique<GadgetMirror>(unit->bus, *unit->gadget, mirrorOptions);
        }
        all.push_back(std::move(unit));
    }

    int code = kExitOk;
    for (auto& unit : all) {
        unit->talvo = std::make_unique<EmulatedTalvo>(unit->bus, unit->scenario);
        if (std::FILE* file = unit->trace) {
            // Lines kept before (the first arrival) go out first; the sink
            // writes the file from then on, under the trace's own lock.
            for (const std::string& line : unit->talvo->Trace().Lines()) {
                std::fprintf(file, "%s\n", line.c_str());
            }
            unit->talvo->Trace().SetSink(
                [file](const std::string& line) { std::fprintf(file, "%s\n", line.c_str()); });
        }
        if (unit->scenario.startMode != TalvoMode::kAbsent && unit->Made() == 0) {
            code = kExitBusFailed;
        }
    }
    if (code == kExitOk) {
        for (const auto& unit : all) {
            const std::string where = unit->uhid ? "on uhid" : "on gadget " + unit->gadget->Udc();
            say(stdout, "talvo-emulator: " + prefix(unit->number) + unit->scenario.name + " (" +
                            unit->scenario.description + ") " + where);
        }
        WaitForEnd(signals, options.seconds);
    }
    for (const auto& unit : all) {
        if (unit->Failures() > 0) {
            code = kExitBusFailed;
        }
        const std::string p = prefix(unit->number);
        const EmulatedTalvo& talvo = *unit->talvo;
        say(stdout, p + "mode: " + TalvoModeName(talvo.Mode()));
        for (int typeCode : {0, 1, 3}) {
            say(stdout, p + "version " + std::to_string(typeCode) + ": " + talvo.Version(typeCode));
        }
        say(stdout, p + "images accepted: " + std::to_string(talvo.ImagesAccepted()));
        say(stdout, p + "arrivals: " + std::to_string(talvo.Arrivals()));
        say(stdout, p + unit->CountsLine());
        unit->talvo->Trace().SetSink({});
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
