// The wire trace: every report in both directions, one line each, plus a
// decoded line for each complete message and a note for each bus event or
// fault that fires. Lines look like
//
//       1.234 OUT talvo-update  06 80 00 09 00 00 00 00 00 ...
//       1.234 OUT talvo-update  MSG set-request group=9 cmd=0 value=0 selector=0 length=7
//       1.235 IN  talvo-update  MSG set-response group=9 cmd=0 value=0 status=0 detail=0 length=0
//       1.235 IN  talvo-update  05 83 01 00 09 00 00 00 00 ...
//       1.300 --  talvo-update  * leaves the bus
//
// (seconds of the device clock since the trace began, direction, identity,
// then hex bytes or a decoded line). Thread-safe.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <mutex>
#include <string>
#include <vector>

namespace talvo {

class WireTrace {
  public:
    enum class Direction { kOut, kIn, kNote };  // host to device, device to host, event

    WireTrace();

    void Report(Direction direction, const std::string& identity, const std::uint8_t* bytes,
                std::size_t length);
    void Line(Direction direction, const std::string& identity, const std::string& text);

    std::vector<std::string> Lines() const;
    std::string Text() const;
    bool Contains(const std::string& fragment) const;
    std::size_t CountContaining(const std::string& fragment) const;
    // Number of raw report lines in one direction.
    std::size_t ReportCount(Direction direction) const;
    void Clear();

    // Off: nothing is kept (long benchmark runs). On by default.
    void SetEnabled(bool enabled);
    // Called with every new line as well (e.g. to echo the trace live).
    void SetSink(std::function<void(const std::string&)> sink);

  private:
    void Add(Direction direction, const std::string& identity, const std::string& text,
             bool isReport);

    mutable std::mutex mutex_;
    std::uint32_t origin_;
    bool enabled_ = true;
    std::vector<std::string> lines_;
    std::size_t reportsOut_ = 0;
    std::size_t reportsIn_ = 0;
    std::function<void(const std::string&)> sink_;
};

}  // namespace talvo
