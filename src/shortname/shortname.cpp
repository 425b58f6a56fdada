#include "shortname/shortname.h"

#include <cstring>

#include "errtext/errtext.h"
#include "platform/platform.h"
#include "shortname/lastcomponent.h"

namespace {

constexpr plat::Dword kTokenAdjustPrivileges = 0x0020;
constexpr plat::Dword kTokenQuery = 0x0008;
constexpr plat::Dword kSePrivilegeEnabled = 0x00000002;

constexpr plat::Dword kGenericRead = 0x80000000;
constexpr plat::Dword kGenericWrite = 0x40000000;
constexpr plat::Dword kDelete = 0x00010000;
constexpr plat::Dword kOpenExisting = 3;
// Backup semantics let a folder be opened as well as a file.
constexpr plat::Dword kFileFlagBackupSemantics = 0x02000000;
constexpr plat::Dword kFileAttributeArchive = 0x00000020;

constexpr std::uint32_t kExitQueryOnly = 1;
constexpr std::uint32_t kExitCancelled = 156;

}  // namespace

std::uint32_t EnableRestorePrivilege(const char** failedCall)
{
    // The token handle is deliberately left open: the privilege must stay
    // enabled until the process ends.
    plat::Handle token = nullptr;
    if (plat::OpenProcessToken(plat::GetCurrentProcess(), kTokenAdjustPrivileges | kTokenQuery,
                               &token) == 0) {
        *failedCall = "OpenProcessToken";
        return plat::GetLastError();
    }

    plat::TokenPrivileges privileges = {};
    privileges.privilegeCount = 1;
    privileges.privileges[0].attributes = kSePrivilegeEnabled;
    if (plat::LookupPrivilegeValueA(nullptr, "SeRestorePrivilege", &privileges.privileges[0].luid) == 0) {
        *failedCall = "LookupPrivilegeValue";
        return plat::GetLastError();
    }

    // Success here does not mean the privilege was granted; a user without
    // it finds out when the file system refuses the change.
    if (plat::AdjustTokenPrivileges(token, 0, &privileges, 0, nullptr, nullptr) == 0) {
        *failedCall = "AdjustTokenPrivileges";
        return plat::GetLastError();
    }
    return 0;
}

bool AskConfirmation(const char* targetPath, const Console& console)
{
    std::fprintf(console.out, "\nAre you sure you want to modify '%s' [y/n]? ", targetPath);
    std::fflush(console.out);

    // Only the first character of the line counts; a line feed is left
    // unread and the rest of the line is never read.
    char answer[2] = {'\0', '\0'};
    const int c = std::getc(console.in);
    if (c == '\n')
        std::ungetc(c, console.in);
    else if (c != EOF)
        answer[0] = static_cast<char>(c);

    return (answer[0] == 'y' || answer[0] == 'Y') && answer[1] == '\0';
}

std::uint32_t ChangeShortName(const CommandOptions& options, const Console& console)
{
    std::FILE* out = console.out;
    ErrorTextBuffer text;

    PathBuffer shortPath;
    std::memset(shortPath, 0, sizeof shortPath);
    // A path too long for the buffer yields its needed size, which counts
    // as success; the buffer then stays empty and so does the name shown.
    if (plat::GetShortPathNameA(options.targetPath, shortPath, kPathChars) == 0) {
        const std::uint32_t error = plat::GetLastError();
        GetSystemErrorText(error, text);
        std::fprintf(out, "\nSystem error %u has occurred.\n\n%s", error, text);
        return error;
    }

    // The name is a tail of shortPath, so it fits a buffer of the same size.
    PathBuffer currentName;
    const char* name = LastPathComponent(shortPath);
    std::memcpy(currentName, name, std::strlen(name) + 1);
    std::fprintf(out, "\nThe current SFN is: '%s'\n", currentName);

    if (options.newShortName[0] == '\0')
        return kExitQueryOnly;

    if (options.confirmChange && !AskConfirmation(options.targetPath, console)) {
        std::fputs("\nThe operation was cancelled.\n", out);
        return kExitCancelled;
    }

    const char* failedCall = nullptr;
    const std::uint32_t privilegeError = EnableRestorePrivilege(&failedCall);
    if (failedCall != nullptr) {
        std::fprintf(out, "\n\n%s failed, error %u.", failedCall, privilegeError);
        return privilegeError;
    }

    const plat::Handle file = plat::CreateFileA(
        options.targetPath, kGenericRead | kGenericWrite | kDelete, 0, nullptr, kOpenExisting,
        kFileFlagBackupSemantics | kFileAttributeArchive, nullptr);
    if (file == plat::InvalidHandle()) {
        const std::uint32_t error = plat::GetLastError();
        GetSystemErrorText(error, text);
        std::fprintf(out, "\n\nSystem error %u has occurred.\n\n%s", error, text);
        return error;
    }

    // The error number is read before CloseHandle can overwrite it.
    const std::uint32_t outcome =
        plat::SetFileShortNameA(file, options.newShortName) != 0 ? 0 : plat::GetLastError();
    plat::CloseHandle(file);

    if (options.reportExitCode)
        std::fprintf(out, "\n\nProcess is exiting with return code %u.", outcome);
    GetSystemErrorText(outcome, text);
    std::fprintf(out, "\n\n%s\n", text);
    return outcome;
}
