/* The host layer's Win32 umbrella header. */
#ifndef DORVE_WINDOWS_H
#define DORVE_WINDOWS_H

#include "windef.h"
#include "winerror.h"
#include "winbase.h"
#include "winreg.h"
#include "winuser.h"
#include "wingdi.h"

#endif
