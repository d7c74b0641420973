// Mirrors the interfaces of an emulated bus as kernel HID devices through
// uhid: each interface plugged on the bus becomes a uhid device with the
// same IDs and report descriptor (the kernel makes a hidraw node of it) and
// is destroyed when it is unplugged. Output reports the kernel hands over
// go to the device model on the bus; its input reports go to the kernel.
//
// uhid has no flow control: the kernel keeps at most 32 output reports for
// the device side and drops the rest while the host's write still
// succeeds. So each device has a reader thread that does nothing but take
// the kernel's events into a ring of 4096 reports, at real-time priority
// where the process may have it, with neither a lock nor an allocation
// (either could make it wait for a thread of normal priority); a second
// thread hands the ring to the device model at the model's own pace, and a
// third sends the model's input.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "hid/emulated_bus.h"

namespace talvo {

class UhidMirror final : public EmulatedBusObserver {
  public:
    struct Options {
        // Opens the uhid character device: a descriptor, or -1 with errno.
        // The default opens /dev/uhid.
        std::function<int()> opener;
        bool realtimeReader = true;  // try SCHED_FIFO for the reader threads
        // The devices' physical path (HID_PHYS), which tells units apart.
        std::string phys = "talvo-emulator/uhid";
        // Told of devices made and removed and of anything that goes wrong.
        std::function<void(const std::string&)> note;
    };

    struct Counts {
        int created = 0;
        int destroyed = 0;
        int failures = 0;             // devices that could not be made, or writes refused
        std::uint64_t outputs = 0;    // output reports from the kernel
        std::uint64_t inputs = 0;     // input reports to the kernel
        std::uint64_t ignored = 0;    // output reports not of the interface's length
        bool realtimeReader = false;  // some reader thread runs at real-time priority
    };

    // Observes `bus` until destroyed; create it before anything is plugged.
    UhidMirror(EmulatedBus& bus, Options options);
    ~UhidMirror() override;
    UhidMirror(const UhidMirror&) = delete;
    UhidMirror& operator=(const UhidMirror&) = delete;

    void Plugged(const std::shared_ptr<EmulatedEndpoint>& endpoint,
                 std::unique_ptr<IHidInterfaceHandle> host) override;
    void Unplugging(const std::shared_ptr<EmulatedEndpoint>& endpoint) override;

    Counts GetCounts() const;

    class Device;
    struct Tally;

  private:
    void Note(const std::string& text) const;
    void Remove(std::unique_ptr<Device> device);

    EmulatedBus& bus_;
    Options options_;
    mutable std::mutex mutex_;
    std::vector<std::unique_ptr<Device>> devices_;
    std::unique_ptr<Tally> tally_;
};

}  // namespace talvo
