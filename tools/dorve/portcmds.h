// dorve's port administration commands: each drives the port monitor's own
// dialog through the spooler, as a person at the screen would.
#ifndef DORVE_PORTCMDS_H
#define DORVE_PORTCMDS_H

#include <windows.h>

#include <cstdio>
#include <string>
#include <vector>

namespace dorve {

// add-port, configure-port, delete-port, search and auto-discovery.
bool IsPortCommand(const std::string &sCommand);

// Runs one of them once the spooler has started its monitors.  Exit codes:
// 0 done, 1 not done (the reason is printed), 2 bad command line.
int RunPortCommand(const std::string &sCommand, const std::vector<std::string> &args);

// add-port's work with the Add Port dialog opened by pfnOpen(ctx) rather
// than by AddPortA: a setup program's call (the installer's AddZUVPort)
// that reaches the monitor's AddPort through the spooler.  args are
// add-port's; pfnOpen's result stands for AddPortA's.  sMonitor is the
// monitor's registered name.  Exit codes as RunPortCommand's.
typedef BOOL (*PFN_OPEN_ADD_PORT)(void *ctx);
int AddPortThrough(const std::string &sMonitor, const std::vector<std::string> &args,
                   PFN_OPEN_ADD_PORT pfnOpen, void *ctx);
// 0 when args are add-port's; else 2, with the usage error printed.
int CheckAddPortArgs(const std::vector<std::string> &args);

// The commands' lines of `dorve --help`.
void PortCommandsUsage(FILE *f);

}  // namespace dorve

#endif
