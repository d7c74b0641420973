// Report framing of the device command protocol.
//
// A report as seen here is one HID report without its report-ID byte, R
// bytes long (16 in normal mode, 64 in update mode): byte 0 is a marker,
// bytes 1..R-1 carry P = R-1 bytes of message data. Messages longer than P
// are split into a first, middle and last segment run on the way out and
// reassembled on the way in.
//
// Both halves are plain code without threads or I/O so that they can be
// driven report by report: WriteSegments builds each output report in a
// caller's 64-byte buffer and hands it to a writer; ReceiveAssembler takes
// one input report at a time and says what it completed.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>

namespace talvo {

// Every buffer that holds one report is this long; R never exceeds it.
inline constexpr int kMaxReportLength = 64;
inline constexpr int kMinReportLength = 2;

// Message header: kind, command, group, value, selector/status, detail,
// 16-bit little-endian payload length.
inline constexpr std::size_t kHeaderLength = 8;
inline constexpr std::size_t kMaxMessageLength = kHeaderLength + 65535;

inline constexpr std::size_t kRequestBufferSize = 131070;
inline constexpr std::size_t kResponseBufferSize = 131072;
inline constexpr std::size_t kStreamBufferSize = 131070;
inline constexpr std::size_t kNotifyBufferSize = 64;

namespace marker {
inline constexpr std::uint8_t kRequestFirst = 0x80;
inline constexpr std::uint8_t kRequestMiddle = 0x81;
inline constexpr std::uint8_t kRequestLast = 0x82;
inline constexpr std::uint8_t kResponseFirst = 0x83;
inline constexpr std::uint8_t kResponseMiddle = 0x84;
inline constexpr std::uint8_t kResponseLast = 0x85;
inline constexpr std::uint8_t kStreamFirst = 0xA0;
inline constexpr std::uint8_t kStreamMiddle = 0xA1;
inline constexpr std::uint8_t kStreamLast = 0xA2;
}  // namespace marker

inline bool IsValidReportLength(int r) {
    return r >= kMinReportLength && r <= kMaxReportLength;
}

// Number of reports a message of `length` bytes takes with P bytes each.
inline std::size_t SegmentCount(std::size_t length, std::size_t payload) {
    return (length + payload - 1) / payload;
}

// Splits `length` message bytes into reports of `reportLength` bytes, built
// one after the other in `report` (kMaxReportLength bytes), and calls
// write(report) for each. One report (0x80) when the message fits, else a
// 0x80 report, middle 0x81 reports and one 0x82 report; the final report is
// zero-filled after the message's end. Stops at the first write that returns
// false and returns false; true when all reports were written. A message of
// length 0 writes nothing and returns true; callers refuse it earlier.
template <class Writer>
bool WriteSegments(const std::uint8_t* message, std::size_t length, int reportLength,
                   std::uint8_t* report, Writer&& write) {
    const std::size_t r = static_cast<std::size_t>(reportLength);
    const std::size_t payload = r - 1;
    std::size_t offset = 0;
    bool first = true;
    while (offset < length) {
        const std::size_t remaining = length - offset;
        const std::size_t chunk = remaining < payload ? remaining : payload;
        const bool last = offset + chunk == length;
        if (first) {
            report[0] = marker::kRequestFirst;
        } else {
            report[0] = last ? marker::kRequestLast : marker::kRequestMiddle;
        }
        std::memcpy(report + 1, message + offset, chunk);
        if (chunk < payload) {
            std::memset(report + 1 + chunk, 0, payload - chunk);
        }
        if (!write(static_cast<const std::uint8_t*>(report))) {
            return false;
        }
        offset += chunk;
        first = false;
    }
    return true;
}

// What one input report completed.
struct ReceiveOutcome {
    // A response message is complete in the response buffer (also for the
    // one-report response of notification event 4).
    bool responseReady = false;
    // How many bytes at the start of the response buffer that message
    // occupies as received (whole segments, so possibly more than the
    // message itself).
    std::size_t responseBytes = 0;
    // A notification to deliver: notifyCallback(event, value).
    bool notify = false;
    int event = 0;
    int value = 0;
    // A data-stream message to deliver: streamCallback(kind, data, count).
    bool stream = false;
    int streamKind = 0;
    const std::uint8_t* streamData = nullptr;
    int streamCount = 0;
};

// Reassembly of responses and data-stream messages, and decoding of
// notifications, from input reports of R bytes. The buffers belong to the
// protocol object and are written in place; nothing is allocated.
//
// Each segment copy is always R-1 bytes, so bytes after a message's end hold
// whatever the device sent. A run is dropped once its write position passes
// M, the smallest multiple of R-1 above 65,536, so the largest message
// (65,543 bytes) fits while the buffers can never be overrun.
class ReceiveAssembler {
  public:
    ReceiveAssembler(int reportLength, std::uint8_t* responseBuffer, std::uint8_t* streamBuffer,
                     std::uint8_t* notifyBuffer);

    // Takes one report of R bytes.
    ReceiveOutcome Feed(const std::uint8_t* report);

    std::size_t PositionLimit() const { return limit_; }
    bool ResponseInProgress() const { return responseInProgress_; }
    std::size_t ResponsePosition() const { return responsePos_; }
    bool StreamInProgress() const { return streamInProgress_; }

  private:
    void FeedResponse(const std::uint8_t* report, ReceiveOutcome& out);
    void FeedNotification(const std::uint8_t* report, ReceiveOutcome& out);
    void FeedStream(const std::uint8_t* report, ReceiveOutcome& out);

    std::size_t data_;
    std::size_t limit_;
    std::uint8_t* response_;
    std::uint8_t* stream_;
    std::uint8_t* notify_;

    bool responseInProgress_ = false;
    bool responseComplete_ = false;
    std::size_t responsePos_ = 0;

    bool streamInProgress_ = false;
    std::size_t streamPos_ = 0;
    std::size_t streamCount_ = 0;
};

}  // namespace talvo
