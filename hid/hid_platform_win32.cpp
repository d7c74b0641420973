#include <algorithm>
#include <atomic>
#include <cstddef>
#include <cstring>
#include <new>
#include <optional>
#include <string>
#include <vector>

#include "hid/hid_api_win32.h"
#include "hid/hid_time.h"

// After windows.h; initguid.h makes this file define the property keys.
// clang-format off
#include <initguid.h>
#include <devpkey.h>
// clang-format on

namespace talvo {

const Win32HidApi& SystemWin32HidApi() {
    static const Win32HidApi api = {
        ::HidD_GetHidGuid,
        ::SetupDiGetClassDevsW,
        ::SetupDiEnumDeviceInterfaces,
        ::SetupDiGetDeviceInterfaceDetailW,
        ::SetupDiDestroyDeviceInfoList,
        ::CreateFileW,
        ::CloseHandle,
        ::HidD_GetPreparsedData,
        ::HidD_FreePreparsedData,
        ::HidD_GetAttributes,
        ::HidP_GetCaps,
        ::HidP_GetButtonCaps,
        ::HidP_GetValueCaps,
        ::HidP_MaxUsageListLength,
        ::CreateEventW,
        ::SetEvent,
        ::ResetEvent,
        ::ReadFile,
        ::WriteFile,
        ::GetOverlappedResult,
        ::GetLastError,
        ::CancelIo,
        ::CancelIoEx,
        ::Sleep,
        ::CM_Get_Parent,
        ::CM_Get_DevNode_PropertyW,
        ::CM_Get_Device_IDW,
    };
    return api;
}

namespace {

// How long a cancelled transfer is given to complete before the driver is
// left holding it (clock milliseconds).
constexpr std::int32_t kCancelBoundMs = 1000;

std::atomic<std::size_t> g_abandonedTransfers{0};

std::string Narrow(const std::wstring& text) {
    std::string narrow;
    for (wchar_t c : text) {
        narrow += (c > 0 && c < 0x80) ? static_cast<char>(c) : '?';
    }
    return narrow;
}

// The vendor and product ID a HID interface path names ("...VID_1209&PID_7A10..."),
// in either case; false when it names none.
bool IdsInPath(const std::wstring& path, std::uint16_t& vendor, std::uint16_t& product) {
    std::wstring upper;
    for (wchar_t c : path) {
        upper += (c >= L'a' && c <= L'z') ? static_cast<wchar_t>(c - L'a' + L'A') : c;
    }
    const auto hexAfter = [&](const wchar_t* key, std::uint16_t& value) {
        const std::size_t at = upper.find(key);
        if (at == std::wstring::npos || at + 8 > upper.size()) {
            return false;
        }
        unsigned v = 0;
        for (std::size_t i = at + 4; i < at + 8; ++i) {
            const wchar_t c = upper[i];
            const int digit = (c >= L'0' && c <= L'9')   ? c - L'0'
                              : (c >= L'A' && c <= L'F') ? c - L'A' + 10
                                                         : -1;
            if (digit < 0) {
                return false;
            }
            v = v * 16 + static_cast<unsigned>(digit);
        }
        value = static_cast<std::uint16_t>(v);
        return true;
    };
    return hexAfter(L"VID_", vendor) && hexAfter(L"PID_", product);
}

// Where the unit of the HID interface on device node `node` sits, the same
// in both of its modes: the first location path of its parent (the USB
// device, or the USB interface of a composite one, whose "#USBMI(n)" is
// dropped), else the parent's location information, else the port part of
// a USB parent's instance ID. Empty when none is known:
// then any unit is taken, as with a single one.
std::string UnitLocation(const Win32HidApi& api, DEVINST node) {
    DEVINST parent = 0;
    if (node == 0 || api.GetParent(&parent, node, 0) != CR_SUCCESS) {
        return std::string();
    }
    std::vector<BYTE> buffer(2048);
    const auto property = [&](const DEVPROPKEY& key, DEVPROPTYPE wanted) -> std::wstring {
        DEVPROPTYPE type = 0;
        ULONG size = static_cast<ULONG>(buffer.size());
        std::fill(buffer.begin(), buffer.end(), 0);
        if (api.GetDevNodeProperty(parent, &key, &type, buffer.data(), &size, 0) != CR_SUCCESS ||
            type != wanted || size < sizeof(WCHAR)) {
            return std::wstring();
        }
        // The first string (of a list, or the only one), within what was given.
        const auto* chars = reinterpret_cast<const WCHAR*>(buffer.data());
        const std::size_t count = std::min<std::size_t>(size, buffer.size()) / sizeof(WCHAR);
        std::size_t length = 0;
        while (length < count && chars[length] != L'\0') {
            ++length;
        }
        return std::wstring(chars, length);
    };
    std::wstring location = property(DEVPKEY_Device_LocationPaths, DEVPROP_TYPE_STRING_LIST);
    if (!location.empty()) {
        const std::size_t mi = location.rfind(L"#USBMI(");
        if (mi != std::wstring::npos) {
            location.erase(mi);
        }
        return Narrow(location);
    }
    location = property(DEVPKEY_Device_LocationInfo, DEVPROP_TYPE_STRING);
    if (!location.empty()) {
        return Narrow(location);
    }
    WCHAR id[MAX_DEVICE_ID_LEN + 1] = {};
    if (api.GetDeviceId(parent, id, MAX_DEVICE_ID_LEN, 0) != CR_SUCCESS) {
        return std::string();
    }
    // USB\VID_xxxx&PID_yyyy\<instance>: the product ID changes with the
    // mode, the instance (serial number, or hub prefix and port) does not.
    const std::wstring instance(id);
    const std::size_t last = instance.rfind(L'\\');
    if (instance.rfind(L"USB\\", 0) != 0 || last == std::wstring::npos ||
        last + 1 == instance.size()) {
        return std::string();
    }
    return "USB instance " + Narrow(instance.substr(last + 1));
}

// The block and buffer of one direction's transfers. They live apart from
// the handle so that a transfer the driver never gives back can keep them.
struct Transfer {
    OVERLAPPED block{};
    std::vector<std::uint8_t> buffer;
};

// One entry of the per-kind tables built from the capabilities.
struct HidDataItem {
    std::uint8_t isButtonData = 0;
    USAGE usagePage = 0;
    ULONG status = 0;
    ULONG reportId = 0;
    // Button items.
    LONG usageMin = 0;
    LONG usageMax = 0;
    ULONG usageListLength = 0;
    std::vector<USAGE> usageList;
    // Value items.
    USAGE usage = 0;
};

struct HidReportTables {
    std::vector<HIDP_BUTTON_CAPS> buttonCaps;
    std::vector<HIDP_VALUE_CAPS> valueCaps;
    std::vector<HidDataItem> dataItems;
};

constexpr HIDP_REPORT_TYPE kReportTypes[3] = {HidP_Input, HidP_Output, HidP_Feature};

// Builds the button and value capability tables and the data items of one
// report kind. Value usages are counted without a 16-bit limit, and a range
// whose highest usage is below its lowest fails the step, so the item
// array always has room for every item written.
bool LoadKind(const Win32HidApi& api, PHIDP_PREPARSED_DATA preparsed, HIDP_REPORT_TYPE type,
              USHORT buttonCount, USHORT valueCount, HidReportTables& tables) {
    try {
        tables.buttonCaps.assign(buttonCount, HIDP_BUTTON_CAPS{});
        tables.valueCaps.assign(valueCount, HIDP_VALUE_CAPS{});
        USHORT buttons = buttonCount, values = valueCount;
        if (buttonCount != 0) {
            api.GetButtonCaps(type, tables.buttonCaps.data(), &buttons, preparsed);
        }
        if (valueCount != 0) {
            api.GetValueCaps(type, tables.valueCaps.data(), &values, preparsed);
        }
        std::size_t valueUsages = 0;
        for (const HIDP_VALUE_CAPS& caps : tables.valueCaps) {
            if (caps.IsRange) {
                if (caps.Range.UsageMax < caps.Range.UsageMin) {
                    return false;
                }
                valueUsages +=
                    static_cast<std::size_t>(caps.Range.UsageMax - caps.Range.UsageMin) + 1;
            } else {
                valueUsages += 1;
            }
        }
        tables.dataItems.clear();
        tables.dataItems.reserve(tables.buttonCaps.size() + valueUsages);
        for (const HIDP_BUTTON_CAPS& caps : tables.buttonCaps) {
            HidDataItem item;
            item.isButtonData = 1;
            item.usagePage = caps.UsagePage;
            item.status = HIDP_STATUS_SUCCESS;
            item.reportId = caps.ReportID;
            item.usageMin = caps.IsRange ? caps.Range.UsageMin : caps.NotRange.Usage;
            item.usageMax = caps.IsRange ? caps.Range.UsageMax : caps.NotRange.Usage;
            item.usageListLength = api.MaxUsageListLength(type, caps.UsagePage, preparsed);
            item.usageList.assign(item.usageListLength, 0);
            tables.dataItems.push_back(std::move(item));
        }
        for (const HIDP_VALUE_CAPS& caps : tables.valueCaps) {
            const unsigned first = caps.IsRange ? caps.Range.UsageMin : caps.NotRange.Usage;
            const unsigned last = caps.IsRange ? caps.Range.UsageMax : caps.NotRange.Usage;
            for (unsigned usage = first; usage <= last; ++usage) {
                HidDataItem item;
                item.usagePage = caps.UsagePage;
                item.status = HIDP_STATUS_SUCCESS;
                item.reportId = caps.ReportID;
                item.usage = static_cast<USAGE>(usage);
                tables.dataItems.push_back(std::move(item));
            }
        }
        return true;
    } catch (const std::bad_alloc&) {
        return false;
    }
}

// An interface that was opened only to be queried: its handle is already
// closed, only the answers are kept.
class QueriedInterface final : public IHidInterfaceHandle {
  public:
    explicit QueriedInterface(const HidInterfaceInfo& info) : info_(info) {}
    const HidInterfaceInfo& Info() const override { return info_; }
    bool Read(std::uint8_t*, int) override { return false; }
    bool Write(const std::uint8_t*, int) override { return false; }
    void AbortRead() override {}

  private:
    HidInterfaceInfo info_;
};

class Win32HidHandle final : public IHidInterfaceHandle {
  public:
    Win32HidHandle(const Win32HidApi& api, HANDLE file, PHIDP_PREPARSED_DATA preparsed)
        : api_(api), file_(file), preparsed_(preparsed) {}

    ~Win32HidHandle() override {
        // A read may still be pending (after AbortRead, or a timed-out read):
        // it must be finished before its block and buffer are freed.
        if (readPending_) {
            api_.ResetEvent(readEvent_);
            api_.CancelIoEx(file_, &read_->block);
            AwaitCompletion(read_);
        }
        if (file_ != INVALID_HANDLE_VALUE) {
            api_.CloseHandle(file_);
        }
        if (preparsed_ != nullptr) {
            api_.FreePreparsedData(preparsed_);
        }
        if (readEvent_ != nullptr) {
            api_.CloseHandle(readEvent_);
        }
        if (writeEvent_ != nullptr) {
            api_.CloseHandle(writeEvent_);
        }
    }
    Win32HidHandle(const Win32HidHandle&) = delete;
    Win32HidHandle& operator=(const Win32HidHandle&) = delete;

    // Attributes, capabilities, the capability tables and the I/O events.
    bool Load() {
        HIDD_ATTRIBUTES attributes{};
        attributes.Size = sizeof attributes;
        if (!api_.GetAttributes(file_, &attributes)) {
            return false;
        }
        HIDP_CAPS caps{};
        if (api_.GetCaps(preparsed_, &caps) != HIDP_STATUS_SUCCESS) {
            return false;
        }
        const USHORT buttons[3] = {caps.NumberInputButtonCaps, caps.NumberOutputButtonCaps,
                                   caps.NumberFeatureButtonCaps};
        const USHORT values[3] = {caps.NumberInputValueCaps, caps.NumberOutputValueCaps,
                                  caps.NumberFeatureValueCaps};
        for (int kind = 0; kind < 3; ++kind) {
            if (!LoadKind(api_, preparsed_, kReportTypes[kind], buttons[kind], values[kind],
                          tables_[kind])) {
                return false;
            }
        }
        info_ = InfoFrom(attributes, caps);
        // The ID of the first output data item: the first button item's,
        // or when there is none the first value item's.
        const std::vector<HidDataItem>& outputs = tables_[1].dataItems;
        info_.outputReportId =
            outputs.empty() ? 0 : static_cast<std::uint8_t>(outputs.front().reportId & 0xFF);
        try {
            read_->buffer.assign(info_.inputReportByteLength, 0);
            write_->buffer.assign(info_.outputReportByteLength, 0);
        } catch (const std::bad_alloc&) {
            return false;
        }
        // Without its event a read could not be woken by AbortRead, so an
        // open without both events fails.
        readEvent_ = api_.CreateEventW(nullptr, TRUE, FALSE, nullptr);
        writeEvent_ = api_.CreateEventW(nullptr, TRUE, FALSE, nullptr);
        if (readEvent_ == nullptr || writeEvent_ == nullptr) {
            return false;
        }
        read_->block.hEvent = readEvent_;
        write_->block.hEvent = writeEvent_;
        return true;
    }

    static HidInterfaceInfo InfoFrom(const HIDD_ATTRIBUTES& attributes, const HIDP_CAPS& caps) {
        HidInterfaceInfo info;
        info.vendorId = attributes.VendorID;
        info.productId = attributes.ProductID;
        info.versionNumber = attributes.VersionNumber;
        info.inputReportByteLength = caps.InputReportByteLength;
        info.outputReportByteLength = caps.OutputReportByteLength;
        info.featureReportByteLength = caps.FeatureReportByteLength;
        return info;
    }

    const HidInterfaceInfo& Info() const override { return info_; }
    void SetLocation(std::string location) { info_.location = std::move(location); }

    bool Read(std::uint8_t* report, int timeoutMs) override {
        const DWORD length = info_.inputReportByteLength;
        if (length == 0 || aborted_.load() || unusable_.load()) {
            return false;
        }
        OVERLAPPED& block = read_->block;
        std::vector<std::uint8_t>& buffer = read_->buffer;
        if (!readPending_) {
            // A read that timed out earlier is carried on instead of
            // starting a second one on the same block.
            std::memset(buffer.data(), 0, length);
            block.Offset = 0;
            block.OffsetHigh = 0;
            DWORD transferred = 0;
            if (api_.ReadFile(file_, buffer.data(), length, &transferred, &block)) {
                std::memcpy(report, buffer.data(), length);
                return true;
            }
            if (api_.GetLastError() != ERROR_IO_PENDING) {
                api_.ResetEvent(readEvent_);
                return false;
            }
            readPending_ = true;
        }
        // AbortRead may have signalled the event before ReadFile reset it.
        if (aborted_.load()) {
            return false;
        }
        DWORD transferred = 0;
        if (timeoutMs == -1) {
            BOOL done = api_.GetOverlappedResult(file_, &block, &transferred, TRUE);
            if (!HasOverlappedIoCompleted(&block)) {
                return false;  // woken by AbortRead: the read stays pending
            }
            readPending_ = false;
            if (!done) {
                return false;
            }
            std::memcpy(report, buffer.data(), length);
            return true;
        }
        const std::uint32_t start = hid_time::TickCount();
        std::int32_t elapsed = 0;
        while (elapsed < timeoutMs) {
            BOOL done = api_.GetOverlappedResult(file_, &block, &transferred, FALSE);
            const DWORD error = done ? ERROR_SUCCESS : api_.GetLastError();
            api_.Sleep(0);
            if (done) {
                readPending_ = false;
                std::memcpy(report, buffer.data(), length);
                return true;
            }
            if (error != ERROR_IO_INCOMPLETE) {
                readPending_ = false;  // failed while pending: it is over
                break;
            }
            if (aborted_.load()) {
                break;
            }
            elapsed = static_cast<std::int32_t>(hid_time::TickCount() - start);
        }
        api_.ResetEvent(readEvent_);
        return false;
    }

    bool Write(const std::uint8_t* report, int timeoutMs) override {
        const DWORD length = info_.outputReportByteLength;
        if (length == 0 || unusable_.load()) {
            return false;
        }
        OVERLAPPED& block = write_->block;
        std::memcpy(write_->buffer.data(), report, length);
        block.Offset = 0;
        block.OffsetHigh = 0;
        DWORD transferred = 0;
        if (api_.WriteFile(file_, write_->buffer.data(), length, &transferred, &block)) {
            return true;
        }
        if (api_.GetLastError() != ERROR_IO_PENDING) {
            api_.ResetEvent(writeEvent_);
            return false;
        }
        if (timeoutMs == -1) {
            return api_.GetOverlappedResult(file_, &block, &transferred, TRUE) != FALSE;
        }
        const std::uint32_t start = hid_time::TickCount();
        std::int32_t elapsed = 0;
        for (;;) {
            if (elapsed >= timeoutMs) {
                // Out of time: cancel, and wait until the cancellation has
                // completed, so the block is never reused while the platform
                // still owns it. A write that completed in the meantime
                // did reach the device and counts as done.
                api_.CancelIo(file_);
                const bool done = AwaitCompletion(write_);
                api_.ResetEvent(writeEvent_);
                return done;
            }
            BOOL done = api_.GetOverlappedResult(file_, &block, &transferred, FALSE);
            if (done) {
                return true;
            }
            if (api_.GetLastError() != ERROR_IO_INCOMPLETE) {
                api_.ResetEvent(writeEvent_);
                return false;
            }
            elapsed = static_cast<std::int32_t>(hid_time::TickCount() - start);
        }
    }

    void AbortRead() override {
        aborted_.store(true);
        if (readEvent_ != nullptr) {
            api_.SetEvent(readEvent_);
        }
    }

  private:
    // Waits, after a cancel, until the transfer is no longer pending; true
    // when it completed successfully. A driver that does not give it back
    // within kCancelBoundMs keeps the block and buffer for good (counted in
    // Win32AbandonedTransfers): the call fails and the handle is unusable,
    // so neither is ever touched or freed while the driver may still write.
    bool AwaitCompletion(std::unique_ptr<Transfer>& transfer) {
        OVERLAPPED& block = transfer->block;
        DWORD transferred = 0;
        const std::uint32_t start = hid_time::TickCount();
        for (;;) {
            // The event may be signalled while the transfer is still pending
            // (AbortRead), so completion is judged by the block alone.
            const BOOL done = api_.GetOverlappedResult(file_, &block, &transferred, FALSE);
            if (HasOverlappedIoCompleted(&block)) {
                return done != FALSE;
            }
            if (static_cast<std::int32_t>(hid_time::TickCount() - start) >= kCancelBoundMs) {
                break;
            }
            api_.Sleep(1);
        }
        transfer.release();  // deliberately left to the driver
        g_abandonedTransfers.fetch_add(1);
        unusable_.store(true);
        return false;
    }

    const Win32HidApi& api_;
    HANDLE file_;
    PHIDP_PREPARSED_DATA preparsed_;
    HidReportTables tables_[3];
    HidInterfaceInfo info_;
    std::unique_ptr<Transfer> read_ = std::make_unique<Transfer>();
    std::unique_ptr<Transfer> write_ = std::make_unique<Transfer>();
    HANDLE readEvent_ = nullptr;
    HANDLE writeEvent_ = nullptr;
    bool readPending_ = false;  // touched by the reading thread and Close only
    std::atomic<bool> aborted_{false};
    std::atomic<bool> unusable_{false};  // a transfer was left to the driver
};

class Win32List final : public IHidInterfaceList {
  public:
    Win32List(const Win32HidApi& api, HDEVINFO set, const GUID& guid)
        : api_(api), set_(set), guid_(guid) {}
    ~Win32List() override { api_.DestroyDeviceInfoList(set_); }
    Win32List(const Win32List&) = delete;
    Win32List& operator=(const Win32List&) = delete;

    HidSlot Open(std::size_t index, HidOpenPurpose purpose,
                 std::unique_ptr<IHidInterfaceHandle>& handle) override {
        const Entry& entry = At(index);
        if (entry.slot != HidSlot::kOpened) {
            return entry.slot;
        }
        const std::wstring& path = entry.path;
        HANDLE file = api_.CreateFileW(path.c_str(), GENERIC_READ | GENERIC_WRITE,
                                       FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                                       FILE_FLAG_OVERLAPPED, nullptr);
        if (file == INVALID_HANDLE_VALUE) {
            return HidSlot::kSkipped;
        }
        PHIDP_PREPARSED_DATA preparsed = nullptr;
        if (!api_.GetPreparsedData(file, &preparsed)) {
            api_.CloseHandle(file);
            return HidSlot::kSkipped;
        }
        if (purpose != HidOpenPurpose::kProbe) {
            auto kept = std::make_unique<Win32HidHandle>(api_, file, preparsed);
            if (!kept->Load()) {
                return HidSlot::kSkipped;  // the handle's destructor releases it all
            }
            kept->SetLocation(UnitLocation(api_, entry.node));
            handle = std::move(kept);
            return HidSlot::kOpened;
        }
        HIDD_ATTRIBUTES attributes{};
        attributes.Size = sizeof attributes;
        HIDP_CAPS caps{};
        bool answered = api_.GetAttributes(file, &attributes) &&
                        api_.GetCaps(preparsed, &caps) == HIDP_STATUS_SUCCESS;
        api_.FreePreparsedData(preparsed);
        api_.CloseHandle(file);
        if (!answered) {
            return HidSlot::kSkipped;
        }
        HidInterfaceInfo info = Win32HidHandle::InfoFrom(attributes, caps);
        info.location = UnitLocation(api_, entry.node);
        handle = std::make_unique<QueriedInterface>(info);
        return HidSlot::kOpened;
    }

    bool PeekIds(std::size_t index, std::uint16_t& vendorId, std::uint16_t& productId) override {
        const Entry& entry = At(index);
        return entry.slot == HidSlot::kOpened && IdsInPath(entry.path, vendorId, productId);
    }

  private:
    // What one index of the snapshot is: its path and device node, asked
    // once per snapshot. kEnd past the last, kFailed when the enumeration
    // failed, kIncomplete when only this interface's path could not be had.
    struct Entry {
        HidSlot slot = HidSlot::kFailed;
        std::wstring path;
        DEVINST node = 0;
    };

    const Entry& At(std::size_t index) {
        if (index < entries_.size() && entries_[index]) {
            return *entries_[index];
        }
        if (index >= entries_.size()) {
            entries_.resize(index + 1);
        }
        Entry entry;
        SP_DEVICE_INTERFACE_DATA interfaceData{};
        interfaceData.cbSize = sizeof interfaceData;
        if (!api_.EnumDeviceInterfaces(set_, nullptr, &guid_, static_cast<DWORD>(index),
                                       &interfaceData)) {
            entry.slot =
                api_.GetLastError() == ERROR_NO_MORE_ITEMS ? HidSlot::kEnd : HidSlot::kFailed;
        } else if (DevicePath(interfaceData, entry.path, entry.node)) {
            entry.slot = HidSlot::kOpened;
        } else {
            entry.slot = HidSlot::kIncomplete;  // the others may still be looked at
        }
        entries_[index] = std::move(entry);
        return *entries_[index];
    }

    bool DevicePath(SP_DEVICE_INTERFACE_DATA& interfaceData, std::wstring& path, DEVINST& node) {
        DWORD required = 0;
        api_.GetDeviceInterfaceDetail(set_, &interfaceData, nullptr, 0, &required, nullptr);
        if (required < sizeof(SP_DEVICE_INTERFACE_DETAIL_DATA_W) || required > 64 * 1024) {
            return false;
        }
        // DWORD-aligned storage for the detail record.
        std::vector<DWORD> storage((required + sizeof(DWORD) - 1) / sizeof(DWORD) + 1, 0);
        auto* detail = reinterpret_cast<SP_DEVICE_INTERFACE_DETAIL_DATA_W*>(storage.data());
        detail->cbSize = sizeof(SP_DEVICE_INTERFACE_DETAIL_DATA_W);
        SP_DEVINFO_DATA deviceData{};
        deviceData.cbSize = sizeof deviceData;
        if (!api_.GetDeviceInterfaceDetail(set_, &interfaceData, detail, required, nullptr,
                                           &deviceData)) {
            return false;
        }
        node = deviceData.DevInst;
        // The path ends within the record even if the platform left it unterminated.
        const std::size_t offset = offsetof(SP_DEVICE_INTERFACE_DETAIL_DATA_W, DevicePath);
        const std::size_t maxChars = (required - offset) / sizeof(WCHAR);
        const WCHAR* chars = detail->DevicePath;
        std::size_t count = 0;
        while (count < maxChars && chars[count] != L'\0') {
            ++count;
        }
        path.assign(chars, count);
        return !path.empty();
    }

    const Win32HidApi& api_;
    HDEVINFO set_;
    GUID guid_;
    std::vector<std::optional<Entry>> entries_;
};

}  // namespace

std::size_t Win32AbandonedTransfers() {
    return g_abandonedTransfers.load();
}

std::unique_ptr<IHidInterfaceList> Win32HidPlatform::ListInterfaces() {
    GUID guid{};
    api_.GetHidGuid(&guid);
    HDEVINFO set =
        api_.GetClassDevs(&guid, nullptr, nullptr, DIGCF_PRESENT | DIGCF_DEVICEINTERFACE);
    if (set == INVALID_HANDLE_VALUE) {
        return nullptr;
    }
    return std::make_unique<Win32List>(api_, set, guid);
}

}  // namespace talvo
