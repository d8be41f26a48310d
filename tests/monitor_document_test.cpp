// Documents from StartDocPort to EndDocPort over loopback against the
// printer emulator, with the spooler model holding the job: the accounting
// header, the status shown on the job, the hold for a busy printer, lost
// connections, the wait mode's give-up, failed starts and the end-of-job
// trap wait.  Each test has its own printer address (127.0.0.2xx) and its own
// host port behind the trap port 162.
#include "printer.h"  // first: the emulator's C++ headers must not see Winsock's names

#include <gtest/gtest.h>

#include <string.h>

#include <atomic>
#include <fstream>
#include <mutex>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "dorve/clock.h"
#include "dorve/spooler_host.h"
#include "dorve/user_host.h"
#include "dorve/winsock_host.h"
#include "testlib.h"

using namespace dorvetest;

namespace {

const char kQueue[] = "Queue";
const char kHeaderAbc[] = "\x25\x21\x0A\x25\x25\x46\x6F\x72\x3A\x20\x61\x62\x63\x0A";

struct JobUpdate {
    DWORD status;
    std::string text;
    DWORD command;
};

std::mutex gHistoryMutex;
std::vector<JobUpdate> gHistory;

void RecordUpdate(void *ctx, const char *printer, DWORD id, DWORD status, const char *text,
                  DWORD command)
{
    std::lock_guard<std::mutex> lock(gHistoryMutex);
    gHistory.push_back({status, text != nullptr ? text : "", command});
}

std::vector<JobUpdate> History()
{
    std::lock_guard<std::mutex> lock(gHistoryMutex);
    return gHistory;
}

bool SawUpdate(DWORD status, const std::string &text)
{
    for (const JobUpdate &u : History())
        if (u.status == status && u.text == text && u.command == 0)
            return true;
    return false;
}

bool SawCancel()
{
    for (const JobUpdate &u : History())
        if (u.command == JOB_CONTROL_CANCEL)
            return true;
    return false;
}

std::string ReadFile(const std::string &path)
{
    std::ifstream in(path, std::ios::binary);
    std::ostringstream out;
    out << in.rdbuf();
    return out.str();
}

class DocumentTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        ResetMonitorState();
        DorveSpoolerReset();
        DorveUserReset();
        DorveWsaReset();
        {
            std::lock_guard<std::mutex> lock(gHistoryMutex);
            gHistory.clear();
        }
        ASSERT_TRUE(LoadMonitorModule());
        ASSERT_TRUE(StartSock());
        DorveSpoolerSetJobObserver(RecordUpdate, nullptr);
    }

    void TearDown() override
    {
        if (port_ != nullptr && (port_->bDocStarted || port_->hStatusThread != nullptr))
            ZUVEndDocPort((HANDLE)port_);
        printer_.stop();
        DorveSpoolerSetJobObserver(nullptr, nullptr);
        WSACleanup();
        ResetMonitorState();
        DorveSpoolerReset();
        DorveWsaReset();
        DorveUserReset();
    }

    // The emulator on ADDRESS port 35; without the privilege for port 35 the
    // layer's port 35 leads to an unprivileged host port instead.
    void StartPrinter(const std::string &address, dorve::PrinterState state)
    {
        printer_.setState(state);
        if (!printer_.start(address, spool_.path(), dorve::kPrinterPort)) {
            DorveWsaMapPort(ZUV_PRINTER_PORT, 30035);
            ASSERT_TRUE(printer_.start(address, spool_.path(), 30035)) << printer_.lastError();
        }
    }

    // A port on ADDRESS with short status timings, opened as the spooler
    // would, and a queue on it with one job of "abc".
    void MakePort(const std::string &address)
    {
        LPZUVPort port = (LPZUVPort)calloc(1, sizeof(ZUVPort));
        lstrcpynA(port->szPortName, "DOC", ZUV_NAME_LEN);
        lstrcpynA(port->szIPAddress, address.c_str(), ZUV_NAME_LEN);
        SetZUVPortDefaults(port);
        port->dwStsInterval = 1;
        port->dwStsTimeout = 1;
        ASSERT_TRUE(AddZUVPort2List(&gZUVMon, port));
        HANDLE h = nullptr;
        ASSERT_TRUE(ZUVOpenPort((LPSTR) "DOC", &h));
        port_ = (LPZUVPort)h;
        ASSERT_TRUE(DorveSpoolerAddPrinter(kQueue, "DOC"));
        jobId_ = DorveSpoolerAddJob(kQueue, "abc", "report.txt", 1000);
        ASSERT_NE(jobId_, 0u);
    }

    BOOL StartDoc(DWORD level = 1, DWORD dwMode = 0)
    {
        if (level == 2) {
            DOC_INFO_2A info = {(LPSTR) "report.txt", nullptr, (LPSTR) "RAW", dwMode, 0};
            return ZUVStartDocPort((HANDLE)port_, (LPSTR)kQueue, jobId_, 2, (LPBYTE)&info);
        }
        DOC_INFO_1A info = {(LPSTR) "report.txt", nullptr, (LPSTR) "RAW"};
        return ZUVStartDocPort((HANDLE)port_, (LPSTR)kQueue, jobId_, 1, (LPBYTE)&info);
    }

    BOOL Write(const std::string &data, DWORD *pcbWritten)
    {
        return ZUVWritePort((HANDLE)port_, (LPBYTE)data.data(), (DWORD)data.size(), pcbWritten);
    }

    bool JobExists() { return DorveSpoolerJobExists(kQueue, jobId_) != FALSE; }

    // The layer's port 162 leads to a host port of this test's own.
    static WORD MapTrapPort(WORD wHostPort)
    {
        DorveWsaMapPort(ZUV_TRAP_PORT, wHostPort);
        return wHostPort;
    }

    static std::string Str(UINT id)
    {
        char buf[ZUV_NAME_LEN];
        LoadStringA(ghInstance, id, buf, sizeof(buf));
        return buf;
    }

    TempRegistry registry_;
    EventRecorder events_;
    TempDir spool_;
    dorve::PrinterEmulator printer_;
    LPZUVPort port_ = nullptr;
    DWORD jobId_ = 0;
};

// ---- A document that prints ----

TEST_F(DocumentTest, HeaderThenTheDocumentUnchangedThenTheJobIsCancelled)
{
    ClockRate fast(20);
    StartPrinter("127.0.0.201", dorve::PrinterState::Ready);
    printer_.setText("READY 42");
    MakePort("127.0.0.201");

    ASSERT_TRUE(StartDoc());
    ASSERT_TRUE(port_->bDocStarted);
    EXPECT_TRUE(port_->bHeaderSent);
    EXPECT_TRUE(WaitFor([] { return SawUpdate(JOB_STATUS_PRINTING, "READY 42"); }, 10000));

    std::string part1 = "first block\r\n";
    std::string part2(100000, '\0');
    for (size_t i = 0; i < part2.size(); i++)
        part2[i] = (char)(i * 7);
    DWORD cb = 0;
    port_->dwLastEvent = MSG_WP_SENDFAILED;
    ASSERT_TRUE(Write(part1, &cb));
    EXPECT_EQ(cb, part1.size());
    EXPECT_EQ(port_->dwLastEvent, 0u);
    ASSERT_TRUE(Write(part2, &cb));
    EXPECT_EQ(cb, part2.size());

    ASSERT_TRUE(ZUVEndDocPort((HANDLE)port_));
    EXPECT_FALSE(port_->bDocStarted);
    EXPECT_EQ(port_->hPrinter, nullptr);
    EXPECT_EQ(port_->hStatusThread, nullptr);
    EXPECT_EQ(port_->lpSendSkt, nullptr);
    EXPECT_EQ(port_->lpStatusSkt, nullptr);
    EXPECT_EQ(port_->hJobMutex, nullptr);
    EXPECT_FALSE(JobExists());
    EXPECT_TRUE(SawCancel());

    ASSERT_TRUE(printer_.waitForJobs(1, std::chrono::seconds(10)));
    std::vector<dorve::PrinterJob> jobs = printer_.jobs();
    ASSERT_EQ(jobs.size(), 1u);
    std::string received = ReadFile(jobs[0].path);
    EXPECT_EQ(received, std::string(kHeaderAbc) + part1 + part2);
    EXPECT_EQ(events_.size(), 0u);
}

TEST_F(DocumentTest, ASecondStartChangesNothingAndDeletePortIsRefusedMeanwhile)
{
    ClockRate fast(20);
    StartPrinter("127.0.0.202", dorve::PrinterState::Ready);
    MakePort("127.0.0.202");
    ASSERT_TRUE(StartDoc());
    LPSkt sendSkt = port_->lpSendSkt;
    HANDLE thread = port_->hStatusThread;
    ASSERT_NE(sendSkt, nullptr);
    ASSERT_TRUE(StartDoc());
    EXPECT_EQ(port_->lpSendSkt, sendSkt);
    EXPECT_EQ(port_->hStatusThread, thread);

    EXPECT_FALSE(ZUVDeletePort(nullptr, nullptr, (LPSTR) "DOC"));
    EXPECT_EQ(events_.count(MSG_DELETEPORT_FAILED), 1u);
    EXPECT_EQ(FindZUVPortInList(&gZUVMon, "DOC"), port_);

    DWORD cb = 0;
    ASSERT_TRUE(Write("data", &cb));
    ASSERT_TRUE(ZUVEndDocPort((HANDLE)port_));
    ASSERT_TRUE(printer_.waitForJobs(1, std::chrono::seconds(10)));
    // One connection only: the second start opened nothing.
    EXPECT_EQ(printer_.counters().connections, 1u);
}

TEST_F(DocumentTest, ChannelModeDefersTheStartToTheFirstWrite)
{
    ClockRate fast(20);
    StartPrinter("127.0.0.203", dorve::PrinterState::Ready);
    MakePort("127.0.0.203");
    ASSERT_TRUE(StartDoc(2, DI_CHANNEL));
    EXPECT_FALSE(port_->bDocStarted);
    EXPECT_EQ(port_->hJobMutex, nullptr);
    EXPECT_EQ(port_->hPrinter, nullptr);
    EXPECT_EQ(port_->dwDocMode, (DWORD)DI_CHANNEL);
    EXPECT_EQ(printer_.counters().statusRequests, 0u);

    DWORD cb = 0;
    ASSERT_TRUE(Write("late", &cb));
    EXPECT_EQ(cb, 4u);
    EXPECT_TRUE(port_->bDocStarted);
    ASSERT_TRUE(ZUVEndDocPort((HANDLE)port_));
    ASSERT_TRUE(printer_.waitForJobs(1, std::chrono::seconds(10)));
    EXPECT_EQ(ReadFile(printer_.jobs()[0].path), std::string(kHeaderAbc) + "late");
}

TEST_F(DocumentTest, ALongPrinterNameIsCutToTheField)
{
    ClockRate fast(20);
    std::string longQueue(200, 'Q');
    StartPrinter("127.0.0.204", dorve::PrinterState::Ready);
    MakePort("127.0.0.204");
    // No queue has that name, so the start fails at OpenPrinterA.
    ASSERT_TRUE(ZUVStartDocPort((HANDLE)port_, (LPSTR)longQueue.c_str(), jobId_, 1, nullptr));
    EXPECT_EQ(std::string(port_->szPrinterName), longQueue.substr(0, 127));
    ASSERT_EQ(events_.count(MSG_SDP_OPENPRINTER), 1u);
    RecordedEvent event = events_.last(MSG_SDP_OPENPRINTER);
    EXPECT_EQ(event.strings.at(0), longQueue.substr(0, 127));
    EXPECT_EQ(event.strings.at(1), "1801");
}

// ---- What the job shows ----

struct NotReadyCase {
    const char *name;
    const char *address;
    dorve::PrinterState state;
    UINT textId;
};

class NotReadyPrinter : public DocumentTest, public ::testing::WithParamInterface<NotReadyCase> {};

// The job shows the error while the check holds it; after the send time-out
// the job is cancelled, nothing is sent and the last error is 0.
TEST_P(NotReadyPrinter, ShowsTheErrorThenCancelsAfterTheSendTimeout)
{
    const NotReadyCase &c = GetParam();
    ClockRate fast(100);
    StartPrinter(c.address, c.state);
    MakePort(c.address);
    port_->dwSendTimeout = 1;
    // One poll only.  A poll that gets no answer leaves 1 (no answer) in
    // dwPrinterStatus for a moment before the thread makes it 2, and a check
    // that looks just then goes on; one poll keeps the hold deterministic.
    port_->dwStsInterval = 600;

    uint64_t startMs = DorveClockNowMs();
    SetLastError(1234);
    ASSERT_TRUE(StartDoc());
    uint64_t elapsedMs = DorveClockNowMs() - startMs;
    EXPECT_EQ(GetLastError(), 0u);
    EXPECT_FALSE(port_->bDocStarted);
    EXPECT_GE(elapsedMs, 57000u);  // sixty one-second passes
    EXPECT_TRUE(SawUpdate(JOB_STATUS_ERROR, Str(c.textId)));
    EXPECT_FALSE(JobExists());
    EXPECT_TRUE(SawCancel());
    EXPECT_EQ(printer_.counters().connections, 0u);
    EXPECT_EQ(port_->hStatusThread, nullptr);
    EXPECT_EQ(port_->hPrinter, nullptr);
    EXPECT_EQ(events_.size(), 0u);

    // A write that follows tries the whole start again.
    uint64_t before = printer_.counters().statusRequests;
    DWORD cb = 99;
    EXPECT_FALSE(Write("x", &cb));
    EXPECT_EQ(cb, 0u);
    EXPECT_GT(printer_.counters().statusRequests, before);
}

INSTANTIATE_TEST_SUITE_P(
    States, NotReadyPrinter,
    ::testing::Values(NotReadyCase{"Busy11", "127.0.0.205", dorve::PrinterState::Busy11,
                                   IDS_PRINTER_BUSY},
                      NotReadyCase{"Silent", "127.0.0.206", dorve::PrinterState::Silent,
                                   IDS_NO_ANSWER}),
    [](const ::testing::TestParamInfo<NotReadyCase> &info) { return info.param.name; });

TEST_F(DocumentTest, ABusyPrinterThatTurnsReadyPrints)
{
    ClockRate fast(20);
    StartPrinter("127.0.0.207", dorve::PrinterState::Busy11);
    MakePort("127.0.0.207");
    std::thread turnReady([this] {
        std::this_thread::sleep_for(std::chrono::milliseconds(300));
        printer_.setState(dorve::PrinterState::Ready);
    });
    uint64_t startMs = DorveClockNowMs();
    ASSERT_TRUE(StartDoc());
    uint64_t elapsedMs = DorveClockNowMs() - startMs;
    turnReady.join();
    EXPECT_TRUE(port_->bDocStarted);
    EXPECT_GE(elapsedMs, 1000u);
    EXPECT_TRUE(SawUpdate(JOB_STATUS_ERROR, Str(IDS_PRINTER_BUSY)));

    DWORD cb = 0;
    ASSERT_TRUE(Write("after the wait", &cb));
    ASSERT_TRUE(ZUVEndDocPort((HANDLE)port_));
    ASSERT_TRUE(printer_.waitForJobs(1, std::chrono::seconds(10)));
    EXPECT_EQ(ReadFile(printer_.jobs()[0].path), std::string(kHeaderAbc) + "after the wait");
}

TEST_F(DocumentTest, DeletingTheJobWhileThePrinterIsBusyEndsTheHold)
{
    ClockRate fast(4);
    StartPrinter("127.0.0.208", dorve::PrinterState::Busy11);
    MakePort("127.0.0.208");
    // One poll only, so that no later job update overwrites the user's
    // deletion before the check sees it.
    port_->dwStsInterval = 600;
    std::atomic<uint64_t> deletedAtMs{0};
    std::thread userDeletes([this, &deletedAtMs] {
        std::this_thread::sleep_for(std::chrono::milliseconds(250));
        deletedAtMs = DorveClockNowMs();
        DorveSpoolerSetJobStatusBits(kQueue, jobId_, JOB_STATUS_DELETING);
    });
    SetLastError(1234);
    ASSERT_TRUE(StartDoc());
    uint64_t endMs = DorveClockNowMs();
    userDeletes.join();
    EXPECT_FALSE(port_->bDocStarted);
    EXPECT_EQ(GetLastError(), 0u);
    ASSERT_NE(deletedAtMs.load(), 0u);
    EXPECT_LE(endMs - deletedAtMs.load(), 1800u);
    // The monitor leaves the deletion to the spooler and sends nothing.
    EXPECT_FALSE(SawCancel());
    EXPECT_EQ(printer_.counters().connections, 0u);
    EXPECT_EQ(port_->hStatusThread, nullptr);
}

// ---- Sending faults ----

TEST_F(DocumentTest, AConnectionResetDiscardsTheRestWithOneEvent)
{
    ClockRate fast(20);
    StartPrinter("127.0.0.209", dorve::PrinterState::Ready);
    printer_.setResetAfter(1000);
    MakePort("127.0.0.209");
    ASSERT_TRUE(StartDoc());
    ASSERT_TRUE(port_->bDocStarted);

    std::string block(65536, 'D');
    int writes = 0;
    for (; writes < 200 && !port_->bDiscard; writes++) {
        DWORD cb = 0;
        ASSERT_TRUE(Write(block, &cb)) << writes;
        ASSERT_EQ(cb, block.size());
        if (!port_->bDiscard)
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    ASSERT_TRUE(port_->bDiscard) << "the reset was never noticed";
    for (int i = 0; i < 3; i++) {
        DWORD cb = 0;
        ASSERT_TRUE(Write(block, &cb));
        EXPECT_EQ(cb, block.size());
    }
    ASSERT_EQ(events_.count(MSG_WP_DISCARDED), 1u);
    RecordedEvent event = events_.last(MSG_WP_DISCARDED);
    EXPECT_EQ(event.wType, EVENTLOG_ERROR_TYPE);
    ASSERT_EQ(event.strings.size(), 4u);
    EXPECT_EQ(event.strings[0], kQueue);
    EXPECT_EQ(event.strings[1], "report.txt");
    EXPECT_EQ(event.strings[2], "abc");
    EXPECT_EQ(events_.size(), 1u);

    ASSERT_TRUE(ZUVEndDocPort((HANDLE)port_));
    EXPECT_FALSE(JobExists());
}

// With the printer not reading, small writes go out until the socket stays
// unwritable; the write that waits in vain fails with what it had sent.
TEST_F(DocumentTest, WaitModeGivesUpWithNotReadyAndTheBytesSent)
{
    ClockRate fast(600);
    DorveWsaRefuseSndTimeo(TRUE);
    StartPrinter("127.0.0.210", dorve::PrinterState::Ready);
    MakePort("127.0.0.210");
    port_->dwSendTimeout = 1;
    port_->bAudibleAlert = TRUE;
    ASSERT_TRUE(StartDoc());
    ASSERT_TRUE(port_->bDocStarted);
    printer_.setStall(true);

    // A blocking send in wait mode has no time limit: should one block, the
    // printer reads again and the test fails instead of hanging.
    std::atomic<bool> done{false};
    std::thread watchdog([&] {
        for (int i = 0; i < 3000 && !done; i++)
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        if (!done)
            printer_.setStall(false);
    });
    std::string chunk(4096, 'W');
    DWORD cb = 0;
    BOOL bOk = TRUE;
    int writes = 0;
    SetLastError(0);
    while (bOk && writes < 100000) {
        bOk = Write(chunk, &cb);
        writes++;
        if (bOk) {
            ASSERT_EQ(cb, chunk.size());
        }
    }
    DWORD dwError = GetLastError();
    done = true;
    watchdog.join();
    ASSERT_FALSE(bOk);
    EXPECT_GT(writes, 1);
    EXPECT_EQ(dwError, (DWORD)ERROR_NOT_READY);
    EXPECT_EQ(cb, 0u);
    EXPECT_EQ(DorveBeepCount(), 1);
    EXPECT_EQ(DorveLastBeepType(), (UINT)MB_ICONEXCLAMATION);
    EXPECT_TRUE(port_->bDocStarted);
    EXPECT_FALSE(port_->bDiscard);
    ASSERT_EQ(events_.count(MSG_WP_SENDFAILED), 1u);
    EXPECT_EQ(events_.last(MSG_WP_SENDFAILED).wType, EVENTLOG_WARNING_TYPE);
    EXPECT_EQ(port_->dwLastEvent, MSG_WP_SENDFAILED);

    // Once the printer reads again, a write that goes out clears the last
    // event, so that a later failure is reported again.
    printer_.setStall(false);
    ASSERT_TRUE(Write(chunk, &cb));
    EXPECT_EQ(port_->dwLastEvent, 0u);
    ASSERT_TRUE(ZUVEndDocPort((HANDLE)port_));
}

TEST_F(DocumentTest, AFailedStartIsRetriedByEachWriteAndReportedOnce)
{
    ClockRate fast(20);
    StartPrinter("127.0.0.211", dorve::PrinterState::Ready);
    MakePort("127.0.0.211");
    port_->bAudibleAlert = TRUE;
    DorveSpoolerFailNext("OpenPrinterA", ERROR_ACCESS_DENIED, 3);

    ASSERT_TRUE(StartDoc());
    EXPECT_FALSE(port_->bDocStarted);
    EXPECT_EQ(port_->hJobMutex, nullptr);
    EXPECT_EQ(port_->hStopStatus, nullptr);
    for (int i = 0; i < 2; i++) {
        DWORD cb = 77;
        EXPECT_FALSE(Write("data", &cb));
        EXPECT_EQ(cb, 0u);
    }
    EXPECT_EQ(DorveBeepCount(), 2);
    ASSERT_EQ(events_.count(MSG_SDP_OPENPRINTER), 1u);
    RecordedEvent event = events_.last(MSG_SDP_OPENPRINTER);
    EXPECT_EQ(event.wType, EVENTLOG_WARNING_TYPE);
    EXPECT_EQ(event.strings.at(0), kQueue);
    EXPECT_EQ(event.strings.at(1), "5");
    EXPECT_EQ(printer_.counters().statusRequests, 0u);

    // The injected failures are used up: this write starts the document.
    DWORD cb = 0;
    ASSERT_TRUE(Write("data", &cb));
    EXPECT_TRUE(port_->bDocStarted);
    ASSERT_TRUE(ZUVEndDocPort((HANDLE)port_));
    ASSERT_TRUE(printer_.waitForJobs(1, std::chrono::seconds(10)));
    EXPECT_EQ(ReadFile(printer_.jobs()[0].path), std::string(kHeaderAbc) + "data");
    EXPECT_FALSE(JobExists());
}

TEST_F(DocumentTest, EndDocAfterAFailedStartReleasesNothingTwiceAndCancelsNothing)
{
    ClockRate fast(20);
    StartPrinter("127.0.0.212", dorve::PrinterState::Ready);
    MakePort("127.0.0.212");
    DorveSpoolerFailNext("OpenPrinterA", ERROR_ACCESS_DENIED, 1);
    ASSERT_TRUE(StartDoc());
    ASSERT_TRUE(ZUVEndDocPort((HANDLE)port_));
    EXPECT_TRUE(JobExists());
    EXPECT_FALSE(SawCancel());
    EXPECT_EQ(port_->dwLastEvent, 0u);
    // And on a port that never started a document.
    ASSERT_TRUE(ZUVEndDocPort((HANDLE)port_));
}

TEST_F(DocumentTest, AStatusChannelThatCannotOpenShowsNoAnswer)
{
    ClockRate fast(20);
    MakePort("");  // no address: the status channel cannot be made
    SetLastError(0);
    ASSERT_TRUE(StartDoc());
    EXPECT_EQ(GetLastError(), (DWORD)ERROR_NOT_READY);
    EXPECT_FALSE(port_->bDocStarted);
    EXPECT_EQ(port_->dwPrinterStatus, (DWORD)ZUV_STS_NOTREADY);
    EXPECT_EQ(std::string(port_->szStatus), Str(IDS_NO_ANSWER));
    EXPECT_TRUE(SawUpdate(JOB_STATUS_ERROR, Str(IDS_NO_ANSWER)));
    ASSERT_EQ(events_.count(MSG_SDP_NORESPONSE), 1u);
    RecordedEvent event = events_.last(MSG_SDP_NORESPONSE);
    ASSERT_EQ(event.strings.size(), 3u);
    EXPECT_EQ(event.strings[0], kQueue);
    EXPECT_EQ(event.strings[1], "report.txt");
    EXPECT_EQ(event.strings[2], "abc");
    EXPECT_TRUE(JobExists());
}

// ---- The end-of-job trap wait ----

TEST_F(DocumentTest, TheTrapWaitShowsWaitingAndEndsWithADatagram)
{
    ClockRate fast(20);
    WORD wTrapPort = MapTrapPort(41201);
    StartPrinter("127.0.0.213", dorve::PrinterState::Ready);
    MakePort("127.0.0.213");
    port_->bTrapNotification = TRUE;
    ASSERT_TRUE(StartDoc());
    DWORD cb = 0;
    ASSERT_TRUE(Write("trap me", &cb));

    std::atomic<bool> ended{false};
    std::thread endDoc([this, &ended] {
        ZUVEndDocPort((HANDLE)port_);
        ended = true;
    });
    std::string waiting = Str(IDS_WAITING_HANDOVER);
    EXPECT_TRUE(WaitFor([&] { return SawUpdate(JOB_STATUS_PRINTING, waiting); }, 20000));
    EXPECT_FALSE(ended.load());
    EXPECT_TRUE(JobExists());
    EXPECT_TRUE(ZUVLoad(port_->bWaitingForTrap));

    std::vector<uint8_t> trap = dorve::BuildSnmpV1Trap(0x7F0000D5, 1, 100, 1);
    EXPECT_TRUE(WaitFor(
        [&] {
            dorve::SendLoopbackDatagram("127.0.0.1", wTrapPort, trap);
            return ended.load();
        },
        20000));
    endDoc.join();
    EXPECT_FALSE(ZUVLoad(port_->bWaitingForTrap));
    EXPECT_FALSE(JobExists());
    ASSERT_TRUE(printer_.waitForJobs(1, std::chrono::seconds(10)));
    EXPECT_EQ(ReadFile(printer_.jobs()[0].path), std::string(kHeaderAbc) + "trap me");
}

TEST_F(DocumentTest, TheTrapWaitEndsAfterThreeHundredSeconds)
{
    ClockRate fast(600);
    MapTrapPort(41202);
    StartPrinter("127.0.0.214", dorve::PrinterState::Ready);
    MakePort("127.0.0.214");
    port_->bTrapNotification = TRUE;
    port_->dwStsInterval = 30;
    ASSERT_TRUE(StartDoc());
    uint64_t startMs = DorveClockNowMs();
    ASSERT_TRUE(ZUVEndDocPort((HANDLE)port_));
    uint64_t elapsedMs = DorveClockNowMs() - startMs;
    // The layer's clock converts waits at a few milliseconds' grain.
    EXPECT_GE(elapsedMs, 295000u);
    EXPECT_LT(elapsedMs, 400000u);
    EXPECT_FALSE(JobExists());
}

}  // namespace
