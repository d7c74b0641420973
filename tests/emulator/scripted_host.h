// Minimal hosts for driving the emulated TALVO from its own tests: one that
// feeds reports straight into the device core, one that talks over the
// emulated bus through CHidDevice. Both segment requests and reassemble
// responses with their own few lines, as the wire description says.
#pragma once

#include <cstdint>
#include <optional>
#include <vector>

#include "emulator/device_core.h"
#include "hid/emulated_bus.h"
#include "hid/hid_device.h"

namespace talvo::test {

using Bytes = std::vector<std::uint8_t>;

// An 8-byte header and the payload.
Bytes Request(std::uint8_t kind, std::uint8_t command, std::uint8_t group, std::uint8_t value,
              const Bytes& payload = {}, std::uint8_t selector = 0);
Bytes SetInfo(std::uint8_t typeCode, std::uint32_t length, std::uint16_t bodyCrc);
Bytes FwLoad(const Bytes& image, std::size_t offset, std::size_t size);
Bytes FwLoadRaw(std::uint32_t offset, std::uint16_t crc, const Bytes& piece);
Bytes WriteFw();

// Data bytes of the reports (marker first, `reportLength` each) for a message.
std::vector<Bytes> SegmentRequest(const Bytes& message, int reportLength);

// Header fields of a response message.
struct Response {
    Bytes message;
    std::uint8_t kind() const { return message[0]; }
    std::uint8_t command() const { return message[1]; }
    std::uint8_t group() const { return message[2]; }
    std::uint8_t value() const { return message[3]; }
    std::uint8_t status() const { return message[4]; }
    std::uint8_t detail() const { return message[5]; }
    std::uint16_t length() const {
        return static_cast<std::uint16_t>(message[6] | (message[7] << 8));
    }
    Bytes payload() const { return Bytes(message.begin() + 8, message.end()); }
};

// Reassembles a response from whole input reports (ID byte first);
// nullopt when they do not form one.
std::optional<Response> ReassembleResponse(const std::vector<Bytes>& reports);

class CoreHost {
  public:
    CoreHost(DeviceCore& core, const LinkInfo& link) : core_(core), link_(link) {}

    // Feeds whole output reports (ID byte first); returns every step.
    DeviceSteps FeedReports(const std::vector<Bytes>& reports);
    // Output reports for a message, ID byte first.
    std::vector<Bytes> Reports(const Bytes& message) const;

    struct Exchange {
        DeviceSteps steps;
        std::vector<Bytes> sent;  // input reports of all kSend steps
        bool answered = false;
        // The answer; when there was none, a header of 0xFF bytes that
        // matches nothing.
        Response response{Bytes(8, 0xFF)};
    };
    Exchange Send(const Bytes& message);
    const LinkInfo& link() const { return link_; }
    void SetLink(const LinkInfo& link) { link_ = link; }

  private:
    DeviceCore& core_;
    LinkInfo link_;
};

class BusHost {
  public:
    explicit BusHost(EmulatedBus& bus) : device_(bus) {}
    bool Open(std::uint16_t productId, int reportLength);
    void Close() { device_.Close(); }
    bool Write(const Bytes& message, int timeoutMs = 2000);
    // The next response message; notifications and stream reports met on the
    // way are kept in `others`.
    std::optional<Response> ReadResponse(int timeoutMs);
    std::optional<Response> Exchange(const Bytes& message, int timeoutMs = 60000);
    int ReportLength() const { return reportLength_; }
    CHidDevice& Device() { return device_; }

    std::vector<Bytes> others;  // data bytes of non-response reports

  private:
    CHidDevice device_;
    int reportLength_ = 0;
};

}  // namespace talvo::test
