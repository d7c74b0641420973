// Whole updates through the emulated TALVO, the session playing the main
// dialog's part: the normal road and the variations of the sequence.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>

#include "tests/e2e/e2e_support.h"

namespace talvo::e2e {
namespace {

const FirmwarePackage& Shipped() {
    return ShippedPackage();
}

std::vector<std::string> Installs(const FirmwarePackage& package) {
    std::vector<std::string> out;
    for (int slot = 0; slot < kImageTypeCount; ++slot) {
        if (package.HasImage(slot)) {
            const auto part = ImageCommands(package, slot);
            out.insert(out.end(), part.begin(), part.end());
        }
    }
    return out;
}

TEST(UpdateE2E, NormalModeDeviceGetsTheShippedPackageAndReportsItsNewVersion) {
    ASSERT_TRUE(Shipped().HasImage(1));
    ASSERT_TRUE(Shipped().HasImage(2));
    Rig rig;
    const Outcome o = rig.Run(Named("current"), Shipped());
    ASSERT_TRUE(o.ended);
    EXPECT_EQ(o.endMessages, 1);
    EXPECT_TRUE(o.success);
    EXPECT_EQ(o.result, kResultOk);
    EXPECT_EQ(o.commands, Join({{kRestart}, Installs(Shipped()), {kClosing}}));
    EXPECT_TRUE(o.lines.empty());
    EXPECT_TRUE(o.flashIsPackage);
    EXPECT_TRUE(o.threadsGone);

    // The bar: 0..10 while settling, then up to 100, never backwards.
    ASSERT_GE(o.progress.size(), 22u);
    EXPECT_EQ(o.progress[0], 0u);
    EXPECT_EQ(o.progress[19], 10u);
    EXPECT_EQ(o.progress.back(), 100u);
    EXPECT_TRUE(std::is_sorted(o.progress.begin(), o.progress.end()));
    EXPECT_NE(std::find(o.progress.begin(), o.progress.end(), 50u), o.progress.end());

    // The device restarts into normal mode and command 6 gives the new
    // version, read by the session as the dialog does.
    CUpdateSession& s = *rig.session;
    ASSERT_TRUE(s.Begin());  // the run ended its watcher

    ASSERT_TRUE(
        s.PumpUntil([&] { return s.DeviceReady() && s.Mode() == kDeviceModeNormal; }, 60000));
    EXPECT_EQ(s.Versions()[1], u"1.07");
    EXPECT_EQ(s.Versions()[2], u"1.07");
    // Now up to date: the rule says no update is needed.
    EXPECT_FALSE(s.UpdateNeeded(Shipped()));
    EXPECT_EQ(rig.talvo->Version(1), "1.07");
    EXPECT_EQ(rig.talvo->Version(3), "1.07");
}

TEST(UpdateE2E, OnlyADeviceRunningThePackageVersionsNeedsNoUpdate) {
    struct Case {
        const char* scenario;
        bool needed;
    };
    for (const Case c : {Case{"up-to-date", false}, Case{"current", true}, Case{"outdated", true},
                         Case{"mixed", true}}) {
        SCOPED_TRACE(c.scenario);
        Rig rig;
        ASSERT_TRUE(rig.Connect(Named(c.scenario)));
        EXPECT_EQ(rig.session->UpdateNeeded(Shipped()), c.needed);
        if (!c.needed) {
            EXPECT_EQ(rig.session->Versions()[1], u"1.07");
            EXPECT_EQ(rig.session->Versions()[2], u"1.07");
        }
    }
}

TEST(UpdateE2E, DeviceAlreadyInUpdateModeGetsNoRestartRequest) {
    Rig rig;
    const Outcome o = rig.Run(Named("update-mode"), Shipped());
    ASSERT_TRUE(o.ended);
    EXPECT_TRUE(o.success);
    EXPECT_EQ(o.commands, Join({Installs(Shipped()), {kClosing}}));
    EXPECT_TRUE(o.flashIsPackage);
    // Settling still takes its 20 ticks.
    ASSERT_GE(o.progress.size(), 20u);
    EXPECT_EQ(o.progress[19], 10u);
}

TEST(UpdateE2E, RestartRequestRefusedTwiceIsRetried) {
    Scenario scenario = Named("current");
    Fault refuse = Fault::Status(0, 1, 0x04, 2);
    refuse.value = 0;
    scenario.faults.push_back(refuse);
    Rig rig;
    const Outcome o = rig.Run(scenario, Shipped());
    ASSERT_TRUE(o.ended);
    EXPECT_TRUE(o.success);
    EXPECT_EQ(o.commands, Join({{kRestart, kRestart, kRestart}, Installs(Shipped()), {kClosing}}));
    EXPECT_TRUE(o.flashIsPackage);
}

TEST(UpdateE2E, UpdaterImageIsConfirmedAfterTheDeviceRestarts) {
    const FirmwarePackage& package = UpdaterPackage();
    {
        Rig rig;
        const Outcome o = rig.Run(Named("outdated"), package);
        ASSERT_TRUE(o.ended);
        EXPECT_TRUE(o.success) << o.result;
        EXPECT_EQ(o.commands, Join({{kRestart},
                                    ImageCommands(package, 0),
                                    {kConfirm},
                                    ImageCommands(package, 1),
                                    {kClosing}}));
        EXPECT_TRUE(o.flashIsPackage);
        EXPECT_TRUE(o.lines.empty());
        // Catches a confirmation that does not give the device its 5 s to
        // settle after it came back in update mode (device clock).
        double arrived = -1, confirmed = -1;
        for (const std::string& line : rig.talvo->Trace().Lines()) {
            const double at = std::strtod(line.c_str(), nullptr);
            if (confirmed < 0 && line.find("arrives in update mode") != std::string::npos) {
                arrived = at;
            } else if (confirmed < 0 &&
                       line.find("MSG set-request group=11 cmd=5") != std::string::npos) {
                confirmed = at;
            }
        }
        EXPECT_GE(confirmed - arrived, 5.0) << arrived << " " << confirmed;
    }
    {
        Rig rig;
        const Outcome o = rig.Run(Named("fwup-fails"), package);
        ASSERT_TRUE(o.ended);
        EXPECT_FALSE(o.success);
        EXPECT_EQ(o.result, kResultWriteFailed);
        // The Normal image is not sent after a refused updater image.
        EXPECT_EQ(o.commands,
                  Join({{kRestart}, ImageCommands(package, 0), {kConfirm}, {kClosing}}));
        EXPECT_FALSE(o.flashIsPackage);
    }
}

}  // namespace
}  // namespace talvo::e2e
