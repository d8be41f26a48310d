/* zuvsnmp: the discovery library the port monitor loads as "zuvsnmp.dll".

   A run probes every host of one configured IPv4 network with SNMPv1 GETs
   and reports the devices that look like printers.  Configuration:

     HKEY_LOCAL_MACHINE\SOFTWARE\zuvsnmp
       "Network"   REG_SZ     IPv4 CIDR, e.g. "192.168.1.0/24" (no default:
                              without it nothing is scanned)
       "Community" REG_SZ     default "public"
       "TimeoutMs" REG_DWORD  default 1500, per request and per retry

   The environment wins over the registry: ZUVSNMP_NETWORK,
   ZUVSNMP_COMMUNITY and ZUVSNMP_TIMEOUT_MS.

   Safety: a scan sends datagrams to every address of the network.  A
   network outside 127.0.0.0/8 is refused unless ZUVSNMP_ALLOW_ANY=1 is set,
   so that a stray configuration can never send traffic off the machine
   without someone deciding so.  Networks shorter than /16 are refused as
   too large.

   A device is a printer when it answers the monitor's identifier with an
   OCTET STRING (its name) or when its hrDeviceType.1 is hrDevicePrinter.
   SNMPv1 fails a whole GET when one object is missing, so each object is
   asked in a request of its own.

   Ownership: mask objects and address lists go back through free_iplist;
   the result list of a run stays valid until the next auto_tcp_init (or
   until the library is unloaded), because the monitor walks it after
   auto_tcp_shutdown and never hands it back. */

#include <windows.h>

#include <net-snmp/net-snmp-config.h>
#include <net-snmp/net-snmp-includes.h>
#include <net-snmp/library/large_fd_set.h>

#include <errno.h>
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <time.h>

#include <algorithm>
#include <mutex>
#include <vector>

#include "zuvsnmp.h"
#include "zuvsnmp_hooks.h"

#define ZUVSNMP_EXPORT extern "C" __attribute__((visibility("default")))

namespace {

const char kRegKey[] = "SOFTWARE\\zuvsnmp";
const char kDefaultCommunity[] = "public";
const DWORD kDefaultTimeoutMs = 1500;
const DWORD kMinTimeoutMs = 10;
const DWORD kMaxTimeoutMs = 60000;
const int kMinPrefix = 16;
const int kDefaultPort = 161;
// Sessions in flight at once: one socket each, well inside the usual
// descriptor limit, and enough that a /24 goes out in a single wave.
const int kWindow = 256;
// Slack over the two tries of a request before a host is given up.
const long long kDeadlineSlackMs = 150;
const size_t kTextMax = 64;   // enough to cut a name to 50 bytes correctly

const oid kSysNameOid[] = {1, 3, 6, 1, 2, 1, 1, 5, 0};
const oid kDeviceTypeOid[] = {1, 3, 6, 1, 2, 1, 25, 3, 2, 1, 2, 1};
const oid kDevicePrinterOid[] = {1, 3, 6, 1, 2, 1, 25, 3, 1, 5};

enum ObjKind { OBJ_MASK = 1, OBJ_IPLIST = 2, OBJ_RESULT = 3 };

struct ZuvObject {
    void *pBlock;
    int nKind;
};

struct ZuvMask {
    char szText[ZUVSNMP_NETMASK_LEN];   // must stay first: the monitor reads it
};

struct ZuvAddrList {
    int nCount;
    uint32_t adwAddr[1];
};

struct ZuvConfig {
    char szNetwork[64];
    char szCommunity[64];
    DWORD dwTimeoutMs;
};

enum AskWhich { ASK_IDENT = 0, ASK_SYSNAME = 1, ASK_DEVTYPE = 2, ASK_COUNT = 3 };

struct Probe;

struct Ask {
    Probe *pProbe;
    int nWhich;
};

struct Probe {
    uint32_t dwAddr;
    netsnmp_session *pSess;
    int nPending;
    long long llDeadline;
    bool bIdent;
    bool bSysName;
    bool bPrinterType;
    char szIdent[kTextMax];
    char szSysName[kTextMax];
    Ask aAsk[ASK_COUNT];
};

std::mutex gObjMutex;                 // guards gObjects and the identifier
std::vector<ZuvObject> gObjects;
oid gaIdentOid[MAX_OID_LEN];
size_t gnIdentOidLen;

std::mutex gScanMutex;                // net-snmp's session list is process-wide
bool gbSnmpReady;
int gnPort = kDefaultPort;

/* ---- objects the library hands out ---- */

void TrackObject(void *pBlock, int nKind)
{
    std::lock_guard<std::mutex> lock(gObjMutex);
    gObjects.push_back(ZuvObject{pBlock, nKind});
}

/* Forgets the block and tells whether it was ours (of any kind when nKind
   is 0); the caller frees it. */
bool UntrackObject(void *pBlock, int nKind)
{
    std::lock_guard<std::mutex> lock(gObjMutex);
    for (size_t i = 0; i < gObjects.size(); i++) {
        if (gObjects[i].pBlock == pBlock && (nKind == 0 || gObjects[i].nKind == nKind)) {
            gObjects.erase(gObjects.begin() + i);
            return true;
        }
    }
    return false;
}

bool IsTracked(void *pBlock, int nKind)
{
    std::lock_guard<std::mutex> lock(gObjMutex);
    for (const ZuvObject &o : gObjects)
        if (o.pBlock == pBlock && o.nKind == nKind)
            return true;
    return false;
}

void FreeObjectsOfKind(int nKind)
{
    std::lock_guard<std::mutex> lock(gObjMutex);
    size_t nKept = 0;
    for (size_t i = 0; i < gObjects.size(); i++) {
        if (nKind == 0 || gObjects[i].nKind == nKind)
            free(gObjects[i].pBlock);
        else
            gObjects[nKept++] = gObjects[i];
    }
    gObjects.resize(nKept);
}

/* ---- configuration ---- */

void CopyText(char *pszDst, size_t cbDst, const char *pszSrc)
{
    snprintf(pszDst, cbDst, "%s", pszSrc);
}

bool EnvText(const char *pszName, char *pszDst, size_t cbDst)
{
    const char *psz = getenv(pszName);
    if (psz == NULL || *psz == '\0')
        return false;
    CopyText(pszDst, cbDst, psz);
    return true;
}

void RegText(HKEY hKey, const char *pszName, char *pszDst, DWORD cbDst)
{
    char szValue[64];
    DWORD dwType = 0;
    DWORD cb = sizeof(szValue) - 1;
    if (RegQueryValueExA(hKey, pszName, NULL, &dwType, (LPBYTE)szValue, &cb) != ERROR_SUCCESS)
        return;
    if (dwType != REG_SZ || cb >= sizeof(szValue))
        return;
    szValue[cb] = '\0';
    if (szValue[0] != '\0')
        CopyText(pszDst, cbDst, szValue);
}

void ReadConfig(ZuvConfig *pCfg)
{
    memset(pCfg, 0, sizeof(*pCfg));
    CopyText(pCfg->szCommunity, sizeof(pCfg->szCommunity), kDefaultCommunity);
    pCfg->dwTimeoutMs = kDefaultTimeoutMs;

    HKEY hKey = NULL;
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, kRegKey, 0, KEY_READ, &hKey) == ERROR_SUCCESS) {
        RegText(hKey, "Network", pCfg->szNetwork, sizeof(pCfg->szNetwork));
        RegText(hKey, "Community", pCfg->szCommunity, sizeof(pCfg->szCommunity));
        DWORD dwValue = 0, dwType = 0, cb = sizeof(dwValue);
        if (RegQueryValueExA(hKey, "TimeoutMs", NULL, &dwType, (LPBYTE)&dwValue, &cb) == ERROR_SUCCESS
            && dwType == REG_DWORD && cb == sizeof(dwValue) && dwValue != 0)
            pCfg->dwTimeoutMs = dwValue;
        RegCloseKey(hKey);
    }

    EnvText("ZUVSNMP_NETWORK", pCfg->szNetwork, sizeof(pCfg->szNetwork));
    EnvText("ZUVSNMP_COMMUNITY", pCfg->szCommunity, sizeof(pCfg->szCommunity));
    char szTimeout[16];
    if (EnvText("ZUVSNMP_TIMEOUT_MS", szTimeout, sizeof(szTimeout))) {
        char *pEnd = NULL;
        unsigned long ul = strtoul(szTimeout, &pEnd, 10);
        if (pEnd != szTimeout && *pEnd == '\0' && ul != 0)
            pCfg->dwTimeoutMs = ul > kMaxTimeoutMs ? kMaxTimeoutMs : (DWORD)ul;
    }
    pCfg->dwTimeoutMs = std::max(kMinTimeoutMs, std::min(kMaxTimeoutMs, pCfg->dwTimeoutMs));
}

/* ---- networks ---- */

bool ParseNumber(const char **ppsz, unsigned uMax, int nMaxDigits, unsigned *puValue)
{
    const char *p = *ppsz;
    unsigned u = 0;
    int nDigits = 0;
    while (*p >= '0' && *p <= '9') {
        if (++nDigits > nMaxDigits)
            return false;
        u = u * 10 + (unsigned)(*p - '0');
        p++;
    }
    if (nDigits == 0 || u > uMax)
        return false;
    *ppsz = p;
    *puValue = u;
    return true;
}

/* "a.b.c.d/n" or "a.b.c.d" (one host); surrounding blanks allowed.  Gives
   the network address (host bits cleared) and the prefix length. */
bool ParseCidr(const char *psz, uint32_t *pdwNet, int *pnPrefix)
{
    if (psz == NULL)
        return false;
    while (*psz == ' ' || *psz == '\t')
        psz++;
    uint32_t dwAddr = 0;
    for (int i = 0; i < 4; i++) {
        unsigned uOctet = 0;
        if (i > 0 && *psz++ != '.')
            return false;
        if (!ParseNumber(&psz, 255, 3, &uOctet))
            return false;
        dwAddr = (dwAddr << 8) | uOctet;
    }
    unsigned uPrefix = 32;
    if (*psz == '/') {
        psz++;
        if (!ParseNumber(&psz, 32, 2, &uPrefix))
            return false;
    }
    while (*psz == ' ' || *psz == '\t' || *psz == '\r' || *psz == '\n')
        psz++;
    if (*psz != '\0')
        return false;
    uint32_t dwMask = uPrefix == 0 ? 0 : 0xFFFFFFFFu << (32 - uPrefix);
    *pdwNet = dwAddr & dwMask;
    *pnPrefix = (int)uPrefix;
    return true;
}

bool AllowAnyNetwork()
{
    const char *psz = getenv("ZUVSNMP_ALLOW_ANY");
    return psz != NULL && strcmp(psz, "1") == 0;
}

void FormatCidr(uint32_t dwNet, int nPrefix, char *pszDst, size_t cbDst)
{
    snprintf(pszDst, cbDst, "%u.%u.%u.%u/%d", (unsigned)(dwNet >> 24), (unsigned)((dwNet >> 16) & 255),
             (unsigned)((dwNet >> 8) & 255), (unsigned)(dwNet & 255), nPrefix);
}

/* The network a run may scan, or false with a message saying why not. */
bool CheckNetwork(const char *pszText, uint32_t *pdwNet, int *pnPrefix)
{
    if (!ParseCidr(pszText, pdwNet, pnPrefix)) {
        fprintf(stderr, "zuvsnmp: network \"%s\" is not an IPv4 CIDR such as 127.0.0.16/28\n", pszText);
        return false;
    }
    if (*pnPrefix < kMinPrefix) {
        fprintf(stderr, "zuvsnmp: network \"%s\" refused: a prefix shorter than /%d has too many hosts\n",
                pszText, kMinPrefix);
        return false;
    }
    if ((*pdwNet >> 24) != 127 && !AllowAnyNetwork()) {
        fprintf(stderr, "zuvsnmp: network \"%s\" refused: only 127.0.0.0/8 is scanned unless "
                        "ZUVSNMP_ALLOW_ANY=1 is set\n", pszText);
        return false;
    }
    return true;
}

/* A /31 has two usable hosts and a /32 one; otherwise the network and
   broadcast addresses are left out. */
void HostRange(uint32_t dwNet, int nPrefix, uint32_t *pdwFirst, int *pnCount)
{
    uint32_t dwSize = nPrefix == 32 ? 1u : 1u << (32 - nPrefix);
    if (nPrefix >= 31) {
        *pdwFirst = dwNet;
        *pnCount = (int)dwSize;
    } else {
        *pdwFirst = dwNet + 1;
        *pnCount = (int)(dwSize - 2);
    }
}

/* Dotted-decimal object identifier into net-snmp's form; no MIB names. */
bool ParseOid(const char *psz, oid *aOid, size_t *pnLen)
{
    size_t n = 0;
    if (psz == NULL)
        return false;
    if (*psz == '.')
        psz++;
    while (*psz != '\0') {
        if (n >= MAX_OID_LEN || *psz < '0' || *psz > '9')
            return false;
        unsigned long long ull = 0;
        while (*psz >= '0' && *psz <= '9') {
            ull = ull * 10 + (unsigned)(*psz - '0');
            if (ull > 0xFFFFFFFFull)
                return false;
            psz++;
        }
        aOid[n++] = (oid)ull;
        if (*psz == '.') {
            psz++;
            if (*psz == '\0')
                return false;
        } else if (*psz != '\0') {
            return false;
        }
    }
    if (n < 2)
        return false;
    *pnLen = n;
    return true;
}

/* ---- names ---- */

/* Control characters become blanks, a backslash (it would nest the port's
   registry key) an underscore; blanks at either end go. */
void CleanText(char *psz)
{
    for (char *p = psz; *p != '\0'; p++) {
        unsigned char c = (unsigned char)*p;
        if (c < 0x20 || c == 0x7F)
            *p = ' ';
        else if (c == '\\')
            *p = '_';
    }
    size_t nLen = strlen(psz);
    while (nLen > 0 && psz[nLen - 1] == ' ')
        psz[--nLen] = '\0';
    size_t nLead = 0;
    while (psz[nLead] == ' ')
        nLead++;
    memmove(psz, psz + nLead, nLen - nLead + 1);
}

/* Cuts at a character boundary: a byte 10xxxxxx continues the character
   before it, so the cut backs up to that character's lead byte. */
void CopyName(char *pszDst, size_t cbDst, const char *pszSrc)
{
    size_t nLen = strlen(pszSrc);
    if (nLen >= cbDst) {
        nLen = cbDst - 1;
        while (nLen > 0 && ((unsigned char)pszSrc[nLen] & 0xC0) == 0x80)
            nLen--;
    }
    memcpy(pszDst, pszSrc, nLen);
    pszDst[nLen] = '\0';
}

void FormatAddr(uint32_t dwAddr, char *pszDst, size_t cbDst)
{
    snprintf(pszDst, cbDst, "%u.%u.%u.%u", (unsigned)(dwAddr >> 24), (unsigned)((dwAddr >> 16) & 255),
             (unsigned)((dwAddr >> 8) & 255), (unsigned)(dwAddr & 255));
}

/* ---- the scan ---- */

long long NowMs()
{
    struct timespec ts;
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return (long long)ts.tv_sec * 1000 + ts.tv_nsec / 1000000;
}

void TakeText(const netsnmp_variable_list *pVar, char *pszDst)
{
    size_t n = pVar->val_len < kTextMax - 1 ? pVar->val_len : kTextMax - 1;
    memcpy(pszDst, pVar->val.string, n);
    pszDst[n] = '\0';   // an embedded NUL simply ends the text early
    CleanText(pszDst);
}

void TakeAnswer(Probe *pProbe, int nWhich, const netsnmp_variable_list *pVar)
{
    switch (nWhich) {
    case ASK_IDENT:
        if (pVar->type == ASN_OCTET_STR) {
            pProbe->bIdent = true;
            TakeText(pVar, pProbe->szIdent);
        }
        break;
    case ASK_SYSNAME:
        if (pVar->type == ASN_OCTET_STR) {
            pProbe->bSysName = true;
            TakeText(pVar, pProbe->szSysName);
        }
        break;
    case ASK_DEVTYPE:
        if (pVar->type == ASN_OBJECT_ID
            && pVar->val_len == sizeof(kDevicePrinterOid)
            && memcmp(pVar->val.objid, kDevicePrinterOid, sizeof(kDevicePrinterOid)) == 0)
            pProbe->bPrinterType = true;
        break;
    }
}

int AnswerCallback(int nOp, netsnmp_session *pSess, int nReqId, netsnmp_pdu *pPdu, void *pMagic)
{
    Ask *pAsk = (Ask *)pMagic;
    Probe *pProbe = pAsk->pProbe;
    if (nOp == NETSNMP_CALLBACK_OP_RECEIVED_MESSAGE && pPdu != NULL
        && pPdu->errstat == SNMP_ERR_NOERROR && pPdu->variables != NULL)
        TakeAnswer(pProbe, pAsk->nWhich, pPdu->variables);
    if ((nOp == NETSNMP_CALLBACK_OP_RECEIVED_MESSAGE || nOp == NETSNMP_CALLBACK_OP_TIMED_OUT
         || nOp == NETSNMP_CALLBACK_OP_SEND_FAILED) && pProbe->nPending > 0)
        pProbe->nPending--;
    return 1;
}

struct ScanParams {
    const char *pszCommunity;
    long lTimeoutUs;
    long long llBudgetMs;
    const oid *pIdentOid;
    size_t nIdentOidLen;
    int nPort;
};

void AskOne(Probe *pProbe, int nWhich, const oid *pOid, size_t nLen)
{
    netsnmp_pdu *pPdu = snmp_pdu_create(SNMP_MSG_GET);
    if (pPdu == NULL)
        return;
    snmp_add_null_var(pPdu, pOid, nLen);
    pProbe->aAsk[nWhich].pProbe = pProbe;
    pProbe->aAsk[nWhich].nWhich = nWhich;
    if (snmp_async_send(pProbe->pSess, pPdu, AnswerCallback, &pProbe->aAsk[nWhich]) == 0)
        snmp_free_pdu(pPdu);
    else
        pProbe->nPending++;
}

/* Opens the host's session and sends its three requests; false when
   nothing is in flight for it. */
bool StartProbe(Probe *pProbe, const ScanParams *pScan)
{
    char szAddr[ZUVSNMP_ADDR_LEN], szPeer[48];
    FormatAddr(pProbe->dwAddr, szAddr, sizeof(szAddr));
    snprintf(szPeer, sizeof(szPeer), "udp:%s:%d", szAddr, pScan->nPort);

    netsnmp_session sess;
    snmp_sess_init(&sess);
    sess.version = SNMP_VERSION_1;
    sess.peername = szPeer;
    sess.community = (u_char *)pScan->pszCommunity;
    sess.community_len = strlen(pScan->pszCommunity);
    sess.timeout = pScan->lTimeoutUs;
    sess.retries = 1;
    pProbe->pSess = snmp_open(&sess);
    if (pProbe->pSess == NULL)
        return false;

    if (pScan->nIdentOidLen > 0)
        AskOne(pProbe, ASK_IDENT, pScan->pIdentOid, pScan->nIdentOidLen);
    AskOne(pProbe, ASK_SYSNAME, kSysNameOid, OID_LENGTH(kSysNameOid));
    AskOne(pProbe, ASK_DEVTYPE, kDeviceTypeOid, OID_LENGTH(kDeviceTypeOid));
    pProbe->llDeadline = NowMs() + pScan->llBudgetMs;
    if (pProbe->nPending == 0) {
        snmp_close(pProbe->pSess);
        pProbe->pSess = NULL;
        return false;
    }
    return true;
}

/* Closing a session whose requests are still out reports them as timed
   out through the callback, which the probe still outlives here. */
void EndProbe(Probe *pProbe)
{
    if (pProbe->pSess != NULL) {
        snmp_close(pProbe->pSess);
        pProbe->pSess = NULL;
    }
    pProbe->nPending = 0;
}

void WaitForAnswers(int *aActive, int nActive, const Probe *aProbes)
{
    netsnmp_large_fd_set fds;
    netsnmp_large_fd_set_init(&fds, FD_SETSIZE);
    int nFds = 0, nBlock = 0;
    struct timeval tv = {0, 0};
    snmp_select_info2(&nFds, &fds, &tv, &nBlock);

    long long llWaitMs = 1000;
    if (!nBlock)
        llWaitMs = (long long)tv.tv_sec * 1000 + tv.tv_usec / 1000 + 1;
    long long llNow = NowMs();
    for (int i = 0; i < nActive; i++)
        llWaitMs = std::min(llWaitMs, aProbes[aActive[i]].llDeadline - llNow);
    if (llWaitMs < 0)
        llWaitMs = 0;
    tv.tv_sec = (long)(llWaitMs / 1000);
    tv.tv_usec = (long)(llWaitMs % 1000) * 1000;

    int nReady = netsnmp_large_fd_set_select(nFds, &fds, NULL, NULL, &tv);
    if (nReady > 0)
        snmp_read2(&fds);
    snmp_timeout();
    netsnmp_large_fd_set_cleanup(&fds);
}

/* Every host at once, up to the window; a host is done when its three
   requests are answered or timed out, or when its deadline passes. */
void RunScan(Probe *aProbes, int nProbes, const ScanParams *pScan)
{
    std::vector<int> aActive;
    aActive.reserve(kWindow);
    int nNext = 0;
    while (nNext < nProbes || !aActive.empty()) {
        while ((int)aActive.size() < kWindow && nNext < nProbes) {
            if (StartProbe(&aProbes[nNext], pScan))
                aActive.push_back(nNext);
            nNext++;
        }
        if (aActive.empty())
            continue;
        WaitForAnswers(aActive.data(), (int)aActive.size(), aProbes);
        long long llNow = NowMs();
        size_t nKept = 0;
        for (size_t i = 0; i < aActive.size(); i++) {
            Probe *pProbe = &aProbes[aActive[i]];
            if (pProbe->nPending == 0 || llNow >= pProbe->llDeadline)
                EndProbe(pProbe);
            else
                aActive[nKept++] = aActive[i];
        }
        aActive.resize(nKept);
    }
}

bool IsPrinter(const Probe *pProbe)
{
    return pProbe->bIdent || pProbe->bPrinterType;
}

/* The name is the identifier's text, else sysName, else the address. */
void FillEntry(struct dev_entry *pEntry, const Probe *pProbe)
{
    FormatAddr(pProbe->dwAddr, pEntry->addr, sizeof(pEntry->addr));
    const char *pszName = pEntry->addr;
    if (pProbe->bIdent && pProbe->szIdent[0] != '\0')
        pszName = pProbe->szIdent;
    else if (pProbe->bSysName && pProbe->szSysName[0] != '\0')
        pszName = pProbe->szSysName;
    CopyName(pEntry->name, sizeof(pEntry->name), pszName);
}

/* One block for the whole list, so the next run frees it with one call. */
struct dev_entry *BuildResult(const Probe *aProbes, int nProbes)
{
    int nPrinters = 0;
    for (int i = 0; i < nProbes; i++)
        if (IsPrinter(&aProbes[i]))
            nPrinters++;
    if (nPrinters == 0)
        return NULL;
    struct dev_entry *aEntries = (struct dev_entry *)calloc((size_t)nPrinters, sizeof(struct dev_entry));
    if (aEntries == NULL)
        return NULL;
    int n = 0;
    for (int i = 0; i < nProbes; i++) {
        if (!IsPrinter(&aProbes[i]))
            continue;
        FillEntry(&aEntries[n], &aProbes[i]);
        aEntries[n].next = n + 1 < nPrinters ? &aEntries[n + 1] : NULL;
        n++;
    }
    TrackObject(aEntries, OBJ_RESULT);
    return aEntries;
}

/* The result list of the last run must outlive auto_tcp_shutdown; the
   library releases it when it is unloaded.  Defined after gObjects so that
   it is destroyed first. */
struct UnloadGuard {
    ~UnloadGuard() { FreeObjectsOfKind(0); }
};
UnloadGuard gUnloadGuard;

void InitSnmpOnce()
{
    if (gbSnmpReady)
        return;
    netsnmp_ds_set_boolean(NETSNMP_DS_LIBRARY_ID, NETSNMP_DS_LIB_DONT_READ_CONFIGS, 1);
    netsnmp_ds_set_boolean(NETSNMP_DS_LIBRARY_ID, NETSNMP_DS_LIB_DISABLE_PERSISTENT_LOAD, 1);
    netsnmp_ds_set_boolean(NETSNMP_DS_LIBRARY_ID, NETSNMP_DS_LIB_DISABLE_PERSISTENT_SAVE, 1);
    netsnmp_ds_set_boolean(NETSNMP_DS_LIBRARY_ID, NETSNMP_DS_LIB_DONT_PERSIST_STATE, 1);
    netsnmp_ds_set_int(NETSNMP_DS_LIBRARY_ID, NETSNMP_DS_LIB_MIB_WARNINGS, 0);
    // Object identifiers are given numerically: no MIB files are needed.
    netsnmp_set_mib_directory("");
    snmp_disable_log();
    netsnmp_register_loghandler(NETSNMP_LOGHANDLER_NONE, LOG_DEBUG);
    init_snmp("zuvsnmp");
    gbSnmpReady = true;
}

}  // namespace

ZUVSNMP_EXPORT int auto_tcp_init(void)
{
    FreeObjectsOfKind(OBJ_RESULT);
    std::lock_guard<std::mutex> lock(gScanMutex);
    InitSnmpOnce();
    return 0;
}

ZUVSNMP_EXPORT int getLocalNetMask(void **ppMask)
{
    if (ppMask == NULL)
        return -1;
    *ppMask = NULL;
    ZuvConfig cfg;
    ReadConfig(&cfg);
    if (cfg.szNetwork[0] == '\0')
        return -1;
    uint32_t dwNet = 0;
    int nPrefix = 0;
    if (!CheckNetwork(cfg.szNetwork, &dwNet, &nPrefix))
        return -1;
    ZuvMask *pMask = (ZuvMask *)calloc(1, sizeof(ZuvMask));
    if (pMask == NULL)
        return -1;
    FormatCidr(dwNet, nPrefix, pMask->szText, sizeof(pMask->szText));
    TrackObject(pMask, OBJ_MASK);
    *ppMask = pMask;
    return 0;
}

/* The library has no DHCP source of its own: the network is configured. */
ZUVSNMP_EXPORT int getDHCPNetMask(void **ppMask)
{
    if (ppMask != NULL)
        *ppMask = NULL;
    return -1;
}

ZUVSNMP_EXPORT int auto_tcp_rip(struct rip_params *pParams, void **ppList)
{
    if (ppList == NULL)
        return -1;
    *ppList = NULL;
    if (pParams == NULL)
        return -1;

    {
        std::lock_guard<std::mutex> lock(gObjMutex);
        if (!ParseOid(pParams->oid, gaIdentOid, &gnIdentOidLen))
            gnIdentOidLen = 0;
    }

    char szNet[ZUVSNMP_NETMASK_LEN + 1];
    memcpy(szNet, pParams->netmask, ZUVSNMP_NETMASK_LEN);
    szNet[ZUVSNMP_NETMASK_LEN] = '\0';
    uint32_t dwNet = 0;
    int nPrefix = 0;
    if (szNet[0] == '\0' || !CheckNetwork(szNet, &dwNet, &nPrefix))
        return -1;

    uint32_t dwFirst = 0;
    int nCount = 0;
    HostRange(dwNet, nPrefix, &dwFirst, &nCount);
    ZuvAddrList *pList = (ZuvAddrList *)malloc(offsetof(ZuvAddrList, adwAddr) + (size_t)nCount * sizeof(uint32_t));
    if (pList == NULL)
        return -1;
    pList->nCount = nCount;
    for (int i = 0; i < nCount; i++)
        pList->adwAddr[i] = dwFirst + (uint32_t)i;
    TrackObject(pList, OBJ_IPLIST);
    *ppList = pList;
    return 0;
}

ZUVSNMP_EXPORT int auto_tcp_devstatus(void *pList, struct dev_entry **ppFirst)
{
    if (ppFirst == NULL)
        return -1;
    *ppFirst = NULL;
    if (pList == NULL || !IsTracked(pList, OBJ_IPLIST))
        return -1;

    std::lock_guard<std::mutex> scanLock(gScanMutex);
    InitSnmpOnce();
    const ZuvAddrList *pAddrs = (const ZuvAddrList *)pList;
    ZuvConfig cfg;
    ReadConfig(&cfg);

    ScanParams scan;
    oid aIdent[MAX_OID_LEN];
    {
        std::lock_guard<std::mutex> lock(gObjMutex);
        memcpy(aIdent, gaIdentOid, sizeof(aIdent));
        scan.nIdentOidLen = gnIdentOidLen;
    }
    scan.pIdentOid = aIdent;
    scan.pszCommunity = cfg.szCommunity;
    scan.lTimeoutUs = (long)cfg.dwTimeoutMs * 1000L;
    scan.llBudgetMs = 2LL * cfg.dwTimeoutMs + kDeadlineSlackMs;
    scan.nPort = gnPort;

    Probe *aProbes = (Probe *)calloc((size_t)pAddrs->nCount, sizeof(Probe));
    if (aProbes == NULL)
        return -1;
    for (int i = 0; i < pAddrs->nCount; i++)
        aProbes[i].dwAddr = pAddrs->adwAddr[i];
    RunScan(aProbes, pAddrs->nCount, &scan);
    *ppFirst = BuildResult(aProbes, pAddrs->nCount);
    free(aProbes);
    return 0;
}

ZUVSNMP_EXPORT int free_iplist(void *pObject)
{
    if (pObject == NULL)
        return -1;
    if (UntrackObject(pObject, OBJ_MASK) || UntrackObject(pObject, OBJ_IPLIST)) {
        free(pObject);
        return 0;
    }
    return -1;
}

/* Sessions never outlive auto_tcp_devstatus and the result list must stay
   readable, so nothing is left to end here. */
ZUVSNMP_EXPORT int auto_tcp_shutdown(void)
{
    return 0;
}

ZUVSNMP_EXPORT void zuvsnmp_set_port(int nPort)
{
    std::lock_guard<std::mutex> lock(gScanMutex);
    gnPort = nPort > 0 && nPort < 65536 ? nPort : kDefaultPort;
}

ZUVSNMP_EXPORT int zuvsnmp_live_blocks(void)
{
    std::lock_guard<std::mutex> lock(gObjMutex);
    return (int)gObjects.size();
}

ZUVSNMP_EXPORT int zuvsnmp_iplist_count(void *pList)
{
    if (pList == NULL || !IsTracked(pList, OBJ_IPLIST))
        return -1;
    return ((const ZuvAddrList *)pList)->nCount;
}

ZUVSNMP_EXPORT unsigned int zuvsnmp_iplist_addr(void *pList, int i)
{
    if (pList == NULL || !IsTracked(pList, OBJ_IPLIST))
        return 0;
    const ZuvAddrList *pAddrs = (const ZuvAddrList *)pList;
    return i >= 0 && i < pAddrs->nCount ? pAddrs->adwAddr[i] : 0;
}
