// libFuzzer target for velmora-tree's pure logic.
//
// The input is read twice. As a listing: whatever it holds, the reader must
// not crash, and a listing it accepts must come back unchanged when written
// and read again. As a folder: bytes pick entries' long and short names and
// recorded names from a small pool (so that clashes, swaps and cycles are
// common); the plan is then carried out on a model of the folder, which
// must never hold two entries answering to one name, and must end with
// every change made and nothing else changed.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "names/shortnames.h"
#include "tree/listing.h"
#include "tree/plan.h"

namespace {

void Require(bool condition, const char* what)
{
    if (!condition) {
        std::fprintf(stderr, "broken promise: %s\n", what);
        std::abort();
    }
}

void CheckListing(const std::string& text)
{
    std::vector<listing::Item> items;
    listing::ParseError error;
    if (!listing::Parse(text, &items, &error)) {
        Require(items.empty(), "a refused listing leaves no items");
        Require(error.line >= 1, "a refusal names a line");
        return;
    }
    std::vector<listing::Item> again;
    Require(listing::Parse(listing::Format(items), &again, &error), "a written listing reads");
    Require(again.size() == items.size(), "as many items come back");
    for (std::size_t i = 0; i < items.size(); ++i) {
        Require(again[i].path == items[i].path, "every path comes back");
        Require(again[i].shortName == items[i].shortName, "every short name comes back");
    }
}

void CheckUnique(const std::vector<plan::Current>& folder)
{
    std::set<std::string> names;
    for (const plan::Current& entry : folder) {
        std::set<std::string> own = {shortnames::UpperAscii(entry.name)};
        if (!entry.shortName.empty())
            own.insert(shortnames::UpperAscii(entry.shortName));
        for (const std::string& name : own)
            Require(names.insert(name).second, "no two entries answer to one name");
    }
}

void CheckPlan(const std::uint8_t* data, std::size_t size)
{
    static const char* const kPool[] = {"A", "b", "LONG~1", "long~2", "LONG~3", "X.TXT",
                                        "x.txt", "VT000001.$$$", "VT000002.$$$", "BAD NAME",
                                        "TOOLONGNAME", "C"};
    constexpr std::size_t kPoolSize = sizeof kPool / sizeof kPool[0];
    std::vector<plan::Current> folder;
    std::set<std::string> taken;
    std::size_t at = 0;
    const std::size_t entries = size > 0 ? data[at++] % 12 : 0;
    for (std::size_t e = 0; e < entries && at + 1 < size; ++e, at += 2) {
        const std::uint8_t pick = data[at];
        // Long names: mostly unique ones, sometimes one from the pool.
        std::string name = pick & 0x80 ? kPool[pick % kPoolSize] : "entry " + std::to_string(e);
        std::string shortName = data[at + 1] & 0x80 ? "" : kPool[data[at + 1] % kPoolSize];
        if (taken.count(shortnames::UpperAscii(name)) != 0)
            name = "entry " + std::to_string(e);
        if (!shortName.empty() && (!shortnames::IsValidShortName(shortName.c_str()) ||
                                   taken.count(shortnames::UpperAscii(shortName)) != 0 ||
                                   shortnames::UpperAscii(shortName) == shortnames::UpperAscii(name)))
            shortName.clear();
        taken.insert(shortnames::UpperAscii(name));
        if (!shortName.empty())
            taken.insert(shortnames::UpperAscii(shortName));
        folder.push_back(plan::Current{name, shortName});
    }
    CheckUnique(folder);
    std::vector<plan::Wanted> wanted;
    std::set<std::size_t> listed;
    for (; at + 1 < size && !folder.empty(); at += 2) {
        const std::size_t entry = data[at] % folder.size();
        if (!listed.insert(entry).second)
            continue;
        wanted.push_back(plan::Wanted{entry, kPool[data[at + 1] % kPoolSize]});
    }

    const plan::Plan made = plan::MakePlan(folder, wanted);
    Require(made.decisions.size() == wanted.size(), "one decision for each recorded name");
    std::vector<plan::Current> state = folder;
    for (const plan::Step& step : made.steps) {
        Require(step.entry < state.size(), "a step names an entry");
        Require(state[step.entry].shortName == step.from, "a step starts from the name held");
        Require(shortnames::IsValidShortName(step.to.c_str()), "every name set is valid");
        state[step.entry].shortName = step.to;
        CheckUnique(state);
    }
    for (std::size_t k = 0; k < wanted.size(); ++k) {
        const std::size_t e = wanted[k].entry;
        if (made.decisions[k].verdict == plan::Verdict::change)
            Require(state[e].shortName == shortnames::UpperAscii(wanted[k].shortName),
                    "a change ends with the recorded name");
        else
            Require(state[e].shortName == folder[e].shortName, "what is not changed stays");
    }
    for (std::size_t e = 0; e < folder.size(); ++e) {
        if (listed.count(e) == 0)
            Require(state[e].shortName == folder[e].shortName, "an entry not listed stays");
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    CheckListing(std::string(reinterpret_cast<const char*>(data), size));
    CheckPlan(data, size);
    return 0;
}
