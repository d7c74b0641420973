// The update controller where no other test reaches it: a busy device's
// reading (abandoned, or with busy taken as a refusal) and its teardown
// while an update runs.
#include "device/update_controller.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstring>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "base/clock.h"
#include "base/ui_message_queue.h"
#include "firmware/firmware_package.h"
#include "emulator/emulated_talvo.h"
#include "hid/emulated_bus.h"
#include "tools/fw_image_builder.h"

namespace talvo {
namespace {

struct Recorder : IUpdateObserver {
    void OnDeviceAbsent() override { ++absent; }
    void OnDevicePresent(const VersionSlots& versions) override {
        ++present;
        shown = versions;
    }
    void OnDeviceBusy() override { ++busy; }
    void OnUpdateProgress(std::uint32_t, std::uint32_t) override { ++progress; }
    void OnUpdateEnded(bool, ResultCode) override { ++ended; }

    int absent = 0;
    int present = 0;
    int busy = 0;
    std::atomic<int> progress{0};
    int ended = 0;
    VersionSlots shown;
};

class ControllerTest : public ::testing::Test {
  protected:
    // The next `count` version reads answer busy (status 19).
    void BusyFor(int count) { device.AddFault(Fault::Busy(count)); }

    EmulatedBus bus;
    ScaledClock clock{20.0};
    ScopedClock scoped{clock};
    EmulatedTalvo device{bus, Scenario::Named("absent")};
    Recorder seen;
};

// Catches: a busy answer waited out on the UI thread or given up as "---"
// instead of abandoning the reading for its owner to repeat.
TEST_F(ControllerTest, BusyAbandonsTheReadingAndTheNextOneReadsAllThree) {
    UpdateController controller(seen, bus);
    device.PlugIn(TalvoMode::kNormal);
    BusyFor(2);
    controller.OnModeReport(kDeviceModeNormal);
    EXPECT_EQ(seen.busy, 1);
    EXPECT_EQ(seen.present, 0);
    controller.ReadVersions();
    EXPECT_EQ(seen.busy, 2);
    controller.ReadVersions();
    EXPECT_EQ(seen.busy, 2);
    ASSERT_EQ(seen.present, 1);
    EXPECT_EQ(seen.shown, (VersionSlots{u"1.05", u"1.05", u"1.05"}));
    EXPECT_EQ(device.CommandNames(),
              (std::vector<std::string>{"get 0/6 value=0", "get 0/6 value=0", "get 0/6 value=0",
                                        "get 0/6 value=1", "get 0/6 value=3"}));
}

// Catches: a busy answer taken as a refusal reading anything but "---", or
// ending the reading there instead of going on with the other slots.
TEST_F(ControllerTest, BusyTakenAsARefusalReadsThatSlotAsUnknownAndGoesOn) {
    UpdateController controller(seen, bus);
    device.PlugIn(TalvoMode::kNormal);
    controller.OnModeReport(kDeviceModeNormal);
    ASSERT_EQ(seen.present, 1);
    BusyFor(1);
    controller.ReadVersions(true);
    ASSERT_EQ(seen.present, 2);
    EXPECT_EQ(seen.busy, 0);
    EXPECT_EQ(seen.shown, (VersionSlots{u"---", u"1.05", u"1.05"}));
}

// Catches: a controller that abandons its updater thread after a stop limit
// while the thread still waits for the device, leaving it to use the freed
// connection and job block later. The owner going must end the run there
// and then, closing request included, and nothing may follow it.
TEST_F(ControllerTest, TearingDownMidUpdateEndsTheUpdaterBeforeTheControllerGoes) {
    const std::vector<std::uint8_t> image =
        fwtools::BuildImage(fwtools::SeededImage("UASP", "1.07", 12000, 7, 0x1234567u, 0x89ABCDEu));
    FirmwarePackage package;
    package.imageData[1].reset(new std::uint8_t[image.size()]);
    std::memcpy(package.imageData[1].get(), image.data(), image.size());
    package.imageLength[1] = static_cast<std::uint32_t>(image.size());
    package.imageVersion[1] = u"1.07";
    // The device never restarts: the updater waits 120 s for update mode,
    // far past the 20 s a stop limit would wait.
    ModeFaults refuse = device.GetModeFaults();
    refuse.refuseRestarts = 1000;
    device.SetModeFaults(refuse);
    device.PlugIn(TalvoMode::kNormal);

    UiMessageQueue queue;
    auto controller = std::make_unique<UpdateController>(seen, bus);
    ASSERT_TRUE(controller->Begin(&queue));
    const auto pumpUntil = [&](const auto& done) {
        for (int i = 0; i < 2000 && !done(); ++i) {
            ThreadMessage m;
            if (queue.Take(&m, 50)) {
                controller->Handle(m.message, m.wParam);
            }
        }
        return done();
    };
    ASSERT_TRUE(pumpUntil([&] { return controller->DeviceReady(); }));
    ASSERT_TRUE(controller->StartUpdate(package));
    ASSERT_TRUE(pumpUntil([&] {
        const std::vector<std::string> log = device.CommandNames();
        return std::find(log.begin(), log.end(), "set 0/1 value=0") != log.end();
    }));

    controller.reset();
    const std::vector<std::string> atTeardown = device.CommandNames();
    ASSERT_FALSE(atTeardown.empty());
    EXPECT_EQ(atTeardown.back(), "set 0/1 value=1")
        << "the run had not ended when its controller went";
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    EXPECT_EQ(device.CommandNames(), atTeardown) << "the updater outlived its controller";
    EXPECT_EQ(seen.ended, 0) << "an owner that is going gets no outcome";
    queue.Close();
}

// Two units on one bus, each on its own port.
class TwoUnitsTest : public ::testing::Test {
  protected:
    FirmwarePackage NormalImagePackage() {
        const std::vector<std::uint8_t> image = fwtools::BuildImage(
            fwtools::SeededImage("UASP", "1.07", 12000, 7, 0x1234567u, 0x89ABCDEu));
        FirmwarePackage package;
        package.imageData[1].reset(new std::uint8_t[image.size()]);
        std::memcpy(package.imageData[1].get(), image.data(), image.size());
        package.imageLength[1] = static_cast<std::uint32_t>(image.size());
        package.imageVersion[1] = u"1.07";
        return package;
    }
    // Runs one whole update with a controller that was told nothing of the
    // units: it starts on the one it finds first.
    bool UpdateTheFirstUnitFound(UpdateController& controller, const FirmwarePackage& package) {
        UiMessageQueue queue;
        const auto pumpUntil = [&](const auto& done) {
            for (int i = 0; i < 4000 && !done(); ++i) {
                ThreadMessage m;
                if (queue.Take(&m, 50)) {
                    controller.Handle(m.message, m.wParam);
                }
            }
            return done();
        };
        const bool ran =
            controller.Begin(&queue) && pumpUntil([&] { return controller.DeviceReady(); }) &&
            controller.StartUpdate(package) && pumpUntil([&] { return seen.ended == 1; });
        controller.End();
        queue.Close();
        return ran;
    }

    ScaledClock clock{20.0};
    ScopedClock scoped{clock};
    EmulatedBus bus;
    EmulatedBus portA{bus, EmulatedBus::PortName(1)};
    EmulatedBus portB{bus, EmulatedBus::PortName(2)};
    Recorder seen;
};

// Catches: the update restarting unit A and then flashing unit B, which
// sits in update mode from an earlier run, and calling that a success.
TEST_F(TwoUnitsTest, AnUpdateFollowsItsUnitPastAnotherOneInUpdateMode) {
    EmulatedTalvo unitA{portA, Scenario::Named("outdated")};
    EmulatedTalvo unitB{portB, Scenario::Named("update-mode")};
    const std::string versionB = unitB.Version(1);
    UpdateController controller(seen, bus);
    ASSERT_TRUE(UpdateTheFirstUnitFound(controller, NormalImagePackage()));
    EXPECT_TRUE(controller.Succeeded());
    EXPECT_EQ(unitA.Version(1), "1.07");
    EXPECT_EQ(unitB.ImagesAccepted(), 0);
    EXPECT_EQ(unitB.Version(1), versionB);
}

// Catches: the watcher taking the other unit, still in normal mode, for the
// one being updated, so update mode was never seen and the run failed.
TEST_F(TwoUnitsTest, AnotherUnitInNormalModeDoesNotHideTheSwitch) {
    EmulatedTalvo unitA{portA, Scenario::Named("outdated")};
    EmulatedTalvo unitB{portB, Scenario::Named("outdated")};
    UpdateController controller(seen, bus);
    ASSERT_TRUE(UpdateTheFirstUnitFound(controller, NormalImagePackage()));
    EXPECT_TRUE(controller.Succeeded());
    EXPECT_EQ(unitA.Version(1), "1.07");
    EXPECT_EQ(unitB.ImagesAccepted(), 0);
    EXPECT_EQ(unitB.Arrivals(), 1) << "the other unit was restarted";
}

}  // namespace
}  // namespace talvo
