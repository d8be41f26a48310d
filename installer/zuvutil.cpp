/* ZUVUTIL: the installer utility.  It works only through the spooler's
   WINSPOOL functions and one registry value, and keeps no state. */
#include <windows.h>
#include <winspool.h>
#include <stdlib.h>
#include <string.h>

#include "zuvutil.h"

#define ZUV_MONITOR_REG_NAME "Dorve Port"
#define ZUV_MONITOR_ENV      "Windows 4.0"
#define ZUV_MONITOR_DLL      "DORVEMON.DLL"
#define ZUV_PORT_MONITOR     "Dorve Print Monitor"
#define ZUV_INSTALLED_KEY    "System\\CurrentControlSet\\control\\InstalledFiles"

static const BYTE gabInstalledValue[2] = { 0x0E, 0x00 };

BOOL WINAPI DllMain(HINSTANCE hinstDLL, DWORD fdwReason, LPVOID lpvReserved)
{
    return TRUE;
}

/* Registers the monitor for pEnvironment, then records the installed file. */
static DWORD AddMonitorFor(LPSTR pEnvironment)
{
    MONITOR_INFO_2A mi;
    HKEY hKey;
    LONG lResult;

    mi.pName = (LPSTR)ZUV_MONITOR_REG_NAME;
    mi.pEnvironment = pEnvironment;
    mi.pDLLName = (LPSTR)ZUV_MONITOR_DLL;
    if (!AddMonitorA(NULL, 2, (LPBYTE)&mi))
        return 1;

    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, ZUV_INSTALLED_KEY, 0, KEY_SET_VALUE, &hKey) != ERROR_SUCCESS)
        return 1;
    lResult = RegSetValueExA(hKey, ZUV_MONITOR_DLL, 0, REG_BINARY, gabInstalledValue,
                             sizeof(gabInstalledValue));
    RegCloseKey(hKey);
    if (lResult != ERROR_SUCCESS) {
        SetLastError((DWORD)lResult);
        return 1;
    }
    return 0;
}

DWORD WINAPI Add95Monitor(DWORD dwArg1, DWORD dwArg2, DWORD dwArg3)
{
    return AddMonitorFor((LPSTR)ZUV_MONITOR_ENV);
}

DWORD WINAPI AddNTMonitor(DWORD dwArg1, DWORD dwArg2, DWORD dwArg3)
{
    return AddMonitorFor(NULL);
}

DWORD WINAPI AddZUVPort(HWND hWnd, DWORD dwArg2, DWORD dwArg3)
{
    return AddPortA(NULL, hWnd, (LPSTR)ZUV_MONITOR_REG_NAME) ? 0 : 1;
}

static BOOL IsMonitorsPort(const PORT_INFO_2A *pInfo)
{
    return pInfo->pMonitorName != NULL &&
           (strcmp(pInfo->pMonitorName, ZUV_PORT_MONITOR) == 0 ||
            strcmp(pInfo->pMonitorName, ZUV_MONITOR_REG_NAME) == 0);
}

/* Deletes every port of the monitor in the spooler's order; FALSE when the
   spooler refused one (the walk stops there). */
static BOOL DeleteMonitorsPorts(HWND hWnd)
{
    DWORD cbNeeded = 0, cReturned = 0, i;
    PORT_INFO_2A *pPorts;
    BOOL bOk = TRUE;

    EnumPortsA(NULL, 2, NULL, 0, &cbNeeded, &cReturned);
    if (GetLastError() != ERROR_INSUFFICIENT_BUFFER || cbNeeded == 0)
        return TRUE;
    pPorts = (PORT_INFO_2A *)malloc(cbNeeded);
    if (pPorts == NULL)
        return TRUE;
    if (EnumPortsA(NULL, 2, (LPBYTE)pPorts, cbNeeded, &cbNeeded, &cReturned)) {
        for (i = 0; i < cReturned && bOk; i++) {
            if (IsMonitorsPort(&pPorts[i]))
                bOk = DeletePortA(NULL, hWnd, pPorts[i].pPortName);
        }
    }
    free(pPorts);
    return bOk;
}

DWORD WINAPI DeleteZUVMonitor(HWND hWnd, DWORD dwArg2, DWORD dwArg3)
{
    HKEY hKey;
    LONG lResult;

    if (!DeleteMonitorsPorts(hWnd))
        return 1;
    if (!DeleteMonitorA(NULL, NULL, (LPSTR)ZUV_MONITOR_REG_NAME))
        return 1;

    lResult = RegOpenKeyExA(HKEY_LOCAL_MACHINE, ZUV_INSTALLED_KEY, 0, KEY_SET_VALUE, &hKey);
    if (lResult != ERROR_SUCCESS) {
        SetLastError((DWORD)lResult);
        return 1;
    }
    lResult = RegDeleteValueA(hKey, ZUV_MONITOR_DLL);
    RegCloseKey(hKey);
    if (lResult != ERROR_SUCCESS) {
        SetLastError((DWORD)lResult);
        return 1;
    }
    return 0;
}

DWORD WINAPI IsZUVMonitorRunning(DWORD dwArg)
{
    DWORD cbNeeded = 0, cReturned = 0, i;
    MONITOR_INFO_1A *pMonitors;
    DWORD dwResult = 0;

    EnumMonitorsA(NULL, 1, NULL, 0, &cbNeeded, &cReturned);
    if (cbNeeded == 0)
        return 0;
    pMonitors = (MONITOR_INFO_1A *)malloc(cbNeeded);
    if (pMonitors == NULL)
        return 0;
    if (EnumMonitorsA(NULL, 1, (LPBYTE)pMonitors, cbNeeded, &cbNeeded, &cReturned)) {
        for (i = 0; i < cReturned && dwResult == 0; i++) {
            if (pMonitors[i].pName != NULL && strcmp(pMonitors[i].pName, ZUV_MONITOR_REG_NAME) == 0)
                dwResult = 1;
        }
    }
    free(pMonitors);
    return dwResult;
}

DWORD WINAPI KillZUVMonitor(DWORD dwArg)
{
    return DeleteMonitorA(NULL, NULL, (LPSTR)ZUV_MONITOR_REG_NAME) ? 0 : 1;
}
