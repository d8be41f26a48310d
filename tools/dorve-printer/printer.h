// dorve-printer: an emulated network printer for the monitor's tests and
// benchmarks.  It is the monitor's peer, not part of it: plain POSIX sockets
// and modern C++.
//
// It listens on ADDRESS, TCP port 35 (each connection is one job, written as
// received, accounting header included, to SPOOL/job-NNNN.prn), and answers
// the 20-byte UDP status request on ADDRESS port 35 with a status reply:
//
//   offset 2   pr_status       (1 byte)
//   offset 12  pr_acceptmask   (32 bits, big-endian; bit 0 = takes data)
//   offset 16  pr_textoffset   (16 bits, big-endian)
//   offset 18  pr_textlength   (16 bits, big-endian)
//   offset 20  the status text, no terminator
//
// The monitor always talks to port 35; the emulator's port can be changed
// for runs without the privilege to bind it.  Every setter may be called
// while the emulator runs; a change applies from the next request or
// connection (refuse and stall apply at once).
#ifndef DORVE_PRINTER_H
#define DORVE_PRINTER_H

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace dorve {

constexpr uint16_t kPrinterPort = 35;
constexpr uint16_t kTrapPort = 162;

enum class PrinterState {
    Ready,         // pr_status 0x00, accept bit set
    Busy,          // pr_status 0x10, accept bit set
    Busy11,        // pr_status 0x11, accept bit set
    NotAccepting,  // pr_status 0x00, accept bit clear
    Silent,        // no reply at all
};

// Parses "ready", "busy", "busy11", "not-accepting", "silent".
bool ParsePrinterState(const std::string &word, PrinterState *state);

struct PrinterJob {
    unsigned number = 0;             // 1, 2, ... in order of connection
    std::string path;                // empty with discard on
    std::string header;              // the accounting header's two lines, if the stream began with one
    uint64_t headerBytes = 0;
    uint64_t dataBytes = 0;          // bytes after the header
    bool reset = false;              // the emulator reset the connection (reset-after)
    std::chrono::steady_clock::time_point firstByte{};
    std::chrono::steady_clock::time_point lastByte{};
};

struct PrinterCounters {
    uint64_t statusRequests = 0;
    uint64_t statusReplies = 0;
    std::vector<std::vector<uint8_t>> requestBytes;  // the first 64 requests as received
    uint64_t connections = 0;        // accepted, including reset-on-accept ones
    uint64_t jobs = 0;               // connections that ended
    uint64_t bytesReceived = 0;      // over every connection
    uint64_t trapsSent = 0;
    bool anyBytes = false;
    std::chrono::steady_clock::time_point firstByte{};
    std::chrono::steady_clock::time_point lastByte{};
};

// One SNMPv1 Trap-PDU message, BER encoded: community "public", enterprise
// 1.3.6.1.4.1.480.1.1, agent address, enterpriseSpecific trap with the given
// specific code, and one variable binding carrying the job number.
std::vector<uint8_t> BuildSnmpV1Trap(uint32_t agentAddr, int specificTrap, uint32_t timeTicks,
                                     int jobNumber);

// Sends one datagram to HOST:PORT; HOST must be a 127.0.0.0/8 address.
bool SendLoopbackDatagram(const std::string &host, uint16_t port, const std::vector<uint8_t> &bytes);

class PrinterEmulator {
public:
    PrinterEmulator();
    ~PrinterEmulator();
    PrinterEmulator(const PrinterEmulator &) = delete;
    PrinterEmulator &operator=(const PrinterEmulator &) = delete;

    // Binds ADDRESS (dotted IPv4) on TCP and UDP PORT and starts serving.
    // An empty spool directory with discard off is an error; the directory
    // is created when missing.  False with lastError() on failure.
    bool start(const std::string &address, const std::string &spoolDir, uint16_t port = kPrinterPort);
    void stop();
    bool running() const { return running_; }
    std::string lastError() const;
    std::string address() const { return address_; }

    // ---- status replies ----
    void setState(PrinterState state);
    void setRawStatus(uint8_t prStatus, uint32_t acceptMask);  // also ends Silent
    void setSilent(bool silent);
    void setText(const std::string &text);
    void setReplyDelay(std::chrono::milliseconds delay);  // slow replies
    // Malformed replies: send only the first N bytes of the reply (-1: all).
    void setReplyTruncate(int bytes);
    // Put these values in pr_textoffset/pr_textlength instead of the true ones.
    void setTextFields(uint16_t offset, uint16_t length);
    void clearTextFields();
    // Pad the reply with 'x' bytes to this total size (0: no padding).
    void setReplyPadTo(size_t bytes);
    // Re-read this file before every status request and connection: one
    // "key value" per line, keys status, text, delay-ms, refuse, stall,
    // reset-after, discard, trap-to.  Empty path: none.
    void setStateFile(const std::string &path);

    // ---- data faults ----
    void setRefuse(bool refuse);          // close the listener: connections are refused
    void setResetOnAccept(bool reset);    // accept, then reset at once
    void setResetAfter(int64_t bytes);    // reset each connection after N bytes (-1: never)
    void setStall(bool stall);            // stop reading: the sender's buffers fill
    void setDiscard(bool discard);        // keep no job files
    // Receive buffer of accepted connections (0: the system's); applies to
    // connections accepted after the next start().
    void setReceiveBuffer(int bytes);

    // ---- end-of-job trap ----
    // After each job send an SNMPv1 trap to HOST:PORT (loopback only); an
    // empty host turns it off.  False for a host outside 127.0.0.0/8.
    bool setTrapTo(const std::string &host, uint16_t port = kTrapPort);

    // ---- observations ----
    PrinterCounters counters() const;
    std::vector<PrinterJob> jobs() const;
    void resetCounters();
    // Waits until at least N jobs have ended or N status requests were seen.
    bool waitForJobs(uint64_t n, std::chrono::milliseconds timeout) const;
    bool waitForStatusRequests(uint64_t n, std::chrono::milliseconds timeout) const;
    bool waitForConnections(uint64_t n, std::chrono::milliseconds timeout) const;
    // Called on the emulator's thread after each job.
    void setJobCallback(std::function<void(const PrinterJob &)> callback);

private:
    struct Impl;
    std::unique_ptr<Impl> impl_;
    std::atomic<bool> running_{false};
    std::string address_;
};

}  // namespace dorve

#endif
