#include "programs/windows-gui/progress_dlg.h"

#include "shell/strings.h"
#include "resources/resource_ids.h"

namespace talvo {

CFirmUpProgressDlg::CFirmUpProgressDlg(Dialog* parent, const AppData& app)
    : Dialog(kIddProgress, parent), app_(app) {}

CFirmUpProgressDlg::~CFirmUpProgressDlg() {
    warningFont_.Delete();
}

const MessageMap* CFirmUpProgressDlg::GetMessageMap() const {
    static const MessageMapEntry entries[] = {
        OnMessage<CFirmUpProgressDlg, &CFirmUpProgressDlg::OnSetProgress>(kMsgUpdateProgress),
    };
    static const MessageMap map{Dialog::GetMessageMap(), entries};
    return &map;
}

bool CFirmUpProgressDlg::OnInitDialog() {
    SetCaption(LoadLocalizedString(kIdsProgressCaption, app_.languageIndex));
    const Control warning = Item(kIdcWarning);
    warning.SetText(LoadLocalizedString(kIdsDontDisconnect, app_.languageIndex));
    Item(kIdcProgressBar).SetRange(0, 100);

    // The warning in bold: the line's own font with 300 more weight. The
    // font of an earlier window is deleted first, so at most one exists.
    if (const FontHandle current = warning.GetFont()) {
        FontSpec spec = Font::SpecOf(current).value_or(FontSpec{});
        // A dialog font comes with weight 0 ("don't care", drawn as normal);
        // 300 on top of that would be light, not bold.
        if (spec.weight == 0) {
            spec.weight = kFontWeightNormal;
        }
        spec.weight += 300;
        if (warningFont_.Create(spec)) {
            warning.SetFont(warningFont_.Handle(), true);
        }
    }
    return true;
}

std::optional<Rgb> CFirmUpProgressDlg::OnCtlColor(Control control, CtlColorKind kind) {
    if (control && kind == CtlColorKind::Static && control.Id() == kIdcWarning) {
        return Rgb{255, 0, 0};
    }
    return std::nullopt;
}

std::intptr_t CFirmUpProgressDlg::OnSetProgress(std::uintptr_t wParam, std::intptr_t) {
    Item(kIdcProgressBar).SetPos(static_cast<int>(wParam));
    return 0;
}

}  // namespace talvo
