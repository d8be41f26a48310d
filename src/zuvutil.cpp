/* DORVEMON: the monitor and port records, their registry store, name and
   address validation, the status thread, the spooler job services, start-up
   and the event sink. */
#include "zuvmon.h"

#include <stdlib.h>
#include <string.h>

PFN_ZUVEVENTHOOK gpfnZUVEventHook = NULL;

static char gszKeyClass[] = ZUV_KEY_CLASS;

/* Room for the Ports key path, a backslash, a 127-character name and a NUL. */
#define ZUV_KEYPATH_LEN 256

/* ==== Port list ==== */

LPZUVPort FindZUVPortInList(LPZUVMon lpZUVMon, LPCSTR pName)
{
    char szName[ZUV_NAME_LEN];
    DWORD i;

    if (lpZUVMon == NULL || pName == NULL)
        return NULL;
    lstrcpynA(szName, pName, ZUV_NAME_LEN);
    for (i = 0; i < lpZUVMon->dwPortCount; i++) {
        LPZUVPort lpZUVPort = lpZUVMon->lppPorts[i];
        if (lpZUVPort != NULL && lstrcmpA(lpZUVPort->szPortName, szName) == 0)
            return lpZUVPort;
    }
    return NULL;
}

BOOL AddZUVPort2List(LPZUVMon lpZUVMon, LPZUVPort lpZUVPort)
{
    LPZUVPort *lppNew;
    DWORD i;

    if (lpZUVMon == NULL || lpZUVPort == NULL)
        return FALSE;
    lppNew = (LPZUVPort *)malloc((lpZUVMon->dwPortCount + 1) * sizeof(LPZUVPort));
    if (lppNew == NULL)
        return FALSE;
    for (i = 0; i < lpZUVMon->dwPortCount; i++)
        lppNew[i] = lpZUVMon->lppPorts[i];
    lppNew[i] = lpZUVPort;
    free(lpZUVMon->lppPorts);
    lpZUVMon->lppPorts = lppNew;
    lpZUVMon->dwPortCount++;
    return TRUE;
}

/* A name that is not in the list fails and leaves the list as it was. */
BOOL DeleteZUVPortFromList(LPZUVMon lpZUVMon, LPCSTR pName)
{
    char szName[ZUV_NAME_LEN];
    LPZUVPort *lppNew;
    LPZUVPort lpVictim;
    DWORD i, j;

    if (lpZUVMon == NULL || pName == NULL || lpZUVMon->dwPortCount == 0)
        return FALSE;
    lstrcpynA(szName, pName, ZUV_NAME_LEN);
    lpVictim = FindZUVPortInList(lpZUVMon, szName);
    if (lpVictim == NULL)
        return FALSE;

    /* At least one slot, so that a list emptied here never depends on what
       malloc(0) returns. */
    lppNew = (LPZUVPort *)malloc((lpZUVMon->dwPortCount > 1 ? lpZUVMon->dwPortCount - 1 : 1) *
                                 sizeof(LPZUVPort));
    if (lppNew == NULL)
        return FALSE;
    for (i = 0, j = 0; i < lpZUVMon->dwPortCount; i++) {
        if (lpZUVMon->lppPorts[i] == lpVictim)
            lpZUVMon->lppPorts[i] = NULL;
        else
            lppNew[j++] = lpZUVMon->lppPorts[i];
    }
    free(lpVictim);
    free(lpZUVMon->lppPorts);
    lpZUVMon->lppPorts = lppNew;
    lpZUVMon->dwPortCount--;
    return TRUE;
}

/* ==== Registry store ==== */

static BOOL OpenStoreKey(LPCSTR pPath, PHKEY phKey)
{
    DWORD dwDisposition;

    return RegCreateKeyExA(HKEY_LOCAL_MACHINE, pPath, 0, gszKeyClass, REG_OPTION_NON_VOLATILE,
                           KEY_ALL_ACCESS, NULL, phKey, &dwDisposition) == ERROR_SUCCESS;
}

static BOOL CreateSubKey(HKEY hParent, LPCSTR pName, PHKEY phKey)
{
    DWORD dwDisposition;

    return RegCreateKeyExA(hParent, pName, 0, gszKeyClass, REG_OPTION_NON_VOLATILE,
                           KEY_ALL_ACCESS, NULL, phKey, &dwDisposition) == ERROR_SUCCESS;
}

/* A setting is read whatever its registry type: up to four bytes, little
   endian, over a zero field.  Missing or longer values give the default. */
static BOOL ReadDwordValue(HKEY hKey, LPCSTR pValueName, LPDWORD pdwField, DWORD dwDefault)
{
    BYTE abValue[4] = {0, 0, 0, 0};
    DWORD cbValue = sizeof(abValue);
    DWORD dwType;

    if (RegQueryValueExA(hKey, pValueName, NULL, &dwType, abValue, &cbValue) != ERROR_SUCCESS ||
        cbValue > sizeof(abValue)) {
        *pdwField = dwDefault;
        return FALSE;
    }
    *pdwField = (DWORD)abValue[0] | ((DWORD)abValue[1] << 8) | ((DWORD)abValue[2] << 16) |
                ((DWORD)abValue[3] << 24);
    return TRUE;
}

static BOOL WriteDwordValue(HKEY hKey, LPCSTR pValueName, DWORD dwValue)
{
    return RegSetValueExA(hKey, pValueName, 0, REG_DWORD, (const BYTE *)&dwValue,
                          sizeof(dwValue)) == ERROR_SUCCESS;
}

static void FormPortKeyPath(LPSTR pszPath, LPCSTR pName)
{
    char szName[ZUV_NAME_LEN];

    lstrcpynA(szName, pName, ZUV_NAME_LEN);
    wsprintfA(pszPath, "%s\\%s", ZUV_PORTS_KEY, szName);
}

BOOL ReadMonitorConfig(LPZUVMon lpZUVMon)
{
    HKEY hKey;

    if (!OpenStoreKey(ZUV_OPTIONS_KEY, &hKey))
        return FALSE;
    RegCloseKey(hKey);
    return TRUE;
}

BOOL LoadAutoDiscovery(LPZUVMon lpZUVMon)
{
    HKEY hKey;
    DWORD dwValue;

    if (!OpenStoreKey(ZUV_OPTIONS_KEY, &hKey))
        return TRUE;
    ReadDwordValue(hKey, "AutoEnable", &dwValue, 0);
    lpZUVMon->bAutoEnable = (BOOL)dwValue;
    RegCloseKey(hKey);
    return TRUE;
}

BOOL SetAutoDiscovery(LPZUVMon lpZUVMon)
{
    HKEY hKey;

    if (!OpenStoreKey(ZUV_OPTIONS_KEY, &hKey))
        return TRUE;
    WriteDwordValue(hKey, "AutoEnable", (DWORD)lpZUVMon->bAutoEnable);
    RegCloseKey(hKey);
    return TRUE;
}

BOOL LoadPortList(LPZUVMon lpZUVMon)
{
    HKEY hPortsKey;
    char szName[ZUV_NAME_LEN];
    DWORD dwIndex;
    LONG lResult;

    if (!OpenStoreKey(ZUV_PORTS_KEY, &hPortsKey))
        return FALSE;
    for (dwIndex = 0;; dwIndex++) {
        lResult = RegEnumKeyA(hPortsKey, dwIndex, szName, sizeof(szName));
        if (lResult == ERROR_SUCCESS)
            LoadZUVPort(lpZUVMon, hPortsKey, szName);
        else if (lResult != ERROR_MORE_DATA)
            break;  /* the end, or an error that the next index would repeat */
        /* ERROR_MORE_DATA: a key name too long to be a port; skip it. */
    }
    RegCloseKey(hPortsKey);
    return TRUE;
}

void SetZUVPortDefaults(LPZUVPort lpZUVPort)
{
    lpZUVPort->dwStsInterval = ZUV_DEF_STSINTERVAL;
    lpZUVPort->dwConnType = ZUV_DEF_CONNTYPE;
    lpZUVPort->dwStsTimeout = ZUV_DEF_STSTIMEOUT;
    lpZUVPort->dwSendTimeout = ZUV_DEF_SENDTIMEOUT;
    lpZUVPort->bDefErrors = ZUV_DEF_DEFERRORS;
    lpZUVPort->bDefWarnings = ZUV_DEF_DEFWARNINGS;
    lpZUVPort->bDefInfos = ZUV_DEF_DEFINFOS;
    lpZUVPort->bAudibleAlert = ZUV_DEF_AUDIBLEALERT;
    lpZUVPort->bTrapNotification = ZUV_DEF_TRAPNOTIFY;
}

static void ReadPortSettings(HKEY hKey, LPZUVPort lpZUVPort)
{
    ReadDwordValue(hKey, "StsInterval", &lpZUVPort->dwStsInterval, ZUV_DEF_STSINTERVAL);
    ReadDwordValue(hKey, "ConnType", &lpZUVPort->dwConnType, ZUV_DEF_CONNTYPE);
    ReadDwordValue(hKey, "StsTimeout", &lpZUVPort->dwStsTimeout, ZUV_DEF_STSTIMEOUT);
    ReadDwordValue(hKey, "SendTimeout", &lpZUVPort->dwSendTimeout, ZUV_DEF_SENDTIMEOUT);
    ReadDwordValue(hKey, "DefErrors", (LPDWORD)&lpZUVPort->bDefErrors, ZUV_DEF_DEFERRORS);
    ReadDwordValue(hKey, "DefWarnings", (LPDWORD)&lpZUVPort->bDefWarnings, ZUV_DEF_DEFWARNINGS);
    ReadDwordValue(hKey, "DefInfos", (LPDWORD)&lpZUVPort->bDefInfos, ZUV_DEF_DEFINFOS);
    ReadDwordValue(hKey, "AudibleAlert", (LPDWORD)&lpZUVPort->bAudibleAlert, ZUV_DEF_AUDIBLEALERT);
    ReadDwordValue(hKey, "TrapNotification", (LPDWORD)&lpZUVPort->bTrapNotification,
                   ZUV_DEF_TRAPNOTIFY);
}

BOOL LoadZUVPort(LPZUVMon lpZUVMon, HKEY hPortsKey, LPCSTR pName)
{
    LPZUVPort lpZUVPort;
    HKEY hKey;
    DWORD cbAddress = ZUV_NAME_LEN;
    DWORD dwType;
    BOOL bAdded;

    lpZUVPort = (LPZUVPort)calloc(1, sizeof(ZUVPort));
    if (lpZUVPort == NULL)
        return FALSE;
    lstrcpynA(lpZUVPort->szPortName, pName, ZUV_NAME_LEN);
    if (RegOpenKeyExA(hPortsKey, pName, 0, KEY_QUERY_VALUE, &hKey) != ERROR_SUCCESS) {
        free(lpZUVPort);
        return FALSE;
    }
    if (RegQueryValueExA(hKey, "IPAddress", NULL, &dwType, (LPBYTE)lpZUVPort->szIPAddress,
                         &cbAddress) != ERROR_SUCCESS || cbAddress > ZUV_NAME_LEN) {
        RegCloseKey(hKey);
        free(lpZUVPort);
        return FALSE;
    }
    /* A full 128-byte value need not carry its terminator. */
    lpZUVPort->szIPAddress[ZUV_NAME_LEN - 1] = '\0';
    ReadPortSettings(hKey, lpZUVPort);

    bAdded = AddZUVPort2List(lpZUVMon, lpZUVPort);
    if (!bAdded)
        free(lpZUVPort);
    RegCloseKey(hKey);
    return bAdded;
}

void AddAutoDiscoveredPort(LPZUVMon lpZUVMon, LPZUVPort lpZUVPort)
{
    HKEY hPortsKey, hKey;
    BOOL bStored;

    /* An empty name would make the Ports key itself the port's key. */
    if (lpZUVPort->szPortName[0] == '\0' || !OpenStoreKey(ZUV_PORTS_KEY, &hPortsKey)) {
        free(lpZUVPort);
        return;
    }
    if (!CreateSubKey(hPortsKey, lpZUVPort->szPortName, &hKey)) {
        free(lpZUVPort);
        RegCloseKey(hPortsKey);
        return;
    }
    bStored = RegSetValueExA(hKey, "IPAddress", 0, REG_SZ, (const BYTE *)lpZUVPort->szIPAddress,
                             (DWORD)lstrlenA(lpZUVPort->szIPAddress) + 1) == ERROR_SUCCESS;
    if (!bStored || !AddZUVPort2List(lpZUVMon, lpZUVPort))
        free(lpZUVPort);
    RegCloseKey(hKey);
    RegCloseKey(hPortsKey);
}

BOOL DeleteZUVPort(LPZUVMon lpZUVMon, LPCSTR pName)
{
    char szName[ZUV_NAME_LEN];
    char szPath[ZUV_KEYPATH_LEN];

    if (pName == NULL)
        return FALSE;
    lstrcpynA(szName, pName, ZUV_NAME_LEN);
    FormPortKeyPath(szPath, szName);
    if (RegDeleteKeyA(HKEY_LOCAL_MACHINE, szPath) != ERROR_SUCCESS)
        return FALSE;
    return DeleteZUVPortFromList(lpZUVMon, szName);
}

/* ==== Port name and address validation ==== */

typedef BOOL (WINAPI *PFN_ENUMPORTSA)(LPSTR pName, DWORD Level, LPBYTE pPorts, DWORD cbBuf,
                                      LPDWORD pcbNeeded, LPDWORD pcReturned);

static BOOL PortNameIsFree(LPPORT_INFO_1A lpPorts, DWORD cPorts, LPCSTR pPortName)
{
    char szName[ZUV_NAME_LEN];
    DWORD i;

    for (i = 0; i < cPorts; i++) {
        lstrcpynA(szName, lpPorts[i].pName != NULL ? lpPorts[i].pName : "", ZUV_NAME_LEN);
        if (lstrcmpiA(szName, pPortName) == 0)
            return FALSE;
    }
    return TRUE;
}

/* Any failure of the test itself counts as a taken name. */
BOOL PortOkay(LPCSTR pServerName, LPCSTR pPortName)
{
    HMODULE hSpoolss;
    PFN_ENUMPORTSA pfnEnumPorts;
    LPBYTE pBuffer;
    DWORD cbNeeded = 0, cReturned = 0;
    BOOL bResult;

    if (pPortName == NULL)
        return FALSE;
    hSpoolss = LoadLibraryA("SPOOLSS.DLL");
    if (hSpoolss == NULL)
        return FALSE;
    pfnEnumPorts = (PFN_ENUMPORTSA)(void (*)(void))GetProcAddress(hSpoolss, "EnumPortsA");
    if (pfnEnumPorts == NULL) {
        FreeLibrary(hSpoolss);
        return FALSE;
    }
    if (pfnEnumPorts((LPSTR)pServerName, 1, NULL, 0, &cbNeeded, &cReturned) ||
        GetLastError() != ERROR_INSUFFICIENT_BUFFER) {
        FreeLibrary(hSpoolss);
        return FALSE;
    }
    pBuffer = (LPBYTE)malloc(cbNeeded);
    if (pBuffer == NULL) {
        FreeLibrary(hSpoolss);
        return FALSE;
    }
    if (!pfnEnumPorts((LPSTR)pServerName, 1, pBuffer, cbNeeded, &cbNeeded, &cReturned)) {
        free(pBuffer);
        FreeLibrary(hSpoolss);
        return FALSE;
    }
    bResult = PortNameIsFree((LPPORT_INFO_1A)pBuffer, cReturned, pPortName);
    free(pBuffer);
    FreeLibrary(hSpoolss);
    return bResult;
}

BOOL AddrOkay(LPCSTR pAddress)
{
    if (pAddress == NULL)
        return FALSE;
    if (gethostbyname(pAddress) != NULL)
        return TRUE;
    return inet_addr(pAddress) != INADDR_NONE;
}

/* ==== Status thread ==== */

/* The thread's start block lives in StartStatusThread's frame, which does
   not return before the thread has made its first poll or has ended. */
typedef struct _StatusThreadParams {
    LPZUVMon lpZUVMon;
    LPZUVPort lpZUVPort;
} StatusThreadParams;

/* The longest wait that dwStsInterval can ask for without the milliseconds
   wrapping round (or becoming INFINITE). */
#define ZUV_MAX_INTERVAL_SECONDS (0xFFFFFFFEu / 1000u)

BOOL StartStatusThread(LPZUVMon lpZUVMon, LPZUVPort lpZUVPort)
{
    StatusThreadParams params;
    HANDLE ahWait[2];
    DWORD dwWait;

    if (!StartStatus(lpZUVMon, lpZUVPort))
        return FALSE;
    params.lpZUVMon = lpZUVMon;
    params.lpZUVPort = lpZUVPort;
    lpZUVPort->hStatusThread = CreateThread(NULL, 0, ProcessPortStatus, &params, 0,
                                            &lpZUVPort->dwStatusThreadId);
    if (lpZUVPort->hStatusThread == NULL) {
        EndStatus(lpZUVMon, lpZUVPort);
        return FALSE;
    }
    ahWait[0] = lpZUVPort->hStatusThread;
    ahWait[1] = lpZUVPort->hStatusReady;
    dwWait = WaitForMultipleObjects(2, ahWait, FALSE, INFINITE);
    if (dwWait == WAIT_OBJECT_0 + 1)
        return TRUE;

    if (dwWait != WAIT_OBJECT_0) {
        /* The wait itself failed while the thread may still run on our
           frame and the channel: stop it before either goes away. */
        SetEvent(lpZUVPort->hStopStatus);
        WaitForSingleObject(lpZUVPort->hStatusThread, INFINITE);
    }
    if (CloseHandle(lpZUVPort->hStatusThread))
        lpZUVPort->hStatusThread = NULL;
    EndStatus(lpZUVMon, lpZUVPort);
    return FALSE;
}

BOOL StopStatusThread(LPZUVMon lpZUVMon, LPZUVPort lpZUVPort)
{
    SetEvent(lpZUVPort->hStopStatus);
    WaitForSingleObject(lpZUVPort->hStatusThread, INFINITE);
    if (CloseHandle(lpZUVPort->hStatusThread))
        lpZUVPort->hStatusThread = NULL;
    return EndStatus(lpZUVMon, lpZUVPort);
}

DWORD WINAPI ProcessPortStatus(LPVOID lpParameter)
{
    StatusThreadParams *lpParams = (StatusThreadParams *)lpParameter;
    LPZUVMon lpZUVMon = lpParams->lpZUVMon;
    LPZUVPort lpZUVPort = lpParams->lpZUVPort;
    DWORD dwInterval;

    for (;;) {
        if (WaitForSingleObject(lpZUVPort->hStopStatus, 0) == WAIT_OBJECT_0)
            break;
        if (!ReadStatus(lpZUVMon, lpZUVPort)) {
            ZUVStore(lpZUVPort->dwPrinterStatus, (DWORD)ZUV_STS_NOTREADY);
            LoadStringA(ghInstance, IDS_NO_ANSWER, lpZUVPort->szStatus, ZUV_NAME_LEN);
        }
        SetEvent(lpZUVPort->hStatusReady);
        ReportPortStatus(lpZUVPort, 0);

        dwInterval = lpZUVPort->dwStsInterval;
        if (dwInterval > ZUV_MAX_INTERVAL_SECONDS)
            dwInterval = ZUV_MAX_INTERVAL_SECONDS;
        WaitForSingleObject(lpZUVPort->hStopStatus, dwInterval * 1000);
    }
    return 1;
}

void ReportPortStatus(LPZUVPort lpZUVPort, DWORD dwCommand)
{
    LPJOB_INFO_1A lpJob;

    lpJob = AllocAndGetJobInfo1(lpZUVPort);
    if (lpJob == NULL)
        return;
    /* A job in exactly one of these states belongs to the spooler or the
       user just now; a combination of states does not count. */
    if (lpJob->Status == JOB_STATUS_SPOOLING || lpJob->Status == JOB_STATUS_PAUSED ||
        lpJob->Status == JOB_STATUS_DELETING || lpJob->Status == JOB_STATUS_PRINTED) {
        free(lpJob);
        return;
    }
    lpJob->pStatus = lpZUVPort->szStatus;
    if (ZUVLoad(lpZUVPort->dwPrinterStatus) & ZUV_STS_NOTREADY) {
        lpJob->Status = JOB_STATUS_ERROR;
    } else {
        lpJob->Status = JOB_STATUS_PRINTING;
        if (ZUVLoad(lpZUVPort->bWaitingForTrap))
            LoadStringA(ghInstance, IDS_WAITING_HANDOVER, lpZUVPort->szStatus, ZUV_NAME_LEN);
    }
    lpJob->Position = JOB_POSITION_UNSPECIFIED;

    WaitForSingleObject(lpZUVPort->hJobMutex, INFINITE);
    SetJobA(lpZUVPort->hPrinter, lpZUVPort->dwJobId, 1, (LPBYTE)lpJob, dwCommand);
    ReleaseMutex(lpZUVPort->hJobMutex);
    free(lpJob);
}

/* ==== Spooler job services ==== */

/* Both GetJobA calls run under hJobMutex, so the size from the first still
   fits at the second whatever the status thread does in between. */
LPJOB_INFO_1A AllocAndGetJobInfo1(LPZUVPort lpZUVPort)
{
    BYTE abScratch[sizeof(JOB_INFO_1A)];
    LPJOB_INFO_1A lpJob;
    DWORD cbNeeded = 0;

    WaitForSingleObject(lpZUVPort->hJobMutex, INFINITE);
    if (GetJobA(lpZUVPort->hPrinter, lpZUVPort->dwJobId, 1, abScratch, 0, &cbNeeded) ||
        GetLastError() != ERROR_INSUFFICIENT_BUFFER || cbNeeded < sizeof(JOB_INFO_1A)) {
        ReleaseMutex(lpZUVPort->hJobMutex);
        return NULL;
    }
    lpJob = (LPJOB_INFO_1A)malloc(cbNeeded);
    if (lpJob == NULL) {
        ReleaseMutex(lpZUVPort->hJobMutex);
        return NULL;
    }
    if (!GetJobA(lpZUVPort->hPrinter, lpZUVPort->dwJobId, 1, (LPBYTE)lpJob, cbNeeded,
                 &cbNeeded)) {
        free(lpJob);
        ReleaseMutex(lpZUVPort->hJobMutex);
        return NULL;
    }
    ReleaseMutex(lpZUVPort->hJobMutex);
    return lpJob;
}

/* The accounting header: "%!" and "%%For: <owner>", each ended by a bare
   line feed.  Built by hand so that an owner's name of any length fits. */
static const char gszHeaderStart[] = "%!\n%%For: ";

BOOL SendZUVDOC(LPZUVMon lpZUVMon, LPZUVPort lpZUVPort)
{
    LPJOB_INFO_1A lpJob;
    LPCSTR pUser;
    size_t cbStart = sizeof(gszHeaderStart) - 1;
    size_t cbUser, cbHeader;
    LPBYTE pHeader;
    LONG lWritten = 0;
    BOOL bSent;

    lpJob = AllocAndGetJobInfo1(lpZUVPort);
    if (lpJob == NULL)
        return FALSE;
    pUser = lpJob->pUserName != NULL ? lpJob->pUserName : "";
    cbUser = strlen(pUser);
    cbHeader = cbStart + cbUser + 1;
    pHeader = (LPBYTE)malloc(cbHeader);
    if (pHeader == NULL) {
        free(lpJob);
        return FALSE;
    }
    memcpy(pHeader, gszHeaderStart, cbStart);
    memcpy(pHeader + cbStart, pUser, cbUser);
    pHeader[cbHeader - 1] = '\n';

    bSent = WriteSend(lpZUVMon, lpZUVPort, pHeader, (DWORD)cbHeader, &lWritten);
    if (bSent)
        lpZUVPort->bHeaderSent = TRUE;
    free(pHeader);
    free(lpJob);
    return bSent;
}

void DeletePrintJob(LPZUVPort lpZUVPort)
{
    LPJOB_INFO_1A lpJob;

    lpJob = AllocAndGetJobInfo1(lpZUVPort);
    if (lpJob == NULL)
        return;
    lpJob->Status = JOB_STATUS_DELETING;
    lpJob->pStatus = NULL;
    lpJob->Position = JOB_POSITION_UNSPECIFIED;
    SetJobA(lpZUVPort->hPrinter, lpZUVPort->dwJobId, 1, (LPBYTE)lpJob, JOB_CONTROL_CANCEL);
    free(lpJob);
}

/* ==== Start-up and events ==== */

BOOL InitZUVMon(LPZUVMon lpZUVMon)
{
    BOOL bLoaded;

    if (!ReadMonitorConfig(lpZUVMon))
        return FALSE;
    if (!InstallInEventLog(lpZUVMon))
        return FALSE;
    lpZUVMon->lppPorts = NULL;
    lpZUVMon->dwPortCount = 0;
    LoadAutoDiscovery(lpZUVMon);
    bLoaded = LoadPortList(lpZUVMon);
    if (lpZUVMon->bAutoEnable)
        AutoDiscover(lpZUVMon);
    return bLoaded;
}

/* The monitor keeps no event log, so there is nothing to register. */
BOOL InstallInEventLog(LPZUVMon lpZUVMon)
{
    return TRUE;
}

/* The one event sink: events are accepted and dropped. */
void ReportAppEvent(WORD wType, WORD wCategory, DWORD dwEventID, WORD wNumStrings,
                    LPCSTR *lpStrings)
{
    PFN_ZUVEVENTHOOK pfnHook = gpfnZUVEventHook;

    if (pfnHook != NULL)
        pfnHook(wType, wCategory, dwEventID, wNumStrings, lpStrings);
}

/* A port's events pass only when its flags allow their type, and never twice
   in a row with the same id until dwLastEvent is reset. */
void ReportPortEvent(LPZUVPort lpZUVPort, WORD wType, DWORD dwEventID, WORD wNumStrings,
                     LPCSTR *lpStrings)
{
    if (wType == EVENTLOG_ERROR_TYPE && !lpZUVPort->bDefErrors)
        return;
    if (wType == EVENTLOG_WARNING_TYPE && !lpZUVPort->bDefWarnings)
        return;
    if (lpZUVPort->dwLastEvent == dwEventID)
        return;
    lpZUVPort->dwLastEvent = dwEventID;
    ReportAppEvent(wType, 0, dwEventID, wNumStrings, lpStrings);
}

/* ==== End of a document ==== */

/* The status thread uses the printer handle and the mutex, so it is stopped
   before either is closed; every handle is cleared once closed so that a
   second EndPort releases nothing twice. */
BOOL EndPort(LPZUVMon lpZUVMon, LPZUVPort lpZUVPort, BOOL bDeleteJob)
{
    if (lpZUVPort->lpSendSkt != NULL)
        EndSend(lpZUVMon, lpZUVPort);
    if (lpZUVPort->bTrapNotification)
        waitForTrap(lpZUVPort);
    if (lpZUVPort->hStatusThread != NULL)
        StopStatusThread(lpZUVMon, lpZUVPort);
    if (lpZUVPort->hPrinter != NULL) {
        if (bDeleteJob)
            DeletePrintJob(lpZUVPort);
        ClosePrinter(lpZUVPort->hPrinter);
        lpZUVPort->hPrinter = NULL;
    }
    if (lpZUVPort->hStatusReady != NULL) {
        CloseHandle(lpZUVPort->hStatusReady);
        lpZUVPort->hStatusReady = NULL;
    }
    if (lpZUVPort->hStopStatus != NULL) {
        CloseHandle(lpZUVPort->hStopStatus);
        lpZUVPort->hStopStatus = NULL;
    }
    if (lpZUVPort->hJobMutex != NULL) {
        CloseHandle(lpZUVPort->hJobMutex);
        lpZUVPort->hJobMutex = NULL;
    }
    return TRUE;
}

/* ==== Port creation and configuration ==== */

BOOL AddZUVPort(LPZUVMon lpZUVMon, LPSTR pName, HWND hWnd)
{
    ZUVPort tempPort;
    ZUVAddPortParams params;
    INT_PTR nResult;
    HKEY hPortsKey, hKey;
    BOOL bLoaded;

    memset(&tempPort, 0, sizeof(tempPort));
    params.lpZUVPort = &tempPort;
    params.pServerName = pName;
    params.lpZUVMon = lpZUVMon;
    nResult = DialogBoxParamA(ghInstance, MAKEINTRESOURCEA(IDD_ADDPORT), hWnd, AddPortDlgProc,
                              (LPARAM)&params);
    if (nResult == IDCANCEL || nResult == 6)
        return TRUE;
    if (nResult != IDOK)
        return FALSE;

    tempPort.szPortName[ZUV_NAME_LEN - 1] = '\0';
    tempPort.szIPAddress[ZUV_NAME_LEN - 1] = '\0';
    /* An empty name would make the Ports key itself the port's key. */
    if (tempPort.szPortName[0] == '\0')
        return FALSE;
    if (!OpenStoreKey(ZUV_PORTS_KEY, &hPortsKey))
        return FALSE;
    if (!CreateSubKey(hPortsKey, tempPort.szPortName, &hKey)) {
        RegCloseKey(hPortsKey);
        return FALSE;
    }
    if (RegSetValueExA(hKey, "IPAddress", 0, REG_SZ, (const BYTE *)tempPort.szIPAddress,
                       (DWORD)lstrlenA(tempPort.szIPAddress) + 1) != ERROR_SUCCESS) {
        RegCloseKey(hKey);
        RegCloseKey(hPortsKey);
        return FALSE;
    }
    bLoaded = LoadZUVPort(lpZUVMon, hPortsKey, tempPort.szPortName);
    RegCloseKey(hKey);
    RegCloseKey(hPortsKey);
    return bLoaded;
}

BOOL ConfigZUVPort(LPZUVMon lpZUVMon, LPZUVPort lpZUVPort, HWND hWnd)
{
    ZUVConfigParams params;
    INT_PTR nResult;
    char szPath[ZUV_KEYPATH_LEN];
    HKEY hKey;
    BOOL bWritten;

    params.lpZUVMon = lpZUVMon;
    params.lpZUVPort = lpZUVPort;
    nResult = DialogBoxParamA(ghInstance, MAKEINTRESOURCEA(IDD_CONFIGURE), hWnd, ConfigDlgProc,
                              (LPARAM)&params);
    if (nResult == IDCANCEL)
        return TRUE;
    if (nResult != IDOK)
        return FALSE;

    FormPortKeyPath(szPath, lpZUVPort->szPortName);
    if (!OpenStoreKey(szPath, &hKey))
        return FALSE;
    bWritten = WriteDwordValue(hKey, "StsInterval", lpZUVPort->dwStsInterval) &&
               WriteDwordValue(hKey, "ConnType", lpZUVPort->dwConnType) &&
               WriteDwordValue(hKey, "StsTimeout", lpZUVPort->dwStsTimeout) &&
               WriteDwordValue(hKey, "SendTimeout", lpZUVPort->dwSendTimeout) &&
               WriteDwordValue(hKey, "DefErrors", (DWORD)lpZUVPort->bDefErrors) &&
               WriteDwordValue(hKey, "DefWarnings", (DWORD)lpZUVPort->bDefWarnings) &&
               WriteDwordValue(hKey, "DefInfos", (DWORD)lpZUVPort->bDefInfos) &&
               WriteDwordValue(hKey, "AudibleAlert", (DWORD)lpZUVPort->bAudibleAlert) &&
               WriteDwordValue(hKey, "TrapNotification", (DWORD)lpZUVPort->bTrapNotification);
    RegCloseKey(hKey);
    return bWritten;
}
