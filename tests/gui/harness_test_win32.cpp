// The driver against a real program: the demo dialog, started in its own
// process on the session's desktop, in three languages. Each test plays
// one way through the dialog and checks the exit code the program ends with.
#include <gtest/gtest.h>

#include <fstream>
#include <set>
#include <string>
#include <vector>

#include "tests/gui/bmp_image.h"
#include "tests/gui/demo/guidemo_ids.h"
#include "tests/gui/gui_driver.h"

namespace talvo::gui {
namespace {

const std::wstring kTitleEn = L"Harness Demo";
const std::wstring kTitleJa = L"ハーネス デモ";
const std::wstring kTitleZh = L"测试工具演示";

std::wstring DemoPath() {
    return ExecutableDirectory() + L"talvo_gui_demo.exe";
}

std::optional<DWORD> Code(DWORD c) {
    return c;
}

class DemoTest : public ::testing::Test {
  protected:
    // Starts the demo and waits for its dialog. The demo runs in the
    // driver's locale (see talvo_gui_run in CMakeLists.txt).
    void Open(WORD language, const std::wstring& title) {
        ASSERT_EQ(LANGIDFROMLCID(GetUserDefaultLCID()), language)
            << "the driver runs in the wrong locale: run it through CTest, which sets LC_ALL";
        LaunchOptions options;
        options.program = DemoPath();
        std::wstring error;
        process_ = Process::Start(options, &error);
        ASSERT_TRUE(process_.started()) << Utf8(error);
        dialog_ = process_.waitForWindow(title);
        ASSERT_TRUE(dialog_.exists())
            << "no window titled " << Utf8(title) << "; the program shows:\n"
            << process_.describeWindows();
        ASSERT_TRUE(dialog_.settle());
    }
    void OpenEnglish() { Open(MAKELANGID(LANG_ENGLISH, SUBLANG_ENGLISH_US), kTitleEn); }

    void Screenshot(const std::wstring& name, Window window = Window{}) {
        const std::wstring path = ScreenshotDirectory() + name + L".bmp";
        EXPECT_TRUE(SaveScreenshot(path, window)) << Utf8(path);
    }

    // Waits for the demo's message box, which is never the dialog itself.
    MessageBoxView Box() {
        std::optional<MessageBoxView> box = process_.waitForMessageBox({dialog_});
        if (!box) {
            ADD_FAILURE() << "no message box";
            return {};
        }
        return *box;
    }

    Process process_;
    Window dialog_;
};

TEST_F(DemoTest, ReadsTheStartUpStateOfEveryKindOfControl) {
    OpenEnglish();
    ASSERT_FALSE(HasFatalFailure());
    EXPECT_EQ(dialog_.className(), L"#32770");
    EXPECT_EQ(dialog_.text(), kTitleEn);
    EXPECT_EQ(dialog_.processId(), process_.id());
    EXPECT_EQ(dialog_.control(IDC_DEMO_HEADING).text(), L"Choose what the demo should do.");

    const Window check = dialog_.control(IDC_DEMO_ENABLE);
    EXPECT_EQ(check.text(), L"Enable &Start");
    EXPECT_EQ(check.checkState(), std::optional<int>(BST_UNCHECKED));

    const Window hidden = dialog_.control(IDC_DEMO_HIDDEN);
    EXPECT_TRUE(hidden.exists());
    EXPECT_FALSE(hidden.visible());
    EXPECT_EQ(hidden.text(), L"Hidden");
    EXPECT_FALSE(dialog_.control(4242).exists());

    EXPECT_EQ(dialog_.control(IDC_DEMO_PROGRESS).progressPos(),
              std::optional<int>(DEMO_PROGRESS_POS));
    EXPECT_FALSE(dialog_.control(IDC_DEMO_START).enabled());
    EXPECT_TRUE(dialog_.control(IDC_DEMO_START).visible());
    EXPECT_TRUE(dialog_.control(IDOK).enabled());
    EXPECT_EQ(dialog_.control(IDCANCEL).text(), L"Cancel");
    EXPECT_EQ(dialog_.defaultId(), std::optional<int>(IDOK));
    EXPECT_EQ(dialog_.focus().id(), IDC_DEMO_ENABLE);
    EXPECT_EQ(dialog_.activeWindow().handle(), dialog_.handle());
    EXPECT_EQ(ForegroundWindow().handle(), dialog_.handle());
    Screenshot(L"demo-en");

    ASSERT_TRUE(dialog_.clickControl(IDCANCEL));
    EXPECT_EQ(process_.waitForExitOrKill(), Code(DEMO_EXIT_CANCEL));
}

TEST_F(DemoTest, EachButtonEndsTheProgramWithItsOwnCode) {
    OpenEnglish();
    ASSERT_FALSE(HasFatalFailure());
    ASSERT_TRUE(dialog_.clickControl(IDOK));
    EXPECT_EQ(process_.waitForExitOrKill(), Code(DEMO_EXIT_OK));
}

TEST_F(DemoTest, ADisabledButtonCannotBeClicked) {
    OpenEnglish();
    ASSERT_FALSE(HasFatalFailure());
    EXPECT_FALSE(dialog_.clickControl(IDC_DEMO_START));
    EXPECT_FALSE(dialog_.clickControl(IDC_DEMO_HIDDEN));
    EXPECT_FALSE(dialog_.clickControl(4242));
    ASSERT_TRUE(dialog_.settle());
    EXPECT_TRUE(process_.running());
    EXPECT_FALSE(process_.waitForExit(Millis{300}).has_value());
    ASSERT_TRUE(dialog_.closeCommand());
    EXPECT_EQ(process_.waitForExitOrKill(), Code(DEMO_EXIT_CLOSE));
}

TEST_F(DemoTest, TheCheckBoxMovesTheDefaultButtonAndEnterFollowsIt) {
    OpenEnglish();
    ASSERT_FALSE(HasFatalFailure());
    const Window check = dialog_.control(IDC_DEMO_ENABLE);
    const Window start = dialog_.control(IDC_DEMO_START);
    ASSERT_TRUE(check.click());
    ASSERT_TRUE(start.waitForEnabled(true));
    EXPECT_EQ(check.checkState(), std::optional<int>(BST_CHECKED));
    EXPECT_EQ(dialog_.defaultId(), std::optional<int>(IDC_DEMO_START));
    EXPECT_EQ(dialog_.focus().id(), IDC_DEMO_ENABLE);
    Screenshot(L"demo-start-enabled", dialog_);

    ASSERT_TRUE(dialog_.pressEnter());
    EXPECT_EQ(process_.waitForExitOrKill(), Code(DEMO_EXIT_START));
}

TEST_F(DemoTest, UntickingGivesTheDefaultBackToOk) {
    OpenEnglish();
    ASSERT_FALSE(HasFatalFailure());
    const Window check = dialog_.control(IDC_DEMO_ENABLE);
    const Window start = dialog_.control(IDC_DEMO_START);
    ASSERT_TRUE(check.click());
    ASSERT_TRUE(start.waitForEnabled(true));
    ASSERT_TRUE(check.click());
    ASSERT_TRUE(start.waitForEnabled(false));
    EXPECT_EQ(check.checkState(), std::optional<int>(BST_UNCHECKED));
    EXPECT_EQ(dialog_.defaultId(), std::optional<int>(IDOK));
    ASSERT_TRUE(dialog_.pressEnter());
    EXPECT_EQ(process_.waitForExitOrKill(), Code(DEMO_EXIT_OK));
}

TEST_F(DemoTest, EscapeCancelsAndTheCloseCommandClosesWithItsCode) {
    OpenEnglish();
    ASSERT_FALSE(HasFatalFailure());
    ASSERT_TRUE(dialog_.pressEscape());
    EXPECT_EQ(process_.waitForExitOrKill(), Code(DEMO_EXIT_CANCEL));

    OpenEnglish();
    ASSERT_FALSE(HasFatalFailure());
    ASSERT_TRUE(dialog_.closeCommand());
    EXPECT_EQ(process_.waitForExitOrKill(), Code(DEMO_EXIT_CLOSE));
}

TEST_F(DemoTest, KeysThroughTheSystemInputQueueReachTheForegroundDialog) {
    OpenEnglish();
    ASSERT_FALSE(HasFatalFailure());
    ASSERT_TRUE(dialog_.pressEnter(KeyRoute::kSendInput));
    EXPECT_EQ(process_.waitForExitOrKill(), Code(DEMO_EXIT_OK));

    OpenEnglish();
    ASSERT_FALSE(HasFatalFailure());
    ASSERT_TRUE(dialog_.pressEscape(KeyRoute::kSendInput));
    EXPECT_EQ(process_.waitForExitOrKill(), Code(DEMO_EXIT_CANCEL));
}

TEST_F(DemoTest, AMessageBoxIsReadAndAnswered) {
    OpenEnglish();
    ASSERT_FALSE(HasFatalFailure());
    EXPECT_FALSE(process_.messageBox({dialog_}).has_value());
    ASSERT_TRUE(dialog_.clickControl(IDC_DEMO_ASK));
    const MessageBoxView box = Box();
    ASSERT_TRUE(box.window.exists());
    EXPECT_NE(box.window.handle(), dialog_.handle());
    EXPECT_EQ(box.caption, kTitleEn);
    EXPECT_EQ(box.text, L"Leave the demo?\r\n\r\nOK ends it.");
    EXPECT_TRUE(box.hasButton(IDOK));
    EXPECT_TRUE(box.hasButton(IDCANCEL));
    EXPECT_FALSE(box.hasButton(IDYES));
    EXPECT_EQ(box.buttonText(IDOK), L"OK");
    EXPECT_EQ(box.buttonText(IDCANCEL), L"Cancel");
    // Wine's message box gives the focus to the MB_DEFBUTTONn button (and so
    // Enter presses it) but leaves DM_GETDEFID at IDOK: ask the focus.
    EXPECT_EQ(box.window.focus().id(), IDCANCEL);
    EXPECT_EQ(box.window.owner().handle(), dialog_.handle());
    // While the box is open the dialog under it is disabled.
    EXPECT_TRUE(WaitUntil([&] { return !dialog_.enabled(); }, kStateTimeout));
    const std::string listing = process_.describeWindows();
    EXPECT_NE(listing.find("message box: \"Leave the demo?"), std::string::npos) << listing;
    EXPECT_NE(listing.find("(disabled)"), std::string::npos) << listing;
    box.window.settle();
    Screenshot(L"demo-ask-en");

    ASSERT_TRUE(box.answer(IDOK));
    EXPECT_EQ(process_.waitForExitOrKill(), Code(DEMO_EXIT_ASK_OK));
}

TEST_F(DemoTest, EnterAndEscapeAnswerAMessageBox) {
    // Enter presses the box's default button, Cancel here.
    OpenEnglish();
    ASSERT_FALSE(HasFatalFailure());
    ASSERT_TRUE(dialog_.clickControl(IDC_DEMO_ASK));
    MessageBoxView box = Box();
    ASSERT_TRUE(box.window.exists());
    ASSERT_TRUE(box.window.pressEnter());
    EXPECT_EQ(process_.waitForExitOrKill(), Code(DEMO_EXIT_ASK_CANCEL));

    OpenEnglish();
    ASSERT_FALSE(HasFatalFailure());
    ASSERT_TRUE(dialog_.clickControl(IDC_DEMO_ASK));
    box = Box();
    ASSERT_TRUE(box.window.exists());
    ASSERT_TRUE(box.window.pressEscape());
    EXPECT_EQ(process_.waitForExitOrKill(), Code(DEMO_EXIT_ASK_CANCEL));
}

TEST_F(DemoTest, TheChildGetsTheChosenEnvironment) {
    // Set for the child over the driver's own environment...
    ASSERT_TRUE(SetEnvironmentVariableW(L"TALVO_DEMO_GREETING", L"from the driver"));
    LaunchOptions options;
    options.program = DemoPath();
    options.environment = {{L"talvo_demo_greeting", L"Scenario: 場景 シナリオ"}};
    std::wstring error;
    process_ = Process::Start(options, &error);
    ASSERT_TRUE(process_.started()) << Utf8(error);
    dialog_ = process_.waitForWindow(kTitleEn);
    ASSERT_TRUE(dialog_.exists());
    EXPECT_TRUE(dialog_.control(IDC_DEMO_HEADING).waitForText(L"Scenario: 場景 シナリオ"));
    ASSERT_TRUE(dialog_.pressEscape());
    EXPECT_EQ(process_.waitForExitOrKill(), Code(DEMO_EXIT_CANCEL));

    // ...and removed from it by an empty value.
    options.environment = {{L"TALVO_DEMO_GREETING", L""}};
    process_ = Process::Start(options, &error);
    ASSERT_TRUE(process_.started()) << Utf8(error);
    dialog_ = process_.waitForWindow(kTitleEn);
    ASSERT_TRUE(dialog_.exists());
    EXPECT_EQ(dialog_.control(IDC_DEMO_HEADING).text(), L"Choose what the demo should do.");
    SetEnvironmentVariableW(L"TALVO_DEMO_GREETING", nullptr);
    ASSERT_TRUE(dialog_.pressEscape());
    EXPECT_EQ(process_.waitForExitOrKill(), Code(DEMO_EXIT_CANCEL));
}

TEST_F(DemoTest, TheSystemMenuItemOpensABoxAndTheDialogStaysOpen) {
    OpenEnglish();
    ASSERT_FALSE(HasFatalFailure());
    ASSERT_TRUE(dialog_.sysCommand(IDM_DEMO_ABOUT));
    const MessageBoxView box = Box();
    ASSERT_TRUE(box.window.exists());
    EXPECT_EQ(box.text, L"Harness Demo, version 1");
    EXPECT_EQ(box.buttons.size(), 1u);
    EXPECT_TRUE(box.hasButton(IDOK));
    ASSERT_TRUE(box.answer(IDOK));
    ASSERT_TRUE(WaitUntil([&] { return !box.window.exists(); }, kStateTimeout));
    ASSERT_TRUE(WaitUntil([&] { return dialog_.enabled(); }, kStateTimeout));
    EXPECT_TRUE(process_.running());
    EXPECT_FALSE(process_.messageBox({dialog_}).has_value());
    ASSERT_TRUE(dialog_.clickControl(IDCANCEL));
    EXPECT_EQ(process_.waitForExitOrKill(), Code(DEMO_EXIT_CANCEL));
}

TEST_F(DemoTest, JapaneseLocaleShowsTheJapaneseTexts) {
    Open(MAKELANGID(LANG_JAPANESE, SUBLANG_JAPANESE_JAPAN), kTitleJa);
    ASSERT_FALSE(HasFatalFailure());
    EXPECT_EQ(dialog_.control(IDC_DEMO_HEADING).text(), L"デモの動作を選んでください。");
    EXPECT_EQ(dialog_.control(IDC_DEMO_ENABLE).text(), L"開始を有効にする(&S)");
    EXPECT_EQ(dialog_.control(IDCANCEL).text(), L"キャンセル");
    Screenshot(L"demo-ja");
    ASSERT_TRUE(dialog_.clickControl(IDC_DEMO_ASK));
    const MessageBoxView box = Box();
    ASSERT_TRUE(box.window.exists());
    EXPECT_EQ(box.caption, kTitleJa);
    EXPECT_EQ(box.text, L"デモを終了しますか?\r\n\r\nOK で終了します。");
    box.window.settle();
    Screenshot(L"demo-ask-ja");
    ASSERT_TRUE(box.answer(IDCANCEL));
    EXPECT_EQ(process_.waitForExitOrKill(), Code(DEMO_EXIT_ASK_CANCEL));
}

TEST_F(DemoTest, SimplifiedChineseLocaleShowsTheChineseTexts) {
    Open(MAKELANGID(LANG_CHINESE, SUBLANG_CHINESE_SIMPLIFIED), kTitleZh);
    ASSERT_FALSE(HasFatalFailure());
    EXPECT_EQ(dialog_.control(IDC_DEMO_HEADING).text(), L"请选择演示程序要执行的操作。");
    EXPECT_EQ(dialog_.control(IDOK).text(), L"确定");
    EXPECT_EQ(dialog_.control(IDCANCEL).text(), L"取消");
    Screenshot(L"demo-zh");
    ASSERT_TRUE(dialog_.clickControl(IDC_DEMO_ASK));
    const MessageBoxView box = Box();
    ASSERT_TRUE(box.window.exists());
    EXPECT_EQ(box.caption, kTitleZh);
    box.window.settle();
    Screenshot(L"demo-ask-zh");
    ASSERT_TRUE(box.answer(IDOK));
    EXPECT_EQ(process_.waitForExitOrKill(), Code(DEMO_EXIT_ASK_OK));
}

TEST_F(DemoTest, AWindowScreenshotHoldsTheWindowsPixels) {
    OpenEnglish();
    ASSERT_FALSE(HasFatalFailure());
    const std::wstring path = ScreenshotDirectory() + L"demo-window.bmp";
    ASSERT_TRUE(SaveScreenshot(path, dialog_));
    std::ifstream in(Utf8(path).c_str(), std::ios::binary);
    ASSERT_TRUE(in.good());
    const std::vector<std::uint8_t> bytes((std::istreambuf_iterator<char>(in)),
                                          std::istreambuf_iterator<char>());
    RgbImage img;
    ASSERT_TRUE(DecodeBmp24(bytes, &img));
    const RECT r = dialog_.screenRect();
    EXPECT_EQ(img.width, r.right - r.left);
    EXPECT_EQ(img.height, r.bottom - r.top);
    // A drawn dialog has a frame, a face, text and a progress bar: many
    // colours, not one blank area.
    std::set<std::uint32_t> colours;
    for (std::size_t i = 0; i + 2 < img.pixels.size(); i += 3) {
        colours.insert(img.pixels[i] << 16 | img.pixels[i + 1] << 8 | img.pixels[i + 2]);
    }
    EXPECT_GE(colours.size(), 4u);
    EXPECT_FALSE(SaveScreenshot(ScreenshotDirectory() + L"no-such-dir\\x.bmp", dialog_));
    ASSERT_TRUE(dialog_.pressEscape());
    EXPECT_EQ(process_.waitForExitOrKill(), Code(DEMO_EXIT_CANCEL));
}

TEST(Driver, WaitsAreBoundedAndAProgramLeftRunningIsKilled) {
    LaunchOptions options;
    options.program = DemoPath();
    std::wstring error;
    Process p = Process::Start(options, &error);
    ASSERT_TRUE(p.started()) << Utf8(error);
    ASSERT_TRUE(p.waitForWindow(kTitleEn).exists());
    const ULONGLONG t0 = GetTickCount64();
    EXPECT_FALSE(p.waitForWindow(L"No Such Title", Millis{500}).exists());
    EXPECT_FALSE(p.waitForMessageBox({}, Millis{500}).has_value());
    EXPECT_FALSE(p.waitForWindow(kTitleEn).waitForText(L"Not the title", Millis{300}));
    EXPECT_FALSE(p.waitForExitOrKill(Millis{300}).has_value());
    EXPECT_LT(GetTickCount64() - t0, 15000u);  // generous: three sub-second waits
    EXPECT_FALSE(p.running());
}

TEST_F(DemoTest, AHungProgramFailsTheReadsAndIsKilled) {
    OpenEnglish();
    ASSERT_FALSE(HasFatalFailure());
    const Window heading = dialog_.control(IDC_DEMO_HEADING);
    ASSERT_FALSE(heading.text().empty());
    ASSERT_TRUE(PostMessageW(dialog_.handle(), DEMO_MSG_FREEZE, 0, 0));
    // The dialog's thread now sleeps: a read gives up after the driver's
    // send limit instead of waiting for the program to wake up.
    ASSERT_TRUE(WaitUntil([&] { return !dialog_.send(WM_NULL, 0, 0).has_value(); }, kStateTimeout));
    const ULONGLONG t0 = GetTickCount64();
    EXPECT_TRUE(heading.text().empty());
    EXPECT_FALSE(dialog_.defaultId().has_value());
    EXPECT_LT(GetTickCount64() - t0, static_cast<ULONGLONG>(DEMO_FREEZE_MS) - 3000);
    EXPECT_FALSE(process_.waitForExitOrKill(Millis{200}).has_value());
    EXPECT_FALSE(process_.running());
    // A wait for a window of a process that has ended returns at once.
    const ULONGLONG t1 = GetTickCount64();
    EXPECT_FALSE(process_.waitForWindow(kTitleEn).exists());
    EXPECT_LT(GetTickCount64() - t1, static_cast<ULONGLONG>(kWindowTimeout.count()) / 2);
}

TEST(Driver, AProgramThatCannotStartIsReported) {
    LaunchOptions options;
    options.program = ExecutableDirectory() + L"no-such-program.exe";
    std::wstring error;
    Process p = Process::Start(options, &error);
    EXPECT_FALSE(p.started());
    EXPECT_NE(error.find(L"CreateProcessW"), std::wstring::npos) << Utf8(error);
    EXPECT_FALSE(p.waitForExit(Millis{10}).has_value());
    EXPECT_FALSE(p.waitForWindow(kTitleEn, Millis{10}).exists());
    EXPECT_NE(p.describeWindows().find("no visible top-level windows"), std::string::npos);
}

}  // namespace
}  // namespace talvo::gui
