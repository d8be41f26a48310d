// The spooler model: job records as GetJobA packs them, SetJobA updates and
// cancels, printer handles, ports across monitors, monitor registration and
// start through the registry.
#include <gtest/gtest.h>

#include <windows.h>
#include <winspool.h>
#include <winsplp.h>

#include <stddef.h>
#include <string.h>

#include <string>
#include <vector>

#include "dorve/spooler_host.h"
#include "testlib.h"

using dorvetest::TempRegistry;

namespace {

// The layouts the monitor's 32-bit DLL sees; the host build must agree.
static_assert(sizeof(void *) != 4 || sizeof(JOB_INFO_1A) == 64, "JOB_INFO_1A is 64 bytes");
static_assert(sizeof(void *) != 4 || offsetof(JOB_INFO_1A, Submitted) == 48, "Submitted at 48");
static_assert(sizeof(void *) != 4 || sizeof(PORT_INFO_2A) == 20, "PORT_INFO_2A is 20 bytes");
static_assert(sizeof(void *) != 4 || sizeof(DOC_INFO_2A) == 20, "DOC_INFO_2A is 20 bytes");
static_assert(sizeof(SYSTEMTIME) == 16, "SYSTEMTIME is 16 bytes");

class SpoolerTest : public ::testing::Test {
protected:
    void SetUp() override { DorveSpoolerReset(); }
    // The monitor keeps its port list for the life of the process; the
    // tests that start it give the list back here.
    void TearDown() override
    {
        DorveSpoolerReset();
        dorvetest::ResetMonitorState();
    }

    HANDLE Open(const char *printer)
    {
        HANDLE h = NULL;
        EXPECT_TRUE(OpenPrinterA((LPSTR)printer, &h, NULL));
        return h;
    }

    // The job record as a monitor fetches it: sizing call, then fetch.
    std::vector<BYTE> FetchJob(HANDLE h, DWORD id)
    {
        DWORD cbNeeded = 0;
        BYTE scratch[1];
        EXPECT_FALSE(GetJobA(h, id, 1, scratch, 0, &cbNeeded));
        EXPECT_EQ((DWORD)ERROR_INSUFFICIENT_BUFFER, GetLastError());
        std::vector<BYTE> block(cbNeeded);
        DWORD cbAgain = 0;
        EXPECT_TRUE(GetJobA(h, id, 1, block.data(), cbNeeded, &cbAgain));
        EXPECT_EQ(cbNeeded, cbAgain);
        return block;
    }

    TempRegistry registry_;
};

TEST_F(SpoolerTest, GetJobPacksTheRecordAndItsStringsInOneBlock)
{
    ASSERT_TRUE(DorveSpoolerAddPrinter("Queue", "LPT1:"));
    DWORD id = DorveSpoolerAddJob("Queue", "alice", "report.ps", 1234);
    ASSERT_EQ(1u, id);
    HANDLE h = Open("queue");  // printer names ignore letter case

    std::vector<BYTE> block = FetchJob(h, id);
    const JOB_INFO_1A *pInfo = (const JOB_INFO_1A *)block.data();
    const char *pBegin = (const char *)block.data() + sizeof(JOB_INFO_1A);
    const char *pEnd = (const char *)block.data() + block.size();
    const char *strings[] = {pInfo->pPrinterName, pInfo->pMachineName, pInfo->pUserName,
                             pInfo->pDocument, pInfo->pDatatype};
    size_t cbStrings = 0;
    for (const char *s : strings) {
        ASSERT_TRUE(s >= pBegin && s < pEnd);
        cbStrings += strlen(s) + 1;
    }
    EXPECT_EQ(sizeof(JOB_INFO_1A) + cbStrings, block.size());
    EXPECT_EQ(id, pInfo->JobId);
    EXPECT_STREQ("Queue", pInfo->pPrinterName);
    EXPECT_STREQ("alice", pInfo->pUserName);
    EXPECT_STREQ("report.ps", pInfo->pDocument);
    EXPECT_STREQ("RAW", pInfo->pDatatype);
    EXPECT_EQ(0, strncmp(pInfo->pMachineName, "\\\\", 2));
    EXPECT_EQ(nullptr, pInfo->pStatus);
    EXPECT_EQ(0u, pInfo->Status);
    EXPECT_EQ(1u, pInfo->Position);
    EXPECT_GE(pInfo->Submitted.wYear, 2020);

    DWORD cbNeeded = 0;
    std::vector<BYTE> small(block.size() - 1, 0xAB);
    EXPECT_FALSE(GetJobA(h, id, 1, small.data(), (DWORD)small.size(), &cbNeeded));
    EXPECT_EQ((DWORD)ERROR_INSUFFICIENT_BUFFER, GetLastError());
    EXPECT_EQ(block.size(), cbNeeded);
    EXPECT_EQ(std::vector<BYTE>(small.size(), 0xAB), small) << "a short buffer stays untouched";
    EXPECT_TRUE(ClosePrinter(h));
}

TEST_F(SpoolerTest, GetJobRefusesUnknownJobsLevelsAndHandles)
{
    ASSERT_TRUE(DorveSpoolerAddPrinter("Queue", "LPT1:"));
    ASSERT_TRUE(DorveSpoolerAddPrinter("Other", "LPT2:"));
    DWORD id = DorveSpoolerAddJob("Queue", "u", "d", 0);
    DWORD otherId = DorveSpoolerAddJob("Other", "u", "d", 0);
    EXPECT_EQ(id + 1, otherId) << "job ids count across printers";
    HANDLE h = Open("Queue");
    BYTE buf[512];
    DWORD cb = 0;
    struct Case {
        DWORD id, level, error;
    } cases[] = {{id + 100, 1, ERROR_INVALID_PARAMETER},
                 {otherId, 1, ERROR_INVALID_PARAMETER},
                 {id, 2, ERROR_INVALID_LEVEL}};
    for (const Case &c : cases) {
        SetLastError(0);
        EXPECT_FALSE(GetJobA(h, c.id, c.level, buf, sizeof buf, &cb));
        EXPECT_EQ(c.error, GetLastError()) << "job " << c.id << " level " << c.level;
    }
    EXPECT_TRUE(ClosePrinter(h));
    EXPECT_FALSE(GetJobA(h, id, 1, buf, sizeof buf, &cb));
    EXPECT_EQ((DWORD)ERROR_INVALID_HANDLE, GetLastError());
    EXPECT_FALSE(ClosePrinter(h));
    EXPECT_EQ((DWORD)ERROR_INVALID_HANDLE, GetLastError());
}

TEST_F(SpoolerTest, OpenPrinterErrorsAndInjectedFailures)
{
    HANDLE h = (HANDLE)1;
    EXPECT_FALSE(OpenPrinterA((LPSTR) "nobody", &h, NULL));
    EXPECT_EQ((DWORD)ERROR_INVALID_PRINTER_NAME, GetLastError());
    EXPECT_EQ((HANDLE)1, h);
    EXPECT_FALSE(OpenPrinterA(NULL, &h, NULL));
    EXPECT_EQ((DWORD)ERROR_INVALID_PRINTER_NAME, GetLastError());

    ASSERT_TRUE(DorveSpoolerAddPrinter("Queue", "LPT1:"));
    DorveSpoolerFailNext("OpenPrinterA", ERROR_ACCESS_DENIED, 2);
    for (int i = 0; i < 2; i++) {
        EXPECT_FALSE(OpenPrinterA((LPSTR) "Queue", &h, NULL));
        EXPECT_EQ((DWORD)ERROR_ACCESS_DENIED, GetLastError());
    }
    HANDLE h1 = Open("Queue");
    HANDLE h2 = Open("Queue");
    EXPECT_NE(nullptr, h1);
    EXPECT_NE(h1, h2) << "each open gives its own handle";

    DWORD id = DorveSpoolerAddJob("Queue", "u", "d", 0);
    DorveSpoolerFailNext("GetJobA", ERROR_NOT_ENOUGH_MEMORY, 1);
    DWORD cb;
    BYTE buf[512];
    EXPECT_FALSE(GetJobA(h1, id, 1, buf, sizeof buf, &cb));
    EXPECT_EQ((DWORD)ERROR_NOT_ENOUGH_MEMORY, GetLastError());
    EXPECT_TRUE(GetJobA(h1, id, 1, buf, sizeof buf, &cb));
    ClosePrinter(h1);
    ClosePrinter(h2);
}

struct ObservedCall {
    std::string printer;
    DWORD id, status;
    std::string text;
    DWORD command;
};

void RecordCall(void *ctx, const char *printer, DWORD id, DWORD status, const char *text,
                DWORD command)
{
    ((std::vector<ObservedCall> *)ctx)->push_back({printer, id, status, text, command});
}

TEST_F(SpoolerTest, SetJobUpdatesStatusTextAndPosition)
{
    ASSERT_TRUE(DorveSpoolerAddPrinter("Queue", "LPT1:"));
    DWORD first = DorveSpoolerAddJob("Queue", "u", "one", 0);
    DWORD second = DorveSpoolerAddJob("Queue", "u", "two", 0);
    std::vector<ObservedCall> calls;
    DorveSpoolerSetJobObserver(RecordCall, &calls);
    HANDLE h = Open("Queue");

    std::vector<BYTE> block = FetchJob(h, second);
    JOB_INFO_1A *pInfo = (JOB_INFO_1A *)block.data();
    char szText[] = "プリンタがビジーです";
    pInfo->pStatus = szText;
    pInfo->Status = JOB_STATUS_ERROR;
    pInfo->Position = JOB_POSITION_UNSPECIFIED;
    ASSERT_TRUE(SetJobA(h, second, 1, block.data(), 0));
    szText[0] = 'X';  // the spooler keeps its own copy

    DWORD dwStatus = 0;
    char szGot[128];
    ASSERT_TRUE(DorveSpoolerGetJobStatus("Queue", second, &dwStatus, szGot, sizeof szGot));
    EXPECT_EQ((DWORD)JOB_STATUS_ERROR, dwStatus);
    EXPECT_STREQ("プリンタがビジーです", szGot);
    EXPECT_EQ(2u, ((JOB_INFO_1A *)FetchJob(h, second).data())->Position) << "0 keeps the place";

    pInfo = (JOB_INFO_1A *)block.data();
    pInfo->pStatus = NULL;
    pInfo->Status = JOB_STATUS_PRINTING;
    pInfo->Position = 1;
    ASSERT_TRUE(SetJobA(h, second, 1, block.data(), 0));
    std::vector<BYTE> now = FetchJob(h, second);
    EXPECT_EQ(1u, ((JOB_INFO_1A *)now.data())->Position);
    EXPECT_EQ(nullptr, ((JOB_INFO_1A *)now.data())->pStatus);
    EXPECT_EQ(2u, ((JOB_INFO_1A *)FetchJob(h, first).data())->Position);

    ASSERT_EQ(2u, calls.size());
    EXPECT_EQ("Queue", calls[0].printer);
    EXPECT_EQ(second, calls[0].id);
    EXPECT_EQ((DWORD)JOB_STATUS_ERROR, calls[0].status);
    EXPECT_EQ("プリンタがビジーです", calls[0].text);
    EXPECT_EQ(0u, calls[0].command);
    EXPECT_EQ((DWORD)JOB_STATUS_PRINTING, calls[1].status);
    EXPECT_EQ("", calls[1].text);
    ClosePrinter(h);
}

TEST_F(SpoolerTest, SetJobCommandsPauseResumeCancelAndDelete)
{
    ASSERT_TRUE(DorveSpoolerAddPrinter("Queue", "LPT1:"));
    DWORD a = DorveSpoolerAddJob("Queue", "u", "a", 0);
    DWORD b = DorveSpoolerAddJob("Queue", "u", "b", 0);
    std::vector<ObservedCall> calls;
    DorveSpoolerSetJobObserver(RecordCall, &calls);
    HANDLE h = Open("Queue");
    DWORD dwStatus;

    ASSERT_TRUE(SetJobA(h, a, 0, NULL, JOB_CONTROL_PAUSE));
    DorveSpoolerGetJobStatus("Queue", a, &dwStatus, NULL, 0);
    EXPECT_EQ((DWORD)JOB_STATUS_PAUSED, dwStatus);
    ASSERT_TRUE(SetJobA(h, a, 0, NULL, JOB_CONTROL_RESUME));
    DorveSpoolerGetJobStatus("Queue", a, &dwStatus, NULL, 0);
    EXPECT_EQ(0u, dwStatus);

    // The monitor's cancel: a level 1 record marked deleting, with the command.
    std::vector<BYTE> block = FetchJob(h, a);
    JOB_INFO_1A *pInfo = (JOB_INFO_1A *)block.data();
    pInfo->Status = JOB_STATUS_DELETING;
    pInfo->pStatus = NULL;
    pInfo->Position = 0;
    ASSERT_TRUE(SetJobA(h, a, 1, block.data(), JOB_CONTROL_CANCEL));
    EXPECT_FALSE(DorveSpoolerJobExists("Queue", a));
    DWORD cb;
    BYTE buf[512];
    EXPECT_FALSE(GetJobA(h, a, 1, buf, sizeof buf, &cb));
    EXPECT_EQ((DWORD)ERROR_INVALID_PARAMETER, GetLastError());
    EXPECT_FALSE(SetJobA(h, a, 0, NULL, JOB_CONTROL_CANCEL)) << "a cancelled job is gone";

    ASSERT_TRUE(SetJobA(h, b, 0, NULL, JOB_CONTROL_DELETE));
    EXPECT_FALSE(DorveSpoolerJobExists("Queue", b));

    ASSERT_EQ(4u, calls.size());
    EXPECT_EQ((DWORD)JOB_CONTROL_CANCEL, calls[2].command);
    EXPECT_EQ((DWORD)JOB_STATUS_DELETING, calls[2].status);
    EXPECT_EQ((DWORD)JOB_CONTROL_DELETE, calls[3].command);
    ClosePrinter(h);
}

TEST_F(SpoolerTest, SetJobRefusesBadRequestsAndInjectedFailures)
{
    ASSERT_TRUE(DorveSpoolerAddPrinter("Queue", "LPT1:"));
    DWORD id = DorveSpoolerAddJob("Queue", "u", "a", 0);
    HANDLE h = Open("Queue");
    std::vector<BYTE> block = FetchJob(h, id);
    struct Case {
        DWORD level;
        LPBYTE pJob;
        DWORD command, error;
    } cases[] = {{1, NULL, 0, ERROR_INVALID_PARAMETER},
                 {0, NULL, 0, ERROR_INVALID_PARAMETER},
                 {0, NULL, 99, ERROR_INVALID_PARAMETER},
                 {2, block.data(), 0, ERROR_INVALID_LEVEL}};
    for (const Case &c : cases) {
        EXPECT_FALSE(SetJobA(h, id, c.level, c.pJob, c.command));
        EXPECT_EQ(c.error, GetLastError()) << "level " << c.level << " command " << c.command;
    }
    DorveSpoolerFailNext("SetJobA", ERROR_GEN_FAILURE, 1);
    EXPECT_FALSE(SetJobA(h, id, 0, NULL, JOB_CONTROL_CANCEL));
    EXPECT_EQ((DWORD)ERROR_GEN_FAILURE, GetLastError());
    EXPECT_TRUE(DorveSpoolerJobExists("Queue", id)) << "an injected failure changes nothing";

    DorveSpoolerSetJobStatusBits("Queue", id, JOB_STATUS_DELETING);
    EXPECT_EQ((DWORD)JOB_STATUS_DELETING, ((JOB_INFO_1A *)FetchJob(h, id).data())->Status);

    // A monitor's status update sets its own states and keeps the user's delete.
    std::vector<BYTE> block2 = FetchJob(h, id);
    JOB_INFO_1A *pInfo = (JOB_INFO_1A *)block2.data();
    pInfo->Status = JOB_STATUS_ERROR;
    ASSERT_TRUE(SetJobA(h, id, 1, block2.data(), 0));
    EXPECT_EQ((DWORD)(JOB_STATUS_DELETING | JOB_STATUS_ERROR), ((JOB_INFO_1A *)FetchJob(h, id).data())->Status);
    pInfo = (JOB_INFO_1A *)block2.data();
    pInfo->Status = JOB_STATUS_PRINTING;
    ASSERT_TRUE(SetJobA(h, id, 1, block2.data(), 0));
    EXPECT_EQ((DWORD)(JOB_STATUS_DELETING | JOB_STATUS_PRINTING), ((JOB_INFO_1A *)FetchJob(h, id).data())->Status);
    ClosePrinter(h);
}

// ---------------------------------------------------------------------------
// Ports across monitors: a fake monitor that packs as the spooler expects.

struct FakeMonitor {
    std::vector<std::string> ports;
    int nEnumCalls = 0;
    std::string sGrowAfterSizing;   // a port found right after a sizing call
    std::vector<std::string> configured, deleted, added;
} gFake;

BOOL WINAPI FakeEnumPorts(LPSTR pName, DWORD Level, LPBYTE pPorts, DWORD cbBuf,
                          LPDWORD pcbNeeded, LPDWORD pcReturned)
{
    gFake.nEnumCalls++;
    DWORD cbNeeded = 0;
    for (const std::string &s : gFake.ports)
        cbNeeded += (Level == 1 ? sizeof(PORT_INFO_1A)
                                : sizeof(PORT_INFO_2A) + sizeof("Fake Mon") + sizeof("Fake Desc")) +
                    (DWORD)s.size() + 1;
    *pcbNeeded = cbNeeded;
    if (cbNeeded > cbBuf) {
        *pcReturned = 0;
        if (!gFake.sGrowAfterSizing.empty()) {
            gFake.ports.push_back(gFake.sGrowAfterSizing);
            gFake.sGrowAfterSizing.clear();
        }
        SetLastError(ERROR_INSUFFICIENT_BUFFER);
        return FALSE;
    }
    LPBYTE pEnd = pPorts + cbBuf;
    auto place = [&pEnd](const std::string &s) {
        pEnd -= s.size() + 1;
        memcpy(pEnd, s.c_str(), s.size() + 1);
        return (LPSTR)pEnd;
    };
    for (size_t i = 0; i < gFake.ports.size(); i++) {
        if (Level == 1) {
            ((PORT_INFO_1A *)pPorts)[i].pName = place(gFake.ports[i]);
        } else {
            PORT_INFO_2A *p = (PORT_INFO_2A *)pPorts + i;
            p->pPortName = place(gFake.ports[i]);
            p->pMonitorName = place("Fake Mon");
            p->pDescription = place("Fake Desc");
            p->fPortType = PORT_TYPE_WRITE;
        }
    }
    *pcReturned = (DWORD)gFake.ports.size();
    return TRUE;
}

BOOL WINAPI FakeConfigurePort(LPSTR pName, HWND hWnd, LPSTR pPortName)
{
    gFake.configured.push_back(pPortName);
    return TRUE;
}

BOOL WINAPI FakeDeletePort(LPSTR pName, HWND hWnd, LPSTR pPortName)
{
    gFake.deleted.push_back(pPortName);
    for (size_t i = 0; i < gFake.ports.size(); i++)
        if (gFake.ports[i] == pPortName)
            gFake.ports.erase(gFake.ports.begin() + (long)i);
    return TRUE;
}

BOOL WINAPI FakeAddPort(LPSTR pName, HWND hWnd, LPSTR pMonitorName)
{
    gFake.added.push_back(pMonitorName);
    gFake.ports.push_back("ADDED");
    return TRUE;
}

class SpoolerPortsTest : public SpoolerTest {
protected:
    void SetUp() override
    {
        SpoolerTest::SetUp();
        gFake = FakeMonitor();
        gFake.ports = {"NET1", "NET2"};
        MONITOR table{};
        table.pfnEnumPorts = FakeEnumPorts;
        table.pfnConfigurePort = FakeConfigurePort;
        table.pfnDeletePort = FakeDeletePort;
        table.pfnAddPort = FakeAddPort;
        ASSERT_TRUE(DorveSpoolerAddMonitorTable("Fake", &table));
    }

    std::vector<std::string> Names(DWORD Level, std::vector<BYTE> &buf, DWORD *pcReturned)
    {
        DWORD cbNeeded = 0;
        EXPECT_FALSE(EnumPortsA(NULL, Level, NULL, 0, &cbNeeded, pcReturned));
        EXPECT_EQ((DWORD)ERROR_INSUFFICIENT_BUFFER, GetLastError());
        buf.assign(cbNeeded, 0);
        EXPECT_TRUE(EnumPortsA(NULL, Level, buf.data(), cbNeeded, &cbNeeded, pcReturned));
        std::vector<std::string> names;
        for (DWORD i = 0; i < *pcReturned; i++)
            names.push_back(Level == 1 ? ((PORT_INFO_1A *)buf.data())[i].pName
                                       : ((PORT_INFO_2A *)buf.data())[i].pPortName);
        return names;
    }
};

TEST_F(SpoolerPortsTest, EnumPortsListsLocalPortsAndEveryMonitorsPorts)
{
    std::vector<BYTE> buf;
    DWORD cReturned = 0;
    std::vector<std::string> expected = {"LPT1:", "LPT2:", "COM1:", "FILE:", "NET1", "NET2"};
    EXPECT_EQ(expected, Names(1, buf, &cReturned));
    EXPECT_EQ(expected, Names(2, buf, &cReturned));
    const PORT_INFO_2A *p = (const PORT_INFO_2A *)buf.data();
    EXPECT_STREQ("Local Port", p[0].pMonitorName);
    EXPECT_STREQ("Local Port", p[0].pDescription);
    EXPECT_EQ((DWORD)(PORT_TYPE_WRITE | PORT_TYPE_READ), p[0].fPortType);
    EXPECT_STREQ("Fake Mon", p[4].pMonitorName);
    EXPECT_STREQ("Fake Desc", p[4].pDescription);
    EXPECT_EQ((DWORD)PORT_TYPE_WRITE, p[4].fPortType);

    gFake.ports.push_back("NET3");
    expected.push_back("NET3");
    EXPECT_EQ(expected, Names(1, buf, &cReturned)) << "monitors are asked on every call";
}

TEST_F(SpoolerPortsTest, EnumPortsPacksStringsFromTheEndAndRefusesShortBuffers)
{
    for (DWORD Level : {1u, 2u}) {
        DWORD cbNeeded = 0, cReturned = 99;
        EXPECT_FALSE(EnumPortsA(NULL, Level, NULL, 0, &cbNeeded, &cReturned));
        EXPECT_EQ((DWORD)ERROR_INSUFFICIENT_BUFFER, GetLastError());
        EXPECT_EQ(0u, cReturned);
        size_t cbEntry = Level == 1 ? sizeof(PORT_INFO_1A) : sizeof(PORT_INFO_2A);
        size_t cbTexts = 6 + 6 + 6 + 6 + 5 + 5;     // the six names with their NULs
        if (Level == 2)
            cbTexts += 4 * (11 + 11) + 2 * (9 + 10);
        EXPECT_EQ(6 * cbEntry + cbTexts, cbNeeded) << "level " << Level;

        std::vector<BYTE> buf(cbNeeded + 8, 0xEE);
        EXPECT_FALSE(EnumPortsA(NULL, Level, buf.data(), cbNeeded - 1, &cbNeeded, &cReturned));
        EXPECT_EQ((DWORD)ERROR_INSUFFICIENT_BUFFER, GetLastError());
        EXPECT_EQ(std::vector<BYTE>(buf.size(), 0xEE), buf) << "untouched on failure";

        ASSERT_TRUE(EnumPortsA(NULL, Level, buf.data(), cbNeeded, &cbNeeded, &cReturned));
        EXPECT_EQ(6u, cReturned);
        // The first port's name ends exactly at the end of the given size.
        const char *pFirst = Level == 1 ? ((PORT_INFO_1A *)buf.data())->pName
                                        : ((PORT_INFO_2A *)buf.data())->pPortName;
        EXPECT_EQ((const char *)buf.data() + cbNeeded - 6, pFirst);
        EXPECT_EQ(0xEE, buf[cbNeeded]) << "nothing written past the size";
    }
    DWORD cbNeeded, cReturned;
    BYTE buf[16];
    for (DWORD Level : {0u, 3u}) {
        EXPECT_FALSE(EnumPortsA(NULL, Level, buf, sizeof buf, &cbNeeded, &cReturned));
        EXPECT_EQ((DWORD)ERROR_INVALID_LEVEL, GetLastError());
    }
}

TEST_F(SpoolerPortsTest, EnumPortsAsksAgainWhenAMonitorGrowsBetweenCalls)
{
    // The monitor finds a port between the spooler's sizing and filling
    // calls, too long for the spare room of the first buffer.
    const std::string sLong(300, 'L');
    gFake.sGrowAfterSizing = sLong;
    DWORD cbNeeded = 0, cReturned = 0;
    EXPECT_FALSE(EnumPortsA(NULL, 1, NULL, 0, &cbNeeded, &cReturned));
    EXPECT_EQ(3, gFake.nEnumCalls) << "sizing, a filling call that was too small, again";
    std::vector<BYTE> buf;
    std::vector<std::string> names = Names(1, buf, &cReturned);
    EXPECT_EQ(sLong, names.back());

    // Growth between the caller's two calls: the caller is told the new size.
    DWORD cbOld = (DWORD)buf.size();
    gFake.ports.push_back("NET9");
    EXPECT_FALSE(EnumPortsA(NULL, 1, buf.data(), cbOld, &cbNeeded, &cReturned));
    EXPECT_EQ((DWORD)ERROR_INSUFFICIENT_BUFFER, GetLastError());
    EXPECT_EQ(cbOld + sizeof(PORT_INFO_1A) + 5, cbNeeded);
}

TEST_F(SpoolerPortsTest, PortCallsGoToTheOwningMonitor)
{
    char szOwner[64];
    EXPECT_NE(nullptr, DorveSpoolerPortMonitor("NET2", szOwner, sizeof szOwner));
    EXPECT_STREQ("Fake", szOwner);
    EXPECT_NE(nullptr, DorveSpoolerPortMonitor("lpt1:", szOwner, sizeof szOwner));
    EXPECT_STREQ("Local Port", szOwner);
    EXPECT_EQ(nullptr, DorveSpoolerPortMonitor("NOPE", NULL, 0));

    EXPECT_TRUE(ConfigurePortA(NULL, NULL, (LPSTR) "NET1"));
    EXPECT_TRUE(DeletePortA(NULL, NULL, (LPSTR) "NET2"));
    EXPECT_EQ(std::vector<std::string>{"NET1"}, gFake.configured);
    EXPECT_EQ(std::vector<std::string>{"NET2"}, gFake.deleted);
    EXPECT_FALSE(ConfigurePortA(NULL, NULL, (LPSTR) "NET2"));
    EXPECT_EQ((DWORD)ERROR_UNKNOWN_PORT, GetLastError());

    EXPECT_TRUE(AddPortA(NULL, NULL, (LPSTR) "Fake"));
    EXPECT_EQ(std::vector<std::string>{"Fake"}, gFake.added);
    EXPECT_TRUE(ConfigurePortA(NULL, NULL, (LPSTR) "ADDED")) << "a new port is found";
    EXPECT_FALSE(AddPortA(NULL, NULL, (LPSTR) "No Such Monitor"));
    EXPECT_EQ((DWORD)ERROR_UNKNOWN_PRINT_MONITOR, GetLastError());

    EXPECT_TRUE(DeletePortA(NULL, NULL, (LPSTR) "COM1:"));
    std::vector<BYTE> buf;
    DWORD cReturned;
    EXPECT_EQ((std::vector<std::string>{"LPT1:", "LPT2:", "FILE:", "NET1", "ADDED"}),
              Names(1, buf, &cReturned));
}

// ---------------------------------------------------------------------------
// Monitors from the registry, loaded as the spooler loads them.

TEST_F(SpoolerTest, StartLoadsRegisteredMonitorsAndReportsTheOnesThatFail)
{
    ASSERT_TRUE(DorveSpoolerRegisterMonitor("Ghost", "NOSUCH.DLL"));
    // A library that loads but is no monitor: the platform layer itself.
    ASSERT_TRUE(DorveSpoolerRegisterMonitor("Util", "DORVEWIN.DLL"));
    // The monitor's own settings key has no Driver: not a registration.
    ASSERT_TRUE(dorvetest::RegWriteDword(
        "SYSTEM\\CurrentControlSet\\Control\\Print\\Monitors\\ZUV Port\\Options", "AutoEnable", 0));

    EXPECT_EQ(2, DorveSpoolerStart());
    std::string sText = DorveSpoolerLastError();
    EXPECT_NE(std::string::npos, sText.find("\"Ghost\"")) << sText;
    EXPECT_NE(std::string::npos, sText.find("NOSUCH.DLL")) << sText;
    EXPECT_NE(std::string::npos, sText.find("InitializeMonitorEx")) << sText;
    EXPECT_EQ(std::string::npos, sText.find("ZUV Port")) << sText;
    EXPECT_EQ(nullptr, DorveSpoolerMonitor("Ghost"));

    char szName[64], szDll[64], szError[256];
    BOOL bStarted = TRUE;
    ASSERT_TRUE(DorveSpoolerGetMonitorInfo(0, szName, sizeof szName, szDll, sizeof szDll,
                                           &bStarted, szError, sizeof szError));
    EXPECT_STREQ("Local Port", szName);
    EXPECT_TRUE(bStarted);
    ASSERT_TRUE(DorveSpoolerGetMonitorInfo(1, szName, sizeof szName, szDll, sizeof szDll,
                                           &bStarted, szError, sizeof szError));
    EXPECT_STREQ("Ghost", szName);
    EXPECT_STREQ("NOSUCH.DLL", szDll);
    EXPECT_FALSE(bStarted);
    EXPECT_NE('\0', szError[0]);
    EXPECT_FALSE(DorveSpoolerGetMonitorInfo(3, NULL, 0, NULL, 0, NULL, NULL, 0));
}

TEST_F(SpoolerTest, TheRealMonitorStartsAndItsStoredPortsAreListed)
{
    ASSERT_TRUE(dorvetest::RegWriteString(dorvetest::PortKeyPath("Office"), "IPAddress",
                                          "127.0.0.1"));
    ASSERT_TRUE(DorveSpoolerRegisterMonitor("Dorve Port", "DORVEMON.DLL"));
    ASSERT_EQ(0, DorveSpoolerStart()) << DorveSpoolerLastError();
    const MONITOR *pTable = DorveSpoolerMonitor("dorve port");
    ASSERT_NE(nullptr, pTable);
    EXPECT_NE(nullptr, pTable->pfnWritePort);
    EXPECT_EQ(0, DorveSpoolerStart()) << "a started monitor is not loaded twice";

    DWORD cbNeeded = 0, cReturned = 0;
    EnumPortsA(NULL, 2, NULL, 0, &cbNeeded, &cReturned);
    std::vector<BYTE> buf(cbNeeded);
    ASSERT_TRUE(EnumPortsA(NULL, 2, buf.data(), cbNeeded, &cbNeeded, &cReturned));
    const PORT_INFO_2A *p = (const PORT_INFO_2A *)buf.data();
    ASSERT_EQ(5u, cReturned);
    EXPECT_STREQ("Office", p[4].pPortName);
    EXPECT_STREQ("Dorve Print Monitor", p[4].pMonitorName);
    EXPECT_STREQ("Dorve Port", p[4].pDescription);
    char szOwner[64];
    EXPECT_EQ(pTable, DorveSpoolerPortMonitor("Office", szOwner, sizeof szOwner));
    EXPECT_STREQ("Dorve Port", szOwner);
}

TEST_F(SpoolerTest, AddEnumAndDeleteMonitors)
{
    MONITOR_INFO_2A info = {(LPSTR) "Dorve Port", (LPSTR) "Windows 4.0", (LPSTR) "DORVEMON.DLL"};
    ASSERT_TRUE(AddMonitorA(NULL, 2, (LPBYTE)&info)) << GetLastError();
    EXPECT_FALSE(AddMonitorA(NULL, 2, (LPBYTE)&info));
    EXPECT_EQ((DWORD)ERROR_PRINT_MONITOR_ALREADY_INSTALLED, GetLastError());
    EXPECT_TRUE(dorvetest::RegKeyExists(DORVE_MONITORS_KEY "\\Dorve Port"));

    MONITOR_INFO_2A bad[] = {
        {(LPSTR) "Other", (LPSTR) "Windows NT x86", (LPSTR) "DORVEMON.DLL"},
        {(LPSTR) "Other", NULL, (LPSTR) "NOSUCH.DLL"},
        {(LPSTR) "Other", NULL, (LPSTR) "DORVEWIN.DLL"},
    };
    DWORD errors[] = {ERROR_INVALID_ENVIRONMENT, ERROR_MOD_NOT_FOUND, ERROR_PROC_NOT_FOUND};
    for (int i = 0; i < 3; i++) {
        EXPECT_FALSE(AddMonitorA(NULL, 2, (LPBYTE)&bad[i]));
        EXPECT_EQ(errors[i], GetLastError()) << bad[i].pDLLName;
    }
    EXPECT_FALSE(dorvetest::RegKeyExists(DORVE_MONITORS_KEY "\\Other"));
    EXPECT_FALSE(AddMonitorA(NULL, 1, (LPBYTE)&info));
    EXPECT_EQ((DWORD)ERROR_INVALID_LEVEL, GetLastError());

    for (DWORD Level : {1u, 2u}) {
        DWORD cbNeeded = 0, cReturned = 0;
        EXPECT_FALSE(EnumMonitorsA(NULL, Level, NULL, 0, &cbNeeded, &cReturned));
        EXPECT_EQ((DWORD)ERROR_INSUFFICIENT_BUFFER, GetLastError());
        std::vector<BYTE> buf(cbNeeded);
        ASSERT_TRUE(EnumMonitorsA(NULL, Level, buf.data(), cbNeeded, &cbNeeded, &cReturned));
        ASSERT_EQ(2u, cReturned);
        if (Level == 1) {
            EXPECT_STREQ("Local Port", ((MONITOR_INFO_1A *)buf.data())[0].pName);
            EXPECT_STREQ("Dorve Port", ((MONITOR_INFO_1A *)buf.data())[1].pName);
        } else {
            const MONITOR_INFO_2A *p = (const MONITOR_INFO_2A *)buf.data() + 1;
            EXPECT_STREQ("Dorve Port", p->pName);
            EXPECT_STREQ("Windows 4.0", p->pEnvironment);
            EXPECT_STREQ("DORVEMON.DLL", p->pDLLName);
        }
    }

    // A printer on one of its ports keeps the monitor in use.
    ASSERT_TRUE(dorvetest::RegWriteString(dorvetest::PortKeyPath("P1"), "IPAddress",
                                          "127.0.0.1"));
    DorveSpoolerReset();
    dorvetest::ResetMonitorState();
    ASSERT_EQ(0, DorveSpoolerStart()) << DorveSpoolerLastError();
    ASSERT_TRUE(DorveSpoolerAddPrinter("Queue", "P1"));
    EXPECT_FALSE(DeleteMonitorA(NULL, NULL, (LPSTR) "Dorve Port"));
    EXPECT_EQ((DWORD)ERROR_PRINT_MONITOR_IN_USE, GetLastError());
    ASSERT_TRUE(DorveSpoolerAddPrinter("Queue", "LPT1:"));

    EXPECT_TRUE(DeleteMonitorA(NULL, NULL, (LPSTR) "Dorve Port"));
    EXPECT_FALSE(dorvetest::RegKeyExists(DORVE_MONITORS_KEY "\\Dorve Port"));
    EXPECT_TRUE(dorvetest::RegKeyExists(dorvetest::PortKeyPath("P1"))) << "its own keys stay";
    EXPECT_EQ(nullptr, DorveSpoolerMonitor("Dorve Port"));
    EXPECT_FALSE(DeleteMonitorA(NULL, NULL, (LPSTR) "Dorve Port"));
    EXPECT_EQ((DWORD)ERROR_UNKNOWN_PRINT_MONITOR, GetLastError());
    EXPECT_FALSE(DeleteMonitorA(NULL, NULL, (LPSTR) "Local Port"));
}

}  // namespace
