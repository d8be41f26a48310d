/* Host hooks of the module loader, for tests and the spooler host.

   A Windows module name maps to a host shared object: the base name is
   lower-cased, a ".dll" extension dropped, "lib" prefixed and ".so"
   appended ("zuvsnmp.dll" -> libzuvsnmp.so, "DORVEMON.DLL" ->
   libdorvemon.so).  LoadLibraryA looks for that file in this order:
     1. a name with a slash is used as given (no mapping);
     2. each directory of $DORVE_LIBPATH (colon-separated);
     3. each directory set by DorveLoaderSetPath;
     4. the directory that holds libdorvewin.so;
     5. the system's own dlopen search.
   "SPOOLSS.DLL" and "WINSPOOL.DRV" are built in: they resolve to the
   platform layer itself, so their entries are the layer's spooler calls. */
#ifndef DORVE_LOADER_HOST_H
#define DORVE_LOADER_HOST_H

#include "../windef.h"

DORVE_BEGIN_C

/* Colon-separated directories searched after $DORVE_LIBPATH; NULL or ""
   clears them. */
DORVE_API void DorveLoaderSetPath(const char *dirs);

/* While hidden, a built-in module fails to load with ERROR_MOD_NOT_FOUND. */
DORVE_API void DorveLoaderHideBuiltin(const char *name, BOOL bHide);

/* While hidden, GetProcAddress on that built-in module's entry fails with
   ERROR_PROC_NOT_FOUND. */
DORVE_API void DorveLoaderHideExport(const char *module, const char *exportName, BOOL bHide);

/* The host file name that a Windows module name maps to, e.g.
   "libzuvsnmp.so"; returns its length, or 0 when it does not fit. */
DORVE_API DWORD DorveLoaderMapName(const char *name, char *buf, DWORD cchBuf);

/* The address of a symbol that the module's own object defines (not one
   of its dependencies); NULL module: the main program.  NULL when the
   handle is not a loaded module or the symbol is missing. */
DORVE_API void *DorveLoaderModuleSymbol(HMODULE hModule, const char *name);

/* Clears the search directories and every hide switch. */
DORVE_API void DorveLoaderReset(void);

DORVE_END_C

#endif
