// The program's resource identifiers, the one place they are defined: string
// base IDs, dialog templates, controls, icon, agreement texts, firmware
// package, the timer and the system-menu command. The window messages posted
// between threads (WM_APP+1..4) live in base/app_messages.h, included here
// so that this header gives every identifier the program uses.
#pragma once

#include <cstdint>

#include "base/app_messages.h"

namespace talvo {

// ---- Strings -------------------------------------------------------------
// Every text exists three times: English under its base ID, Japanese under
// base + kLanguageOffsetJapanese, Simplified Chinese under base +
// kLanguageOffsetChinese. Code names the base ID only.
inline constexpr int kLanguageOffsetJapanese = 10000;
inline constexpr int kLanguageOffsetChinese = 20000;

inline constexpr int kIdsAboutMenuItem = 501;           // system-menu item of the main dialog
inline constexpr int kIdsTitlePart1 = 502;              // "TALVO"
inline constexpr int kIdsTitlePart2 = 503;              // " FW-"
inline constexpr int kIdsTitlePart3 = 504;              // "Updater"
inline constexpr int kIdsProgressCaption = 505;         // progress dialog caption
inline constexpr int kIdsAgreementCaption = 506;        // agreement dialog caption
inline constexpr int kIdsAboutCaption = 507;            // about box caption
inline constexpr int kIdsOk = 599;                      // every OK button
inline constexpr int kIdsClose = 600;                   // main dialog's Cancel after an update
inline constexpr int kIdsCancel = 601;                  // every Cancel button
inline constexpr int kIdsAccept = 602;                  // agreement radio 1002
inline constexpr int kIdsDecline = 603;                 // agreement radio 1003
inline constexpr int kIdsHeading = 604;                 // main dialog heading 1000
inline constexpr int kIdsCurrentVersion = 605;          // main dialog label 1019
inline constexpr int kIdsUpdatedVersion = 606;          // main dialog label 1020
inline constexpr int kIdsStart = 607;                   // main dialog Start button 1005
inline constexpr int kIdsPressStart = 4000;             // device connected and read
inline constexpr int kIdsConnectDevice = 4001;          // no device
inline constexpr int kIdsDontDisconnect = 4002;         // progress dialog warning
inline constexpr int kIdsNoUpdateNeeded = 4003;         // confirmation box
inline constexpr int kIdsUpdating = 4004;               // update running
inline constexpr int kIdsUpdated = 4005;                // update succeeded
inline constexpr int kIdsUpdateFailed = 4006;           // update failed / could not start
inline constexpr int kIdsAlreadyRunning = 5000;         // second instance
inline constexpr int kIdsCannotFindDevice = 5001;       // watcher could not start
inline constexpr int kIdsPackageFailed = 5002;          // firmware package not loaded
inline constexpr int kIdsNoAccess = 5003;               // device present, permission denied
inline constexpr int kIdsDeviceInUse = 5004;            // another updater converses with the unit
inline constexpr int kIdsNoAccessRuleInstalled = 5005;  // permission denied, udev rule present
inline constexpr int kIdsSeveralUnits = 5006;           // several units attached, none chosen
inline constexpr int kIdsNoKeepAwake = 5007;            // the system would not be kept awake

// All base IDs, ascending.
inline constexpr int kStringBaseIds[] = {
    kIdsAboutMenuItem,
    kIdsTitlePart1,
    kIdsTitlePart2,
    kIdsTitlePart3,
    kIdsProgressCaption,
    kIdsAgreementCaption,
    kIdsAboutCaption,
    kIdsOk,
    kIdsClose,
    kIdsCancel,
    kIdsAccept,
    kIdsDecline,
    kIdsHeading,
    kIdsCurrentVersion,
    kIdsUpdatedVersion,
    kIdsStart,
    kIdsPressStart,
    kIdsConnectDevice,
    kIdsDontDisconnect,
    kIdsNoUpdateNeeded,
    kIdsUpdating,
    kIdsUpdated,
    kIdsUpdateFailed,
    kIdsAlreadyRunning,
    kIdsCannotFindDevice,
    kIdsPackageFailed,
    kIdsNoAccess,
    kIdsDeviceInUse,
    kIdsNoAccessRuleInstalled,
    kIdsSeveralUnits,
    kIdsNoKeepAwake,
};

// ---- Dialog templates ----------------------------------------------------
inline constexpr int kIddAbout = 100;
inline constexpr int kIddMain = 200;
inline constexpr int kIddAgreement = 201;
inline constexpr int kIddProgress = 202;

// ---- Controls --------------------------------------------------------------
inline constexpr int kIdOk = 1;      // IDOK
inline constexpr int kIdCancel = 2;  // IDCANCEL

inline constexpr int kIdcHeading = 1000;                 // main: heading
inline constexpr int kIdcAgreementText = 1001;           // agreement: rich edit
inline constexpr int kIdcAccept = 1002;                  // agreement: accept radio
inline constexpr int kIdcDecline = 1003;                 // agreement: decline radio
inline constexpr int kIdcMessage = 1004;                 // main: message area
inline constexpr int kIdcWarning = 1004;                 // progress: warning line
inline constexpr int kIdcStart = 1005;                   // main: Start
inline constexpr int kIdcCancelButton = 1006;            // main: Cancel / Close
inline constexpr int kIdcProgressBar = 1007;             // progress: bar
inline constexpr int kIdcAboutIcon = 1008;               // about: icon
inline constexpr int kIdcCurrentVersionTemplate = 1009;  // main: template box, hidden
inline constexpr int kIdcUpdatedVersionTemplate = 1010;  // main: template box, hidden
inline constexpr int kIdcAboutVersion = 1015;            // about: name and version line
inline constexpr int kIdcCurrentVersionLabel = 1019;     // main: label
inline constexpr int kIdcUpdatedVersionLabel = 1020;     // main: label
inline constexpr int kIdcTypeTemplate = 1021;            // main: type label template
inline constexpr int kIdcTypeLabelFirst = 1022;          // created type labels 1022..1024
// Version boxes the main dialog creates at run time, by column.
inline constexpr int kIdcCurrentVersionBoxes[3] = {1011, 1012, 1015};
inline constexpr int kIdcUpdatedVersionBoxes[3] = {1013, 1014, 1016};

// ---- Other resources -------------------------------------------------------
inline constexpr int kIdiApp = 128;              // application icon
inline constexpr int kIdAgreementText = 130;     // + language offset; resource type 23
inline constexpr int kResourceTypeHtml = 23;     // RT_HTML
inline constexpr int kIdrFirmwarePackage = 131;  // resource type "BIN"
inline constexpr char kFirmwarePackageType[] = "BIN";

// ---- Timer and commands ------------------------------------------------
inline constexpr std::uintptr_t kTimerVersionRetry = 1;  // main dialog: re-read versions
inline constexpr std::uint32_t kCmdAbout = 0x10;         // system-menu item "About"

}  // namespace talvo
