// The catalogue's own examples, byte for byte, and the commands whose
// arguments need guarding.
#include <gtest/gtest.h>

#include <mutex>

#include "tests/protocol/fake_device.h"

namespace talvo::test {
namespace {

class Commands : public ::testing::Test {
  protected:
    void SetUp() override {
        ASSERT_TRUE(c.opened);
        c.device.SetScript([this](FakeDevice& d, const Bytes&) {
            Bytes r;
            {
                std::lock_guard<std::mutex> lock(mutex_);
                r = reply_;
            }
            if (!r.empty()) {
                d.SendResponse(r);
            }
        });
    }
    void Reply(Bytes r) {
        std::lock_guard<std::mutex> lock(mutex_);
        reply_ = std::move(r);
    }
    Bytes LastRequest() {
        auto all = c.device.Requests();
        return all.empty() ? Bytes{} : all.back();
    }

    Connected c;
    std::mutex mutex_;
    Bytes reply_;
};

TEST_F(Commands, UnknownKeysSendNothingAndStillFillThePair) {
    c.comm->lastStatus = 12;
    c.comm->lastDetail = 34;
    CommandParams params{};
    for (int key : {27, 83, -1, 1000}) {
        StatusPair pair{0, 0};
        EXPECT_EQ(c.comm->Dispatch(key, &params, &pair), kResultNoCommand) << key;
        EXPECT_EQ(pair.status, 12);
        EXPECT_EQ(pair.detail, 34);
    }
    EXPECT_EQ(c.comm->Dispatch(27, nullptr, nullptr), kResultNoCommand);
    EXPECT_TRUE(c.device.Requests().empty());
    ulo_CHidCommBase base;
    EXPECT_EQ(base.Dispatch(1, &params, nullptr), kResultOk);
}

TEST_F(Commands, RestartRequest) {
    Reply({0x01, 0x01, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00});
    CommandParams params{};
    EXPECT_EQ(c.comm->Dispatch(1, &params, nullptr), kResultOk);
    EXPECT_EQ(LastRequest(), (Bytes{0x00, 0x01, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00}));
    // On the wire: one report, marker, 8 bytes, 55 zeros.
    auto reports = c.device.Reports();
    ASSERT_EQ(reports.size(), 1u);
    Bytes wire(64, 0);
    wire[0] = 0x80;
    wire[2] = 0x01;
    EXPECT_EQ(reports[0], wire);
}

TEST_F(Commands, VersionRead) {
    CommandParams params{};
    StoreU32(params, 0, 3);
    Bytes text = {'1', '.', '0', '7', 'a', 'b', 'c', 'd', 'e', 'f', 'g', 'h', 'i', 'j', 'k', 'l'};
    Reply(Message(3, 6, 0, 0, 0, 0, text));
    EXPECT_EQ(c.comm->Dispatch(6, &params, nullptr), kResultOk);
    EXPECT_EQ(LastRequest(), (Bytes{0x02, 0x06, 0x00, 0x03, 0x00, 0x00, 0x00, 0x00}));
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(params.b + 4)), "1.07abcdefghijkl");
    EXPECT_EQ(params.b[20], 0);

    for (std::uint16_t wrong : {15, 17}) {
        CommandParams again{};
        StoreU32(again, 0, 3);
        const CommandParams before = again;
        Reply(MessageDeclaring(3, 6, 0, 0, 0, 0, Bytes(17, 'x'), wrong));
        EXPECT_EQ(c.comm->Dispatch(6, &again, nullptr), kResultHeaderMismatch) << wrong;
        EXPECT_EQ(std::memcmp(&again, &before, sizeof again), 0);
    }
}

TEST_F(Commands, ConfirmationCommand) {
    CommandParams params{};
    params.b[0] = 1;
    Reply(Message(1, 5, 11, 0, 0, 0, {0x01}));
    EXPECT_EQ(c.comm->Dispatch(73, &params, nullptr), kResultOk);
    EXPECT_EQ(LastRequest(), (Bytes{0x00, 0x05, 0x0B, 0x01, 0x00, 0x00, 0x00, 0x00}));
    EXPECT_EQ(params.b[1], 1);
}

TEST_F(Commands, ValueResultsSendValueZero) {
    CommandParams params{};
    params.b[0] = 0x77;
    Reply(Message(3, 1, 0, 0x42, 0, 0, {}));
    EXPECT_EQ(c.comm->Dispatch(2, &params, nullptr), kResultOk);
    EXPECT_EQ(LastRequest()[3], 0) << "value 0 whatever b0 holds";
    EXPECT_EQ(params.b[0], 0x42);
}

TEST_F(Commands, OneBytePayloadAndCountedRequests) {
    // Key 69: the header with length 1, then b1.
    CommandParams params{};
    params.b[0] = 2;
    params.b[1] = 0x99;
    Reply(Message(3, 3, 10, 0, 0, 0, {0x10, 0x20, 0x30}));
    EXPECT_EQ(c.comm->Dispatch(69, &params, nullptr), kResultOk);
    EXPECT_EQ(LastRequest(), (Bytes{0x02, 0x03, 0x0A, 0x02, 0x00, 0x00, 0x01, 0x00, 0x99}));
    EXPECT_EQ(params.b[2], 0x20);
    EXPECT_EQ(params.b[3], 0x30);

    // Key 52 with n = 0: 14 bytes out, a response declaring 6, nothing copied
    // (a missing buffer is fine when no byte goes there).
    params = CommandParams{};
    StoreU32(params, 4, 0x01020304);
    Reply(Message(3, 0, 8, 0, 0, 0, Bytes(6, 0xAB)));
    EXPECT_EQ(c.comm->Dispatch(52, &params, nullptr), kResultOk);
    EXPECT_EQ(LastRequest(), (Bytes{2, 0, 8, 0, 0, 0, 6, 0, 4, 3, 2, 1, 0, 0}));

    // Key 59 with n = 0: an 8-byte request with length 0.
    params = CommandParams{};
    Reply(Message(1, 7, 8, 0, 0, 0, {}));
    EXPECT_EQ(c.comm->Dispatch(59, &params, nullptr), kResultOk);
    EXPECT_EQ(LastRequest(), (Bytes{0, 7, 8, 0, 0, 0, 0, 0}));
    // n = 82 sends b2..b83; n = 83 would read past the block and is refused.
    for (int i = 2; i < 84; ++i) {
        params.b[i] = static_cast<std::uint8_t>(i);
    }
    StoreU16(params, 0, 82);
    EXPECT_EQ(c.comm->Dispatch(59, &params, nullptr), kResultOk);
    ASSERT_EQ(LastRequest().size(), 90u);
    EXPECT_EQ(LastRequest()[89], 83);
    const std::size_t sent = c.device.Requests().size();
    StoreU16(params, 0, 83);
    EXPECT_EQ(c.comm->Dispatch(59, &params, nullptr), kResultBadParams);
    StoreU16(params, 0, 0xFFFF);
    EXPECT_EQ(c.comm->Dispatch(59, &params, nullptr), kResultBadParams);
    EXPECT_EQ(c.device.Requests().size(), sent);
}

TEST_F(Commands, CountedBlocksNeedTheirBufferAndAFittingLength) {
    Reply(Message(1, 0, 8, 0, 0, 0, {}));
    CommandParams params{};
    // n bytes from a missing buffer: refused, nothing sent.
    StoreU16(params, 8, 4);
    EXPECT_EQ(c.comm->Dispatch(51, &params, nullptr), kResultBadParams);
    // A count whose request length would not fit the 16-bit length field.
    std::vector<std::uint8_t> big(65536, 0x5C);
    StorePointer(params, params_layout::kBufferAt12, big.data());
    StoreU16(params, 8, 65530);
    EXPECT_EQ(c.comm->Dispatch(51, &params, nullptr), kResultBadParams);
    EXPECT_TRUE(c.device.Requests().empty());
    // The largest that fits: 65,529 bytes, length 65,535.
    StoreU16(params, 8, 65529);
    EXPECT_EQ(c.comm->Dispatch(51, &params, nullptr), kResultOk);
    ASSERT_EQ(c.device.Requests().size(), 1u);
    EXPECT_EQ(LastRequest().size(), 8u + 65535u);
    EXPECT_EQ(LastRequest().back(), 0x5C);

    // A get whose results go to a missing buffer: refused.
    CommandParams get{};
    EXPECT_EQ(c.comm->Dispatch(48, &get, nullptr), kResultBadParams);
}

TEST_F(Commands, CountedReadCopiesAtMostTheBuffer) {
    std::vector<std::uint8_t> buf(8, 0xEE);
    CommandParams params{};
    params.b[1] = 0x11;
    params.b[2] = 4;  // n
    StorePointer(params, params_layout::kBufferAt4, buf.data());
    // p1 = 2 < n: two bytes copied.
    Reply(Message(3, 11, 8, 0, 0, 0, {0x21, 2, 1, 2, 3, 4}));
    EXPECT_EQ(c.comm->Dispatch(62, &params, nullptr), kResultOk);
    EXPECT_EQ(LastRequest(), (Bytes{2, 11, 8, 0, 0, 0, 2, 0, 0x11, 4}));
    EXPECT_EQ(params.b[1], 0x21);
    EXPECT_EQ(params.b[2], 2);
    EXPECT_EQ(buf, (std::vector<std::uint8_t>{1, 2, 0xEE, 0xEE, 0xEE, 0xEE, 0xEE, 0xEE}));
    // p1 = 200 > n: only n bytes reach the buffer.
    params.b[2] = 4;
    std::fill(buf.begin(), buf.end(), 0xEE);
    Reply(Message(3, 11, 8, 0, 0, 0, {0x21, 200, 9, 8, 7, 6}));
    EXPECT_EQ(c.comm->Dispatch(62, &params, nullptr), kResultOk);
    EXPECT_EQ(params.b[2], 200);
    EXPECT_EQ(buf, (std::vector<std::uint8_t>{9, 8, 7, 6, 0xEE, 0xEE, 0xEE, 0xEE}));
}

TEST_F(Commands, StatusPairHandlingWithCopyOnMismatch) {
    // Key 58 answered with the wrong command: -12, b2-3 still written.
    CommandParams params{};
    params.b[2] = 0xAA;
    params.b[3] = 0xBB;
    Reply(Message(3, 6, 8, 0, 0, 9, {0x12, 0x34}));
    StatusPair pair;
    EXPECT_EQ(c.comm->Dispatch(58, &params, &pair), kResultHeaderMismatch);
    EXPECT_EQ(params.b[2], 0x12);
    EXPECT_EQ(params.b[3], 0x34);
    EXPECT_EQ(pair.status, 0);
    EXPECT_EQ(pair.detail, 9);
    EXPECT_EQ(LastRequest()[4], 0) << "key 58 sends selector 0";
}

TEST_F(Commands, FixedResultsCopyExactlyTheirBytes) {
    CommandParams params{};
    std::fill(std::begin(params.b), std::end(params.b), 0xEE);
    Bytes payload(28);
    for (int i = 0; i < 28; ++i) {
        payload[i] = static_cast<std::uint8_t>(i + 1);
    }
    Reply(Message(3, 0, 7, 0, 0, 0, payload));
    EXPECT_EQ(c.comm->Dispatch(49, &params, nullptr), kResultOk);
    EXPECT_EQ(params.b[0], 1);
    EXPECT_EQ(params.b[27], 28);
    EXPECT_EQ(params.b[28], 0xEE);
}

class PassThrough : public Commands {
  protected:
    CommandParams Block(std::vector<std::uint8_t>& buffer, std::uint32_t length) {
        CommandParams p{};
        StorePointer(p, params_layout::kPassThroughBuffer, buffer.data());
        StoreU32(p, params_layout::kPassThroughLength, length);
        return p;
    }
};

TEST_F(PassThrough, LimitsOfTheMessageSize) {
    Reply(Message(1, 2, 3, 0, 0, 0, {}));
    std::vector<std::uint8_t> buffer(65544, 0);
    buffer[0] = 0;
    buffer[1] = 2;
    buffer[2] = 3;
    buffer[6] = 0xFF;
    buffer[7] = 0xFF;
    CommandParams p = Block(buffer, 65544);
    EXPECT_EQ(c.comm->Dispatch(82, &p, nullptr), kResultBadParams);
    EXPECT_TRUE(c.device.Requests().empty());
    EXPECT_EQ(c.comm->Dispatch(82, nullptr, nullptr), kResultBadParams);
    p = Block(buffer, 65543);
    EXPECT_EQ(c.comm->Dispatch(82, &p, nullptr), kResultOk);
    ASSERT_EQ(c.device.Requests().size(), 1u);
    EXPECT_EQ(LastRequest().size(), 65543u);
    // The copied-back response: 8 bytes, the smaller of that and L.
    EXPECT_EQ(buffer[0], 1);
    EXPECT_EQ(buffer[6], 0);
}

TEST_F(PassThrough, CopiesBackTheSmallerOfResponseAndBuffer) {
    Bytes payload(100);
    for (int i = 0; i < 100; ++i) {
        payload[i] = static_cast<std::uint8_t>(i);
    }
    Reply(Message(3, 0x21, 0x42, 7, 0, 0, payload));
    for (std::uint32_t size : {50u, 200u}) {
        SCOPED_TRACE(size);
        std::vector<std::uint8_t> buffer(size + 16, 0xEE);
        const Bytes message = {2, 0x21, 0x42, 7, 0, 0, 3, 0, 9, 9, 9};
        std::copy(message.begin(), message.end(), buffer.begin());
        CommandParams p = Block(buffer, size);
        EXPECT_EQ(c.comm->Dispatch(82, &p, nullptr), kResultOk);
        EXPECT_EQ(LastRequest(), message) << "sent by its own header";
        const std::size_t copied = size == 50 ? 50 : 108;
        EXPECT_EQ(buffer[0], 3);
        EXPECT_EQ(buffer[copied - 1], copied == 50 ? 41 : 99);
        EXPECT_EQ(buffer[copied], 0xEE) << "nothing past " << copied;
    }
}

TEST_F(PassThrough, RefusesABufferThatDoesNotHoldTheMessage) {
    Reply(Message(1, 0, 0, 0, 0, 0, {}));
    std::vector<std::uint8_t> buffer(64, 0);
    buffer[6] = 10;  // 18-byte message
    CommandParams p = Block(buffer, 17);
    EXPECT_EQ(c.comm->Dispatch(82, &p, nullptr), kResultBadParams);
    p = Block(buffer, 7);
    EXPECT_EQ(c.comm->Dispatch(82, &p, nullptr), kResultBadParams);
    CommandParams none{};
    StoreU32(none, params_layout::kPassThroughLength, 8);
    EXPECT_EQ(c.comm->Dispatch(82, &none, nullptr), kResultBadParams);
    EXPECT_TRUE(c.device.Requests().empty());
    p = Block(buffer, 18);
    EXPECT_EQ(c.comm->Dispatch(82, &p, nullptr), kResultOk);
}

TEST_F(PassThrough, DeviceErrorLeavesTheBufferAsItWas) {
    Reply(Message(1, 0, 0, 0, 0x13, 0x02, {1, 2, 3}));
    std::vector<std::uint8_t> buffer(32, 0);
    buffer[1] = 5;
    CommandParams p = Block(buffer, 32);
    const auto before = buffer;
    StatusPair pair;
    EXPECT_EQ(c.comm->Dispatch(82, &p, &pair), kResultDeviceStatus);
    EXPECT_EQ(buffer, before);
    EXPECT_EQ(pair.status, 0x13);
    EXPECT_EQ(pair.detail, 0x02);
}

}  // namespace
}  // namespace talvo::test
