/* DORVEMON: socket objects, the TCP data channel, the UDP status channel,
   the end-of-job trap wait and the merge of discovered printers. */
#include "zuvmon.h"
#include "auto.h"

#include <stdlib.h>
#include <string.h>

#define SKT_STATUS_REQUEST_LEN 20   /* the request: 20 bytes of 0 */
#define SKT_REPLY_HEADER_LEN   20   /* the fixed part of a reply */
#define SKT_REPLY_BUF_LEN      256
#define SKT_TRACE_LINE_LEN     128
#define SKT_DRAIN_SECONDS      1

/* Offsets of the status reply's fields; multi-byte fields are big-endian. */
#define REPLY_OFS_STATUS      2
#define REPLY_OFS_ACCEPTMASK  12
#define REPLY_OFS_TEXTOFFSET  16
#define REPLY_OFS_TEXTLENGTH  18

#define PR_STATUS_BUSY        0x10
#define PR_STATUS_BUSY_ALT    0x11
#define PR_STATUS_NOTREADY    0x0F  /* any of the low four bits: not ready */
#define PR_ACCEPT_DATA        0x00000001

static const char szStringPrefix[] = "GetStatus: string from printer is <";
static const char szStringSuffix[] = ">";

/* The longest printer text that fits the 128-byte trace line together with
   its prefix, suffix and terminator. */
#define SKT_TRACE_TEXT_MAX \
    (SKT_TRACE_LINE_LEN - (int)(sizeof(szStringPrefix) - 1) - (int)(sizeof(szStringSuffix) - 1) - 1)

static void Trace(LPSkt lpSkt, DWORD dwLevel, LPCSTR lpszText)
{
    if (lpSkt->lpfnReport != NULL)
        lpSkt->lpfnReport(lpSkt->lpReportContext, dwLevel, lpszText);
}

/* A blocking call left running on this thread would make the next one fail
   with WSAEINPROGRESS under Winsock 1.1. */
static BOOL CancelBlockingCall(void)
{
    if (!WSAIsBlocking())
        return FALSE;
    WSACancelBlockingCall();
    return TRUE;
}

/* select() for one socket alone; the first argument is the socket plus one. */
static int WaitForSocket(SOCKET hSocket, BOOL bWrite, DWORD dwSeconds)
{
    fd_set fds;
    struct timeval tv;

    FD_ZERO(&fds);
    FD_SET(hSocket, &fds);
    tv.tv_sec = (long)dwSeconds;
    tv.tv_usec = 0;
    if (bWrite)
        return select((int)(hSocket + 1), NULL, &fds, NULL, &tv);
    return select((int)(hSocket + 1), &fds, NULL, NULL, &tv);
}

static int ReceiveDatagram(SOCKET hSocket, char *pBuffer)
{
    struct sockaddr_in saFrom;
    int cbFrom = (int)sizeof(saFrom);

    return recvfrom(hSocket, pBuffer, SKT_REPLY_BUF_LEN, 0, (struct sockaddr *)&saFrom, &cbFrom);
}

/* ---- Start-up ---- */

BOOL StartSock(void)
{
    WSADATA wsaData;

    if (WSAStartup(MAKEWORD(1, 1), &wsaData) != 0)
        return FALSE;
    if (LOBYTE(wsaData.wVersion) != 1 || HIBYTE(wsaData.wVersion) != 1) {
        WSACleanup();
        return FALSE;
    }
    return TRUE;
}

/* ---- Socket objects ---- */

BOOL SktCreate(LPSkt *lppSkt, SktReportProc lpfnReport, LPVOID lpContext, LPCSTR lpszAddress)
{
    LPSkt lpSkt = (LPSkt)malloc(sizeof(Skt));

    if (lpSkt == NULL) {
        if (lpfnReport != NULL)
            lpfnReport(lpContext, 2, "SktCreate: malloc failed");
        return FALSE;
    }
    memset(lpSkt, 0, sizeof(Skt));
    lpSkt->lpfnReport = lpfnReport;
    lpSkt->lpReportContext = lpContext;
    Trace(lpSkt, 0, "SktCreate: malloc'ed");
    lpSkt->bBusy = FALSE;

    if (!InitSockAddr(lpSkt, lpszAddress)) {
        Trace(lpSkt, 2, "SktCreate: InitSockAddr failed");
        free(lpSkt);
        return FALSE;
    }
    Trace(lpSkt, 0, "SktCreate: Socket address initialized");
    *lppSkt = lpSkt;
    return TRUE;
}

BOOL SktDestroy(LPSkt lpSkt)
{
    free(lpSkt);
    return TRUE;
}

BOOL SktClose(LPSkt lpSkt)
{
    if (DoDisconnect(lpSkt) == INVALID_SOCKET) {
        Trace(lpSkt, 0, "SktClose: Socket disconnected");
        return TRUE;
    }
    Trace(lpSkt, 1, "SktClose: DoDisconnect failed");
    return FALSE;
}

BOOL InitSockAddr(LPSkt lpSkt, LPCSTR lpszAddress)
{
    unsigned long ulAddr;
    struct hostent *lpHost;
    int cbAddr;

    memset(&lpSkt->saPrinter, 0, sizeof(lpSkt->saPrinter));
    lpSkt->saPrinter.sin_family = AF_INET;
    lpSkt->saPrinter.sin_port = htons(ZUV_PRINTER_PORT);

    /* 255.255.255.255 converts to INADDR_NONE too, so it goes to the
       resolver like any host name. */
    ulAddr = inet_addr(lpszAddress);
    if (ulAddr != INADDR_NONE) {
        lpSkt->saPrinter.sin_addr.s_addr = ulAddr;
        Trace(lpSkt, 0, "InitSockAddr: Got host by address");
        return TRUE;
    }

    lpHost = gethostbyname(lpszAddress);
    if (lpHost == NULL || lpHost->h_addr_list == NULL || lpHost->h_addr_list[0] == NULL)
        return FALSE;
    Trace(lpSkt, 0, "InitSockAddr: Got host by name");
    cbAddr = lpHost->h_length;
    if (cbAddr > (int)sizeof(lpSkt->saPrinter.sin_addr))
        cbAddr = (int)sizeof(lpSkt->saPrinter.sin_addr);
    if (cbAddr > 0)
        memcpy(&lpSkt->saPrinter.sin_addr, lpHost->h_addr_list[0], (size_t)cbAddr);
    return TRUE;
}

SOCKET DoDisconnect(LPSkt lpSkt)
{
    if (CancelBlockingCall())
        Trace(lpSkt, 0, "DoDisconnect: Cancelling blocking call");

    /* A socket of 0 was never opened by this object: leave it alone. */
    if (lpSkt->hSocket != 0) {
        if (closesocket(lpSkt->hSocket) == 0) {
            Trace(lpSkt, 0, "DoDisconnect: Socket closed");
            lpSkt->hSocket = INVALID_SOCKET;
        }
    }
    return lpSkt->hSocket;
}

/* ---- Data channel ---- */

BOOL SktOpenSend(LPSkt lpSkt, DWORD dwSeconds)
{
    lpSkt->hSocket = ZUVConnectTCP(lpSkt, dwSeconds);
    if (lpSkt->hSocket != INVALID_SOCKET) {
        Trace(lpSkt, 0, "SktOpenSend: TCP socket connected");
        return TRUE;
    }
    Trace(lpSkt, 2, "SktOpenSend: ZUVConnectTCP failed");
    return FALSE;
}

SOCKET ZUVConnectTCP(LPSkt lpSkt, DWORD dwSeconds)
{
    struct protoent *lpProto;
    int nProtocol = 6;
    SOCKET hSocket;
    struct linger lingerOff;
    int nOobInline = 1;
    int nSendTimeout;

    lpProto = getprotobyname("tcp");
    if (lpProto != NULL)
        nProtocol = lpProto->p_proto;

    hSocket = socket(AF_INET, SOCK_STREAM, nProtocol);
    if (hSocket == INVALID_SOCKET)
        return INVALID_SOCKET;

    if (connect(hSocket, (struct sockaddr *)&lpSkt->saPrinter, (int)sizeof(lpSkt->saPrinter)) != 0)
        goto failed;

    /* Lingering off: closing returns at once and the stack still delivers
       what is queued before it ends the connection. */
    lingerOff.l_onoff = 0;
    lingerOff.l_linger = 0;
    if (setsockopt(hSocket, SOL_SOCKET, SO_LINGER, (const char *)&lingerOff, (int)sizeof(lingerOff)) != 0)
        goto failed;
    if (setsockopt(hSocket, SOL_SOCKET, SO_OOBINLINE, (const char *)&nOobInline, (int)sizeof(nOobInline)) != 0)
        goto failed;

    nSendTimeout = (int)(dwSeconds * 1000);
    if (setsockopt(hSocket, SOL_SOCKET, SO_SNDTIMEO, (const char *)&nSendTimeout, (int)sizeof(nSendTimeout)) == 0) {
        lpSkt->dwSelectTimeout = 0;
        Trace(lpSkt, 0, "ZUVConnectTCP: Connected with all options");
        return hSocket;
    }
    /* A stack without send timeouts: SendBuffer waits for writability itself. */
    if (WSAGetLastError() == WSAENOPROTOOPT) {
        lpSkt->dwSelectTimeout = dwSeconds;
        return hSocket;
    }

failed:
    lpSkt->hSocket = hSocket;
    return DoDisconnect(lpSkt);
}

BOOL SktSend(LPSkt lpSkt, LPBYTE pBytes, DWORD cbBytes, LPLONG plSent)
{
    DWORD dwCode = SKT_SEND_DONE;
    BOOL bResult;

    if (lpSkt->bBusy) {
        Trace(lpSkt, 1, "SktSend: Send semaphore unavailable");
        *plSent = 0;
        return FALSE;
    }
    Trace(lpSkt, 0, "SktSend: Got send semaphore");
    lpSkt->bBusy = TRUE;

    *plSent = SendBuffer(lpSkt, pBytes, cbBytes, &dwCode);
    if (dwCode == SKT_SEND_STOPPED) {
        Trace(lpSkt, 1, "SktSend: Send failed");
        bResult = FALSE;
    } else {
        Trace(lpSkt, 0, "SktSend: Send succeeded");
        bResult = TRUE;
    }
    lpSkt->bBusy = FALSE;
    return bResult;
}

/* Returns the count sent, or -1 after a failed send call: remaining is set
   to count + 1 then, and the unsigned difference wraps to exactly -1. */
LONG SendBuffer(LPSkt lpSkt, LPBYTE pBytes, DWORD cbBytes, LPDWORD pdwCode)
{
    DWORD dwCode = SKT_SEND_DONE;
    DWORD cbRemaining = cbBytes;
    LPBYTE pNext = pBytes;

    while (cbRemaining > 0 && dwCode == SKT_SEND_DONE) {
        int cbOffer;
        int cbSent;

        if (lpSkt->dwSelectTimeout != 0) {
            int nReady = WaitForSocket(lpSkt->hSocket, TRUE, lpSkt->dwSelectTimeout);
            if (nReady != 1) {
                dwCode = SKT_SEND_STOPPED;
                break;
            }
        }
        /* send() takes an int count: a larger buffer goes out in more calls. */
        cbOffer = cbRemaining > 0x7FFFFFFFu ? 0x7FFFFFFF : (int)cbRemaining;
        cbSent = send(lpSkt->hSocket, (const char *)pNext, cbOffer, 0);
        if (cbSent == SOCKET_ERROR) {
            cbRemaining = cbBytes + 1;
            dwCode = SKT_SEND_STOPPED;
        } else {
            cbRemaining -= (DWORD)cbSent;
            pNext += cbSent;
        }
    }
    *pdwCode = dwCode;
    return (LONG)(cbBytes - cbRemaining);
}

/* ---- Status channel ---- */

BOOL SktOpenStatus(LPSkt lpSkt, DWORD dwSeconds)
{
    lpSkt->hSocket = ZUVConnectUDP(lpSkt);
    if (lpSkt->hSocket != INVALID_SOCKET) {
        Trace(lpSkt, 0, "SktOpenStatus: UDP socket connected");
        lpSkt->dwStatusTimeout = dwSeconds;
        return TRUE;
    }
    Trace(lpSkt, 2, "SktOpenStatus: ZUVConnectUDP failed");
    return FALSE;
}

SOCKET ZUVConnectUDP(LPSkt lpSkt)
{
    SOCKET hSocket;
    int nBroadcast = 1;
    struct sockaddr_in saLocal;

    hSocket = socket(AF_INET, SOCK_DGRAM, 0);
    if (hSocket == INVALID_SOCKET)
        return INVALID_SOCKET;

    /* Without the option the socket still works: its first sendto binds it. */
    if (setsockopt(hSocket, SOL_SOCKET, SO_BROADCAST, (const char *)&nBroadcast, (int)sizeof(nBroadcast)) != 0)
        return hSocket;

    memset(&saLocal, 0, sizeof(saLocal));
    saLocal.sin_family = AF_INET;
    saLocal.sin_addr.s_addr = htonl(INADDR_ANY);
    saLocal.sin_port = htons(0);
    if (bind(hSocket, (struct sockaddr *)&saLocal, (int)sizeof(saLocal)) != 0) {
        lpSkt->hSocket = hSocket;
        return DoDisconnect(lpSkt);
    }
    return hSocket;
}

/* The result is stored once, atomically, after the poll: the caller's
   variable may be one that another thread reads. */
BOOL SktStatus(LPSkt lpSkt, LPSTR lpszText, LPDWORD pdwResult)
{
    DWORD dwResult;
    BOOL bResult;

    if (lpSkt->bBusy) {
        Trace(lpSkt, 1, "SktStatus: Status semaphore unavailable");
        ZUVStore(*pdwResult, (DWORD)ZUV_STS_NOANSWER);
        lpszText[0] = '\0';
        return FALSE;
    }
    Trace(lpSkt, 0, "SktStatus: Got status semaphore");
    lpSkt->bBusy = TRUE;

    dwResult = GetStatus(lpSkt, lpSkt->hSocket, lpszText);
    ZUVStore(*pdwResult, dwResult);
    if (dwResult != ZUV_STS_NOANSWER) {
        Trace(lpSkt, 0, "SktStatus: Got status");
        bResult = TRUE;
    } else {
        Trace(lpSkt, 2, "SktStatus: GetStatus failed");
        bResult = FALSE;
    }
    lpSkt->bBusy = FALSE;
    return bResult;
}

static WORD ReadNetWord(const char *pBuffer, int nOffset)
{
    WORD w;

    memcpy(&w, pBuffer + nOffset, sizeof(w));
    return ntohs(w);
}

static DWORD ReadNetDword(const char *pBuffer, int nOffset)
{
    DWORD dw;

    memcpy(&dw, pBuffer + nOffset, sizeof(dw));
    return ntohl(dw);
}

/* Throws away every datagram that arrives less than a second after the
   previous one: replies to earlier polls must not pass for this poll's. */
static BOOL DrainStatusSocket(SOCKET hSocket, char *pBuffer)
{
    for (;;) {
        int nReady = WaitForSocket(hSocket, FALSE, SKT_DRAIN_SECONDS);
        if (nReady == 0)
            return TRUE;
        if (nReady != 1)
            return FALSE;
        if (ReceiveDatagram(hSocket, pBuffer) == SOCKET_ERROR)
            return FALSE;
    }
}

/* Finds the printer's text in a reply of cbReceived bytes and terminates it
   inside the buffer.  The printer's offset and length are not trusted: the
   text is cut to the bytes received and to leave room for the terminator in
   the 256-byte buffer, so nothing past the datagram is ever read. */
static LPCSTR LocateReplyText(char *pBuffer, int cbReceived)
{
    int nOffset = ReadNetWord(pBuffer, REPLY_OFS_TEXTOFFSET);
    int nEnd = nOffset + ReadNetWord(pBuffer, REPLY_OFS_TEXTLENGTH);

    if (nEnd > cbReceived)
        nEnd = cbReceived;
    if (nEnd > SKT_REPLY_BUF_LEN - 1)
        nEnd = SKT_REPLY_BUF_LEN - 1;
    if (nOffset >= nEnd)
        return "";
    pBuffer[nEnd] = '\0';
    return pBuffer + nOffset;
}

/* Copies at most cbMax - 1 characters and always terminates. */
static void CopyCut(LPSTR lpszDest, LPCSTR lpszSrc, int cbMax)
{
    int cch = 0;

    while (cch < cbMax - 1 && lpszSrc[cch] != '\0') {
        lpszDest[cch] = lpszSrc[cch];
        cch++;
    }
    lpszDest[cch] = '\0';
}

DWORD GetStatus(LPSkt lpSkt, SOCKET hSocket, LPSTR lpszText)
{
    char achReply[SKT_REPLY_BUF_LEN];
    char achRequest[SKT_STATUS_REQUEST_LEN];
    char szLine[SKT_TRACE_LINE_LEN];
    char szTraceText[SKT_TRACE_LINE_LEN];
    int cbReceived;
    BYTE bStatus;
    DWORD dwAcceptMask;
    DWORD dwResult;
    LPCSTR lpszPrinterText;

    CancelBlockingCall();

    if (!DrainStatusSocket(hSocket, achReply))
        return ZUV_STS_NOANSWER;

    memset(achRequest, 0, sizeof(achRequest));
    if (sendto(hSocket, achRequest, SKT_STATUS_REQUEST_LEN, 0, (struct sockaddr *)&lpSkt->saPrinter,
               (int)sizeof(lpSkt->saPrinter)) != SKT_STATUS_REQUEST_LEN)
        return ZUV_STS_NOANSWER;

    if (WaitForSocket(hSocket, FALSE, lpSkt->dwStatusTimeout) != 1)
        return ZUV_STS_NOANSWER;

    /* Whoever sent it, the first datagram is the reply.  One too short to
       hold the fixed fields cannot be read as one and counts as no answer. */
    cbReceived = ReceiveDatagram(hSocket, achReply);
    if (cbReceived == SOCKET_ERROR || cbReceived < SKT_REPLY_HEADER_LEN)
        return ZUV_STS_NOANSWER;

    bStatus = (BYTE)achReply[REPLY_OFS_STATUS];
    dwAcceptMask = ReadNetDword(achReply, REPLY_OFS_ACCEPTMASK);
    /* Both values are bounded (2 and 8 hex digits): the line always fits.
       wsprintfA's "l" takes a 32-bit argument: the DWORD itself. */
    wsprintfA(szLine, "GetStatus: pr_status = %02x and pr_acceptmask = %08lx", (UINT)bStatus, dwAcceptMask);
    Trace(lpSkt, 0, szLine);

    if ((bStatus & PR_STATUS_NOTREADY) == 0 && (dwAcceptMask & PR_ACCEPT_DATA) != 0)
        dwResult = ZUV_STS_READY;
    else
        dwResult = ZUV_STS_NOTREADY;

    /* The text is cut before formatting so that the line stays within its
       128 bytes (and far below wsprintfA's own output limit). */
    lpszPrinterText = LocateReplyText(achReply, cbReceived);
    CopyCut(szTraceText, lpszPrinterText, SKT_TRACE_TEXT_MAX + 1);
    wsprintfA(szLine, "GetStatus: string from printer is <%s>", szTraceText);
    Trace(lpSkt, 0, szLine);

    /* szStatus holds 127 characters and the terminator. */
    if (bStatus == PR_STATUS_BUSY || bStatus == PR_STATUS_BUSY_ALT)
        LoadStringA(ghInstance, IDS_PRINTER_BUSY, lpszText, ZUV_NAME_LEN);
    else
        CopyCut(lpszText, lpszPrinterText, ZUV_NAME_LEN);
    return dwResult;
}

/* ---- End-of-job trap wait ---- */

void waitForTrap(LPZUVPort lpZUVPort)
{
    SOCKET hSocket = ZUVConnectSNMP();

    ZUVStore(lpZUVPort->bWaitingForTrap, (BOOL)TRUE);
    ReceiveTrap(hSocket);
    closesocket(hSocket);
    ZUVStore(lpZUVPort->bWaitingForTrap, (BOOL)FALSE);
}

SOCKET ZUVConnectSNMP(void)
{
    SOCKET hSocket;
    struct sockaddr_in saLocal;

    hSocket = socket(AF_INET, SOCK_DGRAM, 0);
    if (hSocket == INVALID_SOCKET)
        return INVALID_SOCKET;

    /* Another port's wait may hold the trap port: the wait then goes ahead
       unbound and simply runs to its time-out. */
    memset(&saLocal, 0, sizeof(saLocal));
    saLocal.sin_family = AF_INET;
    saLocal.sin_addr.s_addr = htonl(INADDR_ANY);
    saLocal.sin_port = htons(ZUV_TRAP_PORT);
    bind(hSocket, (struct sockaddr *)&saLocal, (int)sizeof(saLocal));
    return hSocket;
}

/* Any datagram ends the wait: the trap is not decoded. */
void ReceiveTrap(SOCKET hSocket)
{
    char achTrap[SKT_REPLY_BUF_LEN];

    CancelBlockingCall();
    if (WaitForSocket(hSocket, FALSE, ZUV_TRAP_WAIT_SECONDS) == 1)
        ReceiveDatagram(hSocket, achTrap);
}

/* ---- Merge of discovered printers ---- */

/* The library's fields are fixed-size and might lack their terminator. */
static void CopyField(LPSTR lpszDest, const char *pField, int cbField)
{
    int cch = 0;

    while (cch < cbField && cch < ZUV_NAME_LEN - 1 && pField[cch] != '\0') {
        lpszDest[cch] = pField[cch];
        cch++;
    }
    lpszDest[cch] = '\0';
}

void AutoDiscover(LPZUVMon lpZUVMon)
{
    struct dev_entry *lpEntry;

    for (lpEntry = AutoDiscoverPrinters(); lpEntry != NULL; lpEntry = lpEntry->next) {
        char szName[ZUV_NAME_LEN];
        LPZUVPort lpZUVPort;

        /* An existing port keeps its address and settings. */
        CopyField(szName, lpEntry->name, ZUVSNMP_NAME_LEN);
        if (FindZUVPortInList(lpZUVMon, szName) != NULL)
            continue;

        lpZUVPort = (LPZUVPort)malloc(sizeof(ZUVPort));
        if (lpZUVPort == NULL)
            continue;
        memset(lpZUVPort, 0, sizeof(ZUVPort));
        SetZUVPortDefaults(lpZUVPort);
        CopyField(lpZUVPort->szPortName, lpEntry->name, ZUVSNMP_NAME_LEN);
        CopyField(lpZUVPort->szIPAddress, lpEntry->addr, ZUVSNMP_ADDR_LEN);

        /* Takes the record over: appended to the list, or freed there. */
        AddAutoDiscoveredPort(lpZUVMon, lpZUVPort);
    }
}
