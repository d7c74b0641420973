#include "tests/protocol/fake_device.h"

#include <chrono>

#include "hid/talvo_ids.h"

namespace talvo::test {

namespace {

constexpr auto kGenerous = std::chrono::seconds(20);

EmulatedIdentity IdentityFor(int reportLength) {
    EmulatedIdentity id;
    id.name = "scripted";
    id.vendorId = kTalvoVendorId;
    id.productId =
        reportLength == kNormalReportLength ? kTalvoNormalProductId : kTalvoUpdateProductId;
    id.inputReportByteLength = static_cast<std::uint16_t>(reportLength + 1);
    id.outputReportByteLength = static_cast<std::uint16_t>(reportLength + 1);
    id.outputReportId = 0;
    return id;
}

}  // namespace

FakeDevice::FakeDevice(EmulatedBus& bus, int reportLength)
    : bus_(bus),
      reportLength_(reportLength),
      link_{reportLength == kNormalReportLength ? TalvoMode::kNormal : TalvoMode::kUpdate,
            "scripted", reportLength, 0, 0},
      endpoint_(bus.Plug(IdentityFor(reportLength))) {
    thread_ = std::thread([this] { Run(); });
}

FakeDevice::~FakeDevice() {
    {
        std::lock_guard<std::mutex> lock(mutex_);
        stopping_ = true;
    }
    endpoint_->Wake();
    thread_.join();
}

void FakeDevice::SetScript(Script script) {
    std::lock_guard<std::mutex> lock(mutex_);
    script_ = std::move(script);
}

void FakeDevice::AnswerEcho(std::uint16_t length) {
    SetScript([length](FakeDevice& device, const Bytes& request) {
        device.SendResponse(AnswerTo(request, Bytes(length, 0)));
    });
}

void FakeDevice::Run() {
    std::vector<std::uint8_t> report;
    const std::size_t size = static_cast<std::size_t>(reportLength_) - 1;
    for (;;) {
        {
            std::lock_guard<std::mutex> lock(mutex_);
            if (stopping_) {
                return;
            }
        }
        if (!endpoint_->TakeOutput(report, 50)) {
            if (!endpoint_->IsPlugged()) {
                std::this_thread::sleep_for(std::chrono::milliseconds(5));
            }
            continue;
        }
        Bytes data(report.begin() + 1, report.end());
        Bytes complete;
        Script script;
        {
            std::lock_guard<std::mutex> lock(mutex_);
            reports_.push_back(data);
            const char* why = nullptr;
            if (assembly_.Add(data[0], data.data() + 1, size, DeviceNotes(trace_, link_)) !=
                    RequestAssembly::Added::kIgnored &&
                assembly_.Finish(data[0], size, &why) == RequestAssembly::Result::kComplete) {
                complete = assembly_.Taken();
                requests_.push_back(complete);
                script = script_;
                changed_.notify_all();
            }
        }
        if (!complete.empty() && script) {
            script(*this, complete);
        }
    }
}

void FakeDevice::SendResponse(const Bytes& message) {
    for (const Bytes& r : ResponseReports(link_, message)) {
        endpoint_->PutInput(r.data(), r.size());
    }
}

void FakeDevice::SendReport(const Bytes& data) {
    Bytes report(static_cast<std::size_t>(reportLength_) + 1, 0);
    std::copy(data.begin(),
              data.begin() +
                  std::min<std::ptrdiff_t>(static_cast<std::ptrdiff_t>(data.size()), reportLength_),
              report.begin() + 1);
    endpoint_->PutInput(report.data(), report.size());
}

void FakeDevice::Unplug() {
    bus_.Unplug(endpoint_);
}

std::vector<Bytes> FakeDevice::Requests() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return requests_;
}

std::vector<Bytes> FakeDevice::Reports() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return reports_;
}

bool FakeDevice::WaitForRequests(std::size_t count) const {
    std::unique_lock<std::mutex> lock(mutex_);
    return changed_.wait_for(lock, kGenerous, [&] { return requests_.size() >= count; });
}

Bytes MessageDeclaring(std::uint8_t kind, std::uint8_t command, std::uint8_t group,
                       std::uint8_t value, std::uint8_t status, std::uint8_t detail,
                       const Bytes& payload, std::uint16_t declaredLength) {
    Bytes m(8 + payload.size(), 0);
    m[0] = kind;
    m[1] = command;
    m[2] = group;
    m[3] = value;
    m[4] = status;
    m[5] = detail;
    m[6] = static_cast<std::uint8_t>(declaredLength);
    m[7] = static_cast<std::uint8_t>(declaredLength >> 8);
    std::copy(payload.begin(), payload.end(), m.begin() + 8);
    return m;
}

Bytes Message(std::uint8_t kind, std::uint8_t command, std::uint8_t group, std::uint8_t value,
              std::uint8_t status, std::uint8_t detail, const Bytes& payload) {
    return MessageDeclaring(kind, command, group, value, status, detail, payload,
                            static_cast<std::uint16_t>(payload.size()));
}

Bytes AnswerTo(const Bytes& request, const Bytes& payload, std::uint8_t value) {
    return Message(static_cast<std::uint8_t>(request[0] + 1), request[1], request[2], value, 0, 0,
                   payload);
}

bool OpenComm(ulo_CHidComm& comm, int reportLength) {
    comm.inputReportLength = reportLength;
    comm.outputReportLength = reportLength;
    const int productId =
        reportLength == kNormalReportLength ? kTalvoNormalProductId : kTalvoUpdateProductId;
    const bool opened =
        comm.CreateResponseEvent() &&
        comm.hidDevice.Open(kTalvoVendorId, productId, reportLength, reportLength, 0) != nullptr;
    comm.notifyCallback = &NotifyLog::Callback;
    return opened && comm.StartReceiveThread();
}

Connected::Connected(int reportLength) : device(bus, reportLength) {
    comm = std::make_unique<ulo_CHidComm>();
    opened = OpenComm(*comm, reportLength);
}

Connected::~Connected() {
    comm->Close();
    comm.reset();
}

namespace {
std::mutex g_notifyMutex;
std::condition_variable g_notifyChanged;
std::vector<NotifyLog::Entry> g_notifications;
}  // namespace

void NotifyLog::Callback(int event, int value) {
    std::lock_guard<std::mutex> lock(g_notifyMutex);
    g_notifications.push_back({event, value});
    g_notifyChanged.notify_all();
}

std::vector<NotifyLog::Entry> NotifyLog::Take() {
    std::lock_guard<std::mutex> lock(g_notifyMutex);
    std::vector<Entry> out;
    out.swap(g_notifications);
    return out;
}

void NotifyLog::Clear() {
    Take();
}

bool NotifyLog::WaitFor(std::size_t count) {
    std::unique_lock<std::mutex> lock(g_notifyMutex);
    return g_notifyChanged.wait_for(lock, kGenerous,
                                    [&] { return g_notifications.size() >= count; });
}

}  // namespace talvo::test
