// The device's own CRC and its whole-image checks.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <string>

#include "emulator/device_crc.h"
#include "emulator/device_image.h"
#include "tests/emulator/test_image.h"

namespace talvo {
namespace {

using test::BuildTestImage;
using test::TestImageParams;

TEST(DeviceCrc, MatchesPublishedCheckValueAndBitwiseForm) {
    const char* digits = "123456789";
    const auto* d = reinterpret_cast<const std::uint8_t*>(digits);
    EXPECT_EQ(DeviceCrc16(d, 9, 0), 0xD64E);
    EXPECT_EQ(DeviceCrc16(d, 0, 0), 0x0000);
    std::vector<std::uint8_t> data(300);
    for (std::size_t i = 0; i < data.size(); ++i) {
        data[i] = static_cast<std::uint8_t>(i * 37 + 11);
    }
    EXPECT_EQ(DeviceCrc16(data.data(), data.size(), 0),
              test::BitwiseCrc16(data.data(), data.size(), 0));
    EXPECT_EQ(DeviceCrc16(data.data(), data.size(), 0x1234),
              test::BitwiseCrc16(data.data(), data.size(), 0x1234));
}

TEST(DeviceCrc, ChainingEqualsOneRunForEverySplit) {
    std::vector<std::uint8_t> data(64);
    for (std::size_t i = 0; i < data.size(); ++i) {
        data[i] = static_cast<std::uint8_t>(0xF0 ^ (i * 13));
    }
    const std::uint16_t whole = DeviceCrc16(data.data(), data.size(), 0);
    for (std::size_t split = 0; split <= data.size(); ++split) {
        const std::uint16_t first = DeviceCrc16(data.data(), split, 0);
        EXPECT_EQ(DeviceCrc16(data.data() + split, data.size() - split, first), whole) << split;
    }
}

ImageCheck Check(const std::vector<std::uint8_t>& image, int typeCode) {
    return CheckImage(image.data(), image.size(), typeCode, DeviceLe16(image.data() + 556));
}

TEST(DeviceImage, AcceptsWellFormedImagesOfEachTypeCode) {
    const struct {
        const char* magic;
        int typeCode;
    } cases[] = {{"FWUP", 0}, {"UASP", 1}, {"DSPA", 3}};
    for (const auto& c : cases) {
        TestImageParams params;
        params.magic = c.magic;
        const auto image = BuildTestImage(params);
        EXPECT_EQ(Check(image, c.typeCode), ImageCheck::kOk) << c.magic;
        // The same image announced under another type code is refused.
        EXPECT_EQ(Check(image, c.typeCode == 1 ? 3 : 1), ImageCheck::kWrongMagic) << c.magic;
    }
    TestImageParams zeroKeys;
    zeroKeys.key0 = zeroKeys.key1 = 0;
    EXPECT_EQ(Check(BuildTestImage(zeroKeys), 1), ImageCheck::kOk);
}

TEST(DeviceImage, ChecksumIsTakenOverDescrambledContent) {
    // An image whose stored body checksum was computed over the scrambled
    // bytes must be refused: the device has to descramble first.
    auto image = BuildTestImage(TestImageParams{});
    const std::uint16_t lead = test::BitwiseCrc16(image.data(), 512, 0);
    test::PutLe16(image, 556, test::BitwiseCrc16(image.data() + 560, image.size() - 560, lead));
    test::ResealHeader(image);
    EXPECT_EQ(Check(image, 1), ImageCheck::kBodyCrcMismatch);
}

TEST(DeviceImage, RefusesMalformedImages) {
    const auto good = BuildTestImage(TestImageParams{});

    std::vector<std::uint8_t> shortImage(good.begin(), good.begin() + 560);
    EXPECT_EQ(Check(shortImage, 1), ImageCheck::kTooShort);

    TestImageParams lower;
    lower.magic = "uasp";
    EXPECT_EQ(Check(BuildTestImage(lower), 1), ImageCheck::kWrongMagic);

    for (std::uint32_t revision : {5u, 7u}) {
        TestImageParams params;
        params.formatRevision = revision;
        EXPECT_EQ(Check(BuildTestImage(params), 1), ImageCheck::kWrongRevision) << revision;
    }

    auto truncated = good;
    truncated.resize(good.size() - 4);
    EXPECT_EQ(Check(truncated, 1), ImageCheck::kWrongLength);

    auto odd = good;
    test::PutLe32(odd, 544, static_cast<std::uint32_t>(good.size() + 2));
    odd.resize(good.size() + 2);
    test::ResealHeader(odd);
    EXPECT_EQ(Check(odd, 1), ImageCheck::kWrongLength);
}

TEST(DeviceImage, OneFlippedBitAnywhereIsCaught) {
    const auto good = BuildTestImage(TestImageParams{});
    const struct {
        std::size_t offset;
        ImageCheck expected;
    } cases[] = {
        {0, ImageCheck::kBodyCrcMismatch},     {511, ImageCheck::kBodyCrcMismatch},
        {560, ImageCheck::kBodyCrcMismatch},   {4559, ImageCheck::kBodyCrcMismatch},
        {520, ImageCheck::kHeaderCrcMismatch}, {541, ImageCheck::kHeaderCrcMismatch},
        {550, ImageCheck::kHeaderCrcMismatch}, {556, ImageCheck::kBodyCrcMismatch},
        {559, ImageCheck::kHeaderCrcMismatch},
    };
    for (const auto& c : cases) {
        auto image = good;
        image[c.offset] ^= 0x10;
        EXPECT_EQ(Check(image, 1), c.expected) << c.offset;
    }
}

TEST(DeviceImage, AnnouncedChecksumMustMatchTheImage) {
    const auto image = BuildTestImage(TestImageParams{});
    const std::uint16_t stored = DeviceLe16(image.data() + 556);
    EXPECT_EQ(CheckImage(image.data(), image.size(), 1, static_cast<std::uint16_t>(stored ^ 1)),
              ImageCheck::kAnnouncedCrcDiffers);
    EXPECT_EQ(ImageVersionText(image.data()), "1.07");
}

}  // namespace
}  // namespace talvo

namespace talvo {
namespace {

// The shipped package, read as plain bytes and split by each image's own
// length: every image in it must pass the device's checks.
TEST(ShippedPackage, EveryImagePassesTheDevicesChecks) {
    const std::string path = std::string(TALVO_SOURCE_DIR) + "/resources/firmware/package.bin";
    std::FILE* file = std::fopen(path.c_str(), "rb");
    if (file == nullptr) {
        GTEST_SKIP() << "no package at " << path;
    }
    std::vector<std::uint8_t> package;
    std::uint8_t buffer[4096];
    for (std::size_t n; (n = std::fread(buffer, 1, sizeof buffer, file)) > 0;) {
        package.insert(package.end(), buffer, buffer + n);
    }
    std::fclose(file);

    std::size_t images = 0;
    for (std::size_t at = 0; at < package.size();) {
        ASSERT_GE(package.size() - at, 561u) << at;
        const std::uint8_t* image = package.data() + at;
        const std::uint32_t length = DeviceLe32(image + image_layout::kTotalLength);
        ASSERT_LE(length, package.size() - at) << at;
        int typeCode = -1;
        for (int code : {0, 1, 3}) {
            if (std::memcmp(image + image_layout::kMagic, MagicForTypeCode(code), 4) == 0) {
                typeCode = code;
            }
        }
        ASSERT_GE(typeCode, 0) << "unknown magic at " << at;
        EXPECT_EQ(CheckImage(image, length, typeCode, DeviceLe16(image + image_layout::kBodyCrc)),
                  ImageCheck::kOk)
            << "image at " << at;
        at += length;
        ++images;
    }
    EXPECT_GE(images, 1u);
}

}  // namespace
}  // namespace talvo
