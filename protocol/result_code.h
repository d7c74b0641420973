// Result codes of the device side: protocol transport, command dispatch,
// firmware download, connection and update sequence. This is the one list;
// every failure on the device side is one of these values, never an
// exception. 0 is success.
#pragma once

#include <cstdint>

namespace talvo {

using ResultCode = std::int32_t;

inline constexpr ResultCode kResultOk = 0;
// Empty request message, or a failure no other code covers (an image
// validation result or image type without its own code).
inline constexpr ResultCode kResultFailed = -1;
// The device did not reach the awaited mode in time.
inline constexpr ResultCode kResultModeTimeout = -2;
// No memory to hold the firmware image.
inline constexpr ResultCode kResultNoMemory = -3;
// No protocol object: the device connection is not open.
inline constexpr ResultCode kResultNotConnected = -4;
// No command has the given key.
inline constexpr ResultCode kResultNoCommand = -5;
// A report write failed or ran over its time limit, or no response arrived
// within the caller's time limit.
inline constexpr ResultCode kResultTransport = -7;
// Firmware image format invalid.
inline constexpr ResultCode kResultBadImage = -9;
// A command was called without its parameter block (or with arguments it
// cannot send), or the image type cannot be downloaded.
inline constexpr ResultCode kResultBadParams = -10;
// The receive side stopped while a response was awaited.
inline constexpr ResultCode kResultStopped = -11;
// The response header does not match the request.
inline constexpr ResultCode kResultHeaderMismatch = -12;
// The device answered with a nonzero status.
inline constexpr ResultCode kResultDeviceStatus = -13;
// Firmware image checksum mismatch.
inline constexpr ResultCode kResultImageChecksum = -14;
// FU_SETINFO or FU_FWLOAD failed after its retries.
inline constexpr ResultCode kResultLoadFailed = -15;
// FU_WRITEFW failed after its retries, or the device reported a failed
// update in its answer to the confirmation command.
inline constexpr ResultCode kResultWriteFailed = -16;
// -6 and -8 are not produced on the device side.

// How a failed image validation reads as a result of the download command
// and of the update sequence: checksum, format, memory, anything else.
constexpr ResultCode ValidationToResult(std::int32_t validation) {
    switch (validation) {
        case -8:
        case -7:
            return kResultImageChecksum;
        case -6:
        case -5:
            return kResultBadImage;
        case -1:
            return kResultNoMemory;
        default:
            return kResultFailed;
    }
}

}  // namespace talvo
