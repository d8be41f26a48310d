/* Kernel, string, module and resource services of the host layer (ANSI).
   Threads, mutexes and events share one handle space; every timeout runs
   on the layer's clock (dorve/clock.h). */
#ifndef DORVE_WINBASE_H
#define DORVE_WINBASE_H

#include <stdarg.h>
#include <string.h>

#include "windef.h"
#include "winerror.h"

#ifndef ERROR_NOT_OWNER
#define ERROR_NOT_OWNER 288L
#endif

typedef HANDLE HLOCAL;
typedef HANDLE HGLOBAL;
DORVE_DECLARE_HANDLE(HRSRC);

#define INVALID_HANDLE_VALUE ((HANDLE)(LONG_PTR)-1)
#define INFINITE 0xFFFFFFFFu

#define WAIT_OBJECT_0 0x00000000L
#define WAIT_ABANDONED 0x00000080L
#define WAIT_ABANDONED_0 0x00000080L
#define WAIT_FAILED ((DWORD)0xFFFFFFFF)
#define MAXIMUM_WAIT_OBJECTS 64

#define STILL_ACTIVE 259L

#define DLL_PROCESS_DETACH 0
#define DLL_PROCESS_ATTACH 1
#define DLL_THREAD_ATTACH 2
#define DLL_THREAD_DETACH 3

#define CREATE_SUSPENDED 0x00000004

#define FORMAT_MESSAGE_ALLOCATE_BUFFER 0x00000100
#define FORMAT_MESSAGE_IGNORE_INSERTS 0x00000200
#define FORMAT_MESSAGE_FROM_STRING 0x00000400
#define FORMAT_MESSAGE_FROM_HMODULE 0x00000800
#define FORMAT_MESSAGE_FROM_SYSTEM 0x00001000
#define FORMAT_MESSAGE_ARGUMENT_ARRAY 0x00002000
#define FORMAT_MESSAGE_MAX_WIDTH_MASK 0x000000FF

#ifndef MAKELANGID
#define MAKELANGID(p, s) ((((WORD)(s)) << 10) | (WORD)(p))
#endif
#ifndef LANG_NEUTRAL
#define LANG_NEUTRAL 0x00
#define LANG_ENGLISH 0x09
#define LANG_JAPANESE 0x11
#define SUBLANG_NEUTRAL 0x00
#define SUBLANG_DEFAULT 0x01
#define SUBLANG_ENGLISH_US 0x01
#endif

#define RT_DIALOG MAKEINTRESOURCE(5)
#define RT_STRING MAKEINTRESOURCE(6)
#define RT_MESSAGETABLE MAKEINTRESOURCE(11)

#define ZeroMemory(d, n) memset((d), 0, (n))
#define FillMemory(d, n, f) memset((d), (f), (n))
#define CopyMemory(d, s, n) memcpy((d), (s), (n))
#define MoveMemory(d, s, n) memmove((d), (s), (n))

typedef DWORD (WINAPI *PTHREAD_START_ROUTINE)(LPVOID lpThreadParameter);
typedef PTHREAD_START_ROUTINE LPTHREAD_START_ROUTINE;

typedef struct _COMMTIMEOUTS {
    DWORD ReadIntervalTimeout;
    DWORD ReadTotalTimeoutMultiplier;
    DWORD ReadTotalTimeoutConstant;
    DWORD WriteTotalTimeoutMultiplier;
    DWORD WriteTotalTimeoutConstant;
} COMMTIMEOUTS, *LPCOMMTIMEOUTS;

/* ---- Last error, time, threads ---- */
DORVE_API DWORD WINAPI GetLastError(void);
DORVE_API void WINAPI SetLastError(DWORD dwErrCode);
DORVE_API void WINAPI Sleep(DWORD dwMilliseconds);
DORVE_API DWORD WINAPI GetTickCount(void);
DORVE_API DWORD WINAPI GetCurrentThreadId(void);
DORVE_API DWORD WINAPI GetCurrentProcessId(void);
DORVE_API HANDLE WINAPI CreateThread(LPSECURITY_ATTRIBUTES lpThreadAttributes, DWORD dwStackSize,
                                     LPTHREAD_START_ROUTINE lpStartAddress, LPVOID lpParameter,
                                     DWORD dwCreationFlags, LPDWORD lpThreadId);
DORVE_API DWORD WINAPI ResumeThread(HANDLE hThread);
DORVE_API BOOL WINAPI GetExitCodeThread(HANDLE hThread, LPDWORD lpExitCode);

/* ---- Synchronisation ---- */
DORVE_API HANDLE WINAPI CreateMutexA(LPSECURITY_ATTRIBUTES lpMutexAttributes, BOOL bInitialOwner,
                                     LPCSTR lpName);
DORVE_API BOOL WINAPI ReleaseMutex(HANDLE hMutex);
DORVE_API HANDLE WINAPI CreateEventA(LPSECURITY_ATTRIBUTES lpEventAttributes, BOOL bManualReset,
                                     BOOL bInitialState, LPCSTR lpName);
DORVE_API BOOL WINAPI SetEvent(HANDLE hEvent);
DORVE_API BOOL WINAPI ResetEvent(HANDLE hEvent);
DORVE_API DWORD WINAPI WaitForSingleObject(HANDLE hHandle, DWORD dwMilliseconds);
DORVE_API DWORD WINAPI WaitForMultipleObjects(DWORD nCount, CONST HANDLE *lpHandles, BOOL bWaitAll,
                                              DWORD dwMilliseconds);
DORVE_API BOOL WINAPI CloseHandle(HANDLE hObject);

/* ---- Strings ---- */
DORVE_API int WINAPI lstrcmpA(LPCSTR lpString1, LPCSTR lpString2);
DORVE_API int WINAPI lstrcmpiA(LPCSTR lpString1, LPCSTR lpString2);
DORVE_API LPSTR WINAPI lstrcpynA(LPSTR lpString1, LPCSTR lpString2, int iMaxLength);
DORVE_API LPSTR WINAPI lstrcpyA(LPSTR lpString1, LPCSTR lpString2);
DORVE_API LPSTR WINAPI lstrcatA(LPSTR lpString1, LPCSTR lpString2);
DORVE_API int WINAPI lstrlenA(LPCSTR lpString);
DORVE_API int WINAPIV wsprintfA(LPSTR lpOut, LPCSTR lpFmt, ...);
DORVE_API int WINAPI wvsprintfA(LPSTR lpOut, LPCSTR lpFmt, va_list arglist);

/* ---- Modules, messages, resources (platform/loader.cpp, platform/resources.cpp) ---- */
DORVE_API HMODULE WINAPI LoadLibraryA(LPCSTR lpLibFileName);
DORVE_API FARPROC WINAPI GetProcAddress(HMODULE hModule, LPCSTR lpProcName);
DORVE_API BOOL WINAPI FreeLibrary(HMODULE hLibModule);
DORVE_API HMODULE WINAPI GetModuleHandleA(LPCSTR lpModuleName);
DORVE_API DWORD WINAPI GetModuleFileNameA(HMODULE hModule, LPSTR lpFilename, DWORD nSize);
DORVE_API DWORD WINAPI FormatMessageA(DWORD dwFlags, LPCVOID lpSource, DWORD dwMessageId,
                                      DWORD dwLanguageId, LPSTR lpBuffer, DWORD nSize,
                                      va_list *Arguments);
DORVE_API HLOCAL WINAPI LocalFree(HLOCAL hMem);
DORVE_API HRSRC WINAPI FindResourceA(HMODULE hModule, LPCSTR lpName, LPCSTR lpType);
DORVE_API HGLOBAL WINAPI LoadResource(HMODULE hModule, HRSRC hResInfo);
DORVE_API LPVOID WINAPI LockResource(HGLOBAL hResData);
DORVE_API DWORD WINAPI SizeofResource(HMODULE hModule, HRSRC hResInfo);

/* The ANSI build's undecorated names. */
#define CreateMutex CreateMutexA
#define CreateEvent CreateEventA
#define lstrcmp lstrcmpA
#define lstrcmpi lstrcmpiA
#define lstrcpyn lstrcpynA
#define lstrcpy lstrcpyA
#define lstrcat lstrcatA
#define lstrlen lstrlenA
#define wsprintf wsprintfA
#define wvsprintf wvsprintfA
#define LoadLibrary LoadLibraryA
#define GetModuleHandle GetModuleHandleA
#define GetModuleFileName GetModuleFileNameA
#define FormatMessage FormatMessageA
#define FindResource FindResourceA

#endif
