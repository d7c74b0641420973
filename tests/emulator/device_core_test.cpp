// The device core, report by report: golden requests and answers, strict
// framing, the command catalogue, the update group with its flash
// invariant, and each fault at the point it is asked for.
#include <gtest/gtest.h>

#include "emulator/command_catalogue.h"
#include "emulator/device_core.h"
#include "emulator/device_framing.h"
#include "emulator/device_image.h"
#include "emulator/identities.h"
#include "tests/emulator/scripted_host.h"
#include "tests/emulator/test_image.h"

namespace talvo {
namespace {

using test::Bytes;
using test::CoreHost;
using test::Request;

class CoreTest : public ::testing::Test {
  protected:
    explicit CoreTest(DeviceConfig config = {})
        : core_(config, trace_),
          normal_(core_, TalvoDeviceLink(TalvoMode::kNormal)),
          update_(core_, TalvoDeviceLink(TalvoMode::kUpdate)) {}

    // Sends a whole image in 10,240-byte pieces, each followed by FU_WRITEFW;
    // returns the status of the first failing answer (0 when all passed).
    std::uint8_t Download(const Bytes& image, std::uint8_t typeCode) {
        auto r = update_.Send(test::SetInfo(typeCode, static_cast<std::uint32_t>(image.size()),
                                            ReadLe16Of(image, 556)));
        if (r.response.status() != 0) {
            return r.response.status();
        }
        for (std::size_t offset = 0; offset < image.size(); offset += 10240) {
            const std::size_t n = std::min<std::size_t>(10240, image.size() - offset);
            r = update_.Send(test::FwLoad(image, offset, n));
            if (r.response.status() != 0) {
                return r.response.status();
            }
            r = update_.Send(test::WriteFw());
            if (r.response.status() != 0) {
                return r.response.status();
            }
        }
        return 0;
    }
    static std::uint16_t ReadLe16Of(const Bytes& b, std::size_t at) {
        return static_cast<std::uint16_t>(b[at] | (b[at + 1] << 8));
    }
    static bool HasStep(const DeviceSteps& steps, DeviceStep::Type type) {
        for (const auto& s : steps) {
            if (s.type == type) {
                return true;
            }
        }
        return false;
    }

    WireTrace trace_;
    DeviceCore core_;
    CoreHost normal_;
    CoreHost update_;
};

std::uint8_t StatusOf(const DeviceStep& step) {
    const auto r = test::ReassembleResponse(step.reports);
    return r ? r->status() : 0xFF;
}

Bytes Padded(Bytes bytes, std::size_t length) {
    bytes.resize(length, 0);
    return bytes;
}

TEST_F(CoreTest, RestartRequestGoldenBytesAndRestartIntoUpdateMode) {
    const auto reports = normal_.Reports(Request(0, 1, 0, 0));
    ASSERT_EQ(reports.size(), 1u);
    EXPECT_EQ(reports[0], Padded({0x02, 0x80, 0x00, 0x01, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00}, 17));
    const auto ex = normal_.Send(Request(0, 1, 0, 0));
    ASSERT_EQ(ex.sent.size(), 1u);
    EXPECT_EQ(ex.sent[0], Padded({0x01, 0x83, 0x01, 0x01, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00}, 17));
    // Answer first, then leave, then come back in update mode.
    ASSERT_EQ(ex.steps.size(), 5u);
    EXPECT_EQ(ex.steps[0].type, DeviceStep::Type::kSend);
    EXPECT_EQ(ex.steps[1].type, DeviceStep::Type::kWait);
    EXPECT_EQ(ex.steps[2].type, DeviceStep::Type::kLeave);
    EXPECT_EQ(ex.steps[3].type, DeviceStep::Type::kWait);
    EXPECT_EQ(ex.steps[3].ms, DeviceTiming{}.toUpdateDelayMs);
    EXPECT_EQ(ex.steps[4].type, DeviceStep::Type::kArrive);
    EXPECT_EQ(ex.steps[4].mode, TalvoMode::kUpdate);

    // In update mode, value 1 restarts into normal mode; value 0 changes nothing.
    EXPECT_FALSE(HasStep(update_.Send(Request(0, 1, 0, 0)).steps, DeviceStep::Type::kLeave));
    const auto back = update_.Send(Request(0, 1, 0, 1));
    EXPECT_EQ(back.response.status(), 0);
    EXPECT_EQ(back.steps.back().mode, TalvoMode::kNormal);
    EXPECT_EQ(update_.Send(Request(0, 1, 0, 7)).response.status(), device_status::kBadParameter);
    // The mode query answers what the restart request set.
    EXPECT_EQ(update_.Send(Request(2, 1, 0, 0)).response.value(), 0);
    EXPECT_EQ(normal_.Send(Request(2, 1, 0, 0)).response.value(), 1);
}

TEST_F(CoreTest, VersionReadGoldenBytesForEachTypeCode) {
    const auto ex = normal_.Send(Request(2, 6, 0, 3));
    ASSERT_EQ(ex.sent.size(), 2u);  // 24 bytes over 15-byte payloads
    EXPECT_EQ(ex.sent[0], (Bytes{0x01, 0x83, 0x03, 0x06, 0x00, 0x00, 0x00, 0x00, 0x10, 0x00, '1',
                                 '.', '0', '5', 0, 0, 0}));
    EXPECT_EQ(ex.sent[1], Padded({0x01, 0x85}, 17));
    for (std::uint8_t type : {0, 1, 3}) {
        const auto each = update_.Send(Request(2, 6, 0, type));
        ASSERT_TRUE(each.answered);
        const auto* r = &each.response;
        EXPECT_EQ(r->kind(), 3);
        EXPECT_EQ(r->length(), 16);
        EXPECT_EQ(r->payload(), Padded({'1', '.', '0', '5'}, 16));
    }
    EXPECT_EQ(normal_.Send(Request(2, 6, 0, 2)).response.status(), device_status::kBadParameter);
}

TEST(CoreVersions, ScenarioVersionsAreAnsweredZeroPadded) {
    WireTrace trace;
    DeviceConfig config;
    config.versions = {"0.99", "1.10", "", "2.00-beta-long-text"};
    DeviceCore core(config, trace);
    CoreHost host(core, TalvoDeviceLink(TalvoMode::kNormal));
    EXPECT_EQ(host.Send(Request(2, 6, 0, 1)).response.payload(), Padded({'1', '.', '1', '0'}, 16));
    EXPECT_EQ(
        host.Send(Request(2, 6, 0, 3)).response.payload(),
        Bytes({'2', '.', '0', '0', '-', 'b', 'e', 't', 'a', '-', 'l', 'o', 'n', 'g', '-', 't'}));
}

TEST_F(CoreTest, UpdateGroupGoldenShapes) {
    const auto image = test::BuildTestImage(test::TestImageParams{});
    const std::uint16_t crc = ReadLe16Of(image, 556);
    const auto info =
        update_.Reports(test::SetInfo(1, static_cast<std::uint32_t>(image.size()), crc));
    ASSERT_EQ(info.size(), 1u);
    EXPECT_EQ(
        Bytes(info[0].begin(), info[0].begin() + 17),
        (Bytes{0x04, 0x80, 0x00, 0x00, 0x09, 0x00, 0x00, 0x00, 0x07, 0x00, 0x01, 0xD0, 0x11, 0x00,
               0x00, static_cast<std::uint8_t>(crc & 0xFF), static_cast<std::uint8_t>(crc >> 8)}));
    auto r = update_.Send(test::SetInfo(1, static_cast<std::uint32_t>(image.size()), crc));
    EXPECT_EQ(r.sent[0], Padded({0x03, 0x83, 0x01, 0x00, 0x09, 0x00, 0x00, 0x00, 0x00, 0x00}, 65));

    // One piece of 4,560 bytes: 4,574-byte request in 73 reports, one
    // answer of length 1 after the last of them and not before.
    const auto load = update_.Reports(test::FwLoad(image, 0, image.size()));
    ASSERT_EQ(load.size(), 73u);
    const std::vector<Bytes> allButLast(load.begin(), load.end() - 1);
    EXPECT_TRUE(update_.FeedReports(allButLast).empty());
    const auto last = update_.FeedReports({load.back()});
    ASSERT_EQ(last.size(), 1u);
    EXPECT_EQ(last[0].reports[0],
              Padded({0x03, 0x83, 0x01, 0x01, 0x09, 0x00, 0x00, 0x00, 0x01, 0x00, 0x00}, 65));

    r = update_.Send(test::WriteFw());
    ASSERT_EQ(update_.Reports(test::WriteFw())[0][1], 0x80);
    EXPECT_EQ(r.sent[0], Padded({0x03, 0x83, 0x01, 0x03, 0x09, 0x00, 0x00, 0x00, 0x00, 0x00}, 65));
    EXPECT_EQ(r.steps[0].type, DeviceStep::Type::kWait);  // the write takes its time
    EXPECT_EQ(r.steps[0].ms, DeviceTiming{}.writeFwDurationMs);
    EXPECT_EQ(core_.Flash(1), image);
    EXPECT_EQ(core_.Version(1), "1.07");
    EXPECT_EQ(update_.Send(Request(2, 6, 0, 1)).response.payload(),
              Padded({'1', '.', '0', '7'}, 16));
}

TEST_F(CoreTest, FullPieceTakes163ReportsOf64Bytes) {
    test::TestImageParams params;
    params.bodySize = 20000;
    const auto image = test::BuildTestImage(params);
    ASSERT_EQ(update_
                  .Send(test::SetInfo(1, static_cast<std::uint32_t>(image.size()),
                                      ReadLe16Of(image, 556)))
                  .response.status(),
              0);
    const auto load = update_.Reports(test::FwLoad(image, 0, 10240));
    EXPECT_EQ(load.size(), 163u);
    EXPECT_EQ(load.back()[1], 0x82);
    const auto steps = update_.FeedReports(load);
    ASSERT_EQ(steps.size(), 1u);
    EXPECT_EQ(steps[0].reports.size(), 1u);
}

TEST_F(CoreTest, UpdaterImageRestartsAndIsConfirmedWithItsVerdict) {
    // Before any updater image there is nothing to confirm.
    EXPECT_EQ(update_.Send(Request(0, 5, 11, 1)).response.status(), device_status::kWrongState);
    test::TestImageParams params;
    params.magic = "FWUP";
    params.version = "2.01";
    const auto image = test::BuildTestImage(params);
    ASSERT_EQ(update_
                  .Send(test::SetInfo(0, static_cast<std::uint32_t>(image.size()),
                                      ReadLe16Of(image, 556)))
                  .response.status(),
              0);
    ASSERT_EQ(update_.Send(test::FwLoad(image, 0, image.size())).response.status(), 0);
    const auto write = update_.Send(test::WriteFw());
    EXPECT_EQ(write.response.status(), 0);
    ASSERT_TRUE(HasStep(write.steps, DeviceStep::Type::kLeave));
    EXPECT_EQ(write.steps.back().type, DeviceStep::Type::kArrive);
    EXPECT_EQ(write.steps.back().mode, TalvoMode::kUpdate);
    core_.OnLeft();
    core_.OnArrived(update_.link());

    const auto confirm = update_.Send(Request(0, 5, 11, 1));
    ASSERT_EQ(confirm.sent.size(), 1u);
    EXPECT_EQ(confirm.sent[0],
              Padded({0x03, 0x83, 0x01, 0x05, 0x0B, 0x00, 0x00, 0x00, 0x01, 0x00, 0x00}, 65));
    EXPECT_EQ(core_.Version(0), "2.01");
}

TEST(CoreVerdict, FailedUpdaterVerdictIsAnswered) {
    WireTrace trace;
    DeviceConfig config;
    config.modeFaults.fwupVerdict = 1;
    DeviceCore core(config, trace);
    CoreHost host(core, TalvoDeviceLink(TalvoMode::kUpdate));
    test::TestImageParams params;
    params.magic = "FWUP";
    const auto image = test::BuildTestImage(params);
    host.Send(test::SetInfo(0, static_cast<std::uint32_t>(image.size()),
                            static_cast<std::uint16_t>(image[556] | (image[557] << 8))));
    host.Send(test::FwLoad(image, 0, image.size()));
    host.Send(test::WriteFw());
    EXPECT_EQ(host.Send(Request(0, 5, 11, 1)).response.payload(), Bytes{1});
}

TEST_F(CoreTest, FramingIsStrict) {
    // 40-byte set of key 25 style: 8 + 20 bytes would fit two reports; build
    // a 28-byte message over 15-byte payloads: 0x80, 0x82.
    const Bytes message = Request(0, 28, 0, 0, Bytes(20, 0x5A));
    auto reports = normal_.Reports(message);
    ASSERT_EQ(reports.size(), 2u);

    // Middle or last segments without a first one are dropped silently.
    EXPECT_TRUE(normal_.FeedReports({reports[1]}).empty());
    Bytes middle = reports[1];
    middle[1] = 0x81;
    EXPECT_TRUE(normal_.FeedReports({middle}).empty());

    // A new first segment restarts the assembly.
    auto steps = normal_.FeedReports({reports[0], reports[0], reports[1]});
    ASSERT_EQ(steps.size(), 1u);
    EXPECT_EQ(StatusOf(steps[0]), 0);

    // A message that ends before its header says: error status.
    const Bytes longer = Request(0, 28, 0, 0, Bytes(20, 1));
    auto cut = normal_.Reports(longer);
    Bytes early = cut[0];
    steps = normal_.FeedReports({early, Padded({0x02, 0x82}, 17)});
    // 15 + 15 bytes are enough for 28: this one is complete.
    EXPECT_EQ(StatusOf(steps[0]), 0);
    const Bytes big = Request(0, 28, 0, 0, Bytes(20, 1));
    Bytes header = normal_.Reports(big)[0];
    header[8] = 40;  // claims 40 payload bytes
    steps = normal_.FeedReports({header, Padded({0x02, 0x82}, 17)});
    ASSERT_EQ(steps.size(), 1u);
    EXPECT_EQ(StatusOf(steps[0]), device_status::kMalformed);

    // A middle segment that reaches the end should have been the last one.
    steps = normal_.FeedReports({reports[0], middle});
    ASSERT_EQ(steps.size(), 1u);
    EXPECT_EQ(StatusOf(steps[0]), device_status::kMalformed);

    // A last segment holding no byte of the message.
    steps = normal_.FeedReports({reports[0], middle});
    steps = normal_.FeedReports({reports[0], reports[1], Padded({0x02, 0x82}, 17)});
    ASSERT_EQ(steps.size(), 1u);  // the message completed at the first 0x82
    EXPECT_TRUE(normal_.FeedReports({Padded({0x02, 0x82}, 17)}).empty());

    // Wrong report ID or length, or a foreign marker: ignored.
    Bytes wrongId = reports[0];
    wrongId[0] = 0x04;
    EXPECT_TRUE(normal_.FeedReports({wrongId}).empty());
    Bytes tooLong = reports[0];
    tooLong.push_back(0);
    EXPECT_TRUE(normal_.FeedReports({tooLong}).empty());
    EXPECT_TRUE(normal_.FeedReports({Padded({0x02, 0x83, 0x01}, 17)}).empty());
    EXPECT_TRUE(trace_.Contains("ignored: marker 0x83"));
}

TEST_F(CoreTest, ExactlyTwoPayloadsIsFirstAndLast) {
    // 30 bytes over 15-byte payloads: 0x80 and 0x82 with no middle report.
    const Bytes message = Request(0, 28, 0, 0, Bytes(22, 7));
    ASSERT_EQ(message.size(), 30u);  // payload 22 is the wrong length for the row
    const auto reports = normal_.Reports(message);
    ASSERT_EQ(reports.size(), 2u);
    EXPECT_EQ(reports[1][1], 0x82);
    const auto steps = normal_.FeedReports(reports);
    ASSERT_EQ(steps.size(), 1u);
    EXPECT_EQ(StatusOf(steps[0]), device_status::kMalformed);
}

// A request payload of the right length for the row, with count fields 0.
Bytes PayloadFor(const CatalogueRow& row) {
    switch (row.request) {
        case RequestShape::kFixed:
            return Bytes(row.requestLength, 0);
        case RequestShape::kCountAt4:
            return Bytes(6, 0);
        case RequestShape::kCountAt1:
            return Bytes(2, 0);
        case RequestShape::kCountAt2:
            return Bytes(3, 0);
        case RequestShape::kUpTo82:
            return Bytes(5, 0);
        case RequestShape::kPiece:
            return Bytes(7, 0);
    }
    return {};
}

TEST_F(CoreTest, EveryCatalogueRowIsAnsweredWithItsShape) {
    int rows = 0;
    for (const auto& row : CatalogueRows()) {
        if (row.group == kGroupFirmwareUpdate || (row.group == 11 && row.command == 5) ||
            (row.group == 0 && row.command == 1 && row.kind == kKindSetRequest)) {
            continue;  // state-dependent; covered by their own tests
        }
        ++rows;
        for (CoreHost* host : {&normal_, &update_}) {
            const Bytes payload = PayloadFor(row);
            const auto ex = host->Send(Request(row.kind, row.command, row.group, 0, payload));
            ASSERT_TRUE(ex.answered) << int(row.group) << "/" << int(row.command);
            const auto* r = &ex.response;
            EXPECT_EQ(r->status(), 0) << int(row.group) << "/" << int(row.command);
            EXPECT_EQ(r->kind(), row.kind + 1);
            EXPECT_EQ(r->command(), row.command);
            EXPECT_EQ(r->group(), row.group);
            EXPECT_EQ(r->length(), ResponseLengthFor(row, payload.data()))
                << int(row.group) << "/" << int(row.command);
            if (row.request == RequestShape::kFixed) {
                Bytes wrong = payload;
                wrong.push_back(0);
                EXPECT_EQ(host->Send(Request(row.kind, row.command, row.group, 0, wrong))
                              .response.status(),
                          device_status::kMalformed);
            }
        }
    }
    EXPECT_EQ(rows, 78);  // 83 rows less the five above
    // Counted reads answer the count they were asked for.
    Bytes read(6, 0);
    read[4] = 100;
    EXPECT_EQ(normal_.Send(Request(2, 0, 8, 0, read)).response.length(), 106);
    EXPECT_EQ(normal_.Send(Request(2, 11, 8, 0, Bytes{0, 9})).response.length(), 11);
    EXPECT_EQ(normal_.Send(Request(2, 6, 14, 0, Bytes{0, 0, 5})).response.length(), 8);
}

TEST_F(CoreTest, UnknownCommandsAndKindsGetAnErrorStatus) {
    for (const Bytes& m :
         {Request(0, 27, 0, 0), Request(2, 3, 0, 0), Request(0, 0, 200, 0), Request(2, 99, 9, 0)}) {
        const auto ex = normal_.Send(m);
        ASSERT_TRUE(ex.answered);
        const auto* r = &ex.response;
        EXPECT_EQ(r->status(), device_status::kUnknownCommand);
        EXPECT_EQ(r->kind(), m[0] + 1);
        EXPECT_EQ(r->command(), m[1]);
        EXPECT_EQ(r->group(), m[2]);
        EXPECT_EQ(r->length(), 0);
    }
    EXPECT_EQ(normal_.Send(Request(1, 6, 0, 0)).response.status(), device_status::kUnknownCommand);
}

TEST_F(CoreTest, SetGetPairsKeepWhatWasSet) {
    auto get = [&](std::uint8_t cmd, std::uint8_t group, std::uint8_t value, Bytes payload = {}) {
        return normal_.Send(Request(2, cmd, group, value, payload)).response;
    };
    auto set = [&](std::uint8_t cmd, std::uint8_t group, std::uint8_t value, Bytes payload = {}) {
        EXPECT_EQ(normal_.Send(Request(0, cmd, group, value, payload)).response.status(), 0);
    };
    set(10, 0, 0x42);
    EXPECT_EQ(get(10, 0, 0).value(), 0x42);
    set(20, 1, 0x17);
    EXPECT_EQ(get(20, 1, 0).value(), 0x17);
    set(15, 0, 0, {1, 2, 3, 4});
    EXPECT_EQ(get(15, 0, 0).payload(), (Bytes{1, 2, 3, 4}));
    set(19, 0, 5, {0x99});
    set(19, 0, 6, {0x66});
    EXPECT_EQ(get(19, 0, 5).payload(), Bytes{0x99});
    EXPECT_EQ(get(19, 0, 6).payload(), Bytes{0x66});
    set(54, 0, 0x21, {0xAB, 0xCD});
    EXPECT_EQ(get(54, 0, 0).value(), 0x21);
    EXPECT_EQ(get(54, 0, 0).payload(), (Bytes{0xAB, 0xCD}));
    set(1, 8, 2, {7, 0x70});
    EXPECT_EQ(get(1, 8, 2, {7}).payload(), (Bytes{7, 0x70}));
    set(3, 10, 1, {4, 0x11, 0x22});
    EXPECT_EQ(get(3, 10, 1, {4}).payload(), (Bytes{4, 0x11, 0x22}));
    set(1, 10, 3, Bytes(16, 0x33));
    EXPECT_EQ(get(1, 10, 3).payload(), Bytes(16, 0x33));

    // Memory rows: bytes written at an address come back at that address.
    Bytes write{0x00, 0x10, 0x00, 0x00, 4, 0, 0xDE, 0xAD, 0xBE, 0xEF};
    set(0, 8, 1, write);
    Bytes read{0x02, 0x10, 0x00, 0x00, 3, 0};
    EXPECT_EQ(get(0, 8, 1, read).payload(), (Bytes{0x02, 0x10, 0, 0, 3, 0, 0xBE, 0xEF, 0x00}));
    EXPECT_EQ(get(0, 8, 2, read).payload(),
              (Bytes{0x02, 0x10, 0, 0, 3, 0, 0, 0, 0}));  // other bank
    EXPECT_EQ(get(2, 8, 1, read).payload(),
              (Bytes{0x02, 0x10, 0, 0, 3, 0, 0, 0, 0}));  // other area
    set(11, 8, 4, {9, 3, 1, 2, 3});
    EXPECT_EQ(get(11, 8, 4, {9, 3}).payload(), (Bytes{9, 3, 1, 2, 3}));
    set(6, 14, 0, {0x01, 0x00, 2, 0x5A, 0xA5});
    EXPECT_EQ(get(6, 14, 0, {0x01, 0x01, 2}).payload(), (Bytes{1, 1, 2, 0xA5, 0}));
}

TEST_F(CoreTest, WholeUpdateTakesImagesIntoFlashAndVersionTable) {
    test::TestImageParams mainParams;
    mainParams.bodySize = 75484;  // a 76,044-byte image: 8 pieces, the last of 4,364 bytes
    mainParams.version = "1.08";
    const auto mainImage = test::BuildTestImage(mainParams);
    test::TestImageParams dspParams;
    dspParams.magic = "DSPA";
    dspParams.version = "1.09";
    dspParams.bodySize = 10240 - 560;  // exactly one piece
    const auto dspImage = test::BuildTestImage(dspParams);

    EXPECT_EQ(Download(mainImage, 1), 0);
    EXPECT_EQ(Download(dspImage, 3), 0);
    EXPECT_EQ(core_.Flash(1), mainImage);
    EXPECT_EQ(core_.Flash(3), dspImage);
    EXPECT_EQ(core_.Version(1), "1.08");
    EXPECT_EQ(core_.Version(3), "1.09");
    EXPECT_EQ(core_.Version(0), "1.05");
    EXPECT_EQ(core_.ImagesAccepted(), 2);

    const auto names = core_.CommandNames();
    ASSERT_EQ(names.size(), 1u + 16u + 1u + 2u);
    EXPECT_EQ(names[0], "FU_SETINFO type=1 length=76044");
    EXPECT_EQ(names[1], "FU_FWLOAD offset=0 size=10240");
    EXPECT_EQ(names[2], "FU_WRITEFW");
    EXPECT_EQ(names[15], "FU_FWLOAD offset=71680 size=4364");
    EXPECT_EQ(names[17], "FU_SETINFO type=3 length=10240");
}

TEST_F(CoreTest, FlashKeepsItsContentUnlessAWholeGoodImageArrived) {
    const auto good = test::BuildTestImage(test::TestImageParams{});
    ASSERT_EQ(Download(good, 1), 0);
    test::TestImageParams nextParams;
    nextParams.version = "1.09";
    nextParams.bodySize = 12000;
    nextParams.seed = 9;
    const auto next = test::BuildTestImage(nextParams);
    const auto n = static_cast<std::uint32_t>(next.size());
    const std::uint16_t crc = ReadLe16Of(next, 556);
    auto status = [&](const Bytes& m) { return update_.Send(m).response.status(); };
    auto expectUnchanged = [&] {
        EXPECT_EQ(core_.Flash(1), good);
        EXPECT_EQ(core_.Version(1), "1.07");
    };

    // Out of sequence and out of mode.
    EXPECT_EQ(status(test::FwLoad(next, 0, 100)), device_status::kWrongState);
    EXPECT_EQ(normal_.Send(test::SetInfo(1, n, crc)).response.status(), device_status::kWrongState);
    EXPECT_EQ(status(test::SetInfo(2, n, crc)), device_status::kBadParameter);
    EXPECT_EQ(status(test::SetInfo(1, 560, crc)), device_status::kBadParameter);

    ASSERT_EQ(status(test::SetInfo(1, n, crc)), 0);
    EXPECT_EQ(status(test::WriteFw()), device_status::kWrongState);  // nothing loaded
    Bytes piece(next.begin(), next.begin() + 10240);
    EXPECT_EQ(status(test::FwLoadRaw(0, 0x1234, piece)), device_status::kPieceCrc);
    EXPECT_EQ(status(test::FwLoad(next, 10240, 100)), device_status::kOutOfOrder);
    Bytes big(10241, 0);
    EXPECT_EQ(status(test::FwLoadRaw(0, 0, big)), device_status::kPieceTooLarge);
    // A repeated load of the same piece replaces the one before.
    ASSERT_EQ(status(test::FwLoad(next, 0, 100)), 0);
    ASSERT_EQ(status(test::FwLoad(next, 0, 10240)), 0);
    ASSERT_EQ(status(test::WriteFw()), 0);
    // The answer to a write may be lost: a repeated write commits nothing new.
    ASSERT_EQ(status(test::WriteFw()), 0);
    EXPECT_EQ(status(test::FwLoad(next, 0, 10240)), device_status::kOutOfOrder);
    Bytes tail(next.begin() + 10240, next.end());
    tail.push_back(0);
    tail.push_back(0);
    tail.push_back(0);
    tail.push_back(0);
    EXPECT_EQ(status(test::FwLoadRaw(10240, test::BitwiseCrc16(tail.data(), tail.size(), 0), tail)),
              device_status::kOverrun);
    expectUnchanged();

    // Pieces that pass their own checks but make a bad image: refused at
    // the last write, flash and versions untouched.
    auto bad = next;
    bad[11000] ^= 0x01;
    ASSERT_EQ(status(test::FwLoad(bad, 10240, bad.size() - 10240)), 0);
    const auto lastEx = update_.Send(test::WriteFw());
    const auto* last = &lastEx.response;
    EXPECT_EQ(last->status(), device_status::kImageRejected);
    EXPECT_EQ(last->detail(), static_cast<std::uint8_t>(ImageCheck::kBodyCrcMismatch));
    expectUnchanged();
    EXPECT_EQ(status(test::WriteFw()), device_status::kImageRejected);  // repeat: same answer
    EXPECT_EQ(status(test::FwLoad(next, 10240, 100)), device_status::kWrongState);

    // Announced checksum differs from the image's: refused as well.
    EXPECT_EQ(status(test::SetInfo(1, n, static_cast<std::uint16_t>(crc + 1))), 0);
    ASSERT_EQ(status(test::FwLoad(next, 0, 10240)), 0);
    ASSERT_EQ(status(test::WriteFw()), 0);
    ASSERT_EQ(status(test::FwLoad(next, 10240, next.size() - 10240)), 0);
    EXPECT_EQ(status(test::WriteFw()), device_status::kImageRejected);
    expectUnchanged();

    // Leaving the bus in the middle loses the transfer.
    ASSERT_EQ(status(test::SetInfo(1, n, crc)), 0);
    ASSERT_EQ(status(test::FwLoad(next, 0, 10240)), 0);
    ASSERT_EQ(status(test::WriteFw()), 0);
    core_.OnLeft();
    EXPECT_EQ(status(test::FwLoad(next, 10240, next.size() - 10240)), device_status::kWrongState);
    expectUnchanged();

    // And a good transfer still goes in afterwards.
    EXPECT_EQ(Download(next, 1), 0);
    EXPECT_EQ(core_.Flash(1), next);
    EXPECT_EQ(core_.Version(1), "1.09");
}

TEST_F(CoreTest, StatusFaultsFireOnTheChosenCommandAndAttempt) {
    core_.AddFault(Fault::Busy(2));
    auto read = [&] { return normal_.Send(Request(2, 6, 0, 1)).response.status(); };
    EXPECT_EQ(read(), 19);
    EXPECT_EQ(read(), 19);
    EXPECT_EQ(read(), 0);

    Fault f = Fault::Status(0, 10, 0x22, 2);
    f.skip = 1;
    f.detail = 0x07;
    core_.AddFault(f);
    auto set = [&] { return normal_.Send(Request(0, 10, 0, 5)).response; };
    EXPECT_EQ(set().status(), 0);
    const auto refused = set();
    EXPECT_EQ(refused.status(), 0x22);
    EXPECT_EQ(refused.detail(), 0x07);
    EXPECT_EQ(refused.length(), 0);
    EXPECT_EQ(set().status(), 0x22);
    EXPECT_EQ(set().status(), 0);
    EXPECT_EQ(core_.Faults()[1].fired, 2);
}

TEST_F(CoreTest, ResponseShapeFaults) {
    core_.AddFault(Fault::Shape(FaultKind::kWrongLength, 0, 6));
    auto r = normal_.Send(Request(2, 6, 0, 1)).response;
    EXPECT_EQ(r.length(), 17);
    core_.AddFault(Fault::Shape(FaultKind::kWrongKind, 0, 6));
    EXPECT_EQ(normal_.Send(Request(2, 6, 0, 1)).response.kind(), 5);
    core_.AddFault(Fault::Shape(FaultKind::kWrongCommand, 0, 6));
    EXPECT_EQ(normal_.Send(Request(2, 6, 0, 1)).response.command(), 7);
    core_.AddFault(Fault::Shape(FaultKind::kWrongGroup, 0, 6));
    EXPECT_EQ(normal_.Send(Request(2, 6, 0, 1)).response.group(), 1);
    r = normal_.Send(Request(2, 6, 0, 1)).response;  // all used up
    EXPECT_EQ(r.kind(), 3);
    EXPECT_EQ(r.length(), 16);

    core_.AddFault(Fault::Shape(FaultKind::kEvent4Response, 11, 5));
    core_.AddFault(Fault::Shape(FaultKind::kEvent4Response, 0, 1));
    const auto ex = update_.Send(Request(0, 1, 0, 0));
    ASSERT_EQ(ex.sent.size(), 1u);
    EXPECT_EQ(ex.sent[0], Padded({0x03, 0x90, 0x04, 0x01, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00}, 65));
}

TEST_F(CoreTest, DroppedAndLateAnswersStillCarryTheCommandOut) {
    const auto image = test::BuildTestImage(test::TestImageParams{});
    core_.AddFault(Fault::Drop(9, 1));
    core_.AddFault(Fault::Late(9, 3, 7000));
    ASSERT_EQ(update_
                  .Send(test::SetInfo(1, static_cast<std::uint32_t>(image.size()),
                                      ReadLe16Of(image, 556)))
                  .response.status(),
              0);
    auto ex = update_.Send(test::FwLoad(image, 0, image.size()));
    EXPECT_FALSE(HasStep(ex.steps, DeviceStep::Type::kSend));
    EXPECT_FALSE(core_.Commands().back().answered);
    ex = update_.Send(test::FwLoad(image, 0, image.size()));  // the host's retry
    EXPECT_EQ(ex.response.status(), 0);
    ex = update_.Send(test::WriteFw());
    ASSERT_GE(ex.steps.size(), 3u);
    EXPECT_EQ(ex.steps[0].type, DeviceStep::Type::kWait);
    EXPECT_EQ(ex.steps[1].type, DeviceStep::Type::kWait);
    EXPECT_EQ(ex.steps[0].ms + ex.steps[1].ms, 7000u + DeviceTiming{}.writeFwDurationMs);
    EXPECT_EQ(ex.steps[2].type, DeviceStep::Type::kSend);
    EXPECT_EQ(core_.Flash(1), image);
}

TEST_F(CoreTest, UnplugFaultsFireAtTheChosenPieceAndReport) {
    test::TestImageParams params;
    params.bodySize = 30000;
    const auto image = test::BuildTestImage(params);
    core_.AddFault(Fault::UnplugInPiece(1, 40));
    ASSERT_EQ(update_
                  .Send(test::SetInfo(1, static_cast<std::uint32_t>(image.size()),
                                      ReadLe16Of(image, 556)))
                  .response.status(),
              0);
    // Piece 0 goes through untouched.
    ASSERT_EQ(update_.Send(test::FwLoad(image, 0, 10240)).response.status(), 0);
    ASSERT_EQ(update_.Send(test::WriteFw()).response.status(), 0);
    // Piece 1: the 40th report makes the device leave.
    const auto reports = update_.Reports(test::FwLoad(image, 10240, 10240));
    for (std::size_t i = 0; i < 39; ++i) {
        ASSERT_TRUE(update_.FeedReports({reports[i]}).empty()) << i;
    }
    const auto steps = update_.FeedReports({reports[39]});
    ASSERT_EQ(steps.size(), 1u);
    EXPECT_EQ(steps[0].type, DeviceStep::Type::kLeave);
    EXPECT_TRUE(core_.Flash(1).empty());

    Fault write = Fault::UnplugInWrite(0);
    write.comeBackAfterMs = 500;
    core_.OnLeft();
    core_.AddFault(write);
    ASSERT_EQ(update_
                  .Send(test::SetInfo(1, static_cast<std::uint32_t>(image.size()),
                                      ReadLe16Of(image, 556)))
                  .response.status(),
              0);
    ASSERT_EQ(update_.Send(test::FwLoad(image, 0, 10240)).response.status(), 0);
    const auto ex = update_.Send(test::WriteFw());
    ASSERT_EQ(ex.steps.size(), 4u);
    EXPECT_EQ(ex.steps[0].type, DeviceStep::Type::kWait);
    EXPECT_EQ(ex.steps[1].type, DeviceStep::Type::kLeave);
    EXPECT_EQ(ex.steps[3].type, DeviceStep::Type::kArrive);
    EXPECT_EQ(ex.steps[3].mode, TalvoMode::kNormal);
    EXPECT_TRUE(ex.sent.empty());
    EXPECT_TRUE(core_.Flash(1).empty());
}

TEST(CoreModeFaults, RestartFaults) {
    WireTrace trace;
    DeviceConfig config;
    config.modeFaults.refuseRestarts = 1;
    config.modeFaults.wrongModeReturns = 1;
    config.modeFaults.vanishOnRestart = 1;
    config.modeFaults.settleUnplugAfterMs = 250;
    DeviceCore core(config, trace);
    CoreHost host(core, TalvoDeviceLink(TalvoMode::kNormal));
    auto restart = [&] { return host.Send(Request(0, 1, 0, 0)); };

    auto ex = restart();  // refused: answered, stays
    EXPECT_EQ(ex.response.status(), 0);
    EXPECT_EQ(ex.steps.size(), 1u);
    ex = restart();  // leaves and vanishes
    EXPECT_EQ(ex.steps.back().type, DeviceStep::Type::kLeave);
    ex = restart();  // comes back in the wrong mode
    EXPECT_EQ(ex.steps.back().type, DeviceStep::Type::kArrive);
    EXPECT_EQ(ex.steps.back().mode, TalvoMode::kNormal);
    ex = restart();  // all used up
    EXPECT_EQ(ex.steps.back().mode, TalvoMode::kUpdate);

    EXPECT_TRUE(core.OnArrived(TalvoDeviceLink(TalvoMode::kNormal)).empty());
    const auto settle = core.OnArrived(TalvoDeviceLink(TalvoMode::kUpdate));
    ASSERT_EQ(settle.size(), 2u);
    EXPECT_EQ(settle[0].ms, 250u);
    EXPECT_EQ(settle[1].type, DeviceStep::Type::kLeave);
    EXPECT_TRUE(core.OnArrived(TalvoDeviceLink(TalvoMode::kUpdate)).empty());
}

TEST_F(CoreTest, NotificationsAndDataStreams) {
    const LinkInfo link = TalvoDeviceLink(TalvoMode::kNormal);
    EXPECT_EQ(NotificationStep(link, 3, 0x1234).reports[0],
              Padded({0x01, 0x90, 0x03, 0x12, 0x34}, 17));
    EXPECT_EQ(NotificationStep(link, 1, 7, 0x9F).reports[0], Padded({0x01, 0x9F, 0x01, 0x07}, 17));
    EXPECT_EQ(AnswerStep(link, {4, 6, 0, 0, 0x13, 2, {}}, true).reports[0],
              Padded({0x01, 0x90, 0x04, 0x06, 0x00, 0x00, 0x13, 0x02}, 17));
    // 40 data bytes: count 41, 43 stream bytes over 15-byte payloads.
    Bytes data(40);
    for (std::size_t i = 0; i < data.size(); ++i) {
        data[i] = static_cast<std::uint8_t>(i);
    }
    const auto stream = DataStreamStep(link, 0x55, data).reports;
    ASSERT_EQ(stream.size(), 3u);
    EXPECT_EQ(stream[0][1], 0xA0);
    EXPECT_EQ(stream[1][1], 0xA1);
    EXPECT_EQ(stream[2][1], 0xA2);
    EXPECT_EQ(stream[0][2], 41);
    EXPECT_EQ(stream[0][3], 0);
    EXPECT_EQ(stream[0][4], 0x55);
    EXPECT_EQ(stream[2][2 + (43 - 30) - 1], 39);  // the last data byte
    EXPECT_EQ(DataStreamStep(link, 1, {9, 9}).reports.size(), 1u);
}

TEST_F(CoreTest, TraceDecodesMessages) {
    normal_.Send(Request(2, 6, 0, 3));
    EXPECT_TRUE(trace_.Contains(
        "OUT talvo-normal  MSG get-request group=0 cmd=6 value=3 selector=0 length=0"));
    update_.Send(test::WriteFw());
    EXPECT_TRUE(
        trace_.Contains("MSG set-request group=9 cmd=3 value=0 selector=0 length=0 FU_WRITEFW"));
}

}  // namespace
}  // namespace talvo
