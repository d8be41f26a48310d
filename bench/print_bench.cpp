// Data-phase throughput of one large job through `dorve print` against the
// same bytes from a plain TCP sender with the same block size, both into an
// emulated printer that discards what it receives.  The time of each run is
// taken at the printer, from its first received byte to its last, so that
// the start-up of the spooler host and the status poll before the data are
// left out.  Both senders are processes of their own.  Prints both
// throughputs and their ratio; with CUPS's socket backend installed, its
// ratio too.  Usage:
//   print_bench [--size BYTES] [--rounds N] [--address 127.0.0.X]
// The dorve program is taken from the directory of this program, its
// monitor from ../lib.
#include "printer.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <limits.h>
#include <netinet/in.h>
#include <spawn.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <string>
#include <vector>

extern char **environ;

namespace {

const size_t kBlockSize = 4096;  // the blocks dorve print hands to WritePort
const char kCupsSocket[] = "/usr/lib/cups/backend/socket";

struct Options {
    unsigned long long cbJob = 1ull << 30;
    int nRounds = 3;
    std::string sAddress = "127.0.0.181";
};

struct Run {
    bool bOk = false;
    unsigned long long cbReceived = 0;
    double dSeconds = 0;
    double dCpuSeconds = 0;  // the sender's own, user and system
    double MiBps() const { return dSeconds > 0 ? cbReceived / dSeconds / (1024.0 * 1024.0) : 0; }
};

std::string ProgramDir()
{
    char buf[PATH_MAX];
    ssize_t n = readlink("/proc/self/exe", buf, sizeof(buf) - 1);
    if (n <= 0)
        return ".";
    buf[n] = '\0';
    std::string s(buf);
    size_t slash = s.rfind('/');
    return slash == std::string::npos ? "." : s.substr(0, slash);
}

bool WriteTextFile(const std::string &path, const std::string &text)
{
    FILE *f = fopen(path.c_str(), "w");
    if (f == nullptr)
        return false;
    bool ok = fwrite(text.data(), 1, text.size(), f) == text.size();
    return fclose(f) == 0 && ok;
}

// A job of varied bytes, so that nothing on the way can take a shortcut.
bool WriteJobFile(const std::string &path, unsigned long long cbJob)
{
    int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    if (fd < 0)
        return false;
    std::vector<unsigned char> chunk(1 << 20);
    for (size_t i = 0; i < chunk.size(); i++)
        chunk[i] = (unsigned char)((i * 2654435761u) >> 13);
    unsigned long long cbLeft = cbJob;
    bool ok = true;
    while (ok && cbLeft > 0) {
        size_t cb = (size_t)std::min<unsigned long long>(cbLeft, chunk.size());
        ok = write(fd, chunk.data(), cb) == (ssize_t)cb;
        cbLeft -= cb;
    }
    return close(fd) == 0 && ok;
}

double CpuSeconds(const struct rusage &ru)
{
    return ru.ru_utime.tv_sec + ru.ru_utime.tv_usec / 1e6 + ru.ru_stime.tv_sec + ru.ru_stime.tv_usec / 1e6;
}

// Waits for the child; its exit status and the processor time it took.
int WaitChild(pid_t pid, double *pdCpuSeconds)
{
    int status = 0;
    struct rusage ru;
    if (wait4(pid, &status, 0, &ru) != pid)
        return -1;
    *pdCpuSeconds = CpuSeconds(ru);
    return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}

// Runs argv with the given extra environment, its output to logPath; the
// exit status, or -1 when it could not be started.
int RunChild(const std::vector<std::string> &args, const std::vector<std::string> &env,
             const std::string &logPath, double *pdCpuSeconds)
{
    std::vector<char *> argv;
    for (const std::string &a : args)
        argv.push_back(const_cast<char *>(a.c_str()));
    argv.push_back(nullptr);
    std::vector<std::string> envStrings(env);
    for (char **e = environ; *e != nullptr; e++) {
        std::string s(*e);
        std::string key = s.substr(0, s.find('=') + 1);
        bool overridden = false;
        for (const std::string &mine : env)
            overridden = overridden || mine.compare(0, key.size(), key) == 0;
        if (!overridden)
            envStrings.push_back(s);
    }
    std::vector<char *> envp;
    for (const std::string &s : envStrings)
        envp.push_back(const_cast<char *>(s.c_str()));
    envp.push_back(nullptr);

    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_addopen(&actions, 1, logPath.c_str(), O_WRONLY | O_CREAT | O_APPEND, 0600);
    posix_spawn_file_actions_adddup2(&actions, 1, 2);
    pid_t pid;
    int rc = posix_spawn(&pid, argv[0], &actions, nullptr, argv.data(), envp.data());
    posix_spawn_file_actions_destroy(&actions);
    if (rc != 0)
        return -1;
    return WaitChild(pid, pdCpuSeconds);
}

// What the printer saw of its job `number`: all bytes, header included,
// from the first received to the last received.
Run JobRun(const dorve::PrinterEmulator &printer, unsigned number)
{
    Run run;
    for (const dorve::PrinterJob &job : printer.jobs()) {
        if (job.number != number)
            continue;
        run.cbReceived = job.headerBytes + job.dataBytes;
        run.dSeconds = std::chrono::duration<double>(job.lastByte - job.firstByte).count();
        run.bOk = !job.reset;
    }
    return run;
}

// The plain sender: read a block of the file, send it, until the end.
bool SendPlain(const std::string &address, uint16_t port, const std::string &jobPath)
{
    int fdFile = open(jobPath.c_str(), O_RDONLY);
    if (fdFile < 0)
        return false;
    int fd = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in to{};
    to.sin_family = AF_INET;
    to.sin_port = htons(port);
    bool ok = fd >= 0 && inet_pton(AF_INET, address.c_str(), &to.sin_addr) == 1 &&
              connect(fd, (sockaddr *)&to, sizeof(to)) == 0;
    std::vector<char> block(kBlockSize);
    while (ok) {
        ssize_t got = read(fdFile, block.data(), block.size());
        if (got <= 0) {
            ok = got == 0;
            break;
        }
        ssize_t sent = 0;
        while (ok && sent < got) {
            ssize_t n = send(fd, block.data() + sent, (size_t)(got - sent), MSG_NOSIGNAL);
            ok = n > 0;
            sent += ok ? n : 0;
        }
    }
    if (fd >= 0)
        close(fd);
    close(fdFile);
    return ok;
}

// The plain sender runs in a process of its own, as dorve print does, so
// that neither shares the printer's process.
bool SendPlainInChild(const std::string &address, uint16_t port, const std::string &jobPath,
                      double *pdCpuSeconds)
{
    fflush(nullptr);
    pid_t pid = fork();
    if (pid < 0)
        return false;
    if (pid == 0)
        _exit(SendPlain(address, port, jobPath) ? 0 : 1);
    return WaitChild(pid, pdCpuSeconds) == 0;
}

double Median(std::vector<double> v)
{
    if (v.empty())
        return 0;
    std::sort(v.begin(), v.end());
    return v[v.size() / 2];
}

bool ParseOptions(int argc, char **argv, Options *opt)
{
    for (int i = 1; i < argc; i++) {
        std::string a = argv[i];
        if (i + 1 >= argc)
            return false;
        if (a == "--size")
            opt->cbJob = strtoull(argv[++i], nullptr, 0);
        else if (a == "--rounds")
            opt->nRounds = atoi(argv[++i]);
        else if (a == "--address")
            opt->sAddress = argv[++i];
        else
            return false;
    }
    return opt->cbJob > 0 && opt->nRounds > 0 && opt->sAddress.compare(0, 4, "127.") == 0;
}

}  // namespace

int main(int argc, char **argv)
{
    Options opt;
    if (!ParseOptions(argc, argv, &opt)) {
        fprintf(stderr, "usage: print_bench [--size BYTES] [--rounds N] [--address 127.0.0.X]\n");
        return 2;
    }
    std::string binDir = ProgramDir();
    std::string dorve = binDir + "/dorve";
    std::string libDir = binDir + "/../lib";
    if (access(dorve.c_str(), X_OK) != 0) {
        fprintf(stderr, "print_bench: %s is missing; build the dorve target first\n", dorve.c_str());
        return 1;
    }

    char dirTemplate[] = "/tmp/print-bench-XXXXXX";
    if (mkdtemp(dirTemplate) == nullptr) {
        perror("print_bench: mkdtemp");
        return 1;
    }
    std::string work = dirTemplate;
    std::string jobPath = work + "/job.bin";
    std::string regPath = work + "/registry.reg";
    std::string logPath = work + "/child.log";
    int rc = 1;

    dorve::PrinterEmulator printer;
    printer.setDiscard(true);
    printer.setState(dorve::PrinterState::Ready);
    uint16_t port = dorve::kPrinterPort;
    std::string reg =
        "REGEDIT4\n\n"
        "[HKEY_LOCAL_MACHINE\\System\\CurrentControlSet\\Control\\Print\\Monitors\\Dorve Port]\n"
        "\"Driver\"=\"DORVEMON.DLL\"\n\n"
        "[HKEY_LOCAL_MACHINE\\SYSTEM\\CurrentControlSet\\Control\\Print\\Monitors\\ZUV Port\\Ports\\BENCH:]\n"
        "\"IPAddress\"=\"" + opt.sAddress + "\"\n\n";
    // Rates, and each round's ratios: a round's two runs are back to back,
    // so their ratio is steadier than the rates on a busy machine.
    std::vector<double> dorveRates, plainRates, cupsRates, dorveRatios, cupsRatios, cpuRatios;
    bool bCups = access(kCupsSocket, X_OK) == 0;

    if (!WriteTextFile(regPath, reg) || !WriteJobFile(jobPath, opt.cbJob)) {
        fprintf(stderr, "print_bench: cannot write the job and registry files in %s\n", work.c_str());
        goto done;
    }
    if (!printer.start(opt.sAddress, "", port)) {
        fprintf(stderr, "print_bench: the printer cannot listen on %s port %u (%s); the monitor "
                        "always uses port 35, which needs the privilege to bind it\n",
                opt.sAddress.c_str(), port, printer.lastError().c_str());
        goto done;
    }
    printf("job: %llu bytes in %zu-byte blocks to %s port %u, %d rounds\n", opt.cbJob, kBlockSize,
           opt.sAddress.c_str(), port, opt.nRounds);
    for (int round = 0; round < opt.nRounds; round++) {
        unsigned number = (unsigned)printer.counters().connections + 1;
        double dCpu = 0;
        int exitCode = RunChild({dorve, "--registry", regPath, "print", "BENCH:", jobPath, "--user",
                                 "bench", "--document", "bench"},
                                {"DORVE_LIBPATH=" + libDir, "DORVE_REGISTRY=" + regPath}, logPath,
                                &dCpu);
        printer.waitForJobs(number, std::chrono::seconds(30));
        Run viaDorve = JobRun(printer, number);
        viaDorve.dCpuSeconds = dCpu;
        if (exitCode != 0 || !viaDorve.bOk || viaDorve.cbReceived < opt.cbJob) {
            fprintf(stderr, "print_bench: dorve print failed (exit %d, %llu bytes received); its "
                            "output is in %s\n",
                    exitCode, viaDorve.cbReceived, logPath.c_str());
            work.clear();  // kept for the log
            goto done;
        }

        number = (unsigned)printer.counters().connections + 1;
        bool sent = SendPlainInChild(opt.sAddress, port, jobPath, &dCpu);
        printer.waitForJobs(number, std::chrono::seconds(30));
        Run plain = JobRun(printer, number);
        plain.dCpuSeconds = dCpu;
        if (!sent || !plain.bOk || plain.cbReceived != opt.cbJob) {
            fprintf(stderr, "print_bench: the plain sender failed (%llu bytes received)\n",
                    plain.cbReceived);
            goto done;
        }

        Run cups;
        if (bCups) {
            number = (unsigned)printer.counters().connections + 1;
            int cupsExit = RunChild({kCupsSocket, "1", "bench", "bench", "1", "", jobPath},
                                    {"DEVICE_URI=socket://" + opt.sAddress + ":35?snmp=false"}, logPath,
                                    &dCpu);
            printer.waitForJobs(number, std::chrono::seconds(30));
            cups = JobRun(printer, number);
            if (cupsExit != 0 || cups.cbReceived < opt.cbJob)
                cups = Run();
        }

        dorveRates.push_back(viaDorve.MiBps());
        plainRates.push_back(plain.MiBps());
        dorveRatios.push_back(viaDorve.MiBps() / plain.MiBps());
        cpuRatios.push_back(viaDorve.dCpuSeconds / plain.dCpuSeconds);
        printf("round %d: dorve print %.1f MiB/s (%.3f s, cpu %.3f s), plain sender %.1f MiB/s "
               "(%.3f s, cpu %.3f s)",
               round + 1, viaDorve.MiBps(), viaDorve.dSeconds, viaDorve.dCpuSeconds, plain.MiBps(),
               plain.dSeconds, plain.dCpuSeconds);
        if (bCups && cups.bOk) {
            cupsRates.push_back(cups.MiBps());
            cupsRatios.push_back(cups.MiBps() / plain.MiBps());
            printf(", cups socket %.1f MiB/s (%.3f s)", cups.MiBps(), cups.dSeconds);
        } else if (bCups) {
            printf(", cups socket failed");
        }
        printf(", ratio %.3f\n", dorveRatios.back());
        fflush(stdout);
    }
    printf("median: dorve print %.1f MiB/s, plain sender %.1f MiB/s\n", Median(dorveRates),
           Median(plainRates));
    printf("ratio dorve print / plain sender: %.3f (median of the rounds' ratios; target at least 0.9)\n",
           Median(dorveRatios));
    // Processor time does not depend on what else runs on the machine.
    printf("processor time dorve print / plain sender: %.3f\n", Median(cpuRatios));
    if (!cupsRatios.empty())
        printf("ratio cups socket backend / plain sender: %.3f\n", Median(cupsRatios));
    else if (!bCups)
        printf("cups socket backend: not installed (%s)\n", kCupsSocket);
    rc = 0;

done:
    printer.stop();
    if (!work.empty()) {
        unlink(jobPath.c_str());
        unlink(regPath.c_str());
        unlink(logPath.c_str());
        rmdir(work.c_str());
    }
    return rc;
}
