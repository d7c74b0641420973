// The dialog layer over the headless backend, with templates of its own.
#include <gtest/gtest.h>

#include <atomic>
#include <thread>
#include <vector>

#include "tests/ui/ui_test_support.h"
#include "shell/platform.h"
#include "ui/dialog.h"

namespace talvo {
namespace {

using testing::Ready;
using testing::UiThread;
using namespace std::chrono_literals;

constexpr int kIddTest = 900;
constexpr int kIddPlain = 901;
constexpr int kIdcNested = 1020;
constexpr int kIdcRadioA = 1030;
constexpr int kIdcRadioB = 1031;
constexpr int kIdcRadioC = 1032;
constexpr int kIdcLabel = 1040;
constexpr std::uint32_t kMsgSequence = msg::kApp + 5;

const ControlTemplate kTestControls[] = {
    {kIdOk, ControlKind::DefaultPushButton, u"OK", 0, 10, 10, 50, 14, kCtlTabStop},
    {kIdCancel, ControlKind::PushButton, u"Cancel", 0, 70, 10, 50, 14, kCtlTabStop},
    {kIdcNested, ControlKind::PushButton, u"Nested", 0, 130, 10, 50, 14, kCtlTabStop},
    {kIdcRadioA, ControlKind::AutoRadioButton, u"A", 0, 10, 30, 50, 10, kCtlGroup},
    {kIdcRadioB, ControlKind::AutoRadioButton, u"B", 0, 10, 40, 50, 10, 0},
    {kIdcRadioC, ControlKind::AutoRadioButton, u"C", 0, 10, 50, 50, 10, kCtlGroup},
    {kIdcLabel, ControlKind::Static, u"label", 0, 10, 60, 50, 8, kCtlLeft},
};
const ControlTemplate kPlainControls[] = {
    {kIdcLabel, ControlKind::Static, u"plain", 0, 10, 10, 50, 8, kCtlCentred},
};
const DialogTemplate kTemplates[] = {
    {kIddTest, kDlgPopup | kDlgCaption | kDlgSystemMenu | kDlgModalFrame, 200, 80, u"MS Shell Dlg",
     9, u"Test", kTestControls},
    {kIddPlain, kDlgPopup | kDlgCaption | kDlgModalFrame, 100, 40, u"MS Shell Dlg", 9, u"Plain",
     kPlainControls},
};

const DialogTemplate* TestTemplate(int id) {
    for (const DialogTemplate& t : kTemplates) {
        if (t.id == id) {
            return &t;
        }
    }
    return nullptr;
}

// A dialog that records what reaches it.
class TestDlg : public Dialog {
  public:
    explicit TestDlg(int id = kIddTest, Dialog* parent = nullptr) : Dialog(id, parent) {}

    std::vector<std::uintptr_t> sequence;
    int timerTicks = 0;
    int destroyed = 0;
    int nestedResult = 0;
    std::function<void()> onNested;

    std::intptr_t OnSequence(std::uintptr_t w, std::intptr_t) {
        sequence.push_back(w);
        return 0;
    }
    std::intptr_t OnTimerMsg(std::uintptr_t, std::intptr_t) {
        ++timerTicks;
        return 0;
    }
    std::intptr_t OnDestroyMsg(std::uintptr_t, std::intptr_t) {
        ++destroyed;
        return 0;
    }
    void OnNested() {
        if (onNested) {
            onNested();
        }
    }

  protected:
    const MessageMap* GetMessageMap() const override {
        static const MessageMapEntry entries[] = {
            OnMessage<TestDlg, &TestDlg::OnSequence>(kMsgSequence),
            OnMessage<TestDlg, &TestDlg::OnTimerMsg>(msg::kTimer),
            OnMessage<TestDlg, &TestDlg::OnDestroyMsg>(msg::kDestroy),
            OnCommand<TestDlg, &TestDlg::OnNested>(kIdcNested),
        };
        static const MessageMap map{Dialog::GetMessageMap(), entries};
        return &map;
    }
};

class LayerTest : public ::testing::Test {
  protected:
    HeadlessBackend backend{TestTemplate};
    UiThread ui{backend};
    HeadlessUser user{backend};
};

TEST_F(LayerTest, ModalDialogsNestAndEachEndsWithItsOwnResult) {
    TestDlg outer;
    TestDlg inner(kIddTest, &outer);
    outer.onNested = [&] { outer.nestedResult = static_cast<int>(inner.DoModal()); };
    auto result = ui.Async([&] { return outer.DoModal(); });

    const WindowRef o = user.WaitForDialog(kIddTest);
    ASSERT_TRUE(o);
    ASSERT_TRUE(user.Click(o, kIdcNested));
    // The click returns while the inner loop runs on the UI thread.
    WindowRef i;
    for (int k = 0; k < 500 && (!i || i == o); ++k) {
        i = user.FindDialog(kIddTest);
        std::this_thread::sleep_for(2ms);
    }
    ASSERT_TRUE(i);
    ASSERT_NE(i, o);
    EXPECT_FALSE(user.Enabled(o)) << "the owner is disabled while its modal child runs";
    EXPECT_EQ(user.Active(), i);
    EXPECT_FALSE(user.Click(o, kIdOk)) << "input to the blocked owner is refused";

    ASSERT_TRUE(user.PressEscape());  // goes to the inner dialog
    ASSERT_TRUE(backend.WaitIdle());
    EXPECT_EQ(ui.Call([&] { return outer.nestedResult; }), kIdCancel);
    EXPECT_FALSE(ui.Call([&] { return inner.HasWindow(); }));
    EXPECT_EQ(ui.Call([&] { return inner.destroyed; }), 1);
    EXPECT_TRUE(user.Enabled(o));
    EXPECT_FALSE(Ready(result, 50ms)) << "the outer dialog is still open";

    ASSERT_TRUE(user.PressEnter());  // focus is on the Nested button: presses it again
    ASSERT_TRUE(backend.WaitIdle());
    ASSERT_TRUE(user.PressEscape());  // closes the second inner run
    ASSERT_TRUE(backend.WaitIdle());
    ASSERT_TRUE(user.Click(o, kIdOk));
    ASSERT_TRUE(Ready(result));
    EXPECT_EQ(result.get(), kIdOk);
}

TEST_F(LayerTest, MessagesPostedFromOtherThreadsArriveInOrderAndNotAfterTheWindowIsGone) {
    TestDlg dlg;
    ASSERT_TRUE(ui.Call([&] { return dlg.Create(); }));
    std::unique_ptr<IMessageTarget> target = ui.Call([&] { return dlg.CreateMessageTarget(); });

    constexpr int kCount = 2000;
    std::atomic<int> failures{0};
    std::thread worker([&] {
        for (int n = 0; n < kCount; ++n) {
            if (!target->Post(kMsgSequence, static_cast<std::uintptr_t>(n), 0)) {
                ++failures;
            }
        }
    });
    worker.join();
    ASSERT_TRUE(backend.WaitIdle());
    EXPECT_EQ(failures.load(), 0);
    const auto seq = ui.Call([&] { return dlg.sequence; });
    ASSERT_EQ(seq.size(), static_cast<std::size_t>(kCount));
    for (int n = 0; n < kCount; ++n) {
        ASSERT_EQ(seq[n], static_cast<std::uintptr_t>(n));
    }

    ui.Call([&] { dlg.DestroyWindow(); });
    EXPECT_EQ(ui.Call([&] { return dlg.destroyed; }), 1);
    EXPECT_FALSE(target->Post(kMsgSequence, 1, 0)) << "the window is gone";
}

TEST_F(LayerTest, TwoPostingThreadsLoseNothing) {
    TestDlg dlg;
    ASSERT_TRUE(ui.Call([&] { return dlg.Create(); }));
    auto t1 = ui.Call([&] { return dlg.CreateMessageTarget(); });
    auto t2 = ui.Call([&] { return dlg.CreateMessageTarget(); });
    std::thread a([&] {
        for (int n = 0; n < 500; ++n) {
            t1->Post(kMsgSequence, 1, 0);
        }
    });
    std::thread b([&] {
        for (int n = 0; n < 500; ++n) {
            t2->Post(kMsgSequence, 2, 0);
        }
    });
    a.join();
    b.join();
    ASSERT_TRUE(backend.WaitIdle());
    const auto seq = ui.Call([&] { return dlg.sequence; });
    EXPECT_EQ(std::count(seq.begin(), seq.end(), 1u), 500);
    EXPECT_EQ(std::count(seq.begin(), seq.end(), 2u), 500);
    ui.Call([&] { dlg.DestroyWindow(); });  // windows go on the UI thread
}

TEST_F(LayerTest, TimersTickUntilKilledAndDieWithTheirWindow) {
    TestDlg dlg;
    ASSERT_TRUE(ui.Call([&] { return dlg.Create(); }));
    ASSERT_TRUE(ui.Call([&] { return dlg.SetTimer(1, 20); }));
    for (int k = 0; k < 400 && ui.Call([&] { return dlg.timerTicks; }) < 3; ++k) {
        std::this_thread::sleep_for(5ms);
    }
    EXPECT_GE(ui.Call([&] { return dlg.timerTicks; }), 3);

    ui.Call([&] { dlg.KillTimer(1); });
    const int after = ui.Call([&] { return dlg.timerTicks; });
    std::this_thread::sleep_for(100ms);
    EXPECT_EQ(ui.Call([&] { return dlg.timerTicks; }), after);

    // A timer of a destroyed window never fires into a later window.
    ASSERT_TRUE(ui.Call([&] { return dlg.SetTimer(1, 10); }));
    ui.Call([&] { dlg.DestroyWindow(); });
    ASSERT_TRUE(ui.Call([&] { return dlg.Create(); }));
    const int fresh = ui.Call([&] { return dlg.timerTicks; });
    std::this_thread::sleep_for(80ms);
    EXPECT_EQ(ui.Call([&] { return dlg.timerTicks; }), fresh);
    ui.Call([&] { dlg.DestroyWindow(); });  // windows go on the UI thread
}

TEST_F(LayerTest, MessageBoxShowsWhatItsHookSetAndReturnsTheAnswer) {
    TestDlg dlg;
    ASSERT_TRUE(ui.Call([&] { return dlg.Create(); }));
    const WindowRef d = user.FindDialog(kIddTest);
    WindowRef seenByHook;
    auto answer = ui.Async([&] {
        return ShowMessageBox(&dlg, u"Start update?", u"",
                              mb::kOkCancel | mb::kIconInformation | mb::kDefButton2,
                              [&](IMessageBoxWindow& box) {
                                  seenByHook = box.Ref();
                                  box.SetCaption(u"Product");
                                  box.SetButtonText(kIdOk, u"Yes, OK");
                                  box.SetButtonText(kIdCancel, u"No");
                                  EXPECT_FALSE(box.SetButtonText(7, u"none"));
                              });
    });
    auto box = user.WaitForBox();
    ASSERT_TRUE(box);
    EXPECT_EQ(box->caption, u"Product");
    EXPECT_EQ(box->text, u"Start update?");
    EXPECT_EQ(box->icon, mb::kIconInformation);
    EXPECT_EQ(box->owner, d);
    ASSERT_EQ(box->buttons.size(), 2u);
    EXPECT_EQ(box->buttons[0].second, u"Yes, OK");
    EXPECT_EQ(box->buttons[1].second, u"No");
    EXPECT_EQ(box->defaultButton, kIdCancel);
    EXPECT_EQ(ui.Call([&] { return seenByHook; }), box->window);
    EXPECT_FALSE(user.Enabled(d)) << "the owner is disabled while the box is open";

    // Enter takes the default button, here Cancel.
    ASSERT_TRUE(user.PressEnter());
    ASSERT_TRUE(Ready(answer));
    EXPECT_EQ(answer.get(), kIdCancel);
    EXPECT_TRUE(user.Enabled(d));
    EXPECT_FALSE(user.OpenBox());
    ui.Call([&] { dlg.DestroyWindow(); });  // windows go on the UI thread
}

TEST_F(LayerTest, MessageBoxClosedByTheUserOrByAPostedCloseAnswersLikeCancel) {
    // OK-only box: closing it answers OK.
    auto okOnly =
        ui.Async([] { return ShowMessageBox(nullptr, u"Fatal", u"T", mb::kOk | mb::kIconError); });
    auto box = user.WaitForBox();
    ASSERT_TRUE(box);
    EXPECT_EQ(box->icon, mb::kIconError);
    ASSERT_EQ(box->buttons.size(), 1u);
    ASSERT_TRUE(user.CloseCommand());
    ASSERT_TRUE(Ready(okOnly));
    EXPECT_EQ(okOnly.get(), kIdOk);

    // OK/Cancel box closed by a WM_CLOSE posted from another thread.
    WindowRef boxRef;
    auto okCancel = ui.Async([&] {
        return ShowMessageBox(nullptr, u"Q", u"T", mb::kOkCancel,
                              [&](IMessageBoxWindow& b) { boxRef = b.Ref(); });
    });
    ASSERT_TRUE(user.WaitForBox());
    const WindowRef r = ui.Call([&] { return boxRef; });
    std::thread([&] { EXPECT_TRUE(backend.Post(r, msg::kClose, 0, 0)); }).join();
    ASSERT_TRUE(Ready(okCancel));
    EXPECT_EQ(okCancel.get(), kIdCancel);
    EXPECT_FALSE(backend.Post(r, msg::kClose, 0, 0)) << "the box is gone";

    // Answering OK explicitly.
    auto ok = ui.Async([] { return ShowMessageBox(nullptr, u"Q", u"T", mb::kOkCancel); });
    ASSERT_TRUE(user.WaitForBox());
    EXPECT_FALSE(user.AnswerBox(7));
    EXPECT_TRUE(user.AnswerBox(kIdOk));
    ASSERT_TRUE(Ready(ok));
    EXPECT_EQ(ok.get(), kIdOk);
}

TEST_F(LayerTest, EnterPressesTheFocusedPushButtonOrElseAnEnabledDefaultButton) {
    TestDlg dlg;
    auto result = ui.Async([&] { return dlg.DoModal(); });
    const WindowRef d = user.WaitForDialog(kIddTest);
    ASSERT_TRUE(backend.WaitIdle());
    EXPECT_EQ(user.FocusId(d), kIdOk) << "default focus: the first tab stop";
    EXPECT_EQ(user.DefId(d), kIdOk) << "the template's default push button";

    // Focus on a radio button: Enter goes to the default button, which is
    // disabled, so nothing happens.
    ASSERT_TRUE(user.Click(d, kIdcRadioA));
    EXPECT_EQ(user.FocusId(d), kIdcRadioA);
    ui.Call([&] { dlg.Item(kIdOk).Enable(false); });
    ASSERT_TRUE(user.PressEnter());
    ASSERT_TRUE(backend.WaitIdle());
    EXPECT_FALSE(Ready(result, 20ms));

    // Default moved to Cancel without moving the focus (DM_SETDEFID and
    // WM_NEXTDLGCTL there and back, as the agreement dialog does it).
    ui.Call([&] {
        const Control focus = dlg.Focused();
        dlg.SetDefId(kIdCancel);
        dlg.NextDlgCtl(dlg.Item(kIdCancel));
        dlg.NextDlgCtl(focus);
    });
    EXPECT_EQ(user.FocusId(d), kIdcRadioA);
    EXPECT_EQ(user.DefId(d), kIdCancel);
    ASSERT_TRUE(user.PressEnter());
    ASSERT_TRUE(Ready(result));
    EXPECT_EQ(result.get(), kIdCancel);
}

TEST_F(LayerTest, CloseCommandCancelsUnlessCancelIsDisabledOrThereIsNoSystemMenu) {
    TestDlg dlg;
    auto result = ui.Async([&] { return dlg.DoModal(); });
    const WindowRef d = user.WaitForDialog(kIddTest);
    ui.Call([&] { dlg.Item(kIdCancel).Enable(false); });
    ASSERT_TRUE(user.CloseCommand());
    ASSERT_TRUE(backend.WaitIdle());
    EXPECT_FALSE(Ready(result, 20ms)) << "a disabled Cancel button keeps the window";
    ui.Call([&] { dlg.Item(kIdCancel).Enable(true); });
    EXPECT_FALSE(user.ChooseSystemMenu(d, 0x10)) << "no such menu item";
    ASSERT_TRUE(user.ChooseSystemMenu(d, kScClose));
    ASSERT_TRUE(Ready(result));
    EXPECT_EQ(result.get(), kIdCancel);

    TestDlg plain(kIddPlain);
    auto r2 = ui.Async([&] { return plain.DoModal(); });
    ASSERT_TRUE(user.WaitForDialog(kIddPlain));
    EXPECT_FALSE(user.CloseCommand()) << "no system menu, no close box";
    EXPECT_EQ(ui.Call([&] { return plain.AppendSystemMenuItem(0x10, u"About"); }), false);
    ASSERT_TRUE(user.PressEscape());
    ASSERT_TRUE(Ready(r2));
    EXPECT_EQ(r2.get(), kIdCancel);
}

TEST_F(LayerTest, AutoRadioButtonsCheckOnlyWithinTheirGroup) {
    TestDlg dlg;
    ASSERT_TRUE(ui.Call([&] { return dlg.Create(); }));
    const WindowRef d = user.FindDialog(kIddTest);
    EXPECT_FALSE(user.Click(d, kIdcRadioA)) << "a hidden window takes no clicks";
    ui.Call([&] { dlg.ShowWindow(true); });
    ui.Call([&] { dlg.Item(kIdcRadioC).SetCheck(true); });
    ASSERT_TRUE(user.Click(d, kIdcRadioA));
    EXPECT_TRUE(user.Checked(d, kIdcRadioA));
    ASSERT_TRUE(user.Click(d, kIdcRadioB));
    EXPECT_FALSE(user.Checked(d, kIdcRadioA));
    EXPECT_TRUE(user.Checked(d, kIdcRadioB));
    EXPECT_TRUE(user.Checked(d, kIdcRadioC)) << "C starts a group of its own";
    ui.Call([&] { dlg.Item(kIdcRadioB).Enable(false); });
    EXPECT_FALSE(user.Click(d, kIdcRadioB));
    EXPECT_FALSE(user.Click(d, kIdcLabel)) << "a static takes no clicks";
    ui.Call([&] { dlg.DestroyWindow(); });  // windows go on the UI thread
}

TEST_F(LayerTest, QuitCodeEndsNestedLoopsOnceTheQueueIsEmpty) {
    TestDlg dlg;
    auto result = ui.Async([&] { return dlg.DoModal(); });
    ASSERT_TRUE(user.WaitForDialog(kIddTest));
    ui.Call([&] {
        dlg.PostMessage(kMsgSequence, 41, 0);
        PostQuitMessage(3);
        dlg.PostMessage(kMsgSequence, 42, 0);
    });
    ASSERT_TRUE(Ready(result));
    EXPECT_EQ(result.get(), 0) << "a modal run ended by the quit message has no result";
    EXPECT_EQ(ui.Join(), 3);
    // The quit message waits until nothing else is queued: messages posted
    // before and after it are delivered first.
    EXPECT_EQ(dlg.sequence, (std::vector<std::uintptr_t>{41, 42}));
}

TEST_F(LayerTest, FontsAreOwnedAndDisabledWindowsLoseTheFocus) {
    const std::size_t before = backend.LiveFontCount();
    TestDlg dlg;
    ASSERT_TRUE(ui.Call([&] { return dlg.Create(); }));
    EXPECT_EQ(backend.LiveFontCount(), before + 1) << "the dialog font";
    ui.Call([&] {
        Font bold;
        auto spec = Font::SpecOf(dlg.Item(kIdcLabel).GetFont());
        ASSERT_TRUE(spec);
        EXPECT_EQ(spec->faceName, u"MS Shell Dlg");
        EXPECT_EQ(spec->weight, 0) << "as the compiled templates give it";
        spec->weight = 700;
        ASSERT_TRUE(bold.Create(*spec));
        EXPECT_EQ(Font::SpecOf(bold.Handle())->weight, 700);
        ASSERT_TRUE(bold.Create(*spec));  // re-creating replaces, never adds
    });
    EXPECT_EQ(backend.LiveFontCount(), before + 1);
    ui.Call([&] { dlg.ShowWindow(true); });
    const WindowRef d = user.FindDialog(kIddTest);
    ASSERT_TRUE(user.Click(d, kIdCancel));
    EXPECT_EQ(user.FocusId(d), kIdCancel);
    ui.Call([&] { dlg.Item(kIdCancel).Enable(false); });
    EXPECT_EQ(user.FocusId(d), 0);
    ui.Call([&] { dlg.DestroyWindow(); });
    EXPECT_EQ(backend.LiveFontCount(), before);
}

TEST_F(LayerTest, OperationsOnMissingWindowsAreHarmless) {
    TestDlg dlg;
    ui.Call([&] {
        EXPECT_FALSE(dlg.HasWindow());
        EXPECT_FALSE(dlg.Item(kIdOk));
        dlg.Item(kIdOk).SetText(u"x");
        EXPECT_EQ(dlg.Item(kIdOk).GetText(), u"");
        EXPECT_FALSE(dlg.PostMessage(kMsgSequence, 0, 0));
        EXPECT_FALSE(dlg.SetTimer(1, 10));
        ASSERT_TRUE(dlg.Create());
        EXPECT_FALSE(dlg.Create()) << "one window per object";
        EXPECT_FALSE(dlg.Item(4242));
        EXPECT_EQ(dlg.DoModal(), -1);
    });
    TestDlg unknown(4711);
    EXPECT_EQ(ui.Call([&] { return unknown.DoModal(); }), -1) << "no such template";
    ui.Call([&] { dlg.DestroyWindow(); });  // windows go on the UI thread
}

}  // namespace
}  // namespace talvo

namespace talvo {
namespace {

// A dialog whose system-command handler takes one command itself and
// leaves the others to the default handling.
class SysMenuDlg : public TestDlg {
  public:
    int aboutChosen = 0;
    std::intptr_t OnSysCommand(std::uintptr_t command, std::intptr_t) {
        if ((command & 0xFFF0) == 0x10) {
            ++aboutChosen;
        } else {
            UseDefault();
        }
        return 0;
    }

  protected:
    bool OnInitDialog() override {
        EXPECT_TRUE(AppendSystemMenuSeparator());
        EXPECT_TRUE(AppendSystemMenuItem(0x10, u"&About"));
        return true;
    }

  protected:
    const MessageMap* GetMessageMap() const override {
        static const MessageMapEntry entries[] = {
            OnMessage<SysMenuDlg, &SysMenuDlg::OnSysCommand>(msg::kSysCommand),
        };
        static const MessageMap map{TestDlg::GetMessageMap(), entries};
        return &map;
    }
};

TEST_F(LayerTest, AHandlerCanLeaveAMessageToTheDefaultHandling) {
    SysMenuDlg dlg;
    auto result = ui.Async([&] { return dlg.DoModal(); });
    const WindowRef d = user.WaitForDialog(kIddTest);
    ASSERT_TRUE(backend.WaitIdle());
    const auto menu = user.SystemMenu(d);
    ASSERT_EQ(menu.size(), 2u);
    EXPECT_EQ(menu[0].first, 0u) << "separator";
    EXPECT_EQ(menu[1], (std::pair<std::uint32_t, std::u16string>{0x10, u"&About"}));
    ASSERT_TRUE(user.ChooseSystemMenu(d, 0x10));
    EXPECT_EQ(ui.Call([&] { return dlg.aboutChosen; }), 1);
    EXPECT_FALSE(Ready(result, 20ms)) << "the handler took the about command";
    ASSERT_TRUE(user.CloseCommand());  // left to the default: close means cancel
    ASSERT_TRUE(Ready(result));
    EXPECT_EQ(result.get(), kIdCancel);
}

TEST_F(LayerTest, ControlsMadeLikeATemplateControlTakeItsStyleAndTheirOwnPlace) {
    TestDlg dlg;
    ASSERT_TRUE(ui.Call([&] { return dlg.Create(); }));
    const WindowRef d = user.FindDialog(kIddTest);
    const Rect model = user.WindowRect(d, kIdcLabel);
    EXPECT_EQ(model, (Rect{20, 120, 120, 136})) << "two pixels per dialog unit";
    ui.Call([&] {
        const Control label = dlg.Item(kIdcLabel);
        label.Show(false);
        Rect r = label.RectInParent();
        r.left += 110;
        r.right += 110;
        const Control made = dlg.CreateControlLike(label, 1099, r, u"made");
        ASSERT_TRUE(made);
        EXPECT_EQ(dlg.Item(1099), made);
        EXPECT_FALSE(made.IsVisible()) << "the model is hidden now";
        EXPECT_FALSE(made.GetFont()) << "a new window has no dialog font yet";
        made.SetFont(label.GetFont());
    });
    EXPECT_EQ(user.Text(d, 1099), u"made");
    EXPECT_EQ(user.WindowRect(d, 1099), (Rect{130, 120, 230, 136}));
    ui.Call([&] { dlg.Item(1099).Destroy(); });
    EXPECT_FALSE(user.Exists(d, 1099));
    ui.Call([&] { dlg.DestroyWindow(); });  // windows go on the UI thread
}

TEST_F(LayerTest, DialogsCentreOverTheirOwnerAndMoveWithoutResizing) {
    TestDlg owner;
    TestDlg child(kIddPlain, &owner);
    ui.Call([&] {
        ASSERT_TRUE(owner.Create());
        owner.ShowWindow(true);
        owner.CenterWindow();
        ASSERT_TRUE(child.Create());
        child.CenterWindow(&owner);
    });
    const Rect o = ui.Call([&] { return owner.WindowRect(); });
    EXPECT_EQ(o, (Rect{312, 304, 712, 464})) << "centred on the screen";
    const Rect c = ui.Call([&] { return child.WindowRect(); });
    EXPECT_EQ((c.left + c.right) / 2, (o.left + o.right) / 2);
    EXPECT_EQ((c.top + c.bottom) / 2, (o.top + o.bottom) / 2);
    ui.Call([&] { child.SetPosition(c.left, o.top); });
    const Rect moved = ui.Call([&] { return child.WindowRect(); });
    EXPECT_EQ(moved, (Rect{c.left, o.top, c.left + c.Width(), o.top + c.Height()}));
    ui.Call([&] {
        owner.SetIcons(128);
        child.DestroyWindow();
        owner.DestroyWindow();
    });
}

TEST_F(LayerTest, NamedMutexTellsASecondHolderThatItExists) {
    const std::u16string name = u"TALVO-LAYER-TEST-MUTEX";
    ui.Call([&] {
        NamedMutex first;
        EXPECT_EQ(first.Create(name), NamedMutex::Result::Created);
        {
            NamedMutex second;
            EXPECT_EQ(second.Create(name), NamedMutex::Result::AlreadyExists);
            EXPECT_TRUE(second.IsHeld());
        }
        NamedMutex third;
        EXPECT_EQ(third.Create(name), NamedMutex::Result::AlreadyExists)
            << "the first holder still has it";
        first.Close();
        third.Close();
        NamedMutex again;
        EXPECT_EQ(again.Create(name), NamedMutex::Result::Created) << "gone with its last handle";
    });
}

TEST_F(LayerTest, UserLocaleComesFromTheInstalledPlatform) {
    EXPECT_EQ(ui.Call([] { return UserDefaultLocale(); }), 0x0409u);
    ui.Platform().SetUserLocale(0x0411);
    EXPECT_EQ(ui.Call([] { return UserDefaultLocale(); }), 0x0411u);
}

}  // namespace
}  // namespace talvo

namespace talvo {
namespace {

TEST(LayerTimers, ASpeedupRunsLongTimersFast) {
    HeadlessBackend backend(TestTemplate);
    backend.SetTimerSpeedup(100.0);
    UiThread ui(backend);
    testing::UiObject<TestDlg> dlg(ui);
    ASSERT_TRUE(ui.Call([&] { return dlg->Create() && dlg->SetTimer(1, 1000); }));
    const auto start = std::chrono::steady_clock::now();
    while (ui.Call([&] { return dlg->timerTicks; }) < 3 &&
           std::chrono::steady_clock::now() - start < 5s) {
        std::this_thread::sleep_for(5ms);
    }
    // Three 1 s ticks in well under their nominal 3 s.
    EXPECT_GE(ui.Call([&] { return dlg->timerTicks; }), 3);
    EXPECT_LT(std::chrono::steady_clock::now() - start, 2500ms);
}

}  // namespace
}  // namespace talvo
