// Figures of whole updates against the emulated TALVO:
//  - the shipped package's download (first FU_SETINFO to the last FU_WRITEFW
//    answer) over the USB full-speed link model, beside the reports each way,
//    the limit the model gives for them and their ratio;
//  - process CPU time and peak resident memory of a whole update (the
//    emulated device runs in the same process, so its share is included);
//  - the device watcher's CPU use while idle, with and without a device;
//  - the same download through the kernel (hidraw -> uhid -> the emulator's
//    uhid side, in a guest: tests/vm/README.md), at full speed beside the
//    in-process run, and with timing off the cost per report of real
//    syscalls on both sides;
//  - and through the USB stack (hidraw -> usbhid -> dummy_hcd -> a HID
//    gadget -> the emulator's gadget side; the guest of tests/vm with
//    --usb=1), with the gaps at which the host controller delivers output
//    reports, since dummy_hcd moves transfers only when its timer runs.
#include <benchmark/benchmark.h>
#include <sys/resource.h>
#include <unistd.h>
#include <time.h>

#include <algorithm>
#include <chrono>
#include <fstream>
#include <mutex>
#include <cstring>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "base/clock.h"
#include "device/device_comm_app.h"
#include "device/device_watcher.h"
#include "tests/e2e/update_session.h"
#include "emulator/emulated_talvo.h"
#include "emulator/scenario.h"
#include "programs/talvo-emulator/gadget_mirror.h"
#include "programs/talvo-emulator/uhid_mirror.h"
#include "programs/talvo-emulator/usb_gadget.h"
#include "firmware/firmware_package.h"
#include "hid/emulated_bus.h"
#include "hid/hid_platform.h"

namespace talvo {
namespace {

const FirmwarePackage& Package() {
    static const FirmwarePackage* package = [] {
        auto* p = new FirmwarePackage;
        LoadFirmwarePackage(*p);
        return p;
    }();
    return *package;
}

double ProcessCpuSeconds() {
    timespec ts{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &ts);
    return static_cast<double>(ts.tv_sec) + static_cast<double>(ts.tv_nsec) * 1e-9;
}

double PeakRssMiB() {
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return static_cast<double>(usage.ru_maxrss) / 1024.0;  // kilobytes on Linux
}

// CPU time of the whole machine (every process, the kernel's interrupts
// and timers too): time up on every CPU less time idle, from /proc/uptime
// (idle time comes from the idle loop itself, where /proc/stat's busy
// times are samples at the tick that miss short bursts); 0 where there is
// none. Its unit is 10 ms.
double MachineCpuSeconds() {
    std::ifstream uptime("/proc/uptime");
    double up = 0, idle = 0;
    if (!(uptime >> up >> idle)) {
        return 0;
    }
    return up * static_cast<double>(sysconf(_SC_NPROCESSORS_ONLN)) - idle;
}

enum class Path { kInProcess, kUhid, kUsb };

// Opens the update-mode device, retrying while a kernel node comes up
// (a USB device takes longer: it is enumerated first).
bool OpenUpdateMode(CDeviceCommApp& connection) {
    for (int attempt = 0; attempt < 500; ++attempt) {
        if (connection.Open(kDeviceModeUpdate)) {
            return true;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    return false;
}

// The shipped package's download, timed, with FU_WRITEFW taking
// `writeFwMs`; the host is whatever platform is current. `throughKernel`
// mirrors the device into the kernel with uhid and leaves the host on the
// native (hidraw) platform. The limit follows the emulator's link model from
// this run's counts: one report per 1 ms frame each way, an answer no
// earlier than the frame after its request's last report plus the device's
// processing time, the next request no earlier than the frame after the
// answer's last report. So the download needs at least (reports out +
// reports in + processing frames) ms; a run below that (ratio < 1) means the
// pacing lets more through than the model allows, and says so.
void RunDownload(benchmark::State& state, UsbPacing pacing, Path path, std::uint32_t writeFwMs) {
    const bool throughKernel = path != Path::kInProcess;
    const FirmwarePackage& package = Package();
    Scenario scenario = Scenario::Named("update-mode");
    scenario.inputPacing = scenario.outputPacing = pacing;
    scenario.device.timing.writeFwDurationMs = writeFwMs;
    const DeviceTiming& timing = scenario.device.timing;
    double bestMs = 0;
    double totalMs = 0;
    double bestLimit = 0;
    double cpuPerReportUs = 0;
    std::size_t reports = 0;
    double machinePerReportUs = 0;
    std::size_t out = 0, in = 0, processingFrames = 0;
    int runs = 0;
    // When the gadget side read each output report (USB path).
    std::mutex gapsMutex;
    std::vector<std::chrono::steady_clock::time_point> arrivals;
    double gapMinUs = 0, gapMedianUs = 0, gapP10Us = 0, gapP90Us = 0;
    for (auto _ : state) {
        EmulatedBus bus;
        std::unique_ptr<UhidMirror> mirror;
        std::unique_ptr<ConfigfsGadget> gadget;
        std::unique_ptr<GadgetMirror> gadgetMirror;
        std::unique_ptr<ScopedHidPlatform> platform;
        if (path == Path::kUhid) {
            mirror = std::make_unique<UhidMirror>(bus, UhidMirror::Options{});
        } else if (path == Path::kUsb) {
            gadget = std::make_unique<ConfigfsGadget>(ConfigfsGadget::DefaultUdc(1),
                                                      ConfigfsGadget::Paths{});
            std::string error;
            if (!gadget->Prepare(error)) {
                state.SkipWithError(("no USB gadget: " + error).c_str());
                return;
            }
            GadgetMirror::Options options;
            options.onOutput = [&] {
                std::lock_guard<std::mutex> lock(gapsMutex);
                arrivals.push_back(std::chrono::steady_clock::now());
            };
            gadgetMirror = std::make_unique<GadgetMirror>(bus, *gadget, options);
        } else {
            platform = std::make_unique<ScopedHidPlatform>(bus);
        }
        EmulatedTalvo talvo(bus, scenario);
        if (mirror && mirror->GetCounts().created == 0) {
            state.SkipWithError("no uhid device (run it as root where /dev/uhid exists)");
            return;
        }
        if (gadgetMirror && gadgetMirror->GetCounts().connected == 0) {
            state.SkipWithError("the USB gadget did not connect");
            return;
        }
        talvo.Trace().SetEnabled(false);
        CDeviceCommApp connection;
        if (!OpenUpdateMode(connection)) {
            state.SkipWithError("no update-mode device");
            return;
        }
        const std::size_t outBefore = talvo.Trace().ReportCount(WireTrace::Direction::kOut);
        const std::size_t inBefore = talvo.Trace().ReportCount(WireTrace::Direction::kIn);
        const std::size_t commandsBefore = talvo.Commands().size();
        {
            std::lock_guard<std::mutex> lock(gapsMutex);
            arrivals.clear();
        }
        const double cpuStart = ProcessCpuSeconds();
        const double machineStart = MachineCpuSeconds();
        const auto start = std::chrono::steady_clock::now();
        for (int slot = 0; slot < kImageTypeCount; ++slot) {
            if (!package.HasImage(slot)) {
                continue;
            }
            std::memset(connection.params.b, 0, sizeof connection.params.b);
            StorePointer(connection.params, params_layout::kDownloadImage,
                         package.imageData[slot].get());
            StoreU32(connection.params, params_layout::kDownloadLength, package.imageLength[slot]);
            if (connection.RunCommand(64) != kResultOk) {
                state.SkipWithError("download failed");
                return;
            }
        }
        const std::chrono::duration<double> elapsed = std::chrono::steady_clock::now() - start;
        const double cpu = ProcessCpuSeconds() - cpuStart;
        const double machineCpu = MachineCpuSeconds() - machineStart;
        state.SetIterationTime(elapsed.count());
        out = talvo.Trace().ReportCount(WireTrace::Direction::kOut) - outBefore;
        in = talvo.Trace().ReportCount(WireTrace::Direction::kIn) - inBefore;
        processingFrames = 0;
        const std::vector<std::string> names = talvo.CommandNames();
        for (std::size_t i = commandsBefore; i < names.size(); ++i) {
            std::uint64_t us = timing.commandProcessingUs;
            if (names[i] == "FU_WRITEFW") {
                us += std::uint64_t{timing.writeFwDurationMs} * 1000;
            }
            processingFrames += static_cast<std::size_t>((us + 999) / 1000);
        }
        const double ms = elapsed.count() * 1000.0;
        // CPU per report from the best run too, so that it compares with
        // the best time per report.
        const bool best = runs == 0 || ms < bestMs;
        bestMs = best ? ms : bestMs;
        bestLimit = static_cast<double>(out + in + processingFrames);
        totalMs += ms;
        ++runs;
        connection.Close();
        if (mirror) {
            const UhidMirror::Counts counts = mirror->GetCounts();
            reports = counts.outputs + counts.inputs;
            state.counters["realtime_reader"] = counts.realtimeReader ? 1 : 0;
        }
        if (gadgetMirror) {
            const GadgetMirror::Counts counts = gadgetMirror->GetCounts();
            reports = counts.outputs + counts.inputs;
            // Gaps between output reports as the gadget read them: how the
            // host controller's scheduling spaces a host writing back to back.
            std::vector<double> gaps;
            {
                std::lock_guard<std::mutex> lock(gapsMutex);
                for (std::size_t i = 1; i < arrivals.size(); ++i) {
                    gaps.push_back(
                        std::chrono::duration<double, std::micro>(arrivals[i] - arrivals[i - 1])
                            .count());
                }
            }
            if (!gaps.empty()) {
                std::sort(gaps.begin(), gaps.end());
                gapMinUs = gaps.front();
                gapP10Us = gaps[gaps.size() / 10];
                gapMedianUs = gaps[gaps.size() / 2];
                gapP90Us = gaps[gaps.size() * 9 / 10];
            }
        }
        if (reports > 0 && best) {
            cpuPerReportUs = cpu * 1e6 / static_cast<double>(reports);
            machinePerReportUs = machineCpu * 1e6 / static_cast<double>(reports);
        }
    }
    // The best run shows what the code costs; the mean also what a busy
    // machine adds.
    state.counters["reports_out"] = static_cast<double>(out);
    state.counters["reports_in"] = static_cast<double>(in);
    state.counters["processing_frames"] = static_cast<double>(processingFrames);
    state.counters["best_ms"] = bestMs;
    if (pacing != UsbPacing::kNone) {
        state.counters["limit_ms"] = bestLimit;
        state.counters["ratio_best"] = bestMs / bestLimit;
        state.counters["ratio_mean"] = runs > 0 ? totalMs / runs / bestLimit : 0;
        if (bestMs < bestLimit) {
            state.SetLabel("defect: faster than the link model allows");
        }
    }
    if (throughKernel) {
        // Reports both ways through the kernel, and what each costs the
        // whole process (host, uhid side and device model share it).
        state.counters["reports"] = static_cast<double>(reports);
        state.counters["best_us_per_report"] =
            reports > 0 ? bestMs * 1000.0 / static_cast<double>(reports) : 0;
        state.counters["cpu_us_per_report"] = cpuPerReportUs;
        // The whole machine's CPU, the kernel's timers and interrupts too.
        state.counters["machine_cpu_us_per_report"] = machinePerReportUs;
    }
    if (path == Path::kUsb) {
        state.counters["out_gap_min_us"] = gapMinUs;
        state.counters["out_gap_p10_us"] = gapP10Us;
        state.counters["out_gap_median_us"] = gapMedianUs;
        state.counters["out_gap_p90_us"] = gapP90Us;
    }
}

void BM_PackageDownloadFullSpeed(benchmark::State& state) {
    RunDownload(state, UsbPacing::kFullSpeed, Path::kInProcess,
                static_cast<std::uint32_t>(state.range(0)));
}
BENCHMARK(BM_PackageDownloadFullSpeed)
    ->Arg(0)
    ->Arg(20)
    ->ArgName("writefw_ms")
    ->UseManualTime()
    ->Iterations(3)
    ->Unit(benchmark::kMillisecond);

// Through hidraw and uhid: at full speed (against the same link model as
// the in-process run) and with timing off (the syscalls' own cost).
void BM_PackageDownloadThroughKernel(benchmark::State& state) {
    RunDownload(state, state.range(0) != 0 ? UsbPacing::kFullSpeed : UsbPacing::kNone, Path::kUhid,
                0);
}
BENCHMARK(BM_PackageDownloadThroughKernel)
    ->Arg(1)
    ->Arg(0)
    ->ArgName("full_speed")
    ->UseManualTime()
    ->Iterations(3)
    ->Unit(benchmark::kMillisecond);

// Through hidraw, usbhid, dummy_hcd and a HID gadget: the transfers are
// real USB ones (a host write waits until the device has taken the
// report), their pace the host controller's; with the emulator's own
// full-speed model on top, and with it off (the stack's own cost).
void BM_PackageDownloadThroughUsb(benchmark::State& state) {
    RunDownload(state, state.range(0) != 0 ? UsbPacing::kFullSpeed : UsbPacing::kNone, Path::kUsb,
                0);
}
BENCHMARK(BM_PackageDownloadThroughUsb)
    ->Arg(1)
    ->Arg(0)
    ->ArgName("full_speed")
    ->UseManualTime()
    ->Iterations(3)
    ->Unit(benchmark::kMillisecond);

// A whole update as the terminal front end runs it: watcher, restart,
// settling, both images, closing command. The device clock runs 20 times
// faster so that the 10 s of settling do not dominate the run; CPU time is
// what the work costs, whatever the clock.
void BM_WholeUpdate(benchmark::State& state) {
    const FirmwarePackage& package = Package();
    double cpu = 0;
    for (auto _ : state) {
        ScaledClock clock(20.0);
        ScopedClock scoped(clock);
        EmulatedBus bus;
        ScopedHidPlatform platform(bus);
        Scenario scenario = Scenario::Named("outdated");
        scenario.inputPacing = scenario.outputPacing = UsbPacing::kFullSpeed;
        EmulatedTalvo talvo(bus, scenario);
        const double cpuStart = ProcessCpuSeconds();
        const auto start = std::chrono::steady_clock::now();
        {
            CUpdateSession session;
            session.Begin();
            session.PumpUntil([&] { return session.DeviceReady(); }, 60000);
            session.StartUpdate(package);
            session.PumpUntil([&] { return session.GetState() == CUpdateSession::State::kEnded; },
                              600000);
            if (!session.Succeeded()) {
                state.SkipWithError("update failed");
                return;
            }
        }
        const std::chrono::duration<double> elapsed = std::chrono::steady_clock::now() - start;
        state.SetIterationTime(elapsed.count());
        cpu = ProcessCpuSeconds() - cpuStart;
    }
    state.counters["process_cpu_ms"] = cpu * 1000.0;
    state.counters["peak_rss_MiB"] = PeakRssMiB();
}
BENCHMARK(BM_WholeUpdate)->UseManualTime()->Iterations(2)->Unit(benchmark::kMillisecond);

// The watcher probing for 3 s of real time: CPU share of one core.
void BM_WatcherIdle(benchmark::State& state) {
    const bool withDevice = state.range(0) != 0;
    double share = 0;
    for (auto _ : state) {
        EmulatedBus bus;
        ScopedHidPlatform platform(bus);
        std::unique_ptr<EmulatedTalvo> talvo;
        if (withDevice) {
            talvo = std::make_unique<EmulatedTalvo>(bus, Scenario::Named("current"));
        }
        CDeviceWatcher watcher;
        watcher.Begin(nullptr, nullptr);
        std::this_thread::sleep_for(std::chrono::milliseconds(300));  // first probes
        const double cpuStart = ProcessCpuSeconds();
        const auto start = std::chrono::steady_clock::now();
        std::this_thread::sleep_for(std::chrono::seconds(3));
        const std::chrono::duration<double> wall = std::chrono::steady_clock::now() - start;
        const double cpu = ProcessCpuSeconds() - cpuStart;
        watcher.End();
        state.SetIterationTime(wall.count());
        share = cpu / wall.count();
    }
    state.counters["cpu_percent"] = share * 100.0;
}
BENCHMARK(BM_WatcherIdle)
    ->Arg(0)
    ->Arg(1)
    ->ArgName("device")
    ->UseManualTime()
    ->Iterations(1)
    ->Unit(benchmark::kMillisecond);

}  // namespace
}  // namespace talvo

BENCHMARK_MAIN();
