/* Windows Sockets 1.1 of the host layer, over the host's BSD sockets.

   Types and values are Winsock's own (32-bit u_long and timeval fields,
   fd_set as a counted array of SOCKETs, Winsock option numbers and error
   codes).  The functions carry link names of the form DorveWs_<name>, so
   that they never take the place of the host C library's socket calls.
   A source file that includes this header must not also include the host's
   socket headers (<sys/socket.h>, <netinet/in.h>, <netdb.h>, <arpa/inet.h>). */
#ifndef DORVE_WINSOCK_H
#define DORVE_WINSOCK_H

#include "windef.h"
#include "winerror.h"
#include "winbase.h"

/* The host headers that declare select, fd_set, timeval, u_long and
   gethostname come first, so that the Winsock names below can replace
   them for the rest of the source file.  A caller's own FD_SETSIZE, set
   before this header as on Windows, survives the host's definition. */
#if defined(FD_SETSIZE) && !defined(_SYS_SELECT_H)
#define DORVE_WS_CALLER_SETSIZE 1
#pragma push_macro("FD_SETSIZE")
#undef FD_SETSIZE
#endif
#include <sys/types.h>
#include <sys/time.h>
#include <sys/select.h>
#include <unistd.h>
#ifdef DORVE_WS_CALLER_SETSIZE
#undef FD_SETSIZE
#pragma pop_macro("FD_SETSIZE")
#elif defined(FD_SETSIZE) && defined(__FD_SETSIZE) && (FD_SETSIZE == __FD_SETSIZE)
#undef FD_SETSIZE
#endif
#ifndef FD_SETSIZE
#define FD_SETSIZE 64
#endif

#undef FD_SET
#undef FD_CLR
#undef FD_ZERO
#undef FD_ISSET
#define u_long DorveWsULong
#define fd_set DorveWsFdSet
#define timeval DorveWsTimeval
#define select DorveWs_select
#define gethostname DorveWs_gethostname

#define DORVE_WS_LINK(name) __asm__("DorveWs_" #name)

typedef unsigned char u_char;
typedef unsigned short u_short;
typedef unsigned int u_int;
typedef uint32_t DorveWsULong;

typedef UINT_PTR SOCKET;

typedef struct DorveWsFdSet {
    u_int fd_count;
    SOCKET fd_array[FD_SETSIZE];
} DorveWsFdSet, *PFD_SET, *LPFD_SET;

struct DorveWsTimeval {
    LONG tv_sec;
    LONG tv_usec;
};
typedef struct DorveWsTimeval TIMEVAL, *PTIMEVAL, *LPTIMEVAL;

DORVE_API int WINAPI __WSAFDIsSet(SOCKET fd, fd_set *set);

#define FD_CLR(fd, set) do { \
    u_int dorve_i_; \
    for (dorve_i_ = 0; dorve_i_ < ((fd_set *)(set))->fd_count; dorve_i_++) { \
        if (((fd_set *)(set))->fd_array[dorve_i_] == (SOCKET)(fd)) { \
            while (dorve_i_ < ((fd_set *)(set))->fd_count - 1) { \
                ((fd_set *)(set))->fd_array[dorve_i_] = ((fd_set *)(set))->fd_array[dorve_i_ + 1]; \
                dorve_i_++; \
            } \
            ((fd_set *)(set))->fd_count--; \
            break; \
        } \
    } \
} while (0)
#define FD_SET(fd, set) do { \
    if (((fd_set *)(set))->fd_count < FD_SETSIZE) \
        ((fd_set *)(set))->fd_array[((fd_set *)(set))->fd_count++] = (SOCKET)(fd); \
} while (0)
#define FD_ZERO(set) (((fd_set *)(set))->fd_count = 0)
#define FD_ISSET(fd, set) __WSAFDIsSet((SOCKET)(fd), (fd_set *)(set))

#define INVALID_SOCKET ((SOCKET)(~0))
#define SOCKET_ERROR (-1)

/* ---- Addresses and database entries ---- */
struct in_addr {
    union {
        struct { u_char s_b1, s_b2, s_b3, s_b4; } S_un_b;
        struct { u_short s_w1, s_w2; } S_un_w;
        u_long S_addr;
    } S_un;
};
#define s_addr S_un.S_addr
#define s_host S_un.S_un_b.s_b2
#define s_net S_un.S_un_b.s_b1
#define s_imp S_un.S_un_w.s_w2
#define s_impno S_un.S_un_b.s_b4
#define s_lh S_un.S_un_b.s_b3
typedef struct in_addr IN_ADDR, *PIN_ADDR, *LPIN_ADDR;

struct sockaddr {
    u_short sa_family;
    char sa_data[14];
};
typedef struct sockaddr SOCKADDR, *PSOCKADDR, *LPSOCKADDR;

struct sockaddr_in {
    short sin_family;
    u_short sin_port;
    struct in_addr sin_addr;
    char sin_zero[8];
};
typedef struct sockaddr_in SOCKADDR_IN, *PSOCKADDR_IN, *LPSOCKADDR_IN;

struct hostent {
    char *h_name;
    char **h_aliases;
    short h_addrtype;
    short h_length;
    char **h_addr_list;
#define h_addr h_addr_list[0]
};
typedef struct hostent HOSTENT, *PHOSTENT, *LPHOSTENT;

struct protoent {
    char *p_name;
    char **p_aliases;
    short p_proto;
};
typedef struct protoent PROTOENT, *PPROTOENT, *LPPROTOENT;

struct linger {
    u_short l_onoff;
    u_short l_linger;
};
typedef struct linger LINGER, *PLINGER, *LPLINGER;

#define WSADESCRIPTION_LEN 256
#define WSASYS_STATUS_LEN 128
typedef struct WSAData {
    WORD wVersion;
    WORD wHighVersion;
    char szDescription[WSADESCRIPTION_LEN + 1];
    char szSystemStatus[WSASYS_STATUS_LEN + 1];
    unsigned short iMaxSockets;
    unsigned short iMaxUdpDg;
    char *lpVendorInfo;
} WSADATA, *LPWSADATA;

/* ---- Values ---- */
#define AF_UNSPEC 0
#define AF_INET 2
#define PF_UNSPEC AF_UNSPEC
#define PF_INET AF_INET
#define SOCK_STREAM 1
#define SOCK_DGRAM 2
#define SOCK_RAW 3
#define IPPROTO_IP 0
#define IPPROTO_ICMP 1
#define IPPROTO_TCP 6
#define IPPROTO_UDP 17
#define IPPORT_RESERVED 1024

#define INADDR_ANY ((u_long)0x00000000)
#define INADDR_LOOPBACK 0x7f000001
#define INADDR_BROADCAST ((u_long)0xffffffff)
#define INADDR_NONE 0xffffffff

#define MSG_OOB 0x1
#define MSG_PEEK 0x2
#define MSG_DONTROUTE 0x4
#define MSG_MAXIOVLEN 16

#define SOL_SOCKET 0xffff
#define SO_DEBUG 0x0001
#define SO_ACCEPTCONN 0x0002
#define SO_REUSEADDR 0x0004
#define SO_KEEPALIVE 0x0008
#define SO_DONTROUTE 0x0010
#define SO_BROADCAST 0x0020
#define SO_USELOOPBACK 0x0040
#define SO_LINGER 0x0080
#define SO_OOBINLINE 0x0100
#define SO_DONTLINGER ((u_int)(~SO_LINGER))
#define SO_SNDBUF 0x1001
#define SO_RCVBUF 0x1002
#define SO_SNDLOWAT 0x1003
#define SO_RCVLOWAT 0x1004
#define SO_SNDTIMEO 0x1005
#define SO_RCVTIMEO 0x1006
#define SO_ERROR 0x1007
#define SO_TYPE 0x1008
#define TCP_NODELAY 0x0001
#define SOMAXCONN 5

#define SD_RECEIVE 0x00
#define SD_SEND 0x01
#define SD_BOTH 0x02

#define IOCPARM_MASK 0x7f
#define IOC_VOID 0x20000000
#define IOC_OUT 0x40000000
#define IOC_IN 0x80000000
#define _IOR(x, y, t) (IOC_OUT | (((LONG)sizeof(t) & IOCPARM_MASK) << 16) | ((x) << 8) | (y))
#define _IOW(x, y, t) (IOC_IN | (((LONG)sizeof(t) & IOCPARM_MASK) << 16) | ((x) << 8) | (y))
#define FIONREAD _IOR('f', 127, u_long)
#define FIONBIO _IOW('f', 126, u_long)

/* ---- Error codes ---- */
#define WSABASEERR 10000
#define WSAEINTR (WSABASEERR + 4)
#define WSAEBADF (WSABASEERR + 9)
#define WSAEACCES (WSABASEERR + 13)
#define WSAEFAULT (WSABASEERR + 14)
#define WSAEINVAL (WSABASEERR + 22)
#define WSAEMFILE (WSABASEERR + 24)
#define WSAEWOULDBLOCK (WSABASEERR + 35)
#define WSAEINPROGRESS (WSABASEERR + 36)
#define WSAEALREADY (WSABASEERR + 37)
#define WSAENOTSOCK (WSABASEERR + 38)
#define WSAEDESTADDRREQ (WSABASEERR + 39)
#define WSAEMSGSIZE (WSABASEERR + 40)
#define WSAEPROTOTYPE (WSABASEERR + 41)
#define WSAENOPROTOOPT (WSABASEERR + 42)
#define WSAEPROTONOSUPPORT (WSABASEERR + 43)
#define WSAESOCKTNOSUPPORT (WSABASEERR + 44)
#define WSAEOPNOTSUPP (WSABASEERR + 45)
#define WSAEPFNOSUPPORT (WSABASEERR + 46)
#define WSAEAFNOSUPPORT (WSABASEERR + 47)
#define WSAEADDRINUSE (WSABASEERR + 48)
#define WSAEADDRNOTAVAIL (WSABASEERR + 49)
#define WSAENETDOWN (WSABASEERR + 50)
#define WSAENETUNREACH (WSABASEERR + 51)
#define WSAENETRESET (WSABASEERR + 52)
#define WSAECONNABORTED (WSABASEERR + 53)
#define WSAECONNRESET (WSABASEERR + 54)
#define WSAENOBUFS (WSABASEERR + 55)
#define WSAEISCONN (WSABASEERR + 56)
#define WSAENOTCONN (WSABASEERR + 57)
#define WSAESHUTDOWN (WSABASEERR + 58)
#define WSAETOOMANYREFS (WSABASEERR + 59)
#define WSAETIMEDOUT (WSABASEERR + 60)
#define WSAECONNREFUSED (WSABASEERR + 61)
#define WSAELOOP (WSABASEERR + 62)
#define WSAENAMETOOLONG (WSABASEERR + 63)
#define WSAEHOSTDOWN (WSABASEERR + 64)
#define WSAEHOSTUNREACH (WSABASEERR + 65)
#define WSAENOTEMPTY (WSABASEERR + 66)
#define WSAEPROCLIM (WSABASEERR + 67)
#define WSAEUSERS (WSABASEERR + 68)
#define WSAEDQUOT (WSABASEERR + 69)
#define WSAESTALE (WSABASEERR + 70)
#define WSAEREMOTE (WSABASEERR + 71)
#define WSASYSNOTREADY (WSABASEERR + 91)
#define WSAVERNOTSUPPORTED (WSABASEERR + 92)
#define WSANOTINITIALISED (WSABASEERR + 93)
#define WSAEDISCON (WSABASEERR + 101)
#define WSAHOST_NOT_FOUND (WSABASEERR + 1001)
#define WSATRY_AGAIN (WSABASEERR + 1002)
#define WSANO_RECOVERY (WSABASEERR + 1003)
#define WSANO_DATA (WSABASEERR + 1004)
#define WSANO_ADDRESS WSANO_DATA

/* ---- Functions ---- */
DORVE_API int WINAPI WSAStartup(WORD wVersionRequired, LPWSADATA lpWSAData);
DORVE_API int WINAPI WSACleanup(void);
DORVE_API int WINAPI WSAGetLastError(void);
DORVE_API void WINAPI WSASetLastError(int iError);
DORVE_API BOOL WINAPI WSAIsBlocking(void);
DORVE_API int WINAPI WSACancelBlockingCall(void);

DORVE_API SOCKET WINAPI socket(int af, int type, int protocol) DORVE_WS_LINK(socket);
DORVE_API int WINAPI bind(SOCKET s, const struct sockaddr *addr, int namelen) DORVE_WS_LINK(bind);
DORVE_API int WINAPI connect(SOCKET s, const struct sockaddr *name, int namelen) DORVE_WS_LINK(connect);
DORVE_API int WINAPI listen(SOCKET s, int backlog) DORVE_WS_LINK(listen);
DORVE_API SOCKET WINAPI accept(SOCKET s, struct sockaddr *addr, int *addrlen) DORVE_WS_LINK(accept);
DORVE_API int WINAPI send(SOCKET s, const char *buf, int len, int flags) DORVE_WS_LINK(send);
DORVE_API int WINAPI recv(SOCKET s, char *buf, int len, int flags) DORVE_WS_LINK(recv);
DORVE_API int WINAPI sendto(SOCKET s, const char *buf, int len, int flags, const struct sockaddr *to,
                            int tolen) DORVE_WS_LINK(sendto);
DORVE_API int WINAPI recvfrom(SOCKET s, char *buf, int len, int flags, struct sockaddr *from,
                              int *fromlen) DORVE_WS_LINK(recvfrom);
DORVE_API int WINAPI closesocket(SOCKET s);
DORVE_API int WINAPI shutdown(SOCKET s, int how) DORVE_WS_LINK(shutdown);
DORVE_API int WINAPI setsockopt(SOCKET s, int level, int optname, const char *optval, int optlen)
    DORVE_WS_LINK(setsockopt);
DORVE_API int WINAPI getsockopt(SOCKET s, int level, int optname, char *optval, int *optlen)
    DORVE_WS_LINK(getsockopt);
DORVE_API int WINAPI getsockname(SOCKET s, struct sockaddr *name, int *namelen) DORVE_WS_LINK(getsockname);
DORVE_API int WINAPI getpeername(SOCKET s, struct sockaddr *name, int *namelen) DORVE_WS_LINK(getpeername);
DORVE_API int WINAPI ioctlsocket(SOCKET s, LONG cmd, u_long *argp);
DORVE_API int WINAPI select(int nfds, fd_set *readfds, fd_set *writefds, fd_set *exceptfds,
                            const struct timeval *timeout);

DORVE_API struct hostent *WINAPI gethostbyname(const char *name) DORVE_WS_LINK(gethostbyname);
DORVE_API int WINAPI gethostname(char *name, int namelen);
DORVE_API struct protoent *WINAPI getprotobyname(const char *name) DORVE_WS_LINK(getprotobyname);
DORVE_API u_long WINAPI inet_addr(const char *cp) DORVE_WS_LINK(inet_addr);
DORVE_API char *WINAPI inet_ntoa(struct in_addr in) DORVE_WS_LINK(inet_ntoa);
DORVE_API u_short WINAPI htons(u_short hostshort) DORVE_WS_LINK(htons);
DORVE_API u_long WINAPI htonl(u_long hostlong) DORVE_WS_LINK(htonl);
DORVE_API u_short WINAPI ntohs(u_short netshort) DORVE_WS_LINK(ntohs);
DORVE_API u_long WINAPI ntohl(u_long netlong) DORVE_WS_LINK(ntohl);

#endif
