#include "names/shortnames.h"

#include <cstddef>
#include <cstring>

namespace shortnames {

namespace {

bool IsForbiddenInShortName(unsigned char c)
{
    if (c >= 0x80 || c < 0x20 || c == 0x7F || c == ' ')
        return true;
    return std::strchr("\"*+,/:;<=>?[\\]|", c) != nullptr;
}

unsigned char FoldAscii(unsigned char c)
{
    return (c >= 'A' && c <= 'Z') ? static_cast<unsigned char>(c - 'A' + 'a') : c;
}

}  // namespace

bool IsValidShortName(const char* name)
{
    if (name == nullptr)
        return false;
    std::size_t base = 0;
    std::size_t extension = 0;
    bool sawPeriod = false;
    for (const char* p = name; *p != '\0'; ++p) {
        const unsigned char c = static_cast<unsigned char>(*p);
        if (c == '.') {
            if (sawPeriod)
                return false;
            sawPeriod = true;
            continue;
        }
        if (IsForbiddenInShortName(c))
            return false;
        if (sawPeriod)
            ++extension;
        else
            ++base;
    }
    if (base < 1 || base > 8)
        return false;
    if (sawPeriod && (extension < 1 || extension > 3))
        return false;
    return true;
}

bool EqualIgnoringAsciiCase(const char* a, const char* b)
{
    for (; *a != '\0' && *b != '\0'; ++a, ++b) {
        if (FoldAscii(static_cast<unsigned char>(*a)) != FoldAscii(static_cast<unsigned char>(*b)))
            return false;
    }
    return *a == *b;
}

std::string UpperAscii(const std::string& name)
{
    std::string upper(name);
    for (char& c : upper) {
        if (c >= 'a' && c <= 'z')
            c = static_cast<char>(c - 'a' + 'A');
    }
    return upper;
}

}  // namespace shortnames
