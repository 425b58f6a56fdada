// The one layer between velmora's logic and the operating system.
//
// Each operation is named and shaped after the Win32 call it stands for:
// the same arguments in the same order, the same result, and the failure
// number fetched afterwards with GetLastError. The logic passes the same
// constants it would pass to Windows (access masks, flags, language id), so
// the unit tests can see them. Exactly one implementation is linked into a
// program: win32.cpp (the Windows product), posix.cpp (Linux over ntfs-3g)
// or the scripted double under tests/.
//
// No operating-system header is included here or by any caller.
#ifndef VELMORA_PLATFORM_H
#define VELMORA_PLATFORM_H

#include <cstdint>

namespace plat {

using Dword = std::uint32_t;
using Bool = int;        // nonzero means success, as in Win32
using Handle = void*;    // a file, token or process handle
using Module = void*;    // a loaded module, or nullptr

// The value CreateFileA returns on failure: (HANDLE)-1.
Handle InvalidHandle();

// OSVERSIONINFOA: five DWORDs and 128 characters, 148 bytes in all.
struct OsVersionInfo {
    Dword osVersionInfoSize;
    Dword majorVersion;
    Dword minorVersion;
    Dword buildNumber;
    Dword platformId;
    char csdVersion[128];
};
static_assert(sizeof(OsVersionInfo) == 148, "OSVERSIONINFOA is 148 bytes");

// LUID, LUID_AND_ATTRIBUTES and a TOKEN_PRIVILEGES with room for one entry.
struct Luid {
    Dword lowPart;
    std::int32_t highPart;
};
struct LuidAndAttributes {
    Luid luid;
    Dword attributes;
};
struct TokenPrivileges {
    Dword privilegeCount;
    LuidAndAttributes privileges[1];
};

// --- version --------------------------------------------------------------
Bool GetVersionExA(OsVersionInfo* versionInfo);

// --- names ----------------------------------------------------------------
// Returns the length of the short path copied (without the terminator), the
// size needed (with the terminator) when the buffer is too small, or 0 on
// failure.
Dword GetShortPathNameA(const char* longPath, char* shortPath, Dword bufferLength);

// --- privileges -----------------------------------------------------------
Handle GetCurrentProcess();
Bool OpenProcessToken(Handle process, Dword desiredAccess, Handle* token);
Bool LookupPrivilegeValueA(const char* systemName, const char* name, Luid* luid);
Bool AdjustTokenPrivileges(Handle token, Bool disableAllPrivileges,
                           const TokenPrivileges* newState, Dword bufferLength,
                           TokenPrivileges* previousState, Dword* returnLength);

// --- files ----------------------------------------------------------------
// securityAttributes and templateFile are accepted for shape only; the tool
// always passes nullptr.
Handle CreateFileA(const char* fileName, Dword desiredAccess, Dword shareMode,
                   void* securityAttributes, Dword creationDisposition,
                   Dword flagsAndAttributes, Handle templateFile);
Bool SetFileShortNameA(Handle file, const char* shortName);
Bool CloseHandle(Handle object);

// --- errors ---------------------------------------------------------------
Dword GetLastError();

// --- message texts --------------------------------------------------------
Module LoadLibraryExA(const char* fileName, Handle file, Dword flags);
// Only the FORMAT_MESSAGE_ALLOCATE_BUFFER form is offered: on success the
// system allocates the text, stores its address in *allocatedText and
// returns its length (without the terminator); the caller frees it with
// LocalFree. Returns 0 when there is no text.
Dword FormatMessageA(Dword flags, Module source, Dword messageId, Dword languageId,
                     char** allocatedText, Dword size, void* arguments);
void* LocalFree(void* memory);
Bool FreeLibrary(Module module);

// --- process --------------------------------------------------------------
// Called once by main before anything else. On POSIX, a reader of standard
// output that has gone away must not kill the tool with SIGPIPE, possibly
// after it has changed a name: writes then simply fail, as they do on
// Windows, and the exit code still tells the outcome. Nothing on Windows.
void PrepareProcess();

// --- characters -----------------------------------------------------------
// True when the byte starts a two-byte character in the process's ANSI
// code page (IsDBCSLeadByte on Windows; never on POSIX, where the bytes are
// UTF-8 and no trail byte equals a separator).
bool IsDBCSLeadByte(unsigned char byte);
// The character that separates path components: '\\' on Windows, '/' on POSIX.
char PathSeparator();

}  // namespace plat

#endif
