// The dialog templates against a transcription of their definition.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "resources/catalogue.h"

namespace talvo {
namespace {

struct ExpectedControl {
    int id;
    ControlKind kind;
    std::u16string text;
    int x, y, w, h;
    std::uint32_t style;
};

struct ExpectedDialog {
    int id;
    std::uint32_t style;
    int w, h;
    std::vector<ExpectedControl> controls;
};

using K = ControlKind;

const std::vector<ExpectedDialog> kExpected = {
    {100,
     kDlgPopup | kDlgCaption | kDlgSystemMenu | kDlgModalFrame,
     205,
     79,
     {
         {1008, K::StaticIcon, u"", 14, 15, 20, 20, kCtlIcon},
         {1015, K::Static, u"***", 45, 11, 141, 8, kCtlCentred | kCtlNoPrefix},
         {1, K::DefaultPushButton, u"OK", 90, 58, 50, 16, kCtlGroup | kCtlTabStop},
     }},
    {200,
     kDlgPopup | kDlgCaption | kDlgSystemMenu | kDlgModalFrame | kDlgVisible | kDlgAppWindow,
     171,
     131,
     {
         {1000, K::Static, u"Firmware will be updated", 11, 7, 152, 8, kCtlLeft},
         {1019, K::Static, u"Current version", 11, 34, 57, 8, kCtlLeft},
         {1020, K::Static, u"Updated version", 11, 50, 57, 8, kCtlLeft},
         {1010, K::Static, u"", 75, 49, 32, 10, kCtlCentred | kCtlSunken},
         {1004, K::Static, u"", 9, 66, 153, 29, kCtlLeft | kCtlSunken},
         {1005, K::PushButton, u"Start", 57, 110, 50, 14, kCtlDisabled | kCtlTabStop},
         {1006, K::DefaultPushButton, u"Cancel", 112, 110, 50, 14, kCtlTabStop},
         {1021, K::Static, u"(type)", 76, 22, 31, 8, kCtlCentred | kCtlNotVisible},
         {1009, K::Static, u"", 75, 33, 32, 10, kCtlCentred | kCtlSunken},
     }},
    {201,
     kDlgPopup | kDlgCaption | kDlgSystemMenu | kDlgModalFrame | kDlgVisible,
     329,
     198,
     {
         {1, K::DefaultPushButton, u"OK", 217, 177, 50, 14, kCtlTabStop},
         {2, K::PushButton, u"Cancel", 272, 177, 50, 14, kCtlTabStop},
         {1001, K::RichEdit, u"", 7, 7, 315, 134,
          kCtlBorder | kCtlVerticalScroll | kCtlTabStop | kCtlMultiLine | kCtlAutoVerticalScroll |
              kCtlReadOnly},
         {1002, K::AutoRadioButton, u"Accept all terms of the license agreement", 7, 151, 205, 10,
          0},
         {1003, K::AutoRadioButton, u"Don't accept the license agreement", 7, 165, 205, 10, 0},
     }},
    {202,
     kDlgPopup | kDlgCaption | kDlgModalFrame,
     275,
     58,
     {
         {1004, K::Static, u"***", 8, 9, 260, 20, kCtlCentred},
         {1007, K::Progress, u"", 8, 36, 260, 13, kCtlBorder | kCtlSmooth},
     }},
};

TEST(DialogTemplates, MatchTheirDefinitionControlByControl) {
    ASSERT_EQ(AllDialogTemplates().size(), kExpected.size());
    for (const ExpectedDialog& want : kExpected) {
        SCOPED_TRACE(want.id);
        const DialogTemplate* got = FindDialogTemplate(want.id);
        ASSERT_NE(got, nullptr);
        EXPECT_EQ(got->style, want.style);
        EXPECT_EQ(got->width, want.w);
        EXPECT_EQ(got->height, want.h);
        EXPECT_EQ(got->fontName, u"MS Shell Dlg");
        EXPECT_EQ(got->fontPoints, 9);
        ASSERT_EQ(got->controls.size(), want.controls.size());
        for (std::size_t i = 0; i < want.controls.size(); ++i) {
            const ExpectedControl& w = want.controls[i];
            const ControlTemplate& c = got->controls[i];
            SCOPED_TRACE(w.id);
            EXPECT_EQ(c.id, w.id) << "template order";
            EXPECT_EQ(c.kind, w.kind);
            EXPECT_EQ(c.text, w.text);
            EXPECT_EQ(c.x, w.x);
            EXPECT_EQ(c.y, w.y);
            EXPECT_EQ(c.width, w.w);
            EXPECT_EQ(c.height, w.h);
            EXPECT_EQ(c.style, w.style);
            EXPECT_EQ(got->FindControl(w.id), &c);
        }
    }
    EXPECT_EQ(FindDialogTemplate(203), nullptr);
    EXPECT_EQ(FindDialogTemplate(200)->FindControl(1001), nullptr);
}

TEST(DialogTemplates, AboutIconShowsTheApplicationIcon) {
    const ControlTemplate* icon = FindDialogTemplate(kIddAbout)->FindControl(kIdcAboutIcon);
    ASSERT_NE(icon, nullptr);
    EXPECT_EQ(icon->iconId, kIdiApp);
    for (const DialogTemplate& d : AllDialogTemplates()) {
        for (const ControlTemplate& c : d.controls) {
            if (c.kind != ControlKind::StaticIcon) {
                EXPECT_EQ(c.iconId, 0) << c.id;
            }
        }
    }
}

TEST(DialogTemplates, Win32StylesFollowTheFlags) {
    constexpr std::uint32_t kChild = 0x40000000u, kVisible = 0x10000000u, kDisabled = 0x08000000u,
                            kTabStop = 0x00010000u;
    const DialogTemplate& main = *FindDialogTemplate(kIddMain);
    // Hidden template controls must not come up visible.
    EXPECT_EQ(Win32ControlStyle(*main.FindControl(kIdcTypeTemplate)) & kVisible, 0u);
    EXPECT_EQ(Win32ControlStyle(*main.FindControl(kIdcStart)),
              kChild | kVisible | kDisabled | kTabStop);
    EXPECT_EQ(Win32ControlStyle(*main.FindControl(kIdcCancelButton)),
              kChild | kVisible | kTabStop | 0x1u /* default push button */);
    EXPECT_EQ(Win32ControlStyle(*main.FindControl(kIdcCurrentVersionTemplate)),
              kChild | kVisible | 0x1u /* centred */ | 0x1000u /* sunken */);
    const DialogTemplate& agreement = *FindDialogTemplate(kIddAgreement);
    EXPECT_EQ(Win32ControlStyle(*agreement.FindControl(kIdcAgreementText)),
              kChild | kVisible | 0x00800000u | 0x00200000u | kTabStop | 0x4u | 0x40u | 0x800u);
    EXPECT_EQ(Win32ControlStyle(*agreement.FindControl(kIdcAccept)), kChild | kVisible | 0x9u);
    EXPECT_EQ(ControlClassName(agreement.FindControl(kIdcAgreementText)->kind), u"RichEdit20W");
    EXPECT_EQ(ControlClassName(ControlKind::Progress), u"msctls_progress32");

    // The progress dialog has no system menu and is shown by the program.
    const DialogTemplate& progress = *FindDialogTemplate(kIddProgress);
    EXPECT_EQ(Win32DialogStyle(progress) & 0x00080000u, 0u);
    EXPECT_EQ(Win32DialogStyle(progress) & kVisible, 0u);
    EXPECT_EQ(Win32DialogExStyle(main), 0x00040000u);
    EXPECT_EQ(Win32DialogExStyle(agreement), 0u);
}

}  // namespace
}  // namespace talvo
