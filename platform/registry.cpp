// The registry of the host layer.
//
// The whole registry lives in memory as a tree of keys and is mirrored in one
// REGEDIT4 text file.  Every change is written out at once: the file is
// rewritten in a temporary file beside it, synced and renamed over the old
// one, so a crash leaves either the old or the new file, never a mix.  Writers
// serialise on an advisory lock (flock on "<file>.lock"), and each one first
// re-reads the file when another process replaced it since we last saw it
// (inode, size and mtime, plus a generation counter kept in the lock file), so
// concurrent processes never drop each other's changes.  A file that does not
// parse is never written over: every call fails until it is fixed.
//
// Choices the file format leaves open:
// - Key class strings are not part of REGEDIT4; they are kept in memory for
//   the life of the process only.
// - Volatile keys (REG_OPTION_VOLATILE) are never written to the file.
// - All predefined roots are stored in the same file.
// - Lines end in LF; CRLF is accepted when reading.
// - Names holding control characters cannot be written to the file and are
//   refused (ERROR_INVALID_PARAMETER) rather than lost later.
// - RegDeleteKeyA refuses a key that still has subkeys with
//   ERROR_ACCESS_DENIED, as Windows NT does, so a stray call can never take a
//   whole subtree with it.

// 64-bit inode numbers and directory offsets also in the 32-bit build.
#define _FILE_OFFSET_BITS 64

#include "winreg.h"
#include "dorve/registry_host.h"

#include <dirent.h>
#include <errno.h>
#include <fcntl.h>
#include <pwd.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

namespace {

const LONG kErrChildMustBeVolatile = 1021;
const size_t kMaxKeyName = 255;
const size_t kMaxValueName = 16383;
const DWORD kGenericRead = 0x80000000u;
const DWORD kGenericWrite = 0x40000000u;
const DWORD kGenericExecute = 0x20000000u;
const DWORD kGenericAll = 0x10000000u;
const DWORD kMaximumAllowed = 0x02000000u;

struct RegValue {
    std::string strName;
    DWORD dwType;
    std::string strData;
};

struct RegKey;
typedef std::shared_ptr<RegKey> KeyPtr;

struct RegKey {
    std::string strName;
    std::string strClass;
    std::vector<RegValue> values;   // in the order they were first set
    std::vector<KeyPtr> subkeys;    // in name order, case ignored
    RegKey *lpParent = nullptr;     // only meaningful while not deleted
    bool bVolatile = false;
    bool bDeleted = false;
    uint64_t qwWriteTime = 0;       // FILETIME units
};

struct RegHandle {
    KeyPtr key;
    DWORD dwAccess;
};

const char *const g_rootNames[] = {
    "HKEY_CLASSES_ROOT", "HKEY_CURRENT_USER", "HKEY_LOCAL_MACHINE", "HKEY_USERS",
    "HKEY_PERFORMANCE_DATA", "HKEY_CURRENT_CONFIG", "HKEY_DYN_DATA"};
const int kRoots = 7;

struct FileStamp {
    bool bExists = false;
    dev_t dev = 0;
    ino_t ino = 0;
    off_t size = 0;
    long long mtimeSec = 0;
    long mtimeNsec = 0;
};

bool SameStamp(const FileStamp &a, const FileStamp &b)
{
    if (a.bExists != b.bExists)
        return false;
    if (!a.bExists)
        return true;
    return a.dev == b.dev && a.ino == b.ino && a.size == b.size && a.mtimeSec == b.mtimeSec &&
           a.mtimeNsec == b.mtimeNsec;
}

FileStamp StampOf(const struct stat &st)
{
    FileStamp s;
    s.bExists = true;
    s.dev = st.st_dev;
    s.ino = st.st_ino;
    s.size = st.st_size;
    s.mtimeSec = (long long)st.st_mtim.tv_sec;
    s.mtimeNsec = st.st_mtim.tv_nsec;
    return s;
}

struct RegStore {
    std::mutex mtx;
    KeyPtr roots[kRoots];
    std::map<uint32_t, RegHandle> handles;
    uint32_t nextHandle = 0x100;
    std::string strFile;
    bool bChosen = false;
    bool bSwept = false;            // stale temporary files removed once
    LONG lFailure = ERROR_SUCCESS;  // set while the file cannot be used
    bool bStampValid = false;
    FileStamp stamp;
    bool bGenValid = false;
    unsigned long long qwGen = 0;
    std::string strLastError;
};

RegStore &Store()
{
    // Never destroyed: threads of the spooler model may still call in while
    // the process runs its static destructors.
    static RegStore *s_store = [] {
        RegStore *s = new RegStore;
        for (int i = 0; i < kRoots; i++) {
            s->roots[i] = std::make_shared<RegKey>();
            s->roots[i]->strName = g_rootNames[i];
        }
        return s;
    }();
    return *s_store;
}

uint64_t NowFileTime()
{
    struct timespec ts;
    clock_gettime(CLOCK_REALTIME, &ts);
    return ((uint64_t)ts.tv_sec + 11644473600ull) * 10000000ull + (uint64_t)ts.tv_nsec / 100;
}

// ---------------------------------------------------------------- names

int FoldChar(unsigned char c)
{
    return (c >= 'a' && c <= 'z') ? c - 'a' + 'A' : c;
}

// Windows orders names by their upper-case form.
int CompareNames(const std::string &a, const std::string &b)
{
    size_t n = std::min(a.size(), b.size());
    for (size_t i = 0; i < n; i++) {
        int d = FoldChar((unsigned char)a[i]) - FoldChar((unsigned char)b[i]);
        if (d)
            return d;
    }
    return a.size() < b.size() ? -1 : (a.size() > b.size() ? 1 : 0);
}

bool SameName(const std::string &a, const std::string &b)
{
    return a.size() == b.size() && CompareNames(a, b) == 0;
}

bool HasControlChar(const std::string &s)
{
    for (unsigned char c : s)
        if (c < 0x20)
            return true;
    return false;
}

KeyPtr FindSubkey(const RegKey &key, const std::string &name)
{
    for (const KeyPtr &k : key.subkeys)
        if (SameName(k->strName, name))
            return k;
    return KeyPtr();
}

void InsertSubkey(RegKey &parent, const KeyPtr &child)
{
    auto pos = std::lower_bound(parent.subkeys.begin(), parent.subkeys.end(), child,
                                [](const KeyPtr &a, const KeyPtr &b) {
                                    return CompareNames(a->strName, b->strName) < 0;
                                });
    child->lpParent = &parent;
    parent.subkeys.insert(pos, child);
}

RegValue *FindValue(RegKey &key, const std::string &name)
{
    for (RegValue &v : key.values)
        if (SameName(v.strName, name))
            return &v;
    return nullptr;
}

void PutValue(RegKey &key, const std::string &name, DWORD dwType, const std::string &data)
{
    RegValue *v = FindValue(key, name);
    if (v) {
        v->dwType = dwType;
        v->strData = data;
    } else {
        key.values.push_back(RegValue{name, dwType, data});
    }
}

bool EraseValue(RegKey &key, const std::string &name)
{
    for (size_t i = 0; i < key.values.size(); i++) {
        if (SameName(key.values[i].strName, name)) {
            key.values.erase(key.values.begin() + (long)i);
            return true;
        }
    }
    return false;
}

void MarkDeleted(const KeyPtr &key)
{
    key->bDeleted = true;
    key->lpParent = nullptr;
    for (const KeyPtr &k : key->subkeys)
        MarkDeleted(k);
    key->subkeys.clear();
    key->values.clear();
}

void DetachSubkey(RegKey &parent, const KeyPtr &child)
{
    auto it = std::find(parent.subkeys.begin(), parent.subkeys.end(), child);
    if (it != parent.subkeys.end())
        parent.subkeys.erase(it);
    MarkDeleted(child);
}

// Splits "a\b\c" into its names.  A leading backslash is refused as Windows
// refuses it; empty names between backslashes and a trailing one are ignored.
LONG SplitPath(const char *lpSubKey, std::vector<std::string> *parts)
{
    parts->clear();
    if (!lpSubKey)
        return ERROR_SUCCESS;
    if (lpSubKey[0] == '\\')
        return ERROR_BAD_PATHNAME;
    std::string cur;
    for (const char *p = lpSubKey;; p++) {
        if (*p == '\\' || *p == '\0') {
            if (!cur.empty()) {
                if (cur.size() > kMaxKeyName || HasControlChar(cur))
                    return ERROR_INVALID_PARAMETER;
                parts->push_back(cur);
            }
            cur.clear();
            if (*p == '\0')
                break;
        } else {
            cur += *p;
        }
    }
    return ERROR_SUCCESS;
}

// ---------------------------------------------------------------- writer

void AppendEscaped(std::string &out, const std::string &s)
{
    for (char c : s) {
        if (c == '\\' || c == '"')
            out += '\\';
        out += c;
    }
}

// A REG_SZ goes out as a quoted string only when reading it back gives the
// very same bytes: one trailing NUL, no other NUL, nothing that breaks a line.
bool IsPlainString(const std::string &data)
{
    if (data.empty() || data.back() != '\0')
        return false;
    for (size_t i = 0; i + 1 < data.size(); i++) {
        unsigned char c = (unsigned char)data[i];
        if (c < 0x20 && c != '\t')
            return false;
    }
    return true;
}

// Hex bytes as regedit lays them out: a line breaks with "\" before it would
// pass 80 columns, and continues indented by two spaces.
void AppendHex(std::string &out, size_t col, const std::string &data)
{
    static const char kDigits[] = "0123456789abcdef";
    size_t n = data.size();
    for (size_t i = 0; i < n; i++) {
        bool bLast = i + 1 == n;
        if (i > 0 && col + (bLast ? 2 : 4) > 80) {
            out += "\\\n  ";
            col = 2;
        }
        unsigned char b = (unsigned char)data[i];
        out += kDigits[b >> 4];
        out += kDigits[b & 15];
        col += 2;
        if (!bLast) {
            out += ',';
            col++;
        }
    }
}

void AppendValue(std::string &out, const RegValue &v)
{
    size_t lineStart = out.size();
    if (v.strName.empty()) {
        out += '@';
    } else {
        out += '"';
        AppendEscaped(out, v.strName);
        out += '"';
    }
    out += '=';
    if (v.dwType == REG_SZ && IsPlainString(v.strData)) {
        out += '"';
        AppendEscaped(out, v.strData.substr(0, v.strData.size() - 1));
        out += '"';
    } else if (v.dwType == REG_DWORD && v.strData.size() == 4) {
        const unsigned char *b = (const unsigned char *)v.strData.data();
        char buf[16];
        snprintf(buf, sizeof buf, "dword:%08x",
                 (unsigned)(b[0] | (b[1] << 8) | (b[2] << 16) | ((unsigned)b[3] << 24)));
        out += buf;
    } else {
        char buf[24];
        if (v.dwType == REG_BINARY)
            snprintf(buf, sizeof buf, "hex:");
        else
            snprintf(buf, sizeof buf, "hex(%x):", (unsigned)v.dwType);
        out += buf;
        AppendHex(out, out.size() - lineStart, v.strData);
    }
    out += '\n';
}

void AppendKey(std::string &out, const std::string &parentPath, const RegKey &key, bool bRoot)
{
    if (key.bVolatile)
        return;
    std::string path = bRoot ? key.strName : parentPath + "\\" + key.strName;
    if (!bRoot || !key.values.empty()) {
        out += '[';
        out += path;
        out += "]\n";
        for (const RegValue &v : key.values)
            AppendValue(out, v);
        out += '\n';
    }
    for (const KeyPtr &k : key.subkeys)
        AppendKey(out, path, *k, false);
}

std::string Serialize(const KeyPtr roots[])
{
    std::string out = "REGEDIT4\n\n";
    for (int i = 0; i < kRoots; i++)
        AppendKey(out, std::string(), *roots[i], true);
    return out;
}

// ---------------------------------------------------------------- parser

struct Parser {
    const std::string *lpText;
    size_t pos = 0;
    int nLine = 0;        // number of the last physical line read
    std::string strError; // "expected ..." without the file and line
};

bool NextLine(Parser &p, std::string *line)
{
    const std::string &t = *p.lpText;
    if (p.pos >= t.size())
        return false;
    size_t end = t.find('\n', p.pos);
    if (end == std::string::npos)
        end = t.size();
    *line = t.substr(p.pos, end - p.pos);
    if (!line->empty() && line->back() == '\r')
        line->pop_back();
    p.pos = end + 1;
    p.nLine++;
    return true;
}

size_t SkipBlanks(const std::string &s, size_t i)
{
    while (i < s.size() && (s[i] == ' ' || s[i] == '\t'))
        i++;
    return i;
}

bool OnlyBlanksFrom(const std::string &s, size_t i)
{
    return SkipBlanks(s, i) == s.size();
}

int HexDigit(char c)
{
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    return -1;
}

// Reads a quoted string starting at s[*i] == '"'.  Only \\ and \" are
// escapes; any other backslash stands for itself, as people type paths.
bool ParseQuoted(const std::string &s, size_t *i, std::string *out)
{
    out->clear();
    size_t k = *i + 1;
    while (k < s.size()) {
        char c = s[k];
        if (c == '"') {
            *i = k + 1;
            return true;
        }
        if (c == '\\' && k + 1 < s.size() && (s[k + 1] == '\\' || s[k + 1] == '"')) {
            *out += s[k + 1];
            k += 2;
            continue;
        }
        *out += c;
        k++;
    }
    return false;
}

bool ParseHexList(const std::string &s, size_t i, std::string *out, std::string *err)
{
    out->clear();
    i = SkipBlanks(s, i);
    while (i < s.size()) {
        int hi = HexDigit(s[i]);
        if (hi < 0) {
            *err = "expected a hex byte";
            return false;
        }
        int val = hi;
        i++;
        if (i < s.size() && HexDigit(s[i]) >= 0) {
            val = val * 16 + HexDigit(s[i]);
            i++;
        }
        out->push_back((char)val);
        i = SkipBlanks(s, i);
        if (i == s.size())
            break;
        if (s[i] != ',') {
            *err = "expected ',' between hex bytes";
            return false;
        }
        i = SkipBlanks(s, i + 1);
    }
    return true;
}

bool ParseRootAndPath(const std::string &path, int *root, std::vector<std::string> *parts,
                      std::string *err)
{
    parts->clear();
    size_t start = 0;
    std::vector<std::string> all;
    for (;;) {
        size_t bs = path.find('\\', start);
        std::string name = path.substr(start, bs == std::string::npos ? std::string::npos : bs - start);
        if (name.empty()) {
            *err = "expected a key name between backslashes";
            return false;
        }
        if (name.size() > kMaxKeyName) {
            *err = "expected a key name of at most 255 characters";
            return false;
        }
        all.push_back(name);
        if (bs == std::string::npos)
            break;
        start = bs + 1;
    }
    for (int i = 0; i < kRoots; i++) {
        if (SameName(all[0], g_rootNames[i])) {
            *root = i;
            parts->assign(all.begin() + 1, all.end());
            return true;
        }
    }
    *err = "expected a root key such as HKEY_LOCAL_MACHINE, not \"" + all[0] + "\"";
    return false;
}

KeyPtr CreatePath(const KeyPtr &root, const std::vector<std::string> &parts, uint64_t qwTime)
{
    KeyPtr cur = root;
    for (const std::string &name : parts) {
        KeyPtr next = FindSubkey(*cur, name);
        if (!next) {
            next = std::make_shared<RegKey>();
            next->strName = name;
            next->qwWriteTime = qwTime;
            InsertSubkey(*cur, next);
        }
        cur = next;
    }
    return cur;
}

KeyPtr FindPath(const KeyPtr &root, const std::vector<std::string> &parts)
{
    KeyPtr cur = root;
    for (const std::string &name : parts) {
        cur = FindSubkey(*cur, name);
        if (!cur)
            return cur;
    }
    return cur;
}

bool ParseSection(const std::string &line, KeyPtr roots[], KeyPtr *current, std::string *err,
                  uint64_t qwTime)
{
    size_t close = line.rfind(']');
    if (close == std::string::npos || close < 1 || !OnlyBlanksFrom(line, close + 1)) {
        *err = "expected ']' at the end of the key line";
        return false;
    }
    size_t start = SkipBlanks(line, 0) + 1;
    bool bDelete = start < close && line[start] == '-';
    if (bDelete)
        start++;
    int root;
    std::vector<std::string> parts;
    if (!ParseRootAndPath(line.substr(start, close - start), &root, &parts, err))
        return false;
    current->reset();
    if (!bDelete) {
        *current = CreatePath(roots[root], parts, qwTime);
        return true;
    }
    if (parts.empty()) {
        *err = "expected a key below the root; a root key cannot be deleted";
        return false;
    }
    KeyPtr victim = FindPath(roots[root], parts);
    if (victim)
        DetachSubkey(*victim->lpParent, victim);
    return true;
}

bool ParseValueLine(const std::string &line, RegKey &key, std::string *err)
{
    size_t i = SkipBlanks(line, 0);
    std::string name;
    if (line[i] == '@') {
        i++;
    } else if (!ParseQuoted(line, &i, &name)) {
        *err = "expected '\"' closing the value name";
        return false;
    }
    i = SkipBlanks(line, i);
    if (i >= line.size() || line[i] != '=') {
        *err = "expected '=' after the value name";
        return false;
    }
    i = SkipBlanks(line, i + 1);
    std::string data;
    if (i < line.size() && line[i] == '"') {
        if (!ParseQuoted(line, &i, &data)) {
            *err = "expected '\"' closing the string";
            return false;
        }
        if (!OnlyBlanksFrom(line, i)) {
            *err = "expected the end of the line after the string";
            return false;
        }
        data += '\0';
        PutValue(key, name, REG_SZ, data);
        return true;
    }
    if (i < line.size() && line[i] == '-' && OnlyBlanksFrom(line, i + 1)) {
        EraseValue(key, name);
        return true;
    }
    if (line.compare(i, 6, "dword:") == 0) {
        size_t k = SkipBlanks(line, i + 6);
        unsigned long v = 0;
        size_t nDigits = 0;
        while (k < line.size() && HexDigit(line[k]) >= 0 && nDigits < 9) {
            v = v * 16 + (unsigned long)HexDigit(line[k]);
            k++;
            nDigits++;
        }
        if (nDigits == 0 || nDigits > 8 || !OnlyBlanksFrom(line, k)) {
            *err = "expected up to 8 hex digits after dword:";
            return false;
        }
        char b[4] = {(char)(v & 0xff), (char)((v >> 8) & 0xff), (char)((v >> 16) & 0xff),
                     (char)((v >> 24) & 0xff)};
        PutValue(key, name, REG_DWORD, std::string(b, 4));
        return true;
    }
    DWORD dwType = REG_BINARY;
    size_t k;
    if (line.compare(i, 4, "hex:") == 0) {
        k = i + 4;
    } else if (line.compare(i, 4, "hex(") == 0) {
        k = i + 4;
        unsigned long t = 0;
        size_t nDigits = 0;
        while (k < line.size() && HexDigit(line[k]) >= 0 && nDigits < 9) {
            t = t * 16 + (unsigned long)HexDigit(line[k]);
            k++;
            nDigits++;
        }
        if (nDigits == 0 || nDigits > 8 || line.compare(k, 2, "):") != 0) {
            *err = "expected hex(N): with a hex type number";
            return false;
        }
        dwType = (DWORD)t;
        k += 2;
    } else {
        *err = "expected a quoted string, dword:, hex:, hex(N): or - after '='";
        return false;
    }
    if (!ParseHexList(line, k, &data, err))
        return false;
    PutValue(key, name, dwType, data);
    return true;
}

// Parses a whole file into fresh roots.  On failure *err is
// "<file>:<line>: expected ...".
bool ParseRegistry(const std::string &text, const std::string &strFile, KeyPtr roots[],
                   uint64_t qwTime, std::string *err)
{
    for (int i = 0; i < kRoots; i++) {
        roots[i] = std::make_shared<RegKey>();
        roots[i]->strName = g_rootNames[i];
    }
    Parser p;
    p.lpText = &text;
    std::string line;
    bool bHeader = false;
    bool bInDeleted = false;
    KeyPtr current;
    std::string why;
    while (NextLine(p, &line)) {
        int nFirst = p.nLine;
        if (nFirst == 1 && line.compare(0, 3, "\xEF\xBB\xBF") == 0)
            line.erase(0, 3);
        size_t i = SkipBlanks(line, 0);
        if (!bHeader) {
            if (line.compare(i, 8, "REGEDIT4") != 0 || !OnlyBlanksFrom(line, i + 8)) {
                why = "expected \"REGEDIT4\" on the first line";
                goto fail;
            }
            bHeader = true;
            continue;
        }
        if (i == line.size() || line[i] == ';')
            continue;
        if (line[i] == '[') {
            if (!ParseSection(line, roots, &current, &why, qwTime))
                goto fail;
            bInDeleted = !current;
            continue;
        }
        if (line[i] != '"' && line[i] != '@') {
            why = "expected a [key] line, a \"name\"= or @= value line, or a ';' comment";
            goto fail;
        }
        // hex data may go on over lines that end in a backslash
        while (!line.empty() && line.back() == '\\') {
            std::string more;
            if (!NextLine(p, &more))
                break;
            line.pop_back();
            line += more.substr(SkipBlanks(more, 0));
        }
        if (bInDeleted)
            continue;
        if (!current) {
            why = "expected a [key] line before the first value";
            goto fail;
        }
        if (!ParseValueLine(line, *current, &why))
            goto fail;
        continue;
    fail:
        *err = strFile + ":" + std::to_string(nFirst) + ": " + why;
        return false;
    }
    if (!bHeader) {
        *err = strFile + ":1: expected \"REGEDIT4\" on the first line";
        return false;
    }
    return true;
}

// Moves the freshly read tree into the live one, keeping the node of every key
// that is in both so that open handles follow it; keys gone from the file
// become deleted keys, volatile keys (never in the file) stay.
void Reconcile(RegKey &live, RegKey &fresh)
{
    live.values = fresh.values;
    std::vector<KeyPtr> kept;
    for (const KeyPtr &f : fresh.subkeys) {
        KeyPtr l = FindSubkey(live, f->strName);
        if (l) {
            l->strName = f->strName;
            Reconcile(*l, *f);
            kept.push_back(l);
        } else {
            kept.push_back(f);
        }
    }
    for (const KeyPtr &l : live.subkeys) {
        if (std::find(kept.begin(), kept.end(), l) != kept.end())
            continue;
        if (l->bVolatile)
            kept.push_back(l);
        else
            MarkDeleted(l);
    }
    std::sort(kept.begin(), kept.end(), [](const KeyPtr &a, const KeyPtr &b) {
        return CompareNames(a->strName, b->strName) < 0;
    });
    for (const KeyPtr &k : kept)
        k->lpParent = &live;
    live.subkeys = kept;
}

// ---------------------------------------------------------------- file

std::string DefaultFilePath()
{
    const char *xdg = getenv("XDG_DATA_HOME");
    if (xdg && xdg[0] == '/')
        return std::string(xdg) + "/dorve/registry.reg";
    const char *home = getenv("HOME");
    std::string strHome = home && home[0] ? home : "";
    if (strHome.empty()) {
        struct passwd *pw = getpwuid(getuid());
        strHome = pw && pw->pw_dir ? pw->pw_dir : "/tmp";
    }
    return strHome + "/.local/share/dorve/registry.reg";
}

void ChooseFile(RegStore &s)
{
    if (s.bChosen)
        return;
    const char *env = getenv("DORVE_REGISTRY");
    s.strFile = env && env[0] ? env : DefaultFilePath();
    s.bChosen = true;
}

std::string DirOf(const std::string &path)
{
    size_t slash = path.rfind('/');
    if (slash == std::string::npos)
        return ".";
    if (slash == 0)
        return "/";
    return path.substr(0, slash);
}

bool MakeDirs(const std::string &dir)
{
    struct stat st;
    if (stat(dir.c_str(), &st) == 0)
        return S_ISDIR(st.st_mode);
    std::string parent = DirOf(dir);
    if (parent != dir && !MakeDirs(parent))
        return false;
    return mkdir(dir.c_str(), 0777) == 0 || errno == EEXIST;
}

std::string ErrnoText(const std::string &what, int err)
{
    return what + ": " + strerror(err);
}

// Reads and parses the file and takes it over as the live tree.  A missing
// file is an empty registry.
LONG LoadFile(RegStore &s, bool bLocked, unsigned long long qwGen)
{
    std::string text;
    FileStamp stamp;
    uint64_t qwTime = NowFileTime();
    int fd = open(s.strFile.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0 && errno != ENOENT) {
        s.strLastError = ErrnoText(s.strFile + ": cannot read the registry", errno);
        s.lFailure = ERROR_BADDB;
        s.bStampValid = false;
        return s.lFailure;
    }
    if (fd >= 0) {
        struct stat st;
        bool bStat = fstat(fd, &st) == 0;
        if (!bStat || !S_ISREG(st.st_mode)) {
            int e = errno;
            close(fd);
            s.strLastError = bStat ? s.strFile + ": is not a regular file"
                                   : ErrnoText(s.strFile + ": cannot read the registry", e);
            s.lFailure = ERROR_BADDB;
            s.bStampValid = false;
            return s.lFailure;
        }
        stamp = StampOf(st);
        char buf[65536];
        for (;;) {
            ssize_t n = read(fd, buf, sizeof buf);
            if (n < 0 && errno == EINTR)
                continue;
            if (n < 0) {
                int e = errno;
                close(fd);
                s.strLastError = ErrnoText(s.strFile + ": cannot read the registry", e);
                s.lFailure = ERROR_BADDB;
                s.bStampValid = false;
                return s.lFailure;
            }
            if (n == 0)
                break;
            text.append(buf, (size_t)n);
        }
        close(fd);
        qwTime = ((uint64_t)stamp.mtimeSec + 11644473600ull) * 10000000ull + (uint64_t)stamp.mtimeNsec / 100;
    } else {
        text = "REGEDIT4\n";
    }
    // Remember what we read, good or bad, so that a bad file is parsed again
    // only once somebody has changed it.
    s.stamp = stamp;
    s.bStampValid = true;
    s.bGenValid = bLocked;
    s.qwGen = qwGen;
    KeyPtr fresh[kRoots];
    std::string err;
    if (!ParseRegistry(text, s.strFile, fresh, qwTime, &err)) {
        s.strLastError = err;
        s.lFailure = ERROR_REGISTRY_CORRUPT;
        return s.lFailure;
    }
    for (int i = 0; i < kRoots; i++)
        Reconcile(*s.roots[i], *fresh[i]);
    s.lFailure = ERROR_SUCCESS;
    return ERROR_SUCCESS;
}

// Brings the live tree up to date with the file; bLocked when the caller
// holds the lock file, whose generation then counts as well.
LONG Refresh(RegStore &s, bool bLocked = false, unsigned long long qwGen = 0)
{
    ChooseFile(s);
    FileStamp now;
    struct stat st;
    if (stat(s.strFile.c_str(), &st) == 0)
        now = StampOf(st);
    else if (errno != ENOENT)
        return LoadFile(s, bLocked, qwGen);  // reports the problem
    bool bStale = !s.bStampValid || !SameStamp(now, s.stamp) ||
                  (bLocked && (!s.bGenValid || s.qwGen != qwGen));
    if (bStale)
        return LoadFile(s, bLocked, qwGen);
    return s.lFailure;
}

bool WriteAll(int fd, const std::string &data)
{
    size_t done = 0;
    while (done < data.size()) {
        ssize_t n = write(fd, data.data() + done, data.size() - done);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return false;
        done += (size_t)n;
    }
    return true;
}

unsigned long long ReadGeneration(int fd)
{
    char buf[32] = {0};
    ssize_t n = pread(fd, buf, sizeof buf - 1, 0);
    if (n <= 0)
        return 0;
    return strtoull(buf, nullptr, 10);
}

void WriteGeneration(int fd, unsigned long long gen)
{
    char buf[32];
    int n = snprintf(buf, sizeof buf, "%llu\n", gen);
    if (ftruncate(fd, 0) == 0 && pwrite(fd, buf, (size_t)n, 0) != n) {
        // A lost counter only costs the next writer a re-read.
    }
}

// Temporary files are only ever written under the lock, so any that exist
// while we hold it were left by a writer that died mid-save.
void SweepTemporaries(RegStore &s)
{
    if (s.bSwept)
        return;
    s.bSwept = true;
    std::string dir = DirOf(s.strFile);
    size_t slash = s.strFile.rfind('/');
    std::string prefix = (slash == std::string::npos ? s.strFile : s.strFile.substr(slash + 1)) + ".tmp.";
    DIR *d = opendir(dir.c_str());
    if (!d)
        return;
    while (struct dirent *e = readdir(d)) {
        if (strncmp(e->d_name, prefix.c_str(), prefix.size()) == 0 &&
            strlen(e->d_name) == prefix.size() + 6)
            unlink((dir + "/" + e->d_name).c_str());
    }
    closedir(d);
}

// Holds the lock file across one read-modify-write.
struct ChangeLock {
    int fd = -1;
    unsigned long long qwGen = 0;
    ~ChangeLock()
    {
        if (fd >= 0) {
            flock(fd, LOCK_UN);
            close(fd);
        }
    }
};

LONG BeginChange(RegStore &s, ChangeLock &lock)
{
    ChooseFile(s);
    std::string dir = DirOf(s.strFile);
    if (!MakeDirs(dir)) {
        s.strLastError = ErrnoText(dir + ": cannot create the registry directory", errno);
        return ERROR_REGISTRY_IO_FAILED;
    }
    std::string lockPath = s.strFile + ".lock";
    lock.fd = open(lockPath.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0666);
    if (lock.fd < 0) {
        s.strLastError = ErrnoText(lockPath + ": cannot open the lock file", errno);
        return ERROR_REGISTRY_IO_FAILED;
    }
    while (flock(lock.fd, LOCK_EX) != 0) {
        if (errno != EINTR) {
            s.strLastError = ErrnoText(lockPath + ": cannot lock", errno);
            return ERROR_REGISTRY_IO_FAILED;
        }
    }
    lock.qwGen = ReadGeneration(lock.fd);
    SweepTemporaries(s);
    return Refresh(s, true, lock.qwGen);
}

bool SaveFile(RegStore &s, ChangeLock &lock)
{
    std::string text = Serialize(s.roots);
    std::string tmpl = s.strFile + ".tmp.XXXXXX";
    std::vector<char> tmpPath(tmpl.begin(), tmpl.end());
    tmpPath.push_back('\0');
    int fd = mkstemp(tmpPath.data());
    if (fd < 0) {
        s.strLastError = ErrnoText(s.strFile + ": cannot create a temporary file", errno);
        return false;
    }
    struct stat old;
    fchmod(fd, stat(s.strFile.c_str(), &old) == 0 ? (old.st_mode & 07777) : 0644);
    bool bOk = WriteAll(fd, text) && fsync(fd) == 0;
    int e = errno;
    if (close(fd) != 0 && bOk) {
        bOk = false;
        e = errno;
    }
    if (bOk && rename(tmpPath.data(), s.strFile.c_str()) != 0) {
        bOk = false;
        e = errno;
    }
    if (!bOk) {
        unlink(tmpPath.data());
        s.strLastError = ErrnoText(s.strFile + ": cannot save the registry", e);
        return false;
    }
    int dfd = open(DirOf(s.strFile).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (dfd >= 0) {
        fsync(dfd);
        close(dfd);
    }
    struct stat st;
    if (stat(s.strFile.c_str(), &st) == 0) {
        s.stamp = StampOf(st);
        s.bStampValid = true;
    } else {
        s.bStampValid = false;
    }
    lock.qwGen++;
    WriteGeneration(lock.fd, lock.qwGen);
    s.qwGen = lock.qwGen;
    s.bGenValid = true;
    return true;
}

// Saves the change just made in memory; when that fails the tree is read
// back from the untouched file so memory never claims what disk lacks.
LONG CommitChange(RegStore &s, ChangeLock &lock)
{
    if (SaveFile(s, lock))
        return ERROR_SUCCESS;
    std::string why = s.strLastError;
    s.bStampValid = false;
    LoadFile(s, true, lock.qwGen);
    s.strLastError = why;
    return ERROR_REGISTRY_IO_FAILED;
}

// ---------------------------------------------------------------- handles

int PredefinedIndex(HKEY hKey)
{
    for (int i = 0; i < kRoots; i++)
        if (hKey == DORVE_PREDEF_HKEY(0x80000000u + (unsigned)i))
            return i;
    return -1;
}

DWORD NormalizeAccess(REGSAM sam)
{
    DWORD a = sam & (KEY_ALL_ACCESS | KEY_QUERY_VALUE | KEY_SET_VALUE | KEY_CREATE_SUB_KEY |
                     KEY_ENUMERATE_SUB_KEYS | KEY_NOTIFY | KEY_CREATE_LINK);
    if (sam & kGenericRead)
        a |= KEY_READ;
    if (sam & kGenericWrite)
        a |= KEY_WRITE;
    if (sam & kGenericExecute)
        a |= KEY_EXECUTE;
    if (sam & (kGenericAll | kMaximumAllowed))
        a |= KEY_ALL_ACCESS;
    return a;
}

// Finds the key behind a handle.  Rights are checked here; whether the key
// has been deleted is checked by the caller after the refresh.
LONG ResolveHandle(RegStore &s, HKEY hKey, DWORD dwNeed, KeyPtr *key)
{
    int root = PredefinedIndex(hKey);
    if (root >= 0) {
        *key = s.roots[root];
        return ERROR_SUCCESS;
    }
    uintptr_t v = (uintptr_t)hKey;
    auto it = (uintptr_t)(uint32_t)v == v ? s.handles.find((uint32_t)v) : s.handles.end();
    if (it == s.handles.end())
        return ERROR_INVALID_HANDLE;
    if ((it->second.dwAccess & dwNeed) != dwNeed)
        return ERROR_ACCESS_DENIED;
    *key = it->second.key;
    return ERROR_SUCCESS;
}

HKEY NewHandle(RegStore &s, const KeyPtr &key, REGSAM sam)
{
    uint32_t n;
    do {
        n = s.nextHandle;
        s.nextHandle = s.nextHandle >= 0x7FFFFFF0u ? 0x100 : s.nextHandle + 4;
    } while (s.handles.count(n));
    s.handles[n] = RegHandle{key, NormalizeAccess(sam)};
    return (HKEY)(uintptr_t)n;
}

LONG CopyName(const std::string &name, LPSTR lpBuf, DWORD cch)
{
    if (name.size() + 1 > cch)
        return ERROR_MORE_DATA;
    memcpy(lpBuf, name.c_str(), name.size() + 1);
    return ERROR_SUCCESS;
}

void PutFileTime(struct _FILETIME *lpft, uint64_t t)
{
    if (!lpft)
        return;
    DWORD parts[2] = {(DWORD)(t & 0xFFFFFFFFu), (DWORD)(t >> 32)};
    memcpy((void *)lpft, parts, sizeof parts);
}

// Copies value data Windows' way: the size always comes back, the bytes only
// when they fit.
LONG ReturnData(const RegValue &v, LPDWORD lpType, LPBYTE lpData, LPDWORD lpcbData)
{
    if (lpType)
        *lpType = v.dwType;
    if (!lpcbData)
        return ERROR_SUCCESS;
    DWORD cb = (DWORD)v.strData.size();
    if (lpData && *lpcbData < cb) {
        *lpcbData = cb;
        return ERROR_MORE_DATA;
    }
    if (lpData && cb)
        memcpy(lpData, v.strData.data(), cb);
    *lpcbData = cb;
    return ERROR_SUCCESS;
}

LONG CreateKey(HKEY hKey, LPCSTR lpSubKey, LPCSTR lpClass, DWORD dwOptions, REGSAM sam,
               PHKEY phkResult, LPDWORD lpdwDisposition)
{
    if (!phkResult || !lpSubKey)
        return ERROR_INVALID_PARAMETER;
    *phkResult = nullptr;
    std::vector<std::string> parts;
    LONG r = SplitPath(lpSubKey, &parts);
    if (r)
        return r;
    bool bVolatile = (dwOptions & REG_OPTION_VOLATILE) != 0;
    RegStore &s = Store();
    std::lock_guard<std::mutex> guard(s.mtx);
    KeyPtr key;
    if ((r = ResolveHandle(s, hKey, 0, &key)))
        return r;
    ChangeLock lock;
    bool bLocked = false;
    // Only creating needs the file lock; opening an existing key is a read.
    if ((r = Refresh(s)))
        return r;
    for (int pass = 0; pass < 2; pass++) {
        if (key->bDeleted)
            return ERROR_KEY_DELETED;
        KeyPtr cur = key;
        size_t i = 0;
        for (; i < parts.size(); i++) {
            KeyPtr next = FindSubkey(*cur, parts[i]);
            if (!next)
                break;
            cur = next;
        }
        if (i == parts.size()) {
            if (lpdwDisposition)
                *lpdwDisposition = REG_OPENED_EXISTING_KEY;
            *phkResult = NewHandle(s, cur, sam);
            return ERROR_SUCCESS;
        }
        if (cur->bVolatile && !bVolatile)
            return kErrChildMustBeVolatile;
        if ((r = ResolveHandle(s, hKey, KEY_CREATE_SUB_KEY, &key)))
            return r;
        if (!bLocked) {
            // The file may have changed between the read and the lock: look again.
            if ((r = BeginChange(s, lock)))
                return r;
            bLocked = true;
            continue;
        }
        uint64_t now = NowFileTime();
        for (; i < parts.size(); i++) {
            KeyPtr next = std::make_shared<RegKey>();
            next->strName = parts[i];
            next->strClass = lpClass ? lpClass : "";
            next->bVolatile = bVolatile;
            next->qwWriteTime = now;
            InsertSubkey(*cur, next);
            cur = next;
        }
        if (!bVolatile && (r = CommitChange(s, lock)))
            return r;
        if (lpdwDisposition)
            *lpdwDisposition = REG_CREATED_NEW_KEY;
        *phkResult = NewHandle(s, cur, sam);
        return ERROR_SUCCESS;
    }
    return ERROR_REGISTRY_IO_FAILED;
}

LONG OpenKey(HKEY hKey, LPCSTR lpSubKey, REGSAM sam, PHKEY phkResult)
{
    if (!phkResult)
        return ERROR_INVALID_PARAMETER;
    *phkResult = nullptr;
    std::vector<std::string> parts;
    LONG r = SplitPath(lpSubKey, &parts);
    if (r)
        return r;
    RegStore &s = Store();
    std::lock_guard<std::mutex> guard(s.mtx);
    KeyPtr key;
    if ((r = ResolveHandle(s, hKey, 0, &key)) || (r = Refresh(s)))
        return r;
    if (key->bDeleted)
        return ERROR_KEY_DELETED;
    KeyPtr found = FindPath(key, parts);
    if (!found)
        return ERROR_FILE_NOT_FOUND;
    *phkResult = NewHandle(s, found, sam);
    return ERROR_SUCCESS;
}

// Read-side entry: handle resolved with the rights needed, tree refreshed.
LONG BeginRead(RegStore &s, HKEY hKey, DWORD dwNeed, KeyPtr *key)
{
    LONG r = ResolveHandle(s, hKey, dwNeed, key);
    if (r)
        return r;
    if ((r = Refresh(s)))
        return r;
    return (*key)->bDeleted ? ERROR_KEY_DELETED : ERROR_SUCCESS;
}

LONG BeginWrite(RegStore &s, HKEY hKey, DWORD dwNeed, ChangeLock &lock, KeyPtr *key)
{
    LONG r = ResolveHandle(s, hKey, dwNeed, key);
    if (r)
        return r;
    if ((r = BeginChange(s, lock)))
        return r;
    return (*key)->bDeleted ? ERROR_KEY_DELETED : ERROR_SUCCESS;
}

// Windows hands back the caller's own handle for an empty path, once it
// knows the handle names a key that is still there.
LONG SameKey(HKEY hKey, PHKEY phkResult)
{
    RegStore &s = Store();
    std::lock_guard<std::mutex> guard(s.mtx);
    KeyPtr key;
    LONG r = BeginRead(s, hKey, 0, &key);
    if (r == ERROR_SUCCESS)
        *phkResult = hKey;
    return r;
}

// A changed value dates its key; only a key that outlives the process
// goes to the file.
LONG FinishValueChange(RegStore &s, ChangeLock &lock, RegKey &key)
{
    key.qwWriteTime = NowFileTime();
    return key.bVolatile ? ERROR_SUCCESS : CommitChange(s, lock);
}

}  // namespace

// ---------------------------------------------------------------- entries

DORVE_API LONG WINAPI RegCreateKeyExA(HKEY hKey, LPCSTR lpSubKey, DWORD Reserved, LPCSTR lpClass,
                                      DWORD dwOptions, REGSAM samDesired,
                                      LPSECURITY_ATTRIBUTES lpSecurityAttributes, PHKEY phkResult,
                                      LPDWORD lpdwDisposition)
{
    return CreateKey(hKey, lpSubKey, lpClass, dwOptions, samDesired, phkResult, lpdwDisposition);
}

DORVE_API LONG WINAPI RegCreateKeyA(HKEY hKey, LPCSTR lpSubKey, PHKEY phkResult)
{
    if (phkResult && (!lpSubKey || !lpSubKey[0]))
        return SameKey(hKey, phkResult);
    return CreateKey(hKey, lpSubKey, nullptr, REG_OPTION_NON_VOLATILE, kMaximumAllowed, phkResult,
                     nullptr);
}

DORVE_API LONG WINAPI RegOpenKeyExA(HKEY hKey, LPCSTR lpSubKey, DWORD ulOptions, REGSAM samDesired,
                                    PHKEY phkResult)
{
    return OpenKey(hKey, lpSubKey, samDesired, phkResult);
}

DORVE_API LONG WINAPI RegOpenKeyA(HKEY hKey, LPCSTR lpSubKey, PHKEY phkResult)
{
    if (phkResult && (!lpSubKey || !lpSubKey[0]))
        return SameKey(hKey, phkResult);
    return OpenKey(hKey, lpSubKey, kMaximumAllowed, phkResult);
}

DORVE_API LONG WINAPI RegCloseKey(HKEY hKey)
{
    if (PredefinedIndex(hKey) >= 0)
        return ERROR_SUCCESS;
    RegStore &s = Store();
    std::lock_guard<std::mutex> guard(s.mtx);
    uintptr_t v = (uintptr_t)hKey;
    if ((uintptr_t)(uint32_t)v != v || !s.handles.erase((uint32_t)v))
        return ERROR_INVALID_HANDLE;
    return ERROR_SUCCESS;
}

DORVE_API LONG WINAPI RegFlushKey(HKEY hKey)
{
    // Every change is on disk before its call returns.
    RegStore &s = Store();
    std::lock_guard<std::mutex> guard(s.mtx);
    KeyPtr key;
    return BeginRead(s, hKey, 0, &key);
}

DORVE_API LONG WINAPI RegDeleteKeyA(HKEY hKey, LPCSTR lpSubKey)
{
    if (!lpSubKey)
        return ERROR_INVALID_PARAMETER;
    std::vector<std::string> parts;
    LONG r = SplitPath(lpSubKey, &parts);
    if (r)
        return r;
    RegStore &s = Store();
    std::lock_guard<std::mutex> guard(s.mtx);
    ChangeLock lock;
    KeyPtr key;
    if ((r = BeginWrite(s, hKey, 0, lock, &key)))
        return r;
    KeyPtr victim = FindPath(key, parts);
    if (!victim)
        return ERROR_FILE_NOT_FOUND;
    if (!victim->lpParent || !victim->subkeys.empty())
        return ERROR_ACCESS_DENIED;  // a root, or a key with subkeys
    bool bVolatile = victim->bVolatile;
    DetachSubkey(*victim->lpParent, victim);
    return bVolatile ? ERROR_SUCCESS : CommitChange(s, lock);
}

DORVE_API LONG WINAPI RegDeleteValueA(HKEY hKey, LPCSTR lpValueName)
{
    std::string name = lpValueName ? lpValueName : "";
    RegStore &s = Store();
    std::lock_guard<std::mutex> guard(s.mtx);
    ChangeLock lock;
    KeyPtr key;
    LONG r = BeginWrite(s, hKey, KEY_SET_VALUE, lock, &key);
    if (r)
        return r;
    if (!EraseValue(*key, name))
        return ERROR_FILE_NOT_FOUND;
    return FinishValueChange(s, lock, *key);
}

DORVE_API LONG WINAPI RegQueryValueExA(HKEY hKey, LPCSTR lpValueName, LPDWORD lpReserved,
                                       LPDWORD lpType, LPBYTE lpData, LPDWORD lpcbData)
{
    if (lpData && !lpcbData)
        return ERROR_INVALID_PARAMETER;
    std::string name = lpValueName ? lpValueName : "";
    RegStore &s = Store();
    std::lock_guard<std::mutex> guard(s.mtx);
    KeyPtr key;
    LONG r = BeginRead(s, hKey, KEY_QUERY_VALUE, &key);
    if (r)
        return r;
    const RegValue *v = FindValue(*key, name);
    if (!v)
        return ERROR_FILE_NOT_FOUND;
    return ReturnData(*v, lpType, lpData, lpcbData);
}

DORVE_API LONG WINAPI RegSetValueExA(HKEY hKey, LPCSTR lpValueName, DWORD Reserved, DWORD dwType,
                                     const BYTE *lpData, DWORD cbData)
{
    if (!lpData && cbData)
        return ERROR_INVALID_PARAMETER;
    std::string name = lpValueName ? lpValueName : "";
    if (name.size() > kMaxValueName || HasControlChar(name))
        return ERROR_INVALID_PARAMETER;
    RegStore &s = Store();
    std::lock_guard<std::mutex> guard(s.mtx);
    ChangeLock lock;
    KeyPtr key;
    LONG r = BeginWrite(s, hKey, KEY_SET_VALUE, lock, &key);
    if (r)
        return r;
    PutValue(*key, name, dwType, lpData ? std::string((const char *)lpData, cbData) : std::string());
    return FinishValueChange(s, lock, *key);
}

DORVE_API LONG WINAPI RegEnumKeyA(HKEY hKey, DWORD dwIndex, LPSTR lpName, DWORD cchName)
{
    if (!lpName)
        return ERROR_INVALID_PARAMETER;
    RegStore &s = Store();
    std::lock_guard<std::mutex> guard(s.mtx);
    KeyPtr key;
    LONG r = BeginRead(s, hKey, KEY_ENUMERATE_SUB_KEYS, &key);
    if (r)
        return r;
    if (dwIndex >= key->subkeys.size())
        return ERROR_NO_MORE_ITEMS;
    return CopyName(key->subkeys[dwIndex]->strName, lpName, cchName);
}

DORVE_API LONG WINAPI RegEnumKeyExA(HKEY hKey, DWORD dwIndex, LPSTR lpName, LPDWORD lpcchName,
                                    LPDWORD lpReserved, LPSTR lpClass, LPDWORD lpcchClass,
                                    struct _FILETIME *lpftLastWriteTime)
{
    if (!lpName || !lpcchName || (lpClass && !lpcchClass))
        return ERROR_INVALID_PARAMETER;
    RegStore &s = Store();
    std::lock_guard<std::mutex> guard(s.mtx);
    KeyPtr key;
    LONG r = BeginRead(s, hKey, KEY_ENUMERATE_SUB_KEYS, &key);
    if (r)
        return r;
    if (dwIndex >= key->subkeys.size())
        return ERROR_NO_MORE_ITEMS;
    const RegKey &sub = *key->subkeys[dwIndex];
    if ((r = CopyName(sub.strName, lpName, *lpcchName)))
        return r;
    if (lpClass && (r = CopyName(sub.strClass, lpClass, *lpcchClass)))
        return r;
    *lpcchName = (DWORD)sub.strName.size();
    if (lpcchClass)
        *lpcchClass = (DWORD)sub.strClass.size();
    PutFileTime(lpftLastWriteTime, sub.qwWriteTime);
    return ERROR_SUCCESS;
}

DORVE_API LONG WINAPI RegEnumValueA(HKEY hKey, DWORD dwIndex, LPSTR lpValueName,
                                    LPDWORD lpcchValueName, LPDWORD lpReserved, LPDWORD lpType,
                                    LPBYTE lpData, LPDWORD lpcbData)
{
    if (!lpValueName || !lpcchValueName || (lpData && !lpcbData))
        return ERROR_INVALID_PARAMETER;
    RegStore &s = Store();
    std::lock_guard<std::mutex> guard(s.mtx);
    KeyPtr key;
    LONG r = BeginRead(s, hKey, KEY_QUERY_VALUE, &key);
    if (r)
        return r;
    if (dwIndex >= key->values.size())
        return ERROR_NO_MORE_ITEMS;
    const RegValue &v = key->values[dwIndex];
    if ((r = CopyName(v.strName, lpValueName, *lpcchValueName)))
        return r;
    *lpcchValueName = (DWORD)v.strName.size();
    return ReturnData(v, lpType, lpData, lpcbData);
}

DORVE_API LONG WINAPI RegQueryInfoKeyA(HKEY hKey, LPSTR lpClass, LPDWORD lpcchClass,
                                       LPDWORD lpReserved, LPDWORD lpcSubKeys,
                                       LPDWORD lpcbMaxSubKeyLen, LPDWORD lpcbMaxClassLen,
                                       LPDWORD lpcValues, LPDWORD lpcbMaxValueNameLen,
                                       LPDWORD lpcbMaxValueLen, LPDWORD lpcbSecurityDescriptor,
                                       struct _FILETIME *lpftLastWriteTime)
{
    if (lpClass && !lpcchClass)
        return ERROR_INVALID_PARAMETER;
    RegStore &s = Store();
    std::lock_guard<std::mutex> guard(s.mtx);
    KeyPtr key;
    LONG r = BeginRead(s, hKey, KEY_QUERY_VALUE, &key);
    if (r)
        return r;
    if (lpClass && (r = CopyName(key->strClass, lpClass, *lpcchClass)))
        return r;
    if (lpcchClass)
        *lpcchClass = (DWORD)key->strClass.size();
    size_t maxSub = 0, maxClass = 0, maxName = 0, maxData = 0;
    for (const KeyPtr &k : key->subkeys) {
        maxSub = std::max(maxSub, k->strName.size());
        maxClass = std::max(maxClass, k->strClass.size());
    }
    for (const RegValue &v : key->values) {
        maxName = std::max(maxName, v.strName.size());
        maxData = std::max(maxData, v.strData.size());
    }
    if (lpcSubKeys)
        *lpcSubKeys = (DWORD)key->subkeys.size();
    if (lpcbMaxSubKeyLen)
        *lpcbMaxSubKeyLen = (DWORD)maxSub;
    if (lpcbMaxClassLen)
        *lpcbMaxClassLen = (DWORD)maxClass;
    if (lpcValues)
        *lpcValues = (DWORD)key->values.size();
    if (lpcbMaxValueNameLen)
        *lpcbMaxValueNameLen = (DWORD)maxName;
    if (lpcbMaxValueLen)
        *lpcbMaxValueLen = (DWORD)maxData;
    if (lpcbSecurityDescriptor)
        *lpcbSecurityDescriptor = 0;
    PutFileTime(lpftLastWriteTime, key->qwWriteTime);
    return ERROR_SUCCESS;
}

// ---------------------------------------------------------------- host hooks

DORVE_API BOOL DorveRegistryUseFile(const char *path)
{
    RegStore &s = Store();
    std::lock_guard<std::mutex> guard(s.mtx);
    s.bChosen = false;
    if (path && path[0]) {
        s.strFile = path;
        s.bChosen = true;
    }
    s.bStampValid = false;
    s.bGenValid = false;
    s.bSwept = false;
    s.lFailure = ERROR_SUCCESS;
    s.strLastError.clear();
    return Refresh(s) == ERROR_SUCCESS;
}

DORVE_API const char *DorveRegistryFile(void)
{
    static thread_local std::string t_copy;
    RegStore &s = Store();
    std::lock_guard<std::mutex> guard(s.mtx);
    ChooseFile(s);
    t_copy = s.strFile;
    return t_copy.c_str();
}

DORVE_API const char *DorveRegistryDefaultFile(void)
{
    static thread_local std::string t_copy;
    t_copy = DefaultFilePath();
    return t_copy.c_str();
}

DORVE_API const char *DorveRegistryLastError(void)
{
    static thread_local std::string t_copy;
    RegStore &s = Store();
    std::lock_guard<std::mutex> guard(s.mtx);
    t_copy = s.strLastError;
    return t_copy.c_str();
}
