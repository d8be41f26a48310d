// Module resources: the monitor's own string and message tables as windres
// compiled them, and a test module with named, multi-language and Unicode
// resources.  USER's recorded message boxes and beep are here too.
#include <windows.h>
#include <dorve/loader_host.h>
#include <dorve/user_host.h>

#include <gtest/gtest.h>

#include "testlib.h"

#include <stdio.h>
#include <string.h>

#include <string>
#include <vector>

namespace {

const std::string kFixDirA = std::string(DORVE_H4_FIXDIR) + "/a";

// The monitor, loaded as the spooler loads it, for the whole program.
HMODULE MonitorModule()
{
    static HMODULE h = LoadLibraryA("DORVEMON.DLL");
    EXPECT_NE(h, nullptr);
    return h;
}

std::string Str(HMODULE h, UINT uId, int cch = 1024)
{
    std::vector<char> v((size_t)cch + 1, '\x7f');
    int n = LoadStringA((HINSTANCE)h, uId, v.data(), cch);
    EXPECT_EQ((size_t)n, strlen(v.data())) << uId;
    return std::string(v.data(), (size_t)n);
}

TEST(MonitorStrings, JapaneseTextsAreExactUtf8)
{
    HMODULE h = MonitorModule();
    const struct {
        UINT uId;
        const char *pszText;
    } aCases[] = {
        {500, u8"「ヘルプ」ボタンをクリックすると、プリントモニターのオンラインヘルプが表示されます。"},
        {502, u8"「OK」ボタンをクリックすると設定が保存されます。"},
        {506, u8"IPアドレスは、XXX.XXX.XXX.XXXと入力してください。またホスト名を使用することもできます。"},
        {510, u8"送信待ちタイムアウト」では、プリントジョブの送信待ちのとき、マイクロソフト プリントスプーラがジョブの消去をおこなうまでの時間の限度を設定します。"},
        {519, u8"検索中・・・"},
        {521, u8"引き渡し待機中"},
        {522, u8"プリンタから応答がぁりません"},
        {523, u8"プリンタがビジーです"},
        {524, u8"は既に存在します"},
    };
    for (const auto &c : aCases)
        EXPECT_EQ(Str(h, c.uId), c.pszText) << c.uId;
    // Byte for byte: the tenth character is the small a, U+3041, not U+3042.
    std::string s522 = Str(h, 522);
    ASSERT_EQ(s522.size(), 14u * 3);
    EXPECT_EQ(s522.substr(27, 3), "\xE3\x81\x81");

    for (UINT uId : {500u, 501u, 503u, 504u, 505u, 507u, 508u, 509u, 514u, 515u, 516u, 517u, 518u})
        EXPECT_FALSE(Str(h, uId).empty()) << uId;
}

TEST(MonitorStrings, MissingIdsGiveZeroAndEmptyBuffer)
{
    HMODULE h = MonitorModule();
    for (UINT uId : {0u, 499u, 511u, 512u, 513u, 520u, 525u, 528u, 4000u, 65535u}) {
        char sz[8] = "junk";
        EXPECT_EQ(LoadStringA((HINSTANCE)h, uId, sz, sizeof(sz)), 0) << uId;
        EXPECT_STREQ(sz, "") << uId;
    }
    // The test program itself carries no resources; the monitor it links
    // must not be taken for it.
    char sz[64] = "junk";
    EXPECT_EQ(LoadStringA(nullptr, 522, sz, sizeof(sz)), 0);
    EXPECT_STREQ(sz, "");
    EXPECT_EQ(LoadStringA((HINSTANCE)h, 522, nullptr, 10), 0);
    EXPECT_EQ(LoadStringA((HINSTANCE)h, 522, sz, 0), 0);
}

TEST(MonitorStrings, TruncationNeverSplitsACharacter)
{
    HMODULE h = MonitorModule();
    for (UINT uId : {502u, 522u}) {
        std::string strFull = Str(h, uId);
        for (int cch = 1; cch <= (int)strFull.size() + 2; cch++) {
            std::string s = Str(h, uId, cch);
            ASSERT_LE(s.size(), (size_t)cch - 1) << cch;
            ASSERT_EQ(strFull.compare(0, s.size(), s), 0) << cch;
            if (s.size() == strFull.size())
                continue;
            // Cut on a boundary, and no whole character more would fit.
            unsigned char bNext = (unsigned char)strFull[s.size()];
            EXPECT_NE(bNext & 0xC0, 0x80) << cch;
            size_t cbNext = bNext < 0x80 ? 1 : bNext < 0xE0 ? 2 : bNext < 0xF0 ? 3 : 4;
            EXPECT_GT(s.size() + cbNext, (size_t)cch - 1) << cch;
        }
    }
    EXPECT_EQ(Str(h, 522, 4), u8"プ");
    EXPECT_EQ(Str(h, 522, 3), "");
}

TEST(MonitorMessages, MessageTableIsTheCompiledCatalogue)
{
    HMODULE h = MonitorModule();
    HRSRC hRes = FindResourceA(h, MAKEINTRESOURCEA(1), RT_MESSAGETABLE);
    ASSERT_NE(hRes, nullptr);
    EXPECT_EQ(FindResourceA(h, "#1", "#11"), hRes);
    std::string strBin = dorvetest::ReadFile(DORVE_MSGBIN);
    ASSERT_FALSE(strBin.empty());
    ASSERT_EQ(SizeofResource(h, hRes), strBin.size());
    HGLOBAL hData = LoadResource(h, hRes);
    ASSERT_NE(hData, nullptr);
    EXPECT_EQ(memcmp(LockResource(hData), strBin.data(), strBin.size()), 0);

    SetLastError(0);
    EXPECT_EQ(FindResourceA(h, MAKEINTRESOURCEA(2), RT_MESSAGETABLE), nullptr);
    EXPECT_EQ(GetLastError(), (DWORD)ERROR_RESOURCE_NAME_NOT_FOUND);
    SetLastError(0);
    EXPECT_EQ(FindResourceA(h, MAKEINTRESOURCEA(1), MAKEINTRESOURCEA(23)), nullptr);
    EXPECT_EQ(GetLastError(), (DWORD)ERROR_RESOURCE_TYPE_NOT_FOUND);
}

std::string Replace(std::string s, const std::string &strFrom, const std::string &strTo)
{
    size_t n = s.find(strFrom);
    if (n != std::string::npos)
        s.replace(n, strFrom.size(), strTo);
    return s;
}

TEST(MonitorMessages, EveryCatalogueMessageFormatsWithInserts)
{
    HMODULE h = MonitorModule();
    const struct {
        DWORD dwId;
        const char *pszTemplate;
    } aCatalogue[] = {
        {0x200003E8, "Initialized and started successfully.\r\n"},
        {0xE00003E9, "Failed to initialize. %1.\r\n"},
        {0xA00003EA, "OpenPort failed to find port %1.\r\n"},
        {0xA00003EB, "StartDocPort failed to create a status mutex for the printer \"%1\" because (%2).\r\n"},
        {0xA00003EC, "StartDocPort failed to create a status event for the printer \"%1\" because (%2).\r\n"},
        {0xA00003ED, "StartDocPort failed to open the printer \"%1\" because (%2).\r\n"},
        {0xA00003EE, "StartDocPort failed to receive a response from printer \"%1\"\r\nwhile processing the "
                     "document \"%2\" for \"%3.\"\r\n"},
        {0xA00003EF, "StartDocPort could not make a send connection to printer \"%1\"\r\nwhile processing the "
                     "document \"%2\" for \"%3.\"\r\nThe printer status was \"%4.\"\r\n"},
        {0xA00003F0, "StartDocPort failed to send the accounting header to printer \"%1\"\r\nwhile processing "
                     "the document \"%2\" for \"%3.\"\r\nThe printer status was \"%4.\"\r\n"},
        {0xA00003F1, "WritePort failed to send data to printer \"%1\"\r\nwhile processing the document \"%2\" "
                     "for \"%3.\"\r\nThe printer status was \"%4.\"\r\n"},
        {0xE00003F2, "WritePort failed to send data to printer \"%1\"\r\nwhile processing the document \"%2\" "
                     "for \"%3.\"\r\nThe printer status was \"%4.\" The job was discarded.\r\n"},
        {0xA00003F4, "DeletePort failed to update the port list for %1.\r\n"},
        {0xA00003F5, "AddPort failed.\r\n"},
        {0xA00003F6, "ConfigPort couldn't find port %1.\r\n"},
        {0xA00003F7, "ConfigPort failed to configure port %1.\r\n"},
    };
    const char *apszInserts[] = {"LP-1", "Report.doc", u8"田中", "Paper out"};
    for (const auto &c : aCatalogue) {
        std::string strExpected = c.pszTemplate;
        for (int i = 0; i < 4; i++)
            strExpected = Replace(strExpected, "%" + std::to_string(i + 1), apszInserts[i]);
        char szBuf[512];
        DWORD cch = FormatMessageA(FORMAT_MESSAGE_FROM_HMODULE | FORMAT_MESSAGE_ARGUMENT_ARRAY, h, c.dwId, 0,
                                   szBuf, sizeof(szBuf), (va_list *)apszInserts);
        EXPECT_EQ(std::string(szBuf, cch), strExpected) << std::hex << c.dwId;

        // Unexpanded, the text is the template itself.
        cch = FormatMessageA(FORMAT_MESSAGE_FROM_HMODULE | FORMAT_MESSAGE_IGNORE_INSERTS, h, c.dwId, 0x409,
                             szBuf, sizeof(szBuf), nullptr);
        EXPECT_EQ(std::string(szBuf, cch), c.pszTemplate) << std::hex << c.dwId;
    }
    // Ids between and beside the catalogue's are absent.
    for (DWORD dwId : {0xA00003F3u, 0x000003E8u, 0xA00003F8u, 0u}) {
        char szBuf[64];
        SetLastError(0);
        EXPECT_EQ(FormatMessageA(FORMAT_MESSAGE_FROM_HMODULE | FORMAT_MESSAGE_IGNORE_INSERTS, h, dwId, 0, szBuf,
                                 sizeof(szBuf), nullptr),
                  0u);
        EXPECT_EQ(GetLastError(), 317u);   // ERROR_MR_MID_NOT_FOUND
    }
}

TEST(MonitorMessages, BufferHandling)
{
    HMODULE h = MonitorModule();
    const char *apszInserts[] = {"P", "5"};
    const std::string strExpected =
        "StartDocPort failed to create a status mutex for the printer \"P\" because (5).\r\n";
    const DWORD dwFlags = FORMAT_MESSAGE_FROM_HMODULE | FORMAT_MESSAGE_ARGUMENT_ARRAY;

    char *pszAlloc = nullptr;
    DWORD cch = FormatMessageA(dwFlags | FORMAT_MESSAGE_ALLOCATE_BUFFER, h, 0xA00003EB, 0, (LPSTR)&pszAlloc, 0,
                               (va_list *)apszInserts);
    ASSERT_NE(pszAlloc, nullptr);
    EXPECT_EQ(cch, strExpected.size());
    EXPECT_EQ(std::string(pszAlloc), strExpected);
    EXPECT_EQ(LocalFree(pszAlloc), nullptr);

    // The text and its NUL must fit; one byte short fails.
    std::vector<char> v(strExpected.size() + 1);
    EXPECT_EQ(FormatMessageA(dwFlags, h, 0xA00003EB, 0, v.data(), (DWORD)v.size(), (va_list *)apszInserts),
              strExpected.size());
    SetLastError(0);
    EXPECT_EQ(FormatMessageA(dwFlags, h, 0xA00003EB, 0, v.data(), (DWORD)v.size() - 1, (va_list *)apszInserts),
              0u);
    EXPECT_EQ(GetLastError(), (DWORD)ERROR_INSUFFICIENT_BUFFER);

    // Inserts asked for but none given.
    char sz[256];
    EXPECT_EQ(FormatMessageA(dwFlags, h, 0xA00003EB, 0, sz, sizeof(sz), nullptr), 0u);
    // A language the table does not have.
    EXPECT_EQ(FormatMessageA(dwFlags, h, 0xA00003EB, 0x411, sz, sizeof(sz), (va_list *)apszInserts), 0u);
}

class FixtureResources : public ::testing::Test {
protected:
    void SetUp() override
    {
        DorveLoaderSetPath(kFixDirA.c_str());
        hMod = LoadLibraryA("resfix.dll");
        ASSERT_NE(hMod, nullptr);
    }
    void TearDown() override
    {
        if (hMod != nullptr)
            FreeLibrary(hMod);
        DorveLoaderReset();
    }
    HMODULE hMod = nullptr;
};

TEST_F(FixtureResources, StringBlocksAndSurrogates)
{
    EXPECT_EQ(Str(hMod, 0), "zero");       // block 1, first slot
    EXPECT_EQ(Str(hMod, 15), "fifteen");   // block 1, last slot
    EXPECT_EQ(Str(hMod, 16), "sixteen");   // block 2
    EXPECT_EQ(Str(hMod, 1), "");
    EXPECT_EQ(Str(hMod, 18), u8"Grüße");
    // U+1F600 is a surrogate pair in the table and four bytes here; a cut
    // inside it leaves it out whole.
    EXPECT_EQ(Str(hMod, 17), u8"smile 😀 end");
    EXPECT_EQ(Str(hMod, 17, 8), "smile ");
    EXPECT_EQ(Str(hMod, 17, 10), "smile ");
    EXPECT_EQ(Str(hMod, 17, 11), u8"smile 😀");
}

TEST_F(FixtureResources, NamedTypedAndLanguageResources)
{
    HRSRC hHello = FindResourceA(hMod, "HELLO", MAKEINTRESOURCEA(10));   // RT_RCDATA
    ASSERT_NE(hHello, nullptr);
    EXPECT_EQ(FindResourceA(hMod, "hello", "#10"), hHello);
    ASSERT_EQ(SizeofResource(hMod, hHello), 3u);
    EXPECT_EQ(memcmp(LockResource(LoadResource(hMod, hHello)), "abc", 3), 0);

    HRSRC hSeven = FindResourceA(hMod, MAKEINTRESOURCEA(7), "MYTYPE");
    ASSERT_NE(hSeven, nullptr);
    EXPECT_EQ(FindResourceA(hMod, "#7", "mytype"), hSeven);
    EXPECT_STREQ((const char *)LockResource(LoadResource(hMod, hSeven)), "seven");

    // Any language: the first one in the file.
    HRSRC h300 = FindResourceA(hMod, MAKEINTRESOURCEA(300), MAKEINTRESOURCEA(10));
    ASSERT_NE(h300, nullptr);
    EXPECT_EQ(std::string((const char *)LockResource(LoadResource(hMod, h300)), SizeofResource(hMod, h300)),
              "English");

    SetLastError(0);
    EXPECT_EQ(FindResourceA(hMod, "NOPE", MAKEINTRESOURCEA(10)), nullptr);
    EXPECT_EQ(GetLastError(), (DWORD)ERROR_RESOURCE_NAME_NOT_FOUND);
    EXPECT_EQ(FindResourceA(hMod, "#", MAKEINTRESOURCEA(10)), nullptr);
    EXPECT_EQ(FindResourceA(hMod, "#12x", MAKEINTRESOURCEA(10)), nullptr);

    // A handle from another module is not this module's resource.
    HRSRC hOther = FindResourceA(MonitorModule(), MAKEINTRESOURCEA(1), RT_MESSAGETABLE);
    ASSERT_NE(hOther, nullptr);
    EXPECT_EQ(SizeofResource(hMod, hOther), 0u);
    EXPECT_EQ(LoadResource(hMod, hOther), nullptr);
    EXPECT_EQ(SizeofResource(hMod, (HRSRC)((const char *)hHello + 4)), 0u);
}

TEST_F(FixtureResources, ModuleWithoutResources)
{
    HMODULE h = LoadLibraryA("fixture.dll");
    ASSERT_NE(h, nullptr);
    SetLastError(0);
    EXPECT_EQ(FindResourceA(h, MAKEINTRESOURCEA(1), RT_MESSAGETABLE), nullptr);
    EXPECT_EQ(GetLastError(), (DWORD)ERROR_RESOURCE_DATA_NOT_FOUND);
    char sz[8] = "x";
    EXPECT_EQ(LoadStringA((HINSTANCE)h, 1, sz, sizeof(sz)), 0);
    FreeLibrary(h);
}

TEST_F(FixtureResources, UnicodeMessagesAndEscapes)
{
    const DWORD dwFlags = FORMAT_MESSAGE_FROM_HMODULE | FORMAT_MESSAGE_ARGUMENT_ARRAY;
    const struct {
        DWORD dwId;
        std::vector<DWORD_PTR> vArgs;
        const char *pszExpected;
    } aCases[] = {
        {0x10, {(DWORD_PTR) "one", (DWORD_PTR) "two"}, "First one and two.\r\n"},
        {0x11, {(DWORD_PTR) u8"ß"}, u8"Zweite Zeile: äöü ß\r\n"},
        {0x12, {(DWORD_PTR)(DWORD)-42, 0xBEEF}, "Number -42 hex beef\r\n"},
        {0x12, {7, 0xA}, "Number 7 hex 000a\r\n"},
        {0x20, {}, "Ends here"},
        {0x21, {(DWORD_PTR) "x"}, "100% sure. x!\r\n"},
        {0x22, {(DWORD_PTR) "P"}, u8"日本語 P\r\n"},
    };
    for (const auto &c : aCases) {
        char szBuf[128];
        std::vector<DWORD_PTR> vArgs = c.vArgs;
        vArgs.push_back(0);
        DWORD cch = FormatMessageA(dwFlags, hMod, c.dwId, 0, szBuf, sizeof(szBuf), (va_list *)vArgs.data());
        EXPECT_EQ(std::string(szBuf, cch), c.pszExpected) << c.dwId;
    }
    char szBuf[64];
    EXPECT_EQ(FormatMessageA(dwFlags, hMod, 0x13, 0, szBuf, sizeof(szBuf), nullptr), 0u);
    EXPECT_EQ(FormatMessageA(dwFlags, hMod, 0x1F, 0, szBuf, sizeof(szBuf), nullptr), 0u);
}

TEST(FormatFromString, InsertsAndEscapes)
{
    const char *apsz[] = {"a", "b", "c", "d", "e", "f", "g", "h", "i", "j", "k"};
    char sz[128];
    DWORD cch = FormatMessageA(FORMAT_MESSAGE_FROM_STRING | FORMAT_MESSAGE_ARGUMENT_ARRAY, "%2%1 %11-%10 %%1",
                               0, 0, sz, sizeof(sz), (va_list *)apsz);
    EXPECT_EQ(std::string(sz, cch), "ba k-j %1");
    cch = FormatMessageA(FORMAT_MESSAGE_FROM_STRING | FORMAT_MESSAGE_IGNORE_INSERTS, "x %1!d! y", 0, 0, sz,
                         sizeof(sz), nullptr);
    EXPECT_EQ(std::string(sz, cch), "x %1!d! y");
    // A format that is no plain number format is refused, never handed on.
    EXPECT_EQ(FormatMessageA(FORMAT_MESSAGE_FROM_STRING | FORMAT_MESSAGE_ARGUMENT_ARRAY, "%1!n!", 0, 0, sz,
                             sizeof(sz), (va_list *)apsz),
              0u);
    EXPECT_EQ(FormatMessageA(FORMAT_MESSAGE_FROM_STRING | FORMAT_MESSAGE_ARGUMENT_ARRAY, "%1!d", 0, 0, sz,
                             sizeof(sz), (va_list *)apsz),
              0u);
}

TEST(UserRecords, MessageBoxAnswersFromQueueAndRecords)
{
    DorveUserReset();
    EXPECT_EQ(DorveMessageBoxCount(), 0);
    HWND hOwner = (HWND)(uintptr_t)0x1234;
    EXPECT_EQ(MessageBoxA(hOwner, "text one", "Dorve Print Monitor", MB_OK | MB_ICONEXCLAMATION), IDOK);
    EXPECT_EQ(DorveMessageBoxCount(), 1);
    EXPECT_STREQ(DorveLastMessageBoxText(), "text one");
    EXPECT_STREQ(DorveLastMessageBoxCaption(), "Dorve Print Monitor");
    EXPECT_EQ(DorveLastMessageBoxStyle(), (UINT)0x30);
    EXPECT_EQ(DorveLastMessageBoxOwner(), hOwner);

    DorveUserQueueMessageBoxAnswer(IDNO);
    DorveUserQueueMessageBoxAnswer(IDCANCEL);
    EXPECT_EQ(MessageBoxA(nullptr, u8"は既に存在します", "c", MB_YESNOCANCEL | MB_ICONQUESTION), IDNO);
    EXPECT_EQ(DorveLastMessageBoxStyle(), (UINT)0x23);
    EXPECT_STREQ(DorveLastMessageBoxText(), u8"は既に存在します");
    EXPECT_EQ(MessageBoxA(nullptr, "t", nullptr, MB_YESNO), IDCANCEL);
    EXPECT_STREQ(DorveLastMessageBoxCaption(), "Error");
    EXPECT_EQ(MessageBoxA(nullptr, "t", "c", MB_YESNO), IDOK);   // queue empty again
    EXPECT_EQ(DorveMessageBoxCount(), 4);

    DorveUserQueueMessageBoxAnswer(IDYES);
    DorveUserReset();
    EXPECT_EQ(MessageBoxA(nullptr, "t", "c", MB_YESNO), IDOK);   // reset drops queued answers
    EXPECT_EQ(DorveMessageBoxCount(), 1);
}

TEST(UserRecords, BeepAndHelpAreRecorded)
{
    DorveUserReset();
    EXPECT_EQ(DorveBeepCount(), 0);
    EXPECT_TRUE(MessageBeep(MB_ICONEXCLAMATION));
    EXPECT_TRUE(MessageBeep(MB_OK));
    EXPECT_EQ(DorveBeepCount(), 2);
    EXPECT_EQ(DorveLastBeepType(), (UINT)MB_OK);
    EXPECT_TRUE(WinHelpA(nullptr, "DORVEMON.HLP", HELP_CONTEXT, 1));
    EXPECT_EQ(DorveWinHelpCount(), 1);
    EXPECT_STREQ(DorveLastWinHelpFile(), "DORVEMON.HLP");
    EXPECT_EQ(DorveLastWinHelpCommand(), (UINT)HELP_CONTEXT);
    EXPECT_EQ(DorveLastWinHelpData(), (ULONG_PTR)1);
    DorveUserReset();
    EXPECT_EQ(DorveBeepCount(), 0);
    EXPECT_EQ(DorveWinHelpCount(), 0);
}

TEST(UserRecords, Fonts)
{
    HFONT hFont = CreateFontA(12, 0, 0, 0, 0, FALSE, FALSE, FALSE, SHIFTJIS_CHARSET, 0, 0, 0, 0, "");
    ASSERT_NE(hFont, nullptr);
    EXPECT_TRUE(DeleteObject(hFont));
    EXPECT_FALSE(DeleteObject(hFont));
}

} // namespace
