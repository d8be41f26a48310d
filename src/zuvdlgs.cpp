/* DORVEMON: the Add Port, Configure Port and About dialogs.

   The dialog procedures keep their state in static variables: one set per
   procedure and process, which is enough because the spooler opens one
   administration dialog at a time. */
#include <string.h>

#include "zuvmon.h"

/* Control ids of the templates in dorvemon.rc. */
#define IDC_PORTNAME     101
#define IDC_ADDRESS      102
#define IDC_STSINTERVAL  203
#define IDC_STSINTSPIN   204
#define IDC_STSTIMEOUT   205
#define IDC_STSTOSPIN    206
#define IDC_SENDTIMEOUT  207
#define IDC_SENDTOSPIN   208
#define IDC_ALERT        212
#define IDC_HELPLINE     213
#define IDC_TRAP         214
#define IDC_MANUAL       215
#define IDC_AUTO         216
#define IDC_ABOUT        4
#define IDC_SEARCH       6
#define IDC_HELPBUTTON   9

#define ZUV_HELP_FILE    "DORVEMON.HLP"
#define ZUV_MESSAGE_LEN  256
#define ZUV_TIME_MIN     1
#define ZUV_TIME_MAX     600

typedef struct _ZUVHelpEntry {
    int nCtrlId;
    UINT uStringId;
} ZUVHelpEntry;

static const ZUVHelpEntry AddPortHelp[] = {
    { IDC_PORTNAME, IDS_HELP_PORTNAME },
    { IDC_ADDRESS, IDS_HELP_ADDRESS },
    { IDOK, IDS_HELP_OK },
    { IDCANCEL, IDS_HELP_CANCEL },
    { IDC_HELPBUTTON, IDS_HELP_HELP },
    { IDC_ABOUT, IDS_HELP_ABOUT },
    { IDC_SEARCH, IDS_HELP_SEARCH },
    { IDC_MANUAL, IDS_HELP_MANUAL },
    { IDC_AUTO, IDS_HELP_AUTO },
};

static const ZUVHelpEntry ConfigHelp[] = {
    { IDC_STSINTERVAL, IDS_HELP_STSINTERVAL },
    { IDC_STSINTSPIN, IDS_HELP_STSINTERVAL },
    { IDC_STSTIMEOUT, IDS_HELP_STSTIMEOUT },
    { IDC_STSTOSPIN, IDS_HELP_STSTIMEOUT },
    { IDC_SENDTIMEOUT, IDS_HELP_SENDTIMEOUT },
    { IDC_SENDTOSPIN, IDS_HELP_SENDTIMEOUT },
    { IDC_ALERT, IDS_HELP_ALERT },
    { IDC_TRAP, IDS_HELP_TRAP },
    { IDOK, IDS_HELP_OK },
    { IDCANCEL, IDS_HELP_CANCEL },
    { IDC_HELPBUTTON, IDS_HELP_HELP },
    { IDC_ABOUT, IDS_HELP_ABOUT },
};

#define ZUV_COUNT(a) ((int)(sizeof(a) / sizeof((a)[0])))

/* The help line's string for the window under the pointer.  Labels, frames
   and the help line itself pass the pointer on to the dialog, so a window
   that is not in the table gets the dialog's own string as well. */
static UINT HelpStringFor(HWND hDlg, HWND hWnd, const ZUVHelpEntry *pTable, int nEntries,
                          UINT uDialogString)
{
    int nId;
    int i;

    if (hWnd == hDlg)
        return uDialogString;
    nId = GetDlgCtrlID(hWnd);
    for (i = 0; i < nEntries; i++) {
        if (pTable[i].nCtrlId == nId)
            return pTable[i].uStringId;
    }
    return uDialogString;
}

/* WM_SETCURSOR: the help line describes the window under the pointer, and
   is reloaded only when the pointer has moved to another window. */
static void UpdateHelpLine(HWND hDlg, HWND hWnd, HWND *phLastCursorWnd, LPSTR szMessage,
                           const ZUVHelpEntry *pTable, int nEntries, UINT uDialogString)
{
    UINT uString;

    if (hWnd == *phLastCursorWnd)
        return;
    *phLastCursorWnd = hWnd;
    uString = HelpStringFor(hDlg, hWnd, pTable, nEntries, uDialogString);
    szMessage[0] = '\0';
    LoadStringA(ghInstance, uString, szMessage, ZUV_MESSAGE_LEN);
    SetDlgItemTextA(hDlg, IDC_HELPLINE, szMessage);
}

/* The help line's font: the default face of the Japanese character set. */
static HFONT CreateHelpLineFont(HWND hDlg)
{
    HFONT hFont;

    hFont = CreateFontA(12, 0, 0, 0, 0, FALSE, FALSE, FALSE, SHIFTJIS_CHARSET, 0, 0, 0, 0, "");
    SendDlgItemMessageA(hDlg, IDC_HELPLINE, WM_SETFONT, (WPARAM)hFont, MAKELONG(TRUE, 0));
    return hFont;
}

static void DeleteHelpLineFont(HFONT *phFont)
{
    if (*phFont != NULL) {
        DeleteObject((HGDIOBJ)*phFont);
        *phFont = NULL;
    }
}

static void EnableDlgItem(HWND hDlg, int nId, BOOL bEnable)
{
    EnableWindow(GetDlgItem(hDlg, nId), bEnable);
}

static void SelectAndFocus(HWND hDlg, int nId)
{
    SendDlgItemMessageA(hDlg, nId, EM_SETSEL, 0, -1);
    SetFocus(GetDlgItem(hDlg, nId));
}

static void ShowAbout(HWND hOwner)
{
    DialogBoxParamA(ghInstance, MAKEINTRESOURCEA(IDD_ABOUT), hOwner, AboutDlgProc, 0);
}

/* ---- Add Port ---- */

static LPZUVPort lpAddZUVPort;
static LPSTR lpServer;
static LPZUVMon lpAddZUVMon;
static ZUVPort TmpAddZUVPort;
static BOOL bAutoEnable;
static BOOL bGotName;
static BOOL bGotAddr;
static BOOL bAutoAddr;
static HWND hAddLastCursorWnd;
static char szAddMessage[ZUV_MESSAGE_LEN];
static HFONT hAddListboxFont;

/* Auto mode finds the printers itself: the fields are of no use then and
   only the search button is. */
static void ShowAddPortMode(HWND hDlg, BOOL bAuto)
{
    EnableDlgItem(hDlg, IDC_PORTNAME, !bAuto);
    EnableDlgItem(hDlg, IDC_ADDRESS, !bAuto);
    EnableDlgItem(hDlg, IDC_SEARCH, bAuto);
    EnableDlgItem(hDlg, IDOK, TRUE);
}

static BOOL AddPortInit(HWND hDlg, LPARAM lParam)
{
    LPZUVAddPortParams lpParams = (LPZUVAddPortParams)lParam;

    SetForegroundWindow(hDlg);
    lpAddZUVPort = lpParams->lpZUVPort;
    lpServer = lpParams->pServerName;
    lpAddZUVMon = lpParams->lpZUVMon;
    memcpy(&TmpAddZUVPort, lpAddZUVPort, sizeof(ZUVPort));

    bGotName = FALSE;
    bGotAddr = FALSE;
    bAutoAddr = TRUE;
    bAutoEnable = lpAddZUVMon->bAutoEnable;

    ShowAddPortMode(hDlg, bAutoEnable);
    CheckRadioButton(hDlg, IDC_MANUAL, IDC_AUTO, bAutoEnable ? IDC_AUTO : IDC_MANUAL);

    SendDlgItemMessageA(hDlg, IDC_PORTNAME, EM_LIMITTEXT, ZUV_NAME_LEN, 0);
    SendDlgItemMessageA(hDlg, IDC_ADDRESS, EM_LIMITTEXT, ZUV_NAME_LEN, 0);
    hAddListboxFont = CreateHelpLineFont(hDlg);
    return TRUE;
}

static void AddPortFieldNotify(HWND hDlg, int nId, UINT uCode)
{
    if (uCode == EN_SETFOCUS && nId == IDC_ADDRESS) {
        /* Once the user has been in the address field, the address is his. */
        bAutoAddr = FALSE;
        return;
    }
    if (uCode != EN_CHANGE)
        return;
    if (nId == IDC_PORTNAME) {
        GetDlgItemTextA(hDlg, IDC_PORTNAME, TmpAddZUVPort.szPortName, ZUV_NAME_LEN);
        bGotName = TmpAddZUVPort.szPortName[0] != '\0';
        if (bAutoAddr)
            SetDlgItemTextA(hDlg, IDC_ADDRESS, TmpAddZUVPort.szPortName);
    } else {
        GetDlgItemTextA(hDlg, IDC_ADDRESS, TmpAddZUVPort.szIPAddress, ZUV_NAME_LEN);
        bGotAddr = TmpAddZUVPort.szIPAddress[0] != '\0';
    }
    EnableDlgItem(hDlg, IDOK, TRUE);
}

static void AcceptNewPort(HWND hDlg)
{
    memcpy(lpAddZUVPort, &TmpAddZUVPort, sizeof(ZUVPort));
    EndDialog(hDlg, IDOK);
}

static void AddPortOk(HWND hDlg)
{
    char szText[ZUV_MESSAGE_LEN + ZUV_NAME_LEN];
    int nAnswer;

    /* The mode is stored on every OK, also when no port comes of it. */
    lpAddZUVMon->bAutoEnable = bAutoEnable;
    SetAutoDiscovery(lpAddZUVMon);

    if (!bGotName && !bGotAddr) {
        EndDialog(hDlg, IDCANCEL);
        return;
    }
    if (lpAddZUVMon->bAutoEnable) {
        EndDialog(hDlg, IDCANCEL);
        return;
    }
    if (!PortOkay(lpServer, TmpAddZUVPort.szPortName)) {
        szText[0] = '\0';
        LoadStringA(ghInstance, IDS_ALREADY_EXISTS, szText, ZUV_MESSAGE_LEN);
        MessageBoxA(hDlg, szText, ZUV_MONITOR_NAME, MB_OK | MB_ICONEXCLAMATION);
        SelectAndFocus(hDlg, IDC_PORTNAME);
        return;
    }
    if (AddrOkay(TmpAddZUVPort.szIPAddress)) {
        AcceptNewPort(hDlg);
        return;
    }
    wsprintfA(szText, "The port address \"%s\" could not be resolved on this computer. Accept it anyway?",
              TmpAddZUVPort.szIPAddress);
    nAnswer = MessageBoxA(hDlg, szText, ZUV_MONITOR_NAME, MB_YESNOCANCEL | MB_ICONQUESTION);
    if (nAnswer == IDYES)
        AcceptNewPort(hDlg);
    else if (nAnswer == IDNO)
        SelectAndFocus(hDlg, IDC_ADDRESS);
    else
        EndDialog(hDlg, nAnswer);
}

static void AddPortSearch(HWND hDlg)
{
    szAddMessage[0] = '\0';
    LoadStringA(ghInstance, IDS_SEARCHING, szAddMessage, ZUV_MESSAGE_LEN);
    SetDlgItemTextA(hDlg, IDC_HELPLINE, szAddMessage);
    AutoDiscover(lpAddZUVMon);
    EndDialog(hDlg, 6);
}

static BOOL AddPortCommand(HWND hDlg, int nId, UINT uCode)
{
    switch (nId) {
    case IDC_PORTNAME:
    case IDC_ADDRESS:
        AddPortFieldNotify(hDlg, nId, uCode);
        return TRUE;
    case IDC_MANUAL:
        ShowAddPortMode(hDlg, FALSE);
        bAutoEnable = FALSE;
        return TRUE;
    case IDC_AUTO:
        ShowAddPortMode(hDlg, TRUE);
        bAutoEnable = TRUE;
        return TRUE;
    case IDC_SEARCH:
        AddPortSearch(hDlg);
        return TRUE;
    case IDC_HELPBUTTON:
        WinHelpA(hDlg, ZUV_HELP_FILE, HELP_CONTEXT, 0);
        return TRUE;
    case IDC_ABOUT:
        ShowAbout(hDlg);
        return TRUE;
    case IDCANCEL:
        EndDialog(hDlg, IDCANCEL);
        return TRUE;
    case IDOK:
        AddPortOk(hDlg);
        return TRUE;
    default:
        return FALSE;
    }
}

INT_PTR CALLBACK AddPortDlgProc(HWND hDlg, UINT uMsg, WPARAM wParam, LPARAM lParam)
{
    switch (uMsg) {
    case WM_INITDIALOG:
        return AddPortInit(hDlg, lParam);
    case WM_COMMAND:
        return AddPortCommand(hDlg, LOWORD(wParam), HIWORD(wParam));
    case WM_SETCURSOR:
        UpdateHelpLine(hDlg, (HWND)wParam, &hAddLastCursorWnd, szAddMessage, AddPortHelp,
                       ZUV_COUNT(AddPortHelp), IDS_HELP_ADDPORTDLG);
        return FALSE;
    case WM_DESTROY:
        WinHelpA(hDlg, ZUV_HELP_FILE, HELP_QUIT, 0);
        DeleteHelpLineFont(&hAddListboxFont);
        return TRUE;
    default:
        return FALSE;
    }
}

/* ---- Configure Port ---- */

static LPZUVMon lpCfgZUVMon;
static LPZUVPort lpCfgZUVPort;
static ZUVPort TmpCfgZUVPort;
static HWND hCfgLastCursorWnd;
static char szCfgMessage[ZUV_MESSAGE_LEN];
static HFONT hCfgListboxFont;
/* Set while the dialog itself puts a value into a time field: that value is
   either in range or a stored one that an outside edit of the registry put
   out of range, and complaining about the latter would only bring it back. */
static BOOL bSettingTimeField;

/* A time field, its spin and the setting they show. */
static LPDWORD TimeSetting(int nId)
{
    switch (nId) {
    case IDC_STSINTERVAL:
    case IDC_STSINTSPIN:
        return &TmpCfgZUVPort.dwStsInterval;
    case IDC_STSTIMEOUT:
    case IDC_STSTOSPIN:
        return &TmpCfgZUVPort.dwStsTimeout;
    case IDC_SENDTIMEOUT:
    case IDC_SENDTOSPIN:
        return &TmpCfgZUVPort.dwSendTimeout;
    default:
        return NULL;
    }
}

static void SetTimeField(HWND hDlg, int nId, DWORD dwValue)
{
    bSettingTimeField = TRUE;
    SetDlgItemInt(hDlg, nId, dwValue, FALSE);
    bSettingTimeField = FALSE;
}

static BOOL ConfigInit(HWND hDlg, LPARAM lParam)
{
    LPZUVConfigParams lpParams = (LPZUVConfigParams)lParam;

    SetForegroundWindow(hDlg);
    lpCfgZUVMon = lpParams->lpZUVMon;
    lpCfgZUVPort = lpParams->lpZUVPort;
    memcpy(&TmpCfgZUVPort, lpCfgZUVPort, sizeof(ZUVPort));

    SendDlgItemMessageA(hDlg, IDC_STSINTERVAL, EM_LIMITTEXT, 3, 0);
    SendDlgItemMessageA(hDlg, IDC_STSTIMEOUT, EM_LIMITTEXT, 3, 0);
    SendDlgItemMessageA(hDlg, IDC_SENDTIMEOUT, EM_LIMITTEXT, 3, 0);

    SetTimeField(hDlg, IDC_STSINTERVAL, TmpCfgZUVPort.dwStsInterval);
    SetTimeField(hDlg, IDC_STSTIMEOUT, TmpCfgZUVPort.dwStsTimeout);
    SetTimeField(hDlg, IDC_SENDTIMEOUT, TmpCfgZUVPort.dwSendTimeout);

    CheckDlgButton(hDlg, IDC_ALERT, TmpCfgZUVPort.bAudibleAlert ? BST_CHECKED : BST_UNCHECKED);
    CheckDlgButton(hDlg, IDC_TRAP, TmpCfgZUVPort.bTrapNotification ? BST_CHECKED : BST_UNCHECKED);

    hCfgListboxFont = CreateHelpLineFont(hDlg);
    return TRUE;
}

/* EN_CHANGE of a time field: every change of its text is checked at once,
   so the field never keeps a value out of range. */
static void TimeFieldChanged(HWND hDlg, int nId)
{
    LPDWORD lpdwSetting = TimeSetting(nId);
    BOOL bNumber = FALSE;
    UINT uValue;

    uValue = GetDlgItemInt(hDlg, nId, &bNumber, FALSE);
    if (bNumber && uValue >= ZUV_TIME_MIN && uValue <= ZUV_TIME_MAX) {
        *lpdwSetting = uValue;
        return;
    }
    if (bSettingTimeField)
        return;
    MessageBoxA(hDlg,
                nId == IDC_SENDTIMEOUT ? "This value must be between 1 and 600 minutes"
                                       : "This value must be between 1 and 600 seconds",
                ZUV_MONITOR_NAME, MB_OK | MB_ICONEXCLAMATION);
    SetTimeField(hDlg, nId, *lpdwSetting);
}

/* A spin arrow steps its field by one, wrapping round within 1 to 600. */
static void SpinTimeField(HWND hDlg, HWND hScrollBar, UINT uCode)
{
    int nField;
    LPDWORD lpdwSetting;
    LONG lValue;

    if (uCode != SB_LINEUP && uCode != SB_LINEDOWN)
        return;
    nField = GetDlgCtrlID(hScrollBar);
    if (nField != IDC_STSINTSPIN && nField != IDC_STSTOSPIN && nField != IDC_SENDTOSPIN)
        return;
    lpdwSetting = TimeSetting(nField);
    nField -= 1;                    /* each spin sits right after its field */

    lValue = (LONG)GetDlgItemInt(hDlg, nField, NULL, FALSE);
    lValue += (uCode == SB_LINEUP) ? 1 : -1;
    /* The field holds at most three digits, so one turn of 600 either way
       brings any value it can hold back into range but 601 to 999; the
       remainder keeps those in range too. */
    lValue = ((lValue - ZUV_TIME_MIN) % ZUV_TIME_MAX + ZUV_TIME_MAX) % ZUV_TIME_MAX + ZUV_TIME_MIN;

    *lpdwSetting = (DWORD)lValue;
    SetDlgItemInt(hDlg, nField, (UINT)lValue, FALSE);
}

static void ConfigOk(HWND hDlg)
{
    lpCfgZUVPort->dwStsInterval = TmpCfgZUVPort.dwStsInterval;
    lpCfgZUVPort->dwStsTimeout = TmpCfgZUVPort.dwStsTimeout;
    lpCfgZUVPort->dwSendTimeout = TmpCfgZUVPort.dwSendTimeout;
    lpCfgZUVPort->bAudibleAlert = TmpCfgZUVPort.bAudibleAlert;
    lpCfgZUVPort->bTrapNotification = TmpCfgZUVPort.bTrapNotification;
    EndDialog(hDlg, IDOK);
}

static BOOL ConfigCommand(HWND hDlg, int nId, UINT uCode)
{
    switch (nId) {
    case IDC_STSINTERVAL:
    case IDC_STSTIMEOUT:
    case IDC_SENDTIMEOUT:
        if (uCode == EN_CHANGE)
            TimeFieldChanged(hDlg, nId);
        return TRUE;
    case IDC_ALERT:
        if (uCode == BN_CLICKED)
            TmpCfgZUVPort.bAudibleAlert = IsDlgButtonChecked(hDlg, IDC_ALERT) == BST_CHECKED;
        return TRUE;
    case IDC_TRAP:
        if (uCode == BN_CLICKED)
            TmpCfgZUVPort.bTrapNotification = IsDlgButtonChecked(hDlg, IDC_TRAP) == BST_CHECKED;
        return TRUE;
    case IDC_HELPBUTTON:
        WinHelpA(hDlg, ZUV_HELP_FILE, HELP_CONTEXT, 1);
        return TRUE;
    case IDC_ABOUT:
        ShowAbout(hDlg);
        return TRUE;
    case IDOK:
        ConfigOk(hDlg);
        return TRUE;
    case IDCANCEL:
        EndDialog(hDlg, IDCANCEL);
        return TRUE;
    default:
        return FALSE;
    }
}

INT_PTR CALLBACK ConfigDlgProc(HWND hDlg, UINT uMsg, WPARAM wParam, LPARAM lParam)
{
    switch (uMsg) {
    case WM_INITDIALOG:
        return ConfigInit(hDlg, lParam);
    case WM_COMMAND:
        return ConfigCommand(hDlg, LOWORD(wParam), HIWORD(wParam));
    case WM_VSCROLL:
        SpinTimeField(hDlg, (HWND)lParam, LOWORD(wParam));
        return TRUE;
    case WM_SETCURSOR:
        UpdateHelpLine(hDlg, (HWND)wParam, &hCfgLastCursorWnd, szCfgMessage, ConfigHelp,
                       ZUV_COUNT(ConfigHelp), IDS_HELP_CONFIGDLG);
        return FALSE;
    case WM_DESTROY:
        WinHelpA(hDlg, ZUV_HELP_FILE, HELP_QUIT, 0);
        DeleteHelpLineFont(&hCfgListboxFont);
        return TRUE;
    default:
        return FALSE;
    }
}

/* ---- About ---- */

/* Only OK closes the box: Esc and the close box arrive as IDCANCEL and are
   swallowed. */
INT_PTR CALLBACK AboutDlgProc(HWND hDlg, UINT uMsg, WPARAM wParam, LPARAM lParam)
{
    switch (uMsg) {
    case WM_INITDIALOG:
        SetForegroundWindow(hDlg);
        return TRUE;
    case WM_COMMAND:
        if (LOWORD(wParam) == IDOK)
            EndDialog(hDlg, IDOK);
        return TRUE;
    case WM_DESTROY:
        return TRUE;
    default:
        return FALSE;
    }
}
