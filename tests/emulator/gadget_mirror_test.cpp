// The USB gadget side of talvo-emulator against a stand-in for the gadget:
// the function's character device is a SOCK_SEQPACKET socket pair (one
// report per message, as /dev/hidgN gives them), connecting and
// disconnecting are recorded. (The real USB stack is met in the guest of
// tests/vm.)
#include <gtest/gtest.h>

#include <fcntl.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <mutex>
#include <vector>

#include "emulator/identities.h"
#include "hid/emulated_bus.h"
#include "hid/report_descriptor.h"
#include "hid/talvo_ids.h"
#include "programs/talvo-emulator/gadget_mirror.h"

namespace talvo {
namespace {

using Bytes = std::vector<std::uint8_t>;

class FakeGadget final : public IGadgetPort {
  public:
    ~FakeGadget() override {
        if (host_ >= 0) {
            ::close(host_);
        }
    }

    int Connect(const GadgetIdentity& identity, std::string&) override {
        int fds[2];
        EXPECT_EQ(::socketpair(AF_UNIX, SOCK_SEQPACKET | SOCK_CLOEXEC, 0, fds), 0);
        ::fcntl(fds[1], F_SETFL, O_NONBLOCK);
        std::lock_guard<std::mutex> lock(mutex_);
        if (host_ >= 0) {
            ::close(host_);
        }
        host_ = fds[0];
        connected_.push_back(identity);
        events_.push_back("connect");
        return fds[1];
    }

    // What the host had received when the device left.
    void Disconnect() override {
        std::lock_guard<std::mutex> lock(mutex_);
        Bytes report(1024);
        ssize_t n;
        while (host_ >= 0 && (n = ::recv(host_, report.data(), report.size(), MSG_DONTWAIT)) > 0) {
            beforeDisconnect_.emplace_back(report.begin(), report.begin() + n);
        }
        events_.push_back("disconnect");
    }

    // The host writes one output report (data only, as on the wire).
    void HostWrites(const Bytes& data) {
        ASSERT_EQ(::send(host_, data.data(), data.size(), 0), static_cast<ssize_t>(data.size()));
    }
    bool HostReads(Bytes& data, int timeoutMs = 2000) {
        pollfd p{host_, POLLIN, 0};
        if (::poll(&p, 1, timeoutMs) != 1) {
            return false;
        }
        data.resize(1024);
        const ssize_t n = ::recv(host_, data.data(), data.size(), 0);
        data.resize(n > 0 ? static_cast<std::size_t>(n) : 0);
        return n > 0;
    }

    std::vector<GadgetIdentity> Connected() {
        std::lock_guard<std::mutex> lock(mutex_);
        return connected_;
    }
    std::vector<std::string> Events() {
        std::lock_guard<std::mutex> lock(mutex_);
        return events_;
    }
    std::vector<Bytes> BeforeDisconnect() {
        std::lock_guard<std::mutex> lock(mutex_);
        return beforeDisconnect_;
    }

  private:
    std::mutex mutex_;
    int host_ = -1;
    std::vector<GadgetIdentity> connected_;
    std::vector<std::string> events_;
    std::vector<Bytes> beforeDisconnect_;
};

Bytes Filled(std::size_t length, std::uint8_t fill) {
    return Bytes(length, fill);
}

// Catches: report IDs on the unnumbered wire (the host would read every
// report one byte off), output reports reaching the device model without
// the ID its framing checks, a report of the wrong length passed on, and a
// mode switch that is not a disconnect followed by a connection with the
// other identity's product ID, report length and descriptor.
TEST(GadgetMirror, UnnumberedOnTheWireNumberedForTheModelAndAModeSwitchReconnects) {
    FakeGadget gadget;
    EmulatedBus bus;
    GadgetMirror mirror(bus, gadget, GadgetMirror::Options{});

    auto normal = bus.Plug(TalvoDeviceIdentity(TalvoMode::kNormal));
    ASSERT_EQ(gadget.Connected().size(), 1u);
    const GadgetIdentity first = gadget.Connected()[0];
    EXPECT_EQ(first.vendorId, kTalvoVendorId);
    EXPECT_EQ(first.productId, kTalvoNormalProductId);
    EXPECT_EQ(first.reportLength, 16);
    HidReportLayout layout;
    ASSERT_TRUE(ParseReportDescriptor(first.reportDescriptor.data(), first.reportDescriptor.size(),
                                      layout));
    EXPECT_FALSE(layout.numberedReports);
    EXPECT_EQ(layout.inputReportByteLength, 17);
    EXPECT_EQ(layout.outputReportByteLength, 17);

    gadget.HostWrites(Filled(15, 0x11));  // one byte short
    gadget.HostWrites(Filled(16, 0x5A));
    Bytes taken;
    ASSERT_TRUE(normal->TakeOutput(taken, 2000));
    Bytes expected = Filled(17, 0x5A);
    expected[0] = kNormalOutputReportId;
    EXPECT_EQ(taken, expected);
    EXPECT_EQ(mirror.GetCounts().ignored, 1u);

    Bytes input = Filled(17, 0x33);
    input[0] = kNormalInputReportId;
    ASSERT_TRUE(normal->PutInput(input.data(), input.size()));
    Bytes onWire;
    ASSERT_TRUE(gadget.HostReads(onWire));
    EXPECT_EQ(onWire, Filled(16, 0x33));

    bus.Unplug(normal);
    auto update = bus.Plug(TalvoDeviceIdentity(TalvoMode::kUpdate));
    ASSERT_EQ(gadget.Connected().size(), 2u);
    EXPECT_EQ(gadget.Connected()[1].productId, kTalvoUpdateProductId);
    EXPECT_EQ(gadget.Connected()[1].reportLength, 64);
    EXPECT_EQ(gadget.Events(), (std::vector<std::string>{"connect", "disconnect", "connect"}));
    gadget.HostWrites(Filled(64, 0x77));
    ASSERT_TRUE(update->TakeOutput(taken, 2000));
    ASSERT_EQ(taken.size(), 65u);
    EXPECT_EQ(taken[0], kUpdateOutputReportId);
    bus.Unplug(update);
}

// Catches: the answer a device sends just before it leaves for a restart
// lost because the gadget was disconnected first (the host then never
// learns that its restart request was taken).
TEST(GadgetMirror, InputSentBeforeLeavingGoesOutBeforeTheDisconnect) {
    FakeGadget gadget;
    EmulatedBus bus;
    GadgetMirror mirror(bus, gadget, GadgetMirror::Options{});
    auto endpoint = bus.Plug(TalvoDeviceIdentity(TalvoMode::kNormal));
    constexpr int kReports = 20;
    for (int i = 0; i < kReports; ++i) {
        Bytes report = Filled(17, static_cast<std::uint8_t>(i));
        report[0] = kNormalInputReportId;
        ASSERT_TRUE(endpoint->PutInput(report.data(), report.size()));
    }
    bus.Unplug(endpoint);
    std::vector<Bytes> received = gadget.BeforeDisconnect();
    ASSERT_EQ(received.size(), static_cast<std::size_t>(kReports));
    for (int i = 0; i < kReports; ++i) {
        EXPECT_EQ(received[i], Filled(16, static_cast<std::uint8_t>(i))) << i;
    }
    EXPECT_EQ(mirror.GetCounts().lost, 0u);
}

}  // namespace
}  // namespace talvo
