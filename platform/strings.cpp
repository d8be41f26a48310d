// ANSI string services of the host layer: the lstr* family and wsprintfA
// with Windows' own format subset (32-bit 'l' arguments, 1024-character
// output limit).
#include <windows.h>

#include <stdint.h>

namespace {

const int kMaxWsprintfOutput = 1024;  // including the terminator

int AsciiLower(unsigned char c)
{
    return (c >= 'A' && c <= 'Z') ? c - 'A' + 'a' : c;
}

int CompareStrings(LPCSTR psz1, LPCSTR psz2, bool bIgnoreCase)
{
    if (psz1 == nullptr || psz2 == nullptr)
        return psz1 == psz2 ? 0 : (psz1 == nullptr ? -1 : 1);
    const unsigned char *p1 = (const unsigned char *)psz1;
    const unsigned char *p2 = (const unsigned char *)psz2;
    for (;; p1++, p2++) {
        int c1 = bIgnoreCase ? AsciiLower(*p1) : *p1;
        int c2 = bIgnoreCase ? AsciiLower(*p2) : *p2;
        if (c1 != c2)
            return c1 < c2 ? -1 : 1;
        if (c1 == 0)
            return 0;
    }
}

// The output of one wsprintfA call, cut at the Windows limit.
struct Out {
    LPSTR pszBuf;
    int cch;
    void Put(char c)
    {
        if (cch < kMaxWsprintfOutput - 1)
            pszBuf[cch++] = c;
    }
    void Repeat(char c, int n)
    {
        for (int i = 0; i < n; i++)
            Put(c);
    }
};

struct Conversion {
    bool bLeft = false;
    bool bZero = false;
    bool bAlternate = false;
    int nWidth = 0;
    int nPrecision = -1;
    char chSize = 0;  // 'l', 'h' or 0
    char chType = 0;
};

LPCSTR ParseConversion(LPCSTR p, Conversion &conv)
{
    for (;; p++) {
        if (*p == '-')
            conv.bLeft = true;
        else if (*p == '0')
            conv.bZero = true;
        else if (*p == '#')
            conv.bAlternate = true;
        else
            break;
    }
    while (*p >= '0' && *p <= '9')
        conv.nWidth = conv.nWidth < 10000 ? conv.nWidth * 10 + (*p++ - '0') : (p++, conv.nWidth);
    if (*p == '.') {
        p++;
        conv.nPrecision = 0;
        while (*p >= '0' && *p <= '9')
            conv.nPrecision = conv.nPrecision < 10000 ? conv.nPrecision * 10 + (*p++ - '0') : (p++, conv.nPrecision);
    }
    if (*p == 'l' || *p == 'h')
        conv.chSize = *p++;
    conv.chType = *p;
    return *p ? p + 1 : p;
}

void PutField(Out &out, const Conversion &conv, const char *pchBody, int cchBody)
{
    int nPad = conv.nWidth > cchBody ? conv.nWidth - cchBody : 0;
    if (!conv.bLeft)
        out.Repeat(' ', nPad);
    for (int i = 0; i < cchBody; i++)
        out.Put(pchBody[i]);
    if (conv.bLeft)
        out.Repeat(' ', nPad);
}

// Numbers: sign or 0x prefix, zero padding from the precision or the '0'
// flag, then the digits.
void PutNumber(Out &out, const Conversion &conv, uint32_t uValue, bool bNegative, unsigned uBase, bool bUpper)
{
    char szDigits[16];
    int cDigits = 0;
    bool bZero = uValue == 0;
    const char *pszSet = bUpper ? "0123456789ABCDEF" : "0123456789abcdef";
    do {
        szDigits[cDigits++] = pszSet[uValue % uBase];
        uValue /= uBase;
    } while (uValue != 0);
    if (conv.nPrecision == 0 && cDigits == 1 && szDigits[0] == '0')
        cDigits = 0;

    const char *pszPrefix = "";
    if (bNegative)
        pszPrefix = "-";
    else if (conv.bAlternate && uBase == 16 && !bZero)
        pszPrefix = bUpper ? "0X" : "0x";
    int cchPrefix = (int)strlen(pszPrefix);

    int cZeros = conv.nPrecision > cDigits ? conv.nPrecision - cDigits : 0;
    int cchBody = cchPrefix + cZeros + cDigits;
    if (conv.bZero && !conv.bLeft && conv.nPrecision < 0 && conv.nWidth > cchBody) {
        cZeros += conv.nWidth - cchBody;
        cchBody = conv.nWidth;
    }
    int nPad = conv.nWidth > cchBody ? conv.nWidth - cchBody : 0;
    if (!conv.bLeft)
        out.Repeat(' ', nPad);
    for (int i = 0; i < cchPrefix; i++)
        out.Put(pszPrefix[i]);
    out.Repeat('0', cZeros);
    while (cDigits > 0)
        out.Put(szDigits[--cDigits]);
    if (conv.bLeft)
        out.Repeat(' ', nPad);
}

void PutString(Out &out, const Conversion &conv, const char *psz)
{
    if (psz == nullptr)
        psz = "(null)";
    int cch = 0;
    while (psz[cch] != '\0' && (conv.nPrecision < 0 || cch < conv.nPrecision))
        cch++;
    PutField(out, conv, psz, cch);
}

// Wide strings (%S, %ls) become bytes; characters beyond one byte show as '?'.
void PutWideString(Out &out, const Conversion &conv, const WCHAR *pwsz)
{
    if (pwsz == nullptr) {
        PutString(out, conv, nullptr);
        return;
    }
    char szBuf[kMaxWsprintfOutput];
    int cch = 0;
    while (pwsz[cch] != 0 && cch < kMaxWsprintfOutput - 1 && (conv.nPrecision < 0 || cch < conv.nPrecision)) {
        szBuf[cch] = pwsz[cch] < 0x100 ? (char)pwsz[cch] : '?';
        cch++;
    }
    PutField(out, conv, szBuf, cch);
}

} // namespace

int WINAPI lstrcmpA(LPCSTR lpString1, LPCSTR lpString2)
{
    return CompareStrings(lpString1, lpString2, false);
}

int WINAPI lstrcmpiA(LPCSTR lpString1, LPCSTR lpString2)
{
    return CompareStrings(lpString1, lpString2, true);
}

LPSTR WINAPI lstrcpynA(LPSTR lpString1, LPCSTR lpString2, int iMaxLength)
{
    if (lpString1 == nullptr || iMaxLength <= 0)
        return lpString1;
    if (lpString2 == nullptr)
        lpString2 = "";
    int i = 0;
    for (; i < iMaxLength - 1 && lpString2[i] != '\0'; i++)
        lpString1[i] = lpString2[i];
    lpString1[i] = '\0';
    return lpString1;
}

LPSTR WINAPI lstrcpyA(LPSTR lpString1, LPCSTR lpString2)
{
    if (lpString1 == nullptr || lpString2 == nullptr)
        return nullptr;
    return strcpy(lpString1, lpString2);
}

LPSTR WINAPI lstrcatA(LPSTR lpString1, LPCSTR lpString2)
{
    if (lpString1 == nullptr || lpString2 == nullptr)
        return nullptr;
    return strcat(lpString1, lpString2);
}

int WINAPI lstrlenA(LPCSTR lpString)
{
    return lpString == nullptr ? 0 : (int)strlen(lpString);
}

int WINAPI wvsprintfA(LPSTR lpOut, LPCSTR lpFmt, va_list arglist)
{
    if (lpOut == nullptr)
        return 0;
    Out out{lpOut, 0};
    if (lpFmt == nullptr) {
        lpOut[0] = '\0';
        return 0;
    }
    va_list args;
    va_copy(args, arglist);
    const char *p = lpFmt;
    while (*p != '\0') {
        if (*p != '%') {
            out.Put(*p++);
            continue;
        }
        Conversion conv;
        p = ParseConversion(p + 1, conv);
        switch (conv.chType) {
        case '%':
            out.Put('%');
            break;
        case 'c': {
            char c = (char)va_arg(args, int);
            PutField(out, conv, &c, 1);
            break;
        }
        case 'C': {
            WCHAR wc = (WCHAR)va_arg(args, int);
            char c = wc < 0x100 ? (char)wc : '?';
            PutField(out, conv, &c, 1);
            break;
        }
        case 's':
            if (conv.chSize == 'l')
                PutWideString(out, conv, va_arg(args, const WCHAR *));
            else
                PutString(out, conv, va_arg(args, const char *));
            break;
        case 'S':
            if (conv.chSize == 'h')
                PutString(out, conv, va_arg(args, const char *));
            else
                PutWideString(out, conv, va_arg(args, const WCHAR *));
            break;
        case 'd':
        case 'i': {
            // Windows passes int, LONG and short alike as 32-bit arguments.
            int32_t iValue = (int32_t)va_arg(args, int);
            if (conv.chSize == 'h')
                iValue = (int16_t)iValue;
            uint32_t uMagnitude = iValue < 0 ? 0u - (uint32_t)iValue : (uint32_t)iValue;
            PutNumber(out, conv, uMagnitude, iValue < 0, 10, false);
            break;
        }
        case 'u':
        case 'x':
        case 'X': {
            uint32_t uValue = (uint32_t)va_arg(args, unsigned int);
            if (conv.chSize == 'h')
                uValue = (uint16_t)uValue;
            PutNumber(out, conv, uValue, false, conv.chType == 'u' ? 10 : 16, conv.chType == 'X');
            break;
        }
        case 'p': {
            uintptr_t uPtr = (uintptr_t)va_arg(args, void *);
            Conversion hex = conv;
            hex.nPrecision = (int)(sizeof(void *) * 2);
            char szBuf[2 * sizeof(void *) + 1];
            for (int i = (int)(sizeof(void *) * 2) - 1; i >= 0; i--, uPtr >>= 4)
                szBuf[i] = "0123456789ABCDEF"[uPtr & 0xF];
            szBuf[sizeof(void *) * 2] = '\0';
            hex.nPrecision = -1;
            PutString(out, hex, szBuf);
            break;
        }
        case '\0':
            break;
        default:
            // Not a conversion of this subset: the character stands for itself.
            out.Put(conv.chType);
            break;
        }
    }
    va_end(args);
    lpOut[out.cch] = '\0';
    return out.cch;
}

int WINAPIV wsprintfA(LPSTR lpOut, LPCSTR lpFmt, ...)
{
    va_list args;
    va_start(args, lpFmt);
    int cch = wvsprintfA(lpOut, lpFmt, args);
    va_end(args);
    return cch;
}
