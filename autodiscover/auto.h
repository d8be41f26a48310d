/* The binding of the discovery library "zuvsnmp.dll". */
#ifndef ZUV_AUTO_H
#define ZUV_AUTO_H

#include <windows.h>
#include "zuvsnmp.h"

#ifdef __cplusplus
extern "C" {
#endif

void loadsnmpfuncs(HMODULE hLib);
struct dev_entry *AutoDiscoverPrinters(void);

int auto_tcp_init(void);
int getLocalNetMask(void **ppMask);
int getDHCPNetMask(void **ppMask);
int auto_tcp_rip(struct rip_params *pParams, void **ppList);
int auto_tcp_devstatus(void *pList, struct dev_entry **ppFirst);
int free_iplist(void *pObject);
int auto_tcp_shutdown(void);

#ifdef __cplusplus
}
#endif

#endif
