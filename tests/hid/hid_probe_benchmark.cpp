// The cost of one device probe as the watcher makes it every 200 ms: Open
// and Close for the normal-mode IDs, then for the update-mode IDs, with
// the TALVO (in update mode) last among 1 or 20 HID interfaces.
#include <benchmark/benchmark.h>

#include <memory>

#include "hid/emulated_bus.h"
#include "hid/hid_device.h"
#include "hid/talvo_descriptor.h"
#include "hid/talvo_ids.h"
#include "tests/hid/fake_sysfs.h"

namespace talvo {
namespace {

bool Probe(IHidPlatform& platform) {
    bool found = false;
    for (int length : {kNormalReportLength, kUpdateReportLength}) {
        CHidDevice device(platform);
        int product = length == kNormalReportLength ? kTalvoNormalProductId : kTalvoUpdateProductId;
        found = device.Open(kTalvoVendorId, product, length, length, 0) != nullptr || found;
        device.Close();
    }
    return found;
}

void EmulatedBusProbe(benchmark::State& state) {
    EmulatedBus bus;
    for (int i = 1; i < state.range(0); ++i) {
        EmulatedIdentity other;
        other.name = "other";
        other.vendorId = 0x0001;
        other.productId = static_cast<std::uint16_t>(i);
        other.inputReportByteLength = 9;
        other.outputReportByteLength = 2;
        bus.Plug(other);
    }
    bus.Plug(TalvoEmulatedIdentity(kUpdateReportLength));
    for (auto _ : state) {
        benchmark::DoNotOptimize(Probe(bus));
    }
    state.SetLabel(std::to_string(state.range(0)) + " interfaces");
}
BENCHMARK(EmulatedBusProbe)->Arg(1)->Arg(20)->Unit(benchmark::kMicrosecond);

void HidrawFakeSysfsProbe(benchmark::State& state) {
    test::FakeSysfs sysfs;
    for (int i = 1; i < state.range(0); ++i) {
        sysfs.Add(i, test::FakeSysfs::Uevent(0x0001, static_cast<std::uint16_t>(i)),
                  test::FakeSysfs::Descriptor(8, 1, 0, 0));
    }
    sysfs.Add(100, test::FakeSysfs::Uevent(kTalvoVendorId, kTalvoUpdateProductId),
              TalvoReportDescriptor(kUpdateReportLength));
    for (auto _ : state) {
        benchmark::DoNotOptimize(Probe(sysfs.Platform()));
    }
    state.SetLabel(std::to_string(state.range(0)) + " interfaces");
}
BENCHMARK(HidrawFakeSysfsProbe)->Arg(1)->Arg(20)->Unit(benchmark::kMicrosecond);

}  // namespace
}  // namespace talvo

BENCHMARK_MAIN();
