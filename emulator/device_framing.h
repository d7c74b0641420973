// How messages travel in reports, from the device's side: a request is
// gathered from 0x80 / 0x81... / 0x82 output reports and taken strictly
// (wrong markers, a middle or last segment without a first one, segments
// that end before or after the header's length); answers, notifications
// and data streams are cut into zero-padded input reports.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "emulator/device_steps.h"

namespace talvo {

inline constexpr std::size_t kMessageHeaderSize = 8;

// "set-request", "get-response", ... as the trace names a message kind.
const char* MessageKindName(std::uint8_t kind);

// One identity's request being gathered from its output reports.
class RequestAssembly {
  public:
    enum class Added { kIgnored, kFirst, kFurther };
    enum class Result { kMore, kMalformed, kComplete };

    // The data of one output report after its marker (`size` bytes).
    // kIgnored: the report belongs to no request (`notes` says why).
    Added Add(std::uint8_t marker, const std::uint8_t* data, std::size_t size,
              const DeviceNotes& notes);
    // After Add: whether the request is whole. kMalformed sets `why`;
    // kComplete and kMalformed start a new assembly.
    Result Finish(std::uint8_t marker, std::size_t size, const char** why);

    int Reports() const { return reports_; }
    // Gathered so far (at least the header after kFirst).
    const std::vector<std::uint8_t>& Bytes() const { return bytes_; }
    // After kComplete or kMalformed: the whole request or its header.
    const std::vector<std::uint8_t>& Taken() const { return taken_; }
    void Reset();

  private:
    bool active_ = false;
    std::vector<std::uint8_t> bytes_;
    std::vector<std::uint8_t> taken_;
    std::size_t needed_ = 0;
    int reports_ = 0;
};

// The trace's line for a whole request.
std::string DescribeRequest(const std::vector<std::uint8_t>& message);

// A whole answer message (header first) cut into 0x83 / 0x84... / 0x85
// input reports, zero padded.
std::vector<std::vector<std::uint8_t>> ResponseReports(const LinkInfo& link,
                                                       const std::vector<std::uint8_t>& message);
// An answer as input reports; `asEvent4` sends it in one event-4
// notification report instead.
DeviceStep AnswerStep(const LinkInfo& link, const DeviceAnswer& answer, bool asEvent4);
// A notification report (0x90..0x9F); event 3 carries its value big-endian.
DeviceStep NotificationStep(const LinkInfo& link, std::uint8_t event, int value,
                            std::uint8_t marker = 0x90);
// A data-stream message (0xA0..0xA2), count first.
DeviceStep DataStreamStep(const LinkInfo& link, std::uint8_t kind,
                          const std::vector<std::uint8_t>& data);

}  // namespace talvo
