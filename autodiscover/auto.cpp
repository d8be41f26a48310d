/* The binding of the discovery library "zuvsnmp.dll" and one discovery run.
   The library is loaded afresh at every run and never released; its entries
   are looked up by name each time. */
#include "auto.h"

#include <string.h>

#include "zuvmon.h"

static PFN_AUTO_TCP_INIT gpfnAutoTcpInit;
static PFN_GETNETMASK gpfnGetLocalNetMask;
static PFN_GETNETMASK gpfnGetDHCPNetMask;
static PFN_AUTO_TCP_RIP gpfnAutoTcpRip;
static PFN_AUTO_TCP_DEVSTATUS gpfnAutoTcpDevstatus;
static PFN_FREE_IPLIST gpfnFreeIplist;
static PFN_AUTO_TCP_SHUTDOWN gpfnAutoTcpShutdown;

/* Constant for the life of the process: the library may keep the pointer. */
static const char gszPrinterOid[] = ZUVSNMP_PRINTER_OID;

#define ZUVSNMP_LIBRARY "zuvsnmp.dll"

/* Runs on different threads may overlap; each stores the same values, and
   the atomic accesses keep those stores from tearing. */
#define BindEntry(slot, type, hLib, name) \
    ZUVStore(slot, (type)(void (*)(void))GetProcAddress(hLib, name))

void loadsnmpfuncs(HMODULE hLib)
{
    BindEntry(gpfnAutoTcpInit, PFN_AUTO_TCP_INIT, hLib, "auto_tcp_init");
    BindEntry(gpfnGetLocalNetMask, PFN_GETNETMASK, hLib, "getLocalNetMask");
    BindEntry(gpfnGetDHCPNetMask, PFN_GETNETMASK, hLib, "getDHCPNetMask");
    BindEntry(gpfnAutoTcpRip, PFN_AUTO_TCP_RIP, hLib, "auto_tcp_rip");
    BindEntry(gpfnAutoTcpDevstatus, PFN_AUTO_TCP_DEVSTATUS, hLib, "auto_tcp_devstatus");
    BindEntry(gpfnFreeIplist, PFN_FREE_IPLIST, hLib, "free_iplist");
    BindEntry(gpfnAutoTcpShutdown, PFN_AUTO_TCP_SHUTDOWN, hLib, "auto_tcp_shutdown");
}

static BOOL AllEntriesBound(void)
{
    return ZUVLoad(gpfnAutoTcpInit) != NULL && ZUVLoad(gpfnGetLocalNetMask) != NULL &&
           ZUVLoad(gpfnGetDHCPNetMask) != NULL && ZUVLoad(gpfnAutoTcpRip) != NULL &&
           ZUVLoad(gpfnAutoTcpDevstatus) != NULL && ZUVLoad(gpfnFreeIplist) != NULL &&
           ZUVLoad(gpfnAutoTcpShutdown) != NULL;
}

/* ---- Forwarders: the arguments go on unchanged; a missing entry is never
   called and answers as a failure. ---- */

#define ZUVSNMP_MISSING (-1)

int auto_tcp_init(void)
{
    PFN_AUTO_TCP_INIT pfn = ZUVLoad(gpfnAutoTcpInit);
    return pfn != NULL ? pfn() : ZUVSNMP_MISSING;
}

int getLocalNetMask(void **ppMask)
{
    PFN_GETNETMASK pfn = ZUVLoad(gpfnGetLocalNetMask);
    return pfn != NULL ? pfn(ppMask) : ZUVSNMP_MISSING;
}

int getDHCPNetMask(void **ppMask)
{
    PFN_GETNETMASK pfn = ZUVLoad(gpfnGetDHCPNetMask);
    return pfn != NULL ? pfn(ppMask) : ZUVSNMP_MISSING;
}

int auto_tcp_rip(struct rip_params *pParams, void **ppList)
{
    PFN_AUTO_TCP_RIP pfn = ZUVLoad(gpfnAutoTcpRip);
    return pfn != NULL ? pfn(pParams, ppList) : ZUVSNMP_MISSING;
}

int auto_tcp_devstatus(void *pList, struct dev_entry **ppFirst)
{
    PFN_AUTO_TCP_DEVSTATUS pfn = ZUVLoad(gpfnAutoTcpDevstatus);
    return pfn != NULL ? pfn(pList, ppFirst) : ZUVSNMP_MISSING;
}

int free_iplist(void *pObject)
{
    PFN_FREE_IPLIST pfn = ZUVLoad(gpfnFreeIplist);
    return pfn != NULL ? pfn(pObject) : ZUVSNMP_MISSING;
}

int auto_tcp_shutdown(void)
{
    PFN_AUTO_TCP_SHUTDOWN pfn = ZUVLoad(gpfnAutoTcpShutdown);
    return pfn != NULL ? pfn() : ZUVSNMP_MISSING;
}

/* ---- One run ---- */

/* Every failure is silent: the caller just finds no printers.  The result
   list belongs to the library and stays readable after the shutdown. */
struct dev_entry *AutoDiscoverPrinters(void)
{
    void *pMask = NULL;
    void *pList = NULL;
    struct dev_entry *pFirst = NULL;
    struct rip_params ripParams;
    HMODULE hLib;

    memset(&ripParams, 0, sizeof(ripParams));
    ripParams.oid = gszPrinterOid;

    hLib = LoadLibraryA(ZUVSNMP_LIBRARY);
    if ((UINT_PTR)hLib < 32)
        return NULL;
    loadsnmpfuncs(hLib);
    if (!AllEntriesBound())
        return NULL;  /* as though the library could not be loaded */

    if (auto_tcp_init() != 0)
        return NULL;
    getLocalNetMask(&pMask);
    if (pMask == NULL)
        getDHCPNetMask(&pMask);
    if (pMask == NULL) {
        auto_tcp_shutdown();
        return NULL;
    }
    lstrcpynA(ripParams.netmask, (LPCSTR)pMask, ZUVSNMP_NETMASK_LEN);

    auto_tcp_rip(&ripParams, &pList);
    auto_tcp_devstatus(pList, &pFirst);
    free_iplist(pMask);
    if (pList != NULL)
        free_iplist(pList);
    auto_tcp_shutdown();
    return pFirst;
}
