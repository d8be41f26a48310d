// The monitor's own dialogs driven as a person would drive them, through the
// spooler's AddPortA, ConfigurePortA and DeletePortA against the real
// monitor loaded and started by the spooler model, with a registry file of
// the test's own.  Discovery uses the scripted stand-in library.
#include <windows.h>
#include <dorve/dialog_driver.h>
#include <dorve/spooler_host.h>
#include <dorve/user_host.h>
#include <dorve/winsock_host.h>

#include <gtest/gtest.h>

#include <libgen.h>
#include <limits.h>
#include <stdlib.h>
#include <string.h>
#include <unistd.h>

#include <deque>
#include <functional>
#include <string>
#include <vector>

#include "testlib.h"

using namespace dorvetest;

namespace {

const char kMonitor[] = "Dorve Port";
const char kCaption[] = "Dorve Print Monitor";
const char kUnresolvable[] = "bad..address";    // refused by the resolver without a query

// ---- The scripted discovery library ----

struct FakeSnmp {
    void (*Reset)(void) = nullptr;
    void (*AddDevice)(const char *, const char *) = nullptr;
};

std::string FakeSnmpDir()
{
    char exe[PATH_MAX];
    ssize_t n = readlink("/proc/self/exe", exe, sizeof(exe) - 1);
    if (n <= 0)
        return "";
    exe[n] = '\0';
    return std::string(dirname(exe)) + "/../fakesnmp";
}

// The stand-in's directory goes before every other, so that no discovery of
// this program ever reaches a real network library.
bool LoadFake(FakeSnmp *fake)
{
    static bool bPathSet = false;
    if (!bPathSet) {
        const char *old = getenv("DORVE_LIBPATH");
        std::string path = FakeSnmpDir();
        if (old != nullptr && *old != '\0')
            path += std::string(":") + old;
        setenv("DORVE_LIBPATH", path.c_str(), 1);
        bPathSet = true;
    }
    HMODULE h = LoadLibraryA("zuvsnmp.dll");
    if (h == nullptr)
        return false;
    fake->Reset = (void (*)(void))(void (*)(void))GetProcAddress(h, "FakeSnmpReset");
    fake->AddDevice =
        (void (*)(const char *, const char *))(void (*)(void))GetProcAddress(h, "FakeSnmpAddDevice");
    return fake->Reset != nullptr && fake->AddDevice != nullptr;
}

// ---- Reading the dialog back ----

struct Snapshot {
    HWND hDlg = nullptr;
    int nTemplate = -1;
    std::vector<DORVE_DLG_CONTROL> controls;
    int cFonts = 0;
    const DORVE_DLG_CONTROL &Get(int id) const
    {
        for (const auto &c : controls) {
            if ((WORD)c.nId == (WORD)id)
                return c;
        }
        static DORVE_DLG_CONTROL none;
        ADD_FAILURE() << "no control " << id;
        return none;
    }
    std::string Text(int id) const { return Get(id).szText; }
};

void Take(void *ctx, HWND hDlg)
{
    Snapshot *s = (Snapshot *)ctx;
    s->hDlg = hDlg;
    s->nTemplate = DorveDlgTemplateId(hDlg);
    s->controls.clear();
    for (int i = 0; i < DorveDlgControlCount(hDlg); i++) {
        DORVE_DLG_CONTROL c;
        DorveDlgControlAt(hDlg, i, &c);
        s->controls.push_back(c);
    }
    s->cFonts = DorveUserLiveFontCount();
}

// A snapshot taken at this point of the script.
Snapshot *SnapAt(std::deque<Snapshot> &store)
{
    store.emplace_back();
    return &store.back();
}

std::string MonitorString(UINT uId)
{
    char sz[512];
    int n = LoadStringA(ghInstance, uId, sz, sizeof(sz));
    return std::string(sz, (size_t)(n > 0 ? n : 0));
}

std::vector<DORVE_DLG_MSGBOX> Boxes()
{
    std::vector<DORVE_DLG_MSGBOX> v;
    for (int i = 0; i < DorveDlgMessageBoxCount(); i++) {
        DORVE_DLG_MSGBOX b;
        DorveDlgMessageBoxAt(i, &b);
        v.push_back(b);
    }
    return v;
}

INT_PTR LastResult(int nTemplate)
{
    INT_PTR n = -999;
    for (int i = 0; i < DorveDlgRunCount(); i++) {
        DORVE_DLG_RUN r;
        DorveDlgRunAt(i, &r);
        if (r.nTemplate == nTemplate)
            n = r.nResult;
    }
    return n;
}

// Every value name under a key, with its type.
std::vector<std::pair<std::string, DWORD>> Values(const std::string &path)
{
    std::vector<std::pair<std::string, DWORD>> v;
    HKEY hKey;
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, path.c_str(), 0, KEY_ALL_ACCESS, &hKey) != ERROR_SUCCESS)
        return v;
    for (DWORD i = 0;; i++) {
        char name[256];
        DWORD cchName = sizeof(name), dwType = 0;
        if (RegEnumValueA(hKey, i, name, &cchName, nullptr, &dwType, nullptr, nullptr) != ERROR_SUCCESS)
            break;
        v.emplace_back(name, dwType);
    }
    RegCloseKey(hKey);
    return v;
}

// The names of the port keys in the store.
std::vector<std::string> PortKeys()
{
    std::vector<std::string> v;
    HKEY hKey;
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, ZUV_PORTS_KEY, 0, KEY_ALL_ACCESS, &hKey) != ERROR_SUCCESS)
        return v;
    for (DWORD i = 0;; i++) {
        char name[256];
        if (RegEnumKeyA(hKey, i, name, sizeof(name)) != ERROR_SUCCESS)
            break;
        v.push_back(name);
    }
    RegCloseKey(hKey);
    return v;
}

DWORD ReadDword(const std::string &path, const char *name)
{
    DWORD dwType = 0;
    std::vector<unsigned char> bytes;
    if (!RegReadValue(path, name, &dwType, &bytes) || dwType != REG_DWORD || bytes.size() != 4)
        return 0xDEADBEEF;
    DWORD d;
    memcpy(&d, bytes.data(), 4);
    return d;
}

std::string ReadString(const std::string &path, const char *name)
{
    DWORD dwType = 0;
    std::vector<unsigned char> bytes;
    if (!RegReadValue(path, name, &dwType, &bytes) || dwType != REG_SZ)
        return "<missing>";
    std::string s(bytes.begin(), bytes.end());
    while (!s.empty() && s.back() == '\0')
        s.pop_back();
    return s;
}

// The spooler's level-1 port names.
std::vector<std::string> SpoolerPorts()
{
    DWORD cbNeeded = 0, cReturned = 0;
    EnumPortsA(nullptr, 1, nullptr, 0, &cbNeeded, &cReturned);
    std::vector<BYTE> buf(cbNeeded + 1);
    std::vector<std::string> v;
    if (!EnumPortsA(nullptr, 1, buf.data(), cbNeeded, &cbNeeded, &cReturned))
        return v;
    PORT_INFO_1A *p = (PORT_INFO_1A *)buf.data();
    for (DWORD i = 0; i < cReturned; i++)
        v.push_back(p[i].pName);
    return v;
}

bool Has(const std::vector<std::string> &v, const std::string &s)
{
    for (const auto &x : v) {
        if (x == s)
            return true;
    }
    return false;
}

class MonitorDialogs : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(LoadFake(&fake_)) << "the scripted zuvsnmp library was not found in " << FakeSnmpDir();
        fake_.Reset();
        DorveSpoolerReset();
        DorveWsaReset();
        ResetMonitorState();
        DorveDlgReset();
        DorveUserReset();
        DorveWsaAddHost("printer.example", "127.0.0.90");
    }
    void TearDown() override
    {
        EXPECT_EQ(DorveDlgActive(), nullptr);
        DorveDlgReset();
        DorveUserReset();
        DorveSpoolerReset();
        ResetMonitorState();
        DorveWsaReset();
        if (fake_.Reset != nullptr)
            fake_.Reset();
    }

    // Registers and starts the monitor as the spooler does.
    void Start()
    {
        ASSERT_TRUE(DorveSpoolerRegisterMonitor(kMonitor, "DORVEMON.DLL"));
        ASSERT_EQ(DorveSpoolerStart(), 0) << DorveSpoolerLastError();
        ASSERT_NE(ghInstance, nullptr);
    }
    void StoredPort(const std::string &name, const std::string &address)
    {
        ASSERT_TRUE(RegWriteString(PortKeyPath(name), "IPAddress", address));
    }

    BOOL RunAddPort() { return AddPortA(nullptr, nullptr, (LPSTR)kMonitor); }
    BOOL Configure(const char *port) { return ConfigurePortA(nullptr, nullptr, (LPSTR)port); }

    LPZUVPort Port(const char *name) { return FindZUVPortInList(&gZUVMon, name); }

    FakeSnmp fake_;
    TempRegistry registry_;
    EventRecorder events_;
    std::deque<Snapshot> snaps_;      // stable addresses for the script's calls
};

const std::string kOptions = ZUV_OPTIONS_KEY;

// ====================================================================
// Add Port

TEST_F(MonitorDialogs, TheAddressFollowsTheNameUntilTheAddressFieldIsEntered)
{
    Start();
    DorveDlgScriptType("Off");
    DorveDlgScriptCall(Take, SnapAt(snaps_));
    DorveDlgScriptClick(102);               // the address is the user's from now on
    DorveDlgScriptClick(101);
    DorveDlgScriptType("ice");
    DorveDlgScriptCall(Take, SnapAt(snaps_));
    DorveDlgScriptSelect(102, 0, -1);
    DorveDlgScriptType("printer.example");
    DorveDlgScriptClick(IDOK);
    ASSERT_TRUE(RunAddPort());

    EXPECT_EQ(snaps_[0].Text(101), "Off");
    EXPECT_EQ(snaps_[0].Text(102), "Off");
    EXPECT_EQ(snaps_[1].Text(101), "Office");
    EXPECT_EQ(snaps_[1].Text(102), "Off");
    EXPECT_EQ(LastResult(100), IDOK);

    // Character by character: the address changed with each of the first
    // three keystrokes, and with none of the last three.
    std::vector<std::string> addressChanges;
    for (int i = 0; i < DorveDlgMessageCount(); i++) {
        DORVE_DLG_MESSAGE m;
        DorveDlgMessageAt(i, &m);
        if (m.uMsg == WM_COMMAND && LOWORD(m.wParam) == 102 && HIWORD(m.wParam) == EN_CHANGE)
            addressChanges.push_back("x");
    }
    EXPECT_EQ(addressChanges.size(), 3u + 15u);     // O, Of, Off; then the address typed

    // AddPort wrote the address and nothing else.
    std::vector<std::pair<std::string, DWORD>> want = {{"IPAddress", REG_SZ}};
    EXPECT_EQ(Values(PortKeyPath("Office")), want);
    EXPECT_EQ(ReadString(PortKeyPath("Office"), "IPAddress"), "printer.example");
    ASSERT_NE(Port("Office"), nullptr);
    EXPECT_STREQ(Port("Office")->szIPAddress, "printer.example");
    EXPECT_EQ(Port("Office")->dwSendTimeout, (DWORD)ZUV_DEF_SENDTIMEOUT);
    EXPECT_TRUE(Has(SpoolerPorts(), "Office"));
    EXPECT_EQ(DorveDlgMessageBoxCount(), 0);
}

TEST_F(MonitorDialogs, OkWithNothingEnteredStoresTheModeAndAddsNothing)
{
    Start();
    DorveDlgScriptClick(IDOK);
    EXPECT_TRUE(RunAddPort());
    EXPECT_EQ(LastResult(100), IDCANCEL);
    EXPECT_EQ(ReadDword(kOptions, "AutoEnable"), 0u);
    EXPECT_EQ(gZUVMon.dwPortCount, 0u);
    EXPECT_TRUE(PortKeys().empty());
    EXPECT_EQ(events_.count(MSG_ADDPORT_FAILED), 0u);
}

TEST_F(MonitorDialogs, OpenedInAutoModeTheFieldsAreOffAndOkEndsWithCancel)
{
    ASSERT_TRUE(RegWriteDword(kOptions, "AutoEnable", 1));
    Start();
    int cFontsBefore = DorveUserLiveFontCount();
    DorveDlgScriptCall(Take, SnapAt(snaps_));
    DorveDlgScriptClick(101);               // disabled: nothing happens
    DorveDlgScriptType("Ignored");
    DorveDlgScriptClick(IDOK);
    EXPECT_TRUE(RunAddPort());
    const Snapshot &s = snaps_[0];
    EXPECT_EQ(s.Get(216).uCheck, (UINT)BST_CHECKED);
    EXPECT_EQ(s.Get(215).uCheck, (UINT)BST_UNCHECKED);
    EXPECT_FALSE(s.Get(101).bEnabled);
    EXPECT_FALSE(s.Get(102).bEnabled);
    EXPECT_TRUE(s.Get(6).bEnabled);
    EXPECT_TRUE(s.Get(IDOK).bEnabled);
    EXPECT_EQ(s.Get(101).uLimit, 128u);
    EXPECT_EQ(s.Get(102).uLimit, 128u);
    EXPECT_NE(s.Get(213).hFont, nullptr);
    EXPECT_EQ(s.cFonts, cFontsBefore + 1);
    EXPECT_EQ(DorveUserLiveFontCount(), cFontsBefore);     // deleted at close
    EXPECT_EQ(LastResult(100), IDCANCEL);
    EXPECT_EQ(ReadDword(kOptions, "AutoEnable"), 1u);
    EXPECT_FALSE(RegKeyExists(PortKeyPath("Ignored")));
    EXPECT_GE(DorveDlgForegroundCount(), 1);
}

TEST_F(MonitorDialogs, SwitchingModesFollowsTheRadioButtonsButOnlyOkStoresIt)
{
    Start();
    DorveDlgScriptClick(216);
    DorveDlgScriptCall(Take, SnapAt(snaps_));
    DorveDlgScriptClick(215);
    DorveDlgScriptCall(Take, SnapAt(snaps_));
    DorveDlgScriptClick(216);
    DorveDlgScriptClick(IDCANCEL);
    EXPECT_TRUE(RunAddPort());
    EXPECT_EQ(snaps_[0].Get(215).uCheck, (UINT)BST_UNCHECKED);
    EXPECT_FALSE(snaps_[0].Get(101).bEnabled);
    EXPECT_TRUE(snaps_[0].Get(6).bEnabled);
    EXPECT_EQ(snaps_[1].Get(216).uCheck, (UINT)BST_UNCHECKED);
    EXPECT_TRUE(snaps_[1].Get(102).bEnabled);
    EXPECT_FALSE(snaps_[1].Get(6).bEnabled);
    EXPECT_EQ(ReadDword(kOptions, "AutoEnable"), 0xDEADBEEF) << "Cancel stores nothing";
    EXPECT_FALSE(gZUVMon.bAutoEnable);

    // Auto mode and OK: stored, and the dialog still ends with 2.
    DorveDlgReset();
    DorveDlgScriptClick(216);
    DorveDlgScriptClick(IDOK);
    EXPECT_TRUE(RunAddPort());
    EXPECT_EQ(LastResult(100), IDCANCEL);
    EXPECT_EQ(ReadDword(kOptions, "AutoEnable"), 1u);
    EXPECT_TRUE(gZUVMon.bAutoEnable);
}

TEST_F(MonitorDialogs, TheSearchButtonRunsADiscoveryWithoutStoringTheMode)
{
    Start();
    fake_.AddDevice("127.0.0.91", "Found");
    DorveDlgScriptClick(216);
    DorveDlgScriptClick(6);
    EXPECT_TRUE(RunAddPort());
    EXPECT_EQ(LastResult(100), 6);
    ASSERT_NE(Port("Found"), nullptr);
    EXPECT_STREQ(Port("Found")->szIPAddress, "127.0.0.91");
    EXPECT_EQ(ReadDword(kOptions, "AutoEnable"), 0xDEADBEEF);
    EXPECT_FALSE(gZUVMon.bAutoEnable);
}

TEST_F(MonitorDialogs, ANameThatAnySpoolerPortHasIsRefusedInAnyLetterCase)
{
    StoredPort("Office", "127.0.0.92");
    Start();
    for (const char *name : {"OFFICE", "office", "lpt1:", "File:"}) {
        SCOPED_TRACE(name);
        DorveDlgReset();
        snaps_.clear();
        DorveDlgScriptType(name);
        DorveDlgScriptClick(IDOK);
        DorveDlgScriptCall(Take, SnapAt(snaps_));
        DorveDlgScriptKey(DORVE_KEY_ESCAPE);
        EXPECT_TRUE(RunAddPort());

        std::vector<DORVE_DLG_MSGBOX> boxes = Boxes();
        ASSERT_EQ(boxes.size(), 1u);
        EXPECT_EQ(std::string(boxes[0].szText), MonitorString(524));
        EXPECT_STREQ(boxes[0].szCaption, kCaption);
        EXPECT_EQ(boxes[0].uType, (UINT)(MB_OK | MB_ICONEXCLAMATION));
        EXPECT_EQ(boxes[0].nOwnerTemplate, 100);
        // The dialog stayed open with the whole name selected and focused.
        ASSERT_EQ(snaps_[0].nTemplate, 100);
        const DORVE_DLG_CONTROL &c = snaps_[0].Get(101);
        EXPECT_TRUE(c.bFocused);
        EXPECT_EQ(c.dwSelStart, 0u);
        EXPECT_EQ(c.dwSelEnd, (DWORD)strlen(name));
        EXPECT_EQ(LastResult(100), IDCANCEL);
    }
    EXPECT_EQ(gZUVMon.dwPortCount, 1u);
    EXPECT_EQ(MonitorString(524), u8"は既に存在します");
}

TEST_F(MonitorDialogs, AnUnresolvableAddressIsTheUsersChoice)
{
    Start();
    const std::string question = std::string("The port address \"") + kUnresolvable +
                                 "\" could not be resolved on this computer. Accept it anyway?";
    struct Case {
        std::vector<int> answers;
        INT_PTR result;
        bool bAdded;
    } aCases[] = {
        {{IDYES}, IDOK, true},
        {{IDNO, IDYES}, IDOK, true},
        {{IDCANCEL}, IDCANCEL, false},
    };
    int n = 0;
    for (const Case &c : aCases) {
        std::string name = "Lab" + std::to_string(n++);
        SCOPED_TRACE(name);
        DorveDlgReset();
        snaps_.clear();
        DorveDlgScriptType(name.c_str());
        DorveDlgScriptSelect(102, 0, -1);
        DorveDlgScriptType(kUnresolvable);
        for (int answer : c.answers) {
            DorveDlgScriptClick(102);       // the caret goes to the end
            DorveDlgScriptClick(IDOK);
            DorveDlgScriptAnswer(answer);
            DorveDlgScriptCall(Take, SnapAt(snaps_));
        }
        EXPECT_TRUE(RunAddPort());
        EXPECT_EQ(LastResult(100), c.result);
        std::vector<DORVE_DLG_MSGBOX> boxes = Boxes();
        ASSERT_EQ(boxes.size(), c.answers.size());
        for (const auto &b : boxes) {
            EXPECT_EQ(std::string(b.szText), question);
            EXPECT_STREQ(b.szCaption, kCaption);
            EXPECT_EQ(b.uType, (UINT)(MB_YESNOCANCEL | MB_ICONQUESTION));
        }
        if (c.answers.size() == 2) {
            // After No, the dialog kept the address, selected and focused.
            ASSERT_EQ(snaps_[0].nTemplate, 100);
            const DORVE_DLG_CONTROL &addr = snaps_[0].Get(102);
            EXPECT_TRUE(addr.bFocused);
            EXPECT_EQ(addr.dwSelStart, 0u);
            EXPECT_EQ(addr.dwSelEnd, (DWORD)strlen(kUnresolvable));
        }
        EXPECT_EQ(Port(name.c_str()) != nullptr, c.bAdded);
        EXPECT_EQ(RegKeyExists(PortKeyPath(name)), c.bAdded);
        if (c.bAdded) {
            EXPECT_EQ(ReadString(PortKeyPath(name), "IPAddress"), kUnresolvable);
        }
    }
    EXPECT_EQ(DorveDlgUnusedAnswers(), 0);
}

TEST_F(MonitorDialogs, ADottedAddressIsAcceptedWithoutAQuestion)
{
    Start();
    DorveDlgScriptType("Dotted");
    DorveDlgScriptClick(102);
    DorveDlgScriptSelect(102, 0, -1);
    DorveDlgScriptType("127.0.0.93");
    DorveDlgScriptKey(DORVE_KEY_ENTER);
    EXPECT_TRUE(RunAddPort());
    EXPECT_EQ(DorveDlgMessageBoxCount(), 0);
    EXPECT_EQ(ReadString(PortKeyPath("Dotted"), "IPAddress"), "127.0.0.93");
}

TEST_F(MonitorDialogs, AFullLengthNameIsCutTo127Characters)
{
    Start();
    const std::string name128(128, 'N');
    DorveDlgScriptType((name128 + "X").c_str());    // the 129th keystroke is refused
    DorveDlgScriptCall(Take, SnapAt(snaps_));
    DorveDlgScriptSelect(102, 0, -1);
    DorveDlgScriptType("127.0.0.94");
    DorveDlgScriptClick(IDOK);
    EXPECT_TRUE(RunAddPort());
    EXPECT_EQ(snaps_[0].Text(101), name128);
    EXPECT_EQ(snaps_[0].Text(102), name128.substr(0, 127));
    const std::string name127 = name128.substr(0, 127);
    ASSERT_NE(Port(name127.c_str()), nullptr);
    EXPECT_EQ(strlen(Port(name127.c_str())->szPortName), 127u);
    EXPECT_EQ(ReadString(PortKeyPath(name127), "IPAddress"), "127.0.0.94");
}

TEST_F(MonitorDialogs, TheHelpLineDescribesWhatThePointerRestsOn)
{
    Start();
    auto blank = [](void *, HWND hDlg) { SetDlgItemTextA(hDlg, 213, ""); };
    struct Hover {
        int id;         // 0: the dialog itself
        UINT uString;
    } aHovers[] = {
        {101, 505}, {102, 506}, {IDOK, 502}, {IDCANCEL, 503}, {9, 500}, {4, 501},
        {215, 516}, {216, 517}, {0, 504},
        {6, 504},       // the search button is disabled in manual mode
        {213, 504},     // the help line is a label: the dialog's own text
    };
    for (const Hover &h : aHovers) {
        if (h.id == 0)
            DorveDlgScriptHoverDialog();
        else
            DorveDlgScriptHover(h.id);
        DorveDlgScriptCall(Take, SnapAt(snaps_));
    }
    // Resting on one control loads its text once: a blanked line stays
    // blank until the pointer moves on, and comes back with the return.
    DorveDlgScriptHover(101);
    DorveDlgScriptCall(blank, nullptr);
    DorveDlgScriptHover(101);
    DorveDlgScriptCall(Take, SnapAt(snaps_));
    DorveDlgScriptHover(102);
    DorveDlgScriptHover(101);
    DorveDlgScriptCall(Take, SnapAt(snaps_));
    DorveDlgScriptClick(IDCANCEL);
    EXPECT_TRUE(RunAddPort());

    size_t i = 0;
    for (const Hover &h : aHovers) {
        EXPECT_EQ(snaps_[i].Text(213), MonitorString(h.uString)) << "hover " << h.id;
        i++;
    }
    EXPECT_EQ(snaps_[i].Text(213), "");
    EXPECT_EQ(snaps_[i + 1].Text(213), MonitorString(505));
}

TEST_F(MonitorDialogs, HelpAskedForAndClosedWithTheDialog)
{
    Start();
    DorveDlgScriptClick(9);
    DorveDlgScriptCall([](void *, HWND) {
        EXPECT_EQ(DorveWinHelpCount(), 1);
        EXPECT_STREQ(DorveLastWinHelpFile(), "DORVEMON.HLP");
        EXPECT_EQ(DorveLastWinHelpCommand(), (UINT)HELP_CONTEXT);
        EXPECT_EQ(DorveLastWinHelpData(), 0u);
    }, nullptr);
    DorveDlgScriptClick(IDCANCEL);
    EXPECT_TRUE(RunAddPort());
    EXPECT_EQ(DorveWinHelpCount(), 2);
    EXPECT_EQ(DorveLastWinHelpCommand(), (UINT)HELP_QUIT);
}

TEST_F(MonitorDialogs, TheAboutBoxLeavesTheAddPortDialogAsItWas)
{
    Start();
    DorveDlgScriptType("Kept");
    DorveDlgScriptCall(Take, SnapAt(snaps_));
    DorveDlgScriptClick(4);
    DorveDlgScriptKey(DORVE_KEY_ESCAPE);    // only OK closes the box
    DorveDlgScriptClose();
    DorveDlgScriptCall(Take, SnapAt(snaps_));
    DorveDlgScriptKey(DORVE_KEY_ENTER);
    DorveDlgScriptCall(Take, SnapAt(snaps_));
    DorveDlgScriptClick(IDCANCEL);
    EXPECT_TRUE(RunAddPort());
    EXPECT_EQ(snaps_[1].nTemplate, 300);
    EXPECT_EQ(snaps_[2].nTemplate, 100);
    EXPECT_EQ(snaps_[2].Text(101), "Kept");
    EXPECT_EQ(snaps_[2].Text(102), "Kept");
    EXPECT_EQ(LastResult(300), IDOK);
    EXPECT_EQ(LastResult(100), IDCANCEL);
    EXPECT_FALSE(RegKeyExists(PortKeyPath("Kept")));
}

TEST_F(MonitorDialogs, AboutClosesOnlyWithOkOrEnter)
{
    ASSERT_TRUE(LoadMonitorModule());
    struct Case {
        std::function<void()> close;
        INT_PTR result;
        bool bRanOut;
    } aCases[] = {
        {[] { DorveDlgScriptClick(IDOK); }, IDOK, false},
        {[] { DorveDlgScriptKey(DORVE_KEY_ENTER); }, IDOK, false},
        {[] { DorveDlgScriptKey(DORVE_KEY_ESCAPE); }, IDCANCEL, true},
        {[] { DorveDlgScriptClose(); }, IDCANCEL, true},
    };
    for (const Case &c : aCases) {
        DorveDlgReset();
        c.close();
        EXPECT_EQ(DialogBoxParamA(ghInstance, MAKEINTRESOURCEA(IDD_ABOUT), nullptr, AboutDlgProc, 0), c.result);
        DORVE_DLG_RUN run;
        ASSERT_TRUE(DorveDlgRunAt(0, &run));
        EXPECT_EQ(run.bScriptRanOut != FALSE, c.bRanOut);
        EXPECT_EQ(DorveDlgForegroundCount(), 1);
    }
}

// ====================================================================
// Configure Port

class ConfigureDialog : public MonitorDialogs {
protected:
    void SetUp() override
    {
        MonitorDialogs::SetUp();
        StoredPort("Office", "127.0.0.95");
        Start();
        ASSERT_NE(Port("Office"), nullptr);
    }
    std::string Key() const { return PortKeyPath("Office"); }
};

TEST_F(ConfigureDialog, OpensWithThePortsSettings)
{
    Port("Office")->bTrapNotification = TRUE;
    DorveDlgScriptCall(Take, SnapAt(snaps_));
    DorveDlgScriptClick(IDCANCEL);
    EXPECT_TRUE(Configure("Office"));
    const Snapshot &s = snaps_[0];
    EXPECT_EQ(s.Text(203), "5");
    EXPECT_EQ(s.Text(205), "10");
    EXPECT_EQ(s.Text(207), "60");
    EXPECT_EQ(s.Get(212).uCheck, (UINT)BST_UNCHECKED);
    EXPECT_EQ(s.Get(214).uCheck, (UINT)BST_CHECKED);
    for (int id : {203, 205, 207})
        EXPECT_EQ(s.Get(id).uLimit, 3u) << id;
    EXPECT_NE(s.Get(213).hFont, nullptr);
    EXPECT_EQ(DorveDlgMessageBoxCount(), 0);
}

TEST_F(ConfigureDialog, SevenZeroZeroGivesTheMinutesMessageAndSeventyBack)
{
    DorveDlgScriptSelect(207, 0, -1);
    DorveDlgScriptType("7");
    DorveDlgScriptType("0");
    DorveDlgScriptCall(Take, SnapAt(snaps_));
    DorveDlgScriptType("0");
    DorveDlgScriptCall(Take, SnapAt(snaps_));
    DorveDlgScriptClick(IDOK);
    EXPECT_TRUE(Configure("Office"));
    EXPECT_EQ(snaps_[0].Text(207), "70");
    EXPECT_EQ(snaps_[1].Text(207), "70");
    std::vector<DORVE_DLG_MSGBOX> boxes = Boxes();
    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_STREQ(boxes[0].szText, "This value must be between 1 and 600 minutes");
    EXPECT_STREQ(boxes[0].szCaption, kCaption);
    EXPECT_EQ(boxes[0].uType, (UINT)(MB_OK | MB_ICONEXCLAMATION));
    EXPECT_EQ(Port("Office")->dwSendTimeout, 70u);
    EXPECT_EQ(ReadDword(Key(), "SendTimeout"), 70u);
}

TEST_F(ConfigureDialog, AFieldNeverKeepsAValueOutOfRange)
{
    struct Case {
        int field;
        std::function<void()> edit;
        const char *message;
        const char *after;
    } aCases[] = {
        // Deleting the last digit: the message at once, the value back.
        {203, [] { DorveDlgScriptClick(203); DorveDlgScriptKey(DORVE_KEY_BACK); },
         "This value must be between 1 and 600 seconds", "5"},
        {205, [] { DorveDlgScriptSelect(205, 0, -1); DorveDlgScriptType("0"); },
         "This value must be between 1 and 600 seconds", "10"},
        {205, [] { DorveDlgScriptSelect(205, 0, -1); DorveDlgScriptType("x"); },
         "This value must be between 1 and 600 seconds", "10"},
        {207, [] { DorveDlgScriptClick(207); DorveDlgScriptType("1"); },
         "This value must be between 1 and 600 minutes", "60"},
    };
    for (const Case &c : aCases) {
        SCOPED_TRACE(c.field);
        DorveDlgReset();
        snaps_.clear();
        c.edit();
        DorveDlgScriptCall(Take, SnapAt(snaps_));
        DorveDlgScriptClick(IDOK);
        EXPECT_TRUE(Configure("Office"));
        std::vector<DORVE_DLG_MSGBOX> boxes = Boxes();
        ASSERT_EQ(boxes.size(), 1u);
        EXPECT_STREQ(boxes[0].szText, c.message);
        EXPECT_EQ(snaps_[0].Text(c.field), c.after);
        EXPECT_TRUE(snaps_[0].Get(c.field).bFocused) << "the focus stays in the field";
    }
    EXPECT_EQ(Port("Office")->dwStsInterval, 5u);
    EXPECT_EQ(Port("Office")->dwStsTimeout, 10u);
    EXPECT_EQ(Port("Office")->dwSendTimeout, 60u);
}

TEST_F(ConfigureDialog, AFourthDigitCannotBeTyped)
{
    DorveDlgScriptClick(205);
    DorveDlgScriptType("00");
    DorveDlgScriptCall(Take, SnapAt(snaps_));
    DorveDlgScriptKey(DORVE_KEY_ENTER);
    EXPECT_TRUE(Configure("Office"));
    EXPECT_EQ(snaps_[0].Text(205), "100");
    EXPECT_EQ(DorveDlgMessageBoxCount(), 0);
    EXPECT_EQ(Port("Office")->dwStsTimeout, 100u);
}

TEST_F(ConfigureDialog, TheSpinsStepByOneAndWrapRound)
{
    DorveDlgScriptSpin(204, SB_LINEUP);
    DorveDlgScriptCall(Take, SnapAt(snaps_));           // 6
    DorveDlgScriptSelect(203, 0, -1);
    DorveDlgScriptType("600");
    DorveDlgScriptSpin(204, SB_LINEUP);
    DorveDlgScriptCall(Take, SnapAt(snaps_));           // 1
    DorveDlgScriptSpin(204, SB_LINEDOWN);
    DorveDlgScriptCall(Take, SnapAt(snaps_));           // 600
    DorveDlgScriptSelect(207, 0, -1);
    DorveDlgScriptType("1");
    DorveDlgScriptSpin(208, SB_LINEDOWN);
    DorveDlgScriptSpin(206, SB_LINEDOWN);
    DorveDlgScriptCall(Take, SnapAt(snaps_));
    DorveDlgScriptClick(IDOK);
    EXPECT_TRUE(Configure("Office"));
    EXPECT_EQ(snaps_[0].Text(203), "6");
    EXPECT_EQ(snaps_[1].Text(203), "1");
    EXPECT_EQ(snaps_[2].Text(203), "600");
    EXPECT_EQ(snaps_[3].Text(207), "600");
    EXPECT_EQ(snaps_[3].Text(205), "9");
    EXPECT_EQ(DorveDlgMessageBoxCount(), 0);
    EXPECT_EQ(Port("Office")->dwStsInterval, 600u);
    EXPECT_EQ(Port("Office")->dwStsTimeout, 9u);
    EXPECT_EQ(Port("Office")->dwSendTimeout, 600u);
}

TEST_F(ConfigureDialog, OkStoresTheFiveSettingsAndWritesAllNineValues)
{
    LPZUVPort p = Port("Office");
    p->dwConnType = 3;
    p->bDefWarnings = FALSE;
    DorveDlgScriptSelect(203, 0, -1);
    DorveDlgScriptType("30");
    DorveDlgScriptSelect(205, 0, -1);
    DorveDlgScriptType("20");
    DorveDlgScriptSelect(207, 0, -1);
    DorveDlgScriptType("15");
    DorveDlgScriptClick(212);
    DorveDlgScriptClick(214);
    DorveDlgScriptClick(IDOK);
    EXPECT_TRUE(Configure("Office"));
    EXPECT_EQ(LastResult(200), IDOK);
    EXPECT_EQ(p->dwStsInterval, 30u);
    EXPECT_EQ(p->dwStsTimeout, 20u);
    EXPECT_EQ(p->dwSendTimeout, 15u);
    EXPECT_TRUE(p->bAudibleAlert);
    EXPECT_TRUE(p->bTrapNotification);
    EXPECT_EQ(p->dwConnType, 3u);
    EXPECT_FALSE(p->bDefWarnings);
    EXPECT_STREQ(p->szIPAddress, "127.0.0.95");

    const struct {
        const char *name;
        DWORD value;
    } aWant[] = {
        {"StsInterval", 30}, {"ConnType", 3}, {"StsTimeout", 20}, {"SendTimeout", 15}, {"DefErrors", 1},
        {"DefWarnings", 0}, {"DefInfos", 1}, {"AudibleAlert", 1}, {"TrapNotification", 1},
    };
    for (const auto &w : aWant)
        EXPECT_EQ(ReadDword(Key(), w.name), w.value) << w.name;
    std::vector<std::pair<std::string, DWORD>> values = Values(Key());
    EXPECT_EQ(values.size(), 10u);
    for (const auto &v : values)
        EXPECT_EQ(v.second, v.first == "IPAddress" ? (DWORD)REG_SZ : (DWORD)REG_DWORD) << v.first;
    EXPECT_EQ(ReadString(Key(), "IPAddress"), "127.0.0.95");
}

TEST_F(ConfigureDialog, CancelEscAndTheCloseBoxChangeNothing)
{
    const std::string before = registry_.contents();
    std::vector<std::function<void()>> closers = {
        [] { DorveDlgScriptClick(IDCANCEL); },
        [] { DorveDlgScriptKey(DORVE_KEY_ESCAPE); },
        [] { DorveDlgScriptClose(); },
    };
    for (const auto &close : closers) {
        DorveDlgReset();
        DorveDlgScriptSelect(203, 0, -1);
        DorveDlgScriptType("99");
        DorveDlgScriptClick(212);
        close();
        EXPECT_TRUE(Configure("Office"));
        EXPECT_EQ(LastResult(200), IDCANCEL);
        DORVE_DLG_RUN run;
        ASSERT_TRUE(DorveDlgRunAt(0, &run));
        EXPECT_FALSE(run.bScriptRanOut);
    }
    EXPECT_EQ(Port("Office")->dwStsInterval, 5u);
    EXPECT_FALSE(Port("Office")->bAudibleAlert);
    EXPECT_EQ(registry_.contents(), before);
    EXPECT_EQ(events_.count(MSG_CONFIG_FAILED), 0u);
}

TEST_F(ConfigureDialog, TheHelpLineNamesEachSetting)
{
    struct Hover {
        int id;
        UINT uString;
    } aHovers[] = {
        {203, 508}, {204, 508}, {205, 509}, {206, 509}, {207, 510}, {208, 510}, {212, 514}, {214, 515},
        {IDOK, 502}, {IDCANCEL, 503}, {9, 500}, {4, 501}, {0, 507},
    };
    for (const Hover &h : aHovers) {
        if (h.id == 0)
            DorveDlgScriptHoverDialog();
        else
            DorveDlgScriptHover(h.id);
        DorveDlgScriptCall(Take, SnapAt(snaps_));
    }
    DorveDlgScriptClick(9);
    DorveDlgScriptCall([](void *, HWND) { EXPECT_EQ(DorveLastWinHelpData(), 1u); }, nullptr);
    DorveDlgScriptClick(IDCANCEL);
    int cFonts = DorveUserLiveFontCount();
    EXPECT_TRUE(Configure("Office"));
    for (size_t i = 0; i < sizeof(aHovers) / sizeof(aHovers[0]); i++)
        EXPECT_EQ(snaps_[i].Text(213), MonitorString(aHovers[i].uString)) << aHovers[i].id;
    EXPECT_EQ(DorveUserLiveFontCount(), cFonts);
    EXPECT_EQ(DorveLastWinHelpCommand(), (UINT)HELP_QUIT);
}

TEST_F(ConfigureDialog, AStoredValueOutOfRangeIsShownAndReplacedWithoutEndlessAsking)
{
    Port("Office")->dwStsInterval = 900;        // as an outside edit of the registry leaves it
    DorveDlgScriptCall(Take, SnapAt(snaps_));
    DorveDlgScriptSelect(203, 0, -1);
    DorveDlgScriptType("0");                    // refused: the stored value comes back
    DorveDlgScriptCall(Take, SnapAt(snaps_));
    DorveDlgScriptSelect(203, 0, -1);
    DorveDlgScriptType("45");
    DorveDlgScriptClick(IDOK);
    EXPECT_TRUE(Configure("Office"));
    EXPECT_EQ(snaps_[0].Text(203), "900");
    EXPECT_EQ(snaps_[1].Text(203), "900");
    EXPECT_EQ(DorveDlgMessageBoxCount(), 1);
    EXPECT_EQ(Port("Office")->dwStsInterval, 45u);
}

TEST_F(ConfigureDialog, AnUnknownPortGetsNoDialog)
{
    EXPECT_FALSE(Configure("Nowhere"));
    EXPECT_EQ(DorveDlgRunCount(), 0);
    // The spooler refuses a port that no monitor has; the monitor's own
    // entry reports it.
    EXPECT_FALSE(ZUVConfigurePort(nullptr, nullptr, (LPSTR) "Nowhere"));
    EXPECT_EQ(DorveDlgRunCount(), 0);
    EXPECT_EQ(events_.count(MSG_CONFIG_NOPORT), 1u);
}

// ====================================================================
// Delete Port

TEST_F(MonitorDialogs, DeletePortRemovesTheKeyAndTheRecordAndAMissingKeyFails)
{
    StoredPort("Office", "127.0.0.96");
    StoredPort("Lab", "127.0.0.97");
    Start();
    ASSERT_TRUE(Has(SpoolerPorts(), "Office"));
    EXPECT_TRUE(DeletePortA(nullptr, nullptr, (LPSTR) "Office"));
    EXPECT_FALSE(RegKeyExists(PortKeyPath("Office")));
    EXPECT_EQ(Port("Office"), nullptr);
    EXPECT_FALSE(Has(SpoolerPorts(), "Office"));
    EXPECT_TRUE(Has(SpoolerPorts(), "Lab"));

    // The record is still listed but its key has gone.
    ASSERT_TRUE(RegDeleteKeyA(HKEY_LOCAL_MACHINE, PortKeyPath("Lab").c_str()) == ERROR_SUCCESS);
    EXPECT_FALSE(DeletePortA(nullptr, nullptr, (LPSTR) "Lab"));
    EXPECT_EQ(events_.count(MSG_DELETEPORT_FAILED), 1u);
    EXPECT_EQ(events_.last(MSG_DELETEPORT_FAILED).strings, std::vector<std::string>{"Lab"});
}

}  // namespace
