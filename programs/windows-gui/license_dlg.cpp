#include "programs/windows-gui/license_dlg.h"

#include "shell/language.h"
#include "shell/platform.h"
#include "shell/strings.h"
#include "resources/resource_ids.h"

namespace talvo {

namespace {
constexpr std::int32_t kAgreementTwips = 220;  // 11 points
constexpr char16_t kAgreementFace[] = u"MS Shell Dlg";
}  // namespace

std::u16string DecodeAgreementText(std::span<const std::uint8_t> bytes) {
    std::u16string text;
    if (bytes.size() < 2) {
        return text;
    }
    const std::size_t units = bytes.size() / 2 - 1;
    text.reserve(units);
    for (std::size_t i = 0; i < units; ++i) {
        const std::size_t at = 2 + 2 * i;
        text.push_back(static_cast<char16_t>(bytes[at] | (bytes[at + 1] << 8)));
    }
    return text;
}

CLicenseDlg::CLicenseDlg(Dialog* parent, const AppData& app)
    : Dialog(kIddAgreement, parent), app_(app) {}

const MessageMap* CLicenseDlg::GetMessageMap() const {
    static const MessageMapEntry entries[] = {
        OnCommand<CLicenseDlg, &CLicenseDlg::OnAcceptClicked>(kIdcAccept),
        OnCommand<CLicenseDlg, &CLicenseDlg::OnDeclineClicked>(kIdcDecline),
    };
    static const MessageMap map{Dialog::GetMessageMap(), entries};
    return &map;
}

void CLicenseDlg::MakeDefault(int id) {
    const Control focus = Focused();
    const Control button = Item(id);
    if (!button) {
        return;
    }
    SetDefId(id);
    NextDlgCtl(button);
    if (focus) {
        NextDlgCtl(focus);
    }
}

bool CLicenseDlg::OnInitDialog() {
    const LanguageIndex lang = app_.languageIndex;
    SetCaption(LoadLocalizedString(kIdsAgreementCaption, lang));

    // The agreement starts out declined.
    Item(kIdcDecline).SetCheck(true);
    Item(kIdOk).Enable(false);
    MakeDefault(kIdCancel);

    if (const Control text = Item(kIdcAgreementText)) {
        const std::vector<std::uint8_t> bytes =
            LoadRawResource(kResourceTypeHtml, kIdAgreementText + LanguageOffset(lang));
        if (!bytes.empty()) {
            text.SetSelection(0, 0);
            text.SetRichText(DecodeAgreementText(bytes));
            if (std::optional<CharFormat> format = text.GetDefaultCharFormat()) {
                format->heightTwips = kAgreementTwips;
                format->faceName = kAgreementFace;
                text.SetDefaultCharFormat(*format);
            }
            // Caret at the start again, so the text shows from its top.
            text.SetSelection(0, 0);
        }
    }

    Item(kIdcAccept).SetText(LoadLocalizedString(kIdsAccept, lang));
    Item(kIdcDecline).SetText(LoadLocalizedString(kIdsDecline, lang));
    Item(kIdOk).SetText(LoadLocalizedString(kIdsOk, lang));
    Item(kIdCancel).SetText(LoadLocalizedString(kIdsCancel, lang));
    return true;
}

void CLicenseDlg::OnAcceptClicked() {
    Item(kIdOk).Enable(true);
    MakeDefault(kIdOk);
}

void CLicenseDlg::OnDeclineClicked() {
    Item(kIdOk).Enable(false);
    MakeDefault(kIdCancel);
}

}  // namespace talvo
