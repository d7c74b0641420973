// Figures of the emulated TALVO: how fast the device core takes a whole
// image, and how long one image takes over the bus with each pacing.
#include <benchmark/benchmark.h>

#include "emulator/device_core.h"
#include "emulator/emulated_talvo.h"
#include "emulator/identities.h"
#include "hid/talvo_ids.h"
#include "tests/emulator/scripted_host.h"
#include "tests/emulator/test_image.h"

namespace talvo {
namespace {

using test::Bytes;

Bytes Image() {
    test::TestImageParams params;
    params.bodySize = 76044 - 560;
    return test::BuildTestImage(params);
}

std::uint16_t BodyCrc(const Bytes& image) {
    return static_cast<std::uint16_t>(image[556] | (image[557] << 8));
}

void BM_CoreTakesImage(benchmark::State& state) {
    const Bytes image = Image();
    std::vector<std::vector<Bytes>> requests;
    WireTrace trace;
    trace.SetEnabled(false);
    DeviceCore core(DeviceConfig{}, trace);
    test::CoreHost host(core, TalvoDeviceLink(TalvoMode::kUpdate));
    requests.push_back(
        host.Reports(test::SetInfo(1, static_cast<std::uint32_t>(image.size()), BodyCrc(image))));
    for (std::size_t offset = 0; offset < image.size(); offset += 10240) {
        requests.push_back(host.Reports(
            test::FwLoad(image, offset, std::min<std::size_t>(10240, image.size() - offset))));
        requests.push_back(host.Reports(test::WriteFw()));
    }
    for (auto _ : state) {
        for (const auto& reports : requests) {
            benchmark::DoNotOptimize(host.FeedReports(reports));
        }
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * image.size()));
}
BENCHMARK(BM_CoreTakesImage)->Unit(benchmark::kMillisecond);

void BM_BusImage(benchmark::State& state) {
    const Bytes image = Image();
    Scenario scenario = Scenario::Named("update-mode");
    scenario.device.timing.writeFwDurationMs = 0;
    scenario.inputPacing = scenario.outputPacing = static_cast<UsbPacing>(state.range(0));
    EmulatedBus bus;
    EmulatedTalvo talvo(bus, scenario);
    talvo.Trace().SetEnabled(false);
    test::BusHost host(bus);
    if (!host.Open(kTalvoUpdateProductId, 64)) {
        state.SkipWithError("device not found");
        return;
    }
    for (auto _ : state) {
        host.Exchange(test::SetInfo(1, static_cast<std::uint32_t>(image.size()), BodyCrc(image)));
        for (std::size_t offset = 0; offset < image.size(); offset += 10240) {
            host.Exchange(
                test::FwLoad(image, offset, std::min<std::size_t>(10240, image.size() - offset)));
            host.Exchange(test::WriteFw());
        }
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * image.size()));
    state.counters["reports_out"] = benchmark::Counter(
        static_cast<double>(talvo.Trace().ReportCount(WireTrace::Direction::kOut)) /
        static_cast<double>(state.iterations()));
}
BENCHMARK(BM_BusImage)
    ->Arg(static_cast<int>(UsbPacing::kNone))
    ->Arg(static_cast<int>(UsbPacing::kHighSpeed))
    ->Arg(static_cast<int>(UsbPacing::kFullSpeed))
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime()
    ->Iterations(3);

}  // namespace
}  // namespace talvo

BENCHMARK_MAIN();
