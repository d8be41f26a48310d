/* The spooler's ANSI interface as the host layer provides it: printer
   handles, job records, ports and monitors.  Structure layouts are Windows'
   own, so the monitor reads the same fields on both builds. */
#ifndef DORVE_WINSPOOL_H
#define DORVE_WINSPOOL_H

#include <windows.h>

#ifdef __cplusplus
extern "C" {
#endif

/* winbase.h of this layer does not carry SYSTEMTIME; whoever defines it
   first sets DORVE_HAVE_SYSTEMTIME so that the other stays out. */
#ifndef DORVE_HAVE_SYSTEMTIME
#define DORVE_HAVE_SYSTEMTIME
typedef struct _SYSTEMTIME {
    WORD wYear;
    WORD wMonth;
    WORD wDayOfWeek;
    WORD wDay;
    WORD wHour;
    WORD wMinute;
    WORD wSecond;
    WORD wMilliseconds;
} SYSTEMTIME, *PSYSTEMTIME, *LPSYSTEMTIME;
#endif

/* The device mode is only passed through by pointer here; the tag leaves
   wingdi.h free to define the structure. */
struct _devicemodeA;

typedef struct _PRINTER_DEFAULTSA {
    LPSTR pDatatype;
    struct _devicemodeA *pDevMode;
    ACCESS_MASK DesiredAccess;
} PRINTER_DEFAULTSA, *PPRINTER_DEFAULTSA, *LPPRINTER_DEFAULTSA;

typedef struct _JOB_INFO_1A {
    DWORD JobId;
    LPSTR pPrinterName;
    LPSTR pMachineName;
    LPSTR pUserName;
    LPSTR pDocument;
    LPSTR pDatatype;
    LPSTR pStatus;
    DWORD Status;
    DWORD Priority;
    DWORD Position;
    DWORD TotalPages;
    DWORD PagesPrinted;
    SYSTEMTIME Submitted;
} JOB_INFO_1A, *PJOB_INFO_1A, *LPJOB_INFO_1A;

typedef struct _DOC_INFO_1A {
    LPSTR pDocName;
    LPSTR pOutputFile;
    LPSTR pDatatype;
} DOC_INFO_1A, *PDOC_INFO_1A, *LPDOC_INFO_1A;

typedef struct _DOC_INFO_2A {
    LPSTR pDocName;
    LPSTR pOutputFile;
    LPSTR pDatatype;
    DWORD dwMode;
    DWORD JobId;
} DOC_INFO_2A, *PDOC_INFO_2A, *LPDOC_INFO_2A;

typedef struct _PORT_INFO_1A {
    LPSTR pName;
} PORT_INFO_1A, *PPORT_INFO_1A, *LPPORT_INFO_1A;

typedef struct _PORT_INFO_2A {
    LPSTR pPortName;
    LPSTR pMonitorName;
    LPSTR pDescription;
    DWORD fPortType;
    DWORD Reserved;
} PORT_INFO_2A, *PPORT_INFO_2A, *LPPORT_INFO_2A;

typedef struct _MONITOR_INFO_1A {
    LPSTR pName;
} MONITOR_INFO_1A, *PMONITOR_INFO_1A, *LPMONITOR_INFO_1A;

typedef struct _MONITOR_INFO_2A {
    LPSTR pName;
    LPSTR pEnvironment;
    LPSTR pDLLName;
} MONITOR_INFO_2A, *PMONITOR_INFO_2A, *LPMONITOR_INFO_2A;

/* The ANSI build's unadorned names. */
typedef PRINTER_DEFAULTSA PRINTER_DEFAULTS, *PPRINTER_DEFAULTS, *LPPRINTER_DEFAULTS;
typedef JOB_INFO_1A JOB_INFO_1, *PJOB_INFO_1, *LPJOB_INFO_1;
typedef DOC_INFO_1A DOC_INFO_1, *PDOC_INFO_1, *LPDOC_INFO_1;
typedef DOC_INFO_2A DOC_INFO_2, *PDOC_INFO_2, *LPDOC_INFO_2;
typedef PORT_INFO_1A PORT_INFO_1, *PPORT_INFO_1, *LPPORT_INFO_1;
typedef PORT_INFO_2A PORT_INFO_2, *PPORT_INFO_2, *LPPORT_INFO_2;
typedef MONITOR_INFO_1A MONITOR_INFO_1, *PMONITOR_INFO_1, *LPMONITOR_INFO_1;
typedef MONITOR_INFO_2A MONITOR_INFO_2, *PMONITOR_INFO_2, *LPMONITOR_INFO_2;

#define JOB_STATUS_PAUSED            0x00000001
#define JOB_STATUS_ERROR             0x00000002
#define JOB_STATUS_DELETING          0x00000004
#define JOB_STATUS_SPOOLING          0x00000008
#define JOB_STATUS_PRINTING          0x00000010
#define JOB_STATUS_OFFLINE           0x00000020
#define JOB_STATUS_PAPEROUT          0x00000040
#define JOB_STATUS_PRINTED           0x00000080
#define JOB_STATUS_DELETED           0x00000100
#define JOB_STATUS_BLOCKED_DEVQ      0x00000200
#define JOB_STATUS_USER_INTERVENTION 0x00000400
#define JOB_STATUS_RESTART           0x00000800

#define JOB_CONTROL_PAUSE            1
#define JOB_CONTROL_RESUME           2
#define JOB_CONTROL_CANCEL           3
#define JOB_CONTROL_RESTART          4
#define JOB_CONTROL_DELETE           5

#define JOB_POSITION_UNSPECIFIED     0

#define DI_CHANNEL                   1
#define DI_READ_SPOOL_JOB            3

#define PORT_TYPE_WRITE              0x0001
#define PORT_TYPE_READ               0x0002
#define PORT_TYPE_REDIRECTED         0x0004
#define PORT_TYPE_NET_ATTACHED       0x0008

#define PRINTER_ACCESS_ADMINISTER    0x00000004
#define PRINTER_ACCESS_USE           0x00000008

BOOL WINAPI OpenPrinterA(LPSTR pPrinterName, LPHANDLE phPrinter, LPPRINTER_DEFAULTSA pDefault);
BOOL WINAPI ClosePrinter(HANDLE hPrinter);
BOOL WINAPI GetJobA(HANDLE hPrinter, DWORD JobId, DWORD Level, LPBYTE pJob, DWORD cbBuf,
                    LPDWORD pcbNeeded);
BOOL WINAPI SetJobA(HANDLE hPrinter, DWORD JobId, DWORD Level, LPBYTE pJob, DWORD Command);

BOOL WINAPI EnumPortsA(LPSTR pName, DWORD Level, LPBYTE pPorts, DWORD cbBuf,
                       LPDWORD pcbNeeded, LPDWORD pcReturned);
BOOL WINAPI EnumMonitorsA(LPSTR pName, DWORD Level, LPBYTE pMonitors, DWORD cbBuf,
                          LPDWORD pcbNeeded, LPDWORD pcReturned);
BOOL WINAPI AddMonitorA(LPSTR pName, DWORD Level, LPBYTE pMonitors);
BOOL WINAPI DeleteMonitorA(LPSTR pName, LPSTR pEnvironment, LPSTR pMonitorName);
BOOL WINAPI AddPortA(LPSTR pName, HWND hWnd, LPSTR pMonitorName);
BOOL WINAPI ConfigurePortA(LPSTR pName, HWND hWnd, LPSTR pPortName);
BOOL WINAPI DeletePortA(LPSTR pName, HWND hWnd, LPSTR pPortName);

#define OpenPrinter OpenPrinterA
#define GetJob GetJobA
#define SetJob SetJobA
#define EnumPorts EnumPortsA
#define EnumMonitors EnumMonitorsA
#define AddMonitor AddMonitorA
#define DeleteMonitor DeleteMonitorA
#define AddPort AddPortA
#define ConfigurePort ConfigurePortA
#define DeletePort DeletePortA

#ifdef __cplusplus
}
#endif

#endif
