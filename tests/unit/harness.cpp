#include "unit/harness.h"

#include <cstdlib>

#include "cli/run.h"

const char* const kTextSuccess = "The operation completed successfully.\r\n";
const char* const kTextNotFound = "The system cannot find the file specified.\r\n";
const char* const kTextPathNotFound = "The system cannot find the path specified.\r\n";
const char* const kTextDenied = "Access is denied.\r\n";
const char* const kTextBadName = "The filename, directory name, or volume label syntax is incorrect.\r\n";
const char* const kTextNoPrivilege = "A required privilege is not held by the client.\r\n";
const char* const kTextNetwork = "The workstation driver is not installed.\r\n";

fake::Script StandardScript()
{
    fake::Script script;
    script.systemTexts = {{0, kTextSuccess}, {2, kTextNotFound},    {3, kTextPathNotFound},
                          {5, kTextDenied},  {123, kTextBadName},   {1314, kTextNoPrivilege}};
    script.networkTexts = {{2102, kTextNetwork}};
    return script;
}

std::string ReadStream(std::FILE* stream)
{
    std::string text;
    char chunk[4096];
    std::size_t n;
    while ((n = std::fread(chunk, 1, sizeof chunk, stream)) > 0)
        text.append(chunk, n);
    return text;
}

std::uint32_t RunToolWith(const std::vector<std::string>& arguments, const fake::Script& script,
                          std::FILE* in, std::FILE* out)
{
    // main's argv is writable and ends with a null pointer.
    std::vector<std::vector<char>> storage;
    for (const std::string& argument : arguments)
        storage.emplace_back(argument.c_str(), argument.c_str() + argument.size() + 1);
    std::vector<char*> argv;
    for (std::vector<char>& argument : storage)
        argv.push_back(argument.data());
    argv.push_back(nullptr);

    fake::Reset(script, out);
    return VelmoraMain(static_cast<int>(arguments.size()), argv.data(), Console{in, out});
}

RunResult RunTool(const std::vector<std::string>& arguments, const fake::Script& script,
                  const std::string& input)
{
    std::FILE* in = std::tmpfile();
    std::FILE* out = std::tmpfile();
    if (in == nullptr || out == nullptr)
        std::abort();
    std::fwrite(input.data(), 1, input.size(), in);
    std::rewind(in);

    RunResult result;
    result.exitCode = RunToolWith(arguments, script, in, out);
    result.unreadInput = ReadStream(in);
    std::rewind(out);
    result.output = ReadStream(out);
    std::fclose(in);
    std::fclose(out);
    return result;
}
