// CHidDevice behaviour that must hold on every HID backend.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <future>
#include <thread>

#include "base/clock.h"
#include "hid/hid_device.h"
#include "hid/talvo_ids.h"
#include "tests/hid/hid_test_backend.h"

namespace talvo::test {
namespace {

using namespace std::chrono_literals;

// Generous bound for "at once" on a loaded machine.
constexpr auto kPromptly = 5s;

FakeInterface Talvo(int length, std::uint8_t reportId = 0) {
    FakeInterface spec;
    spec.vendorId = kTalvoVendorId;
    spec.productId = length == kUpdateReportLength ? kTalvoUpdateProductId : kTalvoNormalProductId;
    spec.inputLength = length;
    spec.outputLength = length;
    spec.inputReportId = reportId;
    spec.outputReportId = reportId;
    return spec;
}

FakeInterface Other(std::uint16_t vendor, std::uint16_t product, int in, int out) {
    FakeInterface spec;
    spec.vendorId = vendor;
    spec.productId = product;
    spec.inputLength = in;
    spec.outputLength = out;
    return spec;
}

std::vector<std::uint8_t> Pattern(int length, std::uint8_t seed) {
    std::vector<std::uint8_t> data(static_cast<std::size_t>(length));
    for (int i = 0; i < length; ++i) {
        data[static_cast<std::size_t>(i)] = static_cast<std::uint8_t>(seed + i * 7);
    }
    return data;
}

class HidConformance : public ::testing::Test {
  protected:
    void SetUp() override { backend = MakeHidTestBackend(); }

    // Opens a normal-mode (16) or update-mode (64) TALVO.
    HidDeviceRecord* OpenTalvo(CHidDevice& device, int length, int occurrence = 0) {
        int product = length == kUpdateReportLength ? kTalvoUpdateProductId : kTalvoNormalProductId;
        return device.Open(kTalvoVendorId, product, length, length, occurrence);
    }

    std::unique_ptr<HidTestBackend> backend;
};

TEST_F(HidConformance, MatchesOnIdsAndReportLengthsWithTheIdByte) {
    backend->Add(Other(0x046D, 0xC31C, 8, 1));                               // some keyboard
    backend->Add(Other(kTalvoVendorId, kTalvoNormalProductId + 5, 16, 16));  // wrong product
    int update = backend->Add(Talvo(kUpdateReportLength));                   // byte lengths 65
    CHidDevice device(backend->Platform());

    // Right IDs, byte length 65: a request for 16 must not match it.
    EXPECT_EQ(device.Open(kTalvoVendorId, kTalvoUpdateProductId, 16, 16, 0), nullptr);
    EXPECT_FALSE(device.isOpenFlag());
    EXPECT_EQ(device.Open(kTalvoVendorId, kTalvoUpdateProductId, 64, 16, 0), nullptr);
    EXPECT_EQ(device.Open(kTalvoVendorId, kTalvoNormalProductId, 16, 16, 0), nullptr);

    ASSERT_NE(OpenTalvo(device, kUpdateReportLength), nullptr);
    EXPECT_TRUE(device.isOpenFlag());
    EXPECT_EQ(device.InputReportByteLength(), 65);
    EXPECT_EQ(device.OutputReportByteLength(), 65);

    // It is the one that was opened: the device sees our write.
    std::vector<std::uint8_t> data = Pattern(64, 1);
    ASSERT_EQ(device.WriteReport(data.data(), 500), 1);
    std::vector<std::uint8_t> report;
    ASSERT_TRUE(backend->TakeOutput(update, report, 2000));
    EXPECT_EQ(report.size(), 65u);
}

TEST_F(HidConformance, LengthZeroAsksForNoReportsOfThatKind) {
    int inputOnly = backend->Add(Other(0x1111, 0x2222, 8, 0));
    CHidDevice device(backend->Platform());
    EXPECT_EQ(device.Open(0x1111, 0x2222, 8, 8, 0), nullptr);
    EXPECT_EQ(device.Open(0x1111, 0x2222, 0, 0, 0), nullptr);
    ASSERT_NE(device.Open(0x1111, 0x2222, 8, 0, 0), nullptr);
    EXPECT_EQ(device.OutputReportByteLength(), 0);
    // Nothing to write to: refused, nothing reaches the device.
    std::uint8_t byte = 0;
    EXPECT_EQ(device.WriteReport(&byte, 100), 0);
    std::vector<std::uint8_t> report;
    EXPECT_FALSE(backend->TakeOutput(inputOnly, report, 0));
}

TEST_F(HidConformance, VendorAndProductZeroOpenTheFirstThatOpensWhateverItsLengths) {
    int held = backend->Add(Talvo(kNormalReportLength));
    backend->SetHeldExclusively(held, true);
    int keyboard = backend->Add(Other(0x0001, 0x0002, 8, 1));
    backend->Add(Talvo(kUpdateReportLength));
    CHidDevice device(backend->Platform());
    ASSERT_NE(device.Open(0, 0, 200, 3, 0), nullptr);
    EXPECT_EQ(device.InputReportByteLength(), 9);
    EXPECT_EQ(device.OutputReportByteLength(), 2);
    std::uint8_t data = 0x5A;
    ASSERT_EQ(device.WriteReport(&data, 500), 1);
    std::vector<std::uint8_t> report;
    ASSERT_TRUE(backend->TakeOutput(keyboard, report, 2000));
    EXPECT_EQ(report, (std::vector<std::uint8_t>{0, 0x5A}));
    // Occurrence 1 with any IDs is the next one that opens.
    ASSERT_NE(device.Open(0, 0, 0, 0, 1), nullptr);
    EXPECT_EQ(device.InputReportByteLength(), 65);
}

TEST_F(HidConformance, OccurrenceCountsMatchesInEnumerationOrder) {
    int first = backend->Add(Talvo(kNormalReportLength));
    backend->Add(Other(0x0001, 0x0002, 8, 1));
    int second = backend->Add(Talvo(kNormalReportLength));
    CHidDevice device(backend->Platform());
    std::vector<std::uint8_t> data = Pattern(16, 9);
    std::vector<std::uint8_t> report;

    ASSERT_NE(OpenTalvo(device, kNormalReportLength, 0), nullptr);
    ASSERT_EQ(device.WriteReport(data.data(), 500), 1);
    EXPECT_TRUE(backend->TakeOutput(first, report, 2000));
    EXPECT_FALSE(backend->TakeOutput(second, report, 0));

    ASSERT_NE(OpenTalvo(device, kNormalReportLength, 1), nullptr);
    ASSERT_EQ(device.WriteReport(data.data(), 500), 1);
    EXPECT_TRUE(backend->TakeOutput(second, report, 2000));
    EXPECT_FALSE(backend->TakeOutput(first, report, 0));

    EXPECT_EQ(OpenTalvo(device, kNormalReportLength, 2), nullptr);
    EXPECT_FALSE(device.isOpenFlag());
}

TEST_F(HidConformance, InterfaceHeldExclusivelyIsSkippedAndTheSearchGoesOn) {
    int held = backend->Add(Talvo(kNormalReportLength));
    int free = backend->Add(Talvo(kNormalReportLength));
    backend->SetHeldExclusively(held, true);
    CHidDevice device(backend->Platform());
    ASSERT_NE(OpenTalvo(device, kNormalReportLength), nullptr);
    std::vector<std::uint8_t> data = Pattern(16, 3);
    ASSERT_EQ(device.WriteReport(data.data(), 500), 1);
    std::vector<std::uint8_t> report;
    EXPECT_TRUE(backend->TakeOutput(free, report, 2000));
    // Only one opens, so there is no second occurrence.
    CHidDevice other(backend->Platform());
    EXPECT_EQ(OpenTalvo(other, kNormalReportLength, 1), nullptr);
    // Released again, it is the first once more.
    backend->SetHeldExclusively(held, false);
    ASSERT_NE(OpenTalvo(other, kNormalReportLength, 0), nullptr);
    ASSERT_EQ(other.WriteReport(data.data(), 500), 1);
    EXPECT_TRUE(backend->TakeOutput(held, report, 2000));
}

TEST_F(HidConformance, LengthAbove256IsRefusedAndClosesAnOpenDevice) {
    backend->Add(Talvo(kNormalReportLength));
    backend->Add(Other(0x7777, 0x0001, 256, 256));
    CHidDevice device(backend->Platform());
    ASSERT_NE(OpenTalvo(device, kNormalReportLength), nullptr);
    EXPECT_EQ(device.Open(kTalvoVendorId, kTalvoNormalProductId, 257, 16, 0), nullptr);
    EXPECT_FALSE(device.isOpenFlag());
    EXPECT_EQ(device.InputReportByteLength(), 0);
    std::uint8_t data[16] = {};
    EXPECT_EQ(device.WriteReport(data, 100), 0);
    EXPECT_EQ(device.Open(0, 0, 16, 257, 0), nullptr);
    EXPECT_EQ(device.Open(0, 0, -1, 16, 0), nullptr);
    // 256 itself is a valid length.
    ASSERT_NE(device.Open(0x7777, 0x0001, 256, 256, 0), nullptr);
    EXPECT_EQ(device.InputReportByteLength(), 257);
}

TEST_F(HidConformance, CloseTwiceAndCloseUnopenedHaveNoEffect) {
    backend->Add(Talvo(kNormalReportLength));
    CHidDevice never(backend->Platform());
    never.Close();
    never.Close();
    EXPECT_FALSE(never.isOpenFlag());
    std::uint8_t buffer[16];
    EXPECT_EQ(never.ReadReport(buffer, 0), 0);

    CHidDevice device(backend->Platform());
    ASSERT_NE(OpenTalvo(device, kNormalReportLength), nullptr);
    device.Close();
    device.Close();
    EXPECT_FALSE(device.isOpenFlag());
    EXPECT_EQ(device.InputReportByteLength(), 0);
    // And it can be opened again afterwards.
    EXPECT_NE(OpenTalvo(device, kNormalReportLength), nullptr);
}

TEST_F(HidConformance, WriteAfterAbortOrCloseFailsWithoutWriting) {
    int id = backend->Add(Talvo(kNormalReportLength));
    CHidDevice device(backend->Platform());
    ASSERT_NE(OpenTalvo(device, kNormalReportLength), nullptr);
    std::vector<std::uint8_t> data = Pattern(16, 4);
    device.AbortRead();
    EXPECT_FALSE(device.isOpenFlag());
    EXPECT_EQ(device.WriteReport(data.data(), 500), 0);
    std::uint8_t buffer[16];
    EXPECT_EQ(device.ReadReport(buffer, 0), 0);
    std::vector<std::uint8_t> report;
    EXPECT_FALSE(backend->TakeOutput(id, report, 0));
    device.Close();
    EXPECT_EQ(device.WriteReport(data.data(), 500), 0);
    EXPECT_FALSE(backend->TakeOutput(id, report, 0));
    // A new Open clears the abort.
    ASSERT_NE(OpenTalvo(device, kNormalReportLength), nullptr);
    EXPECT_EQ(device.WriteReport(data.data(), 500), 1);
}

TEST_F(HidConformance, AbortReadReleasesAReadWaitingWithoutLimit) {
    backend->Add(Talvo(kUpdateReportLength));
    CHidDevice device(backend->Platform());
    ASSERT_NE(OpenTalvo(device, kUpdateReportLength), nullptr);
    std::atomic<bool> started{false};
    auto reader = std::async(std::launch::async, [&] {
        std::uint8_t buffer[64];
        started = true;
        return device.ReadReport(buffer, -1);
    });
    while (!started) {
        std::this_thread::yield();
    }
    // The reader is blocked (or about to be): nothing arrives on its own.
    EXPECT_EQ(reader.wait_for(100ms), std::future_status::timeout);
    device.AbortRead();
    ASSERT_EQ(reader.wait_for(kPromptly), std::future_status::ready);
    EXPECT_EQ(reader.get(), 0);
    device.Close();
}

TEST_F(HidConformance, AbortBeforeTheReadStartsStillReleasesIt) {
    backend->Add(Talvo(kNormalReportLength));
    CHidDevice device(backend->Platform());
    ASSERT_NE(OpenTalvo(device, kNormalReportLength), nullptr);
    device.AbortRead();
    auto reader = std::async(std::launch::async, [&] {
        std::uint8_t buffer[16];
        return device.ReadReport(buffer, -1);
    });
    ASSERT_EQ(reader.wait_for(kPromptly), std::future_status::ready);
    EXPECT_EQ(reader.get(), 0);
}

TEST_F(HidConformance, ReadCopiesExactlyTheDataBytesForBothModes) {
    for (int length : {kNormalReportLength, kUpdateReportLength}) {
        for (std::uint8_t reportId : {std::uint8_t{0}, std::uint8_t{3}}) {
            SCOPED_TRACE(testing::Message() << "length " << length << " id " << int(reportId));
            auto fresh = MakeHidTestBackend();
            int id = fresh->Add(Talvo(length, reportId));
            CHidDevice device(fresh->Platform());
            ASSERT_NE(OpenTalvo(device, length), nullptr);
            std::vector<std::uint8_t> data = Pattern(length, static_cast<std::uint8_t>(length));
            ASSERT_TRUE(fresh->SendInput(id, data));
            std::vector<std::uint8_t> buffer(static_cast<std::size_t>(length) + 8, 0xEE);
            ASSERT_EQ(device.ReadReport(buffer.data(), 2000), 1);
            EXPECT_EQ(std::vector<std::uint8_t>(buffer.begin(), buffer.begin() + length), data);
            // Not one byte beyond L-1.
            for (std::size_t i = static_cast<std::size_t>(length); i < buffer.size(); ++i) {
                EXPECT_EQ(buffer[i], 0xEE) << "byte " << i;
            }
        }
    }
}

TEST_F(HidConformance, OutputReportIdIsByteZeroWhateverTheData) {
    int numbered = backend->Add(Talvo(kUpdateReportLength, 0x21));
    CHidDevice device(backend->Platform());
    ASSERT_NE(OpenTalvo(device, kUpdateReportLength), nullptr);
    for (std::uint8_t first : {std::uint8_t{0x00}, std::uint8_t{0x21}, std::uint8_t{0xFF}}) {
        std::vector<std::uint8_t> data = Pattern(64, first);
        data[0] = first;
        ASSERT_EQ(device.WriteReport(data.data(), 500), 1);
        std::vector<std::uint8_t> report;
        ASSERT_TRUE(backend->TakeOutput(numbered, report, 2000));
        ASSERT_EQ(report.size(), 65u);
        EXPECT_EQ(report[0], 0x21);
        EXPECT_EQ(std::vector<std::uint8_t>(report.begin() + 1, report.end()), data);
    }

    auto plain = MakeHidTestBackend();
    int unnumbered = plain->Add(Talvo(kNormalReportLength, 0));
    CHidDevice second(plain->Platform());
    ASSERT_NE(OpenTalvo(second, kNormalReportLength), nullptr);
    std::vector<std::uint8_t> data(16, 0xAB);
    ASSERT_EQ(second.WriteReport(data.data(), 500), 1);
    std::vector<std::uint8_t> report;
    ASSERT_TRUE(plain->TakeOutput(unnumbered, report, 2000));
    ASSERT_EQ(report.size(), 17u);
    EXPECT_EQ(report[0], 0);
    EXPECT_EQ(report[16], 0xAB);
}

TEST_F(HidConformance, UnplugFailsABlockedReadAndLaterTransfers) {
    int id = backend->Add(Talvo(kNormalReportLength));
    CHidDevice device(backend->Platform());
    ASSERT_NE(OpenTalvo(device, kNormalReportLength), nullptr);
    auto reader = std::async(std::launch::async, [&] {
        std::uint8_t buffer[16];
        return device.ReadReport(buffer, -1);
    });
    EXPECT_EQ(reader.wait_for(100ms), std::future_status::timeout);
    backend->Unplug(id);
    ASSERT_EQ(reader.wait_for(kPromptly), std::future_status::ready);
    EXPECT_EQ(reader.get(), 0);
    std::uint8_t buffer[16] = {};
    EXPECT_EQ(device.ReadReport(buffer, 100), 0);
    EXPECT_EQ(device.WriteReport(buffer, 100), 0);
    device.Close();
    EXPECT_EQ(OpenTalvo(device, kNormalReportLength), nullptr);
}

TEST_F(HidConformance, TimedOutReadLosesNothingAndReadsNothingTwice) {
    int id = backend->Add(Talvo(kNormalReportLength, 1));
    CHidDevice device(backend->Platform());
    ASSERT_NE(OpenTalvo(device, kNormalReportLength), nullptr);
    std::uint8_t buffer[16];
    EXPECT_EQ(device.ReadReport(buffer, 0), 0);
    EXPECT_EQ(device.ReadReport(buffer, 30), 0);
    EXPECT_TRUE(device.isOpenFlag());
    std::vector<std::uint8_t> first = Pattern(16, 1), second = Pattern(16, 2);
    ASSERT_TRUE(backend->SendInput(id, first));
    ASSERT_TRUE(backend->SendInput(id, second));
    ASSERT_EQ(device.ReadReport(buffer, 2000), 1);
    EXPECT_EQ(std::vector<std::uint8_t>(buffer, buffer + 16), first);
    ASSERT_EQ(device.ReadReport(buffer, 2000), 1);
    EXPECT_EQ(std::vector<std::uint8_t>(buffer, buffer + 16), second);
    EXPECT_EQ(device.ReadReport(buffer, 20), 0);
}

TEST_F(HidConformance, TimeLimitsFollowTheDeviceClock) {
    backend->Add(Talvo(kNormalReportLength));
    int id = backend->Add(Talvo(kNormalReportLength));
    CHidDevice device(backend->Platform());
    ASSERT_NE(OpenTalvo(device, kNormalReportLength, 1), nullptr);
    ScaledClock fast(1000.0);
    ScopedClock scope(fast);
    // 20 s of device time pass in about 20 ms.
    const auto start = std::chrono::steady_clock::now();
    std::uint8_t buffer[16];
    EXPECT_EQ(device.ReadReport(buffer, 20000), 0);
    EXPECT_LT(std::chrono::steady_clock::now() - start, 10s);
    ASSERT_TRUE(backend->SendInput(id, Pattern(16, 0)));
    EXPECT_EQ(device.ReadReport(buffer, 20000), 1);
}

TEST_F(HidConformance, ReaderAndWriterThreadsShareOneDevice) {
    int id = backend->Add(Talvo(kUpdateReportLength));
    CHidDevice device(backend->Platform());
    ASSERT_NE(OpenTalvo(device, kUpdateReportLength), nullptr);
    constexpr int kReports = 50;
    // The device answers every output report with an input report carrying
    // the same data, as a command/response peer would.
    std::thread peer([&] {
        for (int i = 0; i < kReports; ++i) {
            std::vector<std::uint8_t> report;
            if (!backend->TakeOutput(id, report, 5000)) {
                return;
            }
            backend->SendInput(id, std::vector<std::uint8_t>(report.begin() + 1, report.end()));
        }
    });
    std::atomic<int> received{0};
    std::thread reader([&] {
        std::uint8_t buffer[64];
        while (device.ReadReport(buffer, -1) == 1) {
            if (buffer[0] == static_cast<std::uint8_t>(received.load())) {
                ++received;
            }
        }
    });
    int written = 0;
    for (int i = 0; i < kReports; ++i) {
        std::vector<std::uint8_t> data = Pattern(64, static_cast<std::uint8_t>(i));
        data[0] = static_cast<std::uint8_t>(i);
        written += device.WriteReport(data.data(), 500);
        auto until = std::chrono::steady_clock::now() + kPromptly;
        while (received.load() <= i && std::chrono::steady_clock::now() < until) {
            std::this_thread::sleep_for(1ms);
        }
        if (received.load() <= i) {
            break;  // the echo never came: no use waiting for the others
        }
    }
    device.AbortRead();
    reader.join();
    peer.join();
    device.Close();
    EXPECT_EQ(written, kReports);
    EXPECT_EQ(received.load(), kReports);
}

TEST_F(HidConformance, OpenOnAnOpenObjectReplacesTheDevice) {
    int normal = backend->Add(Talvo(kNormalReportLength));
    int update = backend->Add(Talvo(kUpdateReportLength));
    CHidDevice device(backend->Platform());
    ASSERT_NE(OpenTalvo(device, kNormalReportLength), nullptr);
    ASSERT_NE(OpenTalvo(device, kUpdateReportLength), nullptr);
    EXPECT_EQ(device.OutputReportByteLength(), 65);
    std::vector<std::uint8_t> data = Pattern(64, 0);
    ASSERT_EQ(device.WriteReport(data.data(), 500), 1);
    std::vector<std::uint8_t> report;
    EXPECT_TRUE(backend->TakeOutput(update, report, 2000));
    EXPECT_FALSE(backend->TakeOutput(normal, report, 0));
}

}  // namespace
}  // namespace talvo::test
