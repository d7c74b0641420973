#include "programs/talvo-emulator/uhid_mirror.h"

#include <fcntl.h>
#include <linux/uhid.h>
#include <poll.h>
#include <pthread.h>
#include <sched.h>
#include <sys/eventfd.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstddef>
#include <cstring>
#include <thread>

#include "hid/report_descriptor.h"

namespace talvo {

namespace {

// Size of an input event carrying `length` report bytes: type, size, data.
constexpr std::size_t InputEventSize(std::size_t length) {
    return sizeof(std::uint32_t) + sizeof(std::uint16_t) + length;
}

// How often the threads that wait on the emulated bus look for a stop.
constexpr int kBusPollMs = 20;

// Real-time priority of the reader threads: above every normal thread, so
// the kernel's queue of 32 output reports is emptied as soon as it fills.
constexpr int kReaderPriority = 10;

std::string ErrorText(int error) {
    return std::strerror(error);
}

}  // namespace

struct UhidMirror::Tally {
    std::atomic<int> created{0};
    std::atomic<int> destroyed{0};
    std::atomic<int> failures{0};
    std::atomic<std::uint64_t> outputs{0};
    std::atomic<std::uint64_t> inputs{0};
    std::atomic<std::uint64_t> ignored{0};
    std::atomic<bool> realtimeReader{false};
};

namespace {

// Output reports from the reader to the forwarder with neither a lock nor
// an allocation on the reader's side (either could make the real-time
// reader wait for a thread of normal priority): one producer, one consumer.
class OutputRing {
  public:
    OutputRing(std::size_t slots, std::size_t slotBytes)
        : slots_(slots), slotBytes_(slotBytes), bytes_(slots * slotBytes) {}

    // Reader side; false when full.
    bool Push(bool leadingZero, const std::uint8_t* data, std::size_t size) {
        const std::size_t tail = tail_.load(std::memory_order_relaxed);
        if (tail - head_.load(std::memory_order_acquire) == slots_) {
            return false;
        }
        std::uint8_t* slot = &bytes_[(tail % slots_) * slotBytes_];
        if (leadingZero) {
            *slot++ = 0;
        }
        std::memcpy(slot, data, size);
        tail_.store(tail + 1, std::memory_order_release);
        return true;
    }

    // Forwarder side; false when empty.
    bool Pop(std::uint8_t* report) {
        const std::size_t head = head_.load(std::memory_order_relaxed);
        if (head == tail_.load(std::memory_order_acquire)) {
            return false;
        }
        std::memcpy(report, &bytes_[(head % slots_) * slotBytes_], slotBytes_);
        head_.store(head + 1, std::memory_order_release);
        return true;
    }

  private:
    const std::size_t slots_;
    const std::size_t slotBytes_;
    std::vector<std::uint8_t> bytes_;
    std::atomic<std::size_t> head_{0};
    std::atomic<std::size_t> tail_{0};
};

// Room for many more reports than a host writes before it waits for an
// answer (a whole piece is about 165): only a device model that stops
// taking reports altogether fills it.
constexpr std::size_t kRingSlots = 4096;

}  // namespace

// One mirrored interface: the uhid descriptor and its three threads.
class UhidMirror::Device {
  public:
    Device(const UhidMirror& owner, std::shared_ptr<EmulatedEndpoint> endpoint,
           std::unique_ptr<IHidInterfaceHandle> host)
        : owner_(owner), endpoint_(std::move(endpoint)), host_(std::move(host)) {}

    ~Device() {
        if (fd_ >= 0) {
            ::close(fd_);
        }
        if (stopFd_ >= 0) {
            ::close(stopFd_);
        }
        if (outputFd_ >= 0) {
            ::close(outputFd_);
        }
    }

    const std::shared_ptr<EmulatedEndpoint>& Endpoint() const { return endpoint_; }

    // Makes the kernel device and starts the threads; false (noted) when
    // uhid cannot be opened or refuses the device.
    bool Create() {
        const EmulatedIdentity& identity = endpoint_->Identity();
        HidReportLayout layout;
        const auto& descriptor = identity.reportDescriptor;
        if (descriptor.empty() || descriptor.size() > HID_MAX_DESCRIPTOR_SIZE ||
            !ParseReportDescriptor(descriptor.data(), descriptor.size(), layout)) {
            owner_.Note("uhid: " + identity.name + ": report descriptor refused");
            return false;
        }
        numbered_ = layout.numberedReports;
        fd_ = owner_.options_.opener ? owner_.options_.opener()
                                     : ::open("/dev/uhid", O_RDWR | O_CLOEXEC);
        if (fd_ < 0) {
            owner_.Note("uhid: cannot open /dev/uhid: " + ErrorText(errno));
            return false;
        }
        stopFd_ = ::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
        outputFd_ = ::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
        ring_ = std::make_unique<OutputRing>(kRingSlots, host_->Info().outputReportByteLength);
        if (stopFd_ < 0 || outputFd_ < 0) {
            owner_.Note("uhid: eventfd: " + ErrorText(errno));
            return false;
        }
        auto event = std::make_unique<uhid_event>();
        std::memset(event.get(), 0, sizeof *event);
        event->type = UHID_CREATE2;
        uhid_create2_req& create = event->u.create2;
        std::snprintf(reinterpret_cast<char*>(create.name), sizeof create.name, "TALVO %s",
                      identity.name.c_str());
        std::snprintf(reinterpret_cast<char*>(create.phys), sizeof create.phys, "%s",
                      owner_.options_.phys.c_str());
        create.rd_size = static_cast<std::uint16_t>(descriptor.size());
        create.bus = 0x03;  // USB
        create.vendor = identity.vendorId;
        create.product = identity.productId;
        create.version = identity.versionNumber;
        std::memcpy(create.rd_data, descriptor.data(), descriptor.size());
        if (!WriteEvent(event.get(), sizeof *event)) {
            owner_.Note("uhid: " + identity.name + ": create refused: " + ErrorText(errno));
            return false;
        }
        reader_ = std::thread([this] { ReaderLoop(); });
        forwarder_ = std::thread([this] { ForwarderLoop(); });
        pump_ = std::thread([this] { PumpLoop(); });
        return true;
    }

    // Sends what the model has already sent, then removes the kernel device
    // and stops the threads. Output not yet handed to the model is lost, as
    // it is when a real device leaves.
    void Destroy() {
        stopPump_.store(true);
        if (pump_.joinable()) {
            pump_.join();
        }
        std::vector<std::uint8_t> report(host_->Info().inputReportByteLength);
        while (!report.empty() && host_->Read(report.data(), 0)) {
            SendInput(report);
        }
        if (fd_ >= 0) {
            std::uint32_t destroy = UHID_DESTROY;
            WriteEvent(&destroy, sizeof destroy);
        }
        stopping_.store(true);
        if (stopFd_ >= 0) {
            Signal(stopFd_);  // stays readable: the reader and the forwarder both see it
        }
        if (reader_.joinable()) {
            reader_.join();
        }
        if (forwarder_.joinable()) {
            forwarder_.join();
        }
    }

  private:
    static void Signal(int eventFd) {
        const std::uint64_t one = 1;
        while (::write(eventFd, &one, sizeof one) < 0 && errno == EINTR) {
        }
    }

    bool WriteEvent(const void* event, std::size_t size) {
        std::lock_guard<std::mutex> lock(writeMutex_);
        for (;;) {
            ssize_t n = ::write(fd_, event, size);
            if (n >= 0) {
                return static_cast<std::size_t>(n) == size;
            }
            if (errno != EINTR) {
                return false;
            }
        }
    }

    void SendInput(const std::vector<std::uint8_t>& report) {
        // The bus puts the report ID byte first, 0 when reports are not
        // numbered; the kernel wants it only when they are.
        const std::size_t skip = numbered_ ? 0 : 1;
        if (report.size() <= skip || report.size() - skip > UHID_DATA_MAX) {
            return;
        }
        uhid_event event;
        event.type = UHID_INPUT2;
        event.u.input2.size = static_cast<std::uint16_t>(report.size() - skip);
        std::memcpy(event.u.input2.data, report.data() + skip, report.size() - skip);
        if (WriteEvent(&event, InputEventSize(report.size() - skip))) {
            owner_.tally_->inputs.fetch_add(1);
        } else {
            owner_.tally_->failures.fetch_add(1);
            owner_.Note("uhid: " + endpoint_->Identity().name +
                        ": input report refused: " + ErrorText(errno));
        }
    }

    void Reply(const uhid_event& request) {
        // Feature reports are not part of the device: refuse at once rather
        // than leave the kernel waiting for an answer.
        uhid_event reply;
        std::memset(&reply, 0, sizeof reply);
        if (request.type == UHID_GET_REPORT) {
            reply.type = UHID_GET_REPORT_REPLY;
            reply.u.get_report_reply.id = request.u.get_report.id;
            reply.u.get_report_reply.err = EIO;
        } else {
            reply.type = UHID_SET_REPORT_REPLY;
            reply.u.set_report_reply.id = request.u.set_report.id;
            reply.u.set_report_reply.err = EIO;
        }
        WriteEvent(&reply, sizeof reply);
    }

    void ReaderLoop() {
        sched_param param{};
        param.sched_priority = kReaderPriority;
        if (owner_.options_.realtimeReader &&
            ::pthread_setschedparam(::pthread_self(), SCHED_FIFO, &param) == 0) {
            owner_.tally_->realtimeReader.store(true);
        }
        auto event = std::make_unique<uhid_event>();
        for (;;) {
            pollfd fds[2] = {{fd_, POLLIN, 0}, {stopFd_, POLLIN, 0}};
            if (::poll(fds, 2, -1) < 0) {
                if (errno == EINTR) {
                    continue;
                }
                return;
            }
            if (fds[1].revents != 0) {
                return;
            }
            ssize_t n = ::read(fd_, event.get(), sizeof *event);
            if (n < 0 && (errno == EINTR || errno == EAGAIN)) {
                continue;
            }
            if (n < static_cast<ssize_t>(sizeof(std::uint32_t))) {
                return;  // the kernel side is gone
            }
            switch (event->type) {
                case UHID_OUTPUT:
                    if (event->u.output.rtype == UHID_OUTPUT_REPORT) {
                        TakeOutput(event->u.output.data, event->u.output.size);
                    }
                    break;
                case UHID_GET_REPORT:
                case UHID_SET_REPORT:
                    Reply(*event);
                    break;
                default:
                    break;  // start, stop, open, close
            }
        }
    }

    // On the reader thread: no lock, no allocation, no output.
    void TakeOutput(const std::uint8_t* data, std::size_t size) {
        owner_.tally_->outputs.fetch_add(1);
        // The bus carries whole reports only; a report of another length is
        // what the device would not take either (counted, not passed on).
        const std::size_t whole = size + (numbered_ ? 0 : 1);
        if (whole != host_->Info().outputReportByteLength) {
            owner_.tally_->ignored.fetch_add(1);
            return;
        }
        if (!ring_->Push(!numbered_, data, size)) {
            owner_.tally_->failures.fetch_add(1);  // the device model stopped taking reports
            return;
        }
        Signal(outputFd_);
    }

    void ForwarderLoop() {
        std::vector<std::uint8_t> report(host_->Info().outputReportByteLength);
        for (;;) {
            pollfd fds[2] = {{outputFd_, POLLIN, 0}, {stopFd_, POLLIN, 0}};
            if (::poll(fds, 2, -1) < 0 && errno != EINTR) {
                return;
            }
            if (fds[1].revents != 0) {
                return;
            }
            std::uint64_t count = 0;
            while (::read(outputFd_, &count, sizeof count) < 0 && errno == EINTR) {
            }
            while (ring_->Pop(report.data())) {
                // The model takes reports at its own pace; wait for it, but
                // look for a stop now and then.
                while (!host_->Write(report.data(), kBusPollMs)) {
                    if (stopping_.load() || !endpoint_->IsPlugged()) {
                        return;
                    }
                }
            }
        }
    }

    void PumpLoop() {
        std::vector<std::uint8_t> report(host_->Info().inputReportByteLength);
        if (report.empty()) {
            return;
        }
        while (!stopPump_.load()) {
            if (host_->Read(report.data(), kBusPollMs)) {
                SendInput(report);
            } else if (!endpoint_->IsPlugged()) {
                return;
            }
        }
    }

    const UhidMirror& owner_;
    const std::shared_ptr<EmulatedEndpoint> endpoint_;
    const std::unique_ptr<IHidInterfaceHandle> host_;
    bool numbered_ = true;
    int fd_ = -1;
    int stopFd_ = -1;
    std::mutex writeMutex_;
    int outputFd_ = -1;  // counts reports put in the ring
    std::unique_ptr<OutputRing> ring_;
    std::atomic<bool> stopping_{false};
    std::atomic<bool> stopPump_{false};
    std::thread reader_;
    std::thread forwarder_;
    std::thread pump_;
};

UhidMirror::UhidMirror(EmulatedBus& bus, Options options)
    : bus_(bus), options_(std::move(options)), tally_(std::make_unique<Tally>()) {
    bus_.SetObserver(this);
}

UhidMirror::~UhidMirror() {
    bus_.SetObserver(nullptr);
    std::vector<std::unique_ptr<Device>> left;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        left.swap(devices_);
    }
    for (auto& device : left) {
        Remove(std::move(device));
    }
}

void UhidMirror::Note(const std::string& text) const {
    if (options_.note) {
        options_.note(text);
    }
}

void UhidMirror::Plugged(const std::shared_ptr<EmulatedEndpoint>& endpoint,
                         std::unique_ptr<IHidInterfaceHandle> host) {
    auto device = std::make_unique<Device>(*this, endpoint, std::move(host));
    if (!device->Create()) {
        tally_->failures.fetch_add(1);
        device->Destroy();
        return;
    }
    tally_->created.fetch_add(1);
    Note("uhid: created " + endpoint->Identity().name);
    std::lock_guard<std::mutex> lock(mutex_);
    devices_.push_back(std::move(device));
}

void UhidMirror::Unplugging(const std::shared_ptr<EmulatedEndpoint>& endpoint) {
    std::unique_ptr<Device> device;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        auto found = std::find_if(devices_.begin(), devices_.end(), [&](const auto& d) {
            return d->Endpoint().get() == endpoint.get();
        });
        if (found == devices_.end()) {
            return;
        }
        device = std::move(*found);
        devices_.erase(found);
    }
    Remove(std::move(device));
}

void UhidMirror::Remove(std::unique_ptr<Device> device) {
    const std::string name = device->Endpoint()->Identity().name;
    device->Destroy();
    tally_->destroyed.fetch_add(1);
    Note("uhid: destroyed " + name);
}

UhidMirror::Counts UhidMirror::GetCounts() const {
    Counts counts;
    counts.created = tally_->created.load();
    counts.destroyed = tally_->destroyed.load();
    counts.failures = tally_->failures.load();
    counts.outputs = tally_->outputs.load();
    counts.inputs = tally_->inputs.load();
    counts.ignored = tally_->ignored.load();
    counts.realtimeReader = tally_->realtimeReader.load();
    return counts;
}

}  // namespace talvo
