// A HID backend under test together with the device side of its fake
// interfaces. The conformance suite (hid_conformance_test.cpp) runs the
// same CHidDevice cases over every backend: the emulated bus, the hidraw
// backend over a fake sysfs tree, and the Win32 backend over a fake HID
// stack.
#pragma once

#include <cstdint>
#include <memory>
#include <vector>

#include "hid/hid_platform.h"

namespace talvo::test {

struct FakeInterface {
    std::uint16_t vendorId = 0;
    std::uint16_t productId = 0;
    int inputLength = 16;  // data bytes per input report; 0 = no input reports
    int outputLength = 16;
    std::uint8_t inputReportId = 0;  // 0 = unnumbered reports
    std::uint8_t outputReportId = 0;
};

class HidTestBackend {
  public:
    virtual ~HidTestBackend() = default;
    virtual IHidPlatform& Platform() = 0;
    // Adds an interface at the end of the enumeration order; returns its id.
    virtual int Add(const FakeInterface& spec) = 0;
    virtual void SetHeldExclusively(int id, bool held) = 0;
    // The device sends one input report carrying these data bytes (as many
    // as the interface's input length) under its input report ID.
    virtual bool SendInput(int id, const std::vector<std::uint8_t>& data) = 0;
    // The next output report the host wrote, whole (report ID byte first).
    virtual bool TakeOutput(int id, std::vector<std::uint8_t>& report, int timeoutMs) = 0;
    virtual void Unplug(int id) = 0;
};

// Defined once per test executable.
std::unique_ptr<HidTestBackend> MakeHidTestBackend();

}  // namespace talvo::test
