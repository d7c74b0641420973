#include "emulator/device_core.h"

#include <algorithm>
#include <cstdio>
#include <cstring>

#include "emulator/command_catalogue.h"
#include "emulator/device_image.h"

namespace talvo {

namespace {

void PutText(std::vector<std::uint8_t>& out, std::size_t at, std::size_t field, const char* text) {
    const std::size_t n = std::min(field, std::strlen(text));
    std::memcpy(out.data() + at, text, n);
}

// The fixed device data of the commands that only report something.
std::vector<std::uint8_t> ConstantPayload(std::uint8_t group, std::uint8_t command,
                                          std::uint8_t value, std::size_t length) {
    std::vector<std::uint8_t> out(length, 0);
    if (group == 0 && command == 5 && length == 76) {
        // Device description: model, hardware revision, serial number, maker.
        PutText(out, 0, 40, "TALVO");
        PutText(out, 40, 4, "0001");
        PutText(out, 44, 16, "TV0000000000042");
        PutText(out, 60, 16, "EMULATED");
        return out;
    }
    for (std::size_t i = 0; i < length; ++i) {
        out[i] = static_cast<std::uint8_t>(i * 7 + value + group + command);
    }
    return out;
}

CommandRecord RecordOf(const LinkInfo& link, const std::vector<std::uint8_t>& message) {
    CommandRecord record;
    record.mode = link.mode;
    record.kind = message[0];
    record.command = message[1];
    record.group = message[2];
    record.value = message[3];
    record.selector = message[4];
    return record;
}

}  // namespace

std::string CommandRecord::Describe() const {
    char text[128];
    switch (UpdateStepOf(group, command)) {
        case UpdateStep::kSetInfo:
            std::snprintf(text, sizeof text, "FU_SETINFO type=%u length=%u", typeCode, offset);
            break;
        case UpdateStep::kFwLoad:
            std::snprintf(text, sizeof text, "FU_FWLOAD offset=%u size=%u", offset,
                          length >= 6 ? length - 6u : 0u);
            break;
        case UpdateStep::kWriteFw:
            std::snprintf(text, sizeof text, "FU_WRITEFW");
            break;
        case UpdateStep::kNone:
            std::snprintf(text, sizeof text, "%s %u/%u value=%u",
                          kind == kKindGetRequest ? "get" : "set", group, command, value);
            break;
    }
    return text;
}

DeviceCore::DeviceCore(DeviceConfig config, WireTrace& trace)
    : timing_(config.timing), trace_(trace), faults_(config.modeFaults), update_(config.versions) {}

DeviceSteps DeviceCore::OnOutputReport(const LinkInfo& link, const std::uint8_t* report,
                                       std::size_t length) {
    std::lock_guard<std::mutex> lock(mutex_);
    DeviceSteps steps = TakeReport(link, report, length);
    faults_.CutAtPoint(steps, DeviceNotes(trace_, link));
    return steps;
}

DeviceSteps DeviceCore::TakeReport(const LinkInfo& link, const std::uint8_t* report,
                                   std::size_t length) {
    const DeviceNotes notes(trace_, link);
    const std::size_t reportLength = static_cast<std::size_t>(link.reportLength);
    if (reportLength < 2 || length != reportLength + 1 || report[0] != link.outputReportId) {
        char text[96];
        std::snprintf(text, sizeof text, "ignored: %zu-byte report with ID 0x%02X", length,
                      length > 0 ? report[0] : 0);
        notes(text);
        return {};
    }
    const std::uint8_t marker = report[1];
    const std::size_t size = reportLength - 1;
    Incoming& in = incoming_[link.mode];
    if (faults_.Counting()) {
        char what[32];
        std::snprintf(what, sizeof what, "output report %02X", marker);
        if (faults_.AtPoint(FaultPointKind::kReportOut, what, notes)) {
            in = Incoming{};
            return faults_.PointTail();
        }
    }

    const RequestAssembly::Added added = in.frames.Add(marker, report + 2, size, notes);
    if (added == RequestAssembly::Added::kIgnored) {
        return {};
    }
    if (added == RequestAssembly::Added::kFirst) {
        in.unplugAfter = -1;
        const std::vector<std::uint8_t>& head = in.frames.Bytes();
        const UpdateStep step = UpdateStepOf(head[2], head[1]);
        const RequestKey key{
            head[2], head[1], head[3],
            update_.PieceOf(step, head.data() + kMessageHeaderSize, size - kMessageHeaderSize)};
        if (const Fault* f = faults_.Take(FaultKind::kUnplugMidRequest, key)) {
            in.unplugAfter = f->afterReports;
            in.comeBackAfterMs = f->comeBackAfterMs;
            notes("fault armed: " + f->Describe());
        }
    }
    if (in.unplugAfter >= 0 && in.frames.Reports() >= in.unplugAfter) {
        DeviceSteps steps;
        AppendUnplug(steps, "unplugged in the middle of a request", in.comeBackAfterMs);
        in = Incoming{};
        return steps;
    }

    const char* why = nullptr;
    switch (in.frames.Finish(marker, size, &why)) {
        case RequestAssembly::Result::kMore:
            return {};
        case RequestAssembly::Result::kMalformed:
            in.unplugAfter = -1;
            return Malformed(link, in.frames.Taken(), why);
        case RequestAssembly::Result::kComplete:
            break;
    }
    in.unplugAfter = -1;
    return HandleMessage(link, in.frames.Taken());
}

DeviceSteps DeviceCore::Malformed(const LinkInfo& link, const std::vector<std::uint8_t>& header,
                                  const char* why) {
    DeviceNotes(trace_, link)(std::string("malformed request: ") + why);
    CommandRecord record = RecordOf(link, header);
    record.length = DeviceLe16(header.data() + 6);
    record.answered = true;
    record.status = device_status::kMalformed;
    commands_.push_back(record);
    DeviceAnswer answer;
    answer.kind = static_cast<std::uint8_t>(header[0] + 1);
    answer.command = header[1];
    answer.group = header[2];
    answer.status = device_status::kMalformed;
    return {AnswerStep(link, answer, false)};
}

DeviceSteps DeviceCore::HandleMessage(const LinkInfo& link,
                                      const std::vector<std::uint8_t>& message) {
    const DeviceNotes notes(trace_, link);
    const std::uint8_t kind = message[0];
    const std::uint8_t command = message[1];
    const std::uint8_t group = message[2];
    const std::uint8_t value = message[3];
    const std::size_t payloadLength = message.size() - kMessageHeaderSize;
    const std::uint8_t* payload = message.data() + kMessageHeaderSize;
    const UpdateStep step = UpdateStepOf(group, command);

    CommandRecord record = RecordOf(link, message);
    record.length = static_cast<std::uint16_t>(payloadLength);
    if (step == UpdateStep::kSetInfo && payloadLength >= 5) {
        record.typeCode = payload[0];
        record.offset = DeviceLe32(payload + 1);
    } else if (step == UpdateStep::kFwLoad && payloadLength >= 4) {
        record.offset = DeviceLe32(payload);
    }
    trace_.Line(WireTrace::Direction::kOut, link.identity, DescribeRequest(message));

    const RequestKey key{group, command, value, update_.PieceOf(step, payload, payloadLength)};
    if (faults_.Counting() && faults_.AtPoint(FaultPointKind::kCommand, record.Describe(), notes)) {
        faults_.ArmAtRequest(key);
    }

    DeviceAnswer answer;
    answer.kind = static_cast<std::uint8_t>(kind + 1);
    answer.command = command;
    answer.group = group;
    DeviceSteps before;
    DeviceSteps after;
    if (kind != kKindSetRequest && kind != kKindGetRequest) {
        answer.status = device_status::kUnknownCommand;
    } else if (const Fault* f = faults_.Take(FaultKind::kErrorStatus, key)) {
        answer.status = f->status;
        answer.detail = f->detail;
        notes("fault: " + f->Describe());
    } else {
        Carry(link, message, answer, before, after);
    }
    const FaultBook::Shaping shaping = faults_.ShapeAnswer(key, answer, before, notes);

    const bool leaves = std::any_of(before.begin(), before.end(), [](const DeviceStep& s) {
        return s.type == DeviceStep::Type::kLeave;
    });
    std::uint64_t turnaroundUs = timing_.commandProcessingUs;
    for (const DeviceStep& s : before) {
        if (s.type == DeviceStep::Type::kWait) {
            turnaroundUs += std::uint64_t{s.ms} * 1000;
        }
    }
    DeviceSteps steps = std::move(before);
    if (!leaves) {
        if (!shaping.drop) {
            steps.push_back(AnswerStep(link, answer, shaping.asEvent4));
            steps.back().turnaroundUs = turnaroundUs;
        }
        steps.insert(steps.end(), after.begin(), after.end());
    }
    record.answered = !shaping.drop && !leaves;
    record.status = answer.status;
    commands_.push_back(record);
    return steps;
}

void DeviceCore::Carry(const LinkInfo& link, const std::vector<std::uint8_t>& message,
                       DeviceAnswer& answer, DeviceSteps& before, DeviceSteps& after) {
    const std::uint8_t kind = message[0];
    const std::uint8_t command = message[1];
    const std::uint8_t group = message[2];
    const std::uint8_t value = message[3];
    const std::uint8_t* p = message.data() + kMessageHeaderSize;
    const std::size_t n = message.size() - kMessageHeaderSize;

    const CatalogueRow* row = FindCatalogueRow(kind, group, command);
    if (row == nullptr) {
        answer.status = device_status::kUnknownCommand;
        return;
    }
    if (!RequestLengthFits(*row, p, n)) {
        answer.status = device_status::kMalformed;
        return;
    }
    const std::size_t responseLength = ResponseLengthFor(*row, p);
    std::vector<std::uint8_t>& out = answer.payload;
    out.assign(responseLength, 0);

    switch (row->behaviour) {
        case Behaviour::kAccept:
            break;
        case Behaviour::kEchoPayload:
            std::copy_n(p, std::min(n, out.size()), out.begin());
            break;
        case Behaviour::kConstant:
            out = ConstantPayload(group, command, value, responseLength);
            if (responseLength == 0) {
                answer.value = 1;
            }
            break;
        case Behaviour::kModeChange:
            if (value == 0) {
                if (link.mode == TalvoMode::kNormal) {
                    Restart(link, TalvoMode::kUpdate, timing_.toUpdateDelayMs, after,
                            "restarts into update mode", true);
                }
            } else if (value == 1) {
                if (link.mode == TalvoMode::kUpdate) {
                    Restart(link, TalvoMode::kNormal, timing_.toNormalDelayMs, after,
                            "restarts into normal mode", true);
                }
            } else {
                answer.status = device_status::kBadParameter;
            }
            break;
        case Behaviour::kModeQuery:
            answer.value = link.mode == TalvoMode::kUpdate ? 0 : 1;
            break;
        case Behaviour::kVersion:
            if (!IsKnownTypeCode(value)) {
                answer.status = device_status::kBadParameter;
            } else {
                const auto version = update_.VersionBytes(value);
                out.assign(version.begin(), version.end());
            }
            break;
        case Behaviour::kVerdict:
            if (!update_.Verdict(out.data())) {
                answer.status = device_status::kWrongState;
            }
            break;
        case Behaviour::kFirmwareUpdate: {
            if (link.mode != TalvoMode::kUpdate) {
                answer.status = device_status::kWrongState;
                break;
            }
            const DeviceNotes notes(trace_, link);
            const UpdateSession::Outcome outcome =
                update_.Carry(UpdateStepOf(group, command), p, n, answer, faults_, notes,
                              timing_.writeFwDurationMs);
            if (outcome.writes) {
                before.push_back(WaitStep(outcome.writeMs));
            }
            if (outcome.unplugged) {
                AppendUnplug(before, "unplugged while writing", outcome.comeBackAfterMs);
            }
            if (outcome.updaterTaken) {
                Restart(link, TalvoMode::kUpdate, timing_.fwupRestartDelayMs, after,
                        "restarts after taking the updater image", false);
            }
            break;
        }
        default:
            store_.Carry(row->behaviour, group, command, value, p, n, answer);
            break;
    }
    if (answer.status != device_status::kOk) {
        out.clear();
    }
}

void DeviceCore::Restart(const LinkInfo& link, TalvoMode target, std::uint32_t awayMs,
                         DeviceSteps& after, const char* why, bool requested) {
    const DeviceNotes notes(trace_, link);
    if (requested && faults_.Spend(ModeCounter::kRefuseRestart, notes)) {
        return;
    }
    after.push_back(WaitStep(timing_.leaveDelayMs));
    after.push_back(LeaveStep(why));
    if (faults_.Spend(ModeCounter::kVanishOnRestart, notes) ||
        (target == TalvoMode::kNormal &&
         faults_.Spend(ModeCounter::kVanishOnNormalRestart, notes))) {
        return;
    }
    TalvoMode mode = target;
    if (faults_.Spend(ModeCounter::kWrongMode, notes)) {
        mode = target == TalvoMode::kUpdate ? TalvoMode::kNormal : TalvoMode::kUpdate;
    }
    after.push_back(WaitStep(awayMs));
    after.push_back(ArriveStep(mode, "back after the restart"));
}

DeviceSteps DeviceCore::OnArrived(const LinkInfo& link) {
    std::lock_guard<std::mutex> lock(mutex_);
    const DeviceNotes notes(trace_, link);
    incoming_.erase(link.mode);
    if (faults_.AtPoint(FaultPointKind::kModeChange,
                        std::string("arrive in ") + TalvoModeName(link.mode) + " mode", notes)) {
        return faults_.PointTail();
    }
    DeviceSteps steps;
    if (link.mode == TalvoMode::kUpdate && faults_.Mode().settleUnplugAfterMs >= 0) {
        steps.push_back(WaitStep(static_cast<std::uint32_t>(faults_.TakeSettleUnplug())));
        steps.push_back(LeaveStep("unplugged while settling"));
    }
    faults_.CutAtPoint(steps, notes);
    return steps;
}

void DeviceCore::OnLeft() {
    std::lock_guard<std::mutex> lock(mutex_);
    incoming_.clear();
    update_.Abandon();
}

void DeviceCore::AddFault(const Fault& fault) {
    std::lock_guard<std::mutex> lock(mutex_);
    faults_.Add(fault);
}

std::vector<Fault> DeviceCore::Faults() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return faults_.All();
}

void DeviceCore::ClearFaults() {
    std::lock_guard<std::mutex> lock(mutex_);
    faults_.Clear();
}

ModeFaults DeviceCore::GetModeFaults() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return faults_.Mode();
}

void DeviceCore::SetModeFaults(const ModeFaults& faults) {
    std::lock_guard<std::mutex> lock(mutex_);
    faults_.SetMode(faults);
}

void DeviceCore::CountFaultPoints(const PointFault& fault) {
    std::lock_guard<std::mutex> lock(mutex_);
    faults_.CountPoints(fault);
}

std::vector<FaultPoint> DeviceCore::FaultPoints() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return faults_.Points();
}

bool DeviceCore::PointFaultFired() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return faults_.PointFired();
}

std::vector<std::uint8_t> DeviceCore::Flash(int typeCode) const {
    std::lock_guard<std::mutex> lock(mutex_);
    return update_.Flash(typeCode);
}

std::array<std::uint8_t, 16> DeviceCore::VersionBytes(int typeCode) const {
    std::lock_guard<std::mutex> lock(mutex_);
    return update_.VersionBytes(typeCode);
}

std::string DeviceCore::Version(int typeCode) const {
    const auto bytes = VersionBytes(typeCode);
    std::string text(reinterpret_cast<const char*>(bytes.data()), bytes.size());
    text.resize(std::strlen(text.c_str()));
    return text;
}

std::vector<CommandRecord> DeviceCore::Commands() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return commands_;
}

std::vector<std::string> DeviceCore::CommandNames() const {
    std::vector<std::string> names;
    for (const auto& record : Commands()) {
        names.push_back(record.Describe());
    }
    return names;
}

void DeviceCore::ClearCommands() {
    std::lock_guard<std::mutex> lock(mutex_);
    commands_.clear();
}

int DeviceCore::ImagesAccepted() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return update_.ImagesAccepted();
}

}  // namespace talvo
