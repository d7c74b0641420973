// talvo-update run as a program against its emulated TALVO: what a script
// sees (exit status, output lines).
#include <gtest/gtest.h>

#include <sys/wait.h>

#include <cstdio>
#include <string>

namespace {

struct Result {
    int status = -1;
    std::string output;
};

Result RunProgram(const std::string& arguments, const std::string& environment = "") {
    const std::string command =
        environment + " " + TALVO_UPDATE_PATH + " " + arguments + " </dev/null 2>&1";
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

}  // namespace
