/* Basic Win32 types of the host layer.  Widths are Windows' own: DWORD,
   BOOL, LONG and UINT are 32 bits on every host; handles and pointers are
   native.  WINAPI is the host's C calling convention. */
#ifndef DORVE_WINDEF_H
#define DORVE_WINDEF_H

#include <stddef.h>
#include <stdint.h>

#define WINAPI
#define CALLBACK
#define APIENTRY
#define WINAPIV
#define FAR
#define NEAR
#define CONST const
#define VOID void
#ifndef __cplusplus
#define NULL ((void *)0)
#endif

#ifdef __cplusplus
#define DORVE_EXTERN_C extern "C"
#define DORVE_BEGIN_C extern "C" {
#define DORVE_END_C }
#else
#define DORVE_EXTERN_C extern
#define DORVE_BEGIN_C
#define DORVE_END_C
#endif

#define DORVE_API DORVE_EXTERN_C __attribute__((visibility("default")))

typedef uint8_t BYTE, *PBYTE, *LPBYTE;
typedef uint16_t WORD, *PWORD, *LPWORD;
typedef uint32_t DWORD, *PDWORD, *LPDWORD;
typedef int32_t BOOL, *PBOOL, *LPBOOL;
typedef int32_t LONG, *PLONG, *LPLONG;
typedef uint32_t ULONG, *PULONG;
typedef int32_t INT, *PINT, *LPINT;
typedef uint32_t UINT, *PUINT;
typedef int16_t SHORT;
typedef uint16_t USHORT;
typedef char CHAR, *PCHAR, *LPSTR, *PSTR;
typedef const char *LPCSTR, *PCSTR;
typedef unsigned char UCHAR;
typedef uint16_t WCHAR;
typedef WCHAR *LPWSTR;
typedef const WCHAR *LPCWSTR;
typedef void *LPVOID, *PVOID;
typedef const void *LPCVOID;
typedef uintptr_t UINT_PTR, ULONG_PTR, DWORD_PTR, WPARAM;
typedef intptr_t INT_PTR, LONG_PTR, LPARAM, LRESULT;
typedef float FLOAT;
typedef DWORD ACCESS_MASK, REGSAM;
typedef WORD ATOM;
typedef DWORD COLORREF;

typedef void *HANDLE, **PHANDLE, **LPHANDLE;
#define DORVE_DECLARE_HANDLE(name) struct name##__; typedef struct name##__ *name
DORVE_DECLARE_HANDLE(HINSTANCE);
typedef HINSTANCE HMODULE;
DORVE_DECLARE_HANDLE(HWND);
DORVE_DECLARE_HANDLE(HKEY);
DORVE_DECLARE_HANDLE(HFONT);
DORVE_DECLARE_HANDLE(HCURSOR);
DORVE_DECLARE_HANDLE(HICON);
DORVE_DECLARE_HANDLE(HMENU);
DORVE_DECLARE_HANDLE(HDC);
DORVE_DECLARE_HANDLE(HBRUSH);
typedef HANDLE HGDIOBJ;
typedef HKEY *PHKEY;
typedef INT_PTR (*FARPROC)(void);

#define FALSE 0
#define TRUE 1
#define MAX_PATH 260

#define LOBYTE(w) ((BYTE)((DWORD_PTR)(w) & 0xff))
#define HIBYTE(w) ((BYTE)(((DWORD_PTR)(w) >> 8) & 0xff))
#define LOWORD(l) ((WORD)((DWORD_PTR)(l) & 0xffff))
#define HIWORD(l) ((WORD)(((DWORD_PTR)(l) >> 16) & 0xffff))
#define MAKEWORD(a, b) ((WORD)(((BYTE)(a)) | ((WORD)((BYTE)(b))) << 8))
#define MAKELONG(a, b) ((LONG)(((WORD)(a)) | ((DWORD)((WORD)(b))) << 16))
#define MAKEINTRESOURCEA(i) ((LPSTR)((ULONG_PTR)((WORD)(i))))
#define MAKEINTRESOURCE MAKEINTRESOURCEA
#define IS_INTRESOURCE(r) ((((ULONG_PTR)(r)) >> 16) == 0)

typedef struct _SECURITY_ATTRIBUTES {
    DWORD nLength;
    LPVOID lpSecurityDescriptor;
    BOOL bInheritHandle;
} SECURITY_ATTRIBUTES, *PSECURITY_ATTRIBUTES, *LPSECURITY_ATTRIBUTES;

typedef struct tagRECT { LONG left, top, right, bottom; } RECT, *LPRECT;
typedef struct tagPOINT { LONG x, y; } POINT, *LPPOINT;

#endif
