/* Registry functions of the host layer (ANSI entries).  Results are Win32
   error codes (LONG); the store behind them is one REGEDIT4 text file, see
   dorve/registry_host.h. */
#ifndef DORVE_WINREG_H
#define DORVE_WINREG_H

#include "windef.h"
#include "winerror.h"

/* Predefined roots: the values Windows uses, sign-extended into a handle as
   a 32-bit LONG is on Win64. */
#define DORVE_PREDEF_HKEY(v) ((HKEY)(ULONG_PTR)((LONG)(v)))
#define HKEY_CLASSES_ROOT DORVE_PREDEF_HKEY(0x80000000)
#define HKEY_CURRENT_USER DORVE_PREDEF_HKEY(0x80000001)
#define HKEY_LOCAL_MACHINE DORVE_PREDEF_HKEY(0x80000002)
#define HKEY_USERS DORVE_PREDEF_HKEY(0x80000003)
#define HKEY_PERFORMANCE_DATA DORVE_PREDEF_HKEY(0x80000004)
#define HKEY_CURRENT_CONFIG DORVE_PREDEF_HKEY(0x80000005)
#define HKEY_DYN_DATA DORVE_PREDEF_HKEY(0x80000006)

/* Value types. */
#define REG_NONE 0
#define REG_SZ 1
#define REG_EXPAND_SZ 2
#define REG_BINARY 3
#define REG_DWORD 4
#define REG_DWORD_LITTLE_ENDIAN 4
#define REG_DWORD_BIG_ENDIAN 5
#define REG_LINK 6
#define REG_MULTI_SZ 7
#define REG_RESOURCE_LIST 8
#define REG_FULL_RESOURCE_DESCRIPTOR 9
#define REG_RESOURCE_REQUIREMENTS_LIST 10
#define REG_QWORD 11
#define REG_QWORD_LITTLE_ENDIAN 11

/* RegCreateKeyEx options and dispositions. */
#define REG_OPTION_RESERVED 0x00000000L
#define REG_OPTION_NON_VOLATILE 0x00000000L
#define REG_OPTION_VOLATILE 0x00000001L
#define REG_OPTION_CREATE_LINK 0x00000002L
#define REG_OPTION_BACKUP_RESTORE 0x00000004L
#define REG_CREATED_NEW_KEY 0x00000001L
#define REG_OPENED_EXISTING_KEY 0x00000002L

/* Access rights of a key handle. */
#define KEY_QUERY_VALUE 0x0001
#define KEY_SET_VALUE 0x0002
#define KEY_CREATE_SUB_KEY 0x0004
#define KEY_ENUMERATE_SUB_KEYS 0x0008
#define KEY_NOTIFY 0x0010
#define KEY_CREATE_LINK 0x0020
#define KEY_READ 0x00020019L
#define KEY_WRITE 0x00020006L
#define KEY_EXECUTE 0x00020019L
#define KEY_ALL_ACCESS 0x000F003FL

struct _FILETIME;

DORVE_API LONG WINAPI RegCreateKeyExA(HKEY hKey, LPCSTR lpSubKey, DWORD Reserved, LPCSTR lpClass,
                                      DWORD dwOptions, REGSAM samDesired,
                                      LPSECURITY_ATTRIBUTES lpSecurityAttributes, PHKEY phkResult,
                                      LPDWORD lpdwDisposition);
DORVE_API LONG WINAPI RegCreateKeyA(HKEY hKey, LPCSTR lpSubKey, PHKEY phkResult);
DORVE_API LONG WINAPI RegOpenKeyExA(HKEY hKey, LPCSTR lpSubKey, DWORD ulOptions, REGSAM samDesired,
                                    PHKEY phkResult);
DORVE_API LONG WINAPI RegOpenKeyA(HKEY hKey, LPCSTR lpSubKey, PHKEY phkResult);
DORVE_API LONG WINAPI RegCloseKey(HKEY hKey);
DORVE_API LONG WINAPI RegFlushKey(HKEY hKey);
DORVE_API LONG WINAPI RegDeleteKeyA(HKEY hKey, LPCSTR lpSubKey);
DORVE_API LONG WINAPI RegDeleteValueA(HKEY hKey, LPCSTR lpValueName);
DORVE_API LONG WINAPI RegQueryValueExA(HKEY hKey, LPCSTR lpValueName, LPDWORD lpReserved,
                                       LPDWORD lpType, LPBYTE lpData, LPDWORD lpcbData);
DORVE_API LONG WINAPI RegSetValueExA(HKEY hKey, LPCSTR lpValueName, DWORD Reserved, DWORD dwType,
                                     const BYTE *lpData, DWORD cbData);
DORVE_API LONG WINAPI RegEnumKeyA(HKEY hKey, DWORD dwIndex, LPSTR lpName, DWORD cchName);
DORVE_API LONG WINAPI RegEnumKeyExA(HKEY hKey, DWORD dwIndex, LPSTR lpName, LPDWORD lpcchName,
                                    LPDWORD lpReserved, LPSTR lpClass, LPDWORD lpcchClass,
                                    struct _FILETIME *lpftLastWriteTime);
DORVE_API LONG WINAPI RegEnumValueA(HKEY hKey, DWORD dwIndex, LPSTR lpValueName,
                                    LPDWORD lpcchValueName, LPDWORD lpReserved, LPDWORD lpType,
                                    LPBYTE lpData, LPDWORD lpcbData);
DORVE_API LONG WINAPI RegQueryInfoKeyA(HKEY hKey, LPSTR lpClass, LPDWORD lpcchClass,
                                       LPDWORD lpReserved, LPDWORD lpcSubKeys,
                                       LPDWORD lpcbMaxSubKeyLen, LPDWORD lpcbMaxClassLen,
                                       LPDWORD lpcValues, LPDWORD lpcbMaxValueNameLen,
                                       LPDWORD lpcbMaxValueLen, LPDWORD lpcbSecurityDescriptor,
                                       struct _FILETIME *lpftLastWriteTime);

#define RegCreateKeyEx RegCreateKeyExA
#define RegCreateKey RegCreateKeyA
#define RegOpenKeyEx RegOpenKeyExA
#define RegOpenKey RegOpenKeyA
#define RegDeleteKey RegDeleteKeyA
#define RegDeleteValue RegDeleteValueA
#define RegQueryValueEx RegQueryValueExA
#define RegSetValueEx RegSetValueExA
#define RegEnumKey RegEnumKeyA
#define RegEnumKeyEx RegEnumKeyExA
#define RegEnumValue RegEnumValueA
#define RegQueryInfoKey RegQueryInfoKeyA

#endif
