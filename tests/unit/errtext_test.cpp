// Error numbers turned into the system's texts.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "errtext/errtext.h"
#include "unit/harness.h"

namespace {

std::string TextFor(std::uint32_t number, const fake::Script& script)
{
    fake::Reset(script);
    ErrorTextBuffer text;
    std::memset(text, 'X', sizeof text);  // whatever was there before is replaced
    GetSystemErrorText(number, text);
    return std::string(text);
}

struct LookupCase {
    const char* name;
    std::uint32_t number;
    bool moduleLoads;
    std::string text;
    std::vector<std::string> calls;
};

const std::vector<std::string> SystemOnly(std::uint32_t number, bool found)
{
    std::vector<std::string> calls = {"FormatMessageA(0x1300, null, " + std::to_string(number) + ", 0x400, 0, null)"};
    if (found)
        calls.push_back("LocalFree(<text>)");
    return calls;
}

const std::vector<std::string> WithModule(std::uint32_t number, bool found)
{
    std::vector<std::string> calls = {
        "LoadLibraryExA(\"netmsg.dll\", null, 0x2)",
        "FormatMessageA(0x1B00, <netmsg>, " + std::to_string(number) + ", 0x400, 0, null)"};
    if (found)
        calls.push_back("LocalFree(<text>)");
    calls.push_back("FreeLibrary(<netmsg>)");
    return calls;
}

const LookupCase kLookupCases[] = {
    {"Success", 0, true, kTextSuccess, SystemOnly(0, true)},
    {"Ordinary", 5, true, kTextDenied, SystemOnly(5, true)},
    {"BelowTheNetworkRange", 2099, true, "text 2099\r\n", SystemOnly(2099, true)},
    {"FirstNetworkNumber", 2100, true, "network 2100\r\n", WithModule(2100, true)},
    {"NetworkText", 2102, true, kTextNetwork, WithModule(2102, true)},
    {"LastNetworkNumber", 2999, true, "network 2999\r\n", WithModule(2999, true)},
    {"AboveTheNetworkRange", 3000, true, "text 3000\r\n", SystemOnly(3000, true)},
    {"NetworkNumberWithoutModuleText", 2500, true, "system 2500\r\n", WithModule(2500, true)},
    {"ModuleMissing", 2102, false, "",
     {"LoadLibraryExA(\"netmsg.dll\", null, 0x2)", "FormatMessageA(0x1300, null, 2102, 0x400, 0, null)"}},
    {"NoTextAtAll", 4242, true, "", SystemOnly(4242, false)},
    {"NoNetworkTextAtAll", 2998, true, "", WithModule(2998, false)},
};

class LookupTest : public testing::TestWithParam<LookupCase> {};

TEST_P(LookupTest, AsksTheRightTableAndReleasesEverything)
{
    const LookupCase& c = GetParam();
    fake::Script script = StandardScript();
    script.networkModuleLoads = c.moduleLoads;
    script.systemTexts[2099] = "text 2099\r\n";
    script.systemTexts[3000] = "text 3000\r\n";
    script.systemTexts[2500] = "system 2500\r\n";
    script.networkTexts[2100] = "network 2100\r\n";
    script.networkTexts[2999] = "network 2999\r\n";
    EXPECT_EQ(TextFor(c.number, script), c.text);
    EXPECT_EQ(fake::CallTexts(), c.calls);
    EXPECT_EQ(fake::OutstandingAllocations(), 0);
}

INSTANTIATE_TEST_SUITE_P(Numbers, LookupTest, testing::ValuesIn(kLookupCases),
                         [](const testing::TestParamInfo<LookupCase>& info) { return info.param.name; });

TEST(SystemErrorText, LongTextsAreCutAt511Characters)
{
    for (std::size_t length : {510u, 511u, 512u, 600u, 70000u}) {
        fake::Script script = StandardScript();
        std::string longText(length, 'm');
        longText[0] = 'A';
        script.systemTexts[77] = longText;
        const std::string text = TextFor(77, script);
        EXPECT_EQ(text, longText.substr(0, 511)) << length;
        EXPECT_EQ(fake::OutstandingAllocations(), 0) << length;
    }
}

TEST(SystemErrorText, TextIsNotAltered)
{
    fake::Script script = StandardScript();
    script.systemTexts[9] = "  Two\r\nlines %1 with inserts %% \r\n\r\n";
    EXPECT_EQ(TextFor(9, script), "  Two\r\nlines %1 with inserts %% \r\n\r\n");
}

}  // namespace
