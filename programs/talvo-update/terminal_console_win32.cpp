#include <windows.h>

#include "programs/talvo-update/terminal_console.h"

namespace talvo::terminal {

namespace {

BOOL WINAPI NoteInterrupt(DWORD event) {
    if (event == CTRL_C_EVENT || event == CTRL_BREAK_EVENT) {
        static const char note[] = "\nThe update is running and cannot be stopped; please wait.\n";
        DWORD written = 0;
        WriteFile(GetStdHandle(STD_ERROR_HANDLE), note, sizeof note - 1, &written, nullptr);
        return TRUE;
    }
    return FALSE;
}

}  // namespace

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

void HoldInterrupts(bool hold) {
    SetConsoleCtrlHandler(&NoteInterrupt, hold ? TRUE : FALSE);
}

}  // namespace talvo::terminal
