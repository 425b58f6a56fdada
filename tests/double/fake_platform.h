// A scripted stand-in for the platform layer, linked only into the unit
// tests. Every call is recorded with its arguments, in order, together with
// how much output the tool had written when it was made; results and error
// numbers come from a Script.
#ifndef VELMORA_FAKE_PLATFORM_H
#define VELMORA_FAKE_PLATFORM_H

#include <cstdio>
#include <map>
#include <string>
#include <vector>

#include "platform/platform.h"

namespace fake {

// Whether a call succeeds, and the error number GetLastError gives after it
// failed.
struct Outcome {
    bool ok = true;
    plat::Dword error = 0;
};

inline Outcome Fails(plat::Dword error) { return Outcome{false, error}; }

struct Script {
    plat::Dword buildNumber = 2600;
    std::string shortPath = "C:\\DATA\\REPORT~1.TXT";
    Outcome getShortPath, openToken, lookupPrivilege, adjustPrivileges, createFile, setShortName;
    bool networkModuleLoads = true;
    std::map<plat::Dword, std::string> systemTexts;   // the system's message table
    std::map<plat::Dword, std::string> networkTexts;  // netmsg.dll's
    std::string leadBytes;      // bytes IsDBCSLeadByte answers true for
    char separator = '\\';
};

struct Call {
    std::string text;      // e.g. CreateFileA("C:\x", 0xC0010000, 0, ...)
    long outputSoFar;      // bytes written to the tool's output before the call
};

// Starts a new scenario. `out`, when given, is the tool's output stream,
// whose position each recorded call notes.
void Reset(const Script& script, std::FILE* out = nullptr);

const std::vector<Call>& Calls();
std::vector<std::string> CallTexts();

// Texts FormatMessageA handed out and LocalFree has not yet released.
int OutstandingAllocations();

// The LUID the double gives for SeRestorePrivilege.
constexpr plat::Dword kRestorePrivilegeLuid = 18;

// The lead bytes of code page 932 (Japanese).
std::string Cp932LeadBytes();

}  // namespace fake

#endif
