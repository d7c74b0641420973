// Command 64 against a scripted device: the exchanges, their retries, the
// progress values and the diagnostic lines.
#include <gtest/gtest.h>

#include <mutex>
#include <string>

#include "base/clock.h"
#include "firmware/firm_file.h"
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

// How the device answers each of the three exchanges.
struct Behaviour {
    // Status byte of the answer to the k-th request of a command (0 = fine).
    std::function<std::uint8_t(int command, int index)> status = [](int, int) { return 0; };
    // Declared length of the answer, or -1 for the right one.
    std::function<int(int command, int index)> length = [](int, int) { return -1; };
    // Whether to answer at all.
    std::function<bool(int command, int index)> answer = [](int, int) { return true; };
};

class Download : public ::testing::Test {
  protected:
    void SetUp() override {
        ASSERT_TRUE(c.opened);
        NotifyLog::Clear();
        c.device.SetScript([this](FakeDevice& d, const Bytes& request) {
            Behaviour b;
            int index = 0;
            {
                std::lock_guard<std::mutex> lock(mutex_);
                b = behaviour_;
                index = counts_[request[1] & 3]++;
                downloadingSeen_ = downloadingSeen_ && c.comm->downloading.load() == 1;
            }
            const int command = request[1];
            if (!b.answer(command, index)) {
                return;
            }
            const int right = command == 1 ? 1 : 0;
            const int declared = b.length(command, index) < 0 ? right : b.length(command, index);
            d.SendResponse(MessageDeclaring(1, request[1], request[2], 0, b.status(command, index),
                                            0, Bytes(static_cast<std::size_t>(right), 0),
                                            static_cast<std::uint16_t>(declared)));
        });
    }
    void TearDown() override { NotifyLog::Clear(); }

    void Behave(Behaviour b) {
        std::lock_guard<std::mutex> lock(mutex_);
        behaviour_ = std::move(b);
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
        return c.comm->Dispatch(64, &params, nullptr);
    }

    // The requests the device saw with the given command byte.
    std::vector<Bytes> Sent(int command) {
        std::vector<Bytes> out;
        for (auto& r : c.device.Requests()) {
            if (r[1] == command) {
                out.push_back(r);
            }
        }
        return out;
    }

    Connected c;
    Lines lines;
    ScopedDiagnosticSink sink{&Lines::Sink, &lines};
    std::mutex mutex_;
    Behaviour behaviour_;
    int counts_[4] = {};
    bool downloadingSeen_ = true;
};

std::uint32_t U32(const Bytes& b, std::size_t at) {
    return b[at] | (b[at + 1] << 8) | (b[at + 2] << 16) |
           (static_cast<std::uint32_t>(b[at + 3]) << 24);
}

TEST_F(Download, OnePieceImage) {
    const Bytes image = MakeImage(10240);
    Progress progress;
    EXPECT_EQ(Run(image, &progress), kResultOk);
    EXPECT_EQ(progress.values, (std::vector<int>{21, 100}));
    EXPECT_TRUE(lines.lines.empty());

    auto requests = c.device.Requests();
    ASSERT_EQ(requests.size(), 3u);
    // FU_SETINFO: type code, length, the header's body checksum.
    Bytes setInfo = {0, 0, 9, 0, 0, 0, 7, 0, 1, 0x00, 0x28, 0, 0, image[556], image[557]};
    EXPECT_EQ(requests[0], setInfo);
    // FU_FWLOAD: offset 0, piece CRC, the image bytes as stored.
    const Bytes& load = requests[1];
    ASSERT_EQ(load.size(), 10254u);
    EXPECT_EQ((Bytes(load.begin(), load.begin() + 8)), (Bytes{0, 1, 9, 0, 0, 0, 0x06, 0x28}));
    EXPECT_EQ(U32(load, 8), 0u);
    const std::uint16_t crc = Crc16Update(image.data(), 10240, 0);
    EXPECT_EQ(load[12], crc & 0xFF);
    EXPECT_EQ(load[13], crc >> 8);
    EXPECT_TRUE(std::equal(image.begin(), image.end(), load.begin() + 14));
    // FU_WRITEFW after the piece.
    EXPECT_EQ(requests[2], (Bytes{0, 3, 9, 0, 0, 0, 0, 0}));
    EXPECT_EQ(c.comm->downloading.load(), 0);
    EXPECT_TRUE(downloadingSeen_) << "the flag is up while the device is talked to";
}

TEST_F(Download, ShortLastPiece) {
    const Bytes image = MakeImage(10244);
    Progress progress;
    EXPECT_EQ(Run(image, &progress), kResultOk);
    EXPECT_EQ(progress.values, (std::vector<int>{21, 97, 100}));
    auto loads = Sent(1);
    ASSERT_EQ(loads.size(), 2u);
    EXPECT_EQ(Sent(3).size(), 2u);
    const Bytes& second = loads[1];
    ASSERT_EQ(second.size(), 18u);
    EXPECT_EQ(second[6], 10);
    EXPECT_EQ(U32(second, 8), 10240u);
    const std::uint16_t crc = Crc16Update(image.data() + 10240, 4, 0);
    EXPECT_EQ(second[12] | (second[13] << 8), crc);
    EXPECT_TRUE(std::equal(image.begin() + 10240, image.end(), second.begin() + 14));
    // Pairs alternate: SETINFO, LOAD, WRITE, LOAD, WRITE.
    auto all = c.device.Requests();
    ASSERT_EQ(all.size(), 5u);
    EXPECT_EQ((std::vector<int>{all[0][1], all[1][1], all[2][1], all[3][1], all[4][1]}),
              (std::vector<int>{0, 1, 3, 1, 3}));
}

TEST_F(Download, EightPiecesWithRisingProgress) {
    const Bytes image = MakeImage(76044, "DSPA");
    Progress progress;
    EXPECT_EQ(Run(image, &progress), kResultOk);
    EXPECT_EQ(Sent(0)[0][8], 3) << "DspMain goes out as type code 3";
    auto loads = Sent(1);
    ASSERT_EQ(loads.size(), 8u);
    EXPECT_EQ(Sent(3).size(), 8u);
    Bytes joined;
    for (std::size_t i = 0; i < loads.size(); ++i) {
        EXPECT_EQ(U32(loads[i], 8), i * 10240);
        const std::size_t piece = loads[i].size() - 14;
        EXPECT_EQ(piece, i < 7 ? 10240u : 4364u);
        EXPECT_EQ(loads[i][12] | (loads[i][13] << 8),
                  Crc16Update(loads[i].data() + 14, static_cast<std::uint32_t>(piece), 0));
        joined.insert(joined.end(), loads[i].begin() + 14, loads[i].end());
    }
    EXPECT_EQ(joined, image);
    // 21, then one value per piece from the second on, then 100.
    std::vector<int> expected = {21};
    for (std::uint32_t i = 1; i < 8; ++i) {
        expected.push_back(static_cast<int>(21 + (i * 10240u * 77u) / 76044u));
    }
    expected.push_back(100);
    EXPECT_EQ(progress.values, expected);
}

TEST_F(Download, TypeCodes) {
    EXPECT_EQ(Run(MakeImage(600, "FWUP")), kResultOk);
    EXPECT_EQ(Run(MakeImage(600, "UASP")), kResultOk);
    auto infos = Sent(0);
    ASSERT_EQ(infos.size(), 2u);
    EXPECT_EQ(infos[0][8], 0);
    EXPECT_EQ(infos[1][8], 1);
    // A type without a code is refused before anything is sent.
    const Bytes image = MakeImage(600);
    EXPECT_EQ(c.comm->Download(image.data(), 600, -1, nullptr, nullptr), kResultBadParams);
    EXPECT_EQ(c.comm->Download(image.data(), 600, 3, nullptr, nullptr), kResultBadParams);
    EXPECT_EQ(c.device.Requests().size(), 6u);
}

TEST_F(Download, SetInfoRefusedThreeTimes) {
    Behaviour b;
    b.status = [](int command, int) { return command == 0 ? 0x05 : 0; };
    Behave(b);
    Progress progress;
    EXPECT_EQ(Run(MakeImage(20000), &progress), kResultLoadFailed);
    const std::wstring line = L"error : receive error response. (FU_SETINFO) [0x05]\n";
    EXPECT_EQ(lines.lines, (std::vector<std::wstring>{line, line, line}));
    EXPECT_EQ(Sent(0).size(), 3u);
    EXPECT_TRUE(Sent(1).empty()) << "no image data after a refused announcement";
    EXPECT_TRUE(progress.values.empty());
    EXPECT_EQ(c.comm->downloading.load(), 0);
}

TEST_F(Download, LoadAnswerWithWrongLengthIsRetriedToMismatch) {
    Behaviour b;
    b.length = [](int command, int) { return command == 1 ? 0 : -1; };
    Behave(b);
    Progress progress;
    EXPECT_EQ(Run(MakeImage(20000), &progress), kResultHeaderMismatch);
    EXPECT_EQ(Sent(1).size(), 5u);
    EXPECT_TRUE(Sent(3).empty());
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
    Behaviour b;
    // First announcement unanswered, the second taken; the first load
    // refused with status 0x21, the second taken.
    b.answer = [](int command, int index) { return !(command == 0 && index == 0); };
    b.status = [](int command, int index) { return command == 1 && index == 0 ? 0x21 : 0; };
    Behave(b);
    Progress progress;
    EXPECT_EQ(Run(MakeImage(600), &progress), kResultOk);
    EXPECT_EQ(lines.lines, (std::vector<std::wstring>{
                               L"error : send or receive error. (FU_SETINFO) [-7]\n",
                               L"\nerror : receive error response. (FU_FWLOAD) [0x21]\n",
                           }));
    EXPECT_EQ(Sent(0).size(), 2u);
    EXPECT_EQ(Sent(1).size(), 2u);
    EXPECT_EQ(Sent(3).size(), 1u);
    EXPECT_EQ(progress.values, (std::vector<int>{21, 100}));
}

TEST_F(Download, UnconfirmedWriteEndsIt) {
    static LongWaitsShortened clock;
    ScopedClock scoped(clock);
    Behaviour b;
    b.answer = [](int command, int) { return command != 3; };
    Behave(b);
    EXPECT_EQ(Run(MakeImage(20000)), kResultWriteFailed);
    const std::wstring line = L"\nerror : send or receive error. (FU_WRITEFW) [-7]\n";
    EXPECT_EQ(lines.lines, (std::vector<std::wstring>{line, line}));
    EXPECT_EQ(Sent(1).size(), 1u) << "no second piece after an unconfirmed first";
    EXPECT_EQ(Sent(3).size(), 2u);
}

TEST_F(Download, WriteRefusedByStatus) {
    Behaviour b;
    b.status = [](int command, int) { return command == 3 ? 0x07 : 0; };
    Behave(b);
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
    EXPECT_EQ(c.comm->Dispatch(64, nullptr, nullptr), kResultBadParams);
    CommandParams noImage{};
    StoreU32(noImage, params_layout::kDownloadLength, 20000);
    EXPECT_EQ(c.comm->Dispatch(64, &noImage, nullptr), kResultBadParams);
    EXPECT_TRUE(c.device.Requests().empty());
    EXPECT_TRUE(lines.lines.empty());
}

TEST_F(Download, UnplugDuringTheDownloadIsNotAnnounced) {
    Behaviour b;
    b.answer = [this](int command, int index) {
        if (command == 1 && index == 1) {
            c.device.Unplug();
            return false;
        }
        return true;
    };
    Behave(b);
    EXPECT_EQ(Run(MakeImage(30000)), kResultLoadFailed);
    EXPECT_EQ(lines.lines.size(), 5u);
    EXPECT_EQ(c.comm->downloading.load(), 0);
    EXPECT_TRUE(NotifyLog::Take().empty()) << "no lost-device event during a download";
}

}  // namespace
}  // namespace talvo::test
