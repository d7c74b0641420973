// The Win32 backend's own rules over the fake HID stack: capability
// tables, failing queries, the waiting and polling transfer paths, and
// that no transfer is left pending when its block or handle goes.
#include <gtest/gtest.h>

#include <cstdio>
#include <future>
#include <thread>

#include "hid/hid_api_win32.h"
#include "hid/hid_device.h"
#include "hid/talvo_ids.h"
#include "tests/hid/fake_win32_stack.h"

namespace talvo::test {
namespace {

using namespace std::chrono_literals;

// The watcher's probe: the normal-mode product, then the update-mode one;
// the product found, or 0.
int CDeviceWatcherLikeProbe(IHidPlatform& platform) {
    CHidDevice device(platform);
    if (device.Open(kTalvoVendorId, kTalvoNormalProductId, 16, 16, 0) != nullptr) {
        return kTalvoNormalProductId;
    }
    if (device.Open(kTalvoVendorId, kTalvoUpdateProductId, 64, 64, 0) != nullptr) {
        return kTalvoUpdateProductId;
    }
    return 0;
}

class Win32Hid : public ::testing::Test {
  protected:
    void TearDown() override {
        for (const std::string& violation : stack.Violations()) {
            ADD_FAILURE() << "HID stack misused: " << violation;
        }
        EXPECT_EQ(stack.Outstanding(), 0);
    }

    int AddTalvo(int length, const wchar_t* name) {
        return stack.Add(SimpleFakeDevice(
            name, kTalvoVendorId,
            length == kUpdateReportLength ? kTalvoUpdateProductId : kTalvoNormalProductId, length,
            length));
    }
    HidDeviceRecord* OpenNormal(CHidDevice& device) {
        return device.Open(kTalvoVendorId, kTalvoNormalProductId, 16, 16, 0);
    }

    FakeWin32Stack stack;
    Win32HidPlatform platform{stack.Api()};
};

TEST_F(Win32Hid, InterfacesWhoseQueriesFailAreSkipped) {
    for (int failing = 0; failing < 3; ++failing) {
        FakeWin32Device device = SimpleFakeDevice(L"broken" + std::to_wstring(failing),
                                                  kTalvoVendorId, kTalvoNormalProductId, 16, 16);
        device.preparsedFails = failing == 0;
        device.attributesFails = failing == 1;
        device.capsFails = failing == 2;
        stack.Add(device);
    }
    int good = AddTalvo(16, L"good");
    CHidDevice device(platform);
    ASSERT_NE(OpenNormal(device), nullptr);
    std::uint8_t data[16] = {7};
    ASSERT_EQ(device.WriteReport(data, 500), 1);
    std::vector<std::uint8_t> report;
    EXPECT_TRUE(stack.TakeOutput(good, report, 1000));
    EXPECT_EQ(device.Open(0, 0, 0, 0, 1), nullptr);  // the broken ones count for nothing
}

TEST_F(Win32Hid, EnumerationFailuresEndTheSearch) {
    AddTalvo(16, L"first");
    AddTalvo(16, L"second");
    CHidDevice device(platform);
    stack.FailEnumerationAt(1);
    EXPECT_EQ(device.Open(kTalvoVendorId, kTalvoNormalProductId, 16, 16, 1), nullptr);
    stack.FailEnumerationAt(-1);
    stack.FailListing(true);
    EXPECT_EQ(OpenNormal(device), nullptr);
    stack.FailListing(false);
    EXPECT_NE(device.Open(kTalvoVendorId, kTalvoNormalProductId, 16, 16, 1), nullptr);
}

TEST_F(Win32Hid, OutputReportIdComesFromTheFirstOutputButtonItem) {
    FakeWin32Device dev = SimpleFakeDevice(L"buttons", 0x1234, 0x0001, 8, 8, 2, 4);
    HIDP_BUTTON_CAPS button{};
    button.UsagePage = 0x09;
    button.ReportID = 7;
    button.IsRange = TRUE;
    button.Range.UsageMin = 1;
    button.Range.UsageMax = 3;
    dev.buttonCaps[1].push_back(button);
    int id = stack.Add(dev);
    CHidDevice device(platform);
    ASSERT_NE(device.Open(0x1234, 0x0001, 8, 8, 0), nullptr);
    std::uint8_t data[8] = {4, 4, 4, 4, 4, 4, 4, 4};
    ASSERT_EQ(device.WriteReport(data, 500), 1);
    std::vector<std::uint8_t> report;
    ASSERT_TRUE(stack.TakeOutput(id, report, 1000));
    EXPECT_EQ(report[0], 7);
}

TEST_F(Win32Hid, CapabilityTablesAreBuiltOrTheOpenFails) {
    // Value ranges whose usages add up beyond 16 bits are counted in full.
    FakeWin32Device wide = SimpleFakeDevice(L"wide", 0x1111, 0x0001, 8, 8);
    for (int i = 0; i < 3; ++i) {
        HIDP_VALUE_CAPS range{};
        range.UsagePage = 0xFF00;
        range.IsRange = TRUE;
        range.Range.UsageMin = 0;
        range.Range.UsageMax = 0xFFFF;
        wide.valueCaps[2].push_back(range);
    }
    stack.Add(wide);
    // A range that runs backwards cannot be tabulated: that open fails.
    FakeWin32Device backwards = SimpleFakeDevice(L"backwards", 0x2222, 0x0001, 8, 8);
    HIDP_VALUE_CAPS bad{};
    bad.IsRange = TRUE;
    bad.Range.UsageMin = 10;
    bad.Range.UsageMax = 2;
    backwards.valueCaps[0].push_back(bad);
    stack.Add(backwards);

    CHidDevice device(platform);
    EXPECT_NE(device.Open(0x1111, 0x0001, 8, 8, 0), nullptr);
    EXPECT_EQ(device.Open(0x2222, 0x0001, 8, 8, 0), nullptr);
    EXPECT_FALSE(device.isOpenFlag());
}

TEST_F(Win32Hid, AnOpenWithoutItsEventsFails) {
    AddTalvo(16, L"t");
    CHidDevice device(platform);
    stack.FailNextCreateEvent();
    // The open without its events is released, not kept; the open then
    // searches again (a second search pass and open pass) and has both.
    const int opens = stack.Count("CreateFileW");
    EXPECT_NE(OpenNormal(device), nullptr);
    EXPECT_EQ(stack.Count("CreateFileW") - opens, 4);
}

TEST_F(Win32Hid, WriteThatCompletesAtOnceLeavesTheEventAlone) {
    AddTalvo(16, L"t");
    CHidDevice device(platform);
    ASSERT_NE(OpenNormal(device), nullptr);
    const int resets = stack.Count("ResetEvent");
    std::uint8_t data[16] = {};
    EXPECT_EQ(device.WriteReport(data, 500), 1);
    EXPECT_EQ(stack.Count("ResetEvent"), resets);
}

TEST_F(Win32Hid, TimedOutWriteIsCancelledAndAwaitedBeforeTheBlockIsReused) {
    int id = AddTalvo(16, L"t");
    stack.SetOutputCapacity(id, 1);
    CHidDevice device(platform);
    ASSERT_NE(OpenNormal(device), nullptr);
    std::uint8_t first[16] = {1}, second[16] = {2}, third[16] = {3};
    ASSERT_EQ(device.WriteReport(first, 500), 1);
    // Pending: time limit 0 cancels at once.
    EXPECT_EQ(device.WriteReport(second, 0), 0);
    EXPECT_EQ(stack.Count("CancelIo"), 1);
    // Pending, polled until its limit, then cancelled.
    EXPECT_EQ(device.WriteReport(second, 30), 0);
    EXPECT_EQ(stack.Count("CancelIo"), 2);
    EXPECT_GT(stack.Count("ERROR_IO_INCOMPLETE"), 0);
    // The cancelled ones never arrive; the block is free for the next write,
    // which completes once the device takes the first (waiting path).
    auto writer = std::async(std::launch::async, [&] { return device.WriteReport(third, -1); });
    EXPECT_EQ(writer.wait_for(50ms), std::future_status::timeout);
    std::vector<std::uint8_t> report;
    ASSERT_TRUE(stack.TakeOutput(id, report, 1000));
    EXPECT_EQ(report[1], 1);
    ASSERT_EQ(writer.wait_for(5s), std::future_status::ready);
    EXPECT_EQ(writer.get(), 1);
    ASSERT_TRUE(stack.TakeOutput(id, report, 1000));
    EXPECT_EQ(report[1], 3);
    EXPECT_FALSE(stack.TakeOutput(id, report, 0));
}

TEST_F(Win32Hid, WriteOnAPollStillPendingCompletesWhenTheDeviceTakes) {
    int id = AddTalvo(16, L"t");
    stack.SetOutputCapacity(id, 1);
    CHidDevice device(platform);
    ASSERT_NE(OpenNormal(device), nullptr);
    std::uint8_t data[16] = {5};
    ASSERT_EQ(device.WriteReport(data, 500), 1);
    std::thread taker([&] {
        std::this_thread::sleep_for(20ms);
        std::vector<std::uint8_t> report;
        stack.TakeOutput(id, report, 1000);
    });
    EXPECT_EQ(device.WriteReport(data, 5000), 1);  // polled, then done
    taker.join();
}

TEST_F(Win32Hid, CloseCancelsAndAwaitsAPendingRead) {
    AddTalvo(16, L"t");
    {
        // A read woken by AbortRead stays pending until Close.
        CHidDevice device(platform);
        ASSERT_NE(OpenNormal(device), nullptr);
        auto reader = std::async(std::launch::async, [&] {
            std::uint8_t buffer[16];
            return device.ReadReport(buffer, -1);
        });
        EXPECT_EQ(reader.wait_for(50ms), std::future_status::timeout);
        device.AbortRead();
        ASSERT_EQ(reader.wait_for(5s), std::future_status::ready);
        EXPECT_EQ(reader.get(), 0);
        // No second transfer is started on the block while the first is pending.
        std::uint8_t buffer[16];
        EXPECT_EQ(device.ReadReport(buffer, 0), 0);
        EXPECT_EQ(device.ReadReport(buffer, -1), 0);
        const int before = stack.Count("CancelIoEx");
        device.Close();
        EXPECT_EQ(stack.Count("CancelIoEx"), before + 1);
    }
    {
        // A read that ran out of time, likewise.
        CHidDevice device(platform);
        ASSERT_NE(OpenNormal(device), nullptr);
        std::uint8_t buffer[16];
        EXPECT_EQ(device.ReadReport(buffer, 20), 0);
        EXPECT_GT(stack.Count("ERROR_IO_INCOMPLETE"), 0);
    }
    // TearDown: no handle was closed with a transfer pending.
}

TEST_F(Win32Hid, AbortReleasesAReadWithAFiniteLimitToo) {
    AddTalvo(16, L"t");
    CHidDevice device(platform);
    ASSERT_NE(OpenNormal(device), nullptr);
    auto reader = std::async(std::launch::async, [&] {
        std::uint8_t buffer[16];
        return device.ReadReport(buffer, 60000);
    });
    EXPECT_EQ(reader.wait_for(50ms), std::future_status::timeout);
    device.AbortRead();
    ASSERT_EQ(reader.wait_for(5s), std::future_status::ready);
    EXPECT_EQ(reader.get(), 0);
}

// Catches a hang in the wait after a cancel (the UI thread in Close, the
// commanding thread in a write) and a use-after-free of the block or buffer
// the driver still holds: past the bound the call fails, the handle is
// unusable, and the transfer's memory stays valid for the driver.
TEST_F(Win32Hid, CancelledTransferThatNeverCompletesIsLeftToTheDriver) {
    const int id = AddTalvo(16, L"t");
    stack.SetOutputCapacity(id, 1);
    stack.SetIgnoresCancel(id, true);
    const std::size_t leaked = Win32AbandonedTransfers();
    {
        CHidDevice device(platform);
        ASSERT_NE(OpenNormal(device), nullptr);
        std::uint8_t data[16] = {7}, buffer[16];
        ASSERT_EQ(device.WriteReport(data, 500), 1);
        auto writer = std::async(std::launch::async, [&] { return device.WriteReport(data, 20); });
        ASSERT_EQ(writer.wait_for(20s), std::future_status::ready) << "write hangs after a cancel";
        EXPECT_EQ(writer.get(), 0);
        EXPECT_EQ(Win32AbandonedTransfers(), leaked + 1);
        // Unusable: nothing new is started on the handle (the fake would
        // report a transfer started on a pending block).
        EXPECT_EQ(device.WriteReport(data, 500), 0);
        EXPECT_EQ(device.ReadReport(buffer, 0), 0);
    }
    {
        CHidDevice device(platform);
        ASSERT_NE(OpenNormal(device), nullptr);
        std::uint8_t buffer[16];
        EXPECT_EQ(device.ReadReport(buffer, 20), 0);  // stays pending
        auto closer = std::async(std::launch::async, [&] { device.Close(); });
        ASSERT_EQ(closer.wait_for(20s), std::future_status::ready) << "Close hangs after a cancel";
        EXPECT_EQ(Win32AbandonedTransfers(), leaked + 2);
    }
    // The driver finally writes into both transfers' blocks and the read's buffer.
    EXPECT_EQ(stack.FinishAbandoned(), 2);
}

// Against the HID stack this Wine presents: its interfaces are enumerated,
// opened and queried, none is taken for a TALVO, and vendor and product 0
// open the first one that opens.
// Lists `inner` but never tells IDs from paths: every interface is opened
// to be asked, as the probe did before it read the paths.
class OpenEveryPath final : public IHidPlatform {
  public:
    explicit OpenEveryPath(IHidPlatform& inner) : inner_(inner) {}
    std::unique_ptr<IHidInterfaceList> ListInterfaces() override {
        struct List final : IHidInterfaceList {
            std::unique_ptr<IHidInterfaceList> inner;
            HidSlot Open(std::size_t index, HidOpenPurpose purpose,
                         std::unique_ptr<IHidInterfaceHandle>& handle) override {
                return inner->Open(index, purpose, handle);
            }
        };
        auto list = std::make_unique<List>();
        list->inner = inner_.ListInterfaces();
        return list->inner ? std::move(list) : nullptr;
    }

  private:
    IHidPlatform& inner_;
};

// Catches: the probe opening every HID interface of the system with read
// and write access twice every 200 ms (it disturbs other devices); only
// paths that name the TALVO's vendor and a product of it, or name none,
// are opened. Prints the opens and queries of one watcher probe with 30
// foreign interfaces, before and after.
TEST_F(Win32Hid, TheProbeOpensOnlyPathsThatMayBeATalvo) {
    for (int i = 0; i < 30; ++i) {
        wchar_t path[96];
        std::swprintf(path, 96, L"\\\\?\\hid#vid_046d&pid_c0%02x&mi_00#7&1a2b&0&0000#{4d1e55b2}",
                      i);
        stack.Add(SimpleFakeDevice(path, 0x046D, static_cast<USHORT>(0xC000 + i), 8, 1));
    }
    AddTalvo(64, L"\\\\?\\hid#vid_1209&pid_7a11#6&3c4d&0&0000#{4d1e55b2}");
    OpenEveryPath everyPath(platform);
    const auto probeCost = [&](IHidPlatform& probed) {
        const int opens = stack.Count("CreateFileW");
        const int queries =
            stack.Count("HidD_GetPreparsedData") + stack.Count("HidD_GetAttributes");
        EXPECT_EQ(CDeviceWatcherLikeProbe(probed), kTalvoUpdateProductId);
        return std::make_pair(
            stack.Count("CreateFileW") - opens,
            stack.Count("HidD_GetPreparsedData") + stack.Count("HidD_GetAttributes") - queries);
    };
    const auto before = probeCost(everyPath);
    const auto after = probeCost(platform);
    std::printf(
        "one probe, 30 foreign HID interfaces: %d opens / %d queries before, "
        "%d opens / %d queries after\n",
        before.first, before.second, after.first, after.second);
    EXPECT_EQ(after.first, 2);  // the TALVO's search pass and its open pass
    EXPECT_GT(before.first, 30);
    // A path that names no IDs is still opened and asked (the matching rule
    // is unchanged in effect).
    AddTalvo(16, L"no-ids-in-this-path");
    CHidDevice device(platform);
    EXPECT_NE(OpenNormal(device), nullptr);
}

// Catches: one interface whose path query fails ending the whole search
// ("no device" in the middle of an update).
TEST_F(Win32Hid, AnInterfaceWhosePathFailsDoesNotHideTheTalvo) {
    const int broken = stack.Add(SimpleFakeDevice(L"pad", 0x0002, 0x0001, 8, 1));
    stack.SetPathFails(broken, true);
    AddTalvo(16, L"\\\\?\\hid#vid_1209&pid_7a10#1#{4d1e55b2}");
    CHidDevice device(platform);
    EXPECT_NE(OpenNormal(device), nullptr);
}

// Catches: a unit known by its interface path, which changes with the mode
// switch: its location is its USB parent's, the composite interface's
// #USBMI dropped, else the port part of the parent's instance ID, else none.
TEST_F(Win32Hid, AUnitsLocationIsItsUsbParentsLocation) {
    FakeWin32Device composite =
        SimpleFakeDevice(L"a", kTalvoVendorId, kTalvoNormalProductId, 16, 16);
    composite.locationPath = L"PCIROOT(0)#PCI(1400)#USBROOT(0)#USB(4)#USB(2)#USBMI(0)";
    stack.Add(composite);
    FakeWin32Device plain = SimpleFakeDevice(L"b", kTalvoVendorId, kTalvoNormalProductId, 16, 16);
    plain.parentInstanceId = L"USB\\VID_1209&PID_7A10\\5&2C9E0BB1&0&3";
    stack.Add(plain);
    stack.Add(SimpleFakeDevice(L"c", kTalvoVendorId, kTalvoNormalProductId, 16, 16));
    CHidDevice device(platform);
    ASSERT_NE(device.Open(kTalvoVendorId, kTalvoNormalProductId, 16, 16, 0), nullptr);
    EXPECT_EQ(device.Location(), "PCIROOT(0)#PCI(1400)#USBROOT(0)#USB(4)#USB(2)");
    ASSERT_NE(device.Open(kTalvoVendorId, kTalvoNormalProductId, 16, 16, 1), nullptr);
    EXPECT_EQ(device.Location(), "USB instance 5&2C9E0BB1&0&3");
    ASSERT_NE(device.Open(kTalvoVendorId, kTalvoNormalProductId, 16, 16, 2), nullptr);
    EXPECT_EQ(device.Location(), "");
    ASSERT_NE(device.Open(kTalvoVendorId, kTalvoNormalProductId, 16, 16, 0,
                          "USB instance 5&2C9E0BB1&0&3"),
              nullptr);
}

TEST(Win32RealStack, WineInterfacesAreQueriedAndRejected) {
    Win32HidPlatform real(SystemWin32HidApi());
    auto list = real.ListInterfaces();
    ASSERT_NE(list, nullptr);
    std::size_t present = 0, answering = 0;
    HidInterfaceInfo firstAnswer;
    for (std::size_t index = 0; index < 256; ++index) {
        std::unique_ptr<IHidInterfaceHandle> handle;
        HidSlot slot = list->Open(index, HidOpenPurpose::kProbe, handle);
        if (slot == HidSlot::kEnd || slot == HidSlot::kFailed) {
            break;
        }
        ++present;
        if (slot == HidSlot::kOpened) {
            if (answering++ == 0) {
                firstAnswer = handle->Info();
            }
            std::printf("HID interface %u: %04X:%04X, reports %u/%u/%u bytes\n",
                        static_cast<unsigned>(index), handle->Info().vendorId,
                        handle->Info().productId, handle->Info().inputReportByteLength,
                        handle->Info().outputReportByteLength,
                        handle->Info().featureReportByteLength);
        }
    }
    if (present == 0) {
        GTEST_SKIP() << "this Wine presents no HID interface";
    }
    CHidDevice device(real);
    EXPECT_EQ(device.Open(kTalvoVendorId, kTalvoNormalProductId, 16, 16, 0), nullptr);
    EXPECT_EQ(device.Open(kTalvoVendorId, kTalvoUpdateProductId, 64, 64, 0), nullptr);
    if (answering == 0) {
        GTEST_SKIP() << present << " HID interfaces present, none could be opened and queried";
    }
    HidDeviceRecord* record = device.Open(0, 0, 0, 0, 0);
    ASSERT_NE(record, nullptr);
    EXPECT_EQ(record->info.vendorId, firstAnswer.vendorId);
    EXPECT_EQ(record->info.productId, firstAnswer.productId);
    EXPECT_EQ(record->info.inputReportByteLength, firstAnswer.inputReportByteLength);
    device.Close();
}

}  // namespace
}  // namespace talvo::test
