// A wire trace under CHidDevice: a platform that passes everything to
// another one and writes every report that crosses it, in both directions,
// as one line each. It works over any platform (native HID stack, hidraw,
// the emulated bus), so the same trace comes from a real device and an
// emulated one. Lines look like
//
//     0.012345 OUT 0A12:0001 02 81 06 00 ...
//     0.013020 IN  0A12:0001 01 83 06 00 ...
//     0.500000 --  0A12:0002 opened: 65-byte input, 65-byte output reports
//
// seconds since the trace began (six decimals), the direction (OUT host to
// device, IN device to host, -- an event), the interface's vendor and product
// ID in hex, then the whole report in hex, report ID byte first, or the event.
// Only reports that crossed are written: a read that timed out is not, and a
// write that failed is an event line. An interface is named ("opened") at
// its first report and then its closing too; opens without I/O (probing,
// the watcher's looks) leave no line.
#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>

#include "hid/hid_platform.h"

namespace talvo {

class HidTracePlatform : public IHidPlatform {
  public:
    // Each line (without its line break) goes to `sink`, one call at a
    // time, from whichever thread did the I/O. The platform must outlive
    // every interface opened through this one.
    HidTracePlatform(IHidPlatform& inner, std::function<void(const std::string&)> sink);

    std::unique_ptr<IHidInterfaceList> ListInterfaces() override;

    // Writes one line of the trace (shared by the handles).
    void Emit(const char* direction, const HidInterfaceInfo& info, const std::string& text);

  private:
    IHidPlatform& inner_;
    std::function<void(const std::string&)> sink_;
    std::mutex mutex_;
    const std::chrono::steady_clock::time_point origin_;
};

// "01 83 06 00": the bytes in upper-case hex, separated by single spaces.
std::string HidHexBytes(const std::uint8_t* bytes, std::size_t length);

}  // namespace talvo
