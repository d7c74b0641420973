// The default destination of the download's diagnostic lines.
#include <gtest/gtest.h>

#include <cstdio>
#include <string>

#include "protocol/diagnostics.h"

namespace talvo {
namespace {

TEST(Diagnostics, LinesSurviveNarrowOutputOnTheSameStream) {
    testing::internal::CaptureStdout();
    std::printf("narrow before\n");
    WriteDiagnostic(L"\nerror : receive error response. (FU_FWLOAD) [0x%02X]\n", 0x0Au);
    std::printf("narrow after\n");
    WriteDiagnostic(L"error : send or receive error. (FU_SETINFO) [%d]\n", -11);
    std::fflush(stdout);
    const std::string out = testing::internal::GetCapturedStdout();
    EXPECT_NE(out.find("narrow before\n\nerror : receive error response. (FU_FWLOAD) [0x0A]\n"
                       "narrow after\n"),
              std::string::npos)
        << out;
    EXPECT_NE(out.find("error : send or receive error. (FU_SETINFO) [-11]\n"), std::string::npos)
        << out;
}

struct Captured {
    std::wstring text;
    static void Sink(const wchar_t* line, void* self) {
        static_cast<Captured*>(self)->text += line;
    }
};

TEST(Diagnostics, ASinkReplacesStandardOutputForItsScope) {
    Captured captured;
    testing::internal::CaptureStdout();
    {
        ScopedDiagnosticSink scoped(&Captured::Sink, &captured);
        WriteDiagnostic(L"error : invalid response header receive. (FU_SETINFO)\n");
    }
    WriteDiagnostic(L"after [%d]\n", 3);
    const std::string out = testing::internal::GetCapturedStdout();
    EXPECT_EQ(captured.text, L"error : invalid response header receive. (FU_SETINFO)\n");
    EXPECT_EQ(out, "after [3]\n");
}

}  // namespace
}  // namespace talvo
