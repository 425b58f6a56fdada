// libFuzzer target: the whole program over the platform double, with the
// argument vector, standard input and every call's result taken from the
// input. Besides crashes and sanitizer reports it checks what the tool
// promises: it changes only the item named, with the name given, after
// consent; every text it is handed is released.
//
// Input layout (see make_corpus.py):
//   byte 0      flags: 1 old Windows, 2 netmsg.dll loads, 4 double-byte
//               code page, 8 '/' separates paths
//   byte 1      which call fails: 0 none, 1 GetShortPathNameA,
//               2 OpenProcessToken, 3 LookupPrivilegeValueA,
//               4 AdjustTokenPrivileges, 5 CreateFileA, 6 SetFileShortNameA
//   bytes 2..5  its error number, little-endian
//   byte 6      length of the message text, in units of 4 characters
//   then        the short path, up to a zero byte
//   then        the arguments after the program name, each ended by a zero
//               byte; an empty one ends the list
//   then        standard input, to the end
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "double/fake_platform.h"
#include "unit/harness.h"

namespace {

struct Reader {
    const std::uint8_t* data;
    std::size_t size;
    std::size_t at = 0;

    std::uint8_t Byte() { return at < size ? data[at++] : 0; }
    // A zero-terminated string; the end of the input ends it too.
    std::string String(bool* ended)
    {
        std::string s;
        while (at < size && data[at] != 0)
            s += static_cast<char>(data[at++]);
        *ended = at >= size;
        if (!*ended)
            ++at;
        return s;
    }
};

char Fold(char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c; }

bool StartsFolded(const std::string& s, const char* prefix)
{
    std::size_t i = 0;
    for (; prefix[i] != '\0'; ++i) {
        if (i >= s.size() || Fold(s[i]) != prefix[i])
            return false;
    }
    return true;
}

bool EqualsFolded(const std::string& s, const char* word)
{
    return s.size() == std::strlen(word) && StartsFolded(s, word);
}

void Require(bool condition, const char* what)
{
    if (!condition) {
        std::fprintf(stderr, "broken promise: %s\n", what);
        std::abort();
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    Reader reader{data, size};
    const std::uint8_t flags = reader.Byte();
    const std::uint8_t failing = reader.Byte();
    plat::Dword error = 0;
    for (int i = 0; i < 4; ++i)
        error |= static_cast<plat::Dword>(reader.Byte()) << (8 * i);
    const std::size_t textLength = static_cast<std::size_t>(reader.Byte()) * 4;

    fake::Script script;
    script.buildNumber = (flags & 1) != 0 ? 2195 : 2600;
    script.networkModuleLoads = (flags & 2) != 0;
    if ((flags & 4) != 0)
        script.leadBytes = fake::Cp932LeadBytes();
    script.separator = (flags & 8) != 0 ? '/' : '\\';
    fake::Outcome* outcomes[] = {nullptr, &script.getShortPath, &script.openToken, &script.lookupPrivilege,
                                 &script.adjustPrivileges, &script.createFile, &script.setShortName};
    if (failing >= 1 && failing <= 6)
        *outcomes[failing] = fake::Fails(error);
    script.systemTexts[0] = std::string(textLength, 'S') + "\r\n";
    script.systemTexts[error] = std::string(textLength, 'E') + "\r\n";
    script.networkTexts[error] = std::string(textLength, 'N') + "\r\n";

    bool ended = false;
    script.shortPath = reader.String(&ended);
    std::vector<std::string> arguments = {"velmora"};
    while (!ended) {
        std::string argument = reader.String(&ended);
        if (argument.empty())
            break;
        arguments.push_back(argument);
    }
    const std::string input(reinterpret_cast<const char*>(data) + reader.at, size - reader.at);

    // What the tool must do with these arguments, worked out independently.
    std::string target, newName;
    bool confirm = true, syntax = false;
    for (std::size_t i = 1; i < arguments.size() && !syntax; ++i) {
        const std::string& a = arguments[i];
        if (EqualsFolded(a, "/?") || EqualsFolded(a, "-?"))
            syntax = true;
        else if (EqualsFolded(a, "/y") || EqualsFolded(a, "-y"))
            confirm = false;
        else if (StartsFolded(a, "/f:"))
            target = a.substr(3);
        else if (StartsFolded(a, "/sfn:"))
            newName = a.substr(5);
    }
    const bool consent = !confirm || (!input.empty() && (input[0] == 'y' || input[0] == 'Y'));

    std::FILE* in = input.empty() ? std::fopen("/dev/null", "r")
                                  : fmemopen(const_cast<char*>(input.data()), input.size(), "r");
    char* outBuffer = nullptr;
    std::size_t outSize = 0;
    std::FILE* out = open_memstream(&outBuffer, &outSize);
    Require(in != nullptr && out != nullptr, "test streams");

    const std::uint32_t exitCode = RunToolWith(arguments, script, in, out);
    std::fclose(in);
    std::fclose(out);
    const std::string output(outBuffer, outSize);
    std::free(outBuffer);

    Require(!output.empty() && output[0] == '\n', "every run prints a message that starts with a line feed");
    Require(fake::OutstandingAllocations() == 0, "every message text is released");

    int creates = 0, closes = 0, sets = 0;
    for (const fake::Call& call : fake::Calls()) {
        const std::string& text = call.text;
        if (text.rfind("CreateFileA(", 0) == 0) {
            ++creates;
            Require(text.rfind("CreateFileA(\"" + target + "\", ", 0) == 0, "only the item named is opened");
        } else if (text.rfind("CloseHandle(", 0) == 0) {
            ++closes;
        } else if (text.rfind("SetFileShortNameA(", 0) == 0) {
            ++sets;
            Require(text == "SetFileShortNameA(<file>, \"" + newName + "\")", "only the name given is set");
        }
    }
    if (creates + sets > 0) {
        Require(script.buildNumber >= 2600 && !syntax, "nothing is touched on old Windows or for /?");
        Require(consent, "nothing is changed without consent");
        Require(target.size() <= 260 && newName.size() <= 260 && !newName.empty(), "only values that fit are used");
    }
    Require(sets <= 1 && creates <= 1, "one item, one change");
    Require(closes == (sets > 0 ? 1 : 0), "the handle is closed exactly when it was opened");
    if (sets > 0)
        Require(exitCode == (failing == 6 ? error : 0u), "the outcome of the change is the exit code");
    return 0;
}
