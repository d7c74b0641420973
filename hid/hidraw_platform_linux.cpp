#include <dirent.h>
#include <fcntl.h>
#include <linux/hidraw.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <optional>
#include <vector>

#include "hid/hid_time.h"
#include "hid/hidraw_platform.h"
#include "hid/report_descriptor.h"

namespace talvo {

namespace {

constexpr std::size_t kMaxDescriptorSize = HID_MAX_DESCRIPTOR_SIZE;
constexpr std::size_t kMaxUeventSize = 64 * 1024;

// Reads a small sysfs file whole (at most `limit` bytes); false if it
// cannot be read.
bool ReadSmallFile(const std::string& path, std::size_t limit, std::vector<std::uint8_t>& bytes) {
    int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
        return false;
    }
    bytes.clear();
    std::uint8_t chunk[4096];
    bool ok = true;
    while (bytes.size() < limit) {
        ssize_t n = ::read(fd, chunk, std::min(sizeof chunk, limit - bytes.size()));
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n < 0) {
            ok = false;
            break;
        }
        if (n == 0) {
            break;
        }
        bytes.insert(bytes.end(), chunk, chunk + n);
    }
    ::close(fd);
    return ok;
}

// One hexadecimal field of HID_ID, at most 0xFFFF for vendor and product.
bool ParseHex(const std::string& text, unsigned long limit, unsigned long& value) {
    if (text.empty() || text.size() > 8) {
        return false;
    }
    for (char c : text) {
        if (std::strchr("0123456789abcdefABCDEF", c) == nullptr) {
            return false;
        }
    }
    value = std::strtoul(text.c_str(), nullptr, 16);
    return value <= limit;
}

// The value of KEY=value in a uevent file; false when it has none.
bool UeventValue(const std::string& path, const std::string& key, std::string& value) {
    std::vector<std::uint8_t> bytes;
    if (!ReadSmallFile(path, kMaxUeventSize, bytes)) {
        return false;
    }
    const std::string text(bytes.begin(), bytes.end());
    const std::string prefix = key + "=";
    std::size_t start = 0;
    while (start < text.size()) {
        std::size_t end = text.find('\n', start);
        if (end == std::string::npos) {
            end = text.size();
        }
        if (text.compare(start, prefix.size(), prefix) == 0) {
            value = text.substr(start + prefix.size(), end - start - prefix.size());
            return true;
        }
        start = end + 1;
    }
    return false;
}

// A sysfs USB device name: bus number, '-', port numbers joined by '.'
// ("1-4.2"); root hubs ("usb1") and interfaces ("1-4.2:1.0") are not.
bool IsUsbDeviceName(const std::string& name) {
    const std::size_t dash = name.find('-');
    if (dash == 0 || dash == std::string::npos || dash + 1 == name.size()) {
        return false;
    }
    bool digitBefore = false;
    for (std::size_t i = 0; i < name.size(); ++i) {
        const char c = name[i];
        if (c >= '0' && c <= '9') {
            digitBefore = true;
        } else if ((c == '-' && i == dash) || (c == '.' && i > dash)) {
            if (!digitBefore) {
                return false;
            }
            digitBefore = false;
        } else {
            return false;
        }
    }
    return digitBefore;
}

// Where the unit of a hidraw node is plugged in, the same in both of its
// modes: the sysfs name of the USB device above the node ("1-4.2"), or for
// a node on no USB device (uhid) its HID_PHYS without the "/inputN" of
// the interface. Empty when neither is known.
std::string LocationOf(const std::string& deviceDirectory) {
    if (char* real = ::realpath(deviceDirectory.c_str(), nullptr)) {
        const std::string path(real);
        std::free(real);
        std::string usbDevice;
        std::size_t start = 0;
        while (start < path.size()) {
            std::size_t end = path.find('/', start);
            if (end == std::string::npos) {
                end = path.size();
            }
            const std::string component = path.substr(start, end - start);
            if (IsUsbDeviceName(component)) {
                usbDevice = component;  // the deepest one is the unit
            }
            start = end + 1;
        }
        if (!usbDevice.empty()) {
            return usbDevice;
        }
    }
    std::string phys;
    if (!UeventValue(deviceDirectory + "/uevent", "HID_PHYS", phys)) {
        return std::string();
    }
    const std::size_t slash = phys.rfind("/input");
    if (slash != std::string::npos && slash + 6 < phys.size() &&
        phys.find_first_not_of("0123456789", slash + 6) == std::string::npos) {
        phys.erase(slash);
    }
    return phys;
}

// HID_ID=<bus>:<vendor>:<product> in a uevent file.
bool IdsFromUevent(const std::string& path, std::uint16_t& vendor, std::uint16_t& product) {
    std::string fields;
    if (!UeventValue(path, "HID_ID", fields)) {
        return false;
    }
    std::size_t first = fields.find(':');
    std::size_t second = first == std::string::npos ? first : fields.find(':', first + 1);
    if (second == std::string::npos) {
        return false;
    }
    unsigned long bus = 0, v = 0, p = 0;
    if (!ParseHex(fields.substr(0, first), 0xFFFFFFFFul, bus) ||
        !ParseHex(fields.substr(first + 1, second - first - 1), 0xFFFF, v) ||
        !ParseHex(fields.substr(second + 1), 0xFFFF, p)) {
        return false;
    }
    vendor = static_cast<std::uint16_t>(v);
    product = static_cast<std::uint16_t>(p);
    return true;
}

bool IdsFromNode(int fd, std::uint16_t& vendor, std::uint16_t& product) {
    hidraw_devinfo info{};
    if (::ioctl(fd, HIDIOCGRAWINFO, &info) < 0) {
        return false;
    }
    vendor = static_cast<std::uint16_t>(info.vendor);
    product = static_cast<std::uint16_t>(info.product);
    return true;
}

bool DescriptorFromNode(int fd, std::vector<std::uint8_t>& bytes) {
    int size = 0;
    if (::ioctl(fd, HIDIOCGRDESCSIZE, &size) < 0 || size <= 0 ||
        static_cast<std::size_t>(size) > kMaxDescriptorSize) {
        return false;
    }
    auto descriptor = std::make_unique<hidraw_report_descriptor>();
    descriptor->size = static_cast<__u32>(size);
    if (::ioctl(fd, HIDIOCGRDESC, descriptor.get()) < 0) {
        return false;
    }
    bytes.assign(descriptor->value, descriptor->value + size);
    return true;
}

// Milliseconds left until the deadline for poll(), rounded up.
int PollTimeout(const std::optional<std::chrono::steady_clock::time_point>& deadline) {
    if (!deadline) {
        return -1;
    }
    auto left = *deadline - std::chrono::steady_clock::now();
    if (left <= std::chrono::steady_clock::duration::zero()) {
        return 0;
    }
    auto ms = std::chrono::ceil<std::chrono::milliseconds>(left).count();
    return ms > INT_MAX ? INT_MAX : static_cast<int>(ms);
}

std::optional<std::chrono::steady_clock::time_point> DeadlineFor(int timeoutMs) {
    if (timeoutMs == -1) {
        return std::nullopt;
    }
    return hid_time::DeadlineAfter(timeoutMs);
}

class HidrawHandle final : public IHidInterfaceHandle {
  public:
    HidrawHandle(int fd, int abortFd, const HidInterfaceInfo& info, bool numbered)
        : fd_(fd), abortFd_(abortFd), info_(info), numbered_(numbered) {}
    ~HidrawHandle() override {
        ::close(fd_);
        ::close(abortFd_);
    }
    HidrawHandle(const HidrawHandle&) = delete;
    HidrawHandle& operator=(const HidrawHandle&) = delete;

    const HidInterfaceInfo& Info() const override { return info_; }

    bool Read(std::uint8_t* report, int timeoutMs) override {
        const std::size_t length = info_.inputReportByteLength;
        // hidraw hands over the report ID byte only for numbered reports.
        std::uint8_t* target = numbered_ ? report : report + 1;
        const std::size_t wanted = numbered_ ? length : length - 1;
        if (length == 0 || wanted == 0 || gone_.load()) {
            return false;
        }
        const auto deadline = DeadlineFor(timeoutMs);
        for (;;) {
            pollfd fds[2] = {{fd_, POLLIN, 0}, {abortFd_, POLLIN, 0}};
            int ready = ::poll(fds, 2, PollTimeout(deadline));
            if (ready < 0) {
                if (errno == EINTR) {
                    continue;
                }
                return false;
            }
            if (fds[1].revents != 0) {
                return false;  // AbortRead
            }
            if (ready == 0) {
                return false;  // time limit
            }
            if ((fds[0].revents & POLLIN) != 0) {
                ssize_t n = ::read(fd_, target, wanted);
                if (n > 0) {
                    // A shorter report (another report ID) leaves no stale bytes.
                    std::memset(target + n, 0, wanted - static_cast<std::size_t>(n));
                    if (!numbered_) {
                        report[0] = 0;
                    }
                    return true;
                }
                if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR)) {
                    continue;
                }
                gone_.store(true);  // end of file, ENODEV, EIO: the device went away
                return false;
            }
            if ((fds[0].revents & (POLLHUP | POLLERR | POLLNVAL)) != 0) {
                gone_.store(true);
                return false;
            }
        }
    }

    bool Write(const std::uint8_t* report, int timeoutMs) override {
        // hidraw takes the report ID byte first in every write, 0 for a
        // device without numbered reports.
        const std::size_t length = info_.outputReportByteLength;
        if (length == 0 || gone_.load()) {
            return false;
        }
        const auto deadline = DeadlineFor(timeoutMs);
        for (;;) {
            ssize_t n = Send(report, length);
            if (n >= 0) {
                return static_cast<std::size_t>(n) == length;
            }
            if (errno == EINTR) {
                continue;
            }
            if (errno != EAGAIN && errno != EWOULDBLOCK) {
                if (errno == ENODEV || errno == EIO || errno == EPIPE || errno == ECONNRESET) {
                    gone_.store(true);
                }
                return false;
            }
            pollfd out = {fd_, POLLOUT, 0};
            int ready = ::poll(&out, 1, PollTimeout(deadline));
            if (ready < 0 && errno == EINTR) {
                continue;
            }
            if (ready <= 0) {
                return false;
            }
            if ((out.revents & (POLLHUP | POLLERR | POLLNVAL)) != 0) {
                gone_.store(true);
                return false;
            }
        }
    }

    void AbortRead() override {
        const std::uint64_t one = 1;
        // The counter stays readable, so every later Read ends at once.
        while (::write(abortFd_, &one, sizeof one) < 0 && errno == EINTR) {
        }
    }

  private:
    // A socket stand-in for a device node must not raise SIGPIPE when its
    // peer has gone; a real node is written with write(2).
    ssize_t Send(const std::uint8_t* data, std::size_t length) {
        if (!notSocket_) {
            ssize_t n = ::send(fd_, data, length, MSG_NOSIGNAL | MSG_DONTWAIT);
            if (n >= 0 || errno != ENOTSOCK) {
                return n;
            }
            notSocket_ = true;
        }
        return ::write(fd_, data, length);
    }

    const int fd_;
    const int abortFd_;
    const HidInterfaceInfo info_;
    const bool numbered_;
    std::atomic<bool> gone_{false};
    bool notSocket_ = false;  // used by the writing thread only
};

class HidrawList final : public IHidInterfaceList {
  public:
    HidrawList(std::string classDirectory, std::string deviceDirectory,
               HidrawPlatform::NodeOpener opener, std::vector<std::string> names)
        : classDirectory_(std::move(classDirectory)),
          deviceDirectory_(std::move(deviceDirectory)),
          opener_(std::move(opener)),
          names_(std::move(names)) {}

    HidSlot Open(std::size_t index, HidOpenPurpose purpose,
                 std::unique_ptr<IHidInterfaceHandle>& handle) override {
        if (index >= names_.size()) {
            return HidSlot::kEnd;
        }
        const std::string& name = names_[index];
        const std::string node = deviceDirectory_ + "/" + name;
        const int flags = O_RDWR | O_NONBLOCK | O_CLOEXEC;
        int fd = opener_ ? opener_(node, flags) : ::open(node.c_str(), flags);
        if (fd < 0) {
            return HidSlot::kSkipped;  // e.g. no permission, or held elsewhere
        }
        const std::string deviceDir = classDirectory_ + "/" + name + "/device";
        HidInterfaceInfo info;
        std::vector<std::uint8_t> descriptor;
        HidReportLayout layout;
        bool ok =
            (IdsFromUevent(deviceDir + "/uevent", info.vendorId, info.productId) ||
             IdsFromNode(fd, info.vendorId, info.productId)) &&
            ((ReadSmallFile(deviceDir + "/report_descriptor", kMaxDescriptorSize, descriptor) &&
              !descriptor.empty()) ||
             DescriptorFromNode(fd, descriptor)) &&
            ParseReportDescriptor(descriptor.data(), descriptor.size(), layout);
        int abortFd = ok ? ::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK) : -1;
        if (!ok || abortFd < 0) {
            ::close(fd);
            return HidSlot::kSkipped;
        }
        info.inputReportByteLength = layout.inputReportByteLength;
        info.outputReportByteLength = layout.outputReportByteLength;
        info.featureReportByteLength = layout.featureReportByteLength;
        info.outputReportId = layout.outputReportId;
        info.location = LocationOf(deviceDir);
        // One updater per unit: an open for conversation takes the node's
        // advisory lock, which our other programs' opens respect; a probe
        // only looks (the lock is per open file, so a probe taking it would
        // even find its own program's conversation in the way).
        if (purpose == HidOpenPurpose::kConverse && ::flock(fd, LOCK_EX | LOCK_NB) != 0 &&
            errno == EWOULDBLOCK) {
            ::close(fd);
            ::close(abortFd);
            return HidSlot::kInUse;
        }
        handle = std::make_unique<HidrawHandle>(fd, abortFd, info, layout.numberedReports);
        return HidSlot::kOpened;
    }

    bool PeekIds(std::size_t index, std::uint16_t& vendorId, std::uint16_t& productId) override {
        return index < names_.size() &&
               IdsFromUevent(classDirectory_ + "/" + names_[index] + "/device/uevent", vendorId,
                             productId);
    }

  private:
    std::string classDirectory_;
    std::string deviceDirectory_;
    HidrawPlatform::NodeOpener opener_;
    std::vector<std::string> names_;
};

// "hidraw<number>" → number, or -1 for any other name.
long HidrawNumber(const char* name) {
    if (std::strncmp(name, "hidraw", 6) != 0 || name[6] == '\0' || std::strlen(name) > 16) {
        return -1;
    }
    for (const char* p = name + 6; *p != '\0'; ++p) {
        if (*p < '0' || *p > '9') {
            return -1;
        }
    }
    return std::strtol(name + 6, nullptr, 10);
}

}  // namespace

HidrawPlatform::HidrawPlatform(std::string sysfsRoot, std::string deviceDirectory,
                               NodeOpener opener)
    : sysfsRoot_(std::move(sysfsRoot)),
      deviceDirectory_(std::move(deviceDirectory)),
      opener_(std::move(opener)) {}

HidrawPlatform::~HidrawPlatform() = default;

namespace {

// The hidraw entries of the class directory, in the order of their numbers.
std::vector<std::string> NodeNames(const std::string& classDirectory) {
    std::vector<std::string> names;
    if (DIR* dir = ::opendir(classDirectory.c_str())) {
        while (dirent* entry = ::readdir(dir)) {
            if (HidrawNumber(entry->d_name) >= 0) {
                names.emplace_back(entry->d_name);
            }
        }
        ::closedir(dir);
    }
    // Without hidraw (no such class directory) there is simply no interface.
    std::sort(names.begin(), names.end(), [](const std::string& a, const std::string& b) {
        return HidrawNumber(a.c_str()) < HidrawNumber(b.c_str());
    });
    return names;
}

}  // namespace

std::unique_ptr<IHidInterfaceList> HidrawPlatform::ListInterfaces() {
    const std::string classDirectory = sysfsRoot_ + "/class/hidraw";
    return std::make_unique<HidrawList>(classDirectory, deviceDirectory_, opener_,
                                        NodeNames(classDirectory));
}

std::vector<HidDeniedInterface> HidrawPlatform::DeniedInterfaces(std::uint16_t vendorId) {
    const std::string classDirectory = sysfsRoot_ + "/class/hidraw";
    std::vector<HidDeniedInterface> denied;
    for (const std::string& name : NodeNames(classDirectory)) {
        HidDeniedInterface entry;
        if (!IdsFromUevent(classDirectory + "/" + name + "/device/uevent", entry.vendorId,
                           entry.productId) ||
            entry.vendorId != vendorId) {
            continue;
        }
        entry.path = deviceDirectory_ + "/" + name;
        entry.location = LocationOf(classDirectory + "/" + name + "/device");
        const int flags = O_RDWR | O_NONBLOCK | O_CLOEXEC;
        const int fd = opener_ ? opener_(entry.path, flags) : ::open(entry.path.c_str(), flags);
        if (fd >= 0) {
            ::close(fd);
        } else if (errno == EACCES || errno == EPERM) {
            denied.push_back(entry);
        }
    }
    return denied;
}

}  // namespace talvo
