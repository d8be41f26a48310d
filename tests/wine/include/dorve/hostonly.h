/* The Windows build of the test programs has no host layer: these stand in
   for the host hooks that a test program calls.  Hooks whose state the real
   system has anyway (all Winsock switches off) do nothing; every other hook
   fails the running test with its name, so a test that needs the host layer
   and is not on the list of host-only tests (tests/wine/README.md) shows at
   once instead of passing by accident. */
#ifndef DORVE_WINE_HOSTONLY_H
#define DORVE_WINE_HOSTONLY_H

#include <windows.h>
#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

/* Fails the running test: `hook` needs the host layer. */
void DorveWineHostOnly(const char *hook);

#ifdef __cplusplus
}
#endif

#endif
