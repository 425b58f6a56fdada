// Showing and changing the short name of one file or folder.
#ifndef VELMORA_SHORTNAME_H
#define VELMORA_SHORTNAME_H

#include <cstdint>

#include "cli/console.h"
#include "cli/options.h"

// Shows the target's current short name and, when a new one was given and
// confirmed, sets it. Returns the exit code.
std::uint32_t ChangeShortName(const CommandOptions& options, const Console& console);

// Asks whether to modify `targetPath`; true only for an answer starting
// with y or Y.
bool AskConfirmation(const char* targetPath, const Console& console);

// Enables SeRestorePrivilege in the process token. Returns 0 on success;
// otherwise the error number, with the failing call's name in *failedCall.
std::uint32_t EnableRestorePrivilege(const char** failedCall);

#endif
