// What the terminal front end needs from the platform's console.
#pragma once

#include <cstdint>

namespace talvo::terminal {

// Makes the console take UTF-8 output (a no-op where it always does).
void PrepareConsole();
// Whether standard input (0) or standard output (1) is an interactive terminal.
bool IsTerminal(int stream);
// The user's locale identifier (from the locale environment on Linux).
std::uint32_t UserLcid();

// While held, an interrupt from the keyboard (Ctrl+C) does not end the
// program; it only prints a note that the update must run to its end. An
// update cut short can leave the device without working firmware.
void HoldInterrupts(bool hold);

}  // namespace talvo::terminal
