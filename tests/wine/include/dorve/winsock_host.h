/* Winsock test switches, Windows build: see hostonly.h. */
#ifndef DORVE_WINSOCK_HOST_H
#define DORVE_WINSOCK_HOST_H

#include "hostonly.h"

#ifdef __cplusplus
extern "C" {
#endif

void DorveWsaSetStartupResult(int wsaError, WORD wReportedVersion);
int DorveWsaCleanupCount(void);
void DorveWsaRefuseSndTimeo(BOOL bRefuse);
void DorveWsaSetNoTcpProtocol(BOOL bNone);
void DorveWsaAddHost(const char *name, const char *dottedAddress);
void DorveWsaMapPort(WORD wPort, WORD wHostPort);
void DorveWsaReset(void);

#ifdef __cplusplus
}
#endif

#endif
