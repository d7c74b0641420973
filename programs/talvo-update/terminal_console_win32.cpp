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

std::FILE* OpenTraceFile(const std::string& path) {
    // A symbolic link (a reparse point) is refused, as on Linux.
    const DWORD attributes = GetFileAttributesA(path.c_str());
    if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0) {
        return nullptr;
    }
    return std::fopen(path.c_str(), "w");
}

std::vector<int> RunWorkers(const std::vector<std::string>&, const std::vector<std::string>&,
                            const WorkerLine&) {
    return {};
}

}  // namespace talvo::terminal
