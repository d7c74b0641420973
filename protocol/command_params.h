// The 84-byte parameter block of one command, and where its fields lie.
//
// The block is a packed record without alignment: numbers are little-endian
// and may start at any byte. b0 is the one-byte argument most commands send
// as the request's value, b80 the request's selector byte; the rest is laid
// out per command (see command_table.cpp).
//
// Pointer fields hold the address of a buffer the caller owns. On the 32-bit
// build a pointer field is 4 bytes, as the commands list them. On a build
// with wider pointers a pointer field is pointer-sized and starts at the same
// byte; every field that follows a pointer field within the same command
// moves up by the extra width. b0 and b80 never move and the order of the
// fields is kept. This header is the one place that layout is written down:
// the command table and every caller use the offsets below.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>

namespace talvo {

struct CommandParams {
    std::uint8_t b[84];
};
static_assert(sizeof(CommandParams) == 84);

// Progress of a firmware download (percent 0..100), called on the thread that
// runs the command.
using ProgressCallback = void (*)(int percent, void* userData);

inline constexpr std::size_t kPointerFieldBytes = sizeof(void*);

namespace params_layout {

// buf(b4): keys 48, 61, 62, 79, 80.
inline constexpr std::size_t kBufferAt4 = 4;
// buf(b12): keys 51, 52, 55, 56, 77, 78.
inline constexpr std::size_t kBufferAt12 = 12;

// Key 64, firmware download: image address, image length (32-bit),
// progress callback, user data.
inline constexpr std::size_t kDownloadImage = 0;
inline constexpr std::size_t kDownloadLength = kDownloadImage + kPointerFieldBytes;
inline constexpr std::size_t kDownloadCallback = kDownloadLength + 4;
inline constexpr std::size_t kDownloadUserData = kDownloadCallback + kPointerFieldBytes;

// Key 82, pass-through: address of the caller's message buffer, its size L.
inline constexpr std::size_t kPassThroughBuffer = 0;
inline constexpr std::size_t kPassThroughLength = kPassThroughBuffer + kPointerFieldBytes;

static_assert(kDownloadUserData + kPointerFieldBytes <= 80, "download fields must not reach b80");
static_assert(kBufferAt12 + kPointerFieldBytes <= 80, "buffer field must not reach b80");
// On the 32-bit build the fields lie exactly as the catalogue lists them:
// key 64 in words 0-3, key 82 with its length in b4-7.
static_assert(kPointerFieldBytes != 4 || (kDownloadLength == 4 && kDownloadCallback == 8 &&
                                          kDownloadUserData == 12 && kPassThroughLength == 4));

}  // namespace params_layout

inline std::uint16_t LoadU16(const CommandParams& p, std::size_t offset) {
    return static_cast<std::uint16_t>(p.b[offset] | (p.b[offset + 1] << 8));
}

inline std::uint32_t LoadU32(const CommandParams& p, std::size_t offset) {
    return static_cast<std::uint32_t>(p.b[offset]) |
           (static_cast<std::uint32_t>(p.b[offset + 1]) << 8) |
           (static_cast<std::uint32_t>(p.b[offset + 2]) << 16) |
           (static_cast<std::uint32_t>(p.b[offset + 3]) << 24);
}

inline void StoreU16(CommandParams& p, std::size_t offset, std::uint16_t v) {
    p.b[offset] = static_cast<std::uint8_t>(v);
    p.b[offset + 1] = static_cast<std::uint8_t>(v >> 8);
}

inline void StoreU32(CommandParams& p, std::size_t offset, std::uint32_t v) {
    for (int i = 0; i < 4; ++i) {
        p.b[offset + i] = static_cast<std::uint8_t>(v >> (8 * i));
    }
}

inline void* LoadPointer(const CommandParams& p, std::size_t offset) {
    void* value = nullptr;
    std::memcpy(&value, p.b + offset, sizeof value);
    return value;
}

inline void StorePointer(CommandParams& p, std::size_t offset, const void* value) {
    std::memcpy(p.b + offset, &value, sizeof value);
}

// Function pointers travel in the block like data pointers; they are copied
// bytewise because a function pointer need not convert to void*.
template <class Fn>
Fn LoadFunction(const CommandParams& p, std::size_t offset) {
    static_assert(sizeof(Fn) == kPointerFieldBytes);
    Fn fn = nullptr;
    std::memcpy(&fn, p.b + offset, sizeof fn);
    return fn;
}

template <class Fn>
void StoreFunction(CommandParams& p, std::size_t offset, Fn fn) {
    static_assert(sizeof(Fn) == kPointerFieldBytes);
    std::memcpy(p.b + offset, &fn, sizeof fn);
}

}  // namespace talvo
