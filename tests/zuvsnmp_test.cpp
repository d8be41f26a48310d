// The discovery library libzuvsnmp.so against real snmpd agents on
// loopback addresses.  Every network configured here lies inside
// 127.0.0.0/8.
#include <gtest/gtest.h>

#ifdef ZUVSNMP_UNAVAILABLE

TEST(Zuvsnmp, LibraryNotBuilt)
{
    GTEST_SKIP() << "libzuvsnmp.so is not part of this build: no net-snmp library for its word size";
}

#else

#include <stdlib.h>
#include <string.h>
#include <time.h>
#include <unistd.h>

#include <string>
#include <vector>

#include <windows.h>

#include "snmp/snmp_agents.h"
#include "testlib.h"
#include "zuvsnmp.h"

using namespace dorvetest;

namespace {

// The library is reached as the monitor reaches it: loaded by its Windows
// name, entries looked up by name.  (The monitor exports forwarders of the
// same names, so calling them by name here would reach the monitor.)
struct ZuvLib {
    PFN_AUTO_TCP_INIT init;
    PFN_GETNETMASK localMask;
    PFN_GETNETMASK dhcpMask;
    PFN_AUTO_TCP_RIP rip;
    PFN_AUTO_TCP_DEVSTATUS devstatus;
    PFN_FREE_IPLIST freeList;
    PFN_AUTO_TCP_SHUTDOWN shutdown;
    int (*liveBlocks)(void);
    int (*listCount)(void *);
    unsigned int (*listAddr)(void *, int);
};

template <typename T>
void Bind(HMODULE hLib, const char *pszName, T *ppfn)
{
    *ppfn = (T)(void (*)(void))GetProcAddress(hLib, pszName);
}

const ZuvLib &Lib()
{
    static ZuvLib lib;
    static bool bLoaded = false;
    if (!bLoaded) {
        HMODULE hLib = LoadLibraryA("zuvsnmp.dll");
        if (hLib != NULL) {
            Bind(hLib, "auto_tcp_init", &lib.init);
            Bind(hLib, "getLocalNetMask", &lib.localMask);
            Bind(hLib, "getDHCPNetMask", &lib.dhcpMask);
            Bind(hLib, "auto_tcp_rip", &lib.rip);
            Bind(hLib, "auto_tcp_devstatus", &lib.devstatus);
            Bind(hLib, "free_iplist", &lib.freeList);
            Bind(hLib, "auto_tcp_shutdown", &lib.shutdown);
            Bind(hLib, "zuvsnmp_live_blocks", &lib.liveBlocks);
            Bind(hLib, "zuvsnmp_iplist_count", &lib.listCount);
            Bind(hLib, "zuvsnmp_iplist_addr", &lib.listAddr);
        }
        bLoaded = true;
    }
    return lib;
}

bool LibComplete()
{
    const ZuvLib &l = Lib();
    return l.init && l.localMask && l.dhcpMask && l.rip && l.devstatus && l.freeList && l.shutdown
           && l.liveBlocks && l.listCount && l.listAddr;
}

// Each test process takes loopback addresses of its own, 127.A.B.x, so that
// programs run side by side never fight over an agent's port 161.
int SubnetA()
{
    return 10 + (int)((getpid() / 250) % 100);
}

int SubnetB()
{
    return (int)(getpid() % 250);
}

std::string Addr(int nLast)
{
    return "127." + std::to_string(SubnetA()) + "." + std::to_string(SubnetB()) + "." + std::to_string(nLast);
}

std::string Net(int nLast, int nPrefix)
{
    return Addr(nLast) + "/" + std::to_string(nPrefix);
}

// A /24 that no agent of this process listens in.
std::string SilentNet24()
{
    return "127." + std::to_string(SubnetA() + 110) + "." + std::to_string(SubnetB()) + ".0/24";
}

struct Found {
    std::string strAddr;
    std::string strName;
    bool operator==(const Found &o) const { return strAddr == o.strAddr && strName == o.strName; }
};

void PrintTo(const Found &f, std::ostream *pOs)
{
    *pOs << "{" << f.strAddr << ", \"" << f.strName << "\"}";
}

long long NowMs()
{
    struct timespec ts;
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return (long long)ts.tv_sec * 1000 + ts.tv_nsec / 1000000;
}

// Configuration through the environment, which wins over the registry.
void Configure(const std::string &strNetwork, const char *pszTimeoutMs = "300", const char *pszCommunity = NULL)
{
    if (!strNetwork.empty())
        setenv("ZUVSNMP_NETWORK", strNetwork.c_str(), 1);
    else
        unsetenv("ZUVSNMP_NETWORK");
    if (pszTimeoutMs != NULL)
        setenv("ZUVSNMP_TIMEOUT_MS", pszTimeoutMs, 1);
    else
        unsetenv("ZUVSNMP_TIMEOUT_MS");
    if (pszCommunity != NULL)
        setenv("ZUVSNMP_COMMUNITY", pszCommunity, 1);
    else
        unsetenv("ZUVSNMP_COMMUNITY");
    unsetenv("ZUVSNMP_ALLOW_ANY");
}

struct RunResult {
    bool bHadMask = false;
    std::string strMask;
    bool bHadList = false;
    std::vector<Found> found;
};

// One run exactly as the monitor makes it, the result list walked after
// auto_tcp_shutdown.
RunResult RunLikeMonitor()
{
    const ZuvLib &l = Lib();
    RunResult r;
    EXPECT_EQ(0, l.init());
    void *pMask = NULL;
    l.localMask(&pMask);
    if (pMask == NULL)
        l.dhcpMask(&pMask);
    if (pMask == NULL) {
        l.shutdown();
        return r;
    }
    r.bHadMask = true;
    r.strMask = (const char *)pMask;

    struct rip_params params;
    memset(&params, 0xAB, sizeof(params));
    snprintf(params.netmask, sizeof(params.netmask), "%s", (const char *)pMask);
    params.oid = ZUVSNMP_PRINTER_OID;
    void *pList = NULL;
    l.rip(&params, &pList);
    r.bHadList = pList != NULL;
    struct dev_entry *pFirst = NULL;
    l.devstatus(pList, &pFirst);
    EXPECT_EQ(0, l.freeList(pMask));
    if (pList != NULL) {
        EXPECT_EQ(0, l.freeList(pList));
    }
    l.shutdown();

    for (struct dev_entry *p = pFirst; p != NULL; p = p->next) {
        EXPECT_NE(nullptr, memchr(p->addr, '\0', sizeof(p->addr)));
        EXPECT_NE(nullptr, memchr(p->name, '\0', sizeof(p->name)));
        r.found.push_back(Found{p->addr, p->name});
    }
    return r;
}

// 20 katakana "pu" (3 bytes each in UTF-8): 60 bytes, more than a name holds.
const char kLongName[] =
    "\xE3\x83\x97\xE3\x83\x97\xE3\x83\x97\xE3\x83\x97\xE3\x83\x97\xE3\x83\x97\xE3\x83\x97"
    "\xE3\x83\x97\xE3\x83\x97\xE3\x83\x97\xE3\x83\x97\xE3\x83\x97\xE3\x83\x97\xE3\x83\x97"
    "\xE3\x83\x97\xE3\x83\x97\xE3\x83\x97\xE3\x83\x97\xE3\x83\x97\xE3\x83\x97";

const char kIdentOverride[] = "override 1.3.6.1.4.1.480.1.1.1005.0 ";
const char kPrinterType[] = "override 1.3.6.1.2.1.25.3.2.1.2.1 object_id 1.3.6.1.2.1.25.3.1.5\n";

// The agents of this process, started on first need and stopped when the
// program ends (or killed with it, should it crash).
struct Agents : SnmpAgentSet {
    void Start()
    {
        SnmpAgentSet::Start({
            // .16/28: a printer by its identifier, one by its device type
            // only, one plain host; .20 to .30 stay silent.
            {Addr(17), std::string("sysName alpha-host\n") + kIdentOverride + "octet_str \"PRN-ALPHA\"\n"},
            {Addr(18), std::string("sysName beta-printer\n") + kPrinterType},
            {Addr(19), "sysName gamma-host\n"},
            // .32/29: names and answers that need care.
            {Addr(33), std::string("sysName long-host\n") + kIdentOverride + "octet_str \"" + kLongName + "\"\n"},
            {Addr(34), std::string("sysName int-host\n") + kIdentOverride + "integer 7\n"
                     + "override 1.3.6.1.2.1.25.3.2.1.2.1 object_id 1.3.6.1.2.1.25.3.1.3\n"},
            {Addr(35), std::string("sysName x\n") + kIdentOverride + "octet_str \"\"\n" + kPrinterType},
        });
    }
};

Agents gAgents;

class AgentsEnvironment : public ::testing::Environment {
public:
    void TearDown() override { gAgents.Stop(); }
};

::testing::Environment *const gpAgentsEnv = ::testing::AddGlobalTestEnvironment(new AgentsEnvironment);

// Every test gets a registry file of its own and a loaded library.
class DiscoveryTest : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(LibComplete()) << "libzuvsnmp.so or one of its entries is missing"; }
    void TearDown() override { Configure(std::string(), NULL); }
    TempRegistry registry_;
};

class DiscoveryAgents : public DiscoveryTest {
protected:
    void SetUp() override
    {
        DiscoveryTest::SetUp();
        if (!gAgents.bTried)
            gAgents.Start();
        ASSERT_TRUE(gAgents.bUp) << gAgents.strError;
    }
};

TEST_F(DiscoveryAgents, FindsExactlyThePrintersInAddressOrder)
{
    Configure(Net(20, 28), "400");
    long long llStart = NowMs();
    RunResult r = RunLikeMonitor();
    long long llElapsed = NowMs() - llStart;

    EXPECT_EQ(Net(16, 28), r.strMask);   // the network, host bits cleared
    EXPECT_TRUE(r.bHadList);
    std::vector<Found> want = {{Addr(17), "PRN-ALPHA"}, {Addr(18), "beta-printer"}};
    EXPECT_EQ(want, r.found);
    // Eleven silent hosts must not stretch the run past two tries.
    EXPECT_LT(llElapsed, 2 * 400 + 1000);
}

TEST_F(DiscoveryAgents, NamesAreCutWholeAndOnlyTextIdentifiersCount)
{
    Configure(Net(32, 29), "400");
    RunResult r = RunLikeMonitor();

    // .33: 60 bytes of 3-byte characters cut to 16 whole ones (48 bytes).
    // .34: an INTEGER identifier and another device type: no printer.
    // .35: an empty identifier text falls back to sysName.
    std::vector<Found> want = {{Addr(33), std::string(kLongName, 48)}, {Addr(35), "x"}};
    EXPECT_EQ(want, r.found);
}

TEST_F(DiscoveryAgents, WrongCommunityFindsNothing)
{
    Configure(Net(16, 28), "200", "not-public");
    RunResult r = RunLikeMonitor();
    EXPECT_TRUE(r.bHadList);
    EXPECT_TRUE(r.found.empty());
}

TEST_F(DiscoveryAgents, SingleHostNetwork)
{
    Configure(Addr(17), "300");
    RunResult r = RunLikeMonitor();
    EXPECT_EQ(Net(17, 32), r.strMask);
    std::vector<Found> want = {{Addr(17), "PRN-ALPHA"}};
    EXPECT_EQ(want, r.found);
}

TEST_F(DiscoveryAgents, RegistryConfiguresAndTheEnvironmentWins)
{
    Configure(std::string(), NULL);
    ASSERT_TRUE(RegWriteString("SOFTWARE\\zuvsnmp", "Network", Net(16, 28)));
    ASSERT_TRUE(RegWriteDword("SOFTWARE\\zuvsnmp", "TimeoutMs", 300));
    std::vector<Found> both = {{Addr(17), "PRN-ALPHA"}, {Addr(18), "beta-printer"}};
    long long llStart = NowMs();
    EXPECT_EQ(both, RunLikeMonitor().found);
    EXPECT_LT(NowMs() - llStart, 2 * 300 + 1000) << "TimeoutMs not taken from the registry";

    ASSERT_TRUE(RegWriteString("SOFTWARE\\zuvsnmp", "Community", "private"));
    EXPECT_TRUE(RunLikeMonitor().found.empty());
    ASSERT_TRUE(RegWriteString("SOFTWARE\\zuvsnmp", "Community", "public"));

    setenv("ZUVSNMP_NETWORK", Net(18, 32).c_str(), 1);
    std::vector<Found> one = {{Addr(18), "beta-printer"}};
    EXPECT_EQ(one, RunLikeMonitor().found);

    // A stored network off the machine is refused like a configured one.
    unsetenv("ZUVSNMP_NETWORK");
    ASSERT_TRUE(RegWriteString("SOFTWARE\\zuvsnmp", "Network", "192.168.1.0/24"));
    RunResult r = RunLikeMonitor();
    EXPECT_FALSE(r.bHadMask);
}

TEST_F(DiscoveryAgents, RepeatedRunsLoseNoMemory)
{
    Configure(Net(16, 28), "200");
    std::vector<Found> want = {{Addr(17), "PRN-ALPHA"}, {Addr(18), "beta-printer"}};
    for (int i = 0; i < 4; i++) {
        RunResult r = RunLikeMonitor();
        EXPECT_EQ(want, r.found) << "run " << i;
        // Only the result list that the monitor is still walking is held.
        EXPECT_EQ(1, Lib().liveBlocks()) << "run " << i;
    }
    EXPECT_EQ(0, Lib().init());
    EXPECT_EQ(0, Lib().liveBlocks());
    Lib().shutdown();
}

// The monitor's own discovery at start-up and at every port enumeration:
// the printers found become ports with default settings, stored so that
// they come back at the next start.
TEST_F(DiscoveryAgents, MonitorTurnsThePrintersIntoLastingPorts)
{
    ResetMonitorState();
    ASSERT_TRUE(LoadMonitorModule());
    Configure(Net(16, 28), "300");
    ASSERT_TRUE(RegWriteDword(ZUV_OPTIONS_KEY, "AutoEnable", 1));

    MONITOR table;
    ASSERT_TRUE(InitializeMonitorEx((LPSTR) "ignored", &table));
    // In discovery order after a run; in the store's order after a restart.
    auto expectPorts = [](const char *pszWhen) {
        SCOPED_TRACE(pszWhen);
        ASSERT_EQ(2u, gZUVMon.dwPortCount);
        const Found want[] = {{Addr(17), "PRN-ALPHA"}, {Addr(18), "beta-printer"}};
        for (const Found &w : want) {
            LPZUVPort p = NULL;
            for (DWORD i = 0; i < gZUVMon.dwPortCount; i++)
                if (w.strName == gZUVMon.lppPorts[i]->szPortName)
                    p = gZUVMon.lppPorts[i];
            ASSERT_NE(nullptr, p) << w.strName;
            EXPECT_EQ(w.strAddr, p->szIPAddress);
            EXPECT_EQ(5u, p->dwStsInterval);
            EXPECT_EQ(0u, p->dwConnType);
            EXPECT_EQ(10u, p->dwStsTimeout);
            EXPECT_EQ(60u, p->dwSendTimeout);
            EXPECT_EQ(1, p->bDefErrors);
            EXPECT_EQ(1, p->bDefWarnings);
            EXPECT_EQ(1, p->bDefInfos);
            EXPECT_EQ(0, p->bAudibleAlert);
            EXPECT_EQ(0, p->bTrapNotification);
        }
    };
    expectPorts("after start-up");
    EXPECT_STREQ("PRN-ALPHA", gZUVMon.lppPorts[0]->szPortName);   // address order
    EXPECT_TRUE(RegKeyExists(PortKeyPath("PRN-ALPHA")));
    EXPECT_TRUE(RegKeyExists(PortKeyPath("beta-printer")));

    // Enumeration scans again; the printers are ports already.
    DWORD cbNeeded = 0, cReturned = 0;
    ZUVEnumPorts(NULL, 1, NULL, 0, &cbNeeded, &cReturned);
    std::vector<BYTE> buf(cbNeeded);
    ASSERT_TRUE(ZUVEnumPorts(NULL, 1, buf.data(), cbNeeded, &cbNeeded, &cReturned));
    EXPECT_EQ(2u, cReturned);
    expectPorts("after EnumPorts");

    // A restart with nothing on the network finds the ports in the store.
    ResetMonitorState();
    Configure(std::string(), NULL);
    ASSERT_TRUE(InitializeMonitorEx((LPSTR) "ignored", &table));
    expectPorts("after a restart");
    ResetMonitorState();
}

TEST_F(DiscoveryTest, SilentNetworkEndsWithinTwoTimeouts)
{
    // A whole /24 of loopback addresses with no agent behind any of them.
    Configure(SilentNet24(), "250");
    long long llStart = NowMs();
    RunResult r = RunLikeMonitor();
    long long llElapsed = NowMs() - llStart;
    EXPECT_TRUE(r.bHadList);
    EXPECT_TRUE(r.found.empty());
    EXPECT_LT(llElapsed, 2 * 250 + 1000);
}

TEST_F(DiscoveryTest, NothingConfiguredSendsNothing)
{
    Configure(std::string());
    ASSERT_EQ(0, Lib().init());
    void *pMask = (void *)&pMask;
    Lib().localMask(&pMask);
    EXPECT_EQ(nullptr, pMask);
    pMask = (void *)&pMask;
    Lib().dhcpMask(&pMask);
    EXPECT_EQ(nullptr, pMask);

    // The monitor stops here; a caller that goes on anyway gets no list,
    // and a scan of no list finds nothing.
    struct rip_params params;
    memset(&params, 0, sizeof(params));
    params.oid = ZUVSNMP_PRINTER_OID;
    void *pList = (void *)&pList;
    Lib().rip(&params, &pList);
    EXPECT_EQ(nullptr, pList);
    struct dev_entry *pFirst = (struct dev_entry *)&pFirst;
    Lib().devstatus(NULL, &pFirst);
    EXPECT_EQ(nullptr, pFirst);
    Lib().shutdown();
    EXPECT_EQ(0, Lib().liveBlocks());

    RunResult r = RunLikeMonitor();
    EXPECT_FALSE(r.bHadMask);
    EXPECT_TRUE(r.found.empty());
}

struct NetCase {
    const char *pszNetwork;
    const char *pszMask;      // NULL: refused
    int nHosts;
    const char *pszFirst;
    const char *pszLast;
};

std::string Dotted(unsigned int dw)
{
    char sz[20];
    snprintf(sz, sizeof(sz), "%u.%u.%u.%u", dw >> 24, (dw >> 16) & 255, (dw >> 8) & 255, dw & 255);
    return sz;
}

TEST_F(DiscoveryTest, NetworksAndTheirHosts)
{
    const NetCase aCases[] = {
        {"127.0.0.16/28", "127.0.0.16/28", 14, "127.0.0.17", "127.0.0.30"},
        {"127.0.0.20/28", "127.0.0.16/28", 14, "127.0.0.17", "127.0.0.30"},   // host bits cleared
        {" 127.0.9.0/24 ", "127.0.9.0/24", 254, "127.0.9.1", "127.0.9.254"},
        {"127.0.0.5", "127.0.0.5/32", 1, "127.0.0.5", "127.0.0.5"},
        {"127.0.0.5/32", "127.0.0.5/32", 1, "127.0.0.5", "127.0.0.5"},
        {"127.0.0.8/31", "127.0.0.8/31", 2, "127.0.0.8", "127.0.0.9"},
        {"127.0.0.8/30", "127.0.0.8/30", 2, "127.0.0.9", "127.0.0.10"},
        {"127.5.0.0/16", "127.5.0.0/16", 65534, "127.5.0.1", "127.5.255.254"},
        {"127.0.0.0/15", NULL, 0, NULL, NULL},     // too many hosts
        {"127.0.0.0/8", NULL, 0, NULL, NULL},
        {"10.0.0.0/24", NULL, 0, NULL, NULL},      // off the machine
        {"192.168.1.7/32", NULL, 0, NULL, NULL},
        {"128.0.0.1/32", NULL, 0, NULL, NULL},
        {"127.0.0.1/33", NULL, 0, NULL, NULL},
        {"127.0.0.256/24", NULL, 0, NULL, NULL},
        {"127.0.0/24", NULL, 0, NULL, NULL},
        {"127.0.0.1/", NULL, 0, NULL, NULL},
        {"127.0.0.1/24x", NULL, 0, NULL, NULL},
        {"0127.0.0.1/24", NULL, 0, NULL, NULL},
        {"printers", NULL, 0, NULL, NULL},
    };
    ASSERT_EQ(0, Lib().init());
    for (const NetCase &c : aCases) {
        SCOPED_TRACE(c.pszNetwork);
        Configure(c.pszNetwork);
        void *pMask = NULL;
        Lib().localMask(&pMask);
        struct rip_params params;
        memset(&params, 0, sizeof(params));
        snprintf(params.netmask, sizeof(params.netmask), "%s", c.pszNetwork);
        params.oid = ZUVSNMP_PRINTER_OID;
        void *pList = NULL;
        Lib().rip(&params, &pList);
        if (c.pszMask == NULL) {
            EXPECT_EQ(nullptr, pMask);
            EXPECT_EQ(nullptr, pList);
            continue;
        }
        ASSERT_NE(nullptr, pMask);
        EXPECT_STREQ(c.pszMask, (const char *)pMask);
        ASSERT_NE(nullptr, pList);
        ASSERT_EQ(c.nHosts, Lib().listCount(pList));
        EXPECT_EQ(c.pszFirst, Dotted(Lib().listAddr(pList, 0)));
        EXPECT_EQ(c.pszLast, Dotted(Lib().listAddr(pList, c.nHosts - 1)));
        EXPECT_EQ(0, Lib().freeList(pMask));
        EXPECT_EQ(0, Lib().freeList(pList));
    }
    Lib().shutdown();
    EXPECT_EQ(0, Lib().liveBlocks());
}

// The switch only lifts the loopback rule; nothing here is ever scanned.
TEST_F(DiscoveryTest, AllowAnyLiftsOnlyTheLoopbackRule)
{
    const struct {
        const char *pszAllow;
        bool bAllowed;
    } aCases[] = {{"1", true}, {"0", false}, {"yes", false}, {"", false}};
    ASSERT_EQ(0, Lib().init());
    for (const auto &c : aCases) {
        SCOPED_TRACE(c.pszAllow);
        Configure("10.1.2.0/24");
        setenv("ZUVSNMP_ALLOW_ANY", c.pszAllow, 1);
        void *pMask = NULL;
        Lib().localMask(&pMask);
        EXPECT_EQ(c.bAllowed, pMask != NULL);
        if (pMask != NULL) {
            EXPECT_STREQ("10.1.2.0/24", (const char *)pMask);
            EXPECT_EQ(0, Lib().freeList(pMask));
        }
        Configure("10.0.0.0/8");
        setenv("ZUVSNMP_ALLOW_ANY", c.pszAllow, 1);
        pMask = NULL;
        Lib().localMask(&pMask);
        EXPECT_EQ(nullptr, pMask) << "a /8 stays too large";
    }
    unsetenv("ZUVSNMP_ALLOW_ANY");
    Lib().shutdown();
    EXPECT_EQ(0, Lib().liveBlocks());
}

TEST_F(DiscoveryTest, BadArgumentsAreRefused)
{
    Configure("127.0.0.16/28");
    ASSERT_EQ(0, Lib().init());
    EXPECT_NE(0, Lib().localMask(NULL));
    EXPECT_NE(0, Lib().dhcpMask(NULL));
    void *pList = (void *)&pList;
    EXPECT_NE(0, Lib().rip(NULL, &pList));
    EXPECT_EQ(nullptr, pList);
    EXPECT_NE(0, Lib().devstatus(NULL, NULL));

    // Objects the library never handed out, and ones already handed back.
    int nForeign = 0;
    EXPECT_NE(0, Lib().freeList(NULL));
    EXPECT_NE(0, Lib().freeList(&nForeign));
    struct dev_entry *pFirst = (struct dev_entry *)&pFirst;
    EXPECT_NE(0, Lib().devstatus(&nForeign, &pFirst));
    EXPECT_EQ(nullptr, pFirst);
    void *pMask = NULL;
    Lib().localMask(&pMask);
    ASSERT_NE(nullptr, pMask);
    EXPECT_EQ(0, Lib().freeList(pMask));
    EXPECT_NE(0, Lib().freeList(pMask));

    // A netmask field without its NUL must not be read past its end.
    struct rip_params params;
    memset(params.netmask, '7', sizeof(params.netmask));
    params.oid = NULL;
    pList = (void *)&pList;
    Lib().rip(&params, &pList);
    EXPECT_EQ(nullptr, pList);
    Lib().shutdown();
    EXPECT_EQ(0, Lib().liveBlocks());
}

}  // namespace

#endif
