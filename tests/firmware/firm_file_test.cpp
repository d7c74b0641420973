#include "firmware/firm_file.h"

#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "tools/fw_image_builder.h"

namespace talvo {
namespace {

using fwtools::Bytes;

// Bit by bit, straight from the definition of CRC-16/GENIBUS.
std::uint16_t ReferenceCrc(const Bytes& data) {
    std::uint16_t reg = 0xFFFF;
    for (std::uint8_t byte : data) {
        reg ^= static_cast<std::uint16_t>(byte << 8);
        for (int bit = 0; bit < 8; ++bit) {
            reg = static_cast<std::uint16_t>((reg & 0x8000) ? (reg << 1) ^ 0x1021 : reg << 1);
        }
    }
    return static_cast<std::uint16_t>(reg ^ 0xFFFF);
}

TEST(Crc16, CheckValueEmptyInputAndBitwiseReference) {
    const char digits[] = "123456789";
    EXPECT_EQ(Crc16Update(reinterpret_cast<const std::uint8_t*>(digits), 9, 0), 0xD64E);
    EXPECT_EQ(Crc16Update(nullptr, 0, 0), 0);
    // Every table entry is reached by some byte of 4 KiB of random data.
    const Bytes data = fwtools::SeededBytes(7, 4096);
    EXPECT_EQ(Crc16Update(data.data(), 4096, 0), ReferenceCrc(data));
    for (int value = 0; value < 256; ++value) {
        const Bytes one{static_cast<std::uint8_t>(value)};
        ASSERT_EQ(Crc16Update(one.data(), 1, 0), ReferenceCrc(one)) << value;
    }
}

TEST(Crc16, ChainingGivesTheSameResultForEverySplit) {
    const Bytes data = fwtools::SeededBytes(11, 300);
    const std::uint16_t whole = Crc16Update(data.data(), 300, 0);
    for (std::uint32_t split = 0; split <= 300; ++split) {
        const std::uint16_t first = Crc16Update(data.data(), split, 0);
        ASSERT_EQ(Crc16Update(data.data() + split, 300 - split, first), whole) << split;
    }
}

TEST(XorWords, AlternatesKeyWordsOverLittleEndianWords) {
    Bytes data{0x00, 0x01, 0x02, 0x03, 0x04, 0x05, 0x06, 0x07, 0x08, 0x09, 0x0A, 0x0B};
    const std::uint32_t key[2] = {0x11223344, 0xA0B0C0D0};
    XorWords(data.data(), 12, key);
    const Bytes expected{0x44, 0x32, 0x20, 0x12,   // word 0 ^ K0
                         0xD4, 0xC5, 0xB6, 0xA7,   // word 1 ^ K1
                         0x4C, 0x3A, 0x28, 0x1A};  // word 2 ^ K0
    EXPECT_EQ(data, expected);
    XorWords(data.data(), 12, key);
    EXPECT_EQ(data[5], 0x05) << "XOR is its own inverse";
}

TEST(XorWords, PartialLastWordStopsAtLength) {
    const std::uint32_t key[2] = {0x04030201, 0x08070605};
    for (std::uint32_t length = 0; length <= 9; ++length) {
        Bytes data(16, 0xAA);
        XorWords(data.data(), length, key);
        for (std::uint32_t i = 0; i < 16; ++i) {
            // Byte i belongs to word i / 4; its key byte is byte i % 4 of that word's key.
            const std::uint8_t keyByte =
                static_cast<std::uint8_t>(key[(i / 4) & 1] >> (8 * (i % 4)));
            const std::uint8_t want = i < length ? static_cast<std::uint8_t>(0xAA ^ keyByte) : 0xAA;
            ASSERT_EQ(data[i], want) << "length " << length << " byte " << i;
        }
    }
}

class ValidateTest : public ::testing::Test {
  protected:
    static Bytes Image(const char* magic, const char* version, std::uint32_t length,
                       std::uint64_t seed = 1, std::uint32_t key0 = 0x9E3779B9,
                       std::uint32_t key1 = 0x7F4A7C15) {
        return fwtools::BuildImage(fwtools::SeededImage(magic, version, length, seed, key0, key1));
    }
    static std::int32_t Check(ulo_CFirmFile& file, const Bytes& image) {
        return file.Validate(image.data(), static_cast<std::uint32_t>(image.size()));
    }
    static std::string Version(const ulo_CFirmFile& file) {
        const FirmVersion version = file.GetVersion();
        return std::string(version.data());
    }
    static Bytes WithTotalLength(Bytes image, std::uint32_t totalLength) {
        WriteLe32(&image[kTotalLengthOffset], totalLength);
        WriteLe16(&image[kHeaderCrcOffset], fwtools::ComputeHeaderCrc(image.data()));
        return image;
    }
};

TEST_F(ValidateTest, FreshObjectHasNoImage) {
    ulo_CFirmFile file;
    EXPECT_EQ(file.GetType(), kImageTypeNone);
    EXPECT_EQ(file.GetVersion(), FirmVersion{});
    EXPECT_EQ(file.KeptImage(), nullptr);
    EXPECT_EQ(file.KeptLength(), 0u);
}

TEST_F(ValidateTest, ValidImageRecordsTypeVersionAndKeepsStoredBytes) {
    struct Case {
        const char* magic;
        ImageType type;
    } cases[] = {{"FWUP", kImageTypeFwup}, {"UASP", kImageTypeNormal}, {"DSPA", kImageTypeDspMain}};
    for (const Case& c : cases) {
        const Bytes image = Image(c.magic, "1.07", 2048);
        const Bytes before = image;
        ulo_CFirmFile file;
        ASSERT_EQ(Check(file, image), kFirmOk) << c.magic;
        EXPECT_EQ(image, before) << "input must not be changed";
        EXPECT_EQ(file.GetType(), c.type);
        const FirmVersion expected{'1', '.', '0', '7', 0, 0, 0, 0};
        EXPECT_EQ(file.GetVersion(), expected);
        ASSERT_EQ(file.KeptLength(), 2048u);
        EXPECT_EQ(std::memcmp(file.KeptImage(), image.data(), 2048), 0) << "kept as stored";
        EXPECT_EQ(file.KeptBodyCrc(), ReadLe16(&image[kBodyCrcOffset]));
    }
}

TEST_F(ValidateTest, UnrecognisedMagicIsRejectedAndLeavesTypeAlone) {
    ulo_CFirmFile file;
    ASSERT_EQ(Check(file, Image("DSPA", "1.07", 1024)), kFirmOk);
    for (const char* magic : {"uasp", "dspa", "fwup", "FWUp", "ABCD", "\0\0\0\0"}) {
        Bytes image = Image("UASP", "1.07", 1024);
        std::memcpy(&image[kMagicOffset], magic, 4);
        fwtools::RefreshChecksums(image);
        EXPECT_EQ(Check(file, image), kFirmBadFormat) << magic;
        EXPECT_EQ(file.GetType(), kImageTypeDspMain);
    }
}

TEST_F(ValidateTest, WrongRevisionIsRejectedAfterTypeIsSet) {
    for (std::uint32_t revision : {0u, 5u, 7u, 0x106u}) {
        fwtools::ImageParams params = fwtools::SeededImage("FWUP", "1.07", 1024, 3, 1, 2);
        params.formatRevision = revision;
        ulo_CFirmFile file;
        EXPECT_EQ(Check(file, fwtools::BuildImage(params)), kFirmBadFormat) << revision;
        EXPECT_EQ(file.GetType(), kImageTypeFwup) << revision;
    }
}

TEST_F(ValidateTest, SizeAndTotalLengthLimits) {
    ulo_CFirmFile file;
    const Bytes image = Image("UASP", "1.07", 1024);
    EXPECT_EQ(file.Validate(image.data(), 560), kFirmBadFormat);
    EXPECT_EQ(file.Validate(image.data(), 0), kFirmBadFormat);
    EXPECT_EQ(file.Validate(nullptr, 1024), kFirmBadFormat);
    // 561 bytes given, the header claims 1024.
    EXPECT_EQ(file.Validate(image.data(), 561), kFirmBadFormat);
    EXPECT_EQ(file.Validate(image.data(), 1023), kFirmBadFormat);
    EXPECT_EQ(file.Validate(image.data(), 1024), kFirmOk);

    // A caller may pass more bytes than the image has; only totalLength is kept.
    Bytes longer = image;
    longer.resize(1100, 0xEE);
    EXPECT_EQ(Check(file, longer), kFirmOk);
    EXPECT_EQ(file.KeptLength(), 1024u);

    // A length field one more than the bytes given, or not a multiple of 4.
    EXPECT_EQ(Check(file, WithTotalLength(image, 1025)), kFirmBadFormat);
    EXPECT_EQ(Check(file, WithTotalLength(longer, 1026)), kFirmBadFormat);
}

TEST_F(ValidateTest, TotalLengthWithoutBodyIsRejectedEvenWhenMoreBytesAreGiven) {
    ulo_CFirmFile file;
    const Bytes image = Image("UASP", "1.07", 1024);
    for (std::uint32_t totalLength : {0u, 4u, 512u, 548u, 556u, 560u}) {
        EXPECT_EQ(Check(file, WithTotalLength(image, totalLength)), kFirmBadFormat) << totalLength;
    }
    // The smallest image with a body: one word.
    EXPECT_EQ(Check(file, Image("UASP", "1.07", 564)), kFirmOk);
    EXPECT_EQ(file.KeptLength(), 564u);
}

TEST_F(ValidateTest, AnyBitFlipInCoveredBytesIsAChecksumMismatch) {
    const Bytes image = Image("DSPA", "1.07", 1024);
    // Leading block, version, aux1/aux2/aux3, key words (they change the
    // descrambled content), both stored checksums, the body.
    const std::uint32_t offsets[] = {0,
                                     1,
                                     255,
                                     511,
                                     kVersionOffset,
                                     kAux1Offset,
                                     527,
                                     kScrambleKeyOffset,
                                     539,
                                     kAux2Offset,
                                     543,
                                     kAux3Offset,
                                     555,
                                     kBodyCrcOffset,
                                     557,
                                     kHeaderCrcOffset,
                                     559,
                                     kBodyOffset,
                                     800,
                                     1023};
    for (std::uint32_t offset : offsets) {
        for (int bit = 0; bit < 8; ++bit) {
            Bytes broken = image;
            broken[offset] ^= static_cast<std::uint8_t>(1 << bit);
            ulo_CFirmFile file;
            ASSERT_EQ(Check(file, broken), kFirmBadChecksum) << offset << " bit " << bit;
        }
    }
}

TEST_F(ValidateTest, BodyAndHeaderChecksumsAreEachChecked) {
    ulo_CFirmFile file;
    // Wrong body checksum under a header checksum that matches the header.
    fwtools::ImageParams params = fwtools::SeededImage("UASP", "1.07", 1024, 5, 1, 2);
    const Bytes good = fwtools::BuildImage(params);
    params.bodyCrc = static_cast<std::uint16_t>(ReadLe16(&good[kBodyCrcOffset]) ^ 0x0100);
    Bytes badBody = fwtools::BuildImage(params);
    ASSERT_EQ(fwtools::ComputeHeaderCrc(badBody.data()), ReadLe16(&badBody[kHeaderCrcOffset]));
    EXPECT_EQ(Check(file, badBody), kFirmBadChecksum);

    // Right body checksum, wrong header checksum.
    params.bodyCrc.reset();
    params.headerCrc = static_cast<std::uint16_t>(ReadLe16(&good[kHeaderCrcOffset]) ^ 1);
    EXPECT_EQ(Check(file, fwtools::BuildImage(params)), kFirmBadChecksum);
    EXPECT_EQ(file.KeptImage(), nullptr);
}

TEST_F(ValidateTest, ZeroKeysStorePlainContentAndPass) {
    const fwtools::ImageParams params = fwtools::SeededImage("UASP", "0.01", 1024, 9, 0, 0);
    const Bytes image = fwtools::BuildImage(params);
    EXPECT_TRUE(std::equal(params.leadingBlock.begin(), params.leadingBlock.end(), image.begin()));
    EXPECT_TRUE(std::equal(params.body.begin(), params.body.end(), image.begin() + kBodyOffset));
    ulo_CFirmFile file;
    EXPECT_EQ(Check(file, image), kFirmOk);
    EXPECT_EQ(Version(file), "0.01");
}

TEST_F(ValidateTest, LaterImagesReplaceKeptValuesOnlyWhenTheyPass) {
    ulo_CFirmFile file;
    const Bytes first = Image("UASP", "1.07", 1024, 1);
    const Bytes second = Image("DSPA", "2.13", 2048, 2, 0x01020304, 0x0A0B0C0D);
    ASSERT_EQ(Check(file, first), kFirmOk);
    ASSERT_EQ(Check(file, second), kFirmOk);
    EXPECT_EQ(file.GetType(), kImageTypeDspMain);
    EXPECT_EQ(Version(file), "2.13");
    ASSERT_EQ(file.KeptLength(), 2048u);
    EXPECT_EQ(std::memcmp(file.KeptImage(), second.data(), 2048), 0);
    EXPECT_EQ(file.KeptBodyCrc(), ReadLe16(&second[kBodyCrcOffset]));

    // A broken Fwup image: the type follows its magic, everything else stays.
    Bytes broken = Image("FWUP", "9.99", 1024, 3);
    broken[700] ^= 0x10;
    EXPECT_EQ(Check(file, broken), kFirmBadChecksum);
    EXPECT_EQ(file.GetType(), kImageTypeFwup);
    EXPECT_EQ(Version(file), "2.13");
    ASSERT_EQ(file.KeptLength(), 2048u);
    EXPECT_EQ(std::memcmp(file.KeptImage(), second.data(), 2048), 0);
    EXPECT_EQ(file.KeptBodyCrc(), ReadLe16(&second[kBodyCrcOffset]));
}

TEST_F(ValidateTest, VersionBytesAreKeptAsTheyAre) {
    ulo_CFirmFile file;
    fwtools::ImageParams params = fwtools::SeededImage("UASP", "", 1024, 4, 5, 6);
    params.version = {'V', 0xB5, 0x00, 'x'};
    ASSERT_EQ(Check(file, fwtools::BuildImage(params)), kFirmOk);
    const FirmVersion expected{'V', static_cast<char>(0xB5), 0, 'x', 0, 0, 0, 0};
    EXPECT_EQ(file.GetVersion(), expected);
}

TEST(ImageTypeNames, MagicsAndLabels) {
    EXPECT_EQ(ImageTypeFromMagic(ReadLe32(reinterpret_cast<const std::uint8_t*>("FWUP"))),
              kImageTypeFwup);
    EXPECT_EQ(ImageTypeFromMagic(ReadLe32(reinterpret_cast<const std::uint8_t*>("UASP"))),
              kImageTypeNormal);
    EXPECT_EQ(ImageTypeFromMagic(ReadLe32(reinterpret_cast<const std::uint8_t*>("DSPA"))),
              kImageTypeDspMain);
    EXPECT_STREQ(ImageTypeLabel(kImageTypeDspMain), "DspMain");
    EXPECT_STREQ(ImageTypeLabel(7), "none");
}

}  // namespace
}  // namespace talvo
