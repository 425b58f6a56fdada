// A scripted velmora-tree platform: a tree kept in memory, with failures on
// demand, so that the commands' reports can be checked for what no real
// volume does when asked (an undo that fails, a privilege refused).
#ifndef VELMORA_FAKE_TREE_PLATFORM_H
#define VELMORA_FAKE_TREE_PLATFORM_H

#include <cstdint>
#include <map>
#include <string>
#include <vector>

namespace faketree {

struct Item {
    std::string shortName;
    bool folder;
};

struct State {
    std::string root = "R";                    // the one FOLDER that exists
    std::map<std::string, Item> items;         // by path below the root
    std::map<std::string, std::string> files;  // listings, by name ("-": standard input)
    // A change of `path` to `name` fails with the number: "path>NAME".
    std::map<std::string, std::uint32_t> failures;
    std::uint32_t volumeError = 0;             // what CheckVolume answers
    std::uint32_t privilegeError = 0;
    std::vector<std::string> changes;          // "path>NAME", in order
    std::string out;
    std::string err;
};

extern State state;

void Reset();

}  // namespace faketree

#endif
