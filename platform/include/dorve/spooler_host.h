/* Host hooks of the spooler model: monitor registration and start, printer
   queues and jobs, a job observer and failure injection.  For the dorve tool
   and for tests; the monitor never includes this header. */
#ifndef DORVE_SPOOLER_HOST_H
#define DORVE_SPOOLER_HOST_H

#include <windows.h>
#include <winspool.h>
#include <winsplp.h>

#ifdef __cplusplus
extern "C" {
#endif

/* The registry key under HKEY_LOCAL_MACHINE that holds one subkey per
   monitor, each with a REG_SZ "Driver" naming the monitor's DLL. */
#define DORVE_MONITORS_KEY "System\\CurrentControlSet\\Control\\Print\\Monitors"
/* The spooler's own monitor, always present. */
#define DORVE_LOCAL_MONITOR "Local Port"

/* Writes Monitors\<name> with Driver = dll.  Does not load it: the next
   DorveSpoolerStart does. */
BOOL DorveSpoolerRegisterMonitor(const char *name, const char *dll);

/* Loads every registered monitor that is not loaded yet (LoadLibraryA, then
   InitializeMonitorEx with the registry root of its key).  A monitor that
   cannot be loaded or started is skipped.  Keys without a "Driver" value
   are not monitors and are passed over.  First creates the keys that a
   Windows 95 registry always has and setup programs only open (an empty
   "System\CurrentControlSet\control\InstalledFiles", and the Monitors
   key).  Returns the
   number of monitors that failed (a key that cannot be created counts as
   one); DorveSpoolerLastError then holds one line per failure. */
int DorveSpoolerStart(void);
const char *DorveSpoolerLastError(void);

/* A monitor's table once started; NULL for an unknown or failed monitor.
   The table stays valid until DorveSpoolerReset or DeleteMonitorA. */
const MONITOR *DorveSpoolerMonitor(const char *name);

/* The environment that AddMonitorA was given for the monitor ("" for NULL,
   and for a monitor started from the registry or given as a table).
   FALSE for an unknown monitor. */
BOOL DorveSpoolerMonitorEnvironment(const char *name, char *env, DWORD cchEnv);

/* A monitor without a DLL: the table is copied.  FALSE when the name is
   taken. */
BOOL DorveSpoolerAddMonitorTable(const char *name, const MONITOR *table);

/* Monitors known to the model, in order (the local monitor first, then the
   registered ones by name, including those that failed).  FALSE past the
   end.  Any output pointer may be NULL. */
BOOL DorveSpoolerGetMonitorInfo(DWORD index, char *name, DWORD cchName, char *dll,
                                DWORD cchDll, BOOL *pbStarted, char *error,
                                DWORD cchError);

/* The monitor that reported port at the last EnumPortsA (enumerating once
   when the port is not known yet).  Its registered name goes to name.
   NULL when no monitor owns the port. */
const MONITOR *DorveSpoolerPortMonitor(const char *port, char *name, DWORD cchName);

/* Printer queues and jobs.  Adding a printer that exists moves it to the
   given port and keeps its jobs.  Job ids count from 1 across all printers;
   AddJob returns 0 for an unknown printer. */
BOOL DorveSpoolerAddPrinter(const char *printer, const char *port);
DWORD DorveSpoolerAddJob(const char *printer, const char *user, const char *document,
                         DWORD cbSize);
BOOL DorveSpoolerJobExists(const char *printer, DWORD id);
BOOL DorveSpoolerGetJobStatus(const char *printer, DWORD id, DWORD *pStatus,
                              char *statusText, DWORD cch);
/* Printer handles that OpenPrinterA gave and ClosePrinter has not taken
   back. */
DWORD DorveSpoolerPrinterHandleCount(void);
/* A user's action on the queue, e.g. JOB_STATUS_DELETING. */
void DorveSpoolerSetJobStatusBits(const char *printer, DWORD id, DWORD bitsToSet);

/* Called after every successful SetJobA, outside the model's lock, with
   the job's status and text after the call (for a cancelled job, the
   values it had when it was removed). */
typedef void (*DORVE_JOB_OBSERVER)(void *ctx, const char *printer, DWORD id, DWORD status,
                                   const char *statusText, DWORD command);
void DorveSpoolerSetJobObserver(DORVE_JOB_OBSERVER fn, void *ctx);

/* The next count calls of apiName ("OpenPrinterA", "GetJobA", "SetJobA")
   fail with error, changing nothing. */
void DorveSpoolerFailNext(const char *apiName, DWORD error, int count);

/* Printers, jobs and printer handles removed, DLL monitors released and
   forgotten, the local ports restored, hooks cleared. */
void DorveSpoolerReset(void);

#ifdef __cplusplus
}
#endif

#endif
