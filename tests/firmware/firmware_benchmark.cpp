// Figures for image validation and package splitting at the sizes of the
// shipped images (76,044 and 122,752 bytes).
#include <benchmark/benchmark.h>

#include "firmware/firmware_package.h"
#include "tools/fw_image_builder.h"

namespace {

using talvo::fwtools::Bytes;

Bytes Image(const char* magic, std::uint32_t length) {
    return talvo::fwtools::BuildImage(
        talvo::fwtools::SeededImage(magic, "1.07", length, length, 0x3C5A96E1, 0x7E2B0D94));
}

void BM_Crc16(benchmark::State& state) {
    const Bytes data = talvo::fwtools::SeededBytes(1, static_cast<std::size_t>(state.range(0)));
    for (auto _ : state) {
        benchmark::DoNotOptimize(
            talvo::Crc16Update(data.data(), static_cast<std::uint32_t>(data.size()), 0));
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) * state.range(0));
}
BENCHMARK(BM_Crc16)->Arg(10240)->Arg(122752);

void BM_Validate(benchmark::State& state) {
    const Bytes image = Image("DSPA", static_cast<std::uint32_t>(state.range(0)));
    talvo::ulo_CFirmFile file;
    for (auto _ : state) {
        benchmark::DoNotOptimize(
            file.Validate(image.data(), static_cast<std::uint32_t>(image.size())));
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) * state.range(0));
}
BENCHMARK(BM_Validate)->Arg(76044)->Arg(122752);

void BM_SplitShippedSizes(benchmark::State& state) {
    const Bytes package = talvo::fwtools::JoinImages({Image("UASP", 76044), Image("DSPA", 122752)});
    for (auto _ : state) {
        talvo::FirmwarePackage slots;
        benchmark::DoNotOptimize(talvo::SplitFirmwarePackage(
            package.data(), static_cast<std::uint32_t>(package.size()), slots));
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) *
                            static_cast<std::int64_t>(package.size()));
}
BENCHMARK(BM_SplitShippedSizes);

}  // namespace

BENCHMARK_MAIN();
