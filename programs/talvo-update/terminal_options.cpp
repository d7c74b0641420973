#include "programs/talvo-update/terminal_options.h"

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
    app.add_option("--device", options.device);
    app.add_flag("--all", options.all);
    app.add_option("--units", options.units)->check(CLI::Range(1, 16));
    CLI::App* status = app.add_subcommand("status", "report the TALVO's state and exit");
    status->add_flag("--json", options.json);
    status->fallthrough();  // the run's options may also follow "status"
    CLI::App* list = app.add_subcommand("list", "list the attached units and exit");
    list->add_flag("--json", options.json);
    list->fallthrough();
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
    if (list->parsed()) {
        options.command = Command::kList;
    }
    if (app.count("--device") > 0 && options.device.empty()) {
        error = "--device needs a port (see talvo-update list)";
        return false;
    }
    if (options.all && (options.command != Command::kUpdate || !options.device.empty())) {
        error = "--all updates every unit: it goes with neither a subcommand nor --device";
        return false;
    }
    if (options.all && !options.acceptAgreement) {
        error = "--all needs --accept-agreement (no unit asks for it)";
        return false;
    }
    if (app.count("--units") > 0 && !options.emulate) {
        error = "--units only applies with --emulate";
        return false;
    }
    return true;
}

std::string HelpText() {
    std::string text = R"(Usage: talvo-update [OPTION]...
       talvo-update status [--json] [OPTION]...
       talvo-update list [--json] [OPTION]...
Install the firmware this program carries into a TALVO on a USB port.

Waits for the TALVO, shows its firmware versions beside the package's,
and updates it. When the device already has this firmware it asks first.
After the update it waits for the TALVO to come back and reads its
versions again. A TALVO found in update mode (an earlier update did not
finish) is updated when confirmed, or with --yes.
"status" only reports the TALVO's mode and versions, the package's
versions and whether an update is needed; --json gives one JSON object.
"list" prints one line per attached TALVO (one JSON array with --json):
its port, mode, versions and whether this user may open it.
With several TALVO units attached, an update or status names one with
--device=PORT, or updates them all at once with --all.

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
  --device=PORT          only the TALVO plugged in at PORT (see "list")
  --all                  update every attached TALVO at once, each in a
                         process of its own (needs --accept-agreement)
  --emulate[=SCENARIO]   run against an emulated TALVO inside this program
                         (default scenario: outdated)
  --list-scenarios       list the emulator's scenarios and exit
  --timing=none|full|high  USB timing of the emulated TALVO (default full)
  --speed=N              run the emulated run's clock N times faster
  --units=N              emulate N TALVO units, on ports emulated-1..N
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

std::string PrintableText(const std::string& text) {
    std::string shown;
    shown.reserve(text.size());
    for (std::size_t i = 0; i < text.size(); ++i) {
        const auto c = static_cast<unsigned char>(text[i]);
        if (c < 0x20 || c == 0x7F) {
            shown += '?';
        } else if (c == 0xC2 && i + 1 < text.size() &&
                   static_cast<unsigned char>(text[i + 1]) >= 0x80 &&
                   static_cast<unsigned char>(text[i + 1]) <= 0x9F) {
            shown += '?';  // U+0080..U+009F, the C1 controls (CSI among them)
            ++i;
        } else {
            shown += text[i];
        }
    }
    return shown;
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
