#include <map>

#include "hid/emulated_bus.h"
#include "tests/hid/hid_test_backend.h"

namespace talvo::test {

namespace {

class EmulatedTestBackend final : public HidTestBackend {
  public:
    IHidPlatform& Platform() override { return bus_; }

    int Add(const FakeInterface& spec) override {
        EmulatedIdentity identity;
        identity.name = "fake" + std::to_string(next_);
        identity.vendorId = spec.vendorId;
        identity.productId = spec.productId;
        identity.inputReportByteLength =
            static_cast<std::uint16_t>(spec.inputLength > 0 ? spec.inputLength + 1 : 0);
        identity.outputReportByteLength =
            static_cast<std::uint16_t>(spec.outputLength > 0 ? spec.outputLength + 1 : 0);
        identity.outputReportId = spec.outputReportId;
        endpoints_[next_] = bus_.Plug(identity);
        specs_[next_] = spec;
        return next_++;
    }

    void SetHeldExclusively(int id, bool held) override {
        endpoints_.at(id)->SetHeldExclusively(held);
    }

    bool SendInput(int id, const std::vector<std::uint8_t>& data) override {
        std::vector<std::uint8_t> report;
        report.push_back(specs_.at(id).inputReportId);
        report.insert(report.end(), data.begin(), data.end());
        return endpoints_.at(id)->PutInput(report.data(), report.size());
    }

    bool TakeOutput(int id, std::vector<std::uint8_t>& report, int timeoutMs) override {
        return endpoints_.at(id)->TakeOutput(report, timeoutMs);
    }

    void Unplug(int id) override { bus_.Unplug(endpoints_.at(id)); }

  private:
    EmulatedBus bus_;
    int next_ = 0;
    std::map<int, std::shared_ptr<EmulatedEndpoint>> endpoints_;
    std::map<int, FakeInterface> specs_;
};

}  // namespace

std::unique_ptr<HidTestBackend> MakeHidTestBackend() {
    return std::make_unique<EmulatedTestBackend>();
}

}  // namespace talvo::test
