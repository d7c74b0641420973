#include "device/device_comm_app.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstring>
#include <thread>

#include "base/clock.h"
#include "base/ui_message_queue.h"
#include "emulator/emulated_talvo.h"
#include "hid/emulated_bus.h"

namespace talvo {
namespace {

using namespace std::chrono_literals;

class ConnectionTest : public ::testing::Test {
  protected:
    void SetUp() override { CDeviceCommApp::SetNotifyTarget(&queue); }
    void TearDown() override { CDeviceCommApp::SetNotifyTarget(nullptr); }

    ResultCode ReadVersion(CDeviceCommApp& connection, int typeCode) {
        std::memset(connection.params.b, 0, sizeof connection.params.b);
        connection.params.b[0] = static_cast<std::uint8_t>(typeCode);
        return connection.RunCommand(6);
    }

    EmulatedBus bus;
    ScopedHidPlatform platform{bus};
    UiMessageQueue queue;
    EmulatedTalvo device{bus, Scenario::Named("absent")};
};

TEST_F(ConnectionTest, OpensOnlyForAPresentModeAndOnlyOnce) {
    device.PlugIn(TalvoMode::kNormal);
    CDeviceCommApp connection;
    EXPECT_FALSE(connection.Open(0));
    EXPECT_FALSE(connection.Open(3));
    EXPECT_FALSE(connection.Open(2));  // no update-mode device there
    EXPECT_EQ(connection.connected.load(), 0);
    EXPECT_EQ(connection.comm, nullptr);

    ASSERT_TRUE(connection.Open(1));
    ulo_CHidComm* first = connection.comm.get();
    EXPECT_EQ(first->inputReportLength, 16);
    EXPECT_FALSE(connection.Open(1));
    EXPECT_EQ(connection.comm.get(), first);
    EXPECT_EQ(connection.ready.load(), 0);  // Open never accepts by itself

    ASSERT_EQ(ReadVersion(connection, 1), kResultOk);
    EXPECT_EQ(std::memcmp(connection.params.b + 4, device.Version(1).c_str(), 5), 0);

    connection.ready.store(1);
    EXPECT_EQ(connection.Close(), 0);
    EXPECT_EQ(connection.comm, nullptr);
    EXPECT_EQ(connection.ready.load(), 1);  // Close leaves the flag to its owner
    EXPECT_EQ(connection.Close(), 0);
}

TEST_F(ConnectionTest, CommandWithoutDeviceFailsAndChangesNothing) {
    CDeviceCommApp connection;
    connection.params.b[0] = 0x5A;
    connection.params.b[83] = 0xA5;
    connection.lastStatus = 7;
    connection.lastDetail = 9;
    EXPECT_EQ(connection.RunCommand(6), kResultNotConnected);
    EXPECT_EQ(connection.params.b[0], 0x5A);
    EXPECT_EQ(connection.params.b[83], 0xA5);
    EXPECT_EQ(connection.lastStatus, 7);
    EXPECT_EQ(connection.lastDetail, 9);
}

TEST_F(ConnectionTest, DeviceStatusReachesTheStatusPair) {
    device.PlugIn(TalvoMode::kNormal);
    device.AddFault(Fault::Busy(1));
    CDeviceCommApp connection;
    ASSERT_TRUE(connection.Open(1));
    EXPECT_EQ(ReadVersion(connection, 0), kResultDeviceStatus);
    EXPECT_EQ(connection.lastStatus, 19);
}

TEST_F(ConnectionTest, LostDeviceMakesCommandsFailUntilClosed) {
    device.PlugIn(TalvoMode::kUpdate);
    CDeviceCommApp connection;
    ASSERT_TRUE(connection.Open(2));
    EXPECT_EQ(connection.comm->inputReportLength, 64);
    device.Unplug();
    const ResultCode lost = ReadVersion(connection, 1);
    EXPECT_TRUE(lost == kResultTransport || lost == kResultStopped) << lost;
    // The loss is reported to the main window as device event 255.
    ThreadMessage message;
    ASSERT_TRUE(queue.Take(&message, 5000));
    EXPECT_EQ(message.message, kMsgDeviceEvent);
    EXPECT_EQ(message.wParam, 255u);
    EXPECT_EQ(connection.Close(), 0);

    // Back again: a new open works.
    device.PlugIn(TalvoMode::kUpdate);
    ASSERT_TRUE(connection.Open(2));
    EXPECT_EQ(ReadVersion(connection, 1), kResultOk);
}

// Catches a notification post that waits for the connection lock, which
// the command holds: the notification must reach the UI side while the
// device still holds its answer back.
TEST_F(ConnectionTest, NotificationIsPostedWhileACommandWaits) {
    device.PlugIn(TalvoMode::kNormal);
    CDeviceCommApp connection;
    ASSERT_TRUE(connection.Open(1));
    device.AddFault(Fault::Late(0, 6, 1500));
    std::atomic<bool> seen{false};
    std::thread ui([&] {
        for (int i = 0; i < 2000 && device.Commands().empty(); ++i) {
            std::this_thread::sleep_for(1ms);
        }
        device.SendNotification(3, 0x1234);
        ThreadMessage message;
        if (queue.Take(&message, 10000) && message.message == kMsgDeviceEvent &&
            message.wParam == 3 && message.lParam == 0x1234) {
            seen.store(true);
        }
    });
    EXPECT_EQ(ReadVersion(connection, 1), kResultOk);
    EXPECT_TRUE(seen.load()) << "the notification waited for the command";
    ui.join();
}

}  // namespace
}  // namespace talvo
