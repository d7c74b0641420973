// Command line of the terminal front end, and the small pieces of text work
// it needs (UTF-16 to UTF-8, locale names to locale identifiers, the
// progress bar), kept apart from main so they can be tested. The command
// line is read with CLI11; the usage text is our own.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "shell/language.h"
#include "shell/locale_text.h"
#include "programs/talvo-update/terminal_exit_codes.h"

namespace talvo::terminal {

enum class Timing { kNone, kFullSpeed, kHighSpeed };

// What the run does: update the TALVO (no subcommand), only report its
// state ("status"), or list the attached units ("list").
enum class Command { kUpdate, kStatus, kList };

struct Options {
    Command command = Command::kUpdate;
    bool json = false;  // status: one JSON object on standard output
    bool help = false;
    bool emulate = false;
    std::string scenario = "outdated";
    Timing timing = Timing::kFullSpeed;
    double speed = 1.0;  // clock speed-up (emulated runs only)
    bool yes = false;    // update even when not needed, without asking
    bool acceptAgreement = false;
    bool showAgreement = false;
    std::uint32_t waitSeconds = 30;
    std::optional<LanguageIndex> language;
    std::optional<bool> progressBar;  // unset: a bar on a terminal, lines otherwise
    bool progressJson = false;        // one JSON object per line on standard output
    bool verify = true;               // read the versions back after the update
    std::string traceFile;            // empty: no wire trace
    bool listScenarios = false;
    std::string device;  // --device=PORT: that unit only (empty: the one there is)
    bool all = false;    // --all: every attached unit at once, a worker each
    int units = 1;       // --units=N: emulated units, one port each
};

// Parses argv[1..]; false with a one-line message in `error` for a bad
// command line.
bool ParseOptions(const std::vector<std::string>& args, Options& options, std::string& error);

// The usage text.
std::string HelpText();

// `text` (UTF-8) with every control character, C0, DEL and C1, replaced by
// '?': what a device sends never reaches the terminal as a control sequence.
std::string PrintableText(const std::string& text);

// "[#########...........]  45%" with `width` cells between the brackets.
std::string ProgressBar(unsigned percent, int width);

}  // namespace talvo::terminal
