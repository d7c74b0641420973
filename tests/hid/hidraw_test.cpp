// The hidraw backend's own rules over the fake sysfs tree.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <stdlib.h>

#include <filesystem>
#include <fstream>

#include "base/clock.h"
#include "hid/hid_access.h"
#include "hid/hid_device.h"
#include "hid/talvo_descriptor.h"
#include "hid/talvo_ids.h"
#include "tests/hid/fake_sysfs.h"

namespace talvo::test {
namespace {

const std::string kTalvoUevent = FakeSysfs::Uevent(kTalvoVendorId, kTalvoNormalProductId);

TEST(Hidraw, OpensNodesReadWriteNonBlockingCloseOnExec) {
    FakeSysfs sysfs;
    sysfs.Add(0, kTalvoUevent, TalvoReportDescriptor(kNormalReportLength));
    CHidDevice device(sysfs.Platform());
    ASSERT_NE(device.Open(kTalvoVendorId, kTalvoNormalProductId, 16, 16, 0), nullptr);
    std::vector<int> flags = sysfs.OpenFlagsSeen();
    ASSERT_EQ(flags.size(), 2u);  // search pass and open pass
    for (int f : flags) {
        EXPECT_EQ(f, O_RDWR | O_NONBLOCK | O_CLOEXEC);
    }
}

TEST(Hidraw, InterfacesThatCannotBeQueriedAreSkipped) {
    FakeSysfs sysfs;
    const auto talvo = TalvoReportDescriptor(kNormalReportLength);
    sysfs.Add(0, "", talvo);                        // no uevent, and the node answers no ioctl
    sysfs.Add(1, "HID_ID=0003:00001209\n", talvo);  // one field missing
    sysfs.Add(2, "HID_ID=0003:0001209Z:00007A10\n", talvo);        // not hexadecimal
    sysfs.Add(3, "HID_ID=0003:00011209:00007A10\n", talvo);        // vendor beyond 16 bits
    sysfs.Add(4, kTalvoUevent, {});                                // no descriptor
    sysfs.Add(5, kTalvoUevent, {talvo.begin(), talvo.end() - 1});  // descriptor cut short
    sysfs.Add(6, kTalvoUevent, talvo);
    std::filesystem::create_directories(sysfs.Root() + "/sys/class/hidraw/hidrawX/device");
    std::filesystem::create_directories(sysfs.Root() + "/sys/class/hidraw/other7/device");

    CHidDevice device(sysfs.Platform());
    ASSERT_NE(device.Open(kTalvoVendorId, kTalvoNormalProductId, 16, 16, 0), nullptr);
    std::uint8_t data[16] = {0x42};
    ASSERT_EQ(device.WriteReport(data, 500), 1);
    std::vector<std::uint8_t> message;
    EXPECT_TRUE(sysfs.Receive(6, message, 2000));
    // None of the broken ones counts for "any interface" either.
    ASSERT_NE(device.Open(0, 0, 0, 0, 0), nullptr);
    ASSERT_EQ(device.WriteReport(data, 500), 1);
    EXPECT_TRUE(sysfs.Receive(6, message, 2000));
    EXPECT_EQ(device.Open(0, 0, 0, 0, 1), nullptr);
}

// Catches: a TALVO node this user may not open skipped in silence (the
// user waits out --wait for "no TALVO"), another refusal (busy) taken for
// a permission problem, and other vendors' devices opened to find out.
TEST(Hidraw, TalvoNodesRefusedForWantOfPermissionAreReported) {
    FakeSysfs sysfs;
    const auto talvo = TalvoReportDescriptor(kNormalReportLength);
    sysfs.Add(0, FakeSysfs::Uevent(0x046D, 0xC077), talvo);
    sysfs.Add(1, kTalvoUevent, talvo);
    sysfs.Add(2, FakeSysfs::Uevent(kTalvoVendorId, kTalvoUpdateProductId), talvo);
    sysfs.Add(3, kTalvoUevent, talvo);
    sysfs.Add(4, kTalvoUevent, talvo);
    sysfs.SetOpenError(0, EACCES);
    sysfs.SetOpenError(1, EACCES);
    sysfs.SetOpenError(2, EPERM);
    sysfs.SetOpenError(3, EBUSY);
    const std::vector<HidDeniedInterface> denied =
        sysfs.Platform().DeniedInterfaces(kTalvoVendorId);
    ASSERT_EQ(denied.size(), 2u);
    EXPECT_EQ(denied[0].path, sysfs.Root() + "/dev/hidraw1");
    EXPECT_EQ(denied[0].productId, kTalvoNormalProductId);
    EXPECT_EQ(denied[1].path, sysfs.Root() + "/dev/hidraw2");
    EXPECT_EQ(denied[1].productId, kTalvoUpdateProductId);
    EXPECT_EQ(sysfs.OpenFlagsSeen().size(), 4u);  // nodes 1 to 4, never node 0
}

class SetClock final : public IClock {
  public:
    std::uint32_t TickCount() override { return now; }
    void Sleep(std::uint32_t milliseconds) override { now += milliseconds; }
    std::chrono::nanoseconds RealDuration(std::uint32_t milliseconds) override {
        return std::chrono::milliseconds(milliseconds);
    }
    std::uint32_t now = 0;
};

// Catches: a node that udev has not yet opened to the seat user (it does
// so just after making it) diagnosed as a permission problem.
TEST(HidAccess, ARefusalCountsOnlyOnceItHasLastedTheGracePeriod) {
    SetClock clock;
    ScopedClock scoped(clock);
    FakeSysfs sysfs;
    sysfs.Add(1, kTalvoUevent, TalvoReportDescriptor(kNormalReportLength));
    sysfs.SetOpenError(1, EACCES);
    HidAccessWatch watch(sysfs.Platform(), kTalvoVendorId, {kTalvoNormalProductId}, 1500, 250);
    EXPECT_TRUE(watch.Poll().empty());
    clock.now = 1000;
    EXPECT_TRUE(watch.Poll().empty());
    sysfs.SetOpenError(1, 0);  // access granted in between: the count starts over
    clock.now = 1300;
    EXPECT_TRUE(watch.Poll().empty());
    sysfs.SetOpenError(1, EACCES);
    clock.now = 1600;
    EXPECT_TRUE(watch.Poll().empty());
    clock.now = 3000;
    EXPECT_TRUE(watch.Poll().empty());
    clock.now = 3100;
    EXPECT_EQ(watch.Poll(), std::vector<std::string>{sysfs.Root() + "/dev/hidraw1"});
}

TEST(Hidraw, NoHidrawClassMeansNoInterfaces) {
    HidrawPlatform platform("/nonexistent-sysfs", "/nonexistent-dev");
    CHidDevice device(platform);
    EXPECT_EQ(device.Open(0, 0, 0, 0, 0), nullptr);
    // The native platform lists whatever this machine has, without failing.
    EXPECT_NE(HidPlatform::Native().ListInterfaces(), nullptr);
}

TEST(Hidraw, NumberedShortReportsAreZeroFilled) {
    FakeSysfs sysfs;
    // Input reports 1 (8 bytes) and 2 (2 bytes), output report 1.
    std::vector<std::uint8_t> descriptor = {
        0x06, 0x00, 0xFF, 0x09, 0x01, 0xA1, 0x01, 0x15, 0x00, 0x26, 0xFF, 0x00, 0x75,
        0x08, 0x85, 0x01, 0x95, 0x08, 0x09, 0x02, 0x81, 0x02, 0x95, 0x08, 0x09, 0x03,
        0x91, 0x02, 0x85, 0x02, 0x95, 0x02, 0x09, 0x04, 0x81, 0x02, 0xC0};
    sysfs.Add(0, FakeSysfs::Uevent(0x1234, 0x5678), descriptor);
    CHidDevice device(sysfs.Platform());
    ASSERT_NE(device.Open(0x1234, 0x5678, 8, 8, 0), nullptr);
    ASSERT_TRUE(sysfs.Send(0, {1, 9, 9, 9, 9, 9, 9, 9, 9}));
    ASSERT_TRUE(sysfs.Send(0, {2, 7, 7}));
    std::uint8_t buffer[8];
    ASSERT_EQ(device.ReadReport(buffer, 2000), 1);
    EXPECT_EQ(buffer[7], 9);
    ASSERT_EQ(device.ReadReport(buffer, 2000), 1);
    EXPECT_EQ(std::vector<std::uint8_t>(buffer, buffer + 8),
              (std::vector<std::uint8_t>{7, 7, 0, 0, 0, 0, 0, 0}));
    // Written with its ID first, as hidraw wants.
    std::uint8_t data[8] = {1, 2, 3, 4, 5, 6, 7, 8};
    ASSERT_EQ(device.WriteReport(data, 500), 1);
    std::vector<std::uint8_t> message;
    ASSERT_TRUE(sysfs.Receive(0, message, 2000));
    EXPECT_EQ(message, (std::vector<std::uint8_t>{1, 1, 2, 3, 4, 5, 6, 7, 8}));
}

// A sysfs tree laid out as the kernel does it (the class entry's device is
// a link into /sys/devices) with regular files as device nodes, so that
// each open is an open of its own, as with real nodes.
class RealNodeTree {
  public:
    RealNodeTree() {
        char pattern[] = "/tmp/talvo-hidraw-XXXXXX";
        root_ = ::mkdtemp(pattern);
        std::filesystem::create_directories(root_ + "/sys/class/hidraw");
        std::filesystem::create_directories(root_ + "/dev");
    }
    ~RealNodeTree() {
        std::error_code ignored;
        std::filesystem::remove_all(root_, ignored);
    }
    // Node hidraw<number> of a HID device under `devicePath` (below /sys/devices).
    void Add(int number, const std::string& devicePath, const std::string& uevent) {
        const std::string device = root_ + "/sys/devices/" + devicePath;
        std::filesystem::create_directories(device);
        std::ofstream(device + "/uevent") << uevent;
        const auto descriptor = TalvoReportDescriptor(kNormalReportLength);
        std::ofstream(device + "/report_descriptor", std::ios::binary)
            .write(reinterpret_cast<const char*>(descriptor.data()),
                   static_cast<std::streamsize>(descriptor.size()));
        const std::string entry = root_ + "/sys/class/hidraw/hidraw" + std::to_string(number);
        std::filesystem::create_directories(entry);
        std::filesystem::create_directory_symlink(device, entry + "/device");
        std::ofstream(root_ + "/dev/hidraw" + std::to_string(number)) << "";
    }
    HidrawPlatform Platform() { return HidrawPlatform(root_ + "/sys", root_ + "/dev"); }

  private:
    std::string root_;
};

// Catches: a unit known by its node number or path, which changes with the
// mode switch, instead of by where it is plugged in: the USB device's sysfs
// name above the node, or for a node on no USB device its HID_PHYS without
// the interface's "/inputN".
TEST(Hidraw, AUnitsLocationIsItsUsbPortPathOrItsPhysWithoutTheInput) {
    RealNodeTree tree;
    tree.Add(3, "pci0000:00/0000:00:14.0/usb1/1-4/1-4.2/1-4.2:1.0/0003:1209:7A10.0005",
             kTalvoUevent);
    tree.Add(4, "virtual/misc/uhid/0003:1209:7A10.0006",
             kTalvoUevent + "HID_PHYS=talvo-emulator/uhid-2/input0\n");
    HidrawPlatform platform = tree.Platform();
    CHidDevice device(platform);
    ASSERT_NE(device.Open(kTalvoVendorId, kTalvoNormalProductId, 16, 16, 0), nullptr);
    EXPECT_EQ(device.Location(), "1-4.2");
    ASSERT_NE(device.Open(kTalvoVendorId, kTalvoNormalProductId, 16, 16, 1), nullptr);
    EXPECT_EQ(device.Location(), "talvo-emulator/uhid-2");
    ASSERT_NE(
        device.Open(kTalvoVendorId, kTalvoNormalProductId, 16, 16, 0, "talvo-emulator/uhid-2"),
        nullptr);
    EXPECT_EQ(device.Open(kTalvoVendorId, kTalvoNormalProductId, 16, 16, 0, "1-5"), nullptr);
}

// Catches: two of our programs conversing with one unit at once (they took
// each other's answers): the second open for conversation finds the node
// locked and says so; and a watcher's probe that took the lock itself (it
// then found its own program's conversation in the way, reported the unit
// gone and ended the update mid-download).
TEST(Hidraw, ASecondConversationWithOneNodeIsRefusedAsInUseWhileAProbeStillOpensIt) {
    RealNodeTree tree;
    tree.Add(0, "virtual/misc/uhid/0003:1209:7A10.0001", kTalvoUevent);
    HidrawPlatform first = tree.Platform();
    HidrawPlatform second = tree.Platform();
    CHidDevice holder(first);
    holder.SetConversation(true);
    ASSERT_NE(holder.Open(kTalvoVendorId, kTalvoNormalProductId, 16, 16, 0), nullptr);
    CHidDevice other(second);
    other.SetConversation(true);
    EXPECT_EQ(other.Open(kTalvoVendorId, kTalvoNormalProductId, 16, 16, 0), nullptr);
    EXPECT_EQ(other.LastFailure(), CHidDevice::OpenFailure::kInUse);
    CHidDevice watcherProbe(first);
    EXPECT_NE(watcherProbe.Open(kTalvoVendorId, kTalvoNormalProductId, 16, 16, 0), nullptr);
    watcherProbe.Close();
    holder.Close();
    EXPECT_NE(other.Open(kTalvoVendorId, kTalvoNormalProductId, 16, 16, 0), nullptr);
}

}  // namespace
}  // namespace talvo::test
