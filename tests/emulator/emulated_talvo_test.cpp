// The TALVO on the emulated bus, met through CHidDevice by a scripted host:
// identities, restarts, a whole update, pacing, bus-level faults, the
// notifications and the wire trace.
#include <gtest/gtest.h>

#include <chrono>
#include <regex>
#include <stdexcept>

#include "base/clock.h"
#include "emulator/device_image.h"
#include "emulator/emulated_talvo.h"
#include "emulator/identities.h"
#include "hid/report_descriptor.h"
#include "hid/talvo_ids.h"
#include "tests/emulator/scripted_host.h"
#include "tests/emulator/test_image.h"

namespace talvo {
namespace {

using test::BusHost;
using test::Bytes;
using test::Request;

constexpr int kLimit = 60000;  // clock ms; the clock below runs 20 times faster

class TalvoOnBus : public ::testing::Test {
  protected:
    TalvoOnBus() : clock_(20.0), scoped_(clock_) {}

    static std::uint16_t BodyCrc(const Bytes& image) {
        return static_cast<std::uint16_t>(image[556] | (image[557] << 8));
    }

    // Announces and sends one image in 10,240-byte pieces; false on the
    // first exchange that fails or is refused.
    static bool Download(BusHost& host, const Bytes& image, std::uint8_t typeCode) {
        auto r = host.Exchange(
            test::SetInfo(typeCode, static_cast<std::uint32_t>(image.size()), BodyCrc(image)),
            kLimit);
        if (!r || r->status() != 0) {
            return false;
        }
        for (std::size_t offset = 0; offset < image.size(); offset += 10240) {
            const std::size_t n = std::min<std::size_t>(10240, image.size() - offset);
            r = host.Exchange(test::FwLoad(image, offset, n), kLimit);
            if (!r || r->status() != 0 || r->length() != 1) {
                return false;
            }
            r = host.Exchange(test::WriteFw(), kLimit);
            if (!r || r->status() != 0) {
                return false;
            }
        }
        return true;
    }

    ScaledClock clock_;
    ScopedClock scoped_;
    EmulatedBus bus_;
};

TEST(TalvoIdentity, DescriptorsDescribeTheIdentities) {
    for (TalvoMode mode : {TalvoMode::kNormal, TalvoMode::kUpdate}) {
        for (int length : {0, 32}) {
            const EmulatedIdentity id = TalvoDeviceIdentity(mode, length);
            HidReportLayout layout;
            ASSERT_TRUE(ParseReportDescriptor(id.reportDescriptor.data(),
                                              id.reportDescriptor.size(), layout));
            EXPECT_EQ(layout.inputReportByteLength, id.inputReportByteLength);
            EXPECT_EQ(layout.outputReportByteLength, id.outputReportByteLength);
            EXPECT_EQ(layout.outputReportId, id.outputReportId);
            EXPECT_TRUE(layout.numberedReports);
            EXPECT_EQ(layout.usagePage, 0xFF00);
        }
    }
    const EmulatedIdentity normal = TalvoDeviceIdentity(TalvoMode::kNormal);
    const EmulatedIdentity update = TalvoDeviceIdentity(TalvoMode::kUpdate);
    EXPECT_EQ(normal.vendorId, kTalvoVendorId);
    EXPECT_EQ(normal.productId, kTalvoNormalProductId);
    EXPECT_EQ(update.productId, kTalvoNormalProductId + 1);
    EXPECT_EQ(normal.inputReportByteLength, 17);
    EXPECT_EQ(update.outputReportByteLength, 65);
}

TEST_F(TalvoOnBus, AnswersInItsModeAndTracesEveryReport) {
    EmulatedTalvo talvo(bus_, Scenario::Named("current"));
    BusHost wrong(bus_);
    EXPECT_FALSE(wrong.Open(kTalvoUpdateProductId, 64));
    EXPECT_FALSE(wrong.Open(kTalvoNormalProductId, 64));
    BusHost host(bus_);
    ASSERT_TRUE(host.Open(kTalvoNormalProductId, 16));
    const auto r = host.Exchange(Request(2, 6, 0, 3), kLimit);
    ASSERT_TRUE(r);
    EXPECT_EQ(r->kind(), 3);
    EXPECT_EQ(r->payload(), Bytes({'1', '.', '0', '5', 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0}));

    const auto lines = talvo.Trace().Lines();
    const std::regex format(R"(^ *\d+\.\d{3} (OUT|IN |-- ) talvo-normal  \S.*$)");
    for (const auto& line : lines) {
        EXPECT_TRUE(std::regex_match(line, format)) << line;
    }
    EXPECT_TRUE(talvo.Trace().Contains(
        "OUT talvo-normal  02 80 02 06 00 03 00 00 00 00 00 00 00 00 00 00 00"));
    EXPECT_TRUE(talvo.Trace().Contains(
        "IN  talvo-normal  MSG get-response group=0 cmd=6 value=0 status=0 detail=0 length=16"));
    EXPECT_TRUE(talvo.Trace().Contains(
        "IN  talvo-normal  01 85 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00"));
    EXPECT_EQ(talvo.Trace().ReportCount(WireTrace::Direction::kOut), 1u);
    EXPECT_EQ(talvo.Trace().ReportCount(WireTrace::Direction::kIn), 2u);
}

TEST_F(TalvoOnBus, RestartRequestsMoveBetweenTheModes) {
    EmulatedTalvo talvo(bus_, Scenario::Named("current"));
    {
        BusHost host(bus_);
        ASSERT_TRUE(host.Open(kTalvoNormalProductId, 16));
        const auto r = host.Exchange(Request(0, 1, 0, 0), kLimit);
        ASSERT_TRUE(r);
        EXPECT_EQ(r->status(), 0);
        ASSERT_TRUE(talvo.WaitForMode(TalvoMode::kUpdate, kLimit));
        // The old identity is gone: its reads fail.
        Bytes data(16);
        EXPECT_EQ(host.Device().ReadReport(data.data(), 100), 0);
    }
    EXPECT_EQ(talvo.Arrivals(), 2);
    EXPECT_EQ(bus_.InterfaceCount(), 1u);
    EXPECT_TRUE(talvo.Trace().Contains("* leaves the bus: restarts into update mode"));
    BusHost host(bus_);
    ASSERT_TRUE(host.Open(kTalvoUpdateProductId, 64));
    EXPECT_EQ(host.Exchange(Request(2, 1, 0, 0), kLimit)->value(), 0);
    ASSERT_EQ(host.Exchange(Request(0, 1, 0, 1), kLimit)->status(), 0);
    ASSERT_TRUE(talvo.WaitForMode(TalvoMode::kNormal, kLimit));
    EXPECT_EQ(talvo.Arrivals(), 3);
}

TEST_F(TalvoOnBus, WholeUpdateDrivenByAScriptedHost) {
    EmulatedTalvo talvo(bus_, Scenario::Named("outdated"));
    test::TestImageParams fwupParams;
    fwupParams.magic = "FWUP";
    fwupParams.version = "1.06";
    fwupParams.bodySize = 3000;
    test::TestImageParams mainParams;
    mainParams.version = "1.07";
    mainParams.bodySize = 76044 - 560;
    mainParams.seed = 2;
    test::TestImageParams dspParams;
    dspParams.magic = "DSPA";
    dspParams.version = "1.08";
    dspParams.bodySize = 10244 - 560;
    dspParams.seed = 3;
    const Bytes fwup = test::BuildTestImage(fwupParams);
    const Bytes mainImage = test::BuildTestImage(mainParams);
    const Bytes dsp = test::BuildTestImage(dspParams);

    auto host = std::make_unique<BusHost>(bus_);
    ASSERT_TRUE(host->Open(kTalvoNormalProductId, 16));
    for (std::uint8_t type : {0, 1, 3}) {
        const auto r = host->Exchange(Request(2, 6, 0, type), kLimit);
        ASSERT_TRUE(r);
        const Bytes text = r->payload();
        EXPECT_EQ(Bytes(text.begin(), text.begin() + 4), Bytes({'1', '.', '0', '0'}));
    }
    ASSERT_EQ(host->Exchange(Request(0, 1, 0, 0), kLimit)->status(), 0);
    ASSERT_TRUE(talvo.WaitForMode(TalvoMode::kUpdate, kLimit));
    host = std::make_unique<BusHost>(bus_);
    ASSERT_TRUE(host->Open(kTalvoUpdateProductId, 64));

    ASSERT_TRUE(Download(*host, fwup, 0));
    // The updater image restarts the device, back in update mode.
    ASSERT_TRUE(talvo.WaitForMode(TalvoMode::kUpdate, kLimit));
    for (int i = 0; i < 100 && talvo.Arrivals() < 3; ++i) {
        Clock::Current().Sleep(100);
    }
    ASSERT_EQ(talvo.Arrivals(), 3);
    host = std::make_unique<BusHost>(bus_);
    ASSERT_TRUE(host->Open(kTalvoUpdateProductId, 64));
    const auto verdict = host->Exchange(Request(0, 5, 11, 1), kLimit);
    ASSERT_TRUE(verdict);
    EXPECT_EQ(verdict->length(), 1);
    EXPECT_EQ(verdict->payload(), Bytes{0});

    ASSERT_TRUE(Download(*host, mainImage, 1));
    ASSERT_TRUE(Download(*host, dsp, 3));
    ASSERT_EQ(host->Exchange(Request(0, 1, 0, 1), kLimit)->status(), 0);
    ASSERT_TRUE(talvo.WaitForMode(TalvoMode::kNormal, kLimit));
    host = std::make_unique<BusHost>(bus_);
    ASSERT_TRUE(host->Open(kTalvoNormalProductId, 16));
    EXPECT_EQ(host->Exchange(Request(2, 6, 0, 3), kLimit)->payload(),
              Bytes({'1', '.', '0', '8', 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0}));

    EXPECT_EQ(talvo.Flash(0), fwup);
    EXPECT_EQ(talvo.Flash(1), mainImage);
    EXPECT_EQ(talvo.Flash(3), dsp);
    EXPECT_EQ(talvo.Version(0), "1.06");
    EXPECT_EQ(talvo.Version(1), "1.07");

    std::vector<std::string> expected = {"get 0/6 value=0",
                                         "get 0/6 value=1",
                                         "get 0/6 value=3",
                                         "set 0/1 value=0",
                                         "FU_SETINFO type=0 length=3560",
                                         "FU_FWLOAD offset=0 size=3560",
                                         "FU_WRITEFW",
                                         "set 11/5 value=1",
                                         "FU_SETINFO type=1 length=76044"};
    for (std::size_t piece = 0; piece < 8; ++piece) {
        expected.push_back("FU_FWLOAD offset=" + std::to_string(piece * 10240) +
                           " size=" + std::to_string(piece < 7 ? 10240 : 4364));
        expected.push_back("FU_WRITEFW");
    }
    expected.insert(
        expected.end(),
        {"FU_SETINFO type=3 length=10244", "FU_FWLOAD offset=0 size=10240", "FU_WRITEFW",
         "FU_FWLOAD offset=10240 size=4", "FU_WRITEFW", "set 0/1 value=1", "get 0/6 value=3"});
    EXPECT_EQ(talvo.CommandNames(), expected);
}

TEST_F(TalvoOnBus, FailedUpdaterVerdictAndRefusedOrWrongRestarts) {
    {
        EmulatedBus bus;
        EmulatedTalvo talvo(bus, Scenario::Named("refuse-restart"));
        BusHost host(bus);
        ASSERT_TRUE(host.Open(kTalvoNormalProductId, 16));
        EXPECT_EQ(host.Exchange(Request(0, 1, 0, 0), kLimit)->status(), 0);
        EXPECT_FALSE(talvo.WaitForMode(TalvoMode::kUpdate, 5000));
        EXPECT_EQ(talvo.Arrivals(), 1);
    }
    {
        EmulatedBus bus;
        EmulatedTalvo talvo(bus, Scenario::Named("wrong-mode"));
        BusHost host(bus);
        ASSERT_TRUE(host.Open(kTalvoNormalProductId, 16));
        EXPECT_EQ(host.Exchange(Request(0, 1, 0, 0), kLimit)->status(), 0);
        for (int i = 0; i < 200 && talvo.Arrivals() < 2; ++i) {
            Clock::Current().Sleep(100);
        }
        EXPECT_EQ(talvo.Arrivals(), 2);
        EXPECT_EQ(talvo.Mode(), TalvoMode::kNormal);
    }
    {
        EmulatedBus bus;
        EmulatedTalvo talvo(bus, Scenario::Named("vanish"));
        BusHost host(bus);
        ASSERT_TRUE(host.Open(kTalvoNormalProductId, 16));
        EXPECT_EQ(host.Exchange(Request(0, 1, 0, 0), kLimit)->status(), 0);
        ASSERT_TRUE(talvo.WaitForMode(TalvoMode::kAbsent, kLimit));
        EXPECT_FALSE(talvo.WaitForMode(TalvoMode::kUpdate, 5000));
        EXPECT_EQ(bus.InterfaceCount(), 0u);
    }
    Scenario fails = Scenario::Named("fwup-fails");
    fails.startMode = TalvoMode::kUpdate;
    EmulatedTalvo talvo(bus_, fails);
    test::TestImageParams params;
    params.magic = "FWUP";
    const Bytes fwup = test::BuildTestImage(params);
    {
        BusHost host(bus_);
        ASSERT_TRUE(host.Open(kTalvoUpdateProductId, 64));
        ASSERT_TRUE(Download(host, fwup, 0));
    }
    for (int i = 0; i < 200 && talvo.Arrivals() < 2; ++i) {
        Clock::Current().Sleep(100);
    }
    ASSERT_TRUE(talvo.WaitForMode(TalvoMode::kUpdate, kLimit));
    BusHost host(bus_);
    ASSERT_TRUE(host.Open(kTalvoUpdateProductId, 64));
    EXPECT_EQ(host.Exchange(Request(0, 5, 11, 1), kLimit)->payload(), Bytes{1});
}

TEST_F(TalvoOnBus, UnplugInTheMiddleOfAPieceKeepsTheFlash) {
    EmulatedTalvo talvo(bus_, Scenario::Named("unplug-download"));
    talvo.PlugIn(TalvoMode::kUpdate);
    test::TestImageParams params;
    params.bodySize = 30000;
    const Bytes image = test::BuildTestImage(params);
    BusHost host(bus_);
    ASSERT_TRUE(host.Open(kTalvoUpdateProductId, 64));
    EXPECT_FALSE(Download(host, image, 1));
    ASSERT_TRUE(talvo.WaitForMode(TalvoMode::kAbsent, kLimit));
    EXPECT_TRUE(talvo.Flash(1).empty());
    EXPECT_EQ(talvo.Version(1), "1.05");
    // It saw piece 0 through and 40 reports of piece 1.
    EXPECT_EQ(talvo.CommandNames(),
              (std::vector<std::string>{"FU_SETINFO type=1 length=30560",
                                        "FU_FWLOAD offset=0 size=10240", "FU_WRITEFW"}));
    EXPECT_TRUE(talvo.Trace().Contains("* leaves the bus: unplugged in the middle of a request"));

    // Plugged in again it boots in normal mode with what it had.
    talvo.PlugIn();
    BusHost again(bus_);
    ASSERT_TRUE(again.Open(kTalvoNormalProductId, 16));
    EXPECT_EQ(again.Exchange(Request(2, 6, 0, 1), kLimit)->status(), 0);
}

TEST_F(TalvoOnBus, LateAnswerArrivesAfterTheHostsLimit) {
    EmulatedTalvo talvo(bus_, Scenario::Named("current"));
    talvo.AddFault(Fault::Late(0, 6, 8000));
    BusHost host(bus_);
    ASSERT_TRUE(host.Open(kTalvoNormalProductId, 16));
    ASSERT_TRUE(host.Write(Request(2, 6, 0, 1)));
    EXPECT_FALSE(host.ReadResponse(5000));  // the host's limit for a version read
    const auto late = host.ReadResponse(kLimit);
    ASSERT_TRUE(late);
    EXPECT_EQ(late->length(), 16);
}

TEST_F(TalvoOnBus, PresenceFaults) {
    {
        EmulatedBus bus;
        EmulatedTalvo talvo(bus, Scenario::Named("exclusive"));
        BusHost host(bus);
        EXPECT_FALSE(host.Open(kTalvoNormalProductId, 16));
        talvo.SetHeldExclusively(false);
        EXPECT_TRUE(host.Open(kTalvoNormalProductId, 16));
    }
    {
        EmulatedBus bus;
        EmulatedTalvo talvo(bus, Scenario::Named("wrong-lengths"));
        BusHost host(bus);
        EXPECT_FALSE(host.Open(kTalvoNormalProductId, 16));
        ASSERT_TRUE(host.Open(kTalvoNormalProductId, 32));
        EXPECT_EQ(host.Exchange(Request(2, 6, 0, 1), kLimit)->length(), 16);
    }
    EmulatedTalvo talvo(bus_, Scenario::Named("both"));
    EXPECT_EQ(bus_.InterfaceCount(), 2u);
    BusHost normal(bus_);
    BusHost update(bus_);
    ASSERT_TRUE(normal.Open(kTalvoNormalProductId, 16));
    ASSERT_TRUE(update.Open(kTalvoUpdateProductId, 64));
    EXPECT_EQ(normal.Exchange(Request(2, 1, 0, 0), kLimit)->value(), 1);
    EXPECT_EQ(update.Exchange(Request(2, 1, 0, 0), kLimit)->value(), 0);
}

TEST_F(TalvoOnBus, NotificationsReachTheHost) {
    EmulatedTalvo talvo(bus_, Scenario::Named("update-mode"));
    BusHost host(bus_);
    ASSERT_TRUE(host.Open(kTalvoUpdateProductId, 64));
    ASSERT_TRUE(talvo.SendNotification(3, 0x1234));
    ASSERT_TRUE(talvo.SendDataStream(7, Bytes(100, 0x42)));
    ASSERT_TRUE(talvo.SendEvent4Response(6, 0, 0, 0, 0, {}));
    const auto r = host.ReadResponse(kLimit);  // the event-4 report completes it
    ASSERT_TRUE(r);
    EXPECT_EQ(r->kind(), 4);
    ASSERT_EQ(host.others.size(), 3u);  // notification and two stream reports
    EXPECT_EQ(Bytes(host.others[0].begin(), host.others[0].begin() + 4),
              (Bytes{0x90, 0x03, 0x12, 0x34}));
    EXPECT_EQ(host.others[1][0], 0xA0);
    EXPECT_EQ(host.others[1][1], 101);
    EXPECT_EQ(host.others[2][0], 0xA2);
    EXPECT_TRUE(talvo.Trace().Contains("NOTIFY event=3 value=4660"));
}

TEST(TalvoPacing, FramesBoundTheReportRate) {
    // Real clock: 50 version reads at full speed are 50 reports out and 100
    // in, each direction at most one report per 1 ms frame.
    EmulatedBus bus;
    EmulatedTalvo talvo(bus, Scenario::Named("full-speed"));
    BusHost host(bus);
    ASSERT_TRUE(host.Open(kTalvoNormalProductId, 16));
    const auto start = std::chrono::steady_clock::now();
    for (int i = 0; i < 50; ++i) {
        ASSERT_TRUE(host.Exchange(Request(2, 6, 0, 1), 5000));
    }
    const auto elapsed = std::chrono::steady_clock::now() - start;
    EXPECT_GE(elapsed, std::chrono::milliseconds(90));

    EmulatedBus fastBus;
    EmulatedTalvo fast(fastBus, Scenario::Named("high-speed"));
    fast.PlugIn(TalvoMode::kUpdate);
    BusHost fastHost(fastBus);
    ASSERT_TRUE(fastHost.Open(kTalvoUpdateProductId, 64));
    const auto t0 = std::chrono::steady_clock::now();
    ASSERT_TRUE(fast.SendDataStream(1, Bytes(63 * 160, 1)));  // 161 reports
    EXPECT_GE(std::chrono::steady_clock::now() - t0, std::chrono::microseconds(160 * 125 - 500));
}

// Catches an optimistic link: an answer riding in its request's frame, the
// next request in the answer's frame, frames missed and made good later by
// two in one, or a processing time the pacing ignores. 40 version reads are
// 1 report out and 2 in each: under the model at least 3 frames per read,
// plus the processing frames. (A lower bound only: a slow machine passes.)
TEST(TalvoPacing, EachReportTakesAFrameOfItsOwnAfterTheOtherSidesLast) {
    for (const std::uint32_t processingUs : {0u, 2000u}) {
        Scenario scenario = Scenario::Named("full-speed");
        scenario.device.timing.commandProcessingUs = processingUs;
        EmulatedBus bus;
        EmulatedTalvo talvo(bus, scenario);
        BusHost host(bus);
        ASSERT_TRUE(host.Open(kTalvoNormalProductId, 16));
        const auto start = std::chrono::steady_clock::now();
        for (int i = 0; i < 40; ++i) {
            ASSERT_TRUE(host.Exchange(Request(2, 6, 0, 1), 5000));
        }
        const auto elapsed = std::chrono::steady_clock::now() - start;
        EXPECT_GE(elapsed, std::chrono::milliseconds(40 * (3 + processingUs / 1000)))
            << processingUs;
    }
}

TEST(TalvoScenarios, EveryNamedScenarioPutsATalvoOnTheBus) {
    const auto names = Scenario::Names();
    EXPECT_GE(names.size(), 20u);
    for (const auto& name : names) {
        EmulatedBus bus;
        const Scenario s = Scenario::Named(name);
        EXPECT_EQ(s.name, name);
        EmulatedTalvo talvo(bus, s);
        const std::size_t expected =
            s.startMode == TalvoMode::kAbsent ? 0u : (s.bothIdentities ? 2u : 1u);
        EXPECT_EQ(bus.InterfaceCount(), expected) << name;
        EXPECT_EQ(talvo.Mode(), s.startMode) << name;
    }
    EXPECT_THROW(Scenario::Named("no-such-scenario"), std::invalid_argument);
    EXPECT_FALSE(Scenario::Find("Current"));
}

}  // namespace
}  // namespace talvo
