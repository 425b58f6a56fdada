// Runs the whole tool over the platform double, with an argument vector,
// standard input and standard output of the test's choosing.
#ifndef VELMORA_HARNESS_H
#define VELMORA_HARNESS_H

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "double/fake_platform.h"

// Message texts of the scripted system. Each carries its own CR LF, as
// Windows' do.
extern const char* const kTextSuccess;      // 0
extern const char* const kTextNotFound;     // 2
extern const char* const kTextPathNotFound; // 3
extern const char* const kTextDenied;       // 5
extern const char* const kTextBadName;      // 123
extern const char* const kTextNoPrivilege;  // 1314
extern const char* const kTextNetwork;      // 2102, in netmsg.dll

// A system that answers every call with success and knows the texts above.
fake::Script StandardScript();

struct RunResult {
    std::string output;
    std::uint32_t exitCode;
    std::string unreadInput;  // what the tool left of its standard input
};

// `arguments` starts with the program name. `input` is the whole of
// standard input; it ends after it.
RunResult RunTool(const std::vector<std::string>& arguments, const fake::Script& script,
                  const std::string& input = "");

// Runs with standard input and output supplied by the caller.
std::uint32_t RunToolWith(const std::vector<std::string>& arguments, const fake::Script& script,
                          std::FILE* in, std::FILE* out);

std::string ReadStream(std::FILE* stream);

#endif
