// Time of one discovery run over a /24 of loopback addresses with a few
// real snmpd agents (two printers, one plain host) and 251 silent hosts.
// The library is loaded as the monitor loads it.  Then the time of one
// `dorve ports` (the program built beside this one, on a registry file of
// its own) with automatic discovery on and that /24 as the configured
// network, against the same command with discovery off.  Usage:
//   discovery_bench [timeout-ms [runs]]     (defaults 1500 and 3)
#include <libgen.h>
#include <limits.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <time.h>
#include <sys/wait.h>
#include <unistd.h>

#include <string>
#include <vector>

#include <windows.h>

#include "snmp/snmp_agents.h"
#include "zuvsnmp.h"

namespace {

struct Entries {
    PFN_AUTO_TCP_INIT init;
    PFN_GETNETMASK localMask;
    PFN_AUTO_TCP_RIP rip;
    PFN_AUTO_TCP_DEVSTATUS devstatus;
    PFN_FREE_IPLIST freeList;
    PFN_AUTO_TCP_SHUTDOWN shutdown;
};

template <typename T>
bool Bind(HMODULE hLib, const char *pszName, T *ppfn)
{
    *ppfn = (T)(void (*)(void))GetProcAddress(hLib, pszName);
    return *ppfn != NULL;
}

double NowMs()
{
    struct timespec ts;
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return ts.tv_sec * 1000.0 + ts.tv_nsec / 1e6;
}

int RunOnce(const Entries &e)
{
    e.init();
    void *pMask = NULL;
    e.localMask(&pMask);
    if (pMask == NULL) {
        e.shutdown();
        return -1;
    }
    struct rip_params params;
    memset(&params, 0, sizeof(params));
    snprintf(params.netmask, sizeof(params.netmask), "%s", (const char *)pMask);
    params.oid = ZUVSNMP_PRINTER_OID;
    void *pList = NULL;
    e.rip(&params, &pList);
    struct dev_entry *pFirst = NULL;
    e.devstatus(pList, &pFirst);
    e.freeList(pMask);
    if (pList != NULL)
        e.freeList(pList);
    e.shutdown();
    int n = 0;
    for (struct dev_entry *p = pFirst; p != NULL; p = p->next)
        n++;
    return n;
}

std::string Quote(const std::string &s)
{
    std::string r = "'";
    for (char c : s)
        r += c == '\'' ? std::string("'\\''") : std::string(1, c);
    return r + "'";
}

std::string ProgramDir()
{
    char sz[PATH_MAX];
    ssize_t n = readlink("/proc/self/exe", sz, sizeof(sz) - 1);
    if (n <= 0)
        return ".";
    sz[n] = '\0';
    return dirname(sz);
}

// One dorve command on the bench's registry file; its exit code, and its
// stdout's lines when pnLines is given.
int RunDorve(const std::string &strDir, const std::string &strArgs, int *pnLines = NULL)
{
    std::string strOut = strDir + "/dorve.out";
    std::string strCmd = Quote(ProgramDir() + "/dorve") + " --registry " + Quote(strDir + "/bench.reg") + " "
                         + strArgs + " </dev/null >" + Quote(strOut) + " 2>&1";
    int nStatus = system(strCmd.c_str());
    if (pnLines != NULL) {
        *pnLines = 0;
        FILE *pFile = fopen(strOut.c_str(), "r");
        for (int c; pFile != NULL && (c = fgetc(pFile)) != EOF;)
            *pnLines += c == '\n';
        if (pFile != NULL)
            fclose(pFile);
    }
    return WIFEXITED(nStatus) ? WEXITSTATUS(nStatus) : -1;
}

// `dorve ports` with discovery on pays for a scan at the monitor's start
// and one for each of the monitor's EnumPorts calls: the program sizes,
// then fills its buffer, and the spooler asks the monitor twice for each.
int BenchPorts(const std::string &strDir, const std::string &strNetwork, int nRuns)
{
    unsetenv("ZUVSNMP_NETWORK");   // the network comes from the registry here
    if (RunDorve(strDir, "monitors add 'Dorve Port' DORVEMON.DLL") != 0
        || RunDorve(strDir, "discovery-network " + strNetwork) != 0) {
        fprintf(stderr, "discovery_bench: dorve cannot set up its registry; see %s/dorve.out\n", strDir.c_str());
        return 1;
    }
    int nRc = 0;
    const char *const apszModes[] = {"off", "on"};
    for (const char *pszMode : apszModes) {
        if (RunDorve(strDir, std::string("auto-discovery ") + pszMode) != 0) {
            fprintf(stderr, "discovery_bench: dorve auto-discovery %s failed\n", pszMode);
            return 1;
        }
        for (int i = 0; i < nRuns; i++) {
            int nLines = 0;
            double dStart = NowMs();
            int nExit = RunDorve(strDir, "ports", &nLines);
            double dElapsed = NowMs() - dStart;
            printf("dorve ports, auto-discovery %s, run %d: %.0f ms, %d ports listed\n", pszMode, i + 1, dElapsed,
                   nLines);
            if (nExit != 0)
                nRc = 1;
        }
    }
    return nRc;
}

}  // namespace

int main(int argc, char **argv)
{
    int nTimeoutMs = argc > 1 ? atoi(argv[1]) : 1500;
    int nRuns = argc > 2 ? atoi(argv[2]) : 3;
    if (nTimeoutMs <= 0 || nRuns <= 0) {
        fprintf(stderr, "usage: discovery_bench [timeout-ms [runs]]\n");
        return 2;
    }

    HMODULE hLib = LoadLibraryA("zuvsnmp.dll");
    Entries e;
    if (hLib == NULL || !Bind(hLib, "auto_tcp_init", &e.init) || !Bind(hLib, "getLocalNetMask", &e.localMask)
        || !Bind(hLib, "auto_tcp_rip", &e.rip) || !Bind(hLib, "auto_tcp_devstatus", &e.devstatus)
        || !Bind(hLib, "free_iplist", &e.freeList) || !Bind(hLib, "auto_tcp_shutdown", &e.shutdown)) {
        fprintf(stderr, "discovery_bench: cannot load zuvsnmp.dll (libzuvsnmp.so) and its entries\n");
        return 1;
    }

    // Loopback only: 127.A.B.0/24 of this process.
    std::string strNet = "127." + std::to_string(10 + (getpid() / 250) % 100) + "." + std::to_string(getpid() % 250);
    std::string strDir = MakeAgentDir();
    std::vector<SnmpAgent> agents;
    std::string strError;
    const struct {
        int nLast;
        const char *pszConfig;
    } aSpecs[] = {
        {10, "sysName bench-a\noverride 1.3.6.1.4.1.480.1.1.1005.0 octet_str \"BENCH-A\"\n"},
        {100, "sysName bench-b\noverride 1.3.6.1.2.1.25.3.2.1.2.1 object_id 1.3.6.1.2.1.25.3.1.5\n"},
        {200, "sysName bench-host\n"},
    };
    bool bOk = !strDir.empty();
    for (const auto &agentCfg : aSpecs) {
        SnmpAgent agent;
        if (!bOk || !StartSnmpAgent(strDir, strNet + "." + std::to_string(agentCfg.nLast), agentCfg.pszConfig, &agent,
                                    &strError)) {
            bOk = false;
            break;
        }
        agents.push_back(agent);
    }
    bOk = bOk && WaitSnmpAgents(&agents, strDir, 10000, &strError);

    int nRc = 0;
    if (!bOk) {
        fprintf(stderr, "discovery_bench: %s\n", strError.c_str());
        nRc = 1;
    } else {
        setenv("ZUVSNMP_NETWORK", (strNet + ".0/24").c_str(), 1);
        setenv("ZUVSNMP_TIMEOUT_MS", std::to_string(nTimeoutMs).c_str(), 1);
        printf("discovery of %s.0/24 (254 hosts, 3 agents), TimeoutMs %d\n", strNet.c_str(), nTimeoutMs);
        for (int i = 0; i < nRuns; i++) {
            double dStart = NowMs();
            int nFound = RunOnce(e);
            double dElapsed = NowMs() - dStart;
            printf("run %d: %.0f ms, %d printers found (bound about %d ms)\n", i + 1, dElapsed, nFound,
                   2 * nTimeoutMs);
            if (nFound != 2)
                nRc = 1;
        }
        if (BenchPorts(strDir, strNet + ".0/24", nRuns) != 0)
            nRc = 1;
    }
    for (SnmpAgent &agent : agents)
        StopSnmpAgent(&agent);
    RemoveAgentDir(strDir);
    return nRc;
}
