// Identifiers shared by the demo dialog's resources, its code and the
// harness tests that drive it. Plain #defines: the resource compiler reads
// this file too.
#pragma once

#define IDD_DEMO 100

#define IDC_DEMO_HEADING 1000
#define IDC_DEMO_ENABLE 1001
#define IDC_DEMO_HIDDEN 1002
#define IDC_DEMO_PROGRESS 1003
#define IDC_DEMO_START 1004
#define IDC_DEMO_ASK 1005

// The system-menu item that opens the about box.
#define IDM_DEMO_ABOUT 16

// Exit codes, one per way out.
#define DEMO_EXIT_OK 10
#define DEMO_EXIT_CANCEL 20
#define DEMO_EXIT_START 30
#define DEMO_EXIT_ASK_OK 41
#define DEMO_EXIT_ASK_CANCEL 42
#define DEMO_EXIT_CLOSE 50

// Posted to the dialog, makes it stop answering messages for
// DEMO_FREEZE_MS, the way a hung program does.
#define DEMO_MSG_FREEZE (WM_APP + 7)
#define DEMO_FREEZE_MS 15000

// The progress bar's position after start-up.
#define DEMO_PROGRESS_POS 40

// String IDs of the English texts; Japanese at +100, Simplified Chinese at +200.
#define IDS_DEMO_TITLE 1
#define IDS_DEMO_HEADING 2
#define IDS_DEMO_ENABLE 3
#define IDS_DEMO_START 4
#define IDS_DEMO_ASK 5
#define IDS_DEMO_OK 6
#define IDS_DEMO_CANCEL 7
#define IDS_DEMO_QUESTION 8
#define IDS_DEMO_ABOUT_ITEM 9
#define IDS_DEMO_ABOUT_TEXT 10
#define IDS_DEMO_HIDDEN 11
