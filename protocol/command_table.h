// The command catalogue as data.
//
// Eighty of the 82 commands follow one pattern: build a request from the
// caller's block, send it, check that the response answers it, copy the
// results back. Each of them is one CommandRow, read by one pattern handler
// (RunPatternCommand). Key 64 (firmware download) and key 82 (pass-through
// of a caller's ready-made message) have handlers of their own.
//
// Notation used in the rows: bN is byte N of the block, pN byte N of the
// response payload (message byte 8 + N), n a count taken from the block,
// buf(bN) the caller's buffer whose address is the pointer field at bN.
#pragma once

#include <cstdint>

#include "protocol/command_params.h"
#include "protocol/result_code.h"

namespace talvo {

class ulo_CHidComm;

namespace cmd {

enum class Kind : std::uint8_t { kSet = 0, kGet = 2 };

// Where the request's value or selector byte comes from.
enum class From : std::uint8_t { kZero, kB0, kB80 };

// A run of block bytes sent as they lie in the block.
struct Field {
    std::uint8_t offset = 0;
    std::uint8_t size = 0;
};

// Where the row's count n lives in the block.
enum class Count : std::uint8_t {
    kNone,
    kU16AtB8,  // b8-9, unsigned 16-bit
    kU8AtB2,   // b2, 8 bits
    kU16AtB0,  // b0-1, unsigned 16-bit
};

// n bytes sent after the fields.
enum class Tail : std::uint8_t {
    kNone,
    kFromBuffer,  // from buf(pointer)
    kFromBlock,   // from the block itself, starting at b2
};

// One result copied into the block.
enum class Take : std::uint8_t {
    kNone,
    kPayload,  // b[dst..] <- p[src..], size bytes
    kValue,    // b[dst] <- the response's value byte
    kZero,     // b[dst] <- 0 (terminator after a text)
};

struct Copy {
    Take take = Take::kNone;
    std::uint8_t dst = 0;
    std::uint8_t src = 0;
    std::uint8_t size = 0;
};

// Results written into the caller's buffer.
enum class Out : std::uint8_t {
    kNone,
    kFixed,        // a fixed number of payload bytes
    kCountN,       // n payload bytes
    kP1CappedAtN,  // as many as p1 says, but never more than n
};

inline constexpr int kMaxFields = 3;
inline constexpr int kMaxCopies = 8;

struct CommandRow {
    int key = -1;
    Kind kind = Kind::kSet;
    std::uint8_t group = 0;
    std::uint8_t command = 0;
    From value = From::kZero;
    From selector = From::kZero;
    std::uint32_t timeLimitMs = 0;
    // The payload length the response must declare; plus n when
    // responsePlusN is set.
    std::uint16_t responseLength = 0;
    bool responsePlusN = false;

    Field fields[kMaxFields] = {};
    Count count = Count::kNone;
    Tail tail = Tail::kNone;
    std::uint8_t tailPointer = 0;  // block offset of buf() for Tail::kFromBuffer

    Copy copies[kMaxCopies] = {};
    Out out = Out::kNone;
    std::uint8_t outPointer = 0;  // block offset of buf() for results
    std::uint16_t outSource = 0;  // first payload byte copied to buf()
    std::uint16_t outFixed = 0;   // byte count for Out::kFixed
    // Results are copied even when the header check fails.
    bool copyOnMismatch = false;

    // Builders, so each row of the table reads like the catalogue line.
    constexpr CommandRow Send(Field a, Field b = {}, Field c = {}) const {
        CommandRow r = *this;
        r.fields[0] = a;
        r.fields[1] = b;
        r.fields[2] = c;
        return r;
    }
    constexpr CommandRow Counted(Count where) const {
        CommandRow r = *this;
        r.count = where;
        return r;
    }
    constexpr CommandRow TailFromBuffer(std::uint8_t pointerOffset) const {
        CommandRow r = *this;
        r.tail = Tail::kFromBuffer;
        r.tailPointer = pointerOffset;
        return r;
    }
    constexpr CommandRow TailFromBlock() const {
        CommandRow r = *this;
        r.tail = Tail::kFromBlock;
        return r;
    }
    constexpr CommandRow AnswerPlusN() const {
        CommandRow r = *this;
        r.responsePlusN = true;
        return r;
    }
    constexpr CommandRow Put(Copy a, Copy b = {}, Copy c = {}, Copy d = {}, Copy e = {},
                             Copy f = {}, Copy g = {}, Copy h = {}) const {
        CommandRow r = *this;
        const Copy all[kMaxCopies] = {a, b, c, d, e, f, g, h};
        for (int i = 0; i < kMaxCopies; ++i) {
            r.copies[i] = all[i];
        }
        return r;
    }
    constexpr CommandRow ToBuffer(std::uint8_t pointerOffset, std::uint16_t fromPayload, Out how,
                                  std::uint16_t fixed = 0) const {
        CommandRow r = *this;
        r.out = how;
        r.outPointer = pointerOffset;
        r.outSource = fromPayload;
        r.outFixed = fixed;
        return r;
    }
    constexpr CommandRow AlsoOnMismatch() const {
        CommandRow r = *this;
        r.copyOnMismatch = true;
        return r;
    }
};

// The 80 pattern rows in key order.
extern const CommandRow kPatternRows[80];

// Runs one pattern command: 0, -7, -10, -11, -12 or -13.
ResultCode RunPatternCommand(ulo_CHidComm& comm, const CommandRow& row, CommandParams* params);

// Key 82: 0, -7, -10, -11 or -13.
ResultCode RunPassThrough(ulo_CHidComm& comm, CommandParams* params);

}  // namespace cmd
}  // namespace talvo
