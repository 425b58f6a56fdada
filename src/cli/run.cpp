#include "cli/run.h"

#include <cstring>

#include "cli/options.h"
#include "cli/syntax.h"
#include "platform/platform.h"
#include "shortname/shortname.h"

namespace {

constexpr plat::Dword kFirstWindowsXpBuild = 2600;

constexpr std::uint32_t kExitOldSystem = 10;
constexpr std::uint32_t kExitSyntaxShown = 1;
constexpr std::uint32_t kExitNoTarget = 87;         // ERROR_INVALID_PARAMETER
constexpr std::uint32_t kExitValueTooLong = 206;    // ERROR_FILENAME_EXCED_RANGE

}  // namespace

std::uint32_t VelmoraMain(int argc, char* argv[], const Console& console)
{
    std::FILE* out = console.out;

    plat::OsVersionInfo version;
    std::memset(&version, 0, sizeof version);
    version.osVersionInfoSize = sizeof version;
    plat::GetVersionExA(&version);
    if (version.buildNumber < kFirstWindowsXpBuild) {
        std::fputs("\nWindows XP or later required.\n", out);
        return kExitOldSystem;
    }

    // A process may be started with an empty argument vector.
    const char* programName = (argc > 0 && argv[0] != nullptr) ? argv[0] : "velmora";

    CommandOptions options;
    if (ScanOptions(argc, argv, options)) {
        ShowSyntax(out, programName);
        return kExitSyntaxShown;
    }

    if (options.targetPathTooLong || options.newShortNameTooLong) {
        std::fprintf(out, "\nThe value of %s is longer than %u characters.\n",
                     options.targetPathTooLong ? "/F:" : "/SFN:",
                     static_cast<unsigned>(kPathChars));
        return kExitValueTooLong;
    }

    if (options.targetPath[0] == '\0') {
        ShowSyntax(out, programName);
        return kExitNoTarget;
    }

    return ChangeShortName(options, console);
}
