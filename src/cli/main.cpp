// velmora: show, and on request set, the 8.3 short name of a file or folder.
#include <cstdio>

#include "cli/run.h"
#include "platform/platform.h"

int main(int argc, char* argv[])
{
    plat::PrepareProcess();
    // The exit code is a Win32 error number; all 32 bits reach the process
    // exit code on Windows.
    return static_cast<int>(VelmoraMain(argc, argv, Console{stdin, stdout}));
}
