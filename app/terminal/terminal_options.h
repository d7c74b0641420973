// Command line of the terminal front end, and the small pieces of text work
// it needs (UTF-16 to UTF-8, locale names to locale identifiers, the
// progress bar), kept apart from main so they can be tested.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "app/language.h"

namespace talvo::terminal {

// Exit codes, one per cause. A failed update exits with
// kExitUpdateFailedBase + |result| (11..26 for the results -1..-16).
enum ExitCode : int {
    kExitSuccess = 0,
    kExitUsage = 2,
    kExitAgreementDeclined = 3,
    kExitNotConfirmed = 4,
    kExitNoDevice = 5,
    kExitNoPackage = 6,
    kExitInternal = 7,
    kExitNoAccess = 8,  // a TALVO is present, but this user may not open it
    kExitUpdateFailedBase = 10,
};

int ExitCodeForResult(std::int32_t result);

enum class Timing { kNone, kFullSpeed, kHighSpeed };

struct Options {
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
    bool listScenarios = false;
};

// Parses argv[1..]; false with a message in `error` for a bad command line.
bool ParseOptions(const std::vector<std::string>& args, Options& options, std::string& error);

// The usage text.
std::string HelpText();

// A locale identifier for a POSIX locale name such as "ja_JP.UTF-8":
// English 0x0409 (also for "C", "POSIX" and an empty name), Japanese 0x0411,
// Chinese (PRC) 0x0804, (Taiwan) 0x0404, (Hong Kong) 0x0C04,
// (Singapore) 0x1004, a few others by language, 0x0000 otherwise.
std::uint32_t LcidFromLocaleName(std::string_view name);
// The locale name that decides the language: LC_ALL, else LC_MESSAGES,
// else LANG (the first that is set and not empty).
std::string LocaleNameFromEnvironment(const char* lcAll, const char* lcMessages, const char* lang);

std::string ToUtf8(std::u16string_view text);
// Catalogue texts use CR LF line breaks; a terminal wants LF.
std::string ToTerminalText(std::u16string_view text);
// An agreement resource (UTF-16LE, optionally starting with FF FE) as UTF-8.
std::string AgreementToUtf8(const std::uint8_t* bytes, std::size_t size);

// "[#########...........]  45%" with `width` cells between the brackets.
std::string ProgressBar(unsigned percent, int width);

}  // namespace talvo::terminal
