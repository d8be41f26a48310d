/* The port monitor table of the Windows 4.0 spooler: thirteen entries with
   ANSI strings.  Both builds take this header, so the host spooler model and
   the monitor agree on the table the monitor fills. */
#ifndef DORVE_WINSPLP95_H
#define DORVE_WINSPLP95_H

#include <windows.h>
#include <winspool.h>

#ifdef __cplusplus
extern "C" {
#endif

typedef struct _MONITOR {
    BOOL (WINAPI *pfnEnumPorts)(LPSTR pName, DWORD Level, LPBYTE pPorts,
                                DWORD cbBuf, LPDWORD pcbNeeded, LPDWORD pcReturned);
    BOOL (WINAPI *pfnOpenPort)(LPSTR pName, PHANDLE pHandle);
    BOOL (WINAPI *pfnOpenPortEx)(LPSTR pPortName, LPSTR pPrinterName,
                                 PHANDLE pHandle, struct _MONITOR *pMonitor);
    BOOL (WINAPI *pfnStartDocPort)(HANDLE hPort, LPSTR pPrinterName, DWORD JobId,
                                   DWORD Level, LPBYTE pDocInfo);
    BOOL (WINAPI *pfnWritePort)(HANDLE hPort, LPBYTE pBuffer, DWORD cbBuf,
                                LPDWORD pcbWritten);
    BOOL (WINAPI *pfnReadPort)(HANDLE hPort, LPBYTE pBuffer, DWORD cbBuffer,
                               LPDWORD pcbRead);
    BOOL (WINAPI *pfnEndDocPort)(HANDLE hPort);
    BOOL (WINAPI *pfnClosePort)(HANDLE hPort);
    BOOL (WINAPI *pfnAddPort)(LPSTR pName, HWND hWnd, LPSTR pMonitorName);
    BOOL (WINAPI *pfnConfigurePort)(LPSTR pName, HWND hWnd, LPSTR pPortName);
    BOOL (WINAPI *pfnDeletePort)(LPSTR pName, HWND hWnd, LPSTR pPortName);
    BOOL (WINAPI *pfnGetPrinterDataFromPort)(HANDLE hPort, DWORD ControlID,
                                             LPSTR pValueName, LPSTR lpInBuffer,
                                             DWORD cbInBuffer, LPSTR lpOutBuffer,
                                             DWORD cbOutBuffer, LPDWORD lpcbReturned);
    BOOL (WINAPI *pfnSetPortTimeOuts)(HANDLE hPort, LPCOMMTIMEOUTS lpCTO, DWORD reserved);
} MONITOR, *LPMONITOR;

typedef BOOL (WINAPI *PFN_INITIALIZEMONITOREX)(LPSTR pRegistryRoot, LPMONITOR pMonitor);

#ifdef __cplusplus
}
#endif

#endif
