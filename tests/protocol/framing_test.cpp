// Segmentation of requests and reassembly of what the device sends, driven
// report by report without threads.
#include <gtest/gtest.h>

#include <vector>

#include "protocol/framing.h"

namespace talvo {
namespace {

using Bytes = std::vector<std::uint8_t>;

Bytes Counting(std::size_t n, std::uint8_t start = 1) {
    Bytes b(n);
    for (std::size_t i = 0; i < n; ++i) {
        b[i] = static_cast<std::uint8_t>(start + i);
    }
    return b;
}

std::vector<Bytes> Segments(const Bytes& message, int r) {
    std::vector<Bytes> out;
    std::uint8_t report[kMaxReportLength];
    std::memset(report, 0xEE, sizeof report);
    EXPECT_TRUE(
        WriteSegments(message.data(), message.size(), r, report, [&](const std::uint8_t* rep) {
            out.emplace_back(rep, rep + r);
            return true;
        }));
    return out;
}

// The report a segment should be: marker, the given message bytes, zeros.
Bytes Expected(std::uint8_t marker, const Bytes& message, std::size_t from, std::size_t count,
               int r) {
    Bytes rep(static_cast<std::size_t>(r), 0);
    rep[0] = marker;
    std::copy(message.begin() + static_cast<std::ptrdiff_t>(from),
              message.begin() + static_cast<std::ptrdiff_t>(from + count), rep.begin() + 1);
    return rep;
}

TEST(Segmentation, LayoutsAroundThePayloadSize) {
    for (int r : {16, 64}) {
        const std::size_t p = static_cast<std::size_t>(r) - 1;
        SCOPED_TRACE(r);
        // Exactly P: one first report, no fill.
        Bytes m = Counting(p);
        auto s = Segments(m, r);
        ASSERT_EQ(s.size(), 1u);
        EXPECT_EQ(s[0], Expected(0x80, m, 0, p, r));

        // P + 1: first, then last with one byte and P - 1 zeros.
        m = Counting(p + 1);
        s = Segments(m, r);
        ASSERT_EQ(s.size(), 2u);
        EXPECT_EQ(s[0], Expected(0x80, m, 0, p, r));
        EXPECT_EQ(s[1], Expected(0x82, m, p, 1, r));

        // 2P: first and last, no middle report.
        m = Counting(2 * p);
        s = Segments(m, r);
        ASSERT_EQ(s.size(), 2u);
        EXPECT_EQ(s[0], Expected(0x80, m, 0, p, r));
        EXPECT_EQ(s[1], Expected(0x82, m, p, p, r));

        // 3P: first, middle, last.
        m = Counting(3 * p);
        s = Segments(m, r);
        ASSERT_EQ(s.size(), 3u);
        EXPECT_EQ(s[0], Expected(0x80, m, 0, p, r));
        EXPECT_EQ(s[1], Expected(0x81, m, p, p, r));
        EXPECT_EQ(s[2], Expected(0x82, m, 2 * p, p, r));

        // 3P + 2: two middles, short last.
        m = Counting(3 * p + 2);
        s = Segments(m, r);
        ASSERT_EQ(s.size(), 4u);
        EXPECT_EQ(s[1][0], 0x81);
        EXPECT_EQ(s[2][0], 0x81);
        EXPECT_EQ(s[3], Expected(0x82, m, 3 * p, 2, r));
    }
}

TEST(Segmentation, RequestsOverUpdateModeReports) {
    // 8-byte request: one report, 8 bytes, 55 zeros.
    Bytes m = {0x02, 0x06, 0x00, 0x03, 0, 0, 0, 0};
    auto s = Segments(m, 64);
    ASSERT_EQ(s.size(), 1u);
    EXPECT_EQ(s[0], Expected(0x80, m, 0, 8, 64));

    // 100 bytes: 0x80 with bytes 0-62, 0x82 with 63-99 and 26 zeros.
    m = Counting(100);
    s = Segments(m, 64);
    ASSERT_EQ(s.size(), 2u);
    EXPECT_EQ(s[0], Expected(0x80, m, 0, 63, 64));
    EXPECT_EQ(s[1], Expected(0x82, m, 63, 37, 64));
    EXPECT_EQ(std::count(s[1].begin() + 38, s[1].end(), 0), 26);

    // A full firmware piece request: 10,254 bytes in 163 reports.
    EXPECT_EQ(Segments(Counting(10254), 64).size(), 163u);
    EXPECT_EQ(SegmentCount(10254, 63), 163u);
}

TEST(Segmentation, StopsAtTheFirstFailedWrite) {
    Bytes m = Counting(200);
    std::uint8_t report[kMaxReportLength];
    int calls = 0;
    EXPECT_FALSE(WriteSegments(m.data(), m.size(), 64, report, [&](const std::uint8_t*) {
        ++calls;
        return calls < 2;
    }));
    EXPECT_EQ(calls, 2);
}

class Assembly : public ::testing::Test {
  protected:
    void Make(int r) {
        r_ = r;
        assembler_ =
            std::make_unique<ReceiveAssembler>(r, response_.data(), stream_.data(), notify_.data());
    }
    ReceiveOutcome Feed(std::uint8_t marker, const Bytes& data) {
        Bytes rep(static_cast<std::size_t>(r_), 0);
        rep[0] = marker;
        std::copy(data.begin(),
                  data.begin() +
                      std::min<std::ptrdiff_t>(static_cast<std::ptrdiff_t>(data.size()), r_ - 1),
                  rep.begin() + 1);
        return assembler_->Feed(rep.data());
    }
    // Response header declaring `length` payload bytes, then filler.
    static Bytes Header(std::uint16_t length, std::uint8_t kind = 3) {
        Bytes h = {kind,
                   6,
                   0,
                   0,
                   0,
                   0,
                   static_cast<std::uint8_t>(length),
                   static_cast<std::uint8_t>(length >> 8)};
        return h;
    }

    int r_ = 64;
    std::vector<std::uint8_t> response_ = std::vector<std::uint8_t>(kResponseBufferSize, 0);
    std::vector<std::uint8_t> stream_ = std::vector<std::uint8_t>(kStreamBufferSize, 0);
    std::vector<std::uint8_t> notify_ = std::vector<std::uint8_t>(kNotifyBufferSize, 0);
    std::unique_ptr<ReceiveAssembler> assembler_;
};

TEST_F(Assembly, PositionLimitIsTheSmallestMultipleAbove65536) {
    Make(64);
    EXPECT_EQ(assembler_->PositionLimit(), 65583u);
    Make(16);
    EXPECT_EQ(assembler_->PositionLimit(), 65550u);
}

TEST_F(Assembly, ResponseCompletesOnItsFirstOrLastSegment) {
    Make(64);
    // length 55 = R - 9 fits the first report.
    EXPECT_TRUE(Feed(0x83, Header(55)).responseReady);
    // length 56 = R - 8 needs a following last segment.
    EXPECT_FALSE(Feed(0x83, Header(56)).responseReady);
    EXPECT_TRUE(Feed(0x85, Counting(63)).responseReady);

    // 84-byte message (length 76): 0x83 with bytes 0-62, not complete; 0x85
    // with bytes 63-125 completes it.
    Bytes message = Header(76);
    Bytes payload = Counting(76, 0x10);
    message.insert(message.end(), payload.begin(), payload.end());
    EXPECT_FALSE(Feed(0x83, Bytes(message.begin(), message.begin() + 63)).responseReady);
    EXPECT_TRUE(assembler_->ResponseInProgress());
    EXPECT_FALSE(Feed(0x84, Bytes(message.begin() + 63, message.end())).responseReady)
        << "a middle segment never completes";
    // Start again for the two-report form.
    EXPECT_FALSE(Feed(0x83, Bytes(message.begin(), message.begin() + 63)).responseReady);
    EXPECT_TRUE(Feed(0x85, Bytes(message.begin() + 63, message.end())).responseReady);
    EXPECT_TRUE(std::equal(message.begin(), message.end(), response_.begin()));
    EXPECT_EQ(assembler_->ResponsePosition(), 126u);
}

TEST_F(Assembly, SegmentsWithoutAFirstAreDroppedAndAFirstRestarts) {
    Make(16);
    EXPECT_FALSE(Feed(0x84, Counting(15)).responseReady);
    EXPECT_FALSE(Feed(0x85, Counting(15)).responseReady);
    EXPECT_FALSE(assembler_->ResponseInProgress());
    EXPECT_EQ(response_[0], 0) << "a stray segment must not touch the buffer";

    // Out of order: last before first is dropped; the first then waits.
    EXPECT_FALSE(Feed(0x85, Counting(15, 0x40)).responseReady);
    EXPECT_FALSE(Feed(0x83, Header(20)).responseReady);
    // A second first segment restarts at offset 0.
    Bytes second = Header(10, 1);
    second.push_back(0x77);
    EXPECT_FALSE(Feed(0x83, second).responseReady);
    EXPECT_EQ(response_[0], 1);
    EXPECT_EQ(assembler_->ResponsePosition(), 15u);
    EXPECT_TRUE(Feed(0x85, Counting(15, 0x50)).responseReady);
    EXPECT_EQ(response_[8], 0x77);
    EXPECT_EQ(response_[15], 0x50);

    // After completion, a last segment alone is dropped again.
    EXPECT_FALSE(Feed(0x85, Counting(15)).responseReady);
    // Request markers and 0x86..0x8F are ignored.
    EXPECT_FALSE(Feed(0x80, Header(0)).responseReady);
    EXPECT_FALSE(Feed(0x8F, Header(0)).responseReady);
}

TEST_F(Assembly, OverlongRunIsDroppedBeforeTheBufferEnds) {
    Make(64);
    EXPECT_FALSE(Feed(0x83, Header(0xFFFF)).responseReady);
    // 65,543 bytes need 1,041 reports; keep going far past that.
    std::size_t middles = 0;
    while (assembler_->ResponseInProgress()) {
        EXPECT_FALSE(Feed(0x84, Counting(63)).responseReady);
        ++middles;
        ASSERT_LT(middles, 5000u);
    }
    // Dropped once the position passed M = 65,583 (1,041 reports = 65,583
    // is still allowed, the next one is not).
    EXPECT_EQ(middles, 1041u);
    EXPECT_EQ(assembler_->ResponsePosition(), 0u);
    EXPECT_FALSE(Feed(0x85, Counting(63)).responseReady) << "the run is gone";

    // The largest message still fits: first + 1,039 middles + last.
    EXPECT_FALSE(Feed(0x83, Header(0xFFFF)).responseReady);
    for (int i = 0; i < 1039; ++i) {
        Feed(0x84, Counting(63));
    }
    EXPECT_TRUE(Feed(0x85, Counting(63)).responseReady);
}

TEST_F(Assembly, Notifications) {
    Make(16);
    ReceiveOutcome o = Feed(0x90, {3, 0x12, 0x34});
    EXPECT_TRUE(o.notify);
    EXPECT_EQ(o.event, 3);
    EXPECT_EQ(o.value, 0x1234) << "event 3 carries a big-endian value";
    EXPECT_EQ(notify_[0], 3);
    EXPECT_EQ(notify_[2], 0x34);

    for (int code : {1, 2, 5, 7, 8, 9}) {
        o = Feed(0x9F, {static_cast<std::uint8_t>(code), 0xAB, 0xCD});
        EXPECT_TRUE(o.notify) << code;
        EXPECT_EQ(o.event, code);
        EXPECT_EQ(o.value, 0xAB) << "one byte only";
    }
    for (int code : {0, 6, 10, 200, 255}) {
        o = Feed(0x95, {static_cast<std::uint8_t>(code), 1, 2});
        EXPECT_FALSE(o.notify) << code;
        EXPECT_FALSE(o.responseReady);
    }
}

TEST_F(Assembly, EventFourIsAOneReportResponse) {
    Make(64);
    // A response in progress is not disturbed by it.
    EXPECT_FALSE(Feed(0x83, Header(100)).responseReady);
    ReceiveOutcome o = Feed(0x94, {4, 6, 0, 0, 0, 0, 0, 0});
    EXPECT_TRUE(o.responseReady);
    EXPECT_FALSE(o.notify);
    EXPECT_EQ(response_[0], 4) << "its data bytes are the message, kind 4";
    EXPECT_TRUE(assembler_->ResponseInProgress());
    EXPECT_EQ(assembler_->ResponsePosition(), 63u);
}

TEST_F(Assembly, DataStreams) {
    Make(16);
    // N = 5: kind 7 and four data bytes, all in one report (R - 3 >= N).
    ReceiveOutcome o = Feed(0xA0, {5, 0, 7, 'a', 'b', 'c', 'd', 0xEE, 0xEE});
    ASSERT_TRUE(o.stream);
    EXPECT_EQ(o.streamKind, 7);
    EXPECT_EQ(o.streamCount, 5);
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(o.streamData)), "abcd")
        << "a zero byte follows the counted bytes";

    // N = 14 needs more than one report.
    o = Feed(0xA0, {14, 0, 2, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12});
    EXPECT_FALSE(o.stream);
    o = Feed(0xA1, Counting(15, 13));
    EXPECT_FALSE(o.stream) << "a middle segment never completes";
    o = Feed(0xA2, Counting(15, 28));
    ASSERT_TRUE(o.stream);
    EXPECT_EQ(o.streamKind, 2);
    EXPECT_EQ(o.streamCount, 14);
    EXPECT_EQ(o.streamData[12], 13);
    EXPECT_EQ(o.streamData[13], 0);

    // Without a first segment nothing happens; 0xA3..0xAF are ignored.
    EXPECT_FALSE(Feed(0xA2, Counting(15)).stream);
    EXPECT_FALSE(Feed(0xA5, {1, 0, 1}).stream);
    // Streams and responses are independent.
    EXPECT_FALSE(Feed(0xA0, {40, 0, 1}).stream);
    EXPECT_TRUE(Feed(0x83, Header(0)).responseReady);
    EXPECT_TRUE(Feed(0xA2, Counting(15)).stream);
}

TEST_F(Assembly, OverlongStreamIsDropped) {
    Make(64);
    Feed(0xA0, {0xFF, 0xFF, 1});
    int middles = 0;
    while (assembler_->StreamInProgress()) {
        EXPECT_FALSE(Feed(0xA1, Counting(63)).stream);
        ASSERT_LT(++middles, 5000);
    }
    EXPECT_EQ(middles, 1041);
    EXPECT_FALSE(Feed(0xA2, Counting(63)).stream);
}

}  // namespace
}  // namespace talvo
