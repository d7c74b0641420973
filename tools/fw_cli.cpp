#include "tools/fw_cli.h"

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>

namespace talvo::fwtools {

namespace {

const char kFwImageUsage[] =
    "usage: talvo-fwimage --out FILE (--magic ABCD | --type Fwup|Normal|DspMain) --version TEXT\n"
    "                     (--length N [--seed S] | --body FILE [--leading FILE] [--seed S])\n"
    "                     [--key0 N] [--key1 N] [--aux1 HEX16] [--aux2 HEX8] [--aux3 HEX16]\n"
    "                     [--revision N] [--total-length N] [--body-crc N] [--header-crc N]\n"
    "  --length N      whole image in bytes (more than 560, a multiple of 4); the plain\n"
    "                  leading block and body come from the seed (default 0)\n"
    "  --body FILE     plain body from FILE; the leading block from --leading FILE\n"
    "                  (512 bytes) or from the seed\n"
    "  --key0/--key1   scramble key words (default 0)\n"
    "  --revision N    format revision (default 6)\n"
    "  --total-length, --body-crc, --header-crc store the given value instead of the\n"
    "                  right one (for making broken images)\n";

const char kFwPackUsage[] =
    "usage: talvo-fwpack --out FILE [--allow-invalid] IMAGE...\n"
    "  joins the images in the order given; each must be a valid image whose\n"
    "  file length is its total length, and at most three are taken, unless\n"
    "  --allow-invalid\n";

// Parses a decimal or 0x-prefixed hexadecimal number no larger than `max`.
bool ParseNumber(const std::string& text, std::uint64_t max, std::uint64_t& value) {
    if (text.empty() || text[0] == '-' || text[0] == '+' || text[0] == ' ') {
        return false;
    }
    errno = 0;
    char* end = nullptr;
    const unsigned long long parsed = std::strtoull(text.c_str(), &end, 0);
    if (errno != 0 || end == text.c_str() || *end != '\0' || parsed > max) {
        return false;
    }
    value = parsed;
    return true;
}

template <std::size_t N>
bool ParseHexField(const std::string& text, std::array<std::uint8_t, N>& field) {
    if (text.size() != 2 * N) {
        return false;
    }
    for (std::size_t i = 0; i < N; ++i) {
        std::uint64_t byte = 0;
        const std::string pair = "0x" + text.substr(2 * i, 2);
        if (!std::isxdigit(static_cast<unsigned char>(text[2 * i])) ||
            !std::isxdigit(static_cast<unsigned char>(text[2 * i + 1])) ||
            !ParseNumber(pair, 0xFF, byte)) {
            return false;
        }
        field[i] = static_cast<std::uint8_t>(byte);
    }
    return true;
}

std::string Hex16(std::uint16_t value) {
    char text[8];
    std::snprintf(text, sizeof text, "0x%04x", value);
    return text;
}

}  // namespace

std::optional<Bytes> ReadWholeFile(const std::string& path, std::string& error) {
    std::error_code ignored;
    if (std::filesystem::is_directory(path, ignored)) {
        error = path + " is a directory, not a file";
        return std::nullopt;
    }
    std::ifstream file(path, std::ios::binary);
    if (!file) {
        error = "cannot open " + path + ": " + std::strerror(errno);
        return std::nullopt;
    }
    Bytes bytes((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
    if (file.bad()) {
        error = "cannot read " + path;
        return std::nullopt;
    }
    return bytes;
}

bool WriteWholeFile(const std::string& path, const Bytes& bytes, std::string& error) {
    std::ofstream file(path, std::ios::binary | std::ios::trunc);
    if (!file) {
        error = "cannot create " + path + ": " + std::strerror(errno);
        return false;
    }
    file.write(reinterpret_cast<const char*>(bytes.data()),
               static_cast<std::streamsize>(bytes.size()));
    file.close();
    if (!file) {
        error = "cannot write " + path;
        return false;
    }
    return true;
}

int RunFwImage(const std::vector<std::string>& args, std::ostream& out, std::ostream& err) {
    ImageParams params;
    std::string outPath, bodyPath, leadingPath;
    bool haveMagic = false, haveVersion = false;
    std::optional<std::uint64_t> length;
    std::uint64_t seed = 0;

    auto fail = [&](const std::string& message) {
        err << "talvo-fwimage: " << message << "\n" << kFwImageUsage;
        return kExitUsage;
    };
    for (std::size_t i = 0; i < args.size(); ++i) {
        const std::string& option = args[i];
        if (option == "--help" || option == "-h") {
            out << kFwImageUsage;
            return kExitOk;
        }
        if (i + 1 >= args.size()) {
            return fail(option.rfind("--", 0) == 0 ? "missing value for " + option
                                                   : "unexpected argument " + option);
        }
        const std::string& value = args[++i];
        std::uint64_t number = 0;
        auto numberOption = [&](std::uint64_t max) { return ParseNumber(value, max, number); };
        if (option == "--out" || option == "-o") {
            outPath = value;
        } else if (option == "--magic") {
            auto magic = MagicFromText(value);
            if (!magic) {
                return fail("--magic needs exactly 4 characters, not \"" + value + "\"");
            }
            params.magic = *magic;
            haveMagic = true;
        } else if (option == "--type") {
            int type = -1;
            for (int t = 0; t < kImageTypeCount; ++t) {
                if (value == ImageTypeLabel(t)) {
                    type = t;
                }
            }
            if (type < 0) {
                return fail("--type must be Fwup, Normal or DspMain, not \"" + value + "\"");
            }
            params.magic = MagicOfType(static_cast<ImageType>(type));
            haveMagic = true;
        } else if (option == "--version") {
            if (value.empty() || value.size() > kVersionSize) {
                return fail("--version needs 1 to 4 characters, not \"" + value + "\"");
            }
            params.version = {};
            for (std::size_t k = 0; k < params.version.size() && k < value.size(); ++k) {
                params.version[k] = static_cast<std::uint8_t>(value[k]);
            }
            haveVersion = true;
        } else if (option == "--length") {
            if (!numberOption(0xFFFFFFFF) || number <= kBodyOffset || number % 4 != 0) {
                return fail("--length must be more than 560 and a multiple of 4, not " + value);
            }
            length = number;
        } else if (option == "--seed") {
            if (!numberOption(UINT64_MAX)) {
                return fail("bad --seed " + value);
            }
            seed = number;
        } else if (option == "--body") {
            bodyPath = value;
        } else if (option == "--leading") {
            leadingPath = value;
        } else if (option == "--key0" || option == "--key1" || option == "--revision" ||
                   option == "--total-length") {
            if (!numberOption(0xFFFFFFFF)) {
                return fail("bad " + option + " " + value + " (a 32-bit number)");
            }
            const auto word = static_cast<std::uint32_t>(number);
            if (option == "--key0") {
                params.key0 = word;
            } else if (option == "--key1") {
                params.key1 = word;
            } else if (option == "--revision") {
                params.formatRevision = word;
            } else {
                params.totalLength = word;
            }
        } else if (option == "--body-crc" || option == "--header-crc") {
            if (!numberOption(0xFFFF)) {
                return fail("bad " + option + " " + value + " (a 16-bit number)");
            }
            (option == "--body-crc" ? params.bodyCrc : params.headerCrc) =
                static_cast<std::uint16_t>(number);
        } else if (option == "--aux1" || option == "--aux3") {
            if (!ParseHexField(value, option == "--aux1" ? params.aux1 : params.aux3)) {
                return fail(option + " needs 16 hex digits, not \"" + value + "\"");
            }
        } else if (option == "--aux2") {
            if (!ParseHexField(value, params.aux2)) {
                return fail("--aux2 needs 8 hex digits, not \"" + value + "\"");
            }
        } else {
            return fail("unknown option " + option);
        }
    }
    if (outPath.empty() || !haveMagic || !haveVersion) {
        return fail("--out, --magic (or --type) and --version are required");
    }
    if (length.has_value() == !bodyPath.empty()) {
        return fail("give either --length or --body");
    }

    std::string error;
    if (length) {
        const ImageParams seeded =
            SeededImage("UASP", "", static_cast<std::uint32_t>(*length), seed, 0, 0);
        params.leadingBlock = seeded.leadingBlock;
        params.body = seeded.body;
    } else {
        auto body = ReadWholeFile(bodyPath, error);
        if (!body) {
            return fail(error);
        }
        if (body->empty() || body->size() % 4 != 0 || body->size() > 0xFFFFFFFFu - kBodyOffset) {
            return fail("the body in " + bodyPath + " must be a nonzero multiple of 4 bytes");
        }
        params.body = std::move(*body);
        if (!leadingPath.empty()) {
            auto leading = ReadWholeFile(leadingPath, error);
            if (!leading) {
                return fail(error);
            }
            if (leading->size() != kLeadingBlockSize) {
                return fail("the leading block in " + leadingPath + " must be 512 bytes");
            }
            params.leadingBlock = std::move(*leading);
        } else {
            params.leadingBlock = SeededBytes(seed, kLeadingBlockSize);
        }
    }
    const Bytes image = BuildImage(params);
    if (!WriteWholeFile(outPath, image, error)) {
        err << "talvo-fwimage: " << error << "\n";
        return kExitUsage;
    }
    const auto header = ReadImageHeader(image.data(), image.size());
    out << "wrote " << outPath << ": " << image.size() << " bytes, magic "
        << PrintableField(header->magic.data(), 4) << ", version "
        << PrintableField(header->version.data(), 4) << ", body CRC " << Hex16(header->bodyCrc)
        << ", header CRC " << Hex16(header->headerCrc) << "\n";
    return kExitOk;
}

int RunFwPack(const std::vector<std::string>& args, std::ostream& out, std::ostream& err) {
    std::string outPath;
    bool allowInvalid = false;
    std::vector<std::string> inputs;
    auto fail = [&](const std::string& message) {
        err << "talvo-fwpack: " << message << "\n" << kFwPackUsage;
        return kExitUsage;
    };
    for (std::size_t i = 0; i < args.size(); ++i) {
        if (args[i] == "--help" || args[i] == "-h") {
            out << kFwPackUsage;
            return kExitOk;
        } else if (args[i] == "--out" || args[i] == "-o") {
            if (i + 1 >= args.size()) {
                return fail("missing value for " + args[i]);
            }
            outPath = args[++i];
        } else if (args[i] == "--allow-invalid") {
            allowInvalid = true;
        } else if (args[i].rfind("--", 0) == 0) {
            return fail("unknown option " + args[i]);
        } else {
            inputs.push_back(args[i]);
        }
    }
    if (outPath.empty() || inputs.empty()) {
        return fail("--out and at least one image are required");
    }
    if (inputs.size() > kImageTypeCount && !allowInvalid) {
        err << "talvo-fwpack: " << inputs.size()
            << " images given; a package holds at most three (--allow-invalid to join anyway)\n";
        return kExitInvalid;
    }

    std::vector<Bytes> images;
    std::string error;
    for (const std::string& input : inputs) {
        auto image = ReadWholeFile(input, error);
        if (!image) {
            err << "talvo-fwpack: " << error << "\n";
            return kExitUsage;
        }
        if (!allowInvalid) {
            ulo_CFirmFile checker;
            const std::uint32_t size = image->size() > 0xFFFFFFFFu
                                           ? 0xFFFFFFFFu
                                           : static_cast<std::uint32_t>(image->size());
            const std::int32_t result = checker.Validate(image->data(), size);
            if (result != kFirmOk) {
                err << "talvo-fwpack: " << input
                    << " is not a valid image: " << DescribeValidation(image->data(), size, result)
                    << "\n";
                return kExitInvalid;
            }
            const std::uint32_t totalLength = ReadLe32(image->data() + kTotalLengthOffset);
            if (totalLength != image->size()) {
                err << "talvo-fwpack: " << input << " is " << image->size()
                    << " bytes but its total length is " << totalLength << "\n";
                return kExitInvalid;
            }
        }
        images.push_back(std::move(*image));
    }
    const Bytes package = JoinImages(images);
    if (!WriteWholeFile(outPath, package, error)) {
        err << "talvo-fwpack: " << error << "\n";
        return kExitUsage;
    }
    out << "wrote " << outPath << ": " << images.size() << " image(s), " << package.size()
        << " bytes\n";
    return kExitOk;
}

}  // namespace talvo::fwtools
