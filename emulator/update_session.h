// The update group as the device carries it out: FU_SETINFO opens a
// transfer, FU_FWLOAD loads the next piece after checking its CRC,
// FU_WRITEFW commits it; after the last piece the whole image is checked
// and only then replaces that type code's flash and version. A failed
// piece or image leaves the flash as it was. Also the flash itself, the
// version table and the updater image's verdict. Not thread-safe; the
// device core holds its lock.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "emulator/command_catalogue.h"
#include "emulator/device_steps.h"
#include "emulator/fault_book.h"

namespace talvo {

class UpdateSession {
  public:
    // Version texts by type code (0 updater, 1 main, 3 DSP; index 2 unused).
    explicit UpdateSession(const std::array<std::string, 4>& versions);

    // What a step asks of the device besides its answer.
    struct Outcome {
        bool writes = false;        // FU_WRITEFW: a write begins ...
        std::uint32_t writeMs = 0;  // ... and takes this long
        bool unplugged = false;     // left the bus half-way through the write
        int comeBackAfterMs = -1;   // ... and is plugged in again after this
        bool updaterTaken = false;  // an updater image was taken: restart
    };
    Outcome Carry(UpdateStep step, const std::uint8_t* payload, std::size_t length,
                  DeviceAnswer& answer, FaultBook& faults, const DeviceNotes& notes,
                  std::uint32_t writeFwDurationMs);
    // The piece a request of the group is about (-1: none).
    int PieceOf(UpdateStep step, const std::uint8_t* payload, std::size_t length) const;
    // Leaving the bus loses a transfer in progress.
    void Abandon() { transfer_ = Transfer{}; }

    // The confirmation of an updater image (set 11/5): false when none is due.
    bool Verdict(std::uint8_t* verdict) const;

    std::vector<std::uint8_t> Flash(int typeCode) const;
    std::array<std::uint8_t, 16> VersionBytes(int typeCode) const;
    int ImagesAccepted() const { return imagesAccepted_; }

  private:
    struct Transfer {
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

    void SetInfo(const std::uint8_t* p, DeviceAnswer& answer);
    void FwLoad(const std::uint8_t* p, std::size_t n, DeviceAnswer& answer);
    Outcome WriteFw(DeviceAnswer& answer, FaultBook& faults, const DeviceNotes& notes,
                    std::uint32_t writeFwDurationMs);
    // The whole image is in: checked, then taken into flash.
    Outcome TakeImage(DeviceAnswer& answer, const ModeFaults& mode, const DeviceNotes& notes);

    Transfer transfer_;
    std::array<std::vector<std::uint8_t>, 4> flash_;
    std::array<std::array<std::uint8_t, 16>, 4> versions_{};
    bool verdictPending_ = false;
    std::uint8_t verdict_ = 0;
    int imagesAccepted_ = 0;
    std::uint8_t lastCommitStatus_ = 0;
    std::uint8_t lastCommitDetail_ = 0;
};

}  // namespace talvo
