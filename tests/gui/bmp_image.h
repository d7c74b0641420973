// 24-bit uncompressed BMP files for the screenshots the GUI driver takes.
// The encoder is portable (the capture itself is Win32) so its byte layout
// is checked natively as well.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

namespace talvo::gui {

// One picture: width x height pixels, rows from the top, three bytes per
// pixel in red, green, blue order, no padding between rows.
struct RgbImage {
    int width = 0;
    int height = 0;
    std::vector<std::uint8_t> pixels;
};

// Bytes of one stored BMP row: three per pixel, rounded up to four.
std::size_t BmpRowStride(int width);

// Encodes the picture as a BMP file (BITMAPFILEHEADER + BITMAPINFOHEADER,
// bottom-up rows, BGR, 2835 pixels per metre). Returns an empty vector when
// the sizes are not positive, the pixel buffer does not match them, or the
// file would not fit in 32-bit sizes.
std::vector<std::uint8_t> EncodeBmp24(const RgbImage& image);

// Same, from rows already in the stored layout: bottom-up, BGR, each row
// padded to BmpRowStride(width). This is what a 24-bit DIB holds.
std::vector<std::uint8_t> EncodeBmp24FromDib(int width, int height,
                                             std::span<const std::uint8_t> dibRows);

// Reads back a file written by the encoders above (24-bit, uncompressed,
// bottom-up or top-down). Returns false for anything else or a truncated file.
bool DecodeBmp24(std::span<const std::uint8_t> file, RgbImage* image);

}  // namespace talvo::gui
