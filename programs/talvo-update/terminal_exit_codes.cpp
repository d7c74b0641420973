#include "programs/talvo-update/terminal_exit_codes.h"

#include "protocol/result_code.h"

namespace talvo::terminal {

// The update's failures run from -1 to -16, so their codes stay below the
// verification's.
static_assert(kExitUpdateFailedBase - kResultWriteFailed < kExitVerifyMismatch);

namespace {

constexpr ExitCodeRow kTable[] = {
    {kExitSuccess, kExitSuccess, "updated (and verified, unless --no-verify); status: up to date"},
    {kExitRecoveryNotConfirmed, kExitRecoveryNotConfirmed,
     "the TALVO waits in update mode; the update was not confirmed"},
    {kExitUsage, kExitUsage, "bad command line"},
    {kExitAgreementDeclined, kExitAgreementDeclined, "the licence agreement was not accepted"},
    {kExitNotConfirmed, kExitNotConfirmed, "no update was needed and it was not confirmed"},
    {kExitNoDevice, kExitNoDevice, "no TALVO was found in time"},
    {kExitNoPackage, kExitNoPackage, "the program carries no usable firmware package"},
    {kExitInternal, kExitInternal, "the update could not be started"},
    {kExitUpdateNeeded, kExitUpdateNeeded, "status: the TALVO needs an update"},
    {kExitCannotOpen, kExitCannotOpen, "a TALVO was found but cannot be opened"},
    {kExitUpdateFailedBase + 1, kExitUpdateFailedBase - kResultWriteFailed,
     "the update failed; the code is 10 plus the failure number"},
    {kExitVerifyMismatch, kExitVerifyMismatch,
     "updated, but the TALVO came back with other versions"},
    {kExitVerifyNotBack, kExitVerifyNotBack,
     "updated, but the TALVO did not come back in normal mode"},
    {kExitNoAccess, kExitNoAccess,
     "a TALVO is connected but this user may not open it (see the udev rule)"},
    {kExitInUse, kExitInUse, "the TALVO is in use by another updater"},
    {kExitSeveralUnits, kExitSeveralUnits,
     "several TALVO units are attached and none was chosen (--device or --all)"},
    {kExitSomeUnitsFailed, kExitSomeUnitsFailed, "--all: at least one unit was not updated"},
};

}  // namespace

std::span<const ExitCodeRow> ExitCodeTable() {
    return kTable;
}

std::string ExitCodeLabel(const ExitCodeRow& row) {
    return row.first == row.last ? std::to_string(row.first)
                                 : std::to_string(row.first) + "-" + std::to_string(row.last);
}

std::string ExitCodeMeaning(int code) {
    for (const ExitCodeRow& row : kTable) {
        if (code >= row.first && code <= row.last) {
            return row.meaning;
        }
    }
    return std::string();
}

int ExitCodeForResult(std::int32_t result) {
    if (result == 0) {
        return kExitSuccess;
    }
    const std::int32_t magnitude = result < 0 ? -result : result;
    return kExitUpdateFailedBase + (magnitude > 99 ? 99 : magnitude);
}

}  // namespace talvo::terminal
