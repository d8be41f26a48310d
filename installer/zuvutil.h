/* ZUVUTIL: registers the port monitor with the spooler and removes it. */
#ifndef ZUVUTIL_H
#define ZUVUTIL_H

#include <windows.h>

#ifdef __cplusplus
extern "C" {
#endif

DWORD WINAPI Add95Monitor(DWORD dwArg1, DWORD dwArg2, DWORD dwArg3);
DWORD WINAPI AddZUVPort(HWND hWnd, DWORD dwArg2, DWORD dwArg3);
DWORD WINAPI DeleteZUVMonitor(HWND hWnd, DWORD dwArg2, DWORD dwArg3);
DWORD WINAPI IsZUVMonitorRunning(DWORD dwArg);
DWORD WINAPI KillZUVMonitor(DWORD dwArg);
DWORD WINAPI AddNTMonitor(DWORD dwArg1, DWORD dwArg2, DWORD dwArg3);

#ifdef __cplusplus
}
#endif

#endif
