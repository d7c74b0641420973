// Recorded sessions. Three emulated updates (a success, a failure, one with
// an Fwup image) keep their wire traces as golden files under golden/:
// every input report and every decoded message in both directions, without
// times. Two checks:
//  - the sessions run again produce the same lines, so a change in the
//    host's framing (what the device decodes) or in the device's answers
//    shows as a diff;
//  - the recorded input reports replayed through the host's receive side
//    reassemble into exactly the answers the device said it sent, and into
//    the recorded host view (<name>.host), so a change in reassembly shows
//    as a diff.
// TALVO_RECORD_GOLDEN=1 writes the files anew instead of comparing.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "emulator/wire_trace.h"
#include "hid/hid_trace.h"
#include "protocol/framing.h"
#include "tests/e2e/e2e_support.h"

namespace talvo::e2e {
namespace {

struct Session {
    const char* name;
    const char* scenario;
    bool updater;  // the package with an Fwup image
};

constexpr Session kSessions[] = {
    {"success", "current", false},
    {"setinfo-error", "setinfo-error", false},
    {"fwup", "current", true},
};

bool Recording() {
    const char* value = std::getenv("TALVO_RECORD_GOLDEN");
    return value != nullptr && std::string(value) == "1";
}

std::string GoldenPath(const std::string& file) {
    return std::string(TALVO_GOLDEN_DIR) + "/" + file;
}

std::vector<std::string> ReadLines(const std::string& path) {
    std::ifstream in(path);
    std::vector<std::string> lines;
    for (std::string line; std::getline(in, line);) {
        lines.push_back(line);
    }
    return lines;
}

void WriteLines(const std::string& path, const std::vector<std::string>& lines) {
    std::ofstream out(path);
    for (const std::string& line : lines) {
        out << line << '\n';
    }
}

// The kept lines of a trace, without their times: input reports and
// decoded messages of both directions.
std::vector<std::string> Kept(const std::vector<std::string>& trace) {
    std::vector<std::string> kept;
    for (const std::string& line : trace) {
        std::istringstream fields(line);
        std::string time, direction, identity;
        fields >> time >> direction >> identity;
        std::string rest;
        std::getline(fields, rest);
        rest.erase(0, rest.find_first_not_of(' '));
        const bool message = rest.rfind("MSG ", 0) == 0;
        if ((direction == "IN" || (direction == "OUT" && message))) {
            kept.push_back(direction + " " + identity + " " + rest);
        }
    }
    return kept;
}

std::vector<std::string> RunSession(const Session& session) {
    Rig rig;
    const Outcome o =
        rig.Run(Named(session.scenario), session.updater ? UpdaterPackage() : ShippedPackage());
    EXPECT_TRUE(o.ended);
    // The closing command is answered after the end message: wait for it.
    IClock& clock = Clock::Current();
    const std::uint32_t start = clock.TickCount();
    while (rig.talvo->Trace().CountContaining("MSG set-response group=0 cmd=1 value=1") == 0 &&
           clock.TickCount() - start < 60000) {
        clock.Sleep(100);
    }
    return Kept(rig.talvo->Trace().Lines());
}

const char* ResponseKindName(std::uint8_t kind) {
    switch (kind) {
        case 1:
            return "set-response";
        case 3:
            return "get-response";
        case 4:
            return "event4-response";
        default:
            return "kind";
    }
}

// Replays the input reports of kept lines through the receive side. Each
// answer it completes is checked against the device's own MSG line and
// described as one host line.
std::vector<std::string> Replay(const std::vector<std::string>& kept) {
    std::vector<std::uint8_t> response(kResponseBufferSize), stream(kStreamBufferSize),
        notify(kNotifyBufferSize);
    std::vector<std::string> host;
    std::vector<std::string> announced;  // MSG lines of answers not yet reassembled
    std::string identity;
    std::unique_ptr<ReceiveAssembler> assembler;
    for (const std::string& line : kept) {
        std::istringstream fields(line);
        std::string direction, who, first;
        fields >> direction >> who >> first;
        if (direction != "IN") {
            continue;
        }
        if (first == "MSG") {
            std::string rest;
            std::getline(fields, rest);
            announced.push_back(rest.substr(1));
            continue;
        }
        std::vector<std::uint8_t> report;
        for (std::string byte = first; !byte.empty(); byte.clear(), fields >> byte) {
            report.push_back(static_cast<std::uint8_t>(std::strtoul(byte.c_str(), nullptr, 16)));
        }
        if (who != identity || assembler == nullptr) {
            identity = who;
            assembler = std::make_unique<ReceiveAssembler>(
                static_cast<int>(report.size() - 1), response.data(), stream.data(), notify.data());
        }
        // The report ID byte is not the receive side's.
        const ReceiveOutcome out = assembler->Feed(report.data() + 1);
        if (!out.responseReady) {
            continue;
        }
        const std::uint8_t* m = response.data();
        const std::size_t length = static_cast<std::size_t>(m[6] | (m[7] << 8));
        char header[160];
        std::snprintf(header, sizeof header,
                      "%s group=%u cmd=%u value=%u status=%u detail=%u length=%zu",
                      ResponseKindName(m[0]), m[2], m[1], m[3], m[4], m[5], length);
        if (announced.empty()) {
            ADD_FAILURE() << "reassembled an answer the device never sent: " << header;
        } else {
            EXPECT_EQ(announced.front(), header);
            announced.erase(announced.begin());
        }
        host.push_back(who + " " + HidHexBytes(m, 8) + " | " + HidHexBytes(m + 8, length));
    }
    EXPECT_TRUE(announced.empty())
        << announced.size()
        << " answers never reassembled, first: " << (announced.empty() ? "" : announced.front());
    return host;
}

void ExpectSameLines(const std::vector<std::string>& golden, const std::vector<std::string>& now,
                     const std::string& what) {
    EXPECT_EQ(golden.size(), now.size()) << what;
    for (std::size_t i = 0; i < golden.size() && i < now.size(); ++i) {
        if (golden[i] != now[i]) {
            ADD_FAILURE() << what << " differs from line " << i + 1 << ":\n  golden: " << golden[i]
                          << "\n  now:    " << now[i];
            return;
        }
    }
}

// Catches a change in the framing of requests or in the device's answers
// that no other check pins down byte for byte.
TEST(GoldenTraces, SessionsMatchTheirRecordings) {
    for (const Session& session : kSessions) {
        SCOPED_TRACE(session.name);
        const std::vector<std::string> kept = RunSession(session);
        const std::string path = GoldenPath(std::string(session.name) + ".trace");
        if (Recording()) {
            WriteLines(path, kept);
            WriteLines(GoldenPath(std::string(session.name) + ".host"), Replay(kept));
            continue;
        }
        ExpectSameLines(ReadLines(path), kept, path);
    }
}

// Catches a reassembly fault: an answer lost, merged, cut or with other
// bytes than the device sent.
TEST(GoldenTraces, RecordedAnswersReassembleOnTheReceiveSide) {
    for (const Session& session : kSessions) {
        SCOPED_TRACE(session.name);
        const std::vector<std::string> kept =
            ReadLines(GoldenPath(std::string(session.name) + ".trace"));
        ASSERT_FALSE(kept.empty());
        const std::string hostPath = GoldenPath(std::string(session.name) + ".host");
        ExpectSameLines(ReadLines(hostPath), Replay(kept), hostPath);
    }
}

}  // namespace
}  // namespace talvo::e2e
