#include "tests/device_layer/fake_talvo.h"

#include "base/clock.h"
#include "hid/talvo_ids.h"

namespace talvo::testing {

namespace {

EmulatedIdentity IdentityFor(int mode) {
    EmulatedIdentity identity;
    const int length = mode == 1 ? kNormalReportLength : kUpdateReportLength;
    identity.name = mode == 1 ? "fake-normal" : "fake-update";
    identity.vendorId = kTalvoVendorId;
    identity.productId = mode == 1 ? kTalvoNormalProductId : kTalvoUpdateProductId;
    identity.inputReportByteLength = static_cast<std::uint16_t>(length + 1);
    identity.outputReportByteLength = static_cast<std::uint16_t>(length + 1);
    return identity;
}

}  // namespace

FakeTalvo::FakeTalvo(EmulatedBus& bus) : bus_(bus) {
    thread_ = std::thread([this] { Loop(); });
}

FakeTalvo::~FakeTalvo() {
    stop_.store(true);
    {
        std::lock_guard<std::mutex> lock(mutex_);
        if (endpoint_) {
            endpoint_->Wake();
        }
    }
    thread_.join();
    SetMode(0);
}

void FakeTalvo::SetMode(int mode) {
    std::lock_guard<std::mutex> lock(mutex_);
    if (endpoint_) {
        bus_.Unplug(endpoint_);
        endpoint_.reset();
    }
    mode_ = mode;
    if (mode == 1 || mode == 2) {
        endpoint_ = bus_.Plug(IdentityFor(mode));
    }
}

int FakeTalvo::Mode() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return mode_;
}

std::vector<std::string> FakeTalvo::Log() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return log_;
}

std::vector<std::uint8_t> FakeTalvo::Loaded() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return loaded_;
}

void FakeTalvo::Loop() {
    std::vector<std::uint8_t> message;
    std::size_t needed = 0;
    while (!stop_.load()) {
        int newMode = 0;
        {
            std::lock_guard<std::mutex> lock(mutex_);
            newMode = pendingMode_;
            pendingMode_ = 0;
        }
        if (newMode != 0) {
            // Restart: leave, stay away a while, come back in the new mode.
            Clock::Current().Sleep(leaveDelayMs);
            SetMode(0);
            Clock::Current().Sleep(awayMs);
            SetMode(newMode);
            message.clear();
            continue;
        }
        std::shared_ptr<EmulatedEndpoint> endpoint;
        {
            std::lock_guard<std::mutex> lock(mutex_);
            endpoint = endpoint_;
        }
        if (!endpoint) {
            std::this_thread::sleep_for(std::chrono::milliseconds(2));
            continue;
        }
        std::vector<std::uint8_t> report;
        if (!endpoint->TakeOutput(report, 20) || report.size() < 2) {
            continue;
        }
        const std::uint8_t marker = report[1];
        if (marker == 0x80) {
            message.assign(report.begin() + 2, report.end());
            needed = message.size() >= 8
                         ? 8u + static_cast<std::size_t>(message[6] | (message[7] << 8))
                         : 8u;
        } else if ((marker == 0x81 || marker == 0x82) && !message.empty()) {
            message.insert(message.end(), report.begin() + 2, report.end());
        } else {
            continue;
        }
        if (message.size() >= needed && needed >= 8) {
            FakeRequest request;
            request.kind = message[0];
            request.command = message[1];
            request.group = message[2];
            request.value = message[3];
            request.payload.assign(message.begin() + 8,
                                   message.begin() + static_cast<std::ptrdiff_t>(needed));
            message.clear();
            Handle(request);
        }
    }
}

void FakeTalvo::Handle(const FakeRequest& request) {
    {
        std::lock_guard<std::mutex> lock(mutex_);
        log_.push_back(std::to_string(request.group) + "/" + std::to_string(request.command) +
                       " v=" + std::to_string(request.value));
    }
    if (hook) {
        if (std::optional<FakeAnswer> answer = hook(request)) {
            Send(request, *answer);
            return;
        }
    }
    FakeAnswer answer;
    if (request.group == 0 && request.command == 6) {
        answer.payload.assign(16, 0);
        for (std::size_t i = 0; i < version.size() && i < 16; ++i) {
            answer.payload[i] = static_cast<std::uint8_t>(version[i]);
        }
    } else if (request.group == 9 && request.command == 0) {
        std::lock_guard<std::mutex> lock(mutex_);
        loaded_.clear();
    } else if (request.group == 9 && request.command == 1) {
        std::lock_guard<std::mutex> lock(mutex_);
        if (request.payload.size() >= 6) {
            loaded_.insert(loaded_.end(), request.payload.begin() + 6, request.payload.end());
        }
        answer.payload.assign(1, 0);
    } else if (request.group == 11 && request.command == 5) {
        answer.payload.assign(1, 0);
    }
    Send(request, answer);
    if (request.group == 0 && request.command == 1 && followRestart.load()) {
        std::lock_guard<std::mutex> lock(mutex_);
        pendingMode_ = request.value == 0 ? 2 : 1;
    }
}

void FakeTalvo::Send(const FakeRequest& request, const FakeAnswer& answer) {
    if (answer.drop) {
        return;
    }
    std::vector<std::uint8_t> message(8 + answer.payload.size(), 0);
    message[0] = static_cast<std::uint8_t>(request.kind + 1);
    message[1] = request.command;
    message[2] = request.group;
    message[4] = answer.status;
    message[6] = static_cast<std::uint8_t>(answer.payload.size());
    message[7] = static_cast<std::uint8_t>(answer.payload.size() >> 8);
    for (std::size_t i = 0; i < answer.payload.size(); ++i) {
        message[8 + i] = answer.payload[i];
    }

    std::shared_ptr<EmulatedEndpoint> endpoint;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        endpoint = endpoint_;
    }
    if (!endpoint) {
        return;
    }
    const std::size_t reportLength = endpoint->Identity().inputReportByteLength;
    const std::size_t perReport = reportLength - 2;
    std::size_t offset = 0;
    bool first = true;
    while (offset < message.size() || first) {
        std::vector<std::uint8_t> report(reportLength, 0);
        const std::size_t take = std::min(perReport, message.size() - offset);
        const bool last = offset + take >= message.size();
        report[1] = first ? 0x83 : (last ? 0x85 : 0x84);
        for (std::size_t i = 0; i < take; ++i) {
            report[2 + i] = message[offset + i];
        }
        endpoint->PutInput(report.data(), report.size());
        offset += take;
        first = false;
    }
}

}  // namespace talvo::testing

namespace talvo::testing {

bool FakeTalvo::Notify(std::uint8_t event, std::uint8_t high, std::uint8_t low) {
    std::shared_ptr<EmulatedEndpoint> endpoint;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        endpoint = endpoint_;
    }
    if (!endpoint) {
        return false;
    }
    std::vector<std::uint8_t> report(endpoint->Identity().inputReportByteLength, 0);
    report[1] = 0x90;
    report[2] = event;
    report[3] = high;
    report[4] = low;
    return endpoint->PutInput(report.data(), report.size());
}

}  // namespace talvo::testing

namespace talvo::testing {

void FakeTalvo::ScheduleRestart(int mode) {
    std::lock_guard<std::mutex> lock(mutex_);
    pendingMode_ = mode;
}

}  // namespace talvo::testing
