// A stand-in SPOOLSS.DLL for the harness.  The Windows 4.0 spooler's
// SPOOLSS.DLL answers EnumPortsA, which the monitor's port-name check takes
// from it; Wine's SPOOLSS.DLL, like that of the NT family, exports only
// EnumPortsW.  This one answers EnumPortsA with the real spooler's ports,
// through WINSPOOL, so the check runs against Wine's own port list.
#include <windows.h>
#include <winspool.h>

extern "C" __declspec(dllexport) BOOL WINAPI EnumPortsA(LPSTR pName, DWORD Level, LPBYTE pPorts,
                                                        DWORD cbBuf, LPDWORD pcbNeeded,
                                                        LPDWORD pcReturned)
{
    HMODULE hWinspool = LoadLibraryA("winspool.drv");
    if (hWinspool == NULL)
        return FALSE;
    typedef BOOL(WINAPI * PFN)(LPSTR, DWORD, LPBYTE, DWORD, LPDWORD, LPDWORD);
    PFN pfn = (PFN)(void (*)(void))GetProcAddress(hWinspool, "EnumPortsA");
    BOOL bResult = pfn != NULL && pfn(pName, Level, pPorts, cbBuf, pcbNeeded, pcReturned);
    DWORD dwError = GetLastError();
    FreeLibrary(hWinspool);
    SetLastError(dwError);
    return bResult;
}
