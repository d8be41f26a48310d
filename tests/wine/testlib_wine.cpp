// The shared fixtures of tests/testlib.h on real Win32, for the test
// programs that run under Wine, and the stand-ins of the host hooks
// (include/dorve/hostonly.h).
//
// The registry is the real one of the Wine prefix that the runner made for
// this run; a TempRegistry empties the monitor's own key tree when it is
// made and again when it goes, so every test starts from no stored state.
#include "testlib.h"

#include <gtest/gtest.h>

#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include <sstream>

#include "dorve/clock.h"
#include "dorve/dialog_driver.h"
#include "dorve/registry_host.h"
#include "dorve/winsock_host.h"

namespace dorvetest {

namespace {

const char kMonitorKey[] = "SYSTEM\\CurrentControlSet\\Control\\Print\\Monitors\\ZUV Port";

void RemoveTree(const std::string &path)
{
    WIN32_FIND_DATAA data;
    HANDLE hFind = FindFirstFileA((path + "\\*").c_str(), &data);
    if (hFind != INVALID_HANDLE_VALUE) {
        do {
            if (strcmp(data.cFileName, ".") == 0 || strcmp(data.cFileName, "..") == 0)
                continue;
            std::string child = path + "\\" + data.cFileName;
            if (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)
                RemoveTree(child);
            else
                DeleteFileA(child.c_str());
        } while (FindNextFileA(hFind, &data));
        FindClose(hFind);
    }
    RemoveDirectoryA(path.c_str());
}

std::string MakeTempDirPath()
{
    char base[MAX_PATH];
    DWORD cch = GetTempPathA(sizeof(base), base);
    if (cch == 0 || cch >= sizeof(base))
        return std::string();
    for (unsigned attempt = 0; attempt < 100; attempt++) {
        char name[MAX_PATH + 64];
        snprintf(name, sizeof(name), "%sdorvetest-%lu-%u-%u", base, GetCurrentProcessId(),
                 (unsigned)GetTickCount(), attempt);
        if (CreateDirectoryA(name, nullptr))
            return name;
    }
    return std::string();
}

// Deletes a key with everything below it (RegDeleteKey of Windows 95 did
// that by itself; later systems refuse keys with subkeys).
void DeleteKeyTree(HKEY hParent, const std::string &path)
{
    HKEY hKey;
    if (RegOpenKeyExA(hParent, path.c_str(), 0, KEY_ALL_ACCESS, &hKey) != ERROR_SUCCESS)
        return;
    char name[256];
    for (;;) {
        DWORD cch = sizeof(name);
        if (RegEnumKeyExA(hKey, 0, name, &cch, nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS)
            break;
        std::string child = name;
        DeleteKeyTree(hKey, child);
        cch = sizeof(name);
        // A subkey that would not go would loop for ever.
        if (RegEnumKeyExA(hKey, 0, name, &cch, nullptr, nullptr, nullptr, nullptr) == ERROR_SUCCESS &&
            child == name)
            break;
    }
    RegCloseKey(hKey);
    RegDeleteKeyA(hParent, path.c_str());
}

// Every key and value below hKey, one per line, in enumeration order.
void DumpKey(HKEY hKey, const std::string &path, std::ostringstream &out)
{
    out << "[" << path << "]\n";
    for (DWORD i = 0;; i++) {
        char name[16384];
        DWORD cchName = sizeof(name);
        DWORD dwType = 0;
        unsigned char data[4096];
        DWORD cbData = sizeof(data);
        LONG lResult = RegEnumValueA(hKey, i, name, &cchName, nullptr, &dwType, data, &cbData);
        if (lResult != ERROR_SUCCESS)
            break;
        out << "\"" << name << "\" " << dwType << " ";
        for (DWORD b = 0; b < cbData; b++) {
            char hex[4];
            snprintf(hex, sizeof(hex), "%02x", data[b]);
            out << hex;
        }
        out << "\n";
    }
    for (DWORD i = 0;; i++) {
        char name[256];
        DWORD cch = sizeof(name);
        if (RegEnumKeyExA(hKey, i, name, &cch, nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS)
            break;
        HKEY hSub;
        if (RegOpenKeyExA(hKey, name, 0, KEY_READ, &hSub) == ERROR_SUCCESS) {
            DumpKey(hSub, path + "\\" + name, out);
            RegCloseKey(hSub);
        }
    }
}

std::mutex gEventMutex;
std::vector<RecordedEvent> gEvents;

void RecordEvent(WORD wType, WORD wCategory, DWORD dwEventID, WORD wNumStrings,
                 LPCSTR *lpStrings)
{
    RecordedEvent event;
    event.wType = wType;
    event.wCategory = wCategory;
    event.dwEventID = dwEventID;
    for (WORD i = 0; i < wNumStrings; i++)
        event.strings.push_back(lpStrings != nullptr && lpStrings[i] != nullptr ? lpStrings[i]
                                                                                : "(null)");
    std::lock_guard<std::mutex> lock(gEventMutex);
    gEvents.push_back(event);
}

}  // namespace

TempDir::TempDir() : path_(MakeTempDirPath()) {}

TempDir::~TempDir()
{
    if (!path_.empty())
        RemoveTree(path_);
}

TempRegistry::TempRegistry()
{
    file_ = std::string("HKEY_LOCAL_MACHINE\\") + kMonitorKey;
    DeleteKeyTree(HKEY_LOCAL_MACHINE, kMonitorKey);
}

TempRegistry::~TempRegistry()
{
    DeleteKeyTree(HKEY_LOCAL_MACHINE, kMonitorKey);
}

std::string TempRegistry::contents() const
{
    std::ostringstream out;
    HKEY hKey;
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, kMonitorKey, 0, KEY_READ, &hKey) == ERROR_SUCCESS) {
        DumpKey(hKey, kMonitorKey, out);
        RegCloseKey(hKey);
    }
    return out.str();
}

EventRecorder::EventRecorder()
{
    clear();
    gpfnZUVEventHook = RecordEvent;
}

EventRecorder::~EventRecorder()
{
    gpfnZUVEventHook = nullptr;
    clear();
}

std::vector<RecordedEvent> EventRecorder::events() const
{
    std::lock_guard<std::mutex> lock(gEventMutex);
    return gEvents;
}

size_t EventRecorder::count(DWORD dwEventID) const
{
    std::lock_guard<std::mutex> lock(gEventMutex);
    size_t n = 0;
    for (const RecordedEvent &event : gEvents)
        if (event.dwEventID == dwEventID)
            n++;
    return n;
}

size_t EventRecorder::size() const
{
    std::lock_guard<std::mutex> lock(gEventMutex);
    return gEvents.size();
}

void EventRecorder::clear()
{
    std::lock_guard<std::mutex> lock(gEventMutex);
    gEvents.clear();
}

RecordedEvent EventRecorder::last(DWORD dwEventID) const
{
    std::lock_guard<std::mutex> lock(gEventMutex);
    for (auto it = gEvents.rbegin(); it != gEvents.rend(); ++it)
        if (it->dwEventID == dwEventID)
            return *it;
    return RecordedEvent();
}

ClockRate::ClockRate(double rate) : previous_(1.0)
{
    if (rate != 1.0)
        DorveWineHostOnly("ClockRate");
}

ClockRate::~ClockRate() {}

void ResetMonitorState()
{
    for (DWORD i = 0; i < gZUVMon.dwPortCount; i++)
        free(gZUVMon.lppPorts[i]);
    free(gZUVMon.lppPorts);
    gZUVMon.lppPorts = nullptr;
    gZUVMon.dwPortCount = 0;
    gZUVMon.bAutoEnable = FALSE;
}

// The monitor's objects and resources are linked into the test program, so
// the program's own module is the monitor's module.
bool LoadMonitorModule()
{
    HMODULE hSelf = GetModuleHandleA(nullptr);
    DllMain(hSelf, DLL_PROCESS_ATTACH, nullptr);
    return ghInstance == hSelf;
}

bool RegWriteValue(const std::string &keyPath, const char *valueName, DWORD dwType,
                   const void *data, DWORD cbData)
{
    HKEY hKey;
    DWORD dwDisposition;
    if (RegCreateKeyExA(HKEY_LOCAL_MACHINE, keyPath.c_str(), 0, (LPSTR) "REG_SZ",
                        REG_OPTION_NON_VOLATILE, KEY_ALL_ACCESS, nullptr, &hKey,
                        &dwDisposition) != ERROR_SUCCESS)
        return false;
    LONG lResult = ERROR_SUCCESS;
    if (valueName != nullptr)
        lResult = RegSetValueExA(hKey, valueName, 0, dwType, (const BYTE *)data, cbData);
    RegCloseKey(hKey);
    return lResult == ERROR_SUCCESS;
}

bool RegWriteDword(const std::string &keyPath, const char *valueName, DWORD dwValue)
{
    return RegWriteValue(keyPath, valueName, REG_DWORD, &dwValue, sizeof(dwValue));
}

bool RegWriteString(const std::string &keyPath, const char *valueName, const std::string &text)
{
    return RegWriteValue(keyPath, valueName, REG_SZ, text.c_str(), (DWORD)text.size() + 1);
}

bool RegKeyExists(const std::string &keyPath)
{
    HKEY hKey;
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, keyPath.c_str(), 0, KEY_QUERY_VALUE, &hKey) !=
        ERROR_SUCCESS)
        return false;
    RegCloseKey(hKey);
    return true;
}

bool RegReadValue(const std::string &keyPath, const char *valueName, DWORD *pdwType,
                  std::vector<unsigned char> *bytes)
{
    HKEY hKey;
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, keyPath.c_str(), 0, KEY_QUERY_VALUE, &hKey) !=
        ERROR_SUCCESS)
        return false;
    DWORD cb = 0;
    DWORD dwType = 0;
    bool ok = RegQueryValueExA(hKey, valueName, nullptr, &dwType, nullptr, &cb) == ERROR_SUCCESS;
    if (ok) {
        bytes->assign(cb, 0);
        ok = RegQueryValueExA(hKey, valueName, nullptr, &dwType, cb ? bytes->data() : nullptr,
                              &cb) == ERROR_SUCCESS;
        bytes->resize(cb);
    }
    RegCloseKey(hKey);
    if (ok && pdwType != nullptr)
        *pdwType = dwType;
    return ok;
}

std::string PortKeyPath(const std::string &portName)
{
    return std::string(ZUV_PORTS_KEY) + "\\" + portName;
}

}  // namespace dorvetest

// ---- Host hooks ----

extern "C" void DorveWineHostOnly(const char *hook)
{
    ADD_FAILURE() << hook << " needs the host layer: list this test in tests/wine/README.md";
}

// All switches are off on a real Winsock, and nothing maps ports.
extern "C" void DorveWsaReset(void) {}
extern "C" void DorveWsaSetStartupResult(int, WORD) { DorveWineHostOnly("DorveWsaSetStartupResult"); }
extern "C" int DorveWsaCleanupCount(void)
{
    DorveWineHostOnly("DorveWsaCleanupCount");
    return -1;
}
extern "C" void DorveWsaRefuseSndTimeo(BOOL) { DorveWineHostOnly("DorveWsaRefuseSndTimeo"); }
extern "C" void DorveWsaSetNoTcpProtocol(BOOL) { DorveWineHostOnly("DorveWsaSetNoTcpProtocol"); }
extern "C" void DorveWsaAddHost(const char *, const char *) { DorveWineHostOnly("DorveWsaAddHost"); }
extern "C" void DorveWsaMapPort(WORD, WORD) { DorveWineHostOnly("DorveWsaMapPort"); }

extern "C" BOOL DorveRegistryUseFile(const char *)
{
    DorveWineHostOnly("DorveRegistryUseFile");
    return FALSE;
}
extern "C" const char *DorveRegistryFile(void) { return "HKEY_LOCAL_MACHINE"; }
extern "C" const char *DorveRegistryDefaultFile(void) { return "HKEY_LOCAL_MACHINE"; }
extern "C" const char *DorveRegistryLastError(void) { return ""; }

extern "C" void DorveClockSetRate(double rate)
{
    if (rate != 1.0)
        DorveWineHostOnly("DorveClockSetRate");
}
extern "C" double DorveClockGetRate(void) { return 1.0; }
extern "C" uint64_t DorveClockNowMs(void) { return GetTickCount64(); }
extern "C" DWORD DorveClockToRealMs(DWORD simulatedMs) { return simulatedMs; }

extern "C" void DorveDlgScriptType(const char *) { DorveWineHostOnly("DorveDlgScriptType"); }
extern "C" void DorveDlgScriptClick(int) { DorveWineHostOnly("DorveDlgScriptClick"); }
extern "C" void DorveDlgScriptSelect(int, int, int) { DorveWineHostOnly("DorveDlgScriptSelect"); }
extern "C" void DorveDlgScriptKey(int) { DorveWineHostOnly("DorveDlgScriptKey"); }
extern "C" int DorveDlgRunCount(void)
{
    DorveWineHostOnly("DorveDlgRunCount");
    return -1;
}
extern "C" void DorveDlgReset(void) {}
