// The harness demo: a small dialog program that behaves the way the
// harness tests expect of a real one. Its texts follow the user's locale
// (English, Japanese, Simplified Chinese); each way out has its own exit
// code (demo/guidemo_ids.h):
//   OK / Enter while OK is the default          DEMO_EXIT_OK
//   Cancel / Esc                                 DEMO_EXIT_CANCEL
//   Start (enabled by the check box, which also
//   makes it the default button)                 DEMO_EXIT_START
//   Ask..., then OK or Cancel in the box         DEMO_EXIT_ASK_OK / _ASK_CANCEL
//   the window's close command                   DEMO_EXIT_CLOSE
// The system menu has an about item (command 16) that shows an
// information box and keeps the dialog open. TALVO_DEMO_GREETING, when
// set, replaces the heading; DEMO_MSG_FREEZE makes it hang for a while.
#include <windows.h>
#include <commctrl.h>

#include <string>

#include "tests/gui/demo/guidemo_ids.h"

namespace {

int g_languageOffset = 0;

int LanguageOffset(LCID lcid) {
    const WORD lang = LANGIDFROMLCID(lcid);
    if (PRIMARYLANGID(lang) == LANG_JAPANESE) {
        return 100;
    }
    if (PRIMARYLANGID(lang) == LANG_CHINESE && SUBLANGID(lang) == SUBLANG_CHINESE_SIMPLIFIED) {
        return 200;
    }
    return 0;
}

std::wstring Text(int id) {
    const wchar_t* p = nullptr;
    const int n = LoadStringW(GetModuleHandleW(nullptr), static_cast<UINT>(id + g_languageOffset),
                              reinterpret_cast<LPWSTR>(&p), 0);
    return n > 0 && p != nullptr ? std::wstring(p, static_cast<std::size_t>(n)) : std::wstring();
}

void SetItem(HWND dlg, int control, int stringId) {
    SetDlgItemTextW(dlg, control, Text(stringId).c_str());
}

// Start follows the check box: enabled and default while it is ticked,
// otherwise disabled with OK as the default.
void FollowCheckBox(HWND dlg) {
    const bool ticked = IsDlgButtonChecked(dlg, IDC_DEMO_ENABLE) == BST_CHECKED;
    EnableWindow(GetDlgItem(dlg, IDC_DEMO_START), ticked ? TRUE : FALSE);
    const int defId = ticked ? IDC_DEMO_START : IDOK;
    SendMessageW(dlg, DM_SETDEFID, static_cast<WPARAM>(defId), 0);
    // Repaint the button styles: the old default loses its thick border.
    SendDlgItemMessageW(dlg, ticked ? IDOK : IDC_DEMO_START, BM_SETSTYLE, BS_PUSHBUTTON, TRUE);
    SendDlgItemMessageW(dlg, defId, BM_SETSTYLE, BS_DEFPUSHBUTTON, TRUE);
}

void InitDialog(HWND dlg) {
    SetWindowTextW(dlg, Text(IDS_DEMO_TITLE).c_str());
    SetItem(dlg, IDC_DEMO_HEADING, IDS_DEMO_HEADING);
    // A caller's scenario, the way a test build is told what to play.
    wchar_t greeting[256] = {};
    const DWORD n = GetEnvironmentVariableW(L"TALVO_DEMO_GREETING", greeting, 256);
    if (n > 0 && n < 256) {
        SetDlgItemTextW(dlg, IDC_DEMO_HEADING, greeting);
    }
    SetItem(dlg, IDC_DEMO_ENABLE, IDS_DEMO_ENABLE);
    SetItem(dlg, IDC_DEMO_HIDDEN, IDS_DEMO_HIDDEN);
    SetItem(dlg, IDC_DEMO_START, IDS_DEMO_START);
    SetItem(dlg, IDC_DEMO_ASK, IDS_DEMO_ASK);
    SetItem(dlg, IDOK, IDS_DEMO_OK);
    SetItem(dlg, IDCANCEL, IDS_DEMO_CANCEL);
    SendDlgItemMessageW(dlg, IDC_DEMO_PROGRESS, PBM_SETRANGE32, 0, 100);
    SendDlgItemMessageW(dlg, IDC_DEMO_PROGRESS, PBM_SETPOS, DEMO_PROGRESS_POS, 0);
    if (HMENU menu = GetSystemMenu(dlg, FALSE)) {
        AppendMenuW(menu, MF_SEPARATOR, 0, nullptr);
        AppendMenuW(menu, MF_STRING, IDM_DEMO_ABOUT, Text(IDS_DEMO_ABOUT_ITEM).c_str());
    }
    SetFocus(GetDlgItem(dlg, IDC_DEMO_ENABLE));
}

INT_PTR CALLBACK DemoProc(HWND dlg, UINT msg, WPARAM wParam, LPARAM) {
    switch (msg) {
        case WM_INITDIALOG:
            InitDialog(dlg);
            return FALSE;  // the focus was set by hand
        case WM_COMMAND:
            switch (LOWORD(wParam)) {
                case IDOK:
                    EndDialog(dlg, DEMO_EXIT_OK);
                    return TRUE;
                case IDCANCEL:
                    EndDialog(dlg, DEMO_EXIT_CANCEL);
                    return TRUE;
                case IDC_DEMO_START:
                    EndDialog(dlg, DEMO_EXIT_START);
                    return TRUE;
                case IDC_DEMO_ENABLE:
                    if (HIWORD(wParam) == BN_CLICKED) {
                        FollowCheckBox(dlg);
                    }
                    return TRUE;
                case IDC_DEMO_ASK: {
                    const int answer = MessageBoxW(dlg, Text(IDS_DEMO_QUESTION).c_str(),
                                                   Text(IDS_DEMO_TITLE).c_str(),
                                                   MB_OKCANCEL | MB_ICONQUESTION | MB_DEFBUTTON2);
                    EndDialog(dlg, answer == IDOK ? DEMO_EXIT_ASK_OK : DEMO_EXIT_ASK_CANCEL);
                    return TRUE;
                }
                default:
                    return FALSE;
            }
        case WM_SYSCOMMAND:
            if ((wParam & 0xFFF0) == IDM_DEMO_ABOUT) {
                MessageBoxW(dlg, Text(IDS_DEMO_ABOUT_TEXT).c_str(), Text(IDS_DEMO_TITLE).c_str(),
                            MB_OK | MB_ICONINFORMATION);
                return TRUE;
            }
            return FALSE;
        case WM_CLOSE:
            EndDialog(dlg, DEMO_EXIT_CLOSE);
            return TRUE;
        case DEMO_MSG_FREEZE:
            Sleep(DEMO_FREEZE_MS);
            return TRUE;
        default:
            return FALSE;
    }
}

}  // namespace

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR, int) {
    INITCOMMONCONTROLSEX icc{sizeof(icc), ICC_PROGRESS_CLASS};
    InitCommonControlsEx(&icc);
    g_languageOffset = LanguageOffset(GetUserDefaultLCID());
    const INT_PTR result =
        DialogBoxParamW(instance, MAKEINTRESOURCEW(IDD_DEMO), nullptr, DemoProc, 0);
    return result < 0 ? 1 : static_cast<int>(result);
}
