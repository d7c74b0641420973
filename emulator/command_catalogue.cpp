#include "emulator/command_catalogue.h"

#include <array>

namespace talvo {

namespace {

constexpr std::uint8_t S = kKindSetRequest;
constexpr std::uint8_t G = kKindGetRequest;
using RQ = RequestShape;
using RS = ResponseShape;
using B = Behaviour;

// One row per command; the comment gives the host's key for the command.
constexpr CatalogueRow kRows[] = {
    {G, 0, 0, RQ::kFixed, 3, RS::kFixed, 3, B::kEchoPayload},                 // 0
    {S, 0, 1, RQ::kFixed, 0, RS::kFixed, 0, B::kModeChange},                  // 1
    {G, 0, 1, RQ::kFixed, 0, RS::kFixed, 0, B::kModeQuery},                   // 2
    {S, 0, 3, RQ::kFixed, 0, RS::kFixed, 0, B::kAccept},                      // 3
    {S, 0, 4, RQ::kFixed, 0, RS::kFixed, 0, B::kAccept},                      // 4
    {G, 0, 5, RQ::kFixed, 0, RS::kFixed, 76, B::kConstant},                   // 5
    {G, 0, 6, RQ::kFixed, 0, RS::kFixed, 16, B::kVersion},                    // 6
    {G, 0, 7, RQ::kFixed, 0, RS::kFixed, 8, B::kConstant},                    // 7
    {G, 0, 9, RQ::kFixed, 0, RS::kFixed, 1, B::kConstant},                    // 8
    {S, 0, 10, RQ::kFixed, 0, RS::kFixed, 0, B::kValuePayloadStore},          // 9
    {G, 0, 10, RQ::kFixed, 0, RS::kFixed, 0, B::kValuePayloadLoad},           // 10
    {S, 0, 12, RQ::kFixed, 1, RS::kFixed, 0, B::kAccept},                     // 11
    {S, 0, 13, RQ::kFixed, 0, RS::kFixed, 0, B::kValuePayloadStore},          // 12
    {G, 0, 13, RQ::kFixed, 0, RS::kFixed, 0, B::kValuePayloadLoad},           // 13
    {S, 0, 15, RQ::kFixed, 4, RS::kFixed, 0, B::kPayloadStore},               // 14
    {G, 0, 15, RQ::kFixed, 0, RS::kFixed, 4, B::kPayloadLoad},                // 15
    {S, 0, 17, RQ::kFixed, 0, RS::kFixed, 0, B::kValuePayloadStore},          // 16
    {G, 0, 17, RQ::kFixed, 0, RS::kFixed, 0, B::kValuePayloadLoad},           // 17
    {S, 0, 19, RQ::kFixed, 1, RS::kFixed, 0, B::kIndexedStore},               // 18
    {G, 0, 19, RQ::kFixed, 0, RS::kFixed, 1, B::kIndexedLoad},                // 19
    {S, 0, 21, RQ::kFixed, 0, RS::kFixed, 0, B::kValuePayloadStore},          // 20
    {G, 0, 21, RQ::kFixed, 0, RS::kFixed, 0, B::kValuePayloadLoad},           // 21
    {S, 0, 23, RQ::kFixed, 2, RS::kFixed, 0, B::kPayloadStore},               // 22
    {G, 0, 23, RQ::kFixed, 0, RS::kFixed, 2, B::kPayloadLoad},                // 23
    {S, 0, 25, RQ::kFixed, 0, RS::kFixed, 0, B::kAccept},                     // 24
    {S, 0, 28, RQ::kFixed, 20, RS::kFixed, 0, B::kPayloadStore},              // 25
    {G, 0, 28, RQ::kFixed, 0, RS::kFixed, 20, B::kPayloadLoad},               // 26
    {G, 0, 48, RQ::kFixed, 0, RS::kFixed, 0, B::kConstant},                   // 28
    {S, 0, 54, RQ::kFixed, 2, RS::kFixed, 0, B::kValuePayloadStore},          // 29
    {G, 0, 54, RQ::kFixed, 0, RS::kFixed, 2, B::kValuePayloadLoad},           // 30
    {S, 1, 0, RQ::kFixed, 0, RS::kFixed, 0, B::kAccept},                      // 31
    {S, 1, 3, RQ::kFixed, 2, RS::kFixed, 0, B::kIndexedStore},                // 32
    {G, 1, 3, RQ::kFixed, 0, RS::kFixed, 2, B::kIndexedLoad},                 // 33
    {S, 1, 4, RQ::kFixed, 1, RS::kFixed, 0, B::kIndexedStore},                // 34
    {G, 1, 4, RQ::kFixed, 0, RS::kFixed, 1, B::kIndexedLoad},                 // 35
    {S, 1, 14, RQ::kFixed, 0, RS::kFixed, 0, B::kValuePayloadStore},          // 36
    {G, 1, 14, RQ::kFixed, 0, RS::kFixed, 0, B::kValuePayloadLoad},           // 37
    {S, 1, 15, RQ::kFixed, 0, RS::kFixed, 0, B::kValuePayloadStore},          // 38
    {G, 1, 15, RQ::kFixed, 0, RS::kFixed, 0, B::kValuePayloadLoad},           // 39
    {S, 1, 17, RQ::kFixed, 0, RS::kFixed, 0, B::kValuePayloadStore},          // 40
    {G, 1, 17, RQ::kFixed, 0, RS::kFixed, 0, B::kValuePayloadLoad},           // 41
    {S, 1, 20, RQ::kFixed, 0, RS::kFixed, 0, B::kValuePayloadStore},          // 42
    {G, 1, 20, RQ::kFixed, 0, RS::kFixed, 0, B::kValuePayloadLoad},           // 43
    {S, 1, 48, RQ::kFixed, 0, RS::kFixed, 0, B::kValuePayloadStore},          // 44
    {G, 1, 48, RQ::kFixed, 0, RS::kFixed, 0, B::kValuePayloadLoad},           // 45
    {S, 1, 49, RQ::kFixed, 2, RS::kFixed, 0, B::kPayloadStore},               // 46
    {G, 1, 49, RQ::kFixed, 0, RS::kFixed, 2, B::kPayloadLoad},                // 47
    {G, 3, 4, RQ::kFixed, 0, RS::kFixed, 1024, B::kConstant},                 // 48
    {G, 7, 0, RQ::kFixed, 0, RS::kFixed, 28, B::kConstant},                   // 49
    {S, 7, 1, RQ::kFixed, 0, RS::kFixed, 0, B::kAccept},                      // 50
    {S, 8, 0, RQ::kCountAt4, 0, RS::kFixed, 0, B::kMemoryStore},              // 51
    {G, 8, 0, RQ::kFixed, 6, RS::kCountPlus6, 0, B::kMemoryLoad},             // 52
    {S, 8, 1, RQ::kFixed, 2, RS::kFixed, 0, B::kSubIndexedStore},             // 53
    {G, 8, 1, RQ::kFixed, 1, RS::kFixed, 2, B::kSubIndexedLoad},              // 54
    {S, 8, 2, RQ::kCountAt4, 0, RS::kFixed, 0, B::kMemoryStore},              // 55
    {G, 8, 2, RQ::kFixed, 6, RS::kCountPlus6, 0, B::kMemoryLoad},             // 56
    {S, 8, 4, RQ::kFixed, 3, RS::kFixed, 0, B::kAccept},                      // 57
    {G, 8, 5, RQ::kFixed, 0, RS::kFixed, 2, B::kConstant},                    // 58
    {S, 8, 7, RQ::kUpTo82, 0, RS::kFixed, 0, B::kAccept},                     // 59
    {S, 8, 10, RQ::kFixed, 1, RS::kFixed, 0, B::kAccept},                     // 60
    {S, 8, 11, RQ::kCountAt1, 0, RS::kFixed, 0, B::kBlockStore},              // 61
    {G, 8, 11, RQ::kFixed, 2, RS::kCountPlus2, 0, B::kBlockLoad},             // 62
    {G, 8, 12, RQ::kFixed, 0, RS::kFixed, 6, B::kConstant},                   // 63
    {S, 9, kCmdFuSetInfo, RQ::kFixed, 7, RS::kFixed, 0, B::kFirmwareUpdate},  // 64
    {S, 9, kCmdFuFwLoad, RQ::kPiece, 0, RS::kFixed, 1, B::kFirmwareUpdate},   // 64
    {S, 9, kCmdFuWriteFw, RQ::kFixed, 0, RS::kFixed, 0, B::kFirmwareUpdate},  // 64
    {S, 10, 0, RQ::kFixed, 0, RS::kFixed, 0, B::kAccept},                     // 65
    {S, 10, 1, RQ::kFixed, 16, RS::kFixed, 0, B::kIndexedStore},              // 66
    {G, 10, 1, RQ::kFixed, 0, RS::kFixed, 16, B::kIndexedLoad},               // 67
    {S, 10, 3, RQ::kFixed, 3, RS::kFixed, 0, B::kSubIndexedStore},            // 68
    {G, 10, 3, RQ::kFixed, 1, RS::kFixed, 3, B::kSubIndexedLoad},             // 69
    {G, 10, 5, RQ::kFixed, 0, RS::kFixed, 16, B::kConstant},                  // 70
    {G, 10, 7, RQ::kFixed, 0, RS::kFixed, 1, B::kConstant},                   // 71
    {S, 11, 0, RQ::kFixed, 1, RS::kFixed, 0, B::kAccept},                     // 72
    {S, 11, 5, RQ::kFixed, 0, RS::kFixed, 1, B::kVerdict},                    // 73
    {G, 14, 2, RQ::kFixed, 0, RS::kFixed, 36, B::kConstant},                  // 74
    {S, 14, 3, RQ::kFixed, 0, RS::kFixed, 0, B::kAccept},                     // 75
    {G, 14, 4, RQ::kFixed, 0, RS::kFixed, 32, B::kConstant},                  // 76
    {S, 14, 5, RQ::kCountAt4, 0, RS::kFixed, 0, B::kMemoryStore},             // 77
    {G, 14, 5, RQ::kFixed, 6, RS::kCountPlus6, 0, B::kMemoryLoad},            // 78
    {S, 14, 6, RQ::kCountAt2, 0, RS::kFixed, 0, B::kAddressedStore},          // 79
    {G, 14, 6, RQ::kFixed, 3, RS::kCountPlus3, 0, B::kAddressedLoad},         // 80
    {G, 240, 16, RQ::kFixed, 0, RS::kFixed, 32, B::kConstant},                // 81
};

}  // namespace

UpdateStep UpdateStepOf(std::uint8_t group, std::uint8_t command) {
    if (group != kGroupFirmwareUpdate) {
        return UpdateStep::kNone;
    }
    switch (command) {
        case kCmdFuSetInfo:
            return UpdateStep::kSetInfo;
        case kCmdFuFwLoad:
            return UpdateStep::kFwLoad;
        case kCmdFuWriteFw:
            return UpdateStep::kWriteFw;
        default:
            return UpdateStep::kNone;
    }
}

const char* UpdateStepName(UpdateStep step) {
    switch (step) {
        case UpdateStep::kSetInfo:
            return "FU_SETINFO";
        case UpdateStep::kFwLoad:
            return "FU_FWLOAD";
        case UpdateStep::kWriteFw:
            return "FU_WRITEFW";
        case UpdateStep::kNone:
            break;
    }
    return "";
}

std::span<const CatalogueRow> CatalogueRows() {
    return kRows;
}

const CatalogueRow* FindCatalogueRow(std::uint8_t kind, std::uint8_t group, std::uint8_t command) {
    for (const auto& row : kRows) {
        if (row.kind == kind && row.group == group && row.command == command) {
            return &row;
        }
    }
    return nullptr;
}

bool RequestLengthFits(const CatalogueRow& row, const std::uint8_t* payload, std::size_t length) {
    switch (row.request) {
        case RequestShape::kFixed:
            return length == row.requestLength;
        case RequestShape::kCountAt4:
            return length >= 6 &&
                   length == 6u + static_cast<std::size_t>(payload[4] | (payload[5] << 8));
        case RequestShape::kCountAt1:
            return length >= 2 && length == 2u + payload[1];
        case RequestShape::kCountAt2:
            return length >= 3 && length == 3u + payload[2];
        case RequestShape::kUpTo82:
            return length <= 82;
        case RequestShape::kPiece:
            return length > 6;  // the size limit has its own status
    }
    return false;
}

std::size_t ResponseLengthFor(const CatalogueRow& row, const std::uint8_t* payload) {
    switch (row.response) {
        case ResponseShape::kFixed:
            return row.responseLength;
        case ResponseShape::kCountPlus6:
            return 6u + static_cast<std::size_t>(payload[4] | (payload[5] << 8));
        case ResponseShape::kCountPlus2:
            return 2u + payload[1];
        case ResponseShape::kCountPlus3:
            return 3u + payload[2];
    }
    return 0;
}

}  // namespace talvo
