// The short-name change: what it prints, what it returns, and what it asks
// of the system, in which order and with which arguments.
#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <string>
#include <vector>

#include "unit/harness.h"

#if defined(__GLIBC__)
#include <sys/stat.h>
#endif

namespace {

const char* const kTarget = "C:\\Data\\report.txt";
const std::string kShown = "\nThe current SFN is: 'REPORT~1.TXT'\n";
const std::string kQuestion = "\nAre you sure you want to modify 'C:\\Data\\report.txt' [y/n]? ";
const std::string kCancelled = "\nThe operation was cancelled.\n";

std::vector<std::string> Change(std::vector<std::string> extra = {})
{
    std::vector<std::string> arguments = {"velmora", std::string("/F:") + kTarget, "/SFN:NEWNAME.TXT"};
    arguments.insert(arguments.end(), extra.begin(), extra.end());
    return arguments;
}

// The calls of a whole successful change, in order.
const std::vector<std::string> kSuccessCalls = {
    "GetVersionExA(148)",
    "GetShortPathNameA(\"C:\\Data\\report.txt\", 260)",
    "GetCurrentProcess()",
    "OpenProcessToken(<process>, 0x28)",
    "LookupPrivilegeValueA(null, \"SeRestorePrivilege\")",
    "AdjustTokenPrivileges(<token>, 0, {1, 18:0 0x2}, 0, null, null)",
    "CreateFileA(\"C:\\Data\\report.txt\", 0xC0010000, 0x0, null, 3, 0x2000020, null)",
    "SetFileShortNameA(<file>, \"NEWNAME.TXT\")",
    "CloseHandle(<file>)",
    "FormatMessageA(0x1300, null, 0, 0x400, 0, null)",
    "LocalFree(<text>)",
};

TEST(ShortNameChange, ConfirmedChangeMakesEveryCallInOrder)
{
    const RunResult result = RunTool(Change(), StandardScript(), "y\n");
    EXPECT_EQ(result.output, kShown + kQuestion + "\n\n" + kTextSuccess + "\n");
    EXPECT_EQ(result.exitCode, 0u);
    EXPECT_EQ(fake::CallTexts(), kSuccessCalls);
    EXPECT_EQ(fake::OutstandingAllocations(), 0);
}

TEST(ShortNameChange, SlashYAsksNothingAndReadsNothing)
{
    for (const char* y : {"/Y", "/y", "-Y", "-y"}) {
        const RunResult result = RunTool(Change({y}), StandardScript(), "n\n");
        EXPECT_EQ(result.output, kShown + "\n\n" + kTextSuccess + "\n") << y;
        EXPECT_EQ(result.exitCode, 0u) << y;
        EXPECT_EQ(result.unreadInput, "n\n") << y;
        EXPECT_EQ(fake::CallTexts(), kSuccessCalls) << y;
    }
}

TEST(ShortNameChange, QueryOnlyShowsTheNameAndTouchesNothingElse)
{
    const RunResult result = RunTool({"velmora", std::string("/F:") + kTarget, "/SFN:"}, StandardScript(), "y\n");
    EXPECT_EQ(result.output, kShown);
    EXPECT_EQ(result.exitCode, 1u);
    EXPECT_EQ(result.unreadInput, "y\n");
    EXPECT_EQ(fake::CallTexts(), std::vector<std::string>(kSuccessCalls.begin(), kSuccessCalls.begin() + 2));
}

// --- the answer to the question -----------------------------------------

struct AnswerCase {
    const char* name;
    std::string input;
    bool agrees;
    std::string leftUnread;  // only the first character is ever read
};

const AnswerCase kAnswerCases[] = {
    {"y", "y\n", true, "\n"},
    {"Y", "Y\n", true, "\n"},
    {"yes", "yes\n", true, "es\n"},
    {"Yes", "Yes\n", true, "es\n"},
    {"yWithoutLineEnd", "y", true, ""},
    {"n", "n\n", false, "\n"},
    {"EmptyLine", "\n", false, "\n"},
    {"BlankThenY", " y\n", false, "y\n"},
    {"EndOfInput", "", false, ""},
    {"TabThenY", "\ty\n", false, "y\n"},
    {"NulByte", std::string("\0y\n", 3), false, "y\n"},
    {"HighByte", "\xFFy\n", false, "y\n"},
    {"LaterLinesAreNotRead", "n\ny\ny\n", false, "\ny\ny\n"},
};

class AnswerTest : public testing::TestWithParam<AnswerCase> {};

TEST_P(AnswerTest, OnlyAFirstYAgrees)
{
    const AnswerCase& c = GetParam();
    const RunResult result = RunTool(Change(), StandardScript(), c.input);
    EXPECT_EQ(result.unreadInput, c.leftUnread);
    if (c.agrees) {
        EXPECT_EQ(result.output, kShown + kQuestion + "\n\n" + kTextSuccess + "\n");
        EXPECT_EQ(result.exitCode, 0u);
        EXPECT_EQ(fake::CallTexts(), kSuccessCalls);
    } else {
        EXPECT_EQ(result.output, kShown + kQuestion + kCancelled);
        EXPECT_EQ(result.exitCode, 156u);
        // A refusal touches nothing after the query.
        EXPECT_EQ(fake::CallTexts(),
                  std::vector<std::string>(kSuccessCalls.begin(), kSuccessCalls.begin() + 2));
    }
}

INSTANTIATE_TEST_SUITE_P(Answers, AnswerTest, testing::ValuesIn(kAnswerCases),
                         [](const testing::TestParamInfo<AnswerCase>& info) { return info.param.name; });

#if defined(__GLIBC__)
// The question must be on the screen before the tool waits: at the moment
// standard input is first read, standard output must already hold it.
struct FlushProbe {
    std::FILE* out;
    std::string input;
    std::size_t offset;
    long flushedWhenRead;  // -1 until the first read
};

ssize_t ProbeRead(void* cookie, char* buffer, size_t size)
{
    FlushProbe* probe = static_cast<FlushProbe*>(cookie);
    if (probe->flushedWhenRead < 0) {
        struct stat status;
        probe->flushedWhenRead = fstat(fileno(probe->out), &status) == 0 ? static_cast<long>(status.st_size) : -2;
    }
    std::size_t n = probe->input.size() - probe->offset;
    if (n > size)
        n = size;
    std::memcpy(buffer, probe->input.data() + probe->offset, n);
    probe->offset += n;
    return static_cast<ssize_t>(n);
}

TEST(ShortNameChange, OutputIsFlushedBeforeTheAnswerIsRead)
{
    std::FILE* out = std::tmpfile();
    ASSERT_NE(out, nullptr);
    static char buffer[1 << 16];
    ASSERT_EQ(setvbuf(out, buffer, _IOFBF, sizeof buffer), 0);  // nothing reaches the file unless flushed
    FlushProbe probe{out, "y\n", 0, -1};
    cookie_io_functions_t functions = {ProbeRead, nullptr, nullptr, nullptr};
    std::FILE* in = fopencookie(&probe, "r", functions);
    ASSERT_NE(in, nullptr);

    EXPECT_EQ(RunToolWith(Change(), StandardScript(), in, out), 0u);
    EXPECT_EQ(probe.flushedWhenRead, static_cast<long>(kShown.size() + kQuestion.size()));
    std::fclose(in);
    std::fclose(out);
}
#endif

// --- every way it can end -------------------------------------------------

struct OutcomeCase {
    const char* name;
    std::function<void(fake::Script&)> arrange;
    std::vector<std::string> extraArguments;
    std::string output;
    std::uint32_t exitCode;
};

const OutcomeCase kOutcomeCases[] = {
    {"ShortPathFails", [](fake::Script& s) { s.getShortPath = fake::Fails(2); }, {},
     "\nSystem error 2 has occurred.\n\n" + std::string(kTextNotFound), 2},
    {"ShortPathFailsOnAFolder", [](fake::Script& s) { s.getShortPath = fake::Fails(3); }, {"/Y"},
     "\nSystem error 3 has occurred.\n\n" + std::string(kTextPathNotFound), 3},
    {"ShortPathFailsWithoutText", [](fake::Script& s) { s.getShortPath = fake::Fails(4294967295u); }, {},
     "\nSystem error 4294967295 has occurred.\n\n", 4294967295u},
    {"OpenProcessTokenFails", [](fake::Script& s) { s.openToken = fake::Fails(5); }, {"/Y"},
     kShown + "\n\nOpenProcessToken failed, error 5.", 5},
    {"LookupPrivilegeValueFails", [](fake::Script& s) { s.lookupPrivilege = fake::Fails(1313); }, {"/Y"},
     kShown + "\n\nLookupPrivilegeValue failed, error 1313.", 1313},
    {"AdjustTokenPrivilegesFails", [](fake::Script& s) { s.adjustPrivileges = fake::Fails(6); }, {"/Y"},
     kShown + "\n\nAdjustTokenPrivileges failed, error 6.", 6},
    {"PrivilegeFailureIgnoresDiagnostics", [](fake::Script& s) { s.openToken = fake::Fails(5); },
     {"/Y", "/DtbxPjyb"}, kShown + "\n\nOpenProcessToken failed, error 5.", 5},
    {"CreateFileFails", [](fake::Script& s) { s.createFile = fake::Fails(5); }, {"/Y"},
     kShown + "\n\nSystem error 5 has occurred.\n\n" + kTextDenied, 5},
    {"CreateFileFailsWithDiagnostics", [](fake::Script& s) { s.createFile = fake::Fails(32); },
     {"/Y", "-MegaDeth"}, kShown + "\n\nSystem error 32 has occurred.\n\n", 32},
    {"CreateFileFailsOnTheNetwork", [](fake::Script& s) { s.createFile = fake::Fails(2102); }, {"/Y"},
     kShown + "\n\nSystem error 2102 has occurred.\n\n" + kTextNetwork, 2102},
    {"SetFileShortNameFails", [](fake::Script& s) { s.setShortName = fake::Fails(123); }, {"/Y"},
     kShown + "\n\n" + kTextBadName + "\n", 123},
    {"SetFileShortNameFailsWithDiagnostics", [](fake::Script& s) { s.setShortName = fake::Fails(1314); },
     {"/Y", "/DtbxPjyb"},
     kShown + "\n\nProcess is exiting with return code 1314.\n\n" + kTextNoPrivilege + "\n", 1314},
    {"SuccessWithDiagnostics", [](fake::Script&) {}, {"/Y", "-MegaDeth"},
     kShown + "\n\nProcess is exiting with return code 0.\n\n" + kTextSuccess + "\n", 0},
    {"SuccessWithoutText", [](fake::Script& s) { s.systemTexts.erase(0); }, {"/Y"}, kShown + "\n\n\n", 0},
};

class OutcomeTest : public testing::TestWithParam<OutcomeCase> {};

TEST_P(OutcomeTest, PrintsAndReturns)
{
    const OutcomeCase& c = GetParam();
    fake::Script script = StandardScript();
    c.arrange(script);
    const RunResult result = RunTool(Change(c.extraArguments), script);
    EXPECT_EQ(result.output, c.output);
    EXPECT_EQ(result.exitCode, c.exitCode);
    EXPECT_EQ(fake::OutstandingAllocations(), 0);
}

INSTANTIATE_TEST_SUITE_P(Rows, OutcomeTest, testing::ValuesIn(kOutcomeCases),
                         [](const testing::TestParamInfo<OutcomeCase>& info) { return info.param.name; });

// Each failure's number is read right after the call that failed, and the
// run stops there.
TEST(ShortNameChange, FailuresStopAtTheFailingCall)
{
    struct Step {
        std::function<void(fake::Script&)> arrange;
        std::size_t failingCall;  // index into kSuccessCalls
    };
    const Step steps[] = {
        {[](fake::Script& s) { s.getShortPath = fake::Fails(2); }, 1},
        {[](fake::Script& s) { s.openToken = fake::Fails(5); }, 3},
        {[](fake::Script& s) { s.lookupPrivilege = fake::Fails(1313); }, 4},
        {[](fake::Script& s) { s.adjustPrivileges = fake::Fails(6); }, 5},
        {[](fake::Script& s) { s.createFile = fake::Fails(5); }, 6},
    };
    for (const Step& step : steps) {
        fake::Script script = StandardScript();
        step.arrange(script);
        RunTool(Change({"/Y"}), script);
        const std::vector<std::string> calls = fake::CallTexts();
        ASSERT_GT(calls.size(), step.failingCall + 1);
        EXPECT_EQ(std::vector<std::string>(calls.begin(), calls.begin() + static_cast<long>(step.failingCall) + 1),
                  std::vector<std::string>(kSuccessCalls.begin(), kSuccessCalls.begin() + static_cast<long>(step.failingCall) + 1));
        EXPECT_EQ(calls[step.failingCall + 1].rfind("GetLastError() = ", 0), 0u) << calls[step.failingCall + 1];
        for (std::size_t i = step.failingCall + 2; i < calls.size(); ++i)
            EXPECT_EQ(calls[i].rfind("FormatMessageA", 0) == 0 || calls[i].rfind("LocalFree", 0) == 0, true) << calls[i];
    }
}

TEST(ShortNameChange, ErrorIsReadBeforeTheHandleIsClosedAndClosedBeforeTheReport)
{
    fake::Script script = StandardScript();
    script.setShortName = fake::Fails(123);
    const RunResult result = RunTool(Change({"/Y", "/DtbxPjyb"}), script);
    const std::vector<fake::Call>& calls = fake::Calls();
    ASSERT_EQ(calls.size(), 12u);
    EXPECT_EQ(calls[7].text, "SetFileShortNameA(<file>, \"NEWNAME.TXT\")");
    EXPECT_EQ(calls[8].text, "GetLastError() = 123");
    EXPECT_EQ(calls[9].text, "CloseHandle(<file>)");
    // When the handle is closed, nothing of the report has been written.
    EXPECT_EQ(calls[9].outputSoFar, static_cast<long>(kShown.size()));
    EXPECT_EQ(result.exitCode, 123u);
}

// --- the current short name shown ----------------------------------------

struct ShownCase {
    const char* name;
    std::string shortPath;
    std::string shownName;
    bool doubleByteCodePage;
};

const ShownCase kShownCases[] = {
    {"File", "C:\\PROGRA~1\\REPORT~1.TXT", "REPORT~1.TXT", false},
    {"RootFolder", "C:\\", "", false},
    {"RelativeNameWithoutSeparator", "REPORT~1.TXT", "REPORT~1.TXT", false},
    {"LongerThanTheBuffer", "C:\\" + std::string(300, 'A'), "", false},
    {"ExactlyFillsTheBuffer", "C:\\" + std::string(256, 'A'), std::string(256, 'A'), false},
    {"DoubleByteTrailIsNotASeparator", "C:\\DATA\\\x95\x5C~1.TXT", "\x95\x5C~1.TXT", true},
    {"DoubleByteFolder", "C:\\\x83\x5C\\A.TXT", "A.TXT", true},
};

class ShownNameTest : public testing::TestWithParam<ShownCase> {};

TEST_P(ShownNameTest, IsTheLastComponent)
{
    const ShownCase& c = GetParam();
    fake::Script script = StandardScript();
    script.shortPath = c.shortPath;
    if (c.doubleByteCodePage)
        script.leadBytes = fake::Cp932LeadBytes();
    const RunResult result = RunTool({"velmora", "/F:x"}, script);
    EXPECT_EQ(result.output, "\nThe current SFN is: '" + c.shownName + "'\n");
    EXPECT_EQ(result.exitCode, 1u);
}

INSTANTIATE_TEST_SUITE_P(ShortPaths, ShownNameTest, testing::ValuesIn(kShownCases),
                         [](const testing::TestParamInfo<ShownCase>& info) { return info.param.name; });

TEST(ShortNameChange, QuestionNamesThePathAsTyped)
{
    fake::Script script = StandardScript();
    script.leadBytes = fake::Cp932LeadBytes();
    const RunResult result =
        RunTool({"velmora", "/F:c:\\data\\\x95\x5C 'x'.txt", "/SFN:A"}, script, "n\n");
    EXPECT_EQ(result.output, kShown + "\nAre you sure you want to modify 'c:\\data\\\x95\x5C 'x'.txt' [y/n]? " + kCancelled);
}

TEST(ShortNameChange, NewNameIsPassedOnUnchecked)
{
    for (const char* name : {"not a valid name.toolong", "A.B.C", "*?", "\xE9T\xC9.TXT"}) {
        RunTool({"velmora", "/F:x", std::string("/SFN:") + name, "/Y"}, StandardScript());
        EXPECT_EQ(fake::CallTexts()[7], "SetFileShortNameA(<file>, \"" + std::string(name) + "\")");
    }
}

}  // namespace
