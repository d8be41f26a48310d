// The end-of-job trap wait.  The trap socket binds UDP port 162 on every
// address of the host, so each test maps the layer's port 162 to a host port
// of its own: the tests of this program may then run side by side, and
// beside other programs that wait for traps.
#include "sock_testutil.h"

#include <stdlib.h>
#include <string.h>

#include <atomic>
#include <string>
#include <thread>

using socktest::SockTest;

namespace {

const uint64_t kTrapWaitMs = 300000;
// At 600 simulated seconds a second, one real millisecond of rounding in the
// layer's clock is 600 simulated ones.
const uint64_t kClockSlackMs = 2000;

class TrapWait : public SockTest {
protected:
    void SetUp() override
    {
        SockTest::SetUp();
        memset(&port, 0, sizeof(port));
        SetZUVPortDefaults(&port);
        strcpy(port.szPortName, "trap-port");
    }
    void TearDown() override
    {
        if (waiter.joinable())
            waiter.join();
        SockTest::TearDown();
    }
    void MapTrapPort(WORD wHostPort)
    {
        hostPort = wHostPort;
        DorveWsaMapPort(ZUV_TRAP_PORT, wHostPort);
    }
    // Runs waitForTrap on a thread of its own, as the spooler thread would,
    // and returns once the wait has begun.
    void StartWaiting()
    {
        finished = false;
        waiter = std::thread([this] {
            msStart = DorveClockNowMs();
            waitForTrap(&port);
            msEnd = DorveClockNowMs();
            finished = true;
        });
        ASSERT_TRUE(dorvetest::WaitFor([&] { return ZUVLoad(port.bWaitingForTrap) != FALSE; }, 5000));
    }
    bool WaitFinished(int msReal) { return dorvetest::WaitFor([&] { return finished.load(); }, msReal); }

    ZUVPort port;
    WORD hostPort = 0;
    std::thread waiter;
    std::atomic<bool> finished{false};
    std::atomic<uint64_t> msStart{0}, msEnd{0};
};

TEST_F(TrapWait, AnyDatagramEndsTheWaitAtOnce)
{
    static const std::vector<std::vector<uint8_t>> datagrams = {
        {0x01},
        std::vector<uint8_t>(100, 0x55),
        std::vector<uint8_t>(400, 0xAA),  // longer than the buffer: the receive fails, the wait ends
    };
    MapTrapPort(40162);
    for (const auto &d : datagrams) {
        SCOPED_TRACE(d.size());
        StartWaiting();
        EXPECT_TRUE(dorve::SendLoopbackDatagram("127.0.0.1", hostPort, d));
        EXPECT_TRUE(WaitFinished(5000));
        waiter.join();
        EXPECT_FALSE(ZUVLoad(port.bWaitingForTrap));
        EXPECT_LT(msEnd - msStart, 5000u);
    }
}

TEST_F(TrapWait, PrinterTrapAfterJobEndsTheWait)
{
    MapTrapPort(40163);
    ASSERT_TRUE(socktest::StartPrinter(printer, "127.0.6.80", spool.path()));
    ASSERT_TRUE(printer.setTrapTo("127.0.0.1", hostPort));
    strcpy(port.szIPAddress, "127.0.6.80");

    StartWaiting();
    ASSERT_TRUE(StartSend(&gZUVMon, &port));
    static const char szJob[] = "%!\n%%For: trap\nhello";
    LONG cbWritten = 0;
    EXPECT_TRUE(WriteSend(&gZUVMon, &port, (LPBYTE)szJob, sizeof(szJob) - 1, &cbWritten));
    EXPECT_TRUE(EndSend(&gZUVMon, &port));

    EXPECT_TRUE(WaitFinished(10000));
    EXPECT_EQ(printer.counters().trapsSent, 1u);
    EXPECT_FALSE(ZUVLoad(port.bWaitingForTrap));
}

// A real SNMP peer: net-snmp's snmptrap sends an SNMPv1 trap to the trap
// port, as a printer announcing the end of its output would.
TEST_F(TrapWait, NetSnmpTrapEndsTheWait)
{
    ASSERT_EQ(system("command -v snmptrap >/dev/null 2>&1"), 0)
        << "snmptrap (Debian package snmp) is needed: scripts/setup.sh installs it";
    MapTrapPort(40166);
    StartWaiting();
    std::string cmd = "snmptrap -v 1 -c public -M /dev/null 127.0.0.1:" + std::to_string(hostPort) +
                      " 1.3.6.1.4.1.480 127.0.0.1 6 1 '' >/dev/null 2>&1";
    EXPECT_EQ(system(cmd.c_str()), 0) << cmd;
    EXPECT_TRUE(WaitFinished(10000));
    EXPECT_FALSE(ZUVLoad(port.bWaitingForTrap));
}

TEST_F(TrapWait, NoDatagramReturnsAfterThreeHundredSeconds)
{
    MapTrapPort(40164);
    dorvetest::ClockRate fast(600);
    StartWaiting();
    // Still waiting well into the 300 simulated seconds.
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
    EXPECT_FALSE(finished);
    EXPECT_TRUE(ZUVLoad(port.bWaitingForTrap));
    ASSERT_TRUE(WaitFinished(20000));
    waiter.join();
    EXPECT_GE(msEnd - msStart, kTrapWaitMs - kClockSlackMs);
    EXPECT_FALSE(ZUVLoad(port.bWaitingForTrap));
}

// A second wait cannot bind the port that the first holds: it does not see
// the datagram and runs to its time-out.
TEST_F(TrapWait, PortHeldElsewhereRunsToTimeout)
{
    MapTrapPort(40165);
    dorvetest::ClockRate fast(600);
    SOCKET hHolder = ZUVConnectSNMP();
    ASSERT_NE(hHolder, INVALID_SOCKET);
    StartWaiting();
    EXPECT_TRUE(dorve::SendLoopbackDatagram("127.0.0.1", hostPort, {0x30, 0x00}));
    ASSERT_TRUE(WaitFinished(20000));
    waiter.join();
    EXPECT_GE(msEnd - msStart, kTrapWaitMs - kClockSlackMs);
    EXPECT_FALSE(ZUVLoad(port.bWaitingForTrap));
    closesocket(hHolder);
}

}  // namespace
