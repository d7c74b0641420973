// Portable view of the program's resources: the string table, the dialog
// templates, the agreement texts and the version data. The data is generated
// at build time from the catalogue sources in resources/catalogue/ (the same
// sources the Windows resource script is generated from), so the portable
// program and the Windows executable carry identical texts and layouts.
// Nothing here depends on an operating-system header.
#pragma once

#include <cstdint>
#include <span>
#include <string_view>

#include "resources/resource_ids.h"

namespace talvo {

// ---- String table --------------------------------------------------------

// Text of a string by its full ID (base ID plus language offset); empty when
// the table has no such ID. The view points into static storage.
std::u16string_view FindString(int id);
bool HasString(int id);
// Every full ID of the table, ascending.
std::span<const int> AllStringIds();

// ---- Dialog templates --------------------------------------------------

enum class ControlKind : std::uint8_t {
    Static,
    PushButton,
    DefaultPushButton,
    RadioButton,
    AutoRadioButton,
    RichEdit,    // window class "RichEdit20W"
    Progress,    // window class "msctls_progress32"
    StaticIcon,  // static control showing an icon resource
};

// Window style of a dialog template.
enum DialogStyle : std::uint32_t {
    kDlgPopup = 1u << 0,
    kDlgCaption = 1u << 1,
    kDlgSystemMenu = 1u << 2,
    kDlgModalFrame = 1u << 3,
    kDlgVisible = 1u << 4,
    kDlgAppWindow = 1u << 5,  // listed on the task bar
};

// Style of a control in a template. A control is visible and enabled unless
// kCtlNotVisible / kCtlDisabled say otherwise.
enum ControlStyle : std::uint32_t {
    kCtlLeft = 1u << 0,
    kCtlCentred = 1u << 1,
    kCtlSunken = 1u << 2,
    kCtlDisabled = 1u << 3,
    kCtlTabStop = 1u << 4,
    kCtlNotVisible = 1u << 5,
    kCtlBorder = 1u << 6,
    kCtlSmooth = 1u << 7,
    kCtlVerticalScroll = 1u << 8,
    kCtlMultiLine = 1u << 9,
    kCtlAutoVerticalScroll = 1u << 10,
    kCtlReadOnly = 1u << 11,
    kCtlGroup = 1u << 12,
    kCtlNoPrefix = 1u << 13,
    kCtlIcon = 1u << 14,
};

struct ControlTemplate {
    int id;
    ControlKind kind;
    std::u16string_view text;  // template text; empty for none
    int iconId;                // StaticIcon: the icon resource shown; else 0
    int x, y, width, height;   // dialog units
    std::uint32_t style;       // ControlStyle bits
};

struct DialogTemplate {
    int id;
    std::uint32_t style;  // DialogStyle bits
    int width, height;    // dialog units
    std::u16string_view fontName;
    int fontPoints;
    std::u16string_view caption;                // placeholder; dialogs set theirs at run time
    std::span<const ControlTemplate> controls;  // in template (tab) order

    // The control with this ID, or null.
    const ControlTemplate* FindControl(int controlId) const;
};

// The template with this dialog ID, or null.
const DialogTemplate* FindDialogTemplate(int dialogId);
std::span<const DialogTemplate> AllDialogTemplates();

// Window class a control of this kind is created with ("Static", "Button",
// "RichEdit20W", "msctls_progress32").
std::u16string_view ControlClassName(ControlKind kind);

// The Win32 style bits that correspond to a template's flags (the values the
// resource compiler writes for the same template).
std::uint32_t Win32DialogStyle(const DialogTemplate& dialog);
std::uint32_t Win32DialogExStyle(const DialogTemplate& dialog);
std::uint32_t Win32ControlStyle(const ControlTemplate& control);

// ---- Agreement texts -----------------------------------------------------

// Raw bytes of an agreement resource (type 23) by its full ID (130, 10130,
// 20130): UTF-16LE with a leading byte-order mark, ending in CR LF. Empty
// when there is no such resource.
std::span<const std::uint8_t> FindAgreementText(int id);

// ---- Version data ----------------------------------------------------------

struct VersionData {
    std::uint16_t fileVersion[4];
    std::uint16_t productVersion[4];
    std::uint32_t fileFlags;
    std::uint32_t fileOs;
    std::uint32_t fileType;
    std::uint16_t translationLanguage;  // 0 when the block has no translation entry
    std::uint16_t translationCodePage;
    std::u16string_view productName;
    std::u16string_view fileDescription;
    std::u16string_view internalName;
    std::u16string_view fileVersionText;
    std::u16string_view productVersionText;
};

// The version block the executable is built with.
const VersionData& ShippedVersionData();

}  // namespace talvo
