#ifndef VELMORA_RUN_H
#define VELMORA_RUN_H

#include <cstdint>

#include "cli/console.h"

// One whole run of the tool, as main performs it: gate, scan, dispatch.
// Returns the exit code, a Win32 error number or one of 1, 10, 87, 156, 206.
std::uint32_t VelmoraMain(int argc, char* argv[], const Console& console);

#endif
