// Real snmpd agents on loopback addresses for the discovery tests and the
// benchmark.  Each agent reads only its own config file (-C -c) and keeps
// its state in the caller's temporary directory; it dies with the process
// that started it, so a crashed test leaves no agent behind.
#ifndef DORVE_TESTS_SNMP_AGENTS_H
#define DORVE_TESTS_SNMP_AGENTS_H

#include <dirent.h>
#include <fcntl.h>
#include <signal.h>
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/prctl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <string>
#include <utility>
#include <vector>

struct SnmpAgent {
    std::string strAddr;     // dotted loopback address it listens on, port 161
    pid_t pid = -1;
};

inline std::string SnmpdPath()
{
    static const char *const apszDirs[] = {"/usr/sbin", "/sbin", "/usr/local/sbin", "/usr/bin"};
    for (const char *pszDir : apszDirs) {
        std::string strPath = std::string(pszDir) + "/snmpd";
        if (access(strPath.c_str(), X_OK) == 0)
            return strPath;
    }
    return std::string();
}

inline std::string MakeAgentDir()
{
    char szTemplate[] = "/tmp/zuvsnmp-agents-XXXXXX";
    const char *psz = mkdtemp(szTemplate);
    return psz != NULL ? std::string(psz) : std::string();
}

inline bool WriteTextFile(const std::string &strPath, const std::string &strText)
{
    FILE *pFile = fopen(strPath.c_str(), "w");
    if (pFile == NULL)
        return false;
    bool bOk = fwrite(strText.data(), 1, strText.size(), pFile) == strText.size();
    return fclose(pFile) == 0 && bOk;
}

// Starts snmpd for one address with the given config lines (a read-only
// community "public" for loopback is always added).
inline bool StartSnmpAgent(const std::string &strDir, const std::string &strAddr,
                           const std::string &strConfig, SnmpAgent *pAgent, std::string *pstrError)
{
    std::string strSnmpd = SnmpdPath();
    if (strSnmpd.empty()) {
        *pstrError = "snmpd is not installed (apt-get install snmpd snmp); the discovery tests need it";
        return false;
    }
    std::string strBase = strDir + "/" + strAddr;
    std::string strConf = strBase + ".conf";
    if (!WriteTextFile(strConf, "rocommunity public 127.0.0.0/8\n" + strConfig)) {
        *pstrError = "cannot write " + strConf;
        return false;
    }
    std::string strPid = strBase + ".pid";
    std::string strLog = strBase + ".log";
    std::string strListen = "udp:" + strAddr + ":161";
    std::string strPersist = "SNMP_PERSISTENT_DIR=" + strDir;

    pid_t pid = fork();
    if (pid < 0) {
        *pstrError = "fork failed";
        return false;
    }
    if (pid == 0) {
        prctl(PR_SET_PDEATHSIG, SIGKILL);
        int fd = open(strLog.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        if (fd >= 0) {
            dup2(fd, 1);
            dup2(fd, 2);
            close(fd);
        }
        putenv(const_cast<char *>(strPersist.c_str()));
        execl(strSnmpd.c_str(), "snmpd", "-f", "-Lo", "-C", "-c", strConf.c_str(), "-p", strPid.c_str(),
              strListen.c_str(), (char *)NULL);
        _exit(127);
    }
    pAgent->strAddr = strAddr;
    pAgent->pid = pid;
    return true;
}

// True once the kernel shows a UDP socket bound to addr:161.
inline bool SnmpAgentBound(const std::string &strAddr)
{
    // The kernel prints the address as the 32-bit word of its network-order
    // bytes.  (No socket headers here: the tests also take the layer's.)
    unsigned au[4];
    if (sscanf(strAddr.c_str(), "%u.%u.%u.%u", &au[0], &au[1], &au[2], &au[3]) != 4)
        return false;
    unsigned char ab[4] = {(unsigned char)au[0], (unsigned char)au[1], (unsigned char)au[2], (unsigned char)au[3]};
    uint32_t dwRaw;
    memcpy(&dwRaw, ab, sizeof(dwRaw));
    char szWant[32];
    snprintf(szWant, sizeof(szWant), "%08X:00A1", (unsigned)dwRaw);
    FILE *pFile = fopen("/proc/net/udp", "r");
    if (pFile == NULL)
        return false;
    char szLine[512];
    bool bFound = false;
    while (!bFound && fgets(szLine, sizeof(szLine), pFile) != NULL)
        bFound = strstr(szLine, szWant) != NULL;
    fclose(pFile);
    return bFound;
}

inline void StopSnmpAgent(SnmpAgent *pAgent)
{
    if (pAgent->pid <= 0)
        return;
    kill(pAgent->pid, SIGTERM);
    for (int i = 0; i < 200; i++) {
        if (waitpid(pAgent->pid, NULL, WNOHANG) == pAgent->pid) {
            pAgent->pid = -1;
            return;
        }
        usleep(10 * 1000);
    }
    kill(pAgent->pid, SIGKILL);
    waitpid(pAgent->pid, NULL, 0);
    pAgent->pid = -1;
}

// Waits until every agent has bound its socket (a few hundred ms each, in
// parallel); false with a message naming the first that did not, or that
// exited, e.g. because port 161 needs privileges here.
inline bool WaitSnmpAgents(std::vector<SnmpAgent> *pAgents, const std::string &strDir, int nTimeoutMs,
                           std::string *pstrError)
{
    for (int nWaited = 0; nWaited <= nTimeoutMs; nWaited += 20) {
        bool bAll = true;
        for (SnmpAgent &agent : *pAgents) {
            int nStatus = 0;
            if (agent.pid > 0 && waitpid(agent.pid, &nStatus, WNOHANG) == agent.pid) {
                agent.pid = -1;
                *pstrError = "snmpd for " + agent.strAddr + " exited; see " + strDir + "/" + agent.strAddr + ".log";
                return false;
            }
            bAll = bAll && SnmpAgentBound(agent.strAddr);
        }
        if (bAll) {
            usleep(50 * 1000);   // bound comes just before the agent reads
            return true;
        }
        usleep(20 * 1000);
    }
    *pstrError = "snmpd agents did not bind within " + std::to_string(nTimeoutMs) + " ms; logs in " + strDir;
    return false;
}

// Configs, pid files, logs and the agents' state (snmpd adds a few
// subdirectories of its own).
inline void RemoveAgentDir(const std::string &strDir)
{
    if (strDir.empty())
        return;
    DIR *pDir = opendir(strDir.c_str());
    if (pDir != NULL) {
        struct dirent *pEnt;
        while ((pEnt = readdir(pDir)) != NULL) {
            if (strcmp(pEnt->d_name, ".") == 0 || strcmp(pEnt->d_name, "..") == 0)
                continue;
            std::string strPath = strDir + "/" + pEnt->d_name;
            struct stat st;
            if (lstat(strPath.c_str(), &st) == 0 && S_ISDIR(st.st_mode))
                RemoveAgentDir(strPath);
            else
                unlink(strPath.c_str());
        }
        closedir(pDir);
    }
    rmdir(strDir.c_str());
}

// The agents of one test program: started once, by the first test that
// needs them, and stopped when the program ends.
struct SnmpAgentSet {
    bool bTried = false;
    bool bUp = false;
    std::string strError, strDir;
    std::vector<SnmpAgent> list;

    // One agent for each address and configuration; bUp once all answer.
    void Start(const std::vector<std::pair<std::string, std::string>> &agents)
    {
        bTried = true;
        strDir = MakeAgentDir();
        if (strDir.empty()) {
            strError = "cannot create a temporary directory for the agents";
            return;
        }
        for (const auto &one : agents) {
            SnmpAgent agent;
            if (!StartSnmpAgent(strDir, one.first, one.second, &agent, &strError))
                return;
            list.push_back(agent);
        }
        bUp = WaitSnmpAgents(&list, strDir, 10000, &strError);
    }

    void Stop()
    {
        for (SnmpAgent &agent : list)
            StopSnmpAgent(&agent);
        list.clear();
        RemoveAgentDir(strDir);
        strDir.clear();
    }
};

#endif
