// dorve discovery-network: shows, sets or clears the network that the
// discovery library (zuvsnmp.dll) scans.  The library reads its own key,
// HKEY_LOCAL_MACHINE\SOFTWARE\zuvsnmp, value "Network" (REG_SZ, an IPv4
// CIDR), and lets ZUVSNMP_NETWORK override it; without either a search
// finds nothing and sends nothing.
#include "discoverycmds.h"

#include <windows.h>
#include <dorve/registry_host.h>

#include <stdint.h>
#include <stdlib.h>

#include <string>
#include <vector>

namespace dorve {

namespace {

const char kLibKey[] = "SOFTWARE\\zuvsnmp";
const char kNetworkValue[] = "Network";
const char kNetworkEnv[] = "ZUVSNMP_NETWORK";
const char kExampleNetwork[] = "127.0.0.16/28";
// The library refuses shorter prefixes (too many hosts for one run).
const int kMinPrefix = 16;

int UsageError(const std::string &sMessage)
{
    fprintf(stderr, "dorve: %s\n", sMessage.c_str());
    fprintf(stderr, "Try `dorve --help`.\n");
    return 2;
}

struct Network {
    uint32_t dwNet = 0;   // host bits cleared
    int nPrefix = 0;
};

bool ParseOctets(const char *&p, uint32_t &dwAddr)
{
    dwAddr = 0;
    for (int i = 0; i < 4; i++) {
        if (i > 0 && *p++ != '.')
            return false;
        unsigned u = 0;
        int nDigits = 0;
        while (*p >= '0' && *p <= '9' && nDigits < 4) {
            u = u * 10 + (unsigned)(*p++ - '0');
            nDigits++;
        }
        if (nDigits == 0 || nDigits > 3 || u > 255)
            return false;
        dwAddr = (dwAddr << 8) | u;
    }
    return true;
}

// "a.b.c.d/n" exactly: a network needs its prefix length.
bool ParseNetwork(const std::string &s, Network &net)
{
    const char *p = s.c_str();
    uint32_t dwAddr = 0;
    if (!ParseOctets(p, dwAddr) || *p++ != '/')
        return false;
    int nPrefix = 0, nDigits = 0;
    while (*p >= '0' && *p <= '9' && nDigits < 3) {
        nPrefix = nPrefix * 10 + (*p++ - '0');
        nDigits++;
    }
    if (nDigits == 0 || *p != '\0' || nPrefix > 32)
        return false;
    uint32_t dwMask = nPrefix == 0 ? 0 : 0xFFFFFFFFu << (32 - nPrefix);
    net.dwNet = dwAddr & dwMask;
    net.nPrefix = nPrefix;
    return true;
}

std::string FormatNetwork(const Network &net)
{
    char sz[32];
    snprintf(sz, sizeof(sz), "%u.%u.%u.%u/%d", (unsigned)(net.dwNet >> 24), (unsigned)((net.dwNet >> 16) & 255),
             (unsigned)((net.dwNet >> 8) & 255), (unsigned)(net.dwNet & 255), net.nPrefix);
    return sz;
}

// As the library counts them: a /31 or /32 has no network and broadcast
// addresses to leave out.
unsigned long long HostCount(const Network &net)
{
    unsigned long long ullSize = 1ull << (32 - net.nPrefix);
    return net.nPrefix >= 31 ? ullSize : ullSize - 2;
}

bool AllowAnyNetwork()
{
    const char *psz = getenv("ZUVSNMP_ALLOW_ANY");
    return psz != nullptr && std::string(psz) == "1";
}

std::string EnvNetwork()
{
    const char *psz = getenv(kNetworkEnv);
    return psz != nullptr ? psz : "";
}

// The stored value as the library reads it: text of fewer than 64 bytes.
// bPresent tells a value of another type or size from no value at all.
std::string StoredNetwork(bool &bPresent)
{
    bPresent = false;
    HKEY hKey;
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, kLibKey, 0, KEY_READ, &hKey) != ERROR_SUCCESS)
        return "";
    char szValue[64];
    DWORD dwType = 0, cb = sizeof(szValue) - 1;
    LONG lRc = RegQueryValueExA(hKey, kNetworkValue, nullptr, &dwType, (LPBYTE)szValue, &cb);
    RegCloseKey(hKey);
    if (lRc == ERROR_MORE_DATA) {
        bPresent = true;
        return "";
    }
    if (lRc != ERROR_SUCCESS)
        return "";
    bPresent = true;
    if (dwType != REG_SZ || cb >= sizeof(szValue))
        return "";
    szValue[cb] = '\0';
    return szValue;
}

// Why the library would not scan this text: one line each, none when it
// would.
std::vector<std::string> ScanProblems(const std::string &sText)
{
    std::vector<std::string> v;
    Network net;
    if (!ParseNetwork(sText, net)) {
        v.push_back("it is not an IPv4 network in CIDR form such as " + std::string(kExampleNetwork) +
                    ", so a search finds no printers");
        return v;
    }
    if ((net.dwNet >> 24) != 127 && !AllowAnyNetwork())
        v.push_back("the discovery library scans only 127.0.0.0/8 unless ZUVSNMP_ALLOW_ANY=1 is set in its "
                    "environment, so without it a search of this network finds no printers and sends nothing");
    if (net.nPrefix < kMinPrefix)
        v.push_back("the discovery library refuses networks shorter than /16 (more than 65534 hosts) in every "
                    "case, so a search of this network finds no printers and sends nothing");
    return v;
}

// True when there was nothing to say.
bool PrintScanProblems(const std::string &sText)
{
    std::vector<std::string> v = ScanProblems(sText);
    for (const std::string &s : v)
        printf("Note: %s.\n", s.c_str());
    return v.empty();
}

void PrintHowToConfigure()
{
    printf("Set one with `dorve discovery-network %s` (an IPv4 network in CIDR form; the discovery "
           "library scans only 127.0.0.0/8 unless ZUVSNMP_ALLOW_ANY=1 is set), or set %s for one run.\n",
           kExampleNetwork, kNetworkEnv);
}

void PrintEnvOverride()
{
    std::string sEnv = EnvNetwork();
    if (!sEnv.empty())
        printf("Note: %s=%s is set in the environment and overrides the registry value.\n", kNetworkEnv,
               sEnv.c_str());
}

int ShowNetwork()
{
    bool bPresent = false;
    std::string sStored = StoredNetwork(bPresent);
    std::string sEnv = EnvNetwork();
    if (!sStored.empty())
        printf("Discovery network: %s (HKEY_LOCAL_MACHINE\\%s \"%s\" in %s).\n", sStored.c_str(), kLibKey,
               kNetworkValue, DorveRegistryFile());
    else if (bPresent)
        printf("The registry value HKEY_LOCAL_MACHINE\\%s \"%s\" is not text of at most 63 characters; the "
               "discovery library ignores it.\n",
               kLibKey, kNetworkValue);
    if (!sEnv.empty()) {
        if (!sStored.empty())
            printf("%s=%s is set in the environment and overrides it: searches scan %s.\n", kNetworkEnv,
                   sEnv.c_str(), sEnv.c_str());
        else
            printf("Discovery network: %s, from %s in the environment; none is stored in the registry.\n",
                   sEnv.c_str(), kNetworkEnv);
        PrintScanProblems(sEnv);
        return 0;
    }
    if (sStored.empty()) {
        printf("No discovery network is configured: a search finds no printers.\n");
        PrintHowToConfigure();
        return 1;
    }
    PrintScanProblems(sStored);
    return 0;
}

int SetNetwork(const std::string &sText)
{
    Network net;
    if (!ParseNetwork(sText, net))
        return UsageError("discovery-network: \"" + sText + "\" is not an IPv4 network in CIDR form such as " +
                          kExampleNetwork + " (four numbers 0 to 255, a slash, a prefix length 0 to 32)");
    std::string sNetwork = FormatNetwork(net);
    HKEY hKey;
    DWORD dwDisposition = 0;
    LONG lRc = RegCreateKeyExA(HKEY_LOCAL_MACHINE, kLibKey, 0, nullptr, 0, KEY_SET_VALUE, nullptr, &hKey,
                               &dwDisposition);
    if (lRc == ERROR_SUCCESS) {
        lRc = RegSetValueExA(hKey, kNetworkValue, 0, REG_SZ, (const BYTE *)sNetwork.c_str(),
                             (DWORD)sNetwork.size() + 1);
        RegCloseKey(hKey);
    }
    if (lRc != ERROR_SUCCESS) {
        printf("Not set: the registry could not be written (error %ld); check that the registry file is "
               "writable.\n",
               (long)lRc);
        return 1;
    }
    std::string sGiven = sNetwork != sText ? " (given as " + sText + ")" : "";
    if (ScanProblems(sNetwork).empty())
        printf("Discovery network set to %s%s: a search asks its %llu host address%s.\n", sNetwork.c_str(),
               sGiven.c_str(), HostCount(net), HostCount(net) == 1 ? "" : "es");
    else
        printf("Discovery network set to %s%s.\n", sNetwork.c_str(), sGiven.c_str());
    PrintScanProblems(sNetwork);
    PrintEnvOverride();
    return 0;
}

int ClearNetwork()
{
    HKEY hKey;
    LONG lRc = RegOpenKeyExA(HKEY_LOCAL_MACHINE, kLibKey, 0, KEY_SET_VALUE, &hKey);
    if (lRc == ERROR_SUCCESS) {
        lRc = RegDeleteValueA(hKey, kNetworkValue);
        RegCloseKey(hKey);
    }
    if (lRc == ERROR_FILE_NOT_FOUND) {
        printf("No discovery network was stored; nothing to clear.\n");
    } else if (lRc != ERROR_SUCCESS) {
        printf("Not cleared: the registry could not be written (error %ld); check that the registry file is "
               "writable.\n",
               (long)lRc);
        return 1;
    } else {
        printf("Discovery network cleared: a search finds no printers until one is set again.\n");
    }
    PrintEnvOverride();
    return 0;
}

}  // namespace

bool IsDiscoveryCommand(const std::string &sCommand)
{
    return sCommand == "discovery-network";
}

int RunDiscoveryCommand(const std::string &, const std::vector<std::string> &args)
{
    if (args.empty())
        return ShowNetwork();
    if (args.size() != 1)
        return UsageError("usage: dorve discovery-network [CIDR|--clear]");
    if (args[0] == "--clear")
        return ClearNetwork();
    if (args[0].size() > 1 && args[0][0] == '-')
        return UsageError("discovery-network: unknown option \"" + args[0] + "\"");
    return SetNetwork(args[0]);
}

bool DiscoveryNetworkConfigured()
{
    bool bPresent = false;
    return !EnvNetwork().empty() || !StoredNetwork(bPresent).empty();
}

int ReportNoDiscoveryNetwork(const char *pszWhat)
{
    printf("Not %s: no discovery network is configured, so a search would find no printers.\n", pszWhat);
    PrintHowToConfigure();
    return 1;
}

void DiscoveryCommandsUsage(FILE *f)
{
    fprintf(f,
            "\n"
            "Discovery settings:\n"
            "  discovery-network [CIDR|--clear]\n"
            "                          show, set or clear the network that a search scans for\n"
            "                          printers over SNMP, e.g. 127.0.0.16/28 (stored in\n"
            "                          HKEY_LOCAL_MACHINE\\SOFTWARE\\zuvsnmp \"Network\";\n"
            "                          ZUVSNMP_NETWORK overrides it). The discovery library\n"
            "                          scans only 127.0.0.0/8 unless ZUVSNMP_ALLOW_ANY=1 is\n"
            "                          set, and never a prefix shorter than /16. Showing exits\n"
            "                          1 when no network is configured.\n");
}

}  // namespace dorve
