#include "emulator/device_steps.h"

#include <utility>

namespace talvo {

const char* TalvoModeName(TalvoMode mode) {
    switch (mode) {
        case TalvoMode::kAbsent:
            return "absent";
        case TalvoMode::kNormal:
            return "normal";
        case TalvoMode::kUpdate:
            return "update";
    }
    return "?";
}

DeviceStep WaitStep(std::uint32_t ms) {
    DeviceStep step;
    step.type = DeviceStep::Type::kWait;
    step.ms = ms;
    return step;
}

DeviceStep LeaveStep(std::string note) {
    DeviceStep step;
    step.type = DeviceStep::Type::kLeave;
    step.note = std::move(note);
    return step;
}

DeviceStep ArriveStep(TalvoMode mode, std::string note) {
    DeviceStep step;
    step.type = DeviceStep::Type::kArrive;
    step.mode = mode;
    step.note = std::move(note);
    return step;
}

void AppendUnplug(DeviceSteps& steps, std::string note, int comeBackAfterMs) {
    steps.push_back(LeaveStep(std::move(note)));
    if (comeBackAfterMs >= 0) {
        steps.push_back(WaitStep(static_cast<std::uint32_t>(comeBackAfterMs)));
        steps.push_back(ArriveStep(TalvoMode::kNormal, "plugged in again"));
    }
}

void DeviceNotes::operator()(const std::string& text) const {
    trace_.Line(WireTrace::Direction::kNote, link_.identity, "* " + text);
}

}  // namespace talvo
