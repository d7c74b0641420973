// The emulated bus as a device model sees it, and CHidDevice rules that
// need a platform under the test's control.
#include <gtest/gtest.h>

#include <chrono>
#include <functional>
#include <future>
#include <thread>

#include "hid/emulated_bus.h"
#include "hid/hid_device.h"
#include "hid/talvo_ids.h"

namespace talvo {
namespace {

using namespace std::chrono_literals;

EmulatedIdentity Identity(std::uint16_t product, int length, std::uint8_t outputId = 0) {
    EmulatedIdentity identity;
    identity.name = "dev";
    identity.vendorId = kTalvoVendorId;
    identity.productId = product;
    identity.inputReportByteLength = static_cast<std::uint16_t>(length + 1);
    identity.outputReportByteLength = static_cast<std::uint16_t>(length + 1);
    identity.outputReportId = outputId;
    return identity;
}

TEST(EmulatedBus, OutputCapacityPacesWritesAndFailsThemOnTheirLimit) {
    EmulatedBus bus;
    auto endpoint = bus.Plug(Identity(kTalvoNormalProductId, 16));
    endpoint->SetOutputCapacity(2);
    CHidDevice device(bus);
    ASSERT_NE(device.Open(kTalvoVendorId, kTalvoNormalProductId, 16, 16, 0), nullptr);
    std::uint8_t data[16] = {1};
    EXPECT_EQ(device.WriteReport(data, 0), 1);
    EXPECT_EQ(device.WriteReport(data, 0), 1);
    EXPECT_EQ(device.WriteReport(data, 50), 0);  // full: times out
    // A write that waits without limit goes through once the device takes one.
    auto writer = std::async(std::launch::async, [&] { return device.WriteReport(data, -1); });
    EXPECT_EQ(writer.wait_for(50ms), std::future_status::timeout);
    std::vector<std::uint8_t> report;
    ASSERT_TRUE(endpoint->TakeOutput(report, 1000));
    ASSERT_EQ(writer.wait_for(5s), std::future_status::ready);
    EXPECT_EQ(writer.get(), 1);
    // Exactly the two that fitted plus the one that waited: the timed-out one never arrived.
    EXPECT_TRUE(endpoint->TakeOutput(report, 0));
    EXPECT_TRUE(endpoint->TakeOutput(report, 0));
    EXPECT_FALSE(endpoint->TakeOutput(report, 0));
    // A write blocked on a full queue fails when the device goes.
    endpoint->SetOutputCapacity(1);
    EXPECT_EQ(device.WriteReport(data, 0), 1);
    auto blocked = std::async(std::launch::async, [&] { return device.WriteReport(data, -1); });
    EXPECT_EQ(blocked.wait_for(50ms), std::future_status::timeout);
    bus.Unplug(endpoint);
    ASSERT_EQ(blocked.wait_for(5s), std::future_status::ready);
    EXPECT_EQ(blocked.get(), 0);
}

TEST(EmulatedBus, WakeReleasesTakeOutputAndUnplugEndsTheDeviceSide) {
    EmulatedBus bus;
    auto endpoint = bus.Plug(Identity(kTalvoNormalProductId, 16));
    auto taker = std::async(std::launch::async, [&] {
        std::vector<std::uint8_t> report;
        return endpoint->TakeOutput(report, -1);
    });
    EXPECT_EQ(taker.wait_for(50ms), std::future_status::timeout);
    endpoint->Wake();
    ASSERT_EQ(taker.wait_for(5s), std::future_status::ready);
    EXPECT_FALSE(taker.get());
    // A Wake with nobody waiting is kept for the next TakeOutput, so a
    // model that checks its stop flag just before waiting cannot hang.
    endpoint->Wake();
    std::vector<std::uint8_t> report;
    EXPECT_FALSE(endpoint->TakeOutput(report, -1));

    EXPECT_EQ(bus.InterfaceCount(), 1u);
    bus.Unplug(endpoint);
    bus.Unplug(endpoint);  // twice: no effect
    EXPECT_EQ(bus.InterfaceCount(), 0u);
    EXPECT_FALSE(endpoint->IsPlugged());
    const std::uint8_t input[17] = {};
    EXPECT_FALSE(endpoint->PutInput(input, sizeof input));
    EXPECT_FALSE(endpoint->TakeOutput(report, -1));
}

TEST(EmulatedBus, EveryOpenHandleSeesEveryInputReportAndBadLengthsAreRefused) {
    EmulatedBus bus;
    auto endpoint = bus.Plug(Identity(kTalvoNormalProductId, 16));
    CHidDevice watcherProbe(bus), connection(bus);
    ASSERT_NE(connection.Open(kTalvoVendorId, kTalvoNormalProductId, 16, 16, 0), nullptr);
    ASSERT_NE(watcherProbe.Open(kTalvoVendorId, kTalvoNormalProductId, 16, 16, 0), nullptr);
    std::uint8_t report[18] = {0, 1, 2, 3};
    EXPECT_FALSE(endpoint->PutInput(report, 18));  // longer than the input report
    EXPECT_FALSE(endpoint->PutInput(report, 0));
    ASSERT_TRUE(endpoint->PutInput(report, 4));  // short: padded with zeros
    std::uint8_t buffer[16];
    for (CHidDevice* device : {&connection, &watcherProbe}) {
        std::fill(std::begin(buffer), std::end(buffer), 0xEE);
        ASSERT_EQ(device->ReadReport(buffer, 1000), 1);
        EXPECT_EQ(buffer[0], 1);
        EXPECT_EQ(buffer[2], 3);
        EXPECT_EQ(buffer[3], 0);
        EXPECT_EQ(buffer[15], 0);
    }
    // Reports that came while a handle was closed are not delivered to a later open.
    watcherProbe.Close();
    ASSERT_TRUE(endpoint->PutInput(report, 17));
    ASSERT_NE(watcherProbe.Open(kTalvoVendorId, kTalvoNormalProductId, 16, 16, 0), nullptr);
    EXPECT_EQ(watcherProbe.ReadReport(buffer, 0), 0);
    EXPECT_EQ(connection.ReadReport(buffer, 0), 1);
}

TEST(EmulatedBus, HandlesOutliveTheBusSafely) {
    auto device = std::make_unique<CHidDevice>(HidPlatform::Native());
    std::shared_ptr<EmulatedEndpoint> endpoint;
    {
        EmulatedBus bus;
        endpoint = bus.Plug(Identity(kTalvoNormalProductId, 16));
        device = std::make_unique<CHidDevice>(bus);
        ASSERT_NE(device->Open(kTalvoVendorId, kTalvoNormalProductId, 16, 16, 0), nullptr);
    }
    std::uint8_t buffer[16] = {};
    EXPECT_EQ(device->ReadReport(buffer, 0), 0);
    EXPECT_EQ(device->WriteReport(buffer, 0), 0);
    device->Close();
    EXPECT_FALSE(endpoint->IsPlugged());
}

// A platform wrapper that runs a hook before each listing and counts them.
class HookedPlatform final : public IHidPlatform {
  public:
    explicit HookedPlatform(IHidPlatform& inner) : inner_(inner) {}
    std::unique_ptr<IHidInterfaceList> ListInterfaces() override {
        ++listings;
        if (beforeListing) {
            beforeListing(listings);
        }
        return inner_.ListInterfaces();
    }
    int listings = 0;
    std::function<void(int)> beforeListing;

  private:
    IHidPlatform& inner_;
};

TEST(HidDeviceRules, RefusedLengthsSearchNothing) {
    EmulatedBus bus;
    bus.Plug(Identity(kTalvoNormalProductId, 16));
    HookedPlatform platform(bus);
    CHidDevice device(platform);
    EXPECT_EQ(device.Open(kTalvoVendorId, kTalvoNormalProductId, 257, 16, 0), nullptr);
    EXPECT_EQ(device.Open(kTalvoVendorId, kTalvoNormalProductId, 16, 1000, 0), nullptr);
    EXPECT_EQ(platform.listings, 0);
    ASSERT_NE(device.Open(kTalvoVendorId, kTalvoNormalProductId, 16, 16, 0), nullptr);
    EXPECT_EQ(platform.listings, 2);  // search pass and open pass
}

TEST(HidDeviceRules, AChangeBetweenSearchAndOpenNeverOpensAnotherDevice) {
    EmulatedBus bus;
    auto talvo = bus.Plug(Identity(kTalvoNormalProductId, 16));
    EmulatedIdentity keyboard = Identity(0x0001, 8);
    keyboard.vendorId = 0x0002;
    HookedPlatform platform(bus);
    // Between the passes the TALVO goes and a keyboard takes its place.
    platform.beforeListing = [&](int listing) {
        if (listing == 2) {
            bus.Unplug(talvo);
            bus.Plug(keyboard);
        }
    };
    CHidDevice device(platform);
    EXPECT_EQ(device.Open(kTalvoVendorId, kTalvoNormalProductId, 16, 16, 0), nullptr);
    EXPECT_FALSE(device.isOpenFlag());
}

TEST(HidDeviceRules, CurrentPlatformFollowsTheScope) {
    EmulatedBus bus;
    bus.Plug(Identity(kTalvoUpdateProductId, 64));
    EXPECT_EQ(&HidPlatform::Current(), &HidPlatform::Native());
    {
        ScopedHidPlatform scope(bus);
        EXPECT_EQ(&HidPlatform::Current(), &bus);
        CHidDevice device;
        EXPECT_NE(device.Open(kTalvoVendorId, kTalvoUpdateProductId, 64, 64, 0), nullptr);
    }
    EXPECT_EQ(&HidPlatform::Current(), &HidPlatform::Native());
}

// Catches: a probe that reports "no device" (and so ends a running update)
// because another device left between its search and its open and shifted
// the indexes: the search is made again and finds the TALVO.
TEST(HidDeviceRules, AnIndexShiftBetweenSearchAndOpenIsSearchedAgain) {
    EmulatedBus bus;
    EmulatedIdentity pad = Identity(0x0001, 8);
    pad.vendorId = 0x0002;
    auto leaving = bus.Plug(pad);
    bus.Plug(Identity(kTalvoNormalProductId, 16));
    HookedPlatform platform(bus);
    platform.beforeListing = [&](int listing) {
        if (listing == 2) {
            bus.Unplug(leaving);
        }
    };
    CHidDevice device(platform);
    ASSERT_NE(device.Open(kTalvoVendorId, kTalvoNormalProductId, 16, 16, 0), nullptr);
    EXPECT_EQ(device.InputReportByteLength(), 17);
    EXPECT_EQ(platform.listings, 4);  // the failed pair and the good one
}

}  // namespace
}  // namespace talvo
