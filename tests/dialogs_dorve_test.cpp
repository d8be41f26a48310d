// The dorve program's port commands, run as a newcomer would run them on a
// registry file of the test's own: each works the monitor's own dialog and
// says what the dialog said and what came of it.  The scripted discovery
// library stands first on the program's search path, so a search never
// reaches the network.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "testlib.h"

using dorvetest::ProgramRun;
using dorvetest::ReadFile;
using dorvetest::TempDir;

namespace {

class DorvePortCommands : public ::testing::Test {
protected:
    void SetUp() override
    {
        ProgramRun r = Run({"monitors", "add", "Dorve Port", "DORVEMON.DLL"});
        ASSERT_EQ(r.rc, 0) << r.out << r.err;
    }

    // The scripted discovery library first, then the real libraries.
    ProgramRun Run(const std::vector<std::string> &args)
    {
        std::string bin = dorvetest::BinDir();
        return dorvetest::RunDorve(args, registry_, dir_.path(),
                                   {"DORVE_LIBPATH=" + bin + "/../fakesnmp:" + bin + "/../lib"});
    }

    std::string Ports()
    {
        ProgramRun r = Run({"ports"});
        EXPECT_EQ(r.rc, 0) << r.err;
        return r.out;
    }

    // The port's key as the registry file holds it: from its header to the
    // next blank line.
    std::string PortSection(const std::string &name)
    {
        std::string file = ReadFile(registry_);
        std::string header = "\\ZUV Port\\Ports\\" + name + "]\n";
        size_t at = file.find(header);
        if (at == std::string::npos)
            return "";
        size_t end = file.find("\n\n", at);
        return file.substr(at + header.size(), end == std::string::npos ? std::string::npos
                                                                         : end - at - header.size() + 1);
    }

    TempDir dir_;
    std::string registry_ = dir_.path() + "/registry.reg";
};

const char kLocalPorts[] = "LPT1:\nLPT2:\nCOM1:\nFILE:\n";

TEST_F(DorvePortCommands, AddConfigureAndDeleteAPort)
{
    ProgramRun r = Run({"add-port", "Office", "127.0.0.150"});
    EXPECT_EQ(r.rc, 0) << r.out << r.err;
    EXPECT_EQ(r.out, "Port \"Office\" added for the printer at 127.0.0.150.\n");
    EXPECT_EQ(PortSection("Office"), "\"IPAddress\"=\"127.0.0.150\"\n");
    EXPECT_EQ(Ports(), std::string(kLocalPorts) + "Office\n");

    r = Run({"configure-port", "Office", "--send-timeout", "70", "--end-of-output-notice", "on"});
    EXPECT_EQ(r.rc, 0) << r.out << r.err;
    EXPECT_EQ(r.out, "Port \"Office\" configured: status every 5 s, status time-out 10 s, send time-out 70 "
                     "min, alert off, end-of-output notice on.\n");
    EXPECT_EQ(PortSection("Office"),
              "\"IPAddress\"=\"127.0.0.150\"\n"
              "\"StsInterval\"=dword:00000005\n"
              "\"ConnType\"=dword:00000000\n"
              "\"StsTimeout\"=dword:0000000a\n"
              "\"SendTimeout\"=dword:00000046\n"
              "\"DefErrors\"=dword:00000001\n"
              "\"DefWarnings\"=dword:00000001\n"
              "\"DefInfos\"=dword:00000001\n"
              "\"AudibleAlert\"=dword:00000000\n"
              "\"TrapNotification\"=dword:00000001\n");

    // Options not given keep their values.
    r = Run({"configure-port", "Office", "--alert", "on"});
    EXPECT_EQ(r.rc, 0) << r.out;
    EXPECT_NE(r.out.find("send time-out 70 min, alert on, end-of-output notice on."), std::string::npos)
        << r.out;

    r = Run({"delete-port", "Office"});
    EXPECT_EQ(r.rc, 0) << r.out << r.err;
    EXPECT_EQ(r.out, "Port \"Office\" deleted.\n");
    EXPECT_EQ(PortSection("Office"), "");
    EXPECT_EQ(Ports(), kLocalPorts);
}

TEST_F(DorvePortCommands, ATakenNameGetsTheDialogsMessage)
{
    ASSERT_EQ(Run({"add-port", "Office", "127.0.0.151"}).rc, 0);
    for (const char *name : {"OFFICE", "lpt1:"}) {
        ProgramRun r = Run({"add-port", name, "127.0.0.152"});
        EXPECT_EQ(r.rc, 1) << name;
        EXPECT_EQ(r.out, std::string(u8"Dorve Print Monitor: は既に存在します\n") +
                             "Not added: a port named \"" + name +
                             "\" already exists in the spooler (names are compared without regard to "
                             "letter case); choose another name.\n");
    }
    EXPECT_EQ(Ports(), std::string(kLocalPorts) + "Office\n");
}

TEST_F(DorvePortCommands, AnUnresolvableAddressIsAddedOnlyWhenAccepted)
{
    const std::string question = "Dorve Print Monitor: The port address \"bad..address\" could not be "
                                 "resolved on this computer. Accept it anyway?\n";
    ProgramRun r = Run({"add-port", "Lab", "bad..address"});
    EXPECT_EQ(r.rc, 1);
    EXPECT_EQ(r.out, question + "Not added: the address bad..address does not resolve on this computer; check "
                                "it, or add it anyway with --accept-unresolved.\n");
    EXPECT_EQ(Ports(), kLocalPorts);

    r = Run({"add-port", "Lab", "bad..address", "--accept-unresolved"});
    EXPECT_EQ(r.rc, 0) << r.out;
    EXPECT_EQ(r.out, question + "Port \"Lab\" added for the printer at bad..address.\n");
    EXPECT_EQ(PortSection("Lab"), "\"IPAddress\"=\"bad..address\"\n");
}

TEST_F(DorvePortCommands, AValueOutOfRangeIsRefusedAndNothingIsStored)
{
    ASSERT_EQ(Run({"add-port", "Office", "127.0.0.153"}).rc, 0);
    struct Case {
        std::vector<std::string> args;
        std::string message;
    } aCases[] = {
        {{"--send-timeout", "700"}, "Dorve Print Monitor: This value must be between 1 and 600 minutes\n"},
        {{"--status-interval", "0"}, "Dorve Print Monitor: This value must be between 1 and 600 seconds\n"},
        {{"--status-timeout", "ten"}, "Dorve Print Monitor: This value must be between 1 and 600 seconds\n"},
        {{"--status-interval", "1000"}, ""},    // the fourth digit does not go in
    };
    for (const Case &c : aCases) {
        std::vector<std::string> args = {"configure-port", "Office"};
        args.insert(args.end(), c.args.begin(), c.args.end());
        ProgramRun r = Run(args);
        EXPECT_EQ(r.rc, 1) << c.args[0];
        EXPECT_EQ(r.out.substr(0, c.message.size()), c.message);
        EXPECT_NE(r.out.find("Not configured: " + c.args[0] + " " + c.args[1] + " was refused"),
                  std::string::npos)
            << r.out;
        EXPECT_NE(r.out.find("Nothing was stored."), std::string::npos);
        EXPECT_EQ(PortSection("Office"), "\"IPAddress\"=\"127.0.0.153\"\n");
    }
}

TEST_F(DorvePortCommands, UnknownAndForeignPortsAreNamed)
{
    ProgramRun r = Run({"configure-port", "Nowhere"});
    EXPECT_EQ(r.rc, 1);
    EXPECT_EQ(r.out, "Not configured: there is no port named \"Nowhere\"; `dorve ports` lists the ports.\n");
    r = Run({"delete-port", "Nowhere"});
    EXPECT_EQ(r.rc, 1);
    EXPECT_EQ(r.out, "Not deleted: there is no port named \"Nowhere\"; `dorve ports` lists the ports.\n");
    r = Run({"delete-port", "FILE:"});
    EXPECT_EQ(r.rc, 1);
    EXPECT_EQ(r.out, "Not deleted: \"FILE:\" is a port of the monitor \"Local Port\", not of the Dorve port "
                     "monitor.\n");
    EXPECT_EQ(Ports(), kLocalPorts);
}

TEST_F(DorvePortCommands, AutoDiscoveryAndSearch)
{
    ProgramRun r = Run({"auto-discovery", "on"});
    EXPECT_EQ(r.rc, 0) << r.out << r.err;
    EXPECT_EQ(r.out.find("Automatic discovery is on"), 0u) << r.out;
    EXPECT_NE(ReadFile(registry_).find("\"AutoEnable\"=dword:00000001"), std::string::npos);

    // Adding a port by hand switches to manual mode, as the dialog does.
    r = Run({"add-port", "Office", "127.0.0.154"});
    EXPECT_EQ(r.rc, 0) << r.out;
    EXPECT_NE(r.out.find("Automatic discovery was on and is now off"), std::string::npos) << r.out;
    EXPECT_NE(ReadFile(registry_).find("\"AutoEnable\"=dword:00000000"), std::string::npos);

    // A search needs a network to scan; the scripted library stands in for it.
    ASSERT_EQ(Run({"discovery-network", "127.0.0.16/28"}).rc, 0);
    r = Run({"search"});
    EXPECT_EQ(r.rc, 0) << r.out << r.err;
    EXPECT_EQ(r.out, "Search done: no new printer was found on the network.\n");
    EXPECT_NE(ReadFile(registry_).find("\"AutoEnable\"=dword:00000000"), std::string::npos)
        << "the search does not store the mode";

    r = Run({"auto-discovery", "off"});
    EXPECT_EQ(r.rc, 0);
    EXPECT_EQ(r.out.find("Automatic discovery is off"), 0u) << r.out;
}

TEST_F(DorvePortCommands, BadCommandLinesAreUsageErrors)
{
    const std::vector<std::vector<std::string>> aCases = {
        {"add-port", "Office"},
        {"add-port", "", "127.0.0.155"},
        {"add-port", "a\\b", "127.0.0.155"},
        {"add-port", "Office", "127.0.0.155", "--bogus"},
        {"configure-port"},
        {"configure-port", "Office", "--alert", "maybe"},
        {"configure-port", "Office", "--send-timeout"},
        {"delete-port"},
        {"auto-discovery", "sometimes"},
        {"search", "now"},
    };
    for (const auto &args : aCases) {
        ProgramRun r = Run(args);
        EXPECT_EQ(r.rc, 2) << args[0] << " " << (args.size() > 1 ? args[1] : "");
        EXPECT_NE(r.err.find("dorve: "), std::string::npos);
    }
    EXPECT_EQ(Ports(), kLocalPorts);
}

TEST_F(DorvePortCommands, WithoutTheMonitorNothingIsDone)
{
    registry_ = dir_.path() + "/empty.reg";
    ProgramRun r = Run({"add-port", "Office", "127.0.0.156"});
    EXPECT_EQ(r.rc, 1);
    EXPECT_NE(r.out.find("dorve monitors add \"Dorve Port\" DORVEMON.DLL"), std::string::npos) << r.out;
}

}  // namespace
