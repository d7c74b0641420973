#include "emulator/device_framing.h"

#include <algorithm>
#include <cstdio>
#include <cstring>

#include "emulator/command_catalogue.h"
#include "emulator/device_image.h"

namespace talvo {

namespace {

constexpr std::uint8_t kMarkerFirst = 0x80;
constexpr std::uint8_t kMarkerMiddle = 0x81;
constexpr std::uint8_t kMarkerLast = 0x82;
constexpr std::uint8_t kMarkerResponseFirst = 0x83;
constexpr std::uint8_t kMarkerResponseMiddle = 0x84;
constexpr std::uint8_t kMarkerResponseLast = 0x85;
constexpr std::uint8_t kMarkerNotification = 0x90;
constexpr std::uint8_t kMarkerStreamFirst = 0xA0;
constexpr std::uint8_t kMarkerStreamMiddle = 0xA1;
constexpr std::uint8_t kMarkerStreamLast = 0xA2;

std::vector<std::vector<std::uint8_t>> Segment(const LinkInfo& link, std::uint8_t first,
                                               std::uint8_t middle, std::uint8_t last,
                                               const std::vector<std::uint8_t>& bytes) {
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

}  // namespace

const char* MessageKindName(std::uint8_t kind) {
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

void RequestAssembly::Reset() {
    active_ = false;
    bytes_.clear();
    needed_ = 0;
    reports_ = 0;
}

RequestAssembly::Added RequestAssembly::Add(std::uint8_t marker, const std::uint8_t* data,
                                            std::size_t size, const DeviceNotes& notes) {
    if (marker == kMarkerFirst) {
        if (active_) {
            notes("new first segment: the unfinished request is dropped");
        }
        Reset();
        if (size < kMessageHeaderSize) {
            notes("ignored: reports too short for a message header");
            return Added::kIgnored;
        }
        active_ = true;
        bytes_.assign(data, data + size);
        reports_ = 1;
        needed_ = kMessageHeaderSize + DeviceLe16(bytes_.data() + 6);
        return Added::kFirst;
    }
    if (marker == kMarkerMiddle || marker == kMarkerLast) {
        if (!active_) {
            notes(marker == kMarkerMiddle ? "dropped: middle segment without a first one"
                                          : "dropped: last segment without a first one");
            return Added::kIgnored;
        }
        bytes_.insert(bytes_.end(), data, data + size);
        ++reports_;
        return Added::kFurther;
    }
    char text[64];
    std::snprintf(text, sizeof text, "ignored: marker 0x%02X", marker);
    notes(text);
    return Added::kIgnored;
}

RequestAssembly::Result RequestAssembly::Finish(std::uint8_t marker, std::size_t size,
                                                const char** why) {
    *why = nullptr;
    if (marker == kMarkerFirst) {
        if (needed_ > size) {
            return Result::kMore;
        }
    } else if (marker == kMarkerMiddle) {
        if (bytes_.size() < needed_) {
            return Result::kMore;
        }
        *why = "middle segment past the end of the message";
    } else if (bytes_.size() < needed_) {
        *why = "last segment before the end of the message";
    } else if (bytes_.size() - size >= needed_) {
        *why = "last segment carries no byte of the message";
    }
    const std::size_t keep = *why != nullptr ? kMessageHeaderSize : needed_;
    taken_.assign(bytes_.begin(), bytes_.begin() + static_cast<std::ptrdiff_t>(keep));
    Reset();
    return *why != nullptr ? Result::kMalformed : Result::kComplete;
}

std::string DescribeRequest(const std::vector<std::uint8_t>& message) {
    const char* step = UpdateStepName(UpdateStepOf(message[2], message[1]));
    char text[192];
    std::snprintf(text, sizeof text, "MSG %s group=%u cmd=%u value=%u selector=%u length=%zu%s%s",
                  MessageKindName(message[0]), message[2], message[1], message[3], message[4],
                  message.size() - kMessageHeaderSize, *step != '\0' ? " " : "", step);
    return text;
}

DeviceStep AnswerStep(const LinkInfo& link, const DeviceAnswer& answer, bool asEvent4) {
    std::vector<std::uint8_t> message(kMessageHeaderSize + answer.payload.size(), 0);
    message[0] = asEvent4 ? 4 : answer.kind;
    message[1] = answer.command;
    message[2] = answer.group;
    message[3] = answer.value;
    message[4] = answer.status;
    message[5] = answer.detail;
    message[6] = static_cast<std::uint8_t>(answer.payload.size() & 0xFF);
    message[7] = static_cast<std::uint8_t>(answer.payload.size() >> 8);
    std::copy(answer.payload.begin(), answer.payload.end(), message.begin() + kMessageHeaderSize);

    DeviceStep step;
    step.type = DeviceStep::Type::kSend;
    char text[160];
    std::snprintf(text, sizeof text,
                  "MSG %s group=%u cmd=%u value=%u status=%u detail=%u length=%zu",
                  MessageKindName(message[0]), message[2], message[1], message[3], message[4],
                  message[5], answer.payload.size());
    step.decoded = text;
    if (asEvent4) {
        const std::size_t r = static_cast<std::size_t>(link.reportLength);
        std::vector<std::uint8_t> report(r + 1, 0);
        report[0] = link.inputReportId;
        report[1] = kMarkerNotification;
        std::memcpy(report.data() + 2, message.data(), std::min(message.size(), r - 1));
        step.reports.push_back(std::move(report));
    } else {
        step.reports = ResponseReports(link, message);
    }
    return step;
}

std::vector<std::vector<std::uint8_t>> ResponseReports(const LinkInfo& link,
                                                       const std::vector<std::uint8_t>& message) {
    return Segment(link, kMarkerResponseFirst, kMarkerResponseMiddle, kMarkerResponseLast, message);
}

DeviceStep NotificationStep(const LinkInfo& link, std::uint8_t event, int value,
                            std::uint8_t marker) {
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

DeviceStep DataStreamStep(const LinkInfo& link, std::uint8_t kind,
                          const std::vector<std::uint8_t>& data) {
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

}  // namespace talvo
