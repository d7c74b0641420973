// The uhid side of talvo-emulator against a stand-in for the kernel: a
// SOCK_SEQPACKET socket pair carries the uhid events one message each, as
// /dev/uhid does. (The real kernel is met in the guest of tests/vm.)
#include <gtest/gtest.h>

#include <linux/uhid.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstring>
#include <memory>
#include <vector>

#include "emulator/identities.h"
#include "programs/talvo-emulator/uhid_mirror.h"
#include "hid/emulated_bus.h"
#include "hid/talvo_ids.h"

namespace talvo {
namespace {

class FakeKernel {
  public:
    FakeKernel() {
        int fds[2];
        EXPECT_EQ(::socketpair(AF_UNIX, SOCK_SEQPACKET | SOCK_CLOEXEC, 0, fds), 0);
        kernel_ = fds[0];
        device_ = fds[1];
    }
    ~FakeKernel() {
        ::close(kernel_);
        if (device_ >= 0) {
            ::close(device_);
        }
    }
    // The mirror's end, handed over once.
    int Open() {
        const int fd = device_;
        device_ = -1;
        return fd;
    }
    bool Next(uhid_event& event, int timeoutMs = 2000) {
        pollfd p{kernel_, POLLIN, 0};
        if (::poll(&p, 1, timeoutMs) != 1) {
            return false;
        }
        std::memset(&event, 0, sizeof event);
        return ::read(kernel_, &event, sizeof event) >= 4;
    }
    void Output(const std::vector<std::uint8_t>& report) {
        uhid_event event{};
        event.type = UHID_OUTPUT;
        event.u.output.rtype = UHID_OUTPUT_REPORT;
        event.u.output.size = static_cast<std::uint16_t>(report.size());
        std::memcpy(event.u.output.data, report.data(), report.size());
        ASSERT_EQ(::write(kernel_, &event, sizeof event), static_cast<ssize_t>(sizeof event));
    }
    void Send(const uhid_event& event) {
        ASSERT_EQ(::write(kernel_, &event, sizeof event), static_cast<ssize_t>(sizeof event));
    }

  private:
    int kernel_ = -1;
    int device_ = -1;
};

struct Rig {
    Rig() {
        UhidMirror::Options options;
        options.opener = [this] { return kernel.Open(); };
        options.realtimeReader = false;
        mirror = std::make_unique<UhidMirror>(bus, options);
    }
    FakeKernel kernel;
    EmulatedBus bus;
    std::unique_ptr<UhidMirror> mirror;
};

std::vector<std::uint8_t> Report(std::uint8_t id, std::size_t length, std::uint8_t fill) {
    std::vector<std::uint8_t> report(length, fill);
    report[0] = id;
    return report;
}

// Catches: a device made with other IDs or another descriptor than the
// identity's (the host would not find it, or would frame reports wrongly),
// and output reports reaching the device model changed or of the wrong
// length (the model takes whole reports only).
TEST(UhidMirror, MirrorsTheIdentityAndPassesWholeOutputReportsOnly) {
    Rig rig;
    const EmulatedIdentity identity = TalvoDeviceIdentity(TalvoMode::kUpdate);
    auto endpoint = rig.bus.Plug(identity);
    uhid_event event;
    ASSERT_TRUE(rig.kernel.Next(event));
    ASSERT_EQ(event.type, UHID_CREATE2);
    EXPECT_EQ(event.u.create2.bus, 0x03);
    EXPECT_EQ(event.u.create2.vendor, kTalvoVendorId);
    EXPECT_EQ(event.u.create2.product, kTalvoUpdateProductId);
    ASSERT_EQ(event.u.create2.rd_size, identity.reportDescriptor.size());
    EXPECT_EQ(std::memcmp(event.u.create2.rd_data, identity.reportDescriptor.data(),
                          identity.reportDescriptor.size()),
              0);

    const auto whole = Report(0x04, 65, 0x5A);
    rig.kernel.Output(Report(0x04, 64, 0x11));  // one byte short
    rig.kernel.Output(whole);
    std::vector<std::uint8_t> taken;
    ASSERT_TRUE(endpoint->TakeOutput(taken, 2000));
    EXPECT_EQ(taken, whole);
    EXPECT_FALSE(endpoint->TakeOutput(taken, 100));
    EXPECT_EQ(rig.mirror->GetCounts().ignored, 1u);
    rig.bus.Unplug(endpoint);
}

// Catches: the answer a device sends just before it leaves for a restart
// lost because the device was destroyed first (the host then never learns
// that its restart request was taken), and a feature report request left
// unanswered (the kernel would hold the host's ioctl for seconds).
TEST(UhidMirror, InputSentBeforeLeavingReachesTheKernelBeforeTheDestroy) {
    Rig rig;
    auto endpoint = rig.bus.Plug(TalvoDeviceIdentity(TalvoMode::kNormal));
    uhid_event event;
    ASSERT_TRUE(rig.kernel.Next(event));
    ASSERT_EQ(event.type, UHID_CREATE2);

    uhid_event request{};
    request.type = UHID_GET_REPORT;
    request.u.get_report.id = 77;
    rig.kernel.Send(request);
    ASSERT_TRUE(rig.kernel.Next(event));
    ASSERT_EQ(event.type, UHID_GET_REPORT_REPLY);
    EXPECT_EQ(event.u.get_report_reply.id, 77u);
    EXPECT_NE(event.u.get_report_reply.err, 0);

    // A long answer (a data stream), the device leaving right after it.
    constexpr int kReports = 40;
    for (int i = 0; i < kReports; ++i) {
        const auto report = Report(0x01, 17, static_cast<std::uint8_t>(i));
        ASSERT_TRUE(endpoint->PutInput(report.data(), report.size()));
    }
    rig.bus.Unplug(endpoint);
    for (int i = 0; i < kReports; ++i) {
        SCOPED_TRACE(i);
        ASSERT_TRUE(rig.kernel.Next(event));
        ASSERT_EQ(event.type, UHID_INPUT2);
        ASSERT_EQ(event.u.input2.size, 17u);
        EXPECT_EQ(std::memcmp(event.u.input2.data,
                              Report(0x01, 17, static_cast<std::uint8_t>(i)).data(), 17),
                  0);
    }
    ASSERT_TRUE(rig.kernel.Next(event));
    EXPECT_EQ(event.type, UHID_DESTROY);
}

}  // namespace
}  // namespace talvo
