#include "device/device_watcher.h"

#include <gtest/gtest.h>

#include <chrono>
#include <mutex>
#include <thread>
#include <vector>

#include "base/clock.h"
#include "emulator/emulated_talvo.h"
#include "hid/emulated_bus.h"

namespace talvo {
namespace {

using namespace std::chrono_literals;

class Recorder {
  public:
    static void Callback(DeviceMode mode, void* self) {
        auto* r = static_cast<Recorder*>(self);
        std::lock_guard<std::mutex> lock(r->mutex);
        r->modes.push_back(mode);
    }
    std::vector<DeviceMode> Modes() {
        std::lock_guard<std::mutex> lock(mutex);
        return modes;
    }
    // Waits (real time, generous) until `count` reports came.
    bool WaitFor(std::size_t count) {
        for (int i = 0; i < 1000; ++i) {
            if (Modes().size() >= count) {
                return true;
            }
            std::this_thread::sleep_for(5ms);
        }
        return false;
    }
    std::mutex mutex;
    std::vector<DeviceMode> modes;
};

class WatcherTest : public ::testing::Test {
  protected:
    EmulatedBus bus;
    ScopedHidPlatform platform{bus};
    ScaledClock clock{10.0};
    ScopedClock scoped{clock};
    EmulatedTalvo device{bus, Scenario::Named("absent")};
    Recorder recorder;
};

TEST_F(WatcherTest, NoDeviceIsReportedOnceAndThenNothing) {
    CDeviceWatcher watcher;
    EXPECT_EQ(g_currentDeviceMode.load(), kDeviceModeUnknown);
    ASSERT_EQ(watcher.Begin(&Recorder::Callback, &recorder), 1);
    ASSERT_TRUE(recorder.WaitFor(1));
    std::this_thread::sleep_for(200ms);  // about ten more probes
    EXPECT_EQ(recorder.Modes(), std::vector<DeviceMode>{kDeviceModeNone});
    EXPECT_EQ(g_currentDeviceMode.load(), kDeviceModeNone);
}

TEST_F(WatcherTest, FollowsTheDeviceAndReportsAModeChangeThroughNone) {
    device.PlugIn(TalvoMode::kNormal);
    CDeviceWatcher watcher;
    ASSERT_EQ(watcher.Begin(&Recorder::Callback, &recorder), 1);
    ASSERT_TRUE(recorder.WaitFor(1));
    EXPECT_EQ(g_currentDeviceMode.load(), kDeviceModeNormal);

    // Normal mode replaced by update mode between two probes.
    device.PlugIn(TalvoMode::kUpdate);
    ASSERT_TRUE(recorder.WaitFor(3));
    device.Unplug();
    ASSERT_TRUE(recorder.WaitFor(4));
    EXPECT_EQ(recorder.Modes(), (std::vector<DeviceMode>{1, 0, 2, 0}));
}

// Catches a probe that takes whichever identity it meets first: the
// update-mode one is on the bus first here.
TEST_F(WatcherTest, NormalModeWinsWhenBothIdentitiesArePresent) {
    device.PlugIn(TalvoMode::kUpdate);
    {
        EmulatedTalvo second(bus, Scenario::Named("current"));
        EXPECT_EQ(CDeviceWatcher::ProbeDeviceMode(), kDeviceModeNormal);
    }
    EXPECT_EQ(CDeviceWatcher::ProbeDeviceMode(), kDeviceModeUpdate);
}

TEST_F(WatcherTest, WrongReportLengthsCountAsNoDevice) {
    EmulatedTalvo odd(bus, Scenario::Named("wrong-lengths"));
    EXPECT_EQ(CDeviceWatcher::ProbeDeviceMode(), kDeviceModeNone);
}

TEST_F(WatcherTest, SecondBeginKeepsTheFirstCallback) {
    Recorder other;
    CDeviceWatcher watcher;
    ASSERT_EQ(watcher.Begin(&Recorder::Callback, &recorder), 1);
    EXPECT_EQ(watcher.Begin(&Recorder::Callback, &other), 0);
    ASSERT_TRUE(recorder.WaitFor(1));
    EXPECT_TRUE(other.Modes().empty());
}

TEST_F(WatcherTest, EndWakesTheLoopAtOnceAndSilencesTheCallback) {
    device.PlugIn(TalvoMode::kNormal);
    CDeviceWatcher watcher;
    ASSERT_EQ(watcher.Begin(&Recorder::Callback, &recorder), 1);
    ASSERT_TRUE(recorder.WaitFor(1));
    const auto before = std::chrono::steady_clock::now();
    watcher.End();
    // The quit message ends the wait; no 100 ms stop poll is needed twice
    // over (generous bound for a loaded machine).
    EXPECT_LT(std::chrono::steady_clock::now() - before, 2s);
    EXPECT_FALSE(watcher.HasThread());
    EXPECT_EQ(g_currentDeviceMode.load(), kDeviceModeNone);
    device.PlugIn(TalvoMode::kUpdate);
    std::this_thread::sleep_for(100ms);
    EXPECT_EQ(recorder.Modes().size(), 1u);

    // It can be begun again and reports from scratch.
    ASSERT_EQ(watcher.Begin(&Recorder::Callback, &recorder), 1);
    ASSERT_TRUE(recorder.WaitFor(2));
    EXPECT_EQ(recorder.Modes().back(), kDeviceModeUpdate);
}

}  // namespace
}  // namespace talvo
