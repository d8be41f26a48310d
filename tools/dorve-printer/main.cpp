// dorve-printer: runs the emulated printer until SIGINT or SIGTERM.
#include "printer.h"

#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <pthread.h>
#include <string>

namespace {

void Usage()
{
    std::fprintf(stderr,
                 "usage: dorve-printer ADDRESS [--spool DIR] [--status ready|busy|busy11|not-accepting|silent]\n"
                 "                     [--text TEXT] [--trap-to HOST] [--reset-after N] [--refuse] [--stall]\n"
                 "                     [--discard] [--quiet] [--state-file FILE] [--port N]\n"
                 "ADDRESS is a 127.0.0.0/8 address; the monitor always uses port 35.\n"
                 "With --state-file, FILE is read again before every request and connection:\n"
                 "one \"key value\" per line, keys status, text, delay-ms, refuse, stall,\n"
                 "reset-after, discard, trap-to.\n");
}

}  // namespace

int main(int argc, char **argv)
{
    if (argc < 2 || argv[1][0] == '-') {
        Usage();
        return 2;
    }
    std::string address = argv[1];
    std::string spool = ".";
    bool quiet = false;
    dorve::PrinterEmulator printer;
    uint16_t port = dorve::kPrinterPort;

    for (int i = 2; i < argc; i++) {
        std::string opt = argv[i];
        auto value = [&](const char *name) -> const char * {
            if (i + 1 >= argc) {
                std::fprintf(stderr, "dorve-printer: %s needs a value\n", name);
                std::exit(2);
            }
            return argv[++i];
        };
        if (opt == "--spool") {
            spool = value("--spool");
        } else if (opt == "--status") {
            dorve::PrinterState st;
            const char *v = value("--status");
            if (!dorve::ParsePrinterState(v, &st)) {
                std::fprintf(stderr, "dorve-printer: unknown status '%s'\n", v);
                return 2;
            }
            printer.setState(st);
        } else if (opt == "--text") {
            printer.setText(value("--text"));
        } else if (opt == "--trap-to") {
            const char *v = value("--trap-to");
            if (!printer.setTrapTo(v)) {
                std::fprintf(stderr, "dorve-printer: traps go to 127.0.0.0/8 only, not '%s'\n", v);
                return 2;
            }
        } else if (opt == "--reset-after") {
            printer.setResetAfter(std::atoll(value("--reset-after")));
        } else if (opt == "--refuse") {
            printer.setRefuse(true);
        } else if (opt == "--stall") {
            printer.setStall(true);
        } else if (opt == "--discard") {
            printer.setDiscard(true);
        } else if (opt == "--quiet") {
            quiet = true;
        } else if (opt == "--state-file") {
            printer.setStateFile(value("--state-file"));
        } else if (opt == "--port") {
            port = uint16_t(std::atoi(value("--port")));
        } else {
            std::fprintf(stderr, "dorve-printer: unknown option '%s'\n", opt.c_str());
            Usage();
            return 2;
        }
    }

    // The emulator's threads must not take the signals: main waits for them.
    sigset_t sigs;
    sigemptyset(&sigs);
    sigaddset(&sigs, SIGINT);
    sigaddset(&sigs, SIGTERM);
    pthread_sigmask(SIG_BLOCK, &sigs, nullptr);

    if (!quiet) {
        printer.setJobCallback([](const dorve::PrinterJob &job) {
            std::printf("job %u: %llu+%llu bytes -> %s%s\n", job.number, (unsigned long long)job.headerBytes,
                        (unsigned long long)job.dataBytes, job.path.empty() ? "(discarded)" : job.path.c_str(),
                        job.reset ? " (reset)" : "");
            std::fflush(stdout);
        });
    }
    if (!printer.start(address, spool, port)) {
        std::fprintf(stderr, "dorve-printer: %s\n", printer.lastError().c_str());
        return 1;
    }
    if (!quiet) {
        std::printf("dorve-printer: listening on %s port %u\n", address.c_str(), unsigned(port));
        std::fflush(stdout);
    }

    int sig = 0;
    sigwait(&sigs, &sig);
    printer.stop();
    if (!quiet) {
        dorve::PrinterCounters c = printer.counters();
        std::printf("dorve-printer: %llu jobs, %llu bytes, %llu status requests\n", (unsigned long long)c.jobs,
                    (unsigned long long)c.bytesReceived, (unsigned long long)c.statusRequests);
    }
    return 0;
}
