#include <signal.h>
#include <unistd.h>

#include <cstdlib>

#include "programs/talvo-update/terminal_console.h"
#include "programs/talvo-update/terminal_options.h"

namespace talvo::terminal {

namespace {

void NoteInterrupt(int) {
    static const char note[] = "\nThe update is running and cannot be stopped; please wait.\n";
    const ssize_t written = write(STDERR_FILENO, note, sizeof note - 1);
    (void)written;
}

}  // namespace

void PrepareConsole() {}

bool IsTerminal(int stream) {
    return isatty(stream == 0 ? STDIN_FILENO : STDOUT_FILENO) == 1;
}

std::uint32_t UserLcid() {
    return LcidFromLocaleName(LocaleNameFromEnvironment(
        std::getenv("LC_ALL"), std::getenv("LC_MESSAGES"), std::getenv("LANG")));
}

void HoldInterrupts(bool hold) {
    struct sigaction action {};
    action.sa_handler = hold ? &NoteInterrupt : SIG_DFL;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    sigaction(SIGINT, &action, nullptr);
    sigaction(SIGTERM, &action, nullptr);
}

}  // namespace talvo::terminal
