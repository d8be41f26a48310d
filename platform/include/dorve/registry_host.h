/* Host hooks of the registry: which REGEDIT4 file holds it, and why it
   could not be read or written.  Tests point the registry at a file of
   their own before (or after) its first use. */
#ifndef DORVE_REGISTRY_HOST_H
#define DORVE_REGISTRY_HOST_H

#include "../windef.h"

DORVE_BEGIN_C

/* Makes path the registry file and loads it at once (a missing file is an
   empty registry).  NULL goes back to the usual choice: $DORVE_REGISTRY,
   else DorveRegistryDefaultFile().  Open handles stay valid for the keys
   that the new file also holds.  FALSE when the file cannot be read or
   parsed; every registry call then fails until it is fixed. */
DORVE_API BOOL DorveRegistryUseFile(const char *path);

/* The file in use (chosen on first use when nothing was set). */
DORVE_API const char *DorveRegistryFile(void);

/* $XDG_DATA_HOME/dorve/registry.reg, else ~/.local/share/dorve/registry.reg. */
DORVE_API const char *DorveRegistryDefaultFile(void);

/* Text of the last load or save problem, naming the file and, for a parse
   error, the line ("registry.reg:12: expected ..."); "" when there was none. */
DORVE_API const char *DorveRegistryLastError(void);

DORVE_END_C

#endif
