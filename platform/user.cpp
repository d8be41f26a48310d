// USER and GDI basics of the host layer.  There is no screen: the warning
// beep and message boxes are recorded for tests, and a message box answers
// from a queue the test fills (IDOK when it is empty), unless the dialog
// script of the owning dialog answers it (dialogs.cpp).

#include <windows.h>
#include <dorve/user_host.h>
#include <dorve/dialog_driver.h>

#include "dialogs.h"

#include <string.h>

#include <algorithm>
#include <deque>
#include <mutex>
#include <string>
#include <vector>

namespace {

struct UserState {
    std::mutex mtx;
    int cBeeps = 0;
    UINT uLastBeep = 0;
    std::deque<int> qAnswers;
    int cMessageBoxes = 0;
    std::string strBoxText;
    std::string strBoxCaption;
    UINT uBoxStyle = 0;
    HWND hBoxOwner = nullptr;
    int cWinHelp = 0;
    std::string strHelpFile;
    UINT uHelpCommand = 0;
    ULONG_PTR dwHelpData = 0;
    std::vector<LOGFONTA *> vFonts;
};

UserState &State()
{
    static UserState *pState = new UserState;   // outlives static destructors
    return *pState;
}

} // namespace

extern "C" {

BOOL WINAPI MessageBeep(UINT uType)
{
    std::lock_guard<std::mutex> lock(State().mtx);
    State().cBeeps++;
    State().uLastBeep = uType;
    return TRUE;
}

int WINAPI MessageBoxA(HWND hWnd, LPCSTR lpText, LPCSTR lpCaption, UINT uType)
{
    UserState &st = State();
    int id = IDOK;
    BOOL bScripted = DorveDlgTakeScriptedAnswer(hWnd, lpText, lpCaption, uType, &id);
    {
        std::lock_guard<std::mutex> lock(st.mtx);
        st.cMessageBoxes++;
        st.strBoxText = lpText == nullptr ? "" : lpText;
        // Windows shows "Error" when no caption is given.
        st.strBoxCaption = lpCaption == nullptr ? "Error" : lpCaption;
        st.uBoxStyle = uType;
        st.hBoxOwner = hWnd;
        if (!bScripted && !st.qAnswers.empty()) {
            id = st.qAnswers.front();
            st.qAnswers.pop_front();
        }
    }
    DorveDlgNoteMessageBox(hWnd, lpText, lpCaption, uType, id);
    return id;
}

BOOL WINAPI WinHelpA(HWND hWndMain, LPCSTR lpszHelp, UINT uCommand, ULONG_PTR dwData)
{
    UserState &st = State();
    std::lock_guard<std::mutex> lock(st.mtx);
    st.cWinHelp++;
    st.strHelpFile = lpszHelp == nullptr ? "" : lpszHelp;
    st.uHelpCommand = uCommand;
    st.dwHelpData = dwData;
    return TRUE;
}

// Dialog boxes and their windows are in dialogs.cpp.

HFONT WINAPI CreateFontIndirectA(const LOGFONTA *lplf)
{
    if (lplf == nullptr) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return nullptr;
    }
    LOGFONTA *p = new LOGFONTA(*lplf);
    p->lfFaceName[LF_FACESIZE - 1] = '\0';
    std::lock_guard<std::mutex> lock(State().mtx);
    State().vFonts.push_back(p);
    return (HFONT)p;
}

HFONT WINAPI CreateFontA(int cHeight, int cWidth, int cEscapement, int cOrientation, int cWeight,
                         DWORD bItalic, DWORD bUnderline, DWORD bStrikeOut, DWORD iCharSet,
                         DWORD iOutPrecision, DWORD iClipPrecision, DWORD iQuality, DWORD iPitchAndFamily,
                         LPCSTR pszFaceName)
{
    LOGFONTA lf;
    memset(&lf, 0, sizeof(lf));
    lf.lfHeight = cHeight;
    lf.lfWidth = cWidth;
    lf.lfEscapement = cEscapement;
    lf.lfOrientation = cOrientation;
    lf.lfWeight = cWeight;
    lf.lfItalic = (BYTE)bItalic;
    lf.lfUnderline = (BYTE)bUnderline;
    lf.lfStrikeOut = (BYTE)bStrikeOut;
    lf.lfCharSet = (BYTE)iCharSet;
    lf.lfOutPrecision = (BYTE)iOutPrecision;
    lf.lfClipPrecision = (BYTE)iClipPrecision;
    lf.lfQuality = (BYTE)iQuality;
    lf.lfPitchAndFamily = (BYTE)iPitchAndFamily;
    if (pszFaceName != nullptr)
        strncpy(lf.lfFaceName, pszFaceName, LF_FACESIZE - 1);
    return CreateFontIndirectA(&lf);
}

BOOL WINAPI DeleteObject(HGDIOBJ ho)
{
    std::lock_guard<std::mutex> lock(State().mtx);
    auto &v = State().vFonts;
    auto it = std::find(v.begin(), v.end(), (LOGFONTA *)ho);
    if (it == v.end())
        return FALSE;
    delete *it;
    v.erase(it);
    return TRUE;
}

int DorveUserLiveFontCount(void)
{
    std::lock_guard<std::mutex> lock(State().mtx);
    return (int)State().vFonts.size();
}

int DorveBeepCount(void)
{
    std::lock_guard<std::mutex> lock(State().mtx);
    return State().cBeeps;
}

UINT DorveLastBeepType(void)
{
    std::lock_guard<std::mutex> lock(State().mtx);
    return State().uLastBeep;
}

void DorveUserQueueMessageBoxAnswer(int id)
{
    std::lock_guard<std::mutex> lock(State().mtx);
    State().qAnswers.push_back(id);
}

int DorveMessageBoxCount(void)
{
    std::lock_guard<std::mutex> lock(State().mtx);
    return State().cMessageBoxes;
}

const char *DorveLastMessageBoxText(void)
{
    std::lock_guard<std::mutex> lock(State().mtx);
    return State().strBoxText.c_str();
}

const char *DorveLastMessageBoxCaption(void)
{
    std::lock_guard<std::mutex> lock(State().mtx);
    return State().strBoxCaption.c_str();
}

UINT DorveLastMessageBoxStyle(void)
{
    std::lock_guard<std::mutex> lock(State().mtx);
    return State().uBoxStyle;
}

HWND DorveLastMessageBoxOwner(void)
{
    std::lock_guard<std::mutex> lock(State().mtx);
    return State().hBoxOwner;
}

int DorveWinHelpCount(void)
{
    std::lock_guard<std::mutex> lock(State().mtx);
    return State().cWinHelp;
}

const char *DorveLastWinHelpFile(void)
{
    std::lock_guard<std::mutex> lock(State().mtx);
    return State().strHelpFile.c_str();
}

UINT DorveLastWinHelpCommand(void)
{
    std::lock_guard<std::mutex> lock(State().mtx);
    return State().uHelpCommand;
}

ULONG_PTR DorveLastWinHelpData(void)
{
    std::lock_guard<std::mutex> lock(State().mtx);
    return State().dwHelpData;
}

void DorveUserReset(void)
{
    UserState &st = State();
    std::lock_guard<std::mutex> lock(st.mtx);
    st.cBeeps = 0;
    st.uLastBeep = 0;
    st.qAnswers.clear();
    st.cMessageBoxes = 0;
    st.strBoxText.clear();
    st.strBoxCaption.clear();
    st.uBoxStyle = 0;
    st.hBoxOwner = nullptr;
    st.cWinHelp = 0;
    st.strHelpFile.clear();
    st.uHelpCommand = 0;
    st.dwHelpData = 0;
}

} // extern "C"
