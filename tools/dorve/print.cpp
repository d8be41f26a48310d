// The print driver of the dorve tool.  It plays the spooler's part for one
// job: a queue on the port, a job in it, and the monitor's OpenPort,
// StartDocPort, WritePort in the spooler's 4096-byte blocks, EndDocPort and
// ClosePort.  What the monitor puts on the job arrives through the spooler
// model's job observer and is shown as it changes; the outcome is told from
// the write results, the last error and the status texts together, because
// the monitor itself answers most failures with TRUE.
#include "print.h"

#include <windows.h>
#include <winspool.h>
#include <winsplp.h>
#include <dorve/spooler_host.h>

#include <errno.h>
#include <fcntl.h>
#include <poll.h>
#include <pwd.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstring>
#include <mutex>
#include <vector>

namespace dorve {

const char kTextWaitingHandOver[] = "引き渡し待機中";
const char kTextNoAnswer[] = "プリンタから応答がぁりません";
const char kTextBusy[] = "プリンタがビジーです";

namespace {

const DWORD kBlockSize = 4096;
const int kMaxIdleWrites = 20;
// Where the network monitor keeps a port's settings (its address and send
// time-out), named in messages when present.
const char kPortsKey[] = "SYSTEM\\CurrentControlSet\\Control\\Print\\Monitors\\ZUV Port\\Ports";

enum Phase { kPhaseStart, kPhaseWrite, kPhaseEnd };

struct Run {
    std::mutex mtx;
    const PrintRequest *pReq = nullptr;
    std::string sPrinter;
    DWORD dwJobId = 0;
    Phase phase = kPhaseStart;
    bool bHaveStatus = false;
    DWORD dwStatus = 0;
    std::string sText;
    bool bSawNoAnswer = false;
    bool bSawBusy = false;
    bool bSawError = false;
    bool bCancelledInStart = false;     // the monitor cancelled before any data
    bool bHintShown = false;
    bool bLineOpen = false;             // a progress line awaits its newline
    bool bFinished = false;             // the port is closed: no more status
    unsigned long long cbSent = 0;
    unsigned long long cbTotal = 0;     // 0: unknown (standard input)
    std::chrono::steady_clock::time_point tStart;
    std::chrono::steady_clock::time_point tDrawn;
    DWORD dwSendTimeout = 0;
};

std::mutex gRunMutex;
Run *gpRun = nullptr;
std::atomic<int> gnInterrupts{0};

std::string StateWords(DWORD dwStatus)
{
    if (dwStatus & JOB_STATUS_DELETING)
        return "being deleted";
    if (dwStatus & JOB_STATUS_ERROR)
        return "error";
    if (dwStatus & JOB_STATUS_PAUSED)
        return "paused";
    if (dwStatus & JOB_STATUS_PRINTING)
        return "printing";
    return "queued";
}

std::string Bytes(unsigned long long cb)
{
    char sz[32];
    if (cb < 10 * 1024)
        snprintf(sz, sizeof sz, "%llu B", cb);
    else if (cb < 10ull * 1024 * 1024)
        snprintf(sz, sizeof sz, "%.1f KiB", cb / 1024.0);
    else
        snprintf(sz, sizeof sz, "%.1f MiB", cb / (1024.0 * 1024.0));
    return sz;
}

int TerminalColumns(FILE *f)
{
    struct winsize ws;
    if (ioctl(fileno(f), TIOCGWINSZ, &ws) == 0 && ws.ws_col > 20)
        return ws.ws_col;
    return 80;
}

// Cuts UTF-8 text to a display width, counting characters beyond ASCII as
// two columns (the Japanese status texts are full width).
std::string FitColumns(const std::string &s, int nColumns)
{
    int nUsed = 0;
    size_t i = 0;
    while (i < s.size()) {
        unsigned char c = (unsigned char)s[i];
        size_t nLen = c < 0x80 ? 1 : c >= 0xF0 ? 4 : c >= 0xE0 ? 3 : c >= 0xC0 ? 2 : 1;
        int nWidth = c < 0x80 ? 1 : 2;
        if (nUsed + nWidth > nColumns)
            break;
        nUsed += nWidth;
        i += nLen;
    }
    return s.substr(0, i);
}

std::string StatusPart(const Run &r)
{
    if (r.bFinished)
        return "done";
    if (!r.bHaveStatus)
        return "waiting for the monitor";
    std::string s = StateWords(r.dwStatus);
    if (!r.sText.empty())
        s += ": " + r.sText;
    return s;
}

void DrawProgress(Run &r)
{
    const PrintRequest &req = *r.pReq;
    double dSeconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - r.tStart).count();
    std::string sLine;
    if (r.cbTotal > 0) {
        const int nBar = 20;
        int nFull = (int)(r.cbSent * nBar / r.cbTotal);
        sLine = "[" + std::string((size_t)nFull, '#') + std::string((size_t)(nBar - nFull), '.') +
                "] ";
        char sz[16];
        snprintf(sz, sizeof sz, "%3d%% ", (int)(r.cbSent * 100 / r.cbTotal));
        sLine += sz + Bytes(r.cbSent) + " of " + Bytes(r.cbTotal);
    } else {
        sLine = Bytes(r.cbSent) + " sent";
    }
    if (dSeconds > 0.2)
        sLine += ", " + Bytes((unsigned long long)(r.cbSent / dSeconds)) + "/s";
    sLine += "  " + StatusPart(r);
    fprintf(req.pOut, "\r\033[K%s", FitColumns(sLine, TerminalColumns(req.pOut) - 1).c_str());
    fflush(req.pOut);
    r.bLineOpen = true;
    r.tDrawn = std::chrono::steady_clock::now();
}

// A line of its own, above the progress line when there is one.
void SayLine(Run &r, const std::string &s)
{
    FILE *f = r.pReq->pOut;
    if (r.bLineOpen)
        fprintf(f, "\r\033[K");
    fprintf(f, "dorve: %s\n", s.c_str());
    fflush(f);
    r.bLineOpen = false;
    if (r.pReq->bProgressBar)
        DrawProgress(r);
}

void EndLine(Run &r)
{
    if (r.bLineOpen) {
        fprintf(r.pReq->pOut, "\n");
        r.bLineOpen = false;
    }
}

void ObserveJob(void *ctx, const char *printer, DWORD id, DWORD status, const char *text,
                DWORD command)
{
    std::lock_guard<std::mutex> lock(gRunMutex);
    Run *r = gpRun;
    if (!r || id != r->dwJobId)
        return;
    std::lock_guard<std::mutex> runLock(r->mtx);
    std::string sText = text ? text : "";
    bool bChanged = !r->bHaveStatus || status != r->dwStatus || sText != r->sText;
    r->bHaveStatus = true;
    r->dwStatus = status;
    r->sText = sText;
    if (sText == kTextNoAnswer)
        r->bSawNoAnswer = true;
    if (sText == kTextBusy)
        r->bSawBusy = true;
    if (status & JOB_STATUS_ERROR)
        r->bSawError = true;
    bool bRemoved = command == JOB_CONTROL_CANCEL || command == JOB_CONTROL_DELETE;
    if (bRemoved && r->phase == kPhaseStart)
        r->bCancelledInStart = true;
    if (r->pReq->bProgressBar) {
        if (bChanged)
            DrawProgress(*r);
    } else if (bChanged && !bRemoved) {
        SayLine(*r, "job " + std::to_string(id) + ": " + StatusPart(*r));
    }
    if (r->phase == kPhaseStart && (status & JOB_STATUS_ERROR) && !r->bHintShown) {
        r->bHintShown = true;
        std::string sWait = r->dwSendTimeout
                                ? "up to " + std::to_string(r->dwSendTimeout) + " minutes"
                                : "up to the port's send time-out";
        SayLine(*r, "the printer does not take data yet; the monitor holds the job " + sWait +
                        " (Ctrl-C cancels it)");
    }
}

void NoteProgress(Run &r, unsigned long long cbSent)
{
    std::lock_guard<std::mutex> lock(r.mtx);
    r.cbSent = cbSent;
    if (r.pReq->bProgressBar &&
        std::chrono::steady_clock::now() - r.tDrawn > std::chrono::milliseconds(100))
        DrawProgress(r);
}

void SetPhase(Run &r, Phase phase)
{
    std::lock_guard<std::mutex> lock(r.mtx);
    r.phase = phase;
}

std::string LoginName()
{
    char sz[256];
    if (getlogin_r(sz, sizeof sz) == 0 && sz[0])
        return sz;
    if (struct passwd *pw = getpwuid(geteuid()))
        if (pw->pw_name && pw->pw_name[0])
            return pw->pw_name;
    const char *pUser = getenv("USER");
    return pUser && *pUser ? pUser : "user";
}

std::string BaseName(const std::string &s)
{
    size_t n = s.find_last_of('/');
    return n == std::string::npos ? s : s.substr(n + 1);
}

bool ReadPortString(const std::string &port, const char *value, std::string &s)
{
    HKEY hKey;
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, (std::string(kPortsKey) + "\\" + port).c_str(), 0,
                      KEY_QUERY_VALUE, &hKey) != ERROR_SUCCESS)
        return false;
    char sz[256];
    DWORD cb = sizeof sz - 1, dwType = 0;
    LONG lError = RegQueryValueExA(hKey, value, NULL, &dwType, (LPBYTE)sz, &cb);
    RegCloseKey(hKey);
    if (lError != ERROR_SUCCESS || dwType != REG_SZ)
        return false;
    sz[cb < sizeof sz ? cb : sizeof sz - 1] = '\0';
    s = sz;
    return !s.empty();
}

DWORD ReadSendTimeout(const std::string &port)
{
    HKEY hKey;
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, (std::string(kPortsKey) + "\\" + port).c_str(), 0,
                      KEY_QUERY_VALUE, &hKey) != ERROR_SUCCESS)
        return 0;
    DWORD dw = 0, cb = sizeof dw;
    LONG lError = RegQueryValueExA(hKey, "SendTimeout", NULL, NULL, (LPBYTE)&dw, &cb);
    RegCloseKey(hKey);
    return lError == ERROR_SUCCESS && cb == sizeof dw ? dw : 60;
}

struct PortEntry {
    std::string sName, sMonitor;
};

std::vector<PortEntry> ListPorts()
{
    std::vector<PortEntry> ports;
    DWORD cbNeeded = 0, cReturned = 0;
    EnumPortsA(NULL, 2, NULL, 0, &cbNeeded, &cReturned);
    std::vector<BYTE> buf(cbNeeded + 1);
    if (!EnumPortsA(NULL, 2, buf.data(), cbNeeded, &cbNeeded, &cReturned))
        return ports;
    for (DWORD i = 0; i < cReturned; i++) {
        const PORT_INFO_2A *p = (const PORT_INFO_2A *)buf.data() + i;
        ports.push_back({p->pPortName, p->pMonitorName ? p->pMonitorName : ""});
    }
    return ports;
}

// The port as the monitors spell it: an exact match first, else one that
// differs only in letter case.
bool FindPort(const std::string &sWanted, std::string &sFound, std::string &sList)
{
    std::vector<PortEntry> ports = ListPorts();
    for (const PortEntry &p : ports)
        if (p.sName == sWanted) {
            sFound = p.sName;
            return true;
        }
    for (const PortEntry &p : ports)
        if (strcasecmp(p.sName.c_str(), sWanted.c_str()) == 0) {
            sFound = p.sName;
            return true;
        }
    for (const PortEntry &p : ports)
        sList += (sList.empty() ? "" : ", ") + p.sName;
    return false;
}

// Fills a block from fd; returns early (with what it has) on end of input
// or when Ctrl-C was pressed, so that a silent pipe does not hold the run.
// A regular file never holds it, and is read without the poll, which would
// cost a system call per block on the way of every byte.
bool ReadBlock(int fd, bool bMayStall, BYTE *pBuf, DWORD cbWanted, DWORD *pcbRead,
               std::string &sError)
{
    DWORD cbRead = 0;
    while (cbRead < cbWanted) {
        if (gnInterrupts.load() > 0)
            break;
        struct pollfd pfd = {fd, POLLIN, 0};
        int n = bMayStall ? poll(&pfd, 1, 100) : 1;
        if (n == 0 || (n < 0 && errno == EINTR))
            continue;
        ssize_t got = read(fd, pBuf + cbRead, cbWanted - cbRead);
        if (got < 0 && (errno == EINTR || errno == EAGAIN))
            continue;
        if (got < 0) {
            sError = strerror(errno);
            *pcbRead = cbRead;
            return false;
        }
        if (got == 0)
            break;
        cbRead += (DWORD)got;
    }
    *pcbRead = cbRead;
    return true;
}

bool IsSocketError(DWORD dwError)
{
    return dwError >= 10000 && dwError < 12000;
}

std::string ErrorText(DWORD dwError)
{
    return "error " + std::to_string(dwError);
}

}  // namespace

void InterruptPrint(void)
{
    std::string sPrinter;
    DWORD dwJobId = 0;
    gnInterrupts++;
    {
        std::lock_guard<std::mutex> lock(gRunMutex);
        if (gpRun) {
            sPrinter = gpRun->sPrinter;
            dwJobId = gpRun->dwJobId;
        }
    }
    if (dwJobId)
        DorveSpoolerSetJobStatusBits(sPrinter.c_str(), dwJobId, JOB_STATUS_DELETING);
}

int Print(const PrintRequest &req, PrintResult *pResult)
{
    PrintResult result;
    auto fail = [&](PrintOutcome outcome, const std::string &sMessage) {
        gnInterrupts = 0;   // the next run starts afresh
        result.outcome = outcome;
        result.sMessage = sMessage;
        fprintf(req.pOut, "dorve: %s\n", sMessage.c_str());
        fflush(req.pOut);
        if (pResult)
            *pResult = result;
        return outcome == kPrintSent ? 0 : 1;
    };

    std::string sPort, sList;
    if (!FindPort(req.sPort, sPort, sList))
        return fail(kPrintUsage, "there is no port \"" + req.sPort + "\"; the ports are: " +
                                     (sList.empty() ? "(none)" : sList) +
                                     " (see `dorve ports --level 2`)");
    char szOwner[256] = "";
    const MONITOR *pTable = DorveSpoolerPortMonitor(sPort.c_str(), szOwner, sizeof szOwner);
    if (!pTable || !pTable->pfnOpenPort || !pTable->pfnStartDocPort || !pTable->pfnWritePort ||
        !pTable->pfnEndDocPort || !pTable->pfnClosePort)
        return fail(kPrintUsage, "no started monitor can print to port " + sPort +
                                     " (see `dorve monitors`)");
    const MONITOR table = *pTable;

    bool bStdin = req.sFile.empty() || req.sFile == "-";
    int fd = bStdin ? 0 : open(req.sFile.c_str(), O_RDONLY);
    if (fd < 0)
        return fail(kPrintUsage, "cannot read " + req.sFile + ": " + strerror(errno));
    struct stat st;
    unsigned long long cbTotal = 0;
    bool bMayStall = true;
    if (fstat(fd, &st) == 0 && S_ISREG(st.st_mode)) {
        cbTotal = (unsigned long long)st.st_size;
        bMayStall = false;
    }
    if (!bStdin && fstat(fd, &st) == 0 && S_ISDIR(st.st_mode)) {
        close(fd);
        return fail(kPrintUsage, "cannot read " + req.sFile + ": it is a directory");
    }

    std::string sPrinter = req.sPrinter.empty() ? "dorve-" + sPort : req.sPrinter;
    std::string sUser = req.sUser.empty() ? LoginName() : req.sUser;
    std::string sDocument = !req.sDocument.empty() ? req.sDocument
                            : bStdin              ? std::string("stdin")
                                                  : BaseName(req.sFile);
    std::string sAddress;
    bool bHaveAddress = ReadPortString(sPort, "IPAddress", sAddress);
    std::string sWhere = bHaveAddress ? sAddress : "the port's printer address";

    DorveSpoolerAddPrinter(sPrinter.c_str(), sPort.c_str());
    DWORD dwJobId = DorveSpoolerAddJob(sPrinter.c_str(), sUser.c_str(), sDocument.c_str(),
                                       (DWORD)std::min<unsigned long long>(cbTotal, 0xFFFFFFFFu));
    result.dwJobId = dwJobId;
    result.cbTotal = cbTotal;

    Run run;
    run.pReq = &req;
    run.sPrinter = sPrinter;
    run.dwJobId = dwJobId;
    run.cbTotal = cbTotal;
    run.tStart = std::chrono::steady_clock::now();
    run.dwSendTimeout = bHaveAddress ? ReadSendTimeout(sPort) : 0;
    {
        std::lock_guard<std::mutex> lock(gRunMutex);
        gpRun = &run;
    }
    DorveSpoolerSetJobObserver(ObserveJob, nullptr);
    // Ctrl-C before the job existed still reaches the monitor.
    if (gnInterrupts.load() > 0)
        DorveSpoolerSetJobStatusBits(sPrinter.c_str(), dwJobId, JOB_STATUS_DELETING);
    auto detach = [&] {
        DorveSpoolerSetJobObserver(nullptr, nullptr);
        std::lock_guard<std::mutex> lock(gRunMutex);
        gpRun = nullptr;
    };
    if (bStdin && isatty(0))
        fprintf(req.pOut, "dorve: reading the job from standard input (end it with Ctrl-D)\n");

    HANDLE hPort = NULL;
    if (!table.pfnOpenPort(&sPort[0], &hPort)) {
        DWORD dwError = GetLastError();
        detach();
        if (!bStdin)
            close(fd);
        result.dwLastError = dwError;
        return fail(kPrintOpenPortFailed, "the monitor \"" + std::string(szOwner) +
                                              "\" did not open port " + sPort + " (" +
                                              ErrorText(dwError) +
                                              "): check the port with `dorve ports --level 2`");
    }
    if (req.bProgressBar) {
        std::lock_guard<std::mutex> lock(run.mtx);
        DrawProgress(run);
    }

    DOC_INFO_1A docInfo = {&sDocument[0], NULL, (LPSTR) "RAW"};
    SetLastError(ERROR_SUCCESS);
    BOOL bStarted =
        table.pfnStartDocPort(hPort, &sPrinter[0], dwJobId, 1, (LPBYTE)&docInfo);
    DWORD dwStartError = GetLastError();

    // The document: blocks of the spooler's size until the input ends, the
    // job goes away, Ctrl-C, or a write fails.
    std::vector<BYTE> buf(kBlockSize);
    unsigned long long cbSent = 0;
    bool bWriteFailed = false, bDiscarded = false, bReadFailed = false;
    DWORD dwWriteError = 0;
    unsigned long long cbAtDiscard = 0;
    std::string sReadError;
    int nIdle = 0;
    SetPhase(run, kPhaseWrite);
    while (bStarted && gnInterrupts.load() == 0 && DorveSpoolerJobExists(sPrinter.c_str(), dwJobId)) {
        DWORD dwStatus = 0;
        if (DorveSpoolerGetJobStatus(sPrinter.c_str(), dwJobId, &dwStatus, NULL, 0) &&
            (dwStatus & JOB_STATUS_DELETING))
            break;
        DWORD cbBlock = 0;
        if (!ReadBlock(fd, bMayStall, buf.data(), kBlockSize, &cbBlock, sReadError)) {
            bReadFailed = true;
            break;
        }
        if (cbBlock == 0)
            break;
        DWORD cbDone = 0;
        while (cbDone < cbBlock && gnInterrupts.load() < 2) {
            DWORD cbWritten = 0;
            SetLastError(ERROR_SUCCESS);
            BOOL bOk = table.pfnWritePort(hPort, buf.data() + cbDone, cbBlock - cbDone, &cbWritten);
            DWORD dwError = GetLastError();
            cbWritten = std::min(cbWritten, cbBlock - cbDone);
            cbDone += cbWritten;
            cbSent += cbWritten;
            NoteProgress(run, cbSent);
            if (!bOk) {
                bWriteFailed = true;
                dwWriteError = dwError;
                break;
            }
            // A socket error behind a TRUE answer: the send broke and the
            // monitor now drops the rest while counting it as written.
            if (!bDiscarded && IsSocketError(dwError)) {
                bDiscarded = true;
                cbAtDiscard = cbSent - cbWritten;
                dwWriteError = dwError;
            }
            nIdle = cbWritten == 0 ? nIdle + 1 : 0;
            if (nIdle >= kMaxIdleWrites) {
                bWriteFailed = true;
                dwWriteError = dwError;
                break;
            }
        }
        if (bWriteFailed || cbDone < cbBlock)
            break;
    }
    bool bJobGoneEarly;
    {
        std::lock_guard<std::mutex> lock(run.mtx);
        bJobGoneEarly = run.bCancelledInStart;
        run.phase = kPhaseEnd;
    }
    table.pfnEndDocPort(hPort);
    table.pfnClosePort(hPort);
    if (!bStdin)
        close(fd);

    bool bSawNoAnswer, bSawBusy;
    std::string sLastText;
    {
        std::lock_guard<std::mutex> lock(run.mtx);
        run.bFinished = true;
        if (req.bProgressBar)
            DrawProgress(run);
        EndLine(run);
        bSawNoAnswer = run.bSawNoAnswer;
        bSawBusy = run.bSawBusy;
        sLastText = run.sText;
    }
    detach();
    result.cbSent = cbSent;
    result.cbTotal = cbTotal;
    result.dwLastError = bStarted ? dwWriteError : dwStartError;

    std::string sJob = "job " + std::to_string(dwJobId);
    std::string sOfTotal = std::to_string(cbSent) + " of " +
                           (cbTotal ? std::to_string(cbTotal) : std::string("?")) + " bytes";
    std::string sTimeout = run.dwSendTimeout
                               ? "the port's send time-out (" + std::to_string(run.dwSendTimeout) +
                                     " minutes)"
                               : "the port's send time-out";
    if (gnInterrupts.load() > 0)
        return fail(kPrintCancelled, sJob + " cancelled (Ctrl-C) after " + sOfTotal +
                                         " had been sent; print it again when ready");
    if (!bStarted) {
        result.dwLastError = dwStartError;
        return fail(kPrintStartFailed,
                    "the monitor \"" + std::string(szOwner) + "\" did not start the document on " +
                        sPort + " (" + ErrorText(dwStartError) + ")" +
                        (strcmp(szOwner, DORVE_LOCAL_MONITOR) == 0
                             ? ": this host has no local printer devices; print to a network "
                               "port (see `dorve ports --level 2`)"
                             : ""));
    }
    if (bJobGoneEarly) {
        if (bSawNoAnswer)
            return fail(kPrintNoAnswer,
                        "the printer did not answer: check that it is on and that " + sWhere +
                            " is right; " + sJob + " was cancelled after " + sTimeout);
        return fail(kPrintTimedOut,
                    "the printer stayed busy" +
                        (sLastText.empty() ? std::string() : " (\"" + sLastText + "\")") + " and " +
                        sJob + " was cancelled after " + sTimeout +
                        ": check the printer (paper, errors, other jobs) and print again");
    }
    if (bReadFailed)
        return fail(kPrintWriteFailed, "reading the input failed after " + sOfTotal + ": " +
                                           sReadError + "; the job was ended there");
    if (bWriteFailed && cbSent == 0) {
        if (bSawNoAnswer)
            return fail(kPrintNoAnswer, "the printer did not answer: check that it is on and "
                                        "that " +
                                            sWhere + " is right (" + ErrorText(dwWriteError) + ")");
        if (bSawBusy)
            return fail(kPrintPrinterBusy,
                        "the printer is busy and took no data (" + ErrorText(dwWriteError) +
                            "): wait until it is free and print again");
        return fail(kPrintRefused,
                    "the printer answered but refused the data connection to " + sWhere +
                        " (" + ErrorText(dwWriteError) +
                        "): check that it takes network jobs and is not serving another host");
    }
    if (bWriteFailed)
        return fail(kPrintWriteFailed,
                    "the printer stopped taking data after " + sOfTotal + " (" +
                        ErrorText(dwWriteError) +
                        "): check the printer (paper, errors), then print the job again");
    if (bDiscarded)
        return fail(kPrintDiscarded,
                    "the connection to the printer was lost after " + std::to_string(cbAtDiscard) +
                        " bytes (" + ErrorText(dwWriteError) +
                        "); the monitor discarded the rest of " + sJob +
                        ": check the printer and the network, then print it again");
    return fail(kPrintSent, "sent " + sJob + " (" + std::to_string(cbSent) + " bytes) to " +
                                sPort + " as \"" + sDocument + "\" for " + sUser);
}

}  // namespace dorve
