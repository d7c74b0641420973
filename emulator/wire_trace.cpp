#include "emulator/wire_trace.h"

#include <cstdio>

#include "base/clock.h"
#include "hid/hid_trace.h"

namespace talvo {

WireTrace::WireTrace() : origin_(Clock::Current().TickCount()) {}

void WireTrace::Report(Direction direction, const std::string& identity, const std::uint8_t* bytes,
                       std::size_t length) {
    Add(direction, identity, HidHexBytes(bytes, length), true);
}

void WireTrace::Line(Direction direction, const std::string& identity, const std::string& text) {
    Add(direction, identity, text, false);
}

void WireTrace::Add(Direction direction, const std::string& identity, const std::string& text,
                    bool isReport) {
    std::function<void(const std::string&)> sink;
    std::string line;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        if (isReport) {
            ++(direction == Direction::kOut ? reportsOut_ : reportsIn_);
        }
        if (!enabled_ && !sink_) {
            return;
        }
        const std::uint32_t elapsed = Clock::Current().TickCount() - origin_;
        const char* dir = direction == Direction::kOut  ? "OUT"
                          : direction == Direction::kIn ? "IN "
                                                        : "-- ";
        char head[64];
        std::snprintf(head, sizeof head, "%6u.%03u %s %-13s ", elapsed / 1000u, elapsed % 1000u,
                      dir, identity.c_str());
        line = head + text;
        if (enabled_) {
            lines_.push_back(line);
        }
        sink = sink_;
    }
    if (sink) {
        sink(line);
    }
}

std::vector<std::string> WireTrace::Lines() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return lines_;
}

std::string WireTrace::Text() const {
    std::lock_guard<std::mutex> lock(mutex_);
    std::string text;
    for (const auto& line : lines_) {
        text += line;
        text += '\n';
    }
    return text;
}

bool WireTrace::Contains(const std::string& fragment) const {
    return CountContaining(fragment) > 0;
}

std::size_t WireTrace::CountContaining(const std::string& fragment) const {
    std::lock_guard<std::mutex> lock(mutex_);
    std::size_t count = 0;
    for (const auto& line : lines_) {
        if (line.find(fragment) != std::string::npos) {
            ++count;
        }
    }
    return count;
}

std::size_t WireTrace::ReportCount(Direction direction) const {
    std::lock_guard<std::mutex> lock(mutex_);
    return direction == Direction::kOut  ? reportsOut_
           : direction == Direction::kIn ? reportsIn_
                                         : 0;
}

void WireTrace::Clear() {
    std::lock_guard<std::mutex> lock(mutex_);
    lines_.clear();
    reportsOut_ = 0;
    reportsIn_ = 0;
}

void WireTrace::SetEnabled(bool enabled) {
    std::lock_guard<std::mutex> lock(mutex_);
    enabled_ = enabled;
}

void WireTrace::SetSink(std::function<void(const std::string&)> sink) {
    std::lock_guard<std::mutex> lock(mutex_);
    sink_ = std::move(sink);
}

}  // namespace talvo
