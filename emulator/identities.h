// The two USB identities of the TALVO as the device presents them: vendor-
// defined usage page, one application collection, one numbered input and
// one numbered output report per mode.
//
//   normal mode: product ID kTalvoNormalProductId, 16 data bytes,
//                input report ID 0x01, output report ID 0x02
//   update mode: product ID kTalvoUpdateProductId, 64 data bytes,
//                input report ID 0x03, output report ID 0x04
#pragma once

#include <cstdint>
#include <vector>

#include "emulator/device_core.h"
#include "hid/emulated_bus.h"

namespace talvo {

inline constexpr std::uint8_t kNormalInputReportId = 0x01;
inline constexpr std::uint8_t kNormalOutputReportId = 0x02;
inline constexpr std::uint8_t kUpdateInputReportId = 0x03;
inline constexpr std::uint8_t kUpdateOutputReportId = 0x04;

// Report descriptor with `dataLength` bytes per report (1 .. 256).
std::vector<std::uint8_t> TalvoDeviceDescriptor(int dataLength, std::uint8_t inputReportId,
                                                std::uint8_t outputReportId);

// The identity of a mode; dataLength 0 takes the mode's own report length,
// anything else gives the right IDs with the wrong report length.
EmulatedIdentity TalvoDeviceIdentity(TalvoMode mode, int dataLength = 0);
LinkInfo TalvoDeviceLink(TalvoMode mode, int dataLength = 0);

}  // namespace talvo
