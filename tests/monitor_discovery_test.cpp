// Discovery runs against a scripted discovery library (tests/fixtures/
// fakesnmp.cpp), which this program puts first on the loader's search path:
// what the monitor passes to each entry, in which order it calls them, and
// how the printers found become ports.
#include <gtest/gtest.h>

#include <stdlib.h>
#include <string.h>

#include <string>
#include <vector>

#include "auto.h"
#include "dorve/winsock_host.h"
#include "testlib.h"

using namespace dorvetest;

namespace {

// The library's control functions, found through the layer's loader.
struct FakeSnmp {
    void (*Reset)(void);
    void (*SetInitResult)(int);
    void (*SetMasks)(const char *, const char *);
    void (*SetGiveList)(int);
    void (*AddDevice)(const char *, const char *);
    void (*ClearDevices)(void);
    void (*Calls)(char *, int);
    void (*RipParams)(char *, int, char *, int);
    int (*DevstatusGotList)(void);
    int (*ListFreed)(void);

    std::string calls() const
    {
        char buf[512];
        Calls(buf, sizeof(buf));
        return buf;
    }
    std::string ripNetmask() const
    {
        char mask[128], oid[128];
        RipParams(mask, sizeof(mask), oid, sizeof(oid));
        return mask;
    }
    std::string ripOid() const
    {
        char mask[128], oid[128];
        RipParams(mask, sizeof(mask), oid, sizeof(oid));
        return oid;
    }
};

template <typename T>
void Bind(HMODULE h, const char *name, T *slot)
{
    *slot = (T)(void (*)(void))GetProcAddress(h, name);
}

// The fake's directory goes before every other, so that no other
// zuvsnmp.dll on the search path is ever reached from this program.
void PutFakeFirst()
{
    const char *old = getenv("DORVE_LIBPATH");
    std::string path = DORVE_FAKESNMP_DIR;
    if (old != nullptr && *old != '\0')
        path += std::string(":") + old;
    setenv("DORVE_LIBPATH", path.c_str(), 1);
}

bool LoadFake(FakeSnmp *fake)
{
    PutFakeFirst();
    HMODULE h = LoadLibraryA("zuvsnmp.dll");
    if (h == nullptr)
        return false;
    Bind(h, "FakeSnmpReset", &fake->Reset);
    Bind(h, "FakeSnmpSetInitResult", &fake->SetInitResult);
    Bind(h, "FakeSnmpSetMasks", &fake->SetMasks);
    Bind(h, "FakeSnmpSetGiveList", &fake->SetGiveList);
    Bind(h, "FakeSnmpAddDevice", &fake->AddDevice);
    Bind(h, "FakeSnmpClearDevices", &fake->ClearDevices);
    Bind(h, "FakeSnmpCalls", &fake->Calls);
    Bind(h, "FakeSnmpRipParams", &fake->RipParams);
    Bind(h, "FakeSnmpDevstatusGotList", &fake->DevstatusGotList);
    Bind(h, "FakeSnmpListFreed", &fake->ListFreed);
    // The reference is kept: the control functions must stay mapped.
    return fake->Reset != nullptr && fake->ListFreed != nullptr;
}

class DiscoveryTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        ResetMonitorState();
        DorveWsaReset();
        ASSERT_TRUE(LoadMonitorModule());
        ASSERT_TRUE(LoadFake(&fake_)) << "the scripted zuvsnmp library was not found in "
                                      << DORVE_FAKESNMP_DIR;
        fake_.Reset();
    }
    void TearDown() override
    {
        ResetMonitorState();
        DorveWsaReset();
        if (fake_.Reset != nullptr)
            fake_.Reset();
    }

    std::vector<std::string> PortNames()
    {
        std::vector<std::string> names;
        for (DWORD i = 0; i < gZUVMon.dwPortCount; i++)
            names.push_back(gZUVMon.lppPorts[i]->szPortName);
        return names;
    }

    LPZUVPort Find(const char *name) { return FindZUVPortInList(&gZUVMon, name); }

    bool Start()
    {
        MONITOR table;
        return InitializeMonitorEx((LPSTR) "", &table) != FALSE;
    }

    FakeSnmp fake_{};
    TempRegistry registry_;
    EventRecorder events_;
};

// ---- The run and its calls ----

TEST_F(DiscoveryTest, RunWithALocalMaskCallsTheEntriesInOrder)
{
    fake_.AddDevice("127.0.0.21", "First");
    fake_.AddDevice("127.0.0.22", "Second");
    struct dev_entry *first = AutoDiscoverPrinters();
    ASSERT_NE(first, nullptr);
    EXPECT_STREQ(first->name, "First");
    ASSERT_NE(first->next, nullptr);
    EXPECT_STREQ(first->next->addr, "127.0.0.22");
    EXPECT_EQ(first->next->next, nullptr);

    EXPECT_EQ(fake_.calls(), "init,local,rip,devstatus,free,free,shutdown");
    EXPECT_EQ(fake_.ripNetmask(), "255.255.255.0");
    EXPECT_EQ(fake_.ripOid(), "1.3.6.1.4.1.480.1.1.1005.0");
    EXPECT_EQ(fake_.DevstatusGotList(), 1);
    EXPECT_EQ(fake_.ListFreed(), 1);
}

TEST_F(DiscoveryTest, FailingInitCallsNothingElse)
{
    fake_.SetInitResult(5);
    fake_.AddDevice("127.0.0.23", "Never");
    EXPECT_EQ(AutoDiscoverPrinters(), nullptr);
    EXPECT_EQ(fake_.calls(), "init");
}

TEST_F(DiscoveryTest, WithoutALocalMaskTheDhcpMaskIsUsed)
{
    fake_.SetMasks(nullptr, "255.255.0.0");
    AutoDiscoverPrinters();
    EXPECT_EQ(fake_.calls(), "init,local,dhcp,rip,devstatus,free,free,shutdown");
    EXPECT_EQ(fake_.ripNetmask(), "255.255.0.0");
}

TEST_F(DiscoveryTest, WithoutAnyMaskTheRunShutsDownOnce)
{
    fake_.SetMasks(nullptr, nullptr);
    fake_.AddDevice("127.0.0.24", "Never");
    EXPECT_EQ(AutoDiscoverPrinters(), nullptr);
    EXPECT_EQ(fake_.calls(), "init,local,dhcp,shutdown");
}

TEST_F(DiscoveryTest, WithoutAnAddressListDevstatusIsStillAsked)
{
    fake_.SetGiveList(0);
    fake_.AddDevice("127.0.0.25", "Anyway");
    struct dev_entry *first = AutoDiscoverPrinters();
    ASSERT_NE(first, nullptr);
    EXPECT_STREQ(first->name, "Anyway");
    EXPECT_EQ(fake_.DevstatusGotList(), 0);
    // Only the mask goes back; there is no list to hand back.
    EXPECT_EQ(fake_.calls(), "init,local,rip,devstatus,free,shutdown");
}

TEST_F(DiscoveryTest, ALongMaskTextIsCutToTheBlock)
{
    std::string longMask(60, '9');
    fake_.SetMasks(longMask.c_str(), nullptr);
    AutoDiscoverPrinters();
    EXPECT_EQ(fake_.ripNetmask(), longMask.substr(0, 47));
}

// ---- The merge into the port list ----

TEST_F(DiscoveryTest, FoundPrintersBecomePortsWithTheDefaults)
{
    fake_.AddDevice("127.0.0.31", "Found1");
    fake_.AddDevice("printer.local", "Found2");
    AutoDiscover(&gZUVMon);
    ASSERT_EQ(PortNames(), (std::vector<std::string>{"Found1", "Found2"}));
    LPZUVPort p = Find("Found2");
    EXPECT_STREQ(p->szIPAddress, "printer.local");
    EXPECT_EQ(p->dwStsInterval, 5u);
    EXPECT_EQ(p->dwConnType, 0u);
    EXPECT_EQ(p->dwStsTimeout, 10u);
    EXPECT_EQ(p->dwSendTimeout, 60u);
    EXPECT_EQ(p->bDefErrors, 1);
    EXPECT_EQ(p->bDefWarnings, 1);
    EXPECT_EQ(p->bDefInfos, 1);
    EXPECT_EQ(p->bAudibleAlert, 0);
    EXPECT_EQ(p->bTrapNotification, 0);

    // Stored with the address only; the next start-up gives the same settings.
    DWORD dwType;
    std::vector<unsigned char> bytes;
    EXPECT_TRUE(RegReadValue(PortKeyPath("Found2"), "IPAddress", &dwType, &bytes));
    EXPECT_FALSE(RegReadValue(PortKeyPath("Found2"), "SendTimeout", &dwType, &bytes));
    ResetMonitorState();
    fake_.ClearDevices();
    ASSERT_TRUE(Start());
    ASSERT_EQ(PortNames(), (std::vector<std::string>{"Found1", "Found2"}));
    p = Find("Found1");
    EXPECT_STREQ(p->szIPAddress, "127.0.0.31");
    EXPECT_EQ(p->dwStsInterval, 5u);
    EXPECT_EQ(p->dwStsTimeout, 10u);
    EXPECT_EQ(p->dwSendTimeout, 60u);
    EXPECT_EQ(p->bDefErrors, 1);
    EXPECT_EQ(p->bDefWarnings, 1);
    EXPECT_EQ(p->bDefInfos, 1);
    EXPECT_EQ(p->bAudibleAlert, 0);
    EXPECT_EQ(p->bTrapNotification, 0);
    // Discovery was off at that start: the library was not asked.
    EXPECT_EQ(fake_.calls(), "init,local,rip,devstatus,free,free,shutdown");
}

TEST_F(DiscoveryTest, AnExistingPortKeepsItsAddress)
{
    ASSERT_TRUE(RegWriteString(PortKeyPath("Office"), "IPAddress", "127.0.0.41"));
    ASSERT_TRUE(Start());
    fake_.AddDevice("127.0.0.42", "Office");
    AutoDiscover(&gZUVMon);
    ASSERT_EQ(PortNames(), std::vector<std::string>{"Office"});
    EXPECT_STREQ(Find("Office")->szIPAddress, "127.0.0.41");
    DWORD dwType;
    std::vector<unsigned char> bytes;
    ASSERT_TRUE(RegReadValue(PortKeyPath("Office"), "IPAddress", &dwType, &bytes));
    EXPECT_STREQ((const char *)bytes.data(), "127.0.0.41");
}

TEST_F(DiscoveryTest, ANameDifferingOnlyInCaseIsANewPort)
{
    ASSERT_TRUE(RegWriteString(PortKeyPath("Office"), "IPAddress", "127.0.0.43"));
    ASSERT_TRUE(Start());
    fake_.AddDevice("127.0.0.44", "OFFICE");
    AutoDiscover(&gZUVMon);
    EXPECT_EQ(PortNames(), (std::vector<std::string>{"Office", "OFFICE"}));
    EXPECT_STREQ(Find("OFFICE")->szIPAddress, "127.0.0.44");
    EXPECT_STREQ(Find("Office")->szIPAddress, "127.0.0.43");
}

TEST_F(DiscoveryTest, ANameTwiceInOneResultIsOnePortWithTheFirstAddress)
{
    fake_.AddDevice("127.0.0.45", "Twice");
    fake_.AddDevice("127.0.0.46", "Twice");
    AutoDiscover(&gZUVMon);
    ASSERT_EQ(PortNames(), std::vector<std::string>{"Twice"});
    EXPECT_STREQ(Find("Twice")->szIPAddress, "127.0.0.45");
}

TEST_F(DiscoveryTest, APrinterWithoutANameIsSkipped)
{
    fake_.AddDevice("127.0.0.47", "");
    fake_.AddDevice("127.0.0.48", "Named");
    AutoDiscover(&gZUVMon);
    ASSERT_EQ(PortNames(), std::vector<std::string>{"Named"});
    DWORD dwType;
    std::vector<unsigned char> bytes;
    EXPECT_FALSE(RegReadValue(ZUV_PORTS_KEY, "IPAddress", &dwType, &bytes));
}

// ---- Where runs happen ----

TEST_F(DiscoveryTest, StartUpRunsDiscoveryWhenEnabled)
{
    ASSERT_TRUE(RegWriteDword(ZUV_OPTIONS_KEY, "AutoEnable", 1));
    ASSERT_TRUE(RegWriteString(PortKeyPath("Stored"), "IPAddress", "127.0.0.51"));
    fake_.AddDevice("127.0.0.52", "Discovered");
    ASSERT_TRUE(Start());
    EXPECT_EQ(PortNames(), (std::vector<std::string>{"Stored", "Discovered"}));
    EXPECT_EQ(events_.count(MSG_INIT_OK), 1u);
}

TEST_F(DiscoveryTest, EnumPortsRunsDiscoveryOnEveryCall)
{
    ASSERT_TRUE(Start());
    gZUVMon.bAutoEnable = TRUE;
    fake_.AddDevice("127.0.0.53", "A");
    DWORD cbNeeded = 0, cReturned = 0;
    EXPECT_FALSE(ZUVEnumPorts(nullptr, 1, nullptr, 0, &cbNeeded, &cReturned));
    DWORD cbFirst = cbNeeded;
    EXPECT_EQ(cbFirst, (DWORD)(sizeof(PORT_INFO_1A) + 2));

    // A printer that turns up between the sizing and the filling call makes
    // the second call too small.
    fake_.AddDevice("127.0.0.54", "B");
    std::vector<BYTE> buf(cbFirst, 0);
    SetLastError(0);
    EXPECT_FALSE(ZUVEnumPorts(nullptr, 1, buf.data(), cbFirst, &cbNeeded, &cReturned));
    EXPECT_EQ(GetLastError(), (DWORD)ERROR_INSUFFICIENT_BUFFER);
    EXPECT_EQ(cbNeeded, (DWORD)(2 * sizeof(PORT_INFO_1A) + 4));
    EXPECT_EQ(cReturned, 0u);

    buf.assign(cbNeeded, 0);
    EXPECT_TRUE(ZUVEnumPorts(nullptr, 1, buf.data(), cbNeeded, &cbNeeded, &cReturned));
    EXPECT_EQ(cReturned, 2u);
    EXPECT_EQ(PortNames(), (std::vector<std::string>{"A", "B"}));
    gZUVMon.bAutoEnable = FALSE;
}

TEST_F(DiscoveryTest, EnumPortsDoesNotRunDiscoveryWhenDisabled)
{
    ASSERT_TRUE(Start());
    fake_.AddDevice("127.0.0.55", "Unseen");
    DWORD cbNeeded = 0, cReturned = 0;
    EXPECT_TRUE(ZUVEnumPorts(nullptr, 2, nullptr, 0, &cbNeeded, &cReturned));
    EXPECT_EQ(fake_.calls(), "");
    EXPECT_EQ(gZUVMon.dwPortCount, 0u);
}

}  // namespace
