#include <windows.h>

#include "app/terminal/terminal_console.h"

namespace talvo::terminal {

void PrepareConsole() {
    SetConsoleOutputCP(CP_UTF8);
}

bool IsTerminal(int stream) {
    HANDLE handle = GetStdHandle(stream == 0 ? STD_INPUT_HANDLE : STD_OUTPUT_HANDLE);
    DWORD mode = 0;
    return handle != INVALID_HANDLE_VALUE && handle != nullptr && GetConsoleMode(handle, &mode);
}

std::uint32_t UserLcid() {
    return GetUserDefaultLCID();
}

}  // namespace talvo::terminal
