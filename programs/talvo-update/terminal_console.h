// What the terminal front end needs from the platform's console.
#pragma once

#include <cstdint>
#include <cstdio>
#include <functional>
#include <string>
#include <vector>

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
// A closed terminal (SIGHUP, an ssh session that ended) is held the same way.
void HoldInterrupts(bool hold);

// Creates or truncates the wire trace file for writing: a symbolic link is
// refused (the program often runs as root), a new file gets mode 0600.
// Null when it cannot be written.
std::FILE* OpenTraceFile(const std::string& path);

// Runs this program once per port, each with `args` and "--device=PORT",
// standard input from nowhere, and hands every line a worker writes to
// `line` (the worker's index, true for standard output) as it comes.
// Returns each worker's exit code (-1 when it could not be run); empty
// where one process per unit is not available (Windows).
using WorkerLine = std::function<void(std::size_t worker, bool out, const std::string& text)>;
std::vector<int> RunWorkers(const std::vector<std::string>& ports,
                            const std::vector<std::string>& args, const WorkerLine& line);

}  // namespace talvo::terminal
