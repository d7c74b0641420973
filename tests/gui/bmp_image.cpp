#include "tests/gui/bmp_image.h"

#include <algorithm>
#include <limits>

namespace talvo::gui {
namespace {

constexpr std::size_t kFileHeaderSize = 14;
constexpr std::size_t kInfoHeaderSize = 40;
constexpr std::size_t kPixelOffset = kFileHeaderSize + kInfoHeaderSize;
constexpr std::uint32_t kPixelsPerMetre = 2835;  // 72 dpi

void Put16(std::uint8_t* p, std::uint16_t v) {
    p[0] = static_cast<std::uint8_t>(v);
    p[1] = static_cast<std::uint8_t>(v >> 8);
}

void Put32(std::uint8_t* p, std::uint32_t v) {
    for (int i = 0; i < 4; ++i) {
        p[i] = static_cast<std::uint8_t>(v >> (8 * i));
    }
}

std::uint32_t Get32(const std::uint8_t* p) {
    return static_cast<std::uint32_t>(p[0]) | static_cast<std::uint32_t>(p[1]) << 8 |
           static_cast<std::uint32_t>(p[2]) << 16 | static_cast<std::uint32_t>(p[3]) << 24;
}

std::uint16_t Get16(const std::uint8_t* p) {
    return static_cast<std::uint16_t>(p[0] | p[1] << 8);
}

// The size of the pixel array, or 0 when it does not fit the format's
// 32-bit fields.
std::size_t PixelBytes(int width, int height) {
    if (width <= 0 || height <= 0) {
        return 0;
    }
    const std::uint64_t stride = (static_cast<std::uint64_t>(width) * 3 + 3) / 4 * 4;
    const std::uint64_t total = stride * static_cast<std::uint64_t>(height);
    if (total > std::numeric_limits<std::uint32_t>::max() - kPixelOffset ||
        total > std::numeric_limits<std::size_t>::max() - kPixelOffset) {
        return 0;
    }
    return static_cast<std::size_t>(total);
}

std::vector<std::uint8_t> Header(int width, int height, std::size_t pixelBytes) {
    std::vector<std::uint8_t> file(kPixelOffset + pixelBytes, 0);
    std::uint8_t* h = file.data();
    h[0] = 'B';
    h[1] = 'M';
    Put32(h + 2, static_cast<std::uint32_t>(file.size()));
    Put32(h + 10, static_cast<std::uint32_t>(kPixelOffset));
    std::uint8_t* info = h + kFileHeaderSize;
    Put32(info + 0, static_cast<std::uint32_t>(kInfoHeaderSize));
    Put32(info + 4, static_cast<std::uint32_t>(width));
    Put32(info + 8, static_cast<std::uint32_t>(height));  // positive: bottom-up
    Put16(info + 12, 1);                                  // planes
    Put16(info + 14, 24);                                 // bits per pixel
    Put32(info + 16, 0);                                  // BI_RGB
    Put32(info + 20, static_cast<std::uint32_t>(pixelBytes));
    Put32(info + 24, kPixelsPerMetre);
    Put32(info + 28, kPixelsPerMetre);
    return file;
}

}  // namespace

std::size_t BmpRowStride(int width) {
    if (width <= 0) {
        return 0;
    }
    return (static_cast<std::size_t>(width) * 3 + 3) / 4 * 4;
}

std::vector<std::uint8_t> EncodeBmp24(const RgbImage& image) {
    const std::size_t pixelBytes = PixelBytes(image.width, image.height);
    if (pixelBytes == 0) {
        return {};
    }
    const std::size_t w = static_cast<std::size_t>(image.width);
    const std::size_t h = static_cast<std::size_t>(image.height);
    if (image.pixels.size() / 3 / w != h || image.pixels.size() != w * h * 3) {
        return {};
    }
    std::vector<std::uint8_t> file = Header(image.width, image.height, pixelBytes);
    const std::size_t stride = BmpRowStride(image.width);
    for (std::size_t y = 0; y < h; ++y) {
        const std::uint8_t* src = image.pixels.data() + y * w * 3;
        std::uint8_t* dst = file.data() + kPixelOffset + (h - 1 - y) * stride;
        for (std::size_t x = 0; x < w; ++x) {
            dst[3 * x + 0] = src[3 * x + 2];
            dst[3 * x + 1] = src[3 * x + 1];
            dst[3 * x + 2] = src[3 * x + 0];
        }
    }
    return file;
}

std::vector<std::uint8_t> EncodeBmp24FromDib(int width, int height,
                                             std::span<const std::uint8_t> dibRows) {
    const std::size_t pixelBytes = PixelBytes(width, height);
    if (pixelBytes == 0 || dibRows.size() != pixelBytes) {
        return {};
    }
    std::vector<std::uint8_t> file = Header(width, height, pixelBytes);
    std::copy(dibRows.begin(), dibRows.end(), file.begin() + kPixelOffset);
    return file;
}

bool DecodeBmp24(std::span<const std::uint8_t> file, RgbImage* image) {
    if (file.size() < kPixelOffset || file[0] != 'B' || file[1] != 'M') {
        return false;
    }
    const std::uint8_t* info = file.data() + kFileHeaderSize;
    const std::uint32_t offset = Get32(file.data() + 10);
    const std::int32_t width = static_cast<std::int32_t>(Get32(info + 4));
    const std::int32_t rawHeight = static_cast<std::int32_t>(Get32(info + 8));
    if (Get32(info) < kInfoHeaderSize || Get16(info + 12) != 1 || Get16(info + 14) != 24 ||
        Get32(info + 16) != 0 || width <= 0 || rawHeight == 0 ||
        rawHeight == std::numeric_limits<std::int32_t>::min()) {
        return false;
    }
    const bool bottomUp = rawHeight > 0;
    const int height = bottomUp ? rawHeight : -rawHeight;
    const std::size_t pixelBytes = PixelBytes(width, height);
    if (pixelBytes == 0 || offset < kPixelOffset || offset > file.size() ||
        file.size() - offset < pixelBytes) {
        return false;
    }
    const std::size_t stride = BmpRowStride(width);
    const std::size_t w = static_cast<std::size_t>(width);
    const std::size_t h = static_cast<std::size_t>(height);
    image->width = width;
    image->height = height;
    image->pixels.assign(w * h * 3, 0);
    for (std::size_t y = 0; y < h; ++y) {
        const std::size_t storedRow = bottomUp ? h - 1 - y : y;
        const std::uint8_t* src = file.data() + offset + storedRow * stride;
        std::uint8_t* dst = image->pixels.data() + y * w * 3;
        for (std::size_t x = 0; x < w; ++x) {
            dst[3 * x + 0] = src[3 * x + 2];
            dst[3 * x + 1] = src[3 * x + 1];
            dst[3 * x + 2] = src[3 * x + 0];
        }
    }
    return true;
}

}  // namespace talvo::gui
