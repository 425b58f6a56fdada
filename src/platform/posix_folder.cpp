#include "platform/posix_folder.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/xattr.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <ctime>

#include "platform/posix_rules.h"

using namespace posixrules;

namespace posixfolder {

namespace {

// How long a run waits for another one to finish with the folder, and how
// often it looks again.
constexpr int kLockWaitMilliseconds = 30000;
constexpr int kLockPollMilliseconds = 5;

// ntfs-3g hides these from readdir, yet on Windows their names are taken
// like any other entry's.
const char* const kNtfsRootMetadataFiles[] = {
    "$MFT", "$MFTMirr", "$LogFile", "$Volume", "$AttrDef", "$Bitmap",
    "$Boot", "$BadClus", "$Secure", "$UpCase", "$Extend",
};

// How far up a folder chain IsNtfsMetadataItem looks for $Extend: deeper
// than any path the kernel takes.
constexpr int kMaxDepth = static_cast<int>(kPathMax / 2);

bool ProcShowsDescriptors()
{
    static int known = -1;
    if (known < 0)
        known = access("/proc/self/fd", X_OK) == 0 ? 1 : 0;
    return known == 1;
}

bool SetPrefix(Folder* folder, const char* path)
{
    int written;
    if (ProcShowsDescriptors())
        written = std::snprintf(folder->entryPrefix, sizeof folder->entryPrefix,
                                "/proc/self/fd/%d/", folder->fd);
    else
        written = std::snprintf(folder->entryPrefix, sizeof folder->entryPrefix, "%s/", path);
    if (written < 0 || static_cast<std::size_t>(written) >= sizeof folder->entryPrefix)
        return false;
    folder->prefixLength = static_cast<std::size_t>(written);
    return true;
}

plat::Dword FinishOpen(int fd, const char* path, Folder* folder)
{
    if (fd < 0)
        return Win32FromErrno(errno);
    struct stat status;
    if (fstat(fd, &status) != 0) {
        const int error = errno;
        close(fd);
        return Win32FromErrno(error);
    }
    folder->fd = fd;
    folder->device = status.st_dev;
    folder->inode = status.st_ino;
    if (!SetPrefix(folder, path)) {
        close(fd);
        folder->fd = -1;
        return kFilenameExcedRange;
    }
    return kSuccess;
}

void SleepMilliseconds(int milliseconds)
{
    timespec pause = {0, static_cast<long>(milliseconds) * 1000000L};
    while (nanosleep(&pause, &pause) != 0 && errno == EINTR) {
    }
}

}  // namespace

std::size_t ReadDosName(const char* path, char* name, int* error)
{
    const ssize_t length = lgetxattr(path, kDosNameAttribute, name, kDosNameBuffer - 1);
    if (length < 0) {
        *error = errno;
        return 0;
    }
    *error = 0;
    std::size_t size = static_cast<std::size_t>(length);
    // Tolerate a stored terminator; refuse a value that could not be a name.
    while (size > 0 && name[size - 1] == '\0')
        --size;
    name[size] = '\0';
    if (std::strlen(name) != size || std::strchr(name, '/') != nullptr)
        return 0;
    return size;
}

bool IsNotSupported(int error)
{
#if EOPNOTSUPP != ENOTSUP
    if (error == EOPNOTSUPP)
        return true;
#endif
    return error == ENOTSUP;
}

// It has no DOS name (ENODATA), the file system keeps none (ENOTSUP), it is
// the volume root, for which ntfs-3g answers EPERM, or the value is not a
// short name (ERANGE).
bool ExistsWithoutDosName(int error)
{
    return error == ENODATA || IsNotSupported(error) || error == EPERM || error == ERANGE;
}

bool IsDotOrDotDot(const char* name, std::size_t length)
{
    return (length == 1 && name[0] == '.') || (length == 2 && name[0] == '.' && name[1] == '.');
}

bool IsRootMetadataName(const char* name)
{
    for (const char* metadata : kNtfsRootMetadataFiles) {
        if (EqualIgnoringAsciiCase(metadata, name))
            return true;
    }
    return false;
}

plat::Dword OpenFolder(const char* path, Folder* folder)
{
    folder->fd = -1;
    return FinishOpen(open(path, O_RDONLY | O_DIRECTORY | O_CLOEXEC), path, folder);
}

plat::Dword OpenParentOf(int fd, const char* pathForPrefix, Folder* folder)
{
    folder->fd = -1;
    return FinishOpen(openat(fd, "..", O_RDONLY | O_DIRECTORY | O_CLOEXEC), pathForPrefix,
                      folder);
}

plat::Dword AdoptFolder(int fd, const char* path, Folder* folder)
{
    folder->fd = -1;
    return FinishOpen(fd, path, folder);
}

void CloseFolder(Folder* folder)
{
    if (folder->fd >= 0)
        close(folder->fd);
    folder->fd = -1;
}

plat::Dword LockFolder(const Folder& folder)
{
    for (int waited = 0;; waited += kLockPollMilliseconds) {
        if (flock(folder.fd, LOCK_EX | LOCK_NB) == 0)
            return kSuccess;
        const int error = errno;
        if (error == EINTR)
            continue;
        // A file system without locks cannot hold one; the checks still run.
        if (error != EWOULDBLOCK)
            return kSuccess;
        if (waited >= kLockWaitMilliseconds)
            return kSharingViolation;
        SleepMilliseconds(kLockPollMilliseconds);
    }
}

bool EntryPath(const Folder& folder, const char* name, char* path, std::size_t size)
{
    const std::size_t nameLength = std::strlen(name);
    if (folder.prefixLength + nameLength + 1 > size)
        return false;
    std::memcpy(path, folder.entryPrefix, folder.prefixLength);
    std::memcpy(path + folder.prefixLength, name, nameLength + 1);
    return true;
}

plat::Dword ScanFolder(const Folder& folder, EntryVisitor visit, void* context)
{
    // A descriptor of its own: readdir keeps a position in it, and closedir
    // closes it, while the caller's stays open (and locked).
    const int listFd = openat(folder.fd, ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (listFd < 0)
        return Win32FromErrno(errno);
    DIR* entries = fdopendir(listFd);
    if (entries == nullptr) {
        const int error = errno;
        close(listFd);
        return Win32FromErrno(error);
    }

    char path[kPathMax];
    plat::Dword outcome = kSuccess;
    for (;;) {
        errno = 0;
        const dirent* found = readdir(entries);
        if (found == nullptr) {
            if (errno != 0)
                outcome = Win32FromErrno(errno);
            break;
        }
        Entry entry;
        entry.name = found->d_name;
        if (IsDotOrDotDot(entry.name, std::strlen(entry.name)))
            continue;
        if (fstatat(folder.fd, entry.name, &entry.status, AT_SYMLINK_NOFOLLOW) != 0) {
            // An entry removed while the folder is read has no name to clash.
            if (errno == ENOENT)
                continue;
            outcome = Win32FromErrno(errno);
            break;
        }
        // The folder lists the entry's own inode; a lookup that reaches
        // another one (or another volume) found a mount over the entry.
        if (entry.status.st_dev != folder.device || entry.status.st_ino != found->d_ino) {
            outcome = kCantAccessFile;
            break;
        }
        if (!EntryPath(folder, entry.name, path, sizeof path)) {
            outcome = kFilenameExcedRange;
            break;
        }
        int error = 0;
        entry.dosLength = ReadDosName(path, entry.dosName, &error);
        if (error == ENOENT)
            continue;
        if (error != 0 && !ExistsWithoutDosName(error)) {
            outcome = Win32FromErrno(error);
            break;
        }
        if (!visit(context, entry))
            break;
    }
    closedir(entries);
    return outcome;
}

bool KeepsDosNames(int fd)
{
    char probe[kDosNameBuffer];
    return fgetxattr(fd, kDosNameAttribute, probe, sizeof probe) >= 0 || !IsNotSupported(errno);
}

bool IsNtfsMetadataItem(const struct stat& status, int parent)
{
    // Inode numbers are MFT records only on a volume that keeps DOS names.
    struct stat parentStatus;
    if (parent < 0 || fstat(parent, &parentStatus) != 0 || parentStatus.st_dev != status.st_dev ||
        !KeepsDosNames(parent))
        return false;
    if (status.st_ino < kNtfsFirstUserRecord && status.st_ino != kNtfsRootRecord)
        return true;
    // Up the chain of folders, on this volume, to the root or to $Extend.
    int current = openat(parent, ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    bool below = false;
    for (int depth = 0; current >= 0 && depth < kMaxDepth; ++depth) {
        struct stat folderStatus;
        if (fstat(current, &folderStatus) != 0 || folderStatus.st_dev != status.st_dev)
            break;
        if (folderStatus.st_ino == kNtfsExtendRecord) {
            below = true;
            break;
        }
        if (folderStatus.st_ino == kNtfsRootRecord)
            break;
        const int up = openat(current, "..", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
        close(current);
        current = up;
    }
    if (current >= 0)
        close(current);
    return below;
}

int SetDosName(int fd, bool isReference, const char* path, const char* name,
               std::size_t length)
{
    int result;
    if (isReference && !ProcShowsDescriptors()) {
        result = lsetxattr(path, kDosNameAttribute, name, length, 0);
    } else if (isReference) {
        // A reference cannot carry attributes itself; its /proc link leads
        // to the very entry it refers to (a link is not followed further).
        char link[64];
        std::snprintf(link, sizeof link, "/proc/self/fd/%d", fd);
        result = setxattr(link, kDosNameAttribute, name, length, 0);
    } else {
        result = fsetxattr(fd, kDosNameAttribute, name, length, 0);
    }
    return result == 0 ? 0 : errno;
}

}  // namespace posixfolder
