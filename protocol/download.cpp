// Command 64: firmware download over the firmware-update group 9.
//
// FU_SETINFO announces the image (type code, length, body checksum), then
// every 10,240-byte piece goes out with FU_FWLOAD (offset, piece CRC, data)
// and is confirmed with FU_WRITEFW. Each exchange has its own number of
// attempts; every failed attempt leaves one diagnostic line.
#include <cstring>

#include "firmware/firm_file.h"
#include "protocol/diagnostics.h"
#include "protocol/hid_comm.h"

namespace talvo {

namespace {

constexpr std::uint8_t kFirmwareGroup = 9;
constexpr std::uint32_t kPieceSize = 10240;
constexpr int kFirstProgress = 21;
constexpr std::uint32_t kProgressSpan = 77;
constexpr std::uint32_t kLastProgressBeforeDone = 98;

struct Exchange {
    std::uint8_t command;
    std::int32_t timeLimitMs;
    std::uint16_t responseLength;
    int attempts;
    ResultCode failure;  // for transport and device-status failures
    const wchar_t* transportLine;
    const wchar_t* statusLine;
    const wchar_t* headerLine;
};

constexpr Exchange kSetInfo = {
    0,
    5000,
    0,
    3,
    kResultLoadFailed,
    L"error : send or receive error. (FU_SETINFO) [%d]\n",
    L"error : receive error response. (FU_SETINFO) [0x%02X]\n",
    L"error : invalid response header receive. (FU_SETINFO)\n",
};

constexpr Exchange kFwLoad = {
    1,
    5000,
    1,  // its one payload byte is not examined
    5,
    kResultLoadFailed,
    L"\nerror : send or receive error. (FU_FWLOAD) [%d]\n",
    L"\nerror : receive error response. (FU_FWLOAD) [0x%02X]\n",
    L"\nerror : invalid response header receive. (FU_FWLOAD)\n",
};

constexpr Exchange kWriteFw = {
    3,
    180000,
    0,
    2,
    kResultWriteFailed,
    L"\nerror : send or receive error. (FU_WRITEFW) [%d]\n",
    L"\nerror : receive error response. (FU_WRITEFW) [0x%02X]\n",
    L"\nerror : invalid response header receive. (FU_WRITEFW)\n",
};

void PutU16(std::uint8_t* at, std::uint32_t v) {
    at[0] = static_cast<std::uint8_t>(v);
    at[1] = static_cast<std::uint8_t>(v >> 8);
}

void PutU32(std::uint8_t* at, std::uint32_t v) {
    PutU16(at, v);
    PutU16(at + 2, v >> 16);
}

// Clears the request buffer and writes a set-request header of group 9.
std::uint8_t* BeginRequest(ulo_CHidComm& comm, std::uint8_t command, std::uint32_t length) {
    comm.ClearRequest();
    std::uint8_t* request = comm.requestBuffer;
    request[0] = 0;  // set request
    request[1] = command;
    request[2] = kFirmwareGroup;
    request[3] = 0;
    request[4] = 0;
    request[5] = 0;
    PutU16(request + 6, length);
    return request;
}

// Sends the request in requestBuffer until one attempt is answered by a
// matching response or the attempts are used up; the last attempt's result.
ResultCode RunExchange(ulo_CHidComm& comm, const Exchange& step, std::uint32_t totalLength) {
    ResultCode result = kResultFailed;
    for (int attempt = 0; attempt < step.attempts; ++attempt) {
        const ResultCode sent = comm.SendAndWait(comm.requestBuffer, totalLength, step.timeLimitMs);
        if (sent == kResultDeviceStatus) {
            WriteDiagnostic(step.statusLine, static_cast<unsigned>(comm.responseBuffer[4]));
            result = step.failure;
            continue;
        }
        if (sent != kResultOk) {
            WriteDiagnostic(step.transportLine, static_cast<int>(sent));
            result = step.failure;
            continue;
        }
        const std::uint8_t* r = comm.responseBuffer;
        const std::uint32_t length = static_cast<std::uint32_t>(r[6] | (r[7] << 8));
        if (length == step.responseLength && r[0] == 1 && r[2] == kFirmwareGroup &&
            r[1] == step.command) {
            return kResultOk;
        }
        WriteDiagnostic(step.headerLine);
        result = kResultHeaderMismatch;
    }
    return result;
}

}  // namespace

ResultCode ulo_CHidComm::DownloadImage(CommandParams* params) {
    if (params == nullptr) {
        return kResultBadParams;
    }
    const auto* image =
        static_cast<const std::uint8_t*>(LoadPointer(*params, params_layout::kDownloadImage));
    const std::uint32_t length = LoadU32(*params, params_layout::kDownloadLength);
    const auto callback = LoadFunction<ProgressCallback>(*params, params_layout::kDownloadCallback);
    void* userData = LoadPointer(*params, params_layout::kDownloadUserData);
    if (image == nullptr) {
        return kResultBadParams;  // no image to read
    }

    ResultCode result = kResultOk;
    {
        ulo_CFirmFile file;
        const std::int32_t valid = file.Validate(image, length);
        if (valid != 0) {
            return ValidationToResult(valid);
        }
        const std::int32_t type = file.GetType();
        downloading.store(1);
        result = Download(image, length, type, callback, userData);
        if (result == kResultOk && callback != nullptr) {
            callback(100, userData);
        }
        downloading.store(0);
    }
    return result;
}

ResultCode ulo_CHidComm::Download(const std::uint8_t* image, std::uint32_t length,
                                  std::int32_t imageType, ProgressCallback callback,
                                  void* userData) {
    std::uint8_t typeCode = 0;
    switch (imageType) {
        case kImageTypeFwup:
            typeCode = 0;
            break;
        case kImageTypeNormal:
            typeCode = 1;
            break;
        case kImageTypeDspMain:
            typeCode = 3;
            break;
        default:
            return kResultBadParams;
    }
    // The announcement carries the body checksum from the header, so an
    // image too short to hold one cannot be announced.
    if (image == nullptr || length < kBodyOffset) {
        return kResultBadParams;
    }

    std::uint8_t* request = BeginRequest(*this, kSetInfo.command, 7);
    request[8] = typeCode;
    PutU32(request + 9, length);
    request[13] = image[kBodyCrcOffset];
    request[14] = image[kBodyCrcOffset + 1];
    ResultCode result = RunExchange(*this, kSetInfo, kHeaderLength + 7);
    if (result != kResultOk) {
        return result;
    }

    std::uint32_t lastReported = kFirstProgress;
    if (callback != nullptr) {
        callback(kFirstProgress, userData);
    }

    std::uint32_t offset = 0;
    std::uint32_t remaining = length;
    while (remaining > 0) {
        const std::uint32_t piece = remaining < kPieceSize ? remaining : kPieceSize;
        const std::uint16_t crc = Crc16Update(image + offset, piece, 0);

        request = BeginRequest(*this, kFwLoad.command, piece + 6);
        PutU32(request + 8, offset);
        PutU16(request + 12, crc);
        std::memcpy(request + 14, image + offset, piece);
        result = RunExchange(*this, kFwLoad, kHeaderLength + 6 + piece);
        if (result != kResultOk) {
            return result;
        }

        // Unsigned 32-bit arithmetic throughout: the product wraps for images
        // above 55 MiB, and a value that does not exceed the last one
        // reported is simply not reported.
        std::uint32_t percent = kFirstProgress + (offset * kProgressSpan) / length;
        if (percent > kLastProgressBeforeDone) {
            percent = kLastProgressBeforeDone;
        }
        if (callback != nullptr && percent > lastReported) {
            callback(static_cast<int>(percent), userData);
            lastReported = percent;
        }

        offset += piece;
        remaining -= piece;

        BeginRequest(*this, kWriteFw.command, 0);
        result = RunExchange(*this, kWriteFw, kHeaderLength);
        if (result != kResultOk) {
            return result;
        }
    }
    return kResultOk;
}

}  // namespace talvo
