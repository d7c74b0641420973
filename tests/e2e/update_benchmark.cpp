// Figures of whole updates against the emulated TALVO:
//  - the shipped package's download (first FU_SETINFO to the last FU_WRITEFW
//    answer) over the USB full-speed timing model with instant FU_WRITEFW,
//    beside the wire limit from the report counts (one report per 1 ms
//    frame each way, request then response) and their ratio;
//  - process CPU time and peak resident memory of a whole update (the
//    emulated device runs in the same process, so its share is included);
//  - the device watcher's CPU use while idle, with and without a device.
#include <benchmark/benchmark.h>
#include <sys/resource.h>
#include <time.h>

#include <chrono>
#include <cstring>
#include <memory>
#include <thread>

#include "base/clock.h"
#include "device/device_comm_app.h"
#include "device/device_watcher.h"
#include "device/update_session.h"
#include "emulator/emulated_talvo.h"
#include "emulator/scenario.h"
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

std::uint32_t Reports(std::uint32_t messageBytes, std::uint32_t reportData) {
    return (messageBytes + reportData - 1) / reportData;
}

// Milliseconds the wire needs for one image at one report per 1 ms frame
// each way, each request's reports followed by its response's.
std::uint32_t WireLimitMs(std::uint32_t length) {
    constexpr std::uint32_t kData = 63;  // message bytes per 64-byte report
    std::uint32_t frames = Reports(15, kData) + Reports(8, kData);  // FU_SETINFO
    for (std::uint32_t offset = 0; offset < length; offset += 10240) {
        const std::uint32_t piece = length - offset < 10240 ? length - offset : 10240;
        frames += Reports(piece + 14, kData) + Reports(9, kData);  // FU_FWLOAD
        frames += Reports(8, kData) + Reports(8, kData);           // FU_WRITEFW
    }
    return frames;
}

void BM_PackageDownloadFullSpeed(benchmark::State& state) {
    const FirmwarePackage& package = Package();
    Scenario scenario = Scenario::Named("update-mode");
    scenario.inputPacing = scenario.outputPacing = UsbPacing::kFullSpeed;
    scenario.device.timing.writeFwDurationMs = 0;
    std::uint32_t wire = 0;
    for (int slot = 0; slot < kImageTypeCount; ++slot) {
        if (package.HasImage(slot)) {
            wire += WireLimitMs(package.imageLength[slot]);
        }
    }
    double bestMs = 0;
    double totalMs = 0;
    int runs = 0;
    for (auto _ : state) {
        EmulatedBus bus;
        ScopedHidPlatform platform(bus);
        EmulatedTalvo talvo(bus, scenario);
        CDeviceCommApp connection;
        if (!connection.Open(kDeviceModeUpdate)) {
            state.SkipWithError("no update-mode device");
            return;
        }
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
        state.SetIterationTime(elapsed.count());
        const double ms = elapsed.count() * 1000.0;
        bestMs = runs == 0 || ms < bestMs ? ms : bestMs;
        totalMs += ms;
        ++runs;
        connection.Close();
    }
    // The best run shows what the code costs; the mean also what a busy
    // machine adds.
    state.counters["best_ms"] = bestMs;
    state.counters["wire_limit_ms"] = wire;
    state.counters["ratio_best"] = bestMs / wire;
    state.counters["ratio_mean"] = runs > 0 ? totalMs / runs / wire : 0;
}
BENCHMARK(BM_PackageDownloadFullSpeed)
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
