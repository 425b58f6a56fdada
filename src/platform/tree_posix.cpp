// velmora-tree's layer on Linux, over ntfs-3g: the same folder reading and
// the same safety rules as velmora's own layer (posix_folder.h).
#include "platform/tree_platform.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/xattr.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <ctime>

#include "platform/posix_folder.h"
#include "platform/posix_rules.h"

using namespace posixfolder;
using namespace posixrules;

namespace treeplat {

struct Folder {
    posixfolder::Folder view;
};

namespace {

// Opens each name below the root without following a link: a listed folder
// that has become a link since must not lead the restore elsewhere.
Dword OpenBelow(int rootFd, const std::string& relative, int* fd)
{
    int current = dup(rootFd);
    if (current < 0)
        return Win32FromErrno(errno);
    std::size_t start = 0;
    while (start < relative.size()) {
        std::size_t end = relative.find('/', start);
        if (end == std::string::npos)
            end = relative.size();
        const std::string name = relative.substr(start, end - start);
        const int next = openat(current, name.c_str(),
                                O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
        const int error = errno;
        close(current);
        if (next < 0) {
            // A link where a folder was: not the folder listed.
            if (error == ELOOP)
                return kPathNotFound;
            if (error == ENOENT)
                return end == relative.size() ? kFileNotFound : kPathNotFound;
            return Win32FromErrno(error);
        }
        current = next;
        start = end + 1;
    }
    *fd = current;
    return kSuccess;
}

struct Collector {
    std::vector<Entry>* entries;
    dev_t device;
};

bool CollectEntry(void* context, const posixfolder::Entry& entry)
{
    Collector* collector = static_cast<Collector*>(context);
    treeplat::Entry item{};
    item.name = entry.name;
    item.shortName.assign(entry.dosName, entry.dosLength);
    item.descend = S_ISDIR(entry.status.st_mode) && entry.status.st_dev == collector->device;
    item.id = static_cast<std::uint64_t>(entry.status.st_ino);
    collector->entries->push_back(item);
    return true;
}

}  // namespace

Dword OpenFolder(const std::string& root, const std::string& relative, bool forChange,
                 Folder** folder)
{
    *folder = nullptr;
    posixfolder::Folder rootView;
    Dword error = posixfolder::OpenFolder(root.c_str(), &rootView);
    if (error != kSuccess)
        return error == kFileNotFound && !relative.empty() ? kPathNotFound : error;
    int fd = -1;
    error = OpenBelow(rootView.fd, relative, &fd);
    CloseFolder(&rootView);
    if (error != kSuccess)
        return error;

    Folder* opened = new Folder;
    const std::string path = relative.empty() ? root : root + "/" + relative;
    error = AdoptFolder(fd, path.c_str(), &opened->view);
    if (error == kSuccess && forChange)
        error = LockFolder(opened->view);
    if (error != kSuccess) {
        CloseFolder(&opened->view);
        delete opened;
        return error;
    }
    *folder = opened;
    return kSuccess;
}

Dword ReadFolder(Folder* folder, std::vector<Entry>* entries)
{
    entries->clear();
    Collector collector = {entries, folder->view.device};
    const Dword error = ScanFolder(folder->view, CollectEntry, &collector);
    if (error != kSuccess)
        entries->clear();
    return error;
}

// Opens the entry by its name in the folder, never following a link, checks
// that it is still the entry read, and sets its name. The entry is locked
// as velmora locks an item; a run holding it already makes this one fail
// with 32 rather than wait (velmora waits for the folder while it holds its
// item, and waiting here too could deadlock).
Dword SetShortName(Folder* folder, const Entry& entry, const std::string& shortName)
{
    struct stat status;
    if (fstatat(folder->view.fd, entry.name.c_str(), &status, AT_SYMLINK_NOFOLLOW) != 0)
        return Win32FromErrno(errno);
    if (status.st_dev != folder->view.device ||
        static_cast<std::uint64_t>(status.st_ino) != entry.id)
        return kFileNotFound;
    if (IsNtfsMetadataItem(status, folder->view.fd))
        return kAccessDenied;

    const bool readable = S_ISREG(status.st_mode) || S_ISDIR(status.st_mode);
    const int flags = readable ? (O_RDONLY | O_NONBLOCK | O_NOCTTY | O_NOFOLLOW | O_CLOEXEC)
                               : (O_PATH | O_NOFOLLOW | O_CLOEXEC);
    const int fd = openat(folder->view.fd, entry.name.c_str(), flags);
    if (fd < 0)
        return Win32FromErrno(errno);
    Dword outcome = kSuccess;
    struct stat opened;
    if (fstat(fd, &opened) != 0) {
        outcome = Win32FromErrno(errno);
    } else if (opened.st_dev != status.st_dev || opened.st_ino != status.st_ino) {
        outcome = kFileNotFound;
    } else if (readable && flock(fd, LOCK_EX | LOCK_NB) != 0 && errno == EWOULDBLOCK) {
        outcome = kSharingViolation;
    } else {
        char path[kPathMax];
        if (!EntryPath(folder->view, entry.name.c_str(), path, sizeof path)) {
            outcome = kFilenameExcedRange;
        } else {
            const int error = SetDosName(fd, !readable, path, shortName.c_str(), shortName.size());
            if (error != 0)
                outcome = Win32FromErrno(error);
        }
    }
    close(fd);
    return outcome;
}

void CloseFolder(Folder* folder)
{
    if (folder == nullptr)
        return;
    posixfolder::CloseFolder(&folder->view);
    delete folder;
}

Dword CheckVolume(const std::string& root)
{
    posixfolder::Folder view;
    const Dword error = posixfolder::OpenFolder(root.c_str(), &view);
    if (error != kSuccess)
        return error;
    const Dword outcome = KeepsDosNames(view.fd) ? kSuccess : kNotSupported;
    posixfolder::CloseFolder(&view);
    return outcome;
}

// Linux has no restore privilege: ntfs-3g lets root change DOS names. Asked
// up front, so that a run without the right changes nothing at all rather
// than failing item by item.
Dword EnableRestorePrivilege(const char** failedCall)
{
    if (geteuid() != 0) {
        *failedCall = "running as root";
        return kPrivilegeNotHeld;
    }
    return kSuccess;
}

std::string SystemErrorText(Dword error)
{
    const char* text = MessageText(error);
    std::string result = text == nullptr ? std::string() : std::string(text);
    while (!result.empty() && (result.back() == '\n' || result.back() == '\r' || result.back() == ' '))
        result.pop_back();
    return result;
}

Dword ReadWholeFile(const std::string& path, std::string* content)
{
    content->clear();
    const bool standardInput = path == "-";
    const int fd = standardInput ? STDIN_FILENO : open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return Win32FromErrno(errno);
    Dword outcome = kSuccess;
    char buffer[65536];
    for (;;) {
        const ssize_t got = read(fd, buffer, sizeof buffer);
        if (got < 0) {
            if (errno == EINTR)
                continue;
            outcome = Win32FromErrno(errno);
            break;
        }
        if (got == 0)
            break;
        content->append(buffer, static_cast<std::size_t>(got));
    }
    if (!standardInput)
        close(fd);
    return outcome;
}

namespace {

Dword WriteAll(int fd, const std::string& content)
{
    std::size_t written = 0;
    while (written < content.size()) {
        const ssize_t put = write(fd, content.data() + written, content.size() - written);
        if (put < 0) {
            if (errno == EINTR)
                continue;
            return Win32FromErrno(errno);
        }
        written += static_cast<std::size_t>(put);
    }
    return kSuccess;
}

}  // namespace

Dword WriteFileAtomically(const std::string& path, const std::string& content)
{
    if (path == "-") {
        std::fflush(stdout);
        return WriteAll(STDOUT_FILENO, content);
    }
    const std::size_t slash = path.rfind('/');
    const std::string folder = slash == std::string::npos ? std::string(".")
                               : slash == 0               ? std::string("/")
                                                          : path.substr(0, slash);
    const std::string name = slash == std::string::npos ? path : path.substr(slash + 1);
    std::string temporary = (folder == "/" ? std::string() : folder) + "/." + name + ".XXXXXX";
    std::vector<char> templateName(temporary.begin(), temporary.end());
    templateName.push_back('\0');
    const int fd = mkostemp(templateName.data(), O_CLOEXEC);
    if (fd < 0)
        return Win32FromErrno(errno);
    temporary = templateName.data();
    // mkostemp makes the file private; a listing gets the usual mode.
    const mode_t mask = umask(0);
    umask(mask);
    Dword outcome = kSuccess;
    if (fchmod(fd, 0666 & ~mask) != 0)
        outcome = Win32FromErrno(errno);
    if (outcome == kSuccess)
        outcome = WriteAll(fd, content);
    if (outcome == kSuccess && fsync(fd) != 0)
        outcome = Win32FromErrno(errno);
    if (close(fd) != 0 && outcome == kSuccess)
        outcome = Win32FromErrno(errno);
    if (outcome == kSuccess && rename(temporary.c_str(), path.c_str()) != 0)
        outcome = Win32FromErrno(errno);
    if (outcome != kSuccess)
        unlink(temporary.c_str());
    return outcome;
}

void WriteText(std::FILE* stream, const std::string& text)
{
    std::fwrite(text.data(), 1, text.size(), stream);
    // Standard error is unbuffered in spirit: a progress line must show now.
    if (stream == stderr)
        std::fflush(stream);
}

bool IsTerminal(std::FILE* stream)
{
    return isatty(fileno(stream)) == 1;
}

std::uint64_t MonotonicMilliseconds()
{
    timespec now;
    clock_gettime(CLOCK_MONOTONIC, &now);
    return static_cast<std::uint64_t>(now.tv_sec) * 1000u +
           static_cast<std::uint64_t>(now.tv_nsec) / 1000000u;
}

std::vector<std::string> CommandLineArguments(int argc, char** argv)
{
    std::vector<std::string> args;
    args.reserve(argc > 0 ? static_cast<std::size_t>(argc) : 0);
    for (int i = 0; i < argc; ++i)
        args.emplace_back(argv[i] == nullptr ? "" : argv[i]);
    return args;
}

}  // namespace treeplat
