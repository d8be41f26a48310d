/* Records exchanged with the discovery library "zuvsnmp.dll".  Both the
   monitor and the library take this header.  The library's entries use the
   C calling convention; every argument and result is 32 bits wide on the
   library's 32-bit build. */
#ifndef ZUVSNMP_H
#define ZUVSNMP_H

#ifdef __cplusplus
extern "C" {
#endif

#define ZUVSNMP_NETMASK_LEN 48
#define ZUVSNMP_ADDR_LEN 25
#define ZUVSNMP_NAME_LEN 51

/* The identifier the monitor asks printers for. */
#define ZUVSNMP_PRINTER_OID "1.3.6.1.4.1.480.1.1.1005.0"

struct rip_params {
    unsigned char reserved[4];              /* not filled by the monitor */
    char netmask[ZUVSNMP_NETMASK_LEN];
    const char *oid;
};

struct dev_entry {
    char addr[ZUVSNMP_ADDR_LEN];
    char name[ZUVSNMP_NAME_LEN];
    struct dev_entry *next;
};

typedef int (*PFN_AUTO_TCP_INIT)(void);
typedef int (*PFN_GETNETMASK)(void **ppMask);
typedef int (*PFN_AUTO_TCP_RIP)(struct rip_params *pParams, void **ppList);
typedef int (*PFN_AUTO_TCP_DEVSTATUS)(void *pList, struct dev_entry **ppFirst);
typedef int (*PFN_FREE_IPLIST)(void *pObject);
typedef int (*PFN_AUTO_TCP_SHUTDOWN)(void);

#ifdef __cplusplus
}

#include <stddef.h>
#if defined(__i386__)
static_assert(sizeof(struct rip_params) == 56, "rip_params is 56 bytes");
static_assert(offsetof(struct rip_params, netmask) == 4, "netmask at 4");
static_assert(offsetof(struct rip_params, oid) == 52, "oid at 52");
static_assert(offsetof(struct dev_entry, name) == 25, "name at 25");
static_assert(offsetof(struct dev_entry, next) == 76, "next at 76");
#endif
#endif

#endif
