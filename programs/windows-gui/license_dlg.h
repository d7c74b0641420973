// The agreement dialog: the software agreement of the user's language in a
// read-only rich edit, accept/decline radio buttons, OK and Cancel. It starts
// declined with OK disabled and Cancel as the default button; DoModal gives 1
// only when the user accepted and pressed OK, 2 in every other case.
#pragma once

#include <cstdint>
#include <span>
#include <string>

#include "shell/app_data.h"
#include "ui/dialog.h"

namespace talvo {

// The text of an agreement resource: the UTF-16LE units after the two-byte
// mark (which is skipped unexamined). A resource shorter than the mark gives
// an empty text; an odd last byte is no unit and is dropped.
std::u16string DecodeAgreementText(std::span<const std::uint8_t> bytes);

class CLicenseDlg : public Dialog {
  public:
    explicit CLicenseDlg(Dialog* parent = nullptr, const AppData& app = g_appData);

  protected:
    const MessageMap* GetMessageMap() const override;
    bool OnInitDialog() override;

  private:
    void OnAcceptClicked();
    void OnDeclineClicked();
    // Makes `id` the default button while the focus stays where it is.
    void MakeDefault(int id);

    const AppData& app_;
};

}  // namespace talvo
