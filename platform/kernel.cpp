// Kernel objects of the host layer: threads, mutexes and events in one
// handle space, the waits on them, the per-thread last error, and the
// layer's clock that every timeout runs on.
#include <windows.h>

#include "dorve/clock.h"
#include "dorve/kernel_host.h"

#include <pthread.h>
#include <sched.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cmath>
#include <condition_variable>
#include <cstdlib>
#include <map>
#include <memory>
#include <mutex>
#include <string>

namespace {

// ---- Clock ----

using RealClock = std::chrono::steady_clock;

struct ClockState {
    std::mutex lock;
    RealClock::time_point realBase;
    double simBaseMs;
    double rate;
};

double RateFromEnvironment()
{
    const char *pszRate = getenv("DORVE_CLOCK_RATE");
    if (pszRate == nullptr || *pszRate == '\0')
        return 1.0;
    char *pszEnd = nullptr;
    double rate = strtod(pszRate, &pszEnd);
    if (pszEnd == pszRate || !std::isfinite(rate) || rate <= 0.0)
        return 1.0;
    return rate;
}

ClockState &TheClock()
{
    static ClockState *pClock = [] {
        ClockState *p = new ClockState;
        p->realBase = RealClock::now();
        p->simBaseMs = 0.0;
        p->rate = RateFromEnvironment();
        return p;
    }();
    return *pClock;
}

double SimNowMsLocked(ClockState &clock, RealClock::time_point realNow)
{
    double realMs = std::chrono::duration<double, std::milli>(realNow - clock.realBase).count();
    return clock.simBaseMs + realMs * clock.rate;
}

// A real-time deadline for a wait of `dwMilliseconds` simulated ms.
RealClock::time_point DeadlineAfter(DWORD dwMilliseconds)
{
    return RealClock::now() + std::chrono::milliseconds(DorveClockToRealMs(dwMilliseconds));
}

// ---- Kernel objects ----

enum ObjectType { OBJ_THREAD, OBJ_MUTEX, OBJ_EVENT };

struct KObject {
    ObjectType type;
    std::string strName;
    // thread
    bool bEnded = false;
    DWORD dwExitCode = STILL_ACTIVE;
    DWORD dwThreadId = 0;
    DWORD dwSuspendCount = 0;
    LPTHREAD_START_ROUTINE lpfnStart = nullptr;
    LPVOID lpParameter = nullptr;
    // mutex
    DWORD dwOwner = 0;
    DWORD dwRecursion = 0;
    bool bAbandoned = false;
    // event
    bool bManualReset = false;
    bool bSignalled = false;
};

using KRef = std::shared_ptr<KObject>;

struct KernelState {
    std::mutex lock;
    std::condition_variable changed;
    std::map<uintptr_t, KRef> handles;
    std::map<std::string, std::weak_ptr<KObject>> names;  // "M:" or "E:" + name
    uintptr_t nextHandle = 0x1000;
};

KernelState &Kernel()
{
    // Never destroyed: detached threads may still end while the process exits.
    static KernelState *pState = new KernelState;
    return *pState;
}

thread_local DWORD tlsLastError = 0;
thread_local DWORD tlsThreadId = 0;
std::atomic<DWORD> gNextThreadId{0x100};

DWORD CurrentThreadId()
{
    if (tlsThreadId == 0)
        tlsThreadId = gNextThreadId.fetch_add(4);
    return tlsThreadId;
}

HANDLE NewHandleLocked(KernelState &k, const KRef &obj)
{
    uintptr_t h = k.nextHandle;
    k.nextHandle += 4;
    if (k.nextHandle == 0 || k.nextHandle == (uintptr_t)-1 || k.nextHandle >= (uintptr_t)-8)
        k.nextHandle = 0x1000;
    while (k.handles.count(h) != 0)
        h += 4;
    k.handles[h] = obj;
    return (HANDLE)h;
}

KRef LookupLocked(KernelState &k, HANDLE h)
{
    auto it = k.handles.find((uintptr_t)h);
    return it == k.handles.end() ? KRef() : it->second;
}

bool IsSignalledLocked(const KObject &obj, DWORD dwSelf)
{
    switch (obj.type) {
    case OBJ_THREAD: return obj.bEnded;
    case OBJ_MUTEX: return obj.dwOwner == 0 || obj.dwOwner == dwSelf;
    case OBJ_EVENT: return obj.bSignalled;
    }
    return false;
}

// Takes what a satisfied wait takes; true when it was an abandoned mutex.
bool AcquireLocked(KObject &obj, DWORD dwSelf)
{
    if (obj.type == OBJ_EVENT && !obj.bManualReset)
        obj.bSignalled = false;
    if (obj.type != OBJ_MUTEX)
        return false;
    obj.dwOwner = dwSelf;
    obj.dwRecursion++;
    bool bWasAbandoned = obj.bAbandoned;
    obj.bAbandoned = false;
    return bWasAbandoned;
}

// A mutex whose owner ended unreleased goes to the next waiter as abandoned.
void AbandonMutexesLocked(KernelState &k, DWORD dwThreadId)
{
    for (auto &entry : k.handles) {
        KObject &obj = *entry.second;
        if (obj.type == OBJ_MUTEX && obj.dwOwner == dwThreadId) {
            obj.dwOwner = 0;
            obj.dwRecursion = 0;
            obj.bAbandoned = true;
        }
    }
}

struct ThreadStart {
    KRef obj;
};

void *ThreadMain(void *pv)
{
    ThreadStart *pStart = static_cast<ThreadStart *>(pv);
    KRef obj = std::move(pStart->obj);
    delete pStart;
    KernelState &k = Kernel();
    {
        std::unique_lock<std::mutex> guard(k.lock);
        tlsThreadId = obj->dwThreadId;
        k.changed.wait(guard, [&] { return obj->dwSuspendCount == 0; });
    }
    DWORD dwExit = obj->lpfnStart(obj->lpParameter);
    {
        std::lock_guard<std::mutex> guard(k.lock);
        obj->dwExitCode = dwExit;
        obj->bEnded = true;
        AbandonMutexesLocked(k, obj->dwThreadId);
    }
    k.changed.notify_all();
    return nullptr;
}

// Creates a mutex or an event, sharing a named one that already exists.
HANDLE CreateSyncObject(ObjectType type, LPCSTR lpName, bool bManualReset, bool bInitial)
{
    KernelState &k = Kernel();
    std::lock_guard<std::mutex> guard(k.lock);
    std::string strKey;
    if (lpName != nullptr && *lpName != '\0') {
        strKey = std::string(type == OBJ_MUTEX ? "M:" : "E:") + lpName;
        auto it = k.names.find(strKey);
        if (it != k.names.end()) {
            KRef existing = it->second.lock();
            if (existing) {
                SetLastError(ERROR_ALREADY_EXISTS);
                return NewHandleLocked(k, existing);
            }
            k.names.erase(it);
        }
    }
    KRef obj = std::make_shared<KObject>();
    obj->type = type;
    obj->strName = strKey;
    obj->bManualReset = bManualReset;
    obj->bSignalled = (type == OBJ_EVENT) && bInitial;
    if (type == OBJ_MUTEX && bInitial) {
        obj->dwOwner = CurrentThreadId();
        obj->dwRecursion = 1;
    }
    if (!strKey.empty())
        k.names[strKey] = obj;
    SetLastError(ERROR_SUCCESS);
    return NewHandleLocked(k, obj);
}

KRef LookupTyped(HANDLE h, ObjectType type, KernelState &k)
{
    KRef obj = LookupLocked(k, h);
    if (!obj || obj->type != type)
        return KRef();
    return obj;
}

} // namespace

// ---- Clock ----

void DorveClockSetRate(double rate)
{
    if (!std::isfinite(rate) || rate <= 0.0)
        return;
    ClockState &clock = TheClock();
    std::lock_guard<std::mutex> guard(clock.lock);
    RealClock::time_point realNow = RealClock::now();
    clock.simBaseMs = SimNowMsLocked(clock, realNow);
    clock.realBase = realNow;
    clock.rate = rate;
}

double DorveClockGetRate(void)
{
    ClockState &clock = TheClock();
    std::lock_guard<std::mutex> guard(clock.lock);
    return clock.rate;
}

uint64_t DorveClockNowMs(void)
{
    ClockState &clock = TheClock();
    std::lock_guard<std::mutex> guard(clock.lock);
    return (uint64_t)SimNowMsLocked(clock, RealClock::now());
}

DWORD DorveClockToRealMs(DWORD simulatedMs)
{
    if (simulatedMs == 0 || simulatedMs == INFINITE)
        return simulatedMs;
    double realMs = std::ceil((double)simulatedMs / DorveClockGetRate());
    if (realMs < 1.0)
        return 1;
    if (realMs >= (double)(INFINITE - 1))
        return INFINITE - 1;
    return (DWORD)realMs;
}

// ---- Last error, time, identity ----

DWORD WINAPI GetLastError(void) { return tlsLastError; }

void WINAPI SetLastError(DWORD dwErrCode) { tlsLastError = dwErrCode; }

DWORD WINAPI GetTickCount(void) { return (DWORD)DorveClockNowMs(); }

DWORD WINAPI GetCurrentThreadId(void) { return CurrentThreadId(); }

DWORD WINAPI GetCurrentProcessId(void) { return (DWORD)getpid(); }

void WINAPI Sleep(DWORD dwMilliseconds)
{
    if (dwMilliseconds == 0) {
        sched_yield();
        return;
    }
    if (dwMilliseconds == INFINITE) {
        for (;;)
            pause();
    }
    RealClock::time_point deadline = DeadlineAfter(dwMilliseconds);
    std::mutex m;
    std::unique_lock<std::mutex> guard(m);
    std::condition_variable never;
    while (RealClock::now() < deadline)
        never.wait_until(guard, deadline);
}

// ---- Threads ----

HANDLE WINAPI CreateThread(LPSECURITY_ATTRIBUTES lpThreadAttributes, DWORD dwStackSize,
                           LPTHREAD_START_ROUTINE lpStartAddress, LPVOID lpParameter,
                           DWORD dwCreationFlags, LPDWORD lpThreadId)
{
    if (lpStartAddress == nullptr) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return nullptr;
    }
    KRef obj = std::make_shared<KObject>();
    obj->type = OBJ_THREAD;
    obj->lpfnStart = lpStartAddress;
    obj->lpParameter = lpParameter;
    obj->dwThreadId = gNextThreadId.fetch_add(4);
    obj->dwSuspendCount = (dwCreationFlags & CREATE_SUSPENDED) ? 1 : 0;

    pthread_attr_t attr;
    pthread_attr_init(&attr);
    pthread_attr_setdetachstate(&attr, PTHREAD_CREATE_DETACHED);
    if (dwStackSize != 0) {
        size_t cbStack = dwStackSize < 65536 ? 65536 : dwStackSize;
        pthread_attr_setstacksize(&attr, cbStack);
    }
    KernelState &k = Kernel();
    HANDLE hThread;
    {
        std::lock_guard<std::mutex> guard(k.lock);
        hThread = NewHandleLocked(k, obj);
    }
    ThreadStart *pStart = new ThreadStart{obj};
    pthread_t tid;
    int rc = pthread_create(&tid, &attr, ThreadMain, pStart);
    pthread_attr_destroy(&attr);
    if (rc != 0) {
        delete pStart;
        std::lock_guard<std::mutex> guard(k.lock);
        k.handles.erase((uintptr_t)hThread);
        SetLastError(ERROR_NOT_ENOUGH_MEMORY);
        return nullptr;
    }
    if (lpThreadId != nullptr)
        *lpThreadId = obj->dwThreadId;
    return hThread;
}

DWORD WINAPI ResumeThread(HANDLE hThread)
{
    KernelState &k = Kernel();
    DWORD dwPrevious;
    {
        std::lock_guard<std::mutex> guard(k.lock);
        KRef obj = LookupTyped(hThread, OBJ_THREAD, k);
        if (!obj) {
            SetLastError(ERROR_INVALID_HANDLE);
            return (DWORD)-1;
        }
        dwPrevious = obj->dwSuspendCount;
        if (obj->dwSuspendCount > 0)
            obj->dwSuspendCount--;
    }
    k.changed.notify_all();
    return dwPrevious;
}

BOOL WINAPI GetExitCodeThread(HANDLE hThread, LPDWORD lpExitCode)
{
    KernelState &k = Kernel();
    std::lock_guard<std::mutex> guard(k.lock);
    KRef obj = LookupTyped(hThread, OBJ_THREAD, k);
    if (!obj || lpExitCode == nullptr) {
        SetLastError(obj ? ERROR_INVALID_PARAMETER : ERROR_INVALID_HANDLE);
        return FALSE;
    }
    *lpExitCode = obj->bEnded ? obj->dwExitCode : STILL_ACTIVE;
    return TRUE;
}

// ---- Mutexes and events ----

HANDLE WINAPI CreateMutexA(LPSECURITY_ATTRIBUTES lpMutexAttributes, BOOL bInitialOwner, LPCSTR lpName)
{
    return CreateSyncObject(OBJ_MUTEX, lpName, false, bInitialOwner != FALSE);
}

BOOL WINAPI ReleaseMutex(HANDLE hMutex)
{
    KernelState &k = Kernel();
    {
        std::lock_guard<std::mutex> guard(k.lock);
        KRef obj = LookupTyped(hMutex, OBJ_MUTEX, k);
        if (!obj) {
            SetLastError(ERROR_INVALID_HANDLE);
            return FALSE;
        }
        if (obj->dwOwner != CurrentThreadId() || obj->dwRecursion == 0) {
            SetLastError(ERROR_NOT_OWNER);
            return FALSE;
        }
        if (--obj->dwRecursion == 0)
            obj->dwOwner = 0;
    }
    k.changed.notify_all();
    return TRUE;
}

HANDLE WINAPI CreateEventA(LPSECURITY_ATTRIBUTES lpEventAttributes, BOOL bManualReset, BOOL bInitialState,
                           LPCSTR lpName)
{
    return CreateSyncObject(OBJ_EVENT, lpName, bManualReset != FALSE, bInitialState != FALSE);
}

static BOOL SetEventState(HANDLE hEvent, bool bSignalled)
{
    KernelState &k = Kernel();
    {
        std::lock_guard<std::mutex> guard(k.lock);
        KRef obj = LookupTyped(hEvent, OBJ_EVENT, k);
        if (!obj) {
            SetLastError(ERROR_INVALID_HANDLE);
            return FALSE;
        }
        obj->bSignalled = bSignalled;
    }
    if (bSignalled)
        k.changed.notify_all();
    return TRUE;
}

BOOL WINAPI SetEvent(HANDLE hEvent) { return SetEventState(hEvent, true); }

BOOL WINAPI ResetEvent(HANDLE hEvent) { return SetEventState(hEvent, false); }

BOOL WINAPI CloseHandle(HANDLE hObject)
{
    KRef obj;  // released outside the lock
    KernelState &k = Kernel();
    std::lock_guard<std::mutex> guard(k.lock);
    auto it = k.handles.find((uintptr_t)hObject);
    if (it == k.handles.end()) {
        SetLastError(ERROR_INVALID_HANDLE);
        return FALSE;
    }
    obj = std::move(it->second);
    k.handles.erase(it);
    return TRUE;
}

// ---- Waits ----

DWORD WINAPI WaitForMultipleObjects(DWORD nCount, CONST HANDLE *lpHandles, BOOL bWaitAll,
                                    DWORD dwMilliseconds)
{
    if (nCount == 0 || nCount > MAXIMUM_WAIT_OBJECTS || lpHandles == nullptr) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return WAIT_FAILED;
    }
    RealClock::time_point deadline = DeadlineAfter(dwMilliseconds == INFINITE ? 0 : dwMilliseconds);
    KernelState &k = Kernel();
    DWORD dwSelf = CurrentThreadId();
    std::unique_lock<std::mutex> guard(k.lock);
    KRef objects[MAXIMUM_WAIT_OBJECTS];
    for (DWORD i = 0; i < nCount; i++) {
        objects[i] = LookupLocked(k, lpHandles[i]);
        if (!objects[i]) {
            SetLastError(ERROR_INVALID_HANDLE);
            return WAIT_FAILED;
        }
    }
    for (;;) {
        if (bWaitAll) {
            bool bAll = true;
            for (DWORD i = 0; i < nCount && bAll; i++)
                bAll = IsSignalledLocked(*objects[i], dwSelf);
            if (bAll) {
                DWORD dwResult = WAIT_OBJECT_0;
                for (DWORD i = 0; i < nCount; i++) {
                    if (AcquireLocked(*objects[i], dwSelf))
                        dwResult = WAIT_ABANDONED_0 + i;
                }
                return dwResult;
            }
        } else {
            for (DWORD i = 0; i < nCount; i++) {
                if (IsSignalledLocked(*objects[i], dwSelf))
                    return AcquireLocked(*objects[i], dwSelf) ? WAIT_ABANDONED_0 + i : WAIT_OBJECT_0 + i;
            }
        }
        if (dwMilliseconds == INFINITE) {
            k.changed.wait(guard);
        } else {
            if (RealClock::now() >= deadline)
                return WAIT_TIMEOUT;
            k.changed.wait_until(guard, deadline);
        }
    }
}

DWORD WINAPI WaitForSingleObject(HANDLE hHandle, DWORD dwMilliseconds)
{
    return WaitForMultipleObjects(1, &hHandle, FALSE, dwMilliseconds);
}

// ---- Host hooks ----

DWORD DorveKernelHandleCount(void)
{
    KernelState &k = Kernel();
    std::lock_guard<std::mutex> guard(k.lock);
    return (DWORD)k.handles.size();
}
