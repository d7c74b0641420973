#include "firmware/firmware_package.h"

#include <cstring>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "tools/fw_image_builder.h"

namespace talvo {
namespace {

using fwtools::Bytes;

Bytes Image(const char* magic, const char* version, std::uint32_t length, std::uint64_t seed) {
    return fwtools::BuildImage(
        fwtools::SeededImage(magic, version, length, seed, 0x6A09E667, 0xBB67AE85));
}

int Split(const Bytes& package, FirmwarePackage& slots) {
    return SplitFirmwarePackage(package.data(), static_cast<std::uint32_t>(package.size()), slots);
}

// The slot holds exactly `image`.
::testing::AssertionResult Holds(const FirmwarePackage& slots, int slot, const Bytes& image) {
    if (!slots.HasImage(slot)) {
        return ::testing::AssertionFailure() << "slot " << slot << " is empty";
    }
    if (slots.imageLength[slot] != image.size() ||
        std::memcmp(slots.imageData[slot].get(), image.data(), image.size()) != 0) {
        return ::testing::AssertionFailure()
               << "slot " << slot << " holds " << slots.imageLength[slot] << " other bytes";
    }
    return ::testing::AssertionSuccess();
}

void ExpectEmpty(const FirmwarePackage& slots, int slot) {
    EXPECT_FALSE(slots.HasImage(slot)) << slot;
    EXPECT_EQ(slots.imageLength[slot], 0u) << slot;
}

TEST(SplitFirmwarePackage, ShippedPackage) {
    std::ifstream file(TALVO_SHIPPED_PACKAGE, std::ios::binary);
    ASSERT_TRUE(file) << TALVO_SHIPPED_PACKAGE;
    const Bytes package((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
    ASSERT_EQ(package.size(), 198796u);

    FirmwarePackage slots;
    EXPECT_EQ(Split(package, slots), 1);
    ExpectEmpty(slots, kImageTypeFwup);
    EXPECT_TRUE(slots.imageVersion[kImageTypeFwup].empty());
    EXPECT_TRUE(Holds(slots, kImageTypeNormal, Bytes(package.begin(), package.begin() + 76044)));
    EXPECT_TRUE(Holds(slots, kImageTypeDspMain, Bytes(package.begin() + 76044, package.end())));
    EXPECT_EQ(slots.imageVersion[kImageTypeNormal], u"1.07");
    EXPECT_EQ(slots.imageVersion[kImageTypeDspMain], u"1.07");
}

TEST(SplitFirmwarePackage, UnrecognisedFirstMagicYieldsNothing) {
    Bytes first = Image("UASP", "1.07", 1024, 1);
    std::memcpy(&first[kMagicOffset], "XASP", 4);
    const Bytes package = fwtools::JoinImages({first, Image("DSPA", "1.07", 2048, 2)});

    FirmwarePackage slots;
    ASSERT_EQ(Split(Image("UASP", "0.50", 600, 9), slots), 1);  // an earlier load
    EXPECT_EQ(Split(package, slots), 0);
    for (int slot = 0; slot < kImageTypeCount; ++slot) {
        ExpectEmpty(slots, slot);
        EXPECT_TRUE(slots.imageVersion[slot].empty()) << slot;
    }
}

TEST(SplitFirmwarePackage, AtMostThreeImagesAreTaken) {
    const Bytes fwup = Image("FWUP", "0.03", 800, 1);
    const Bytes normal = Image("UASP", "1.07", 1200, 2);
    const Bytes dsp = Image("DSPA", "2.01", 1600, 3);
    FirmwarePackage slots;

    Bytes withTrailer = fwtools::JoinImages({fwup, normal, dsp});
    withTrailer.resize(withTrailer.size() + 1000, 0x55);
    EXPECT_EQ(Split(withTrailer, slots), 1);
    EXPECT_TRUE(Holds(slots, kImageTypeFwup, fwup));
    EXPECT_TRUE(Holds(slots, kImageTypeNormal, normal));
    EXPECT_TRUE(Holds(slots, kImageTypeDspMain, dsp));
    EXPECT_EQ(slots.imageVersion[kImageTypeFwup], u"0.03");
    EXPECT_EQ(slots.imageVersion[kImageTypeNormal], u"1.07");
    EXPECT_EQ(slots.imageVersion[kImageTypeDspMain], u"2.01");

    // A fourth image (of a type already seen) is not taken.
    const Bytes fourth = Image("FWUP", "4.44", 900, 4);
    EXPECT_EQ(Split(fwtools::JoinImages({normal, dsp, fwup, fourth}), slots), 1);
    EXPECT_TRUE(Holds(slots, kImageTypeFwup, fwup));
    EXPECT_EQ(slots.imageVersion[kImageTypeFwup], u"0.03");
}

TEST(SplitFirmwarePackage, ImageThatFailsValidationIsPlacedWithoutVersion) {
    Bytes broken = Image("DSPA", "1.07", 2048, 5);
    broken[1000] ^= 0x01;
    FirmwarePackage slots;
    EXPECT_EQ(Split(broken, slots), 1);
    EXPECT_TRUE(Holds(slots, kImageTypeDspMain, broken));
    EXPECT_TRUE(slots.imageVersion[kImageTypeDspMain].empty());
}

TEST(SplitFirmwarePackage, LaterImageOfTheSameTypeWins) {
    const Bytes older = Image("UASP", "1.00", 1024, 6);
    const Bytes newer = Image("UASP", "2.00", 1536, 7);
    FirmwarePackage slots;
    EXPECT_EQ(Split(fwtools::JoinImages({older, newer}), slots), 1);
    EXPECT_TRUE(Holds(slots, kImageTypeNormal, newer));
    EXPECT_EQ(slots.imageVersion[kImageTypeNormal], u"2.00");

    // A broken later image must not inherit the earlier image's version.
    Bytes broken = newer;
    broken[kBodyOffset] ^= 0x80;
    EXPECT_EQ(Split(fwtools::JoinImages({older, broken}), slots), 1);
    EXPECT_TRUE(Holds(slots, kImageTypeNormal, broken));
    EXPECT_TRUE(slots.imageVersion[kImageTypeNormal].empty());
}

TEST(SplitFirmwarePackage, LengthsOutsideThePackageEndTheScan) {
    const Bytes normal = Image("UASP", "1.07", 1024, 8);
    Bytes dsp = Image("DSPA", "1.07", 2048, 9);
    FirmwarePackage slots;

    // Each package is its own exactly-sized allocation, so a read past its
    // end shows up under the address sanitizer.
    for (std::uint32_t badLength : {0u, 2049u, 0xFFFFFFFCu}) {
        Bytes bad = dsp;
        WriteLe32(&bad[kTotalLengthOffset], badLength);
        EXPECT_EQ(Split(bad, slots), 0) << badLength;
        EXPECT_FALSE(slots.HasImage(kImageTypeDspMain));

        EXPECT_EQ(Split(fwtools::JoinImages({normal, bad}), slots), 1) << badLength;
        EXPECT_TRUE(Holds(slots, kImageTypeNormal, normal));
        EXPECT_FALSE(slots.HasImage(kImageTypeDspMain)) << badLength;
    }

    // A truncated package: the second image is cut short.
    Bytes truncated = fwtools::JoinImages({normal, dsp});
    truncated.resize(truncated.size() - 100);
    EXPECT_EQ(Split(truncated, slots), 1);
    EXPECT_TRUE(Holds(slots, kImageTypeNormal, normal));
    EXPECT_FALSE(slots.HasImage(kImageTypeDspMain));

    // Trailing bytes too few for a header, of any count.
    for (std::size_t extra : {1u, 515u, 547u, 559u}) {
        Bytes trailing = normal;
        trailing.resize(trailing.size() + extra, 0x44);
        EXPECT_EQ(Split(trailing, slots), 1) << extra;
        EXPECT_TRUE(Holds(slots, kImageTypeNormal, normal));
    }
}

TEST(SplitFirmwarePackage, TinyLengthsStayInsideThePackage) {
    // A length of 8 is inside the package: those 8 bytes are taken (and fail
    // validation); the scan then goes on from byte 8 within the package.
    Bytes tiny = Image("UASP", "1.07", 1024, 10);
    WriteLe32(&tiny[kTotalLengthOffset], 8);
    FirmwarePackage slots;
    EXPECT_EQ(Split(tiny, slots), 1);
    EXPECT_EQ(slots.imageLength[kImageTypeNormal], 8u);
    EXPECT_TRUE(slots.imageVersion[kImageTypeNormal].empty());
}

TEST(SplitFirmwarePackage, EmptyPackageLeavesSlotsUntouched) {
    const Bytes normal = Image("UASP", "1.07", 1024, 11);
    FirmwarePackage slots;
    ASSERT_EQ(Split(normal, slots), 1);
    const std::uint8_t nothing = 0;
    EXPECT_EQ(SplitFirmwarePackage(&nothing, 0, slots), 0);
    EXPECT_EQ(SplitFirmwarePackage(nullptr, 0, slots), 0);
    EXPECT_TRUE(Holds(slots, kImageTypeNormal, normal));
    EXPECT_EQ(slots.imageVersion[kImageTypeNormal], u"1.07");
}

TEST(VersionText, ReadsUpToTheFirstZero) {
    EXPECT_EQ(VersionTextToUtf16(FirmVersion{'1', '.', '0', '7', 0, 0, 0, 0}), u"1.07");
    EXPECT_EQ(VersionTextToUtf16(FirmVersion{}), u"");
    EXPECT_EQ(VersionTextToUtf16(FirmVersion{'1', 0, '0', '7', 0, 0, 0, 0}), u"1");
    EXPECT_EQ(VersionTextToUtf16(FirmVersion{'a', 'b', 'c', 'd', 'e', 'f', 'g', 'h'}), u"abcdefgh");
}

}  // namespace
}  // namespace talvo
