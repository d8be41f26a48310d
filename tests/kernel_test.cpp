// Kernel objects, waits, the layer clock and the ANSI string services.
#include <windows.h>

#include "dorve/clock.h"
#include "testlib.h"

#include <gtest/gtest.h>

#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <string>

extern char **environ;

namespace {

using Clock = std::chrono::steady_clock;
using dorvetest::RealMsSince;

struct Events {
    HANDLE h[3];
    Events(BOOL bManual0, BOOL bManual1, BOOL bManual2)
    {
        h[0] = CreateEventA(nullptr, bManual0, FALSE, nullptr);
        h[1] = CreateEventA(nullptr, bManual1, FALSE, nullptr);
        h[2] = CreateEventA(nullptr, bManual2, FALSE, nullptr);
    }
    ~Events()
    {
        for (HANDLE handle : h)
            CloseHandle(handle);
    }
};

DWORD WINAPI WaitThenExit(LPVOID pv)
{
    WaitForSingleObject((HANDLE)pv, INFINITE);
    return 42;
}

} // namespace

// ---- Last error ----

DWORD WINAPI SetOwnError(LPVOID pv)
{
    SetLastError(1234);
    *(DWORD *)pv = GetLastError();
    return 0;
}

TEST(KernelLastError, IsPerThread)
{
    SetLastError(ERROR_FILE_NOT_FOUND);
    DWORD dwSeenByThread = 0;
    HANDLE hThread = CreateThread(nullptr, 0, SetOwnError, &dwSeenByThread, 0, nullptr);
    ASSERT_NE(hThread, nullptr);
    ASSERT_EQ(WaitForSingleObject(hThread, INFINITE), (DWORD)WAIT_OBJECT_0);
    CloseHandle(hThread);
    EXPECT_EQ(dwSeenByThread, 1234u);
    EXPECT_EQ(GetLastError(), (DWORD)ERROR_FILE_NOT_FOUND);
}

// ---- Threads ----

DWORD WINAPI ReportThreadId(LPVOID pv)
{
    *(DWORD *)pv = GetCurrentThreadId();
    return 7;
}

TEST(KernelThread, HandleIsSignalledWhenTheThreadEnds)
{
    HANDLE hGo = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    DWORD dwId = 0;
    HANDLE hThread = CreateThread(nullptr, 0, WaitThenExit, hGo, 0, &dwId);
    ASSERT_NE(hThread, nullptr);
    EXPECT_NE(hThread, INVALID_HANDLE_VALUE);
    EXPECT_NE(dwId, 0u);
    EXPECT_NE(dwId, GetCurrentThreadId());

    DWORD dwCode = 0;
    EXPECT_EQ(WaitForSingleObject(hThread, 20), (DWORD)WAIT_TIMEOUT);
    ASSERT_TRUE(GetExitCodeThread(hThread, &dwCode));
    EXPECT_EQ(dwCode, (DWORD)STILL_ACTIVE);

    SetEvent(hGo);
    EXPECT_EQ(WaitForSingleObject(hThread, INFINITE), (DWORD)WAIT_OBJECT_0);
    ASSERT_TRUE(GetExitCodeThread(hThread, &dwCode));
    EXPECT_EQ(dwCode, 42u);
    // Stays signalled.
    EXPECT_EQ(WaitForSingleObject(hThread, 0), (DWORD)WAIT_OBJECT_0);
    EXPECT_TRUE(CloseHandle(hThread));
    CloseHandle(hGo);
}

TEST(KernelThread, IdSeenInsideMatchesTheOneReturned)
{
    DWORD dwInside = 0, dwReturned = 0;
    HANDLE hThread = CreateThread(nullptr, 0, ReportThreadId, &dwInside, 0, &dwReturned);
    ASSERT_NE(hThread, nullptr);
    WaitForSingleObject(hThread, INFINITE);
    CloseHandle(hThread);
    EXPECT_EQ(dwInside, dwReturned);
}

struct CloseLaterArgs {
    HANDLE hGo;
    HANDLE hDone;
};

DWORD WINAPI SignalWhenReleased(LPVOID pv)
{
    CloseLaterArgs *pArgs = (CloseLaterArgs *)pv;
    WaitForSingleObject(pArgs->hGo, INFINITE);
    SetEvent(pArgs->hDone);
    return 0;
}

TEST(KernelThread, ClosingTheHandleDoesNotStopTheThread)
{
    CloseLaterArgs args = {CreateEventA(nullptr, TRUE, FALSE, nullptr), CreateEventA(nullptr, TRUE, FALSE, nullptr)};
    HANDLE hThread = CreateThread(nullptr, 0, SignalWhenReleased, &args, 0, nullptr);
    ASSERT_NE(hThread, nullptr);
    EXPECT_TRUE(CloseHandle(hThread));
    SetEvent(args.hGo);
    EXPECT_EQ(WaitForSingleObject(args.hDone, 10000), (DWORD)WAIT_OBJECT_0);
    // The closed handle is gone even though the thread lived on.
    EXPECT_EQ(WaitForSingleObject(hThread, 0), WAIT_FAILED);
    EXPECT_EQ(GetLastError(), (DWORD)ERROR_INVALID_HANDLE);
    CloseHandle(args.hGo);
    CloseHandle(args.hDone);
}

TEST(KernelThread, SuspendedThreadRunsOnlyAfterResume)
{
    DWORD dwInside = 0;
    HANDLE hThread = CreateThread(nullptr, 0, ReportThreadId, &dwInside, CREATE_SUSPENDED, nullptr);
    ASSERT_NE(hThread, nullptr);
    EXPECT_EQ(WaitForSingleObject(hThread, 30), (DWORD)WAIT_TIMEOUT);
    EXPECT_EQ(dwInside, 0u);
    EXPECT_EQ(ResumeThread(hThread), 1u);
    EXPECT_EQ(WaitForSingleObject(hThread, INFINITE), (DWORD)WAIT_OBJECT_0);
    EXPECT_NE(dwInside, 0u);
    CloseHandle(hThread);
}

// ---- Events and waits ----

TEST(KernelWait, AnyReturnsTheFirstSignalledInArrayOrder)
{
    struct Case {
        bool abSet[3];
        DWORD dwExpected;
    } cases[] = {
        {{true, true, true}, WAIT_OBJECT_0},
        {{false, true, true}, WAIT_OBJECT_0 + 1},
        {{false, false, true}, WAIT_OBJECT_0 + 2},
        {{true, false, true}, WAIT_OBJECT_0},
        {{false, false, false}, WAIT_TIMEOUT},
    };
    for (const Case &c : cases) {
        Events ev(TRUE, TRUE, TRUE);
        for (int i = 0; i < 3; i++) {
            if (c.abSet[i])
                SetEvent(ev.h[i]);
        }
        EXPECT_EQ(WaitForMultipleObjects(3, ev.h, FALSE, 0), c.dwExpected)
            << c.abSet[0] << c.abSet[1] << c.abSet[2];
    }
}

TEST(KernelWait, AutoResetEventIsConsumedManualResetIsNot)
{
    Events ev(FALSE, TRUE, TRUE);
    SetEvent(ev.h[0]);
    SetEvent(ev.h[1]);
    EXPECT_EQ(WaitForMultipleObjects(2, ev.h, FALSE, 0), (DWORD)WAIT_OBJECT_0);
    // The auto-reset one is now clear, so the manual one answers, again and again.
    EXPECT_EQ(WaitForMultipleObjects(2, ev.h, FALSE, 0), (DWORD)WAIT_OBJECT_0 + 1);
    EXPECT_EQ(WaitForMultipleObjects(2, ev.h, FALSE, 0), (DWORD)WAIT_OBJECT_0 + 1);
    ResetEvent(ev.h[1]);
    EXPECT_EQ(WaitForMultipleObjects(2, ev.h, FALSE, 0), (DWORD)WAIT_TIMEOUT);
}

TEST(KernelWait, InitialStateIsHonoured)
{
    HANDLE hSet = CreateEventA(nullptr, TRUE, TRUE, nullptr);
    HANDLE hClear = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    EXPECT_EQ(WaitForSingleObject(hSet, 0), (DWORD)WAIT_OBJECT_0);
    EXPECT_EQ(WaitForSingleObject(hClear, 0), (DWORD)WAIT_TIMEOUT);
    CloseHandle(hSet);
    CloseHandle(hClear);
}

TEST(KernelWait, AllWaitsForEveryHandle)
{
    Events ev(FALSE, TRUE, TRUE);
    SetEvent(ev.h[0]);
    SetEvent(ev.h[2]);
    EXPECT_EQ(WaitForMultipleObjects(3, ev.h, TRUE, 0), (DWORD)WAIT_TIMEOUT);
    // A failed wait-all takes nothing: the auto-reset event is still set.
    EXPECT_EQ(WaitForSingleObject(ev.h[0], 0), (DWORD)WAIT_OBJECT_0);
    SetEvent(ev.h[0]);
    SetEvent(ev.h[1]);
    EXPECT_EQ(WaitForMultipleObjects(3, ev.h, TRUE, 0), (DWORD)WAIT_OBJECT_0);
    EXPECT_EQ(WaitForSingleObject(ev.h[0], 0), (DWORD)WAIT_TIMEOUT);
}

DWORD WINAPI SetAfterDelay(LPVOID pv)
{
    Sleep(50);
    SetEvent((HANDLE)pv);
    return 0;
}

TEST(KernelWait, BlockedWaitWakesWhenAnotherThreadSignals)
{
    Events ev(FALSE, FALSE, FALSE);
    HANDLE hThread = CreateThread(nullptr, 0, SetAfterDelay, ev.h[2], 0, nullptr);
    EXPECT_EQ(WaitForMultipleObjects(3, ev.h, FALSE, INFINITE), (DWORD)WAIT_OBJECT_0 + 2);
    WaitForSingleObject(hThread, INFINITE);
    CloseHandle(hThread);
}

TEST(KernelWait, InvalidHandlesFail)
{
    HANDLE hEvent = CreateEventA(nullptr, TRUE, TRUE, nullptr);
    HANDLE bogus[] = {(HANDLE)0x7777770, nullptr, INVALID_HANDLE_VALUE};
    for (HANDLE h : bogus) {
        SetLastError(0);
        EXPECT_EQ(WaitForSingleObject(h, 0), WAIT_FAILED);
        EXPECT_EQ(GetLastError(), (DWORD)ERROR_INVALID_HANDLE);
        EXPECT_FALSE(CloseHandle(h));
        EXPECT_FALSE(SetEvent(h));
        // One bad handle fails the whole wait, even behind a signalled one.
        HANDLE pair[2] = {hEvent, h};
        SetLastError(0);
        EXPECT_EQ(WaitForMultipleObjects(2, pair, FALSE, 0), WAIT_FAILED);
        EXPECT_EQ(GetLastError(), (DWORD)ERROR_INVALID_HANDLE);
    }
    EXPECT_TRUE(CloseHandle(hEvent));
    EXPECT_FALSE(CloseHandle(hEvent));
    EXPECT_EQ(GetLastError(), (DWORD)ERROR_INVALID_HANDLE);
}

TEST(KernelWait, NamedEventIsShared)
{
    HANDLE h1 = CreateEventA(nullptr, TRUE, FALSE, "DorveKernelTestEvent");
    HANDLE h2 = CreateEventA(nullptr, TRUE, FALSE, "DorveKernelTestEvent");
    EXPECT_EQ(GetLastError(), (DWORD)ERROR_ALREADY_EXISTS);
    EXPECT_NE(h1, h2);
    SetEvent(h1);
    EXPECT_EQ(WaitForSingleObject(h2, 0), (DWORD)WAIT_OBJECT_0);
    CloseHandle(h1);
    CloseHandle(h2);
}

// ---- Mutexes ----

struct MutexProbe {
    HANDLE hMutex;
    DWORD dwWait;
    BOOL bReleased;
    DWORD dwReleaseError;
};

DWORD WINAPI ProbeMutex(LPVOID pv)
{
    MutexProbe *p = (MutexProbe *)pv;
    p->bReleased = ReleaseMutex(p->hMutex);
    p->dwReleaseError = GetLastError();
    p->dwWait = WaitForSingleObject(p->hMutex, 0);
    if (p->dwWait == WAIT_OBJECT_0)
        ReleaseMutex(p->hMutex);
    return 0;
}

void RunProbe(MutexProbe &probe)
{
    HANDLE hThread = CreateThread(nullptr, 0, ProbeMutex, &probe, 0, nullptr);
    WaitForSingleObject(hThread, INFINITE);
    CloseHandle(hThread);
}

TEST(KernelMutex, IsRecursiveAndOwnedByItsThread)
{
    HANDLE hMutex = CreateMutexA(nullptr, FALSE, nullptr);
    ASSERT_NE(hMutex, nullptr);
    EXPECT_EQ(WaitForSingleObject(hMutex, 0), (DWORD)WAIT_OBJECT_0);
    EXPECT_EQ(WaitForSingleObject(hMutex, 0), (DWORD)WAIT_OBJECT_0);

    MutexProbe probe = {hMutex, 0, TRUE, 0};
    RunProbe(probe);
    EXPECT_FALSE(probe.bReleased);
    EXPECT_EQ(probe.dwReleaseError, (DWORD)ERROR_NOT_OWNER);
    EXPECT_EQ(probe.dwWait, (DWORD)WAIT_TIMEOUT);

    EXPECT_TRUE(ReleaseMutex(hMutex));
    RunProbe(probe);  // still held once
    EXPECT_EQ(probe.dwWait, (DWORD)WAIT_TIMEOUT);
    EXPECT_TRUE(ReleaseMutex(hMutex));
    EXPECT_FALSE(ReleaseMutex(hMutex));
    EXPECT_EQ(GetLastError(), (DWORD)ERROR_NOT_OWNER);
    RunProbe(probe);
    EXPECT_EQ(probe.dwWait, (DWORD)WAIT_OBJECT_0);
    CloseHandle(hMutex);
}

TEST(KernelMutex, InitialOwnerHoldsIt)
{
    HANDLE hMutex = CreateMutexA(nullptr, TRUE, nullptr);
    MutexProbe probe = {hMutex, 0, TRUE, 0};
    RunProbe(probe);
    EXPECT_EQ(probe.dwWait, (DWORD)WAIT_TIMEOUT);
    EXPECT_TRUE(ReleaseMutex(hMutex));
    CloseHandle(hMutex);
}

DWORD WINAPI TakeAndExit(LPVOID pv)
{
    WaitForSingleObject((HANDLE)pv, INFINITE);
    return 0;
}

TEST(KernelMutex, OwnerEndingUnreleasedAbandonsIt)
{
    HANDLE hMutex = CreateMutexA(nullptr, FALSE, nullptr);
    HANDLE hThread = CreateThread(nullptr, 0, TakeAndExit, hMutex, 0, nullptr);
    WaitForSingleObject(hThread, INFINITE);
    CloseHandle(hThread);
    EXPECT_EQ(WaitForSingleObject(hMutex, 0), (DWORD)WAIT_ABANDONED_0);
    EXPECT_TRUE(ReleaseMutex(hMutex));
    EXPECT_EQ(WaitForSingleObject(hMutex, 0), (DWORD)WAIT_OBJECT_0);
    ReleaseMutex(hMutex);
    CloseHandle(hMutex);
}

struct CounterArgs {
    HANDLE hMutex;
    volatile int *piCounter;
};

DWORD WINAPI CountUnderMutex(LPVOID pv)
{
    CounterArgs *pArgs = (CounterArgs *)pv;
    for (int i = 0; i < 2000; i++) {
        WaitForSingleObject(pArgs->hMutex, INFINITE);
        int iValue = *pArgs->piCounter;
        if ((i & 63) == 0)
            Sleep(0);
        *pArgs->piCounter = iValue + 1;
        ReleaseMutex(pArgs->hMutex);
    }
    return 0;
}

TEST(KernelMutex, ExcludesOtherThreads)
{
    volatile int iCounter = 0;
    CounterArgs args = {CreateMutexA(nullptr, FALSE, nullptr), &iCounter};
    HANDLE ahThreads[4];
    for (HANDLE &h : ahThreads)
        h = CreateThread(nullptr, 0, CountUnderMutex, &args, 0, nullptr);
    EXPECT_EQ(WaitForMultipleObjects(4, ahThreads, TRUE, INFINITE), (DWORD)WAIT_OBJECT_0);
    for (HANDLE h : ahThreads)
        CloseHandle(h);
    CloseHandle(args.hMutex);
    EXPECT_EQ(iCounter, 8000);
}

// ---- The clock ----

TEST(KernelClock, ConvertsSimulatedToRealTime)
{
    dorvetest::ClockRate fast(100.0);
    EXPECT_EQ(DorveClockToRealMs(0), 0u);
    EXPECT_EQ(DorveClockToRealMs(1), 1u);
    EXPECT_EQ(DorveClockToRealMs(1000), 10u);
    EXPECT_EQ(DorveClockToRealMs(300000), 3000u);
    EXPECT_EQ(DorveClockToRealMs(INFINITE), INFINITE);
    DorveClockSetRate(0.0);  // refused
    EXPECT_EQ(DorveClockGetRate(), 100.0);
}

TEST(KernelClock, StaysMonotonicAcrossRateChanges)
{
    double oldRate = DorveClockGetRate();
    uint64_t t0 = DorveClockNowMs();
    DorveClockSetRate(1000.0);
    Sleep(2000);
    uint64_t t1 = DorveClockNowMs();
    DorveClockSetRate(1.0);
    uint64_t t2 = DorveClockNowMs();
    DorveClockSetRate(oldRate);
    EXPECT_GE(t1 - t0, 2000u);
    EXPECT_GE(t2, t1);
}

TEST(KernelClock, LongWaitsPassFastOnASpedUpClock)
{
    dorvetest::ClockRate fast(1000.0);
    HANDLE hEvent = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    Clock::time_point realStart = Clock::now();
    uint64_t simStart = DorveClockNowMs();
    DWORD dwTickStart = GetTickCount();

    EXPECT_EQ(WaitForSingleObject(hEvent, 300000), (DWORD)WAIT_TIMEOUT);
    // A time-out never fires early on the simulated clock.
    EXPECT_GE(DorveClockNowMs() - simStart, 300000u);
    EXPECT_GE(GetTickCount() - dwTickStart, 300000u);
    HANDLE pair[2] = {hEvent, hEvent};
    simStart = DorveClockNowMs();
    EXPECT_EQ(WaitForMultipleObjects(2, pair, FALSE, 60000), (DWORD)WAIT_TIMEOUT);
    EXPECT_GE(DorveClockNowMs() - simStart, 60000u);
    simStart = DorveClockNowMs();
    Sleep(120000);
    EXPECT_GE(DorveClockNowMs() - simStart, 120000u);
    // 480 simulated seconds; far less than that in real time.
    EXPECT_LT(RealMsSince(realStart), 60000);
    CloseHandle(hEvent);
}

TEST(KernelClock, RateComesFromTheEnvironment)
{
    const char *pszExpect = getenv("DORVE_KERNEL_TEST_EXPECT_RATE");
    if (pszExpect != nullptr) {
        EXPECT_EQ(DorveClockGetRate(), strtod(pszExpect, nullptr));
        return;
    }
    char szSelf[4096];
    ssize_t cch = readlink("/proc/self/exe", szSelf, sizeof(szSelf) - 1);
    if (cch <= 0)
        GTEST_SKIP() << "no path to this program";
    szSelf[cch] = '\0';
    std::string strFilter = "--gtest_filter=KernelClock.RateComesFromTheEnvironment";
    char *argv[] = {szSelf, &strFilter[0], nullptr};
    std::string strRate = "DORVE_CLOCK_RATE=250";
    std::string strExpect = "DORVE_KERNEL_TEST_EXPECT_RATE=250";
    char *envp[] = {&strRate[0], &strExpect[0], nullptr};
    pid_t pid;
    if (posix_spawn(&pid, szSelf, nullptr, nullptr, argv, envp) != 0)
        GTEST_SKIP() << "cannot start this program again";
    int status = 0;
    ASSERT_EQ(waitpid(pid, &status, 0), pid);
    if (WIFEXITED(status) && WEXITSTATUS(status) == 127)
        GTEST_SKIP() << "cannot run this program again here";
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
}

// ---- Strings ----

#define EXPECT_WSPRINTF(expected, ...)                                   \
    do {                                                                 \
        char szOut_[1100];                                               \
        memset(szOut_, 'Z', sizeof(szOut_));                             \
        int cch_ = wsprintfA(szOut_, __VA_ARGS__);                       \
        EXPECT_STREQ(szOut_, expected) << #__VA_ARGS__;                  \
        EXPECT_EQ(cch_, (int)strlen(expected)) << #__VA_ARGS__;          \
    } while (0)

TEST(KernelStrings, WsprintfFormats)
{
    LONG lMinus = -123456;
    DWORD dwAll = 0xFFFFFFFFu;
    EXPECT_WSPRINTF("-5", "%d", -5);
    EXPECT_WSPRINTF("7 8", "%i %u", 7, 8u);
    EXPECT_WSPRINTF("-123456", "%ld", lMinus);
    EXPECT_WSPRINTF("-1 4294967295", "%ld %lu", (LONG)-1, dwAll);
    EXPECT_WSPRINTF("ffffffff", "%lx", (LONG)-1);
    EXPECT_WSPRINTF("4294967295", "%u", -1);
    EXPECT_WSPRINTF("000000ab", "%08lx", (DWORD)0xab);
    EXPECT_WSPRINTF("1234abcd", "%08lx", (DWORD)0x1234abcd);
    EXPECT_WSPRINTF("05 1ff", "%02x %02x", 5, 0x1ff);
    EXPECT_WSPRINTF("BEEF beef", "%X %x", 0xbeef, 0xbeef);
    EXPECT_WSPRINTF("0xff 0XFF 0", "%#x %#X %#x", 255, 255, 0);
    EXPECT_WSPRINTF("   42|42   |", "%5d|%-5d|", 42, 42);
    EXPECT_WSPRINTF("-0042", "%05d", -42);
    EXPECT_WSPRINTF("-42  ", "%-05d", -42);
    EXPECT_WSPRINTF("007", "%.3d", 7);
    EXPECT_WSPRINTF("abc|ab|  abc|abc  |", "%s|%.2s|%5s|%-5s|", "abc", "abc", "abc", "abc");
    EXPECT_WSPRINTF("(null)", "%s", (const char *)nullptr);
    EXPECT_WSPRINTF("A-B", "%c-%c", 'A', 'B');
    EXPECT_WSPRINTF("100%", "%d%%", 100);
    EXPECT_WSPRINTF("GetStatus: pr_status = 10 and pr_acceptmask = 00000001",
                    "GetStatus: pr_status = %02x and pr_acceptmask = %08lx", (unsigned char)0x10, (DWORD)1);
    EXPECT_WSPRINTF("plain text", "plain text");
    EXPECT_WSPRINTF("-32768", "%hd", 0x18000);
}

TEST(KernelStrings, WsprintfStopsAtTheWindowsLimit)
{
    std::string strLong(2000, 'x');
    std::string strOut(1100, 'Z');
    int cch = wsprintfA(&strOut[0], "%s", strLong.c_str());
    EXPECT_EQ(cch, 1023);
    EXPECT_EQ(strlen(strOut.c_str()), 1023u);
}

TEST(KernelStrings, LstrcpynCutsAndTerminates)
{
    struct Case {
        const char *pszSource;
        int iMax;
        const char *pszExpected;
    } cases[] = {
        {"abcdef", 4, "abc"}, {"abc", 4, "abc"}, {"abcd", 4, "abc"}, {"abc", 1, ""}, {"", 5, ""},
    };
    for (const Case &c : cases) {
        char szBuf[16];
        memset(szBuf, 'Z', sizeof(szBuf));
        EXPECT_EQ(lstrcpynA(szBuf, c.pszSource, c.iMax), szBuf);
        EXPECT_STREQ(szBuf, c.pszExpected) << c.pszSource << " " << c.iMax;
        EXPECT_EQ(szBuf[strlen(c.pszExpected) + 1], 'Z') << "wrote past the terminator";
    }
    char szUntouched[4] = "xyz";
    lstrcpynA(szUntouched, "abc", 0);
    EXPECT_STREQ(szUntouched, "xyz");
}

TEST(KernelStrings, CompareCopyConcatLength)
{
    EXPECT_EQ(lstrcmpiA("Dorve Port", "DORVE PORT"), 0);
    EXPECT_LT(lstrcmpiA("abc", "ABD"), 0);
    EXPECT_GT(lstrcmpiA("abd", "ABC"), 0);
    EXPECT_LT(lstrcmpiA("ab", "abc"), 0);
    EXPECT_EQ(lstrcmpA("Port1", "Port1"), 0);
    EXPECT_NE(lstrcmpA("Port1", "port1"), 0);
    EXPECT_LT(lstrcmpA("Port1", "Port2"), 0);
    EXPECT_GT(lstrcmpA("Port10", "Port1"), 0);

    char szBuf[32];
    EXPECT_EQ(lstrcpyA(szBuf, "ZUV"), szBuf);
    EXPECT_EQ(lstrcatA(szBuf, " Port"), szBuf);
    EXPECT_STREQ(szBuf, "ZUV Port");
    EXPECT_EQ(lstrlenA(szBuf), 8);
    EXPECT_EQ(lstrlenA(nullptr), 0);
}
