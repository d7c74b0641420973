// A scripted device on the emulated HID bus for the protocol tests that need
// answers no device gives (malformed, foreign, doubled, cut short): it
// collects the host's output reports, gathers each request with the
// emulator's framing, and answers through a script the test installs.
// Tests that need a device that behaves use the emulated TALVO instead.
#pragma once

#include <condition_variable>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

#include "emulator/device_framing.h"
#include "emulator/wire_trace.h"
#include "hid/emulated_bus.h"
#include "hid/hid_platform.h"
#include "protocol/hid_comm.h"

namespace talvo::test {

using Bytes = std::vector<std::uint8_t>;

class FakeDevice {
  public:
    // Called on the device thread for every complete request message.
    using Script = std::function<void(FakeDevice& device, const Bytes& request)>;

    FakeDevice(EmulatedBus& bus, int reportLength);
    ~FakeDevice();
    FakeDevice(const FakeDevice&) = delete;
    FakeDevice& operator=(const FakeDevice&) = delete;

    void SetScript(Script script);
    // Answers every request with the given header fields echoed and an
    // all-zero payload of `length` bytes.
    void AnswerEcho(std::uint16_t length = 0);

    // Sends a whole message as 0x83 / 0x84... / 0x85 reports.
    void SendResponse(const Bytes& message);
    // Sends one report of R data bytes (shorter input is zero-filled).
    void SendReport(const Bytes& data);
    void Unplug();

    // Everything the host sent so far.
    std::vector<Bytes> Requests() const;
    // The host's output reports, without the report-ID byte.
    std::vector<Bytes> Reports() const;
    // Waits (generously) until at least `count` requests have arrived.
    bool WaitForRequests(std::size_t count) const;

    int reportLength() const { return reportLength_; }

  private:
    void Run();

    EmulatedBus& bus_;
    const int reportLength_;
    const LinkInfo link_;
    WireTrace trace_;  // the framing's notes; not looked at
    std::shared_ptr<EmulatedEndpoint> endpoint_;
    mutable std::mutex mutex_;
    mutable std::condition_variable changed_;
    Script script_;
    std::vector<Bytes> requests_;
    std::vector<Bytes> reports_;
    RequestAssembly assembly_;
    bool stopping_ = false;
    std::thread thread_;
};

// A response message: header fields, then the payload.
Bytes Message(std::uint8_t kind, std::uint8_t command, std::uint8_t group, std::uint8_t value,
              std::uint8_t status, std::uint8_t detail, const Bytes& payload);
// The same with the payload length field set to `declaredLength`.
Bytes MessageDeclaring(std::uint8_t kind, std::uint8_t command, std::uint8_t group,
                       std::uint8_t value, std::uint8_t status, std::uint8_t detail,
                       const Bytes& payload, std::uint16_t declaredLength);
// The response that answers `request` with status 0 and this payload.
Bytes AnswerTo(const Bytes& request, const Bytes& payload, std::uint8_t value = 0);

// Opens `comm` on the TALVO identity with `reportLength`-byte reports as the
// connection does, notifications going to NotifyLog.
bool OpenComm(ulo_CHidComm& comm, int reportLength);

// A protocol object opened on a fake device, as the connection sets it up.
struct Connected {
    explicit Connected(int reportLength = 64);
    ~Connected();

    EmulatedBus bus;
    ScopedHidPlatform platform{bus};
    FakeDevice device;
    std::unique_ptr<ulo_CHidComm> comm;
    bool opened = false;
};

// Notifications collected from the receive thread.
struct NotifyLog {
    struct Entry {
        int event;
        int value;
    };
    static void Callback(int event, int value);
    static std::vector<Entry> Take();
    static void Clear();
    // Waits (generously) until `count` entries were collected.
    static bool WaitFor(std::size_t count);
};

}  // namespace talvo::test
