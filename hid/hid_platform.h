// The platform interface under CHidDevice, and the process's choice of it.
//
// CONTRACT NOTE: the HID subsystem owns the methods of IHidPlatform; users
// outside hid/ hand a platform to what opens devices (CHidDevice, and above
// it the watcher and the connection), or, in tests, replace the process's
// default for a scope with ScopedHidPlatform.
//
// A platform lists the present HID interfaces in its enumeration order and
// opens one of them for shared reading and writing, answering its identity
// and report byte lengths. The matching rules, the report ID byte and the
// open/abort state live above it, in CHidDevice.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace talvo {

// What the capability query of one interface answers.
struct HidInterfaceInfo {
    std::uint16_t vendorId = 0;
    std::uint16_t productId = 0;
    std::uint16_t versionNumber = 0;
    // Byte lengths including the report ID byte; 0 = no reports of that kind.
    std::uint16_t inputReportByteLength = 0;
    std::uint16_t outputReportByteLength = 0;
    std::uint16_t featureReportByteLength = 0;
    std::uint8_t outputReportId = 0;  // report ID of the first output data item
    // Where the physical unit is plugged in, the same in both of its modes
    // (a USB port path such as "1-4.2"); empty when the platform cannot tell.
    std::string location;
};

// One open interface. Reports are whole reports of the interface's byte
// length, report ID byte first (0 for a device without numbered reports).
class IHidInterfaceHandle {
  public:
    virtual ~IHidInterfaceHandle() = default;
    virtual const HidInterfaceInfo& Info() const = 0;
    // Reads one input report (Info().inputReportByteLength bytes). timeoutMs
    // -1 waits without limit. A read that runs out of time consumes nothing:
    // the next Read carries on with the same transfer, so no report is lost.
    virtual bool Read(std::uint8_t* report, int timeoutMs) = 0;
    // Writes one output report (Info().outputReportByteLength bytes).
    virtual bool Write(const std::uint8_t* report, int timeoutMs) = 0;
    // Wakes a Read that waits and makes every later Read fail at once.
    // May be called from any thread while another one reads.
    virtual void AbortRead() = 0;
};

enum class HidSlot {
    kOpened,   // the interface is open and answered its query
    kSkipped,  // it could not be opened or queried: go on with the next index
    kEnd,      // past the last interface
    kFailed,   // the enumeration itself failed: stop searching
    // This interface could not be looked at for a reason that may pass (its
    // path query failed): go on with the next index, but the snapshot is
    // incomplete, so finding nothing in it is not proof of absence.
    kIncomplete,
    // Another updater converses with this interface (it holds the unit's
    // lock): not opened for keeping.
    kInUse,
};

enum class HidOpenPurpose {
    kProbe,     // open and query only (the search pass)
    kKeep,      // also build everything reading and writing need (a probe that
                // opens what it found, then lets go)
    kConverse,  // kept for a conversation: also take the unit's lock, so no
                // other updater of ours converses with it meanwhile
};

// A snapshot of the interfaces present when it was taken.
class IHidInterfaceList {
  public:
    virtual ~IHidInterfaceList() = default;
    virtual HidSlot Open(std::size_t index, HidOpenPurpose purpose,
                         std::unique_ptr<IHidInterfaceHandle>& handle) = 0;
    // The vendor and product ID of the interface at `index` when they can be
    // known without opening it (from its path or its system record); false
    // when only an open can tell. A search for one identity opens only the
    // interfaces that may carry it.
    virtual bool PeekIds(std::size_t /*index*/, std::uint16_t& /*vendorId*/,
                         std::uint16_t& /*productId*/) {
        return false;
    }
};

// An interface that is present but that this process may not open.
struct HidDeniedInterface {
    std::string path;
    std::uint16_t vendorId = 0;
    std::uint16_t productId = 0;
    std::string location;  // as HidInterfaceInfo::location
};

class IHidPlatform {
  public:
    virtual ~IHidPlatform() = default;
    // The present interfaces in enumeration order; null when listing fails.
    virtual std::unique_ptr<IHidInterfaceList> ListInterfaces() = 0;
    // The present interfaces of this vendor that refuse this process for
    // want of permission (ListInterfaces can only skip them); other
    // vendors' devices are left alone. Only a platform with per-node
    // permissions has any.
    virtual std::vector<HidDeniedInterface> DeniedInterfaces(std::uint16_t /*vendorId*/) {
        return {};
    }
};

// The open interface held by a CHidDevice.
struct HidDeviceRecord {
    std::unique_ptr<IHidInterfaceHandle> handle;
    HidInterfaceInfo info;
    std::vector<std::uint8_t> inputReport;   // inputReportByteLength bytes
    std::vector<std::uint8_t> outputReport;  // outputReportByteLength bytes
};

namespace HidPlatform {
// The native platform of this build (Win32 HID stack or hidraw).
IHidPlatform& Native();
// The platform that a CHidDevice given none uses; Native() unless replaced.
IHidPlatform& Current();
// Installs `platform` (null restores Native()); returns the one it replaced.
IHidPlatform* SetCurrent(IHidPlatform* platform);
}  // namespace HidPlatform

// Replaces the default platform for one scope and puts back the one it
// replaced (tests; the programs hand their platform to what uses it).
class ScopedHidPlatform {
  public:
    explicit ScopedHidPlatform(IHidPlatform& platform)
        : previous_(HidPlatform::SetCurrent(&platform)) {}
    ~ScopedHidPlatform() { HidPlatform::SetCurrent(previous_); }
    ScopedHidPlatform(const ScopedHidPlatform&) = delete;
    ScopedHidPlatform& operator=(const ScopedHidPlatform&) = delete;

  private:
    IHidPlatform* previous_;
};

}  // namespace talvo
