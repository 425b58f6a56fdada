/* tree_probe.exe: asks the Windows that runs it (wine, here) what
 * velmora-tree.exe's output is compared with, through wide-character calls,
 * so that names outside the ANSI code page and paths beyond 260 characters
 * come through whole. Arguments and output are UTF-8; output is binary.
 *
 *   tree_probe short PATH...       per path, one line: "ok " and its short
 *                                  path, or "error " and the number
 *   tree_probe text N              the system's message text for N, as given
 *   tree_probe setshort PATH NAME  opens PATH as velmora-tree does and sets
 *                                  its short name: "ok" or "error N" (a
 *                                  system without the call ends the process)
 *   tree_probe hold PATH MARKER    opens PATH as velmora-tree does, prints
 *                                  "held" (or "error N") and keeps it open
 *                                  until the file MARKER exists (60 s at most)
 */
#include <windows.h>

#include <fcntl.h>
#include <io.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#define CHANGE_ACCESS (GENERIC_READ | GENERIC_WRITE | DELETE)
#define CHANGE_FLAGS (FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT)

static void PutWide(const wchar_t* text, int length)
{
    char* bytes;
    int size;
    if (length == 0)
        return;
    size = WideCharToMultiByte(CP_UTF8, 0, text, length, NULL, 0, NULL, NULL);
    bytes = (char*)malloc((size_t)size);
    if (bytes == NULL)
        exit(3);
    WideCharToMultiByte(CP_UTF8, 0, text, length, bytes, size, NULL, NULL);
    fwrite(bytes, 1, (size_t)size, stdout);
    free(bytes);
}

static int Fail(DWORD error)
{
    printf("error %lu\n", (unsigned long)error);
    return 1;
}

static int ShowShortPaths(int count, wchar_t** paths)
{
    int i;
    for (i = 0; i < count; ++i) {
        static wchar_t shortPath[32768];
        const DWORD length = GetShortPathNameW(paths[i], shortPath, 32768);
        if (length == 0 || length >= 32768) {
            Fail(GetLastError());
            continue;
        }
        fputs("ok ", stdout);
        PutWide(shortPath, (int)length);
        fputs("\n", stdout);
    }
    return 0;
}

static int ShowText(const wchar_t* number)
{
    wchar_t* end = NULL;
    const unsigned long error = wcstoul(number, &end, 10);
    wchar_t* text = NULL;
    DWORD length;
    if (end == number || *end != L'\0')
        return 2;
    length = FormatMessageW(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_IGNORE_INSERTS |
                                FORMAT_MESSAGE_FROM_SYSTEM,
                            NULL, (DWORD)error, 0x400, (LPWSTR)&text, 0, NULL);
    if (length == 0)
        return 0;
    PutWide(text, (int)length);
    LocalFree(text);
    return 0;
}

static BOOL EnableRestorePrivilege(void)
{
    HANDLE token;
    TOKEN_PRIVILEGES privileges;
    if (!OpenProcessToken(GetCurrentProcess(), TOKEN_ADJUST_PRIVILEGES | TOKEN_QUERY, &token))
        return FALSE;
    ZeroMemory(&privileges, sizeof privileges);
    privileges.PrivilegeCount = 1;
    privileges.Privileges[0].Attributes = SE_PRIVILEGE_ENABLED;
    if (!LookupPrivilegeValueW(NULL, L"SeRestorePrivilege", &privileges.Privileges[0].Luid) ||
        !AdjustTokenPrivileges(token, FALSE, &privileges, 0, NULL, NULL)) {
        CloseHandle(token);
        return FALSE;
    }
    CloseHandle(token);
    return TRUE;
}

static int SetShort(const wchar_t* path, const wchar_t* name)
{
    HANDLE file;
    DWORD error = 0;
    if (!EnableRestorePrivilege())
        return Fail(GetLastError());
    file = CreateFileW(path, CHANGE_ACCESS, 0, NULL, OPEN_EXISTING, CHANGE_FLAGS, NULL);
    if (file == INVALID_HANDLE_VALUE)
        return Fail(GetLastError());
    fflush(stdout);
    if (!SetFileShortNameW(file, name))
        error = GetLastError();
    CloseHandle(file);
    if (error != 0)
        return Fail(error);
    printf("ok\n");
    return 0;
}

static int Hold(const wchar_t* path, const wchar_t* marker)
{
    int waited;
    const HANDLE file = CreateFileW(path, CHANGE_ACCESS, 0, NULL, OPEN_EXISTING, CHANGE_FLAGS, NULL);
    if (file == INVALID_HANDLE_VALUE)
        return Fail(GetLastError());
    printf("held\n");
    fflush(stdout);
    for (waited = 0; waited < 60000; waited += 20) {
        if (GetFileAttributesW(marker) != INVALID_FILE_ATTRIBUTES)
            break;
        Sleep(20);
    }
    CloseHandle(file);
    return 0;
}

int wmain(int argc, wchar_t* argv[])
{
    if (_setmode(_fileno(stdout), _O_BINARY) == -1)
        return 3;
    if (argc >= 2 && wcscmp(argv[1], L"short") == 0)
        return ShowShortPaths(argc - 2, argv + 2);
    if (argc == 3 && wcscmp(argv[1], L"text") == 0)
        return ShowText(argv[2]);
    if (argc == 4 && wcscmp(argv[1], L"setshort") == 0)
        return SetShort(argv[2], argv[3]);
    if (argc == 4 && wcscmp(argv[1], L"hold") == 0)
        return Hold(argv[2], argv[3]);
    printf("usage: tree_probe short PATH... | text N | setshort PATH NAME | hold PATH MARKER\n");
    return 2;
}
