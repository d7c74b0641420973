#include "resources/catalogue.h"

#include <algorithm>

#include "resources/catalogue_data.h"

namespace talvo {

namespace data = catalogue_data;

namespace {

const data::StringEntry* FindEntry(int id) {
    const data::StringEntry* first = data::kStrings;
    const data::StringEntry* last = data::kStrings + data::kStringCount;
    const data::StringEntry* it = std::lower_bound(
        first, last, id, [](const data::StringEntry& e, int wanted) { return e.id < wanted; });
    return it != last && it->id == id ? it : nullptr;
}

// Win32 style values, spelt out so that this file needs no system header.
constexpr std::uint32_t kWsPopup = 0x80000000u;
constexpr std::uint32_t kWsChild = 0x40000000u;
constexpr std::uint32_t kWsVisible = 0x10000000u;
constexpr std::uint32_t kWsDisabled = 0x08000000u;
constexpr std::uint32_t kWsCaption = 0x00C00000u;
constexpr std::uint32_t kWsBorder = 0x00800000u;
constexpr std::uint32_t kWsVScroll = 0x00200000u;
constexpr std::uint32_t kWsSysMenu = 0x00080000u;
constexpr std::uint32_t kWsGroup = 0x00020000u;
constexpr std::uint32_t kWsTabStop = 0x00010000u;
constexpr std::uint32_t kWsExAppWindow = 0x00040000u;
constexpr std::uint32_t kDsSetFont = 0x40u;
constexpr std::uint32_t kDsModalFrame = 0x80u;
constexpr std::uint32_t kSsCenter = 0x1u;
constexpr std::uint32_t kSsIcon = 0x3u;
constexpr std::uint32_t kSsNoPrefix = 0x80u;
constexpr std::uint32_t kSsSunken = 0x1000u;
constexpr std::uint32_t kBsDefPushButton = 0x1u;
constexpr std::uint32_t kBsRadioButton = 0x4u;
constexpr std::uint32_t kBsAutoRadioButton = 0x9u;
constexpr std::uint32_t kEsMultiLine = 0x4u;
constexpr std::uint32_t kEsAutoVScroll = 0x40u;
constexpr std::uint32_t kEsReadOnly = 0x800u;
constexpr std::uint32_t kPbsSmooth = 0x1u;

}  // namespace

std::u16string_view FindString(int id) {
    const data::StringEntry* e = FindEntry(id);
    return e ? e->text : std::u16string_view{};
}

bool HasString(int id) {
    return FindEntry(id) != nullptr;
}

std::span<const int> AllStringIds() {
    return {data::kStringIds, data::kStringCount};
}

const ControlTemplate* DialogTemplate::FindControl(int controlId) const {
    for (const ControlTemplate& c : controls) {
        if (c.id == controlId) {
            return &c;
        }
    }
    return nullptr;
}

const DialogTemplate* FindDialogTemplate(int dialogId) {
    for (const DialogTemplate& d : AllDialogTemplates()) {
        if (d.id == dialogId) {
            return &d;
        }
    }
    return nullptr;
}

std::span<const DialogTemplate> AllDialogTemplates() {
    return {data::kDialogs, data::kDialogCount};
}

std::u16string_view ControlClassName(ControlKind kind) {
    switch (kind) {
        case ControlKind::Static:
        case ControlKind::StaticIcon:
            return u"Static";
        case ControlKind::PushButton:
        case ControlKind::DefaultPushButton:
        case ControlKind::RadioButton:
        case ControlKind::AutoRadioButton:
            return u"Button";
        case ControlKind::RichEdit:
            return u"RichEdit20W";
        case ControlKind::Progress:
            return u"msctls_progress32";
    }
    return u"";
}

std::uint32_t Win32DialogStyle(const DialogTemplate& dialog) {
    std::uint32_t s = kDsSetFont;  // the template names its font
    if (dialog.style & kDlgPopup)
        s |= kWsPopup;
    if (dialog.style & kDlgCaption)
        s |= kWsCaption;
    if (dialog.style & kDlgSystemMenu)
        s |= kWsSysMenu;
    if (dialog.style & kDlgModalFrame)
        s |= kDsModalFrame;
    if (dialog.style & kDlgVisible)
        s |= kWsVisible;
    return s;
}

std::uint32_t Win32DialogExStyle(const DialogTemplate& dialog) {
    return (dialog.style & kDlgAppWindow) ? kWsExAppWindow : 0u;
}

std::uint32_t Win32ControlStyle(const ControlTemplate& control) {
    std::uint32_t s = kWsChild;
    switch (control.kind) {
        case ControlKind::DefaultPushButton:
            s |= kBsDefPushButton;
            break;
        case ControlKind::RadioButton:
            s |= kBsRadioButton;
            break;
        case ControlKind::AutoRadioButton:
            s |= kBsAutoRadioButton;
            break;
        default:
            break;
    }
    const std::uint32_t f = control.style;
    if (!(f & kCtlNotVisible))
        s |= kWsVisible;
    if (f & kCtlDisabled)
        s |= kWsDisabled;
    if (f & kCtlTabStop)
        s |= kWsTabStop;
    if (f & kCtlGroup)
        s |= kWsGroup;
    if (f & kCtlBorder)
        s |= kWsBorder;
    if (f & kCtlVerticalScroll)
        s |= kWsVScroll;
    if (f & kCtlCentred)
        s |= kSsCenter;
    if (f & kCtlIcon)
        s |= kSsIcon;
    if (f & kCtlNoPrefix)
        s |= kSsNoPrefix;
    if (f & kCtlSunken)
        s |= kSsSunken;
    if (f & kCtlMultiLine)
        s |= kEsMultiLine;
    if (f & kCtlAutoVerticalScroll)
        s |= kEsAutoVScroll;
    if (f & kCtlReadOnly)
        s |= kEsReadOnly;
    if (f & kCtlSmooth)
        s |= kPbsSmooth;
    return s;
}

std::span<const std::uint8_t> FindAgreementText(int id) {
    for (std::size_t i = 0; i < data::kAgreementCount; ++i) {
        if (data::kAgreements[i].id == id) {
            return data::kAgreements[i].bytes;
        }
    }
    return {};
}

const VersionData& ShippedVersionData() {
    return data::kShippedVersion;
}

}  // namespace talvo
