// The installer utility ZUVUTIL, loaded by name as a setup program loads
// it, against the spooler model and the real monitor on a registry file of
// the test's own; then the dorve commands that call it.
#include <gtest/gtest.h>

#include <windows.h>
#include <winspool.h>
#include <winsplp.h>

#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include <algorithm>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "dorve/spooler_host.h"
#include "testlib.h"

using dorvetest::PortKeyPath;
using dorvetest::ProgramRun;
using dorvetest::ReadFile;
using dorvetest::RegKeyExists;
using dorvetest::RegReadValue;
using dorvetest::RegWriteString;
using dorvetest::RegWriteValue;
using dorvetest::TempDir;
using dorvetest::TempRegistry;

namespace {

const char kInstalledKey[] = "System\\CurrentControlSet\\control\\InstalledFiles";
const char kRegistration[] = DORVE_MONITORS_KEY "\\Dorve Port";
const DWORD kUntouched = 0x5EED;   // a last-error code no call here sets

typedef DWORD(WINAPI *PFN_THREE)(DWORD, DWORD, DWORD);
typedef DWORD(WINAPI *PFN_WINDOW)(HWND, DWORD, DWORD);
typedef DWORD(WINAPI *PFN_ONE)(DWORD);

std::vector<unsigned char> Bytes(std::initializer_list<unsigned char> list)
{
    return std::vector<unsigned char>(list);
}

std::string Lower(std::string s)
{
    std::transform(s.begin(), s.end(), s.begin(), [](unsigned char c) { return (char)tolower(c); });
    return s;
}

// The lines of one key's section in the registry file, the header matched
// without regard to letter case as the registry matches key names; empty
// when the key is not in the file.
std::vector<std::string> FileSection(const std::string &file, const std::string &keyPath)
{
    std::istringstream in(file);
    std::string line, header = Lower("[HKEY_LOCAL_MACHINE\\" + keyPath + "]");
    std::vector<std::string> lines;
    bool bIn = false, bFound = false;
    while (std::getline(in, line)) {
        if (!line.empty() && line.back() == '\r')
            line.pop_back();
        if (!line.empty() && line[0] == '[') {
            bIn = Lower(line) == header;
            bFound = bFound || bIn;
            if (bIn)
                lines.push_back(line);
            continue;
        }
        if (bIn && !line.empty())
            lines.push_back(line);
    }
    return bFound ? lines : std::vector<std::string>{"(no such key)"};
}

class InstallerTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        DorveSpoolerReset();
        dorvetest::ResetMonitorState();
        ASSERT_EQ(0, DorveSpoolerStart()) << DorveSpoolerLastError();
        hUtil_ = LoadLibraryA("ZUVUTIL.dll");
        ASSERT_NE(nullptr, hUtil_) << "error " << GetLastError();
        pfnAdd95_ = (PFN_THREE)Proc("Add95Monitor");
        pfnAddPort_ = (PFN_WINDOW)Proc("AddZUVPort");
        pfnDelete_ = (PFN_WINDOW)Proc("DeleteZUVMonitor");
        pfnIsRunning_ = (PFN_ONE)Proc("IsZUVMonitorRunning");
        pfnKill_ = (PFN_ONE)Proc("KillZUVMonitor");
        pfnAddNT_ = (PFN_THREE)Proc("AddNTMonitor");
    }

    void TearDown() override
    {
        if (hUtil_)
            FreeLibrary(hUtil_);
        DorveSpoolerReset();
        dorvetest::ResetMonitorState();
    }

    void (*Proc(const char *name))(void)
    {
        void (*pfn)(void) = (void (*)(void))GetProcAddress(hUtil_, name);
        EXPECT_NE(nullptr, pfn) << name;
        return pfn;
    }

    // Calls an export with the last-error code preset, so that a code it
    // leaves alone shows as kUntouched.
    DWORD Add95() { SetLastError(kUntouched); return pfnAdd95_(0, 0, 0); }
    DWORD AddNT() { SetLastError(kUntouched); return pfnAddNT_(0, 0, 0); }
    DWORD Delete() { SetLastError(kUntouched); return pfnDelete_(NULL, 0, 0); }
    DWORD Kill() { SetLastError(kUntouched); return pfnKill_(0); }
    DWORD IsRunning() { return pfnIsRunning_(0); }

    std::vector<unsigned char> InstalledValue(DWORD *pdwType = nullptr)
    {
        DWORD dwType = 0;
        std::vector<unsigned char> bytes;
        if (!RegReadValue(kInstalledKey, "DORVEMON.DLL", &dwType, &bytes))
            return {};
        if (pdwType)
            *pdwType = dwType;
        return bytes;
    }

    void StorePort(const std::string &name, const std::string &address = "127.0.0.1")
    {
        ASSERT_TRUE(RegWriteString(PortKeyPath(name), "IPAddress", address));
    }

    // Port names by the monitor name each reports, in the spooler's order.
    std::vector<std::string> PortsOf(const char *monitorName)
    {
        DWORD cbNeeded = 0, cReturned = 0;
        EnumPortsA(NULL, 2, NULL, 0, &cbNeeded, &cReturned);
        std::vector<BYTE> buf(cbNeeded);
        EXPECT_TRUE(EnumPortsA(NULL, 2, buf.data(), cbNeeded, &cbNeeded, &cReturned));
        std::vector<std::string> names;
        for (DWORD i = 0; i < cReturned; i++) {
            const PORT_INFO_2A *p = (const PORT_INFO_2A *)buf.data() + i;
            if (p->pMonitorName && strcmp(p->pMonitorName, monitorName) == 0)
                names.push_back(p->pPortName);
        }
        return names;
    }

    TempRegistry registry_;
    HMODULE hUtil_ = NULL;
    PFN_THREE pfnAdd95_ = nullptr, pfnAddNT_ = nullptr;
    PFN_WINDOW pfnAddPort_ = nullptr, pfnDelete_ = nullptr;
    PFN_ONE pfnIsRunning_ = nullptr, pfnKill_ = nullptr;
};

TEST_F(InstallerTest, Add95MonitorRegistersStartsTheMonitorAndWritesTheValue)
{
    ASSERT_TRUE(RegKeyExists(kInstalledKey)) << "the system's key exists from the start";
    EXPECT_EQ(0u, IsRunning());
    ASSERT_EQ(0u, Add95()) << GetLastError();
    EXPECT_EQ(1u, IsRunning());

    DWORD dwType = 0;
    std::vector<unsigned char> driver;
    ASSERT_TRUE(RegReadValue(kRegistration, "Driver", &dwType, &driver));
    EXPECT_EQ((DWORD)REG_SZ, dwType);
    EXPECT_STREQ("DORVEMON.DLL", (const char *)driver.data());
    const MONITOR *pTable = DorveSpoolerMonitor("Dorve Port");
    ASSERT_NE(nullptr, pTable) << "the spooler started the monitor";
    EXPECT_NE(nullptr, pTable->pfnAddPort);
    char szEnv[64] = "?";
    ASSERT_TRUE(DorveSpoolerMonitorEnvironment("Dorve Port", szEnv, sizeof szEnv));
    EXPECT_STREQ("Windows 4.0", szEnv);

    EXPECT_EQ(Bytes({0x0E, 0x00}), InstalledValue(&dwType));
    EXPECT_EQ((DWORD)REG_BINARY, dwType);
    std::vector<std::string> expected = {"[HKEY_LOCAL_MACHINE\\System\\CurrentControlSet\\control"
                                         "\\InstalledFiles]",
                                         "\"DORVEMON.DLL\"=hex:0e,00"};
    std::vector<std::string> section = FileSection(registry_.contents(), kInstalledKey);
    ASSERT_EQ(2u, section.size()) << registry_.contents();
    EXPECT_EQ(Lower(expected[0]), Lower(section[0]));
    EXPECT_EQ(expected[1], section[1]);
}

TEST_F(InstallerTest, AddNTMonitorLeavesTheEnvironmentToTheSpooler)
{
    ASSERT_EQ(0u, AddNT()) << GetLastError();
    char szEnv[64] = "?";
    ASSERT_TRUE(DorveSpoolerMonitorEnvironment("Dorve Port", szEnv, sizeof szEnv));
    EXPECT_STREQ("", szEnv) << "NULL environment";
    EXPECT_EQ(Bytes({0x0E, 0x00}), InstalledValue());
    EXPECT_EQ(1u, IsRunning());
}

TEST_F(InstallerTest, AddWhenAlreadyRegisteredFailsAndLeavesTheValueAsItIs)
{
    ASSERT_EQ(0u, Add95());
    const unsigned char changed[2] = {0x01, 0x02};
    ASSERT_TRUE(RegWriteValue(kInstalledKey, "DORVEMON.DLL", REG_BINARY, changed, 2));
    for (int nExport = 0; nExport < 2; nExport++) {
        EXPECT_EQ(1u, nExport == 0 ? Add95() : AddNT());
        EXPECT_EQ((DWORD)ERROR_PRINT_MONITOR_ALREADY_INSTALLED, GetLastError());
        EXPECT_EQ(Bytes({0x01, 0x02}), InstalledValue()) << "not written again";
    }
    EXPECT_EQ(1u, IsRunning());
}

TEST_F(InstallerTest, AddWithoutTheInstalledFilesKeyKeepsTheRegistration)
{
    ASSERT_EQ(ERROR_SUCCESS, RegDeleteKeyA(HKEY_LOCAL_MACHINE, kInstalledKey));
    EXPECT_EQ(1u, Add95());
    EXPECT_NE((DWORD)ERROR_FILE_NOT_FOUND, GetLastError())
        << "the registry's code is not passed on here";
    EXPECT_EQ(1u, IsRunning()) << "no roll-back";
    EXPECT_TRUE(RegKeyExists(kRegistration));
    EXPECT_FALSE(RegKeyExists(kInstalledKey)) << "the key is opened, never created";
}

TEST_F(InstallerTest, DeleteWithoutPortsRemovesTheRegistrationAndTheValue)
{
    ASSERT_EQ(0u, Add95());
    EXPECT_EQ(0u, Delete()) << GetLastError();
    EXPECT_EQ(0u, IsRunning());
    EXPECT_FALSE(RegKeyExists(kRegistration));
    EXPECT_TRUE(InstalledValue().empty());
    EXPECT_TRUE(RegKeyExists(kInstalledKey)) << "only the value goes";
    std::vector<std::string> section = FileSection(registry_.contents(), kInstalledKey);
    EXPECT_EQ(1u, section.size()) << registry_.contents();
    EXPECT_EQ(std::string::npos, registry_.contents().find("DORVEMON.DLL\"=hex"));

    EXPECT_EQ(1u, Delete()) << "nothing to remove";
    EXPECT_EQ((DWORD)ERROR_UNKNOWN_PRINT_MONITOR, GetLastError());
}

TEST_F(InstallerTest, DeleteRemovesEveryPortOfTheMonitorAndNoOther)
{
    StorePort("Alpha");
    StorePort("Beta");
    ASSERT_EQ(0u, Add95());
    ASSERT_EQ((std::vector<std::string>{"Alpha", "Beta"}), PortsOf("Dorve Print Monitor"));

    EXPECT_EQ(0u, Delete()) << GetLastError();
    EXPECT_FALSE(RegKeyExists(PortKeyPath("Alpha")));
    EXPECT_FALSE(RegKeyExists(PortKeyPath("Beta")));
    EXPECT_FALSE(RegKeyExists(kRegistration));
    EXPECT_TRUE(InstalledValue().empty());
    EXPECT_EQ((std::vector<std::string>{"LPT1:", "LPT2:", "COM1:", "FILE:"}),
              PortsOf("Local Port"));
}

// A monitor of another DLL whose ports carry a given monitor name, and
// whose DeletePort refuses one port.
struct OtherMonitor {
    std::vector<std::string> ports;
    std::string sMonitorName;
    std::string sRefuse;
    std::vector<std::string> deleted;
} gOther;

BOOL WINAPI OtherEnumPorts(LPSTR pName, DWORD Level, LPBYTE pPorts, DWORD cbBuf,
                           LPDWORD pcbNeeded, LPDWORD pcReturned)
{
    DWORD cbNeeded = 0;
    for (const std::string &s : gOther.ports)
        cbNeeded += (DWORD)(Level == 1 ? sizeof(PORT_INFO_1A) : sizeof(PORT_INFO_2A)) +
                    (DWORD)(s.size() + 1 + gOther.sMonitorName.size() + 1 + 1);
    *pcbNeeded = cbNeeded;
    *pcReturned = 0;
    if (cbNeeded > cbBuf) {
        SetLastError(ERROR_INSUFFICIENT_BUFFER);
        return FALSE;
    }
    LPBYTE pEnd = pPorts + cbBuf;
    auto place = [&pEnd](const std::string &s) {
        pEnd -= s.size() + 1;
        memcpy(pEnd, s.c_str(), s.size() + 1);
        return (LPSTR)pEnd;
    };
    for (size_t i = 0; i < gOther.ports.size(); i++) {
        if (Level == 1) {
            ((PORT_INFO_1A *)pPorts)[i].pName = place(gOther.ports[i]);
        } else {
            PORT_INFO_2A *p = (PORT_INFO_2A *)pPorts + i;
            p->pPortName = place(gOther.ports[i]);
            p->pMonitorName = place(gOther.sMonitorName);
            p->pDescription = place("");
            p->fPortType = PORT_TYPE_WRITE;
            p->Reserved = 0;
        }
    }
    *pcReturned = (DWORD)gOther.ports.size();
    return TRUE;
}

BOOL WINAPI OtherDeletePort(LPSTR pName, HWND hWnd, LPSTR pPortName)
{
    if (gOther.sRefuse == pPortName) {
        SetLastError(ERROR_ACCESS_DENIED);
        return FALSE;
    }
    gOther.deleted.push_back(pPortName);
    gOther.ports.erase(std::find(gOther.ports.begin(), gOther.ports.end(), pPortName));
    return TRUE;
}

class InstallerOtherMonitorTest : public InstallerTest {
protected:
    void SetUp() override
    {
        InstallerTest::SetUp();
        gOther = OtherMonitor();
        gOther.ports = {"O1", "O2", "O3"};
        MONITOR table{};
        table.pfnEnumPorts = OtherEnumPorts;
        table.pfnDeletePort = OtherDeletePort;
        ASSERT_TRUE(DorveSpoolerAddMonitorTable("Other", &table));
    }
};

TEST_F(InstallerOtherMonitorTest, PortsCountAsTheMonitorsByTheirExactMonitorName)
{
    struct Case {
        const char *pszMonitorName;
        bool bDeleted;
    } cases[] = {
        {"Dorve Print Monitor", true},
        {"Dorve Port", true},
        {"dorve print monitor", false},
        {"DORVE PORT", false},
        {"Dorve Port ", false},
    };
    for (const Case &c : cases) {
        gOther.ports = {"O1", "O2"};
        gOther.deleted.clear();
        gOther.sMonitorName = c.pszMonitorName;
        ASSERT_EQ(0u, Add95()) << c.pszMonitorName;
        EXPECT_EQ(0u, Delete()) << c.pszMonitorName;
        EXPECT_EQ(c.bDeleted ? 2u : 0u, gOther.deleted.size()) << c.pszMonitorName;
        EXPECT_EQ(0u, IsRunning());
    }
}

TEST_F(InstallerOtherMonitorTest, ARefusedDeletionStopsTheWalkThere)
{
    gOther.sMonitorName = "Dorve Port";
    gOther.sRefuse = "O2";
    StorePort("Mine");
    ASSERT_EQ(0u, Add95());

    // The spooler lists O1, O2, O3, then the monitor's own port Mine.
    EXPECT_EQ(1u, Delete());
    EXPECT_EQ((DWORD)ERROR_ACCESS_DENIED, GetLastError()) << "the spooler's code";
    EXPECT_EQ((std::vector<std::string>{"O1"}), gOther.deleted);
    EXPECT_EQ((std::vector<std::string>{"O2", "O3"}), gOther.ports);
    EXPECT_TRUE(RegKeyExists(PortKeyPath("Mine")));
    EXPECT_EQ((std::vector<std::string>{"Mine"}), PortsOf("Dorve Print Monitor"));
    EXPECT_EQ(1u, IsRunning());
    EXPECT_TRUE(RegKeyExists(kRegistration));
    EXPECT_EQ(Bytes({0x0E, 0x00}), InstalledValue());
}

TEST_F(InstallerTest, APortWhoseKeyWentBehindTheMonitorsBackStopsTheDeletion)
{
    StorePort("A1");
    StorePort("B2");
    StorePort("C3");
    ASSERT_EQ(0u, Add95());
    ASSERT_EQ(ERROR_SUCCESS, RegDeleteKeyA(HKEY_LOCAL_MACHINE, PortKeyPath("B2").c_str()));

    EXPECT_EQ(1u, Delete());
    EXPECT_EQ((std::vector<std::string>{"B2", "C3"}), PortsOf("Dorve Print Monitor"));
    EXPECT_TRUE(RegKeyExists(PortKeyPath("C3")));
    EXPECT_EQ(1u, IsRunning());
    EXPECT_EQ(Bytes({0x0E, 0x00}), InstalledValue());
}

TEST_F(InstallerTest, WithTheValueMissingTheMonitorStillGoesButTheResultIsAFailure)
{
    StorePort("Gone");
    ASSERT_EQ(0u, Add95());
    HKEY hKey;
    ASSERT_EQ(ERROR_SUCCESS,
              RegOpenKeyExA(HKEY_LOCAL_MACHINE, kInstalledKey, 0, KEY_SET_VALUE, &hKey));
    EXPECT_EQ(ERROR_SUCCESS, RegDeleteValueA(hKey, "DORVEMON.DLL"));
    RegCloseKey(hKey);
    ASSERT_TRUE(InstalledValue().empty());

    EXPECT_EQ(1u, Delete());
    EXPECT_EQ((DWORD)ERROR_FILE_NOT_FOUND, GetLastError());
    EXPECT_EQ(0u, IsRunning());
    EXPECT_FALSE(RegKeyExists(kRegistration));
    EXPECT_FALSE(RegKeyExists(PortKeyPath("Gone")));
}

TEST_F(InstallerTest, WithTheKeyMissingTheResultIsTheRegistrysCode)
{
    ASSERT_EQ(0u, Add95());
    ASSERT_EQ(ERROR_SUCCESS, RegDeleteKeyA(HKEY_LOCAL_MACHINE, kInstalledKey));
    EXPECT_EQ(1u, Delete());
    EXPECT_EQ((DWORD)ERROR_FILE_NOT_FOUND, GetLastError());
    EXPECT_EQ(0u, IsRunning());
}

TEST_F(InstallerTest, IsRunningComparesTheMonitorNameExactly)
{
    MONITOR_INFO_2A info = {(LPSTR) "dorve port", (LPSTR) "Windows 4.0", (LPSTR) "DORVEMON.DLL"};
    ASSERT_TRUE(AddMonitorA(NULL, 2, (LPBYTE)&info)) << GetLastError();
    EXPECT_EQ(0u, IsRunning());
    EXPECT_EQ(1u, Add95()) << "the spooler itself ignores the case of monitor names";
    EXPECT_EQ((DWORD)ERROR_PRINT_MONITOR_ALREADY_INSTALLED, GetLastError());
    EXPECT_EQ(0u, IsRunning());
}

TEST_F(InstallerTest, KillRemovesOnlyTheRegistration)
{
    StorePort("Kept");
    ASSERT_EQ(0u, Add95());
    EXPECT_EQ(0u, Kill()) << GetLastError();
    EXPECT_EQ(0u, IsRunning());
    EXPECT_FALSE(RegKeyExists(kRegistration));
    EXPECT_TRUE(RegKeyExists(PortKeyPath("Kept")));
    EXPECT_EQ(Bytes({0x0E, 0x00}), InstalledValue());

    EXPECT_EQ(1u, Kill());
    EXPECT_EQ((DWORD)ERROR_UNKNOWN_PRINT_MONITOR, GetLastError());
    // Registered again, the monitor finds the port it kept.  (The module
    // stays in this process, so its list is given back as an unload would.)
    dorvetest::ResetMonitorState();
    ASSERT_EQ(0u, Add95());
    EXPECT_EQ((std::vector<std::string>{"Kept"}), PortsOf("Dorve Print Monitor"));
}

TEST_F(InstallerTest, AddPortNeedsTheMonitorAndReportsTheDialogsOutcome)
{
    EXPECT_EQ(1u, pfnAddPort_(NULL, 0, 0));
    EXPECT_EQ((DWORD)ERROR_UNKNOWN_PRINT_MONITOR, GetLastError());
    ASSERT_EQ(0u, Add95());
    // With no one to answer it the Add Port dialog is cancelled: no port,
    // yet AddPortA succeeded.
    EXPECT_EQ(0u, pfnAddPort_(NULL, 0, 0));
    EXPECT_TRUE(PortsOf("Dorve Print Monitor").empty());
}

// ---------------------------------------------------------------------------
// The dorve commands, run as a program on a registry file of their own.

class DorveInstallTest : public ::testing::Test {
protected:
    ProgramRun Run(const std::vector<std::string> &args)
    {
        return dorvetest::RunDorve(args, registry_, dir_.path());
    }

    TempDir dir_;
    std::string registry_ = dir_.path() + "/registry.reg";
};

TEST_F(DorveInstallTest, InstallIsInstalledUninstallRoundTrip)
{
    ProgramRun r = Run({"is-installed"});
    EXPECT_EQ(1, r.rc) << r.err;
    EXPECT_EQ("the monitor \"Dorve Port\" is not installed\n", r.out);

    r = Run({"install"});
    ASSERT_EQ(0, r.rc) << r.err;
    EXPECT_EQ(0u, r.out.find("installed: monitor \"Dorve Port\" (DORVEMON.DLL)")) << r.out;
    EXPECT_NE(std::string::npos, ReadFile(registry_).find("\"DORVEMON.DLL\"=hex:0e,00"));
    r = Run({"is-installed"});
    EXPECT_EQ(0, r.rc) << r.err;
    r = Run({"monitors"});
    EXPECT_NE(std::string::npos, r.out.find("Dorve Port\tDORVEMON.DLL\tstarted")) << r.out;

    r = Run({"install"});
    EXPECT_EQ(1, r.rc);
    EXPECT_EQ("dorve: install failed: error 3006 (a monitor of that name is already "
              "installed)\n",
              r.err);

    r = Run({"uninstall"});
    EXPECT_EQ(0, r.rc) << r.err;
    EXPECT_EQ(0u, r.out.find("uninstalled: 0 ports deleted, monitor \"Dorve Port\"")) << r.out;
    EXPECT_EQ(std::string::npos, ReadFile(registry_).find("DORVEMON.DLL"));
    r = Run({"is-installed"});
    EXPECT_EQ(1, r.rc);

    r = Run({"uninstall"});
    EXPECT_EQ(1, r.rc);
    EXPECT_EQ("dorve: uninstall failed: error 3000 (the monitor is not installed); 0 ports "
              "deleted, the monitor is no longer registered\n",
              r.err);
}

TEST_F(DorveInstallTest, UninstallDeletesThePortsAndKillMonitorKeepsThem)
{
    std::ofstream(registry_) << "REGEDIT4\n\n"
                                "[HKEY_LOCAL_MACHINE\\SYSTEM\\CurrentControlSet\\Control\\Print"
                                "\\Monitors\\ZUV Port\\Ports\\P1:]\n\"IPAddress\"=\"127.0.0.1\"\n\n";
    ASSERT_EQ(0, Run({"install"}).rc);
    ProgramRun r = Run({"kill-monitor"});
    EXPECT_EQ(0, r.rc) << r.err;
    EXPECT_EQ(0u, r.out.find("removed the registration of monitor \"Dorve Port\"")) << r.out;
    EXPECT_NE(std::string::npos, ReadFile(registry_).find("Ports\\P1:]"));
    EXPECT_EQ(1, Run({"is-installed"}).rc);
    r = Run({"kill-monitor"});
    EXPECT_EQ(1, r.rc);
    EXPECT_EQ("dorve: kill-monitor failed: error 3000 (the monitor is not installed)\n", r.err);

    // The InstalledFiles value is still there from the first install.
    r = Run({"install"});
    ASSERT_EQ(0, r.rc) << r.err;
    r = Run({"uninstall"});
    EXPECT_EQ(0, r.rc) << r.err;
    EXPECT_EQ(0u, r.out.find("uninstalled: 1 port deleted")) << r.out;
    EXPECT_EQ(std::string::npos, ReadFile(registry_).find("P1:"));
}

TEST_F(DorveInstallTest, InstallWithAFirstPortWorksTheMonitorsAddPortDialog)
{
    ProgramRun r = Run({"install", "--first-port", "FIRST:", "127.0.0.1"});
    ASSERT_EQ(0, r.rc) << r.out << r.err;
    EXPECT_NE(std::string::npos, r.out.find("Port \"FIRST:\" added for the printer at 127.0.0.1"))
        << r.out;
    std::vector<std::string> section = FileSection(
        ReadFile(registry_), "SYSTEM\\CurrentControlSet\\Control\\Print\\Monitors\\ZUV Port"
                             "\\Ports\\FIRST:");
    ASSERT_EQ(2u, section.size()) << ReadFile(registry_);
    EXPECT_EQ("\"IPAddress\"=\"127.0.0.1\"", section[1]);

    // A port name the spooler has already: installed, but no port.
    ASSERT_EQ(0, Run({"uninstall"}).rc);
    r = Run({"install", "--first-port", "lpt1:", "127.0.0.1"});
    EXPECT_EQ(1, r.rc);
    EXPECT_NE(std::string::npos, r.out.find("Not added: a port named \"lpt1:\" already exists"))
        << r.out;
    EXPECT_EQ(0, Run({"is-installed"}).rc);
}

TEST_F(DorveInstallTest, ABadFirstPortInstallsNothing)
{
    for (std::vector<std::string> args : {std::vector<std::string>{"--first-port", "A\\B", "1.2.3.4"},
                                          std::vector<std::string>{"--first-port", "ONLY"},
                                          std::vector<std::string>{"--first-port", "", "1.2.3.4"}}) {
        args.insert(args.begin(), "install");
        ProgramRun r = Run(args);
        EXPECT_EQ(2, r.rc) << args[2];
        EXPECT_EQ(1, Run({"is-installed"}).rc) << args[2];
    }
}

TEST_F(DorveInstallTest, CommandsRefuseExtraArguments)
{
    for (const char *pszCommand : {"install", "uninstall", "is-installed", "kill-monitor"}) {
        ProgramRun r = Run({pszCommand, "extra"});
        EXPECT_EQ(2, r.rc) << pszCommand;
        EXPECT_NE(std::string::npos, r.err.find("unexpected argument \"extra\"")) << r.err;
    }
}

}  // namespace
