// The Linux layer's own decisions, checked without a file system.
#include <gtest/gtest.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <string>

#include "platform/platform.h"
#include "platform/posix_rules.h"

namespace {

struct ErrnoCase {
    int error;
    plat::Dword win32;
};

// What a Windows user sees for the same failure.
const ErrnoCase kErrnoCases[] = {
    {EEXIST, 183}, {EINVAL, 87},   {EPERM, 1314},  {EACCES, 5},      {ENOTSUP, 50},
    {EOPNOTSUPP, 50}, {ENOENT, 2}, {ENOTDIR, 3},   {ENAMETOOLONG, 206}, {EROFS, 19},
    {EBUSY, 32},  {EWOULDBLOCK, 32}, {ETXTBSY, 32}, {ENODATA, 1168},  {EIO, 1117},
    {ENOSPC, 112}, {EDQUOT, 1295}, {ELOOP, 1921},  {EMFILE, 4},      {ENFILE, 4},
    {ENOMEM, 8},  {EBADF, 6},      {EFAULT, 487},  {EMLINK, 1142},   {EISDIR, 5},
    {ENOTCONN, 21}, {ERANGE, 122}, {E2BIG, 87},    {EILSEQ, 123},
};

TEST(ErrnoTable, EachErrnoBecomesTheWin32NumberForTheSameFailure)
{
    for (const ErrnoCase& c : kErrnoCases)
        EXPECT_EQ(posixrules::Win32FromErrno(c.error), c.win32) << std::strerror(c.error);
}

TEST(ErrnoTable, AnUnknownErrnoIsAFailureNeverSuccess)
{
    EXPECT_EQ(posixrules::Win32FromErrno(0), 31u);
    EXPECT_EQ(posixrules::Win32FromErrno(EDOM), 31u);
    EXPECT_EQ(posixrules::Win32FromErrno(-1), 31u);
}

std::string FormattedText(plat::Dword id)
{
    char* text = nullptr;
    const plat::Dword length = plat::FormatMessageA(0x1300, nullptr, id, 0x400, &text, 0, nullptr);
    std::string result;
    if (text != nullptr) {
        EXPECT_EQ(std::strlen(text), length);
        result = text;
        plat::LocalFree(text);
    }
    return result;
}

TEST(MessageTexts, EveryNumberTheLayerProducesHasALineOfText)
{
    // Every errno the table knows, the layer's own numbers, the common ones.
    std::string missing;
    for (int error = 1; error < 200; ++error) {
        const plat::Dword id = posixrules::Win32FromErrno(error);
        const std::string text = FormattedText(id);
        if (text.size() < 2 || text.back() != '\n' || text.find('\n') != text.size() - 1)
            missing += std::to_string(id) + " ";
    }
    for (plat::Dword id : {0u, 1u, 2u, 3u, 5u, 6u, 19u, 32u, 50u, 87u, 122u, 126u, 183u, 206u,
                           317u, 1313u, 1314u}) {
        const std::string text = FormattedText(id);
        if (text.size() < 2 || text.back() != '\n')
            missing += std::to_string(id) + " ";
    }
    EXPECT_EQ(missing, "");
}

TEST(MessageTexts, AnUnknownNumberHasNoTextAsOnWindows)
{
    char* text = reinterpret_cast<char*>(&text);
    EXPECT_EQ(plat::FormatMessageA(0x1300, nullptr, 2150, 0x400, &text, 0, nullptr), 0u);
    EXPECT_EQ(text, nullptr);
    EXPECT_EQ(plat::GetLastError(), 317u);
    EXPECT_EQ(FormattedText(99999), "");
}

TEST(MessageTexts, ThereIsNoNetworkMessageModule)
{
    EXPECT_EQ(plat::LoadLibraryExA("netmsg.dll", nullptr, 2), nullptr);
    EXPECT_EQ(plat::GetLastError(), 126u);
}

struct NameCase {
    const char* name;
    bool valid;
};

const NameCase kNameCases[] = {
    {"A", true}, {"ABCDEFGH", true}, {"ABCDEFGH.TXT", true}, {"A.B", true},
    {"PROGRA~1", true}, {"a-b_c!#$.%&'", true}, {"lower.txt", true}, {"1234.567", true},
    {"", false}, {"ABCDEFGHI", false}, {"ABCDEFGHIJKL", false}, {"A.TOOLONG", false},
    {"A.B.C", false}, {".TXT", false}, {"A.", false}, {".", false}, {"..", false},
    {"A B", false}, {" A", false}, {"A ", false}, {"A\tB", false}, {"A\x01" "B", false},
    {"A\x7f" "B", false}, {"\xc3\x89T.TXT", false}, {"A\x80", false},
    {"A\"B", false}, {"A*B", false}, {"A+B", false}, {"A,B", false}, {"A/B", false},
    {"A:B", false}, {"A;B", false}, {"A<B", false}, {"A=B", false}, {"A>B", false},
    {"A?B", false}, {"A[B", false}, {"A\\B", false}, {"A]B", false}, {"A|B", false},
};

TEST(ShortNameRules, OnlyValidEightDotThreeNamesPass)
{
    for (const NameCase& c : kNameCases)
        EXPECT_EQ(posixrules::IsValidShortName(c.name), c.valid) << '"' << c.name << '"';
    EXPECT_FALSE(posixrules::IsValidShortName(nullptr));
}

TEST(ShortNameRules, LetterCaseIsFoldedForAsciiLettersOnly)
{
    EXPECT_TRUE(posixrules::EqualIgnoringAsciiCase("Other.Txt", "OTHER.TXT"));
    EXPECT_TRUE(posixrules::EqualIgnoringAsciiCase("progra~1", "PROGRA~1"));
    EXPECT_FALSE(posixrules::EqualIgnoringAsciiCase("OTHER.TX", "OTHER.TXT"));
    EXPECT_FALSE(posixrules::EqualIgnoringAsciiCase("OTHER.TXT", "OTHER.TX"));
    // \xc3\xa9 and \xc3\x89 are e-acute in two cases: not folded.
    EXPECT_FALSE(posixrules::EqualIgnoringAsciiCase("\xc3\xa9", "\xc3\x89"));
    // '@' + 32 is '`': only A to Z fold.
    EXPECT_FALSE(posixrules::EqualIgnoringAsciiCase("@", "`"));
}

TEST(PosixLayer, VersionPassesTheGateOnlyForTheWindowsRecordSize)
{
    plat::OsVersionInfo version = {};
    version.osVersionInfoSize = sizeof version;
    ASSERT_NE(plat::GetVersionExA(&version), 0);
    EXPECT_GE(version.buildNumber, 2600u);
    version = {};
    version.osVersionInfoSize = 100;
    EXPECT_EQ(plat::GetVersionExA(&version), 0);
    EXPECT_EQ(plat::GetLastError(), 122u);
}

TEST(PosixLayer, ShortPathTooLongForTheBufferGivesTheSizeAndWritesNothing)
{
    char buffer[4];
    std::memset(buffer, 'x', sizeof buffer);
    // "/" and "/tmp" always exist; the short path of "/tmp" is "/tmp".
    EXPECT_EQ(plat::GetShortPathNameA("/tmp", buffer, sizeof buffer), 5u);
    EXPECT_EQ(std::string(buffer, sizeof buffer), "xxxx");
    char fits[5];
    EXPECT_EQ(plat::GetShortPathNameA("/tmp", fits, sizeof fits), 4u);
    EXPECT_STREQ(fits, "/tmp");
    EXPECT_EQ(plat::GetShortPathNameA("/tmp//./", fits, 0), 9u);
}

TEST(PosixLayer, MissingItemIs2AndMissingFolderIs3)
{
    char buffer[64];
    EXPECT_EQ(plat::GetShortPathNameA("/tmp/velmora-no-such-item", buffer, sizeof buffer), 0u);
    EXPECT_EQ(plat::GetLastError(), 2u);
    EXPECT_EQ(plat::GetShortPathNameA("/tmp/velmora-no-such-folder/x", buffer, sizeof buffer), 0u);
    EXPECT_EQ(plat::GetLastError(), 3u);
    EXPECT_EQ(plat::GetShortPathNameA("", buffer, sizeof buffer), 0u);
    EXPECT_EQ(plat::GetLastError(), 2u);
}

TEST(PosixLayer, UnknownHandlesAreRefused)
{
    int local = 0;
    EXPECT_EQ(plat::SetFileShortNameA(&local, "A.TXT"), 0);
    EXPECT_EQ(plat::GetLastError(), 6u);
    EXPECT_EQ(plat::CloseHandle(&local), 0);
    EXPECT_EQ(plat::GetLastError(), 6u);
    EXPECT_EQ(plat::CreateFileA("/tmp", 0xC0010000, 0, nullptr, 1, 0x02000020, nullptr),
              plat::InvalidHandle());
    EXPECT_EQ(plat::GetLastError(), 87u);
}

}  // namespace
