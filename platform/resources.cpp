// Module resources: the compiled resource file (.res) that a host module
// carries between its symbols DorveResourceData and DorveResourceEnd.
//
// A .res file is a sequence of entries, each DWORD-aligned:
//   DWORD DataSize, DWORD HeaderSize,
//   type and name (each 0xFFFF + WORD ordinal, or a NUL-terminated UTF-16
//   string), padded to a DWORD,
//   DWORD DataVersion, WORD MemoryFlags, WORD LanguageId, DWORD Version,
//   DWORD Characteristics,
//   then DataSize bytes of data at entry + HeaderSize, padded to a DWORD.
// The first entry is an empty one (type 0), which marks the format.
//
// The blob is walked again on every lookup: it is small, it stays mapped
// while the module is loaded, and so no index can outlive its module.  An
// HRSRC is the address of the entry's header inside the blob.

#include <windows.h>
#include <dorve/loader_host.h>

#include <stdarg.h>
#include <stdlib.h>
#include <string.h>

#include <string>
#include <vector>

#ifndef ERROR_RESOURCE_LANG_NOT_FOUND
#define ERROR_RESOURCE_LANG_NOT_FOUND 1815L
#endif
#ifndef ERROR_MR_MID_NOT_FOUND
#define ERROR_MR_MID_NOT_FOUND 317L
#endif

namespace {

struct ResBlob {
    const BYTE *pStart;
    const BYTE *pEnd;
};

// A resource type or name: an ordinal, or an upper-cased string.
struct ResId {
    bool bOrdinal;
    WORD wOrdinal;
    std::u16string strName;
};

struct ResEntry {
    const BYTE *pHeader;
    const BYTE *pData;
    DWORD cbData;
    ResId type;
    ResId name;
    WORD wLanguage;
};

DWORD ReadDword(const BYTE *p)
{
    DWORD dw;
    memcpy(&dw, p, sizeof(dw));
    return dw;
}

WORD ReadWord(const BYTE *p)
{
    WORD w;
    memcpy(&w, p, sizeof(w));
    return w;
}

size_t AlignDword(size_t n)
{
    return (n + 3) & ~(size_t)3;
}

char16_t UpperChar(char16_t c)
{
    return (c >= u'a' && c <= u'z') ? (char16_t)(c - u'a' + u'A') : c;
}

bool BlobOf(HMODULE hModule, ResBlob &blob)
{
    const BYTE *pStart = (const BYTE *)DorveLoaderModuleSymbol(hModule, "DorveResourceData");
    const BYTE *pEnd = (const BYTE *)DorveLoaderModuleSymbol(hModule, "DorveResourceEnd");
    if (pStart == nullptr || pEnd == nullptr || pEnd < pStart)
        return false;
    blob.pStart = pStart;
    blob.pEnd = pEnd;
    return true;
}

// Reads a type or name field at p (limit pLimit); returns the byte after it,
// or nullptr when the field runs past the header.
const BYTE *ReadResId(const BYTE *p, const BYTE *pLimit, ResId &id)
{
    if (pLimit - p < 2)
        return nullptr;
    if (ReadWord(p) == 0xFFFF) {
        if (pLimit - p < 4)
            return nullptr;
        id.bOrdinal = true;
        id.wOrdinal = ReadWord(p + 2);
        return p + 4;
    }
    id.bOrdinal = false;
    id.wOrdinal = 0;
    id.strName.clear();
    while (pLimit - p >= 2) {
        WORD w = ReadWord(p);
        p += 2;
        if (w == 0)
            return p;
        id.strName.push_back(UpperChar((char16_t)w));
    }
    return nullptr;
}

// Parses the entry at p; false when it is malformed or the blob ends.
bool ReadEntry(const ResBlob &blob, const BYTE *p, ResEntry &e, const BYTE *&pNext)
{
    size_t cbLeft = (size_t)(blob.pEnd - p);
    if (cbLeft < 8)
        return false;
    DWORD cbData = ReadDword(p);
    DWORD cbHeader = ReadDword(p + 4);
    if (cbHeader < 8 + 4 + 4 + 16 || cbHeader > cbLeft || cbData > cbLeft - cbHeader)
        return false;
    const BYTE *pHeaderEnd = p + cbHeader;
    const BYTE *q = ReadResId(p + 8, pHeaderEnd, e.type);
    if (q == nullptr)
        return false;
    q = ReadResId(q, pHeaderEnd, e.name);
    if (q == nullptr)
        return false;
    q = p + AlignDword((size_t)(q - p));
    if (pHeaderEnd - q < 16)
        return false;
    e.wLanguage = ReadWord(q + 6);
    e.pHeader = p;
    e.pData = pHeaderEnd;
    e.cbData = cbData;
    size_t cbEntry = AlignDword((size_t)cbHeader + cbData);
    pNext = cbEntry >= cbLeft ? blob.pEnd : p + cbEntry;
    return true;
}

bool ParseQuery(LPCSTR psz, ResId &id)
{
    if (psz == nullptr)
        return false;
    if (IS_INTRESOURCE(psz)) {
        id.bOrdinal = true;
        id.wOrdinal = (WORD)(ULONG_PTR)psz;
        return true;
    }
    if (psz[0] == '#') {
        char *pEnd = nullptr;
        unsigned long ul = strtoul(psz + 1, &pEnd, 10);
        if (psz[1] == '\0' || *pEnd != '\0' || ul > 0xFFFF)
            return false;
        id.bOrdinal = true;
        id.wOrdinal = (WORD)ul;
        return true;
    }
    // Resource names are compared without regard to ASCII letter case; a
    // name outside ASCII is matched byte for byte as Latin-1 would.
    id.bOrdinal = false;
    id.strName.clear();
    for (const unsigned char *p = (const unsigned char *)psz; *p != '\0'; p++)
        id.strName.push_back(UpperChar((char16_t)*p));
    return true;
}

bool SameId(const ResId &a, const ResId &b)
{
    if (a.bOrdinal != b.bOrdinal)
        return false;
    return a.bOrdinal ? a.wOrdinal == b.wOrdinal : a.strName == b.strName;
}

// Finds a resource; wLanguage 0 takes the first of any language.
bool FindEntry(const ResBlob &blob, const ResId &type, const ResId &name, WORD wLanguage, ResEntry &found,
               bool &bTypeSeen, bool &bNameSeen)
{
    bTypeSeen = bNameSeen = false;
    const BYTE *p = blob.pStart;
    while (p < blob.pEnd) {
        ResEntry e;
        const BYTE *pNext = nullptr;
        if (!ReadEntry(blob, p, e, pNext))
            return false;
        if (SameId(e.type, type)) {
            bTypeSeen = true;
            if (SameId(e.name, name)) {
                bNameSeen = true;
                if (wLanguage == 0 || e.wLanguage == wLanguage) {
                    found = e;
                    return true;
                }
            }
        }
        p = pNext;
    }
    return false;
}

// The entry whose header starts at pHeader, if the blob has one there.
bool EntryAt(const ResBlob &blob, const BYTE *pHeader, ResEntry &found)
{
    if (pHeader < blob.pStart || pHeader >= blob.pEnd)
        return false;
    const BYTE *p = blob.pStart;
    while (p < blob.pEnd && p <= pHeader) {
        ResEntry e;
        const BYTE *pNext = nullptr;
        if (!ReadEntry(blob, p, e, pNext))
            return false;
        if (p == pHeader) {
            found = e;
            return true;
        }
        p = pNext;
    }
    return false;
}

bool FindModuleResource(HMODULE hModule, const ResId &type, const ResId &name, WORD wLanguage,
                        ResEntry &found)
{
    ResBlob blob;
    if (!BlobOf(hModule, blob)) {
        SetLastError(ERROR_RESOURCE_DATA_NOT_FOUND);
        return false;
    }
    bool bTypeSeen, bNameSeen;
    if (FindEntry(blob, type, name, wLanguage, found, bTypeSeen, bNameSeen))
        return true;
    SetLastError(!bTypeSeen ? ERROR_RESOURCE_TYPE_NOT_FOUND
                 : !bNameSeen ? ERROR_RESOURCE_NAME_NOT_FOUND
                              : ERROR_RESOURCE_LANG_NOT_FOUND);
    return false;
}

ResId Ordinal(WORD w)
{
    ResId id;
    id.bOrdinal = true;
    id.wOrdinal = w;
    return id;
}

// Appends code point cp as UTF-8, the host's ANSI code page.
void AppendUtf8(std::string &s, DWORD cp)
{
    if (cp < 0x80) {
        s.push_back((char)cp);
    } else if (cp < 0x800) {
        s.push_back((char)(0xC0 | (cp >> 6)));
        s.push_back((char)(0x80 | (cp & 0x3F)));
    } else if (cp < 0x10000) {
        s.push_back((char)(0xE0 | (cp >> 12)));
        s.push_back((char)(0x80 | ((cp >> 6) & 0x3F)));
        s.push_back((char)(0x80 | (cp & 0x3F)));
    } else {
        s.push_back((char)(0xF0 | (cp >> 18)));
        s.push_back((char)(0x80 | ((cp >> 12) & 0x3F)));
        s.push_back((char)(0x80 | ((cp >> 6) & 0x3F)));
        s.push_back((char)(0x80 | (cp & 0x3F)));
    }
}

// UTF-16 (little-endian, unaligned) to UTF-8; a lone surrogate becomes
// U+FFFD.  Stops at cch units or at a NUL when bStopAtNul.
std::string Utf16ToUtf8(const BYTE *p, size_t cch, bool bStopAtNul)
{
    std::string s;
    for (size_t i = 0; i < cch; i++) {
        DWORD c = ReadWord(p + 2 * i);
        if (c == 0 && bStopAtNul)
            break;
        if (c >= 0xD800 && c <= 0xDBFF && i + 1 < cch) {
            DWORD c2 = ReadWord(p + 2 * (i + 1));
            if (c2 >= 0xDC00 && c2 <= 0xDFFF) {
                AppendUtf8(s, 0x10000 + ((c - 0xD800) << 10) + (c2 - 0xDC00));
                i++;
                continue;
            }
        }
        if (c >= 0xD800 && c <= 0xDFFF)
            c = 0xFFFD;
        AppendUtf8(s, c);
    }
    return s;
}

// Length of the UTF-8 sequence that starts with byte b (1 for a stray
// continuation byte, so that it is treated as a character of its own).
size_t Utf8SeqLen(unsigned char b)
{
    if (b >= 0xF0 && b < 0xF8)
        return 4;
    if (b >= 0xE0)
        return b < 0xF0 ? 3 : 1;
    if (b >= 0xC0)
        return 2;
    return 1;
}

// The longest prefix of s of at most cbMax bytes that ends on a character
// boundary.
size_t WholeCharsPrefix(const std::string &s, size_t cbMax)
{
    size_t n = 0;
    while (n < s.size()) {
        size_t cb = Utf8SeqLen((unsigned char)s[n]);
        if (n + cb > s.size())
            cb = s.size() - n;
        if (n + cb > cbMax)
            break;
        n += cb;
    }
    return n;
}

// Finds message dwId in a MESSAGE_RESOURCE_DATA block; false when absent or
// the table is malformed.
bool MessageText(const BYTE *pTable, DWORD cbTable, DWORD dwId, std::string &strText)
{
    if (cbTable < 4)
        return false;
    DWORD cBlocks = ReadDword(pTable);
    if (cBlocks > (cbTable - 4) / 12)
        return false;
    for (DWORD i = 0; i < cBlocks; i++) {
        const BYTE *pBlock = pTable + 4 + 12 * i;
        DWORD dwLow = ReadDword(pBlock), dwHigh = ReadDword(pBlock + 4), dwOffset = ReadDword(pBlock + 8);
        if (dwId < dwLow || dwId > dwHigh)
            continue;
        DWORD dwOff = dwOffset;
        for (DWORD dwCur = dwLow;; dwCur++) {
            if (dwOff > cbTable || cbTable - dwOff < 4)
                return false;
            WORD cbEntry = ReadWord(pTable + dwOff);
            WORD wFlags = ReadWord(pTable + dwOff + 2);
            if (cbEntry < 4 || cbEntry > cbTable - dwOff)
                return false;
            if (dwCur == dwId) {
                const BYTE *pText = pTable + dwOff + 4;
                size_t cbText = cbEntry - 4u;
                if (wFlags & 1) {
                    strText = Utf16ToUtf8(pText, cbText / 2, true);
                } else {
                    size_t n = strnlen((const char *)pText, cbText);
                    strText.assign((const char *)pText, n);
                }
                return true;
            }
            dwOff += cbEntry;
        }
    }
    return false;
}

// One insert's text: a string, or a number formatted by its !printf!
// specification.
bool InsertText(const std::string &strSpec, DWORD_PTR dwArg, std::string &strOut)
{
    if (strSpec.empty() || strSpec == "s") {
        strOut = dwArg == 0 ? std::string("(null)") : std::string((const char *)dwArg);
        return true;
    }
    char chConv = strSpec.back();
    std::string strFlags = strSpec.substr(0, strSpec.size() - 1);
    std::string strClean;
    for (char c : strFlags) {
        if (c == 'l' || c == 'h')
            continue;   // every argument is 32 bits, as on Windows
        if (!strchr("0123456789-+ #.", c))
            return false;
        strClean.push_back(c);
    }
    char szBuf[128];
    std::string strFmt = "%" + strClean;
    switch (chConv) {
    case 's':
        strOut = dwArg == 0 ? std::string("(null)") : std::string((const char *)dwArg);
        snprintf(szBuf, sizeof(szBuf), (strFmt + "s").c_str(), strOut.c_str());
        strOut = szBuf;
        return true;
    case 'd': case 'i':
        snprintf(szBuf, sizeof(szBuf), (strFmt + "d").c_str(), (int)(LONG)(DWORD)dwArg);
        break;
    case 'u': case 'x': case 'X': case 'o':
        snprintf(szBuf, sizeof(szBuf), (strFmt + chConv).c_str(), (unsigned)(DWORD)dwArg);
        break;
    case 'c':
        snprintf(szBuf, sizeof(szBuf), (strFmt + "c").c_str(), (int)(BYTE)dwArg);
        break;
    default:
        return false;
    }
    strOut = szBuf;
    return true;
}

// Expands the message text: %1..%99 (with an optional !printf! format), and
// the escapes %0 (end, no newline) %% %n %r %t %b %space %. %!.
bool FormatText(const std::string &strIn, DWORD dwFlags, const DWORD_PTR *pArray, va_list *pArgs,
                std::string &strOut)
{
    bool bIgnore = (dwFlags & FORMAT_MESSAGE_IGNORE_INSERTS) != 0;
    bool bArray = (dwFlags & FORMAT_MESSAGE_ARGUMENT_ARRAY) != 0;
    std::vector<DWORD_PTR> vArgs;   // values taken from the va_list, in order
    size_t i = 0;
    strOut.clear();
    while (i < strIn.size()) {
        char c = strIn[i];
        if (c != '%' || i + 1 >= strIn.size()) {
            strOut.push_back(c);
            i++;
            continue;
        }
        char d = strIn[i + 1];
        if (d >= '1' && d <= '9') {
            size_t j = i + 2;
            unsigned uIndex = (unsigned)(d - '0');
            if (j < strIn.size() && strIn[j] >= '0' && strIn[j] <= '9') {
                uIndex = uIndex * 10 + (unsigned)(strIn[j] - '0');
                j++;
            }
            std::string strSpec;
            if (j < strIn.size() && strIn[j] == '!') {
                size_t k = strIn.find('!', j + 1);
                if (k == std::string::npos) {
                    SetLastError(ERROR_INVALID_PARAMETER);
                    return false;
                }
                strSpec = strIn.substr(j + 1, k - j - 1);
                j = k + 1;
            }
            if (bIgnore) {
                strOut.append(strIn, i, j - i);
                i = j;
                continue;
            }
            DWORD_PTR dwArg;
            if (bArray) {
                if (pArray == nullptr) {
                    SetLastError(ERROR_INVALID_PARAMETER);
                    return false;
                }
                dwArg = pArray[uIndex - 1];
            } else {
                if (pArgs == nullptr) {
                    SetLastError(ERROR_INVALID_PARAMETER);
                    return false;
                }
                // A va_list is read once in order; every insert is one
                // pointer-sized argument.
                while (vArgs.size() < uIndex)
                    vArgs.push_back(va_arg(*pArgs, DWORD_PTR));
                dwArg = vArgs[uIndex - 1];
            }
            std::string strInsert;
            if (!InsertText(strSpec, dwArg, strInsert)) {
                SetLastError(ERROR_INVALID_PARAMETER);
                return false;
            }
            strOut += strInsert;
            i = j;
            continue;
        }
        i += 2;
        switch (d) {
        case '0': return true;
        case 'n': strOut += "\r\n"; break;
        case 'r': strOut.push_back('\r'); break;
        case 't': strOut.push_back('\t'); break;
        case 'b': strOut.push_back(' '); break;
        default: strOut.push_back(d); break;   // %% %. %! %space and the rest stand for themselves
        }
    }
    return true;
}

DWORD DeliverMessage(const std::string &strText, DWORD dwFlags, LPSTR lpBuffer, DWORD nSize)
{
    if (lpBuffer == nullptr) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return 0;
    }
    if (dwFlags & FORMAT_MESSAGE_ALLOCATE_BUFFER) {
        size_t cb = strText.size() + 1;
        if (cb < nSize)
            cb = nSize;
        char *p = (char *)malloc(cb);
        if (p == nullptr) {
            SetLastError(ERROR_NOT_ENOUGH_MEMORY);
            return 0;
        }
        memcpy(p, strText.c_str(), strText.size() + 1);
        *(LPSTR *)lpBuffer = p;
        return (DWORD)strText.size();
    }
    if (strText.size() + 1 > nSize) {
        SetLastError(ERROR_INSUFFICIENT_BUFFER);
        return 0;
    }
    memcpy(lpBuffer, strText.c_str(), strText.size() + 1);
    return (DWORD)strText.size();
}

} // namespace

extern "C" {

HRSRC WINAPI FindResourceA(HMODULE hModule, LPCSTR lpName, LPCSTR lpType)
{
    ResId type, name;
    if (!ParseQuery(lpType, type)) {
        SetLastError(ERROR_RESOURCE_TYPE_NOT_FOUND);
        return nullptr;
    }
    if (!ParseQuery(lpName, name)) {
        SetLastError(ERROR_RESOURCE_NAME_NOT_FOUND);
        return nullptr;
    }
    ResEntry e;
    if (!FindModuleResource(hModule, type, name, 0, e))
        return nullptr;
    return (HRSRC)e.pHeader;
}

HGLOBAL WINAPI LoadResource(HMODULE hModule, HRSRC hResInfo)
{
    ResBlob blob;
    ResEntry e;
    if (hResInfo == nullptr || !BlobOf(hModule, blob) || !EntryAt(blob, (const BYTE *)hResInfo, e)) {
        SetLastError(ERROR_RESOURCE_DATA_NOT_FOUND);
        return nullptr;
    }
    return (HGLOBAL)e.pData;
}

LPVOID WINAPI LockResource(HGLOBAL hResData)
{
    return (LPVOID)hResData;
}

DWORD WINAPI SizeofResource(HMODULE hModule, HRSRC hResInfo)
{
    ResBlob blob;
    ResEntry e;
    if (hResInfo == nullptr || !BlobOf(hModule, blob) || !EntryAt(blob, (const BYTE *)hResInfo, e)) {
        SetLastError(ERROR_RESOURCE_DATA_NOT_FOUND);
        return 0;
    }
    return e.cbData;
}

int WINAPI LoadStringA(HINSTANCE hInstance, UINT uID, LPSTR lpBuffer, int cchBufferMax)
{
    if (lpBuffer == nullptr || cchBufferMax <= 0) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return 0;
    }
    lpBuffer[0] = '\0';
    ResEntry e;
    if (!FindModuleResource((HMODULE)hInstance, Ordinal(6), Ordinal((WORD)((uID >> 4) + 1)), 0, e))
        return 0;
    // A block holds 16 counted UTF-16 strings; an absent one has count 0.
    const BYTE *p = e.pData;
    const BYTE *pEnd = e.pData + e.cbData;
    for (UINT i = 0; i < (uID & 15); i++) {
        if (pEnd - p < 2)
            return 0;
        size_t cch = ReadWord(p);
        if ((size_t)(pEnd - p - 2) / 2 < cch)
            return 0;
        p += 2 + 2 * cch;
    }
    if (pEnd - p < 2)
        return 0;
    size_t cch = ReadWord(p);
    if (cch == 0 || (size_t)(pEnd - p - 2) / 2 < cch) {
        SetLastError(ERROR_RESOURCE_NAME_NOT_FOUND);
        return 0;
    }
    std::string s = Utf16ToUtf8(p + 2, cch, false);
    size_t n = WholeCharsPrefix(s, (size_t)cchBufferMax - 1);
    memcpy(lpBuffer, s.data(), n);
    lpBuffer[n] = '\0';
    return (int)n;
}

DWORD WINAPI FormatMessageA(DWORD dwFlags, LPCVOID lpSource, DWORD dwMessageId, DWORD dwLanguageId,
                            LPSTR lpBuffer, DWORD nSize, va_list *Arguments)
{
    std::string strTemplate;
    if (dwFlags & FORMAT_MESSAGE_FROM_STRING) {
        if (lpSource == nullptr) {
            SetLastError(ERROR_INVALID_PARAMETER);
            return 0;
        }
        strTemplate = (const char *)lpSource;
    } else if (dwFlags & FORMAT_MESSAGE_FROM_HMODULE) {
        ResEntry e;
        if (!FindModuleResource((HMODULE)lpSource, Ordinal(11), Ordinal(1), (WORD)dwLanguageId, e))
            return 0;
        if (!MessageText(e.pData, e.cbData, dwMessageId, strTemplate)) {
            SetLastError(ERROR_MR_MID_NOT_FOUND);
            return 0;
        }
    } else {
        // The layer carries no system message texts.
        SetLastError(ERROR_MR_MID_NOT_FOUND);
        return 0;
    }
    std::string strText;
    if (!FormatText(strTemplate, dwFlags, (const DWORD_PTR *)Arguments, Arguments, strText))
        return 0;
    return DeliverMessage(strText, dwFlags, lpBuffer, nSize);
}

HLOCAL WINAPI LocalFree(HLOCAL hMem)
{
    free(hMem);
    return nullptr;
}

} // extern "C"
