// The dialog engine of the host layer: templates of both kinds parsed into
// controls, the scripted person at the keyboard and mouse, the order of the
// notifications the dialog procedure receives, and the dialog calls.
#include <windows.h>
#include <dorve/dialog_driver.h>
#include <dorve/user_host.h>

#include <gtest/gtest.h>

#include <string.h>

#include <functional>
#include <string>
#include <vector>

#include "testlib.h"

namespace {

// ---- Building templates ----

class TemplateBuilder {
public:
    explicit TemplateBuilder(bool bExtended) : bExtended_(bExtended) {}

    void Frame(DWORD dwStyle, short x, short y, short cx, short cy, const char16_t *caption,
               WORD wPoint, const char16_t *face)
    {
        if (bExtended_) {
            Word(1);
            Word(0xFFFF);
            Dword(0);               // help id
            Dword(0);               // extended style
            Dword(dwStyle);
        } else {
            Dword(dwStyle);
            Dword(0);
        }
        countAt_ = bytes_.size();
        Word(0);
        Word((WORD)x);
        Word((WORD)y);
        Word((WORD)cx);
        Word((WORD)cy);
        Word(0);                    // no menu
        Word(0);                    // standard class
        String(caption);
        if (dwStyle & DS_SETFONT) {
            Word(wPoint);
            if (bExtended_) {
                Word(400);
                Word(0);
            }
            String(face);
        }
    }

    // A control with a class atom (0x80 button ...) or a class name.
    void Item(int id, WORD wAtom, const char16_t *className, DWORD dwStyle, short x, short y, short cx,
              short cy, const char16_t *text)
    {
        while (bytes_.size() % 4)
            bytes_.push_back(0);
        if (bExtended_) {
            Dword(0);
            Dword(0);
            Dword(dwStyle | WS_CHILD | WS_VISIBLE);
        } else {
            Dword(dwStyle | WS_CHILD | WS_VISIBLE);
            Dword(0);
        }
        Word((WORD)x);
        Word((WORD)y);
        Word((WORD)cx);
        Word((WORD)cy);
        if (bExtended_)
            Dword((DWORD)id);
        else
            Word((WORD)id);
        if (className != nullptr) {
            String(className);
        } else {
            Word(0xFFFF);
            Word(wAtom);
        }
        String(text);
        Word(0);                    // no creation data
        items_++;
        bytes_[countAt_] = (BYTE)(items_ & 0xFF);
        bytes_[countAt_ + 1] = (BYTE)(items_ >> 8);
    }

    const std::vector<BYTE> &bytes() const { return bytes_; }

private:
    void Word(WORD w)
    {
        bytes_.push_back((BYTE)(w & 0xFF));
        bytes_.push_back((BYTE)(w >> 8));
    }
    void Dword(DWORD d)
    {
        Word((WORD)(d & 0xFFFF));
        Word((WORD)(d >> 16));
    }
    void String(const char16_t *s)
    {
        for (; s != nullptr && *s; s++)
            Word((WORD)*s);
        Word(0);
    }

    bool bExtended_;
    std::vector<BYTE> bytes_;
    size_t countAt_ = 0;
    WORD items_ = 0;
};

// Ids of the test dialog.
enum {
    kName = 101,
    kAddr = 102,
    kLabel = 110,
    kCheck = 120,
    kRadioA = 130,
    kRadioB = 131,
    kRadioC = 132,      // after a new group: not cleared by A or B
    kSpin = 140,
    kPlainCheck = 150,
};

const DWORD kDlgStyle = WS_POPUP | WS_VISIBLE | WS_CAPTION | WS_SYSMENU | DS_MODALFRAME | DS_SETFONT;

std::vector<BYTE> TestTemplate(bool bExtended)
{
    TemplateBuilder b(bExtended);
    b.Frame(kDlgStyle, 6, 18, 200, 120, u"テスト", 8, u"MS Gothic");
    b.Item(kLabel, 0x82, nullptr, SS_LEFT | WS_GROUP, 4, 4, 40, 8, u"名前");
    b.Item(kName, 0x81, nullptr, ES_AUTOHSCROLL | WS_BORDER | WS_TABSTOP, 50, 4, 80, 12, u"");
    b.Item(kAddr, 0, u"Edit", ES_AUTOHSCROLL | WS_BORDER | WS_TABSTOP, 50, 20, 80, 12, u"");
    b.Item(kCheck, 0x80, nullptr, BS_AUTOCHECKBOX | WS_TABSTOP, 4, 36, 60, 10, u"Check");
    b.Item(kPlainCheck, 0x80, nullptr, BS_CHECKBOX | WS_TABSTOP, 4, 48, 60, 10, u"Plain");
    b.Item(-1, 0x82, nullptr, SS_LEFT | WS_GROUP, 4, 60, 40, 8, u"");
    b.Item(kRadioA, 0x80, nullptr, BS_AUTORADIOBUTTON, 4, 70, 40, 10, u"A");
    b.Item(kRadioB, 0x80, nullptr, BS_AUTORADIOBUTTON, 50, 70, 40, 10, u"B");
    b.Item(-1, 0x80, nullptr, BS_GROUPBOX | WS_GROUP, 0, 66, 100, 30, u"Frame");
    b.Item(kRadioC, 0x80, nullptr, BS_AUTORADIOBUTTON, 100, 70, 40, 10, u"C");
    b.Item(kSpin, 0x84, nullptr, 0x0001 /* SBS_VERT */, 130, 4, 10, 12, u"");
    b.Item(IDOK, 0x80, nullptr, BS_PUSHBUTTON | WS_TABSTOP, 150, 4, 40, 14, u"OK");
    b.Item(IDCANCEL, 0x80, nullptr, BS_PUSHBUTTON | WS_TABSTOP, 150, 22, 40, 14, u"Cancel");
    return b.bytes();
}

// ---- A dialog procedure that tests can steer ----

struct Probe {
    std::function<INT_PTR(HWND, UINT, WPARAM, LPARAM)> onMessage;
    std::vector<std::string> trace;     // readable notifications in order
    LPARAM lInit = 0;
};
Probe *gpProbe = nullptr;

std::string Describe(UINT uMsg, WPARAM wParam, HWND hDlg)
{
    char sz[96];
    switch (uMsg) {
    case WM_COMMAND: {
        HWND hCtl = GetDlgItem(hDlg, LOWORD(wParam));
        char text[64] = "";
        if (hCtl != nullptr)
            GetDlgItemTextA(hDlg, LOWORD(wParam), text, sizeof(text));
        snprintf(sz, sizeof(sz), "cmd %d %04x [%s]", (int)(short)LOWORD(wParam), HIWORD(wParam), text);
        return sz;
    }
    case WM_SETCURSOR:
        snprintf(sz, sizeof(sz), "cursor %d", (HWND)wParam == hDlg ? 0 : GetDlgCtrlID((HWND)wParam));
        return sz;
    case WM_VSCROLL:
        snprintf(sz, sizeof(sz), "vscroll %u", (unsigned)LOWORD(wParam));
        return sz;
    case WM_INITDIALOG:
        return "init";
    case WM_CLOSE:
        return "close";
    case WM_DESTROY:
        return "destroy";
    default:
        snprintf(sz, sizeof(sz), "msg %04x", uMsg);
        return sz;
    }
}

INT_PTR CALLBACK ProbeProc(HWND hDlg, UINT uMsg, WPARAM wParam, LPARAM lParam)
{
    if (gpProbe == nullptr)
        return FALSE;
    gpProbe->trace.push_back(Describe(uMsg, wParam, hDlg));
    if (uMsg == WM_INITDIALOG)
        gpProbe->lInit = lParam;
    if (gpProbe->onMessage) {
        INT_PTR n = gpProbe->onMessage(hDlg, uMsg, wParam, lParam);
        if (n != -100)
            return n;
    }
    if (uMsg == WM_INITDIALOG)
        return TRUE;
    if (uMsg == WM_COMMAND && (LOWORD(wParam) == IDOK || LOWORD(wParam) == IDCANCEL) &&
        HIWORD(wParam) == BN_CLICKED) {
        EndDialog(hDlg, LOWORD(wParam));
        return TRUE;
    }
    return FALSE;
}

class DialogEngine : public ::testing::Test {
protected:
    void SetUp() override
    {
        DorveDlgReset();
        DorveUserReset();
        gpProbe = &probe;
    }
    void TearDown() override
    {
        gpProbe = nullptr;
        EXPECT_EQ(DorveDlgActive(), nullptr);
        DorveDlgReset();
    }
    INT_PTR Run(bool bExtended = false, LPARAM lParam = 0)
    {
        std::vector<BYTE> t = TestTemplate(bExtended);
        return DorveDlgRunTemplate(t.data(), (DWORD)t.size(), nullptr, ProbeProc, lParam);
    }
    // The trace entries that match a prefix, in order.
    std::vector<std::string> Trace(const std::string &prefix) const
    {
        std::vector<std::string> v;
        for (const auto &s : probe.trace) {
            if (s.compare(0, prefix.size(), prefix) == 0)
                v.push_back(s);
        }
        return v;
    }
    Probe probe;
};

// Reads a control's state at a point of the script.
struct Snapshot {
    std::vector<DORVE_DLG_CONTROL> controls;
    HWND hDlg = nullptr;
    const DORVE_DLG_CONTROL *Find(int id) const
    {
        for (const auto &c : controls) {
            if ((WORD)c.nId == (WORD)id)
                return &c;
        }
        return nullptr;
    }
};

void TakeSnapshot(void *ctx, HWND hDlg)
{
    Snapshot *s = (Snapshot *)ctx;
    s->hDlg = hDlg;
    s->controls.clear();
    int n = DorveDlgControlCount(hDlg);
    for (int i = 0; i < n; i++) {
        DORVE_DLG_CONTROL c;
        ASSERT_TRUE(DorveDlgControlAt(hDlg, i, &c));
        s->controls.push_back(c);
    }
}

// ---- Templates ----

TEST_F(DialogEngine, BothTemplateKindsGiveTheSameControls)
{
    for (bool bExtended : {false, true}) {
        SCOPED_TRACE(bExtended ? "DLGTEMPLATEEX" : "DLGTEMPLATE");
        DorveDlgReset();
        Snapshot snap;
        DORVE_DLG_FRAME frame;
        memset(&frame, 0, sizeof(frame));
        probe.onMessage = [&](HWND hDlg, UINT uMsg, WPARAM, LPARAM) -> INT_PTR {
            if (uMsg == WM_INITDIALOG) {
                EXPECT_TRUE(DorveDlgGetFrame(hDlg, &frame));
            }
            return -100;
        };
        DorveDlgScriptCall(TakeSnapshot, &snap);
        EXPECT_EQ(Run(bExtended), IDCANCEL);

        EXPECT_EQ(frame.bExtended, bExtended ? TRUE : FALSE);
        EXPECT_EQ(frame.dwStyle, kDlgStyle);
        EXPECT_EQ(frame.cx, 200);
        EXPECT_EQ(frame.cy, 120);
        EXPECT_STREQ(frame.szCaption, u8"テスト");
        EXPECT_STREQ(frame.szFont, "MS Gothic");
        EXPECT_EQ(frame.wPointSize, 8);

        ASSERT_EQ(snap.controls.size(), 13u);
        const struct {
            int id;
            int kind;
            const char *cls;
            const char *text;
        } aWant[] = {
            {kLabel, DORVE_CTL_STATIC, "STATIC", u8"名前"},
            {kName, DORVE_CTL_EDIT, "EDIT", ""},
            {kAddr, DORVE_CTL_EDIT, "EDIT", ""},
            {kCheck, DORVE_CTL_CHECKBOX, "BUTTON", "Check"},
            {kPlainCheck, DORVE_CTL_CHECKBOX, "BUTTON", "Plain"},
            {-1, DORVE_CTL_STATIC, "STATIC", ""},
            {kRadioA, DORVE_CTL_RADIO, "BUTTON", "A"},
            {kRadioB, DORVE_CTL_RADIO, "BUTTON", "B"},
            {-1, DORVE_CTL_GROUPBOX, "BUTTON", "Frame"},
            {kRadioC, DORVE_CTL_RADIO, "BUTTON", "C"},
            {kSpin, DORVE_CTL_SCROLLBAR, "SCROLLBAR", ""},
            {IDOK, DORVE_CTL_PUSH, "BUTTON", "OK"},
            {IDCANCEL, DORVE_CTL_PUSH, "BUTTON", "Cancel"},
        };
        for (size_t i = 0; i < snap.controls.size(); i++) {
            const DORVE_DLG_CONTROL &c = snap.controls[i];
            EXPECT_EQ((WORD)c.nId, (WORD)aWant[i].id) << i;
            EXPECT_EQ(c.nKind, aWant[i].kind) << i;
            EXPECT_STREQ(c.szClass, aWant[i].cls) << i;
            EXPECT_STREQ(c.szText, aWant[i].text) << i;
            EXPECT_TRUE(c.bEnabled) << i;
        }
        EXPECT_EQ(snap.controls[1].x, 50);
        EXPECT_EQ(snap.controls[1].cy, 12);
        EXPECT_EQ(snap.controls[1].uLimit, 30000u);
        EXPECT_EQ(snap.controls[1].dwStyle & (WS_TABSTOP | ES_AUTOHSCROLL), (DWORD)(WS_TABSTOP | ES_AUTOHSCROLL));
    }
}

TEST_F(DialogEngine, ATemplateCutShortIsRefused)
{
    std::vector<BYTE> t = TestTemplate(false);
    for (size_t cut : {(size_t)3, (size_t)20, t.size() / 2, t.size() - 3}) {
        std::vector<BYTE> part(t.begin(), t.begin() + (long)cut);
        EXPECT_EQ(DorveDlgRunTemplate(part.data(), (DWORD)part.size(), nullptr, ProbeProc, 0), -1) << cut;
    }
    EXPECT_TRUE(probe.trace.empty());
    EXPECT_EQ(DorveDlgRunTemplate(nullptr, 0, nullptr, ProbeProc, 0), -1);
}

// ---- Opening, ending, closing ----

TEST_F(DialogEngine, InitDialogGetsTheParameterAndTheFirstTabStopGetsTheFocus)
{
    Snapshot snap;
    DorveDlgScriptCall(TakeSnapshot, &snap);
    DorveDlgScriptClick(IDOK);
    EXPECT_EQ(Run(false, (LPARAM)0x1234), IDOK);
    EXPECT_EQ(probe.lInit, (LPARAM)0x1234);
    ASSERT_GE(probe.trace.size(), 2u);
    EXPECT_EQ(probe.trace[0], "init");
    EXPECT_EQ(probe.trace[1], "cmd 101 0100 []");     // EN_SETFOCUS of the first tab stop
    EXPECT_TRUE(snap.Find(kName)->bFocused);
    EXPECT_EQ(probe.trace.back(), "destroy");
    EXPECT_EQ(DorveDlgForegroundCount(), 0);
}

TEST_F(DialogEngine, EndDialogDuringInitRunsNoStep)
{
    probe.onMessage = [](HWND hDlg, UINT uMsg, WPARAM, LPARAM) -> INT_PTR {
        if (uMsg == WM_INITDIALOG) {
            EndDialog(hDlg, 42);
            return TRUE;
        }
        return -100;
    };
    DorveDlgScriptClick(IDCANCEL);
    EXPECT_EQ(Run(), 42);
    EXPECT_EQ(DorveDlgScriptPending(), 1);
    std::vector<std::string> want = {"init", "destroy"};
    EXPECT_EQ(probe.trace, want);
}

TEST_F(DialogEngine, ARunOutScriptEndsWithCancelAndTheHandlesDie)
{
    HWND hDlg = nullptr, hEdit = nullptr;
    probe.onMessage = [&](HWND h, UINT uMsg, WPARAM, LPARAM) -> INT_PTR {
        if (uMsg == WM_INITDIALOG) {
            hDlg = h;
            hEdit = GetDlgItem(h, kName);
        }
        return -100;
    };
    EXPECT_EQ(Run(), IDCANCEL);
    ASSERT_EQ(DorveDlgRunCount(), 1);
    DORVE_DLG_RUN run;
    ASSERT_TRUE(DorveDlgRunAt(0, &run));
    EXPECT_EQ(run.nResult, IDCANCEL);
    EXPECT_TRUE(run.bScriptRanOut);
    EXPECT_FALSE(IsWindow(hDlg));
    EXPECT_FALSE(IsWindow(hEdit));
    EXPECT_FALSE(SetDlgItemTextA(hDlg, kName, "x"));
    EXPECT_EQ(GetLastError(), (DWORD)ERROR_INVALID_WINDOW_HANDLE);
    EXPECT_EQ(GetDlgItem(hDlg, kName), nullptr);
    EXPECT_FALSE(EndDialog(hDlg, 1));

    // A later dialog never gets a handle of an earlier one.
    HWND hSecond = nullptr;
    probe.onMessage = [&](HWND h, UINT uMsg, WPARAM, LPARAM) -> INT_PTR {
        if (uMsg == WM_INITDIALOG)
            hSecond = h;
        return -100;
    };
    Run();
    EXPECT_NE(hSecond, hDlg);
}

TEST_F(DialogEngine, KeysAndTheCloseBoxReachTheDialogAsCommands)
{
    struct Case {
        std::function<void()> script;
        INT_PTR result;
        const char *last;       // the command that ended it
    } aCases[] = {
        {[] { DorveDlgScriptKey(DORVE_KEY_ENTER); }, IDOK, "cmd 1 0000"},
        {[] { DorveDlgScriptKey(DORVE_KEY_ESCAPE); }, IDCANCEL, "cmd 2 0000"},
        {[] { DorveDlgScriptClose(); }, IDCANCEL, "cmd 2 0000"},
        // Enter on a focused push button presses that button.
        {[] { DorveDlgScriptKey(DORVE_KEY_TAB); DorveDlgScriptKey(DORVE_KEY_TAB);
              DorveDlgScriptKey(DORVE_KEY_TAB); DorveDlgScriptKey(DORVE_KEY_TAB);
              DorveDlgScriptKey(DORVE_KEY_TAB); DorveDlgScriptKey(DORVE_KEY_ENTER); },
         IDCANCEL, "cmd 2 0000"},
    };
    for (const Case &c : aCases) {
        DorveDlgReset();
        probe.trace.clear();
        c.script();
        EXPECT_EQ(Run(), c.result);
        EXPECT_EQ(Trace(c.last).size(), 1u) << c.last;
        EXPECT_EQ(probe.trace.back(), "destroy");
        EXPECT_FALSE(DorveDlgRunAt(0, nullptr));
        DORVE_DLG_RUN run;
        ASSERT_TRUE(DorveDlgRunAt(0, &run));
        EXPECT_FALSE(run.bScriptRanOut);
    }
    // The close box asks WM_CLOSE first.
    DorveDlgReset();
    probe.trace.clear();
    DorveDlgScriptClose();
    Run();
    EXPECT_EQ(Trace("close").size(), 1u);
}

TEST_F(DialogEngine, EnterWithADisabledOkDoesNothing)
{
    probe.onMessage = [](HWND hDlg, UINT uMsg, WPARAM, LPARAM) -> INT_PTR {
        if (uMsg == WM_INITDIALOG)
            EnableWindow(GetDlgItem(hDlg, IDOK), FALSE);
        return -100;
    };
    DorveDlgScriptKey(DORVE_KEY_ENTER);
    DorveDlgScriptClick(IDOK);
    EXPECT_EQ(Run(), IDCANCEL);
    EXPECT_TRUE(Trace("cmd 1 ").empty());
    DORVE_DLG_RUN run;
    ASSERT_TRUE(DorveDlgRunAt(0, &run));
    EXPECT_TRUE(run.bScriptRanOut);
}

// ---- Edits ----

TEST_F(DialogEngine, EachKeystrokeIsOneChangeAndTheProcedureSeesTheTextSoFar)
{
    DorveDlgScriptType(u8"ab日");
    DorveDlgScriptKey(DORVE_KEY_BACK);
    EXPECT_EQ(Run(), IDCANCEL);
    std::vector<std::string> want = {"cmd 101 0300 [a]", "cmd 101 0300 [ab]", u8"cmd 101 0300 [ab日]",
                                     "cmd 101 0300 [ab]"};
    EXPECT_EQ(Trace("cmd 101 0300"), want);
    // EN_UPDATE comes before each EN_CHANGE.
    EXPECT_EQ(Trace("cmd 101 0400").size(), 4u);
}

TEST_F(DialogEngine, TheLimitRefusesKeystrokesButNotTheProgram)
{
    Snapshot snap;
    probe.onMessage = [](HWND hDlg, UINT uMsg, WPARAM, LPARAM) -> INT_PTR {
        if (uMsg == WM_INITDIALOG)
            SendDlgItemMessageA(hDlg, kName, EM_LIMITTEXT, 3, 0);
        return -100;
    };
    DorveDlgScriptType("abcd");
    DorveDlgScriptCall(TakeSnapshot, &snap);
    DorveDlgScriptCall([](void *, HWND hDlg) { SetDlgItemTextA(hDlg, kName, "longer than three"); }, nullptr);
    DorveDlgScriptCall(TakeSnapshot, &snap);
    Run();
    EXPECT_STREQ(snap.Find(kName)->szText, "longer than three");
    EXPECT_EQ(snap.Find(kName)->uLimit, 3u);
    EXPECT_EQ(Trace("cmd 101 0300").size(), 4u);     // a, ab, abc, and the program's text
    EXPECT_EQ(Trace("cmd 101 0501").size(), 1u);     // EN_MAXTEXT for the d
}

TEST_F(DialogEngine, TypingReplacesTheSelection)
{
    Snapshot snap;
    probe.onMessage = [](HWND hDlg, UINT uMsg, WPARAM, LPARAM) -> INT_PTR {
        if (uMsg == WM_INITDIALOG)
            SetDlgItemTextA(hDlg, kAddr, "600");
        return -100;
    };
    DorveDlgScriptSelect(kAddr, 0, -1);
    DorveDlgScriptCall(TakeSnapshot, &snap);
    DorveDlgScriptType("7");
    DorveDlgScriptClick(IDOK);
    Run();
    EXPECT_EQ(snap.Find(kAddr)->dwSelStart, 0u);
    EXPECT_EQ(snap.Find(kAddr)->dwSelEnd, 3u);
    std::vector<std::string> want = {"cmd 102 0300 [600]", "cmd 102 0300 [7]"};
    EXPECT_EQ(Trace("cmd 102 0300"), want);
}

TEST_F(DialogEngine, SettingAnEditsTextNotifiesBeforeTheCallReturns)
{
    // The name's change copies itself into the address: the address's
    // change must arrive inside the name's.
    probe.onMessage = [this](HWND hDlg, UINT uMsg, WPARAM wParam, LPARAM) -> INT_PTR {
        if (uMsg == WM_COMMAND && LOWORD(wParam) == kName && HIWORD(wParam) == EN_CHANGE) {
            char sz[64];
            GetDlgItemTextA(hDlg, kName, sz, sizeof(sz));
            SetDlgItemTextA(hDlg, kAddr, sz);
            probe.trace.push_back("name done");
            return TRUE;
        }
        return -100;
    };
    DorveDlgScriptType("x");
    Run();
    std::vector<std::string> v;
    for (const auto &s : probe.trace) {
        if (s.find("0300") != std::string::npos || s == "name done")
            v.push_back(s);
    }
    std::vector<std::string> want = {"cmd 101 0300 [x]", "cmd 102 0300 [x]", "name done"};
    EXPECT_EQ(v, want);
}

TEST_F(DialogEngine, FocusMovesWithClicksAndTabs)
{
    Snapshot snap;
    DorveDlgScriptClick(kAddr);
    DorveDlgScriptClick(kLabel);        // labels take no clicks
    DorveDlgScriptCall(TakeSnapshot, &snap);
    DorveDlgScriptKey(DORVE_KEY_TAB);
    Run();
    std::vector<std::string> want = {"cmd 101 0100 []", "cmd 101 0200 []", "cmd 102 0100 []",
                                     "cmd 102 0200 []"};
    std::vector<std::string> v;
    for (const auto &s : probe.trace) {
        if (s.find(" 0100 ") != std::string::npos || s.find(" 0200 ") != std::string::npos)
            v.push_back(s);
    }
    // The last kill-focus is the tab to the check box.
    EXPECT_EQ(v, want);
    EXPECT_TRUE(snap.Find(kAddr)->bFocused);
    EXPECT_FALSE(snap.Find(kName)->bFocused);
}

// ---- Buttons ----

TEST_F(DialogEngine, AutomaticButtonsChangeBeforeTheyReport)
{
    std::vector<std::string> seen;
    probe.onMessage = [&](HWND hDlg, UINT uMsg, WPARAM wParam, LPARAM) -> INT_PTR {
        if (uMsg == WM_INITDIALOG) {
            CheckRadioButton(hDlg, kRadioA, kRadioC, kRadioC);
            CheckRadioButton(hDlg, kRadioA, kRadioB, kRadioA);
        }
        if (uMsg == WM_COMMAND && HIWORD(wParam) == BN_CLICKED && LOWORD(wParam) >= kCheck) {
            char sz[64];
            snprintf(sz, sizeof(sz), "%d: check %u plain %u A %u B %u C %u", LOWORD(wParam),
                     IsDlgButtonChecked(hDlg, kCheck), IsDlgButtonChecked(hDlg, kPlainCheck),
                     IsDlgButtonChecked(hDlg, kRadioA), IsDlgButtonChecked(hDlg, kRadioB),
                     IsDlgButtonChecked(hDlg, kRadioC));
            seen.push_back(sz);
        }
        return -100;
    };
    DorveDlgScriptClick(kCheck);
    DorveDlgScriptClick(kPlainCheck);   // not automatic: reports, does not tick
    DorveDlgScriptClick(kRadioB);
    DorveDlgScriptClick(kCheck);
    DorveDlgScriptClick(kRadioA);
    Run();
    std::vector<std::string> want = {
        "120: check 1 plain 0 A 1 B 0 C 1",
        "150: check 1 plain 0 A 1 B 0 C 1",
        "131: check 1 plain 0 A 0 B 1 C 1",     // C is in a group of its own
        "120: check 0 plain 0 A 0 B 1 C 1",
        "130: check 0 plain 0 A 1 B 0 C 1",
    };
    EXPECT_EQ(seen, want);
}

TEST_F(DialogEngine, DisabledControlsTakeNeitherClicksNorKeys)
{
    Snapshot snap;
    probe.onMessage = [](HWND hDlg, UINT uMsg, WPARAM, LPARAM) -> INT_PTR {
        if (uMsg == WM_INITDIALOG) {
            EXPECT_FALSE(EnableWindow(GetDlgItem(hDlg, kCheck), FALSE));
            EXPECT_TRUE(EnableWindow(GetDlgItem(hDlg, kCheck), FALSE));   // was disabled already
            EnableWindow(GetDlgItem(hDlg, kName), FALSE);
        }
        return -100;
    };
    DorveDlgScriptClick(kCheck);
    DorveDlgScriptClick(kName);
    DorveDlgScriptType("x");
    DorveDlgScriptCall(TakeSnapshot, &snap);
    Run();
    EXPECT_EQ(snap.Find(kCheck)->uCheck, (UINT)BST_UNCHECKED);
    EXPECT_FALSE(snap.Find(kCheck)->bEnabled);
    EXPECT_STREQ(snap.Find(kName)->szText, "");
    EXPECT_TRUE(Trace("cmd 120").empty());
    // The first tab stop that can take the focus is the address.
    EXPECT_TRUE(snap.Find(kAddr)->bFocused);
}

// ---- Pointer and spin ----

TEST_F(DialogEngine, ThePointerNamesTheWindowUnderIt)
{
    probe.onMessage = [](HWND hDlg, UINT uMsg, WPARAM, LPARAM) -> INT_PTR {
        if (uMsg == WM_INITDIALOG)
            EnableWindow(GetDlgItem(hDlg, kAddr), FALSE);
        return -100;
    };
    DorveDlgScriptHover(kName);
    DorveDlgScriptHover(kLabel);    // labels pass it on to the dialog
    DorveDlgScriptHover(kAddr);     // so do disabled controls
    DorveDlgScriptHoverDialog();
    DorveDlgScriptHover(IDOK);
    Run();
    std::vector<std::string> want = {"cursor 101", "cursor 0", "cursor 0", "cursor 0", "cursor 1"};
    EXPECT_EQ(Trace("cursor"), want);
}

TEST_F(DialogEngine, ASpinArrowSendsItsLineCodeWithTheScrollBar)
{
    HWND hSpin = nullptr;
    std::vector<HWND> bars;
    probe.onMessage = [&](HWND hDlg, UINT uMsg, WPARAM, LPARAM lParam) -> INT_PTR {
        if (uMsg == WM_INITDIALOG)
            hSpin = GetDlgItem(hDlg, kSpin);
        if (uMsg == WM_VSCROLL)
            bars.push_back((HWND)lParam);
        return -100;
    };
    DorveDlgScriptSpin(kSpin, SB_LINEUP);
    DorveDlgScriptSpin(kSpin, SB_LINEDOWN);
    DorveDlgScriptSpin(kName, SB_LINEUP);      // not a scroll bar
    Run();
    std::vector<std::string> want = {"vscroll 0", "vscroll 8", "vscroll 1", "vscroll 8"};
    EXPECT_EQ(Trace("vscroll"), want);
    ASSERT_EQ(bars.size(), 4u);
    for (HWND h : bars)
        EXPECT_EQ(h, hSpin);
}

// ---- Message boxes ----

TEST_F(DialogEngine, AMessageBoxTakesTheAnswerThatFollowsTheStep)
{
    std::vector<int> answers;
    probe.onMessage = [&](HWND hDlg, UINT uMsg, WPARAM wParam, LPARAM) -> INT_PTR {
        if (uMsg == WM_COMMAND && LOWORD(wParam) == kCheck) {
            answers.push_back(MessageBoxA(hDlg, u8"本文", "Caption", MB_YESNOCANCEL | MB_ICONQUESTION));
            return TRUE;
        }
        return -100;
    };
    DorveUserQueueMessageBoxAnswer(IDRETRY);
    DorveDlgScriptClick(kCheck);
    DorveDlgScriptAnswer(IDNO);
    DorveDlgScriptClick(kCheck);        // no answer step: the USER queue answers
    DorveDlgScriptClick(kCheck);        // and then IDOK
    DorveDlgScriptAnswer(IDYES);
    DorveDlgScriptAnswer(IDYES);        // one too many: passed over
    Run();
    std::vector<int> want = {IDNO, IDRETRY, IDYES};
    EXPECT_EQ(answers, want);
    // The third click's box took the first IDYES; its second is unused.
    EXPECT_EQ(DorveDlgUnusedAnswers(), 1);
    ASSERT_EQ(DorveDlgMessageBoxCount(), 3);
    DORVE_DLG_MSGBOX box;
    ASSERT_TRUE(DorveDlgMessageBoxAt(0, &box));
    EXPECT_STREQ(box.szText, u8"本文");
    EXPECT_STREQ(box.szCaption, "Caption");
    EXPECT_EQ(box.uType, (UINT)(MB_YESNOCANCEL | MB_ICONQUESTION));
    EXPECT_EQ(box.nAnswer, IDNO);
    EXPECT_EQ(box.nOwnerTemplate, 0);
    EXPECT_EQ(DorveMessageBoxCount(), 3);
}

TEST_F(DialogEngine, TheAnswererAnswersWhatTheScriptDoesNot)
{
    std::vector<int> answers;
    probe.onMessage = [&](HWND hDlg, UINT uMsg, WPARAM wParam, LPARAM) -> INT_PTR {
        if (uMsg == WM_COMMAND && LOWORD(wParam) == kCheck) {
            answers.push_back(MessageBoxA(hDlg, "question", "c", MB_YESNO));
            answers.push_back(MessageBoxA(hDlg, "note", "c", MB_OK));
            return TRUE;
        }
        return -100;
    };
    DORVE_DLG_ANSWERER answerer = [](void *, HWND, const char *text, const char *, UINT type) {
        return (type & 0x0F) == MB_YESNO && strcmp(text, "question") == 0 ? IDNO : 0;
    };
    DorveDlgSetAnswerer(answerer, nullptr);
    DorveUserQueueMessageBoxAnswer(IDRETRY);
    DorveDlgScriptClick(kCheck);
    DorveDlgScriptClick(kCheck);
    DorveDlgScriptAnswer(IDYES);        // the script comes first
    Run();
    DorveDlgSetAnswerer(nullptr, nullptr);
    std::vector<int> want = {IDNO, IDRETRY, IDYES, IDOK};
    EXPECT_EQ(answers, want);
}

TEST_F(DialogEngine, AMessageBoxWithoutOwnerLeavesTheScriptAlone)
{
    DorveDlgScriptAnswer(IDNO);
    EXPECT_EQ(MessageBoxA(nullptr, "t", "c", MB_YESNO), IDOK);
    EXPECT_EQ(DorveDlgScriptPending(), 1);
    DorveDlgReset();
}

// ---- Item calls ----

TEST_F(DialogEngine, GetDlgItemIntTellsNumbersFromText)
{
    struct Case {
        const char *text;
        BOOL bSigned;
        BOOL ok;
        UINT value;
    } aCases[] = {
        {"70", FALSE, TRUE, 70},
        {" 7", FALSE, TRUE, 7},
        {"600 ", FALSE, TRUE, 600},
        {"", FALSE, FALSE, 0},
        {"7a", FALSE, FALSE, 0},
        {"-3", FALSE, FALSE, 0},
        {"-3", TRUE, TRUE, (UINT)-3},
        {"4294967295", FALSE, TRUE, 4294967295u},
        {"4294967296", FALSE, FALSE, 0},
        {"2147483648", TRUE, FALSE, 0},
        {u8"１", FALSE, FALSE, 0},
    };
    std::vector<std::string> failures;
    probe.onMessage = [&](HWND hDlg, UINT uMsg, WPARAM, LPARAM) -> INT_PTR {
        if (uMsg != WM_INITDIALOG)
            return -100;
        for (const Case &c : aCases) {
            SetDlgItemTextA(hDlg, kName, c.text);
            BOOL ok = 42;
            UINT v = GetDlgItemInt(hDlg, kName, &ok, c.bSigned);
            if (ok != c.ok || v != c.value)
                failures.push_back(std::string(c.text) + (c.bSigned ? " signed" : ""));
        }
        SetDlgItemInt(hDlg, kName, 600, FALSE);
        char sz[16];
        GetDlgItemTextA(hDlg, kName, sz, sizeof(sz));
        EXPECT_STREQ(sz, "600");
        SetDlgItemInt(hDlg, kName, (UINT)-5, TRUE);
        GetDlgItemTextA(hDlg, kName, sz, sizeof(sz));
        EXPECT_STREQ(sz, "-5");
        EXPECT_EQ(GetDlgItemInt(hDlg, 999, nullptr, FALSE), 0u);
        return TRUE;
    };
    Run();
    EXPECT_TRUE(failures.empty()) << failures.size() << " first: " << (failures.empty() ? "" : failures[0]);
}

TEST_F(DialogEngine, ItemCallsOnTheDialogsControls)
{
    probe.onMessage = [](HWND hDlg, UINT uMsg, WPARAM, LPARAM) -> INT_PTR {
        if (uMsg != WM_INITDIALOG)
            return -100;
        HWND hName = GetDlgItem(hDlg, kName);
        EXPECT_EQ(GetDlgCtrlID(hName), kName);
        EXPECT_EQ(GetParent(hName), hDlg);
        EXPECT_EQ(GetDlgItem(hDlg, 4242), nullptr);
        // A text is cut at a whole character, and the count is in bytes.
        SetDlgItemTextA(hDlg, kName, u8"日本");
        char sz[5];
        EXPECT_EQ(GetDlgItemTextA(hDlg, kName, sz, sizeof(sz)), 3u);
        EXPECT_STREQ(sz, u8"日");
        EXPECT_EQ(GetDlgItemTextA(hDlg, kName, sz, 0), 0u);
        // Selection.
        SendDlgItemMessageA(hDlg, kName, EM_SETSEL, 0, -1);
        DWORD s = 9, e = 9;
        SendDlgItemMessageA(hDlg, kName, EM_GETSEL, (WPARAM)&s, (LPARAM)&e);
        EXPECT_EQ(s, 0u);
        EXPECT_EQ(e, 6u);
        // Fonts stay with the control.
        HFONT hFont = CreateFontA(12, 0, 0, 0, 0, 0, 0, 0, SHIFTJIS_CHARSET, 0, 0, 0, 0, "");
        SendDlgItemMessageA(hDlg, kLabel, WM_SETFONT, (WPARAM)hFont, TRUE);
        EXPECT_EQ((HFONT)SendDlgItemMessageA(hDlg, kLabel, WM_GETFONT, 0, 0), hFont);
        EXPECT_TRUE(DeleteObject((HGDIOBJ)hFont));
        // Check boxes.
        EXPECT_TRUE(CheckDlgButton(hDlg, kCheck, BST_CHECKED));
        EXPECT_EQ(IsDlgButtonChecked(hDlg, kCheck), (UINT)BST_CHECKED);
        EXPECT_FALSE(IsWindowEnabled(hDlg) == FALSE);
        EXPECT_TRUE(SetForegroundWindow(hDlg));
        // The dialog's caption.
        char cap[32];
        EXPECT_GT(GetWindowTextA(hDlg, cap, sizeof(cap)), 0);
        EXPECT_STREQ(cap, u8"テスト");
        // Focus.
        EXPECT_EQ(SetFocus(GetDlgItem(hDlg, IDOK)), nullptr);
        EXPECT_EQ(GetFocus(), GetDlgItem(hDlg, IDOK));
        return FALSE;               // keep the focus where it was put
    };
    int fonts = DorveUserLiveFontCount();
    Run();
    EXPECT_EQ(DorveUserLiveFontCount(), fonts);
    EXPECT_EQ(DorveDlgForegroundCount(), 1);
    EXPECT_EQ(GetFocus(), nullptr);
}

// ---- A dialog from the monitor's resources, with a dialog above it ----

INT_PTR CALLBACK ClosingProc(HWND hDlg, UINT uMsg, WPARAM wParam, LPARAM)
{
    if (uMsg == WM_INITDIALOG)
        return TRUE;
    if (uMsg == WM_COMMAND && LOWORD(wParam) == IDOK) {
        EndDialog(hDlg, 77);
        return TRUE;
    }
    return FALSE;
}

TEST_F(DialogEngine, AModuleTemplateOpensAboveItsOwner)
{
    ASSERT_TRUE(dorvetest::LoadMonitorModule());
    HWND hOwnerDlg = nullptr;
    BOOL bOwnerEnabledMeanwhile = TRUE;
    INT_PTR nInner = 0;
    probe.onMessage = [&](HWND hDlg, UINT uMsg, WPARAM wParam, LPARAM) -> INT_PTR {
        if (uMsg == WM_INITDIALOG)
            hOwnerDlg = hDlg;
        if (uMsg == WM_COMMAND && LOWORD(wParam) == kCheck) {
            nInner = DialogBoxParamA(ghInstance, MAKEINTRESOURCEA(300), hDlg, ClosingProc, 0);
            return TRUE;
        }
        return -100;
    };
    Snapshot inner;
    DORVE_DLG_FRAME frame;
    memset(&frame, 0, sizeof(frame));
    DorveDlgScriptClick(kAddr);
    DorveDlgScriptClick(kCheck);        // opens template 300
    DorveDlgScriptCall(TakeSnapshot, &inner);
    DorveDlgScriptCall([](void *ctx, HWND hDlg) { DorveDlgGetFrame(hDlg, (DORVE_DLG_FRAME *)ctx); }, &frame);
    DorveDlgScriptCall([](void *ctx, HWND hDlg) { *(BOOL *)ctx = IsWindowEnabled(GetParent(hDlg)); },
                       &bOwnerEnabledMeanwhile);
    DorveDlgScriptKey(DORVE_KEY_ENTER);     // closes template 300
    DorveDlgScriptClick(IDOK);
    EXPECT_EQ(Run(), IDOK);
    EXPECT_EQ(nInner, 77);
    EXPECT_FALSE(bOwnerEnabledMeanwhile);
    EXPECT_NE(inner.hDlg, hOwnerDlg);
    EXPECT_EQ(DorveDlgTemplateId(inner.hDlg), -1);      // gone by now
    EXPECT_STREQ(frame.szCaption, u8"プリントモニターのバージョン情報");
    EXPECT_EQ(frame.cx, 173);
    ASSERT_EQ(inner.controls.size(), 5u);
    EXPECT_TRUE(inner.Find(IDOK)->bFocused);
    ASSERT_EQ(DorveDlgRunCount(), 2);
    DORVE_DLG_RUN run;
    ASSERT_TRUE(DorveDlgRunAt(0, &run));
    EXPECT_EQ(run.nTemplate, 300);
    EXPECT_EQ(run.hOwner, hOwnerDlg);
}

TEST_F(DialogEngine, AMissingTemplateFailsToOpen)
{
    ASSERT_TRUE(dorvetest::LoadMonitorModule());
    SetLastError(0);
    EXPECT_EQ(DialogBoxParamA(ghInstance, MAKEINTRESOURCEA(999), nullptr, ProbeProc, 0), -1);
    EXPECT_EQ(GetLastError(), (DWORD)ERROR_RESOURCE_NAME_NOT_FOUND);
    EXPECT_TRUE(probe.trace.empty());
}

}  // namespace
