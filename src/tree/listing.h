// The listing: the short names of a tree, as velmora-tree saves them and
// reads them back. A UTF-8 text file:
//
//   velmora-tree listing 1
//   MICROS~1<TAB>Program Files/Microsoft Office
//
// The first line names the format and its version. Then one item a line:
// its short name, a tab, and its path relative to the folder saved, names
// joined by '/'. In both fields a backslash and every byte that is not
// printable UTF-8 (control characters, bytes of no valid UTF-8 sequence, an
// unpaired surrogate's bytes) are written as \\ and \xHH, and so is a blank
// at the end of a line, which editors like to drop. Readers accept CR LF
// line ends, a UTF-8 byte-order mark and empty lines.
#ifndef VELMORA_TREE_LISTING_H
#define VELMORA_TREE_LISTING_H

#include <cstddef>
#include <string>
#include <vector>

namespace listing {

constexpr char kHeader[] = "velmora-tree listing 1";

struct Item {
    std::string path;        // relative, names joined by '/', unescaped
    std::string shortName;   // as recorded, unescaped
    std::size_t line;        // where it was read (0 for items not read)
};

// The escaped form of a field, as it is written in a listing.
std::string Escape(const std::string& field, bool lastOnLine);

// The whole listing for `items`, in their order.
std::string Format(const std::vector<Item>& items);

struct ParseError {
    std::size_t line;
    std::string problem;
};

// Reads and checks a whole listing. On failure, *error says which line is
// wrong and why, and *items is left empty.
bool Parse(const std::string& text, std::vector<Item>* items, ParseError* error);

}  // namespace listing

#endif
