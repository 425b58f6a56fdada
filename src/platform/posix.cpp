// The platform layer on Linux. An NTFS volume mounted with ntfs-3g shows
// the short (DOS) name of each directory entry as the extended attribute
// system.ntfs_dos_name; every operation here is the Windows call it stands
// for, done with that attribute and plain POSIX calls. Failures are turned
// into the Win32 number a Windows user would see (posix_rules.cpp), so the
// logic above reports them exactly as it does on Windows.
#include "platform/platform.h"

#include <dirent.h>
#include <fcntl.h>
#include <csignal>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <sys/types.h>
#include <sys/xattr.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "platform/posix_folder.h"
#include "platform/posix_rules.h"

using namespace posixfolder;
using namespace posixrules;

namespace {

// Each component of at least one byte grows to at most kDosNameBuffer - 1
// bytes plus its separator, so a short path never needs more than this.
constexpr std::size_t kShortPathMax = kPathMax * kDosNameBuffer;

// What the logic passes to CreateFileA, as Windows defines it.
constexpr plat::Dword kGenericWrite = 0x40000000;
constexpr plat::Dword kDelete = 0x00010000;
constexpr plat::Dword kOpenExisting = 3;
constexpr plat::Dword kFileFlagBackupSemantics = 0x02000000;

constexpr plat::Dword kVersionInfoSize = 148;
constexpr plat::Dword kPlatformWin32Nt = 2;
// SE_RESTORE_PRIVILEGE's fixed identifier on every Windows system.
constexpr plat::Dword kRestorePrivilegeLuid = 18;

plat::Dword lastError = kSuccess;

// How an item was opened. An ordinary file or folder is opened for reading,
// which pins it and lets it be locked. A symbolic link, or a device, FIFO or
// socket, is only referred to (O_PATH): opening those for reading would
// follow the link or act on the device, and the item itself is what the
// user named.
enum class OpenKind { none, opened, referred };

struct OpenItem {
    OpenKind kind;
    int fd;
    dev_t device;
    ino_t inode;
    bool isFolder;
    char path[kPathMax];
};

// The tool opens one item at a time; a few slots keep a second open safe.
constexpr int kOpenItemSlots = 4;
OpenItem openItems[kOpenItemSlots];

// Linux has no process token; this only gives OpenProcessToken a handle
// that no file handle can equal.
char tokenTag;

// A handle is the descriptor's number (as on Windows, an opaque value);
// -1 gives InvalidHandle().
plat::Handle HandleFromFd(int fd)
{
    return reinterpret_cast<plat::Handle>(  // NOLINT(performance-no-int-to-ptr)
        static_cast<std::intptr_t>(fd));
}

OpenItem* FindOpenItem(plat::Handle handle)
{
    for (OpenItem& item : openItems) {
        if (item.kind != OpenKind::none && HandleFromFd(item.fd) == handle)
            return &item;
    }
    return nullptr;
}

void SetLastErrorFromErrno(int error)
{
    lastError = Win32FromErrno(error);
}

// The short path is built here first, so that the caller's buffer is
// written only when all of it fits.
char shortPathScratch[kShortPathMax];

struct ShortPathBuilder {
    std::size_t length;   // bytes the short path needs, without terminator
};

void AppendToShortPath(ShortPathBuilder* builder, const char* text, std::size_t count)
{
    if (builder->length + count < sizeof shortPathScratch)
        std::memcpy(shortPathScratch + builder->length, text, count);
    builder->length += count;
}

// The folder path of an item that is not a folder: the path up to its last
// slash; `name` gets the entry's name, what follows that slash. A folder's
// own folder is found through its descriptor instead (OpenParentOf).
bool FolderOfPath(const char* path, char* folder, std::size_t folderSize, const char** name)
{
    const char* lastSlash = std::strrchr(path, '/');
    if (lastSlash == nullptr) {
        folder[0] = '.';
        folder[1] = '\0';
        *name = path;
        return true;
    }
    *name = lastSlash + 1;
    std::size_t folderLength = static_cast<std::size_t>(lastSlash - path);
    if (folderLength == 0)
        folderLength = 1;   // the item sits in "/"
    if (folderLength + 1 > folderSize)
        return false;
    std::memcpy(folder, path, folderLength);
    folder[folderLength] = '\0';
    return true;
}

// Opens the folder that holds the item, as its path names it.
plat::Dword OpenFolderOfItem(const OpenItem& item, Folder* folder, const char** name)
{
    if (item.isFolder) {
        *name = nullptr;
        char parentPath[kPathMax + 4];
        std::snprintf(parentPath, sizeof parentPath, "%s/..", item.path);
        return OpenParentOf(item.fd, parentPath, folder);
    }
    char folderPath[kPathMax];
    if (!FolderOfPath(item.path, folderPath, sizeof folderPath, name))
        return kFilenameExcedRange;
    return OpenFolder(folderPath, folder);
}

// True when the item `path` names is one of the NTFS volume's metadata
// files (the reserved records, shown in the root, and all below $Extend).
bool IsVolumeMetadata(const char* path, const struct stat& status)
{
    int parent = -1;
    if (S_ISDIR(status.st_mode)) {
        const int folder = open(path, O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
        if (folder >= 0) {
            parent = openat(folder, "..", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
            close(folder);
        }
    } else {
        char folderPath[kPathMax];
        const char* name = nullptr;
        if (FolderOfPath(path, folderPath, sizeof folderPath, &name))
            parent = open(folderPath, O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    }
    const bool metadata = IsNtfsMetadataItem(status, parent);
    if (parent >= 0)
        close(parent);
    return metadata;
}

// What the scan of the item's folder looks for: the item's own entry, and
// any other entry that answers to the new name.
struct NameCheck {
    const OpenItem* item;
    const char* itemName;    // the entry's name when the path gives it
    const char* shortName;
    bool foundItem;
    bool taken;
    char entryName[NAME_MAX + 1];
};

bool CheckEntry(void* context, const Entry& entry)
{
    NameCheck* check = static_cast<NameCheck*>(context);
    if (entry.status.st_ino == check->item->inode) {
        // The item's own long and short names may be the one asked for.
        if (!check->foundItem &&
            (check->itemName == nullptr || std::strcmp(entry.name, check->itemName) == 0)) {
            check->foundItem = true;
            std::snprintf(check->entryName, sizeof check->entryName, "%s", entry.name);
        }
        return true;
    }
    // NTFS looks names up with ASCII letter case ignored, so a clash in any
    // case would let a program reach the wrong item.
    if (EqualIgnoringAsciiCase(entry.name, check->shortName) ||
        (entry.dosLength > 0 && EqualIgnoringAsciiCase(entry.dosName, check->shortName))) {
        check->taken = true;
        return false;
    }
    return true;
}

// Every check of a new name against the folder that holds the item, with
// the folder locked; on success the folder stays open and locked until the
// name is set. Returns 0 or the Win32 number to fail with.
plat::Dword CheckNewName(const OpenItem& item, const char* shortName, Folder* folder,
                         NameCheck* check)
{
    folder->fd = -1;
    const char* itemName = nullptr;
    plat::Dword outcome = OpenFolderOfItem(item, folder, &itemName);
    if (outcome != kSuccess)
        return outcome;
    // The volume root is no entry of any folder, so it has no name to set.
    if (folder->device != item.device || folder->inode == item.inode)
        return kInvalidParameter;
    if (folder->inode == kNtfsRootRecord && IsRootMetadataName(shortName))
        return kAlreadyExists;
    outcome = LockFolder(*folder);
    if (outcome != kSuccess)
        return outcome;

    check->item = &item;
    check->itemName = itemName;
    check->shortName = shortName;
    check->foundItem = false;
    check->taken = false;
    outcome = ScanFolder(*folder, CheckEntry, check);
    if (outcome != kSuccess)
        return outcome;
    if (check->taken)
        return kAlreadyExists;
    // The item is not (or no longer) an entry of the folder checked: it was
    // moved away, or its path leads into it through a mount.
    if (!check->foundItem)
        return kFileNotFound;
    return kSuccess;
}

}  // namespace

namespace plat {

Handle InvalidHandle()
{
    return HandleFromFd(-1);
}

// There is no Windows build number on Linux. The logic's gate exists to
// refuse Windows releases older than XP, which lack the short-name call; on
// Linux the layer provides that call, so it reports the first XP build.
Bool GetVersionExA(OsVersionInfo* versionInfo)
{
    if (versionInfo == nullptr) {
        lastError = kInvalidParameter;
        return 0;
    }
    if (versionInfo->osVersionInfoSize != kVersionInfoSize) {
        lastError = kInsufficientBuffer;
        return 0;
    }
    versionInfo->majorVersion = 5;
    versionInfo->minorVersion = 1;
    versionInfo->buildNumber = 2600;
    versionInfo->platformId = kPlatformWin32Nt;
    std::memset(versionInfo->csdVersion, 0, sizeof versionInfo->csdVersion);
    return 1;
}

// Walks the path one component at a time, keeping every separator as typed
// (a relative path stays relative), and puts each entry's DOS name in place
// of its long name where it has one. "." and ".." stay as they are.
Dword GetShortPathNameA(const char* longPath, char* shortPath, Dword bufferLength)
{
    if (longPath == nullptr || (shortPath == nullptr && bufferLength != 0)) {
        lastError = kInvalidParameter;
        return 0;
    }
    const std::size_t length = std::strlen(longPath);
    if (length == 0) {
        lastError = kFileNotFound;
        return 0;
    }
    if (length >= kPathMax) {
        lastError = kFilenameExcedRange;
        return 0;
    }

    // The path up to the component being looked at.
    char prefix[kPathMax];
    std::memcpy(prefix, longPath, length + 1);

    ShortPathBuilder builder = {0};
    std::size_t i = 0;
    while (i < length) {
        if (longPath[i] == '/') {
            AppendToShortPath(&builder, "/", 1);
            ++i;
            continue;
        }
        const std::size_t start = i;
        while (i < length && longPath[i] != '/')
            ++i;
        std::size_t next = i;
        while (next < length && longPath[next] == '/')
            ++next;
        const bool isLast = next == length;

        // The last component is checked with its trailing slashes, which
        // demand a folder: "file.txt/" is not found.
        const std::size_t checkedEnd = isLast ? length : i;
        prefix[checkedEnd] = '\0';
        const char* component = longPath + start;
        const std::size_t componentLength = i - start;
        char dosName[kDosNameBuffer];
        std::size_t dosLength = 0;
        int error = 0;
        if (IsDotOrDotDot(component, componentLength)) {
            struct stat status;
            if (lstat(prefix, &status) != 0)
                error = errno;
        } else {
            dosLength = ReadDosName(prefix, dosName, &error);
            if (ExistsWithoutDosName(error))
                error = 0;
        }
        prefix[checkedEnd] = longPath[checkedEnd];

        if (error == ENOENT) {
            lastError = isLast ? kFileNotFound : kPathNotFound;
            return 0;
        }
        if (error == ENOTDIR) {
            lastError = kPathNotFound;
            return 0;
        }
        if (error != 0) {
            SetLastErrorFromErrno(error);
            return 0;
        }
        if (dosLength > 0)
            AppendToShortPath(&builder, dosName, dosLength);
        else
            AppendToShortPath(&builder, component, componentLength);
    }

    if (builder.length + 1 > sizeof shortPathScratch) {
        lastError = kFilenameExcedRange;
        return 0;
    }
    // Too small: the size needed, terminator included, and nothing written.
    if (shortPath == nullptr || builder.length + 1 > bufferLength)
        return static_cast<Dword>(builder.length + 1);
    std::memcpy(shortPath, shortPathScratch, builder.length);
    shortPath[builder.length] = '\0';
    return static_cast<Dword>(builder.length);
}

// Linux has no process token and no privileges to enable: these calls
// succeed, and a caller without the right to change a name is refused by
// the file system when the name is set (1314 or 5).
Handle GetCurrentProcess()
{
    return HandleFromFd(-1);
}

Bool OpenProcessToken(Handle, Dword, Handle* token)
{
    if (token == nullptr) {
        lastError = kInvalidParameter;
        return 0;
    }
    *token = &tokenTag;
    return 1;
}

Bool LookupPrivilegeValueA(const char*, const char* name, Luid* luid)
{
    if (name == nullptr || luid == nullptr) {
        lastError = kInvalidParameter;
        return 0;
    }
    if (!EqualIgnoringAsciiCase(name, "SeRestorePrivilege")) {
        lastError = kNoSuchPrivilege;
        return 0;
    }
    luid->lowPart = kRestorePrivilegeLuid;
    luid->highPart = 0;
    return 1;
}

Bool AdjustTokenPrivileges(Handle token, Bool, const TokenPrivileges* newState, Dword,
                           TokenPrivileges*, Dword* returnLength)
{
    if (token != &tokenTag) {
        lastError = kInvalidHandle;
        return 0;
    }
    if (newState == nullptr) {
        lastError = kInvalidParameter;
        return 0;
    }
    if (returnLength != nullptr)
        *returnLength = 0;
    return 1;
}

// Opens the entry the path names, never a link's target: the short name
// shown is the entry's own, and the change must reach the same entry, not
// an item the user did not name (which may sit in another folder). A share
// mode of 0 takes an exclusive flock, so a second run on the same item at
// the same time is refused with a sharing violation, as on Windows; the lock
// is advisory, which is all Linux offers for this.
Handle CreateFileA(const char* fileName, Dword desiredAccess, Dword shareMode, void*,
                   Dword creationDisposition, Dword flagsAndAttributes, Handle)
{
    if (fileName == nullptr || creationDisposition != kOpenExisting) {
        // The tool only ever opens an existing item.
        lastError = kInvalidParameter;
        return InvalidHandle();
    }
    const std::size_t length = std::strlen(fileName);
    if (length == 0) {
        lastError = kFileNotFound;
        return InvalidHandle();
    }
    if (length >= kPathMax) {
        lastError = kFilenameExcedRange;
        return InvalidHandle();
    }
    OpenItem* slot = nullptr;
    for (OpenItem& item : openItems) {
        if (item.kind == OpenKind::none) {
            slot = &item;
            break;
        }
    }
    if (slot == nullptr) {
        lastError = kTooManyOpenFiles;
        return InvalidHandle();
    }

    struct stat status;
    if (lstat(fileName, &status) != 0) {
        SetLastErrorFromErrno(errno);
        return InvalidHandle();
    }
    // Windows lets no program open the volume's own files for a change
    // (ntfs-3g opens some of them, and would let their names change).
    if ((desiredAccess & (kGenericWrite | kDelete)) != 0 && IsVolumeMetadata(fileName, status)) {
        lastError = kAccessDenied;
        return InvalidHandle();
    }
    const bool readable = S_ISREG(status.st_mode) || S_ISDIR(status.st_mode);
    // O_NONBLOCK: should the entry have become a FIFO since lstat, the open
    // must not wait for a writer. O_NOFOLLOW: nor follow a new link.
    const int flags = readable ? (O_RDONLY | O_NONBLOCK | O_NOCTTY | O_NOFOLLOW | O_CLOEXEC)
                               : (O_PATH | O_NOFOLLOW | O_CLOEXEC);
    int fd = open(fileName, flags);
    if (fd < 0) {
        SetLastErrorFromErrno(errno);
        return InvalidHandle();
    }
    // A handle must not be 0 (a null pointer) nor share a number with the
    // standard streams, should they have been closed.
    if (fd <= STDERR_FILENO) {
        const int moved = fcntl(fd, F_DUPFD_CLOEXEC, STDERR_FILENO + 1);
        const int error = errno;
        close(fd);
        if (moved < 0) {
            SetLastErrorFromErrno(error);
            return InvalidHandle();
        }
        fd = moved;
    }
    // What was opened is what counts, should the entry have changed.
    if (fstat(fd, &status) != 0) {
        SetLastErrorFromErrno(errno);
        close(fd);
        return InvalidHandle();
    }
    // Windows opens a folder only with backup semantics.
    if (S_ISDIR(status.st_mode) && (flagsAndAttributes & kFileFlagBackupSemantics) == 0) {
        close(fd);
        lastError = kAccessDenied;
        return InvalidHandle();
    }
    // Windows refuses write access on a write-protected volume at the open.
    if ((desiredAccess & (kGenericWrite | kDelete)) != 0) {
        struct statvfs volume;
        if (fstatvfs(fd, &volume) != 0) {
            SetLastErrorFromErrno(errno);
            close(fd);
            return InvalidHandle();
        }
        if ((volume.f_flag & ST_RDONLY) != 0) {
            close(fd);
            lastError = kWriteProtect;
            return InvalidHandle();
        }
    }
    if (readable) {
        const int lockMode = (shareMode == 0 ? LOCK_EX : LOCK_SH) | LOCK_NB;
        if (flock(fd, lockMode) != 0) {
            const int error = errno;
            // Only a lock held elsewhere refuses the open; a file system
            // without locks cannot enforce sharing and is used as it is.
            if (error == EWOULDBLOCK) {
                close(fd);
                lastError = kSharingViolation;
                return InvalidHandle();
            }
        }
    }

    slot->kind = readable ? OpenKind::opened : OpenKind::referred;
    slot->fd = fd;
    slot->device = status.st_dev;
    slot->inode = status.st_ino;
    slot->isFolder = S_ISDIR(status.st_mode);
    std::memcpy(slot->path, fileName, length + 1);
    return HandleFromFd(fd);
}

// Applies the rules NTFS on Windows applies to a short name, which ntfs-3g
// leaves out, before anything is written: a valid 8.3 name (87), not used by
// any other entry of the folder as its long or short name (183).
Bool SetFileShortNameA(Handle file, const char* shortName)
{
    OpenItem* item = FindOpenItem(file);
    if (item == nullptr) {
        lastError = kInvalidHandle;
        return 0;
    }
    if (shortName == nullptr) {
        lastError = kInvalidParameter;
        return 0;
    }

    // A file system that keeps no short names refuses every name alike.
    char current[kDosNameBuffer];
    const ssize_t probe = item->kind == OpenKind::opened
                              ? fgetxattr(item->fd, kDosNameAttribute, current, sizeof current)
                              : lgetxattr(item->path, kDosNameAttribute, current, sizeof current);
    if (probe < 0) {
        const int error = errno;
        if (IsNotSupported(error)) {
            lastError = kNotSupported;
            return 0;
        }
        if (!ExistsWithoutDosName(error)) {
            SetLastErrorFromErrno(error);
            return 0;
        }
    }

    if (!IsValidShortName(shortName)) {
        lastError = kInvalidParameter;
        return 0;
    }

    // The folder stays locked from the check to the change, so that another
    // run's check cannot come in between.
    Folder folder;
    NameCheck check;
    const Dword refusal = CheckNewName(*item, shortName, &folder, &check);
    if (refusal != kSuccess) {
        CloseFolder(&folder);
        lastError = refusal;
        return 0;
    }
    // Right before the change: the folder still holds the item under the
    // name checked. An item moved away meanwhile would take the name into
    // a folder that was never checked.
    struct stat entryStatus;
    if (fstatat(folder.fd, check.entryName, &entryStatus, AT_SYMLINK_NOFOLLOW) != 0 ||
        entryStatus.st_dev != item->device || entryStatus.st_ino != item->inode) {
        CloseFolder(&folder);
        lastError = kFileNotFound;
        return 0;
    }

    // DOS names are upper case. ntfs-3g shows every DOS name in upper case
    // but stores it as given, and looks names up by their exact case; a name
    // stored in lower case would not be found by its upper-case form.
    char upperName[kDosNameBuffer];
    const std::size_t nameLength = std::strlen(shortName);   // at most 12: it is valid
    for (std::size_t i = 0; i <= nameLength; ++i) {
        const char c = shortName[i];
        upperName[i] = (c >= 'a' && c <= 'z') ? static_cast<char>(c - 'a' + 'A') : c;
    }
    const int error = SetDosName(item->fd, item->kind == OpenKind::referred, item->path,
                                 upperName, nameLength);
    CloseFolder(&folder);
    if (error != 0) {
        SetLastErrorFromErrno(error);
        return 0;
    }
    return 1;
}

Bool CloseHandle(Handle object)
{
    if (object == &tokenTag || object == GetCurrentProcess())
        return 1;
    OpenItem* item = FindOpenItem(object);
    if (item == nullptr) {
        lastError = kInvalidHandle;
        return 0;
    }
    // The descriptor is gone whatever close() answers; so is the lock.
    const int result = close(item->fd);
    const int error = errno;
    item->kind = OpenKind::none;
    item->fd = -1;
    if (result != 0) {
        SetLastErrorFromErrno(error);
        return 0;
    }
    return 1;
}

Dword GetLastError()
{
    return lastError;
}

// There is no netmsg.dll on Linux; network error numbers are looked up in
// the one table like every other number.
Module LoadLibraryExA(const char*, Handle, Dword)
{
    lastError = kModNotFound;
    return nullptr;
}

// Only the system's texts exist here, so the source module is ignored.
Dword FormatMessageA(Dword, Module, Dword messageId, Dword, char** allocatedText, Dword, void*)
{
    if (allocatedText == nullptr) {
        lastError = kInvalidParameter;
        return 0;
    }
    *allocatedText = nullptr;
    const char* text = MessageText(messageId);
    if (text == nullptr) {
        lastError = kMessageNotFound;
        return 0;
    }
    const std::size_t length = std::strlen(text);
    char* copy = static_cast<char*>(std::malloc(length + 1));
    if (copy == nullptr) {
        lastError = kNotEnoughMemory;
        return 0;
    }
    std::memcpy(copy, text, length + 1);
    *allocatedText = copy;
    return static_cast<Dword>(length);
}

void* LocalFree(void* memory)
{
    std::free(memory);
    return nullptr;
}

Bool FreeLibrary(Module)
{
    return 1;
}

void PrepareProcess()
{
    // Ignored rather than handled: a failed write is harmless to the tool,
    // whose outcome is its exit code.
    std::signal(SIGPIPE, SIG_IGN);
}

bool IsDBCSLeadByte(unsigned char)
{
    return false;
}

char PathSeparator()
{
    return '/';
}

}  // namespace plat
