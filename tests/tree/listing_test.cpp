// The listing format: what is escaped, what a reader refuses and on which
// line, and that every name a volume can hold comes back unchanged.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "tree/listing.h"

namespace {

using listing::Item;

struct EscapeCase {
    const char* label;
    std::string field;
    bool lastOnLine;
    std::string written;
};

const EscapeCase kEscapes[] = {
    {"plain", "Program Files", true, "Program Files"},
    {"UTF-8 stays as it is", "\xE6\x97\xA5\xE6\x9C\xAC \xCE\xB1 \xF0\x9F\x98\x80", true,
     "\xE6\x97\xA5\xE6\x9C\xAC \xCE\xB1 \xF0\x9F\x98\x80"},
    {"backslash", "a\\b", true, "a\\\\b"},
    {"tab, line feed, carriage return", "a\tb\nc\r", true, "a\\x09b\\x0Ac\\x0D"},
    {"other control characters", std::string("\x01\x1B\x7F", 3), true, "\\x01\\x1B\\x7F"},
    {"a byte of no UTF-8 sequence", "bad\xFF.txt", true, "bad\\xFF.txt"},
    {"a cut sequence", "cut\xC3", true, "cut\\xC3"},
    {"an overlong slash", "\xC0\xAF", true, "\\xC0\\xAF"},
    {"an unpaired surrogate's bytes", "s\xED\xA0\x80", true, "s\\xED\\xA0\\x80"},
    {"a blank at the end of the line", "trailing ", true, "trailing\\x20"},
    {"a blank at the end of a field that is not last", "SHORT ", false, "SHORT "},
    {"blanks inside", " a b ", false, " a b "},
};

TEST(Listing, EscapesWhatAnEditorOrTheLineFormatWouldLose)
{
    for (const EscapeCase& c : kEscapes)
        EXPECT_EQ(listing::Escape(c.field, c.lastOnLine), c.written) << c.label;
}

TEST(Listing, EveryNameComesBackUnchanged)
{
    std::vector<Item> items;
    for (const EscapeCase& c : kEscapes)
        items.push_back(Item{"folder/" + c.field, "SHORT~1", 0});
    items.push_back(Item{"x", "A\\B\tC", 0});
    std::string allBytes;
    for (int c = 1; c < 256; ++c) {
        if (c != '/')
            allBytes.push_back(static_cast<char>(c));
    }
    items.push_back(Item{allBytes, "ALL", 0});

    const std::string text = listing::Format(items);
    EXPECT_EQ(text.compare(0, 23, "velmora-tree listing 1\n"), 0);
    std::vector<Item> read;
    listing::ParseError error;
    ASSERT_TRUE(listing::Parse(text, &read, &error)) << error.line << ": " << error.problem;
    ASSERT_EQ(read.size(), items.size());
    for (std::size_t i = 0; i < items.size(); ++i) {
        EXPECT_EQ(read[i].path, items[i].path);
        EXPECT_EQ(read[i].shortName, items[i].shortName);
        EXPECT_EQ(read[i].line, i + 2);
    }
}

TEST(Listing, ReadsWhatEditorsWrite)
{
    const std::string text =
        "\xEF\xBB\xBFvelmora-tree listing 1\r\n"
        "PROGRA~1\tProgram Files\r\n"
        "\r\n"
        "MICROS~1\tProgram Files/Microsoft Office\\x20\r\n"
        "\n";
    std::vector<Item> read;
    listing::ParseError error;
    ASSERT_TRUE(listing::Parse(text, &read, &error)) << error.problem;
    ASSERT_EQ(read.size(), 2u);
    EXPECT_EQ(read[0].path, "Program Files");
    EXPECT_EQ(read[1].path, "Program Files/Microsoft Office ");
    EXPECT_EQ(read[1].line, 4u);
}

struct BadCase {
    const char* label;
    std::string text;
    std::size_t line;
    const char* problemStart;
};

const std::string kHead = "velmora-tree listing 1\n";

const BadCase kBad[] = {
    {"empty", "", 1, "not a velmora-tree listing"},
    {"another file", "# file: x\n", 1, "not a velmora-tree listing"},
    {"a later version", "velmora-tree listing 2\nA\tb\n", 1, "listing version \"2\""},
    {"no tab", kHead + "A\tb\nAB\n", 3, "expected a short name"},
    {"two tabs", kHead + "A\tb\tc\n", 2, "expected a short name"},
    {"an empty short name", kHead + "\tb\n", 2, "the short name is empty"},
    {"an empty path", kHead + "A\t\n", 2, "the path is empty"},
    {"an absolute path", kHead + "A\t/etc\n", 2, "the path must be relative"},
    {"a path leaving the folder", kHead + "A\tx/../../etc\n", 2, "the path must be relative"},
    {"a path with a period", kHead + "A\t./x\n", 2, "the path must be relative"},
    {"two slashes", kHead + "A\tx//y\n", 2, "the path must be relative"},
    {"a trailing slash", kHead + "A\tx/\n", 2, "the path must be relative"},
    {"a NUL byte", kHead + "A\tx\\x00y\n", 2, "the path holds a NUL byte"},
    {"an unknown escape", kHead + "A\tx\\ny\n", 2, "a backslash must begin"},
    {"a cut escape", kHead + "A\tx\\x4\n", 2, "a backslash must begin"},
    {"a raw control character", kHead + "A\tx\x01y\n", 2, "a control character"},
    {"Latin-1 bytes", kHead + "A\tcaf\xE9\n", 2, "the line is not valid UTF-8"},
    {"a path listed twice", kHead + "A\tx\nB\ty\nC\tx\n", 4, "the path is listed twice (first on line 2)"},
    {"three times", kHead + "A\tx\nB\tx\nC\tx\n", 3, "the path is listed twice (first on line 2)"},
    {"twice, then a malformed line", kHead + "A\tx\nB\tx\nbad\n", 3, "the path is listed twice"},
    {"a malformed line, then twice", kHead + "A\tx\nbad\nB\tx\n", 3, "expected a short name"},
};

TEST(Listing, RefusesAMalformedLineWithItsNumber)
{
    for (const BadCase& c : kBad) {
        std::vector<Item> read = {Item{"left over", "X", 9}};
        listing::ParseError error;
        EXPECT_FALSE(listing::Parse(c.text, &read, &error)) << c.label;
        EXPECT_EQ(error.line, c.line) << c.label;
        EXPECT_EQ(error.problem.compare(0, std::string(c.problemStart).size(), c.problemStart), 0)
            << c.label << ": " << error.problem;
        EXPECT_TRUE(read.empty()) << c.label;
    }
}

}  // namespace
