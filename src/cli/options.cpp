#include "cli/options.h"

#include <cstring>

namespace {

// Letter case is ignored for the ASCII letters only, whatever the locale.
char FoldAscii(char c)
{
    return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
}

// True when `text` begins with `prefix` (lower case), letter case ignored.
bool StartsWithFolded(const char* text, const char* prefix)
{
    for (; *prefix != '\0'; ++text, ++prefix) {
        if (FoldAscii(*text) != *prefix)
            return false;
    }
    return true;
}

bool EqualsFolded(const char* text, const char* word)
{
    return StartsWithFolded(text, word) && std::strlen(text) == std::strlen(word);
}

// Copies an option's value, or leaves the buffer empty and says so when the
// value would not fit.
void StoreValue(PathBuffer& field, bool& tooLong, const char* value)
{
    const std::size_t length = std::strlen(value);
    tooLong = length > kPathChars;
    field[0] = '\0';
    if (!tooLong)
        std::memcpy(field, value, length + 1);
}

}  // namespace

bool ScanOptions(int argc, char* argv[], CommandOptions& options)
{
    for (int i = 1; i < argc; ++i) {
        const char* argument = argv[i];
        if (argument == nullptr)
            break;
        if (EqualsFolded(argument, "/?") || EqualsFolded(argument, "-?"))
            return true;
        if (EqualsFolded(argument, "/y") || EqualsFolded(argument, "-y"))
            options.confirmChange = false;
        else if (StartsWithFolded(argument, "/f:"))
            StoreValue(options.targetPath, options.targetPathTooLong, argument + 3);
        else if (StartsWithFolded(argument, "/sfn:"))
            StoreValue(options.newShortName, options.newShortNameTooLong, argument + 5);
        else if (std::strcmp(argument, "/DtbxPjyb") == 0 || std::strcmp(argument, "-MegaDeth") == 0)
            options.reportExitCode = true;
    }
    return false;
}
