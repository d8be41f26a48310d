// Dynamic loading: Windows module names over dlopen.
//
// A module name maps to a host shared object: base name lower-cased, ".dll"
// dropped, "lib" prefixed, ".so" appended ("zuvsnmp.dll" -> libzuvsnmp.so).
// Search order (also described in dorve/loader_host.h):
//   1. a name with a slash is used as given;
//   2. each directory of $DORVE_LIBPATH (colon-separated);
//   3. the directories set by DorveLoaderSetPath;
//   4. the directory that holds libdorvewin.so itself;
//   5. the system's dlopen search.
// "SPOOLSS.DLL" and "WINSPOOL.DRV" are the layer itself: the spooler that
// the monitor asks for its port list is the one this process models.
//
// An HMODULE is the address of a ModuleRecord.  Handles given to the layer
// are only ever compared with the records in the table, never dereferenced
// blindly, so a stale or foreign handle gives an error instead of a crash.

#include <windows.h>
#include <winspool.h>
#include <dorve/loader_host.h>

#include <dlfcn.h>
#include <link.h>
#include <string.h>
#include <unistd.h>

#include <algorithm>
#include <mutex>
#include <string>
#include <vector>

namespace {

struct ModuleRecord {
    void *pDl;               // dlopen handle
    std::string strPath;     // host file
    std::string strName;     // Windows name as first loaded
    std::string strMapped;   // host file name the Windows name maps to
    LONG cRef;               // LoadLibraryA references
    bool bBuiltin;
    bool bPinned;            // found loaded, never closed through the table
    bool bAttached;          // DllMain has had DLL_PROCESS_ATTACH
};

struct BuiltinModule {
    const char *pszName;     // upper case
};

const BuiltinModule gBuiltins[] = {{"SPOOLSS.DLL"}, {"WINSPOOL.DRV"}};

// The spooler entries a built-in module offers; other symbols of the layer
// are not its exports.
const char *const gBuiltinExports[] = {
    "EnumPortsA",     "EnumMonitorsA", "AddMonitorA", "DeleteMonitorA", "AddPortA",
    "ConfigurePortA", "DeletePortA",   "OpenPrinterA", "ClosePrinter",  "GetJobA",
    "SetJobA",        "StartDocPrinterA", "EndDocPrinter", "WritePrinter", "StartPagePrinter",
    "EndPagePrinter", "EnumJobsA",      "GetPrinterA", "EnumPrintersA", "AddJobA",
    "ScheduleJob",
};

struct LoaderState {
    std::recursive_mutex mtx;   // DllMain may load modules itself
    std::vector<ModuleRecord *> vModules;
    ModuleRecord *pMain = nullptr;
    std::string strPath;        // DorveLoaderSetPath
    std::vector<std::string> vHiddenBuiltins;
    std::vector<std::pair<std::string, std::string>> vHiddenExports;
};

LoaderState &State()
{
    static LoaderState *pState = new LoaderState;   // lives until exit, outlasting static destructors
    return *pState;
}

std::string Upper(const char *psz)
{
    std::string s(psz);
    for (char &c : s)
        if (c >= 'a' && c <= 'z')
            c = (char)(c - 'a' + 'A');
    return s;
}

std::string Lower(const std::string &s)
{
    std::string r(s);
    for (char &c : r)
        if (c >= 'A' && c <= 'Z')
            c = (char)(c - 'A' + 'a');
    return r;
}

bool HasSlash(const char *psz)
{
    return strchr(psz, '/') != nullptr || strchr(psz, '\\') != nullptr;
}

std::string MapName(const char *pszName)
{
    std::string s(pszName);
    size_t nSlash = s.find_last_of("/\\");
    if (nSlash != std::string::npos)
        s = s.substr(nSlash + 1);
    s = Lower(s);
    if (s.size() >= 4 && s.compare(s.size() - 4, 4, ".dll") == 0)
        s.resize(s.size() - 4);
    return "lib" + s + ".so";
}

std::string LayerPath()
{
    Dl_info info;
    if (dladdr((void *)&LayerPath, &info) == 0 || info.dli_fname == nullptr)
        return std::string();
    return info.dli_fname;
}

std::string DirOf(const std::string &strPath)
{
    size_t n = strPath.find_last_of('/');
    return n == std::string::npos ? std::string(".") : strPath.substr(0, n);
}

void SplitDirs(const char *pszDirs, std::vector<std::string> &vOut)
{
    if (pszDirs == nullptr)
        return;
    std::string s(pszDirs);
    size_t nStart = 0;
    while (nStart <= s.size()) {
        size_t nEnd = s.find(':', nStart);
        if (nEnd == std::string::npos)
            nEnd = s.size();
        if (nEnd > nStart)
            vOut.push_back(s.substr(nStart, nEnd - nStart));
        nStart = nEnd + 1;
    }
}

std::vector<std::string> SearchDirs()
{
    std::vector<std::string> v;
    SplitDirs(getenv("DORVE_LIBPATH"), v);
    SplitDirs(State().strPath.c_str(), v);
    std::string strLayer = LayerPath();
    if (!strLayer.empty())
        v.push_back(DirOf(strLayer));
    return v;
}

std::string PathOfHandle(void *pDl, const std::string &strFallback)
{
    struct link_map *pMap = nullptr;
    if (dlinfo(pDl, RTLD_DI_LINKMAP, &pMap) == 0 && pMap != nullptr && pMap->l_name != nullptr &&
        pMap->l_name[0] != '\0')
        return pMap->l_name;
    return strFallback;
}

// Opens the host object that a Windows name stands for, in search order;
// with iMode RTLD_NOLOAD only an object already in the process is found.
void *OpenHost(const char *pszName, int iMode, std::string &strPath)
{
    if (HasSlash(pszName)) {
        strPath = pszName;
        return dlopen(pszName, iMode);
    }
    std::string strFile = MapName(pszName);
    for (const std::string &strDir : SearchDirs()) {
        std::string strTry = strDir + "/" + strFile;
        if (access(strTry.c_str(), F_OK) != 0)
            continue;
        void *pDl = dlopen(strTry.c_str(), iMode);
        if (pDl != nullptr) {
            strPath = strTry;
            return pDl;
        }
    }
    void *pDl = dlopen(strFile.c_str(), iMode);
    if (pDl != nullptr)
        strPath = PathOfHandle(pDl, strFile);
    return pDl;
}

const BuiltinModule *FindBuiltin(const char *pszName)
{
    if (HasSlash(pszName))
        return nullptr;
    std::string s = Upper(pszName);
    for (const BuiltinModule &b : gBuiltins)
        if (s == b.pszName)
            return &b;
    return nullptr;
}

bool BuiltinHidden(const char *pszBuiltin)
{
    const auto &v = State().vHiddenBuiltins;
    return std::find(v.begin(), v.end(), std::string(pszBuiltin)) != v.end();
}

bool ExportHidden(const std::string &strModule, const char *pszExport)
{
    for (const auto &p : State().vHiddenExports)
        if (p.first == strModule && p.second == pszExport)
            return true;
    return false;
}

bool IsRecord(HMODULE h)
{
    const auto &v = State().vModules;
    return std::find(v.begin(), v.end(), (ModuleRecord *)h) != v.end();
}

ModuleRecord *FindByDl(void *pDl)
{
    for (ModuleRecord *p : State().vModules)
        if (p->pDl == pDl)
            return p;
    return nullptr;
}

ModuleRecord *FindByName(const char *pszName)
{
    const BuiltinModule *pBuiltin = FindBuiltin(pszName);
    std::string strMapped = MapName(pszName);
    for (ModuleRecord *p : State().vModules) {
        if (p == State().pMain)
            continue;
        if (pBuiltin != nullptr) {
            if (p->bBuiltin && p->strName == pBuiltin->pszName)
                return p;
        } else if (HasSlash(pszName)) {
            if (!p->bBuiltin && p->strPath == pszName)
                return p;
        } else if (!p->bBuiltin && p->strMapped == strMapped) {
            return p;
        }
    }
    return nullptr;
}

ModuleRecord *MainRecord()
{
    LoaderState &st = State();
    if (st.pMain == nullptr) {
        ModuleRecord *p = new ModuleRecord{dlopen(nullptr, RTLD_NOW), std::string(), std::string(),
                                           std::string(), 1, false, true, true};
        char szExe[4096];
        ssize_t cb = readlink("/proc/self/exe", szExe, sizeof(szExe) - 1);
        if (cb > 0) {
            szExe[cb] = '\0';
            p->strPath = szExe;
        }
        size_t nSlash = p->strPath.find_last_of('/');
        p->strName = nSlash == std::string::npos ? p->strPath : p->strPath.substr(nSlash + 1);
        st.pMain = p;
        st.vModules.push_back(p);
    }
    return st.pMain;
}

void RemoveRecord(ModuleRecord *p)
{
    auto &v = State().vModules;
    v.erase(std::remove(v.begin(), v.end(), p), v.end());
    if (p->pDl != nullptr)
        dlclose(p->pDl);
    delete p;
}

// A symbol defined by the object itself: dlsym on a handle also searches
// the object's dependencies, which a Windows module's exports never include.
void *OwnSymbol(ModuleRecord *p, const char *pszName)
{
    if (p->pDl == nullptr)
        return nullptr;
    dlerror();
    void *pSym = dlsym(p->pDl, pszName);
    if (pSym == nullptr)
        return nullptr;
    struct link_map *pOwn = nullptr;
    if (dlinfo(p->pDl, RTLD_DI_LINKMAP, &pOwn) != 0 || pOwn == nullptr)
        return nullptr;
    Dl_info info;
    struct link_map *pFound = nullptr;
    if (dladdr1(pSym, &info, (void **)&pFound, RTLD_DL_LINKMAP) == 0 || pFound != pOwn)
        return nullptr;
    return pSym;
}

typedef BOOL (WINAPI *PFNDLLMAIN)(HINSTANCE, DWORD, LPVOID);

BOOL CallDllMain(ModuleRecord *p, DWORD dwReason)
{
    if (p->bBuiltin)
        return TRUE;
    PFNDLLMAIN pfn = (PFNDLLMAIN)OwnSymbol(p, "DllMain");
    if (pfn == nullptr)
        return TRUE;
    return pfn((HINSTANCE)p, dwReason, nullptr);
}

HMODULE LoadBuiltin(const BuiltinModule *pBuiltin)
{
    if (BuiltinHidden(pBuiltin->pszName)) {
        SetLastError(ERROR_MOD_NOT_FOUND);
        return nullptr;
    }
    ModuleRecord *p = FindByName(pBuiltin->pszName);
    if (p != nullptr) {
        p->cRef++;
        return (HMODULE)p;
    }
    std::string strLayer = LayerPath();
    void *pDl = dlopen(strLayer.empty() ? nullptr : strLayer.c_str(), RTLD_NOW);
    if (pDl == nullptr) {
        SetLastError(ERROR_MOD_NOT_FOUND);
        return nullptr;
    }
    p = new ModuleRecord{pDl, strLayer, pBuiltin->pszName, std::string(), 1, true, false, true};
    State().vModules.push_back(p);
    return (HMODULE)p;
}

bool IsBuiltinExport(const char *pszName)
{
    for (const char *psz : gBuiltinExports)
        if (strcmp(psz, pszName) == 0)
            return true;
    return false;
}

} // namespace

extern "C" {

HMODULE WINAPI LoadLibraryA(LPCSTR lpLibFileName)
{
    if (lpLibFileName == nullptr || lpLibFileName[0] == '\0') {
        SetLastError(ERROR_INVALID_PARAMETER);
        return nullptr;
    }
    std::lock_guard<std::recursive_mutex> lock(State().mtx);
    const BuiltinModule *pBuiltin = FindBuiltin(lpLibFileName);
    if (pBuiltin != nullptr)
        return LoadBuiltin(pBuiltin);

    std::string strPath;
    void *pDl = OpenHost(lpLibFileName, RTLD_NOW | RTLD_LOCAL, strPath);
    if (pDl == nullptr) {
        SetLastError(ERROR_MOD_NOT_FOUND);
        return nullptr;
    }
    ModuleRecord *p = FindByDl(pDl);
    if (p != nullptr) {
        dlclose(pDl);   // the record holds its own reference
    } else {
        p = new ModuleRecord{pDl, strPath, lpLibFileName, MapName(lpLibFileName), 0, false, false, false};
        if (HasSlash(lpLibFileName))
            p->strMapped = std::string();
        State().vModules.push_back(p);
    }
    p->cRef++;
    if (p->bAttached)
        return (HMODULE)p;
    // A module linked into the process at start-up is first told here.
    p->bAttached = true;
    if (!CallDllMain(p, DLL_PROCESS_ATTACH)) {
        // As Windows does: the module is told it goes away, then unloaded.
        CallDllMain(p, DLL_PROCESS_DETACH);
        p->bAttached = false;
        if (p->bPinned)
            p->cRef--;
        else
            RemoveRecord(p);
        SetLastError(ERROR_DLL_INIT_FAILED);
        return nullptr;
    }
    return (HMODULE)p;
}

BOOL WINAPI FreeLibrary(HMODULE hLibModule)
{
    std::lock_guard<std::recursive_mutex> lock(State().mtx);
    if (hLibModule == nullptr || !IsRecord(hLibModule)) {
        SetLastError(ERROR_INVALID_HANDLE);
        return FALSE;
    }
    ModuleRecord *p = (ModuleRecord *)hLibModule;
    if (p->bPinned) {
        if (p->cRef > 0)
            p->cRef--;
        return TRUE;
    }
    if (--p->cRef > 0)
        return TRUE;
    CallDllMain(p, DLL_PROCESS_DETACH);
    RemoveRecord(p);
    return TRUE;
}

FARPROC WINAPI GetProcAddress(HMODULE hModule, LPCSTR lpProcName)
{
    std::lock_guard<std::recursive_mutex> lock(State().mtx);
    ModuleRecord *p = hModule == nullptr ? MainRecord() : (ModuleRecord *)hModule;
    if (!IsRecord((HMODULE)p)) {
        SetLastError(ERROR_INVALID_HANDLE);
        return nullptr;
    }
    // Lookups by ordinal have no meaning for a host object.
    if (lpProcName == nullptr || IS_INTRESOURCE(lpProcName)) {
        SetLastError(ERROR_PROC_NOT_FOUND);
        return nullptr;
    }
    if (p->bBuiltin && (!IsBuiltinExport(lpProcName) || ExportHidden(p->strName, lpProcName))) {
        SetLastError(ERROR_PROC_NOT_FOUND);
        return nullptr;
    }
    void *pSym = OwnSymbol(p, lpProcName);
    if (pSym == nullptr) {
        SetLastError(ERROR_PROC_NOT_FOUND);
        return nullptr;
    }
    return (FARPROC)pSym;
}

HMODULE WINAPI GetModuleHandleA(LPCSTR lpModuleName)
{
    std::lock_guard<std::recursive_mutex> lock(State().mtx);
    if (lpModuleName == nullptr)
        return (HMODULE)MainRecord();
    ModuleRecord *p = FindByName(lpModuleName);
    if (p != nullptr)
        return (HMODULE)p;
    if (FindBuiltin(lpModuleName) == nullptr) {
        // A module the process already holds (linked at start-up, or opened
        // by other means) has a handle too, as on Windows.
        std::string strPath;
        void *pDl = OpenHost(lpModuleName, RTLD_LAZY | RTLD_NOLOAD, strPath);
        if (pDl != nullptr) {
            p = FindByDl(pDl);
            if (p != nullptr) {
                dlclose(pDl);
                return (HMODULE)p;
            }
            p = new ModuleRecord{pDl, PathOfHandle(pDl, strPath), lpModuleName, MapName(lpModuleName),
                                 0, false, true, false};
            State().vModules.push_back(p);
            return (HMODULE)p;
        }
    }
    SetLastError(ERROR_MOD_NOT_FOUND);
    return nullptr;
}

DWORD WINAPI GetModuleFileNameA(HMODULE hModule, LPSTR lpFilename, DWORD nSize)
{
    std::lock_guard<std::recursive_mutex> lock(State().mtx);
    ModuleRecord *p = hModule == nullptr ? MainRecord() : (ModuleRecord *)hModule;
    if (!IsRecord((HMODULE)p)) {
        SetLastError(ERROR_MOD_NOT_FOUND);
        return 0;
    }
    if (lpFilename == nullptr || nSize == 0) {
        SetLastError(ERROR_INSUFFICIENT_BUFFER);
        return 0;
    }
    size_t cch = p->strPath.size();
    if (cch + 1 > nSize) {
        // Truncated and terminated, as later Windows versions do.
        memcpy(lpFilename, p->strPath.data(), nSize - 1);
        lpFilename[nSize - 1] = '\0';
        SetLastError(ERROR_INSUFFICIENT_BUFFER);
        return nSize;
    }
    memcpy(lpFilename, p->strPath.c_str(), cch + 1);
    return (DWORD)cch;
}

void DorveLoaderSetPath(const char *dirs)
{
    std::lock_guard<std::recursive_mutex> lock(State().mtx);
    State().strPath = dirs == nullptr ? std::string() : std::string(dirs);
}

void DorveLoaderHideBuiltin(const char *name, BOOL bHide)
{
    if (name == nullptr)
        return;
    std::lock_guard<std::recursive_mutex> lock(State().mtx);
    auto &v = State().vHiddenBuiltins;
    std::string s = Upper(name);
    v.erase(std::remove(v.begin(), v.end(), s), v.end());
    if (bHide)
        v.push_back(s);
}

void DorveLoaderHideExport(const char *module, const char *exportName, BOOL bHide)
{
    if (module == nullptr || exportName == nullptr)
        return;
    std::lock_guard<std::recursive_mutex> lock(State().mtx);
    auto &v = State().vHiddenExports;
    std::pair<std::string, std::string> entry(Upper(module), exportName);
    v.erase(std::remove(v.begin(), v.end(), entry), v.end());
    if (bHide)
        v.push_back(entry);
}

DWORD DorveLoaderMapName(const char *name, char *buf, DWORD cchBuf)
{
    if (name == nullptr || buf == nullptr)
        return 0;
    std::string s = MapName(name);
    if (s.size() + 1 > cchBuf)
        return 0;
    memcpy(buf, s.c_str(), s.size() + 1);
    return (DWORD)s.size();
}

void DorveLoaderReset(void)
{
    std::lock_guard<std::recursive_mutex> lock(State().mtx);
    State().strPath.clear();
    State().vHiddenBuiltins.clear();
    State().vHiddenExports.clear();
}

void *DorveLoaderModuleSymbol(HMODULE hModule, const char *name)
{
    if (name == nullptr)
        return nullptr;
    std::lock_guard<std::recursive_mutex> lock(State().mtx);
    ModuleRecord *p = hModule == nullptr ? MainRecord() : (ModuleRecord *)hModule;
    if (!IsRecord((HMODULE)p))
        return nullptr;
    return OwnSymbol(p, name);
}

} // extern "C"
