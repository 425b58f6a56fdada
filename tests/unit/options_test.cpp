// The option scan and the exit codes that leave main before any short-name
// work: the gate, the syntax requests, a missing target, overlong values.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "cli/options.h"
#include "unit/harness.h"

namespace {

struct ScanCase {
    const char* name;
    std::vector<std::string> arguments;  // without the program name
    bool syntaxRequested;
    std::string targetPath;
    std::string newShortName;
    bool confirmChange;
    bool reportExitCode;
};

CommandOptions Scan(const std::vector<std::string>& arguments, bool* syntaxRequested)
{
    std::vector<std::string> storage = {"velmora"};
    storage.insert(storage.end(), arguments.begin(), arguments.end());
    std::vector<char*> argv;
    for (std::string& argument : storage)
        argv.push_back(&argument[0]);
    argv.push_back(nullptr);
    CommandOptions options;
    *syntaxRequested = ScanOptions(static_cast<int>(storage.size()), argv.data(), options);
    return options;
}

const ScanCase kScanCases[] = {
    {"Nothing", {}, false, "", "", true, false},
    {"SlashQuestion", {"/?"}, true, "", "", true, false},
    {"DashQuestion", {"-?"}, true, "", "", true, false},
    {"QuestionStopsTheScan", {"/f:C:\\x.txt", "/?", "/f:C:\\y.txt", "/y"}, true, "C:\\x.txt", "", true, false},
    {"QuestionMustBeWhole", {"/??", "/?x"}, false, "", "", true, false},
    {"UpperY", {"/Y"}, false, "", "", false, false},
    {"LowerY", {"/y"}, false, "", "", false, false},
    {"DashUpperY", {"-Y"}, false, "", "", false, false},
    {"DashLowerY", {"-y"}, false, "", "", false, false},
    {"YesIsNotY", {"/yes"}, false, "", "", true, false},
    {"TargetAnyCase", {"/F:C:\\Data\\report.txt"}, false, "C:\\Data\\report.txt", "", true, false},
    {"TargetLowerCase", {"/f:x"}, false, "x", "", true, false},
    {"ShortNameAnyCase", {"/SfN:A.TXT"}, false, "", "A.TXT", true, false},
    {"LaterValuesWin", {"/SFN:A.TXT", "/F:C:\\x.txt", "/F:C:\\y.txt"}, false, "C:\\y.txt", "A.TXT", true, false},
    {"EmptyValueClears", {"/F:C:\\x.txt", "/F:"}, false, "", "", true, false},
    {"ValueKeptAsTyped", {"/F: C:\\a b\\\"c\" ", "/SFN:/F:x"}, false, " C:\\a b\\\"c\" ", "/F:x", true, false},
    {"DashFormsOfValuesAreNotOptions", {"-F:C:\\x.txt", "-SFN:A.TXT"}, false, "", "", true, false},
    {"PrefixTooShort", {"/f", "/sfn", "/s:x"}, false, "", "", true, false},
    {"DiagnosticSlash", {"/DtbxPjyb"}, false, "", "", true, true},
    {"DiagnosticDash", {"-MegaDeth"}, false, "", "", true, true},
    {"DiagnosticExactCaseOnly", {"/dtbxpjyb", "-megadeth", "/DTBXPJYB"}, false, "", "", true, false},
    {"StrayArgumentsIgnored", {"hello", "/x", "", "C:\\x.txt"}, false, "", "", true, false},
    // Only A..Z fold: a Latin-1 capital is not the same letter as "f".
    {"OnlyAsciiFolds", {"/\xC6:x", "/\xCF:x"}, false, "", "", true, false},
};

class ScanOptionsTest : public testing::TestWithParam<ScanCase> {};

TEST_P(ScanOptionsTest, FillsTheRecord)
{
    const ScanCase& c = GetParam();
    bool syntaxRequested = false;
    const CommandOptions options = Scan(c.arguments, &syntaxRequested);
    EXPECT_EQ(syntaxRequested, c.syntaxRequested);
    EXPECT_EQ(std::string(options.targetPath), c.targetPath);
    EXPECT_EQ(std::string(options.newShortName), c.newShortName);
    EXPECT_EQ(options.confirmChange, c.confirmChange);
    EXPECT_EQ(options.reportExitCode, c.reportExitCode);
}

INSTANTIATE_TEST_SUITE_P(Rows, ScanOptionsTest, testing::ValuesIn(kScanCases),
                         [](const testing::TestParamInfo<ScanCase>& info) { return info.param.name; });

// --- values that do not fit a 260-character buffer ------------------------

TEST(OverlongValues, ScanKeepsThemOutOfTheBuffer)
{
    const std::string fits(260, 'a');
    const std::string tooLong(261, 'b');
    bool syntaxRequested = false;

    CommandOptions options = Scan({"/F:" + fits, "/SFN:" + fits}, &syntaxRequested);
    EXPECT_EQ(std::string(options.targetPath), fits);
    EXPECT_EQ(std::string(options.newShortName), fits);
    EXPECT_FALSE(options.targetPathTooLong);
    EXPECT_FALSE(options.newShortNameTooLong);

    options = Scan({"/F:" + tooLong, "/SFN:" + tooLong}, &syntaxRequested);
    EXPECT_EQ(std::string(options.targetPath), "");
    EXPECT_EQ(std::string(options.newShortName), "");
    EXPECT_TRUE(options.targetPathTooLong);
    EXPECT_TRUE(options.newShortNameTooLong);

    // A later value replaces an overlong one, as it replaces any other.
    options = Scan({"/F:" + tooLong, "/F:x"}, &syntaxRequested);
    EXPECT_EQ(std::string(options.targetPath), "x");
    EXPECT_FALSE(options.targetPathTooLong);
}

struct OverlongCase {
    const char* name;
    std::vector<std::string> arguments;
    std::string output;
};

const std::string kLong261(261, 'x');
const std::string kLong4096(4096, 'x');

const OverlongCase kOverlongCases[] = {
    {"Target261", {"/F:" + kLong261}, "\nThe value of /F: is longer than 260 characters.\n"},
    {"Target4096", {"/F:" + kLong4096, "/SFN:A.TXT", "/Y"}, "\nThe value of /F: is longer than 260 characters.\n"},
    {"ShortName261", {"/F:C:\\x.txt", "/SFN:" + kLong261, "/Y"},
     "\nThe value of /SFN: is longer than 260 characters.\n"},
    {"ShortNameWithoutTarget", {"/SFN:" + kLong261}, "\nThe value of /SFN: is longer than 260 characters.\n"},
    {"BothNamesTheTarget", {"/SFN:" + kLong261, "/F:" + kLong261}, "\nThe value of /F: is longer than 260 characters.\n"},
};

class OverlongTest : public testing::TestWithParam<OverlongCase> {};

TEST_P(OverlongTest, RefusedWith206BeforeAnythingIsTouched)
{
    const OverlongCase& c = GetParam();
    std::vector<std::string> arguments = {"velmora"};
    arguments.insert(arguments.end(), c.arguments.begin(), c.arguments.end());
    const RunResult result = RunTool(arguments, StandardScript(), "y\n");
    EXPECT_EQ(result.output, c.output);
    EXPECT_EQ(result.exitCode, 206u);
    EXPECT_EQ(fake::CallTexts(), std::vector<std::string>{"GetVersionExA(148)"});
    EXPECT_EQ(result.unreadInput, "y\n");
}

INSTANTIATE_TEST_SUITE_P(Values, OverlongTest, testing::ValuesIn(kOverlongCases),
                         [](const testing::TestParamInfo<OverlongCase>& info) { return info.param.name; });

TEST(OverlongValues, SyntaxRequestStillWins)
{
    const RunResult result = RunTool({"velmora", "/F:" + kLong261, "/?"}, StandardScript());
    EXPECT_EQ(result.exitCode, 1u);
    EXPECT_NE(result.output.find(" Syntax: velmora "), std::string::npos);
}

}  // namespace
