/* DORVEMON: the module entry, start-up, the spooler's table entries, the
   document transfer, the pre-send check and the port administration. */
#include "zuvmon.h"

#include <stddef.h>
#include <stdlib.h>
#include <string.h>

HINSTANCE ghInstance = NULL;
ZUVMon gZUVMon = {0, FALSE, NULL};

static const char gszMonitorName[] = ZUV_MONITOR_NAME;
static const char gszPortDesc[] = ZUV_PORT_DESC;
static const char gszNotAvailable[] = "N/A";

#define ZUV_REASON_REGISTRY "The monitor had a problem either reading or writing to the registry"
#define ZUV_REASON_SOCKETS \
    "Windows sockets either failed to load or doesn't support the required version"

/* ==== Module entry and start-up ==== */

BOOL WINAPI DllMain(HINSTANCE hinstDLL, DWORD fdwReason, LPVOID lpvReserved)
{
    if (fdwReason == DLL_PROCESS_ATTACH)
        ghInstance = hinstDLL;
    return TRUE;
}

static void ReportStartupFailure(LPCSTR pReason)
{
    LPCSTR apStrings[1];

    apStrings[0] = pReason;
    ReportAppEvent(EVENTLOG_ERROR_TYPE, 0, MSG_INIT_FAILED, 1, apStrings);
}

/* The registry root is not used: the monitor's keys have fixed paths.
   Nothing a failed start did is undone; the spooler gets no table then. */
BOOL InitializeMonitor(LPSTR pRegistryRoot)
{
    if (!InitZUVMon(&gZUVMon)) {
        ReportStartupFailure(ZUV_REASON_REGISTRY);
        return FALSE;
    }
    if (!StartPrint(&gZUVMon)) {
        ReportStartupFailure(ZUV_REASON_SOCKETS);
        return FALSE;
    }
    ReportAppEvent(EVENTLOG_INFORMATION_TYPE, 0, MSG_INIT_OK, 0, NULL);
    return TRUE;
}

BOOL WINAPI InitializeMonitorEx(LPSTR pRegistryRoot, LPMONITOR pMonitor)
{
    if (!InitializeMonitor(pRegistryRoot))
        return FALSE;
    if (pMonitor == NULL)
        return TRUE;
    pMonitor->pfnEnumPorts = ZUVEnumPorts;
    pMonitor->pfnOpenPort = ZUVOpenPort;
    pMonitor->pfnOpenPortEx = NULL;
    pMonitor->pfnStartDocPort = ZUVStartDocPort;
    pMonitor->pfnWritePort = ZUVWritePort;
    pMonitor->pfnReadPort = ZUVReadPort;
    pMonitor->pfnEndDocPort = ZUVEndDocPort;
    pMonitor->pfnClosePort = ZUVClosePort;
    pMonitor->pfnAddPort = ZUVAddPort;
    pMonitor->pfnConfigurePort = ZUVConfigurePort;
    pMonitor->pfnDeletePort = ZUVDeletePort;
    pMonitor->pfnGetPrinterDataFromPort = ZUVGetPrinterDataFromPort;
    pMonitor->pfnSetPortTimeOuts = ZUVSetPortTimeOuts;
    return TRUE;
}

/* ==== Port enumeration and the fixed entries ==== */

/* The size needed for dwCount ports of lppPorts. */
static DWORD EnumPortsSize(DWORD Level, DWORD dwCount, LPZUVPort *lppPorts)
{
    DWORD cbNeeded, i;

    if (Level == 1)
        cbNeeded = (DWORD)sizeof(PORT_INFO_1A) * dwCount;
    else
        cbNeeded = ((DWORD)sizeof(gszMonitorName) + (DWORD)sizeof(gszPortDesc) +
                    (DWORD)sizeof(PORT_INFO_2A)) * dwCount;
    for (i = 0; i < dwCount; i++)
        cbNeeded += (DWORD)lstrlenA(lppPorts[i]->szPortName) + 1;
    return cbNeeded;
}

/* Places a string directly below *ppEnd and returns where it went. */
static LPSTR PackString(LPBYTE *ppEnd, LPCSTR pString)
{
    size_t cb = strlen(pString) + 1;

    *ppEnd -= cb;
    memcpy(*ppEnd, pString, cb);
    return (LPSTR)*ppEnd;
}

/* Entries from the start of the buffer upwards, strings from its end
   downwards.  Entries are copied in, so the caller's buffer need not be
   aligned; Reserved of a level 2 entry is left as the caller had it. */
static void FillPorts(DWORD Level, DWORD dwCount, LPZUVPort *lppPorts, LPBYTE pPorts, DWORD cbBuf)
{
    LPBYTE pEnd = pPorts + cbBuf;
    DWORD i;

    for (i = 0; i < dwCount; i++) {
        LPCSTR pName = lppPorts[i]->szPortName;
        if (Level == 1) {
            PORT_INFO_1A info1;
            info1.pName = PackString(&pEnd, pName);
            memcpy(pPorts + i * sizeof(PORT_INFO_1A), &info1, sizeof(info1));
        } else {
            PORT_INFO_2A info2;
            info2.pPortName = PackString(&pEnd, pName);
            info2.pMonitorName = PackString(&pEnd, gszMonitorName);
            info2.pDescription = PackString(&pEnd, gszPortDesc);
            info2.fPortType = PORT_TYPE_WRITE;
            memcpy(pPorts + i * sizeof(PORT_INFO_2A), &info2, offsetof(PORT_INFO_2A, Reserved));
        }
    }
}

BOOL WINAPI ZUVEnumPorts(LPSTR pName, DWORD Level, LPBYTE pPorts, DWORD cbBuf,
                         LPDWORD pcbNeeded, LPDWORD pcReturned)
{
    DWORD cbNeeded, dwCount;
    LPZUVPort *lppPorts;

    if (gZUVMon.bAutoEnable)
        AutoDiscover(&gZUVMon);
    /* One look at the list sizes and fills the answer, so a port that
       another thread's discovery appends meanwhile can never make the
       filling write past what was sized. */
    dwCount = gZUVMon.dwPortCount;
    lppPorts = gZUVMon.lppPorts;
    cbNeeded = EnumPortsSize(Level, dwCount, lppPorts);
    if (pcbNeeded != NULL)
        *pcbNeeded = cbNeeded;
    if (cbNeeded > cbBuf || (pPorts == NULL && cbNeeded > 0)) {
        if (pcReturned != NULL)
            *pcReturned = 0;
        SetLastError(ERROR_INSUFFICIENT_BUFFER);
        return FALSE;
    }
    if (cbNeeded > 0)
        FillPorts(Level, dwCount, lppPorts, pPorts, cbBuf);
    if (pcReturned != NULL)
        *pcReturned = dwCount;
    return TRUE;
}

BOOL WINAPI ZUVOpenPort(LPSTR pName, PHANDLE pHandle)
{
    char szName[ZUV_NAME_LEN];
    LPCSTR apStrings[1];
    LPZUVPort lpZUVPort;

    lpZUVPort = FindZUVPortInList(&gZUVMon, pName);
    if (lpZUVPort == NULL) {
        lstrcpynA(szName, pName != NULL ? pName : "", ZUV_NAME_LEN);
        apStrings[0] = szName;
        ReportAppEvent(EVENTLOG_WARNING_TYPE, 0, MSG_OPENPORT_NOPORT, 1, apStrings);
        return FALSE;
    }
    lpZUVPort->dwLastEvent = 0;
    if (pHandle != NULL)
        *pHandle = (HANDLE)lpZUVPort;
    return TRUE;
}

/* Port records live in the list until DeletePort, so there is nothing to
   release here. */
BOOL WINAPI ZUVClosePort(HANDLE hPort)
{
    return TRUE;
}

BOOL WINAPI ZUVReadPort(HANDLE hPort, LPBYTE pBuffer, DWORD cbBuffer, LPDWORD pcbRead)
{
    return FALSE;
}

BOOL WINAPI ZUVGetPrinterDataFromPort(HANDLE hPort, DWORD ControlID, LPSTR pValueName,
                                      LPSTR lpInBuffer, DWORD cbInBuffer, LPSTR lpOutBuffer,
                                      DWORD cbOutBuffer, LPDWORD lpcbReturned)
{
    return FALSE;
}

BOOL WINAPI ZUVSetPortTimeOuts(HANDLE hPort, LPCOMMTIMEOUTS lpCTO, DWORD reserved)
{
    return FALSE;
}

/* ==== Document events ==== */

/* Printer name and the last error of the call that failed, as "%ld". */
static void ReportPrinterEvent(LPZUVPort lpZUVPort, DWORD dwEventID, DWORD dwError)
{
    char szError[16];
    LPCSTR apStrings[2];

    wsprintfA(szError, "%ld", (LONG)dwError);
    apStrings[0] = lpZUVPort->szPrinterName;
    apStrings[1] = szError;
    ReportPortEvent(lpZUVPort, EVENTLOG_WARNING_TYPE, dwEventID, 2, apStrings);
}

static LPCSTR JobString(LPCSTR pString)
{
    return pString != NULL ? pString : "";
}

/* Printer, document, owner and (for four strings) the job's status text, from
   the job record; "N/A" where the record cannot be read. */
static void ReportJobEvent(LPZUVPort lpZUVPort, WORD wType, DWORD dwEventID, WORD wNumStrings)
{
    LPJOB_INFO_1A lpJob;
    LPCSTR apStrings[4];

    lpJob = AllocAndGetJobInfo1(lpZUVPort);
    if (lpJob != NULL) {
        apStrings[0] = JobString(lpJob->pPrinterName);
        apStrings[1] = JobString(lpJob->pDocument);
        apStrings[2] = JobString(lpJob->pUserName);
        apStrings[3] = JobString(lpJob->pStatus);
    } else {
        apStrings[0] = lpZUVPort->szPrinterName;
        apStrings[1] = gszNotAvailable;
        apStrings[2] = gszNotAvailable;
        apStrings[3] = gszNotAvailable;
    }
    ReportPortEvent(lpZUVPort, wType, dwEventID, wNumStrings, apStrings);
    free(lpJob);
}

/* ==== Pre-send check ==== */

/* Holds a document back, once a second, while the printer reports that it
   takes no data: until it is ready, the user deletes the job, or the send
   time-out runs out. */
BOOL CheckStatus(LPZUVMon lpZUVMon, LPZUVPort lpZUVPort, LPDWORD pdwResult)
{
    LPJOB_INFO_1A lpJob;
    unsigned long long ullPasses, ullPass;
    BOOL bResult, bEnd;

    *pdwResult = ZUV_CHECK_GO;
    if (ZUVLoad(lpZUVPort->dwPrinterStatus) != ZUV_STS_NOTREADY)
        return TRUE;
    lpJob = AllocAndGetJobInfo1(lpZUVPort);
    if (lpJob == NULL)
        return TRUE;
    free(lpJob);

    ullPasses = (unsigned long long)lpZUVPort->dwSendTimeout * 60;
    for (ullPass = 0; ullPass < ullPasses; ullPass++) {
        Sleep(1000);
        lpJob = AllocAndGetJobInfo1(lpZUVPort);
        if (lpJob == NULL)
            return TRUE;
        bResult = TRUE;
        bEnd = FALSE;
        if (lpJob->Status & JOB_STATUS_DELETING) {
            bResult = FALSE;
            *pdwResult = ZUV_CHECK_DELETED;
            bEnd = TRUE;
        }
        free(lpJob);
        /* A printer that became ready wins over a deletion seen in the same
           pass: the job is sent and the spooler deletes it afterwards. */
        if (ZUVLoad(lpZUVPort->dwPrinterStatus) != ZUV_STS_NOTREADY) {
            bResult = TRUE;
            bEnd = TRUE;
        }
        if (bEnd)
            return bResult;
    }
    *pdwResult = ZUV_CHECK_TIMEOUT;
    return FALSE;
}

/* ==== Document transfer ==== */

static void ResetDocumentFields(LPZUVPort lpZUVPort, DWORD JobId)
{
    lpZUVPort->lpSendSkt = NULL;
    lpZUVPort->hStatusThread = NULL;
    lpZUVPort->hPrinter = NULL;
    lpZUVPort->hStatusReady = NULL;
    lpZUVPort->hStopStatus = NULL;
    lpZUVPort->hJobMutex = NULL;
    lpZUVPort->bHeaderSent = FALSE;
    lpZUVPort->bDiscard = FALSE;
    ZUVStore(lpZUVPort->bWaitingForTrap, FALSE);
    lpZUVPort->dwJobId = JobId;
}

/* Creates the document's mutex and events and opens the printer; on failure
   reports it and releases what was made. */
static BOOL OpenDocumentObjects(LPZUVPort lpZUVPort)
{
    lpZUVPort->hJobMutex = CreateMutexA(NULL, FALSE, NULL);
    if (lpZUVPort->hJobMutex == NULL) {
        ReportPrinterEvent(lpZUVPort, MSG_SDP_MUTEX, GetLastError());
        return FALSE;
    }
    lpZUVPort->hStopStatus = CreateEventA(NULL, TRUE, FALSE, NULL);
    if (lpZUVPort->hStopStatus == NULL) {
        ReportPrinterEvent(lpZUVPort, MSG_SDP_EVENT, GetLastError());
        return FALSE;
    }
    lpZUVPort->hStatusReady = CreateEventA(NULL, TRUE, FALSE, NULL);
    if (lpZUVPort->hStatusReady == NULL) {
        ReportPrinterEvent(lpZUVPort, MSG_SDP_EVENT, GetLastError());
        return FALSE;
    }
    if (!OpenPrinterA(lpZUVPort->szPrinterName, &lpZUVPort->hPrinter, NULL)) {
        ReportPrinterEvent(lpZUVPort, MSG_SDP_OPENPRINTER, GetLastError());
        lpZUVPort->hPrinter = NULL;
        return FALSE;
    }
    return TRUE;
}

/* Always TRUE: whether the document started shows only in bDocStarted, and
   the next WritePort tries a failed start again. */
BOOL WINAPI ZUVStartDocPort(HANDLE hPort, LPSTR pPrinterName, DWORD JobId, DWORD Level,
                            LPBYTE pDocInfo)
{
    LPZUVPort lpZUVPort = (LPZUVPort)hPort;
    DWORD dwCheck;

    if (lpZUVPort == NULL || lpZUVPort->bDocStarted)
        return TRUE;
    if (pPrinterName != lpZUVPort->szPrinterName)
        lstrcpynA(lpZUVPort->szPrinterName, pPrinterName != NULL ? pPrinterName : "",
                  ZUV_NAME_LEN);
    ResetDocumentFields(lpZUVPort, JobId);

    if (Level == 2 && pDocInfo != NULL) {
        lpZUVPort->dwDocMode = ((LPDOC_INFO_2A)pDocInfo)->dwMode;
        if (lpZUVPort->dwDocMode == DI_CHANNEL)
            return TRUE;
    }

    if (!OpenDocumentObjects(lpZUVPort)) {
        EndPort(&gZUVMon, lpZUVPort, FALSE);
        return TRUE;
    }
    if (!StartStatusThread(&gZUVMon, lpZUVPort)) {
        ZUVStore(lpZUVPort->dwPrinterStatus, (DWORD)ZUV_STS_NOTREADY);
        LoadStringA(ghInstance, IDS_NO_ANSWER, lpZUVPort->szStatus, ZUV_NAME_LEN);
        ReportPortStatus(lpZUVPort, 0);
        ReportJobEvent(lpZUVPort, EVENTLOG_WARNING_TYPE, MSG_SDP_NORESPONSE, 3);
        EndPort(&gZUVMon, lpZUVPort, FALSE);
        SetLastError(ERROR_NOT_READY);
        return TRUE;
    }
    if (!CheckStatus(&gZUVMon, lpZUVPort, &dwCheck)) {
        if (dwCheck == ZUV_CHECK_TIMEOUT)
            DeletePrintJob(lpZUVPort);
        EndPort(&gZUVMon, lpZUVPort, FALSE);
        SetLastError(ERROR_SUCCESS);
        return TRUE;
    }
    if (!StartSend(&gZUVMon, lpZUVPort)) {
        ReportJobEvent(lpZUVPort, EVENTLOG_WARNING_TYPE, MSG_SDP_NOCONNECT, 4);
        EndPort(&gZUVMon, lpZUVPort, FALSE);
        SetLastError(ERROR_NOT_READY);
        return TRUE;
    }
    if (!SendZUVDOC(&gZUVMon, lpZUVPort)) {
        ReportJobEvent(lpZUVPort, EVENTLOG_WARNING_TYPE, MSG_SDP_NOHEADER, 4);
        EndPort(&gZUVMon, lpZUVPort, FALSE);
        SetLastError(ERROR_NOT_READY);
        return TRUE;
    }
    lpZUVPort->bDocStarted = TRUE;
    return TRUE;
}

/* Once a send call has failed, the rest of the document is taken and
   dropped, so that the spooler does not keep retrying a lost connection. */
BOOL WINAPI ZUVWritePort(HANDLE hPort, LPBYTE pBuffer, DWORD cbBuf, LPDWORD pcbWritten)
{
    LPZUVPort lpZUVPort = (LPZUVPort)hPort;
    DWORD cbLocal;
    LONG lWritten;
    BOOL bResult;

    if (pcbWritten == NULL)
        pcbWritten = &cbLocal;
    *pcbWritten = 0;
    if (lpZUVPort == NULL)
        return FALSE;

    if (!lpZUVPort->bDocStarted)
        ZUVStartDocPort(hPort, lpZUVPort->szPrinterName, lpZUVPort->dwJobId, 0, NULL);
    if (!lpZUVPort->bDocStarted) {
        *pcbWritten = 0;
        bResult = FALSE;
    } else if (lpZUVPort->bDiscard) {
        *pcbWritten = cbBuf;
        bResult = TRUE;
    } else {
        lWritten = 0;
        bResult = WriteSend(&gZUVMon, lpZUVPort, pBuffer, cbBuf, &lWritten);
        if (bResult) {
            *pcbWritten = (DWORD)lWritten;
            lpZUVPort->dwLastEvent = 0;
        } else if (lWritten == -1) {
            *pcbWritten = cbBuf;
            lpZUVPort->bDiscard = TRUE;
            bResult = TRUE;
            ReportJobEvent(lpZUVPort, EVENTLOG_ERROR_TYPE, MSG_WP_DISCARDED, 4);
        } else {
            *pcbWritten = (DWORD)lWritten;
            ReportJobEvent(lpZUVPort, EVENTLOG_WARNING_TYPE, MSG_WP_SENDFAILED, 4);
            SetLastError(ERROR_NOT_READY);
        }
    }
    if (!bResult && lpZUVPort->bAudibleAlert)
        MessageBeep(MB_ICONEXCLAMATION);
    return bResult;
}

BOOL WINAPI ZUVEndDocPort(HANDLE hPort)
{
    LPZUVPort lpZUVPort = (LPZUVPort)hPort;

    if (lpZUVPort == NULL)
        return TRUE;
    EndPort(&gZUVMon, lpZUVPort, TRUE);
    lpZUVPort->dwLastEvent = 0;
    lpZUVPort->bDocStarted = FALSE;
    return TRUE;
}

/* ==== Port administration ==== */

BOOL WINAPI ZUVAddPort(LPSTR pName, HWND hWnd, LPSTR pMonitorName)
{
    if (AddZUVPort(&gZUVMon, pName, hWnd))
        return TRUE;
    ReportAppEvent(EVENTLOG_WARNING_TYPE, 0, MSG_ADDPORT_FAILED, 0, NULL);
    return FALSE;
}

static void ReportPortNameEvent(DWORD dwEventID, LPCSTR pPortName)
{
    char szName[ZUV_NAME_LEN];
    LPCSTR apStrings[1];

    lstrcpynA(szName, pPortName != NULL ? pPortName : "", ZUV_NAME_LEN);
    apStrings[0] = szName;
    ReportAppEvent(EVENTLOG_WARNING_TYPE, 0, dwEventID, 1, apStrings);
}

BOOL WINAPI ZUVConfigurePort(LPSTR pName, HWND hWnd, LPSTR pPortName)
{
    LPZUVPort lpZUVPort;

    lpZUVPort = FindZUVPortInList(&gZUVMon, pPortName);
    if (lpZUVPort == NULL) {
        ReportPortNameEvent(MSG_CONFIG_NOPORT, pPortName);
        return FALSE;
    }
    if (!ConfigZUVPort(&gZUVMon, lpZUVPort, hWnd)) {
        ReportPortNameEvent(MSG_CONFIG_FAILED, pPortName);
        return FALSE;
    }
    return TRUE;
}

/* A port with a document in progress is refused: its status thread and the
   spooler's handle still use the record. */
static BOOL PortInUse(LPCSTR pPortName)
{
    LPZUVPort lpZUVPort = FindZUVPortInList(&gZUVMon, pPortName);

    return lpZUVPort != NULL &&
           (lpZUVPort->bDocStarted || lpZUVPort->hStatusThread != NULL ||
            lpZUVPort->lpSendSkt != NULL);
}

BOOL WINAPI ZUVDeletePort(LPSTR pName, HWND hWnd, LPSTR pPortName)
{
    if (pPortName == NULL || PortInUse(pPortName) || !DeleteZUVPort(&gZUVMon, pPortName)) {
        ReportPortNameEvent(MSG_DELETEPORT_FAILED, pPortName);
        return FALSE;
    }
    return TRUE;
}
