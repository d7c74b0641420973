// The out-of-memory paths: this executable replaces the nothrow array
// allocation (the one the firmware code uses) with one that can be told to
// fail, so each -1 / 0 result and the state it leaves can be checked.
#include <cstring>
#include <new>

#include <gtest/gtest.h>

#include "firmware/firmware_package.h"
#include "tools/fw_image_builder.h"

namespace {

// Fails the n-th nothrow array allocation from now (1 = the next); 0 = never.
int g_failCountdown = 0;

}  // namespace

void* operator new[](std::size_t size, const std::nothrow_t&) noexcept {
    if (g_failCountdown > 0 && --g_failCountdown == 0) {
        return nullptr;
    }
    try {
        return ::operator new[](size);
    } catch (...) {
        return nullptr;
    }
}

namespace talvo {
namespace {

using fwtools::Bytes;

Bytes Image(const char* magic, const char* version, std::uint32_t length, std::uint64_t seed) {
    return fwtools::BuildImage(fwtools::SeededImage(magic, version, length, seed, 3, 4));
}

std::int32_t Check(ulo_CFirmFile& file, const Bytes& image) {
    return file.Validate(image.data(), static_cast<std::uint32_t>(image.size()));
}

TEST(OutOfMemory, ValidateWorkingCopy) {
    ulo_CFirmFile file;
    const Bytes first = Image("UASP", "1.07", 1024, 1);
    ASSERT_EQ(Check(file, first), kFirmOk);

    g_failCountdown = 1;
    EXPECT_EQ(Check(file, Image("DSPA", "2.00", 2048, 2)), kFirmNoMemory);
    EXPECT_EQ(file.GetType(), kImageTypeDspMain) << "type is recorded before the copy";
    EXPECT_EQ(std::string(file.GetVersion().data()), "1.07");
    ASSERT_EQ(file.KeptLength(), 1024u);
    EXPECT_EQ(std::memcmp(file.KeptImage(), first.data(), 1024), 0);
}

TEST(OutOfMemory, ValidateKeptCopyLeavesNoKeptImage) {
    ulo_CFirmFile file;
    ASSERT_EQ(Check(file, Image("UASP", "1.07", 1024, 1)), kFirmOk);
    g_failCountdown = 2;  // the working copy succeeds, the kept copy fails
    EXPECT_EQ(Check(file, Image("DSPA", "2.00", 2048, 2)), kFirmNoMemory);
    EXPECT_EQ(file.KeptImage(), nullptr);
    EXPECT_EQ(file.KeptLength(), 0u);
    // The object is still usable.
    EXPECT_EQ(Check(file, Image("FWUP", "3.00", 700, 3)), kFirmOk);
    EXPECT_EQ(file.KeptLength(), 700u);
}

TEST(OutOfMemory, SplitWorkingBufferEmptiesAllSlots) {
    const Bytes package =
        fwtools::JoinImages({Image("UASP", "1.07", 1024, 1), Image("DSPA", "1.07", 2048, 2)});
    FirmwarePackage slots;
    ASSERT_EQ(SplitFirmwarePackage(package.data(), 3072, slots), 1);
    g_failCountdown = 1;
    EXPECT_EQ(SplitFirmwarePackage(package.data(), 3072, slots), 0);
    for (int slot = 0; slot < kImageTypeCount; ++slot) {
        EXPECT_FALSE(slots.HasImage(slot)) << slot;
        EXPECT_EQ(slots.imageLength[slot], 0u) << slot;
    }
}

TEST(OutOfMemory, SplitSlotCopyKeepsEarlierSlots) {
    const Bytes normal = Image("UASP", "1.07", 1024, 1);
    const Bytes package = fwtools::JoinImages({normal, Image("DSPA", "1.07", 2048, 2)});
    FirmwarePackage slots;
    // Allocations: package copy, slot 1 copy, two for validating it, then slot 2's copy.
    g_failCountdown = 5;
    EXPECT_EQ(SplitFirmwarePackage(package.data(), 3072, slots), 0);
    ASSERT_TRUE(slots.HasImage(kImageTypeNormal));
    EXPECT_EQ(std::memcmp(slots.imageData[kImageTypeNormal].get(), normal.data(), 1024), 0);
    EXPECT_EQ(slots.imageVersion[kImageTypeNormal], u"1.07");
    EXPECT_FALSE(slots.HasImage(kImageTypeDspMain));
    EXPECT_EQ(slots.imageLength[kImageTypeDspMain], 0u);
}

}  // namespace
}  // namespace talvo
