// dorve install, uninstall, is-installed, kill-monitor: ZUVUTIL.dll is
// loaded by name and its exports are called with the arguments a setup
// program gives them; only the results and last-error codes are read.
#include "installcmds.h"
#include "portcmds.h"

#include <windows.h>
#include <winspool.h>
#include <dorve/registry_host.h>
#include <dorve/spooler_host.h>

#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

namespace dorve {
namespace {

const char kInstallerDll[] = "ZUVUTIL.dll";
const char kMonitorName[] = "Dorve Port";
const char kMonitorDll[] = "DORVEMON.DLL";
// The monitor's ports carry the name it reports for them, or the name it
// was registered under.
const char kPortMonitorName[] = "Dorve Print Monitor";

typedef DWORD(WINAPI *PFN_ZUV_THREE)(DWORD, DWORD, DWORD);
typedef DWORD(WINAPI *PFN_ZUV_WINDOW)(HWND, DWORD, DWORD);
typedef DWORD(WINAPI *PFN_ZUV_ONE)(DWORD);

struct ErrorText {
    DWORD dwError;
    const char *pszText;
};

const ErrorText gErrorTexts[] = {
    {ERROR_FILE_NOT_FOUND, "the registry key or value does not exist"},
    {ERROR_PATH_NOT_FOUND, "the path does not exist"},
    {ERROR_ACCESS_DENIED, "access denied"},
    {ERROR_NOT_ENOUGH_MEMORY, "not enough memory"},
    {ERROR_OUTOFMEMORY, "not enough memory"},
    {ERROR_NOT_SUPPORTED, "the monitor does not support this request"},
    {ERROR_INVALID_PARAMETER, "a parameter is not valid"},
    {ERROR_INVALID_LEVEL, "the information level is not supported"},
    {ERROR_MOD_NOT_FOUND, "the DLL was not found"},
    {ERROR_PROC_NOT_FOUND, "the DLL has no InitializeMonitorEx: it is not a port monitor"},
    {ERROR_BADDB, "the registry is damaged"},
    {ERROR_CANTOPEN, "the registry cannot be opened"},
    {ERROR_CANTREAD, "the registry cannot be read"},
    {ERROR_CANTWRITE, "the registry cannot be written"},
    {ERROR_REGISTRY_CORRUPT, "the registry is damaged"},
    {ERROR_REGISTRY_IO_FAILED, "the registry file could not be read or written"},
    {ERROR_KEY_DELETED, "the registry key was deleted"},
    {ERROR_DLL_INIT_FAILED, "the DLL refused to load (its DllMain failed)"},
    {ERROR_CANCELLED, "cancelled"},
    {ERROR_UNKNOWN_PORT, "no such port"},
    {ERROR_INVALID_ENVIRONMENT, "the environment is not valid"},
    {ERROR_UNKNOWN_PRINT_MONITOR, "the monitor is not installed"},
    {ERROR_PRINT_MONITOR_ALREADY_INSTALLED, "a monitor of that name is already installed"},
    {ERROR_INVALID_PRINT_MONITOR, "the monitor did not start (its InitializeMonitorEx failed)"},
    {ERROR_PRINT_MONITOR_IN_USE, "the monitor is in use: a printer prints to one of its ports"},
};

// "error N (meaning)", or "no error code" when the export set none.
std::string DescribeError(DWORD dwError)
{
    if (dwError == ERROR_SUCCESS)
        return "no error code was given";
    std::string s = "error " + std::to_string(dwError);
    const char *pszText = InstallErrorText(dwError);
    return pszText ? s + " (" + pszText + ")" : s;
}

int Fail(const std::string &sWhat)
{
    fprintf(stderr, "dorve: %s\n", sWhat.c_str());
    return 1;
}

int UsageError(const std::string &sMessage)
{
    fprintf(stderr, "dorve: %s\n", sMessage.c_str());
    fprintf(stderr, "Try `dorve --help`.\n");
    return 2;
}

// The installer DLL, loaded as a setup program loads it.  The module stays
// loaded until the process ends, as it would in a setup program that calls
// several exports.
HMODULE LoadInstaller(std::string &sProblem)
{
    HMODULE hModule = LoadLibraryA(kInstallerDll);
    if (!hModule)
        sProblem = std::string("cannot load ") + kInstallerDll + ": " +
                   DescribeError(GetLastError()) +
                   "; it is looked for in $DORVE_LIBPATH, then next to the platform library";
    return hModule;
}

template <typename PFN>
PFN FindExport(HMODULE hModule, const char *pszName, std::string &sProblem)
{
    PFN pfn = (PFN)(void (*)(void))GetProcAddress(hModule, pszName);
    if (!pfn)
        sProblem = std::string(kInstallerDll) + " has no export " + pszName;
    return pfn;
}

// The monitor's ports in the spooler's list; -1 when it cannot be read.
int CountMonitorPorts()
{
    std::vector<BYTE> buf;
    DWORD cbNeeded = 0, cReturned = 0;
    for (int nTry = 0; nTry < 5; nTry++) {
        if (EnumPortsA(NULL, 2, buf.data(), (DWORD)buf.size(), &cbNeeded, &cReturned)) {
            int n = 0;
            for (DWORD i = 0; i < cReturned; i++) {
                const char *pszMonitor = ((const PORT_INFO_2A *)buf.data())[i].pMonitorName;
                if (pszMonitor && (strcmp(pszMonitor, kPortMonitorName) == 0 ||
                                   strcmp(pszMonitor, kMonitorName) == 0))
                    n++;
            }
            return n;
        }
        if (GetLastError() != ERROR_INSUFFICIENT_BUFFER)
            return -1;
        buf.assign(cbNeeded, 0);
    }
    return -1;
}

std::string Ports(int n)
{
    return std::to_string(n) + (n == 1 ? " port" : " ports");
}

struct Installer {
    HMODULE hModule = NULL;
    PFN_ZUV_ONE pfnIsRunning = nullptr;
};

bool OpenInstaller(Installer &inst, std::string &sProblem)
{
    inst.hModule = LoadInstaller(sProblem);
    if (!inst.hModule)
        return false;
    inst.pfnIsRunning = FindExport<PFN_ZUV_ONE>(inst.hModule, "IsZUVMonitorRunning", sProblem);
    return inst.pfnIsRunning != nullptr;
}

bool IsRunning(const Installer &inst)
{
    return inst.pfnIsRunning(0) != 0;
}

struct FirstPort {
    PFN_ZUV_WINDOW pfnAddPort = nullptr;
    DWORD dwResult = 1;
};

// AddZUVPort with no owner window, as a console setup program calls it.
BOOL OpenThroughInstaller(void *ctx)
{
    FirstPort *p = (FirstPort *)ctx;
    SetLastError(ERROR_SUCCESS);
    p->dwResult = p->pfnAddPort(NULL, 0, 0);
    return p->dwResult == 0;
}

int CmdInstall(Installer &inst, const std::vector<std::string> &args)
{
    std::vector<std::string> portArgs;
    const bool bFirstPort = !args.empty() && args[0] == "--first-port";
    if (bFirstPort) {
        portArgs.assign(args.begin() + 1, args.end());
        if (portArgs.size() < 2)
            return UsageError("usage: dorve install [--first-port NAME ADDRESS "
                              "[--accept-unresolved]]");
        int rc = CheckAddPortArgs(portArgs);
        if (rc != 0)
            return rc;
    } else if (!args.empty()) {
        return UsageError("install: unexpected argument \"" + args[0] + "\"");
    }
    std::string sProblem;
    PFN_ZUV_THREE pfnAdd = FindExport<PFN_ZUV_THREE>(inst.hModule, "Add95Monitor", sProblem);
    FirstPort first;
    if (pfnAdd && bFirstPort)
        first.pfnAddPort = FindExport<PFN_ZUV_WINDOW>(inst.hModule, "AddZUVPort", sProblem);
    if (!pfnAdd || (bFirstPort && !first.pfnAddPort))
        return Fail(sProblem);
    const bool bWasRunning = IsRunning(inst);
    SetLastError(ERROR_SUCCESS);
    DWORD dwResult = pfnAdd(0, 0, 0);
    DWORD dwError = GetLastError();
    if (dwResult == 0) {
        printf("installed: monitor \"%s\" (%s) registered with the spooler in %s\n",
               kMonitorName, kMonitorDll, DorveRegistryFile());
        fflush(stdout);
        return bFirstPort ? AddPortThrough(kMonitorName, portArgs, OpenThroughInstaller, &first)
                          : 0;
    }
    if (!bWasRunning && IsRunning(inst))
        return Fail("install: the monitor was registered, but the InstalledFiles value was "
                    "not written: " + DescribeError(dwError));
    return Fail("install failed: " + DescribeError(dwError));
}

int CmdUninstall(Installer &inst, const std::vector<std::string> &args)
{
    if (!args.empty())
        return UsageError("uninstall: unexpected argument \"" + args[0] + "\"");
    std::string sProblem;
    PFN_ZUV_WINDOW pfnDelete =
        FindExport<PFN_ZUV_WINDOW>(inst.hModule, "DeleteZUVMonitor", sProblem);
    if (!pfnDelete)
        return Fail(sProblem);
    const int nBefore = CountMonitorPorts();
    SetLastError(ERROR_SUCCESS);
    DWORD dwResult = pfnDelete(NULL, 0, 0);
    DWORD dwError = GetLastError();
    const bool bStillRunning = IsRunning(inst);
    const int nAfter = CountMonitorPorts();
    std::string sPorts;
    if (nBefore >= 0 && nAfter >= 0 && nBefore >= nAfter)
        sPorts = Ports(nBefore - nAfter) + " deleted";
    if (dwResult == 0) {
        printf("uninstalled: %s%smonitor \"%s\" and the InstalledFiles value removed from %s\n",
               sPorts.c_str(), sPorts.empty() ? "" : ", ", kMonitorName, DorveRegistryFile());
        return 0;
    }
    std::string sState = bStillRunning ? "the monitor is still registered"
                                       : "the monitor is no longer registered";
    if (!sPorts.empty())
        sState = sPorts + ", " + sState;
    if (bStillRunning && nAfter > 0)
        sState += " with " + Ports(nAfter);
    return Fail("uninstall failed: " + DescribeError(dwError) + "; " + sState);
}

int CmdIsInstalled(Installer &inst, const std::vector<std::string> &args)
{
    if (!args.empty())
        return UsageError("is-installed: unexpected argument \"" + args[0] + "\"");
    if (IsRunning(inst)) {
        printf("the monitor \"%s\" is installed\n", kMonitorName);
        return 0;
    }
    printf("the monitor \"%s\" is not installed\n", kMonitorName);
    return 1;
}

int CmdKillMonitor(Installer &inst, const std::vector<std::string> &args)
{
    if (!args.empty())
        return UsageError("kill-monitor: unexpected argument \"" + args[0] + "\"");
    std::string sProblem;
    PFN_ZUV_ONE pfnKill = FindExport<PFN_ZUV_ONE>(inst.hModule, "KillZUVMonitor", sProblem);
    if (!pfnKill)
        return Fail(sProblem);
    SetLastError(ERROR_SUCCESS);
    DWORD dwResult = pfnKill(0);
    DWORD dwError = GetLastError();
    if (dwResult == 0) {
        printf("removed the registration of monitor \"%s\"; its ports and the InstalledFiles "
               "value are left as they were\n",
               kMonitorName);
        return 0;
    }
    return Fail("kill-monitor failed: " + DescribeError(dwError));
}

}  // namespace

const char *InstallErrorText(DWORD dwError)
{
    for (const ErrorText &e : gErrorTexts)
        if (e.dwError == dwError)
            return e.pszText;
    return NULL;
}

bool IsInstallCommand(const std::string &sCommand)
{
    return sCommand == "install" || sCommand == "uninstall" || sCommand == "is-installed" ||
           sCommand == "kill-monitor";
}

int RunInstallCommand(const std::string &sCommand, const std::vector<std::string> &args)
{
    Installer inst;
    std::string sProblem;
    if (!OpenInstaller(inst, sProblem)) {
        Fail(sProblem);
        // is-installed keeps 1 for "not installed"; this is "cannot tell".
        return sCommand == "is-installed" ? 2 : 1;
    }
    if (sCommand == "install")
        return CmdInstall(inst, args);
    if (sCommand == "uninstall")
        return CmdUninstall(inst, args);
    if (sCommand == "is-installed")
        return CmdIsInstalled(inst, args);
    return CmdKillMonitor(inst, args);
}

}  // namespace dorve
