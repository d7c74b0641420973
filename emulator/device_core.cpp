#include "emulator/device_core.h"

#include <algorithm>
#include <cstdio>
#include <cstring>

#include "emulator/command_catalogue.h"
#include "emulator/device_crc.h"
#include "emulator/device_image.h"

namespace talvo {

namespace {

constexpr std::uint8_t kMarkerFirst = 0x80;
constexpr std::uint8_t kMarkerMiddle = 0x81;
constexpr std::uint8_t kMarkerLast = 0x82;
constexpr std::uint8_t kMarkerResponseFirst = 0x83;
constexpr std::uint8_t kMarkerResponseMiddle = 0x84;
constexpr std::uint8_t kMarkerResponseLast = 0x85;
constexpr std::uint8_t kMarkerStreamFirst = 0xA0;
constexpr std::uint8_t kMarkerStreamMiddle = 0xA1;
constexpr std::uint8_t kMarkerStreamLast = 0xA2;
constexpr std::size_t kHeaderSize = 8;
constexpr std::uint32_t kMaxImageSize = 4u * 1024u * 1024u;

const char* KindName(std::uint8_t kind) {
    switch (kind) {
        case 0:
            return "set-request";
        case 1:
            return "set-response";
        case 2:
            return "get-request";
        case 3:
            return "get-response";
        case 4:
            return "event4-response";
        default:
            return "kind";
    }
}

std::string UpdateStepName(std::uint8_t group, std::uint8_t command) {
    if (group != kGroupFirmwareUpdate) {
        return "";
    }
    switch (command) {
        case kCmdFuSetInfo:
            return "FU_SETINFO";
        case kCmdFuFwLoad:
            return "FU_FWLOAD";
        case kCmdFuWriteFw:
            return "FU_WRITEFW";
        default:
            return "";
    }
}

std::uint32_t RegisterKey(std::uint8_t group, std::uint8_t command, std::uint32_t index) {
    return (static_cast<std::uint32_t>(group) << 24) | (static_cast<std::uint32_t>(command) << 16) |
           (index & 0xFFFFu);
}

std::uint64_t MemoryKey(std::uint8_t group, std::uint8_t command, std::uint8_t bank,
                        std::uint32_t address) {
    return (static_cast<std::uint64_t>(group) << 56) | (static_cast<std::uint64_t>(command) << 48) |
           (static_cast<std::uint64_t>(bank) << 40) | address;
}

void PutText(std::vector<std::uint8_t>& out, std::size_t at, std::size_t field, const char* text) {
    const std::size_t n = std::min(field, std::strlen(text));
    std::memcpy(out.data() + at, text, n);
}

}  // namespace

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

std::string CommandRecord::Describe() const {
    char text[128];
    const std::string step = UpdateStepName(group, command);
    if (step == "FU_SETINFO") {
        std::snprintf(text, sizeof text, "FU_SETINFO type=%u length=%u", typeCode, offset);
    } else if (step == "FU_FWLOAD") {
        std::snprintf(text, sizeof text, "FU_FWLOAD offset=%u size=%u", offset,
                      length >= 6 ? length - 6u : 0u);
    } else if (step == "FU_WRITEFW") {
        std::snprintf(text, sizeof text, "FU_WRITEFW");
    } else {
        std::snprintf(text, sizeof text, "%s %u/%u value=%u",
                      kind == kKindGetRequest ? "get" : "set", group, command, value);
    }
    return text;
}

DeviceCore::DeviceCore(DeviceConfig config, WireTrace& trace)
    : config_(std::move(config)), trace_(trace) {
    for (std::size_t i = 0; i < versions_.size(); ++i) {
        const std::string& text = config_.versions[i];
        std::memcpy(versions_[i].data(), text.data(), std::min<std::size_t>(text.size(), 16));
    }
}

void DeviceCore::Note(const LinkInfo& link, const std::string& text) {
    trace_.Line(WireTrace::Direction::kNote, link.identity, "* " + text);
}

Fault* DeviceCore::MatchFault(FaultKind kind, std::uint8_t group, std::uint8_t command,
                              std::uint8_t value, int piece) {
    Fault* firing = nullptr;
    for (auto& fault : faults_) {
        if (fault.kind != kind || (fault.group >= 0 && fault.group != group) ||
            (fault.command >= 0 && fault.command != command) ||
            (fault.value >= 0 && fault.value != value) ||
            (fault.piece >= 0 && fault.piece != piece)) {
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

int DeviceCore::PieceOf(std::uint8_t group, std::uint8_t command, const std::uint8_t* payload,
                        std::size_t payloadBytes) const {
    if (group != kGroupFirmwareUpdate) {
        return -1;
    }
    if (command == kCmdFuFwLoad && payloadBytes >= 4) {
        return static_cast<int>(DeviceLe32(payload) / kMaxPieceSize);
    }
    if (command == kCmdFuWriteFw && session_.pending) {
        return static_cast<int>(session_.pendingOffset / kMaxPieceSize);
    }
    return -1;
}

void DeviceCore::CountFaultPoints(const PointFault& fault) {
    std::lock_guard<std::mutex> lock(mutex_);
    countingPoints_ = true;
    points_.clear();
    pointFault_ = fault;
    pointFaultFired_ = false;
}

std::vector<FaultPoint> DeviceCore::FaultPoints() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return points_;
}

bool DeviceCore::PointFaultFired() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return pointFaultFired_;
}

bool DeviceCore::AtPoint(const LinkInfo& link, FaultPointKind kind, const std::string& what) {
    if (!countingPoints_) {
        return false;
    }
    const int number = static_cast<int>(points_.size());
    points_.push_back(FaultPoint{kind, what});
    if (number != pointFault_.point || !PointFaultApplies(pointFault_.kind, kind)) {
        return false;
    }
    pointFaultFired_ = true;
    char text[64];
    std::snprintf(text, sizeof text, "fault at point %d (%s): ", number, FaultPointKindName(kind));
    Note(link, text + std::string(PointFaultKindName(pointFault_.kind)) + " at " + what);
    return true;
}

DeviceSteps DeviceCore::PointFaultTail() const {
    DeviceSteps steps(1);
    steps[0].type = DeviceStep::Type::kLeave;
    if (pointFault_.kind == PointFaultKind::kNeverComesBack) {
        steps[0].note = "gone for good";
        return steps;
    }
    steps[0].note = "unplugged";
    steps.resize(3);
    steps[1].type = DeviceStep::Type::kWait;
    steps[1].ms = pointFault_.comeBackAfterMs;
    steps[2].type = DeviceStep::Type::kArrive;
    steps[2].mode = TalvoMode::kNormal;
    steps[2].note = "plugged in again";
    return steps;
}

void DeviceCore::StepPoints(const LinkInfo& link, DeviceSteps& steps) {
    if (!countingPoints_) {
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
                    if (AtPoint(link, FaultPointKind::kReportIn, what)) {
                        step.reports.resize(r);  // these went out; then it leaves
                        hit = true;
                        cut = i + 1;
                    }
                }
                break;
            case DeviceStep::Type::kWait:
                if (AtPoint(link, FaultPointKind::kWait,
                            "wait " + std::to_string(step.ms) + " ms")) {
                    step.ms /= 2;
                    hit = true;
                    cut = i + 1;
                }
                break;
            case DeviceStep::Type::kLeave:
                if (AtPoint(link, FaultPointKind::kModeChange, "leave")) {
                    hit = true;
                    cut = i;
                }
                break;
            case DeviceStep::Type::kArrive:
                break;  // its point is the arrival itself (OnArrived)
        }
        if (hit) {
            steps.resize(cut);
            const DeviceSteps tail = PointFaultTail();
            steps.insert(steps.end(), tail.begin(), tail.end());
            return;
        }
    }
}

DeviceSteps DeviceCore::OnOutputReport(const LinkInfo& link, const std::uint8_t* report,
                                       std::size_t length) {
    std::lock_guard<std::mutex> lock(mutex_);
    DeviceSteps steps = TakeReport(link, report, length);
    StepPoints(link, steps);
    return steps;
}

DeviceSteps DeviceCore::TakeReport(const LinkInfo& link, const std::uint8_t* report,
                                   std::size_t length) {
    const std::size_t reportLength = static_cast<std::size_t>(link.reportLength);
    if (reportLength < 2 || length != reportLength + 1 || report[0] != link.outputReportId) {
        char text[96];
        std::snprintf(text, sizeof text, "ignored: %zu-byte report with ID 0x%02X", length,
                      length > 0 ? report[0] : 0);
        Note(link, text);
        return {};
    }
    const std::uint8_t marker = report[1];
    const std::uint8_t* data = report + 2;
    const std::size_t p = reportLength - 1;
    Assembly& a = assemblies_[link.mode];
    if (countingPoints_) {
        char what[32];
        std::snprintf(what, sizeof what, "output report %02X", marker);
        if (AtPoint(link, FaultPointKind::kReportOut, what)) {
            a = Assembly{};
            return PointFaultTail();
        }
    }

    if (marker == kMarkerFirst) {
        if (a.active) {
            Note(link, "new first segment: the unfinished request is dropped");
        }
        a = Assembly{};
        a.active = true;
        a.bytes.assign(data, data + p);
        a.reports = 1;
        if (p < kHeaderSize) {
            a = Assembly{};
            Note(link, "ignored: reports too short for a message header");
            return {};
        }
        a.needed = kHeaderSize + DeviceLe16(a.bytes.data() + 6);
        const int piece =
            PieceOf(a.bytes[2], a.bytes[1], a.bytes.data() + kHeaderSize, p - kHeaderSize);
        if (Fault* f = MatchFault(FaultKind::kUnplugMidRequest, a.bytes[2], a.bytes[1], a.bytes[3],
                                  piece)) {
            a.unplugAfter = f->afterReports;
            a.comeBackAfterMs = f->comeBackAfterMs;
            Note(link, "fault armed: " + f->Describe());
        }
    } else if (marker == kMarkerMiddle || marker == kMarkerLast) {
        if (!a.active) {
            Note(link, marker == kMarkerMiddle ? "dropped: middle segment without a first one"
                                               : "dropped: last segment without a first one");
            return {};
        }
        a.bytes.insert(a.bytes.end(), data, data + p);
        ++a.reports;
    } else {
        char text[64];
        std::snprintf(text, sizeof text, "ignored: marker 0x%02X", marker);
        Note(link, text);
        return {};
    }

    if (a.unplugAfter >= 0 && a.reports >= a.unplugAfter) {
        DeviceSteps steps;
        DeviceStep leave;
        leave.type = DeviceStep::Type::kLeave;
        leave.note = "unplugged in the middle of a request";
        steps.push_back(leave);
        if (a.comeBackAfterMs >= 0) {
            DeviceStep wait;
            wait.type = DeviceStep::Type::kWait;
            wait.ms = static_cast<std::uint32_t>(a.comeBackAfterMs);
            steps.push_back(wait);
            DeviceStep arrive;
            arrive.type = DeviceStep::Type::kArrive;
            arrive.mode = TalvoMode::kNormal;
            arrive.note = "plugged in again";
            steps.push_back(arrive);
        }
        a = Assembly{};
        return steps;
    }

    const std::vector<std::uint8_t> header(a.bytes.begin(), a.bytes.begin() + kHeaderSize);
    if (marker == kMarkerFirst) {
        if (a.needed > p) {
            return {};  // more segments follow
        }
    } else if (marker == kMarkerMiddle) {
        if (a.bytes.size() >= a.needed) {
            a = Assembly{};
            return Malformed(link, header, "middle segment past the end of the message");
        }
        return {};
    } else {  // last
        if (a.bytes.size() < a.needed) {
            a = Assembly{};
            return Malformed(link, header, "last segment before the end of the message");
        }
        if (a.bytes.size() - p >= a.needed) {
            a = Assembly{};
            return Malformed(link, header, "last segment carries no byte of the message");
        }
    }
    std::vector<std::uint8_t> message(a.bytes.begin(),
                                      a.bytes.begin() + static_cast<std::ptrdiff_t>(a.needed));
    a = Assembly{};
    return HandleMessage(link, message);
}

DeviceSteps DeviceCore::Malformed(const LinkInfo& link, const std::vector<std::uint8_t>& header,
                                  const char* why) {
    Note(link, std::string("malformed request: ") + why);
    CommandRecord record;
    record.mode = link.mode;
    record.kind = header[0];
    record.command = header[1];
    record.group = header[2];
    record.value = header[3];
    record.selector = header[4];
    record.length = DeviceLe16(header.data() + 6);
    record.answered = true;
    record.status = device_status::kMalformed;
    commands_.push_back(record);
    Answer answer;
    answer.kind = static_cast<std::uint8_t>(header[0] + 1);
    answer.command = header[1];
    answer.group = header[2];
    answer.status = device_status::kMalformed;
    return {BuildSend(link, answer, false)};
}

DeviceSteps DeviceCore::HandleMessage(const LinkInfo& link,
                                      const std::vector<std::uint8_t>& message) {
    const std::uint8_t kind = message[0];
    const std::uint8_t command = message[1];
    const std::uint8_t group = message[2];
    const std::uint8_t value = message[3];
    const std::size_t payloadLength = message.size() - kHeaderSize;
    const std::uint8_t* payload = message.data() + kHeaderSize;

    CommandRecord record;
    record.mode = link.mode;
    record.kind = kind;
    record.command = command;
    record.group = group;
    record.value = value;
    record.selector = message[4];
    record.length = static_cast<std::uint16_t>(payloadLength);
    const std::string step = UpdateStepName(group, command);
    if (step == "FU_SETINFO" && payloadLength >= 5) {
        record.typeCode = payload[0];
        record.offset = DeviceLe32(payload + 1);
    } else if (step == "FU_FWLOAD" && payloadLength >= 4) {
        record.offset = DeviceLe32(payload);
    }

    char text[192];
    std::snprintf(text, sizeof text, "MSG %s group=%u cmd=%u value=%u selector=%u length=%zu%s%s",
                  KindName(kind), group, command, value, message[4], payloadLength,
                  step.empty() ? "" : " ", step.c_str());
    trace_.Line(WireTrace::Direction::kOut, link.identity, text);

    if (countingPoints_ && AtPoint(link, FaultPointKind::kCommand, record.Describe())) {
        Fault f;
        switch (pointFault_.kind) {
            case PointFaultKind::kErrorStatus:
                f = Fault::Status(group, command, pointFault_.status);
                break;
            case PointFaultKind::kHeaderMismatch:
                f = Fault::Shape(FaultKind::kWrongCommand, group, command);
                break;
            case PointFaultKind::kDropResponse:
                f = Fault::Drop(group, command);
                break;
            default:
                f = Fault::Late(group, command, pointFault_.delayMs);
                break;
        }
        f.value = value;
        faults_.insert(faults_.begin(), f);  // fires before any other
    }

    Answer answer;
    answer.kind = static_cast<std::uint8_t>(kind + 1);
    answer.command = command;
    answer.group = group;
    DeviceSteps before;
    DeviceSteps after;
    const int piece = PieceOf(group, command, payload, payloadLength);

    if (kind != kKindSetRequest && kind != kKindGetRequest) {
        answer.status = device_status::kUnknownCommand;
    } else if (Fault* f = MatchFault(FaultKind::kErrorStatus, group, command, value, piece)) {
        answer.status = f->status;
        answer.detail = f->detail;
        Note(link, "fault: " + f->Describe());
    } else {
        Carry(link, message.data(), message.size(), answer, before, after);
    }

    bool drop = false;
    bool asEvent4 = false;
    if (Fault* f = MatchFault(FaultKind::kDropResponse, group, command, value, piece)) {
        drop = true;
        Note(link, "fault: " + f->Describe());
    }
    if (Fault* f = MatchFault(FaultKind::kLateResponse, group, command, value, piece)) {
        DeviceStep wait;
        wait.type = DeviceStep::Type::kWait;
        wait.ms = f->delayMs;
        before.push_back(wait);
        Note(link, "fault: " + f->Describe());
    }
    if (Fault* f = MatchFault(FaultKind::kWrongLength, group, command, value, piece)) {
        answer.payload.push_back(0);
        Note(link, "fault: " + f->Describe());
    }
    if (Fault* f = MatchFault(FaultKind::kWrongKind, group, command, value, piece)) {
        answer.kind = static_cast<std::uint8_t>(answer.kind + 2);
        Note(link, "fault: " + f->Describe());
    }
    if (Fault* f = MatchFault(FaultKind::kWrongCommand, group, command, value, piece)) {
        answer.command = static_cast<std::uint8_t>(answer.command + 1);
        Note(link, "fault: " + f->Describe());
    }
    if (Fault* f = MatchFault(FaultKind::kWrongGroup, group, command, value, piece)) {
        answer.group = static_cast<std::uint8_t>(answer.group + 1);
        Note(link, "fault: " + f->Describe());
    }
    if (Fault* f = MatchFault(FaultKind::kEvent4Response, group, command, value, piece)) {
        asEvent4 = true;
        Note(link, "fault: " + f->Describe());
    }

    const bool leaves = std::any_of(before.begin(), before.end(), [](const DeviceStep& s) {
        return s.type == DeviceStep::Type::kLeave;
    });
    std::uint64_t turnaroundUs = config_.timing.commandProcessingUs;
    for (const DeviceStep& s : before) {
        if (s.type == DeviceStep::Type::kWait) {
            turnaroundUs += std::uint64_t{s.ms} * 1000;
        }
    }
    DeviceSteps steps = std::move(before);
    if (!drop && !leaves) {
        steps.push_back(BuildSend(link, answer, asEvent4));
        steps.back().turnaroundUs = turnaroundUs;
        steps.insert(steps.end(), after.begin(), after.end());
    } else if (!leaves) {
        steps.insert(steps.end(), after.begin(), after.end());
    }
    record.answered = !drop && !leaves;
    record.status = answer.status;
    commands_.push_back(record);
    return steps;
}

void DeviceCore::Carry(const LinkInfo& link, const std::uint8_t* message, std::size_t length,
                       Answer& answer, DeviceSteps& before, DeviceSteps& after) {
    const std::uint8_t kind = message[0];
    const std::uint8_t command = message[1];
    const std::uint8_t group = message[2];
    const std::uint8_t value = message[3];
    const std::uint8_t* p = message + kHeaderSize;
    const std::size_t n = length - kHeaderSize;

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

    auto reg = [&](std::uint32_t index) -> std::vector<std::uint8_t>& {
        return registers_[RegisterKey(group, command, index)];
    };
    auto fill = [&](std::size_t at, const std::vector<std::uint8_t>& from) {
        for (std::size_t i = 0; i < from.size() && at + i < out.size(); ++i) {
            out[at + i] = from[i];
        }
    };

    switch (row->behaviour) {
        case Behaviour::kAccept:
            break;
        case Behaviour::kEchoPayload:
            fill(0, std::vector<std::uint8_t>(p, p + n));
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
                    Restart(link, TalvoMode::kUpdate, config_.timing.toUpdateDelayMs, after,
                            "restarts into update mode", true);
                }
            } else if (value == 1) {
                if (link.mode == TalvoMode::kUpdate) {
                    Restart(link, TalvoMode::kNormal, config_.timing.toNormalDelayMs, after,
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
                out.assign(versions_[value].begin(), versions_[value].end());
            }
            break;
        case Behaviour::kVerdict:
            if (!verdictPending_) {
                answer.status = device_status::kWrongState;
            } else {
                out[0] = verdict_;
            }
            break;
        case Behaviour::kValueStore:
            reg(0) = {value};
            break;
        case Behaviour::kValueLoad: {
            const auto& kept = reg(0);
            answer.value = kept.empty() ? 0 : kept[0];
            break;
        }
        case Behaviour::kPayloadStore:
            reg(0).assign(p, p + n);
            break;
        case Behaviour::kPayloadLoad:
            fill(0, reg(0));
            break;
        case Behaviour::kIndexedStore:
            reg(value).assign(p, p + n);
            break;
        case Behaviour::kIndexedLoad:
            fill(0, reg(value));
            break;
        case Behaviour::kValuePayloadStore:
            reg(0) = {value};
            reg(0).insert(reg(0).end(), p, p + n);
            break;
        case Behaviour::kValuePayloadLoad: {
            const auto& kept = reg(0);
            if (!kept.empty()) {
                answer.value = kept[0];
                fill(0, std::vector<std::uint8_t>(kept.begin() + 1, kept.end()));
            }
            break;
        }
        case Behaviour::kSubIndexedStore:
            reg((static_cast<std::uint32_t>(value) << 8) | p[0]).assign(p + 1, p + n);
            break;
        case Behaviour::kSubIndexedLoad:
            out[0] = p[0];
            fill(1, reg((static_cast<std::uint32_t>(value) << 8) | p[0]));
            break;
        case Behaviour::kMemoryStore: {
            const std::uint32_t address = DeviceLe32(p);
            for (std::size_t i = 0; i + 6 < n; ++i) {
                memory_[MemoryKey(group, command, value, address + static_cast<std::uint32_t>(i))] =
                    p[6 + i];
            }
            break;
        }
        case Behaviour::kMemoryLoad: {
            const std::uint32_t address = DeviceLe32(p);
            std::memcpy(out.data(), p, 6);
            for (std::size_t i = 6; i < out.size(); ++i) {
                const auto it = memory_.find(
                    MemoryKey(group, command, value, address + static_cast<std::uint32_t>(i - 6)));
                out[i] = it == memory_.end() ? 0 : it->second;
            }
            break;
        }
        case Behaviour::kBlockStore:
            reg((static_cast<std::uint32_t>(value) << 8) | p[0]).assign(p + 2, p + n);
            break;
        case Behaviour::kBlockLoad:
            out[0] = p[0];
            out[1] = p[1];
            fill(2, reg((static_cast<std::uint32_t>(value) << 8) | p[0]));
            out.resize(responseLength);
            break;
        case Behaviour::kAddressedStore: {
            const std::uint32_t address = (static_cast<std::uint32_t>(p[0]) << 8) | p[1];
            for (std::size_t i = 0; i + 3 < n; ++i) {
                memory_[MemoryKey(group, command, 0, address + static_cast<std::uint32_t>(i))] =
                    p[3 + i];
            }
            break;
        }
        case Behaviour::kAddressedLoad: {
            const std::uint32_t address = (static_cast<std::uint32_t>(p[0]) << 8) | p[1];
            std::memcpy(out.data(), p, 3);
            for (std::size_t i = 3; i < out.size(); ++i) {
                const auto it = memory_.find(
                    MemoryKey(group, command, 0, address + static_cast<std::uint32_t>(i - 3)));
                out[i] = it == memory_.end() ? 0 : it->second;
            }
            break;
        }
        case Behaviour::kFirmwareUpdate:
            CarryUpdateGroup(link, p, n, answer, before, after);
            break;
    }
    if (answer.status != device_status::kOk) {
        out.clear();
    }
}

void DeviceCore::CarryUpdateGroup(const LinkInfo& link, const std::uint8_t* p, std::size_t n,
                                  Answer& answer, DeviceSteps& before, DeviceSteps& after) {
    using namespace device_status;
    if (link.mode != TalvoMode::kUpdate) {
        answer.status = kWrongState;
        return;
    }
    char text[160];
    switch (answer.command) {
        case kCmdFuSetInfo: {
            const std::uint8_t typeCode = p[0];
            const std::uint32_t imageLength = DeviceLe32(p + 1);
            if (!IsKnownTypeCode(typeCode)) {
                answer.status = kBadParameter;
                answer.detail = 1;
                return;
            }
            if (imageLength <= image_layout::kBody || imageLength > kMaxImageSize) {
                answer.status = kBadParameter;
                answer.detail = 2;
                return;
            }
            session_ = Session{};
            session_.active = true;
            session_.typeCode = typeCode;
            session_.length = imageLength;
            session_.bodyCrc = DeviceLe16(p + 5);
            // Room grows with the pieces; a bare announcement does not claim megabytes.
            session_.staged.reserve(std::min<std::size_t>(imageLength, 256 * 1024));
            return;
        }
        case kCmdFuFwLoad: {
            if (!session_.active) {
                answer.status = kWrongState;
                return;
            }
            const std::uint32_t offset = DeviceLe32(p);
            const std::uint16_t crc = DeviceLe16(p + 4);
            const std::size_t size = n - 6;
            if (size > kMaxPieceSize) {
                answer.status = kPieceTooLarge;
            } else if (offset != session_.staged.size()) {
                answer.status = kOutOfOrder;
            } else if (static_cast<std::uint64_t>(offset) + size > session_.length) {
                answer.status = kOverrun;
            } else if (DeviceCrc16(p + 6, size, 0) != crc) {
                answer.status = kPieceCrc;
            }
            if (answer.status != kOk) {
                // The loaded piece, if any, is no longer the one to commit.
                session_.pending = false;
                session_.lastWasCommit = false;
                return;
            }
            session_.pending = true;
            session_.pendingOffset = offset;
            session_.pendingData.assign(p + 6, p + n);
            session_.lastWasCommit = false;
            return;
        }
        case kCmdFuWriteFw: {
            if (!session_.pending) {
                if (session_.lastWasCommit) {
                    // A repeated write (the answer to the first one was lost):
                    // nothing new to commit, same answer as before.
                    answer.status = lastCommitStatus_;
                    answer.detail = lastCommitDetail_;
                    Note(link, "repeated FU_WRITEFW: nothing new to commit");
                } else {
                    answer.status = kWrongState;
                }
                return;
            }
            const int piece = static_cast<int>(session_.pendingOffset / kMaxPieceSize);
            if (Fault* f = MatchFault(FaultKind::kUnplugDuringWrite, kGroupFirmwareUpdate,
                                      kCmdFuWriteFw, answer.value, piece)) {
                Note(link, "fault: " + f->Describe());
                DeviceStep wait;
                wait.type = DeviceStep::Type::kWait;
                wait.ms = config_.timing.writeFwDurationMs / 2;
                before.push_back(wait);
                DeviceStep leave;
                leave.type = DeviceStep::Type::kLeave;
                leave.note = "unplugged while writing";
                before.push_back(leave);
                if (f->comeBackAfterMs >= 0) {
                    DeviceStep back;
                    back.type = DeviceStep::Type::kWait;
                    back.ms = static_cast<std::uint32_t>(f->comeBackAfterMs);
                    before.push_back(back);
                    DeviceStep arrive;
                    arrive.type = DeviceStep::Type::kArrive;
                    arrive.mode = TalvoMode::kNormal;
                    arrive.note = "plugged in again";
                    before.push_back(arrive);
                }
                return;
            }
            DeviceStep wait;
            wait.type = DeviceStep::Type::kWait;
            wait.ms = config_.timing.writeFwDurationMs;
            before.push_back(wait);
            session_.staged.insert(session_.staged.end(), session_.pendingData.begin(),
                                   session_.pendingData.end());
            session_.pending = false;
            session_.pendingData.clear();
            session_.lastWasCommit = true;
            lastCommitStatus_ = kOk;
            lastCommitDetail_ = 0;
            if (session_.staged.size() < session_.length) {
                return;
            }
            const ImageCheck check = CheckImage(session_.staged.data(), session_.staged.size(),
                                                session_.typeCode, session_.bodyCrc);
            session_.active = false;
            if (check != ImageCheck::kOk) {
                answer.status = kImageRejected;
                answer.detail = static_cast<std::uint8_t>(check);
                lastCommitStatus_ = answer.status;
                lastCommitDetail_ = answer.detail;
                std::snprintf(text, sizeof text, "image of type code %u rejected: %s",
                              session_.typeCode, ImageCheckName(check));
                Note(link, text);
                session_.staged.clear();
                return;
            }
            const std::uint8_t typeCode = session_.typeCode;
            if (config_.modeFaults.flashDoesNotTake) {
                Note(link, "fault: the image does not take; flash and version stay as they were");
                session_.staged.clear();
                return;
            }
            flash_[typeCode] = std::move(session_.staged);
            session_.staged.clear();
            versions_[typeCode].fill(0);
            const std::string version = ImageVersionText(flash_[typeCode].data());
            std::memcpy(versions_[typeCode].data(), version.data(), version.size());
            ++imagesAccepted_;
            std::snprintf(text, sizeof text,
                          "image of type code %u, version %s, %zu bytes taken into flash", typeCode,
                          version.c_str(), flash_[typeCode].size());
            Note(link, text);
            if (typeCode == kTypeCodeUpdater) {
                verdictPending_ = true;
                verdict_ = static_cast<std::uint8_t>(config_.modeFaults.fwupVerdict);
                Restart(link, TalvoMode::kUpdate, config_.timing.fwupRestartDelayMs, after,
                        "restarts after taking the updater image", false);
            }
            return;
        }
        default:
            answer.status = kUnknownCommand;
            return;
    }
}

void DeviceCore::Restart(const LinkInfo& link, TalvoMode target, std::uint32_t awayMs,
                         DeviceSteps& after, const char* why, bool requested) {
    ModeFaults& mf = config_.modeFaults;
    if (requested && mf.refuseRestarts > 0) {
        --mf.refuseRestarts;
        Note(link, "fault: restart refused");
        return;
    }
    DeviceStep wait;
    wait.type = DeviceStep::Type::kWait;
    wait.ms = config_.timing.leaveDelayMs;
    after.push_back(wait);
    DeviceStep leave;
    leave.type = DeviceStep::Type::kLeave;
    leave.note = why;
    after.push_back(leave);
    if (mf.vanishOnRestart > 0 || (target == TalvoMode::kNormal && mf.vanishOnNormalRestart > 0)) {
        --(mf.vanishOnRestart > 0 ? mf.vanishOnRestart : mf.vanishOnNormalRestart);
        Note(link, "fault: does not come back from the restart");
        return;
    }
    TalvoMode mode = target;
    if (mf.wrongModeReturns > 0) {
        --mf.wrongModeReturns;
        mode = target == TalvoMode::kUpdate ? TalvoMode::kNormal : TalvoMode::kUpdate;
        Note(link, "fault: comes back in the wrong mode");
    }
    DeviceStep away;
    away.type = DeviceStep::Type::kWait;
    away.ms = awayMs;
    after.push_back(away);
    DeviceStep arrive;
    arrive.type = DeviceStep::Type::kArrive;
    arrive.mode = mode;
    arrive.note = "back after the restart";
    after.push_back(arrive);
}

DeviceSteps DeviceCore::OnArrived(const LinkInfo& link) {
    std::lock_guard<std::mutex> lock(mutex_);
    assemblies_.erase(link.mode);
    if (AtPoint(link, FaultPointKind::kModeChange,
                std::string("arrive in ") + TalvoModeName(link.mode) + " mode")) {
        return PointFaultTail();
    }
    DeviceSteps steps;
    ModeFaults& mf = config_.modeFaults;
    if (link.mode == TalvoMode::kUpdate && mf.settleUnplugAfterMs >= 0) {
        DeviceStep wait;
        wait.type = DeviceStep::Type::kWait;
        wait.ms = static_cast<std::uint32_t>(mf.settleUnplugAfterMs);
        steps.push_back(wait);
        DeviceStep leave;
        leave.type = DeviceStep::Type::kLeave;
        leave.note = "unplugged while settling";
        steps.push_back(leave);
        mf.settleUnplugAfterMs = -1;
    }
    StepPoints(link, steps);
    return steps;
}

void DeviceCore::OnLeft() {
    std::lock_guard<std::mutex> lock(mutex_);
    assemblies_.clear();
    session_ = Session{};
}

std::vector<std::vector<std::uint8_t>> DeviceCore::Segment(
    const LinkInfo& link, std::uint8_t first, std::uint8_t middle, std::uint8_t last,
    const std::vector<std::uint8_t>& bytes) const {
    const std::size_t r = static_cast<std::size_t>(link.reportLength);
    const std::size_t p = r - 1;
    std::vector<std::vector<std::uint8_t>> reports;
    std::size_t pos = 0;
    do {
        std::vector<std::uint8_t> report(r + 1, 0);
        report[0] = link.inputReportId;
        const std::size_t remaining = bytes.size() - pos;
        report[1] = reports.empty() ? first : (remaining > p ? middle : last);
        const std::size_t take = std::min(p, remaining);
        std::memcpy(report.data() + 2, bytes.data() + pos, take);
        pos += take;
        reports.push_back(std::move(report));
    } while (pos < bytes.size());
    return reports;
}

DeviceStep DeviceCore::BuildSend(const LinkInfo& link, const Answer& answer, bool asEvent4) const {
    std::vector<std::uint8_t> message(kHeaderSize + answer.payload.size(), 0);
    message[0] = asEvent4 ? 4 : answer.kind;
    message[1] = answer.command;
    message[2] = answer.group;
    message[3] = answer.value;
    message[4] = answer.status;
    message[5] = answer.detail;
    message[6] = static_cast<std::uint8_t>(answer.payload.size() & 0xFF);
    message[7] = static_cast<std::uint8_t>(answer.payload.size() >> 8);
    std::copy(answer.payload.begin(), answer.payload.end(), message.begin() + kHeaderSize);

    DeviceStep step;
    step.type = DeviceStep::Type::kSend;
    char text[160];
    std::snprintf(text, sizeof text,
                  "MSG %s group=%u cmd=%u value=%u status=%u detail=%u length=%zu",
                  KindName(message[0]), message[2], message[1], message[3], message[4], message[5],
                  answer.payload.size());
    step.decoded = text;
    if (asEvent4) {
        const std::size_t r = static_cast<std::size_t>(link.reportLength);
        std::vector<std::uint8_t> report(r + 1, 0);
        report[0] = link.inputReportId;
        report[1] = 0x90;
        std::memcpy(report.data() + 2, message.data(), std::min(message.size(), r - 1));
        step.reports.push_back(std::move(report));
    } else {
        step.reports = Segment(link, kMarkerResponseFirst, kMarkerResponseMiddle,
                               kMarkerResponseLast, message);
    }
    return step;
}

DeviceStep DeviceCore::Notification(const LinkInfo& link, std::uint8_t event, int value,
                                    std::uint8_t marker) const {
    const std::size_t r = static_cast<std::size_t>(link.reportLength);
    std::vector<std::uint8_t> report(r + 1, 0);
    report[0] = link.inputReportId;
    report[1] = marker;
    report[2] = event;
    if (event == 3) {
        report[3] = static_cast<std::uint8_t>((value >> 8) & 0xFF);
        report[4] = static_cast<std::uint8_t>(value & 0xFF);
    } else {
        report[3] = static_cast<std::uint8_t>(value & 0xFF);
    }
    DeviceStep step;
    step.type = DeviceStep::Type::kSend;
    char text[64];
    std::snprintf(text, sizeof text, "NOTIFY event=%u value=%d", event, value);
    step.decoded = text;
    step.reports.push_back(std::move(report));
    return step;
}

DeviceStep DeviceCore::Event4Response(const LinkInfo& link, std::uint8_t command,
                                      std::uint8_t group, std::uint8_t value, std::uint8_t status,
                                      std::uint8_t detail,
                                      const std::vector<std::uint8_t>& payload) const {
    Answer answer;
    answer.command = command;
    answer.group = group;
    answer.value = value;
    answer.status = status;
    answer.detail = detail;
    answer.payload = payload;
    return BuildSend(link, answer, true);
}

DeviceStep DeviceCore::DataStream(const LinkInfo& link, std::uint8_t kind,
                                  const std::vector<std::uint8_t>& data) const {
    const std::size_t count = data.size() + 1;
    std::vector<std::uint8_t> bytes;
    bytes.push_back(static_cast<std::uint8_t>(count & 0xFF));
    bytes.push_back(static_cast<std::uint8_t>((count >> 8) & 0xFF));
    bytes.push_back(kind);
    bytes.insert(bytes.end(), data.begin(), data.end());
    DeviceStep step;
    step.type = DeviceStep::Type::kSend;
    char text[64];
    std::snprintf(text, sizeof text, "STREAM kind=%u count=%zu", kind, count);
    step.decoded = text;
    step.reports = Segment(link, kMarkerStreamFirst, kMarkerStreamMiddle, kMarkerStreamLast, bytes);
    return step;
}

std::vector<std::uint8_t> DeviceCore::ConstantPayload(std::uint8_t group, std::uint8_t command,
                                                      std::uint8_t value,
                                                      std::size_t length) const {
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

void DeviceCore::AddFault(const Fault& fault) {
    std::lock_guard<std::mutex> lock(mutex_);
    faults_.push_back(fault);
}

std::vector<Fault> DeviceCore::Faults() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return faults_;
}

void DeviceCore::ClearFaults() {
    std::lock_guard<std::mutex> lock(mutex_);
    faults_.clear();
}

ModeFaults DeviceCore::GetModeFaults() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return config_.modeFaults;
}

void DeviceCore::SetModeFaults(const ModeFaults& faults) {
    std::lock_guard<std::mutex> lock(mutex_);
    config_.modeFaults = faults;
}

std::vector<std::uint8_t> DeviceCore::Flash(int typeCode) const {
    std::lock_guard<std::mutex> lock(mutex_);
    if (typeCode < 0 || typeCode >= static_cast<int>(flash_.size())) {
        return {};
    }
    return flash_[static_cast<std::size_t>(typeCode)];
}

std::array<std::uint8_t, 16> DeviceCore::VersionBytes(int typeCode) const {
    std::lock_guard<std::mutex> lock(mutex_);
    if (typeCode < 0 || typeCode >= static_cast<int>(versions_.size())) {
        return {};
    }
    return versions_[static_cast<std::size_t>(typeCode)];
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
    return imagesAccepted_;
}

}  // namespace talvo
