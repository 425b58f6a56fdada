#include "tree/plan.h"

#include <cstdio>
#include <unordered_map>

#include "names/shortnames.h"

namespace plan {

namespace {

using shortnames::UpperAscii;

constexpr std::size_t kNone = static_cast<std::size_t>(-1);

using NameIndex = std::unordered_map<std::string, std::vector<std::size_t>>;

// A name no entry answers to and no step takes.
std::string FreeTemporaryName(const NameIndex& longNames, const NameIndex& shortNames,
                              const std::unordered_map<std::string, std::size_t>& targets,
                              unsigned* counter)
{
    for (;;) {
        // A folder holds fewer entries than there are numbers, so one is free.
        char name[24];
        std::snprintf(name, sizeof name, "%s%06u%s", kTemporaryPrefix, ++*counter,
                      kTemporaryExtension);
        std::string key(name);
        if (longNames.count(key) == 0 && shortNames.count(key) == 0 && targets.count(key) == 0)
            return key;
    }
}

}  // namespace

Plan MakePlan(const std::vector<Current>& entries, const std::vector<Wanted>& wanted)
{
    Plan result;
    result.decisions.assign(wanted.size(), Decision{Verdict::done, Reason::none, kNone});

    NameIndex longNames;
    NameIndex shortNames;
    std::vector<std::string> currentShort(entries.size());
    for (std::size_t e = 0; e < entries.size(); ++e) {
        longNames[UpperAscii(entries[e].name)].push_back(e);
        if (!entries[e].shortName.empty()) {
            currentShort[e] = UpperAscii(entries[e].shortName);
            shortNames[currentShort[e]].push_back(e);
        }
    }

    // Which entries are to move, and where to.
    std::vector<std::size_t> moverOf(entries.size(), kNone);   // entry -> index into wanted
    std::vector<std::string> target(wanted.size());
    for (std::size_t k = 0; k < wanted.size(); ++k) {
        const std::size_t e = wanted[k].entry;
        if (e >= entries.size() || moverOf[e] != kNone)
            continue;   // not an entry, or the entry's second wish: left as done
        if (!shortnames::IsValidShortName(wanted[k].shortName.c_str())) {
            result.decisions[k].verdict = Verdict::invalid;
            continue;
        }
        target[k] = UpperAscii(wanted[k].shortName);
        const bool answers = currentShort[e].empty() ? UpperAscii(entries[e].name) == target[k]
                                                     : currentShort[e] == target[k];
        if (answers)
            continue;
        result.decisions[k].verdict = Verdict::change;
        moverOf[e] = k;
    }

    auto conflict = [&](std::size_t k, Reason reason, std::size_t holder) {
        result.decisions[k] = Decision{Verdict::conflict, reason, holder};
        moverOf[wanted[k].entry] = kNone;
    };

    // One name recorded for two entries: neither gets it.
    std::unordered_map<std::string, std::size_t> firstWith;
    for (std::size_t k = 0; k < wanted.size(); ++k) {
        if (result.decisions[k].verdict != Verdict::change)
            continue;
        const auto inserted = firstWith.emplace(target[k], k);
        if (inserted.second)
            continue;
        const std::size_t other = inserted.first->second;
        conflict(k, Reason::recordedTwice, wanted[other].entry);
        if (result.decisions[other].verdict == Verdict::change)
            conflict(other, Reason::recordedTwice, wanted[k].entry);
    }

    // A name that stays with another entry cannot be taken. An entry that
    // is refused keeps its own short name, which may refuse another one in
    // turn: repeat until nothing changes.
    for (bool again = true; again;) {
        again = false;
        for (std::size_t k = 0; k < wanted.size(); ++k) {
            if (result.decisions[k].verdict != Verdict::change)
                continue;
            const std::size_t e = wanted[k].entry;
            const auto byLong = longNames.find(target[k]);
            if (byLong != longNames.end()) {
                for (std::size_t holder : byLong->second) {
                    if (holder != e) {
                        conflict(k, Reason::longName, holder);
                        again = true;
                        break;
                    }
                }
                if (result.decisions[k].verdict != Verdict::change)
                    continue;
            }
            const auto byShort = shortNames.find(target[k]);
            if (byShort == shortNames.end())
                continue;
            for (std::size_t holder : byShort->second) {
                if (holder != e && moverOf[holder] == kNone) {
                    conflict(k, Reason::keptShortName, holder);
                    again = true;
                    break;
                }
            }
        }
    }

    // Order: an entry waits for the mover that holds its target now.
    std::unordered_map<std::string, std::size_t> targets;   // target -> entry
    for (std::size_t k = 0; k < wanted.size(); ++k) {
        if (result.decisions[k].verdict == Verdict::change)
            targets[target[k]] = wanted[k].entry;
    }
    std::vector<std::size_t> waitsFor(entries.size(), kNone);
    std::vector<std::size_t> freedFor(entries.size(), kNone);   // who takes e's name
    for (std::size_t e = 0; e < entries.size(); ++e) {
        if (moverOf[e] == kNone)
            continue;
        const auto byShort = shortNames.find(target[moverOf[e]]);
        if (byShort == shortNames.end())
            continue;
        for (std::size_t holder : byShort->second) {
            if (holder != e && moverOf[holder] != kNone) {
                waitsFor[e] = holder;
                freedFor[holder] = e;
            }
        }
    }

    std::vector<bool> placed(entries.size(), false);
    std::size_t chain = 0;
    auto addStep = [&](std::size_t e, const std::string& to, bool temporary, const std::string& from) {
        result.steps.push_back(Step{e, from, to, temporary, chain});
        placed[e] = true;
    };
    // Chains first: each starts with a move to a free name.
    for (std::size_t e = 0; e < entries.size(); ++e) {
        if (moverOf[e] == kNone || waitsFor[e] != kNone)
            continue;
        for (std::size_t x = e; x != kNone && !placed[x]; x = freedFor[x])
            addStep(x, target[moverOf[x]], false, entries[x].shortName);
        ++chain;
    }
    // What is left are cycles: one entry steps aside to a temporary name.
    unsigned counter = 0;
    for (std::size_t e = 0; e < entries.size(); ++e) {
        if (moverOf[e] == kNone || placed[e])
            continue;
        const std::string temporary = FreeTemporaryName(longNames, shortNames, targets, &counter);
        addStep(e, temporary, true, entries[e].shortName);
        for (std::size_t x = freedFor[e]; x != kNone && x != e; x = freedFor[x])
            addStep(x, target[moverOf[x]], false, entries[x].shortName);
        addStep(e, target[moverOf[e]], false, temporary);
        ++chain;
    }
    return result;
}

}  // namespace plan
