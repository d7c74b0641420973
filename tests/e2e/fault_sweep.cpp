// The fault sweep. One run of a whole update (restart into update mode,
// settling, every image, the closing restart) counts every point where a
// fault can land; then the update runs once per point and fault kind that
// applies there, and each run must hold:
//  - it ends, once, within the updater's own limits on the scaled clock;
//  - success only when the flash holds the package byte for byte, and the
//    success flag agrees with the result;
//  - no updater or watcher thread is left;
//  - when a device is on the bus at the end, the last command it took is
//    the closing one.
//
//   talvo_fault_sweep [--package=shipped|small] [--sample=N] [--point=P --kind=K [--trace]]
//   talvo_fault_sweep --package=small --soak=N [--seed=S]   # N soak runs from seed S
//   talvo_fault_sweep --package=small --seed=S              # one soak run again
//
// --sample=N runs N (point, kind) pairs spread evenly over the whole list
// (the fast sample in the test command); --point/--kind replays one run.
// --speedup=X runs the device clock X times real time (default 200; the
// test command's sample runs at the e2e speed, safe under the sanitizers).
// It prints the points by kind, the runs, each failure and the time.
#include <sys/resource.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <string>
#include <vector>

#include "tests/e2e/e2e_support.h"
#include "tools/fw_image_builder.h"

namespace talvo::e2e {
namespace {

constexpr PointFaultKind kKinds[] = {
    PointFaultKind::kUnplug,       PointFaultKind::kErrorStatus,  PointFaultKind::kHeaderMismatch,
    PointFaultKind::kDropResponse, PointFaultKind::kLateResponse, PointFaultKind::kNeverComesBack,
};

// Faster than the other whole-system runs: the sweep waits out the long
// limits again and again.
double g_sweepSpeedup = 200.0;  // --speedup
// The soak adds jitter and runs under the sanitizers: at 200x a 5 s limit is
// 25 ms of real time, less than a loaded machine may stall a thread.
constexpr double kSoakSpeedup = kSpeedup;

// Longer than the longest run the updater can make (mode waits, settling,
// FU_WRITEFW's limit, the closing restart), in device milliseconds.
constexpr std::uint32_t kRunLimitMs = 1500000;

// Two images of two pieces each: the same kinds of points as the shipped
// package, far fewer output reports.
const FirmwarePackage& SmallPackage() {
    static const FirmwarePackage* package = [] {
        auto* p = new FirmwarePackage;
        const char* magics[] = {"", "UASP", "DSPA"};
        for (int slot = 1; slot <= 2; ++slot) {
            const fwtools::Bytes image = fwtools::BuildImage(fwtools::SeededImage(
                magics[slot], "1.07", 12000 + 500 * static_cast<std::uint32_t>(slot),
                0x5100 + static_cast<std::uint64_t>(slot), 0x1234567u, 0x7654321u));
            p->imageData[slot].reset(new std::uint8_t[image.size()]);
            std::memcpy(p->imageData[slot].get(), image.data(), image.size());
            p->imageLength[slot] = static_cast<std::uint32_t>(image.size());
            p->imageVersion[slot] = u"1.07";
        }
        return p;
    }();
    return *package;
}

struct Run {
    int point = -1;
    PointFaultKind kind = PointFaultKind::kUnplug;
};

bool g_printTrace = false;  // --trace: the device's wire trace of each faulted run

std::vector<std::string> RunOnce(const FirmwarePackage& package, const PointFault& fault,
                                 const std::string& at, std::vector<FaultPoint>* points,
                                 const Scenario& scenario = Named("current"), bool mustFire = true,
                                 double speedup = 0) {
    Rig rig(speedup > 0 ? speedup : g_sweepSpeedup);
    const Outcome o = rig.Run(
        scenario, package,
        [&](EmulatedTalvo& t, CUpdateSession& s) {
            // Counting starts once the versions are read: then only the
            // update talks to the device.
            s.PumpUntil(
                [&] {
                    for (const auto& version : s.Versions()) {
                        if (version.empty()) {
                            return false;
                        }
                    }
                    return true;
                },
                60000);
            t.Core().CountFaultPoints(fault);
        },
        kRunLimitMs);
    // Answer faults leave the device on the bus (but for the updater's own
    // restarts): the updater must close the session with it. Except a
    // restart request whose answer was garbled, lost or late: the device
    // carried it out and is away restarting when the updater gives up.
    const bool carriedOutRestart = at == kRestart && fault.kind != PointFaultKind::kErrorStatus;
    const bool stayed = fault.kind != PointFaultKind::kUnplug &&
                        fault.kind != PointFaultKind::kNeverComesBack && !carriedOutRestart;
    std::vector<std::string> broken;
    if (!o.ended || o.endMessages != 1) {
        broken.push_back("no single end within the limit (" + std::to_string(o.endMessages) +
                         " end messages)");
    }
    if (o.success != (o.result == kResultOk)) {
        broken.push_back("success flag and result disagree");
    }
    if (o.success && !o.flashIsPackage) {
        broken.push_back("false success: the flash is not the package");
    }
    if (!o.threadsGone) {
        broken.push_back("a thread was left");
    }
    if (o.ended && (stayed || fault.point < 0) && !TakesClosingCommand(*rig.talvo, 30000)) {
        const std::vector<std::string> names = rig.talvo->CommandNames();
        broken.push_back("the device stayed, but its last command \"" +
                         (names.empty() ? "" : names.back()) + "\" is not the closing one");
    }
    if (mustFire && fault.point >= 0 && !rig.talvo->Core().PointFaultFired()) {
        broken.push_back("the fault never fired (the run differs from the recording)");
    }
    if (points != nullptr) {
        *points = rig.talvo->Core().FaultPoints();
    } else if (g_printTrace) {
        for (const std::string& line : rig.talvo->Trace().Lines()) {
            if (line.find(" MSG ") != std::string::npos || line.find(" -- ") != std::string::npos) {
                std::printf("%s\n", line.c_str());
            }
        }
    }
    if (!broken.empty()) {
        broken.insert(broken.begin(), "result " + std::to_string(o.result));
    }
    return broken;
}

// The soak: updates with a seeded random fault and seeded timing jitter
// (pacing, processing and restart times), each seed its own run.
struct SoakRun {
    Scenario scenario;
    PointFault fault;
};

SoakRun SoakCase(std::uint32_t seed, int pointCount) {
    std::uint64_t state = seed * 0x9E3779B97F4A7C15ull + 1;
    const auto next = [&](std::uint32_t below) {
        state = state * 6364136223846793005ull + 1442695040888963407ull;
        return static_cast<std::uint32_t>((state >> 33) % below);
    };
    SoakRun run{Named("current"), PointFault{}};
    DeviceTiming& timing = run.scenario.device.timing;
    timing.leaveDelayMs = 20 + next(200);
    timing.toUpdateDelayMs = 300 + next(3000);
    timing.toNormalDelayMs = 300 + next(3000);
    timing.writeFwDurationMs = next(200);
    timing.commandProcessingUs = next(3000);
    const UsbPacing pacings[] = {UsbPacing::kNone, UsbPacing::kFullSpeed, UsbPacing::kHighSpeed};
    run.scenario.inputPacing = pacings[next(3)];
    run.scenario.outputPacing = pacings[next(3)];
    if (next(8) != 0) {  // one run in eight has no fault
        run.fault.point = static_cast<int>(next(static_cast<std::uint32_t>(pointCount)));
        run.fault.kind = kKinds[next(6)];
        run.fault.comeBackAfterMs = 200 + next(4000);
        run.fault.delayMs = next(30000);
        run.fault.status = static_cast<std::uint8_t>(1 + next(0x13));
    }
    return run;
}

long PeakMemoryKiB() {
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return usage.ru_maxrss;
}

int Soak(const FirmwarePackage& package, long runs, std::uint32_t firstSeed,
         const std::vector<FaultPoint>& points) {
    const int pointCount = static_cast<int>(points.size());
    const auto start = std::chrono::steady_clock::now();
    int passed = 0;
    std::vector<std::uint32_t> failed;
    for (long i = 0; i < runs; ++i) {
        const std::uint32_t seed = firstSeed + static_cast<std::uint32_t>(i);
        const SoakRun run = SoakCase(seed, pointCount);
        // On stderr: the seed a sanitizer's abort interrupted.
        std::fprintf(stderr, "seed %u\n", seed);
        const std::vector<std::string> broken =
            RunOnce(package, run.fault, run.fault.point >= 0 ? points[run.fault.point].what : "",
                    nullptr, run.scenario, false, kSoakSpeedup);
        if (broken.empty()) {
            ++passed;
            continue;
        }
        failed.push_back(seed);
        std::printf("FAIL --seed=%u (%s at point %d):", seed, PointFaultKindName(run.fault.kind),
                    run.fault.point);
        for (const std::string& b : broken) {
            std::printf(" %s;", b.c_str());
        }
        std::printf("\n");
        std::fflush(stdout);
    }
    const std::chrono::duration<double> elapsed = std::chrono::steady_clock::now() - start;
    std::printf("soak: %d of %ld passed, seeds %u..%u, failing seeds:", passed, runs, firstSeed,
                firstSeed + static_cast<std::uint32_t>(runs) - 1);
    for (std::uint32_t seed : failed) {
        std::printf(" %u", seed);
    }
    std::printf("%s; peak memory %ld KiB; %.1f s\n", failed.empty() ? " none" : "", PeakMemoryKiB(),
                elapsed.count());
    return failed.empty() ? 0 : 1;
}

int Main(int argc, char** argv) {
    std::string packageName = "shipped";
    long sample = 0;
    int onePoint = -1;
    std::string oneKind;
    long soakRuns = 0;
    long seed = -1;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        if (arg.rfind("--package=", 0) == 0) {
            packageName = arg.substr(10);
        } else if (arg.rfind("--sample=", 0) == 0) {
            sample = std::strtol(arg.c_str() + 9, nullptr, 10);
        } else if (arg.rfind("--point=", 0) == 0) {
            onePoint = static_cast<int>(std::strtol(arg.c_str() + 8, nullptr, 10));
        } else if (arg.rfind("--speedup=", 0) == 0) {
            g_sweepSpeedup = std::strtod(arg.c_str() + 10, nullptr);
        } else if (arg.rfind("--soak=", 0) == 0) {
            soakRuns = std::strtol(arg.c_str() + 7, nullptr, 10);
        } else if (arg.rfind("--seed=", 0) == 0) {
            seed = std::strtol(arg.c_str() + 7, nullptr, 10);
        } else if (arg == "--trace") {
            g_printTrace = true;
        } else if (arg.rfind("--kind=", 0) == 0) {
            oneKind = arg.substr(7);
        } else {
            std::fprintf(stderr,
                         "usage: %s [--package=shipped|small] [--sample=N] "
                         "[--point=P --kind=K [--trace]] [--soak=N] [--seed=S] [--speedup=X]\n",
                         argv[0]);
            return 2;
        }
    }
    const FirmwarePackage& package = packageName == "small" ? SmallPackage() : ShippedPackage();
    const auto start = std::chrono::steady_clock::now();

    // The recording run: no fault, every point counted.
    std::vector<FaultPoint> points;
    std::vector<std::string> broken = RunOnce(package, PointFault{}, "", &points);
    if (!broken.empty()) {
        std::printf("the run without faults fails: %s\n", broken.front().c_str());
        return 1;
    }
    // The points must not depend on timing, or a fault would land elsewhere.
    std::vector<FaultPoint> again;
    RunOnce(package, PointFault{}, "", &again);
    for (std::size_t i = 0; i < points.size() || i < again.size(); ++i) {
        if (i >= points.size() || i >= again.size() || points[i].what != again[i].what) {
            std::printf("the points differ between two runs from point %zu on: %s / %s\n", i,
                        i < points.size() ? points[i].what.c_str() : "(end)",
                        i < again.size() ? again[i].what.c_str() : "(end)");
            return 1;
        }
    }
    if (soakRuns > 0 || seed >= 0) {
        // A seed alone replays that one run.
        return Soak(package, soakRuns > 0 ? soakRuns : 1,
                    static_cast<std::uint32_t>(seed < 0 ? 1 : seed), points);
    }
    std::map<std::string, int> byKind;
    for (const FaultPoint& p : points) {
        ++byKind[FaultPointKindName(p.kind)];
    }
    std::printf("fault points: %zu (", points.size());
    const char* separator = "";
    for (const auto& [kind, count] : byKind) {
        std::printf("%s%s %d", separator, kind.c_str(), count);
        separator = ", ";
    }
    std::printf(")\n");

    std::vector<Run> runs;
    for (int point = 0; point < static_cast<int>(points.size()); ++point) {
        for (PointFaultKind kind : kKinds) {
            if (PointFaultApplies(kind, points[point].kind) &&
                (onePoint < 0 || (point == onePoint && oneKind == PointFaultKindName(kind)))) {
                runs.push_back(Run{point, kind});
            }
        }
    }
    const std::size_t all = runs.size();
    if (sample > 0 && static_cast<std::size_t>(sample) < runs.size()) {
        std::vector<Run> picked;
        for (long i = 0; i < sample; ++i) {
            picked.push_back(
                runs[static_cast<std::size_t>(i) * runs.size() / static_cast<std::size_t>(sample)]);
        }
        runs = picked;
    }
    std::printf("runs: %zu of %zu (point x kind)\n", runs.size(), all);
    std::fflush(stdout);

    int failures = 0;
    for (const Run& run : runs) {
        PointFault fault;
        fault.point = run.point;
        fault.kind = run.kind;
        broken = RunOnce(package, fault, points[run.point].what, nullptr);
        if (!broken.empty()) {
            ++failures;
            std::printf("FAIL --point=%d --kind=%s (%s: %s):", run.point,
                        PointFaultKindName(run.kind), FaultPointKindName(points[run.point].kind),
                        points[run.point].what.c_str());
            for (const std::string& b : broken) {
                std::printf(" %s;", b.c_str());
            }
            std::printf("\n");
            std::fflush(stdout);
        }
    }
    const std::chrono::duration<double> elapsed = std::chrono::steady_clock::now() - start;
    std::printf("package %s: %zu points, %zu runs, %d failures, %.1f s\n", packageName.c_str(),
                points.size(), runs.size(), failures, elapsed.count());
    return failures == 0 ? 0 : 1;
}

}  // namespace
}  // namespace talvo::e2e

int main(int argc, char** argv) {
    return talvo::e2e::Main(argc, argv);
}
