#include "emulator/faults.h"

#include <cstdio>

namespace talvo {

const char* FaultKindName(FaultKind kind) {
    switch (kind) {
        case FaultKind::kErrorStatus:
            return "error status";
        case FaultKind::kWrongLength:
            return "wrong response length";
        case FaultKind::kWrongKind:
            return "wrong response kind";
        case FaultKind::kWrongCommand:
            return "wrong response command";
        case FaultKind::kWrongGroup:
            return "wrong response group";
        case FaultKind::kDropResponse:
            return "dropped response";
        case FaultKind::kLateResponse:
            return "late response";
        case FaultKind::kEvent4Response:
            return "event-4 response";
        case FaultKind::kUnplugMidRequest:
            return "unplug in request";
        case FaultKind::kUnplugDuringWrite:
            return "unplug during write";
    }
    return "?";
}

std::string Fault::Describe() const {
    char text[160];
    std::snprintf(text, sizeof text, "%s (group %d cmd %d value %d piece %d, firing %d)",
                  FaultKindName(kind), group, command, value, piece, fired);
    return text;
}

Fault Fault::Busy(int versionReads) {
    Fault f = Status(0, 6, 19, versionReads);
    return f;
}

Fault Fault::Status(int group, int command, std::uint8_t status, int times) {
    Fault f;
    f.kind = FaultKind::kErrorStatus;
    f.group = group;
    f.command = command;
    f.status = status;
    f.times = times;
    return f;
}

Fault Fault::Shape(FaultKind kind, int group, int command, int times) {
    Fault f;
    f.kind = kind;
    f.group = group;
    f.command = command;
    f.times = times;
    return f;
}

Fault Fault::Drop(int group, int command, int times) {
    return Shape(FaultKind::kDropResponse, group, command, times);
}

Fault Fault::Late(int group, int command, std::uint32_t delayMs, int times) {
    Fault f = Shape(FaultKind::kLateResponse, group, command, times);
    f.delayMs = delayMs;
    return f;
}

Fault Fault::UnplugInRequest(int group, int command, int afterReports) {
    Fault f = Shape(FaultKind::kUnplugMidRequest, group, command, 1);
    f.afterReports = afterReports;
    return f;
}

Fault Fault::UnplugInPiece(int piece, int afterReports) {
    Fault f = UnplugInRequest(9, 1, afterReports);
    f.piece = piece;
    return f;
}

Fault Fault::UnplugInWrite(int piece) {
    Fault f = Shape(FaultKind::kUnplugDuringWrite, 9, 3, 1);
    f.piece = piece;
    return f;
}

const char* FaultPointKindName(FaultPointKind kind) {
    switch (kind) {
        case FaultPointKind::kReportOut:
            return "report-out";
        case FaultPointKind::kCommand:
            return "command";
        case FaultPointKind::kReportIn:
            return "report-in";
        case FaultPointKind::kWait:
            return "wait";
        case FaultPointKind::kModeChange:
            return "mode-change";
    }
    return "?";
}

const char* PointFaultKindName(PointFaultKind kind) {
    switch (kind) {
        case PointFaultKind::kUnplug:
            return "unplug";
        case PointFaultKind::kErrorStatus:
            return "error-status";
        case PointFaultKind::kHeaderMismatch:
            return "header-mismatch";
        case PointFaultKind::kDropResponse:
            return "dropped-response";
        case PointFaultKind::kLateResponse:
            return "late-response";
        case PointFaultKind::kNeverComesBack:
            return "never-comes-back";
    }
    return "?";
}

bool PointFaultApplies(PointFaultKind fault, FaultPointKind point) {
    const bool answerFault =
        fault != PointFaultKind::kUnplug && fault != PointFaultKind::kNeverComesBack;
    return answerFault == (point == FaultPointKind::kCommand);
}

}  // namespace talvo
