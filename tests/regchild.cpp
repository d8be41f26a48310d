// A second process for the registry tests: it opens the same registry file
// and makes one kind of change, so that the test can check what two processes
// sharing one file see of each other.
//
//   regchild FILE add PREFIX COUNT     waits for EOF on stdin, then creates
//                                      HKLM\Software\Race\PREFIX0..COUNT-1
//   regchild FILE set SUBKEY NAME TEXT sets a REG_SZ under HKLM\SUBKEY
//   regchild FILE delete SUBKEY        deletes HKLM\SUBKEY
// Exit status 0 when every call succeeded.

#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <unistd.h>

#include <winreg.h>

#include "dorve/registry_host.h"

static int AddKeys(const char *prefix, int count)
{
    char buf[64];
    while (read(0, buf, sizeof buf) > 0) {
        // both children start when the test closes the pipe
    }
    for (int i = 0; i < count; i++) {
        char path[256];
        snprintf(path, sizeof path, "Software\\Race\\%s%d", prefix, i);
        HKEY hKey;
        DWORD dwDisp;
        LONG r = RegCreateKeyExA(HKEY_LOCAL_MACHINE, path, 0, "REG_SZ", 0, KEY_ALL_ACCESS, NULL,
                                 &hKey, &dwDisp);
        if (r != ERROR_SUCCESS) {
            fprintf(stderr, "regchild: create %s: %ld (%s)\n", path, (long)r, DorveRegistryLastError());
            return 1;
        }
        RegCloseKey(hKey);
    }
    return 0;
}

static int SetText(const char *subkey, const char *name, const char *text)
{
    HKEY hKey;
    LONG r = RegCreateKeyExA(HKEY_LOCAL_MACHINE, subkey, 0, "REG_SZ", 0, KEY_ALL_ACCESS, NULL,
                             &hKey, NULL);
    if (r != ERROR_SUCCESS)
        return 1;
    r = RegSetValueExA(hKey, name, 0, REG_SZ, (const BYTE *)text, (DWORD)strlen(text) + 1);
    RegCloseKey(hKey);
    return r == ERROR_SUCCESS ? 0 : 1;
}

int main(int argc, char **argv)
{
    if (argc < 3 || !DorveRegistryUseFile(argv[1])) {
        fprintf(stderr, "regchild: cannot use %s: %s\n", argc > 1 ? argv[1] : "(none)",
                DorveRegistryLastError());
        return 2;
    }
    if (strcmp(argv[2], "add") == 0 && argc == 5)
        return AddKeys(argv[3], atoi(argv[4]));
    if (strcmp(argv[2], "set") == 0 && argc == 6)
        return SetText(argv[3], argv[4], argv[5]);
    if (strcmp(argv[2], "delete") == 0 && argc == 4)
        return RegDeleteKeyA(HKEY_LOCAL_MACHINE, argv[3]) == ERROR_SUCCESS ? 0 : 1;
    fprintf(stderr, "regchild: bad arguments\n");
    return 2;
}
