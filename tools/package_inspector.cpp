#include "tools/package_inspector.h"

#include <cstdio>

#include "firmware/firmware_package.h"
#include "tools/fw_cli.h"
#include "tools/fw_image_builder.h"

namespace talvo::fwtools {

namespace {

std::string Hex(std::uint32_t value, int digits) {
    char text[16];
    std::snprintf(text, sizeof text, "0x%0*x", digits, static_cast<unsigned>(value));
    return text;
}

std::string Utf16ForDisplay(const std::u16string& text) {
    std::string shown;
    for (char16_t unit : text) {
        if (unit >= 0x20 && unit < 0x7F) {
            shown += static_cast<char>(unit);
        } else {
            char escape[8];
            std::snprintf(escape, sizeof escape, "\\u%04x", static_cast<unsigned>(unit));
            shown += escape;
        }
    }
    return "\"" + shown + "\"";
}

const char* Verdict(bool ok) {
    return ok ? "match" : "MISMATCH";
}

}  // namespace

bool InspectPackage(const std::uint8_t* bytes, std::uint32_t size, std::ostream& out) {
    std::vector<std::string> problems;
    out << "Package: " << size << " bytes\n";
    if (size == 0) {
        problems.push_back("the package is empty");
    }

    std::uint32_t offset = 0;
    int index = 0;
    int takenAt[kImageTypeCount] = {-1, -1, -1};
    while (offset < size) {
        const std::uint32_t remainder = size - offset;
        const std::uint8_t* image = bytes + offset;
        if (remainder < kBodyOffset) {
            out << "\n"
                << remainder << " bytes at offset " << offset
                << ": too short for an image header (an image needs more than 560 bytes)\n";
            problems.push_back(std::to_string(remainder) + " trailing bytes at offset " +
                               std::to_string(offset));
            break;
        }
        ++index;
        const ImageHeader header = *ReadImageHeader(image, remainder);
        const ImageType type = ImageTypeFromMagic(ReadLe32(header.magic.data()));
        out << "\nImage " << index << " at offset " << offset << "\n";
        out << "  type          " << ImageTypeLabel(type) << "\n";
        out << "  magic         " << PrintableField(header.magic.data(), 4) << " ("
            << Hex(ReadLe32(header.magic.data()), 8) << ")\n";
        if (type == kImageTypeNone) {
            out << "  unrecognised magic: the loader stops here\n";
            problems.push_back("unrecognised magic at offset " + std::to_string(offset));
            break;
        }
        out << "  version       " << PrintableField(header.version.data(), 4) << "\n";
        out << "  length        " << header.totalLength << " bytes\n";
        out << "  revision      " << header.formatRevision << "\n";
        out << "  key words     K0 " << Hex(header.key0, 8) << "  K1 " << Hex(header.key1, 8)
            << "\n";
        out << "  aux1/2/3      " << HexBytes(header.aux1.data(), 8) << " "
            << HexBytes(header.aux2.data(), 4) << " " << HexBytes(header.aux3.data(), 8) << "\n";
        const std::uint32_t length = header.totalLength;
        if (length == 0 || length > remainder) {
            out << "  the image does not fit: " << remainder
                << " bytes remain in the package (truncated?); the loader stops here\n";
            problems.push_back("image " + std::to_string(index) + " at offset " +
                               std::to_string(offset) + " claims " + std::to_string(length) +
                               " bytes, " + std::to_string(remainder) + " remain");
            break;
        }
        const std::uint16_t headerCrc = ComputeHeaderCrc(image);
        if (length > kBodyOffset) {
            const std::uint16_t bodyCrc = ComputeBodyCrc(image, length);
            out << "  body CRC      stored " << Hex(header.bodyCrc, 4) << "  computed "
                << Hex(bodyCrc, 4) << "  " << Verdict(bodyCrc == header.bodyCrc) << "\n";
        } else {
            out << "  body CRC      stored " << Hex(header.bodyCrc, 4) << "  (no body to check)\n";
        }
        out << "  header CRC    stored " << Hex(header.headerCrc, 4) << "  computed "
            << Hex(headerCrc, 4) << "  " << Verdict(headerCrc == header.headerCrc) << "\n";

        ulo_CFirmFile checker;
        const std::int32_t result = checker.Validate(image, length);
        out << "  validation    " << result << " (" << DescribeValidation(image, length, result)
            << ")\n";
        if (result != kFirmOk) {
            problems.push_back("image " + std::to_string(index) + " at offset " +
                               std::to_string(offset) +
                               " fails validation: " + DescribeValidation(image, length, result));
        }
        if (index > kPackageMaxPasses) {
            out << "  ignored: the loader takes at most three images\n";
            problems.push_back("image " + std::to_string(index) + " is ignored by the loader");
        } else {
            if (takenAt[type] >= 0) {
                out << "  replaces the " << ImageTypeLabel(type) << " image at offset "
                    << takenAt[type] << " in its slot\n";
                problems.push_back("two " + std::string(ImageTypeLabel(type)) + " images");
            }
            takenAt[type] = static_cast<int>(offset);
        }
        offset += length;
    }

    FirmwarePackage package;
    const int loaded = SplitFirmwarePackage(bytes, size, package);
    out << "\nLoader\n";
    for (int slot = 0; slot < kImageTypeCount; ++slot) {
        char label[24];
        std::snprintf(label, sizeof label, "  slot %d %-8s", slot, ImageTypeLabel(slot));
        out << label;
        if (package.HasImage(slot)) {
            out << package.imageLength[slot] << " bytes, version "
                << Utf16ForDisplay(package.imageVersion[slot]) << "\n";
        } else {
            out << "empty\n";
        }
    }
    out << "  result        " << loaded << "\n";
    if (loaded != 1) {
        problems.push_back("the loader finds no image");
    }

    if (problems.empty()) {
        out << "\nPackage is valid.\n";
        return true;
    }
    out << "\nPackage is NOT valid:\n";
    for (const std::string& problem : problems) {
        out << "  - " << problem << "\n";
    }
    return false;
}

int RunPackageInspect(const std::vector<std::string>& args, std::ostream& out, std::ostream& err) {
    if (args.size() == 1 && (args[0] == "--help" || args[0] == "-h")) {
        out << "usage: talvo-package-inspect FILE\n";
        return kExitOk;
    }
    if (args.size() != 1) {
        err << "usage: talvo-package-inspect FILE\n";
        return kExitUsage;
    }
    std::string error;
    auto bytes = ReadWholeFile(args[0], error);
    if (!bytes) {
        err << "talvo-package-inspect: " << error << "\n";
        return kExitUsage;
    }
    if (bytes->size() > 0xFFFFFFFFu) {
        err << "talvo-package-inspect: " << args[0] << " is too large for a package\n";
        return kExitInvalid;
    }
    out << "File: " << args[0] << "\n";
    const bool valid =
        InspectPackage(bytes->data(), static_cast<std::uint32_t>(bytes->size()), out);
    return valid ? kExitOk : kExitInvalid;
}

}  // namespace talvo::fwtools
