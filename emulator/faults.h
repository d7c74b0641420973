// Faults the emulated device can be told to commit, each at a chosen point:
// a command (group, command, value), a firmware piece, the n-th matching
// request, a report within a request. Faults are armed from tests before or
// while the device runs and fire in the order they were added.
#pragma once

#include <cstdint>
#include <string>

namespace talvo {

enum class FaultKind {
    kErrorStatus,        // answer with `status`/`detail` instead of carrying the request out
    kWrongLength,        // carry it out; the answer declares one payload byte more
    kWrongKind,          // carry it out; the answer's kind is off by two
    kWrongCommand,       // carry it out; the answer names the next command
    kWrongGroup,         // carry it out; the answer names the next group
    kDropResponse,       // carry it out; send no answer
    kLateResponse,       // carry it out; answer after `delayMs`
    kEvent4Response,     // carry it out; answer in one event-4 notification report
    kUnplugMidRequest,   // leave the bus after `afterReports` reports of the request
    kUnplugDuringWrite,  // leave the bus half-way through FU_WRITEFW (nothing committed)
};

const char* FaultKindName(FaultKind kind);

struct Fault {
    FaultKind kind = FaultKind::kErrorStatus;
    int group = -1;    // -1: any
    int command = -1;  // -1: any
    int value = -1;    // request value byte, -1: any
    int piece = -1;    // update-group piece index (offset / 10,240), -1: any
    int skip = 0;      // matching requests let through before the first firing
    int times = 1;     // firings; -1: every matching request from then on
    std::uint8_t status = 0;
    std::uint8_t detail = 0;
    std::uint32_t delayMs = 0;  // kLateResponse
    int afterReports = 1;       // kUnplugMidRequest: reports of the request taken before leaving
    int comeBackAfterMs = -1;   // unplug faults: plugged in again (boots in normal mode) after
                                // this many ms; -1: stays away until told otherwise

    // Book-keeping, updated by the device.
    int seen = 0;
    int fired = 0;

    std::string Describe() const;

    // Shorthands for the common cases.
    static Fault Busy(int versionReads);  // status 19 for the next N version reads
    static Fault Status(int group, int command, std::uint8_t status, int times = 1);
    static Fault Shape(FaultKind kind, int group, int command, int times = 1);
    static Fault Drop(int group, int command, int times = 1);
    static Fault Late(int group, int command, std::uint32_t delayMs, int times = 1);
    static Fault UnplugInRequest(int group, int command, int afterReports);
    // After `afterReports` reports of the FU_FWLOAD that carries piece `piece`.
    static Fault UnplugInPiece(int piece, int afterReports);
    static Fault UnplugInWrite(int piece);
};

// Faults about the device's own comings and goings.
struct ModeFaults {
    int refuseRestarts = 0;         // restart requests answered but not carried out
    int wrongModeReturns = 0;       // restarts that come back in the mode not asked for
    int vanishOnRestart = 0;        // restarts that leave the bus and never come back
    int settleUnplugAfterMs = -1;   // after coming back in update mode, leave again after this
    int fwupVerdict = 0;            // answer to the updater-image confirmation (0 = success)
    int vanishOnNormalRestart = 0;  // restarts into normal mode that never come back
    bool flashDoesNotTake = false;  // images pass every check but flash and versions stay
};

// Every place in a run where a fault can land, numbered in the order the
// device meets them: each output report it takes, each request it carries
// out, each input report it sends, each wait, each time it leaves or
// arrives.
enum class FaultPointKind { kReportOut, kCommand, kReportIn, kWait, kModeChange };
const char* FaultPointKindName(FaultPointKind kind);

struct FaultPoint {
    FaultPointKind kind = FaultPointKind::kReportOut;
    std::string what;  // "FU_FWLOAD report 3", "get 0/6 value=1", "leave", ...
};

// What a fault at one numbered point does.
enum class PointFaultKind {
    kUnplug,          // any point: leaves the bus there, plugged in again (normal mode) later
    kErrorStatus,     // a request: answered with a status other than 0
    kHeaderMismatch,  // a request: the answer names another command
    kDropResponse,    // a request: carried out, not answered
    kLateResponse,    // a request: answered late
    kNeverComesBack,  // any point: leaves the bus there for good
};
const char* PointFaultKindName(PointFaultKind kind);
// Whether the fault applies at that kind of point.
bool PointFaultApplies(PointFaultKind fault, FaultPointKind point);

struct PointFault {
    int point = -1;  // -1: none armed
    PointFaultKind kind = PointFaultKind::kUnplug;
    std::uint8_t status = 0x13;
    std::uint32_t delayMs = 3000;          // kLateResponse
    std::uint32_t comeBackAfterMs = 2000;  // kUnplug
};

}  // namespace talvo
