// Windows Sockets 1.1 over the host's sockets, against real peers on
// loopback (127.0.0.x only).
#define FD_SETSIZE 256
#include <windows.h>
#include <winsock.h>

#include "dorve/clock.h"
#include "dorve/winsock_host.h"
#include "testlib.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/resource.h>
#include <unistd.h>

#include <chrono>
#include <vector>

static_assert(FD_SETSIZE == 256, "a caller's FD_SETSIZE is kept");
static_assert(sizeof(fd_set) == sizeof(u_int) + (sizeof(SOCKET) > 4 ? 4 : 0) + 256 * sizeof(SOCKET), "fd_set");
static_assert(sizeof(struct timeval) == 8, "timeval has 32-bit fields");
static_assert(sizeof(u_long) == 4, "u_long is 32-bit");
static_assert(sizeof(SOCKADDR_IN) == 16 && sizeof(LINGER) == 4 && sizeof(IN_ADDR) == 4, "layouts");

namespace {

using Clock = std::chrono::steady_clock;
using dorvetest::RealMsSince;

SOCKADDR_IN Addr(const char *pszIp, u_short wPort)
{
    SOCKADDR_IN sa;
    memset(&sa, 0, sizeof(sa));
    sa.sin_family = AF_INET;
    sa.sin_port = htons(wPort);
    sa.sin_addr.s_addr = inet_addr(pszIp);
    return sa;
}

u_short LocalPort(SOCKET s)
{
    SOCKADDR_IN sa;
    int cb = sizeof(sa);
    if (getsockname(s, (SOCKADDR *)&sa, &cb) != 0)
        return 0;
    return ntohs(sa.sin_port);
}

SOCKET BoundSocket(int type, const char *pszIp, u_short wPort = 0)
{
    SOCKET s = socket(AF_INET, type, 0);
    if (s == INVALID_SOCKET)
        return s;
    SOCKADDR_IN sa = Addr(pszIp, wPort);
    if (bind(s, (SOCKADDR *)&sa, sizeof(sa)) != 0) {
        closesocket(s);
        return INVALID_SOCKET;
    }
    return s;
}

// A connected pair: client and the server's accepted end.
struct TcpPair {
    SOCKET hListen = INVALID_SOCKET, hClient = INVALID_SOCKET, hServer = INVALID_SOCKET;
    bool Open(const char *pszIp)
    {
        hListen = BoundSocket(SOCK_STREAM, pszIp);
        if (hListen == INVALID_SOCKET || listen(hListen, 5) != 0)
            return false;
        hClient = socket(AF_INET, SOCK_STREAM, 0);
        SOCKADDR_IN sa = Addr(pszIp, LocalPort(hListen));
        if (connect(hClient, (SOCKADDR *)&sa, sizeof(sa)) != 0)
            return false;
        hServer = accept(hListen, nullptr, nullptr);
        return hServer != INVALID_SOCKET;
    }
    ~TcpPair()
    {
        for (SOCKET s : {hListen, hClient, hServer}) {
            if (s != INVALID_SOCKET)
                closesocket(s);
        }
    }
};

int SendDatagram(SOCKET hFrom, SOCKET hTo, const char *pszIp, int cb, char chFill)
{
    std::vector<char> data((size_t)cb, chFill);
    SOCKADDR_IN sa = Addr(pszIp, LocalPort(hTo));
    return sendto(hFrom, data.data(), cb, 0, (SOCKADDR *)&sa, sizeof(sa));
}

class Winsock : public ::testing::Test {
protected:
    void SetUp() override
    {
        DorveWsaReset();
        WSADATA wsa;
        ASSERT_EQ(WSAStartup(MAKEWORD(1, 1), &wsa), 0);
    }
    void TearDown() override
    {
        WSACleanup();
        DorveWsaReset();
    }
};

} // namespace

// ---- Start-up, clean-up, last error ----

TEST(WinsockStartup, VersionsSwitchesAndTheStartCount)
{
    DorveWsaReset();
    SOCKET s = socket(AF_INET, SOCK_DGRAM, 0);
    EXPECT_EQ(s, INVALID_SOCKET);
    EXPECT_EQ(WSAGetLastError(), WSANOTINITIALISED);
    EXPECT_EQ(WSACleanup(), SOCKET_ERROR);
    EXPECT_EQ(WSAGetLastError(), WSANOTINITIALISED);
    EXPECT_EQ(gethostbyname("localhost"), nullptr);
    EXPECT_EQ(WSAGetLastError(), WSANOTINITIALISED);

    struct Case {
        WORD wAsked;
        int iResult;
        WORD wVersion;
    } cases[] = {
        {MAKEWORD(1, 1), 0, MAKEWORD(1, 1)},
        {MAKEWORD(2, 2), 0, MAKEWORD(1, 1)},
        {MAKEWORD(1, 0), 0, MAKEWORD(1, 0)},
        {MAKEWORD(0, 9), WSAVERNOTSUPPORTED, 0},
    };
    int nStarted = 0;
    for (const Case &c : cases) {
        WSADATA wsa;
        memset(&wsa, 0, sizeof(wsa));
        EXPECT_EQ(WSAStartup(c.wAsked, &wsa), c.iResult) << std::hex << c.wAsked;
        if (c.iResult == 0) {
            nStarted++;
            EXPECT_EQ(wsa.wVersion, c.wVersion);
            EXPECT_EQ(wsa.wHighVersion, MAKEWORD(1, 1));
            EXPECT_NE(wsa.szDescription[0], '\0');
        }
    }
    DorveWsaSetStartupResult(WSASYSNOTREADY, 0);
    WSADATA wsa;
    EXPECT_EQ(WSAStartup(MAKEWORD(1, 1), &wsa), WSASYSNOTREADY);
    DorveWsaSetStartupResult(0, MAKEWORD(1, 0));
    ASSERT_EQ(WSAStartup(MAKEWORD(1, 1), &wsa), 0);
    EXPECT_EQ(wsa.wVersion, MAKEWORD(1, 0));
    nStarted++;

    // Sockets live until the last clean-up.
    s = socket(AF_INET, SOCK_DGRAM, 0);
    ASSERT_NE(s, INVALID_SOCKET);
    for (int i = 0; i < nStarted; i++)
        EXPECT_EQ(WSACleanup(), 0);
    EXPECT_EQ(DorveWsaCleanupCount(), 1 + nStarted);
    ASSERT_EQ(WSAStartup(MAKEWORD(1, 1), &wsa), 0);
    EXPECT_EQ(closesocket(s), SOCKET_ERROR);
    EXPECT_EQ(WSAGetLastError(), WSAENOTSOCK);
    WSACleanup();
    DorveWsaReset();
    EXPECT_EQ(DorveWsaCleanupCount(), 0);
}

TEST_F(Winsock, LastErrorIsTheThreadsLastError)
{
    WSASetLastError(WSAECONNREFUSED);
    EXPECT_EQ(GetLastError(), (DWORD)WSAECONNREFUSED);
    SetLastError(WSAEMSGSIZE);
    EXPECT_EQ(WSAGetLastError(), WSAEMSGSIZE);
    EXPECT_FALSE(WSAIsBlocking());
    EXPECT_EQ(WSACancelBlockingCall(), SOCKET_ERROR);
}

TEST_F(Winsock, SocketValuesAndClosing)
{
    SOCKET a = socket(AF_INET, SOCK_STREAM, 0);
    SOCKET b = socket(AF_INET, SOCK_DGRAM, IPPROTO_UDP);
    ASSERT_NE(a, INVALID_SOCKET);
    ASSERT_NE(b, INVALID_SOCKET);
    EXPECT_NE(a, (SOCKET)0);
    EXPECT_NE(a, b);
    EXPECT_EQ(closesocket(a), 0);
    EXPECT_EQ(closesocket(a), SOCKET_ERROR);
    EXPECT_EQ(WSAGetLastError(), WSAENOTSOCK);
    EXPECT_EQ(send(a, "x", 1, 0), SOCKET_ERROR);
    EXPECT_EQ(WSAGetLastError(), WSAENOTSOCK);
    EXPECT_EQ(closesocket(b), 0);
    EXPECT_EQ(socket(AF_UNSPEC + 1, SOCK_STREAM, 0), INVALID_SOCKET);
}

// ---- Name services ----

TEST_F(Winsock, AddressConversions)
{
    struct Case {
        const char *psz;
        u_long ulExpected;
    } cases[] = {
        {"127.0.0.1", htonl(0x7f000001)},
        {"10.1.2.3", htonl(0x0a010203)},
        {"255.255.255.255", INADDR_NONE},
        {"printer", INADDR_NONE},
        {"", INADDR_NONE},
        {"256.1.1.1", INADDR_NONE},
    };
    for (const Case &c : cases)
        EXPECT_EQ(inet_addr(c.psz), c.ulExpected) << c.psz;
    IN_ADDR in;
    in.s_addr = inet_addr("127.0.0.42");
    EXPECT_STREQ(inet_ntoa(in), "127.0.0.42");
    EXPECT_EQ(htons(0x1234), ntohs(0x1234));
    EXPECT_EQ(((u_char *)&in)[0], 127);
    u_short wNet = htons(35);
    EXPECT_EQ(((u_char *)&wNet)[1], 35);
}

TEST_F(Winsock, HostLookups)
{
    DorveWsaAddHost("zuv-printer", "127.0.0.9");
    HOSTENT *pHost = gethostbyname("ZUV-Printer");
    ASSERT_NE(pHost, nullptr);
    EXPECT_EQ(pHost->h_addrtype, AF_INET);
    EXPECT_EQ(pHost->h_length, 4);
    IN_ADDR in;
    memcpy(&in, pHost->h_addr, 4);
    EXPECT_STREQ(inet_ntoa(in), "127.0.0.9");
    EXPECT_EQ(pHost->h_addr_list[1], nullptr);

    pHost = gethostbyname("127.0.0.10");
    ASSERT_NE(pHost, nullptr);
    memcpy(&in, pHost->h_addr_list[0], 4);
    EXPECT_STREQ(inet_ntoa(in), "127.0.0.10");

    EXPECT_EQ(gethostbyname("no-such-printer.invalid"), nullptr);
    int iError = WSAGetLastError();
    EXPECT_TRUE(iError == WSAHOST_NOT_FOUND || iError == WSATRY_AGAIN || iError == WSANO_RECOVERY ||
                iError == WSANO_DATA)
        << iError;

    DorveWsaReset();
    EXPECT_EQ(gethostbyname("zuv-printer"), nullptr);

    char szName[256];
    EXPECT_EQ(gethostname(szName, sizeof(szName)), 0);
    EXPECT_NE(szName[0], '\0');
    EXPECT_EQ(gethostname(szName, 1), SOCKET_ERROR);
    EXPECT_EQ(WSAGetLastError(), WSAEFAULT);
}

// Tests resolve names without a name server: the local-names mode answers
// from the added names, dotted addresses and /etc/hosts, and sends nothing.
TEST_F(Winsock, LocalNamesModeNeverAsksANameServer)
{
    DorveWsaSetLocalNamesOnly(TRUE);
    DorveWsaAddHost("zuv-local", "127.0.0.11");
    HOSTENT *pHost = gethostbyname("zuv-local");
    ASSERT_NE(pHost, nullptr);
    IN_ADDR in;
    memcpy(&in, pHost->h_addr, 4);
    EXPECT_STREQ(inet_ntoa(in), "127.0.0.11");

    pHost = gethostbyname("localhost");
    ASSERT_NE(pHost, nullptr);
    memcpy(&in, pHost->h_addr, 4);
    EXPECT_STREQ(inet_ntoa(in), "127.0.0.1");

    EXPECT_EQ(gethostbyname("no-such-printer.invalid"), nullptr);
    EXPECT_EQ(WSAGetLastError(), WSAHOST_NOT_FOUND);
    DorveWsaSetLocalNamesOnly(getenv("DORVE_RESOLVER") != nullptr);
}

TEST_F(Winsock, ProtocolLookupAndItsSwitch)
{
    PROTOENT *pProto = getprotobyname("tcp");
    ASSERT_NE(pProto, nullptr);
    EXPECT_EQ(pProto->p_proto, IPPROTO_TCP);
    pProto = getprotobyname("udp");
    ASSERT_NE(pProto, nullptr);
    EXPECT_EQ(pProto->p_proto, IPPROTO_UDP);
    DorveWsaSetNoTcpProtocol(TRUE);
    EXPECT_EQ(getprotobyname("tcp"), nullptr);
    EXPECT_NE(getprotobyname("udp"), nullptr);
    EXPECT_EQ(getprotobyname("no-such-protocol"), nullptr);
}

// ---- Options ----

TEST_F(Winsock, SocketOptionsTranslateToTheHost)
{
    TcpPair pair;
    ASSERT_TRUE(pair.Open("127.0.0.2"));
    SOCKET s = pair.hClient;

    LINGER lg = {1, 7};
    EXPECT_EQ(setsockopt(s, SOL_SOCKET, SO_LINGER, (const char *)&lg, sizeof(lg)), 0);
    LINGER got = {0, 0};
    int cb = sizeof(got);
    EXPECT_EQ(getsockopt(s, SOL_SOCKET, SO_LINGER, (char *)&got, &cb), 0);
    EXPECT_EQ(cb, 4);
    EXPECT_EQ(got.l_onoff, 1);
    EXPECT_EQ(got.l_linger, 7);
    BOOL bDont = TRUE;
    cb = sizeof(bDont);
    EXPECT_EQ(getsockopt(s, SOL_SOCKET, SO_DONTLINGER, (char *)&bDont, &cb), 0);
    EXPECT_FALSE(bDont);
    lg.l_onoff = 0;
    lg.l_linger = 0;
    EXPECT_EQ(setsockopt(s, SOL_SOCKET, SO_LINGER, (const char *)&lg, sizeof(lg)), 0);
    EXPECT_EQ(getsockopt(s, SOL_SOCKET, SO_DONTLINGER, (char *)&bDont, &cb), 0);
    EXPECT_TRUE(bDont);
    EXPECT_EQ(setsockopt(s, SOL_SOCKET, SO_LINGER, (const char *)&lg, 2), SOCKET_ERROR);
    EXPECT_EQ(WSAGetLastError(), WSAEFAULT);

    struct Flag {
        int iLevel, iName;
    } flags[] = {{SOL_SOCKET, SO_OOBINLINE}, {SOL_SOCKET, SO_KEEPALIVE}, {SOL_SOCKET, SO_REUSEADDR},
                 {IPPROTO_TCP, TCP_NODELAY}};
    for (const Flag &f : flags) {
        for (int iValue : {1, 0}) {
            EXPECT_EQ(setsockopt(s, f.iLevel, f.iName, (const char *)&iValue, sizeof(iValue)), 0) << f.iName;
            int iGot = -1;
            cb = sizeof(iGot);
            EXPECT_EQ(getsockopt(s, f.iLevel, f.iName, (char *)&iGot, &cb), 0) << f.iName;
            EXPECT_EQ(iGot, iValue) << f.iName;
        }
    }

    DWORD dwMs = 60000;
    EXPECT_EQ(setsockopt(s, SOL_SOCKET, SO_SNDTIMEO, (const char *)&dwMs, sizeof(dwMs)), 0);
    DWORD dwGot = 0;
    cb = sizeof(dwGot);
    EXPECT_EQ(getsockopt(s, SOL_SOCKET, SO_SNDTIMEO, (char *)&dwGot, &cb), 0);
    EXPECT_EQ(dwGot, 60000u);

    int iType = 0;
    cb = sizeof(iType);
    EXPECT_EQ(getsockopt(s, SOL_SOCKET, SO_TYPE, (char *)&iType, &cb), 0);
    EXPECT_EQ(iType, SOCK_STREAM);
    int iValue = 1;
    EXPECT_EQ(setsockopt(s, SOL_SOCKET, 0x7777, (const char *)&iValue, sizeof(iValue)), SOCKET_ERROR);
    EXPECT_EQ(WSAGetLastError(), WSAENOPROTOOPT);
}

TEST_F(Winsock, DatagramOptions)
{
    SOCKET s = BoundSocket(SOCK_DGRAM, "127.0.0.3");
    ASSERT_NE(s, INVALID_SOCKET);
    int iOn = 1;
    EXPECT_EQ(setsockopt(s, SOL_SOCKET, SO_BROADCAST, (const char *)&iOn, sizeof(iOn)), 0);
    int iGot = 0, cb = sizeof(iGot);
    EXPECT_EQ(getsockopt(s, SOL_SOCKET, SO_BROADCAST, (char *)&iGot, &cb), 0);
    EXPECT_EQ(iGot, 1);
    // Lingering has no meaning for datagrams.
    LINGER lg = {0, 0};
    EXPECT_EQ(setsockopt(s, SOL_SOCKET, SO_LINGER, (const char *)&lg, sizeof(lg)), SOCKET_ERROR);
    EXPECT_EQ(WSAGetLastError(), WSAENOPROTOOPT);
    closesocket(s);
}

TEST_F(Winsock, SendTimeoutRefusalSwitch)
{
    SOCKET s = socket(AF_INET, SOCK_STREAM, 0);
    DWORD dwMs = 5000;
    DorveWsaRefuseSndTimeo(TRUE);
    EXPECT_EQ(setsockopt(s, SOL_SOCKET, SO_SNDTIMEO, (const char *)&dwMs, sizeof(dwMs)), SOCKET_ERROR);
    EXPECT_EQ(WSAGetLastError(), WSAENOPROTOOPT);
    EXPECT_EQ(setsockopt(s, SOL_SOCKET, SO_RCVTIMEO, (const char *)&dwMs, sizeof(dwMs)), 0);
    DorveWsaRefuseSndTimeo(FALSE);
    EXPECT_EQ(setsockopt(s, SOL_SOCKET, SO_SNDTIMEO, (const char *)&dwMs, sizeof(dwMs)), 0);
    closesocket(s);
}

TEST_F(Winsock, SendTimeoutRunsOnTheLayerClock)
{
    dorvetest::ClockRate fast(100.0);
    TcpPair pair;
    ASSERT_TRUE(pair.Open("127.0.0.4"));
    int iSmall = 4096;
    setsockopt(pair.hClient, SOL_SOCKET, SO_SNDBUF, (const char *)&iSmall, sizeof(iSmall));
    DWORD dwMs = 60000;  // one simulated minute: 0.6 s real
    ASSERT_EQ(setsockopt(pair.hClient, SOL_SOCKET, SO_SNDTIMEO, (const char *)&dwMs, sizeof(dwMs)), 0);
    // The peer never reads: sends fill both buffers, then one times out.
    std::vector<char> block(65536, 'd');
    Clock::time_point realStart = Clock::now();
    uint64_t simStart = 0;
    int rc = 0;
    for (int i = 0; i < 1000; i++) {
        simStart = DorveClockNowMs();
        rc = send(pair.hClient, block.data(), (int)block.size(), 0);
        if (rc == SOCKET_ERROR)
            break;
    }
    ASSERT_EQ(rc, SOCKET_ERROR);
    EXPECT_EQ(WSAGetLastError(), WSAETIMEDOUT);
    EXPECT_GE(DorveClockNowMs() - simStart, 55000u);
    EXPECT_LT(RealMsSince(realStart), 30000);
}

TEST_F(Winsock, ReceiveTimeoutRunsOnTheLayerClock)
{
    dorvetest::ClockRate fast(100.0);
    SOCKET s = BoundSocket(SOCK_DGRAM, "127.0.0.4");
    DWORD dwMs = 30000;
    ASSERT_EQ(setsockopt(s, SOL_SOCKET, SO_RCVTIMEO, (const char *)&dwMs, sizeof(dwMs)), 0);
    char buf[16];
    uint64_t simStart = DorveClockNowMs();
    EXPECT_EQ(recv(s, buf, sizeof(buf), 0), SOCKET_ERROR);
    EXPECT_EQ(WSAGetLastError(), WSAETIMEDOUT);
    EXPECT_GE(DorveClockNowMs() - simStart, 29000u);
    closesocket(s);
}

// ---- Streams ----

TEST_F(Winsock, StreamRoundTripAndOrderlyEnd)
{
    TcpPair pair;
    ASSERT_TRUE(pair.Open("127.0.0.5"));
    EXPECT_EQ(send(pair.hClient, "hello", 5, 0), 5);
    char buf[16];
    EXPECT_EQ(recv(pair.hServer, buf, sizeof(buf), 0), 5);
    EXPECT_EQ(memcmp(buf, "hello", 5), 0);

    SOCKADDR_IN peer;
    int cb = sizeof(peer);
    EXPECT_EQ(getpeername(pair.hClient, (SOCKADDR *)&peer, &cb), 0);
    EXPECT_EQ(cb, 16);
    EXPECT_EQ(peer.sin_family, AF_INET);
    EXPECT_STREQ(inet_ntoa(peer.sin_addr), "127.0.0.5");
    EXPECT_EQ(ntohs(peer.sin_port), LocalPort(pair.hListen));

    EXPECT_EQ(shutdown(pair.hClient, SD_SEND), 0);
    EXPECT_EQ(recv(pair.hServer, buf, sizeof(buf), 0), 0);
    EXPECT_EQ(send(pair.hClient, "x", 1, 0), SOCKET_ERROR);
    EXPECT_EQ(WSAGetLastError(), WSAESHUTDOWN);
}

TEST_F(Winsock, LostPeerIsAnErrorNotASignal)
{
    TcpPair pair;
    ASSERT_TRUE(pair.Open("127.0.0.5"));
    // Unread data makes the peer's close a reset.
    EXPECT_EQ(send(pair.hClient, "abc", 3, 0), 3);
    Sleep(20);
    closesocket(pair.hServer);
    pair.hServer = INVALID_SOCKET;
    int rc = 0;
    for (int i = 0; i < 50 && rc != SOCKET_ERROR; i++) {
        rc = send(pair.hClient, "more", 4, 0);
        Sleep(5);
    }
    ASSERT_EQ(rc, SOCKET_ERROR);
    int iError = WSAGetLastError();
    EXPECT_TRUE(iError == WSAECONNRESET || iError == WSAECONNABORTED) << iError;
}

TEST_F(Winsock, RefusedConnect)
{
    SOCKET hProbe = BoundSocket(SOCK_STREAM, "127.0.0.7");
    ASSERT_NE(hProbe, INVALID_SOCKET);
    u_short wPort = LocalPort(hProbe);
    closesocket(hProbe);  // nothing listens there now
    SOCKET s = socket(AF_INET, SOCK_STREAM, 0);
    SOCKADDR_IN sa = Addr("127.0.0.7", wPort);
    EXPECT_EQ(connect(s, (SOCKADDR *)&sa, sizeof(sa)), SOCKET_ERROR);
    EXPECT_EQ(WSAGetLastError(), WSAECONNREFUSED);
    closesocket(s);

    s = socket(AF_INET, SOCK_STREAM, 0);
    SOCKADDR_IN bad = sa;
    bad.sin_family = 17;
    EXPECT_EQ(connect(s, (SOCKADDR *)&bad, sizeof(bad)), SOCKET_ERROR);
    EXPECT_EQ(WSAGetLastError(), WSAEAFNOSUPPORT);
    EXPECT_EQ(connect(s, (SOCKADDR *)&sa, 8), SOCKET_ERROR);
    EXPECT_EQ(WSAGetLastError(), WSAEFAULT);
    closesocket(s);
}

TEST_F(Winsock, NonBlockingMode)
{
    SOCKET s = BoundSocket(SOCK_DGRAM, "127.0.0.6");
    u_long ulOn = 1;
    ASSERT_EQ(ioctlsocket(s, FIONBIO, &ulOn), 0);
    char buf[8];
    EXPECT_EQ(recv(s, buf, sizeof(buf), 0), SOCKET_ERROR);
    EXPECT_EQ(WSAGetLastError(), WSAEWOULDBLOCK);
    SOCKET hFrom = socket(AF_INET, SOCK_DGRAM, 0);
    ASSERT_EQ(SendDatagram(hFrom, s, "127.0.0.6", 5, 'q'), 5);
    Sleep(20);
    u_long ulReady = 0;
    EXPECT_EQ(ioctlsocket(s, FIONREAD, &ulReady), 0);
    EXPECT_EQ(ulReady, 5u);
    closesocket(hFrom);
    closesocket(s);
}

// ---- Datagrams ----

TEST_F(Winsock, TooLongDatagramFillsTheBufferAndFails)
{
    SOCKET hRecv = BoundSocket(SOCK_DGRAM, "127.0.0.8");
    SOCKET hSend = BoundSocket(SOCK_DGRAM, "127.0.0.8");
    ASSERT_NE(hRecv, INVALID_SOCKET);
    ASSERT_EQ(SendDatagram(hSend, hRecv, "127.0.0.8", 300, 'L'), 300);
    ASSERT_EQ(SendDatagram(hSend, hRecv, "127.0.0.8", 20, 'S'), 20);

    char buf[256 + 8];
    memset(buf, 0, sizeof(buf));
    SOCKADDR_IN from;
    int cbFrom = sizeof(from);
    EXPECT_EQ(recvfrom(hRecv, buf, 256, 0, (SOCKADDR *)&from, &cbFrom), SOCKET_ERROR);
    EXPECT_EQ(WSAGetLastError(), WSAEMSGSIZE);
    EXPECT_EQ(buf[0], 'L');
    EXPECT_EQ(buf[255], 'L');
    EXPECT_EQ(buf[256], 0);
    EXPECT_EQ(ntohs(from.sin_port), LocalPort(hSend));
    // The rest of the long one is gone; the next datagram comes whole.
    cbFrom = sizeof(from);
    EXPECT_EQ(recvfrom(hRecv, buf, 256, 0, (SOCKADDR *)&from, &cbFrom), 20);
    EXPECT_EQ(buf[0], 'S');
    EXPECT_EQ(cbFrom, 16);
    closesocket(hRecv);
    closesocket(hSend);
}

TEST_F(Winsock, PortMappingIsInvisibleToTheCaller)
{
    SOCKET hProbe = BoundSocket(SOCK_DGRAM, "127.0.0.11");
    u_short wHostPort = LocalPort(hProbe);
    closesocket(hProbe);
    DorveWsaMapPort(162, wHostPort);

    SOCKET hTrap = BoundSocket(SOCK_DGRAM, "127.0.0.11", 162);
    ASSERT_NE(hTrap, INVALID_SOCKET);
    EXPECT_EQ(LocalPort(hTrap), 162);
    SOCKET hFrom = socket(AF_INET, SOCK_DGRAM, 0);
    SOCKADDR_IN sa = Addr("127.0.0.11", 162);
    ASSERT_EQ(sendto(hFrom, "trap", 4, 0, (SOCKADDR *)&sa, sizeof(sa)), 4);
    char buf[16];
    EXPECT_EQ(recv(hTrap, buf, sizeof(buf), 0), 4);
    closesocket(hFrom);
    closesocket(hTrap);
}

// ---- select ----

TEST_F(Winsock, SelectReportsOnlyTheReadySocketsInOrder)
{
    const int kCount = 100;  // more than Winsock's default FD_SETSIZE of 64
    std::vector<SOCKET> sockets;
    fd_set set;
    FD_ZERO(&set);
    for (int i = 0; i < kCount; i++) {
        SOCKET s = BoundSocket(SOCK_DGRAM, "127.0.0.12");
        ASSERT_NE(s, INVALID_SOCKET);
        sockets.push_back(s);
        FD_SET(s, &set);
    }
    EXPECT_EQ(set.fd_count, (u_int)kCount);
    SOCKET hFrom = socket(AF_INET, SOCK_DGRAM, 0);
    SendDatagram(hFrom, sockets[90], "127.0.0.12", 3, 'a');
    SendDatagram(hFrom, sockets[70], "127.0.0.12", 3, 'b');
    Sleep(20);
    TIMEVAL tv = {5, 0};
    EXPECT_EQ(select(0, &set, nullptr, nullptr, &tv), 2);
    ASSERT_EQ(set.fd_count, 2u);
    EXPECT_EQ(set.fd_array[0], sockets[70]);
    EXPECT_EQ(set.fd_array[1], sockets[90]);
    EXPECT_TRUE(FD_ISSET(sockets[90], &set));
    EXPECT_FALSE(FD_ISSET(sockets[0], &set));
    FD_CLR(sockets[70], &set);
    EXPECT_EQ(set.fd_count, 1u);
    EXPECT_EQ(set.fd_array[0], sockets[90]);
    for (SOCKET s : sockets)
        closesocket(s);
    closesocket(hFrom);
}

TEST_F(Winsock, SelectOnHighNumberedHostDescriptors)
{
    // Push the host's descriptors past 1024, the limit of the host's own select.
    rlimit lim;
    getrlimit(RLIMIT_NOFILE, &lim);
    if (lim.rlim_cur < 1400) {
        rlimit want = lim;
        want.rlim_cur = lim.rlim_max < 1400 ? lim.rlim_max : 1400;
        setrlimit(RLIMIT_NOFILE, &want);
    }
    std::vector<int> fillers;
    for (int i = 0; i < 1100; i++) {
        int fd = open("/dev/null", O_RDONLY | O_CLOEXEC);
        if (fd < 0)
            break;
        fillers.push_back(fd);
    }
    bool bHigh = !fillers.empty() && fillers.back() > 1030;
    SOCKET hRecv = BoundSocket(SOCK_DGRAM, "127.0.0.13");
    SOCKET hWrite = socket(AF_INET, SOCK_DGRAM, 0);
    if (bHigh && hRecv != INVALID_SOCKET && hWrite != INVALID_SOCKET) {
        SendDatagram(hWrite, hRecv, "127.0.0.13", 4, 'h');
        Sleep(20);
        fd_set rd, wr;
        FD_ZERO(&rd);
        FD_ZERO(&wr);
        FD_SET(hRecv, &rd);
        FD_SET(hWrite, &wr);
        TIMEVAL tv = {5, 0};
        EXPECT_EQ(select(0, &rd, &wr, nullptr, &tv), 2);
        EXPECT_TRUE(FD_ISSET(hRecv, &rd));
        EXPECT_TRUE(FD_ISSET(hWrite, &wr));
    }
    closesocket(hRecv);
    closesocket(hWrite);
    for (int fd : fillers)
        close(fd);
    if (!bHigh)
        GTEST_SKIP() << "cannot open enough descriptors here";
}

TEST_F(Winsock, SelectTimeoutRunsOnTheLayerClock)
{
    dorvetest::ClockRate fast(1000.0);
    SOCKET s = BoundSocket(SOCK_DGRAM, "127.0.0.14");
    fd_set set;
    FD_ZERO(&set);
    FD_SET(s, &set);
    TIMEVAL tv = {300, 0};  // the trap wait's five minutes
    Clock::time_point realStart = Clock::now();
    uint64_t simStart = DorveClockNowMs();
    EXPECT_EQ(select(s + 1, &set, nullptr, nullptr, &tv), 0);
    EXPECT_EQ(set.fd_count, 0u);
    EXPECT_GE(DorveClockNowMs() - simStart, 300000u);
    EXPECT_LT(RealMsSince(realStart), 60000);

    // A zero time-out only looks.
    FD_SET(s, &set);
    TIMEVAL zero = {0, 0};
    EXPECT_EQ(select(0, &set, nullptr, nullptr, &zero), 0);
    closesocket(s);
}

TEST_F(Winsock, SelectRejectsBadArguments)
{
    fd_set set;
    FD_ZERO(&set);
    FD_SET(INVALID_SOCKET, &set);
    TIMEVAL tv = {0, 0};
    EXPECT_EQ(select(0, &set, nullptr, nullptr, &tv), SOCKET_ERROR);
    EXPECT_EQ(WSAGetLastError(), WSAENOTSOCK);
    FD_ZERO(&set);
    EXPECT_EQ(select(0, &set, nullptr, nullptr, &tv), SOCKET_ERROR);
    EXPECT_EQ(WSAGetLastError(), WSAEINVAL);
    SOCKET s = socket(AF_INET, SOCK_DGRAM, 0);
    FD_SET(s, &set);
    TIMEVAL negative = {-1, 0};
    EXPECT_EQ(select(0, &set, nullptr, nullptr, &negative), SOCKET_ERROR);
    EXPECT_EQ(WSAGetLastError(), WSAEINVAL);
    closesocket(s);
}

TEST_F(Winsock, SelectSeesAPendingConnectionAndAWritableStream)
{
    TcpPair pair;
    SOCKET hListen = BoundSocket(SOCK_STREAM, "127.0.0.15");
    ASSERT_EQ(listen(hListen, 5), 0);
    SOCKET hClient = socket(AF_INET, SOCK_STREAM, 0);
    SOCKADDR_IN sa = Addr("127.0.0.15", LocalPort(hListen));
    ASSERT_EQ(connect(hClient, (SOCKADDR *)&sa, sizeof(sa)), 0);
    fd_set rd, wr;
    FD_ZERO(&rd);
    FD_ZERO(&wr);
    FD_SET(hListen, &rd);
    FD_SET(hClient, &wr);
    TIMEVAL tv = {5, 0};
    EXPECT_EQ(select(0, &rd, &wr, nullptr, &tv), 2);
    SOCKADDR_IN from;
    int cb = sizeof(from);
    SOCKET hServer = accept(hListen, (SOCKADDR *)&from, &cb);
    EXPECT_NE(hServer, INVALID_SOCKET);
    EXPECT_EQ(ntohs(from.sin_port), LocalPort(hClient));
    closesocket(hServer);
    closesocket(hClient);
    closesocket(hListen);
}
