// The dorve tool: its commands run as a program against a registry file of
// the test's own, and its print driver run in-process, first against a
// scripted monitor table, then against the real monitor and an emulated
// printer on loopback.
#include "sock_testutil.h"   // the emulator's C++ headers before the Windows names

#include <gtest/gtest.h>

#include <windows.h>
#include <winspool.h>
#include <winsplp.h>

#include <signal.h>
#include <stdio.h>
#include <stdlib.h>

#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "dorve/clock.h"
#include "dorve/registry_host.h"
#include "dorve/spooler_host.h"
#include "dorve/winsock_host.h"
#include "print.h"
#include "testlib.h"

using dorvetest::ProgramRun;
using dorvetest::ReadFile;
using dorvetest::TempDir;
using dorvetest::TempRegistry;
using dorvetest::WriteFile;

namespace {

class DorveProgramTest : public ::testing::Test {
protected:
    ProgramRun Run(const std::vector<std::string> &args, bool bRegistry = true)
    {
        return dorvetest::RunDorve(args, bRegistry ? registry_ : std::string(), dir_.path());
    }

    TempDir dir_;
    std::string registry_ = dir_.path() + "/registry.reg";
};

TEST_F(DorveProgramTest, PortsListsTheLocalPortsAtBothLevels)
{
    ProgramRun r = Run({"ports"});
    EXPECT_EQ(0, r.rc) << r.err;
    EXPECT_EQ("LPT1:\nLPT2:\nCOM1:\nFILE:\n", r.out);
    EXPECT_EQ("", r.err);

    r = Run({"ports", "--level", "2"});
    EXPECT_EQ(0, r.rc) << r.err;
    EXPECT_EQ(0u, r.out.find("LPT1:\tLocal Port\tLocal Port\n")) << r.out;

    r = Run({"ports", "--level", "3"});
    EXPECT_EQ(2, r.rc);
    EXPECT_NE(std::string::npos, r.err.find("--level must be 1 or 2")) << r.err;
}

TEST_F(DorveProgramTest, MonitorsAddRegistersAndTheNextCommandStartsIt)
{
    ProgramRun r = Run({"monitors", "add", "Dorve Port", "DORVEMON.DLL"});
    EXPECT_EQ(0, r.rc) << r.err;
    EXPECT_NE(std::string::npos, r.out.find("registered monitor \"Dorve Port\"")) << r.out;
    EXPECT_NE(std::string::npos, ReadFile(registry_).find("\"Driver\"=\"DORVEMON.DLL\""));
    r = Run({"monitors", "add", "Ghost", "NOSUCH.DLL"});
    EXPECT_EQ(0, r.rc) << r.err;

    // A port of the monitor's own, stored where the monitor keeps ports.
    ASSERT_TRUE(DorveRegistryUseFile(registry_.c_str()));
    ASSERT_TRUE(dorvetest::RegWriteString(dorvetest::PortKeyPath("Office"), "IPAddress",
                                          "127.0.0.130"));

    r = Run({"monitors"});
    EXPECT_EQ(0, r.rc) << r.err;
    EXPECT_NE(std::string::npos, r.out.find("Local Port\t(built in)\tstarted\n")) << r.out;
    EXPECT_NE(std::string::npos, r.out.find("Dorve Port\tDORVEMON.DLL\tstarted\n")) << r.out;
    EXPECT_NE(std::string::npos, r.out.find("Ghost\tNOSUCH.DLL\tnot started: ")) << r.out;
    EXPECT_EQ("dorve: monitor \"Ghost\" did not start: cannot load NOSUCH.DLL (error 126)\n",
              r.err);

    r = Run({"ports", "--level", "2"});
    EXPECT_EQ(0, r.rc);
    EXPECT_NE(std::string::npos, r.out.find("Office\tDorve Print Monitor\tDorve Port\n")) << r.out;

    r = Run({"monitors", "add", "Bad\\Name", "X.DLL"});
    EXPECT_EQ(1, r.rc);
    r = Run({"monitors", "add", "OnlyName"});
    EXPECT_EQ(2, r.rc);
    DorveRegistryUseFile(NULL);
}

TEST_F(DorveProgramTest, MessagesSayWhatToDo)
{
    ProgramRun r = Run({"print", "NOPE", "/dev/null"});
    EXPECT_EQ(1, r.rc);
    EXPECT_NE(std::string::npos,
              r.err.find("there is no port \"NOPE\"; the ports are: LPT1:, LPT2:, COM1:, FILE:"))
        << r.err;

    r = Run({"print", "LPT1:", dir_.path() + "/missing"});
    EXPECT_EQ(1, r.rc);
    EXPECT_NE(std::string::npos, r.err.find("cannot read " + dir_.path() + "/missing")) << r.err;

    r = Run({"frobnicate"});
    EXPECT_EQ(2, r.rc);
    EXPECT_NE(std::string::npos, r.err.find("unknown command \"frobnicate\"")) << r.err;

    r = Run({"--help"}, false);
    EXPECT_EQ(0, r.rc);
    EXPECT_NE(std::string::npos, r.out.find(DorveRegistryDefaultFile())) << r.out;

    // A registry that cannot be read is named with its line, and kept.
    const std::string sBad = "REGEDIT4\n\n[HKEY_LOCAL_MACHINE\\X]\nnot a value\n";
    WriteFile(registry_, sBad);
    r = Run({"ports"});
    EXPECT_EQ(1, r.rc);
    EXPECT_NE(std::string::npos, r.err.find("registry.reg:4:")) << r.err;
    EXPECT_EQ(sBad, ReadFile(registry_));
}

// ---------------------------------------------------------------------------
// The print driver against a scripted monitor.

struct Script {
    std::vector<std::string> calls;
    std::vector<DWORD> writes;
    std::string received;
    std::string docName;
    DWORD docLevel = 0;
    // What the monitor does.
    std::function<void(const char *printer, DWORD jobId)> onStartDoc;
    std::function<BOOL(DWORD nWrite, DWORD cb, DWORD *pcbWritten)> onWrite;
} gScript;

HANDLE gFakePort = (HANDLE)0x5151;

// The job update a monitor's status thread makes.
void SetStatus(const char *printer, DWORD jobId, DWORD dwStatus, const char *text,
               DWORD command = 0)
{
    HANDLE h;
    ASSERT_TRUE(OpenPrinterA((LPSTR)printer, &h, NULL));
    DWORD cb = 0;
    BYTE scratch[1];
    GetJobA(h, jobId, 1, scratch, 0, &cb);
    std::vector<BYTE> block(cb);
    ASSERT_TRUE(GetJobA(h, jobId, 1, block.data(), cb, &cb));
    JOB_INFO_1A *p = (JOB_INFO_1A *)block.data();
    p->Status = dwStatus;
    p->pStatus = (LPSTR)text;
    p->Position = 0;
    SetJobA(h, jobId, 1, block.data(), command);
    ClosePrinter(h);
}

BOOL WINAPI ScriptEnumPorts(LPSTR pName, DWORD Level, LPBYTE pPorts, DWORD cbBuf,
                            LPDWORD pcbNeeded, LPDWORD pcReturned)
{
    const char szName[] = "SCRIPT";
    DWORD cbNeeded = (DWORD)(Level == 1 ? sizeof(PORT_INFO_1A) : sizeof(PORT_INFO_2A)) + 7 +
                     (Level == 1 ? 0 : 2 * 2);
    *pcbNeeded = cbNeeded;
    if (cbNeeded > cbBuf) {
        *pcReturned = 0;
        SetLastError(ERROR_INSUFFICIENT_BUFFER);
        return FALSE;
    }
    LPBYTE pEnd = pPorts + cbBuf - 7;
    memcpy(pEnd, szName, 7);
    if (Level == 1) {
        ((PORT_INFO_1A *)pPorts)->pName = (LPSTR)pEnd;
    } else {
        PORT_INFO_2A *p = (PORT_INFO_2A *)pPorts;
        p->pPortName = (LPSTR)pEnd;
        pEnd -= 2;
        memcpy(pEnd, "S", 2);
        p->pMonitorName = (LPSTR)pEnd;
        pEnd -= 2;
        memcpy(pEnd, "S", 2);
        p->pDescription = (LPSTR)pEnd;
        p->fPortType = PORT_TYPE_WRITE;
    }
    *pcReturned = 1;
    return TRUE;
}

BOOL WINAPI ScriptOpenPort(LPSTR pName, PHANDLE pHandle)
{
    gScript.calls.push_back(std::string("OpenPort ") + pName);
    *pHandle = gFakePort;
    return TRUE;
}

BOOL WINAPI ScriptStartDocPort(HANDLE hPort, LPSTR pPrinterName, DWORD JobId, DWORD Level,
                               LPBYTE pDocInfo)
{
    gScript.calls.push_back(std::string("StartDocPort ") + pPrinterName);
    gScript.docLevel = Level;
    gScript.docName = ((DOC_INFO_1A *)pDocInfo)->pDocName;
    if (gScript.onStartDoc)
        gScript.onStartDoc(pPrinterName, JobId);
    return TRUE;
}

BOOL WINAPI ScriptWritePort(HANDLE hPort, LPBYTE pBuffer, DWORD cbBuf, LPDWORD pcbWritten)
{
    EXPECT_EQ(gFakePort, hPort);
    DWORD nWrite = (DWORD)gScript.writes.size();
    gScript.writes.push_back(cbBuf);
    *pcbWritten = cbBuf;
    BOOL bOk = gScript.onWrite ? gScript.onWrite(nWrite, cbBuf, pcbWritten) : TRUE;
    gScript.received.append((const char *)pBuffer, *pcbWritten);
    return bOk;
}

BOOL WINAPI ScriptEndDocPort(HANDLE hPort)
{
    gScript.calls.push_back("EndDocPort");
    return TRUE;
}

BOOL WINAPI ScriptClosePort(HANDLE hPort)
{
    gScript.calls.push_back("ClosePort");
    return TRUE;
}

// Runs the print driver for user alice with what it says captured in
// *pOutput and its exit code in *pRc.
dorve::PrintResult PrintAsAlice(const std::string &port, const std::string &file, int *pRc,
                                std::string *pOutput)
{
    char *pText = nullptr;
    size_t cbText = 0;
    FILE *f = open_memstream(&pText, &cbText);
    dorve::PrintRequest req;
    req.sPort = port;
    req.sFile = file;
    req.sUser = "alice";
    req.pOut = f;
    dorve::PrintResult result;
    *pRc = dorve::Print(req, &result);
    fclose(f);
    pOutput->assign(pText, cbText);
    free(pText);
    return result;
}

class PrintDriverTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        DorveSpoolerReset();
        gScript = Script();
        MONITOR table{};
        table.pfnEnumPorts = ScriptEnumPorts;
        table.pfnOpenPort = ScriptOpenPort;
        table.pfnStartDocPort = ScriptStartDocPort;
        table.pfnWritePort = ScriptWritePort;
        table.pfnEndDocPort = ScriptEndDocPort;
        table.pfnClosePort = ScriptClosePort;
        ASSERT_TRUE(DorveSpoolerAddMonitorTable("Script", &table));
        input_ = dir_.path() + "/job.ps";
        for (int i = 0; i < 10000; i++)
            data_ += (char)('a' + i % 26);
        WriteFile(input_, data_);
    }
    void TearDown() override { DorveSpoolerReset(); }

    dorve::PrintResult Print(const std::string &port = "SCRIPT")
    {
        return PrintAsAlice(port, input_, &rc_, &output_);
    }

    std::vector<std::string> Calls() const { return gScript.calls; }

    TempRegistry registry_;
    TempDir dir_;
    std::string input_, data_, output_;
    int rc_ = -1;
};

const std::vector<std::string> kWholeRun = {"OpenPort SCRIPT", "StartDocPort dorve-SCRIPT",
                                            "EndDocPort", "ClosePort"};

TEST_F(PrintDriverTest, DrivesTheMonitorInSpoolerBlocksAndShowsTheStatus)
{
    gScript.onStartDoc = [](const char *printer, DWORD id) {
        SetStatus(printer, id, JOB_STATUS_PRINTING, "Ready");
    };
    dorve::PrintResult r = Print("script");   // letter case of the port is forgiven
    EXPECT_EQ(0, rc_) << output_;
    EXPECT_EQ(dorve::kPrintSent, r.outcome);
    EXPECT_EQ(kWholeRun, Calls());
    EXPECT_EQ(1u, gScript.docLevel);
    EXPECT_EQ("job.ps", gScript.docName);
    EXPECT_EQ((std::vector<DWORD>{4096, 4096, 1808}), gScript.writes);
    EXPECT_EQ(data_, gScript.received);
    EXPECT_EQ(10000u, r.cbSent);
    EXPECT_NE(std::string::npos, output_.find("printing: Ready")) << output_;
    EXPECT_NE(std::string::npos, output_.find("sent job 1 (10000 bytes)")) << output_;
}

TEST_F(PrintDriverTest, PartialWritesAreResentFromWhereTheyStopped)
{
    gScript.onWrite = [](DWORD nWrite, DWORD cb, DWORD *pcbWritten) {
        *pcbWritten = nWrite % 2 == 0 ? cb / 2 : cb;
        return TRUE;
    };
    Print();
    EXPECT_EQ(0, rc_) << output_;
    EXPECT_EQ(data_, gScript.received);
}

TEST_F(PrintDriverTest, OutcomesAreToldApart)
{
    struct Case {
        const char *name;
        std::function<void(const char *, DWORD)> onStartDoc;
        std::function<BOOL(DWORD, DWORD, DWORD *)> onWrite;
        dorve::PrintOutcome outcome;
        size_t nWrites;
        const char *words;
    };
    auto failWith = [](DWORD nFailing, DWORD dwError, DWORD cbTaken) {
        return [=](DWORD nWrite, DWORD cb, DWORD *pcbWritten) -> BOOL {
            if (nWrite < nFailing)
                return TRUE;
            *pcbWritten = cbTaken;
            SetLastError(dwError);
            return FALSE;
        };
    };
    auto status = [](DWORD dwStatus, const char *text, DWORD command = 0) {
        return [=](const char *printer, DWORD id) { SetStatus(printer, id, dwStatus, text, command); };
    };
    Case cases[] = {
        {"no answer, then the start fails again at the first write",
         status(JOB_STATUS_ERROR, dorve::kTextNoAnswer), failWith(0, ERROR_NOT_READY, 0),
         dorve::kPrintNoAnswer, 1, "did not answer: check that it is on"},
        {"answers, but the data connection is refused",
         status(JOB_STATUS_PRINTING, "Ready"), failWith(0, ERROR_NOT_READY, 0),
         dorve::kPrintRefused, 1, "refused the data connection"},
        {"busy printer cancelled at the send time-out",
         [](const char *printer, DWORD id) {
             SetStatus(printer, id, JOB_STATUS_ERROR, dorve::kTextBusy);
             SetStatus(printer, id, JOB_STATUS_DELETING, NULL, JOB_CONTROL_CANCEL);
         },
         nullptr, dorve::kPrintTimedOut, 0, "stayed busy"},
        {"silent printer cancelled at the send time-out",
         [](const char *printer, DWORD id) {
             SetStatus(printer, id, JOB_STATUS_ERROR, dorve::kTextNoAnswer);
             SetStatus(printer, id, JOB_STATUS_DELETING, NULL, JOB_CONTROL_CANCEL);
         },
         nullptr, dorve::kPrintNoAnswer, 0, "was cancelled after the port's send time-out"},
        {"the printer stops taking data part-way", nullptr, failWith(1, ERROR_NOT_READY, 100),
         dorve::kPrintWriteFailed, 2, "stopped taking data after 4196 of 10000 bytes"},
        {"the connection is lost and the rest is discarded", nullptr,
         [](DWORD nWrite, DWORD cb, DWORD *pcbWritten) -> BOOL {
             if (nWrite == 1)
                 SetLastError(10054);   // the send broke; the monitor still says TRUE
             return TRUE;
         },
         dorve::kPrintDiscarded, 3, "lost after 4096 bytes"},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        DorveSpoolerReset();
        MONITOR table{};
        table.pfnEnumPorts = ScriptEnumPorts;
        table.pfnOpenPort = ScriptOpenPort;
        table.pfnStartDocPort = ScriptStartDocPort;
        table.pfnWritePort = ScriptWritePort;
        table.pfnEndDocPort = ScriptEndDocPort;
        table.pfnClosePort = ScriptClosePort;
        ASSERT_TRUE(DorveSpoolerAddMonitorTable("Script", &table));
        gScript = Script();
        gScript.onStartDoc = c.onStartDoc;
        gScript.onWrite = c.onWrite;
        dorve::PrintResult r = Print();
        EXPECT_EQ(1, rc_);
        EXPECT_EQ(c.outcome, r.outcome) << output_;
        EXPECT_EQ(c.nWrites, gScript.writes.size());
        EXPECT_EQ(kWholeRun, Calls()) << "the port is always ended and closed";
        EXPECT_NE(std::string::npos, output_.find(c.words)) << output_;
    }
}

TEST_F(PrintDriverTest, InterruptMarksTheJobDeletingAndEndsTheRun)
{
    // The monitor holds the job (a busy printer) until it sees it deleted;
    // the user presses Ctrl-C meanwhile.
    bool bSawDeleting = false;
    std::thread user;
    gScript.onStartDoc = [&](const char *printer, DWORD id) {
        SetStatus(printer, id, JOB_STATUS_ERROR, dorve::kTextBusy);
        user = std::thread([] {
            usleep(20 * 1000);
            dorve::InterruptPrint();
        });
        std::string sPrinter = printer;
        bSawDeleting = dorvetest::WaitFor(
            [&] {
                DWORD dwStatus = 0;
                DorveSpoolerGetJobStatus(sPrinter.c_str(), id, &dwStatus, NULL, 0);
                return (dwStatus & JOB_STATUS_DELETING) != 0;
            },
            10000);
    };
    dorve::PrintResult r = Print();
    user.join();
    EXPECT_TRUE(bSawDeleting);
    EXPECT_EQ(1, rc_);
    EXPECT_EQ(dorve::kPrintCancelled, r.outcome) << output_;
    EXPECT_TRUE(gScript.writes.empty());
    EXPECT_EQ(kWholeRun, Calls());
    EXPECT_NE(std::string::npos, output_.find("monitor holds the job")) << output_;
}

TEST_F(PrintDriverTest, InterruptBeforeTheJobExistsStillCancelsIt)
{
    DWORD dwSeen = 0;
    gScript.onStartDoc = [&dwSeen](const char *printer, DWORD id) {
        DorveSpoolerGetJobStatus(printer, id, &dwSeen, NULL, 0);
    };
    dorve::InterruptPrint();
    dorve::PrintResult r = Print();
    EXPECT_EQ((DWORD)JOB_STATUS_DELETING, dwSeen);
    EXPECT_EQ(dorve::kPrintCancelled, r.outcome) << output_;
    EXPECT_TRUE(gScript.writes.empty());
    Print();
    EXPECT_EQ(0, rc_) << "the next run starts afresh: " << output_;
}

// ---------------------------------------------------------------------------
// The real monitor and an emulated printer.

class PrintEndToEndTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        // ctest runs these tests side by side: each printer on an address of
        // its own, or one test's status request reaches another's printer.
        const std::string name = ::testing::UnitTest::GetInstance()->current_test_info()->name();
        address_ = name.find("Refused") != std::string::npos  ? "127.0.0.132"
                   : name.find("Silent") != std::string::npos ? "127.0.0.133"
                                                              : "127.0.0.131";
        DorveSpoolerReset();
        DorveWsaReset();
        ASSERT_TRUE(dorvetest::RegWriteString(dorvetest::PortKeyPath("Office"), "IPAddress",
                                              address_.c_str()));
        ASSERT_TRUE(dorvetest::RegWriteDword(dorvetest::PortKeyPath("Office"), "SendTimeout", 1));
        ASSERT_TRUE(dorvetest::RegWriteDword(dorvetest::PortKeyPath("Office"), "StsTimeout", 2));
        ASSERT_TRUE(DorveSpoolerRegisterMonitor("Dorve Port", "DORVEMON.DLL"));
        ASSERT_TRUE(socktest::StartPrinter(printer_, address_, spool_.path()))
            << printer_.lastError();
        input_ = dir_.path() + "/report.ps";
        for (int i = 0; i < 20000; i++)
            data_ += (char)(i * 7);
        WriteFile(input_, data_);
    }
    void TearDown() override
    {
        printer_.stop();
        DorveSpoolerReset();
        dorvetest::ResetMonitorState();
        DorveWsaReset();
    }

    dorve::PrintResult Print()
    {
        EXPECT_EQ(0, DorveSpoolerStart()) << DorveSpoolerLastError();
        return PrintAsAlice("Office", input_, &rc_, &output_);
    }

    std::string address_;
    TempRegistry registry_;
    TempDir dir_, spool_;
    dorve::PrinterEmulator printer_;
    std::string input_, data_, output_;
    int rc_ = -1;
};

TEST_F(PrintEndToEndTest, AJobReachesThePrinterWithItsAccountingHeader)
{
    // The status thread's first second of draining, quicker, while the
    // port's two-second wait for the reply stays long in real time.
    dorvetest::ClockRate fast(5);
    dorve::PrintResult r = Print();
    EXPECT_EQ(0, rc_) << output_;
    EXPECT_EQ(dorve::kPrintSent, r.outcome) << output_;
    ASSERT_TRUE(printer_.waitForJobs(1, std::chrono::seconds(10)));
    std::vector<dorve::PrinterJob> jobs = printer_.jobs();
    ASSERT_EQ(1u, jobs.size());
    EXPECT_EQ("%!\n%%For: alice\n", jobs[0].header);
    EXPECT_EQ(data_, ReadFile(jobs[0].path).substr(jobs[0].headerBytes));
    EXPECT_FALSE(DorveSpoolerJobExists("dorve-Office", r.dwJobId)) << "the monitor removed it";
}

TEST_F(PrintEndToEndTest, ARefusedConnectionIsReportedAsSuch)
{
    printer_.setRefuse(true);
    dorvetest::ClockRate fast(5);   // as above
    dorve::PrintResult r = Print();
    EXPECT_EQ(1, rc_);
    EXPECT_EQ(dorve::kPrintRefused, r.outcome) << output_;
    EXPECT_NE(std::string::npos, output_.find(address_)) << output_;
}

TEST_F(PrintEndToEndTest, ASilentPrinterIsCancelledAfterTheSendTimeOut)
{
    printer_.setSilent(true);
    dorvetest::ClockRate fast(200);   // the one-minute send time-out in a fraction of a second
    dorve::PrintResult r = Print();
    EXPECT_EQ(1, rc_);
    EXPECT_EQ(dorve::kPrintNoAnswer, r.outcome) << output_;
    EXPECT_NE(std::string::npos, output_.find(dorve::kTextNoAnswer)) << output_;
    EXPECT_NE(std::string::npos, output_.find("check that it is on and that " + address_ + " is right"))
        << output_;
    EXPECT_EQ(0u, printer_.counters().connections);
}

}  // namespace
