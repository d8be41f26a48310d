// What USER's message boxes ask of the dialog engine: a box owned by a
// dialog takes its answer from the dialog script when the script's next
// step is an answer, and every box shown is noted for the driver.
#ifndef DORVE_PLATFORM_DIALOGS_H
#define DORVE_PLATFORM_DIALOGS_H

#include <windows.h>

// TRUE, with the answer, when the script or its answerer answers this box.
BOOL DorveDlgTakeScriptedAnswer(HWND hOwner, LPCSTR lpText, LPCSTR lpCaption, UINT uType,
                                int *pnAnswer);
void DorveDlgNoteMessageBox(HWND hOwner, LPCSTR lpText, LPCSTR lpCaption, UINT uType, int nAnswer);

#endif
