/* Host hooks of USER, for tests: the warning beep and message boxes are
   recorded, and message boxes are answered from a queue. */
#ifndef DORVE_USER_HOST_H
#define DORVE_USER_HOST_H

#include "../windef.h"

DORVE_BEGIN_C

/* MessageBeep calls since the last reset, and the type of the last one. */
DORVE_API int DorveBeepCount(void);
DORVE_API UINT DorveLastBeepType(void);

/* The answer of the next MessageBoxA; answers are used in the order queued,
   and an empty queue answers IDOK. */
DORVE_API void DorveUserQueueMessageBoxAnswer(int id);

/* MessageBoxA calls since the last reset, and what the last one showed
   (owner, text, caption, style).  The strings stay valid until the next
   MessageBoxA or reset; "" when there was none. */
DORVE_API int DorveMessageBoxCount(void);
DORVE_API const char *DorveLastMessageBoxText(void);
DORVE_API const char *DorveLastMessageBoxCaption(void);
DORVE_API UINT DorveLastMessageBoxStyle(void);
DORVE_API HWND DorveLastMessageBoxOwner(void);

/* WinHelpA calls since the last reset, and the last one's arguments. */
DORVE_API int DorveWinHelpCount(void);
DORVE_API const char *DorveLastWinHelpFile(void);
DORVE_API UINT DorveLastWinHelpCommand(void);
DORVE_API ULONG_PTR DorveLastWinHelpData(void);

/* Forgets every record and queued answer. */
DORVE_API void DorveUserReset(void);

DORVE_END_C

#endif
