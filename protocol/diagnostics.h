// The diagnostic lines of the firmware download: one line of text for every
// failed exchange, written to the process's standard output.
//
// All lines pass through one sink. The default writes to standard output;
// tests (and anything else that wants the lines) install their own.
#pragma once

namespace talvo {

// Receives one formatted line (including its line breaks).
using DiagnosticSink = void (*)(const wchar_t* line, void* context);

// Installs `sink` for all later lines; null restores standard output.
void SetDiagnosticSink(DiagnosticSink sink, void* context);

// Formats one line (wide-character printf format) and hands it to the sink.
void WriteDiagnostic(const wchar_t* format, ...);

// Installs a sink for one scope.
class ScopedDiagnosticSink {
  public:
    ScopedDiagnosticSink(DiagnosticSink sink, void* context) { SetDiagnosticSink(sink, context); }
    ~ScopedDiagnosticSink() { SetDiagnosticSink(nullptr, nullptr); }
    ScopedDiagnosticSink(const ScopedDiagnosticSink&) = delete;
    ScopedDiagnosticSink& operator=(const ScopedDiagnosticSink&) = delete;
};

}  // namespace talvo
