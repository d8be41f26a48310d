// The TCP data channel against the emulated printer: options, partial sends,
// send errors, and the two ways the send timeout is enforced.
#include "sock_testutil.h"

#include <atomic>
#include <fstream>
#include <iterator>
#include <thread>

using socktest::SockTest;

namespace {

// Bytes whose position can be checked: a partial send that repeated or
// skipped a stretch shows in the file.
std::vector<BYTE> Pattern(size_t n)
{
    std::vector<BYTE> v(n);
    for (size_t i = 0; i < n; i++)
        v[i] = BYTE((i * 7 + i / 251) & 0xFF);
    return v;
}

std::vector<BYTE> ReadFile(const std::string &path)
{
    std::ifstream in(path, std::ios::binary);
    return std::vector<BYTE>(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

class DataChannel : public SockTest {
protected:
    LPSkt Open(const char *address, DWORD dwSeconds)
    {
        EXPECT_TRUE(socktest::StartPrinter(printer, address, spool.path())) << printer.lastError();
        LPSkt lpSkt = Create(address);
        if (lpSkt == NULL)
            return NULL;
        log.clear();
        EXPECT_TRUE(SktOpenSend(lpSkt, dwSeconds));
        return lpSkt;
    }
    void Close(LPSkt lpSkt)
    {
        EXPECT_TRUE(SktClose(lpSkt));
        SktDestroy(lpSkt);
    }
};

TEST_F(DataChannel, SocketModeSetsAllOptions)
{
    LPSkt lpSkt = Open("127.0.6.40", 90);
    ASSERT_NE(lpSkt, nullptr);
    EXPECT_EQ(log.texts(),
              (std::vector<std::string>{"ZUVConnectTCP: Connected with all options", "SktOpenSend: TCP socket connected"}));
    EXPECT_EQ(lpSkt->dwSelectTimeout, 0u);

    struct linger lg = {1, 1};
    int cb = sizeof(lg);
    ASSERT_EQ(getsockopt(lpSkt->hSocket, SOL_SOCKET, SO_LINGER, (char *)&lg, &cb), 0);
    EXPECT_EQ(lg.l_onoff, 0);
    int nValue = 0;
    cb = sizeof(nValue);
    ASSERT_EQ(getsockopt(lpSkt->hSocket, SOL_SOCKET, SO_OOBINLINE, (char *)&nValue, &cb), 0);
    EXPECT_NE(nValue, 0);
    cb = sizeof(nValue);
    ASSERT_EQ(getsockopt(lpSkt->hSocket, SOL_SOCKET, SO_SNDTIMEO, (char *)&nValue, &cb), 0);
    EXPECT_EQ(nValue, 90000);
    Close(lpSkt);
}

TEST_F(DataChannel, MissingTcpProtocolEntryStillConnects)
{
    DorveWsaSetNoTcpProtocol(TRUE);
    LPSkt lpSkt = Open("127.0.6.41", 60);
    ASSERT_NE(lpSkt, nullptr);
    EXPECT_TRUE(log.has("SktOpenSend: TCP socket connected"));
    Close(lpSkt);
}

TEST_F(DataChannel, RefusedConnectionClosesTheSocket)
{
    ASSERT_TRUE(socktest::StartPrinter(printer, "127.0.6.42", spool.path()));
    printer.setRefuse(true);
    LPSkt lpSkt = Create("127.0.6.42");
    ASSERT_NE(lpSkt, nullptr);
    log.clear();
    EXPECT_FALSE(SktOpenSend(lpSkt, 60));
    EXPECT_EQ(lpSkt->hSocket, INVALID_SOCKET);
    EXPECT_EQ(log.texts(), (std::vector<std::string>{"DoDisconnect: Socket closed", "SktOpenSend: ZUVConnectTCP failed"}));
    EXPECT_EQ(log.level("SktOpenSend: ZUVConnectTCP failed"), 2u);
    SktDestroy(lpSkt);
}

TEST_F(DataChannel, CountZeroSendsNothingAndSucceeds)
{
    LPSkt lpSkt = Open("127.0.6.43", 60);
    ASSERT_NE(lpSkt, nullptr);
    log.clear();
    LONG lSent = 99;
    BYTE b = 0;
    EXPECT_TRUE(SktSend(lpSkt, &b, 0, &lSent));
    EXPECT_EQ(lSent, 0);
    EXPECT_EQ(log.texts(), (std::vector<std::string>{"SktSend: Got send semaphore", "SktSend: Send succeeded"}));
    DWORD dwCode = 0;
    EXPECT_EQ(SendBuffer(lpSkt, &b, 0, &dwCode), 0);
    EXPECT_EQ(dwCode, (DWORD)SKT_SEND_DONE);
    Close(lpSkt);
}

TEST_F(DataChannel, BusyObjectGivesUpAtOnce)
{
    LPSkt lpSkt = Open("127.0.6.44", 60);
    ASSERT_NE(lpSkt, nullptr);
    lpSkt->bBusy = TRUE;
    log.clear();
    LONG lSent = 99;
    BYTE b[4] = {1, 2, 3, 4};
    EXPECT_FALSE(SktSend(lpSkt, b, 4, &lSent));
    EXPECT_EQ(lSent, 0);
    EXPECT_EQ(log.texts(), (std::vector<std::string>{"SktSend: Send semaphore unavailable"}));
    EXPECT_EQ(log.level("SktSend: Send semaphore unavailable"), 1u);
    EXPECT_TRUE(lpSkt->bBusy);
    lpSkt->bBusy = FALSE;
    Close(lpSkt);
}

// The socket-mode timeout cuts the first send short while the printer
// stalls; the rest goes out in later calls once it reads again.
TEST_F(DataChannel, PartialSendsContinueInOrder)
{
    // Small buffers on both ends, so that a modest buffer outgrows them.
    printer.setReceiveBuffer(16384);
    printer.setStall(true);
    LPSkt lpSkt = Open("127.0.6.45", 1);
    ASSERT_NE(lpSkt, nullptr);
    int cbSndBuf = 16384;
    ASSERT_EQ(setsockopt(lpSkt->hSocket, SOL_SOCKET, SO_SNDBUF, (const char *)&cbSndBuf, sizeof(cbSndBuf)), 0);
    const size_t cb = 1024 * 1024;
    std::vector<BYTE> data = Pattern(cb);
    std::thread resume([&] {
        std::this_thread::sleep_for(std::chrono::milliseconds(1500));
        printer.setStall(false);
    });
    LONG lSent = 0;
    BOOL bOk = SktSend(lpSkt, data.data(), (DWORD)cb, &lSent);
    resume.join();
    EXPECT_TRUE(bOk);
    EXPECT_EQ(lSent, (LONG)cb);
    Close(lpSkt);
    ASSERT_TRUE(printer.waitForJobs(1, std::chrono::seconds(20)));
    EXPECT_TRUE(ReadFile(printer.jobs()[0].path) == data);
}

TEST_F(DataChannel, SendErrorGivesMinusOneEvenAfterPartialSend)
{
    printer.setResetAfter(1000);
    LPSkt lpSkt = Open("127.0.6.46", 60);
    ASSERT_NE(lpSkt, nullptr);
    std::vector<BYTE> data = Pattern(16 * 1024 * 1024);
    log.clear();
    LONG lSent = 0;
    EXPECT_FALSE(SktSend(lpSkt, data.data(), (DWORD)data.size(), &lSent));
    EXPECT_EQ(lSent, -1);
    EXPECT_EQ(log.texts(), (std::vector<std::string>{"SktSend: Got send semaphore", "SktSend: Send failed"}));
    EXPECT_FALSE(lpSkt->bBusy);
    // The connection is left for the end of the document to close.
    EXPECT_NE(lpSkt->hSocket, INVALID_SOCKET);
    Close(lpSkt);
}

TEST_F(DataChannel, SocketModeTimeoutOnStalledPrinterIsSendError)
{
    dorvetest::ClockRate fast(120);
    printer.setStall(true);
    LPSkt lpSkt = Open("127.0.6.47", 60);
    ASSERT_NE(lpSkt, nullptr);
    std::vector<BYTE> data = Pattern(16 * 1024 * 1024);
    LONG lSent = 0;
    EXPECT_FALSE(SktSend(lpSkt, data.data(), (DWORD)data.size(), &lSent));
    EXPECT_EQ(lSent, -1);
    printer.setStall(false);
    Close(lpSkt);
}

TEST_F(DataChannel, WaitModeWhenSendTimeoutIsRefused)
{
    DorveWsaRefuseSndTimeo(TRUE);
    LPSkt lpSkt = Open("127.0.6.48", 600);
    ASSERT_NE(lpSkt, nullptr);
    EXPECT_EQ(log.texts(), (std::vector<std::string>{"SktOpenSend: TCP socket connected"}));
    EXPECT_EQ(lpSkt->dwSelectTimeout, 600u);

    std::vector<BYTE> data = Pattern(100000);
    LONG lSent = 0;
    EXPECT_TRUE(SktSend(lpSkt, data.data(), (DWORD)data.size(), &lSent));
    EXPECT_EQ(lSent, 100000);
    Close(lpSkt);
    ASSERT_TRUE(printer.waitForJobs(1, std::chrono::seconds(10)));
    EXPECT_TRUE(ReadFile(printer.jobs()[0].path) == data);
}

// With the printer not reading, small buffers go out until the socket stays
// unwritable; that wait gives up with nothing of the buffer sent and the
// connection still open.
TEST_F(DataChannel, WaitModeStalledPrinterGivesUpWithCountSent)
{
    DorveWsaRefuseSndTimeo(TRUE);
    printer.setStall(true);
    dorvetest::ClockRate fast(600);
    LPSkt lpSkt = Open("127.0.6.49", 60);
    ASSERT_NE(lpSkt, nullptr);

    // A blocking send in wait mode has no time limit: should one block, the
    // printer reads again and the test fails instead of hanging.
    std::atomic<bool> done{false};
    std::thread watchdog([&] {
        for (int i = 0; i < 3000 && !done; i++)
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        if (!done)
            printer.setStall(false);
    });

    std::vector<BYTE> chunk = Pattern(4096);
    LONG lSent = 0;
    BOOL bOk = TRUE;
    uint64_t cbTotal = 0;
    int nCalls = 0;
    while (bOk && nCalls < 100000) {
        bOk = SktSend(lpSkt, chunk.data(), (DWORD)chunk.size(), &lSent);
        nCalls++;
        if (bOk)
            cbTotal += (uint64_t)lSent;
    }
    done = true;
    watchdog.join();
    EXPECT_FALSE(bOk);
    EXPECT_EQ(lSent, 0);
    EXPECT_GT(cbTotal, 0u);
    EXPECT_NE(lpSkt->hSocket, INVALID_SOCKET);
    EXPECT_TRUE(log.has("SktSend: Send failed"));
    printer.setStall(false);
    Close(lpSkt);
}

TEST_F(DataChannel, ZeroSecondsSetsZeroTimeoutInBothModes)
{
    LPSkt lpSkt = Open("127.0.6.50", 0);
    ASSERT_NE(lpSkt, nullptr);
    int nValue = -1;
    int cb = sizeof(nValue);
    ASSERT_EQ(getsockopt(lpSkt->hSocket, SOL_SOCKET, SO_SNDTIMEO, (char *)&nValue, &cb), 0);
    EXPECT_EQ(nValue, 0);
    Close(lpSkt);
    printer.stop();

    DorveWsaRefuseSndTimeo(TRUE);
    lpSkt = Open("127.0.6.51", 0);
    ASSERT_NE(lpSkt, nullptr);
    EXPECT_EQ(lpSkt->dwSelectTimeout, 0u);
    std::vector<BYTE> data = Pattern(5000);
    LONG lSent = 0;
    EXPECT_TRUE(SktSend(lpSkt, data.data(), (DWORD)data.size(), &lSent));
    EXPECT_EQ(lSent, 5000);
    Close(lpSkt);
}

}  // namespace
