#include "programs/talvo-emulator/usb_gadget.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <sstream>
#include <thread>

namespace talvo {

namespace {

// How long the function's character device may take to appear once the
// gadget is bound to its controller.
constexpr auto kNodeWait = std::chrono::seconds(2);

bool Exists(const std::string& path) {
    struct stat st {};
    return ::lstat(path.c_str(), &st) == 0;
}

// Writes `bytes` to a configfs attribute in one write(); 0 or errno.
int WriteBytes(const std::string& path, const void* bytes, std::size_t size) {
    const int fd = ::open(path.c_str(), O_WRONLY | O_CLOEXEC | O_TRUNC);
    if (fd < 0) {
        return errno;
    }
    int error = 0;
    const ssize_t n = ::write(fd, bytes, size);
    if (n < 0) {
        error = errno;
    } else if (static_cast<std::size_t>(n) != size) {
        error = EIO;
    }
    if (::close(fd) != 0 && error == 0) {
        error = errno;
    }
    return error;
}

int WriteText(const std::string& path, const std::string& text) {
    return WriteBytes(path, text.data(), text.size());
}

std::string Hex16(std::uint16_t value) {
    char text[8];
    std::snprintf(text, sizeof text, "0x%04x", value);
    return text;
}

std::string ReadFirstLine(const std::string& path) {
    std::ifstream in(path);
    std::string line;
    std::getline(in, line);
    return line;
}

bool MountedAt(const std::string& type, const std::string& where) {
    std::ifstream mounts("/proc/mounts");
    std::string line;
    while (std::getline(mounts, line)) {
        std::istringstream fields(line);
        std::string device, point, fsType;
        fields >> device >> point >> fsType;
        if (fsType == type && point == where) {
            return true;
        }
    }
    return false;
}

std::string Listing(const std::string& dir) {
    std::string names;
    if (DIR* d = ::opendir(dir.c_str())) {
        while (const dirent* entry = ::readdir(d)) {
            if (entry->d_name[0] != '.') {
                names += (names.empty() ? "" : ", ") + std::string(entry->d_name);
            }
        }
        ::closedir(d);
    }
    return names.empty() ? "none" : names;
}

}  // namespace

ConfigfsGadget::ConfigfsGadget(std::string udc, Paths paths)
    : udc_(std::move(udc)), paths_(std::move(paths)) {}

ConfigfsGadget::~ConfigfsGadget() {
    if (prepared_) {
        Remove();
    }
}

std::string ConfigfsGadget::DefaultUdc(int unit) {
    return "dummy_udc." + std::to_string(unit - 1);
}

std::string ConfigfsGadget::Dir() const {
    return paths_.configfs + "/usb_gadget/talvo-" + udc_;
}

bool ConfigfsGadget::Prepare(std::string& error) {
    const std::string gadgets = paths_.configfs + "/usb_gadget";
    if (!Exists(gadgets)) {
        if (!Exists(paths_.configfs)) {
            error = "no " + paths_.configfs +
                    ": module configfs is not loaded (modprobe configfs; mount -t configfs none " +
                    paths_.configfs + ")";
        } else if (!MountedAt("configfs", paths_.configfs)) {
            error =
                "configfs is not mounted on /sys/kernel/config "
                "(mount -t configfs none /sys/kernel/config)";
        } else {
            error = "no usb_gadget in " + paths_.configfs +
                    ": module libcomposite is not loaded (modprobe libcomposite)";
        }
        return false;
    }
    if (!Exists(paths_.udcClass + "/" + udc_)) {
        error = "no USB device controller " + udc_ + " in " + paths_.udcClass +
                " (present: " + Listing(paths_.udcClass) +
                "; modprobe dummy_hcd num=N for a virtual one, or name one with --gadget=UDC)";
        return false;
    }
    const std::string dir = Dir();
    if (Exists(dir)) {
        prepared_ = true;  // a killed run's gadget: take it down first
        Remove();
    }
    auto make = [&](const std::string& path) {
        if (::mkdir(path.c_str(), 0755) == 0 || errno == EEXIST) {
            return true;
        }
        const int e = errno;
        if (e == EACCES || e == EPERM) {
            error = "cannot make " + path + ": " + std::strerror(e) + " (it needs root)";
        } else if (path.find("/functions/") != std::string::npos && e == ENOENT) {
            error = "no HID gadget function: module usb_f_hid is not loaded (modprobe usb_f_hid)";
        } else {
            error = "cannot make " + path + ": " + std::strerror(e);
        }
        return false;
    };
    auto set = [&](const std::string& name, const std::string& value) {
        const int e = WriteText(dir + "/" + name, value);
        if (e != 0) {
            error = "cannot write " + dir + "/" + name + ": " + std::strerror(e);
        }
        return e == 0;
    };
    prepared_ = true;
    return make(dir) && set("bcdUSB", "0x0200") && make(dir + "/strings/0x409") &&
           set("strings/0x409/manufacturer", "talvo-emulator") &&
           set("strings/0x409/serialnumber", udc_) && make(dir + "/configs/c.1") &&
           set("configs/c.1/MaxPower", "100") && make(dir + "/configs/c.1/strings/0x409") &&
           set("configs/c.1/strings/0x409/configuration", "TALVO") &&
           make(dir + "/functions/hid.usb0") && set("functions/hid.usb0/protocol", "0") &&
           set("functions/hid.usb0/subclass", "0");
}

int ConfigfsGadget::Connect(const GadgetIdentity& identity, std::string& error) {
    const std::string dir = Dir();
    const std::string function = dir + "/functions/hid.usb0";
    auto set = [&](const std::string& path, const void* bytes, std::size_t size) {
        const int e = WriteBytes(path, bytes, size);
        if (e != 0) {
            error = "cannot write " + path + ": " + std::strerror(e);
        }
        return e == 0;
    };
    auto setText = [&](const std::string& path, const std::string& text) {
        return set(path, text.data(), text.size());
    };
    if (!setText(dir + "/idVendor", Hex16(identity.vendorId)) ||
        !setText(dir + "/idProduct", Hex16(identity.productId)) ||
        !setText(dir + "/bcdDevice", Hex16(identity.deviceVersion)) ||
        !setText(dir + "/strings/0x409/product", identity.product) ||
        !setText(function + "/report_length", std::to_string(identity.reportLength)) ||
        !set(function + "/report_desc", identity.reportDescriptor.data(),
             identity.reportDescriptor.size())) {
        return -1;
    }
    const std::string link = dir + "/configs/c.1/hid.usb0";
    if (::symlink(function.c_str(), link.c_str()) != 0 && errno != EEXIST) {
        error = "cannot link the HID function into the configuration: " +
                std::string(std::strerror(errno));
        return -1;
    }
    linked_ = true;
    const int e = WriteText(dir + "/UDC", udc_);
    if (e != 0) {
        error = "cannot bind the gadget to " + udc_ + ": " + std::strerror(e) +
                (e == EBUSY ? " (another gadget holds it)" : "");
        return -1;
    }
    connected_ = true;
    // The function's character device: its number in the function's
    // `dev`, its name in the kernel's uevent for that number.
    const std::string number = ReadFirstLine(function + "/dev");
    const auto deadline = std::chrono::steady_clock::now() + kNodeWait;
    for (;;) {
        std::string name;
        std::ifstream uevent("/sys/dev/char/" + number + "/uevent");
        std::string line;
        while (std::getline(uevent, line)) {
            if (line.rfind("DEVNAME=", 0) == 0) {
                name = line.substr(8);
            }
        }
        if (!name.empty()) {
            const std::string node = paths_.dev + "/" + name;
            const int fd = ::open(node.c_str(), O_RDWR | O_NONBLOCK | O_CLOEXEC);
            if (fd >= 0) {
                return fd;
            }
            if (errno != ENOENT || std::chrono::steady_clock::now() > deadline) {
                error = "cannot open " + node + ": " + std::strerror(errno);
                return -1;
            }
        } else if (std::chrono::steady_clock::now() > deadline) {
            error = "the HID function's character device (" + number + ") did not appear";
            return -1;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
}

void ConfigfsGadget::Disconnect() {
    const std::string dir = Dir();
    if (connected_) {
        WriteText(dir + "/UDC", "\n");
        connected_ = false;
    }
    if (linked_) {
        ::unlink((dir + "/configs/c.1/hid.usb0").c_str());
        linked_ = false;
    }
}

void ConfigfsGadget::Remove() {
    const std::string dir = Dir();
    connected_ = linked_ = true;  // whatever state it is in
    Disconnect();
    for (const char* sub : {"/configs/c.1/strings/0x409", "/configs/c.1", "/functions/hid.usb0",
                            "/strings/0x409", ""}) {
        ::rmdir((dir + sub).c_str());
    }
    prepared_ = false;
}

}  // namespace talvo
