// CHidDevice: finds, opens, reads, writes and closes one HID interface.
//
// The matching rules and report semantics are portable; the platform work
// (enumeration, open, capability query, overlapped transfers) sits behind
// IHidPlatform, with one implementation per platform plus the in-process
// emulated bus. Every failure is reported as 0 / null, never thrown.
#pragma once

#include <atomic>
#include <cstdint>
#include <string>

namespace talvo {

class IHidPlatform;
class IHidInterfaceHandle;
struct HidDeviceRecord;
struct HidInterfaceInfo;

class CHidDevice {
  public:
    // Uses the process's HID platform (HidPlatform::Current()).
    CHidDevice();
    explicit CHidDevice(IHidPlatform& platform);
    ~CHidDevice();
    CHidDevice(const CHidDevice&) = delete;
    CHidDevice& operator=(const CHidDevice&) = delete;

    // Lengths are report data lengths without the report ID byte; above 256
    // is refused without searching. Vendor and product 0 match any interface
    // that opens and answers. Returns the record, or null.
    HidDeviceRecord* Open(int vendorId, int productId, int inputLength, int outputLength,
                          int occurrence);
    // As above, among the interfaces at `location` only (empty: anywhere).
    HidDeviceRecord* Open(int vendorId, int productId, int inputLength, int outputLength,
                          int occurrence, const std::string& location);
    void Close();

    // Whether the next Open is for a conversation: then it also takes the
    // unit's lock (and fails with kInUse while another updater holds it).
    // A probe that only looks leaves it off.
    void SetConversation(bool converse) { converse_ = converse; }

    // Why the last Open returned null.
    enum class OpenFailure {
        kNone,    // it did not fail
        kAbsent,  // no matching interface (or it could not be opened)
        kInUse,   // the matching interface is held by another updater
    };
    OpenFailure LastFailure() const { return lastFailure_; }
    // The open interface's location (empty when closed or unknown).
    std::string Location() const;

    // A search that met a changing or incomplete interface list is run
    // again, up to this many times in all, before it counts as absent.
    static constexpr int kOpenAttempts = 3;

    // One input report: the L-1 data bytes (report ID dropped). timeoutMs -1 = no limit.
    int ReadReport(std::uint8_t* buffer, int timeoutMs);
    // One output report: L-1 data bytes; byte 0 on the wire is the first output report ID.
    int WriteReport(const std::uint8_t* data, int timeoutMs);
    // Marks the device not open and wakes a ReadReport waiting without limit.
    void AbortRead();

    bool isOpenFlag() const { return isOpen.load() != 0; }
    // Report byte lengths of the open interface including the ID byte (0 when closed).
    int InputReportByteLength() const;
    int OutputReportByteLength() const;

    std::atomic<std::int32_t> isOpen{0};

  private:
    // Implementation-defined; see hid_device.cpp.
    enum class Search { kFound, kAbsent, kUnsure, kInUse };
    bool Matches(const HidInterfaceInfo& info) const;
    Search FindInterface(int& index);
    Search OpenInterface(HidDeviceRecord*& record);

    IHidPlatform* platform_;
    HidDeviceRecord* record_ = nullptr;
    int vendorId_ = 0, productId_ = 0, inputLength_ = 0, outputLength_ = 0, occurrence_ = 0;
    std::string location_;
    OpenFailure lastFailure_ = OpenFailure::kNone;
    bool converse_ = false;
};

}  // namespace talvo
