// dorve's discovery settings: the network the discovery library scans when
// the monitor searches for printers.
#ifndef DORVE_DISCOVERYCMDS_H
#define DORVE_DISCOVERYCMDS_H

#include <cstdio>
#include <string>
#include <vector>

namespace dorve {

// discovery-network.
bool IsDiscoveryCommand(const std::string &sCommand);

// Runs it; it needs no monitor, so it runs before the spooler starts (a
// start with automatic discovery on would scan first).  Exit codes: 0 done,
// 1 not done or nothing configured (the reason is printed), 2 bad command
// line.
int RunDiscoveryCommand(const std::string &sCommand, const std::vector<std::string> &args);

// True when the library has a network to scan: its registry value
// "Network" or the environment variable ZUVSNMP_NETWORK.
bool DiscoveryNetworkConfigured();

// Says on stdout that nothing was done (pszWhat: "searched") because no
// network is configured, and how to configure one; returns 1.
int ReportNoDiscoveryNetwork(const char *pszWhat);

// The command's lines of `dorve --help`.
void DiscoveryCommandsUsage(FILE *f);

}  // namespace dorve

#endif
