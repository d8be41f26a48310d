// A thousand documents, good and failed, through the monitor's table against
// emulated printers on loopback: afterwards the process holds as many open
// descriptors, threads, kernel handles, sockets and printer handles as it
// did before.  Each kind of document takes the path it is meant to take, so
// that every teardown of the document transfer is exercised many times.
#include "printer.h"  // first: the emulator's C++ headers must not see Winsock's names

#include <gtest/gtest.h>

#include <dirent.h>
#include <string.h>

#include <chrono>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "dorve/clock.h"
#include "dorve/kernel_host.h"
#include "dorve/spooler_host.h"
#include "dorve/user_host.h"
#include "dorve/winsock_host.h"
#include "testlib.h"

using namespace dorvetest;

namespace {

const int kDocuments = 1000;
// Simulated seconds per real second: the status thread's one-second drain
// and the silent printer's status time-out pass in milliseconds.
const double kClockRate = 1000;

enum DocKind { kReady, kSilent, kRefused, kReset, kKinds };

struct KindSetup {
    const char *name;     // port and queue name
    const char *address;  // the printer's own loopback address
};

const KindSetup kSetups[kKinds] = {
    {"LEAKREADY", "127.0.0.171"},
    {"LEAKSILENT", "127.0.0.172"},
    {"LEAKREFUSED", "127.0.0.173"},
    {"LEAKRESET", "127.0.0.174"},
};

int CountEntries(const char *dirPath)
{
    DIR *dir = opendir(dirPath);
    if (dir == nullptr)
        return -1;
    int n = 0;
    while (struct dirent *entry = readdir(dir))
        if (strcmp(entry->d_name, ".") != 0 && strcmp(entry->d_name, "..") != 0)
            n++;
    closedir(dir);
    return n;
}

struct Resources {
    int fds = 0;
    int threads = 0;
    DWORD kernelHandles = 0;
    int sockets = 0;
    DWORD printerHandles = 0;

    bool operator==(const Resources &o) const
    {
        return fds == o.fds && threads == o.threads && kernelHandles == o.kernelHandles &&
               sockets == o.sockets && printerHandles == o.printerHandles;
    }
    std::string str() const
    {
        std::ostringstream out;
        out << "fds " << fds << ", threads " << threads << ", kernel handles " << kernelHandles
            << ", sockets " << sockets << ", printer handles " << printerHandles;
        return out.str();
    }
};

Resources Measure()
{
    Resources r;
    // opendir holds one descriptor while it counts, the same one every time.
    r.fds = CountEntries("/proc/self/fd");
    r.threads = CountEntries("/proc/self/task");
    r.kernelHandles = DorveKernelHandleCount();
    r.sockets = DorveWsaSocketCount();
    r.printerHandles = DorveSpoolerPrinterHandleCount();
    return r;
}

class LeakTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        ResetMonitorState();
        DorveSpoolerReset();
        DorveUserReset();
        DorveWsaReset();
        for (int k = 0; k < kKinds; k++)
            WritePortKey((DocKind)k);
        ASSERT_TRUE(LoadMonitorModule());
        ASSERT_TRUE(InitializeMonitorEx((LPSTR) "", &table_));
        for (int k = 0; k < kKinds; k++) {
            StartPrinter((DocKind)k);
            ASSERT_TRUE(table_.pfnOpenPort((LPSTR)kSetups[k].name, &ports_[k]));
            ASSERT_TRUE(DorveSpoolerAddPrinter(kSetups[k].name, kSetups[k].name));
        }
    }

    void TearDown() override
    {
        for (int k = 0; k < kKinds; k++)
            if (ports_[k] != nullptr)
                table_.pfnClosePort(ports_[k]);
        for (dorve::PrinterEmulator &printer : printers_)
            printer.stop();
        WSACleanup();
        ResetMonitorState();
        DorveSpoolerReset();
        DorveWsaReset();
        DorveUserReset();
    }

    // The stored settings of each kind's port: status time-outs long enough
    // for a loaded machine to answer in (600 s are 0.6 s of real time), and
    // for the silent printer a short one and no hold, so that its job is
    // given up at once.
    static void WritePortKey(DocKind k)
    {
        std::string key = PortKeyPath(kSetups[k].name);
        ASSERT_TRUE(RegWriteString(key, "IPAddress", kSetups[k].address));
        ASSERT_TRUE(RegWriteDword(key, "StsInterval", 30));
        ASSERT_TRUE(RegWriteDword(key, "StsTimeout", k == kSilent ? 1 : 600));
        ASSERT_TRUE(RegWriteDword(key, "SendTimeout", k == kSilent ? 0 : 10));
    }

    void StartPrinter(DocKind k)
    {
        dorve::PrinterEmulator &printer = printers_[k];
        printer.setDiscard(true);
        printer.setState(k == kSilent ? dorve::PrinterState::Silent : dorve::PrinterState::Ready);
        printer.setRefuse(k == kRefused);
        printer.setResetAfter(k == kReset ? 100 : -1);
        if (!printer.start(kSetups[k].address, "", dorve::kPrinterPort)) {
            // Without the privilege for port 35 the layer leads it elsewhere.
            DorveWsaMapPort(ZUV_PRINTER_PORT, 30035);
            ASSERT_TRUE(printer.start(kSetups[k].address, "", 30035)) << printer.lastError();
        }
    }

    // One document of the given kind as the spooler runs it; true when it
    // took the path its kind is meant to take.
    bool RunDocument(DocKind k)
    {
        HANDLE hPort = ports_[k];
        LPZUVPort port = (LPZUVPort)hPort;
        DWORD jobId = DorveSpoolerAddJob(kSetups[k].name, "abc", "leak.txt", 8192);
        if (jobId == 0)
            return false;
        uint64_t jobsBefore = printers_[k].counters().jobs;
        DOC_INFO_1A info = {(LPSTR) "leak.txt", nullptr, (LPSTR) "RAW"};
        table_.pfnStartDocPort(hPort, (LPSTR)kSetups[k].name, jobId, 1, (LPBYTE)&info);
        bool asMeant = false;
        DWORD cb = 0;
        switch (k) {
        case kReady:
            asMeant = port->bDocStarted && table_.pfnWritePort(hPort, (LPBYTE)block_, 4096, &cb) &&
                      cb == 4096 && table_.pfnWritePort(hPort, (LPBYTE)block_, 4096, &cb) && cb == 4096;
            break;
        case kSilent:
        case kRefused:
            // The start failed; the write tries it again and fails again.
            asMeant = !port->bDocStarted && !table_.pfnWritePort(hPort, (LPBYTE)block_, 4096, &cb) &&
                      cb == 0;
            break;
        case kReset:
            // Once the printer has reset the connection, a send call fails
            // (the next one, unless the reset is still on its way) and the
            // rest of the document is dropped.
            asMeant = port->bDocStarted && table_.pfnWritePort(hPort, (LPBYTE)block_, 4096, &cb) &&
                      printers_[k].waitForJobs(jobsBefore + 1, std::chrono::seconds(10));
            for (int i = 0; asMeant && i < 3 && !port->bDiscard; i++)
                asMeant = table_.pfnWritePort(hPort, (LPBYTE)block_, 4096, &cb) && cb == 4096;
            asMeant = asMeant && port->bDiscard && table_.pfnWritePort(hPort, (LPBYTE)block_, 4096, &cb);
            break;
        default:
            break;
        }
        table_.pfnEndDocPort(hPort);
        if (k == kReady)
            asMeant = asMeant && printers_[k].waitForJobs(jobsBefore + 1, std::chrono::seconds(10));
        return asMeant && !port->bDocStarted && port->hStatusThread == nullptr &&
               port->lpSendSkt == nullptr && port->lpStatusSkt == nullptr;
    }

    MONITOR table_{};
    TempRegistry registry_;
    dorve::PrinterEmulator printers_[kKinds];
    HANDLE ports_[kKinds] = {};
    char block_[4096] = {};
};

TEST_F(LeakTest, AThousandDocumentsLeaveNothingBehind)
{
    ClockRate fast(kClockRate);
    memset(block_, 'L', sizeof(block_));
    // One of each first, so that what the layer and the emulators make once
    // (name lookups, their own threads) is in the baseline.
    for (int k = 0; k < kKinds; k++)
        ASSERT_TRUE(RunDocument((DocKind)k)) << kSetups[k].name;
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    Resources before = Measure();
    ASSERT_GT(before.fds, 0);
    ASSERT_GT(before.threads, 0);

    int asMeant[kKinds] = {};
    for (int i = 0; i < kDocuments; i++) {
        DocKind k = (DocKind)(i % kKinds);
        if (RunDocument(k))
            asMeant[k]++;
    }
    for (int k = 0; k < kKinds; k++)
        EXPECT_EQ(asMeant[k], kDocuments / kKinds) << kSetups[k].name;
    EXPECT_GE(printers_[kReady].counters().jobs, (uint64_t)kDocuments / kKinds);

    // Threads that have signalled their end, and the emulators' connection
    // threads, take a moment to be gone.
    Resources after;
    WaitFor([&] { return (after = Measure()) == before; }, 5000);
    EXPECT_EQ(after.fds, before.fds) << "before: " << before.str() << "; after: " << after.str();
    EXPECT_EQ(after.threads, before.threads);
    EXPECT_EQ(after.kernelHandles, before.kernelHandles);
    EXPECT_EQ(after.sockets, before.sockets);
    EXPECT_EQ(after.printerHandles, before.printerHandles);
}

}  // namespace
