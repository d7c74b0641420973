#include <unistd.h>

#include <cstdlib>

#include "app/terminal/terminal_console.h"
#include "app/terminal/terminal_options.h"

namespace talvo::terminal {

void PrepareConsole() {}

bool IsTerminal(int stream) {
    return isatty(stream == 0 ? STDIN_FILENO : STDOUT_FILENO) == 1;
}

std::uint32_t UserLcid() {
    return LcidFromLocaleName(LocaleNameFromEnvironment(
        std::getenv("LC_ALL"), std::getenv("LC_MESSAGES"), std::getenv("LANG")));
}

}  // namespace talvo::terminal
