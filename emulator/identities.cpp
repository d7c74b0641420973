#include "emulator/identities.h"

#include <initializer_list>

#include "hid/talvo_ids.h"

namespace talvo {

namespace {

void Put(std::vector<std::uint8_t>& d, std::initializer_list<int> bytes) {
    for (int b : bytes) {
        d.push_back(static_cast<std::uint8_t>(b));
    }
}

void AppendCount(std::vector<std::uint8_t>& d, int count) {
    if (count <= 0xFF) {
        Put(d, {0x95, count});
    } else {
        Put(d, {0x96, count & 0xFF, count >> 8});
    }
}

int DataLengthFor(TalvoMode mode, int dataLength) {
    if (dataLength > 0) {
        return dataLength;
    }
    return mode == TalvoMode::kUpdate ? kUpdateReportLength : kNormalReportLength;
}

}  // namespace

std::vector<std::uint8_t> TalvoDeviceDescriptor(int dataLength, std::uint8_t inputReportId,
                                                std::uint8_t outputReportId) {
    std::vector<std::uint8_t> d;
    Put(d, {0x06, 0x00, 0xFF});      // Usage Page (vendor-defined 0xFF00)
    Put(d, {0x09, 0x01});            // Usage (1)
    Put(d, {0xA1, 0x01});            // Collection (Application)
    Put(d, {0x15, 0x00});            //   Logical Minimum (0)
    Put(d, {0x26, 0xFF, 0x00});      //   Logical Maximum (255)
    Put(d, {0x75, 0x08});            //   Report Size (8)
    Put(d, {0x85, inputReportId});   //   Report ID (input)
    AppendCount(d, dataLength);      //   Report Count (data bytes)
    Put(d, {0x09, 0x02});            //   Usage (2)
    Put(d, {0x81, 0x02});            //   Input (Data, Variable, Absolute)
    Put(d, {0x85, outputReportId});  //   Report ID (output)
    AppendCount(d, dataLength);      //   Report Count (data bytes)
    Put(d, {0x09, 0x03});            //   Usage (3)
    Put(d, {0x91, 0x02});            //   Output (Data, Variable, Absolute)
    Put(d, {0xC0});                  // End Collection
    return d;
}

LinkInfo TalvoDeviceLink(TalvoMode mode, int dataLength) {
    LinkInfo link;
    link.mode = mode;
    link.reportLength = DataLengthFor(mode, dataLength);
    const bool update = mode == TalvoMode::kUpdate;
    link.identity = update ? "talvo-update" : "talvo-normal";
    link.inputReportId = update ? kUpdateInputReportId : kNormalInputReportId;
    link.outputReportId = update ? kUpdateOutputReportId : kNormalOutputReportId;
    return link;
}

EmulatedIdentity TalvoDeviceIdentity(TalvoMode mode, int dataLength) {
    const LinkInfo link = TalvoDeviceLink(mode, dataLength);
    EmulatedIdentity identity;
    identity.name = link.identity;
    identity.vendorId = kTalvoVendorId;
    identity.productId = mode == TalvoMode::kUpdate ? kTalvoUpdateProductId : kTalvoNormalProductId;
    identity.versionNumber = 0x0105;
    identity.inputReportByteLength = static_cast<std::uint16_t>(link.reportLength + 1);
    identity.outputReportByteLength = static_cast<std::uint16_t>(link.reportLength + 1);
    identity.featureReportByteLength = 0;
    identity.outputReportId = link.outputReportId;
    identity.reportDescriptor =
        TalvoDeviceDescriptor(link.reportLength, link.inputReportId, link.outputReportId);
    return identity;
}

}  // namespace talvo
