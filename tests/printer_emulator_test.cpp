// The emulated printer itself, seen from plain host sockets: its status
// replies on the wire, its job files, its data faults and its SNMPv1 trap.
// The monitor's own tests rely on all of this.
#include "printer.h"

#include <arpa/inet.h>
#include <errno.h>
#include <netinet/in.h>
#include <poll.h>
#include <stdlib.h>
#include <string.h>
#include <sys/socket.h>
#include <unistd.h>

#include <fstream>
#include <iterator>

#include <gtest/gtest.h>

namespace {

using Bytes = std::vector<uint8_t>;

class Emulator : public ::testing::Test {
protected:
    void SetUp() override
    {
        char tmpl[] = "/tmp/dorve-printer-test-XXXXXX";
        ASSERT_NE(mkdtemp(tmpl), nullptr);
        dir = tmpl;
    }
    void TearDown() override
    {
        printer.stop();
        std::string cmd = "rm -rf '" + dir + "'";
        (void)system(cmd.c_str());
    }
    // Port 35 needs the privilege to bind it; otherwise an unprivileged port.
    void Start(const std::string &address)
    {
        addr = address;
        port = dorve::kPrinterPort;
        if (!printer.start(address, dir, port)) {
            port = 30135;
            ASSERT_TRUE(printer.start(address, dir, port)) << printer.lastError();
        }
    }
    sockaddr_in Target() const
    {
        sockaddr_in sa{};
        sa.sin_family = AF_INET;
        sa.sin_port = htons(port);
        inet_pton(AF_INET, addr.c_str(), &sa.sin_addr);
        return sa;
    }
    // One status request and its reply (empty when none came in 2 s).
    Bytes Ask()
    {
        int fd = socket(AF_INET, SOCK_DGRAM, 0);
        sockaddr_in to = Target();
        Bytes request(20, 0);
        sendto(fd, request.data(), request.size(), 0, (sockaddr *)&to, sizeof(to));
        Bytes reply(2048);
        pollfd p{fd, POLLIN, 0};
        ssize_t n = poll(&p, 1, 2000) == 1 ? recv(fd, reply.data(), reply.size(), 0) : 0;
        close(fd);
        reply.resize(n > 0 ? size_t(n) : 0);
        return reply;
    }
    int Connect()
    {
        int fd = socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in to = Target();
        if (connect(fd, (sockaddr *)&to, sizeof(to)) != 0) {
            int e = errno;
            close(fd);
            errno = e;
            return -1;
        }
        return fd;
    }
    void SendAll(int fd, const std::string &s)
    {
        size_t off = 0;
        while (off < s.size()) {
            ssize_t n = send(fd, s.data() + off, s.size() - off, MSG_NOSIGNAL);
            ASSERT_GT(n, 0);
            off += size_t(n);
        }
    }

    std::string dir, addr;
    uint16_t port = 0;
    dorve::PrinterEmulator printer;
};

uint16_t Get16(const Bytes &b, size_t at) { return uint16_t(b[at] << 8 | b[at + 1]); }
uint32_t Get32(const Bytes &b, size_t at)
{
    return uint32_t(b[at]) << 24 | uint32_t(b[at + 1]) << 16 | uint32_t(b[at + 2]) << 8 | b[at + 3];
}

TEST_F(Emulator, StatusRepliesUseTheWireLayout)
{
    struct Case {
        dorve::PrinterState state;
        uint8_t prStatus;
        uint32_t mask;
    };
    static const Case cases[] = {
        {dorve::PrinterState::Ready, 0x00, 1},
        {dorve::PrinterState::Busy, 0x10, 1},
        {dorve::PrinterState::Busy11, 0x11, 1},
        {dorve::PrinterState::NotAccepting, 0x00, 0},
    };
    Start("127.0.6.100");
    printer.setText("Online");
    for (const Case &c : cases) {
        printer.setState(c.state);
        Bytes r = Ask();
        ASSERT_EQ(r.size(), 26u);
        EXPECT_EQ(r[2], c.prStatus);
        EXPECT_EQ(Get32(r, 12), c.mask);
        EXPECT_EQ(Get16(r, 16), 20);
        EXPECT_EQ(Get16(r, 18), 6);
        EXPECT_EQ(std::string(r.begin() + 20, r.end()), "Online");
    }
    printer.setState(dorve::PrinterState::Silent);
    EXPECT_TRUE(Ask().empty());
    auto c = printer.counters();
    EXPECT_EQ(c.statusRequests, 5u);
    EXPECT_EQ(c.statusReplies, 4u);
    EXPECT_EQ(c.requestBytes[0], Bytes(20, 0));
}

TEST_F(Emulator, MalformedRepliesOnRequest)
{
    Start("127.0.6.101");
    printer.setText("abc");
    printer.setReplyTruncate(12);
    EXPECT_EQ(Ask().size(), 12u);
    printer.setReplyTruncate(-1);
    printer.setTextFields(300, 9);
    Bytes r = Ask();
    EXPECT_EQ(Get16(r, 16), 300);
    EXPECT_EQ(Get16(r, 18), 9);
    printer.clearTextFields();
    printer.setReplyPadTo(300);
    EXPECT_EQ(Ask().size(), 300u);
}

TEST_F(Emulator, StateFileIsReadBeforeEachRequest)
{
    std::string file = dir + "/state";
    Start("127.0.6.102");
    printer.setStateFile(file);
    std::ofstream(file) << "status busy\ntext Toner low\n";
    Bytes r = Ask();
    ASSERT_GE(r.size(), 20u);
    EXPECT_EQ(r[2], 0x10);
    EXPECT_EQ(std::string(r.begin() + 20, r.end()), "Toner low");
    std::ofstream(file) << "status silent\n";
    EXPECT_TRUE(Ask().empty());
}

TEST_F(Emulator, EachConnectionIsOneJobFile)
{
    Start("127.0.6.103");
    const std::string header = "%!\n%%For: abc\n";
    const std::string data(5000, 'z');
    for (int i = 0; i < 2; i++) {
        int fd = Connect();
        ASSERT_GE(fd, 0);
        SendAll(fd, header + data);
        close(fd);
        ASSERT_TRUE(printer.waitForJobs(i + 1, std::chrono::seconds(5)));
    }
    auto jobs = printer.jobs();
    ASSERT_EQ(jobs.size(), 2u);
    EXPECT_EQ(jobs[1].number, 2u);
    EXPECT_EQ(jobs[1].path, dir + "/job-0002.prn");
    EXPECT_EQ(jobs[0].header, header);
    EXPECT_EQ(jobs[0].headerBytes, 14u);
    EXPECT_EQ(jobs[0].dataBytes, 5000u);
    std::ifstream in(jobs[0].path, std::ios::binary);
    EXPECT_EQ(std::string(std::istreambuf_iterator<char>(in), {}), header + data);
    EXPECT_EQ(printer.counters().bytesReceived, 2 * (14u + 5000u));
}

TEST_F(Emulator, DataFaults)
{
    Start("127.0.6.104");

    printer.setRefuse(true);
    EXPECT_EQ(Connect(), -1);
    EXPECT_EQ(errno, ECONNREFUSED);
    printer.setRefuse(false);
    int fd = Connect();
    ASSERT_GE(fd, 0);
    close(fd);
    // The empty job must be done before the next one, or it may be the last.
    ASSERT_TRUE(printer.waitForJobs(1, std::chrono::seconds(5)));

    printer.setResetAfter(100);
    fd = Connect();
    ASSERT_GE(fd, 0);
    std::string big(1 << 20, 'r');
    ssize_t n = 0;
    for (int i = 0; i < 50 && n >= 0; i++)
        n = send(fd, big.data(), big.size(), MSG_NOSIGNAL);
    EXPECT_LT(n, 0);
    close(fd);
    ASSERT_TRUE(printer.waitForJobs(2, std::chrono::seconds(5)));
    auto jobs = printer.jobs();
    EXPECT_TRUE(jobs.back().reset);
    EXPECT_EQ(jobs.back().dataBytes + jobs.back().headerBytes, 100u);
}

TEST_F(Emulator, StallLeavesDataUnread)
{
    Start("127.0.6.105");
    printer.setStall(true);
    int fd = Connect();
    ASSERT_GE(fd, 0);
    SendAll(fd, std::string(1000, 's'));
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    EXPECT_EQ(printer.counters().bytesReceived, 0u);
    printer.setStall(false);
    close(fd);
    ASSERT_TRUE(printer.waitForJobs(1, std::chrono::seconds(5)));
    EXPECT_EQ(printer.counters().bytesReceived, 1000u);
}

// A minimal BER reader, enough to take the trap apart.
struct Ber {
    const Bytes &b;
    size_t pos;
    bool ok = true;
    // Reads one TLV header; returns the content length.
    size_t Open(uint8_t tag)
    {
        if (pos + 2 > b.size() || b[pos] != tag) {
            ok = false;
            return 0;
        }
        pos++;
        size_t len = b[pos++];
        if (len & 0x80) {
            size_t nb = len & 0x7F;
            len = 0;
            while (nb-- && pos < b.size())
                len = len << 8 | b[pos++];
        }
        if (pos + len > b.size())
            ok = false;
        return len;
    }
    Bytes Take(uint8_t tag)
    {
        size_t len = Open(tag);
        if (!ok)
            return {};
        Bytes v(b.begin() + pos, b.begin() + pos + len);
        pos += len;
        return v;
    }
    int64_t Integer(uint8_t tag = 0x02)
    {
        Bytes v = Take(tag);
        int64_t x = (!v.empty() && (v[0] & 0x80)) ? -1 : 0;
        for (uint8_t c : v)
            x = x << 8 | c;
        return x;
    }
    std::string Oid()
    {
        Bytes v = Take(0x06);
        if (v.empty())
            return "";
        std::string s = std::to_string(v[0] / 40) + "." + std::to_string(v[0] % 40);
        uint32_t arc = 0;
        for (size_t i = 1; i < v.size(); i++) {
            arc = arc << 7 | (v[i] & 0x7F);
            if (!(v[i] & 0x80)) {
                s += "." + std::to_string(arc);
                arc = 0;
            }
        }
        return s;
    }
};

TEST_F(Emulator, TrapAfterEachJobIsAnSnmpV1Trap)
{
    int trapFd = socket(AF_INET, SOCK_DGRAM, 0);
    sockaddr_in sa{};
    sa.sin_family = AF_INET;
    inet_pton(AF_INET, "127.0.0.1", &sa.sin_addr);
    ASSERT_EQ(bind(trapFd, (sockaddr *)&sa, sizeof(sa)), 0);
    socklen_t len = sizeof(sa);
    getsockname(trapFd, (sockaddr *)&sa, &len);

    Start("127.0.6.106");
    EXPECT_FALSE(printer.setTrapTo("10.1.2.3"));
    ASSERT_TRUE(printer.setTrapTo("127.0.0.1", ntohs(sa.sin_port)));
    int fd = Connect();
    ASSERT_GE(fd, 0);
    SendAll(fd, "%!\n%%For: t\nx");
    close(fd);

    Bytes trap(1500);
    pollfd p{trapFd, POLLIN, 0};
    ASSERT_EQ(poll(&p, 1, 5000), 1);
    ssize_t n = recv(trapFd, trap.data(), trap.size(), 0);
    close(trapFd);
    ASSERT_GT(n, 0);
    trap.resize(size_t(n));

    Ber ber{trap, 0};
    EXPECT_EQ(ber.Open(0x30), trap.size() - 2);
    EXPECT_EQ(ber.Integer(), 0);  // version-1
    Bytes community = ber.Take(0x04);
    EXPECT_EQ(std::string(community.begin(), community.end()), "public");
    ber.Open(0xA4);
    EXPECT_EQ(ber.Oid(), "1.3.6.1.4.1.480.1.1");
    EXPECT_EQ(ber.Take(0x40), (Bytes{127, 0, 6, 106}));
    EXPECT_EQ(ber.Integer(), 6);   // enterpriseSpecific
    EXPECT_EQ(ber.Integer(), 1);
    EXPECT_GE(ber.Integer(0x43), 0);
    ber.Open(0x30);
    ber.Open(0x30);
    EXPECT_EQ(ber.Oid(), "1.3.6.1.4.1.480.1.1.1005.0");
    EXPECT_EQ(ber.Integer(), 1);   // the job number
    EXPECT_TRUE(ber.ok);
    EXPECT_EQ(ber.pos, trap.size());
}

TEST(EmulatorSetup, LoopbackOnly)
{
    dorve::PrinterEmulator printer;
    EXPECT_FALSE(printer.start("10.0.0.1", "/tmp"));
    EXPECT_FALSE(dorve::SendLoopbackDatagram("192.168.1.1", 162, {1}));
}

TEST(EmulatorSetup, BerEncodesLongIntegersAndLengths)
{
    Bytes t = dorve::BuildSnmpV1Trap(0x7F000001, 200, 0x80000000u, 128);
    Ber ber{t, 0};
    ber.Open(0x30);
    ber.Integer();
    ber.Take(0x04);
    ber.Open(0xA4);
    ber.Oid();
    ber.Take(0x40);
    EXPECT_EQ(ber.Integer(), 6);
    EXPECT_EQ(ber.Integer(), 200);
    EXPECT_EQ(ber.Integer(0x43), 0x80000000LL);  // needs a leading zero byte
    ber.Open(0x30);
    ber.Open(0x30);
    ber.Oid();
    EXPECT_EQ(ber.Integer(), 128);
    EXPECT_TRUE(ber.ok);
}

}  // namespace
