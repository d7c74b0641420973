// The three dialogs as real Win32 windows from the compiled templates,
// checked through the window system's own calls, with a screenshot each.
// A helper thread plays the user while the dialog runs modally on the test
// thread, as a person would with the mouse and the keyboard.
#include "ui/win32_headers.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cstdlib>
#include <fstream>
#include <string>
#include <thread>

#include "shell/platform.h"
#include "shell/strings.h"
#include "shell/version_block.h"
#include "resources/catalogue.h"
#include "resources/resource_ids.h"
#include "programs/windows-gui/about_dlg.h"
#include "programs/windows-gui/license_dlg.h"
#include "programs/windows-gui/progress_dlg.h"

namespace talvo {
namespace {

using namespace std::chrono_literals;

const wchar_t* W(const std::u16string& s) {
    return reinterpret_cast<const wchar_t*>(s.c_str());
}

std::u16string TextOf(HWND h) {
    wchar_t buf[4096] = {};
    const int n = GetWindowTextW(h, buf, 4096);
    return std::u16string(reinterpret_cast<const char16_t*>(buf), n > 0 ? n : 0);
}

std::u16string ItemText(HWND dlg, int id) {
    return TextOf(GetDlgItem(dlg, id));
}

void Pump(std::chrono::milliseconds span) {
    const auto end = std::chrono::steady_clock::now() + span;
    while (std::chrono::steady_clock::now() < end) {
        MSG m;
        while (PeekMessageW(&m, nullptr, 0, 0, PM_REMOVE)) {
            TranslateMessage(&m);
            DispatchMessageW(&m);
        }
        Sleep(10);
    }
}

// Asks the script around the test for a picture of the screen and waits for
// it; the UI thread keeps pumping when it is the caller.
void Screenshot(const char* name, bool pump) {
    const char* dir = std::getenv("TALVO_SCREENSHOT_DIR");
    if (dir == nullptr) {
        return;
    }
    const std::string base = std::string(dir) + "/" + name;
    std::remove((base + ".png").c_str());
    { std::ofstream(base + ".request") << name; }
    for (int i = 0; i < 300; ++i) {
        if (std::ifstream(base + ".png").good()) {
            return;
        }
        if (pump) {
            Pump(50ms);
        } else {
            Sleep(50);
        }
    }
    ADD_FAILURE() << "no screenshot " << name;
}

// Waits for a top-level dialog of this process with the caption.
HWND WaitForWindow(const std::u16string& caption) {
    for (int i = 0; i < 500; ++i) {
        HWND h = FindWindowW(L"#32770", W(caption));
        if (h != nullptr && IsWindowVisible(h)) {
            return h;
        }
        Sleep(10);
    }
    return nullptr;
}

HWND FocusOf(HWND window) {
    GUITHREADINFO info{};
    info.cbSize = sizeof(info);
    GetGUIThreadInfo(GetWindowThreadProcessId(window, nullptr), &info);
    return info.hwndFocus;
}

int DefId(HWND dlg) {
    const LRESULT r = SendMessageW(dlg, DM_GETDEFID, 0, 0);
    return HIWORD(r) == DC_HASDEFID ? LOWORD(r) : 0;
}

int FontWeight(HWND control) {
    auto font = reinterpret_cast<HGDIOBJ>(SendMessageW(control, WM_GETFONT, 0, 0));
    LOGFONTW lf{};
    return font != nullptr && GetObjectW(font, sizeof(lf), &lf) != 0 ? lf.lfWeight : 0;
}

// The text colour the dialog gives a static control when it paints.
COLORREF StaticTextColour(HWND dlg, HWND control) {
    HDC dc = CreateCompatibleDC(nullptr);
    SetTextColor(dc, RGB(1, 2, 3));
    SendMessageW(dlg, WM_CTLCOLORSTATIC, reinterpret_cast<WPARAM>(dc),
                 reinterpret_cast<LPARAM>(control));
    const COLORREF c = GetTextColor(dc);
    DeleteDC(dc);
    return c;
}

// A key press as the keyboard would send it to the focused control.
void PressKey(HWND dlg, WPARAM key) {
    HWND target = FocusOf(dlg);
    PostMessageW(target != nullptr ? target : dlg, WM_KEYDOWN, key, 1);
    PostMessageW(target != nullptr ? target : dlg, WM_KEYUP, key, 1 | (3u << 30));
}

class Win32Dialogs : public ::testing::Test {
  protected:
    static void SetUpTestSuite() { UiPlatform::Backend().InitCommonControls(); }
    void SetUp() override {
        if (std::getenv("TALVO_NO_DISPLAY") != nullptr) {
            GTEST_SKIP() << "no display for windows";
        }
        ReadVersionBlock(app);
    }
    AppData app;
};

TEST_F(Win32Dialogs, ProgressDialogShowsBoldRedWarningAndFollowsPostedPositions) {
    CFirmUpProgressDlg dlg(nullptr, app);
    ASSERT_TRUE(dlg.Create());
    HWND h = reinterpret_cast<HWND>(dlg.Window().value);
    EXPECT_FALSE(IsWindowVisible(h)) << "the template is not visible until shown";
    dlg.ShowWindow(true);
    dlg.CenterWindow();
    EXPECT_EQ(TextOf(h), u"TALVO Firmware updating...");
    HWND warning = GetDlgItem(h, kIdcWarning);
    HWND bar = GetDlgItem(h, kIdcProgressBar);
    ASSERT_NE(bar, nullptr) << "progress bar class registered";
    EXPECT_EQ(TextOf(warning), u"!!! DON'T DISCONNECT THE TALVO FROM THE USB PORT !!!");
    EXPECT_EQ(FontWeight(warning), 700);
    EXPECT_EQ(StaticTextColour(h, warning), RGB(255, 0, 0));
    EXPECT_NE(StaticTextColour(h, bar), RGB(255, 0, 0));
    PBRANGE range{};
    SendMessageW(bar, PBM_GETRANGE, FALSE, reinterpret_cast<LPARAM>(&range));
    EXPECT_EQ(range.iLow, 0);
    EXPECT_EQ(range.iHigh, 100);

    auto target = dlg.CreateMessageTarget();
    for (int pos : {0, 100, 50}) {
        std::thread([&] { EXPECT_TRUE(target->Post(kMsgUpdateProgress, pos, 0)); }).join();
        Pump(50ms);
        EXPECT_EQ(SendMessageW(bar, PBM_GETPOS, 0, 0), pos);
    }
    // Enter, Esc and a close request leave it open.
    SendMessageW(h, WM_COMMAND, IDOK, 0);
    SendMessageW(h, WM_COMMAND, IDCANCEL, 0);
    SendMessageW(h, WM_CLOSE, 0, 0);
    Pump(50ms);
    EXPECT_TRUE(IsWindow(h) && IsWindowVisible(h));
    Screenshot("progress", true);

    const DWORD gdiBefore = GetGuiResources(GetCurrentProcess(), GR_GDIOBJECTS);
    for (int round = 0; round < 3; ++round) {
        dlg.DestroyWindow();
        ASSERT_TRUE(dlg.Create());
        h = reinterpret_cast<HWND>(dlg.Window().value);
        EXPECT_EQ(FontWeight(GetDlgItem(h, kIdcWarning)), 700);
    }
    if (gdiBefore != 0) {
        EXPECT_LE(GetGuiResources(GetCurrentProcess(), GR_GDIOBJECTS), gdiBefore)
            << "a new window replaces the warning font";
    }
    dlg.DestroyWindow();
}

struct AgreementRun {
    std::atomic<bool> ok{true};
    std::string failure;
    void Fail(const std::string& what) {
        ok = false;
        failure += what + "; ";
    }
};

TEST_F(Win32Dialogs, AgreementStartsDeclinedAndAcceptingMakesOkTheDefault) {
    CLicenseDlg dlg(nullptr, app);
    AgreementRun run;
    std::thread user([&] {
        HWND h = WaitForWindow(u"TALVO Licensing Agreement");
        if (h == nullptr) {
            run.Fail("no agreement window");
            return;
        }
        HWND ok = GetDlgItem(h, IDOK);
        HWND edit = GetDlgItem(h, kIdcAgreementText);
        if (edit == nullptr) {
            run.Fail("no rich edit");
        }
        if (IsWindowEnabled(ok)) {
            run.Fail("OK enabled at start");
        }
        if (DefId(h) != IDCANCEL) {
            run.Fail("Cancel is not the default");
        }
        if (SendMessageW(GetDlgItem(h, kIdcDecline), BM_GETCHECK, 0, 0) != BST_CHECKED) {
            run.Fail("decline not selected");
        }
        if (ItemText(h, kIdcAccept) != u"Accept all terms of the license agreement" ||
            ItemText(h, IDOK) != u"OK" || ItemText(h, IDCANCEL) != u"Cancel") {
            run.Fail("button texts");
        }
        // The shown text, line breaks aside, is the resource without its mark.
        auto strip = [](std::u16string s) {
            std::erase(s, u'\r');
            std::erase(s, u'\n');
            return s;
        };
        const std::u16string expected =
            strip(DecodeAgreementText(FindAgreementText(kIdAgreementText)));
        if (strip(TextOf(edit)) != expected) {
            run.Fail("agreement text differs");
        }
        DWORD start = 1, end = 1;
        SendMessageW(edit, EM_GETSEL, reinterpret_cast<WPARAM>(&start),
                     reinterpret_cast<LPARAM>(&end));
        if (start != 0 || end != 0) {
            run.Fail("caret not at the start");
        }
        if ((GetWindowLongW(edit, GWL_STYLE) & ES_READONLY) == 0) {
            run.Fail("text editable");
        }
        Screenshot("agreement", false);

        SendMessageW(GetDlgItem(h, kIdcAccept), BM_CLICK, 0, 0);
        if (!IsWindowEnabled(ok) || DefId(h) != IDOK) {
            run.Fail("accept did not make OK the enabled default");
        }
        if (FocusOf(h) != GetDlgItem(h, kIdcAccept)) {
            run.Fail("focus left the accept button");
        }
        Screenshot("agreement-accepted", false);
        PressKey(h, VK_RETURN);
    });
    const std::intptr_t result = dlg.DoModal();
    user.join();
    EXPECT_TRUE(run.ok) << run.failure;
    EXPECT_EQ(result, IDOK);
}

TEST_F(Win32Dialogs, AgreementEnterRightAwayDeclines) {
    CLicenseDlg dlg(nullptr, app);
    std::thread user([&] {
        HWND h = WaitForWindow(u"TALVO Licensing Agreement");
        if (h != nullptr) {
            PressKey(h, VK_RETURN);
        }
    });
    EXPECT_EQ(dlg.DoModal(), IDCANCEL);
    user.join();
}

TEST_F(Win32Dialogs, JapaneseAndChineseAgreementsShowTheirTexts) {
    struct Case {
        LanguageIndex language;
        int offset;
        const char* shot;
    };
    for (const Case c : {Case{1, 10000, "agreement-ja"}, Case{2, 20000, "agreement-zh"}}) {
        app.languageIndex = c.language;
        CLicenseDlg dlg(nullptr, app);
        AgreementRun run;
        std::thread user([&] {
            HWND h = WaitForWindow(std::u16string(FindString(c.offset + kIdsAgreementCaption)));
            if (h == nullptr) {
                run.Fail("no agreement window in the language");
                return;
            }
            if (ItemText(h, kIdcAccept) != FindString(c.offset + kIdsAccept) ||
                ItemText(h, kIdcDecline) != FindString(c.offset + kIdsDecline) ||
                ItemText(h, IDOK) != FindString(c.offset + kIdsOk) ||
                ItemText(h, IDCANCEL) != FindString(c.offset + kIdsCancel)) {
                run.Fail("button texts");
            }
            Screenshot(c.shot, false);
            PressKey(h, VK_ESCAPE);
        });
        EXPECT_EQ(dlg.DoModal(), IDCANCEL);
        user.join();
        EXPECT_TRUE(run.ok) << c.shot << ": " << run.failure;
    }
}

TEST_F(Win32Dialogs, AboutBoxShowsTheVersionBlockOfTheExecutable) {
    CAboutDlg dlg(nullptr, app);
    AgreementRun run;
    std::thread user([&] {
        HWND h = WaitForWindow(u"About TALVO FW-Updater");
        if (h == nullptr) {
            run.Fail("no about box");
            return;
        }
        if (ItemText(h, kIdcAboutVersion) != u"TALVO FW-Updater  Version 1.01") {
            run.Fail("version line");
        }
        if (ItemText(h, IDOK) != u"OK") {
            run.Fail("OK text");
        }
        if (SendMessageW(GetDlgItem(h, kIdcAboutIcon), STM_GETICON, 0, 0) == 0) {
            run.Fail("no icon");
        }
        Screenshot("about", false);
        PressKey(h, VK_ESCAPE);
    });
    EXPECT_EQ(dlg.DoModal(), IDCANCEL);
    user.join();
    EXPECT_TRUE(run.ok) << run.failure;
}

TEST_F(Win32Dialogs, MessageBoxIsRetitledAndRelabelledByItsHook) {
    const std::u16string title = u"TALVO FW-Updater";
    AgreementRun run;
    std::thread user([&] {
        HWND h = WaitForWindow(title);
        if (h == nullptr) {
            run.Fail("no box with the new caption");
            return;
        }
        if (ItemText(h, IDOK) != FindString(10599) || ItemText(h, IDCANCEL) != FindString(10601)) {
            run.Fail("button texts");
        }
        Screenshot("messagebox-ja", false);
        SendMessageW(GetDlgItem(h, IDCANCEL), BM_CLICK, 0, 0);
    });
    const int answer = ShowMessageBox(
        nullptr, std::u16string(FindString(14003)), u"placeholder",
        mb::kOkCancel | mb::kIconInformation | mb::kDefButton2, [&](IMessageBoxWindow& box) {
            box.SetCaption(title);
            box.SetButtonText(kIdOk, std::u16string(FindString(10599)));
            box.SetButtonText(kIdCancel, std::u16string(FindString(10601)));
        });
    user.join();
    EXPECT_TRUE(run.ok) << run.failure;
    EXPECT_EQ(answer, IDCANCEL);
}

}  // namespace
}  // namespace talvo

namespace talvo {
namespace {

TEST(Win32Platform, NamedMutexAndUserLocale) {
    const std::u16string name = u"TALVO-UI-WIN32-TEST-MUTEX";
    NamedMutex first;
    ASSERT_EQ(first.Create(name), NamedMutex::Result::Created);
    NamedMutex second;
    EXPECT_EQ(second.Create(name), NamedMutex::Result::AlreadyExists);
    second.Close();
    first.Close();
    NamedMutex again;
    EXPECT_EQ(again.Create(name), NamedMutex::Result::Created);
    EXPECT_EQ(UserDefaultLocale(), GetUserDefaultLCID());
}

TEST_F(Win32Dialogs, ControlsMadeLikeATemplateControlAreRealChildWindows) {
    CFirmUpProgressDlg dlg(nullptr, app);
    ASSERT_TRUE(dlg.Create());
    HWND h = reinterpret_cast<HWND>(dlg.Window().value);
    const Control model = dlg.Item(kIdcWarning);
    Rect r = model.RectInParent();
    EXPECT_GT(r.Width(), 0);
    r.top += 30;
    r.bottom += 30;
    const Control made = dlg.CreateControlLike(model, 1099, r, u"made");
    ASSERT_TRUE(made);
    HWND child = GetDlgItem(h, 1099);
    ASSERT_NE(child, nullptr);
    wchar_t cls[32] = {};
    GetClassNameW(child, cls, 32);
    EXPECT_EQ(lstrcmpiW(cls, L"Static"), 0);
    EXPECT_EQ(GetWindowLongW(child, GWL_STYLE),
              GetWindowLongW(GetDlgItem(h, kIdcWarning), GWL_STYLE));
    EXPECT_EQ(made.RectInParent(), r);
    EXPECT_EQ(TextOf(child), u"made");
    dlg.DestroyWindow();
}

// A dialog whose handlers answer with values of their own.
class AnsweringDialog : public Dialog {
  public:
    static constexpr std::intptr_t kIcon = 0x4321;
    // Every bit of the answer, and negative: catches an answer stored through
    // a 32-bit window long or a DWORD (truncated on 64-bit, and sign lost).
    static constexpr std::intptr_t kResult = -static_cast<std::intptr_t>(~std::uintptr_t{0} / 3);
    AnsweringDialog() : Dialog(kIddProgress, nullptr) {}

  protected:
    const MessageMap* GetMessageMap() const override {
        static const MessageMapEntry entries[] = {
            OnMessage<AnsweringDialog, &AnsweringDialog::OnQueryDragIcon>(WM_QUERYDRAGICON),
            OnMessage<AnsweringDialog, &AnsweringDialog::OnApp>(WM_APP + 40),
        };
        static const MessageMap map{Dialog::GetMessageMap(), entries};
        return &map;
    }

  private:
    std::intptr_t OnQueryDragIcon(std::uintptr_t, std::intptr_t) { return kIcon; }
    std::intptr_t OnApp(std::uintptr_t, std::intptr_t) { return kResult; }
};

// Catches the dialog procedure answering every handled message through
// DWLP_MSGRESULT: for WM_QUERYDRAGICON the window system reads the
// procedure's return value, which then is 1 instead of the icon.
TEST_F(Win32Dialogs, HandlerAnswersReachTheSenderOnTheRightPath) {
    AnsweringDialog dlg;
    ASSERT_TRUE(dlg.Create());
    HWND h = reinterpret_cast<HWND>(dlg.Window().value);
    EXPECT_EQ(SendMessageW(h, WM_QUERYDRAGICON, 0, 0), AnsweringDialog::kIcon);
    EXPECT_EQ(SendMessageW(h, WM_APP + 40, 0, 0), AnsweringDialog::kResult);
    dlg.DestroyWindow();
}

}  // namespace
}  // namespace talvo

namespace talvo {
namespace {

TEST(Win32Platform, StartUpRegistersTheProgressAndRichEditClasses) {
    UiPlatform::Backend().InitCommonControls();
    WNDCLASSEXW wc{};
    wc.cbSize = sizeof(wc);
    EXPECT_NE(GetClassInfoExW(nullptr, L"RichEdit20W", &wc), 0);
    EXPECT_NE(GetClassInfoExW(nullptr, PROGRESS_CLASSW, &wc), 0);
    EXPECT_NE(GetModuleHandleW(L"riched32.dll"), nullptr);
}

}  // namespace
}  // namespace talvo
