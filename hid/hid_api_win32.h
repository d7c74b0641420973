// The Windows platform calls the Win32 HID backend makes, gathered in one
// table so that tests can put a fake HID stack in its place.
#pragma once

#include <windows.h>

#include <cfgmgr32.h>
#include <setupapi.h>

extern "C" {
#include <hidsdi.h>
}

#include "hid/hid_platform.h"

namespace talvo {

struct Win32HidApi {
    decltype(&::HidD_GetHidGuid) GetHidGuid;
    decltype(&::SetupDiGetClassDevsW) GetClassDevs;
    decltype(&::SetupDiEnumDeviceInterfaces) EnumDeviceInterfaces;
    decltype(&::SetupDiGetDeviceInterfaceDetailW) GetDeviceInterfaceDetail;
    decltype(&::SetupDiDestroyDeviceInfoList) DestroyDeviceInfoList;
    decltype(&::CreateFileW) CreateFileW;
    decltype(&::CloseHandle) CloseHandle;
    decltype(&::HidD_GetPreparsedData) GetPreparsedData;
    decltype(&::HidD_FreePreparsedData) FreePreparsedData;
    decltype(&::HidD_GetAttributes) GetAttributes;
    decltype(&::HidP_GetCaps) GetCaps;
    decltype(&::HidP_GetButtonCaps) GetButtonCaps;
    decltype(&::HidP_GetValueCaps) GetValueCaps;
    decltype(&::HidP_MaxUsageListLength) MaxUsageListLength;
    decltype(&::CreateEventW) CreateEventW;
    decltype(&::SetEvent) SetEvent;
    decltype(&::ResetEvent) ResetEvent;
    decltype(&::ReadFile) ReadFile;
    decltype(&::WriteFile) WriteFile;
    decltype(&::GetOverlappedResult) GetOverlappedResult;
    decltype(&::GetLastError) GetLastError;
    decltype(&::CancelIo) CancelIo;
    decltype(&::CancelIoEx) CancelIoEx;
    decltype(&::Sleep) Sleep;
    // Where an interface's unit sits: its parent device node and that
    // node's location.
    decltype(&::CM_Get_Parent) GetParent;
    decltype(&::CM_Get_DevNode_PropertyW) GetDevNodeProperty;
    decltype(&::CM_Get_Device_IDW) GetDeviceId;
};

// The real calls (hid.dll, setupapi.dll, kernel32.dll).
const Win32HidApi& SystemWin32HidApi();

// Transfers whose cancellation the driver never completed: their blocks and
// buffers were left to it (a deliberate leak) and their handles made unusable.
std::size_t Win32AbandonedTransfers();

// HID interfaces through SetupDi enumeration of the HID class and
// overlapped reads and writes on shared handles.
class Win32HidPlatform final : public IHidPlatform {
  public:
    explicit Win32HidPlatform(const Win32HidApi& api) : api_(api) {}
    std::unique_ptr<IHidInterfaceList> ListInterfaces() override;

  private:
    const Win32HidApi& api_;
};

}  // namespace talvo
