/* DORVEMON: the monitor's records and the functions its units share. */
#ifndef ZUVMON_H
#define ZUVMON_H

#include <windows.h>
#include <winsock.h>
#include <winspool.h>
#include <winsplp.h>

#include "resource.h"

#ifdef __cplusplus
extern "C" {
#endif

#define ZUV_NAME_LEN 128            /* every string field: 127 characters and a NUL */

/* ---- Socket object (one channel of one document) ---- */

typedef void (*SktReportProc)(LPVOID lpContext, DWORD dwLevel, LPCSTR lpszText);

typedef struct _Skt {
    SOCKET hSocket;
    SOCKADDR_IN saPrinter;
    BOOL bBusy;
    DWORD dwStatusTimeout;          /* seconds, status channel */
    DWORD dwSelectTimeout;          /* seconds, data channel wait mode; 0 in socket mode */
    SktReportProc lpfnReport;
    LPVOID lpReportContext;
} Skt, *LPSkt;

/* ---- Port record ---- */

typedef struct _ZUVPort {
    char szPortName[ZUV_NAME_LEN];
    char szIPAddress[ZUV_NAME_LEN];
    char szStatus[ZUV_NAME_LEN];
    char szPrinterName[ZUV_NAME_LEN];
    DWORD dwPrinterStatus;          /* shared with the status thread: use ZUVLoad/ZUVStore */
    HANDLE hPrinter;
    DWORD dwJobId;
    LPSkt lpSendSkt;
    LPSkt lpStatusSkt;
    HANDLE hJobMutex;
    HANDLE hStatusReady;
    HANDLE hStopStatus;
    HANDLE hStatusThread;
    DWORD dwStatusThreadId;
    DWORD dwStsInterval;
    DWORD dwConnType;
    DWORD dwStsTimeout;
    DWORD dwSendTimeout;
    DWORD dwLastEvent;
    BOOL bDocStarted;
    DWORD dwDocMode;
    BOOL bDefErrors;
    BOOL bDefWarnings;
    BOOL bDefInfos;
    BOOL bAudibleAlert;
    BOOL bHeaderSent;
    BOOL bDiscard;
    BOOL bWaitingForTrap;           /* shared with the status thread: use ZUVLoad/ZUVStore */
    BOOL bTrapNotification;
} ZUVPort, *LPZUVPort;

/* ---- Monitor record ---- */

typedef struct _ZUVMon {
    DWORD dwPortCount;
    BOOL bAutoEnable;
    LPZUVPort *lppPorts;
} ZUVMon, *LPZUVMon;

/* The two fields that the spooler thread and the status thread share are
   plain aligned 32-bit values; these keep each access a single atomic one. */
#define ZUVLoad(field) __atomic_load_n(&(field), __ATOMIC_SEQ_CST)
#define ZUVStore(field, value) __atomic_store_n(&(field), (value), __ATOMIC_SEQ_CST)

/* ---- Registry layout ---- */

#define ZUV_OPTIONS_KEY "SYSTEM\\CurrentControlSet\\Control\\Print\\Monitors\\ZUV Port\\Options"
#define ZUV_PORTS_KEY   "SYSTEM\\CurrentControlSet\\Control\\Print\\Monitors\\ZUV Port\\Ports"
#define ZUV_KEY_CLASS   "REG_SZ"

/* Port defaults, for ports loaded without settings and discovered ports. */
#define ZUV_DEF_STSINTERVAL  5
#define ZUV_DEF_CONNTYPE     0
#define ZUV_DEF_STSTIMEOUT   10
#define ZUV_DEF_SENDTIMEOUT  60
#define ZUV_DEF_DEFERRORS    1
#define ZUV_DEF_DEFWARNINGS  1
#define ZUV_DEF_DEFINFOS     1
#define ZUV_DEF_AUDIBLEALERT 0
#define ZUV_DEF_TRAPNOTIFY   0

#define ZUV_MONITOR_NAME "Dorve Print Monitor"
#define ZUV_PORT_DESC    "Dorve Port"
#define ZUV_PRINTER_PORT 35
#define ZUV_TRAP_PORT    162
#define ZUV_TRAP_WAIT_SECONDS 300

/* Result codes of CheckStatus. */
#define ZUV_CHECK_GO       0
#define ZUV_CHECK_DELETED  1
#define ZUV_CHECK_TIMEOUT  2

/* Status poll results. */
#define ZUV_STS_READY     0
#define ZUV_STS_NOANSWER  1
#define ZUV_STS_NOTREADY  2

/* Event message ids (the message table). */
#define MSG_INIT_OK              0x200003E8
#define MSG_INIT_FAILED          0xE00003E9
#define MSG_OPENPORT_NOPORT      0xA00003EA
#define MSG_SDP_MUTEX            0xA00003EB
#define MSG_SDP_EVENT            0xA00003EC
#define MSG_SDP_OPENPRINTER      0xA00003ED
#define MSG_SDP_NORESPONSE       0xA00003EE
#define MSG_SDP_NOCONNECT        0xA00003EF
#define MSG_SDP_NOHEADER         0xA00003F0
#define MSG_WP_SENDFAILED        0xA00003F1
#define MSG_WP_DISCARDED         0xE00003F2
#define MSG_DELETEPORT_FAILED    0xA00003F4
#define MSG_ADDPORT_FAILED       0xA00003F5
#define MSG_CONFIG_NOPORT        0xA00003F6
#define MSG_CONFIG_FAILED        0xA00003F7

#define EVENTLOG_ERROR_TYPE       0x0001
#define EVENTLOG_WARNING_TYPE     0x0002
#define EVENTLOG_INFORMATION_TYPE 0x0004

/* ---- Creation parameters of the port dialogs ---- */

/* Add Port: a zero-filled record for the dialog to fill, the server name
   given to AddPort, and the monitor record. */
typedef struct _ZUVAddPortParams {
    LPZUVPort lpZUVPort;
    LPSTR pServerName;
    LPZUVMon lpZUVMon;
} ZUVAddPortParams, *LPZUVAddPortParams;

/* Configure Port: the monitor record and the port's record in the list. */
typedef struct _ZUVConfigParams {
    LPZUVMon lpZUVMon;
    LPZUVPort lpZUVPort;
} ZUVConfigParams, *LPZUVConfigParams;

/* ---- Module state (zuvmon) ---- */

extern HINSTANCE ghInstance;
extern ZUVMon gZUVMon;

BOOL WINAPI DllMain(HINSTANCE hinstDLL, DWORD fdwReason, LPVOID lpvReserved);
BOOL WINAPI InitializeMonitorEx(LPSTR pRegistryRoot, LPMONITOR pMonitor);
BOOL InitializeMonitor(LPSTR pRegistryRoot);

BOOL WINAPI ZUVEnumPorts(LPSTR pName, DWORD Level, LPBYTE pPorts, DWORD cbBuf,
                         LPDWORD pcbNeeded, LPDWORD pcReturned);
BOOL WINAPI ZUVOpenPort(LPSTR pName, PHANDLE pHandle);
BOOL WINAPI ZUVClosePort(HANDLE hPort);
BOOL WINAPI ZUVReadPort(HANDLE hPort, LPBYTE pBuffer, DWORD cbBuffer, LPDWORD pcbRead);
BOOL WINAPI ZUVGetPrinterDataFromPort(HANDLE hPort, DWORD ControlID, LPSTR pValueName,
                                      LPSTR lpInBuffer, DWORD cbInBuffer, LPSTR lpOutBuffer,
                                      DWORD cbOutBuffer, LPDWORD lpcbReturned);
BOOL WINAPI ZUVSetPortTimeOuts(HANDLE hPort, LPCOMMTIMEOUTS lpCTO, DWORD reserved);
BOOL WINAPI ZUVStartDocPort(HANDLE hPort, LPSTR pPrinterName, DWORD JobId, DWORD Level,
                            LPBYTE pDocInfo);
BOOL WINAPI ZUVWritePort(HANDLE hPort, LPBYTE pBuffer, DWORD cbBuf, LPDWORD pcbWritten);
BOOL WINAPI ZUVEndDocPort(HANDLE hPort);
BOOL WINAPI ZUVAddPort(LPSTR pName, HWND hWnd, LPSTR pMonitorName);
BOOL WINAPI ZUVConfigurePort(LPSTR pName, HWND hWnd, LPSTR pPortName);
BOOL WINAPI ZUVDeletePort(LPSTR pName, HWND hWnd, LPSTR pPortName);

BOOL CheckStatus(LPZUVMon lpZUVMon, LPZUVPort lpZUVPort, LPDWORD pdwResult);

/* ---- Channel adapters (zuvnetw) ---- */

BOOL StartPrint(LPZUVMon lpZUVMon);
BOOL StartStatus(LPZUVMon lpZUVMon, LPZUVPort lpZUVPort);
BOOL ReadStatus(LPZUVMon lpZUVMon, LPZUVPort lpZUVPort);
BOOL EndStatus(LPZUVMon lpZUVMon, LPZUVPort lpZUVPort);
BOOL StartSend(LPZUVMon lpZUVMon, LPZUVPort lpZUVPort);
BOOL WriteSend(LPZUVMon lpZUVMon, LPZUVPort lpZUVPort, LPBYTE pBuffer, DWORD cbBuf,
               LPLONG pcbWritten);
BOOL EndSend(LPZUVMon lpZUVMon, LPZUVPort lpZUVPort);
void ReportSockStatus(LPVOID lpContext, DWORD dwLevel, LPCSTR lpszText);

/* ---- Sockets (zuvsock) ---- */

BOOL StartSock(void);
BOOL SktCreate(LPSkt *lppSkt, SktReportProc lpfnReport, LPVOID lpContext, LPCSTR lpszAddress);
BOOL SktDestroy(LPSkt lpSkt);
BOOL SktClose(LPSkt lpSkt);
BOOL InitSockAddr(LPSkt lpSkt, LPCSTR lpszAddress);
SOCKET DoDisconnect(LPSkt lpSkt);
BOOL SktOpenSend(LPSkt lpSkt, DWORD dwSeconds);
SOCKET ZUVConnectTCP(LPSkt lpSkt, DWORD dwSeconds);
BOOL SktSend(LPSkt lpSkt, LPBYTE pBytes, DWORD cbBytes, LPLONG plSent);
LONG SendBuffer(LPSkt lpSkt, LPBYTE pBytes, DWORD cbBytes, LPDWORD pdwCode);
BOOL SktOpenStatus(LPSkt lpSkt, DWORD dwSeconds);
SOCKET ZUVConnectUDP(LPSkt lpSkt);
BOOL SktStatus(LPSkt lpSkt, LPSTR lpszText, LPDWORD pdwResult);
DWORD GetStatus(LPSkt lpSkt, SOCKET hSocket, LPSTR lpszText);
void waitForTrap(LPZUVPort lpZUVPort);
SOCKET ZUVConnectSNMP(void);
void ReceiveTrap(SOCKET hSocket);
void AutoDiscover(LPZUVMon lpZUVMon);

#define SKT_SEND_DONE    2          /* SendBuffer completion codes */
#define SKT_SEND_STOPPED 5

/* ---- Records, store, status thread, job services (zuvutil) ---- */

LPZUVPort FindZUVPortInList(LPZUVMon lpZUVMon, LPCSTR pName);
BOOL AddZUVPort2List(LPZUVMon lpZUVMon, LPZUVPort lpZUVPort);
BOOL DeleteZUVPortFromList(LPZUVMon lpZUVMon, LPCSTR pName);

BOOL ReadMonitorConfig(LPZUVMon lpZUVMon);
BOOL LoadAutoDiscovery(LPZUVMon lpZUVMon);
BOOL SetAutoDiscovery(LPZUVMon lpZUVMon);
BOOL LoadPortList(LPZUVMon lpZUVMon);
BOOL LoadZUVPort(LPZUVMon lpZUVMon, HKEY hPortsKey, LPCSTR pName);
void AddAutoDiscoveredPort(LPZUVMon lpZUVMon, LPZUVPort lpZUVPort);
BOOL DeleteZUVPort(LPZUVMon lpZUVMon, LPCSTR pName);
void SetZUVPortDefaults(LPZUVPort lpZUVPort);

BOOL PortOkay(LPCSTR pServerName, LPCSTR pPortName);
BOOL AddrOkay(LPCSTR pAddress);

BOOL StartStatusThread(LPZUVMon lpZUVMon, LPZUVPort lpZUVPort);
BOOL StopStatusThread(LPZUVMon lpZUVMon, LPZUVPort lpZUVPort);
DWORD WINAPI ProcessPortStatus(LPVOID lpParameter);
void ReportPortStatus(LPZUVPort lpZUVPort, DWORD dwCommand);

LPJOB_INFO_1A AllocAndGetJobInfo1(LPZUVPort lpZUVPort);
BOOL SendZUVDOC(LPZUVMon lpZUVMon, LPZUVPort lpZUVPort);
void DeletePrintJob(LPZUVPort lpZUVPort);

BOOL InitZUVMon(LPZUVMon lpZUVMon);
BOOL InstallInEventLog(LPZUVMon lpZUVMon);
BOOL EndPort(LPZUVMon lpZUVMon, LPZUVPort lpZUVPort, BOOL bDeleteJob);
BOOL AddZUVPort(LPZUVMon lpZUVMon, LPSTR pName, HWND hWnd);
BOOL ConfigZUVPort(LPZUVMon lpZUVMon, LPZUVPort lpZUVPort, HWND hWnd);

void ReportAppEvent(WORD wType, WORD wCategory, DWORD dwEventID, WORD wNumStrings,
                    LPCSTR *lpStrings);
/* Reports an event that concerns a port, through the gating rule. */
void ReportPortEvent(LPZUVPort lpZUVPort, WORD wType, DWORD dwEventID, WORD wNumStrings,
                     LPCSTR *lpStrings);

/* The event sink discards every event.  A test build may install this hook
   to see the events that reached the sink; it is NULL otherwise. */
typedef void (*PFN_ZUVEVENTHOOK)(WORD wType, WORD wCategory, DWORD dwEventID,
                                 WORD wNumStrings, LPCSTR *lpStrings);
extern PFN_ZUVEVENTHOOK gpfnZUVEventHook;

/* ---- Dialogs (zuvdlgs) ---- */

INT_PTR CALLBACK AddPortDlgProc(HWND hDlg, UINT uMsg, WPARAM wParam, LPARAM lParam);
INT_PTR CALLBACK ConfigDlgProc(HWND hDlg, UINT uMsg, WPARAM wParam, LPARAM lParam);
INT_PTR CALLBACK AboutDlgProc(HWND hDlg, UINT uMsg, WPARAM wParam, LPARAM lParam);

#ifdef __cplusplus
}
#endif

#endif
