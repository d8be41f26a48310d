/* Host hooks of the kernel objects, for tests that look for leaks. */
#ifndef DORVE_KERNEL_HOST_H
#define DORVE_KERNEL_HOST_H

#include "../windef.h"

/* Handles open in the layer's handle space: threads, mutexes and events,
   each handle counted once, whatever object it names. */
DORVE_API DWORD DorveKernelHandleCount(void);

#endif
