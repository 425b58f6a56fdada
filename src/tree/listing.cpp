#include "tree/listing.h"

#include <algorithm>
#include <utility>

namespace listing {

namespace {

constexpr char kHeaderStart[] = "velmora-tree listing ";
constexpr char kByteOrderMark[] = "\xEF\xBB\xBF";

// The length of the valid UTF-8 sequence at text[i], or 0 when the bytes
// there are none (an overlong form, a surrogate, a value above U+10FFFF, a
// cut sequence).
std::size_t Utf8SequenceLength(const std::string& text, std::size_t i)
{
    const unsigned char lead = static_cast<unsigned char>(text[i]);
    if (lead < 0x80)
        return 1;
    std::size_t length;
    unsigned char low = 0x80;
    unsigned char high = 0xBF;
    if (lead >= 0xC2 && lead <= 0xDF) {
        length = 2;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
        length = 3;
        if (lead == 0xE0)
            low = 0xA0;
        else if (lead == 0xED)
            high = 0x9F;
    } else if (lead >= 0xF0 && lead <= 0xF4) {
        length = 4;
        if (lead == 0xF0)
            low = 0x90;
        else if (lead == 0xF4)
            high = 0x8F;
    } else {
        return 0;
    }
    if (i + length > text.size())
        return 0;
    for (std::size_t k = 1; k < length; ++k) {
        const unsigned char c = static_cast<unsigned char>(text[i + k]);
        if (c < (k == 1 ? low : 0x80) || c > (k == 1 ? high : 0xBF))
            return 0;
    }
    return length;
}

bool IsControl(unsigned char c)
{
    return c < 0x20 || c == 0x7F;
}

void AppendHex(std::string* out, unsigned char c)
{
    static const char kDigits[] = "0123456789ABCDEF";
    out->append("\\x");
    out->push_back(kDigits[c >> 4]);
    out->push_back(kDigits[c & 0x0F]);
}

int HexValue(char c)
{
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    return -1;
}

// Undoes Escape. The field holds no raw control character and only valid
// UTF-8, as a listing must.
bool Unescape(const std::string& field, std::string* out, std::string* problem)
{
    out->clear();
    for (std::size_t i = 0; i < field.size();) {
        const unsigned char c = static_cast<unsigned char>(field[i]);
        if (IsControl(c)) {
            *problem = "a control character must be written as \\xHH";
            return false;
        }
        if (c == '\\') {
            if (i + 1 < field.size() && field[i + 1] == '\\') {
                out->push_back('\\');
                i += 2;
                continue;
            }
            if (i + 3 < field.size() && field[i + 1] == 'x' && HexValue(field[i + 2]) >= 0 &&
                HexValue(field[i + 3]) >= 0) {
                out->push_back(static_cast<char>(HexValue(field[i + 2]) * 16 + HexValue(field[i + 3])));
                i += 4;
                continue;
            }
            *problem = "a backslash must begin \\\\ or \\xHH";
            return false;
        }
        const std::size_t length = Utf8SequenceLength(field, i);
        if (length == 0) {
            *problem = "the line is not valid UTF-8 (write other bytes as \\xHH)";
            return false;
        }
        out->append(field, i, length);
        i += length;
    }
    return true;
}

bool CheckPath(const std::string& path, std::string* problem)
{
    if (path.empty()) {
        *problem = "the path is empty";
        return false;
    }
    if (path.find('\0') != std::string::npos) {
        *problem = "the path holds a NUL byte";
        return false;
    }
    std::size_t start = 0;
    for (;;) {
        const std::size_t end = path.find('/', start);
        const std::string name = path.substr(start, end == std::string::npos ? end : end - start);
        if (name.empty() || name == "." || name == "..") {
            *problem = "the path must be relative, with names (not \".\" or \"..\") between single slashes";
            return false;
        }
        if (end == std::string::npos)
            return true;
        start = end + 1;
    }
}

// A path on two lines: the second such line in the file is the one
// reported. Sorting keeps this a matter of neighbours.
bool FindPathListedTwice(const std::vector<Item>& items, ParseError* error)
{
    std::vector<std::pair<const std::string*, std::size_t>> paths;   // path, line
    paths.reserve(items.size());
    for (const Item& item : items)
        paths.emplace_back(&item.path, item.line);
    std::sort(paths.begin(), paths.end(),
              [](const std::pair<const std::string*, std::size_t>& a,
                 const std::pair<const std::string*, std::size_t>& b) {
                  return *a.first != *b.first ? *a.first < *b.first : a.second < b.second;
              });
    bool found = false;
    error->line = 0;
    for (std::size_t i = 1; i < paths.size(); ++i) {
        if (*paths[i].first != *paths[i - 1].first)
            continue;
        // The first line of this path is the run's first element.
        std::size_t first = i - 1;
        while (first > 0 && *paths[first - 1].first == *paths[i].first)
            --first;
        if (!found || paths[i].second < error->line) {
            error->line = paths[i].second;
            error->problem = "the path is listed twice (first on line " +
                             std::to_string(paths[first].second) + ")";
            found = true;
        }
    }
    return found;
}

// Refuses the listing at a malformed line, unless an earlier line listed a
// path twice: the first fault in the file is the one reported.
bool Refuse(std::vector<Item>* items, ParseError* error)
{
    ParseError duplicate;
    if (FindPathListedTwice(*items, &duplicate))
        *error = duplicate;
    items->clear();
    return false;
}

}  // namespace

std::string Escape(const std::string& field, bool lastOnLine)
{
    std::string out;
    out.reserve(field.size());
    for (std::size_t i = 0; i < field.size();) {
        const unsigned char c = static_cast<unsigned char>(field[i]);
        if (c == '\\') {
            out.append("\\\\");
            ++i;
            continue;
        }
        if (IsControl(c) || (lastOnLine && c == ' ' && i + 1 == field.size())) {
            AppendHex(&out, c);
            ++i;
            continue;
        }
        const std::size_t length = Utf8SequenceLength(field, i);
        if (length == 0) {
            AppendHex(&out, c);
            ++i;
            continue;
        }
        out.append(field, i, length);
        i += length;
    }
    return out;
}

std::string Format(const std::vector<Item>& items)
{
    std::string text(kHeader);
    text.push_back('\n');
    for (const Item& item : items) {
        text.append(Escape(item.shortName, false));
        text.push_back('\t');
        text.append(Escape(item.path, true));
        text.push_back('\n');
    }
    return text;
}

bool Parse(const std::string& text, std::vector<Item>* items, ParseError* error)
{
    items->clear();
    std::size_t position = 0;
    if (text.compare(0, 3, kByteOrderMark) == 0)
        position = 3;
    std::size_t lineNumber = 0;
    bool sawHeader = false;
    while (position < text.size()) {
        ++lineNumber;
        std::size_t end = text.find('\n', position);
        if (end == std::string::npos)
            end = text.size();
        std::string line = text.substr(position, end - position);
        position = end + 1;
        if (!line.empty() && line.back() == '\r')
            line.pop_back();

        error->line = lineNumber;
        if (!sawHeader) {
            if (line == kHeader) {
                sawHeader = true;
                continue;
            }
            if (line.compare(0, sizeof kHeaderStart - 1, kHeaderStart) == 0)
                error->problem = "listing version \"" + Escape(line.substr(sizeof kHeaderStart - 1), true) +
                                 "\" is not known to this velmora-tree, which reads version 1";
            else
                error->problem = "not a velmora-tree listing: the first line must be \"" +
                                 std::string(kHeader) + "\"";
            return Refuse(items, error);
        }
        if (line.empty())
            continue;

        const std::size_t tab = line.find('\t');
        if (tab == std::string::npos || line.find('\t', tab + 1) != std::string::npos) {
            error->problem = "expected a short name, one tab and a path";
            return Refuse(items, error);
        }
        Item item;
        item.line = lineNumber;
        if (!Unescape(line.substr(0, tab), &item.shortName, &error->problem) ||
            !Unescape(line.substr(tab + 1), &item.path, &error->problem)) {
            return Refuse(items, error);
        }
        if (item.shortName.empty() || item.shortName.find('\0') != std::string::npos) {
            error->problem = "the short name is empty or holds a NUL byte";
            return Refuse(items, error);
        }
        if (!CheckPath(item.path, &error->problem)) {
            return Refuse(items, error);
        }
        items->push_back(item);
    }
    if (!sawHeader) {
        error->line = lineNumber == 0 ? 1 : lineNumber;
        error->problem = "not a velmora-tree listing: the file is empty";
        return false;
    }
    ParseError duplicate;
    if (FindPathListedTwice(*items, &duplicate)) {
        *error = duplicate;
        items->clear();
        return false;
    }
    return true;
}

}  // namespace listing
