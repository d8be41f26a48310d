// Shared fixtures of the test programs.

// 64-bit inode numbers and directory offsets also in the 32-bit build, so
// that a temporary directory is emptied on every file system.
#define _FILE_OFFSET_BITS 64

#include "testlib.h"

#include <dirent.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <fstream>
#include <sstream>

#include "dorve/clock.h"
#include "dorve/registry_host.h"

namespace dorvetest {

namespace {

void RemoveTree(const std::string &path)
{
    DIR *dir = opendir(path.c_str());
    if (dir != nullptr) {
        while (struct dirent *entry = readdir(dir)) {
            if (strcmp(entry->d_name, ".") == 0 || strcmp(entry->d_name, "..") == 0)
                continue;
            std::string child = path + "/" + entry->d_name;
            struct stat st;
            if (lstat(child.c_str(), &st) == 0 && S_ISDIR(st.st_mode))
                RemoveTree(child);
            else
                unlink(child.c_str());
        }
        closedir(dir);
    }
    rmdir(path.c_str());
}

std::string MakeTempDirPath()
{
    const char *base = getenv("TMPDIR");
    std::string templ = std::string(base != nullptr && *base != '\0' ? base : "/tmp") +
                        "/dorvetest-XXXXXX";
    std::vector<char> buf(templ.begin(), templ.end());
    buf.push_back('\0');
    if (mkdtemp(buf.data()) == nullptr)
        return std::string();
    return std::string(buf.data());
}

// A program that links the fixtures never reaches the user's own registry
// file, even in a test that forgets TempRegistry: the first registry call
// falls back to $DORVE_REGISTRY, which points into a directory of our own.
struct ProcessRegistryGuard {
    std::string dir;
    ProcessRegistryGuard()
    {
        dir = MakeTempDirPath();
        if (!dir.empty())
            setenv("DORVE_REGISTRY", (dir + "/process.reg").c_str(), 1);
    }
    ~ProcessRegistryGuard()
    {
        if (!dir.empty())
            RemoveTree(dir);
    }
};
ProcessRegistryGuard gProcessRegistryGuard;

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
    file_ = dir_.path() + "/registry.reg";
    DorveRegistryUseFile(file_.c_str());
}

TempRegistry::~TempRegistry()
{
    // Back to the process's own scratch file, never the user's.
    const char *fallback = getenv("DORVE_REGISTRY");
    if (fallback != nullptr)
        DorveRegistryUseFile(fallback);
}

std::string TempRegistry::contents() const
{
    return ReadFile(file_);
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

ClockRate::ClockRate(double rate) : previous_(DorveClockGetRate())
{
    DorveClockSetRate(rate);
}

ClockRate::~ClockRate()
{
    DorveClockSetRate(previous_);
}

long long RealMsSince(std::chrono::steady_clock::time_point start)
{
    return std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() -
                                                                 start)
        .count();
}

void ResetMonitorState()
{
    for (DWORD i = 0; i < gZUVMon.dwPortCount; i++)
        free(gZUVMon.lppPorts[i]);
    free(gZUVMon.lppPorts);
    gZUVMon.lppPorts = nullptr;
    gZUVMon.dwPortCount = 0;
    gZUVMon.bAutoEnable = FALSE;
}

bool LoadMonitorModule()
{
    return LoadLibraryA("DORVEMON.DLL") != nullptr && ghInstance != nullptr;
}

bool RegWriteValue(const std::string &keyPath, const char *valueName, DWORD dwType,
                   const void *data, DWORD cbData)
{
    HKEY hKey;
    DWORD dwDisposition;
    if (RegCreateKeyExA(HKEY_LOCAL_MACHINE, keyPath.c_str(), 0, "REG_SZ", REG_OPTION_NON_VOLATILE,
                        KEY_ALL_ACCESS, nullptr, &hKey, &dwDisposition) != ERROR_SUCCESS)
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

std::string ReadFile(const std::string &path)
{
    std::ifstream in(path, std::ios::binary);
    std::ostringstream out;
    out << in.rdbuf();
    return out.str();
}

void WriteFile(const std::string &path, const std::string &data)
{
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out << data;
}

std::string ShellQuote(const std::string &s)
{
    std::string r = "'";
    for (char c : s)
        r += c == '\'' ? std::string("'\\''") : std::string(1, c);
    return r + "'";
}

std::string BinDir()
{
    char sz[4096];
    ssize_t n = readlink("/proc/self/exe", sz, sizeof sz - 1);
    if (n <= 0)
        return ".";
    std::string self(sz, (size_t)n);
    return self.substr(0, self.find_last_of('/'));
}

ProgramRun RunDorve(const std::vector<std::string> &args, const std::string &registry,
                    const std::string &scratchDir, const std::vector<std::string> &environment)
{
    std::string cmd;
    for (const std::string &assignment : environment) {
        size_t eq = assignment.find('=');
        cmd += assignment.substr(0, eq + 1) + ShellQuote(assignment.substr(eq + 1)) + " ";
    }
    cmd += ShellQuote(BinDir() + "/dorve");
    if (!registry.empty())
        cmd += " --registry " + ShellQuote(registry);
    for (const std::string &a : args)
        cmd += " " + ShellQuote(a);
    std::string sOut = scratchDir + "/out", sErr = scratchDir + "/err";
    cmd += " </dev/null >" + ShellQuote(sOut) + " 2>" + ShellQuote(sErr);
    ProgramRun r;
    int status = system(cmd.c_str());
    r.rc = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    r.out = ReadFile(sOut);
    r.err = ReadFile(sErr);
    return r;
}

}  // namespace dorvetest
