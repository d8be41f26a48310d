/* Host-only hooks of the discovery library, for tests and the benchmark.
   The monitor never calls them; it knows only the seven entries of
   zuvsnmp.h. */
#ifndef ZUVSNMP_HOOKS_H
#define ZUVSNMP_HOOKS_H

#ifdef __cplusplus
extern "C" {
#endif

/* UDP port the agents are asked on (161 unless set; 0 restores 161). */
void zuvsnmp_set_port(int nPort);

/* Blocks the library holds right now: mask objects, address lists and
   result lists not yet released. */
int zuvsnmp_live_blocks(void);

/* Number of host addresses in an address list from auto_tcp_rip, or -1 when
   the pointer is not a live address list. */
int zuvsnmp_iplist_count(void *pList);

/* The i-th host address of the list in host byte order (0 when out of
   range). */
unsigned int zuvsnmp_iplist_addr(void *pList, int i);

#ifdef __cplusplus
}
#endif

#endif
