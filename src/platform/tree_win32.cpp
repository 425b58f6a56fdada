// velmora-tree's Windows layer: the wide-character calls of kernel32 and
// advapi32 on \\?\ paths, so that every name the volume holds is reached
// whatever its length and whatever the ANSI code page. Names cross this
// layer as WTF-8 (tree_win32_text.cpp).
#include "platform/tree_platform.h"

#include <windows.h>

#include <fcntl.h>
#include <io.h>

#include <cstring>
#include <cwchar>
#include <new>

#include "platform/tree_win32_text.h"

namespace treeplat {

struct Folder {
    // The folder's full path with its \\?\ prefix; it ends with a
    // backslash when it is a volume's or a share's root, or was typed so.
    std::wstring path;
};

}  // namespace treeplat

namespace {

using treeplat::Dword;

// What CreateFileW asks of an entry whose short name is set, as velmora
// does: read, write and delete access, and no sharing, so that nothing else
// has it open while its name changes.
constexpr DWORD kChangeAccess = GENERIC_READ | GENERIC_WRITE | DELETE;
static_assert(kChangeAccess == 0xC0010000, "the access velmora asks for");
// A folder opens only with backup semantics; a link or junction opens as
// itself, never as its target.
constexpr DWORD kChangeFlags = FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT;
constexpr DWORD kTokenAccess = TOKEN_ADJUST_PRIVILEGES | TOKEN_QUERY;
static_assert(kTokenAccess == 0x28, "the token access velmora asks for");

// Network errors have their texts in netmsg.dll rather than the system's
// own message table.
constexpr DWORD kFirstNetworkError = 2100;
constexpr DWORD kLastNetworkError = 2999;

// Bytes per ReadFile and WriteFile call, and UTF-16 units per WriteConsoleW
// call (consoles before Windows 8 refuse a buffer much over 64 KiB).
constexpr DWORD kFileChunk = 64 * 1024;
constexpr std::size_t kConsoleChunk = std::size_t{8} * 1024;
// Names tried for the temporary file beside a listing before giving up.
constexpr unsigned kTemporaryTries = 100;

bool StartsWith(const std::wstring& text, const wchar_t* prefix)
{
    return text.compare(0, std::wcslen(prefix), prefix) == 0;
}

bool EndsWithBackslash(const std::wstring& path)
{
    return !path.empty() && path[path.size() - 1] == L'\\';
}

// A name or path from the other side, as the wide string the system takes.
Dword WideFromWtf8(const std::string& text, std::wstring* wide)
{
    if (!wintext::Utf16FromWtf8(text, wide))
        return ERROR_NO_UNICODE_TRANSLATION;
    // A zero unit would end the string early and name something else.
    if (wide->find(L'\0') != std::wstring::npos)
        return ERROR_INVALID_NAME;
    return 0;
}

// The full \\?\ path of `path` as a user typed it: made absolute against
// the current folder with the usual rules ('/' separates, "." and ".."
// are resolved), then prefixed so that the system takes every later name
// literally and without the 260-character limit. A path that already starts
// with \\?\ is taken as it is (a bare drive or share gains the backslash of
// its root).
Dword FullLongPath(const std::string& path, std::wstring* full)
{
    std::wstring wide;
    const Dword error = WideFromWtf8(path, &wide);
    if (error != 0)
        return error;
    if (wide.empty())
        return ERROR_INVALID_NAME;
    if (StartsWith(wide, L"\\\\?\\")) {
        *full = wintext::LongPathFromAbsolute(wide);
        return 0;
    }

    std::wstring absolute(MAX_PATH, L'\0');
    for (;;) {
        const DWORD length = ::GetFullPathNameW(wide.c_str(), static_cast<DWORD>(absolute.size()),
                                                &absolute[0], nullptr);
        if (length == 0)
            return ::GetLastError();
        if (length < absolute.size()) {
            absolute.resize(length);
            break;
        }
        // Too small: `length` is the size needed, terminator included.
        absolute.assign(length, L'\0');
    }

    *full = wintext::LongPathFromAbsolute(absolute);
    return 0;
}

std::wstring Joined(const std::wstring& folder, const std::wstring& name)
{
    return EndsWithBackslash(folder) ? folder + name : folder + L'\\' + name;
}

// 0 when the path names a folder, else why not.
Dword CheckIsFolder(const std::wstring& path)
{
    const DWORD attributes = ::GetFileAttributesW(path.c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES)
        return ::GetLastError();
    if ((attributes & FILE_ATTRIBUTE_DIRECTORY) == 0)
        return ERROR_DIRECTORY;
    return 0;
}

HANDLE OsHandle(std::FILE* stream)
{
    const int descriptor = _fileno(stream);
    if (descriptor < 0)
        return INVALID_HANDLE_VALUE;
    // The C runtime keeps the stream's system handle as an integer.
    return reinterpret_cast<HANDLE>(  // NOLINT(performance-no-int-to-ptr)
        _get_osfhandle(descriptor));
}

bool IsConsole(HANDLE handle)
{
    DWORD mode = 0;
    return handle != INVALID_HANDLE_VALUE && ::GetConsoleMode(handle, &mode) != 0;
}

// The error a C stream operation left, or `fallback` when the system
// recorded none.
Dword StreamError(Dword fallback)
{
    const DWORD error = ::GetLastError();
    return error != 0 ? error : fallback;
}

Dword ReadStandardInput(std::string* content)
{
    // Bytes as they come: no CR LF folding, no stop at Ctrl-Z.
    if (_setmode(_fileno(stdin), _O_BINARY) == -1)
        return ERROR_INVALID_HANDLE;
    std::string read;
    char buffer[4096];
    ::SetLastError(0);
    for (;;) {
        const std::size_t got = std::fread(buffer, 1, sizeof buffer, stdin);
        read.append(buffer, got);
        if (got < sizeof buffer)
            break;
    }
    if (std::ferror(stdin) != 0)
        return StreamError(ERROR_READ_FAULT);
    content->swap(read);
    return 0;
}

Dword WriteStandardOutput(const std::string& content)
{
    std::fflush(stdout);
    if (_setmode(_fileno(stdout), _O_BINARY) == -1)
        return ERROR_INVALID_HANDLE;
    ::SetLastError(0);
    if (std::fwrite(content.data(), 1, content.size(), stdout) != content.size() ||
        std::fflush(stdout) != 0)
        return StreamError(ERROR_WRITE_FAULT);
    return 0;
}

Dword WriteAll(HANDLE file, const std::string& content)
{
    std::size_t done = 0;
    while (done < content.size()) {
        const std::size_t left = content.size() - done;
        const DWORD chunk = left < kFileChunk ? static_cast<DWORD>(left) : kFileChunk;
        DWORD written = 0;
        if (::WriteFile(file, content.data() + done, chunk, &written, nullptr) == 0)
            return ::GetLastError();
        if (written == 0)
            return ERROR_WRITE_FAULT;
        done += written;
    }
    return 0;
}

std::wstring Decimal(unsigned number)
{
    std::wstring digits;
    do {
        digits.insert(digits.begin(), static_cast<wchar_t>(L'0' + number % 10));
        number /= 10;
    } while (number != 0);
    return digits;
}

// Creates a file that did not exist, named `target` plus ".tmp" and a
// number, in the target's folder, so that the rename stays on one volume.
Dword CreateTemporaryBeside(const std::wstring& target, std::wstring* name, HANDLE* file)
{
    const unsigned start = static_cast<unsigned>(::GetCurrentProcessId() % 100000u);
    for (unsigned i = 0; i < kTemporaryTries; ++i) {
        std::wstring candidate = target + L".tmp" + Decimal(start + i);
        HANDLE created = ::CreateFileW(candidate.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                                       FILE_ATTRIBUTE_NORMAL, nullptr);
        if (created != INVALID_HANDLE_VALUE) {
            name->swap(candidate);
            *file = created;
            return 0;
        }
        const DWORD error = ::GetLastError();
        if (error != ERROR_FILE_EXISTS && error != ERROR_ALREADY_EXISTS)
            return error;
    }
    return ERROR_FILE_EXISTS;
}

}  // namespace

namespace plat {

// velmora-tree's main prepares the process through velmora's layer, which
// is not linked into it (its narrow calls would only add imports).
void PrepareProcess()
{
    // A write to a closed pipe fails on Windows without ending the process.
}

}  // namespace plat

namespace treeplat {

Dword OpenFolder(const std::string& root, const std::string& relative, bool /*forChange*/,
                 Folder** folder)
{
    // No lock for a change: NTFS itself refuses a short name that another
    // entry of the folder already answers to, whoever asks.
    std::wstring path;
    Dword error = FullLongPath(root, &path);
    if (error != 0)
        return error;
    if (!relative.empty()) {
        std::wstring below;
        error = WideFromWtf8(relative, &below);
        if (error != 0)
            return error;
        // A backslash is no part of a Windows name: in a listing's name (one
        // from Linux, or edited) it would lead into another folder.
        if (below.find(L'\\') != std::wstring::npos)
            return ERROR_INVALID_NAME;
        // Each folder below the root is entered only if it is a folder of
        // its own, not a junction or link: one of those, put where a listed
        // folder was, must not lead the restore into another tree.
        std::size_t start = 0;
        for (;;) {
            const std::size_t slash = below.find(L'/', start);
            path = Joined(path, below.substr(start, slash == std::wstring::npos
                                                        ? std::wstring::npos
                                                        : slash - start));
            const DWORD attributes = ::GetFileAttributesW(path.c_str());
            if (attributes == INVALID_FILE_ATTRIBUTES) {
                const DWORD missing = ::GetLastError();
                return missing == ERROR_FILE_NOT_FOUND && slash != std::wstring::npos
                           ? ERROR_PATH_NOT_FOUND
                           : missing;
            }
            if ((attributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0)
                return ERROR_PATH_NOT_FOUND;
            if (slash == std::wstring::npos)
                break;
            start = slash + 1;
        }
    }
    error = CheckIsFolder(path);
    if (error != 0)
        return error;

    Folder* opened = new (std::nothrow) Folder;
    if (opened == nullptr)
        return ERROR_NOT_ENOUGH_MEMORY;
    opened->path.swap(path);
    *folder = opened;
    return 0;
}

Dword ReadFolder(Folder* folder, std::vector<Entry>* entries)
{
    entries->clear();
    const std::wstring pattern = Joined(folder->path, L"*");
    WIN32_FIND_DATAW found;
    std::memset(&found, 0, sizeof found);
    HANDLE search = ::FindFirstFileW(pattern.c_str(), &found);
    if (search == INVALID_HANDLE_VALUE) {
        const DWORD error = ::GetLastError();
        // A volume's root has no "." or "..": when it is empty, nothing
        // matches at all.
        return error == ERROR_FILE_NOT_FOUND ? 0 : error;
    }
    DWORD error = 0;
    do {
        const wchar_t* name = found.cFileName;
        if (std::wcscmp(name, L".") == 0 || std::wcscmp(name, L"..") == 0)
            continue;
        Entry entry;
        entry.name = wintext::Wtf8FromUtf16(name, std::wcslen(name));
        entry.shortName =
            wintext::Wtf8FromUtf16(found.cAlternateFileName, std::wcslen(found.cAlternateFileName));
        // A reparse point (junction, mount point, link) may lead anywhere,
        // another volume or back up the tree: never walked into.
        entry.descend = (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0 &&
                        (found.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) == 0;
        entry.id = 0;
        entries->push_back(entry);
    } while (::FindNextFileW(search, &found) != 0);
    error = ::GetLastError();
    ::FindClose(search);
    return error == ERROR_NO_MORE_FILES ? 0 : error;
}

Dword SetShortName(Folder* folder, const Entry& entry, const std::string& shortName)
{
    std::wstring name;
    Dword error = WideFromWtf8(entry.name, &name);
    if (error != 0)
        return error;
    std::wstring wideShort;
    error = WideFromWtf8(shortName, &wideShort);
    if (error != 0)
        return error;

    const std::wstring path = Joined(folder->path, name);
    HANDLE file = ::CreateFileW(path.c_str(), kChangeAccess, 0, nullptr, OPEN_EXISTING,
                                kChangeFlags, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return ::GetLastError();
    // The error number is read before CloseHandle can overwrite it.
    const Dword outcome = ::SetFileShortNameW(file, wideShort.c_str()) != 0 ? 0 : ::GetLastError();
    ::CloseHandle(file);
    return outcome;
}

void CloseFolder(Folder* folder)
{
    delete folder;
}

Dword CheckVolume(const std::string& root)
{
    std::wstring path;
    Dword error = FullLongPath(root, &path);
    if (error != 0)
        return error;
    // GetVolumePathNameW answers for a path that does not exist too.
    error = CheckIsFolder(path);
    if (error != 0)
        return error;

    // The mount point the folder lies under (a drive's root, a folder a
    // volume is mounted on, a share's root); never longer than the path.
    // Asked in the usual form where that fits, the one every version of
    // the call takes.
    const std::wstring plain = wintext::PlainPathFromLong(path);
    const std::wstring& asked = plain.size() < MAX_PATH ? plain : path;
    std::wstring volume(asked.size() + 2, L'\0');
    if (::GetVolumePathNameW(asked.c_str(), &volume[0], static_cast<DWORD>(volume.size())) == 0)
        return ::GetLastError();
    volume.resize(std::wcslen(volume.c_str()));
    if (!EndsWithBackslash(volume))
        volume.push_back(L'\\');

    wchar_t fileSystem[MAX_PATH + 1];
    std::memset(fileSystem, 0, sizeof fileSystem);
    if (::GetVolumeInformationW(volume.c_str(), nullptr, 0, nullptr, nullptr, nullptr, fileSystem,
                                MAX_PATH + 1) == 0)
        return ::GetLastError();
    // NTFS keeps short names, and so do FAT and FAT32, where every long
    // name has one; exFAT, UDF, ReFS and the rest keep none.
    if (std::wcscmp(fileSystem, L"NTFS") == 0 || std::wcscmp(fileSystem, L"FAT") == 0 ||
        std::wcscmp(fileSystem, L"FAT32") == 0)
        return 0;
    return ERROR_NOT_SUPPORTED;
}

Dword EnableRestorePrivilege(const char** failedCall)
{
    HANDLE token = nullptr;
    if (::OpenProcessToken(::GetCurrentProcess(), kTokenAccess, &token) == 0) {
        *failedCall = "OpenProcessToken";
        return ::GetLastError();
    }
    TOKEN_PRIVILEGES privileges;
    std::memset(&privileges, 0, sizeof privileges);
    privileges.PrivilegeCount = 1;
    privileges.Privileges[0].Attributes = SE_PRIVILEGE_ENABLED;
    if (::LookupPrivilegeValueW(nullptr, L"SeRestorePrivilege", &privileges.Privileges[0].Luid) ==
        0) {
        const DWORD error = ::GetLastError();
        ::CloseHandle(token);
        *failedCall = "LookupPrivilegeValue";
        return error;
    }
    // The privilege is enabled in the process's token itself, so it
    // outlives this handle. Success alone does not mean it was granted: a
    // token without it answers ERROR_NOT_ALL_ASSIGNED, and a restore then
    // stops before its first change instead of failing item by item.
    if (::AdjustTokenPrivileges(token, FALSE, &privileges, 0, nullptr, nullptr) == 0) {
        const DWORD error = ::GetLastError();
        ::CloseHandle(token);
        *failedCall = "AdjustTokenPrivileges";
        return error;
    }
    const DWORD assigned = ::GetLastError();
    ::CloseHandle(token);
    if (assigned == ERROR_NOT_ALL_ASSIGNED) {
        *failedCall = "AdjustTokenPrivileges";
        return ERROR_PRIVILEGE_NOT_HELD;
    }
    return 0;
}

std::string SystemErrorText(Dword error)
{
    HMODULE networkMessages = nullptr;
    if (error >= kFirstNetworkError && error <= kLastNetworkError)
        networkMessages = ::LoadLibraryExW(L"netmsg.dll", nullptr, LOAD_LIBRARY_AS_DATAFILE);
    DWORD flags = FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_IGNORE_INSERTS |
                  FORMAT_MESSAGE_FROM_SYSTEM;
    if (networkMessages != nullptr)
        flags |= FORMAT_MESSAGE_FROM_HMODULE;

    wchar_t* allocated = nullptr;
    // The user's default language, as velmora asks.
    DWORD length = ::FormatMessageW(flags, networkMessages, error, 0x400,
                                    reinterpret_cast<LPWSTR>(&allocated), 0, nullptr);
    std::string text;
    if (allocated != nullptr) {
        while (length > 0 && (allocated[length - 1] == L'\r' || allocated[length - 1] == L'\n' ||
                              allocated[length - 1] == L' ' || allocated[length - 1] == L'\t'))
            --length;
        text = wintext::Wtf8FromUtf16(allocated, length);
        ::LocalFree(allocated);
    }
    if (networkMessages != nullptr)
        ::FreeLibrary(networkMessages);
    return text;
}

Dword ReadWholeFile(const std::string& path, std::string* content)
{
    if (path == "-")
        return ReadStandardInput(content);
    std::wstring full;
    Dword error = FullLongPath(path, &full);
    if (error != 0)
        return error;
    HANDLE file = ::CreateFileW(full.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                                OPEN_EXISTING, FILE_FLAG_SEQUENTIAL_SCAN, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return ::GetLastError();
    std::string read;
    std::string buffer(kFileChunk, '\0');
    for (;;) {
        DWORD got = 0;
        if (::ReadFile(file, &buffer[0], kFileChunk, &got, nullptr) == 0) {
            error = ::GetLastError();
            break;
        }
        if (got == 0)
            break;
        read.append(buffer, 0, got);
    }
    ::CloseHandle(file);
    if (error != 0)
        return error;
    content->swap(read);
    return 0;
}

Dword WriteFileAtomically(const std::string& path, const std::string& content)
{
    if (path == "-")
        return WriteStandardOutput(content);
    std::wstring target;
    Dword error = FullLongPath(path, &target);
    if (error != 0)
        return error;

    std::wstring temporary;
    HANDLE file = INVALID_HANDLE_VALUE;
    error = CreateTemporaryBeside(target, &temporary, &file);
    if (error != 0)
        return error;
    error = WriteAll(file, content);
    // On the disk before it takes the target's place: a crash leaves the
    // old listing or the new one, never half of one.
    if (error == 0 && ::FlushFileBuffers(file) == 0)
        error = ::GetLastError();
    if (::CloseHandle(file) == 0 && error == 0)
        error = ::GetLastError();
    if (error == 0 &&
        ::MoveFileExW(temporary.c_str(), target.c_str(),
                      MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH) == 0)
        error = ::GetLastError();
    if (error != 0)
        ::DeleteFileW(temporary.c_str());
    return error;
}

void WriteText(std::FILE* stream, const std::string& text)
{
    HANDLE handle = OsHandle(stream);
    if (!IsConsole(handle)) {
        std::fwrite(text.data(), 1, text.size(), stream);
        return;
    }
    // What the stream holds goes first, so the order stays.
    std::fflush(stream);
    const std::wstring wide = wintext::Utf16ForDisplay(text.data(), text.size());
    std::size_t done = 0;
    while (done < wide.size()) {
        std::size_t chunk = wide.size() - done;
        if (chunk > kConsoleChunk) {
            chunk = kConsoleChunk;
            // Never split a surrogate pair between two calls.
            const wchar_t last = wide[done + chunk - 1];
            if (last >= 0xD800 && last <= 0xDBFF)
                --chunk;
        }
        DWORD written = 0;
        if (::WriteConsoleW(handle, wide.data() + done, static_cast<DWORD>(chunk), &written,
                            nullptr) == 0 ||
            written == 0)
            return;
        done += written;
    }
}

bool IsTerminal(std::FILE* stream)
{
    return IsConsole(OsHandle(stream));
}

std::uint64_t MonotonicMilliseconds()
{
    // GetTickCount wraps after 49.7 days, and XP has no GetTickCount64:
    // count the wraps. The program asks far more often than every 49 days.
    static DWORD last = 0;
    static std::uint64_t wraps = 0;
    const DWORD now = ::GetTickCount();
    if (now < last)
        wraps += std::uint64_t{1} << 32;
    last = now;
    return wraps + now;
}

std::vector<std::string> CommandLineArguments(int argc, char** argv)
{
    std::vector<std::string> arguments;
    const wchar_t* commandLine = ::GetCommandLineW();
    if (commandLine == nullptr) {
        for (int i = 0; i < argc; ++i)
            arguments.push_back(argv[i]);
        return arguments;
    }
    const std::vector<std::wstring> wide = wintext::SplitCommandLine(commandLine);
    for (const std::wstring& argument : wide)
        arguments.push_back(wintext::Wtf8FromUtf16(argument));
    return arguments;
}

}  // namespace treeplat
