#include "hid/hid_trace.h"

#include <atomic>
#include <cstdio>
#include <mutex>
#include <utility>

namespace talvo {

namespace {

class TracedHandle : public IHidInterfaceHandle {
  public:
    TracedHandle(HidTracePlatform& trace, std::unique_ptr<IHidInterfaceHandle> inner)
        : trace_(trace), inner_(std::move(inner)) {}
    ~TracedHandle() override {
        if (announced_.load()) {
            trace_.Emit("-- ", inner_->Info(), "closed");
        }
    }

    const HidInterfaceInfo& Info() const override { return inner_->Info(); }

    bool Read(std::uint8_t* report, int timeoutMs) override {
        if (!inner_->Read(report, timeoutMs)) {
            return false;
        }
        Announce();
        const HidInterfaceInfo& info = inner_->Info();
        trace_.Emit("IN ", info, HidHexBytes(report, info.inputReportByteLength));
        return true;
    }

    bool Write(const std::uint8_t* report, int timeoutMs) override {
        Announce();
        const HidInterfaceInfo& info = inner_->Info();
        const bool written = inner_->Write(report, timeoutMs);
        const std::string bytes = HidHexBytes(report, info.outputReportByteLength);
        trace_.Emit(written ? "OUT" : "-- ", info, written ? bytes : "write failed: " + bytes);
        return written;
    }

    void AbortRead() override { inner_->AbortRead(); }

  private:
    // The interface is named once it carries its first report, so the
    // watcher's opens that only look (every 200 ms) leave no lines.
    void Announce() {
        std::call_once(opened_, [this] {
            const HidInterfaceInfo& info = inner_->Info();
            trace_.Emit("-- ", info,
                        "opened: " + std::to_string(info.inputReportByteLength) + "-byte input, " +
                            std::to_string(info.outputReportByteLength) + "-byte output reports");
            announced_.store(true);
        });
    }

    HidTracePlatform& trace_;
    std::unique_ptr<IHidInterfaceHandle> inner_;
    std::once_flag opened_;
    std::atomic<bool> announced_{false};
};

class TracedList : public IHidInterfaceList {
  public:
    TracedList(HidTracePlatform& trace, std::unique_ptr<IHidInterfaceList> inner)
        : trace_(trace), inner_(std::move(inner)) {}

    HidSlot Open(std::size_t index, HidOpenPurpose purpose,
                 std::unique_ptr<IHidInterfaceHandle>& handle) override {
        const HidSlot slot = inner_->Open(index, purpose, handle);
        if (slot == HidSlot::kOpened && purpose != HidOpenPurpose::kProbe && handle) {
            handle = std::make_unique<TracedHandle>(trace_, std::move(handle));
        }
        return slot;
    }

  private:
    HidTracePlatform& trace_;
    std::unique_ptr<IHidInterfaceList> inner_;
};

}  // namespace

std::string HidHexBytes(const std::uint8_t* bytes, std::size_t length) {
    static const char kDigits[] = "0123456789ABCDEF";
    std::string text;
    text.reserve(length * 3);
    for (std::size_t i = 0; i < length; ++i) {
        if (i != 0) {
            text += ' ';
        }
        text += kDigits[bytes[i] >> 4];
        text += kDigits[bytes[i] & 0x0F];
    }
    return text;
}

HidTracePlatform::HidTracePlatform(IHidPlatform& inner,
                                   std::function<void(const std::string&)> sink)
    : inner_(inner), sink_(std::move(sink)), origin_(std::chrono::steady_clock::now()) {}

std::unique_ptr<IHidInterfaceList> HidTracePlatform::ListInterfaces() {
    std::unique_ptr<IHidInterfaceList> list = inner_.ListInterfaces();
    if (!list) {
        return list;
    }
    return std::make_unique<TracedList>(*this, std::move(list));
}

void HidTracePlatform::Emit(const char* direction, const HidInterfaceInfo& info,
                            const std::string& text) {
    std::lock_guard<std::mutex> lock(mutex_);
    // Timed under the lock, so the lines are in order of their times.
    const auto elapsed = std::chrono::duration_cast<std::chrono::microseconds>(
                             std::chrono::steady_clock::now() - origin_)
                             .count();
    char head[48];
    std::snprintf(
        head, sizeof head, "%lld.%06lld %s %04X:%04X ", static_cast<long long>(elapsed / 1000000),
        static_cast<long long>(elapsed % 1000000), direction, info.vendorId, info.productId);
    sink_(head + text);
}

}  // namespace talvo
