// The TALVO as a state machine: it takes the output reports the host wrote,
// reassembles request messages, carries out each command and answers with
// input reports. It knows nothing of threads or time; what it wants done
// (send these reports, wait, leave the bus, come back in a mode) it returns
// as steps for the runner (EmulatedTalvo) to carry out, so it can be driven
// and checked directly, report by report. Thread-safe.
//
// Its parts: framing (device_framing), faults (fault_book), the set/get
// pairs' registers and memory (device_store), the update group with flash
// and versions (update_session); this file ties them to the command table.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <map>
#include <mutex>
#include <string>
#include <vector>

#include "emulator/device_framing.h"
#include "emulator/device_steps.h"
#include "emulator/device_store.h"
#include "emulator/fault_book.h"
#include "emulator/faults.h"
#include "emulator/update_session.h"
#include "emulator/wire_trace.h"

namespace talvo {

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

    // Unsolicited input is framed by NotificationStep, AnswerStep (event 4)
    // and DataStreamStep (device_framing.h); it takes no device state.

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
    // A request being gathered on one identity, with the unplug fault
    // armed for it.
    struct Incoming {
        RequestAssembly frames;
        int unplugAfter = -1;
        int comeBackAfterMs = -1;
    };

    DeviceSteps TakeReport(const LinkInfo& link, const std::uint8_t* report, std::size_t length);
    DeviceSteps HandleMessage(const LinkInfo& link, const std::vector<std::uint8_t>& message);
    DeviceSteps Malformed(const LinkInfo& link, const std::vector<std::uint8_t>& header,
                          const char* why);
    void Carry(const LinkInfo& link, const std::vector<std::uint8_t>& message, DeviceAnswer& answer,
               DeviceSteps& before, DeviceSteps& after);
    void Restart(const LinkInfo& link, TalvoMode target, std::uint32_t awayMs, DeviceSteps& after,
                 const char* why, bool requested);

    mutable std::mutex mutex_;
    const DeviceTiming timing_;
    WireTrace& trace_;
    std::map<TalvoMode, Incoming> incoming_;
    FaultBook faults_;
    DeviceStore store_;
    UpdateSession update_;
    std::vector<CommandRecord> commands_;
};

}  // namespace talvo
