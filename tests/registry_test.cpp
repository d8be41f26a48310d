// The registry of the host layer: Windows semantics of the Reg* calls, the
// REGEDIT4 file they keep, and what several processes sharing that file see.

// 64-bit inode numbers and directory offsets also in the 32-bit build.
#define _FILE_OFFSET_BITS 64

#include <dirent.h>
#include <errno.h>
#include <fcntl.h>
#include <signal.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <fstream>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include <winreg.h>

#include "dorve/registry_host.h"
#include "testlib.h"

namespace {

using dorvetest::ReadFile;
using dorvetest::WriteFile;

std::string Bytes(const void *p, size_t n)
{
    return std::string((const char *)p, n);
}

class RegistryTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_FALSE(tmp_.path().empty());
        dir_ = tmp_.path();
        file_ = dir_ + "/registry.reg";
        ASSERT_TRUE(DorveRegistryUseFile(file_.c_str()));
    }

    HKEY Create(const char *path, REGSAM sam = KEY_ALL_ACCESS, HKEY root = HKEY_LOCAL_MACHINE)
    {
        HKEY h = nullptr;
        DWORD disp = 0;
        EXPECT_EQ(RegCreateKeyExA(root, path, 0, "REG_SZ", 0, sam, nullptr, &h, &disp), ERROR_SUCCESS)
            << path;
        return h;
    }
    void SetRaw(HKEY h, const char *name, DWORD type, const std::string &data)
    {
        EXPECT_EQ(RegSetValueExA(h, name, 0, type, (const BYTE *)data.data(), (DWORD)data.size()),
                  ERROR_SUCCESS)
            << name;
    }
    void SetText(HKEY h, const char *name, const char *text)
    {
        SetRaw(h, name, REG_SZ, std::string(text, strlen(text) + 1));
    }
    void SetDword(HKEY h, const char *name, DWORD v)
    {
        SetRaw(h, name, REG_DWORD, Bytes(&v, 4));
    }
    // The value's type and bytes, or the error as the type and "" as data.
    bool Query(HKEY h, const char *name, DWORD *type, std::string *data)
    {
        DWORD cb = 0;
        if (RegQueryValueExA(h, name, nullptr, type, nullptr, &cb) != ERROR_SUCCESS)
            return false;
        std::vector<BYTE> buf(cb + 1);
        if (RegQueryValueExA(h, name, nullptr, type, buf.data(), &cb) != ERROR_SUCCESS)
            return false;
        *data = Bytes(buf.data(), cb);
        return true;
    }
    std::vector<std::string> SubkeyNames(HKEY h)
    {
        std::vector<std::string> names;
        char name[300];
        for (DWORD i = 0; RegEnumKeyA(h, i, name, sizeof name) == ERROR_SUCCESS; i++)
            names.push_back(name);
        return names;
    }
    // Another process's view of the file, as a fresh load of it gives.
    void Reload() { ASSERT_TRUE(DorveRegistryUseFile(file_.c_str())) << DorveRegistryLastError(); }

    dorvetest::TempDir tmp_;
    std::string dir_, file_;
};

// ------------------------------------------------------------ semantics

TEST_F(RegistryTest, NamesIgnoreCaseAndKeepTheirSpelling)
{
    HKEY h = Create("Software\\MixedCase");
    SetText(h, "MyValue", "x");
    HKEY h2;
    DWORD disp = 0;
    ASSERT_EQ(RegCreateKeyExA(HKEY_LOCAL_MACHINE, "SOFTWARE\\mixedcase", 0, "other", 0,
                              KEY_ALL_ACCESS, nullptr, &h2, &disp),
              ERROR_SUCCESS);
    EXPECT_EQ(disp, (DWORD)REG_OPENED_EXISTING_KEY);
    EXPECT_NE(h, h2);
    DWORD type;
    std::string data;
    ASSERT_TRUE(Query(h2, "MYVALUE", &type, &data));
    EXPECT_EQ(data, std::string("x\0", 2));

    HKEY soft;
    ASSERT_EQ(RegOpenKeyExA(HKEY_LOCAL_MACHINE, "software", 0, KEY_READ, &soft), ERROR_SUCCESS);
    EXPECT_EQ(SubkeyNames(soft), std::vector<std::string>{"MixedCase"});

    // the class given when the key was made stays; the second one is ignored
    char cls[32];
    DWORD cch = sizeof cls, nSub = 9, nValues = 0;
    ASSERT_EQ(RegQueryInfoKeyA(h2, cls, &cch, nullptr, &nSub, nullptr, nullptr, &nValues, nullptr,
                               nullptr, nullptr, nullptr),
              ERROR_SUCCESS);
    EXPECT_STREQ(cls, "REG_SZ");
    EXPECT_EQ(cch, 6u);
    EXPECT_EQ(nSub, 0u);
    EXPECT_EQ(nValues, 1u);

    char name[32];
    DWORD cchName = sizeof name, cchClass = sizeof cls;
    ASSERT_EQ(RegEnumKeyExA(soft, 0, name, &cchName, nullptr, cls, &cchClass, nullptr), ERROR_SUCCESS);
    EXPECT_STREQ(name, "MixedCase");
    EXPECT_EQ(cchName, 9u);
    EXPECT_STREQ(cls, "REG_SZ");

    // a new spelling of the value name overwrites the value, not its name
    SetText(h, "MYVALUE", "y");
    DWORD cchV = sizeof name;
    ASSERT_EQ(RegEnumValueA(h, 0, name, &cchV, nullptr, nullptr, nullptr, nullptr), ERROR_SUCCESS);
    EXPECT_STREQ(name, "MyValue");
    EXPECT_EQ(RegEnumValueA(h, 1, name, &cchV, nullptr, nullptr, nullptr, nullptr), ERROR_NO_MORE_ITEMS);
    RegCloseKey(h);
    RegCloseKey(h2);
    RegCloseKey(soft);
}

TEST_F(RegistryTest, SubkeysEnumerateInNameOrderWithoutCase)
{
    HKEY parent = Create("Software\\Order");
    for (const char *n : {"beta", "Alpha", "gamma", "_under", "Delta", "alpha2"})
        RegCloseKey(Create((std::string("Software\\Order\\") + n).c_str()));
    // Windows compares upper-cased names, so '_' sorts after the letters.
    EXPECT_EQ(SubkeyNames(parent),
              (std::vector<std::string>{"Alpha", "alpha2", "beta", "Delta", "gamma", "_under"}));
    char name[8];
    EXPECT_EQ(RegEnumKeyA(parent, 6, name, sizeof name), ERROR_NO_MORE_ITEMS);
    EXPECT_EQ(RegEnumKeyA(parent, 0, name, 5), ERROR_MORE_DATA);  // "Alpha" needs 6 with its NUL
    EXPECT_EQ(RegEnumKeyA(parent, 0, name, 6), ERROR_SUCCESS);
    EXPECT_STREQ(name, "Alpha");

    DWORD cch = 5;
    EXPECT_EQ(RegEnumKeyExA(parent, 0, name, &cch, nullptr, nullptr, nullptr, nullptr), ERROR_MORE_DATA);
    RegCloseKey(parent);
}

TEST_F(RegistryTest, QueryReportsTheSizeItNeeds)
{
    HKEY h = Create("Software\\Sizes");
    SetText(h, "Addr", "192.168.0.10");  // 13 bytes with the NUL
    DWORD type = 0, cb = 0;
    EXPECT_EQ(RegQueryValueExA(h, "Addr", nullptr, &type, nullptr, &cb), ERROR_SUCCESS);
    EXPECT_EQ(type, (DWORD)REG_SZ);
    EXPECT_EQ(cb, 13u);

    char buf[32];
    memset(buf, 'Z', sizeof buf);
    cb = 4;
    EXPECT_EQ(RegQueryValueExA(h, "Addr", nullptr, &type, (BYTE *)buf, &cb), ERROR_MORE_DATA);
    EXPECT_EQ(cb, 13u);
    cb = 13;
    EXPECT_EQ(RegQueryValueExA(h, "Addr", nullptr, nullptr, (BYTE *)buf, &cb), ERROR_SUCCESS);
    EXPECT_STREQ(buf, "192.168.0.10");
    EXPECT_EQ(buf[13], 'Z');

    EXPECT_EQ(RegQueryValueExA(h, "Missing", nullptr, &type, nullptr, &cb), ERROR_FILE_NOT_FOUND);
    EXPECT_EQ(RegQueryValueExA(h, "Addr", nullptr, &type, (BYTE *)buf, nullptr), ERROR_INVALID_PARAMETER);
    HKEY missing = (HKEY)1;
    EXPECT_EQ(RegOpenKeyExA(HKEY_LOCAL_MACHINE, "Software\\Nothing", 0, KEY_READ, &missing),
              ERROR_FILE_NOT_FOUND);

    // the default value has the empty name, written as NULL or ""
    SetText(h, nullptr, "dflt");
    DWORD t2;
    std::string d;
    ASSERT_TRUE(Query(h, "", &t2, &d));
    EXPECT_EQ(d, std::string("dflt\0", 5));
    RegCloseKey(h);
}

TEST_F(RegistryTest, ValuesKeepTheirTypeAndBytes)
{
    std::string big(1000, '\0');
    for (size_t i = 0; i < big.size(); i++)
        big[i] = (char)(i * 7);
    struct Case {
        const char *name;
        DWORD type;
        std::string data;
    } cases[] = {
        {"Empty", REG_NONE, ""},
        {"EmptyBinary", REG_BINARY, ""},
        {"OneByte", REG_BINARY, std::string("\x7f", 1)},
        {"ShortDword", REG_DWORD, std::string("\x01", 1)},
        {"Dword", REG_DWORD, std::string("\x0a\0\0\0", 4)},
        {"LongDword", REG_DWORD, std::string("\x01\x02\x03\x04\x05", 5)},
        {"BigEndian", REG_DWORD_BIG_ENDIAN, std::string("\0\0\0\x0a", 4)},
        {"NoNul", REG_SZ, "abc"},
        {"InnerNul", REG_SZ, std::string("a\0b\0", 4)},
        {"Newline", REG_SZ, std::string("line1\nline2\0", 12)},
        {"EmptySz", REG_SZ, ""},
        {"Multi", REG_MULTI_SZ, std::string("one\0two\0\0", 9)},
        {"Expand", REG_EXPAND_SZ, std::string("%TEMP%\\x\0", 9)},
        {"Qword", REG_QWORD, std::string("\x01\x02\x03\x04\x05\x06\x07\x08", 8)},
        {"OddType", 0x12345, std::string("\xff\x00\xfe", 3)},
        {"Big", REG_BINARY, big},
        {"Quote\"And\\Slash", REG_SZ, std::string("say \"hi\" \\ bye\0", 15)},
    };
    HKEY h = Create("Software\\Raw");
    for (const Case &c : cases)
        SetRaw(h, c.name, c.type, c.data);
    for (int pass = 0; pass < 2; pass++) {
        SCOPED_TRACE(pass ? "after reading the file back" : "in memory");
        for (const Case &c : cases) {
            DWORD type = 0;
            std::string data;
            ASSERT_TRUE(Query(h, c.name, &type, &data)) << c.name;
            EXPECT_EQ(type, c.type) << c.name;
            EXPECT_EQ(data, c.data) << c.name;
        }
        Reload();
    }
    EXPECT_EQ(RegSetValueExA(h, "Bad", 0, REG_BINARY, nullptr, 4), ERROR_INVALID_PARAMETER);
    EXPECT_EQ(RegSetValueExA(h, "Bad\nName", 0, REG_BINARY, (const BYTE *)"x", 1), ERROR_INVALID_PARAMETER);
    RegCloseKey(h);
}

TEST_F(RegistryTest, DeletedKeysAndClosedHandles)
{
    HKEY parent = Create("Software\\Del");
    HKEY child = Create("Software\\Del\\Child");
    SetText(child, "v", "1");
    RegCloseKey(Create("Software\\Del\\Child\\Grand"));

    // NT refuses to delete a key that still has subkeys
    EXPECT_EQ(RegDeleteKeyA(parent, "Child"), ERROR_ACCESS_DENIED);
    EXPECT_EQ(RegDeleteKeyA(parent, "Child\\Grand"), ERROR_SUCCESS);
    EXPECT_EQ(RegDeleteKeyA(parent, "Child\\Grand"), ERROR_FILE_NOT_FOUND);
    EXPECT_EQ(RegDeleteKeyA(HKEY_LOCAL_MACHINE, "Software\\DEL\\child"), ERROR_SUCCESS);

    DWORD type;
    BYTE buf[8];
    DWORD cb = sizeof buf;
    EXPECT_EQ(RegQueryValueExA(child, "v", nullptr, &type, buf, &cb), ERROR_KEY_DELETED);
    EXPECT_EQ(RegSetValueExA(child, "v", 0, REG_SZ, (const BYTE *)"2", 2), ERROR_KEY_DELETED);
    HKEY sub;
    EXPECT_EQ(RegCreateKeyExA(child, "Sub", 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &sub, nullptr),
              ERROR_KEY_DELETED);
    char name[16];
    EXPECT_EQ(RegEnumKeyA(child, 0, name, sizeof name), ERROR_KEY_DELETED);
    EXPECT_EQ(RegEnumKeyA(parent, 0, name, sizeof name), ERROR_NO_MORE_ITEMS);

    // a key made again under the same name is a new key, the old handle stays dead
    HKEY again = Create("Software\\Del\\Child");
    EXPECT_EQ(RegQueryValueExA(again, "v", nullptr, &type, nullptr, nullptr), ERROR_FILE_NOT_FOUND);
    EXPECT_EQ(RegQueryValueExA(child, "v", nullptr, &type, nullptr, nullptr), ERROR_KEY_DELETED);

    EXPECT_EQ(RegCloseKey(child), ERROR_SUCCESS);
    EXPECT_EQ(RegCloseKey(child), ERROR_INVALID_HANDLE);
    EXPECT_EQ(RegQueryValueExA(child, "v", nullptr, &type, nullptr, nullptr), ERROR_INVALID_HANDLE);
    EXPECT_EQ(RegCloseKey(nullptr), ERROR_INVALID_HANDLE);
    EXPECT_EQ(RegCloseKey((HKEY)(uintptr_t)0x12345), ERROR_INVALID_HANDLE);
    EXPECT_EQ(RegDeleteKeyA(HKEY_LOCAL_MACHINE, "Software\\Nothing"), ERROR_FILE_NOT_FOUND);
    EXPECT_EQ(RegDeleteKeyA(HKEY_LOCAL_MACHINE, nullptr), ERROR_INVALID_PARAMETER);
    EXPECT_EQ(RegCloseKey(HKEY_LOCAL_MACHINE), ERROR_SUCCESS);

    EXPECT_EQ(RegDeleteValueA(again, "v"), ERROR_FILE_NOT_FOUND);
    SetText(again, "w", "1");
    EXPECT_EQ(RegDeleteValueA(again, "W"), ERROR_SUCCESS);
    EXPECT_EQ(RegDeleteValueA(again, "w"), ERROR_FILE_NOT_FOUND);
    RegCloseKey(again);
    RegCloseKey(parent);
}

TEST_F(RegistryTest, HandlesKeepTheRightsTheyWereOpenedWith)
{
    RegCloseKey(Create("Software\\Rights"));
    HKEY ro, wo;
    ASSERT_EQ(RegOpenKeyExA(HKEY_LOCAL_MACHINE, "Software\\Rights", 0, KEY_QUERY_VALUE, &ro), ERROR_SUCCESS);
    ASSERT_EQ(RegOpenKeyExA(HKEY_LOCAL_MACHINE, "Software\\Rights", 0, KEY_SET_VALUE, &wo), ERROR_SUCCESS);
    EXPECT_EQ(RegSetValueExA(ro, "x", 0, REG_SZ, (const BYTE *)"1", 2), ERROR_ACCESS_DENIED);
    EXPECT_EQ(RegDeleteValueA(ro, "x"), ERROR_ACCESS_DENIED);
    char name[8];
    EXPECT_EQ(RegEnumKeyA(ro, 0, name, sizeof name), ERROR_ACCESS_DENIED);
    HKEY sub;
    EXPECT_EQ(RegCreateKeyExA(ro, "Sub", 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &sub, nullptr),
              ERROR_ACCESS_DENIED);
    EXPECT_EQ(RegSetValueExA(wo, "x", 0, REG_SZ, (const BYTE *)"1", 2), ERROR_SUCCESS);
    DWORD cb = 0;
    EXPECT_EQ(RegQueryValueExA(wo, "x", nullptr, nullptr, nullptr, &cb), ERROR_ACCESS_DENIED);
    EXPECT_EQ(RegQueryValueExA(ro, "x", nullptr, nullptr, nullptr, &cb), ERROR_SUCCESS);
    HKEY rd;
    ASSERT_EQ(RegOpenKeyExA(HKEY_LOCAL_MACHINE, "Software", 0, KEY_READ, &rd), ERROR_SUCCESS);
    EXPECT_EQ(RegEnumKeyA(rd, 0, name, sizeof name), ERROR_SUCCESS);
    RegCloseKey(ro);
    RegCloseKey(wo);
    RegCloseKey(rd);
}

TEST_F(RegistryTest, CreateReportsItsDispositionAndNewHandles)
{
    HKEY a = nullptr, b = nullptr;
    DWORD disp = 0;
    ASSERT_EQ(RegCreateKeyExA(HKEY_LOCAL_MACHINE, "Software\\New\\Deep\\Path", 0, "REG_SZ", 0,
                              KEY_ALL_ACCESS, nullptr, &a, &disp),
              ERROR_SUCCESS);
    EXPECT_EQ(disp, (DWORD)REG_CREATED_NEW_KEY);
    ASSERT_EQ(RegCreateKeyExA(HKEY_LOCAL_MACHINE, "Software\\New\\Deep\\Path", 0, "REG_SZ", 0,
                              KEY_ALL_ACCESS, nullptr, &b, &disp),
              ERROR_SUCCESS);
    EXPECT_EQ(disp, (DWORD)REG_OPENED_EXISTING_KEY);
    EXPECT_NE(a, nullptr);
    EXPECT_NE(a, b);
    HKEY c;
    EXPECT_EQ(RegOpenKeyA(HKEY_LOCAL_MACHINE, "Software\\New\\Deep", &c), ERROR_SUCCESS);
    EXPECT_EQ(SubkeyNames(c), std::vector<std::string>{"Path"});
    HKEY same;
    EXPECT_EQ(RegOpenKeyA(c, "", &same), ERROR_SUCCESS);
    EXPECT_EQ(same, c);
    HKEY d;
    EXPECT_EQ(RegCreateKeyA(c, "Other", &d), ERROR_SUCCESS);
    EXPECT_EQ(RegFlushKey(d), ERROR_SUCCESS);
    EXPECT_EQ(RegCreateKeyExA(HKEY_LOCAL_MACHINE, "\\Lead", 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &d,
                              nullptr),
              ERROR_BAD_PATHNAME);
    for (HKEY h : {a, b, c, d})
        RegCloseKey(h);
}

TEST_F(RegistryTest, ThreadsChangingAtOnceLoseNothing)
{
    const int kThreads = 4, kEach = 10;
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; t++) {
        threads.emplace_back([t] {
            for (int i = 0; i < kEach; i++) {
                std::string path = "Software\\Threads\\T" + std::to_string(t);
                HKEY h;
                if (RegCreateKeyExA(HKEY_LOCAL_MACHINE, path.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS,
                                    nullptr, &h, nullptr) != ERROR_SUCCESS)
                    return;
                DWORD v = (DWORD)i;
                RegSetValueExA(h, ("V" + std::to_string(i)).c_str(), 0, REG_DWORD, (const BYTE *)&v, 4);
                RegCloseKey(h);
            }
        });
    }
    for (std::thread &th : threads)
        th.join();
    Reload();
    for (int t = 0; t < kThreads; t++) {
        HKEY h;
        ASSERT_EQ(RegOpenKeyExA(HKEY_LOCAL_MACHINE, ("Software\\Threads\\T" + std::to_string(t)).c_str(),
                                0, KEY_READ, &h),
                  ERROR_SUCCESS);
        DWORD nValues = 0;
        RegQueryInfoKeyA(h, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, &nValues, nullptr,
                         nullptr, nullptr, nullptr);
        EXPECT_EQ(nValues, (DWORD)kEach);
        RegCloseKey(h);
    }
}

// ------------------------------------------------------------ file format

TEST_F(RegistryTest, FileIsRegedit4Text)
{
    HKEY h = Create("Software\\Dorve");
    SetDword(h, "Count", 10);
    SetRaw(h, "Bytes", REG_BINARY, std::string("\x0e\x00", 2));
    SetText(h, "Path", "C:\\dir \"q\"");
    SetText(h, nullptr, "default");
    SetText(h, "Name", "\xE6\x97\xA5\xE6\x9C\xAC\xE8\xAA\x9E");  // Japanese, UTF-8
    SetRaw(h, "NoNul", REG_SZ, "ab");
    SetRaw(h, "Lines", REG_SZ, std::string("a\nb\0", 4));
    SetRaw(h, "Short", REG_DWORD, std::string("\x01", 1));
    SetRaw(h, "Multi", REG_MULTI_SZ, std::string("x\0y\0\0", 5));
    SetRaw(h, "None", REG_NONE, "");
    RegCloseKey(Create("Software\\Dorve\\Empty"));
    RegCloseKey(Create("Software\\aaa"));
    HKEY cu = Create("Environment", KEY_ALL_ACCESS, HKEY_CURRENT_USER);
    SetText(cu, "TEMP", "/tmp");
    const std::string expected =
        "REGEDIT4\n"
        "\n"
        "[HKEY_CURRENT_USER\\Environment]\n"
        "\"TEMP\"=\"/tmp\"\n"
        "\n"
        "[HKEY_LOCAL_MACHINE\\Software]\n"
        "\n"
        "[HKEY_LOCAL_MACHINE\\Software\\aaa]\n"
        "\n"
        "[HKEY_LOCAL_MACHINE\\Software\\Dorve]\n"
        "\"Count\"=dword:0000000a\n"
        "\"Bytes\"=hex:0e,00\n"
        "\"Path\"=\"C:\\\\dir \\\"q\\\"\"\n"
        "@=\"default\"\n"
        "\"Name\"=\"\xE6\x97\xA5\xE6\x9C\xAC\xE8\xAA\x9E\"\n"
        "\"NoNul\"=hex(1):61,62\n"
        "\"Lines\"=hex(1):61,0a,62,00\n"
        "\"Short\"=hex(4):01\n"
        "\"Multi\"=hex(7):78,00,79,00,00\n"
        "\"None\"=hex(0):\n"
        "\n"
        "[HKEY_LOCAL_MACHINE\\Software\\Dorve\\Empty]\n"
        "\n";
    EXPECT_EQ(ReadFile(file_), expected);

    // the file reads back to the same text: load it, make and undo a change
    RegCloseKey(h);
    RegCloseKey(cu);
    Reload();
    HKEY again = Create("Software\\Dorve");
    SetText(again, "Temp", "x");
    EXPECT_EQ(RegDeleteValueA(again, "Temp"), ERROR_SUCCESS);
    EXPECT_EQ(ReadFile(file_), expected);
    RegCloseKey(again);
}

TEST_F(RegistryTest, LongHexLinesAreContinuedAt80Columns)
{
    std::string data;
    for (int i = 0; i < 200; i++)
        data += (char)i;
    HKEY h = Create("Software\\Long");
    SetRaw(h, "Blob", REG_BINARY, data);
    std::string text = ReadFile(file_);
    size_t start = text.find("\"Blob\"=hex:");
    ASSERT_NE(start, std::string::npos);
    std::istringstream in(text.substr(start));
    std::string line;
    int nLines = 0;
    while (std::getline(in, line) && !line.empty()) {
        nLines++;
        EXPECT_LE(line.size(), 80u) << line;
        if (nLines > 1) {
            EXPECT_EQ(line.compare(0, 2, "  "), 0) << line;
        }
        if (line.back() != '\\')
            break;
        EXPECT_EQ(line[line.size() - 2], ',') << line;
    }
    // 11 + 22*3 columns on the first line, then 25 bytes to a line
    EXPECT_EQ(nLines, 1 + (200 - 22 + 24) / 25);
    EXPECT_NE(text.find("\"Blob\"=hex:00,01,02,03,04,05,06,07,08,09,0a,0b,0c,0d,0e,0f,10,11,12,13,14,15,\\\n"
                        "  16,17,"),
              std::string::npos);
    RegCloseKey(h);
    Reload();
    h = Create("Software\\Long");
    DWORD type;
    std::string back;
    ASSERT_TRUE(Query(h, "Blob", &type, &back));
    EXPECT_EQ(back, data);
    RegCloseKey(h);
}

TEST_F(RegistryTest, PersonEditedFileIsRead)
{
    WriteFile(file_,
              "REGEDIT4\r\n"
              "\r\n"
              "; ports typed in by hand\r\n"
              "[HKEY_LOCAL_MACHINE\\SYSTEM\\Ports\\P1]\r\n"
              "\"IPAddress\"=\"10.0.0.1\"\r\n"
              "\"StsInterval\"=dword:0000001E\r\n"
              "  ; an indented comment\r\n"
              "\"Blob\" = hex:01,02,\\\r\n"
              "    03,04\r\n"
              "\"Gone\"=\"soon\"\r\n"
              "\"Gone\"=-\r\n"
              "\r\n"
              "\r\n"
              "[HKEY_LOCAL_MACHINE\\SYSTEM\\Ports\\P2]\r\n"
              "\"IPAddress\"=\"printer.local\"\r\n"
              "[HKEY_LOCAL_MACHINE\\SYSTEM\\Ports\\Old]\r\n"
              "\"x\"=\"y\"\r\n"
              "[-HKEY_LOCAL_MACHINE\\SYSTEM\\Ports\\Old]\r\n"
              "\"ignored\"=\"after a deletion\"\r\n"
              "[-HKEY_LOCAL_MACHINE\\SYSTEM\\Ports\\NeverThere]\r\n"
              "[hkey_local_machine\\system\\ports\\p1]\r\n"
              "\"Path\"=\"C:\\temp\"\r\n");
    Reload();
    HKEY ports;
    ASSERT_EQ(RegOpenKeyExA(HKEY_LOCAL_MACHINE, "SYSTEM\\Ports", 0, KEY_READ, &ports), ERROR_SUCCESS);
    EXPECT_EQ(SubkeyNames(ports), (std::vector<std::string>{"P1", "P2"}));
    HKEY p1;
    ASSERT_EQ(RegOpenKeyExA(ports, "P1", 0, KEY_READ, &p1), ERROR_SUCCESS);
    DWORD type;
    std::string data;
    ASSERT_TRUE(Query(p1, "IPAddress", &type, &data));
    EXPECT_EQ(data, std::string("10.0.0.1\0", 9));
    ASSERT_TRUE(Query(p1, "StsInterval", &type, &data));
    EXPECT_EQ(type, (DWORD)REG_DWORD);
    EXPECT_EQ(data, std::string("\x1e\0\0\0", 4));
    ASSERT_TRUE(Query(p1, "Blob", &type, &data));
    EXPECT_EQ(type, (DWORD)REG_BINARY);
    EXPECT_EQ(data, std::string("\x01\x02\x03\x04", 4));
    EXPECT_FALSE(Query(p1, "Gone", &type, &data));
    ASSERT_TRUE(Query(p1, "Path", &type, &data));
    EXPECT_EQ(data, std::string("C:\\temp\0", 8));
    RegCloseKey(p1);
    RegCloseKey(ports);
}

TEST_F(RegistryTest, CorruptFileIsRefusedAndLeftAlone)
{
    struct Case {
        const char *text;
        int line;
    } cases[] = {
        {"", 1},
        {"[HKEY_LOCAL_MACHINE\\A]\n", 1},
        {"REGEDIT4\n\n\"v\"=\"outside a key\"\n", 3},
        {"REGEDIT4\n\n[HKEY_LOCAL_MACHINE\\A]\n\"v\"=\"no end\n", 4},
        {"REGEDIT4\n\n[HKEY_LOCAL_MACHINE\\A]\n\"v\"=dword:123456789\n", 4},
        {"REGEDIT4\n\n[HKEY_LOCAL_MACHINE\\A]\n\"a\"=hex:01\n\"v\"=hex:01,zz\n", 5},
        {"REGEDIT4\n\n[HKEY_LOCAL_MACHINE\\A]\n\"v\"=hex(q):01\n", 4},
        {"REGEDIT4\n\n[HKEY_LOCAL_MACHINE\\A\n", 3},
        {"REGEDIT4\n\n[HKEY_NOWHERE\\A]\n", 3},
        {"REGEDIT4\n\n[HKEY_LOCAL_MACHINE\\A\\\\B]\n", 3},
        {"REGEDIT4\n\n[HKEY_LOCAL_MACHINE\\A]\ngarbage\n", 4},
        {"REGEDIT4\n\n[HKEY_LOCAL_MACHINE\\A]\n\"v\" \"x\"\n", 4},
        {"REGEDIT4\n\n[HKEY_LOCAL_MACHINE\\A]\n\"v\"=\"x\" trailing\n", 4},
        {"REGEDIT4\r\n\r\n[HKEY_LOCAL_MACHINE\\A]\r\n\"v\"=hex:01,\\\r\n  02,\r\n\"w\"=wrong\r\n", 6},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.text);
        WriteFile(file_, c.text);
        EXPECT_FALSE(DorveRegistryUseFile(file_.c_str()));
        std::string err = DorveRegistryLastError();
        EXPECT_NE(err.find("registry.reg:" + std::to_string(c.line) + ": expected"), std::string::npos)
            << err;
        HKEY h = nullptr;
        LONG r = RegCreateKeyExA(HKEY_LOCAL_MACHINE, "Software\\X", 0, nullptr, 0, KEY_ALL_ACCESS,
                                 nullptr, &h, nullptr);
        EXPECT_TRUE(r == ERROR_REGISTRY_CORRUPT || r == ERROR_BADDB) << r;
        EXPECT_EQ(RegOpenKeyExA(HKEY_LOCAL_MACHINE, "Software", 0, KEY_READ, &h), r);
        EXPECT_EQ(RegSetValueExA(HKEY_LOCAL_MACHINE, "v", 0, REG_SZ, (const BYTE *)"1", 2), r);
        EXPECT_EQ(ReadFile(file_), c.text);
    }
    // once somebody fixes the file the registry works again
    WriteFile(file_, "REGEDIT4\n\n[HKEY_LOCAL_MACHINE\\Fixed]\n\n");
    HKEY h;
    EXPECT_EQ(RegOpenKeyExA(HKEY_LOCAL_MACHINE, "Fixed", 0, KEY_READ, &h), ERROR_SUCCESS);
    RegCloseKey(h);
}

TEST_F(RegistryTest, MissingFileIsEmptyAndMadeOnFirstChange)
{
    std::string nested = dir_ + "/a/b/registry.reg";
    ASSERT_TRUE(DorveRegistryUseFile(nested.c_str()));
    EXPECT_EQ(std::string(DorveRegistryFile()), nested);
    HKEY h;
    EXPECT_EQ(RegOpenKeyExA(HKEY_LOCAL_MACHINE, "Software", 0, KEY_READ, &h), ERROR_FILE_NOT_FOUND);
    struct stat st;
    EXPECT_NE(stat(nested.c_str(), &st), 0);
    h = Create("Software");
    EXPECT_EQ(ReadFile(nested), "REGEDIT4\n\n[HKEY_LOCAL_MACHINE\\Software]\n\n");
    RegCloseKey(h);
}

TEST(RegistryDefaultFile, FollowsXdgDataHome)
{
    const char *old = getenv("XDG_DATA_HOME");
    std::string saved = old ? old : "";
    setenv("XDG_DATA_HOME", "/somewhere/data", 1);
    EXPECT_STREQ(DorveRegistryDefaultFile(), "/somewhere/data/dorve/registry.reg");
    unsetenv("XDG_DATA_HOME");
    std::string home = getenv("HOME") ? getenv("HOME") : "";
    if (!home.empty()) {
        EXPECT_EQ(std::string(DorveRegistryDefaultFile()), home + "/.local/share/dorve/registry.reg");
    }
    if (old)
        setenv("XDG_DATA_HOME", saved.c_str(), 1);
}

// ------------------------------------------------------------ processes

// A child that saves in a loop is killed at random moments; whatever is on
// disk afterwards must be a whole file, the old one or the new one.
TEST_F(RegistryTest, KilledWriterNeverLeavesHalfAFile)
{
    HKEY h = Create("Software\\Crash");
    SetRaw(h, "Blob", REG_BINARY, std::string(1, '\x01'));
    RegCloseKey(h);
    srand((unsigned)time(nullptr));
    for (int round = 0; round < 12; round++) {
        pid_t pid = fork();
        ASSERT_GE(pid, 0);
        if (pid == 0) {
            HKEY k;
            if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, "Software\\Crash", 0, KEY_ALL_ACCESS, &k) != 0)
                _exit(1);
            for (unsigned n = 1;; n = n % 3000 + 97) {
                std::string blob(n, (char)(n & 0xff));
                RegSetValueExA(k, "Blob", 0, REG_BINARY, (const BYTE *)blob.data(), n);
                char name[32];
                snprintf(name, sizeof name, "K%u", n % 7);
                HKEY sub;
                if (RegCreateKeyExA(k, name, 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &sub, nullptr) == 0) {
                    RegCloseKey(sub);
                    RegDeleteKeyA(k, name);
                }
            }
        }
        usleep((useconds_t)(2000 + rand() % 20000));
        kill(pid, SIGKILL);
        int status;
        waitpid(pid, &status, 0);
        ASSERT_TRUE(DorveRegistryUseFile(file_.c_str())) << DorveRegistryLastError();
        HKEY k;
        ASSERT_EQ(RegOpenKeyExA(HKEY_LOCAL_MACHINE, "Software\\Crash", 0, KEY_READ, &k), ERROR_SUCCESS);
        DWORD type;
        std::string blob;
        ASSERT_TRUE(Query(k, "Blob", &type, &blob));
        ASSERT_FALSE(blob.empty());
        EXPECT_EQ(blob, std::string(blob.size(), (char)(blob.size() & 0xff)));
        RegCloseKey(k);
    }
    // the next change clears away what the killed writers left half-written
    HKEY k = Create("Software\\Crash");
    SetText(k, "After", "1");
    RegCloseKey(k);
    DIR *d = opendir(dir_.c_str());
    ASSERT_NE(d, nullptr);
    while (struct dirent *e = readdir(d))
        EXPECT_EQ(strstr(e->d_name, ".tmp."), nullptr) << e->d_name;
    closedir(d);
}

class RegistryProcessTest : public RegistryTest {
protected:
    // Starts regchild with the arguments; its stdin is the read end of a
    // pipe whose write end is returned in *startFd (or closed when NULL).
    pid_t Spawn(const std::vector<std::string> &args, int *startFd = nullptr)
    {
        // close-on-exec, so that one child never holds another's start pipe open
        int fds[2];
        if (pipe2(fds, O_CLOEXEC) != 0)
            return -1;
        pid_t pid = fork();
        if (pid == 0) {
            dup2(fds[0], 0);
            close(fds[0]);
            close(fds[1]);
            std::vector<char *> argv;
            std::string exe = DORVE_REGCHILD;
            argv.push_back(const_cast<char *>(exe.c_str()));
            std::string file = file_;
            argv.push_back(const_cast<char *>(file.c_str()));
            for (const std::string &a : args)
                argv.push_back(const_cast<char *>(a.c_str()));
            argv.push_back(nullptr);
            execv(exe.c_str(), argv.data());
            _exit(127);
        }
        close(fds[0]);
        if (startFd)
            *startFd = fds[1];
        else
            close(fds[1]);
        return pid;
    }
    int Wait(pid_t pid)
    {
        int status = 0;
        if (waitpid(pid, &status, 0) != pid)
            return -1;
        return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    }
};

TEST_F(RegistryProcessTest, TwoProcessesAddingKeysAtOnceKeepBoth)
{
    RegCloseKey(Create("Software\\Race"));
    const int kEach = 25;
    int goA, goB;
    pid_t a = Spawn({"add", "A", std::to_string(kEach)}, &goA);
    pid_t b = Spawn({"add", "B", std::to_string(kEach)}, &goB);
    ASSERT_GT(a, 0);
    ASSERT_GT(b, 0);
    close(goA);
    close(goB);
    EXPECT_EQ(Wait(a), 0);
    EXPECT_EQ(Wait(b), 0);
    HKEY race;
    ASSERT_EQ(RegOpenKeyExA(HKEY_LOCAL_MACHINE, "Software\\Race", 0, KEY_READ, &race), ERROR_SUCCESS);
    std::vector<std::string> names = SubkeyNames(race);
    EXPECT_EQ(names.size(), (size_t)(2 * kEach));
    for (int i = 0; i < kEach; i++) {
        for (const char *p : {"A", "B"}) {
            std::string n = p + std::to_string(i);
            EXPECT_TRUE(std::find(names.begin(), names.end(), n) != names.end()) << n;
        }
    }
    RegCloseKey(race);
}

TEST_F(RegistryProcessTest, OtherProcessChangesAreSeenBeforeOurNextChange)
{
    HKEY h = Create("Software\\Shared");
    SetText(h, "Ours1", "a");
    HKEY victim = Create("Software\\Shared\\Victim");

    ASSERT_EQ(Wait(Spawn({"set", "Software\\Shared", "Theirs", "b"})), 0);
    ASSERT_EQ(Wait(Spawn({"delete", "Software\\Shared\\Victim"})), 0);

    // a read sees the other process's value; our handles still work
    DWORD type;
    std::string data;
    ASSERT_TRUE(Query(h, "Theirs", &type, &data));
    EXPECT_EQ(data, std::string("b\0", 2));
    EXPECT_EQ(RegSetValueExA(victim, "x", 0, REG_SZ, (const BYTE *)"1", 2), ERROR_KEY_DELETED);

    // and our next change keeps theirs
    ASSERT_EQ(Wait(Spawn({"set", "Software\\Shared", "Theirs2", "c"})), 0);
    SetText(h, "Ours2", "d");
    std::string text = ReadFile(file_);
    for (const char *line : {"\"Ours1\"=\"a\"", "\"Theirs\"=\"b\"", "\"Theirs2\"=\"c\"", "\"Ours2\"=\"d\""})
        EXPECT_NE(text.find(line), std::string::npos) << line << "\n" << text;
    EXPECT_EQ(text.find("Victim"), std::string::npos);
    RegCloseKey(h);
    RegCloseKey(victim);
}

}  // namespace
