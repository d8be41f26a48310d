// dorve's discovery commands end to end: the program as built, the monitor
// it starts and the real discovery library, against real snmpd agents on
// loopback addresses of this test program's own.  Every network a search
// may scan here lies inside 127.0.0.0/8.
#include <gtest/gtest.h>

#include <libgen.h>
#include <limits.h>
#include <stdlib.h>
#include <sys/wait.h>
#include <unistd.h>

#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "snmp/snmp_agents.h"
#include "testlib.h"

namespace {

// Without net-snmp for the build's word size there is no library: only the
// commands' own work is tested then.
#ifdef ZUVSNMP_UNAVAILABLE
const bool kLibraryBuilt = false;
#else
const bool kLibraryBuilt = true;
#endif
const char kNoLibrary[] = "libzuvsnmp.so is not part of this build: no net-snmp library for its word size";

std::string ReadWholeFile(const std::string &path)
{
    std::ifstream in(path, std::ios::binary);
    std::stringstream ss;
    ss << in.rdbuf();
    return ss.str();
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

// 127.A.B.16/28 of this process, A from 222 to 251: the library's own test
// and the benchmark take theirs below 222, so programs run side by side
// never share an agent's port 161.
std::string Addr(int nLast)
{
    int nA = 222 + (int)((getpid() / 250) % 30);
    int nB = (int)(getpid() % 250);
    return "127." + std::to_string(nA) + "." + std::to_string(nB) + "." + std::to_string(nLast);
}

std::string Network()
{
    return Addr(16) + "/28";
}

// .17 answers the monitor's identifier with its name, .18 is a printer by
// its device type only, .19 is no printer, .20 to .30 stay silent.
struct Agents : SnmpAgentSet {
    void Start()
    {
        SnmpAgentSet::Start({
            {Addr(17), "sysName alpha-host\noverride 1.3.6.1.4.1.480.1.1.1005.0 octet_str \"PRN-ALPHA\"\n"},
            {Addr(18), "sysName beta-printer\noverride 1.3.6.1.2.1.25.3.2.1.2.1 object_id 1.3.6.1.2.1.25.3.1.5\n"},
            {Addr(19), "sysName gamma-host\n"},
        });
    }
};

Agents gAgents;

class AgentsEnvironment : public ::testing::Environment {
public:
    void TearDown() override { gAgents.Stop(); }
};

::testing::Environment *const gpAgentsEnv = ::testing::AddGlobalTestEnvironment(new AgentsEnvironment);

struct Result {
    int rc = -1;
    std::string out, err;
};

const char kLocalPorts[] = "LPT1:\nLPT2:\nCOM1:\nFILE:\n";
const char kHowTo[] = "dorve discovery-network 127.0.0.16/28";
const char kNothingNew[] = "Search done: no new printer was found on the network.\n";

class DiscoveryDorve : public ::testing::Test {
protected:
    void SetUp() override
    {
        Result r = Run({"monitors", "add", "Dorve Port", "DORVEMON.DLL"});
        ASSERT_EQ(r.rc, 0) << r.out << r.err;
    }

    // The configuration comes only from the registry file unless a test
    // gives the environment; a short time-out keeps a /28 scan under a
    // second.
    Result Run(const std::vector<std::string> &args, const std::string &sEnv = "")
    {
        std::string bin = ProgramDir();
        std::string cmd = "env -u ZUVSNMP_NETWORK -u ZUVSNMP_ALLOW_ANY -u ZUVSNMP_COMMUNITY "
                          "ZUVSNMP_TIMEOUT_MS=300 DORVE_RESOLVER=local DORVE_LIBPATH=" +
                          Quote(bin + "/../lib") + " " + sEnv + " " + Quote(bin + "/dorve") + " --registry " +
                          Quote(registry_);
        for (const std::string &a : args)
            cmd += " " + Quote(a);
        std::string sOut = dir_.path() + "/out", sErr = dir_.path() + "/err";
        cmd += " </dev/null >" + Quote(sOut) + " 2>" + Quote(sErr);
        Result r;
        int status = system(cmd.c_str());
        r.rc = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
        r.out = ReadWholeFile(sOut);
        r.err = ReadWholeFile(sErr);
        return r;
    }

    std::string Ports()
    {
        Result r = Run({"ports"});
        EXPECT_EQ(r.rc, 0) << r.err;
        return r.out;
    }

    // The Dorve ports after the local ones, in the order a start reads
    // them from the registry (its keys sort without regard to case).
    std::string PortsWith(const std::string &sDorvePorts) { return std::string(kLocalPorts) + sDorvePorts; }

    // The port's key as the registry file holds it, up to the next blank
    // line.
    std::string PortSection(const std::string &name)
    {
        std::string file = ReadWholeFile(registry_);
        std::string header = "\\ZUV Port\\Ports\\" + name + "]\n";
        size_t at = file.find(header);
        if (at == std::string::npos)
            return "";
        size_t end = file.find("\n\n", at);
        return file.substr(at + header.size(), end == std::string::npos ? std::string::npos
                                                                         : end - at - header.size() + 1);
    }

    bool FileHas(const std::string &s) { return ReadWholeFile(registry_).find(s) != std::string::npos; }

    dorvetest::TempDir dir_;
    std::string registry_ = dir_.path() + "/registry.reg";
};

class DiscoveryDorveAgents : public DiscoveryDorve {
protected:
    void SetUp() override
    {
        if (!kLibraryBuilt)
            GTEST_SKIP() << kNoLibrary;
        if (!gAgents.bTried)
            gAgents.Start();
        ASSERT_TRUE(gAgents.bUp) << gAgents.strError;
        DiscoveryDorve::SetUp();
    }
};

TEST_F(DiscoveryDorveAgents, SearchMakesThePrintersPortsOnceAndTheySurviveARestart)
{
    Result r = Run({"discovery-network", Network()});
    ASSERT_EQ(r.rc, 0) << r.out << r.err;
    EXPECT_TRUE(FileHas("[HKEY_LOCAL_MACHINE\\SOFTWARE\\zuvsnmp]\n\"Network\"=\"" + Network() + "\"\n"));

    r = Run({"search"});
    EXPECT_EQ(r.rc, 0) << r.out << r.err;
    EXPECT_EQ(r.out, "Search done: 2 new ports: PRN-ALPHA beta-printer\n");
    // Default settings are not written: a restart gives them again.
    EXPECT_EQ(PortSection("PRN-ALPHA"), "\"IPAddress\"=\"" + Addr(17) + "\"\n");
    EXPECT_EQ(PortSection("beta-printer"), "\"IPAddress\"=\"" + Addr(18) + "\"\n");
    EXPECT_EQ(PortSection("gamma-host"), "");

    // Each command is a new start of the spooler.
    std::string sPorts = PortsWith("beta-printer\nPRN-ALPHA\n");
    EXPECT_EQ(Ports(), sPorts);

    std::string sBefore = ReadWholeFile(registry_);
    r = Run({"search"});
    EXPECT_EQ(r.rc, 0) << r.out << r.err;
    EXPECT_EQ(r.out, kNothingNew);
    EXPECT_EQ(ReadWholeFile(registry_), sBefore);
    EXPECT_EQ(Ports(), sPorts);
}

TEST_F(DiscoveryDorveAgents, APrinterNamedAsAPortLeavesThePortAlone)
{
    ASSERT_EQ(Run({"add-port", "PRN-ALPHA", "127.0.0.5"}).rc, 0);
    std::string sSection = PortSection("PRN-ALPHA");
    ASSERT_NE(sSection.find("\"IPAddress\"=\"127.0.0.5\""), std::string::npos) << sSection;
    ASSERT_EQ(Run({"discovery-network", Network()}).rc, 0);

    Result r = Run({"search"});
    EXPECT_EQ(r.rc, 0) << r.out << r.err;
    EXPECT_EQ(r.out, "Search done: 1 new port: beta-printer\n");
    EXPECT_EQ(PortSection("PRN-ALPHA"), sSection);
    EXPECT_EQ(Ports(), PortsWith("beta-printer\nPRN-ALPHA\n"));
}

// The environment wins over the registry, as in the library: a stored
// network it refuses does not stop a search of the one in the environment.
TEST_F(DiscoveryDorveAgents, TheEnvironmentOverridesTheStoredNetwork)
{
    ASSERT_EQ(Run({"discovery-network", "10.0.0.0/8"}).rc, 0);
    std::string sEnv = "ZUVSNMP_NETWORK=" + Network();
    Result r = Run({"discovery-network"}, sEnv);
    EXPECT_EQ(r.rc, 0);
    EXPECT_NE(r.out.find("Discovery network: 10.0.0.0/8"), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("ZUVSNMP_NETWORK=" + Network() + " is set in the environment and overrides it"),
              std::string::npos)
        << r.out;

    r = Run({"search"}, sEnv);
    EXPECT_EQ(r.rc, 0) << r.out << r.err;
    EXPECT_EQ(r.out, "Search done: 2 new ports: PRN-ALPHA beta-printer\n");
}

// 10.0.0.0/8 is off the machine and too large: it is stored as asked, but
// the library sends nothing to it and the search finds nothing.
TEST_F(DiscoveryDorve, ARefusedNetworkIsStoredButNotScanned)
{
    if (!kLibraryBuilt)
        GTEST_SKIP() << kNoLibrary;
    Result r = Run({"discovery-network", "10.0.0.0/8"});
    EXPECT_EQ(r.rc, 0) << r.err;
    EXPECT_NE(r.out.find("only 127.0.0.0/8 unless ZUVSNMP_ALLOW_ANY=1 is set"), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("shorter than /16"), std::string::npos) << r.out;
    EXPECT_TRUE(FileHas("\"Network\"=\"10.0.0.0/8\"\n"));

    r = Run({"search"});
    EXPECT_EQ(r.rc, 0) << r.out << r.err;
    EXPECT_EQ(r.out, kNothingNew);
    EXPECT_NE(r.err.find("zuvsnmp: network \"10.0.0.0/8\" refused"), std::string::npos) << r.err;
    EXPECT_EQ(Ports(), kLocalPorts);
}

TEST_F(DiscoveryDorve, WithoutANetworkSearchSaysHowToSetOne)
{
    Result r = Run({"search"});
    EXPECT_EQ(r.rc, 1);
    EXPECT_EQ(r.out.find("Not searched: no discovery network is configured"), 0u) << r.out;
    EXPECT_NE(r.out.find(kHowTo), std::string::npos) << r.out;
    EXPECT_EQ(Ports(), kLocalPorts);

    r = Run({"discovery-network"});
    EXPECT_EQ(r.rc, 1);
    EXPECT_EQ(r.out.find("No discovery network is configured"), 0u) << r.out;
    EXPECT_NE(r.out.find(kHowTo), std::string::npos) << r.out;
}

TEST_F(DiscoveryDorve, SetShowAndClear)
{
    // A host of the network stands for it; the stored text is the network.
    Result r = Run({"discovery-network", "127.0.0.17/28"});
    EXPECT_EQ(r.rc, 0) << r.err;
    EXPECT_EQ(r.out, "Discovery network set to 127.0.0.16/28 (given as 127.0.0.17/28): a search asks its 14 "
                     "host addresses.\n");
    EXPECT_TRUE(FileHas("\"Network\"=\"127.0.0.16/28\"\n"));

    r = Run({"discovery-network"});
    EXPECT_EQ(r.rc, 0);
    EXPECT_EQ(r.out.find("Discovery network: 127.0.0.16/28 (HKEY_LOCAL_MACHINE\\SOFTWARE\\zuvsnmp \"Network\""),
              0u)
        << r.out;

    r = Run({"discovery-network"}, "ZUVSNMP_NETWORK=127.0.0.32/29");
    EXPECT_EQ(r.rc, 0);
    EXPECT_NE(r.out.find("ZUVSNMP_NETWORK=127.0.0.32/29 is set in the environment and overrides it"),
              std::string::npos)
        << r.out;

    r = Run({"discovery-network", "--clear"});
    EXPECT_EQ(r.rc, 0);
    EXPECT_EQ(r.out, "Discovery network cleared: a search finds no printers until one is set again.\n");
    EXPECT_FALSE(FileHas("\"Network\""));
    r = Run({"discovery-network", "--clear"});
    EXPECT_EQ(r.rc, 0);
    EXPECT_EQ(r.out, "No discovery network was stored; nothing to clear.\n");

    r = Run({"search"}, "ZUVSNMP_NETWORK=127.0.0.32/29");
    EXPECT_EQ(r.out.find("Not searched"), std::string::npos) << "the environment alone configures a network";
}

TEST_F(DiscoveryDorve, BadNetworksAreUsageErrorsAndKeepTheStoredOne)
{
    ASSERT_EQ(Run({"discovery-network", "127.0.0.16/28"}).rc, 0);
    const std::vector<std::vector<std::string>> aCases = {
        {"127.0.0.16"},        {"127.0.0.16/33"},   {"127.0.0.256/28"}, {"127.0.0/24"},
        {"127.0.0.16/28/1"},   {"127.0.0.16/"},     {" 127.0.0.16/28"}, {"127.0.0.0016/28"},
        {"localhost/28"},      {""},                {"--bogus"},        {"127.0.0.16/28", "127.0.0.32/28"},
    };
    for (const auto &args : aCases) {
        std::vector<std::string> cmd = {"discovery-network"};
        cmd.insert(cmd.end(), args.begin(), args.end());
        Result r = Run(cmd);
        EXPECT_EQ(r.rc, 2) << "\"" << args[0] << "\"";
        EXPECT_EQ(r.err.find("dorve: "), 0u) << r.err;
        EXPECT_TRUE(FileHas("\"Network\"=\"127.0.0.16/28\"\n")) << "\"" << args[0] << "\"";
    }
}

}  // namespace
