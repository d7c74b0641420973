#include "tests/hid/fake_sysfs.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <stdexcept>

namespace talvo::test {

namespace {

std::string MakeTempRoot() {
    char pattern[] = "/tmp/talvo-sysfs-XXXXXX";
    if (::mkdtemp(pattern) == nullptr) {
        throw std::runtime_error("mkdtemp failed");
    }
    return pattern;
}

void WriteFile(const std::string& path, const void* data, std::size_t size) {
    std::ofstream out(path, std::ios::binary);
    out.write(static_cast<const char*>(data), static_cast<std::streamsize>(size));
}

}  // namespace

FakeSysfs::FakeSysfs()
    : root_(MakeTempRoot()),
      platform_(root_ + "/sys", root_ + "/dev",
                [this](const std::string& path, int flags) { return OpenNode(path, flags); }) {
    std::filesystem::create_directories(root_ + "/sys/class/hidraw");
    std::filesystem::create_directories(root_ + "/dev");
}

FakeSysfs::~FakeSysfs() {
    for (auto& [path, node] : nodes_) {
        ::close(node.hostFd);
        ::close(node.deviceFd);
    }
    std::error_code ignored;
    std::filesystem::remove_all(root_, ignored);
}

int FakeSysfs::Add(int number, const std::string& uevent,
                   const std::vector<std::uint8_t>& descriptor) {
    const std::string name = "hidraw" + std::to_string(number);
    const std::string dir = root_ + "/sys/class/hidraw/" + name + "/device";
    std::filesystem::create_directories(dir);
    if (!uevent.empty()) {
        WriteFile(dir + "/uevent", uevent.data(), uevent.size());
    }
    if (!descriptor.empty()) {
        WriteFile(dir + "/report_descriptor", descriptor.data(), descriptor.size());
    }
    int fds[2];
    if (::socketpair(AF_UNIX, SOCK_SEQPACKET | SOCK_CLOEXEC, 0, fds) != 0) {
        throw std::runtime_error("socketpair failed");
    }
    std::lock_guard<std::mutex> lock(mutex_);
    nodes_[root_ + "/dev/" + name] = Node{fds[0], fds[1], false};
    return number;
}

void FakeSysfs::SetOpenFails(int number, bool fails) {
    SetOpenError(number, fails ? EBUSY : 0);
}

void FakeSysfs::SetOpenError(int number, int error) {
    std::lock_guard<std::mutex> lock(mutex_);
    nodes_.at(root_ + "/dev/hidraw" + std::to_string(number)).openError = error;
}

void FakeSysfs::Remove(int number) {
    const std::string name = "hidraw" + std::to_string(number);
    std::filesystem::remove_all(root_ + "/sys/class/hidraw/" + name);
    std::lock_guard<std::mutex> lock(mutex_);
    auto found = nodes_.find(root_ + "/dev/" + name);
    if (found != nodes_.end()) {
        ::close(found->second.hostFd);
        ::close(found->second.deviceFd);
        nodes_.erase(found);
    }
}

int FakeSysfs::OpenNode(const std::string& path, int flags) {
    std::lock_guard<std::mutex> lock(mutex_);
    flagsSeen_.push_back(flags);
    auto found = nodes_.find(path);
    if (found == nodes_.end()) {
        errno = ENOENT;
        return -1;
    }
    if (found->second.openError != 0) {
        errno = found->second.openError;
        return -1;
    }
    int fd = ::fcntl(found->second.hostFd, F_DUPFD_CLOEXEC, 0);
    if (fd >= 0 && (flags & O_NONBLOCK) != 0) {
        ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) | O_NONBLOCK);
    }
    return fd;
}

bool FakeSysfs::Send(int number, const std::vector<std::uint8_t>& message) {
    int fd;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        auto found = nodes_.find(root_ + "/dev/hidraw" + std::to_string(number));
        if (found == nodes_.end()) {
            return false;
        }
        fd = found->second.deviceFd;
    }
    return ::send(fd, message.data(), message.size(), MSG_NOSIGNAL) ==
           static_cast<ssize_t>(message.size());
}

bool FakeSysfs::Receive(int number, std::vector<std::uint8_t>& message, int timeoutMs) {
    int fd;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        auto found = nodes_.find(root_ + "/dev/hidraw" + std::to_string(number));
        if (found == nodes_.end()) {
            return false;
        }
        fd = found->second.deviceFd;
    }
    pollfd in = {fd, POLLIN, 0};
    if (::poll(&in, 1, timeoutMs) <= 0 || (in.revents & POLLIN) == 0) {
        return false;
    }
    std::uint8_t buffer[4096];
    ssize_t n = ::recv(fd, buffer, sizeof buffer, MSG_DONTWAIT);
    if (n < 0) {
        return false;
    }
    message.assign(buffer, buffer + n);
    return true;
}

std::vector<int> FakeSysfs::OpenFlagsSeen() {
    std::lock_guard<std::mutex> lock(mutex_);
    return flagsSeen_;
}

std::string FakeSysfs::Uevent(std::uint16_t vendor, std::uint16_t product) {
    char line[64];
    std::snprintf(line, sizeof line, "HID_ID=0003:%08X:%08X\n", vendor, product);
    return "DRIVER=hid-generic\n" + std::string(line) + "HID_NAME=fake\nMODALIAS=hid:fake\n";
}

std::vector<std::uint8_t> FakeSysfs::Descriptor(int inputLength, int outputLength,
                                                std::uint8_t inputId, std::uint8_t outputId) {
    std::vector<std::uint8_t> d = {0x06, 0x00, 0xFF, 0x09, 0x01, 0xA1, 0x01,
                                   0x15, 0x00, 0x26, 0xFF, 0x00, 0x75, 0x08};
    auto add = [&](std::initializer_list<std::uint8_t> bytes) {
        for (std::uint8_t b : bytes) {
            d.push_back(b);
        }
    };
    auto count = [&](int n) {
        add({0x96, static_cast<std::uint8_t>(n & 0xFF), static_cast<std::uint8_t>(n >> 8)});
    };
    if (inputLength > 0) {
        if (inputId != 0) {
            add({0x85, inputId});
        }
        count(inputLength);
        add({0x09, 0x02, 0x81, 0x02});
    }
    if (outputLength > 0) {
        if (outputId != 0) {
            add({0x85, outputId});
        }
        count(outputLength);
        add({0x09, 0x03, 0x91, 0x02});
    }
    d.push_back(0xC0);
    return d;
}

}  // namespace talvo::test
