// The syntax screen, the gate, and the runs that end with them.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "unit/harness.h"

namespace {

std::string Screen(const std::string& programName)
{
    return "\n\nVelmora [Version 1.00]\n\n"
           "\n Sets the 8.3 SFN (Short File Name) for the specified file or folder."
           "\n Requires Windows XP or later."
           "\n\n"
           "\n Syntax: " + programName + " /F:filename [/SFN:shortname] [/Y]\n"
           "\n /F:\tSpecifies an existing file or folder to modify."
           "\n /SFN:\tSpecifies the new short name.  Must be a valid 8.3 format name."
           "\n /Y\tSuppresses the 'Are you sure' prompt."
           "\n"
           "\n /? or -? displays this syntax and always returns 1."
           "\n A successful completion returns 0."
           "\n\n"
           "\n Velmora is free software from the Velmora project; it comes with no warranty.\n";
}

const char* const kGateMessage = "\nWindows XP or later required.\n";

struct RunCase {
    const char* name;
    plat::Dword buildNumber;
    std::vector<std::string> arguments;  // without the program name
    std::uint32_t exitCode;
    bool syntaxShown;                    // else the gate message
};

const RunCase kRunCases[] = {
    {"NoArguments", 2600, {}, 87, true},
    {"SlashQuestion", 2600, {"/?"}, 1, true},
    {"DashQuestion", 2600, {"-?"}, 1, true},
    {"QuestionAfterATarget", 2600, {"/f:C:\\x.txt", "/SFN:A.TXT", "/y", "/?"}, 1, true},
    {"EmptyTarget", 2600, {"/F:"}, 87, true},
    {"DashTargetIsNoTarget", 2600, {"-F:C:\\x.txt"}, 87, true},
    {"OnlyAShortName", 2600, {"/SFN:A.TXT", "/Y"}, 87, true},
    {"LaterBuildsPass", 7601, {"/?"}, 1, true},
    {"GateBeforeSyntax", 2599, {"/?"}, 10, false},
    {"GateWithNoArguments", 2195, {}, 10, false},
    {"GateBeforeTheWork", 0, {"/F:C:\\x.txt", "/SFN:A.TXT", "/Y"}, 10, false},
};

class ExitCodeTest : public testing::TestWithParam<RunCase> {};

TEST_P(ExitCodeTest, PrintsAndReturns)
{
    const RunCase& c = GetParam();
    fake::Script script = StandardScript();
    script.buildNumber = c.buildNumber;
    std::vector<std::string> arguments = {"C:\\Tools\\velmora.exe"};
    arguments.insert(arguments.end(), c.arguments.begin(), c.arguments.end());

    const RunResult result = RunTool(arguments, script, "y\n");

    EXPECT_EQ(result.output, c.syntaxShown ? Screen("velmora.exe") : kGateMessage);
    EXPECT_EQ(result.exitCode, c.exitCode);
    // The version is asked with the record's size, and nothing else is
    // touched: no file system, no token, no standard input.
    EXPECT_EQ(fake::CallTexts(), std::vector<std::string>{"GetVersionExA(148)"});
    EXPECT_EQ(result.unreadInput, "y\n");
}

INSTANTIATE_TEST_SUITE_P(Rows, ExitCodeTest, testing::ValuesIn(kRunCases),
                         [](const testing::TestParamInfo<RunCase>& info) { return info.param.name; });

// --- the program name on the syntax line ---------------------------------

struct NameCase {
    const char* name;
    std::string invokedAs;
    std::string shown;
    char separator;
    bool doubleByteCodePage;
};

const NameCase kNameCases[] = {
    {"FullPath", "C:\\Tools\\prog.exe", "prog.exe", '\\', false},
    {"BareName", "prog", "prog", '\\', false},
    {"ForwardSlashesDoNotSeparate", "C:/Tools/prog.exe", "C:/Tools/prog.exe", '\\', false},
    {"TrailingBackslash", "C:\\Tools\\", "", '\\', false},
    {"RelativeWithDots", "..\\bin\\v.exe", "v.exe", '\\', false},
    {"Empty", "", "", '\\', false},
    // 0x95 0x5C is one character in code page 932; its second byte is not
    // a backslash.
    {"DoubleByteTrailIsNotASeparator", "C:\\Tools\\\x95\x5C.exe", "\x95\x5C.exe", '\\', true},
    {"DoubleByteAtTheEnd", "C:\\\x83\x5C", "\x83\x5C", '\\', true},
    {"DoubleByteFolder", "C:\\\x95\x5C\\v.exe", "v.exe", '\\', true},
    {"SingleByteCodePageSplitsThere", "C:\\Tools\\\x95\x5C.exe", ".exe", '\\', false},
    {"LoneLeadByteAtTheEnd", "C:\\a\\b\x95", "b\x95", '\\', true},
    {"PosixSeparator", "/usr/local/bin/velmora", "velmora", '/', false},
    {"PosixBackslashIsAName", "/opt/a\\b", "a\\b", '/', false},
};

class ProgramNameTest : public testing::TestWithParam<NameCase> {};

TEST_P(ProgramNameTest, ShowsTheLastComponent)
{
    const NameCase& c = GetParam();
    fake::Script script = StandardScript();
    script.separator = c.separator;
    if (c.doubleByteCodePage)
        script.leadBytes = fake::Cp932LeadBytes();
    const RunResult result = RunTool({c.invokedAs, "/?"}, script);
    EXPECT_EQ(result.output, Screen(c.shown));
    EXPECT_EQ(result.exitCode, 1u);
}

INSTANTIATE_TEST_SUITE_P(Names, ProgramNameTest, testing::ValuesIn(kNameCases),
                         [](const testing::TestParamInfo<NameCase>& info) { return info.param.name; });

TEST(ProgramName, AnEmptyArgumentVectorIsSafe)
{
    std::FILE* in = std::tmpfile();
    std::FILE* out = std::tmpfile();
    ASSERT_NE(in, nullptr);
    ASSERT_NE(out, nullptr);
    const std::uint32_t exitCode = RunToolWith({}, StandardScript(), in, out);
    std::rewind(out);
    EXPECT_EQ(ReadStream(out), Screen("velmora"));
    EXPECT_EQ(exitCode, 87u);
    std::fclose(in);
    std::fclose(out);
}

}  // namespace
