// Feeds arbitrary output reports to the device core, in both modes and with
// faults armed: whatever arrives, the device answers or ignores it, never
// crashes, and every answer it sends is made of whole reports.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <vector>

#include "emulator/device_core.h"
#include "emulator/identities.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace talvo;
    WireTrace trace;
    trace.SetEnabled(false);
    DeviceCore core(DeviceConfig{}, trace);
    core.AddFault(Fault::Drop(9, 3, 1));
    core.AddFault(Fault::Shape(FaultKind::kWrongLength, 0, 6, 1));
    const LinkInfo links[2] = {TalvoDeviceLink(TalvoMode::kNormal),
                               TalvoDeviceLink(TalvoMode::kUpdate)};
    std::size_t pos = 0;
    while (pos < size) {
        // One control byte: which link, whether the report is well-formed
        // (right ID and length) and which marker it gets.
        const std::uint8_t control = data[pos++];
        const LinkInfo& link = links[control & 1];
        const std::size_t length = static_cast<std::size_t>(link.reportLength) + 1;
        std::vector<std::uint8_t> report(length, 0);
        report[0] = (control & 2) ? static_cast<std::uint8_t>(control) : link.outputReportId;
        report[1] = static_cast<std::uint8_t>(0x80 + ((control >> 2) & 3));
        for (std::size_t i = 2; i < length && pos < size; ++i) {
            report[i] = data[pos++];
        }
        const std::size_t fed = (control & 0x40) ? length - 1 : length;
        for (const DeviceStep& step : core.OnOutputReport(link, report.data(), fed)) {
            for (const auto& out : step.reports) {
                if (out.size() != length || out[0] != link.inputReportId) {
                    std::abort();
                }
            }
        }
        if ((control & 0xF0) == 0xF0) {
            core.OnLeft();
        }
    }
    return 0;
}
