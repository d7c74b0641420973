#include "emulator/fault_book.h"

#include <cstdio>

namespace talvo {

namespace {

// The faults that reshape an answer, in the order they are applied.
struct AnswerEffect {
    FaultKind kind;
    void (*apply)(const Fault& fault, DeviceAnswer& answer, DeviceSteps& before,
                  FaultBook::Shaping& shaping);
};

constexpr AnswerEffect kAnswerEffects[] = {
    {FaultKind::kDropResponse,
     [](const Fault&, DeviceAnswer&, DeviceSteps&, FaultBook::Shaping& s) { s.drop = true; }},
    {FaultKind::kLateResponse, [](const Fault& f, DeviceAnswer&, DeviceSteps& before,
                                  FaultBook::Shaping&) { before.push_back(WaitStep(f.delayMs)); }},
    {FaultKind::kWrongLength, [](const Fault&, DeviceAnswer& a, DeviceSteps&,
                                 FaultBook::Shaping&) { a.payload.push_back(0); }},
    {FaultKind::kWrongKind,
     [](const Fault&, DeviceAnswer& a, DeviceSteps&, FaultBook::Shaping&) {
         a.kind = static_cast<std::uint8_t>(a.kind + 2);
     }},
    {FaultKind::kWrongCommand,
     [](const Fault&, DeviceAnswer& a, DeviceSteps&, FaultBook::Shaping&) {
         a.command = static_cast<std::uint8_t>(a.command + 1);
     }},
    {FaultKind::kWrongGroup,
     [](const Fault&, DeviceAnswer& a, DeviceSteps&, FaultBook::Shaping&) {
         a.group = static_cast<std::uint8_t>(a.group + 1);
     }},
    {FaultKind::kEvent4Response,
     [](const Fault&, DeviceAnswer&, DeviceSteps&, FaultBook::Shaping& s) { s.asEvent4 = true; }},
};

struct CounterRow {
    ModeCounter counter;
    int ModeFaults::*count;
    const char* note;
};

constexpr CounterRow kCounters[] = {
    {ModeCounter::kRefuseRestart, &ModeFaults::refuseRestarts, "restart refused"},
    {ModeCounter::kVanishOnRestart, &ModeFaults::vanishOnRestart,
     "does not come back from the restart"},
    {ModeCounter::kVanishOnNormalRestart, &ModeFaults::vanishOnNormalRestart,
     "does not come back from the restart"},
    {ModeCounter::kWrongMode, &ModeFaults::wrongModeReturns, "comes back in the wrong mode"},
};

// The answer fault a point fault becomes at a request.
struct PointAsFault {
    PointFaultKind point;
    FaultKind fault;
};

constexpr PointAsFault kPointAsFault[] = {
    {PointFaultKind::kErrorStatus, FaultKind::kErrorStatus},
    {PointFaultKind::kHeaderMismatch, FaultKind::kWrongCommand},
    {PointFaultKind::kDropResponse, FaultKind::kDropResponse},
    {PointFaultKind::kLateResponse, FaultKind::kLateResponse},
};

}  // namespace

Fault* FaultBook::Take(FaultKind kind, const RequestKey& key) {
    Fault* firing = nullptr;
    for (auto& fault : faults_) {
        if (fault.kind != kind || (fault.group >= 0 && fault.group != key.group) ||
            (fault.command >= 0 && fault.command != key.command) ||
            (fault.value >= 0 && fault.value != key.value) ||
            (fault.piece >= 0 && fault.piece != key.piece)) {
            continue;
        }
        ++fault.seen;
        if (firing == nullptr && fault.seen > fault.skip &&
            (fault.times < 0 || fault.fired < fault.times)) {
            ++fault.fired;
            firing = &fault;
        }
    }
    return firing;
}

FaultBook::Shaping FaultBook::ShapeAnswer(const RequestKey& key, DeviceAnswer& answer,
                                          DeviceSteps& before, const DeviceNotes& notes) {
    Shaping shaping;
    for (const AnswerEffect& effect : kAnswerEffects) {
        if (const Fault* f = Take(effect.kind, key)) {
            effect.apply(*f, answer, before, shaping);
            notes("fault: " + f->Describe());
        }
    }
    return shaping;
}

bool FaultBook::Spend(ModeCounter counter, const DeviceNotes& notes) {
    for (const CounterRow& row : kCounters) {
        if (row.counter == counter && mode_.*row.count > 0) {
            --(mode_.*row.count);
            notes(std::string("fault: ") + row.note);
            return true;
        }
    }
    return false;
}

int FaultBook::TakeSettleUnplug() {
    const int ms = mode_.settleUnplugAfterMs;
    mode_.settleUnplugAfterMs = -1;
    return ms;
}

void FaultBook::CountPoints(const PointFault& fault) {
    counting_ = true;
    points_.clear();
    pointFault_ = fault;
    pointFired_ = false;
}

bool FaultBook::AtPoint(FaultPointKind kind, const std::string& what, const DeviceNotes& notes) {
    if (!counting_) {
        return false;
    }
    const int number = static_cast<int>(points_.size());
    points_.push_back(FaultPoint{kind, what});
    if (number != pointFault_.point || !PointFaultApplies(pointFault_.kind, kind)) {
        return false;
    }
    pointFired_ = true;
    char text[64];
    std::snprintf(text, sizeof text, "fault at point %d (%s): ", number, FaultPointKindName(kind));
    notes(text + std::string(PointFaultKindName(pointFault_.kind)) + " at " + what);
    return true;
}

DeviceSteps FaultBook::PointTail() const {
    DeviceSteps steps;
    if (pointFault_.kind == PointFaultKind::kNeverComesBack) {
        steps.push_back(LeaveStep("gone for good"));
    } else {
        AppendUnplug(steps, "unplugged", static_cast<int>(pointFault_.comeBackAfterMs));
    }
    return steps;
}

void FaultBook::CutAtPoint(DeviceSteps& steps, const DeviceNotes& notes) {
    if (!counting_) {
        return;
    }
    for (std::size_t i = 0; i < steps.size(); ++i) {
        DeviceStep& step = steps[i];
        std::size_t cut = 0;
        bool hit = false;
        switch (step.type) {
            case DeviceStep::Type::kSend:
                for (std::size_t r = 0; r < step.reports.size() && !hit; ++r) {
                    char what[32];
                    std::snprintf(what, sizeof what, "input report %02X", step.reports[r][1]);
                    if (AtPoint(FaultPointKind::kReportIn, what, notes)) {
                        step.reports.resize(r);  // these went out; then it leaves
                        hit = true;
                        cut = i + 1;
                    }
                }
                break;
            case DeviceStep::Type::kWait:
                if (AtPoint(FaultPointKind::kWait, "wait " + std::to_string(step.ms) + " ms",
                            notes)) {
                    step.ms /= 2;
                    hit = true;
                    cut = i + 1;
                }
                break;
            case DeviceStep::Type::kLeave:
                if (AtPoint(FaultPointKind::kModeChange, "leave", notes)) {
                    hit = true;
                    cut = i;
                }
                break;
            case DeviceStep::Type::kArrive:
                break;  // its point is the arrival itself
        }
        if (hit) {
            steps.resize(cut);
            const DeviceSteps tail = PointTail();
            steps.insert(steps.end(), tail.begin(), tail.end());
            return;
        }
    }
}

void FaultBook::ArmAtRequest(const RequestKey& key) {
    Fault f;
    f.kind = FaultKind::kLateResponse;
    for (const PointAsFault& row : kPointAsFault) {
        if (row.point == pointFault_.kind) {
            f.kind = row.fault;
        }
    }
    f.group = key.group;
    f.command = key.command;
    f.value = key.value;
    f.status = pointFault_.status;
    f.delayMs = pointFault_.delayMs;
    faults_.insert(faults_.begin(), f);  // fires before any other
}

}  // namespace talvo
