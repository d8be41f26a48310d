/* Resource ids of DORVEMON. */
#ifndef DORVEMON_RESOURCE_H
#define DORVEMON_RESOURCE_H

#define IDD_ADDPORT   100
#define IDD_CONFIGURE 200
#define IDD_ABOUT     300

#define IDS_HELP_HELP         500
#define IDS_HELP_ABOUT        501
#define IDS_HELP_OK           502
#define IDS_HELP_CANCEL       503
#define IDS_HELP_ADDPORTDLG   504
#define IDS_HELP_PORTNAME     505
#define IDS_HELP_ADDRESS      506
#define IDS_HELP_CONFIGDLG    507
#define IDS_HELP_STSINTERVAL  508
#define IDS_HELP_STSTIMEOUT   509
#define IDS_HELP_SENDTIMEOUT  510
#define IDS_HELP_ALERT        514
#define IDS_HELP_TRAP         515
#define IDS_HELP_MANUAL       516
#define IDS_HELP_AUTO         517
#define IDS_HELP_SEARCH       518
#define IDS_SEARCHING         519
#define IDS_WAITING_HANDOVER  521
#define IDS_NO_ANSWER         522
#define IDS_PRINTER_BUSY      523
#define IDS_ALREADY_EXISTS    524

#endif
