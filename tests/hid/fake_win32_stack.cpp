#include "tests/hid/fake_win32_stack.h"

#include <chrono>
#include <cstddef>
#include <cstring>

#ifndef STATUS_CANCELLED
#define STATUS_CANCELLED ((NTSTATUS)0xC0000120L)
#endif
#ifndef STATUS_DEVICE_NOT_CONNECTED
#define STATUS_DEVICE_NOT_CONNECTED ((NTSTATUS)0xC000009DL)
#endif

namespace talvo::test {

namespace {

FakeWin32Stack* g_stack = nullptr;  // the newest live stack; stacks nest
const GUID kFakeHidGuid = {
    0x4D1E55B2, 0xF16F, 0x11CF, {0x88, 0xCB, 0x00, 0x11, 0x11, 0x00, 0x00, 0x30}};
constexpr DWORD kStatusPending = STATUS_PENDING;

// The record sizes the setup API accepts, written out for each pointer size
// rather than taken from the headers: a header packed otherwise, or a size
// computed by hand, gets ERROR_INVALID_USER_BUFFER from the real system too.
// The detail record is a DWORD and the path, packed to 1 byte on 32-bit
// Windows (6 bytes) and to 8 on 64-bit (8 bytes); the path starts at 4.
constexpr bool kWin64 = sizeof(void*) == 8;
constexpr DWORD kDetailCbSize = kWin64 ? 8 : 6;
constexpr DWORD kDetailPathOffset = 4;
constexpr DWORD kInterfaceDataCbSize = kWin64 ? 32 : 28;

DWORD ErrorFor(ULONG_PTR status) {
    switch (static_cast<NTSTATUS>(status)) {
        case STATUS_CANCELLED:
            return ERROR_OPERATION_ABORTED;
        case STATUS_DEVICE_NOT_CONNECTED:
            return ERROR_DEVICE_NOT_CONNECTED;
        default:
            return ERROR_GEN_FAILURE;
    }
}

template <typename T>
T Fail(DWORD error, T result) {
    ::SetLastError(error);
    return result;
}

}  // namespace

struct FakeWin32Stack::Calls {
    static FakeWin32Stack& S() { return *g_stack; }
    static void Note(const char* call) { ++S().counts_[call]; }

    static void NTAPI GetHidGuid(LPGUID guid) { *guid = kFakeHidGuid; }

    static HDEVINFO WINAPI GetClassDevs(const GUID* guid, PCWSTR enumerator, HWND window,
                                        DWORD flags) {
        std::lock_guard<std::mutex> lock(S().mutex_);
        if (guid == nullptr || std::memcmp(guid, &kFakeHidGuid, sizeof(GUID)) != 0 ||
            enumerator != nullptr || window != nullptr ||
            flags != (DIGCF_PRESENT | DIGCF_DEVICEINTERFACE)) {
            S().Violation("SetupDiGetClassDevsW arguments");
            return INVALID_HANDLE_VALUE;
        }
        if (S().failListing_) {
            return INVALID_HANDLE_VALUE;
        }
        auto* list = new List;
        for (auto& [id, device] : S().devices_) {
            if (device.plugged) {
                list->devices.push_back(id);
            }
        }
        S().lists_.insert(list);
        return reinterpret_cast<HDEVINFO>(list);
    }

    static BOOL WINAPI EnumDeviceInterfaces(HDEVINFO set, PSP_DEVINFO_DATA info, const GUID* guid,
                                            DWORD index, PSP_DEVICE_INTERFACE_DATA data) {
        DWORD error = ERROR_SUCCESS;
        {
            std::lock_guard<std::mutex> lock(S().mutex_);
            auto* list = reinterpret_cast<List*>(set);
            if (!S().lists_.count(list) || info != nullptr || guid == nullptr || data == nullptr ||
                data->cbSize != kInterfaceDataCbSize) {
                S().Violation("SetupDiEnumDeviceInterfaces arguments");
                error = ERROR_INVALID_PARAMETER;
            } else if (static_cast<int>(index) == S().failEnumerationAt_) {
                error = ERROR_GEN_FAILURE;
            } else if (index >= list->devices.size()) {
                error = ERROR_NO_MORE_ITEMS;
            } else {
                data->Reserved = static_cast<ULONG_PTR>(list->devices[index]);
                data->InterfaceClassGuid = kFakeHidGuid;
                data->Flags = SPINT_ACTIVE;
            }
        }
        return error == ERROR_SUCCESS ? TRUE : Fail(error, FALSE);
    }

    static BOOL WINAPI GetDeviceInterfaceDetail(HDEVINFO set, PSP_DEVICE_INTERFACE_DATA data,
                                                PSP_DEVICE_INTERFACE_DETAIL_DATA_W detail,
                                                DWORD size, PDWORD required,
                                                PSP_DEVINFO_DATA info) {
        DWORD error = ERROR_SUCCESS;
        {
            std::lock_guard<std::mutex> lock(S().mutex_);
            auto* list = reinterpret_cast<List*>(set);
            auto found = S().devices_.find(static_cast<int>(data ? data->Reserved : ~0u));
            if (!S().lists_.count(list) || found == S().devices_.end() ||
                (info != nullptr && info->cbSize != sizeof(SP_DEVINFO_DATA))) {
                S().Violation("SetupDiGetDeviceInterfaceDetailW arguments");
                return Fail(ERROR_INVALID_PARAMETER, FALSE);
            }
            if (found->second.spec.pathFails) {
                return Fail(ERROR_GEN_FAILURE, FALSE);
            }
            const std::wstring& path = found->second.spec.path;
            const DWORD needed =
                static_cast<DWORD>(kDetailPathOffset + (path.size() + 1) * sizeof(WCHAR));
            if (required != nullptr) {
                *required = needed;
            }
            if (detail == nullptr || size < needed) {
                error = ERROR_INSUFFICIENT_BUFFER;
            } else if (detail->cbSize != kDetailCbSize) {
                S().Violation("detail cbSize");
                error = ERROR_INVALID_USER_BUFFER;
            } else {
                std::memcpy(reinterpret_cast<BYTE*>(detail) + kDetailPathOffset, path.c_str(),
                            (path.size() + 1) * sizeof(WCHAR));
                if (info != nullptr) {
                    info->DevInst = static_cast<DEVINST>(found->first) + kFirstNode;
                }
            }
        }
        return error == ERROR_SUCCESS ? TRUE : Fail(error, FALSE);
    }

    static BOOL WINAPI DestroyDeviceInfoList(HDEVINFO set) {
        std::lock_guard<std::mutex> lock(S().mutex_);
        auto* list = reinterpret_cast<List*>(set);
        if (S().lists_.erase(list) == 0) {
            S().Violation("destroying an unknown list");
            return FALSE;
        }
        delete list;
        return TRUE;
    }

    static HANDLE WINAPI CreateFileW(LPCWSTR path, DWORD access, DWORD share,
                                     LPSECURITY_ATTRIBUTES security, DWORD disposition, DWORD flags,
                                     HANDLE templ) {
        DWORD error = ERROR_SUCCESS;
        File* file = nullptr;
        {
            std::lock_guard<std::mutex> lock(S().mutex_);
            Note("CreateFileW");
            if (access != (GENERIC_READ | GENERIC_WRITE) ||
                share != (FILE_SHARE_READ | FILE_SHARE_WRITE) || security != nullptr ||
                disposition != OPEN_EXISTING || flags != FILE_FLAG_OVERLAPPED || templ != nullptr) {
                S().Violation("CreateFileW arguments");
                error = ERROR_INVALID_PARAMETER;
            } else {
                error = ERROR_FILE_NOT_FOUND;
                for (auto& [id, device] : S().devices_) {
                    if (device.plugged && device.spec.path == path) {
                        if (device.spec.openFails) {
                            error = ERROR_SHARING_VIOLATION;
                        } else {
                            file = new File;
                            file->device = id;
                            S().files_.insert(file);
                            error = ERROR_SUCCESS;
                        }
                        break;
                    }
                }
            }
        }
        return file != nullptr ? reinterpret_cast<HANDLE>(file) : Fail(error, INVALID_HANDLE_VALUE);
    }

    static BOOL WINAPI CloseHandle(HANDLE handle) {
        std::unique_lock<std::mutex> lock(S().mutex_);
        auto* file = reinterpret_cast<File*>(handle);
        if (S().files_.count(file)) {
            if (S().devices_[file->device].ignoresCancel) {
                // Its driver keeps the transfers: they outlive the handle.
                if (file->readPending) {
                    S().abandoned_.push_back(file->read);
                }
                if (file->writePending) {
                    S().abandoned_.push_back(file->write);
                }
                file->readPending = file->writePending = false;
            }
            if (file->readPending || file->writePending) {
                S().Violation("handle closed with a transfer pending");
                if (file->readPending) {
                    S().CompleteRead(*file, STATUS_CANCELLED);
                }
                if (file->writePending) {
                    S().CompleteWrite(*file, STATUS_CANCELLED);
                }
            }
            S().files_.erase(file);
            delete file;
            return TRUE;
        }
        if (S().events_.erase(handle) != 0) {
            lock.unlock();
            return ::CloseHandle(handle);
        }
        S().Violation("closing an unknown handle");
        return FALSE;
    }

    static BOOLEAN NTAPI GetPreparsedData(HANDLE handle, PHIDP_PREPARSED_DATA* data) {
        std::lock_guard<std::mutex> lock(S().mutex_);
        Note("HidD_GetPreparsedData");
        auto* file = reinterpret_cast<File*>(handle);
        if (!S().files_.count(file) || S().devices_[file->device].spec.preparsedFails) {
            return FALSE;
        }
        auto* preparsed = new Preparsed{file->device};
        S().preparsed_.insert(preparsed);
        *data = reinterpret_cast<PHIDP_PREPARSED_DATA>(preparsed);
        return TRUE;
    }

    static BOOLEAN NTAPI FreePreparsedData(PHIDP_PREPARSED_DATA data) {
        std::lock_guard<std::mutex> lock(S().mutex_);
        auto* preparsed = reinterpret_cast<Preparsed*>(data);
        if (S().preparsed_.erase(preparsed) == 0) {
            S().Violation("freeing unknown preparsed data");
            return FALSE;
        }
        delete preparsed;
        return TRUE;
    }

    static BOOLEAN NTAPI GetAttributes(HANDLE handle, PHIDD_ATTRIBUTES attributes) {
        std::lock_guard<std::mutex> lock(S().mutex_);
        Note("HidD_GetAttributes");
        auto* file = reinterpret_cast<File*>(handle);
        if (!S().files_.count(file) || S().devices_[file->device].spec.attributesFails) {
            return FALSE;
        }
        *attributes = S().devices_[file->device].spec.attributes;
        return TRUE;
    }

    static Device* DeviceOf(PHIDP_PREPARSED_DATA data) {
        auto* preparsed = reinterpret_cast<Preparsed*>(data);
        if (!S().preparsed_.count(preparsed)) {
            S().Violation("unknown preparsed data");
            return nullptr;
        }
        return &S().devices_[preparsed->device];
    }

    static NTSTATUS NTAPI GetCaps(PHIDP_PREPARSED_DATA data, PHIDP_CAPS caps) {
        std::lock_guard<std::mutex> lock(S().mutex_);
        Device* device = DeviceOf(data);
        if (device == nullptr || device->spec.capsFails) {
            return HIDP_STATUS_INVALID_PREPARSED_DATA;
        }
        *caps = device->spec.caps;
        auto count = [&](int kind, bool buttons) {
            return static_cast<USHORT>(buttons ? device->spec.buttonCaps[kind].size()
                                               : device->spec.valueCaps[kind].size());
        };
        caps->NumberInputButtonCaps = count(0, true);
        caps->NumberInputValueCaps = count(0, false);
        caps->NumberOutputButtonCaps = count(1, true);
        caps->NumberOutputValueCaps = count(1, false);
        caps->NumberFeatureButtonCaps = count(2, true);
        caps->NumberFeatureValueCaps = count(2, false);
        return HIDP_STATUS_SUCCESS;
    }

    template <typename Caps>
    static NTSTATUS CopyCaps(const std::vector<Caps>& from, Caps* to, PUSHORT length) {
        USHORT n = static_cast<USHORT>(from.size() < *length ? from.size() : *length);
        std::memcpy(to, from.data(), n * sizeof(Caps));
        *length = static_cast<USHORT>(from.size());
        return HIDP_STATUS_SUCCESS;
    }

    static NTSTATUS NTAPI GetButtonCaps(HIDP_REPORT_TYPE type, PHIDP_BUTTON_CAPS caps,
                                        PUSHORT length, PHIDP_PREPARSED_DATA data) {
        std::lock_guard<std::mutex> lock(S().mutex_);
        Device* device = DeviceOf(data);
        if (device == nullptr || type > HidP_Feature) {
            return HIDP_STATUS_INVALID_PREPARSED_DATA;
        }
        return CopyCaps(device->spec.buttonCaps[type], caps, length);
    }

    static NTSTATUS NTAPI GetValueCaps(HIDP_REPORT_TYPE type, PHIDP_VALUE_CAPS caps, PUSHORT length,
                                       PHIDP_PREPARSED_DATA data) {
        std::lock_guard<std::mutex> lock(S().mutex_);
        Device* device = DeviceOf(data);
        if (device == nullptr || type > HidP_Feature) {
            return HIDP_STATUS_INVALID_PREPARSED_DATA;
        }
        return CopyCaps(device->spec.valueCaps[type], caps, length);
    }

    static ULONG NTAPI MaxUsageListLength(HIDP_REPORT_TYPE type, USAGE page,
                                          PHIDP_PREPARSED_DATA data) {
        std::lock_guard<std::mutex> lock(S().mutex_);
        Device* device = DeviceOf(data);
        if (device == nullptr || type > HidP_Feature) {
            return 0;
        }
        ULONG total = 0;
        for (const HIDP_BUTTON_CAPS& caps : device->spec.buttonCaps[type]) {
            if (caps.UsagePage == page) {
                total += caps.IsRange ? caps.Range.UsageMax - caps.Range.UsageMin + 1u : 1u;
            }
        }
        return total;
    }

    static HANDLE WINAPI CreateEventW(LPSECURITY_ATTRIBUTES security, BOOL manualReset,
                                      BOOL initialState, LPCWSTR name) {
        std::lock_guard<std::mutex> lock(S().mutex_);
        if (security != nullptr || !manualReset || initialState || name != nullptr) {
            S().Violation("CreateEventW arguments");
        }
        if (S().failNextEvent_) {
            S().failNextEvent_ = false;
            return nullptr;
        }
        HANDLE event = ::CreateEventW(security, manualReset, initialState, name);
        S().events_.insert(event);
        return event;
    }

    static BOOL WINAPI SetEvent(HANDLE event) {
        Note("SetEvent");
        return ::SetEvent(event);
    }

    static BOOL WINAPI ResetEvent(HANDLE event) {
        Note("ResetEvent");
        return ::ResetEvent(event);
    }

    static BOOL WINAPI ReadFile(HANDLE handle, LPVOID buffer, DWORD length, LPDWORD transferred,
                                LPOVERLAPPED block) {
        DWORD error = ERROR_SUCCESS;
        {
            std::lock_guard<std::mutex> lock(S().mutex_);
            auto* file = reinterpret_cast<File*>(handle);
            if (!S().files_.count(file) || block == nullptr || block->hEvent == nullptr) {
                S().Violation("ReadFile arguments");
                return Fail(ERROR_INVALID_PARAMETER, FALSE);
            }
            if (file->readPending) {
                S().Violation("read started while a read is pending");
                return Fail(ERROR_INVALID_PARAMETER, FALSE);
            }
            Device& device = S().devices_[file->device];
            ::ResetEvent(block->hEvent);
            if (length < device.spec.caps.InputReportByteLength) {
                error = ERROR_INVALID_USER_BUFFER;
            } else if (!device.plugged) {
                error = ERROR_DEVICE_NOT_CONNECTED;
            } else if (!file->inputs.empty()) {
                const std::vector<std::uint8_t>& report = file->inputs.front();
                std::memcpy(buffer, report.data(), report.size());
                if (transferred != nullptr) {
                    *transferred = static_cast<DWORD>(report.size());
                }
                block->Internal = 0;
                block->InternalHigh = report.size();
                file->inputs.pop_front();
                ::SetEvent(block->hEvent);
            } else {
                block->Internal = kStatusPending;
                file->readPending = true;
                file->read = PendingIo{block, nullptr, static_cast<std::uint8_t*>(buffer), length,
                                       ::GetCurrentThreadId()};
                error = ERROR_IO_PENDING;
            }
        }
        return error == ERROR_SUCCESS ? TRUE : Fail(error, FALSE);
    }

    static BOOL WINAPI WriteFile(HANDLE handle, LPCVOID data, DWORD length, LPDWORD transferred,
                                 LPOVERLAPPED block) {
        DWORD error = ERROR_SUCCESS;
        {
            std::lock_guard<std::mutex> lock(S().mutex_);
            auto* file = reinterpret_cast<File*>(handle);
            if (!S().files_.count(file) || block == nullptr || block->hEvent == nullptr) {
                S().Violation("WriteFile arguments");
                return Fail(ERROR_INVALID_PARAMETER, FALSE);
            }
            if (file->writePending) {
                S().Violation("write started while a write is pending");
                return Fail(ERROR_INVALID_PARAMETER, FALSE);
            }
            Device& device = S().devices_[file->device];
            ::ResetEvent(block->hEvent);
            const auto* bytes = static_cast<const std::uint8_t*>(data);
            if (length != device.spec.caps.OutputReportByteLength) {
                error = ERROR_INVALID_PARAMETER;
            } else if (!device.plugged) {
                error = ERROR_DEVICE_NOT_CONNECTED;
            } else if (device.capacity == 0 || device.outputs.size() < device.capacity) {
                device.outputs.emplace_back(bytes, bytes + length);
                S().outputArrived_.notify_all();
                if (transferred != nullptr) {
                    *transferred = length;
                }
                block->Internal = 0;
                block->InternalHigh = length;
                ::SetEvent(block->hEvent);
            } else {
                block->Internal = kStatusPending;
                file->writePending = true;
                file->write = PendingIo{block, bytes, nullptr, length, ::GetCurrentThreadId()};
                error = ERROR_IO_PENDING;
            }
        }
        return error == ERROR_SUCCESS ? TRUE : Fail(error, FALSE);
    }

    static BOOL WINAPI GetOverlappedResult(HANDLE handle, LPOVERLAPPED block, LPDWORD transferred,
                                           BOOL wait) {
        std::unique_lock<std::mutex> lock(S().mutex_);
        if (!S().files_.count(reinterpret_cast<File*>(handle)) || block == nullptr) {
            S().Violation("GetOverlappedResult arguments");
            return Fail(ERROR_INVALID_PARAMETER, FALSE);
        }
        // A requested cancellation takes effect only now, as it would some time
        // after CancelIo on a real stack.
        File* file = reinterpret_cast<File*>(handle);
        const bool cancels = !S().devices_[file->device].ignoresCancel;
        if (cancels && file->readPending && file->read.block == block &&
            file->read.cancelRequested) {
            S().CompleteRead(*file, STATUS_CANCELLED);
        }
        if (cancels && file->writePending && file->write.block == block &&
            file->write.cancelRequested) {
            S().CompleteWrite(*file, STATUS_CANCELLED);
        }
        if (block->Internal == kStatusPending && wait) {
            HANDLE event = block->hEvent;
            lock.unlock();
            ::WaitForSingleObject(event, INFINITE);
            lock.lock();
        }
        const ULONG_PTR status = block->Internal;
        if (status == kStatusPending) {
            Note("ERROR_IO_INCOMPLETE");
            lock.unlock();
            return Fail(ERROR_IO_INCOMPLETE, FALSE);
        }
        if (transferred != nullptr) {
            *transferred = static_cast<DWORD>(block->InternalHigh);
        }
        lock.unlock();
        return status == 0 ? TRUE : Fail(ErrorFor(status), FALSE);
    }

    static DWORD WINAPI GetLastError() { return ::GetLastError(); }

    static BOOL WINAPI CancelIo(HANDLE handle) {
        std::lock_guard<std::mutex> lock(S().mutex_);
        ++S().counts_["CancelIo"];
        auto* file = reinterpret_cast<File*>(handle);
        if (!S().files_.count(file)) {
            return Fail(ERROR_INVALID_HANDLE, FALSE);
        }
        const DWORD self = ::GetCurrentThreadId();
        if (file->readPending && file->read.thread == self) {
            file->read.cancelRequested = true;
        }
        if (file->writePending && file->write.thread == self) {
            file->write.cancelRequested = true;
        }
        return TRUE;
    }

    static BOOL WINAPI CancelIoEx(HANDLE handle, LPOVERLAPPED block) {
        DWORD error = ERROR_NOT_FOUND;
        {
            std::lock_guard<std::mutex> lock(S().mutex_);
            ++S().counts_["CancelIoEx"];
            auto* file = reinterpret_cast<File*>(handle);
            if (!S().files_.count(file)) {
                return Fail(ERROR_INVALID_HANDLE, FALSE);
            }
            if (file->readPending && (block == nullptr || block == file->read.block)) {
                file->read.cancelRequested = true;
                error = ERROR_SUCCESS;
            }
            if (file->writePending && (block == nullptr || block == file->write.block)) {
                file->write.cancelRequested = true;
                error = ERROR_SUCCESS;
            }
        }
        return error == ERROR_SUCCESS ? TRUE : Fail(error, FALSE);
    }

    static void WINAPI Sleep(DWORD milliseconds) { ::Sleep(milliseconds); }

    // Device node n of device id n - kFirstNode; its parent is n + kParentOffset.
    static constexpr DEVINST kFirstNode = 1000;
    static constexpr DEVINST kParentOffset = 100000;
    static const FakeWin32Device* ParentOf(DEVINST parent) {
        auto found = S().devices_.find(static_cast<int>(parent - kParentOffset - kFirstNode));
        return parent > kParentOffset && found != S().devices_.end() ? &found->second.spec
                                                                     : nullptr;
    }
    static CONFIGRET WINAPI GetParent(PDEVINST parent, DEVINST node, ULONG flags) {
        std::lock_guard<std::mutex> lock(S().mutex_);
        if (parent == nullptr || flags != 0 ||
            !S().devices_.count(static_cast<int>(node - kFirstNode))) {
            return CR_INVALID_DEVNODE;
        }
        *parent = node + kParentOffset;
        return CR_SUCCESS;
    }
    static CONFIGRET WINAPI GetDevNodeProperty(DEVINST node, const DEVPROPKEY* key,
                                               DEVPROPTYPE* type, PBYTE buffer, PULONG size,
                                               ULONG flags) {
        std::lock_guard<std::mutex> lock(S().mutex_);
        const FakeWin32Device* device = ParentOf(node);
        if (device == nullptr || key == nullptr || type == nullptr || size == nullptr ||
            flags != 0) {
            return CR_INVALID_DEVNODE;
        }
        // Location paths only: a string list, two strings here.
        if (key->pid != 37 || device->locationPath.empty()) {
            return CR_NO_SUCH_VALUE;
        }
        std::wstring list = device->locationPath + L'\0' + L"ACPI(_SB_)#ACPI(PCI0)" + L'\0';
        const ULONG needed = static_cast<ULONG>((list.size() + 1) * sizeof(WCHAR));
        if (buffer == nullptr || *size < needed) {
            *size = needed;
            return CR_BUFFER_SMALL;
        }
        *type = DEVPROP_TYPE_STRING_LIST;
        std::memcpy(buffer, list.c_str(), needed);
        *size = needed;
        return CR_SUCCESS;
    }
    static CONFIGRET WINAPI GetDeviceId(DEVINST node, PWSTR buffer, ULONG length, ULONG flags) {
        std::lock_guard<std::mutex> lock(S().mutex_);
        const FakeWin32Device* device = ParentOf(node);
        if (device == nullptr || buffer == nullptr || flags != 0) {
            return CR_INVALID_DEVNODE;
        }
        if (device->parentInstanceId.size() + 1 > length) {
            return CR_BUFFER_SMALL;
        }
        std::memcpy(buffer, device->parentInstanceId.c_str(),
                    (device->parentInstanceId.size() + 1) * sizeof(WCHAR));
        return CR_SUCCESS;
    }
};

FakeWin32Stack::FakeWin32Stack() : previous_(g_stack) {
    g_stack = this;
    api_ = Win32HidApi{
        Calls::GetHidGuid,
        Calls::GetClassDevs,
        Calls::EnumDeviceInterfaces,
        Calls::GetDeviceInterfaceDetail,
        Calls::DestroyDeviceInfoList,
        Calls::CreateFileW,
        Calls::CloseHandle,
        Calls::GetPreparsedData,
        Calls::FreePreparsedData,
        Calls::GetAttributes,
        Calls::GetCaps,
        Calls::GetButtonCaps,
        Calls::GetValueCaps,
        Calls::MaxUsageListLength,
        Calls::CreateEventW,
        Calls::SetEvent,
        Calls::ResetEvent,
        Calls::ReadFile,
        Calls::WriteFile,
        Calls::GetOverlappedResult,
        Calls::GetLastError,
        Calls::CancelIo,
        Calls::CancelIoEx,
        Calls::Sleep,
        Calls::GetParent,
        Calls::GetDevNodeProperty,
        Calls::GetDeviceId,
    };
}

FakeWin32Stack::~FakeWin32Stack() {
    for (File* file : files_) {
        delete file;
    }
    for (Preparsed* preparsed : preparsed_) {
        delete preparsed;
    }
    for (List* list : lists_) {
        delete list;
    }
    for (HANDLE event : events_) {
        ::CloseHandle(event);
    }
    g_stack = previous_;
}

int FakeWin32Stack::Add(FakeWin32Device device) {
    std::lock_guard<std::mutex> lock(mutex_);
    Device entry;
    entry.spec = std::move(device);
    devices_[nextId_] = std::move(entry);
    return nextId_++;
}

void FakeWin32Stack::SetOpenFails(int id, bool fails) {
    std::lock_guard<std::mutex> lock(mutex_);
    devices_.at(id).spec.openFails = fails;
}

void FakeWin32Stack::SetPathFails(int id, bool fails) {
    std::lock_guard<std::mutex> lock(mutex_);
    devices_.at(id).spec.pathFails = fails;
}

void FakeWin32Stack::SetOutputCapacity(int id, std::size_t reports) {
    std::lock_guard<std::mutex> lock(mutex_);
    devices_.at(id).capacity = reports;
}

void FakeWin32Stack::SetIgnoresCancel(int id, bool ignores) {
    std::lock_guard<std::mutex> lock(mutex_);
    devices_.at(id).ignoresCancel = ignores;
}

int FakeWin32Stack::FinishAbandoned() {
    std::lock_guard<std::mutex> lock(mutex_);
    for (const PendingIo& io : abandoned_) {
        // The event handle may be closed by now; the block and buffer must
        // still belong to the driver.
        io.block->Internal = static_cast<ULONG_PTR>(STATUS_CANCELLED);
        io.block->InternalHigh = 0;
        if (io.readBuffer != nullptr) {
            std::memset(io.readBuffer, 0xA5, io.length);
        }
    }
    const int count = static_cast<int>(abandoned_.size());
    abandoned_.clear();
    return count;
}

void FakeWin32Stack::Unplug(int id) {
    std::lock_guard<std::mutex> lock(mutex_);
    devices_.at(id).plugged = false;
    for (File* file : files_) {
        if (file->device == id) {
            if (file->readPending) {
                CompleteRead(*file, STATUS_DEVICE_NOT_CONNECTED);
            }
            if (file->writePending) {
                CompleteWrite(*file, STATUS_DEVICE_NOT_CONNECTED);
            }
        }
    }
    outputArrived_.notify_all();
}

bool FakeWin32Stack::SendInput(int id, const std::vector<std::uint8_t>& report) {
    std::lock_guard<std::mutex> lock(mutex_);
    Device& device = devices_.at(id);
    if (!device.plugged || report.size() != device.spec.caps.InputReportByteLength) {
        return false;
    }
    for (File* file : files_) {
        if (file->device != id) {
            continue;
        }
        if (file->readPending) {
            std::memcpy(file->read.readBuffer, report.data(), report.size());
            file->read.block->InternalHigh = report.size();
            CompleteRead(*file, 0);
        } else {
            file->inputs.push_back(report);
        }
    }
    return true;
}

bool FakeWin32Stack::TakeOutput(int id, std::vector<std::uint8_t>& report, int timeoutMs) {
    std::unique_lock<std::mutex> lock(mutex_);
    Device& device = devices_.at(id);
    auto ready = [&] { return !device.outputs.empty() || !device.plugged; };
    if (!outputArrived_.wait_for(lock, std::chrono::milliseconds(timeoutMs), ready) ||
        device.outputs.empty()) {
        return false;
    }
    report = std::move(device.outputs.front());
    device.outputs.pop_front();
    MoveWaitingWrite(device);
    return true;
}

void FakeWin32Stack::MoveWaitingWrite(Device& device) {
    for (File* file : files_) {
        if (file->writePending && &devices_[file->device] == &device) {
            const PendingIo& io = file->write;
            device.outputs.emplace_back(io.writeData, io.writeData + io.length);
            io.block->InternalHigh = io.length;
            CompleteWrite(*file, 0);
            outputArrived_.notify_all();
            return;
        }
    }
}

void FakeWin32Stack::CompleteRead(File& file, NTSTATUS status) {
    file.read.block->Internal = static_cast<ULONG_PTR>(status);
    file.readPending = false;
    ::SetEvent(file.read.block->hEvent);
}

void FakeWin32Stack::CompleteWrite(File& file, NTSTATUS status) {
    file.write.block->Internal = static_cast<ULONG_PTR>(status);
    file.writePending = false;
    ::SetEvent(file.write.block->hEvent);
}

void FakeWin32Stack::FailListing(bool fails) {
    std::lock_guard<std::mutex> lock(mutex_);
    failListing_ = fails;
}

void FakeWin32Stack::FailEnumerationAt(int index) {
    std::lock_guard<std::mutex> lock(mutex_);
    failEnumerationAt_ = index;
}

void FakeWin32Stack::FailNextCreateEvent() {
    std::lock_guard<std::mutex> lock(mutex_);
    failNextEvent_ = true;
}

void FakeWin32Stack::Violation(const std::string& what) {
    violations_.push_back(what);
}

std::vector<std::string> FakeWin32Stack::Violations() {
    std::lock_guard<std::mutex> lock(mutex_);
    return violations_;
}

int FakeWin32Stack::OpenFiles() {
    std::lock_guard<std::mutex> lock(mutex_);
    return static_cast<int>(files_.size());
}

int FakeWin32Stack::Outstanding() {
    std::lock_guard<std::mutex> lock(mutex_);
    return static_cast<int>(files_.size() + preparsed_.size() + lists_.size() + events_.size());
}

int FakeWin32Stack::Count(const std::string& call) {
    std::lock_guard<std::mutex> lock(mutex_);
    return counts_[call];
}

FakeWin32Device SimpleFakeDevice(const std::wstring& path, USHORT vendor, USHORT product,
                                 int inputLength, int outputLength, UCHAR inputId, UCHAR outputId) {
    FakeWin32Device device;
    device.path = path;
    device.attributes.VendorID = vendor;
    device.attributes.ProductID = product;
    device.attributes.VersionNumber = 0x0100;
    device.caps.UsagePage = 0xFF00;
    device.caps.Usage = 1;
    device.caps.InputReportByteLength = static_cast<USHORT>(inputLength > 0 ? inputLength + 1 : 0);
    device.caps.OutputReportByteLength =
        static_cast<USHORT>(outputLength > 0 ? outputLength + 1 : 0);
    auto field = [](UCHAR reportId, USAGE usage, int count) {
        HIDP_VALUE_CAPS caps{};
        caps.UsagePage = 0xFF00;
        caps.ReportID = reportId;
        caps.BitSize = 8;
        caps.ReportCount = static_cast<USHORT>(count);
        caps.LogicalMax = 255;
        caps.IsRange = FALSE;
        caps.NotRange.Usage = usage;
        return caps;
    };
    if (inputLength > 0) {
        device.valueCaps[0].push_back(field(inputId, 2, inputLength));
    }
    if (outputLength > 0) {
        device.valueCaps[1].push_back(field(outputId, 3, outputLength));
    }
    return device;
}

}  // namespace talvo::test
