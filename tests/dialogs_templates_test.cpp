// The monitor's three dialog templates as windres compiled them into the
// module: frame, font, caption, and every control in tab order with its id,
// class, style, place, size and text.
#include <windows.h>
#include <dorve/dialog_driver.h>

#include <gtest/gtest.h>

#include <string.h>

#include <string>
#include <vector>

#include "testlib.h"

namespace {

INT_PTR CALLBACK PlainProc(HWND, UINT uMsg, WPARAM, LPARAM)
{
    return uMsg == WM_INITDIALOG ? TRUE : FALSE;
}

struct Opened {
    DORVE_DLG_FRAME frame;
    std::vector<DORVE_DLG_CONTROL> controls;
};

void Capture(void *ctx, HWND hDlg)
{
    Opened *o = (Opened *)ctx;
    DorveDlgGetFrame(hDlg, &o->frame);
    for (int i = 0; i < DorveDlgControlCount(hDlg); i++) {
        DORVE_DLG_CONTROL c;
        DorveDlgControlAt(hDlg, i, &c);
        o->controls.push_back(c);
    }
}

Opened Open(int id)
{
    Opened o;
    memset(&o.frame, 0, sizeof(o.frame));
    DorveDlgReset();
    DorveDlgScriptCall(Capture, &o);
    EXPECT_EQ(DialogBoxParamA(ghInstance, MAKEINTRESOURCEA(id), nullptr, PlainProc, 0), IDCANCEL);
    return o;
}

struct Want {
    int id;
    int kind;
    DWORD style;            // the bits that matter beyond WS_CHILD | WS_VISIBLE
    short x, y, cx, cy;
    const char *text;
};

const DWORD kEdit = ES_LEFT | ES_AUTOHSCROLL | WS_BORDER | WS_TABSTOP;
const DWORD kLabel = SS_LEFT | WS_GROUP;
const DWORD kCentre = SS_CENTER | WS_GROUP;
const DWORD kPush = BS_PUSHBUTTON | WS_TABSTOP;
const DWORD kFrame = BS_GROUPBOX;
const DWORD kRadio = BS_AUTORADIOBUTTON;
const DWORD kCheck = BS_AUTOCHECKBOX | WS_TABSTOP;
const DWORD kSpin = 0x0001;     // SBS_VERT
const DWORD kFrameStyle = WS_POPUP | WS_VISIBLE | WS_CAPTION | WS_SYSMENU | DS_MODALFRAME | DS_SETFONT |
                          DS_3DLOOK;

void ExpectControls(const Opened &o, const std::vector<Want> &want)
{
    ASSERT_EQ(o.controls.size(), want.size());
    for (size_t i = 0; i < want.size(); i++) {
        const DORVE_DLG_CONTROL &c = o.controls[i];
        const Want &w = want[i];
        SCOPED_TRACE("control " + std::to_string(i) + " id " + std::to_string(w.id));
        EXPECT_EQ((WORD)c.nId, (WORD)w.id);
        EXPECT_EQ(c.nKind, w.kind);
        EXPECT_EQ(c.dwStyle, w.style | WS_CHILD | WS_VISIBLE);
        EXPECT_EQ(c.x, w.x);
        EXPECT_EQ(c.y, w.y);
        EXPECT_EQ(c.cx, w.cx);
        EXPECT_EQ(c.cy, w.cy);
        EXPECT_STREQ(c.szText, w.text);
    }
}

void ExpectFrame(const Opened &o, short cx, short cy, const char *caption)
{
    EXPECT_EQ(o.frame.dwStyle, kFrameStyle);
    EXPECT_EQ(o.frame.x, 6);
    EXPECT_EQ(o.frame.y, 18);
    EXPECT_EQ(o.frame.cx, cx);
    EXPECT_EQ(o.frame.cy, cy);
    EXPECT_STREQ(o.frame.szCaption, caption);
    EXPECT_STREQ(o.frame.szFont, "MS Gothic");
    EXPECT_EQ(o.frame.wPointSize, 8);
}

class Templates : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(dorvetest::LoadMonitorModule()); }
    void TearDown() override { DorveDlgReset(); }
};

TEST_F(Templates, AddPort)
{
    Opened o = Open(100);
    ExpectFrame(o, 235, 170, u8"ポートの追加");
    ExpectControls(o, {
        {-1, DORVE_CTL_GROUPBOX, kFrame, 3, 60, 165, 63, u8"マニュアル設定"},
        {-1, DORVE_CTL_STATIC, kLabel, 7, 81, 47, 8, u8"ポート名称"},
        {101, DORVE_CTL_EDIT, kEdit, 67, 79, 96, 12, ""},
        {-1, DORVE_CTL_STATIC, kLabel, 7, 98, 47, 8, u8"IPアドレス"},
        {102, DORVE_CTL_EDIT, kEdit, 67, 98, 96, 12, ""},
        {-1, DORVE_CTL_GROUPBOX, kFrame, 3, 131, 224, 32, ""},
        {213, DORVE_CTL_STATIC, kLabel, 18, 137, 200, 24, ""},
        {IDOK, DORVE_CTL_PUSH, kPush, 173, 23, 58, 16, "OK"},
        {IDCANCEL, DORVE_CTL_PUSH, kPush, 173, 50, 57, 16, u8"キャンセル"},
        {9, DORVE_CTL_PUSH, kPush, 173, 77, 57, 16, u8"ヘルプ"},
        {4, DORVE_CTL_PUSH, kPush, 173, 105, 57, 16, u8"バージョン情報"},
        {-1, DORVE_CTL_GROUPBOX, kFrame, 4, 19, 163, 38, u8"プリンタの検索"},
        {6, DORVE_CTL_PUSH, kPush, 24, 33, 123, 16, u8"検索開始"},
        {215, DORVE_CTL_RADIO, kRadio, 141, 4, 68, 10, u8"マニュアル設定"},
        {216, DORVE_CTL_RADIO, kRadio, 5, 4, 128, 10, u8"自動検索"},
    });
}

TEST_F(Templates, ConfigurePort)
{
    Opened o = Open(200);
    ExpectFrame(o, 274, 141, u8"ポートの設定");
    ExpectControls(o, {
        {-1, DORVE_CTL_GROUPBOX, kFrame, 9, 2, 186, 82, u8"時間設定"},
        {-1, DORVE_CTL_STATIC, kLabel, 18, 25, 103, 8, u8"ステータスの確認"},
        {203, DORVE_CTL_EDIT, kEdit, 125, 24, 17, 12, ""},
        {204, DORVE_CTL_SCROLLBAR, kSpin, 142, 22, 10, 12, ""},
        {-1, DORVE_CTL_STATIC, kLabel, 155, 25, 32, 8, u8"秒毎"},
        {-1, DORVE_CTL_STATIC, kLabel, 18, 45, 103, 8, u8"タイムアウト"},
        {205, DORVE_CTL_EDIT, kEdit, 125, 43, 17, 12, ""},
        {206, DORVE_CTL_SCROLLBAR, kSpin, 142, 43, 10, 12, ""},
        {-1, DORVE_CTL_STATIC, kLabel, 155, 45, 32, 8, u8"秒"},
        {-1, DORVE_CTL_STATIC, kLabel, 17, 65, 103, 8, u8"送信待ちタイムアウト"},
        {207, DORVE_CTL_EDIT, kEdit, 125, 62, 17, 12, ""},
        {208, DORVE_CTL_SCROLLBAR, kSpin, 142, 64, 10, 12, ""},
        {-1, DORVE_CTL_STATIC, kLabel, 155, 65, 32, 8, u8"分"},
        {212, DORVE_CTL_CHECKBOX, kCheck, 12, 90, 94, 10, u8"警告音"},
        {-1, DORVE_CTL_GROUPBOX, kFrame, 9, 103, 264, 33, ""},
        {213, DORVE_CTL_STATIC, kLabel, 15, 111, 252, 16, ""},
        {IDOK, DORVE_CTL_PUSH, kPush, 201, 6, 61, 16, "OK"},
        {IDCANCEL, DORVE_CTL_PUSH, kPush, 202, 27, 61, 16, u8"キャンセル"},
        {9, DORVE_CTL_PUSH, kPush, 201, 48, 61, 16, u8"ヘルプ"},
        {4, DORVE_CTL_PUSH, kPush, 202, 69, 61, 16, u8"バージョン情報"},
        {214, DORVE_CTL_CHECKBOX, kCheck, 111, 90, 101, 10, u8"排紙終了通知"},
    });
}

TEST_F(Templates, About)
{
    Opened o = Open(300);
    ExpectFrame(o, 173, 100, u8"プリントモニターのバージョン情報");
    ASSERT_EQ(o.controls.size(), 5u);
    EXPECT_STRNE(o.controls[3].szText, "");     // the notice line is ours to choose
    std::string notice = o.controls[3].szText;
    ExpectControls(o, {
        {-1, DORVE_CTL_GROUPBOX, kFrame, 11, 6, 150, 60, ""},
        {-1, DORVE_CTL_STATIC, kCentre, 55, 17, 63, 8, u8"プリントモニター"},
        {-1, DORVE_CTL_STATIC, kCentre, 55, 32, 63, 8, "Version 2.0.0"},
        {-1, DORVE_CTL_STATIC, kCentre, 23, 47, 126, 8, notice.c_str()},
        {IDOK, DORVE_CTL_PUSH, kPush, 67, 75, 40, 16, "OK"},
    });
}

}  // namespace
