// The monitor's start-up, its table entries that move no documents, the port
// records and list, the registry store and the port administration entries.
// Nothing here turns discovery on; the discovery runs have their own programs.
#include <gtest/gtest.h>

#include <string.h>

#include <string>
#include <vector>

#include "dorve/dialog_driver.h"
#include "dorve/registry_host.h"
#include "dorve/winsock_host.h"
#include "testlib.h"

using namespace dorvetest;

namespace {

const char kSocketsReason[] =
    "Windows sockets either failed to load or doesn't support the required version";
const char kRegistryReason[] =
    "The monitor had a problem either reading or writing to the registry";

class MonitorTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        ResetMonitorState();
        DorveWsaReset();
        ASSERT_TRUE(LoadMonitorModule());
    }
    void TearDown() override
    {
        ResetMonitorState();
        DorveWsaReset();
    }

    bool Start()
    {
        MONITOR table;
        return InitializeMonitorEx((LPSTR) "ignored", &table) != FALSE;
    }

    void AddStoredPort(const std::string &name, const std::string &address)
    {
        ASSERT_TRUE(RegWriteString(PortKeyPath(name), "IPAddress", address));
    }

    LPZUVPort Port(DWORD i) { return gZUVMon.lppPorts[i]; }

    std::vector<std::string> PortNames()
    {
        std::vector<std::string> names;
        for (DWORD i = 0; i < gZUVMon.dwPortCount; i++)
            names.push_back(gZUVMon.lppPorts[i]->szPortName);
        return names;
    }

    // A zero-filled heap record with a name, for the list operations.
    static LPZUVPort NewPort(const std::string &name)
    {
        LPZUVPort port = (LPZUVPort)calloc(1, sizeof(ZUVPort));
        lstrcpynA(port->szPortName, name.c_str(), ZUV_NAME_LEN);
        return port;
    }

    TempRegistry registry_;
    EventRecorder events_;
};

void ExpectDefaults(LPZUVPort port)
{
    EXPECT_EQ(port->dwStsInterval, 5u);
    EXPECT_EQ(port->dwConnType, 0u);
    EXPECT_EQ(port->dwStsTimeout, 10u);
    EXPECT_EQ(port->dwSendTimeout, 60u);
    EXPECT_EQ(port->bDefErrors, 1);
    EXPECT_EQ(port->bDefWarnings, 1);
    EXPECT_EQ(port->bDefInfos, 1);
    EXPECT_EQ(port->bAudibleAlert, 0);
    EXPECT_EQ(port->bTrapNotification, 0);
}

// ---- DllMain and start-up ----

TEST_F(MonitorTest, DllMainKeepsTheHandleOnlyAtProcessAttach)
{
    HINSTANCE saved = ghInstance;
    HINSTANCE fake = (HINSTANCE)(UINT_PTR)0x1234;
    EXPECT_TRUE(DllMain(fake, DLL_THREAD_ATTACH, nullptr));
    EXPECT_EQ(ghInstance, saved);
    EXPECT_TRUE(DllMain(fake, DLL_PROCESS_DETACH, nullptr));
    EXPECT_EQ(ghInstance, saved);
    EXPECT_TRUE(DllMain(fake, DLL_PROCESS_ATTACH, nullptr));
    EXPECT_EQ(ghInstance, fake);
    ghInstance = saved;
}

TEST_F(MonitorTest, StartUpFillsTheTableCreatesTheKeysAndReportsSuccess)
{
    MONITOR table;
    memset(&table, 0xAB, sizeof(table));
    ASSERT_TRUE(InitializeMonitorEx((LPSTR) "Some\\Other\\Root", &table));

    EXPECT_EQ(table.pfnEnumPorts, &ZUVEnumPorts);
    EXPECT_EQ(table.pfnOpenPort, &ZUVOpenPort);
    EXPECT_EQ(table.pfnOpenPortEx, nullptr);
    EXPECT_EQ(table.pfnStartDocPort, &ZUVStartDocPort);
    EXPECT_EQ(table.pfnWritePort, &ZUVWritePort);
    EXPECT_EQ(table.pfnReadPort, &ZUVReadPort);
    EXPECT_EQ(table.pfnEndDocPort, &ZUVEndDocPort);
    EXPECT_EQ(table.pfnClosePort, &ZUVClosePort);
    EXPECT_EQ(table.pfnAddPort, &ZUVAddPort);
    EXPECT_EQ(table.pfnConfigurePort, &ZUVConfigurePort);
    EXPECT_EQ(table.pfnDeletePort, &ZUVDeletePort);
    EXPECT_EQ(table.pfnGetPrinterDataFromPort, &ZUVGetPrinterDataFromPort);
    EXPECT_EQ(table.pfnSetPortTimeOuts, &ZUVSetPortTimeOuts);

    // The fixed keys are made on first start; the registry root is not used.
    EXPECT_TRUE(RegKeyExists(ZUV_OPTIONS_KEY));
    EXPECT_TRUE(RegKeyExists(ZUV_PORTS_KEY));
    EXPECT_FALSE(RegKeyExists("Some\\Other\\Root"));
    EXPECT_EQ(gZUVMon.dwPortCount, 0u);
    EXPECT_FALSE(gZUVMon.bAutoEnable);

    ASSERT_EQ(events_.size(), 1u);
    RecordedEvent event = events_.events()[0];
    EXPECT_EQ(event.dwEventID, MSG_INIT_OK);
    EXPECT_EQ(event.wType, EVENTLOG_INFORMATION_TYPE);
    EXPECT_EQ(event.wCategory, 0);
    EXPECT_TRUE(event.strings.empty());
}

struct SocketStartCase {
    const char *name;
    int wsaError;
    WORD wReported;
    int cleanups;
};

class SocketStartFailure : public MonitorTest,
                           public ::testing::WithParamInterface<SocketStartCase> {};

TEST_P(SocketStartFailure, FailsWithoutTouchingTheTable)
{
    const SocketStartCase &c = GetParam();
    DorveWsaSetStartupResult(c.wsaError, c.wReported);
    MONITOR table;
    memset(&table, 0x5A, sizeof(table));
    MONITOR pattern = table;

    EXPECT_FALSE(InitializeMonitorEx((LPSTR) "", &table));
    EXPECT_EQ(memcmp(&table, &pattern, sizeof(table)), 0);
    EXPECT_EQ(DorveWsaCleanupCount(), c.cleanups);

    ASSERT_EQ(events_.size(), 1u);
    RecordedEvent event = events_.events()[0];
    EXPECT_EQ(event.dwEventID, MSG_INIT_FAILED);
    EXPECT_EQ(event.wType, EVENTLOG_ERROR_TYPE);
    ASSERT_EQ(event.strings.size(), 1u);
    EXPECT_EQ(event.strings[0], kSocketsReason);
}

INSTANTIATE_TEST_SUITE_P(
    Sockets, SocketStartFailure,
    ::testing::Values(SocketStartCase{"Version10", 0, 0x0001, 1},
                      SocketStartCase{"Version20", 0, 0x0002, 1},
                      SocketStartCase{"Version12", 0, 0x0201, 1},
                      SocketStartCase{"StartupFails", 10091 /* WSASYSNOTREADY */, 0, 0}),
    [](const ::testing::TestParamInfo<SocketStartCase> &info) { return info.param.name; });

TEST_F(MonitorTest, UnreadableRegistryFailsStartUpWithTheRegistryReason)
{
    std::string broken = registry_.dir() + "/broken.reg";
    FILE *f = fopen(broken.c_str(), "w");
    ASSERT_NE(f, nullptr);
    fputs("this is not a registry file\n", f);
    fclose(f);
    EXPECT_FALSE(DorveRegistryUseFile(broken.c_str()));

    MONITOR table;
    memset(&table, 0x11, sizeof(table));
    MONITOR pattern = table;
    EXPECT_FALSE(InitializeMonitorEx((LPSTR) "", &table));
    EXPECT_EQ(memcmp(&table, &pattern, sizeof(table)), 0);
    ASSERT_EQ(events_.count(MSG_INIT_FAILED), 1u);
    EXPECT_EQ(events_.last(MSG_INIT_FAILED).strings.at(0), kRegistryReason);
    // The sockets were never asked.
    EXPECT_EQ(DorveWsaCleanupCount(), 0);
}

// ---- Port enumeration ----

class EnumPortsTest : public MonitorTest {
protected:
    void SetUp() override
    {
        MonitorTest::SetUp();
        ASSERT_TRUE(AddZUVPort2List(&gZUVMon, NewPort("P1")));
    }
    static DWORD Level2Size(size_t cchName)
    {
        return (DWORD)(sizeof(PORT_INFO_2A) + sizeof(ZUV_MONITOR_NAME) + sizeof(ZUV_PORT_DESC) +
                       cchName + 1);
    }
};

TEST_F(EnumPortsTest, EmptyListNeedsNothingAndWritesNothing)
{
    ResetMonitorState();
    for (DWORD level : {1u, 2u}) {
        DWORD cbNeeded = 99, cReturned = 99;
        EXPECT_TRUE(ZUVEnumPorts(nullptr, level, nullptr, 0, &cbNeeded, &cReturned));
        EXPECT_EQ(cbNeeded, 0u);
        EXPECT_EQ(cReturned, 0u);
    }
}

TEST_F(EnumPortsTest, Level2PacksOnePortExactlyIntoItsSize)
{
    DWORD cbNeeded = 0, cReturned = 0;
    SetLastError(0);
    EXPECT_FALSE(ZUVEnumPorts(nullptr, 2, nullptr, 0, &cbNeeded, &cReturned));
    EXPECT_EQ(GetLastError(), (DWORD)ERROR_INSUFFICIENT_BUFFER);
    ASSERT_EQ(cbNeeded, Level2Size(2));
    if (sizeof(void *) == 4) {
        EXPECT_EQ(cbNeeded, 54u);
    }

    std::vector<BYTE> buf(cbNeeded, 0xCD);
    ASSERT_TRUE(ZUVEnumPorts(nullptr, 2, buf.data(), cbNeeded, &cbNeeded, &cReturned));
    EXPECT_EQ(cReturned, 1u);
    PORT_INFO_2A info;
    memcpy(&info, buf.data(), sizeof(info));
    BYTE *end = buf.data() + cbNeeded;
    EXPECT_EQ((BYTE *)info.pPortName, end - 3);
    EXPECT_STREQ(info.pPortName, "P1");
    EXPECT_EQ((BYTE *)info.pMonitorName, end - 3 - 20);
    EXPECT_STREQ(info.pMonitorName, "Dorve Print Monitor");
    EXPECT_EQ((BYTE *)info.pDescription, end - 3 - 20 - 11);
    EXPECT_STREQ(info.pDescription, "Dorve Port");
    // Nothing is left between the entry and the strings.
    EXPECT_EQ((BYTE *)info.pDescription, buf.data() + sizeof(PORT_INFO_2A));
    EXPECT_EQ(info.fPortType, (DWORD)PORT_TYPE_WRITE);
    EXPECT_EQ(info.Reserved, 0xCDCDCDCDu);
}

TEST_F(EnumPortsTest, OneByteShortFailsAndLeavesTheBufferUntouched)
{
    DWORD cbSize = Level2Size(2);
    std::vector<BYTE> buf(cbSize, 0x77);
    DWORD cbNeeded = 0, cReturned = 55;
    SetLastError(0);
    EXPECT_FALSE(ZUVEnumPorts(nullptr, 2, buf.data(), cbSize - 1, &cbNeeded, &cReturned));
    EXPECT_EQ(GetLastError(), (DWORD)ERROR_INSUFFICIENT_BUFFER);
    EXPECT_EQ(cbNeeded, cbSize);
    EXPECT_EQ(cReturned, 0u);
    for (BYTE b : buf)
        ASSERT_EQ(b, 0x77);
}

TEST_F(EnumPortsTest, Level1NeedsAPointerAndTheName)
{
    DWORD cbNeeded = 0, cReturned = 0;
    EXPECT_FALSE(ZUVEnumPorts(nullptr, 1, nullptr, 0, &cbNeeded, &cReturned));
    EXPECT_EQ(cbNeeded, (DWORD)(sizeof(PORT_INFO_1A) + 3));
    if (sizeof(void *) == 4) {
        EXPECT_EQ(cbNeeded, 7u);
    }
    std::vector<BYTE> buf(cbNeeded, 0);
    ASSERT_TRUE(ZUVEnumPorts(nullptr, 1, buf.data(), cbNeeded, &cbNeeded, &cReturned));
    PORT_INFO_1A info;
    memcpy(&info, buf.data(), sizeof(info));
    EXPECT_EQ((BYTE *)info.pName, buf.data() + cbNeeded - 3);
    EXPECT_STREQ(info.pName, "P1");
}

TEST_F(EnumPortsTest, OtherLevelsAnswerAsLevel2)
{
    DWORD cbSize = Level2Size(2) + 16;  // a larger buffer: strings still pack from its end
    std::vector<BYTE> expected(cbSize, 0x31);
    DWORD cbNeeded = 0, cReturned = 0;
    ASSERT_TRUE(ZUVEnumPorts(nullptr, 2, expected.data(), cbSize, &cbNeeded, &cReturned));
    for (DWORD level : {0u, 3u, 7u}) {
        std::vector<BYTE> buf(cbSize, 0x31);
        DWORD cbLevel = 0, cLevel = 0;
        // Same buffer address, so the pointers inside must match too.
        std::vector<BYTE> &target = buf;
        ASSERT_TRUE(ZUVEnumPorts(nullptr, level, target.data(), cbSize, &cbLevel, &cLevel));
        EXPECT_EQ(cbLevel, cbNeeded);
        EXPECT_EQ(cLevel, 1u);
        PORT_INFO_2A info;
        memcpy(&info, buf.data(), sizeof(info));
        EXPECT_EQ((BYTE *)info.pPortName, buf.data() + cbSize - 3) << level;
        EXPECT_STREQ(info.pMonitorName, "Dorve Print Monitor");
        EXPECT_STREQ(info.pDescription, "Dorve Port");
        EXPECT_EQ(memcmp(buf.data() + sizeof(info), expected.data() + sizeof(info),
                         cbSize - sizeof(info)),
                  0);
    }
}

TEST_F(EnumPortsTest, SeveralPortsPackNamesDownwardsInListOrder)
{
    ASSERT_TRUE(AddZUVPort2List(&gZUVMon, NewPort("Second")));
    ASSERT_TRUE(AddZUVPort2List(&gZUVMon, NewPort("X")));
    DWORD cbNeeded = 0, cReturned = 0;
    ZUVEnumPorts(nullptr, 1, nullptr, 0, &cbNeeded, &cReturned);
    EXPECT_EQ(cbNeeded, (DWORD)(3 * sizeof(PORT_INFO_1A) + 3 + 7 + 2));
    std::vector<BYTE> buf(cbNeeded + 5, 0xEE);
    DWORD cbBuf = (DWORD)buf.size();
    ASSERT_TRUE(ZUVEnumPorts(nullptr, 1, buf.data(), cbBuf, &cbNeeded, &cReturned));
    ASSERT_EQ(cReturned, 3u);
    PORT_INFO_1A info[3];
    memcpy(info, buf.data(), sizeof(info));
    BYTE *end = buf.data() + cbBuf;
    EXPECT_EQ((BYTE *)info[0].pName, end - 3);
    EXPECT_EQ((BYTE *)info[1].pName, end - 3 - 7);
    EXPECT_EQ((BYTE *)info[2].pName, end - 3 - 7 - 2);
    EXPECT_STREQ(info[0].pName, "P1");
    EXPECT_STREQ(info[1].pName, "Second");
    EXPECT_STREQ(info[2].pName, "X");
    // The 5 spare bytes between entries and strings are not written.
    for (size_t i = sizeof(info); i < sizeof(info) + 5; i++)
        EXPECT_EQ(buf[i], 0xEE);
}

// ---- OpenPort and the fixed entries ----

TEST_F(MonitorTest, OpenPortFindsTheExactNameAndResetsTheLastEvent)
{
    ASSERT_TRUE(AddZUVPort2List(&gZUVMon, NewPort("Office")));
    Port(0)->dwLastEvent = MSG_SDP_OPENPRINTER;
    HANDLE h = nullptr;
    ASSERT_TRUE(ZUVOpenPort((LPSTR) "Office", &h));
    EXPECT_EQ(h, (HANDLE)Port(0));
    EXPECT_EQ(Port(0)->dwLastEvent, 0u);
    HANDLE h2 = nullptr;
    ASSERT_TRUE(ZUVOpenPort((LPSTR) "Office", &h2));
    EXPECT_EQ(h2, h);
    EXPECT_EQ(events_.size(), 0u);
}

TEST_F(MonitorTest, OpenPortOfAnUnknownNameReportsItAndLeavesTheHandle)
{
    ASSERT_TRUE(AddZUVPort2List(&gZUVMon, NewPort("Office")));
    std::string longName(200, 'z');
    for (const std::string &name : {std::string("office"), std::string("OFFICE"), longName}) {
        events_.clear();
        HANDLE h = (HANDLE)(UINT_PTR)0x4321;
        SetLastError(777);
        EXPECT_FALSE(ZUVOpenPort((LPSTR)name.c_str(), &h));
        EXPECT_EQ(h, (HANDLE)(UINT_PTR)0x4321);
        EXPECT_EQ(GetLastError(), 777u);
        ASSERT_EQ(events_.size(), 1u);
        RecordedEvent event = events_.events()[0];
        EXPECT_EQ(event.dwEventID, MSG_OPENPORT_NOPORT);
        EXPECT_EQ(event.wType, EVENTLOG_WARNING_TYPE);
        ASSERT_EQ(event.strings.size(), 1u);
        EXPECT_EQ(event.strings[0], name.substr(0, 127));
    }
}

TEST_F(MonitorTest, FixedEntriesAnswerWithoutWritingAnything)
{
    ASSERT_TRUE(AddZUVPort2List(&gZUVMon, NewPort("P")));
    HANDLE h = (HANDLE)Port(0);
    BYTE buf[8];
    memset(buf, 0x42, sizeof(buf));
    DWORD cb = 1234;
    COMMTIMEOUTS cto;
    memset(&cto, 0x24, sizeof(cto));
    SetLastError(4242);
    EXPECT_TRUE(ZUVClosePort(h));
    EXPECT_FALSE(ZUVReadPort(h, buf, sizeof(buf), &cb));
    EXPECT_FALSE(ZUVGetPrinterDataFromPort(h, 1, (LPSTR) "v", (LPSTR)buf, 4, (LPSTR)buf, 4, &cb));
    EXPECT_FALSE(ZUVSetPortTimeOuts(h, &cto, 0));
    EXPECT_EQ(GetLastError(), 4242u);
    EXPECT_EQ(cb, 1234u);
    for (BYTE b : buf)
        EXPECT_EQ(b, 0x42);
    // ClosePort keeps the record.
    EXPECT_EQ(FindZUVPortInList(&gZUVMon, "P"), Port(0));
}

// ---- Event gating ----

struct GateCase {
    const char *name;
    WORD wType;
    BOOL bDefErrors;
    BOOL bDefWarnings;
    DWORD dwLastEvent;
    bool passes;
};

class EventGate : public MonitorTest, public ::testing::WithParamInterface<GateCase> {};

TEST_P(EventGate, FollowsTheFlagsAndTheLastEvent)
{
    const GateCase &c = GetParam();
    ZUVPort port;
    memset(&port, 0, sizeof(port));
    port.bDefErrors = c.bDefErrors;
    port.bDefWarnings = c.bDefWarnings;
    port.dwLastEvent = c.dwLastEvent;
    LPCSTR strings[1] = {"x"};
    ReportPortEvent(&port, c.wType, 0xA0001234, 1, strings);
    EXPECT_EQ(events_.size(), c.passes ? 1u : 0u);
    EXPECT_EQ(port.dwLastEvent, c.passes ? 0xA0001234u : c.dwLastEvent);
}

INSTANTIATE_TEST_SUITE_P(
    Gate, EventGate,
    ::testing::Values(GateCase{"ErrorOn", EVENTLOG_ERROR_TYPE, 1, 0, 0, true},
                      GateCase{"ErrorOff", EVENTLOG_ERROR_TYPE, 0, 1, 0, false},
                      GateCase{"WarningOn", EVENTLOG_WARNING_TYPE, 0, 1, 0, true},
                      GateCase{"WarningOff", EVENTLOG_WARNING_TYPE, 1, 0, 0, false},
                      GateCase{"Repeat", EVENTLOG_WARNING_TYPE, 1, 1, 0xA0001234, false},
                      GateCase{"OtherLast", EVENTLOG_WARNING_TYPE, 1, 1, 0xA0000001, true},
                      GateCase{"DroppedKeepsLast", EVENTLOG_ERROR_TYPE, 0, 1, 0xA0000001, false}),
    [](const ::testing::TestParamInfo<GateCase> &info) { return info.param.name; });

// ---- The port list ----

TEST_F(MonitorTest, ListLookupIsExactAndCutsLongNames)
{
    std::string name127(127, 'n');
    ASSERT_TRUE(AddZUVPort2List(&gZUVMon, NewPort("Lab")));
    ASSERT_TRUE(AddZUVPort2List(&gZUVMon, NewPort(name127)));
    EXPECT_EQ(FindZUVPortInList(&gZUVMon, "Lab"), Port(0));
    EXPECT_EQ(FindZUVPortInList(&gZUVMon, "lab"), nullptr);
    EXPECT_EQ(FindZUVPortInList(&gZUVMon, "La"), nullptr);
    EXPECT_EQ(FindZUVPortInList(&gZUVMon, (name127 + "tail").c_str()), Port(1));
}

TEST_F(MonitorTest, ListAppendKeepsOrderAndRemovalClosesTheGap)
{
    for (const char *name : {"A", "B", "C"})
        ASSERT_TRUE(AddZUVPort2List(&gZUVMon, NewPort(name)));
    LPZUVPort first = Port(0), third = Port(2);
    EXPECT_EQ(PortNames(), (std::vector<std::string>{"A", "B", "C"}));

    EXPECT_TRUE(DeleteZUVPortFromList(&gZUVMon, "B"));
    ASSERT_EQ(gZUVMon.dwPortCount, 2u);
    EXPECT_EQ(Port(0), first);
    EXPECT_EQ(Port(1), third);

    // A name not in the list (also one differing in case) changes nothing.
    EXPECT_FALSE(DeleteZUVPortFromList(&gZUVMon, "a"));
    EXPECT_EQ(PortNames(), (std::vector<std::string>{"A", "C"}));

    EXPECT_TRUE(DeleteZUVPortFromList(&gZUVMon, "A"));
    EXPECT_TRUE(DeleteZUVPortFromList(&gZUVMon, "C"));
    EXPECT_EQ(gZUVMon.dwPortCount, 0u);
    EXPECT_FALSE(DeleteZUVPortFromList(&gZUVMon, "C"));
    EXPECT_EQ(gZUVMon.dwPortCount, 0u);

    // An emptied list takes appends again.
    ASSERT_TRUE(AddZUVPort2List(&gZUVMon, NewPort("D")));
    EXPECT_EQ(PortNames(), std::vector<std::string>{"D"});
}

// ---- Loading from the registry ----

TEST_F(MonitorTest, PortWithOnlyAnAddressLoadsWithTheDefaults)
{
    AddStoredPort("P1", "printer.example");
    ASSERT_TRUE(Start());
    ASSERT_EQ(gZUVMon.dwPortCount, 1u);
    EXPECT_STREQ(Port(0)->szPortName, "P1");
    EXPECT_STREQ(Port(0)->szIPAddress, "printer.example");
    ExpectDefaults(Port(0));
    EXPECT_EQ(Port(0)->dwLastEvent, 0u);
    EXPECT_EQ(Port(0)->hPrinter, nullptr);
}

TEST_F(MonitorTest, StoredSettingsLoadIntoTheirFields)
{
    std::string key = PortKeyPath("P2");
    AddStoredPort("P2", "127.0.0.2");
    const std::pair<const char *, DWORD> values[] = {
        {"StsInterval", 7},  {"ConnType", 3},    {"StsTimeout", 11},
        {"SendTimeout", 2},  {"DefErrors", 0},   {"DefWarnings", 0},
        {"DefInfos", 0},     {"AudibleAlert", 1}, {"TrapNotification", 1}};
    for (const auto &v : values)
        ASSERT_TRUE(RegWriteDword(key, v.first, v.second));
    ASSERT_TRUE(Start());
    ASSERT_EQ(gZUVMon.dwPortCount, 1u);
    LPZUVPort p = Port(0);
    EXPECT_EQ(p->dwStsInterval, 7u);
    EXPECT_EQ(p->dwConnType, 3u);
    EXPECT_EQ(p->dwStsTimeout, 11u);
    EXPECT_EQ(p->dwSendTimeout, 2u);
    EXPECT_EQ(p->bDefErrors, 0);
    EXPECT_EQ(p->bDefWarnings, 0);
    EXPECT_EQ(p->bDefInfos, 0);
    EXPECT_EQ(p->bAudibleAlert, 1);
    EXPECT_EQ(p->bTrapNotification, 1);
}

struct DwordCase {
    const char *name;
    DWORD dwType;
    std::vector<unsigned char> bytes;
    DWORD expected;
};

class DwordRule : public MonitorTest, public ::testing::WithParamInterface<DwordCase> {};

TEST_P(DwordRule, ReadsUpToFourBytesOfAnyType)
{
    const DwordCase &c = GetParam();
    AddStoredPort("P", "127.0.0.3");
    ASSERT_TRUE(RegWriteValue(PortKeyPath("P"), "StsInterval", c.dwType,
                              c.bytes.empty() ? nullptr : c.bytes.data(), (DWORD)c.bytes.size()));
    ASSERT_TRUE(Start());
    ASSERT_EQ(gZUVMon.dwPortCount, 1u);
    EXPECT_EQ(Port(0)->dwStsInterval, c.expected);
}

INSTANTIATE_TEST_SUITE_P(
    Values, DwordRule,
    ::testing::Values(DwordCase{"OneByte", REG_BINARY, {1}, 1},
                      DwordCase{"TwoBytes", REG_BINARY, {0x34, 0x12}, 0x1234},
                      DwordCase{"FourByteBinary", REG_BINARY, {0x0a, 0, 0, 0}, 10},
                      DwordCase{"FourByteString", REG_SZ, {'a', 'b', 'c', 0}, 0x00636261},
                      DwordCase{"FourByteDword", REG_DWORD, {0x58, 0x02, 0, 0}, 600},
                      DwordCase{"LongString", REG_SZ, {'1', '2', '3', '4', 0}, 5},
                      DwordCase{"EightBytes", REG_QWORD, {1, 0, 0, 0, 0, 0, 0, 0}, 5},
                      DwordCase{"Empty", REG_BINARY, {}, 0}),
    [](const ::testing::TestParamInfo<DwordCase> &info) { return info.param.name; });

TEST_F(MonitorTest, PortsWithoutAUsableAddressAreSkippedAndKept)
{
    ASSERT_TRUE(RegWriteDword(PortKeyPath("NoAddress"), "StsInterval", 9));
    AddStoredPort("TooLong", std::string(128, 'a'));      // 129 bytes with its NUL
    AddStoredPort("Longest", std::string(127, 'b'));      // 128 bytes: fits
    AddStoredPort("Good", "127.0.0.4");
    ASSERT_TRUE(Start());
    EXPECT_EQ(PortNames(), (std::vector<std::string>{"Good", "Longest"}));
    EXPECT_EQ(std::string(FindZUVPortInList(&gZUVMon, "Longest")->szIPAddress),
              std::string(127, 'b'));
    EXPECT_TRUE(RegKeyExists(PortKeyPath("NoAddress")));
    EXPECT_TRUE(RegKeyExists(PortKeyPath("TooLong")));
}

TEST_F(MonitorTest, PortsLoadInRegistryEnumerationOrder)
{
    for (const char *name : {"delta", "Alpha", "charlie", "Bravo"})
        AddStoredPort(name, "127.0.0.5");
    std::vector<std::string> enumerated;
    HKEY hKey;
    ASSERT_EQ(RegOpenKeyExA(HKEY_LOCAL_MACHINE, ZUV_PORTS_KEY, 0, KEY_READ, &hKey), ERROR_SUCCESS);
    char name[128];
    for (DWORD i = 0; RegEnumKeyA(hKey, i, name, sizeof(name)) == ERROR_SUCCESS; i++)
        enumerated.push_back(name);
    RegCloseKey(hKey);
    ASSERT_TRUE(Start());
    EXPECT_EQ(PortNames(), enumerated);
    EXPECT_EQ(enumerated.size(), 4u);
}

TEST_F(MonitorTest, AutoEnableFollowsTheDwordRuleAndIsStoredAsADword)
{
    ASSERT_TRUE(RegWriteValue(ZUV_OPTIONS_KEY, "AutoEnable", REG_BINARY, "\x01", 1));
    gZUVMon.bAutoEnable = 77;
    EXPECT_TRUE(LoadAutoDiscovery(&gZUVMon));
    EXPECT_EQ(gZUVMon.bAutoEnable, 1);

    ASSERT_TRUE(RegWriteValue(ZUV_OPTIONS_KEY, "AutoEnable", REG_SZ, "long!", 6));
    EXPECT_TRUE(LoadAutoDiscovery(&gZUVMon));
    EXPECT_EQ(gZUVMon.bAutoEnable, 0);

    gZUVMon.bAutoEnable = TRUE;
    EXPECT_TRUE(SetAutoDiscovery(&gZUVMon));
    DWORD dwType = 0;
    std::vector<unsigned char> bytes;
    ASSERT_TRUE(RegReadValue(ZUV_OPTIONS_KEY, "AutoEnable", &dwType, &bytes));
    EXPECT_EQ(dwType, (DWORD)REG_DWORD);
    EXPECT_EQ(bytes, (std::vector<unsigned char>{1, 0, 0, 0}));
    gZUVMon.bAutoEnable = FALSE;
}

// ---- Registry store of added and deleted ports ----

TEST_F(MonitorTest, DiscoveredPortIsStoredWithItsAddressOnly)
{
    LPZUVPort port = NewPort("Found");
    lstrcpynA(port->szIPAddress, "127.0.0.6", ZUV_NAME_LEN);
    SetZUVPortDefaults(port);
    port->dwStsInterval = 42;  // a setting is not stored
    AddAutoDiscoveredPort(&gZUVMon, port);
    ASSERT_EQ(gZUVMon.dwPortCount, 1u);
    EXPECT_EQ(Port(0), port);

    DWORD dwType = 0;
    std::vector<unsigned char> bytes;
    ASSERT_TRUE(RegReadValue(PortKeyPath("Found"), "IPAddress", &dwType, &bytes));
    EXPECT_EQ(dwType, (DWORD)REG_SZ);
    EXPECT_EQ(std::string(bytes.begin(), bytes.end()), std::string("127.0.0.6", 10));
    EXPECT_FALSE(RegReadValue(PortKeyPath("Found"), "StsInterval", &dwType, &bytes));

    ResetMonitorState();
    ASSERT_TRUE(Start());
    ASSERT_EQ(gZUVMon.dwPortCount, 1u);
    ExpectDefaults(Port(0));
}

TEST_F(MonitorTest, DeletePortRemovesKeyAndRecord)
{
    AddStoredPort("Keep", "127.0.0.7");
    AddStoredPort("Gone", "127.0.0.8");
    ASSERT_TRUE(Start());
    EXPECT_TRUE(ZUVDeletePort(nullptr, nullptr, (LPSTR) "Gone"));
    EXPECT_FALSE(RegKeyExists(PortKeyPath("Gone")));
    EXPECT_EQ(PortNames(), std::vector<std::string>{"Keep"});
    EXPECT_EQ(events_.count(MSG_DELETEPORT_FAILED), 0u);
}

TEST_F(MonitorTest, DeletePortWithoutAKeyFailsAndKeepsThePort)
{
    ASSERT_TRUE(AddZUVPort2List(&gZUVMon, NewPort("Orphan")));
    std::string longName(150, 'q');
    for (const std::string &name : {std::string("Orphan"), std::string("Missing"), longName}) {
        events_.clear();
        EXPECT_FALSE(ZUVDeletePort(nullptr, nullptr, (LPSTR)name.c_str()));
        ASSERT_EQ(events_.count(MSG_DELETEPORT_FAILED), 1u);
        RecordedEvent event = events_.last(MSG_DELETEPORT_FAILED);
        EXPECT_EQ(event.wType, EVENTLOG_WARNING_TYPE);
        EXPECT_EQ(event.strings.at(0), name.substr(0, 127));
    }
    EXPECT_EQ(PortNames(), std::vector<std::string>{"Orphan"});
}

TEST_F(MonitorTest, DeletePortIsRefusedWhileADocumentIsInProgress)
{
    AddStoredPort("Busy", "127.0.0.9");
    ASSERT_TRUE(Start());
    Port(0)->bDocStarted = TRUE;
    EXPECT_FALSE(ZUVDeletePort(nullptr, nullptr, (LPSTR) "Busy"));
    EXPECT_TRUE(RegKeyExists(PortKeyPath("Busy")));
    EXPECT_EQ(gZUVMon.dwPortCount, 1u);
    EXPECT_EQ(events_.count(MSG_DELETEPORT_FAILED), 1u);
    Port(0)->bDocStarted = FALSE;
    EXPECT_TRUE(ZUVDeletePort(nullptr, nullptr, (LPSTR) "Busy"));
}

// ---- Port administration, through the dialogs run from a script ----

// The dialogs' control ids (the resource script's).
const int kIdPortName = 101;
const int kIdAddress = 102;

class AdminTest : public MonitorTest {
protected:
    void SetUp() override
    {
        MonitorTest::SetUp();
        DorveDlgReset();
    }
    void TearDown() override
    {
        DorveDlgReset();
        MonitorTest::TearDown();
    }
};

TEST_F(AdminTest, AddPortStoresTheAddressOnlyAndLoadsThePort)
{
    ASSERT_TRUE(Start());
    events_.clear();
    DorveDlgScriptClick(kIdPortName);
    DorveDlgScriptType("Lab2");
    // The name was copied into the address: replace it, so that no name
    // lookup ever leaves the machine.
    DorveDlgScriptSelect(kIdAddress, 0, -1);
    DorveDlgScriptType("127.0.0.12");
    DorveDlgScriptClick(IDOK);
    ASSERT_TRUE(ZUVAddPort(nullptr, nullptr, (LPSTR) "Dorve Port"));
    EXPECT_EQ(events_.size(), 0u);
    ASSERT_EQ(PortNames(), std::vector<std::string>{"Lab2"});
    EXPECT_STREQ(Port(0)->szIPAddress, "127.0.0.12");
    ExpectDefaults(Port(0));

    DWORD dwType = 0;
    std::vector<unsigned char> bytes;
    ASSERT_TRUE(RegReadValue(PortKeyPath("Lab2"), "IPAddress", &dwType, &bytes));
    EXPECT_EQ(dwType, (DWORD)REG_SZ);
    EXPECT_EQ(std::string(bytes.begin(), bytes.end()), std::string("127.0.0.12", 11));
    EXPECT_FALSE(RegReadValue(PortKeyPath("Lab2"), "StsInterval", &dwType, &bytes));
}

TEST_F(AdminTest, CancellingEitherDialogSucceedsAndStoresNothing)
{
    AddStoredPort("Known", "127.0.0.13");
    ASSERT_TRUE(Start());
    events_.clear();
    std::string before = registry_.contents();
    DorveDlgScriptKey(DORVE_KEY_ESCAPE);
    EXPECT_TRUE(ZUVAddPort(nullptr, nullptr, (LPSTR) "Dorve Port"));
    DorveDlgScriptKey(DORVE_KEY_ESCAPE);
    EXPECT_TRUE(ZUVConfigurePort(nullptr, nullptr, (LPSTR) "Known"));
    EXPECT_EQ(events_.size(), 0u);
    EXPECT_EQ(gZUVMon.dwPortCount, 1u);
    EXPECT_EQ(registry_.contents(), before);
}

TEST_F(AdminTest, ConfigurePortWritesAllNineSettingsAsDwords)
{
    AddStoredPort("Known", "127.0.0.14");
    ASSERT_TRUE(Start());
    LPZUVPort p = Port(0);
    p->dwStsInterval = 7;
    p->dwConnType = 3;
    p->dwStsTimeout = 11;
    p->dwSendTimeout = 2;
    p->bDefErrors = 0;
    p->bDefWarnings = 0;
    p->bDefInfos = 0;
    p->bAudibleAlert = 1;
    p->bTrapNotification = 1;
    DorveDlgScriptClick(IDOK);
    ASSERT_TRUE(ZUVConfigurePort(nullptr, nullptr, (LPSTR) "Known"));
    EXPECT_EQ(events_.count(MSG_CONFIG_FAILED), 0u);

    const std::pair<const char *, DWORD> expected[] = {
        {"StsInterval", p->dwStsInterval},       {"ConnType", 3},
        {"StsTimeout", p->dwStsTimeout},         {"SendTimeout", p->dwSendTimeout},
        {"DefErrors", 0},                        {"DefWarnings", 0},
        {"DefInfos", 0},                         {"AudibleAlert", (DWORD)p->bAudibleAlert},
        {"TrapNotification", (DWORD)p->bTrapNotification}};
    for (const auto &e : expected) {
        DWORD dwType = 0;
        std::vector<unsigned char> bytes;
        ASSERT_TRUE(RegReadValue(PortKeyPath("Known"), e.first, &dwType, &bytes)) << e.first;
        EXPECT_EQ(dwType, (DWORD)REG_DWORD) << e.first;
        ASSERT_EQ(bytes.size(), 4u) << e.first;
        DWORD dwValue;
        memcpy(&dwValue, bytes.data(), 4);
        EXPECT_EQ(dwValue, e.second) << e.first;
    }
    // The next start loads what was stored.
    ResetMonitorState();
    ASSERT_TRUE(Start());
    EXPECT_EQ(Port(0)->dwConnType, 3u);
    EXPECT_EQ(Port(0)->bDefInfos, 0);
    EXPECT_EQ(Port(0)->bTrapNotification, 1);
}

TEST_F(AdminTest, DialogsThatCannotBeShownFailWithTheirEvents)
{
    AddStoredPort("Known", "127.0.0.15");
    ASSERT_TRUE(Start());
    events_.clear();
    HINSTANCE saved = ghInstance;
    ghInstance = nullptr;  // no module with the dialog templates
    BOOL bAdded = ZUVAddPort(nullptr, nullptr, (LPSTR) "Dorve Port");
    BOOL bConfigured = ZUVConfigurePort(nullptr, nullptr, (LPSTR) "Known");
    ghInstance = saved;

    EXPECT_FALSE(bAdded);
    EXPECT_FALSE(bConfigured);
    ASSERT_EQ(events_.size(), 2u);
    RecordedEvent added = events_.events()[0];
    EXPECT_EQ(added.dwEventID, MSG_ADDPORT_FAILED);
    EXPECT_EQ(added.wType, EVENTLOG_WARNING_TYPE);
    EXPECT_TRUE(added.strings.empty());
    RecordedEvent configured = events_.events()[1];
    EXPECT_EQ(configured.dwEventID, MSG_CONFIG_FAILED);
    EXPECT_EQ(configured.strings.at(0), "Known");
    DWORD dwType;
    std::vector<unsigned char> bytes;
    EXPECT_FALSE(RegReadValue(PortKeyPath("Known"), "StsInterval", &dwType, &bytes));
    EXPECT_EQ(gZUVMon.dwPortCount, 1u);
}

TEST_F(AdminTest, ConfigurePortOfAnUnknownNameFailsBeforeAnyDialog)
{
    ASSERT_TRUE(AddZUVPort2List(&gZUVMon, NewPort("Known")));
    EXPECT_FALSE(ZUVConfigurePort(nullptr, nullptr, (LPSTR) "known"));
    ASSERT_EQ(events_.size(), 1u);
    EXPECT_EQ(events_.events()[0].dwEventID, MSG_CONFIG_NOPORT);
    EXPECT_EQ(events_.events()[0].strings.at(0), "known");
    EXPECT_EQ(DorveDlgRunCount(), 0);
}

}  // namespace
