#include "platform/tree_win32_text.h"

#include <cstdint>

namespace {

static_assert(sizeof(wchar_t) == 2, "Windows wide characters are UTF-16 units");

using Unit = std::uint32_t;

bool IsLeadSurrogate(Unit unit)
{
    return unit >= 0xD800 && unit <= 0xDBFF;
}

bool IsTrailSurrogate(Unit unit)
{
    return unit >= 0xDC00 && unit <= 0xDFFF;
}

void AppendWtf8(Unit codePoint, std::string* out)
{
    if (codePoint < 0x80) {
        out->push_back(static_cast<char>(codePoint));
    } else if (codePoint < 0x800) {
        out->push_back(static_cast<char>(0xC0 | (codePoint >> 6)));
        out->push_back(static_cast<char>(0x80 | (codePoint & 0x3F)));
    } else if (codePoint < 0x10000) {
        out->push_back(static_cast<char>(0xE0 | (codePoint >> 12)));
        out->push_back(static_cast<char>(0x80 | ((codePoint >> 6) & 0x3F)));
        out->push_back(static_cast<char>(0x80 | (codePoint & 0x3F)));
    } else {
        out->push_back(static_cast<char>(0xF0 | (codePoint >> 18)));
        out->push_back(static_cast<char>(0x80 | ((codePoint >> 12) & 0x3F)));
        out->push_back(static_cast<char>(0x80 | ((codePoint >> 6) & 0x3F)));
        out->push_back(static_cast<char>(0x80 | (codePoint & 0x3F)));
    }
}

void AppendUtf16(Unit codePoint, std::wstring* out)
{
    if (codePoint < 0x10000) {
        out->push_back(static_cast<wchar_t>(codePoint));
        return;
    }
    const Unit offset = codePoint - 0x10000;
    out->push_back(static_cast<wchar_t>(0xD800 | (offset >> 10)));
    out->push_back(static_cast<wchar_t>(0xDC00 | (offset & 0x3FF)));
}

// Reads one character at bytes[*at], in WTF-8 (surrogates allowed, each on
// its own). Returns false, leaving *at, when no valid character starts
// there.
bool DecodeOne(const unsigned char* bytes, std::size_t count, std::size_t* at, Unit* codePoint)
{
    const std::size_t i = *at;
    const Unit first = bytes[i];
    if (first < 0x80) {
        *codePoint = first;
        *at = i + 1;
        return true;
    }
    std::size_t length = 0;
    Unit value = 0;
    // The range the second byte must fall in rules out overlong forms and
    // code points above U+10FFFF in one test.
    Unit low = 0x80;
    Unit high = 0xBF;
    if (first >= 0xC2 && first <= 0xDF) {
        length = 2;
        value = first & 0x1F;
    } else if (first >= 0xE0 && first <= 0xEF) {
        length = 3;
        value = first & 0x0F;
        if (first == 0xE0)
            low = 0xA0;
    } else if (first >= 0xF0 && first <= 0xF4) {
        length = 4;
        value = first & 0x07;
        if (first == 0xF0)
            low = 0x90;
        if (first == 0xF4)
            high = 0x8F;
    } else {
        return false;
    }
    if (count - i < length)
        return false;
    for (std::size_t k = 1; k < length; ++k) {
        const Unit next = bytes[i + k];
        if (next < (k == 1 ? low : 0x80) || next > (k == 1 ? high : 0xBF))
            return false;
        value = (value << 6) | (next & 0x3F);
    }
    *codePoint = value;
    *at = i + length;
    return true;
}

}  // namespace

namespace wintext {

std::string Wtf8FromUtf16(const wchar_t* units, std::size_t count)
{
    std::string out;
    out.reserve(count);
    for (std::size_t i = 0; i < count; ++i) {
        const Unit unit = static_cast<std::uint16_t>(units[i]);
        if (IsLeadSurrogate(unit) && i + 1 < count &&
            IsTrailSurrogate(static_cast<std::uint16_t>(units[i + 1]))) {
            const Unit trail = static_cast<std::uint16_t>(units[i + 1]);
            AppendWtf8(0x10000 + ((unit - 0xD800) << 10) + (trail - 0xDC00), &out);
            ++i;
        } else {
            // Everything else, an unpaired surrogate included, is one code
            // point of at most three bytes.
            AppendWtf8(unit, &out);
        }
    }
    return out;
}

std::string Wtf8FromUtf16(const std::wstring& units)
{
    return Wtf8FromUtf16(units.data(), units.size());
}

bool Utf16FromWtf8(const std::string& bytes, std::wstring* units)
{
    const unsigned char* data = reinterpret_cast<const unsigned char*>(bytes.data());
    std::wstring out;
    out.reserve(bytes.size());
    bool afterLead = false;
    for (std::size_t at = 0; at < bytes.size();) {
        Unit codePoint = 0;
        if (!DecodeOne(data, bytes.size(), &at, &codePoint))
            return false;
        // A pair spelt as two surrogates has a form of its own (four
        // bytes): refuse this one.
        if (afterLead && IsTrailSurrogate(codePoint))
            return false;
        afterLead = IsLeadSurrogate(codePoint);
        AppendUtf16(codePoint, &out);
    }
    units->swap(out);
    return true;
}

std::wstring Utf16ForDisplay(const char* bytes, std::size_t count)
{
    const unsigned char* data = reinterpret_cast<const unsigned char*>(bytes);
    std::wstring out;
    out.reserve(count);
    for (std::size_t at = 0; at < count;) {
        Unit codePoint = 0;
        if (DecodeOne(data, count, &at, &codePoint)) {
            AppendUtf16(codePoint, &out);
        } else {
            out.push_back(static_cast<wchar_t>(0xFFFD));
            ++at;
        }
    }
    return out;
}

namespace {

const wchar_t kLongPrefix[] = L"\\\\?\\";
const wchar_t kLongUncPrefix[] = L"\\\\?\\UNC\\";

bool StartsWith(const std::wstring& text, const wchar_t* prefix)
{
    return text.compare(0, std::char_traits<wchar_t>::length(prefix), prefix) == 0;
}

bool IsDriveLetter(wchar_t c)
{
    return (c >= L'A' && c <= L'Z') || (c >= L'a' && c <= L'z');
}

}  // namespace

std::wstring LongPathFromAbsolute(const std::wstring& absolute)
{
    std::wstring path;
    if (StartsWith(absolute, kLongPrefix)) {
        path = absolute;
    } else if (StartsWith(absolute, L"\\\\.\\")) {
        path = kLongPrefix + absolute.substr(4);
    } else if (StartsWith(absolute, L"\\\\")) {
        path = kLongUncPrefix + absolute.substr(2);
    } else {
        path = kLongPrefix + absolute;
    }

    // \\?\C: and \\?\UNC\server\share name the volume and the share;
    // their root folders end in a backslash.
    if (StartsWith(path, kLongUncPrefix)) {
        const std::size_t server = std::char_traits<wchar_t>::length(kLongUncPrefix);
        const std::size_t share = path.find(L'\\', server);
        if (share != std::wstring::npos && share + 1 < path.size() &&
            path.find(L'\\', share + 1) == std::wstring::npos)
            path.push_back(L'\\');
    } else if (path.size() == 6 && IsDriveLetter(path[4]) && path[5] == L':') {
        path.push_back(L'\\');
    }
    return path;
}

std::wstring PlainPathFromLong(const std::wstring& longPath)
{
    if (StartsWith(longPath, kLongUncPrefix))
        return L"\\\\" + longPath.substr(std::char_traits<wchar_t>::length(kLongUncPrefix));
    if (StartsWith(longPath, kLongPrefix) && longPath.size() >= 6 && IsDriveLetter(longPath[4]) &&
        longPath[5] == L':')
        return longPath.substr(4);
    return longPath;
}

std::vector<std::wstring> SplitCommandLine(const wchar_t* commandLine)
{
    std::vector<std::wstring> arguments;
    const wchar_t* p = commandLine;

    // The program name is a file name: quotes only group, nothing escapes.
    std::wstring program;
    if (*p == L'"') {
        ++p;
        while (*p != L'\0' && *p != L'"')
            program.push_back(*p++);
        if (*p == L'"')
            ++p;
    } else {
        while (*p != L'\0' && *p != L' ' && *p != L'\t')
            program.push_back(*p++);
    }
    arguments.push_back(program);

    for (;;) {
        while (*p == L' ' || *p == L'\t')
            ++p;
        if (*p == L'\0')
            break;

        std::wstring argument;
        bool quoted = false;
        for (;;) {
            std::size_t backslashes = 0;
            while (*p == L'\\') {
                ++backslashes;
                ++p;
            }
            if (*p == L'"') {
                argument.append(backslashes / 2, L'\\');
                if (backslashes % 2 == 1) {
                    argument.push_back(L'"');
                    ++p;
                } else if (quoted && p[1] == L'"') {
                    argument.push_back(L'"');
                    p += 2;
                    quoted = false;
                } else {
                    quoted = !quoted;
                    ++p;
                }
                continue;
            }
            argument.append(backslashes, L'\\');
            if (*p == L'\0' || (!quoted && (*p == L' ' || *p == L'\t')))
                break;
            argument.push_back(*p++);
        }
        arguments.push_back(argument);
    }
    return arguments;
}

}  // namespace wintext
