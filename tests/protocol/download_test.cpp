// Command 64 against the emulated TALVO in update mode: the exchanges,
// their retries (against the device's own faults), the progress values and
// the diagnostic lines. The device checks every piece's offset and CRC, the
// announced length and body checksum, and the whole image before it takes
// it into flash, so its flash and its command list are what is checked.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <string>
#include <thread>

#include "base/clock.h"
#include "emulator/device_image.h"
#include "emulator/emulated_talvo.h"
#include "firmware/firm_file.h"
#include "hid/talvo_ids.h"
#include "protocol/diagnostics.h"
#include "tests/protocol/fake_device.h"
#include "tools/fw_image_builder.h"

namespace talvo::test {
namespace {

Bytes MakeImage(std::uint32_t length, const char* magic = "UASP") {
    return fwtools::BuildImage(
        fwtools::SeededImage(magic, "1.07", length, length, 0x1234ABCD, 0x0F0E0D0C));
}

struct Progress {
    std::vector<int> values;
    static void Callback(int percent, void* user) {
        static_cast<Progress*>(user)->values.push_back(percent);
    }
};

struct Lines {
    std::vector<std::wstring> lines;
    static void Sink(const wchar_t* line, void* context) {
        static_cast<Lines*>(context)->lines.emplace_back(line);
    }
};

class Download : public ::testing::Test {
  protected:
    void SetUp() override {
        NotifyLog::Clear();
        ASSERT_TRUE(OpenComm(comm, kUpdateReportLength));
    }
    void TearDown() override {
        comm.Close();
        NotifyLog::Clear();
    }

    ResultCode Run(const Bytes& image, Progress* progress = nullptr) {
        CommandParams params{};
        StorePointer(params, params_layout::kDownloadImage, image.data());
        StoreU32(params, params_layout::kDownloadLength, static_cast<std::uint32_t>(image.size()));
        if (progress != nullptr) {
            StoreFunction<ProgressCallback>(params, params_layout::kDownloadCallback,
                                            &Progress::Callback);
            StorePointer(params, params_layout::kDownloadUserData, progress);
        }
        return comm.Dispatch(64, &params, nullptr);
    }

    // The requests the device took for one step of the update group.
    std::vector<CommandRecord> Sent(std::uint8_t command) {
        std::vector<CommandRecord> out;
        for (const CommandRecord& r : device.Commands()) {
            if (r.group == kGroupFirmwareUpdate && r.command == command) {
                out.push_back(r);
            }
        }
        return out;
    }

    EmulatedBus bus;
    ScopedHidPlatform platform{bus};
    EmulatedTalvo device{bus, Scenario::Named("update-mode")};
    ulo_CHidComm comm;
    Lines lines;
    ScopedDiagnosticSink sink{&Lines::Sink, &lines};
};

// Also catches the download flag raised late: it is up from the
// announcement on, so a loss meanwhile is not reported as a lost device.
TEST_F(Download, OnePieceImage) {
    const Bytes image = MakeImage(10240);
    device.AddFault(Fault::Late(kGroupFirmwareUpdate, kCmdFuSetInfo, 300));
    std::atomic<int> flagDuringAnnouncement{-1};
    std::thread watch([&] {
        for (int i = 0; i < 5000 && device.Commands().empty(); ++i) {
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
        flagDuringAnnouncement = comm.downloading.load();
    });
    Progress progress;
    EXPECT_EQ(Run(image, &progress), kResultOk);
    watch.join();
    EXPECT_EQ(progress.values, (std::vector<int>{21, 100}));
    EXPECT_TRUE(lines.lines.empty());

    EXPECT_EQ(device.CommandNames(),
              (std::vector<std::string>{"FU_SETINFO type=1 length=10240",
                                        "FU_FWLOAD offset=0 size=10240", "FU_WRITEFW"}));
    for (const CommandRecord& r : device.Commands()) {
        EXPECT_EQ(r.kind, kKindSetRequest);
        EXPECT_EQ(r.value, 0);
        EXPECT_EQ(r.selector, 0);
        EXPECT_EQ(r.status, device_status::kOk) << r.Describe();
    }
    // Piece CRC, announced body checksum and whole image all passed.
    EXPECT_EQ(device.Flash(kTypeCodeMain), image);
    EXPECT_EQ(comm.downloading.load(), 0);
    EXPECT_EQ(flagDuringAnnouncement.load(), 1);
}

TEST_F(Download, ShortLastPiece) {
    const Bytes image = MakeImage(10244);
    Progress progress;
    EXPECT_EQ(Run(image, &progress), kResultOk);
    EXPECT_EQ(progress.values, (std::vector<int>{21, 97, 100}));
    // Pairs alternate: SETINFO, LOAD, WRITE, LOAD, WRITE.
    EXPECT_EQ(
        device.CommandNames(),
        (std::vector<std::string>{"FU_SETINFO type=1 length=10244", "FU_FWLOAD offset=0 size=10240",
                                  "FU_WRITEFW", "FU_FWLOAD offset=10240 size=4", "FU_WRITEFW"}));
    EXPECT_EQ(device.Flash(kTypeCodeMain), image);
}

TEST_F(Download, EightPiecesWithRisingProgress) {
    const Bytes image = MakeImage(76044, "DSPA");
    Progress progress;
    EXPECT_EQ(Run(image, &progress), kResultOk);
    ASSERT_EQ(Sent(kCmdFuSetInfo).size(), 1u);
    EXPECT_EQ(Sent(kCmdFuSetInfo)[0].typeCode, 3) << "DspMain goes out as type code 3";
    const auto loads = Sent(kCmdFuFwLoad);
    ASSERT_EQ(loads.size(), 8u);
    EXPECT_EQ(Sent(kCmdFuWriteFw).size(), 8u);
    for (std::size_t i = 0; i < loads.size(); ++i) {
        EXPECT_EQ(loads[i].offset, i * 10240);
        EXPECT_EQ(loads[i].length - 6u, i < 7 ? 10240u : 4364u);
    }
    EXPECT_EQ(device.Flash(kTypeCodeDsp), image);
    // 21, then one value per piece from the second on, then 100.
    std::vector<int> expected = {21};
    for (std::uint32_t i = 1; i < 8; ++i) {
        expected.push_back(static_cast<int>(21 + (i * 10240u * 77u) / 76044u));
    }
    expected.push_back(100);
    EXPECT_EQ(progress.values, expected);
}

TEST_F(Download, TypeCodes) {
    EXPECT_EQ(Run(MakeImage(600, "UASP")), kResultOk);
    // An updater image comes last: the device restarts after taking it.
    EXPECT_EQ(Run(MakeImage(600, "FWUP")), kResultOk);
    const auto infos = Sent(kCmdFuSetInfo);
    ASSERT_EQ(infos.size(), 2u);
    EXPECT_EQ(infos[0].typeCode, 1);
    EXPECT_EQ(infos[1].typeCode, 0);
    // A type without a code is refused before anything is sent.
    const Bytes image = MakeImage(600);
    EXPECT_EQ(comm.Download(image.data(), 600, -1, nullptr, nullptr), kResultBadParams);
    EXPECT_EQ(comm.Download(image.data(), 600, 3, nullptr, nullptr), kResultBadParams);
    EXPECT_EQ(device.Commands().size(), 6u);
}

TEST_F(Download, SetInfoRefusedThreeTimes) {
    device.AddFault(Fault::Status(kGroupFirmwareUpdate, kCmdFuSetInfo, 0x05, -1));
    Progress progress;
    EXPECT_EQ(Run(MakeImage(20000), &progress), kResultLoadFailed);
    const std::wstring line = L"error : receive error response. (FU_SETINFO) [0x05]\n";
    EXPECT_EQ(lines.lines, (std::vector<std::wstring>{line, line, line}));
    EXPECT_EQ(Sent(kCmdFuSetInfo).size(), 3u);
    EXPECT_TRUE(Sent(kCmdFuFwLoad).empty()) << "no image data after a refused announcement";
    EXPECT_TRUE(progress.values.empty());
    EXPECT_EQ(comm.downloading.load(), 0);
}

TEST_F(Download, LoadAnswerWithWrongLengthIsRetriedToMismatch) {
    device.AddFault(Fault::Shape(FaultKind::kWrongLength, kGroupFirmwareUpdate, kCmdFuFwLoad, -1));
    Progress progress;
    EXPECT_EQ(Run(MakeImage(20000), &progress), kResultHeaderMismatch);
    EXPECT_EQ(Sent(kCmdFuFwLoad).size(), 5u);
    EXPECT_TRUE(Sent(kCmdFuWriteFw).empty());
    const std::wstring line = L"\nerror : invalid response header receive. (FU_FWLOAD)\n";
    EXPECT_EQ(lines.lines, std::vector<std::wstring>(5, line));
    EXPECT_EQ(progress.values, (std::vector<int>{21})) << "no 100 after a failure";
}

// Passes the waits of 100 s and more (FU_WRITEFW's 180 s) 2,000 times
// faster and every shorter one in real time, so a device that never
// confirms a write fails fast while the other answers have all the time
// they need.
class LongWaitsShortened : public IClock {
  public:
    std::uint32_t TickCount() override { return SystemClock().TickCount(); }
    void Sleep(std::uint32_t ms) override { SystemClock().Sleep(ms); }
    std::chrono::nanoseconds RealDuration(std::uint32_t ms) override {
        return SystemClock().RealDuration(ms >= 100000 && ms != kInfinite ? ms / 2000 : ms);
    }
};

TEST_F(Download, RetriesRecover) {
    // Static (as every installed clock): other threads may still be inside a
    // call on it just after the scope restores the system clock.
    static ScaledClock fast(10);  // the unanswered 5 s announcement fails in 0.5 s
    ScopedClock scoped(fast);
    // First announcement unanswered, the second taken; the first load
    // refused with status 0x21, the second taken.
    device.AddFault(Fault::Drop(kGroupFirmwareUpdate, kCmdFuSetInfo));
    device.AddFault(Fault::Status(kGroupFirmwareUpdate, kCmdFuFwLoad, 0x21));
    Progress progress;
    EXPECT_EQ(Run(MakeImage(600), &progress), kResultOk);
    EXPECT_EQ(lines.lines, (std::vector<std::wstring>{
                               L"error : send or receive error. (FU_SETINFO) [-7]\n",
                               L"\nerror : receive error response. (FU_FWLOAD) [0x21]\n",
                           }));
    EXPECT_EQ(Sent(kCmdFuSetInfo).size(), 2u);
    EXPECT_EQ(Sent(kCmdFuFwLoad).size(), 2u);
    EXPECT_EQ(Sent(kCmdFuWriteFw).size(), 1u);
    EXPECT_EQ(progress.values, (std::vector<int>{21, 100}));
}

TEST_F(Download, UnconfirmedWriteEndsIt) {
    static LongWaitsShortened clock;
    ScopedClock scoped(clock);
    device.AddFault(Fault::Drop(kGroupFirmwareUpdate, kCmdFuWriteFw, -1));
    EXPECT_EQ(Run(MakeImage(20000)), kResultWriteFailed);
    const std::wstring line = L"\nerror : send or receive error. (FU_WRITEFW) [-7]\n";
    EXPECT_EQ(lines.lines, (std::vector<std::wstring>{line, line}));
    EXPECT_EQ(Sent(kCmdFuFwLoad).size(), 1u) << "no second piece after an unconfirmed first";
    EXPECT_EQ(Sent(kCmdFuWriteFw).size(), 2u);
}

TEST_F(Download, WriteRefusedByStatus) {
    device.AddFault(Fault::Status(kGroupFirmwareUpdate, kCmdFuWriteFw, 0x07, -1));
    EXPECT_EQ(Run(MakeImage(600)), kResultWriteFailed);
    const std::wstring line = L"\nerror : receive error response. (FU_WRITEFW) [0x07]\n";
    EXPECT_EQ(lines.lines, (std::vector<std::wstring>{line, line}));
}

TEST_F(Download, ImagesThatFailValidationAreNotSent) {
    Bytes image = MakeImage(20000);
    image[7000] ^= 0x01;  // body bit: checksum
    EXPECT_EQ(Run(image), kResultImageChecksum);
    image = MakeImage(20000);
    image[512] = 'X';  // magic: format
    EXPECT_EQ(Run(image), kResultBadImage);
    EXPECT_EQ(Run(Bytes(560, 0)), kResultBadImage);
    EXPECT_EQ(comm.Dispatch(64, nullptr, nullptr), kResultBadParams);
    CommandParams noImage{};
    StoreU32(noImage, params_layout::kDownloadLength, 20000);
    EXPECT_EQ(comm.Dispatch(64, &noImage, nullptr), kResultBadParams);
    EXPECT_TRUE(device.Commands().empty());
    EXPECT_TRUE(lines.lines.empty());
}

TEST_F(Download, UnplugDuringTheDownloadIsNotAnnounced) {
    // Gone once the second piece's request is all there, before answering:
    // 8 + 6 + 10,240 bytes in reports of 63.
    device.AddFault(Fault::UnplugInPiece(1, (8 + 6 + 10240 + 62) / 63));
    EXPECT_EQ(Run(MakeImage(30000)), kResultLoadFailed);
    EXPECT_EQ(lines.lines.size(), 5u);
    EXPECT_EQ(comm.downloading.load(), 0);
    EXPECT_TRUE(NotifyLog::Take().empty()) << "no lost-device event during a download";
}

}  // namespace
}  // namespace talvo::test
