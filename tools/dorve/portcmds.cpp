// dorve's port administration commands.  There is no screen: the monitor's
// dialog takes its input from the dialog driver, and each command plans
// its input step by step from what the dialog shows, as a person would:
// the name is typed a character at a time, so that the address follows it
// as the dialog makes it; an address of its own is typed only after a
// click into the address field; a value is typed over the selected field
// and the command looks at what the field holds before it goes on.
#include "portcmds.h"
#include "discoverycmds.h"

#include <windows.h>
#include <winspool.h>
#include <dorve/dialog_driver.h>
#include <dorve/spooler_host.h>

#include <strings.h>

#include <cstring>
#include <string>
#include <vector>

namespace dorve {

namespace {

const char kMonitorDll[] = "DORVEMON.DLL";
const char kOptionsKey[] = "SYSTEM\\CurrentControlSet\\Control\\Print\\Monitors\\ZUV Port\\Options";
const size_t kNameMax = 127;

// Control ids of the monitor's dialogs.
const int kIdName = 101, kIdAddress = 102, kIdSearch = 6, kIdManual = 215, kIdAuto = 216;
const int kIdAlert = 212, kIdTrap = 214;
const int kAddPortTemplate = 100, kConfigureTemplate = 200;

int UsageError(const std::string &sMessage)
{
    fprintf(stderr, "dorve: %s\n", sMessage.c_str());
    fprintf(stderr, "Try `dorve --help`.\n");
    return 2;
}

// The registered name of the monitor whose DLL is DORVEMON.DLL.
bool FindDorveMonitor(std::string &sName, std::string &sProblem)
{
    for (DWORD i = 0;; i++) {
        char szName[256], szDll[MAX_PATH], szError[512];
        BOOL bStarted = FALSE;
        if (!DorveSpoolerGetMonitorInfo(i, szName, sizeof(szName), szDll, sizeof(szDll), &bStarted, szError,
                                        sizeof(szError)))
            break;
        const char *pszBase = strrchr(szDll, '/');
        pszBase = pszBase ? pszBase + 1 : szDll;
        if (strcasecmp(pszBase, kMonitorDll) != 0)
            continue;
        if (!bStarted) {
            sProblem = std::string("the Dorve port monitor \"") + szName + "\" did not start: " + szError;
            return false;
        }
        sName = szName;
        return true;
    }
    sProblem = "the Dorve port monitor is not registered; register it with\n"
               "  dorve monitors add \"Dorve Port\" DORVEMON.DLL";
    return false;
}

std::vector<std::string> SpoolerPorts()
{
    std::vector<std::string> v;
    DWORD cbNeeded = 0, cReturned = 0;
    EnumPortsA(nullptr, 1, nullptr, 0, &cbNeeded, &cReturned);
    if (cbNeeded == 0)
        return v;
    std::vector<BYTE> buf(cbNeeded);
    if (!EnumPortsA(nullptr, 1, buf.data(), cbNeeded, &cbNeeded, &cReturned))
        return v;
    const PORT_INFO_1A *p = (const PORT_INFO_1A *)buf.data();
    for (DWORD i = 0; i < cReturned; i++)
        v.push_back(p[i].pName ? p[i].pName : "");
    return v;
}

bool Contains(const std::vector<std::string> &v, const std::string &s)
{
    for (const auto &x : v) {
        if (x == s)
            return true;
    }
    return false;
}

// The owner of an existing port must be the Dorve monitor.
bool CheckOwnPort(const std::string &sPort, const std::string &sMonitor, const char *pszWhat)
{
    char szOwner[256] = "";
    if (DorveSpoolerPortMonitor(sPort.c_str(), szOwner, sizeof(szOwner)) == nullptr) {
        printf("Not %s: there is no port named \"%s\"; `dorve ports` lists the ports.\n", pszWhat,
               sPort.c_str());
        return false;
    }
    if (sMonitor != szOwner) {
        printf("Not %s: \"%s\" is a port of the monitor \"%s\", not of the Dorve port monitor.\n", pszWhat,
               sPort.c_str(), szOwner);
        return false;
    }
    return true;
}

// What the dialogs said, caption and text as they stood.
int PrintMessageBoxes()
{
    int n = DorveDlgMessageBoxCount();
    for (int i = 0; i < n; i++) {
        DORVE_DLG_MSGBOX box;
        if (DorveDlgMessageBoxAt(i, &box))
            printf("%s: %s\n", box.szCaption, box.szText);
    }
    return n;
}

bool LastRun(int nTemplate, DORVE_DLG_RUN &run)
{
    bool bFound = false;
    for (int i = 0; i < DorveDlgRunCount(); i++) {
        DORVE_DLG_RUN r;
        if (DorveDlgRunAt(i, &r) && r.nTemplate == nTemplate) {
            run = r;
            bFound = true;
        }
    }
    return bFound;
}

UINT CheckOf(HWND hDlg, int id)
{
    DORVE_DLG_CONTROL c;
    return DorveDlgControlById(hDlg, id, &c) ? c.uCheck : BST_UNCHECKED;
}

std::string TextOf(HWND hDlg, int id)
{
    DORVE_DLG_CONTROL c;
    return DorveDlgControlById(hDlg, id, &c) ? c.szText : "";
}

DWORD AutoDiscoveryStored()
{
    HKEY hKey;
    DWORD dwValue = 0, dwType = 0, cb = sizeof(dwValue);
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, kOptionsKey, 0, KEY_READ, &hKey) != ERROR_SUCCESS)
        return 0;
    if (RegQueryValueExA(hKey, "AutoEnable", nullptr, &dwType, (LPBYTE)&dwValue, &cb) != ERROR_SUCCESS ||
        dwType != REG_DWORD)
        dwValue = 0;
    RegCloseKey(hKey);
    return dwValue;
}

// Runs the monitor's Add Port dialog with a plan; FALSE from AddPortA, or
// from pfnOpen when a caller other than AddPortA opens the dialog.
BOOL RunAddPortDialog(const std::string &sMonitor, DORVE_DLG_CALLBACK pfnPlan, void *ctx,
                      DORVE_DLG_ANSWERER pfnAnswer, PFN_OPEN_ADD_PORT pfnOpen = nullptr,
                      void *ctxOpen = nullptr)
{
    DorveDlgReset();
    DorveDlgSetAnswerer(pfnAnswer, ctx);
    DorveDlgScriptCall(pfnPlan, ctx);
    BOOL bOk = pfnOpen ? pfnOpen(ctxOpen) : AddPortA(nullptr, nullptr, (LPSTR)sMonitor.c_str());
    DorveDlgSetAnswerer(nullptr, nullptr);
    return bOk;
}

void PrintNoDialog(const char *pszWhat)
{
    printf("Not %s: the monitor's Add Port dialog could not be shown (error %lu).\n", pszWhat,
           (unsigned long)GetLastError());
}

// ---- add-port ----

struct AddPortPlan {
    std::string sName, sAddress;
    bool bAccept = false;
    bool bWasAuto = false;
    bool bStayedOpen = false;
    bool bAsked = false;
    int nStep = 0;
};

int AnswerAddPort(void *ctx, HWND, const char *, const char *, UINT type)
{
    AddPortPlan *p = (AddPortPlan *)ctx;
    if ((type & 0x0F) == MB_YESNOCANCEL) {
        p->bAsked = true;
        return p->bAccept ? IDYES : IDCANCEL;
    }
    return IDOK;
}

void PlanAddPort(void *ctx, HWND hDlg)
{
    AddPortPlan *p = (AddPortPlan *)ctx;
    switch (p->nStep++) {
    case 0:
        // Manual mode is where a port is typed in.
        if (CheckOf(hDlg, kIdAuto) == BST_CHECKED) {
            p->bWasAuto = true;
            DorveDlgScriptClick(kIdManual);
        }
        DorveDlgScriptClick(kIdName);
        DorveDlgScriptType(p->sName.c_str());
        DorveDlgScriptCall(PlanAddPort, ctx);
        break;
    case 1:
        // The address field has followed the name; a different address is
        // typed over it after a click into the field.
        if (TextOf(hDlg, kIdAddress) != p->sAddress) {
            DorveDlgScriptSelect(kIdAddress, 0, -1);
            DorveDlgScriptType(p->sAddress.c_str());
        }
        DorveDlgScriptClick(IDOK);
        DorveDlgScriptCall(PlanAddPort, ctx);
        break;
    default:
        // Still open after OK: the dialog refused the entry.
        p->bStayedOpen = true;
        DorveDlgScriptClick(IDCANCEL);
        break;
    }
}

// 0 when args are add-port's, else 2 with the usage error printed.
int ParseAddPort(const std::vector<std::string> &args, AddPortPlan &plan)
{
    std::vector<std::string> positional;
    for (const std::string &a : args) {
        if (a == "--accept-unresolved")
            plan.bAccept = true;
        else if (a.size() > 1 && a[0] == '-')
            return UsageError("add-port: unknown option \"" + a + "\"");
        else
            positional.push_back(a);
    }
    if (positional.size() != 2)
        return UsageError("usage: dorve add-port NAME ADDRESS [--accept-unresolved]");
    plan.sName = positional[0];
    plan.sAddress = positional[1];
    if (plan.sName.empty() || plan.sAddress.empty())
        return UsageError("add-port: NAME and ADDRESS must not be empty");
    if (plan.sName.find('\\') != std::string::npos)
        return UsageError("add-port: a port name cannot hold a backslash (it would name a registry key "
                          "below the port's own)");
    if (plan.sName.size() > kNameMax + 1 || plan.sAddress.size() > kNameMax + 1)
        return UsageError("add-port: NAME and ADDRESS take at most 127 characters");
    return 0;
}

int CmdAddPort(const std::string &sMonitor, const std::vector<std::string> &args,
               PFN_OPEN_ADD_PORT pfnOpen = nullptr, void *ctxOpen = nullptr)
{
    AddPortPlan plan;
    int rc = ParseAddPort(args, plan);
    if (rc != 0)
        return rc;

    BOOL bOk = RunAddPortDialog(sMonitor, PlanAddPort, &plan, AnswerAddPort, pfnOpen, ctxOpen);
    PrintMessageBoxes();
    DORVE_DLG_RUN run;
    if (!LastRun(kAddPortTemplate, run)) {
        PrintNoDialog("added");
        return 1;
    }
    std::string sStored = plan.sName.substr(0, kNameMax);
    if (run.nResult == IDOK) {
        if (!bOk || !Contains(SpoolerPorts(), sStored)) {
            printf("Not added: the dialog accepted the port, but the monitor could not store it in the "
                   "registry; check that the registry file is writable.\n");
            return 1;
        }
        printf("Port \"%s\" added for the printer at %s.%s%s\n", sStored.c_str(), plan.sAddress.c_str(),
               sStored.size() < plan.sName.size() ? " The name was cut to its first 127 characters." : "",
               plan.bWasAuto ? " Automatic discovery was on and is now off (`dorve auto-discovery on` turns "
                               "it back on)."
                             : "");
        return 0;
    }
    if (plan.bStayedOpen && !plan.bAsked)
        printf("Not added: a port named \"%s\" already exists in the spooler (names are compared without "
               "regard to letter case); choose another name.\n",
               sStored.c_str());
    else if (plan.bAsked)
        printf("Not added: the address %s does not resolve on this computer; check it, or add it anyway "
               "with --accept-unresolved.\n",
               plan.sAddress.c_str());
    else
        printf("Not added: the dialog ended without a port.\n");
    return 1;
}

// ---- configure-port ----

struct TimeField {
    const char *pszOption;
    int nId;
    const char *pszUnit;
    std::string sValue;
    bool bGiven = false;
};

struct ConfigurePlan {
    TimeField aFields[3] = {
        {"--status-interval", 203, "seconds", "", false},
        {"--status-timeout", 205, "seconds", "", false},
        {"--send-timeout", 207, "minutes", "", false},
    };
    int nAlert = -1, nTrap = -1;    // -1: keep
    size_t nField = 0;              // the next field to look at
    int nTyped = -1;                // the field just typed into
    int nBoxesSeen = 0;
    int nFailed = -1;               // the field that was refused
    bool bChecksDone = false;
    std::string sShown[3];
    bool bAlertShown = false, bTrapShown = false;
};

void PlanConfigure(void *ctx, HWND hDlg)
{
    ConfigurePlan *p = (ConfigurePlan *)ctx;
    // The field typed last must hold what was typed, and no message.
    if (p->nTyped >= 0) {
        const TimeField &f = p->aFields[p->nTyped];
        if (DorveDlgMessageBoxCount() > p->nBoxesSeen || TextOf(hDlg, f.nId) != f.sValue) {
            p->nFailed = p->nTyped;
            DorveDlgScriptClick(IDCANCEL);
            return;
        }
        p->nTyped = -1;
    }
    while (p->nField < 3 && !p->aFields[p->nField].bGiven)
        p->nField++;
    if (p->nField < 3) {
        p->nTyped = (int)p->nField;
        const TimeField &f = p->aFields[p->nField++];
        p->nBoxesSeen = DorveDlgMessageBoxCount();
        DorveDlgScriptSelect(f.nId, 0, -1);
        DorveDlgScriptType(f.sValue.c_str());
        DorveDlgScriptCall(PlanConfigure, ctx);
        return;
    }
    if (!p->bChecksDone) {
        p->bChecksDone = true;
        if (p->nAlert >= 0 && (CheckOf(hDlg, kIdAlert) == BST_CHECKED) != (p->nAlert == 1))
            DorveDlgScriptClick(kIdAlert);
        if (p->nTrap >= 0 && (CheckOf(hDlg, kIdTrap) == BST_CHECKED) != (p->nTrap == 1))
            DorveDlgScriptClick(kIdTrap);
        DorveDlgScriptCall(PlanConfigure, ctx);
        return;
    }
    for (int i = 0; i < 3; i++)
        p->sShown[i] = TextOf(hDlg, p->aFields[i].nId);
    p->bAlertShown = CheckOf(hDlg, kIdAlert) == BST_CHECKED;
    p->bTrapShown = CheckOf(hDlg, kIdTrap) == BST_CHECKED;
    DorveDlgScriptClick(IDOK);
}

bool ParseOnOff(const std::string &s, int &n)
{
    if (s == "on") {
        n = 1;
        return true;
    }
    if (s == "off") {
        n = 0;
        return true;
    }
    return false;
}

int CmdConfigurePort(const std::string &sMonitor, const std::vector<std::string> &args)
{
    ConfigurePlan plan;
    std::vector<std::string> positional;
    for (size_t i = 0; i < args.size(); i++) {
        const std::string &a = args[i];
        TimeField *pField = nullptr;
        for (TimeField &f : plan.aFields) {
            if (a == f.pszOption)
                pField = &f;
        }
        bool bSwitch = a == "--alert" || a == "--end-of-output-notice";
        if (pField != nullptr || bSwitch) {
            if (i + 1 >= args.size())
                return UsageError("configure-port: " + a + " needs a value");
            const std::string &v = args[++i];
            if (pField != nullptr) {
                pField->sValue = v;
                pField->bGiven = true;
            } else if (!ParseOnOff(v, a == "--alert" ? plan.nAlert : plan.nTrap)) {
                return UsageError("configure-port: " + a + " takes on or off, not \"" + v + "\"");
            }
        } else if (a.size() > 1 && a[0] == '-') {
            return UsageError("configure-port: unknown option \"" + a + "\"");
        } else {
            positional.push_back(a);
        }
    }
    if (positional.size() != 1)
        return UsageError("usage: dorve configure-port NAME [--status-interval SECONDS] [--status-timeout "
                          "SECONDS] [--send-timeout MINUTES] [--alert on|off] [--end-of-output-notice on|off]");
    const std::string &sPort = positional[0];
    if (!CheckOwnPort(sPort, sMonitor, "configured"))
        return 1;

    DorveDlgReset();
    DorveDlgScriptCall(PlanConfigure, &plan);
    BOOL bOk = ConfigurePortA(nullptr, nullptr, (LPSTR)sPort.c_str());
    PrintMessageBoxes();
    DORVE_DLG_RUN run;
    if (!LastRun(kConfigureTemplate, run)) {
        printf("Not configured: the monitor's Configure Port dialog could not be shown (error %lu).\n",
               (unsigned long)GetLastError());
        return 1;
    }
    if (plan.nFailed >= 0) {
        const TimeField &f = plan.aFields[plan.nFailed];
        printf("Not configured: %s %s was refused; it takes a whole number from 1 to 600 %s, of at most "
               "three digits. Nothing was stored.\n",
               f.pszOption, f.sValue.c_str(), f.pszUnit);
        return 1;
    }
    if (run.nResult != IDOK) {
        printf("Not configured: the dialog was closed without OK. Nothing was stored.\n");
        return 1;
    }
    if (!bOk) {
        printf("Not configured: the port has the new settings until the spooler restarts, but the monitor "
               "could not write them to the registry; check that the registry file is writable.\n");
        return 1;
    }
    printf("Port \"%s\" configured: status every %s s, status time-out %s s, send time-out %s min, alert %s, "
           "end-of-output notice %s.\n",
           sPort.c_str(), plan.sShown[0].c_str(), plan.sShown[1].c_str(), plan.sShown[2].c_str(),
           plan.bAlertShown ? "on" : "off", plan.bTrapShown ? "on" : "off");
    return 0;
}

// ---- delete-port ----

int CmdDeletePort(const std::string &sMonitor, const std::vector<std::string> &args)
{
    if (args.size() != 1 || (args[0].size() > 1 && args[0][0] == '-'))
        return UsageError("usage: dorve delete-port NAME");
    const std::string &sPort = args[0];
    if (!CheckOwnPort(sPort, sMonitor, "deleted"))
        return 1;
    if (!DeletePortA(nullptr, nullptr, (LPSTR)sPort.c_str())) {
        printf("Not deleted: the monitor could not remove \"%s\" (a document may be printing to it, or its "
               "registry key is missing); try again when the port is idle, and check `dorve ports`.\n",
               sPort.c_str());
        return 1;
    }
    printf("Port \"%s\" deleted.\n", sPort.c_str());
    return 0;
}

// ---- search and auto-discovery ----

struct ModePlan {
    bool bSearch = false;
    bool bAuto = false;
};

void PlanMode(void *ctx, HWND hDlg)
{
    ModePlan *p = (ModePlan *)ctx;
    if (p->bSearch) {
        if (CheckOf(hDlg, kIdAuto) != BST_CHECKED)
            DorveDlgScriptClick(kIdAuto);
        DorveDlgScriptClick(kIdSearch);
        return;
    }
    DorveDlgScriptClick(p->bAuto ? kIdAuto : kIdManual);
    DorveDlgScriptClick(IDOK);
}

int CmdSearch(const std::string &sMonitor, const std::vector<std::string> &args)
{
    if (!args.empty())
        return UsageError("usage: dorve search");
    if (!DiscoveryNetworkConfigured())
        return ReportNoDiscoveryNetwork("searched");
    std::vector<std::string> before = SpoolerPorts();
    ModePlan plan;
    plan.bSearch = true;
    RunAddPortDialog(sMonitor, PlanMode, &plan, nullptr);
    PrintMessageBoxes();
    DORVE_DLG_RUN run;
    if (!LastRun(kAddPortTemplate, run)) {
        PrintNoDialog("searched");
        return 1;
    }
    if (run.nResult != 6) {
        printf("Not searched: the dialog ended before the search ran.\n");
        return 1;
    }
    std::vector<std::string> found;
    for (const std::string &s : SpoolerPorts()) {
        if (!Contains(before, s))
            found.push_back(s);
    }
    if (found.empty()) {
        printf("Search done: no new printer was found on the network.\n");
        return 0;
    }
    printf("Search done: %zu new port%s:", found.size(), found.size() == 1 ? "" : "s");
    for (const std::string &s : found)
        printf(" %s", s.c_str());
    printf("\n");
    return 0;
}

int CmdAutoDiscovery(const std::string &sMonitor, const std::vector<std::string> &args)
{
    ModePlan plan;
    int n = -1;
    if (args.size() != 1 || !ParseOnOff(args[0], n))
        return UsageError("usage: dorve auto-discovery on|off");
    plan.bAuto = n == 1;
    RunAddPortDialog(sMonitor, PlanMode, &plan, nullptr);
    PrintMessageBoxes();
    DORVE_DLG_RUN run;
    if (!LastRun(kAddPortTemplate, run)) {
        PrintNoDialog("changed");
        return 1;
    }
    if ((AutoDiscoveryStored() != 0) != plan.bAuto) {
        printf("Not changed: the monitor could not store the setting in the registry; check that the "
               "registry file is writable.\n");
        return 1;
    }
    if (plan.bAuto)
        printf("Automatic discovery is on: the monitor searches the network for printers each time the "
               "spooler lists its ports, and adds each printer found as a port.\n");
    else
        printf("Automatic discovery is off: ports are added by hand (`dorve add-port`) or with `dorve "
               "search`.\n");
    return 0;
}

}  // namespace

int CheckAddPortArgs(const std::vector<std::string> &args)
{
    AddPortPlan plan;
    return ParseAddPort(args, plan);
}

int AddPortThrough(const std::string &sMonitor, const std::vector<std::string> &args,
                   PFN_OPEN_ADD_PORT pfnOpen, void *ctx)
{
    return CmdAddPort(sMonitor, args, pfnOpen, ctx);
}

bool IsPortCommand(const std::string &sCommand)
{
    return sCommand == "add-port" || sCommand == "configure-port" || sCommand == "delete-port" ||
           sCommand == "search" || sCommand == "auto-discovery";
}

int RunPortCommand(const std::string &sCommand, const std::vector<std::string> &args)
{
    std::string sMonitor, sProblem;
    if (!FindDorveMonitor(sMonitor, sProblem)) {
        printf("Nothing done: %s\n", sProblem.c_str());
        return 1;
    }
    if (sCommand == "add-port")
        return CmdAddPort(sMonitor, args);
    if (sCommand == "configure-port")
        return CmdConfigurePort(sMonitor, args);
    if (sCommand == "delete-port")
        return CmdDeletePort(sMonitor, args);
    if (sCommand == "search")
        return CmdSearch(sMonitor, args);
    return CmdAutoDiscovery(sMonitor, args);
}

void PortCommandsUsage(FILE *f)
{
    fprintf(f,
            "\n"
            "Port commands (each works the Dorve port monitor's own dialog, as a person would):\n"
            "  add-port NAME ADDRESS [--accept-unresolved]\n"
            "                          add a port for the printer at ADDRESS (dotted or a host\n"
            "                          name); an address that does not resolve is refused\n"
            "                          unless --accept-unresolved is given\n"
            "  configure-port NAME [--status-interval SECONDS] [--status-timeout SECONDS]\n"
            "                 [--send-timeout MINUTES] [--alert on|off]\n"
            "                 [--end-of-output-notice on|off]\n"
            "                          change a port's settings (1 to 600 each); options not\n"
            "                          given keep their values\n"
            "  delete-port NAME        remove a port\n"
            "  search                  search the network for printers now, adding each found\n"
            "  auto-discovery on|off   search each time the spooler lists ports, or not\n"
            "Each prints what the dialog said and what came of it; exit status 0 when done,\n"
            "1 when not.\n");
}

}  // namespace dorve
