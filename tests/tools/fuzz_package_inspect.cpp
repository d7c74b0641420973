// Arbitrary bytes through the inspector's own walk over the package: every
// header it reads and every checksum it computes must stay inside the input.
#include <cstddef>
#include <cstdint>
#include <ostream>
#include <streambuf>
#include <vector>

#include "firmware/firm_file.h"
#include "tools/package_inspector.h"

namespace {

class NullBuffer : public std::streambuf {
  protected:
    int overflow(int c) override { return c; }
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size > (1u << 20)) {
        return 0;
    }
    NullBuffer buffer;
    std::ostream sink(&buffer);
    talvo::fwtools::InspectPackage(data, static_cast<std::uint32_t>(size), sink);
    // Again with a recognised first magic and revision, so the walk goes on
    // to the lengths, checksums and later images.
    if (size > talvo::kBodyOffset) {
        std::vector<std::uint8_t> package(data, data + size);
        talvo::WriteLe32(&package[talvo::kMagicOffset], talvo::kMagicDspMain);
        talvo::WriteLe32(&package[talvo::kFormatRevisionOffset], talvo::kFormatRevision);
        talvo::fwtools::InspectPackage(package.data(), static_cast<std::uint32_t>(size), sink);
    }
    return 0;
}
