// talvo-updater: the firmware updater as a desktop program (Qt Widgets).
#include <QApplication>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "shell/app_data.h"
#include "programs/talvo-updater/qt_text.h"
#include "programs/talvo-updater/sleep_inhibitor.h"
#include "programs/talvo-updater/updater_run.h"
#include "shell/version_block.h"
#include "emulator/scenario.h"
#include "resources/resource_ids.h"

int main(int argc, char** argv) {
    using namespace talvo;
    // Help and the scenario list need no display.
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--help") == 0 || std::strcmp(argv[i], "-h") == 0) {
            std::fputs(qt::UpdaterHelpText().c_str(), stdout);
            return 0;
        }
        if (std::strcmp(argv[i], "--list-scenarios") == 0) {
            for (const std::string& name : Scenario::Names()) {
                std::printf("%-16s %s\n", name.c_str(), Scenario::Named(name).description.c_str());
            }
            return 0;
        }
    }

    QApplication application(argc, argv);
    QApplication::setQuitOnLastWindowClosed(false);
    QGuiApplication::setDesktopFileName(QStringLiteral("org.talvo.FwUpdater"));

    std::vector<std::string> args;
    const QStringList arguments = QApplication::arguments();
    for (qsizetype i = 1; i < arguments.size(); ++i) {
        args.push_back(arguments[i].toStdString());
    }
    qt::UpdaterOptions options;
    std::string error;
    if (!qt::ParseUpdaterOptions(args, options, error)) {
        std::fprintf(stderr, "talvo-updater: %s\nTry 'talvo-updater --help'.\n", error.c_str());
        return 2;
    }

    g_appData.languageIndex = qt::LanguageFromEnvironment();
    ReadVersionBlock(g_appData);
    qt::LogindInhibitor keepAwake(qt::ProductTitle(g_appData.languageIndex),
                                  qt::Text(kIdsUpdating, g_appData.languageIndex),
                                  qt::Text(kIdsNoKeepAwake, g_appData.languageIndex));
    return qt::RunUpdater(options, g_appData, keepAwake);
}
