// Plain types shared by the dialog layer, its backends and the dialogs:
// window references, message numbers, fonts and colours. Nothing here
// includes an OS header; the numbers are the window-system values the
// Win32 backend passes through.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

// The dialog templates (DialogTemplate, ControlTemplate, ControlKind and the
// kDlg*/kCtl* style bits) and the standard IDs (kIdOk, kIdCancel).
#include "resources/catalogue.h"

namespace talvo {

// A window of the current backend (dialog, control or message box). On
// Win32 the value is the window handle; other backends hand out their own
// numbers. A default-constructed reference designates no window.
struct WindowRef {
    std::uintptr_t value = 0;
    explicit operator bool() const { return value != 0; }
    friend bool operator==(WindowRef, WindowRef) = default;
};

// An owned font object of the backend (Win32: the font handle).
struct FontHandle {
    std::uintptr_t value = 0;
    explicit operator bool() const { return value != 0; }
    friend bool operator==(FontHandle, FontHandle) = default;
};

// Window messages the layer and the dialogs use.
namespace msg {
inline constexpr std::uint32_t kDestroy = 0x0002;
inline constexpr std::uint32_t kClose = 0x0010;
inline constexpr std::uint32_t kQuit = 0x0012;
inline constexpr std::uint32_t kNextDlgCtl = 0x0028;
inline constexpr std::uint32_t kSetFont = 0x0030;
inline constexpr std::uint32_t kGetFont = 0x0031;
inline constexpr std::uint32_t kInitDialog = 0x0110;
inline constexpr std::uint32_t kCommand = 0x0111;
inline constexpr std::uint32_t kSysCommand = 0x0112;
inline constexpr std::uint32_t kTimer = 0x0113;
inline constexpr std::uint32_t kCtlColorMsgBox = 0x0132;
inline constexpr std::uint32_t kCtlColorEdit = 0x0133;
inline constexpr std::uint32_t kCtlColorListBox = 0x0134;
inline constexpr std::uint32_t kCtlColorBtn = 0x0135;
inline constexpr std::uint32_t kCtlColorDlg = 0x0136;
inline constexpr std::uint32_t kCtlColorScrollBar = 0x0137;
inline constexpr std::uint32_t kCtlColorStatic = 0x0138;
inline constexpr std::uint32_t kDmGetDefId = 0x0400;
inline constexpr std::uint32_t kDmSetDefId = 0x0401;
inline constexpr std::uint32_t kPbmSetRange = 0x0401;
inline constexpr std::uint32_t kPbmSetPos = 0x0402;
inline constexpr std::uint32_t kApp = 0x8000;
}  // namespace msg

// System commands and button notifications.
inline constexpr std::uint32_t kScClose = 0xF060;
inline constexpr std::uint32_t kBnClicked = 0;

// Message box types (combinable as in the window system).
namespace mb {
inline constexpr std::uint32_t kOk = 0x0000;
inline constexpr std::uint32_t kOkCancel = 0x0001;
inline constexpr std::uint32_t kIconError = 0x0010;
inline constexpr std::uint32_t kIconQuestion = 0x0020;
inline constexpr std::uint32_t kIconWarning = 0x0030;
inline constexpr std::uint32_t kIconInformation = 0x0040;
inline constexpr std::uint32_t kDefButton2 = 0x0100;
inline constexpr std::uint32_t kButtonMask = 0x000F;
inline constexpr std::uint32_t kIconMask = 0x00F0;
inline constexpr std::uint32_t kDefMask = 0x0F00;
}  // namespace mb

// The kinds of control for which WM_CTLCOLOR* asks the colours.
enum class CtlColorKind : int {
    MsgBox = 0,
    Edit = 1,
    ListBox = 2,
    Button = 3,
    Dialog = 4,
    ScrollBar = 5,
    Static = 6,
};

struct Rgb {
    std::uint8_t r = 0, g = 0, b = 0;
    friend bool operator==(Rgb, Rgb) = default;
};

// A logical font description, field for field the window system's LOGFONTW
// (the face name holds at most 31 characters).
// A rectangle in pixels (right and bottom exclusive).
struct Rect {
    int left = 0, top = 0, right = 0, bottom = 0;
    int Width() const { return right - left; }
    int Height() const { return bottom - top; }
    friend bool operator==(const Rect&, const Rect&) = default;
};

inline constexpr std::int32_t kFontWeightNormal = 400;

struct FontSpec {
    std::int32_t height = 0;
    std::int32_t width = 0;
    std::int32_t escapement = 0;
    std::int32_t orientation = 0;
    std::int32_t weight = 0;
    std::uint8_t italic = 0;
    std::uint8_t underline = 0;
    std::uint8_t strikeOut = 0;
    std::uint8_t charSet = 0;
    std::uint8_t outPrecision = 0;
    std::uint8_t clipPrecision = 0;
    std::uint8_t quality = 0;
    std::uint8_t pitchAndFamily = 0;
    std::u16string faceName;
    friend bool operator==(const FontSpec&, const FontSpec&) = default;
};

// The default character format of a rich-edit control that the dialogs set.
struct CharFormat {
    std::int32_t heightTwips = 0;
    std::u16string faceName;
    friend bool operator==(const CharFormat&, const CharFormat&) = default;
};

}  // namespace talvo
