// dorve's installer commands: install, uninstall, is-installed and
// kill-monitor call the exports of ZUVUTIL.dll as a setup program does.
#ifndef DORVE_INSTALLCMDS_H
#define DORVE_INSTALLCMDS_H

#include <windows.h>

#include <string>
#include <vector>

namespace dorve {

// TRUE for the commands below.
bool IsInstallCommand(const std::string &sCommand);

// Runs one of them after the spooler has started; the process exit code.
int RunInstallCommand(const std::string &sCommand, const std::vector<std::string> &args);

// A Win32 error code in words, for the codes that installing, adding a port
// or removing the monitor can give; NULL for others.
const char *InstallErrorText(DWORD dwError);

}  // namespace dorve

#endif
