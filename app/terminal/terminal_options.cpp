#include "app/terminal/terminal_options.h"

#include <cctype>
#include <cstdlib>

namespace talvo::terminal {

int ExitCodeForResult(std::int32_t result) {
    if (result == 0) {
        return kExitSuccess;
    }
    const std::int32_t magnitude = result < 0 ? -result : result;
    return kExitUpdateFailedBase + (magnitude > 99 ? 99 : magnitude);
}

namespace {

bool TakeValue(std::string_view arg, std::string_view name, std::string* value) {
    if (arg.substr(0, name.size()) != name) {
        return false;
    }
    if (arg.size() == name.size()) {
        value->clear();
        return true;
    }
    if (arg[name.size()] != '=') {
        return false;
    }
    *value = std::string(arg.substr(name.size() + 1));
    return true;
}

bool ParseUnsigned(const std::string& text, unsigned long max, unsigned long* out) {
    if (text.empty() || text.size() > 9) {
        return false;
    }
    unsigned long value = 0;
    for (const char c : text) {
        if (c < '0' || c > '9') {
            return false;
        }
        value = value * 10 + static_cast<unsigned long>(c - '0');
    }
    if (value > max) {
        return false;
    }
    *out = value;
    return true;
}

}  // namespace

bool ParseOptions(const std::vector<std::string>& args, Options& options, std::string& error) {
    for (const std::string& arg : args) {
        std::string value;
        if (arg == "--help" || arg == "-h") {
            options.help = true;
        } else if (TakeValue(arg, "--emulate", &value)) {
            options.emulate = true;
            if (!value.empty()) {
                options.scenario = value;
            } else if (arg.size() > 9) {
                error = "--emulate= needs a scenario name";
                return false;
            }
        } else if (arg == "--list-scenarios") {
            options.listScenarios = true;
        } else if (TakeValue(arg, "--timing", &value)) {
            if (value == "none") {
                options.timing = Timing::kNone;
            } else if (value == "full") {
                options.timing = Timing::kFullSpeed;
            } else if (value == "high") {
                options.timing = Timing::kHighSpeed;
            } else {
                error = "--timing must be none, full or high";
                return false;
            }
        } else if (TakeValue(arg, "--speed", &value)) {
            unsigned long speed = 0;
            if (!ParseUnsigned(value, 1000, &speed) || speed == 0) {
                error = "--speed must be a whole number from 1 to 1000";
                return false;
            }
            options.speed = static_cast<double>(speed);
        } else if (arg == "--yes" || arg == "-y") {
            options.yes = true;
        } else if (arg == "--accept-agreement") {
            options.acceptAgreement = true;
        } else if (arg == "--show-agreement") {
            options.showAgreement = true;
        } else if (TakeValue(arg, "--wait", &value)) {
            unsigned long seconds = 0;
            if (!ParseUnsigned(value, 86400, &seconds)) {
                error = "--wait must be a number of seconds from 0 to 86400";
                return false;
            }
            options.waitSeconds = static_cast<std::uint32_t>(seconds);
        } else if (TakeValue(arg, "--language", &value)) {
            if (value == "en") {
                options.language = kLanguageEnglish;
            } else if (value == "ja") {
                options.language = kLanguageJapanese;
            } else if (value == "zh") {
                options.language = kLanguageChinese;
            } else {
                error = "--language must be en, ja or zh";
                return false;
            }
        } else if (arg == "--progress=bar") {
            options.progressBar = true;
        } else if (arg == "--progress=lines") {
            options.progressBar = false;
        } else {
            error = "unknown option: " + arg;
            return false;
        }
    }
    if (!options.emulate && (options.speed != 1.0)) {
        error = "--speed only applies with --emulate";
        return false;
    }
    return true;
}

std::string HelpText() {
    return R"(Usage: talvo-update [OPTION]...
Install the firmware this program carries into a TALVO on a USB port.

Waits for the TALVO, shows its firmware versions beside the package's,
and updates it. When the device already has this firmware it asks first.

  --accept-agreement     accept the licence agreement without a prompt
  --show-agreement       print the licence agreement before asking for it
  -y, --yes              update also when no update is needed, without asking
  --wait=SECONDS         how long to wait for the TALVO (default 30)
  --language=en|ja|zh    language of the messages (default: from the locale)
  --progress=bar|lines   progress as a bar, or as percentage lines
                         (default: a bar on a terminal, lines otherwise)
  --emulate[=SCENARIO]   run against an emulated TALVO inside this program
                         (default scenario: outdated)
  --list-scenarios       list the emulator's scenarios and exit
  --timing=none|full|high  USB timing of the emulated TALVO (default full)
  --speed=N              run the emulated run's clock N times faster
  -h, --help             show this text and exit

Exit status:
  0   the firmware was updated
  2   bad command line
  3   the licence agreement was not accepted
  4   no update was needed and it was not confirmed
  5   no TALVO was found in time
  6   the program carries no usable firmware package
  7   the update could not be started
  11-26  the update failed; the code is 10 plus the failure number
)";
}

std::uint32_t LcidFromLocaleName(std::string_view name) {
    // Language and territory, without encoding or modifier.
    const std::size_t cut = name.find_first_of(".@");
    std::string base(name.substr(0, cut));
    for (char& c : base) {
        if (c == '-') {
            c = '_';
        }
    }
    std::string language = base.substr(0, base.find('_'));
    for (char& c : language) {
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    }
    const std::string territory =
        base.find('_') == std::string::npos ? std::string() : base.substr(base.find('_') + 1);
    if (base.empty() || base == "C" || base == "POSIX") {
        return 0x0409;
    }
    if (language == "en") {
        return 0x0409;
    }
    if (language == "ja") {
        return 0x0411;
    }
    if (language == "zh") {
        if (territory == "TW" || territory == "Hant" || territory == "Hant_TW") {
            return 0x0404;
        }
        if (territory == "HK") {
            return 0x0C04;
        }
        if (territory == "SG") {
            return 0x1004;
        }
        return 0x0804;
    }
    struct Pair {
        const char* language;
        std::uint32_t lcid;
    };
    static const Pair others[] = {{"de", 0x0407}, {"fr", 0x040C}, {"es", 0x0C0A}, {"it", 0x0410},
                                  {"ko", 0x0412}, {"nl", 0x0413}, {"pt", 0x0416}, {"ru", 0x0419}};
    for (const Pair& p : others) {
        if (language == p.language) {
            return p.lcid;
        }
    }
    return 0;
}

std::string LocaleNameFromEnvironment(const char* lcAll, const char* lcMessages, const char* lang) {
    for (const char* value : {lcAll, lcMessages, lang}) {
        if (value != nullptr && value[0] != '\0') {
            return value;
        }
    }
    return std::string();
}

std::string ToUtf8(std::u16string_view text) {
    std::string out;
    out.reserve(text.size());
    for (std::size_t i = 0; i < text.size(); ++i) {
        std::uint32_t c = text[i];
        if (c >= 0xD800 && c <= 0xDBFF && i + 1 < text.size() && text[i + 1] >= 0xDC00 &&
            text[i + 1] <= 0xDFFF) {
            c = 0x10000 + ((c - 0xD800) << 10) + (text[i + 1] - 0xDC00u);
            ++i;
        } else if (c >= 0xD800 && c <= 0xDFFF) {
            c = 0xFFFD;  // a lone surrogate
        }
        if (c < 0x80) {
            out.push_back(static_cast<char>(c));
        } else if (c < 0x800) {
            out.push_back(static_cast<char>(0xC0 | (c >> 6)));
            out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
        } else if (c < 0x10000) {
            out.push_back(static_cast<char>(0xE0 | (c >> 12)));
            out.push_back(static_cast<char>(0x80 | ((c >> 6) & 0x3F)));
            out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
        } else {
            out.push_back(static_cast<char>(0xF0 | (c >> 18)));
            out.push_back(static_cast<char>(0x80 | ((c >> 12) & 0x3F)));
            out.push_back(static_cast<char>(0x80 | ((c >> 6) & 0x3F)));
            out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
        }
    }
    return out;
}

std::string ToTerminalText(std::u16string_view text) {
    std::string out = ToUtf8(text);
    std::string cleaned;
    cleaned.reserve(out.size());
    for (const char c : out) {
        if (c != '\r') {
            cleaned.push_back(c);
        }
    }
    return cleaned;
}

std::string AgreementToUtf8(const std::uint8_t* bytes, std::size_t size) {
    std::u16string text;
    std::size_t i = 0;
    if (size >= 2 && bytes[0] == 0xFF && bytes[1] == 0xFE) {
        i = 2;
    }
    for (; i + 1 < size; i += 2) {
        text.push_back(static_cast<char16_t>(bytes[i] | (bytes[i + 1] << 8)));
    }
    return ToTerminalText(text);
}

std::string ProgressBar(unsigned percent, int width) {
    if (percent > 100) {
        percent = 100;
    }
    if (width < 1) {
        width = 1;
    }
    const int filled = static_cast<int>(percent * static_cast<unsigned>(width) / 100);
    std::string bar = "[";
    bar.append(static_cast<std::size_t>(filled), '#');
    bar.append(static_cast<std::size_t>(width - filled), '.');
    bar += "] ";
    const std::string number = std::to_string(percent);
    bar.append(3 - number.size(), ' ');
    bar += number + "%";
    return bar;
}

}  // namespace talvo::terminal
