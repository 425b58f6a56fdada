// One folder of an ntfs-3g volume as the folder itself holds it: what both
// Linux programs (velmora and velmora-tree) need to read and set DOS names
// safely. Internal to the POSIX layer; nothing above src/platform sees it.
//
// Names are read relative to the folder's open descriptor, never through a
// path that could be renamed or remounted meanwhile, and every entry is
// checked against what the folder lists: where a lookup reaches something
// else than the directory entry (another file system, or a bind mount over
// the entry), that entry's names cannot be seen, and the caller refuses
// instead of guessing that a name is free.
#ifndef VELMORA_POSIX_FOLDER_H
#define VELMORA_POSIX_FOLDER_H

#include <sys/stat.h>
#include <sys/types.h>

#include <climits>
#include <cstddef>

#include "platform/platform.h"

namespace posixfolder {

constexpr char kDosNameAttribute[] = "system.ntfs_dos_name";

// A short name has at most 12 characters. A longer value read back is not
// one, and the long name is used instead.
constexpr std::size_t kDosNameBuffer = 16;

constexpr std::size_t kPathMax = PATH_MAX;

// ntfs-3g numbers inodes by MFT record. Records 0 to 15 are the volume's
// own (record 5 is the root folder); $Extend (record 11) holds more of them.
constexpr ino_t kNtfsRootRecord = 5;
constexpr ino_t kNtfsExtendRecord = 11;
constexpr ino_t kNtfsFirstUserRecord = 16;

// Reads the DOS name of the entry `path` names (a link's own, not its
// target's). Returns its length, or 0 when it has none, with the errno of
// the failure in *error (0 when the attribute was read).
std::size_t ReadDosName(const char* path, char* name, int* error);

// The file system keeps no extended attributes of this kind at all.
bool IsNotSupported(int error);

// Errors of lgetxattr that still prove the entry exists without a DOS name.
bool ExistsWithoutDosName(int error);

bool IsDotOrDotDot(const char* name, std::size_t length);

// True when `name` is one of the metadata files ntfs-3g hides in the root.
bool IsRootMetadataName(const char* name);

struct Folder {
    int fd;
    dev_t device;
    ino_t inode;
    // What an entry's path starts with: /proc/self/fd/N/ when /proc shows
    // this descriptor, else the folder's path and a slash.
    char entryPrefix[kPathMax];
    std::size_t prefixLength;
};

// Opens the folder `path` names (following links, as any path is resolved).
// Returns 0 or the Win32 number of the failure.
plat::Dword OpenFolder(const char* path, Folder* folder);
// Opens the folder that holds the entry `fd` (a folder) refers to, as "..".
plat::Dword OpenParentOf(int fd, const char* pathForPrefix, Folder* folder);
// Takes over a descriptor of a folder already open (closed on failure);
// `path` names it, for the rare system without /proc.
plat::Dword AdoptFolder(int fd, const char* path, Folder* folder);
void CloseFolder(Folder* folder);

// Takes the exclusive lock that velmora and velmora-tree hold on a folder
// from the check of its names to the change, so that their checks never
// interleave. Waits a while for another run to finish; 32 if it does not.
plat::Dword LockFolder(const Folder& folder);

// Builds the path of entry `name` of the folder into `path`; false when it
// does not fit.
bool EntryPath(const Folder& folder, const char* name, char* path, std::size_t size);

// One entry as the folder holds it.
struct Entry {
    const char* name;
    struct stat status;   // the entry's own (a link is not followed)
    char dosName[kDosNameBuffer];
    std::size_t dosLength;   // 0: it has none
};

// Called for every entry but "." and ".."; returns false to stop the scan.
using EntryVisitor = bool (*)(void* context, const Entry& entry);

// Visits every entry of the folder once, with its status and DOS name. An
// entry that disappears meanwhile is left out. Returns 0, the Win32 number
// of a failure, or kCantAccessFile when something is mounted over an entry
// (its names are another file system's).
plat::Dword ScanFolder(const Folder& folder, EntryVisitor visit, void* context);

// True when the file system of the folder `fd` keeps DOS names.
bool KeepsDosNames(int fd);

// True when the item (its own status) is one of the volume's reserved
// records or lies below $Extend: Windows lets no program open these for a
// change. `parent` is the folder that holds the item (-1 when it is
// unknown); on a volume that keeps no DOS names nothing is metadata.
bool IsNtfsMetadataItem(const struct stat& status, int parent);

// Sets the DOS name of the entry `fd` refers to: through the descriptor for
// a file or folder opened to read, through /proc/self/fd for a reference
// (O_PATH) to a link or device, so that what is set is what was checked.
// Without /proc, a reference is set by `path`, which the caller has just
// checked. Returns 0 or the errno of the failure.
int SetDosName(int fd, bool isReference, const char* path, const char* name,
               std::size_t length);

}  // namespace posixfolder

#endif
