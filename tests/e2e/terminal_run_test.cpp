// talvo-update run as a program against its emulated TALVO: what a script
// sees (exit status, output lines).
#include <gtest/gtest.h>

#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <map>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

namespace {

struct Result {
    int status = -1;
    std::string output;
};

// Standard error goes where `stderrTo` says (with standard output by default).
Result RunProgram(const std::string& arguments, const std::string& environment = "",
                  const std::string& stderrTo = "&1") {
    const std::string command =
        environment + " " + TALVO_UPDATE_PATH + " " + arguments + " </dev/null 2>" + stderrTo;
    Result result;
    FILE* pipe = popen(command.c_str(), "r");
    if (pipe == nullptr) {
        return result;
    }
    char buffer[4096];
    std::size_t got = 0;
    while ((got = std::fread(buffer, 1, sizeof buffer, pipe)) > 0) {
        result.output.append(buffer, got);
    }
    const int raw = pclose(pipe);
    result.status = WIFEXITED(raw) ? WEXITSTATUS(raw) : -1;
    return result;
}

bool Has(const std::string& text, const std::string& part) {
    return text.find(part) != std::string::npos;
}

const char* const kFast = " --timing=none --speed=50 --accept-agreement";

TEST(TerminalRun, EmulatedUpdateRunsToTheEndWithItsProgress) {
    const Result r = RunProgram(std::string("--emulate") + kFast);
    EXPECT_EQ(r.status, 0) << r.output;
    EXPECT_TRUE(Has(r.output, "\n0%\n")) << r.output;
    EXPECT_TRUE(Has(r.output, "\n100%\n")) << r.output;
    EXPECT_TRUE(Has(r.output, "Firmware has been updated.")) << r.output;
    // Versions before (1.00 on the device) and after (1.07).
    EXPECT_TRUE(Has(r.output, "1.00")) << r.output;
    EXPECT_TRUE(Has(r.output, "  Normal  1.07")) << r.output;
}

TEST(TerminalRun, EveryCauseHasItsOwnExitStatus) {
    EXPECT_EQ(RunProgram("--bogus").status, 2);
    EXPECT_EQ(RunProgram("--emulate --timing=none --speed=50").status, 3);  // no agreement
    EXPECT_EQ(RunProgram(std::string("--emulate=absent --wait=2") + kFast).status, 5);
    EXPECT_EQ(RunProgram(std::string("--emulate=nosuch") + kFast).status, 2);
    const Result failed = RunProgram(std::string("--emulate=setinfo-error") + kFast);
    EXPECT_EQ(failed.status, 25) << failed.output;
    EXPECT_TRUE(Has(failed.output, "Failed to update firmware.")) << failed.output;
    EXPECT_TRUE(Has(failed.output, "error : receive error response. (FU_SETINFO) [0x05]"))
        << failed.output;
    EXPECT_EQ(RunProgram("--help").status, 0);
}

TEST(TerminalRun, UpToDateDeviceIsLeftAloneUnlessForced) {
    const Result r = RunProgram(std::string("--emulate=up-to-date") + kFast);
    EXPECT_EQ(r.status, 4) << r.output;
    EXPECT_TRUE(Has(r.output, "no update needed")) << r.output;
    EXPECT_FALSE(Has(r.output, "100%")) << r.output;
    const Result forced = RunProgram(std::string("--emulate=up-to-date --yes") + kFast);
    EXPECT_EQ(forced.status, 0) << forced.output;
    EXPECT_TRUE(Has(forced.output, "Firmware has been updated.")) << forced.output;
}

TEST(TerminalRun, DiagnosticLinesAndTheBarShareTheOutput) {
    // The diagnostic comes from the update thread while the bar is drawn by
    // the session thread: each line is whole, and the bar's line is ended
    // before the diagnostic starts.
    const Result r = RunProgram(std::string("--emulate=setinfo-error --progress=bar") + kFast);
    EXPECT_EQ(r.status, 25) << r.output;
    EXPECT_TRUE(Has(r.output, "%\nerror : receive error response. (FU_SETINFO) [0x05]\n"))
        << r.output;
}

TEST(TerminalRun, SpeaksTheLanguageOfTheLocale) {
    const Result r = RunProgram(std::string("--emulate") + kFast, "LC_ALL=ja_JP.UTF-8");
    EXPECT_EQ(r.status, 0) << r.output;
    EXPECT_FALSE(Has(r.output, "Firmware has been updated.")) << r.output;
    const Result zh =
        RunProgram(std::string("--emulate=absent --wait=1") + kFast + " --language=zh");
    EXPECT_EQ(zh.status, 5);
    EXPECT_FALSE(Has(zh.output, "Cannot find TALVO.")) << zh.output;
}

std::vector<std::string> LinesOf(const std::string& text) {
    std::vector<std::string> lines;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);) {
        lines.push_back(line);
    }
    return lines;
}

// Catches: status reading the wrong mode, an exit code shared by two
// states, text mixed into the JSON, field names drifting.
TEST(TerminalRun, StatusGivesTheModeVersionsAndItsOwnExitCodeInJson) {
    struct Case {
        const char* scenario;
        int status;
        const char* mode;
        bool needed;
    };
    for (const Case& c :
         {Case{"outdated", 8, "normal", true}, Case{"up-to-date", 0, "normal", false},
          Case{"update-mode", 8, "update", true}, Case{"absent", 5, "none", false}}) {
        const Result r = RunProgram(std::string("status --json --wait=2 --emulate=") + c.scenario +
                                        " --timing=none --speed=50",
                                    "", "/dev/null");
        SCOPED_TRACE(c.scenario);
        EXPECT_EQ(r.status, c.status) << r.output;
        const auto json = nlohmann::json::parse(r.output);  // throws on anything but JSON
        EXPECT_EQ(json["mode"], c.mode);
        EXPECT_EQ(json["update_needed"], c.needed);
        EXPECT_EQ(json["interrupted_update"], std::string(c.mode) == "update");
        EXPECT_EQ(json["exit_code"], c.status);
        EXPECT_EQ(json["package_versions"]["Normal"], "1.07");
        EXPECT_TRUE(json["package_versions"]["Fwup"].is_null());
        if (c.status == 5) {
            EXPECT_TRUE(json["device_versions"]["Normal"].is_null());
        } else {
            EXPECT_TRUE(json["device_versions"]["Normal"].is_string());
        }
    }
    const Result text = RunProgram("status --emulate=up-to-date --timing=none --speed=50");
    EXPECT_EQ(text.status, 0) << text.output;
    EXPECT_TRUE(Has(text.output, "  Normal  1.07")) << text.output;
}

// Catches: an update reported as done although the device came back with
// its old firmware, or never came back.
TEST(TerminalRun, VerifyCatchesFlashThatDidNotTakeAndADeviceThatDidNotComeBack) {
    const Result notTaken = RunProgram(std::string("--emulate=flash-not-taken") + kFast);
    EXPECT_EQ(notTaken.status, 27) << notTaken.output;
    EXPECT_TRUE(Has(notTaken.output, "Verification failed: Normal is 1.00")) << notTaken.output;
    EXPECT_FALSE(Has(notTaken.output, "Updated and verified.")) << notTaken.output;
    const Result gone = RunProgram(std::string("--emulate=never-back") + kFast);
    EXPECT_EQ(gone.status, 28) << gone.output;
    EXPECT_TRUE(Has(gone.output, "did not come back")) << gone.output;
    const Result unchecked =
        RunProgram(std::string("--emulate=flash-not-taken --no-verify") + kFast);
    EXPECT_EQ(unchecked.status, 0) << unchecked.output;
    const Result good = RunProgram(std::string("--emulate") + kFast);
    EXPECT_TRUE(Has(good.output, "Updated and verified.")) << good.output;
}

// Catches: a device left in update mode going unnamed, updated without
// being asked, or not updatable at all.
TEST(TerminalRun, DeviceLeftInUpdateModeIsNamedAndUpdatedWhenConfirmed) {
    const Result asked = RunProgram(std::string("--emulate=update-mode") + kFast);
    EXPECT_EQ(asked.status, 1) << asked.output;
    EXPECT_TRUE(Has(asked.output, "in update mode: an earlier update did not finish"));
    EXPECT_FALSE(Has(asked.output, "100%")) << asked.output;
    const Result run = RunProgram(std::string("--emulate=update-mode --yes") + kFast);
    EXPECT_EQ(run.status, 0) << run.output;
    EXPECT_TRUE(Has(run.output, "in update mode: an earlier update did not finish"));
    EXPECT_TRUE(Has(run.output, "Updated and verified.")) << run.output;
}

// Catches: human text on standard output in JSON mode, a stream that ends
// without its result (on success and on failure), progress that goes back.
TEST(TerminalRun, JsonProgressParsesLineByLineAndEndsWithTheResult) {
    const std::string trace = ::testing::TempDir() + "talvo-json-run.trace";
    for (const auto& [scenario, code] :
         std::map<std::string, int>{{"outdated", 0}, {"setinfo-error", 25}}) {
        SCOPED_TRACE(scenario);
        const Result r = RunProgram(
            "--progress=json --trace=" + trace + " --emulate=" + scenario + kFast, "", "/dev/null");
        EXPECT_EQ(r.status, code);
        std::vector<nlohmann::json> events;
        for (const std::string& line : LinesOf(r.output)) {
            events.push_back(nlohmann::json::parse(line));
            EXPECT_TRUE(events.back().contains("time")) << line;
        }
        ASSERT_FALSE(events.empty());
        EXPECT_EQ(events.back()["event"], "result");
        EXPECT_EQ(events.back()["exit_code"], code);
        int last = -1;
        for (const auto& e : events) {
            if (e["event"] == "progress") {
                EXPECT_GE(e["percent"].get<int>(), last);
                last = e["percent"].get<int>();
            }
        }
        EXPECT_EQ(last == 100, code == 0);
    }
    // The trace of the last run: the FU_SETINFO request (group 9) went out
    // to the update-mode interface and its answer with status 5 came in.
    std::ifstream in(trace);
    std::stringstream text;
    text << in.rdbuf();
    EXPECT_TRUE(Has(text.str(), " OUT 1209:7A11 04 80 00 00 09 ")) << text.str().substr(0, 2000);
    EXPECT_TRUE(Has(text.str(), " IN  1209:7A11 03 83 01 00 09 00 05 "))
        << text.str().substr(0, 2000);
}

// Catches: bad input that runs on, or answers with more than one line.
TEST(TerminalRun, BadInputIsOneLineAndExitCodeTwo) {
    for (const std::string& arguments :
         {std::string("--wait=90000"),
          std::string("--trace=/nonexistent/dir/t.txt --emulate") + kFast,
          std::string("--emulate=nosuch") + kFast, std::string("status --bogus")}) {
        const Result r = RunProgram(arguments, "", "&1 >/dev/null");
        EXPECT_EQ(r.status, 2) << arguments;
        EXPECT_EQ(LinesOf(r.output).size(), 1u) << arguments << ": " << r.output;
    }
}

// Catches: --help, the manual section and the README drifting apart on
// the exit codes (all three come from, or must match, one table).
TEST(TerminalRun, ExitCodesInHelpManualAndReadmeAreTheSame) {
    std::map<std::string, std::string> help;
    bool inTable = false;
    for (const std::string& line : LinesOf(RunProgram("--help").output)) {
        if (line == "Exit status:") {
            inTable = true;
        } else if (inTable && line.size() > 2) {
            std::istringstream fields(line);
            std::string code;
            fields >> code;
            std::string meaning;
            std::getline(fields >> std::ws, meaning);
            help[code] = meaning;
        }
    }
    ASSERT_GE(help.size(), 12u);
    for (const char* readme : {"/README.md", "/programs/talvo-update/README.md"}) {
        std::ifstream in(std::string(TALVO_SOURCE_DIR) + readme);
        ASSERT_TRUE(in) << readme;
        std::map<std::string, std::string> documented;
        bool table = false;
        for (std::string line; std::getline(in, line);) {
            if (line.rfind("| Exit code |", 0) == 0) {
                table = true;
            } else if (table && line.rfind("| ", 0) == 0) {
                const std::size_t bar = line.find(" | ", 2);
                documented[line.substr(2, bar - 2)] = line.substr(bar + 3, line.size() - bar - 5);
            } else if (table && line.rfind("|---", 0) != 0) {
                table = false;
            }
        }
        EXPECT_EQ(documented, help) << readme;
    }
}

// Catches: an update run with two units attached that picks one of them by
// itself (it restarted one and flashed the other): it refuses before
// touching either, naming both ports and the two ways to choose.
TEST(TerminalRun, SeveralUnitsAndNoneChosenIsRefused) {
    const Result r =
        RunProgram(std::string("--emulate=outdated,update-mode --units=2 --yes") + kFast);
    EXPECT_EQ(r.status, 31) << r.output;
    EXPECT_TRUE(Has(r.output, "emulated-1  normal")) << r.output;
    EXPECT_TRUE(Has(r.output, "emulated-2  update")) << r.output;
    EXPECT_TRUE(Has(r.output, "--device=PORT")) << r.output;
    EXPECT_TRUE(Has(r.output, "--all")) << r.output;
    EXPECT_FALSE(Has(r.output, "%")) << "a unit was touched: " << r.output;
}

// Catches: --device updating whichever unit answers first, and a list
// that scripts cannot read back.
TEST(TerminalRun, ListJsonNamesEveryUnitAndDeviceUpdatesTheNamedOne) {
    const std::string units = " --emulate=update-mode,outdated --units=2";
    const Result list = RunProgram("list --json" + units + " --timing=none", "", "/dev/null");
    ASSERT_EQ(list.status, 0) << list.output;
    const auto parsed = nlohmann::json::parse(list.output, nullptr, false);
    ASSERT_TRUE(parsed.is_array()) << list.output;
    ASSERT_EQ(parsed.size(), 2u);
    EXPECT_EQ(parsed[0]["port"], "emulated-1");
    EXPECT_EQ(parsed[0]["mode"], "update");
    EXPECT_EQ(parsed[1]["port"], "emulated-2");
    EXPECT_EQ(parsed[1]["device_versions"]["Normal"], "1.00");
    EXPECT_EQ(parsed[1]["may_open"], true);
    // The unit in normal mode sits second: a run that took the first one
    // found (the other, in update mode) would read 1.00 back at the end.
    const Result r = RunProgram("--device=emulated-2" + units + kFast);
    EXPECT_EQ(r.status, 0) << r.output;
    EXPECT_TRUE(Has(r.output, "Updated and verified.")) << r.output;
    EXPECT_FALSE(Has(r.output, "in update mode")) << "it looked at the other unit: " << r.output;
}

// Catches: --all leaving a unit out, mixing up whose progress is whose, or
// exiting 0 when one unit failed.
TEST(TerminalRun, AllUpdatesEveryUnitEachByItsPortAndFailsWhenOneFails) {
    const Result r = RunProgram(
        std::string("--all --emulate=outdated,update-mode,current,mixed --units=4 --yes") + kFast);
    EXPECT_EQ(r.status, 0) << r.output;
    for (int unit = 1; unit <= 4; ++unit) {
        const std::string port = "emulated-" + std::to_string(unit);
        EXPECT_TRUE(Has(r.output, port + ": 100%")) << r.output;
        EXPECT_TRUE(Has(r.output, port + ": exit 0")) << r.output;
    }
    EXPECT_TRUE(Has(r.output, "4 of 4 units updated")) << r.output;
    const Result failed = RunProgram(
        std::string("--all --emulate=outdated,setinfo-error --units=2 --progress=json") + kFast, "",
        "/dev/null");
    EXPECT_EQ(failed.status, 32) << failed.output;
    std::map<std::string, int> results;
    for (const std::string& line : LinesOf(failed.output)) {
        const auto event = nlohmann::json::parse(line, nullptr, false);
        ASSERT_TRUE(event.is_object()) << line;
        ASSERT_TRUE(event.contains("port")) << line;
        if (event["event"] == "result") {
            results[event["port"]] = event["exit_code"];
        }
    }
    EXPECT_EQ(results, (std::map<std::string, int>{{"emulated-1", 0}, {"emulated-2", 25}}));
}

// Catches: a trace file that follows a symbolic link (a root run then
// truncates the link's target) or that others may read.
TEST(TerminalRun, TraceRefusesASymbolicLinkAndIsPrivate) {
    const std::string dir = ::testing::TempDir();
    const std::string target = dir + "/talvo-trace-target";
    const std::string link = dir + "/talvo-trace-link";
    const std::string trace = dir + "/talvo-trace-new";
    std::remove(link.c_str());
    std::remove(trace.c_str());
    std::ofstream(target) << "keep me\n";
    ASSERT_EQ(::symlink(target.c_str(), link.c_str()), 0);
    EXPECT_EQ(RunProgram("--trace=" + link + " --emulate" + kFast).status, 2);
    std::ifstream kept(target);
    std::string line;
    std::getline(kept, line);
    EXPECT_EQ(line, "keep me");
    ASSERT_EQ(RunProgram("--trace=" + trace + " --emulate" + kFast).status, 0);
    struct stat info {};
    ASSERT_EQ(::stat(trace.c_str(), &info), 0);
    EXPECT_EQ(info.st_mode & 0777, 0600u);
}

// Catches: a manual page whose synopsis and options fall behind the
// program's (it lacked status, --progress=json, --trace and --no-verify).
TEST(TerminalRun, ManualPageCoversEveryOptionOfHelp) {
    const auto optionsIn = [](const std::string& text) {
        std::set<std::string> found;
        for (std::size_t at = text.find("--"); at != std::string::npos;
             at = text.find("--", at + 2)) {
            std::size_t end = at + 2;
            while (end < text.size() &&
                   (std::islower(static_cast<unsigned char>(text[end])) || text[end] == '-')) {
                ++end;
            }
            if (end > at + 2) {
                found.insert(text.substr(at, end - at));
            }
        }
        return found;
    };
    std::ifstream in(std::string(TALVO_SOURCE_DIR) + "/packaging/man/talvo-update.1");
    ASSERT_TRUE(in);
    std::string page((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    std::string unescaped;
    for (std::size_t i = 0; i < page.size(); ++i) {
        if (page[i] == '\\' && i + 1 < page.size() && page[i + 1] == '-') {
            continue;  // roff's \- is a plain hyphen
        }
        unescaped += page[i];
    }
    const std::string help = RunProgram("--help").output;
    EXPECT_EQ(optionsIn(unescaped), optionsIn(help));
    for (const char* command : {"status", "list"}) {
        EXPECT_TRUE(Has(unescaped, std::string(".B talvo-update ") + command)) << command;
        EXPECT_TRUE(Has(help, std::string("talvo-update ") + command)) << command;
    }
}

// Catches: a closed terminal (SIGHUP, an ssh session that ended) killing a
// run in the middle of the update: it is held like Ctrl+C.
TEST(TerminalRun, HangUpDuringTheUpdateDoesNotEndIt) {
    const std::string command = std::string("sh -c '") + TALVO_UPDATE_PATH +
                                " --emulate --timing=none --speed=5 --accept-agreement"
                                " >/dev/null 2>&1 & p=$!; sleep 1; kill -HUP $p; wait $p'";
    const int raw = std::system(command.c_str());
    ASSERT_TRUE(WIFEXITED(raw));
    EXPECT_EQ(WEXITSTATUS(raw), 0);
}

}  // namespace
