/* The process entry of velmora's Windows executables, in place of the
 * mingw-w64 start-up code.
 *
 * The mingw-w64 start-up (crt2.o with its pseudo-relocation and TLS helpers)
 * is built for the Pentium Pro and runs cmov on every start, which a
 * Pentium-class processor that Windows XP supports does not have. This entry
 * does only what the programs need, through msvcrt.dll as every Windows
 * since 95 has it: split the command line with msvcrt's own
 * __getmainargs (the rules, quoting and all, are the C runtime's, exactly as
 * before), run main, and hand its result to exit, which flushes the streams
 * and passes all 32 bits to ExitProcess.
 *
 * What the mingw-w64 code did besides, and why it is not needed here:
 * - wildcard expansion: it was off (its _dowildcard is 0), as it is here;
 * - _fmode and _commode: it copied msvcrt's defaults onto themselves;
 * - runtime pseudo-relocations: the programs are linked with
 *   --disable-runtime-pseudo-reloc, so a reference that would need one
 *   fails the link instead of crashing at start;
 * - TLS callbacks, the unhandled-exception filter mapped onto signals, the
 *   x64 unwind handler: the programs use no thread-local storage, signals or
 *   exceptions;
 * - C++ constructors: GCC calls __main at the top of main, and libmingw32's
 *   __main runs them and registers the destructors with atexit below.
 *
 * Linked with -nostartfiles, so the linker's default entry, mainCRTStartup,
 * is this function.
 */

/* What __getmainargs reads: the new-handler mode for malloc (0, the
 * default). */
typedef struct {
    /* cppcheck-suppress unusedStructMember ; read by msvcrt */
    int newMode;
} StartupInfo;

typedef int(__cdecl *OnExitFunction)(void);

/* msvcrt.dll exports; the Microsoft C runtime declares them in headers of its
 * own sources only. */
__declspec(dllimport) int __cdecl __getmainargs(int *argc, char ***argv, char ***envp,
                                                int expandWildcards, StartupInfo *startupInfo);
__declspec(dllimport) void __cdecl __set_app_type(int appType);
__declspec(dllimport) OnExitFunction __cdecl _onexit(OnExitFunction function);
__declspec(dllimport) void __cdecl exit(int status);

int main(int argc, char **argv);
int __cdecl atexit(void(__cdecl *function)(void));
void mainCRTStartup(void);

enum { CONSOLE_APP = 1 };

/* msvcrt has atexit only in its static form; in the DLL it is _onexit, which
 * runs the function from exit as atexit would. */
int __cdecl atexit(void(__cdecl *function)(void))
{
    return _onexit((OnExitFunction)function) != 0 ? 0 : -1;
}

#if defined(__i386__)
/* Windows enters a 32-bit program with the stack aligned to 4 bytes only. */
__attribute__((force_align_arg_pointer))
#endif
void mainCRTStartup(void)
{
    int argc = 0;
    char **argv = 0;
    char **envp = 0;
    StartupInfo startupInfo = {0};

    /* Run-time errors go to the console, not to a message box. */
    __set_app_type(CONSOLE_APP);
    /* On failure (no memory for the vector) msvcrt ends the process itself
     * with a run-time error; older versions of it return nothing. The
     * environment vector is not passed on: main takes two arguments. */
    (void)__getmainargs(&argc, &argv, &envp, 0, &startupInfo);
    exit(main(argc, argv));
}
