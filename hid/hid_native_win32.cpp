#include "hid/hid_api_win32.h"

namespace talvo {

IHidPlatform& HidPlatform::Native() {
    static Win32HidPlatform platform(SystemWin32HidApi());
    return platform;
}

}  // namespace talvo
