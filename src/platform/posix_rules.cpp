#include "platform/posix_rules.h"

#include <cerrno>
#include <cstddef>

namespace posixrules {

namespace {

struct ErrnoRow {
    int error;
    plat::Dword win32;
};

// The one table from errno to Win32. Each row is what Windows reports for
// the same situation on NTFS, so a script written for Windows reads the same
// number here.
const ErrnoRow kErrnoTable[] = {
    {ENOENT, kFileNotFound},
    {ENOTDIR, kPathNotFound},
    {EMFILE, kTooManyOpenFiles},
    {ENFILE, kTooManyOpenFiles},
    {EACCES, kAccessDenied},
    // Windows refuses to open a folder as a file with "access denied".
    {EISDIR, kAccessDenied},
    {EBADF, kInvalidHandle},
    {ESTALE, kInvalidHandle},
    {ENOMEM, kNotEnoughMemory},
    {EROFS, kWriteProtect},
    // A FUSE daemon that has gone away, or a vanished device.
    {ENOTCONN, kNotReady},
    {ENXIO, kNotReady},
    {ENODEV, kNotReady},
    {EBUSY, kSharingViolation},
    {ETXTBSY, kSharingViolation},
    // flock() without blocking: another run holds the item.
    {EWOULDBLOCK, kSharingViolation},
    {ENOTSUP, kNotSupported},
#if EOPNOTSUPP != ENOTSUP
    {EOPNOTSUPP, kNotSupported},
#endif
    {EINVAL, kInvalidParameter},
    {E2BIG, kInvalidParameter},
    {ENOSPC, kDiskFull},
    {ERANGE, kInsufficientBuffer},
    {EEXIST, kAlreadyExists},
    {ENAMETOOLONG, kFilenameExcedRange},
    {EFAULT, kInvalidAddress},
    {EIO, kIoDevice},
    // ntfs-3g gives no short name to a file with several hard links.
    {EMLINK, kTooManyLinks},
    {ENODATA, kNotFound},
    {EDQUOT, kDiskQuotaExceeded},
    // ntfs-3g's answer to a caller without the right to change the name.
    {EPERM, kPrivilegeNotHeld},
    {ELOOP, kCantResolveFilename},
    // ntfs-3g keeps names in UTF-16 and refuses a path whose bytes are not
    // UTF-8: no item can have that name, as Windows says of a name with
    // characters NTFS does not allow.
    {EILSEQ, kInvalidName},
};

struct TextRow {
    plat::Dword id;
    const char* text;
};

// Every number Win32FromErrno and the layer itself can produce has a text,
// so no failure is reported with an empty one. Each ends with the
// platform's line end.
const TextRow kTextTable[] = {
    {kSuccess, "The operation succeeded.\n"},
    {1, "The function is not supported for this item.\n"},
    {kFileNotFound, "The file or folder does not exist.\n"},
    {kPathNotFound, "A folder on the path does not exist.\n"},
    {kTooManyOpenFiles, "Too many files are open.\n"},
    {kAccessDenied, "Permission to access the item was refused.\n"},
    {kInvalidHandle, "The handle is not valid.\n"},
    {kNotEnoughMemory, "There is not enough memory for this operation.\n"},
    {kWriteProtect, "The volume is mounted read-only.\n"},
    {kNotReady, "The device is not ready; the volume may have been unmounted.\n"},
    {kGenFailure, "The file system reported an unexpected error.\n"},
    {kSharingViolation, "The file or folder is in use by another process.\n"},
    {kNotSupported, "The file system does not support short names.\n"},
    {kInvalidParameter, "The parameter is not valid.\n"},
    {kDiskFull, "There is not enough space on the volume.\n"},
    {kInsufficientBuffer, "The data does not fit the buffer given.\n"},
    {kInvalidName, "The file or folder name is not valid on this volume.\n"},
    {kModNotFound, "The module was not found.\n"},
    {kAlreadyExists, "The name is already used by another item in the folder.\n"},
    {kFilenameExcedRange, "The file name or path is too long.\n"},
    {kMessageNotFound, "No text exists for this message number.\n"},
    {kInvalidAddress, "The memory address is not valid.\n"},
    {kIoDevice, "An I/O error occurred on the device.\n"},
    {kTooManyLinks, "The file has more than one hard link.\n"},
    {kNotFound, "The element was not found.\n"},
    {kDiskQuotaExceeded, "The disk quota has been exceeded.\n"},
    {kNoSuchPrivilege, "The privilege named is not known to the system.\n"},
    {kPrivilegeNotHeld, "The caller does not hold the privilege this change needs.\n"},
    // The layer's own: another file system is mounted over an entry of the
    // folder, so that entry's names cannot be read and a new name cannot be
    // checked against them.
    {kCantAccessFile, "An entry of the folder is covered by a mount; its names cannot be checked.\n"},
    {kCantResolveFilename, "The name cannot be resolved: too many symbolic links.\n"},
};

}  // namespace

plat::Dword Win32FromErrno(int error)
{
    for (const ErrnoRow& row : kErrnoTable) {
        if (row.error == error)
            return row.win32;
    }
    return kGenFailure;
}

const char* MessageText(plat::Dword messageId)
{
    for (const TextRow& row : kTextTable) {
        if (row.id == messageId)
            return row.text;
    }
    return nullptr;
}

}  // namespace posixrules
