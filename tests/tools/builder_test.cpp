#include "tools/fw_image_builder.h"

#include <cstring>

#include <gtest/gtest.h>

namespace talvo::fwtools {
namespace {

TEST(SeededBytes, FixedStreamPerSeed) {
    // The first word of splitmix64 from seed 0, little-endian: the stream
    // must not depend on the platform, or the shipped package could not be rebuilt.
    const Bytes first = SeededBytes(0, 8);
    const Bytes expected{0xAF, 0xCD, 0x1D, 0x7B, 0x39, 0xA8, 0x20, 0xE2};
    EXPECT_EQ(first, expected);
    EXPECT_EQ(SeededBytes(5, 100), SeededBytes(5, 100));
    const Bytes longer = SeededBytes(5, 103);
    EXPECT_EQ(Bytes(longer.begin(), longer.begin() + 100), SeededBytes(5, 100));
    EXPECT_NE(SeededBytes(5, 100), SeededBytes(6, 100));
}

TEST(BuildImage, PlacesEveryFieldAndScramblesEachRangeFromK0) {
    ImageParams params = SeededImage("DSPA", "3.21", 1000, 42, 0x11223344, 0x55667788);
    params.aux1 = {1, 2, 3, 4, 5, 6, 7, 8};
    params.aux2 = {9, 10, 11, 12};
    params.aux3 = {13, 14, 15, 16, 17, 18, 19, 20};
    const Bytes image = BuildImage(params);
    ASSERT_EQ(image.size(), 1000u);

    EXPECT_EQ(std::memcmp(&image[512], "DSPA", 4), 0);
    EXPECT_EQ(std::memcmp(&image[516], "3.21", 4), 0);
    EXPECT_EQ(std::memcmp(&image[520], params.aux1.data(), 8), 0);
    EXPECT_EQ(ReadLe32(&image[528]), 6u);
    EXPECT_EQ(ReadLe32(&image[532]), 0x11223344u);
    EXPECT_EQ(ReadLe32(&image[536]), 0x55667788u);
    EXPECT_EQ(std::memcmp(&image[540], params.aux2.data(), 4), 0);
    EXPECT_EQ(ReadLe32(&image[544]), 1000u);
    EXPECT_EQ(std::memcmp(&image[548], params.aux3.data(), 8), 0);

    // Stored = plain XOR key, word by word, restarting with K0 at the body.
    const std::uint8_t k0[4] = {0x44, 0x33, 0x22, 0x11};
    const std::uint8_t k1[4] = {0x88, 0x77, 0x66, 0x55};
    for (std::size_t i = 0; i < 512; ++i) {
        const std::uint8_t key = (i / 4) % 2 == 0 ? k0[i % 4] : k1[i % 4];
        ASSERT_EQ(image[i], params.leadingBlock[i] ^ key) << i;
    }
    for (std::size_t i = 0; i < params.body.size(); ++i) {
        const std::uint8_t key = (i / 4) % 2 == 0 ? k0[i % 4] : k1[i % 4];
        ASSERT_EQ(image[560 + i], params.body[i] ^ key) << i;
    }

    // Body CRC over plain leading block then plain body; header CRC over 512..557 as stored.
    Bytes plain = params.leadingBlock;
    plain.insert(plain.end(), params.body.begin(), params.body.end());
    EXPECT_EQ(ReadLe16(&image[556]), Crc16Update(plain.data(), 952, 0));
    EXPECT_EQ(ReadLe16(&image[558]), Crc16Update(&image[512], 46, 0));

    ulo_CFirmFile file;
    EXPECT_EQ(file.Validate(image.data(), 1000), kFirmOk);
}

TEST(BuildImage, OverridesAreStoredAsGiven) {
    ImageParams params = SeededImage("ABCD", "1.07", 800, 1, 2, 3);
    params.totalLength = 0x12345678;
    params.bodyCrc = 0xBEEF;
    params.headerCrc = 0xCAFE;
    params.formatRevision = 7;
    const Bytes image = BuildImage(params);
    EXPECT_EQ(image.size(), 800u);
    EXPECT_EQ(std::memcmp(&image[512], "ABCD", 4), 0);
    EXPECT_EQ(ReadLe32(&image[528]), 7u);
    EXPECT_EQ(ReadLe32(&image[544]), 0x12345678u);
    EXPECT_EQ(ReadLe16(&image[556]), 0xBEEF);
    EXPECT_EQ(ReadLe16(&image[558]), 0xCAFE);
}

TEST(BuildImage, RefreshChecksumsMakesAnEditedImageValidAgain) {
    Bytes image = BuildImage(SeededImage("UASP", "1.07", 1024, 3, 4, 5));
    image[kAux2Offset] ^= 0xFF;
    image[600] ^= 0x01;
    ulo_CFirmFile file;
    ASSERT_EQ(file.Validate(image.data(), 1024), kFirmBadChecksum);
    RefreshChecksums(image);
    EXPECT_EQ(file.Validate(image.data(), 1024), kFirmOk);
}

TEST(ReadImageHeader, ReadsBackWhatWasBuiltAndRefusesShortInput) {
    const Bytes image = BuildImage(SeededImage("FWUP", "0.01", 700, 8, 0xA1B2C3D4, 0x01020304));
    const auto header = ReadImageHeader(image.data(), image.size());
    ASSERT_TRUE(header);
    EXPECT_EQ(ReadLe32(header->magic.data()), kMagicFwup);
    EXPECT_EQ(header->key0, 0xA1B2C3D4u);
    EXPECT_EQ(header->key1, 0x01020304u);
    EXPECT_EQ(header->totalLength, 700u);
    EXPECT_EQ(header->bodyCrc, ComputeBodyCrc(image.data(), 700));
    EXPECT_EQ(header->headerCrc, ComputeHeaderCrc(image.data()));
    EXPECT_FALSE(ReadImageHeader(image.data(), 559));
}

TEST(DescribeValidation, NamesTheFailedCheck) {
    auto reason = [](const Bytes& image, std::uint32_t size) {
        ulo_CFirmFile file;
        return DescribeValidation(image.data(), size, file.Validate(image.data(), size));
    };
    const Bytes good = BuildImage(SeededImage("UASP", "1.07", 1024, 1, 2, 3));
    EXPECT_EQ(reason(good, 1024), "valid");
    EXPECT_NE(reason(good, 560).find("too short"), std::string::npos);
    EXPECT_NE(reason(good, 1000).find("exceeds"), std::string::npos);

    Bytes bad = good;
    bad[kMagicOffset] = 'u';
    EXPECT_NE(reason(bad, 1024).find("unrecognised magic \"uASP\""), std::string::npos);
    bad = good;
    bad[kFormatRevisionOffset] = 5;
    EXPECT_NE(reason(bad, 1024).find("format revision 5"), std::string::npos);
    bad = good;
    WriteLe32(&bad[kTotalLengthOffset], 1022);
    EXPECT_NE(reason(bad, 1024).find("not a multiple of 4"), std::string::npos);
    WriteLe32(&bad[kTotalLengthOffset], 560);
    EXPECT_NE(reason(bad, 1024).find("no body"), std::string::npos);
    bad = good;
    bad[10] ^= 1;
    EXPECT_EQ(reason(bad, 1024), "body checksum mismatch");
    bad = good;
    bad[kAux1Offset] ^= 1;
    EXPECT_EQ(reason(bad, 1024), "header checksum mismatch");
}

}  // namespace
}  // namespace talvo::fwtools
