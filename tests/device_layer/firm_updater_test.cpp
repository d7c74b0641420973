#include "device/firm_updater.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cstring>
#include <mutex>
#include <numeric>
#include <string>
#include <vector>

#include "base/clock.h"
#include "device/device_comm_app.h"
#include "emulator/device_image.h"
#include "emulator/emulated_talvo.h"
#include "firmware/firmware_package.h"
#include "hid/emulated_bus.h"
#include "protocol/diagnostics.h"
#include "tests/e2e/update_session.h"
#include "tools/fw_image_builder.h"

namespace talvo {
namespace {

std::vector<std::uint8_t> MakeImage(const char* magic, std::uint32_t length, std::uint64_t seed) {
    return fwtools::BuildImage(
        fwtools::SeededImage(magic, "1.07", length, seed, 0x1234567u + seed, 0x89ABCDEu));
}

void PutImage(FirmwarePackage& package, int slot, const std::vector<std::uint8_t>& image) {
    package.imageData[slot].reset(new std::uint8_t[image.size()]);
    std::memcpy(package.imageData[slot].get(), image.data(), image.size());
    package.imageLength[slot] = static_cast<std::uint32_t>(image.size());
    package.imageVersion[slot] = u"1.07";
}

// The requests the device took: "set 0/1 value=0", "get 0/6 value=1", and
// the update group's steps by name alone ("FU_SETINFO", "FU_FWLOAD", ...).
std::vector<std::string> Steps(const EmulatedTalvo& device) {
    std::vector<std::string> steps = device.CommandNames();
    for (std::string& step : steps) {
        if (step.rfind("FU_", 0) == 0) {
            step.resize(std::min(step.size(), step.find(' ')));
        }
    }
    return steps;
}

std::size_t Count(const std::vector<std::string>& log, const std::string& entry) {
    return static_cast<std::size_t>(std::count(log.begin(), log.end(), entry));
}

struct Lines {
    static void Sink(const wchar_t* line, void* self) {
        auto* lines = static_cast<Lines*>(self);
        std::lock_guard<std::mutex> lock(lines->mutex);
        lines->all.emplace_back(line);
    }
    std::mutex mutex;
    std::vector<std::wstring> all;
};

class UpdaterTest : public ::testing::Test {
  protected:
    UpdaterTest() {
        normal = MakeImage("UASP", 25000, 1);
        dsp = MakeImage("DSPA", 12000, 2);
        fwup = MakeImage("FWUP", 11000, 3);
    }

    // Runs a whole update through the session until its end message.
    void RunSession(const FirmwarePackage& package) {
        ASSERT_TRUE(session.Begin());
        ASSERT_TRUE(session.PumpUntil([&] { return session.DeviceReady(); }, 30000));
        ASSERT_TRUE(session.StartUpdate(package));
        ASSERT_TRUE(session.PumpUntil(
            [&] { return session.GetState() == CUpdateSession::State::kEnded; }, 600000));
    }

    // The part of the log from the first command the updater sent.
    std::vector<std::string> UpdaterLog() {
        std::vector<std::string> log = Steps(device);
        const auto first = std::find_if(log.begin(), log.end(), [](const std::string& e) {
            return e.rfind("get 0/6 ", 0) != 0;
        });
        return std::vector<std::string>(first, log.end());
    }

    EmulatedBus bus;
    ScopedHidPlatform platform{bus};
    ScaledClock clock{20.0};
    ScopedClock scoped{clock};
    Lines lines;
    ScopedDiagnosticSink sink{&Lines::Sink, &lines};
    EmulatedTalvo device{bus, Scenario::Named("absent")};
    CUpdateSession session;
    std::vector<std::uint8_t> normal, dsp, fwup;
};

TEST_F(UpdaterTest, NormalModeDeviceIsRestartedSettledAndGetsBothImages) {
    FirmwarePackage package;
    PutImage(package, 1, normal);
    PutImage(package, 2, dsp);
    std::vector<unsigned> progress;
    session.onMessage = [&](const ThreadMessage& m) {
        if (m.message == kMsgUpdateProgress) {
            progress.push_back(static_cast<unsigned>(m.wParam));
        }
    };
    device.PlugIn(TalvoMode::kNormal);
    RunSession(package);
    EXPECT_TRUE(session.Succeeded());
    EXPECT_EQ(session.Result(), kResultOk);

    const std::vector<std::string> log = UpdaterLog();
    ASSERT_FALSE(log.empty());
    EXPECT_EQ(log.front(), "set 0/1 value=0");
    EXPECT_EQ(log.back(), "set 0/1 value=1");
    EXPECT_EQ(Count(log, "FU_SETINFO"), 2u);
    // 25,000 bytes: 3 pieces; 12,000 bytes: 2 pieces; each piece written.
    EXPECT_EQ(Count(log, "FU_FWLOAD"), 5u);
    EXPECT_EQ(Count(log, "FU_WRITEFW"), 5u);
    EXPECT_EQ(Count(log, "set 11/5 value=1"), 0u);
    EXPECT_EQ(device.Flash(kTypeCodeMain), normal);  // both images arrived whole
    EXPECT_EQ(device.Flash(kTypeCodeDsp), dsp);

    // Settling shows as 0..10 of the bar, the end as 100, never going back.
    ASSERT_GE(progress.size(), 22u);
    EXPECT_EQ(progress.front(), 0u);
    EXPECT_EQ(progress[19], 10u);
    EXPECT_EQ(progress.back(), 100u);
    EXPECT_TRUE(std::is_sorted(progress.begin(), progress.end()));
    EXPECT_TRUE(lines.all.empty());
    EXPECT_FALSE(session.UpdateRunning());
    EXPECT_FALSE(session.DeviceReady());
}

TEST_F(UpdaterTest, DeviceAlreadyInUpdateModeGetsNoRestartRequest) {
    FirmwarePackage package;
    PutImage(package, 1, normal);
    device.PlugIn(TalvoMode::kUpdate);
    RunSession(package);
    EXPECT_TRUE(session.Succeeded());
    const std::vector<std::string> log = UpdaterLog();
    EXPECT_EQ(Count(log, "set 0/1 value=0"), 0u);
    EXPECT_EQ(log.front(), "FU_SETINFO");
    EXPECT_EQ(log.back(), "set 0/1 value=1");
}

TEST_F(UpdaterTest, RestartRequestIsTriedThreeTimes) {
    FirmwarePackage package;
    PutImage(package, 1, normal);
    Fault refusals = Fault::Status(0, 1, device_status::kWrongState, 2);
    refusals.value = 0;
    device.AddFault(refusals);
    device.PlugIn(TalvoMode::kNormal);
    RunSession(package);
    EXPECT_TRUE(session.Succeeded());
    EXPECT_EQ(Count(UpdaterLog(), "set 0/1 value=0"), 3u);
}

TEST_F(UpdaterTest, RestartRefusedThreeTimesEndsWithTheLastResult) {
    FirmwarePackage package;
    PutImage(package, 1, normal);
    Fault refusals = Fault::Status(0, 1, device_status::kWrongState, -1);
    refusals.value = 0;
    device.AddFault(refusals);
    device.PlugIn(TalvoMode::kNormal);
    RunSession(package);
    EXPECT_FALSE(session.Succeeded());
    EXPECT_EQ(session.Result(), kResultDeviceStatus);
    EXPECT_EQ(UpdaterLog(), (std::vector<std::string>{"set 0/1 value=0", "set 0/1 value=0",
                                                      "set 0/1 value=0", "set 0/1 value=1"}));
}

TEST_F(UpdaterTest, UpdaterImageIsConfirmedAfterTheDeviceCameBack) {
    for (const int verdict : {0, 1}) {
        SCOPED_TRACE(verdict);
        Scenario scenario = Scenario::Named("update-mode");
        scenario.device.modeFaults.fwupVerdict = verdict;
        EmulatedTalvo local(bus, scenario);
        CUpdateSession run;
        FirmwarePackage package;
        PutImage(package, 0, fwup);
        PutImage(package, 1, normal);
        ASSERT_TRUE(run.Begin());
        ASSERT_TRUE(run.PumpUntil([&] { return run.DeviceReady(); }, 30000));
        ASSERT_TRUE(run.StartUpdate(package));
        ASSERT_TRUE(
            run.PumpUntil([&] { return run.GetState() == CUpdateSession::State::kEnded; }, 600000));

        const std::vector<std::string> log = Steps(local);
        const auto confirm = std::find(log.begin(), log.end(), "set 11/5 value=1");
        ASSERT_NE(confirm, log.end());
        EXPECT_EQ(log.back(), "set 0/1 value=1");
        EXPECT_EQ(local.Flash(kTypeCodeUpdater), fwup);
        if (verdict == 0) {
            EXPECT_TRUE(run.Succeeded());
            EXPECT_EQ(std::count(confirm, log.end(), "FU_SETINFO"), 1);  // the Normal image
            EXPECT_EQ(local.Flash(kTypeCodeMain), normal);
        } else {
            EXPECT_FALSE(run.Succeeded());
            EXPECT_EQ(run.Result(), kResultWriteFailed);
            EXPECT_EQ(std::count(confirm, log.end(), "FU_SETINFO"), 0);
        }
    }
}

TEST_F(UpdaterTest, FailedAnnouncementEndsTheRunWithItsDiagnostics) {
    FirmwarePackage package;
    PutImage(package, 1, normal);
    PutImage(package, 2, dsp);
    device.AddFault(Fault::Status(9, 0, 0x05, -1));
    device.PlugIn(TalvoMode::kUpdate);
    RunSession(package);
    EXPECT_FALSE(session.Succeeded());
    EXPECT_EQ(session.Result(), kResultLoadFailed);
    EXPECT_EQ(UpdaterLog(), (std::vector<std::string>{"FU_SETINFO", "FU_SETINFO", "FU_SETINFO",
                                                      "set 0/1 value=1"}));
    ASSERT_EQ(lines.all.size(), 3u);
    EXPECT_EQ(lines.all[0], L"error : receive error response. (FU_SETINFO) [0x05]\n");
}

// Runs the updater alone on a connection the test opened itself.
class BareUpdaterTest : public UpdaterTest {
  protected:
    void RunBare(CFirmUpdater& updater, CDeviceCommApp& connection) {
        updater.connection = &connection;
        updater.notifyWindow = &queue;
        updater.notifyMessage = kMsgUpdateEnded;
        ASSERT_EQ(updater.Start(u"CFirmUpdater", 0), 1);
        ASSERT_TRUE(queue.Take(&end, 1200000));
        updater.Stop(CFirmUpdater::kStopLimitMs);
        EXPECT_FALSE(updater.HasThread());
    }
    void TearDown() override { g_currentDeviceMode.store(kDeviceModeNone); }
    // The device in update mode, open and ready on `connection`.
    void OpenInUpdateMode(CDeviceCommApp& connection) {
        device.PlugIn(TalvoMode::kUpdate);
        ASSERT_TRUE(connection.Open(2));
        connection.ready.store(1);
        g_currentDeviceMode.store(kDeviceModeUpdate);
    }

    UiMessageQueue queue;
    ThreadMessage end;
};

TEST_F(BareUpdaterTest, NoImagesSucceedsAfterSettlingAndStillCloses) {
    CDeviceCommApp connection;
    OpenInUpdateMode(connection);
    ASSERT_FALSE(HasFatalFailure());
    CFirmUpdater updater;
    RunBare(updater, connection);
    EXPECT_EQ(end.message, kMsgUpdateEnded);
    EXPECT_EQ(end.wParam, 1u);
    EXPECT_EQ(updater.LastResult(), kResultOk);
    EXPECT_EQ(Steps(device), std::vector<std::string>{"set 0/1 value=1"});
}

// Catches a settling cut short: the first job's callback sees 1 to 20, one
// tick per 500 ms, also when there is no image to install.
TEST_F(BareUpdaterTest, SettlingTicksOneToTwentyOnTheFirstJob) {
    CDeviceCommApp connection;
    OpenInUpdateMode(connection);
    ASSERT_FALSE(HasFatalFailure());
    CFirmUpdater updater;
    std::vector<int> ticks;
    updater.jobs[0].progress = [](int value, void* data) {
        static_cast<std::vector<int>*>(data)->push_back(value);
    };
    updater.jobs[0].userData = &ticks;
    const std::uint32_t before = clock.TickCount();
    RunBare(updater, connection);
    std::vector<int> expected(20);
    std::iota(expected.begin(), expected.end(), 1);
    EXPECT_EQ(ticks, expected);
    EXPECT_GE(clock.TickCount() - before, 10000u);
}

TEST_F(BareUpdaterTest, ConnectionNotReadyCountsAsNoDevice) {
    device.PlugIn(TalvoMode::kNormal);
    CDeviceCommApp connection;
    ASSERT_TRUE(connection.Open(1));
    g_currentDeviceMode.store(kDeviceModeNormal);  // ready stays 0
    FirmwarePackage package;
    CFirmUpdater updater;
    updater.jobs[0] =
        UpdateJob{normal.data(), static_cast<std::uint32_t>(normal.size()), nullptr, nullptr};
    updater.jobCount = 1;
    const std::uint32_t before = clock.TickCount();
    RunBare(updater, connection);
    EXPECT_EQ(end.wParam, 0u);
    EXPECT_EQ(updater.LastResult(), kResultModeTimeout);
    // 10 s of settling and 10 s more of waiting, on the scaled clock.
    EXPECT_GE(clock.TickCount() - before, 19000u);
    EXPECT_EQ(Steps(device), std::vector<std::string>{"set 0/1 value=1"});
}

TEST_F(BareUpdaterTest, BadImagesAndBadJobCountsSendNoImageData) {
    ModeFaults refuse = device.GetModeFaults();
    refuse.refuseRestarts = 1000;
    device.SetModeFaults(refuse);
    CDeviceCommApp connection;
    OpenInUpdateMode(connection);
    ASSERT_FALSE(HasFatalFailure());

    std::vector<std::uint8_t> corrupt = normal;
    corrupt[600] ^= 0x01;  // body no longer matches its checksum
    std::vector<std::uint8_t> noMagic = normal;
    noMagic[512] = 'X';
    struct Case {
        std::vector<std::uint8_t>* image;
        std::uint32_t jobCount;
        ResultCode expected;
    } cases[] = {{&corrupt, 1, kResultImageChecksum},
                 {&noMagic, 1, kResultBadImage},
                 {&normal, 4, kResultFailed}};
    for (const Case& c : cases) {
        if (!connection.IsOpen()) {
            ASSERT_TRUE(connection.Open(2));  // the last updater closed it on its way out
        }
        CFirmUpdater updater;
        for (UpdateJob& job : updater.jobs) {
            job = UpdateJob{c.image->data(), static_cast<std::uint32_t>(c.image->size()), nullptr,
                            nullptr};
        }
        updater.jobCount = c.jobCount;
        RunBare(updater, connection);
        EXPECT_EQ(end.wParam, 0u);
        EXPECT_EQ(updater.LastResult(), c.expected);
    }
    EXPECT_EQ(Steps(device),
              (std::vector<std::string>{"set 0/1 value=1", "set 0/1 value=1", "set 0/1 value=1"}));
}

TEST_F(BareUpdaterTest, WithoutConnectionNothingIsSentAndTheRunFails) {
    CFirmUpdater updater;
    updater.notifyWindow = &queue;
    updater.notifyMessage = kMsgUpdateEnded;
    g_currentDeviceMode.store(kDeviceModeUpdate);
    ASSERT_EQ(updater.Start(u"CFirmUpdater", 0), 1);
    ASSERT_TRUE(queue.Take(&end, 1200000));
    EXPECT_EQ(end.wParam, 0u);
    EXPECT_EQ(updater.LastResult(), kResultModeTimeout);
}

TEST_F(BareUpdaterTest, DestructorClosesTheConnectionItWasGiven) {
    device.PlugIn(TalvoMode::kUpdate);
    CDeviceCommApp connection;
    ASSERT_TRUE(connection.Open(2));
    {
        CFirmUpdater updater;
        updater.connection = &connection;
    }
    EXPECT_FALSE(connection.IsOpen());
}

}  // namespace
}  // namespace talvo
