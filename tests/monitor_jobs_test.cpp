// The job services, the pre-send check and the status thread, each on a port
// record set up by hand against the spooler model (and, for the thread, the
// printer emulator on 127.0.0.23x).
#include "printer.h"  // first: the emulator's C++ headers must not see Winsock's names

#include <gtest/gtest.h>

#include <string.h>

#include <atomic>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "dorve/clock.h"
#include "dorve/spooler_host.h"
#include "dorve/winsock_host.h"
#include "testlib.h"

using namespace dorvetest;

namespace {

const char kQueue[] = "JobsQueue";

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

// A port record holding what StartDocPort would have made for a document:
// the printer handle, the mutex, the two events and the job id.
class JobTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        ResetMonitorState();
        DorveSpoolerReset();
        DorveWsaReset();
        {
            std::lock_guard<std::mutex> lock(gHistoryMutex);
            gHistory.clear();
        }
        ASSERT_TRUE(LoadMonitorModule());
        ASSERT_TRUE(StartSock());
        ASSERT_TRUE(DorveSpoolerAddPrinter(kQueue, "JP"));
        jobId_ = DorveSpoolerAddJob(kQueue, "owner", "doc", 10);
        memset(&port_, 0, sizeof(port_));
        lstrcpynA(port_.szPortName, "JP", ZUV_NAME_LEN);
        SetZUVPortDefaults(&port_);
        port_.dwStsInterval = 1;
        port_.dwStsTimeout = 1;
        port_.dwJobId = jobId_;
        ASSERT_TRUE(OpenPrinterA((LPSTR)kQueue, &port_.hPrinter, nullptr));
        port_.hJobMutex = CreateMutexA(nullptr, FALSE, nullptr);
        port_.hStopStatus = CreateEventA(nullptr, TRUE, FALSE, nullptr);
        port_.hStatusReady = CreateEventA(nullptr, TRUE, FALSE, nullptr);
        DorveSpoolerSetJobObserver(RecordUpdate, nullptr);
    }

    void TearDown() override
    {
        if (port_.hStatusThread != nullptr)
            StopStatusThread(&gZUVMon, &port_);
        printer_.stop();
        DorveSpoolerSetJobObserver(nullptr, nullptr);
        ClosePrinter(port_.hPrinter);
        CloseHandle(port_.hJobMutex);
        CloseHandle(port_.hStopStatus);
        CloseHandle(port_.hStatusReady);
        WSACleanup();
        DorveSpoolerReset();
        DorveWsaReset();
    }

    DWORD JobStatus()
    {
        DWORD dwStatus = 0;
        char text[256];
        EXPECT_TRUE(DorveSpoolerGetJobStatus(kQueue, jobId_, &dwStatus, text, sizeof(text)));
        return dwStatus;
    }
    std::string JobText()
    {
        DWORD dwStatus = 0;
        char text[256] = "";
        DorveSpoolerGetJobStatus(kQueue, jobId_, &dwStatus, text, sizeof(text));
        return text;
    }

    void StartPrinter(const std::string &address, dorve::PrinterState state)
    {
        printer_.setState(state);
        if (!printer_.start(address, spool_.path(), dorve::kPrinterPort)) {
            DorveWsaMapPort(ZUV_PRINTER_PORT, 30035);
            ASSERT_TRUE(printer_.start(address, spool_.path(), 30035)) << printer_.lastError();
        }
        lstrcpynA(port_.szIPAddress, address.c_str(), ZUV_NAME_LEN);
    }

    // Another thread can take the job mutex, so nothing left it held.
    bool MutexIsFree()
    {
        bool bFree = false;
        std::thread other([&] {
            if (WaitForSingleObject(port_.hJobMutex, 0) == WAIT_OBJECT_0) {
                bFree = true;
                ReleaseMutex(port_.hJobMutex);
            }
        });
        other.join();
        return bFree;
    }

    static std::string Str(UINT id)
    {
        char buf[ZUV_NAME_LEN];
        LoadStringA(ghInstance, id, buf, sizeof(buf));
        return buf;
    }

    TempRegistry registry_;
    TempDir spool_;
    dorve::PrinterEmulator printer_;
    ZUVPort port_;
    DWORD jobId_ = 0;
};

// ---- Job services ----

TEST_F(JobTest, TheJobRecordIsFetchedWithItsStrings)
{
    LPJOB_INFO_1A job = AllocAndGetJobInfo1(&port_);
    ASSERT_NE(job, nullptr);
    EXPECT_EQ(job->JobId, jobId_);
    EXPECT_STREQ(job->pUserName, "owner");
    EXPECT_STREQ(job->pDocument, "doc");
    EXPECT_STREQ(job->pPrinterName, kQueue);
    free(job);
    EXPECT_TRUE(MutexIsFree());
}

TEST_F(JobTest, AJobThatCannotBeFetchedGivesNoneAndFreesTheMutex)
{
    port_.dwJobId = jobId_ + 100;
    EXPECT_EQ(AllocAndGetJobInfo1(&port_), nullptr);
    EXPECT_TRUE(MutexIsFree());

    port_.dwJobId = jobId_;
    DorveSpoolerFailNext("GetJobA", ERROR_ACCESS_DENIED, 1);
    EXPECT_EQ(AllocAndGetJobInfo1(&port_), nullptr);
    EXPECT_TRUE(MutexIsFree());
    // The failure was the sizing call's; the next fetch works again.
    LPJOB_INFO_1A job = AllocAndGetJobInfo1(&port_);
    EXPECT_NE(job, nullptr);
    free(job);
}

TEST_F(JobTest, WithoutAJobRecordTheHeaderIsNotSent)
{
    port_.dwJobId = jobId_ + 100;
    EXPECT_FALSE(SendZUVDOC(&gZUVMon, &port_));
    EXPECT_FALSE(port_.bHeaderSent);
}

TEST_F(JobTest, DeletePrintJobCancelsEvenAJobBeingDeleted)
{
    DorveSpoolerSetJobStatusBits(kQueue, jobId_, JOB_STATUS_DELETING);
    DeletePrintJob(&port_);
    EXPECT_FALSE(DorveSpoolerJobExists(kQueue, jobId_));
    std::vector<JobUpdate> history = History();
    ASSERT_EQ(history.size(), 1u);
    EXPECT_EQ(history[0].command, (DWORD)JOB_CONTROL_CANCEL);
    EXPECT_EQ(history[0].status, (DWORD)JOB_STATUS_DELETING);
    // A job that is gone is left alone.
    DeletePrintJob(&port_);
    EXPECT_EQ(History().size(), 1u);
}

// ---- What the status update writes onto the job ----

struct ReportCase {
    const char *name;
    DWORD initialStatus;
    DWORD printerStatus;
    BOOL waitingForTrap;
    bool updated;
    DWORD expectedStatus;
    UINT textId;  // 0: the port's own szStatus
};

class ReportStatus : public JobTest, public ::testing::WithParamInterface<ReportCase> {};

TEST_P(ReportStatus, UpdatesTheJobUnlessItIsExactlyInOneOfTheSpoolersStates)
{
    const ReportCase &c = GetParam();
    if (c.initialStatus != 0)
        DorveSpoolerSetJobStatusBits(kQueue, jobId_, c.initialStatus);
    lstrcpynA(port_.szStatus, "PRINTER SAYS", ZUV_NAME_LEN);
    port_.dwPrinterStatus = c.printerStatus;
    port_.bWaitingForTrap = c.waitingForTrap;
    ReportPortStatus(&port_, 0);
    if (!c.updated) {
        EXPECT_TRUE(History().empty());
        EXPECT_EQ(JobStatus(), c.initialStatus);
        return;
    }
    ASSERT_EQ(History().size(), 1u);
    EXPECT_EQ(JobStatus(), c.expectedStatus);
    EXPECT_EQ(JobText(), c.textId != 0 ? Str(c.textId) : std::string("PRINTER SAYS"));
    EXPECT_TRUE(MutexIsFree());
}

INSTANTIATE_TEST_SUITE_P(
    Cases, ReportStatus,
    ::testing::Values(
        ReportCase{"Paused", JOB_STATUS_PAUSED, 0, FALSE, false, 0, 0},
        ReportCase{"Spooling", JOB_STATUS_SPOOLING, 0, FALSE, false, 0, 0},
        ReportCase{"Deleting", JOB_STATUS_DELETING, 2, FALSE, false, 0, 0},
        ReportCase{"Printed", JOB_STATUS_PRINTED, 0, FALSE, false, 0, 0},
        // Updated, and the user's pause stays: the spooler keeps the states it owns.
        ReportCase{"PausedAndPrinting", JOB_STATUS_PAUSED | JOB_STATUS_PRINTING, 0, FALSE, true,
                   JOB_STATUS_PAUSED | JOB_STATUS_PRINTING, 0},
        ReportCase{"DeletingAndError", JOB_STATUS_DELETING | JOB_STATUS_ERROR, 0, FALSE, true,
                   JOB_STATUS_DELETING | JOB_STATUS_PRINTING, 0},
        ReportCase{"Ready", 0, 0, FALSE, true, JOB_STATUS_PRINTING, 0},
        ReportCase{"NotReady", 0, 2, FALSE, true, JOB_STATUS_ERROR, 0},
        ReportCase{"NoAnswerLeftByTheChannel", 0, 1, FALSE, true, JOB_STATUS_PRINTING, 0},
        ReportCase{"WaitingForTrap", 0, 0, TRUE, true, JOB_STATUS_PRINTING, IDS_WAITING_HANDOVER},
        ReportCase{"NotReadyWhileWaiting", 0, 2, TRUE, true, JOB_STATUS_ERROR, 0}),
    [](const ::testing::TestParamInfo<ReportCase> &info) { return info.param.name; });

// ---- The pre-send check ----

TEST_F(JobTest, CheckGoesOnAtOnceForAReadyPrinter)
{
    port_.dwPrinterStatus = 0;
    DWORD dwResult = 99;
    uint64_t start = DorveClockNowMs();
    EXPECT_TRUE(CheckStatus(&gZUVMon, &port_, &dwResult));
    EXPECT_EQ(dwResult, (DWORD)ZUV_CHECK_GO);
    EXPECT_LT(DorveClockNowMs() - start, 500u);
}

TEST_F(JobTest, CheckWithNoTimeAllowedGivesUpAtOnce)
{
    port_.dwPrinterStatus = 2;
    port_.dwSendTimeout = 0;
    DWORD dwResult = 99;
    uint64_t start = DorveClockNowMs();
    EXPECT_FALSE(CheckStatus(&gZUVMon, &port_, &dwResult));
    EXPECT_EQ(dwResult, (DWORD)ZUV_CHECK_TIMEOUT);
    EXPECT_LT(DorveClockNowMs() - start, 500u);
}

TEST_F(JobTest, CheckGoesOnWhenTheJobCannotBeRead)
{
    port_.dwPrinterStatus = 2;
    port_.dwJobId = jobId_ + 100;
    DWORD dwResult = 99;
    EXPECT_TRUE(CheckStatus(&gZUVMon, &port_, &dwResult));
    EXPECT_EQ(dwResult, (DWORD)ZUV_CHECK_GO);
}

TEST_F(JobTest, CheckTimesOutAfterSixtyPassesAMinute)
{
    ClockRate fast(200);
    port_.dwPrinterStatus = 2;
    port_.dwSendTimeout = 1;
    DWORD dwResult = 99;
    uint64_t start = DorveClockNowMs();
    EXPECT_FALSE(CheckStatus(&gZUVMon, &port_, &dwResult));
    uint64_t elapsed = DorveClockNowMs() - start;
    EXPECT_EQ(dwResult, (DWORD)ZUV_CHECK_TIMEOUT);
    EXPECT_GE(elapsed, 57000u);
    EXPECT_LT(elapsed, 90000u);
    // No event and no cancel: the caller decides.
    EXPECT_TRUE(DorveSpoolerJobExists(kQueue, jobId_));
}

struct CheckCase {
    const char *name;
    bool deleteJob;
    bool turnReady;
    BOOL expected;
    DWORD expectedCode;
};

class CheckDuringTheWait : public JobTest, public ::testing::WithParamInterface<CheckCase> {};

// The change comes within the first one-second pass, so the first pass
// decides.
TEST_P(CheckDuringTheWait, DecidesByTheFirstPassThatSeesAChange)
{
    const CheckCase &c = GetParam();
    port_.dwPrinterStatus = 2;
    std::thread change([&] {
        std::this_thread::sleep_for(std::chrono::milliseconds(300));
        if (c.deleteJob)
            DorveSpoolerSetJobStatusBits(kQueue, jobId_, JOB_STATUS_DELETING);
        if (c.turnReady)
            ZUVStore(port_.dwPrinterStatus, (DWORD)0);
    });
    DWORD dwResult = 99;
    uint64_t start = DorveClockNowMs();
    BOOL bResult = CheckStatus(&gZUVMon, &port_, &dwResult);
    uint64_t elapsed = DorveClockNowMs() - start;
    change.join();
    EXPECT_EQ(bResult, c.expected);
    EXPECT_EQ(dwResult, c.expectedCode);
    EXPECT_GE(elapsed, 950u);
    EXPECT_LT(elapsed, 1900u);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, CheckDuringTheWait,
    ::testing::Values(CheckCase{"Deleted", true, false, FALSE, ZUV_CHECK_DELETED},
                      CheckCase{"Ready", false, true, TRUE, ZUV_CHECK_GO},
                      CheckCase{"ReadyAndDeletedInOnePass", true, true, TRUE, ZUV_CHECK_DELETED}),
    [](const ::testing::TestParamInfo<CheckCase> &info) { return info.param.name; });

TEST_F(JobTest, CheckGoesOnAboutKSecondsAfterThePrinterTurnsReady)
{
    ClockRate fast(10);
    port_.dwPrinterStatus = 2;
    std::thread change([&] {
        std::this_thread::sleep_for(std::chrono::milliseconds(450));  // 4.5 s simulated
        ZUVStore(port_.dwPrinterStatus, (DWORD)0);
    });
    DWORD dwResult = 99;
    uint64_t start = DorveClockNowMs();
    EXPECT_TRUE(CheckStatus(&gZUVMon, &port_, &dwResult));
    uint64_t elapsed = DorveClockNowMs() - start;
    change.join();
    EXPECT_EQ(dwResult, (DWORD)ZUV_CHECK_GO);
    EXPECT_GE(elapsed, 4000u);
    EXPECT_LT(elapsed, 8000u);
}

// ---- The status thread ----

TEST_F(JobTest, TheThreadStartsOnlyAfterItsFirstPollAlsoWhenItFails)
{
    ClockRate fast(20);
    StartPrinter("127.0.0.231", dorve::PrinterState::Silent);
    ASSERT_TRUE(StartStatusThread(&gZUVMon, &port_));
    EXPECT_NE(port_.hStatusThread, nullptr);
    EXPECT_EQ(WaitForSingleObject(port_.hStatusReady, 0), WAIT_OBJECT_0);
    EXPECT_EQ(ZUVLoad(port_.dwPrinterStatus), (DWORD)ZUV_STS_NOTREADY);
    // szStatus belongs to the running thread, whose next poll clears it:
    // the first poll's text is read from the job instead.
    EXPECT_TRUE(WaitFor([&] { return JobStatus() == JOB_STATUS_ERROR; }, 5000));
    EXPECT_EQ(JobText(), Str(IDS_NO_ANSWER));

    // The printer answers again: the next polls show it.
    printer_.setState(dorve::PrinterState::Ready);
    printer_.setText("BACK");
    EXPECT_TRUE(WaitFor([&] { return JobStatus() == JOB_STATUS_PRINTING && JobText() == "BACK"; },
                        10000));

    EXPECT_TRUE(StopStatusThread(&gZUVMon, &port_));
    EXPECT_EQ(port_.hStatusThread, nullptr);
    EXPECT_EQ(port_.lpStatusSkt, nullptr);
}

TEST_F(JobTest, AThreadToldToStopBeforeItStartsNeverPolls)
{
    ClockRate fast(20);
    StartPrinter("127.0.0.232", dorve::PrinterState::Ready);
    SetEvent(port_.hStopStatus);
    EXPECT_FALSE(StartStatusThread(&gZUVMon, &port_));
    EXPECT_EQ(port_.hStatusThread, nullptr);
    EXPECT_EQ(port_.lpStatusSkt, nullptr);
    EXPECT_EQ(printer_.counters().statusRequests, 0u);
    EXPECT_TRUE(History().empty());
}

// Each poll first drains stale replies for a second; with no pause between
// polls, twenty of them take well under the forty seconds that an interval
// of one second would add up to.
TEST_F(JobTest, AZeroIntervalPollsWithoutAPause)
{
    ClockRate fast(10);
    StartPrinter("127.0.0.233", dorve::PrinterState::Ready);
    port_.dwStsInterval = 0;
    uint64_t start = DorveClockNowMs();
    ASSERT_TRUE(StartStatusThread(&gZUVMon, &port_));
    EXPECT_TRUE(printer_.waitForStatusRequests(20, std::chrono::seconds(20)));
    uint64_t elapsed = DorveClockNowMs() - start;
    EXPECT_TRUE(StopStatusThread(&gZUVMon, &port_));
    EXPECT_LT(elapsed, 35000u);
}

TEST_F(JobTest, AStopDuringTheWaitBetweenPollsEndsTheThreadAtOnce)
{
    StartPrinter("127.0.0.234", dorve::PrinterState::Ready);
    port_.dwStsInterval = 600;  // ten minutes of real time: only a stop ends the wait
    ASSERT_TRUE(StartStatusThread(&gZUVMon, &port_));
    ASSERT_TRUE(WaitFor([&] { return !History().empty(); }, 5000));
    uint64_t polls = printer_.counters().statusRequests;
    auto start = std::chrono::steady_clock::now();
    EXPECT_TRUE(StopStatusThread(&gZUVMon, &port_));
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(5));
    EXPECT_EQ(printer_.counters().statusRequests, polls);
    EXPECT_EQ(port_.hStatusThread, nullptr);
}

}  // namespace
