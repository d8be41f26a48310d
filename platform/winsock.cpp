// Windows Sockets 1.1 of the host layer over the host's BSD sockets.
//
// This file speaks to the host's socket headers, so it cannot include the
// layer's own winsock.h (whose types carry the same names); it keeps
// private copies of the Winsock records (Ws*) whose layouts are checked
// below, and exports the functions under the link names that winsock.h
// gives them (DorveWs_<name>).
#include <windows.h>

#include "dorve/clock.h"
#include "dorve/winsock_host.h"

#include <arpa/inet.h>
#include <errno.h>
#include <fcntl.h>
#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <strings.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <map>
#include <mutex>
#include <string>
#include <vector>

#define WS_EXPORT extern "C" __attribute__((visibility("default")))

namespace {

// ---- Winsock's records and values ----

typedef UINT_PTR WsSocket;
const WsSocket WS_INVALID_SOCKET = (WsSocket)~(WsSocket)0;
const int WS_SOCKET_ERROR = -1;

struct WsSockAddrIn {
    int16_t sin_family;
    uint16_t sin_port;
    uint32_t sin_addr;
    char sin_zero[8];
};
struct WsFdSet {
    u_int fd_count;
    WsSocket fd_array[1];  // fd_count entries follow, as many as the caller's FD_SETSIZE
};
struct WsTimeval {
    LONG tv_sec;
    LONG tv_usec;
};
struct WsHostent {
    char *h_name;
    char **h_aliases;
    int16_t h_addrtype;
    int16_t h_length;
    char **h_addr_list;
};
struct WsProtoent {
    char *p_name;
    char **p_aliases;
    int16_t p_proto;
};
struct WsLinger {
    uint16_t l_onoff;
    uint16_t l_linger;
};
struct WsData {
    WORD wVersion;
    WORD wHighVersion;
    char szDescription[257];
    char szSystemStatus[129];
    unsigned short iMaxSockets;
    unsigned short iMaxUdpDg;
    char *lpVendorInfo;
};
static_assert(sizeof(WsSockAddrIn) == 16, "SOCKADDR_IN is 16 bytes");
static_assert(sizeof(WsTimeval) == 8, "timeval has two 32-bit fields");
static_assert(sizeof(WsLinger) == 4, "linger has two 16-bit fields");
static_assert(offsetof(WsData, iMaxSockets) == 390, "WSADATA layout");

const int WS_AF_INET = 2;
const int WS_SOCK_STREAM = 1;
const int WS_SOCK_DGRAM = 2;
const int WS_SOCK_RAW = 3;
const int WS_MSG_OOB = 0x1;
const int WS_MSG_PEEK = 0x2;
const int WS_MSG_DONTROUTE = 0x4;
const int WS_SOL_SOCKET = 0xffff;
const int WS_IPPROTO_TCP = 6;
const int WS_TCP_NODELAY = 0x0001;
enum {
    WS_SO_DEBUG = 0x0001,
    WS_SO_ACCEPTCONN = 0x0002,
    WS_SO_REUSEADDR = 0x0004,
    WS_SO_KEEPALIVE = 0x0008,
    WS_SO_DONTROUTE = 0x0010,
    WS_SO_BROADCAST = 0x0020,
    WS_SO_LINGER = 0x0080,
    WS_SO_OOBINLINE = 0x0100,
    WS_SO_DONTLINGER = (int)(~0x0080u),
    WS_SO_SNDBUF = 0x1001,
    WS_SO_RCVBUF = 0x1002,
    WS_SO_SNDTIMEO = 0x1005,
    WS_SO_RCVTIMEO = 0x1006,
    WS_SO_ERROR = 0x1007,
    WS_SO_TYPE = 0x1008,
};
const uint32_t WS_FIONBIO = 0x8004667Eu;
const uint32_t WS_FIONREAD = 0x4004667Fu;

enum {
    WSAEINTR = 10004, WSAEBADF = 10009, WSAEACCES = 10013, WSAEFAULT = 10014, WSAEINVAL = 10022,
    WSAEMFILE = 10024, WSAEWOULDBLOCK = 10035, WSAEINPROGRESS = 10036, WSAEALREADY = 10037,
    WSAENOTSOCK = 10038, WSAEDESTADDRREQ = 10039, WSAEMSGSIZE = 10040, WSAEPROTOTYPE = 10041,
    WSAENOPROTOOPT = 10042, WSAEPROTONOSUPPORT = 10043, WSAESOCKTNOSUPPORT = 10044,
    WSAEOPNOTSUPP = 10045, WSAEPFNOSUPPORT = 10046, WSAEAFNOSUPPORT = 10047, WSAEADDRINUSE = 10048,
    WSAEADDRNOTAVAIL = 10049, WSAENETDOWN = 10050, WSAENETUNREACH = 10051, WSAENETRESET = 10052,
    WSAECONNABORTED = 10053, WSAECONNRESET = 10054, WSAENOBUFS = 10055, WSAEISCONN = 10056,
    WSAENOTCONN = 10057, WSAESHUTDOWN = 10058, WSAETOOMANYREFS = 10059, WSAETIMEDOUT = 10060,
    WSAECONNREFUSED = 10061, WSAELOOP = 10062, WSAENAMETOOLONG = 10063, WSAEHOSTDOWN = 10064,
    WSAEHOSTUNREACH = 10065, WSAENOTEMPTY = 10066, WSAEUSERS = 10068, WSAEDQUOT = 10069,
    WSAESTALE = 10070, WSAEREMOTE = 10071, WSAVERNOTSUPPORTED = 10092, WSANOTINITIALISED = 10093,
    WSAHOST_NOT_FOUND = 11001, WSATRY_AGAIN = 11002, WSANO_RECOVERY = 11003, WSANO_DATA = 11004,
};

// ---- State ----

struct SocketEntry {
    int fd;
    int type;
    bool bNonBlocking;
    bool bSendShut;
    DWORD dwSndTimeoMs;
    DWORD dwRcvTimeoMs;
};

bool LocalNamesFromEnvironment()
{
    const char *psz = getenv("DORVE_RESOLVER");
    return psz != nullptr && strcmp(psz, "local") == 0;
}

// Looks name up in /etc/hosts alone: the resolver of the local-names mode.
bool LookUpHostsFile(const char *name, uint32_t *pAddr)
{
    FILE *pFile = fopen("/etc/hosts", "r");
    if (pFile == nullptr)
        return false;
    char szLine[512];
    bool bFound = false;
    while (!bFound && fgets(szLine, sizeof(szLine), pFile) != nullptr) {
        char *pHash = strchr(szLine, '#');
        if (pHash != nullptr)
            *pHash = '\0';
        char *pSave = nullptr;
        char *pAddrText = strtok_r(szLine, " \t\r\n", &pSave);
        in_addr addr;
        if (pAddrText == nullptr || ::inet_pton(AF_INET, pAddrText, &addr) != 1)
            continue;
        for (char *pName = strtok_r(nullptr, " \t\r\n", &pSave); pName != nullptr;
             pName = strtok_r(nullptr, " \t\r\n", &pSave)) {
            if (strcasecmp(pName, name) == 0) {
                *pAddr = addr.s_addr;
                bFound = true;
                break;
            }
        }
    }
    fclose(pFile);
    return bFound;
}

struct WsState {
    std::mutex lock;
    std::map<WsSocket, SocketEntry> sockets;
    WsSocket nextSocket = 0x100;
    int nStartCount = 0;
    // test switches
    int iStartupError = 0;
    WORD wReportedVersion = 0;
    int nCleanupCalls = 0;
    bool bRefuseSndTimeo = false;
    bool bNoTcpProtocol = false;
    std::vector<std::pair<std::string, uint32_t>> hosts;  // address in network order
    std::map<uint16_t, uint16_t> portToHost;             // host byte order both
    bool bLocalNamesOnly = LocalNamesFromEnvironment();
};

WsState &Ws()
{
    static WsState *pState = new WsState;
    return *pState;
}

int Fail(int iError)
{
    SetLastError((DWORD)iError);
    return WS_SOCKET_ERROR;
}

int ErrnoToWsa(int err)
{
    switch (err) {
    case EINTR: return WSAEINTR;
    case EBADF: return WSAENOTSOCK;
    case EACCES: case EPERM: return WSAEACCES;
    case EFAULT: return WSAEFAULT;
    case EINVAL: return WSAEINVAL;
    case EMFILE: case ENFILE: return WSAEMFILE;
    case EAGAIN: case EINPROGRESS: return WSAEWOULDBLOCK;
    case EALREADY: return WSAEALREADY;
    case ENOTSOCK: return WSAENOTSOCK;
    case EDESTADDRREQ: return WSAEDESTADDRREQ;
    case EMSGSIZE: return WSAEMSGSIZE;
    case EPROTOTYPE: return WSAEPROTOTYPE;
    case ENOPROTOOPT: return WSAENOPROTOOPT;
    case EPROTONOSUPPORT: return WSAEPROTONOSUPPORT;
    case ESOCKTNOSUPPORT: return WSAESOCKTNOSUPPORT;
    case EOPNOTSUPP: return WSAEOPNOTSUPP;
    case EPFNOSUPPORT: return WSAEPFNOSUPPORT;
    case EAFNOSUPPORT: return WSAEAFNOSUPPORT;
    case EADDRINUSE: return WSAEADDRINUSE;
    case EADDRNOTAVAIL: return WSAEADDRNOTAVAIL;
    case ENETDOWN: return WSAENETDOWN;
    case ENETUNREACH: return WSAENETUNREACH;
    case ENETRESET: return WSAENETRESET;
    case ECONNABORTED: return WSAECONNABORTED;
    case ECONNRESET: case EPIPE: return WSAECONNRESET;
    case ENOBUFS: case ENOMEM: return WSAENOBUFS;
    case EISCONN: return WSAEISCONN;
    case ENOTCONN: return WSAENOTCONN;
    case ESHUTDOWN: return WSAESHUTDOWN;
    case ETOOMANYREFS: return WSAETOOMANYREFS;
    case ETIMEDOUT: return WSAETIMEDOUT;
    case ECONNREFUSED: return WSAECONNREFUSED;
    case ELOOP: return WSAELOOP;
    case ENAMETOOLONG: return WSAENAMETOOLONG;
    case EHOSTDOWN: return WSAEHOSTDOWN;
    case EHOSTUNREACH: return WSAEHOSTUNREACH;
    case ENOTEMPTY: return WSAENOTEMPTY;
    case EUSERS: return WSAEUSERS;
    case EDQUOT: return WSAEDQUOT;
    case ESTALE: return WSAESTALE;
    case EREMOTE: return WSAEREMOTE;
    default: return WSAEINVAL;
    }
}

int FailErrno(int err) { return Fail(ErrnoToWsa(err)); }

// A blocking socket whose SO_SNDTIMEO/SO_RCVTIMEO ran out reports a
// time-out, a non-blocking one that it would block.
int FailIo(const SocketEntry &entry, int err)
{
    if ((err == EAGAIN || err == EWOULDBLOCK) && !entry.bNonBlocking)
        return Fail(WSAETIMEDOUT);
    if (err == EPIPE && entry.bSendShut)
        return Fail(WSAESHUTDOWN);
    return FailErrno(err);
}

bool Started()
{
    WsState &ws = Ws();
    std::lock_guard<std::mutex> guard(ws.lock);
    return ws.nStartCount > 0;
}

// Looks the socket up; fails the call (last error set) when it cannot be used.
bool GetEntry(WsSocket s, SocketEntry &entry)
{
    WsState &ws = Ws();
    std::lock_guard<std::mutex> guard(ws.lock);
    if (ws.nStartCount <= 0) {
        SetLastError(WSANOTINITIALISED);
        return false;
    }
    auto it = ws.sockets.find(s);
    if (it == ws.sockets.end()) {
        SetLastError(WSAENOTSOCK);
        return false;
    }
    entry = it->second;
    return true;
}

template <typename Fn> void UpdateEntry(WsSocket s, Fn fn)
{
    WsState &ws = Ws();
    std::lock_guard<std::mutex> guard(ws.lock);
    auto it = ws.sockets.find(s);
    if (it != ws.sockets.end())
        fn(it->second);
}

WsSocket AddSocket(int fd, int type, bool bNonBlocking)
{
    WsState &ws = Ws();
    std::lock_guard<std::mutex> guard(ws.lock);
    WsSocket s = ws.nextSocket;
    while (ws.sockets.count(s) != 0 || s == 0 || s == WS_INVALID_SOCKET)
        s += 4;
    ws.nextSocket = s + 4;
    ws.sockets[s] = SocketEntry{fd, type, bNonBlocking, false, 0, 0};
    return s;
}

// ---- Addresses ----

uint16_t MapPort(uint16_t wNetPort, bool bToHost)
{
    WsState &ws = Ws();
    std::lock_guard<std::mutex> guard(ws.lock);
    uint16_t wPort = ntohs(wNetPort);
    for (const auto &map : ws.portToHost) {
        if (bToHost && map.first == wPort)
            return htons(map.second);
        if (!bToHost && map.second == wPort)
            return htons(map.first);
    }
    return wNetPort;
}

int ToHostAddr(const void *pvAddr, int cbAddr, sockaddr_in &sin)
{
    if (pvAddr == nullptr || cbAddr < (int)sizeof(WsSockAddrIn))
        return WSAEFAULT;
    WsSockAddrIn wsa;
    memcpy(&wsa, pvAddr, sizeof(wsa));
    if (wsa.sin_family != WS_AF_INET)
        return WSAEAFNOSUPPORT;
    memset(&sin, 0, sizeof(sin));
    sin.sin_family = AF_INET;
    sin.sin_port = MapPort(wsa.sin_port, true);
    sin.sin_addr.s_addr = wsa.sin_addr;
    return 0;
}

// Writes a host address back in Winsock's form; false when it does not fit.
bool FromHostAddr(const sockaddr_in &sin, void *pvAddr, int *pcbAddr)
{
    if (pvAddr == nullptr && pcbAddr == nullptr)
        return true;
    if (pvAddr == nullptr || pcbAddr == nullptr || *pcbAddr < (int)sizeof(WsSockAddrIn))
        return false;
    WsSockAddrIn wsa;
    memset(&wsa, 0, sizeof(wsa));
    wsa.sin_family = WS_AF_INET;
    wsa.sin_port = MapPort(sin.sin_port, false);
    wsa.sin_addr = sin.sin_addr.s_addr;
    memcpy(pvAddr, &wsa, sizeof(wsa));
    *pcbAddr = (int)sizeof(wsa);
    return true;
}

int HostFlags(int flags, bool bSending)
{
    int hostFlags = 0;
    if (flags & WS_MSG_OOB)
        hostFlags |= MSG_OOB;
    if (flags & WS_MSG_PEEK)
        hostFlags |= MSG_PEEK;
    if (flags & WS_MSG_DONTROUTE)
        hostFlags |= MSG_DONTROUTE;
    if (bSending)
        hostFlags |= MSG_NOSIGNAL;  // a lost peer is an error code, never a signal
    return hostFlags;
}

timeval RealTimeval(DWORD dwSimulatedMs)
{
    DWORD dwRealMs = DorveClockToRealMs(dwSimulatedMs);
    timeval tv;
    tv.tv_sec = dwRealMs / 1000;
    tv.tv_usec = (dwRealMs % 1000) * 1000;
    return tv;
}

// ---- Receiving ----

int ReceiveFrom(WsSocket s, char *buf, int len, int flags, void *pvFrom, int *pcbFrom)
{
    SocketEntry entry;
    if (!GetEntry(s, entry))
        return WS_SOCKET_ERROR;
    if (len < 0 || (buf == nullptr && len > 0))
        return Fail(WSAEFAULT);
    if (pvFrom != nullptr && (pcbFrom == nullptr || *pcbFrom < (int)sizeof(WsSockAddrIn)))
        return Fail(WSAEFAULT);
    int hostFlags = HostFlags(flags, false);
    // A datagram longer than the buffer fills it, loses the rest and fails.
    bool bDatagram = entry.type != WS_SOCK_STREAM;
    if (bDatagram)
        hostFlags |= MSG_TRUNC;
    sockaddr_in sin;
    socklen_t cbSin;
    ssize_t cb;
    do {
        memset(&sin, 0, sizeof(sin));
        cbSin = sizeof(sin);
        cb = ::recvfrom(entry.fd, buf, (size_t)len, hostFlags, (sockaddr *)&sin, &cbSin);
    } while (cb < 0 && errno == EINTR);
    if (cb < 0)
        return FailIo(entry, errno);
    if (pvFrom != nullptr && cbSin >= sizeof(sockaddr_in) && sin.sin_family == AF_INET)
        FromHostAddr(sin, pvFrom, pcbFrom);
    if (bDatagram && cb > len)
        return Fail(WSAEMSGSIZE);
    return (int)cb;
}

int SendTo(WsSocket s, const char *buf, int len, int flags, const void *pvTo, int cbTo)
{
    SocketEntry entry;
    if (!GetEntry(s, entry))
        return WS_SOCKET_ERROR;
    if (len < 0 || (buf == nullptr && len > 0))
        return Fail(WSAEFAULT);
    if (entry.bSendShut)
        return Fail(WSAESHUTDOWN);
    sockaddr_in sin;
    if (pvTo != nullptr) {
        int iError = ToHostAddr(pvTo, cbTo, sin);
        if (iError != 0)
            return Fail(iError);
    }
    ssize_t cb;
    do {
        cb = pvTo != nullptr
                 ? ::sendto(entry.fd, buf, (size_t)len, HostFlags(flags, true), (const sockaddr *)&sin, sizeof(sin))
                 : ::send(entry.fd, buf, (size_t)len, HostFlags(flags, true));
    } while (cb < 0 && errno == EINTR);
    if (cb < 0)
        return FailIo(entry, errno);
    return (int)cb;
}

// ---- Options ----

bool ReadIntOption(const char *optval, int optlen, int &iValue)
{
    if (optval == nullptr || optlen <= 0)
        return false;
    if (optlen >= (int)sizeof(int)) {
        memcpy(&iValue, optval, sizeof(int));
    } else {
        iValue = (unsigned char)optval[0];
    }
    return true;
}

int HostSocketOption(int optname)
{
    switch (optname) {
    case WS_SO_DEBUG: return SO_DEBUG;
    case WS_SO_REUSEADDR: return SO_REUSEADDR;
    case WS_SO_KEEPALIVE: return SO_KEEPALIVE;
    case WS_SO_DONTROUTE: return SO_DONTROUTE;
    case WS_SO_BROADCAST: return SO_BROADCAST;
    case WS_SO_OOBINLINE: return SO_OOBINLINE;
    case WS_SO_SNDBUF: return SO_SNDBUF;
    case WS_SO_RCVBUF: return SO_RCVBUF;
    case WS_SO_ACCEPTCONN: return SO_ACCEPTCONN;
    default: return -1;
    }
}

int SetTimeoutOption(WsSocket s, const SocketEntry &entry, int optname, const char *optval, int optlen)
{
    if (optval == nullptr || optlen < (int)sizeof(DWORD))
        return Fail(WSAEFAULT);
    DWORD dwMs;
    memcpy(&dwMs, optval, sizeof(dwMs));
    timeval tv = RealTimeval(dwMs);
    int hostName = optname == WS_SO_SNDTIMEO ? SO_SNDTIMEO : SO_RCVTIMEO;
    if (::setsockopt(entry.fd, SOL_SOCKET, hostName, &tv, sizeof(tv)) != 0)
        return FailErrno(errno);
    UpdateEntry(s, [&](SocketEntry &e) {
        if (optname == WS_SO_SNDTIMEO)
            e.dwSndTimeoMs = dwMs;
        else
            e.dwRcvTimeoMs = dwMs;
    });
    return 0;
}

int SetLingerOption(const SocketEntry &entry, int optname, const char *optval, int optlen)
{
    if (entry.type != WS_SOCK_STREAM)
        return Fail(WSAENOPROTOOPT);
    linger lg;
    if (optname == WS_SO_LINGER) {
        if (optval == nullptr || optlen < (int)sizeof(WsLinger))
            return Fail(WSAEFAULT);
        WsLinger wl;
        memcpy(&wl, optval, sizeof(wl));
        lg.l_onoff = wl.l_onoff != 0;
        lg.l_linger = wl.l_linger;
    } else {
        int iDont;
        if (!ReadIntOption(optval, optlen, iDont))
            return Fail(WSAEFAULT);
        lg.l_onoff = iDont == 0;
        lg.l_linger = 0;
    }
    if (::setsockopt(entry.fd, SOL_SOCKET, SO_LINGER, &lg, sizeof(lg)) != 0)
        return FailErrno(errno);
    return 0;
}

int WriteOption(char *optval, int *optlen, const void *pvValue, int cbValue)
{
    if (optval == nullptr || optlen == nullptr || *optlen < cbValue)
        return Fail(WSAEFAULT);
    memcpy(optval, pvValue, (size_t)cbValue);
    *optlen = cbValue;
    return 0;
}

// ---- Name services ----

struct HostBuffer {
    WsHostent he;
    char szName[256];
    char *apszAliases[1];
    char *apAddrs[17];
    uint32_t aAddrs[16];
};

struct ProtoBuffer {
    WsProtoent pe;
    char szName[16];
    char szAlias[16];
    char *apszAliases[2];
};

thread_local HostBuffer tlsHost;
thread_local ProtoBuffer tlsProto;
thread_local char tlsNtoa[16];

bool EqualNoCase(const char *psz1, const char *psz2) { return lstrcmpiA(psz1, psz2) == 0; }

WsHostent *FillHost(const char *pszName, const uint32_t *pAddrs, int cAddrs)
{
    HostBuffer &hb = tlsHost;
    memset(&hb, 0, sizeof(hb));
    lstrcpynA(hb.szName, pszName, (int)sizeof(hb.szName));
    for (int i = 0; i < cAddrs && i < 16; i++) {
        hb.aAddrs[i] = pAddrs[i];
        hb.apAddrs[i] = (char *)&hb.aAddrs[i];
    }
    hb.he.h_name = hb.szName;
    hb.he.h_aliases = hb.apszAliases;
    hb.he.h_addrtype = WS_AF_INET;
    hb.he.h_length = 4;
    hb.he.h_addr_list = hb.apAddrs;
    return &hb.he;
}

} // namespace

// ---- Start-up ----

extern "C" int WINAPI WSAStartup(WORD wVersionRequired, WsData *lpWSAData)
{
    WsState &ws = Ws();
    std::lock_guard<std::mutex> guard(ws.lock);
    if (ws.iStartupError != 0)
        return ws.iStartupError;
    BYTE bMajor = LOBYTE(wVersionRequired), bMinor = HIBYTE(wVersionRequired);
    if (bMajor == 0)
        return WSAVERNOTSUPPORTED;
    if (lpWSAData == nullptr)
        return WSAEFAULT;
    WORD wVersion = (bMajor == 1 && bMinor == 0) ? MAKEWORD(1, 0) : MAKEWORD(1, 1);
    if (ws.wReportedVersion != 0)
        wVersion = ws.wReportedVersion;
    memset(lpWSAData, 0, sizeof(*lpWSAData));
    lpWSAData->wVersion = wVersion;
    lpWSAData->wHighVersion = MAKEWORD(1, 1);
    lstrcpynA(lpWSAData->szDescription, "Windows Sockets 1.1 over host sockets", 257);
    lstrcpynA(lpWSAData->szSystemStatus, "Running", 129);
    lpWSAData->iMaxSockets = 32767;
    lpWSAData->iMaxUdpDg = 65467;
    lpWSAData->lpVendorInfo = nullptr;
    ws.nStartCount++;
    return 0;
}

extern "C" int WINAPI WSACleanup(void)
{
    std::vector<int> fds;
    {
        WsState &ws = Ws();
        std::lock_guard<std::mutex> guard(ws.lock);
        ws.nCleanupCalls++;
        if (ws.nStartCount <= 0)
            return Fail(WSANOTINITIALISED);
        // The last cleanup ends every socket the process still has.
        if (--ws.nStartCount == 0) {
            for (auto &entry : ws.sockets)
                fds.push_back(entry.second.fd);
            ws.sockets.clear();
        }
    }
    for (int fd : fds)
        ::close(fd);
    return 0;
}

extern "C" int WINAPI WSAGetLastError(void) { return (int)GetLastError(); }

extern "C" void WINAPI WSASetLastError(int iError) { SetLastError((DWORD)iError); }

// Blocking calls here are real blocking calls of the host: a thread never
// has a cancellable one in progress.
extern "C" BOOL WINAPI WSAIsBlocking(void) { return FALSE; }

extern "C" int WINAPI WSACancelBlockingCall(void)
{
    return Fail(Started() ? WSAEINVAL : WSANOTINITIALISED);
}

// ---- Sockets ----

WS_EXPORT WsSocket DorveWs_socket(int af, int type, int protocol)
{
    if (!Started()) {
        SetLastError(WSANOTINITIALISED);
        return WS_INVALID_SOCKET;
    }
    if (af != WS_AF_INET) {
        SetLastError(WSAEAFNOSUPPORT);
        return WS_INVALID_SOCKET;
    }
    if (type != WS_SOCK_STREAM && type != WS_SOCK_DGRAM && type != WS_SOCK_RAW) {
        SetLastError(WSAESOCKTNOSUPPORT);
        return WS_INVALID_SOCKET;
    }
    int hostType = type == WS_SOCK_STREAM ? SOCK_STREAM : type == WS_SOCK_DGRAM ? SOCK_DGRAM : SOCK_RAW;
    int fd = ::socket(AF_INET, hostType | SOCK_CLOEXEC, protocol);
    if (fd < 0) {
        FailErrno(errno);
        return WS_INVALID_SOCKET;
    }
    return AddSocket(fd, type, false);
}

extern "C" int WINAPI closesocket(WsSocket s)
{
    int fd;
    {
        WsState &ws = Ws();
        std::lock_guard<std::mutex> guard(ws.lock);
        if (ws.nStartCount <= 0)
            return Fail(WSANOTINITIALISED);
        auto it = ws.sockets.find(s);
        if (it == ws.sockets.end())
            return Fail(WSAENOTSOCK);
        fd = it->second.fd;
        ws.sockets.erase(it);
    }
    ::close(fd);
    return 0;
}

WS_EXPORT int DorveWs_bind(WsSocket s, const void *addr, int namelen)
{
    SocketEntry entry;
    if (!GetEntry(s, entry))
        return WS_SOCKET_ERROR;
    sockaddr_in sin;
    int iError = ToHostAddr(addr, namelen, sin);
    if (iError != 0)
        return Fail(iError);
    if (::bind(entry.fd, (const sockaddr *)&sin, sizeof(sin)) != 0)
        return FailErrno(errno);
    return 0;
}

// Waits for a connection attempt that a signal interrupted, as a blocking
// connect would have.
int FinishInterruptedConnect(int fd)
{
    pollfd pfd = {fd, POLLOUT, 0};
    while (::poll(&pfd, 1, -1) < 0 && errno == EINTR) {
    }
    int err = 0;
    socklen_t cb = sizeof(err);
    if (::getsockopt(fd, SOL_SOCKET, SO_ERROR, &err, &cb) != 0)
        return errno;
    return err;
}

WS_EXPORT int DorveWs_connect(WsSocket s, const void *name, int namelen)
{
    SocketEntry entry;
    if (!GetEntry(s, entry))
        return WS_SOCKET_ERROR;
    sockaddr_in sin;
    int iError = ToHostAddr(name, namelen, sin);
    if (iError != 0)
        return Fail(iError);
    if (::connect(entry.fd, (const sockaddr *)&sin, sizeof(sin)) == 0)
        return 0;
    int err = errno;
    if (err == EINTR && !entry.bNonBlocking)
        err = FinishInterruptedConnect(entry.fd);
    return err == 0 ? 0 : FailErrno(err);
}

WS_EXPORT int DorveWs_listen(WsSocket s, int backlog)
{
    SocketEntry entry;
    if (!GetEntry(s, entry))
        return WS_SOCKET_ERROR;
    if (entry.type != WS_SOCK_STREAM)
        return Fail(WSAEOPNOTSUPP);
    // Winsock does not bind an unbound socket for listen.
    sockaddr_in sin;
    socklen_t cb = sizeof(sin);
    if (::getsockname(entry.fd, (sockaddr *)&sin, &cb) == 0 && sin.sin_port == 0)
        return Fail(WSAEINVAL);
    if (::listen(entry.fd, backlog) != 0)
        return FailErrno(errno);
    return 0;
}

WS_EXPORT WsSocket DorveWs_accept(WsSocket s, void *addr, int *addrlen)
{
    SocketEntry entry;
    if (!GetEntry(s, entry))
        return WS_INVALID_SOCKET;
    if (addr != nullptr && (addrlen == nullptr || *addrlen < (int)sizeof(WsSockAddrIn))) {
        SetLastError(WSAEFAULT);
        return WS_INVALID_SOCKET;
    }
    sockaddr_in sin;
    socklen_t cb;
    int fd;
    do {
        cb = sizeof(sin);
        fd = ::accept4(entry.fd, (sockaddr *)&sin, &cb, SOCK_CLOEXEC | (entry.bNonBlocking ? SOCK_NONBLOCK : 0));
    } while (fd < 0 && errno == EINTR);
    if (fd < 0) {
        FailIo(entry, errno);
        return WS_INVALID_SOCKET;
    }
    if (addr != nullptr)
        FromHostAddr(sin, addr, addrlen);
    return AddSocket(fd, WS_SOCK_STREAM, entry.bNonBlocking);
}

WS_EXPORT int DorveWs_send(WsSocket s, const char *buf, int len, int flags)
{
    return SendTo(s, buf, len, flags, nullptr, 0);
}

WS_EXPORT int DorveWs_sendto(WsSocket s, const char *buf, int len, int flags, const void *to, int tolen)
{
    return SendTo(s, buf, len, flags, to, tolen);
}

WS_EXPORT int DorveWs_recv(WsSocket s, char *buf, int len, int flags)
{
    return ReceiveFrom(s, buf, len, flags, nullptr, nullptr);
}

WS_EXPORT int DorveWs_recvfrom(WsSocket s, char *buf, int len, int flags, void *from, int *fromlen)
{
    return ReceiveFrom(s, buf, len, flags, from, fromlen);
}

WS_EXPORT int DorveWs_shutdown(WsSocket s, int how)
{
    SocketEntry entry;
    if (!GetEntry(s, entry))
        return WS_SOCKET_ERROR;
    if (how < 0 || how > 2)
        return Fail(WSAEINVAL);
    int hostHow = how == 0 ? SHUT_RD : how == 1 ? SHUT_WR : SHUT_RDWR;
    if (::shutdown(entry.fd, hostHow) != 0)
        return FailErrno(errno);
    if (how != 0)
        UpdateEntry(s, [](SocketEntry &e) { e.bSendShut = true; });
    return 0;
}

WS_EXPORT int DorveWs_setsockopt(WsSocket s, int level, int optname, const char *optval, int optlen)
{
    SocketEntry entry;
    if (!GetEntry(s, entry))
        return WS_SOCKET_ERROR;
    if (level == WS_IPPROTO_TCP) {
        int iValue;
        if (optname != WS_TCP_NODELAY)
            return Fail(WSAENOPROTOOPT);
        if (!ReadIntOption(optval, optlen, iValue))
            return Fail(WSAEFAULT);
        iValue = iValue != 0;
        if (::setsockopt(entry.fd, IPPROTO_TCP, TCP_NODELAY, &iValue, sizeof(iValue)) != 0)
            return FailErrno(errno);
        return 0;
    }
    if (level != WS_SOL_SOCKET)
        return Fail(WSAEINVAL);
    switch (optname) {
    case WS_SO_SNDTIMEO:
        if (Ws().bRefuseSndTimeo)
            return Fail(WSAENOPROTOOPT);
        return SetTimeoutOption(s, entry, optname, optval, optlen);
    case WS_SO_RCVTIMEO:
        return SetTimeoutOption(s, entry, optname, optval, optlen);
    case WS_SO_LINGER:
    case WS_SO_DONTLINGER:
        return SetLingerOption(entry, optname, optval, optlen);
    case WS_SO_ACCEPTCONN:
        return Fail(WSAENOPROTOOPT);
    default:
        break;
    }
    int hostName = HostSocketOption(optname);
    if (hostName < 0)
        return Fail(WSAENOPROTOOPT);
    int iValue;
    if (!ReadIntOption(optval, optlen, iValue))
        return Fail(WSAEFAULT);
    if (hostName != SO_SNDBUF && hostName != SO_RCVBUF)
        iValue = iValue != 0;
    if (::setsockopt(entry.fd, SOL_SOCKET, hostName, &iValue, sizeof(iValue)) != 0)
        return FailErrno(errno);
    return 0;
}

WS_EXPORT int DorveWs_getsockopt(WsSocket s, int level, int optname, char *optval, int *optlen)
{
    SocketEntry entry;
    if (!GetEntry(s, entry))
        return WS_SOCKET_ERROR;
    int iValue = 0;
    socklen_t cb = sizeof(iValue);
    if (level == WS_IPPROTO_TCP) {
        if (optname != WS_TCP_NODELAY)
            return Fail(WSAENOPROTOOPT);
        if (::getsockopt(entry.fd, IPPROTO_TCP, TCP_NODELAY, &iValue, &cb) != 0)
            return FailErrno(errno);
        iValue = iValue != 0;
        return WriteOption(optval, optlen, &iValue, sizeof(iValue));
    }
    if (level != WS_SOL_SOCKET)
        return Fail(WSAEINVAL);
    switch (optname) {
    case WS_SO_SNDTIMEO:
        return WriteOption(optval, optlen, &entry.dwSndTimeoMs, sizeof(DWORD));
    case WS_SO_RCVTIMEO:
        return WriteOption(optval, optlen, &entry.dwRcvTimeoMs, sizeof(DWORD));
    case WS_SO_LINGER:
    case WS_SO_DONTLINGER: {
        if (entry.type != WS_SOCK_STREAM)
            return Fail(WSAENOPROTOOPT);
        linger lg;
        socklen_t cbLg = sizeof(lg);
        if (::getsockopt(entry.fd, SOL_SOCKET, SO_LINGER, &lg, &cbLg) != 0)
            return FailErrno(errno);
        if (optname == WS_SO_DONTLINGER) {
            iValue = lg.l_onoff == 0;
            return WriteOption(optval, optlen, &iValue, sizeof(iValue));
        }
        WsLinger wl = {(uint16_t)(lg.l_onoff != 0), (uint16_t)lg.l_linger};
        return WriteOption(optval, optlen, &wl, sizeof(wl));
    }
    case WS_SO_ERROR:
        if (::getsockopt(entry.fd, SOL_SOCKET, SO_ERROR, &iValue, &cb) != 0)
            return FailErrno(errno);
        iValue = iValue == 0 ? 0 : ErrnoToWsa(iValue);
        return WriteOption(optval, optlen, &iValue, sizeof(iValue));
    case WS_SO_TYPE:
        iValue = entry.type;
        return WriteOption(optval, optlen, &iValue, sizeof(iValue));
    default:
        break;
    }
    int hostName = HostSocketOption(optname);
    if (hostName < 0)
        return Fail(WSAENOPROTOOPT);
    if (::getsockopt(entry.fd, SOL_SOCKET, hostName, &iValue, &cb) != 0)
        return FailErrno(errno);
    // The host reports twice the buffer size it was given; Winsock reports what was set.
    if (hostName == SO_SNDBUF || hostName == SO_RCVBUF)
        iValue /= 2;
    else
        iValue = iValue != 0;
    return WriteOption(optval, optlen, &iValue, sizeof(iValue));
}

static int GetName(WsSocket s, void *name, int *namelen, bool bPeer)
{
    SocketEntry entry;
    if (!GetEntry(s, entry))
        return WS_SOCKET_ERROR;
    if (name == nullptr || namelen == nullptr || *namelen < (int)sizeof(WsSockAddrIn))
        return Fail(WSAEFAULT);
    sockaddr_in sin;
    socklen_t cb = sizeof(sin);
    int rc = bPeer ? ::getpeername(entry.fd, (sockaddr *)&sin, &cb) : ::getsockname(entry.fd, (sockaddr *)&sin, &cb);
    if (rc != 0)
        return FailErrno(errno);
    // Winsock calls an unbound socket's name invalid.
    if (!bPeer && sin.sin_port == 0 && sin.sin_addr.s_addr == 0)
        return Fail(WSAEINVAL);
    FromHostAddr(sin, name, namelen);
    return 0;
}

WS_EXPORT int DorveWs_getsockname(WsSocket s, void *name, int *namelen) { return GetName(s, name, namelen, false); }

WS_EXPORT int DorveWs_getpeername(WsSocket s, void *name, int *namelen) { return GetName(s, name, namelen, true); }

extern "C" int WINAPI ioctlsocket(WsSocket s, LONG cmd, uint32_t *argp)
{
    SocketEntry entry;
    if (!GetEntry(s, entry))
        return WS_SOCKET_ERROR;
    if (argp == nullptr)
        return Fail(WSAEFAULT);
    if ((uint32_t)cmd == WS_FIONBIO) {
        bool bNonBlocking = *argp != 0;
        int fl = ::fcntl(entry.fd, F_GETFL);
        if (fl < 0 || ::fcntl(entry.fd, F_SETFL, bNonBlocking ? (fl | O_NONBLOCK) : (fl & ~O_NONBLOCK)) != 0)
            return FailErrno(errno);
        UpdateEntry(s, [&](SocketEntry &e) { e.bNonBlocking = bNonBlocking; });
        return 0;
    }
    if ((uint32_t)cmd == WS_FIONREAD) {
        int cbReady = 0;
        if (::ioctl(entry.fd, FIONREAD, &cbReady) != 0)
            return FailErrno(errno);
        *argp = (uint32_t)cbReady;
        return 0;
    }
    return Fail(WSAEINVAL);
}

// ---- select ----

extern "C" int WINAPI __WSAFDIsSet(WsSocket fd, WsFdSet *set)
{
    if (set == nullptr)
        return 0;
    for (u_int i = 0; i < set->fd_count; i++) {
        if (set->fd_array[i] == fd)
            return 1;
    }
    return 0;
}

namespace {

struct PollSlot {
    WsFdSet *pSet;
    u_int iIndex;
    short events;
};

// Milliseconds of simulated time in a Winsock timeval; -1 when invalid.
long long TimevalMs(const WsTimeval *pTimeout)
{
    if (pTimeout->tv_sec < 0 || pTimeout->tv_usec < 0)
        return -1;
    return (long long)pTimeout->tv_sec * 1000 + (pTimeout->tv_usec + 999) / 1000;
}

bool SlotReady(const PollSlot &slot, short revents)
{
    if (slot.events == POLLIN)
        return (revents & (POLLIN | POLLHUP | POLLERR)) != 0;
    if (slot.events == POLLOUT)
        return (revents & POLLOUT) != 0;
    return (revents & (POLLPRI | POLLERR)) != 0;
}

// Keeps the ready sockets of one set at its front, in their order.
void CompactSet(WsFdSet *pSet, const std::vector<PollSlot> &slots, const std::vector<pollfd> &pfds)
{
    if (pSet == nullptr)
        return;
    u_int cReady = 0;
    for (size_t i = 0; i < slots.size(); i++) {
        if (slots[i].pSet == pSet && SlotReady(slots[i], pfds[i].revents))
            pSet->fd_array[cReady++] = pSet->fd_array[slots[i].iIndex];
    }
    pSet->fd_count = cReady;
}

} // namespace

WS_EXPORT int DorveWs_select(int nfds, WsFdSet *readfds, WsFdSet *writefds, WsFdSet *exceptfds,
                             const WsTimeval *timeout)
{
    if (!Started())
        return Fail(WSANOTINITIALISED);
    WsFdSet *apSets[3] = {readfds, writefds, exceptfds};
    const short aEvents[3] = {POLLIN, POLLOUT, POLLPRI};
    std::vector<PollSlot> slots;
    std::vector<pollfd> pfds;
    for (int iSet = 0; iSet < 3; iSet++) {
        WsFdSet *pSet = apSets[iSet];
        if (pSet == nullptr)
            continue;
        for (u_int i = 0; i < pSet->fd_count; i++) {
            SocketEntry entry;
            if (!GetEntry(pSet->fd_array[i], entry))
                return WS_SOCKET_ERROR;
            slots.push_back(PollSlot{pSet, i, aEvents[iSet]});
            pfds.push_back(pollfd{entry.fd, aEvents[iSet], 0});
        }
    }
    if (pfds.empty())
        return Fail(WSAEINVAL);
    long long llMs = -1;
    if (timeout != nullptr) {
        llMs = TimevalMs(timeout);
        if (llMs < 0)
            return Fail(WSAEINVAL);
        if (llMs > (long long)INFINITE - 1)
            llMs = (long long)INFINITE - 1;
    }
    using Clock = std::chrono::steady_clock;
    Clock::time_point deadline = Clock::now() + std::chrono::milliseconds(llMs < 0 ? 0 : DorveClockToRealMs((DWORD)llMs));
    int rc;
    for (;;) {
        int iWaitMs = -1;
        if (llMs >= 0) {
            long long llLeftUs = std::chrono::duration_cast<std::chrono::microseconds>(deadline - Clock::now()).count();
            long long llLeft = llLeftUs <= 0 ? 0 : (llLeftUs + 999) / 1000;
            iWaitMs = llLeft > 0x7fffffff ? 0x7fffffff : (int)llLeft;
        }
        rc = ::poll(pfds.data(), pfds.size(), iWaitMs);
        // poll may wake a little before the deadline; the time-out must not come early.
        if (rc == 0 && iWaitMs > 0 && Clock::now() < deadline)
            continue;
        if (rc >= 0 || errno != EINTR)
            break;
    }
    if (rc < 0)
        return FailErrno(errno);
    int cReady = 0;
    for (size_t i = 0; i < slots.size(); i++) {
        if (SlotReady(slots[i], pfds[i].revents))
            cReady++;
    }
    for (int iSet = 0; iSet < 3; iSet++)
        CompactSet(apSets[iSet], slots, pfds);
    return cReady;
}

// ---- Names and byte order ----

WS_EXPORT WsHostent *DorveWs_gethostbyname(const char *name)
{
    if (!Started()) {
        SetLastError(WSANOTINITIALISED);
        return nullptr;
    }
    char szLocal[256];
    if (name == nullptr) {
        if (::gethostname(szLocal, sizeof(szLocal)) != 0)
            szLocal[0] = '\0';
        szLocal[sizeof(szLocal) - 1] = '\0';
        name = szLocal;
    }
    {
        WsState &ws = Ws();
        std::lock_guard<std::mutex> guard(ws.lock);
        for (const auto &host : ws.hosts) {
            if (EqualNoCase(host.first.c_str(), name))
                return FillHost(name, &host.second, 1);
        }
    }
    in_addr dotted;
    if (*name != '\0' && ::inet_aton(name, &dotted) != 0) {
        uint32_t addr = dotted.s_addr;
        return FillHost(name, &addr, 1);
    }
    bool bLocalOnly;
    {
        WsState &ws = Ws();
        std::lock_guard<std::mutex> guard(ws.lock);
        bLocalOnly = ws.bLocalNamesOnly;
    }
    if (bLocalOnly) {
        uint32_t addr;
        if (*name != '\0' && LookUpHostsFile(name, &addr))
            return FillHost(name, &addr, 1);
        SetLastError(WSAHOST_NOT_FOUND);
        return nullptr;
    }
    addrinfo hints;
    memset(&hints, 0, sizeof(hints));
    hints.ai_family = AF_INET;
    hints.ai_socktype = SOCK_STREAM;
    hints.ai_flags = AI_CANONNAME;
    addrinfo *pList = nullptr;
    int rc = *name == '\0' ? EAI_NONAME : ::getaddrinfo(name, nullptr, &hints, &pList);
    if (rc != 0) {
        SetLastError(rc == EAI_AGAIN ? WSATRY_AGAIN
                     : (rc == EAI_NONAME || rc == EAI_NODATA) ? WSAHOST_NOT_FOUND
                                                             : WSANO_RECOVERY);
        return nullptr;
    }
    uint32_t aAddrs[16];
    int cAddrs = 0;
    for (addrinfo *p = pList; p != nullptr && cAddrs < 16; p = p->ai_next) {
        if (p->ai_family == AF_INET && p->ai_addr != nullptr)
            aAddrs[cAddrs++] = ((sockaddr_in *)p->ai_addr)->sin_addr.s_addr;
    }
    WsHostent *pHost = nullptr;
    if (cAddrs > 0)
        pHost = FillHost(pList->ai_canonname != nullptr ? pList->ai_canonname : name, aAddrs, cAddrs);
    ::freeaddrinfo(pList);
    if (pHost == nullptr)
        SetLastError(WSANO_DATA);
    return pHost;
}

WS_EXPORT int DorveWs_gethostname(char *name, int namelen)
{
    if (!Started())
        return Fail(WSANOTINITIALISED);
    char szHost[256];
    if (::gethostname(szHost, sizeof(szHost)) != 0)
        return FailErrno(errno);
    szHost[sizeof(szHost) - 1] = '\0';
    if (name == nullptr || namelen <= 0 || (int)strlen(szHost) >= namelen)
        return Fail(WSAEFAULT);
    strcpy(name, szHost);
    return 0;
}

WS_EXPORT WsProtoent *DorveWs_getprotobyname(const char *name)
{
    static const struct {
        const char *pszName;
        const char *pszAlias;
        int16_t iProto;
    } kProtocols[] = {{"ip", "IP", 0}, {"icmp", "ICMP", 1}, {"tcp", "TCP", 6}, {"udp", "UDP", 17}};
    if (!Started()) {
        SetLastError(WSANOTINITIALISED);
        return nullptr;
    }
    if (name == nullptr) {
        SetLastError(WSAEFAULT);
        return nullptr;
    }
    for (const auto &proto : kProtocols) {
        if (!EqualNoCase(proto.pszName, name))
            continue;
        if (proto.iProto == 6 && Ws().bNoTcpProtocol)
            break;
        ProtoBuffer &pb = tlsProto;
        lstrcpynA(pb.szName, proto.pszName, (int)sizeof(pb.szName));
        lstrcpynA(pb.szAlias, proto.pszAlias, (int)sizeof(pb.szAlias));
        pb.apszAliases[0] = pb.szAlias;
        pb.apszAliases[1] = nullptr;
        pb.pe.p_name = pb.szName;
        pb.pe.p_aliases = pb.apszAliases;
        pb.pe.p_proto = proto.iProto;
        return &pb.pe;
    }
    SetLastError(WSANO_DATA);
    return nullptr;
}

WS_EXPORT uint32_t DorveWs_inet_addr(const char *cp)
{
    in_addr addr;
    if (cp == nullptr || *cp == '\0' || ::inet_aton(cp, &addr) == 0)
        return 0xffffffffu;
    return addr.s_addr;
}

WS_EXPORT char *DorveWs_inet_ntoa(uint32_t in)
{
    const unsigned char *pb = (const unsigned char *)&in;
    wsprintfA(tlsNtoa, "%u.%u.%u.%u", pb[0], pb[1], pb[2], pb[3]);
    return tlsNtoa;
}

WS_EXPORT u_short DorveWs_htons(u_short v) { return htons(v); }
WS_EXPORT uint32_t DorveWs_htonl(uint32_t v) { return htonl(v); }
WS_EXPORT u_short DorveWs_ntohs(u_short v) { return ntohs(v); }
WS_EXPORT uint32_t DorveWs_ntohl(uint32_t v) { return ntohl(v); }

// ---- Test switches ----

void DorveWsaSetStartupResult(int wsaError, WORD wReportedVersion)
{
    WsState &ws = Ws();
    std::lock_guard<std::mutex> guard(ws.lock);
    ws.iStartupError = wsaError;
    ws.wReportedVersion = wReportedVersion;
}

int DorveWsaCleanupCount(void)
{
    WsState &ws = Ws();
    std::lock_guard<std::mutex> guard(ws.lock);
    return ws.nCleanupCalls;
}

void DorveWsaRefuseSndTimeo(BOOL bRefuse)
{
    WsState &ws = Ws();
    std::lock_guard<std::mutex> guard(ws.lock);
    ws.bRefuseSndTimeo = bRefuse != FALSE;
}

void DorveWsaSetNoTcpProtocol(BOOL bNone)
{
    WsState &ws = Ws();
    std::lock_guard<std::mutex> guard(ws.lock);
    ws.bNoTcpProtocol = bNone != FALSE;
}

void DorveWsaAddHost(const char *name, const char *dottedAddress)
{
    if (name == nullptr || dottedAddress == nullptr)
        return;
    in_addr addr;
    if (::inet_aton(dottedAddress, &addr) == 0)
        return;
    WsState &ws = Ws();
    std::lock_guard<std::mutex> guard(ws.lock);
    for (auto &host : ws.hosts) {
        if (EqualNoCase(host.first.c_str(), name)) {
            host.second = addr.s_addr;
            return;
        }
    }
    ws.hosts.emplace_back(name, addr.s_addr);
}

void DorveWsaMapPort(WORD wPort, WORD wHostPort)
{
    WsState &ws = Ws();
    std::lock_guard<std::mutex> guard(ws.lock);
    if (wHostPort == 0)
        ws.portToHost.erase(wPort);
    else
        ws.portToHost[wPort] = wHostPort;
}

int DorveWsaSocketCount(void)
{
    WsState &ws = Ws();
    std::lock_guard<std::mutex> guard(ws.lock);
    return (int)ws.sockets.size();
}

void DorveWsaSetLocalNamesOnly(BOOL bLocalOnly)
{
    WsState &ws = Ws();
    std::lock_guard<std::mutex> guard(ws.lock);
    ws.bLocalNamesOnly = bLocalOnly != FALSE;
}

void DorveWsaReset(void)
{
    WsState &ws = Ws();
    std::lock_guard<std::mutex> guard(ws.lock);
    ws.iStartupError = 0;
    ws.wReportedVersion = 0;
    ws.nCleanupCalls = 0;
    ws.bRefuseSndTimeo = false;
    ws.bNoTcpProtocol = false;
    ws.hosts.clear();
    ws.portToHost.clear();
}
