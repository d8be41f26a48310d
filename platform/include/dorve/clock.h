/* The layer's one clock.  Every timeout of the layer (Sleep, the waits,
   select, SO_SNDTIMEO/SO_RCVTIMEO, GetTickCount) runs on simulated time,
   which advances `rate` simulated seconds per real second, so that a test
   can let a five-minute wait pass in seconds.  The environment variable
   DORVE_CLOCK_RATE gives the rate at start-up (default 1).  A new rate
   applies to waits that begin after the change. */
#ifndef DORVE_CLOCK_H
#define DORVE_CLOCK_H

#include <stdint.h>

#include "../windef.h"

DORVE_API void DorveClockSetRate(double rate);
DORVE_API double DorveClockGetRate(void);
/* Simulated milliseconds since the layer started; never goes back. */
DORVE_API uint64_t DorveClockNowMs(void);
/* The real milliseconds a wait of simulatedMs lasts at the current rate:
   at least 1 when simulatedMs is not 0; INFINITE stays INFINITE. */
DORVE_API DWORD DorveClockToRealMs(DWORD simulatedMs);

#endif
