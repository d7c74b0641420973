// The device's table of the commands it understands: for each request kind,
// group and command, how long the request payload must be, how long the
// answer's payload is, and what the device does with it. Commands that set
// something and the command that reads it back share their storage.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>

namespace talvo {

inline constexpr std::uint8_t kKindSetRequest = 0;
inline constexpr std::uint8_t kKindSetResponse = 1;
inline constexpr std::uint8_t kKindGetRequest = 2;
inline constexpr std::uint8_t kKindGetResponse = 3;

inline constexpr std::uint8_t kGroupFirmwareUpdate = 9;
inline constexpr std::uint8_t kCmdFuSetInfo = 0;
inline constexpr std::uint8_t kCmdFuFwLoad = 1;
inline constexpr std::uint8_t kCmdFuWriteFw = 3;
inline constexpr std::size_t kMaxPieceSize = 10240;

// The three steps of the update group, by (group, command).
enum class UpdateStep { kNone, kSetInfo, kFwLoad, kWriteFw };
UpdateStep UpdateStepOf(std::uint8_t group, std::uint8_t command);
// "FU_SETINFO", "FU_FWLOAD", "FU_WRITEFW"; "" for kNone.
const char* UpdateStepName(UpdateStep step);

// Request payload length rule.
enum class RequestShape : std::uint8_t {
    kFixed,     // exactly `requestLength`
    kCountAt4,  // 32-bit word, 16-bit count n at payload 4..5, n bytes: n + 6
    kCountAt1,  // byte, 8-bit count n at payload 1, n bytes: n + 2
    kCountAt2,  // two bytes, 8-bit count n at payload 2, n bytes: n + 3
    kUpTo82,    // 0 to 82 bytes
    kPiece,     // firmware piece: 6-byte head and 1 .. 10,240 bytes
};

// Response payload length rule; counts come from the request.
enum class ResponseShape : std::uint8_t {
    kFixed,       // `responseLength`
    kCountPlus6,  // request count at payload 4..5, plus 6
    kCountPlus2,  // request count at payload 1, plus 2
    kCountPlus3,  // request count at payload 2, plus 3
};

enum class Behaviour : std::uint8_t {
    kAccept,       // acknowledged, nothing kept
    kEchoPayload,  // answers with the request payload
    kConstant,     // answers with fixed device data
    kModeChange,   // restart into the other mode
    kModeQuery,    // value: 0 in update mode, 1 in normal mode
    kVersion,      // version text of a type code
    kVerdict,      // result of the last updater image
    // Set/get pairs: the set keeps, the get answers what was kept
    // (device_store.h).
    kValuePayloadStore,  // keeps the request value and payload ...
    kValuePayloadLoad,   // ... answers both
    kPayloadStore,       // keeps the payload ...
    kPayloadLoad,        // ... and answers it
    kIndexedStore,       // keeps the payload under the request value ...
    kIndexedLoad,        // ... and answers it for that value
    kSubIndexedStore,    // keeps payload[1..] under (value, payload[0]) ...
    kSubIndexedLoad,     // ... answers payload[0] and what was kept
    kBlockStore,         // keeps n bytes under (value, payload[0]) ...
    kBlockLoad,          // ... answers payload[0], n and the bytes
    kMemoryStore,        // writes n bytes at a 32-bit address in a bank (the value) ...
    kMemoryLoad,         // ... reads them back after the echoed address and count
    kAddressedStore,     // writes n bytes at address payload[0..1] ...
    kAddressedLoad,      // ... reads them back after the three echoed bytes
    kFirmwareUpdate,     // the update group
};

struct CatalogueRow {
    std::uint8_t kind;  // kKindSetRequest or kKindGetRequest
    std::uint8_t group;
    std::uint8_t command;
    RequestShape request;
    std::uint16_t requestLength;
    ResponseShape response;
    std::uint16_t responseLength;
    Behaviour behaviour;
};

std::span<const CatalogueRow> CatalogueRows();
// Null when the device does not know the (kind, group, command).
const CatalogueRow* FindCatalogueRow(std::uint8_t kind, std::uint8_t group, std::uint8_t command);

// Whether a request payload of this length fits the row.
bool RequestLengthFits(const CatalogueRow& row, const std::uint8_t* payload, std::size_t length);
// Payload length the answer declares for this request.
std::size_t ResponseLengthFor(const CatalogueRow& row, const std::uint8_t* payload);

}  // namespace talvo
