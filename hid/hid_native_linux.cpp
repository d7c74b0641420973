#include "hid/hidraw_platform.h"

namespace talvo {

IHidPlatform& HidPlatform::Native() {
    static HidrawPlatform platform;
    return platform;
}

}  // namespace talvo
