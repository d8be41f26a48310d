// The monitor's socket objects, data channel and status channel over Wine's
// Winsock, against the emulated printer that run.sh starts as a host
// program on $DORVE_WINE_PRINTER port 35.  The emulator is steered through
// its state file ($DORVE_WINE_PRINTER_STATE, read again before every request
// and connection) and writes each job to $DORVE_WINE_SPOOL\job-NNNN.prn.
// The host's transport tests run the emulator inside the test program and
// speed the clock up; these keep to real time and waits of a few seconds.
#include <gtest/gtest.h>

#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include <algorithm>
#include <string>
#include <vector>

#include "testlib.h"

namespace {

std::string Env(const char *name)
{
    const char *value = getenv(name);
    return value != nullptr ? value : "";
}

void Discard(LPVOID, DWORD, LPCSTR) {}

class WineTransport : public ::testing::Test {
protected:
    void SetUp() override
    {
        address_ = Env("DORVE_WINE_PRINTER");
        spool_ = Env("DORVE_WINE_SPOOL");
        state_ = Env("DORVE_WINE_PRINTER_STATE");
        ASSERT_FALSE(address_.empty() || spool_.empty() || state_.empty())
            << "run under tests/wine/run.sh, which starts the printer emulator";
        ASSERT_TRUE(dorvetest::LoadMonitorModule());
        ASSERT_TRUE(StartSock());
        SetState("status ready\ntext Ready\n");
    }
    void TearDown() override
    {
        if (lpSkt_ != NULL) {
            SktClose(lpSkt_);
            SktDestroy(lpSkt_);
        }
        SetState("");
        WSACleanup();
    }

    void SetState(const std::string &lines)
    {
        FILE *f = fopen(state_.c_str(), "wb");
        ASSERT_NE(f, nullptr) << state_;
        fputs(lines.c_str(), f);
        fclose(f);
    }

    LPSkt Create()
    {
        EXPECT_TRUE(SktCreate(&lpSkt_, Discard, NULL, address_.c_str()));
        return lpSkt_;
    }

    // The names of the spool's job files.
    std::vector<std::string> Jobs()
    {
        std::vector<std::string> names;
        WIN32_FIND_DATAA data;
        HANDLE hFind = FindFirstFileA((spool_ + "\\job-*.prn").c_str(), &data);
        if (hFind == INVALID_HANDLE_VALUE)
            return names;
        do
            names.push_back(data.cFileName);
        while (FindNextFileA(hFind, &data));
        FindClose(hFind);
        return names;
    }

    std::string ReadJob(const std::string &name)
    {
        std::string bytes;
        FILE *f = fopen((spool_ + "\\" + name).c_str(), "rb");
        if (f == nullptr)
            return bytes;
        char buf[4096];
        size_t n;
        while ((n = fread(buf, 1, sizeof(buf), f)) > 0)
            bytes.append(buf, n);
        fclose(f);
        return bytes;
    }

    // String 523 as LoadStringA gives it in the process's code page.
    static std::string BusyText()
    {
        char text[ZUV_NAME_LEN] = "";
        LoadStringA(ghInstance, IDS_PRINTER_BUSY, text, sizeof(text));
        return text;
    }

    std::string address_, spool_, state_;
    LPSkt lpSkt_ = NULL;
};

TEST_F(WineTransport, DottedAddressNamesPortThirtyFive)
{
    LPSkt lpSkt = Create();
    ASSERT_NE(lpSkt, nullptr);
    EXPECT_EQ(lpSkt->saPrinter.sin_family, AF_INET);
    EXPECT_EQ(ntohs(lpSkt->saPrinter.sin_port), 35);
    EXPECT_EQ(lpSkt->saPrinter.sin_addr.s_addr, inet_addr(address_.c_str()));
}

TEST_F(WineTransport, DataReachesThePrinterUnchanged)
{
    // The emulator writes the job's file as the bytes arrive, numbering from
    // 1 each time it starts: none of the files may be left from before.
    for (const std::string &name : Jobs())
        DeleteFileA((spool_ + "\\" + name).c_str());
    LPSkt lpSkt = Create();
    ASSERT_TRUE(SktOpenSend(lpSkt, 60));
    std::vector<BYTE> data(200000);
    for (size_t i = 0; i < data.size(); i++)
        data[i] = (BYTE)(i * 7 + 3);
    LONG lSent = 0;
    ASSERT_TRUE(SktSend(lpSkt, data.data(), (DWORD)data.size(), &lSent));
    EXPECT_EQ(lSent, (LONG)data.size());
    ASSERT_TRUE(SktClose(lpSkt));
    std::string job;
    ASSERT_TRUE(dorvetest::WaitFor(
        [&] {
            std::vector<std::string> now = Jobs();
            if (now.empty())
                return false;
            job = *std::max_element(now.begin(), now.end());
            return ReadJob(job).size() == data.size();
        },
        5000));
    EXPECT_EQ(ReadJob(job), std::string(data.begin(), data.end()));
}

TEST_F(WineTransport, RefusedConnectionFailsAndLeavesNoSocket)
{
    SetState("refuse 1\n");
    Sleep(300);  // the emulator closes its listener on its next look at the file
    LPSkt lpSkt = Create();
    // The emulator reads the file again before each connection, so a first
    // attempt may still find the listener open.
    BOOL bOpened = SktOpenSend(lpSkt, 5);
    if (bOpened) {
        SktClose(lpSkt);
        Sleep(300);
        bOpened = SktOpenSend(lpSkt, 5);
    }
    EXPECT_FALSE(bOpened);
    EXPECT_EQ(lpSkt->hSocket, INVALID_SOCKET);
}

struct StatusCase {
    const char *state;
    DWORD dwResult;
    bool bBusyText;
    const char *text;
};

TEST_F(WineTransport, StatusRepliesOfEveryKind)
{
    static const StatusCase cases[] = {
        {"status ready\ntext Online\n", ZUV_STS_READY, false, "Online"},
        {"status busy\ntext Warming up\n", ZUV_STS_READY, true, ""},
        {"status busy11\ntext Warming up\n", ZUV_STS_NOTREADY, true, ""},
        {"status not-accepting\ntext Offline\n", ZUV_STS_NOTREADY, false, "Offline"},
    };
    LPSkt lpSkt = Create();
    ASSERT_TRUE(SktOpenStatus(lpSkt, 3));
    const std::string busy = BusyText();
    ASSERT_FALSE(busy.empty());
    for (const StatusCase &c : cases) {
        SCOPED_TRACE(c.state);
        SetState(c.state);
        char text[ZUV_NAME_LEN] = "?";
        DWORD dwResult = 99;
        EXPECT_TRUE(SktStatus(lpSkt, text, &dwResult));
        EXPECT_EQ(dwResult, c.dwResult);
        EXPECT_EQ(std::string(text), c.bBusyText ? busy : std::string(c.text));
    }
}

TEST_F(WineTransport, SilentPrinterIsNoAnswerAfterTheTimeout)
{
    SetState("status silent\n");
    LPSkt lpSkt = Create();
    ASSERT_TRUE(SktOpenStatus(lpSkt, 1));
    char text[ZUV_NAME_LEN] = "?";
    DWORD dwResult = 99;
    DWORD dwStart = GetTickCount();
    EXPECT_FALSE(SktStatus(lpSkt, text, &dwResult));
    DWORD dwSpent = GetTickCount() - dwStart;
    EXPECT_EQ(dwResult, (DWORD)ZUV_STS_NOANSWER);
    // A second of draining, then the one-second wait for the reply.
    EXPECT_GE(dwSpent, 1800u);
    EXPECT_LT(dwSpent, 6000u);
}

// The host's Winsock answers the same; these are the calls whose Win32
// behaviour the layer copies.
TEST(WineWinsock, StartupReportsVersionOneOne)
{
    WSADATA wsaData;
    ASSERT_EQ(WSAStartup(MAKEWORD(1, 1), &wsaData), 0);
    EXPECT_EQ(wsaData.wVersion, MAKEWORD(1, 1));
    EXPECT_EQ(WSACleanup(), 0);
}

TEST(WineWinsock, TruncatedDatagramIsMessageSizeError)
{
    WSADATA wsaData;
    ASSERT_EQ(WSAStartup(MAKEWORD(1, 1), &wsaData), 0);
    SOCKET s = socket(AF_INET, SOCK_DGRAM, 0);
    ASSERT_NE(s, INVALID_SOCKET);
    SOCKADDR_IN sa;
    memset(&sa, 0, sizeof(sa));
    sa.sin_family = AF_INET;
    sa.sin_addr.s_addr = inet_addr("127.0.0.72");
    ASSERT_EQ(bind(s, (SOCKADDR *)&sa, sizeof(sa)), 0);
    int cb = sizeof(sa);
    ASSERT_EQ(getsockname(s, (SOCKADDR *)&sa, &cb), 0);
    char big[64];
    memset(big, 'x', sizeof(big));
    ASSERT_EQ(sendto(s, big, sizeof(big), 0, (SOCKADDR *)&sa, sizeof(sa)), (int)sizeof(big));
    char small[16];
    int n = recv(s, small, sizeof(small), 0);
    EXPECT_EQ(n, SOCKET_ERROR);
    EXPECT_EQ(WSAGetLastError(), WSAEMSGSIZE);
    closesocket(s);
    WSACleanup();
}

TEST(WineWinsock, SelectWithZeroTimeoutReturnsAtOnce)
{
    WSADATA wsaData;
    ASSERT_EQ(WSAStartup(MAKEWORD(1, 1), &wsaData), 0);
    SOCKET s = socket(AF_INET, SOCK_DGRAM, 0);
    ASSERT_NE(s, INVALID_SOCKET);
    fd_set readable;
    FD_ZERO(&readable);
    FD_SET(s, &readable);
    timeval tv = {0, 0};
    DWORD dwStart = GetTickCount();
    EXPECT_EQ(select(0, &readable, nullptr, nullptr, &tv), 0);
    EXPECT_LT(GetTickCount() - dwStart, 500u);
    closesocket(s);
    WSACleanup();
}

}  // namespace
