#include "programs/windows-gui/main_dlg.h"

#include "shell/strings.h"
#include "resources/resource_ids.h"
#include "programs/windows-gui/license_dlg.h"
#include "programs/windows-gui/about_dlg.h"

namespace talvo {

WindowRef g_openBoxWindow;

namespace {

constexpr std::uint32_t kWmPaint = 0x000F;
constexpr std::uint32_t kWmQueryDragIcon = 0x0037;

constexpr std::int32_t kBoldExtraWeight = 300;
// A busy device is asked again after this long, without limit.
constexpr std::uint32_t kVersionRetryMs = 1000;
constexpr char16_t kTypeNames[3][8] = {u"Fwup", u"Normal", u"DspMain"};

bool IsAlertMessage(int baseId) {
    return baseId == kIdsPressStart || baseId == kIdsConnectDevice || baseId == kIdsUpdateFailed;
}

}  // namespace

void DialogBoxHook(IMessageBoxWindow& box, LanguageIndex language) {
    g_openBoxWindow = box.Ref();
    box.SetCaption(LoadProductTitle(language));
    box.SetButtonText(kIdOk, LoadLocalizedString(kIdsOk, language));
    box.SetButtonText(kIdCancel, LoadLocalizedString(kIdsCancel, language));
}

// ---- construction and teardown -------------------------------------------

CMainDlg::CMainDlg(const AppData& appData, PackageLoader loader)
    : Dialog(kIddMain, nullptr),
      app(appData),
      loadPackage(loader),
      icon(kIdiApp),
      controller(*this, BusyPolicy::AskAgainLater()),
      progressDialog(this, appData) {
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
    // Before anything the updater thread reaches goes: this object (its
    // observer), the window target and the package.
    controller.End();
    keepAwake.Release();
    package.Clear();
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
        OnMessage<CMainDlg, &CMainDlg::OnDeviceModeChanged>(kMsgDeviceMode),
        OnMessage<CMainDlg, &CMainDlg::OnUpdateEndedMessage>(kMsgUpdateEnded),
        OnMessage<CMainDlg, &CMainDlg::OnDeviceEvent>(kMsgDeviceEvent),
    };
    static const MessageMap map{Dialog::GetMessageMap(), entries};
    return &map;
}

const MessageMap* CUpdaterDlg::GetMessageMap() const {
    static const MessageMap map{CMainDlg::GetMessageMap(), {}};
    return &map;
}

// ---- start-up --------------------------------------------------------------

bool CMainDlg::OnInitDialog() {
    BindControls();
    state = MainDialogState::Starting;
    messageId = 0;
    InitControls();

    EnableWindow(false);
    ShowWindow(true);
    CenterWindow(nullptr);
    UpdateWindow();

    {
        CLicenseDlg agreement(nullptr, app);
        if (agreement.DoModal() != kIdOk) {
            state = MainDialogState::Quitting;
            PostQuitMessage(2);
            return false;
        }
    }

    if (loadPackage(package) != 1 || !package.HasAnyImage()) {
        FatalError(kIdsPackageFailed);
        return false;
    }
    LayOutImageColumns();
    currentVersionTemplate.Show(false);
    updatedVersionTemplate.Show(false);

    windowTarget = CreateMessageTarget();
    if (!controller.Begin(windowTarget.get())) {
        FatalError(kIdsCannotFindDevice);
        return false;
    }
    state = MainDialogState::Idle;
    EnableWindow(true);
    return true;
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
        typeLabel[k].SetText(kTypeNames[slot]);
        typeLabel[k].Show(false);
        ++k;
    }
    columnCount = k;

    const Rect currentRect = currentVersionTemplate.RectInParent();
    for (k = 0; k < columnCount; ++k) {
        currentVersionBox[k] = CreateControlLike(currentVersionTemplate, kIdcCurrentVersionBoxes[k],
                                                 inColumn(currentRect, k));
        currentVersionBox[k].SetFont(currentVersionTemplate.GetFont());
        currentVersionBox[k].SetText(controller.deviceVersion[k]);
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

std::intptr_t CMainDlg::OnDeviceModeChanged(std::uintptr_t wParam, std::intptr_t) {
    controller.OnModeReport(static_cast<DeviceMode>(static_cast<std::uint32_t>(wParam)));
    openingCursor.reset();
    return 0;
}

void CMainDlg::OnOpening() {
    openingCursor.emplace();
}

void CMainDlg::OnOpened() {
    openingCursor.reset();
}

void CMainDlg::OnDeviceAbsent() {
    KillTimer(kTimerVersionRetry);
    if (state == MainDialogState::Starting || state == MainDialogState::Idle) {
        SetMessage(kIdsConnectDevice);
        if (g_openBoxWindow && boxMessageId == kIdsNoUpdateNeeded) {
            // The confirmation box goes as if cancelled; its caller then
            // disables Start.
            PostTo(g_openBoxWindow, msg::kClose, 0, 0);
        } else {
            startButton.Enable(false);
            NextDlgCtl(cancelButton);
        }
    }
    ShowDeviceVersion();
}

void CMainDlg::OnDevicePresent(const VersionSlots&) {
    KillTimer(kTimerVersionRetry);
    if (!HasWindow()) {
        return;
    }
    if (state == MainDialogState::Starting || state == MainDialogState::Idle) {
        SetMessage(kIdsPressStart);
        startButton.Enable(true);
        NextDlgCtl(startButton);
    }
    ShowDeviceVersion();
}

void CMainDlg::OnDeviceBusy() {
    // Busy: the whole reading starts again in a second.
    SetTimer(kTimerVersionRetry, kVersionRetryMs);
}

void CMainDlg::ShowDeviceVersion() {
    const VersionSlots& deviceVersion = controller.deviceVersion;
    std::u16string shown = deviceVersion[1];
    if (deviceVersion[1] != deviceVersion[2]) {
        shown = kVersionNotRead;
    } else {
        for (const std::u16string& v : deviceVersion) {
            if (v == kVersionNotRead) {
                shown = kVersionNotRead;
            }
        }
    }
    currentVersionBox[0].SetText(shown);
}

void CMainDlg::SetMessage(int baseId) {
    messageId = baseId;
    const Font& font = IsAlertMessage(baseId) ? boldFont : normalFont;
    if (font) {
        messageText.SetFont(font.Handle(), true);
    }
    messageText.SetText(LoadLocalizedString(baseId, app.languageIndex));
}

std::optional<Rgb> CMainDlg::OnCtlColor(Control control, CtlColorKind) {
    if (control && control == messageText && IsAlertMessage(messageId)) {
        return Rgb{255, 0, 0};
    }
    return std::nullopt;
}

void CMainDlg::FatalError(int baseId) {
    state = MainDialogState::Quitting;
    const std::u16string text = LoadLocalizedString(baseId, app.languageIndex);
    boxMessageId = baseId;
    ShowMessageBox(this, text, title, mb::kOk | mb::kIconError, BoxHook());
    g_openBoxWindow = {};
    PostQuitMessage(3);
}

MessageBoxHook CMainDlg::BoxHook() const {
    const LanguageIndex language = app.languageIndex;
    return [language](IMessageBoxWindow& box) { DialogBoxHook(box, language); };
}

std::intptr_t CMainDlg::OnTimer(std::uintptr_t, std::intptr_t) {
    KillTimer(kTimerVersionRetry);
    controller.ReadVersions();
    UseDefault();
    return 0;
}

// ---- commands and the window's own messages ---------------------------------

std::intptr_t CMainDlg::OnSysCommand(std::uintptr_t command, std::intptr_t) {
    if ((command & 0xFFF0) == kCmdAbout) {
        CAboutDlg about(nullptr, app);
        about.DoModal();
        return 0;
    }
    if ((command & 0xFFF0) == kScClose) {
        if (state != MainDialogState::Updating) {
            state = MainDialogState::Quitting;
            PostQuitMessage(2);
        }
        return 0;
    }
    UseDefault();
    return 0;
}

void CMainDlg::OnCancelClicked() {
    state = MainDialogState::Quitting;
    PostQuitMessage(2);
}

void CMainDlg::OnCancel() {
    if (cancelButton.IsEnabled()) {
        state = MainDialogState::Quitting;
        PostQuitMessage(2);
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
    state = MainDialogState::Quitting;
    if (progressDialog.HasWindow()) {
        progressDialog.DestroyWindow();
    }
    EnableWindow(true);
    cancelButton.Enable(true);
    KillTimer(kTimerVersionRetry);
    controller.StopWatching();
    UseDefault();
    return 0;
}

// ---- the update run ----------------------------------------------------------

void CMainDlg::OnStartClicked() {
    if (controller.UpdateNeeded(package)) {
        StartUpdate();
        return;
    }

    const std::u16string text = LoadLocalizedString(kIdsNoUpdateNeeded, app.languageIndex);
    boxMessageId = kIdsNoUpdateNeeded;
    const int answer = ShowMessageBox(
        this, text, title, mb::kOkCancel | mb::kIconInformation | mb::kDefButton2, BoxHook());
    g_openBoxWindow = {};
    if (answer == kIdOk) {
        StartUpdate();
        return;
    }
    if (g_currentDeviceMode.load() == kDeviceModeNone) {
        startButton.Enable(false);
        NextDlgCtl(cancelButton);
    }
}

void CMainDlg::StartUpdate() {
    if (state == MainDialogState::Quitting) {
        return;
    }
    startButton.Enable(false);
    cancelButton.Enable(false);

    if (!progressDialog.Create(this)) {
        FatalError(kIdsUpdateFailed);
        return;
    }
    progressDialog.ShowWindow(true);
    progressDialog.CenterWindow(this);
    progressDialog.SetPosition(progressDialog.WindowRect().left, WindowRect().top);
    EnableWindow(false);

    if (!controller.updater.HasThread() && HasWindow()) {
        progressWindow.store(progressDialog.Window().value);
        keepAwake.Acquire();
        if (controller.StartUpdate(package)) {
            state = MainDialogState::Updating;
            SetMessage(kIdsUpdating);
            return;
        }
        progressWindow.store(0);
        keepAwake.Release();
    }

    if (progressDialog.HasWindow()) {
        progressDialog.DestroyWindow();
    }
    EnableWindow(true);
    cancelButton.Enable(true);
    FatalError(kIdsUpdateFailed);
}

void CMainDlg::OnUpdateProgress(std::uint32_t percent) {
    PostTo(WindowRef{progressWindow.load()}, kMsgUpdateProgress, percent, 0);
}

std::intptr_t CMainDlg::OnUpdateEndedMessage(std::uintptr_t success, std::intptr_t) {
    state = MainDialogState::UpdateEnded;
    controller.OnUpdateEnded(success == 1);
    return 0;
}

void CMainDlg::OnUpdateEnded(bool success, ResultCode) {
    progressWindow.store(0);
    keepAwake.Release();
    ShowDeviceVersion();

    if (progressDialog.HasWindow()) {
        progressDialog.DestroyWindow();
    }
    EnableWindow(true);
    cancelButton.Enable(true);
    ForceForeground();
    SetMessage(success ? kIdsUpdated : kIdsUpdateFailed);
    for (int k = 0; k < columnCount; ++k) {
        updatedVersionBox[k].Enable(false);
    }
    cancelButton.SetText(LoadLocalizedString(kIdsClose, app.languageIndex));
    NextDlgCtl(cancelButton);
}

}  // namespace talvo
