// Every text fits the control the program puts it in, in every language:
// measured with the system's text layout in the dialog font (Japanese and
// Chinese texts in a CJK font of the machine, as the system's font linking
// would draw them), on control sizes converted from dialog units the way the
// system converts them.
#include <windows.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <iostream>
#include <string>
#include <vector>

#include "resources/catalogue.h"

namespace talvo {
namespace {

struct Placement {
    int dialog;
    int control;
    int baseId;
    bool bold;  // the program shows these texts with weight + 300
};

// Where the program shows each text.
const Placement kPlacements[] = {
    {kIddMain, kIdcHeading, kIdsHeading, false},
    {kIddMain, kIdcCurrentVersionLabel, kIdsCurrentVersion, false},
    {kIddMain, kIdcUpdatedVersionLabel, kIdsUpdatedVersion, false},
    {kIddMain, kIdcStart, kIdsStart, false},
    {kIddMain, kIdcCancelButton, kIdsCancel, false},
    {kIddMain, kIdcCancelButton, kIdsClose, false},
    {kIddMain, kIdcMessage, kIdsPressStart, true},
    {kIddMain, kIdcMessage, kIdsConnectDevice, true},
    {kIddMain, kIdcMessage, kIdsUpdating, false},
    {kIddMain, kIdcMessage, kIdsUpdated, false},
    {kIddMain, kIdcMessage, kIdsUpdateFailed, true},
    {kIddAgreement, kIdcAccept, kIdsAccept, false},
    {kIddAgreement, kIdcDecline, kIdsDecline, false},
    {kIddAgreement, kIdOk, kIdsOk, false},
    {kIddAgreement, kIdCancel, kIdsCancel, false},
    {kIddProgress, kIdcWarning, kIdsDontDisconnect, true},
    {kIddAbout, kIdOk, kIdsOk, false},
};

// Window captions: the dialog's width less room for the icon and close box.
const std::pair<int, int> kCaptions[] = {
    {kIddProgress, kIdsProgressCaption},
    {kIddAgreement, kIdsAgreementCaption},
    {kIddAbout, kIdsAboutCaption},
};

class Measurer {
  public:
    Measurer() : dc_(CreateCompatibleDC(nullptr)) {}
    ~Measurer() {
        for (HFONT f : fonts_) {
            DeleteObject(f);
        }
        DeleteDC(dc_);
    }
    Measurer(const Measurer&) = delete;
    Measurer& operator=(const Measurer&) = delete;

    // A font of the given face at the dialog's 9 points; null when the
    // machine has no font of that face (the system would substitute one).
    HFONT Font(const wchar_t* face, bool bold, bool mustExist) {
        const int height = -MulDiv(9, GetDeviceCaps(dc_, LOGPIXELSY), 72);
        HFONT f = CreateFontW(height, 0, 0, 0, bold ? FW_NORMAL + 300 : FW_NORMAL, 0, 0, 0,
                              DEFAULT_CHARSET, 0, 0, 0, 0, face);
        if (f == nullptr) {
            return nullptr;
        }
        fonts_.push_back(f);
        if (mustExist) {
            SelectObject(dc_, f);
            wchar_t got[LF_FACESIZE] = {};
            GetTextFaceW(dc_, LF_FACESIZE, got);
            if (lstrcmpiW(got, face) != 0) {
                return nullptr;
            }
        }
        return f;
    }

    // Dialog base units of a font: average width of the Latin letters and
    // the character height, as the system computes them for templates.
    SIZE BaseUnits(HFONT font) {
        SelectObject(dc_, font);
        TEXTMETRICW tm;
        GetTextMetricsW(dc_, &tm);
        SIZE letters;
        GetTextExtentPoint32W(dc_, L"ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz", 52,
                              &letters);
        return {(letters.cx / 26 + 1) / 2, tm.tmHeight};
    }

    // Size of the text laid out in at most `width` pixels (wrapped when
    // multiLine, else on one line).
    SIZE Layout(HFONT font, const std::u16string& text, int width, bool multiLine) {
        SelectObject(dc_, font);
        RECT r = {0, 0, width, 0};
        const std::wstring w(text.begin(), text.end());
        DrawTextW(dc_, w.c_str(), static_cast<int>(w.size()), &r,
                  DT_CALCRECT | (multiLine ? DT_WORDBREAK : DT_SINGLELINE));
        return {r.right - r.left, r.bottom - r.top};
    }

  private:
    HDC dc_;
    std::vector<HFONT> fonts_;
};

struct Language {
    int offset;
    const wchar_t* face;  // null: the dialog font itself
};

const Language kLanguages[] = {
    {0, nullptr},
    {kLanguageOffsetJapanese, L"Noto Sans CJK JP"},
    {kLanguageOffsetChinese, L"Noto Sans CJK SC"},
};

TEST(TextFit, EveryTextFitsItsControlInEveryLanguage) {
    Measurer m;
    const DialogTemplate* anyDialog = FindDialogTemplate(kIddMain);
    ASSERT_NE(anyDialog, nullptr);
    const std::wstring dialogFace(anyDialog->fontName.begin(), anyDialog->fontName.end());
    HFONT dialogFont = m.Font(dialogFace.c_str(), false, false);
    ASSERT_NE(dialogFont, nullptr);
    const SIZE base = m.BaseUnits(dialogFont);
    ASSERT_GT(base.cx, 0);
    ASSERT_GT(base.cy, 0);
    auto px = [&](int dluX, int dluY) {
        return SIZE{MulDiv(dluX, base.cx, 4), MulDiv(dluY, base.cy, 8)};
    };

    int measured = 0;
    for (const Language& lang : kLanguages) {
        HFONT normal = lang.face ? m.Font(lang.face, false, true) : dialogFont;
        HFONT bold =
            lang.face ? m.Font(lang.face, true, true) : m.Font(dialogFace.c_str(), true, false);
        if (normal == nullptr || bold == nullptr) {
            std::wcout << L"no font " << lang.face << L" here; its texts are not measured\n";
            continue;
        }
        for (const Placement& p : kPlacements) {
            const DialogTemplate* d = FindDialogTemplate(p.dialog);
            ASSERT_NE(d, nullptr);
            const ControlTemplate* c = d->FindControl(p.control);
            ASSERT_NE(c, nullptr) << p.dialog << "/" << p.control;
            const int id = p.baseId + lang.offset;
            const std::u16string text(FindString(id));
            SIZE room = px(c->width, c->height);
            bool multiLine = false;
            switch (c->kind) {
                case ControlKind::PushButton:
                case ControlKind::DefaultPushButton:
                    room.cx -= 8;  // frame and focus rectangle
                    break;
                case ControlKind::RadioButton:
                case ControlKind::AutoRadioButton:
                    room.cx -= 17;  // the round box and its gap
                    break;
                default:
                    multiLine = room.cy >= 2 * base.cy;
                    if (c->style & kCtlSunken) {
                        room.cx -= 2;
                        room.cy -= 2;
                    }
                    break;
            }
            HFONT font = p.bold ? bold : normal;
            const SIZE need = m.Layout(font, text, room.cx, multiLine);
            EXPECT_LE(need.cx, room.cx) << "string " << id << " is too wide for control "
                                        << p.control << " of dialog " << p.dialog;
            // Lines are counted rather than pixels: a linked font draws in the
            // line height of the dialog font.
            const LONG lineHeight = m.Layout(font, u"X", room.cx, false).cy;
            const LONG lines = (need.cy + lineHeight / 2) / lineHeight;
            const LONG roomLines = std::max<LONG>(1, room.cy / base.cy);
            EXPECT_LE(lines, roomLines) << "string " << id << " needs more lines than control "
                                        << p.control << " of dialog " << p.dialog << " shows";
            ++measured;
        }
        for (const auto& [dialog, baseId] : kCaptions) {
            const int id = baseId + lang.offset;
            const SIZE room = px(FindDialogTemplate(dialog)->width, 8);
            const SIZE need = m.Layout(normal, std::u16string(FindString(id)), room.cx, false);
            EXPECT_LE(need.cx, room.cx - 60) << "caption " << id << " of dialog " << dialog;
        }
    }
    EXPECT_GE(measured, static_cast<int>(std::size(kPlacements)));
}

}  // namespace
}  // namespace talvo
