// The spooler model of the host layer: monitors registered in the registry
// and started through their InitializeMonitorEx, the spooler's own local
// monitor, printer queues with their jobs, and the WINSPOOL calls that
// monitors and installers make.  One mutex guards the model; monitors and
// the job observer are always called with it released, because a monitor
// may call back into the spooler (a port check that enumerates ports, a job
// update from its status thread).
#include <windows.h>
#include <winspool.h>
#include <winsplp.h>
#include <dorve/spooler_host.h>
#include <dorve/registry_host.h>

#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <list>
#include <map>
#include <mutex>
#include <set>
#include <string>
#include <vector>

namespace {

const DWORD kHandleMagic = 0x4a6f4221;
const char kLocalMonitor[] = DORVE_LOCAL_MONITOR;
const char kEnvironment[] = "Windows 4.0";
const char kLocalDll[] = "SPOOLSS.DLL";

struct MonitorRec {
    std::string sName;
    std::string sDll;        // empty for a monitor given as a table
    std::string sEnvironment;   // as AddMonitorA was given it; "" for NULL
    HMODULE hModule = NULL;
    MONITOR table{};
    bool bStarted = false;
    std::string sError;
};

struct JobRec {
    DWORD dwId = 0;
    std::string sUser;
    std::string sDocument;
    std::string sStatus;
    bool bHasStatus = false;
    DWORD dwStatus = 0;
    DWORD dwPriority = 1;
    DWORD cbSize = 0;
    SYSTEMTIME stSubmitted{};
};

struct PrinterRec {
    std::string sName;
    std::string sPort;
    std::vector<JobRec> jobs;   // queue order
};

struct PrinterHandle {
    DWORD dwMagic;
    std::string sPrinter;
};

struct LocalPortHandle {
    std::string sPort;
};

struct FailRule {
    DWORD dwError;
    int nCount;
};

struct PortRow {
    std::string sName;
    std::string sMonitor;
    std::string sDescription;
    DWORD fPortType;
    std::string sOwner;         // the registered monitor that reported it
};

struct Model {
    std::mutex mtx;
    std::list<MonitorRec> monitors;          // list: tables keep their address
    std::vector<PrinterRec> printers;
    std::set<PrinterHandle *> handles;
    std::map<std::string, std::string> portOwner;   // lower-cased port -> monitor
    std::map<std::string, FailRule> failures;
    std::vector<std::string> localPorts;
    DWORD dwNextJobId = 1;
    DORVE_JOB_OBSERVER pfnObserver = nullptr;
    void *pObserverCtx = nullptr;
    std::string sLastError;
};

void InstallLocalMonitor(Model &m);

// Never destroyed: monitor threads may still call in while the process exits.
Model &TheModel()
{
    static Model *pModel = [] {
        Model *p = new Model;
        InstallLocalMonitor(*p);
        return p;
    }();
    return *pModel;
}

std::string Lower(const std::string &s)
{
    std::string r(s);
    for (char &c : r)
        if (c >= 'A' && c <= 'Z')
            c = (char)(c - 'A' + 'a');
    return r;
}

bool SameName(const std::string &a, const char *b)
{
    return b && Lower(a) == Lower(b);
}

MonitorRec *FindMonitor(Model &m, const char *name)
{
    for (MonitorRec &r : m.monitors)
        if (SameName(r.sName, name))
            return &r;
    return nullptr;
}

PrinterRec *FindPrinter(Model &m, const char *name)
{
    for (PrinterRec &p : m.printers)
        if (SameName(p.sName, name))
            return &p;
    return nullptr;
}

JobRec *FindJob(PrinterRec &p, DWORD id, size_t *pIndex = nullptr)
{
    for (size_t i = 0; i < p.jobs.size(); i++)
        if (p.jobs[i].dwId == id) {
            if (pIndex)
                *pIndex = i;
            return &p.jobs[i];
        }
    return nullptr;
}

PrinterHandle *ValidHandle(Model &m, HANDLE h)
{
    PrinterHandle *p = (PrinterHandle *)h;
    if (!p || m.handles.find(p) == m.handles.end() || p->dwMagic != kHandleMagic)
        return nullptr;
    return p;
}

// Failure injection: TRUE (with the error set) when this call is to fail.
bool InjectedFailure(Model &m, const char *api)
{
    auto it = m.failures.find(api);
    if (it == m.failures.end() || it->second.nCount <= 0)
        return false;
    it->second.nCount--;
    SetLastError(it->second.dwError);
    return true;
}

void CopyOut(const std::string &s, char *buf, DWORD cch)
{
    if (!buf || cch == 0)
        return;
    size_t n = std::min<size_t>(s.size(), cch - 1);
    memcpy(buf, s.data(), n);
    buf[n] = '\0';
}

// Strings are packed from the end of the caller's buffer downwards, as the
// spooler does, so that the fixed entries can grow from the start.
char *PlaceString(LPBYTE &pEnd, const std::string &s)
{
    pEnd -= s.size() + 1;
    memcpy(pEnd, s.c_str(), s.size() + 1);
    return (char *)pEnd;
}

// The argument checks the Enum* entries share: both counts given (the
// returned count zeroed from here on, whatever fails next) and a level of 1
// or 2.
bool EnumArgumentsValid(DWORD Level, LPDWORD pcbNeeded, LPDWORD pcReturned)
{
    if (!pcbNeeded || !pcReturned) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return false;
    }
    *pcReturned = 0;
    if (Level != 1 && Level != 2) {
        SetLastError(ERROR_INVALID_LEVEL);
        return false;
    }
    return true;
}

// Reports the size the entries need, and whether the caller's buffer holds
// them; a short buffer is told apart from a missing one.
bool EnumBufferFits(size_t cbNeeded, LPBYTE pBuf, DWORD cbBuf, LPDWORD pcbNeeded)
{
    *pcbNeeded = (DWORD)cbNeeded;
    if (cbNeeded > cbBuf) {
        SetLastError(ERROR_INSUFFICIENT_BUFFER);
        return false;
    }
    if (cbNeeded > 0 && !pBuf) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return false;
    }
    return true;
}

BOOL PackPortRows(DWORD Level, const std::vector<PortRow> &rows, LPBYTE pPorts, DWORD cbBuf,
                  LPDWORD pcbNeeded, LPDWORD pcReturned)
{
    if (!EnumArgumentsValid(Level, pcbNeeded, pcReturned))
        return FALSE;
    size_t cbNeeded = 0;
    for (const PortRow &r : rows) {
        if (Level == 1)
            cbNeeded += sizeof(PORT_INFO_1A) + r.sName.size() + 1;
        else
            cbNeeded += sizeof(PORT_INFO_2A) + r.sName.size() + 1 + r.sMonitor.size() + 1 +
                        r.sDescription.size() + 1;
    }
    if (!EnumBufferFits(cbNeeded, pPorts, cbBuf, pcbNeeded))
        return FALSE;
    LPBYTE pEnd = pPorts + cbBuf;
    for (size_t i = 0; i < rows.size(); i++) {
        const PortRow &r = rows[i];
        if (Level == 1) {
            PORT_INFO_1A *pInfo = (PORT_INFO_1A *)pPorts + i;
            pInfo->pName = PlaceString(pEnd, r.sName);
        } else {
            PORT_INFO_2A *pInfo = (PORT_INFO_2A *)pPorts + i;
            pInfo->pPortName = PlaceString(pEnd, r.sName);
            pInfo->pMonitorName = PlaceString(pEnd, r.sMonitor);
            pInfo->pDescription = PlaceString(pEnd, r.sDescription);
            pInfo->fPortType = r.fPortType;
            pInfo->Reserved = 0;
        }
    }
    *pcReturned = (DWORD)rows.size();
    return TRUE;
}

// ---------------------------------------------------------------------------
// The local monitor: the spooler's own ports.  This host has no parallel or
// serial devices, so its ports enumerate and open but take no document.

BOOL WINAPI LocalEnumPorts(LPSTR pName, DWORD Level, LPBYTE pPorts, DWORD cbBuf,
                           LPDWORD pcbNeeded, LPDWORD pcReturned)
{
    Model &m = TheModel();
    std::vector<PortRow> rows;
    {
        std::lock_guard<std::mutex> lock(m.mtx);
        for (const std::string &s : m.localPorts)
            rows.push_back({s, kLocalMonitor, kLocalMonitor, PORT_TYPE_WRITE | PORT_TYPE_READ,
                            kLocalMonitor});
    }
    return PackPortRows(Level, rows, pPorts, cbBuf, pcbNeeded, pcReturned);
}

bool FindLocalPort(Model &m, const char *name, size_t *pIndex)
{
    for (size_t i = 0; i < m.localPorts.size(); i++)
        if (SameName(m.localPorts[i], name)) {
            *pIndex = i;
            return true;
        }
    return false;
}

BOOL WINAPI LocalOpenPort(LPSTR pName, PHANDLE pHandle)
{
    Model &m = TheModel();
    std::lock_guard<std::mutex> lock(m.mtx);
    size_t i;
    if (!pHandle || !FindLocalPort(m, pName, &i)) {
        SetLastError(ERROR_UNKNOWN_PORT);
        return FALSE;
    }
    *pHandle = new LocalPortHandle{m.localPorts[i]};
    return TRUE;
}

BOOL WINAPI LocalStartDocPort(HANDLE hPort, LPSTR pPrinterName, DWORD JobId, DWORD Level,
                              LPBYTE pDocInfo)
{
    SetLastError(ERROR_NOT_SUPPORTED);
    return FALSE;
}

BOOL WINAPI LocalWritePort(HANDLE hPort, LPBYTE pBuffer, DWORD cbBuf, LPDWORD pcbWritten)
{
    if (pcbWritten)
        *pcbWritten = 0;
    SetLastError(ERROR_NOT_SUPPORTED);
    return FALSE;
}

BOOL WINAPI LocalEndDocPort(HANDLE hPort)
{
    return TRUE;
}

BOOL WINAPI LocalClosePort(HANDLE hPort)
{
    delete (LocalPortHandle *)hPort;
    return TRUE;
}

BOOL WINAPI LocalAddPort(LPSTR pName, HWND hWnd, LPSTR pMonitorName)
{
    SetLastError(ERROR_NOT_SUPPORTED);
    return FALSE;
}

BOOL WINAPI LocalConfigurePort(LPSTR pName, HWND hWnd, LPSTR pPortName)
{
    return TRUE;
}

BOOL WINAPI LocalDeletePort(LPSTR pName, HWND hWnd, LPSTR pPortName)
{
    Model &m = TheModel();
    std::lock_guard<std::mutex> lock(m.mtx);
    size_t i;
    if (!FindLocalPort(m, pPortName, &i)) {
        SetLastError(ERROR_UNKNOWN_PORT);
        return FALSE;
    }
    m.localPorts.erase(m.localPorts.begin() + (long)i);
    return TRUE;
}

void InstallLocalMonitor(Model &m)
{
    m.localPorts = {"LPT1:", "LPT2:", "COM1:", "FILE:"};
    MonitorRec r;
    r.sName = kLocalMonitor;
    r.table.pfnEnumPorts = LocalEnumPorts;
    r.table.pfnOpenPort = LocalOpenPort;
    r.table.pfnStartDocPort = LocalStartDocPort;
    r.table.pfnWritePort = LocalWritePort;
    r.table.pfnEndDocPort = LocalEndDocPort;
    r.table.pfnClosePort = LocalClosePort;
    r.table.pfnAddPort = LocalAddPort;
    r.table.pfnConfigurePort = LocalConfigurePort;
    r.table.pfnDeletePort = LocalDeletePort;
    r.bStarted = true;
    m.monitors.push_front(r);
}

// ---------------------------------------------------------------------------
// Monitors in the registry.

std::string MonitorKeyPath(const std::string &name)
{
    return std::string(DORVE_MONITORS_KEY) + "\\" + name;
}

std::string RegistryProblem(LONG lError)
{
    const char *pText = DorveRegistryLastError();
    if (pText && *pText)
        return pText;
    char sz[64];
    snprintf(sz, sizeof sz, "registry error %ld", (long)lError);
    return sz;
}

struct Registration {
    std::string sName;
    std::string sDll;
};

// Reads Monitors\*\Driver.  FALSE with sProblem when the list cannot be read;
// a missing Monitors key is an empty list.
bool ReadRegistrations(std::vector<Registration> &regs, std::string &sProblem)
{
    HKEY hKey;
    LONG lError = RegOpenKeyExA(HKEY_LOCAL_MACHINE, DORVE_MONITORS_KEY, 0, KEY_READ, &hKey);
    if (lError == ERROR_FILE_NOT_FOUND)
        return true;
    if (lError != ERROR_SUCCESS) {
        sProblem = "cannot read the monitor list from the registry: " + RegistryProblem(lError);
        return false;
    }
    char szName[256];
    for (DWORD i = 0; RegEnumKeyA(hKey, i, szName, sizeof szName) == ERROR_SUCCESS; i++) {
        HKEY hSub;
        if (RegOpenKeyExA(hKey, szName, 0, KEY_QUERY_VALUE, &hSub) != ERROR_SUCCESS)
            continue;
        char szDll[MAX_PATH + 1];
        DWORD dwType = 0, cb = MAX_PATH;
        LONG lQuery = RegQueryValueExA(hSub, "Driver", NULL, &dwType, (LPBYTE)szDll, &cb);
        RegCloseKey(hSub);
        // A key without Driver is some monitor's own settings, not a registration.
        if (lQuery != ERROR_SUCCESS || (dwType != REG_SZ && dwType != REG_EXPAND_SZ))
            continue;
        szDll[std::min<DWORD>(cb, MAX_PATH)] = '\0';
        if (szDll[0])
            regs.push_back({szName, szDll});
    }
    RegCloseKey(hKey);
    return true;
}

// Loads and initialises one monitor; FALSE with the reason and the last
// error set.  No lock is held: the monitor reads the registry and may call
// the spooler while it starts.
// A monitor has no shutdown entry: what its InitializeMonitorEx set up (its
// port list, its socket library) lives until the process ends, as in the
// spooler's own process.  So a monitor once started is never unloaded; a
// forgotten or failed one only loses the spooler's reference to it.
void KeepStartedMonitorLoaded(HMODULE hModule)
{
    (void)hModule;
}

bool LoadMonitor(const std::string &name, const std::string &dll, HMODULE *phModule,
                 MONITOR *pTable, std::string &sReason)
{
    HMODULE hModule = LoadLibraryA(dll.c_str());
    if (!hModule) {
        DWORD dwError = GetLastError();
        sReason = "cannot load " + dll + " (error " + std::to_string(dwError) + ")";
        SetLastError(dwError);
        return false;
    }
    PFN_INITIALIZEMONITOREX pfnInit =
        (PFN_INITIALIZEMONITOREX)(void (*)(void))GetProcAddress(hModule, "InitializeMonitorEx");
    if (!pfnInit) {
        sReason = dll + " has no InitializeMonitorEx: it is not a port monitor";
        FreeLibrary(hModule);
        SetLastError(ERROR_PROC_NOT_FOUND);
        return false;
    }
    std::string sRoot = MonitorKeyPath(name);
    MONITOR table{};
    SetLastError(ERROR_SUCCESS);
    if (!pfnInit(&sRoot[0], &table)) {
        DWORD dwError = GetLastError();
        sReason = "InitializeMonitorEx of " + dll + " failed";
        if (dwError != ERROR_SUCCESS)
            sReason += " (error " + std::to_string(dwError) + ")";
        KeepStartedMonitorLoaded(hModule);
        SetLastError(dwError != ERROR_SUCCESS ? dwError : (DWORD)ERROR_INVALID_PRINT_MONITOR);
        return false;
    }
    *phModule = hModule;
    *pTable = table;
    return true;
}

// Keys that every Windows 95 registry has from setup on, which setup
// programs open rather than create: the installed-files list, and the
// spooler's list of monitors.
const char *const kSystemKeys[] = {
    "System\\CurrentControlSet\\control\\InstalledFiles",
    DORVE_MONITORS_KEY,
};

bool CreateSystemKeys(std::string &sProblem)
{
    for (const char *pPath : kSystemKeys) {
        HKEY hKey;
        DWORD dwDisposition;
        LONG lError = RegCreateKeyExA(HKEY_LOCAL_MACHINE, pPath, 0, NULL,
                                      REG_OPTION_NON_VOLATILE, KEY_ALL_ACCESS, NULL, &hKey,
                                      &dwDisposition);
        if (lError != ERROR_SUCCESS) {
            sProblem = "cannot create the key " + std::string(pPath) + ": " +
                       RegistryProblem(lError);
            return false;
        }
        RegCloseKey(hKey);
    }
    return true;
}

// Starts name unless it runs already; records the outcome in the model.
bool StartOneMonitor(Model &m, const Registration &reg, std::string &sReason)
{
    {
        std::lock_guard<std::mutex> lock(m.mtx);
        MonitorRec *p = FindMonitor(m, reg.sName.c_str());
        if (p && p->bStarted)
            return true;
    }
    HMODULE hModule = NULL;
    MONITOR table{};
    bool bOk = LoadMonitor(reg.sName, reg.sDll, &hModule, &table, sReason);
    DWORD dwError = GetLastError();
    std::lock_guard<std::mutex> lock(m.mtx);
    MonitorRec *p = FindMonitor(m, reg.sName.c_str());
    if (!p) {
        m.monitors.push_back(MonitorRec());
        p = &m.monitors.back();
        p->sName = reg.sName;
    }
    p->sDll = reg.sDll;
    p->bStarted = bOk;
    p->hModule = hModule;
    p->table = table;
    p->sError = bOk ? "" : sReason;
    SetLastError(dwError);
    return bOk;
}

LONG DeleteKeyTree(HKEY hParent, const char *name)
{
    HKEY hKey;
    LONG lError = RegOpenKeyExA(hParent, name, 0, KEY_ALL_ACCESS, &hKey);
    if (lError != ERROR_SUCCESS)
        return lError;
    char szSub[256];
    while (RegEnumKeyA(hKey, 0, szSub, sizeof szSub) == ERROR_SUCCESS)
        if (DeleteKeyTree(hKey, szSub) != ERROR_SUCCESS)
            break;
    RegCloseKey(hKey);
    return RegDeleteKeyA(hParent, name);
}

// ---------------------------------------------------------------------------
// Port enumeration across the monitors.

struct MonitorCall {
    std::string sName;
    MONITOR table;
};

// Reads the entries a monitor packed, refusing pointers that leave the
// buffer, so that a faulty monitor cannot make us read astray.
bool ReadPackedString(const std::vector<BYTE> &buf, const char *p, std::string &s)
{
    const char *pBegin = (const char *)buf.data();
    const char *pEnd = pBegin + buf.size();
    if (!p) {
        s.clear();
        return true;
    }
    if (p < pBegin || p >= pEnd)
        return false;
    const void *pNul = memchr(p, 0, (size_t)(pEnd - p));
    if (!pNul)
        return false;
    s.assign(p, (const char *)pNul);
    return true;
}

// Asks one monitor for its ports the way the spooler does: a sizing call,
// then a filling call, again while the list grows in between.
void CollectMonitorPorts(const MonitorCall &mc, LPSTR pName, DWORD Level,
                         std::vector<PortRow> &rows)
{
    BYTE dummy[sizeof(PORT_INFO_2A)];
    DWORD cbNeeded = 0, cReturned = 0;
    if (mc.table.pfnEnumPorts(pName, Level, dummy, 0, &cbNeeded, &cReturned))
        return;
    for (int nTry = 0; nTry < 4 && GetLastError() == ERROR_INSUFFICIENT_BUFFER; nTry++) {
        // Slack for monitors that size entries for 32-bit pointers.
        std::vector<BYTE> buf((size_t)cbNeeded * 2 + 64);
        cReturned = 0;
        if (!mc.table.pfnEnumPorts(pName, Level, buf.data(), (DWORD)buf.size(), &cbNeeded,
                                   &cReturned))
            continue;
        size_t cbEntry = Level == 1 ? sizeof(PORT_INFO_1A) : sizeof(PORT_INFO_2A);
        cReturned = (DWORD)std::min<size_t>(cReturned, buf.size() / cbEntry);
        for (DWORD i = 0; i < cReturned; i++) {
            PortRow r{"", "", "", PORT_TYPE_WRITE, mc.sName};
            bool bOk;
            if (Level == 1) {
                const PORT_INFO_1A *p = (const PORT_INFO_1A *)buf.data() + i;
                bOk = ReadPackedString(buf, p->pName, r.sName);
            } else {
                const PORT_INFO_2A *p = (const PORT_INFO_2A *)buf.data() + i;
                bOk = ReadPackedString(buf, p->pPortName, r.sName) &&
                      ReadPackedString(buf, p->pMonitorName, r.sMonitor) &&
                      ReadPackedString(buf, p->pDescription, r.sDescription);
                r.fPortType = p->fPortType;
            }
            if (bOk && !r.sName.empty())
                rows.push_back(r);
        }
        return;
    }
}

// Every started monitor's ports, fresh from the monitors; also remembers
// which monitor owns each port for the port administration calls.
void CollectAllPorts(LPSTR pName, DWORD Level, std::vector<PortRow> &rows)
{
    Model &m = TheModel();
    std::vector<MonitorCall> calls;
    {
        std::lock_guard<std::mutex> lock(m.mtx);
        for (const MonitorRec &r : m.monitors)
            if (r.bStarted && r.table.pfnEnumPorts)
                calls.push_back({r.sName, r.table});
    }
    DWORD dwSavedError = GetLastError();
    for (const MonitorCall &mc : calls)
        CollectMonitorPorts(mc, pName, Level, rows);
    SetLastError(dwSavedError);
    std::lock_guard<std::mutex> lock(m.mtx);
    m.portOwner.clear();
    for (const PortRow &r : rows)
        m.portOwner.emplace(Lower(r.sName), r.sOwner);
}

// The owner of a port, enumerating once when it is not known yet.
bool PortOwner(const char *port, MonitorCall &mc)
{
    Model &m = TheModel();
    for (int nPass = 0; nPass < 2; nPass++) {
        if (nPass == 1) {
            std::vector<PortRow> rows;
            CollectAllPorts(NULL, 1, rows);
        }
        std::lock_guard<std::mutex> lock(m.mtx);
        auto it = m.portOwner.find(Lower(port));
        if (it == m.portOwner.end())
            continue;
        MonitorRec *p = FindMonitor(m, it->second.c_str());
        if (p && p->bStarted) {
            mc = {p->sName, p->table};
            return true;
        }
    }
    return false;
}

bool ValidEnvironment(LPSTR pEnvironment)
{
    return !pEnvironment || !*pEnvironment || SameName(kEnvironment, pEnvironment);
}

void FillSubmitted(SYSTEMTIME &st)
{
    time_t t = time(nullptr);
    struct tm tmUtc;
    gmtime_r(&t, &tmUtc);
    st.wYear = (WORD)(tmUtc.tm_year + 1900);
    st.wMonth = (WORD)(tmUtc.tm_mon + 1);
    st.wDayOfWeek = (WORD)tmUtc.tm_wday;
    st.wDay = (WORD)tmUtc.tm_mday;
    st.wHour = (WORD)tmUtc.tm_hour;
    st.wMinute = (WORD)tmUtc.tm_min;
    st.wSecond = (WORD)(tmUtc.tm_sec > 59 ? 59 : tmUtc.tm_sec);
    st.wMilliseconds = 0;
}

std::string MachineName()
{
    char sz[256] = "";
    if (gethostname(sz, sizeof sz - 1) != 0 || !sz[0])
        strcpy(sz, "localhost");
    sz[sizeof sz - 1] = '\0';
    return std::string("\\\\") + sz;
}

}  // namespace

// ---------------------------------------------------------------------------
// Host hooks.

extern "C" BOOL DorveSpoolerRegisterMonitor(const char *name, const char *dll)
{
    if (!name || !*name || strchr(name, '\\') || !dll || !*dll) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    HKEY hKey;
    DWORD dwDisposition;
    LONG lError = RegCreateKeyExA(HKEY_LOCAL_MACHINE, MonitorKeyPath(name).c_str(), 0, NULL,
                                  REG_OPTION_NON_VOLATILE, KEY_ALL_ACCESS, NULL, &hKey,
                                  &dwDisposition);
    if (lError == ERROR_SUCCESS) {
        lError = RegSetValueExA(hKey, "Driver", 0, REG_SZ, (const BYTE *)dll,
                                (DWORD)strlen(dll) + 1);
        RegCloseKey(hKey);
    }
    if (lError != ERROR_SUCCESS) {
        Model &m = TheModel();
        std::lock_guard<std::mutex> lock(m.mtx);
        m.sLastError = "cannot register monitor \"" + std::string(name) +
                       "\": " + RegistryProblem(lError);
        SetLastError((DWORD)lError);
        return FALSE;
    }
    return TRUE;
}

extern "C" int DorveSpoolerStart(void)
{
    Model &m = TheModel();
    std::vector<Registration> regs;
    std::string sProblem;
    int nFailed = 0;
    std::string sText;
    if (!CreateSystemKeys(sProblem)) {
        nFailed++;
        sText = sProblem + "\n";
        sProblem.clear();
    }
    if (!ReadRegistrations(regs, sProblem)) {
        nFailed++;
        sText += sProblem + "\n";
    }
    for (const Registration &reg : regs) {
        std::string sReason;
        if (!StartOneMonitor(m, reg, sReason)) {
            nFailed++;
            sText += "monitor \"" + reg.sName + "\" did not start: " + sReason + "\n";
        }
    }
    std::lock_guard<std::mutex> lock(m.mtx);
    m.sLastError = sText;
    return nFailed;
}

extern "C" const char *DorveSpoolerLastError(void)
{
    // The text lives in the model until the next call that sets it.
    Model &m = TheModel();
    std::lock_guard<std::mutex> lock(m.mtx);
    return m.sLastError.c_str();
}

extern "C" const MONITOR *DorveSpoolerMonitor(const char *name)
{
    Model &m = TheModel();
    std::lock_guard<std::mutex> lock(m.mtx);
    MonitorRec *p = FindMonitor(m, name);
    return p && p->bStarted ? &p->table : nullptr;
}

extern "C" BOOL DorveSpoolerMonitorEnvironment(const char *name, char *env, DWORD cchEnv)
{
    Model &m = TheModel();
    std::lock_guard<std::mutex> lock(m.mtx);
    MonitorRec *p = FindMonitor(m, name);
    if (!p)
        return FALSE;
    CopyOut(p->sEnvironment, env, cchEnv);
    return TRUE;
}

extern "C" BOOL DorveSpoolerAddMonitorTable(const char *name, const MONITOR *table)
{
    Model &m = TheModel();
    std::lock_guard<std::mutex> lock(m.mtx);
    if (!name || !*name || !table || FindMonitor(m, name))
        return FALSE;
    MonitorRec r;
    r.sName = name;
    r.table = *table;
    r.bStarted = true;
    m.monitors.push_back(r);
    return TRUE;
}

extern "C" BOOL DorveSpoolerGetMonitorInfo(DWORD index, char *name, DWORD cchName, char *dll,
                                           DWORD cchDll, BOOL *pbStarted, char *error,
                                           DWORD cchError)
{
    Model &m = TheModel();
    std::lock_guard<std::mutex> lock(m.mtx);
    if (index >= m.monitors.size())
        return FALSE;
    auto it = m.monitors.begin();
    std::advance(it, (long)index);
    CopyOut(it->sName, name, cchName);
    CopyOut(it->sName == kLocalMonitor ? std::string("(built in)") : it->sDll, dll, cchDll);
    if (pbStarted)
        *pbStarted = it->bStarted;
    CopyOut(it->sError, error, cchError);
    return TRUE;
}

extern "C" const MONITOR *DorveSpoolerPortMonitor(const char *port, char *name, DWORD cchName)
{
    MonitorCall mc;
    if (!port || !PortOwner(port, mc))
        return nullptr;
    CopyOut(mc.sName, name, cchName);
    Model &m = TheModel();
    std::lock_guard<std::mutex> lock(m.mtx);
    MonitorRec *p = FindMonitor(m, mc.sName.c_str());
    return p && p->bStarted ? &p->table : nullptr;
}

extern "C" BOOL DorveSpoolerAddPrinter(const char *printer, const char *port)
{
    if (!printer || !*printer || !port) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    Model &m = TheModel();
    std::lock_guard<std::mutex> lock(m.mtx);
    PrinterRec *p = FindPrinter(m, printer);
    if (p) {
        p->sPort = port;
        return TRUE;
    }
    m.printers.push_back({printer, port, {}});
    return TRUE;
}

extern "C" DWORD DorveSpoolerAddJob(const char *printer, const char *user, const char *document,
                                    DWORD cbSize)
{
    Model &m = TheModel();
    std::lock_guard<std::mutex> lock(m.mtx);
    PrinterRec *p = FindPrinter(m, printer);
    if (!p)
        return 0;
    JobRec job;
    job.dwId = m.dwNextJobId++;
    job.sUser = user ? user : "";
    job.sDocument = document ? document : "";
    job.cbSize = cbSize;
    FillSubmitted(job.stSubmitted);
    p->jobs.push_back(job);
    return job.dwId;
}

extern "C" BOOL DorveSpoolerJobExists(const char *printer, DWORD id)
{
    Model &m = TheModel();
    std::lock_guard<std::mutex> lock(m.mtx);
    PrinterRec *p = FindPrinter(m, printer);
    return p && FindJob(*p, id);
}

extern "C" DWORD DorveSpoolerPrinterHandleCount(void)
{
    Model &m = TheModel();
    std::lock_guard<std::mutex> lock(m.mtx);
    return (DWORD)m.handles.size();
}

extern "C" BOOL DorveSpoolerGetJobStatus(const char *printer, DWORD id, DWORD *pStatus,
                                         char *statusText, DWORD cch)
{
    Model &m = TheModel();
    std::lock_guard<std::mutex> lock(m.mtx);
    PrinterRec *p = FindPrinter(m, printer);
    JobRec *pJob = p ? FindJob(*p, id) : nullptr;
    if (!pJob)
        return FALSE;
    if (pStatus)
        *pStatus = pJob->dwStatus;
    CopyOut(pJob->sStatus, statusText, cch);
    return TRUE;
}

extern "C" void DorveSpoolerSetJobStatusBits(const char *printer, DWORD id, DWORD bitsToSet)
{
    Model &m = TheModel();
    std::lock_guard<std::mutex> lock(m.mtx);
    PrinterRec *p = FindPrinter(m, printer);
    JobRec *pJob = p ? FindJob(*p, id) : nullptr;
    if (pJob)
        pJob->dwStatus |= bitsToSet;
}

extern "C" void DorveSpoolerSetJobObserver(DORVE_JOB_OBSERVER fn, void *ctx)
{
    Model &m = TheModel();
    std::lock_guard<std::mutex> lock(m.mtx);
    m.pfnObserver = fn;
    m.pObserverCtx = ctx;
}

extern "C" void DorveSpoolerFailNext(const char *apiName, DWORD error, int count)
{
    if (!apiName)
        return;
    Model &m = TheModel();
    std::lock_guard<std::mutex> lock(m.mtx);
    m.failures[apiName] = {error, count};
}

extern "C" void DorveSpoolerReset(void)
{
    Model &m = TheModel();
    std::vector<HMODULE> modules;
    {
        std::lock_guard<std::mutex> lock(m.mtx);
        for (const MonitorRec &r : m.monitors)
            if (r.hModule)
                modules.push_back(r.hModule);
        m.monitors.clear();
        m.printers.clear();
        for (PrinterHandle *p : m.handles) {
            p->dwMagic = 0;
            delete p;
        }
        m.handles.clear();
        m.portOwner.clear();
        m.failures.clear();
        m.dwNextJobId = 1;
        m.pfnObserver = nullptr;
        m.pObserverCtx = nullptr;
        m.sLastError.clear();
        InstallLocalMonitor(m);
    }
    for (HMODULE h : modules)
        KeepStartedMonitorLoaded(h);
}

// ---------------------------------------------------------------------------
// WINSPOOL: printers and jobs.

extern "C" BOOL WINAPI OpenPrinterA(LPSTR pPrinterName, LPHANDLE phPrinter,
                                    LPPRINTER_DEFAULTSA pDefault)
{
    Model &m = TheModel();
    std::lock_guard<std::mutex> lock(m.mtx);
    if (InjectedFailure(m, "OpenPrinterA"))
        return FALSE;
    if (!phPrinter) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    PrinterRec *p = FindPrinter(m, pPrinterName);
    if (!p) {
        SetLastError(ERROR_INVALID_PRINTER_NAME);
        return FALSE;
    }
    PrinterHandle *h = new PrinterHandle{kHandleMagic, p->sName};
    m.handles.insert(h);
    *phPrinter = h;
    return TRUE;
}

extern "C" BOOL WINAPI ClosePrinter(HANDLE hPrinter)
{
    Model &m = TheModel();
    std::lock_guard<std::mutex> lock(m.mtx);
    PrinterHandle *h = ValidHandle(m, hPrinter);
    if (!h) {
        SetLastError(ERROR_INVALID_HANDLE);
        return FALSE;
    }
    m.handles.erase(h);
    h->dwMagic = 0;
    delete h;
    return TRUE;
}

// The job a handle names; sets the error when there is none.
static JobRec *HandleJob(Model &m, HANDLE hPrinter, DWORD JobId, PrinterRec **ppPrinter,
                         size_t *pIndex)
{
    PrinterHandle *h = ValidHandle(m, hPrinter);
    if (!h) {
        SetLastError(ERROR_INVALID_HANDLE);
        return nullptr;
    }
    PrinterRec *p = FindPrinter(m, h->sPrinter.c_str());
    if (!p) {
        SetLastError(ERROR_INVALID_HANDLE);
        return nullptr;
    }
    JobRec *pJob = FindJob(*p, JobId, pIndex);
    if (!pJob) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return nullptr;
    }
    *ppPrinter = p;
    return pJob;
}

extern "C" BOOL WINAPI GetJobA(HANDLE hPrinter, DWORD JobId, DWORD Level, LPBYTE pJob,
                               DWORD cbBuf, LPDWORD pcbNeeded)
{
    Model &m = TheModel();
    std::lock_guard<std::mutex> lock(m.mtx);
    if (InjectedFailure(m, "GetJobA"))
        return FALSE;
    PrinterRec *p;
    size_t index;
    JobRec *pRec = HandleJob(m, hPrinter, JobId, &p, &index);
    if (!pRec)
        return FALSE;
    if (Level != 1) {
        SetLastError(ERROR_INVALID_LEVEL);
        return FALSE;
    }
    if (!pcbNeeded) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    // The structure first, then its strings in member order, in one block.
    const std::string sMachine = MachineName();
    const std::string sDatatype = "RAW";
    const std::string *strings[] = {&p->sName,        &sMachine,  &pRec->sUser,
                                    &pRec->sDocument, &sDatatype, &pRec->sStatus};
    size_t cbNeeded = sizeof(JOB_INFO_1A);
    for (int i = 0; i < 6; i++)
        if (i != 5 || pRec->bHasStatus)
            cbNeeded += strings[i]->size() + 1;
    *pcbNeeded = (DWORD)cbNeeded;
    if (cbBuf < cbNeeded || !pJob) {
        SetLastError(ERROR_INSUFFICIENT_BUFFER);
        return FALSE;
    }
    JOB_INFO_1A *pInfo = (JOB_INFO_1A *)pJob;
    char *pNext = (char *)(pInfo + 1);
    char *pointers[6];
    for (int i = 0; i < 6; i++) {
        if (i == 5 && !pRec->bHasStatus) {
            pointers[i] = NULL;
            continue;
        }
        memcpy(pNext, strings[i]->c_str(), strings[i]->size() + 1);
        pointers[i] = pNext;
        pNext += strings[i]->size() + 1;
    }
    pInfo->JobId = pRec->dwId;
    pInfo->pPrinterName = pointers[0];
    pInfo->pMachineName = pointers[1];
    pInfo->pUserName = pointers[2];
    pInfo->pDocument = pointers[3];
    pInfo->pDatatype = pointers[4];
    pInfo->pStatus = pointers[5];
    pInfo->Status = pRec->dwStatus;
    pInfo->Priority = pRec->dwPriority;
    pInfo->Position = (DWORD)index + 1;
    pInfo->TotalPages = 0;
    pInfo->PagesPrinted = 0;
    pInfo->Submitted = pRec->stSubmitted;
    return TRUE;
}

static const DWORD kSpoolerOwnedStatus = JOB_STATUS_PAUSED | JOB_STATUS_DELETING | JOB_STATUS_SPOOLING |
                                         JOB_STATUS_PRINTED | JOB_STATUS_DELETED | JOB_STATUS_RESTART;

extern "C" BOOL WINAPI SetJobA(HANDLE hPrinter, DWORD JobId, DWORD Level, LPBYTE pJob,
                               DWORD Command)
{
    Model &m = TheModel();
    std::unique_lock<std::mutex> lock(m.mtx);
    if (InjectedFailure(m, "SetJobA"))
        return FALSE;
    PrinterRec *p;
    size_t index;
    JobRec *pRec = HandleJob(m, hPrinter, JobId, &p, &index);
    if (!pRec)
        return FALSE;
    if (Level > 1) {
        SetLastError(ERROR_INVALID_LEVEL);
        return FALSE;
    }
    if ((Level == 1 && !pJob) || (Level == 0 && Command == 0) || Command > JOB_CONTROL_DELETE) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    if (Level == 1) {
        const JOB_INFO_1A *pInfo = (const JOB_INFO_1A *)pJob;
        // The spooler keeps the states it owns (a user's pause or delete, the
        // spooling and printed marks) and the caller's Status sets the rest, so
        // a monitor's status update never undoes the user's delete.
        pRec->dwStatus = (pRec->dwStatus & kSpoolerOwnedStatus) | pInfo->Status;
        pRec->bHasStatus = pInfo->pStatus != NULL;
        pRec->sStatus = pInfo->pStatus ? pInfo->pStatus : "";
        if (pInfo->Position != JOB_POSITION_UNSPECIFIED) {
            size_t target = std::min<size_t>(pInfo->Position, p->jobs.size()) - 1;
            JobRec moved = *pRec;
            p->jobs.erase(p->jobs.begin() + (long)index);
            p->jobs.insert(p->jobs.begin() + (long)target, moved);
            index = target;
            pRec = &p->jobs[index];
        }
    }
    switch (Command) {
    case JOB_CONTROL_PAUSE:
        pRec->dwStatus |= JOB_STATUS_PAUSED;
        break;
    case JOB_CONTROL_RESUME:
        pRec->dwStatus &= ~(DWORD)JOB_STATUS_PAUSED;
        break;
    case JOB_CONTROL_RESTART:
        pRec->dwStatus |= JOB_STATUS_RESTART;
        break;
    default:
        break;
    }
    const std::string sPrinter = p->sName;
    const DWORD dwStatus = pRec->dwStatus;
    const std::string sText = pRec->sStatus;
    if (Command == JOB_CONTROL_CANCEL || Command == JOB_CONTROL_DELETE)
        p->jobs.erase(p->jobs.begin() + (long)index);
    DORVE_JOB_OBSERVER pfn = m.pfnObserver;
    void *pCtx = m.pObserverCtx;
    lock.unlock();
    if (pfn)
        pfn(pCtx, sPrinter.c_str(), JobId, dwStatus, sText.c_str(), Command);
    return TRUE;
}

// ---------------------------------------------------------------------------
// WINSPOOL: ports and monitors.

extern "C" BOOL WINAPI EnumPortsA(LPSTR pName, DWORD Level, LPBYTE pPorts, DWORD cbBuf,
                                  LPDWORD pcbNeeded, LPDWORD pcReturned)
{
    if (Level != 1 && Level != 2) {
        if (pcReturned)
            *pcReturned = 0;
        SetLastError(ERROR_INVALID_LEVEL);
        return FALSE;
    }
    std::vector<PortRow> rows;
    CollectAllPorts(pName, Level, rows);
    return PackPortRows(Level, rows, pPorts, cbBuf, pcbNeeded, pcReturned);
}

extern "C" BOOL WINAPI EnumMonitorsA(LPSTR pName, DWORD Level, LPBYTE pMonitors, DWORD cbBuf,
                                     LPDWORD pcbNeeded, LPDWORD pcReturned)
{
    if (!EnumArgumentsValid(Level, pcbNeeded, pcReturned))
        return FALSE;
    struct Row {
        std::string sName, sDll;
    };
    std::vector<Row> rows;
    {
        Model &m = TheModel();
        std::lock_guard<std::mutex> lock(m.mtx);
        for (const MonitorRec &r : m.monitors)
            if (r.bStarted)
                rows.push_back({r.sName, r.sName == kLocalMonitor ? kLocalDll : r.sDll});
    }
    size_t cbNeeded = 0;
    for (const Row &r : rows)
        cbNeeded += Level == 1 ? sizeof(MONITOR_INFO_1A) + r.sName.size() + 1
                               : sizeof(MONITOR_INFO_2A) + r.sName.size() + 1 +
                                     sizeof kEnvironment + r.sDll.size() + 1;
    if (!EnumBufferFits(cbNeeded, pMonitors, cbBuf, pcbNeeded))
        return FALSE;
    LPBYTE pEnd = pMonitors + cbBuf;
    for (size_t i = 0; i < rows.size(); i++) {
        if (Level == 1) {
            MONITOR_INFO_1A *pInfo = (MONITOR_INFO_1A *)pMonitors + i;
            pInfo->pName = PlaceString(pEnd, rows[i].sName);
        } else {
            MONITOR_INFO_2A *pInfo = (MONITOR_INFO_2A *)pMonitors + i;
            pInfo->pName = PlaceString(pEnd, rows[i].sName);
            pInfo->pEnvironment = PlaceString(pEnd, kEnvironment);
            pInfo->pDLLName = PlaceString(pEnd, rows[i].sDll);
        }
    }
    *pcReturned = (DWORD)rows.size();
    return TRUE;
}

extern "C" BOOL WINAPI AddMonitorA(LPSTR pName, DWORD Level, LPBYTE pMonitors)
{
    if (Level != 2) {
        SetLastError(ERROR_INVALID_LEVEL);
        return FALSE;
    }
    const MONITOR_INFO_2A *pInfo = (const MONITOR_INFO_2A *)pMonitors;
    if (!pInfo || !pInfo->pName || !*pInfo->pName || strchr(pInfo->pName, '\\') ||
        !pInfo->pDLLName || !*pInfo->pDLLName) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    if (!ValidEnvironment(pInfo->pEnvironment)) {
        SetLastError(ERROR_INVALID_ENVIRONMENT);
        return FALSE;
    }
    Model &m = TheModel();
    std::vector<Registration> regs;
    std::string sProblem;
    if (!ReadRegistrations(regs, sProblem)) {
        SetLastError(ERROR_REGISTRY_CORRUPT);
        return FALSE;
    }
    bool bKnown = false;
    for (const Registration &r : regs)
        bKnown = bKnown || SameName(r.sName, pInfo->pName);
    {
        std::lock_guard<std::mutex> lock(m.mtx);
        MonitorRec *p = FindMonitor(m, pInfo->pName);
        bKnown = bKnown || (p && p->bStarted);
    }
    if (bKnown) {
        SetLastError(ERROR_PRINT_MONITOR_ALREADY_INSTALLED);
        return FALSE;
    }
    // The monitor must start before the registration is kept, as the spooler does.
    HMODULE hModule = NULL;
    MONITOR table{};
    std::string sReason;
    if (!LoadMonitor(pInfo->pName, pInfo->pDLLName, &hModule, &table, sReason)) {
        DWORD dwError = GetLastError();
        std::lock_guard<std::mutex> lock(m.mtx);
        m.sLastError = "monitor \"" + std::string(pInfo->pName) + "\" did not start: " + sReason;
        SetLastError(dwError);
        return FALSE;
    }
    if (!DorveSpoolerRegisterMonitor(pInfo->pName, pInfo->pDLLName)) {
        DWORD dwError = GetLastError();
        KeepStartedMonitorLoaded(hModule);
        SetLastError(dwError);
        return FALSE;
    }
    std::lock_guard<std::mutex> lock(m.mtx);
    MonitorRec *p = FindMonitor(m, pInfo->pName);
    if (!p) {
        m.monitors.push_back(MonitorRec());
        p = &m.monitors.back();
    }
    p->sName = pInfo->pName;
    p->sDll = pInfo->pDLLName;
    p->sEnvironment = pInfo->pEnvironment ? pInfo->pEnvironment : "";
    p->hModule = hModule;
    p->table = table;
    p->bStarted = true;
    p->sError.clear();
    return TRUE;
}

extern "C" BOOL WINAPI DeleteMonitorA(LPSTR pName, LPSTR pEnvironment, LPSTR pMonitorName)
{
    if (!pMonitorName || !*pMonitorName || strchr(pMonitorName, '\\')) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    if (!ValidEnvironment(pEnvironment)) {
        SetLastError(ERROR_INVALID_ENVIRONMENT);
        return FALSE;
    }
    if (SameName(kLocalMonitor, pMonitorName)) {
        SetLastError(ERROR_PRINT_MONITOR_IN_USE);
        return FALSE;
    }
    // Ports of the monitor that a printer uses keep it in use.
    std::vector<PortRow> rows;
    CollectAllPorts(NULL, 1, rows);
    Model &m = TheModel();
    HMODULE hModule = NULL;
    {
        std::lock_guard<std::mutex> lock(m.mtx);
        for (const PrinterRec &pr : m.printers) {
            auto it = m.portOwner.find(Lower(pr.sPort));
            if (it != m.portOwner.end() && SameName(it->second, pMonitorName)) {
                SetLastError(ERROR_PRINT_MONITOR_IN_USE);
                return FALSE;
            }
        }
        std::vector<Registration> regs;
        std::string sProblem;
        ReadRegistrations(regs, sProblem);
        std::string sKeyName;
        for (const Registration &r : regs)
            if (SameName(r.sName, pMonitorName))
                sKeyName = r.sName;
        MonitorRec *p = FindMonitor(m, pMonitorName);
        if (sKeyName.empty() && !p) {
            SetLastError(ERROR_UNKNOWN_PRINT_MONITOR);
            return FALSE;
        }
        if (!sKeyName.empty()) {
            HKEY hMonitors;
            LONG lError = RegOpenKeyExA(HKEY_LOCAL_MACHINE, DORVE_MONITORS_KEY, 0,
                                        KEY_ALL_ACCESS, &hMonitors);
            if (lError == ERROR_SUCCESS) {
                lError = DeleteKeyTree(hMonitors, sKeyName.c_str());
                RegCloseKey(hMonitors);
            }
            if (lError != ERROR_SUCCESS) {
                SetLastError((DWORD)lError);
                return FALSE;
            }
        }
        if (p) {
            hModule = p->hModule;
            for (auto it = m.monitors.begin(); it != m.monitors.end(); ++it)
                if (&*it == p) {
                    m.monitors.erase(it);
                    break;
                }
        }
        for (auto it = m.portOwner.begin(); it != m.portOwner.end();)
            it = SameName(it->second, pMonitorName) ? m.portOwner.erase(it) : std::next(it);
    }
    if (hModule)
        KeepStartedMonitorLoaded(hModule);
    return TRUE;
}

extern "C" BOOL WINAPI AddPortA(LPSTR pName, HWND hWnd, LPSTR pMonitorName)
{
    Model &m = TheModel();
    MONITOR table;
    {
        std::lock_guard<std::mutex> lock(m.mtx);
        MonitorRec *p = FindMonitor(m, pMonitorName);
        if (!p || !p->bStarted) {
            SetLastError(ERROR_UNKNOWN_PRINT_MONITOR);
            return FALSE;
        }
        table = p->table;
    }
    if (!table.pfnAddPort) {
        SetLastError(ERROR_NOT_SUPPORTED);
        return FALSE;
    }
    return table.pfnAddPort(pName, hWnd, pMonitorName);
}

namespace {

// The monitor that owns the port, when its table has the entry a port
// command needs; the error says which of the two is missing.
template <typename Entry>
bool PortEntry(LPSTR pPortName, Entry MONITOR::*pfn, MonitorCall &mc)
{
    if (!pPortName || !PortOwner(pPortName, mc)) {
        SetLastError(ERROR_UNKNOWN_PORT);
        return false;
    }
    if (!(mc.table.*pfn)) {
        SetLastError(ERROR_NOT_SUPPORTED);
        return false;
    }
    return true;
}

}  // namespace

extern "C" BOOL WINAPI ConfigurePortA(LPSTR pName, HWND hWnd, LPSTR pPortName)
{
    MonitorCall mc;
    if (!PortEntry(pPortName, &MONITOR::pfnConfigurePort, mc))
        return FALSE;
    return mc.table.pfnConfigurePort(pName, hWnd, pPortName);
}

extern "C" BOOL WINAPI DeletePortA(LPSTR pName, HWND hWnd, LPSTR pPortName)
{
    MonitorCall mc;
    if (!PortEntry(pPortName, &MONITOR::pfnDeletePort, mc))
        return FALSE;
    if (!mc.table.pfnDeletePort(pName, hWnd, pPortName))
        return FALSE;
    Model &m = TheModel();
    std::lock_guard<std::mutex> lock(m.mtx);
    m.portOwner.erase(Lower(pPortName));
    return TRUE;
}
