// SendAndWait and the receive thread over the emulated bus, against a
// scripted device.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <future>
#include <thread>

#include "base/clock.h"
#include "tests/protocol/fake_device.h"

namespace talvo::test {
namespace {

using namespace std::chrono_literals;

// Waits generously for a condition another thread makes true.
template <class Pred>
bool Eventually(Pred pred) {
    const auto end = std::chrono::steady_clock::now() + 20s;
    while (!pred()) {
        if (std::chrono::steady_clock::now() > end) {
            return false;
        }
        std::this_thread::sleep_for(1ms);
    }
    return true;
}

class Transport : public ::testing::Test {
  protected:
    void SetUp() override { NotifyLog::Clear(); }
    void TearDown() override { NotifyLog::Clear(); }
};

TEST_F(Transport, RequestGoesOutSegmentedAndTheResponseComesBack) {
    Connected c;
    ASSERT_TRUE(c.opened);
    c.device.SetScript([](FakeDevice& d, const Bytes& request) {
        // 84-byte response: 0x83 and 0x85.
        Bytes payload(76);
        for (std::size_t i = 0; i < payload.size(); ++i) {
            payload[i] = static_cast<std::uint8_t>(0xA0 + i);
        }
        Bytes answer = AnswerTo(request, payload);
        answer[5] = 0x21;  // detail is kept even with status 0
        d.SendResponse(answer);
    });
    Bytes message(100);
    for (std::size_t i = 0; i < message.size(); ++i) {
        message[i] = static_cast<std::uint8_t>(i);
    }
    message[6] = 92;  // its own length field: 8 + 92 = 100
    message[7] = 0;
    EXPECT_EQ(c.comm->SendAndWait(message.data(), 100, 5000), kResultOk);
    EXPECT_EQ(c.comm->lastStatus, 0);
    EXPECT_EQ(c.comm->lastDetail, 0x21);
    EXPECT_EQ(c.comm->responseBuffer[8], 0xA0);
    EXPECT_EQ(c.comm->responseBuffer[83], 0xA0 + 75);

    auto reports = c.device.Reports();
    ASSERT_EQ(reports.size(), 2u);
    EXPECT_EQ(reports[0][0], 0x80);
    EXPECT_EQ(reports[1][0], 0x82);
    EXPECT_TRUE(std::equal(message.begin(), message.begin() + 63, reports[0].begin() + 1));
    EXPECT_TRUE(std::equal(message.begin() + 63, message.end(), reports[1].begin() + 1));
    EXPECT_EQ(std::count(reports[1].begin() + 38, reports[1].end(), 0), 26);
}

TEST_F(Transport, EmptyMessageIsRefusedWithoutWriting) {
    Connected c;
    ASSERT_TRUE(c.opened);
    c.device.AnswerEcho();
    c.comm->responseEvent->Set();
    std::uint8_t none[8] = {};
    EXPECT_EQ(c.comm->SendAndWait(none, 0, 5000), kResultFailed);
    EXPECT_FALSE(c.comm->responseEvent->IsSet()) << "the event is reset first, even for L = 0";
    // The next real request is the first report the device sees.
    std::uint8_t request[8] = {0, 1, 0, 0, 0, 0, 0, 0};
    EXPECT_EQ(c.comm->SendAndWait(request, 8, 5000), kResultOk);
    EXPECT_EQ(c.device.Reports().size(), 1u);
}

TEST_F(Transport, NonzeroStatusIsReportedWithItsDetail) {
    Connected c;
    ASSERT_TRUE(c.opened);
    c.device.SetScript([](FakeDevice& d, const Bytes& request) {
        d.SendResponse(Message(request[0] + 1, request[1], request[2], 0, 19, 0x42, {}));
    });
    CommandParams params{};
    StatusPair pair{-1, -1};
    EXPECT_EQ(c.comm->Dispatch(1, &params, &pair), kResultDeviceStatus);
    EXPECT_EQ(pair.status, 19);
    EXPECT_EQ(pair.detail, 0x42);
}

TEST_F(Transport, LateResponseIsNotTakenByTheNextRequest) {
    Connected c;
    ASSERT_TRUE(c.opened);
    Bytes seen;
    std::mutex seenMutex;
    std::atomic<bool> answer{false};
    c.device.SetScript([&](FakeDevice& d, const Bytes& request) {
        {
            std::lock_guard<std::mutex> lock(seenMutex);
            seen = request;
        }
        if (answer.load()) {
            d.SendResponse(AnswerTo(request, {}, 0x33));
        }
    });
    CommandParams params{};
    StatusPair pair{7, 8};
    c.comm->lastStatus = 3;
    c.comm->lastDetail = 4;
    {
        // Static: the device thread may still be inside a call on it just after
        // the scope restores the system clock.
        static ScaledClock fast(200);  // the 5 s limit passes in 25 ms
        ScopedClock scoped(fast);
        EXPECT_EQ(c.comm->Dispatch(2, &params, &pair), kResultTransport);
    }
    EXPECT_EQ(pair.status, 3) << "a time-out leaves the earlier status";
    EXPECT_EQ(pair.detail, 4);

    // The answer comes after the sender gave up; a notification behind it
    // tells when the receive thread has dealt with it.
    ASSERT_TRUE(c.device.WaitForRequests(1));
    Bytes request;
    {
        std::lock_guard<std::mutex> lock(seenMutex);
        request = seen;
    }
    c.device.SendResponse(AnswerTo(request, {}, 0x5A));
    c.device.SendReport({0x90, 1, 0});
    ASSERT_TRUE(NotifyLog::WaitFor(1));
    EXPECT_FALSE(c.comm->responseEvent->IsSet()) << "nobody waits, nothing is handed over";
    EXPECT_NE(c.comm->responseBuffer[3], 0x5A);

    // The next request gets its own answer.
    answer.store(true);
    EXPECT_EQ(c.comm->Dispatch(2, &params, &pair), kResultOk);
    EXPECT_EQ(params.b[0], 0x33);
}

TEST_F(Transport, SecondAnswerToARequestIsDropped) {
    Connected c;
    ASSERT_TRUE(c.opened);
    c.device.SetScript([](FakeDevice& d, const Bytes& request) {
        // Each answer comes twice, the copy with another value; the
        // notification behind them marks that both were read.
        const std::uint8_t n = request[3];
        d.SendResponse(Message(3, request[1], request[2], n, 0, 0, {}));
        d.SendResponse(Message(3, request[1], request[2], 0xEE, 0, 0, {}));
        d.SendReport({0x90, 1, n});
    });
    for (int i = 1; i <= 20; ++i) {
        SCOPED_TRACE(i);
        // A get request carrying the round number as its value.
        Bytes message = {2, 1, 0, static_cast<std::uint8_t>(i), 0, 0, 0, 0};
        EXPECT_EQ(c.comm->SendAndWait(message.data(), 8, 5000), kResultOk);
        EXPECT_EQ(c.comm->responseBuffer[3], i) << "the first answer stays";
        ASSERT_TRUE(NotifyLog::WaitFor(static_cast<std::size_t>(i)));
        EXPECT_EQ(c.comm->responseBuffer[3], i) << "the copy did not overwrite it";
    }
}

TEST_F(Transport, OverlongSegmentRunNeverCompletes) {
    Connected c;
    ASSERT_TRUE(c.opened);
    c.device.SetScript([](FakeDevice& d, const Bytes& request) {
        Bytes first = AnswerTo(request, {});
        first[6] = 0xFF;
        first[7] = 0xFF;
        first.insert(first.begin(), 0x83);
        d.SendReport(first);
        Bytes middle(64, 0x11);
        middle[0] = 0x84;
        for (int i = 0; i < 1100; ++i) {
            d.SendReport(middle);
        }
        Bytes last(64, 0x22);
        last[0] = 0x85;
        d.SendReport(last);  // must not complete the dropped run
        d.SendResponse(AnswerTo(request, {}, 0x66));
    });
    CommandParams params{};
    EXPECT_EQ(c.comm->Dispatch(2, &params, nullptr), kResultOk);
    EXPECT_EQ(params.b[0], 0x66);
}

TEST_F(Transport, CloseWhileTheReceiveThreadWaitsReportsNothing) {
    Connected c;
    ASSERT_TRUE(c.opened);
    std::this_thread::sleep_for(10ms);  // let the receive thread block in its read
    EXPECT_EQ(c.comm->Close(), 0);
    EXPECT_FALSE(c.comm->receiveThread.joinable());
    EXPECT_EQ(c.comm->stopRequested.load(), 1);
    EXPECT_EQ(c.comm->notifyCallback.load(), nullptr);
    EXPECT_TRUE(NotifyLog::Take().empty()) << "closing is not a lost device";
    // A second Close is harmless, and commands now fail without a device.
    EXPECT_EQ(c.comm->Close(), 0);
    CommandParams params{};
    EXPECT_EQ(c.comm->Dispatch(1, &params, nullptr), kResultTransport);
}

TEST_F(Transport, UnplugWakesTheSenderAndReportsTheLoss) {
    Connected c;
    ASSERT_TRUE(c.opened);
    auto result = std::async(std::launch::async, [&] {
        CommandParams params{};
        return c.comm->Dispatch(4, &params, nullptr);  // 60 s limit
    });
    ASSERT_TRUE(c.device.WaitForRequests(1));
    c.device.Unplug();
    EXPECT_EQ(result.get(), kResultStopped);
    ASSERT_TRUE(NotifyLog::WaitFor(1));
    auto log = NotifyLog::Take();
    ASSERT_EQ(log.size(), 1u);
    EXPECT_EQ(log[0].event, 255);
    EXPECT_EQ(log[0].value, 0);
    // The object is of no further use: every command ends with -7.
    CommandParams params{};
    EXPECT_EQ(c.comm->Dispatch(1, &params, nullptr), kResultTransport);
}

TEST_F(Transport, UnplugWhileDownloadingIsNotReported) {
    Connected c;
    ASSERT_TRUE(c.opened);
    c.comm->downloading.store(1);
    c.device.Unplug();
    ASSERT_TRUE(Eventually([&] { return c.comm->stopRequested.load() == 1; }));
    c.comm->downloading.store(0);
    EXPECT_TRUE(NotifyLog::Take().empty());
}

TEST_F(Transport, WriteFailureReturnsAtOnce) {
    Connected c;
    ASSERT_TRUE(c.opened);
    c.comm->downloading.store(1);  // keep the loss quiet
    c.device.Unplug();
    std::uint8_t request[8] = {0, 4, 0, 0, 0, 0, 0, 0};
    // With no write possible, the 60 s wait is never entered.
    const auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(c.comm->SendAndWait(request, 8, 60000), kResultTransport);
    EXPECT_LT(std::chrono::steady_clock::now() - start, 30s);
}

TEST_F(Transport, NotificationsReachTheCallback) {
    Connected c;
    ASSERT_TRUE(c.opened);
    c.device.SendReport({0x93, 3, 0x12, 0x34});
    c.device.SendReport({0x90, 6, 0x55});  // ignored
    c.device.SendReport({0x9A, 9, 0x66, 0x77});
    c.device.SendReport({0xB0, 1, 0x01});  // not a notification marker
    c.device.SendReport({0x90, 2, 0x88});
    ASSERT_TRUE(NotifyLog::WaitFor(3));
    std::this_thread::sleep_for(5ms);
    auto log = NotifyLog::Take();
    ASSERT_EQ(log.size(), 3u);
    EXPECT_EQ(log[0].event, 3);
    EXPECT_EQ(log[0].value, 0x1234);
    EXPECT_EQ(log[1].event, 9);
    EXPECT_EQ(log[1].value, 0x66);
    EXPECT_EQ(log[2].event, 2);
    EXPECT_EQ(log[2].value, 0x88);
    EXPECT_EQ(c.comm->notifyBuffer[0], 2);
}

TEST_F(Transport, EventFourAnswersTheWaitingRequest) {
    Connected c;
    ASSERT_TRUE(c.opened);
    c.device.SetScript([](FakeDevice& d, const Bytes&) {
        // Data bytes: 04 06 00 00 00 00 10 00 - kind 4 reads as a mismatch.
        d.SendReport({0x94, 4, 6, 0, 0, 0, 0, 16, 0});
    });
    CommandParams params{};
    params.b[0] = 3;
    CommandParams before = params;
    EXPECT_EQ(c.comm->Dispatch(6, &params, nullptr), kResultHeaderMismatch);
    EXPECT_EQ(std::memcmp(&before, &params, sizeof params), 0);

    c.device.SetScript([](FakeDevice& d, const Bytes&) {
        d.SendReport({0x94, 4, 6, 0, 0, 19, 0x31, 16, 0});  // status comes first
    });
    StatusPair pair;
    EXPECT_EQ(c.comm->Dispatch(6, &params, &pair), kResultDeviceStatus);
    EXPECT_EQ(pair.status, 19);
    EXPECT_EQ(pair.detail, 0x31);
}

struct StreamLog {
    static inline std::mutex mutex;
    static inline int kind = -1;
    static inline int count = -1;
    static inline Bytes data;
    static void Callback(int k, const std::uint8_t* d, int n) {
        std::lock_guard<std::mutex> lock(mutex);
        kind = k;
        count = n;
        data.assign(d, d + n);  // N - 1 data bytes and the terminator
    }
};

TEST_F(Transport, DataStreamReachesItsCallback) {
    Connected c(16);
    ASSERT_TRUE(c.opened);
    c.comm->streamCallback = &StreamLog::Callback;
    // N = 20: kind 9 and 19 data bytes, over three 16-byte reports.
    Bytes stream = {20, 0, 9};
    for (int i = 0; i < 19; ++i) {
        stream.push_back(static_cast<std::uint8_t>('A' + i));
    }
    Bytes r1 = {0xA0};
    r1.insert(r1.end(), stream.begin(), stream.begin() + 15);
    Bytes r2 = {0xA1};
    r2.insert(r2.end(), stream.begin() + 15, stream.end());
    r2.resize(16, 0xEE);
    c.device.SendReport(r1);
    c.device.SendReport({0xA2, 0xEE, 0xEE});  // completes early: the rest is what the buffer holds
    c.device.SendReport({0x90, 1, 0});
    ASSERT_TRUE(NotifyLog::WaitFor(1));
    {
        std::lock_guard<std::mutex> lock(StreamLog::mutex);
        EXPECT_EQ(StreamLog::kind, 9);
        EXPECT_EQ(StreamLog::count, 20);
        EXPECT_EQ(StreamLog::data[0], 'A');
        EXPECT_EQ(StreamLog::data[11], 'L');
        EXPECT_EQ(StreamLog::data[12], 0xEE);
        EXPECT_EQ(StreamLog::data[19], 0) << "terminator after the N counted bytes";
    }
    c.device.SendReport(r1);
    c.device.SendReport(r2);
    Bytes r3 = {0xA2};
    c.device.SendReport(r3);
    c.device.SendReport({0x90, 1, 0});
    ASSERT_TRUE(NotifyLog::WaitFor(2));
    std::lock_guard<std::mutex> lock(StreamLog::mutex);
    EXPECT_EQ(StreamLog::data[18], 'S');
}

TEST_F(Transport, NormalModeReports) {
    Connected c(16);
    ASSERT_TRUE(c.opened);
    c.device.AnswerEcho(16);
    // 15 bytes fit one 16-byte report exactly.
    Bytes message = {0, 9, 9, 0, 0, 0, 7, 0, 1, 2, 3, 4, 5, 6, 7};
    EXPECT_EQ(c.comm->SendAndWait(message.data(), 15, 5000), kResultOk);
    auto reports = c.device.Reports();
    ASSERT_EQ(reports.size(), 1u);
    EXPECT_EQ(reports[0][0], 0x80);
    EXPECT_TRUE(std::equal(message.begin(), message.end(), reports[0].begin() + 1));
    // A 24-byte response takes 0x83 and 0x85 (16 > R - 9).
    EXPECT_EQ(c.comm->responseBuffer[6], 16);
}

}  // namespace
}  // namespace talvo::test
