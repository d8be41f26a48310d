// Modal dialogs of the host layer: templates parsed into window records,
// one control object per item, and a modal loop fed by a script
// (dorve/dialog_driver.h) instead of a mouse and a keyboard.
//
// Windows belong to the thread that runs the dialog, as in USER; one
// recursive lock keeps the records whole when another thread asks about
// them, and is held while the dialog procedure runs, since the procedure
// calls straight back into these functions.

#include <windows.h>
#include <dorve/dialog_driver.h>
#include <dorve/user_host.h>

#include "dialogs.h"

#include <limits.h>
#include <stdio.h>
#include <string.h>

#include <deque>
#include <mutex>
#include <string>
#include <unordered_set>
#include <vector>

namespace {

const DWORD kDefaultEditLimit = 30000;
const DWORD kErrorControlIdNotFound = 1421;     // ERROR_CONTROL_ID_NOT_FOUND

struct Wnd {
    bool bAlive = true;
    bool bDialog = false;
    Wnd *pDialog = nullptr;         // controls: their dialog
    HWND hOwner = nullptr;          // dialogs: the owner window
    int nId = 0;
    bool bWordId = false;           // the id came from a DLGTEMPLATE (16 bits)
    int nKind = DORVE_CTL_OTHER;
    std::string strClass;
    DWORD dwStyle = 0;
    DWORD dwExStyle = 0;
    short x = 0, y = 0, cx = 0, cy = 0;
    std::string strText;
    DWORD dwLimit = kDefaultEditLimit;
    DWORD dwSelStart = 0, dwSelEnd = 0;
    UINT uCheck = BST_UNCHECKED;
    bool bEnabled = true;
    HFONT hFont = nullptr;

    // Dialogs only.
    int nTemplate = 0;
    DLGPROC lpfnDlg = nullptr;
    LPARAM lInitParam = 0;
    std::vector<Wnd *> vChildren;
    bool bEnded = false;
    bool bRanOut = false;
    INT_PTR nResult = 0;
    bool bExtended = false;
    std::string strFont;
    WORD wPointSize = 0;
    Wnd *pSavedFocus = nullptr;     // focus to give back when a dialog above closes
};

enum StepKind { kType, kClick, kSelect, kHover, kHoverDialog, kKey, kClose, kSpin, kAnswer, kCall };

struct Step {
    explicit Step(StepKind k) : kind(k) {}
    StepKind kind;
    std::string strText;
    int nId = 0;
    int a = 0, b = 0;
    DORVE_DLG_CALLBACK fn = nullptr;
    void *ctx = nullptr;
};

struct Engine {
    std::recursive_mutex mtx;
    std::unordered_set<Wnd *> setAll;   // every record ever made; none is freed
    std::vector<Wnd *> vModal;          // open dialogs, topmost last
    Wnd *pFocus = nullptr;
    std::deque<Step> qScript;
    int cUnusedAnswers = 0;
    int cForeground = 0;
    std::vector<DORVE_DLG_MSGBOX> vBoxes;
    std::vector<DORVE_DLG_MESSAGE> vMessages;
    std::vector<DORVE_DLG_RUN> vRuns;
    DORVE_DLG_ANSWERER pfnAnswerer = nullptr;
    void *pAnswererCtx = nullptr;
};

Engine &Eng()
{
    static Engine *pEngine = new Engine;    // outlives static destructors
    return *pEngine;
}

using Lock = std::lock_guard<std::recursive_mutex>;

Wnd *Live(HWND hWnd)
{
    Wnd *p = (Wnd *)hWnd;
    if (p == nullptr || Eng().setAll.count(p) == 0 || !p->bAlive)
        return nullptr;
    return p;
}

Wnd *LiveOrFail(HWND hWnd)
{
    Wnd *p = Live(hWnd);
    if (p == nullptr)
        SetLastError(ERROR_INVALID_WINDOW_HANDLE);
    return p;
}

HWND H(Wnd *p) { return (HWND)p; }

Wnd *DialogOf(Wnd *p) { return p == nullptr ? nullptr : (p->bDialog ? p : p->pDialog); }

int TemplateOf(Wnd *p)
{
    Wnd *pDlg = DialogOf(p);
    return pDlg == nullptr ? -1 : pDlg->nTemplate;
}

bool SameId(const Wnd *p, int nId)
{
    if (p->bWordId)
        return (WORD)p->nId == (WORD)nId;
    return p->nId == nId;
}

Wnd *Child(Wnd *pDlg, int nId)
{
    if (pDlg == nullptr)
        return nullptr;
    for (Wnd *p : pDlg->vChildren) {
        if (SameId(p, nId))
            return p;
    }
    return nullptr;
}

// ---- UTF-16 template text to the ANSI code page (UTF-8 here) ----

void AppendUtf8(std::string &s, DWORD cp)
{
    if (cp < 0x80) {
        s += (char)cp;
    } else if (cp < 0x800) {
        s += (char)(0xC0 | (cp >> 6));
        s += (char)(0x80 | (cp & 0x3F));
    } else if (cp < 0x10000) {
        s += (char)(0xE0 | (cp >> 12));
        s += (char)(0x80 | ((cp >> 6) & 0x3F));
        s += (char)(0x80 | (cp & 0x3F));
    } else {
        s += (char)(0xF0 | (cp >> 18));
        s += (char)(0x80 | ((cp >> 12) & 0x3F));
        s += (char)(0x80 | ((cp >> 6) & 0x3F));
        s += (char)(0x80 | (cp & 0x3F));
    }
}

size_t Utf8SeqLen(unsigned char b)
{
    if (b < 0x80)
        return 1;
    if ((b & 0xE0) == 0xC0)
        return 2;
    if ((b & 0xF0) == 0xE0)
        return 3;
    if ((b & 0xF8) == 0xF0)
        return 4;
    return 1;
}

bool IsContinuation(unsigned char b) { return (b & 0xC0) == 0x80; }

// The longest prefix of s that fits cbMax bytes without splitting a
// character.
size_t WholePrefix(const std::string &s, size_t cbMax)
{
    if (s.size() <= cbMax)
        return s.size();
    size_t n = cbMax;
    while (n > 0 && IsContinuation((unsigned char)s[n]))
        n--;
    return n;
}

// Copies into a C buffer of cch bytes, cut at a whole character.
size_t CopyOut(const std::string &s, char *buf, size_t cch)
{
    if (buf == nullptr || cch == 0)
        return 0;
    size_t n = WholePrefix(s, cch - 1);
    memcpy(buf, s.data(), n);
    buf[n] = '\0';
    return n;
}

// ---- Template parsing ----

struct Reader {
    const BYTE *p;
    const BYTE *pEnd;
    bool bOk = true;

    bool Need(size_t n)
    {
        if (!bOk || (size_t)(pEnd - p) < n)
            bOk = false;
        return bOk;
    }
    WORD Word()
    {
        if (!Need(2))
            return 0;
        WORD w = (WORD)(p[0] | (p[1] << 8));
        p += 2;
        return w;
    }
    DWORD Dword()
    {
        WORD lo = Word();
        WORD hi = Word();
        return (DWORD)lo | ((DWORD)hi << 16);
    }
    short Short() { return (short)Word(); }
    void AlignDword(const BYTE *pBase)
    {
        size_t off = (size_t)(p - pBase);
        size_t pad = (4 - (off & 3)) & 3;
        if ((size_t)(pEnd - p) < pad)
            p = pEnd;
        else
            p += pad;
    }
    std::string String()
    {
        std::string s;
        for (;;) {
            WORD w = Word();
            if (!bOk || w == 0)
                return s;
            DWORD cp = w;
            if (w >= 0xD800 && w < 0xDC00 && Need(2)) {
                WORD w2 = (WORD)(p[0] | (p[1] << 8));
                if (w2 >= 0xDC00 && w2 < 0xE000) {
                    p += 2;
                    cp = 0x10000 + (((DWORD)w - 0xD800) << 10) + (w2 - 0xDC00);
                }
            }
            AppendUtf8(s, cp);
        }
    }
    // sz_Or_Ord: nothing, an ordinal, or a string.
    void NameOrOrdinal(std::string &s, int &nOrdinal)
    {
        s.clear();
        nOrdinal = -1;
        if (!Need(2))
            return;
        WORD w = (WORD)(p[0] | (p[1] << 8));
        if (w == 0x0000) {
            p += 2;
        } else if (w == 0xFFFF) {
            p += 2;
            nOrdinal = Word();
        } else {
            s = String();
        }
    }
};

int KindOf(const std::string &strClass, DWORD dwStyle)
{
    if (strClass == "BUTTON") {
        switch (dwStyle & 0x0F) {
        case BS_PUSHBUTTON:
        case BS_DEFPUSHBUTTON:
        case BS_USERBUTTON:
        case BS_OWNERDRAW:
            return DORVE_CTL_PUSH;
        case BS_CHECKBOX:
        case BS_AUTOCHECKBOX:
        case BS_3STATE:
        case BS_AUTO3STATE:
            return DORVE_CTL_CHECKBOX;
        case BS_RADIOBUTTON:
        case BS_AUTORADIOBUTTON:
            return DORVE_CTL_RADIO;
        case BS_GROUPBOX:
            return DORVE_CTL_GROUPBOX;
        default:
            return DORVE_CTL_PUSH;
        }
    }
    if (strClass == "EDIT")
        return DORVE_CTL_EDIT;
    if (strClass == "STATIC")
        return DORVE_CTL_STATIC;
    if (strClass == "SCROLLBAR")
        return DORVE_CTL_SCROLLBAR;
    return DORVE_CTL_OTHER;
}

std::string ClassOfAtom(int nAtom)
{
    switch (nAtom) {
    case 0x80: return "BUTTON";
    case 0x81: return "EDIT";
    case 0x82: return "STATIC";
    case 0x83: return "LISTBOX";
    case 0x84: return "SCROLLBAR";
    case 0x85: return "COMBOBOX";
    default: return "#" + std::to_string(nAtom);
    }
}

std::string Upper(std::string s)
{
    for (char &c : s) {
        if (c >= 'a' && c <= 'z')
            c = (char)(c - 'a' + 'A');
    }
    return s;
}

Wnd *NewWnd()
{
    Wnd *p = new Wnd;
    Eng().setAll.insert(p);
    return p;
}

// Fills a dialog record and its controls from a template; false when the
// template is cut short.
bool ParseTemplate(const BYTE *pBase, DWORD cb, Wnd *pDlg)
{
    Reader r{pBase, pBase + cb};
    WORD cItems = 0;
    std::string strIgnored;
    int nIgnored;

    if (cb >= 4 && r.p[0] == 1 && r.p[1] == 0 && r.p[2] == 0xFF && r.p[3] == 0xFF) {
        pDlg->bExtended = true;
        r.Dword();                  // version and signature
        r.Dword();                  // help id
        pDlg->dwExStyle = r.Dword();
        pDlg->dwStyle = r.Dword();
    } else {
        pDlg->dwStyle = r.Dword();
        pDlg->dwExStyle = r.Dword();
    }
    cItems = r.Word();
    pDlg->x = r.Short();
    pDlg->y = r.Short();
    pDlg->cx = r.Short();
    pDlg->cy = r.Short();
    r.NameOrOrdinal(strIgnored, nIgnored);     // menu
    r.NameOrOrdinal(strIgnored, nIgnored);     // window class
    pDlg->strText = r.String();
    if (pDlg->dwStyle & DS_SETFONT) {
        pDlg->wPointSize = r.Word();
        if (pDlg->bExtended) {
            r.Word();               // weight
            r.Word();               // italic, character set
        }
        pDlg->strFont = r.String();
    }
    if (!r.bOk)
        return false;

    for (WORD i = 0; i < cItems; i++) {
        r.AlignDword(pBase);
        Wnd *pCtl = NewWnd();
        pCtl->pDialog = pDlg;
        pDlg->vChildren.push_back(pCtl);
        if (pDlg->bExtended) {
            r.Dword();              // help id
            pCtl->dwExStyle = r.Dword();
            pCtl->dwStyle = r.Dword();
        } else {
            pCtl->dwStyle = r.Dword();
            pCtl->dwExStyle = r.Dword();
        }
        pCtl->x = r.Short();
        pCtl->y = r.Short();
        pCtl->cx = r.Short();
        pCtl->cy = r.Short();
        if (pDlg->bExtended) {
            pCtl->nId = (int)r.Dword();
        } else {
            pCtl->nId = r.Word();
            pCtl->bWordId = true;
        }
        std::string strClass;
        int nAtom;
        r.NameOrOrdinal(strClass, nAtom);
        pCtl->strClass = nAtom >= 0 ? ClassOfAtom(nAtom) : Upper(strClass);
        int nTextOrdinal;
        r.NameOrOrdinal(pCtl->strText, nTextOrdinal);
        WORD cbExtra = r.Word();
        if (r.Need(cbExtra))
            r.p += cbExtra;
        if (!r.bOk)
            return false;
        pCtl->nKind = KindOf(pCtl->strClass, pCtl->dwStyle);
        pCtl->bEnabled = (pCtl->dwStyle & WS_DISABLED) == 0;
    }
    return true;
}

// ---- Sending to the dialog procedure ----

INT_PTR SendToDialog(Wnd *pDlg, UINT uMsg, WPARAM wParam, LPARAM lParam)
{
    if (pDlg == nullptr || !pDlg->bAlive || pDlg->lpfnDlg == nullptr)
        return 0;
    INT_PTR nResult = pDlg->lpfnDlg(H(pDlg), uMsg, wParam, lParam);
    DORVE_DLG_MESSAGE m;
    m.hDlg = H(pDlg);
    m.nTemplate = pDlg->nTemplate;
    m.uMsg = uMsg;
    m.wParam = wParam;
    m.lParam = lParam;
    m.nResult = nResult;
    Eng().vMessages.push_back(m);
    return nResult;
}

WPARAM CommandWParam(int nId, UINT uCode) { return (WPARAM)(DWORD)MAKELONG((WORD)nId, (WORD)uCode); }

void Notify(Wnd *pCtl, UINT uCode)
{
    if (pCtl == nullptr || pCtl->pDialog == nullptr)
        return;
    SendToDialog(pCtl->pDialog, WM_COMMAND, CommandWParam(pCtl->nId, uCode), (LPARAM)H(pCtl));
}

void EditChanged(Wnd *pEdit)
{
    Notify(pEdit, EN_UPDATE);
    Notify(pEdit, EN_CHANGE);
}

// ---- Focus ----

void MoveFocus(Wnd *pNew)
{
    Engine &e = Eng();
    Wnd *pOld = e.pFocus;
    if (pOld == pNew)
        return;
    e.pFocus = pNew;
    if (pOld != nullptr && pOld->bAlive && pOld->nKind == DORVE_CTL_EDIT)
        Notify(pOld, EN_KILLFOCUS);
    if (pNew != nullptr && pNew->nKind == DORVE_CTL_EDIT && e.pFocus == pNew)
        Notify(pNew, EN_SETFOCUS);
}

bool IsTabStop(const Wnd *p)
{
    return p->bAlive && p->bEnabled && (p->dwStyle & WS_TABSTOP) && (p->dwStyle & WS_VISIBLE);
}

Wnd *NextTabStop(Wnd *pDlg, Wnd *pFrom)
{
    size_t n = pDlg->vChildren.size();
    size_t start = 0;
    for (size_t i = 0; i < n; i++) {
        if (pDlg->vChildren[i] == pFrom) {
            start = i + 1;
            break;
        }
    }
    for (size_t k = 0; k < n; k++) {
        Wnd *p = pDlg->vChildren[(start + k) % n];
        if (IsTabStop(p))
            return p;
    }
    return nullptr;
}

// The dialog manager's way of giving a control the focus: an edit gets all
// its text selected.
void DialogFocus(Wnd *p)
{
    if (p == nullptr)
        return;
    if (p->nKind == DORVE_CTL_EDIT) {
        p->dwSelStart = 0;
        p->dwSelEnd = (DWORD)p->strText.size();
    }
    MoveFocus(p);
}

// ---- Control behaviour ----

void SetText(Wnd *p, const std::string &s)
{
    p->strText = s;
    if (p->nKind == DORVE_CTL_EDIT) {
        p->dwSelStart = p->dwSelEnd = 0;
        EditChanged(p);
    }
}

void SetSel(Wnd *p, LONG lStart, LONG lEnd)
{
    DWORD len = (DWORD)p->strText.size();
    if (lStart < 0) {               // deselect, caret stays
        p->dwSelStart = p->dwSelEnd;
        return;
    }
    DWORD s = (DWORD)lStart;
    DWORD e = lEnd < 0 ? len : (DWORD)lEnd;
    if (s > len)
        s = len;
    if (e > len)
        e = len;
    if (s > e) {
        DWORD t = s;
        s = e;
        e = t;
    }
    p->dwSelStart = s;
    p->dwSelEnd = e;
}

void TypeChar(Wnd *p, const std::string &ch)
{
    if (p->dwStyle & ES_READONLY)
        return;
    if ((p->dwStyle & ES_NUMBER) && !(ch.size() == 1 && ch[0] >= '0' && ch[0] <= '9'))
        return;
    std::string c = ch;
    if (c.size() == 1 && (p->dwStyle & ES_UPPERCASE) && c[0] >= 'a' && c[0] <= 'z')
        c[0] = (char)(c[0] - 'a' + 'A');
    if (c.size() == 1 && (p->dwStyle & ES_LOWERCASE) && c[0] >= 'A' && c[0] <= 'Z')
        c[0] = (char)(c[0] - 'A' + 'a');
    size_t newLen = p->strText.size() - (p->dwSelEnd - p->dwSelStart) + c.size();
    if (newLen > p->dwLimit) {
        Notify(p, EN_MAXTEXT);
        return;
    }
    p->strText.replace(p->dwSelStart, p->dwSelEnd - p->dwSelStart, c);
    p->dwSelStart += (DWORD)c.size();
    p->dwSelEnd = p->dwSelStart;
    EditChanged(p);
}

void Backspace(Wnd *p)
{
    if (p->dwStyle & ES_READONLY)
        return;
    if (p->dwSelStart == p->dwSelEnd) {
        if (p->dwSelStart == 0)
            return;
        DWORD s = p->dwSelStart - 1;
        while (s > 0 && IsContinuation((unsigned char)p->strText[s]))
            s--;
        p->dwSelStart = s;
    }
    p->strText.erase(p->dwSelStart, p->dwSelEnd - p->dwSelStart);
    p->dwSelEnd = p->dwSelStart;
    EditChanged(p);
}

bool IsAutoRadio(const Wnd *p)
{
    return p->nKind == DORVE_CTL_RADIO && (p->dwStyle & 0x0F) == BS_AUTORADIOBUTTON;
}

// The group of a control: from the nearest control at or before it that has
// WS_GROUP up to the next one that has it.
void GroupBounds(Wnd *pDlg, Wnd *pCtl, size_t &first, size_t &last)
{
    size_t n = pDlg->vChildren.size();
    size_t i = 0;
    while (i < n && pDlg->vChildren[i] != pCtl)
        i++;
    first = i;
    while (first > 0 && !(pDlg->vChildren[first]->dwStyle & WS_GROUP))
        first--;
    last = i;
    while (last + 1 < n && !(pDlg->vChildren[last + 1]->dwStyle & WS_GROUP))
        last++;
}

void ClickButton(Wnd *p)
{
    DWORD type = p->dwStyle & 0x0F;
    if (type == BS_AUTOCHECKBOX) {
        p->uCheck = p->uCheck == BST_CHECKED ? BST_UNCHECKED : BST_CHECKED;
    } else if (type == BS_AUTO3STATE) {
        p->uCheck = (p->uCheck + 1) % 3;
    } else if (type == BS_AUTORADIOBUTTON) {
        size_t first, last;
        GroupBounds(p->pDialog, p, first, last);
        for (size_t i = first; i <= last && i < p->pDialog->vChildren.size(); i++) {
            Wnd *q = p->pDialog->vChildren[i];
            if (q != p && IsAutoRadio(q))
                q->uCheck = BST_UNCHECKED;
        }
        p->uCheck = BST_CHECKED;
    }
    Notify(p, BN_CLICKED);
}

bool TakesClicks(const Wnd *p)
{
    return p->bAlive && p->bEnabled && p->nKind != DORVE_CTL_STATIC && p->nKind != DORVE_CTL_GROUPBOX;
}

void Click(Wnd *pDlg, Wnd *p)
{
    if (p == nullptr || !TakesClicks(p))
        return;
    if (p->nKind == DORVE_CTL_EDIT) {
        p->dwSelStart = p->dwSelEnd = (DWORD)p->strText.size();
        MoveFocus(p);
        return;
    }
    if (p->nKind == DORVE_CTL_SCROLLBAR) {
        if (p->dwStyle & WS_TABSTOP)
            MoveFocus(p);
        return;
    }
    MoveFocus(p);
    if (p->nKind == DORVE_CTL_PUSH || p->nKind == DORVE_CTL_CHECKBOX || p->nKind == DORVE_CTL_RADIO)
        ClickButton(p);
}

void Command(Wnd *pDlg, int nId, Wnd *pCtl)
{
    SendToDialog(pDlg, WM_COMMAND, CommandWParam(nId, BN_CLICKED), (LPARAM)H(pCtl));
}

void Enter(Wnd *pDlg)
{
    Engine &e = Eng();
    Wnd *pButton = nullptr;
    if (e.pFocus != nullptr && e.pFocus->pDialog == pDlg && e.pFocus->nKind == DORVE_CTL_PUSH)
        pButton = e.pFocus;
    if (pButton == nullptr) {
        for (Wnd *p : pDlg->vChildren) {
            if (p->nKind == DORVE_CTL_PUSH && (p->dwStyle & 0x0F) == BS_DEFPUSHBUTTON) {
                pButton = p;
                break;
            }
        }
    }
    if (pButton == nullptr)
        pButton = Child(pDlg, IDOK);
    if (pButton != nullptr && !pButton->bEnabled)
        return;
    Command(pDlg, pButton != nullptr ? pButton->nId : IDOK, pButton);
}

void Escape(Wnd *pDlg)
{
    Wnd *pCancel = Child(pDlg, IDCANCEL);
    if (pCancel != nullptr && !pCancel->bEnabled)
        return;
    Command(pDlg, IDCANCEL, pCancel);
}

void CloseBox(Wnd *pDlg)
{
    if (SendToDialog(pDlg, WM_CLOSE, 0, 0))
        return;
    if (pDlg->bAlive && !pDlg->bEnded)
        Escape(pDlg);
}

// Labels, frames and disabled controls do not take the pointer: it falls
// through to the dialog.
void Hover(Wnd *pDlg, Wnd *p)
{
    Wnd *pUnder = p;
    if (p == nullptr || !p->bEnabled || p->nKind == DORVE_CTL_STATIC || p->nKind == DORVE_CTL_GROUPBOX)
        pUnder = pDlg;
    SendToDialog(pDlg, WM_SETCURSOR, (WPARAM)H(pUnder), MAKELONG(1 /* HTCLIENT */, WM_MOUSEMOVE));
}

void Spin(Wnd *pDlg, Wnd *p, int nCode)
{
    if (p == nullptr || !p->bEnabled || p->nKind != DORVE_CTL_SCROLLBAR)
        return;
    UINT uMsg = (p->dwStyle & 0x01) ? WM_VSCROLL : WM_HSCROLL;   // SBS_VERT
    SendToDialog(pDlg, uMsg, (WPARAM)(WORD)nCode, (LPARAM)H(p));
    if (pDlg->bAlive && !pDlg->bEnded)
        SendToDialog(pDlg, uMsg, SB_ENDSCROLL, (LPARAM)H(p));
}

// Splits UTF-8 text into characters, one keystroke each.
std::vector<std::string> Keystrokes(const std::string &s)
{
    std::vector<std::string> v;
    size_t i = 0;
    while (i < s.size()) {
        size_t n = Utf8SeqLen((unsigned char)s[i]);
        if (i + n > s.size())
            n = s.size() - i;
        v.push_back(s.substr(i, n));
        i += n;
    }
    return v;
}

void RunStep(Wnd *pDlg, const Step &st)
{
    Engine &e = Eng();
    switch (st.kind) {
    case kType:
        for (const std::string &ch : Keystrokes(st.strText)) {
            Wnd *p = e.pFocus;
            if (!pDlg->bAlive || pDlg->bEnded || p == nullptr || p->pDialog != pDlg ||
                p->nKind != DORVE_CTL_EDIT || !p->bEnabled)
                break;
            TypeChar(p, ch);
        }
        break;
    case kClick:
        Click(pDlg, Child(pDlg, st.nId));
        break;
    case kSelect: {
        Wnd *p = Child(pDlg, st.nId);
        if (p != nullptr && p->nKind == DORVE_CTL_EDIT && TakesClicks(p)) {
            Click(pDlg, p);
            if (e.pFocus == p)
                SetSel(p, st.a, st.b);
        }
        break;
    }
    case kHover:
        Hover(pDlg, Child(pDlg, st.nId));
        break;
    case kHoverDialog:
        Hover(pDlg, nullptr);
        break;
    case kKey:
        if (st.a == DORVE_KEY_ENTER) {
            Enter(pDlg);
        } else if (st.a == DORVE_KEY_ESCAPE) {
            Escape(pDlg);
        } else if (st.a == DORVE_KEY_TAB) {
            Wnd *pFrom = (e.pFocus != nullptr && e.pFocus->pDialog == pDlg) ? e.pFocus : nullptr;
            DialogFocus(NextTabStop(pDlg, pFrom));
        } else if (st.a == DORVE_KEY_BACK) {
            Wnd *p = e.pFocus;
            if (p != nullptr && p->pDialog == pDlg && p->nKind == DORVE_CTL_EDIT && p->bEnabled)
                Backspace(p);
        }
        break;
    case kClose:
        CloseBox(pDlg);
        break;
    case kSpin:
        Spin(pDlg, Child(pDlg, st.nId), st.a);
        break;
    case kAnswer:
        e.cUnusedAnswers++;         // no message box asked for it
        break;
    case kCall:
        if (st.fn != nullptr)
            st.fn(st.ctx, H(pDlg));
        break;
    }
}

void Push(const Step &st)
{
    Lock lock(Eng().mtx);
    Eng().qScript.push_back(st);
}

// ---- The modal dialog ----

void EndNow(Wnd *pDlg, INT_PTR nResult)
{
    pDlg->bEnded = true;
    pDlg->nResult = nResult;
}

void Destroy(Wnd *pDlg)
{
    Engine &e = Eng();
    // The focus leaves the dialog before it goes, as it does when its owner
    // is activated again.
    if (e.pFocus != nullptr && DialogOf(e.pFocus) == pDlg)
        MoveFocus(nullptr);
    SendToDialog(pDlg, WM_DESTROY, 0, 0);
    for (Wnd *p : pDlg->vChildren)
        p->bAlive = false;
    pDlg->bAlive = false;
}

INT_PTR RunDialog(Wnd *pDlg)
{
    Engine &e = Eng();
    Wnd *pOwner = Live(pDlg->hOwner);
    bool bOwnerWasEnabled = false;
    if (pOwner != nullptr) {
        // A modal dialog disables its owner; the owner's focus comes back
        // when the dialog is gone.
        bOwnerWasEnabled = pOwner->bEnabled;
        pOwner->bEnabled = false;
        Wnd *pOwnerDlg = DialogOf(pOwner);
        if (pOwnerDlg != nullptr && e.pFocus != nullptr && DialogOf(e.pFocus) == pOwnerDlg) {
            pOwnerDlg->pSavedFocus = e.pFocus;
            MoveFocus(nullptr);
        }
    }
    e.vModal.push_back(pDlg);

    Wnd *pFirst = NextTabStop(pDlg, nullptr);
    if (SendToDialog(pDlg, WM_INITDIALOG, (WPARAM)H(pFirst), pDlg->lInitParam) && !pDlg->bEnded)
        DialogFocus(NextTabStop(pDlg, nullptr));

    while (!pDlg->bEnded) {
        if (e.qScript.empty()) {
            pDlg->bRanOut = true;
            EndNow(pDlg, IDCANCEL);
            break;
        }
        Step st = e.qScript.front();
        e.qScript.pop_front();
        RunStep(pDlg, st);
    }

    Destroy(pDlg);
    e.vModal.pop_back();
    if (pOwner != nullptr && pOwner->bAlive) {
        pOwner->bEnabled = bOwnerWasEnabled;
        Wnd *pOwnerDlg = DialogOf(pOwner);
        if (pOwnerDlg != nullptr && pOwnerDlg->pSavedFocus != nullptr && pOwnerDlg->pSavedFocus->bAlive) {
            Wnd *pBack = pOwnerDlg->pSavedFocus;
            pOwnerDlg->pSavedFocus = nullptr;
            MoveFocus(pBack);
        }
    }

    DORVE_DLG_RUN run;
    run.nTemplate = pDlg->nTemplate;
    run.hOwner = pDlg->hOwner;
    run.lInitParam = pDlg->lInitParam;
    run.nResult = pDlg->nResult;
    run.bScriptRanOut = pDlg->bRanOut ? TRUE : FALSE;
    e.vRuns.push_back(run);
    return pDlg->nResult;
}

INT_PTR RunFromBytes(const BYTE *pBytes, DWORD cb, int nTemplate, HWND hOwner, DLGPROC lpfn,
                     LPARAM lParam)
{
    Wnd *pDlg = NewWnd();
    pDlg->bDialog = true;
    pDlg->nTemplate = nTemplate;
    pDlg->hOwner = hOwner;
    pDlg->lpfnDlg = lpfn;
    pDlg->lInitParam = lParam;
    if (!ParseTemplate(pBytes, cb, pDlg)) {
        for (Wnd *p : pDlg->vChildren)
            p->bAlive = false;
        pDlg->bAlive = false;
        SetLastError(ERROR_INVALID_PARAMETER);
        return -1;
    }
    pDlg->bEnabled = (pDlg->dwStyle & WS_DISABLED) == 0;
    return RunDialog(pDlg);
}

std::string TextOf(LPCSTR psz) { return psz == nullptr ? std::string() : std::string(psz); }

bool ParseUnsigned(const std::string &s, BOOL bSigned, long long &value)
{
    size_t i = 0;
    while (i < s.size() && s[i] == ' ')
        i++;
    bool bNegative = false;
    if (bSigned && i < s.size() && s[i] == '-') {
        bNegative = true;
        i++;
    }
    size_t digits = 0;
    long long v = 0;
    while (i < s.size() && s[i] >= '0' && s[i] <= '9') {
        v = v * 10 + (s[i] - '0');
        if (v > 0xFFFFFFFFLL)
            return false;
        i++;
        digits++;
    }
    while (i < s.size() && s[i] == ' ')
        i++;
    if (digits == 0 || i != s.size())
        return false;
    value = bNegative ? -v : v;
    if (bSigned && (value > INT_MAX || value < INT_MIN))
        return false;
    return true;
}

void FillControl(Wnd *p, DORVE_DLG_CONTROL *pc)
{
    memset(pc, 0, sizeof(*pc));
    pc->hWnd = H(p);
    pc->nId = p->nId;
    pc->nKind = p->nKind;
    CopyOut(p->strClass, pc->szClass, sizeof(pc->szClass));
    pc->dwStyle = p->dwStyle;
    pc->dwExStyle = p->dwExStyle;
    pc->x = p->x;
    pc->y = p->y;
    pc->cx = p->cx;
    pc->cy = p->cy;
    CopyOut(p->strText, pc->szText, sizeof(pc->szText));
    pc->uCheck = p->uCheck;
    pc->bEnabled = p->bEnabled ? TRUE : FALSE;
    pc->bFocused = Eng().pFocus == p ? TRUE : FALSE;
    pc->dwSelStart = p->dwSelStart;
    pc->dwSelEnd = p->dwSelEnd;
    pc->uLimit = p->dwLimit;
    pc->hFont = p->hFont;
}

LRESULT ControlMessage(Wnd *p, UINT uMsg, WPARAM wParam, LPARAM lParam)
{
    switch (uMsg) {
    case WM_SETTEXT:
        SetText(p, TextOf((LPCSTR)lParam));
        return TRUE;
    case WM_GETTEXT:
        return (LRESULT)CopyOut(p->strText, (char *)lParam, (size_t)wParam);
    case WM_GETTEXTLENGTH:
        return (LRESULT)p->strText.size();
    case WM_SETFONT:
        p->hFont = (HFONT)wParam;
        return 0;
    case WM_GETFONT:
        return (LRESULT)p->hFont;
    case EM_LIMITTEXT:
        if (p->nKind != DORVE_CTL_EDIT)
            return 0;
        p->dwLimit = wParam == 0 ? 0x7FFFFFFE : (DWORD)wParam;
        return 0;
    case EM_SETSEL:
        if (p->nKind == DORVE_CTL_EDIT)
            SetSel(p, (LONG)wParam, (LONG)lParam);
        return 0;
    case EM_GETSEL:
        if (p->nKind != DORVE_CTL_EDIT)
            return 0;
        if (wParam != 0)
            *(LPDWORD)wParam = p->dwSelStart;
        if (lParam != 0)
            *(LPDWORD)lParam = p->dwSelEnd;
        return (LRESULT)(DWORD)MAKELONG((WORD)p->dwSelStart, (WORD)p->dwSelEnd);
    case BM_GETCHECK:
        return (p->nKind == DORVE_CTL_CHECKBOX || p->nKind == DORVE_CTL_RADIO) ? p->uCheck : 0;
    case BM_SETCHECK:
        if (p->nKind == DORVE_CTL_CHECKBOX || p->nKind == DORVE_CTL_RADIO)
            p->uCheck = (UINT)wParam;
        return 0;
    default:
        return 0;
    }
}

} // namespace

// ---- Hooks for USER's message boxes (dialogs.h) ----

BOOL DorveDlgTakeScriptedAnswer(HWND hOwner, LPCSTR lpText, LPCSTR lpCaption, UINT uType, int *pnAnswer)
{
    if (hOwner == nullptr)
        return FALSE;
    Engine &e = Eng();
    Lock lock(e.mtx);
    if (DialogOf(Live(hOwner)) == nullptr)
        return FALSE;
    if (!e.qScript.empty() && e.qScript.front().kind == kAnswer) {
        *pnAnswer = e.qScript.front().a;
        e.qScript.pop_front();
        return TRUE;
    }
    if (e.pfnAnswerer == nullptr)
        return FALSE;
    int nAnswer = e.pfnAnswerer(e.pAnswererCtx, hOwner, lpText == nullptr ? "" : lpText,
                                lpCaption == nullptr ? "Error" : lpCaption, uType);
    if (nAnswer == 0)
        return FALSE;
    *pnAnswer = nAnswer;
    return TRUE;
}

void DorveDlgNoteMessageBox(HWND hOwner, LPCSTR lpText, LPCSTR lpCaption, UINT uType, int nAnswer)
{
    Engine &e = Eng();
    Lock lock(e.mtx);
    DORVE_DLG_MSGBOX box;
    memset(&box, 0, sizeof(box));
    box.hOwner = hOwner;
    box.nOwnerTemplate = TemplateOf(Live(hOwner));
    CopyOut(lpCaption == nullptr ? std::string("Error") : std::string(lpCaption), box.szCaption,
            sizeof(box.szCaption));
    CopyOut(TextOf(lpText), box.szText, sizeof(box.szText));
    box.uType = uType;
    box.nAnswer = nAnswer;
    e.vBoxes.push_back(box);
}

extern "C" {

// ---- USER ----

INT_PTR WINAPI DialogBoxParamA(HINSTANCE hInstance, LPCSTR lpTemplateName, HWND hWndParent,
                               DLGPROC lpDialogFunc, LPARAM dwInitParam)
{
    HRSRC hRes = FindResourceA((HMODULE)hInstance, lpTemplateName, RT_DIALOG);
    if (hRes == nullptr) {
        SetLastError(ERROR_RESOURCE_NAME_NOT_FOUND);
        return -1;
    }
    HGLOBAL hData = LoadResource((HMODULE)hInstance, hRes);
    const BYTE *pBytes = hData == nullptr ? nullptr : (const BYTE *)LockResource(hData);
    DWORD cb = SizeofResource((HMODULE)hInstance, hRes);
    if (pBytes == nullptr || cb == 0) {
        SetLastError(ERROR_RESOURCE_DATA_NOT_FOUND);
        return -1;
    }
    int nTemplate = IS_INTRESOURCE(lpTemplateName) ? (int)(WORD)(ULONG_PTR)lpTemplateName : 0;
    Lock lock(Eng().mtx);
    return RunFromBytes(pBytes, cb, nTemplate, hWndParent, lpDialogFunc, dwInitParam);
}

BOOL WINAPI EndDialog(HWND hDlg, INT_PTR nResult)
{
    Lock lock(Eng().mtx);
    Wnd *p = LiveOrFail(hDlg);
    if (p == nullptr || !p->bDialog) {
        SetLastError(ERROR_INVALID_WINDOW_HANDLE);
        return FALSE;
    }
    EndNow(p, nResult);
    return TRUE;
}

HWND WINAPI GetDlgItem(HWND hDlg, int nIDDlgItem)
{
    Lock lock(Eng().mtx);
    Wnd *p = LiveOrFail(hDlg);
    if (p == nullptr)
        return nullptr;
    Wnd *pCtl = p->bDialog ? Child(p, nIDDlgItem) : nullptr;
    if (pCtl == nullptr) {
        SetLastError(kErrorControlIdNotFound);
        return nullptr;
    }
    return H(pCtl);
}

int WINAPI GetDlgCtrlID(HWND hWnd)
{
    Lock lock(Eng().mtx);
    Wnd *p = LiveOrFail(hWnd);
    if (p == nullptr || p->bDialog)
        return 0;
    return p->nId;
}

BOOL WINAPI SetDlgItemTextA(HWND hDlg, int nIDDlgItem, LPCSTR lpString)
{
    Lock lock(Eng().mtx);
    HWND hCtl = GetDlgItem(hDlg, nIDDlgItem);
    if (hCtl == nullptr)
        return FALSE;
    SetText((Wnd *)hCtl, TextOf(lpString));
    return TRUE;
}

UINT WINAPI GetDlgItemTextA(HWND hDlg, int nIDDlgItem, LPSTR lpString, int cchMax)
{
    Lock lock(Eng().mtx);
    if (lpString != nullptr && cchMax > 0)
        lpString[0] = '\0';
    HWND hCtl = GetDlgItem(hDlg, nIDDlgItem);
    if (hCtl == nullptr || lpString == nullptr || cchMax <= 0)
        return 0;
    return (UINT)CopyOut(((Wnd *)hCtl)->strText, lpString, (size_t)cchMax);
}

BOOL WINAPI SetDlgItemInt(HWND hDlg, int nIDDlgItem, UINT uValue, BOOL bSigned)
{
    char sz[16];
    if (bSigned)
        snprintf(sz, sizeof(sz), "%d", (int)uValue);
    else
        snprintf(sz, sizeof(sz), "%u", uValue);
    return SetDlgItemTextA(hDlg, nIDDlgItem, sz);
}

UINT WINAPI GetDlgItemInt(HWND hDlg, int nIDDlgItem, BOOL *lpTranslated, BOOL bSigned)
{
    Lock lock(Eng().mtx);
    if (lpTranslated != nullptr)
        *lpTranslated = FALSE;
    HWND hCtl = GetDlgItem(hDlg, nIDDlgItem);
    long long value = 0;
    if (hCtl == nullptr || !ParseUnsigned(((Wnd *)hCtl)->strText, bSigned, value))
        return 0;
    if (lpTranslated != nullptr)
        *lpTranslated = TRUE;
    return (UINT)(DWORD)value;
}

BOOL WINAPI CheckRadioButton(HWND hDlg, int nIDFirstButton, int nIDLastButton, int nIDCheckButton)
{
    Lock lock(Eng().mtx);
    Wnd *p = LiveOrFail(hDlg);
    if (p == nullptr || !p->bDialog)
        return FALSE;
    for (Wnd *pCtl : p->vChildren) {
        int nId = pCtl->bWordId ? (int)(WORD)pCtl->nId : pCtl->nId;
        if (nId >= nIDFirstButton && nId <= nIDLastButton)
            ControlMessage(pCtl, BM_SETCHECK, SameId(pCtl, nIDCheckButton) ? BST_CHECKED : BST_UNCHECKED, 0);
    }
    return TRUE;
}

BOOL WINAPI CheckDlgButton(HWND hDlg, int nIDButton, UINT uCheck)
{
    Lock lock(Eng().mtx);
    HWND hCtl = GetDlgItem(hDlg, nIDButton);
    if (hCtl == nullptr)
        return FALSE;
    ControlMessage((Wnd *)hCtl, BM_SETCHECK, uCheck, 0);
    return TRUE;
}

UINT WINAPI IsDlgButtonChecked(HWND hDlg, int nIDButton)
{
    Lock lock(Eng().mtx);
    HWND hCtl = GetDlgItem(hDlg, nIDButton);
    if (hCtl == nullptr)
        return BST_UNCHECKED;
    return (UINT)ControlMessage((Wnd *)hCtl, BM_GETCHECK, 0, 0);
}

BOOL WINAPI EnableWindow(HWND hWnd, BOOL bEnable)
{
    Lock lock(Eng().mtx);
    Wnd *p = LiveOrFail(hWnd);
    if (p == nullptr)
        return FALSE;
    BOOL bWasDisabled = p->bEnabled ? FALSE : TRUE;
    p->bEnabled = bEnable != FALSE;
    // A window that is disabled loses the keyboard focus.
    if (!p->bEnabled && Eng().pFocus == p)
        MoveFocus(nullptr);
    return bWasDisabled;
}

BOOL WINAPI IsWindowEnabled(HWND hWnd)
{
    Lock lock(Eng().mtx);
    Wnd *p = LiveOrFail(hWnd);
    return (p != nullptr && p->bEnabled) ? TRUE : FALSE;
}

LRESULT WINAPI SendMessageA(HWND hWnd, UINT Msg, WPARAM wParam, LPARAM lParam)
{
    Lock lock(Eng().mtx);
    Wnd *p = LiveOrFail(hWnd);
    if (p == nullptr)
        return 0;
    if (p->bDialog) {
        if (Msg == WM_SETTEXT) {
            p->strText = TextOf((LPCSTR)lParam);
            return TRUE;
        }
        if (Msg == WM_GETTEXT || Msg == WM_GETTEXTLENGTH)
            return ControlMessage(p, Msg, wParam, lParam);
        return SendToDialog(p, Msg, wParam, lParam);
    }
    return ControlMessage(p, Msg, wParam, lParam);
}

LRESULT WINAPI SendDlgItemMessageA(HWND hDlg, int nIDDlgItem, UINT Msg, WPARAM wParam, LPARAM lParam)
{
    Lock lock(Eng().mtx);
    HWND hCtl = GetDlgItem(hDlg, nIDDlgItem);
    if (hCtl == nullptr)
        return 0;
    return SendMessageA(hCtl, Msg, wParam, lParam);
}

HWND WINAPI SetFocus(HWND hWnd)
{
    Lock lock(Eng().mtx);
    Engine &e = Eng();
    HWND hOld = H(e.pFocus);
    if (hWnd == nullptr) {
        MoveFocus(nullptr);
        return hOld;
    }
    Wnd *p = LiveOrFail(hWnd);
    if (p == nullptr)
        return nullptr;
    MoveFocus(p);
    return hOld;
}

HWND WINAPI GetFocus(void)
{
    Lock lock(Eng().mtx);
    return H(Eng().pFocus);
}

BOOL WINAPI SetForegroundWindow(HWND hWnd)
{
    Lock lock(Eng().mtx);
    if (LiveOrFail(hWnd) == nullptr)
        return FALSE;
    Eng().cForeground++;
    return TRUE;
}

HWND WINAPI GetParent(HWND hWnd)
{
    Lock lock(Eng().mtx);
    Wnd *p = LiveOrFail(hWnd);
    if (p == nullptr)
        return nullptr;
    return p->bDialog ? p->hOwner : H(p->pDialog);
}

BOOL WINAPI SetWindowTextA(HWND hWnd, LPCSTR lpString)
{
    return SendMessageA(hWnd, WM_SETTEXT, 0, (LPARAM)lpString) ? TRUE : FALSE;
}

int WINAPI GetWindowTextA(HWND hWnd, LPSTR lpString, int nMaxCount)
{
    if (lpString != nullptr && nMaxCount > 0)
        lpString[0] = '\0';
    if (lpString == nullptr || nMaxCount <= 0)
        return 0;
    return (int)SendMessageA(hWnd, WM_GETTEXT, (WPARAM)nMaxCount, (LPARAM)lpString);
}

BOOL WINAPI IsWindow(HWND hWnd)
{
    Lock lock(Eng().mtx);
    return Live(hWnd) != nullptr ? TRUE : FALSE;
}

// ---- The driver ----

void DorveDlgScriptType(const char *text)
{
    Step st(kType);
    st.strText = TextOf(text);
    Push(st);
}

void DorveDlgScriptClick(int id)
{
    Step st(kClick);
    st.nId = id;
    Push(st);
}

void DorveDlgScriptSelect(int id, int start, int end)
{
    Step st(kSelect);
    st.nId = id;
    st.a = start;
    st.b = end;
    Push(st);
}

void DorveDlgScriptHover(int id)
{
    Step st(kHover);
    st.nId = id;
    Push(st);
}

void DorveDlgScriptHoverDialog(void) { Push(Step(kHoverDialog)); }

void DorveDlgScriptKey(int key)
{
    Step st(kKey);
    st.a = key;
    Push(st);
}

void DorveDlgScriptClose(void) { Push(Step(kClose)); }

void DorveDlgScriptSpin(int id, int code)
{
    Step st(kSpin);
    st.nId = id;
    st.a = code;
    Push(st);
}

void DorveDlgScriptAnswer(int answer)
{
    Step st(kAnswer);
    st.a = answer;
    Push(st);
}

void DorveDlgScriptCall(DORVE_DLG_CALLBACK fn, void *ctx)
{
    Step st(kCall);
    st.fn = fn;
    st.ctx = ctx;
    Push(st);
}

void DorveDlgSetAnswerer(DORVE_DLG_ANSWERER fn, void *ctx)
{
    Lock lock(Eng().mtx);
    Eng().pfnAnswerer = fn;
    Eng().pAnswererCtx = ctx;
}

int DorveDlgScriptPending(void)
{
    Lock lock(Eng().mtx);
    return (int)Eng().qScript.size();
}

int DorveDlgUnusedAnswers(void)
{
    Lock lock(Eng().mtx);
    return Eng().cUnusedAnswers;
}

HWND DorveDlgActive(void)
{
    Lock lock(Eng().mtx);
    return Eng().vModal.empty() ? nullptr : H(Eng().vModal.back());
}

int DorveDlgTemplateId(HWND hDlg)
{
    Lock lock(Eng().mtx);
    Wnd *p = Live(hDlg);
    return (p != nullptr && p->bDialog) ? p->nTemplate : -1;
}

int DorveDlgControlCount(HWND hDlg)
{
    Lock lock(Eng().mtx);
    Wnd *p = Live(hDlg);
    return (p != nullptr && p->bDialog) ? (int)p->vChildren.size() : 0;
}

BOOL DorveDlgControlAt(HWND hDlg, int index, DORVE_DLG_CONTROL *pControl)
{
    Lock lock(Eng().mtx);
    Wnd *p = Live(hDlg);
    if (p == nullptr || !p->bDialog || pControl == nullptr || index < 0 ||
        (size_t)index >= p->vChildren.size())
        return FALSE;
    FillControl(p->vChildren[(size_t)index], pControl);
    return TRUE;
}

BOOL DorveDlgControlById(HWND hDlg, int id, DORVE_DLG_CONTROL *pControl)
{
    Lock lock(Eng().mtx);
    Wnd *p = Live(hDlg);
    Wnd *pCtl = (p != nullptr && p->bDialog) ? Child(p, id) : nullptr;
    if (pCtl == nullptr || pControl == nullptr)
        return FALSE;
    FillControl(pCtl, pControl);
    return TRUE;
}

BOOL DorveDlgGetFrame(HWND hDlg, DORVE_DLG_FRAME *pFrame)
{
    Lock lock(Eng().mtx);
    Wnd *p = Live(hDlg);
    if (p == nullptr || !p->bDialog || pFrame == nullptr)
        return FALSE;
    memset(pFrame, 0, sizeof(*pFrame));
    pFrame->dwStyle = p->dwStyle;
    pFrame->dwExStyle = p->dwExStyle;
    pFrame->x = p->x;
    pFrame->y = p->y;
    pFrame->cx = p->cx;
    pFrame->cy = p->cy;
    CopyOut(p->strText, pFrame->szCaption, sizeof(pFrame->szCaption));
    CopyOut(p->strFont, pFrame->szFont, sizeof(pFrame->szFont));
    pFrame->wPointSize = p->wPointSize;
    pFrame->bExtended = p->bExtended ? TRUE : FALSE;
    return TRUE;
}

int DorveDlgMessageBoxCount(void)
{
    Lock lock(Eng().mtx);
    return (int)Eng().vBoxes.size();
}

BOOL DorveDlgMessageBoxAt(int index, DORVE_DLG_MSGBOX *pBox)
{
    Lock lock(Eng().mtx);
    if (pBox == nullptr || index < 0 || (size_t)index >= Eng().vBoxes.size())
        return FALSE;
    *pBox = Eng().vBoxes[(size_t)index];
    return TRUE;
}

int DorveDlgMessageCount(void)
{
    Lock lock(Eng().mtx);
    return (int)Eng().vMessages.size();
}

BOOL DorveDlgMessageAt(int index, DORVE_DLG_MESSAGE *pMessage)
{
    Lock lock(Eng().mtx);
    if (pMessage == nullptr || index < 0 || (size_t)index >= Eng().vMessages.size())
        return FALSE;
    *pMessage = Eng().vMessages[(size_t)index];
    return TRUE;
}

int DorveDlgRunCount(void)
{
    Lock lock(Eng().mtx);
    return (int)Eng().vRuns.size();
}

BOOL DorveDlgRunAt(int index, DORVE_DLG_RUN *pRun)
{
    Lock lock(Eng().mtx);
    if (pRun == nullptr || index < 0 || (size_t)index >= Eng().vRuns.size())
        return FALSE;
    *pRun = Eng().vRuns[(size_t)index];
    return TRUE;
}

int DorveDlgForegroundCount(void)
{
    Lock lock(Eng().mtx);
    return Eng().cForeground;
}

INT_PTR DorveDlgRunTemplate(const void *pTemplate, DWORD cbTemplate, HWND hOwner, DLGPROC lpDialogFunc,
                            LPARAM dwInitParam)
{
    if (pTemplate == nullptr || cbTemplate == 0) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return -1;
    }
    Lock lock(Eng().mtx);
    return RunFromBytes((const BYTE *)pTemplate, cbTemplate, 0, hOwner, lpDialogFunc, dwInitParam);
}

void DorveDlgReset(void)
{
    Engine &e = Eng();
    Lock lock(e.mtx);
    e.qScript.clear();
    e.cUnusedAnswers = 0;
    e.cForeground = 0;
    e.vBoxes.clear();
    e.vMessages.clear();
    e.vRuns.clear();
}

} // extern "C"
