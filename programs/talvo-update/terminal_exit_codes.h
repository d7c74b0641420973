// The exit codes of talvo-update: one per cause, and the one table that
// --help, the manual section (programs/talvo-update/README.md) and the top-level
// README show. A new cause is one enumerator and one row of the table.
#pragma once

#include <cstdint>
#include <span>
#include <string>

namespace talvo::terminal {

enum ExitCode : int {
    kExitSuccess = 0,
    kExitRecoveryNotConfirmed = 1,
    kExitUsage = 2,
    kExitAgreementDeclined = 3,
    kExitNotConfirmed = 4,
    kExitNoDevice = 5,
    kExitNoPackage = 6,
    kExitInternal = 7,
    kExitUpdateNeeded = 8,
    kExitCannotOpen = 9,
    // A failed update exits with this plus the failure number: 11..26 for
    // the results -1..-16.
    kExitUpdateFailedBase = 10,
    kExitVerifyMismatch = 27,
    kExitVerifyNotBack = 28,
    kExitNoAccess = 29,         // a TALVO is present, but this user may not open it
    kExitInUse = 30,            // another updater converses with the unit
    kExitSeveralUnits = 31,     // several units attached and none chosen
    kExitSomeUnitsFailed = 32,  // --all: at least one unit was not updated
};

// One row: the codes first..last (equal for a single code) and what they mean.
struct ExitCodeRow {
    int first;
    int last;
    const char* meaning;
};

std::span<const ExitCodeRow> ExitCodeTable();

// "11-26" for a range, "5" for one code.
std::string ExitCodeLabel(const ExitCodeRow& row);
// What the code means, from the table; empty for a code not in it.
std::string ExitCodeMeaning(int code);

int ExitCodeForResult(std::int32_t result);

}  // namespace talvo::terminal
