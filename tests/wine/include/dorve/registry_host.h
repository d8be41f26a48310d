/* Registry file hooks, Windows build: see hostonly.h.  The real registry
   is the one of the Wine prefix that the runner made for this run. */
#ifndef DORVE_REGISTRY_HOST_H
#define DORVE_REGISTRY_HOST_H

#include "hostonly.h"

#ifdef __cplusplus
extern "C" {
#endif

BOOL DorveRegistryUseFile(const char *path);
const char *DorveRegistryFile(void);
const char *DorveRegistryDefaultFile(void);
const char *DorveRegistryLastError(void);

#ifdef __cplusplus
}
#endif

#endif
