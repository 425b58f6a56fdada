/* probe.exe: asks the Windows that runs it (wine, here) the answers the
 * end-to-end tests compare velmora.exe against, so that no system text,
 * error number or generated short name is ever written into a test.
 *
 *   probe version          major.minor.build
 *   probe short PATH       "ok " and the short path, or "error " and the number
 *   probe open PATH        opens PATH as velmora does: "ok" or "error N"
 *   probe text N           the system's message text for N, raw bytes
 *
 * Output is binary: the bytes are exactly what the system gave.
 */
#include <windows.h>

#include <fcntl.h>
#include <io.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

static int Fail(DWORD error)
{
    printf("error %lu", (unsigned long)error);
    return 1;
}

static int ShowVersion(void)
{
    OSVERSIONINFOA info;
    ZeroMemory(&info, sizeof info);
    info.dwOSVersionInfoSize = sizeof info;
    if (!GetVersionExA(&info))
        return Fail(GetLastError());
    printf("%lu.%lu.%lu", (unsigned long)info.dwMajorVersion,
           (unsigned long)info.dwMinorVersion, (unsigned long)info.dwBuildNumber);
    return 0;
}

static int ShowShortPath(const char* path)
{
    char shortPath[MAX_PATH + 1];
    DWORD length;
    ZeroMemory(shortPath, sizeof shortPath);
    length = GetShortPathNameA(path, shortPath, MAX_PATH);
    if (length == 0)
        return Fail(GetLastError());
    if (length >= MAX_PATH) {
        printf("too long %lu", (unsigned long)length);
        return 1;
    }
    printf("ok %s", shortPath);
    return 0;
}

/* The same steps velmora takes before it opens the item, so that the open
 * meets the same conditions. */
static int OpenLikeVelmora(const char* path)
{
    HANDLE token;
    TOKEN_PRIVILEGES privileges;
    HANDLE file;
    if (!OpenProcessToken(GetCurrentProcess(), TOKEN_ADJUST_PRIVILEGES | TOKEN_QUERY, &token))
        return Fail(GetLastError());
    ZeroMemory(&privileges, sizeof privileges);
    privileges.PrivilegeCount = 1;
    privileges.Privileges[0].Attributes = SE_PRIVILEGE_ENABLED;
    if (!LookupPrivilegeValueA(NULL, "SeRestorePrivilege", &privileges.Privileges[0].Luid))
        return Fail(GetLastError());
    if (!AdjustTokenPrivileges(token, FALSE, &privileges, 0, NULL, NULL))
        return Fail(GetLastError());
    file = CreateFileA(path, GENERIC_READ | GENERIC_WRITE | DELETE, 0, NULL, OPEN_EXISTING,
                       FILE_FLAG_BACKUP_SEMANTICS | FILE_ATTRIBUTE_ARCHIVE, NULL);
    if (file == INVALID_HANDLE_VALUE)
        return Fail(GetLastError());
    CloseHandle(file);
    printf("ok");
    return 0;
}

static int ShowText(const char* number)
{
    char* end = NULL;
    const unsigned long error = strtoul(number, &end, 10);
    char* text = NULL;
    DWORD length;
    if (end == number || *end != '\0') {
        printf("not a number: %s", number);
        return 2;
    }
    length = FormatMessageA(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_IGNORE_INSERTS |
                                FORMAT_MESSAGE_FROM_SYSTEM,
                            NULL, (DWORD)error, 0x400, (LPSTR)&text, 0, NULL);
    if (length == 0)
        return 0;
    fwrite(text, 1, length, stdout);
    LocalFree(text);
    return 0;
}

int main(int argc, char* argv[])
{
    if (_setmode(_fileno(stdout), _O_BINARY) == -1)
        return 3;
    if (argc == 2 && strcmp(argv[1], "version") == 0)
        return ShowVersion();
    if (argc == 3 && strcmp(argv[1], "short") == 0)
        return ShowShortPath(argv[2]);
    if (argc == 3 && strcmp(argv[1], "open") == 0)
        return OpenLikeVelmora(argv[2]);
    if (argc == 3 && strcmp(argv[1], "text") == 0)
        return ShowText(argv[2]);
    printf("usage: probe version | short PATH | open PATH | text NUMBER");
    return 2;
}
