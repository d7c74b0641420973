#include <algorithm>
#include <map>

#include "tests/hid/fake_sysfs.h"
#include "tests/hid/hid_test_backend.h"

namespace talvo::test {

namespace {

class SysfsTestBackend final : public HidTestBackend {
  public:
    IHidPlatform& Platform() override { return sysfs_.Platform(); }

    int Add(const FakeInterface& spec) override {
        // hidraw2, hidraw10, hidraw11, ...: name order differs from number order.
        int number = next_ == 0 ? 2 : next_ + 9;
        ++next_;
        sysfs_.Add(number, FakeSysfs::Uevent(spec.vendorId, spec.productId),
                   FakeSysfs::Descriptor(spec.inputLength, spec.outputLength, spec.inputReportId,
                                         spec.outputReportId));
        specs_[number] = spec;
        return number;
    }

    void SetHeldExclusively(int id, bool held) override { sysfs_.SetOpenFails(id, held); }

    bool SendInput(int id, const std::vector<std::uint8_t>& data) override {
        // hidraw delivers the report ID byte only with numbered reports.
        const std::uint8_t reportId = specs_.at(id).inputReportId;
        const std::size_t offset = reportId != 0 ? 1 : 0;
        std::vector<std::uint8_t> message(data.size() + offset, reportId);
        std::copy(data.begin(), data.end(), message.begin() + static_cast<std::ptrdiff_t>(offset));
        return sysfs_.Send(id, message);
    }

    bool TakeOutput(int id, std::vector<std::uint8_t>& report, int timeoutMs) override {
        return sysfs_.Receive(id, report, timeoutMs);
    }

    void Unplug(int id) override { sysfs_.Remove(id); }

  private:
    FakeSysfs sysfs_;
    int next_ = 0;
    std::map<int, FakeInterface> specs_;
};

}  // namespace

std::unique_ptr<HidTestBackend> MakeHidTestBackend() {
    return std::make_unique<SysfsTestBackend>();
}

}  // namespace talvo::test
