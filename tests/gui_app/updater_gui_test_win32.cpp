// The real executables on the session's desktop, driven as their user
// would: the test build (an emulated TALVO chosen by its scenario variable)
// and the product (no TALVO attached here). Each test plays one way through
// the program, saves a screenshot of every screen and checks the exit code.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "resources/catalogue.h"
#include "resources/resource_ids.h"
#include "tests/gui/gui_driver.h"

namespace talvo::gui {
namespace {

std::wstring W(std::u16string_view s) {
    return std::wstring(s.begin(), s.end());
}

const std::wstring kTitle = L"TALVO FW-Updater";

class UpdaterTest : public ::testing::Test {
  protected:
    // The language the driver runs in (set by CTest through LC_ALL).
    void UseLanguage(WORD primary, int offset) {
        ASSERT_EQ(PRIMARYLANGID(LANGIDFROMLCID(GetUserDefaultLCID())), primary)
            << "the driver runs in the wrong locale: run it through CTest, which sets LC_ALL";
        offset_ = offset;
    }
    std::wstring S(int baseId) const { return W(FindString(baseId + offset_)); }

    Process Launch(const std::wstring& exe, const std::wstring& scenario,
                   const std::wstring& version = {}) {
        LaunchOptions options;
        options.program = ExecutableDirectory() + exe;
        if (!scenario.empty()) {
            options.environment.emplace_back(L"TALVO_EMULATOR_SCENARIO", scenario);
            options.environment.emplace_back(L"TALVO_EMULATOR_SPEEDUP", L"10");
            options.environment.emplace_back(L"TALVO_EMULATOR_VERSION", version);
        }
        std::wstring error;
        Process p = Process::Start(options, &error);
        EXPECT_TRUE(p.started()) << Utf8(error);
        return p;
    }
    Process LaunchEmulated(const std::wstring& scenario, const std::wstring& version = {}) {
        return Launch(L"TALVO-FW-Updater-Emulated.exe", scenario, version);
    }

    void Screenshot(const std::wstring& name, Window window = Window{}) {
        if (window) {
            window.settle();
        }
        const std::wstring path = ScreenshotDirectory() + L"updater-" + name + L".bmp";
        EXPECT_TRUE(SaveScreenshot(path, window)) << Utf8(path);
    }

    // Accepts the agreement and returns the main dialog.
    Window Accept(Process& p, const std::wstring& shot = {}) {
        const Window agreement = p.waitForWindow(S(kIdsAgreementCaption));
        if (!agreement) {
            ADD_FAILURE() << "no agreement; the program shows:\n" << p.describeWindows();
            return {};
        }
        agreement.settle();
        if (!shot.empty()) {
            Screenshot(shot, agreement);
        }
        EXPECT_TRUE(agreement.clickControl(kIdcAccept));
        EXPECT_TRUE(WaitUntil([&] { return agreement.control(kIdOk).enabled(); }, kStateTimeout));
        EXPECT_TRUE(agreement.clickControl(kIdOk));
        EXPECT_TRUE(WaitUntil([&] { return !agreement.exists(); }, kStateTimeout));
        const Window main = p.waitForWindow(kTitle);
        EXPECT_TRUE(main) << p.describeWindows();
        EXPECT_TRUE(WaitUntil([&] { return main.enabled(); }, kStateTimeout));
        return main;
    }

    bool WaitForMessage(const Window& main, int baseId, Millis limit = kStateTimeout) {
        const std::wstring text = S(baseId);
        return WaitUntil([&] { return main.control(kIdcMessage).text() == text; }, limit);
    }

    int offset_ = 0;
};

std::optional<DWORD> Code(DWORD c) {
    return c;
}

TEST_F(UpdaterTest, DecliningTheAgreementEndsWithTwo) {
    UseLanguage(LANG_ENGLISH, 0);
    Process p = LaunchEmulated(L"current");
    const Window agreement = p.waitForWindow(S(kIdsAgreementCaption));
    ASSERT_TRUE(agreement) << p.describeWindows();
    agreement.settle();
    Screenshot(L"agreement-en", agreement);
    EXPECT_FALSE(agreement.control(kIdOk).enabled());
    ASSERT_TRUE(agreement.pressEscape());
    EXPECT_EQ(p.waitForExitOrKill(), Code(2));
}

TEST_F(UpdaterTest, WithoutADeviceAsksForItAndTheAboutBoxOpensFromTheSystemMenu) {
    UseLanguage(LANG_ENGLISH, 0);
    Process p = LaunchEmulated(L"absent");
    const Window main = Accept(p);
    ASSERT_TRUE(main);
    ASSERT_TRUE(WaitForMessage(main, kIdsConnectDevice)) << Utf8(main.control(kIdcMessage).text());
    EXPECT_FALSE(main.control(kIdcStart).enabled());
    EXPECT_EQ(main.focus().id(), kIdcCancelButton);
    EXPECT_EQ(main.control(1011).text(), L"");
    EXPECT_EQ(main.control(1013).text(), L"1.07");
    Screenshot(L"no-device-en", main);

    ASSERT_TRUE(main.sysCommand(kCmdAbout));
    const Window about = p.waitForWindow(S(kIdsAboutCaption));
    ASSERT_TRUE(about) << p.describeWindows();
    EXPECT_EQ(about.control(kIdcAboutVersion).text(), L"TALVO FW-Updater  Version 1.01");
    Screenshot(L"about-en", about);
    ASSERT_TRUE(about.clickControl(kIdOk));
    ASSERT_TRUE(WaitUntil([&] { return !about.exists(); }, kStateTimeout));
    EXPECT_TRUE(p.running());

    ASSERT_TRUE(main.closeCommand());
    EXPECT_EQ(p.waitForExitOrKill(), Code(2));
}

// Catches a real Enter key clicking the focused Cancel button through the
// window system's dialog navigation (the program would end), although
// Enter does nothing on the main dialog.
TEST_F(UpdaterTest, ARealEnterKeyOnTheMainDialogDoesNothing) {
    UseLanguage(LANG_ENGLISH, 0);
    Process p = LaunchEmulated(L"absent");
    const Window main = Accept(p);
    ASSERT_TRUE(main);
    ASSERT_TRUE(WaitForMessage(main, kIdsConnectDevice));
    ASSERT_EQ(main.focus().id(), kIdcCancelButton);

    ASSERT_TRUE(main.pressEnter(KeyRoute::kSendInput));
    Sleep(1500);
    EXPECT_TRUE(p.running()) << "Enter ended the program";
    EXPECT_TRUE(main.exists());
    ASSERT_TRUE(main.closeCommand());
    EXPECT_EQ(p.waitForExitOrKill(), Code(2));
}

TEST_F(UpdaterTest, TheProductFindsNoTalvoHereAndAsksForIt) {
    UseLanguage(LANG_ENGLISH, 0);
    Process p = Launch(L"TALVO-FW-Updater.exe", L"");
    const Window main = Accept(p);
    ASSERT_TRUE(main);
    ASSERT_TRUE(WaitForMessage(main, kIdsConnectDevice));
    EXPECT_FALSE(main.control(kIdcStart).enabled());
    EXPECT_EQ(main.control(1013).text(), L"1.07") << "the product carries the package too";
    ASSERT_TRUE(main.pressEscape());
    EXPECT_EQ(p.waitForExitOrKill(), Code(2));
}

TEST_F(UpdaterTest, ASecondInstanceShowsItsBoxAndEndsWithZeroWhileTheFirstRuns) {
    UseLanguage(LANG_ENGLISH, 0);
    Process first = LaunchEmulated(L"absent");
    const Window main = Accept(first);
    ASSERT_TRUE(main);

    Process second = Launch(L"TALVO-FW-Updater.exe", L"");
    const std::optional<MessageBoxView> box = second.waitForMessageBox();
    ASSERT_TRUE(box) << second.describeWindows();
    EXPECT_EQ(box->caption, kTitle);
    EXPECT_EQ(box->text, S(kIdsAlreadyRunning));
    EXPECT_EQ(box->buttonText(IDOK), S(kIdsOk));
    EXPECT_FALSE(box->hasButton(IDCANCEL));
    Screenshot(L"already-running-en", box->window);
    ASSERT_TRUE(box->answer(IDOK));
    EXPECT_EQ(second.waitForExitOrKill(), Code(0));
    EXPECT_TRUE(first.running());
    EXPECT_TRUE(main.exists());

    ASSERT_TRUE(main.clickControl(kIdcCancelButton));
    EXPECT_EQ(first.waitForExitOrKill(), Code(2));
}

TEST_F(UpdaterTest, AFullEmulatedUpdateEndsWithFirmwareUpdatedAndClose) {
    UseLanguage(LANG_ENGLISH, 0);
    Process p = LaunchEmulated(L"current");
    const Window main = Accept(p);
    ASSERT_TRUE(main);
    ASSERT_TRUE(WaitForMessage(main, kIdsPressStart));
    EXPECT_TRUE(main.control(kIdcStart).enabled());
    EXPECT_EQ(main.control(1011).text(), L"1.05");
    Screenshot(L"ready-en", main);

    ASSERT_TRUE(main.clickControl(kIdcStart));
    const Window progress = p.waitForWindow(S(kIdsProgressCaption));
    ASSERT_TRUE(progress) << p.describeWindows();
    EXPECT_EQ(progress.control(kIdcWarning).text(), S(kIdsDontDisconnect));
    EXPECT_TRUE(WaitForMessage(main, kIdsUpdating));
    EXPECT_FALSE(main.enabled());
    // Esc and the close command do not end a running update.
    main.closeCommand();
    progress.pressEscape();
    EXPECT_TRUE(
        WaitUntil([&] { return progress.control(kIdcProgressBar).progressPos().value_or(0) > 0; },
                  Millis{60000}));
    Screenshot(L"progress-en", progress);
    EXPECT_TRUE(p.running());

    ASSERT_TRUE(WaitForMessage(main, kIdsUpdated, Millis{120000}));
    EXPECT_EQ(main.control(kIdcCancelButton).text(), S(kIdsClose));
    EXPECT_FALSE(main.control(kIdcStart).enabled());
    EXPECT_FALSE(progress.exists());
    Screenshot(L"updated-en", main);
    ASSERT_TRUE(main.clickControl(kIdcCancelButton));
    EXPECT_EQ(p.waitForExitOrKill(), Code(2));
}

// Run only in the guest of tests/vm (wine-case), where the TALVO is
// talvo-emulator --uhid and Wine's HID bus driver reads it through hidraw:
// the product, unmodified, through a HID class driver. Catches what the
// fake stacks cannot: report IDs and lengths as a real stack hands them
// over, and the device leaving and coming back in update mode.
TEST_F(UpdaterTest, ThroughTheKernelTheProductUpdatesTheTalvo) {
    UseLanguage(LANG_ENGLISH, 0);
    Process p = Launch(L"TALVO-FW-Updater.exe", L"");
    const Window main = Accept(p);
    ASSERT_TRUE(main);
    ASSERT_TRUE(WaitForMessage(main, kIdsPressStart, Millis{120000}))
        << Utf8(main.control(kIdcMessage).text());
    EXPECT_EQ(main.control(1011).text(), L"1.05");
    ASSERT_TRUE(main.clickControl(kIdcStart));
    const Window progress = p.waitForWindow(S(kIdsProgressCaption));
    ASSERT_TRUE(progress) << p.describeWindows();
    EXPECT_TRUE(
        WaitUntil([&] { return progress.control(kIdcProgressBar).progressPos().value_or(0) > 0; },
                  Millis{120000}));
    ASSERT_TRUE(WaitForMessage(main, kIdsUpdated, Millis{400000}))
        << Utf8(main.control(kIdcMessage).text());
    ASSERT_TRUE(main.clickControl(kIdcCancelButton));
    EXPECT_EQ(p.waitForExitOrKill(), Code(2));
}

TEST_F(UpdaterTest, AFailedEmulatedUpdateSaysSo) {
    UseLanguage(LANG_ENGLISH, 0);
    Process p = LaunchEmulated(L"setinfo-error");
    const Window main = Accept(p);
    ASSERT_TRUE(main);
    ASSERT_TRUE(WaitForMessage(main, kIdsPressStart));
    ASSERT_TRUE(main.clickControl(kIdcStart));
    ASSERT_TRUE(WaitForMessage(main, kIdsUpdateFailed, Millis{120000}));
    EXPECT_EQ(main.control(kIdcCancelButton).text(), S(kIdsClose));
    Screenshot(L"failed-en", main);
    ASSERT_TRUE(main.clickControl(kIdcCancelButton));
    EXPECT_EQ(p.waitForExitOrKill(), Code(2));
}

TEST_F(UpdaterTest, AnUpToDateDeviceIsAskedAboutWithCancelAsTheDefault) {
    UseLanguage(LANG_ENGLISH, 0);
    Process p = LaunchEmulated(L"current", L"1.07");
    const Window main = Accept(p);
    ASSERT_TRUE(main);
    ASSERT_TRUE(WaitForMessage(main, kIdsPressStart));
    EXPECT_EQ(main.control(1011).text(), L"1.07");
    ASSERT_TRUE(main.clickControl(kIdcStart));
    std::optional<MessageBoxView> box = p.waitForMessageBox({main});
    ASSERT_TRUE(box) << p.describeWindows();
    EXPECT_EQ(box->caption, kTitle);
    EXPECT_EQ(box->text, S(kIdsNoUpdateNeeded));
    EXPECT_EQ(box->buttonText(IDOK), S(kIdsOk));
    EXPECT_EQ(box->buttonText(IDCANCEL), S(kIdsCancel));
    EXPECT_TRUE(WaitUntil([&] { return box->window.focus().id() == IDCANCEL; }, kStateTimeout))
        << "Cancel is the default";
    Screenshot(L"no-update-needed-en", box->window);
    ASSERT_TRUE(box->window.pressEnter());
    ASSERT_TRUE(WaitUntil([&] { return !box->window.exists(); }, kStateTimeout));
    EXPECT_TRUE(main.control(kIdcStart).enabled());
    EXPECT_FALSE(p.waitForWindow(S(kIdsProgressCaption), Millis{500}));

    // Asked again, OK starts the update.
    ASSERT_TRUE(main.clickControl(kIdcStart));
    box = p.waitForMessageBox({main});
    ASSERT_TRUE(box);
    ASSERT_TRUE(box->answer(IDOK));
    ASSERT_TRUE(WaitForMessage(main, kIdsUpdated, Millis{120000}));
    ASSERT_TRUE(main.clickControl(kIdcCancelButton));
    EXPECT_EQ(p.waitForExitOrKill(), Code(2));
}

TEST_F(UpdaterTest, JapaneseLocaleShowsTheJapaneseTexts) {
    UseLanguage(LANG_JAPANESE, kLanguageOffsetJapanese);
    Process p = LaunchEmulated(L"current");
    const Window main = Accept(p, L"agreement-ja");
    ASSERT_TRUE(main);
    EXPECT_EQ(main.text(), kTitle);
    EXPECT_EQ(main.control(kIdcStart).text(), S(kIdsStart));
    EXPECT_EQ(main.control(kIdcHeading).text(), S(kIdsHeading));
    ASSERT_TRUE(WaitForMessage(main, kIdsPressStart));
    Screenshot(L"ready-ja", main);
    ASSERT_TRUE(main.clickControl(kIdcStart));
    const Window progress = p.waitForWindow(S(kIdsProgressCaption));
    ASSERT_TRUE(progress) << p.describeWindows();
    Screenshot(L"progress-ja", progress);
    ASSERT_TRUE(WaitForMessage(main, kIdsUpdated, Millis{120000}));
    EXPECT_EQ(main.control(kIdcCancelButton).text(), S(kIdsClose));
    Screenshot(L"updated-ja", main);
    ASSERT_TRUE(main.clickControl(kIdcCancelButton));
    EXPECT_EQ(p.waitForExitOrKill(), Code(2));
}

TEST_F(UpdaterTest, SimplifiedChineseLocaleShowsTheChineseTexts) {
    UseLanguage(LANG_CHINESE, kLanguageOffsetChinese);
    Process p = LaunchEmulated(L"absent");
    const Window main = Accept(p, L"agreement-zh");
    ASSERT_TRUE(main);
    EXPECT_EQ(main.text(), kTitle);
    EXPECT_EQ(main.control(kIdcCancelButton).text(), S(kIdsCancel));
    ASSERT_TRUE(WaitForMessage(main, kIdsConnectDevice));
    Screenshot(L"no-device-zh", main);

    Process second = Launch(L"TALVO-FW-Updater.exe", L"");
    const std::optional<MessageBoxView> box = second.waitForMessageBox();
    ASSERT_TRUE(box) << second.describeWindows();
    EXPECT_EQ(box->caption, kTitle);
    EXPECT_EQ(box->text, S(kIdsAlreadyRunning));
    EXPECT_EQ(box->buttonText(IDOK), S(kIdsOk));
    Screenshot(L"already-running-zh", box->window);
    ASSERT_TRUE(box->answer(IDOK));
    EXPECT_EQ(second.waitForExitOrKill(), Code(0));

    ASSERT_TRUE(main.pressEscape());
    EXPECT_EQ(p.waitForExitOrKill(), Code(2));
}

}  // namespace
}  // namespace talvo::gui
