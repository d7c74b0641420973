#include "protocol/diagnostics.h"

#include <atomic>
#include <cstdarg>
#include <cstdio>
#include <cstdint>
#include <cwchar>

namespace talvo {

namespace {

// Standard output, written so that no line is lost whatever else the
// process prints.
//
// A C stream takes the orientation of its first use: once anything has
// written narrow text to stdout (printf, iostreams through stdio), wide
// output functions on it fail and their text vanishes on glibc. So outside
// Windows the line, already formatted with wide-character printf, is
// encoded as UTF-8 here and written as bytes, which works on a stream of
// either orientation. The Windows C runtime keeps no orientation and
// converts wide text itself, so there the line goes out through the wide
// output function directly.
void WriteToStandardOutput(const wchar_t* line, void*) {
#ifdef _WIN32
    std::fputws(line, stdout);
#else
    char bytes[1024];
    std::size_t used = 0;
    for (const wchar_t* at = line; *at != 0; ++at) {
        if (used + 4 >= sizeof bytes) {
            std::fwrite(bytes, 1, used, stdout);
            used = 0;
        }
        auto c = static_cast<std::uint32_t>(*at);
        if (c > 0x10FFFF || (c >= 0xD800 && c <= 0xDFFF)) {
            c = 0xFFFD;
        }
        if (c < 0x80) {
            bytes[used++] = static_cast<char>(c);
        } else if (c < 0x800) {
            bytes[used++] = static_cast<char>(0xC0 | (c >> 6));
            bytes[used++] = static_cast<char>(0x80 | (c & 0x3F));
        } else if (c < 0x10000) {
            bytes[used++] = static_cast<char>(0xE0 | (c >> 12));
            bytes[used++] = static_cast<char>(0x80 | ((c >> 6) & 0x3F));
            bytes[used++] = static_cast<char>(0x80 | (c & 0x3F));
        } else {
            bytes[used++] = static_cast<char>(0xF0 | (c >> 18));
            bytes[used++] = static_cast<char>(0x80 | ((c >> 12) & 0x3F));
            bytes[used++] = static_cast<char>(0x80 | ((c >> 6) & 0x3F));
            bytes[used++] = static_cast<char>(0x80 | (c & 0x3F));
        }
    }
    std::fwrite(bytes, 1, used, stdout);
#endif
    std::fflush(stdout);
}

std::atomic<DiagnosticSink> g_sink{nullptr};
std::atomic<void*> g_context{nullptr};

}  // namespace

void SetDiagnosticSink(DiagnosticSink sink, void* context) {
    g_context.store(context);
    g_sink.store(sink);
}

void WriteDiagnostic(const wchar_t* format, ...) {
    wchar_t line[256];
    va_list args;
    va_start(args, format);
    const int n = std::vswprintf(line, sizeof line / sizeof line[0], format, args);
    va_end(args);
    if (n < 0) {
        // Longer than the buffer: vswprintf leaves its content unspecified.
        line[sizeof line / sizeof line[0] - 1] = 0;
    }
    DiagnosticSink sink = g_sink.load();
    if (sink != nullptr) {
        sink(line, g_context.load());
    } else {
        WriteToStandardOutput(line, nullptr);
    }
}

}  // namespace talvo
