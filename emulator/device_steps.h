// The words the device core's parts share: the device's modes and status
// bytes, the identity a report came in on, an answer before it is framed,
// and the steps (send, wait, leave, arrive) the core hands its runner.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "emulator/wire_trace.h"

namespace talvo {

enum class TalvoMode { kAbsent, kNormal, kUpdate };
const char* TalvoModeName(TalvoMode mode);

// Status bytes the device answers with.
namespace device_status {
inline constexpr std::uint8_t kOk = 0x00;
inline constexpr std::uint8_t kUnknownCommand = 0x01;
inline constexpr std::uint8_t kMalformed = 0x02;  // framing or payload length
inline constexpr std::uint8_t kBadParameter = 0x03;
inline constexpr std::uint8_t kWrongState = 0x04;  // not in this mode, or out of sequence
inline constexpr std::uint8_t kPieceCrc = 0x05;
inline constexpr std::uint8_t kOutOfOrder = 0x06;     // piece offset leaves a gap
inline constexpr std::uint8_t kOverrun = 0x07;        // piece runs past the announced length
inline constexpr std::uint8_t kImageRejected = 0x08;  // detail: the failed check
inline constexpr std::uint8_t kPieceTooLarge = 0x09;
inline constexpr std::uint8_t kBusy = 0x13;
}  // namespace device_status

// One plugged identity, as the device sees it.
struct LinkInfo {
    TalvoMode mode = TalvoMode::kNormal;
    std::string identity;   // name in the trace
    int reportLength = 16;  // data bytes per report, without the report ID
    std::uint8_t inputReportId = 0;
    std::uint8_t outputReportId = 0;
};

// An answer message before it is cut into reports.
struct DeviceAnswer {
    std::uint8_t kind = 0, command = 0, group = 0, value = 0, status = 0, detail = 0;
    std::vector<std::uint8_t> payload;
};

struct DeviceStep {
    enum class Type { kSend, kWait, kLeave, kArrive };
    Type type = Type::kSend;
    std::vector<std::vector<std::uint8_t>> reports;  // kSend: whole input reports, ID byte first
    std::string decoded;                             // kSend: the message line for the trace
    // kSend answering a request: the device's processing time, counted from
    // the request's last report; the answer goes out no earlier.
    std::uint64_t turnaroundUs = 0;
    std::uint32_t ms = 0;                 // kWait
    TalvoMode mode = TalvoMode::kNormal;  // kArrive
    std::string note;                     // kLeave / kArrive: why
};
using DeviceSteps = std::vector<DeviceStep>;

DeviceStep WaitStep(std::uint32_t ms);
DeviceStep LeaveStep(std::string note);
DeviceStep ArriveStep(TalvoMode mode, std::string note);
// Leaves the bus (`note` says why) and, unless `comeBackAfterMs` is
// negative, is plugged in again in normal mode that long after.
void AppendUnplug(DeviceSteps& steps, std::string note, int comeBackAfterMs);

// The trace's event lines ("* ...") for the identity a request came in on.
class DeviceNotes {
  public:
    DeviceNotes(WireTrace& trace, const LinkInfo& link) : trace_(trace), link_(link) {}
    void operator()(const std::string& text) const;
    WireTrace& Trace() const { return trace_; }
    const LinkInfo& Link() const { return link_; }

  private:
    WireTrace& trace_;
    const LinkInfo& link_;
};

}  // namespace talvo
