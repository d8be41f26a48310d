/* The layer clock, Windows build: real time at rate 1 only (see
   hostonly.h); a test that speeds the clock up is host-only. */
#ifndef DORVE_CLOCK_H
#define DORVE_CLOCK_H

#include "hostonly.h"

#ifdef __cplusplus
extern "C" {
#endif

void DorveClockSetRate(double rate);
double DorveClockGetRate(void);
uint64_t DorveClockNowMs(void);
DWORD DorveClockToRealMs(DWORD simulatedMs);

#ifdef __cplusplus
}
#endif

#endif
