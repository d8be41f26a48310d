// dorve: a command-line host for the spooler model.  It starts the port
// monitors registered in the registry, as the spooler does at boot, and
// then lists ports and monitors, registers monitors, or prints a job.
#include <windows.h>
#include <winspool.h>
#include <dorve/registry_host.h>
#include <dorve/spooler_host.h>

#include <pthread.h>
#include <signal.h>
#include <time.h>
#include <unistd.h>

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "discoverycmds.h"
#include "installcmds.h"
#include "portcmds.h"
#include "print.h"

namespace {

void Usage(FILE *f)
{
    fprintf(f,
            "usage: dorve [--registry FILE] COMMAND [ARGS]\n"
            "\n"
            "Starts the port monitors registered in the registry, as the print spooler\n"
            "does, and runs one command with them.\n"
            "\n"
            "Commands:\n"
            "  ports [--level 1|2]     one line a port: its name (level 1, the default) or\n"
            "                          NAME<TAB>MONITOR<TAB>DESCRIPTION (level 2)\n"
            "  monitors                the registered monitors: NAME<TAB>DLL<TAB>STATE\n"
            "  monitors add NAME DLL   register a monitor, e.g.\n"
            "                            dorve monitors add \"Dorve Port\" DORVEMON.DLL\n"
            "  install [--first-port NAME ADDRESS [--accept-unresolved]]\n"
            "                          register the monitor through ZUVUTIL.dll, as a\n"
            "                          setup program does (Add95Monitor), then add its\n"
            "                          first port in the monitor's dialog (AddZUVPort)\n"
            "  uninstall               delete the monitor's ports, its registration and\n"
            "                          its InstalledFiles value (DeleteZUVMonitor)\n"
            "  is-installed            exit 0 when the monitor is registered, 1 when not\n"
            "  kill-monitor            remove the registration only (KillZUVMonitor)\n"
            "  print PORT [FILE|-] [--user NAME] [--document TITLE] [--printer QUEUE]\n"
            "                          send FILE (or standard input) to PORT as one job,\n"
            "                          showing its status; Ctrl-C cancels the job\n"
            "\n"
            "Options:\n"
            "  --registry FILE  the registry file (REGEDIT4 text); without it\n"
            "                   $DORVE_REGISTRY, else %s\n"
            "  --help           this text\n"
            "\n"
            "Monitor DLLs are found in $DORVE_LIBPATH, then next to the platform library.\n",
            DorveRegistryDefaultFile());
    dorve::PortCommandsUsage(f);
    dorve::DiscoveryCommandsUsage(f);
}

int UsageError(const std::string &sMessage)
{
    fprintf(stderr, "dorve: %s\n", sMessage.c_str());
    fprintf(stderr, "Try `dorve --help`.\n");
    return 2;
}

// Starts the monitors and says on stderr which did not start, one line each.
void StartSpooler()
{
    if (DorveSpoolerStart() == 0)
        return;
    std::string sText = DorveSpoolerLastError();
    size_t nStart = 0;
    while (nStart < sText.size()) {
        size_t nEnd = sText.find('\n', nStart);
        if (nEnd == std::string::npos)
            nEnd = sText.size();
        if (nEnd > nStart)
            fprintf(stderr, "dorve: %s\n", sText.substr(nStart, nEnd - nStart).c_str());
        nStart = nEnd + 1;
    }
}

int CmdPorts(const std::vector<std::string> &args)
{
    DWORD Level = 1;
    for (size_t i = 0; i < args.size(); i++) {
        std::string sValue;
        if (args[i] == "--level" && i + 1 < args.size())
            sValue = args[++i];
        else if (args[i].rfind("--level=", 0) == 0)
            sValue = args[i].substr(8);
        else
            return UsageError("ports: unexpected argument \"" + args[i] + "\"");
        if (sValue != "1" && sValue != "2")
            return UsageError("ports: --level must be 1 or 2, not \"" + sValue + "\"");
        Level = (DWORD)atoi(sValue.c_str());
    }
    DWORD cbNeeded = 0, cReturned = 0;
    std::vector<BYTE> buf;
    // The list can grow between the two calls (a monitor that discovers).
    for (int nTry = 0; nTry < 5; nTry++) {
        if (EnumPortsA(NULL, Level, buf.data(), (DWORD)buf.size(), &cbNeeded, &cReturned))
            break;
        if (GetLastError() != ERROR_INSUFFICIENT_BUFFER) {
            fprintf(stderr, "dorve: the ports cannot be listed (error %lu)\n",
                    (unsigned long)GetLastError());
            return 1;
        }
        buf.assign(cbNeeded, 0);
        cReturned = 0;
    }
    for (DWORD i = 0; i < cReturned; i++) {
        if (Level == 1) {
            printf("%s\n", ((const PORT_INFO_1A *)buf.data())[i].pName);
        } else {
            const PORT_INFO_2A *p = (const PORT_INFO_2A *)buf.data() + i;
            printf("%s\t%s\t%s\n", p->pPortName, p->pMonitorName ? p->pMonitorName : "",
                   p->pDescription ? p->pDescription : "");
        }
    }
    return 0;
}

int CmdMonitors(const std::vector<std::string> &args)
{
    if (!args.empty() && args[0] == "add") {
        if (args.size() != 3)
            return UsageError("usage: dorve monitors add NAME DLL");
        if (!DorveSpoolerRegisterMonitor(args[1].c_str(), args[2].c_str())) {
            std::string sWhy = DorveSpoolerLastError();
            if (sWhy.empty())
                sWhy = "the name must not be empty or contain a backslash";
            fprintf(stderr, "dorve: %s\n", sWhy.c_str());
            return 1;
        }
        printf("registered monitor \"%s\" (%s) in %s; it starts with the next command\n",
               args[1].c_str(), args[2].c_str(), DorveRegistryFile());
        return 0;
    }
    if (!args.empty())
        return UsageError("monitors: unknown argument \"" + args[0] + "\"");
    char szName[256], szDll[MAX_PATH + 1], szError[1024];
    BOOL bStarted;
    for (DWORD i = 0; DorveSpoolerGetMonitorInfo(i, szName, sizeof szName, szDll, sizeof szDll,
                                                  &bStarted, szError, sizeof szError);
         i++) {
        if (bStarted)
            printf("%s\t%s\tstarted\n", szName, szDll);
        else
            printf("%s\t%s\tnot started: %s\n", szName, szDll, szError);
    }
    return 0;
}

// Ctrl-C arrives here, on a thread of its own, rather than in a handler:
// cancelling the job takes the spooler model's lock.
std::atomic<bool> gbPrintDone{false};

void *SignalThread(void *)
{
    sigset_t set;
    sigemptyset(&set);
    sigaddset(&set, SIGINT);
    sigaddset(&set, SIGTERM);
    int nSignals = 0;
    while (!gbPrintDone.load()) {
        struct timespec ts = {0, 100 * 1000 * 1000};
        int sig = sigtimedwait(&set, NULL, &ts);
        if (sig < 0)
            continue;
        if (++nSignals >= 3) {
            fprintf(stderr, "\ndorve: stopped at once; the job may be left unfinished\n");
            _exit(130);
        }
        if (nSignals == 1)
            fprintf(stderr, "\ndorve: cancelling the job (Ctrl-C twice more stops at once)\n");
        dorve::InterruptPrint();
    }
    return nullptr;
}

int CmdPrint(const std::vector<std::string> &args)
{
    dorve::PrintRequest req;
    std::vector<std::string> positional;
    for (size_t i = 0; i < args.size(); i++) {
        const std::string &a = args[i];
        std::string *pTarget = a == "--user"       ? &req.sUser
                               : a == "--document" ? &req.sDocument
                               : a == "--printer"  ? &req.sPrinter
                                                   : nullptr;
        if (pTarget) {
            if (i + 1 >= args.size())
                return UsageError("print: " + a + " needs a value");
            *pTarget = args[++i];
        } else if (a.size() > 1 && a[0] == '-' && a != "-") {
            return UsageError("print: unknown option \"" + a + "\"");
        } else {
            positional.push_back(a);
        }
    }
    if (positional.empty() || positional.size() > 2)
        return UsageError("usage: dorve print PORT [FILE|-] [--user NAME] [--document TITLE] "
                          "[--printer QUEUE]");
    req.sPort = positional[0];
    if (positional.size() == 2)
        req.sFile = positional[1];
    req.pOut = stderr;
    req.bProgressBar = isatty(2) != 0;

    pthread_t thread;
    bool bThread = pthread_create(&thread, NULL, SignalThread, NULL) == 0;
    dorve::PrintResult result;
    int rc = dorve::Print(req, &result);
    gbPrintDone = true;
    if (bThread)
        pthread_join(thread, NULL);
    return rc;
}

}  // namespace

int main(int argc, char **argv)
{
    std::string sRegistry;
    bool bHelp = false;
    std::vector<std::string> args;
    for (int i = 1; i < argc; i++) {
        std::string a = argv[i];
        if (a == "--registry") {
            if (i + 1 >= argc)
                return UsageError("--registry needs a file");
            sRegistry = argv[++i];
        } else if (a.rfind("--registry=", 0) == 0) {
            sRegistry = a.substr(11);
        } else if (a == "--help" || a == "-h") {
            bHelp = true;
        } else {
            args.push_back(a);
        }
    }
    if (bHelp || (!args.empty() && args[0] == "help")) {
        Usage(stdout);
        return 0;
    }
    if (args.empty()) {
        Usage(stderr);
        return 2;
    }
    const std::string sCommand = args[0];
    args.erase(args.begin());
    if (sCommand != "ports" && sCommand != "monitors" && sCommand != "print" &&
        !dorve::IsPortCommand(sCommand) && !dorve::IsDiscoveryCommand(sCommand) &&
        !dorve::IsInstallCommand(sCommand))
        return UsageError("unknown command \"" + sCommand + "\"");

    // Ctrl-C is taken by a thread of the print command; every thread that
    // the monitors start inherits the blocked signal.
    if (sCommand == "print") {
        sigset_t set;
        sigemptyset(&set);
        sigaddset(&set, SIGINT);
        sigaddset(&set, SIGTERM);
        pthread_sigmask(SIG_BLOCK, &set, NULL);
    }
    if (!sRegistry.empty() && !DorveRegistryUseFile(sRegistry.c_str())) {
        fprintf(stderr, "dorve: cannot use the registry: %s\n", DorveRegistryLastError());
        fprintf(stderr, "dorve: fix or remove the file, or choose another with --registry\n");
        return 1;
    }
    if (dorve::IsDiscoveryCommand(sCommand))
        return dorve::RunDiscoveryCommand(sCommand, args);
    StartSpooler();
    if (sCommand == "ports")
        return CmdPorts(args);
    if (sCommand == "monitors")
        return CmdMonitors(args);
    if (dorve::IsPortCommand(sCommand))
        return dorve::RunPortCommand(sCommand, args);
    if (dorve::IsInstallCommand(sCommand))
        return dorve::RunInstallCommand(sCommand, args);
    return CmdPrint(args);
}
