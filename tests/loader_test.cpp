// The module loader: name mapping, search order, module identity and
// reference counts, DllMain, errors, and the built-in spooler module.
#include <windows.h>
#include <winspool.h>
#include <dorve/loader_host.h>

#include <gtest/gtest.h>

#include <dlfcn.h>
#include <stdlib.h>
#include <string.h>

#include <atomic>
#include <string>
#include <thread>
#include <vector>

namespace {

const std::string kFixDir = DORVE_H4_FIXDIR;
const std::string kDirA = kFixDir + "/a";
const std::string kDirB = kFixDir + "/b";

// Entries come back as FARPROC; the detour through void (*)(void) is the
// cast that states the real type is known.
template <class T> T Entry(HMODULE h, const char *pszName)
{
    return (T)(void (*)(void))GetProcAddress(h, pszName);
}

FARPROC AsFarproc(void (*pfn)(void))
{
    return (FARPROC)pfn;
}
#define FARPROC_OF(f) AsFarproc((void (*)(void))(f))

typedef int (*PFNCOUNT)(void);
typedef HINSTANCE (*PFNINSTANCE)(void);
typedef const char *(*PFNTAG)(void);

class LoaderTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        const char *psz = getenv("DORVE_LIBPATH");
        bHadLibPath = psz != nullptr;
        if (bHadLibPath)
            strLibPath = psz;
        DorveLoaderReset();
    }

    void TearDown() override
    {
        if (bHadLibPath)
            setenv("DORVE_LIBPATH", strLibPath.c_str(), 1);
        else
            unsetenv("DORVE_LIBPATH");
        DorveLoaderReset();
    }

    // Keeps a fixture mapped across its last FreeLibrary, so that its
    // counters can be read after the loader let go of it.
    void *Pin(const std::string &strPath)
    {
        void *p = dlopen(strPath.c_str(), RTLD_NOW | RTLD_LOCAL);
        EXPECT_NE(p, nullptr) << dlerror();
        vPinned.push_back(p);
        return p;
    }

    ~LoaderTest() override
    {
        for (void *p : vPinned)
            dlclose(p);
    }

    static std::string Tag(HMODULE h)
    {
        PFNTAG pfn = Entry<PFNTAG>(h, "FixtureTag");
        return pfn == nullptr ? std::string("?") : std::string(pfn());
    }

    bool bHadLibPath = false;
    std::string strLibPath;
    std::vector<void *> vPinned;
};

TEST_F(LoaderTest, MapsWindowsNamesToHostFiles)
{
    const struct {
        const char *pszName;
        const char *pszFile;
    } aCases[] = {
        {"zuvsnmp.dll", "libzuvsnmp.so"}, {"DORVEMON.DLL", "libdorvemon.so"}, {"ZUVUTIL.dll", "libzuvutil.so"},
        {"fixture", "libfixture.so"},     {"Fixture.Dll", "libfixture.so"},   {"a.b.dll", "liba.b.so"},
        {"odd.drv", "libodd.drv.so"},
    };
    for (const auto &c : aCases) {
        char sz[64];
        EXPECT_EQ(DorveLoaderMapName(c.pszName, sz, sizeof(sz)), strlen(c.pszFile)) << c.pszName;
        EXPECT_STREQ(sz, c.pszFile) << c.pszName;
    }
    char szSmall[8];
    EXPECT_EQ(DorveLoaderMapName("zuvsnmp.dll", szSmall, sizeof(szSmall)), 0u);
}

TEST_F(LoaderTest, SearchOrderLibPathThenSetPath)
{
    unsetenv("DORVE_LIBPATH");
    DorveLoaderSetPath((kDirA + ":" + kDirB).c_str());
    HMODULE h = LoadLibraryA("fixture.dll");
    ASSERT_NE(h, nullptr);
    EXPECT_EQ(Tag(h), "a");
    EXPECT_TRUE(FreeLibrary(h));

    DorveLoaderSetPath(("/nonexistent:" + kDirB + ":" + kDirA).c_str());
    h = LoadLibraryA("FIXTURE.DLL");
    ASSERT_NE(h, nullptr);
    EXPECT_EQ(Tag(h), "b");
    EXPECT_TRUE(FreeLibrary(h));

    // $DORVE_LIBPATH comes before the directories set by the test hook.
    setenv("DORVE_LIBPATH", ("/nonexistent::" + kDirB).c_str(), 1);
    DorveLoaderSetPath(kDirA.c_str());
    h = LoadLibraryA("fixture.dll");
    ASSERT_NE(h, nullptr);
    EXPECT_EQ(Tag(h), "b");
    char szPath[512];
    DWORD cch = GetModuleFileNameA(h, szPath, sizeof(szPath));
    EXPECT_EQ(std::string(szPath, cch), kDirB + "/libfixture.so");
    EXPECT_TRUE(FreeLibrary(h));
}

TEST_F(LoaderTest, PathWithSlashIsUsedAsGiven)
{
    unsetenv("DORVE_LIBPATH");
    DorveLoaderSetPath(kDirA.c_str());
    HMODULE h = LoadLibraryA((kDirB + "/libfixture.so").c_str());
    ASSERT_NE(h, nullptr);
    EXPECT_EQ(Tag(h), "b");
    EXPECT_TRUE(FreeLibrary(h));
    // Not mapped: the file named is the file opened.
    SetLastError(0);
    EXPECT_EQ(LoadLibraryA((kDirB + "/fixture.dll").c_str()), nullptr);
    EXPECT_EQ(GetLastError(), (DWORD)ERROR_MOD_NOT_FOUND);
}

TEST_F(LoaderTest, LayerDirectoryIsSearched)
{
    // The monitor lies next to libdorvewin.so; nothing else names that place.
    unsetenv("DORVE_LIBPATH");
    HMODULE h = LoadLibraryA("DORVEMON.DLL");
    ASSERT_NE(h, nullptr);
    char szPath[512];
    ASSERT_GT(GetModuleFileNameA(h, szPath, sizeof(szPath)), 0u);
    EXPECT_NE(strstr(szPath, "/libdorvemon.so"), nullptr) << szPath;
    EXPECT_NE(GetProcAddress(h, "InitializeMonitorEx"), nullptr);
    EXPECT_TRUE(FreeLibrary(h));
}

TEST_F(LoaderTest, SecondLoadGivesSameModuleAndDllMainRunsOnce)
{
    DorveLoaderSetPath(kDirA.c_str());
    Pin(kDirA + "/libfixture.so");
    HMODULE h1 = LoadLibraryA("fixture.dll");
    ASSERT_NE(h1, nullptr);
    HMODULE h2 = LoadLibraryA("FIXTURE");
    HMODULE h3 = LoadLibraryA((kDirA + "/libfixture.so").c_str());
    EXPECT_EQ(h1, h2);
    EXPECT_EQ(h1, h3);
    EXPECT_EQ(GetModuleHandleA("Fixture.DLL"), h1);

    PFNCOUNT pfnAttach = Entry<PFNCOUNT>(h1, "FixtureAttachCount");
    PFNCOUNT pfnDetach = Entry<PFNCOUNT>(h1, "FixtureDetachCount");
    PFNINSTANCE pfnInst = Entry<PFNINSTANCE>(h1, "FixtureLastInstance");
    ASSERT_TRUE(pfnAttach && pfnDetach && pfnInst);
    int cAttach0 = pfnAttach();   // earlier tests may have attached the pinned copy
    int cDetach0 = pfnDetach();
    EXPECT_EQ(pfnInst(), (HINSTANCE)h1);

    // Three references: the module stays until the third FreeLibrary.
    EXPECT_TRUE(FreeLibrary(h1));
    EXPECT_TRUE(FreeLibrary(h1));
    EXPECT_EQ(GetModuleHandleA("fixture.dll"), h1);
    EXPECT_EQ(pfnDetach(), cDetach0);
    EXPECT_TRUE(FreeLibrary(h1));
    EXPECT_EQ(pfnDetach(), cDetach0 + 1);
    EXPECT_EQ(pfnAttach(), cAttach0);
    SetLastError(0);
    EXPECT_FALSE(FreeLibrary(h1));
    EXPECT_EQ(GetLastError(), (DWORD)ERROR_INVALID_HANDLE);

    // A new load after the last free attaches again.
    HMODULE h4 = LoadLibraryA("fixture.dll");
    ASSERT_NE(h4, nullptr);
    EXPECT_EQ(pfnAttach(), cAttach0 + 1);
    EXPECT_EQ(pfnInst(), (HINSTANCE)h4);
    EXPECT_TRUE(FreeLibrary(h4));
}

TEST_F(LoaderTest, DllMainFalseFailsTheLoad)
{
    DorveLoaderSetPath(kDirA.c_str());
    void *pDl = Pin(kDirA + "/libfailinit.so");
    PFNCOUNT pfnAttach = (PFNCOUNT)dlsym(pDl, "FixtureAttachCount");
    PFNCOUNT pfnDetach = (PFNCOUNT)dlsym(pDl, "FixtureDetachCount");
    ASSERT_TRUE(pfnAttach && pfnDetach);
    for (int i = 1; i <= 2; i++) {
        SetLastError(0);
        EXPECT_EQ(LoadLibraryA("failinit.dll"), nullptr);
        EXPECT_EQ(GetLastError(), (DWORD)ERROR_DLL_INIT_FAILED);
        EXPECT_EQ(pfnAttach(), i);
        EXPECT_EQ(pfnDetach(), i);   // told it goes away, as Windows does
    }
}

TEST_F(LoaderTest, MissingModuleAndExport)
{
    DorveLoaderSetPath(kDirA.c_str());
    SetLastError(0);
    EXPECT_EQ(LoadLibraryA("nosuchmodule.dll"), nullptr);
    EXPECT_EQ(GetLastError(), (DWORD)ERROR_MOD_NOT_FOUND);
    SetLastError(0);
    EXPECT_EQ(LoadLibraryA(""), nullptr);
    EXPECT_NE(GetLastError(), 0u);
    SetLastError(0);
    EXPECT_EQ(GetModuleHandleA("nosuchmodule.dll"), nullptr);
    EXPECT_EQ(GetLastError(), (DWORD)ERROR_MOD_NOT_FOUND);

    HMODULE h = LoadLibraryA("fixture.dll");
    ASSERT_NE(h, nullptr);
    SetLastError(0);
    EXPECT_EQ(GetProcAddress(h, "NoSuchEntry"), nullptr);
    EXPECT_EQ(GetLastError(), (DWORD)ERROR_PROC_NOT_FOUND);
    EXPECT_EQ(GetProcAddress(h, MAKEINTRESOURCEA(1)), nullptr);
    EXPECT_TRUE(FreeLibrary(h));

    // A handle that is no module gives an error, not a crash.
    int iNotAModule = 0;
    SetLastError(0);
    EXPECT_EQ(GetProcAddress((HMODULE)&iNotAModule, "FixtureTag"), nullptr);
    EXPECT_EQ(GetLastError(), (DWORD)ERROR_INVALID_HANDLE);
    EXPECT_FALSE(FreeLibrary((HMODULE)&iNotAModule));
    char sz[16];
    EXPECT_EQ(GetModuleFileNameA((HMODULE)&iNotAModule, sz, sizeof(sz)), 0u);
}

TEST_F(LoaderTest, ExportsAreTheModulesOwn)
{
    // nodllmain depends on a module with DllMain and the fixture entries;
    // neither is nodllmain's own.
    DorveLoaderSetPath(kDirA.c_str());
    HMODULE h = LoadLibraryA("nodllmain.dll");
    ASSERT_NE(h, nullptr);
    EXPECT_NE(GetProcAddress(h, "NoDllMainProbe"), nullptr);
    SetLastError(0);
    EXPECT_EQ(GetProcAddress(h, "FixtureAttachCount"), nullptr);
    EXPECT_EQ(GetLastError(), (DWORD)ERROR_PROC_NOT_FOUND);
    typedef int (*PFNPROBE)(void);
    PFNPROBE pfnProbe = Entry<PFNPROBE>(h, "NoDllMainProbe");
    ASSERT_NE(pfnProbe, nullptr);
    EXPECT_EQ(pfnProbe(), 0);   // the dependency's DllMain was not run for nodllmain
    EXPECT_TRUE(FreeLibrary(h));
}

TEST_F(LoaderTest, SpoolerIsBuiltIn)
{
    HMODULE h = LoadLibraryA("SPOOLSS.DLL");
    ASSERT_NE(h, nullptr);
    EXPECT_EQ(LoadLibraryA("spoolss.dll"), h);
    EXPECT_EQ(GetModuleHandleA("Spoolss.Dll"), h);
    EXPECT_EQ(GetProcAddress(h, "EnumPortsA"), FARPROC_OF(&EnumPortsA));
    SetLastError(0);
    EXPECT_EQ(GetProcAddress(h, "LoadLibraryA"), nullptr);   // the layer, but not the spooler's entry
    EXPECT_EQ(GetLastError(), (DWORD)ERROR_PROC_NOT_FOUND);
    HMODULE hDrv = LoadLibraryA("WINSPOOL.DRV");
    ASSERT_NE(hDrv, nullptr);
    EXPECT_EQ(GetProcAddress(hDrv, "EnumPortsA"), FARPROC_OF(&EnumPortsA));

    DorveLoaderHideExport("spoolss.dll", "EnumPortsA", TRUE);
    SetLastError(0);
    EXPECT_EQ(GetProcAddress(h, "EnumPortsA"), nullptr);
    EXPECT_EQ(GetLastError(), (DWORD)ERROR_PROC_NOT_FOUND);
    EXPECT_NE(GetProcAddress(hDrv, "EnumPortsA"), nullptr);   // only the module named
    DorveLoaderHideExport("SPOOLSS.DLL", "EnumPortsA", FALSE);
    EXPECT_EQ(GetProcAddress(h, "EnumPortsA"), FARPROC_OF(&EnumPortsA));

    EXPECT_TRUE(FreeLibrary(h));
    EXPECT_TRUE(FreeLibrary(h));
    EXPECT_TRUE(FreeLibrary(hDrv));

    DorveLoaderHideBuiltin("spoolss.dll", TRUE);
    SetLastError(0);
    EXPECT_EQ(LoadLibraryA("SPOOLSS.DLL"), nullptr);
    EXPECT_EQ(GetLastError(), (DWORD)ERROR_MOD_NOT_FOUND);
    HMODULE hDrv2 = LoadLibraryA("WINSPOOL.DRV");
    EXPECT_NE(hDrv2, nullptr);
    FreeLibrary(hDrv2);
    DorveLoaderHideBuiltin("SPOOLSS.DLL", FALSE);
    h = LoadLibraryA("SPOOLSS.DLL");
    ASSERT_NE(h, nullptr);
    EXPECT_TRUE(FreeLibrary(h));
}

TEST_F(LoaderTest, ModuleFileNameAndMainProgram)
{
    HMODULE hMain = GetModuleHandleA(nullptr);
    ASSERT_NE(hMain, nullptr);
    EXPECT_EQ(GetModuleHandleA(nullptr), hMain);
    char szPath[1024];
    DWORD cch = GetModuleFileNameA(nullptr, szPath, sizeof(szPath));
    ASSERT_GT(cch, 0u);
    EXPECT_EQ(strlen(szPath), cch);
    EXPECT_NE(strstr(szPath, "loader_test"), nullptr) << szPath;
    EXPECT_EQ(GetModuleFileNameA(hMain, szPath, sizeof(szPath)), cch);

    // Too small a buffer: cut, terminated, the size returned.
    char szSmall[6];
    SetLastError(0);
    EXPECT_EQ(GetModuleFileNameA(nullptr, szSmall, sizeof(szSmall)), (DWORD)sizeof(szSmall));
    EXPECT_EQ(GetLastError(), (DWORD)ERROR_INSUFFICIENT_BUFFER);
    EXPECT_EQ(strlen(szSmall), sizeof(szSmall) - 1);
    EXPECT_EQ(strncmp(szSmall, szPath, sizeof(szSmall) - 1), 0);
}

TEST_F(LoaderTest, ModuleAlreadyInTheProcessHasAHandle)
{
    // A module the process holds by other means (on Windows: linked at
    // start) has a handle without LoadLibrary; its first LoadLibrary keeps
    // that handle and attaches it once.  Such a module stays for good, so
    // a repeated run finds it attached already.
    static bool bFirstRun = true;
    const std::string kDirC = kFixDir + "/c";
    DorveLoaderSetPath(kDirC.c_str());
    void *pDl = Pin(kDirC + "/libpresent.so");
    PFNCOUNT pfnAttach = (PFNCOUNT)dlsym(pDl, "FixtureAttachCount");
    ASSERT_NE(pfnAttach, nullptr);
    int cAttach0 = pfnAttach();
    HMODULE h = GetModuleHandleA("present.dll");
    ASSERT_NE(h, nullptr);
    EXPECT_EQ(Tag(h), "present");
    EXPECT_EQ(pfnAttach(), cAttach0);
    EXPECT_EQ(LoadLibraryA("present.dll"), h);
    EXPECT_EQ(LoadLibraryA("PRESENT"), h);
    EXPECT_EQ(pfnAttach(), cAttach0 + (bFirstRun ? 1 : 0));
    bFirstRun = false;
    EXPECT_TRUE(FreeLibrary(h));
    EXPECT_TRUE(FreeLibrary(h));
    EXPECT_EQ(GetModuleHandleA("present.dll"), h);
}

TEST_F(LoaderTest, ConcurrentLoadsShareOneModule)
{
    DorveLoaderSetPath(kDirA.c_str());
    HMODULE hKeep = LoadLibraryA("fixture.dll");
    ASSERT_NE(hKeep, nullptr);
    std::atomic<int> cFailures{0};
    std::vector<std::thread> vThreads;
    for (int t = 0; t < 4; t++) {
        vThreads.emplace_back([&] {
            for (int i = 0; i < 200; i++) {
                HMODULE h = LoadLibraryA(i % 2 ? "fixture.dll" : "SPOOLSS.DLL");
                if (h == nullptr || (i % 2 && h != hKeep) ||
                    GetProcAddress(h, i % 2 ? "FixtureTag" : "EnumPortsA") == nullptr || !FreeLibrary(h))
                    cFailures++;
            }
        });
    }
    for (auto &th : vThreads)
        th.join();
    EXPECT_EQ(cFailures.load(), 0);
    EXPECT_EQ(GetModuleHandleA((kDirA + "/libfixture.so").c_str()), hKeep);
    EXPECT_TRUE(FreeLibrary(hKeep));
}

} // namespace
