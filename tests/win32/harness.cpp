// The Win32 harness: the x86-64 DORVEMON.DLL on a real Win32 (Wine), as a
// spooler would reach it.  It loads the DLL with LoadLibrary, starts it with
// InitializeMonitorEx, enumerates the ports stored in the registry, and
// opens the Add Port, Configure Port and About dialogs from the DLL's own
// resources through the table's AddPort and ConfigurePort entries.  A driver
// thread works the dialogs with window messages, as a person at the keyboard
// and mouse would, and checks what the host tests check, registry included.
//
//   harness.exe DORVEMON.DLL [SHOTDIR]
//
// With SHOTDIR (a Unix path) each dialog and the range message are saved
// there as PNG pictures, taken with ImageMagick's import from the X display
// that Wine draws on.  Exit code 0 when every check passed.
#include <winsplp.h>  // the 13-slot table of the Windows 4.0 spooler, first

#include <windows.h>

#include <stdarg.h>
#include <stdio.h>
#include <string.h>

#include <atomic>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "resource.h"

namespace {

const char kMonitorKey[] = "SYSTEM\\CurrentControlSet\\Control\\Print\\Monitors\\ZUV Port";
const char kPortsKey[] = "SYSTEM\\CurrentControlSet\\Control\\Print\\Monitors\\ZUV Port\\Ports";

// Control ids of the templates.
const int kIdName = 101, kIdAddress = 102, kIdHelpLine = 213, kIdAbout = 4;
const int kIdInterval = 203, kIdIntervalSpin = 204, kIdStsTimeout = 205, kIdStsTimeoutSpin = 206;
const int kIdSendTimeout = 207, kIdTrap = 214;

const wchar_t kAddTitle[] = L"ポートの追加";
const wchar_t kConfigTitle[] = L"ポートの設定";
const wchar_t kAboutTitle[] = L"プリントモニターのバージョン情報";
const wchar_t kBoxCaption[] = L"Dorve Print Monitor";

std::atomic<int> gFailures{0};
std::atomic<int> gChecks{0};
HMODULE ghMonitor;
MONITOR gTable;
DWORD gMainThreadId;
std::string gShotDir;

void Check(bool ok, const char *fmt, ...)
{
    gChecks++;
    char text[1024];
    va_list args;
    va_start(args, fmt);
    vsnprintf(text, sizeof(text), fmt, args);
    va_end(args);
    printf("%s %s\n", ok ? "ok  " : "FAIL", text);
    fflush(stdout);
    if (!ok)
        gFailures++;
}

std::string Utf8(const std::wstring &text)
{
    int cb = WideCharToMultiByte(CP_UTF8, 0, text.c_str(), -1, nullptr, 0, nullptr, nullptr);
    std::string out(cb > 0 ? cb - 1 : 0, '\0');
    if (cb > 1)
        WideCharToMultiByte(CP_UTF8, 0, text.c_str(), -1, &out[0], cb, nullptr, nullptr);
    return out;
}

// The monitor's string as the resources hold it (Unicode).
std::wstring MonitorString(UINT id)
{
    wchar_t text[512];
    int cch = LoadStringW(ghMonitor, id, text, 512);
    return std::wstring(text, cch > 0 ? cch : 0);
}

std::wstring WindowText(HWND hWnd)
{
    wchar_t text[1024];
    // WM_GETTEXT works across threads, unlike GetWindowText on some systems.
    LRESULT cch = SendMessageW(hWnd, WM_GETTEXT, 1024, (LPARAM)text);
    return std::wstring(text, cch > 0 ? (size_t)cch : 0);
}

std::wstring ItemText(HWND hDlg, int id) { return WindowText(GetDlgItem(hDlg, id)); }

// ---- Registry ----

void DeleteKeyTree(HKEY hParent, const char *path)
{
    HKEY hKey;
    if (RegOpenKeyExA(hParent, path, 0, KEY_ALL_ACCESS, &hKey) != ERROR_SUCCESS)
        return;
    for (int guard = 0; guard < 1000; guard++) {
        char name[256];
        DWORD cch = sizeof(name);
        if (RegEnumKeyExA(hKey, 0, name, &cch, nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS)
            break;
        DeleteKeyTree(hKey, name);
    }
    RegCloseKey(hKey);
    RegDeleteKeyA(hParent, path);
}

bool WriteValue(const std::string &path, const char *name, DWORD dwType, const void *data, DWORD cb)
{
    HKEY hKey;
    DWORD dwDisposition;
    if (RegCreateKeyExA(HKEY_LOCAL_MACHINE, path.c_str(), 0, (LPSTR) "REG_SZ", 0, KEY_ALL_ACCESS,
                        nullptr, &hKey, &dwDisposition) != ERROR_SUCCESS)
        return false;
    LONG lResult = RegSetValueExA(hKey, name, 0, dwType, (const BYTE *)data, cb);
    RegCloseKey(hKey);
    return lResult == ERROR_SUCCESS;
}

bool WriteString(const std::string &path, const char *name, const char *text)
{
    return WriteValue(path, name, REG_SZ, text, (DWORD)strlen(text) + 1);
}

bool WriteDword(const std::string &path, const char *name, DWORD dwValue)
{
    return WriteValue(path, name, REG_DWORD, &dwValue, 4);
}

// The value's type and bytes; false when it is missing.
bool ReadValue(const std::string &path, const char *name, DWORD *pdwType, std::string *bytes)
{
    HKEY hKey;
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, path.c_str(), 0, KEY_QUERY_VALUE, &hKey) != ERROR_SUCCESS)
        return false;
    char data[1024];
    DWORD cb = sizeof(data);
    LONG lResult = RegQueryValueExA(hKey, name, nullptr, pdwType, (LPBYTE)data, &cb);
    RegCloseKey(hKey);
    if (lResult != ERROR_SUCCESS)
        return false;
    bytes->assign(data, cb);
    return true;
}

// A DWORD value, or ~0 when it is missing or not a 4-byte REG_DWORD.
DWORD ReadDword(const std::string &path, const char *name)
{
    DWORD dwType = 0;
    std::string bytes;
    if (!ReadValue(path, name, &dwType, &bytes) || dwType != REG_DWORD || bytes.size() != 4)
        return ~0u;
    DWORD dwValue;
    memcpy(&dwValue, bytes.data(), 4);
    return dwValue;
}

std::string PortKey(const char *name) { return std::string(kPortsKey) + "\\" + name; }

// ---- Finding and driving windows ----

bool WaitUntil(const std::function<bool()> &pred, DWORD dwMs = 5000)
{
    DWORD dwStart = GetTickCount();
    while (!pred()) {
        if (GetTickCount() - dwStart > dwMs)
            return false;
        Sleep(20);
    }
    return true;
}

// The visible dialog of the main thread with this caption.
HWND FindDialog(const wchar_t *title)
{
    HWND hWnd = FindWindowW(L"#32770", title);
    if (hWnd == nullptr || !IsWindowVisible(hWnd) ||
        GetWindowThreadProcessId(hWnd, nullptr) != gMainThreadId)
        return nullptr;
    return hWnd;
}

HWND WaitDialog(const wchar_t *title)
{
    HWND hWnd = nullptr;
    WaitUntil([&] { return (hWnd = FindDialog(title)) != nullptr; });
    return hWnd;
}

// Waits until the dialog has handled what was sent before: a message sent
// to it is handled only after the ones it is busy with.
void Settle(HWND hDlg)
{
    DWORD_PTR result;
    SendMessageTimeoutW(hDlg, WM_NULL, 0, 0, SMTO_NORMAL, 2000, &result);
    Sleep(50);
}

// The focus moves to the control as with Tab or a click (EN_SETFOCUS).
void Focus(HWND hDlg, int id)
{
    SendMessageW(hDlg, WM_NEXTDLGCTL, (WPARAM)GetDlgItem(hDlg, id), TRUE);
    Settle(hDlg);
}

void SelectAll(HWND hDlg, int id) { SendMessageW(GetDlgItem(hDlg, id), EM_SETSEL, 0, -1); }

// Keystrokes into an edit: one WM_CHAR each, handled before the next.
void Type(HWND hDlg, int id, const wchar_t *text)
{
    HWND hEdit = GetDlgItem(hDlg, id);
    for (const wchar_t *p = text; *p != 0; p++)
        SendMessageW(hEdit, WM_CHAR, *p, 1);
    Settle(hDlg);
}

// A keystroke that opens a message box: posted, so the driver does not wait
// inside the box's modal loop.
void TypePosted(HWND hDlg, int id, wchar_t ch) { PostMessageW(GetDlgItem(hDlg, id), WM_CHAR, ch, 1); }

// A click on a button (BM_CLICK presses and releases it), posted so that a
// dialog it opens does not hold the driver.
void Click(HWND hDlg, int id) { PostMessageW(GetDlgItem(hDlg, id), BM_CLICK, 0, 0); }

// A press of a spin arrow as the scroll bar reports it to its dialog.
void Spin(HWND hDlg, int id, int code)
{
    HWND hBar = GetDlgItem(hDlg, id);
    SendMessageW(hDlg, WM_VSCROLL, MAKEWPARAM(code, 0), (LPARAM)hBar);
    SendMessageW(hDlg, WM_VSCROLL, MAKEWPARAM(SB_ENDSCROLL, 0), (LPARAM)hBar);
    Settle(hDlg);
}

// Moves the real pointer over the middle of a window, as the mouse does.
void PointAt(HWND hWnd)
{
    RECT rc;
    GetWindowRect(hWnd, &rc);
    int x = (rc.left + rc.right) / 2, y = (rc.top + rc.bottom) / 2;
    SetCursorPos(x, y);
    INPUT input;
    memset(&input, 0, sizeof(input));
    input.type = INPUT_MOUSE;
    input.mi.dx = (x * 65535) / (GetSystemMetrics(SM_CXSCREEN) - 1);
    input.mi.dy = (y * 65535) / (GetSystemMetrics(SM_CYSCREEN) - 1);
    input.mi.dwFlags = MOUSEEVENTF_MOVE | MOUSEEVENTF_ABSOLUTE;
    SendInput(1, &input, sizeof(input));
}

// Moves the pointer over a control and waits for the help line's text.
bool HoverShows(HWND hDlg, int id, UINT uString)
{
    std::wstring expected = MonitorString(uString);
    PointAt(id == 0 ? hDlg : GetDlgItem(hDlg, id));
    bool ok = WaitUntil([&] { return ItemText(hDlg, kIdHelpLine) == expected; }, 3000);
    Check(ok, "help line over %d shows string %u (\"%s\")", id, uString,
          Utf8(ItemText(hDlg, kIdHelpLine)).c_str());
    return ok;
}

// The message box that the dialog owns, once it is shown.
HWND WaitMessageBox(HWND hOwner)
{
    HWND hBox = nullptr;
    WaitUntil([&] {
        hBox = FindWindowW(L"#32770", kBoxCaption);
        return hBox != nullptr && IsWindowVisible(hBox) && GetWindow(hBox, GW_OWNER) == hOwner;
    });
    return hBox;
}

// The text of a message box: its static control with the message.
std::wstring MessageBoxText(HWND hBox)
{
    std::wstring found;
    EnumChildWindows(
        hBox,
        [](HWND hChild, LPARAM lParam) -> BOOL {
            wchar_t cls[32];
            GetClassNameW(hChild, cls, 32);
            std::wstring text = WindowText(hChild);
            if (_wcsicmp(cls, L"Static") == 0 && !text.empty())
                *(std::wstring *)lParam = text;
            return TRUE;
        },
        (LPARAM)&found);
    return found;
}

// Saves the screen area of the window as SHOTDIR/NAME.png.
void Shot(HWND hWnd, const char *name)
{
    if (gShotDir.empty())
        return;
    RedrawWindow(hWnd, nullptr, nullptr, RDW_INVALIDATE | RDW_UPDATENOW | RDW_ALLCHILDREN | RDW_FRAME);
    Sleep(400);
    RECT rc;
    GetWindowRect(hWnd, &rc);
    // Wine starts Unix programs but cannot wait for them: the picture is
    // written under a temporary name and renamed when it is complete.
    std::string png = gShotDir + "/" + name + ".png";
    char cmd[2048];
    snprintf(cmd, sizeof(cmd),
             "/bin/sh -c \"import -window root -crop %ldx%ld+%ld+%ld +repage '%s.tmp.png' && mv '%s.tmp.png' '%s'\"",
             rc.right - rc.left, rc.bottom - rc.top, rc.left, rc.top, png.c_str(), png.c_str(), png.c_str());
    std::string dosPng = "Z:" + png;
    for (char &c : dosPng)
        if (c == '/')
            c = '\\';
    DeleteFileA(dosPng.c_str());
    STARTUPINFOA si;
    memset(&si, 0, sizeof(si));
    si.cb = sizeof(si);
    // For a Unix program Wine gives no process handle and leaves stray
    // values in the rest of the structure: closing them would close other
    // objects of this process (the registry's root keys among them), so
    // nothing of it is used.
    PROCESS_INFORMATION pi;
    memset(&pi, 0, sizeof(pi));
    bool ok = CreateProcessA(nullptr, cmd, nullptr, nullptr, FALSE, 0, nullptr, nullptr, &si, &pi) != 0;
    if (ok) {
        ok = WaitUntil([&] { return GetFileAttributesA(dosPng.c_str()) != INVALID_FILE_ATTRIBUTES; }, 20000);
    }
    Check(ok, "picture %s/%s.png", gShotDir.c_str(), name);
}

// Closes whatever dialog of the main thread is still open, so that a driver
// that lost its way never leaves the table call waiting.
void CloseAllDialogs()
{
    EnumThreadWindows(
        gMainThreadId,
        [](HWND hWnd, LPARAM) -> BOOL {
            wchar_t cls[16];
            GetClassNameW(hWnd, cls, 16);
            if (wcscmp(cls, L"#32770") == 0 && IsWindowVisible(hWnd))
                PostMessageW(hWnd, WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED), 0);
            return TRUE;
        },
        0);
}

// Runs a table entry on this (the main) thread while `script` drives its
// dialogs from a thread of its own.
BOOL RunWithDriver(const std::function<BOOL()> &entry, const std::function<void()> &script)
{
    std::atomic<bool> done{false};
    std::thread driver([&] {
        script();
        // Anything still open after the script is a failure of the script.
        for (int i = 0; i < 100 && !done; i++) {
            CloseAllDialogs();
            Sleep(100);
        }
    });
    BOOL bResult = entry();
    done = true;
    driver.join();
    return bResult;
}

// ---- Scenarios ----

void StoreStartingPorts()
{
    DeleteKeyTree(HKEY_LOCAL_MACHINE, kMonitorKey);
    Check(WriteString(PortKey("Lab1"), "IPAddress", "127.0.0.61"), "stored port Lab1");
    Check(WriteString(PortKey("Lab9"), "IPAddress", "127.0.0.69") && WriteDword(PortKey("Lab9"), "StsInterval", 7),
          "stored port Lab9");
}

bool StartMonitor(const char *dll)
{
    ghMonitor = LoadLibraryA(dll);
    Check(ghMonitor != nullptr, "LoadLibrary %s (error %lu)", dll, GetLastError());
    if (ghMonitor == nullptr)
        return false;
    PFN_INITIALIZEMONITOREX pfnInit =
        (PFN_INITIALIZEMONITOREX)(void (*)(void))GetProcAddress(ghMonitor, "InitializeMonitorEx");
    Check(pfnInit != nullptr, "InitializeMonitorEx is exported");
    if (pfnInit == nullptr)
        return false;
    memset(&gTable, 0, sizeof(gTable));
    BOOL bStarted = pfnInit((LPSTR) "ignored", &gTable);
    Check(bStarted != FALSE, "InitializeMonitorEx returns TRUE");
    Check(gTable.pfnOpenPortEx == nullptr && gTable.pfnEnumPorts != nullptr && gTable.pfnAddPort != nullptr &&
              gTable.pfnConfigurePort != nullptr && gTable.pfnDeletePort != nullptr &&
              gTable.pfnSetPortTimeOuts != nullptr,
          "the table's slots are filled, OpenPortEx empty");
    return bStarted && gTable.pfnEnumPorts != nullptr;
}

// The port names that EnumPorts gives at level 2, with its size checks.
std::vector<std::string> EnumeratePorts()
{
    std::vector<std::string> names;
    DWORD cbNeeded = 0, cReturned = 99;
    SetLastError(0);
    BOOL bOk = gTable.pfnEnumPorts(nullptr, 2, nullptr, 0, &cbNeeded, &cReturned);
    Check(!bOk && GetLastError() == ERROR_INSUFFICIENT_BUFFER && cReturned == 0,
          "EnumPorts sizing call fails with 122 (error %lu)", GetLastError());
    std::vector<BYTE> buffer(cbNeeded);
    bOk = gTable.pfnEnumPorts(nullptr, 2, buffer.data(), cbNeeded, &cbNeeded, &cReturned);
    Check(bOk != FALSE, "EnumPorts level 2 fills %lu bytes with %lu ports", cbNeeded, cReturned);
    if (!bOk)
        return names;
    DWORD cbNames = 0;
    PORT_INFO_2A *pInfo = (PORT_INFO_2A *)buffer.data();
    for (DWORD i = 0; i < cReturned; i++) {
        names.push_back(pInfo[i].pPortName);
        cbNames += (DWORD)strlen(pInfo[i].pPortName) + 1;
        Check(strcmp(pInfo[i].pMonitorName, "Dorve Print Monitor") == 0 &&
                  strcmp(pInfo[i].pDescription, "Dorve Port") == 0 && pInfo[i].fPortType == PORT_TYPE_WRITE,
              "port %s: monitor name, description and type", pInfo[i].pPortName);
    }
    // 51 bytes a port in the 32-bit build: the entry and the two texts.
    DWORD cbEntry = (DWORD)(sizeof(PORT_INFO_2A) + sizeof("Dorve Print Monitor") + sizeof("Dorve Port"));
    Check(cbNeeded == cbEntry * cReturned + cbNames, "level 2 needs %lu bytes a port and the names", cbEntry);
    if (cReturned > 0)
        Check(pInfo[0].pPortName + strlen(pInfo[0].pPortName) + 1 == (char *)buffer.data() + cbNeeded,
              "the first port's name ends at the end of the buffer");

    DWORD cbLevel1 = 0;
    gTable.pfnEnumPorts(nullptr, 1, nullptr, 0, &cbLevel1, &cReturned);
    Check(cbLevel1 == sizeof(PORT_INFO_1A) * names.size() + cbNames, "level 1 needs a pointer and the name a port (%lu)", cbLevel1);
    return names;
}

bool Contains(const std::vector<std::string> &names, const char *name)
{
    for (const std::string &n : names)
        if (n == name)
            return true;
    return false;
}

void AboutFrom(HWND hOwner, const char *shot)
{
    Click(hOwner, kIdAbout);
    HWND hAbout = WaitDialog(kAboutTitle);
    Check(hAbout != nullptr && GetWindow(hAbout, GW_OWNER) == hOwner, "About opens over its dialog");
    if (hAbout == nullptr)
        return;
    Shot(hAbout, shot);
    // Esc arrives as IDCANCEL and leaves the box open; only OK closes it.
    PostMessageW(hAbout, WM_COMMAND, MAKEWPARAM(IDCANCEL, BN_CLICKED), 0);
    Settle(hAbout);
    Check(IsWindow(hAbout) && IsWindowVisible(hAbout), "About stays open on IDCANCEL");
    Click(hAbout, IDOK);
    Check(WaitUntil([&] { return !IsWindow(hAbout); }), "About closes on OK");
}

// Add Port: a name typed is followed by the address field until the address
// field gets the focus; OK stores the address only and loads the port.
void AddPortScenario()
{
    BOOL bResult = RunWithDriver([] { return gTable.pfnAddPort(nullptr, nullptr, (LPSTR) "Dorve Port"); },
                                 [] {
                                     HWND hDlg = WaitDialog(kAddTitle);
                                     Check(hDlg != nullptr, "Add Port dialog opens from the DLL's template 100");
                                     if (hDlg == nullptr)
                                         return;
                                     Check(IsWindowEnabled(GetDlgItem(hDlg, kIdName)) &&
                                               !IsWindowEnabled(GetDlgItem(hDlg, 6)) &&
                                               IsDlgButtonChecked(hDlg, 215) == BST_CHECKED,
                                           "manual mode: fields enabled, search disabled");
                                     Focus(hDlg, kIdName);
                                     Type(hDlg, kIdName, L"lpt1:");
                                     Check(ItemText(hDlg, kIdAddress) == L"lpt1:",
                                           "the address field follows the name (\"%s\")",
                                           Utf8(ItemText(hDlg, kIdAddress)).c_str());
                                     Focus(hDlg, kIdAddress);
                                     SelectAll(hDlg, kIdAddress);
                                     Type(hDlg, kIdAddress, L"127.0.0.12");
                                     Focus(hDlg, kIdName);
                                     SendMessageW(GetDlgItem(hDlg, kIdName), EM_SETSEL, 5, 5);
                                     Type(hDlg, kIdName, L"x");
                                     Check(ItemText(hDlg, kIdAddress) == L"127.0.0.12",
                                           "after the address had the focus, the name no longer fills it");
                                     SendMessageW(GetDlgItem(hDlg, kIdName), WM_CHAR, VK_BACK, 1);
                                     Settle(hDlg);
                                     // Wine's spooler has a port LPT1:, in another letter case.
                                     Click(hDlg, IDOK);
                                     HWND hBox = WaitMessageBox(hDlg);
                                     Check(hBox != nullptr && MessageBoxText(hBox) == MonitorString(IDS_ALREADY_EXISTS),
                                           "a spooler port's name brings string 524 (\"%s\")",
                                           hBox ? Utf8(MessageBoxText(hBox)).c_str() : "");
                                     if (hBox != nullptr) {
                                         PostMessageW(hBox, WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED), 0);
                                         WaitUntil([&] { return !IsWindow(hBox); });
                                         Settle(hDlg);
                                     }
                                     DWORD dwStart = 1, dwEnd = 0;
                                     SendMessageW(GetDlgItem(hDlg, kIdName), EM_GETSEL, (WPARAM)&dwStart, (LPARAM)&dwEnd);
                                     Check(IsWindow(hDlg) && dwStart == 0 && dwEnd == 5,
                                           "the dialog stays open with the name selected (%lu-%lu)", dwStart, dwEnd);
                                     Type(hDlg, kIdName, L"Lab2");
                                     HoverShows(hDlg, kIdAddress, IDS_HELP_ADDRESS);
                                     HoverShows(hDlg, kIdName, IDS_HELP_PORTNAME);
                                     Shot(hDlg, "addport");
                                     AboutFrom(hDlg, "about");
                                     Check(ItemText(hDlg, kIdName) == L"Lab2", "About leaves the fields as they were");
                                     Click(hDlg, IDOK);
                                     WaitUntil([&] { return !IsWindow(hDlg) || FindWindowW(L"#32770", kBoxCaption); });
                                     hBox = FindWindowW(L"#32770", kBoxCaption);
                                     Check(hBox == nullptr, "OK with a free name and a dotted address shows no message (\"%s\")",
                                           hBox ? Utf8(MessageBoxText(hBox)).c_str() : "");
                                 });
    Check(bResult != FALSE, "AddPort returns TRUE");
    DWORD dwType = 0;
    std::string bytes;
    Check(ReadValue(PortKey("Lab2"), "IPAddress", &dwType, &bytes) && dwType == REG_SZ &&
              bytes == std::string("127.0.0.12", 11),
          "Ports\\Lab2 IPAddress is REG_SZ \"127.0.0.12\" with its NUL");
    Check(ReadDword(PortKey("Lab2"), "StsInterval") == ~0u, "no other value is written for a new port");
    Check(Contains(EnumeratePorts(), "Lab2"), "EnumPorts lists the new port");
}

void AddPortCancelScenario()
{
    BOOL bResult = RunWithDriver([] { return gTable.pfnAddPort(nullptr, nullptr, (LPSTR) "Dorve Port"); },
                                 [] {
                                     HWND hDlg = WaitDialog(kAddTitle);
                                     if (hDlg == nullptr)
                                         return;
                                     Focus(hDlg, kIdName);
                                     Type(hDlg, kIdName, L"Lab3");
                                     Click(hDlg, IDCANCEL);
                                     Check(WaitUntil([&] { return !IsWindow(hDlg); }), "Cancel closes Add Port");
                                 });
    Check(bResult != FALSE, "cancelled AddPort returns TRUE");
    HKEY hKey;
    bool bExists = RegOpenKeyExA(HKEY_LOCAL_MACHINE, PortKey("Lab3").c_str(), 0, KEY_READ, &hKey) == ERROR_SUCCESS;
    if (bExists)
        RegCloseKey(hKey);
    Check(!bExists, "cancelled AddPort stores no key");
}

// Configure Port: the stored settings in the fields, a range error in the
// send time-out, the spins with their wrap, a check box, then OK.
void ConfigureScenario()
{
    BOOL bResult = RunWithDriver(
        [] { return gTable.pfnConfigurePort(nullptr, nullptr, (LPSTR) "Lab1"); },
        [] {
            HWND hDlg = WaitDialog(kConfigTitle);
            Check(hDlg != nullptr, "Configure Port dialog opens from the DLL's template 200");
            if (hDlg == nullptr)
                return;
            Check(ItemText(hDlg, kIdInterval) == L"5" && ItemText(hDlg, kIdStsTimeout) == L"10" &&
                      ItemText(hDlg, kIdSendTimeout) == L"60",
                  "the fields show the defaults 5, 10 and 60");
            Focus(hDlg, kIdSendTimeout);
            SelectAll(hDlg, kIdSendTimeout);
            Type(hDlg, kIdSendTimeout, L"70");
            Check(ItemText(hDlg, kIdSendTimeout) == L"70", "7 and 70 are accepted");
            TypePosted(hDlg, kIdSendTimeout, L'0');
            HWND hBox = WaitMessageBox(hDlg);
            Check(hBox != nullptr, "700 brings the range message");
            if (hBox != nullptr) {
                Check(MessageBoxText(hBox) == L"This value must be between 1 and 600 minutes",
                      "range message text \"%s\"", Utf8(MessageBoxText(hBox)).c_str());
                Shot(hBox, "range-message");
                PostMessageW(hBox, WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED), 0);
                Check(WaitUntil([&] { return !IsWindow(hBox); }), "the message closes on OK");
                Settle(hDlg);
            }
            Check(ItemText(hDlg, kIdSendTimeout) == L"70", "the field shows 70 again (\"%s\")",
                  Utf8(ItemText(hDlg, kIdSendTimeout)).c_str());
            SelectAll(hDlg, kIdSendTimeout);
            Type(hDlg, kIdSendTimeout, L"4567");
            Check(ItemText(hDlg, kIdSendTimeout) == L"456", "a fourth digit cannot be typed (\"%s\")",
                  Utf8(ItemText(hDlg, kIdSendTimeout)).c_str());
            Spin(hDlg, kIdIntervalSpin, SB_LINEUP);
            Check(ItemText(hDlg, kIdInterval) == L"6", "the status interval's up arrow gives 6");
            Focus(hDlg, kIdStsTimeout);
            SelectAll(hDlg, kIdStsTimeout);
            Type(hDlg, kIdStsTimeout, L"1");
            Spin(hDlg, kIdStsTimeoutSpin, SB_LINEDOWN);
            Check(ItemText(hDlg, kIdStsTimeout) == L"600", "the down arrow at 1 gives 600");
            Click(hDlg, kIdTrap);
            Settle(hDlg);
            Check(IsDlgButtonChecked(hDlg, kIdTrap) == BST_CHECKED, "the end-of-output box is ticked");
            HoverShows(hDlg, kIdStsTimeout, IDS_HELP_STSTIMEOUT);
            HoverShows(hDlg, kIdSendTimeout, IDS_HELP_SENDTIMEOUT);
            Shot(hDlg, "configure");
            AboutFrom(hDlg, "about-configure");
            Click(hDlg, IDOK);
            Check(WaitUntil([&] { return !IsWindow(hDlg); }), "OK closes Configure Port");
        });
    Check(bResult != FALSE, "ConfigurePort returns TRUE");
    std::string key = PortKey("Lab1");
    const std::pair<const char *, DWORD> expected[] = {
        {"StsInterval", 6}, {"ConnType", 0},  {"StsTimeout", 600}, {"SendTimeout", 456},       {"DefErrors", 1},
        {"DefWarnings", 1}, {"DefInfos", 1}, {"AudibleAlert", 0}, {"TrapNotification", 1}};
    for (const auto &e : expected)
        Check(ReadDword(key, e.first) == e.second, "Ports\\Lab1 %s is REG_DWORD %lu (%lu)", e.first, e.second,
              ReadDword(key, e.first));
}

void ConfigureCancelScenario()
{
    BOOL bResult = RunWithDriver([] { return gTable.pfnConfigurePort(nullptr, nullptr, (LPSTR) "Lab9"); },
                                 [] {
                                     HWND hDlg = WaitDialog(kConfigTitle);
                                     if (hDlg == nullptr)
                                         return;
                                     Check(ItemText(hDlg, kIdInterval) == L"7", "Lab9 shows its stored interval 7");
                                     Spin(hDlg, kIdIntervalSpin, SB_LINEUP);
                                     Click(hDlg, IDCANCEL);
                                     Check(WaitUntil([&] { return !IsWindow(hDlg); }), "Cancel closes Configure Port");
                                 });
    Check(bResult != FALSE, "cancelled ConfigurePort returns TRUE");
    Check(ReadDword(PortKey("Lab9"), "StsInterval") == 7 && ReadDword(PortKey("Lab9"), "ConnType") == ~0u,
          "cancelled ConfigurePort stores nothing");
}

void ConfigureUnknownScenario()
{
    Check(!gTable.pfnConfigurePort(nullptr, nullptr, (LPSTR) "lab1"), "ConfigurePort of an unknown name fails");
}

}  // namespace

int main(int argc, char **argv)
{
    if (argc < 2) {
        fprintf(stderr, "usage: harness DORVEMON.DLL [SHOTDIR]\n");
        return 2;
    }
    if (argc > 2)
        gShotDir = argv[2];
    gMainThreadId = GetCurrentThreadId();
    // Nothing may hang CI: a run that takes too long fails.
    std::thread([] {
        Sleep(120000);
        printf("FAIL the harness took longer than 120 s\n");
        fflush(stdout);
        ExitProcess(3);
    }).detach();

    StoreStartingPorts();
    if (StartMonitor(argv[1])) {
        std::vector<std::string> names = EnumeratePorts();
        Check(names.size() == 2 && Contains(names, "Lab1") && Contains(names, "Lab9"),
              "EnumPorts lists the two stored ports");
        AddPortScenario();
        AddPortCancelScenario();
        ConfigureScenario();
        ConfigureCancelScenario();
        ConfigureUnknownScenario();
        Check(gTable.pfnDeletePort(nullptr, nullptr, (LPSTR) "Lab2") != FALSE, "DeletePort Lab2");
        Check(!Contains(EnumeratePorts(), "Lab2"), "Lab2 is gone from EnumPorts");
    }
    printf("harness: %d passed, %d failed\n", gChecks - gFailures, gFailures.load());
    fflush(stdout);
    ExitProcess(gFailures == 0 ? 0 : 1);
}
