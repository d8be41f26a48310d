/* DORVEMON: the port channel adapters, through which the rest of the monitor
   reaches the network, and the start of the socket library. */
#include "zuvmon.h"

BOOL StartPrint(LPZUVMon lpZUVMon)
{
    return StartSock() ? TRUE : FALSE;
}

BOOL StartStatus(LPZUVMon lpZUVMon, LPZUVPort lpZUVPort)
{
    if (!SktCreate(&lpZUVPort->lpStatusSkt, ReportSockStatus, lpZUVPort, lpZUVPort->szIPAddress))
        return FALSE;
    if (SktOpenStatus(lpZUVPort->lpStatusSkt, lpZUVPort->dwStsTimeout))
        return TRUE;
    SktDestroy(lpZUVPort->lpStatusSkt);
    lpZUVPort->lpStatusSkt = NULL;
    return FALSE;
}

/* The poll's result is published with one store: a poll that got no answer
   shows as "not ready" at once, as the status thread would make it, so the
   spooler thread waiting in the pre-send check never sees the passing "no
   answer" and takes a silent printer for a ready one. */
BOOL ReadStatus(LPZUVMon lpZUVMon, LPZUVPort lpZUVPort)
{
    DWORD dwResult;
    BOOL bReply;

    lpZUVPort->szStatus[0] = '\0';
    bReply = SktStatus(lpZUVPort->lpStatusSkt, lpZUVPort->szStatus, &dwResult);
    ZUVStore(lpZUVPort->dwPrinterStatus, bReply ? dwResult : (DWORD)ZUV_STS_NOTREADY);
    return bReply;
}

/* A socket that will not close keeps its object, so the port still points
   at something it can try again. */
BOOL EndStatus(LPZUVMon lpZUVMon, LPZUVPort lpZUVPort)
{
    if (!SktClose(lpZUVPort->lpStatusSkt))
        return FALSE;
    SktDestroy(lpZUVPort->lpStatusSkt);
    lpZUVPort->lpStatusSkt = NULL;
    return TRUE;
}

BOOL StartSend(LPZUVMon lpZUVMon, LPZUVPort lpZUVPort)
{
    /* The status thread leaves 2 both for a printer that takes no data and
       for one that did not answer: neither is sent to. */
    if (ZUVLoad(lpZUVPort->dwPrinterStatus) == ZUV_STS_NOTREADY)
        return FALSE;
    if (!SktCreate(&lpZUVPort->lpSendSkt, ReportSockStatus, lpZUVPort, lpZUVPort->szIPAddress))
        return FALSE;
    if (SktOpenSend(lpZUVPort->lpSendSkt, lpZUVPort->dwSendTimeout * 60))
        return TRUE;
    SktDestroy(lpZUVPort->lpSendSkt);
    lpZUVPort->lpSendSkt = NULL;
    return FALSE;
}

BOOL WriteSend(LPZUVMon lpZUVMon, LPZUVPort lpZUVPort, LPBYTE pBuffer, DWORD cbBuf,
               LPLONG pcbWritten)
{
    *pcbWritten = 0;
    return SktSend(lpZUVPort->lpSendSkt, pBuffer, cbBuf, pcbWritten);
}

BOOL EndSend(LPZUVMon lpZUVMon, LPZUVPort lpZUVPort)
{
    if (!SktClose(lpZUVPort->lpSendSkt))
        return FALSE;
    SktDestroy(lpZUVPort->lpSendSkt);
    lpZUVPort->lpSendSkt = NULL;
    return TRUE;
}

/* The monitor keeps no log: socket traces go nowhere. */
void ReportSockStatus(LPVOID lpContext, DWORD dwLevel, LPCSTR lpszText)
{
}
