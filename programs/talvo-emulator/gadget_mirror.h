// Mirrors the interface plugged on an emulated bus as a USB HID gadget: a
// plug connects the gadget with the interface's identity (the host
// enumerates a new device on the gadget's port), an unplug disconnects it
// (the host sees a USB disconnect), so a mode switch is a disconnect and a
// new enumeration on the same port after the device's restart delay.
//
// On the wire the reports are unnumbered: the report descriptor goes out
// without its report IDs, each read of the function's character device is
// one output report's data, to which the mirror puts the interface's output
// report ID back before the device model sees it, and each input report
// the model sends goes out without its ID byte. USB has flow control: an
// output report the mirror has not read is not acknowledged, so the host's
// write waits, and one input report is in flight at a time.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "hid/emulated_bus.h"
#include "programs/talvo-emulator/usb_gadget.h"

namespace talvo {

// The descriptor without its Report ID items (false when it has more than
// one input or output report, which cannot go unnumbered, or is malformed).
bool UnnumberedDescriptor(const std::vector<std::uint8_t>& numbered,
                          std::vector<std::uint8_t>& unnumbered);

class GadgetMirror final : public EmulatedBusObserver {
  public:
    struct Options {
        // Told of connections and disconnections and of anything that goes wrong.
        std::function<void(const std::string&)> note;
        // How long input the device sent before it left may wait for the
        // host to take it before the disconnect.
        int flushMs = 500;
        // Told of each output report as it is read (on the reader thread):
        // lets a benchmark see when the host controller delivers them.
        std::function<void()> onOutput;
    };

    struct Counts {
        int connected = 0;
        int disconnected = 0;
        int failures = 0;           // connections that failed, a second interface at once
        std::uint64_t outputs = 0;  // output reports from the host
        std::uint64_t inputs = 0;   // input reports the host took
        std::uint64_t ignored = 0;  // output reports not of the interface's length
        std::uint64_t lost = 0;     // input reports the host never took (it left, or went away)
    };

    // Observes `bus` until destroyed; create it before anything is plugged.
    GadgetMirror(EmulatedBus& bus, IGadgetPort& port, Options options);
    ~GadgetMirror() override;
    GadgetMirror(const GadgetMirror&) = delete;
    GadgetMirror& operator=(const GadgetMirror&) = delete;

    void Plugged(const std::shared_ptr<EmulatedEndpoint>& endpoint,
                 std::unique_ptr<IHidInterfaceHandle> host) override;
    void Unplugging(const std::shared_ptr<EmulatedEndpoint>& endpoint) override;

    Counts GetCounts() const;

    class Link;
    struct Tally;

  private:
    void Note(const std::string& text) const;

    EmulatedBus& bus_;
    IGadgetPort& port_;
    Options options_;
    std::mutex mutex_;
    std::unique_ptr<Link> link_;  // one interface on a gadget at a time
    std::unique_ptr<Tally> tally_;
};

}  // namespace talvo
