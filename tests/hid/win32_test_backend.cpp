#include <gtest/gtest.h>

#include <map>
#include <string>

#include "tests/hid/fake_win32_stack.h"
#include "tests/hid/hid_test_backend.h"

namespace talvo::test {

namespace {

class Win32TestBackend final : public HidTestBackend {
  public:
    Win32TestBackend() : platform_(stack_.Api()) {}
    ~Win32TestBackend() override {
        // Every case ends with the stack used correctly and nothing left
        // open (the devices are closed by then: they live in the test body).
        for (const std::string& violation : stack_.Violations()) {
            ADD_FAILURE() << "HID stack misused: " << violation;
        }
        EXPECT_EQ(stack_.Outstanding(), 0) << "handles, lists or preparsed data left open";
    }

    IHidPlatform& Platform() override { return platform_; }

    int Add(const FakeInterface& spec) override {
        std::wstring path = L"\\\\?\\hid#fake_" + std::to_wstring(next_++) + L"#{guid}";
        int id = stack_.Add(SimpleFakeDevice(path, spec.vendorId, spec.productId, spec.inputLength,
                                             spec.outputLength, spec.inputReportId,
                                             spec.outputReportId));
        specs_[id] = spec;
        return id;
    }

    void SetHeldExclusively(int id, bool held) override { stack_.SetOpenFails(id, held); }

    bool SendInput(int id, const std::vector<std::uint8_t>& data) override {
        std::vector<std::uint8_t> report(data.size() + 1, specs_.at(id).inputReportId);
        std::copy(data.begin(), data.end(), report.begin() + 1);
        return stack_.SendInput(id, report);
    }

    bool TakeOutput(int id, std::vector<std::uint8_t>& report, int timeoutMs) override {
        return stack_.TakeOutput(id, report, timeoutMs);
    }

    void Unplug(int id) override { stack_.Unplug(id); }

  private:
    FakeWin32Stack stack_;
    Win32HidPlatform platform_;
    int next_ = 0;
    std::map<int, FakeInterface> specs_;
};

}  // namespace

std::unique_ptr<HidTestBackend> MakeHidTestBackend() {
    return std::make_unique<Win32TestBackend>();
}

}  // namespace talvo::test
