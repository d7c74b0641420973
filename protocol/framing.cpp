#include "protocol/framing.h"

namespace talvo {

namespace {

std::size_t PositionLimitFor(std::size_t data) {
    return data * (65536 / data + 1);
}

}  // namespace

ReceiveAssembler::ReceiveAssembler(int reportLength, std::uint8_t* responseBuffer,
                                   std::uint8_t* streamBuffer, std::uint8_t* notifyBuffer)
    : data_(static_cast<std::size_t>(reportLength) - 1),
      limit_(PositionLimitFor(data_)),
      response_(responseBuffer),
      stream_(streamBuffer),
      notify_(notifyBuffer) {}

ReceiveOutcome ReceiveAssembler::Feed(const std::uint8_t* report) {
    ReceiveOutcome out;
    switch (report[0] & 0xF0) {
        case 0x80:
            FeedResponse(report, out);
            break;
        case 0x90:
            FeedNotification(report, out);
            break;
        case 0xA0:
            FeedStream(report, out);
            break;
        default:
            break;
    }
    return out;
}

void ReceiveAssembler::FeedResponse(const std::uint8_t* report, ReceiveOutcome& out) {
    const std::uint8_t m = report[0];
    if (m == marker::kResponseFirst) {
        // A first segment always restarts the assembly.
        std::memcpy(response_, report + 1, data_);
        responsePos_ = data_;
        const std::size_t length = response_[6] | (response_[7] << 8);
        // Signed: a report too short to hold the header never completes alone.
        responseComplete_ = static_cast<long>(data_) - static_cast<long>(kHeaderLength) >=
                            static_cast<long>(length);
        responseInProgress_ = !responseComplete_;
    } else if (m == marker::kResponseMiddle || m == marker::kResponseLast) {
        if (!responseInProgress_) {
            return;  // no first segment: dropped
        }
        std::memcpy(response_ + responsePos_, report + 1, data_);
        responsePos_ += data_;
        if (m == marker::kResponseLast) {
            responseComplete_ = true;
            responseInProgress_ = false;
        }
    } else {
        return;  // request markers and 0x86..0x8F are not for the host
    }
    if (responsePos_ > limit_) {
        responseInProgress_ = false;
        responseComplete_ = false;
        responsePos_ = 0;
    }
    if (responseComplete_) {
        out.responseReady = true;
        out.responseBytes = responsePos_;
    }
}

void ReceiveAssembler::FeedNotification(const std::uint8_t* report, ReceiveOutcome& out) {
    const std::uint8_t event = report[1];
    if (event == 4) {
        // A complete one-report response; the response assembly in
        // progress, if any, is left as it is.
        std::memcpy(response_, report + 1, data_);
        out.responseReady = true;
        out.responseBytes = data_;
        return;
    }
    std::memcpy(notify_, report + 1, data_);
    switch (event) {
        case 1:
        case 2:
        case 5:
        case 7:
        case 8:
        case 9:
            out.notify = true;
            out.event = event;
            out.value = report[2];
            break;
        case 3:
            // The one big-endian value of the protocol.
            out.notify = true;
            out.event = 3;
            out.value = report[2] * 256 + report[3];
            break;
        default:
            break;
    }
}

void ReceiveAssembler::FeedStream(const std::uint8_t* report, ReceiveOutcome& out) {
    const std::uint8_t m = report[0];
    bool complete = false;
    if (m == marker::kStreamFirst) {
        std::memcpy(stream_, report + 1, data_);
        streamCount_ = stream_[0] | (stream_[1] << 8);
        streamPos_ = data_;
        complete = static_cast<long>(data_) - 2 >= static_cast<long>(streamCount_);
        streamInProgress_ = !complete;
    } else if (m == marker::kStreamMiddle || m == marker::kStreamLast) {
        if (!streamInProgress_) {
            return;
        }
        std::memcpy(stream_ + streamPos_, report + 1, data_);
        streamPos_ += data_;
        if (m == marker::kStreamLast) {
            complete = true;
            streamInProgress_ = false;
        }
    } else {
        return;
    }
    if (streamPos_ > limit_) {
        streamInProgress_ = false;
        streamPos_ = 0;
        return;
    }
    if (complete) {
        // Terminate the counted bytes so a text payload reads safely.
        stream_[2 + streamCount_] = 0;
        out.stream = true;
        out.streamKind = stream_[2];
        out.streamData = stream_ + 3;
        out.streamCount = static_cast<int>(streamCount_);
    }
}

}  // namespace talvo
