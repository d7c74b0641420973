// The command catalogue, one row per key, and the handlers that read it.
#include "protocol/command_table.h"

#include <array>
#include <cstring>
#include <utility>

#include "protocol/hid_comm.h"

namespace talvo {
namespace cmd {
namespace {

constexpr Kind kGet = Kind::kGet;
constexpr Kind kSet = Kind::kSet;
constexpr From kZero = From::kZero;
constexpr From kB0 = From::kB0;
constexpr From kB80 = From::kB80;

// Key, kind, group, command, value from, selector from, time limit in ms,
// response length.
constexpr CommandRow Row(int key, Kind kind, std::uint8_t group, std::uint8_t command, From value,
                         From selector, std::uint32_t timeLimitMs, std::uint16_t responseLength) {
    CommandRow r;
    r.key = key;
    r.kind = kind;
    r.group = group;
    r.command = command;
    r.value = value;
    r.selector = selector;
    r.timeLimitMs = timeLimitMs;
    r.responseLength = responseLength;
    return r;
}

// Block bytes bFirst..bLast, sent as they lie.
constexpr Field F(std::uint8_t bFirst, std::uint8_t bLast) {
    return Field{bFirst, static_cast<std::uint8_t>(bLast - bFirst + 1)};
}
// bFirst..bLast <- payload bytes from pFirst on.
constexpr Copy P(std::uint8_t bFirst, std::uint8_t bLast, std::uint8_t pFirst) {
    return Copy{Take::kPayload, bFirst, pFirst, static_cast<std::uint8_t>(bLast - bFirst + 1)};
}
// bN <- the response's value byte.
constexpr Copy V(std::uint8_t b) {
    return Copy{Take::kValue, b, 0, 1};
}
// bN <- 0.
constexpr Copy Z(std::uint8_t b) {
    return Copy{Take::kZero, b, 0, 1};
}

constexpr Count kN16At8 = Count::kU16AtB8;
constexpr Count kN8At2 = Count::kU8AtB2;
constexpr Count kN16At0 = Count::kU16AtB0;

}  // namespace

// clang-format off
constexpr CommandRow kPatternRows[80] = {
    //  key kind grp cmd value selector  limit  resp   request payload / results
    Row( 0, kGet,  0,  0, kB0,   kB80,   5000,    3).Send(F(1, 2), F(3, 3)).Put(P(4, 5, 0), P(6, 6, 2)),
    Row( 1, kSet,  0,  1, kB0,   kB80,   5000,    0),
    Row( 2, kGet,  0,  1, kZero, kB80,   5000,    0).Put(V(0)),
    Row( 3, kSet,  0,  3, kZero, kB80,   5000,    0),
    Row( 4, kSet,  0,  4, kB0,   kB80,  60000,    0),
    Row( 5, kGet,  0,  5, kZero, kB80,   5000,   76).Put(P(0, 39, 0), Z(40), P(41, 44, 40), Z(45),
                                                         P(46, 61, 44), Z(62), P(63, 78, 60), Z(79)),
    Row( 6, kGet,  0,  6, kB0,   kB80,   5000,   16).Put(P(4, 19, 0), Z(20)),
    Row( 7, kGet,  0,  7, kZero, kB80,   5000,    8).Put(P(0, 3, 0), P(4, 7, 4)),
    Row( 8, kGet,  0,  9, kB0,   kB80,   5000,    1).Put(P(1, 1, 0)),
    Row( 9, kSet,  0, 10, kB0,   kB80,   5000,    0),
    Row(10, kGet,  0, 10, kZero, kB80,   5000,    0).Put(V(0)),
    Row(11, kSet,  0, 12, kB0,   kB80,   5000,    0).Send(F(1, 1)),
    Row(12, kSet,  0, 13, kB0,   kB80,   5000,    0),
    Row(13, kGet,  0, 13, kZero, kB80,   5000,    0).Put(V(0)),
    Row(14, kSet,  0, 15, kZero, kB80,   5000,    0).Send(F(0, 3)),
    Row(15, kGet,  0, 15, kZero, kB80,   5000,    4).Put(P(0, 3, 0)),
    Row(16, kSet,  0, 17, kB0,   kB80,   5000,    0),
    Row(17, kGet,  0, 17, kZero, kB80,   5000,    0).Put(V(0)),
    Row(18, kSet,  0, 19, kB0,   kB80,   5000,    0).Send(F(1, 1)),
    Row(19, kGet,  0, 19, kB0,   kB80,   5000,    1).Put(P(1, 1, 0)),
    Row(20, kSet,  0, 21, kB0,   kB80,   5000,    0),
    Row(21, kGet,  0, 21, kZero, kB80,   5000,    0).Put(V(0)),
    Row(22, kSet,  0, 23, kZero, kB80,   5000,    0).Send(F(0, 1)),
    Row(23, kGet,  0, 23, kZero, kB80,   5000,    2).Put(P(0, 1, 0)),
    Row(24, kSet,  0, 25, kZero, kB80,   5000,    0),
    Row(25, kSet,  0, 28, kZero, kB80,   5000,    0).Send(F(0, 19)),
    Row(26, kGet,  0, 28, kZero, kB80,   5000,   20).Put(P(0, 19, 0), Z(20)),
    // key 27: no command
    Row(28, kGet,  0, 48, kZero, kB80,   5000,    0).Put(V(0)),
    Row(29, kSet,  0, 54, kB0,   kB80,   5000,    0).Send(F(2, 3)),
    Row(30, kGet,  0, 54, kZero, kB80,   5000,    2).Put(V(0), P(2, 3, 0)),
    Row(31, kSet,  1,  0, kZero, kB80,   5000,    0),
    Row(32, kSet,  1,  3, kB0,   kB80,   5000,    0).Send(F(2, 3)),
    Row(33, kGet,  1,  3, kB0,   kB80,   5000,    2).Put(P(2, 3, 0)),
    Row(34, kSet,  1,  4, kB0,   kB80,   5000,    0).Send(F(1, 1)),
    Row(35, kGet,  1,  4, kB0,   kB80,   5000,    1).Put(P(1, 1, 0)),
    Row(36, kSet,  1, 14, kB0,   kB80,   5000,    0),
    Row(37, kGet,  1, 14, kZero, kB80,   5000,    0).Put(V(0)),
    Row(38, kSet,  1, 15, kB0,   kB80,   5000,    0),
    Row(39, kGet,  1, 15, kZero, kB80,   5000,    0).Put(V(0)),
    Row(40, kSet,  1, 17, kB0,   kB80,   5000,    0),
    Row(41, kGet,  1, 17, kZero, kB80,   5000,    0).Put(V(0)),
    Row(42, kSet,  1, 20, kB0,   kZero,  5000,    0),
    Row(43, kGet,  1, 20, kZero, kB80,   5000,    0).Put(V(0)),
    Row(44, kSet,  1, 48, kB0,   kB80,   5000,    0),
    Row(45, kGet,  1, 48, kZero, kB80,   5000,    0).Put(V(0)),
    Row(46, kSet,  1, 49, kZero, kB80,   5000,    0).Send(F(0, 1)),
    Row(47, kGet,  1, 49, kZero, kB80,   5000,    2).Put(P(0, 1, 0)),
    Row(48, kGet,  3,  4, kB0,   kB80,  30000, 1024).ToBuffer(params_layout::kBufferAt4, 0, Out::kFixed, 1024),
    Row(49, kGet,  7,  0, kZero, kB80,   5000,   28).Put(P(0, 27, 0)),
    Row(50, kSet,  7,  1, kZero, kB80,  60000,    0),
    Row(51, kSet,  8,  0, kB0,   kB80, 120000,    0).Send(F(4, 7), F(8, 9)).Counted(kN16At8).TailFromBuffer(params_layout::kBufferAt12),
    Row(52, kGet,  8,  0, kB0,   kB80,  30000,    6).Send(F(4, 7), F(8, 9)).Counted(kN16At8).AnswerPlusN().ToBuffer(params_layout::kBufferAt12, 6, Out::kCountN),
    Row(53, kSet,  8,  1, kB0,   kB80,   5000,    0).Send(F(1, 1), F(2, 2)),
    Row(54, kGet,  8,  1, kB0,   kB80,   5000,    2).Send(F(1, 1)).Put(P(2, 2, 1)),
    Row(55, kSet,  8,  2, kB0,   kB80, 120000,    0).Send(F(4, 7), F(8, 9)).Counted(kN16At8).TailFromBuffer(params_layout::kBufferAt12),
    Row(56, kGet,  8,  2, kB0,   kB80,  30000,    6).Send(F(4, 7), F(8, 9)).Counted(kN16At8).AnswerPlusN().ToBuffer(params_layout::kBufferAt12, 6, Out::kCountN),
    Row(57, kSet,  8,  4, kB0,   kB80,   5000,    0).Send(F(4, 4), F(5, 5), F(6, 6)),
    Row(58, kGet,  8,  5, kB0,   kZero,  5000,    2).Put(P(2, 3, 0)).AlsoOnMismatch(),
    Row(59, kSet,  8,  7, kZero, kB80,   5000,    0).Counted(kN16At0).TailFromBlock(),
    Row(60, kSet,  8, 10, kZero, kB80,   5000,    0).Send(F(0, 0)),
    Row(61, kSet,  8, 11, kB0,   kZero,  5000,    0).Send(F(1, 1), F(2, 2)).Counted(kN8At2).TailFromBuffer(params_layout::kBufferAt4),
    Row(62, kGet,  8, 11, kB0,   kZero,  5000,    2).Send(F(1, 1), F(2, 2)).Counted(kN8At2).AnswerPlusN().Put(P(1, 1, 0), P(2, 2, 1)).ToBuffer(params_layout::kBufferAt4, 2, Out::kP1CappedAtN),
    Row(63, kGet,  8, 12, kB0,   kZero,  5000,    6).Put(P(2, 5, 0), P(6, 7, 4)),
    // key 64: firmware download, its own handler
    Row(65, kSet, 10,  0, kZero, kB80,   5000,    0),
    Row(66, kSet, 10,  1, kB0,   kB80,   5000,    0).Send(F(1, 16)),
    Row(67, kGet, 10,  1, kB0,   kB80,   5000,   16).Put(P(1, 16, 0), Z(17)),
    Row(68, kSet, 10,  3, kB0,   kB80,   5000,    0).Send(F(1, 1), F(2, 2), F(3, 3)),
    Row(69, kGet, 10,  3, kB0,   kB80,   5000,    3).Send(F(1, 1)).Put(P(2, 3, 1)),
    Row(70, kGet, 10,  5, kZero, kB80,   5000,   16).Put(P(0, 7, 0), P(8, 9, 8), P(11, 14, 10), P(15, 16, 14)),
    Row(71, kGet, 10,  7, kZero, kB80,   5000,    1).Put(P(0, 0, 0)),
    Row(72, kSet, 11,  0, kZero, kB80,   5000,    0).Send(F(0, 0)),
    Row(73, kSet, 11,  5, kB0,   kB80,  20000,    1).Put(P(1, 1, 0)),
    Row(74, kGet, 14,  2, kZero, kB80,   5000,   36).Put(P(0, 15, 0), Z(16), P(17, 36, 16), Z(37)),
    Row(75, kSet, 14,  3, kZero, kZero,  5000,    0),
    Row(76, kGet, 14,  4, kB0,   kZero,  5000,   32).Put(P(1, 32, 0)),
    Row(77, kSet, 14,  5, kB0,   kZero,  5000,    0).Send(F(4, 7), F(8, 9)).Counted(kN16At8).TailFromBuffer(params_layout::kBufferAt12),
    Row(78, kGet, 14,  5, kB0,   kZero,  5000,    6).Send(F(4, 7), F(8, 9)).Counted(kN16At8).AnswerPlusN().ToBuffer(params_layout::kBufferAt12, 6, Out::kCountN),
    Row(79, kSet, 14,  6, kZero, kZero,  5000,    0).Send(F(0, 0), F(1, 1), F(2, 2)).Counted(kN8At2).TailFromBuffer(params_layout::kBufferAt4),
    Row(80, kGet, 14,  6, kZero, kZero,  5000,    3).Send(F(0, 0), F(1, 1), F(2, 2)).Counted(kN8At2).AnswerPlusN().ToBuffer(params_layout::kBufferAt4, 3, Out::kCountN),
    // key 82: pass-through, its own handler
    Row(81, kGet, 240, 16, kZero, kB80,  5000,   32).Put(P(0, 31, 0)),
};
// clang-format on

namespace {

constexpr bool RowsAreInKeyOrderWithoutGaps() {
    int expected = 0;
    for (const CommandRow& row : kPatternRows) {
        if (expected == 27 || expected == 64) {
            ++expected;
        }
        if (row.key != expected) {
            return false;
        }
        ++expected;
    }
    return expected == 82;
}
static_assert(RowsAreInKeyOrderWithoutGaps(), "pattern rows: keys 0..81 without 27 and 64");

// The block holds 82 bytes after the count of key 59.
constexpr std::uint32_t kMaxBlockTail = sizeof(CommandParams) - 2;

std::uint8_t Source(From from, const CommandParams& p) {
    switch (from) {
        case From::kB0:
            return p.b[0];
        case From::kB80:
            return p.b[80];
        case From::kZero:
            break;
    }
    return 0;
}

std::uint32_t CountOf(Count where, const CommandParams& p) {
    switch (where) {
        case Count::kU16AtB8:
            return LoadU16(p, 8);
        case Count::kU8AtB2:
            return p.b[2];
        case Count::kU16AtB0:
            return LoadU16(p, 0);
        case Count::kNone:
            break;
    }
    return 0;
}

std::uint32_t ReadU16(const std::uint8_t* bytes) {
    return static_cast<std::uint32_t>(bytes[0] | (bytes[1] << 8));
}

void CopyResults(const CommandRow& row, const std::uint8_t* response, CommandParams& p) {
    const std::uint8_t* payload = response + kHeaderLength;
    for (const Copy& c : row.copies) {
        switch (c.take) {
            case Take::kPayload:
                std::memcpy(p.b + c.dst, payload + c.src, c.size);
                break;
            case Take::kValue:
                p.b[c.dst] = response[3];
                break;
            case Take::kZero:
                p.b[c.dst] = 0;
                break;
            case Take::kNone:
                break;
        }
    }
}

}  // namespace

ResultCode RunPatternCommand(ulo_CHidComm& comm, const CommandRow& row, CommandParams* params) {
    if (params == nullptr) {
        return kResultBadParams;
    }
    CommandParams& p = *params;
    const std::uint32_t n = CountOf(row.count, p);

    // Arguments that cannot be sent are refused before anything goes out:
    // a count beyond the bytes the block holds, a payload beyond what the
    // 16-bit length can declare, or a missing buffer that bytes would be
    // read from or written to.
    if (row.tail == Tail::kFromBlock && n > kMaxBlockTail) {
        return kResultBadParams;
    }
    const void* tailBuffer = nullptr;
    if (row.tail == Tail::kFromBuffer) {
        tailBuffer = LoadPointer(p, row.tailPointer);
        if (tailBuffer == nullptr && n > 0) {
            return kResultBadParams;
        }
    }
    std::uint8_t* outBuffer = nullptr;
    if (row.out != Out::kNone) {
        outBuffer = static_cast<std::uint8_t*>(LoadPointer(p, row.outPointer));
        const std::uint32_t most = row.out == Out::kFixed ? row.outFixed : n;
        if (outBuffer == nullptr && most > 0) {
            return kResultBadParams;
        }
    }
    std::uint32_t length = 0;
    for (const Field& f : row.fields) {
        length += f.size;
    }
    if (row.tail != Tail::kNone) {
        length += n;
    }
    const std::uint32_t expectedResponse = row.responseLength + (row.responsePlusN ? n : 0);
    if (length > 0xFFFF || expectedResponse > 0xFFFF) {
        return kResultBadParams;
    }

    comm.ClearRequest();
    std::uint8_t* request = comm.requestBuffer;
    request[0] = static_cast<std::uint8_t>(row.kind);
    request[1] = row.command;
    request[2] = row.group;
    request[3] = Source(row.value, p);
    request[4] = Source(row.selector, p);
    request[5] = 0;
    request[6] = static_cast<std::uint8_t>(length);
    request[7] = static_cast<std::uint8_t>(length >> 8);
    std::uint8_t* at = request + kHeaderLength;
    for (const Field& f : row.fields) {
        std::memcpy(at, p.b + f.offset, f.size);
        at += f.size;
    }
    if (row.tail == Tail::kFromBlock) {
        std::memcpy(at, p.b + 2, n);
    } else if (row.tail == Tail::kFromBuffer && n > 0) {
        std::memcpy(at, tailBuffer, n);
    }

    const ResultCode sent = comm.SendAndWait(request, kHeaderLength + length, row.timeLimitMs);
    if (sent != kResultOk) {
        return sent;
    }

    const std::uint8_t* response = comm.responseBuffer;
    const std::uint32_t expectedWord = static_cast<std::uint32_t>(row.group) * 256 + row.command;
    const bool matches = ReadU16(response + 6) == expectedResponse &&
                         response[0] == static_cast<std::uint8_t>(row.kind) + 1 &&
                         ReadU16(response + 1) == expectedWord;
    if (!matches) {
        if (row.copyOnMismatch) {
            CopyResults(row, response, p);
        }
        return kResultHeaderMismatch;
    }
    CopyResults(row, response, p);

    const std::uint8_t* payload = response + kHeaderLength;
    switch (row.out) {
        case Out::kFixed:
            std::memcpy(outBuffer, payload + row.outSource, row.outFixed);
            break;
        case Out::kCountN:
            if (n > 0) {
                std::memcpy(outBuffer, payload + row.outSource, n);
            }
            break;
        case Out::kP1CappedAtN: {
            // The response says in p1 how many bytes follow; the caller's
            // buffer holds n. A well-formed answer repeats n; one that claims
            // more is copied only as far as the buffer reaches, never past it.
            const std::uint32_t claimed = payload[1];
            const std::uint32_t count = claimed < n ? claimed : n;
            if (count > 0) {
                std::memcpy(outBuffer, payload + row.outSource, count);
            }
            break;
        }
        case Out::kNone:
            break;
    }
    return kResultOk;
}

ResultCode RunPassThrough(ulo_CHidComm& comm, CommandParams* params) {
    if (params == nullptr) {
        return kResultBadParams;
    }
    const std::uint32_t size = LoadU32(*params, params_layout::kPassThroughLength);
    if (size > kMaxMessageLength) {
        return kResultBadParams;
    }
    auto* buffer =
        static_cast<std::uint8_t*>(LoadPointer(*params, params_layout::kPassThroughBuffer));
    // The buffer must hold the whole message, header included; anything
    // shorter would send stale bytes of an earlier request.
    if (buffer == nullptr || size < kHeaderLength || kHeaderLength + ReadU16(buffer + 6) > size) {
        return kResultBadParams;
    }
    std::memcpy(comm.requestBuffer, buffer, size);
    const std::uint32_t messageLength = kHeaderLength + ReadU16(comm.requestBuffer + 6);
    const ResultCode sent = comm.SendAndWait(comm.requestBuffer, messageLength, 60000);
    if (sent != kResultOk) {
        return sent;
    }
    const std::uint32_t responseLength = kHeaderLength + ReadU16(comm.responseBuffer + 6);
    std::memcpy(buffer, comm.responseBuffer, responseLength < size ? responseLength : size);
    return kResultOk;
}

}  // namespace cmd

namespace {

template <std::size_t I>
ResultCode PatternHandler(ulo_CHidComm& comm, CommandParams* params) {
    return cmd::RunPatternCommand(comm, cmd::kPatternRows[I], params);
}

ResultCode DownloadHandler(ulo_CHidComm& comm, CommandParams* params) {
    return comm.DownloadImage(params);
}

template <std::size_t... I>
constexpr std::array<CommandEntry, 82> BuildCommandTable(std::index_sequence<I...>) {
    constexpr CommandHandler pattern[] = {&PatternHandler<I>...};
    std::array<CommandEntry, 82> table{};
    std::size_t at = 0;
    for (std::size_t i = 0; i < sizeof...(I); ++i) {
        if (cmd::kPatternRows[i].key == 65) {
            table[at++] = CommandEntry{64, &DownloadHandler};
        }
        table[at++] = CommandEntry{cmd::kPatternRows[i].key, pattern[i]};
    }
    table[at++] = CommandEntry{82, &cmd::RunPassThrough};
    return table;
}

}  // namespace

constexpr std::array<CommandEntry, 82> CommandTable =
    BuildCommandTable(std::make_index_sequence<80>());

}  // namespace talvo
