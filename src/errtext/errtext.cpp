#include "errtext/errtext.h"

#include <cstring>

#include "platform/platform.h"

namespace {

constexpr plat::Dword kFormatMessageAllocateBuffer = 0x00000100;
constexpr plat::Dword kFormatMessageIgnoreInserts = 0x00000200;
constexpr plat::Dword kFormatMessageFromHmodule = 0x00000800;
constexpr plat::Dword kFormatMessageFromSystem = 0x00001000;
constexpr plat::Dword kLoadLibraryAsDatafile = 0x00000002;
// Neutral language, default sublanguage: the user's default language.
constexpr plat::Dword kUserDefaultLanguage = 0x400;

// Network errors have their texts in netmsg.dll rather than the system's
// own message table.
constexpr plat::Dword kFirstNetworkError = 2100;
constexpr plat::Dword kLastNetworkError = 2999;

}  // namespace

// cppcheck-suppress constParameter ; `text` is filled by memcpy below
void GetSystemErrorText(std::uint32_t errorNumber, ErrorTextBuffer& text)
{
    ErrorTextBuffer working;
    std::memset(working, 0, sizeof working);

    plat::Module networkMessages = nullptr;
    if (errorNumber >= kFirstNetworkError && errorNumber <= kLastNetworkError)
        networkMessages = plat::LoadLibraryExA("netmsg.dll", nullptr, kLoadLibraryAsDatafile);

    plat::Dword flags = kFormatMessageAllocateBuffer | kFormatMessageIgnoreInserts |
                        kFormatMessageFromSystem;
    if (networkMessages != nullptr)
        flags |= kFormatMessageFromHmodule;

    char* allocated = nullptr;
    const plat::Dword length = plat::FormatMessageA(flags, networkMessages, errorNumber,
                                                    kUserDefaultLanguage, &allocated, 0, nullptr);
    if (allocated != nullptr) {
        // Cut at 511 characters; the last byte of `working` stays zero.
        for (std::size_t i = 0; i < length && i < sizeof working - 1 && allocated[i] != '\0'; ++i)
            working[i] = allocated[i];
        plat::LocalFree(allocated);
    }
    if (networkMessages != nullptr)
        plat::FreeLibrary(networkMessages);

    std::memcpy(text, working, sizeof working);
}
