#include "app/terminal/terminal_options.h"

#include <cctype>

#include <CLI/CLI.hpp>

namespace talvo::terminal {

namespace {

// CLI11's messages can span lines; a script wants one.
std::string OneLine(std::string text) {
    for (char& c : text) {
        if (c == '\n' || c == '\r') {
            c = ' ';
        }
    }
    while (!text.empty() && text.back() == ' ') {
        text.pop_back();
    }
    return text;
}

}  // namespace

bool ParseOptions(const std::vector<std::string>& args, Options& options, std::string& error) {
    CLI::App app("talvo-update");
    app.set_help_flag();  // the usage text is HelpText()
    app.allow_windows_style_options(false);
    app.add_flag("-h,--help", options.help);
    // "--emulate" alone takes the default scenario; "--emulate=NAME" names
    // one. A flag never takes the next argument as its value.
    app.add_flag("--emulate{" + options.scenario + "}", options.scenario);
    app.add_flag("--list-scenarios", options.listScenarios);
    std::string timing;
    app.add_option("--timing", timing)->check(CLI::IsMember({"none", "full", "high"}));
    unsigned speed = 1;
    app.add_option("--speed", speed)->check(CLI::Range(1u, 1000u));
    app.add_flag("-y,--yes", options.yes);
    app.add_flag("--accept-agreement", options.acceptAgreement);
    app.add_flag("--show-agreement", options.showAgreement);
    app.add_option("--wait", options.waitSeconds)->check(CLI::Range(0u, 86400u));
    std::string language;
    app.add_option("--language", language)->check(CLI::IsMember({"en", "ja", "zh"}));
    std::string progress;
    app.add_option("--progress", progress)->check(CLI::IsMember({"bar", "lines", "json"}));
    bool noVerify = false;
    app.add_flag("--no-verify", noVerify);
    app.add_option("--trace", options.traceFile);
    CLI::App* status = app.add_subcommand("status", "report the TALVO's state and exit");
    status->add_flag("--json", options.json);
    status->fallthrough();  // the run's options may also follow "status"
    app.require_subcommand(0, 1);

    // "--wait=" would make CLI11 take the next argument as the value.
    for (const std::string& arg : args) {
        if (arg.size() > 3 && arg.compare(0, 2, "--") == 0 && arg.back() == '=') {
            error = arg + " needs a value";
            return false;
        }
    }
    std::vector<std::string> reversed(args.rbegin(), args.rend());
    try {
        app.parse(reversed);
    } catch (const CLI::ParseError& e) {
        error = OneLine(e.what());
        return false;
    }

    options.emulate = app.count("--emulate") > 0;
    if (!timing.empty()) {
        options.timing = timing == "none"   ? Timing::kNone
                         : timing == "high" ? Timing::kHighSpeed
                                            : Timing::kFullSpeed;
    }
    if (app.count("--speed") > 0) {
        options.speed = static_cast<double>(speed);
        if (!options.emulate) {
            error = "--speed only applies with --emulate";
            return false;
        }
    }
    if (!language.empty()) {
        options.language = language == "ja"   ? kLanguageJapanese
                           : language == "zh" ? kLanguageChinese
                                              : kLanguageEnglish;
    }
    if (progress == "bar" || progress == "lines") {
        options.progressBar = progress == "bar";
    }
    options.progressJson = progress == "json";
    options.verify = !noVerify;
    if (app.count("--trace") > 0 && options.traceFile.empty()) {
        error = "--trace needs a file name";
        return false;
    }
    if (status->parsed()) {
        options.command = Command::kStatus;
    }
    return true;
}

std::string HelpText() {
    std::string text = R"(Usage: talvo-update [OPTION]...
       talvo-update status [--json] [OPTION]...
Install the firmware this program carries into a TALVO on a USB port.

Waits for the TALVO, shows its firmware versions beside the package's,
and updates it. When the device already has this firmware it asks first.
After the update it waits for the TALVO to come back and reads its
versions again. A TALVO found in update mode (an earlier update did not
finish) is updated when confirmed, or with --yes.
"status" only reports the TALVO's mode and versions, the package's
versions and whether an update is needed; --json gives one JSON object.

  --accept-agreement     accept the licence agreement without a prompt
  --show-agreement       print the licence agreement before asking for it
  -y, --yes              update also when no update is needed, without asking
  --wait=SECONDS         how long to wait for the TALVO (default 30)
  --language=en|ja|zh    language of the messages (default: from the locale)
  --progress=bar|lines|json  progress as a bar, as percentage lines, or as
                         one JSON object per line (the texts then go to
                         standard error; default: a bar on a terminal,
                         lines otherwise)
  --no-verify            do not read the versions back after the update
  --trace=FILE           write every report to and from the TALVO to FILE
  --emulate[=SCENARIO]   run against an emulated TALVO inside this program
                         (default scenario: outdated)
  --list-scenarios       list the emulator's scenarios and exit
  --timing=none|full|high  USB timing of the emulated TALVO (default full)
  --speed=N              run the emulated run's clock N times faster
  -h, --help             show this text and exit

Exit status:
)";
    for (const ExitCodeRow& row : ExitCodeTable()) {
        std::string label = ExitCodeLabel(row);
        label.resize(6, ' ');
        text += "  " + label + row.meaning + "\n";
    }
    return text;
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
