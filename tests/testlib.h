// Shared fixtures of the test programs: a registry file of the test's own,
// a recorder of the monitor's events, a faster clock, a fresh monitor
// record between tests, and a runner of the dorve program.
#ifndef DORVE_TESTLIB_H
#define DORVE_TESTLIB_H

#include <chrono>
#include <mutex>
#include <string>
#include <vector>

#include "zuvmon.h"

namespace dorvetest {

// A fresh temporary directory, removed with everything in it at the end.
class TempDir {
public:
    TempDir();
    ~TempDir();
    TempDir(const TempDir &) = delete;
    TempDir &operator=(const TempDir &) = delete;
    const std::string &path() const { return path_; }

private:
    std::string path_;
};

// Points the layer's registry at an empty file of its own while it lives.
class TempRegistry {
public:
    TempRegistry();
    ~TempRegistry();
    const std::string &file() const { return file_; }
    const std::string &dir() const { return dir_.path(); }
    // Reads the file back as it is on disk.
    std::string contents() const;

private:
    TempDir dir_;
    std::string file_;
};

// One event as it reached the monitor's sink.
struct RecordedEvent {
    WORD wType = 0;
    WORD wCategory = 0;
    DWORD dwEventID = 0;
    std::vector<std::string> strings;
};

// Records every event that reaches the monitor's sink while it lives
// (through gpfnZUVEventHook).  Only one recorder may live at a time.
class EventRecorder {
public:
    EventRecorder();
    ~EventRecorder();
    std::vector<RecordedEvent> events() const;
    size_t count(DWORD dwEventID) const;
    size_t size() const;
    void clear();
    // The last event with this id; a default event when there is none.
    RecordedEvent last(DWORD dwEventID) const;
};

// Runs the layer's clock at `rate` simulated seconds per real second while
// it lives, then restores the rate it found.
class ClockRate {
public:
    explicit ClockRate(double rate);
    ~ClockRate();

private:
    double previous_;
};

// Real milliseconds since `start`, to show that a long simulated wait
// passed quickly.
long long RealMsSince(std::chrono::steady_clock::time_point start);

// Frees every port record of gZUVMon and zeroes it, as at process start.
void ResetMonitorState();

// Loads the monitor through the layer's loader, so that its DllMain runs and
// ghInstance names the module (strings and dialogs load from it).
bool LoadMonitorModule();

// Registry helpers under HKEY_LOCAL_MACHINE; true on success.
bool RegWriteValue(const std::string &keyPath, const char *valueName, DWORD dwType,
                   const void *data, DWORD cbData);
bool RegWriteDword(const std::string &keyPath, const char *valueName, DWORD dwValue);
bool RegWriteString(const std::string &keyPath, const char *valueName, const std::string &text);
bool RegKeyExists(const std::string &keyPath);
// The raw bytes and type of a value; false when it is missing.
bool RegReadValue(const std::string &keyPath, const char *valueName, DWORD *pdwType,
                  std::vector<unsigned char> *bytes);

// The registry path of a port's key.
std::string PortKeyPath(const std::string &portName);

// A whole file as it is on disk; empty when it cannot be read.
std::string ReadFile(const std::string &path);
// Replaces the file with `data`.
void WriteFile(const std::string &path, const std::string &data);

// One run of a program: its exit code (-1 when it did not exit normally)
// and what it wrote to stdout and stderr.
struct ProgramRun {
    int rc = -1;
    std::string out, err;
};

// A word quoted for /bin/sh, whatever it holds.
std::string ShellQuote(const std::string &s);

// The directory of this test program; the tools are built beside it.
std::string BinDir();

// Runs the dorve program built beside this test program with `args`, on
// the registry file `registry` (the program's own default when empty),
// stdin from /dev/null.  Its output is captured through files "out" and
// "err" in `scratchDir`.  Each of `environment` ("NAME=value") is set for
// the run only.
ProgramRun RunDorve(const std::vector<std::string> &args, const std::string &registry,
                    const std::string &scratchDir,
                    const std::vector<std::string> &environment = {});

// Polls `pred` every millisecond of real time until it holds or
// `timeoutMs` real milliseconds pass.
template <typename Pred>
bool WaitFor(Pred pred, int timeoutMs);

}  // namespace dorvetest

#include <chrono>
#include <thread>

template <typename Pred>
bool dorvetest::WaitFor(Pred pred, int timeoutMs)
{
    auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    while (!pred()) {
        if (std::chrono::steady_clock::now() >= deadline)
            return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    return true;
}

#endif
