// What the POSIX layer decides on its own, kept apart from the system calls
// so that it can be tested without a file system: the errno -> Win32 table,
// the message texts, and the rules NTFS on Windows applies to a short name
// (which ntfs-3g does not).
#ifndef VELMORA_POSIX_RULES_H
#define VELMORA_POSIX_RULES_H

#include "names/shortnames.h"
#include "platform/platform.h"

namespace posixrules {

// Win32 numbers the layer produces. The numbers are Windows' own; the
// names follow winerror.h so a reader can look them up.
constexpr plat::Dword kSuccess = 0;
constexpr plat::Dword kFileNotFound = 2;
constexpr plat::Dword kPathNotFound = 3;
constexpr plat::Dword kTooManyOpenFiles = 4;
constexpr plat::Dword kAccessDenied = 5;
constexpr plat::Dword kInvalidHandle = 6;
constexpr plat::Dword kNotEnoughMemory = 8;
constexpr plat::Dword kWriteProtect = 19;
constexpr plat::Dword kNotReady = 21;
constexpr plat::Dword kGenFailure = 31;
constexpr plat::Dword kSharingViolation = 32;
constexpr plat::Dword kNotSupported = 50;
constexpr plat::Dword kInvalidParameter = 87;
constexpr plat::Dword kDiskFull = 112;
constexpr plat::Dword kInsufficientBuffer = 122;
constexpr plat::Dword kInvalidName = 123;
constexpr plat::Dword kModNotFound = 126;
constexpr plat::Dword kAlreadyExists = 183;
constexpr plat::Dword kFilenameExcedRange = 206;
constexpr plat::Dword kMessageNotFound = 317;
constexpr plat::Dword kInvalidAddress = 487;
constexpr plat::Dword kIoDevice = 1117;
constexpr plat::Dword kTooManyLinks = 1142;
constexpr plat::Dword kNotFound = 1168;
constexpr plat::Dword kDiskQuotaExceeded = 1295;
constexpr plat::Dword kNoSuchPrivilege = 1313;
constexpr plat::Dword kPrivilegeNotHeld = 1314;
constexpr plat::Dword kCantAccessFile = 1920;
constexpr plat::Dword kCantResolveFilename = 1921;

// The Win32 number a Windows user would see for the same failure. An errno
// the table does not know becomes kGenFailure, never 0: a failure must not
// read as success.
plat::Dword Win32FromErrno(int error);

// The text for a Win32 number, ending with "\n", or nullptr when there is
// none (as Windows has no text for most numbers).
const char* MessageText(plat::Dword messageId);

// The 8.3 rules NTFS on Windows applies and ntfs-3g leaves out.
using shortnames::EqualIgnoringAsciiCase;
using shortnames::IsValidShortName;

}  // namespace posixrules

#endif
