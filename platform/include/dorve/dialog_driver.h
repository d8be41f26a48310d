/* Host hooks of the dialog engine, for tests and the dorve tool.

   There is no screen and no person at the keyboard: a modal dialog takes
   its input from a script, a queue of steps run in order by the modal loop
   of the topmost dialog (a dialog opened from a dialog takes the next steps
   while it is open).  Each step acts as a person would and sends the
   dialog procedure what USER sends, synchronously and in the same order:

     type      each character is one keystroke into the focused edit
               (replacing its selection), each followed by EN_UPDATE and
               EN_CHANGE; a keystroke past the limit gives EN_MAXTEXT only
     click     focus moves (EN_KILLFOCUS to the edit that had it, then
               EN_SETFOCUS to an edit that gets it; the caret goes to the end
               of the text), then a push button sends BN_CLICKED, an automatic
               check box toggles then sends BN_CLICKED, an automatic radio
               button checks itself, clears the other automatic radio buttons
               of its group, then sends BN_CLICKED.  Disabled controls, labels
               and frames ignore clicks.
     select    a click into an edit, then a drag over [start, end) of its
               text (-1 as end: to the end); no notification of its own
     hover     WM_SETCURSOR with the window under the pointer as wParam;
               labels, frames and disabled controls pass the pointer on to
               the dialog, so wParam is then the dialog itself
     key       Enter: the focused push button, else the default push button,
               else IDOK; Esc: IDCANCEL; Tab: focus to the next tab stop (an
               edit gets all its text selected); Backspace: deletes the
               selection or the character before the caret
     close     the close box of the caption: WM_CLOSE, then IDCANCEL
     spin      WM_VSCROLL (code, then SB_ENDSCROLL) with the scroll bar as
               lParam
     answer    not a step of its own: the message box that the step before
               it shows (owned by a dialog) takes this answer.  A box that
               finds no answer step next takes the answer queued with
               the answerer (DorveDlgSetAnswerer), else the one queued with
               DorveUserQueueMessageBoxAnswer (dorve/user_host.h), else IDOK
     call      runs fn(ctx, topmost dialog) so that a test can read back the
               dialog's state at that point

   When the script runs out while a dialog is open, that dialog ends with
   IDCANCEL, so nothing waits for input that never comes.  Controls are
   addressed by id in the topmost dialog.

   Window handles are pointers to the layer's window records.  A record is
   never freed or reused while the process runs: a handle of a dialog that
   has closed stays invalid (IsWindow FALSE) and never names a newer
   window. */
#ifndef DORVE_DIALOG_DRIVER_H
#define DORVE_DIALOG_DRIVER_H

#include "../windows.h"

DORVE_BEGIN_C

#define DORVE_KEY_BACK   0x08
#define DORVE_KEY_TAB    0x09
#define DORVE_KEY_ENTER  0x0D
#define DORVE_KEY_ESCAPE 0x1B

typedef void (*DORVE_DLG_CALLBACK)(void *ctx, HWND hDlg);

DORVE_API void DorveDlgScriptType(const char *text);
DORVE_API void DorveDlgScriptClick(int id);
DORVE_API void DorveDlgScriptSelect(int id, int start, int end);
DORVE_API void DorveDlgScriptHover(int id);
DORVE_API void DorveDlgScriptHoverDialog(void);
DORVE_API void DorveDlgScriptKey(int key);
DORVE_API void DorveDlgScriptClose(void);
DORVE_API void DorveDlgScriptSpin(int id, int code);
DORVE_API void DorveDlgScriptAnswer(int answer);
DORVE_API void DorveDlgScriptCall(DORVE_DLG_CALLBACK fn, void *ctx);

/* Answers a message box owned by a dialog when the script has no answer
   step for it: returns the answer, or 0 to leave the box to the queue of
   dorve/user_host.h.  NULL removes it; DorveDlgReset keeps it. */
typedef int (*DORVE_DLG_ANSWERER)(void *ctx, HWND hOwner, const char *text, const char *caption,
                                  UINT type);
DORVE_API void DorveDlgSetAnswerer(DORVE_DLG_ANSWERER fn, void *ctx);

/* Steps not run yet, and answer steps that found no message box to take
   them (they are passed over). */
DORVE_API int DorveDlgScriptPending(void);
DORVE_API int DorveDlgUnusedAnswers(void);

/* The topmost open dialog, NULL when none is open. */
DORVE_API HWND DorveDlgActive(void);
/* The resource id a dialog was made from (0 for a template given as
   bytes), or -1 when hDlg is no dialog of the engine. */
DORVE_API int DorveDlgTemplateId(HWND hDlg);

/* Classes of controls. */
#define DORVE_CTL_OTHER     0
#define DORVE_CTL_PUSH      1
#define DORVE_CTL_CHECKBOX  2
#define DORVE_CTL_RADIO     3
#define DORVE_CTL_GROUPBOX  4
#define DORVE_CTL_EDIT      5
#define DORVE_CTL_STATIC    6
#define DORVE_CTL_SCROLLBAR 7

/* A control's state as the person would see it.  Text longer than the
   buffer is cut at a whole character. */
typedef struct _DORVE_DLG_CONTROL {
    HWND hWnd;
    int nId;
    int nKind;
    char szClass[32];
    DWORD dwStyle;
    DWORD dwExStyle;
    short x, y, cx, cy;             /* dialog units */
    char szText[1024];
    UINT uCheck;                    /* buttons: BST_* */
    BOOL bEnabled;
    BOOL bFocused;
    DWORD dwSelStart, dwSelEnd;     /* edits: byte offsets */
    UINT uLimit;                    /* edits: EM_LIMITTEXT */
    HFONT hFont;                    /* WM_SETFONT */
} DORVE_DLG_CONTROL;

/* The dialog's controls in template order. */
DORVE_API int DorveDlgControlCount(HWND hDlg);
DORVE_API BOOL DorveDlgControlAt(HWND hDlg, int index, DORVE_DLG_CONTROL *pControl);
DORVE_API BOOL DorveDlgControlById(HWND hDlg, int id, DORVE_DLG_CONTROL *pControl);

/* The dialog's frame as the template gave it. */
typedef struct _DORVE_DLG_FRAME {
    DWORD dwStyle;
    DWORD dwExStyle;
    short x, y, cx, cy;
    char szCaption[256];
    char szFont[64];
    WORD wPointSize;
    BOOL bExtended;                 /* DLGTEMPLATEEX */
} DORVE_DLG_FRAME;
DORVE_API BOOL DorveDlgGetFrame(HWND hDlg, DORVE_DLG_FRAME *pFrame);

/* Every message box shown since the last reset, in order. */
typedef struct _DORVE_DLG_MSGBOX {
    HWND hOwner;
    int nOwnerTemplate;             /* DorveDlgTemplateId of the owner */
    char szCaption[256];
    char szText[1024];
    UINT uType;
    int nAnswer;
} DORVE_DLG_MSGBOX;
DORVE_API int DorveDlgMessageBoxCount(void);
DORVE_API BOOL DorveDlgMessageBoxAt(int index, DORVE_DLG_MSGBOX *pBox);

/* Every message sent to a dialog procedure since the last reset. */
typedef struct _DORVE_DLG_MESSAGE {
    HWND hDlg;
    int nTemplate;
    UINT uMsg;
    WPARAM wParam;
    LPARAM lParam;
    INT_PTR nResult;
} DORVE_DLG_MESSAGE;
DORVE_API int DorveDlgMessageCount(void);
DORVE_API BOOL DorveDlgMessageAt(int index, DORVE_DLG_MESSAGE *pMessage);

/* Every dialog run since the last reset, in the order they ended. */
typedef struct _DORVE_DLG_RUN {
    int nTemplate;
    HWND hOwner;
    LPARAM lInitParam;
    INT_PTR nResult;
    BOOL bScriptRanOut;             /* ended with IDCANCEL for want of input */
} DORVE_DLG_RUN;
DORVE_API int DorveDlgRunCount(void);
DORVE_API BOOL DorveDlgRunAt(int index, DORVE_DLG_RUN *pRun);

/* SetForegroundWindow calls since the last reset. */
DORVE_API int DorveDlgForegroundCount(void);

/* Fonts made by CreateFontA and not deleted yet (kept by USER). */
DORVE_API int DorveUserLiveFontCount(void);

/* Runs a modal dialog from template bytes (DLGTEMPLATE or DLGTEMPLATEEX),
   as DialogBoxIndirectParamA would. */
DORVE_API INT_PTR DorveDlgRunTemplate(const void *pTemplate, DWORD cbTemplate, HWND hOwner,
                                      DLGPROC lpDialogFunc, LPARAM dwInitParam);

/* Forgets the script, the records and the counters.  Open dialogs are not
   touched. */
DORVE_API void DorveDlgReset(void);

DORVE_END_C

#endif
