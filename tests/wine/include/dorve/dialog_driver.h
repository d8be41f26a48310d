/* The scripted dialog driver, Windows build: see hostonly.h.  Real dialogs
   are driven by the Win32 harness (tests/win32) with window messages. */
#ifndef DORVE_DIALOG_DRIVER_H
#define DORVE_DIALOG_DRIVER_H

#include "hostonly.h"

#define DORVE_KEY_BACK   0x08
#define DORVE_KEY_TAB    0x09
#define DORVE_KEY_ENTER  0x0D
#define DORVE_KEY_ESCAPE 0x1B

#ifdef __cplusplus
extern "C" {
#endif

void DorveDlgScriptType(const char *text);
void DorveDlgScriptClick(int id);
void DorveDlgScriptSelect(int id, int start, int end);
void DorveDlgScriptKey(int key);
int DorveDlgRunCount(void);
void DorveDlgReset(void);

#ifdef __cplusplus
}
#endif

#endif
