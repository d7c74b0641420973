// Arbitrary bytes as a package and as a single image: the split and the
// validation must stay inside the input whatever its header fields claim.
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <vector>

#include "firmware/firmware_package.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size > (1u << 20)) {
        return 0;
    }
    const auto length = static_cast<std::uint32_t>(size);
    talvo::FirmwarePackage slots;
    talvo::SplitFirmwarePackage(data, length, slots);

    talvo::ulo_CFirmFile file;
    file.Validate(data, length);

    // The same bytes with a recognised magic and revision, so the fuzzer
    // reaches the length and checksum steps without having to find them.
    if (size > talvo::kBodyOffset) {
        std::vector<std::uint8_t> image(data, data + size);
        talvo::WriteLe32(&image[talvo::kMagicOffset], talvo::kMagicNormal);
        talvo::WriteLe32(&image[talvo::kFormatRevisionOffset], talvo::kFormatRevision);
        file.Validate(image.data(), length);
        talvo::SplitFirmwarePackage(image.data(), length, slots);
    }
    return 0;
}
