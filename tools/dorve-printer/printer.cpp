// dorve-printer: the emulated printer (see printer.h).
#include "printer.h"

#include <arpa/inet.h>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <fstream>
#include <list>
#include <netinet/in.h>
#include <poll.h>
#include <sstream>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

namespace dorve {

namespace {

using Clock = std::chrono::steady_clock;

constexpr size_t kMaxKeptRequests = 64;
constexpr size_t kHeaderScanLimit = 4096;
constexpr int kPollMs = 10;

struct Settings {
    uint8_t prStatus = 0x00;
    uint32_t acceptMask = 1;
    bool silent = false;
    std::string text = "Ready";
    int delayMs = 0;
    int truncate = -1;
    bool textFields = false;
    uint16_t textOffset = 0;
    uint16_t textLength = 0;
    size_t padTo = 0;
    bool refuse = false;
    bool resetOnAccept = false;
    int64_t resetAfter = -1;
    bool stall = false;
    bool discard = false;
    std::string trapHost;
    uint16_t trapPort = kTrapPort;
};

struct PendingReply {
    Clock::time_point due;
    sockaddr_in to;
    std::vector<uint8_t> bytes;
};

bool IsLoopback(const std::string &host, in_addr *out)
{
    in_addr a{};
    if (inet_pton(AF_INET, host.c_str(), &a) != 1)
        return false;
    if ((ntohl(a.s_addr) >> 24) != 127)
        return false;
    if (out)
        *out = a;
    return true;
}

void Put16(std::vector<uint8_t> &b, size_t at, uint16_t v)
{
    b[at] = uint8_t(v >> 8);
    b[at + 1] = uint8_t(v);
}

void Put32(std::vector<uint8_t> &b, size_t at, uint32_t v)
{
    for (int i = 0; i < 4; i++)
        b[at + i] = uint8_t(v >> (24 - 8 * i));
}

// ---- BER ----

void BerLength(std::vector<uint8_t> &out, size_t n)
{
    if (n < 0x80) {
        out.push_back(uint8_t(n));
    } else if (n <= 0xFF) {
        out.push_back(0x81);
        out.push_back(uint8_t(n));
    } else {
        out.push_back(0x82);
        out.push_back(uint8_t(n >> 8));
        out.push_back(uint8_t(n));
    }
}

void BerTlv(std::vector<uint8_t> &out, uint8_t tag, const std::vector<uint8_t> &content)
{
    out.push_back(tag);
    BerLength(out, content.size());
    out.insert(out.end(), content.begin(), content.end());
}

std::vector<uint8_t> BerIntegerContent(int64_t v)
{
    std::vector<uint8_t> c;
    // Two's complement, shortest form.
    for (int shift = 56; shift >= 0; shift -= 8)
        c.push_back(uint8_t(uint64_t(v) >> shift));
    while (c.size() > 1 && ((c[0] == 0x00 && !(c[1] & 0x80)) || (c[0] == 0xFF && (c[1] & 0x80))))
        c.erase(c.begin());
    return c;
}

void BerInteger(std::vector<uint8_t> &out, uint8_t tag, int64_t v)
{
    BerTlv(out, tag, BerIntegerContent(v));
}

void BerOid(std::vector<uint8_t> &out, const std::vector<uint32_t> &arcs)
{
    std::vector<uint8_t> c;
    c.push_back(uint8_t(arcs[0] * 40 + arcs[1]));
    for (size_t i = 2; i < arcs.size(); i++) {
        uint32_t v = arcs[i];
        uint8_t tmp[5];
        int n = 0;
        do {
            tmp[n++] = uint8_t(v & 0x7F);
            v >>= 7;
        } while (v);
        while (n > 0) {
            n--;
            c.push_back(uint8_t(tmp[n] | (n ? 0x80 : 0)));
        }
    }
    BerTlv(out, 0x06, c);
}

void SetNonBlocking(int fd)
{
    int fl = fcntl(fd, F_GETFL, 0);
    if (fl >= 0)
        fcntl(fd, F_SETFL, fl | O_NONBLOCK);
}

void ResetAndClose(int fd)
{
    linger lg{};
    lg.l_onoff = 1;
    lg.l_linger = 0;
    setsockopt(fd, SOL_SOCKET, SO_LINGER, &lg, sizeof(lg));
    close(fd);
}

std::string Trim(const std::string &s)
{
    size_t b = s.find_first_not_of(" \t\r\n");
    if (b == std::string::npos)
        return "";
    size_t e = s.find_last_not_of(" \t\r\n");
    return s.substr(b, e - b + 1);
}

}  // namespace

bool ParsePrinterState(const std::string &word, PrinterState *state)
{
    static const struct {
        const char *name;
        PrinterState state;
    } table[] = {
        {"ready", PrinterState::Ready},   {"busy", PrinterState::Busy},
        {"busy11", PrinterState::Busy11}, {"not-accepting", PrinterState::NotAccepting},
        {"silent", PrinterState::Silent},
    };
    for (const auto &e : table) {
        if (word == e.name) {
            *state = e.state;
            return true;
        }
    }
    return false;
}

std::vector<uint8_t> BuildSnmpV1Trap(uint32_t agentAddr, int specificTrap, uint32_t timeTicks,
                                     int jobNumber)
{
    static const std::vector<uint32_t> enterprise = {1, 3, 6, 1, 4, 1, 480, 1, 1};
    static const std::vector<uint32_t> jobOid = {1, 3, 6, 1, 4, 1, 480, 1, 1, 1005, 0};

    std::vector<uint8_t> varbind;
    BerOid(varbind, jobOid);
    BerInteger(varbind, 0x02, jobNumber);
    std::vector<uint8_t> varbinds;
    BerTlv(varbinds, 0x30, varbind);

    std::vector<uint8_t> pdu;
    BerOid(pdu, enterprise);
    std::vector<uint8_t> addr(4);
    Put32(addr, 0, agentAddr);
    BerTlv(pdu, 0x40, addr);                 // NetworkAddress: [APPLICATION 0] IpAddress
    BerInteger(pdu, 0x02, 6);                // generic-trap: enterpriseSpecific
    BerInteger(pdu, 0x02, specificTrap);
    BerInteger(pdu, 0x43, int64_t(timeTicks));  // [APPLICATION 3] TimeTicks
    BerTlv(pdu, 0x30, varbinds);

    std::vector<uint8_t> msg;
    BerInteger(msg, 0x02, 0);                // version-1
    BerTlv(msg, 0x04, std::vector<uint8_t>{'p', 'u', 'b', 'l', 'i', 'c'});
    BerTlv(msg, 0xA4, pdu);                  // Trap-PDU

    std::vector<uint8_t> out;
    BerTlv(out, 0x30, msg);
    return out;
}

bool SendLoopbackDatagram(const std::string &host, uint16_t port, const std::vector<uint8_t> &bytes)
{
    sockaddr_in to{};
    if (!IsLoopback(host, &to.sin_addr))
        return false;
    to.sin_family = AF_INET;
    to.sin_port = htons(port);
    int fd = socket(AF_INET, SOCK_DGRAM, 0);
    if (fd < 0)
        return false;
    ssize_t n = sendto(fd, bytes.data(), bytes.size(), 0, reinterpret_cast<sockaddr *>(&to), sizeof(to));
    close(fd);
    return n == ssize_t(bytes.size());
}

struct PrinterEmulator::Impl {
    mutable std::mutex mu;
    mutable std::condition_variable cv;
    Settings s;
    std::string stateFile;
    PrinterCounters counters;
    std::vector<PrinterJob> jobs;
    std::function<void(const PrinterJob &)> callback;
    std::string error;

    sockaddr_in bindAddr{};
    uint32_t agentAddr = 0;
    std::string spool;
    int rcvbuf = 0;
    int udpFd = -1;
    int listenFd = -1;
    bool listenerOpen = false;
    unsigned nextJob = 1;
    Clock::time_point started;

    std::atomic<bool> stopping{false};
    std::thread udpThread;
    std::thread tcpThread;

    struct Connection {
        std::thread thread;
        std::atomic<bool> done{false};
    };
    std::list<Connection> connections;  // touched by the TCP thread and stop() after it

    Settings snapshot() const
    {
        std::lock_guard<std::mutex> lk(mu);
        return s;
    }

    void applyStateFile();
    bool openListener();
    void closeListener();
    void udpLoop();
    void tcpLoop();
    void serveConnection(int fd, unsigned number);
    void reapConnections(bool all);
    void sendTrap(const Settings &st, unsigned number);
    std::vector<uint8_t> buildReply(const Settings &st) const;
};

void PrinterEmulator::Impl::applyStateFile()
{
    std::string path;
    {
        std::lock_guard<std::mutex> lk(mu);
        path = stateFile;
    }
    if (path.empty())
        return;
    std::ifstream in(path);
    if (!in)
        return;
    std::string line;
    std::lock_guard<std::mutex> lk(mu);
    while (std::getline(in, line)) {
        line = Trim(line);
        if (line.empty() || line[0] == '#')
            continue;
        size_t sp = line.find_first_of(" \t");
        std::string key = line.substr(0, sp);
        std::string value = sp == std::string::npos ? "" : Trim(line.substr(sp));
        PrinterState st;
        if (key == "status" && ParsePrinterState(value, &st)) {
            s.silent = st == PrinterState::Silent;
            s.prStatus = st == PrinterState::Busy ? 0x10 : st == PrinterState::Busy11 ? 0x11 : 0x00;
            s.acceptMask = st == PrinterState::NotAccepting ? 0 : 1;
        } else if (key == "text") {
            s.text = value;
        } else if (key == "delay-ms") {
            s.delayMs = std::atoi(value.c_str());
        } else if (key == "refuse") {
            s.refuse = value == "1";
        } else if (key == "stall") {
            s.stall = value == "1";
        } else if (key == "discard") {
            s.discard = value == "1";
        } else if (key == "reset-after") {
            s.resetAfter = std::atoll(value.c_str());
        } else if (key == "trap-to") {
            if (value.empty() || IsLoopback(value, nullptr))
                s.trapHost = value;
        }
    }
}

bool PrinterEmulator::Impl::openListener()
{
    int fd = socket(AF_INET, SOCK_STREAM, 0);
    if (fd < 0)
        return false;
    int one = 1;
    setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &one, sizeof(one));
    if (rcvbuf > 0)
        setsockopt(fd, SOL_SOCKET, SO_RCVBUF, &rcvbuf, sizeof(rcvbuf));
    if (bind(fd, reinterpret_cast<sockaddr *>(&bindAddr), sizeof(bindAddr)) != 0 || listen(fd, 16) != 0) {
        close(fd);
        return false;
    }
    SetNonBlocking(fd);
    listenFd = fd;
    return true;
}

void PrinterEmulator::Impl::closeListener()
{
    if (listenFd >= 0)
        close(listenFd);
    listenFd = -1;
}

std::vector<uint8_t> PrinterEmulator::Impl::buildReply(const Settings &st) const
{
    std::vector<uint8_t> r(20 + st.text.size(), 0);
    r[2] = st.prStatus;
    Put32(r, 12, st.acceptMask);
    Put16(r, 16, st.textFields ? st.textOffset : 20);
    Put16(r, 18, st.textFields ? st.textLength : uint16_t(st.text.size()));
    std::memcpy(r.data() + 20, st.text.data(), st.text.size());
    if (st.padTo > r.size())
        r.resize(st.padTo, 'x');
    if (st.truncate >= 0 && size_t(st.truncate) < r.size())
        r.resize(size_t(st.truncate));
    return r;
}

void PrinterEmulator::Impl::udpLoop()
{
    std::vector<PendingReply> pending;
    uint8_t buf[2048];
    while (!stopping) {
        int timeout = kPollMs;
        auto now = Clock::now();
        for (auto it = pending.begin(); it != pending.end();) {
            if (it->due <= now) {
                sendto(udpFd, it->bytes.data(), it->bytes.size(), 0,
                       reinterpret_cast<sockaddr *>(&it->to), sizeof(it->to));
                {
                    std::lock_guard<std::mutex> lk(mu);
                    counters.statusReplies++;
                }
                cv.notify_all();
                it = pending.erase(it);
            } else {
                auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(it->due - now).count();
                if (ms < timeout)
                    timeout = int(ms) + 1;
                ++it;
            }
        }
        pollfd p{udpFd, POLLIN, 0};
        if (poll(&p, 1, timeout) <= 0)
            continue;
        sockaddr_in from{};
        socklen_t fromLen = sizeof(from);
        ssize_t n = recvfrom(udpFd, buf, sizeof(buf), 0, reinterpret_cast<sockaddr *>(&from), &fromLen);
        if (n < 0)
            continue;
        applyStateFile();
        Settings st = snapshot();
        {
            std::lock_guard<std::mutex> lk(mu);
            counters.statusRequests++;
            if (counters.requestBytes.size() < kMaxKeptRequests)
                counters.requestBytes.emplace_back(buf, buf + n);
        }
        cv.notify_all();
        if (st.silent)
            continue;
        // The reply is made now, so a late one carries the state of its request.
        PendingReply reply{Clock::now() + std::chrono::milliseconds(st.delayMs), from, buildReply(st)};
        pending.push_back(std::move(reply));
    }
}

void PrinterEmulator::Impl::sendTrap(const Settings &st, unsigned number)
{
    if (st.trapHost.empty())
        return;
    auto ticks = std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - started).count() / 10;
    if (SendLoopbackDatagram(st.trapHost, st.trapPort, BuildSnmpV1Trap(agentAddr, 1, uint32_t(ticks), int(number)))) {
        std::lock_guard<std::mutex> lk(mu);
        counters.trapsSent++;
    }
}

void PrinterEmulator::Impl::serveConnection(int fd, unsigned number)
{
    Settings st = snapshot();
    PrinterJob job;
    job.number = number;
    FILE *out = nullptr;
    if (!st.discard) {
        char name[32];
        std::snprintf(name, sizeof(name), "/job-%04u.prn", number);
        job.path = spool + name;
        out = std::fopen(job.path.c_str(), "wb");
    }

    std::string head;
    uint64_t total = 0;
    std::vector<uint8_t> buf(64 * 1024);
    for (;;) {
        if (stopping)
            break;
        st = snapshot();
        if (st.stall) {
            std::this_thread::sleep_for(std::chrono::milliseconds(kPollMs));
            continue;
        }
        pollfd p{fd, POLLIN, 0};
        if (poll(&p, 1, kPollMs) <= 0)
            continue;
        size_t want = buf.size();
        if (st.resetAfter >= 0 && uint64_t(st.resetAfter) - std::min<uint64_t>(total, st.resetAfter) < want)
            want = size_t(uint64_t(st.resetAfter) - std::min<uint64_t>(total, st.resetAfter));
        ssize_t n = 0;
        if (want > 0) {
            n = recv(fd, buf.data(), want, 0);
            if (n <= 0)
                break;
        }
        auto now = Clock::now();
        if (n > 0) {
            if (total == 0)
                job.firstByte = now;
            job.lastByte = now;
            total += uint64_t(n);
            if (out)
                std::fwrite(buf.data(), 1, size_t(n), out);
            if (head.size() < kHeaderScanLimit)
                head.append(reinterpret_cast<char *>(buf.data()),
                            std::min<size_t>(size_t(n), kHeaderScanLimit - head.size()));
            std::lock_guard<std::mutex> lk(mu);
            if (!counters.anyBytes)
                counters.firstByte = now;
            counters.anyBytes = true;
            counters.lastByte = now;
            counters.bytesReceived += uint64_t(n);
        }
        if (st.resetAfter >= 0 && total >= uint64_t(st.resetAfter)) {
            job.reset = true;
            break;
        }
    }
    if (job.reset) {
        ResetAndClose(fd);
    } else {
        close(fd);
    }
    if (out)
        std::fclose(out);

    // The accounting header: "%!" and "%%For: user", each ended by a line feed.
    if (head.compare(0, 3, "%!\n") == 0) {
        size_t second = head.find('\n', 3);
        if (second != std::string::npos)
            job.header = head.substr(0, second + 1);
    }
    job.headerBytes = job.header.size();
    job.dataBytes = total - job.headerBytes;

    std::function<void(const PrinterJob &)> cb;
    {
        std::lock_guard<std::mutex> lk(mu);
        counters.jobs++;
        jobs.push_back(job);
        cb = callback;
    }
    cv.notify_all();
    if (cb)
        cb(job);
    sendTrap(snapshot(), number);
}

void PrinterEmulator::Impl::reapConnections(bool all)
{
    for (auto it = connections.begin(); it != connections.end();) {
        if (all || it->done) {
            if (it->thread.joinable())
                it->thread.join();
            it = connections.erase(it);
        } else {
            ++it;
        }
    }
}

void PrinterEmulator::Impl::tcpLoop()
{
    while (!stopping) {
        reapConnections(false);
        applyStateFile();
        Settings st = snapshot();
        if (st.refuse && listenFd >= 0)
            closeListener();
        else if (!st.refuse && listenFd < 0)
            openListener();
        {
            std::lock_guard<std::mutex> lk(mu);
            listenerOpen = listenFd >= 0;
        }
        cv.notify_all();
        if (listenFd < 0) {
            std::this_thread::sleep_for(std::chrono::milliseconds(kPollMs));
            continue;
        }
        pollfd p{listenFd, POLLIN, 0};
        if (poll(&p, 1, kPollMs) <= 0)
            continue;
        int fd = accept(listenFd, nullptr, nullptr);
        if (fd < 0)
            continue;
        unsigned number;
        {
            std::lock_guard<std::mutex> lk(mu);
            counters.connections++;
            number = nextJob++;
        }
        cv.notify_all();
        if (st.resetOnAccept) {
            ResetAndClose(fd);
            continue;
        }
        connections.emplace_back();
        Connection &c = connections.back();
        c.thread = std::thread([this, fd, number, &c] {
            serveConnection(fd, number);
            c.done = true;
        });
    }
    reapConnections(true);
    closeListener();
}

PrinterEmulator::PrinterEmulator() : impl_(new Impl) {}

PrinterEmulator::~PrinterEmulator() { stop(); }

std::string PrinterEmulator::lastError() const
{
    std::lock_guard<std::mutex> lk(impl_->mu);
    return impl_->error;
}

bool PrinterEmulator::start(const std::string &address, const std::string &spoolDir, uint16_t port)
{
    Impl &m = *impl_;
    auto fail = [&](const std::string &why) {
        std::lock_guard<std::mutex> lk(m.mu);
        m.error = why;
        if (m.udpFd >= 0)
            close(m.udpFd);
        m.udpFd = -1;
        m.closeListener();
        return false;
    };
    if (running_)
        return fail("already running");
    sockaddr_in sa{};
    if (!IsLoopback(address, &sa.sin_addr))
        return fail("not a 127.0.0.0/8 address: " + address);
    sa.sin_family = AF_INET;
    sa.sin_port = htons(port);
    m.bindAddr = sa;
    m.agentAddr = ntohl(sa.sin_addr.s_addr);
    m.spool = spoolDir;
    if (!m.snapshot().discard) {
        if (spoolDir.empty())
            return fail("no spool directory");
        mkdir(spoolDir.c_str(), 0777);
        struct stat stbuf;
        if (stat(spoolDir.c_str(), &stbuf) != 0 || !S_ISDIR(stbuf.st_mode))
            return fail("spool directory unusable: " + spoolDir);
    }
    m.applyStateFile();

    m.udpFd = socket(AF_INET, SOCK_DGRAM, 0);
    if (m.udpFd < 0)
        return fail(std::string("socket: ") + std::strerror(errno));
    // No SO_REUSEADDR here: two printers on one address must not share its
    // status port silently, each taking the other's requests.
    if (bind(m.udpFd, reinterpret_cast<sockaddr *>(&sa), sizeof(sa)) != 0)
        return fail("bind UDP " + address + ": " + std::strerror(errno));
    if (!m.snapshot().refuse && !m.openListener())
        return fail("listen TCP " + address + ": " + std::strerror(errno));
    m.listenerOpen = m.listenFd >= 0;
    m.stopping = false;
    m.started = Clock::now();
    address_ = address;
    m.udpThread = std::thread([&m] { m.udpLoop(); });
    m.tcpThread = std::thread([&m] { m.tcpLoop(); });
    running_ = true;
    return true;
}

void PrinterEmulator::stop()
{
    Impl &m = *impl_;
    if (!running_)
        return;
    m.stopping = true;
    if (m.udpThread.joinable())
        m.udpThread.join();
    if (m.tcpThread.joinable())
        m.tcpThread.join();
    if (m.udpFd >= 0)
        close(m.udpFd);
    m.udpFd = -1;
    running_ = false;
}

void PrinterEmulator::setState(PrinterState state)
{
    std::lock_guard<std::mutex> lk(impl_->mu);
    Settings &s = impl_->s;
    s.silent = state == PrinterState::Silent;
    s.prStatus = state == PrinterState::Busy ? 0x10 : state == PrinterState::Busy11 ? 0x11 : 0x00;
    s.acceptMask = state == PrinterState::NotAccepting ? 0 : 1;
}

void PrinterEmulator::setRawStatus(uint8_t prStatus, uint32_t acceptMask)
{
    std::lock_guard<std::mutex> lk(impl_->mu);
    impl_->s.silent = false;
    impl_->s.prStatus = prStatus;
    impl_->s.acceptMask = acceptMask;
}

void PrinterEmulator::setSilent(bool silent)
{
    std::lock_guard<std::mutex> lk(impl_->mu);
    impl_->s.silent = silent;
}

void PrinterEmulator::setText(const std::string &text)
{
    std::lock_guard<std::mutex> lk(impl_->mu);
    impl_->s.text = text;
}

void PrinterEmulator::setReplyDelay(std::chrono::milliseconds delay)
{
    std::lock_guard<std::mutex> lk(impl_->mu);
    impl_->s.delayMs = int(delay.count());
}

void PrinterEmulator::setReplyTruncate(int bytes)
{
    std::lock_guard<std::mutex> lk(impl_->mu);
    impl_->s.truncate = bytes;
}

void PrinterEmulator::setTextFields(uint16_t offset, uint16_t length)
{
    std::lock_guard<std::mutex> lk(impl_->mu);
    impl_->s.textFields = true;
    impl_->s.textOffset = offset;
    impl_->s.textLength = length;
}

void PrinterEmulator::clearTextFields()
{
    std::lock_guard<std::mutex> lk(impl_->mu);
    impl_->s.textFields = false;
}

void PrinterEmulator::setReplyPadTo(size_t bytes)
{
    std::lock_guard<std::mutex> lk(impl_->mu);
    impl_->s.padTo = bytes;
}

void PrinterEmulator::setStateFile(const std::string &path)
{
    std::lock_guard<std::mutex> lk(impl_->mu);
    impl_->stateFile = path;
}

void PrinterEmulator::setRefuse(bool refuse)
{
    std::unique_lock<std::mutex> lk(impl_->mu);
    impl_->s.refuse = refuse;
    if (!running_)
        return;
    // Wait until the listener really is closed or open again.
    impl_->cv.wait_for(lk, std::chrono::seconds(5), [&] { return impl_->listenerOpen == !refuse; });
}

void PrinterEmulator::setResetOnAccept(bool reset)
{
    std::lock_guard<std::mutex> lk(impl_->mu);
    impl_->s.resetOnAccept = reset;
}

void PrinterEmulator::setResetAfter(int64_t bytes)
{
    std::lock_guard<std::mutex> lk(impl_->mu);
    impl_->s.resetAfter = bytes;
}

void PrinterEmulator::setStall(bool stall)
{
    std::lock_guard<std::mutex> lk(impl_->mu);
    impl_->s.stall = stall;
}

void PrinterEmulator::setDiscard(bool discard)
{
    std::lock_guard<std::mutex> lk(impl_->mu);
    impl_->s.discard = discard;
}

void PrinterEmulator::setReceiveBuffer(int bytes)
{
    std::lock_guard<std::mutex> lk(impl_->mu);
    impl_->rcvbuf = bytes;
}

bool PrinterEmulator::setTrapTo(const std::string &host, uint16_t port)
{
    if (!host.empty() && !IsLoopback(host, nullptr))
        return false;
    std::lock_guard<std::mutex> lk(impl_->mu);
    impl_->s.trapHost = host;
    impl_->s.trapPort = port;
    return true;
}

PrinterCounters PrinterEmulator::counters() const
{
    std::lock_guard<std::mutex> lk(impl_->mu);
    return impl_->counters;
}

std::vector<PrinterJob> PrinterEmulator::jobs() const
{
    std::lock_guard<std::mutex> lk(impl_->mu);
    return impl_->jobs;
}

void PrinterEmulator::resetCounters()
{
    std::lock_guard<std::mutex> lk(impl_->mu);
    impl_->counters = PrinterCounters();
    impl_->jobs.clear();
}

bool PrinterEmulator::waitForJobs(uint64_t n, std::chrono::milliseconds timeout) const
{
    std::unique_lock<std::mutex> lk(impl_->mu);
    return impl_->cv.wait_for(lk, timeout, [&] { return impl_->counters.jobs >= n; });
}

bool PrinterEmulator::waitForStatusRequests(uint64_t n, std::chrono::milliseconds timeout) const
{
    std::unique_lock<std::mutex> lk(impl_->mu);
    return impl_->cv.wait_for(lk, timeout, [&] { return impl_->counters.statusRequests >= n; });
}

bool PrinterEmulator::waitForConnections(uint64_t n, std::chrono::milliseconds timeout) const
{
    std::unique_lock<std::mutex> lk(impl_->mu);
    return impl_->cv.wait_for(lk, timeout, [&] { return impl_->counters.connections >= n; });
}

void PrinterEmulator::setJobCallback(std::function<void(const PrinterJob &)> callback)
{
    std::lock_guard<std::mutex> lk(impl_->mu);
    impl_->callback = std::move(callback);
}

}  // namespace dorve
