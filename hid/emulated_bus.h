// An in-process bus of virtual HID interfaces: the third HID platform.
//
// Each interface has an identity (IDs, report byte lengths, output report
// ID, report descriptor) and a device-side endpoint through which a device
// model reads the output reports the host wrote and writes input reports
// for the host to read. Interfaces can be plugged and unplugged at any
// time; unplug makes pending and later host reads and writes fail, like a
// real removal. Reports on the device side are whole reports of the
// interface's byte length, report ID byte first.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "hid/hid_platform.h"

namespace talvo {

struct EmulatedIdentity {
    std::string name;  // shown in traces and path names
    std::uint16_t vendorId = 0;
    std::uint16_t productId = 0;
    std::uint16_t versionNumber = 0;
    // Byte lengths including the report ID byte; 0 = no reports of that kind.
    std::uint16_t inputReportByteLength = 0;
    std::uint16_t outputReportByteLength = 0;
    std::uint16_t featureReportByteLength = 0;
    std::uint8_t outputReportId = 0;  // ID of the first output data item
    std::vector<std::uint8_t> reportDescriptor;
    // The port the unit is plugged into; empty: the port of the bus (or
    // port view) it is plugged on.
    std::string location;
};

// Device side of one plugged interface. Thread-safe.
class EmulatedEndpoint {
  public:
    virtual ~EmulatedEndpoint() = default;
    virtual const EmulatedIdentity& Identity() const = 0;
    // Next output report the host wrote (whole report, ID byte first).
    // Waits up to timeoutMs (-1 = no limit); false on time-out, unplug or Wake().
    virtual bool TakeOutput(std::vector<std::uint8_t>& report, int timeoutMs) = 0;
    // Queue an input report for the host; false when unplugged.
    virtual bool PutInput(const std::uint8_t* report, std::size_t length) = 0;
    // Releases a TakeOutput that waits (device model shutting down).
    virtual void Wake() = 0;
    virtual bool IsPlugged() const = 0;
    // Open fails while held exclusively elsewhere.
    virtual void SetHeldExclusively(bool held) = 0;
    // How many host writes may wait untaken before WriteReport blocks
    // (until its time limit); 0 = unbounded. Lets a device model pace writes.
    virtual void SetOutputCapacity(std::size_t reports) = 0;
};

// Told of every plug and unplug, on the thread that does it, so that
// another bus can mirror this one. `Plugged` comes once the interface is
// listed, with a host handle already open on it (it sees every input report
// from the first); `Unplugging` comes before host reads and writes start to
// fail, so input the device has sent can still be read out.
class EmulatedBusObserver {
  public:
    virtual ~EmulatedBusObserver() = default;
    virtual void Plugged(const std::shared_ptr<EmulatedEndpoint>& endpoint,
                         std::unique_ptr<IHidInterfaceHandle> host) = 0;
    virtual void Unplugging(const std::shared_ptr<EmulatedEndpoint>& endpoint) = 0;
};

// Interfaces plugged on a bus sit on its port ("emulated-1" unless given).
// Several units share one bus through port views: a view lists the whole
// bus, and what is plugged through it sits on the view's port, so each
// device model plugged through its own view is a unit of its own.
class EmulatedBus : public IHidPlatform {
  public:
    static constexpr const char* kFirstPort = "emulated-1";
    // "emulated-N", the port of the N-th unit (from 1).
    static std::string PortName(int unit);

    EmulatedBus();
    // A port view of `hub` (which must outlive it) at `port`.
    EmulatedBus(EmulatedBus& hub, std::string port);
    ~EmulatedBus() override;
    // Adds an interface at the end of the enumeration order.
    std::shared_ptr<EmulatedEndpoint> Plug(const EmulatedIdentity& identity);
    // Removes it: host reads and writes on it fail from now on.
    void Unplug(const std::shared_ptr<EmulatedEndpoint>& endpoint);
    std::size_t InterfaceCount() const;
    // Null: nobody. Set it before anything is plugged.
    void SetObserver(EmulatedBusObserver* observer);

    std::unique_ptr<IHidInterfaceList> ListInterfaces() override;

    class Impl;

  private:
    std::unique_ptr<Impl> impl_;
};

}  // namespace talvo
