// A fake sysfs tree of hidraw devices whose device nodes are the host ends
// of SOCK_SEQPACKET socket pairs (one message per report, like hidraw);
// the test holds the device ends.
#pragma once

#include <cstdint>
#include <map>
#include <mutex>
#include <string>
#include <vector>

#include "hid/hidraw_platform.h"

namespace talvo::test {

class FakeSysfs {
  public:
    FakeSysfs();
    ~FakeSysfs();
    FakeSysfs(const FakeSysfs&) = delete;
    FakeSysfs& operator=(const FakeSysfs&) = delete;

    // Adds <root>/class/hidraw/hidraw<number>/device/{uevent,report_descriptor}
    // (either left out when empty) and its node; returns the number.
    int Add(int number, const std::string& uevent, const std::vector<std::uint8_t>& descriptor);
    void SetOpenFails(int number, bool fails);  // EBUSY
    void SetOpenError(int number, int error);   // 0: opens again
    void Remove(int number);  // the device goes: its end closes, its entry vanishes

    bool Send(int number, const std::vector<std::uint8_t>& message);
    bool Receive(int number, std::vector<std::uint8_t>& message, int timeoutMs);

    HidrawPlatform& Platform() { return platform_; }
    const std::string& Root() const { return root_; }
    std::vector<int> OpenFlagsSeen();

    static std::string Uevent(std::uint16_t vendor, std::uint16_t product);
    // Vendor-page descriptor with the given data lengths (0 = no reports of
    // that kind) and report IDs (0 = unnumbered).
    static std::vector<std::uint8_t> Descriptor(int inputLength, int outputLength,
                                                std::uint8_t inputId, std::uint8_t outputId);

  private:
    struct Node {
        int hostFd = -1;
        int deviceFd = -1;
        int openError = 0;
    };
    int OpenNode(const std::string& path, int flags);

    std::string root_;
    std::mutex mutex_;
    std::map<std::string, Node> nodes_;  // by node path
    std::vector<int> flagsSeen_;
    HidrawPlatform platform_;
};

}  // namespace talvo::test
