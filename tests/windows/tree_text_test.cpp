// velmora-tree's Windows text edge: UTF-16 <-> WTF-8 and the command-line
// split. Runs on Windows (wine here): wchar_t is a UTF-16 unit, and the
// system's own UTF-8 conversion serves as a second opinion on valid text.
#include <windows.h>

#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "platform/tree_win32_text.h"

namespace {

std::wstring Units(std::initializer_list<std::uint16_t> units)
{
    std::wstring text;
    for (std::uint16_t unit : units)
        text.push_back(static_cast<wchar_t>(unit));
    return text;
}

std::string Hex(const std::string& bytes)
{
    std::string out;
    char buffer[4];
    for (unsigned char c : bytes) {
        std::snprintf(buffer, sizeof buffer, "%02X ", c);
        out += buffer;
    }
    return out;
}

std::string HexUnits(const std::wstring& units)
{
    std::string out;
    char buffer[8];
    for (wchar_t unit : units) {
        std::snprintf(buffer, sizeof buffer, "%04X ", static_cast<unsigned>(unit));
        out += buffer;
    }
    return out;
}

// What the system makes of valid UTF-16.
std::string SystemUtf8(const std::wstring& units)
{
    if (units.empty())
        return std::string();
    const int size = WideCharToMultiByte(CP_UTF8, 0, units.data(), static_cast<int>(units.size()),
                                         nullptr, 0, nullptr, nullptr);
    std::string out(static_cast<std::size_t>(size), '\0');
    WideCharToMultiByte(CP_UTF8, 0, units.data(), static_cast<int>(units.size()), &out[0], size,
                        nullptr, nullptr);
    return out;
}

struct Both {
    const char* label;
    std::wstring units;
    std::string bytes;
};

// Each row in both directions: units -> bytes and bytes -> units.
TEST(Wtf8, KnownFormsBothWays)
{
    const std::vector<Both> table = {
        {"empty", L"", ""},
        {"ASCII", L"Program Files", "Program Files"},
        {"U+0080, first of two bytes", Units({0x80}), "\xC2\x80"},
        {"U+07FF, last of two bytes", Units({0x7FF}), "\xDF\xBF"},
        {"U+0800, first of three bytes", Units({0x800}), "\xE0\xA0\x80"},
        {"Greek", Units({0x395, 0x3BB, 0x3BB, 0x3B7, 0x3BD, 0x3B9, 0x3BA, 0x3AC}),
         "\xCE\x95\xCE\xBB\xCE\xBB\xCE\xB7\xCE\xBD\xCE\xB9\xCE\xBA\xCE\xAC"},
        {"Japanese", Units({0x65E5, 0x672C, 0x8A9E}), "\xE6\x97\xA5\xE6\x9C\xAC\xE8\xAA\x9E"},
        {"U+FFFF", Units({0xFFFF}), "\xEF\xBF\xBF"},
        {"emoji U+1F600 as a pair", Units({0xD83D, 0xDE00}), "\xF0\x9F\x98\x80"},
        {"U+10000, first pair", Units({0xD800, 0xDC00}), "\xF0\x90\x80\x80"},
        {"U+10FFFF, last pair", Units({0xDBFF, 0xDFFF}), "\xF4\x8F\xBF\xBF"},
        {"lone lead surrogate", Units({0xD800}), "\xED\xA0\x80"},
        {"lone trail surrogate", Units({0xDFFF}), "\xED\xBF\xBF"},
        {"lead surrogate at the end", Units({'a', 0xD83D}), "a\xED\xA0\xBD"},
        {"trail surrogate first", Units({0xDE00, 'a'}), "\xED\xB8\x80" "a"},
        {"trail then lead: no pair", Units({0xDC00, 0xD800}), "\xED\xB0\x80\xED\xA0\x80"},
        {"two leads then a trail: the second pairs", Units({0xD83D, 0xD83D, 0xDE00}),
         "\xED\xA0\xBD\xF0\x9F\x98\x80"},
        {"NUL inside", Units({'a', 0, 'b'}), std::string("a\0b", 3)},
    };
    for (const Both& row : table) {
        SCOPED_TRACE(row.label);
        EXPECT_EQ(Hex(row.bytes), Hex(wintext::Wtf8FromUtf16(row.units)));
        std::wstring back = L"untouched";
        ASSERT_TRUE(wintext::Utf16FromWtf8(row.bytes, &back));
        EXPECT_EQ(HexUnits(row.units), HexUnits(back));
    }
}

// Every single unit, and every pair of units from the edges of each range,
// comes back as it went out: no two names share a WTF-8 form.
TEST(Wtf8, EveryUnitAndEdgePairRoundTrips)
{
    for (std::uint32_t unit = 0; unit <= 0xFFFF; ++unit) {
        const std::wstring units(1, static_cast<wchar_t>(unit));
        std::wstring back;
        ASSERT_TRUE(wintext::Utf16FromWtf8(wintext::Wtf8FromUtf16(units), &back)) << unit;
        ASSERT_EQ(units, back) << unit;
    }
    const std::uint16_t edges[] = {0x0000, 0x0041, 0x007F, 0x0080, 0x07FF, 0x0800, 0xD7FF,
                                   0xD800, 0xDBFF, 0xDC00, 0xDFFF, 0xE000, 0xFFFD, 0xFFFF};
    for (std::uint16_t a : edges) {
        for (std::uint16_t b : edges) {
            for (std::uint16_t c : edges) {
                const std::wstring units = Units({a, b, c});
                std::wstring back;
                ASSERT_TRUE(wintext::Utf16FromWtf8(wintext::Wtf8FromUtf16(units), &back))
                    << HexUnits(units);
                ASSERT_EQ(HexUnits(units), HexUnits(back));
            }
        }
    }
}

// Valid UTF-16 gives exactly the UTF-8 the system gives.
TEST(Wtf8, ValidTextMatchesTheSystem)
{
    for (std::uint32_t unit = 1; unit <= 0xFFFF; ++unit) {
        if (unit >= 0xD800 && unit <= 0xDFFF)
            continue;
        const std::wstring units(1, static_cast<wchar_t>(unit));
        ASSERT_EQ(Hex(SystemUtf8(units)), Hex(wintext::Wtf8FromUtf16(units))) << unit;
    }
    for (std::uint32_t lead = 0xD800; lead <= 0xDBFF; lead += 0x3F) {
        for (std::uint32_t trail = 0xDC00; trail <= 0xDFFF; trail += 0x3F) {
            const std::wstring units =
                Units({static_cast<std::uint16_t>(lead), static_cast<std::uint16_t>(trail)});
            ASSERT_EQ(Hex(SystemUtf8(units)), Hex(wintext::Wtf8FromUtf16(units)))
                << HexUnits(units);
        }
    }
}

TEST(Wtf8, RefusesWhatIsNotWtf8)
{
    const std::vector<std::pair<const char*, std::string>> table = {
        {"a lone continuation byte", "a\x80"},
        {"overlong NUL", std::string("\xC0\x80", 2)},
        {"overlong two bytes", "\xC1\xBF"},
        {"overlong three bytes", "\xE0\x9F\xBF"},
        {"overlong four bytes", "\xF0\x8F\xBF\xBF"},
        {"above U+10FFFF", "\xF4\x90\x80\x80"},
        {"F5 lead", "\xF5\x80\x80\x80"},
        {"FF", "\xFF"},
        {"cut two-byte character", "\xC3"},
        {"cut three-byte character", "\xE6\x97"},
        {"cut four-byte character", "\xF0\x9F\x98"},
        {"a continuation that is none", "\xC3("},
        {"a three-byte character broken in the middle", "\xE6(\xA5"},
        // Two strings for one name: the pair has its four-byte form only.
        {"a pair written as two surrogates", "\xED\xA0\xBD\xED\xB8\x80"},
    };
    for (const auto& row : table) {
        SCOPED_TRACE(row.first);
        std::wstring units = L"untouched";
        EXPECT_FALSE(wintext::Utf16FromWtf8(row.second, &units));
        EXPECT_EQ(L"untouched", units);
    }
}

TEST(Wtf8, DisplayReplacesOnlyWhatIsInvalid)
{
    const std::vector<std::pair<std::string, std::wstring>> table = {
        {"plain", L"plain"},
        {"\xE6\x97\xA5\xFF!", Units({0x65E5, 0xFFFD, '!'})},
        {"a\xC3", Units({'a', 0xFFFD})},
        {"\xF0\x9F\x98\x80\x80", Units({0xD83D, 0xDE00, 0xFFFD})},
        // An unpaired surrogate reaches the console as the unit it is.
        {"\xED\xA0\x80", Units({0xD800})},
    };
    for (const auto& row : table) {
        const std::wstring shown = wintext::Utf16ForDisplay(row.first.data(), row.first.size());
        EXPECT_EQ(HexUnits(row.second), HexUnits(shown)) << Hex(row.first);
    }
}

TEST(LongPath, FromAndBackToTheUsualForm)
{
    struct Row {
        const wchar_t* absolute;   // as GetFullPathNameW gives it, or typed with \\?\ .
        const wchar_t* longPath;
        const wchar_t* plain;      // PlainPathFromLong(longPath)
    };
    const std::vector<Row> table = {
        {L"C:\\dir\\sub", L"\\\\?\\C:\\dir\\sub", L"C:\\dir\\sub"},
        {L"C:\\", L"\\\\?\\C:\\", L"C:\\"},
        {L"c:\\dir\\", L"\\\\?\\c:\\dir\\", L"c:\\dir\\"},
        // A share's root gains the backslash that makes it the root folder.
        {L"\\\\server\\share", L"\\\\?\\UNC\\server\\share\\", L"\\\\server\\share\\"},
        {L"\\\\server\\share\\", L"\\\\?\\UNC\\server\\share\\", L"\\\\server\\share\\"},
        {L"\\\\server\\share\\dir", L"\\\\?\\UNC\\server\\share\\dir",
         L"\\\\server\\share\\dir"},
        {L"\\\\.\\C:\\dir", L"\\\\?\\C:\\dir", L"C:\\dir"},
        // Typed with the prefix: kept, a bare drive or share made its root.
        {L"\\\\?\\C:\\dir", L"\\\\?\\C:\\dir", L"C:\\dir"},
        {L"\\\\?\\D:", L"\\\\?\\D:\\", L"D:\\"},
        {L"\\\\?\\UNC\\server\\share", L"\\\\?\\UNC\\server\\share\\", L"\\\\server\\share\\"},
        {L"\\\\?\\UNC\\server", L"\\\\?\\UNC\\server", L"\\\\server"},
        // A volume name has no usual form.
        {L"\\\\?\\Volume{01234567-89ab-cdef-0123-456789abcdef}\\dir",
         L"\\\\?\\Volume{01234567-89ab-cdef-0123-456789abcdef}\\dir",
         L"\\\\?\\Volume{01234567-89ab-cdef-0123-456789abcdef}\\dir"},
    };
    for (const auto& row : table) {
        SCOPED_TRACE(wintext::Wtf8FromUtf16(row.absolute));
        const std::wstring longPath = wintext::LongPathFromAbsolute(row.absolute);
        EXPECT_EQ(std::wstring(row.longPath), longPath);
        EXPECT_EQ(std::wstring(row.plain), wintext::PlainPathFromLong(longPath));
    }
}

struct Split {
    const wchar_t* commandLine;
    std::vector<std::wstring> arguments;
};

TEST(CommandLine, SplitsAsMsvcrtDoes)
{
    const std::vector<Split> table = {
        // The examples of Microsoft's description of the rules.
        {L"p \"a b c\" d e", {L"p", L"a b c", L"d", L"e"}},
        {L"p \"ab\\\"c\" \"\\\\\" d", {L"p", L"ab\"c", L"\\", L"d"}},
        {L"p a\\\\\\b d\"e f\"g h", {L"p", L"a\\\\\\b", L"de fg", L"h"}},
        {L"p a\\\\\\\"b c d", {L"p", L"a\\\"b", L"c", L"d"}},
        {L"p a\\\\\\\\\"b c\" d e", {L"p", L"a\\\\b c", L"d", L"e"}},
        // Two quotes inside a quoted part: one quote, and the part ends.
        {L"p a\"b\"\" c d", {L"p", L"ab\"", L"c", L"d"}},
        {L"p \"a\"\"b\"", {L"p", L"a\"b"}},
        {L"p \"\"\"\"", {L"p", L"\""}},
        {L"p \"\"\"a b\"", {L"p", L"\"a", L"b"}},
        // Outside one, two quotes open and close an empty part.
        {L"p a\"\"b", {L"p", L"ab"}},
        {L"p \"\" \"\"", {L"p", L"", L""}},
        // Backslashes.
        {L"p \\\"", {L"p", L"\""}},
        {L"p \\\\", {L"p", L"\\\\"}},
        {L"p a\\", {L"p", L"a\\"}},
        {L"p \"a\\\\\" b", {L"p", L"a\\", L"b"}},
        {L"p \\\\\\\\\"", {L"p", L"\\\\"}},
        {L"p \"C:\\Program Files\\\\\"", {L"p", L"C:\\Program Files\\"}},
        {L"p \\\\server\\share\\x", {L"p", L"\\\\server\\share\\x"}},
        // Separators: spaces and tabs, any number, at either end.
        {L"p\ta\t\t b  ", {L"p", L"a", L"b"}},
        {L"p \"unclosed quote a", {L"p", L"unclosed quote a"}},
        // Characters beyond the ANSI code page pass as they are.
        {L"p \u65E5\u672C \"\u0395\u03BB \u03AC\" \U0001F600",
         {L"p", L"\u65E5\u672C", L"\u0395\u03BB \u03AC", L"\U0001F600"}},
        // The program name: a quoted one ends at the next quote, and
        // nothing in it escapes.
        {L"\"C:\\Program Files\\velmora-tree.exe\" save",
         {L"C:\\Program Files\\velmora-tree.exe", L"save"}},
        {L"\"C:\\a b\"c d", {L"C:\\a b", L"c", L"d"}},
        {L"\"C:\\dir\\\\\" x", {L"C:\\dir\\\\", L"x"}},
        {L"C:\\dir\\\"x y", {L"C:\\dir\\\"x", L"y"}},
        {L"\"unclosed program", {L"unclosed program"}},
        {L"prog", {L"prog"}},
        {L"", {L""}},
        {L" a", {L"", L"a"}},
    };
    for (const Split& row : table) {
        SCOPED_TRACE(wintext::Wtf8FromUtf16(row.commandLine));
        EXPECT_EQ(row.arguments, wintext::SplitCommandLine(row.commandLine));
    }
}

}  // namespace
