#include "hid/emulated_bus.h"

#include <algorithm>
#include <condition_variable>
#include <cstring>
#include <deque>
#include <mutex>

#include "hid/hid_time.h"

namespace talvo {

namespace {

class HostHandle;

// One plugged interface. A single lock and condition guard everything on
// it, the host handles' input queues included; every change wakes all
// waiters, which then check their own condition.
class EndpointState final : public EmulatedEndpoint {
  public:
    explicit EndpointState(const EmulatedIdentity& identity) : identity_(identity) {
        info_.vendorId = identity.vendorId;
        info_.productId = identity.productId;
        info_.versionNumber = identity.versionNumber;
        info_.inputReportByteLength = identity.inputReportByteLength;
        info_.outputReportByteLength = identity.outputReportByteLength;
        info_.featureReportByteLength = identity.featureReportByteLength;
        info_.outputReportId = identity.outputReportId;
        info_.location = identity.location;
    }

    const EmulatedIdentity& Identity() const override { return identity_; }
    const HidInterfaceInfo& Info() const { return info_; }

    bool TakeOutput(std::vector<std::uint8_t>& report, int timeoutMs) override {
        std::unique_lock<std::mutex> lock(mutex_);
        auto ready = [&] { return !plugged_ || wakePending_ || !outputs_.empty(); };
        if (!WaitFor(lock, timeoutMs, ready)) {
            return false;
        }
        if (!plugged_) {
            return false;
        }
        if (wakePending_) {
            wakePending_ = false;
            return false;
        }
        report = std::move(outputs_.front());
        outputs_.pop_front();
        changed_.notify_all();  // a host write may wait for room
        return true;
    }

    bool PutInput(const std::uint8_t* report, std::size_t length) override;

    void Wake() override {
        std::lock_guard<std::mutex> lock(mutex_);
        wakePending_ = true;
        changed_.notify_all();
    }

    bool IsPlugged() const override {
        std::lock_guard<std::mutex> lock(mutex_);
        return plugged_;
    }

    void SetHeldExclusively(bool held) override {
        std::lock_guard<std::mutex> lock(mutex_);
        held_ = held;
    }

    void SetOutputCapacity(std::size_t reports) override {
        std::lock_guard<std::mutex> lock(mutex_);
        capacity_ = reports;
        changed_.notify_all();
    }

    void MarkUnplugged() {
        std::lock_guard<std::mutex> lock(mutex_);
        plugged_ = false;
        changed_.notify_all();
    }

    // Host side.
    bool Attach(HostHandle* host);
    void Detach(HostHandle* host) {
        std::lock_guard<std::mutex> lock(mutex_);
        hosts_.erase(std::remove(hosts_.begin(), hosts_.end(), host), hosts_.end());
    }
    bool HostRead(HostHandle& host, std::uint8_t* report, int timeoutMs);
    bool HostWrite(const std::uint8_t* report, int timeoutMs) {
        std::unique_lock<std::mutex> lock(mutex_);
        auto room = [&] { return !plugged_ || capacity_ == 0 || outputs_.size() < capacity_; };
        if (!WaitFor(lock, timeoutMs, room) || !plugged_) {
            return false;
        }
        outputs_.emplace_back(report, report + info_.outputReportByteLength);
        changed_.notify_all();
        return true;
    }
    void HostAbort(HostHandle& host);

  private:
    template <typename Predicate>
    bool WaitFor(std::unique_lock<std::mutex>& lock, int timeoutMs, Predicate ready) {
        if (timeoutMs == -1) {
            changed_.wait(lock, ready);
            return true;
        }
        return changed_.wait_until(lock, hid_time::DeadlineAfter(timeoutMs), ready);
    }

    const EmulatedIdentity identity_;
    HidInterfaceInfo info_;
    mutable std::mutex mutex_;
    std::condition_variable changed_;
    bool plugged_ = true;
    bool held_ = false;
    bool wakePending_ = false;
    std::size_t capacity_ = 0;
    std::deque<std::vector<std::uint8_t>> outputs_;
    std::vector<HostHandle*> hosts_;
};

// One host open of an interface, with its own queue of input reports (each
// open sees every input report that arrives while it is open).
class HostHandle final : public IHidInterfaceHandle {
  public:
    explicit HostHandle(std::shared_ptr<EndpointState> endpoint) : endpoint_(std::move(endpoint)) {}
    ~HostHandle() override { endpoint_->Detach(this); }
    HostHandle(const HostHandle&) = delete;
    HostHandle& operator=(const HostHandle&) = delete;

    const HidInterfaceInfo& Info() const override { return endpoint_->Info(); }
    bool Read(std::uint8_t* report, int timeoutMs) override {
        return endpoint_->HostRead(*this, report, timeoutMs);
    }
    bool Write(const std::uint8_t* report, int timeoutMs) override {
        return endpoint_->HostWrite(report, timeoutMs);
    }
    void AbortRead() override { endpoint_->HostAbort(*this); }

    // Guarded by the endpoint's lock.
    std::deque<std::vector<std::uint8_t>> inputs;
    bool aborted = false;

  private:
    std::shared_ptr<EndpointState> endpoint_;
};

bool EndpointState::PutInput(const std::uint8_t* report, std::size_t length) {
    const std::size_t byteLength = info_.inputReportByteLength;
    // A report is at most the interface's input byte length; a shorter one
    // is padded with zeros, as the host always reads whole reports.
    if (byteLength == 0 || length == 0 || length > byteLength || report == nullptr) {
        return false;
    }
    std::lock_guard<std::mutex> lock(mutex_);
    if (!plugged_) {
        return false;
    }
    std::vector<std::uint8_t> whole(byteLength, 0);
    std::memcpy(whole.data(), report, length);
    for (HostHandle* host : hosts_) {
        host->inputs.push_back(whole);
    }
    changed_.notify_all();
    return true;
}

bool EndpointState::Attach(HostHandle* host) {
    std::lock_guard<std::mutex> lock(mutex_);
    if (!plugged_ || held_) {
        return false;
    }
    hosts_.push_back(host);
    return true;
}

bool EndpointState::HostRead(HostHandle& host, std::uint8_t* report, int timeoutMs) {
    std::unique_lock<std::mutex> lock(mutex_);
    auto ready = [&] { return !plugged_ || host.aborted || !host.inputs.empty(); };
    if (!WaitFor(lock, timeoutMs, ready) || !plugged_ || host.aborted) {
        return false;
    }
    const std::vector<std::uint8_t>& front = host.inputs.front();
    std::memcpy(report, front.data(), front.size());
    host.inputs.pop_front();
    return true;
}

void EndpointState::HostAbort(HostHandle& host) {
    std::lock_guard<std::mutex> lock(mutex_);
    host.aborted = true;
    changed_.notify_all();
}

class EmulatedList final : public IHidInterfaceList {
  public:
    explicit EmulatedList(std::vector<std::shared_ptr<EndpointState>> endpoints)
        : endpoints_(std::move(endpoints)) {}

    HidSlot Open(std::size_t index, HidOpenPurpose /*purpose*/,
                 std::unique_ptr<IHidInterfaceHandle>& handle) override {
        if (index >= endpoints_.size()) {
            return HidSlot::kEnd;
        }
        auto host = std::make_unique<HostHandle>(endpoints_[index]);
        if (!endpoints_[index]->Attach(host.get())) {
            return HidSlot::kSkipped;
        }
        handle = std::move(host);
        return HidSlot::kOpened;
    }

    bool PeekIds(std::size_t index, std::uint16_t& vendorId, std::uint16_t& productId) override {
        if (index >= endpoints_.size()) {
            return false;
        }
        vendorId = endpoints_[index]->Info().vendorId;
        productId = endpoints_[index]->Info().productId;
        return true;
    }

  private:
    std::vector<std::shared_ptr<EndpointState>> endpoints_;
};

}  // namespace

class EmulatedBus::Impl {
  public:
    EmulatedBus* hub = nullptr;  // a port view's bus; null for a bus of its own
    std::string port = EmulatedBus::kFirstPort;
    mutable std::mutex mutex;
    std::vector<std::shared_ptr<EndpointState>> plugged;
    EmulatedBusObserver* observer = nullptr;
};

std::string EmulatedBus::PortName(int unit) {
    return "emulated-" + std::to_string(unit);
}

EmulatedBus::EmulatedBus() : impl_(std::make_unique<Impl>()) {}

EmulatedBus::EmulatedBus(EmulatedBus& hub, std::string port) : impl_(std::make_unique<Impl>()) {
    impl_->hub = &hub;
    impl_->port = std::move(port);
}

EmulatedBus::~EmulatedBus() {
    // Host handles that outlive the bus keep their endpoint; they see it
    // removed.
    std::lock_guard<std::mutex> lock(impl_->mutex);
    for (const auto& endpoint : impl_->plugged) {
        endpoint->MarkUnplugged();
    }
}

std::shared_ptr<EmulatedEndpoint> EmulatedBus::Plug(const EmulatedIdentity& identity) {
    if (impl_->hub != nullptr) {
        EmulatedIdentity placed = identity;
        if (placed.location.empty()) {
            placed.location = impl_->port;
        }
        return impl_->hub->Plug(placed);
    }
    EmulatedIdentity placed = identity;
    if (placed.location.empty()) {
        placed.location = impl_->port;
    }
    auto endpoint = std::make_shared<EndpointState>(placed);
    EmulatedBusObserver* observer = nullptr;
    {
        std::lock_guard<std::mutex> lock(impl_->mutex);
        impl_->plugged.push_back(endpoint);
        observer = impl_->observer;
    }
    if (observer != nullptr) {
        auto host = std::make_unique<HostHandle>(endpoint);
        if (endpoint->Attach(host.get())) {
            observer->Plugged(endpoint, std::move(host));
        }
    }
    return endpoint;
}

void EmulatedBus::Unplug(const std::shared_ptr<EmulatedEndpoint>& endpoint) {
    if (!endpoint) {
        return;
    }
    if (impl_->hub != nullptr) {
        impl_->hub->Unplug(endpoint);
        return;
    }
    std::shared_ptr<EndpointState> state;
    EmulatedBusObserver* observer = nullptr;
    {
        std::lock_guard<std::mutex> lock(impl_->mutex);
        observer = impl_->observer;
        auto& list = impl_->plugged;
        auto found = std::find_if(list.begin(), list.end(),
                                  [&](const auto& item) { return item.get() == endpoint.get(); });
        if (found == list.end()) {
            return;  // not on this bus, or already removed
        }
        state = *found;
        list.erase(found);
    }
    if (observer != nullptr) {
        observer->Unplugging(state);
    }
    state->MarkUnplugged();
}

void EmulatedBus::SetObserver(EmulatedBusObserver* observer) {
    if (impl_->hub != nullptr) {
        impl_->hub->SetObserver(observer);
        return;
    }
    std::lock_guard<std::mutex> lock(impl_->mutex);
    impl_->observer = observer;
}

std::size_t EmulatedBus::InterfaceCount() const {
    if (impl_->hub != nullptr) {
        return impl_->hub->InterfaceCount();
    }
    std::lock_guard<std::mutex> lock(impl_->mutex);
    return impl_->plugged.size();
}

std::unique_ptr<IHidInterfaceList> EmulatedBus::ListInterfaces() {
    if (impl_->hub != nullptr) {
        return impl_->hub->ListInterfaces();
    }
    std::lock_guard<std::mutex> lock(impl_->mutex);
    return std::make_unique<EmulatedList>(impl_->plugged);
}

}  // namespace talvo
