// Discovery when the discovery library cannot be loaded: this program puts
// first on the loader's search path a zuvsnmp.dll whose DllMain refuses to
// load (tests/fixtures/fakesnmp.cpp built with FAKESNMP_UNLOADABLE), so no
// other copy of the library is ever reached from here.
#include <gtest/gtest.h>

#include <stdlib.h>

#include <string>
#include <vector>

#include "auto.h"
#include "dorve/winsock_host.h"
#include "testlib.h"

using namespace dorvetest;

namespace {

class NoLibraryTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        const char *old = getenv("DORVE_LIBPATH");
        std::string path = DORVE_FAKESNMP_DIR;
        if (old != nullptr && *old != '\0' && std::string(old).find(path) != 0)
            path += std::string(":") + old;
        setenv("DORVE_LIBPATH", path.c_str(), 1);
        ResetMonitorState();
        DorveWsaReset();
        ASSERT_TRUE(LoadMonitorModule());
        ASSERT_EQ(LoadLibraryA("zuvsnmp.dll"), nullptr);
    }
    void TearDown() override { ResetMonitorState(); }

    TempRegistry registry_;
    EventRecorder events_;
};

TEST_F(NoLibraryTest, StartUpEnumerationAndRunsWorkAsBefore)
{
    ASSERT_TRUE(RegWriteDword(ZUV_OPTIONS_KEY, "AutoEnable", 1));
    ASSERT_TRUE(RegWriteString(PortKeyPath("P1"), "IPAddress", "127.0.0.61"));
    MONITOR table;
    ASSERT_TRUE(InitializeMonitorEx((LPSTR) "", &table));
    EXPECT_TRUE(gZUVMon.bAutoEnable);
    ASSERT_EQ(gZUVMon.dwPortCount, 1u);
    EXPECT_EQ(events_.count(MSG_INIT_OK), 1u);

    std::vector<BYTE> buf(256);
    DWORD cbNeeded = 0, cReturned = 0;
    EXPECT_TRUE(ZUVEnumPorts(nullptr, 2, buf.data(), (DWORD)buf.size(), &cbNeeded, &cReturned));
    EXPECT_EQ(cReturned, 1u);

    EXPECT_EQ(AutoDiscoverPrinters(), nullptr);
    AutoDiscover(&gZUVMon);
    EXPECT_EQ(gZUVMon.dwPortCount, 1u);
    // Discovery failures are silent.
    EXPECT_EQ(events_.size(), 1u);
}

}  // namespace
