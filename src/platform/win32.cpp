// The Windows platform layer: each operation is one call into kernel32 or
// advapi32 (narrow "A" forms), with the project's records copied to and from
// the Windows ones. Nothing here decides anything; the logic does.
#include "platform/platform.h"

#include <windows.h>

#include <cstddef>
#include <cstring>

namespace {

// The records are copied field by field, but their sizes must still match
// the Windows ones: the logic passes 148 as the version record's size, and a
// TOKEN_PRIVILEGES with one entry is what AdjustTokenPrivileges reads.
static_assert(sizeof(plat::OsVersionInfo) == sizeof(OSVERSIONINFOA),
              "OsVersionInfo must have the size of OSVERSIONINFOA");
static_assert(sizeof(OSVERSIONINFOA) == 148, "OSVERSIONINFOA is 148 bytes");
static_assert(sizeof(plat::Luid) == sizeof(LUID), "Luid must have the size of LUID");
static_assert(sizeof(plat::LuidAndAttributes) == sizeof(LUID_AND_ATTRIBUTES),
              "LuidAndAttributes must have the size of LUID_AND_ATTRIBUTES");
static_assert(sizeof(plat::TokenPrivileges) == sizeof(TOKEN_PRIVILEGES),
              "TokenPrivileges must have the size of TOKEN_PRIVILEGES");
static_assert(sizeof(plat::Dword) == sizeof(DWORD), "Dword must be a DWORD");
static_assert(sizeof(plat::Handle) == sizeof(HANDLE), "Handle must be a HANDLE");

void CopyToWindows(const plat::TokenPrivileges& from, TOKEN_PRIVILEGES* to)
{
    to->PrivilegeCount = from.privilegeCount;
    to->Privileges[0].Luid.LowPart = from.privileges[0].luid.lowPart;
    to->Privileges[0].Luid.HighPart = from.privileges[0].luid.highPart;
    to->Privileges[0].Attributes = from.privileges[0].attributes;
}

void CopyFromWindows(const TOKEN_PRIVILEGES& from, plat::TokenPrivileges* to)
{
    to->privilegeCount = from.PrivilegeCount;
    to->privileges[0].luid.lowPart = from.Privileges[0].Luid.LowPart;
    to->privileges[0].luid.highPart = from.Privileges[0].Luid.HighPart;
    to->privileges[0].attributes = from.Privileges[0].Attributes;
}

}  // namespace

namespace plat {

Handle InvalidHandle()
{
    return INVALID_HANDLE_VALUE;
}

Bool GetVersionExA(OsVersionInfo* versionInfo)
{
    // The caller's size field goes through unchanged: GetVersionExA decides
    // from it which record it was given.
    OSVERSIONINFOA info;
    std::memset(&info, 0, sizeof info);
    // A larger size would let the system write past our copy.
    if (versionInfo->osVersionInfoSize > sizeof info) {
        ::SetLastError(ERROR_INSUFFICIENT_BUFFER);
        return FALSE;
    }
    info.dwOSVersionInfoSize = versionInfo->osVersionInfoSize;
    // GetVersionExA is deprecated from Windows 8.1 on, but it is the only
    // version call Windows XP has. The manifest declares the systems up to
    // Windows 10/11, which then report their own version; a later one would
    // report at most the newest declared. Either way the build number is far
    // above the gate's.
#if defined(__GNUC__)
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wdeprecated-declarations"
#endif
    const BOOL result = ::GetVersionExA(&info);
#if defined(__GNUC__)
#pragma GCC diagnostic pop
#endif
    versionInfo->majorVersion = info.dwMajorVersion;
    versionInfo->minorVersion = info.dwMinorVersion;
    versionInfo->buildNumber = info.dwBuildNumber;
    versionInfo->platformId = info.dwPlatformId;
    static_assert(sizeof versionInfo->csdVersion == sizeof info.szCSDVersion,
                  "csdVersion must match szCSDVersion");
    std::memcpy(versionInfo->csdVersion, info.szCSDVersion, sizeof info.szCSDVersion);
    return result;
}

Dword GetShortPathNameA(const char* longPath, char* shortPath, Dword bufferLength)
{
    return ::GetShortPathNameA(longPath, shortPath, bufferLength);
}

Handle GetCurrentProcess()
{
    return ::GetCurrentProcess();
}

Bool OpenProcessToken(Handle process, Dword desiredAccess, Handle* token)
{
    return ::OpenProcessToken(process, desiredAccess, token);
}

Bool LookupPrivilegeValueA(const char* systemName, const char* name, Luid* luid)
{
    LUID found;
    found.LowPart = 0;
    found.HighPart = 0;
    const BOOL result = ::LookupPrivilegeValueA(systemName, name, &found);
    if (result == 0) {
        return result;
    }
    luid->lowPart = found.LowPart;
    luid->highPart = found.HighPart;
    return result;
}

Bool AdjustTokenPrivileges(Handle token, Bool disableAllPrivileges,
                           const TokenPrivileges* newState, Dword bufferLength,
                           TokenPrivileges* previousState, Dword* returnLength)
{
    // TokenPrivileges has room for one entry only, so that is all that is
    // copied; the logic never asks for more.
    TOKEN_PRIVILEGES request;
    std::memset(&request, 0, sizeof request);
    if (newState != nullptr) {
        CopyToWindows(*newState, &request);
    }
    TOKEN_PRIVILEGES previous;
    std::memset(&previous, 0, sizeof previous);
    DWORD previousLength = 0;
    // Never let the system write more into our copy than it can hold.
    const DWORD previousSize =
        bufferLength < sizeof previous ? bufferLength : static_cast<DWORD>(sizeof previous);
    const BOOL result = ::AdjustTokenPrivileges(
        token, disableAllPrivileges, newState != nullptr ? &request : nullptr,
        previousState != nullptr ? previousSize : 0,
        previousState != nullptr ? &previous : nullptr,
        returnLength != nullptr ? &previousLength : nullptr);
    if (previousState != nullptr && result != 0) {
        CopyFromWindows(previous, previousState);
    }
    if (returnLength != nullptr) {
        *returnLength = previousLength;
    }
    return result;
}

Handle CreateFileA(const char* fileName, Dword desiredAccess, Dword shareMode,
                   void* securityAttributes, Dword creationDisposition,
                   Dword flagsAndAttributes, Handle templateFile)
{
    return ::CreateFileA(fileName, desiredAccess, shareMode,
                         static_cast<LPSECURITY_ATTRIBUTES>(securityAttributes),
                         creationDisposition, flagsAndAttributes, templateFile);
}

Bool SetFileShortNameA(Handle file, const char* shortName)
{
    return ::SetFileShortNameA(file, shortName);
}

Bool CloseHandle(Handle object)
{
    return ::CloseHandle(object);
}

Dword GetLastError()
{
    return ::GetLastError();
}

Module LoadLibraryExA(const char* fileName, Handle file, Dword flags)
{
    return ::LoadLibraryExA(fileName, file, flags);
}

Dword FormatMessageA(Dword flags, Module source, Dword messageId, Dword languageId,
                     char** allocatedText, Dword size, void* arguments)
{
    // With FORMAT_MESSAGE_ALLOCATE_BUFFER the system takes the buffer
    // argument as the address of a pointer and stores the new text's address
    // there.
    return ::FormatMessageA(flags, source, messageId, languageId,
                            reinterpret_cast<LPSTR>(allocatedText), size,
                            static_cast<va_list*>(arguments));
}

void* LocalFree(void* memory)
{
    return ::LocalFree(memory);
}

Bool FreeLibrary(Module module)
{
    return ::FreeLibrary(static_cast<HMODULE>(module));
}

void PrepareProcess()
{
    // A write to a closed pipe fails on Windows without ending the process.
}

bool IsDBCSLeadByte(unsigned char byte)
{
    return ::IsDBCSLeadByte(byte) != 0;
}

char PathSeparator()
{
    return '\\';
}

}  // namespace plat
