// The print driver of the dorve tool: one job from a file or standard input
// to a port, driven through the owning monitor's table as the spooler
// drives it, with the job's status shown while it runs.
#ifndef DORVE_TOOL_PRINT_H
#define DORVE_TOOL_PRINT_H

#include <cstdio>
#include <string>

namespace dorve {

struct PrintRequest {
    std::string sPort;
    std::string sFile;       // "" or "-": standard input
    std::string sUser;       // "": the login name
    std::string sDocument;   // "": the file's name, or "stdin"
    std::string sPrinter;    // "": "dorve-" + port
    FILE *pOut = stderr;     // status, progress and the final message
    bool bProgressBar = false;  // one line redrawn in place (a terminal)
};

// The ways a job can end, told apart for the user's message.
enum PrintOutcome {
    kPrintSent,
    kPrintUsage,            // bad request: unknown port, unreadable file
    kPrintOpenPortFailed,
    kPrintStartFailed,      // StartDocPort refused (e.g. a local port)
    kPrintNoAnswer,         // the printer did not answer the status request
    kPrintRefused,          // it answered but refused the data connection
    kPrintPrinterBusy,      // busy and no connection made
    kPrintTimedOut,         // cancelled after the port's send time-out
    kPrintWriteFailed,      // a write gave up part-way
    kPrintDiscarded,        // the connection was lost; the rest was dropped
    kPrintCancelled,        // Ctrl-C, or the job deleted from the queue
};

struct PrintResult {
    PrintOutcome outcome = kPrintUsage;
    unsigned long long cbSent = 0;      // bytes the monitor took
    unsigned long long cbTotal = 0;     // bytes read from the input
    unsigned long dwJobId = 0;
    unsigned long dwLastError = 0;
    std::string sMessage;               // what happened and what to do
};

// Runs the job; 0 when it was sent, 1 otherwise (the message is written to
// pOut either way, prefixed "dorve: ").
int Print(const PrintRequest &req, PrintResult *pResult);

// What Ctrl-C does: the running job is marked as being deleted, so the
// monitor sees it and the run ends.  Not for a signal handler: it takes the
// spooler model's lock.  A second call asks for no further writes either.
void InterruptPrint(void);

// The status texts the monitor puts on jobs (UTF-8).
extern const char kTextWaitingHandOver[];   // 521
extern const char kTextNoAnswer[];          // 522
extern const char kTextBusy[];              // 523

}  // namespace dorve

#endif
