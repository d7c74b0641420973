// Agreement texts and version data as the resources carry them.
#include <gtest/gtest.h>

#include <string>

#include "resources/catalogue.h"

namespace talvo {
namespace {

std::u16string DecodeUtf16Le(std::span<const std::uint8_t> bytes) {
    std::u16string text;
    for (std::size_t i = 0; i + 1 < bytes.size(); i += 2) {
        text.push_back(static_cast<char16_t>(bytes[i] | (bytes[i + 1] << 8)));
    }
    return text;
}

TEST(AgreementTexts, AreByteOrderMarkedUtf16EndingInCrLf) {
    for (int id : {130, 10130, 20130}) {
        SCOPED_TRACE(id);
        const std::span<const std::uint8_t> bytes = FindAgreementText(id);
        ASSERT_GE(bytes.size(), 8u);
        EXPECT_EQ(bytes.size() % 2, 0u);
        EXPECT_EQ(bytes[0], 0xFF);
        EXPECT_EQ(bytes[1], 0xFE);
        const std::size_t n = bytes.size();
        EXPECT_EQ(bytes[n - 4], 0x0D);
        EXPECT_EQ(bytes[n - 3], 0x00);
        EXPECT_EQ(bytes[n - 2], 0x0A);
        EXPECT_EQ(bytes[n - 1], 0x00);

        const std::u16string text = DecodeUtf16Le(bytes.subspan(2));
        EXPECT_EQ(text.find(u'\0'), std::u16string::npos) << "a NUL would end the text early";
        EXPECT_EQ(text.find(u'\uFEFF'), std::u16string::npos) << "second byte-order mark";
        // Every line ends in CR LF, never in a bare LF or CR.
        for (std::size_t i = 0; i < text.size(); ++i) {
            if (text[i] == u'\n') {
                EXPECT_TRUE(i > 0 && text[i - 1] == u'\r') << "bare LF at " << i;
            }
            if (text[i] == u'\r') {
                EXPECT_TRUE(i + 1 < text.size() && text[i + 1] == u'\n') << "bare CR at " << i;
            }
        }
        EXPECT_NE(text.find(u"TALVO"), std::u16string::npos);
    }
    // The translated agreements are not the English one.
    EXPECT_NE(DecodeUtf16Le(FindAgreementText(10130)), DecodeUtf16Le(FindAgreementText(130)));
    EXPECT_NE(DecodeUtf16Le(FindAgreementText(20130)), DecodeUtf16Le(FindAgreementText(130)));
    EXPECT_TRUE(FindAgreementText(131).empty());
    EXPECT_TRUE(FindAgreementText(30130).empty());
}

TEST(VersionData, IsTheShippedVersionBlock) {
    const VersionData& v = ShippedVersionData();
    for (int i = 0; i < 4; ++i) {
        const int want[] = {1, 0, 1, 0};
        EXPECT_EQ(v.fileVersion[i], want[i]);
        EXPECT_EQ(v.productVersion[i], want[i]);
    }
    EXPECT_EQ(v.fileFlags, 0u);
    EXPECT_EQ(v.fileOs, 4u);
    EXPECT_EQ(v.fileType, 1u);
    EXPECT_EQ(v.translationLanguage, 0x0409);
    EXPECT_EQ(v.translationCodePage, 1200);
    EXPECT_EQ(v.productName, u"TALVO FW-Updater");
    EXPECT_EQ(v.fileDescription, u"TALVO FW-Updater");
    EXPECT_EQ(v.internalName, u"TALVO FW-Updater");
    EXPECT_EQ(v.fileVersionText, u"1.0.1.0");
    EXPECT_EQ(v.productVersionText, u"1.0.1.0");
}

}  // namespace
}  // namespace talvo
