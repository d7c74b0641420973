// One full download of a package's two images (a Normal image of 76,044
// bytes and a DspMain image of 122,752 bytes, the shipped sizes), with a
// device that answers at once. Printed figures, not a test:
//   reports_per_s   output reports written per second of wall time
//   cpu_ns_per_byte process CPU time per image byte (host threads, plus the
//                   device thread in the bus variant)
//   allocs_per_dl   heap allocations per download of both images, counted
//                   with a replaced global operator new
// Two variants: over the emulated HID bus (which itself queues each report
// in a new vector), and over a loopback HID platform that allocates nothing
// after set-up, so its count is the protocol's own (the two validation
// copies per image are expected; nothing per message).
#include <benchmark/benchmark.h>

#include <array>
#include <atomic>
#include <condition_variable>
#include <cstdlib>
#include <ctime>
#include <mutex>
#include <new>
#include <thread>

#include "hid/emulated_bus.h"
#include "hid/hid_device.h"
#include "hid/hid_platform.h"
#include "hid/talvo_ids.h"
#include "protocol/hid_comm.h"
#include "tools/fw_image_builder.h"

// The replacements below pair malloc with free; GCC cannot see that the
// replaced operators are the ones in use and warns about every inlined pair.
#if defined(__GNUC__) && !defined(__clang__)
#pragma GCC diagnostic ignored "-Wmismatched-new-delete"
#endif

namespace {
std::atomic<std::uint64_t> g_allocations{0};
}  // namespace

void* operator new(std::size_t size) {
    g_allocations.fetch_add(1, std::memory_order_relaxed);
    if (void* p = std::malloc(size == 0 ? 1 : size)) {
        return p;
    }
    throw std::bad_alloc();
}
void* operator new[](std::size_t size) {
    return operator new(size);
}
void* operator new(std::size_t size, const std::nothrow_t&) noexcept {
    g_allocations.fetch_add(1, std::memory_order_relaxed);
    return std::malloc(size == 0 ? 1 : size);
}
void* operator new[](std::size_t size, const std::nothrow_t& tag) noexcept {
    return operator new(size, tag);
}
void operator delete(void* p) noexcept {
    std::free(p);
}
void operator delete[](void* p) noexcept {
    std::free(p);
}
void operator delete(void* p, std::size_t) noexcept {
    std::free(p);
}
void operator delete[](void* p, std::size_t) noexcept {
    std::free(p);
}

namespace talvo {
namespace {

constexpr int kReport = 64;
constexpr int kWire = kReport + 1;  // with the report ID byte

// The answer report (ID byte first) to a firmware-group request.
std::array<std::uint8_t, kWire> AnswerReport(std::uint8_t command) {
    std::array<std::uint8_t, kWire> r{};
    r[1] = 0x83;
    r[2] = 1;  // set response
    r[3] = command;
    r[4] = 9;
    r[8] = command == 1 ? 1 : 0;  // FU_FWLOAD answers with one payload byte
    return r;
}

// Follows the host's segments and says which answer a finished request needs.
class RequestTracker {
  public:
    // Takes one output report (ID byte first); returns the command of a
    // request it completes, or -1.
    int Take(const std::uint8_t* report) {
        const std::uint8_t marker = report[1];
        if (marker == 0x80) {
            command_ = report[3];
            const int length = 8 + (report[8] | (report[9] << 8));
            if (length <= kReport - 1) {
                return command_;
            }
        } else if (marker == 0x82) {
            return command_;
        }
        return -1;
    }

  private:
    int command_ = -1;
};

// A HID platform with one interface whose device answers inside Write and
// allocates nothing once open.
class LoopbackPlatform final : public IHidPlatform {
  public:
    class Handle final : public IHidInterfaceHandle {
      public:
        explicit Handle(LoopbackPlatform& owner) : owner_(owner) {}
        const HidInterfaceInfo& Info() const override { return owner_.info_; }
        bool Read(std::uint8_t* report, int) override {
            std::unique_lock<std::mutex> lock(owner_.mutex_);
            owner_.changed_.wait(lock, [&] { return owner_.aborted_ || owner_.count_ > 0; });
            if (owner_.aborted_) {
                return false;
            }
            const auto& r = owner_.ring_[owner_.head_];
            std::copy(r.begin(), r.end(), report);
            owner_.head_ = (owner_.head_ + 1) % owner_.ring_.size();
            --owner_.count_;
            return true;
        }
        bool Write(const std::uint8_t* report, int) override {
            const int command = owner_.tracker_.Take(report);
            if (command >= 0) {
                std::lock_guard<std::mutex> lock(owner_.mutex_);
                if (owner_.count_ == owner_.ring_.size()) {
                    return false;
                }
                owner_.ring_[(owner_.head_ + owner_.count_) % owner_.ring_.size()] =
                    AnswerReport(static_cast<std::uint8_t>(command));
                ++owner_.count_;
                owner_.changed_.notify_all();
            }
            ++owner_.reports_;
            return true;
        }
        void AbortRead() override {
            std::lock_guard<std::mutex> lock(owner_.mutex_);
            owner_.aborted_ = true;
            owner_.changed_.notify_all();
        }

      private:
        LoopbackPlatform& owner_;
    };

    class List final : public IHidInterfaceList {
      public:
        explicit List(LoopbackPlatform& owner) : owner_(owner) {}
        HidSlot Open(std::size_t index, HidOpenPurpose,
                     std::unique_ptr<IHidInterfaceHandle>& handle) override {
            if (index > 0) {
                return HidSlot::kEnd;
            }
            handle = std::make_unique<Handle>(owner_);
            return HidSlot::kOpened;
        }

      private:
        LoopbackPlatform& owner_;
    };

    LoopbackPlatform() {
        info_.vendorId = kTalvoVendorId;
        info_.productId = kTalvoUpdateProductId;
        info_.inputReportByteLength = kWire;
        info_.outputReportByteLength = kWire;
    }
    std::unique_ptr<IHidInterfaceList> ListInterfaces() override {
        return std::make_unique<List>(*this);
    }
    std::uint64_t Reports() const { return reports_.load(); }

  private:
    HidInterfaceInfo info_;
    std::mutex mutex_;
    std::condition_variable changed_;
    std::array<std::array<std::uint8_t, kWire>, 8> ring_{};
    std::size_t head_ = 0;
    std::size_t count_ = 0;
    bool aborted_ = false;
    RequestTracker tracker_;
    std::atomic<std::uint64_t> reports_{0};
};

// A device on the emulated bus that answers every request at once.
class BusResponder {
  public:
    explicit BusResponder(EmulatedBus& bus) {
        EmulatedIdentity id;
        id.name = "bench";
        id.vendorId = kTalvoVendorId;
        id.productId = kTalvoUpdateProductId;
        id.inputReportByteLength = kWire;
        id.outputReportByteLength = kWire;
        endpoint_ = bus.Plug(id);
        thread_ = std::thread([this] {
            std::vector<std::uint8_t> report;
            report.reserve(kWire);
            while (!stop_.load()) {
                if (!endpoint_->TakeOutput(report, 50)) {
                    continue;
                }
                ++reports_;
                const int command = tracker_.Take(report.data());
                if (command >= 0) {
                    const auto answer = AnswerReport(static_cast<std::uint8_t>(command));
                    endpoint_->PutInput(answer.data(), answer.size());
                }
            }
        });
    }
    ~BusResponder() {
        stop_.store(true);
        endpoint_->Wake();
        thread_.join();
    }
    std::uint64_t Reports() const { return reports_.load(); }

  private:
    std::shared_ptr<EmulatedEndpoint> endpoint_;
    RequestTracker tracker_;
    std::atomic<bool> stop_{false};
    std::atomic<std::uint64_t> reports_{0};
    std::thread thread_;
};

struct Images {
    fwtools::Bytes normal = fwtools::BuildImage(
        fwtools::SeededImage("UASP", "1.07", 76044, 0x1107, 0x3C5A96E1, 0x7E2B0D94));
    fwtools::Bytes dsp = fwtools::BuildImage(
        fwtools::SeededImage("DSPA", "1.07", 122752, 0x2107, 0x5DA1C3F0, 0x0B96E247));
};

std::unique_ptr<ulo_CHidComm> OpenComm() {
    auto comm = std::make_unique<ulo_CHidComm>();
    comm->inputReportLength = kReport;
    comm->outputReportLength = kReport;
    if (!comm->CreateResponseEvent() ||
        comm->hidDevice.Open(kTalvoVendorId, kTalvoUpdateProductId, kReport, kReport, 0) ==
            nullptr ||
        !comm->StartReceiveThread()) {
        return nullptr;
    }
    return comm;
}

ResultCode DownloadBoth(ulo_CHidComm& comm, const Images& images) {
    for (const auto* image : {&images.normal, &images.dsp}) {
        CommandParams params{};
        StorePointer(params, params_layout::kDownloadImage, image->data());
        StoreU32(params, params_layout::kDownloadLength, static_cast<std::uint32_t>(image->size()));
        const ResultCode r = comm.Dispatch(64, &params, nullptr);
        if (r != kResultOk) {
            return r;
        }
    }
    return kResultOk;
}

template <class Device>
void Report(benchmark::State& state, const Images& images, std::uint64_t allocations,
            std::clock_t cpu, const Device& device, std::uint64_t reportsBefore) {
    const double downloads = static_cast<double>(state.iterations());
    const double bytes = downloads * static_cast<double>(images.normal.size() + images.dsp.size());
    state.SetBytesProcessed(static_cast<std::int64_t>(bytes));
    state.counters["reports_per_s"] = benchmark::Counter(
        static_cast<double>(device.Reports() - reportsBefore), benchmark::Counter::kIsRate);
    state.counters["cpu_ns_per_byte"] = static_cast<double>(cpu) * 1e9 / CLOCKS_PER_SEC / bytes;
    state.counters["allocs_per_dl"] = static_cast<double>(allocations) / downloads;
}

// Downloads both images once per iteration over whatever HID platform is
// current, then reports the figures counted by `device`.
template <class Device>
void RunDownloads(benchmark::State& state, Device& device) {
    Images images;
    auto comm = OpenComm();
    if (!comm) {
        state.SkipWithError("open failed");
        return;
    }
    const std::uint64_t reports = device.Reports();
    const std::uint64_t allocBefore = g_allocations.load();
    const std::clock_t cpuBefore = std::clock();
    for (auto _ : state) {
        if (DownloadBoth(*comm, images) != kResultOk) {
            state.SkipWithError("download failed");
            break;
        }
    }
    const std::clock_t cpu = std::clock() - cpuBefore;
    Report(state, images, g_allocations.load() - allocBefore, cpu, device, reports);
    comm->Close();
}

void BM_DownloadOverEmulatedBus(benchmark::State& state) {
    EmulatedBus bus;
    ScopedHidPlatform platform(bus);
    BusResponder device(bus);
    RunDownloads(state, device);
}
BENCHMARK(BM_DownloadOverEmulatedBus)->Unit(benchmark::kMillisecond)->UseRealTime();

void BM_DownloadOverLoopback(benchmark::State& state) {
    LoopbackPlatform loopback;
    ScopedHidPlatform platform(loopback);
    RunDownloads(state, loopback);
}
BENCHMARK(BM_DownloadOverLoopback)->Unit(benchmark::kMillisecond)->UseRealTime();

}  // namespace
}  // namespace talvo

BENCHMARK_MAIN();
