// dorve's port administration commands: each drives the port monitor's own
// dialog through the spooler, as a person at the screen would.
#ifndef DORVE_PORTCMDS_H
#define DORVE_PORTCMDS_H

#include <cstdio>
#include <string>
#include <vector>

namespace dorve {

// add-port, configure-port, delete-port, search and auto-discovery.
bool IsPortCommand(const std::string &sCommand);

// Runs one of them once the spooler has started its monitors.  Exit codes:
// 0 done, 1 not done (the reason is printed), 2 bad command line.
int RunPortCommand(const std::string &sCommand, const std::vector<std::string> &args);

// The commands' lines of `dorve --help`.
void PortCommandsUsage(FILE *f);

}  // namespace dorve

#endif
