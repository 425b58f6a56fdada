// The plan for one folder: which entry gets which short name, in which
// order, so that no two entries of the folder ever answer to the same name.
// Pure: it takes the folder's names as read and the names recorded for some
// of its entries, and asks the system nothing.
//
// Every name is compared with ASCII letter case ignored, as NTFS looks
// names up. An entry answers to its long name and to its short name.
#ifndef VELMORA_TREE_PLAN_H
#define VELMORA_TREE_PLAN_H

#include <cstddef>
#include <string>
#include <vector>

namespace plan {

struct Current {
    std::string name;        // long name
    std::string shortName;   // empty when it has none
};

// A recorded name for entry `entry` (an index into the folder's entries).
struct Wanted {
    std::size_t entry;
    std::string shortName;
};

enum class Verdict {
    done,        // the entry answers to the name already
    change,      // steps below give it the name
    invalid,     // not a valid 8.3 name
    conflict,    // the name stays where it is; see holder and reason
};

enum class Reason {
    none,
    longName,         // the name is the long name of `holder`
    keptShortName,    // the short name of `holder`, which keeps it
    recordedTwice,    // recorded for `holder` as well
};

struct Decision {
    Verdict verdict;
    Reason reason;
    std::size_t holder;      // an entry index, for a conflict
};

// One change. Steps of one chain depend on each other: each frees the name
// the next one takes. A cycle starts by moving one entry to a temporary
// name and ends by giving it its own.
struct Step {
    std::size_t entry;
    std::string from;        // the short name before the step (may be empty)
    std::string to;
    bool temporary;          // `to` is a temporary name
    std::size_t chain;
};

struct Plan {
    std::vector<Decision> decisions;   // one for each Wanted, in its order
    std::vector<Step> steps;           // in the order to carry them out
};

// Temporary names look like VT000001.$$$, with the lowest number that
// makes them free in the folder.
constexpr char kTemporaryPrefix[] = "VT";
constexpr char kTemporaryExtension[] = ".$$$";

Plan MakePlan(const std::vector<Current>& entries, const std::vector<Wanted>& wanted);

}  // namespace plan

#endif
