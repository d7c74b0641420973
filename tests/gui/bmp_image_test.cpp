// The screenshot file format: header fields, row order and padding, and the
// refusal of sizes the format cannot hold.
#include <gtest/gtest.h>

#include <cstdint>
#include <vector>

#include "tests/gui/bmp_image.h"

namespace talvo::gui {
namespace {

std::uint32_t U32(const std::vector<std::uint8_t>& f, std::size_t at) {
    return f[at] | f[at + 1] << 8 | f[at + 2] << 16 | static_cast<std::uint32_t>(f[at + 3]) << 24;
}

// A picture whose every pixel differs from its neighbours in all channels.
RgbImage Pattern(int w, int h) {
    RgbImage img{w, h, {}};
    for (int y = 0; y < h; ++y) {
        for (int x = 0; x < w; ++x) {
            img.pixels.push_back(static_cast<std::uint8_t>(10 * x + 1));
            img.pixels.push_back(static_cast<std::uint8_t>(20 * y + 2));
            img.pixels.push_back(static_cast<std::uint8_t>(x * y + 3));
        }
    }
    return img;
}

TEST(BmpImage, RowStrideRoundsThreeBytesPerPixelUpToFour) {
    EXPECT_EQ(BmpRowStride(1), 4u);
    EXPECT_EQ(BmpRowStride(2), 8u);
    EXPECT_EQ(BmpRowStride(3), 12u);
    EXPECT_EQ(BmpRowStride(4), 12u);
    EXPECT_EQ(BmpRowStride(5), 16u);
    EXPECT_EQ(BmpRowStride(1280), 3840u);
    EXPECT_EQ(BmpRowStride(0), 0u);
}

TEST(BmpImage, HeaderDescribesAnUncompressedBottomUp24BitPicture) {
    const std::vector<std::uint8_t> f = EncodeBmp24(Pattern(3, 2));
    ASSERT_EQ(f.size(), 54u + 2 * 12);
    EXPECT_EQ(f[0], 'B');
    EXPECT_EQ(f[1], 'M');
    EXPECT_EQ(U32(f, 2), f.size());
    EXPECT_EQ(U32(f, 10), 54u);  // pixels right after both headers
    EXPECT_EQ(U32(f, 14), 40u);  // BITMAPINFOHEADER
    EXPECT_EQ(U32(f, 18), 3u);
    EXPECT_EQ(U32(f, 22), 2u);  // positive height: bottom-up
    EXPECT_EQ(f[26] | f[27] << 8, 1);
    EXPECT_EQ(f[28] | f[29] << 8, 24);
    EXPECT_EQ(U32(f, 30), 0u);  // BI_RGB
    EXPECT_EQ(U32(f, 34), 24u);
}

TEST(BmpImage, RowsAreStoredBottomUpInBlueGreenRedWithZeroPadding) {
    RgbImage img{3, 2, {}};
    // Top row: red, green, blue; bottom row: white, black, grey.
    img.pixels = {255, 0, 0, 0, 255, 0, 0, 0, 255, 255, 255, 255, 0, 0, 0, 128, 128, 128};
    const std::vector<std::uint8_t> f = EncodeBmp24(img);
    ASSERT_EQ(f.size(), 78u);
    const std::vector<std::uint8_t> firstStored(f.begin() + 54, f.begin() + 66);
    const std::vector<std::uint8_t> secondStored(f.begin() + 66, f.end());
    EXPECT_EQ(firstStored,
              (std::vector<std::uint8_t>{255, 255, 255, 0, 0, 0, 128, 128, 128, 0, 0, 0}));
    EXPECT_EQ(secondStored, (std::vector<std::uint8_t>{0, 0, 255, 0, 255, 0, 255, 0, 0, 0, 0, 0}));
}

TEST(BmpImage, DecodingGivesBackThePictureForEveryPadding) {
    for (int w = 1; w <= 5; ++w) {
        const RgbImage img = Pattern(w, 3);
        RgbImage back;
        ASSERT_TRUE(DecodeBmp24(EncodeBmp24(img), &back)) << "width " << w;
        EXPECT_EQ(back.width, w);
        EXPECT_EQ(back.height, 3);
        EXPECT_EQ(back.pixels, img.pixels) << "width " << w;
    }
}

TEST(BmpImage, DibRowsAreWrittenAsTheyAre) {
    const RgbImage img = Pattern(5, 4);
    const std::vector<std::uint8_t> viaPicture = EncodeBmp24(img);
    const std::vector<std::uint8_t> rows(viaPicture.begin() + 54, viaPicture.end());
    EXPECT_EQ(EncodeBmp24FromDib(5, 4, rows), viaPicture);
    // The DIB must be exactly the padded size.
    EXPECT_TRUE(
        EncodeBmp24FromDib(5, 4, std::vector<std::uint8_t>(rows.begin(), rows.end() - 1)).empty());
    std::vector<std::uint8_t> longer = rows;
    longer.push_back(0);
    EXPECT_TRUE(EncodeBmp24FromDib(5, 4, longer).empty());
}

TEST(BmpImage, RefusesSizesThatDoNotMatchOrDoNotFit) {
    EXPECT_TRUE(EncodeBmp24(RgbImage{0, 1, {}}).empty());
    EXPECT_TRUE(EncodeBmp24(RgbImage{1, -1, {1, 2, 3}}).empty());
    RgbImage shortBuffer = Pattern(4, 4);
    shortBuffer.pixels.pop_back();
    EXPECT_TRUE(EncodeBmp24(shortBuffer).empty());
    RgbImage longBuffer = Pattern(4, 4);
    longBuffer.pixels.insert(longBuffer.pixels.end(), {1, 2, 3});
    EXPECT_TRUE(EncodeBmp24(longBuffer).empty());
    // A picture whose pixel array overflows the format's 32-bit sizes is
    // refused before anything is allocated.
    EXPECT_TRUE(EncodeBmp24(RgbImage{0x7FFFFFFF, 0x7FFFFFFF, {}}).empty());
    EXPECT_TRUE(EncodeBmp24FromDib(65536, 65536, {}).empty());
}

TEST(BmpImage, DecodingReadsTopDownFilesAndRejectsOthers) {
    const RgbImage img = Pattern(2, 3);
    std::vector<std::uint8_t> f = EncodeBmp24(img);
    // Flip to top-down: negative height, rows in picture order.
    std::vector<std::uint8_t> topDown(f.begin(), f.begin() + 54);
    const std::uint32_t minus3 = static_cast<std::uint32_t>(-3);
    for (int i = 0; i < 4; ++i) {
        topDown[22 + i] = static_cast<std::uint8_t>(minus3 >> (8 * i));
    }
    const std::size_t stride = BmpRowStride(2);
    for (int row = 2; row >= 0; --row) {
        topDown.insert(topDown.end(), f.begin() + 54 + row * stride,
                       f.begin() + 54 + (row + 1) * stride);
    }
    RgbImage back;
    ASSERT_TRUE(DecodeBmp24(topDown, &back));
    EXPECT_EQ(back.pixels, img.pixels);

    EXPECT_FALSE(DecodeBmp24(std::vector<std::uint8_t>(f.begin(), f.end() - 1), &back));
    EXPECT_FALSE(DecodeBmp24(std::vector<std::uint8_t>(f.begin(), f.begin() + 20), &back));
    std::vector<std::uint8_t> notBmp = f;
    notBmp[0] = 'X';
    EXPECT_FALSE(DecodeBmp24(notBmp, &back));
    std::vector<std::uint8_t> deeper = f;
    deeper[28] = 32;
    EXPECT_FALSE(DecodeBmp24(deeper, &back));
    std::vector<std::uint8_t> compressed = f;
    compressed[30] = 1;
    EXPECT_FALSE(DecodeBmp24(compressed, &back));
    std::vector<std::uint8_t> offsetPastEnd = f;
    offsetPastEnd[10] = 0xFF;
    offsetPastEnd[11] = 0xFF;
    EXPECT_FALSE(DecodeBmp24(offsetPastEnd, &back));
}

}  // namespace
}  // namespace talvo::gui
