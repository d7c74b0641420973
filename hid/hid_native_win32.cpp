#include "hid/hid_platform.h"

namespace talvo {

namespace {
class NoHidPlatform final : public IHidPlatform {
  public:
    std::unique_ptr<IHidInterfaceList> ListInterfaces() override { return nullptr; }
};
}  // namespace

IHidPlatform& HidPlatform::Native() {
    static NoHidPlatform platform;
    return platform;
}

}  // namespace talvo
