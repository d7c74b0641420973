// The command catalogue, checked against a transcription of its own in this
// file: for every key, the request bytes that reach the device, the time
// limit the sender waits, the results copied from a response made for that
// row, and the refusal of responses with a wrong length, kind, command or
// group. The transcription uses the catalogue's notation (bN, bN-M, pN, n,
// buf(bN)) and is parsed here, independently of the production table; the
// answer lengths are the device's, from the emulator's own table, and every
// key is also sent to the emulated TALVO, so the two tables check each other.
#include <gtest/gtest.h>

#include <cstdlib>
#include <mutex>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "base/clock.h"
#include "emulator/command_catalogue.h"
#include "emulator/emulated_talvo.h"
#include "hid/talvo_ids.h"
#include "tests/protocol/fake_device.h"

namespace talvo::test {
namespace {

struct Transcribed {
    int key;
    const char* head;     // kind group command value selector
    const char* request;  // request payload, "-" for none
    std::uint32_t limit;  // ms
    const char* results;  // "-" for none
};

// clang-format off
const Transcribed kCatalogue[] = {
    { 0, "get 0 0 b0 b80",   "b1-2 b3",                       5000, "b4-5<p0-1 b6<p2"},
    { 1, "set 0 1 b0 b80",   "-",                             5000, "-"},
    { 2, "get 0 1 0 b80",    "-",                             5000, "b0<value"},
    { 3, "set 0 3 0 b80",    "-",                             5000, "-"},
    { 4, "set 0 4 b0 b80",   "-",                            60000, "-"},
    { 5, "get 0 5 0 b80",    "-",                             5000, "b0-39<p0-39 b40<0 b41-44<p40-43 b45<0 b46-61<p44-59 b62<0 b63-78<p60-75 b79<0"},
    { 6, "get 0 6 b0 b80",   "-",                             5000, "b4-19<p0-15 b20<0"},
    { 7, "get 0 7 0 b80",    "-",                             5000, "b0-3<p0-3 b4-7<p4-7"},
    { 8, "get 0 9 b0 b80",   "-",                             5000, "b1<p0"},
    { 9, "set 0 10 b0 b80",  "-",                             5000, "-"},
    {10, "get 0 10 0 b80",   "-",                             5000, "b0<value"},
    {11, "set 0 12 b0 b80",  "b1",                            5000, "-"},
    {12, "set 0 13 b0 b80",  "-",                             5000, "-"},
    {13, "get 0 13 0 b80",   "-",                             5000, "b0<value"},
    {14, "set 0 15 0 b80",   "b0-3",                          5000, "-"},
    {15, "get 0 15 0 b80",   "-",                             5000, "b0-3<p0-3"},
    {16, "set 0 17 b0 b80",  "-",                             5000, "-"},
    {17, "get 0 17 0 b80",   "-",                             5000, "b0<value"},
    {18, "set 0 19 b0 b80",  "b1",                            5000, "-"},
    {19, "get 0 19 b0 b80",  "-",                             5000, "b1<p0"},
    {20, "set 0 21 b0 b80",  "-",                             5000, "-"},
    {21, "get 0 21 0 b80",   "-",                             5000, "b0<value"},
    {22, "set 0 23 0 b80",   "b0-1",                          5000, "-"},
    {23, "get 0 23 0 b80",   "-",                             5000, "b0-1<p0-1"},
    {24, "set 0 25 0 b80",   "-",                             5000, "-"},
    {25, "set 0 28 0 b80",   "b0-19",                         5000, "-"},
    {26, "get 0 28 0 b80",   "-",                             5000, "b0-19<p0-19 b20<0"},
    {28, "get 0 48 0 b80",   "-",                             5000, "b0<value"},
    {29, "set 0 54 b0 b80",  "b2-3",                          5000, "-"},
    {30, "get 0 54 0 b80",   "-",                             5000, "b0<value b2-3<p0-1"},
    {31, "set 1 0 0 b80",    "-",                             5000, "-"},
    {32, "set 1 3 b0 b80",   "b2-3",                          5000, "-"},
    {33, "get 1 3 b0 b80",   "-",                             5000, "b2-3<p0-1"},
    {34, "set 1 4 b0 b80",   "b1",                            5000, "-"},
    {35, "get 1 4 b0 b80",   "-",                             5000, "b1<p0"},
    {36, "set 1 14 b0 b80",  "-",                             5000, "-"},
    {37, "get 1 14 0 b80",   "-",                             5000, "b0<value"},
    {38, "set 1 15 b0 b80",  "-",                             5000, "-"},
    {39, "get 1 15 0 b80",   "-",                             5000, "b0<value"},
    {40, "set 1 17 b0 b80",  "-",                             5000, "-"},
    {41, "get 1 17 0 b80",   "-",                             5000, "b0<value"},
    {42, "set 1 20 b0 0",    "-",                             5000, "-"},
    {43, "get 1 20 0 b80",   "-",                             5000, "b0<value"},
    {44, "set 1 48 b0 b80",  "-",                             5000, "-"},
    {45, "get 1 48 0 b80",   "-",                             5000, "b0<value"},
    {46, "set 1 49 0 b80",   "b0-1",                          5000, "-"},
    {47, "get 1 49 0 b80",   "-",                             5000, "b0-1<p0-1"},
    {48, "get 3 4 b0 b80",   "-",                            30000, "buf(b4)<p0*1024"},
    {49, "get 7 0 0 b80",    "-",                             5000, "b0-27<p0-27"},
    {50, "set 7 1 0 b80",    "-",                            60000, "-"},
    {51, "set 8 0 b0 b80",   "b4-7 b8-9=n buf(b12)*n",      120000, "-"},
    {52, "get 8 0 b0 b80",   "b4-7 b8-9=n",                  30000, "buf(b12)<p6*n"},
    {53, "set 8 1 b0 b80",   "b1 b2",                         5000, "-"},
    {54, "get 8 1 b0 b80",   "b1",                            5000, "b2<p1"},
    {55, "set 8 2 b0 b80",   "b4-7 b8-9=n buf(b12)*n",      120000, "-"},
    {56, "get 8 2 b0 b80",   "b4-7 b8-9=n",                  30000, "buf(b12)<p6*n"},
    {57, "set 8 4 b0 b80",   "b4 b5 b6",                      5000, "-"},
    {58, "get 8 5 b0 0",     "-",                             5000, "b2-3<p0-1 also-on-mismatch"},
    {59, "set 8 7 0 b80",    "n=b0-1 b2..*n",                 5000, "-"},
    {60, "set 8 10 0 b80",   "b0",                            5000, "-"},
    {61, "set 8 11 b0 0",    "b1 b2=n buf(b4)*n",             5000, "-"},
    {62, "get 8 11 b0 0",    "b1 b2=n",                       5000, "b1<p0 b2<p1 buf(b4)<p2*p1"},
    {63, "get 8 12 b0 0",    "-",                             5000, "b2-5<p0-3 b6-7<p4-5"},
    {65, "set 10 0 0 b80",   "-",                             5000, "-"},
    {66, "set 10 1 b0 b80",  "b1-16",                         5000, "-"},
    {67, "get 10 1 b0 b80",  "-",                             5000, "b1-16<p0-15 b17<0"},
    {68, "set 10 3 b0 b80",  "b1 b2 b3",                      5000, "-"},
    {69, "get 10 3 b0 b80",  "b1",                            5000, "b2-3<p1-2"},
    {70, "get 10 5 0 b80",   "-",                             5000, "b0-7<p0-7 b8-9<p8-9 b11-14<p10-13 b15-16<p14-15"},
    {71, "get 10 7 0 b80",   "-",                             5000, "b0<p0"},
    {72, "set 11 0 0 b80",   "b0",                            5000, "-"},
    {73, "set 11 5 b0 b80",  "-",                            20000, "b1<p0"},
    {74, "get 14 2 0 b80",   "-",                             5000, "b0-15<p0-15 b16<0 b17-36<p16-35 b37<0"},
    {75, "set 14 3 0 0",     "-",                             5000, "-"},
    {76, "get 14 4 b0 0",    "-",                             5000, "b1-32<p0-31"},
    {77, "set 14 5 b0 0",    "b4-7 b8-9=n buf(b12)*n",        5000, "-"},
    {78, "get 14 5 b0 0",    "b4-7 b8-9=n",                   5000, "buf(b12)<p6*n"},
    {79, "set 14 6 0 0",     "b0 b1 b2=n buf(b4)*n",          5000, "-"},
    {80, "get 14 6 0 0",     "b0 b1 b2=n",                    5000, "buf(b4)<p3*n"},
    {81, "get 240 16 0 b80", "-",                             5000, "b0-31<p0-31"},
};
// clang-format on

std::vector<std::string> Words(const char* text) {
    std::istringstream in(text);
    std::vector<std::string> out;
    for (std::string w; in >> w;) {
        if (w != "-") {
            out.push_back(w);
        }
    }
    return out;
}

// "b4-7" -> {4, 4}; "b3" -> {3, 1} (also for p).
std::pair<int, int> Range(const std::string& s) {
    const std::size_t dash = s.find('-');
    const int first = std::atoi(s.c_str() + 1);
    const int last = dash == std::string::npos ? first : std::atoi(s.c_str() + dash + 1);
    return {first, last - first + 1};
}

int PointerAt(const std::string& s) {  // "buf(b12)..." -> 12
    return std::atoi(s.c_str() + 5);
}

// The test's own model of one command.
struct Model {
    int key = 0;
    std::uint8_t kind = 0, group = 0, command = 0;
    bool valueFromB0 = false, selectorFromB80 = false;
    std::uint32_t limit = 0;
    std::vector<std::string> request, results;
    bool alsoOnMismatch = false;

    explicit Model(const Transcribed& t) : key(t.key), limit(t.limit) {
        auto head = Words(t.head);
        kind = head[0] == "get" ? 2 : 0;
        group = static_cast<std::uint8_t>(std::atoi(head[1].c_str()));
        command = static_cast<std::uint8_t>(std::atoi(head[2].c_str()));
        valueFromB0 = head[3] == "b0";
        selectorFromB80 = head[4] == "b80";
        request = Words(t.request);
        for (auto& w : Words(t.results)) {
            if (w == "also-on-mismatch") {
                alsoOnMismatch = true;
            } else {
                results.push_back(w);
            }
        }
    }

    int Count(const CommandParams& p) const {
        for (const auto& w : request) {
            if (w.rfind("n=b0-1", 0) == 0) {
                return p.b[0] | (p.b[1] << 8);
            }
            const std::size_t eq = w.find("=n");
            if (eq != std::string::npos) {
                auto [first, size] = Range(w.substr(0, eq));
                return size == 1 ? p.b[first] : (p.b[first] | (p.b[first + 1] << 8));
            }
        }
        return 0;
    }

    // The answer's length as the device's own table gives it.
    std::uint16_t AnswerLength(const CommandParams& p) const {
        const CatalogueRow* row = FindCatalogueRow(kind, group, command);
        return row == nullptr
                   ? 0
                   : static_cast<std::uint16_t>(ResponseLengthFor(*row, Request(p).data() + 8));
    }

    Bytes Request(const CommandParams& p) const {
        Bytes payload;
        const int n = Count(p);
        for (const auto& w : request) {
            if (w.rfind("n=", 0) == 0) {
                continue;
            }
            if (w.rfind("buf(", 0) == 0) {
                auto* buf = static_cast<const std::uint8_t*>(LoadPointer(p, PointerAt(w)));
                payload.insert(payload.end(), buf, buf + n);
            } else if (w.find("..*n") != std::string::npos) {
                const int from = std::atoi(w.c_str() + 1);
                payload.insert(payload.end(), p.b + from, p.b + from + n);
            } else {
                auto [first, size] = Range(w.substr(0, w.find('=')));
                payload.insert(payload.end(), p.b + first, p.b + first + size);
            }
        }
        return Message(kind, command, group, valueFromB0 ? p.b[0] : 0,
                       selectorFromB80 ? p.b[80] : 0, 0, payload);
    }

    // Applies the result copies of a response to the block and buffer.
    void Apply(const Bytes& response, CommandParams& p) const {
        const std::uint8_t* payload = response.data() + 8;
        const int n = Count(p);
        for (const auto& w : results) {
            const std::size_t lt = w.find('<');
            const std::string to = w.substr(0, lt), from = w.substr(lt + 1);
            if (to.rfind("buf(", 0) == 0) {
                auto* buf = static_cast<std::uint8_t*>(LoadPointer(p, PointerAt(to)));
                const std::size_t star = from.find('*');
                const int start = std::atoi(from.c_str() + 1);
                const std::string count = from.substr(star + 1);
                int bytes = count == "n" ? n : std::atoi(count.c_str());
                if (count == "p1") {
                    bytes = std::min<int>(payload[1], n);  // never more than the buffer holds
                }
                std::copy(payload + start, payload + start + bytes, buf);
                continue;
            }
            auto [first, size] = Range(to);
            if (from == "value") {
                p.b[first] = response[3];
            } else if (from == "0") {
                p.b[first] = 0;
            } else {
                auto [src, srcSize] = Range(from);
                ASSERT_EQ(srcSize, size) << w;
                std::copy(payload + src, payload + src + size, p.b + first);
            }
        }
    }
};

// Records the time limits the sender waits with (on the test thread only;
// the 500 ms report writes are left out), while passing time 1:1.
class LimitRecorder : public IClock {
  public:
    std::uint32_t TickCount() override { return SystemClock().TickCount(); }
    void Sleep(std::uint32_t ms) override { SystemClock().Sleep(ms); }
    std::chrono::nanoseconds RealDuration(std::uint32_t ms) override {
        if (std::this_thread::get_id() == owner_ && ms != kReportWriteLimitMs) {
            std::lock_guard<std::mutex> lock(mutex_);
            last_ = ms;
            seen_.notify_all();
        }
        return SystemClock().RealDuration(ms);
    }
    // Waits (generously) until the sender has started its wait.
    void WaitSeen() {
        std::unique_lock<std::mutex> lock(mutex_);
        seen_.wait_for(lock, std::chrono::seconds(20), [this] { return last_ != 0; });
    }
    std::uint32_t TakeLast() {
        std::lock_guard<std::mutex> lock(mutex_);
        const std::uint32_t v = last_;
        last_ = 0;
        return v;
    }

  private:
    const std::thread::id owner_ = std::this_thread::get_id();
    std::mutex mutex_;
    std::condition_variable seen_;
    std::uint32_t last_ = 0;
};

enum class Flaw { kNone, kLength, kKind, kCommand, kGroup };

Bytes ResponseFor(const Bytes& request, std::uint16_t length, Flaw flaw) {
    Bytes payload(length);
    for (std::size_t i = 0; i < payload.size(); ++i) {
        payload[i] = static_cast<std::uint8_t>(0xC0 + i);
    }
    Bytes r = Message(static_cast<std::uint8_t>(request[0] + 1), request[1], request[2], 0x5A, 0,
                      0x0D, payload);
    switch (flaw) {
        case Flaw::kLength:
            r.push_back(0);
            r[6] = static_cast<std::uint8_t>(length + 1);
            r[7] = static_cast<std::uint8_t>((length + 1) >> 8);
            break;
        case Flaw::kKind:
            r[0] = request[0];  // the request's own kind, not kind + 1
            break;
        case Flaw::kCommand:
            r[1] = static_cast<std::uint8_t>(r[1] + 1);
            break;
        case Flaw::kGroup:
            r[2] = static_cast<std::uint8_t>(r[2] ^ 0x40);
            break;
        case Flaw::kNone:
            break;
    }
    return r;
}

class Catalogue : public ::testing::Test {
  protected:
    void SetUp() override {
        ASSERT_TRUE(c.opened);
        c.device.SetScript([this](FakeDevice& d, const Bytes& request) {
            if (beforeAnswer) {
                beforeAnswer();
            }
            std::lock_guard<std::mutex> lock(mutex_);
            d.SendResponse(ResponseFor(request, answerLength_, flaw_));
        });
    }

    void Answer(std::uint16_t length, Flaw flaw) {
        std::lock_guard<std::mutex> lock(mutex_);
        answerLength_ = length;
        flaw_ = flaw;
    }

    // A block filled with a pattern, n = 5 where the row has a count, and
    // the row's buffer pointer set.
    CommandParams BlockFor(const Model& m) {
        CommandParams p{};
        for (int i = 0; i < 84; ++i) {
            p.b[i] = static_cast<std::uint8_t>(0x30 + i);
        }
        for (const auto& w : m.request) {
            if (w.rfind("n=b0-1", 0) == 0) {
                p.b[0] = 5;
                p.b[1] = 0;
            } else if (w.find("=n") != std::string::npos) {
                auto [first, size] = Range(w.substr(0, w.find('=')));
                p.b[first] = 5;
                if (size == 2) {
                    p.b[first + 1] = 0;
                }
            }
        }
        for (auto& b : buffer) {
            b = static_cast<std::uint8_t>(&b - buffer.data());
        }
        for (const auto& w : m.request) {
            if (w.rfind("buf(", 0) == 0) {
                StorePointer(p, PointerAt(w), buffer.data());
            }
        }
        for (const auto& w : m.results) {
            if (w.rfind("buf(", 0) == 0) {
                StorePointer(p, PointerAt(w), buffer.data());
            }
        }
        return p;
    }

    // Runs on the device thread before each answer.
    std::function<void()> beforeAnswer;
    Connected c;
    std::vector<std::uint8_t> buffer = std::vector<std::uint8_t>(2048);
    std::mutex mutex_;
    std::uint16_t answerLength_ = 0;
    Flaw flaw_ = Flaw::kNone;
};

TEST_F(Catalogue, TranscriptionCoversEveryPatternKey) {
    std::vector<int> keys;
    for (const auto& t : kCatalogue) {
        keys.push_back(t.key);
    }
    ASSERT_EQ(keys.size(), 80u);
    int expected = 0;
    for (int k : keys) {
        while (expected == 27 || expected == 64) {
            ++expected;
        }
        EXPECT_EQ(k, expected);
        ++expected;
    }
}

TEST_F(Catalogue, EveryRowSendsItsRequestAndCopiesItsResults) {
    // Static, like every clock a test installs: the device thread may still be
    // inside a call on it just after the scope restores the system clock.
    static LimitRecorder recorder;
    ScopedClock scoped(recorder);
    beforeAnswer = [] { recorder.WaitSeen(); };
    std::size_t sent = 0;
    for (const auto& t : kCatalogue) {
        const Model m(t);
        SCOPED_TRACE("key " + std::to_string(m.key));
        CommandParams params = BlockFor(m);
        const Bytes expectedRequest = m.Request(params);
        const std::uint16_t answerLength = m.AnswerLength(params);
        Answer(answerLength, Flaw::kNone);

        CommandParams expectedBlock = params;
        std::vector<std::uint8_t> bufferBefore = buffer;
        StatusPair pair{-1, -1};
        ASSERT_EQ(c.comm->Dispatch(m.key, &params, &pair), kResultOk);
        ++sent;
        EXPECT_EQ(recorder.TakeLast(), m.limit) << "time limit";
        ASSERT_EQ(c.device.Requests().size(), sent);
        EXPECT_EQ(c.device.Requests().back(), expectedRequest);
        EXPECT_EQ(pair.status, 0);
        EXPECT_EQ(pair.detail, 0x0D);

        // What the response should have done, according to the model.
        const Bytes response = ResponseFor(expectedRequest, answerLength, Flaw::kNone);
        std::vector<std::uint8_t> expectedBuffer = bufferBefore;
        {
            // Apply writes into the buffer the block points at: let it
            // write into a copy, then compare.
            CommandParams model = expectedBlock;
            std::vector<std::uint8_t> live = buffer;
            buffer = bufferBefore;
            m.Apply(response, model);
            expectedBuffer = buffer;
            buffer = live;
            expectedBlock = model;
        }
        EXPECT_EQ(std::memcmp(params.b, expectedBlock.b, 84), 0);
        EXPECT_EQ(buffer, expectedBuffer);
    }
    beforeAnswer = nullptr;
}

TEST_F(Catalogue, EveryRowRefusesAForeignResponse) {
    std::size_t sent = 0;
    for (const auto& t : kCatalogue) {
        const Model m(t);
        for (Flaw flaw : {Flaw::kLength, Flaw::kKind, Flaw::kCommand, Flaw::kGroup}) {
            SCOPED_TRACE("key " + std::to_string(m.key) + " flaw " +
                         std::to_string(static_cast<int>(flaw)));
            CommandParams params = BlockFor(m);
            const std::uint16_t answerLength = m.AnswerLength(params);
            Answer(answerLength, flaw);
            CommandParams expected = params;
            const std::vector<std::uint8_t> bufferBefore = buffer;
            if (m.alsoOnMismatch) {
                // Key 58 copies its two bytes whatever the header says.
                const Bytes response = ResponseFor(m.Request(params), answerLength, Flaw::kNone);
                m.Apply(response, expected);
            }
            StatusPair pair{-1, -1};
            ASSERT_EQ(c.comm->Dispatch(m.key, &params, &pair), kResultHeaderMismatch);
            ++sent;
            ASSERT_EQ(c.device.Requests().size(), sent);
            EXPECT_EQ(std::memcmp(params.b, expected.b, 84), 0);
            EXPECT_EQ(buffer, bufferBefore);
            EXPECT_EQ(pair.status, 0);
            EXPECT_EQ(pair.detail, 0x0D);
        }
    }
}

TEST_F(Catalogue, EveryRowNeedsItsBlockAndPassesDeviceErrorsOn) {
    c.device.SetScript([](FakeDevice& d, const Bytes& request) {
        d.SendResponse(Message(request[0] + 1, request[1], request[2], 0, 19, 0x44, {}));
    });
    std::size_t sent = 0;
    for (const auto& t : kCatalogue) {
        const Model m(t);
        SCOPED_TRACE("key " + std::to_string(m.key));
        StatusPair pair{-1, -1};
        EXPECT_EQ(c.comm->Dispatch(m.key, nullptr, &pair), kResultBadParams);
        EXPECT_EQ(c.device.Requests().size(), sent) << "nothing is sent without a block";

        CommandParams params = BlockFor(m);
        const CommandParams before = params;
        const std::vector<std::uint8_t> bufferBefore = buffer;
        EXPECT_EQ(c.comm->Dispatch(m.key, &params, &pair), kResultDeviceStatus);
        ++sent;
        EXPECT_EQ(pair.status, 19);
        EXPECT_EQ(pair.detail, 0x44);
        EXPECT_EQ(std::memcmp(params.b, before.b, 84), 0);
        EXPECT_EQ(buffer, bufferBefore);
    }
}

// Catches a row the device does not take as the host sends it: an unknown
// kind, group or command, a request length the device's table refuses, an
// answer length the host refuses.
TEST_F(Catalogue, EveryKeyIsTakenByTheEmulatedTalvo) {
    EmulatedBus bus;
    ScopedHidPlatform platform{bus};
    EmulatedTalvo device(bus, Scenario::Named("current"));
    ulo_CHidComm comm;
    ASSERT_TRUE(OpenComm(comm, kNormalReportLength));
    for (const auto& t : kCatalogue) {
        const Model m(t);
        if (m.key == 73) {
            continue;  // the confirmation needs an updater image first
        }
        SCOPED_TRACE("key " + std::to_string(m.key));
        CommandParams params = BlockFor(m);
        params.b[0] = 1;  // a known type code where the value is one
        StatusPair pair{-1, -1};
        EXPECT_EQ(comm.Dispatch(m.key, &params, &pair), kResultOk);
        EXPECT_EQ(pair.status, 0);
    }
    EXPECT_EQ(device.Commands().size(), 79u);
    comm.Close();
}

}  // namespace
}  // namespace talvo::test
