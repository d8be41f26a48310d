// Socket objects (creation, address resolution, close) and the port channel
// adapters, over real loopback sockets.
#include "sock_testutil.h"

#include <string.h>

using socktest::SockTest;
using socktest::TraceLog;

namespace {

std::string Dotted(const SOCKADDR_IN &sa)
{
    return inet_ntoa(sa.sin_addr);
}

class SocketObject : public SockTest {};

TEST_F(SocketObject, DottedAddressIsUsedWithoutLookup)
{
    LPSkt lpSkt = Create("127.0.6.21");
    ASSERT_NE(lpSkt, nullptr);
    EXPECT_EQ(log.texts(), (std::vector<std::string>{"SktCreate: malloc'ed", "InitSockAddr: Got host by address",
                                                     "SktCreate: Socket address initialized"}));
    for (const auto &e : log.entries())
        EXPECT_EQ(e.dwLevel, 0u) << e.text;
    EXPECT_EQ(lpSkt->saPrinter.sin_family, AF_INET);
    EXPECT_EQ(ntohs(lpSkt->saPrinter.sin_port), 35);
    EXPECT_EQ(Dotted(lpSkt->saPrinter), "127.0.6.21");
    static const char zero[8] = {0};
    EXPECT_EQ(memcmp(lpSkt->saPrinter.sin_zero, zero, 8), 0);
    EXPECT_FALSE(lpSkt->bBusy);
    EXPECT_EQ(lpSkt->lpReportContext, &log);
    SktDestroy(lpSkt);
}

TEST_F(SocketObject, HostNameIsLookedUp)
{
    DorveWsaAddHost("printer-21.test", "127.0.6.22");
    LPSkt lpSkt = Create("printer-21.test");
    ASSERT_NE(lpSkt, nullptr);
    EXPECT_EQ(log.texts(), (std::vector<std::string>{"SktCreate: malloc'ed", "InitSockAddr: Got host by name",
                                                     "SktCreate: Socket address initialized"}));
    EXPECT_EQ(Dotted(lpSkt->saPrinter), "127.0.6.22");
    EXPECT_EQ(ntohs(lpSkt->saPrinter.sin_port), 35);
    SktDestroy(lpSkt);
}

// inet_addr gives INADDR_NONE for the all-ones address, so it goes to the
// resolver as a name.
TEST_F(SocketObject, AllOnesAddressIsLookedUpAsName)
{
    DorveWsaAddHost("255.255.255.255", "127.0.6.23");
    LPSkt lpSkt = Create("255.255.255.255");
    ASSERT_NE(lpSkt, nullptr);
    EXPECT_TRUE(log.has("InitSockAddr: Got host by name"));
    EXPECT_FALSE(log.has("InitSockAddr: Got host by address"));
    EXPECT_EQ(Dotted(lpSkt->saPrinter), "127.0.6.23");
    SktDestroy(lpSkt);
}

TEST_F(SocketObject, UnresolvableNameFailsAndLeavesPointer)
{
    LPSkt lpSentinel = reinterpret_cast<LPSkt>(static_cast<uintptr_t>(0x1234));
    LPSkt lpSkt = lpSentinel;
    EXPECT_FALSE(SktCreate(&lpSkt, TraceLog::Proc, &log, "no-such-printer.invalid"));
    EXPECT_EQ(lpSkt, lpSentinel);
    auto entries = log.entries();
    ASSERT_EQ(entries.size(), 2u);
    EXPECT_EQ(entries[0].text, "SktCreate: malloc'ed");
    EXPECT_EQ(entries[0].dwLevel, 0u);
    EXPECT_EQ(entries[1].text, "SktCreate: InitSockAddr failed");
    EXPECT_EQ(entries[1].dwLevel, 2u);
}

TEST_F(SocketObject, CloseTwiceSucceedsBothTimes)
{
    LPSkt lpSkt = Create("127.0.6.24");
    ASSERT_NE(lpSkt, nullptr);
    ASSERT_TRUE(SktOpenStatus(lpSkt, 1));
    log.clear();

    EXPECT_TRUE(SktClose(lpSkt));
    EXPECT_EQ(lpSkt->hSocket, INVALID_SOCKET);
    EXPECT_EQ(log.texts(), (std::vector<std::string>{"DoDisconnect: Socket closed", "SktClose: Socket disconnected"}));

    // closesocket on INVALID_SOCKET fails; the object still counts as closed.
    log.clear();
    EXPECT_TRUE(SktClose(lpSkt));
    EXPECT_EQ(lpSkt->hSocket, INVALID_SOCKET);
    EXPECT_EQ(log.texts(), (std::vector<std::string>{"SktClose: Socket disconnected"}));
    EXPECT_TRUE(SktDestroy(lpSkt));
}

TEST_F(SocketObject, SocketZeroIsNotClosed)
{
    LPSkt lpSkt = Create("127.0.6.25");
    ASSERT_NE(lpSkt, nullptr);
    lpSkt->hSocket = 0;
    log.clear();
    EXPECT_FALSE(SktClose(lpSkt));
    EXPECT_EQ(lpSkt->hSocket, 0u);
    ASSERT_EQ(log.entries().size(), 1u);
    EXPECT_EQ(log.entries()[0].text, "SktClose: DoDisconnect failed");
    EXPECT_EQ(log.entries()[0].dwLevel, 1u);
    SktDestroy(lpSkt);
}

// ---- port channel adapters ----

class ChannelAdapters : public SockTest {
protected:
    void SetUp() override
    {
        SockTest::SetUp();
        memset(&port, 0, sizeof(port));
        SetZUVPortDefaults(&port);
        strcpy(port.szPortName, "adapter-port");
    }
    void UsePrinter(const char *address)
    {
        strcpy(port.szIPAddress, address);
        ASSERT_TRUE(socktest::StartPrinter(printer, address, spool.path())) << printer.lastError();
    }
    ZUVPort port;
};

TEST_F(ChannelAdapters, StartSendRefusesOnlyNotReady)
{
    UsePrinter("127.0.6.30");
    LPSkt lpSentinel = reinterpret_cast<LPSkt>(static_cast<uintptr_t>(0x5678));

    port.dwPrinterStatus = ZUV_STS_NOTREADY;
    port.lpSendSkt = lpSentinel;
    EXPECT_FALSE(StartSend(&gZUVMon, &port));
    EXPECT_EQ(port.lpSendSkt, lpSentinel);
    EXPECT_EQ(printer.counters().connections, 0u);

    for (DWORD dwStatus : {DWORD(ZUV_STS_READY), DWORD(ZUV_STS_NOANSWER)}) {
        SCOPED_TRACE(dwStatus);
        port.dwPrinterStatus = dwStatus;
        port.lpSendSkt = NULL;
        ASSERT_TRUE(StartSend(&gZUVMon, &port));
        ASSERT_NE(port.lpSendSkt, nullptr);
        EXPECT_EQ(port.lpSendSkt->lpReportContext, &port);
        EXPECT_TRUE(EndSend(&gZUVMon, &port));
        EXPECT_EQ(port.lpSendSkt, nullptr);
    }
    EXPECT_TRUE(printer.waitForJobs(2, std::chrono::seconds(5)));
}

TEST_F(ChannelAdapters, SendTimeoutOfSixtyMinutesIsOneHourInMilliseconds)
{
    UsePrinter("127.0.6.31");
    port.dwSendTimeout = 60;
    ASSERT_TRUE(StartSend(&gZUVMon, &port));
    int nTimeout = 0;
    int cb = sizeof(nTimeout);
    ASSERT_EQ(getsockopt(port.lpSendSkt->hSocket, SOL_SOCKET, SO_SNDTIMEO, (char *)&nTimeout, &cb), 0);
    EXPECT_EQ(nTimeout, 3600000);
    EXPECT_EQ(port.lpSendSkt->dwSelectTimeout, 0u);
    EXPECT_TRUE(EndSend(&gZUVMon, &port));
}

TEST_F(ChannelAdapters, StartSendFailsCleanlyWhenRefused)
{
    UsePrinter("127.0.6.32");
    printer.setRefuse(true);
    EXPECT_FALSE(StartSend(&gZUVMon, &port));
    EXPECT_EQ(port.lpSendSkt, nullptr);
}

TEST_F(ChannelAdapters, WriteSendCarriesHeaderAndDataAndCountsBusyAsZero)
{
    UsePrinter("127.0.6.33");
    ASSERT_TRUE(StartSend(&gZUVMon, &port));
    static const char szHeader[] = "%!\n%%For: abc\n";
    LONG cbWritten = 12345;
    EXPECT_TRUE(WriteSend(&gZUVMon, &port, (LPBYTE)szHeader, 14, &cbWritten));
    EXPECT_EQ(cbWritten, 14);
    std::string data(3000, 'd');
    EXPECT_TRUE(WriteSend(&gZUVMon, &port, (LPBYTE)data.data(), (DWORD)data.size(), &cbWritten));
    EXPECT_EQ(cbWritten, 3000);

    port.lpSendSkt->bBusy = TRUE;
    cbWritten = 12345;
    EXPECT_FALSE(WriteSend(&gZUVMon, &port, (LPBYTE)data.data(), (DWORD)data.size(), &cbWritten));
    EXPECT_EQ(cbWritten, 0);
    port.lpSendSkt->bBusy = FALSE;

    EXPECT_TRUE(EndSend(&gZUVMon, &port));
    ASSERT_TRUE(printer.waitForJobs(1, std::chrono::seconds(5)));
    auto jobs = printer.jobs();
    ASSERT_EQ(jobs.size(), 1u);
    EXPECT_EQ(jobs[0].header, szHeader);
    EXPECT_EQ(jobs[0].dataBytes, 3000u);
}

TEST_F(ChannelAdapters, StatusChannelOpensPollsAndCloses)
{
    UsePrinter("127.0.6.34");
    printer.setText("Ready to print");
    dorvetest::ClockRate fast(20);
    port.dwStsTimeout = 10;
    ASSERT_TRUE(StartStatus(&gZUVMon, &port));
    ASSERT_NE(port.lpStatusSkt, nullptr);
    EXPECT_EQ(port.lpStatusSkt->dwStatusTimeout, 10u);
    EXPECT_EQ(port.lpStatusSkt->lpReportContext, &port);

    strcpy(port.szStatus, "old text");
    port.dwPrinterStatus = ZUV_STS_NOTREADY;
    EXPECT_TRUE(ReadStatus(&gZUVMon, &port));
    EXPECT_EQ(port.dwPrinterStatus, (DWORD)ZUV_STS_READY);
    EXPECT_STREQ(port.szStatus, "Ready to print");

    printer.setState(dorve::PrinterState::Silent);
    // No answer is published as "not ready" in one store, never as the
    // passing "no answer" another thread could take for ready.
    EXPECT_FALSE(ReadStatus(&gZUVMon, &port));
    EXPECT_EQ(port.dwPrinterStatus, (DWORD)ZUV_STS_NOTREADY);
    EXPECT_STREQ(port.szStatus, "");

    EXPECT_TRUE(EndStatus(&gZUVMon, &port));
    EXPECT_EQ(port.lpStatusSkt, nullptr);
}

TEST_F(ChannelAdapters, UnresolvableAddressOpensNoChannel)
{
    strcpy(port.szIPAddress, "no-such-printer.invalid");
    EXPECT_FALSE(StartStatus(&gZUVMon, &port));
    EXPECT_EQ(port.lpStatusSkt, nullptr);
    port.dwPrinterStatus = ZUV_STS_READY;
    EXPECT_FALSE(StartSend(&gZUVMon, &port));
    EXPECT_EQ(port.lpSendSkt, nullptr);
}

TEST_F(ChannelAdapters, EndKeepsObjectWhenCloseFails)
{
    UsePrinter("127.0.6.35");
    ASSERT_TRUE(StartStatus(&gZUVMon, &port));
    LPSkt lpSkt = port.lpStatusSkt;
    SOCKET hReal = lpSkt->hSocket;
    lpSkt->hSocket = 0;  // no close is attempted on socket 0
    EXPECT_FALSE(EndStatus(&gZUVMon, &port));
    EXPECT_EQ(port.lpStatusSkt, lpSkt);
    lpSkt->hSocket = hReal;
    EXPECT_TRUE(EndStatus(&gZUVMon, &port));
    EXPECT_EQ(port.lpStatusSkt, nullptr);
}

}  // namespace
