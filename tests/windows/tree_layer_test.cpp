// velmora-tree's Windows layer against the system that runs it (wine here):
// folders read with their short names, paths beyond 260 characters, names
// outside the ANSI code page, the exclusive open, listing files written in
// one piece. Nothing here reaches SetFileShortNameW, which wine lacks (it
// ends the process): every SetShortName case fails at the open before it.
#include <windows.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <string>
#include <vector>

#include "platform/tree_platform.h"
#include "platform/tree_win32_text.h"

namespace {

using treeplat::Dword;

std::string Utf8(const std::wstring& wide)
{
    return wintext::Wtf8FromUtf16(wide);
}

std::wstring Long(const std::wstring& path)
{
    return L"\\\\?\\" + path;
}

void MakeFolder(const std::wstring& path)
{
    ASSERT_NE(0, CreateDirectoryW(Long(path).c_str(), nullptr)) << Utf8(path) << " "
                                                                 << GetLastError();
}

void MakeFile(const std::wstring& path, const std::string& content = "item\n")
{
    const HANDLE file = CreateFileW(Long(path).c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                                    FILE_ATTRIBUTE_NORMAL, nullptr);
    ASSERT_NE(INVALID_HANDLE_VALUE, file) << Utf8(path) << " " << GetLastError();
    DWORD written = 0;
    WriteFile(file, content.data(), static_cast<DWORD>(content.size()), &written, nullptr);
    CloseHandle(file);
    ASSERT_EQ(content.size(), written);
}

std::string FileContent(const std::wstring& path)
{
    const HANDLE file = CreateFileW(Long(path).c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                                    OPEN_EXISTING, 0, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return "<cannot open: " + std::to_string(GetLastError()) + ">";
    std::string content;
    char buffer[4096];
    DWORD got = 0;
    while (ReadFile(file, buffer, sizeof buffer, &got, nullptr) && got > 0)
        content.append(buffer, got);
    CloseHandle(file);
    return content;
}

std::vector<std::wstring> NamesIn(const std::wstring& folder)
{
    std::vector<std::wstring> names;
    WIN32_FIND_DATAW found;
    const HANDLE search = FindFirstFileW(Long(folder + L"\\*").c_str(), &found);
    if (search == INVALID_HANDLE_VALUE)
        return names;
    do {
        const std::wstring name = found.cFileName;
        if (name != L"." && name != L"..")
            names.push_back(name);
    } while (FindNextFileW(search, &found));
    FindClose(search);
    std::sort(names.begin(), names.end());
    return names;
}

void RemoveTree(const std::wstring& folder)
{
    WIN32_FIND_DATAW found;
    const HANDLE search = FindFirstFileW(Long(folder + L"\\*").c_str(), &found);
    if (search != INVALID_HANDLE_VALUE) {
        do {
            const std::wstring name = found.cFileName;
            if (name == L"." || name == L"..")
                continue;
            const std::wstring path = folder + L"\\" + name;
            if ((found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0) {
                if ((found.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) == 0)
                    RemoveTree(path);
                else
                    RemoveDirectoryW(Long(path).c_str());
            } else {
                DeleteFileW(Long(path).c_str());
            }
        } while (FindNextFileW(search, &found));
        FindClose(search);
    }
    RemoveDirectoryW(Long(folder).c_str());
}

// What the system gives as the short form of the item's name: the last
// component of its short path, or "" when that is the long name itself.
std::string SystemShortName(const std::wstring& path, const std::wstring& name)
{
    std::wstring shortPath(32768, L'\0');
    const DWORD length = GetShortPathNameW(Long(path).c_str(), &shortPath[0],
                                           static_cast<DWORD>(shortPath.size()));
    if (length == 0)
        return "<error " + std::to_string(GetLastError()) + ">";
    shortPath.resize(length);
    const std::wstring last = shortPath.substr(shortPath.rfind(L'\\') + 1);
    return last == name ? std::string() : Utf8(last);
}

const std::wstring kJapanese = L"\u65E5\u672C\u8A9E\u306E\u30D5\u30A1\u30A4\u30EB.txt";
const std::wstring kGreek = L"\u0395\u03BB\u03BB\u03B7\u03BD\u03B9\u03BA\u03AC";
const std::wstring kEmoji = L"\U0001F600 a smile";

class TreeLayer : public ::testing::Test {
protected:
    void SetUp() override
    {
        wchar_t temp[MAX_PATH + 1];
        ASSERT_NE(0u, GetTempPathW(MAX_PATH + 1, temp));
        base_ = std::wstring(temp) + L"velmora-tree-layer-" + std::to_wstring(GetCurrentProcessId());
        RemoveTree(base_);
        MakeFolder(base_);
    }

    void TearDown() override { RemoveTree(base_); }

    // A chain of folders whose full path is longer than MAX_PATH; returns
    // the deepest one and the chain below base_ joined by '/'.
    std::wstring MakeDeepFolders(std::string* relative)
    {
        std::wstring path = base_;
        const std::wstring names[] = {kGreek + L" folder with a long name, number one",
                                      kJapanese + L" folder with a long name, number two",
                                      L"A folder with a long name, number three",
                                      L"A folder with a long name, number four",
                                      L"A folder with a long name, number five",
                                      L"A folder with a long name, number six",
                                      L"A folder with a long name, number seven"};
        relative->clear();
        for (const std::wstring& name : names) {
            path += L"\\" + name;
            MakeFolder(path);
            if (!relative->empty())
                *relative += "/";
            *relative += Utf8(name);
        }
        return path;
    }

    std::wstring base_;
};

struct Listed {
    std::string shortName;
    bool descend;
};

TEST_F(TreeLayer, ReadsEveryNameWithItsShortNameOnce)
{
    const std::vector<std::wstring> files = {L"A long file name.txt", L"SHORT.TXT", L"lower.txt",
                                             kJapanese, kGreek, kEmoji,
                                             L"name with trailing dot and space. "};
    const std::vector<std::wstring> folders = {L"A folder with a long name", L"SUB"};
    for (const std::wstring& name : files)
        MakeFile(base_ + L"\\" + name);
    for (const std::wstring& name : folders)
        MakeFolder(base_ + L"\\" + name);

    treeplat::Folder* folder = nullptr;
    ASSERT_EQ(0u, treeplat::OpenFolder(Utf8(base_), "", false, &folder));
    std::vector<treeplat::Entry> entries;
    ASSERT_EQ(0u, treeplat::ReadFolder(folder, &entries));
    treeplat::CloseFolder(folder);

    std::vector<std::pair<std::string, std::string>> got;
    std::vector<std::pair<std::string, std::string>> expected;
    for (const treeplat::Entry& entry : entries) {
        got.emplace_back(entry.name, entry.shortName + (entry.descend ? " descend" : ""));
        EXPECT_EQ(0u, entry.id);
    }
    for (const std::wstring& name : files)
        expected.emplace_back(Utf8(name), SystemShortName(base_ + L"\\" + name, name));
    for (const std::wstring& name : folders)
        expected.emplace_back(Utf8(name),
                              SystemShortName(base_ + L"\\" + name, name) + " descend");
    std::sort(got.begin(), got.end());
    std::sort(expected.begin(), expected.end());
    EXPECT_EQ(expected, got);

    // The point of the case: the system gave some names a short name of
    // their own, and left 8.3 names without one.
    const auto withShortName = std::count_if(got.begin(), got.end(), [](const auto& item) {
        return !item.second.empty() && item.second != " descend";
    });
    EXPECT_GE(withShortName, 4);
}

TEST_F(TreeLayer, ReachesFoldersBeyondMaxPathByRelativeNames)
{
    std::string relative;
    const std::wstring deep = MakeDeepFolders(&relative);
    ASSERT_GT(deep.size(), static_cast<std::size_t>(MAX_PATH));
    const std::wstring fileName = kEmoji + L" at the end of a long path.txt";
    MakeFile(deep + L"\\" + fileName);

    treeplat::Folder* folder = nullptr;
    ASSERT_EQ(0u, treeplat::OpenFolder(Utf8(base_), relative, true, &folder));
    std::vector<treeplat::Entry> entries;
    ASSERT_EQ(0u, treeplat::ReadFolder(folder, &entries));
    treeplat::CloseFolder(folder);
    ASSERT_EQ(1u, entries.size());
    EXPECT_EQ(Utf8(fileName), entries[0].name);
    EXPECT_EQ(SystemShortName(deep + L"\\" + fileName, fileName), entries[0].shortName);
    EXPECT_FALSE(entries[0].descend);
}

TEST_F(TreeLayer, TakesTheRootAsTypedInEveryForm)
{
    MakeFolder(base_ + L"\\" + kGreek);
    MakeFile(base_ + L"\\" + kGreek + L"\\inside.txt");
    std::wstring forward = base_;
    std::replace(forward.begin(), forward.end(), L'\\', L'/');
    ASSERT_NE(0, SetCurrentDirectoryW(base_.c_str()));
    const std::vector<std::string> roots = {
        Utf8(base_ + L"\\" + kGreek),
        Utf8(base_ + L"\\" + kGreek + L"\\"),
        Utf8(forward + L"/" + kGreek),
        Utf8(L"\\\\?\\" + base_ + L"\\" + kGreek),
        Utf8(base_ + L"\\.\\" + kGreek + L"\\..\\" + kGreek),
        Utf8(kGreek),
        Utf8(L".\\" + kGreek),
    };
    for (const std::string& root : roots) {
        SCOPED_TRACE(root);
        treeplat::Folder* folder = nullptr;
        ASSERT_EQ(0u, treeplat::OpenFolder(root, "", false, &folder));
        std::vector<treeplat::Entry> entries;
        EXPECT_EQ(0u, treeplat::ReadFolder(folder, &entries));
        treeplat::CloseFolder(folder);
        ASSERT_EQ(1u, entries.size());
        EXPECT_EQ("inside.txt", entries[0].name);
        EXPECT_EQ(0u, treeplat::CheckVolume(root));
    }
    SetCurrentDirectoryW(L"C:\\");
}

TEST_F(TreeLayer, RefusesWhatIsNoFolder)
{
    MakeFile(base_ + L"\\file.txt");
    MakeFolder(base_ + L"\\empty");
    const std::string base = Utf8(base_);
    struct Case {
        const char* label;
        std::string root;
        std::string relative;
        Dword error;
    };
    const std::vector<Case> table = {
        {"a file as the root", base + "\\file.txt", "", ERROR_DIRECTORY},
        {"a file below the root", base, "file.txt", ERROR_DIRECTORY},
        {"a missing folder", base + "\\missing", "", ERROR_FILE_NOT_FOUND},
        {"a missing folder below", base, "empty/missing", ERROR_FILE_NOT_FOUND},
        {"a folder under a missing one", base + "\\missing\\deeper", "", ERROR_PATH_NOT_FOUND},
        {"a root that is not WTF-8", base + "\\\xFF", "", ERROR_NO_UNICODE_TRANSLATION},
        {"a relative name that is not WTF-8", base, "\xC0\x80", ERROR_NO_UNICODE_TRANSLATION},
        {"a NUL inside the root", base + std::string("\0x", 2), "", ERROR_INVALID_NAME},
        {"an empty root", "", "", ERROR_INVALID_NAME},
    };
    for (const Case& row : table) {
        SCOPED_TRACE(row.label);
        treeplat::Folder* folder = nullptr;
        EXPECT_EQ(row.error, treeplat::OpenFolder(row.root, row.relative, false, &folder));
        EXPECT_EQ(nullptr, folder);
        if (row.relative.empty()) {
            EXPECT_EQ(row.error, treeplat::CheckVolume(row.root));
        }
    }

    // An empty folder has no entries, and reading it is no error.
    treeplat::Folder* folder = nullptr;
    ASSERT_EQ(0u, treeplat::OpenFolder(base, "empty", false, &folder));
    std::vector<treeplat::Entry> entries(1);
    EXPECT_EQ(0u, treeplat::ReadFolder(folder, &entries));
    EXPECT_TRUE(entries.empty());
    treeplat::CloseFolder(folder);
}

// The entry is opened with no sharing before its name is set: while
// another handle holds it, the change is refused with 32 and never reaches
// the set (a path that named another item would fail otherwise, or reach
// the set). A missing entry fails at the same open.
TEST_F(TreeLayer, OpensTheEntryExclusivelyBeforeTheChange)
{
    std::string relative;
    const std::wstring deep = MakeDeepFolders(&relative);
    // Names the usual path rules would change (a trailing dot or blank is
    // dropped) must reach the system as they are.
    MakeFile(deep + L"\\" + kJapanese);
    MakeFolder(deep + L"\\A folder held open");
    MakeFile(deep + L"\\ends with a dot.");
    MakeFile(deep + L"\\ends with a blank ");

    treeplat::Folder* folder = nullptr;
    ASSERT_EQ(0u, treeplat::OpenFolder(Utf8(base_), relative, true, &folder));
    std::vector<treeplat::Entry> entries;
    ASSERT_EQ(0u, treeplat::ReadFolder(folder, &entries));
    ASSERT_EQ(4u, entries.size());

    // Held for reading only, shared for reading and writing: the tool's
    // open, which shares nothing, must still fail.
    for (const treeplat::Entry& entry : entries) {
        SCOPED_TRACE(entry.name);
        std::wstring wideName;
        ASSERT_TRUE(wintext::Utf16FromWtf8(entry.name, &wideName));
        const HANDLE held = CreateFileW(Long(deep + L"\\" + wideName).c_str(), GENERIC_READ,
                                        FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                        nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
        ASSERT_NE(INVALID_HANDLE_VALUE, held);
        EXPECT_EQ(static_cast<Dword>(ERROR_SHARING_VIOLATION),
                  treeplat::SetShortName(folder, entry, "NEWNAME.TXT"));
        CloseHandle(held);
    }

    treeplat::Entry missing = entries[0];
    missing.name = "no such entry.txt";
    EXPECT_EQ(static_cast<Dword>(ERROR_FILE_NOT_FOUND),
              treeplat::SetShortName(folder, missing, "NEWNAME.TXT"));
    missing.name = "\xF0\x9F\x98";
    EXPECT_EQ(static_cast<Dword>(ERROR_NO_UNICODE_TRANSLATION),
              treeplat::SetShortName(folder, missing, "NEWNAME.TXT"));
    treeplat::CloseFolder(folder);
}

std::string AllBytes()
{
    std::string bytes;
    for (int i = 0; i < 256; ++i)
        bytes.push_back(static_cast<char>(i));
    // Line ends and Ctrl-Z, which a text-mode stream would change or stop at.
    return bytes + "\r\n\n\r\x1A" + "end";
}

TEST_F(TreeLayer, WritesAListingInOnePieceAndReadsItBack)
{
    std::string relative;
    const std::wstring deep = MakeDeepFolders(&relative);
    const std::vector<std::wstring> targets = {
        base_ + L"\\listing.txt",
        deep + L"\\" + kJapanese,
    };
    for (const std::wstring& target : targets) {
        SCOPED_TRACE(Utf8(target));
        const std::wstring folder = target.substr(0, target.rfind(L'\\'));
        const std::vector<std::wstring> before = NamesIn(folder);

        // A new file, then one that replaces a longer old one.
        std::string big(200000, 'x');
        for (std::size_t i = 0; i < big.size(); i += 997)
            big[i] = static_cast<char>(i);
        for (const std::string& content : {big, AllBytes()}) {
            ASSERT_EQ(0u, treeplat::WriteFileAtomically(Utf8(target), content));
            EXPECT_EQ(content, FileContent(target));
            std::string read;
            ASSERT_EQ(0u, treeplat::ReadWholeFile(Utf8(target), &read));
            EXPECT_EQ(content, read);
        }

        // Nothing else is left in the folder: no temporary file.
        std::vector<std::wstring> after = before;
        after.push_back(target.substr(target.rfind(L'\\') + 1));
        std::sort(after.begin(), after.end());
        EXPECT_EQ(after, NamesIn(folder));
    }
}

TEST_F(TreeLayer, LeavesNothingBehindWhenAWriteFails)
{
    MakeFolder(base_ + L"\\a folder");
    MakeFile(base_ + L"\\old.txt", "old content\n");
    struct Case {
        const char* label;
        std::wstring target;
    };
    const std::vector<Case> table = {
        {"the target is a folder", base_ + L"\\a folder"},
        {"the target's folder is missing", base_ + L"\\missing\\listing.txt"},
    };
    for (const Case& row : table) {
        SCOPED_TRACE(row.label);
        EXPECT_NE(0u, treeplat::WriteFileAtomically(Utf8(row.target), "new content\n"));
        EXPECT_EQ((std::vector<std::wstring>{L"a folder", L"old.txt"}), NamesIn(base_));
        EXPECT_TRUE(NamesIn(base_ + L"\\a folder").empty());
    }
    EXPECT_EQ("old content\n", FileContent(base_ + L"\\old.txt"));

    std::string content = "unchanged";
    EXPECT_EQ(static_cast<Dword>(ERROR_FILE_NOT_FOUND),
              treeplat::ReadWholeFile(Utf8(base_ + L"\\missing.txt"), &content));
    EXPECT_EQ("unchanged", content);
}

TEST(TreeLayerText, SystemTextsWithoutTheirLineEnd)
{
    for (Dword error : {2u, 3u, 5u, 32u, 50u, 87u, 183u, 1314u}) {
        SCOPED_TRACE(error);
        wchar_t* text = nullptr;
        const DWORD length = FormatMessageW(
            FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_IGNORE_INSERTS | FORMAT_MESSAGE_FROM_SYSTEM,
            nullptr, error, 0x400, reinterpret_cast<LPWSTR>(&text), 0, nullptr);
        ASSERT_NE(0u, length);
        std::wstring expected(text, length);
        LocalFree(text);
        while (!expected.empty() && wcschr(L"\r\n \t", expected.back()) != nullptr)
            expected.pop_back();
        // The point of the case: the system's text ends in a line end.
        EXPECT_NE(expected.size(), length);
        EXPECT_EQ(Utf8(expected), treeplat::SystemErrorText(error));
    }
    EXPECT_EQ("", treeplat::SystemErrorText(0x2000FFFFu));
}

TEST(TreeLayerText, BytesToANonConsoleStreamPassUnchanged)
{
    wchar_t temp[MAX_PATH + 1];
    ASSERT_NE(0u, GetTempPathW(MAX_PATH + 1, temp));
    const std::wstring path = std::wstring(temp) + L"velmora-tree-text-" +
                              std::to_wstring(GetCurrentProcessId()) + L".txt";
    std::FILE* stream = _wfopen(path.c_str(), L"wb");
    ASSERT_NE(nullptr, stream);
    EXPECT_FALSE(treeplat::IsTerminal(stream));
    const std::string text = "\xE6\x97\xA5 \xF0\x9F\x98\x80 \xED\xA0\x80 \xFF\n";
    treeplat::WriteText(stream, text);
    std::fclose(stream);
    EXPECT_EQ(text, FileContent(path));
    DeleteFileW(path.c_str());
}

TEST(TreeLayerText, MillisecondsNeverGoBack)
{
    std::uint64_t last = treeplat::MonotonicMilliseconds();
    const std::uint64_t first = last;
    for (int i = 0; i < 50; ++i) {
        Sleep(1);
        const std::uint64_t now = treeplat::MonotonicMilliseconds();
        ASSERT_GE(now, last);
        last = now;
    }
    EXPECT_GT(last, first);
}

}  // namespace
