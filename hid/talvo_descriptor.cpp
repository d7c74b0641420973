#include "hid/talvo_descriptor.h"

#include "hid/talvo_ids.h"

namespace talvo {

std::vector<std::uint8_t> TalvoReportDescriptor(int reportLength) {
    const auto count = static_cast<std::uint8_t>(reportLength);
    return {
        0x06, 0x00,  0xFF,  // Usage Page (vendor-defined 0xFF00)
        0x09, 0x01,         // Usage (1)
        0xA1, 0x01,         // Collection (Application)
        0x15, 0x00,         //   Logical Minimum (0)
        0x26, 0xFF,  0x00,  //   Logical Maximum (255)
        0x75, 0x08,         //   Report Size (8)
        0x95, count,        //   Report Count (data bytes)
        0x09, 0x02,         //   Usage (2)
        0x81, 0x02,         //   Input (Data, Variable, Absolute)
        0x95, count,        //   Report Count (data bytes)
        0x09, 0x03,         //   Usage (3)
        0x91, 0x02,         //   Output (Data, Variable, Absolute)
        0xC0,               // End Collection
    };
}

EmulatedIdentity TalvoEmulatedIdentity(int reportLength) {
    EmulatedIdentity identity;
    const bool update = reportLength == kUpdateReportLength;
    identity.name = update ? "TALVO (update mode)" : "TALVO";
    identity.vendorId = kTalvoVendorId;
    identity.productId = update ? kTalvoUpdateProductId : kTalvoNormalProductId;
    identity.versionNumber = 0x0100;
    identity.inputReportByteLength = static_cast<std::uint16_t>(reportLength + 1);
    identity.outputReportByteLength = static_cast<std::uint16_t>(reportLength + 1);
    identity.featureReportByteLength = 0;
    identity.outputReportId = 0;
    identity.reportDescriptor = TalvoReportDescriptor(reportLength);
    return identity;
}

}  // namespace talvo
