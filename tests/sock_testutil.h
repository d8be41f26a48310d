// Helpers of the transport tests: a trace recorder for socket objects and a
// printer emulator on a loopback address of the test's own.
#ifndef DORVE_SOCK_TESTUTIL_H
#define DORVE_SOCK_TESTUTIL_H

// The emulator's header first: it pulls in the C++ library, which must not
// see the Winsock names that zuvmon.h brings.
#include "printer.h"

#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "testlib.h"
#include "zuvmon.h"
#include <dorve/clock.h>
#include <dorve/winsock_host.h>

namespace socktest {

struct TraceEntry {
    DWORD dwLevel;
    std::string text;
};

// The trace callback of the objects a test makes; the context is the log.
class TraceLog {
public:
    static void Proc(LPVOID lpContext, DWORD dwLevel, LPCSTR lpszText)
    {
        TraceLog *log = static_cast<TraceLog *>(lpContext);
        std::lock_guard<std::mutex> lk(log->mu_);
        log->entries_.push_back({dwLevel, lpszText});
    }
    std::vector<TraceEntry> entries() const
    {
        std::lock_guard<std::mutex> lk(mu_);
        return entries_;
    }
    std::vector<std::string> texts() const
    {
        std::vector<std::string> out;
        for (const auto &e : entries())
            out.push_back(e.text);
        return out;
    }
    bool has(const std::string &text) const
    {
        for (const auto &e : entries())
            if (e.text == text)
                return true;
        return false;
    }
    DWORD level(const std::string &text) const
    {
        for (const auto &e : entries())
            if (e.text == text)
                return e.dwLevel;
        return 99;
    }
    void clear()
    {
        std::lock_guard<std::mutex> lk(mu_);
        entries_.clear();
    }

private:
    mutable std::mutex mu_;
    std::vector<TraceEntry> entries_;
};

// Starts the emulator on ADDRESS port 35.  Without the privilege to bind
// port 35 the layer's port 35 is mapped to an unprivileged host port, so the
// monitor still talks to "port 35".
inline bool StartPrinter(dorve::PrinterEmulator &printer, const std::string &address, const std::string &spool)
{
    if (printer.start(address, spool, dorve::kPrinterPort))
        return true;
    const WORD wHostPort = 30035;
    DorveWsaMapPort(ZUV_PRINTER_PORT, wHostPort);
    return printer.start(address, spool, wHostPort);
}

// Winsock started for the test's lifetime, every layer switch off.
class SockTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        DorveWsaReset();
        ASSERT_TRUE(StartSock());
    }
    void TearDown() override
    {
        printer.stop();
        WSACleanup();
        DorveWsaReset();
    }

    // A socket object for ADDRESS whose traces go to `log`.
    LPSkt Create(const char *address)
    {
        LPSkt lpSkt = NULL;
        EXPECT_TRUE(SktCreate(&lpSkt, TraceLog::Proc, &log, address)) << address;
        return lpSkt;
    }

    TraceLog log;
    dorvetest::TempDir spool;
    dorve::PrinterEmulator printer;
};

}  // namespace socktest

#endif
