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

#include <string>
#include <vector>

#include "snmp/snmp_agents.h"
#include "zuvsnmp.h"
#include "zuvsnmp_hooks.h"

extern "C" {
int auto_tcp_init(void);
int getLocalNetMask(void **ppMask);
int getDHCPNetMask(void **ppMask);
int auto_tcp_rip(struct rip_params *pParams, void **ppList);
int auto_tcp_devstatus(void *pList, struct dev_entry **ppFirst);
int free_iplist(void *pObject);
int auto_tcp_shutdown(void);
}

namespace {

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
void Configure(const char *pszNetwork, const char *pszTimeoutMs = "300", const char *pszCommunity = NULL)
{
    if (pszNetwork != NULL)
        setenv("ZUVSNMP_NETWORK", pszNetwork, 1);
    else
        unsetenv("ZUVSNMP_NETWORK");
    setenv("ZUVSNMP_TIMEOUT_MS", pszTimeoutMs, 1);
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
    RunResult r;
    EXPECT_EQ(0, auto_tcp_init());
    void *pMask = NULL;
    getLocalNetMask(&pMask);
    if (pMask == NULL)
        getDHCPNetMask(&pMask);
    if (pMask == NULL) {
        auto_tcp_shutdown();
        return r;
    }
    r.bHadMask = true;
    r.strMask = (const char *)pMask;

    struct rip_params params;
    memset(&params, 0xAB, sizeof(params));
    snprintf(params.netmask, sizeof(params.netmask), "%s", (const char *)pMask);
    params.oid = ZUVSNMP_PRINTER_OID;
    void *pList = NULL;
    auto_tcp_rip(&params, &pList);
    r.bHadList = pList != NULL;
    struct dev_entry *pFirst = NULL;
    auto_tcp_devstatus(pList, &pFirst);
    EXPECT_EQ(0, free_iplist(pMask));
    if (pList != NULL) {
        EXPECT_EQ(0, free_iplist(pList));
    }
    auto_tcp_shutdown();

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

class DiscoveryAgents : public ::testing::Test {
protected:
    static void SetUpTestSuite()
    {
        gstrDir = MakeAgentDir();
        if (gstrDir.empty()) {
            gstrError = "cannot create a temporary directory for the agents";
            return;
        }
        struct AgentSpec {
            const char *pszAddr;
            std::string strConfig;
        };
        const AgentSpec aSpecs[] = {
            // 127.0.0.16/28: a printer by its identifier, one by its device
            // type only, one plain host; .20 to .30 stay silent.
            {"127.0.0.17", std::string("sysName alpha-host\n") + kIdentOverride + "octet_str \"PRN-ALPHA\"\n"},
            {"127.0.0.18", std::string("sysName beta-printer\n") + kPrinterType},
            {"127.0.0.19", "sysName gamma-host\n"},
            // 127.0.0.32/29: names that need care.
            {"127.0.0.33", std::string("sysName long-host\n") + kIdentOverride + "octet_str \"" + kLongName + "\"\n"},
            {"127.0.0.34", std::string("sysName int-host\n") + kIdentOverride + "integer 7\n"
                               + "override 1.3.6.1.2.1.25.3.2.1.2.1 object_id 1.3.6.1.2.1.25.3.1.3\n"},
            {"127.0.0.35", std::string("sysName x\n") + kIdentOverride + "octet_str \"\"\n" + kPrinterType},
        };
        for (const AgentSpec &spec : aSpecs) {
            SnmpAgent agent;
            if (!StartSnmpAgent(gstrDir, spec.pszAddr, spec.strConfig, &agent, &gstrError))
                return;
            gAgents.push_back(agent);
        }
        if (WaitSnmpAgents(&gAgents, gstrDir, 10000, &gstrError))
            gbUp = true;
    }

    static void TearDownTestSuite()
    {
        for (SnmpAgent &agent : gAgents)
            StopSnmpAgent(&agent);
        gAgents.clear();
        RemoveAgentDir(gstrDir);
    }

    void SetUp() override { ASSERT_TRUE(gbUp) << gstrError; }

    static bool gbUp;
    static std::string gstrError;
    static std::string gstrDir;
    static std::vector<SnmpAgent> gAgents;
};

bool DiscoveryAgents::gbUp;
std::string DiscoveryAgents::gstrError;
std::string DiscoveryAgents::gstrDir;
std::vector<SnmpAgent> DiscoveryAgents::gAgents;

TEST_F(DiscoveryAgents, FindsExactlyThePrintersInAddressOrder)
{
    Configure("127.0.0.16/28", "400");
    long long llStart = NowMs();
    RunResult r = RunLikeMonitor();
    long long llElapsed = NowMs() - llStart;

    EXPECT_EQ("127.0.0.16/28", r.strMask);
    EXPECT_TRUE(r.bHadList);
    std::vector<Found> want = {{"127.0.0.17", "PRN-ALPHA"}, {"127.0.0.18", "beta-printer"}};
    EXPECT_EQ(want, r.found);
    // Eleven silent hosts must not stretch the run past two tries.
    EXPECT_LT(llElapsed, 2 * 400 + 1000);
}

TEST_F(DiscoveryAgents, NamesAreCutWholeAndOnlyTextIdentifiersCount)
{
    Configure("127.0.0.32/29", "400");
    RunResult r = RunLikeMonitor();

    // .33: 60 bytes of 3-byte characters cut to 16 whole ones (48 bytes).
    // .34: an INTEGER identifier and another device type: no printer.
    // .35: an empty identifier text falls back to sysName.
    std::vector<Found> want = {{"127.0.0.33", std::string(kLongName, 48)}, {"127.0.0.35", "x"}};
    EXPECT_EQ(want, r.found);
}

TEST_F(DiscoveryAgents, WrongCommunityFindsNothing)
{
    Configure("127.0.0.16/28", "200", "not-public");
    RunResult r = RunLikeMonitor();
    EXPECT_TRUE(r.bHadList);
    EXPECT_TRUE(r.found.empty());
}

TEST_F(DiscoveryAgents, SingleHostNetwork)
{
    Configure("127.0.0.17/32", "300");
    RunResult r = RunLikeMonitor();
    EXPECT_EQ("127.0.0.17/32", r.strMask);
    std::vector<Found> want = {{"127.0.0.17", "PRN-ALPHA"}};
    EXPECT_EQ(want, r.found);
}

TEST_F(DiscoveryAgents, RepeatedRunsLoseNoMemory)
{
    Configure("127.0.0.16/28", "200");
    std::vector<Found> want = {{"127.0.0.17", "PRN-ALPHA"}, {"127.0.0.18", "beta-printer"}};
    for (int i = 0; i < 4; i++) {
        RunResult r = RunLikeMonitor();
        EXPECT_EQ(want, r.found) << "run " << i;
        // Only the result list that the monitor is still walking is held.
        EXPECT_EQ(1, zuvsnmp_live_blocks()) << "run " << i;
    }
    EXPECT_EQ(0, auto_tcp_init());
    EXPECT_EQ(0, zuvsnmp_live_blocks());
    auto_tcp_shutdown();
}

TEST(DiscoveryBound, SilentNetworkEndsWithinTwoTimeouts)
{
    // A whole /24 of loopback addresses with no agent behind any of them.
    Configure("127.0.1.0/24", "250");
    long long llStart = NowMs();
    RunResult r = RunLikeMonitor();
    long long llElapsed = NowMs() - llStart;
    EXPECT_TRUE(r.bHadList);
    EXPECT_TRUE(r.found.empty());
    EXPECT_LT(llElapsed, 2 * 250 + 1000);
}

TEST(DiscoveryConfig, NothingConfiguredSendsNothing)
{
    Configure(NULL);
    ASSERT_EQ(0, auto_tcp_init());
    void *pMask = (void *)&pMask;
    getLocalNetMask(&pMask);
    EXPECT_EQ(nullptr, pMask);
    pMask = (void *)&pMask;
    getDHCPNetMask(&pMask);
    EXPECT_EQ(nullptr, pMask);

    // The monitor stops here; a caller that goes on anyway gets no list,
    // and a scan of no list finds nothing.
    struct rip_params params;
    memset(&params, 0, sizeof(params));
    params.oid = ZUVSNMP_PRINTER_OID;
    void *pList = (void *)&pList;
    auto_tcp_rip(&params, &pList);
    EXPECT_EQ(nullptr, pList);
    struct dev_entry *pFirst = (struct dev_entry *)&pFirst;
    auto_tcp_devstatus(NULL, &pFirst);
    EXPECT_EQ(nullptr, pFirst);
    auto_tcp_shutdown();
    EXPECT_EQ(0, zuvsnmp_live_blocks());

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

TEST(DiscoveryConfig, NetworksAndTheirHosts)
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
    ASSERT_EQ(0, auto_tcp_init());
    for (const NetCase &c : aCases) {
        SCOPED_TRACE(c.pszNetwork);
        Configure(c.pszNetwork);
        void *pMask = NULL;
        getLocalNetMask(&pMask);
        struct rip_params params;
        memset(&params, 0, sizeof(params));
        snprintf(params.netmask, sizeof(params.netmask), "%s", c.pszNetwork);
        params.oid = ZUVSNMP_PRINTER_OID;
        void *pList = NULL;
        auto_tcp_rip(&params, &pList);
        if (c.pszMask == NULL) {
            EXPECT_EQ(nullptr, pMask);
            EXPECT_EQ(nullptr, pList);
            continue;
        }
        ASSERT_NE(nullptr, pMask);
        EXPECT_STREQ(c.pszMask, (const char *)pMask);
        ASSERT_NE(nullptr, pList);
        ASSERT_EQ(c.nHosts, zuvsnmp_iplist_count(pList));
        EXPECT_EQ(c.pszFirst, Dotted(zuvsnmp_iplist_addr(pList, 0)));
        EXPECT_EQ(c.pszLast, Dotted(zuvsnmp_iplist_addr(pList, c.nHosts - 1)));
        EXPECT_EQ(0, free_iplist(pMask));
        EXPECT_EQ(0, free_iplist(pList));
    }
    auto_tcp_shutdown();
    EXPECT_EQ(0, zuvsnmp_live_blocks());
}

// The switch only lifts the loopback rule; nothing here is ever scanned.
TEST(DiscoveryConfig, AllowAnyLiftsOnlyTheLoopbackRule)
{
    const struct {
        const char *pszAllow;
        bool bAllowed;
    } aCases[] = {{"1", true}, {"0", false}, {"yes", false}, {"", false}};
    ASSERT_EQ(0, auto_tcp_init());
    for (const auto &c : aCases) {
        SCOPED_TRACE(c.pszAllow);
        Configure("10.1.2.0/24");
        setenv("ZUVSNMP_ALLOW_ANY", c.pszAllow, 1);
        void *pMask = NULL;
        getLocalNetMask(&pMask);
        EXPECT_EQ(c.bAllowed, pMask != NULL);
        if (pMask != NULL) {
            EXPECT_STREQ("10.1.2.0/24", (const char *)pMask);
            EXPECT_EQ(0, free_iplist(pMask));
        }
        Configure("10.0.0.0/8");
        setenv("ZUVSNMP_ALLOW_ANY", c.pszAllow, 1);
        pMask = NULL;
        getLocalNetMask(&pMask);
        EXPECT_EQ(nullptr, pMask) << "a /8 stays too large";
    }
    unsetenv("ZUVSNMP_ALLOW_ANY");
    auto_tcp_shutdown();
    EXPECT_EQ(0, zuvsnmp_live_blocks());
}

TEST(DiscoveryEntries, BadArgumentsAreRefused)
{
    Configure("127.0.0.16/28");
    ASSERT_EQ(0, auto_tcp_init());
    EXPECT_NE(0, getLocalNetMask(NULL));
    EXPECT_NE(0, getDHCPNetMask(NULL));
    void *pList = (void *)&pList;
    EXPECT_NE(0, auto_tcp_rip(NULL, &pList));
    EXPECT_EQ(nullptr, pList);
    EXPECT_NE(0, auto_tcp_devstatus(NULL, NULL));

    // Objects the library never handed out, and ones already handed back.
    int nForeign = 0;
    EXPECT_NE(0, free_iplist(NULL));
    EXPECT_NE(0, free_iplist(&nForeign));
    struct dev_entry *pFirst = (struct dev_entry *)&pFirst;
    EXPECT_NE(0, auto_tcp_devstatus(&nForeign, &pFirst));
    EXPECT_EQ(nullptr, pFirst);
    void *pMask = NULL;
    getLocalNetMask(&pMask);
    ASSERT_NE(nullptr, pMask);
    EXPECT_EQ(0, free_iplist(pMask));
    EXPECT_NE(0, free_iplist(pMask));

    // A netmask field without its NUL must not be read past its end.
    struct rip_params params;
    memset(params.netmask, '7', sizeof(params.netmask));
    params.oid = NULL;
    pList = (void *)&pList;
    auto_tcp_rip(&params, &pList);
    EXPECT_EQ(nullptr, pList);
    auto_tcp_shutdown();
    EXPECT_EQ(0, zuvsnmp_live_blocks());
}

}  // namespace

#endif
