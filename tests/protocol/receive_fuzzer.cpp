// Arbitrary input report sequences into the receive-side reassembly.
//
// Input: byte 0 picks the report length (2..64); then records of one repeat
// byte followed by one report, which is fed (repeat % 64) + 1 times, so that
// long segment runs (past the position limit) are reachable.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <vector>

#include "protocol/framing.h"

using talvo::ReceiveAssembler;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    static std::vector<std::uint8_t> response(talvo::kResponseBufferSize);
    static std::vector<std::uint8_t> stream(talvo::kStreamBufferSize);
    static std::vector<std::uint8_t> notify(talvo::kNotifyBufferSize);
    if (size < 1) {
        return 0;
    }
    const int r = 2 + data[0] % 63;
    const std::size_t p = static_cast<std::size_t>(r) - 1;
    ReceiveAssembler assembler(r, response.data(), stream.data(), notify.data());
    std::size_t at = 1;
    std::uint8_t report[talvo::kMaxReportLength] = {};
    while (at < size) {
        const int repeat = data[at++] % 64 + 1;
        const std::size_t take = size - at < static_cast<std::size_t>(r) ? size - at : r;
        std::fill(report, report + talvo::kMaxReportLength, 0);
        std::copy(data + at, data + at + take, report);
        at += take;
        for (int i = 0; i < repeat; ++i) {
            const talvo::ReceiveOutcome out = assembler.Feed(report);
            // A first segment completes at once exactly when the data after its
            // header holds the declared length.
            if (report[0] == 0x83) {
                const long declared = response[6] | (response[7] << 8);
                if (out.responseReady != (r - 9 >= declared)) {
                    std::abort();
                }
            }
            if (report[0] == 0xA0) {
                const long count = stream[0] | (stream[1] << 8);
                if (out.stream != (r - 3 >= count)) {
                    std::abort();
                }
            }
            // The write position never passes the limit by more than one copy.
            if (assembler.ResponsePosition() > assembler.PositionLimit() + p) {
                std::abort();
            }
            if (out.stream) {
                if (out.streamCount < 0 || out.streamCount > 0xFFFF ||
                    out.streamData != stream.data() + 3 ||
                    out.streamData[out.streamCount - 1] != 0) {
                    std::abort();
                }
            }
            if (out.notify && (out.event == 4 || out.event == 0 || out.event > 9)) {
                std::abort();
            }
        }
    }
    return 0;
}
