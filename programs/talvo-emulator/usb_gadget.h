// A USB HID gadget made through configfs (Linux): the bus side a real
// host meets through its USB host controller and usbhid. One gadget sits on
// one USB device controller (UDC); connecting writes the UDC's name, so the
// host sees a new device on that controller's port, and disconnecting
// clears it, so the host sees the device unplugged.
//
// Under usb_gadget/NAME: idVendor, idProduct, bcdDevice, bcdUSB, strings,
// configs/c.1 and functions/hid.usb0 (report_length, report_desc). The
// function's report length and descriptor cannot change while it is linked
// into the configuration, so an identity change is: disconnect, unlink,
// change, link, connect. The function's character device (/dev/hidgN)
// carries one report per read() (host to device) and per write() (device
// to host).
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace talvo {

// What a gadget presents: the device's IDs and strings and the one HID
// function's reports (unnumbered on the wire, so the report length is the
// data length of the largest report).
struct GadgetIdentity {
    std::uint16_t vendorId = 0;
    std::uint16_t productId = 0;
    std::uint16_t deviceVersion = 0;
    std::string product;
    int reportLength = 0;
    std::vector<std::uint8_t> reportDescriptor;
};

// Connects and disconnects one gadget; the mirror's view of it (tests
// stand in for the kernel here).
class IGadgetPort {
  public:
    virtual ~IGadgetPort() = default;
    // Presents `identity` on the port: a descriptor for the function's
    // character device, opened non-blocking, or -1 with `error` set.
    virtual int Connect(const GadgetIdentity& identity, std::string& error) = 0;
    // The host sees the device leave; the descriptor was closed before.
    virtual void Disconnect() = 0;
};

class ConfigfsGadget final : public IGadgetPort {
  public:
    struct Paths {
        std::string configfs = "/sys/kernel/config";
        std::string udcClass = "/sys/class/udc";
        std::string dev = "/dev";
    };

    // Nothing is made until Prepare().
    ConfigfsGadget(std::string udc, Paths paths);
    ~ConfigfsGadget() override;
    ConfigfsGadget(const ConfigfsGadget&) = delete;
    ConfigfsGadget& operator=(const ConfigfsGadget&) = delete;

    // Checks what a gadget needs (configfs mounted, libcomposite and
    // usb_f_hid loaded, the UDC present and free) and makes the gadget's
    // directories, removing one of the same name a killed run left. False
    // with `error` naming what is missing and how to get it.
    bool Prepare(std::string& error);

    int Connect(const GadgetIdentity& identity, std::string& error) override;
    void Disconnect() override;

    const std::string& Udc() const { return udc_; }

    // The UDC unit K (from 1) uses when none is named: dummy_udc.(K-1).
    static std::string DefaultUdc(int unit);

  private:
    std::string Dir() const;
    void Remove();

    const std::string udc_;
    const Paths paths_;
    bool prepared_ = false;
    bool linked_ = false;
    bool connected_ = false;
};

}  // namespace talvo
