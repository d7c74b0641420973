// The TALVO as a state machine: it takes the output reports the host wrote,
// reassembles request messages, carries out each command and answers with
// input reports. It knows nothing of threads or time; what it wants done
// (send these reports, wait, leave the bus, come back in a mode) it returns
// as steps for the runner (EmulatedTalvo) to carry out, so it can be driven
// and checked directly, report by report. Thread-safe.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <map>
#include <mutex>
#include <string>
#include <vector>

#include "emulator/faults.h"
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

struct DeviceTiming {
    std::uint32_t leaveDelayMs = 100;         // answer sent; then leave the bus
    std::uint32_t toUpdateDelayMs = 1500;     // away while restarting into update mode
    std::uint32_t toNormalDelayMs = 1500;     // away while restarting into normal mode
    std::uint32_t fwupRestartDelayMs = 2000;  // away after an updater image was taken
    std::uint32_t writeFwDurationMs = 20;     // one FU_WRITEFW
    // Every command's own turnaround before its answer can go out (checking
    // the request, a piece's CRC), in microseconds; FU_WRITEFW adds its write.
    std::uint32_t commandProcessingUs = 0;
};

struct DeviceConfig {
    // Version texts by type code (0 updater, 1 main, 3 DSP; index 2 unused).
    std::array<std::string, 4> versions{"1.05", "1.05", "", "1.05"};
    DeviceTiming timing;
    ModeFaults modeFaults;
};

// One plugged identity, as the device sees it.
struct LinkInfo {
    TalvoMode mode = TalvoMode::kNormal;
    std::string identity;   // name in the trace
    int reportLength = 16;  // data bytes per report, without the report ID
    std::uint8_t inputReportId = 0;
    std::uint8_t outputReportId = 0;
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

// One request the device took, in order of arrival.
struct CommandRecord {
    TalvoMode mode = TalvoMode::kNormal;
    std::uint8_t kind = 0;
    std::uint8_t group = 0;
    std::uint8_t command = 0;
    std::uint8_t value = 0;
    std::uint8_t selector = 0;
    std::uint16_t length = 0;
    std::uint32_t offset = 0;   // FU_FWLOAD: offset; FU_SETINFO: image length
    std::uint8_t typeCode = 0;  // FU_SETINFO
    bool answered = false;      // false: dropped, or the device left first
    std::uint8_t status = 0;    // status answered

    // "set 0/1 value=0", "get 0/6 value=3", "FU_SETINFO type=1 length=76044",
    // "FU_FWLOAD offset=10240 size=10240", "FU_WRITEFW", "set 11/5 value=1".
    std::string Describe() const;
};

class DeviceCore {
  public:
    DeviceCore(DeviceConfig config, WireTrace& trace);

    // One output report as the host wrote it (report ID byte first).
    DeviceSteps OnOutputReport(const LinkInfo& link, const std::uint8_t* report,
                               std::size_t length);
    // The device has just appeared on the bus with this identity.
    DeviceSteps OnArrived(const LinkInfo& link);
    // The device has left the bus (unplug or restart): volatile state is lost.
    void OnLeft();

    // Unsolicited input: a notification report (0x90..0x9F), the event-4
    // one-report response, a data-stream message (0xA0..0xA2).
    DeviceStep Notification(const LinkInfo& link, std::uint8_t event, int value,
                            std::uint8_t marker = 0x90) const;
    DeviceStep Event4Response(const LinkInfo& link, std::uint8_t command, std::uint8_t group,
                              std::uint8_t value, std::uint8_t status, std::uint8_t detail,
                              const std::vector<std::uint8_t>& payload) const;
    DeviceStep DataStream(const LinkInfo& link, std::uint8_t kind,
                          const std::vector<std::uint8_t>& data) const;

    void AddFault(const Fault& fault);
    std::vector<Fault> Faults() const;
    void ClearFaults();
    ModeFaults GetModeFaults() const;
    void SetModeFaults(const ModeFaults& faults);

    // Fault points (see FaultPoint): counting starts again from 0 and
    // `fault` is armed at its point (point -1: only counting).
    void CountFaultPoints(const PointFault& fault = {});
    std::vector<FaultPoint> FaultPoints() const;  // met since counting started
    bool PointFaultFired() const;

    // Flash content and version text (16 bytes, zero padded) per type code.
    std::vector<std::uint8_t> Flash(int typeCode) const;
    std::string Version(int typeCode) const;
    std::array<std::uint8_t, 16> VersionBytes(int typeCode) const;
    std::vector<CommandRecord> Commands() const;
    std::vector<std::string> CommandNames() const;
    void ClearCommands();
    // How many images were taken into flash since construction.
    int ImagesAccepted() const;

  private:
    struct Assembly {
        bool active = false;
        std::vector<std::uint8_t> bytes;
        std::size_t needed = 0;
        int reports = 0;
        int unplugAfter = -1;  // armed unplug fault for this request
        int comeBackAfterMs = -1;
    };
    struct Answer {
        std::uint8_t kind = 0, command = 0, group = 0, value = 0, status = 0, detail = 0;
        std::vector<std::uint8_t> payload;
    };
    struct Session {
        bool active = false;
        std::uint8_t typeCode = 0;
        std::uint32_t length = 0;
        std::uint16_t bodyCrc = 0;
        std::vector<std::uint8_t> staged;  // committed pieces, in order
        bool pending = false;              // a loaded piece awaits FU_WRITEFW
        std::uint32_t pendingOffset = 0;
        std::vector<std::uint8_t> pendingData;
        bool lastWasCommit = false;
    };

    DeviceSteps TakeReport(const LinkInfo& link, const std::uint8_t* report, std::size_t length);
    // Numbers a point when counting; true when the armed fault lands there.
    bool AtPoint(const LinkInfo& link, FaultPointKind kind, const std::string& what);
    // Leaving the bus at the armed point (and coming back for an unplug).
    DeviceSteps PointFaultTail() const;
    // The input reports, waits and departures in `steps` as points; cut at
    // the armed one.
    void StepPoints(const LinkInfo& link, DeviceSteps& steps);
    DeviceSteps HandleMessage(const LinkInfo& link, const std::vector<std::uint8_t>& message);
    DeviceSteps Malformed(const LinkInfo& link, const std::vector<std::uint8_t>& header,
                          const char* why);
    void Carry(const LinkInfo& link, const std::uint8_t* message, std::size_t length,
               Answer& answer, DeviceSteps& before, DeviceSteps& after);
    void CarryUpdateGroup(const LinkInfo& link, const std::uint8_t* payload, std::size_t length,
                          Answer& answer, DeviceSteps& before, DeviceSteps& after);
    void Restart(const LinkInfo& link, TalvoMode target, std::uint32_t awayMs, DeviceSteps& after,
                 const char* why, bool requested);
    Fault* MatchFault(FaultKind kind, std::uint8_t group, std::uint8_t command, std::uint8_t value,
                      int piece);
    int PieceOf(std::uint8_t group, std::uint8_t command, const std::uint8_t* payload,
                std::size_t payloadBytes) const;
    DeviceStep BuildSend(const LinkInfo& link, const Answer& answer, bool asEvent4) const;
    std::vector<std::vector<std::uint8_t>> Segment(const LinkInfo& link, std::uint8_t first,
                                                   std::uint8_t middle, std::uint8_t last,
                                                   const std::vector<std::uint8_t>& bytes) const;
    void Note(const LinkInfo& link, const std::string& text);
    std::vector<std::uint8_t> ConstantPayload(std::uint8_t group, std::uint8_t command,
                                              std::uint8_t value, std::size_t length) const;

    mutable std::mutex mutex_;
    DeviceConfig config_;
    WireTrace& trace_;
    std::map<TalvoMode, Assembly> assemblies_;
    std::vector<Fault> faults_;
    std::vector<CommandRecord> commands_;
    Session session_;
    std::array<std::vector<std::uint8_t>, 4> flash_;
    std::array<std::array<std::uint8_t, 16>, 4> versions_{};
    bool verdictPending_ = false;
    std::uint8_t verdict_ = 0;
    int imagesAccepted_ = 0;
    std::uint8_t lastCommitStatus_ = 0;
    std::uint8_t lastCommitDetail_ = 0;
    // Kept state of the set/get pairs.
    std::map<std::uint32_t, std::vector<std::uint8_t>> registers_;
    std::map<std::uint64_t, std::uint8_t> memory_;
    bool countingPoints_ = false;
    std::vector<FaultPoint> points_;
    PointFault pointFault_;
    bool pointFaultFired_ = false;
};

}  // namespace talvo
