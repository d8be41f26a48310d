/* Test switches of the host layer's Windows Sockets. */
#ifndef DORVE_WINSOCK_HOST_H
#define DORVE_WINSOCK_HOST_H

#include "../windef.h"

/* The next WSAStartup calls fail with wsaError (0: they succeed) and
   report wReportedVersion in wVersion (0: the version asked for, at most
   1.1). */
DORVE_API void DorveWsaSetStartupResult(int wsaError, WORD wReportedVersion);
/* WSACleanup calls since the last DorveWsaReset. */
DORVE_API int DorveWsaCleanupCount(void);
/* setsockopt(SO_SNDTIMEO) fails with WSAENOPROTOOPT, as on stacks
   without send timeouts. */
DORVE_API void DorveWsaRefuseSndTimeo(BOOL bRefuse);
/* getprotobyname("tcp") finds no entry. */
DORVE_API void DorveWsaSetNoTcpProtocol(BOOL bNone);
/* gethostbyname(name) answers dottedAddress before the system resolver
   is asked. */
DORVE_API void DorveWsaAddHost(const char *name, const char *dottedAddress);
/* With bLocalOnly, gethostbyname answers only from the names added with
   DorveWsaAddHost, dotted addresses and /etc/hosts, and never asks a name
   server.  The environment variable DORVE_RESOLVER=local sets it at start;
   every test runs that way, so no lookup leaves the machine. */
DORVE_API void DorveWsaSetLocalNamesOnly(BOOL bLocalOnly);
/* Winsock port wPort (host order) is really host port wHostPort: bind,
   connect and sendto use wHostPort, and addresses reported back (accept,
   recvfrom, getsockname, getpeername) show wPort again.  Lets a test run
   the printer's port 35 and the trap port 162 without privileges.  A
   wHostPort of 0 removes the mapping. */
DORVE_API void DorveWsaMapPort(WORD wPort, WORD wHostPort);
/* Sockets open in the layer's socket table (made by socket or accept and
   not yet closed). */
DORVE_API int DorveWsaSocketCount(void);
/* All switches off, hosts and port mappings cleared, counters 0. */
DORVE_API void DorveWsaReset(void);

#endif
