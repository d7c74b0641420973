#include "firmware/firmware_package.h"

#include <cstring>
#include <new>

namespace talvo {

bool FirmwarePackage::HasAnyImage() const {
    for (int slot = 0; slot < kImageTypeCount; ++slot) {
        if (HasImage(slot)) {
            return true;
        }
    }
    return false;
}

void FirmwarePackage::Clear() {
    for (int slot = 0; slot < kImageTypeCount; ++slot) {
        imageData[slot].reset();
        imageLength[slot] = 0;
        imageVersion[slot].clear();
    }
}

int SplitFirmwarePackage(const std::uint8_t* bytes, std::uint32_t size, FirmwarePackage& package) {
    if (bytes == nullptr || size == 0) {
        return 0;
    }
    package.Clear();

    // Work from a private copy of the package: the slots and the checks
    // read only it, whatever memory the caller's bytes live in.
    std::unique_ptr<std::uint8_t[]> work(new (std::nothrow) std::uint8_t[size]);
    if (!work) {
        return 0;
    }
    std::memcpy(work.get(), bytes, size);

    ulo_CFirmFile checker;
    const std::uint8_t* position = work.get();
    std::uint32_t remainder = size;
    for (int pass = 0; pass < kPackageMaxPasses && remainder != 0; ++pass) {
        if (remainder < kBodyOffset) {
            break;  // too short to hold even a header: trailing bytes
        }
        const ImageType slot = ImageTypeFromMagic(ReadLe32(position + kMagicOffset));
        if (slot == kImageTypeNone) {
            break;
        }
        const std::uint32_t length = ReadLe32(position + kTotalLengthOffset);
        if (length == 0 || length > remainder) {
            break;  // the image would end outside the package
        }

        package.imageData[slot].reset();
        package.imageLength[slot] = 0;
        // The version text always describes the image now in the slot.
        package.imageVersion[slot].clear();
        std::unique_ptr<std::uint8_t[]> copy(new (std::nothrow) std::uint8_t[length]);
        if (!copy) {
            return 0;
        }
        std::memcpy(copy.get(), position, length);
        package.imageData[slot] = std::move(copy);
        package.imageLength[slot] = length;

        if (checker.Validate(position, length) == kFirmOk) {
            package.imageVersion[slot] = VersionTextToUtf16(checker.GetVersion());
        }
        position += length;
        remainder -= length;
    }
    return package.HasAnyImage() ? 1 : 0;
}

int LoadFirmwarePackage(FirmwarePackage& package) {
    const std::uint8_t* bytes = nullptr;
    std::uint32_t size = 0;
    if (!FindPackageResource(&bytes, &size) || size == 0) {
        return 0;
    }
    return SplitFirmwarePackage(bytes, size, package);
}

}  // namespace talvo
