#include "programs/talvo-emulator/gadget_mirror.h"

#include <poll.h>
#include <sys/eventfd.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <thread>

#include "hid/report_descriptor.h"

namespace talvo {

namespace {

// How often the threads that wait on the emulated bus look for a stop.
constexpr int kBusPollMs = 20;

// The most bytes one read of the function's character device gives.
constexpr std::size_t kMaxReport = 1024;

constexpr std::uint8_t kReportIdTag = 0x84;  // global item Report ID, size bits cleared

void Signal(int eventFd) {
    const std::uint64_t one = 1;
    while (::write(eventFd, &one, sizeof one) < 0 && errno == EINTR) {
    }
}

// Whole milliseconds from now to `deadline`, 0 once it has passed.
int MsUntil(std::chrono::steady_clock::time_point deadline) {
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
        deadline - std::chrono::steady_clock::now());
    return static_cast<int>(std::max<std::chrono::milliseconds::rep>(left.count(), 0));
}

}  // namespace

bool UnnumberedDescriptor(const std::vector<std::uint8_t>& numbered,
                          std::vector<std::uint8_t>& unnumbered) {
    unnumbered.clear();
    int ids = 0;
    std::size_t i = 0;
    while (i < numbered.size()) {
        const std::uint8_t prefix = numbered[i];
        std::size_t size = 0;
        if (prefix == 0xFE) {  // long item: size, tag, data
            if (i + 1 >= numbered.size()) {
                return false;
            }
            size = 3 + numbered[i + 1];
        } else {
            static constexpr std::size_t kDataBytes[4] = {0, 1, 2, 4};
            size = 1 + kDataBytes[prefix & 0x03];
        }
        if (i + size > numbered.size()) {
            return false;
        }
        if (prefix != 0xFE && (prefix & 0xFC) == kReportIdTag) {
            ++ids;
        } else {
            unnumbered.insert(unnumbered.end(), numbered.begin() + static_cast<long>(i),
                              numbered.begin() + static_cast<long>(i + size));
        }
        i += size;
    }
    // One ID for the input report and one for the output report at most:
    // with more, the reports could not be told apart without them.
    HidReportLayout layout;
    return ids <= 2 && !unnumbered.empty() &&
           ParseReportDescriptor(unnumbered.data(), unnumbered.size(), layout) &&
           !layout.numberedReports;
}

struct GadgetMirror::Tally {
    std::atomic<int> connected{0};
    std::atomic<int> disconnected{0};
    std::atomic<int> failures{0};
    std::atomic<std::uint64_t> outputs{0};
    std::atomic<std::uint64_t> inputs{0};
    std::atomic<std::uint64_t> ignored{0};
    std::atomic<std::uint64_t> lost{0};
};

// The plugged interface on the connected gadget: a reader thread moves the
// host's output reports to the model, a pump its input reports to the host.
class GadgetMirror::Link {
  public:
    Link(const GadgetMirror& owner, std::shared_ptr<EmulatedEndpoint> endpoint,
         std::unique_ptr<IHidInterfaceHandle> host, int fd)
        : owner_(owner), endpoint_(std::move(endpoint)), host_(std::move(host)), fd_(fd) {}

    ~Link() {
        for (int fd : {fd_, readerStop_, pumpStop_}) {
            if (fd >= 0) {
                ::close(fd);
            }
        }
    }

    const std::shared_ptr<EmulatedEndpoint>& Endpoint() const { return endpoint_; }

    bool Start() {
        readerStop_ = ::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
        pumpStop_ = ::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
        if (readerStop_ < 0 || pumpStop_ < 0) {
            owner_.Note("gadget: eventfd: " + std::string(std::strerror(errno)));
            return false;
        }
        reader_ = std::thread([this] { ReaderLoop(); });
        pump_ = std::thread([this] { PumpLoop(); });
        return true;
    }

    // Sends what the model has already sent (as long as the host takes it
    // within the flush time), then stops both threads and closes the
    // character device. Output the host has not written yet is refused.
    void Stop() {
        if (pumpStop_ >= 0) {
            Signal(pumpStop_);
        }
        if (pump_.joinable()) {
            pump_.join();
        }
        std::vector<std::uint8_t> report(host_->Info().inputReportByteLength);
        const auto deadline =
            std::chrono::steady_clock::now() + std::chrono::milliseconds(owner_.options_.flushMs);
        // The report the pump held when the stop came goes first.
        if (!held_.empty() && !SendInput(held_, MsUntil(deadline))) {
            owner_.tally_->lost.fetch_add(1);
        }
        held_.clear();
        while (!report.empty() && host_->Read(report.data(), 0)) {
            if (!SendInput(report, MsUntil(deadline))) {
                owner_.tally_->lost.fetch_add(1);
            }
        }
        stopping_.store(true);
        if (readerStop_ >= 0) {
            Signal(readerStop_);
        }
        if (reader_.joinable()) {
            reader_.join();
        }
        ::close(fd_);
        fd_ = -1;
    }

  private:
    // Writes one input report without its ID byte, once the previous one
    // has gone; waits up to timeoutMs (-1: until a stop). False when it did
    // not go (time-out, stop, or the host side is gone).
    bool SendInput(const std::vector<std::uint8_t>& report, int timeoutMs) {
        if (report.size() < 2) {
            return false;
        }
        const auto deadline =
            std::chrono::steady_clock::now() + std::chrono::milliseconds(std::max(timeoutMs, 0));
        for (;;) {
            const int wait = timeoutMs >= 0 ? MsUntil(deadline) : -1;
            pollfd fds[2] = {{fd_, POLLOUT, 0}, {pumpStop_, POLLIN, 0}};
            const int ready = ::poll(fds, timeoutMs >= 0 ? 1 : 2, wait);
            if (ready < 0 && errno == EINTR) {
                continue;
            }
            if (ready <= 0 || fds[1].revents != 0) {
                return false;
            }
            const ssize_t n = ::write(fd_, report.data() + 1, report.size() - 1);
            if (n == static_cast<ssize_t>(report.size() - 1)) {
                owner_.tally_->inputs.fetch_add(1);
                return true;
            }
            if (n < 0 && (errno == EAGAIN || errno == EINTR)) {
                continue;
            }
            if (!errorNoted_.exchange(true)) {
                owner_.Note("gadget: " + endpoint_->Identity().name + ": input report refused: " +
                            (n < 0 ? std::strerror(errno) : "short write"));
            }
            return false;
        }
    }

    void PumpLoop() {
        std::vector<std::uint8_t> report(host_->Info().inputReportByteLength);
        if (report.empty()) {
            return;
        }
        for (;;) {
            pollfd stop{pumpStop_, POLLIN, 0};
            if (::poll(&stop, 1, 0) > 0) {
                return;
            }
            if (host_->Read(report.data(), kBusPollMs)) {
                if (!SendInput(report, -1)) {
                    // A stop that came while the report waited for the host
                    // hands it to Stop(), which sends it before the rest.
                    pollfd stopped{pumpStop_, POLLIN, 0};
                    if (::poll(&stopped, 1, 0) > 0) {
                        held_ = report;
                        return;
                    }
                    owner_.tally_->lost.fetch_add(1);
                }
            } else if (!endpoint_->IsPlugged()) {
                return;
            }
        }
    }

    void ReaderLoop() {
        const std::size_t whole = host_->Info().outputReportByteLength;
        std::vector<std::uint8_t> report(kMaxReport + 1);
        for (;;) {
            pollfd fds[2] = {{fd_, POLLIN, 0}, {readerStop_, POLLIN, 0}};
            if (::poll(fds, 2, -1) < 0) {
                if (errno == EINTR) {
                    continue;
                }
                return;
            }
            if (fds[1].revents != 0) {
                return;
            }
            const ssize_t n = ::read(fd_, report.data() + 1, kMaxReport);
            if (n < 0) {
                if (errno == EAGAIN || errno == EINTR) {
                    continue;
                }
                // The host side went away under us: wait for the stop.
                pollfd stop{readerStop_, POLLIN, 0};
                ::poll(&stop, 1, kBusPollMs);
                continue;
            }
            owner_.tally_->outputs.fetch_add(1);
            if (owner_.options_.onOutput) {
                owner_.options_.onOutput();
            }
            if (static_cast<std::size_t>(n) + 1 != whole) {
                owner_.tally_->ignored.fetch_add(1);
                continue;
            }
            // The model takes whole reports, the report ID byte first.
            report[0] = endpoint_->Identity().outputReportId;
            // It takes them at its own pace: meanwhile the next one waits in
            // the host controller, unacknowledged.
            while (!host_->Write(report.data(), kBusPollMs)) {
                if (stopping_.load() || !endpoint_->IsPlugged()) {
                    return;
                }
            }
        }
    }

    const GadgetMirror& owner_;
    const std::shared_ptr<EmulatedEndpoint> endpoint_;
    const std::unique_ptr<IHidInterfaceHandle> host_;
    int fd_ = -1;
    int readerStop_ = -1;
    int pumpStop_ = -1;
    std::atomic<bool> stopping_{false};
    // Written by the pump just before it ends, read by Stop() after the join.
    std::vector<std::uint8_t> held_;
    std::atomic<bool> errorNoted_{false};
    std::thread reader_;
    std::thread pump_;
};

GadgetMirror::GadgetMirror(EmulatedBus& bus, IGadgetPort& port, Options options)
    : bus_(bus), port_(port), options_(std::move(options)), tally_(std::make_unique<Tally>()) {
    bus_.SetObserver(this);
}

GadgetMirror::~GadgetMirror() {
    bus_.SetObserver(nullptr);
    std::lock_guard<std::mutex> lock(mutex_);
    if (link_) {
        link_->Stop();
        port_.Disconnect();
        link_.reset();
        tally_->disconnected.fetch_add(1);
    }
}

void GadgetMirror::Note(const std::string& text) const {
    if (options_.note) {
        options_.note(text);
    }
}

void GadgetMirror::Plugged(const std::shared_ptr<EmulatedEndpoint>& endpoint,
                           std::unique_ptr<IHidInterfaceHandle> host) {
    const EmulatedIdentity& identity = endpoint->Identity();
    std::lock_guard<std::mutex> lock(mutex_);
    if (link_) {
        tally_->failures.fetch_add(1);
        Note("gadget: " + identity.name + ": a second interface at once does not fit one gadget");
        return;
    }
    GadgetIdentity wire;
    wire.vendorId = identity.vendorId;
    wire.productId = identity.productId;
    wire.deviceVersion = identity.versionNumber;
    wire.product = "TALVO " + identity.name;
    wire.reportLength =
        std::max(identity.inputReportByteLength, identity.outputReportByteLength) - 1;
    if (!UnnumberedDescriptor(identity.reportDescriptor, wire.reportDescriptor)) {
        tally_->failures.fetch_add(1);
        Note("gadget: " + identity.name + ": report descriptor cannot go unnumbered");
        return;
    }
    std::string error;
    const int fd = port_.Connect(wire, error);
    if (fd < 0) {
        tally_->failures.fetch_add(1);
        Note("gadget: " + identity.name + ": " + error);
        port_.Disconnect();
        return;
    }
    auto link = std::make_unique<Link>(*this, endpoint, std::move(host), fd);
    if (!link->Start()) {
        tally_->failures.fetch_add(1);
        link->Stop();
        port_.Disconnect();
        return;
    }
    link_ = std::move(link);
    tally_->connected.fetch_add(1);
    Note("gadget: connected " + identity.name);
}

void GadgetMirror::Unplugging(const std::shared_ptr<EmulatedEndpoint>& endpoint) {
    std::lock_guard<std::mutex> lock(mutex_);
    if (!link_ || link_->Endpoint().get() != endpoint.get()) {
        return;
    }
    link_->Stop();
    port_.Disconnect();
    link_.reset();
    tally_->disconnected.fetch_add(1);
    Note("gadget: disconnected " + endpoint->Identity().name);
}

GadgetMirror::Counts GadgetMirror::GetCounts() const {
    Counts counts;
    counts.connected = tally_->connected.load();
    counts.disconnected = tally_->disconnected.load();
    counts.failures = tally_->failures.load();
    counts.outputs = tally_->outputs.load();
    counts.inputs = tally_->inputs.load();
    counts.ignored = tally_->ignored.load();
    counts.lost = tally_->lost.load();
    return counts;
}

}  // namespace talvo
