#include "tests/emulator/scripted_host.h"

#include <algorithm>

#include "hid/talvo_ids.h"
#include "tests/emulator/test_image.h"

namespace talvo::test {

Bytes Request(std::uint8_t kind, std::uint8_t command, std::uint8_t group, std::uint8_t value,
              const Bytes& payload, std::uint8_t selector) {
    Bytes m(8 + payload.size(), 0);
    m[0] = kind;
    m[1] = command;
    m[2] = group;
    m[3] = value;
    m[4] = selector;
    m[6] = static_cast<std::uint8_t>(payload.size() & 0xFF);
    m[7] = static_cast<std::uint8_t>(payload.size() >> 8);
    std::copy(payload.begin(), payload.end(), m.begin() + 8);
    return m;
}

Bytes SetInfo(std::uint8_t typeCode, std::uint32_t length, std::uint16_t bodyCrc) {
    Bytes p(7, 0);
    p[0] = typeCode;
    PutLe32(p, 1, length);
    PutLe16(p, 5, bodyCrc);
    return Request(0, 0, 9, 0, p);
}

Bytes FwLoadRaw(std::uint32_t offset, std::uint16_t crc, const Bytes& piece) {
    Bytes p(6, 0);
    PutLe32(p, 0, offset);
    PutLe16(p, 4, crc);
    p.insert(p.end(), piece.begin(), piece.end());
    return Request(0, 1, 9, 0, p);
}

Bytes FwLoad(const Bytes& image, std::size_t offset, std::size_t size) {
    const Bytes piece(image.begin() + static_cast<std::ptrdiff_t>(offset),
                      image.begin() + static_cast<std::ptrdiff_t>(offset + size));
    return FwLoadRaw(static_cast<std::uint32_t>(offset),
                     BitwiseCrc16(piece.data(), piece.size(), 0), piece);
}

Bytes WriteFw() {
    return Request(0, 3, 9, 0);
}

std::vector<Bytes> SegmentRequest(const Bytes& message, int reportLength) {
    const std::size_t p = static_cast<std::size_t>(reportLength) - 1;
    std::vector<Bytes> reports;
    std::size_t pos = 0;
    while (pos < message.size() || reports.empty()) {
        Bytes r(static_cast<std::size_t>(reportLength), 0);
        const std::size_t left = message.size() - pos;
        r[0] = reports.empty() ? 0x80 : (left > p ? 0x81 : 0x82);
        const std::size_t n = std::min(p, left);
        std::copy_n(message.begin() + static_cast<std::ptrdiff_t>(pos), n, r.begin() + 1);
        pos += n;
        reports.push_back(r);
    }
    return reports;
}

std::optional<Response> ReassembleResponse(const std::vector<Bytes>& reports) {
    Bytes bytes;
    bool started = false;
    for (const auto& r : reports) {
        const std::uint8_t marker = r[1];
        if (marker == 0x90 && r[2] == 4) {
            Response e;
            e.message.assign(r.begin() + 2, r.end());
            return e;
        }
        if (marker == 0x83) {
            bytes.assign(r.begin() + 2, r.end());
            started = true;
        } else if ((marker == 0x84 || marker == 0x85) && started) {
            bytes.insert(bytes.end(), r.begin() + 2, r.end());
        } else {
            continue;
        }
        const std::size_t need = 8u + static_cast<std::size_t>(bytes[6] | (bytes[7] << 8));
        if (marker == 0x85 || (marker == 0x83 && bytes.size() >= need)) {
            if (bytes.size() < need) {
                return std::nullopt;
            }
            bytes.resize(need);
            return Response{bytes};
        }
    }
    return std::nullopt;
}

std::vector<Bytes> CoreHost::Reports(const Bytes& message) const {
    std::vector<Bytes> out;
    for (auto& data : SegmentRequest(message, link_.reportLength)) {
        Bytes r(data.size() + 1, link_.outputReportId);
        std::copy(data.begin(), data.end(), r.begin() + 1);
        out.push_back(r);
    }
    return out;
}

DeviceSteps CoreHost::FeedReports(const std::vector<Bytes>& reports) {
    DeviceSteps all;
    for (const auto& r : reports) {
        DeviceSteps steps = core_.OnOutputReport(link_, r.data(), r.size());
        all.insert(all.end(), steps.begin(), steps.end());
    }
    return all;
}

CoreHost::Exchange CoreHost::Send(const Bytes& message) {
    Exchange ex;
    ex.steps = FeedReports(Reports(message));
    for (const auto& step : ex.steps) {
        if (step.type == DeviceStep::Type::kSend) {
            ex.sent.insert(ex.sent.end(), step.reports.begin(), step.reports.end());
        }
    }
    if (auto r = ReassembleResponse(ex.sent)) {
        ex.answered = true;
        ex.response = *r;
    }
    return ex;
}

bool BusHost::Open(std::uint16_t productId, int reportLength) {
    reportLength_ = reportLength;
    return device_.Open(kTalvoVendorId, productId, reportLength, reportLength, 0) != nullptr;
}

bool BusHost::Write(const Bytes& message, int timeoutMs) {
    for (const auto& data : SegmentRequest(message, reportLength_)) {
        if (device_.WriteReport(data.data(), timeoutMs) == 0) {
            return false;
        }
    }
    return true;
}

std::optional<Response> BusHost::ReadResponse(int timeoutMs) {
    std::vector<Bytes> reports;
    Bytes data(static_cast<std::size_t>(reportLength_), 0);
    for (;;) {
        if (device_.ReadReport(data.data(), timeoutMs) == 0) {
            return std::nullopt;
        }
        Bytes whole(data.size() + 1, 0);  // ReassembleResponse expects an ID byte first
        std::copy(data.begin(), data.end(), whole.begin() + 1);
        const std::uint8_t marker = data[0];
        if ((marker >= 0x83 && marker <= 0x85) || (marker == 0x90 && data[1] == 4)) {
            reports.push_back(whole);
            if (auto r = ReassembleResponse(reports)) {
                return r;
            }
        } else {
            others.push_back(data);
        }
    }
}

std::optional<Response> BusHost::Exchange(const Bytes& message, int timeoutMs) {
    if (!Write(message)) {
        return std::nullopt;
    }
    return ReadResponse(timeoutMs);
}

}  // namespace talvo::test
