// The UDP status channel against the emulated printer: the request, every
// kind of reply, silence, stale replies and malformed replies.
#include "sock_testutil.h"

#include <string.h>

using socktest::SockTest;

namespace {

std::string BusyText()
{
    char sz[ZUV_NAME_LEN] = "";
    LoadStringA(ghInstance, IDS_PRINTER_BUSY, sz, sizeof(sz));
    return sz;
}

class StatusChannel : public SockTest {
protected:
    void SetUp() override
    {
        SockTest::SetUp();
        ASSERT_TRUE(dorvetest::LoadMonitorModule());
    }
    // Opens the channel to a fresh printer at ADDRESS; polls wait up to
    // dwTimeout simulated seconds.
    void Open(const char *address, DWORD dwTimeout)
    {
        ASSERT_TRUE(socktest::StartPrinter(printer, address, spool.path())) << printer.lastError();
        lpSkt = Create(address);
        ASSERT_NE(lpSkt, nullptr);
        ASSERT_TRUE(SktOpenStatus(lpSkt, dwTimeout));
        EXPECT_EQ(lpSkt->dwStatusTimeout, dwTimeout);
        log.clear();
    }
    void TearDown() override
    {
        if (lpSkt != NULL) {
            EXPECT_TRUE(SktClose(lpSkt));
            SktDestroy(lpSkt);
        }
        SockTest::TearDown();
    }
    // One poll: the result, with the text left in `text`.
    DWORD Poll()
    {
        memset(text, '#', sizeof(text));
        text[0] = '\0';
        DWORD dwResult = 77;
        BOOL bOk = SktStatus(lpSkt, text, &dwResult);
        EXPECT_EQ(bOk, dwResult != ZUV_STS_NOANSWER ? TRUE : FALSE);
        EXPECT_FALSE(lpSkt->bBusy);
        return dwResult;
    }
    std::vector<std::string> GetStatusTraces() const
    {
        std::vector<std::string> out;
        for (const auto &t : log.texts())
            if (t.rfind("GetStatus:", 0) == 0)
                out.push_back(t);
        return out;
    }

    LPSkt lpSkt = NULL;
    char text[ZUV_NAME_LEN];
    dorvetest::ClockRate fast{20};
};

TEST_F(StatusChannel, RequestIsTwentyZeroBytes)
{
    Open("127.0.6.60", 10);
    EXPECT_EQ(Poll(), (DWORD)ZUV_STS_READY);
    auto c = printer.counters();
    ASSERT_EQ(c.statusRequests, 1u);
    EXPECT_EQ(c.requestBytes[0], std::vector<uint8_t>(20, 0));
}

struct ReplyCase {
    const char *name;
    uint8_t prStatus;
    uint32_t acceptMask;
    const char *printerText;
    DWORD dwResult;
    bool bBusyText;
};

TEST_F(StatusChannel, EveryKindOfReply)
{
    static const ReplyCase cases[] = {
        {"busy, accepting", 0x10, 1, "Warming up", ZUV_STS_READY, true},
        {"busy 0x11", 0x11, 1, "Warming up", ZUV_STS_NOTREADY, true},
        {"0x20 accepting", 0x20, 1, "Online", ZUV_STS_READY, false},
        {"0x01 accepting", 0x01, 1, "Paper out", ZUV_STS_NOTREADY, false},
        {"accept bit clear", 0x00, 0xFFFFFFFE, "Offline", ZUV_STS_NOTREADY, false},
        {"accept bit clear, busy", 0x10, 0, "Offline", ZUV_STS_NOTREADY, true},
        {"other mask bits ignored", 0x00, 0x80000001, "Ready", ZUV_STS_READY, false},
        {"empty text", 0x00, 1, "", ZUV_STS_READY, false},
    };
    Open("127.0.6.61", 10);
    const std::string busy = BusyText();
    ASSERT_FALSE(busy.empty());
    for (const ReplyCase &c : cases) {
        SCOPED_TRACE(c.name);
        printer.setRawStatus(c.prStatus, c.acceptMask);
        printer.setText(c.printerText);
        log.clear();
        EXPECT_EQ(Poll(), c.dwResult);
        EXPECT_EQ(std::string(text), c.bBusyText ? busy : std::string(c.printerText));
        char szLine[128];
        snprintf(szLine, sizeof(szLine), "GetStatus: pr_status = %02x and pr_acceptmask = %08x", c.prStatus,
                 c.acceptMask);
        EXPECT_EQ(GetStatusTraces(),
                  (std::vector<std::string>{szLine, std::string("GetStatus: string from printer is <") +
                                                        c.printerText + ">"}));
        EXPECT_TRUE(log.has("SktStatus: Got status"));
    }
}

TEST_F(StatusChannel, SilentPrinterGivesNoAnswerAfterDrainAndTimeout)
{
    Open("127.0.6.62", 10);
    printer.setState(dorve::PrinterState::Silent);
    uint64_t msStart = DorveClockNowMs();
    strcpy(text, "kept");
    DWORD dwResult = 77;
    EXPECT_FALSE(SktStatus(lpSkt, text, &dwResult));
    uint64_t msSpent = DorveClockNowMs() - msStart;
    EXPECT_EQ(dwResult, (DWORD)ZUV_STS_NOANSWER);
    EXPECT_STREQ(text, "kept");
    EXPECT_GE(msSpent, 11000u - 200u);
    EXPECT_EQ(log.texts(), (std::vector<std::string>{"SktStatus: Got status semaphore", "SktStatus: GetStatus failed"}));
    EXPECT_EQ(log.level("SktStatus: GetStatus failed"), 2u);
    EXPECT_EQ(printer.counters().statusRequests, 1u);
}

TEST_F(StatusChannel, BusyObjectGivesUpWithEmptyText)
{
    Open("127.0.6.63", 10);
    lpSkt->bBusy = TRUE;
    strcpy(text, "something");
    DWORD dwResult = 0;
    EXPECT_FALSE(SktStatus(lpSkt, text, &dwResult));
    EXPECT_EQ(dwResult, (DWORD)ZUV_STS_NOANSWER);
    EXPECT_STREQ(text, "");
    EXPECT_EQ(log.texts(), (std::vector<std::string>{"SktStatus: Status semaphore unavailable"}));
    EXPECT_EQ(printer.counters().statusRequests, 0u);
    lpSkt->bBusy = FALSE;
}

// A reply that comes after its poll gave up is thrown away by the next
// poll's drain, which then asks again.
TEST_F(StatusChannel, StaleReplyIsDrained)
{
    dorvetest::ClockRate slow(2);  // drain 500 ms real, wait 500 ms real
    Open("127.0.6.64", 1);
    printer.setText("stale");
    printer.setReplyDelay(std::chrono::milliseconds(800));
    EXPECT_EQ(Poll(), (DWORD)ZUV_STS_NOANSWER);

    printer.setText("fresh");
    printer.setReplyDelay(std::chrono::milliseconds(0));
    EXPECT_EQ(Poll(), (DWORD)ZUV_STS_READY);
    EXPECT_STREQ(text, "fresh");
    // The printer counts a reply just after sending it.
    EXPECT_TRUE(dorvetest::WaitFor([&] { return printer.counters().statusReplies >= 2; }, 2000));
    EXPECT_EQ(printer.counters().statusRequests, 2u);
}

TEST_F(StatusChannel, ZeroTimeoutIsAnImmediateCheck)
{
    Open("127.0.6.65", 0);
    printer.setReplyDelay(std::chrono::milliseconds(200));
    EXPECT_EQ(Poll(), (DWORD)ZUV_STS_NOANSWER);
}

TEST_F(StatusChannel, LongTextIsCutToFit)
{
    Open("127.0.6.66", 10);
    const std::string longText(200, 'L');
    printer.setText(longText);
    EXPECT_EQ(Poll(), (DWORD)ZUV_STS_READY);
    EXPECT_EQ(std::string(text), longText.substr(0, 127));
    for (const auto &t : GetStatusTraces()) {
        EXPECT_LE(t.size(), 127u) << t;
    }
    auto traces = GetStatusTraces();
    ASSERT_EQ(traces.size(), 2u);
    EXPECT_EQ(traces[1].back(), '>');
}

struct MalformedCase {
    const char *name;
    int truncate;          // -1: whole reply
    int textOffset;        // -1: the true one
    int textLength;
    size_t padTo;
    DWORD dwResult;
    const char *expectText;  // nullptr: not checked
};

// Never read past the datagram (the ASan build checks that too).
TEST_F(StatusChannel, MalformedRepliesStayWithinTheDatagram)
{
    static const MalformedCase cases[] = {
        {"19 bytes", 19, -1, 0, 0, ZUV_STS_NOANSWER, nullptr},
        {"2 bytes", 2, -1, 0, 0, ZUV_STS_NOANSWER, nullptr},
        {"empty datagram", 0, -1, 0, 0, ZUV_STS_NOANSWER, nullptr},
        {"header only, text claimed", 20, -1, 0, 0, ZUV_STS_READY, ""},
        {"length past the end", -1, 20, 500, 0, ZUV_STS_READY, "abcdef"},
        {"offset past the end", -1, 300, 5, 0, ZUV_STS_READY, ""},
        {"offset inside the header", -1, 2, 4, 0, ZUV_STS_READY, nullptr},
        {"offset and length at 65535", -1, 65535, 65535, 0, ZUV_STS_READY, ""},
        {"exactly 256 bytes", -1, 20, 236, 256, ZUV_STS_READY, nullptr},
        {"longer than 256 bytes", -1, -1, 0, 300, ZUV_STS_NOANSWER, nullptr},
    };
    Open("127.0.6.67", 10);
    for (const MalformedCase &c : cases) {
        SCOPED_TRACE(c.name);
        printer.setText("abcdef");
        printer.setReplyTruncate(c.truncate);
        if (c.textOffset >= 0)
            printer.setTextFields(uint16_t(c.textOffset), uint16_t(c.textLength));
        else
            printer.clearTextFields();
        printer.setReplyPadTo(c.padTo);
        log.clear();
        EXPECT_EQ(Poll(), c.dwResult);
        if (c.dwResult == ZUV_STS_NOANSWER) {
            EXPECT_TRUE(GetStatusTraces().empty());
        } else {
            EXPECT_LT(strlen(text), (size_t)ZUV_NAME_LEN);
        }
        if (c.expectText != nullptr && c.dwResult != ZUV_STS_NOANSWER) {
            EXPECT_STREQ(text, c.expectText);
        }
    }
}

// A second sender's datagram that arrives during the wait is the reply.
TEST_F(StatusChannel, AnySenderDuringTheWaitIsTheReply)
{
    Open("127.0.6.68", 10);
    printer.setState(dorve::PrinterState::Silent);
    SOCKADDR_IN saLocal;
    int cb = sizeof(saLocal);
    ASSERT_EQ(getsockname(lpSkt->hSocket, (struct sockaddr *)&saLocal, &cb), 0);
    WORD wPort = ntohs(saLocal.sin_port);

    std::thread other([&] {
        printer.waitForStatusRequests(1, std::chrono::seconds(10));
        std::vector<uint8_t> reply(20 + 5, 0);
        reply[2] = 0x00;
        reply[15] = 1;
        reply[17] = 20;
        reply[19] = 5;
        memcpy(reply.data() + 20, "other", 5);
        dorve::SendLoopbackDatagram("127.0.0.1", wPort, reply);
    });
    DWORD dwResult = Poll();
    other.join();
    EXPECT_EQ(dwResult, (DWORD)ZUV_STS_READY);
    EXPECT_STREQ(text, "other");
}

}  // namespace
