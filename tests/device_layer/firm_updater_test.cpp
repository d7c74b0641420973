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
#include "firmware/firmware_package.h"
#include "hid/emulated_bus.h"
#include "protocol/diagnostics.h"
#include "tests/device_layer/fake_talvo.h"
#include "tests/e2e/update_session.h"
#include "tools/fw_image_builder.h"

namespace talvo {
namespace {

using testing::FakeAnswer;
using testing::FakeRequest;

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
        std::vector<std::string> log = device.Log();
        const auto first = std::find_if(log.begin(), log.end(), [](const std::string& e) {
            return e != "0/6 v=0" && e != "0/6 v=1" && e != "0/6 v=3";
        });
        return std::vector<std::string>(first, log.end());
    }

    EmulatedBus bus;
    ScopedHidPlatform platform{bus};
    ScaledClock clock{20.0};
    ScopedClock scoped{clock};
    Lines lines;
    ScopedDiagnosticSink sink{&Lines::Sink, &lines};
    testing::FakeTalvo device{bus};
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
    device.SetMode(1);
    RunSession(package);
    EXPECT_TRUE(session.Succeeded());
    EXPECT_EQ(session.Result(), kResultOk);

    const std::vector<std::string> log = UpdaterLog();
    ASSERT_FALSE(log.empty());
    EXPECT_EQ(log.front(), "0/1 v=0");
    EXPECT_EQ(log.back(), "0/1 v=1");
    EXPECT_EQ(Count(log, "9/0 v=0"), 2u);
    // 25,000 bytes: 3 pieces; 12,000 bytes: 2 pieces; each piece written.
    EXPECT_EQ(Count(log, "9/1 v=0"), 5u);
    EXPECT_EQ(Count(log, "9/3 v=0"), 5u);
    EXPECT_EQ(Count(log, "11/5 v=1"), 0u);
    EXPECT_EQ(device.Loaded(), dsp);  // the last image arrived whole

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
    device.SetMode(2);
    RunSession(package);
    EXPECT_TRUE(session.Succeeded());
    const std::vector<std::string> log = UpdaterLog();
    EXPECT_EQ(Count(log, "0/1 v=0"), 0u);
    EXPECT_EQ(log.front(), "9/0 v=0");
    EXPECT_EQ(log.back(), "0/1 v=1");
}

TEST_F(UpdaterTest, RestartRequestIsTriedThreeTimes) {
    FirmwarePackage package;
    PutImage(package, 1, normal);
    int refusals = 2;
    device.hook = [&](const FakeRequest& r) -> std::optional<FakeAnswer> {
        if (r.group == 0 && r.command == 1 && r.value == 0 && refusals > 0) {
            --refusals;
            return FakeAnswer{0x04, {}, false};
        }
        return std::nullopt;
    };
    device.SetMode(1);
    RunSession(package);
    EXPECT_TRUE(session.Succeeded());
    EXPECT_EQ(Count(UpdaterLog(), "0/1 v=0"), 3u);
}

TEST_F(UpdaterTest, RestartRefusedThreeTimesEndsWithTheLastResult) {
    FirmwarePackage package;
    PutImage(package, 1, normal);
    device.hook = [&](const FakeRequest& r) -> std::optional<FakeAnswer> {
        if (r.group == 0 && r.command == 1 && r.value == 0) {
            return FakeAnswer{0x04, {}, false};
        }
        return std::nullopt;
    };
    device.SetMode(1);
    RunSession(package);
    EXPECT_FALSE(session.Succeeded());
    EXPECT_EQ(session.Result(), kResultDeviceStatus);
    EXPECT_EQ(UpdaterLog(), (std::vector<std::string>{"0/1 v=0", "0/1 v=0", "0/1 v=0", "0/1 v=1"}));
}

TEST_F(UpdaterTest, UpdaterImageIsConfirmedAfterTheDeviceCameBack) {
    for (const std::uint8_t verdict : {std::uint8_t{0}, std::uint8_t{1}}) {
        SCOPED_TRACE(static_cast<int>(verdict));
        testing::FakeTalvo local(bus);
        CUpdateSession run;
        FirmwarePackage package;
        PutImage(package, 0, fwup);
        PutImage(package, 1, normal);
        std::uint32_t announced = 0;
        bool updaterImage = false;
        local.hook = [&](const FakeRequest& r) -> std::optional<FakeAnswer> {
            if (r.group == 9 && r.command == 0) {
                updaterImage = r.payload[0] == 0;
                announced = static_cast<std::uint32_t>(r.payload[1] | r.payload[2] << 8 |
                                                       r.payload[3] << 16 | r.payload[4] << 24);
            }
            if (r.group == 9 && r.command == 3 && updaterImage &&
                local.Loaded().size() == announced) {
                local.ScheduleRestart(2);
            }
            if (r.group == 11 && r.command == 5) {
                return FakeAnswer{0, {verdict}, false};
            }
            return std::nullopt;
        };
        local.SetMode(2);
        ASSERT_TRUE(run.Begin());
        ASSERT_TRUE(run.PumpUntil([&] { return run.DeviceReady(); }, 30000));
        ASSERT_TRUE(run.StartUpdate(package));
        ASSERT_TRUE(
            run.PumpUntil([&] { return run.GetState() == CUpdateSession::State::kEnded; }, 600000));

        std::vector<std::string> log = local.Log();
        const auto confirm = std::find(log.begin(), log.end(), "11/5 v=1");
        ASSERT_NE(confirm, log.end());
        EXPECT_EQ(log.back(), "0/1 v=1");
        if (verdict == 0) {
            EXPECT_TRUE(run.Succeeded());
            EXPECT_EQ(std::count(confirm, log.end(), "9/0 v=0"), 1);  // the Normal image
            EXPECT_EQ(local.Loaded(), normal);
        } else {
            EXPECT_FALSE(run.Succeeded());
            EXPECT_EQ(run.Result(), kResultWriteFailed);
            EXPECT_EQ(std::count(confirm, log.end(), "9/0 v=0"), 0);
        }
    }
}

TEST_F(UpdaterTest, FailedAnnouncementEndsTheRunWithItsDiagnostics) {
    FirmwarePackage package;
    PutImage(package, 1, normal);
    PutImage(package, 2, dsp);
    device.hook = [&](const FakeRequest& r) -> std::optional<FakeAnswer> {
        if (r.group == 9 && r.command == 0) {
            return FakeAnswer{0x05, {}, false};
        }
        return std::nullopt;
    };
    device.SetMode(2);
    RunSession(package);
    EXPECT_FALSE(session.Succeeded());
    EXPECT_EQ(session.Result(), kResultLoadFailed);
    EXPECT_EQ(UpdaterLog(), (std::vector<std::string>{"9/0 v=0", "9/0 v=0", "9/0 v=0", "0/1 v=1"}));
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
        device.SetMode(2);
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
    EXPECT_EQ(device.Log(), std::vector<std::string>{"0/1 v=1"});
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
    device.SetMode(1);
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
    EXPECT_EQ(device.Log(), std::vector<std::string>{"0/1 v=1"});
}

TEST_F(BareUpdaterTest, BadImagesAndBadJobCountsSendNoImageData) {
    device.followRestart.store(false);
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
    EXPECT_EQ(device.Log(), (std::vector<std::string>{"0/1 v=1", "0/1 v=1", "0/1 v=1"}));
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
    device.SetMode(2);
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
