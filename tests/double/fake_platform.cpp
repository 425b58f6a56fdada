#include "double/fake_platform.h"

#include <cstring>
#include <set>

namespace {

fake::Script g_script;
std::FILE* g_out = nullptr;
std::vector<fake::Call> g_calls;
std::set<char*> g_allocations;
plat::Dword g_lastError = 0;

// Distinct values the double hands out, so the recording can tell which
// handle came back to it.
char g_processObject, g_tokenObject, g_fileObject, g_moduleObject;
plat::Handle const kProcess = &g_processObject;
plat::Handle const kToken = &g_tokenObject;
plat::Handle const kFile = &g_fileObject;
plat::Module const kNetworkModule = &g_moduleObject;

std::string Quote(const char* s)
{
    return s == nullptr ? "null" : "\"" + std::string(s) + "\"";
}

std::string Hex(plat::Dword value)
{
    char text[16];
    std::snprintf(text, sizeof text, "0x%X", static_cast<unsigned>(value));
    return text;
}

std::string Dec(plat::Dword value)
{
    return std::to_string(value);
}

std::string HandleName(const void* handle)
{
    if (handle == nullptr)
        return "null";
    if (handle == kProcess)
        return "<process>";
    if (handle == kToken)
        return "<token>";
    if (handle == kFile)
        return "<file>";
    if (handle == kNetworkModule)
        return "<netmsg>";
    if (g_allocations.count(static_cast<char*>(const_cast<void*>(handle))) != 0)
        return "<text>";
    return "<unknown>";
}

void Record(const std::string& text)
{
    const long position = g_out != nullptr ? std::ftell(g_out) : -1;
    g_calls.push_back(fake::Call{text, position});
}

// Applies a scripted outcome: on failure the error becomes the last error.
bool Play(const fake::Outcome& outcome)
{
    if (!outcome.ok)
        g_lastError = outcome.error;
    return outcome.ok;
}

}  // namespace

namespace fake {

void Reset(const Script& script, std::FILE* out)
{
    for (char* text : g_allocations)
        delete[] text;
    g_allocations.clear();
    g_script = script;
    g_out = out;
    g_calls.clear();
    g_lastError = 0;
}

const std::vector<Call>& Calls() { return g_calls; }

std::vector<std::string> CallTexts()
{
    std::vector<std::string> texts;
    for (const Call& call : g_calls)
        texts.push_back(call.text);
    return texts;
}

int OutstandingAllocations() { return static_cast<int>(g_allocations.size()); }

std::string Cp932LeadBytes()
{
    std::string bytes;
    for (int b = 0x81; b <= 0x9F; ++b)
        bytes += static_cast<char>(b);
    for (int b = 0xE0; b <= 0xFC; ++b)
        bytes += static_cast<char>(b);
    return bytes;
}

}  // namespace fake

namespace plat {

Handle InvalidHandle() { return reinterpret_cast<Handle>(static_cast<std::intptr_t>(-1)); }

Bool GetVersionExA(OsVersionInfo* versionInfo)
{
    Record("GetVersionExA(" + Dec(versionInfo->osVersionInfoSize) + ")");
    versionInfo->majorVersion = 5;
    versionInfo->minorVersion = 1;
    versionInfo->buildNumber = g_script.buildNumber;
    versionInfo->platformId = 2;
    return 1;
}

Dword GetShortPathNameA(const char* longPath, char* shortPath, Dword bufferLength)
{
    Record("GetShortPathNameA(" + Quote(longPath) + ", " + Dec(bufferLength) + ")");
    if (!Play(g_script.getShortPath))
        return 0;
    const Dword length = static_cast<Dword>(g_script.shortPath.size());
    if (length + 1 > bufferLength)
        return length + 1;  // the size needed; nothing is written
    // Fill the whole of what the caller claims to have, so that a claim
    // larger than the real buffer shows up under AddressSanitizer.
    std::memset(shortPath, 0, bufferLength);
    std::memcpy(shortPath, g_script.shortPath.c_str(), length);
    return length;
}

Handle GetCurrentProcess()
{
    Record("GetCurrentProcess()");
    return kProcess;
}

Bool OpenProcessToken(Handle process, Dword desiredAccess, Handle* token)
{
    Record("OpenProcessToken(" + HandleName(process) + ", " + Hex(desiredAccess) + ")");
    if (!Play(g_script.openToken))
        return 0;
    *token = kToken;
    return 1;
}

Bool LookupPrivilegeValueA(const char* systemName, const char* name, Luid* luid)
{
    Record("LookupPrivilegeValueA(" + Quote(systemName) + ", " + Quote(name) + ")");
    if (!Play(g_script.lookupPrivilege))
        return 0;
    luid->lowPart = fake::kRestorePrivilegeLuid;
    luid->highPart = 0;
    return 1;
}

Bool AdjustTokenPrivileges(Handle token, Bool disableAllPrivileges, const TokenPrivileges* newState,
                           Dword bufferLength, TokenPrivileges* previousState, Dword* returnLength)
{
    std::string state = "null";
    if (newState != nullptr) {
        const LuidAndAttributes& entry = newState->privileges[0];
        state = "{" + Dec(newState->privilegeCount) + ", " + Dec(entry.luid.lowPart) + ":" +
                std::to_string(entry.luid.highPart) + " " + Hex(entry.attributes) + "}";
    }
    Record("AdjustTokenPrivileges(" + HandleName(token) + ", " + std::to_string(disableAllPrivileges) +
           ", " + state + ", " + Dec(bufferLength) + ", " + HandleName(previousState) + ", " +
           HandleName(returnLength) + ")");
    return Play(g_script.adjustPrivileges) ? 1 : 0;
}

Handle CreateFileA(const char* fileName, Dword desiredAccess, Dword shareMode, void* securityAttributes,
                   Dword creationDisposition, Dword flagsAndAttributes, Handle templateFile)
{
    Record("CreateFileA(" + Quote(fileName) + ", " + Hex(desiredAccess) + ", " + Hex(shareMode) + ", " +
           HandleName(securityAttributes) + ", " + Dec(creationDisposition) + ", " +
           Hex(flagsAndAttributes) + ", " + HandleName(templateFile) + ")");
    return Play(g_script.createFile) ? kFile : InvalidHandle();
}

Bool SetFileShortNameA(Handle file, const char* shortName)
{
    Record("SetFileShortNameA(" + HandleName(file) + ", " + Quote(shortName) + ")");
    return Play(g_script.setShortName) ? 1 : 0;
}

Bool CloseHandle(Handle object)
{
    Record("CloseHandle(" + HandleName(object) + ")");
    return 1;
}

Dword GetLastError()
{
    Record("GetLastError() = " + Dec(g_lastError));
    return g_lastError;
}

Module LoadLibraryExA(const char* fileName, Handle file, Dword flags)
{
    Record("LoadLibraryExA(" + Quote(fileName) + ", " + HandleName(file) + ", " + Hex(flags) + ")");
    return g_script.networkModuleLoads ? kNetworkModule : nullptr;
}

Dword FormatMessageA(Dword flags, Module source, Dword messageId, Dword languageId, char** allocatedText,
                     Dword size, void* arguments)
{
    Record("FormatMessageA(" + Hex(flags) + ", " + HandleName(source) + ", " + Dec(messageId) + ", " +
           Hex(languageId) + ", " + Dec(size) + ", " + HandleName(arguments) + ")");
    constexpr Dword kFromHmodule = 0x800;
    constexpr Dword kFromSystem = 0x1000;
    const std::string* text = nullptr;
    if ((flags & kFromHmodule) != 0 && source == kNetworkModule) {
        const auto found = g_script.networkTexts.find(messageId);
        if (found != g_script.networkTexts.end())
            text = &found->second;
    }
    if (text == nullptr && (flags & kFromSystem) != 0) {
        const auto found = g_script.systemTexts.find(messageId);
        if (found != g_script.systemTexts.end())
            text = &found->second;
    }
    if (text == nullptr) {
        g_lastError = 317;  // ERROR_MR_MID_NOT_FOUND
        return 0;
    }
    char* copy = new char[text->size() + 1];
    std::memcpy(copy, text->c_str(), text->size() + 1);
    g_allocations.insert(copy);
    *allocatedText = copy;
    return static_cast<Dword>(text->size());
}

void* LocalFree(void* memory)
{
    Record("LocalFree(" + HandleName(memory) + ")");
    char* text = static_cast<char*>(memory);
    if (g_allocations.erase(text) != 0)
        delete[] text;
    return nullptr;
}

Bool FreeLibrary(Module module)
{
    Record("FreeLibrary(" + HandleName(module) + ")");
    return 1;
}

void PrepareProcess() {}

bool IsDBCSLeadByte(unsigned char byte)
{
    return g_script.leadBytes.find(static_cast<char>(byte)) != std::string::npos;
}

char PathSeparator() { return g_script.separator; }

}  // namespace plat
