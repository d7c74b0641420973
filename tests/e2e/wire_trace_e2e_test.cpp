// The host's wire trace (HidTracePlatform, behind talvo-update --trace)
// against the emulator's own record of the same update.
#include <gtest/gtest.h>

#include <mutex>
#include <sstream>

#include "hid/hid_trace.h"
#include "tests/e2e/e2e_support.h"

namespace talvo::e2e {
namespace {

// The raw reports of one direction ("OUT" or "IN") in a trace whose lines
// read "<time> <direction> <interface> <hex bytes>" (both traces do);
// decoded and event lines are left out.
std::vector<std::string> Reports(const std::vector<std::string>& lines, const std::string& dir) {
    std::vector<std::string> reports;
    for (const std::string& line : lines) {
        std::istringstream fields(line);
        std::string time, direction, where, byte, bytes;
        fields >> time >> direction >> where;
        bool raw = direction == dir;
        while (raw && fields >> byte) {
            raw =
                byte.size() == 2 && byte.find_first_not_of("0123456789ABCDEF") == std::string::npos;
            bytes += (bytes.empty() ? "" : " ") + byte;
        }
        if (raw && !bytes.empty()) {
            reports.push_back(bytes);
        }
    }
    return reports;
}

// Catches: a trace that misses reports (reads on the receive thread,
// writes of the updater thread, either mode's interface) or garbles them.
TEST(WireTraceE2E, HostTraceHoldsEveryReportTheDeviceSawInOrder) {
    std::mutex mutex;
    std::vector<std::string> hostLines;
    EmulatedBus bus;
    HidTracePlatform trace(bus, [&](const std::string& line) {
        std::lock_guard<std::mutex> lock(mutex);
        hostLines.push_back(line);
    });
    ScopedHidPlatform platform(trace);
    ScaledClock clock(kSpeedup);
    ScopedClock scopedClock(clock);
    EmulatedTalvo talvo(bus, Named("outdated"));
    {
        CUpdateSession session;
        ASSERT_TRUE(session.Begin());
        ASSERT_TRUE(session.PumpUntil([&] { return session.DeviceReady(); }, 60000));
        ASSERT_TRUE(session.StartUpdate(ShippedPackage()));
        ASSERT_TRUE(session.PumpUntil(
            [&] { return session.GetState() == CUpdateSession::State::kEnded; }, 3000000));
        EXPECT_TRUE(session.Succeeded());
    }
    std::lock_guard<std::mutex> lock(mutex);
    for (const char* dir : {"OUT", "IN"}) {
        SCOPED_TRACE(dir);
        const std::vector<std::string> device = Reports(talvo.Trace().Lines(), dir);
        const std::vector<std::string> host = Reports(hostLines, dir);
        ASSERT_GT(device.size(), 20u);
        // The device's reports, in its order, within the host's (the host
        // may also see reports the device sent before it was watched).
        std::size_t found = 0;
        for (std::size_t i = 0; i < host.size() && found < device.size(); ++i) {
            if (host[i] == device[found]) {
                ++found;
            }
        }
        EXPECT_EQ(found, device.size()) << "first missing: " << device[found];
    }
}

}  // namespace
}  // namespace talvo::e2e
