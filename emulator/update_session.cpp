#include "emulator/update_session.h"

#include <algorithm>
#include <cstdio>
#include <cstring>

#include "emulator/device_crc.h"
#include "emulator/device_image.h"

namespace talvo {

namespace {

constexpr std::uint32_t kMaxImageSize = 4u * 1024u * 1024u;

}  // namespace

UpdateSession::UpdateSession(const std::array<std::string, 4>& versions) {
    for (std::size_t i = 0; i < versions_.size(); ++i) {
        const std::string& text = versions[i];
        std::memcpy(versions_[i].data(), text.data(), std::min<std::size_t>(text.size(), 16));
    }
}

int UpdateSession::PieceOf(UpdateStep step, const std::uint8_t* payload, std::size_t length) const {
    if (step == UpdateStep::kFwLoad && length >= 4) {
        return static_cast<int>(DeviceLe32(payload) / kMaxPieceSize);
    }
    if (step == UpdateStep::kWriteFw && transfer_.pending) {
        return static_cast<int>(transfer_.pendingOffset / kMaxPieceSize);
    }
    return -1;
}

UpdateSession::Outcome UpdateSession::Carry(UpdateStep step, const std::uint8_t* p, std::size_t n,
                                            DeviceAnswer& answer, FaultBook& faults,
                                            const DeviceNotes& notes,
                                            std::uint32_t writeFwDurationMs) {
    switch (step) {
        case UpdateStep::kSetInfo:
            SetInfo(p, answer);
            return {};
        case UpdateStep::kFwLoad:
            FwLoad(p, n, answer);
            return {};
        case UpdateStep::kWriteFw:
            return WriteFw(answer, faults, notes, writeFwDurationMs);
        case UpdateStep::kNone:
            break;
    }
    answer.status = device_status::kUnknownCommand;
    return {};
}

void UpdateSession::SetInfo(const std::uint8_t* p, DeviceAnswer& answer) {
    const std::uint8_t typeCode = p[0];
    const std::uint32_t imageLength = DeviceLe32(p + 1);
    if (!IsKnownTypeCode(typeCode)) {
        answer.status = device_status::kBadParameter;
        answer.detail = 1;
        return;
    }
    if (imageLength <= image_layout::kBody || imageLength > kMaxImageSize) {
        answer.status = device_status::kBadParameter;
        answer.detail = 2;
        return;
    }
    transfer_ = Transfer{};
    transfer_.active = true;
    transfer_.typeCode = typeCode;
    transfer_.length = imageLength;
    transfer_.bodyCrc = DeviceLe16(p + 5);
    // Room grows with the pieces; a bare announcement does not claim megabytes.
    transfer_.staged.reserve(std::min<std::size_t>(imageLength, 256 * 1024));
}

void UpdateSession::FwLoad(const std::uint8_t* p, std::size_t n, DeviceAnswer& answer) {
    using namespace device_status;
    if (!transfer_.active) {
        answer.status = kWrongState;
        return;
    }
    const std::uint32_t offset = DeviceLe32(p);
    const std::uint16_t crc = DeviceLe16(p + 4);
    const std::size_t size = n - 6;
    if (size > kMaxPieceSize) {
        answer.status = kPieceTooLarge;
    } else if (offset != transfer_.staged.size()) {
        answer.status = kOutOfOrder;
    } else if (static_cast<std::uint64_t>(offset) + size > transfer_.length) {
        answer.status = kOverrun;
    } else if (DeviceCrc16(p + 6, size, 0) != crc) {
        answer.status = kPieceCrc;
    }
    transfer_.lastWasCommit = false;
    if (answer.status != kOk) {
        // The loaded piece, if any, is no longer the one to commit.
        transfer_.pending = false;
        return;
    }
    transfer_.pending = true;
    transfer_.pendingOffset = offset;
    transfer_.pendingData.assign(p + 6, p + n);
}

UpdateSession::Outcome UpdateSession::WriteFw(DeviceAnswer& answer, FaultBook& faults,
                                              const DeviceNotes& notes,
                                              std::uint32_t writeFwDurationMs) {
    Outcome outcome;
    if (!transfer_.pending) {
        if (transfer_.lastWasCommit) {
            // A repeated write (the answer to the first one was lost):
            // nothing new to commit, same answer as before.
            answer.status = lastCommitStatus_;
            answer.detail = lastCommitDetail_;
            notes("repeated FU_WRITEFW: nothing new to commit");
        } else {
            answer.status = device_status::kWrongState;
        }
        return outcome;
    }
    const RequestKey key{kGroupFirmwareUpdate, kCmdFuWriteFw, answer.value,
                         static_cast<int>(transfer_.pendingOffset / kMaxPieceSize)};
    if (const Fault* f = faults.Take(FaultKind::kUnplugDuringWrite, key)) {
        notes("fault: " + f->Describe());
        outcome.writes = true;
        outcome.writeMs = writeFwDurationMs / 2;
        outcome.unplugged = true;
        outcome.comeBackAfterMs = f->comeBackAfterMs;
        return outcome;
    }
    outcome.writes = true;
    outcome.writeMs = writeFwDurationMs;
    transfer_.staged.insert(transfer_.staged.end(), transfer_.pendingData.begin(),
                            transfer_.pendingData.end());
    transfer_.pending = false;
    transfer_.pendingData.clear();
    transfer_.lastWasCommit = true;
    lastCommitStatus_ = device_status::kOk;
    lastCommitDetail_ = 0;
    if (transfer_.staged.size() < transfer_.length) {
        return outcome;
    }
    const Outcome taken = TakeImage(answer, faults.Mode(), notes);
    outcome.updaterTaken = taken.updaterTaken;
    return outcome;
}

UpdateSession::Outcome UpdateSession::TakeImage(DeviceAnswer& answer, const ModeFaults& mode,
                                                const DeviceNotes& notes) {
    Outcome outcome;
    char text[160];
    const ImageCheck check = CheckImage(transfer_.staged.data(), transfer_.staged.size(),
                                        transfer_.typeCode, transfer_.bodyCrc);
    transfer_.active = false;
    const std::uint8_t typeCode = transfer_.typeCode;
    std::vector<std::uint8_t> image = std::move(transfer_.staged);
    transfer_.staged.clear();
    if (check != ImageCheck::kOk) {
        answer.status = device_status::kImageRejected;
        answer.detail = static_cast<std::uint8_t>(check);
        lastCommitStatus_ = answer.status;
        lastCommitDetail_ = answer.detail;
        std::snprintf(text, sizeof text, "image of type code %u rejected: %s", typeCode,
                      ImageCheckName(check));
        notes(text);
        return outcome;
    }
    if (mode.flashDoesNotTake) {
        notes("fault: the image does not take; flash and version stay as they were");
        return outcome;
    }
    flash_[typeCode] = std::move(image);
    versions_[typeCode].fill(0);
    const std::string version = ImageVersionText(flash_[typeCode].data());
    std::memcpy(versions_[typeCode].data(), version.data(), version.size());
    ++imagesAccepted_;
    std::snprintf(text, sizeof text,
                  "image of type code %u, version %s, %zu bytes taken into flash", typeCode,
                  version.c_str(), flash_[typeCode].size());
    notes(text);
    if (typeCode == kTypeCodeUpdater) {
        verdictPending_ = true;
        verdict_ = static_cast<std::uint8_t>(mode.fwupVerdict);
        outcome.updaterTaken = true;
    }
    return outcome;
}

bool UpdateSession::Verdict(std::uint8_t* verdict) const {
    if (!verdictPending_) {
        return false;
    }
    *verdict = verdict_;
    return true;
}

std::vector<std::uint8_t> UpdateSession::Flash(int typeCode) const {
    if (typeCode < 0 || typeCode >= static_cast<int>(flash_.size())) {
        return {};
    }
    return flash_[static_cast<std::size_t>(typeCode)];
}

std::array<std::uint8_t, 16> UpdateSession::VersionBytes(int typeCode) const {
    if (typeCode < 0 || typeCode >= static_cast<int>(versions_.size())) {
        return {};
    }
    return versions_[static_cast<std::size_t>(typeCode)];
}

}  // namespace talvo
