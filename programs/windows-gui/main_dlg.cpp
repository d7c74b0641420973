#include "programs/windows-gui/main_dlg.h"

#include "programs/windows-gui/about_dlg.h"
#include "programs/windows-gui/license_dlg.h"
#include "resources/resource_ids.h"
#include "shell/strings.h"

namespace talvo {

WindowRef g_openBoxWindow;

namespace {

constexpr std::uint32_t kWmPaint = 0x000F;
constexpr std::uint32_t kWmQueryDragIcon = 0x0037;

constexpr std::int32_t kBoldExtraWeight = 300;

// The window's timer for a presenter timer: the version retry is timer 1;
// the others (unused under this program's policy) follow it.
std::uintptr_t TimerId(PresenterTimer timer) {
    return kTimerVersionRetry + static_cast<std::uintptr_t>(timer) -
           static_cast<std::uintptr_t>(PresenterTimer::kBusyRetry);
}

}  // namespace

void DialogBoxHook(IMessageBoxWindow& box, LanguageIndex language) {
    g_openBoxWindow = box.Ref();
    box.SetCaption(LoadProductTitle(language));
    box.SetButtonText(kIdOk, LoadLocalizedString(kIdsOk, language));
    box.SetButtonText(kIdCancel, LoadLocalizedString(kIdsCancel, language));
}

// ---- construction and teardown -------------------------------------------

CMainDlg::CMainDlg(const AppData& appData, IHidPlatform& platform, IKeepAwake& keepAwake,
                   PackageLoader loader)
    : Dialog(kIddMain, nullptr),
      app(appData),
      icon(kIdiApp),
      progressDialog(this, appData),
      presenter(*this, PresenterPolicy::Windows(), platform, keepAwake, loader) {
    IgnoreEnterKey();
}

CMainDlg::~CMainDlg() {
    // Normally the window is gone already (the application destroys it
    // first). If not, it goes now, while this object can still handle its
    // destruction (ending the watcher, closing the connection), and before
    // the fonts its controls use.
    if (HasWindow()) {
        for (int k = 0; k < columnCount; ++k) {
            typeLabel[k].Destroy();
            currentVersionBox[k].Destroy();
            updatedVersionBox[k].Destroy();
        }
        DestroyWindow();
    }
    normalFont.Delete();
    boldFont.Delete();
    // Before anything the updater thread reaches goes (this view, the
    // message targets).
    presenter.Shutdown();
}

void CMainDlg::BindControls() {
    headingText = Item(kIdcHeading);
    typeTemplate = Item(kIdcTypeTemplate);
    currentVersionLabel = Item(kIdcCurrentVersionLabel);
    currentVersionTemplate = Item(kIdcCurrentVersionTemplate);
    updatedVersionLabel = Item(kIdcUpdatedVersionLabel);
    updatedVersionTemplate = Item(kIdcUpdatedVersionTemplate);
    messageText = Item(kIdcMessage);
    startButton = Item(kIdcStart);
    cancelButton = Item(kIdcCancelButton);
}

const MessageMap* CMainDlg::GetMessageMap() const {
    static const MessageMapEntry entries[] = {
        OnMessage<CMainDlg, &CMainDlg::OnSysCommand>(msg::kSysCommand),
        OnMessage<CMainDlg, &CMainDlg::OnDestroy>(msg::kDestroy),
        OnMessage<CMainDlg, &CMainDlg::OnPaint>(kWmPaint),
        OnMessage<CMainDlg, &CMainDlg::OnQueryDragIcon>(kWmQueryDragIcon),
        OnMessage<CMainDlg, &CMainDlg::OnTimer>(msg::kTimer),
        OnCommand<CMainDlg, &CMainDlg::OnStartClicked>(kIdcStart),
        OnCommand<CMainDlg, &CMainDlg::OnCancelClicked>(kIdcCancelButton),
        OnMessage<CMainDlg, &CMainDlg::OnPosted>(kMsgDeviceMode),
        OnMessage<CMainDlg, &CMainDlg::OnUpdateEndedMessage>(kMsgUpdateEnded),
        OnMessage<CMainDlg, &CMainDlg::OnDeviceEvent>(kMsgDeviceEvent),
    };
    static const MessageMap map{Dialog::GetMessageMap(), entries};
    return &map;
}

// ---- start-up --------------------------------------------------------------

bool CMainDlg::OnInitDialog() {
    BindControls();
    windowTarget = CreateMessageTarget();
    return presenter.Start(windowTarget.get());
}

void CMainDlg::ShowStarting() {
    InitControls();
    EnableWindow(false);
    ShowWindow(true);
    CenterWindow(nullptr);
    UpdateWindow();
}

bool CMainDlg::AskAgreement() {
    CLicenseDlg agreement(nullptr, app);
    return agreement.DoModal() == kIdOk;
}

void CMainDlg::ShowPackage(const FirmwarePackage&) {
    LayOutImageColumns();
    currentVersionTemplate.Show(false);
    updatedVersionTemplate.Show(false);
}

void CMainDlg::InitControls() {
    const std::u16string aboutItem = LoadLocalizedString(kIdsAboutMenuItem, app.languageIndex);
    if (!aboutItem.empty() && AppendSystemMenuSeparator()) {
        AppendSystemMenuItem(kCmdAbout, aboutItem);
    }
    SetIcons(kIdiApp);
    title = LoadProductTitle(app.languageIndex);
    SetCaption(title);
    headingText.SetText(LoadLocalizedString(kIdsHeading, app.languageIndex));
    currentVersionLabel.SetText(LoadLocalizedString(kIdsCurrentVersion, app.languageIndex));
    updatedVersionLabel.SetText(LoadLocalizedString(kIdsUpdatedVersion, app.languageIndex));
    startButton.SetText(LoadLocalizedString(kIdsStart, app.languageIndex));
    cancelButton.SetText(LoadLocalizedString(kIdsCancel, app.languageIndex));

    // The message area's font as it is, and a bold copy for the alerts.
    if (const std::optional<FontSpec> spec = Font::SpecOf(messageText.GetFont())) {
        if (normalFont.Create(*spec)) {
            FontSpec bold = *spec;
            // A dialog font comes with weight 0 ("don't care", drawn as
            // normal); 300 on top of that would be light, not bold.
            if (bold.weight == 0) {
                bold.weight = kFontWeightNormal;
            }
            bold.weight += kBoldExtraWeight;
            boldFont.Create(bold);
        }
    }
}

void CMainDlg::LayOutImageColumns() {
    const FirmwarePackage& package = presenter.Package();
    const VersionSlots deviceVersion = presenter.Facts().versions;
    const Rect a = currentVersionTemplate.RectInParent();
    const int pitch = a.Width() + 10;
    const auto inColumn = [&](Rect r, int k) {
        const int width = r.Width();
        r.left = a.left + k * pitch;
        r.right = r.left + width;
        return r;
    };

    int k = 0;
    const Rect typeRect = typeTemplate.RectInParent();
    for (int slot = 0; slot < kImageTypeCount; ++slot) {
        if (!package.HasImage(slot)) {
            continue;
        }
        typeLabel[k] =
            CreateControlLike(typeTemplate, kIdcTypeLabelFirst + k, inColumn(typeRect, k));
        typeLabel[k].SetFont(typeTemplate.GetFont());
        const char* name = ImageTypeLabel(slot);
        typeLabel[k].SetText(std::u16string(name, name + std::char_traits<char>::length(name)));
        typeLabel[k].Show(false);
        ++k;
    }
    columnCount = k;

    const Rect currentRect = currentVersionTemplate.RectInParent();
    for (k = 0; k < columnCount; ++k) {
        currentVersionBox[k] = CreateControlLike(currentVersionTemplate, kIdcCurrentVersionBoxes[k],
                                                 inColumn(currentRect, k));
        currentVersionBox[k].SetFont(currentVersionTemplate.GetFont());
        currentVersionBox[k].SetText(deviceVersion[k]);
        currentVersionBox[k].Show(k == 0);
    }

    const Rect updatedRect = updatedVersionTemplate.RectInParent();
    for (k = 0; k < columnCount; ++k) {
        updatedVersionBox[k] = CreateControlLike(updatedVersionTemplate, kIdcUpdatedVersionBoxes[k],
                                                 inColumn(updatedRect, k));
        updatedVersionBox[k].SetFont(updatedVersionTemplate.GetFont());
        // Every column shows the Normal image's version: the one the
        // visible box stands for.
        updatedVersionBox[k].SetText(package.imageVersion[1]);
        updatedVersionBox[k].Show(k == 0);
    }
}

// ---- the device display ------------------------------------------------------

std::intptr_t CMainDlg::OnPosted(std::uintptr_t wParam, std::intptr_t lParam) {
    presenter.Handle(kMsgDeviceMode, wParam, lParam);
    return 0;
}

std::intptr_t CMainDlg::OnUpdateEndedMessage(std::uintptr_t wParam, std::intptr_t lParam) {
    presenter.Handle(kMsgUpdateEnded, wParam, lParam);
    return 0;
}

void CMainDlg::ShowOpening(bool opening) {
    if (opening) {
        openingCursor.emplace();
    } else {
        openingCursor.reset();
    }
}

void CMainDlg::ShowDevice(const DeviceFacts& facts) {
    currentVersionBox[0].SetText(facts.summary);
}

void CMainDlg::ShowMessage(int baseId, bool alert) {
    messageAlert = alert;
    const Font& font = alert ? boldFont : normalFont;
    if (font) {
        messageText.SetFont(font.Handle(), true);
    }
    messageText.SetText(LoadLocalizedString(baseId, app.languageIndex));
}

std::optional<Rgb> CMainDlg::OnCtlColor(Control control, CtlColorKind) {
    if (control && control == messageText && messageAlert) {
        return Rgb{255, 0, 0};
    }
    return std::nullopt;
}

void CMainDlg::StartTimer(PresenterTimer timer, std::uint32_t ms) {
    SetTimer(TimerId(timer), ms);
}

void CMainDlg::StopTimer(PresenterTimer timer) {
    KillTimer(TimerId(timer));
}

std::intptr_t CMainDlg::OnTimer(std::uintptr_t, std::intptr_t) {
    // Only the version retry runs here (timer 1).
    presenter.OnTimer(PresenterTimer::kBusyRetry);
    UseDefault();
    return 0;
}

// ---- boxes -------------------------------------------------------------------

MessageBoxHook CMainDlg::BoxHook() const {
    const LanguageIndex language = app.languageIndex;
    return [language](IMessageBoxWindow& box) { DialogBoxHook(box, language); };
}

void CMainDlg::OpenConfirmation(Confirmation) {
    const std::u16string text = LoadLocalizedString(kIdsNoUpdateNeeded, app.languageIndex);
    boxMessageId = kIdsNoUpdateNeeded;
    const int answer = ShowMessageBox(
        this, text, title, mb::kOkCancel | mb::kIconInformation | mb::kDefButton2, BoxHook());
    g_openBoxWindow = {};
    presenter.OnConfirmationClosed(answer == kIdOk);
}

void CMainDlg::CloseConfirmation() {
    if (g_openBoxWindow && boxMessageId == kIdsNoUpdateNeeded) {
        PostTo(g_openBoxWindow, msg::kClose, 0, 0);
    }
}

void CMainDlg::ShowFatal(int baseId) {
    const std::u16string text = LoadLocalizedString(baseId, app.languageIndex);
    boxMessageId = baseId;
    ShowMessageBox(this, text, title, mb::kOk | mb::kIconError, BoxHook());
    g_openBoxWindow = {};
}

// ---- commands and the window's own messages ---------------------------------

std::intptr_t CMainDlg::OnSysCommand(std::uintptr_t command, std::intptr_t) {
    if ((command & 0xFFF0) == kCmdAbout) {
        CAboutDlg about(nullptr, app);
        about.DoModal();
        return 0;
    }
    if ((command & 0xFFF0) == kScClose) {
        presenter.OnCloseCommand();
        return 0;
    }
    UseDefault();
    return 0;
}

void CMainDlg::OnCancel() {
    // Esc: only while the Cancel button can be pressed.
    if (cancelButton.IsEnabled()) {
        presenter.OnCancelClicked();
    }
}

std::intptr_t CMainDlg::OnPaint(std::uintptr_t, std::intptr_t) {
    if (!PaintMinimizedIcon(icon)) {
        UseDefault();
    }
    return 0;
}

std::intptr_t CMainDlg::OnQueryDragIcon(std::uintptr_t, std::intptr_t) {
    return IconValue(icon);
}

std::intptr_t CMainDlg::OnDestroy(std::uintptr_t, std::intptr_t) {
    presenter.OnWindowDestroyed();
    UseDefault();
    return 0;
}

// ---- the update run ----------------------------------------------------------

bool CMainDlg::OpenProgress(IMessageTarget** window) {
    if (!progressDialog.Create(this)) {
        return false;
    }
    progressDialog.ShowWindow(true);
    progressDialog.CenterWindow(this);
    progressDialog.SetPosition(progressDialog.WindowRect().left, WindowRect().top);
    EnableWindow(false);
    // The progress dialog follows WM_APP+2 by itself.
    progressTarget = progressDialog.CreateMessageTarget();
    *window = progressTarget.get();
    return true;
}

void CMainDlg::CloseProgress() {
    if (progressDialog.HasWindow()) {
        progressDialog.DestroyWindow();
    }
    EnableWindow(true);
}

void CMainDlg::ShowUpdateEnded() {
    for (int k = 0; k < columnCount; ++k) {
        updatedVersionBox[k].Enable(false);
    }
    cancelButton.SetText(LoadLocalizedString(kIdsClose, app.languageIndex));
    NextDlgCtl(cancelButton);
}

}  // namespace talvo
